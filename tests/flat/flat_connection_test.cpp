// The engine's connection: its keys, flags, options, messages and
// SQLGetInfo rows; table names and paths; the cache of shared tables.
#include "tests/flat/flat_test_support.h"

#include "base/handles/base_messages.h"
#include "flat/connection/flat_info.h"
#include "drivers/flattest/flattest_message_ids.h"
#include "flat/flat_message_ids.h"
#include "util/os/bos.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {

const uint32_t driverBits =
    flatInsertAllowed | flatUpdateAllowed | flatDeleteAllowed | flatIndexFiles | flatRowIdSupported | flatStripQuotes;

class FlatConnectionTest : public FlatTestFixture {
 protected:
  // Connects with a connection string of its own (no DB added).
  FlatTestConnection* connectWith(const std::string& attributes, SQLRETURN* rc) {
    auto* connection = flatBuild<FlatTestConnection>(static_cast<BaseEnv*>(env_));
    connections_.push_back(connection);
    std::string text = "DRIVER=flattest;" + attributes;
    *rc = connection->SQLDriverConnect(nullptr, kvU(const_cast<char*>(text.c_str())), SQLSMALLINT(SQL_NTS), nullptr,
                                       0, nullptr, SQL_DRIVER_NOPROMPT);
    use(connection);
    return connection;
  }
  std::string info(FlatConnection* connection, SQLUSMALLINT type) {
    char text[256] = {0};
    SQLSMALLINT length = 0;
    EXPECT_EQ(connection->SQLGetInfo(type, text, sizeof(text), &length), SQL_SUCCESS) << type;
    use(static_cast<FlatTestConnection*>(connection));
    return std::string(text, size_t(length));
  }
  template <class T>
  T infoNumber(FlatConnection* connection, SQLUSMALLINT type) {
    T value = 0;
    EXPECT_EQ(connection->SQLGetInfo(type, &value, sizeof(value), nullptr), SQL_SUCCESS) << type;
    use(static_cast<FlatTestConnection*>(connection));
    return value;
  }
};

TEST_F(FlatConnectionTest, ConstructorFlags) {
  auto* connection = flatBuild<FlatTestConnection>(static_cast<BaseEnv*>(env_));
  connections_.push_back(connection);
  EXPECT_EQ(connection->getEngineFlags() & ~driverBits, 0x513500u);
  uint32_t framework = connection->getFlags();
  EXPECT_EQ(framework & 0x3C80u, 0x3C80u);
  EXPECT_EQ(framework & 0x600000u, 0x600000u);
  EXPECT_EQ(framework & 0x1C0000u, 0u);
  // The constructors set and clear capability bits only: the state bits are
  // the framework's initial ones, the connection's engine bits the engine's.
  EXPECT_EQ(framework & BaseConnection::stateFlags,
            uint32_t(BaseConnection::flagNoBrowse | BaseConnection::flagQuietNoWindow));
  EXPECT_EQ(connection->getEngineFlags() & flatConnFlags, flatInitialFlags & flatConnFlags);
  const uint16_t* parse = FlatConnection::getParseTable();
  EXPECT_EQ(std::vector<uint16_t>(parse, parse + 5), (std::vector<uint16_t>{0, 3, '#', 3, '*'}));
}

