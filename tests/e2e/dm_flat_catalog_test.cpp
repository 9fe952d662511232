// The file engine's catalog through the real unixODBC Driver Manager, from
// an ODBC 2 C++ application: SQLSpecialColumns by scope (the ROWID pseudo
// column within a transaction, the shortest unique key for a session),
// SQLStatistics' unique indexes, and the refusal of an owner.
#include <gtest/gtest.h>

#include "flat_dm_fixture.h"

#include <sql.h>
#include <sqlext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

typedef std::vector<std::vector<std::string>> Rows;

SQLCHAR* S(const char* text) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text)); }

class FlatCatalogDriverManagerTest : public FlatDriverManagerTest {
 protected:
  // An empty data folder; the tables come from CREATE statements.
  FlatCatalogDriverManagerTest() : FlatDriverManagerTest(false) {}
  void SetUp() override {
    FlatDriverManagerTest::SetUp();
    if (HasFatalFailure()) return;
    for (const char* sql : {"CREATE TABLE dept (title CHAR(20), code CHAR(2), n INTEGER)",
                            "CREATE UNIQUE INDEX bytitle ON dept (title)", "CREATE UNIQUE INDEX bycode ON dept (code)",
                            "CREATE INDEX byn ON dept (n)", "CREATE TABLE plain (a CHAR(1))"})
      ASSERT_EQ(SQLExecDirect(stmt_, S(sql), SQL_NTS), SQL_SUCCESS) << sql << " " << state();
  }
  std::string state() {
    SQLCHAR text[6] = {0}, message[512];
    SQLINTEGER native = 0;
    SQLError(env_, dbc_, stmt_, text, &native, message, sizeof(message), nullptr);
    return reinterpret_cast<char*>(text);
  }
  // Every row of the result, columns as text ("NULL" for NULL); the cursor
  // is closed afterwards.
  Rows rows() {
    Rows out;
    SQLSMALLINT columns = 0;
    EXPECT_EQ(SQLNumResultCols(stmt_, &columns), SQL_SUCCESS);
    for (int guard = 0; guard < 1000; ++guard) {
      SQLRETURN rc = SQLFetch(stmt_);
      if (rc == SQL_NO_DATA_FOUND) break;
      EXPECT_EQ(rc, SQL_SUCCESS) << state();
      if (rc != SQL_SUCCESS) break;
      std::vector<std::string> row;
      for (SQLUSMALLINT c = 1; c <= SQLUSMALLINT(columns); ++c) {
        char value[300] = {0};
        SQLLEN length = 0;
        EXPECT_EQ(SQLGetData(stmt_, c, SQL_C_CHAR, value, sizeof(value), &length), SQL_SUCCESS);
        row.push_back(length == SQL_NULL_DATA ? "NULL" : value);
      }
      out.push_back(row);
    }
    EXPECT_EQ(SQLFreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);
    return out;
  }
  SQLRETURN special(const char* table, SQLUSMALLINT scope, SQLUSMALLINT nullable = SQL_NULLABLE) {
    return SQLSpecialColumns(stmt_, SQL_BEST_ROWID, nullptr, 0, nullptr, 0, S(table), SQL_NTS, scope, nullable);
  }

};

TEST_F(FlatCatalogDriverManagerTest, SpecialColumnsByScope) {
  // SCOPE COLUMN_NAME DATA_TYPE TYPE_NAME PRECISION LENGTH SCALE PSEUDO_COLUMN
  const Rows rowId = {{"1", "ROWID", "8", "DOUBLE", "15", "8", "NULL", "2"}};
  for (SQLUSMALLINT scope : {SQL_SCOPE_CURROW, SQL_SCOPE_TRANSACTION}) {
    ASSERT_EQ(special("dept", scope), SQL_SUCCESS) << state();
    EXPECT_EQ(rows(), rowId) << scope;
    ASSERT_EQ(special("plain", scope), SQL_SUCCESS) << state();
    EXPECT_EQ(rows(), rowId) << scope;
  }
  // For a session only a unique key holds: the shorter of two.
  ASSERT_EQ(special("DEPT", SQL_SCOPE_SESSION), SQL_SUCCESS) << state();
  EXPECT_EQ(rows(), (Rows{{"2", "CODE", "1", "CHAR", "2", "2", "NULL", "1"}}));
  ASSERT_EQ(special("plain", SQL_SCOPE_SESSION), SQL_SUCCESS) << state();
  EXPECT_EQ(rows(), Rows{});
  ASSERT_EQ(special("nope", SQL_SCOPE_CURROW), SQL_SUCCESS) << state();
  EXPECT_EQ(rows(), Rows{});
}

TEST_F(FlatCatalogDriverManagerTest, StatisticsAndAnOwnerRefused) {
  ASSERT_EQ(SQLStatistics(stmt_, nullptr, 0, nullptr, 0, S("dept"), SQL_NTS, SQL_INDEX_UNIQUE, SQL_QUICK), SQL_SUCCESS)
      << state();
  std::vector<std::string> indexes;
  for (const auto& row : rows()) indexes.push_back(row[5] + ":" + row[3]);  // INDEX_NAME:NON_UNIQUE
  EXPECT_EQ(indexes, (std::vector<std::string>{"CODE:0", "TITLE:0", "NULL:NULL"}));
  ASSERT_EQ(SQLStatistics(stmt_, nullptr, 0, nullptr, 0, S("dept"), SQL_NTS, SQL_INDEX_ALL, SQL_QUICK), SQL_SUCCESS);
  EXPECT_EQ(rows().size(), 4u);

  EXPECT_EQ(SQLTables(stmt_, nullptr, 0, S("X"), SQL_NTS, nullptr, 0, nullptr, 0), SQL_ERROR);
  EXPECT_EQ(state(), "S1C00");
  EXPECT_EQ(SQLFreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);
  ASSERT_EQ(SQLTables(stmt_, nullptr, 0, nullptr, 0, nullptr, 0, S("VIEW"), SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(rows(), Rows{});
  ASSERT_EQ(SQLTables(stmt_, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  EXPECT_EQ(rows(), (Rows{{data_, "NULL", "dept", "TABLE", "NULL"}, {data_, "NULL", "plain", "TABLE", "NULL"}}));
}

}  // namespace
