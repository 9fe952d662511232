// The dBASE driver through the real unixODBC Driver Manager, from a C++
// application: connections by data source and by DRIVER= string with every
// CreateType, SQLGetInfo and SQLGetTypeInfo by dialect, the private options
// 1044 and 1045, and one connection shared under WorkArounds. The
// statements that read and change tables are registered here too and skip
// until the engine runs SQL.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

// Why the statement tests wait: SELECT, INSERT, UPDATE and DELETE reach the
// driver's tables through the engine's parser and executor.
const char engineNotYet[] =
    "needs the engine's SQL statements (parser, compiler, execution); enable when they run on the dBASE driver";

// unixODBC reads ODBCSYSINI and ODBCINI once a process and keeps what it
// read of a file while the file's time stamp stays in the same second, so
// the configuration is one directory per process with the same text for
// every test; each test starts with an empty data directory in it.
struct DbaseConfiguration {
  DbaseConfiguration() {
    char pattern[] = "/tmp/kve2edbfXXXXXX";
    const char* made = mkdtemp(pattern);
    dir = made ? made : "";
    data = dir + "/data";
    std::ofstream(dir + "/odbcinst.ini") << "[KvDbase]\nDriver=" KV_DBASE_DRIVER "\nSetup=" KV_DBASE_DRIVER "\n";
    std::ofstream(dir + "/odbc.ini") << "[Tables]\nDriver=KvDbase\nDatabase=" << data
                                     << "\n\n[Clipper]\nDriver=KvDbase\nDatabase=" << data
                                     << "\nCreateType=CLIPPER\n\n[Shared]\nDriver=KvDbase\nDatabase=" << data
                                     << "\nWorkArounds=260\n";
    std::ofstream(dir + "/user.ini") << "";
    setenv("ODBCSYSINI", dir.c_str(), 1);
    setenv("ODBCINI", (dir + "/user.ini").c_str(), 1);
  }
  ~DbaseConfiguration() {
    std::error_code ignored;
    if (!dir.empty()) std::filesystem::remove_all(dir, ignored);
  }
  std::string dir, data;
};

const DbaseConfiguration& configuration() {
  static DbaseConfiguration shared;
  return shared;
}

class DbaseDriverManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(configuration().dir.empty());
    dir_ = configuration().dir;
    data_ = configuration().data;
    std::error_code ignored;
    std::filesystem::remove_all(data_, ignored);
    ASSERT_EQ(mkdir(data_.c_str(), 0700), 0);
    ASSERT_EQ(SQLAllocEnv(&env_), SQL_SUCCESS);
    ASSERT_EQ(SQLAllocConnect(env_, &dbc_), SQL_SUCCESS);
  }
  void TearDown() override {
    SQLFreeConnect(dbc_);
    SQLFreeEnv(env_);
  }
  std::string state(SQLHDBC dbc = SQL_NULL_HDBC) {
    SQLCHAR text[6] = {0}, message[512];
    SQLINTEGER native = 0;
    SQLError(env_, dbc ? dbc : dbc_, SQL_NULL_HSTMT, text, &native, message, sizeof(message), nullptr);
    message_ = reinterpret_cast<char*>(message);
    return reinterpret_cast<char*>(text);
  }
  SQLRETURN driverConnect(const std::string& text) {
    return SQLDriverConnect(dbc_, nullptr, (SQLCHAR*)text.c_str(), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  }
  std::string info(SQLUSMALLINT type) {
    char text[128] = {0};
    SQLSMALLINT length = 0;
    EXPECT_EQ(SQLGetInfo(dbc_, type, text, sizeof(text), &length), SQL_SUCCESS) << type;
    return text;
  }

  std::string dir_, data_, message_;
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
};

