// CREATE TABLE and DROP TABLE of the dBASE driver: the files each dialect
// writes (header, descriptors, memo file), the column rules of both
// grammars, a table replaced only when the new one is complete, and DROP
// TABLE removing the table with its memo, index files and RERUZ.INI section.
#include "tests/drivers/dbase/dbase_test_support.h"

#include "drivers/dbase/dbase_message_ids.h"
#include "drivers/dbase/index/dbf_ini.h"
#include "drivers/dbase/statement/dbf_create.h"
#include "flat/flat_message_ids.h"
#include "util/util_message_ids.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

namespace {

class DbfCreateTest : public DbfFixture {
 protected:
  // Runs sql on a new statement of the connection; the statement's errors
  // (numbers) land in errors_, its SQLSTATE of the first in state_.
  SQLRETURN run(DbfConnection* connection, const std::string& sql) {
    auto* statement = dbfBuild<DbfStatement>(static_cast<FlatConnection*>(connection));
    SQLRETURN rc = statement->SQLExecDirect(kvU(const_cast<char*>(sql.c_str())), SQL_NTS);
    errors_.clear();
    state_.clear();
    for (uint32_t i = 0; KvError* e = statement->getErrorList().getErrorAtPos(i); ++i) {
      errors_.push_back(e->getNumber());
      if (i == 0) state_ = baseSqlStateOf(e);
    }
    drop(statement);
    use(connection);
    return rc;
  }
  // A connection creating in a dialect, with the dBASE grammar unless
  // engineGrammar.
  DbfConnection* dialect(const std::string& createType, bool engineGrammar = false) {
    return connect("CreateType=" + createType + ";ModifySql=" + (engineGrammar ? "1" : "0") + ";");
  }
  std::string bytes(const std::string& file) { return readFile(path(file)); }
  static uint32_t u16(const std::string& b, size_t at) { return uint8_t(b[at]) | uint32_t(uint8_t(b[at + 1])) << 8; }
  static uint32_t u32(const std::string& b, size_t at) { return u16(b, at) | u16(b, at + 2) << 16; }

