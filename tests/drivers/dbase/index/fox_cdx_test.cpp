// FoxPro compact indexes: the leaf entry codec and the widths by key
// length, packing of shared prefixes, widening past 65,535 records (a
// table of 70,000 rows), random changes against a multiset for compact
// .IDX files and .CDX tags (ascending and descending), ranges over a
// descending tag, the tag directory (order, listTags, removing entries),
// the change counter between two handles, damaged leaves, and Perl XBase
// reading what is written here.
#include "drivers/dbase/dbase_message_ids.h"
#include "drivers/dbase/index/fox/fox_cdx.h"
#include "flat/expr/flat_date_keys.h"
#include "tests/drivers/dbase/index/dbf_index_test_support.h"

namespace {

// The number of a numeric key (the byte-comparable double).
double numberOf(const std::string& key) {
  unsigned char bytes[8];
  std::memcpy(bytes, key.data(), 8);
  UndoMemComparable(bytes);
  double value = 0;
  std::memcpy(&value, bytes, 8);
  return value;
}

// Walks a .CDX tag of character keys with Perl XBase: each entry's key
// in hex and its record. Arguments: the file, the tag.
const char perlCdxWalk[] = R"(use XBase::Index;
my ($file, $tag) = @ARGV;
my $index = XBase::Index->new($file, "tag" => $tag, "type" => "C") or die XBase::Index->errstr;
$index->prepare_select;
while (my ($key, $record) = $index->fetch) { print unpack("H*", $key), " $record\n"; }
)";

std::string textKey(uint32_t v) {
  char text[32];
  std::snprintf(text, sizeof(text), "KEY%05u", v);
  return text;
}

}  // namespace

class FoxCdxTest : public DbfIndexFixture {
 protected:
  FoxCdxDesc* newCompactIdx(const std::string& name, unsigned char type, uint16_t keyLength, bool descending = false,
                            uint8_t options = 0) {
    DbfIndexFile* file = newFile(name, true);
    EXPECT_EQ(FoxCdxDesc::writeNewCompactIdx(file, keyLength, options, descending, kvU("NAME"), nullptr), kvSuccess);
    auto* index = new FoxCdxDesc(reader_->table());
    indexes_.push_back(index);
    unsigned char text[300];
    EXPECT_EQ(index->readTagHeader(file, dbfIndexCompactIdx, 0, 0, type, text, sizeof(text)), kvSuccess);
    DbfIndexCursor walk(index, reader_);
    EXPECT_EQ(index->startNewTree(&walk), kvSuccess);
    EXPECT_EQ(index->finishBuild(&walk), kvSuccess);
    return index;
  }
  DbfIndexFile* newCdx(const std::string& name) {
    DbfIndexFile* file = newFile(name, true);
    EXPECT_EQ(FoxCdxDesc::writeNewCdx(file, reader_->table()), kvSuccess);
    return file;
  }
  // A tag added to a .CDX file, its tree started empty.
  FoxCdxDesc* newTag(DbfIndexFile* file, const std::string& tag, unsigned char type, uint16_t keyLength,
                     bool descending = false, const std::string& forText = "") {
    uint32_t offset = 0;
    EXPECT_EQ(FoxCdxDesc::addTag(file, reader_->table(), kvU(tag.c_str()), keyLength, forText.empty() ? 0 : 0x08,
                                 descending, kvU("NAME"), forText.empty() ? nullptr : kvU(forText.c_str()), &offset),
              kvSuccess);
    FoxCdxDesc* index = openTag(file, offset, type);
    DbfIndexCursor walk(index, reader_);
    EXPECT_EQ(index->startNewTree(&walk), kvSuccess);
    EXPECT_EQ(index->finishBuild(&walk), kvSuccess);
    return index;
  }
  FoxCdxDesc* openTag(DbfIndexFile* file, uint32_t offset, unsigned char type, KvStatus expected = kvSuccess) {
    auto* index = new FoxCdxDesc(reader_->table());
    indexes_.push_back(index);
    unsigned char text[300];
    EXPECT_EQ(index->readTagHeader(file, dbfIndexCdx, offset, 0, type, text, sizeof(text)), expected);
    return index;
  }
  std::vector<std::string> tagNames(DbfIndexFile* file) {
    FoxCdxDesc directory(reader_->table());
    std::vector<FoxCdxTag> tags;
    EXPECT_EQ(directory.openTagDirectory(file), kvSuccess);
    EXPECT_EQ(directory.readTags(&tags), kvSuccess);
    std::vector<std::string> names;
    for (const FoxCdxTag& t : tags) names.push_back(kvC(t.name));
    return names;
  }
  std::function<int(const std::string&, const std::string&)> orderOf(DbfIndexDesc* index) {
    return [index](const std::string& a, const std::string& b) {
      int o = index->compareKeys(reinterpret_cast<const uint8_t*>(a.data()), reinterpret_cast<const uint8_t*>(b.data()));
      return index->isDescending() ? -o : o;
    };
  }
  // The leaves of a compact index, left to right: their node bytes.
  std::vector<std::string> leaves(DbfIndexDesc* index) {
    std::string file = readFile(kvC(index->getFile()->getPath()));
    uint32_t offset = index->getRoot() * 512;
    std::string node = file.substr(offset, 512);
    while (!(kvGetU16LE(&node[0]) & 2)) {
      uint32_t child = kvGetU32BE(&node[12 + index->getKeyLength() + 4]);
      node = file.substr(child, 512);
    }
    std::vector<std::string> out{node};
    for (int guard = 0; guard < 100000 && kvGetU32LE(&out.back()[8]) != 0xFFFFFFFF; ++guard)
      out.push_back(file.substr(kvGetU32LE(&out.back()[8]), 512));
    return out;
  }
};

