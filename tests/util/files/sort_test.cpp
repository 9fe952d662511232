// Record sort: every key kind against std::stable_sort, in memory and after
// spilling to runs; reading with comparison, key search, re-sorting and range
// re-sorting; merge passes when runs are many; memory limits, bad arguments,
// work files; the caller's-buffer sort and KvSortedArray::resort through it.
#include "util/files/sort.h"

#include "tests/util/test_support.h"
#include "util/containers/kv_array.h"
#include "util/containers/str_functions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <vector>

namespace {

using Record = std::string;
using Records = std::vector<Record>;
using Keys = std::vector<KvSortKey>;

// The order the sorter must give, written from the key rules directly.
int referenceCompare(const Keys& keys, size_t fromKey, const Record& a, const Record& b) {
  for (size_t k = fromKey; k < keys.size(); ++k) {
    const KvSortKey& key = keys[k];
    int result;
    bool zeroLed = false;
    if (key.flags & sortKeyObject) {
      const KvObject* x;
      const KvObject* y;
      std::memcpy(&x, a.data(), sizeof(x));
      std::memcpy(&y, b.data(), sizeof(y));
      result = x->compare(y);
    } else {
      const unsigned char* p = kvU(a.data()) + key.offset;
      const unsigned char* q = kvU(b.data()) + key.offset;
      result = (key.flags & sortKeyIntl) ? strCompareIntl(p, key.length, q, key.length)
                                         : std::memcmp(p, q, key.length);
      zeroLed = (key.flags & sortKeyZeroFirst) && (p[0] == 0 || q[0] == 0);
    }
    if (result == 0) continue;
    result = result < 0 ? -1 : 1;
    return (key.flags & sortKeyDescending) && !zeroLed ? -result : result;
  }
  return 0;
}

Records stableSorted(Records records, const Keys& keys, size_t fromKey = 0) {
  std::stable_sort(records.begin(), records.end(), [&](const Record& a, const Record& b) {
    return referenceCompare(keys, fromKey, a, b) < 0;
  });
  return records;
}

// The key bytes of each record, for orders whose ties may fall either way.
std::vector<std::string> keyImages(const Records& records, const Keys& keys) {
  std::vector<std::string> images;
  for (const Record& r : records) {
    std::string image;
    for (const KvSortKey& key : keys) image += r.substr(key.offset, key.length);
    images.push_back(image);
  }
  return images;
}

// Records of `length` bytes whose bytes come from alphabet, the last four
// holding the record's number (big-endian), so that ties show their order.
Records randomRecords(uint32_t seed, size_t count, uint16_t length, const std::string& alphabet) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
  Records records(count, Record(length, '\0'));
  for (size_t i = 0; i < count; ++i) {
    for (uint16_t b = 0; b < length; ++b) records[i][b] = alphabet[pick(random)];
    for (int b = 0; b < 4; ++b) records[i][length - 1 - b] = char((i >> (8 * b)) & 0xFF);
  }
  return records;
}

// Records of 8 bytes: a 4-byte big-endian value (the key) and the number.
Records valueRecords(const std::vector<uint32_t>& values) {
  Records records;
  for (size_t i = 0; i < values.size(); ++i) {
    Record r(8, '\0');
    for (int b = 0; b < 4; ++b) {
      r[b] = char((values[i] >> (24 - 8 * b)) & 0xFF);
      r[4 + b] = char((i >> (24 - 8 * b)) & 0xFF);
    }
    records.push_back(r);
  }
  return records;
}

// Work files go to a scratch directory that serves as $TMPDIR; memory
// limits a test sets come back afterwards.
class SortTest : public ErrorCapturingTest {
 protected:
  void SetUp() override {
    ErrorCapturingTest::SetUp();
    savedLimits_ = ramGetLimits();
    ASSERT_TRUE(scratch_.make("kvsorttest-"));
    dir_ = scratch_.name();
    environment_.set("TMPDIR", dir_);
  }

  void TearDown() override {
    ramSetLimits(savedLimits_);
    environment_.restore();
    scratch_.remove();
    ErrorCapturingTest::TearDown();
  }

  // Work files the sort holds open in the temporary directory, where none
  // has a name (they are unlinked when made).
  size_t workFiles() const {
    EXPECT_TRUE(listing(dir_).empty());
    return openFilesIn(dir_).size();
  }

