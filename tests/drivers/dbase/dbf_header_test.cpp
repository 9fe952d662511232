// The .DBF header check: what other programs write is accepted, and every
// header whose parts do not agree with each other or with the file's size
// is refused before anything of it is used.
#include "drivers/dbase/table/dbf_header.h"
#include "tests/drivers/dbase/dbase_test_support.h"

namespace {

const std::vector<TestField> twoFields = {{"NAME", 'C', 10, 0}, {"AMOUNT", 'N', 8, 2}};

DbfHeaderFault parse(const std::string& bytes, DbfHeaderInfo* info, uint64_t fileSize = 0) {
  const char* reason = nullptr;
  return dbfParseHeader(reinterpret_cast<const unsigned char*>(bytes.data()), uint32_t(bytes.size()),
                        fileSize ? fileSize : bytes.size(), info, &reason);
}

TEST(DbfHeaderTest, VersionsThatAreRead) {
  const struct {
    uint8_t version;
    DbfHeaderFault fault;
    bool foxMemo;
  } cases[] = {
      {0x03, dbfHeaderValid, false}, {0x83, dbfHeaderValid, false}, {0x8B, dbfHeaderValid, false},
      {0xF5, dbfHeaderValid, true},  {0x30, dbfHeaderInvalid, false}, {0x31, dbfHeaderInvalid, false},
      {0x00, dbfHeaderInvalid, false}, {0xFF, dbfHeaderValid, false},
  };
  for (const auto& c : cases) {
    DbfHeaderInfo info;
    std::string bytes = dbfTableBytes(c.version, twoFields, {"xx"});
    EXPECT_EQ(parse(bytes, &info), c.fault) << int(c.version);
    if (c.fault != dbfHeaderValid) continue;
    EXPECT_EQ(info.foxMemo, c.foxMemo);
    EXPECT_EQ(info.recordCount, 1u);
    EXPECT_EQ(info.headerLength, 97u);
    EXPECT_EQ(info.recordLength, 19u);
    ASSERT_EQ(info.fields.size(), 2u);
    EXPECT_STREQ(info.fields[1].name, "AMOUNT");
    EXPECT_EQ(info.fields[1].offset, 11u);
    EXPECT_EQ(info.fields[1].decimals, 2);
  }
}

TEST(DbfHeaderTest, HeadersThatDisagreeAreRefused) {
  const std::string good = dbfTableBytes(0x03, twoFields, {"xx"});
  auto with = [&](size_t at, std::initializer_list<uint8_t> values) {
    std::string bytes = good;
    for (uint8_t v : values) bytes[at++] = char(v);
    return bytes;
  };
  const struct {
    const char* name;
    std::string bytes;
    DbfHeaderFault fault;
  } cases[] = {
      {"empty", "", dbfHeaderInvalid},
      {"31 bytes", good.substr(0, 31), dbfHeaderInvalid},
      {"encrypted", with(15, {1}), dbfHeaderEncrypted},
      // Header lengths below one descriptor, 0 and 1 among them: the old
      // descriptor limit went negative there.
      {"header length 0", with(8, {0, 0}), dbfHeaderInvalid},
      {"header length 1", with(8, {1, 0}), dbfHeaderInvalid},
      {"header length 32", with(8, {32, 0}), dbfHeaderInvalid},
      {"header beyond the file", with(8, {0xFF, 0xFF}), dbfHeaderInvalid},
      {"header cuts the descriptors", with(8, {80, 0}), dbfHeaderInvalid},
      {"no 0x0D", with(96, {0x20}), dbfHeaderInvalid},
      {"record length", with(10, {18, 0}), dbfHeaderInvalid},
      {"record length 0", with(10, {0, 0}), dbfHeaderInvalid},
      {"type", with(32 + 11, {'X'}), dbfHeaderInvalid},
      {"type 0", with(32 + 11, {0}), dbfHeaderInvalid},
      {"empty name", with(32, {0}), dbfHeaderInvalid},
      {"name of 11", with(32, {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K'}), dbfHeaderInvalid},
      {"field length 0", with(64 + 16, {0}), dbfHeaderInvalid},
      // N(8,8) and N(8,222): no place for the point, or decimals beyond it.
      {"decimals of the width", with(64 + 17, {8}), dbfHeaderInvalid},
      {"decimals beyond the width", with(64 + 17, {222}), dbfHeaderInvalid},
      {"no fields", with(32, {0x0D}), dbfHeaderInvalid},
  };
  for (const auto& c : cases) {
    DbfHeaderInfo info;
    EXPECT_EQ(parse(c.bytes, &info), c.fault) << c.name;
  }
  // The file's size counts, not only the bytes read.
  DbfHeaderInfo info;
  EXPECT_EQ(parse(good, &info, 90), dbfHeaderInvalid);
}

TEST(DbfHeaderTest, CharacterFieldsAreSixteenBitsWide) {
  std::string bytes = dbfTableBytes(0x03, {{"BODY", 'C', 300, 0}}, {});
  DbfHeaderInfo info;
  ASSERT_EQ(parse(bytes, &info), dbfHeaderValid);
  EXPECT_EQ(bytes[32 + 16], '\x2C');
  EXPECT_EQ(bytes[32 + 17], '\x01');
  EXPECT_EQ(info.fields[0].length, 300);
  EXPECT_EQ(info.recordLength, 301u);
}

TEST(DbfHeaderTest, ProductionIndexAndMemoFields) {
  std::string bytes = dbfTableBytes(0x8B, {{"NOTE", 'M', 10, 0}, {"ID", 'N', 4, 0}}, {});
  DbfHeaderInfo info;
  ASSERT_EQ(parse(bytes, &info), dbfHeaderValid);
  EXPECT_TRUE(info.hasMemoFields);
  EXPECT_EQ(info.productionIndex, 0);
  bytes[28] = 1;
  ASSERT_EQ(parse(bytes, &info), dbfHeaderValid);
  EXPECT_EQ(info.productionIndex, 2);
  bytes[64 + 31] = 1;
  ASSERT_EQ(parse(bytes, &info), dbfHeaderValid);
  EXPECT_EQ(info.productionIndex, 1);
}

// A dBASE II header: 521 bytes, 16-byte descriptors from offset 8.
std::string dbase2Header(const std::vector<TestField>& fields) {
  std::string bytes(dbf2HeaderBytes, '\0');
  bytes[0] = 2;
  kvPutU16LE(&bytes[1], 3);
  bytes[3] = 12;
  bytes[4] = 31;
  bytes[5] = 99;
  for (size_t i = 0; i < fields.size(); ++i) {
    char* d = &bytes[8 + 16 * i];
    std::memcpy(d, fields[i].name.data(), fields[i].name.size());
    d[11] = fields[i].type;
    d[12] = char(fields[i].length);
    d[15] = char(fields[i].decimals);
  }
  bytes[8 + 16 * fields.size()] = 0x0D;
  return bytes;
}

TEST(DbfHeaderTest, DbaseTwoLayout) {
  DbfHeaderInfo info;
  std::string bytes = dbase2Header({{"NAME", 'C', 8, 0}, {"QTY", 'N', 5, 1}, {"OK", 'L', 1, 0}});
  ASSERT_EQ(parse(bytes, &info), dbfHeaderValid);
  EXPECT_TRUE(info.dbase2);
  EXPECT_EQ(info.recordCount, 3u);
  EXPECT_EQ(info.headerLength, 521u);
  EXPECT_EQ(info.recordLength, 15u);
  EXPECT_EQ(info.month, 12);
  EXPECT_EQ(info.year, 99);

  std::string dated = dbase2Header({{"BORN", 'D', 8, 0}});
  EXPECT_EQ(parse(dated, &info), dbfHeaderInvalid) << "dBASE II has no dates";
  std::string unended = dbase2Header({{"NAME", 'C', 8, 0}});
  unended[8 + 16] = 'X';
  EXPECT_EQ(parse(unended, &info), dbfHeaderInvalid);
  EXPECT_EQ(parse(bytes.substr(0, 520), &info), dbfHeaderInvalid);
}

TEST(DbfHeaderTest, DateBytesOfBothLayouts) {
  unsigned char date[3];
  dbfDateBytes(false, 2024, 2, 29, date);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(date), 3), std::string("\x7C\x02\x1D", 3));
  dbfDateBytes(true, 1999, 12, 31, date);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(date), 3), std::string("\x0C\x1F\x63", 3));
}

}  // namespace
