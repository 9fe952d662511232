// FoxPro standard .IDX files and the FoxPro B-tree: the header, random
// inserts and deletes against a multiset, the shape of built trees (35
// keys a leaf at key length 10, parent keys equal to the leaves' last
// keys), splits, node removal with the free list, root collapse, the
// emptied interior root, the unique property, numeric keys, damaged
// nodes, and the writer and reader locks.
#include "drivers/dbase/dbase_message_ids.h"
#include "tests/drivers/dbase/index/dbf_index_test_support.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

std::string textKey(uint32_t v) {
  char text[32];
  std::snprintf(text, sizeof(text), "K%05u", v);
  return text;
}

// A node of a standard file: attributes, siblings, entries of key and
// big-endian value.
std::string foxNode(uint16_t attributes, uint32_t left, uint32_t right,
                    const std::vector<std::pair<std::string, uint32_t>>& entries) {
  std::string node(512, '\0');
  kvPutU16LE(&node[0], attributes);
  kvPutU16LE(&node[2], uint16_t(entries.size()));
  kvPutU32LE(&node[4], left);
  kvPutU32LE(&node[8], right);
  size_t at = 12;
  for (const auto& e : entries) {
    std::memcpy(&node[at], e.first.data(), e.first.size());
    kvPutU32BE(&node[at + e.first.size()], e.second);
    at += e.first.size() + 4;
  }
  return node;
}

std::string foxHeader(uint32_t root, uint32_t freeList, uint32_t end, uint16_t keyLength, uint8_t options) {
  std::string h(512, '\0');
  kvPutU32LE(&h[0], root);
  kvPutU32LE(&h[4], freeList);
  kvPutU32LE(&h[8], end);
  kvPutU16LE(&h[12], keyLength);
  h[14] = char(options);
  std::memcpy(&h[16], "NAME", 4);
  return h;
}

}  // namespace

class FoxIdxTest : public DbfIndexFixture {
 protected:
  std::string text(FoxIdxDesc* index, uint32_t v) { return keyOf(index, textKey(v)); }
  std::function<int(const std::string&, const std::string&)> orderOf(DbfIndexDesc* index) {
    return [index](const std::string& a, const std::string& b) {
      int o = index->compareKeys(reinterpret_cast<const uint8_t*>(a.data()), reinterpret_cast<const uint8_t*>(b.data()));
      return index->isDescending() ? -o : o;
    };
  }
  static uint32_t rootOffset(DbfIndexDesc* index) { return index->getRoot() * 512; }
  std::string node(const std::string& file, uint32_t offset) { return readFile(path(file)).substr(offset, 512); }
};

// Header fields, options and texts; headers that are refused.
TEST_F(FoxIdxTest, HeaderFieldsAndRefusals) {
  openPlainTable();
  FoxIdxDesc* index = newFoxIdx("h.idx", 'C', 10, FoxIdxDesc::foxOptionUnique | FoxIdxDesc::foxOptionFor,
                                "UPPER(NAME)", "NAME > 'B'");
  EXPECT_EQ(index->getFile()->getKind(), uint32_t(dbfIndexIdx));
  EXPECT_EQ(index->getEntrySize(), 14);
  EXPECT_EQ(index->getMaxKeys(), 35);
  EXPECT_TRUE(index->isUniqueProperty());
  EXPECT_EQ(index->getRoot(), 1u) << "node numbers count 512 bytes";
  unsigned char keyText[300];
  ASSERT_EQ(index->getKeyText(keyText, sizeof(keyText)), kvSuccess);
  EXPECT_STREQ(kvC(keyText), "UPPER(NAME)");
  uint8_t* forText = nullptr;
  ASSERT_EQ(index->getFilterCondition(&forText, nullptr), kvSuccess);
  ASSERT_TRUE(forText);
  EXPECT_STREQ(kvC(forText), "NAME > 'B'");
  std::string header = readFile(path("h.idx")).substr(0, 16);
  EXPECT_EQ(kvGetU32LE(&header[0]), 512u);
  EXPECT_EQ(kvGetU32LE(&header[4]), 0xFFFFFFFFu);
  EXPECT_EQ(kvGetU32LE(&header[8]), 1024u);
  EXPECT_EQ(uint8_t(header[14]), 0x09);

  const struct {
    const char* name;
    std::string bytes;
    unsigned char type;
  } bad[] = {
      {"compact", foxHeader(512, 0xFFFFFFFF, 1024, 10, 0x20), 'C'},
      {"key length 0", foxHeader(512, 0xFFFFFFFF, 1024, 0, 0), 'C'},
      {"key length 101", foxHeader(512, 0xFFFFFFFF, 1024, 101, 0), 'C'},
      {"numeric key of 10", foxHeader(512, 0xFFFFFFFF, 1024, 10, 0), 'N'},
      {"end not a node offset", foxHeader(512, 0xFFFFFFFF, 1000, 10, 0), 'C'},
      {"root not a node offset", foxHeader(600, 0xFFFFFFFF, 1024, 10, 0), 'C'},
      {"free list not a node offset", foxHeader(512, 7, 1024, 10, 0), 'C'},
      {"short", foxHeader(512, 0xFFFFFFFF, 1024, 10, 0).substr(0, 400), 'C'},
  };
  for (const auto& c : bad) {
    SCOPED_TRACE(c.name);
    writeFile(path("bad.idx"), c.bytes);
    openFoxIdx(newFile("bad.idx", false), c.type, kvFailure);
    EXPECT_EQ(takeLastError(), msgDbfBadIndex);
  }
}

