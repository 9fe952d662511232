// Memo files through the driver's readers: files of other programs read
// with their values, the formats' edge cases, corrupt files refused
// unchanged, values read in pieces, the block reuse rules of writes, and
// memos written here read back by python3-dbf, dbfread and Perl XBase.
#include "drivers/dbase/dbase_message_ids.h"
#include "drivers/dbase/memo/dbf_memo_file.h"
#include "tests/drivers/dbase/dbase_test_support.h"
#include "util/byte_order.h"

#include <cstdio>

namespace {

const std::vector<TestField> memoFields = {{"CODE", 'C', 4, 0}, {"REMARK", 'M', 10, 0}};

std::string blockText(uint32_t block) {
  char text[16];
  std::snprintf(text, sizeof(text), "%10u", block);
  return text;
}
std::string record(const std::string& code, const std::string& blockField) {
  std::string r = " " + code;
  r.resize(5, ' ');
  return r + blockField;
}

// A memo file: a header block of blockSize bytes with the next-free number
// and the kind's fields, then the given blocks' bytes placed at their
// block numbers.
struct MemoImage {
  uint32_t kind;
  uint32_t blockSize;
  std::string bytes;
  MemoImage(uint32_t kindOf, uint32_t size) : kind(kindOf), blockSize(size), bytes(size < 24 ? 24 : size, '\0') {
    if (kind == dbfMemoFox) kvPutU16BE(&bytes[6], uint16_t(size));
    if (kind == dbfMemoDbase4) {
      bytes[18] = 0x02;
      bytes[19] = 0x01;
      kvPutU16LE(&bytes[20], uint16_t(size));
      std::memcpy(&bytes[8], "T", 1);
    }
    setNextFree(1);
  }
  void setNextFree(uint32_t block) {
    if (kind == dbfMemoFox) kvPutU32BE(&bytes[0], block);
    else kvPutU32LE(&bytes[0], block);
  }
  uint32_t nextFree() const { return kind == dbfMemoFox ? kvGetU32BE(&bytes[0]) : kvGetU32LE(&bytes[0]); }
  void put(uint32_t block, const std::string& data) {
    size_t at = size_t(block) * blockSize;
    if (bytes.size() < at + data.size()) bytes.resize(at + data.size(), '\0');
    bytes.replace(at, data.size(), data);
    uint32_t end = uint32_t((at + data.size() + blockSize - 1) / blockSize);
    if (end > nextFree()) setNextFree(end);
  }
  // A value with its block header.
  void putValue(uint32_t block, const std::string& value, uint32_t foxType = 1) {
    std::string head(8, '\0');
    if (kind == dbfMemoFox) {
      kvPutU32BE(&head[0], foxType);
      kvPutU32BE(&head[4], uint32_t(value.size()));
    } else {
      kvPutU32LE(&head[0], 0x0008FFFF);
      kvPutU32LE(&head[4], uint32_t(value.size() + 8));
    }
    put(block, head + value);
  }
};

class DbfMemoTest : public DbfFixture {
 protected:
  // t.dbf with CODE C(4) and REMARK M, and its memo file.
  void makeTable(uint8_t version, const std::vector<std::string>& records, const MemoImage& memo) {
    writeFile(path("t.dbf"), dbfTableBytes(version, memoFields, records));
    writeFile(path(version == 0xF5 ? "t.fpt" : "t.dbt"), memo.bytes);
  }
  std::string memoPath(uint8_t version) { return path(version == 0xF5 ? "t.fpt" : "t.dbt"); }

