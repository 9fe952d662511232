// The life of a statement: kinds and cursor states through prepare,
// execute, close, cancel, catalog entry and further results; SQLFreeStmt in
// its four modes; SQLRowCount; the lazy transaction of manual-commit mode.
#include "tests/base/stmt_test_support.h"

#include "base/results/base_field.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class LifecycleTest : public StatementFixture<StmtConnection, StmtStatement> {};

enum Step { PrepareSelect, PrepareInsert, Execute, DirectSelect, DirectInsert, Close, Cancel, Catalog, More };

SQLRETURN run(StmtStatement* statement, Step step) {
  switch (step) {
    case PrepareSelect: return prepare(statement, "select a from t");
    case PrepareInsert: return prepare(statement, "insert into t values (1)");
    case Execute: return statement->SQLExecute();
    case DirectSelect: return execDirect(statement, "select a from t");
    case DirectInsert: return execDirect(statement, "insert into t values (1)");
    case Close: return statement->SQLFreeStmt(SQL_CLOSE);
    case Cancel: return statement->SQLCancel();
    case More: return statement->SQLMoreResults();
    case Catalog: {
      // A catalog function's entry, in a call of its own.
      if (statement->threadCheck()) return SQL_HANDLE_BUSY;
      if (statement->standardEntrance(0) != kvSuccess) return statement->standardExit(SQL_ERROR);
      return statement->standardExit(statement->catalogEntryCheck() == kvSuccess ? SQL_SUCCESS : SQL_ERROR);
    }
  }
  return SQL_ERROR;
}

TEST_F(LifecycleTest, KindsAndCursorStatesFollowTheStateTable) {
  struct Case {
    const char* name;
    std::vector<Step> steps;
    SQLRETURN rc;  // of the last step
    const char* sqlState;
    BaseStmtKind kind;
    BaseCursorState cursor;
  } cases[] = {
      {"prepare", {PrepareSelect}, SQL_SUCCESS, "", stmtKindPrepared, cursorPrepared},
      {"prepared select runs", {PrepareSelect, Execute}, SQL_SUCCESS, "", stmtKindPrepared, cursorOpen},
      {"prepared insert runs", {PrepareInsert, Execute}, SQL_SUCCESS, "", stmtKindPrepared, cursorExecuted},
      {"insert runs again", {PrepareInsert, Execute, Execute}, SQL_SUCCESS, "", stmtKindPrepared, cursorExecuted},
      {"direct select", {DirectSelect}, SQL_SUCCESS, "", stmtKindDirect, cursorOpen},
      {"direct insert", {DirectInsert}, SQL_SUCCESS, "", stmtKindDirect, cursorExecuted},
      {"close keeps prepared", {PrepareSelect, Execute, Close}, SQL_SUCCESS, "", stmtKindPrepared, cursorPrepared},
      {"closed runs again", {PrepareSelect, Execute, Close, Execute}, SQL_SUCCESS, "", stmtKindPrepared, cursorOpen},
      {"close of direct", {DirectSelect, Close}, SQL_SUCCESS, "", stmtKindAllocated, cursorAllocated},
      {"open refuses execute", {PrepareSelect, Execute, Execute}, SQL_ERROR, "24000", stmtKindPrepared, cursorOpen},
      {"open refuses direct", {DirectSelect, DirectInsert}, SQL_ERROR, "24000", stmtKindDirect, cursorOpen},
      {"open refuses prepare", {DirectSelect, PrepareInsert}, SQL_ERROR, "24000", stmtKindDirect, cursorOpen},
      {"execute unprepared", {Execute}, SQL_ERROR, "S1010", stmtKindAllocated, cursorAllocated},
      {"execute after direct", {DirectInsert, Execute}, SQL_ERROR, "S1010", stmtKindDirect, cursorExecuted},
      {"prepare over executed", {DirectInsert, PrepareSelect}, SQL_SUCCESS, "", stmtKindPrepared, cursorPrepared},
      {"catalog on allocated", {Catalog}, SQL_SUCCESS, "", stmtKindCatalog, cursorAllocated},
      {"catalog over prepared", {PrepareSelect, Catalog}, SQL_SUCCESS, "", stmtKindCatalog, cursorAllocated},
      {"catalog refused on open", {DirectSelect, Catalog}, SQL_ERROR, "24000", stmtKindDirect, cursorOpen},
      {"cancel closes prepared", {PrepareSelect, Execute, Cancel}, SQL_SUCCESS_WITH_INFO, "01S05",
       stmtKindPrepared, cursorPrepared},
      {"cancel frees direct", {DirectSelect, Cancel}, SQL_SUCCESS_WITH_INFO, "01S05", stmtKindAllocated,
       cursorAllocated},
      {"cancel with nothing", {Cancel}, SQL_SUCCESS_WITH_INFO, "01S05", stmtKindAllocated, cursorAllocated},
      {"no more results: prepared closes", {PrepareSelect, Execute, More}, SQL_NO_DATA_FOUND, "", stmtKindPrepared,
       cursorPrepared},
      {"no more results: direct frees", {DirectInsert, More}, SQL_NO_DATA_FOUND, "", stmtKindAllocated,
       cursorAllocated},
      {"more results before execution", {PrepareSelect, More}, SQL_NO_DATA_FOUND, "", stmtKindPrepared,
       cursorPrepared},
  };
  for (const Case& c : cases) {
    TearDown();
    SetUp();
    SQLRETURN rc = SQL_SUCCESS;
    for (Step step : c.steps) rc = run(statement_, step);
    EXPECT_EQ(rc, c.rc) << c.name;
    EXPECT_EQ(state(), c.sqlState) << c.name;
    EXPECT_EQ(statement_->getKind(), c.kind) << c.name;
    EXPECT_EQ(statement_->getCursorState(), c.cursor) << c.name;
  }
}