  static void addKeys(KvSort& sort, const Keys& keys) {
    for (const KvSortKey& key : keys) ASSERT_EQ(sort.addKey(key.flags, key.offset, key.length), kvSuccess);
  }
  static void feed(KvSort& sort, const Records& records) {
    for (const Record& r : records) ASSERT_EQ(sort.addRecord(r.data()), kvSuccess);
  }
  static Record recordOf(const void* p, uint16_t length) {
    return p ? Record(static_cast<const char*>(p), length) : Record();
  }
  // The rest of the main reading.
  static Records readRest(KvSort& sort) {
    Records out;
    for (;;) {
      void* p = nullptr;
      EXPECT_EQ(sort.getSorted(&p), kvSuccess);
      if (!p) break;
      out.push_back(recordOf(p, sort.getRecordLength()));
    }
    return out;
  }
  static Records readAll(KvSort& sort) {
    void* p = nullptr;
    EXPECT_EQ(sort.getFirstRecord(&p), kvSuccess);
    Records out;
    if (!p) return out;
    out.push_back(recordOf(p, sort.getRecordLength()));
    Records rest = readRest(sort);
    out.insert(out.end(), rest.begin(), rest.end());
    return out;
  }

  RamLimits savedLimits_;
  ScratchDirectory scratch_;
  EnvironmentGuard environment_;
  std::string dir_;
};

// A record length of 24 gives 2730 records a block: with two blocks a run
// holds 5460 records.
constexpr uint16_t kLength = 24;
constexpr size_t kInMemory = 3000;
constexpr size_t kSpilled = 30000;

struct KeyCase {
  const char* name;
  Keys keys;
  std::string alphabet;
  uint16_t startKey;
};

std::vector<KeyCase> keyCases() {
  const std::string letters("abc", 3);
  const std::string withZero("ab\0c", 4);
  const std::string text("aAbB\xE9\xC9\xE8 eE\0", 11);
  return {
      {"ascending", {{0, 0, 6}}, letters, 0},
      {"descending", {{sortKeyDescending, 2, 3}}, letters, 0},
      {"descending, zero first", {{sortKeyDescending | sortKeyZeroFirst, 0, 3}}, withZero, 0},
      {"zero first alone is ascending", {{sortKeyZeroFirst, 0, 3}}, withZero, 0},
      {"international", {{sortKeyIntl, 0, 8}}, text, 0},
      {"international, descending, zero first",
       {{sortKeyIntl | sortKeyDescending | sortKeyZeroFirst, 1, 6}}, text, 0},
      {"longer than the prefix", {{0, 0, 12}}, std::string("ab"), 0},
      {"one byte at an odd offset, descending", {{sortKeyDescending, 5, 1}}, letters, 0},
      {"several keys of every kind",
       {{0, 0, 2}, {sortKeyDescending, 2, 2}, {sortKeyIntl, 4, 4}, {sortKeyDescending | sortKeyZeroFirst, 8, 3}},
       text, 0},
      {"start key skips the first key", {{0, 0, 2}, {sortKeyDescending, 2, 2}}, letters, 1},
  };
}

TEST_F(SortTest, EveryKeyKindMatchesStableSortInMemoryAndAcrossRuns) {
  uint32_t seed = 1;
  for (const KeyCase& c : keyCases()) {
    for (bool spill : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (spill ? ", spilled" : ", in memory"));
      Records records = randomRecords(seed++, spill ? kSpilled : kInMemory, kLength, c.alphabet);
      KvSort sort(kLength);
      if (spill) sort.setBlockLimit(2);
      addKeys(sort, c.keys);
      sort.setStartKey(c.startKey);
      feed(sort, records);
      if (spill) EXPECT_GE(sort.getRunCount(), 5u);
      else EXPECT_EQ(sort.getRunCount(), 0u);
      Records expected = stableSorted(records, c.keys, c.startKey);
      EXPECT_TRUE(readRest(sort) == expected);
      // A second reading gives the same records again.
      EXPECT_TRUE(readAll(sort) == expected);
    }
  }
  EXPECT_TRUE(errors().empty());
}

class Item : public KvObject {
 public:
  explicit Item(int16_t key) : key_(key) {}
  int16_t compare(const KvObject* other) const override {
    int16_t theirs = static_cast<const Item*>(other)->key_;
    return static_cast<int16_t>(key_ < theirs ? -1 : key_ > theirs ? 1 : 0);
  }

 private:
  int16_t key_;
};

