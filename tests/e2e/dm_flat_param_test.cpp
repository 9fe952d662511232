// Parameters and DDL of the file SQL engine through the real unixODBC Driver
// Manager, from a C++ application: a table made with CREATE TABLE, then
// values bound with SQLBindParameter as an application binds them, wide
// text included, and the engine's refusals as the application sees them.
#include "flat_dm_fixture.h"

#include <string>

namespace {

// An empty data folder: the test makes its table with CREATE TABLE.
class FlatParamManagerTest : public FlatDriverManagerTest {
 protected:
  FlatParamManagerTest() : FlatDriverManagerTest(false) {}
};

TEST_F(FlatParamManagerTest, BoundValuesAndRefusals) {
  ASSERT_EQ(SQLExecDirect(stmt_, (SQLCHAR*)"CREATE TABLE words (id INTEGER, word CHAR(10))", SQL_NTS), SQL_SUCCESS)
      << error();
  struct stat st;
  ASSERT_EQ(stat((data_ + "/words.ftt").c_str(), &st), 0);
  ASSERT_EQ(SQLPrepare(stmt_, (SQLCHAR*)"SELECT id FROM words WHERE word = ? AND id = ?", SQL_NTS), SQL_SUCCESS)
      << error();

  // "é€" as UTF-16LE, the way pyodbc sends text by default.
  SQLWCHAR wide[3] = {0x00E9, 0x20AC, 0};
  SQLLEN wideLength = 4;
  SQLINTEGER id = 1;
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 2, 0, wide, sizeof(wide),
                             &wideLength),
            SQL_SUCCESS);
  ASSERT_EQ(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &id, 0, nullptr),
            SQL_SUCCESS);
  EXPECT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << error();
  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);

  // A wide text where the statement compares with a number: its ODBC 2
  // meaning, VARCHAR, is checked, and refused.
  ASSERT_EQ(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 2, 0, wide, sizeof(wide),
                             &wideLength),
            SQL_SUCCESS);
  EXPECT_EQ(SQLExecute(stmt_), SQL_ERROR);
  const std::string refusal = error();
  EXPECT_EQ(refusal.substr(0, 6), "07006 ") << refusal;
  EXPECT_NE(refusal.find("The SQL type given for parameter 2 is inconsistent"), std::string::npos) << refusal;

  // A text with a zero byte inside its length.
  char text[4] = {'a', 'b', 0, 'c'};
  SQLLEN textLength = 4;
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 4, 0, text, 4, &textLength),
            SQL_SUCCESS);
  ASSERT_EQ(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &id, 0, nullptr),
            SQL_SUCCESS);
  EXPECT_EQ(SQLExecute(stmt_), SQL_ERROR);
  EXPECT_NE(error().find("Embedded NULL terminators are not allowed in SQL_C_CHAR parameters."), std::string::npos)
      << error();
  textLength = SQL_NTS;
  EXPECT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << error();
  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);

  // The prepared statement holds the table open: another statement cannot
  // drop it; the statement itself can, its query going first.
  SQLHSTMT other = SQL_NULL_HSTMT;
  ASSERT_EQ(SQLAllocStmt(dbc_, &other), SQL_SUCCESS);
  EXPECT_EQ(SQLExecDirect(other, (SQLCHAR*)"DROP TABLE words", SQL_NTS), SQL_ERROR);
  SQLCHAR state[6] = {0}, message[512] = {0};
  SQLINTEGER native = 0;
  SQLError(env_, dbc_, other, state, &native, message, sizeof(message), nullptr);
  EXPECT_NE(std::string(reinterpret_cast<char*>(message)).find("You cannot delete a file that is already open"),
            std::string::npos)
      << message;
  SQLFreeStmt(other, SQL_DROP);
  EXPECT_EQ(SQLExecDirect(stmt_, (SQLCHAR*)"DROP TABLE words", SQL_NTS), SQL_SUCCESS) << error();
  EXPECT_NE(stat((data_ + "/words.ftt").c_str(), &st), 0);
}

}  // namespace
