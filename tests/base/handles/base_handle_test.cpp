// The handle classes and the call discipline: busy handles, entrance and
// exit, connection-wide checks, record arrays and object lifetimes.
#include "tests/base/base_test_support.h"

#include "util/os/zizdata.h"

#include <gtest/gtest.h>

#include <new>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

namespace {

class HandleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = new BaseEnv(1);
    connection_ = new UnitConnection(env_);
    statement_ = new UnitStatement(connection_);
  }
  void TearDown() override {
    delete connection_;  // takes its statements with it
    delete env_;
  }
  BaseEnv* env_ = nullptr;
  UnitConnection* connection_ = nullptr;
  UnitStatement* statement_ = nullptr;
};

TEST_F(HandleTest, BusyHandleAnswers9999AndKeepsItsErrors) {
  connection_->threadCheck(checkConnection);
  KvErrorKeeper::setErrorList(&connection_->getErrorList());
  addOdbcError(stateCursorState);
  KvErrorKeeper::giveUpErrorList();
  char value[32];
  SQLSMALLINT length;
  EXPECT_EQ(connection_->SQLGetInfo(SQL_DBMS_NAME, value, sizeof(value), &length), SQL_HANDLE_BUSY);
  EXPECT_EQ(connection_->getErrorList().getCount(), 1u);
  connection_->threadDone();
  EXPECT_EQ(connection_->SQLGetInfo(SQL_DBMS_NAME, value, sizeof(value), &length), SQL_SUCCESS);
  EXPECT_EQ(connection_->getErrorList().getCount(), 0u) << "entrance empties the list";
}

TEST_F(HandleTest, ExitTurnsSuccessIntoInfoOnlyForWarnings) {
  struct Case {
    void (*post)();
    SQLRETURN in, out;
  } cases[] = {
      {[] {}, SQL_SUCCESS, SQL_SUCCESS},
      {[] { addOdbcWarning(stateTruncated); }, SQL_SUCCESS, SQL_SUCCESS_WITH_INFO},
      {[] { addOdbcError(stateCursorState); }, SQL_SUCCESS, SQL_SUCCESS},
      {[] {
         addOdbcWarning(stateTruncated);
         addOdbcError(stateCursorState);
       },
       SQL_SUCCESS, SQL_SUCCESS},
      {[] { addOdbcWarning(stateTruncated); }, SQL_ERROR, SQL_ERROR},
      {[] { addOdbcWarning(stateTruncated); }, SQL_NO_DATA_FOUND, SQL_NO_DATA_FOUND},
  };
  for (const Case& c : cases) {
    BaseCall call(statement_, 0);
    ASSERT_TRUE(call.isOpen());
    c.post();
    EXPECT_EQ(call.exit(c.in), c.out);
    EXPECT_EQ(statement_->getFlags() & BaseStatement::flagBusy, 0u);
    EXPECT_EQ(KvErrorKeeper::getErrorList(), nullptr);
  }
}

TEST_F(HandleTest, CallOnABusyHandleStaysClosed) {
  ASSERT_EQ(connection_->threadCheck(checkConnection), 0);
  {
    BaseCall call(connection_, 0);
    EXPECT_FALSE(call.isOpen());
    EXPECT_EQ(call.getResult(), SQL_HANDLE_BUSY);
    EXPECT_EQ(KvErrorKeeper::getErrorList(), nullptr) << "no list was touched";
  }
  EXPECT_NE(connection_->getFlags() & BaseConnection::flagBusy, 0u) << "the other call still holds it";
  connection_->threadDone();
}

TEST_F(HandleTest, CallLeftByAnExceptionFreesTheHandle) {
  try {
    BaseCall call(connection_, 0, checkConnectionAndStatements);
    ASSERT_TRUE(call.isOpen());
    addOdbcWarning(stateTruncated);
    throw std::bad_alloc();
  } catch (const std::bad_alloc&) {
  }
  EXPECT_EQ(connection_->getFlags() & BaseConnection::flagBusy, 0u);
  EXPECT_EQ(statement_->getFlags() & BaseStatement::flagBusy, 0u) << "the statements are released too";
  EXPECT_EQ(KvErrorKeeper::getErrorList(), nullptr);
  EXPECT_EQ(connection_->getErrorList().getCount(), 1u) << "what the work posted stays";
}

TEST_F(HandleTest, StatementCallsWaitForAConnectionWideCall) {
  ASSERT_EQ(connection_->threadCheck(checkConnectionAndStatements), 0);
  SQLLEN rows = 0;
  EXPECT_EQ(statement_->SQLRowCount(&rows), SQL_HANDLE_BUSY);
  EXPECT_EQ(statement_->getErrorList().getCount(), 0u);
  connection_->threadDone();
  EXPECT_EQ(statement_->threadCheck(), 0) << "the statements are released with the connection";
  // A busy statement makes a connection-wide check fail, and only that.
  EXPECT_EQ(connection_->threadCheck(checkConnectionAndStatements), 1);
  EXPECT_EQ(connection_->threadCheck(checkConnection), 0);
  connection_->threadDone();
  statement_->threadDone();
}