TEST_F(SortTest, ObjectKeysFollowTheObjectsCompare) {
  std::mt19937 random(7);
  std::deque<Item> items;
  Records records;
  for (uint32_t i = 0; i < 40000; ++i) {
    items.emplace_back(static_cast<int16_t>(random() % 50 - 25));
    const Item* item = &items.back();
    Record r(16, '\0');
    std::memcpy(&r[0], &item, sizeof(item));
    std::memcpy(&r[8], &i, sizeof(i));
    records.push_back(r);
  }
  for (uint16_t flags : {uint16_t{sortKeyObject}, uint16_t{sortKeyObject | sortKeyDescending}}) {
    for (bool spill : {false, true}) {
      SCOPED_TRACE(testing::Message() << "flags " << flags << (spill ? ", spilled" : ", in memory"));
      KvSort sort(16);
      if (spill) sort.setBlockLimit(2);
      ASSERT_EQ(sort.addKey(flags, 0, 0), kvSuccess);
      feed(sort, records);
      EXPECT_EQ(sort.getRunCount() > 1, spill);
      EXPECT_TRUE(readRest(sort) == stableSorted(records, {{flags, 0, 0}}));
    }
  }
  EXPECT_TRUE(errors().empty());
}

// Inputs that defeat naive pivots and partitions. Each comes back in stable
// order and no stack overflow (2709) or other message appears.
TEST_F(SortTest, AdversarialInputsSortCorrectly) {
  const uint32_t n = 200000;
  struct Pattern {
    const char* name;
    uint32_t (*value)(uint32_t i, uint32_t n);
  } patterns[] = {
      {"sorted", [](uint32_t i, uint32_t) { return i; }},
      {"reverse", [](uint32_t i, uint32_t n) { return n - i; }},
      {"all equal", [](uint32_t, uint32_t) { return 7u; }},
      {"organ pipe", [](uint32_t i, uint32_t n) { return i < n / 2 ? i : n - i; }},
      {"sawtooth", [](uint32_t i, uint32_t) { return i % 1000; }},
      {"two values", [](uint32_t i, uint32_t) { return (i * 7919u) % 2; }},
      {"alternating ends", [](uint32_t i, uint32_t n) { return i % 2 ? i : n - i; }},
      {"sorted with the last out of place", [](uint32_t i, uint32_t n) { return i + 1 == n ? 0 : i + 1; }},
  };
  Keys keys = {{0, 0, 4}};
  for (const Pattern& p : patterns) {
    SCOPED_TRACE(p.name);
    std::vector<uint32_t> values(n);
    for (uint32_t i = 0; i < n; ++i) values[i] = p.value(i, n);
    Records records = valueRecords(values);
    for (uint16_t flags : {uint16_t{0}, uint16_t{sortKeyDescending}}) {
      KvSort sort(8);
      ASSERT_EQ(sort.addKey(flags, 0, 4), kvSuccess);
      feed(sort, records);
      ASSERT_EQ(sort.getRunCount(), 0u);
      EXPECT_TRUE(readRest(sort) == stableSorted(records, {{flags, 0, 4}}));
    }
  }
  EXPECT_TRUE(errors().empty());
}

TEST_F(SortTest, EmptySorterAndSingleRecord) {
  KvSort empty(10);
  ASSERT_EQ(empty.addKey(0, 0, 4), kvSuccess);
  void* p = &p;
  EXPECT_EQ(empty.getSorted(&p), kvSuccess);
  EXPECT_EQ(p, nullptr);
  p = &p;
  EXPECT_EQ(empty.getFirstRecord(&p), kvSuccess);
  EXPECT_EQ(p, nullptr);

  KvSort one(10);
  ASSERT_EQ(one.addKey(sortKeyDescending, 2, 4), kvSuccess);
  Record r("0123456789");
  feed(one, {r});
  EXPECT_TRUE(readRest(one) == Records{r});
  EXPECT_TRUE(readAll(one) == Records{r});
  EXPECT_TRUE(errors().empty());
}

TEST_F(SortTest, SixtyFifthKeyIsRefused) {
  KvSort sort(64);
  for (uint16_t k = 0; k < 64; ++k) ASSERT_EQ(sort.addKey(0, k, 1), kvSuccess) << k;
  EXPECT_EQ(sort.addKey(0, 0, 1), kvFailure);
  EXPECT_EQ(sort.getKeyCount(), 64);
  ASSERT_EQ(errors(), std::vector<uint16_t>{2710});
  EXPECT_STREQ(kvC(list_->getLastError()->getErrorText()), "Too many sort keys.");
}

