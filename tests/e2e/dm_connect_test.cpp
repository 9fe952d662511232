// Connecting through the real unixODBC Driver Manager to the test driver:
// SQLConnect, SQLDriverConnect and SQLBrowseConnect, diagnostics as an
// application sees them, SQLGetInfo, options set before connecting, two
// driver libraries in one process, and a shared connection of a data source
// that allows one active connection.
#include "odbc_env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char dataSources[] =
    "[Alpha]\nDriver=KvTest\nDriverName=Alpha\n\n"
    "[Beta]\nDriver=KvTest2\nDriverName=Beta\n\n"
    "[Refusing]\nDriver=KvTest\nDriverName=Alpha\nFailLogon=1\n\n"
    "[Warning]\nDriver=KvTest\nWarnLogon=1\n\n"
    "[BadNumber]\nDriver=KvTest\nWorkArounds=12x\n\n"
    "[NoTranslator]\nDriver=KvTest\nTranslationDLL=/nonexistent/libnothing.so\n\n"
    "[Shared]\nDriver=KvTest\nDriverName=Shared\nWorkArounds=4\nOneConnection=1\n\n"
    "[NoBrowse]\nDriver=KvTest\nBrowse=0\n\n"
    "[SharedCountingZero]\nDriver=KvTest\nDriverName=Shared\nWorkArounds=260\nOneConnection=0\n";

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

TEST_F(DriverManagerTest, ExceptionInTheDriverBecomesADiagnostic) {
  struct Case {
    const char* text;
    const char* state;
  } cases[] = {
      {"DRIVER=KvTest;ThrowLogon=1", "S1001"},  // std::bad_alloc
      {"DRIVER=KvTest;ThrowLogon=2", "S1000"},  // any other exception
  };
  for (const Case& c : cases) {
    ASSERT_EQ(driverConnect(c.text), SQL_ERROR) << c.text;
    auto found = diagnostics(env_, dbc_, nullptr);
    ASSERT_FALSE(found.empty()) << c.text;
    EXPECT_EQ(found.back().state, c.state) << c.text;
    // The connection is not left busy: it connects at the next attempt.
    ASSERT_EQ(driverConnect("DRIVER=KvTest"), SQL_SUCCESS) << c.text;
    EXPECT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
  }
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

// SQLBrowseConnect builds the connection string in rounds: the test driver
// asks for the data source, then for the user id and password.
TEST_F(DriverManagerTest, BrowseConnectsInRounds) {
  ASSERT_EQ(SQLSetConnectOption(dbc_, SQL_ACCESS_MODE, SQL_MODE_READ_ONLY), SQL_SUCCESS);
  struct Round {
    const char* in;
    SQLRETURN rc;
    const char* out;
  } rounds[] = {
      {"DRIVER={KvTest}", SQL_NEED_DATA, "DSN:Data Source=?"},
      {"DSN=Alpha", SQL_NEED_DATA, "UID:Login ID=?;PWD:Password=?"},
      {"UID=bob;PWD=secret", SQL_SUCCESS, "DSN=Alpha;UID=bob;PWD=secret;"},
  };
  for (const Round& r : rounds) {
    SQLCHAR out[256] = {0};
    SQLSMALLINT length = -1;
    EXPECT_EQ(SQLBrowseConnect(dbc_, (SQLCHAR*)r.in, SQL_NTS, out, sizeof(out), &length), r.rc) << r.in;
    EXPECT_STREQ(reinterpret_cast<char*>(out), r.out) << r.in;
    EXPECT_EQ(length, SQLSMALLINT(std::strlen(r.out))) << r.in;
  }
  EXPECT_EQ(infoText(SQL_USER_NAME), "bob");
  EXPECT_EQ(infoText(SQL_DBMS_NAME), "Alpha");
  // The browse finished as every connect does: the option set before it
  // applies, and the isolation level is the data source's default.
  SQLUINTEGER value = 99;
  ASSERT_EQ(SQLGetConnectOption(dbc_, SQL_ACCESS_MODE, &value), SQL_SUCCESS);
  EXPECT_EQ(value, SQLUINTEGER(SQL_MODE_READ_ONLY));
  ASSERT_EQ(SQLGetConnectOption(dbc_, SQL_TXN_ISOLATION, &value), SQL_SUCCESS);
  EXPECT_EQ(value, SQLUINTEGER(SQL_TXN_READ_COMMITTED));
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
}

TEST_F(DriverManagerTest, BrowseFailuresAreReportedAndLeaveNoConnection) {
  struct Case {
    const char* in;
    const char* state;
  } cases[] = {
      {"DSN=NoBrowse", "S1C00"},           // a driver without browse support
      {"DSN=NoBrowse;HOST=h", "S1C00"},
      {"DSN=Refusing;UID=bob", "08004"},   // the logon at the end of the browse
  };
  for (const Case& c : cases) {
    SQLCHAR out[256] = {0};
    SQLSMALLINT length = 0;
    EXPECT_EQ(SQLBrowseConnect(dbc_, (SQLCHAR*)c.in, SQL_NTS, out, sizeof(out), &length), SQL_ERROR) << c.in;
    auto found = diagnostics(env_, dbc_, nullptr);
    ASSERT_FALSE(found.empty()) << c.in;
    EXPECT_EQ(found[0].state, c.state) << c.in;
  }
  ASSERT_EQ(connect("Alpha"), SQL_SUCCESS) << "the connection is free for another connect";
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

// A data source that allows one active connection, with WorkArounds 4:
// every connection of the process to the same driver library shares the
// first one, whichever environment it comes from.
class SharedConnectionTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (SQLHDBC dbc : connections_) SQLFreeConnect(dbc);
    for (SQLHENV env : environments_) SQLFreeEnv(env);
  }
  SQLHENV newEnv() {
    SQLHENV env = nullptr;
    EXPECT_EQ(SQLAllocEnv(&env), SQL_SUCCESS);
    environments_.push_back(env);
    return env;
  }
  SQLHDBC newConnection(SQLHENV env) {
    SQLHDBC dbc = nullptr;
    EXPECT_EQ(SQLAllocConnect(env, &dbc), SQL_SUCCESS);
    connections_.push_back(dbc);
    return dbc;
  }
  void freeConnection(SQLHDBC dbc) {
    EXPECT_EQ(SQLFreeConnect(dbc), SQL_SUCCESS);
    connections_.erase(std::find(connections_.begin(), connections_.end(), dbc));
  }
  void freeEnv(SQLHENV env) {
    EXPECT_EQ(SQLFreeEnv(env), SQL_SUCCESS);
    environments_.erase(std::find(environments_.begin(), environments_.end(), env));
  }
  static SQLRETURN driverConnect(SQLHDBC dbc, const char* text) {
    SQLCHAR out[512];
    SQLSMALLINT length = 0;
    return SQLDriverConnect(dbc, nullptr, (SQLCHAR*)text, SQL_NTS, out, sizeof(out), &length, SQL_DRIVER_NOPROMPT);
  }
  static std::string infoText(SQLHDBC dbc, SQLUSMALLINT type) {
    char value[256] = {0};
    SQLSMALLINT length = 0;
    EXPECT_EQ(SQLGetInfo(dbc, type, value, sizeof(value), &length), SQL_SUCCESS) << type;
    return value;
  }

  PrivateOdbc odbc_{dataSources};
  std::vector<SQLHENV> environments_;
  std::vector<SQLHDBC> connections_;
};