// A prepared statement is compiled once: closing it keeps it executable.
TEST_F(LifecycleTest, ClosedStatementRunsWithoutANewPrepare) {
  ASSERT_EQ(prepare(statement_, "select a from t"), SQL_SUCCESS);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(statement_->SQLExecute(), SQL_SUCCESS) << i;
    ASSERT_EQ(statement_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS) << i;
  }
  EXPECT_EQ(statement_->prepares, 1);
  EXPECT_EQ(statement_->executions, 3);
  EXPECT_EQ(statement_->closes, 3);
  EXPECT_EQ(statement_->getFieldCount(), 1) << "the columns stay with the prepared statement";
}

TEST_F(LifecycleTest, WhatAFailureLeavesBehind) {
  statement_->failPrepare = true;
  EXPECT_EQ(prepare(statement_, "select a from t"), SQL_ERROR);
  EXPECT_EQ(state(), "37000");
  EXPECT_EQ(statement_->getKind(), stmtKindAllocated) << "a failed prepare returns to the allocated state";
  statement_->failPrepare = false;

  ASSERT_EQ(prepare(statement_, "select a from t"), SQL_SUCCESS);
  statement_->failExecute = true;
  EXPECT_EQ(statement_->SQLExecute(), SQL_ERROR);
  EXPECT_EQ(statement_->getKind(), stmtKindPrepared) << "a failed execution keeps the statement prepared";
  EXPECT_EQ(statement_->getCursorState(), cursorPrepared);
  EXPECT_EQ(execDirect(statement_, "select a from t"), SQL_ERROR);
  EXPECT_EQ(statement_->getKind(), stmtKindAllocated) << "a failed direct execution does not";
  statement_->failExecute = false;

  // The driver refusing to close: the cursor stays open.
  ASSERT_EQ(execDirect(statement_, "select a from t"), SQL_SUCCESS);
  statement_->failReset = true;
  EXPECT_EQ(statement_->SQLFreeStmt(SQL_CLOSE), SQL_ERROR);
  EXPECT_EQ(statement_->getCursorState(), cursorOpen);
}

TEST_F(LifecycleTest, SqlTextArgumentsAreChecked) {
  struct Case {
    const char* sql;
    SQLINTEGER length;
    const char* state;
  } cases[] = {
      {nullptr, SQL_NTS, "S1009"},
      {"select a from t", 0, "S1090"},
      {"select a from t", -7, "S1090"},
      {"select a from t", 6, ""},
  };
  for (const Case& c : cases) {
    SQLRETURN rc = statement_->SQLExecDirect(reinterpret_cast<SQLCHAR*>(const_cast<char*>(c.sql)), c.length);
    EXPECT_EQ(rc, *c.state ? SQL_ERROR : SQL_SUCCESS) << c.length;
    EXPECT_EQ(state(), c.state) << c.length;
    ASSERT_EQ(statement_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS);
  }
}