// The widths of an empty leaf by key length, and entries that go through
// the codec and back, in each row and widened.
TEST_F(FoxCdxTest, EntryCodecByKeyLength) {
  const struct {
    uint16_t keyLength;
    FoxLeafWidths widths;
  } rows[] = {{1, {14, 1, 1, 2}},   {2, {12, 2, 2, 2}},   {3, {12, 2, 2, 2}},   {4, {18, 3, 3, 3}},
              {7, {18, 3, 3, 3}},   {8, {16, 4, 4, 3}},   {10, {16, 4, 4, 3}},  {16, {14, 5, 5, 3}},
              {32, {12, 6, 6, 3}},  {63, {12, 6, 6, 3}},  {64, {18, 7, 7, 4}},  {127, {18, 7, 7, 4}},
              {128, {16, 8, 8, 4}}, {240, {16, 8, 8, 4}}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.keyLength);
    FoxLeafWidths w = foxLeafWidthsFor(r.keyLength);
    EXPECT_EQ(w.recordBits, r.widths.recordBits);
    EXPECT_EQ(w.duplicateBits, r.widths.duplicateBits);
    EXPECT_EQ(w.trailingBits, r.widths.trailingBits);
    EXPECT_EQ(w.entryBytes, r.widths.entryBytes);
    // The largest counts and records of the row, and a widened entry.
    uint32_t d = r.keyLength, t = r.keyLength, record = foxMask(w.recordBits);
    uint8_t entry[8] = {0};
    foxEncodeEntry(entry, w, record, t, d > foxMask(w.duplicateBits) ? foxMask(w.duplicateBits) : d);
    uint32_t gotT = 0, gotD = 0;
    EXPECT_EQ(foxDecodeEntry(entry, w, &gotT, &gotD), record);
    EXPECT_EQ(gotT, t);
    FoxLeafWidths wide = w;
    wide.entryBytes = uint8_t(wide.entryBytes + foxExtraRecordBytes(70000, w.recordBits));
    wide.recordBits = uint8_t(wide.recordBits + 8 * (wide.entryBytes - w.entryBytes));
    std::memset(entry, 0xEE, sizeof(entry));
    foxEncodeEntry(entry, wide, 70000, 1, 0);
    EXPECT_EQ(foxDecodeEntry(entry, wide, &gotT, &gotD), 70000u);
    EXPECT_EQ(gotT, 1u);
    EXPECT_EQ(gotD, 0u);
  }
  // Key length 10: record 0x1234, d 3, t 5 is 0x531234, three bytes.
  uint8_t entry[3];
  foxEncodeEntry(entry, foxLeafWidthsFor(10), 0x1234, 5, 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(entry), 3), std::string("\x34\x12\x53", 3));
  EXPECT_EQ(foxExtraRecordBytes(0x10000, 16), 1u);
  EXPECT_EQ(foxExtraRecordBytes(0x1000000, 16), 2u);
}

