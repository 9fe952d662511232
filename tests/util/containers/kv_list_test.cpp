// Tests of the circular list: linking and unlinking at every position, the
// cursor's walk, and unlink of nodes the list does not hold.
#include "util/containers/kv_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

int liveNodes = 0;

class NamedNode : public KvNode {
 public:
  explicit NamedNode(char name) : name(name) { ++liveNodes; }
  ~NamedNode() override { --liveNodes; }
  char name;
};

// The names in list order, read through the links without the cursor; the
// walk is bounded so that a broken ring shows as a wrong string, not a hang.
std::string order(const KvList& list) {
  std::string names;
  KvNode* node = list.peekFirst();
  for (uint32_t i = 0; node && i < list.getCount() + 2; ++i) {
    names += static_cast<NamedNode*>(node)->name;
    if (node == list.peekLast()) break;
    node = node->getNext();
  }
  return names;
}

// Owns the nodes of a test; each list starts with nodes A, B, C... appended.
struct ListFixture {
  explicit ListFixture(const char* names) {
    for (const char* p = names; *p; ++p) {
      nodes.push_back(new NamedNode(*p));
      list.append(nodes.back());
    }
  }
  ~ListFixture() {
    while (list.removeFirstNode()) {
    }
    for (NamedNode* node : nodes) delete node;
  }
  KvList list;
  std::vector<NamedNode*> nodes;
};

TEST(KvListTest, InsertAndAppendBuildTheRing) {
  KvList list;
  NamedNode a('A'), b('B'), c('C');
  list.append(&b);
  list.insert(&a);
  list.append(&c);
  EXPECT_EQ(order(list), "ABC");
  EXPECT_EQ(list.getCount(), 3u);
  EXPECT_EQ(list.peekLast(), &c);
  EXPECT_EQ(c.getNext(), &a);  // the tail names the first node
  while (list.removeFirstNode()) {
  }
}

TEST(KvListTest, InsertAtPosPlacesTheNode) {
  struct Case {
    const char* start;
    uint32_t pos;
    const char* expected;
  };
  const Case cases[] = {
      {"", 0, "X"},      {"ABC", 0, "XABC"}, {"ABC", 1, "AXBC"},
      {"ABC", 2, "ABXC"}, {"ABC", 3, "ABCX"}, {"A", 1, "AX"},
  };
  for (const Case& c : cases) {
    ListFixture f(c.start);
    NamedNode x('X');
    f.list.insertAtPos(&x, c.pos);
    EXPECT_EQ(order(f.list), c.expected) << c.start << " at " << c.pos;
    EXPECT_EQ(static_cast<NamedNode*>(f.list.peekLast())->name, c.expected[strlen(c.expected) - 1]);
    f.list.unlink(&x);
  }
}

TEST(KvListTest, MoveLastNodeToPos) {
  struct Case {
    const char* start;
    uint32_t pos;
    const char* expected;
  };
  const Case cases[] = {
      {"ABCD", 0, "DABC"}, {"ABCD", 1, "ADBC"}, {"ABCD", 3, "ABCD"},
      {"A", 0, "A"},       {"", 0, ""},
  };
  for (const Case& c : cases) {
    ListFixture f(c.start);
    f.list.moveLastNodeToPos(c.pos);
    EXPECT_EQ(order(f.list), c.expected) << c.start << " to " << c.pos;
    EXPECT_EQ(f.list.getCount(), strlen(c.start));
  }
}

TEST(KvListTest, UnlinkAtEveryPosition) {
  struct Case {
    const char* start;
    int index;  // of the node unlinked
    const char* expected;
  };
  const Case cases[] = {
      {"ABC", 0, "BC"}, {"ABC", 1, "AC"}, {"ABC", 2, "AB"}, {"A", 0, ""},
  };
  for (const Case& c : cases) {
    ListFixture f(c.start);
    NamedNode* node = f.nodes[c.index];
    f.list.unlink(node);
    EXPECT_EQ(order(f.list), c.expected) << c.start << " without " << node->name;
    EXPECT_EQ(f.list.getCount(), strlen(c.expected));
    EXPECT_EQ(node->getNext(), nullptr);
  }
}