// 20,000 random inserts and deletes against a multiset, checked every
// 1,000 steps; text keys long and short, numeric keys, many duplicates.
TEST_F(FoxIdxTest, RandomInsertsAndDeletesFollowAMultiset) {
  openPlainTable();
  const struct {
    const char* name;
    unsigned char type;
    uint16_t keyLength;
    uint32_t distinct;
  } cases[] = {{"text 10", 'C', 10, 400}, {"text 100", 'C', 100, 300}, {"few keys", 'C', 6, 12}, {"numbers", 'N', 8, 500}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FoxIdxDesc* index = newFoxIdx(std::string("r") + std::to_string(&c - cases) + ".idx", c.type, c.keyLength);
    auto keyFor = [&](uint32_t v) {
      return c.type == 'C' ? text(index, v) : keyOf(index, (double(v) - c.distinct / 2.0) * 1.5);
    };
    randomChanges(index, keyFor, c.distinct, 20000, 1000, 777 + uint32_t(&c - cases), orderOf(index), false);
    EXPECT_NE(index->getRoot(), 1u) << "the tree grew";
  }
}

// A build of ascending keys fills each leaf to 35 keys; the next key
// starts a new right sibling; the parent has one entry a leaf, whose key
// is the leaf's last key.
TEST_F(FoxIdxTest, BuildFillsLeavesAndParentKeysAreLastKeys) {
  std::vector<std::string> records;
  for (uint32_t r = 1; r <= 100; ++r) records.push_back(" " + textKey(r));
  openTable({{"NAME", 'C', 10, 0}}, records);
  FoxIdxDesc* index = newFoxIdx("b.idx", 'C', 10);
  ASSERT_EQ(build(index, 0), kvSuccess);
  EXPECT_EQ(verify(index), 100u);
  std::string file = readFile(path("b.idx"));
  std::string root = file.substr(rootOffset(index), 512);
  EXPECT_EQ(kvGetU16LE(&root[0]), 1);  // interior root
  ASSERT_EQ(kvGetU16LE(&root[2]), 3);
  const uint16_t fills[] = {35, 35, 30};
  for (uint32_t i = 0; i < 3; ++i) {
    uint32_t child = kvGetU32BE(&root[12 + i * 14 + 10]);
    std::string leaf = file.substr(child, 512);
    EXPECT_EQ(kvGetU16LE(&leaf[0]), 2);
    uint16_t n = kvGetU16LE(&leaf[2]);
    EXPECT_EQ(n, fills[i]);
    EXPECT_EQ(leaf.substr(12 + (n - 1) * 14, 10), root.substr(12 + i * 14, 10)) << "parent key " << i;
    EXPECT_EQ(kvGetU32BE(&leaf[12 + (n - 1) * 14 + 10]), 35 * i + n) << "records are big-endian";
  }
  std::vector<IndexEntry> all = entries(index);
  ASSERT_EQ(all.size(), 100u);
  for (uint32_t r = 1; r <= 100; ++r) EXPECT_EQ(all[r - 1].second, r);
}

