// The Excel 5 driver through the real unixODBC Driver Manager, from a C++
// application: a workbook gnumeric wrote, read with bound columns of the
// C types an application asks for (text, double, date, time, timestamp,
// bit), its columns described, and the driver's errors as SQLError hands
// them out.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

class Excel5Test : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kve2exlsXXXXXX";
    dir_ = mkdtemp(pattern) ? pattern : "/tmp";
    std::string ini = dir_ + "/odbcinst.ini";
    FILE* f = std::fopen(ini.c_str(), "w");
    std::fprintf(f, "[KvExcel5]\nDriver=%s\n", KV_EXCEL5_DRIVER);
    std::fclose(f);
    f = std::fopen((dir_ + "/user.ini").c_str(), "w");
    std::fclose(f);
    setenv("ODBCSYSINI", dir_.c_str(), 1);
    setenv("ODBCINI", (dir_ + "/user.ini").c_str(), 1);
    ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_)));
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_)));
  }
  void TearDown() override {
    if (stmt_) SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
    std::string command = "rm -rf '" + dir_ + "'";
    if (std::system(command.c_str()) != 0) ADD_FAILURE() << command;
  }
  SQLRETURN connect(const std::string& workbook) {
    std::string text = "DRIVER={KvExcel5};Database=" + workbook;
    SQLCHAR out[1024];
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLDriverConnect(dbc_, nullptr, (SQLCHAR*)text.c_str(), SQL_NTS, out, sizeof out, &length,
                                    SQL_DRIVER_NOPROMPT);
    if (SQL_SUCCEEDED(rc)) SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_);
    return rc;
  }
  std::string diagnostic(SQLSMALLINT type, SQLHANDLE handle) {
    SQLCHAR state[6] = {0}, text[512] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLGetDiagRec(type, handle, 1, state, &native, text, sizeof text, &length);
    return std::string((char*)state) + " " + (char*)text;
  }

  std::string dir_;
  SQLHENV env_ = nullptr;
  SQLHDBC dbc_ = nullptr;
  SQLHSTMT stmt_ = nullptr;
};

TEST_F(Excel5Test, BoundColumnsOfEveryType) {
  ASSERT_TRUE(SQL_SUCCEEDED(connect(KV_EXCEL_DATA "/sales.xls"))) << diagnostic(SQL_HANDLE_DBC, dbc_);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(stmt_, (SQLCHAR*)"SELECT * FROM Sales", SQL_NTS)))
      << diagnostic(SQL_HANDLE_STMT, stmt_);
  const SQLSMALLINT types[] = {SQL_VARCHAR, SQL_DOUBLE, SQL_TYPE_DATE, SQL_BIT, SQL_TYPE_TIMESTAMP,
                               SQL_TYPE_TIME};
  const SQLUSMALLINT columns[] = {1, 2, 4, 5, 6, 7};
  for (int i = 0; i < 6; ++i) {
    SQLCHAR name[64];
    SQLSMALLINT nameLength = 0, type = 0, scale = 0, nullable = 0;
    SQLULEN size = 0;
    ASSERT_TRUE(SQL_SUCCEEDED(
        SQLDescribeCol(stmt_, columns[i], name, sizeof name, &nameLength, &type, &size, &scale, &nullable)));
    EXPECT_EQ(type, types[i]) << name;
    EXPECT_EQ(nullable, SQL_NULLABLE) << name;
  }
  char text[32];
  double qty = 0;
  SQL_DATE_STRUCT sold{};
  unsigned char paid = 9;
  SQL_TIMESTAMP_STRUCT when{};
  SQL_TIME_STRUCT at{};
  SQLLEN lengths[6];
  SQLBindCol(stmt_, 1, SQL_C_CHAR, text, sizeof text, &lengths[0]);
  SQLBindCol(stmt_, 2, SQL_C_DOUBLE, &qty, 0, &lengths[1]);
  SQLBindCol(stmt_, 4, SQL_C_TYPE_DATE, &sold, 0, &lengths[2]);
  SQLBindCol(stmt_, 5, SQL_C_BIT, &paid, 0, &lengths[3]);
  SQLBindCol(stmt_, 6, SQL_C_TYPE_TIMESTAMP, &when, 0, &lengths[4]);
  SQLBindCol(stmt_, 7, SQL_C_TYPE_TIME, &at, 0, &lengths[5]);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(stmt_))) << diagnostic(SQL_HANDLE_STMT, stmt_);
  EXPECT_STREQ(text, "Apple");
  EXPECT_EQ(qty, 3.0);
  EXPECT_EQ((sold.year * 100 + sold.month) * 100 + sold.day, 20240315);
  EXPECT_EQ(paid, 1);
  EXPECT_EQ((when.year * 100 + when.month) * 100 + when.day, 20240315);
  EXPECT_EQ(when.hour * 3600 + when.minute * 60 + when.second, 18 * 3600);
  EXPECT_EQ(at.hour * 3600 + at.minute * 60 + at.second, 12 * 3600);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(stmt_)));
  EXPECT_STREQ(text, "Pear");  // a formula's text result
  EXPECT_EQ(at.hour * 3600 + at.minute * 60 + at.second, 0);  // 0.999999 of a day is the next midnight
  ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(stmt_)));
  EXPECT_STREQ(text, "Plum");
  EXPECT_EQ(lengths[3], SQL_NULL_DATA);
  EXPECT_EQ(at.hour, 6);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(stmt_)));
  EXPECT_STREQ(text, "Kiwi");
  EXPECT_EQ(paid, 1);  // a formula's boolean result
  EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA);
}

TEST_F(Excel5Test, ErrorsAsTheApplicationSeesThem) {
  EXPECT_EQ(connect(KV_EXCEL_DATA "/sales97.xls"), SQL_ERROR);
  EXPECT_NE(diagnostic(SQL_HANDLE_DBC, dbc_).find("Cannot open stream Book.  OLE error code (2)."), std::string::npos)
      << diagnostic(SQL_HANDLE_DBC, dbc_);
  ASSERT_TRUE(SQL_SUCCEEDED(connect(KV_EXCEL_DATA "/sales.xls")));
  EXPECT_EQ(SQLExecDirect(stmt_, (SQLCHAR*)"SELECT * FROM Missing", SQL_NTS), SQL_ERROR);
  std::string message = diagnostic(SQL_HANDLE_STMT, stmt_);
  EXPECT_EQ(message.substr(0, 5), "42S02") << message;
  EXPECT_NE(message.find("The table Missing was not found in the workbook"), std::string::npos) << message;
}

}  // namespace
