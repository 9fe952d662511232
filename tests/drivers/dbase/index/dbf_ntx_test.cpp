// Clipper .NTX files: the header (DESCEND unwrapping, the extended header,
// qualifiers), the text keys of each type, random changes against a
// multiset, merges and the free list, growth of files whose root is not
// the last page, negative numbers whose stored order is not their value
// order, the version check between handles, the lock byte, damaged pages,
// and Perl XBase reading what is written here.
#include "drivers/dbase/dbase_message_ids.h"
#include "drivers/dbase/index/clipper/dbf_ntx.h"
#include "tests/drivers/dbase/index/dbf_index_test_support.h"

namespace {

// Walks an index of character keys with Perl XBase, each entry's key in
// hex (trailing blanks cut) and its record. Argument: the file.
const char perlCharWalk[] = R"(use XBase::Index;
my $index = XBase::Index->new($ARGV[0], "type" => "C") or die XBase::Index->errstr;
$index->prepare_select;
while (my ($key, $record) = $index->fetch) { $key =~ s/ +$//; print unpack("H*", $key), " $record\n"; }
)";

std::string textKey(uint32_t v) {
  char text[32];
  std::snprintf(text, sizeof(text), "N%05u", v);
  return text;
}

// A header of the fields given (540 bytes, padded to 1024).
std::string ntxHeader(uint16_t signature, uint32_t root, uint32_t freeList, uint16_t keySize, uint16_t maxItems,
                      uint16_t halfPage, const char* keyText, uint16_t descending = 0, const char* forText = "") {
  std::string h(1024, '\0');
  kvPutU16LE(&h[0], signature);
  kvPutU32LE(&h[4], root);
  kvPutU32LE(&h[8], freeList);
  kvPutU16LE(&h[12], uint16_t(keySize + 8));
  kvPutU16LE(&h[14], keySize);
  kvPutU16LE(&h[18], maxItems);
  kvPutU16LE(&h[20], halfPage);
  std::memcpy(&h[22], keyText, std::strlen(keyText));
  kvPutU16LE(&h[280], descending);
  std::memcpy(&h[282], forText, std::strlen(forText));
  return h;
}

// A page: items (child, record, key) at offsets after the table in order.
std::string ntxPage(uint16_t maxItems, uint16_t keySize,
                    const std::vector<std::tuple<uint32_t, uint32_t, std::string>>& items, uint32_t last) {
  std::string page(1024, '\0');
  uint32_t itemSize = keySize + 8u;
  kvPutU16LE(&page[0], uint16_t(items.size()));
  for (uint32_t i = 0; i <= maxItems; ++i) kvPutU16LE(&page[2 + 2 * i], uint16_t(2 * maxItems + 4 + i * itemSize));
  for (uint32_t i = 0; i <= items.size(); ++i) {
    uint32_t at = 2 * maxItems + 4 + i * itemSize;
    if (i < items.size()) {
      kvPutU32LE(&page[at], std::get<0>(items[i]));
      kvPutU32LE(&page[at + 4], std::get<1>(items[i]));
      std::memcpy(&page[at + 8], std::get<2>(items[i]).data(), keySize);
    } else {
      kvPutU32LE(&page[at], last);
    }
  }
  return page;
}

}  // namespace

