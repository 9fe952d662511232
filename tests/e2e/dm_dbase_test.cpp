// The dBASE driver through the real unixODBC Driver Manager, from a C++
// application: connections by data source and by DRIVER= string with every
// CreateType, SQLGetInfo and SQLGetTypeInfo by dialect, the private options
// 1044 and 1045, one connection shared under WorkArounds; SELECT, INSERT,
// UPDATE and DELETE on tables and memo files of other programs, table
// options, values in every C type, option 1048, and record locks between
// connections and between processes; damaged files (record counts, memo
// headers, narrow memo fields, a read-only memo file), statements that fail
// leaving table and memo file as they were, locks let go at the end of a
// transaction and locks of the own process never waited for.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

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

// The byte ranges /proc/locks shows on a file, as "start-end" (inclusive),
// leaving out the whole-file flock every open holds. A line names its file
// by device (major:minor, two hex digits each) and inode.
std::vector<std::string> lockedRanges(const std::string& file) {
  struct stat st;
  std::vector<std::string> ranges;
  if (stat(file.c_str(), &st) != 0) return ranges;
  char device[32];
  std::snprintf(device, sizeof(device), " %02x:%02x:", major(st.st_dev), minor(st.st_dev));
  const std::string inode = device + std::to_string(st.st_ino) + " ";
  std::ifstream locks("/proc/locks");
  std::string line;
  while (std::getline(locks, line)) {
    if (line.find("FLOCK") != std::string::npos || line.find("->") != std::string::npos ||
        line.find(inode) == std::string::npos)
      continue;
    std::istringstream fields(line.substr(line.find(inode) + inode.size()));
    std::string start, end;
    fields >> start >> end;
    ranges.push_back(start + "-" + end);
  }
  std::sort(ranges.begin(), ranges.end());
  return ranges;
}
std::string lockRange(uint64_t start, uint64_t length) {
  return std::to_string(start) + "-" + std::to_string(start + length - 1);
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

  // Copies files of other programs from the repository into the data directory.
  void copyData(std::initializer_list<const char*> names) {
    for (const char* name : names)
      std::filesystem::copy_file(std::string(KV_DBASE_DATA) + "/" + name, data_ + "/" + name);
  }
  std::string statementState(SQLHSTMT stmt) {
    SQLCHAR text[6] = {0}, message[512] = {0};
    SQLINTEGER code = 0;
    SQLError(SQL_NULL_HENV, SQL_NULL_HDBC, stmt, text, &code, message, sizeof(message), nullptr);
    message_ = reinterpret_cast<char*>(message);
    return reinterpret_cast<char*>(text);
  }
  SQLHSTMT statement(SQLHDBC dbc = SQL_NULL_HDBC) {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    EXPECT_EQ(SQLAllocStmt(dbc ? dbc : dbc_, &stmt), SQL_SUCCESS);
    return stmt;
  }
  // Runs a statement that returns no rows on a statement handle of its own.
  SQLRETURN run(const std::string& sql, SQLHDBC dbc = SQL_NULL_HDBC) {
    SQLHSTMT stmt = statement(dbc);
    SQLRETURN rc = SQLExecDirect(stmt, (SQLCHAR*)sql.c_str(), SQL_NTS);
    if (rc == SQL_ERROR) lastState_ = statementState(stmt);
    SQLFreeStmt(stmt, SQL_DROP);
    return rc;
  }
  // Every row of a query, each column as text; NULL reads as "<null>".
  std::vector<std::vector<std::string>> rows(const std::string& sql, SQLHDBC dbc = SQL_NULL_HDBC) {
    std::vector<std::vector<std::string>> result;
    SQLHSTMT stmt = statement(dbc);
    SQLRETURN rc = SQLExecDirect(stmt, (SQLCHAR*)sql.c_str(), SQL_NTS);
    EXPECT_EQ(rc, SQL_SUCCESS) << sql << ": " << statementState(stmt) << " " << message_;
    SQLSMALLINT columns = 0;
    if (rc == SQL_SUCCESS) {
      EXPECT_EQ(SQLNumResultCols(stmt, &columns), SQL_SUCCESS);
    }
    while (rc == SQL_SUCCESS && (rc = SQLFetch(stmt)) == SQL_SUCCESS) {
      std::vector<std::string> row;
      for (SQLUSMALLINT i = 1; i <= columns; ++i) {
        std::vector<char> text(8192);
        SQLLEN length = 0;
        EXPECT_EQ(SQLGetData(stmt, i, SQL_C_CHAR, text.data(), text.size(), &length), SQL_SUCCESS) << sql;
        row.push_back(length == SQL_NULL_DATA ? "<null>" : std::string(text.data()));
      }
      result.push_back(row);
    }
    EXPECT_TRUE(rc == SQL_NO_DATA_FOUND || rc == SQL_SUCCESS) << sql;
    SQLFreeStmt(stmt, SQL_DROP);
    return result;
  }
  std::vector<std::string> column(const std::string& sql, size_t index = 0) {
    std::vector<std::string> values;
    for (const auto& row : rows(sql)) values.push_back(index < row.size() ? trimmed(row[index]) : "?");
    return values;
  }
  static std::string trimmed(std::string text) {
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
  }
  std::string fileBytes(const std::string& name) {
    std::ifstream in(data_ + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void writeBytes(const std::string& name, const std::string& bytes) {
    std::ofstream(data_ + "/" + name, std::ios::binary | std::ios::trunc) << bytes;
  }
  // Runs a script of /usr/bin/python3 (python3-dbf, dbfread) in the data
  // directory; true when it exits with 0.
  bool python(const std::string& script) {
    std::ofstream(dir_ + "/script.py") << script;
    return std::system(("cd " + data_ + " && /usr/bin/python3 " + dir_ + "/script.py").c_str()) == 0;
  }
  // Runs a script of Perl (XBase) in the data directory; true when it exits
  // with 0.
  bool perl(const std::string& script) {
    std::ofstream(dir_ + "/script.pl") << script;
    return std::system(("cd " + data_ + " && perl " + dir_ + "/script.pl").c_str()) == 0;
  }

  std::string dir_, data_, message_, lastState_;
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

// ---- statements on tables.

TEST_F(DbaseDriverManagerTest, SelectStarReadsATableOfAnotherProgram) {
  copyData({"towns_ogr.dbf", "towns_ogr.cpg", "people3.dbf"});
  ASSERT_EQ(SQLConnect(dbc_, (SQLCHAR*)"Tables", SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  // GDAL's file: left-aligned numbers, asterisks and zeros for NULL, ANSI text.
  auto towns = rows("SELECT * FROM towns_ogr");
  ASSERT_EQ(towns.size(), 3u);
  EXPECT_EQ(trimmed(towns[0][0]), "Oslo");
  EXPECT_EQ(trimmed(towns[2][0]), "Troms\xf8");
  EXPECT_EQ(towns[0][1], "709037");
  EXPECT_EQ(towns[1][2], "465.30");
  EXPECT_EQ(towns[2][2], "<null>");
  EXPECT_EQ(towns[2][3], "<null>");
  EXPECT_EQ(towns[0][3], "1040-01-01");
  // python3-dbf's file: the deleted record is not seen, blanks are NULL.
  auto people = rows("SELECT * FROM people3");
  ASSERT_EQ(people.size(), 3u);
  EXPECT_EQ(people[0], (std::vector<std::string>{"Alice               ", "34", "5200.50", "1990-04-01", "1"}));
  EXPECT_EQ(people[1], (std::vector<std::string>{"Carol               ", "<null>", "<null>", "<null>", "<null>"}));
  ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
}
TEST_F(DbaseDriverManagerTest, InsertUpdateDeleteAreReadBackByDbfreadAndPythonDbf) {
  copyData({"stock_xb.dbf"});
  ASSERT_EQ(SQLConnect(dbc_, (SQLCHAR*)"Tables", SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  ASSERT_EQ(run("INSERT INTO stock_xb (ITEM, PRICE, INSTOCK, ADDED) VALUES ('drill', -3.5, 1, {d '2001-02-03'})"),
            SQL_SUCCESS)
      << lastState_ << message_;
  ASSERT_EQ(run("UPDATE stock_xb SET PRICE = 13 WHERE ITEM = 'hammer'"), SQL_SUCCESS) << message_;
  ASSERT_EQ(run("DELETE FROM stock_xb WHERE ITEM = 'nails'"), SQL_SUCCESS) << message_;
  ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);

  // The file as another program expects it: H + n * R + 1 bytes ending in
  // 0x1A, the count in the header, the deletion bytes.
  std::string bytes = fileBytes("stock_xb.dbf");
  ASSERT_GE(bytes.size(), 32u);
  auto u16 = [&](size_t at) { return size_t((unsigned char)bytes[at]) | size_t((unsigned char)bytes[at + 1]) << 8; };
  size_t count = u16(4) | u16(6) << 16, header = u16(8), record = u16(10);
  EXPECT_EQ(count, 4u);
  ASSERT_EQ(bytes.size(), header + count * record + 1);
  EXPECT_EQ(bytes.back(), '\x1a');
  std::string flags;
  for (size_t n = 0; n < count; ++n) flags += bytes[header + n * record];
  EXPECT_EQ(flags, std::string(" ** ")) << "hammer, saw (deleted), nails (deleted), drill";

  const std::string path = data_ + "/stock_xb.dbf";
  const std::string script =
      "import datetime, sys, dbf, dbfread\n"
      "t = dbfread.DBF(sys.argv[1])\n"
      "assert [(r['ITEM'], float(r['PRICE'])) for r in t] == [('hammer', 13.0), ('drill', -3.5)], list(t)\n"
      "assert sorted(r['ITEM'] for r in t.deleted) == ['nails', 'saw']\n"
      "assert list(t)[1]['ADDED'] == datetime.date(2001, 2, 3) and list(t)[1]['INSTOCK'] is True\n"
      "assert t.date == datetime.date.today(), t.date\n"
      "d = dbf.Table(sys.argv[1])\n"
      "d.open()\n"
      "assert len(d) == 4 and [dbf.is_deleted(r) for r in d] == [False, True, True, False]\n"
      "d.close()\n";
  std::ofstream(dir_ + "/readback.py") << script;
  EXPECT_EQ(std::system(("/usr/bin/python3 " + dir_ + "/readback.py " + path).c_str()), 0);
}
TEST_F(DbaseDriverManagerTest, TableOptionsSelectRecordsAndCharsets) {
  copyData({"people3.dbf"});
  ASSERT_EQ(SQLConnect(dbc_, (SQLCHAR*)"Tables", SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  EXPECT_EQ(column("SELECT NAME FROM people3 (RECORDS=DELETED)"), std::vector<std::string>{"Bob"});
  EXPECT_EQ(column("SELECT NAME FROM people3 (RECORDS=ALL, LOCKING=NONE)"),
            (std::vector<std::string>{"Alice", "Bob", "Carol", "Dave \x82"}));
  // The OEM e acute (0x82) as it stands, and converted to ANSI (0xE9).
  EXPECT_EQ(column("SELECT NAME FROM people3 (CHARSET=ANSI) WHERE AGE = 7"), std::vector<std::string>{"Dave \x82"});
  EXPECT_EQ(column("SELECT NAME FROM people3 (CHARSET=IBMPC) WHERE AGE = 7"), std::vector<std::string>{"Dave \xe9"});
  EXPECT_EQ(run("SELECT * FROM people3 (FOO=1)"), SQL_ERROR);
  EXPECT_EQ(lastState_, "37000");
  EXPECT_NE(message_.find("Unknown option: FOO"), std::string::npos) << message_;
  ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
}
TEST_F(DbaseDriverManagerTest, Option1048GivesTheAppendedRecord) {
  copyData({"stock_xb.dbf"});
  ASSERT_EQ(SQLConnect(dbc_, (SQLCHAR*)"Tables", SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  SQLHSTMT stmt = statement();
  // Three records in the file, one of them deleted: the next is number 4.
  for (double expected : {4.0, 5.0}) {
    ASSERT_EQ(SQLExecDirect(stmt, (SQLCHAR*)"INSERT INTO stock_xb (ITEM) VALUES ('new')", SQL_NTS), SQL_SUCCESS)
        << statementState(stmt) << message_;
    double last = 0;
    ASSERT_EQ(SQLGetStmtOption(stmt, 1048, &last), SQL_SUCCESS) << statementState(stmt) << message_;
    EXPECT_EQ(last, expected);
  }
  // An UPDATE gives the record it rewrote.
  ASSERT_EQ(SQLExecDirect(stmt, (SQLCHAR*)"UPDATE stock_xb SET PRICE = 1 WHERE ITEM = 'hammer'", SQL_NTS),
            SQL_SUCCESS);
  double last = 0;
  ASSERT_EQ(SQLGetStmtOption(stmt, 1048, &last), SQL_SUCCESS);
  EXPECT_EQ(last, 1.0);
  SQLFreeStmt(stmt, SQL_DROP);
  ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
}
TEST_F(DbaseDriverManagerTest, AnInsertFollowsTheLastWholeRecordWhateverTheCountSays) {
  // python3-dbf's table of three numbers; each case damages a copy of it.
  ASSERT_TRUE(python("import dbf\n"
                     "t = dbf.Table('n.dbf', 'N N(5,0)', dbf_type='db3')\n"
                     "t.open(dbf.READ_WRITE)\n"
                     "for n in (1, 2, 3): t.append((n,))\n"
                     "t.close()\n"));
  const std::string original = fileBytes("n.dbf");
  ASSERT_GT(original.size(), 12u);
  const size_t header = uint8_t(original[8]) | uint8_t(original[9]) << 8, record = uint8_t(original[10]);
  const struct {
    const char* what;
    uint32_t count;    // the header's record count
    size_t records;    // whole records left in the file
    size_t partial;    // bytes of one more record after them
  } cases[] = {
      {"a count larger than the records", 7, 2, 0},
      {"a file ending inside a record", 3, 2, 3},
      {"a count larger than the records and a cut record", 9, 2, 3},
  };
  ASSERT_EQ(SQLConnect(dbc_, (SQLCHAR*)"Tables", SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  for (const auto& c : cases) {
    std::string bytes = original.substr(0, header + c.records * record + c.partial);
    if (c.partial == 0) bytes += '\x1A';
    for (int i = 0; i < 4; ++i) bytes[4 + i] = char((c.count >> (8 * i)) & 0xFF);
    writeBytes("n.dbf", bytes);
    EXPECT_EQ(column("SELECT N FROM n"), (std::vector<std::string>{"1", "2"})) << c.what;
    ASSERT_EQ(run("INSERT INTO n (N) VALUES (77)"), SQL_SUCCESS) << c.what << ": " << message_;
    EXPECT_EQ(column("SELECT N FROM n"), (std::vector<std::string>{"1", "2", "77"})) << c.what;
    // The file as other programs expect it: the count of its records, each
    // whole, the 0x1A after the last.
    const std::string after = fileBytes("n.dbf");
    ASSERT_GT(after.size(), 8u);
    EXPECT_EQ(uint8_t(after[4]) | uint8_t(after[5]) << 8 | uint8_t(after[6]) << 16, 3) << c.what;
    EXPECT_EQ(after.size(), header + 3 * record + 1) << c.what;
    EXPECT_EQ(after.back(), '\x1A') << c.what;
    EXPECT_TRUE(python("import dbf\n"
                       "t = dbf.Table('n.dbf'); t.open()\n"
                       "assert [r.n for r in t] == [1, 2, 77], [r.n for r in t]\n"
                       "t.close()\n"))
        << c.what;
  }
  ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
}

TEST_F(DbaseDriverManagerTest, ValuesInEveryCType) {
  copyData({"people3.dbf", "stock_xb.dbf"});
  ASSERT_EQ(SQLConnect(dbc_, (SQLCHAR*)"Tables", SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  // A column is read once a fetch, so each C type gets the row afresh.
  SQLHSTMT stmt = statement();
  auto get = [&](SQLUSMALLINT col, SQLSMALLINT type, void* value, SQLLEN size) {
    SQLFreeStmt(stmt, SQL_CLOSE);
    EXPECT_EQ(SQLExecDirect(stmt, (SQLCHAR*)"SELECT NAME, AGE, SALARY, BORN, ACTIVE FROM people3 WHERE NAME = 'Alice'",
                            SQL_NTS),
              SQL_SUCCESS);
    EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    SQLLEN length = 0;
    return SQLGetData(stmt, col, type, value, size, &length);
  };
  char text[64] = {0};
  EXPECT_EQ(get(1, SQL_C_CHAR, text, sizeof(text)), SQL_SUCCESS);
  EXPECT_STREQ(text, "Alice               ") << "character fields are not trimmed";
  EXPECT_EQ(get(1, SQL_C_CHAR, text, 4), SQL_SUCCESS_WITH_INFO);
  EXPECT_STREQ(text, "Ali");
  SQLINTEGER whole = 0;
  EXPECT_EQ(get(2, SQL_C_LONG, &whole, 0), SQL_SUCCESS);
  EXPECT_EQ(whole, 34);
  SQLSMALLINT shortAge = 0;
  EXPECT_EQ(get(2, SQL_C_SHORT, &shortAge, 0), SQL_SUCCESS);
  EXPECT_EQ(shortAge, 34);
  SQLCHAR tiny = 0;
  EXPECT_EQ(get(2, SQL_C_TINYINT, &tiny, 0), SQL_SUCCESS);
  EXPECT_EQ(tiny, 34);
  SQLDOUBLE salary = 0;
  EXPECT_EQ(get(3, SQL_C_DOUBLE, &salary, 0), SQL_SUCCESS);
  EXPECT_DOUBLE_EQ(salary, 5200.5);
  SQLREAL single = 0;
  EXPECT_EQ(get(3, SQL_C_FLOAT, &single, 0), SQL_SUCCESS);
  EXPECT_FLOAT_EQ(single, 5200.5f);
  EXPECT_EQ(get(3, SQL_C_LONG, &whole, 0), SQL_SUCCESS_WITH_INFO) << "fraction truncated";
  EXPECT_EQ(statementState(stmt), "01004");
  EXPECT_EQ(whole, 5200);
  EXPECT_EQ(get(3, SQL_C_CHAR, text, sizeof(text)), SQL_SUCCESS);
  EXPECT_STREQ(text, "5200.50");
  DATE_STRUCT born{};
  EXPECT_EQ(get(4, SQL_C_DATE, &born, 0), SQL_SUCCESS);
  EXPECT_EQ(born.year, 1990);
  EXPECT_EQ(born.month, 4);
  EXPECT_EQ(born.day, 1);
  TIMESTAMP_STRUCT stamp{};
  EXPECT_EQ(get(4, SQL_C_TIMESTAMP, &stamp, 0), SQL_SUCCESS);
  EXPECT_EQ(stamp.year, 1990);
  EXPECT_EQ(stamp.day, 1);
  EXPECT_EQ(stamp.hour, 0);
  EXPECT_EQ(get(4, SQL_C_LONG, &whole, 0), SQL_ERROR);
  EXPECT_EQ(statementState(stmt), "07006");
  unsigned char active = 9;
  EXPECT_EQ(get(5, SQL_C_BIT, &active, 0), SQL_SUCCESS);
  EXPECT_EQ(active, 1);
  EXPECT_EQ(get(5, SQL_C_CHAR, text, sizeof(text)), SQL_SUCCESS);
  EXPECT_STREQ(text, "1");
  SQLFreeStmt(stmt, SQL_DROP);

  // Numbers written keep the field's form; one too wide fails.
  ASSERT_EQ(run("INSERT INTO stock_xb (ITEM, PRICE) VALUES ('drill', -3.5)"), SQL_SUCCESS) << lastState_ << message_;
  std::string bytes = fileBytes("stock_xb.dbf");
  EXPECT_NE(bytes.find("drill          -3.50"), std::string::npos);
  EXPECT_EQ(run("INSERT INTO people3 (NAME, AGE) VALUES ('Eve', 1234)"), SQL_ERROR);
  EXPECT_EQ(lastState_, "22003");
  EXPECT_EQ(column("SELECT NAME FROM people3 (RECORDS=ALL)").size(), 4u) << "the failed row was not appended";
  ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
}
// ---- values: text in the table's character set, numbers by their
// declaration, names in any case, comparisons by Compatibility.

// A field of a table written byte by byte from the format.
struct HandField {
  std::string name;
  char type;
  unsigned length, decimals;
};
// A dBASE table (version byte, fields, records: each one's text after its
// deletion byte), ended by 0x1A.
std::string handTable(uint8_t version, const std::vector<HandField>& fields, const std::vector<std::string>& records) {
  const size_t header = 32 + 32 * fields.size() + 1;
  size_t record = 1;
  for (const auto& f : fields) record += f.length;
  std::string bytes(header, '\0');
  auto put = [&](size_t at, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) bytes[at + i] = char((value >> (8 * i)) & 0xFF);
  };
  bytes[0] = char(version);
  bytes[1] = 124;
  bytes[2] = 5;
  bytes[3] = 6;
  put(4, records.size(), 4);
  put(8, header, 2);
  put(10, record, 2);
  for (size_t i = 0; i < fields.size(); ++i) {
    const size_t at = 32 + 32 * i;
    bytes.replace(at, fields[i].name.size(), fields[i].name);
    bytes[at + 11] = fields[i].type;
    bytes[at + 16] = char(fields[i].length);
    bytes[at + 17] = char(fields[i].decimals);
  }
  bytes[header - 1] = 0x0D;
  for (const auto& r : records) bytes += " " + r + std::string(record - 1 - std::min(r.size(), record - 1), ' ');
  return bytes + '\x1a';
}
// The records of a table file (each with its deletion byte).
std::vector<std::string> recordsOf(const std::string& bytes) {
  std::vector<std::string> records;
  if (bytes.size() < 12) return records;
  auto u16 = [&](size_t at) { return size_t(uint8_t(bytes[at])) | size_t(uint8_t(bytes[at + 1])) << 8; };
  const size_t count = u16(4) | u16(6) << 16, header = u16(8), record = u16(10);
  for (size_t n = 0; n < count && header + (n + 1) * record <= bytes.size(); ++n)
    records.push_back(bytes.substr(header + n * record, record));
  return records;
}
// One column of the current row as SQL_C_CHAR: its text, "<null>", or
// "!" and the SQLSTATE and message of a failure.
std::string textOrError(SQLHSTMT stmt, SQLUSMALLINT column) {
  char text[1024] = {0};
  SQLLEN length = 0;
  SQLRETURN rc = SQLGetData(stmt, column, SQL_C_CHAR, text, sizeof(text), &length);
  if (rc == SQL_ERROR) {
    SQLCHAR state[6] = {0}, message[512] = {0};
    SQLError(SQL_NULL_HENV, SQL_NULL_HDBC, stmt, state, nullptr, message, sizeof(message), nullptr);
    return "!" + std::string((char*)state) + " " + (char*)message;
  }
  return length == SQL_NULL_DATA ? "<null>" : std::string(text);
}

TEST_F(DbaseDriverManagerTest, AnOemUpdateKeepsTheBytesOfFieldsItDoesNotAssign) {
  // python3-dbf writes a code page 437 table whose first field holds
  // characters that ANSI lacks (Greek letters, box drawing): read as ANSI
  // they take best fits, which must never be written back.
  const std::string script =
      "import sys, dbf\n"
      "t = dbf.Table(sys.argv[1], 'A C(20); B C(5)', dbf_type='db3', codepage='cp437')\n"
      "t.open(dbf.READ_WRITE)\n"
      "t.append(('\\u03b1\\u00df\\u0393\\u03c0\\u03a3\\u03c3\\u00b5\\u03c4\\u03a6\\u0398\\u03a9\\u03b4"
      "\\u221e\\u2265\\u2264\\u2591\\u2592\\u2593\\u2502\\u2524', 'old'))\n"
      "t.append(('plain', 'old'))\n"
      "t.close()\n";
  std::ofstream(dir_ + "/oem.py") << script;
  ASSERT_EQ(std::system(("/usr/bin/python3 " + dir_ + "/oem.py " + dir_ + "/oem.dbf").c_str()), 0);
  const std::string original = [&] {
    std::ifstream in(dir_ + "/oem.dbf", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }();
  const std::vector<std::string> before = recordsOf(original);
  ASSERT_EQ(before.size(), 2u);
  ASSERT_EQ(before[0].substr(1, 20), "\xe0\xe1\xe2\xe3\xe4\xe5\xe6\xe7\xe8\xe9\xea\xeb\xec\xf2\xf3\xb0\xb1\xb2\xb3\xb4");

  const struct {
    const char* name;
    bool autocommit;
    const char* sql;
    std::string b;  // the new bytes of B in both records
  } cases[] = {
      {"autocommit", true, "UPDATE oem SET B = 'new'", "new  "},
      {"committed", false, "UPDATE oem SET B = 'new'", "new  "},
      // An assigned value is converted: e acute is 0x82 in code page 437.
      {"converted", true, "UPDATE oem SET B = 'caf\xe9'", "caf\x82 "},
  };
  for (const auto& c : cases) {
    std::filesystem::copy_file(dir_ + "/oem.dbf", data_ + "/oem.dbf",
                               std::filesystem::copy_options::overwrite_existing);
    ASSERT_EQ(driverConnect("DSN=Tables;Charset=OEM"), SQL_SUCCESS) << c.name;
    ASSERT_EQ(SQLSetConnectOption(dbc_, SQL_AUTOCOMMIT, c.autocommit ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF),
              SQL_SUCCESS);
    ASSERT_EQ(run(c.sql), SQL_SUCCESS) << c.name << ": " << message_;
    if (!c.autocommit) {
      ASSERT_EQ(SQLTransact(SQL_NULL_HENV, dbc_, SQL_COMMIT), SQL_SUCCESS);
    }
    ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS) << c.name;
    const std::string bytes = fileBytes("oem.dbf");
    std::vector<std::string> after = recordsOf(bytes);
    ASSERT_EQ(after.size(), 2u) << c.name;
    for (size_t n = 0; n < 2; ++n) {
      EXPECT_EQ(after[n].substr(0, 21), before[n].substr(0, 21)) << c.name << ": field A of record " << n + 1;
      EXPECT_EQ(after[n].substr(21), c.b) << c.name;
    }
    const size_t header = original.size() - 2 * 26 - 1;
    EXPECT_EQ(bytes.substr(4, header - 4), original.substr(4, header - 4)) << c.name << ": the header after its date";
    EXPECT_EQ(bytes.size(), original.size()) << c.name;
  }
}
TEST_F(DbaseDriverManagerTest, ANumberFieldGivesNoMoreThanItsDeclarationHolds) {
  // N(10,0), N(5,2) and N(255,200) holding what no program writing by the
  // declaration stores: an exponent, more digits before the point.
  const std::string wide(250, ' ');
  std::ofstream(data_ + "/nums.dbf", std::ios::binary)
      << handTable(0x03, {{"ID", 'C', 2, 0}, {"N", 'N', 10, 0}, {"P", 'N', 5, 2}, {"W", 'N', 255, 200}},
                   {"r1        42 1.50" + wide + "  0.5", "r2     1e300123.4" + wide + "1e300",
                    "r3    -1e1012345" + wide + "     "});
  ASSERT_EQ(SQLConnect(dbc_, (SQLCHAR*)"Tables", SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  SQLHSTMT stmt = statement();
  ASSERT_EQ(SQLExecDirect(stmt, (SQLCHAR*)"SELECT N, P, W FROM nums", SQL_NTS), SQL_SUCCESS);
  std::vector<std::vector<std::string>> got;
  while (SQLFetch(stmt) == SQL_SUCCESS)
    got.push_back({textOrError(stmt, 1), textOrError(stmt, 2), textOrError(stmt, 3)});
  SQLFreeStmt(stmt, SQL_DROP);
  const std::string badText = "!S1000 [KESTRANE][ODBC dBASE driver]Unsupported decimal format.";
  const std::string range = "!22003 [KESTRANE][ODBC dBASE driver]Numeric value out of range.";
  const std::vector<std::vector<std::string>> expected = {
      {"42", "1.50", "." + std::string("5") + std::string(199, '0')}, {badText, range, badText},
      {badText, range, "<null>"}};
  EXPECT_EQ(got, expected);
  // Read as numbers, such a value is out of range where it is used.
  for (const char* sql : {"SELECT ID FROM nums WHERE N > 0", "SELECT ID FROM nums WHERE W > 1",
                          "SELECT ID FROM nums WHERE P > 1"}) {
    stmt = statement();
    ASSERT_EQ(SQLExecDirect(stmt, (SQLCHAR*)sql, SQL_NTS), SQL_SUCCESS) << sql;
    SQLRETURN rc;
    while ((rc = SQLFetch(stmt)) == SQL_SUCCESS) {
    }
    EXPECT_EQ(rc, SQL_ERROR) << sql;
    EXPECT_EQ(statementState(stmt), "22003") << sql << ": " << message_;
    SQLFreeStmt(stmt, SQL_DROP);
  }

  // Descriptors whose decimals are not below the width are corrupt.
  for (unsigned decimals : {3u, 222u}) {
    std::ofstream(data_ + "/bad.dbf", std::ios::binary) << handTable(0x03, {{"N", 'N', 3, decimals}}, {"  1"});
    EXPECT_EQ(run("SELECT * FROM bad"), SQL_ERROR) << decimals;
    EXPECT_NE(message_.find("Invalid file format"), std::string::npos) << message_;
  }
  ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
}

TEST_F(DbaseDriverManagerTest, NumbersRoundHalfAwayFromZeroWhicheverWayTheyArrive) {
  std::ofstream(data_ + "/r.dbf", std::ios::binary)
      << handTable(0x03, {{"I", 'N', 3, 0}, {"F", 'N', 6, 2}}, {});
  ASSERT_EQ(SQLConnect(dbc_, (SQLCHAR*)"Tables", SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  const struct {
    const char* how;
    const char* sql;
    SQLSMALLINT cType, sqlType;  // of the parameters, when there are
    double number;
    const char* text;
    std::string record;  // the record as written, deletion byte first
  } cases[] = {
      {"literals", "INSERT INTO r (I, F) VALUES (2.5, 0.125)", 0, 0, 0, nullptr, "   3  0.13"},
      {"negative literals", "INSERT INTO r (I, F) VALUES (-2.5, -0.125)", 0, 0, 0, nullptr, "  -3 -0.13"},
      {"a literal below its binary value", "INSERT INTO r (F) VALUES (1.005)", 0, 0, 0, nullptr, "      1.01"},
      {"double parameters", "INSERT INTO r (I, F) VALUES (?, ?)", SQL_C_DOUBLE, SQL_DOUBLE, 2.5, nullptr,
       "   3  2.50"},
      {"a double parameter of a half", "INSERT INTO r (I, F) VALUES (?, ?)", SQL_C_DOUBLE, SQL_DOUBLE, 0.125, nullptr,
       "   0  0.13"},
      {"decimal parameters", "INSERT INTO r (I, F) VALUES (?, ?)", SQL_C_CHAR, SQL_DECIMAL, 0, "0.125",
       "   0  0.13"},
      // The last row (0, 0.13) updated: 0.13 + 0.005 is 0.135 as a double's
      // shortest text.
      {"an update", "UPDATE r SET I = 3.5, F = F + 0.005", 0, 0, 0, nullptr, "   4  0.14"},
  };
  for (const auto& c : cases) {
    SQLHSTMT stmt = statement();
    double number = c.number;
    SQLLEN textLength = SQL_NTS;
    for (SQLUSMALLINT p = 1; c.cType && p <= 2; ++p) {
      if (c.cType == SQL_C_DOUBLE)
        ASSERT_EQ(SQLBindParameter(stmt, p, SQL_PARAM_INPUT, c.cType, c.sqlType, 15, 0, &number, 0, nullptr),
                  SQL_SUCCESS);
      else
        ASSERT_EQ(SQLBindParameter(stmt, p, SQL_PARAM_INPUT, c.cType, c.sqlType, 10, 3, (void*)c.text, 0, &textLength),
                  SQL_SUCCESS);
    }
    ASSERT_EQ(SQLExecDirect(stmt, (SQLCHAR*)c.sql, SQL_NTS), SQL_SUCCESS) << c.how << ": " << statementState(stmt)
                                                                          << " " << message_;
    SQLFreeStmt(stmt, SQL_DROP);
    std::vector<std::string> records = recordsOf(fileBytes("r.dbf"));
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back(), c.record) << c.how;
  }
  ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
}

TEST_F(DbaseDriverManagerTest, FieldsNamedInLowerCaseAreNamedInAnyCase) {
  // GDAL names the fields of a shapefile's table in lower case.
  std::ofstream(data_ + "/places.dbf", std::ios::binary)
      << handTable(0x03, {{"id", 'N', 5, 0}, {"name", 'C', 10, 0}}, {"    1Oslo", "    2Bergen"});
  // Two fields whose names differ only in case, and one spelt as SQL
  // names are compared.
  std::ofstream(data_ + "/twins.dbf", std::ios::binary)
      << handTable(0x03, {{"Name", 'C', 4, 0}, {"nAME", 'C', 4, 0}, {"CODE", 'C', 2, 0}, {"code", 'C', 2, 0}},
                   {"ab  cd  XYxy"});
  ASSERT_EQ(SQLConnect(dbc_, (SQLCHAR*)"Tables", SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  const struct {
    const char* sql;
    std::vector<std::string> values;
  } cases[] = {
      {"SELECT name FROM places", {"Oslo", "Bergen"}},
      {"SELECT NAME FROM places", {"Oslo", "Bergen"}},
      {"SELECT places.name FROM places", {"Oslo", "Bergen"}},
      {"SELECT p.Name FROM places p WHERE id = 2", {"Bergen"}},
      {"SELECT name FROM places WHERE ID > 0 ORDER BY Name", {"Bergen", "Oslo"}},
      // An exact name is the field of that name.
      {"SELECT CODE FROM twins", {"XY"}},
      {"SELECT `code` FROM twins WHERE `code` = 'xy'", {"XY"}},
      {"SELECT CODE FROM twins WHERE `code` = 'xy'", {"XY"}},
  };
  for (const auto& c : cases) EXPECT_EQ(column(c.sql), c.values) << c.sql;
  ASSERT_EQ(run("INSERT INTO places (id, Name) VALUES (3, 'Troms')"), SQL_SUCCESS) << message_;
  ASSERT_EQ(run("UPDATE places SET name = 'Tromso' WHERE id = 3"), SQL_SUCCESS) << message_;
  EXPECT_EQ(recordsOf(fileBytes("places.dbf")).back(), "     3Tromso    ");
  // Two fields that only case tells apart: the name is ambiguous.
  for (const char* sql : {"SELECT name FROM twins", "SELECT CODE FROM twins WHERE name = 'ab'",
                          "INSERT INTO twins (name) VALUES ('x')"}) {
    EXPECT_EQ(run(sql), SQL_ERROR) << sql;
    EXPECT_NE(message_.find("More than one field has this name: NAME The name matches both 'Name' and 'nAME', which "
                            "differ only in case."),
              std::string::npos)
        << sql << ": " << message_;
  }
  ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
}

TEST_F(DbaseDriverManagerTest, TwoTableFilesDifferingOnlyInCaseAreAmbiguous) {
  std::ofstream(data_ + "/t.dbf", std::ios::binary) << handTable(0x03, {{"WHO", 'C', 5, 0}}, {"lower"});
  std::ofstream(data_ + "/T.DBF", std::ios::binary) << handTable(0x03, {{"WHO", 'C', 5, 0}}, {"upper"});
  std::ofstream(data_ + "/Mixed.Dbf", std::ios::binary) << handTable(0x03, {{"WHO", 'C', 5, 0}}, {"mixed"});
  ASSERT_EQ(SQLConnect(dbc_, (SQLCHAR*)"Tables", SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  // Named without its extension, a table may be either file.
  for (const char* sql : {"SELECT WHO FROM T", "SELECT WHO FROM t", "SELECT WHO FROM t.DBF",
                          "INSERT INTO t (WHO) VALUES ('x')", "DELETE FROM T"}) {
    EXPECT_EQ(run(sql), SQL_ERROR) << sql;
    // The two names in the order the directory lists them.
    EXPECT_TRUE(message_.find("The name matches both 'T.DBF' and 't.dbf', which differ only in case.") !=
                    std::string::npos ||
                message_.find("The name matches both 't.dbf' and 'T.DBF', which differ only in case.") !=
                    std::string::npos)
        << sql << ": " << message_;
  }
  // The file's own name chooses it; one file of a name is found in any case.
  EXPECT_EQ(column("SELECT WHO FROM t.dbf"), std::vector<std::string>{"lower"});
  EXPECT_EQ(column("SELECT WHO FROM T.DBF"), std::vector<std::string>{"upper"});
  EXPECT_EQ(column("SELECT WHO FROM MIXED"), std::vector<std::string>{"mixed"});
  EXPECT_EQ(run("SELECT WHO FROM nothing"), SQL_ERROR);
  EXPECT_EQ(lastState_, "S0002");
  ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
  EXPECT_EQ(recordsOf(fileBytes("t.dbf")).size(), 1u);
  EXPECT_EQ(recordsOf(fileBytes("T.DBF")), std::vector<std::string>{" upper"});
}

TEST_F(DbaseDriverManagerTest, CompatibilityDbaseComparesTheXbaseWay) {
  std::ofstream(data_ + "/names.dbf", std::ios::binary)
      << handTable(0x03, {{"NAME", 'C', 8, 0}}, {"Jo", "John", "Bob"});
  const struct {
    const char* keys;
    const char* table;
    std::vector<std::string> names;
  } cases[] = {
      {"", "names", {"Jo"}},
      {";Compatibility=DBASE", "names", {"Jo", "John"}},
      {";COMP=dbase", "names", {"Jo", "John"}},
      {"", "names (COMPATIBILITY=DBASE)", {"Jo", "John"}},
      {";Compatibility=DBASE", "names (COMPATIBILITY=ANSI)", {"Jo"}},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(driverConnect("DSN=Tables" + std::string(c.keys)), SQL_SUCCESS) << c.keys;
    EXPECT_EQ(column("SELECT NAME FROM " + std::string(c.table) + " WHERE NAME = 'Jo'"), c.names)
        << c.keys << " " << c.table;
    ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
  }
}

TEST_F(DbaseDriverManagerTest, TableOptionsAreMatchedAsWritten) {
  copyData({"people3.dbf"});
  ASSERT_EQ(SQLConnect(dbc_, (SQLCHAR*)"Tables", SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  EXPECT_EQ(run("SELECT NAME FROM people3 (records=ALL)"), SQL_ERROR);
  EXPECT_EQ(lastState_, "37000");
  EXPECT_NE(message_.find("Unknown option: records"), std::string::npos) << message_;
  // A value in another case is another value: all asks for nothing, and
  // ansi is no name of the ANSI character set, so the text is OEM.
  EXPECT_EQ(column("SELECT NAME FROM people3 (RECORDS=all)"), (std::vector<std::string>{"Alice", "Carol", "Dave \x82"}));
  EXPECT_EQ(column("SELECT NAME FROM people3 (CHARSET=ansi) WHERE AGE = 7"), std::vector<std::string>{"Dave \xe9"});
  ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
}

TEST_F(DbaseDriverManagerTest, AColumnIsFetchedFromItsFieldText) {
  // Fields: ID C(2), BIG N(20,2), BORN D, OK L.
  std::ofstream(data_ + "/text.dbf", std::ios::binary)
      << handTable(0x03, {{"ID", 'C', 2, 0}, {"BIG", 'N', 20, 2}, {"BORN", 'D', 8, 0}, {"OK", 'L', 1, 0}},
                   {"r1" "12345678901234567.25" "19990102" "T",
                    "r2" "                 12x" "        " "?",
                    "r3" "               -0.50" "2020-1-1" "y"});
  ASSERT_EQ(SQLConnect(dbc_, (SQLCHAR*)"Tables", SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  SQLHSTMT stmt = statement();
  ASSERT_EQ(SQLExecDirect(stmt, (SQLCHAR*)"SELECT ID, BIG, BORN, OK FROM text", SQL_NTS), SQL_SUCCESS);
  std::vector<std::vector<std::string>> got;
  SQLRETURN rc;
  while ((rc = SQLFetch(stmt)) == SQL_SUCCESS)
    got.push_back({textOrError(stmt, 1), textOrError(stmt, 2), textOrError(stmt, 3), textOrError(stmt, 4)});
  EXPECT_EQ(rc, SQL_NO_DATA_FOUND);
  SQLFreeStmt(stmt, SQL_DROP);
  // The digits as stored (a double has no 17th digit), in the framework's
  // decimal form; a date whose digits are no date fails only where it is
  // fetched as a date.
  const std::vector<std::vector<std::string>> expected = {
      {"r1", "12345678901234567.25", "1999-01-02", "1"},
      {"r2", "!S1000 [KESTRANE][ODBC dBASE driver]Unsupported decimal format.", "<null>", "<null>"},
      {"r3", "-.50", "!22008 [KESTRANE][ODBC dBASE driver]Datetime field overflow. Error in column 3.", "0"},
  };
  EXPECT_EQ(got, expected);
  EXPECT_EQ(column("SELECT ID FROM text WHERE BORN > {d '1999-01-01'} AND ID <> 'r2'"),
            (std::vector<std::string>{"r1", "r3"}))
      << "the bad date is read as its characters give it";
  ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
}
TEST_F(DbaseDriverManagerTest, AMemoFileOfAnotherTableWarnsWhereItIsFirstRead) {
  // A dBASE IV table and its memo file, whose header names another table
  // (signature 0x02 0x01 at 18, block size 512 at 20, name at 8).
  std::ofstream(data_ + "/notes.dbf", std::ios::binary)
      << handTable(0x8B, {{"CODE", 'C', 2, 0}, {"NOTE", 'M', 10, 0}}, {"K1         1", "K2         2"});
  std::string memo(512, '\0');
  memo[0] = 3;
  memo.replace(8, 5, "OTHER");
  memo[18] = 0x02;
  memo[19] = 0x01;
  memo[21] = 0x02;  // 512, little-endian
  for (const std::string text : {"one", "two"}) {
    std::string block(512, '\0');
    block.replace(0, 4, "\xff\xff\x08\x00", 4);
    block[4] = char(text.size() + 8);
    block.replace(8, text.size(), text);
    memo += block;
  }
  std::ofstream(data_ + "/notes.dbt", std::ios::binary) << memo;
  ASSERT_EQ(SQLConnect(dbc_, (SQLCHAR*)"Tables", SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  SQLHSTMT stmt = statement();
  ASSERT_EQ(SQLExecDirect(stmt, (SQLCHAR*)"SELECT CODE, NOTE FROM notes", SQL_NTS), SQL_SUCCESS);
  // The memo file opens when a value of it is first read: the warning
  // comes with that value, which is whole, and only once.
  for (const char* expected : {"one", "two"}) {
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    char text[16] = {0};
    SQLLEN length = 0;
    SQLRETURN rc = SQLGetData(stmt, 2, SQL_C_CHAR, text, sizeof(text), &length);
    EXPECT_STREQ(text, expected);
    EXPECT_EQ(length, 3);
    if (std::string(expected) == "one") {
      EXPECT_EQ(rc, SQL_SUCCESS_WITH_INFO);
      EXPECT_EQ(statementState(stmt), "01000");
      EXPECT_EQ(message_,
                "[KESTRANE][ODBC dBASE driver]Memo file for table OTHER is marked as belonging to a different table.");
    } else {
      EXPECT_EQ(rc, SQL_SUCCESS);
    }
  }
  SQLFreeStmt(stmt, SQL_DROP);
  ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
}
TEST_F(DbaseDriverManagerTest, MemoValuesWholeAndInPiecesBySQLGetData) {
  copyData({"memo3v.dbf", "memo3v.dbt", "memofp.dbf", "memofp.fpt"});
  ASSERT_EQ(SQLConnect(dbc_, (SQLCHAR*)"Tables", SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  auto memos = rows("SELECT CODE, REMARK FROM memo3v (CHARSET=IBMPC)");
  ASSERT_EQ(memos.size(), 4u);
  EXPECT_EQ(memos[0][1], "Hello memo");
  EXPECT_EQ(memos[2][1], std::string(600, 'x') + "END");
  EXPECT_EQ(memos[3][1], "line one\r\nline two \xe9");
  EXPECT_EQ(column("SELECT REMARK FROM memofp", 0)[2], std::string(120, 'y') + "END");

  // In pieces: each full piece is 01004 with the length still to come.
  auto pieces = [&](const std::string& sql) {
    SQLHSTMT stmt = statement();
    EXPECT_EQ(SQLExecDirect(stmt, (SQLCHAR*)sql.c_str(), SQL_NTS), SQL_SUCCESS) << sql;
    EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    std::string whole;
    char piece[101];
    SQLLEN length = 0;
    SQLRETURN rc;
    int calls = 0;
    while ((rc = SQLGetData(stmt, 1, SQL_C_CHAR, piece, sizeof(piece), &length)) == SQL_SUCCESS_WITH_INFO) {
      EXPECT_EQ(statementState(stmt), "01004");
      EXPECT_GE(length, 100);
      whole += piece;
      if (++calls > 1000) break;
    }
    EXPECT_EQ(rc, SQL_SUCCESS);
    EXPECT_EQ(length, (SQLLEN)std::strlen(piece));
    whole += piece;
    EXPECT_EQ(SQLGetData(stmt, 1, SQL_C_CHAR, piece, sizeof(piece), &length), SQL_NO_DATA_FOUND);
    SQLFreeStmt(stmt, SQL_DROP);
    return whole;
  };
  EXPECT_EQ(pieces("SELECT REMARK FROM memo3v WHERE CODE = 'K3'"), std::string(600, 'x') + "END");
  EXPECT_EQ(pieces("SELECT REMARK FROM memofp WHERE CODE = 'K3'"), std::string(120, 'y') + "END");

  // A value of many blocks through a parameter, read back whole.
  std::string big(5000, 'z');
  SQLHSTMT stmt = statement();
  SQLLEN bigLength = (SQLLEN)big.size();
  ASSERT_EQ(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_LONGVARCHAR, big.size(), 0, big.data(),
                             bigLength, &bigLength),
            SQL_SUCCESS);
  ASSERT_EQ(SQLExecDirect(stmt, (SQLCHAR*)"UPDATE memo3v SET REMARK = ? WHERE CODE = 'K1'", SQL_NTS), SQL_SUCCESS)
      << statementState(stmt) << message_;
  SQLFreeStmt(stmt, SQL_DROP);
  EXPECT_EQ(pieces("SELECT REMARK FROM memo3v WHERE CODE = 'K1'"), big);
  // The other values are where they were.
  memos = rows("SELECT CODE, REMARK FROM memo3v (CHARSET=IBMPC)");
  ASSERT_EQ(memos.size(), 4u);
  EXPECT_EQ(memos[1][1], "<null>");
  EXPECT_EQ(memos[2][1], std::string(600, 'x') + "END");
  EXPECT_EQ(memos[3][1], "line one\r\nline two \xe9");
  ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
}
// python3-dbf's tables of a character, a number N(5,0) and a memo field, in
// dBASE III (m3.dbf, m3.dbt) and FoxPro (mf.dbf, mf.fpt) form: a short memo
// in one block and a long one over two blocks.
const char memoTablesScript[] =
    "import dbf\n"
    "for name, kind in (('m3', 'db3'), ('mf', 'fp')):\n"
    "    t = dbf.Table(name + '.dbf', 'CODE C(4); I N(5,0); NOTE M', dbf_type=kind, codepage='cp437')\n"
    "    t.open(dbf.READ_WRITE)\n"
    "    t.append(('K1', 1, 'first memo'))\n"
    "    t.append(('K2', 2, 'second ' + 'y' * 600))\n"
    "    t.close()\n";

TEST_F(DbaseDriverManagerTest, AFailedStatementLeavesTheTableAndItsMemoFileAsTheyWere) {
  ASSERT_TRUE(python(memoTablesScript));
  // The same table with a production index named in its header, whose
  // changes the driver refuses.
  std::string marked = fileBytes("m3.dbf");
  ASSERT_GT(marked.size(), 32u);
  marked[28] = 1;
  writeBytes("m3p.dbf", marked);
  writeBytes("m3p.dbt", fileBytes("m3.dbt"));
  ASSERT_EQ(SQLConnect(dbc_, (SQLCHAR*)"Tables", SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  const std::string big(5000, 'b');
  const struct {
    const char* table;
    const char* memo;
    std::string sql;
    const char* state;
  } cases[] = {
      // The memo column comes before the number out of range: its value
      // would have been written already.
      {"m3", "m3.dbt", "UPDATE m3 SET NOTE = 'CLOBBERED', I = 123456", "22003"},
      {"m3", "m3.dbt", "UPDATE m3 SET NOTE = ?, I = 123456 WHERE CODE = 'K2'", "22003"},
      {"m3", "m3.dbt", "INSERT INTO m3 (CODE, NOTE, I) VALUES ('K9', 'new memo', 123456)", "22003"},
      {"mf", "mf.fpt", "UPDATE mf SET NOTE = 'CLOBBERED', I = 123456", "22003"},
      {"mf", "mf.fpt", "INSERT INTO mf (CODE, NOTE, I) VALUES ('K9', ?, 123456)", "22003"},
      {"m3p", "m3p.dbt", "UPDATE m3p SET NOTE = 'CLOBBERED' WHERE CODE = 'K1'", "S1C00"},
      {"m3p", "m3p.dbt", "INSERT INTO m3p (CODE, NOTE) VALUES ('K9', 'new memo')", "S1C00"},
  };
  for (const auto& c : cases) {
    const std::string table = fileBytes(std::string(c.table) + ".dbf"), memo = fileBytes(c.memo);
    SQLHSTMT stmt = statement();
    SQLLEN bigLength = SQLLEN(big.size());
    if (c.sql.find('?') != std::string::npos) {
      ASSERT_EQ(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_LONGVARCHAR, big.size(), 0,
                                 (SQLPOINTER)big.data(), bigLength, &bigLength),
                SQL_SUCCESS);
    }
    EXPECT_EQ(SQLExecDirect(stmt, (SQLCHAR*)c.sql.c_str(), SQL_NTS), SQL_ERROR) << c.sql;
    EXPECT_EQ(statementState(stmt), c.state) << c.sql << ": " << message_;
    SQLFreeStmt(stmt, SQL_DROP);
    EXPECT_TRUE(fileBytes(std::string(c.table) + ".dbf") == table) << c.sql << ": the table changed";
    EXPECT_TRUE(fileBytes(c.memo) == memo) << c.sql << ": the memo file changed";
  }
  // The statements that go through write their memos with their records.
  ASSERT_EQ(run("UPDATE m3 SET NOTE = 'changed', I = 7 WHERE CODE = 'K1'"), SQL_SUCCESS) << message_;
  ASSERT_EQ(run("INSERT INTO mf (CODE, NOTE, I) VALUES ('K3', 'third', 3)"), SQL_SUCCESS) << message_;
  ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
  EXPECT_TRUE(python("import dbf\n"
                     "t = dbf.Table('m3.dbf'); t.open()\n"
                     "rows = [(r.code.strip(), r.i, r.note) for r in t]\n"
                     "assert rows == [('K1', 7, 'changed'), ('K2', 2, 'second ' + 'y' * 600)], rows\n"
                     "t.close()\n"
                     "t = dbf.Table('mf.dbf'); t.open()\n"
                     "rows = [(r.code.strip(), r.i, r.note) for r in t]\n"
                     "assert rows == [('K1', 1, 'first memo'), ('K2', 2, 'second ' + 'y' * 600), "
                     "('K3', 3, 'third')], rows\n"
                     "t.close()\n"));
}

TEST_F(DbaseDriverManagerTest, EveryPieceOfAMemoTellsTheLengthThatRemains) {
  ASSERT_TRUE(python(memoTablesScript));
  ASSERT_EQ(SQLConnect(dbc_, (SQLCHAR*)"Tables", SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  const std::string longValue = "second " + std::string(600, 'y');
  ASSERT_EQ(run("UPDATE m3 SET NOTE = '123' WHERE CODE = 'K1'"), SQL_SUCCESS) << message_;
  ASSERT_EQ(run("UPDATE mf SET NOTE = '123' WHERE CODE = 'K1'"), SQL_SUCCESS) << message_;
  // A FoxPro value has a length; dBASE III text, which has none, is read to
  // its end to tell it. Either way each piece tells what remains (the
  // Driver Manager widens no text for SQL_C_WCHAR whose length is
  // SQL_NO_TOTAL), never a length that is not there.
  for (const char* table : {"m3", "mf"}) {
    SQLHSTMT stmt = statement();
    const std::string sql = "SELECT NOTE FROM " + std::string(table) + " WHERE CODE = 'K2'";
    ASSERT_EQ(SQLExecDirect(stmt, (SQLCHAR*)sql.c_str(), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    std::string whole;
    char piece[101];
    SQLLEN length = 0;
    SQLRETURN rc;
    for (int calls = 0; (rc = SQLGetData(stmt, 1, SQL_C_CHAR, piece, sizeof(piece), &length)) ==
                            SQL_SUCCESS_WITH_INFO && calls < 100;
         ++calls) {
      EXPECT_EQ(length, SQLLEN(longValue.size() - whole.size())) << table;
      whole += piece;
    }
    EXPECT_EQ(rc, SQL_SUCCESS) << table;
    EXPECT_EQ(length, SQLLEN(longValue.size() - whole.size())) << table;
    whole += piece;
    EXPECT_EQ(whole, longValue) << table;
    SQLFreeStmt(stmt, SQL_DROP);
    // A value converted whole (here to a number) is read to its end first.
    stmt = statement();
    const std::string one = "SELECT NOTE FROM " + std::string(table) + " WHERE CODE = 'K1'";
    ASSERT_EQ(SQLExecDirect(stmt, (SQLCHAR*)one.c_str(), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    SQLINTEGER number = 0;
    EXPECT_EQ(SQLGetData(stmt, 1, SQL_C_LONG, &number, 0, &length), SQL_SUCCESS)
        << table << ": " << statementState(stmt) << " " << message_;
    EXPECT_EQ(number, 123) << table;
    SQLFreeStmt(stmt, SQL_DROP);
  }
  ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
}

TEST_F(DbaseDriverManagerTest, ANextFreeBlockFarBeyondTheMemoFileIsCorrupt) {
  ASSERT_TRUE(python(memoTablesScript));
  ASSERT_EQ(SQLConnect(dbc_, (SQLCHAR*)"Tables", SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  const std::string longValue(600, 'n');  // two blocks in either file
  for (const char* table : {"m3", "mf"}) {
    const bool fox = std::string(table) == "mf";
    const std::string memoName = std::string(table) + (fox ? ".fpt" : ".dbt");
    auto setNextFree = [&](uint32_t block) {
      std::string memo = fileBytes(memoName);
      for (int i = 0; i < 4; ++i) memo[fox ? 3 - i : i] = char((block >> (8 * i)) & 0xFF);
      writeBytes(memoName, memo);
    };
    std::string memo = fileBytes(memoName);
    ASSERT_GE(memo.size(), 8u);
    const uint32_t blockSize = fox ? (uint8_t(memo[6]) << 8 | uint8_t(memo[7])) : 512;
    const uint32_t fileEnd = uint32_t((memo.size() + blockSize - 1) / blockSize);
    // A hostile header: one INSERT would write at block 0x7FFFFFF0.
    setNextFree(0x7FFFFFF0);
    const std::string tableBytes = fileBytes(std::string(table) + ".dbf"), memoBytes = fileBytes(memoName);
    EXPECT_EQ(run("INSERT INTO " + std::string(table) + " (CODE, NOTE) VALUES ('K9', 'new')"), SQL_ERROR);
    EXPECT_EQ(lastState_, "S1000") << table;
    EXPECT_NE(message_.find("Corrupt memo file, read error"), std::string::npos) << message_;
    EXPECT_TRUE(fileBytes(std::string(table) + ".dbf") == tableBytes) << table;
    EXPECT_TRUE(fileBytes(memoName) == memoBytes) << table;
    // Blocks another program took but did not write yet are fine: the new
    // value goes after them.
    setNextFree(fileEnd + 1);
    ASSERT_EQ(run("INSERT INTO " + std::string(table) + " (CODE, NOTE) VALUES ('K9', '" + longValue + "')"),
              SQL_SUCCESS)
        << table << ": " << message_;
    EXPECT_EQ(column("SELECT NOTE FROM " + std::string(table) + " WHERE CODE = 'K9'"),
              std::vector<std::string>{longValue});
  }
  ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
  EXPECT_TRUE(python("import dbf\n"
                     "for name in ('m3', 'mf'):\n"
                     "    t = dbf.Table(name + '.dbf'); t.open()\n"
                     "    assert [r.note for r in t] == ['first memo', 'second ' + 'y' * 600, 'n' * 600], list(t)\n"
                     "    t.close()\n"));
}

TEST_F(DbaseDriverManagerTest, ABlockNumberTooLongForItsFieldIsRefused) {
  // A dBASE III table whose memo field is 4 characters wide (written by
  // hand from the format): block numbers up to 9999 fit. Its memo file's
  // next free block is 10000 (a sparse file of 10000 blocks).
  std::string table(32 + 2 * 32 + 1, '\0');
  table[0] = char(0x83);
  table[4] = 1;
  table[8] = char(table.size());
  table[10] = 9;  // deletion byte, CODE C(4), NOTE M(4)
  std::memcpy(&table[32], "CODE", 4);
  table[32 + 11] = 'C';
  table[32 + 16] = 4;
  std::memcpy(&table[64], "NOTE", 4);
  table[64 + 11] = 'M';
  table[64 + 16] = 4;
  table.back() = 0x0D;
  table += " K1     1\x1A";
  writeBytes("narrow.dbf", table);
  std::string memo(1024, '\0');
  memo[0] = char(10000 & 0xFF);
  memo[1] = char(10000 >> 8);
  std::memcpy(&memo[512], "old\x1A\x1A", 5);
  writeBytes("narrow.dbt", memo);
  std::filesystem::resize_file(data_ + "/narrow.dbt", 10000 * 512);

  ASSERT_EQ(SQLConnect(dbc_, (SQLCHAR*)"Tables", SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  const std::string tableBytes = fileBytes("narrow.dbf"), memoBytes = fileBytes("narrow.dbt");
  EXPECT_EQ(run("INSERT INTO narrow (CODE, NOTE) VALUES ('K2', 'new')"), SQL_ERROR);
  EXPECT_EQ(lastState_, "22003") << message_;
  EXPECT_EQ(run("UPDATE narrow SET NOTE = '" + std::string(600, 'g') + "' WHERE CODE = 'K1'"), SQL_ERROR);
  EXPECT_EQ(lastState_, "22003") << message_;
  EXPECT_TRUE(fileBytes("narrow.dbf") == tableBytes);
  EXPECT_TRUE(fileBytes("narrow.dbt") == memoBytes);
  // A value that stays in its block keeps a number that fits.
  ASSERT_EQ(run("UPDATE narrow SET NOTE = 'tiny' WHERE CODE = 'K1'"), SQL_SUCCESS) << message_;
  EXPECT_EQ(column("SELECT NOTE FROM narrow"), std::vector<std::string>{"tiny"});
  ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
}

// The child's side of the read-only memo test: runs as a user who may
// write the table but not its memo file (root writes any file, so a root
// test drops to "nobody" once connected: the driver is loaded from the
// build tree, which that user may not reach). Returns 0 when every step
// went as expected.
int childWithReadOnlyMemo(const std::string& connect) {
  alarm(60);
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  if (SQLAllocEnv(&env) != SQL_SUCCESS || SQLAllocConnect(env, &dbc) != SQL_SUCCESS) return 11;
  if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, (SQLCHAR*)connect.c_str(), SQL_NTS, nullptr, 0, nullptr,
                                      SQL_DRIVER_NOPROMPT)))
    return 12;
  if (getuid() == 0) {
    struct passwd* nobody = getpwnam("nobody");
    if (!nobody || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) return 10;
  }
  // rc of a statement, its first message in message.
  std::string message;
  auto exec = [&](const std::string& sql, std::string* firstValue) {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    SQLAllocStmt(dbc, &stmt);
    SQLRETURN rc = SQLExecDirect(stmt, (SQLCHAR*)sql.c_str(), SQL_NTS);
    if (rc == SQL_SUCCESS && firstValue) {
      char text[256] = {0};
      SQLLEN length = 0;
      rc = SQLFetch(stmt);
      if (rc == SQL_SUCCESS) rc = SQLGetData(stmt, 1, SQL_C_CHAR, text, sizeof(text), &length);
      *firstValue = text;
    }
    SQLCHAR state[6] = {0}, text[512] = {0};
    SQLINTEGER native = 0;
    message.clear();
    if (rc == SQL_ERROR && SQLError(SQL_NULL_HENV, SQL_NULL_HDBC, stmt, state, &native, text, sizeof(text),
                                    nullptr) == SQL_SUCCESS)
      message = std::string((char*)state) + " " + (char*)text;
    SQLFreeStmt(stmt, SQL_DROP);
    return rc;
  };
  std::string value;
  if (exec("SELECT REMARK FROM memo3v WHERE CODE = 'K1'", &value) != SQL_SUCCESS) {
    std::fprintf(stderr, "reading: %s\n", message.c_str());
    return 13;
  }
  if (value != "Hello memo") return 14;
  if (exec("UPDATE memo3v SET CODE = 'Z1' WHERE CODE = 'K1'", nullptr) != SQL_SUCCESS) return 15;
  for (const char* write : {"UPDATE memo3v SET REMARK = 'new' WHERE CODE = 'K2'",
                            "INSERT INTO memo3v (CODE, REMARK) VALUES ('K9', 'new')"}) {
    if (exec(write, nullptr) != SQL_ERROR) return 16;
    // The message names the file that cannot be written, as it is on disk
    // (the statement's memo3v leads to memo3v.dbt, not memo3v.DBT).
    if (message.find("/memo3v.dbt") == std::string::npos) {
      std::fprintf(stderr, "%s: %s\n", write, message.c_str());
      return 17;
    }
  }
  SQLDisconnect(dbc);
  SQLFreeConnect(dbc);
  SQLFreeEnv(env);
  return 0;
}

TEST_F(DbaseDriverManagerTest, AReadOnlyMemoFileIsReadAndOnlyItsWritesFail) {
  copyData({"memo3v.dbf", "memo3v.dbt"});
  const std::string memo = fileBytes("memo3v.dbt"), table = fileBytes("memo3v.dbf");
  // The child's user finds the files by their names (so reads the
  // directory) and may write the table.
  ASSERT_EQ(chmod(dir_.c_str(), 0711), 0);
  ASSERT_EQ(chmod(data_.c_str(), 0755), 0);
  ASSERT_EQ(chmod((data_ + "/memo3v.dbf").c_str(), 0666), 0);
  ASSERT_EQ(chmod((data_ + "/memo3v.dbt").c_str(), 0444), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(childWithReadOnlyMemo("DSN=Tables"));
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  EXPECT_TRUE(fileBytes("memo3v.dbt") == memo);
  // The table changed by the one statement that did not need the memo file.
  std::string expected = table;
  const size_t at = expected.find("K1");
  ASSERT_NE(at, std::string::npos);
  expected.replace(at, 2, "Z1");
  std::string now = fileBytes("memo3v.dbf");
  ASSERT_EQ(now.size(), expected.size());
  EXPECT_EQ(now.substr(4), expected.substr(4)) << "only the date of last update may differ";
}

// A child process whose files may not grow past the table's size plus a
// few bytes (SIGXFSZ ignored: the write fails as on a full disk) inserts
// rows in a transaction and commits: the commit fails naming the table,
// then the reason; the retry after the limit is lifted writes them all.
// Returns the exit status: 0 when all went as expected.
int childCommittingOnAFullDisk(const std::string& table) {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  if (SQLAllocEnv(&env) != SQL_SUCCESS || SQLAllocConnect(env, &dbc) != SQL_SUCCESS) return 2;
  if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, (SQLCHAR*)"DSN=Tables", SQL_NTS, nullptr, 0, nullptr,
                                      SQL_DRIVER_NOPROMPT)))
    return 3;
  if (SQLSetConnectOption(dbc, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF) != SQL_SUCCESS) return 4;
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  if (SQLAllocStmt(dbc, &stmt) != SQL_SUCCESS) return 5;
  for (int i = 0; i < 50; ++i) {
    std::string sql = "INSERT INTO stock_xb (ITEM, PRICE) VALUES ('item" + std::to_string(i) + "', " +
                      std::to_string(i) + ")";
    if (SQLExecDirect(stmt, (SQLCHAR*)sql.c_str(), SQL_NTS) != SQL_SUCCESS) return 6;
  }
  struct stat st;
  if (stat(table.c_str(), &st) != 0) return 7;
  signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit = {rlim_t(st.st_size + 10), RLIM_INFINITY};
  if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 8;
  if (SQLTransact(SQL_NULL_HENV, dbc, SQL_COMMIT) != SQL_ERROR) return 9;
  std::vector<std::string> messages;
  SQLCHAR state[6], text[512];
  SQLINTEGER native = 0;
  while (SQL_SUCCEEDED(SQLError(SQL_NULL_HENV, dbc, SQL_NULL_HSTMT, state, &native, text, sizeof(text), nullptr)))
    messages.push_back(reinterpret_cast<char*>(text));
  if (messages.size() < 2 || messages[0].find("stock_xb.dbf could not be committed") == std::string::npos ||
      messages[1].find("Insufficient disk space.") == std::string::npos) {
    for (const std::string& m : messages) std::fprintf(stderr, "%s\n", m.c_str());
    return 10;
  }
  limit.rlim_cur = RLIM_INFINITY;
  if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 11;
  struct stat after;
  if (stat(table.c_str(), &after) != 0 || after.st_size != st.st_size) return 12;
  if (SQLTransact(SQL_NULL_HENV, dbc, SQL_COMMIT) != SQL_SUCCESS) return 13;
  SQLFreeStmt(stmt, SQL_DROP);
  SQLDisconnect(dbc);
  SQLFreeConnect(dbc);
  SQLFreeEnv(env);
  return 0;
}

TEST_F(DbaseDriverManagerTest, ACommitOnAFullDiskFailsWithTheReasonAndWritesNothing) {
  copyData({"stock_xb.dbf"});
  const std::string before = fileBytes("stock_xb.dbf");
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(childCommittingOnAFullDisk(data_ + "/stock_xb.dbf"));
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  // The retry wrote the 50 rows behind the three there were.
  ASSERT_EQ(SQLConnect(dbc_, (SQLCHAR*)"Tables", SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  EXPECT_EQ(column("SELECT COUNT(*) FROM stock_xb (RECORDS=ALL)"), (std::vector<std::string>{"53"}));
  ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
  const size_t recordLength = size_t(uint8_t(before[10])) | size_t(uint8_t(before[11])) << 8;
  EXPECT_EQ(fileBytes("stock_xb.dbf").size(), before.size() + 50 * recordLength);
}

TEST_F(DbaseDriverManagerTest, TwoConnectionsUpdatingOneRowGet3961) {
  copyData({"stock_xb.dbf"});
  ASSERT_EQ(SQLConnect(dbc_, (SQLCHAR*)"Tables", SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  ASSERT_EQ(SQLSetConnectOption(dbc_, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
  SQLHDBC second = SQL_NULL_HDBC;
  ASSERT_EQ(SQLAllocConnect(env_, &second), SQL_SUCCESS);
  ASSERT_EQ(SQLConnect(second, (SQLCHAR*)"Tables", SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS);

  ASSERT_EQ(run("UPDATE stock_xb SET PRICE = 1 WHERE ITEM = 'hammer'"), SQL_SUCCESS) << message_;
  EXPECT_EQ(run("UPDATE stock_xb SET PRICE = 2 WHERE ITEM = 'hammer'", second), SQL_ERROR);
  EXPECT_EQ(lastState_, "S1000");
  EXPECT_NE(message_.find("The record is locked by another user."), std::string::npos) << message_;
  // Another row is free, and the locked one is free once the first commits.
  EXPECT_EQ(run("UPDATE stock_xb SET PRICE = 3 WHERE ITEM = 'nails'", second), SQL_SUCCESS) << message_;
  ASSERT_EQ(SQLTransact(SQL_NULL_HENV, dbc_, SQL_COMMIT), SQL_SUCCESS);
  EXPECT_EQ(run("UPDATE stock_xb SET PRICE = PRICE + 2 WHERE ITEM = 'hammer'", second), SQL_SUCCESS) << message_;
  EXPECT_EQ(rows("SELECT ITEM, PRICE FROM stock_xb"),
            (std::vector<std::vector<std::string>>{{"hammer      ", "3.00"}, {"nails       ", "3.00"}}));
  ASSERT_EQ(SQLTransact(SQL_NULL_HENV, dbc_, SQL_COMMIT), SQL_SUCCESS);
  EXPECT_EQ(SQLDisconnect(second), SQL_SUCCESS);
  EXPECT_EQ(SQLFreeConnect(second), SQL_SUCCESS);
  ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
}
TEST_F(DbaseDriverManagerTest, LocksSeenInProcLocksWhileAStatementHoldsThem) {
  copyData({"stock_xb.dbf"});
  const std::string path = data_ + "/stock_xb.dbf";
  std::string bytes = fileBytes("stock_xb.dbf");
  ASSERT_GE(bytes.size(), 32u);
  const uint64_t h = uint8_t(bytes[8]) | uint8_t(bytes[9]) << 8, r = uint8_t(bytes[10]) | uint8_t(bytes[11]) << 8;
  // An UPDATE of record 1 in a transaction holds its record lock till the commit.
  const struct {
    const char* keys;
    std::vector<std::string> held;
  } cases[] = {
      {"", {lockRange(0x6FFFFFFD, 1)}},
      {";LockCompatibility=CLIPPER", {lockRange(1000000001, 1)}},
      {";LockCompatibility=FOX", {lockRange((h + r) | 0x40000000, 1)}},
      {";Locking=NONE", {}},
      // One lock on the whole-file region for everything the statement does.
      {";Locking=FILE", {lockRange(0x6FFFFFFF - (0x6FFFFFFE - (h + 1)) / (r + 1), (0x6FFFFFFE - (h + 1)) / (r + 1))}},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(driverConnect("DSN=Tables" + std::string(c.keys)), SQL_SUCCESS) << c.keys;
    ASSERT_EQ(SQLSetConnectOption(dbc_, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
    ASSERT_EQ(run("UPDATE stock_xb SET PRICE = 1 WHERE ITEM = 'hammer'"), SQL_SUCCESS) << c.keys << message_;
    EXPECT_EQ(lockedRanges(path), c.held) << c.keys;
    ASSERT_EQ(SQLTransact(SQL_NULL_HENV, dbc_, SQL_COMMIT), SQL_SUCCESS);
    EXPECT_EQ(lockedRanges(path), std::vector<std::string>{}) << c.keys;
    ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
  }
}
TEST_F(DbaseDriverManagerTest, CommitAndRollbackReleaseEveryLockOfTheTransaction) {
  copyData({"stock_xb.dbf"});
  const std::string path = data_ + "/stock_xb.dbf";
  SQLHDBC other = SQL_NULL_HDBC;
  ASSERT_EQ(SQLAllocConnect(env_, &other), SQL_SUCCESS);
  ASSERT_EQ(SQLConnect(other, (SQLCHAR*)"Tables", SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  // Two statements of one transaction update records 1 and 3 (hammer and
  // nails), or both record 1. They stay allocated (and with a file cache
  // their table stays open), so only the end of the transaction can let go
  // of their locks.
  const struct {
    const char* keys;
    const char* second;
    SQLUSMALLINT end;
  } cases[] = {
      {";FileOpenCache=0", "nails", SQL_COMMIT},   {";FileOpenCache=4", "nails", SQL_COMMIT},
      {";FileOpenCache=0", "hammer", SQL_COMMIT},  {";FileOpenCache=4", "hammer", SQL_COMMIT},
      {";FileOpenCache=0", "nails", SQL_ROLLBACK}, {";FileOpenCache=4", "hammer", SQL_ROLLBACK},
      {";FileOpenCache=4;LockCompatibility=K+V", "nails", SQL_COMMIT},
      {";FileOpenCache=4;LockCompatibility=FOX", "hammer", SQL_COMMIT},
  };
  for (const auto& c : cases) {
    const std::string label = std::string(c.keys) + " " + c.second + (c.end == SQL_COMMIT ? " commit" : " rollback");
    ASSERT_EQ(driverConnect("DSN=Tables" + std::string(c.keys)), SQL_SUCCESS) << label;
    ASSERT_EQ(SQLSetConnectOption(dbc_, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
    SQLHSTMT first = statement(), second = statement();
    const std::string update = "UPDATE stock_xb SET PRICE = PRICE + 1 WHERE ITEM = ";
    ASSERT_EQ(SQLExecDirect(first, (SQLCHAR*)(update + "'hammer'").c_str(), SQL_NTS), SQL_SUCCESS) << label;
    ASSERT_EQ(SQLExecDirect(second, (SQLCHAR*)(update + "'" + c.second + "'").c_str(), SQL_NTS), SQL_SUCCESS)
        << label;
    EXPECT_FALSE(lockedRanges(path).empty()) << label;
    ASSERT_EQ(SQLTransact(SQL_NULL_HENV, dbc_, c.end), SQL_SUCCESS) << label;
    EXPECT_EQ(lockedRanges(path), std::vector<std::string>{}) << label;
    // Another connection changes both rows at once.
    EXPECT_EQ(run("UPDATE stock_xb SET PRICE = 4 WHERE ITEM = 'hammer'", other), SQL_SUCCESS) << label << message_;
    EXPECT_EQ(run("UPDATE stock_xb SET PRICE = 5 WHERE ITEM = 'nails'", other), SQL_SUCCESS) << label << message_;
    SQLFreeStmt(first, SQL_DROP);
    SQLFreeStmt(second, SQL_DROP);
    ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
  }
  EXPECT_EQ(SQLDisconnect(other), SQL_SUCCESS);
  EXPECT_EQ(SQLFreeConnect(other), SQL_SUCCESS);
}

// Runs body in a child process that ends itself after seconds: its exit
// status is the result; a body that hangs dies of its alarm.
template <class Body>
bool inChild(unsigned seconds, Body body) {
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    alarm(seconds);
    _exit(body());
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return false;
  if (WIFSIGNALED(status)) std::fprintf(stderr, "the child died of signal %d\n", WTERMSIG(status));
  else if (WEXITSTATUS(status) != 0) std::fprintf(stderr, "the child failed at step %d\n", WEXITSTATUS(status));
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A statement through its own handle on a connection; its first error's
// SQLSTATE and text in message.
SQLRETURN execute(SQLHDBC dbc, const std::string& sql, std::string* message = nullptr, bool fetchAll = false) {
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  if (SQLAllocStmt(dbc, &stmt) != SQL_SUCCESS) return SQL_ERROR;
  SQLRETURN rc = SQLExecDirect(stmt, (SQLCHAR*)sql.c_str(), SQL_NTS);
  while (fetchAll && rc == SQL_SUCCESS) rc = SQLFetch(stmt);
  if (rc == SQL_NO_DATA_FOUND) rc = SQL_SUCCESS;
  if (message) {
    SQLCHAR state[6] = {0}, text[512] = {0};
    SQLINTEGER native = 0;
    message->clear();
    if (rc == SQL_ERROR &&
        SQLError(SQL_NULL_HENV, SQL_NULL_HDBC, stmt, state, &native, text, sizeof(text), nullptr) == SQL_SUCCESS)
      *message = std::string((char*)state) + " " + (char*)text;
  }
  SQLFreeStmt(stmt, SQL_DROP);
  return rc;
}

TEST_F(DbaseDriverManagerTest, ALockAnotherConnectionOfTheProcessHoldsIsNotWaitedFor) {
  copyData({"stock_xb.dbf"});
  // Under K+V the whole-file lock covers every byte of the file, the bytes
  // a reader checks before it reads a record and the header lock among
  // them. Both connections run on this one thread: waiting for the other
  // one would never end.
  const std::string locked = "S1000 [KESTRANE][ODBC dBASE driver]The record is locked by another user.";
  EXPECT_TRUE(inChild(30, [&] {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC holder = SQL_NULL_HDBC, reader = SQL_NULL_HDBC;
    if (SQLAllocEnv(&env) != SQL_SUCCESS || SQLAllocConnect(env, &holder) != SQL_SUCCESS ||
        SQLAllocConnect(env, &reader) != SQL_SUCCESS)
      return 1;
    const std::string keys = "DSN=Tables;LockCompatibility=K+V";
    if (!SQL_SUCCEEDED(SQLDriverConnect(holder, nullptr, (SQLCHAR*)(keys + ";Locking=FILE").c_str(), SQL_NTS, nullptr,
                                        0, nullptr, SQL_DRIVER_NOPROMPT)) ||
        !SQL_SUCCEEDED(SQLDriverConnect(reader, nullptr, (SQLCHAR*)keys.c_str(), SQL_NTS, nullptr, 0, nullptr,
                                        SQL_DRIVER_NOPROMPT)))
      return 2;
    if (SQLSetConnectOption(holder, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF) != SQL_SUCCESS) return 3;
    if (execute(holder, "UPDATE stock_xb SET PRICE = 1 WHERE ITEM = 'hammer'") != SQL_SUCCESS) return 4;
    int step = 5;
    for (const char* sql : {"SELECT * FROM stock_xb", "SELECT * FROM stock_xb (LOCKING=NONE)",
                            "INSERT INTO stock_xb (ITEM) VALUES ('drill')"}) {
      std::string message;
      if (execute(reader, sql, &message, true) != SQL_ERROR || message != locked) {
        std::fprintf(stderr, "%s: %s\n", sql, message.c_str());
        return step;
      }
      ++step;
    }
    if (SQLTransact(SQL_NULL_HENV, holder, SQL_COMMIT) != SQL_SUCCESS) return 10;
    if (execute(reader, "SELECT * FROM stock_xb", nullptr, true) != SQL_SUCCESS) return 11;
    if (execute(reader, "INSERT INTO stock_xb (ITEM) VALUES ('drill')") != SQL_SUCCESS) return 12;
    SQLDisconnect(holder);
    SQLDisconnect(reader);
    return 0;
  }));
  // A lock another process holds is waited for, as before: the reader gets
  // its rows once the other process commits.
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    alarm(30);
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    if (SQLAllocEnv(&env) != SQL_SUCCESS || SQLAllocConnect(env, &dbc) != SQL_SUCCESS) _exit(1);
    if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, (SQLCHAR*)"DSN=Tables;LockCompatibility=K+V;Locking=FILE",
                                        SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT)) ||
        SQLSetConnectOption(dbc, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF) != SQL_SUCCESS ||
        execute(dbc, "UPDATE stock_xb SET PRICE = 2 WHERE ITEM = 'hammer'") != SQL_SUCCESS)
      _exit(2);
    if (write(ready[1], "x", 1) != 1) _exit(3);
    usleep(300000);
    _exit(SQLTransact(SQL_NULL_HENV, dbc, SQL_COMMIT) == SQL_SUCCESS ? 0 : 4);
  }
  char signal = 0;
  ASSERT_EQ(read(ready[0], &signal, 1), 1);
  ASSERT_EQ(driverConnect("DSN=Tables;LockCompatibility=K+V"), SQL_SUCCESS);
  EXPECT_EQ(column("SELECT ITEM, PRICE FROM stock_xb", 1), (std::vector<std::string>{"2.00", "<null>", "<null>"}));
  int status = 0;
  ASSERT_EQ(waitpid(holder, &status, 0), holder);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  close(ready[0]);
  close(ready[1]);
  ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
}

// One child process's share of the work: its own environment and
// connection through the Driver Manager, count INSERTs of its own rows and
// an UPDATE of each one's memo to a value of two blocks, trying again while another
// process holds the record or header. Returns the exit code: 0 when all
// went through.
int childInsertsAndUpdates(const std::string& connect, int who, int count) {
  alarm(60);
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  if (SQLAllocEnv(&env) != SQL_SUCCESS || SQLAllocConnect(env, &dbc) != SQL_SUCCESS) return 10;
  if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, (SQLCHAR*)connect.c_str(), SQL_NTS, nullptr, 0, nullptr,
                                      SQL_DRIVER_NOPROMPT)))
    return 11;
  auto runWithRetry = [&](const std::string& sql) {
    for (int attempt = 0; attempt < 500; ++attempt) {
      SQLHSTMT stmt = SQL_NULL_HSTMT;
      if (SQLAllocStmt(dbc, &stmt) != SQL_SUCCESS) return false;
      SQLRETURN rc = SQLExecDirect(stmt, (SQLCHAR*)sql.c_str(), SQL_NTS);
      SQLCHAR state[6] = {0};
      if (rc == SQL_ERROR) SQLError(SQL_NULL_HENV, SQL_NULL_HDBC, stmt, state, nullptr, nullptr, 0, nullptr);
      SQLFreeStmt(stmt, SQL_DROP);
      if (SQL_SUCCEEDED(rc)) return true;
      if (std::string((char*)state) != "S1000") return false;
      usleep(2000);
    }
    return false;
  };
  for (int seq = 1; seq <= count; ++seq) {
    const std::string code = "P" + std::to_string(who * 100 + seq);
    if (!runWithRetry("INSERT INTO memo3v (CODE, REMARK) VALUES ('" + code + "', 'new')")) return 12;
    if (!runWithRetry("UPDATE memo3v SET REMARK = 'note " + code + " " + std::string(600, 'm') + "' WHERE CODE = '" +
                      code + "'"))
      return 13;
  }
  SQLDisconnect(dbc);
  SQLFreeConnect(dbc);
  SQLFreeEnv(env);
  return 0;
}

TEST_F(DbaseDriverManagerTest, ProcessesInsertAndUpdateUnderEachLockScheme) {
  const int processes = 4, each = 15;
  for (const char* scheme : {"dBASE", "CLIPPER", "FOX", "K+V"}) {
    // python3-dbf's table of four memos, which must come through intact.
    std::error_code ignored;
    std::filesystem::remove(data_ + "/memo3v.dbf", ignored);
    std::filesystem::remove(data_ + "/memo3v.dbt", ignored);
    copyData({"memo3v.dbf", "memo3v.dbt"});
    const std::string connect = "DSN=Tables;LockCompatibility=" + std::string(scheme);

    std::vector<pid_t> children;
    for (int who = 1; who <= processes; ++who) {
      pid_t pid = fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) _exit(childInsertsAndUpdates(connect, who, each));
      children.push_back(pid);
    }
    for (pid_t pid : children) {
      int status = 0;
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << scheme << ": child status " << status;
    }

    ASSERT_EQ(driverConnect(connect), SQL_SUCCESS);
    auto found = rows("SELECT CODE, REMARK FROM memo3v");
    ASSERT_EQ(found.size(), size_t(4 + processes * each)) << scheme;
    EXPECT_EQ(found[2][1], std::string(600, 'x') + "END") << scheme;
    std::set<std::string> codes;
    for (size_t i = 4; i < found.size(); ++i) {
      const std::string code = trimmed(found[i][0]);
      EXPECT_TRUE(codes.insert(code).second) << scheme << ": twice " << code;
      EXPECT_EQ(found[i][1], "note " + code + " " + std::string(600, 'm')) << scheme;
    }
    EXPECT_EQ(codes.size(), size_t(processes * each)) << scheme;
    ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
    const std::string bytes = fileBytes("memo3v.dbf");
    ASSERT_GE(bytes.size(), 12u);
    const size_t count = uint8_t(bytes[4]) | uint8_t(bytes[5]) << 8, h = uint8_t(bytes[8]) | uint8_t(bytes[9]) << 8,
                 r = uint8_t(bytes[10]) | uint8_t(bytes[11]) << 8;
    EXPECT_EQ(count, size_t(4 + processes * each)) << scheme << ": the header's count";
    EXPECT_EQ(bytes.size(), h + count * r + 1) << scheme;
  }
}
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

// The tables CREATE TABLE makes in each dialect and grammar, with rows
// inserted here, read by the other programs that read such files: dbfread,
// python3-dbf and Perl XBase see the same columns and the same values.
TEST_F(DbaseDriverManagerTest, CreatedTablesAreReadByOtherPrograms) {
  const struct {
    const char* createType;
    bool hasFloat;
  } dialects[] = {
      {"DBASE3", false}, {"DBASE4", true},  {"DBASE5", true},   {"CLIPPER", false},
      {"FOXBASE", false}, {"FOXPRO1", false}, {"FOXPRO25", false},
  };
  for (const auto& d : dialects) {
    for (int engineGrammar = 0; engineGrammar <= 1; ++engineGrammar) {
      const std::string table = std::string("t_") + d.createType + (engineGrammar ? "_sql" : "_dbf");
      SCOPED_TRACE(table);
      ASSERT_EQ(driverConnect("DRIVER={KvDbase};DB=" + data_ + ";CT=" + d.createType), SQL_SUCCESS);
      // Option 1043 chooses the grammar.
      ASSERT_EQ(SQLSetConnectOption(dbc_, 1043, SQLULEN(engineGrammar)), SQL_SUCCESS);
      const std::string rate = d.hasFloat ? ", RATE FLOAT(8,3)" : "";
      ASSERT_EQ(run("CREATE TABLE " + table +
                    " (NAME CHAR(12), AMOUNT NUMERIC(7,2), BORN DATE, OK LOGICAL, NOTE MEMO" + rate + ")"),
                SQL_SUCCESS)
          << lastState_ << " " << message_;
      const std::string rateValue = d.hasFloat ? ", 0.125" : "";
      ASSERT_EQ(run("INSERT INTO " + table + " (NAME, AMOUNT, BORN, OK, NOTE" + (d.hasFloat ? ", RATE" : "") +
                    ") VALUES ('Ann', 12.5, {d '1999-12-31'}, 1, 'first note'" + rateValue + ")"),
                SQL_SUCCESS)
          << lastState_ << " " << message_;
      ASSERT_EQ(run("INSERT INTO " + table + " (NAME, AMOUNT, OK) VALUES ('Bob', -3.25, 0)"), SQL_SUCCESS)
          << lastState_ << " " << message_;
      EXPECT_EQ(column("SELECT NAME FROM " + table), (std::vector<std::string>{"Ann", "Bob"}));
      ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);

      const std::string names = std::string("['NAME', 'AMOUNT', 'BORN', 'OK', 'NOTE'") + (d.hasFloat ? ", 'RATE'" : "") + "]";
      EXPECT_TRUE(python("import dbfread, datetime\n"
                         "t = dbfread.DBF('" + table + ".DBF')\n"
                         "assert t.field_names == " + names + ", t.field_names\n"
                         "r = list(t)\n"
                         "assert len(r) == 2, r\n"
                         "a, b = r\n"
                         "assert a['NAME'] == 'Ann' and a['AMOUNT'] == 12.5 and a['OK'] is True, a\n"
                         // dbfread counts a dBASE IV memo block's 8-byte header in the
                         // value it reads, so the value is followed by that many bytes.
                         "assert a['BORN'] == datetime.date(1999, 12, 31), a\n"
                         "assert a['NOTE'].rstrip('\\x00') == 'first note', a\n"
                         "assert b['NAME'] == 'Bob' and b['AMOUNT'] == -3.25 and b['OK'] is False and not b['NOTE'], b\n" +
                         (d.hasFloat ? "assert a['RATE'] == 0.125, a\n" : "")))
          << "dbfread";
      // python3-dbf opens no dBASE IV table with memo fields (version 0x8B):
      // in those dialects it reads a table of the same columns but the memo
      // and the float, made the same way.
      std::string dbfTable = table;
      if (d.hasFloat) {
        dbfTable = table + "_p";
        ASSERT_EQ(driverConnect("DRIVER={KvDbase};DB=" + data_ + ";CT=" + d.createType), SQL_SUCCESS);
        ASSERT_EQ(SQLSetConnectOption(dbc_, 1043, SQLULEN(engineGrammar)), SQL_SUCCESS);
        ASSERT_EQ(run("CREATE TABLE " + dbfTable + " (NAME CHAR(12), AMOUNT NUMERIC(7,2), BORN DATE, OK LOGICAL)"),
                  SQL_SUCCESS);
        ASSERT_EQ(run("INSERT INTO " + dbfTable + " VALUES ('Ann', 12.5, {d '1999-12-31'}, 1)"), SQL_SUCCESS);
        ASSERT_EQ(run("INSERT INTO " + dbfTable + " (NAME, AMOUNT, OK) VALUES ('Bob', -3.25, 0)"), SQL_SUCCESS);
        ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
      }
      EXPECT_TRUE(python("import dbf, datetime\n"
                         "t = dbf.Table('" + dbfTable + ".DBF'); t.open()\n"
                         "names = [n.upper() for n in t.field_names]\n"
                         "assert names == " + (d.hasFloat ? std::string("['NAME', 'AMOUNT', 'BORN', 'OK']") : names) +
                         ", names\n"
                         "r = list(t)\n"
                         "assert len(r) == 2\n"
                         "assert r[0].name.strip() == 'Ann' and float(r[0].amount) == 12.5 and r[0].ok is True\n"
                         "assert r[0].born == datetime.date(1999, 12, 31), r[0].born\n"
                         "assert 'NOTE' not in names or r[0].note.strip() == 'first note', repr(r[0].note)\n"
                         "assert r[1].name.strip() == 'Bob' and float(r[1].amount) == -3.25\n"
                         "t.close()\n"))
          << "python3-dbf";
      EXPECT_TRUE(perl("use XBase;\n"
                       "my $t = XBase->new('" + table + ".DBF') or die XBase->errstr;\n"
                       "my @n = $t->field_names; die \"@n\" unless \"@n\" eq 'NAME AMOUNT BORN OK NOTE" +
                       (d.hasFloat ? " RATE" : "") + "';\n"
                       "die 'count' unless $t->last_record == 1;\n"
                       "my ($del, $name, $amount, $born, $ok, $note) = $t->get_record(0);\n"
                       "die \"$name $amount $born $ok $note\" unless $name eq 'Ann' && $amount == 12.5 && $born eq '19991231' && $ok == 1 && $note eq 'first note';\n"
                       "($del, $name, $amount) = $t->get_record(1);\n"
                       "die \"$name $amount\" unless $name eq 'Bob' && $amount == -3.25;\n"))
          << "Perl XBase";
    }
  }
}

// DROP TABLE through the Driver Manager, with the files the table owns;
// the everyday DDL shapes in both commit modes run in the pyodbc test.
TEST_F(DbaseDriverManagerTest, DropTableRemovesTheTableAndItsFiles) {
  ASSERT_EQ(driverConnect("DRIVER={KvDbase};DB=" + data_ + ";CT=FOXPRO25"), SQL_SUCCESS);
  ASSERT_EQ(run("CREATE TABLE gone (A CHAR(3), M MEMO)"), SQL_SUCCESS) << message_;
  writeBytes("gone.CDX", "x");
  writeBytes("A.NDX", "x");
  writeBytes("RERUZ.INI", "[gone.DBF]\nNUMMAINTAINED=1\nMAINTAIN0=A.NDX\n");
  ASSERT_EQ(run("DROP TABLE gone"), SQL_SUCCESS) << message_;
  for (const char* file : {"gone.DBF", "gone.FPT", "gone.CDX", "A.NDX"})
    EXPECT_FALSE(std::filesystem::exists(data_ + "/" + file)) << file;
  EXPECT_EQ(fileBytes("RERUZ.INI"), "");
  EXPECT_EQ(run("DROP TABLE gone"), SQL_ERROR);
  EXPECT_EQ(lastState_, "S0002");
  EXPECT_EQ(message_, "[KESTRANE][ODBC dBASE driver]Cannot drop table gone.  Table does not exist.");
  ASSERT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
}

}  // namespace
