// KvTree: an ordered map of fixed-length keys to fixed-length data, kept as
// a B-tree whose nodes live in the tree's own KvTmpFile, so it can grow past
// memory (the file SQL engine keeps each table's change log index in one).
// KvTreeIterator walks it in key order; KvPTree is the variant addressed by
// position, a list whose items move up or down when an item is inserted or
// deleted before them.
//
// Sizes (bytes):
//   entry size E  = key + data + 4 link bytes (+ 1 mark byte with deletion
//                   marks), rounded up to even, then to a multiple of 4
//   maximum links M = min(2036 / E + 1, 49); a node holds M - 1 keys
//   node size     = (M - 1) * E + 12, at most 2048; nodes are taken with
//                   getContiguousSpace, so a node never crosses a store page
// A tree needs M >= 3 (two keys a node) to split; key and data lengths that
// give E > 1018 are refused by add with 1517 "Invalid Parameter".
//
// Node layout in the store (integers in the machine's own order: the store
// is private to the process):
//   0   u16  link count: keys + 1
//   2   u16  pending adjustment (position trees; always 0 between calls)
//   4   u32  the node's own store offset
//   8   M entries of E bytes, entry i:
//         0      u32  link i: subtree of the keys before key i (0 in a leaf)
//         4      key i
//         4+K    data i
//         4+K+D  mark byte, 1 = deleted (deletion marks only); padding
//       the entry at index link count - 1 holds only the rightmost link, and
//       the last entry of a node has room for nothing else.
//
// Deletion marks: a deleted key stays in an inner node (or a leaf's only
// key) marked, and is skipped by searches and walks; an add whose place is
// a marked leaf entry reuses it. Live keys equal to a marked key always lie
// to its left (searches go left at a marked equal key), except in position
// trees, where a marked key k stands for the gap just before position k.
//
// Position trees: every key is stored relative to the base of its node; the
// root's base is 0, the child at link 0 shares its parent's base, and the
// child at link j > 0 has the base + key j-1 of its parent as its own. The
// absolute position of an entry is its node's base + its key.
//
// Node pointers from tmpPointer are used only until the next store call:
// a split copies the node it divides into a work buffer and writes both
// halves (and a new root) back with tmpWrite.
#pragma once

#include "util/files/tmp_file.h"

class KvTree;

// Compares two keys: negative, 0 or positive.
typedef int16_t (*KvTreeCompare)(const void* a, const void* b, uint32_t keyLength);

// Two unsigned 32-bit keys (machine order): -1, 0 or 1.
KV_UTIL_API int16_t treeU32Compare(const void* a, const void* b, uint32_t keyLength);

// A position in a tree: the path from the root to the current key.
class KV_UTIL_API KvTreeIterator : public KvObject {
 public:
  enum : uint32_t {
    beforeFirst = 0xFFFF,  // index of the root before the first key
    flagOnKey = 0x1,       // on the key at the top of the path; else at the
                           // gap before it (left by an unmatched search)
  };

  KvTreeIterator();
  ~KvTreeIterator() override;

  // Binds the iterator to a tree, unpositioned.
  KvStatus initialize(KvTree* tree);
  // Unpositioned: the next getNext starts with the first key, the next
  // getPrevious with the last.
  void clear();

  KvTree* getTree() const { return tree_; }
  uint16_t getDepth() const { return nodes_.getCount(); }

 private:
  friend class KvTree;
  friend class KvPTree;

  KV_LOCAL KvStatus push(uint32_t node, uint32_t index);
  uint32_t topNode() const { return nodes_.getAt(nodes_.getCount() - 1); }
  uint32_t topIndex() const { return indexes_.getAt(indexes_.getCount() - 1); }
  void setTopIndex(uint32_t index) { indexes_.setAt(indexes_.getCount() - 1, index); }
  void pop() {
    nodes_.setCount(nodes_.getCount() - 1);
    indexes_.setCount(indexes_.getCount() - 1);
  }

  KvTree* tree_ = nullptr;
  KvArrayU32 nodes_;    // node offsets, root first
  KvArrayU32 indexes_;  // per node: the link descended, or the key index
  uint32_t positionSum_ = 0;  // position trees: the base of the top node
  uint32_t flags_ = 0;
};

