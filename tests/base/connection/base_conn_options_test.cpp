// Statement-option defaults held on the connection: values keep the full
// SQLULEN width ODBC passes, limits lower them, and new statements copy them.
#include "tests/base/base_test_support.h"
#include "tests/base/stmt_test_support.h"

#include <cstring>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

namespace {

class StmtDefaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = new BaseEnv(1);
    connection_ = new UnitConnection(env_);
    KvErrorKeeper::setErrorList(&connection_->getErrorList());
  }
  void TearDown() override {
    KvErrorKeeper::giveUpErrorList();
    delete connection_;
    delete env_;
  }
  BaseEnv* env_ = nullptr;
  UnitConnection* connection_ = nullptr;
};

const SQLULEN beyond32Bits = SQLULEN(0x100000001ull);

TEST_F(StmtDefaultsTest, ValuesKeepTheirFullWidth) {
  struct Case {
    uint16_t option;
    int word;
  } cases[] = {
      {SQL_MAX_ROWS, optWordMaxRows},
      {SQL_MAX_LENGTH, optWordMaxLength},
      {SQL_ROWSET_SIZE, optWordRowsetSize},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(connection_->setConnectOption(c.option, beyond32Bits), kvSuccess) << c.option;
    EXPECT_EQ(connection_->getStmtDefaults()[c.word], beyond32Bits) << c.option;
  }
  EXPECT_EQ(connection_->getErrorList().getCount(), 0u) << "nothing was lowered";
  UnitStatement statement(connection_);
  for (const Case& c : cases) EXPECT_EQ(statement.getOptions()[c.word], beyond32Bits) << c.option;
}

TEST_F(StmtDefaultsTest, ValuesAboveALimitAreLowered) {
  connection_->setLimits(0, 1000, 0);
  struct Case {
    uint16_t option;
    int word;
    SQLULEN value, stored;
  } cases[] = {
      {SQL_MAX_ROWS, optWordMaxRows, beyond32Bits, 1000},
      {SQL_MAX_ROWS, optWordMaxRows, 999, 999},
      {SQL_BIND_TYPE, optWordBindType, beyond32Bits, 0xFFFFFFFFu},
  };
  for (const Case& c : cases) {
    connection_->getErrorList().clearErrors();
    ASSERT_EQ(connection_->setConnectOption(c.option, c.value), kvSuccess) << c.value;
    EXPECT_EQ(connection_->getStmtDefaults()[c.word], c.stored) << c.value;
    bool lowered = c.stored != c.value;
    EXPECT_EQ(connection_->getErrorList().getCount(), lowered ? 1u : 0u) << c.value;
    if (lowered) {
      EXPECT_EQ(nextDiagnostic(connection_->getErrorList()).state, "01S02");
    }
  }
}

// ---------------------------------------------------------------- options and transactions

class ConnOptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = new BaseEnv(1);
    connection_ = new StmtConnection(env_);
  }
  void TearDown() override {
    delete connection_;
    delete env_;
  }
  std::string state() { return firstState(connection_->getErrorList()); }
  // A connection option is a 32-bit number: what follows it in the
  // caller's memory stays as it was.
  SQLUINTEGER read(uint16_t option, SQLRETURN expected = SQL_SUCCESS) {
    struct {
      SQLUINTEGER value;
      SQLUINTEGER after;
    } buffer = {0xA5A5A5A5u, 0xA5A5A5A5u};
    EXPECT_EQ(connection_->SQLGetConnectOption(option, &buffer.value), expected) << option;
    EXPECT_EQ(buffer.after, 0xA5A5A5A5u) << option;
    return buffer.value;
  }

  BaseEnv* env_ = nullptr;
  StmtConnection* connection_ = nullptr;
};