TEST_F(FlatConnectionTest, ConnectionKeys) {
  makeTable("emp");
  std::string file = tablePath("emp");
  char current[4096];
  ASSERT_NE(getcwd(current, sizeof(current)), nullptr);
  struct Case {
    std::string attributes;
    bool connects;
    std::string directory;  // "" when not checked
    uint32_t set, clear;    // engine bits
    uint16_t fileOpenCache, chunks;
  };
  const std::vector<Case> cases = {
      {"", true, current, flatDeferQuery | flatBlockCache, flatOem | flatUltraSafeCommit, 0, 4},
      {"DB=;DD=" + dir(), true, dir(), 0, 0, 0, 4},
      {"Database=" + dir() + ";DataDirectory=/nowhere", true, dir(), 0, 0, 0, 4},
      {"DB=" + dir() + ";VDB=1", true, dir(), 0, 0, 0, 4},
      {"DB=" + file + ";ValidateDB=1", false, "", 0, 0, 0, 0},
      {"DB=/no/such/dir;VDB=0", true, "/no/such/dir", 0, 0, 0, 0},
      {"CS=OEM", true, "", flatOem, 0, 0, 0},
      {"Charset=windows", true, "", 0, flatOem, 0, 0},
      {"CS=Ansi", true, "", 0, flatOem, 0, 0},
      {"IS=1", true, "", flatIntlSort, 0, 0, 0},
      {"IntlSort=0", true, "", 0, flatIntlSort, 0, 0},
      {"FOC=5", true, "", 0, 0, 5, 0},
      {"FileOpenCache=x", false, "", 0, 0, 0, 0},
      {"DQ=0", true, "", 0, flatDeferQuery, 0, 0},
      {"DeferQueryEvaluation=1", true, "", flatDeferQuery, 0, 0, 0},
      {"CSZ=64", true, "", 0, 0, 0, 1},
      {"CacheSize=63", true, "", 0, 0, 0, 63},
      {"CSZ=6400", true, "", 0, 0, 0, 100},
      {"CSZ=big", false, "", 0, 0, 0, 0},
      {"USF=1", true, "", flatUltraSafeCommit, 0, 0, 0},
      {"UltraSafeCommit=0", true, "", 0, flatUltraSafeCommit, 0, 0},
  };
  for (const Case& c : cases) {
    SQLRETURN rc = 0;
    FlatTestConnection* connection = connectWith(c.attributes, &rc);
    EXPECT_EQ(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO, c.connects) << c.attributes;
    if (!c.connects) continue;
    if (!c.directory.empty()) {
      EXPECT_STREQ(kvC(connection->getDatabaseDirectory()), c.directory.c_str()) << c.attributes;
    }
    EXPECT_EQ(connection->getEngineFlags() & c.set, c.set) << c.attributes;
    EXPECT_EQ(connection->getEngineFlags() & c.clear, 0u) << c.attributes;
    EXPECT_EQ(connection->getFileOpenCache(), c.fileOpenCache) << c.attributes;
    if (c.chunks) {
      EXPECT_EQ(connection->getCacheChunks(), c.chunks) << c.attributes;
    }
  }
}

TEST_F(FlatConnectionTest, ValidateDbNamesTheDirectoryThatIsAFile) {
  makeTable("emp");
  SQLRETURN rc = 0;
  FlatTestConnection* connection = connectWith("DB=" + tablePath("emp") + ";VDB=1", &rc);
  EXPECT_EQ(rc, SQL_ERROR);
  SQLCHAR state[6] = {0};
  SQLCHAR text[512] = {0};
  SQLINTEGER native = 0;
  ASSERT_EQ(connection->getErrorList().SQLError(state, &native, text, sizeof(text), nullptr), SQL_SUCCESS);
  EXPECT_STREQ(kvC(state), "S1000");
  std::string message = kvC(text);
  EXPECT_NE(message.find("The filename does not exist: " + tablePath("emp")), std::string::npos) << message;
}

TEST_F(FlatConnectionTest, ADirectoryLongerThan128CharactersWorks) {
  std::string deep = dir();
  while (deep.size() < 300) {
    deep += "/directory_with_a_long_name";
    ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
  }
  std::string table = deep + "/t.ftt";
  KvErrorList list(this, 1);
  KvErrorKeeper::setErrorList(&list);
  ASSERT_EQ(flatTestCreateTable(kvU(table.c_str()), {{"ID", 'I', 4, 0}}), kvSuccess);
  KvErrorKeeper::giveUpErrorList();
  SQLRETURN rc = 0;
  FlatTestConnection* connection = connectWith("DB=" + deep + ";VDB=1", &rc);
  ASSERT_EQ(rc, SQL_SUCCESS);
  unsigned char path[bosPathBytes];
  ASSERT_EQ(connection->getTableFullPath(kvU("t"), path), kvSuccess);
  EXPECT_EQ(std::string(kvC(path)), table);
  char option[bosPathBytes] = {0};
  ASSERT_EQ(connection->getConnectOption(SQL_CURRENT_QUALIFIER, option), kvSuccess);
  EXPECT_EQ(std::string(option), deep);
}