class KV_UTIL_API KvTree : public KvObject {
 public:
  enum : uint32_t {
    flagDeletionMarks = 0x1,
    flagPositionTree = 0x2,
    treeMaxLinks = 49,
    treeNodeRoom = 2036,  // node bytes shared by the entries
    treeHeaderBytes = 8,
    treeStoreCache = 32768,
  };

  // compare null: unsigned byte comparison of the keys.
  KvTree(uint16_t keyLength, uint16_t dataLength, KvTreeCompare compare, uint32_t deletionMarks);
  ~KvTree() override;

  // Inserts key with data unless a live equal key exists; found (may be
  // null) reports that key, whose data is then kept.
  KvStatus add(const void* key, const void* data, uint32_t* found);
  // Marks the key deleted (and removes it from a leaf holding others).
  // Needs deletion marks (1517 without).
  KvStatus deleteKey(const void* key, uint32_t* found);
  // Copies the key's data into data (may be null).
  KvStatus getData(const void* key, void* data, uint32_t* found);
  KvStatus doesExist(const void* key, uint32_t* found);
  // Replaces the key's data; nothing happens when the key is missing.
  KvStatus changeData(const void* key, const void* data);
  // Deletes oldKey and adds newKey with its data (the status of that add;
  // an existing live newKey keeps its own data). Nothing happens when
  // oldKey is missing. Needs deletion marks (1517 without).
  KvStatus changeKey(const void* oldKey, const void* newKey);
  // Empties the tree and its store.
  void reset();

  // Copy the key and data (either may be null) of the next live entry in
  // the given direction; found 0 at the end. A null iterator means the
  // internal one, which searches leave at the searched position (so
  // getNext after an unmatched getData gives the first greater key) and
  // changes of the tree clear. An external iterator must be restarted with
  // getFirst or getLast after the tree changes.
  virtual KvStatus getFirst(void* key, void* data, uint32_t* found, KvTreeIterator* iterator);
  virtual KvStatus getNext(void* key, void* data, uint32_t* found, KvTreeIterator* iterator);
  virtual KvStatus getPrevious(void* key, void* data, uint32_t* found, KvTreeIterator* iterator);
  virtual KvStatus getLast(void* key, void* data, uint32_t* found, KvTreeIterator* iterator);

  uint16_t getKeyLength() const { return keyLength_; }
  uint16_t getDataLength() const { return dataLength_; }
  uint16_t getMaxLinks() const { return maxLinks_; }
  uint16_t getEntrySize() const { return entrySize_; }
  uint16_t getNodeSize() const { return nodeSize_; }
  uint32_t getKeyCount() const { return keyCount_; }
  uint32_t getNodesMade() const { return nodesMade_; }
  uint16_t getDeepestSearch() const { return deepestSearch_; }
  uint16_t getLastSearchDepth() const { return lastSearchDepth_; }
  uint32_t getRoot() const { return root_; }
  KvTmpFile* getStore() { return &store_; }

 protected:
  // Searches key from the root, leaving the path in the internal iterator:
  // on the key when found, else at the leaf gap where it would go.
  virtual KvStatus treeSearch(const void* key, uint32_t* found);
  // Divides the full node at path level, which is to take image (key, data
  // and mark) at index with rightLink after it, into itself and a new right
  // node; up receives the image of the key that moves up and newNode the
  // new node.
  virtual KvStatus split(uint16_t level, uint16_t index, const unsigned char* image,
                         uint32_t rightLink, unsigned char* up, uint32_t* newNode);
  // Lowers every key of node, and of the nodes below it along link 0, by
  // amount (position trees: the keys that share the node's base).
  virtual KvStatus doDecKeys(uint32_t node, uint32_t amount);