TEST_F(DbaseDriverManagerTest, EveryCreateTypeConnectsAndAnswersByDialect) {
  const struct {
    const char* name;
    const char* version;
    SQLUINTEGER maxRow;
  } cases[] = {
      {"DBASE2", "01.00.0000 dBASE II", 4000},   {"dbase3", "01.00.0000 dBASE III", 4000},
      {"DBASE4", "02.00.0000 dBASE IV", 4000},   {"DBASE5", "05.00.0000 dBASE V", 32767},
      {"Clipper", "05.20.0000 Clipper", 0},      {"FOXBASE", "01.00.0000 FoxBASE", 4000},
      {"foxpro1", "01.00.0000 FoxPro", 4000},    {"FoxPro25", "02.50.0000 FoxPro", 64770},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(driverConnect("DRIVER={KvDbase};DBQ=x;DB=" + data_ + ";CT=" + c.name), SQL_SUCCESS_WITH_INFO)
        << c.name << ": DBQ is no key of the driver's";
    EXPECT_EQ(info(SQL_DBMS_VER), c.version);
    SQLUINTEGER maxRow = 99;
    ASSERT_EQ(SQLGetInfo(dbc_, SQL_MAX_ROW_SIZE, &maxRow, sizeof(maxRow), nullptr), SQL_SUCCESS);
    EXPECT_EQ(maxRow, c.maxRow) << c.name;
    EXPECT_EQ(info(SQL_DRIVER_NAME), "libkvdbase.so");
    ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
  }
  ASSERT_EQ(driverConnect("DRIVER={KvDbase};DB=" + data_ + ";CreateType=DBASE6"), SQL_ERROR);
  EXPECT_EQ(state(), "S1009");
  EXPECT_EQ(message_, "[KESTRANE][ODBC dBASE driver]Invalid argument value.");
}

