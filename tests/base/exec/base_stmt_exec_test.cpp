// Preparation and execution: escape clauses and markers, FOR UPDATE OF by
// capability, WHERE CURRENT OF passed on or emulated (the condition's exact
// text, its parameters, NULL refitting, the row-count warnings), the checks
// that start an execution, SQLParamOptions rows, lengths and the re-prepare
// after a commit.
#include "tests/base/exec_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Diag {
  std::string state;
  std::string text;
};

std::vector<Diag> diagnostics(BaseErrorList& list) {
  std::vector<Diag> out;
  for (;;) {
    UnitDiagnostic d = nextDiagnostic(list);
    if (d.rc != SQL_SUCCESS) break;
    out.push_back({d.state, d.text});
  }
  return out;
}

class ExecTest : public StatementFixture<ExecConnection, ExecStatement> {
 protected:
  std::vector<Diag> diags(BaseStatement* statement = nullptr) {
    return diagnostics((statement ? statement : statement_)->getErrorList());
  }
  SQLRETURN bindLong(SQLUSMALLINT number, SQLINTEGER* value, SQLLEN* length = nullptr) {
    return statement_->SQLBindParameter(number, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, value, 0, length);
  }
  // A second statement with a SELECT ... FOR UPDATE OF over columns, open
  // and on its first row, named C1.
  ExecStatement* openCursor(const std::vector<ExecColumn>& columns) {
    auto* cursor = new ExecStatement(connection_);
    cursor->columns = columns;
    EXPECT_EQ(cursor->SQLSetCursorName(reinterpret_cast<SQLCHAR*>(const_cast<char*>("C1")), SQL_NTS), SQL_SUCCESS);
    EXPECT_EQ(execDirect(cursor, "SELECT A, B FROM t FOR UPDATE OF A"), SQL_SUCCESS);
    cursor->rowsetStart_ = 1;
    return cursor;
  }
};

TEST_F(ExecTest, EscapesAndMarkersAtPrepare) {
  struct Case {
    const char* sql;
    bool noScan;
    const char* compiled;
    SQLSMALLINT params;
  } cases[] = {
      {"select a from t where d = {d '1999-12-31'}", false, "select a from t where d =  <D:1999-12-31>", 0},
      {"select a from t where d = {d '1999-12-31'}", true, "select a from t where d = {d '1999-12-31'}", 0},
      {"select {fn ucase(?)} from t where a = ? and b = '?'", false, nullptr, 2},  // text not checked
      {"insert into t values (?, '?', \"?\")", true, "insert into t values (?, '?', \"?\")", 1},
  };
  for (const Case& c : cases) {
    statement_->compiled.clear();
    ASSERT_EQ(statement_->SQLSetStmtOption(SQL_NOSCAN, c.noScan ? SQL_NOSCAN_ON : SQL_NOSCAN_OFF), SQL_SUCCESS);
    ASSERT_EQ(prepare(statement_, c.sql), SQL_SUCCESS) << c.sql;
    ASSERT_EQ(statement_->compiled.size(), 1u) << "prepareCompile runs once per prepare";
    if (c.compiled) {
      EXPECT_EQ(statement_->compiled[0], c.compiled);
    }
    SQLSMALLINT params = -1;
    EXPECT_EQ(statement_->SQLNumParams(&params), SQL_SUCCESS);
    EXPECT_EQ(params, c.params) << c.sql;
  }
}

TEST_F(ExecTest, MarkersInsideEscapeClausesAreCounted) {
  ASSERT_EQ(prepare(statement_, "select a from t where b = {d '2000-01-01'} and c = ? or e = ?"), SQL_SUCCESS);
  SQLSMALLINT params = 0;
  ASSERT_EQ(statement_->SQLNumParams(&params), SQL_SUCCESS);
  EXPECT_EQ(params, 2);
  EXPECT_EQ(statement_->paramCount_, 2);
  EXPECT_NE(statement_->params_[0], nullptr);
  EXPECT_NE(statement_->params_[1], nullptr);
}

