// Tables through the driver's readers: files of other programs read with
// their values, hostile files refused and left alone, record counts,
// appends, rewrites and deletes as other programs expect them, values
// written into fields, read-only tables, and the reader's transaction
// bytes.
#include "drivers/dbase/dbase_message_ids.h"
#include "flat/flat_message_ids.h"
#include "tests/drivers/dbase/dbase_test_support.h"
#include "util/os/bos.h"

#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class DbfTableTest : public DbfFixture {
 protected:
  // Standard columns: NAME C(10), AMOUNT N(8,2), BORN D, OK L.
  const std::vector<TestField> fields = {
      {"NAME", 'C', 10, 0}, {"AMOUNT", 'N', 8, 2}, {"BORN", 'D', 8, 0}, {"OK", 'L', 1, 0}};

  KvStatus store(FlatFileDesc* reader, uint16_t column, const std::string& text) {
    return reader->updateColumn(column, text.data(), uint32_t(text.size()), flatItChar);
  }
  KvStatus store(FlatFileDesc* reader, uint16_t column, double number) {
    return reader->updateColumn(column, &number, 8, flatItDouble);
  }
  static std::string recordText(DbfFileDesc* reader) {
    return std::string(reinterpret_cast<const char*>(reader->getRecordBuffer()),
                       reader->table()->getRecordLength());
  }
};

std::string padded(const std::string& text, size_t width) { return text + std::string(width - text.size(), ' '); }

TEST_F(DbfTableTest, TablesOtherProgramsWroteReadWithTheirValues) {
  const struct {
    const char* file;
    const char* options;
    std::vector<Row> rows;
  } cases[] = {
      {"people3.dbf",
       "PEOPLE3 (CHARSET=IBMPC)",
       {{padded("Alice", 20), "34", "5200.5", day(1990, 4, 1), "1"},
        {padded("Carol", 20), "", "", "", ""},
        {padded("Dave \xE9", 20), "7", "0.5", day(2017, 1, 9), "1"}}},
      {"stock_xb.dbf",
       "",
       {{padded("hammer", 12), "12.5", "1", day(2024, 2, 29)}, {padded("nails", 12), "", "", day(1999, 12, 31)}}},
      {"towns_ogr.dbf",
       "",
       {{padded("Oslo", 12), "709037", "454.03", day(1040, 1, 1)},
        {padded("Bergen", 12), "291940", "465.3", day(1070, 6, 1)},
        {padded("Troms\xF8", 12), "77544", "", ""}}},
      // python3-dbf gives every record a memo block, an empty value.
      {"parts_fp.dbf",
       "",
       {{padded("A-100", 8), "1.25", "10", day(1999, 12, 31), ""},
        {padded("B-200", 8), "-0.5", "0", "", ""}}},
      {"notes_clp.dbf", "", {{"1", std::string(299, 'x') + "y"}, {"2", padded("short", 300)}}},
  };
  DbfConnection* connection = connect();
  for (const auto& c : cases) {
    copyData(c.file);
    if (std::string(c.file) == "parts_fp.dbf") copyData("parts_fp.fpt");
    DbfStatement* statement = query(connection, c.file, nullptr, c.options);
    EXPECT_EQ(rows(table(statement)), c.rows) << c.file;
    drop(statement);
  }
}

