// The dBASE B-tree of .NDX files and .MDX tags: random inserts and deletes
// checked against an ordered multiset, the split rule and root splits,
// duplicates in record order, descending indexes, the unique property,
// deletes that abandon pages, and bulk builds from the record sort.
#include "tests/drivers/dbase/index/dbf_index_test_support.h"

#include <map>
#include <random>
#include <set>

namespace {

enum class Format { ndx2, ndx3, mdx };

struct TreeCase {
  const char* name;
  Format format;
  unsigned char type;  // C, N (MDX packed decimal), F (NDX double)
  uint16_t keyLength;
  bool descending;
  uint32_t distinctKeys;  // few: many duplicates
};

class DbfBtreeTest : public DbfIndexFixture {
 protected:
  DbfIndexDesc* newIndex(const TreeCase& c, const std::string& file = "x") {
    switch (c.format) {
      case Format::ndx2: return newNdx2(file + ".ndx", c.type, c.keyLength);
      case Format::ndx3: return newNdx3(file + ".ndx", c.type, c.keyLength);
      case Format::mdx:
        return newMdxTag(file + ".mdx", "TAG", c.type, c.keyLength, c.descending ? DbfIndexDesc::indexDescending : 0);
    }
    return nullptr;
  }
  // A key of value number v: text, or the number itself.
  std::string keyFor(DbfIndexDesc* index, const TreeCase& c, uint32_t v) {
    if (c.type == 'C') {
      char text[32];
      std::snprintf(text, sizeof(text), "K%05u", v);
      return keyOf(index, std::string(text));
    }
    return keyOf(index, double(int32_t(v) - int32_t(c.distinctKeys / 2)) * 1.25);
  }
};

// The order the index must deliver: keys by the index's own comparison
// (negated when descending), equal keys by record (descending likewise).
struct ExpectedOrder {
  DbfIndexDesc* index;
  bool operator()(const IndexEntry& a, const IndexEntry& b) const {
    int order = index->compareKeys(reinterpret_cast<const uint8_t*>(a.first.data()),
                                   reinterpret_cast<const uint8_t*>(b.first.data()));
    if (index->isDescending()) order = -order;
    if (order) return order < 0;
    return index->isDescending() ? a.second > b.second : a.second < b.second;
  }
};

const TreeCase treeCases[] = {
    // name, format, type, key length, descending, distinct keys
    {"ndx3 long text keys", Format::ndx3, 'C', 100, false, 300},
    {"ndx3 short text keys", Format::ndx3, 'C', 6, false, 40},
    {"ndx3 doubles", Format::ndx3, 'F', 8, false, 500},
    {"ndx2 text keys", Format::ndx2, 'C', 90, false, 200},
    {"mdx text keys", Format::mdx, 'C', 100, false, 300},
    {"mdx descending text", Format::mdx, 'C', 60, true, 150},
    {"mdx packed decimals", Format::mdx, 'N', 12, false, 400},
    {"mdx descending packed decimals", Format::mdx, 'N', 12, true, 400},
};

}  // namespace

