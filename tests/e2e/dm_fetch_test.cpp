// Result columns and fetching through the real unixODBC Driver Manager on
// the test driver's fixed tables (drivers/test/test_table.h), as a C
// application of ODBC 2 sees them: SQLFetch arriving as SQLExtendedFetch
// (ExFetchMapping 1, unixODBC's default) and as itself (ExFetchMapping 0),
// bound columns and rowsets, SQLGetData in pieces, NULLs, scrolling.
#include "odbc_env.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

const char dataSources[] =
    "[Plain]\nDriver=KvTest\nDriverName=Plain\n\n"
    "[Unmapped]\nDriver=KvTest2\nDriverName=Unmapped\n";

class FetchTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    // The second driver library fetches without SQLFetch being mapped
    // (ExFetchMapping=0 in the shared odbcinst.ini).
    ASSERT_TRUE(SQL_SUCCEEDED(odbcOpen(GetParam(), &env_, &dbc_, &stmt_)));
  }
  void TearDown() override { odbcClose(env_, dbc_, stmt_); }
  void exec(const char* sql) { ASSERT_EQ(SQLExecDirect(stmt_, (SQLCHAR*)sql, SQL_NTS), SQL_SUCCESS) << sql; }

  PrivateOdbc odbc_{dataSources};
  SQLHENV env_ = nullptr;
  SQLHDBC dbc_ = nullptr;
  SQLHSTMT stmt_ = nullptr;
};

TEST_P(FetchTest, EveryColumnOfTheTableArrivesRight) {
  exec("SELECT * FROM ALLTYPES");
  SQLSMALLINT columns = 0;
  ASSERT_EQ(SQLNumResultCols(stmt_, &columns), SQL_SUCCESS);
  EXPECT_EQ(columns, 21);
  SQLLEN display = 0;
  ASSERT_EQ(SQLColAttributes(stmt_, 7, SQL_COLUMN_DISPLAY_SIZE, nullptr, 0, nullptr, &display), SQL_SUCCESS);
  EXPECT_EQ(display, 10) << "an unsigned INTEGER";

  SQLINTEGER id = 0;
  SQLLEN idLength = 0;
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_LONG, &id, 0, &idLength), SQL_SUCCESS);
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  EXPECT_EQ(id, 1);
  SQLLEN length = 0;
  char text[64];
  ASSERT_EQ(SQLGetData(stmt_, 18, SQL_C_CHAR, text, sizeof(text), &length), SQL_SUCCESS);
  EXPECT_STREQ(text, "caf\xe9");
  SQLUINTEGER ulong = 0;
  ASSERT_EQ(SQLGetData(stmt_, 7, SQL_C_ULONG, &ulong, 0, &length), SQL_SUCCESS);
  EXPECT_EQ(ulong, 4000000000u);
  int64_t big = 0;
  ASSERT_EQ(SQLGetData(stmt_, 8, SQL_C_SBIGINT, &big, 0, &length), SQL_SUCCESS);
  EXPECT_EQ(big, -9000000000000);
  DATE_STRUCT day{};
  ASSERT_EQ(SQLGetData(stmt_, 14, SQL_C_DATE, &day, 0, &length), SQL_SUCCESS);
  EXPECT_EQ(day.year * 10000 + day.month * 100 + day.day, 20240229);
  ASSERT_EQ(SQLGetData(stmt_, 10, SQL_C_CHAR, text, sizeof(text), &length), SQL_SUCCESS);
  EXPECT_STREQ(text, "1234567.89");
  // The long text in pieces of 1000 bytes, then no data.
  std::string notes;
  char piece[1001];
  SQLRETURN rc;
  while ((rc = SQLGetData(stmt_, 19, SQL_C_CHAR, piece, sizeof(piece), &length)) != SQL_NO_DATA_FOUND) {
    ASSERT_TRUE(SQL_SUCCEEDED(rc));
    notes += piece;
    ASSERT_LT(notes.size(), 6000u);
  }
  EXPECT_EQ(notes.size(), 5003u);
  EXPECT_EQ(notes.substr(5000), "END");
  unsigned char bytes[8];
  ASSERT_EQ(SQLGetData(stmt_, 20, SQL_C_BINARY, bytes, sizeof(bytes), &length), SQL_SUCCESS);
  EXPECT_EQ(length, 4);
  EXPECT_EQ(std::vector<int>(bytes, bytes + 4), (std::vector<int>{0, 1, 0xFE, 0xFF}));

  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  EXPECT_EQ(id, 2);
  for (SQLUSMALLINT column = 2; column <= 21; ++column) {
    length = 0;
    ASSERT_EQ(SQLGetData(stmt_, column, SQL_C_CHAR, text, sizeof(text), &length), SQL_SUCCESS) << column;
    EXPECT_EQ(length, SQL_NULL_DATA) << column;
  }
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  EXPECT_EQ(id, 3);
  EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA_FOUND);
}