  // The node sizes allow splits (at least two keys a node); 1517 when not.
  KV_LOCAL KvStatus checkUsable();
  KV_LOCAL KvStatus makeWorkBuffers();
  // Puts key (a position tree: relative to base_) and data at the gap the
  // last unmatched search left in the internal iterator.
  KV_LOCAL KvStatus insertAtSearch(const void* key, const void* data);
  // Inserts image with rightLink at index of the node at path level,
  // splitting up the path as needed.
  KV_LOCAL KvStatus insertEntry(uint16_t level, uint16_t index, const unsigned char* image,
                                uint32_t rightLink);
  // Marks the entry the internal iterator is on deleted; a leaf that holds
  // other keys loses it.
  KV_LOCAL KvStatus deleteFound();
  KV_LOCAL KvStatus makeRoot(const unsigned char* image, uint32_t link0, uint32_t link1);

  // Walking helpers on an iterator.
  KV_LOCAL KvTreeIterator* pick(KvTreeIterator* iterator);
  KV_LOCAL KvStatus descend(KvTreeIterator* it, uint32_t node, int toLast);
  KV_LOCAL KvStatus getEnd(int last, void* key, void* data, uint32_t* found, KvTreeIterator* iterator);
  KV_LOCAL KvStatus stepNext(KvTreeIterator* it, uint32_t* found);
  KV_LOCAL KvStatus stepPrevious(KvTreeIterator* it, uint32_t* found);
  KV_LOCAL KvStatus climb(KvTreeIterator* it, int forward, uint32_t* found);
  // Delivers the entry the iterator is on, skipping marked ones in the
  // given direction.
  KV_LOCAL KvStatus deliver(KvTreeIterator* it, int forward, void* key, void* data, uint32_t* found);
  KV_LOCAL KvStatus setAfterLast(KvTreeIterator* it);
  KV_LOCAL KvStatus setBeforeFirst(KvTreeIterator* it);
  KV_LOCAL void noteDepth(uint16_t depth);

  KV_LOCAL int16_t compareKeys(const void* a, const void* b) const;
  unsigned char* entryAt(unsigned char* node, uint32_t index) const {
    return node + treeHeaderBytes + size_t(index) * entrySize_;
  }
  int isPositionTree() const { return (flags_ & flagPositionTree) != 0; }
  int hasMarks() const { return (flags_ & flagDeletionMarks) != 0; }

  uint16_t keyLength_;
  uint16_t dataLength_;
  KvTreeCompare compare_;
  uint32_t flags_;
  uint16_t maxLinks_ = 0;
  uint16_t entrySize_ = 0;
  uint16_t nodeSize_ = 0;
  uint16_t markBytes_;
  uint32_t root_ = 0;
  KvTmpFile store_;
  KvTreeIterator iterator_;  // the internal iterator
  uint32_t base_ = 0;        // position trees: base of the node of the last search
  // Work buffers: two entry images (E bytes each) and a node of M + 1 links
  // for splits, in one block made by the first add.
  unsigned char* work_ = nullptr;
  uint32_t keyCount_ = 0;
  uint32_t nodesMade_ = 0;
  uint16_t deepestSearch_ = 0;
  uint16_t lastSearchDepth_ = 0;
};

// A list addressed by unsigned 32-bit positions: 4-byte keys compared by
// treeU32Compare, deletion marks, stored relative to their node's base.
// Positions need not be contiguous (a list may have holes).
class KV_UTIL_API KvPTree : public KvTree {
 public:
  explicit KvPTree(uint16_t dataLength);
  ~KvPTree() override;

  // Inserts data at position; every item at or after it moves up by one.
  // Fails (1517) when that would move an item past position 0xFFFFFFFF.
  KvStatus addAtPos(uint32_t position, const void* data);
  // Moves every item at or after position up by one, inserting nothing.
  KvStatus addHoleAtPos(uint32_t position);
  // Removes position from the list: the item there, if any (found reports
  // it), goes, and every later item moves down by one.
  KvStatus deleteKeyAtPos(uint32_t position, uint32_t* found);

 protected:
  KvStatus treeSearch(const void* key, uint32_t* found) override;
  // The highest position any entry (live or marked) holds; 0 when empty.
  KV_LOCAL KvStatus getHighestPosition(uint32_t* highest, uint32_t* any);
  KV_LOCAL KvStatus shiftUp(uint32_t position);

  uint32_t insertMode_ = 0;
  uint32_t deleteMode_ = 0;
};