TEST_F(LifecycleTest, FreeStmtModes) {
  ASSERT_EQ(statement_->allocArrays(3, arrayBindings), kvSuccess);
  statement_->bindings_[2] = new BaseBinding(SQL_C_LONG, nullptr, 4, nullptr);
  ASSERT_EQ(prepare(statement_, "select a from t where b = ? and c = ?"), SQL_SUCCESS);
  SQLINTEGER values[2] = {1, 2};
  for (SQLUSMALLINT i = 1; i <= 2; ++i)
    ASSERT_EQ(statement_->SQLBindParameter(i, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &values[i - 1], 0,
                                           nullptr),
              SQL_SUCCESS);
  ASSERT_EQ(statement_->SQLExecute(), SQL_SUCCESS);

  // An option that is none of the four changes nothing.
  EXPECT_EQ(statement_->SQLFreeStmt(4), SQL_SUCCESS);
  EXPECT_EQ(statement_->getCursorState(), cursorOpen);

  EXPECT_EQ(statement_->SQLFreeStmt(SQL_UNBIND), SQL_SUCCESS);
  EXPECT_EQ(statement_->bindingCapacity_, 0);
  EXPECT_EQ(statement_->fieldUnbinds, 1);
  EXPECT_EQ(statement_->getCursorState(), cursorOpen) << "unbinding leaves the cursor";

  int unbinds = statement_->paramUnbinds;
  EXPECT_EQ(statement_->SQLFreeStmt(SQL_RESET_PARAMS), SQL_SUCCESS);
  EXPECT_EQ(statement_->paramUnbinds, unbinds + 1) << "the driver hears of it";

  EXPECT_EQ(statement_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS);
  EXPECT_EQ(statement_->getCursorState(), cursorPrepared);

  EXPECT_EQ(connection_->getStatements().getCount(), 1u);
  EXPECT_EQ(statement_->SQLFreeStmt(SQL_DROP), SQL_SUCCESS);
  EXPECT_EQ(connection_->getStatements().getCount(), 0u) << "dropped and unlinked";
  statement_ = nullptr;
}

TEST_F(LifecycleTest, DropWaitsForABusyConnection) {
  ASSERT_EQ(connection_->threadCheck(checkConnection), 0);
  EXPECT_EQ(statement_->SQLFreeStmt(SQL_DROP), SQL_HANDLE_BUSY);
  connection_->threadDone();
  EXPECT_EQ(connection_->getStatements().getCount(), 1u);
  ASSERT_EQ(statement_->SQLFreeStmt(SQL_DROP), SQL_SUCCESS);
  EXPECT_EQ(connection_->getStatements().getCount(), 0u);
}

TEST_F(LifecycleTest, RowCount) {
  struct Case {
    const char* sql;
    int32_t driverRows;
    uint32_t workArounds;
    SQLLEN expected;
  } cases[] = {
      {"insert into t values (1)", 3, 0, 3},
      {"update t set a = 1", 0, 0, 0},
      {"delete from t", -1, 0, -1},
      {"delete from t", -1, BaseConnection::waRowCountOne, 1},
      {"select a from t", 3, 0, -1},  // a result set has no count
  };
  for (const Case& c : cases) {
    statement_->rows = c.driverRows;
    connection_->setWorkArounds(c.workArounds);
    ASSERT_EQ(execDirect(statement_, c.sql), SQL_SUCCESS) << c.sql;
    SQLLEN rows = 12345;
    EXPECT_EQ(statement_->SQLRowCount(&rows), SQL_SUCCESS);
    EXPECT_EQ(rows, c.expected) << c.sql;
    EXPECT_EQ(statement_->SQLRowCount(nullptr), SQL_SUCCESS);
    ASSERT_EQ(statement_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS);
  }
}

TEST_F(LifecycleTest, FurtherResultsReopenTheCursor) {
  statement_->furtherResults = 2;
  ASSERT_EQ(execDirect(statement_, "select a from t"), SQL_SUCCESS);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(statement_->SQLMoreResults(), SQL_SUCCESS) << i;
    EXPECT_EQ(statement_->getCursorState(), cursorOpen) << i;
  }
  EXPECT_EQ(statement_->SQLMoreResults(), SQL_NO_DATA_FOUND);
  EXPECT_EQ(statement_->getKind(), stmtKindAllocated);
  EXPECT_EQ(statement_->SQLMoreResults(), SQL_NO_DATA_FOUND) << "nothing executed";
}

// Manual-commit mode opens a transaction at the first prepare after a commit
// or rollback, never before and never twice.
TEST_F(LifecycleTest, TransactionsStartLazily) {
  ASSERT_EQ(execDirect(statement_, "insert into t values (1)"), SQL_SUCCESS);
  EXPECT_EQ(connection_->started, 0) << "autocommit on";
  ASSERT_EQ(connection_->SQLSetConnectOption(SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
  EXPECT_EQ(connection_->started, 0) << "not before a statement needs one";
  ASSERT_EQ(execDirect(statement_, "insert into t values (1)"), SQL_SUCCESS);
  ASSERT_EQ(execDirect(statement_, "insert into t values (2)"), SQL_SUCCESS);
  EXPECT_EQ(connection_->started, 1);
  EXPECT_TRUE(connection_->getFlags() & BaseConnection::flagTransaction);
  ASSERT_EQ(connection_->SQLTransact(SQL_COMMIT), SQL_SUCCESS);
  EXPECT_FALSE(connection_->getFlags() & BaseConnection::flagTransaction);
  ASSERT_EQ(prepare(statement_, "insert into t values (3)"), SQL_SUCCESS);
  EXPECT_EQ(connection_->started, 2);
}

}  // namespace
