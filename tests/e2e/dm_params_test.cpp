// Parameters through the real unixODBC Driver Manager on the test driver's
// table ITEMS (drivers/test/test_items.h), as a C application sends them:
// a long value in pieces with SQLPutData, rows of SQLParamOptions with the
// row counter, a statement with a marker left unbound. Row counts of
// UPDATE and DELETE show which rows a value matched.
#include "odbc_env.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class ParamsDmTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(odbcOpen("Items", &env_, &dbc_, &stmt_), SQL_SUCCESS); }
  void TearDown() override { odbcClose(env_, dbc_, stmt_); }
  std::string state() {
    auto all = diagnostics(nullptr, nullptr, stmt_);
    return all.empty() ? "" : all[0].state + " " + all[0].text;
  }
  SQLLEN run(const char* sql) {
    EXPECT_EQ(SQLFreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);
    EXPECT_EQ(SQLExecDirect(stmt_, (SQLCHAR*)sql, SQL_NTS), SQL_SUCCESS) << sql << ": " << state();
    SQLLEN rows = -7;
    EXPECT_EQ(SQLRowCount(stmt_, &rows), SQL_SUCCESS);
    return rows;
  }

  PrivateOdbc odbc_{"[Items]\nDriver=KvTest\n"};
  SQLHENV env_ = nullptr;
  SQLHDBC dbc_ = nullptr;
  SQLHSTMT stmt_ = nullptr;
};

TEST_F(ParamsDmTest, ALongValueSentInPiecesArrivesWhole) {
  std::string note;
  for (int i = 0; i < 30000; ++i) note.push_back(char('a' + i % 26));
  ASSERT_EQ(SQLPrepare(stmt_, (SQLCHAR*)"INSERT INTO ITEMS (ID, NOTE) VALUES (1, ?)", SQL_NTS), SQL_SUCCESS);
  SQLLEN atExec = SQL_LEN_DATA_AT_EXEC(SQLLEN(note.size()));
  char token[] = "note";
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_LONGVARCHAR, 0, 0, token, 0, &atExec),
            SQL_SUCCESS);
  ASSERT_EQ(SQLExecute(stmt_), SQL_NEED_DATA);
  SQLPOINTER got = nullptr;
  ASSERT_EQ(SQLParamData(stmt_, &got), SQL_NEED_DATA);
  EXPECT_EQ(got, token);
  for (size_t at = 0; at < note.size(); at += 7000) {
    const size_t piece = std::min<size_t>(7000, note.size() - at);
    ASSERT_EQ(SQLPutData(stmt_, &note[at], SQLLEN(piece)), SQL_SUCCESS) << state();
  }
  ASSERT_EQ(SQLParamData(stmt_, &got), SQL_SUCCESS) << state();
  SQLLEN rows = 0;
  ASSERT_EQ(SQLRowCount(stmt_, &rows), SQL_SUCCESS);
  EXPECT_EQ(rows, 1);

  // Only the whole value matches the row.
  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_RESET_PARAMS), SQL_SUCCESS);
  ASSERT_EQ(SQLPrepare(stmt_, (SQLCHAR*)"DELETE FROM ITEMS WHERE NOTE LIKE ?", SQL_NTS), SQL_SUCCESS);
  SQLLEN length = SQLLEN(note.size() - 1);
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_LONGVARCHAR, note.size(), 0, &note[0],
                             SQLLEN(note.size()), &length),
            SQL_SUCCESS);
  ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << state();
  ASSERT_EQ(SQLRowCount(stmt_, &rows), SQL_SUCCESS);
  EXPECT_EQ(rows, 0);
  length = SQLLEN(note.size());
  ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << state();
  ASSERT_EQ(SQLRowCount(stmt_, &rows), SQL_SUCCESS);
  EXPECT_EQ(rows, 1);
}

TEST_F(ParamsDmTest, RowsOfParamOptionsAreCountedTogether) {
  ASSERT_EQ(SQLPrepare(stmt_, (SQLCHAR*)"INSERT INTO ITEMS (ID, NAME) VALUES (?, ?)", SQL_NTS), SQL_SUCCESS);
  SQLINTEGER ids[4] = {1, 2, 3, 4};
  char names[4][8] = {"one", "two", "it's", "four"};
  SQLLEN lengths[4] = {SQL_NTS, SQL_NTS, SQL_NTS, SQL_NULL_DATA};
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, ids, 0, nullptr), SQL_SUCCESS);
  ASSERT_EQ(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 7, 0, names, 8, lengths),
            SQL_SUCCESS);
  SQLULEN row = 0;
  ASSERT_EQ(SQLParamOptions(stmt_, 4, &row), SQL_SUCCESS);
  ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << state();
  EXPECT_EQ(row, 4u);
  SQLLEN rows = 0;
  ASSERT_EQ(SQLRowCount(stmt_, &rows), SQL_SUCCESS);
  EXPECT_EQ(rows, 4);
  ASSERT_EQ(SQLParamOptions(stmt_, 1, nullptr), SQL_SUCCESS);
  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_RESET_PARAMS), SQL_SUCCESS);
  EXPECT_EQ(run("UPDATE ITEMS SET PRICE = 1 WHERE NAME = 'it''s' AND ID = 3"), 1);
  EXPECT_EQ(run("DELETE FROM ITEMS WHERE NAME IS NULL"), 1);
  EXPECT_EQ(run("DELETE FROM ITEMS"), 3);
}