// 10,000 random inserts and deletes, the index checked against an ordered
// multiset every 100 steps: the walk in order, the consistency check, the
// key count, the first record of sampled keys.
TEST_F(DbfBtreeTest, RandomInsertsAndDeletesFollowAMultiset) {
  openPlainTable();
  for (const TreeCase& c : treeCases) {
    SCOPED_TRACE(c.name);
    DbfIndexDesc* index = newIndex(c, std::string("r") + std::to_string(&c - treeCases));
    {
      DbfIndexCursor walk(index, reader_);
      ASSERT_EQ(index->startNewTree(&walk), kvSuccess);
      ASSERT_EQ(index->finishBuild(&walk), kvSuccess);
    }
    std::mt19937 random(12345 + uint32_t(&c - treeCases));
    std::multiset<IndexEntry, ExpectedOrder> expected{ExpectedOrder{index}};
    std::map<uint32_t, std::string> byRecord;
    uint32_t nextRecord = 1;
    uint32_t rootAtStart = index->getRoot();
    for (int step = 1; step <= 10000; ++step) {
      bool doInsert = byRecord.empty() || random() % 100 < (step < 6000 ? 65u : 40u);
      if (doInsert) {
        // Records arrive in any order, as updates move keys.
        uint32_t record = nextRecord + random() % 7;
        nextRecord = record + 1;
        if (c.format == Format::ndx2 && record > 65535) record = nextRecord = 1 + random() % 60000;
        if (byRecord.count(record)) continue;
        std::string key = keyFor(index, c, random() % c.distinctKeys);
        ASSERT_EQ(insert(index, key, record), kvSuccess) << "step " << step;
        expected.insert(IndexEntry(key, record));
        byRecord[record] = key;
      } else {
        auto it = byRecord.begin();
        std::advance(it, random() % byRecord.size());
        ASSERT_EQ(remove(index, it->second, it->first), kvSuccess) << "step " << step;
        expected.erase(expected.find(IndexEntry(it->second, it->first)));
        byRecord.erase(it);
      }
      if (step % 100 == 0) {
        std::vector<IndexEntry> want(expected.begin(), expected.end());
        ASSERT_EQ(entries(index), want) << "step " << step;
        // Perl XBase (which reads no dBASE II file) walks it the same way.
        if (step % 2500 == 0 && c.format != Format::ndx2) {
          bool numbers = c.type == 'F';
          std::string perl = runScript("perl", perlIndexWalk,
                                       {index->getFile()->getPath() ? kvC(index->getFile()->getPath()) : "",
                                        c.format == Format::mdx ? "TAG" : "", numbers ? "1" : ""});
          ASSERT_TRUE(perl == (numbers ? numberListing(want) : listing(want))) << "step " << step << ": " << perl.substr(0, 300);
        }
        ASSERT_EQ(verify(index), expected.size()) << "step " << step;
        for (int sample = 0; sample < 5 && !expected.empty(); ++sample) {
          auto it = expected.begin();
          std::advance(it, random() % expected.size());
          // The first entry of the key in index order.
          auto first = expected.lower_bound(IndexEntry(it->first, c.descending ? 0xFFFFFFFF : 0));
          ASSERT_EQ(find(index, it->first), first->second) << "step " << step;
        }
      }
    }
    EXPECT_NE(index->getRoot(), rootAtStart) << "the tree grew from its first leaf";
  }
}

// A full leaf receiving a key at its end: the key goes to the upper half,
// which keeps the old page number; the lower half is the new last page.
TEST_F(DbfBtreeTest, SplitKeepsTheUpperHalfOnTheOldPage) {
  openPlainTable();
  DbfNdx3Desc* index = newNdx3("s.ndx", 'C', 100);  // 4 keys a page
  ASSERT_EQ(index->getMaxKeys(), 4);
  {
    DbfIndexCursor walk(index, reader_);
    ASSERT_EQ(index->startNewTree(&walk), kvSuccess);
    ASSERT_EQ(index->finishBuild(&walk), kvSuccess);
  }
  uint32_t leaf = index->getRoot();
  for (uint32_t r = 1; r <= 4; ++r) ASSERT_EQ(insert(index, keyOf(index, "A" + std::to_string(r)), r), kvSuccess);
  EXPECT_EQ(index->getRoot(), leaf);
  uint32_t eof = index->getFile()->getEofPage();
  ASSERT_EQ(insert(index, keyOf(index, "A9"), 5), kvSuccess);
  // New lower half at the old end of the file, then the new root.
  EXPECT_EQ(index->getRoot(), eof + 1);
  EXPECT_EQ(index->getFile()->getEofPage(), eof + 2);
  DbfIndexCursor walk(index, reader_);
  uint32_t record = 0;
  ASSERT_EQ(index->searchKey(&walk, reinterpret_cast<const uint8_t*>(keyOf(index, "A9").data()), &record, true),
            kvSuccess);
  EXPECT_EQ(record, 5u);
  EXPECT_EQ(walk.top->pageNo, leaf) << "the upper half stays on the old page";
  EXPECT_EQ(walk.depth, 2u);
  // The header has the new root and end, as another reader sees them.
  DbfNdx3Desc* again = openNdx3(newFile("s.ndx", false));
  EXPECT_EQ(again->getRoot(), eof + 1);
  EXPECT_EQ(again->getFile()->getEofPage(), eof + 2);
  EXPECT_EQ(entries(again).size(), 5u);
}