// A key between two keys that share a prefix: the successor stores fewer
// bytes; taking the key out again gives the same leaf bytes back. A key
// of pad bytes only stores nothing.
TEST_F(FoxCdxTest, SharedPrefixesPackAndUnpack) {
  openPlainTable();
  FoxCdxDesc* index = newCompactIdx("p.idx", 'C', 10);
  ASSERT_EQ(insert(index, keyOf(index, "ABCD"), 1), kvSuccess);
  ASSERT_EQ(insert(index, keyOf(index, "ABCF"), 2), kvSuccess);
  ASSERT_EQ(insert(index, keyOf(index, ""), 3), kvSuccess);
  std::string before = leaves(index)[0];
  EXPECT_EQ(kvGetU16LE(&before[12]), 488 - 3 * 3 - 4 - 1) << "free space: ABCD, F, nothing for the blank key";
  ASSERT_EQ(insert(index, keyOf(index, "ABCE"), 4), kvSuccess);
  std::string with = leaves(index)[0];
  EXPECT_EQ(kvGetU16LE(&with[12]), kvGetU16LE(&before[12]) - 3 - 1);
  ASSERT_EQ(remove(index, keyOf(index, "ABCE"), 4), kvSuccess);
  EXPECT_EQ(leaves(index)[0], before);
  EXPECT_EQ(entries(index), (std::vector<IndexEntry>{{keyOf(index, ""), 3},
                                                      {keyOf(index, "ABCD"), 1},
                                                      {keyOf(index, "ABCF"), 2}}));
  EXPECT_EQ(verify(index), 3u);
}

