// Statements, connection options and transactions through the real unixODBC
// Driver Manager on the test driver, as a C application sees them: option
// queues and limits, autocommit and SQLTransact with the three cursor
// behaviours, statement states and options, cursor names.
// The test driver's statements (drivers/test/test_statement.h) report the
// transactions that reached the driver as row counts.
#include "odbc_env.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const char dataSources[] =
    "[Plain]\nDriver=KvTest\nDriverName=Plain\n\n"
    "[CommitDeletes]\nDriver=KvTest\nCursorCommit=0\nCursorRollback=0\n\n"
    "[CommitCloses]\nDriver=KvTest\nCursorCommit=1\nCursorRollback=1\n\n"
    "[CommitPreserves]\nDriver=KvTest\nCursorCommit=2\nCursorRollback=2\n\n"
    "[CommitDeletesKeepPrepared]\nDriver=KvTest\nCursorCommit=0\nCursorRollback=0\nWorkArounds=1\n";

class StatementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(SQLAllocEnv(&env_), SQL_SUCCESS);
    ASSERT_EQ(SQLAllocConnect(env_, &dbc_), SQL_SUCCESS);
  }
  void TearDown() override {
    for (SQLHSTMT stmt : statements_) SQLFreeStmt(stmt, SQL_DROP);
    SQLTransact(env_, dbc_, SQL_ROLLBACK);
    SQLDisconnect(dbc_);
    SQLFreeConnect(dbc_);
    SQLFreeEnv(env_);
  }
  void connect(const char* dsn = "Plain") {
    SQLRETURN rc = SQLConnect(dbc_, (SQLCHAR*)dsn, SQL_NTS, nullptr, 0, nullptr, 0);
    auto all = dbcDiagnostics();
    ASSERT_EQ(rc, SQL_SUCCESS) << dsn << ": " << (all.empty() ? "" : all[0].text);
  }
  SQLHSTMT newStatement() {
    SQLHSTMT stmt = nullptr;
    EXPECT_EQ(SQLAllocStmt(dbc_, &stmt), SQL_SUCCESS);
    statements_.push_back(stmt);
    return stmt;
  }
  // The row count of one of the driver's counting statements.
  SQLLEN count(const char* what) {
    SQLHSTMT stmt = newStatement();
    EXPECT_EQ(SQLExecDirect(stmt, (SQLCHAR*)what, SQL_NTS), SQL_SUCCESS) << what;
    SQLLEN rows = -7;
    EXPECT_EQ(SQLRowCount(stmt, &rows), SQL_SUCCESS);
    return rows;
  }
  std::vector<Diagnostic> dbcDiagnostics() { return diagnostics(nullptr, dbc_, nullptr); }
  std::vector<Diagnostic> stmtDiagnostics(SQLHSTMT stmt) { return diagnostics(nullptr, nullptr, stmt); }
  std::string stmtState(SQLHSTMT stmt) {
    auto all = stmtDiagnostics(stmt);
    return all.empty() ? "" : all[0].state;
  }
  SQLULEN stmtOption(SQLHSTMT stmt, SQLUSMALLINT option) {
    SQLULEN value;
    std::memset(&value, 0xA5, sizeof(value));
    EXPECT_EQ(SQLGetStmtOption(stmt, option, &value), SQL_SUCCESS) << option;
    return value;
  }

  PrivateOdbc odbc_{dataSources};
  SQLHENV env_ = nullptr;
  SQLHDBC dbc_ = nullptr;
  std::vector<SQLHSTMT> statements_;
};

// ---------------------------------------------------------------- connection options

TEST_F(StatementTest, OptionsSetBeforeConnectingApplyAtTheConnect) {
  ASSERT_EQ(SQLSetConnectOption(dbc_, SQL_ACCESS_MODE, SQL_MODE_READ_ONLY), SQL_SUCCESS);
  ASSERT_EQ(SQLSetConnectOption(dbc_, SQL_ROWSET_SIZE, 7), SQL_SUCCESS);
  connect();
  SQLUINTEGER mode = 99;
  ASSERT_EQ(SQLGetConnectOption(dbc_, SQL_ACCESS_MODE, &mode), SQL_SUCCESS);
  EXPECT_EQ(mode, SQLUINTEGER(SQL_MODE_READ_ONLY));
  EXPECT_EQ(stmtOption(newStatement(), SQL_ROWSET_SIZE), 7u) << "a statement default";
}

