// B-trees on a scratch store: sizes, random operations against std::map
// walked both ways (in trees whose nodes share pages and trees whose nodes
// fill them), deletion marks and their reuse, iterator positions after
// searches, and position trees against a model list.
#include "util/containers/tree.h"

#include "tests/util/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <utility>
#include <vector>

namespace {

// Every test runs with a keep-all error list current.
using TreeTest = ErrorCapturingTest;

// Keys and data of any length made from a number: the key starts with the
// number big-endian, so byte order is number order.
struct Codec {
  uint16_t keyLength, dataLength;
  std::vector<unsigned char> key(uint32_t n) const {
    std::vector<unsigned char> bytes(keyLength, static_cast<unsigned char>(n * 11));
    for (int i = 0; i < 4 && i < keyLength; ++i) bytes[i] = static_cast<unsigned char>(n >> (24 - 8 * i));
    return bytes;
  }
  uint32_t number(const unsigned char* key) const {
    uint32_t n = 0;
    for (int i = 0; i < 4 && i < keyLength; ++i) n = (n << 8) | key[i];
    return n;
  }
  std::vector<unsigned char> data(uint32_t value) const {
    std::vector<unsigned char> bytes(dataLength, static_cast<unsigned char>(value * 3 + 1));
    if (dataLength >= 4) memcpy(bytes.data(), &value, 4);
    return bytes;
  }
};

// Walks the whole tree forward with the internal iterator and backward with
// an external one; both must give the model in order.
void expectSameAsModel(KvTree* tree, const Codec& codec, const std::map<uint32_t, uint32_t>& model) {
  std::vector<unsigned char> key(codec.keyLength), data(codec.dataLength);
  uint32_t found = 0;
  auto it = model.begin();
  ASSERT_EQ(tree->getFirst(key.data(), data.data(), &found, nullptr), kvSuccess);
  for (; found; ++it) {
    ASSERT_NE(it, model.end()) << "walk forward gave more keys than the model has";
    ASSERT_EQ(codec.number(key.data()), it->first);
    ASSERT_EQ(data, codec.data(it->second)) << it->first;
    ASSERT_EQ(tree->getNext(key.data(), data.data(), &found, nullptr), kvSuccess);
  }
  EXPECT_EQ(it, model.end()) << "walk forward stopped early";

  KvTreeIterator backward;
  ASSERT_EQ(backward.initialize(tree), kvSuccess);
  auto rit = model.rbegin();
  ASSERT_EQ(tree->getLast(key.data(), data.data(), &found, &backward), kvSuccess);
  for (; found; ++rit) {
    ASSERT_NE(rit, model.rend()) << "walk backward gave more keys than the model has";
    ASSERT_EQ(codec.number(key.data()), rit->first);
    ASSERT_EQ(data, codec.data(rit->second));
    ASSERT_EQ(tree->getPrevious(key.data(), data.data(), &found, &backward), kvSuccess);
  }
  EXPECT_EQ(rit, model.rend()) << "walk backward stopped early";
  EXPECT_EQ(tree->getKeyCount(), model.size());
}

// Random adds, deletes, data and key changes and lookups, each checked
// against std::map, with whole walks both ways along the way.
void runAgainstMap(const Codec& codec, KvTreeCompare compare, uint32_t operations, uint32_t keyRange,
                   unsigned seed, KvTree* tree) {
  std::map<uint32_t, uint32_t> model;
  std::mt19937 random(seed);
  std::vector<unsigned char> data(codec.dataLength);
  for (uint32_t op = 1; op <= operations; ++op) {
    uint32_t n = random() % keyRange;
    uint32_t value = random();
    auto key = codec.key(n);
    uint32_t found = 7;
    bool present = model.count(n) != 0;
    switch (random() % 20) {
      case 0: case 1: case 2: case 3: case 4: case 5: case 6: case 7: case 8: {
        ASSERT_EQ(tree->add(key.data(), codec.data(value).data(), &found), kvSuccess);
        ASSERT_EQ(found, present ? 1u : 0u) << "add " << n;
        model.emplace(n, value);  // an existing key keeps its data
        break;
      }
      case 9: case 10: case 11: case 12: case 13: {
        ASSERT_EQ(tree->deleteKey(key.data(), &found), kvSuccess);
        ASSERT_EQ(found, present ? 1u : 0u) << "delete " << n;
        model.erase(n);
        break;
      }
      case 14: case 15: {
        ASSERT_EQ(tree->changeData(key.data(), codec.data(value).data()), kvSuccess);
        if (present) model[n] = value;
        break;
      }
      case 16: {
        uint32_t to = random() % keyRange;
        ASSERT_EQ(tree->changeKey(key.data(), codec.key(to).data()), kvSuccess);
        if (present) {
          uint32_t moved = model[n];
          model.erase(n);
          model.emplace(to, moved);
        }
        break;
      }
      default: {
        ASSERT_EQ(tree->getData(key.data(), data.data(), &found), kvSuccess);
        ASSERT_EQ(found, present ? 1u : 0u) << "getData " << n;
        if (present) {
          ASSERT_EQ(data, codec.data(model[n])) << n;
        }
        break;
      }
    }
    if (op % 20000 == 0 || op == operations) {
      SCOPED_TRACE(testing::Message() << "after operation " << op);
      expectSameAsModel(tree, codec, model);
      if (testing::Test::HasFatalFailure()) return;
    }
  }
}

// ---------------------------------------------------------------- sizes

TEST_F(TreeTest, EntryAndNodeSizes) {
  struct Case {
    uint16_t keyLength, dataLength;
    uint32_t marks;
    uint16_t entrySize, maxLinks, nodeSize;
  } cases[] = {
      {4, 4, 0, 12, 49, 588},   // 48 keys a node
      {4, 4, 1, 16, 49, 780},
      {1, 0, 0, 8, 49, 396},    // 5 bytes, even 6, multiple of 4: 8
      {100, 20, 1, 128, 16, 1932},
      {1000, 10, 1, 1016, 3, 2044},  // the smallest node that can split
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.keyLength << "+" << c.dataLength << " marks " << c.marks);
    KvTree tree(c.keyLength, c.dataLength, nullptr, c.marks);
    EXPECT_EQ(tree.getEntrySize(), c.entrySize);
    EXPECT_EQ(tree.getMaxLinks(), c.maxLinks);
    EXPECT_EQ(tree.getNodeSize(), c.nodeSize);
    EXPECT_LE(tree.getNodeSize(), 2048);
  }
}

