// Tests of the hashed set and the dictionaries: bucket choice and probing,
// growth by the fill rule, replacement of a key already held, ownership of
// associations, keys and data, case-insensitive keys, and failures.
#include "util/containers/kv_dictionary.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/util/test_support.h"
#include "util/containers/kv_string.h"

namespace {

// Every test runs with a keep-all error list current.
using KvDictionaryTest = ErrorCapturingTest;

// A set of test elements whose hash the test chooses; equal by id.
struct Element {
  uint32_t hash;
  int id;
};

class ElementSet : public KvSet {
 public:
  uint32_t doHash(const void* element) const override { return static_cast<const Element*>(element)->hash; }
  int areEqual(const void* element, const void* key) const override {
    return static_cast<const Element*>(element)->id == static_cast<const Element*>(key)->id;
  }
};

int livePayloads = 0;

class Payload : public KvObject {
 public:
  explicit Payload(int value) : value(value) { ++livePayloads; }
  ~Payload() override { --livePayloads; }
  int value;
};

int liveKeys = 0;

class CountedKey : public KvSubString {
 public:
  explicit CountedKey(const char* text) : KvSubString(kvU(text), static_cast<uint32_t>(strlen(text))) { ++liveKeys; }
  ~CountedKey() override { --liveKeys; }
};

int payloadValue(KvObject* object) { return object ? static_cast<Payload*>(object)->value : -1; }

// ---------------------------------------------------------------------------
// KvSet

TEST_F(KvDictionaryTest, InitializeSizesTheTable) {
  struct Case {
    uint16_t expected, tableSize;
  };
  const Case cases[] = {{0, 1}, {1, 2}, {3, 5}, {6, 9}, {75, 101}, {12000, 16001}, {60000, 65535}};
  for (const Case& c : cases) {
    ElementSet set;
    ASSERT_EQ(set.initialize(c.expected), kvSuccess);
    EXPECT_EQ(set.getTableSize(), c.tableSize) << c.expected;
    EXPECT_EQ(set.getCount(), 0);
    EXPECT_EQ(set.getFill(), 75);
    EXPECT_EQ(set.getGrowth(), 25);
  }
}

TEST_F(KvDictionaryTest, ProbeStartsAtTheGoldenBucketAndStepsBackWithWrap) {
  ElementSet set;
  ASSERT_EQ(set.initialize(6), kvSuccess);
  ASSERT_EQ(set.getTableSize(), 9);
  // Buckets by (hash * 0x9E3779B9) mod 9 with 32-bit multiplication:
  // 1 -> 6, 2 -> 8 (a 64-bit product would give 3), 3 -> 5, 100 -> 5,
  // 0 -> 0.
  Element elements[] = {{1, 1}, {2, 2}, {3, 3}, {100, 4}, {0, 5}, {0, 6}};
  const uint16_t buckets[] = {6, 8, 5, 4, 0, 7};  // 100 steps back from 5; the second 0 wraps to 8, 7
  for (Element& e : elements) {
    void* replaced = &e;
    ASSERT_EQ(set.add(&e, &replaced), kvSuccess);
    EXPECT_EQ(replaced, nullptr);
  }
  EXPECT_EQ(set.getTableSize(), 9);  // 6 is the limit of 9 buckets
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(set.findBucket(&elements[i]), buckets[i]) << "element " << i;
    EXPECT_EQ(set.getElementAt(buckets[i]), &elements[i]);
  }
  // A key that is absent ends its search at the first empty bucket.
  Element absent = {0, 99};
  uint16_t stop = set.findBucket(&absent);
  EXPECT_EQ(stop, 3);  // 0, then 8, 7, 6, 5, 4 are taken
  EXPECT_EQ(set.getElementAt(stop), nullptr);
}

