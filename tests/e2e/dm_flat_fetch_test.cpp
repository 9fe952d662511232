// Fetching from the file SQL engine through the real unixODBC Driver
// Manager, from a C++ application: SQLExtendedFetch's absolute and relative
// moves over a keyset-driven cursor, long values in pieces through
// SQLGetData, and parameters that the cursor still reads after its last row.
#include <gtest/gtest.h>

#include "flat_dm_fixture.h"

#include <sql.h>
#include <sqlext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

class FlatFetchManagerTest : public FlatDriverManagerTest {
 protected:
  // All diagnostics of the statement, as "STATE text" lines.
  std::vector<std::string> messages() {
    std::vector<std::string> out;
    for (;;) {
      SQLCHAR text[6] = {0}, message[512] = {0};
      SQLINTEGER native = 0;
      if (!SQL_SUCCEEDED(SQLError(SQL_NULL_HENV, SQL_NULL_HDBC, stmt_, text, &native, message, sizeof(message),
                                  nullptr)))
        break;
      out.push_back(std::string(reinterpret_cast<char*>(text)) + " " + reinterpret_cast<char*>(message));
    }
    return out;
  }
  void keysetCursor(SQLULEN rowset) {
    ASSERT_TRUE(SQL_SUCCEEDED(SQLSetStmtOption(stmt_, SQL_CURSOR_TYPE, SQL_CURSOR_KEYSET_DRIVEN))) << error();
    ASSERT_TRUE(SQL_SUCCEEDED(SQLSetStmtOption(stmt_, SQL_ROWSET_SIZE, rowset))) << error();
  }

};

TEST_F(FlatFetchManagerTest, ExtendedFetchMovesOverTheKeyset) {
  keysetCursor(2);
  ASSERT_EQ(SQLExecDirect(stmt_, (SQLCHAR*)"SELECT id, name FROM emp ORDER BY id DESC", SQL_NTS), SQL_SUCCESS)
      << error();
  SQLINTEGER ids[2] = {0, 0};
  SQLLEN idLengths[2] = {0, 0};
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_LONG, ids, 0, idLengths), SQL_SUCCESS);
  SQLULEN fetched = 0;
  SQLUSMALLINT statuses[2] = {0, 0};
  struct Move {
    SQLUSMALLINT how;
    SQLLEN offset;
    SQLRETURN rc;
    SQLULEN fetched;
    SQLINTEGER first, second;
  } moves[] = {
      {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 2, 4, 3},       {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 2, 2, 1},
      {SQL_FETCH_ABSOLUTE, 2, SQL_SUCCESS, 2, 3, 2},   {SQL_FETCH_RELATIVE, -1, SQL_SUCCESS, 2, 4, 3},
      {SQL_FETCH_RELATIVE, 2, SQL_SUCCESS, 2, 2, 1},   {SQL_FETCH_LAST, 0, SQL_SUCCESS, 2, 2, 1},
      {SQL_FETCH_ABSOLUTE, 4, SQL_SUCCESS, 1, 1, -1},  {SQL_FETCH_ABSOLUTE, 5, SQL_NO_DATA_FOUND, 0, 0, 0},
      {SQL_FETCH_FIRST, 0, SQL_SUCCESS, 2, 4, 3},      {SQL_FETCH_PRIOR, 0, SQL_NO_DATA_FOUND, 0, 0, 0},
      {SQL_FETCH_ABSOLUTE, -1, SQL_SUCCESS, 1, 1, -1},
  };
  for (const Move& m : moves) {
    SCOPED_TRACE(std::to_string(m.how) + " " + std::to_string(m.offset));
    ids[0] = ids[1] = -1;
    ASSERT_EQ(SQLExtendedFetch(stmt_, m.how, m.offset, &fetched, statuses), m.rc) << error();
    if (m.rc != SQL_SUCCESS) continue;
    EXPECT_EQ(fetched, m.fetched);
    EXPECT_EQ(ids[0], m.first);
    EXPECT_EQ(statuses[0], SQL_ROW_SUCCESS);
    if (m.fetched == 2) {
      EXPECT_EQ(ids[1], m.second);
      EXPECT_EQ(statuses[1], SQL_ROW_SUCCESS);
    } else {
      EXPECT_EQ(statuses[1], SQL_ROW_NOROW);
    }
  }
}

