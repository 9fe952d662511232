// Connection establishment: where attributes come from, the data source
// lookup, the shared attributes, the completed connection string, browsing,
// disconnecting, options set before connecting, and translation libraries.
#include "tests/base/base_test_support.h"

#include "base/handles/base_out_string.h"
#include "tests/util/test_support.h"
#include "util/memory/ram.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

namespace {

const char dataSources[] =
    "[Full]\nDriver=Unit\nWorkArounds=8\nLogonID=iniuser\nPassword=inipass\nYieldProc=5\n\n"
    "[NoDriver]\nWorkArounds=16\n\n"
    "[Default]\nDriver=Unit\nWorkArounds=32\n\n"
    "[Async]\nDriver=Unit\nYieldProc=1\nAsyncExec=1\n\n"
    "[NoYield]\nDriver=Unit\nYieldProc=0\nAsyncExec=1\n";

// The data sources above in a private unixODBC configuration directory,
// and a connection of the unit driver.
class ConnectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.make("kvbase"));
    writeFile(scratch_.path("odbc.ini"), dataSources);
    writeFile(scratch_.path("user.ini"), "");
    setenv("ODBCSYSINI", scratch_.name().c_str(), 1);
    setenv("ODBCINI", scratch_.path("user.ini").c_str(), 1);
    env_ = new BaseEnv(1);
    connection_ = new UnitConnection(env_);
  }
  void TearDown() override {
    delete connection_;
    delete env_;
    scratch_.remove();
  }
  SQLRETURN connect(const char* dsn, const char* uid = nullptr) {
    return connection_->SQLConnect((SQLCHAR*)dsn, SQL_NTS, (SQLCHAR*)uid, SQL_NTS, nullptr, 0);
  }
  SQLRETURN driverConnect(const char* text, std::string* out = nullptr) {
    SQLCHAR buffer[512] = {0};
    SQLSMALLINT length = 0;
    SQLRETURN rc = connection_->SQLDriverConnect(nullptr, (SQLCHAR*)text, SQL_NTS, buffer, sizeof(buffer), &length,
                                                 SQL_DRIVER_COMPLETE);
    if (out) *out = reinterpret_cast<char*>(buffer);
    return rc;
  }
  std::vector<UnitDiagnostic> diagnostics() {
    std::vector<UnitDiagnostic> all;
    for (UnitDiagnostic d; (d = nextDiagnostic(connection_->getErrorList())).rc != SQL_NO_DATA_FOUND;)
      all.push_back(d);
    return all;
  }

  ScratchDirectory scratch_;
  BaseEnv* env_ = nullptr;
  UnitConnection* connection_ = nullptr;
};

TEST_F(ConnectTest, ValueComesFromShortKeyLongKeyIniOrDefault) {
  struct Case {
    const char* connectionString;
    const char* shortKey;
    const char* longKey;
    const char* defaultValue;
    const char* value;  // null: no value
    uint16_t source;
  } cases[] = {
      {"DSN=Full;WA=1", "WA", "WorkArounds", "0", "1", 0},
      {"DSN=Full;WorkArounds=2", "WA", "WorkArounds", "0", "2", 0},
      {"DSN=Full", "WA", "WorkArounds", "0", "8", 1},
      {"DSN=Full", "XX", "NotThere", "dflt", "dflt", 2},
      {"DSN=Full", "XX", "NotThere", nullptr, nullptr, 2},
      {"DRIVER=Unit;DSN=Full", "WA", "WorkArounds", "0", "0", 2},  // no ODBC.INI with DRIVER
      {"DSN=Full;UID='o''brien'", "UID", "LogonID", nullptr, "o'brien", 0},
      {"DSN=Full;UID=\"a b\"", "UID", "LogonID", nullptr, "a b", 0},
  };
  for (const Case& c : cases) {
    KvErrorKeeper::setErrorList(&connection_->getErrorList());
    KvSubString text(kvU(c.connectionString), uint32_t(strlen(c.connectionString)));
    KvValueParser parser(&text, ';', nullptr);
    ASSERT_EQ(parser.initialize(), kvSuccess) << c.connectionString;
    ASSERT_EQ(connection_->lookupDataSource(kvU("Full"), 4), kvSuccess);
    unsigned char* value = nullptr;
    uint16_t source = 9;
    EXPECT_EQ(connection_->getConnectionValue(&parser, c.shortKey, c.longKey, c.defaultValue, &value, &source),
              kvSuccess);
    if (c.value) {
      ASSERT_NE(value, nullptr) << c.connectionString;
      EXPECT_STREQ(kvC(value), c.value) << c.connectionString;
    } else {
      EXPECT_EQ(value, nullptr) << c.connectionString;
    }
    EXPECT_EQ(source, c.source) << c.connectionString;
    ramFree(value);
    KvErrorKeeper::giveUpErrorList();
  }
}

