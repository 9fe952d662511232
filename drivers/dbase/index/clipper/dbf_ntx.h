// DbfNtxDesc: the Clipper .NTX file, one index a file, in 1024-byte pages
// with a B-tree of its own: every key is stored once, interior items
// carry records too, items are reached through a table of offsets, pages
// are addressed by byte offset and freed pages go to a free list.
//
// Header (first 540 bytes; integers little-endian):
// | offset | width | field                                                           |
// |--------|-------|-----------------------------------------------------------------|
// | 0      | u16   | signature: 0x01 extended header, 0x10 lock byte at 0x7FFFFFFF   |
// | 2      | u16   | version: +1 at every header write                               |
// | 4      | u32   | root page (byte offset)                                         |
// | 8      | u32   | head of the free-page list (byte offset, 0: empty)              |
// | 12     | u16   | item size (key size + 8)                                        |
// | 14     | u16   | key size                                                        |
// | 16     | u16   | decimals of numeric keys                                        |
// | 18     | u16   | most items a page                                               |
// | 20     | u16   | half page: fewest items of a page other than the root           |
// | 22     | 256   | KEY expression text                                             |
// | 278    | u16   | unique when not 0                                               |
// | 280    | u16   | descending when not 0 (extended header)                         |
// | 282    | 256   | FOR expression text (extended header)                           |
//
// Page (1024 bytes at its byte offset, the first at 1024): u16 item count
// n; from offset 2 a table of (most items + 1) u16 offsets, one a
// position; position i's item lies at that offset. Item: u32 child page
// (0 in a leaf), u32 record number, key. Positions 0 .. n - 1 hold keys
// in order; position n holds only the child of the keys above the last
// one. A free page holds the next free page's offset in its first 4
// bytes. Every offset of a page read is checked: items must lie behind
// the table, within the page, apart from each other.
//
// Keys are text of key size bytes:
// - C: the text padded with blanks (OEM for OEM tables);
// - D: ascending "YYYYMMDD" (blanks for the empty date); descending the
//   number 5231808 - the day number (5231808 for the empty date) as
//   numeric text without decimals, filled with '0';
// - N, F: the numeric text of key size with the index's decimals, filled
//   with '0'; a negative number in an ascending index (a non-negative one
//   in a descending index) has every character c replaced by 0x5C - c;
// - a descending character index stores every byte b as 256 - b.
// Keys compare as bytes, without negation for descending indexes.
//
// The stored form of negative numbers does not sort by value when their
// digit counts differ (-10 sorts after -2). Other programs read the bytes,
// so they stay; rangeFollowsValues tells callers when an order or a range
// read from the index must be checked against the values.
//
// Growth: a new page comes from the free list, else from the end of the
// file rounded up to 1024 bytes. The root stays where it is (other
// programs' files need not keep their root last; moving it would
// overwrite the page behind it). A full page splits at the half page: the
// lower items stay, the median goes up, the upper items go to the new
// page. A page below the half page after a delete borrows from a sibling
// or merges with it; a root left without items takes its only child's
// page in place.
//
// Lock: the one byte at 1000000000 (0x7FFFFFFF with signature bit 0x10),
// for readers and writers. A lock that finds the version changed reads
// every page again.
#pragma once

#include "drivers/dbase/index/dbf_index_desc.h"

#include <vector>

enum : uint32_t {
  ntxPageBytes = 1024,
  ntxHeaderBytes = 540,
  ntxLockByte = 1000000000,
  ntxLockByteHigh = 0x7FFFFFFF,
  ntxTextBytes = 256,
  ntxDescendingDateBase = 5231808,
};

class DbfNtxDesc : public DbfIndexDesc {
 public:
  // Signature bits; new files carry ntxNewSignature, the value other
  // programs write and look for, plus ntxExtended when they need it.
  enum : uint16_t { ntxExtended = 0x01, ntxHighLock = 0x10, ntxNewSignature = 0x06 };

  explicit DbfNtxDesc(DbfSharedDesc* table);
  ~DbfNtxDesc() override;

  // Initializes the index on file and reads its header. keyType is the
  // KEY expression's type (C, N, D). keyText receives the KEY text with
  // the table's qualifiers removed; without the extended header a KEY of
  // the form DESCEND(expression) makes the index descending and gives the
  // inner expression. A short header or fields that do not fit a page:
  // 1260.
  KvStatus readHeader(DbfIndexFile* file, unsigned char keyType, unsigned char* keyText, uint32_t size);
  // A new file: the header and an empty root page at 1024. Key size 1 to
  // 250; texts at most 255 characters; forText or descending make the
  // extended header.
  static KvStatus writeNewHeader(DbfIndexFile* file, uint16_t keySize, uint16_t decimals, bool unique,
                                 bool descending, const unsigned char* keyText, const unsigned char* forText);
  // Drops every token equal to the table's base name followed by "->".
  static void stripTableAlias(const unsigned char* tableName, const unsigned char* text, unsigned char* out,
                              uint32_t size);