TEST_F(DbfTableTest, HeadersAndFieldsOfEachVersion) {
  copyData("parts_fp.dbf");
  copyData("memo3.dbf");
  copyData("notes_clp.dbf");
  DbfConnection* connection = connect();
  DbfStatement* fox = query(connection, "parts_fp.dbf");
  DbfSharedDesc* shared = table(fox)->table();
  EXPECT_EQ(shared->getVersion(), 0xF5);
  EXPECT_EQ(shared->getHeaderLength(), 456u);
  EXPECT_TRUE(shared->getLayout() & DbfSharedDesc::layoutMemoFields);
  const struct {
    const char* name;
    int16_t sqlType;
    const char* typeName;
    uint32_t precision;
    int16_t scale;
    int16_t flatType;
  } columns[] = {
      {"PARTNO", SQL_CHAR, "CHAR", 8, 0, SQL_VARCHAR},
      {"WEIGHT", SQL_DECIMAL, "FLOAT", 9, 3, SQL_DOUBLE},
      {"QTY", SQL_DECIMAL, "NUMERIC", 5, 0, SQL_DOUBLE},
      {"SHIPPED", SQL_DATE, "DATE", 10, 0, SQL_DATE},
      {"NOTES", SQL_LONGVARCHAR, "MEMO", 2147483647, 0, SQL_LONGVARCHAR},
  };
  for (uint16_t i = 0; i < 5; ++i) {
    DbfSharedField* field = shared->getField(i);
    EXPECT_STREQ(kvC(field->getName()), columns[i].name);
    EXPECT_EQ(field->getSqlType(), columns[i].sqlType) << columns[i].name;
    EXPECT_STREQ(kvC(field->getTypeName()), columns[i].typeName);
    EXPECT_EQ(field->getPrecision(), columns[i].precision) << columns[i].name;
    EXPECT_EQ(field->getScale(), columns[i].scale) << columns[i].name;
    EXPECT_EQ(field->getFlatFieldType(), columns[i].flatType) << columns[i].name;
  }
  EXPECT_EQ(shared->getField(0)->getAttributes(), 8);
  EXPECT_EQ(shared->getField(0)->isSearchable(), SQL_SEARCHABLE);
  EXPECT_EQ(shared->getField(3)->isSearchable(), SQL_ALL_EXCEPT_LIKE);
  drop(fox);

  // A memo value lives in the memo file: python3-dbf gave the empty
  // value a block of its own.
  copyData("memo3.dbt");
  DbfStatement* memo = query(connection, "memo3.dbf");
  EXPECT_EQ(table(memo)->table()->getVersion(), 0x83);
  uint16_t found = 0;
  ASSERT_EQ(table(memo)->resetToFirstRecord(), kvSuccess);
  ASSERT_EQ(table(memo)->readNextRec(&found), kvSuccess);
  EXPECT_EQ(value(table(memo), 0), padded("K1", 4));
  EXPECT_EQ(value(table(memo), 1), "");
  drop(memo);

  DbfStatement* clipper = query(connection, "notes_clp.dbf");
  EXPECT_EQ(table(clipper)->table()->getField(1)->getLength(), 300);
  // A buffer smaller than the field is honoured: the value does not fit.
  std::vector<unsigned char> small(200);
  int32_t length = 0;
  uint8_t kind = 0;
  ASSERT_EQ(table(clipper)->resetToFirstRecord(), kvSuccess);
  ASSERT_EQ(table(clipper)->readNextRec(&found), kvSuccess);
  connection->getErrorList().clearErrors();
  EXPECT_EQ(table(clipper)->getFieldData(1, small.data(), &length, uint16_t(small.size()), &kind), kvFailure);
  EXPECT_EQ(stateOf(connection), "22001");
  drop(clipper);
}

// Character widths run to 65535 (the decimal count byte holds the high
// byte) while the caller's buffer size is 16 bits: a field too wide for
// the buffer is refused with 22001 and nothing is written past the buffer;
// a buffer that holds the field and its terminator gets it whole.
TEST_F(DbfTableTest, WideCharacterFieldsHonourTheCallersBuffer) {
  const uint16_t wide = 40000;
  const std::string shortText = std::string(299, 's') + "t";
  const std::string wideText = std::string(wide - 1, 'w') + "z";
  std::string bytes = dbfTableBytes(0x03, {{"SHORT", 'C', 300, 0}, {"WIDE", 'C', wide, 0}}, {" " + shortText + wideText});
  ASSERT_EQ(uint8_t(bytes[64 + 17]), wide >> 8) << "the width's high byte sits in the decimal count";
  writeFile(path("wide.dbf"), bytes);
  DbfConnection* connection = connect();
  DbfStatement* statement = query(connection, "wide.dbf");
  DbfFileDesc* reader = table(statement);
  EXPECT_EQ(reader->table()->getField(0)->getLength(), 300);
  EXPECT_EQ(reader->table()->getField(1)->getLength(), wide);
  uint16_t found = 0;
  ASSERT_EQ(reader->resetToFirstRecord(), kvSuccess);
  ASSERT_EQ(reader->readNextRec(&found), kvSuccess);
  ASSERT_EQ(found, 1);

  const uint16_t guard = 64;
  const struct {
    uint16_t column;
    uint16_t bufferSize;
    const std::string* whole;  // null: the value does not fit
  } cases[] = {
      {0, 301, &shortText}, {0, 300, nullptr},  {0, 200, nullptr},     {1, 65535, &wideText},
      {1, wide + 1, &wideText}, {1, wide, nullptr}, {1, 32767, nullptr}, {1, 300, nullptr},
  };
  for (const auto& c : cases) {
    std::vector<unsigned char> buffer(size_t(c.bufferSize) + guard, 0xEE);
    int32_t length = -1;
    uint8_t kind = 0xFF;
    connection->getErrorList().clearErrors();
    KvStatus status = reader->getFieldData(c.column, buffer.data(), &length, c.bufferSize, &kind);
    const std::string what = std::to_string(c.column) + " into " + std::to_string(c.bufferSize);
    if (c.whole) {
      ASSERT_EQ(status, kvSuccess) << what;
      EXPECT_EQ(kind, flatValueText) << what;
      EXPECT_EQ(length, int32_t(c.whole->size() + 1)) << what;
      EXPECT_TRUE(std::string(reinterpret_cast<char*>(buffer.data()), c.whole->size()) == *c.whole) << what;
      EXPECT_EQ(buffer[c.whole->size()], 0) << what;
    } else {
      EXPECT_EQ(status, kvFailure) << what;
      EXPECT_EQ(stateOf(connection), "22001") << what;
    }
    size_t used = c.whole ? c.whole->size() + 1 : 0;
    size_t spoiled = 0;
    for (size_t i = used; i < buffer.size(); ++i) spoiled += buffer[i] != 0xEE;
    EXPECT_EQ(spoiled, 0u) << what << ": bytes beyond the value were written";
  }
  drop(statement);
}