  std::vector<uint16_t> errors_;
  std::string state_;
};

// Every dialect's files for one table with a text, a number and, where the
// dialect has one, a memo-type column.
TEST_F(DbfCreateTest, EachDialectWritesItsHeaderAndMemoFile) {
  struct Case {
    const char* createType;
    const char* columns;
    size_t fields;
    uint8_t version;
    const char* memoFile;  // null: none
    uint32_t recordLength;
    bool offsets;  // field offsets in the descriptors (FoxBASE, FoxPro)
  } cases[] = {
      {"DBASE3", "A CHAR(10), B NUMERIC(5,2)", 2, 0x03, nullptr, 17, false},
      {"DBASE3", "A CHAR(10), B NUMERIC(5,2), M MEMO", 3, 0x83, "T.DBT", 27, false},
      {"DBASE4", "A CHAR(10), B FLOAT(5,2), M MEMO", 3, 0x8B, "T.DBT", 27, false},
      {"DBASE5", "A CHAR(10), B NUMERIC(5,2), M MEMO, G GENERAL, X BINARY, D DATE, L LOGICAL", 7, 0x8B, "T.DBT",
       56, false},
      {"CLIPPER", "A CHAR(1000), B NUMERIC(5,2), M MEMO", 3, 0x83, "T.DBT", 1017, false},
      {"FOXBASE", "A CHAR(10), B NUMERIC(5,2), P PICTURE", 3, 0x83, "T.DBT", 27, true},
      {"FOXPRO1", "A CHAR(10), B NUMERIC(5,2), M MEMO", 3, 0xF5, "T.FPT", 27, true},
      {"FOXPRO25", "A CHAR(10), B NUMERIC(5,2), G GENERAL", 3, 0xF5, "T.FPT", 27, true},
      {"FOXPRO25", "A CHAR(10), B NUMERIC(5,2)", 2, 0x03, nullptr, 17, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.createType) + " " + c.columns);
    for (const char* f : {"T.DBF", "T.DBT", "T.FPT"}) std::remove(path(f).c_str());
    DbfConnection* connection = dialect(c.createType);
    ASSERT_EQ(run(connection, std::string("CREATE TABLE T (") + c.columns + ")"), SQL_SUCCESS) << errors_.size();
    const std::string file = bytes("T.DBF");
    ASSERT_GE(file.size(), 32u + 32 * 2 + 1);
    EXPECT_EQ(uint8_t(file[0]), c.version);
    EXPECT_EQ(u32(file, 4), 0u) << "record count";
    const size_t fields = c.fields;
    EXPECT_EQ(u16(file, 8), 32 + 32 * fields + 1);
    EXPECT_EQ(file.size(), 32 + 32 * fields + 1);
    EXPECT_EQ(uint8_t(file[32 + 32 * fields]), 0x0D);
    EXPECT_EQ(u16(file, 10), c.recordLength);
    // A: the text field; B: the number, one wider for its decimals.
    EXPECT_EQ(file.substr(32, 11), std::string("A\0\0\0\0\0\0\0\0\0\0", 11));
    EXPECT_EQ(file[43], 'C');
    EXPECT_EQ(u16(file, 48), std::string(c.columns).find("1000") != std::string::npos ? 1000u : 10u);
    EXPECT_EQ(file[75], std::string(c.columns).find("FLOAT") != std::string::npos ? 'F' : 'N');
    EXPECT_EQ(uint8_t(file[80]), 6);
    EXPECT_EQ(uint8_t(file[81]), 2);
    EXPECT_EQ(u32(file, 32 + 12), c.offsets ? 1u : 0u);
    EXPECT_EQ(u32(file, 64 + 12), c.offsets ? 1u + u16(file, 48) : 0u);
    for (const char* memo : {"T.DBT", "T.FPT"})
      EXPECT_EQ(bytes(memo) != "<missing>", c.memoFile && std::strcmp(memo, c.memoFile) == 0) << memo;
    if (c.memoFile) {
      const std::string memo = bytes(c.memoFile);
      ASSERT_EQ(memo.size(), 512u);
      if (c.version == 0xF5) {
        EXPECT_EQ(memo.substr(0, 8), std::string("\0\0\0\x01\0\0\x02\0", 8)) << "next block and block size, big-endian";
      } else {
        EXPECT_EQ(u32(memo, 0), 1u);
        const bool dbase4 = c.version == 0x8B;
        EXPECT_EQ(memo.substr(8, 2), dbase4 ? std::string("T\0", 2) : std::string("\0\0", 2));
        EXPECT_EQ(memo.substr(18, 4), dbase4 ? std::string("\x02\x01\x00\x02", 4) : std::string(4, '\0'));
      }
    }
    // The driver's own reader opens it, with the columns made.
    DbfStatement* statement = query(connection, "T.DBF");
    ASSERT_TRUE(table(statement));
    EXPECT_EQ(table(statement)->getShared()->getColumnCount(), fields);
    EXPECT_TRUE(rows(table(statement)).empty());
    drop(statement);
  }
}

TEST_F(DbfCreateTest, DbaseTwoHasItsOwnLayout) {
  DbfConnection* connection = dialect("DBASE2");
  ASSERT_EQ(run(connection, "CREATE TABLE T (A CHAR(10), B NUMERIC(5,2), L LOGICAL)"), SQL_SUCCESS);
  const std::string file = bytes("T.DBF");
  ASSERT_EQ(file.size(), 521u);
  EXPECT_EQ(file[0], 2);
  EXPECT_EQ(u16(file, 1), 0u);
  EXPECT_EQ(u16(file, 6), 18u) << "record length";
  EXPECT_EQ(file.substr(8, 12), std::string("A\0\0\0\0\0\0\0\0\0\0C", 12));
  EXPECT_EQ(uint8_t(file[8 + 12]), 10);
  EXPECT_EQ(file[24 + 11], 'N');
  EXPECT_EQ(uint8_t(file[24 + 12]), 6);
  EXPECT_EQ(uint8_t(file[24 + 15]), 2);
  EXPECT_EQ(uint8_t(file[40 + 12]), 1);
  EXPECT_EQ(uint8_t(file[56]), 0x0D);
  EXPECT_EQ(file.substr(57), std::string(521 - 57, '\0'));
  DbfStatement* statement = query(connection, "T.DBF");
  ASSERT_TRUE(table(statement));
  EXPECT_EQ(table(statement)->getShared()->getColumnCount(), 3u);
  drop(statement);

  // 33 fields are one too many for the layout.
  std::string columns;
  for (int i = 0; i < 33; ++i) columns += (i ? ", F" : "F") + std::to_string(i) + " CHAR(1)";
  EXPECT_EQ(run(connection, "CREATE TABLE U (" + columns + ")"), SQL_ERROR);
  EXPECT_EQ(errors_.back(), msgDbfDbase2Fields);
  EXPECT_EQ(bytes("U.DBF"), "<missing>");
}