  KvStatus getFilterCondition(uint8_t** text, FlatFileDesc* cursor) override;
  KvStatus nextKey(DbfIndexCursor* cursor, uint32_t* record) override;
  KvStatus compareCurrentKey(DbfIndexCursor* cursor, const uint8_t* key, int* result) override;
  KvStatus searchKey(DbfIndexCursor* cursor, const uint8_t* key, uint32_t* record, bool exact) override;
  KvStatus writeHeader() override;
  // Values as the other formats take them: text, or an 8-byte double
  // (dates as day numbers, the empty date 1e100).
  KvStatus makeKey(const uint8_t* value, uint32_t length, uint8_t* key) override;
  // The reader's record already under the key is 1260; an index with the
  // unique property that has the key already stays as it is.
  KvStatus insertKey(DbfIndexCursor* cursor, const uint8_t* key) override;
  KvStatus deleteKey(DbfIndexCursor* cursor, const uint8_t* key) override;
  uint16_t getPageKeyCount(const uint8_t* page) const override;
  KvStatus lockForWrite(DbfIndexCursor* cursor) override;
  void unlockIndexFile() override;
  KvStatus lockForRead(DbfIndexCursor* cursor) override;
  void unlockForRead(DbfIndexCursor* cursor) override;
  // An empty root page at 1024, the free list emptied.
  KvStatus startNewTree(DbfIndexCursor* cursor) override;
  // Every page once: item counts within the page and, below the root, at
  // least the half page; leaves all zero children, interior pages none;
  // all leaves at one depth; keys never going back in order.
  KvStatus verifyPage(uint32_t page, uint32_t depth, DbfVerifyState* state) override;
  KvStatus getKeyText(unsigned char* text, uint32_t size) override;
  KvStatus appendBuiltKey(DbfIndexCursor* cursor, const uint8_t* key, bool live) override;
  KvStatus finishBuild(DbfIndexCursor* cursor) override;

  // Whether the index's order between the values low and high is their
  // numeric order: not for numeric keys when the range reaches below 0.
  bool rangeFollowsValues(double low, double high) const;
  const uint8_t* keyAtCursor(DbfIndexCursor* cursor);
  uint16_t getHalfPage() const { return halfPage_; }
  uint16_t getVersion() const { return version_; }
  uint32_t getFreeListHead() const { return freeList_; }

 protected:
  KvStatus checkPage(const TreeInfo* level) override;

 private:
  struct Item {
    uint32_t child;
    uint32_t record;
    uint8_t key[dbfIndexMaxKeyBytes];
  };
  // A page as its items in order and the child behind the last one.
  struct Items {
    std::vector<Item> items;
    uint32_t last = 0;
  };

  static uint16_t count(const uint8_t* page) { return uint16_t(page[0] | (page[1] << 8)); }
  const uint8_t* itemAt(const uint8_t* page, uint32_t i) const;
  uint8_t* itemAt(uint8_t* page, uint32_t i) const;
  uint32_t childOf(const uint8_t* page, uint32_t i) const;
  uint32_t recordOf(const uint8_t* page, uint32_t i) const;
  const uint8_t* keyOf(const uint8_t* page, uint32_t i) const { return itemAt(page, i) + 8; }
  void readItems(const uint8_t* page, Items* out) const;
  // Writes the items into page with a fresh offset table.
  void writeItems(uint8_t* page, const Items& items) const;
  void freshPage(uint8_t* page) const;

  KvStatus pushChild(DbfIndexCursor* cursor, uint32_t offset, TreeInfo** level);
  KvStatus readSide(uint32_t offset, TreeInfo** level);
  // Positions the cursor on the first item not below key in key order
  // (the path ends past the last item when there is none).
  KvStatus seekFirst(DbfIndexCursor* cursor, const uint8_t* key);
  // The item after the cursor's in key order; false at the end.
  KvStatus advance(DbfIndexCursor* cursor, bool* more);
  KvStatus descendLeftmost(DbfIndexCursor* cursor, uint32_t offset);
  // Finds (key, record): the cursor then stands on it.
  KvStatus findItem(DbfIndexCursor* cursor, const uint8_t* key, uint32_t record, bool* found, bool* keyFound);
  KvStatus insertItem(DbfIndexCursor* cursor, const uint8_t* key, uint32_t record);
  KvStatus allocatePage(uint32_t* offset);
  KvStatus releasePage(TreeInfo* level);
  KvStatus rebalance(DbfIndexCursor* cursor, TreeInfo* level);
  KvStatus verifyNode(uint32_t offset, uint32_t depth, DbfVerifyState* state);
  KvStatus refreshHeader();
  uint32_t lockByte() const { return (signature_ & ntxHighLock) ? uint32_t(ntxLockByteHigh) : uint32_t(ntxLockByte); }
  KvStatus invalid() const;
  bool validPageOffset(uint32_t offset) const;

  uint16_t signature_ = 0;
  uint16_t version_ = 0;
  uint16_t decimals_ = 0;
  uint16_t halfPage_ = 0;
  uint32_t freeList_ = 0;
  uint32_t nextPage_ = 0;  // where the next page at the end goes; 0: from the file's size
  bool lastLive_ = false;
  bool haveLast_ = false;  // a build has appended a key (lastKey_)
  uint8_t lastKey_[dbfIndexMaxKeyBytes] = {0};
  unsigned char* forText_ = nullptr;  // owned
};
