// Tests of the growable arrays: growth and the 16000-entry rule, slot moves,
// bulk deletion by class, pointer-sized slots, and the sorted arrays'
// order, searches and duplicate removal.
#include "util/containers/kv_array.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "tests/util/test_support.h"

namespace {

// Installs a keep-all error list for the test and checks what reached it.
using KvArrayTest = ErrorCapturingTest;

int liveItems = 0;
int compareCalls = 0;

// An object ordered by key; serial tells equal keys apart.
class Item : public KvObject {
 public:
  Item(int key, int serial = 0) : key(key), serial(serial) { ++liveItems; }
  ~Item() override { --liveItems; }
  int16_t compare(const KvObject* other) const override {
    ++compareCalls;
    int otherKey = static_cast<const Item*>(other)->key;
    return static_cast<int16_t>(key < otherKey ? -1 : key > otherKey ? 1 : 0);
  }
  int key;
  int serial;
};

std::vector<int> keysOf(const KvArray& array) {
  std::vector<int> keys;
  for (uint16_t i = 0; i < array.getCount(); ++i) keys.push_back(static_cast<Item*>(array.getAt(i))->key);
  return keys;
}

std::vector<int> serialsOf(const KvArray& array) {
  std::vector<int> serials;
  for (uint16_t i = 0; i < array.getCount(); ++i) {
    serials.push_back(static_cast<Item*>(array.getAt(i))->serial);
  }
  return serials;
}

TEST_F(KvArrayTest, AppendingGrowsByTheStep) {
  struct Case {
    uint16_t step;
    std::vector<uint16_t> capacities;  // after each growth
  };
  const Case cases[] = {
      {16, {16, 32, 48}},
      {5, {5, 10, 15}},
      {0, {16, 32, 64}},  // doubling; an empty array starts at 16
  };
  for (const Case& c : cases) {
    KvArrayU32 array;
    array.setGrowthStep(c.step);
    std::vector<uint16_t> seen;
    uint16_t appends = c.capacities.back();
    for (uint32_t i = 0; i < appends; ++i) {
      ASSERT_EQ(array.add(i), kvSuccess);
      if (seen.empty() || seen.back() != array.getCapacity()) seen.push_back(array.getCapacity());
    }
    EXPECT_EQ(seen, c.capacities) << "step " << c.step;
    for (uint16_t i = 0; i < appends; ++i) ASSERT_EQ(array.getAt(i), i);
  }
}

TEST_F(KvArrayTest, IncreaseSizeKeepsTo16000) {
  struct Case {
    uint16_t capacity, by;
    unsigned clamp;
    KvStatus status;
    uint16_t newCapacity;
  };
  const Case cases[] = {
      {15000, 2000, 1, kvSuccess, 16000},  // clamped
      {15000, 1000, 0, kvSuccess, 16000},  // exactly the limit
      {15000, 2000, 0, kvFailure, 15000},
      {16000, 1, 1, kvFailure, 16000},
      {16000, 0, 1, kvFailure, 16000},
      {10000, 0, 1, kvSuccess, 16000},  // doubling, clamped
      {100, 0, 0, kvSuccess, 200},
      {0, 0, 0, kvSuccess, 16},
      {0, 3, 0, kvSuccess, 3},
  };
  for (const Case& c : cases) {
    list_->clearErrors();
    KvArrayU32 array;
    ASSERT_EQ(array.setInitialSize(c.capacity), kvSuccess);
    if (c.capacity > 0) {
      array.setAt(0, 7);
      array.setCount(1);
    }
    EXPECT_EQ(array.increaseSize(c.by, 1, c.clamp), c.status) << c.capacity << " + " << c.by;
    EXPECT_EQ(array.getCapacity(), c.newCapacity) << c.capacity << " + " << c.by;
    if (c.capacity > 0) {
      EXPECT_EQ(array.getCount(), 1);
      EXPECT_EQ(array.getAt(0), 7u);
    }
    if (c.status == kvFailure) {
      EXPECT_EQ(lastErrorNumber(), 2722);
      EXPECT_STREQ(kvC(list_->getLastError()->getErrorText()),
                   "Can not increase internal array size past 16000.");
    } else {
      EXPECT_EQ(list_->getCount(), 0u);
      for (uint16_t i = c.capacity; i < c.newCapacity; ++i) ASSERT_EQ(array.getAt(i), 0u);
    }
  }
}

TEST_F(KvArrayTest, IncreaseSizeWithoutKeepingContents) {
  KvArray array;
  Item a(1);
  ASSERT_EQ(array.add(&a), kvSuccess);
  ASSERT_EQ(array.increaseSize(4, 0, 0), kvSuccess);
  EXPECT_EQ(array.getCapacity(), 20);
  EXPECT_EQ(array.getCount(), 0);
  for (uint16_t i = 0; i < array.getCapacity(); ++i) EXPECT_EQ(array.getAt(i), nullptr);
}

TEST_F(KvArrayTest, TheSixteenThousandAndFirstEntryFails) {
  KvArrayU32 array;
  for (uint32_t i = 0; i < kvArrayMaxEntries; ++i) ASSERT_EQ(array.add(i), kvSuccess) << i;
  EXPECT_EQ(array.getCapacity(), kvArrayMaxEntries);
  EXPECT_EQ(list_->getCount(), 0u);
  EXPECT_EQ(array.add(99999), kvFailure);
  EXPECT_EQ(lastErrorNumber(), 2722);
  EXPECT_EQ(array.getCount(), kvArrayMaxEntries);
  EXPECT_EQ(array.getAt(kvArrayMaxEntries - 1), kvArrayMaxEntries - 1u);
}

TEST_F(KvArrayTest, OutOfMemoryLeavesTheArrayUnchanged) {
  KvArrayU32 array;
  ASSERT_EQ(array.add(5), kvSuccess);
  RamLimits saved = ramGetLimits();
  // No more memory from the system than the allocator holds already.
  ramSetLimits({saved.minSegmentBytes, ramGetStats().systemBytes, 0});
  KvStatus status = array.increaseSize(15000, 1, 0);
  KvStatus fresh = array.increaseSize(15000, 0, 0);
  ramSetLimits(saved);
  EXPECT_EQ(status, kvFailure);
  EXPECT_EQ(fresh, kvFailure);
  EXPECT_EQ(lastErrorNumber(), kvMsgOutOfMemory);
  EXPECT_EQ(array.getCapacity(), 16);
  EXPECT_EQ(array.getCount(), 1);
  EXPECT_EQ(array.getAt(0), 5u);
}

TEST_F(KvArrayTest, AddRemoveAndDeleteAtIndex) {
  liveItems = 0;
  KvArray array;
  array.setGrowthStep(2);  // several growths on the way
  for (int key : {1, 3, 5}) ASSERT_EQ(array.add(new Item(key)), kvSuccess);
  ASSERT_EQ(array.addAtIndex(new Item(0), 0), kvSuccess);
  ASSERT_EQ(array.addAtIndex(new Item(4), 3), kvSuccess);
  ASSERT_EQ(array.addAtIndex(new Item(6), 5), kvSuccess);
  EXPECT_EQ(keysOf(array), (std::vector<int>{0, 1, 3, 4, 5, 6}));

  KvObject* removed = array.getAt(2);
  array.removeAtIndex(2);
  EXPECT_EQ(keysOf(array), (std::vector<int>{0, 1, 4, 5, 6}));
  EXPECT_EQ(liveItems, 6);  // removal does not delete
  EXPECT_EQ(array.getAt(5), nullptr);  // the vacated slot is cleared
  delete removed;

  array.deleteAtIndex(0);
  array.deleteAtIndex(3);
  EXPECT_EQ(keysOf(array), (std::vector<int>{1, 4, 5}));
  EXPECT_EQ(liveItems, 3);
  ASSERT_EQ(array.add(nullptr), kvSuccess);
  array.deleteAtIndex(3);  // a null entry only loses its slot
  EXPECT_EQ(array.getCount(), 3);

  EXPECT_TRUE(array.doesExist(array.getAt(1)));
  Item stranger(4);
  EXPECT_FALSE(array.doesExist(&stranger));
  array.deleteContents();
  EXPECT_EQ(liveItems, 1);  // only the stranger
  EXPECT_EQ(array.getCount(), 0);
}

TEST_F(KvArrayTest, DestructorDeletesOnlyWhatItOwns) {
  liveItems = 0;
  Item kept(1);
  {
    KvArray borrowing;
    ASSERT_EQ(borrowing.add(&kept), kvSuccess);
  }
  EXPECT_EQ(liveItems, 1);
  {
    KvArray owning;
    owning.setOwnsObjects(true);
    ASSERT_EQ(owning.add(new Item(2)), kvSuccess);
    ASSERT_EQ(owning.add(nullptr), kvSuccess);
    ASSERT_EQ(owning.add(new Item(3)), kvSuccess);
  }
  EXPECT_EQ(liveItems, 1);
  {
    // Values are never owned, whatever the flag says.
    KvArrayU32 values;
    values.setOwnsObjects(true);
    ASSERT_EQ(values.add(0xDEADBEEFu), kvSuccess);
    KvArrayS32 signedValues;
    signedValues.setOwnsObjects(true);
    ASSERT_EQ(signedValues.add(-1), kvSuccess);
    signedValues.deleteContents();
    EXPECT_EQ(signedValues.getCount(), 0);
  }
}

TEST_F(KvArrayTest, BulkDeletionOverAllSlots) {
  liveItems = 0;
  KvArray array;
  ASSERT_EQ(array.setInitialSize(4), kvSuccess);
  array.setAt(0, new Item(1));
  array.setAt(3, new Item(2));  // beyond the count
  array.setFlags(KvArray::flagAllSlotsUsed | KvArray::flagOwnsObjects);
  array.deleteContents();
  EXPECT_EQ(liveItems, 0);
  for (uint16_t i = 0; i < 4; ++i) EXPECT_EQ(array.getAt(i), nullptr);
}

TEST_F(KvArrayTest, PVoidArrayFreesItsBlocks) {
  uint32_t baseline = ramGetStats().liveBlocks;
  {
    KvArrayPVoid blocks;
    blocks.setOwnsObjects(true);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(blocks.add(ramAlloc(40)), kvSuccess);
    void* extra = ramAlloc(40);
    ASSERT_EQ(blocks.add(extra), kvSuccess);
    EXPECT_TRUE(blocks.doesExist(extra));
    blocks.deleteAtIndex(3);  // freed with ramFree
    EXPECT_FALSE(blocks.doesExist(extra));
  }
  EXPECT_EQ(ramGetStats().liveBlocks, baseline);
}

TEST_F(KvArrayTest, SlotsHoldWholePointersAndValues) {
  const uintptr_t highPointer = (uintptr_t{0x7FFF} << 32) | 0x12345678u;
  KvArrayPVoid pointers;
  ASSERT_EQ(pointers.add(reinterpret_cast<void*>(highPointer)), kvSuccess);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(pointers.getAt(0)), highPointer);
  EXPECT_TRUE(pointers.doesExist(reinterpret_cast<void*>(highPointer)));
  EXPECT_FALSE(pointers.doesExist(reinterpret_cast<void*>(uintptr_t{0x12345678u})));