TEST_F(TreeTest, EntriesTooLargeForTwoANodeAreRefused) {
  KvTree tree(1000, 20, nullptr, 1);  // entry 1028 bytes: one key a node
  Codec codec{1000, 20};
  uint32_t found = 7;
  EXPECT_EQ(tree.add(codec.key(1).data(), codec.data(1).data(), &found), kvFailure);
  EXPECT_EQ(errors(), std::vector<uint16_t>{1517});
  EXPECT_EQ(tree.getKeyCount(), 0u);
  EXPECT_EQ(tree.getRoot(), 0u);
  ASSERT_EQ(tree.getFirst(nullptr, nullptr, &found, nullptr), kvSuccess);
  EXPECT_EQ(found, 0u);
}

// ---------------------------------------------------------------- against std::map

// Small entries: several nodes share each store page, so a shift that
// moved a whole entry into a node's link-only last slot would overwrite
// the next node. The tree outgrows the 32 KB cache and spills.
TEST_F(TreeTest, RandomOperationsMatchMapWithSmallEntries) {
  Codec codec{4, 4};
  KvTree tree(4, 4, nullptr, 1);
  runAgainstMap(codec, nullptr, 100000, 20000, 1234, &tree);
  EXPECT_NE(tree.getStore()->getFirstFileName(), nullptr) << "the tree should have spilled";
  EXPECT_GE(tree.getDeepestSearch(), 3);
}