TEST_F(DbaseDriverManagerTest, DataSourcesAndTheirKeys) {
  ASSERT_EQ(SQLConnect(dbc_, (SQLCHAR*)"Clipper", SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  EXPECT_EQ(info(SQL_DBMS_NAME), "Clipper");
  SQLUSMALLINT columns = 0;
  ASSERT_EQ(SQLGetInfo(dbc_, SQL_MAX_COLUMNS_IN_TABLE, &columns, sizeof(columns), nullptr), SQL_SUCCESS);
  EXPECT_EQ(columns, 255);
  char qualifier[SQL_MAX_OPTION_STRING_LENGTH + 1] = {0};
  ASSERT_EQ(SQLGetConnectOption(dbc_, SQL_CURRENT_QUALIFIER, qualifier), SQL_SUCCESS);
  EXPECT_EQ(std::string(qualifier), data_);
  ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
  // The connection string overrides the data source's keys.
  ASSERT_EQ(driverConnect("DSN=Clipper;CT=FOXPRO25"), SQL_SUCCESS);
  EXPECT_EQ(info(SQL_DBMS_VER), "02.50.0000 FoxPro");
  ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
}

TEST_F(DbaseDriverManagerTest, PrivateOptionsOfTheSetupDialogAndTheDialect) {
  ASSERT_EQ(SQLConnect(dbc_, (SQLCHAR*)"Tables", SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  SQLUINTEGER setup = 0;
  ASSERT_EQ(SQLGetConnectOption(dbc_, 1044, &setup), SQL_SUCCESS);
  EXPECT_EQ(setup, 1u);
  char name[SQL_MAX_OPTION_STRING_LENGTH + 1] = {0};
  ASSERT_EQ(SQLGetConnectOption(dbc_, 1045, name), SQL_SUCCESS);
  EXPECT_STREQ(name, "DBASE5");
  ASSERT_EQ(SQLSetConnectOption(dbc_, 1045, (SQLULEN) "dBase3"), SQL_SUCCESS);
  ASSERT_EQ(SQLGetConnectOption(dbc_, 1045, name), SQL_SUCCESS);
  EXPECT_STREQ(name, "DBASE3");
  EXPECT_EQ(info(SQL_DBMS_NAME), "dBASE III");
  EXPECT_EQ(SQLSetConnectOption(dbc_, 1045, (SQLULEN) "DBASE6"), SQL_ERROR);
  EXPECT_EQ(state(), "S1009");
  ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
}

TEST_F(DbaseDriverManagerTest, WorkAroundsShareOneConnection) {
  // The driver allows any number of connections (SQL_ACTIVE_CONNECTIONS
  // 0); WorkArounds 0x100 counts that as one, and 0x4 then shares it.
  ASSERT_EQ(driverConnect("DSN=Shared"), SQL_SUCCESS);
  SQLHDBC second = SQL_NULL_HDBC;
  ASSERT_EQ(SQLAllocConnect(env_, &second), SQL_SUCCESS);
  ASSERT_EQ(SQLDriverConnect(second, nullptr, (SQLCHAR*)"DSN=Shared", SQL_NTS, nullptr, 0, nullptr,
                             SQL_DRIVER_NOPROMPT),
            SQL_SUCCESS);
  char text[64] = {0};
  ASSERT_EQ(SQLGetInfo(second, SQL_DBMS_VER, text, sizeof(text), nullptr), SQL_SUCCESS);
  EXPECT_STREQ(text, "05.00.0000 dBASE V");
  EXPECT_EQ(SQLDisconnect(second), SQL_SUCCESS);
  EXPECT_EQ(SQLFreeConnect(second), SQL_SUCCESS);
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
}

// ---- statements on tables: registered now, run once the engine does.

TEST_F(DbaseDriverManagerTest, SelectStarReadsATableOfAnotherProgram) { GTEST_SKIP() << engineNotYet; }
TEST_F(DbaseDriverManagerTest, InsertUpdateDeleteAreReadBackByDbfreadAndPythonDbf) { GTEST_SKIP() << engineNotYet; }
TEST_F(DbaseDriverManagerTest, TableOptionsSelectRecordsAndCharsets) { GTEST_SKIP() << engineNotYet; }
TEST_F(DbaseDriverManagerTest, Option1048GivesTheAppendedRecord) { GTEST_SKIP() << engineNotYet; }
TEST_F(DbaseDriverManagerTest, ValuesInEveryCType) { GTEST_SKIP() << engineNotYet; }
// Memo values and locks through the Driver Manager.
TEST_F(DbaseDriverManagerTest, MemoValuesWholeAndInPiecesBySQLGetData) { GTEST_SKIP() << engineNotYet; }
TEST_F(DbaseDriverManagerTest, TwoConnectionsUpdatingOneRowGet3961) { GTEST_SKIP() << engineNotYet; }
TEST_F(DbaseDriverManagerTest, LocksSeenInProcLocksWhileAStatementHoldsThem) { GTEST_SKIP() << engineNotYet; }
TEST_F(DbaseDriverManagerTest, ProcessesInsertAndUpdateUnderEachLockScheme) { GTEST_SKIP() << engineNotYet; }
TEST_F(DbaseDriverManagerTest, SQLGetTypeInfoByDialect) {
  const struct {
    const char* createType;
    SQLSMALLINT sqlType;
    std::vector<std::string> names;
  } cases[] = {
      {"DBASE3", SQL_ALL_TYPES, {"LOGICAL", "MEMO", "CHAR", "NUMERIC", "DATE"}},
      {"DBASE2", SQL_ALL_TYPES, {"LOGICAL", "CHAR", "NUMERIC"}},
      {"FOXPRO25", SQL_ALL_TYPES, {"LOGICAL", "GENERAL", "PICTURE", "MEMO", "CHAR", "FLOAT", "NUMERIC", "DATE"}},
      {"CLIPPER", SQL_CHAR, {"CHAR"}},
      {"DBASE3", SQL_DOUBLE, {}},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(driverConnect("DRIVER={KvDbase};DB=" + data_ + ";CT=" + c.createType), SQL_SUCCESS) << c.createType;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    ASSERT_EQ(SQLAllocStmt(dbc_, &stmt), SQL_SUCCESS);
    ASSERT_EQ(SQLGetTypeInfo(stmt, c.sqlType), SQL_SUCCESS) << c.createType;
    std::vector<std::string> names;
    SQLRETURN rc;
    while ((rc = SQLFetch(stmt)) == SQL_SUCCESS) {
      char name[64] = {0};
      SQLLEN length = 0;
      ASSERT_EQ(SQLGetData(stmt, 1, SQL_C_CHAR, name, sizeof(name), &length), SQL_SUCCESS);
      names.push_back(name);
      if (std::string(c.createType) == "CLIPPER") {
        SQLINTEGER precision = 0;
        ASSERT_EQ(SQLGetData(stmt, 3, SQL_C_LONG, &precision, 0, &length), SQL_SUCCESS);
        EXPECT_EQ(precision, 1024) << "a Clipper character field is up to 1024 bytes";
      }
    }
    EXPECT_EQ(rc, SQL_NO_DATA_FOUND);
    EXPECT_EQ(names, c.names) << c.createType;
    EXPECT_EQ(SQLFreeStmt(stmt, SQL_DROP), SQL_SUCCESS);
    ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
  }
}

}  // namespace