class DbfNtxTest : public DbfIndexFixture {
 protected:
  DbfNtxDesc* newNtx(const std::string& name, unsigned char type, uint16_t keySize, uint16_t decimals = 0,
                     bool descending = false, bool unique = false, const std::string& keyText = "NAME") {
    DbfIndexFile* file = newFile(name, true);
    EXPECT_EQ(DbfNtxDesc::writeNewHeader(file, keySize, decimals, unique, descending, kvU(keyText.c_str()), nullptr),
              kvSuccess);
    return openNtx(file, type);
  }
  DbfNtxDesc* openNtx(DbfIndexFile* file, unsigned char type, KvStatus expected = kvSuccess,
                      std::string* keyText = nullptr) {
    auto* index = new DbfNtxDesc(reader_->table());
    indexes_.push_back(index);
    unsigned char text[300];
    EXPECT_EQ(index->readHeader(file, type, text, sizeof(text)), expected);
    if (keyText) *keyText = kvC(text);
    return index;
  }
  std::function<int(const std::string&, const std::string&)> orderOf(DbfIndexDesc* index) {
    return [index](const std::string& a, const std::string& b) {
      return index->compareKeys(reinterpret_cast<const uint8_t*>(a.data()), reinterpret_cast<const uint8_t*>(b.data()));
    };
  }
  std::vector<uint32_t> records(DbfIndexDesc* index) {
    std::vector<uint32_t> out;
    for (const IndexEntry& e : entries(index)) out.push_back(e.second);
    return out;
  }
};