TEST_F(ExecTest, ForUpdateOfIsCutOrKeptByCapability) {
  struct Case {
    uint32_t caps;
    bool autocommit;
    bool kept;
  } cases[] = {
      {0, true, false},
      {BaseConnection::flagForUpdateOf, true, true},
      {BaseConnection::flagForUpdateOf | BaseConnection::flagPositionedInTxn, true, false},
      {BaseConnection::flagForUpdateOf | BaseConnection::flagPositionedInTxn, false, true},
  };
  for (const Case& c : cases) {
    connection_->clearFlags(BaseConnection::flagForUpdateOf | BaseConnection::flagPositionedInTxn);
    connection_->addFlags(c.caps);
    ASSERT_EQ(connection_->SQLSetConnectOption(SQL_AUTOCOMMIT, c.autocommit ? 1 : 0), SQL_SUCCESS);
    statement_->compiled.clear();
    ASSERT_EQ(prepare(statement_, "SELECT a FROM t FOR UPDATE OF a"), SQL_SUCCESS);
    EXPECT_EQ(statement_->compiled.at(0), c.kept ? "SELECT a FROM t FOR UPDATE OF a" : "SELECT a FROM t ")
        << c.caps << " " << c.autocommit;
    EXPECT_TRUE(statement_->getFlags() & BaseStatement::flagForUpdate);
  }
}

TEST_F(ExecTest, CurrentOfNamesAStatementForUpdate) {
  EXPECT_EQ(prepare(statement_, "UPDATE t SET x = 1 WHERE CURRENT OF C9"), SQL_ERROR);
  std::vector<Diag> d = diags();
  ASSERT_EQ(d.size(), 1u);
  EXPECT_EQ(d[0].state, "34000");
  EXPECT_NE(d[0].text.find("Unable to locate SELECT statement"), std::string::npos);

  auto* plain = new ExecStatement(connection_);
  ASSERT_EQ(plain->SQLSetCursorName(reinterpret_cast<SQLCHAR*>(const_cast<char*>("C9")), SQL_NTS), SQL_SUCCESS);
  ASSERT_EQ(execDirect(plain, "SELECT a FROM t"), SQL_SUCCESS);
  EXPECT_EQ(prepare(statement_, "UPDATE t SET x = 1 WHERE CURRENT OF C9"), SQL_ERROR);
  d = diags();
  ASSERT_EQ(d.size(), 1u);
  EXPECT_EQ(d[0].state, "34000");
  EXPECT_NE(d[0].text.find("is not a SELECT FOR UPDATE"), std::string::npos);
}

TEST_F(ExecTest, NativeCurrentOfGetsTheDriversCursorName) {
  connection_->addFlags(BaseConnection::flagPositionedUpdate);
  ExecStatement* cursor = openCursor({{"A", SQL_INTEGER, 10, 0x4, SQL_SEARCHABLE, "1"}});
  cursor->driverCursorName = "SERVER_CURSOR_17";
  ASSERT_EQ(prepare(statement_, "UPDATE t SET x = 1 WHERE CURRENT OF C1"), SQL_SUCCESS);
  EXPECT_EQ(statement_->compiled.at(0), "UPDATE t SET x = 1 WHERE CURRENT OF SERVER_CURSOR_17");
  EXPECT_FALSE(statement_->getFlags() & BaseStatement::flagEmulatedPositioned);
  // A DELETE without its capability is emulated.
  statement_->compiled.clear();
  ASSERT_EQ(prepare(statement_, "DELETE FROM t WHERE CURRENT OF C1"), SQL_SUCCESS);
  EXPECT_TRUE(statement_->getFlags() & BaseStatement::flagEmulatedPositioned);
  EXPECT_TRUE(statement_->compiled.empty()) << "an emulated statement compiles at its execution";
}