TEST_F(FlatConnectionTest, ConnectionOptions) {
  FlatTestConnection* connection = connect();
  EXPECT_EQ(connection->applyConnectOption(SQL_ACCESS_MODE, SQL_MODE_READ_ONLY), kvSuccess);
  EXPECT_TRUE(connection->getEngineFlags() & flatReadOnly);
  EXPECT_EQ(connection->applyConnectOption(SQL_ACCESS_MODE, SQL_MODE_READ_WRITE), kvSuccess);
  EXPECT_FALSE(connection->getEngineFlags() & flatReadOnly);

  EXPECT_TRUE(connection->isWritingDirectly());
  EXPECT_EQ(connection->applyConnectOption(SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), kvSuccess);
  EXPECT_FALSE(connection->isWritingDirectly());
  EXPECT_EQ(connection->applyConnectOption(SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_ON), kvSuccess);
  EXPECT_TRUE(connection->isWritingDirectly());
  EXPECT_FALSE(connection->getFlags() & BaseConnection::flagTransaction);

  for (uint16_t option : {uint16_t(SQL_TRANSLATE_DLL), uint16_t(SQL_TRANSLATE_OPTION)}) {
    connection->getErrorList().clearErrors();
    EXPECT_EQ(connection->applyConnectOption(option, SQLULEN(reinterpret_cast<uintptr_t>("x"))), kvFailure);
    ASSERT_EQ(connection->getErrorList().getCount(), 1u);
    EXPECT_EQ(connection->getErrorList().getErrorAtPos(0)->getStateIndex(), stateNotCapable);
  }
  connection->getErrorList().clearErrors();

  std::string other = dir() + "/other";
  ASSERT_EQ(mkdir(other.c_str(), 0700), 0);
  EXPECT_EQ(connection->applyConnectOption(SQL_CURRENT_QUALIFIER, SQLULEN(reinterpret_cast<uintptr_t>(other.c_str()))),
            kvSuccess);
  char qualifier[bosPathBytes] = {0};
  EXPECT_EQ(connection->getConnectOption(SQL_CURRENT_QUALIFIER, qualifier), kvSuccess);
  EXPECT_EQ(std::string(qualifier), other);

  SQLUINTEGER setup = 7;
  EXPECT_EQ(connection->getConnectOption(flatOptionSetupDialog, &setup), kvSuccess);
  EXPECT_EQ(setup, 0u);
  EXPECT_EQ(connection->applyConnectOption(flatOptionSetupDialog, 1), kvSuccess);
  SQLUINTEGER mode = 9;
  EXPECT_EQ(connection->getConnectOption(SQL_ACCESS_MODE, &mode), kvSuccess) << "others reach the framework";
  EXPECT_EQ(mode, 0u);
}

TEST_F(FlatConnectionTest, MessagesComeFromTheEngineOrTheDriver) {
  FlatTestConnection* connection = connect();
  const struct {
    uint16_t id;
    const char* text;
  } cases[] = {
      {msgFileNotExist, "The filename does not exist: %s1"},
      {msgDuplicateKey, "Row with this primary key already exists in table."},
      {msgSharedOpenLimit, "The 32 shared open limit has been exceeded for table: %s1"},
      {3803, "Unexpected text at end of SQL statement: %s1 "},
      {msgFlatTestBadFile, "The file %s1 is not a table of the test driver: %s2."},
      {20101, "FlatTest"},
  };
  for (const auto& c : cases) {
    unsigned char text[256];
    short length = connection->getDriverResourceStr(c.id, text, sizeof(text));
    EXPECT_EQ(std::string(kvC(text), size_t(length)), c.text) << c.id;
  }
  unsigned char text[16];
  EXPECT_EQ(connection->getDriverResourceStr(4094, text, sizeof(text)), 0);
}

