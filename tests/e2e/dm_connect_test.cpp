// Connecting through the real unixODBC Driver Manager to the test driver:
// SQLConnect and SQLDriverConnect, diagnostics as an application sees them,
// SQLGetInfo, options set before connecting, and two driver libraries in
// one process.
#include "odbc_env.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

const char dataSources[] =
    "[Alpha]\nDriver=KvTest\nDriverName=Alpha\n\n"
    "[Beta]\nDriver=KvTest2\nDriverName=Beta\n\n"
    "[Refusing]\nDriver=KvTest\nDriverName=Alpha\nFailLogon=1\n\n"
    "[Warning]\nDriver=KvTest\nWarnLogon=1\n\n"
    "[BadNumber]\nDriver=KvTest\nWorkArounds=12x\n\n"
    "[NoTranslator]\nDriver=KvTest\nTranslationDLL=/nonexistent/libnothing.so\n";

class DriverManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(SQLAllocEnv(&env_), SQL_SUCCESS);
    ASSERT_EQ(SQLAllocConnect(env_, &dbc_), SQL_SUCCESS);
  }
  void TearDown() override {
    SQLFreeConnect(dbc_);
    SQLFreeEnv(env_);
  }
  SQLRETURN connect(const char* dsn, const char* user = nullptr) {
    return SQLConnect(dbc_, (SQLCHAR*)dsn, SQL_NTS, (SQLCHAR*)user, SQL_NTS, nullptr, 0);
  }
  SQLRETURN driverConnect(const char* text, std::string* completed = nullptr) {
    SQLCHAR out[1024] = {0};
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLDriverConnect(dbc_, nullptr, (SQLCHAR*)text, SQL_NTS, out, sizeof(out), &length,
                                    SQL_DRIVER_NOPROMPT);
    if (completed) *completed = reinterpret_cast<char*>(out);
    return rc;
  }
  std::string infoText(SQLUSMALLINT type) {
    char value[512] = {0};
    SQLSMALLINT length = 0;
    EXPECT_EQ(SQLGetInfo(dbc_, type, value, sizeof(value), &length), SQL_SUCCESS) << type;
    return value;
  }

  PrivateOdbc odbc_{dataSources};
  SQLHENV env_ = nullptr;
  SQLHDBC dbc_ = nullptr;
};

TEST_F(DriverManagerTest, ConnectsWithADataSourceAndDisconnects) {
  ASSERT_EQ(connect("Alpha"), SQL_SUCCESS);
  EXPECT_EQ(infoText(SQL_DATA_SOURCE_NAME), "Alpha");
  EXPECT_EQ(infoText(SQL_DBMS_NAME), "Alpha");
  EXPECT_EQ(infoText(SQL_DRIVER_ODBC_VER), "02.01");
  EXPECT_EQ(infoText(SQL_DRIVER_NAME), "libkvtest.so");
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
}

TEST_F(DriverManagerTest, DriverConnectCompletesTheConnectionString) {
  std::string completed;
  ASSERT_EQ(driverConnect("DSN=Alpha;UID=bob;PWD=secret", &completed), SQL_SUCCESS);
  EXPECT_EQ(completed, "DSN=Alpha;UID=bob;PWD=secret");
  EXPECT_EQ(infoText(SQL_USER_NAME), "bob");
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
}

TEST_F(DriverManagerTest, DriverKeywordReadsNoDataSource) {
  std::string completed;
  ASSERT_EQ(driverConnect("DRIVER={KvTest};DN=Gamma", &completed), SQL_SUCCESS);
  EXPECT_EQ(infoText(SQL_DBMS_NAME), "Gamma");
  EXPECT_NE(completed.find("DN=Gamma"), std::string::npos) << completed;
  SQLDisconnect(dbc_);
}

TEST_F(DriverManagerTest, RefusedLogonReportsTheDriversMessage) {
  ASSERT_EQ(connect("Refusing", "bob"), SQL_ERROR);
  auto found = diagnostics(env_, dbc_, nullptr);
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(found[0].state, "08004");
  EXPECT_EQ(found[0].text, "[unixODBC][KESTRANE][ODBC Alpha driver]The test data source refused the logon of 'bob'.")
      << "unixODBC puts its own vendor part in front of the driver's message";
}

TEST_F(DriverManagerTest, UnknownAttributeIsAWarning) {
  ASSERT_EQ(driverConnect("DSN=Alpha;FOO=1"), SQL_SUCCESS_WITH_INFO);
  auto found = diagnostics(env_, dbc_, nullptr);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].state, "01S00");
  EXPECT_NE(found[0].text.find("[KESTRANE][ODBC Alpha driver]Invalid attribute in connection string: FOO."),
            std::string::npos)
      << found[0].text;
  SQLDisconnect(dbc_);
}