TEST_F(ExecTest, EmulatedConditionAndItsExecution) {
  ExecStatement* cursor = openCursor({
      {"A", SQL_INTEGER, 10, 0x4, SQL_SEARCHABLE, "7"},
      {"B", SQL_VARCHAR, 20, 0x4, SQL_LIKE_ONLY, "x'y"},
      {"LONG", SQL_LONGVARCHAR, 5000, 0x4, SQL_LIKE_ONLY, "z"},  // too long to take part
      {"C", SQL_INTEGER, 10, 0, SQL_SEARCHABLE, "9"},             // not usable in a search
      {"", SQL_INTEGER, 10, 0x4, SQL_SEARCHABLE, "9"},            // no name
  });
  ASSERT_EQ(prepare(statement_, "UPDATE t SET x = ? WHERE CURRENT OF C1"), SQL_SUCCESS);
  EXPECT_EQ(statement_->emulCount_, 2);
  SQLINTEGER x = 5;
  ASSERT_EQ(bindLong(1, &x), SQL_SUCCESS);
  statement_->rows = 1;
  ASSERT_EQ(statement_->SQLExecute(), SQL_SUCCESS);
  ASSERT_EQ(statement_->compiled.size(), 1u);
  EXPECT_EQ(statement_->compiled[0], "UPDATE t SET x = ? WHERE (\"A\" =     ?) AND (\"B\" LIKE  ?)");
  EXPECT_EQ(statement_->markersSeen, 3);
  ASSERT_EQ(statement_->bound.size(), 3u);
  EXPECT_EQ(statement_->bound[0].number, 1);
  EXPECT_EQ(statement_->bound[1].number, 2);
  int32_t a = 0;
  ASSERT_EQ(statement_->bound[1].value.size(), 4u);
  std::memcpy(&a, statement_->bound[1].value.data(), 4);
  EXPECT_EQ(a, 7) << "read as SQL_C_LONG from the cursor's row";
  EXPECT_EQ(statement_->bound[2].number, 3);
  EXPECT_EQ(statement_->bound[2].value, "x'y");

  // B is NULL now: the text is fitted to it and compiled again.
  cursor->columns[1].value = nullptr;
  statement_->bound.clear();
  ASSERT_EQ(statement_->SQLExecute(), SQL_SUCCESS);
  ASSERT_EQ(statement_->compiled.size(), 2u);
  EXPECT_EQ(statement_->compiled[1], "UPDATE t SET x = ? WHERE (\"A\" =     ?) AND (\"B\" IS NULL)");
  EXPECT_EQ(statement_->markersSeen, 2);
  EXPECT_EQ(statement_->bound.size(), 2u);
  // And back.
  cursor->columns[1].value = "v";
  ASSERT_EQ(statement_->SQLExecute(), SQL_SUCCESS);
  EXPECT_EQ(statement_->compiled.back(), "UPDATE t SET x = ? WHERE (\"A\" =     ?) AND (\"B\" LIKE  ?)");

  // The warnings of an emulation that touched no row or more than one.
  struct Case {
    int32_t rows;
    const char* state;
  } cases[] = {{0, "01S03"}, {2, "01S04"}, {1, ""}};
  for (const Case& c : cases) {
    statement_->rows = c.rows;
    EXPECT_EQ(statement_->SQLExecute(), *c.state ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS);
    EXPECT_EQ(state(), c.state);
  }

  // The cursor must be on a row.
  cursor->rowStatus_ = static_cast<uint16_t*>(ramAllocZ(2));
  cursor->rowStatusCount_ = 1;
  cursor->rowStatus_[0] = SQL_ROW_DELETED;
  EXPECT_EQ(statement_->SQLExecute(), SQL_ERROR);
  EXPECT_EQ(state(), "S1109");
  cursor->rowsetStart_ = -1;
  EXPECT_EQ(statement_->SQLExecute(), SQL_ERROR);
  EXPECT_EQ(state(), "24000");
  ASSERT_EQ(cursor->SQLFreeStmt(SQL_DROP), SQL_SUCCESS);
  EXPECT_EQ(statement_->SQLExecute(), SQL_ERROR) << "the named statement is gone";
  EXPECT_EQ(state(), "24000");
}