TEST_F(SortTest, BadArgumentsAreRefusedWithInvalidParameter) {
  void* slot;
  KvSort noLength;
  EXPECT_EQ(noLength.nextSlot(&slot), kvFailure);
  EXPECT_EQ(slot, nullptr);

  KvSort sort(8);
  EXPECT_EQ(sort.addKey(0, 6, 4), kvFailure);     // beyond the record
  EXPECT_EQ(sort.addKey(0x10, 0, 4), kvFailure);  // no such flag
  EXPECT_EQ(sort.getFirstRecordWithKey(nullptr, &slot), kvFailure);
  ASSERT_EQ(sort.addKey(0, 0, 4), kvSuccess);
  feed(sort, {"abcdefgh"});
  EXPECT_EQ(sort.setRecordLength(4), kvFailure);  // records already added
  ASSERT_EQ(sort.getSorted(&slot), kvSuccess);
  EXPECT_EQ(sort.addRecord("ijklmnop"), kvFailure);  // already being read

  // Keys given before the length are checked when the sort starts.
  KvSort late;
  ASSERT_EQ(late.addKey(0, 0, 12), kvSuccess);
  ASSERT_EQ(late.setRecordLength(8), kvSuccess);
  ASSERT_EQ(late.addRecord("abcdefgh"), kvSuccess);
  EXPECT_EQ(late.getSorted(&slot), kvFailure);

  // An object key needs a whole pointer in the record.
  KvSort small(4);
  ASSERT_EQ(small.addKey(sortKeyObject, 0, 0), kvSuccess);
  EXPECT_EQ(small.setBuf(0, nullptr), kvSuccess);
  EXPECT_EQ(small.sortBuf(), kvFailure);
  EXPECT_EQ(small.setBuf(3, nullptr), kvFailure);

  EXPECT_EQ(errors(), std::vector<uint16_t>(9, 1517));
}

TEST_F(SortTest, SortedWithCompareCountsLeadingEqualKeys) {
  Keys keys = {{0, 0, 1}, {sortKeyDescending, 1, 1}, {sortKeyIntl, 2, 2}};
  for (bool spill : {false, true}) {
    SCOPED_TRACE(spill ? "spilled" : "in memory");
    Records records = randomRecords(11, spill ? kSpilled : kInMemory, kLength, "abc");
    KvSort sort(kLength);
    if (spill) sort.setBlockLimit(2);
    addKeys(sort, keys);
    feed(sort, records);
    Records expected = stableSorted(records, keys);
    for (size_t i = 0; i <= expected.size(); ++i) {
      void* p;
      uint16_t equal = 99;
      ASSERT_EQ(sort.getSortedWithCompare(&p, &equal), kvSuccess);
      if (i == expected.size()) {
        EXPECT_EQ(p, nullptr);
        EXPECT_EQ(equal, 0);
        break;
      }
      ASSERT_EQ(recordOf(p, kLength), expected[i]) << i;
      uint16_t want = 0;
      if (i > 0) {
        while (want < keys.size() && referenceCompare({keys[want]}, 0, expected[i], expected[i - 1]) == 0) ++want;
      }
      ASSERT_EQ(equal, want) << i;
    }
  }
  EXPECT_TRUE(errors().empty());
}

TEST_F(SortTest, FirstRecordWithKeyFindsTheFirstEqualOrStopsBeforeTheNextGreater) {
  Keys keys = {{0, 0, 2}, {sortKeyDescending, 2, 1}};
  for (bool spill : {false, true}) {
    SCOPED_TRACE(spill ? "spilled" : "in memory");
    // Keys from "ac", "ae" and "c": "b.." and "d.." are missing.
    Records records = randomRecords(5, spill ? kSpilled : kInMemory, kLength, "ace");
    KvSort sort(kLength);
    if (spill) sort.setBlockLimit(2);
    addKeys(sort, keys);
    feed(sort, records);
    Records expected = stableSorted(records, keys);
    struct Probe {
      const char* key;
    } probes[] = {{"aaa"}, {"aca"}, {"ace"}, {"bxx"}, {"cec"}, {"eea"}, {"eee"}, {"zzz"}, {"\0\0\0"}};
    for (const Probe& probe : probes) {
      SCOPED_TRACE(probe.key);
      Record key(kLength, 'x');
      std::memcpy(&key[0], probe.key, 3);
      size_t at = std::lower_bound(expected.begin(), expected.end(), key,
                                   [&](const Record& a, const Record& b) {
                                     return referenceCompare(keys, 0, a, b) < 0;
                                   }) -
                  expected.begin();
      bool present = at < expected.size() && referenceCompare(keys, 0, expected[at], key) == 0;
      void* p = &p;
      ASSERT_EQ(sort.getFirstRecordWithKey(key.data(), &p), kvSuccess);
      if (present) {
        ASSERT_EQ(recordOf(p, kLength), expected[at]);
        ++at;
      } else {
        EXPECT_EQ(p, nullptr);
      }
      // The reading goes on from there in order.
      for (size_t i = at; i < at + 3 && i <= expected.size(); ++i) {
        ASSERT_EQ(sort.getNextRecord(&p), kvSuccess);
        if (i == expected.size()) {
          EXPECT_EQ(p, nullptr);
        } else {
          ASSERT_EQ(recordOf(p, kLength), expected[i]) << i;
        }
      }
    }
    // After a search, the whole rest follows in order.
    Record key(kLength, 'x');
    std::memcpy(&key[0], "cea", 3);
    void* p;
    ASSERT_EQ(sort.getFirstRecordWithKey(key.data(), &p), kvSuccess);
    ASSERT_NE(p, nullptr);
    Record found = recordOf(p, kLength);  // p lasts only until the next call
    Records rest = readRest(sort);
    rest.insert(rest.begin(), found);
    EXPECT_TRUE(rest == Records(expected.end() - rest.size(), expected.end()));
  }
  EXPECT_TRUE(errors().empty());
}