TEST_F(ConnectTest, ShortAndLongKeyBothGivenIsAnError) {
  KvErrorKeeper::setErrorList(&connection_->getErrorList());
  const char text[] = "WA=1;WorkArounds=2";
  KvSubString input(kvU(text), sizeof(text) - 1);
  KvValueParser parser(&input, ';', nullptr);
  ASSERT_EQ(parser.initialize(), kvSuccess);
  unsigned char* value = nullptr;
  EXPECT_EQ(connection_->getConnectionValue(&parser, "WA", "WorkArounds", "0", &value, nullptr), kvFailure);
  KvErrorKeeper::giveUpErrorList();
  UnitDiagnostic d = nextDiagnostic(connection_->getErrorList());
  EXPECT_NE(d.text.find("Attribute specified twice using keywords 'WA' and 'WorkArounds'."), std::string::npos)
      << d.text;
}

TEST_F(ConnectTest, DataSourceWithoutADriverKeyUsesDefault) {
  ASSERT_EQ(connect("NoDriver"), SQL_SUCCESS);
  EXPECT_STREQ(kvC(connection_->getDataSourceName()), "Default");
  EXPECT_EQ(connection_->getWorkArounds(), 32u);
  connection_->SQLDisconnect();
  ASSERT_EQ(connect("Full"), SQL_SUCCESS);
  EXPECT_EQ(connection_->getWorkArounds(), 8u);
  EXPECT_STREQ(kvC(connection_->getUserId()), "iniuser");
  EXPECT_TRUE(connection_->getFlags() & BaseConnection::flagUidFromIni);
  EXPECT_TRUE(connection_->getFlags() & BaseConnection::flagPwdFromIni);
  connection_->SQLDisconnect();
  EXPECT_EQ(connection_->getWorkArounds(), 0u) << "disconnecting forgets the attributes";
  EXPECT_EQ(connection_->getDataSourceName(), nullptr);
  ASSERT_EQ(connect("Full", "given"), SQL_SUCCESS);
  EXPECT_STREQ(kvC(connection_->getUserId()), "given");
  EXPECT_FALSE(connection_->getFlags() & BaseConnection::flagUidFromIni);
  connection_->SQLDisconnect();
}

TEST_F(ConnectTest, YieldModes) {
  struct Case {
    const char* dsn;
    uint16_t mode;
  } cases[] = {{"Full", 1}, {"Async", 3}, {"NoYield", 0}};  // YieldProc 5 reads as 1
  for (const Case& c : cases) {
    ASSERT_EQ(connect(c.dsn), SQL_SUCCESS) << c.dsn;
    EXPECT_EQ(connection_->getYieldMode(), c.mode) << c.dsn;
    EXPECT_EQ(connection_->yield(), 0);
    connection_->SQLDisconnect();
  }
}

TEST_F(ConnectTest, CompletedConnectionString) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"DSN=Full;UID=bob;PWD=pw", "DSN=Full;UID=bob;PWD=pw"},
      {"DSN=Full;LogonID=bob", "DSN=Full;LogonID=bob;PWD=inipass"},
      {"DSN=Full;WA=2048;db=x;UID=u", "DSN=Full;WA=2048;DATABASE=x;UID=u;PWD=inipass"},
      {"DRIVER={Unit};Host=h", "DRIVER={Unit};Host=h;DSN=Default"},
  };
  for (const Case& c : cases) {
    std::string out;
    SQLRETURN rc = driverConnect(c.in, &out);
    EXPECT_TRUE(SQL_SUCCEEDED(rc)) << c.in;
    EXPECT_EQ(out, c.out) << c.in;
    connection_->SQLDisconnect();
  }
}