TEST_F(DbfTableTest, HostileFilesAreRefusedAndLeftAlone) {
  const std::string good = dbfTableBytes(0x03, fields, {" Ann           1.5019991231T"});
  auto with = [&](size_t at, std::initializer_list<uint8_t> values) {
    std::string bytes = good;
    for (uint8_t v : values) bytes[at++] = char(v);
    return bytes;
  };
  const struct {
    const char* name;
    std::string bytes;
    uint16_t message;
  } cases[] = {
      {"empty.dbf", "", msgInvalidFileFormat},
      {"visual.dbf", with(0, {0x30}), msgInvalidFileFormat},
      {"encrypted.dbf", with(15, {1}), msgEncryptedTable},
      {"tiny.dbf", with(8, {1, 0}), msgInvalidFileFormat},
      {"long.dbf", with(8, {0xFF, 0xFF}), msgInvalidFileFormat},
      {"unended.dbf", with(32 * 5, {' '}), msgInvalidFileFormat},
      {"width.dbf", with(10, {99, 0}), msgInvalidFileFormat},
      {"huge.dbf", with(4, {0, 0, 0, 0x10}), msgRecordNumberLimit},
  };
  DbfConnection* connection = connect();
  for (const auto& c : cases) {
    writeFile(path(c.name), c.bytes);
    connection->getErrorList().clearErrors();
    KvStatus status = kvSuccess;
    drop(query(connection, c.name, &status));
    EXPECT_EQ(status, kvFailure) << c.name;
    EXPECT_EQ(errorsOf(connection), std::vector<uint16_t>{c.message}) << c.name;
    EXPECT_TRUE(readFile(path(c.name)) == c.bytes) << c.name;
    EXPECT_EQ(connection->getSharedTables(), nullptr) << c.name << ": no half-open table stays";
  }
  connection->getErrorList().clearErrors();
  KvStatus status = kvSuccess;
  drop(query(connection, "missing.dbf", &status));
  EXPECT_EQ(status, kvFailure);
  EXPECT_EQ(stateOf(connection), "S0002");
}

TEST_F(DbfTableTest, RecordCountsFromTheHeaderOrUnderClipperFromTheFile) {
  // Three records, the header says two; the file ends without 0x1A.
  std::string bytes = dbfTableBytes(0x03, fields, {" A", " B", " C"}, false);
  kvPutU32LE(&bytes[4], 2);
  writeFile(path("t.dbf"), bytes);
  DbfConnection* dbase = connect();
  DbfStatement* statement = query(dbase, "t.dbf");
  EXPECT_EQ(rows(table(statement)).size(), 2u);
  drop(statement);
  DbfConnection* clipper = connect("LockCompatibility=CLIPPER");
  statement = query(clipper, "t.dbf");
  EXPECT_EQ(rows(table(statement)).size(), 3u);
  // A file cut inside its header: its records cannot be counted, and an
  // append must not land beyond its end.
  ASSERT_EQ(truncate(path("t.dbf").c_str(), 100), 0);
  clipper->getErrorList().clearErrors();
  uint32_t count = 0;
  EXPECT_EQ(table(statement)->getMaxRecords(&count), kvFailure);
  EXPECT_EQ(errorsOf(clipper), std::vector<uint16_t>{msgInvalidFileFormat});
  drop(statement);
}