// SQL_MAX_ROWS above the driver's limit (1000) is lowered with 01S02, for the
// connection's defaults and for a statement.
TEST_F(StatementTest, MaxRowsAboveTheLimitIsLowered) {
  connect();
  SQLHSTMT existing = newStatement();
  ASSERT_EQ(SQLSetConnectOption(dbc_, SQL_MAX_ROWS, 5000), SQL_SUCCESS_WITH_INFO);
  auto all = dbcDiagnostics();
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all[0].state, "01S02");
  EXPECT_NE(all[0].text.find("SQL_MAX_LENGTH has been set to the maximum size of data"), std::string::npos);
  EXPECT_EQ(stmtOption(existing, SQL_MAX_ROWS), 1000u);
  EXPECT_EQ(stmtOption(newStatement(), SQL_MAX_ROWS), 1000u);
  SQLHSTMT stmt = newStatement();
  EXPECT_EQ(SQLSetStmtOption(stmt, SQL_MAX_ROWS, 2000), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(stmtState(stmt), "01S02");
  EXPECT_EQ(stmtOption(stmt, SQL_MAX_ROWS), 1000u);
}

TEST_F(StatementTest, IsolationCannotChangeInsideATransaction) {
  connect();
  ASSERT_EQ(SQLSetConnectOption(dbc_, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
  EXPECT_EQ(SQLSetConnectOption(dbc_, SQL_TXN_ISOLATION, SQL_TXN_SERIALIZABLE), SQL_SUCCESS) << "none open yet";
  ASSERT_EQ(SQLExecDirect(newStatement(), (SQLCHAR*)"INSERT INTO t VALUES (1)", SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(SQLSetConnectOption(dbc_, SQL_TXN_ISOLATION, SQL_TXN_READ_COMMITTED), SQL_ERROR);
  auto all = dbcDiagnostics();
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all[0].state, "S1011");
  SQLUINTEGER isolation = 0;
  ASSERT_EQ(SQLGetConnectOption(dbc_, SQL_TXN_ISOLATION, &isolation), SQL_SUCCESS);
  EXPECT_EQ(isolation, SQLUINTEGER(SQL_TXN_SERIALIZABLE));
}

// An ODBC 3 application reads attributes through the Driver Manager, which
// hands its buffer to the driver: connection attributes such as autocommit
// are 32-bit and nothing behind them is written; statement attributes are
// SQLULEN and arrive whole.
TEST_F(StatementTest, AttributesOfAnOdbc3ApplicationKeepTheirWidths) {
  SQLHENV env3 = nullptr;
  SQLHDBC dbc3 = nullptr;
  SQLHSTMT stmt3 = nullptr;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env3), SQL_SUCCESS);
  ASSERT_EQ(SQLSetEnvAttr(env3, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0), SQL_SUCCESS);
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env3, &dbc3), SQL_SUCCESS);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLConnect(dbc3, (SQLCHAR*)"Plain", SQL_NTS, nullptr, 0, nullptr, 0)));
  struct {
    SQLUINTEGER value;
    SQLUINTEGER after;
  } autocommit = {7, 0xCAFEBABEu};
  ASSERT_EQ(SQLGetConnectAttr(dbc3, SQL_ATTR_AUTOCOMMIT, &autocommit.value, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(autocommit.value, SQLUINTEGER(SQL_AUTOCOMMIT_ON));
  EXPECT_EQ(autocommit.after, 0xCAFEBABEu) << "nothing written past the attribute";

  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc3, &stmt3), SQL_SUCCESS);
  const SQLULEN wide = SQLULEN(0x100000005ull);
  ASSERT_EQ(SQLSetStmtAttr(stmt3, SQL_ATTR_MAX_LENGTH, (SQLPOINTER)wide, 0), SQL_SUCCESS);
  SQLULEN maxLength = 0;
  ASSERT_EQ(SQLGetStmtAttr(stmt3, SQL_ATTR_MAX_LENGTH, &maxLength, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(maxLength, wide);
  SQLULEN concurrency = ~SQLULEN(0);
  ASSERT_EQ(SQLGetStmtAttr(stmt3, SQL_ATTR_CONCURRENCY, &concurrency, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(concurrency, SQLULEN(SQL_CONCUR_READ_ONLY)) << "the whole SQLULEN";
  SQLFreeHandle(SQL_HANDLE_STMT, stmt3);
  SQLDisconnect(dbc3);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc3);
  SQLFreeHandle(SQL_HANDLE_ENV, env3);
}

// ---------------------------------------------------------------- transactions

TEST_F(StatementTest, CommitsReachTheDriverOnlyInManualCommitMode) {
  connect();
  ASSERT_EQ(SQLExecDirect(newStatement(), (SQLCHAR*)"INSERT INTO t VALUES (1)", SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(SQLTransact(env_, dbc_, SQL_COMMIT), SQL_SUCCESS);
  EXPECT_EQ(count("COMMITS"), 0) << "autocommit on: nothing to commit";
  EXPECT_EQ(count("BEGUN"), 0);

  ASSERT_EQ(SQLSetConnectOption(dbc_, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
  EXPECT_EQ(count("BEGUN"), 1) << "the first statement opened one";
  EXPECT_EQ(SQLTransact(env_, dbc_, SQL_COMMIT), SQL_SUCCESS);
  EXPECT_EQ(count("COMMITS"), 1);
  EXPECT_EQ(SQLTransact(env_, dbc_, SQL_ROLLBACK), SQL_SUCCESS);
  EXPECT_EQ(count("ROLLBACKS"), 1) << "COMMITS opened the next one";
  EXPECT_EQ(count("BEGUN"), 3);
}

// Switching autocommit on with a transaction open commits it and warns.
TEST_F(StatementTest, AutocommitOnCommitsWithAWarning) {
  connect();
  ASSERT_EQ(SQLSetConnectOption(dbc_, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
  ASSERT_EQ(SQLExecDirect(newStatement(), (SQLCHAR*)"INSERT INTO t VALUES (1)", SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(SQLSetConnectOption(dbc_, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_ON), SQL_SUCCESS_WITH_INFO);
  auto all = dbcDiagnostics();
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all[0].state, "01000");
  EXPECT_NE(all[0].text.find("The currently active transaction was committed before changing the AutoCommit "
                             "connection option."),
            std::string::npos)
      << all[0].text;
  EXPECT_EQ(count("COMMITS"), 1);
}

// What a commit leaves of a prepared statement whose cursor is open, by the
// data source's SQL_CURSOR_COMMIT_BEHAVIOR.
TEST_F(StatementTest, CursorBehaviourAfterCommit) {
  struct Case {
    const char* dsn;
    SQLUSMALLINT behaviour;
    SQLRETURN executeAgain;
  } cases[] = {
      {"CommitDeletes", SQL_CB_DELETE, SQL_ERROR},     // the statement is no longer prepared
      {"CommitCloses", SQL_CB_CLOSE, SQL_SUCCESS},     // closed, still prepared
      {"CommitPreserves", SQL_CB_PRESERVE, SQL_ERROR}, // the cursor is still open
      // WorkArounds 0x1: a data source that deletes prepared statements at a
      // commit is reported as closing them, and the framework prepares the
      // statement again from its text before the next execution.
      {"CommitDeletesKeepPrepared", SQL_CB_CLOSE, SQL_SUCCESS},
  };
  for (const Case& c : cases) {
    TearDown();
    statements_.clear();
    SetUp();
    connect(c.dsn);
    SQLUSMALLINT behaviour = 99;
    ASSERT_EQ(SQLGetInfo(dbc_, SQL_CURSOR_COMMIT_BEHAVIOR, &behaviour, sizeof(behaviour), nullptr), SQL_SUCCESS);
    EXPECT_EQ(behaviour, c.behaviour) << c.dsn;
    ASSERT_EQ(SQLSetConnectOption(dbc_, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
    SQLHSTMT stmt = newStatement();
    ASSERT_EQ(SQLPrepare(stmt, (SQLCHAR*)"SELECT a FROM t", SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(SQLExecute(stmt), SQL_SUCCESS);
    ASSERT_EQ(SQLTransact(env_, dbc_, SQL_COMMIT), SQL_SUCCESS) << c.dsn;
    EXPECT_EQ(SQLExecute(stmt), c.executeAgain) << c.dsn;
    if (c.executeAgain == SQL_SUCCESS) {
      SQLSMALLINT columns = 0;
      EXPECT_EQ(SQLNumResultCols(stmt, &columns), SQL_SUCCESS) << c.dsn;
      EXPECT_EQ(columns, 1) << c.dsn;
    }
    if (c.behaviour == SQL_CB_PRESERVE) {
      EXPECT_EQ(stmtState(stmt), "24000") << c.dsn;
    }
  }
}

// ---------------------------------------------------------------- statements

TEST_F(StatementTest, PreparedStatementRunsAgainAfterClose) {
  connect();
  SQLHSTMT stmt = newStatement();
  ASSERT_EQ(SQLPrepare(stmt, (SQLCHAR*)"SELECT a FROM t", SQL_NTS), SQL_SUCCESS);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(SQLExecute(stmt), SQL_SUCCESS) << i;
    SQLSMALLINT columns = 0;
    ASSERT_EQ(SQLNumResultCols(stmt, &columns), SQL_SUCCESS);
    EXPECT_EQ(columns, 1);
    ASSERT_EQ(SQLFreeStmt(stmt, SQL_CLOSE), SQL_SUCCESS) << i;
  }
}

TEST_F(StatementTest, RowCountCancelAndMoreResults) {
  connect();
  SQLHSTMT stmt = newStatement();
  ASSERT_EQ(SQLExecDirect(stmt, (SQLCHAR*)"UPDATE t SET a = 1", SQL_NTS), SQL_SUCCESS);
  SQLLEN rows = 0;
  ASSERT_EQ(SQLRowCount(stmt, &rows), SQL_SUCCESS);
  EXPECT_EQ(rows, 1);

  // With nothing running a cancel closes the cursor. The driver answers
  // plain success: unixODBC would read the 01S05 warning through
  // SQLGetDiagField, which an ODBC 2 driver does not have.
  ASSERT_EQ(SQLExecDirect(stmt, (SQLCHAR*)"SELECT a FROM t", SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(SQLCancel(stmt), SQL_SUCCESS);
  EXPECT_EQ(SQLExecDirect(stmt, (SQLCHAR*)"SELECT a FROM t", SQL_NTS), SQL_SUCCESS) << "the cursor was closed";
  EXPECT_EQ(SQLCancel(stmt), SQL_SUCCESS);

  ASSERT_EQ(SQLExecDirect(stmt, (SQLCHAR*)"RESULTS 3", SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(SQLMoreResults(stmt), SQL_SUCCESS);
  EXPECT_EQ(SQLMoreResults(stmt), SQL_SUCCESS);
  EXPECT_EQ(SQLMoreResults(stmt), SQL_NO_DATA_FOUND);
  EXPECT_EQ(SQLExecDirect(stmt, (SQLCHAR*)"SELECT a FROM t", SQL_NTS), SQL_SUCCESS) << "the statement was freed";

  SQLHSTMT failing = newStatement();
  EXPECT_EQ(SQLExecDirect(failing, (SQLCHAR*)"FAIL here", SQL_NTS), SQL_ERROR);
  auto all = stmtDiagnostics(failing);
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all[0].state, "37000");
  EXPECT_NE(all[0].text.find("The test data source cannot run 'FAIL here'."), std::string::npos) << all[0].text;
}

TEST_F(StatementTest, StatementOptions) {
  connect();
  SQLHSTMT stmt = newStatement();
  // The test data source offers read-only and values concurrency, forward
  // and static cursors.
  EXPECT_EQ(SQLSetStmtOption(stmt, SQL_CONCURRENCY, SQL_CONCUR_LOCK), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(stmtState(stmt), "01S02");
  EXPECT_EQ(stmtOption(stmt, SQL_CONCURRENCY), SQLULEN(SQL_CONCUR_VALUES));
  EXPECT_EQ(SQLSetStmtOption(stmt, SQL_CURSOR_TYPE, SQL_CURSOR_KEYSET_DRIVEN), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(stmtOption(stmt, SQL_CURSOR_TYPE), SQLULEN(SQL_CURSOR_STATIC));
  EXPECT_EQ(SQLSetStmtOption(stmt, SQL_KEYSET_SIZE, 10), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(stmtOption(stmt, SQL_KEYSET_SIZE), 0u) << "never kept";
  EXPECT_EQ(SQLSetStmtOption(stmt, SQL_QUERY_TIMEOUT, 5), SQL_ERROR);
  EXPECT_EQ(stmtState(stmt), "S1C00");

  EXPECT_EQ(SQLSetScrollOptions(stmt, SQL_CONCUR_READ_ONLY, SQL_SCROLL_STATIC, 1), SQL_ERROR);
  EXPECT_EQ(stmtState(stmt), "S1C00");
  EXPECT_EQ(SQLSetScrollOptions(stmt, SQL_CONCUR_VALUES, SQL_SCROLL_FORWARD_ONLY, 5), SQL_SUCCESS);
  EXPECT_EQ(stmtOption(stmt, SQL_ROWSET_SIZE), 5u);

  ASSERT_EQ(SQLExecDirect(stmt, (SQLCHAR*)"SELECT a FROM t", SQL_NTS), SQL_SUCCESS);
  SQLULEN row = 0;
  EXPECT_EQ(SQLGetStmtOption(stmt, SQL_ROW_NUMBER, &row), SQL_ERROR) << "before the first row";
  EXPECT_EQ(stmtState(stmt), "24000");
}

// ---------------------------------------------------------------- cursor names

TEST_F(StatementTest, CursorNames) {
  connect();
  SQLHSTMT stmt = newStatement();
  ASSERT_EQ(SQLExecDirect(stmt, (SQLCHAR*)"SELECT a FROM t", SQL_NTS), SQL_SUCCESS);
  SQLCHAR name[32] = {0};
  SQLSMALLINT length = 0;
  ASSERT_EQ(SQLGetCursorName(stmt, name, sizeof(name), &length), SQL_SUCCESS);
  std::string generated = reinterpret_cast<char*>(name);
  EXPECT_EQ(length, 15);
  EXPECT_EQ(generated.substr(0, 7), "SQL_CUR");
  EXPECT_EQ(generated.find_first_not_of("0123456789ABCDEF", 7), std::string::npos) << generated;

  SQLHSTMT other = newStatement();
  EXPECT_EQ(SQLSetCursorName(other, (SQLCHAR*)generated.c_str(), SQL_NTS), SQL_ERROR);
  EXPECT_EQ(stmtState(other), "3C000");
  EXPECT_EQ(SQLSetCursorName(other, (SQLCHAR*)"C123456789012345678", SQL_NTS), SQL_ERROR);
  EXPECT_EQ(stmtState(other), "34000");
  ASSERT_EQ(SQLSetCursorName(other, (SQLCHAR*)"ORDERS", SQL_NTS), SQL_SUCCESS);
  ASSERT_EQ(SQLGetCursorName(other, name, sizeof(name), &length), SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(name), "ORDERS");
  ASSERT_EQ(SQLGetCursorName(other, name, 4, &length), SQL_SUCCESS_WITH_INFO);
  EXPECT_STREQ(reinterpret_cast<char*>(name), "ORD");
  EXPECT_EQ(length, 6);
}

}  // namespace