TEST(KvListTest, UnlinkOfTheOnlyNodeEmptiesTheList) {
  ListFixture f("A");
  f.list.getFirstNode();
  f.list.unlink(f.nodes[0]);
  EXPECT_TRUE(f.list.isEmpty());
  EXPECT_EQ(f.list.peekFirst(), nullptr);
  EXPECT_EQ(f.list.peekLast(), nullptr);
  EXPECT_EQ(f.list.getFirstNode(), nullptr);
  EXPECT_EQ(f.list.getNextNode(), nullptr);
  // The list is usable again.
  f.list.append(f.nodes[0]);
  EXPECT_EQ(order(f.list), "A");
}

TEST(KvListTest, UnlinkingTheCursorsNodeClearsTheCursor) {
  ListFixture f("ABC");
  EXPECT_EQ(f.list.getFirstNode(), f.nodes[0]);
  EXPECT_EQ(f.list.getNextNode(), f.nodes[1]);
  f.list.unlink(f.nodes[1]);
  // With the cursor cleared the walk starts again at the first node instead
  // of following the unlinked node's cleared link.
  EXPECT_EQ(f.list.getNextNode(), f.nodes[0]);
  EXPECT_EQ(f.list.getNextNode(), f.nodes[2]);
}

TEST(KvListTest, UnlinkOfANodeTheListDoesNotHoldChangesNothing) {
  ListFixture mine("ABC");
  ListFixture other("XY");
  NamedNode loose('L');
  mine.list.unlink(other.nodes[0]);  // linked, but in another ring
  mine.list.unlink(&loose);          // not linked at all
  mine.list.unlink(nullptr);
  EXPECT_EQ(order(mine.list), "ABC");
  EXPECT_EQ(mine.list.getCount(), 3u);
  EXPECT_EQ(order(other.list), "XY");
  EXPECT_EQ(other.list.getCount(), 2u);
  KvList empty;
  empty.unlink(mine.nodes[0]);
  EXPECT_TRUE(empty.isEmpty());
  EXPECT_EQ(order(mine.list), "ABC");
}

TEST(KvListTest, CursorWalk) {
  ListFixture f("ABC");
  // Without a cursor the next node is the first.
  EXPECT_EQ(f.list.getNextNode(), f.nodes[0]);
  EXPECT_EQ(f.list.getNextNode(), f.nodes[1]);
  EXPECT_EQ(f.list.getNextNode(), f.nodes[2]);
  EXPECT_EQ(f.list.getNextNode(), nullptr);  // past the tail, cursor cleared
  EXPECT_EQ(f.list.getNextNode(), f.nodes[0]);
  EXPECT_EQ(f.list.getLastNode(), f.nodes[2]);
  EXPECT_EQ(f.list.getNextNode(), nullptr);

  const char expected[] = {'A', 'B', 'C'};
  for (uint32_t pos = 0; pos < 3; ++pos) {
    EXPECT_EQ(static_cast<NamedNode*>(f.list.getNodeAtPos(pos))->name, expected[pos]);
  }
  EXPECT_EQ(f.list.getNodeAtPos(3), nullptr);

  KvList empty;
  EXPECT_EQ(empty.getFirstNode(), nullptr);
  EXPECT_EQ(empty.getLastNode(), nullptr);
  EXPECT_EQ(empty.getNextNode(), nullptr);
  EXPECT_EQ(empty.getNodeAtPos(0), nullptr);
}

TEST(KvListTest, RemoveFirstAndLast) {
  ListFixture f("ABC");
  EXPECT_EQ(f.list.removeFirstNode(), f.nodes[0]);
  EXPECT_EQ(f.list.removeLastNode(), f.nodes[2]);
  EXPECT_EQ(order(f.list), "B");
  EXPECT_EQ(f.list.removeLastNode(), f.nodes[1]);
  EXPECT_EQ(f.list.removeFirstNode(), nullptr);
  EXPECT_EQ(f.list.removeLastNode(), nullptr);
}

TEST(KvListTest, DeleteNodesDeletesEveryNode) {
  liveNodes = 0;
  KvList list;
  for (char name : std::string("ABCD")) list.append(new NamedNode(name));
  ASSERT_EQ(liveNodes, 4);
  list.getFirstNode();
  list.deleteNodes();
  EXPECT_EQ(liveNodes, 0);
  EXPECT_TRUE(list.isEmpty());
  EXPECT_EQ(list.getNextNode(), nullptr);
}

}  // namespace