  static void position(DbfFileDesc* reader, uint32_t n) {
    static_cast<FlatNumericRid*>(reader->getRid())->setRecordNumber(n);
    ASSERT_EQ(reader->setRecordPosition(), kvSuccess);
  }
  // The whole value of a memo column read through getLargeColumn in
  // pieces of the given size; "<null>" for none, "<error N>" on failure.
  static std::string large(DbfFileDesc* reader, uint16_t column, uint32_t piece, uint32_t* lastTotal = nullptr) {
    std::string value;
    std::vector<unsigned char> buffer(piece);
    for (int guard = 0; guard < 100000; ++guard) {
      uint32_t got = 0, total = 0;
      if (reader->getLargeColumn(column, buffer.data(), piece, uint32_t(value.size()), &got, &total) != kvSuccess)
        return "<error " + std::to_string(KvErrorKeeper::getLastErrorNumber()) + ">";
      if (lastTotal) *lastTotal = total;
      value.append(reinterpret_cast<char*>(buffer.data()), got);
      if (total != flatLongLengthUnknown && value.size() >= total) return value;
      if (got == 0) return value;
    }
    return "<endless>";
  }
  // "<null>" when the evaluator sees the memo column as NULL, else its
  // text (at most 511 bytes).
  static std::string evaluated(DbfFileDesc* reader, uint16_t column) {
    std::vector<unsigned char> buffer(8192);
    int32_t length = 0;
    uint8_t kind = 0;
    if (reader->getFieldData(column, buffer.data(), &length, uint16_t(buffer.size()), &kind) != kvSuccess)
      return "<error " + std::to_string(KvErrorKeeper::getLastErrorNumber()) + ">";
    if (kind == flatValueNull) return "<null>";
    return std::string(reinterpret_cast<char*>(buffer.data()), size_t(length - 1));
  }
  // Writes a memo value into record n and rewrites the record.
  static KvStatus writeMemo(DbfFileDesc* reader, uint32_t n, const std::string& value) {
    position(reader, n);
    KvStatus status = reader->updateColumn(1, value.data(), uint32_t(value.size()), flatItChar);
    if (status == kvSuccess) status = reader->writeRecord(flatWriteUpdate);
    return status;
  }
  static uint32_t fieldBlock(DbfFileDesc* reader) {
    bool tooLarge = false;
    DbfSharedField* field = reader->table()->getField(1);
    return dbfParseMemoBlock(reader->getRecordBuffer() + field->getOffset(), field->getLength(), &tooLarge);
  }
  std::string runScript(const std::string& interpreter, const std::string& script, const std::string& file) {
    writeFile(path("check.script"), script);
    std::string command = interpreter + " " + path("check.script") + " " + path(file) + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return "<popen>";
    std::string output;
    char chunk[256];
    while (size_t n = fread(chunk, 1, sizeof(chunk), pipe)) output.append(chunk, n);
    int rc = pclose(pipe);
    return rc == 0 ? output : "<rc " + std::to_string(rc) + "> " + output;
  }
};

TEST_F(DbfMemoTest, MemoFilesOfOtherProgramsReadWithTheirValues) {
  const std::string x600 = std::string(600, 'x') + "END";
  const struct {
    const char* table;
    const char* memo;
    const char* options;
    std::vector<std::string> values;
  } cases[] = {
      {"memo3v.dbf", "memo3v.dbt", "MEMO3V (CHARSET=IBMPC)", {"Hello memo", "", x600, "line one\r\nline two \xE9"}},
      {"memofp.dbf", "memofp.fpt", "", {"Hello memo", "", std::string(120, 'y') + "END"}},
      {"memo4xb.dbf", "memo4xb.dbt", "", {"Hello memo", "", x600}},
      {"parts_fp.dbf", "parts_fp.fpt", "", {"", ""}},
  };
  DbfConnection* connection = connect();
  for (const auto& c : cases) {
    copyData(c.table);
    copyData(c.memo);
    std::string before = readFile(path(c.memo));
    DbfStatement* statement = query(connection, c.table, nullptr, c.options);
    DbfFileDesc* reader = table(statement);
    uint16_t memoColumn = uint16_t(reader->getShared()->getColumnCount() - 1);
    std::vector<std::string> whole, pieces, evaluator;
    for (uint32_t n = 1; n <= c.values.size(); ++n) {
      position(reader, n);
      whole.push_back(large(reader, memoColumn, 4096));
      pieces.push_back(large(reader, memoColumn, 7));
      evaluator.push_back(evaluated(reader, memoColumn));
    }
    EXPECT_EQ(whole, c.values) << c.table;
    EXPECT_EQ(pieces, c.values) << c.table;
    // The evaluator gets at most 511 bytes of text; only a blank block
    // number is NULL (python3-dbf gives empty values a block).
    for (size_t i = 0; i < c.values.size(); ++i) {
      bool blank = std::string(c.table) == "memo4xb.dbf" && i == 1;
      std::string expected = blank ? "<null>" : c.values[i].substr(0, 511);
      EXPECT_EQ(evaluator[i], expected) << c.table << " " << i;
    }
    drop(statement);
    EXPECT_EQ(readFile(path(c.memo)), before) << "reading changed " << c.memo;
  }
}

TEST_F(DbfMemoTest, FormatsEdgeCases) {
  MemoImage dbase3(dbfMemoDbase3, 512);
  dbase3.put(1, std::string("AB\x8D\x0A" "CD\x1A", 7));
  dbase3.put(2, std::string("AB\x8D" "CD\x1A", 6));
  // A soft break whose 0x0A begins the next 512-byte chunk.
  dbase3.put(3, std::string(511, 'q') + "\x8D\x0A" + "Z\x1A");
  MemoImage fox(dbfMemoFox, 64);
  fox.putValue(1, "text", 1);
  fox.putValue(2, "object", 2);
  const struct {
    uint8_t version;
    const MemoImage* memo;
    std::string field;
    std::string expected;
  } cases[] = {
      {0x83, &dbase3, blockText(1), "ABCD"},
      {0x83, &dbase3, blockText(2), "AB\x8D" "CD"},
      {0x83, &dbase3, blockText(3), std::string(511, 'q') + "Z"},
      {0x83, &dbase3, std::string(10, ' '), "<null>"},
      {0x83, &dbase3, std::string(9, ' ') + "0", "<null>"},
      {0xF5, &fox, blockText(1), "text"},
      {0xF5, &fox, blockText(2), "<error 1213>"},  // an object block through an M field
  };
  DbfConnection* connection = connect();
  for (const auto& c : cases) {
    makeTable(c.version, {record("A", c.field)}, *c.memo);
    DbfStatement* statement = query(connection, "t.dbf");
    DbfFileDesc* reader = table(statement);
    position(reader, 1);
    std::string got = large(reader, 1, 1000);
    if (c.expected == "<null>") got = evaluated(reader, 1);
    EXPECT_EQ(got, c.expected) << c.field;
    drop(statement);
  }
}

// General, binary and picture fields keep their values in the memo file
// as M fields do, and get them back byte for byte, whole and in pieces,
// also after the table is opened again and under the OEM character set:
// their bytes are not text, so no character set, and no soft break of
// dBASE III text, changes them. dBASE III values end at the first 0x1A
// (the format has no length), so that byte is left out there.
TEST_F(DbfMemoTest, GeneralBinaryAndPictureValuesAreKeptByteForByte) {
  std::string binary;
  for (int i = 0; i < 700; ++i) binary += char((i * 37 + 11) & 0xFF);
  binary += "\x8D\x0A\x80\xE9";
  std::string noEnd = binary;
  for (char& c : noEnd)
    if (c == '\x1A') c = '\x1B';
  const struct {
    uint8_t version;
    uint32_t kind;
    uint32_t blockSize;
    const std::string* value;
  } formats[] = {
      {0x83, dbfMemoDbase3, 512, &noEnd},
      {0x8B, dbfMemoDbase4, 512, &binary},
      {0xF5, dbfMemoFox, 64, &binary},
  };
  DbfConnection* connection = connect();
  for (const auto& f : formats) {
    for (char type : {'G', 'B', 'P'}) {
      for (const char* options : {"", "T (CHARSET=IBMPC)"}) {
        const std::string what = std::to_string(f.version) + " " + type + " " + options;
        writeFile(path("t.dbf"), dbfTableBytes(f.version, {{"CODE", 'C', 4, 0}, {"OBJ", type, 10, 0}},
                                               {record("A", std::string(10, ' '))}));
        std::string memoFile = memoPath(f.version);
        writeFile(memoFile, MemoImage(f.kind, f.blockSize).bytes);
        DbfStatement* statement = query(connection, "t.dbf", nullptr, options);
        DbfFileDesc* reader = table(statement);
        connection->getErrorList().clearErrors();
        ASSERT_EQ(writeMemo(reader, 1, *f.value), kvSuccess) << what;
        EXPECT_EQ(fieldBlock(reader), 1u) << what;
        EXPECT_TRUE(large(reader, 1, 4096) == *f.value) << what;
        EXPECT_TRUE(large(reader, 1, 7) == *f.value) << what << ": in pieces";
        EXPECT_EQ(evaluated(reader, 1), "<null>") << what << ": the evaluator gets no text of it";
        drop(statement);
        if (f.kind == dbfMemoFox) {
          // FoxPro block types: 0 picture, 1 text and binary, 2 object.
          std::string bytes = readFile(memoFile);
          EXPECT_EQ(kvGetU32BE(&bytes[f.blockSize]), type == 'P' ? 0u : type == 'G' ? 2u : 1u) << what;
        }
        statement = query(connection, "t.dbf", nullptr, options);
        position(table(statement), 1);
        EXPECT_TRUE(large(table(statement), 1, 100) == *f.value) << what << ": opened again";
        drop(statement);
      }
    }
  }
}

TEST_F(DbfMemoTest, CorruptMemoFilesGiveDiagnosticsAndStayUnchanged) {
  auto dbase4 = [](uint32_t blockSize, uint32_t lengthWord) {
    MemoImage m(dbfMemoDbase4, 512);
    kvPutU16LE(&m.bytes[20], uint16_t(blockSize));
    std::string head(8, '\0');
    kvPutU32LE(&head[0], 0x0008FFFF);
    kvPutU32LE(&head[4], lengthWord);
    m.put(1, head + "data");
    return m;
  };
  MemoImage noEnd(dbfMemoDbase3, 512);
  noEnd.put(1, "text without its end mark");
  MemoImage foxLong(dbfMemoFox, 64);
  foxLong.put(1, std::string("\0\0\0\1\x7F\xFF\xFF\xFF" "abc", 11));
  MemoImage foxShortHeader(dbfMemoFox, 64);
  foxShortHeader.bytes.resize(6);
  const struct {
    const char* what;
    uint8_t version;
    MemoImage memo;
    std::string field;
  } cases[] = {
      {"dBASE IV length word below 8", 0x8B, dbase4(512, 3), blockText(1)},
      {"dBASE IV length past the end", 0x8B, dbase4(512, 100000), blockText(1)},
      {"block size 0", 0x8B, dbase4(0, 12), blockText(1)},
      {"FoxPro length past the end", 0xF5, foxLong, blockText(1)},
      {"FoxPro header of 6 bytes", 0xF5, foxShortHeader, blockText(1)},
      {"text without 0x1A", 0x83, noEnd, blockText(1)},
      {"block past the end", 0x83, noEnd, blockText(900)},
      {"block number beyond 32 bits", 0x83, noEnd, "9999999999"},
      {"block 0 named with other characters", 0x83, noEnd, "   x0y0 00"},
  };
  DbfConnection* connection = connect();
  for (const auto& c : cases) {
    makeTable(c.version, {record("A", c.field)}, c.memo);
    std::string before = readFile(memoPath(c.version));
    DbfStatement* statement = query(connection, "t.dbf");
    DbfFileDesc* reader = table(statement);
    position(reader, 1);
    std::string got = large(reader, 1, 64);
    if (std::string(c.what) == "block 0 named with other characters") EXPECT_EQ(evaluated(reader, 1), "<null>");
    else EXPECT_EQ(got, "<error 1213>") << c.what;
    drop(statement);
    EXPECT_EQ(readFile(memoPath(c.version)), before) << c.what;
  }
}

TEST_F(DbfMemoTest, PiecesReportTotalsAndContinueOrStartOver) {
  MemoImage dbase3(dbfMemoDbase3, 512);
  dbase3.put(1, "0123456789\x1A");
  makeTable(0x83, {record("A", blockText(1))}, dbase3);
  DbfConnection* connection = connect();
  DbfStatement* statement = query(connection, "t.dbf");
  DbfFileDesc* reader = table(statement);
  position(reader, 1);
  unsigned char buffer[4];
  uint32_t got = 0, total = 0;
  // Text whose end lies beyond the piece is read ahead for its total.
  ASSERT_EQ(reader->getLargeColumn(1, buffer, 4, 0, &got, &total), kvSuccess);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), got), "0123");
  EXPECT_EQ(total, 10u);
  // Out of order: read again from the start, passing over six bytes.
  ASSERT_EQ(reader->getLargeColumn(1, buffer, 4, 6, &got, &total), kvSuccess);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), got), "6789");
  ASSERT_EQ(reader->getLargeColumn(1, buffer, 4, 10, &got, &total), kvSuccess);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(total, 10u);
  // Asked for the total alone (a value converted whole), and a piece read
  // after it starts where it should.
  position(reader, 1);
  ASSERT_EQ(reader->getLargeColumn(1, nullptr, 0, 0, &got, &total), kvSuccess);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(total, 10u);
  ASSERT_EQ(reader->getLargeColumn(1, buffer, 4, 0, &got, &total), kvSuccess);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), got), "0123");
  drop(statement);
}