TEST_F(TreeTest, RandomOperationsMatchMapWithACompareFunction) {
  // Little-endian numbers compared as numbers, not as bytes.
  KvTree tree(4, 8, treeU32Compare, 1);
  std::map<uint32_t, uint32_t> model;
  std::mt19937 random(99);
  for (int op = 0; op < 30000; ++op) {
    uint32_t n = random() % 5000, found = 0;
    uint64_t data = uint64_t(n) * 1000003u;
    if (random() % 3) {
      ASSERT_EQ(tree.add(&n, &data, &found), kvSuccess);
      model.emplace(n, 0);
    } else {
      ASSERT_EQ(tree.deleteKey(&n, &found), kvSuccess);
      model.erase(n);
    }
  }
  uint32_t key = 0, found = 0;
  uint64_t data = 0;
  auto it = model.begin();
  ASSERT_EQ(tree.getFirst(&key, &data, &found, nullptr), kvSuccess);
  for (; found; ++it) {
    ASSERT_NE(it, model.end());
    ASSERT_EQ(key, it->first);
    ASSERT_EQ(data, uint64_t(key) * 1000003u);
    ASSERT_EQ(tree.getNext(&key, &data, &found, nullptr), kvSuccess);
  }
  EXPECT_EQ(it, model.end());
}

// Large entries: every node fills a store page and a node holds three keys,
// so splits run through many levels and the three nodes of a split (the
// node, its new neighbour, the parent) keep displacing one another from the
// 16-page cache: no node pointer may outlive the next store call.
TEST_F(TreeTest, RandomOperationsMatchMapWithPageSizedNodes) {
  Codec codec{500, 12};
  KvTree tree(500, 12, nullptr, 1);
  ASSERT_EQ(tree.getMaxLinks(), 4);
  runAgainstMap(codec, nullptr, 20000, 3000, 77, &tree);
  EXPECT_GE(tree.getDeepestSearch(), 6);
}

TEST_F(TreeTest, RandomOperationsMatchMapWithTwoKeysANode) {
  Codec codec{1000, 10};
  KvTree tree(1000, 10, nullptr, 1);
  ASSERT_EQ(tree.getMaxLinks(), 3);
  runAgainstMap(codec, nullptr, 6000, 800, 5, &tree);
}

// ---------------------------------------------------------------- single behaviours

TEST_F(TreeTest, AddingAnExistingKeyKeepsItsData) {
  KvTree tree(4, 4, treeU32Compare, 0);
  for (uint32_t n = 0; n < 200; ++n) {
    uint32_t data = n + 1000, found = 7;
    ASSERT_EQ(tree.add(&n, &data, &found), kvSuccess);
    EXPECT_EQ(found, 0u);
  }
  for (uint32_t n : {0u, 57u, 199u}) {
    uint32_t data = 5, found = 0;
    ASSERT_EQ(tree.add(&n, &data, &found), kvSuccess);
    EXPECT_EQ(found, 1u);
    ASSERT_EQ(tree.getData(&n, &data, &found), kvSuccess);
    EXPECT_EQ(data, n + 1000);
  }
  EXPECT_EQ(tree.getKeyCount(), 200u);
}

TEST_F(TreeTest, TheOnlyKeyOfALeafStaysMarkedAndIsReused) {
  KvTree tree(4, 4, treeU32Compare, 1);
  uint32_t key = 42, data = 1, found = 0;
  ASSERT_EQ(tree.add(&key, &data, &found), kvSuccess);
  uint32_t end = tree.getStore()->getEndOffset();
  ASSERT_EQ(tree.deleteKey(&key, &found), kvSuccess);
  EXPECT_EQ(found, 1u);
  EXPECT_EQ(tree.getKeyCount(), 0u);
  EXPECT_NE(tree.getRoot(), 0u) << "the marked entry stays in the root";
  ASSERT_EQ(tree.doesExist(&key, &found), kvSuccess);
  EXPECT_EQ(found, 0u);
  ASSERT_EQ(tree.getFirst(nullptr, nullptr, &found, nullptr), kvSuccess);
  EXPECT_EQ(found, 0u);
  ASSERT_EQ(tree.getLast(nullptr, nullptr, &found, nullptr), kvSuccess);
  EXPECT_EQ(found, 0u);
  data = 2;
  ASSERT_EQ(tree.add(&key, &data, &found), kvSuccess);
  EXPECT_EQ(found, 0u);
  EXPECT_EQ(tree.getNodesMade(), 1u);
  EXPECT_EQ(tree.getStore()->getEndOffset(), end);
  ASSERT_EQ(tree.getData(&key, &data, &found), kvSuccess);
  EXPECT_EQ(found, 1u);
  EXPECT_EQ(data, 2u);
}

