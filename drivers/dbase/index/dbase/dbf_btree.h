// DbfBtreeDesc: the dBASE B-tree, one engine for dBASE II .NDX (kind 0),
// dBASE III .NDX (kind 1) and the tags of dBASE IV .MDX (kind 2). The
// formats differ only in the page layout below and in their headers and
// locks (dbf_ndx.h, dbf_mdx.h), which derive from this class.
//
// Pages (integers little-endian; the entry size comes from the header):
//
// | kind        | page header                            | entry                        | entry i at         |
// |-------------|----------------------------------------|------------------------------|--------------------|
// | 0 dBASE II  | byte 0: number of keys                 | u16 child, u16 record, key   | 2 + i * entry size |
// | 1 dBASE III | u32 at 0: number of keys (low 16 bits) | u32 child, u32 record, key   | 4 + i * entry size |
// | 2 MDX       | u32 at 0: number of keys; u32 at 4:    | u32 pointer, key             | 8 + i * entry size |
// |             | link word                              |                              |                    |
//
// Shape: every record is in a leaf. An interior page of n keys has n + 1
// children: entry i (i < n) leads to the subtree whose highest key is key
// i, and entry n carries only the child of the keys above the last one.
// .NDX: a leaf entry has child 0 and a record; a page whose entry 0 has
// child 0 is a leaf. .MDX: the pointer behind the last key (entry n's) is
// 0 in a leaf and the rightmost child in an interior page; a leaf's
// pointers are record numbers. Equal keys stand in record order, from high
// to low in a descending index, whose keys run from high to low.
//
// The link word of an .MDX leaf names the leaf before it in key order as a
// build writes them, and a split leaves it to both halves; nothing here
// reads it.
//
// A split of a full page (n keys, the new entry at position p) keeps
// h = (n + (1 on interior levels) + (1 if n < 2p)) / 2 entries in a lower
// part written to a new page at the end of the file, and the rest in the
// upper part, which keeps the old page number, so that the parent's entry
// for it stays right; the separator that goes up is the lower part's
// highest key. Deletes never merge leaves: a leaf left with nothing is
// abandoned (never reused) and its parent's entry goes. An interior page
// keeps a key at least (programs that read these files stop at one without
// keys): one left with a single child merges into a sibling that has room,
// or takes a child from a full one; a root left with one child hands the
// root over to it. So every leaf stays at one depth.
#pragma once

#include "drivers/dbase/index/dbf_index_desc.h"

class DbfBtreeDesc : public DbfIndexDesc {
 public:
  explicit DbfBtreeDesc(DbfSharedDesc* table);
  // Gives back the levels of an unfinished build.
  ~DbfBtreeDesc() override;

  KvStatus nextKey(DbfIndexCursor* cursor, uint32_t* record) override;
  KvStatus compareCurrentKey(DbfIndexCursor* cursor, const uint8_t* key, int* result) override;
  KvStatus searchKey(DbfIndexCursor* cursor, const uint8_t* key, uint32_t* record, bool exact) override;
  // The entry goes where searchKey (not exact) leaves the path; an index
  // with the unique property that has the key already is left as it is.
  KvStatus insertKey(DbfIndexCursor* cursor, const uint8_t* key) override;
  // The entry of the reader's record; missing: 1225, unless the index has
  // the unique property (the record may never have been indexed).
  KvStatus deleteKey(DbfIndexCursor* cursor, const uint8_t* key) override;
  uint16_t getPageKeyCount(const uint8_t* page) const override;
  // A build appends keys to leaves filled to the most keys a page holds;
  // interior pages fill the same way; pages get their numbers at the end
  // of the file as they are written, and the top page becomes the root.
  KvStatus startNewTree(DbfIndexCursor* cursor) override;
  KvStatus appendBuiltKey(DbfIndexCursor* cursor, const uint8_t* key, bool live) override;
  KvStatus finishBuild(DbfIndexCursor* cursor) override;
  // Every page once, at most dbfIndexMaxDepth deep: key counts within the
  // page's room, all leaves at one depth, keys that never go back in tree
  // order (within pages and from leaf to leaf), equal keys of a leaf in
  // record order, no child page 0.
  KvStatus verifyPage(uint32_t page, uint32_t depth, DbfVerifyState* state) override;