// Three records of one key come back in record order, in a descending tag
// in the reverse order; keys of the descending tag run from high to low.
TEST_F(DbfBtreeTest, DuplicatesStandInRecordOrder) {
  openPlainTable();
  for (bool descending : {false, true}) {
    SCOPED_TRACE(descending ? "descending" : "ascending");
    DbfMdxDesc* index = newMdxTag(descending ? "d.mdx" : "a.mdx", "T", 'C', 8,
                                  descending ? DbfIndexDesc::indexDescending : 0);
    {
      DbfIndexCursor walk(index, reader_);
      ASSERT_EQ(index->startNewTree(&walk), kvSuccess);
      ASSERT_EQ(index->finishBuild(&walk), kvSuccess);
    }
    for (uint32_t r : {7u, 3u, 9u}) ASSERT_EQ(insert(index, keyOf(index, "SAME"), r), kvSuccess);
    ASSERT_EQ(insert(index, keyOf(index, "AAA"), 5), kvSuccess);
    ASSERT_EQ(insert(index, keyOf(index, "ZZZ"), 1), kvSuccess);
    std::vector<uint32_t> records;
    for (const IndexEntry& e : entries(index)) records.push_back(e.second);
    if (descending) {
      EXPECT_EQ(records, (std::vector<uint32_t>{1, 9, 7, 3, 5}));
      EXPECT_EQ(find(index, keyOf(index, "SAME")), 9u);
    } else {
      EXPECT_EQ(records, (std::vector<uint32_t>{5, 3, 7, 9, 1}));
      EXPECT_EQ(find(index, keyOf(index, "SAME")), 3u);
    }
  }
}

// dBASE UNIQUE: a second record of a key is not indexed and its insert and
// delete succeed; without the property a missing record is 1225.
TEST_F(DbfBtreeTest, UniquePropertyKeepsTheFirstRecord) {
  openPlainTable();
  DbfNdx3Desc* unique = newNdx3("u.ndx", 'C', 10, true);
  DbfNdx3Desc* plain = newNdx3("p.ndx", 'C', 10, false);
  EXPECT_TRUE(unique->isUniqueProperty());
  for (DbfIndexDesc* index : {static_cast<DbfIndexDesc*>(unique), static_cast<DbfIndexDesc*>(plain)}) {
    DbfIndexCursor walk(index, reader_);
    ASSERT_EQ(index->startNewTree(&walk), kvSuccess);
    ASSERT_EQ(index->finishBuild(&walk), kvSuccess);
  }
  ASSERT_EQ(insert(unique, keyOf(unique, "X"), 1), kvSuccess);
  ASSERT_EQ(insert(unique, keyOf(unique, "X"), 2), kvSuccess);
  EXPECT_EQ(entries(unique), (std::vector<IndexEntry>{{keyOf(unique, "X"), 1}}));
  EXPECT_EQ(remove(unique, keyOf(unique, "X"), 2), kvSuccess);
  EXPECT_EQ(entries(unique).size(), 1u);

  connection_->getErrorList().clearErrors();
  EXPECT_EQ(remove(plain, keyOf(plain, "X"), 2), kvFailure);
  EXPECT_EQ(errorsOf(connection_), (std::vector<uint16_t>{1225}));
}

// Deleting keys abandons emptied leaves (the file never shrinks) and hands
// single children up; what is left reads back in order and checks out.
TEST_F(DbfBtreeTest, DeletesAbandonEmptyPages) {
  openPlainTable();
  DbfMdxDesc* index = newMdxTag("e.mdx", "T", 'C', 100);
  {
    DbfIndexCursor walk(index, reader_);
    ASSERT_EQ(index->startNewTree(&walk), kvSuccess);
    ASSERT_EQ(index->finishBuild(&walk), kvSuccess);
  }
  for (uint32_t r = 1; r <= 200; ++r) ASSERT_EQ(insert(index, keyOf(index, "K" + std::to_string(1000 + r)), r), kvSuccess);
  uint64_t size = 0;
  ASSERT_EQ(index->getFile()->size(&size), kvSuccess);
  for (uint32_t r = 1; r <= 200; ++r)
    if (r % 10 != 0) {
      ASSERT_EQ(remove(index, keyOf(index, "K" + std::to_string(1000 + r)), r), kvSuccess);
    }
  EXPECT_EQ(verify(index), 20u);
  std::vector<IndexEntry> left = entries(index);
  ASSERT_EQ(left.size(), 20u);
  EXPECT_EQ(left.front().second, 10u);
  uint64_t after = 0;
  ASSERT_EQ(index->getFile()->size(&after), kvSuccess);
  EXPECT_EQ(after, size);
  // Deleting the rest leaves an empty tree that takes keys again.
  for (uint32_t r = 10; r <= 200; r += 10)
    ASSERT_EQ(remove(index, keyOf(index, "K" + std::to_string(1000 + r)), r), kvSuccess);
  EXPECT_TRUE(entries(index).empty());
  EXPECT_EQ(verify(index), 0u);
  ASSERT_EQ(insert(index, keyOf(index, "AGAIN"), 3), kvSuccess);
  EXPECT_EQ(entries(index).size(), 1u);
}