// The grouping passes of the engine: the last key is replaced and the
// records re-sorted from the start key, each group of equal first keys on
// its own.
TEST_F(SortTest, ReSortOrdersEachGroupByTheNewKeys) {
  Keys first = {{0, 0, 1}, {0, 1, 2}};
  Keys second = {{0, 0, 1}, {sortKeyDescending, 3, 2}};
  for (bool spill : {false, true}) {
    SCOPED_TRACE(spill ? "spilled" : "in memory");
    Records records = randomRecords(21, spill ? kSpilled : kInMemory, kLength, "abcd");
    KvSort sort(kLength);
    if (spill) sort.setBlockLimit(2);
    addKeys(sort, first);
    feed(sort, records);
    Records sorted = stableSorted(records, first);
    ASSERT_TRUE(readRest(sort) == sorted);

    sort.removeLastKey();
    ASSERT_EQ(sort.addKey(sortKeyDescending, 3, 2), kvSuccess);
    sort.setStartKey(1);
    ASSERT_EQ(sort.reSort(), kvSuccess);
    sort.setStartKey(0);
    Records expected = stableSorted(sorted, second);
    Records got = readRest(sort);
    if (spill) {
      // Ties between runs follow the runs, not the earlier order.
      EXPECT_TRUE(keyImages(got, second) == keyImages(expected, second));
      std::vector<Record> a = got, b = expected;
      std::sort(a.begin(), a.end());
      std::sort(b.begin(), b.end());
      EXPECT_TRUE(a == b);
    } else {
      EXPECT_TRUE(got == expected);
    }

    // With start key 0 everything is sorted by the keys again.
    sort.removeLastKey();
    ASSERT_EQ(sort.addKey(0, 5, 3), kvSuccess);
    ASSERT_EQ(sort.reSort(), kvSuccess);
    EXPECT_TRUE(keyImages(readRest(sort), {{0, 0, 1}, {0, 5, 3}}) ==
                keyImages(stableSorted(records, {{0, 0, 1}, {0, 5, 3}}), {{0, 0, 1}, {0, 5, 3}}));
  }
  EXPECT_TRUE(errors().empty());
}

// The re-sorted range, read again.
Records readRange(KvSort& sort) {
  Records out;
  void* p = nullptr;
  EXPECT_EQ(sort.getFirstRecordInRange(&p), kvSuccess);
  while (p) {
    out.push_back(Record(static_cast<char*>(p), sort.getRecordLength()));
    EXPECT_EQ(sort.getNextRecordInRange(&p), kvSuccess);
  }
  return out;
}