TEST_F(ConnectTest, UnusedAttributesAreReportedInOrder) {
  ASSERT_EQ(driverConnect("DSN=Full;FOO=1;UID=u;BAR=2"), SQL_SUCCESS_WITH_INFO);
  auto all = diagnostics();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].state, "01S00");
  EXPECT_EQ(all[0].text, "[KESTRANE][ODBC Unit driver]Invalid attribute in connection string: FOO.");
  EXPECT_EQ(all[1].text, "[KESTRANE][ODBC Unit driver]Invalid attribute in connection string: BAR.");
  connection_->SQLDisconnect();
}

TEST_F(ConnectTest, FailedLogonLeavesTheConnectionAllocated) {
  connection_->failLogon = true;
  EXPECT_EQ(connect("Full"), SQL_ERROR);
  EXPECT_FALSE(connection_->isConnected());
  EXPECT_EQ(connection_->getDataSourceName(), nullptr);
  EXPECT_EQ(connection_->getUserId(), nullptr);
}

TEST_F(ConnectTest, DisconnectInsideATransactionIsRefused) {
  ASSERT_EQ(connect("Full"), SQL_SUCCESS);
  connection_->flags_ |= BaseConnection::flagTransaction;
  EXPECT_EQ(connection_->SQLDisconnect(), SQL_ERROR);
  EXPECT_EQ(nextDiagnostic(connection_->getErrorList()).state, "25000");
  EXPECT_TRUE(connection_->isConnected());
  connection_->flags_ &= ~BaseConnection::flagTransaction;
  EXPECT_EQ(connection_->SQLDisconnect(), SQL_SUCCESS);
  EXPECT_FALSE(connection_->isConnected());
}

// A driver that does not end transactions itself fails SQLTransact with a
// reason (S1C00), never with an empty list; the transaction stays open.
TEST_F(ConnectTest, EndingATransactionWithoutDriverSupportIsNotCapable) {
  connection_->baseEnds = true;
  ASSERT_EQ(connect("Full"), SQL_SUCCESS);
  ASSERT_EQ(connection_->SQLSetConnectOption(SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
  connection_->flags_ |= BaseConnection::flagTransaction;
  EXPECT_EQ(connection_->SQLTransact(SQL_COMMIT), SQL_ERROR);
  auto all = diagnostics();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].state, "S1C00");
  EXPECT_TRUE(connection_->getFlags() & BaseConnection::flagTransaction);
  connection_->flags_ &= ~BaseConnection::flagTransaction;
}

TEST_F(ConnectTest, BrowseAsksUntilCompleteAndFinishesAsEveryConnect) {
  ASSERT_EQ(connection_->SQLSetConnectOption(SQL_ACCESS_MODE, SQL_MODE_READ_ONLY), SQL_SUCCESS);
  SQLCHAR out[256];
  SQLSMALLINT length = 0;
  EXPECT_EQ(connection_->SQLBrowseConnect((SQLCHAR*)"DSN=Full", SQL_NTS, out, sizeof(out), &length), SQL_NEED_DATA);
  EXPECT_STREQ(reinterpret_cast<char*>(out), "HOST:Server=?");
  EXPECT_FALSE(connection_->isConnected());
  EXPECT_EQ(connection_->SQLBrowseConnect((SQLCHAR*)"HOST=h1", SQL_NTS, out, sizeof(out), &length), SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(out), "DSN=Full;UID=iniuser;PWD=inipass;HOST=h1");
  EXPECT_TRUE(connection_->isConnected());
  EXPECT_EQ(connection_->getAccessMode(), uint32_t(SQL_MODE_READ_ONLY)) << "the queued option was applied";
  EXPECT_EQ(connection_->getQueuedOptionCount(), 0);
  EXPECT_EQ(connection_->getTxnIsolation(), uint32_t(SQL_TXN_READ_COMMITTED));
  ASSERT_NE(connection_->getDbmsName(), nullptr);
  EXPECT_STREQ(kvC(connection_->getDbmsName()), "Unit");
  connection_->SQLDisconnect();
}