// A bulk build from the record sort: the table's records in key order,
// duplicates in record order, deleted records indexed too; the tree
// checks out and takes inserts after it.
TEST_F(DbfBtreeTest, BuildFromTheRecordSort) {
  std::vector<std::string> records;
  std::mt19937 random(7);
  std::vector<IndexEntry> want;
  for (uint32_t r = 1; r <= 3000; ++r) {
    char name[32];
    std::snprintf(name, sizeof(name), "N%04u", unsigned(random() % 700));
    std::string record = (r % 97 == 0 ? "*" : " ") + std::string(name);
    records.push_back(record);
  }
  openTable({{"NAME", 'C', 20, 0}, {"AMOUNT", 'N', 10, 2}}, records);
  reader_->setRecordsDelivered(DbfFileDesc::readDeleted | DbfFileDesc::readLive);
  for (const TreeCase& c : {TreeCase{"ndx3", Format::ndx3, 'C', 20, false, 0},
                            TreeCase{"mdx descending", Format::mdx, 'C', 20, true, 0},
                            TreeCase{"ndx2", Format::ndx2, 'C', 20, false, 0}}) {
    SCOPED_TRACE(c.name);
    DbfIndexDesc* index = newIndex(c, std::string("b") + c.name[0] + c.name[1] + c.name[3]);
    ASSERT_EQ(build(index, 0), kvSuccess);
    std::vector<IndexEntry> expected;
    for (uint32_t r = 1; r <= records.size(); ++r) expected.emplace_back(keyOf(index, records[r - 1].substr(1)), r);
    std::stable_sort(expected.begin(), expected.end(), ExpectedOrder{index});
    ASSERT_EQ(entries(index), expected);
    EXPECT_EQ(verify(index), 3000u);
    ASSERT_EQ(insert(index, keyOf(index, "N0350"), 3001), kvSuccess);
    EXPECT_EQ(verify(index), 3001u);
  }
}

// Numeric keys built from N fields: the packed decimals of an .MDX and the
// doubles of an .NDX both come out in numeric order, -1 before 1.
TEST_F(DbfBtreeTest, BuildNumericKeysInNumericOrder) {
  const char* amounts[] = {"      1.00", "     -1.00", "      0.00", "    -12.50", "      0.01", "   1000.00",
                           "     -0.01", "     99.99", "      2.00", "     10.00"};
  std::vector<std::string> records;
  for (const char* a : amounts) records.push_back(std::string(" ") + std::string(20, 'x') + a);
  openTable({{"NAME", 'C', 20, 0}, {"AMOUNT", 'N', 10, 2}}, records);
  DbfMdxDesc* mdx = newMdxTag("n.mdx", "AMOUNT", 'N', 12);
  DbfNdx3Desc* ndx = newNdx3("n.ndx", 'F', 8);
  const std::vector<uint32_t> order = {4, 2, 7, 3, 5, 1, 9, 10, 8, 6};
  for (DbfIndexDesc* index : {static_cast<DbfIndexDesc*>(mdx), static_cast<DbfIndexDesc*>(ndx)}) {
    ASSERT_EQ(build(index, 1), kvSuccess);
    std::vector<uint32_t> got;
    for (const IndexEntry& e : entries(index)) got.push_back(e.second);
    EXPECT_EQ(got, order);
    EXPECT_EQ(find(index, keyOf(index, -1.0)), 2u);
    EXPECT_EQ(find(index, keyOf(index, 0.0)), 3u);
    EXPECT_EQ(find(index, keyOf(index, 3.0)), 0u);
  }
}

// A unique constraint refuses a second live record of a key during a
// build (1236, 23000); a deleted one beside a live one passes.
TEST_F(DbfBtreeTest, BuildUnderAUniqueConstraint) {
  struct Case {
    std::vector<std::string> records;
    KvStatus status;
  } cases[] = {
      {{" A", " B", " A"}, kvFailure},
      {{"*A", " B", " A"}, kvSuccess},
      {{" A", "*A", "*A", " B"}, kvSuccess},
      {{"*A", " A", "*A", " A"}, kvFailure},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.records.size());
    if (statement_) drop(statement_);
    statement_ = nullptr;
    openTable({{"NAME", 'C', 20, 0}}, c.records, "", "u" + std::to_string(&c - cases) + ".dbf");
    reader_->setRecordsDelivered(DbfFileDesc::readDeleted | DbfFileDesc::readLive);
    DbfNdx3Desc* index = newNdx3("u" + std::to_string(&c - cases) + ".ndx", 'C', 20);
    index->flags |= FlatIndexDesc::indexUnique;
    connection_->getErrorList().clearErrors();
    EXPECT_EQ(build(index, 0), c.status);
    if (c.status == kvFailure) {
      EXPECT_EQ(stateOf(connection_), "23000");
    }
    // The index's objects go with the statement they read through.
    for (DbfIndexDesc* made : indexes_) delete made;
    indexes_.clear();
  }
}