// Reads group by group (groups of equal first byte), marking each group as
// a range, re-sorts it by the second key descending and reads it again; the
// main reading goes on with the next group.
void checkRangeResort(KvSort& sort, const Records& records, bool exactTies) {
  Keys keys = {{0, 0, 1}, {0, 1, 3}};
  Keys rangeKeys = {{0, 0, 1}, {sortKeyDescending, 1, 3}};
  Records sorted = stableSorted(records, keys);
  void* p;
  ASSERT_EQ(sort.getFirstRecord(&p), kvSuccess);
  size_t groupStart = 0;
  sort.startResortRange();
  for (size_t i = 1; i <= sorted.size(); ++i) {
    ASSERT_EQ(sort.getNextRecord(&p), kvSuccess);
    if (i < sorted.size()) {
      ASSERT_EQ(Record(static_cast<char*>(p), sorted[i].size()), sorted[i]) << i;
      if (sorted[i][0] == sorted[groupStart][0]) continue;
    } else {
      ASSERT_EQ(p, nullptr);
    }
    sort.endResortRange();
    sort.removeLastKey();
    ASSERT_EQ(sort.addKey(sortKeyDescending, 1, 3), kvSuccess);
    ASSERT_EQ(sort.resortRange(1, 0), kvSuccess);
    Records group(sorted.begin() + groupStart, sorted.begin() + i);
    Records expected = stableSorted(group, rangeKeys);
    Records again = readRange(sort);
    if (exactTies) {
      EXPECT_TRUE(again == expected) << "group at " << groupStart;
    } else {
      EXPECT_TRUE(keyImages(again, rangeKeys) == keyImages(expected, rangeKeys)) << "group at " << groupStart;
    }
    sort.removeLastKey();
    ASSERT_EQ(sort.addKey(0, 1, 3), kvSuccess);
    groupStart = i;
    sort.startResortRange();
  }
}

TEST_F(SortTest, RangeResortReordersOneGroupAtATime) {
  for (bool spill : {false, true}) {
    SCOPED_TRACE(spill ? "spilled" : "in memory");
    Records records = randomRecords(31, spill ? kSpilled : kInMemory, kLength, "abcd");
    KvSort sort(kLength);
    if (spill) sort.setBlockLimit(2);
    addKeys(sort, {{0, 0, 1}, {0, 1, 3}});
    feed(sort, records);
    checkRangeResort(sort, records, !spill);
  }
  EXPECT_TRUE(errors().empty());
}

// A whole-range re-sort orders the range by the keys from the start key
// alone, across the groups of the earlier keys.
TEST_F(SortTest, WholeRangeResortIgnoresTheEarlierKeys) {
  Keys keys = {{0, 0, 1}, {0, 1, 3}};
  for (bool spill : {false, true}) {
    SCOPED_TRACE(spill ? "spilled" : "in memory");
    Records records = randomRecords(41, spill ? kSpilled : kInMemory, kLength, "abcd");
    KvSort sort(kLength);
    if (spill) sort.setBlockLimit(2);
    addKeys(sort, keys);
    feed(sort, records);
    Records sorted = stableSorted(records, keys);
    // The range: from the 100th record delivered to the one before the
    // (size - 100)th.
    size_t from = 99, to = sorted.size() - 101;
    void* p;
    for (size_t i = 0; i <= from; ++i) ASSERT_EQ(sort.getNextRecord(&p), kvSuccess);
    sort.startResortRange();
    for (size_t i = from + 1; i <= to + 1; ++i) ASSERT_EQ(sort.getNextRecord(&p), kvSuccess);
    sort.endResortRange();
    ASSERT_EQ(sort.resortRange(1, 1), kvSuccess);
    Records range(sorted.begin() + from, sorted.begin() + to + 1);
    Records expected = stableSorted(range, keys, 1);
    Records again = readRange(sort);
    EXPECT_TRUE(keyImages(again, {keys[1]}) == keyImages(expected, {keys[1]}));
    if (!spill) {
      EXPECT_TRUE(again == expected);
    }
    // The main reading continues after the range.
    Records rest = readRest(sort);
    EXPECT_TRUE(rest == Records(sorted.begin() + to + 2, sorted.end()));
  }
  EXPECT_TRUE(errors().empty());
}

// Blocks beyond the second are taken only while the allocator has room; the
// sorter then spills with the blocks it has.
TEST_F(SortTest, SpillsWhenTheAllocatorBudgetRunsOut) {
  RamLimits limits = ramGetLimits();
  // Room for about eight blocks beyond the allocator's 400000-byte floor.
  limits.systemBudget = ramGetStats().systemBytes + 400000 + 8 * 70000;
  ramSetLimits(limits);
  Records records = randomRecords(51, 60000, 100, "abcdef");
  Keys keys = {{sortKeyDescending, 0, 3}, {0, 3, 10}};
  KvSort sort(100);
  addKeys(sort, keys);
  feed(sort, records);
  // 655 records a block: eight blocks make runs of 5240 records.
  EXPECT_GE(sort.getRunCount(), 8u);
  EXPECT_LE(sort.getRunCount(), 30u);
  EXPECT_TRUE(readRest(sort) == stableSorted(records, keys));
  EXPECT_TRUE(errors().empty());
}