// Inserting into a full leaf: above the middle the key goes to the new
// right node; at the middle it becomes the left node's greatest key.
TEST_F(FoxIdxTest, SplitsPlaceTheKeyByItsIndex) {
  openPlainTable();
  for (uint32_t at : {30u, 17u, 3u}) {
    SCOPED_TRACE(at);
    std::string name = "s" + std::to_string(at) + ".idx";
    FoxIdxDesc* index = newFoxIdx(name, 'C', 10);
    for (uint32_t v = 0; v < 35; ++v) ASSERT_EQ(insert(index, text(index, v * 2), v + 1), kvSuccess);
    // The key sorts at index "at" of the full leaf.
    ASSERT_EQ(insert(index, text(index, at * 2 - 1), 100), kvSuccess);
    ASSERT_EQ(verify(index), 36u);
    std::string root = node(name, rootOffset(index));
    ASSERT_EQ(kvGetU16LE(&root[2]), 2);
    std::string left = node(name, kvGetU32BE(&root[12 + 10])), right = node(name, kvGetU32BE(&root[26 + 10]));
    uint16_t leftCount = kvGetU16LE(&left[2]);
    if (at > 17) {
      EXPECT_EQ(leftCount, 18);
    } else if (at == 17) {
      EXPECT_EQ(leftCount, 18);
      EXPECT_EQ(left.substr(12 + 17 * 14, 10), text(index, at * 2 - 1));
    } else {
      EXPECT_EQ(leftCount, 18);
    }
    EXPECT_EQ(kvGetU16LE(&right[2]), 36 - leftCount);
    EXPECT_EQ(kvGetU32LE(&left[8]), kvGetU32BE(&root[26 + 10])) << "left's right sibling";
    EXPECT_EQ(kvGetU32LE(&right[4]), kvGetU32BE(&root[12 + 10])) << "right's left sibling";
  }
}

// Deletes: the last key of a leaf changes the parent's key; the only key
// of a leaf removes the leaf onto the free list, and the next new node
// reuses it; a root left with one child hands over to it.
TEST_F(FoxIdxTest, DeletesRemoveNodesAndCollapseTheRoot) {
  openPlainTable();
  FoxIdxDesc* index = newFoxIdx("d.idx", 'C', 10);
  for (uint32_t v = 0; v < 36; ++v) ASSERT_EQ(insert(index, text(index, v), v + 1), kvSuccess);
  // Ascending inserts: a full leaf of 35 and a right sibling of 1.
  std::string root = node("d.idx", rootOffset(index));
  ASSERT_EQ(kvGetU16LE(&root[2]), 2);
  uint32_t left = kvGetU32BE(&root[12 + 10]), right = kvGetU32BE(&root[26 + 10]);
  ASSERT_EQ(remove(index, text(index, 34), 35), kvSuccess);
  root = node("d.idx", rootOffset(index));
  EXPECT_EQ(root.substr(12, 10), text(index, 33)) << "the parent takes the leaf's new last key";
  // The only key of the right leaf: the leaf goes to the free list and
  // the root (two children) hands over to the left leaf.
  uint32_t oldRoot = rootOffset(index);
  ASSERT_EQ(remove(index, text(index, 35), 36), kvSuccess);
  EXPECT_EQ(rootOffset(index), left);
  EXPECT_EQ(verify(index), 34u);
  std::string header = readFile(path("d.idx")).substr(0, 16);
  EXPECT_EQ(kvGetU32LE(&header[0]), left);
  EXPECT_EQ(kvGetU32LE(&header[4]), oldRoot) << "the old root heads the free list";
  EXPECT_EQ(kvGetU32LE(node("d.idx", oldRoot).data()), right) << "and links to the freed leaf";
  EXPECT_EQ(kvGetU16LE(node("d.idx", left).data()), 3) << "a root leaf";
  uint32_t end = kvGetU32LE(&header[8]);
  // Two new nodes (a leaf and a root) come from the free list.
  ASSERT_EQ(insert(index, text(index, 40), 41), kvSuccess);
  ASSERT_EQ(insert(index, text(index, 41), 42), kvSuccess);
  header = readFile(path("d.idx")).substr(0, 16);
  EXPECT_EQ(kvGetU32LE(&header[8]), end) << "no node added at the end";
  EXPECT_EQ(kvGetU32LE(&header[4]), 0xFFFFFFFFu);
  EXPECT_EQ(verify(index), 36u);
}