// 20,000 random inserts and deletes against a multiset, checked every
// 1,000 steps, for compact .IDX files and .CDX tags; one case starts its
// records above 65,535 so that leaves widen on the way.
TEST_F(FoxCdxTest, RandomInsertsAndDeletesFollowAMultiset) {
  openPlainTable();
  DbfIndexFile* cdx = newCdx("r.cdx");
  const struct {
    const char* name;
    bool tag;
    unsigned char type;
    uint16_t keyLength;
    bool descending;
    uint32_t distinct;
    uint32_t firstRecord;
  } cases[] = {
      {"compact idx text 10", false, 'C', 10, false, 400, 1},
      {"tag text 40", true, 'C', 40, false, 300, 1},
      {"tag descending text", true, 'C', 12, true, 200, 1},
      {"tag numbers", true, 'N', 8, false, 500, 1},
      {"tag descending numbers", true, 'N', 8, true, 50, 1},
      {"tag long keys, wide records", true, 'C', 240, false, 150, 65000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string name = "T" + std::to_string(&c - cases);
    FoxCdxDesc* index = c.tag ? newTag(cdx, name, c.type, c.keyLength, c.descending)
                              : newCompactIdx(name + ".idx", c.type, c.keyLength, c.descending);
    auto keyFor = [&](uint32_t v) {
      return c.type == 'C' ? keyOf(index, textKey(v)) : keyOf(index, (double(v) - c.distinct / 2.0) * 1.5);
    };
    randomChanges(index, keyFor, c.distinct, 20000, 1000, 4242 + uint32_t(&c - cases), orderOf(index), c.descending,
                  true, c.firstRecord);
  }
  EXPECT_EQ(tagNames(cdx), (std::vector<std::string>{"T1", "T2", "T3", "T4", "T5"}));
}

// A table of 70,000 rows in a tag: record numbers above 65,535 widen the
// leaves' entries to four bytes; the build, the walk, searches and the
// check agree.
TEST_F(FoxCdxTest, SeventyThousandRowsWidenTheEntries) {
  std::vector<std::string> records;
  for (uint32_t r = 1; r <= 70000; ++r) records.push_back(" " + textKey(r % 5000));
  openTable({{"NAME", 'C', 10, 0}}, records);
  DbfIndexFile* cdx = newCdx("big.cdx");
  FoxCdxDesc* index = newTag(cdx, "NAME", 'C', 10);
  ASSERT_EQ(build(index, 0), kvSuccess);
  EXPECT_EQ(verify(index), 70000u);
  std::vector<IndexEntry> all = entries(index);
  ASSERT_EQ(all.size(), 70000u);
  for (size_t i = 1; i < all.size(); ++i)
    ASSERT_TRUE(all[i - 1].first < all[i].first || (all[i - 1].first == all[i].first && all[i - 1].second < all[i].second));
  EXPECT_EQ(all.back(), IndexEntry(keyOf(index, textKey(4999)), 69999));
  EXPECT_EQ(find(index, keyOf(index, textKey(7))), 7u);
  uint32_t wide = 0;
  for (const std::string& leaf : leaves(index)) {
    EXPECT_LE(uint8_t(leaf[23]), 6);
    if (uint8_t(leaf[23]) == 4) ++wide;
  }
  EXPECT_GT(wide, 0u);
  std::string header = readFile(path("big.cdx")).substr(index->getTagHeaderOffset(), 24);
  EXPECT_EQ(kvGetU32LE(&header[16]), 70000u) << "keys given to the build";
  EXPECT_EQ(kvGetU32LE(&header[20]), 5000u) << "distinct keys";
  // Changes on the wide leaves.
  ASSERT_EQ(remove(index, keyOf(index, textKey(7)), 7), kvSuccess);
  ASSERT_EQ(insert(index, keyOf(index, textKey(7)), 70001), kvSuccess);
  EXPECT_EQ(verify(index), 70000u);
}

// Ranges over a descending tag: the entries from a search for the upper
// bound up to the lower bound are the full scan's entries in the range.
TEST_F(FoxCdxTest, RangesOverADescendingTagEqualAFullScan) {
  openPlainTable();
  DbfIndexFile* cdx = newCdx("d.cdx");
  FoxCdxDesc* index = newTag(cdx, "DOWN", 'N', 8, true);
  for (uint32_t r = 1; r <= 3000; ++r) ASSERT_EQ(insert(index, keyOf(index, double(int(r * 37 % 701) - 350)), r), kvSuccess);
  std::vector<IndexEntry> all = entries(index);
  ASSERT_EQ(all.size(), 3000u);
  const double ranges[][2] = {{-100, 100}, {-350, -349}, {0, 0}, {349, 1000}, {-1000, -351}, {12.5, 13.5}};
  for (const auto& range : ranges) {
    SCOPED_TRACE(range[0]);
    std::string low = keyOf(index, range[0]), high = keyOf(index, range[1]);
    std::vector<IndexEntry> want;
    for (const IndexEntry& e : all)
      if (numberOf(e.first) >= range[0] && numberOf(e.first) <= range[1]) want.push_back(e);
    std::vector<IndexEntry> got;
    DbfIndexCursor walk(index, reader_);
    uint32_t record = 0;
    ASSERT_EQ(index->searchKey(&walk, reinterpret_cast<const uint8_t*>(high.data()), &record, false), kvSuccess);
    while (record) {
      int order = 0;
      ASSERT_EQ(index->compareCurrentKey(&walk, reinterpret_cast<const uint8_t*>(low.data()), &order), kvSuccess);
      if (order > 0) break;  // past the low end in the tag's order
      got.emplace_back(currentKey(index, &walk), record);
      ASSERT_EQ(index->nextKey(&walk, &record), kvSuccess);
    }
    EXPECT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want);
  }
}