  KvArrayS32 signedValues;
  for (int32_t value : {-1, INT32_MIN, INT32_MAX, 0}) ASSERT_EQ(signedValues.add(value), kvSuccess);
  EXPECT_EQ(signedValues.getAt(0), -1);
  EXPECT_EQ(signedValues.getAt(1), INT32_MIN);
  EXPECT_EQ(signedValues[2], INT32_MAX);
  EXPECT_TRUE(signedValues.doesExist(INT32_MIN));
  EXPECT_FALSE(signedValues.doesExist(7));

  KvArrayU32 values;
  ASSERT_EQ(values.add(0xFFFFFFFFu), kvSuccess);
  EXPECT_EQ(values.getAt(0), 0xFFFFFFFFu);
  EXPECT_TRUE(values.doesExist(0xFFFFFFFFu));
}

TEST_F(KvArrayTest, InitialSizeAndShrink) {
  KvArrayU32 array;
  ASSERT_EQ(array.setInitialSize(8), kvSuccess);
  EXPECT_EQ(array.getCapacity(), 8);
  EXPECT_EQ(array.getCount(), 0);
  for (uint16_t i = 0; i < 8; ++i) {
    EXPECT_EQ(array.getAt(i), 0u);
    array.setAt(i, 100u + i);
  }
  ASSERT_EQ(array.shrink(3), kvSuccess);
  EXPECT_EQ(array.getCapacity(), 3);
  EXPECT_EQ(array.getCount(), 3);
  EXPECT_EQ(array.getAt(2), 102u);
  ASSERT_EQ(array.add(7), kvSuccess);  // grows again from the shrunk size
  EXPECT_EQ(array.getAt(3), 7u);
  ASSERT_EQ(array.shrink(0), kvSuccess);
  EXPECT_EQ(array.getCapacity(), 0);
  EXPECT_EQ(array.getCount(), 0);
  ASSERT_EQ(array.add(9), kvSuccess);
  EXPECT_EQ(array.getAt(0), 9u);
}