// Header fields; DESCEND(...) without the extended header; the extended
// header's own flag; qualifiers of the table removed; bad headers.
TEST_F(DbfNtxTest, HeaderFieldsAndRefusals) {
  openPlainTable();
  const struct {
    const char* name;
    uint16_t signature;
    const char* keyText;
    uint16_t descending;
    const char* wantKey;
    bool wantDescending;
  } cases[] = {
      {"plain", 0, "NAME", 0, "NAME", false},
      {"descend", 0, "DESCEND(UPPER(NAME))", 0, "UPPER(NAME)", true},
      {"descend, lower case", 0, "descend(NAME)", 0, "NAME", true},
      {"extended: offset 280 decides", 1, "DESCEND(NAME)", 0, "DESCEND(NAME)", false},
      {"extended descending", 1, "NAME", 1, "NAME", true},
      {"qualifiers", 0, "T->NAME+t->CITY+OTHER->X", 0, "NAME+CITY+OTHER->X", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string name = "h" + std::to_string(&c - cases) + ".ntx";
    writeFile(path(name), ntxHeader(c.signature, 1024, 0, 10, 40, 20, c.keyText, c.descending) +
                              ntxPage(40, 10, {}, 0));
    std::string keyText;
    DbfNtxDesc* index = openNtx(newFile(name, false), 'C', kvSuccess, &keyText);
    EXPECT_EQ(keyText, c.wantKey);
    EXPECT_EQ(index->isDescending(), c.wantDescending);
    EXPECT_EQ(index->getFile()->getKind(), uint32_t(dbfIndexNtx));
    EXPECT_EQ(index->getFile()->getPageSize(), 1024);
  }
  writeFile(path("for.ntx"), ntxHeader(1, 1024, 0, 10, 40, 20, "NAME", 0, "T->CITY = 'X'") + ntxPage(40, 10, {}, 0));
  DbfNtxDesc* withFor = openNtx(newFile("for.ntx", false), 'C');
  uint8_t* forText = nullptr;
  ASSERT_EQ(withFor->getFilterCondition(&forText, nullptr), kvSuccess);
  ASSERT_TRUE(forText);
  EXPECT_STREQ(kvC(forText), "CITY = 'X'");

  const struct {
    const char* name;
    std::string bytes;
  } bad[] = {
      {"short", ntxHeader(0, 1024, 0, 10, 40, 20, "K").substr(0, 500)},
      {"key size 0", ntxHeader(0, 1024, 0, 0, 40, 20, "K")},
      {"items do not fit a page", ntxHeader(0, 1024, 0, 10, 60, 30, "K")},
      {"half page above half", ntxHeader(0, 1024, 0, 10, 40, 21, "K")},
      {"root inside the header", ntxHeader(0, 512, 0, 10, 40, 20, "K")},
      {"free list not a page", ntxHeader(0, 1024, 1000, 10, 40, 20, "K")},
  };
  for (const auto& c : bad) {
    SCOPED_TRACE(c.name);
    writeFile(path("bad.ntx"), c.bytes);
    openNtx(newFile("bad.ntx", false), 'C', kvFailure);
    EXPECT_EQ(takeLastError(), msgDbfBadNtx);
  }
}

// Keys of each type: text, negated text when descending; numbers as '0'
// filled numeric text, mapped by 0x5C - c when negative (ascending) or not
// negative (descending); dates as YYYYMMDD or 5231808 minus the day.
TEST_F(DbfNtxTest, KeysByType) {
  openPlainTable();
  DbfNtxDesc* text = newNtx("c.ntx", 'C', 4);
  DbfNtxDesc* textDown = newNtx("cd.ntx", 'C', 4, 0, true);
  DbfNtxDesc* number = newNtx("n.ntx", 'N', 6, 1);
  DbfNtxDesc* numberDown = newNtx("nd.ntx", 'N', 6, 1, true);
  DbfNtxDesc* date = newNtx("d.ntx", 'D', 8);
  DbfNtxDesc* dateDown = newNtx("dd.ntx", 'D', 8, 0, true);
  auto mapped = [](std::string s) {
    for (char& c : s) c = char(0x5C - c);
    return s;
  };
  double day = 2451545;  // 2000-01-01
  EXPECT_EQ(keyOf(text, "AB"), "AB  ");
  EXPECT_EQ(keyOf(textDown, "AB"), std::string("\xBF\xBE\xE0\xE0", 4));
  EXPECT_EQ(keyOf(number, 12.5), "0012.5");
  EXPECT_EQ(keyOf(number, -2.0), mapped("00-2.0"));
  EXPECT_EQ(keyOf(numberDown, 12.5), mapped("0012.5"));
  EXPECT_EQ(keyOf(numberDown, -2.0), "00-2.0");
  EXPECT_EQ(keyOf(date, day), "20000101");
  EXPECT_EQ(keyOf(date, 1e100), "        ");
  EXPECT_EQ(keyOf(dateDown, day), "02780263");
  EXPECT_EQ(keyOf(dateDown, 1e100), "05231808");

  // -2 .. 2 in order, the descending index the other way; an empty date
  // after every date in a descending date index.
  const double values[] = {1, -2, 0, 2, -1};
  for (uint32_t r = 1; r <= 5; ++r) {
    ASSERT_EQ(insert(number, keyOf(number, values[r - 1]), r), kvSuccess);
    ASSERT_EQ(insert(numberDown, keyOf(numberDown, values[r - 1]), r), kvSuccess);
  }
  EXPECT_EQ(records(number), (std::vector<uint32_t>{2, 5, 3, 1, 4}));
  EXPECT_EQ(records(numberDown), (std::vector<uint32_t>{4, 1, 3, 5, 2}));
  ASSERT_EQ(insert(dateDown, keyOf(dateDown, 1e100), 1), kvSuccess);
  ASSERT_EQ(insert(dateDown, keyOf(dateDown, day), 2), kvSuccess);
  ASSERT_EQ(insert(dateDown, keyOf(dateDown, day + 400), 3), kvSuccess);
  EXPECT_EQ(records(dateDown), (std::vector<uint32_t>{3, 2, 1}));
}

// Negative numbers of different digit counts: the stored order puts -10
// after -2 (the bytes other programs read stay as they are); the index
// says that ranges reaching below 0 must be checked against the values.
TEST_F(DbfNtxTest, NegativeNumbersAreNotInValueOrder) {
  openPlainTable();
  DbfNtxDesc* index = newNtx("neg.ntx", 'N', 8);
  const double values[] = {-200, -10, -2, -1, 0, 1, 2};
  for (uint32_t r = 1; r <= 7; ++r) ASSERT_EQ(insert(index, keyOf(index, values[r - 1]), r), kvSuccess);
  EXPECT_EQ(records(index), (std::vector<uint32_t>{3, 4, 2, 1, 5, 6, 7})) << "-2, -1, -10, -200, 0, 1, 2 as stored";
  EXPECT_FALSE(index->rangeFollowsValues(-150, -5));
  EXPECT_FALSE(index->rangeFollowsValues(-200, 2));
  EXPECT_TRUE(index->rangeFollowsValues(0, 2));
  // BETWEEN -150 AND -5 answered by checking each entry's value: -10.
  std::vector<uint32_t> between;
  for (uint32_t r : records(index))
    if (values[r - 1] >= -150 && values[r - 1] <= -5) between.push_back(r);
  EXPECT_EQ(between, std::vector<uint32_t>{2});
  DbfNtxDesc* text = newNtx("t.ntx", 'C', 8);
  EXPECT_TRUE(text->rangeFollowsValues(-150, -5));
}

// 20,000 random inserts and deletes against a multiset, checked every
// 1,000 steps (equal keys in any record order).
TEST_F(DbfNtxTest, RandomInsertsAndDeletesFollowAMultiset) {
  openPlainTable();
  const struct {
    const char* name;
    unsigned char type;
    uint16_t keySize;
    bool descending;
    uint32_t distinct;
  } cases[] = {{"text 10", 'C', 10, false, 400},
               {"text 100 descending", 'C', 100, true, 300},
               {"few keys", 'C', 6, false, 25},
               {"numbers", 'N', 10, false, 500},
               {"numbers descending", 'N', 10, true, 500}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DbfNtxDesc* index = newNtx("r" + std::to_string(&c - cases) + ".ntx", c.type, c.keySize, 0, c.descending);
    auto keyFor = [&](uint32_t v) {
      return c.type == 'C' ? keyOf(index, textKey(v)) : keyOf(index, double(v) - c.distinct / 2.0);
    };
    randomChanges(index, keyFor, c.distinct, 20000, 1000, 99 + uint32_t(&c - cases), orderOf(index), false, false);
  }
}

// Deletes that leave a page below the half page next to a sibling with
// nothing to spare merge the two; the freed page is taken by the next
// split before the file grows.
TEST_F(DbfNtxTest, MergesFreePagesThatSplitsReuse) {
  openPlainTable();
  DbfNtxDesc* index = newNtx("m.ntx", 'C', 100);  // 8 items a page, half page 4
  for (uint32_t r = 1; r <= 9; ++r) ASSERT_EQ(insert(index, keyOf(index, textKey(r)), r), kvSuccess);
  // A root of one item over two leaves of four.
  EXPECT_EQ(verify(index), 9u);
  uint64_t size = readFile(path("m.ntx")).size();
  ASSERT_EQ(remove(index, keyOf(index, textKey(1)), 1), kvSuccess);
  EXPECT_EQ(verify(index), 8u);
  EXPECT_NE(index->getFreeListHead(), 0u) << "the merged page is free";
  uint32_t freed = index->getFreeListHead();
  std::string header = readFile(path("m.ntx")).substr(0, 12);
  EXPECT_EQ(kvGetU32LE(&header[8]), freed);
  for (uint32_t r = 20; r <= 24; ++r) ASSERT_EQ(insert(index, keyOf(index, textKey(r)), r), kvSuccess);
  EXPECT_EQ(readFile(path("m.ntx")).size(), size) << "the split took the free page";
  EXPECT_EQ(index->getFreeListHead(), 0u);
  EXPECT_EQ(verify(index), 13u);
}

// A file whose root is not its last page (another program's): growth
// goes to the end of the file, the root stays, no page is overwritten.
TEST_F(DbfNtxTest, RootThatIsNotTheLastPageStays) {
  openPlainTable();
  auto key = [](uint32_t v) { return textKey(v) + std::string(4, ' '); };
  std::vector<std::tuple<uint32_t, uint32_t, std::string>> left, right;
  for (uint32_t v = 1; v <= 20; ++v) left.emplace_back(0, v, key(v));
  for (uint32_t v = 22; v <= 41; ++v) right.emplace_back(0, v, key(v));
  std::string file = ntxHeader(0, 1024, 0, 10, 40, 20, "NAME") +
                     ntxPage(40, 10, {std::make_tuple(2048u, 21u, key(21))}, 3072) + ntxPage(40, 10, left, 0) +
                     ntxPage(40, 10, right, 0);
  writeFile(path("f.ntx"), file);
  DbfNtxDesc* index = openNtx(newFile("f.ntx", false), 'C');
  EXPECT_EQ(verify(index), 41u);
  for (uint32_t v = 42; v <= 70; ++v) ASSERT_EQ(insert(index, key(v), v), kvSuccess);
  EXPECT_EQ(index->getRoot() * 512, 1024u);
  EXPECT_EQ(verify(index), 70u);
  std::vector<IndexEntry> all = entries(index);
  ASSERT_EQ(all.size(), 70u);
  for (uint32_t v = 1; v <= 70; ++v) EXPECT_EQ(all[v - 1].second, v);
  EXPECT_EQ(readFile(path("f.ntx")).size(), 5u * 1024) << "one page added at the end";
}

// Another handle's header write (the version moved) makes this handle
// read its pages again at its next lock; the lock byte sits at 1000000000
// or, with signature bit 0x10, at 0x7FFFFFFF.
TEST_F(DbfNtxTest, VersionAndLockByte) {
  openPlainTable();
  DbfNtxDesc* mine = newNtx("v.ntx", 'C', 10);
  ASSERT_EQ(insert(mine, keyOf(mine, "A"), 1), kvSuccess);
  EXPECT_EQ(entries(mine).size(), 1u);
  DbfNtxDesc* theirs = openNtx(newFile("v.ntx", false), 'C');
  uint16_t version = mine->getVersion();
  for (uint32_t r = 2; r <= 100; ++r) ASSERT_EQ(insert(theirs, keyOf(theirs, textKey(r)), r), kvSuccess);
  DbfIndexCursor* walk = cursor(mine);
  ASSERT_EQ(mine->lockForRead(walk), kvSuccess);
  EXPECT_NE(mine->getVersion(), version);
  EXPECT_EQ(entries(mine).size(), 100u);
  EXPECT_EQ(mine->getFile()->lockByteHolders, 1u);
  mine->unlockForRead(walk);
  auto lockedByOther = [&](const std::string& name, uint32_t offset) {
    unsigned char file[bosPathBytes];
    std::snprintf(kvC(file), sizeof(file), "%s", path(name).c_str());
    int handle = 0;
    EXPECT_EQ(bosFileOpen(file, bosOpenReadWrite, &handle), kvSuccess);
    int locked = 0;
    EXPECT_EQ(bosRegionTest(handle, offset, 1, &locked), kvSuccess);
    (void)bosFileClose(handle);
    return locked != 0;
  };
  ASSERT_EQ(mine->lockForWrite(walk), kvSuccess);
  EXPECT_TRUE(lockedByOther("v.ntx", 1000000000));
  mine->unlockIndexFile();
  EXPECT_FALSE(lockedByOther("v.ntx", 1000000000));
  writeFile(path("high.ntx"), ntxHeader(0x10, 1024, 0, 10, 40, 20, "NAME") + ntxPage(40, 10, {}, 0));
  DbfNtxDesc* high = openNtx(newFile("high.ntx", false), 'C');
  DbfIndexCursor* other = cursor(high);
  ASSERT_EQ(high->lockForWrite(other), kvSuccess);
  EXPECT_TRUE(lockedByOther("high.ntx", 0x7FFFFFFF));
  high->unlockIndexFile();
}

// Damaged pages: more items than a page holds, an offset whose item runs
// past the page, items overlapping, a child that leads back up, a free
// page whose link is not a page: clean failures, nothing written.
TEST_F(DbfNtxTest, DamagedPagesAreRefusedCleanly) {
  openPlainTable();
  auto key = [](uint32_t v) { return textKey(v) + std::string(4, ' '); };
  std::vector<std::tuple<uint32_t, uint32_t, std::string>> left, right;
  for (uint32_t v = 1; v <= 20; ++v) left.emplace_back(0, v, key(v));
  for (uint32_t v = 22; v <= 41; ++v) right.emplace_back(0, v, key(v));
  std::string header = ntxHeader(0, 1024, 0, 10, 40, 20, "NAME");
  std::string root = ntxPage(40, 10, {std::make_tuple(2048u, 21u, key(21))}, 3072);
  std::string good = header + root + ntxPage(40, 10, left, 0) + ntxPage(40, 10, right, 0);
  auto damaged = [&](uint32_t at, const std::string& bytes) {
    std::string copy = good;
    copy.replace(at, bytes.size(), bytes);
    return copy;
  };
  auto u16 = [](uint16_t v) { return std::string{char(v & 0xFF), char(v >> 8)}; };
  auto u32 = [](uint32_t v) { return std::string{char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char(v >> 24)}; };
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"items over the maximum", damaged(2048, u16(41))},
      {"item past the page", damaged(2048 + 2 + 2 * 5, u16(1020))},
      {"items overlapping", damaged(2048 + 2 + 2 * 5, u16(2 * 40 + 4 + 4 * 18))},
      {"child leads to the root", damaged(1024 + 2 * 40 + 4, u32(1024))},
      {"child inside the header", damaged(1024 + 2 * 40 + 4, u32(512))},
      {"mixed leaf and interior children", damaged(2048 + 2 * 40 + 4 + 18 * 3, u32(3072))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string name = std::string("bad") + std::to_string(&c - cases) + ".ntx";
    writeFile(path(name), c.bytes);
    DbfNtxDesc* index = openNtx(newFile(name, false), 'C');
    verify(index, kvFailure);
    DbfIndexCursor walk(index, reader_);
    uint32_t record = 0;
    KvStatus status = kvSuccess;
    for (int i = 0; i < 200 && status == kvSuccess; ++i) {
      status = index->nextKey(&walk, &record);
      if (!record) break;
    }
    EXPECT_EQ(status, kvFailure);
    EXPECT_EQ(readFile(path(name)), c.bytes);
  }
  // A free list whose head links to no page: the allocation fails.
  std::string withFree = ntxHeader(0, 1024, 4096, 10, 40, 20, "NAME") + root + ntxPage(40, 10, left, 0) +
                         ntxPage(40, 10, right, 0) + u32(77) + std::string(1020, '\0');
  writeFile(path("free.ntx"), withFree);
  DbfNtxDesc* index = openNtx(newFile("free.ntx", false), 'C');
  KvStatus status = kvSuccess;
  for (uint32_t v = 42; v <= 70 && status == kvSuccess; ++v) status = insert(index, key(v), v);
  EXPECT_EQ(status, kvFailure);
  EXPECT_EQ(takeLastError(), msgDbfBadNtx);
}

