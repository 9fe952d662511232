// The file SQL engine through the real unixODBC Driver Manager, from a C++
// application: the test file driver's connection with the engine's keys,
// SQLGetInfo rows and connection options, and manual-commit mode.
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

class FlatDriverManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kve2eflatXXXXXX";
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
  }
  void TearDown() override {
    SQLFreeConnect(dbc_);
    SQLFreeEnv(env_);
    for (const char* name : {"/odbcinst.ini", "/odbc.ini", "/user.ini"}) unlink((dir_ + name).c_str());
    rmdir(data_.c_str());
    rmdir(dir_.c_str());
  }
  std::string state() {
    SQLCHAR text[6] = {0}, message[512];
    SQLINTEGER native = 0;
    SQLError(env_, dbc_, SQL_NULL_HSTMT, text, &native, message, sizeof(message), nullptr);
    return reinterpret_cast<char*>(text);
  }

  std::string dir_, data_;
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
};

TEST_F(FlatDriverManagerTest, ConnectionOptionsAndInformation) {
  ASSERT_EQ(SQLConnect(dbc_, (SQLCHAR*)"Files", SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  char text[64] = {0};
  SQLSMALLINT length = 0;
  ASSERT_EQ(SQLGetInfo(dbc_, SQL_IDENTIFIER_QUOTE_CHAR, text, sizeof(text), &length), SQL_SUCCESS);
  EXPECT_STREQ(text, "`");
  SQLUINTEGER mask = 0;
  ASSERT_EQ(SQLGetInfo(dbc_, SQL_TIMEDATE_FUNCTIONS, &mask, sizeof(mask), nullptr), SQL_SUCCESS);
  EXPECT_EQ(mask, 0x126u);

  char qualifier[SQL_MAX_OPTION_STRING_LENGTH + 1] = {0};
  ASSERT_EQ(SQLGetConnectOption(dbc_, SQL_CURRENT_QUALIFIER, qualifier), SQL_SUCCESS);
  EXPECT_EQ(std::string(qualifier), data_);
  EXPECT_EQ(SQLSetConnectOption(dbc_, SQL_TRANSLATE_OPTION, 1), SQL_ERROR);
  EXPECT_EQ(state(), "S1C00");
  EXPECT_EQ(SQLSetConnectOption(dbc_, SQL_ACCESS_MODE, SQL_MODE_READ_ONLY), SQL_SUCCESS);

  EXPECT_EQ(SQLSetConnectOption(dbc_, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
  EXPECT_EQ(SQLTransact(env_, dbc_, SQL_COMMIT), SQL_SUCCESS);
  EXPECT_EQ(SQLTransact(env_, dbc_, SQL_ROLLBACK), SQL_SUCCESS);
  EXPECT_EQ(SQLSetConnectOption(dbc_, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_ON), SQL_SUCCESS);
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
}

TEST_F(FlatDriverManagerTest, ValidateDbRefusesADirectoryThatIsAFile) {
  std::string text = "DRIVER={KvFlatTest};DB=" + dir_ + "/odbc.ini;ValidateDB=1";
  EXPECT_EQ(SQLDriverConnect(dbc_, nullptr, (SQLCHAR*)text.c_str(), SQL_NTS, nullptr, 0, nullptr,
                             SQL_DRIVER_NOPROMPT),
            SQL_ERROR);
  SQLCHAR sqlState[6] = {0}, message[512] = {0};
  SQLINTEGER native = 0;
  ASSERT_EQ(SQLError(env_, dbc_, SQL_NULL_HSTMT, sqlState, &native, message, sizeof(message), nullptr),
            SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(sqlState), "S1000");
  EXPECT_NE(std::string(reinterpret_cast<char*>(message)).find("The filename does not exist: " + dir_),
            std::string::npos)
      << message;
}

}  // namespace