TEST_F(DbfMemoTest, AValueReachesTheFileOnlyWithItsRecord) {
  MemoImage dbase3(dbfMemoDbase3, 512);
  dbase3.put(1, "first\x1A\x1A");
  makeTable(0x83, {record("A", blockText(1))}, dbase3);
  const std::string memoBefore = readFile(memoPath(0x83)), tableBefore = readFile(path("t.dbf"));
  DbfConnection* connection = connect();
  DbfStatement* statement = query(connection, "t.dbf");
  DbfFileDesc* reader = table(statement);
  // Stored values wait beside the record; reading a record or starting a
  // new one drops them, unwritten.
  const struct {
    const char* what;
    bool insert;
  } cases[] = {{"the record read again", false}, {"a new record begun", true}};
  for (const auto& c : cases) {
    position(reader, 1);
    ASSERT_EQ(reader->updateColumn(1, "changed", 7, flatItChar), kvSuccess) << c.what;
    ASSERT_EQ(reader->updateLargeColumn(1, " and more", 9, 7), kvSuccess) << c.what;
    EXPECT_EQ(readFile(memoPath(0x83)), memoBefore) << c.what;
    EXPECT_EQ(fieldBlock(reader), 1u) << c.what;
    if (c.insert) {
      ASSERT_EQ(reader->initializeForInsert(), kvSuccess);
      ASSERT_EQ(flatAppendRecord(reader, 0), kvSuccess);
      ASSERT_EQ(reader->getMaxRecords(nullptr), kvSuccess);
      position(reader, 2);
      EXPECT_EQ(evaluated(reader, 1), "<null>") << c.what;
    } else {
      position(reader, 1);
      ASSERT_EQ(reader->writeRecord(flatWriteUpdate), kvSuccess);
      EXPECT_EQ(large(reader, 1, 64), "first") << c.what;
    }
    EXPECT_EQ(readFile(memoPath(0x83)), memoBefore) << c.what;
  }
  // Written with its record, the value is whole.
  position(reader, 1);
  ASSERT_EQ(reader->updateColumn(1, "changed", 7, flatItChar), kvSuccess);
  ASSERT_EQ(reader->updateLargeColumn(1, " and more", 9, 7), kvSuccess);
  ASSERT_EQ(reader->writeRecord(flatWriteUpdate), kvSuccess);
  position(reader, 1);
  EXPECT_EQ(large(reader, 1, 64), "changed and more");
  drop(statement);
  EXPECT_NE(readFile(path("t.dbf")), tableBefore);
}