TEST_F(SortTest, NoSecondBlockIsAMemoryFailure) {
  // Small segments, so that the sorter's two one-record buffers cost about
  // 1 KB whatever the segments already hold; room for one block and its index.
  ramSetLimits({480, ramGetStats().systemBytes + 100000, 0});
  KvSort sort(100);
  ASSERT_EQ(sort.addKey(0, 0, 4), kvSuccess);
  Record r(100, 'a');
  KvStatus status = kvSuccess;
  size_t added = 0;
  for (; added < 2000 && status == kvSuccess; ++added) status = sort.addRecord(r.data());
  EXPECT_EQ(status, kvFailure);
  EXPECT_EQ(added, 656u);  // the first record of the second block
  EXPECT_TRUE(list_->isOutOfMemory());
}

// With two blocks and 1000-byte records a merge can take 26 runs; 77 runs
// are first merged into longer ones. Searching, re-sorting and range
// re-sorting then work on runs larger than memory.
TEST_F(SortTest, ManyRunsAreMergedInPasses) {
  Keys keys = {{0, 0, 1}, {0, 1, 3}};
  Records records = randomRecords(61, 10000, 1000, "abcd");
  KvSort sort(1000);
  sort.setBlockLimit(2);
  addKeys(sort, keys);
  feed(sort, records);
  EXPECT_EQ(sort.getRunCount(), 76u);  // the last records are still in memory
  Records sorted = stableSorted(records, keys);
  EXPECT_TRUE(readRest(sort) == sorted);
  EXPECT_LE(sort.getRunCount(), 26u);
  EXPECT_GE(sort.getRunCount(), 2u);

  Record key(1000, 'x');
  std::memcpy(&key[0], "cab", 3);
  size_t at = std::lower_bound(sorted.begin(), sorted.end(), key,
                               [&](const Record& a, const Record& b) { return referenceCompare(keys, 0, a, b) < 0; }) -
              sorted.begin();
  void* p;
  ASSERT_EQ(sort.getFirstRecordWithKey(key.data(), &p), kvSuccess);
  EXPECT_EQ(p, nullptr);
  ASSERT_EQ(sort.getNextRecord(&p), kvSuccess);
  EXPECT_EQ(recordOf(p, 1000), sorted[at]);

  checkRangeResort(sort, records, false);

  sort.removeLastKey();
  ASSERT_EQ(sort.addKey(sortKeyDescending, 1, 3), kvSuccess);
  sort.setStartKey(1);
  ASSERT_EQ(sort.reSort(), kvSuccess);
  Keys second = {{0, 0, 1}, {sortKeyDescending, 1, 3}};
  EXPECT_TRUE(keyImages(readRest(sort), second) == keyImages(stableSorted(records, second), second));
  EXPECT_TRUE(errors().empty());
}

// Records larger than half a block: one record a block, two blocks, so a
// merge takes two runs and its output is written straight from the input
// buffers.
TEST_F(SortTest, HugeRecordsMergeTwoRunsAtATime) {
  Keys keys = {{sortKeyDescending, 0, 2}};
  Records records = randomRecords(71, 41, 40000, "abc");
  KvSort sort(40000);
  sort.setBlockLimit(2);
  addKeys(sort, keys);
  feed(sort, records);
  Records sorted = stableSorted(records, keys);
  EXPECT_TRUE(readRest(sort) == sorted);
  EXPECT_LE(sort.getRunCount(), 2u);
  sort.removeLastKey();
  ASSERT_EQ(sort.addKey(0, 0, 2), kvSuccess);
  ASSERT_EQ(sort.reSort(), kvSuccess);
  EXPECT_TRUE(keyImages(readRest(sort), {{0, 0, 2}}) == keyImages(stableSorted(records, {{0, 0, 2}}), {{0, 0, 2}}));
  EXPECT_TRUE(errors().empty());
}

