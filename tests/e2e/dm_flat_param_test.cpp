// Parameters and DDL of the file SQL engine through the real unixODBC Driver
// Manager, from a C++ application: a table made with CREATE TABLE, then
// values bound with SQLBindParameter as an application binds them, wide
// text included, and the engine's refusals as the application sees them.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

class FlatParamManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kve2eparamXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    data_ = dir_ + "/data";
    ASSERT_EQ(mkdir(data_.c_str(), 0700), 0);
    std::ofstream(dir_ + "/odbcinst.ini") << "[KvFlatTest]\nDriver=" KV_FLATTEST_DRIVER "\n";
    std::ofstream(dir_ + "/odbc.ini") << "[Files]\nDriver=KvFlatTest\nDatabase=" << data_ << "\n";
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
    unlink((data_ + "/words.ftt").c_str());
    for (const char* name : {"/odbcinst.ini", "/odbc.ini", "/user.ini"}) unlink((dir_ + name).c_str());
    rmdir(data_.c_str());
    rmdir(dir_.c_str());
  }
  // The SQLSTATE and text of the statement's first error.
  std::string error() {
    SQLCHAR text[6] = {0}, message[512] = {0};
    SQLINTEGER native = 0;
    SQLError(env_, dbc_, stmt_, text, &native, message, sizeof(message), nullptr);
    return std::string(reinterpret_cast<char*>(text)) + " " + reinterpret_cast<char*>(message);
  }

  std::string dir_, data_;
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
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