TEST_F(DbfTableTest, AScanEndsWhereTheFileEnds) {
  // The header promises five records; the file holds two and one byte
  // short of a third, whose bytes must not make a record.
  std::string bytes = dbfTableBytes(0x03, fields, {" A", " B", " C"}, false);
  kvPutU32LE(&bytes[4], 5);
  bytes.resize(bytes.size() - 1);
  writeFile(path("t.dbf"), bytes);
  DbfConnection* connection = connect();
  DbfStatement* statement = query(connection, "t.dbf");
  std::vector<Row> read = rows(table(statement));
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[1][0], padded("B", 10));
  EXPECT_TRUE(connection->getErrorList().getCount() == 0);
  // Read by number: past the end, and inside the cut record.
  auto* rid = static_cast<FlatNumericRid*>(table(statement)->getRid());
  for (uint32_t n : {3u, 5u, 6u}) {
    rid->setRecordNumber(n);
    GetRecRetType state = getRecFound;
    ASSERT_EQ(table(statement)->readRecord(&state), kvSuccess);
    EXPECT_EQ(state, getRecPastEnd) << n;
  }
  drop(statement);
}

TEST_F(DbfTableTest, AppendRewriteAndDeleteAsOtherProgramsExpect) {
  writeFile(path("t.dbf"), dbfTableBytes(0x03, fields, {" Ann           1.5019991231T"}));
  DbfConnection* connection = connect();
  DbfStatement* statement = query(connection, "t.dbf");
  DbfFileDesc* reader = table(statement);
  ASSERT_EQ(reader->initializeForInsert(), kvSuccess);
  ASSERT_EQ(store(reader, 0, "Bea"), kvSuccess);
  ASSERT_EQ(store(reader, 1, -3.5), kvSuccess);
  ASSERT_EQ(store(reader, 2, "2024-02-29"), kvSuccess);
  ASSERT_EQ(store(reader, 3, 1.0), kvSuccess);
  ASSERT_EQ(flatAppendRecord(reader, 0), kvSuccess);
  double last = 0;
  ASSERT_EQ(statement->getStmtOption(dbfOptionLastRecord, &last), kvSuccess);
  EXPECT_EQ(last, 2.0);
  std::string bytes = readFile(path("t.dbf"));
  const uint32_t H = 32 + 4 * 32 + 1, R = 28;
  EXPECT_EQ(bytes.size(), H + 2 * R + 1) << "H + n * R + 1";
  EXPECT_EQ(bytes.back(), '\x1A');
  EXPECT_EQ(kvGetU32LE(&bytes[4]), 2u);
  EXPECT_EQ(bytes.substr(H + R, R), " Bea          -3.5020240229T");

  // Rewrite record 1, delete record 2.
  auto* rid = static_cast<FlatNumericRid*>(reader->getRid());
  rid->setRecordNumber(1);
  ASSERT_EQ(reader->setRecordPosition(), kvSuccess);
  ASSERT_EQ(store(reader, 1, "123.456"), kvSuccess);
  ASSERT_EQ(reader->writeRecord(flatWriteUpdate), kvSuccess);
  rid->setRecordNumber(2);
  ASSERT_EQ(reader->setRecordID(), kvSuccess);
  ASSERT_EQ(reader->deleteRecord(), kvSuccess);
  bytes = readFile(path("t.dbf"));
  EXPECT_EQ(bytes.substr(H, R), " Ann         123.4619991231T");
  EXPECT_EQ(bytes[H + R], '*');
  EXPECT_EQ(bytes.size(), H + 2 * R + 1);
  EXPECT_EQ(rows(reader).size(), 1u);
  drop(statement);
  // Closing the changed table writes today's local date (the table closes
  // with its last reader, the cache keeping none).
  os_time now;
  bosLocalDate(&now);
  bytes = readFile(path("t.dbf"));
  EXPECT_EQ(uint8_t(bytes[1]), now.year - 1900);
  EXPECT_EQ(uint8_t(bytes[2]), now.month);
  EXPECT_EQ(uint8_t(bytes[3]), now.day);

  // Other programs read what was written: dbfread sees the live row and,
  // asked for them, the deleted one; python3-dbf the count and the flag.
  std::string script = "import dbfread, dbf, sys\n"
                       "t = dbfread.DBF(sys.argv[1])\n"
                       "print([(r['NAME'], str(r['AMOUNT']), str(r['BORN']), r['OK']) for r in t])\n"
                       "print([r['NAME'] for r in t.deleted])\n"
                       "d = dbf.Table(sys.argv[1]); d.open()\n"
                       "print(len(d), [dbf.is_deleted(r) for r in d], d.last_update)\n"
                       "d.close()\n";
  writeFile(path("check.py"), script);
  std::string command = "/usr/bin/python3 " + path("check.py") + " " + path("t.dbf") + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char chunk[256];
  while (size_t n = fread(chunk, 1, sizeof(chunk), pipe)) output.append(chunk, n);
  EXPECT_EQ(pclose(pipe), 0) << output;
  char date[32];
  std::snprintf(date, sizeof(date), "%04d-%02d-%02d", now.year, now.month, now.day);
  EXPECT_EQ(output, "[('Ann', '123.46', '1999-12-31', True)]\n['Bea']\n2 [False, True] " + std::string(date) + "\n");
}

