// FoxIdxDesc: the FoxPro standard (non-compact) .IDX file, one index a
// file, and the FoxPro B-tree that the compact formats (fox_cdx.h) share.
//
// Standard .IDX file: a 512-byte header, then 512-byte nodes at offsets
// that are multiples of 512. Integers are little-endian except the 4-byte
// values inside node entries, which are big-endian.
//
// Header:
// | offset | width | field                                                           |
// |--------|-------|-----------------------------------------------------------------|
// | 0      | u32   | offset of the root node                                         |
// | 4      | u32   | head of the free-node list (0xFFFFFFFF: empty)                  |
// | 8      | u32   | end of file: where the next new node goes                       |
// | 12     | u16   | key length (1 to 100)                                           |
// | 14     | u8    | options: 0x01 unique, 0x08 FOR clause, 0x10 a writer waits for  |
// |        |       | the readers to leave, 0x20 compact (read by FoxCdxDesc instead) |
// | 16     | 220   | KEY expression text, NUL-terminated                             |
// | 236    | 220   | FOR expression text (option 0x08), NUL-terminated               |
// At least 456 bytes must be there. The header's write-back touches its
// first 16 bytes only.
//
// Node:
// | offset | width | field                                                           |
// |--------|-------|-----------------------------------------------------------------|
// | 0      | u16   | attributes: bit 0 root, bit 1 leaf                              |
// | 2      | u16   | number of keys                                                  |
// | 4      | u32   | left sibling on the same level (0xFFFFFFFF: none)               |
// | 8      | u32   | right sibling on the same level (0xFFFFFFFF: none)              |
// | 12     | 500   | entries: key, then a big-endian u32: the record number in a     |
// |        |       | leaf, the child node's offset in an interior node               |
// Keys a node: 500 / (key length + 4) (35 at key length 10). A node on the
// free list holds the next free node's offset in its first 4 bytes.
//
// The tree keeps every record in a leaf; an interior entry holds the
// greatest key of its child's subtree (the child's last key). Entries run
// in (key, record number) order; a descending index (only compact tags
// have one) runs in exactly the reverse order of the ascending index of
// the same key: keys from high to low and, among equal keys, records from
// high to low. Keys are stored as made, whatever the order.
//
// Keys: character keys are the text padded with blanks (OEM for OEM
// tables); numeric and date keys are the value's 8-byte double in the
// engine's byte-comparable form (MakeMemComparable), compared as 8
// unsigned bytes.
//
// Changes: an insert into a full node at its end (the greatest entry of
// the node, which only happens on the right edge of the tree) starts a new
// right sibling holding that entry; elsewhere the node splits and the new
// right node takes the upper entries. A node whose last key goes is
// removed: its siblings are linked past it, it goes to the free list (the
// compact formats never reuse nodes) and its parent loses its entry. When
// the root has two children and one goes, the other becomes the root. The
// root itself is never freed: an interior root whose last child goes
// becomes an empty root leaf.
//
// Locks of a standard file (byte offsets in the index file):
// - writer: the byte 0x40000000 (the region 0x40000000, 0x3FFFFFFF bytes
//   long under Locking FILE);
// - readers: one slot byte each from 0x40000001 upward, tried sixteen at a
//   time;
// - before a change that moves nodes (split, append at the right edge,
//   node removal) a writer under Locking RECORD locks all reader slots
//   (0x40000001, 0x3FFFFFFE bytes); when readers are in it first sets the
//   header option 0x10 so that new readers wait. A reader honours 0x10
//   only while the writer byte is really held by someone: a writer that
//   died leaves the flag behind but not its lock.
#pragma once

#include "drivers/dbase/index/dbf_index_desc.h"

enum : uint32_t {
  foxNodeBytes = 512,
  foxNoNode = 0xFFFFFFFF,
  foxNodeHeaderBytes = 12,
  foxNodeRoomBytes = 500,
  foxIdxHeaderBytes = 512,
  foxIdxHeaderMinimum = 456,
  foxExpressionBytes = 220,
  foxWriterByte = 0x40000000,
  foxReaderFirstSlot = 0x40000001,
  foxReaderRegionBytes = 0x3FFFFFFE,
  foxFileRegionBytes = 0x3FFFFFFF,
  foxReaderLastSlot = 0x7FFFFFEE,
  foxReaderGroup = 16,
  foxOwnSlotLimit = 64,  // reader slots one descriptor holds at once
};

class FoxIdxDesc : public DbfIndexDesc {
 public:
  // Header options.
  enum : uint8_t {
    foxOptionUnique = 0x01,
    foxOptionFor = 0x08,
    foxOptionWriterWaiting = 0x10,
    foxOptionCompact = 0x20,
    foxOptionCdxTag = 0x40,
  };
  // foxFlags.
  enum : uint32_t {
    foxHeaderDue = 0x01,     // root, free list or end of file changed
    foxUpdateLocked = 0x02,  // the reader-slot region is held
    foxSetWaiting = 0x04,    // this descriptor set option 0x10 and clears it
    foxTagDirectory = 0x08,  // the tag directory of a .CDX file
  };
  // Node attributes.
  enum : uint16_t { foxAttrRoot = 1, foxAttrLeaf = 2 };