// Each search column of an emulated WHERE CURRENT OF is read from the
// cursor's row as the C type of its SQL type, into a buffer of the type's
// fixed size or of the precision and room for a terminator (and sign and
// point for decimals). A column of a type outside the table takes no part.
TEST_F(ExecTest, EmulationReadsEachSqlTypeAsItsCType) {
  struct Case {
    int16_t sqlType;
    uint32_t precision;
    int16_t cType;
    SQLLEN bufferSize;
  };
  const Case cases[] = {
      {SQL_BIT, 1, SQL_C_TINYINT, 1},          {SQL_TINYINT, 3, SQL_C_TINYINT, 1},
      {SQL_BIGINT, 19, SQL_C_CHAR, 20},        {SQL_LONGVARCHAR, 100, SQL_C_CHAR, 101},
      {SQL_CHAR, 10, SQL_C_CHAR, 11},          {SQL_VARCHAR, 20, SQL_C_CHAR, 21},
      {SQL_LONGVARBINARY, 50, SQL_C_BINARY, 51}, {SQL_VARBINARY, 8, SQL_C_BINARY, 9},
      {SQL_BINARY, 4, SQL_C_BINARY, 5},        {SQL_NUMERIC, 9, SQL_C_CHAR, 12},
      {SQL_DECIMAL, 12, SQL_C_CHAR, 15},       {SQL_INTEGER, 10, SQL_C_LONG, 4},
      {SQL_SMALLINT, 5, SQL_C_SHORT, 2},       {SQL_FLOAT, 15, SQL_C_DOUBLE, 8},
      {SQL_DOUBLE, 15, SQL_C_DOUBLE, 8},       {SQL_REAL, 7, SQL_C_FLOAT, 4},
      {SQL_DATE, 10, SQL_C_DATE, 6},           {SQL_TIME, 8, SQL_C_TIME, 6},
      {SQL_TIMESTAMP, 23, SQL_C_TIMESTAMP, 16},
  };
  std::vector<std::string> names;
  for (const Case& c : cases) names.push_back("C" + std::to_string(c.sqlType + 10));
  std::vector<ExecColumn> columns;
  for (size_t i = 0; i < std::size(cases); ++i)
    columns.push_back({names[i].c_str(), cases[i].sqlType, cases[i].precision, 0x4, SQL_SEARCHABLE, "1"});
  columns.push_back({"WIDE", SQL_WVARCHAR, 10, 0x4, SQL_SEARCHABLE, "1"});  // no C type of its own
  openCursor(columns);
  ASSERT_EQ(prepare(statement_, "DELETE FROM t WHERE CURRENT OF C1"), SQL_SUCCESS);
  ASSERT_EQ(statement_->emulCount_, std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const BaseParam* param = statement_->emulParams_[i];
    EXPECT_EQ(param->column, i + 1) << cases[i].sqlType;
    EXPECT_EQ(param->sqlType, cases[i].sqlType);
    EXPECT_EQ(param->cType, cases[i].cType) << cases[i].sqlType;
    EXPECT_EQ(param->bufferSize, cases[i].bufferSize) << cases[i].sqlType;
  }
}

TEST_F(ExecTest, EmulationWithoutUsableColumns) {
  openCursor({{"A", SQL_INTEGER, 10, 0, SQL_SEARCHABLE, "7"}});
  EXPECT_EQ(prepare(statement_, "DELETE FROM t WHERE CURRENT OF C1"), SQL_ERROR);
  std::vector<Diag> d = diags();
  ASSERT_EQ(d.size(), 1u);
  EXPECT_EQ(d[0].state, "34000");
  EXPECT_NE(d[0].text.find("does not contain any columns useable"), std::string::npos);
}

TEST_F(ExecTest, EveryMarkerNeedsAValue) {
  ASSERT_EQ(prepare(statement_, "insert into t values (?, ?, ?)"), SQL_SUCCESS);
  SQLINTEGER v = 1;
  ASSERT_EQ(bindLong(2, &v), SQL_SUCCESS);
  EXPECT_EQ(statement_->SQLExecute(), SQL_ERROR);
  std::vector<Diag> d = diags();
  ASSERT_EQ(d.size(), 2u);
  EXPECT_EQ(d[0].state, "07001");
  EXPECT_NE(d[0].text.find("Value has not been specified for parameter 1."), std::string::npos);
  EXPECT_NE(d[1].text.find("parameter 3."), std::string::npos);
  EXPECT_EQ(statement_->executions, 0);
  EXPECT_EQ(statement_->getCursorState(), cursorPrepared) << "still prepared";
}