TEST_F(ConnOptionsTest, OptionsSetAndReadBack) {
  struct Case {
    uint16_t option;
    SQLULEN value;
    const char* state;
    SQLUINTEGER readBack;
  } cases[] = {
      {SQL_ACCESS_MODE, SQL_MODE_READ_ONLY, "", SQL_MODE_READ_ONLY},
      {SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF, "", SQL_AUTOCOMMIT_OFF},
      {SQL_TXN_ISOLATION, SQL_TXN_READ_COMMITTED, "", SQL_TXN_READ_COMMITTED},
      {SQL_TRANSLATE_OPTION, 0x7FFFFFFF, "", 0x7FFFFFFF},
      {1043, 0, "", 0},
      {1043, 5, "", 1},
      {SQL_LOGIN_TIMEOUT, 30, "S1C00", 0},  // the driver cannot time a logon
      {SQL_OPT_TRACE, 1, "S1C00", 0},
      {SQL_OPT_TRACEFILE, 0, "S1C00", 0},
      {SQL_CURRENT_QUALIFIER, 0, "S1C00", 0},
      {SQL_ODBC_CURSORS, 0, "S1C00", 0},
      {SQL_PACKET_SIZE, 4096, "S1C00", 0},
  };
  for (const Case& c : cases) {
    SQLRETURN rc = connection_->SQLSetConnectOption(c.option, c.value);
    EXPECT_EQ(rc, *c.state ? SQL_ERROR : SQL_SUCCESS) << c.option;
    EXPECT_EQ(state(), c.state) << c.option;
    if (!*c.state) {
      EXPECT_EQ(read(c.option), c.readBack) << c.option;
    }
  }
  read(SQL_LOGIN_TIMEOUT, SQL_ERROR);
  EXPECT_EQ(state(), "S1C00");
  connection_->addFlags(BaseConnection::flagLoginTimeout);
  EXPECT_EQ(connection_->SQLSetConnectOption(SQL_LOGIN_TIMEOUT, 30), SQL_SUCCESS);
  EXPECT_EQ(read(SQL_LOGIN_TIMEOUT), 30u);
  read(SQL_OPT_TRACE, SQL_ERROR);
  EXPECT_EQ(state(), "S1C00");
}