// Deleting and adding the same keys again and again reuses their places:
// after the first round the store does not grow.
TEST_F(TreeTest, DeletedEntriesAreReused) {
  Codec codec{500, 12};  // small nodes: many leaves hold a single key
  KvTree tree(500, 12, nullptr, 1);
  std::vector<uint32_t> keys;
  for (uint32_t n = 0; n < 400; ++n) keys.push_back(n * 2);
  std::shuffle(keys.begin(), keys.end(), std::mt19937(3));
  uint32_t found = 0;
  for (uint32_t n : keys) ASSERT_EQ(tree.add(codec.key(n).data(), codec.data(n).data(), &found), kvSuccess);
  uint32_t end = 0;
  for (int round = 0; round < 4; ++round) {
    for (uint32_t n : keys) {
      ASSERT_EQ(tree.deleteKey(codec.key(n).data(), &found), kvSuccess);
      ASSERT_EQ(found, 1u);
    }
    EXPECT_EQ(tree.getKeyCount(), 0u);
    for (uint32_t n : keys) {
      ASSERT_EQ(tree.add(codec.key(n).data(), codec.data(n + round).data(), &found), kvSuccess);
      ASSERT_EQ(found, 0u);
    }
    if (round == 0) end = tree.getStore()->getEndOffset();
    else EXPECT_EQ(tree.getStore()->getEndOffset(), end) << "round " << round;
  }
  std::map<uint32_t, uint32_t> model;
  for (uint32_t n : keys) model[n] = n + 3;
  expectSameAsModel(&tree, codec, model);
}

// After a search the internal iterator stands at the searched position:
// getNext gives the first greater key, getPrevious the first smaller.
TEST_F(TreeTest, WalkingOnFromASearch) {
  KvTree tree(4, 4, treeU32Compare, 1);
  std::set<uint32_t> keys;
  uint32_t found = 0;
  for (uint32_t n = 10; n <= 20000; n += 10) {
    uint32_t data = n;
    ASSERT_EQ(tree.add(&n, &data, &found), kvSuccess);
    keys.insert(n);
  }
  for (uint32_t n = 70; n <= 20000; n += 70) {  // marked and removed entries alike
    ASSERT_EQ(tree.deleteKey(&n, &found), kvSuccess);
    keys.erase(n);
  }
  ASSERT_GE(tree.getDeepestSearch(), 3);
  for (uint32_t probe = 0; probe <= 20010; probe += 3) {
    SCOPED_TRACE(probe);
    uint32_t key = 0, data = 0;
    ASSERT_EQ(tree.getData(&probe, &data, &found), kvSuccess);
    ASSERT_EQ(found, keys.count(probe));
    auto after = keys.upper_bound(probe);
    ASSERT_EQ(tree.getNext(&key, &data, &found, nullptr), kvSuccess);
    ASSERT_EQ(found, after != keys.end() ? 1u : 0u);
    if (found) {
      ASSERT_EQ(key, *after);
    }
    if (found) {
      ASSERT_EQ(data, *after);
    }

    ASSERT_EQ(tree.getData(&probe, &data, &found), kvSuccess);
    auto before = keys.lower_bound(probe);
    ASSERT_EQ(tree.getPrevious(&key, nullptr, &found, nullptr), kvSuccess);
    ASSERT_EQ(found, before != keys.begin() ? 1u : 0u);
    if (found) {
      ASSERT_EQ(key, *std::prev(before));
    }
  }
}