  explicit FoxIdxDesc(DbfSharedDesc* table);
  ~FoxIdxDesc() override;

  // Initializes the index on file and reads a standard header. keyType is
  // the KEY expression's type as the opener found it (C, N or D; numeric
  // and date keys are 8 bytes long). keyText receives the KEY text as
  // stored (OEM for OEM tables). A compact header (option 0x20), a key
  // length outside 1 to 100 (8 for N and D), a root, free list or end of
  // file that is not a node offset within the file: 1238.
  KvStatus readHeader(DbfIndexFile* file, unsigned char keyType, unsigned char* keyText, uint32_t size);
  // A new standard header without a tree (root 0; a build makes it):
  // options 0x01 and 0x08 as given, texts of at most 219 characters.
  static KvStatus writeNewHeader(DbfIndexFile* file, uint16_t keyLength, uint8_t options,
                                 const unsigned char* keyText, const unsigned char* forText);

  // The FOR text (ANSI) when the header has one; null otherwise.
  KvStatus getFilterCondition(uint8_t** text, FlatFileDesc* cursor) override;

  KvStatus nextKey(DbfIndexCursor* cursor, uint32_t* record) override;
  KvStatus compareCurrentKey(DbfIndexCursor* cursor, const uint8_t* key, int* result) override;
  // The first entry of key (any record); unless exact, the record of the
  // first key above it when there is none.
  KvStatus searchKey(DbfIndexCursor* cursor, const uint8_t* key, uint32_t* record, bool exact) override;
  KvStatus writeHeader() override;
  KvStatus makeKey(const uint8_t* value, uint32_t length, uint8_t* key) override;
  // An index with the unique property that has the key already is left
  // as it is; the reader's record already under the key is 1238.
  KvStatus insertKey(DbfIndexCursor* cursor, const uint8_t* key) override;
  KvStatus deleteKey(DbfIndexCursor* cursor, const uint8_t* key) override;
  uint16_t getPageKeyCount(const uint8_t* page) const override;
  KvStatus lockForWrite(DbfIndexCursor* cursor) override;
  void unlockIndexFile() override;
  KvStatus lockForRead(DbfIndexCursor* cursor) override;
  void unlockForRead(DbfIndexCursor* cursor) override;
  // A new root leaf at the end of the file, on the cursor's path; the
  // build then appends at the right edge.
  KvStatus startNewTree(DbfIndexCursor* cursor) override;
  // Every node once: root bit at the top only, key counts within a node's
  // room, all leaves at one depth, entries in strictly rising (key,
  // record) order over the whole tree, each interior key the last key of
  // its child, sibling links that name the neighbours on each level.
  KvStatus verifyPage(uint32_t page, uint32_t depth, DbfVerifyState* state) override;
  KvStatus getKeyText(unsigned char* text, uint32_t size) override;
  KvStatus appendBuiltKey(DbfIndexCursor* cursor, const uint8_t* key, bool live) override;
  KvStatus finishBuild(DbfIndexCursor* cursor) override;

  // The key of the entry the cursor stands on; null when it stands on
  // none.
  const uint8_t* keyAtCursor(DbfIndexCursor* cursor);
  uint32_t getFreeListHead() const { return freeListHead_; }
  uint32_t getFoxFlags() const { return foxFlags_; }
  // The end of the file as a byte offset.
  uint32_t getEndOffset() const { return file_->getEofPage() * foxNodeBytes; }

 protected:
  KvStatus checkPage(const TreeInfo* level) override;

  // ---- node fields
  static uint16_t attributes(const TreeInfo* level);
  static void setAttributes(TreeInfo* level, uint16_t attributes);
  static uint16_t nodeCount(const TreeInfo* level);
  static void setNodeCount(TreeInfo* level, uint16_t count);
  static bool nodeIsLeaf(const TreeInfo* level) { return (attributes(level) & foxAttrLeaf) != 0; }
  static uint32_t leftSibling(const TreeInfo* level);
  static uint32_t rightSibling(const TreeInfo* level);
  static void setLeftSibling(TreeInfo* level, uint32_t offset);
  static void setRightSibling(TreeInfo* level, uint32_t offset);
  static uint32_t offsetOf(const TreeInfo* level) { return level->pageNo * foxNodeBytes; }