// The pages a search read stay with the index: the next search through
// the same pages reads none of them again; pages marked stale (another
// process changed the index) are read again.
TEST_F(DbfBtreeTest, KeptPagesSaveReads) {
  std::vector<std::string> records;
  for (uint32_t r = 1; r <= 2000; ++r) records.push_back(" K" + std::to_string(10000 + r));
  openTable({{"NAME", 'C', 20, 0}}, records);
  DbfNdx3Desc* index = newNdx3("c.ndx", 'C', 20);
  ASSERT_EQ(build(index, 0), kvSuccess);
  uint64_t before = index->getPagesRead();
  EXPECT_EQ(find(index, keyOf(index, "K10500")), 500u);
  DbfIndexCursor walk(index, reader_);
  uint32_t record = 0;
  ASSERT_EQ(index->searchKey(&walk, reinterpret_cast<const uint8_t*>(keyOf(index, "K10501").data()), &record, true),
            kvSuccess);
  uint32_t depth = walk.depth;
  index->releasePath(&walk);
  EXPECT_EQ(record, 501u);
  EXPECT_GE(depth, 3u);
  EXPECT_EQ(index->getPagesRead() - before, depth) << "the second search read nothing";
  index->markStale();
  before = index->getPagesRead();
  EXPECT_EQ(find(index, keyOf(index, "K10501")), 501u);
  EXPECT_EQ(index->getPagesRead() - before, depth);
}

namespace {

// A composite key as the key expression NAME+CITY gives it: the two fields'
// texts one after the other.
class CompositeSource : public DbfKeySource {
 public:
  KvStatus recordValue(DbfFileDesc* reader, uint8_t* value, uint32_t* length, bool* include) override {
    *include = true;
    *length = 0;
    for (uint16_t column : {uint16_t(0), uint16_t(1)}) {
      int32_t got = 0;
      uint8_t kind = 0;
      if (reader->getFieldData(column, value + *length, &got, uint16_t(dbfKeyValueBytes - *length), &kind) !=
          kvSuccess)
        return kvFailure;
      *length += uint32_t(got - 1);
    }
    return kvSuccess;
  }
};

}  // namespace

// Composite text keys sort by their first part, then their second; under
// the international sort (IntlSort=1) letters of any case and accents
// stand in the collation's order, else in byte order.
TEST_F(DbfBtreeTest, CompositeKeysAndTheInternationalSort) {
  const std::vector<std::string> records = {" smith   oslo  ", " Smith   Bergen", " SMITH   Alta  ", " \xE9mile   Rome  ",
                                            " emile   Paris ", " zola    Nice  ", " Adams   Bonn  "};
  for (bool intl : {false, true}) {
    SCOPED_TRACE(intl ? "international" : "bytes");
    std::string table = intl ? "i.dbf" : "b.dbf";
    openTable({{"NAME", 'C', 8, 0}, {"CITY", 'C', 6, 0}}, records, intl ? "IS=1" : "IS=0", table);
    DbfNdx3Desc* index = newNdx3(intl ? "i.ndx" : "b.ndx", 'C', 14, false, "NAME+CITY");
    EXPECT_EQ((index->flags & DbfIndexDesc::indexIntlSort) != 0, intl);
    CompositeSource source;
    {
      DbfIndexCursor walk(index, reader_);
      ASSERT_EQ(index->buildIndex(&walk, &source), kvSuccess);
    }
    std::vector<uint32_t> order;
    for (const IndexEntry& e : entries(index)) order.push_back(e.second);
    if (intl) {
      EXPECT_EQ(order, (std::vector<uint32_t>{7, 5, 4, 3, 2, 1, 6}));
    } else {
      EXPECT_EQ(order, (std::vector<uint32_t>{7, 3, 2, 5, 1, 6, 4}));
    }
    EXPECT_EQ(find(index, keyOf(index, std::string("SMITH   Alta  "))), 3u);
    // Inserted keys fall into the same order.
    ASSERT_EQ(insert(index, keyOf(index, std::string("Smith   Alta  ")), 8), kvSuccess);
    EXPECT_EQ(verify(index), 8u);
  }
}