// ---------------------------------------------------------------------------
// Sorted arrays

TEST_F(KvArrayTest, SortedAddKeepsEqualEntriesInInsertionOrder) {
  KvSortedArray array;
  array.setOwnsObjects(true);
  const int keys[] = {5, 3, 5, 1, 3, 5, 9, 1};
  for (int serial = 0; serial < 8; ++serial) ASSERT_EQ(array.add(new Item(keys[serial], serial)), kvSuccess);
  EXPECT_EQ(keysOf(array), (std::vector<int>{1, 1, 3, 3, 5, 5, 5, 9}));
  EXPECT_EQ(serialsOf(array), (std::vector<int>{3, 7, 1, 4, 0, 2, 5, 6}));
}

TEST_F(KvArrayTest, SortedFindIndexOf) {
  KvSortedArray array;
  array.setOwnsObjects(true);
  for (int key : {2, 4, 4, 4, 6}) ASSERT_EQ(array.add(new Item(key)), kvSuccess);
  struct Case {
    int key;
    int found;
    uint16_t index, last;
  };
  const Case cases[] = {
      {1, 0, 0, 0}, {2, 1, 0, 0}, {3, 0, 1, 1}, {4, 1, 1, 3}, {5, 0, 4, 4}, {6, 1, 4, 4}, {7, 0, 5, 5},
  };
  for (const Case& c : cases) {
    Item probe(c.key);
    uint16_t index = 999;
    EXPECT_EQ(array.findIndexOf(&probe, &index) != 0, c.found != 0) << c.key;
    EXPECT_EQ(index, c.index) << c.key;
    if (c.found) {
      array.findIndexOfLastKey(&probe, &index);
      EXPECT_EQ(index, c.last) << c.key;
    }
    uint16_t seqIndex = 999;
    EXPECT_EQ(array.seqFindIndexOf(&probe, &seqIndex) != 0, c.found != 0) << c.key;
    EXPECT_EQ(seqIndex, c.found ? c.index : array.getCount()) << c.key;
  }
  KvSortedArray empty;
  Item probe(1);
  uint16_t index = 999;
  EXPECT_EQ(empty.findIndexOf(&probe, &index), 0);
  EXPECT_EQ(index, 0);
}