TEST_F(ParamsDmTest, AMarkerWithoutAValue) {
  ASSERT_EQ(SQLPrepare(stmt_, (SQLCHAR*)"UPDATE ITEMS SET NAME = ? WHERE ID = ?", SQL_NTS), SQL_SUCCESS);
  SQLSMALLINT params = 0;
  ASSERT_EQ(SQLNumParams(stmt_, &params), SQL_SUCCESS);
  EXPECT_EQ(params, 2);
  SQLINTEGER id = 1;
  ASSERT_EQ(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &id, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(SQLExecute(stmt_), SQL_ERROR);
  auto all = diagnostics(nullptr, nullptr, stmt_);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].state, "07001");
  EXPECT_NE(all[0].text.find("Value has not been specified for parameter 1."), std::string::npos);
}

// The test driver executes no positioned statements itself: the framework
// turns WHERE CURRENT OF into a search over the cursor's columns, and says
// so when that search changed more than the cursor's row.
TEST_F(ParamsDmTest, EmulatedPositionedUpdate) {
  EXPECT_EQ(run("INSERT INTO ITEMS (ID, NAME) VALUES (1, 'twin')"), 1);
  EXPECT_EQ(run("INSERT INTO ITEMS (ID, NAME) VALUES (1, 'twin')"), 1);
  EXPECT_EQ(run("INSERT INTO ITEMS (ID, NAME) VALUES (2, 'single')"), 1);
  SQLHSTMT cursor = nullptr;
  ASSERT_EQ(SQLAllocStmt(dbc_, &cursor), SQL_SUCCESS);
  ASSERT_EQ(SQLExecDirect(cursor, (SQLCHAR*)"SELECT ID, NAME FROM ITEMS FOR UPDATE OF NAME", SQL_NTS), SQL_SUCCESS);
  SQLCHAR name[32] = {0};
  SQLSMALLINT nameLength = 0;
  ASSERT_EQ(SQLGetCursorName(cursor, name, sizeof(name), &nameLength), SQL_SUCCESS);
  const std::string update = std::string("UPDATE ITEMS SET NAME = 'changed' WHERE CURRENT OF ") + (char*)name;

  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);
  EXPECT_EQ(SQLExecDirect(stmt_, (SQLCHAR*)update.c_str(), SQL_NTS), SQL_ERROR) << "not on a row yet";
  EXPECT_EQ(state().substr(0, 5), "24000");

  ASSERT_EQ(SQLFetch(cursor), SQL_SUCCESS);
  EXPECT_EQ(SQLExecDirect(stmt_, (SQLCHAR*)update.c_str(), SQL_NTS), SQL_SUCCESS_WITH_INFO);
  auto all = diagnostics(nullptr, nullptr, stmt_);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].state, "01S04");
  EXPECT_NE(all[0].text.find("More than one row was affected by CURRENT-OF-CURSOR emulation."), std::string::npos);
  SQLLEN rows = 0;
  ASSERT_EQ(SQLRowCount(stmt_, &rows), SQL_SUCCESS);
  EXPECT_EQ(rows, 2);

  ASSERT_EQ(SQLFetch(cursor), SQL_SUCCESS);
  ASSERT_EQ(SQLFetch(cursor), SQL_SUCCESS);  // the single row
  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);
  EXPECT_EQ(SQLExecDirect(stmt_, (SQLCHAR*)update.c_str(), SQL_NTS), SQL_SUCCESS) << state();
  EXPECT_EQ(run("DELETE FROM ITEMS WHERE NAME = 'changed'"), 3);
  SQLFreeStmt(cursor, SQL_DROP);
}

TEST_F(ParamsDmTest, StatementsOutsideTheGrammarAreSyntaxErrors) {
  for (const char* sql : {"INSERT INTO ITEMS VALUES (1, 'a'", "DELETE FROM ITEMS WHERE NOPE = 1",
                          "UPDATE ITEMS SET ID = 'x' WHERE", "SELECT * FROM ITEMS WHERE NAME = 'open"}) {
    EXPECT_EQ(SQLExecDirect(stmt_, (SQLCHAR*)sql, SQL_NTS), SQL_ERROR) << sql;
    EXPECT_FALSE(state().empty()) << sql;
  }
}

}  // namespace