TEST_F(DbfTableTest, ValuesWrittenIntoFields) {
  writeFile(path("t.dbf"), dbfTableBytes(0x03, fields, {" Ann           1.5019991231T"}));
  DbfConnection* connection = connect();
  DbfStatement* statement = query(connection, "t.dbf");
  DbfFileDesc* reader = table(statement);
  auto* rid = static_cast<FlatNumericRid*>(reader->getRid());
  rid->setRecordNumber(1);
  ASSERT_EQ(reader->setRecordPosition(), kvSuccess);
  const std::string before = recordText(reader);

  // Numbers that do not fit are refused, and the field keeps its value.
  double big = 123456789;
  EXPECT_EQ(reader->checkValue(1, &big, 8, flatItDouble), kvFailure);
  EXPECT_EQ(stateOf(connection), "22003");
  connection->getErrorList().clearErrors();
  EXPECT_EQ(store(reader, 1, "123456"), kvFailure);
  EXPECT_EQ(stateOf(connection), "22003");
  EXPECT_EQ(recordText(reader), before);
  connection->getErrorList().clearErrors();
  EXPECT_EQ(store(reader, 1, "abc"), kvFailure);
  EXPECT_EQ(stateOf(connection), "22005");

  // A blank date written back leaves the date as it was.
  double blank = 1e100;
  ASSERT_EQ(reader->updateColumn(2, &blank, 8, flatItDouble), kvSuccess);
  EXPECT_EQ(recordText(reader), before);
  ASSERT_EQ(reader->checkValue(2, &blank, 8, flatItDouble), kvSuccess);
  // A date as the framework's date, as a day number and as text.
  int16_t ymd[3] = {2001, 2, 3};
  ASSERT_EQ(reader->updateColumn(2, ymd, 6, flatItDate), kvSuccess);
  EXPECT_EQ(value(reader, 2), day(2001, 2, 3));
  double julian = flatJulianDayOf(1700, 3, 1);
  ASSERT_EQ(reader->updateColumn(2, &julian, 8, flatItDouble), kvSuccess);
  EXPECT_EQ(recordText(reader).substr(19, 8), "17000301");
  connection->getErrorList().clearErrors();
  EXPECT_EQ(store(reader, 2, "yesterday"), kvFailure);
  EXPECT_EQ(stateOf(connection), "22008");

  // Character values keep their text up to the width; logicals take the
  // letter of their value.
  ASSERT_EQ(store(reader, 0, "a rather long name"), kvSuccess);
  EXPECT_EQ(value(reader, 0), "a rather l");
  ASSERT_EQ(store(reader, 0, "x"), kvSuccess);
  EXPECT_EQ(value(reader, 0), padded("x", 10));
  const struct {
    double number;
    char letter;
  } logicals[] = {{0, 'F'}, {1, 'T'}, {2, 'N'}, {3, 'Y'}, {5, 'T'}};
  for (const auto& l : logicals) {
    ASSERT_EQ(store(reader, 3, l.number), kvSuccess);
    EXPECT_EQ(recordText(reader)[27], l.letter) << l.number;
  }
  ASSERT_EQ(store(reader, 3, "f"), kvSuccess);
  EXPECT_EQ(recordText(reader)[27], 'F');
  // NULL leaves a field blank.
  ASSERT_EQ(reader->updateColumn(1, nullptr, 0, flatItDouble), kvSuccess);
  EXPECT_EQ(value(reader, 1), "");
  drop(statement);
}

TEST_F(DbfTableTest, LowerCaseLogicalsReadFalse) {
  writeFile(path("t.dbf"), dbfTableBytes(0x03, {{"OK", 'L', 1, 0}}, {" Y", " y", " T", " t", " F", " ?", "  "}));
  DbfConnection* connection = connect();
  DbfStatement* statement = query(connection, "t.dbf");
  std::vector<Row> expected = {{"1"}, {"0"}, {"1"}, {"0"}, {"0"}, {""}, {""}};
  EXPECT_EQ(rows(table(statement)), expected);
  drop(statement);
}