 protected:
  KvStatus checkPage(const TreeInfo* level) override;
  // A new page at the end of the file: the end moves on by a page. The
  // .MDX format first takes its allocation lock.
  virtual KvStatus allocatePage(DbfIndexCursor* cursor, uint32_t* page);
  // The operation that allocated pages ends (the .MDX allocation lock goes).
  virtual void endAllocation();
  // Pages a delete abandoned (the .MDX tag header counts its blocks).
  virtual KvStatus pagesAbandoned(uint32_t pages);

  // ---- the page layout of the file's kind
  uint16_t keyCount(const uint8_t* page) const;
  void setKeyCount(uint8_t* page, uint16_t count) const;
  uint8_t* entryAt(uint8_t* page, uint32_t i) const { return page + layout().header + size_t(i) * entrySize_; }
  const uint8_t* entryAt(const uint8_t* page, uint32_t i) const {
    return page + layout().header + size_t(i) * entrySize_;
  }
  // The child (.NDX) or pointer (.MDX) of entry i.
  uint32_t pointerOf(const uint8_t* page, uint32_t i) const;
  void setPointer(uint8_t* page, uint32_t i, uint32_t value) const;
  uint32_t recordOf(const uint8_t* page, uint32_t i) const;
  const uint8_t* keyOf(const uint8_t* page, uint32_t i) const { return entryAt(page, i) + layout().key; }
  uint8_t* keyOf(uint8_t* page, uint32_t i) const { return entryAt(page, i) + layout().key; }
  bool isLeaf(const uint8_t* page) const;
  // The key order of the tree: negated in a descending index.
  int treeCompare(const uint8_t* a, const uint8_t* b) const {
    int result = compareKeys(a, b);
    return descending_ ? -result : result;
  }

 private:
  struct Layout {
    uint16_t header;       // bytes before entry 0
    uint8_t pointerBytes;  // 2 or 4
    uint8_t recordAt;      // offset of the record field in an entry; 0: the pointer is the record
    uint8_t key;           // offset of the key in an entry
  };
  static const Layout layouts_[3];
  const Layout& layout() const;
  void setLeafEntry(uint8_t* page, uint32_t i, const uint8_t* key, uint32_t record) const;
  void setInteriorEntry(uint8_t* page, uint32_t i, const uint8_t* key, uint32_t child) const;
  // Inserts an entry at position p of a page of n keys: the entries from p
  // (and the pointer behind them) move up by one.
  void insertEntry(uint8_t* page, uint16_t n, int32_t p, bool leaf, const uint8_t* key, uint32_t value) const;
  void removeEntry(uint8_t* page, uint16_t n, int32_t p) const;
  int32_t lowerBound(const uint8_t* page, uint16_t n, const uint8_t* key) const;

  // Walks.
  KvStatus enterLeaf(DbfIndexCursor* cursor);
  KvStatus stepToNextLeaf(DbfIndexCursor* cursor, bool* moved);
  KvStatus skipEarlierDuplicates(DbfIndexCursor* cursor, const uint8_t* key);
  // Changes.
  KvStatus insertIntoPath(DbfIndexCursor* cursor, const uint8_t* key, uint32_t record);
  KvStatus splitPage(DbfIndexCursor* cursor, TreeInfo* level, bool leaf, uint8_t* key, uint32_t* value);
  KvStatus removeFromPath(DbfIndexCursor* cursor, uint32_t* abandoned);
  // Removes the child at level's position from an interior level, keeping
  // every interior page but the root at one key at least.
  KvStatus removeChild(TreeInfo* level, uint32_t* abandoned);
  // Reads a sibling page (an interior page) into a level off the path.
  KvStatus readSibling(uint32_t pageNo, TreeInfo** out);
  // The highest key under a level's entry grew or shrank to key: the
  // first level up whose position names a keyed entry takes it.
  KvStatus followNewHighest(TreeInfo* from, const uint8_t* key);

  // Bulk build.
  KvStatus closeBuildPage(DbfIndexCursor* cursor, uint32_t levelIndex, bool top, uint32_t* page);
  KvStatus pushBuildEntry(DbfIndexCursor* cursor, uint32_t levelIndex, const uint8_t* key, uint32_t child);
  void dropBuild();

  TreeInfo* build_[dbfIndexMaxDepth] = {};
  uint16_t buildEntries_[dbfIndexMaxDepth] = {};  // entries (children) in each level's page
  uint32_t buildDepth_ = 0;
  uint32_t previousLeaf_ = 0;
  bool haveLastKey_ = false;
  bool lastLive_ = false;
  uint8_t lastKey_[dbfIndexMaxKeyBytes] = {0};
};