// The tag directory: tags made as NAME, CITY, ZIP open as CITY, NAME,
// ZIP; listTags says the same (a lower-case extension too, nothing for an
// .IDX); a 10-character name fills the key; a name with trailing blanks
// finds its tag; removing a name the directory does not hold is 4404 and
// changes nothing, also when one other tag is left.
TEST_F(FoxCdxTest, TagDirectory) {
  openPlainTable();
  DbfIndexFile* cdx = newCdx("t.cdx");
  for (const char* tag : {"NAME", "CITY", "ZIP", "ABCDEFGHIJ"}) newTag(cdx, tag, 'C', 10);
  EXPECT_EQ(tagNames(cdx), (std::vector<std::string>{"ABCDEFGHIJ", "CITY", "NAME", "ZIP"}));
  {
    FoxCdxDesc directory(reader_->table());
    std::vector<FoxCdxTag> tags;
    ASSERT_EQ(directory.openTagDirectory(cdx), kvSuccess);
    ASSERT_EQ(directory.readTags(&tags), kvSuccess);
    FoxCdxDesc city(reader_->table());
    unsigned char text[300];
    ASSERT_EQ(city.openTag(cdx, tags[1], 1, 'C', text, sizeof(text)), kvSuccess);
    EXPECT_STREQ(kvC(city.name), "CITY");
    EXPECT_STREQ(kvC(text), "NAME");
    EXPECT_EQ(city.getTagNumber(), 1);
  }
  writeFile(path("copy.cdx"), readFile(path("t.cdx")));
  unsigned char names[60 * 11];
  uint32_t count = 0;
  ASSERT_EQ(FoxCdxDesc::listTags(kvU(path("copy.cdx").c_str()), false, names, 60, &count), kvSuccess);
  ASSERT_EQ(count, 4u);
  EXPECT_STREQ(kvC(names + 11), "CITY");
  EXPECT_STREQ(kvC(names), "ABCDEFGHIJ");
  writeFile(path("copy.idx"), readFile(path("t.cdx")));
  ASSERT_EQ(FoxCdxDesc::listTags(kvU(path("copy.idx").c_str()), false, names, 60, &count), kvSuccess);
  EXPECT_EQ(count, 0u);

  uint16_t remaining = 0;
  std::string before = readFile(path("t.cdx"));
  EXPECT_EQ(FoxCdxDesc::removeTagEntry(cdx, reader_->table(), kvU("STATE"), &remaining), kvFailure);
  EXPECT_EQ(takeLastError(), msgDbfTagNotFound);
  EXPECT_EQ(readFile(path("t.cdx")), before);
  ASSERT_EQ(FoxCdxDesc::removeTagEntry(cdx, reader_->table(), kvU("CITY  "), &remaining), kvSuccess);
  EXPECT_EQ(remaining, 3);
  ASSERT_EQ(FoxCdxDesc::removeTagEntry(cdx, reader_->table(), kvU("ABCDEFGHIJ"), &remaining), kvSuccess);
  ASSERT_EQ(FoxCdxDesc::removeTagEntry(cdx, reader_->table(), kvU("ZIP"), &remaining), kvSuccess);
  EXPECT_EQ(remaining, 1);
  before = readFile(path("t.cdx"));
  EXPECT_EQ(FoxCdxDesc::removeTagEntry(cdx, reader_->table(), kvU("ZIP"), &remaining), kvFailure);
  EXPECT_EQ(takeLastError(), msgDbfTagNotFound);
  EXPECT_EQ(readFile(path("t.cdx")), before) << "the one tag left stays";
  EXPECT_EQ(tagNames(cdx), (std::vector<std::string>{"NAME"}));
}