// An interior root with a single child whose last key goes stays where
// the header points and becomes an empty root leaf; it is never freed.
TEST_F(FoxIdxTest, EmptiedInteriorRootBecomesAnEmptyLeaf) {
  openPlainTable();
  std::string key = std::string("ONLY") + std::string(6, ' ');
  std::string file = foxHeader(512, 0xFFFFFFFF, 1536, 10, 0) + foxNode(1, 0xFFFFFFFF, 0xFFFFFFFF, {{key, 1024}}) +
                     foxNode(2, 0xFFFFFFFF, 0xFFFFFFFF, {{key, 7}});
  writeFile(path("one.idx"), file);
  FoxIdxDesc* index = openFoxIdx(newFile("one.idx", false), 'C');
  EXPECT_EQ(verify(index), 1u);
  ASSERT_EQ(remove(index, key, 7), kvSuccess);
  std::string after = readFile(path("one.idx"));
  EXPECT_EQ(kvGetU32LE(&after[0]), 512u) << "the root stays";
  EXPECT_EQ(kvGetU16LE(&after[512]), 3) << "an empty root leaf";
  EXPECT_EQ(kvGetU16LE(&after[514]), 0);
  EXPECT_EQ(kvGetU32LE(&after[4]), 1024u) << "the child is free";
  EXPECT_EQ(verify(index), 0u);
  EXPECT_TRUE(entries(index).empty());
  ASSERT_EQ(insert(index, key, 8), kvSuccess);
  EXPECT_EQ(entries(index), std::vector<IndexEntry>{IndexEntry(key, 8)});
}

// The unique property keeps the first record of a key; deleting a record
// it never took succeeds. Without it a missing record is 1225.
TEST_F(FoxIdxTest, UniquePropertyAndMissingRecords) {
  openPlainTable();
  FoxIdxDesc* unique = newFoxIdx("u.idx", 'C', 10, FoxIdxDesc::foxOptionUnique);
  ASSERT_EQ(insert(unique, text(unique, 1), 5), kvSuccess);
  ASSERT_EQ(insert(unique, text(unique, 1), 3), kvSuccess);
  EXPECT_EQ(entries(unique), std::vector<IndexEntry>{IndexEntry(text(unique, 1), 5)});
  EXPECT_EQ(remove(unique, text(unique, 1), 3), kvSuccess);
  EXPECT_EQ(entries(unique).size(), 1u);
  FoxIdxDesc* plain = newFoxIdx("p.idx", 'C', 10);
  ASSERT_EQ(insert(plain, text(plain, 1), 5), kvSuccess);
  EXPECT_EQ(insert(plain, text(plain, 1), 5), kvFailure) << "the record is there already";
  EXPECT_EQ(remove(plain, text(plain, 1), 3), kvFailure);
  EXPECT_EQ(takeLastError(), msgDbfKeyNotFound);
  EXPECT_EQ(remove(plain, text(plain, 2), 5), kvFailure);
}

// Numbers and dates key as byte-comparable doubles: negative before
// positive, the blank date after every date; searches without the exact
// flag give the next key above, 0 above every key.
TEST_F(FoxIdxTest, NumericKeysAndSearches) {
  openPlainTable();
  FoxIdxDesc* index = newFoxIdx("n.idx", 'N', 8);
  const double values[] = {2, -1, 0, 1e100, -2.5, 1, 1e-3};
  uint32_t record = 1;
  for (double v : values) ASSERT_EQ(insert(index, keyOf(index, v), record++), kvSuccess);
  std::vector<uint32_t> order;
  for (const IndexEntry& e : entries(index)) order.push_back(e.second);
  EXPECT_EQ(order, (std::vector<uint32_t>{5, 2, 3, 7, 6, 1, 4}));
  EXPECT_EQ(find(index, keyOf(index, -1.0)), 2u);
  EXPECT_EQ(find(index, keyOf(index, 0.5)), 0u);
  DbfIndexCursor walk(index, reader_);
  uint32_t found = 0;
  std::string half = keyOf(index, 0.5);
  ASSERT_EQ(index->searchKey(&walk, reinterpret_cast<const uint8_t*>(half.data()), &found, false), kvSuccess);
  EXPECT_EQ(found, 6u);
  std::string above = keyOf(index, 1e101);
  ASSERT_EQ(index->searchKey(&walk, reinterpret_cast<const uint8_t*>(above.data()), &found, false), kvSuccess);
  EXPECT_EQ(found, 0u);
}