// The block rules of writes, on files whose layout each case builds.
TEST_F(DbfMemoTest, WritesReuseGrowOrAppendAsTheirBlocksAllow) {
  DbfConnection* connection = connect();
  std::string v500(500, 'a');

  // dBASE III: a value of the same size goes back to its block.
  MemoImage dbase3(dbfMemoDbase3, 512);
  dbase3.put(1, "first\x1A\x1A");
  dbase3.put(2, "second\x1A\x1A");
  makeTable(0x83, {record("A", blockText(1)), record("B", blockText(2))}, dbase3);
  DbfStatement* statement = query(connection, "t.dbf");
  DbfFileDesc* reader = table(statement);
  position(reader, 1);
  EXPECT_EQ(large(reader, 1, 100), "first");
  ASSERT_EQ(writeMemo(reader, 1, "FIRST"), kvSuccess);
  EXPECT_EQ(fieldBlock(reader), 1u);
  // A dBASE III value ends at its first 0x1A: one holding that byte would
  // read back cut, so it is refused and the file keeps what it had.
  const std::string before = readFile(path("t.dbt"));
  EXPECT_EQ(writeMemo(reader, 1, std::string("cut\x1Ahere")), kvFailure);
  EXPECT_EQ(stateOf(connection), "22005");
  connection->getErrorList().clearErrors();
  EXPECT_TRUE(readFile(path("t.dbt")) == before);
  EXPECT_EQ(large(reader, 1, 100), "FIRST");
  // The last value of the file grows in place, and the next free block
  // moves behind it, so that a new value never lands in its tail.
  ASSERT_EQ(writeMemo(reader, 2, std::string(1000, 'b')), kvSuccess);
  EXPECT_EQ(fieldBlock(reader), 2u);
  EXPECT_EQ(kvGetU32LE(readFile(path("t.dbt")).data()), 4u);
  // Another value that outgrows its block goes to the next free block.
  ASSERT_EQ(writeMemo(reader, 1, std::string(700, 'c')), kvSuccess);
  EXPECT_EQ(fieldBlock(reader), 4u);
  EXPECT_EQ(kvGetU32LE(readFile(path("t.dbt")).data()), 6u);
  position(reader, 2);
  EXPECT_EQ(large(reader, 1, 100), std::string(1000, 'b'));
  position(reader, 1);
  EXPECT_EQ(large(reader, 1, 100), std::string(700, 'c'));
  drop(statement);

  // dBASE IV: 508 bytes and the 8-byte header take two 512-byte blocks.
  MemoImage dbase4(dbfMemoDbase4, 512);
  writeFile(path("t.dbf"), dbfTableBytes(0x8B, memoFields, {record("A", std::string(10, ' '))}));
  writeFile(path("t.dbt"), dbase4.bytes);
  statement = query(connection, "t.dbf");
  reader = table(statement);
  ASSERT_EQ(writeMemo(reader, 1, std::string(508, 'd')), kvSuccess);
  EXPECT_EQ(fieldBlock(reader), 1u);
  std::string bytes = readFile(path("t.dbt"));
  EXPECT_EQ(kvGetU32LE(bytes.data()), 3u);
  EXPECT_EQ(kvGetU32LE(&bytes[512]), 0x0008FFFFu);
  EXPECT_EQ(kvGetU32LE(&bytes[516]), 516u);
  drop(statement);

  // FoxPro with 64-byte blocks: a value of 56 bytes fills its block
  // exactly with its header. Growing it must not keep its block: the next
  // value follows at once, and its bytes must survive.
  MemoImage fox(dbfMemoFox, 64);
  fox.putValue(1, std::string(56, 'e'));
  fox.putValue(2, "neighbour");
  makeTable(0xF5, {record("A", blockText(1)), record("B", blockText(2))}, fox);
  statement = query(connection, "t.dbf");
  reader = table(statement);
  ASSERT_EQ(writeMemo(reader, 1, std::string(60, 'f')), kvSuccess);
  EXPECT_EQ(fieldBlock(reader), 3u);
  position(reader, 2);
  EXPECT_EQ(large(reader, 1, 100), "neighbour");
  position(reader, 1);
  EXPECT_EQ(large(reader, 1, 100), std::string(60, 'f'));
  // A value written in pieces that outgrows its blocks moves whole.
  position(reader, 1);
  ASSERT_EQ(reader->updateLargeColumn(1, v500.data(), 100, 0), kvSuccess);
  ASSERT_EQ(reader->updateLargeColumn(1, v500.data() + 100, 400, 100), kvSuccess);
  ASSERT_EQ(reader->writeRecord(flatWriteUpdate), kvSuccess);
  position(reader, 1);
  EXPECT_EQ(large(reader, 1, 100), v500);
  position(reader, 2);
  EXPECT_EQ(large(reader, 1, 100), "neighbour");
  // Pieces out of order are refused.
  EXPECT_EQ(reader->updateLargeColumn(1, "zz", 2, 7), kvFailure);
  drop(statement);
}