TEST_F(KvDictionaryTest, FillLimitRebuildsTheTable) {
  // A table of 5 buckets holds 3 elements (5 * 75 / 100); the fourth add
  // rebuilds for 3 + 3 * 25 / 100 + 1 = 4 elements, that is 6 buckets.
  ElementSet set;
  ASSERT_EQ(set.initialize(3), kvSuccess);
  ASSERT_EQ(set.getTableSize(), 5);
  Element elements[40];
  for (int i = 0; i < 40; ++i) elements[i] = {static_cast<uint32_t>(i * 7), i};
  void* replaced;
  for (int i = 0; i < 3; ++i) ASSERT_EQ(set.add(&elements[i], &replaced), kvSuccess);
  EXPECT_EQ(set.getTableSize(), 5);
  ASSERT_EQ(set.add(&elements[3], &replaced), kvSuccess);
  EXPECT_EQ(set.getTableSize(), 6);
  EXPECT_EQ(set.getCount(), 4);

  // From no table at all: the sizes seen while adding one by one.
  ElementSet grown;
  std::vector<uint16_t> sizes;
  for (int i = 0; i < 40; ++i) {
    ASSERT_EQ(grown.add(&elements[i], &replaced), kvSuccess);
    if (sizes.empty() || sizes.back() != grown.getTableSize()) sizes.push_back(grown.getTableSize());
  }
  EXPECT_EQ(sizes, (std::vector<uint16_t>{2, 3, 5, 6, 9, 11, 15, 19, 25, 31, 39, 50, 63}));
  EXPECT_EQ(grown.getCount(), 40);
  EXPECT_EQ(grown.getHighestCount(), 40);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(grown.getElementAt(grown.findBucket(&elements[i])), &elements[i]);
}

TEST_F(KvDictionaryTest, SetReplacesAnEqualElement) {
  ElementSet set;
  Element first = {5, 1}, second = {5, 1}, other = {5, 2};
  void* replaced = nullptr;
  ASSERT_EQ(set.add(&first, &replaced), kvSuccess);
  ASSERT_EQ(set.add(&other, &replaced), kvSuccess);
  ASSERT_EQ(set.add(&second, &replaced), kvSuccess);
  EXPECT_EQ(replaced, &first);
  EXPECT_EQ(set.getCount(), 2);
  EXPECT_EQ(set.getElementAt(set.findBucket(&first)), &second);

  set.reset();
  EXPECT_EQ(set.getTableSize(), 0);
  EXPECT_EQ(set.getCount(), 0);
  EXPECT_EQ(set.getHighestCount(), 0);
  EXPECT_EQ(set.getElementAt(set.findBucket(&first)), nullptr);
}

TEST_F(KvDictionaryTest, InitializeKeepsTheElementsHeld) {
  ElementSet set;
  Element elements[6];
  void* replaced;
  for (int i = 0; i < 6; ++i) {
    elements[i] = {static_cast<uint32_t>(i), i};
    ASSERT_EQ(set.add(&elements[i], &replaced), kvSuccess);
  }
  ASSERT_EQ(set.initialize(1), kvSuccess);  // too small: sized for the 6 held
  EXPECT_EQ(set.getTableSize(), 9);
  EXPECT_EQ(set.getCount(), 6);
  for (Element& e : elements) EXPECT_EQ(set.getElementAt(set.findBucket(&e)), &e);
}

TEST_F(KvDictionaryTest, AFullSizedTableRefusesInsteadOfProbingForever) {
  // 65535 buckets is the largest table; its fill limit is 49151 elements.
  std::vector<Element> elements(49152);
  ElementSet set;
  ASSERT_EQ(set.initialize(60000), kvSuccess);
  void* replaced;
  for (int i = 0; i < 49151; ++i) {
    elements[i] = {static_cast<uint32_t>(i), i};
    ASSERT_EQ(set.add(&elements[i], &replaced), kvSuccess) << i;
  }
  EXPECT_EQ(list_->getCount(), 0u);
  elements[49151] = {7, 49151};
  EXPECT_EQ(set.add(&elements[49151], &replaced), kvFailure);
  EXPECT_EQ(lastErrorNumber(), 2722);
  EXPECT_EQ(set.getCount(), 49151);
  // Replacing an element still works: it needs no room.
  Element again = {7, 7};
  EXPECT_EQ(set.add(&again, &replaced), kvSuccess);
  EXPECT_EQ(replaced, &elements[7]);
}