// Damaged nodes: counts beyond a node's room, child and sibling cycles,
// child offsets that are no node: each is 1238 on reading, nothing is
// written, no walk runs for ever.
TEST_F(FoxIdxTest, DamagedNodesAreRefusedCleanly) {
  openPlainTable();
  std::string a = std::string("AAAA") + std::string(6, ' '), b = std::string("BBBB") + std::string(6, ' ');
  std::string header = foxHeader(512, 0xFFFFFFFF, 2048, 10, 0);
  std::string rootOk = foxNode(1, 0xFFFFFFFF, 0xFFFFFFFF, {{a, 1024}, {b, 1536}});
  std::string leaf1 = foxNode(2, 0xFFFFFFFF, 1536, {{a, 1}});
  std::string leaf2 = foxNode(2, 1024, 0xFFFFFFFF, {{b, 2}});
  std::string tooMany = leaf1;
  kvPutU16LE(&tooMany[2], 36);
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"key count over the room", header + rootOk + tooMany + leaf2},
      {"leaf siblings in a cycle", header + rootOk + leaf1 + foxNode(2, 1024, 1024, {{b, 2}})},
      {"child is the root", header + foxNode(1, 0xFFFFFFFF, 0xFFFFFFFF, {{a, 512}, {b, 1536}}) + leaf1 + leaf2},
      {"child not a node offset", header + foxNode(1, 0xFFFFFFFF, 0xFFFFFFFF, {{a, 1000}, {b, 1536}}) + leaf1 + leaf2},
      {"child beyond the file", header + foxNode(1, 0xFFFFFFFF, 0xFFFFFFFF, {{a, 1024}, {b, 9728}}) + leaf1 + leaf2},
      {"interior key not the child's last", header + foxNode(1, 0xFFFFFFFF, 0xFFFFFFFF, {{b, 1024}, {b, 1536}}) + leaf1 + leaf2},
      {"right sibling chain off the end", header + rootOk + foxNode(2, 0xFFFFFFFF, 512, {{a, 1}}) + leaf2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string name = std::string("bad") + std::to_string(&c - cases) + ".idx";
    writeFile(path(name), c.bytes);
    FoxIdxDesc* index = openFoxIdx(newFile(name, false), 'C');
    verify(index, kvFailure);
    DbfIndexCursor walk(index, reader_);
    uint32_t record = 0;
    KvStatus status = kvSuccess;
    for (int i = 0; i < 100 && status == kvSuccess; ++i) {
      status = index->nextKey(&walk, &record);
      if (!record) break;
    }
    (void)index->searchKey(&walk, reinterpret_cast<const uint8_t*>(b.data()), &record, true);
    index->releasePath(&walk);
    EXPECT_EQ(readFile(path(name)), c.bytes) << "reading writes nothing";
  }
}