TEST_F(DbfCreateTest, ColumnRulesOfBothGrammars) {
  struct Case {
    const char* createType;
    bool engineGrammar;
    const char* sql;
    uint16_t error;       // 0: created
    uint32_t bWidth = 0;  // width of column B when created
  } cases[] = {
      {"DBASE5", false, "CREATE TABLE T (A CHAR(10), B NUMERIC(5,2))", 0, 6},
      {"DBASE5", false, "CREATE TABLE T (A CHAR(1), B NUMERIC(19,2))", 0, 20},
      {"DBASE5", false, "CREATE TABLE T (A CHAR(1), B NUMBER(20))", 0, 20},
      {"DBASE5", false, "CREATE TABLE T (A CHAR(1), B NUMERIC(20,2))", msgDbfNumericWidth},
      {"DBASE5", false, "CREATE TABLE T (A CHAR(1), B NUMERIC(2,2))", msgDbfNumericDecimals},
      {"DBASE5", false, "CREATE TABLE T (A CHAR(1), B NUMERIC(0))", msgDbfNumericWidth},
      {"DBASE5", false, "CREATE TABLE T (A CHARACTER(254), B NUMERIC(3,1))", 0, 4},
      {"DBASE5", false, "CREATE TABLE T (A CHAR(255))", msgDbfCharWidth},
      {"DBASE5", false, "CREATE TABLE T (A CHAR(0))", msgDbfCharWidth},
      {"CLIPPER", false, "CREATE TABLE T (A CHAR(1024))", 0},
      {"CLIPPER", false, "CREATE TABLE T (A CHAR(1025))", msgDbfCharWidth},
      {"DBASE5", false, "CREATE TABLE T (1ABC CHAR(1))", msgDdlColumnNameIllegal},
      {"DBASE5", false, "CREATE TABLE T (_ABC CHAR(1))", msgDdlColumnNameIllegal},
      {"DBASE5", false, "CREATE TABLE T (ABCDEFGHIJK CHAR(1))", msgDdlColumnNameTooLong},
      {"DBASE5", false, "CREATE TABLE T (ABCDEFGHIJ CHAR(1), A_1 CHAR(1))", 0},
      {"DBASE5", false, "CREATE TABLE T (`A-B` CHAR(1))", 0},
      {"DBASE5", false, "CREATE TABLE T (`A B` CHAR(1), `_x` CHAR(1))", 0},
      {"DBASE5", false, "CREATE TABLE T (`ABCDEFGHIJK` CHAR(1))", msgDdlColumnNameTooLong},
      {"DBASE5", false, "CREATE TABLE T (A CHAR(1), a CHAR(2))", msgColumnNotUnique},
      {"DBASE2", false, "CREATE TABLE T (D DATE)", msgDbfDbase2Types},
      {"DBASE2", false, "CREATE TABLE T (M MEMO)", msgDbfDbase2Types},
      {"DBASE2", false, "CREATE TABLE T (F FLOAT(5,2))", msgDbfDbase2Types},
      {"DBASE3", false, "CREATE TABLE T (F FLOAT(5,2))", msgDbfDbase3Float},
      {"FOXPRO25", false, "CREATE TABLE T (F FLOAT(5,2))", msgDbfDbase3Float},
      {"DBASE5", false, "CREATE TABLE T (P PICTURE)", msgCreateUnknownType},
      {"DBASE3", false, "CREATE TABLE T (G GENERAL)", msgCreateUnknownType},
      {"FOXPRO25", false, "CREATE TABLE T (B BINARY)", msgCreateUnknownType},
      {"DBASE5", false, "CREATE TABLE T (A VARCHAR(5))", msgCreateUnknownType},
      {"DBASE5", false, "CREATE TABLE", msgCreateNoTable},
      {"DBASE5", false, "CREATE TABLE T A CHAR(1)", msgCreateNoLeftParen},
      {"DBASE5", false, "CREATE TABLE T (A CHAR 1)", msgCreateNoLeftParen},
      {"DBASE5", false, "CREATE TABLE T (A CHAR(1)", msgCreateNoRightParen},
      {"DBASE5", false, "CREATE TABLE T (A CHAR(1) B CHAR(1))", msgCreateNoRightParen},
      {"DBASE5", false, "CREATE TABLE T (A DATE(8))", msgCreateNoRightParen},
      {"DBASE5", false, "CREATE TABLE T ()", msgDdlColumnNameIllegal},
      {"DBASE5", false, "CREATE TABLE T.TXT (A CHAR(1))", msgBadExtension},
      // The engine's grammar: SQL names through the type table, the same rules.
      {"DBASE5", true, "CREATE TABLE T (A CHAR(10), B NUMERIC(5,2))", 0, 6},
      {"DBASE5", true, "CREATE TABLE T (A CHARACTER(10), B NUMBER(19,2))", 0, 20},
      {"DBASE5", true, "CREATE TABLE T (A CHAR(1), B NUMERIC(2,2))", msgDbfNumericDecimals},
      {"DBASE5", true, "CREATE TABLE T (`1ABC` CHAR(1))", msgDdlColumnNameIllegal},
      {"DBASE5", true, "CREATE TABLE T (ABCDEFGHIJK CHAR(1))", msgDdlColumnNameTooLong},
      {"FOXPRO25", true, "CREATE TABLE T (A CHAR(1), F FLOAT(5,2))", msgDbfDbase3Float},
      {"DBASE4", true, "CREATE TABLE T (A CHAR(1), B FLOAT(5,2), M MEMO, D DATE, L LOGICAL)", 0, 6},
      {"DBASE2", true, "CREATE TABLE T (D DATE)", msgBadTypeName},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.createType) + (c.engineGrammar ? " engine: " : " dBASE: ") + c.sql);
    std::remove(path("T.DBF").c_str());
    std::remove(path("T.DBT").c_str());
    DbfConnection* connection = dialect(c.createType, c.engineGrammar);
    const SQLRETURN rc = run(connection, c.sql);
    if (c.error == 0) {
      EXPECT_EQ(rc, SQL_SUCCESS);
      const std::string table = bytes("T.DBF");
      ASSERT_NE(table, "<missing>");
      if (c.bWidth) {
        EXPECT_EQ(uint8_t(table[64 + 16]), c.bWidth);
      }
    } else {
      EXPECT_EQ(rc, SQL_ERROR);
      EXPECT_EQ(errors_.empty() ? 0 : errors_.back(), c.error);
      EXPECT_EQ(state_, "37000");
      EXPECT_EQ(bytes("T.DBF"), "<missing>");
    }
  }
}