// ---------------------------------------------------------------------------
// KvDictionary

TEST_F(KvDictionaryTest, IntegerKeys) {
  KvDictionary dictionary;
  const uintptr_t highPointer = (uintptr_t{0x7FFE} << 32) | 0xABCD0000u;
  for (uintptr_t key = 1; key <= 2000; ++key) ASSERT_EQ(dictionary.addAssoc(key * 3, key + 10), kvSuccess);
  ASSERT_EQ(dictionary.addAssoc(highPointer, highPointer), kvSuccess);
  EXPECT_EQ(dictionary.getCount(), 2001);
  for (uintptr_t key = 1; key <= 2000; ++key) {
    ASSERT_EQ(dictionary.getIntForKey(key * 3), key + 10) << key;
    ASSERT_FALSE(dictionary.doesExist(key * 3 + 1)) << key;
  }
  EXPECT_EQ(dictionary.getIntForKey(highPointer), highPointer);
  EXPECT_FALSE(dictionary.doesExist(uintptr_t{0xABCD0000u}));  // the low half alone is another key
  EXPECT_EQ(dictionary.getIntForKey(uintptr_t{1}), 0u);
  KvAssociation* found = dictionary.getAssocAt(dictionary.getIndexForKey(uintptr_t{9}));
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->getIntKey(), 9u);
  EXPECT_EQ(found->getIntData(), 13u);
  EXPECT_EQ(dictionary.getAssocAt(dictionary.getIndexForKey(uintptr_t{10})), nullptr);
}

TEST_F(KvDictionaryTest, EmptyDictionaryAnswersAbsent) {
  KvDictionary dictionary;
  KvSubString name(kvU("name"), 4);
  EXPECT_FALSE(dictionary.doesExist(uintptr_t{1}));
  EXPECT_FALSE(dictionary.doesExist(&name));
  EXPECT_EQ(dictionary.getPtrForKey(&name), nullptr);
  EXPECT_EQ(dictionary.getIntForKey(uintptr_t{1}), 0u);
  EXPECT_EQ(dictionary.getAssocAt(dictionary.getIndexForKey(uintptr_t{1})), nullptr);
}

TEST_F(KvDictionaryTest, AddingAKeyHeldAlreadyReplacesItsAssociation) {
  livePayloads = 0;
  uint32_t baseline = ramGetStats().liveBlocks;
  Payload* oldData = new Payload(1);
  Payload* newData = new Payload(2);
  {
    KvDictionary dictionary;
    ASSERT_EQ(dictionary.addAssoc(uintptr_t{42}, oldData), kvSuccess);
    ASSERT_EQ(dictionary.addAssoc(uintptr_t{7}, new Payload(7)), kvSuccess);
    uint32_t blocksWithTwo = ramGetStats().liveBlocks;
    ASSERT_EQ(dictionary.addAssoc(uintptr_t{42}, newData), kvSuccess);
    EXPECT_EQ(dictionary.getCount(), 2);
    EXPECT_EQ(payloadValue(dictionary.getPtrForKey(uintptr_t{42})), 2);
    // The new association was made and the old one deleted; the old data
    // stays with the caller.
    EXPECT_EQ(ramGetStats().liveBlocks, blocksWithTwo);
    EXPECT_EQ(livePayloads, 3);
    dictionary.deleteKeyAndData();  // the new data once, and payload 7
    EXPECT_EQ(livePayloads, 1);
    EXPECT_EQ(dictionary.getCount(), 0);
    EXPECT_FALSE(dictionary.doesExist(uintptr_t{42}));
  }
  delete oldData;
  EXPECT_EQ(livePayloads, 0);
  EXPECT_EQ(ramGetStats().liveBlocks, baseline);

  // Integer data and the same data object given again.
  KvDictionary values;
  ASSERT_EQ(values.addAssoc(uintptr_t{5}, uintptr_t{50}), kvSuccess);
  ASSERT_EQ(values.addAssoc(uintptr_t{5}, uintptr_t{51}), kvSuccess);
  EXPECT_EQ(values.getCount(), 1);
  EXPECT_EQ(values.getIntForKey(uintptr_t{5}), 51u);
  Payload* same = new Payload(9);
  KvDictionary objects;
  ASSERT_EQ(objects.addAssoc(uintptr_t{1}, same), kvSuccess);
  ASSERT_EQ(objects.addAssoc(uintptr_t{1}, same), kvSuccess);
  EXPECT_EQ(livePayloads, 1);
  objects.deleteKeyAndData();
  EXPECT_EQ(livePayloads, 0);
}