TEST_F(HandleTest, SqlTransactRefusedWhileAStatementIsInACall) {
  statement_->threadCheck();
  EXPECT_EQ(connection_->SQLTransact(SQL_COMMIT), SQL_HANDLE_BUSY);
  statement_->threadDone();
  EXPECT_EQ(connection_->SQLTransact(SQL_COMMIT), SQL_SUCCESS);
}

TEST_F(HandleTest, DropWaitsForItsConnection) {
  ASSERT_EQ(connection_->threadCheck(checkConnection), 0);  // another thread is inside a call
  EXPECT_EQ(statement_->SQLFreeStmt(SQL_DROP), SQL_HANDLE_BUSY);
  EXPECT_EQ(connection_->getStatements().getCount(), 1u) << "the statement is still there";
  EXPECT_EQ(statement_->getFlags() & BaseStatement::flagBusy, 0u) << "and not left busy";
  connection_->threadDone();
  EXPECT_EQ(statement_->SQLFreeStmt(SQL_DROP), SQL_SUCCESS);
  EXPECT_EQ(connection_->getStatements().getCount(), 0u);
  statement_ = nullptr;
}

TEST_F(HandleTest, RecordArraysGrowUpTo16384) {
  KvErrorKeeper::setErrorList(&statement_->getErrorList());
  EXPECT_EQ(statement_->allocArrays(0, arrayParams), kvSuccess);
  EXPECT_EQ(statement_->getParamCapacity(), 0);
  EXPECT_EQ(statement_->allocArrays(16384, arrayParams), kvSuccess);
  EXPECT_EQ(statement_->getParamCapacity(), 16384);
  EXPECT_EQ(statement_->allocArrays(10, arrayParams | arrayFields), kvSuccess);
  EXPECT_EQ(statement_->getParamCapacity(), 16384) << "arrays never shrink";
  EXPECT_EQ(statement_->getFieldCapacity(), 10);
  for (uint16_t i = 0; i < 10; ++i) EXPECT_EQ(statement_->getFields()[i], nullptr);
  struct Case {
    uint16_t which;
    const char* text;
  } cases[] = {
      {arrayParams, "16385 is greater that the number of parameters allowed, 16384."},
      {arrayBindings, "16385 is greater that the number of bound columns allowed, 16384."},
      {arrayFields, "16385 is greater that the number of columns allowed, 16384."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(statement_->allocArrays(16385, c.which), kvFailure);
    UnitDiagnostic d = nextDiagnostic(statement_->getErrorList());
    EXPECT_EQ(d.state, "S1002");
    EXPECT_EQ(d.text, std::string("[KESTRANE][ODBC Unit driver]") + c.text);
  }
  KvErrorKeeper::giveUpErrorList();
}

TEST_F(HandleTest, LifetimesAndCounts) {
  EXPECT_EQ(env_->getConnectionCount(), 1u);
  EXPECT_EQ(connection_->getStatements().getCount(), 1u);
  auto* second = new UnitStatement(connection_);
  EXPECT_EQ(connection_->getStatements().getCount(), 2u);
  delete second;
  EXPECT_EQ(connection_->getStatements().getCount(), 1u);
  EXPECT_EQ(connection_->getStatements().peekFirst(), statement_);
  auto* other = new UnitConnection(env_);
  EXPECT_EQ(env_->getConnectionCount(), 2u);
  delete other;
  EXPECT_EQ(env_->getConnectionCount(), 1u);
}

TEST(Environment, CountsLiveEnvironments) {
  uint32_t before = baseLiveEnvironments();
  auto* a = new BaseEnv(1);
  auto* b = new BaseEnv(2);
  EXPECT_EQ(baseLiveEnvironments(), before + 2);
  EXPECT_EQ(b->getDriverNumber(), 2u);
  EXPECT_EQ(a->threadCheck(), 0);
  EXPECT_EQ(a->threadCheck(), 1);
  a->threadDone();
  delete a;
  delete b;
  EXPECT_EQ(baseLiveEnvironments(), before);
}

#if defined(__SANITIZE_ADDRESS__)
// Under AddressSanitizer a freed environment's fields are poisoned, so a
// call that reaches a freed environment (a connection outliving it) is
// reported rather than counting in memory that belongs to someone else.
TEST(Environment, FreedEnvironmentIsPoisoned) {
  auto* keep = new BaseEnv(1);  // keeps the allocator's segment in use
  auto* env = new BaseEnv(2);
  auto* bytes = reinterpret_cast<char*>(env);
  delete env;
  EXPECT_NE(__asan_region_is_poisoned(bytes + 16, sizeof(BaseEnv) - 16), nullptr);
  delete keep;
}
#endif

}  // namespace