// Perl XBase walks .NTX files written here with the same keys and records.
TEST_F(DbfNtxTest, PerlXBaseReadsFilesWrittenHere) {
  openPlainTable();
  DbfNtxDesc* index = newNtx("perl.ntx", 'C', 12);
  for (uint32_t r = 1; r <= 900; ++r) ASSERT_EQ(insert(index, keyOf(index, textKey((r * 7919) % 300)), r), kvSuccess);
  for (uint32_t r = 1; r <= 900; r += 3) ASSERT_EQ(remove(index, keyOf(index, textKey((r * 7919) % 300)), r), kvSuccess);
  EXPECT_EQ(verify(index), 600u);
  std::vector<IndexEntry> all = entries(index);
  for (IndexEntry& e : all) e.first.erase(e.first.find_last_not_of(' ') + 1);
  std::string perl = runScript("perl", perlCharWalk, {path("perl.ntx")});
  // Equal keys may come in another record order: compare sorted lines.
  auto sorted = [](const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
      lines.push_back(text.substr(start, end - start));
    std::sort(lines.begin(), lines.end());
    return lines;
  };
  EXPECT_EQ(sorted(perl), sorted(listing(all)));
  EXPECT_EQ(perl.substr(0, 12), listing(all).substr(0, 12)) << "and the same key order";
}