TEST_F(KvArrayTest, SortedSearchIsBinary) {
  KvSortedArray array;
  array.setOwnsObjects(true);
  array.setSortFlags(KvSortedArray::modeAppend);  // known order: no search while filling
  for (int key = 0; key < 15000; ++key) ASSERT_EQ(array.add(new Item(key * 2)), kvSuccess);
  array.setSortFlags(0);
  for (int key : {-1, 0, 15001, 16000, 29998, 40000}) {
    Item probe(key);
    uint16_t index;
    compareCalls = 0;
    array.findIndexOf(&probe, &index);
    EXPECT_LE(compareCalls, 15) << key;  // log2(15000) + the equality check
    compareCalls = 0;
    ASSERT_EQ(array.add(new Item(key)), kvSuccess);
    EXPECT_LE(compareCalls, 15) << key;
    array.deleteAtIndex(index);
  }
}

TEST_F(KvArrayTest, ModeBitsAppendAndResortIsStable) {
  for (uint32_t mode : {uint32_t{KvSortedArray::modeUnsorted}, uint32_t{KvSortedArray::modeAppend}}) {
    KvSortedArray array;
    array.setOwnsObjects(true);
    array.setSortFlags(mode);
    const int keys[] = {7, 2, 7, 2, 0, 7, 2};
    for (int serial = 0; serial < 7; ++serial) ASSERT_EQ(array.add(new Item(keys[serial], serial)), kvSuccess);
    EXPECT_EQ(keysOf(array), (std::vector<int>{7, 2, 7, 2, 0, 7, 2})) << mode;
    ASSERT_EQ(array.resort(), kvSuccess);
    EXPECT_EQ(array.getSortFlags() & KvSortedArray::modeUnsorted, 0u);
    EXPECT_EQ(keysOf(array), (std::vector<int>{0, 2, 2, 2, 7, 7, 7})) << mode;
    EXPECT_EQ(serialsOf(array), (std::vector<int>{4, 1, 3, 6, 0, 2, 5})) << mode;
  }
  // A larger shuffled run: equal keys must come out in their input order.
  KvSortedArray big;
  big.setOwnsObjects(true);
  big.setSortFlags(KvSortedArray::modeUnsorted);
  for (int serial = 0; serial < 3000; ++serial) {
    ASSERT_EQ(big.add(new Item((serial * 7919) % 13, serial)), kvSuccess);
  }
  ASSERT_EQ(big.resort(), kvSuccess);
  for (uint16_t i = 1; i < big.getCount(); ++i) {
    const Item* before = static_cast<Item*>(big.getAt(i - 1));
    const Item* after = static_cast<Item*>(big.getAt(i));
    ASSERT_TRUE(before->key < after->key || (before->key == after->key && before->serial < after->serial)) << i;
  }
}