TEST_F(DriverManagerTest, WarningsMakeSuccessWithInfo) {
  ASSERT_EQ(connect("Warning"), SQL_SUCCESS_WITH_INFO);
  auto found = diagnostics(env_, dbc_, nullptr);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].state, "01000");
  SQLDisconnect(dbc_);
}

TEST_F(DriverManagerTest, NumberThatDoesNotConvertFailsTheConnect) {
  ASSERT_EQ(connect("BadNumber"), SQL_ERROR);
  auto found = diagnostics(env_, dbc_, nullptr);
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(found[0].state, "S1000");
  EXPECT_EQ(found[0].native, 2702);
  EXPECT_NE(found[0].text.find("Number contains an invalid character: 12x"), std::string::npos) << found[0].text;
}

TEST_F(DriverManagerTest, MissingTranslationLibraryIsIM009) {
  ASSERT_EQ(connect("NoTranslator"), SQL_ERROR);
  auto found = diagnostics(env_, dbc_, nullptr);
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(found[0].state, "IM009");
}

TEST_F(DriverManagerTest, OptionsSetBeforeConnectingApply) {
  ASSERT_TRUE(SQL_SUCCEEDED(SQLSetConnectOption(dbc_, SQL_ACCESS_MODE, SQL_MODE_READ_ONLY)));
  ASSERT_TRUE(SQL_SUCCEEDED(connect("Alpha")));
  SQLUINTEGER mode = 99;
  ASSERT_EQ(SQLGetConnectOption(dbc_, SQL_ACCESS_MODE, &mode), SQL_SUCCESS);
  EXPECT_EQ(mode, SQLUINTEGER(SQL_MODE_READ_ONLY));
  SQLDisconnect(dbc_);
}

TEST_F(DriverManagerTest, SixteenBitInfoTypesFillTwoBytes) {
  ASSERT_EQ(connect("Alpha"), SQL_SUCCESS);
  for (SQLUSMALLINT type : {SQL_MAX_USER_NAME_LEN, SQL_MAX_CURSOR_NAME_LEN, SQL_TXN_CAPABLE}) {
    SQLUSMALLINT value = 0xAAAA;
    SQLSMALLINT length = 0;
    ASSERT_EQ(SQLGetInfo(dbc_, type, &value, sizeof(value), &length), SQL_SUCCESS) << type;
    EXPECT_EQ(length, 2) << type;
    EXPECT_NE(value, 0xAAAA) << type;
  }
  SQLUSMALLINT maxUserName = 0xAAAA;
  ASSERT_EQ(SQLGetInfo(dbc_, SQL_MAX_USER_NAME_LEN, &maxUserName, sizeof(maxUserName), nullptr), SQL_SUCCESS);
  EXPECT_EQ(maxUserName, 0) << "no limit is known";
  SQLDisconnect(dbc_);
}

TEST_F(DriverManagerTest, UnknownInfoTypeIsDriverNotCapable) {
  ASSERT_EQ(connect("Alpha"), SQL_SUCCESS);
  char value[64];
  SQLSMALLINT length = 0;
  EXPECT_EQ(SQLGetInfo(dbc_, 3000, value, sizeof(value), &length), SQL_ERROR);
  auto found = diagnostics(env_, dbc_, nullptr);
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(found[0].state, "S1C00");
  SQLDisconnect(dbc_);
}

TEST(TwoDriverLibraries, EachWorksInOneProcess) {
  PrivateOdbc odbc(dataSources);
  SQLHENV env;
  SQLHDBC alpha, beta;
  ASSERT_EQ(SQLAllocEnv(&env), SQL_SUCCESS);
  ASSERT_EQ(SQLAllocConnect(env, &alpha), SQL_SUCCESS);
  ASSERT_EQ(SQLAllocConnect(env, &beta), SQL_SUCCESS);
  ASSERT_EQ(SQLConnect(alpha, (SQLCHAR*)"Alpha", SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  ASSERT_EQ(SQLConnect(beta, (SQLCHAR*)"Beta", SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  char name[128];
  SQLSMALLINT length;
  ASSERT_EQ(SQLGetInfo(beta, SQL_DRIVER_NAME, name, sizeof(name), &length), SQL_SUCCESS);
  EXPECT_STREQ(name, "libkvtest2.so");
  ASSERT_EQ(SQLGetInfo(alpha, SQL_DRIVER_NAME, name, sizeof(name), &length), SQL_SUCCESS);
  EXPECT_STREQ(name, "libkvtest.so");
  ASSERT_EQ(SQLGetInfo(beta, SQL_DBMS_NAME, name, sizeof(name), &length), SQL_SUCCESS);
  EXPECT_STREQ(name, "Beta");
  EXPECT_EQ(SQLDisconnect(alpha), SQL_SUCCESS);
  EXPECT_EQ(SQLDisconnect(beta), SQL_SUCCESS);
  SQLFreeConnect(alpha);
  SQLFreeConnect(beta);
  SQLFreeEnv(env);
}

}  // namespace