TEST_F(FlatConnectionTest, InformationRows) {
  const BaseInfoTable& table = flatInfoTable();
  for (uint32_t i = 1; i < table.rowCount; ++i) EXPECT_LT(table.rows[i - 1].type, table.rows[i].type);
  FlatTestConnection* connection = connect();
  EXPECT_EQ(info(connection, SQL_IDENTIFIER_QUOTE_CHAR), "`");
  EXPECT_EQ(info(connection, SQL_SEARCH_PATTERN_ESCAPE), "~");
  EXPECT_EQ(info(connection, SQL_QUALIFIER_NAME_SEPARATOR), "/");
  EXPECT_EQ(info(connection, SQL_ORDER_BY_COLUMNS_IN_SELECT), "N");
  EXPECT_EQ(info(connection, SQL_SPECIAL_CHARACTERS), "~@#$%^&*_-+=\\}{;:?/><,.![]");
  EXPECT_EQ(infoNumber<SQLUINTEGER>(connection, SQL_FETCH_DIRECTION), 0x3Fu);
  EXPECT_EQ(infoNumber<SQLUINTEGER>(connection, SQL_STRING_FUNCTIONS), 0x45E5Du);
  EXPECT_EQ(infoNumber<SQLUINTEGER>(connection, SQL_QUALIFIER_USAGE), 13u);
  EXPECT_EQ(infoNumber<SQLUSMALLINT>(connection, SQL_NULL_COLLATION), 2);
  EXPECT_EQ(infoNumber<SQLUSMALLINT>(connection, SQL_MAX_QUALIFIER_NAME_LEN), 4095);
  EXPECT_EQ(infoNumber<SQLUSMALLINT>(connection, SQL_MAX_TABLE_NAME_LEN), 255 - 4);
  // The driver's own table comes first.
  EXPECT_EQ(infoNumber<SQLUSMALLINT>(connection, SQL_TXN_CAPABLE), SQL_TC_DML);
}