TEST_F(TreeTest, WalkEndsTurnAround) {
  KvTree tree(4, 4, treeU32Compare, 0);
  uint32_t key = 0, found = 0;
  ASSERT_EQ(tree.getNext(&key, nullptr, &found, nullptr), kvSuccess);
  EXPECT_EQ(found, 0u) << "empty tree";
  for (uint32_t n = 1; n <= 100; ++n) ASSERT_EQ(tree.add(&n, &n, &found), kvSuccess);
  KvTreeIterator it;
  ASSERT_EQ(it.initialize(&tree), kvSuccess);
  // An unpositioned iterator starts at either end.
  ASSERT_EQ(tree.getPrevious(&key, nullptr, &found, &it), kvSuccess);
  EXPECT_EQ(key, 100u);
  ASSERT_EQ(tree.getNext(&key, nullptr, &found, &it), kvSuccess);
  EXPECT_EQ(found, 0u) << "past the last key";
  ASSERT_EQ(tree.getNext(&key, nullptr, &found, &it), kvSuccess);
  EXPECT_EQ(found, 0u) << "stays past the end";
  ASSERT_EQ(tree.getPrevious(&key, nullptr, &found, &it), kvSuccess);
  EXPECT_EQ(key, 100u) << "and turns back to the last";
  ASSERT_EQ(tree.getFirst(&key, nullptr, &found, &it), kvSuccess);
  EXPECT_EQ(key, 1u);
  ASSERT_EQ(tree.getPrevious(&key, nullptr, &found, &it), kvSuccess);
  EXPECT_EQ(found, 0u) << "before the first key";
  ASSERT_EQ(tree.getNext(&key, nullptr, &found, &it), kvSuccess);
  EXPECT_EQ(found, 1u);
  EXPECT_EQ(key, 1u) << "starts over at the first";
}

TEST_F(TreeTest, ChangeKeyMovesTheData) {
  KvTree tree(4, 4, treeU32Compare, 1);
  uint32_t found = 0;
  for (uint32_t n = 1; n <= 300; ++n) {
    uint32_t data = n * 10;
    ASSERT_EQ(tree.add(&n, &data, &found), kvSuccess);
  }
  struct Case {
    uint32_t from, to;
    uint32_t fromAfter, toData;  // fromAfter: found after; toData: data of to
  } cases[] = {
      {5, 1000, 0, 50},   // to a new key
      {999, 7, 0, 70},    // a missing key: nothing happens
      {8, 9, 0, 90},      // to a live key: that key keeps its own data
      {20, 20, 1, 200},   // to itself
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.from << " -> " << c.to);
    ASSERT_EQ(tree.changeKey(&c.from, &c.to), kvSuccess);
    uint32_t data = 0;
    ASSERT_EQ(tree.doesExist(&c.from, &found), kvSuccess);
    if (c.from != c.to && c.from != 999) {
      EXPECT_EQ(found, c.fromAfter);
    }
    ASSERT_EQ(tree.getData(&c.to, &data, &found), kvSuccess);
    EXPECT_EQ(found, 1u);
    EXPECT_EQ(data, c.toData);
  }
  EXPECT_EQ(tree.getKeyCount(), 299u);
}

TEST_F(TreeTest, ResetEmptiesTreeAndStore) {
  KvTree tree(4, 4, treeU32Compare, 0);
  uint32_t found = 0;
  for (uint32_t n = 0; n < 5000; ++n) ASSERT_EQ(tree.add(&n, &n, &found), kvSuccess);
  tree.reset();
  EXPECT_EQ(tree.getKeyCount(), 0u);
  EXPECT_EQ(tree.getRoot(), 0u);
  EXPECT_EQ(tree.getStore()->getFirstFileName(), nullptr);
  ASSERT_EQ(tree.getFirst(nullptr, nullptr, &found, nullptr), kvSuccess);
  EXPECT_EQ(found, 0u);
  uint32_t n = 3, data = 0;
  ASSERT_EQ(tree.add(&n, &n, &found), kvSuccess);
  ASSERT_EQ(tree.getData(&n, &data, &found), kvSuccess);
  EXPECT_EQ(data, 3u);
}