TEST_F(DbfTableTest, RecordsOptionsAndCharsets) {
  copyData("people3.dbf");
  DbfConnection* connection = connect();
  const struct {
    const char* from;
    std::vector<std::string> names;
  } cases[] = {
      {"people3", {"Alice", "Carol", "Dave \x82"}},
      {"people3 (RECORDS=DELETED)", {"Bob"}},
      {"people3 (RECORDS=ALL, LOCKING=NONE)", {"Alice", "Bob", "Carol", "Dave \x82"}},
      {"people3 (CHARSET=ANSI)", {"Alice", "Carol", "Dave \x82"}},
      {"people3 (CHARSET=IBMPC, RECORDS=ALL)", {"Alice", "Bob", "Carol", "Dave \xE9"}},
      // Values are matched as written: "all" asks for nothing, "ansi" is
      // no name of the ANSI character set.
      {"people3 (RECORDS=all, CHARSET=ansi)", {"Alice", "Carol", "Dave \xE9"}},
  };
  for (const auto& c : cases) {
    DbfStatement* statement = query(connection, "people3.dbf", nullptr, c.from);
    std::vector<std::string> names;
    for (const Row& row : rows(table(statement))) names.push_back(row[0].substr(0, row[0].find_last_not_of(' ') + 1));
    EXPECT_EQ(names, c.names) << c.from;
    drop(statement);
  }
  DbfStatement* statement = query(connection, "people3.dbf", nullptr, "people3 (RECORDS=ALL, LOCKING=NONE)");
  EXPECT_EQ(table(statement)->getLockLevel(), dbfLockNone);
  drop(statement);
  // Option names too: a name in lower case is an unknown option.
  KvStatus status = kvSuccess;
  statement = query(connection, "people3.dbf", &status, "people3 (records=ALL)");
  EXPECT_EQ(status, kvFailure);
  EXPECT_EQ(errorsOf(connection).back(), msgUnknownOption);
  drop(statement);
  connection->getErrorList().clearErrors();

  // A second reader of an open table with another character set gets the
  // table's, with a warning.
  DbfStatement* oem = query(connection, "people3.dbf", nullptr, "people3 (CHARSET=IBMPC)");
  connection->getErrorList().clearErrors();
  DbfStatement* ansi = query(connection, "people3.dbf", nullptr, "people3 (CHARSET=ANSI)");
  EXPECT_EQ(errorsOf(connection), std::vector<uint16_t>{msgCharsetMismatch});
  EXPECT_TRUE(table(ansi)->isOem());
  drop(ansi);
  drop(oem);
}

TEST_F(DbfTableTest, OemTextIsConvertedFieldByField) {
  // An OEM character (0xE0, alpha) that ANSI lacks stands in the field
  // that is not assigned.
  writeFile(path("t.dbf"), dbfTableBytes(0x03, {{"NAME", 'C', 4, 0}, {"KEEP", 'C', 2, 0}}, {" abcd\xE0\xB0"}));
  DbfConnection* connection = connect("Charset=IBMPC");
  DbfStatement* statement = query(connection, "t.dbf");
  DbfFileDesc* reader = table(statement);
  EXPECT_EQ(rows(reader), (std::vector<Row>{{"abcd", "a\xA6"}})) << "read converted to ANSI";
  ASSERT_EQ(store(reader, 0, "\xE9t\xE9"), kvSuccess);
  EXPECT_EQ(recordText(reader), " \x82t\x82 \xE0\xB0") << "the buffer holds the file's bytes";
  ASSERT_EQ(reader->writeRecord(flatWriteUpdate), kvSuccess);
  ASSERT_EQ(reader->initializeForInsert(), kvSuccess);
  ASSERT_EQ(store(reader, 0, "\xE9"), kvSuccess);
  ASSERT_EQ(flatAppendRecord(reader, 0), kvSuccess);
  std::string bytes = readFile(path("t.dbf"));
  EXPECT_EQ(bytes.substr(bytes.size() - 15), " \x82t\x82 \xE0\xB0 \x82     \x1A");
  drop(statement);
}

