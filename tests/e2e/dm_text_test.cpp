// The text driver through the real unixODBC Driver Manager, from a C++
// application: SQLGetInfo (1027 and the read-only answer), the type table,
// a value longer than its column read with the truncation warning, index
// statements refused with the driver's messages, and a table name that
// carries its directory.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "odbc_handles.h"

namespace {

struct TextConfiguration {
  TextConfiguration() {
    char pattern[] = "/tmp/kve2etxtXXXXXX";
    const char* made = mkdtemp(pattern);
    dir = made ? made : "";
    data = dir + "/data";
    std::filesystem::create_directory(data);
    std::ofstream(dir + "/odbcinst.ini") << "[KvText]\nDriver=" KV_TEXT_DRIVER "\n";
    std::ofstream(dir + "/odbc.ini") << "[Texts]\nDriver=KvText\nDatabase=" << data << "\nMacFileInfo=ttxt,TEXT\n";
    std::ofstream(dir + "/user.ini") << "";
    setenv("ODBCSYSINI", dir.c_str(), 1);
    setenv("ODBCINI", (dir + "/user.ini").c_str(), 1);
    std::ofstream(data + "/KVTXT.INI", std::ios::binary)
        << "[Defined Tables]\r\nnotes.csv=notes\r\n\r\n[notes]\r\nFILE=notes.csv\r\nFLN=0\r\nTT=Comma\r\nCharset=ANSI\r\n"
           "FIELD1=ID,NUMERIC,3,0,3,0,\r\nFIELD2=TEXT,VARCHAR,5,0,5,0,\r\n";
    std::ofstream(data + "/notes.csv", std::ios::binary) << "1,short\r\n2,much too long\r\n";
  }
  ~TextConfiguration() {
    std::error_code ignored;
    if (!dir.empty()) std::filesystem::remove_all(dir, ignored);
  }
  std::string dir, data;
};

const TextConfiguration& configuration() {
  static TextConfiguration shared;
  return shared;
}

class DmTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    configuration();
    ASSERT_TRUE(SQL_SUCCEEDED(odbcOpen("Texts", &env_, &dbc_, &stmt_)));
  }
  void TearDown() override { odbcClose(env_, dbc_, stmt_); }
  std::string state(SQLHSTMT stmt, std::string* text = nullptr) {
    SQLCHAR sqlState[6] = {0}, message[512] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLError(env_, dbc_, stmt, sqlState, &native, message, sizeof(message), &length);
    if (text) *text = reinterpret_cast<char*>(message);
    return reinterpret_cast<char*>(sqlState);
  }
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
};

TEST_F(DmTextTest, InfoAndTypes) {
  char text[64] = {0};
  SQLSMALLINT length = 0;
  ASSERT_EQ(SQLGetInfo(dbc_, 1027, text, sizeof(text), &length), SQL_SUCCESS);
  EXPECT_STREQ(text, "TEXT");
  ASSERT_EQ(SQLGetInfo(dbc_, SQL_DATA_SOURCE_READ_ONLY, text, sizeof(text), &length), SQL_SUCCESS);
  EXPECT_STREQ(text, "N");
  ASSERT_EQ(SQLGetInfo(dbc_, SQL_DBMS_VER, text, sizeof(text), &length), SQL_SUCCESS);
  EXPECT_STREQ(text, "01.00.0000");
  ASSERT_EQ(SQLGetTypeInfo(stmt_, SQL_ALL_TYPES), SQL_SUCCESS);
  std::string names;
  while (SQLFetch(stmt_) == SQL_SUCCESS) {
    SQLLEN got = 0;
    ASSERT_TRUE(SQL_SUCCEEDED(SQLGetData(stmt_, 1, SQL_C_CHAR, text, sizeof(text), &got)));
    names += std::string(text) + ";";
  }
  EXPECT_EQ(names, "NUMERIC;DATE;VARCHAR;");
}

TEST_F(DmTextTest, AValueLongerThanItsColumnIsCutWithAWarning) {
  ASSERT_EQ(SQLExecDirect(stmt_, (SQLCHAR*)"SELECT ID, TEXT FROM notes", SQL_NTS), SQL_SUCCESS);
  char value[32] = {0};
  SQLLEN got = 0;
  ASSERT_EQ(SQLBindCol(stmt_, 2, SQL_C_CHAR, value, sizeof(value), &got), SQL_SUCCESS);
  EXPECT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  EXPECT_STREQ(value, "short");
  EXPECT_EQ(SQLFetch(stmt_), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(state(stmt_), "01004");
  EXPECT_STREQ(value, "much");  // five bytes kept, the trailing blank cut
  EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA);
}

TEST_F(DmTextTest, IndexStatementsAreRefused) {
  std::string text;
  EXPECT_EQ(SQLExecDirect(stmt_, (SQLCHAR*)"CREATE INDEX i ON notes (ID)", SQL_NTS), SQL_ERROR);
  EXPECT_EQ(state(stmt_, &text), "37000");
  EXPECT_NE(text.find("Driver cannot create indexes."), std::string::npos) << text;
  EXPECT_EQ(SQLExecDirect(stmt_, (SQLCHAR*)"DROP INDEX notes.i", SQL_NTS), SQL_ERROR);
  EXPECT_EQ(state(stmt_, &text), "37000");
  EXPECT_NE(text.find("Driver cannot drop indexes."), std::string::npos) << text;
}

TEST_F(DmTextTest, ATableNameMayCarryItsDirectory) {
  const std::string sql = "SELECT COUNT(*) FROM " + configuration().data + "/notes";
  ASSERT_EQ(SQLExecDirect(stmt_, (SQLCHAR*)sql.c_str(), SQL_NTS), SQL_SUCCESS) << state(stmt_);
  SQLINTEGER count = 0;
  SQLLEN got = 0;
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  ASSERT_EQ(SQLGetData(stmt_, 1, SQL_C_LONG, &count, 0, &got), SQL_SUCCESS);
  EXPECT_EQ(count, 2);
}

}  // namespace
