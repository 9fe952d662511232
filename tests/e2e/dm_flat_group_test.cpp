// Grouped results and UNION results of the file SQL engine through the
// real unixODBC Driver Manager, from a C++ application: SQLExtendedFetch's
// absolute and relative moves over grouped rows and over UNION pairs that
// come from different SELECTs of the chain, and a failing fetch that
// reports its error once and then ends the result.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

class FlatGroupManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kve2egroupXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    const std::string data = dir_ + "/data";
    ASSERT_EQ(mkdir(data.c_str(), 0700), 0);
    const std::string tables = "python3 " KV_E2E_SOURCE_DIR "/flattest_tables.py " + data;
    ASSERT_EQ(std::system(tables.c_str()), 0);
    std::ofstream(dir_ + "/odbcinst.ini") << "[KvFlatTest]\nDriver=" KV_FLATTEST_DRIVER "\n";
    std::ofstream(dir_ + "/odbc.ini") << "[Files]\nDriver=KvFlatTest\nDatabase=" << data << "\n";
    std::ofstream(dir_ + "/user.ini") << "";
    setenv("ODBCSYSINI", dir_.c_str(), 1);
    setenv("ODBCINI", (dir_ + "/user.ini").c_str(), 1);
    ASSERT_EQ(SQLAllocEnv(&env_), SQL_SUCCESS);
    ASSERT_EQ(SQLAllocConnect(env_, &dbc_), SQL_SUCCESS);
    ASSERT_EQ(SQLConnect(dbc_, (SQLCHAR*)"Files", SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS);
    ASSERT_EQ(SQLAllocStmt(dbc_, &stmt_), SQL_SUCCESS);
  }
  void TearDown() override {
    SQLFreeStmt(stmt_, SQL_DROP);
    SQLDisconnect(dbc_);
    SQLFreeConnect(dbc_);
    SQLFreeEnv(env_);
    std::system(("rm -rf " + dir_).c_str());
  }
  std::string error() {
    SQLCHAR state[6] = {0}, message[512] = {0};
    SQLINTEGER native = 0;
    SQLError(env_, dbc_, stmt_, state, &native, message, sizeof(message), nullptr);
    return std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(message);
  }
  void keysetCursor() {
    ASSERT_TRUE(SQL_SUCCEEDED(SQLSetStmtOption(stmt_, SQL_CURSOR_TYPE, SQL_CURSOR_KEYSET_DRIVEN))) << error();
  }
  // The current row's first two columns as "a|b" (NULL as "NULL").
  std::string row() {
    std::string out;
    for (SQLUSMALLINT c = 1; c <= 2; ++c) {
      char text[64] = {0};
      SQLLEN length = 0;
      if (!SQL_SUCCEEDED(SQLGetData(stmt_, c, SQL_C_CHAR, text, sizeof text, &length))) return "ERROR " + error();
      std::string value = length == SQL_NULL_DATA ? "NULL" : text;
      value.erase(value.find_last_not_of(' ') + 1);
      out += (c > 1 ? "|" : "") + value;
    }
    return out;
  }
  // Moves the cursor and gives the row it stands on, or "NOROW".
  std::string move(SQLUSMALLINT how, SQLLEN where) {
    SQLULEN fetched = 0;
    SQLUSMALLINT status[1] = {0};
    const SQLRETURN rc = SQLExtendedFetch(stmt_, how, where, &fetched, status);
    if (rc == SQL_NO_DATA_FOUND) return "NOROW";
    if (!SQL_SUCCEEDED(rc)) return "ERROR " + error();
    return row();
  }

  std::string dir_;
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
};

TEST_F(FlatGroupManagerTest, ExtendedFetchMovesOverGroupedRows) {
  keysetCursor();
  ASSERT_EQ(SQLExecDirect(stmt_, (SQLCHAR*)"SELECT active, COUNT(*), SUM(sal) FROM emp GROUP BY active", SQL_NTS),
            SQL_SUCCESS)
      << error();
  // Groups in ascending order of ACTIVE, NULL first.
  EXPECT_EQ(move(SQL_FETCH_ABSOLUTE, 3), "1|2");
  EXPECT_EQ(move(SQL_FETCH_PRIOR, 0), "0|1");
  EXPECT_EQ(move(SQL_FETCH_FIRST, 0), "NULL|1");
  EXPECT_EQ(move(SQL_FETCH_ABSOLUTE, 4), "NOROW");
  EXPECT_EQ(move(SQL_FETCH_LAST, 0), "1|2");
}

TEST_F(FlatGroupManagerTest, ExtendedFetchMovesOverUnionPairs) {
  keysetCursor();
  ASSERT_EQ(SQLExecDirect(stmt_,
                          (SQLCHAR*)"SELECT id, name FROM emp WHERE id < 3 UNION SELECT id, title FROM dept "
                                    "UNION SELECT id, name FROM emp WHERE id = 1 ORDER BY 1 DESC",
                          SQL_NTS),
            SQL_SUCCESS)
      << error();
  // Rows of both tables, one of each duplicate: 9|Nobody, 2|JONES,
  // 2|Sales, 1|Accounting, 1|SMITH.
  EXPECT_EQ(move(SQL_FETCH_ABSOLUTE, 4), "1|Accounting");
  EXPECT_EQ(move(SQL_FETCH_PRIOR, 0), "2|Sales");
  EXPECT_EQ(move(SQL_FETCH_PRIOR, 0), "2|JONES");
  EXPECT_EQ(move(SQL_FETCH_FIRST, 0), "9|Nobody");
  EXPECT_EQ(move(SQL_FETCH_LAST, 0), "1|SMITH");
  EXPECT_EQ(move(SQL_FETCH_NEXT, 0), "NOROW");
}

TEST_F(FlatGroupManagerTest, AFailingFetchReportsOnceThenTheResultEnds) {
  ASSERT_EQ(SQLExecDirect(stmt_, (SQLCHAR*)"SELECT id FROM emp WHERE id = (SELECT id FROM dept)", SQL_NTS),
            SQL_SUCCESS)
      << error();
  // The Driver Manager serves SQLFetch through SQLExtendedFetch with a
  // rowset of one: the failure shows as that row's error (01S01 and the
  // reason as warnings).
  const SQLRETURN rc = SQLFetch(stmt_);
  EXPECT_TRUE(rc == SQL_ERROR || rc == SQL_SUCCESS_WITH_INFO) << rc;
  std::string all;
  for (;;) {
    SQLCHAR state[6] = {0}, message[512] = {0};
    SQLINTEGER native = 0;
    if (!SQL_SUCCEEDED(SQLError(SQL_NULL_HENV, SQL_NULL_HDBC, stmt_, state, &native, message, sizeof(message),
                                nullptr)))
      break;
    all += std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(message) + "\n";
  }
  EXPECT_NE(all.find("The sub query returns more than one record."), std::string::npos) << all;
  EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA_FOUND);
}

}  // namespace
