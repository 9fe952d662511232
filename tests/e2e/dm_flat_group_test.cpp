// Grouped results and UNION results of the file SQL engine through the
// real unixODBC Driver Manager, from a C++ application: SQLExtendedFetch's
// absolute and relative moves over grouped rows and over UNION pairs that
// come from different SELECTs of the chain, and a failing fetch that
// reports its error once and then ends the result.
#include <gtest/gtest.h>

#include "flat_dm_fixture.h"

#include <sql.h>
#include <sqlext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

class FlatGroupManagerTest : public FlatDriverManagerTest {
 protected:
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
  // rowset of one: the row's failure fails the call with its reason.
  EXPECT_EQ(SQLFetch(stmt_), SQL_ERROR);
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
