// The dBASE connection: its keys, its dialects and their SQLGetInfo
// answers and type tables, and the private options 1044 and 1045.
#include "base/catalog/base_type_info.h"
#include "drivers/dbase/dbase_message_ids.h"
#include "flat/connection/flat_shared_desc.h"
#include "flat/sql/flat_ddl.h"
#include "tests/drivers/dbase/dbase_test_support.h"

namespace {

class DbfConnectionTest : public DbfFixture {
 protected:
  std::string info(DbfConnection* connection, uint16_t type) {
    char text[128] = {0};
    SQLSMALLINT length = 0;
    EXPECT_EQ(connection->SQLGetInfo(type, text, sizeof(text), &length), SQL_SUCCESS) << type;
    use(connection);
    return text;
  }
  uint32_t number(DbfConnection* connection, uint16_t type, int bytes) {
    uint32_t value = 0;
    uint16_t small = 0;
    EXPECT_EQ(connection->SQLGetInfo(type, bytes == 2 ? static_cast<void*>(&small) : static_cast<void*>(&value), 4,
                                     nullptr),
              SQL_SUCCESS)
        << type;
    use(connection);
    return bytes == 2 ? small : value;
  }
};

TEST_F(DbfConnectionTest, EveryCreateTypeAnsweredByItsDialect) {
  const struct {
    const char* name;
    uint32_t createType;
    const char* dbmsName;
    const char* version;
    uint16_t maxColumns;
    uint32_t maxIndex, maxRow;
    uint16_t typeCount;
    const char* lastType;
  } cases[] = {
      {"dbase2", dbfDbase2, "dBASE II", "01.00.0000 dBASE II", 32, 100, 4000, 3, "NUMERIC"},
      {"DBASE3", dbfDbase3, "dBASE III", "01.00.0000 dBASE III", 255, 100, 4000, 5, "DATE"},
      {"DBase4", dbfDbase4, "dBASE IV", "02.00.0000 dBASE IV", 255, 100, 4000, 6, "FLOAT"},
      {"DBASE5", dbfDbase5, "dBASE V", "05.00.0000 dBASE V", 1024, 100, 32767, 8, "BINARY"},
      {"clipper", dbfClipper, "Clipper", "05.20.0000 Clipper", 255, 250, 0, 5, "DATE"},
      {"FOXBASE", dbfFoxbase, "FoxBASE", "01.00.0000 FoxBASE", 255, 100, 4000, 6, "PICTURE"},
      {"FoxPro1", dbfFoxpro1, "FoxPro", "01.00.0000 FoxPro", 255, 100, 4000, 6, "PICTURE"},
      {"foxpro25", dbfFoxpro25, "FoxPro", "02.50.0000 FoxPro", 255, 240, 64770, 8, "GENERAL"},
  };
  for (const auto& c : cases) {
    DbfConnection* connection = connect(std::string("CreateType=") + c.name);
    EXPECT_EQ(connection->getCreateType(), c.createType) << c.name;
    EXPECT_EQ(info(connection, SQL_DBMS_NAME), c.dbmsName);
    EXPECT_EQ(info(connection, SQL_DBMS_VER), c.version);
    EXPECT_EQ(number(connection, SQL_MAX_COLUMNS_IN_TABLE, 2), c.maxColumns) << c.name;
    EXPECT_EQ(number(connection, SQL_MAX_INDEX_SIZE, 4), c.maxIndex) << c.name;
    EXPECT_EQ(number(connection, SQL_MAX_ROW_SIZE, 4), c.maxRow) << c.name;
    EXPECT_EQ(number(connection, SQL_MAX_COLUMN_NAME_LEN, 2), 10u);
    const DbfDialect& dialect = connection->getDialect();
    EXPECT_EQ(dialect.typeCount, c.typeCount);
    EXPECT_STREQ(dialect.typeTable[dialect.typeCount - 1].typeName, c.lastType) << c.name;
    // The framework keeps the DBMS name of the dialect the connect chose.
    EXPECT_STREQ(kvC(connection->getDbmsName()), c.dbmsName);
  }
  // SQL_MAX_ROW_SIZE is a 32-bit answer even where it is 0.
  DbfConnection* clipper = connect("CT=CLIPPER");
  uint32_t value = 0xFFFFFFFF;
  SQLSMALLINT length = 0;
  ASSERT_EQ(clipper->SQLGetInfo(SQL_MAX_ROW_SIZE, &value, sizeof(value), &length), SQL_SUCCESS);
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(length, 4);
}

TEST_F(DbfConnectionTest, AnUnknownCreateTypeFailsTheConnect) {
  for (const char* name : {"DBASE6", "FOX", "dbase 5"}) {
    SQLRETURN rc = 0;
    DbfConnection* connection = connect(std::string("CreateType=") + name, &rc);
    EXPECT_EQ(rc, SQL_ERROR) << name;
    EXPECT_EQ(stateOf(connection), "S1009") << name;
    EXPECT_FALSE(connection->isConnected());
  }
}

TEST_F(DbfConnectionTest, LockingAndCompatibilityKeys) {
  const struct {
    const char* keys;
    uint32_t scheme;
    uint16_t level;
    int ansi;
  } cases[] = {
      {"", dbfLockDbase, dbfLockRecord, 1},
      {"LockCompatibility=dBASE;Locking=record", dbfLockDbase, dbfLockRecord, 1},
      {"LCOMP=k+v;LCK=NONE", dbfLockKv, dbfLockNone, 1},
      {"LCOMP=K+VVirtual;LCK=file", dbfLockKvVirtual, dbfLockFile, 1},
      {"LCOMP=Clipper;LCK=sometimes", dbfLockClipper, dbfLockRecord, 1},
      {"LCOMP=fox;COMP=dbase", dbfLockFox, dbfLockRecord, 0},
      {"LCOMP=dBASE IV;Compatibility=ANSI", dbfLockDbase, dbfLockRecord, 1},
  };
  for (const auto& c : cases) {
    DbfConnection* connection = connect(c.keys);
    EXPECT_EQ(connection->getLockScheme(), c.scheme) << c.keys;
    EXPECT_EQ(connection->getLockingLevel(), c.level) << c.keys;
    EXPECT_EQ(connection->isAnsiCompare(), c.ansi) << c.keys;
  }
}

TEST_F(DbfConnectionTest, MacFileInfoAndPrivateInformation) {
  DbfConnection* connection = connect();
  EXPECT_EQ(info(connection, 1027), "F+DB");
  EXPECT_EQ(info(connection, 1012), "ROWID");
  EXPECT_EQ(number(connection, 1021, 2), 1u);
  DbfConnection* other = connect("MFI=AAAA,BBBB,CCCC");
  EXPECT_EQ(info(other, 1027), "BBBB");
  // The engine answers the table-name limit it asks of the driver's
  // connection; an item the driver is asked for and does not know is S1C00.
  EXPECT_EQ(number(connection, SQL_MAX_TABLE_NAME_LEN, 2), 251u);
  void* value = nullptr;
  BaseInfoValType kind = infoNotFound;
  EXPECT_EQ(connection->getAskedForInfo(SQL_DRIVER_VER, &value, &kind), kvFailure);
  EXPECT_EQ(stateOf(connection), "S1C00");
}

TEST_F(DbfConnectionTest, OptionsOfTheSetupDialogAndTheDialect) {
  DbfConnection* connection = connect();
  SQLUINTEGER setup = 0;
  ASSERT_EQ(connection->SQLGetConnectOption(flatOptionSetupDialog, &setup), SQL_SUCCESS);
  EXPECT_EQ(setup, 1u);
  char name[SQL_MAX_OPTION_STRING_LENGTH + 1] = {0};
  ASSERT_EQ(connection->SQLGetConnectOption(dbfOptionCreateType, name), SQL_SUCCESS);
  EXPECT_STREQ(name, "DBASE5");
  ASSERT_EQ(connection->SQLSetConnectOption(dbfOptionCreateType, SQLULEN(reinterpret_cast<uintptr_t>("clipper"))),
            SQL_SUCCESS);
  ASSERT_EQ(connection->SQLGetConnectOption(dbfOptionCreateType, name), SQL_SUCCESS);
  EXPECT_STREQ(name, "CLIPPER");
  EXPECT_EQ(connection->getDialect().typeTable[1].precision, 1024u);
  EXPECT_EQ(connection->SQLSetConnectOption(dbfOptionCreateType, SQLULEN(reinterpret_cast<uintptr_t>("DBASE6"))),
            SQL_ERROR);
  use(connection);
  EXPECT_EQ(stateOf(connection), "S1009");
  EXPECT_EQ(connection->getCreateType(), uint32_t(dbfClipper));
}

TEST_F(DbfConnectionTest, TheDialectSetBeforeTheConnectIsKeptAsANumber) {
  auto* connection = dbfBuild<DbfConnection>(static_cast<BaseEnv*>(env_));
  connections_.push_back(connection);
  {
    // The application's text goes away after the call.
    std::string name = "foxbase";
    ASSERT_EQ(connection->SQLSetConnectOption(dbfOptionCreateType, SQLULEN(reinterpret_cast<uintptr_t>(name.c_str()))),
              SQL_SUCCESS);
    name.assign(name.size(), 'x');
  }
  EXPECT_EQ(connection->SQLSetConnectOption(dbfOptionCreateType, SQLULEN(reinterpret_cast<uintptr_t>("NONE"))),
            SQL_ERROR);
  std::string text = "DRIVER=dbase;DB=" + dir() + ";CreateType=DBASE3";
  ASSERT_EQ(connection->SQLDriverConnect(nullptr, kvU(const_cast<char*>(text.c_str())), SQLSMALLINT(SQL_NTS), nullptr,
                                         0, nullptr, SQL_DRIVER_NOPROMPT),
            SQL_SUCCESS);
  EXPECT_EQ(connection->getCreateType(), uint32_t(dbfFoxbase));
}

TEST_F(DbfConnectionTest, TypeRowsAndLetters) {
  DbfConnection* dbase = connect("CT=DBASE5");
  DbfConnection* fox = connect("CT=FOXPRO25");
  const char letters[] = "LMCFNDGPB";
  const char* dbaseNames[] = {"LOGICAL", "MEMO", "CHAR", "FLOAT", "NUMERIC", "DATE", "GENERAL", "PICTURE", "BINARY"};
  for (int i = 0; i < 9; ++i) {
    for (DbfConnection* connection : {dbase, fox}) {
      const DbfDialect& dialect = connection->getDialect();
      const BaseTypeRow& row = dialect.typeTable[dbfRowOfLetter(dialect, uint8_t(letters[i]))];
      EXPECT_STREQ(row.typeName, dbaseNames[i]);
      EXPECT_EQ(dbfLetterOfRow(row), uint8_t(letters[i]));
    }
  }
  EXPECT_EQ(dbfRowOfLetter(fox->getDialect(), 'X'), 0);
  EXPECT_EQ(dbfLetterOfSqlType(SQL_VARCHAR), 'C');
  EXPECT_EQ(dbfLetterOfSqlType(SQL_DOUBLE), 'N');
  EXPECT_EQ(dbfLetterOfSqlType(SQL_INTEGER), 0);
  EXPECT_EQ(std::string(kvC(DbfConnection::getLogicalLetters())), "FTNY");
}

TEST_F(DbfConnectionTest, TypeInformationByDialect) {
  const struct {
    const char* createType;
    std::vector<std::string> names;  // sorted by SQL type, then name
  } cases[] = {
      {"DBASE2", {"LOGICAL", "CHAR", "NUMERIC"}},
      {"DBASE3", {"LOGICAL", "MEMO", "CHAR", "NUMERIC", "DATE"}},
      {"DBASE4", {"LOGICAL", "MEMO", "CHAR", "FLOAT", "NUMERIC", "DATE"}},
      {"DBASE5", {"LOGICAL", "BINARY", "GENERAL", "MEMO", "CHAR", "FLOAT", "NUMERIC", "DATE"}},
      {"CLIPPER", {"LOGICAL", "MEMO", "CHAR", "NUMERIC", "DATE"}},
      {"FOXPRO1", {"LOGICAL", "PICTURE", "MEMO", "CHAR", "NUMERIC", "DATE"}},
      {"FOXPRO25", {"LOGICAL", "GENERAL", "PICTURE", "MEMO", "CHAR", "FLOAT", "NUMERIC", "DATE"}},
  };
  for (const auto& c : cases) {
    DbfConnection* connection = connect(std::string("CT=") + c.createType);
    BaseGetTypesInfo rows(0);
    ASSERT_EQ(rows.collectFromTable(connection), kvSuccess);
    ASSERT_EQ(rows.sort(), kvSuccess);
    std::vector<std::string> names;
    for (uint16_t i = 0; i < rows.getRowCount(); ++i) names.push_back(kvC(rows.getRow(i)->typeName));
    EXPECT_EQ(names, c.names) << c.createType;
  }
  DbfConnection* clipper = connect("CT=CLIPPER");
  BaseGetTypesInfo chars(SQL_CHAR);
  ASSERT_EQ(chars.collectFromTable(clipper), kvSuccess);
  ASSERT_EQ(chars.getRowCount(), 1);
  EXPECT_EQ(chars.getRow(0)->precision, 1024);
  EXPECT_STREQ(kvC(chars.getRow(0)->localTypeName), "Char");
  EXPECT_STREQ(kvC(chars.getRow(0)->createParams), "length");
  EXPECT_EQ(chars.getRow(0)->caseSensitive, 1);
  // Option 1045 changes the rows with the dialect.
  ASSERT_EQ(clipper->applyConnectOption(dbfOptionCreateType, SQLULEN(reinterpret_cast<uintptr_t>("DBASE2"))),
            kvSuccess);
  EXPECT_EQ(clipper->getTypeCount(), 3);
}

TEST_F(DbfConnectionTest, CreateTableTakesCharacterAndNumberAsTypeNames) {
  const struct {
    const char* createType;
    const char* text;
    const char* typeName;
  } cases[] = {
      {"DBASE5", "CHARACTER(10)", "CHAR"},  {"DBASE5", "character (10)", "CHAR"},
      {"DBASE5", "NUMBER(5,2)", "NUMERIC"}, {"FOXPRO25", "NUMBER(5,2)", "NUMERIC"},
      {"DBASE2", "CHARACTER(10)", "CHAR"},  {"DBASE3", "CHAR(10)", "CHAR"},
  };
  for (const auto& c : cases) {
    DbfConnection* connection = connect(std::string("CT=") + c.createType);
    FlatDataTypeParser parser(connection);
    const unsigned char* position = kvU(c.text);
    uint16_t row = 0xFFFF;
    ASSERT_EQ(parser.parse(&position, kvU("A"), &row), kvSuccess) << c.text;
    ASSERT_LT(row, connection->getTypeCount());
    EXPECT_STREQ(connection->getTypeTable()[row].typeName, c.typeName) << c.text;
    while (*position == ' ') ++position;
    EXPECT_EQ(*position, '(') << "the parameters stay for the caller";
  }
}

TEST_F(DbfConnectionTest, IsFileOpenClosesTheIdleTablesItMeets) {
  writeFile(path("a.dbf"), dbfTableBytes(0x03, {{"N", 'C', 2, 0}}, {" x"}));
  writeFile(path("b.dbf"), dbfTableBytes(0x03, {{"N", 'C', 2, 0}}, {" y"}));
  DbfConnection* connection = connect("FileOpenCache=4");
  drop(query(connection, "a.dbf"));
  drop(query(connection, "b.dbf"));
  auto cached = [&] {
    int count = 0;
    for (FlatSharedDesc* shared = connection->getSharedTables(); shared; shared = shared->getNext()) ++count;
    return count;
  };
  ASSERT_EQ(cached(), 2) << "the cache keeps both idle tables";
  // An idle table is no open file, and the walk closes every idle table.
  EXPECT_EQ(connection->isFileOpen(kvU(path("a.dbf").c_str())), 0);
  EXPECT_EQ(cached(), 0);
  // A table in use is open, under its name or another name of its file.
  DbfStatement* statement = query(connection, "a.dbf");
  drop(query(connection, "b.dbf"));
  EXPECT_EQ(connection->isFileOpen(kvU(path("A.DBF").c_str())), 1);
  EXPECT_EQ(connection->isFileOpen(kvU(path("c.dbf").c_str())), 0);
  EXPECT_EQ(cached(), 1) << "b.dbf closed on the way";
  drop(statement);
}

TEST_F(DbfConnectionTest, MessagesCarryTheDriversName) {
  DbfConnection* connection = connect();
  unsigned char text[64];
  ASSERT_GT(connection->getDriverResourceStr(strDbfDriverName, text, sizeof(text)), 0);
  EXPECT_STREQ(kvC(text), "dBASE");
  ASSERT_GT(connection->getDriverResourceStr(msgDbfBadDecimalFormat, text, sizeof(text)), 0);
  EXPECT_STREQ(kvC(text), "Unsupported decimal format.");
  ASSERT_GT(connection->getDriverResourceStr(4015, text, sizeof(text)), 0) << "the engine's messages";
}

}  // namespace