TEST_F(ExecTest, ParamOptionsRowsAndRowCounts) {
  ASSERT_EQ(prepare(statement_, "insert into t values (?, ?)"), SQL_SUCCESS);
  SQLINTEGER ids[3] = {1, 2, 3};
  char names[3][4] = {"ab", "cde", "f"};
  SQLLEN nameLengths[3] = {SQL_NTS, 2, SQL_NULL_DATA};
  ASSERT_EQ(bindLong(1, ids), SQL_SUCCESS);
  ASSERT_EQ(statement_->SQLBindParameter(2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 3, 0, names, 4, nameLengths),
            SQL_SUCCESS);
  SQLULEN row = 0;
  ASSERT_EQ(statement_->SQLParamOptions(3, &row), SQL_SUCCESS);
  statement_->rowsPerExecution = {1, 1, 1};
  ASSERT_EQ(statement_->SQLExecute(), SQL_SUCCESS);
  EXPECT_EQ(row, 3u);
  EXPECT_EQ(statement_->executions, 3);
  SQLLEN count = 0;
  ASSERT_EQ(statement_->SQLRowCount(&count), SQL_SUCCESS);
  EXPECT_EQ(count, 3);
  ASSERT_EQ(statement_->bound.size(), 6u);
  const std::vector<std::string> values = {std::string("\1\0\0\0", 4), "ab", std::string("\2\0\0\0", 4), "cd",
                                           std::string("\3\0\0\0", 4), ""};
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(statement_->bound[i].value, values[i]) << i;
  EXPECT_EQ(statement_->bound[5].length, SQL_NULL_DATA);

  struct Case {
    std::vector<int32_t> counts;
    SQLLEN total;
  } cases[] = {
      {{2, -1, 4}, -1},                 // one unknown count makes the sum unknown
      {{2147483647, 1, 0}, -1},         // a sum past 2147483647
      {{0, 0, 5}, 5},
  };
  for (const Case& c : cases) {
    statement_->rowsPerExecution = c.counts;
    ASSERT_EQ(statement_->SQLExecute(), SQL_SUCCESS);
    ASSERT_EQ(statement_->SQLRowCount(&count), SQL_SUCCESS);
    EXPECT_EQ(count, c.total);
  }
  EXPECT_EQ(statement_->SQLParamOptions(0, &row), SQL_ERROR) << "no rows would run nothing";
}

TEST_F(ExecTest, LengthsOfValues) {
  ASSERT_EQ(prepare(statement_, "insert into t values (?)"), SQL_SUCCESS);
  // No terminator within the buffer: the value is the whole buffer, never
  // what lies behind it.
  char unterminated[8] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
  struct Case {
    SQLLEN bufferSize;
    SQLLEN length;
    SQLRETURN rc;
    const char* state;
    const char* value;
  } cases[] = {
      {4, SQL_NTS, SQL_SUCCESS, "", "abcd"},
      {8, 3, SQL_SUCCESS, "", "abc"},
      {8, -7, SQL_ERROR, "S1090", ""},
      {8, SQL_DEFAULT_PARAM, SQL_ERROR, "S1C00", ""},
  };
  for (const Case& c : cases) {
    SQLLEN length = c.length;
    ASSERT_EQ(statement_->SQLBindParameter(1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 8, 0, unterminated,
                                           c.bufferSize, &length),
              SQL_SUCCESS);
    statement_->bound.clear();
    EXPECT_EQ(statement_->SQLExecute(), c.rc) << c.length;
    EXPECT_EQ(state(), c.state) << c.length;
    if (c.rc == SQL_SUCCESS) {
      ASSERT_EQ(statement_->bound.size(), 1u);
      EXPECT_EQ(statement_->bound[0].value, c.value);
    }
  }
  // An old-style binding without a buffer size cannot serve several rows.
  SQLLEN nts = SQL_NTS;
  ASSERT_EQ(statement_->SQLBindParameter(1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 8, 0, unterminated, -1, &nts),
            SQL_SUCCESS);
  SQLLEN lengths[2] = {1, 1};
  ASSERT_EQ(statement_->SQLBindParameter(1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 8, 0, unterminated, -1, lengths),
            SQL_SUCCESS);
  ASSERT_EQ(statement_->SQLParamOptions(2, nullptr), SQL_SUCCESS);
  EXPECT_EQ(statement_->SQLExecute(), SQL_ERROR);
  std::vector<Diag> d = diags();
  ASSERT_EQ(d.size(), 1u);
  EXPECT_EQ(d[0].state, "07001");
  EXPECT_NE(d[0].text.find("you must also use SQLBindParameter"), std::string::npos);
}