TEST_F(KvDictionaryTest, SubstringKeysWithAndWithoutCase) {
  struct Case {
    uint32_t flags;
    const char* stored;
    const char* asked;
    bool found;
  };
  const Case cases[] = {
      {KvDictionary::flagIgnoreCase, "NAME", "name", true},
      {KvDictionary::flagIgnoreCase, "Name", "nAME", true},
      {KvDictionary::flagIgnoreCase, "NAME", "NAMES", false},
      {KvDictionary::flagIgnoreCase, "abcdefg", "ABCDEFH", false},  // same hash, other text
      {0, "NAME", "name", false},
      {0, "name", "name", true},
      {0, "", "", true},
  };
  for (const Case& c : cases) {
    KvDictionary dictionary;
    dictionary.setFlags(c.flags);
    KvSubString stored(kvU(c.stored), static_cast<uint32_t>(strlen(c.stored)));
    KvSubString other(kvU("other"), 5);
    Payload data(1);
    ASSERT_EQ(dictionary.addAssoc(&other, nullptr), kvSuccess);
    ASSERT_EQ(dictionary.addAssoc(&stored, &data), kvSuccess);
    KvSubString asked(kvU(c.asked), static_cast<uint32_t>(strlen(c.asked)));
    EXPECT_EQ(dictionary.doesExist(&asked) != 0, c.found) << c.stored << " / " << c.asked;
    EXPECT_EQ(dictionary.getPtrForKey(&asked), c.found ? &data : nullptr) << c.stored << " / " << c.asked;
  }
}

TEST_F(KvDictionaryTest, CaseInsensitiveAddReplacesTheOtherSpelling) {
  livePayloads = liveKeys = 0;
  KvDictionary dictionary;
  dictionary.setFlags(KvDictionary::flagIgnoreCase);
  CountedKey* upper = new CountedKey("NAME");
  Payload* first = new Payload(1);
  ASSERT_EQ(dictionary.addAssoc(upper, first), kvSuccess);
  ASSERT_EQ(dictionary.addAssoc(new CountedKey("name"), new Payload(2)), kvSuccess);
  EXPECT_EQ(dictionary.getCount(), 1);
  KvSubString asked(kvU("Name"), 4);
  EXPECT_EQ(payloadValue(dictionary.getPtrForKey(&asked)), 2);
  dictionary.deleteKeyAndData();  // the key and data of the association held
  EXPECT_EQ(liveKeys, 1);
  EXPECT_EQ(livePayloads, 1);
  delete upper;
  delete first;
}