TEST_F(DbfCreateTest, AnOemConnectionWritesItsColumnNamesInOem) {
  DbfConnection* connection = connect("ModifySql=0;CharSet=OEM;");
  ASSERT_EQ(run(connection, "CREATE TABLE T (\xC4RGER CHAR(5))"), SQL_SUCCESS);  // Windows-1252 A umlaut
  EXPECT_EQ(uint8_t(bytes("T.DBF")[32]), 0x8E) << "code page 437 A umlaut";
  DbfStatement* statement = query(connection, "T.DBF");
  ASSERT_TRUE(table(statement));
  drop(statement);
}

TEST_F(DbfCreateTest, ReplacingATableKeepsTheOldOneUntilTheNewOneIsWhole) {
  writeFile(path("T.DBF"), dbfTableBytes(0x03, {{"OLD", 'C', 5, 0}}, {" hello"}));
  writeFile(path("RERUZ.INI"), "[T.DBF]\nNUMMAINTAINED=1\nMAINTAIN0=OLD.NDX\n[U.DBF]\nNUMMAINTAINED=0\n");
  const std::string old = bytes("T.DBF");

  // A failure at execute leaves the old table and its section alone.
  DbfConnection* dbase2 = dialect("DBASE2");
  std::string columns;
  for (int i = 0; i < 33; ++i) columns += (i ? ", F" : "F") + std::to_string(i) + " CHAR(1)";
  EXPECT_EQ(run(dbase2, "CREATE TABLE T (" + columns + ")"), SQL_ERROR);
  EXPECT_EQ(errors_.front(), msgTableExists) << "the warning of the parse comes first";
  EXPECT_EQ(bytes("T.DBF"), old);
  EXPECT_NE(bytes("RERUZ.INI").find("OLD.NDX"), std::string::npos);

  // Another process holding the table keeps it.
  const int held = open(path("T.DBF").c_str(), O_RDONLY);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_SH), 0);
  DbfConnection* connection = dialect("DBASE5");
  EXPECT_EQ(run(connection, "CREATE TABLE T (NEW CHAR(3), M MEMO)"), SQL_ERROR);
  EXPECT_EQ(bytes("T.DBF"), old);
  EXPECT_EQ(bytes("T.DBT"), "<missing>");
  close(held);

  // A successful replacement: warning 4010 with S0001, the new table, the
  // old section gone, no temporary file left behind.
  EXPECT_EQ(run(connection, "CREATE TABLE t (NEW CHAR(3), M MEMO)"), SQL_SUCCESS_WITH_INFO);
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0], msgTableExists);
  EXPECT_EQ(state_, "S0001");
  EXPECT_EQ(uint8_t(bytes("T.DBF")[0]), 0x8B);
  EXPECT_EQ(bytes("T.DBF").substr(32, 3), "NEW");
  EXPECT_EQ(bytes("RERUZ.INI"), "[U.DBF]\nNUMMAINTAINED=0\n");
  int entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir())) {
    ++entries;
    EXPECT_NE(entry.path().filename().string().rfind("kv", 0), 0u) << entry.path();
  }
  EXPECT_EQ(entries, 3);  // T.DBF, T.DBT, RERUZ.INI

  // A table this connection has open is not replaced.
  DbfStatement* statement = query(connection, "T.DBF");
  EXPECT_EQ(run(connection, "CREATE TABLE T (X CHAR(1))"), SQL_ERROR);
  EXPECT_EQ(errors_.back(), msgSaveOpenFile);
  drop(statement);
}