  // ---- node operations: what differs between standard and compact nodes
  // Interior entries carry the record number of their key too (compact).
  virtual bool interiorRecords() const { return false; }
  uint8_t* entryAt(TreeInfo* level, uint32_t i) const {
    return level->page + foxNodeHeaderBytes + size_t(i) * entrySize_;
  }
  virtual const uint8_t* entryKey(TreeInfo* level, uint32_t i);
  virtual uint32_t entryRecordNumber(TreeInfo* level, uint32_t i);
  uint32_t entryChild(TreeInfo* level, uint32_t i);
  void setEntryChild(TreeInfo* level, uint32_t i, uint32_t child);
  // An interior entry's key (and record) become key and record.
  void setEntryMaximum(TreeInfo* level, uint32_t i, const uint8_t* key, uint32_t record);
  // Whether (key, record) fits into the node at i.
  virtual bool hasRoom(TreeInfo* level, uint32_t i, const uint8_t* key, uint32_t record);
  // Entry (key, record, child) becomes entry i; the later ones move up.
  virtual KvStatus insertEntry(TreeInfo* level, uint32_t i, const uint8_t* key, uint32_t record, uint32_t child);
  virtual KvStatus removeEntry(TreeInfo* level, uint32_t i);
  // Entries n on of source go to the empty node destination.
  virtual KvStatus moveEntriesRight(TreeInfo* destination, TreeInfo* source, uint32_t n);
  // Where a full node splits for (key, record) going to index i: with
  // h < i the node keeps entries 0 .. h and the key goes right, else it
  // keeps 0 .. h - 1 and takes the key.
  virtual uint32_t splitPoint(TreeInfo* level, uint32_t i, const uint8_t* key, uint32_t record);
  // A fresh empty node for level (leaf or interior), its offset allocated.
  virtual KvStatus newNode(TreeInfo* level, bool leaf);
  // Makes level's buffer an empty node (siblings none).
  virtual void clearNode(TreeInfo* level, bool leaf);
  virtual KvStatus freeNode(TreeInfo* level);
  virtual void noteAppendedKey(TreeInfo* level, const uint8_t* key);

  // (key, record) of entry i against (key, record): negative when the
  // entry comes first in the index. record 0 compares as "any record":
  // equal keys give 0; so do standard interior entries, which hold no
  // record.
  int entryOrder(TreeInfo* level, uint32_t i, const uint8_t* key, uint32_t record);
  int treeCompare(const uint8_t* a, const uint8_t* b) const {
    int result = compareKeys(a, b);
    return descending_ ? -result : result;
  }
  // The first entry not below (key, record).
  uint32_t searchNode(TreeInfo* level, const uint8_t* key, uint32_t record);

  // Pushes the node at offset on the path (a valid node offset, not yet
  // on the path, read and checked).
  KvStatus pushNode(DbfIndexCursor* cursor, uint32_t offset, TreeInfo** level);
  // Reads the node at offset into a level off every path.
  KvStatus readSideNode(uint32_t offset, TreeInfo** level);
  bool validNodeOffset(uint32_t offset) const;
  // The lock of the reader slots (standard files under Locking RECORD).
  KvStatus lockForUpdate();

  uint32_t freeListHead_ = foxNoNode;
  uint32_t foxFlags_ = 0;
  unsigned char* forText_ = nullptr;  // owned, getFilterCondition's answer

 private:
  KvStatus descend(DbfIndexCursor* cursor, const uint8_t* key, uint32_t record, bool* exact);
  // Moves level (and as needed its ancestors) to its right sibling,
  // position 0, checking that each parent entry leads to it.
  KvStatus stepRight(DbfIndexCursor* cursor, TreeInfo* level);
  KvStatus readInto(DbfIndexCursor* cursor, TreeInfo* level, uint32_t offset);
  KvStatus enterLeaf(DbfIndexCursor* cursor);
  KvStatus insertAt(DbfIndexCursor* cursor, TreeInfo* level, uint32_t i, const uint8_t* key, uint32_t record,
                    uint32_t child);
  KvStatus removeAt(DbfIndexCursor* cursor, TreeInfo* level, uint32_t i);
  KvStatus propagateMaximum(TreeInfo* level);
  // Writes a node that changed; during a build the nodes of the right
  // edge are written when they leave it (flushPath), not at every key.
  KvStatus writeNode(TreeInfo* level) { return building_ ? kvSuccess : writeLevel(level); }
  KvStatus flushPath(DbfIndexCursor* cursor);
  KvStatus ensureParent(DbfIndexCursor* cursor, TreeInfo* level, TreeInfo** parent);
  KvStatus unlinkNode(TreeInfo* level);
  KvStatus setLeftOf(uint32_t offset, uint32_t left);
  KvStatus descendRightEdge(DbfIndexCursor* cursor);
  KvStatus verifyNode(uint32_t offset, uint32_t depth, DbfVerifyState* state, const uint8_t* maximum,
                      uint32_t maximumRecord, bool* empty);
  KvStatus readHeaderFields(uint32_t* root, uint32_t* freeList, uint32_t* end, uint8_t* options);
  uint16_t lockingLevel() const;
  KvStatus takeReaderSlot(uint32_t* slot);

  bool lastLive_ = false;
  bool building_ = false;  // a build appends on the right edge (startNewTree to finishBuild)
  uint32_t verifyLast_[dbfIndexMaxDepth + 1] = {};  // the last node seen on each level
  uint32_t ownSlots_[foxOwnSlotLimit] = {};         // reader slots this descriptor holds
  uint32_t ownSlotCount_ = 0;
  uint32_t updateSlotList_[foxOwnSlotLimit] = {};   // own slots left out of the update lock
  uint32_t updateSlots_ = 0;
  bool fileRegion_ = false;  // the write lock is the whole region (Locking FILE)
};