TEST_F(TreeTest, MisuseIsRefused) {
  KvTree plain(4, 4, treeU32Compare, 0);
  KvTree other(4, 4, treeU32Compare, 1);
  uint32_t n = 1, m = 2, found = 0;
  ASSERT_EQ(plain.add(&n, &n, &found), kvSuccess);
  EXPECT_EQ(plain.deleteKey(&n, &found), kvFailure) << "no deletion marks";
  EXPECT_EQ(plain.changeKey(&n, &m), kvFailure);
  KvTreeIterator foreign;
  ASSERT_EQ(foreign.initialize(&other), kvSuccess);
  EXPECT_EQ(plain.getFirst(nullptr, nullptr, &found, &foreign), kvFailure);
  EXPECT_EQ(errors(), (std::vector<uint16_t>{1517, 1517, 1517}));
  ASSERT_EQ(plain.getData(&n, nullptr, &found), kvSuccess);
  EXPECT_EQ(found, 1u);
}

// ---------------------------------------------------------------- position trees

// The list model: (position, data) in position order.
using PList = std::vector<std::pair<uint32_t, uint32_t>>;

void modelShift(PList* list, uint32_t from, int by) {
  for (auto& item : *list)
    if (item.first >= from) item.first += by;
}

// Positions and the first four data bytes of every item, both ways.
void expectSameAsList(KvPTree* tree, const PList& list) {
  std::vector<unsigned char> bytes(tree->getDataLength());
  auto data = [&] {
    uint32_t value;
    memcpy(&value, bytes.data(), 4);
    return value;
  };
  uint32_t position = 0, found = 0;
  size_t i = 0;
  ASSERT_EQ(tree->getFirst(&position, bytes.data(), &found, nullptr), kvSuccess);
  for (; found; ++i) {
    ASSERT_LT(i, list.size());
    ASSERT_EQ(position, list[i].first) << "item " << i;
    ASSERT_EQ(data(), list[i].second) << "item " << i;
    ASSERT_EQ(tree->getNext(&position, bytes.data(), &found, nullptr), kvSuccess);
  }
  EXPECT_EQ(i, list.size());
  KvTreeIterator backward;
  ASSERT_EQ(backward.initialize(tree), kvSuccess);
  ASSERT_EQ(tree->getLast(&position, bytes.data(), &found, &backward), kvSuccess);
  for (i = list.size(); found; --i) {
    ASSERT_GT(i, 0u);
    ASSERT_EQ(position, list[i - 1].first);
    ASSERT_EQ(data(), list[i - 1].second);
    ASSERT_EQ(tree->getPrevious(&position, bytes.data(), &found, &backward), kvSuccess);
  }
  EXPECT_EQ(i, 0u);
  EXPECT_EQ(tree->getKeyCount(), list.size());
}

TEST_F(TreeTest, PositionTreeScript) {
  KvPTree tree(4);
  struct Step {
    char op;  // a add at, h hole at, d delete at
    uint32_t position, data;
    PList after;
  } steps[] = {
      {'a', 0, 1, {{0, 1}}},
      {'a', 0, 2, {{0, 2}, {1, 1}}},
      {'a', 1, 3, {{0, 2}, {1, 3}, {2, 1}}},
      {'a', 10, 4, {{0, 2}, {1, 3}, {2, 1}, {10, 4}}},
      {'h', 1, 0, {{0, 2}, {2, 3}, {3, 1}, {11, 4}}},
      {'d', 5, 0, {{0, 2}, {2, 3}, {3, 1}, {10, 4}}},  // a hole goes: later items move down
      {'d', 2, 0, {{0, 2}, {2, 1}, {9, 4}}},
      {'d', 0, 0, {{1, 1}, {8, 4}}},
      {'a', 1, 5, {{1, 5}, {2, 1}, {9, 4}}},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(testing::Message() << s.op << " " << s.position);
    uint32_t found = 0;
    if (s.op == 'a') {
      ASSERT_EQ(tree.addAtPos(s.position, &s.data), kvSuccess);
    }
    if (s.op == 'h') {
      ASSERT_EQ(tree.addHoleAtPos(s.position), kvSuccess);
    }
    if (s.op == 'd') {
      ASSERT_EQ(tree.deleteKeyAtPos(s.position, &found), kvSuccess);
    }
    expectSameAsList(&tree, s.after);
  }
  uint32_t position = 2, data = 0, found = 0;
  ASSERT_EQ(tree.getData(&position, &data, &found), kvSuccess);
  EXPECT_EQ(found, 1u);
  EXPECT_EQ(data, 1u);
}