TEST_F(KvDictionaryTest, OwnershipOfKeysAndData) {
  livePayloads = liveKeys = 0;
  static const char* const names[] = {"alpha", "beta", "gamma", "delta"};
  uint32_t baseline = ramGetStats().liveBlocks;
  std::vector<CountedKey*> keys;
  std::vector<Payload*> data;
  {
    KvDictionary dictionary;
    for (int i = 0; i < 4; ++i) {
      keys.push_back(new CountedKey(names[i]));
      data.push_back(new Payload(i));
      ASSERT_EQ(dictionary.addAssoc(keys.back(), data.back()), kvSuccess);
    }
  }  // the destructor deletes the associations only
  EXPECT_EQ(liveKeys, 4);
  EXPECT_EQ(livePayloads, 4);
  for (int i = 0; i < 4; ++i) {
    delete keys[i];
    delete data[i];
  }
  EXPECT_EQ(ramGetStats().liveBlocks, baseline);

  {
    KvDictionary owning;
    for (int i = 0; i < 4; ++i) ASSERT_EQ(owning.addAssoc(new CountedKey(names[i]), new Payload(i)), kvSuccess);
    ASSERT_EQ(owning.addAssoc(static_cast<KvSubString*>(nullptr), new Payload(9)), kvSuccess);
    KvSubString empty;
    EXPECT_EQ(payloadValue(owning.getPtrForKey(&empty)), 9);  // a null key is the empty text
    owning.deleteKeyAndData();
    EXPECT_EQ(liveKeys, 0);
    EXPECT_EQ(livePayloads, 0);
    EXPECT_EQ(owning.getCount(), 0);
    CountedKey* again = new CountedKey("again");
    ASSERT_EQ(owning.addAssoc(again, nullptr), kvSuccess);
    owning.reset();  // deletes the association; its key is the caller's
    EXPECT_EQ(owning.getTableSize(), 0);
    EXPECT_EQ(owning.getCount(), 0);
    EXPECT_EQ(liveKeys, 1);
    delete again;
  }
  EXPECT_EQ(ramGetStats().liveBlocks, baseline);
}

TEST_F(KvDictionaryTest, OutOfMemoryAddsNothing) {
  uint32_t baseline = ramGetStats().liveBlocks;
  {
    KvDictionary dictionary;
    ASSERT_EQ(dictionary.initialize(12000), kvSuccess);
    for (uintptr_t key = 0; key < 12000; ++key) ASSERT_EQ(dictionary.addAssoc(key, key), kvSuccess);
    ASSERT_EQ(dictionary.getTableSize(), 16001);
    uint32_t blocksBefore = ramGetStats().liveBlocks;
    RamLimits saved = ramGetLimits();
    ramSetLimits({saved.minSegmentBytes, ramGetStats().systemBytes, 0});
    // The next add must rebuild to 20002 buckets, which the budget refuses.
    KvStatus status = dictionary.addAssoc(uintptr_t{12000}, uintptr_t{1});
    ramSetLimits(saved);
    EXPECT_EQ(status, kvFailure);
    EXPECT_EQ(lastErrorNumber(), kvMsgOutOfMemory);
    EXPECT_EQ(dictionary.getCount(), 12000);
    EXPECT_EQ(dictionary.getTableSize(), 16001);
    EXPECT_FALSE(dictionary.doesExist(uintptr_t{12000}));
    EXPECT_EQ(ramGetStats().liveBlocks, blocksBefore);
    for (uintptr_t key = 0; key < 12000; key += 97) ASSERT_EQ(dictionary.getIntForKey(key), key);
    // With memory back the same add succeeds.
    ASSERT_EQ(dictionary.addAssoc(uintptr_t{12000}, uintptr_t{1}), kvSuccess);
    EXPECT_EQ(dictionary.getTableSize(), 20002);
  }
  EXPECT_EQ(ramGetStats().liveBlocks, baseline);
}

// ---------------------------------------------------------------------------
// KvSeqDictionary