// More than 50 tags: listTags refuses the file with 1238.
TEST_F(FoxCdxTest, ListTagsRefusesMoreThanFiftyTags) {
  openPlainTable();
  DbfIndexFile* cdx = newCdx("many.cdx");
  for (uint32_t t = 0; t < 51; ++t) {
    uint32_t offset = 0;
    ASSERT_EQ(FoxCdxDesc::addTag(cdx, reader_->table(), kvU(("T" + std::to_string(t)).c_str()), 10, 0, false,
                                 kvU("NAME"), nullptr, &offset),
              kvSuccess);
  }
  EXPECT_EQ(tagNames(cdx).size(), 51u);
  unsigned char names[60 * 11];
  uint32_t count = 0;
  EXPECT_EQ(FoxCdxDesc::listTags(kvU(path("many.cdx").c_str()), false, names, 60, &count), kvFailure);
  EXPECT_EQ(takeLastError(), msgDbfBadIndex);
}

// Each insert and delete raises the tag's change counter; a second
// handle that kept the nodes it read sees the change at its next lock,
// which takes the byte 0x3FFFFFFE.
TEST_F(FoxCdxTest, ChangeCounterMakesOtherHandlesReadAgain) {
  openPlainTable();
  DbfIndexFile* cdx = newCdx("c.cdx");
  FoxCdxDesc* mine = newTag(cdx, "NAME", 'C', 10);
  uint32_t offset = mine->getTagHeaderOffset();
  auto counter = [&] { return kvGetU32LE(&readFile(path("c.cdx"))[offset + 8]); };
  uint32_t start = counter();
  ASSERT_EQ(insert(mine, keyOf(mine, "A"), 1), kvSuccess);
  ASSERT_EQ(insert(mine, keyOf(mine, "B"), 2), kvSuccess);
  ASSERT_EQ(remove(mine, keyOf(mine, "A"), 1), kvSuccess);
  EXPECT_EQ(counter(), start + 3);
  DbfIndexFile* otherFile = newFile("c.cdx", false);
  FoxCdxDesc* theirs = openTag(otherFile, offset, 'C');
  EXPECT_EQ(entries(theirs).size(), 1u);
  for (uint32_t r = 10; r < 200; ++r) ASSERT_EQ(insert(mine, keyOf(mine, textKey(r)), r), kvSuccess);
  DbfIndexCursor* walk = cursor(theirs);
  ASSERT_EQ(theirs->lockForRead(walk), kvSuccess);
  EXPECT_EQ(entries(theirs).size(), 191u);
  // Readers and writers of compact files share the byte 0x3FFFFFFE.
  int locked = 0;
  ASSERT_EQ(bosRegionTest(mine->getFile()->getHandle(), 0x3FFFFFFE, 1, &locked), kvSuccess);
  EXPECT_TRUE(locked);
  theirs->unlockForRead(walk);
  ASSERT_EQ(bosRegionTest(mine->getFile()->getHandle(), 0x3FFFFFFE, 1, &locked), kvSuccess);
  EXPECT_FALSE(locked);
}