TEST_F(FlatFetchManagerTest, ParametersOutliveTheLastRow) {
  // A subquery of the select list reads the parameter whenever a row's
  // value is read: after the last row, and after SQL_RESET_PARAMS (which
  // pyodbc calls right after SQLExecute), going back over the keyset still
  // sees the value the statement was executed with.
  keysetCursor(1);
  ASSERT_EQ(SQLPrepare(stmt_,
                       (SQLCHAR*)"SELECT id, (SELECT COUNT(*) FROM dept WHERE title = ?) FROM emp ORDER BY id",
                       SQL_NTS),
            SQL_SUCCESS)
      << error();
  char word[12] = "Sales";
  SQLLEN wordLength = SQL_NTS;
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_CHAR, 12, 0, word, 0, &wordLength),
            SQL_SUCCESS);
  ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << error();
  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_RESET_PARAMS), SQL_SUCCESS);
  std::strcpy(word, "Nothing");
  SQLULEN fetched = 0;
  SQLUSMALLINT status = 0;
  int rows = 0;
  while (SQLExtendedFetch(stmt_, SQL_FETCH_NEXT, 0, &fetched, &status) == SQL_SUCCESS) ++rows;
  EXPECT_EQ(rows, 4);
  ASSERT_EQ(SQLExtendedFetch(stmt_, SQL_FETCH_ABSOLUTE, 2, &fetched, &status), SQL_SUCCESS) << error();
  SQLINTEGER id = 0, count = 0;
  ASSERT_EQ(SQLGetData(stmt_, 1, SQL_C_LONG, &id, 0, nullptr), SQL_SUCCESS) << error();
  ASSERT_EQ(SQLGetData(stmt_, 2, SQL_C_LONG, &count, 0, nullptr), SQL_SUCCESS) << error();
  EXPECT_EQ(id, 2);
  EXPECT_EQ(count, 1);
  // Closed, the values are gone: executed again, a marker without a value
  // is the application's error.
  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);
  EXPECT_EQ(SQLExecute(stmt_), SQL_ERROR);
  // Bound again, the new value counts.
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_CHAR, 12, 0, word, 0, &wordLength),
            SQL_SUCCESS);
  ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << error();
  ASSERT_EQ(SQLExtendedFetch(stmt_, SQL_FETCH_NEXT, 0, &fetched, &status), SQL_SUCCESS) << error();
  ASSERT_EQ(SQLGetData(stmt_, 2, SQL_C_LONG, &count, 0, nullptr), SQL_SUCCESS) << error();
  EXPECT_EQ(count, 0);
}

TEST_F(FlatFetchManagerTest, LongTextInTenBytePieces) {
  ASSERT_EQ(SQLExecDirect(stmt_, (SQLCHAR*)"SELECT note FROM emp WHERE id = 2", SQL_NTS), SQL_SUCCESS) << error();
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS) << error();
  std::string whole;
  std::vector<SQLLEN> lengths;
  for (;;) {
    char piece[10];
    SQLLEN length = 0;
    SQLRETURN rc = SQLGetData(stmt_, 1, SQL_C_CHAR, piece, sizeof(piece), &length);
    if (rc == SQL_NO_DATA_FOUND) break;
    ASSERT_TRUE(SQL_SUCCEEDED(rc)) << error();
    lengths.push_back(length);
    if (rc == SQL_SUCCESS_WITH_INFO) {
      EXPECT_EQ(std::strlen(piece), 9u);
      std::vector<std::string> m = messages();
      ASSERT_FALSE(m.empty());
      EXPECT_EQ(m[0], "01004 [KESTRANE][ODBC FlatTest driver]Data truncated, column 1.");
    } else {
      EXPECT_EQ(rc, SQL_SUCCESS);
    }
    whole += piece;
  }
  EXPECT_EQ(whole, std::string(25, 'x'));
  // The length is what remains from each piece on.
  EXPECT_EQ(lengths, (std::vector<SQLLEN>{25, 16, 7}));
}

}  // namespace