TEST_F(KvDictionaryTest, SeqDictionaryKeepsInsertionOrder) {
  livePayloads = liveKeys = 0;
  KvSeqDictionary dictionary;
  static const char* const names[] = {"zeta", "ALPHA", "mid", "alpha"};
  for (int i = 0; i < 4; ++i) ASSERT_EQ(dictionary.addAssoc(new CountedKey(names[i]), new Payload(i)), kvSuccess);
  ASSERT_EQ(dictionary.getCount(), 4);
  for (uint16_t i = 0; i < 4; ++i) {
    KvSubString* key = dictionary.getSubKeyAtIndex(i);
    EXPECT_EQ(std::string(kvC(key->getText()), key->getLength()), names[i]);
    EXPECT_EQ(payloadValue(dictionary.getPtrDataAtIndex(i)), i);
  }
  struct Case {
    uint32_t ignoreCase;
    const char* asked;
    uint16_t index;  // 4 = absent
  };
  const Case cases[] = {
      {0, "alpha", 3}, {0, "ALPHA", 1}, {0, "Alpha", 4}, {1, "alpha", 1},  // the first of two spellings
      {1, "MID", 2},   {0, "zeta", 0},  {1, "eta", 4},
  };
  for (const Case& c : cases) {
    dictionary.setIgnoreCase(c.ignoreCase);
    KvSubString asked(kvU(c.asked), static_cast<uint32_t>(strlen(c.asked)));
    EXPECT_EQ(dictionary.getIndexForKey(&asked), c.index) << c.asked << " ci " << c.ignoreCase;
    EXPECT_EQ(dictionary.doesExist(&asked) != 0, c.index < 4) << c.asked;
    EXPECT_EQ(payloadValue(dictionary.getPtrForKey(&asked)), c.index < 4 ? c.index : -1) << c.asked;
  }

  dictionary.setIgnoreCase(0);
  KvSubString mid(kvU("mid"), 3);
  Payload replacement(20);
  Payload* oldData = static_cast<Payload*>(dictionary.getPtrForKey(&mid));
  EXPECT_EQ(dictionary.changeData(&mid, &replacement), 1);
  EXPECT_EQ(dictionary.getPtrForKey(&mid), &replacement);
  KvSubString missing(kvU("none"), 4);
  EXPECT_EQ(dictionary.changeData(&missing, &replacement), 0);
  EXPECT_EQ(dictionary.getCount(), 4);
  dictionary.changeData(&mid, oldData);

  dictionary.deleteKeyAndDataAtIndex(1);  // "ALPHA": its key, data and association
  EXPECT_EQ(liveKeys, 3);
  EXPECT_EQ(livePayloads, 4);  // three in the dictionary and the replacement
  KvSubString upperAlpha(kvU("ALPHA"), 5);
  EXPECT_FALSE(dictionary.doesExist(&upperAlpha));
  EXPECT_EQ(dictionary.getCount(), 3);
  dictionary.deleteKeyAndData();
  EXPECT_EQ(liveKeys, 0);
  EXPECT_EQ(livePayloads, 1);
  EXPECT_EQ(dictionary.getCount(), 0);
}

TEST_F(KvDictionaryTest, SeqDictionaryIntegerKeysAndDuplicates) {
  uint32_t baseline = ramGetStats().liveBlocks;
  {
    KvSeqDictionary dictionary;
    ASSERT_EQ(dictionary.addAssoc(uintptr_t{3}, uintptr_t{30}), kvSuccess);
    ASSERT_EQ(dictionary.addAssoc(uintptr_t{1}, uintptr_t{10}), kvSuccess);
    ASSERT_EQ(dictionary.addAssoc(uintptr_t{3}, uintptr_t{31}), kvSuccess);  // not checked: kept as a second entry
    EXPECT_EQ(dictionary.getCount(), 3);
    EXPECT_EQ(dictionary.getIndexForKey(uintptr_t{3}), 0);
    EXPECT_EQ(dictionary.getIntForKey(uintptr_t{3}), 30u);
    EXPECT_EQ(dictionary.getIntKeyAtIndex(2), 3u);
    EXPECT_EQ(dictionary.getIntDataAtIndex(2), 31u);
    EXPECT_EQ(dictionary.getIndexForKey(uintptr_t{2}), 3);
    EXPECT_EQ(dictionary.getIntForKey(uintptr_t{2}), 0u);
    EXPECT_EQ(dictionary.changeData(uintptr_t{1}, uintptr_t{11}), 1);
    EXPECT_EQ(dictionary.getIntForKey(uintptr_t{1}), 11u);
    EXPECT_EQ(dictionary.changeData(uintptr_t{2}, uintptr_t{11}), 0);

    Payload data(4);
    ASSERT_EQ(dictionary.addAssoc(uintptr_t{4}, &data), kvSuccess);
    EXPECT_EQ(dictionary.getPtrForKey(uintptr_t{4}), &data);
  }  // the destructor deletes the associations, not the data
  EXPECT_EQ(ramGetStats().liveBlocks, baseline);
}

}  // namespace