TEST_F(DbfTableTest, TransactionBytesRoundTripAsBits) {
  writeFile(path("t.dbf"), dbfTableBytes(0x03, fields, {}));
  DbfConnection* connection = connect();
  DbfStatement* statement = query(connection, "t.dbf", nullptr, "t (RECORDS=ALL, LOCKING=RECORD)");
  DbfFileDesc* reader = table(statement);
  uint8_t* data = nullptr;
  uint16_t length = 0;
  ASSERT_EQ(reader->getTransactionInfo(&data, &length), kvSuccess);
  ASSERT_EQ(length, 5);
  EXPECT_EQ(data[0], 6) << "RECORD (2) with deleted records (4)";
  EXPECT_EQ(kvGetU32LE(data + 1), reader->getUserBit());
  uint8_t saved[5];
  std::memcpy(saved, data, 5);

  // A commit writer restores level and delivery from the bits.
  FlatFileDesc* writer = nullptr;
  ASSERT_EQ(connection->prepareToCommit(reader->getShared(), &writer), kvSuccess);
  auto* dbfWriter = static_cast<DbfFileDesc*>(writer);
  ASSERT_EQ(dbfWriter->setTransactionInfo(saved, 5), kvSuccess);
  EXPECT_EQ(dbfWriter->getLockLevel(), dbfLockRecord);
  EXPECT_TRUE(dbfWriter->getReaderFlags() & DbfFileDesc::readDeleted);
  const struct {
    uint8_t byte;
    uint16_t level;
    bool deleted;
  } cases[] = {{0, dbfLockNone, false}, {1, dbfLockFile, false}, {2, dbfLockRecord, false},
               {4, dbfLockNone, true},  {5, dbfLockFile, true},  {6, dbfLockRecord, true}};
  for (const auto& c : cases) {
    uint8_t bytes[5] = {c.byte, 1, 0, 0, 0};
    ASSERT_EQ(dbfWriter->setTransactionInfo(bytes, 5), kvSuccess);
    EXPECT_EQ(dbfWriter->getLockLevel(), c.level) << int(c.byte);
    EXPECT_EQ(bool(dbfWriter->getReaderFlags() & DbfFileDesc::readDeleted), c.deleted) << int(c.byte);
    // The logged reader's bit does not make the writer's locks that
    // reader's: the writer holds them for every reader, so that the unlock
    // ending the commit lets go of every statement's locks.
    EXPECT_EQ(dbfWriter->lockBits(), 0xFFFFFFFFu) << int(c.byte);
  }
  // The writer's end takes no reader's user bit with it.
  uint32_t mask = reader->getShared()->getUserMask();
  delete writer;
  EXPECT_EQ(reader->getShared()->getUserMask(), mask);
  drop(statement);
}

TEST_F(DbfTableTest, IndexesAreNotReadYetAndSaySo) {
  writeFile(path("t.dbf"), dbfTableBytes(0x03, fields, {}));
  DbfConnection* connection = connect();
  KvStatus status = kvSuccess;
  drop(query(connection, "t.dbf", &status, "t (T1.NDX/USE, T2.NDX)"));
  EXPECT_EQ(status, kvFailure);
  EXPECT_EQ(stateOf(connection), "S1C00");
  connection->getErrorList().clearErrors();
  DbfStatement* statement = query(connection, "t.dbf");
  EXPECT_EQ(table(statement)->useIndex(kvU("  NAME")), kvFailure);
  EXPECT_EQ(errorsOf(connection), std::vector<uint16_t>{msgDbfUseUnopenedIndex});
  connection->getErrorList().clearErrors();
  EXPECT_EQ(table(statement)->closeIndex(kvU("T1.NDX")), kvFailure);
  EXPECT_EQ(errorsOf(connection), std::vector<uint16_t>{msgDbfBadIndexName});
  EXPECT_EQ(table(statement)->closeIndex(nullptr), kvSuccess);
  drop(statement);
}

// A table whose header names a production index is read as usual, but a
// change, which would leave that index stale, is refused and writes nothing.
TEST_F(DbfTableTest, ATableWithAProductionIndexIsNotChanged) {
  std::string bytes = dbfTableBytes(0x03, fields, {" Ann           1.5019991231T"});
  bytes[28] = 1;
  writeFile(path("t.dbf"), bytes);
  DbfConnection* connection = connect();
  DbfStatement* statement = query(connection, "t.dbf");
  DbfFileDesc* reader = table(statement);
  EXPECT_EQ(rows(reader).size(), 1u);
  ASSERT_EQ(reader->initializeForInsert(), kvSuccess);
  ASSERT_EQ(store(reader, 0, "Bea"), kvSuccess);
  EXPECT_EQ(flatAppendRecord(reader, 0), kvFailure);
  EXPECT_EQ(stateOf(connection), "S1C00");
  connection->getErrorList().clearErrors();
  auto* rid = static_cast<FlatNumericRid*>(reader->getRid());
  rid->setRecordNumber(1);
  ASSERT_EQ(reader->setRecordPosition(), kvSuccess);
  EXPECT_EQ(reader->writeRecord(flatWriteUpdate), kvFailure);
  EXPECT_EQ(reader->deleteRecord(), kvFailure);
  drop(statement);
  EXPECT_TRUE(readFile(path("t.dbf")) == bytes);
}