TEST_F(FlatConnectionTest, TableEnumerationAndPaths) {
  makeTable("alpha");
  makeTable("Beta");
  writeFile(dir() + "/notes.txt", "x");
  FlatTestConnection* connection = connect();
  std::vector<std::string> names;
  unsigned char* name = nullptr;
  ASSERT_EQ(connection->getTable(&name, nullptr, kvU("%"), 1), kvSuccess);
  while (name) {
    names.push_back(kvC(name));
    ramFree(name);
    ASSERT_EQ(connection->getTable(&name, nullptr, kvU("%"), 0), kvSuccess);
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Beta", "alpha"}));
  ASSERT_EQ(connection->getTable(&name, nullptr, nullptr, 0), kvSuccess);
  EXPECT_EQ(name, nullptr) << "the enumeration stays at its end";

  unsigned char path[bosPathBytes];
  const struct {
    const char* name;
    const char* path;  // null: refused
    uint16_t message;
  } cases[] = {
      {"emp", "/emp.ftt", 0},       {"emp.ftt", "/emp.ftt", 0}, {"EMP.FTT", "/EMP.FTT", 0},
      {"emp.dbf", nullptr, msgBadExtension},
  };
  for (const auto& c : cases) {
    connection->getErrorList().clearErrors();
    KvStatus status = connection->getTableFullPath(kvU(c.name), path);
    if (c.path) {
      EXPECT_EQ(status, kvSuccess) << c.name;
      EXPECT_EQ(std::string(kvC(path)), dir() + c.path);
    } else {
      EXPECT_EQ(status, kvFailure) << c.name;
      ASSERT_EQ(errorsOf(connection), std::vector<uint16_t>{c.message});
      EXPECT_EQ(connection->getErrorList().getErrorAtPos(0)->getStateIndex(), stateSyntax);
    }
  }
  connection->getErrorList().clearErrors();
  std::string tooLong(300, 'n');
  EXPECT_EQ(connection->getTableFullPath(kvU(tooLong.c_str()), path), kvFailure);
  ASSERT_EQ(connection->getErrorList().getCount(), 1u);
  EXPECT_STREQ(connection->getErrorList().getErrorAtPos(0)->getSqlState(), "37000");

  uint16_t exists = 9;
  EXPECT_EQ(connection->doesTableExist(kvU("alpha"), &exists), kvSuccess);
  EXPECT_EQ(exists, 1);
  EXPECT_EQ(connection->doesTableExist(kvU("gamma"), &exists), kvSuccess);
  EXPECT_EQ(exists, 0);
}

TEST_F(FlatConnectionTest, StripEngrave) {
  FlatTestConnection* connection = connect();
  const struct {
    const char* in;
    const char* out;
  } cases[] = {{"`emp`", "emp"}, {"a``b", "a`b"}, {"plain", "plain"}, {"````", "``"}, {"", ""}};
  connection->clearEngineFlags(flatStripQuotes);
  for (const auto& c : cases) {
    std::string kept = c.in;
    EXPECT_EQ(connection->flatStripEngrave(kvU(&kept[0])), kvSuccess);
    EXPECT_EQ(std::string(kept.c_str()), c.in) << "flag 0x40 clear: unchanged";
  }
  connection->addEngineFlags(flatStripQuotes);
  for (const auto& c : cases) {
    std::string name = c.in;
    EXPECT_EQ(connection->flatStripEngrave(kvU(&name[0])), kvSuccess);
    EXPECT_EQ(std::string(name.c_str()), c.out) << c.in;
  }
}

// The cache: which shared tables stay open after their last reader goes.
class FlatCacheTest : public FlatConnectionTest {
 protected:
  // Opens and closes each table in turn (flags set on its shared table
  // while open); returns the base names still open, most recent first.
  std::vector<std::string> openAndClose(FlatTestConnection* connection, const std::vector<std::string>& tables,
                                        uint32_t flags = 0) {
    for (const std::string& name : tables) {
      FlatTestStatement* statement = query(connection, {name});
      table(statement)->getShared()->addFlags(flags);
      drop(statement);
    }
    return open(connection);
  }
  static std::vector<std::string> open(FlatConnection* connection) {
    std::vector<std::string> names;
    for (FlatSharedDesc* shared = connection->getSharedTables(); shared; shared = shared->getNext())
      names.push_back(kvC(shared->getBaseName()));
    return names;
  }
};

TEST_F(FlatCacheTest, FileOpenCacheKeepsTheMostRecentIdleTables) {
  for (const char* name : {"t1", "t2", "t3", "t4"}) makeTable(name);
  FlatTestConnection* none = connect();
  EXPECT_EQ(openAndClose(none, {"t1", "t2"}), std::vector<std::string>{});
  FlatTestConnection* two = connect("FOC=2");
  EXPECT_EQ(openAndClose(two, {"t1", "t2", "t3", "t4"}), (std::vector<std::string>{"t4", "t3"}));
  // Reopening a cached table moves it to the head.
  EXPECT_EQ(openAndClose(two, {"t3"}), (std::vector<std::string>{"t3", "t4"}));
}

TEST_F(FlatCacheTest, CachePreferredTablesAreKeptUpToThree) {
  for (const char* name : {"t1", "t2", "t3", "t4", "t5"}) makeTable(name);
  FlatTestConnection* connection = connect("FOC=0");
  EXPECT_EQ(openAndClose(connection, {"t1", "t2", "t3", "t4"}, FlatSharedDesc::flagCachePreferred),
            (std::vector<std::string>{"t4", "t3", "t2"}));
  EXPECT_EQ(openAndClose(connection, {"t5"}), (std::vector<std::string>{"t4", "t3", "t2"}));
  // A table marked never to be cached closes at once.
  FlatTestConnection* other = connect("FOC=3");
  EXPECT_EQ(openAndClose(other, {"t1"}, FlatSharedDesc::flagNeverCache), std::vector<std::string>{});
}

TEST_F(FlatCacheTest, PendingChangesKeepATableOpen) {
  makeTable("t1");
  FlatTestConnection* connection = connect("FOC=0");
  autocommit(connection, false);
  FlatTestStatement* statement = query(connection, {"t1"});
  ASSERT_EQ(insert(table(statement), 1, "x"), kvSuccess);
  drop(statement);
  EXPECT_EQ(open(connection), std::vector<std::string>{"t1"});
  std::string name = tablePath("t1");
  EXPECT_EQ(connection->isFileOpen(kvU(name.c_str())), 1) << "pending changes count as use";
  ASSERT_EQ(connection->SQLTransact(SQL_COMMIT), SQL_SUCCESS);
  use(connection);
  EXPECT_EQ(open(connection), std::vector<std::string>{}) << "the cache is trimmed after commit";
}

TEST_F(FlatCacheTest, IsFileOpenClosesAnIdleCachedTable) {
  makeTable("t1");
  FlatTestConnection* connection = connect("FOC=4");
  std::string name = tablePath("t1");
  FlatTestStatement* statement = query(connection, {"t1"});
  EXPECT_EQ(connection->isFileOpen(kvU(name.c_str())), 1);
  drop(statement);
  EXPECT_EQ(open(connection), std::vector<std::string>{"t1"});
  EXPECT_EQ(connection->isFileOpen(kvU(name.c_str())), 0);
  EXPECT_EQ(open(connection), std::vector<std::string>{});
  EXPECT_EQ(connection->isFileOpen(kvU(name.c_str())), 0);
}

}  // namespace