TEST_F(ConnectTest, BrowseWithoutDriverSupportIsNotCapable) {
  connection_->browses = false;
  for (const char* in : {"DSN=Full", "DSN=Full;HOST=h", "", static_cast<const char*>(nullptr)}) {
    SQLCHAR out[64] = "x";
    SQLSMALLINT length = 0;
    EXPECT_EQ(connection_->SQLBrowseConnect((SQLCHAR*)in, SQL_NTS, out, sizeof(out), &length), SQL_ERROR);
    auto all = diagnostics();
    ASSERT_EQ(all.size(), 1u) << (in ? in : "null");
    EXPECT_EQ(all[0].state, "S1C00");
    EXPECT_FALSE(connection_->isConnected());
    EXPECT_TRUE(connection_->getFlags() & BaseConnection::flagNoBrowse) << "no browse is left in progress";
  }
}

// A connect call on a connection that is connected already answers 08002
// and changes nothing of it (nor leaks what it would have read).
TEST_F(ConnectTest, ConnectCallsOnAConnectedConnectionChangeNothing) {
  ASSERT_EQ(connect("Full", "first"), SQL_SUCCESS);
  SQLCHAR out[64] = {0};
  SQLSMALLINT length = 0;
  struct Call {
    const char* what;
    std::function<SQLRETURN()> run;
  } calls[] = {
      {"SQLConnect", [&] { return connect("NoDriver", "second"); }},
      {"SQLDriverConnect", [&] { return driverConnect("DSN=NoDriver;UID=second"); }},
      {"SQLBrowseConnect",
       [&] { return connection_->SQLBrowseConnect((SQLCHAR*)"DSN=NoDriver", SQL_NTS, out, sizeof(out), &length); }},
  };
  for (const Call& c : calls) {
    RamStats before = ramGetStats();
    EXPECT_EQ(c.run(), SQL_ERROR) << c.what;
    EXPECT_EQ(nextDiagnostic(connection_->getErrorList()).state, "08002") << c.what;
    EXPECT_EQ(ramGetStats().liveBlocks, before.liveBlocks) << c.what;
    EXPECT_TRUE(connection_->isConnected()) << c.what;
    EXPECT_STREQ(kvC(connection_->getDataSourceName()), "Full") << c.what;
    EXPECT_STREQ(kvC(connection_->getUserId()), "first") << c.what;
  }
  connection_->SQLDisconnect();
}

// A shared connection answers every connect call with success at once and
// stays as the first application made it.
TEST_F(ConnectTest, SharedConnectionIgnoresConnectCalls) {
  ASSERT_EQ(connect("Full", "first"), SQL_SUCCESS);
  connection_->addShare();
  SQLCHAR out[64];
  SQLSMALLINT length = -1;
  struct Call {
    const char* what;
    std::function<SQLRETURN()> run;
  } calls[] = {
      {"SQLConnect", [&] { return connect("NoDriver", "second"); }},
      {"SQLDriverConnect",
       [&] {
         return connection_->SQLDriverConnect(nullptr, (SQLCHAR*)"DSN=NoDriver;UID=second", SQL_NTS, out,
                                              sizeof(out), &length, SQL_DRIVER_NOPROMPT);
       }},
      {"SQLBrowseConnect",
       [&] { return connection_->SQLBrowseConnect((SQLCHAR*)"DSN=NoDriver", SQL_NTS, out, sizeof(out), &length); }},
  };
  for (const Call& c : calls) {
    std::strcpy(reinterpret_cast<char*>(out), "x");
    length = -1;
    EXPECT_EQ(c.run(), SQL_SUCCESS) << c.what;
    if (std::strcmp(c.what, "SQLConnect") != 0) {
      EXPECT_STREQ(reinterpret_cast<char*>(out), "") << c.what;
      EXPECT_EQ(length, 0) << c.what;
    }
    EXPECT_STREQ(kvC(connection_->getDataSourceName()), "Full") << c.what;
    EXPECT_STREQ(kvC(connection_->getUserId()), "first") << c.what;
    EXPECT_EQ(connection_->getWorkArounds(), 8u) << c.what;
  }
  EXPECT_EQ(connection_->SQLDisconnect(), SQL_SUCCESS);
  EXPECT_TRUE(connection_->isConnected()) << "a share's disconnect does nothing";
  connection_->removeShare();
  connection_->SQLDisconnect();
}