TEST_F(ExecTest, ABindingFailureNamesTheParameter) {
  ASSERT_EQ(prepare(statement_, "insert into t values (?)"), SQL_SUCCESS);
  SQLINTEGER v = 1;
  ASSERT_EQ(bindLong(1, &v), SQL_SUCCESS);
  statement_->failBind = true;
  EXPECT_EQ(statement_->SQLExecute(), SQL_ERROR);
  std::vector<Diag> d = diags();
  ASSERT_EQ(d.size(), 1u);
  EXPECT_NE(d[0].text.find("  Error in parameter 1."), std::string::npos);
  EXPECT_EQ(statement_->executions, 0);
}

// Binding a parameter again with another description between executions
// is allowed: the statement is compiled again for it.
TEST_F(ExecTest, ADescriptionChangedSinceTheFirstExecutionCompilesAgain) {
  ASSERT_EQ(prepare(statement_, "insert into t values (?)"), SQL_SUCCESS);
  SQLINTEGER v = 1;
  ASSERT_EQ(bindLong(1, &v), SQL_SUCCESS);
  ASSERT_EQ(statement_->SQLExecute(), SQL_SUCCESS);
  ASSERT_EQ(statement_->SQLExecute(), SQL_SUCCESS);
  EXPECT_EQ(statement_->compiled.size(), 1u) << "the same description";
  char text[] = "abc";
  ASSERT_EQ(statement_->SQLBindParameter(1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 3, 0, text, 4, nullptr),
            SQL_SUCCESS);
  ASSERT_EQ(statement_->SQLExecute(), SQL_SUCCESS);
  EXPECT_EQ(statement_->compiled.size(), 2u);
  ASSERT_EQ(statement_->SQLBindParameter(1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 30, 0, text, 4, nullptr),
            SQL_SUCCESS);
  ASSERT_EQ(statement_->SQLExecute(), SQL_SUCCESS);
  EXPECT_EQ(statement_->compiled.size(), 3u) << "a new precision";
  EXPECT_EQ(statement_->bound.back().value, "abc");
}

TEST_F(ExecTest, CommitUnderKeepPreparedPreparesAgain) {
  connection_->workArounds_ = BaseConnection::waKeepPrepared;
  connection_->commitBehaviour = SQL_CB_DELETE;
  ASSERT_EQ(connection_->SQLSetConnectOption(SQL_AUTOCOMMIT, 0), SQL_SUCCESS);
  ASSERT_EQ(prepare(statement_, "insert into t values (1)"), SQL_SUCCESS);
  ASSERT_EQ(statement_->SQLExecute(), SQL_SUCCESS);
  ASSERT_EQ(connection_->SQLTransact(SQL_COMMIT), SQL_SUCCESS);
  EXPECT_TRUE(statement_->getFlags() & BaseStatement::flagReprepare);
  ASSERT_EQ(statement_->SQLExecute(), SQL_SUCCESS);
  EXPECT_EQ(statement_->compiled.size(), 2u);
  EXPECT_EQ(statement_->compiled[1], "insert into t values (1)");

  // In autocommit mode every change commits: prepared statements are
  // marked when a statement without a result ran.
  ASSERT_NE(connection_->SQLSetConnectOption(SQL_AUTOCOMMIT, 1), SQL_ERROR);
  statement_->setFlags(statement_->getFlags() & ~uint32_t(BaseStatement::flagReprepare));
  auto* other = new ExecStatement(connection_);
  ASSERT_EQ(execDirect(other, "delete from t"), SQL_SUCCESS);
  EXPECT_TRUE(statement_->getFlags() & BaseStatement::flagReprepare);
  EXPECT_FALSE(other->getFlags() & BaseStatement::flagReprepare) << "only prepared statements";
  ASSERT_EQ(statement_->SQLExecute(), SQL_SUCCESS);
  EXPECT_EQ(statement_->compiled.size(), 3u);
}

TEST_F(ExecTest, ExecDirectPreparesAndRunsInOneCall) {
  SQLINTEGER v = 4;
  ASSERT_EQ(bindLong(1, &v), SQL_SUCCESS);
  ASSERT_EQ(execDirect(statement_, "delete from t where a = ?"), SQL_SUCCESS);
  EXPECT_EQ(statement_->executions, 1);
  ASSERT_EQ(statement_->bound.size(), 1u);
  EXPECT_EQ(statement_->SQLExecute(), SQL_ERROR) << "a direct statement is not prepared";
  EXPECT_EQ(state(), "S1010");
}