// An ODBC 3 application's SQL_C_WCHAR reaches a 2.x driver as SQL_C_CHAR
// with half the buffer, and unixODBC widens the answer. Its widening writes
// one UTF-16 unit more than the answer holds, so it stays inside the
// application's buffer only while the whole value fits with two units to
// spare; within that the long text arrives whole.
TEST_P(FetchTest, WideTextThatFitsTheBufferArrivesWhole) {
  exec("SELECT * FROM ALLTYPES");
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  std::vector<SQLWCHAR> wide(5003 + 2);
  SQLLEN length = 0;
  ASSERT_EQ(SQLGetData(stmt_, 19, SQL_C_WCHAR, wide.data(), SQLLEN(wide.size() * sizeof(SQLWCHAR)), &length),
            SQL_SUCCESS);
  EXPECT_EQ(length, SQLLEN(5003 * sizeof(SQLWCHAR)));
  const std::string notes(wide.begin(), wide.begin() + 5003);
  EXPECT_EQ(notes.substr(0, 21), "line 0 of the notes; ");
  EXPECT_EQ(notes.substr(5000), "END");
  EXPECT_EQ(wide[5003], 0);
  SQLWCHAR name[8] = {};
  ASSERT_EQ(SQLGetData(stmt_, 18, SQL_C_WCHAR, name, sizeof(name), &length), SQL_SUCCESS);
  EXPECT_EQ(length, SQLLEN(4 * sizeof(SQLWCHAR)));
  EXPECT_EQ(std::vector<int>(name, name + 5), (std::vector<int>{'c', 'a', 'f', 0xE9, 0}));
}

TEST_P(FetchTest, ARowsetSizeSetByStatementOption) {
  ASSERT_TRUE(SQL_SUCCEEDED(SQLSetStmtOption(stmt_, SQL_ROWSET_SIZE, 5)));
  exec("SELECT N FROM NUMBERS 12");
  SQLINTEGER numbers[5];
  SQLLEN lengths[5];
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_LONG, numbers, 0, lengths), SQL_SUCCESS);
  std::vector<SQLINTEGER> seen;
  for (int calls = 0; calls < 20 && SQLFetch(stmt_) == SQL_SUCCESS; ++calls) seen.push_back(numbers[0]);
  // Mapped to SQLExtendedFetch, each SQLFetch moves a rowset of 5; as
  // itself, one row.
  const bool mapped = std::string(GetParam()) == "Plain";
  const std::vector<SQLINTEGER> expected =
      mapped ? std::vector<SQLINTEGER>{1, 6, 11} : std::vector<SQLINTEGER>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  EXPECT_EQ(seen, expected);
}

TEST_P(FetchTest, ExtendedFetchScrollsAStaticCursor) {
  ASSERT_TRUE(SQL_SUCCEEDED(SQLSetStmtOption(stmt_, SQL_CURSOR_TYPE, SQL_CURSOR_STATIC)));
  ASSERT_TRUE(SQL_SUCCEEDED(SQLSetStmtOption(stmt_, SQL_ROWSET_SIZE, 10)));
  exec("SELECT N FROM NUMBERS 25");
  SQLINTEGER numbers[10];
  ASSERT_EQ(SQLBindCol(stmt_, 1, SQL_C_LONG, numbers, 0, nullptr), SQL_SUCCESS);
  SQLULEN fetched = 0;
  SQLUSMALLINT statuses[10];
  ASSERT_EQ(SQLExtendedFetch(stmt_, SQL_FETCH_LAST, 0, &fetched, statuses), SQL_SUCCESS);
  EXPECT_EQ(fetched, 10u);
  EXPECT_EQ(numbers[0], 16);
  EXPECT_EQ(numbers[9], 25);
  ASSERT_EQ(SQLExtendedFetch(stmt_, SQL_FETCH_ABSOLUTE, 23, &fetched, statuses), SQL_SUCCESS);
  EXPECT_EQ(fetched, 3u);
  EXPECT_EQ(statuses[2], SQL_ROW_SUCCESS);
  EXPECT_EQ(statuses[3], SQL_ROW_NOROW);
}

INSTANTIATE_TEST_SUITE_P(Mappings, FetchTest, ::testing::Values("Plain", "Unmapped"));

}  // namespace