TEST_F(KvArrayTest, DuplicatesDeletedOrRemoved) {
  for (bool deleting : {true, false}) {
    liveItems = 0;
    std::vector<Item*> all;
    KvSortedArray array;
    for (int key : {1, 1, 1, 2, 3, 3, 4, 4}) {
      all.push_back(new Item(key));
      ASSERT_EQ(array.add(all.back()), kvSuccess);
    }
    Item* first = all[0];
    ASSERT_EQ(array.addAtIndex(first, 1), kvSuccess);  // the same object twice
    if (deleting) {
      array.deleteDuplicates();
    } else {
      array.removeDuplicates();
    }
    EXPECT_EQ(keysOf(array), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(array.getAt(0), first);
    EXPECT_EQ(array.getAt(4), nullptr);
    EXPECT_EQ(liveItems, deleting ? 4 : 8);
    std::vector<Item*> kept;
    for (uint16_t i = 0; i < array.getCount(); ++i) kept.push_back(static_cast<Item*>(array.getAt(i)));
    array.deleteContents();
    EXPECT_EQ(liveItems, deleting ? 0 : 4);
    if (!deleting) {
      // What the array no longer names is the test's to delete.
      for (Item* item : all) {
        if (std::find(kept.begin(), kept.end(), item) == kept.end()) delete item;
      }
    }
    EXPECT_EQ(liveItems, 0);
  }
}

TEST_F(KvArrayTest, SortedU32) {
  KvSortedArrayU32 array;
  for (uint32_t value : {30u, 10u, 20u, 10u, 0xFFFFFFFFu, 0u, 20u}) ASSERT_EQ(array.add(value), kvSuccess);
  std::vector<uint32_t> values;
  for (uint16_t i = 0; i < array.getCount(); ++i) values.push_back(array.getAt(i));
  EXPECT_EQ(values, (std::vector<uint32_t>{0, 10, 10, 20, 20, 30, 0xFFFFFFFFu}));
  struct Case {
    uint32_t value;
    int found;
    uint16_t index, last;
  };
  const Case cases[] = {{0, 1, 0, 0}, {5, 0, 1, 1}, {10, 1, 1, 2}, {20, 1, 3, 4},
                        {25, 0, 5, 5}, {0xFFFFFFFFu, 1, 6, 6}, {0xFFFFFFFEu, 0, 6, 6}};
  for (const Case& c : cases) {
    uint16_t index = 999;
    EXPECT_EQ(array.findIndexOf(c.value, &index) != 0, c.found != 0) << c.value;
    EXPECT_EQ(index, c.index) << c.value;
    if (c.found) {
      array.findIndexOfLastKey(c.value, &index);
      EXPECT_EQ(index, c.last) << c.value;
    }
  }
}

}  // namespace