// The Driver Manager gives each of its environments a driver environment
// and frees it with that environment's last connection. The shared
// connection was made on the first one and outlives it (under the
// sanitizers a use of the freed environment is reported).
TEST_F(SharedConnectionTest, OutlivesTheEnvironmentItWasMadeOn) {
  SQLHENV first = newEnv(), second = newEnv();
  SQLHDBC a = newConnection(first), b = newConnection(second);
  ASSERT_EQ(driverConnect(a, "DSN=Shared;UID=alice"), SQL_SUCCESS);
  ASSERT_EQ(driverConnect(b, "DSN=Shared"), SQL_SUCCESS);
  EXPECT_EQ(SQLDisconnect(a), SQL_SUCCESS);
  freeConnection(a);
  freeEnv(first);
  EXPECT_EQ(infoText(b, SQL_USER_NAME), "alice") << "b still uses the shared connection";
  EXPECT_EQ(SQLDisconnect(b), SQL_SUCCESS);
  freeConnection(b);
  freeEnv(second);
  // A new connection after all this is a connection of its own.
  SQLHENV third = newEnv();
  SQLHDBC c = newConnection(third);
  ASSERT_EQ(SQLConnect(c, (SQLCHAR*)"Alpha", SQL_NTS, (SQLCHAR*)"carol", SQL_NTS, nullptr, 0), SQL_SUCCESS);
  EXPECT_EQ(infoText(c, SQL_USER_NAME), "carol");
  EXPECT_EQ(SQLDisconnect(c), SQL_SUCCESS);
}

// WorkArounds 0x100 counts an answer of 0 active connections as 1, whoever
// gives it (here the driver itself, not a table row): the connection is
// shared.
TEST_F(SharedConnectionTest, ZeroActiveConnectionsCountsAsOneWithWorkArounds0x100) {
  SQLHENV env = newEnv();
  SQLHDBC a = newConnection(env);
  ASSERT_EQ(driverConnect(a, "DSN=SharedCountingZero;UID=alice"), SQL_SUCCESS);
  SQLHDBC b = newConnection(env);
  ASSERT_EQ(driverConnect(b, "DSN=SharedCountingZero;UID=bob"), SQL_SUCCESS);
  EXPECT_EQ(infoText(b, SQL_USER_NAME), "alice") << "b received a's connection";
  SQLUSMALLINT active = 99;
  ASSERT_EQ(SQLGetInfo(a, SQL_ACTIVE_CONNECTIONS, &active, sizeof(active), nullptr), SQL_SUCCESS);
  EXPECT_EQ(active, 0) << "the application is still told 0";
  EXPECT_EQ(SQLDisconnect(b), SQL_SUCCESS);
  EXPECT_EQ(SQLDisconnect(a), SQL_SUCCESS);
}

// A second application connection that receives the shared connection
// connects without touching it, however it connects: the share goes by
// driver library, and the first application's connection is unchanged.
TEST_F(SharedConnectionTest, LaterConnectsLeaveTheSharedConnectionAlone) {
  SQLHENV env = newEnv();
  SQLHDBC a = newConnection(env);
  ASSERT_EQ(driverConnect(a, "DSN=Shared;UID=alice"), SQL_SUCCESS);
  SQLHDBC b = newConnection(env);
  EXPECT_EQ(SQLConnect(b, (SQLCHAR*)"Alpha", SQL_NTS, (SQLCHAR*)"bob", SQL_NTS, (SQLCHAR*)"pw", SQL_NTS),
            SQL_SUCCESS);
  for (SQLHDBC dbc : {a, b}) {
    EXPECT_EQ(infoText(dbc, SQL_DBMS_NAME), "Shared");
    EXPECT_EQ(infoText(dbc, SQL_USER_NAME), "alice");
  }
  EXPECT_EQ(SQLDisconnect(b), SQL_SUCCESS);
  EXPECT_EQ(infoText(a, SQL_USER_NAME), "alice") << "disconnecting a share leaves the connection";
  EXPECT_EQ(SQLDisconnect(a), SQL_SUCCESS);
}

}  // namespace
