// The handle classes and the call discipline: busy handles, entrance and
// exit, connection-wide checks, record arrays and object lifetimes.
#include "tests/base/base_test_support.h"

#include "util/os/zizdata.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <thread>

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
    EXPECT_FALSE(statement_->isBusy());
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
  EXPECT_FALSE(statement_->isBusy()) << "the statements are released too";
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

// Threads: a call of another thread waits for the connection (or the
// environment); a second thread on a busy statement is refused with S1010,
// which only that thread's SQLError hands out; SQLCancel from another thread
// reaches the running call's abort poll and turns its failure into S1008.

TEST_F(HandleTest, CallsOfAnotherThreadWaitForTheHandle) {
  struct Case {
    const char* name;
    std::function<BaseCall*()> hold;   // this thread's call, left open
    std::function<SQLRETURN()> other;  // the other thread's call
  } cases[] = {
      {"connection", [&] { return new BaseCall(connection_, 0); },
       [&] {
         SQLSMALLINT length = 0;
         char value[32];
         return connection_->SQLGetInfo(SQL_DBMS_NAME, value, sizeof(value), &length);
       }},
      {"statement of the connection", [&] { return new BaseCall(connection_, 0); },
       [&] {
         SQLLEN rows = 0;
         return statement_->SQLRowCount(&rows);
       }},
      {"another statement's call", [&] { return new BaseCall(statement_, 0); },
       [&] { return connection_->SQLTransact(SQL_COMMIT); }},
      {"environment", [&] { return new BaseCall(env_, SQL_API_SQLALLOCCONNECT); },
       [&] {
         BaseCall call(env_, SQL_API_SQLALLOCCONNECT);
         return call.isOpen() ? call.exit(SQL_SUCCESS) : call.getResult();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<BaseCall> held(c.hold());
    ASSERT_TRUE(held->isOpen());
    std::atomic<bool> released{false};
    std::atomic<bool> sawRelease{false};
    SQLRETURN result = SQL_ERROR;
    std::thread other([&] {
      result = c.other();
      sawRelease = released.load();
    });
    // Time for the other thread to reach the lock; its result does not
    // depend on it.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    released = true;
    held->exit(SQL_SUCCESS);
    held.reset();
    other.join();
    EXPECT_EQ(result, SQL_SUCCESS);
    EXPECT_TRUE(sawRelease) << "the other call ran only after this one ended";
  }
}

TEST_F(HandleTest, SecondThreadOnABusyStatementIsRefusedWithS1010) {
  BaseCall running(statement_, SQL_API_SQLEXECDIRECT);
  ASSERT_TRUE(running.isOpen());
  addOdbcWarning(stateTruncated);  // the running call's own diagnostic
  std::string states;
  std::thread other([&] {
    SQLLEN rows = 0;
    states += statement_->SQLRowCount(&rows) == SQL_ERROR ? "error" : "other";
    SQLCHAR state[6] = {0};
    for (int i = 0; i < 3; ++i) {
      int handled = 0;
      const SQLRETURN r = baseHandOutRefusal(statement_, connection_, state, nullptr, nullptr, 0, nullptr, &handled);
      states += handled ? (r == SQL_SUCCESS ? std::string(" ") + reinterpret_cast<char*>(state) : " none") : " -";
    }
  });
  other.join();
  EXPECT_EQ(states, "error S1010 none -") << "S1010 once, then no more, then the handle's own list";
  EXPECT_EQ(statement_->getErrorList().getCount(), 1u) << "the running call's list is untouched";
  EXPECT_EQ(running.exit(SQL_SUCCESS), SQL_SUCCESS_WITH_INFO);
  int handled = 0;
  baseHandOutRefusal(statement_, connection_, nullptr, nullptr, nullptr, 0, nullptr, &handled);
  EXPECT_EQ(handled, 0) << "a refusal belongs to the refused thread";
}

TEST_F(HandleTest, CancelFromAnotherThreadStopsTheRunningCallWithS1008) {
  for (bool polled : {true, false}) {
    SCOPED_TRACE(polled ? "the call fails after its poll" : "the call finishes first");
    SQLRETURN result = SQL_SUCCESS;
    {
      BaseCall running(statement_, SQL_API_SQLEXECDIRECT);
      ASSERT_TRUE(running.isOpen());
      EXPECT_EQ(baseAbortPoll(), 0);
      SQLRETURN cancelled = SQL_ERROR;
      std::thread other([&] { cancelled = statement_->SQLCancel(); });
      other.join();  // the cancel does not wait for the running call
      EXPECT_EQ(cancelled, SQL_SUCCESS);
      EXPECT_EQ(baseAbortPoll(), 1);
      if (polled) addOdbcError(stateGeneral);  // what the loop that noticed it says
      result = running.exit(polled ? SQL_ERROR : SQL_SUCCESS);
    }
    EXPECT_EQ(result, polled ? SQL_ERROR : SQL_SUCCESS);
    EXPECT_EQ(statement_->getErrorList().getCount(), polled ? 1u : 0u);
    if (polled) {
      EXPECT_EQ(nextDiagnostic(statement_->getErrorList()).state, "S1008");
    }
    EXPECT_EQ(baseAbortPoll(), 0) << "no statement runs on this thread";
    // The request went with the call: the next one runs whole.
    SQLLEN rows = 0;
    EXPECT_EQ(statement_->SQLRowCount(&rows), SQL_SUCCESS);
  }
}

TEST_F(HandleTest, DisconnectKeepsStatementsThatCallsOfOtherThreadsWaitFor) {
  std::recursive_mutex& lock = connection_->getCallLock();
  lock.lock();  // as a call of this thread would
  SQLRETURN waited = SQL_ERROR;
  std::thread other([&] {
    SQLLEN rows = 0;
    waited = statement_->SQLRowCount(&rows);
  });
  while (statement_->getCallingThread() == 0) std::this_thread::yield();
  EXPECT_EQ(connection_->SQLDisconnect(), SQL_ERROR);
  EXPECT_EQ(nextDiagnostic(connection_->getErrorList()).state, "S1010");
  EXPECT_EQ(connection_->getStatements().getCount(), 1u);
  lock.unlock();
  other.join();
  EXPECT_EQ(waited, SQL_SUCCESS);
}

TEST_F(HandleTest, DropWaitsForItsConnection) {
  ASSERT_EQ(connection_->threadCheck(checkConnection), 0);  // a connection call of this thread is inside
  EXPECT_EQ(statement_->SQLFreeStmt(SQL_DROP), SQL_HANDLE_BUSY);
  EXPECT_EQ(connection_->getStatements().getCount(), 1u) << "the statement is still there";
  EXPECT_FALSE(statement_->isBusy()) << "and not left busy";
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