TEST_F(DbfCreateTest, DropTableRemovesTheTableWithEverythingItOwns) {
  DbfConnection* connection = dialect("DBASE5");
  ASSERT_EQ(run(connection, "CREATE TABLE EMP (A CHAR(1), M MEMO)"), SQL_SUCCESS);
  ASSERT_EQ(mkdir(path("sub").c_str(), 0700), 0);
  for (const char* f : {"EMP.MDX", "EMP.CDX", "EMP.FPT", "A.NDX", "sub/B.NDX", "KEEP.NDX", "NOTES.TXT"})
    writeFile(path(f), "x");
  writeFile(path("RERUZ.INI"), "[EMP.DBF]\nNUMMAINTAINED=4\nMAINTAIN0=A.NDX\nMAINTAIN1=" + path("sub/B.NDX") +
                                   "\nMAINTAIN2=NOTES.TXT\nMAINTAIN3=c\n[DEPT.DBF]\nMAINTAIN0=KEEP.NDX\n");
  writeFile(path("C.NDX"), "x");

  EXPECT_EQ(run(connection, "DROP TABLE emp"), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(errors_, std::vector<uint16_t>{msgDbfBadIndexName}) << "the entry that names no index file";
  for (const char* gone : {"EMP.DBF", "EMP.DBT", "EMP.FPT", "EMP.MDX", "EMP.CDX", "A.NDX", "sub/B.NDX", "C.NDX"})
    EXPECT_EQ(bytes(gone), "<missing>") << gone;
  for (const char* kept : {"KEEP.NDX", "NOTES.TXT"}) EXPECT_EQ(bytes(kept), "x") << kept;
  EXPECT_EQ(bytes("RERUZ.INI"), "[DEPT.DBF]\nMAINTAIN0=KEEP.NDX\n");

  // No such table: 1202 with S0002.
  EXPECT_EQ(run(connection, "DROP TABLE EMP"), SQL_ERROR);
  EXPECT_EQ(errors_, std::vector<uint16_t>{msgDbfDropNoTable});
  EXPECT_EQ(state_, "S0002");
}

TEST_F(DbfCreateTest, DropTableLeavesATableInUseWhole) {
  DbfConnection* connection = dialect("DBASE5");
  ASSERT_EQ(run(connection, "CREATE TABLE EMP (A CHAR(1), M MEMO)"), SQL_SUCCESS);
  writeFile(path("A.NDX"), "x");
  writeFile(path("RERUZ.INI"), "[EMP.DBF]\nNUMMAINTAINED=1\nMAINTAIN0=A.NDX\n");

  // Open in this connection: 4035.
  DbfStatement* statement = query(connection, "EMP.DBF");
  EXPECT_EQ(run(connection, "DROP TABLE EMP"), SQL_ERROR);
  EXPECT_EQ(errors_, std::vector<uint16_t>{msgDeleteOpenFile});
  drop(statement);

  // Open elsewhere: the delete is refused and nothing of the table goes.
  const int held = open(path("EMP.DBF").c_str(), O_RDONLY);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_SH), 0);
  EXPECT_EQ(run(connection, "DROP TABLE EMP"), SQL_ERROR);
  close(held);
  for (const char* kept : {"EMP.DBF", "EMP.DBT", "A.NDX"}) EXPECT_NE(bytes(kept), "<missing>") << kept;
  EXPECT_NE(bytes("RERUZ.INI").find("A.NDX"), std::string::npos);
  EXPECT_EQ(run(connection, "DROP TABLE EMP"), SQL_SUCCESS);
}

}  // namespace