TEST_F(SortTest, WorkFilesLiveInTmpdirUntilTheSorterGoes) {
  {
    KvSort sort(kLength);
    sort.setBlockLimit(2);
    ASSERT_EQ(sort.addKey(0, 0, 4), kvSuccess);
    EXPECT_EQ(workFiles(), 0u);
    feed(sort, randomRecords(81, kSpilled, kLength, "abc"));
    EXPECT_EQ(workFiles(), 1u);
    readRest(sort);
    EXPECT_GE(workFiles(), 1u);
  }
  EXPECT_EQ(workFiles(), 0u);
  {
    KvSort sort(1000);
    sort.setBlockLimit(2);
    ASSERT_EQ(sort.addKey(0, 0, 4), kvSuccess);
    feed(sort, randomRecords(82, 5000, 1000, "abc"));
    readRest(sort);  // merge passes replace the work file
    EXPECT_EQ(workFiles(), 1u);
  }
  EXPECT_EQ(workFiles(), 0u);
  EXPECT_TRUE(errors().empty());

  // A work file that cannot be made fails the record that needed it.
  setenv("TMPDIR", (dir_ + "/missing").c_str(), 1);
  KvSort sort(kLength);
  sort.setBlockLimit(2);
  ASSERT_EQ(sort.addKey(0, 0, 4), kvSuccess);
  Record r(kLength, 'a');
  KvStatus status = kvSuccess;
  for (size_t i = 0; i < 6000 && status == kvSuccess; ++i) status = sort.addRecord(r.data());
  EXPECT_EQ(status, kvFailure);
  EXPECT_EQ(errors(), std::vector<uint16_t>{1501});
}

TEST_F(SortTest, CallerBufferIsSortedInPlaceStably) {
  // More records than a 16-bit count holds.
  const uint32_t count = 70000;
  std::vector<uint32_t> values(count);
  std::mt19937 random(91);
  for (uint32_t& v : values) v = random() % 300;
  Records records = valueRecords(values);
  std::string buffer;
  for (const Record& r : records) buffer += r;
  Keys keys = {{sortKeyDescending, 2, 2}};

  KvSort sort(8);
  addKeys(sort, keys);
  ASSERT_EQ(sort.setBuf(count, &buffer[0]), kvSuccess);
  ASSERT_EQ(sort.sortBuf(), kvSuccess);
  Records expected = stableSorted(records, keys);
  std::string want;
  for (const Record& r : expected) want += r;
  EXPECT_TRUE(buffer == want);
  ASSERT_EQ(sort.sortBuf(), kvSuccess);  // already sorted: nothing moves
  EXPECT_TRUE(buffer == want);
  EXPECT_TRUE(readAll(sort) == expected);

  // A new buffer replaces the old one; reading sorts it first.
  std::string small = std::string("b\0\0\0\0\0\0\1a\0\0\0\0\0\0\2", 16);
  ASSERT_EQ(sort.setBuf(2, &small[0]), kvSuccess);
  void* p;
  ASSERT_EQ(sort.getSorted(&p), kvSuccess);
  EXPECT_EQ(small[0], 'b');  // the key is bytes 2-3, equal: order kept
  ASSERT_EQ(sort.setBuf(0, nullptr), kvSuccess);
  ASSERT_EQ(sort.getSorted(&p), kvSuccess);
  EXPECT_EQ(p, nullptr);
  EXPECT_TRUE(errors().empty());
}

// Positions and record counts beyond 16 bits, in memory and in runs.
TEST_F(SortTest, LargeCountsDoNotWrap) {
  std::vector<uint32_t> values(300000);
  std::mt19937 random(101);
  for (uint32_t& v : values) v = random();
  Records records = valueRecords(values);
  Keys keys = {{0, 0, 4}};
  for (uint16_t blocks : {uint16_t{64}, uint16_t{8}}) {
    SCOPED_TRACE(blocks);
    KvSort sort(8);
    sort.setBlockLimit(blocks);
    addKeys(sort, keys);
    feed(sort, records);
    EXPECT_EQ(sort.getRecordCount(), records.size());
    EXPECT_TRUE(readRest(sort) == stableSorted(records, keys));
  }
  EXPECT_TRUE(errors().empty());
}

TEST_F(SortTest, SortedArrayResortIsStable) {
  std::mt19937 random(111);
  std::deque<Item> items;
  KvSortedArray array;
  array.setSortFlags(KvSortedArray::modeUnsorted);
  std::vector<std::pair<int16_t, const KvObject*>> expected;
  for (uint16_t i = 0; i < 15000; ++i) {
    int16_t key = static_cast<int16_t>(random() % 40);
    items.emplace_back(key);
    ASSERT_EQ(array.add(&items.back()), kvSuccess);
    expected.push_back({key, &items.back()});
  }
  std::stable_sort(expected.begin(), expected.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  ASSERT_EQ(array.resort(), kvSuccess);
  EXPECT_EQ(array.getSortFlags() & KvSortedArray::modeUnsorted, 0u);
  ASSERT_EQ(array.getCount(), 15000);
  for (uint16_t i = 0; i < 15000; ++i) ASSERT_EQ(array.getAt(i), expected[i].second) << i;
  EXPECT_TRUE(errors().empty());
}

}  // namespace