// A driver that is not done (flagAsync) makes the call answer
// SQL_STILL_EXECUTING; the application's repeated call goes on where it
// stopped: the same text compiled again, the execution asked again with the
// values already delivered, nothing done twice. Other calls wait (S1010).
TEST_F(ExecTest, PrepareAndExecuteResumeWhereTheDriverPaused) {
  // SQLPrepare: the text is the statement's own while it waits, even when
  // the application's buffer changes.
  std::string text = "select a from t where b = ?";
  statement_->compilePauses = 2;
  SQLCHAR* sql = reinterpret_cast<SQLCHAR*>(&text[0]);
  ASSERT_EQ(statement_->SQLPrepare(sql, SQL_NTS), SQL_STILL_EXECUTING);
  text.assign(text.size(), 'x');
  EXPECT_EQ(statement_->SQLExecute(), SQL_ERROR);
  EXPECT_EQ(state(), "S1010");
  ASSERT_EQ(statement_->SQLPrepare(sql, SQL_NTS), SQL_STILL_EXECUTING);
  ASSERT_EQ(statement_->SQLPrepare(sql, SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(statement_->pausedTexts, std::vector<std::string>(2, "select a from t where b = ?"));
  EXPECT_EQ(statement_->compiled, std::vector<std::string>{"select a from t where b = ?"});
  EXPECT_EQ(statement_->getCursorState(), cursorPrepared);
  SQLSMALLINT params = 0;
  ASSERT_EQ(statement_->SQLNumParams(&params), SQL_SUCCESS);
  EXPECT_EQ(params, 1);

  // SQLExecute over three SQLParamOptions rows, pausing in the second: each
  // row's value goes to the driver once, the counts add up.
  SQLINTEGER values[3] = {7, 8, 9};
  SQLULEN counter = 0;
  ASSERT_EQ(bindLong(1, values), SQL_SUCCESS);
  ASSERT_EQ(statement_->SQLParamOptions(3, &counter), SQL_SUCCESS);
  ASSERT_EQ(statement_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS);
  statement_->columns.clear();
  ASSERT_EQ(prepare(statement_, "update t set a = 1 where b = ?"), SQL_SUCCESS);
  statement_->bound.clear();
  statement_->executions = 0;
  int calls = 0;
  SQLRETURN rc;
  statement_->executePauses = 1;
  while ((rc = statement_->SQLExecute()) == SQL_STILL_EXECUTING) ASSERT_LT(++calls, 5);
  EXPECT_EQ(rc, SQL_SUCCESS);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(statement_->executions, 3);
  EXPECT_EQ(counter, 3u);
  ASSERT_EQ(statement_->bound.size(), 3u) << "no value delivered twice";
  SQLLEN count = 0;
  ASSERT_EQ(statement_->SQLRowCount(&count), SQL_SUCCESS);
  EXPECT_EQ(count, 9);
  ASSERT_EQ(statement_->SQLParamOptions(1, nullptr), SQL_SUCCESS);

  // SQLExecDirect pausing in both steps.
  auto* direct = new ExecStatement(connection_);
  direct->compilePauses = 1;
  direct->executePauses = 2;
  ASSERT_EQ(direct->SQLBindParameter(1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, values, 0, nullptr),
            SQL_SUCCESS);
  const char* deleteText = "delete from t where a = ?";
  calls = 0;
  while ((rc = execDirect(direct, deleteText)) == SQL_STILL_EXECUTING) ASSERT_LT(++calls, 5);
  EXPECT_EQ(rc, SQL_SUCCESS);
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(direct->compiled.size(), 1u);
  EXPECT_EQ(direct->executions, 1);
  EXPECT_EQ(direct->bound.size(), 1u);
  EXPECT_EQ(direct->getCursorState(), cursorExecuted);
}

TEST_F(ExecTest, AsynchronousExecutionWithDataAtExecutionAndFailures) {
  // SQLParamData that runs the statement answers SQL_STILL_EXECUTING too.
  ASSERT_EQ(prepare(statement_, "insert into t values (?)"), SQL_SUCCESS);
  char token[] = "t";
  SQLLEN atExec = SQL_DATA_AT_EXEC;
  ASSERT_EQ(statement_->SQLBindParameter(1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 10, 0, token, 0, &atExec),
            SQL_SUCCESS);
  ASSERT_EQ(statement_->SQLExecute(), SQL_NEED_DATA);
  SQLPOINTER got = nullptr;
  ASSERT_EQ(statement_->SQLParamData(&got), SQL_NEED_DATA);
  ASSERT_EQ(statement_->SQLPutData(const_cast<char*>("abc"), 3), SQL_SUCCESS);
  statement_->executePauses = 1;
  ASSERT_EQ(statement_->SQLParamData(&got), SQL_STILL_EXECUTING);
  EXPECT_EQ(statement_->SQLPutData(const_cast<char*>("d"), 1), SQL_ERROR);
  EXPECT_EQ(state(), "S1010");
  ASSERT_EQ(statement_->SQLParamData(&got), SQL_SUCCESS);
  EXPECT_EQ(statement_->executions, 1);
  ASSERT_EQ(statement_->bound.size(), 1u);
  EXPECT_EQ(statement_->bound[0].value, "abc");
  EXPECT_EQ(statement_->getCursorState(), cursorExecuted);

  // A driver that fails when asked again: the call fails, the statement is
  // free and prepared, and the next SQLExecute starts afresh.
  SQLINTEGER v = 4;
  ASSERT_EQ(bindLong(1, &v), SQL_SUCCESS);
  statement_->executePauses = 1;
  ASSERT_EQ(statement_->SQLExecute(), SQL_STILL_EXECUTING);
  statement_->failExecute = true;
  EXPECT_EQ(statement_->SQLExecute(), SQL_ERROR);
  EXPECT_FALSE(statement_->getFlags() & BaseStatement::flagAsync);
  EXPECT_EQ(statement_->getCursorState(), cursorPrepared);
  statement_->failExecute = false;
  statement_->bound.clear();
  EXPECT_EQ(statement_->SQLExecute(), SQL_SUCCESS);
  EXPECT_EQ(statement_->bound.size(), 1u);

  // A re-prepare after a commit (WorkArounds 0x1) that pauses.
  connection_->workArounds_ = BaseConnection::waKeepPrepared;
  connection_->commitBehaviour = SQL_CB_DELETE;
  ASSERT_EQ(connection_->SQLSetConnectOption(SQL_AUTOCOMMIT, 0), SQL_SUCCESS);
  ASSERT_EQ(prepare(statement_, "insert into t values (?)"), SQL_SUCCESS);
  ASSERT_EQ(connection_->SQLTransact(SQL_COMMIT), SQL_SUCCESS);
  statement_->compiled.clear();
  statement_->compilePauses = 1;
  ASSERT_EQ(statement_->SQLExecute(), SQL_STILL_EXECUTING);
  EXPECT_EQ(statement_->SQLExecute(), SQL_SUCCESS);
  EXPECT_EQ(statement_->compiled, std::vector<std::string>{"insert into t values (?)"});

  // A compile within an execution (new parameter descriptions) cannot
  // pause: the execution fails instead of running an uncompiled statement.
  const int executions = statement_->executions;
  ASSERT_EQ(statement_->SQLBindParameter(1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_SMALLINT, 0, 0, &v, 0, nullptr),
            SQL_SUCCESS);
  statement_->compilePauses = 1;
  EXPECT_EQ(statement_->SQLExecute(), SQL_ERROR);
  EXPECT_EQ(state(), "S1000");
  EXPECT_EQ(statement_->executions, executions);
  EXPECT_FALSE(statement_->getFlags() & BaseStatement::flagAsync);
  EXPECT_EQ(statement_->SQLExecute(), SQL_SUCCESS) << "compiled now";

  // A prepare whose resumed compile fails leaves the statement allocated.
  statement_->compilePauses = 1;
  ASSERT_EQ(prepare(statement_, "select a from t"), SQL_STILL_EXECUTING);
  statement_->failPrepare = true;
  EXPECT_EQ(prepare(statement_, "select a from t"), SQL_ERROR);
  EXPECT_EQ(statement_->getCursorState(), cursorAllocated);
  EXPECT_FALSE(statement_->getFlags() & BaseStatement::flagAsync);
}

}  // namespace