void runPositionTree(uint16_t dataLength, uint32_t operations, unsigned seed) {
  KvPTree tree(dataLength);
  PList list;
  std::mt19937 random(seed);
  std::vector<unsigned char> data(dataLength);
  for (uint32_t op = 1; op <= operations; ++op) {
    uint32_t top = list.empty() ? 4 : list.back().first + 4;
    uint32_t position = random() % top;
    uint32_t value = random();
    uint32_t found = 7;
    auto at = std::lower_bound(list.begin(), list.end(), std::make_pair(position, 0u),
                               [](const auto& a, const auto& b) { return a.first < b.first; });
    bool present = at != list.end() && at->first == position;
    switch (random() % 10) {
      case 0: case 1: case 2: case 3: case 4: {
        memset(data.data(), 0, dataLength);
        memcpy(data.data(), &value, 4);
        ASSERT_EQ(tree.addAtPos(position, data.data()), kvSuccess);
        modelShift(&list, position, 1);
        list.insert(at, {position, value});
        break;
      }
      case 5: {
        ASSERT_EQ(tree.addHoleAtPos(position), kvSuccess);
        modelShift(&list, position, 1);
        break;
      }
      case 6: case 7: case 8: {
        ASSERT_EQ(tree.deleteKeyAtPos(position, &found), kvSuccess);
        ASSERT_EQ(found, present ? 1u : 0u) << "delete at " << position;
        if (present) list.erase(at);
        modelShift(&list, position + 1, -1);
        break;
      }
      default: {
        ASSERT_EQ(tree.getData(&position, data.data(), &found), kvSuccess);
        ASSERT_EQ(found, present ? 1u : 0u) << "get " << position;
        if (present) {
          ASSERT_EQ(memcmp(data.data(), &at->second, 4), 0);
        }
        break;
      }
    }
    if (op % 5000 == 0 || op == operations) {
      SCOPED_TRACE(testing::Message() << "after operation " << op);
      expectSameAsList(&tree, list);
      if (testing::Test::HasFatalFailure()) return;
    }
  }
}

TEST_F(TreeTest, PositionTreeMatchesAListModel) { runPositionTree(4, 30000, 11); }

// Four links a node: deep trees, splits at every level and deletions that
// mark inner entries whose right subtrees must move down with the list.
TEST_F(TreeTest, PositionTreeWithSmallNodesMatchesAListModel) { runPositionTree(600, 8000, 12); }

TEST_F(TreeTest, PositionsNeverMovePastTheTop) {
  KvPTree tree(4);
  uint32_t data = 9, found = 0;
  ASSERT_EQ(tree.addAtPos(0xFFFFFFFFu, &data), kvSuccess);
  ASSERT_EQ(tree.addAtPos(3, &data), kvFailure);
  ASSERT_EQ(tree.addHoleAtPos(0xFFFFFFFFu), kvFailure);
  EXPECT_EQ(errors(), (std::vector<uint16_t>{1517, 1517}));
  ASSERT_EQ(tree.deleteKeyAtPos(3, &found), kvSuccess);
  EXPECT_EQ(found, 0u);
  ASSERT_EQ(tree.addAtPos(3, &data), kvSuccess);
  expectSameAsList(&tree, {{3, 9}, {0xFFFFFFFFu, 9}});
}

}  // namespace