// Locks: the writer's byte 0x40000000 (the whole region under Locking
// FILE), a reader's slot from 0x40000001; a reader waits while the header
// says a writer waits and that writer holds its byte, and goes on when
// the flag was left behind by a writer that holds nothing.
TEST_F(FoxIdxTest, WriterByteReaderSlotsAndTheWaitingFlag) {
  openPlainTable();
  FoxIdxDesc* index = newFoxIdx("l.idx", 'C', 10);
  auto lockedByOther = [&](uint32_t offset, uint32_t length) {
    unsigned char name[bosPathBytes];
    std::snprintf(kvC(name), sizeof(name), "%s", path("l.idx").c_str());
    int handle = 0;
    EXPECT_EQ(bosFileOpen(name, bosOpenReadWrite, &handle), kvSuccess);
    int locked = 0;
    EXPECT_EQ(bosRegionTest(handle, offset, length, &locked), kvSuccess);
    (void)bosFileClose(handle);
    return locked != 0;
  };
  DbfIndexCursor* walk = cursor(index);
  ASSERT_EQ(index->lockForWrite(walk), kvSuccess);
  EXPECT_TRUE(lockedByOther(0x40000000, 1));
  EXPECT_FALSE(lockedByOther(0x40000001, 1));
  index->unlockIndexFile();
  EXPECT_FALSE(lockedByOther(0x40000000, 1));
  ASSERT_EQ(index->lockForRead(walk), kvSuccess);
  EXPECT_EQ(walk->readSlot, 0x40000001u);
  DbfIndexCursor* second = cursor(index);
  ASSERT_EQ(index->lockForRead(second), kvSuccess);
  EXPECT_EQ(second->readSlot, 0x40000002u);
  // A writer of this handle beside its own readers: the split takes every
  // other slot without waiting for its own.
  ASSERT_EQ(index->lockForWrite(walk), kvSuccess);
  for (uint32_t v = 0; v < 40; ++v) {
    setRecord(v + 1);
    std::string key = text(index, v);
    ASSERT_EQ(index->insertKey(walk, reinterpret_cast<const uint8_t*>(key.data())), kvSuccess);
  }
  EXPECT_TRUE(lockedByOther(0x40000003, 100));
  index->unlockIndexFile();
  EXPECT_FALSE(lockedByOther(0x40000003, 100));
  index->unlockForRead(walk);
  index->unlockForRead(second);
  EXPECT_FALSE(lockedByOther(0x40000001, 2));

  // The flag left behind: no one holds the writer byte.
  std::string bytes = readFile(path("l.idx"));
  bytes[14] = char(bytes[14] | 0x10);
  writeFile(path("l.idx"), bytes);
  auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(index->lockForRead(walk), kvSuccess);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
  index->unlockForRead(walk);

  // A live writer (another handle holds the byte): the reader waits until
  // it lets go.
  unsigned char name[bosPathBytes];
  std::snprintf(kvC(name), sizeof(name), "%s", path("l.idx").c_str());
  int writer = 0;
  ASSERT_EQ(bosFileOpen(name, bosOpenReadWrite, &writer), kvSuccess);
  ASSERT_EQ(bosRegionLock(writer, 0, 0x40000000, 1), kvSuccess);
  std::atomic<int> done{0};
  std::thread reader([&] {
    KvErrorKeeper::setErrorList(&connection_->getErrorList());
    DbfIndexCursor own(index, reader_);
    done = index->lockForRead(&own) == kvSuccess ? 1 : 2;
    index->unlockForRead(&own);
    KvErrorKeeper::giveUpErrorList();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(done, 0) << "the reader waits for the writer";
  bytes = readFile(path("l.idx"));
  bytes[14] = char(bytes[14] & ~0x10);
  writeFile(path("l.idx"), bytes);
  for (int i = 0; i < 200 && done == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  reader.join();
  EXPECT_EQ(done, 1);
  (void)bosRegionLock(writer, 1, 0x40000000, 1);
  (void)bosFileClose(writer);
}

// Perl XBase walks .IDX files written here (built, then changed) with the
// same keys and records as the walk here.
TEST_F(FoxIdxTest, PerlXBaseReadsFilesWrittenHere) {
  openPlainTable();
  FoxIdxDesc* index = newFoxIdx("perl.idx", 'C', 12);
  for (uint32_t r = 1; r <= 600; ++r) ASSERT_EQ(insert(index, text(index, (r * 7919) % 250), r), kvSuccess);
  for (uint32_t r = 1; r <= 600; r += 3) ASSERT_EQ(remove(index, text(index, (r * 7919) % 250), r), kvSuccess);
  std::vector<IndexEntry> all = entries(index);
  ASSERT_EQ(all.size(), 400u);
  EXPECT_EQ(runScript("perl", perlIndexWalk, {path("perl.idx"), ""}), listing(all));
}