// Autocommit, isolation and the current qualifier touch every statement, so
// they wait for none to be in a call; other options do not.
TEST_F(ConnOptionsTest, ConnectionWideOptionsWaitForStatements) {
  StmtStatement* statement = new StmtStatement(connection_);
  ASSERT_EQ(statement->threadCheck(), 0);
  for (uint16_t option : {SQL_AUTOCOMMIT, SQL_TXN_ISOLATION, SQL_CURRENT_QUALIFIER})
    EXPECT_EQ(connection_->SQLSetConnectOption(option, 0), SQL_HANDLE_BUSY) << option;
  EXPECT_EQ(connection_->SQLSetConnectOption(SQL_ACCESS_MODE, SQL_MODE_READ_ONLY), SQL_SUCCESS);
  statement->threadDone();
  EXPECT_EQ(connection_->SQLSetConnectOption(SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
}

// Switching autocommit on commits an open transaction through the driver
// and says so.
TEST_F(ConnOptionsTest, AutocommitOnCommitsTheOpenTransaction) {
  ASSERT_EQ(connection_->SQLSetConnectOption(SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
  EXPECT_EQ(connection_->SQLSetConnectOption(SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_ON), SQL_SUCCESS) << "none open";
  EXPECT_EQ(connection_->committed, 0);
  ASSERT_EQ(connection_->SQLSetConnectOption(SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
  StmtStatement* statement = new StmtStatement(connection_);
  ASSERT_EQ(execDirect(statement, "insert into t values (1)"), SQL_SUCCESS);
  ASSERT_EQ(connection_->started, 1);
  EXPECT_EQ(connection_->SQLSetConnectOption(SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS) << "the same value";
  EXPECT_EQ(connection_->SQLSetConnectOption(SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_ON), SQL_SUCCESS_WITH_INFO);
  UnitDiagnostic d = nextDiagnostic(connection_->getErrorList());
  EXPECT_EQ(d.state, "01000");
  EXPECT_NE(d.text.find("The currently active transaction was committed before changing the AutoCommit"),
            std::string::npos)
      << d.text;
  EXPECT_EQ(connection_->committed, 1);
  EXPECT_FALSE(connection_->getFlags() & BaseConnection::flagTransaction);
  EXPECT_EQ(read(SQL_AUTOCOMMIT), SQLUINTEGER(SQL_AUTOCOMMIT_ON));

  connection_->txnCapable = SQL_TC_NONE;
  EXPECT_EQ(connection_->SQLSetConnectOption(SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_ERROR);
  EXPECT_EQ(state(), "S1C00") << "no transactions at all";
}

TEST_F(ConnOptionsTest, IsolationChanges) {
  EXPECT_EQ(connection_->SQLSetConnectOption(SQL_TXN_ISOLATION, SQL_TXN_REPEATABLE_READ), SQL_ERROR);
  EXPECT_EQ(state(), "S1C00") << "not offered by the data source";
  ASSERT_EQ(connection_->SQLSetConnectOption(SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
  ASSERT_EQ(connection_->openTransactionIfManual(), kvSuccess);
  EXPECT_EQ(connection_->SQLSetConnectOption(SQL_TXN_ISOLATION, SQL_TXN_READ_COMMITTED), SQL_ERROR);
  EXPECT_EQ(state(), "S1011") << "inside a transaction";
  ASSERT_EQ(connection_->SQLTransact(SQL_ROLLBACK), SQL_SUCCESS);
  EXPECT_EQ(connection_->SQLSetConnectOption(SQL_TXN_ISOLATION, SQL_TXN_READ_COMMITTED), SQL_SUCCESS);
}

// A statement option set on the connection reaches every statement in
// creation order; the first statement that refuses it stops the walk, and
// the statements before it keep the new value.
TEST_F(ConnOptionsTest, DefaultsReachEveryStatementUntilOneRefuses) {
  StmtStatement* statements[3] = {new StmtStatement(connection_), new StmtStatement(connection_),
                                  new StmtStatement(connection_)};
  ASSERT_EQ(connection_->SQLSetConnectOption(SQL_ROWSET_SIZE, 5), SQL_SUCCESS);
  for (StmtStatement* statement : statements) EXPECT_EQ(statement->getOptions()[optWordRowsetSize], 5u);
  statements[1]->failOptions = true;
  EXPECT_EQ(connection_->SQLSetConnectOption(SQL_ROWSET_SIZE, 9), SQL_ERROR);
  EXPECT_EQ(connection_->getStmtDefaults()[optWordRowsetSize], 9u);
  EXPECT_EQ(statements[0]->getOptions()[optWordRowsetSize], 9u);
  EXPECT_EQ(statements[1]->getOptions()[optWordRowsetSize], 5u);
  EXPECT_EQ(statements[2]->getOptions()[optWordRowsetSize], 5u) << "not reached";
}

TEST_F(ConnOptionsTest, TransactOutsideATransaction) {
  EXPECT_EQ(connection_->SQLTransact(SQL_COMMIT), SQL_SUCCESS);
  EXPECT_EQ(connection_->SQLTransact(SQL_ROLLBACK), SQL_SUCCESS);
  EXPECT_EQ(connection_->committed + connection_->rolledBack, 0) << "autocommit on: the driver is not called";
  ASSERT_EQ(connection_->SQLSetConnectOption(SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
  EXPECT_EQ(connection_->SQLTransact(SQL_COMMIT), SQL_SUCCESS);
  EXPECT_EQ(connection_->committed, 0) << "no transaction open";
  EXPECT_EQ(connection_->SQLTransact(7), SQL_ERROR);
  EXPECT_EQ(state(), "S1012");
  connection_->txnCapable = SQL_TC_NONE;
  EXPECT_EQ(connection_->SQLTransact(SQL_ROLLBACK), SQL_ERROR);
  EXPECT_EQ(state(), "S1C00");
}

// What a commit or a rollback leaves of each statement, by the data
// source's cursor behaviour.
TEST_F(ConnOptionsTest, CursorBehaviourAfterCommitAndRollback) {
  struct Case {
    uint16_t type;
    uint32_t behaviour;
    uint32_t workArounds;
    bool prepared;
    BaseStmtKind kind;
    BaseCursorState cursor;
    bool reprepare;
  } cases[] = {
      {SQL_COMMIT, SQL_CB_DELETE, 0, true, stmtKindAllocated, cursorAllocated, false},
      {SQL_COMMIT, SQL_CB_DELETE, BaseConnection::waKeepPrepared, true, stmtKindPrepared, cursorPrepared, true},
      {SQL_COMMIT, SQL_CB_DELETE, BaseConnection::waKeepPrepared, false, stmtKindAllocated, cursorAllocated,
       false},
      {SQL_COMMIT, SQL_CB_CLOSE, 0, true, stmtKindPrepared, cursorPrepared, false},
      {SQL_COMMIT, SQL_CB_CLOSE, 0, false, stmtKindAllocated, cursorAllocated, false},
      {SQL_COMMIT, SQL_CB_PRESERVE, 0, true, stmtKindPrepared, cursorOpen, false},
      {SQL_ROLLBACK, SQL_CB_DELETE, 0, false, stmtKindAllocated, cursorAllocated, false},
      {SQL_ROLLBACK, SQL_CB_CLOSE, 0, true, stmtKindPrepared, cursorPrepared, false},
      {SQL_ROLLBACK, SQL_CB_PRESERVE, 0, false, stmtKindDirect, cursorOpen, false},
  };
  for (const Case& c : cases) {
    TearDown();
    SetUp();
    connection_->setWorkArounds(c.workArounds);
    (c.type == SQL_COMMIT ? connection_->commitBehaviour : connection_->rollbackBehaviour) = c.behaviour;
    ASSERT_EQ(connection_->SQLSetConnectOption(SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
    StmtStatement* statement = new StmtStatement(connection_);
    StmtStatement* idle = new StmtStatement(connection_);
    if (c.prepared) {
      ASSERT_EQ(prepare(statement, "select a from t"), SQL_SUCCESS);
      ASSERT_EQ(statement->SQLExecute(), SQL_SUCCESS);
    } else {
      ASSERT_EQ(execDirect(statement, "select a from t"), SQL_SUCCESS);
    }
    std::ostringstream name;
    name << c.type << "/" << c.behaviour << "/" << c.workArounds << "/" << c.prepared;
    EXPECT_EQ(connection_->SQLTransact(c.type), SQL_SUCCESS) << name.str();
    EXPECT_EQ(c.type == SQL_COMMIT ? connection_->committed : connection_->rolledBack, 1) << name.str();
    EXPECT_EQ(statement->getKind(), c.kind) << name.str();
    EXPECT_EQ(statement->getCursorState(), c.cursor) << name.str();
    EXPECT_EQ((statement->getFlags() & BaseStatement::flagReprepare) != 0, c.reprepare) << name.str();
    EXPECT_EQ(idle->resets + idle->closes, 0) << "a statement in the allocated state is left alone";
    if (c.reprepare) {
      EXPECT_EQ(statement->SQLExecute(), SQL_SUCCESS) << "still executable";
    }
  }
}

// One statement that cannot be closed does not keep the others open; the
// call reports the failure.
TEST_F(ConnOptionsTest, TransactVisitsEveryStatement) {
  connection_->commitBehaviour = SQL_CB_CLOSE;
  ASSERT_EQ(connection_->SQLSetConnectOption(SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
  StmtStatement* stuck = new StmtStatement(connection_);
  StmtStatement* other = new StmtStatement(connection_);
  for (StmtStatement* statement : {stuck, other}) {
    ASSERT_EQ(prepare(statement, "select a from t"), SQL_SUCCESS);
    ASSERT_EQ(statement->SQLExecute(), SQL_SUCCESS);
  }
  stuck->failClose = true;
  EXPECT_EQ(connection_->SQLTransact(SQL_COMMIT), SQL_ERROR);
  EXPECT_EQ(stuck->getCursorState(), cursorOpen);
  EXPECT_EQ(other->getCursorState(), cursorPrepared);
  EXPECT_FALSE(connection_->getFlags() & BaseConnection::flagTransaction) << "the commit itself happened";

  // The driver failing to end the transaction leaves it open.
  ASSERT_EQ(connection_->openTransactionIfManual(), kvSuccess);
  connection_->failEnd = true;
  EXPECT_EQ(connection_->SQLTransact(SQL_COMMIT), SQL_ERROR);
  EXPECT_TRUE(connection_->getFlags() & BaseConnection::flagTransaction);
}

// The SQL_API number of every ODBC 2 function a driver might export.
struct FunctionName {
  const char* name;
  uint16_t number;
};
const FunctionName functionNames[] = {
    {"SQLAllocConnect", SQL_API_SQLALLOCCONNECT}, {"SQLAllocEnv", SQL_API_SQLALLOCENV},
    {"SQLAllocStmt", SQL_API_SQLALLOCSTMT},       {"SQLBindCol", SQL_API_SQLBINDCOL},
    {"SQLCancel", SQL_API_SQLCANCEL},             {"SQLColAttributes", SQL_API_SQLCOLATTRIBUTES},
    {"SQLConnect", SQL_API_SQLCONNECT},           {"SQLDescribeCol", SQL_API_SQLDESCRIBECOL},
    {"SQLDisconnect", SQL_API_SQLDISCONNECT},     {"SQLError", SQL_API_SQLERROR},
    {"SQLExecDirect", SQL_API_SQLEXECDIRECT},     {"SQLExecute", SQL_API_SQLEXECUTE},
    {"SQLFetch", SQL_API_SQLFETCH},               {"SQLFreeConnect", SQL_API_SQLFREECONNECT},
    {"SQLFreeEnv", SQL_API_SQLFREEENV},           {"SQLFreeStmt", SQL_API_SQLFREESTMT},
    {"SQLGetCursorName", SQL_API_SQLGETCURSORNAME}, {"SQLNumResultCols", SQL_API_SQLNUMRESULTCOLS},
    {"SQLPrepare", SQL_API_SQLPREPARE},           {"SQLRowCount", SQL_API_SQLROWCOUNT},
    {"SQLSetCursorName", SQL_API_SQLSETCURSORNAME}, {"SQLSetParam", SQL_API_SQLSETPARAM},
    {"SQLTransact", SQL_API_SQLTRANSACT},         {"SQLColumns", SQL_API_SQLCOLUMNS},
    {"SQLDriverConnect", SQL_API_SQLDRIVERCONNECT}, {"SQLGetConnectOption", SQL_API_SQLGETCONNECTOPTION},
    {"SQLGetData", SQL_API_SQLGETDATA},           {"SQLGetFunctions", SQL_API_SQLGETFUNCTIONS},
    {"SQLGetInfo", SQL_API_SQLGETINFO},           {"SQLGetStmtOption", SQL_API_SQLGETSTMTOPTION},
    {"SQLGetTypeInfo", SQL_API_SQLGETTYPEINFO},   {"SQLParamData", SQL_API_SQLPARAMDATA},
    {"SQLPutData", SQL_API_SQLPUTDATA},           {"SQLSetConnectOption", SQL_API_SQLSETCONNECTOPTION},
    {"SQLSetStmtOption", SQL_API_SQLSETSTMTOPTION}, {"SQLSpecialColumns", SQL_API_SQLSPECIALCOLUMNS},
    {"SQLStatistics", SQL_API_SQLSTATISTICS},     {"SQLTables", SQL_API_SQLTABLES},
    {"SQLBrowseConnect", SQL_API_SQLBROWSECONNECT}, {"SQLColumnPrivileges", SQL_API_SQLCOLUMNPRIVILEGES},
    {"SQLDataSources", SQL_API_SQLDATASOURCES},   {"SQLDescribeParam", SQL_API_SQLDESCRIBEPARAM},
    {"SQLExtendedFetch", SQL_API_SQLEXTENDEDFETCH}, {"SQLForeignKeys", SQL_API_SQLFOREIGNKEYS},
    {"SQLMoreResults", SQL_API_SQLMORERESULTS},   {"SQLNativeSql", SQL_API_SQLNATIVESQL},
    {"SQLNumParams", SQL_API_SQLNUMPARAMS},       {"SQLParamOptions", SQL_API_SQLPARAMOPTIONS},
    {"SQLPrimaryKeys", SQL_API_SQLPRIMARYKEYS},   {"SQLProcedureColumns", SQL_API_SQLPROCEDURECOLUMNS},
    {"SQLProcedures", SQL_API_SQLPROCEDURES},     {"SQLSetPos", SQL_API_SQLSETPOS},
    {"SQLSetScrollOptions", SQL_API_SQLSETSCROLLOPTIONS}, {"SQLTablePrivileges", SQL_API_SQLTABLEPRIVILEGES},
    {"SQLDrivers", SQL_API_SQLDRIVERS},           {"SQLBindParameter", SQL_API_SQLBINDPARAMETER},
};

// unixODBC answers SQLGetFunctions itself, so the driver's answer is seen
// here: exactly the functions the drivers export say yes.
TEST_F(ConnOptionsTest, FunctionsAreAnsweredFromTheExports) {
  std::set<std::string> exported;
  std::stringstream names(KV_ODBC_EXPORT_NAMES);
  for (std::string name; std::getline(names, name, ',');) exported.insert(name);
  ASSERT_GT(exported.size(), 40u);
  SQLUSMALLINT all[100];
  std::memset(all, 0xA5, sizeof(all));
  ASSERT_EQ(connection_->SQLGetFunctions(SQL_API_ALL_FUNCTIONS, all), SQL_SUCCESS);
  std::set<uint16_t> known;
  for (const FunctionName& f : functionNames) {
    known.insert(f.number);
    const SQLUSMALLINT expected = exported.count(f.name) ? 1 : 0;
    EXPECT_EQ(all[f.number], expected) << f.name;
    SQLUSMALLINT one = 7;
    ASSERT_EQ(connection_->SQLGetFunctions(f.number, &one), SQL_SUCCESS);
    EXPECT_EQ(one, expected) << f.name;
  }
  for (uint16_t number = 0; number < 100; ++number)
    if (!known.count(number)) {
      EXPECT_EQ(all[number], 0) << number;
    }
  // WorkArounds 0x400 hides SQLExtendedFetch.
  connection_->setWorkArounds(BaseConnection::waNoExtendedFetch);
  SQLUSMALLINT extended = 7;
  ASSERT_EQ(connection_->SQLGetFunctions(SQL_API_SQLEXTENDEDFETCH, &extended), SQL_SUCCESS);
  EXPECT_EQ(extended, 0);
}

}  // namespace