TEST_F(DbfMemoTest, MemosWrittenHereAreReadByOtherPrograms) {
  DbfConnection* connection = connect();
  const std::string longValue = std::string(700, 'm') + "END";
  const struct {
    uint8_t version;
    MemoImage memo;
  } cases[] = {
      {0x83, MemoImage(dbfMemoDbase3, 512)},
      {0x8B, MemoImage(dbfMemoDbase4, 512)},
      {0xF5, MemoImage(dbfMemoFox, 64)},
  };
  for (const auto& c : cases) {
    // Each case's memo file alone: other programs look for either name.
    std::remove(path("t.dbt").c_str());
    std::remove(path("t.fpt").c_str());
    writeFile(path("t.dbf"), dbfTableBytes(c.version, memoFields, {record("A", std::string(10, ' ')),
                                                                  record("B", std::string(10, ' '))}));
    MemoImage memo = c.memo;
    if (c.version == 0x8B) std::memcpy(&memo.bytes[8], "t\0\0\0\0\0\0", 8);
    writeFile(memoPath(c.version), memo.bytes);
    DbfStatement* statement = query(connection, "t.dbf");
    DbfFileDesc* reader = table(statement);
    ASSERT_EQ(writeMemo(reader, 1, "short text"), kvSuccess);
    ASSERT_EQ(writeMemo(reader, 2, longValue), kvSuccess);
    ASSERT_EQ(writeMemo(reader, 1, "short text grown past one block " + std::string(600, 's')), kvSuccess);
    drop(statement);

    std::string expected = "['A', 'B']\n[" + std::to_string(32 + 600) + ", 703]\nshort text grown past one block ss\n";
    // dbfread reads a dBASE IV value's length word (which counts the
    // block header) as the data's length: the 8 bytes after the value
    // (zeros) are taken off again.
    std::string dbfread = "import dbfread, sys\n"
                          "t = list(dbfread.DBF(sys.argv[1]))\n"
                          "print([r['CODE'] for r in t])\n"
                          "print([len(r['REMARK'].rstrip('\\x00')) for r in t])\n"
                          "print(t[0]['REMARK'][:34])\n";
    EXPECT_EQ(runScript("/usr/bin/python3", dbfread, "t.dbf"), expected) << "dbfread " << int(c.version);
    std::string perl = "use XBase; my $t = XBase->new(shift) or die XBase->errstr;\n"
                       "my @a = $t->get_record(0); my @b = $t->get_record(1);\n"
                       "print \"['$a[1]', '$b[1]']\\n[\", length($a[2]), \", \", length($b[2]), \"]\\n\", "
                       "substr($a[2], 0, 34), \"\\n\";\n";
    EXPECT_EQ(runScript("perl", perl, "t.dbf"), expected) << "Perl XBase " << int(c.version);
    if (c.version != 0x8B) {
      std::string pythonDbf = "import dbf, sys\n"
                              "t = dbf.Table(sys.argv[1]); t.open()\n"
                              "print([r.code.strip() for r in t])\n"
                              "print([len(r.remark) for r in t])\n"
                              "print(t[0].remark[:34])\n"
                              "t.close()\n";
      EXPECT_EQ(runScript("/usr/bin/python3", pythonDbf, "t.dbf"), expected) << "python3-dbf " << int(c.version);
    }
  }
}

}  // namespace