TEST_F(ConnectTest, OptionsSetBeforeConnectingAreReplayed) {
  // A value lowered to the driver's limit: the option succeeds with its own
  // warning, and the IM006 marker goes.
  connection_->setLimits(0, 1000, 0);
  ASSERT_EQ(connection_->SQLSetConnectOption(SQL_MAX_ROWS, 5000), SQL_SUCCESS);
  ASSERT_EQ(connection_->SQLSetConnectOption(SQL_TXN_ISOLATION, SQL_TXN_SERIALIZABLE), SQL_SUCCESS);
  // A window handle keeps all 64 bits through the queue.
  const SQLULEN window = SQLULEN(0x123456789ABCDEF0ull);
  ASSERT_EQ(connection_->SQLSetConnectOption(SQL_QUIET_MODE, window), SQL_SUCCESS);
  EXPECT_EQ(connection_->getQueuedOptionCount(), 3);
  EXPECT_EQ(connect("Full"), SQL_SUCCESS_WITH_INFO);
  auto all = diagnostics();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].state, "01S02");
  EXPECT_NE(all[0].text.find("SQL_MAX_LENGTH has been set"), std::string::npos);
  EXPECT_EQ(all[1].state, "IM006");
  EXPECT_EQ(all[2].state, "S1C00") << "the failed option's error is kept as a warning";
  EXPECT_EQ(connection_->getStmtDefaults()[optWordMaxRows], 1000u);
  SQLULEN quiet = 0;
  ASSERT_EQ(connection_->SQLGetConnectOption(SQL_QUIET_MODE, &quiet), SQL_SUCCESS);
  EXPECT_EQ(quiet, window);
  EXPECT_EQ(connection_->getQueuedOptionCount(), 0);
  connection_->SQLDisconnect();
}

TEST_F(ConnectTest, TranslationLibrary) {
  // The option's text is copied when queued: the caller's buffer may change.
  char path[512];
  std::strncpy(path, KV_TEST_TRANSLATOR, sizeof(path));
  ASSERT_EQ(connection_->SQLSetConnectOption(SQL_TRANSLATE_DLL, SQLULEN(path)), SQL_SUCCESS);
  std::memset(path, 'x', 20);
  ASSERT_EQ(connect("Full"), SQL_SUCCESS);
  ASSERT_TRUE(connection_->hasTranslationDll());
  KvErrorKeeper::setErrorList(&connection_->getErrorList());
  char text[] = "abc";
  EXPECT_EQ(connection_->toDriver(SQL_CHAR, text, 3), kvSuccess);
  EXPECT_STREQ(text, "ABC");
  EXPECT_EQ(connection_->toDataSource(SQL_CHAR, text, 3), kvSuccess);
  EXPECT_STREQ(text, "abc");
  char loaded[300] = {0};
  EXPECT_EQ(connection_->getConnectOption(SQL_TRANSLATE_DLL, loaded), kvSuccess);
  EXPECT_STREQ(loaded, KV_TEST_TRANSLATOR);
  ASSERT_EQ(connection_->setConnectOption(SQL_TRANSLATE_OPTION, 1), kvSuccess);
  EXPECT_EQ(connection_->toDriver(SQL_CHAR, text, 3), kvFailure);
  ASSERT_EQ(connection_->setConnectOption(SQL_TRANSLATE_OPTION, 2), kvSuccess);
  EXPECT_EQ(connection_->toDriver(SQL_CHAR, text, 3), kvFailure);
  KvErrorKeeper::giveUpErrorList();
  auto all = diagnostics();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].text, "[KESTRANE][ODBC Unit driver]Error using translation DLL.  cannot translate.");
  EXPECT_EQ(all[1].text,
            "[KESTRANE][ODBC Unit driver]Error using translation DLL.  Output buffer size not equal to input "
            "buffer size.");
  connection_->SQLDisconnect();
  EXPECT_FALSE(connection_->hasTranslationDll());
}

TEST_F(ConnectTest, MissingTranslationLibraryIsIM009) {
  EXPECT_EQ(driverConnect("DSN=Full;TransDLL=/no/such/libkvnone.so"), SQL_ERROR);
  EXPECT_EQ(nextDiagnostic(connection_->getErrorList()).state, "IM009");
  EXPECT_FALSE(connection_->isConnected());
}

}  // namespace