TEST_F(DbfTableTest, ExclusiveOpensRefuseATableInUse) {
  writeFile(path("t.dbf"), dbfTableBytes(0x03, fields, {}));
  DbfConnection* connection = connect();
  DbfStatement* statement = query(connection, "t.dbf");
  auto* exclusive = dbfBuild<DbfFileDesc>(connection);
  connection->lockTableList();
  EXPECT_EQ(exclusive->openExclusive(connection, kvU(path("t.dbf").c_str())), kvFailure);
  connection->unlockTableList();
  EXPECT_EQ(errorsOf(connection), std::vector<uint16_t>{msgDbfCannotOpenExclusive});
  delete exclusive;
  drop(statement);
  // Unused, the table opens exclusively, and nobody else can open it.
  connection->getErrorList().clearErrors();
  exclusive = dbfBuild<DbfFileDesc>(connection);
  connection->lockTableList();
  ASSERT_EQ(exclusive->openExclusive(connection, kvU(path("t.dbf").c_str())), kvSuccess);
  connection->unlockTableList();
  EXPECT_TRUE(exclusive->table()->getTableFlags() & DbfSharedDesc::tableExclusive);
  DbfConnection* other = connect();
  KvStatus status = kvSuccess;
  drop(query(other, "t.dbf", &status));
  EXPECT_EQ(status, kvFailure);
  use(connection);
  exclusive->setShared(nullptr);
  delete exclusive;
}

// The child's side of the read-only test: runs as a user who may not write
// the file (root may write any file, so a root test drops to "nobody").
int readOnlyChild(const std::string& dir, const std::string& file) {
  if (getuid() == 0) {
    struct passwd* nobody = getpwnam("nobody");
    if (!nobody || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) return 10;
  }
  BaseEnv* env = dbfBuild<BaseEnv>(OdbcDriverNumber(1));
  auto* connection = dbfBuild<DbfConnection>(env);
  std::string text = "DRIVER=dbase;DB=" + dir;
  if (connection->SQLDriverConnect(nullptr, kvU(const_cast<char*>(text.c_str())), SQLSMALLINT(SQL_NTS), nullptr, 0,
                                   nullptr, SQL_DRIVER_NOPROMPT) != SQL_SUCCESS)
    return 2;
  KvErrorKeeper::setErrorList(&connection->getErrorList());
  auto* statement = dbfBuild<DbfStatement>(static_cast<FlatConnection*>(connection));
  FlatFileDesc* reader = nullptr;
  if (statement->allocFileDesc(&reader) != kvSuccess || reader->openTable(kvU(file.c_str()), statement) != kvSuccess)
    return 3;
  auto* dbf = static_cast<DbfFileDesc*>(reader);
  if (!dbf->table()->isReadOnly()) return 4;
  uint16_t found = 0;
  if (reader->resetToFirstRecord() != kvSuccess || reader->readNextRec(&found) != kvSuccess || !found) return 5;
  if (reader->writeRecord(flatWriteUpdate) != kvFailure) return 6;
  if (connection->getErrorList().getErrorAtPos(0)->getNumber() != msgTableReadOnly) return 7;
  connection->getErrorList().clearErrors();
  if (flatAppendRecord(reader, 0) != kvFailure) return 8;
  // An exclusive open never falls back to read-only.
  auto* exclusive = dbfBuild<DbfFileDesc>(connection);
  if (exclusive->openExclusive(connection, kvU((dir + "/other.dbf").c_str())) != kvFailure) return 9;
  return 0;
}

TEST_F(DbfTableTest, AWriteProtectedTableOpensReadOnly) {
  const std::string bytes = dbfTableBytes(0x03, fields, {" Ann           1.5019991231T"});
  writeFile(path("t.dbf"), bytes);
  writeFile(path("other.dbf"), bytes);
  ASSERT_EQ(chmod(path("t.dbf").c_str(), 0444), 0);
  ASSERT_EQ(chmod(path("other.dbf").c_str(), 0444), 0);
  ASSERT_EQ(chmod(dir().c_str(), 0755), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(readOnlyChild(dir(), path("t.dbf")));
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << WEXITSTATUS(status);
  EXPECT_TRUE(readFile(path("t.dbf")) == bytes);
  ASSERT_EQ(chmod(path("t.dbf").c_str(), 0644), 0);

  // A read-only connection opens its tables read-only too.
  DbfConnection* connection = connect();
  ASSERT_EQ(connection->applyConnectOption(SQL_ACCESS_MODE, SQL_MODE_READ_ONLY), kvSuccess);
  DbfStatement* statement = query(connection, "t.dbf");
  EXPECT_TRUE(table(statement)->table()->isReadOnly());
  EXPECT_EQ(table(statement)->deleteRecord(), kvFailure);
  EXPECT_EQ(errorsOf(connection), std::vector<uint16_t>{msgTableReadOnly});
  drop(statement);
  EXPECT_TRUE(readFile(path("t.dbf")) == bytes);
}

}  // namespace