// Damaged compact leaves: counts beyond the area, duplicate and trailing
// counts beyond the key, a first entry with a duplicate count, entries of
// 7 bytes, free space beyond the area: 1238 when read, nothing written.
TEST_F(FoxCdxTest, DamagedLeavesAreRefusedCleanly) {
  openPlainTable();
  FoxCdxDesc* index = newCompactIdx("good.idx", 'C', 10);
  for (uint32_t r = 1; r <= 20; ++r) ASSERT_EQ(insert(index, keyOf(index, textKey(r)), r), kvSuccess);
  std::string good = readFile(path("good.idx"));
  uint32_t leaf = index->getRoot() * 512;
  auto damage = [&](const std::function<void(std::string&)>& change) {
    std::string bytes = good;
    change(bytes);
    return bytes;
  };
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"count beyond the area", damage([&](std::string& b) { kvPutU16LE(&b[leaf + 2], 200); })},
      {"free space beyond the area", damage([&](std::string& b) { kvPutU16LE(&b[leaf + 12], 600); })},
      {"seven bytes an entry", damage([&](std::string& b) { b[leaf + 23] = 7; b[leaf + 20] = 40; })},
      {"counts beyond the key", damage([&](std::string& b) { b[leaf + 24 + 3 * 5 + 2] = char(0xFF); })},
      {"first entry shares a prefix", damage([&](std::string& b) { b[leaf + 24 + 2] = char(b[leaf + 24 + 2] | 0x03); })},
      {"widths that do not add up", damage([&](std::string& b) { b[leaf + 21] = 5; })},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string name = std::string("bad") + std::to_string(&c - cases) + ".idx";
    writeFile(path(name), c.bytes);
    auto* bad = new FoxCdxDesc(reader_->table());
    indexes_.push_back(bad);
    unsigned char text[300];
    ASSERT_EQ(bad->readTagHeader(newFile(name, false), dbfIndexCompactIdx, 0, 0, 'C', text, sizeof(text)), kvSuccess);
    verify(bad, kvFailure);
    DbfIndexCursor walk(bad, reader_);
    uint32_t record = 0;
    EXPECT_EQ(bad->nextKey(&walk, &record), kvFailure);
    EXPECT_EQ(takeLastError(), msgDbfBadIndex);
    EXPECT_EQ(readFile(path(name)), c.bytes);
  }
}

// Perl XBase walks the tags of a .CDX written here with the same keys and
// records.
TEST_F(FoxCdxTest, PerlXBaseReadsFilesWrittenHere) {
  openPlainTable();
  FoxCdxDesc* single = newCompactIdx("perl.idx", 'C', 12);
  DbfIndexFile* cdx = newCdx("perl.cdx");
  FoxCdxDesc* first = newTag(cdx, "FIRST", 'C', 20);
  FoxCdxDesc* second = newTag(cdx, "SECOND", 'C', 8);
  for (uint32_t r = 1; r <= 900; ++r) {
    ASSERT_EQ(insert(single, keyOf(single, textKey((r * 7919) % 300)), r), kvSuccess);
    ASSERT_EQ(insert(first, keyOf(first, "X" + textKey((r * 31) % 500) + "Y"), r), kvSuccess);
    ASSERT_EQ(insert(second, keyOf(second, textKey(r % 7)), r), kvSuccess);
  }
  for (uint32_t r = 1; r <= 900; r += 4) {
    ASSERT_EQ(remove(single, keyOf(single, textKey((r * 7919) % 300)), r), kvSuccess);
    ASSERT_EQ(remove(first, keyOf(first, "X" + textKey((r * 31) % 500) + "Y"), r), kvSuccess);
  }
  // Perl gives the keys without their trailing blanks.
  auto trimmed = [](std::vector<IndexEntry> list) {
    for (IndexEntry& e : list) e.first.erase(e.first.find_last_not_of(' ') + 1);
    return list;
  };
  EXPECT_EQ(runScript("perl", perlCdxWalk, {path("perl.cdx"), "FIRST"}), listing(trimmed(entries(first))));
  EXPECT_EQ(runScript("perl", perlCdxWalk, {path("perl.cdx"), "SECOND"}), listing(trimmed(entries(second))));
  // Perl XBase reads no compact .IDX (it takes the header at 0 for a tag
  // directory); its nodes are the tags' nodes, walked above.
  EXPECT_EQ(verify(single), 675u);
}
