// FoxCdxDesc: FoxPro compact indexes: the one tag of a compact .IDX file,
// a tag of a .CDX file, or a .CDX file's tag directory. The B-tree is
// FoxIdxDesc's (fox_idx.h); the nodes differ.
//
// Files are 512-byte blocks: a 1024-byte header at offset 0, then nodes
// and (.CDX) further tag headers at multiples of 512. Integers are
// little-endian except the 4-byte values of interior entries.
//
// Tag header (1024 bytes; at 0 for a compact .IDX and the tag directory):
// | offset | width | field                                                           |
// |--------|-------|-----------------------------------------------------------------|
// | 0      | u32   | root node offset                                                |
// | 4      | u32   | free-node list head (kept, never used: nodes are never reused)  |
// | 8      | u32   | change counter, +1 at every header write-back                   |
// | 12     | u16   | key length (10 in a tag directory; at most 240)                 |
// | 14     | u8    | options: 0x01 unique, 0x08 FOR clause, 0x20 compact, 0x40 tag   |
// | 16     | u32   | keys given to the build that made the tag                       |
// | 20     | u32   | distinct keys among them                                        |
// | 502    | u16   | order: 0 ascending, else descending                             |
// | 504    | u16   | offset of the FOR text in the expression area                   |
// | 506    | u16   | length of the FOR text with its NUL                             |
// | 508    | u16   | offset of the KEY text in the expression area                   |
// | 510    | u16   | length of the KEY text with its NUL                             |
// | 512    | 512   | expression area: NUL-terminated texts (byte 1023 read as NUL)   |
//
// Interior node: attributes (bit 0 root), count, left and right siblings
// as in a standard node; entries from offset 12: key, record number (u32
// big-endian, the record of the key in its leaf), child offset (u32
// big-endian). Keys a node: 500 / (key length + 8).
//
// Leaf node (attributes 2, or 3 for a root leaf):
// | offset | width | field                                                           |
// |--------|-------|-----------------------------------------------------------------|
// | 0      | u16   | attributes                                                      |
// | 2      | u16   | number of keys                                                  |
// | 4, 8   | u32   | left and right siblings (0xFFFFFFFF: none)                      |
// | 12     | u16   | free space in the area below                                    |
// | 14     | u32   | record-number mask                                              |
// | 18, 19 | u8    | duplicate-count mask, trailing-count mask                       |
// | 20     | u8    | record-number bits RB                                           |
// | 21, 22 | u8    | duplicate-count bits DB, trailing-count bits TB                 |
// | 23     | u8    | bytes an entry L (RB + DB + TB = 8 L)                           |
// | 24     | 488   | area: entry i at i * L from the front; key bytes packed from    |
// |        |       | the back, entry 0's bytes last                                  |
// Entry i, read as an L-byte little-endian number: record number + d *
// 2^RB + t * 2^(RB + DB); d the leading bytes its key shares with entry
// i - 1's (0 for entry 0, and 0 when entry i - 1's key is all pad bytes),
// t its trailing pad bytes (blanks for text keys, 0x00 for numbers and
// dates). It stores key length - d - t bytes, just below entry i - 1's.
// A new leaf takes its widths from the key length:
// | key length | record mask | RB | DB, TB | L |
// |------------|-------------|----|--------|---|
// | 1          | 0x3FFF      | 14 | 1      | 2 |
// | 2-3        | 0x0FFF      | 12 | 2      | 2 |
// | 4-7        | 0x3FFFF     | 18 | 3      | 3 |
// | 8-15       | 0xFFFF      | 16 | 4      | 3 |
// | 16-31      | 0x3FFF      | 14 | 5      | 3 |
// | 32-63      | 0x0FFF      | 12 | 6      | 3 |
// | 64-127     | 0x3FFFF     | 18 | 7      | 4 |
// | 128 and up | 0xFFFF      | 16 | 8      | 4 |
// A record number beyond the mask widens every entry of its leaf by one
// byte (two when it needs more than 8 bits more), RB by 8 a byte; no
// leaf has more than 6 bytes an entry.
//
// A leaf is decoded whole when it is read (every count, width and offset
// checked against the node: a fault is 1238) and written whole from its
// decoded entries after each change, so its bytes are always the one
// packing of its entries. A full leaf splits where both halves use about
// half the area.
//
// Descending tags (u16 at 502 not 0) keep their keys as made and run in
// exactly the reverse order of the ascending tag of the same key: keys
// from high to low, equal keys from the highest record to the lowest.
//
// Tag directory: a compact index of key length 10 whose keys are the tag
// names padded with blanks (OEM for OEM tables) and whose records are the
// offsets of the tags' headers; tags are numbered in the order of their
// names.
//
// Locks: readers and writers of a compact file take the one byte
// 0x3FFFFFFE; a lock that finds the tag's change counter moved reads
// every node again.
#pragma once

#include "drivers/dbase/index/fox/fox_idx.h"

#include <vector>

enum : uint32_t {
  foxTagHeaderBytes = 1024,
  foxLeafAreaBytes = 488,
  foxLeafAreaAt = 24,
  foxLeafMaxEntries = foxLeafAreaBytes / 2 + 1,
  foxMaxEntryBytes = 6,
  foxCompactLockByte = 0x3FFFFFFE,
  foxTagNameBytes = 10,
  foxMaxListedTags = 50,
};

// The widths of a compact leaf's entries (the header bytes 12-23).
struct FoxLeafWidths {
  uint8_t recordBits;      // RB
  uint8_t duplicateBits;   // DB
  uint8_t trailingBits;    // TB
  uint8_t entryBytes;      // L
};

// The widths of an empty leaf of a key length.
FoxLeafWidths foxLeafWidthsFor(uint16_t keyLength);
// The mask of bits bits (all 32 from 32 on).
uint32_t foxMask(uint32_t bits);
// One entry: the L-byte number of record, duplicate count d and trailing
// count t; and back.
void foxEncodeEntry(uint8_t* entry, const FoxLeafWidths& widths, uint32_t record, uint32_t trailing,
                    uint32_t duplicate);
uint32_t foxDecodeEntry(const uint8_t* entry, const FoxLeafWidths& widths, uint32_t* trailing,
                        uint32_t* duplicate);
// Bytes more an entry needs for record: 1 when it needs at most 8 bits
// more than RB, else 2.
uint32_t foxExtraRecordBytes(uint32_t record, uint8_t recordBits);

// A path level of a compact index: a leaf's entries decoded.
class FoxTreeInfo : public TreeInfo {
 public:
  ~FoxTreeInfo() override;
  uint8_t* keys = nullptr;       // count * key length bytes (owned)
  uint32_t* records = nullptr;   // owned
  uint32_t decodedCount = 0;
};

// A tag of a .CDX file as its directory names it.
struct FoxCdxTag {
  unsigned char name[foxTagNameBytes + 1];  // trailing blanks cut, ANSI
  uint32_t headerOffset;
};

class FoxCdxDesc : public FoxIdxDesc {
 public:
  // cdxFlags.
  enum : uint32_t { cdxWholeHeader = 0x01 };

  explicit FoxCdxDesc(DbfSharedDesc* table);
  ~FoxCdxDesc() override;

  // Initializes the index on file and reads the 1024-byte tag header at
  // headerOffset: kind (5 compact .IDX, 6 .CDX), root, counter, key
  // length (1 to 240; 8 for N and D keys), order, unique property; the
  // KEY text into keyText (as stored). A short header or bad fields: 1238.
  KvStatus readTagHeader(DbfIndexFile* file, uint32_t kind, uint32_t headerOffset, uint16_t tagNumber,
                         unsigned char keyType, unsigned char* keyText, uint32_t size);
  // Opens a tag the directory named: its header as readTagHeader reads
  // it, the tag's name as the index's name.
  KvStatus openTag(DbfIndexFile* file, const FoxCdxTag& tag, uint16_t tagNumber, unsigned char keyType,
                   unsigned char* keyText, uint32_t size);
  // Opens file's tag directory on this descriptor (key length 10).
  KvStatus openTagDirectory(DbfIndexFile* file);
  // The tags the directory names, in its order. More than limit: 1238.
  KvStatus readTags(std::vector<FoxCdxTag>* tags, uint32_t limit = 0xFFFF);

  // A new compact .IDX header (kind 5) or a new .CDX file with an empty
  // tag directory; a tag header appended to a .CDX file and named in its
  // directory (headerOffset receives its offset). Options 0x01 and 0x08
  // as given; texts of at most 255 characters together.
  static KvStatus writeNewCompactIdx(DbfIndexFile* file, uint16_t keyLength, uint8_t options, bool descending,
                                     const unsigned char* keyText, const unsigned char* forText);
  static KvStatus writeNewCdx(DbfIndexFile* file, DbfSharedDesc* table);
  static KvStatus addTag(DbfIndexFile* file, DbfSharedDesc* table, const unsigned char* name, uint16_t keyLength,
                         uint8_t options, bool descending, const unsigned char* keyText,
                         const unsigned char* forText, uint32_t* headerOffset);
  // The names of the tags of a .CDX file (11-byte slots, NUL-terminated,
  // ANSI; OEM names converted when oem is set): nothing for a file whose
  // extension is not CDX; more than 50 tags is 1238.
  static KvStatus listTags(const unsigned char* path, bool oem, unsigned char* names, uint32_t slots,
                           uint32_t* count);
  // Removes a tag's entry from the directory of file (its header and
  // tree stay where they are); remaining receives the tags left. A name
  // the directory does not hold is 4404 and nothing changes.
  static KvStatus removeTagEntry(DbfIndexFile* file, DbfSharedDesc* table, const unsigned char* name,
                                 uint16_t* remaining);

  KvStatus getFilterCondition(uint8_t** text, FlatFileDesc* cursor) override;
  KvStatus getKeyText(unsigned char* text, uint32_t size) override;
  KvStatus writeHeader() override;
  KvStatus lockForWrite(DbfIndexCursor* cursor) override;
  void unlockIndexFile() override;
  KvStatus lockForRead(DbfIndexCursor* cursor) override;
  void unlockForRead(DbfIndexCursor* cursor) override;
  KvStatus startNewTree(DbfIndexCursor* cursor) override;
  TreeInfo* newLevel() override;

  uint32_t getTagHeaderOffset() const { return tagHeaderOffset_; }
  uint32_t getChangeCounter() const { return changeCounter_; }

 protected:
  KvStatus checkPage(const TreeInfo* level) override;
  bool interiorRecords() const override { return true; }
  const uint8_t* entryKey(TreeInfo* level, uint32_t i) override;
  uint32_t entryRecordNumber(TreeInfo* level, uint32_t i) override;
  bool hasRoom(TreeInfo* level, uint32_t i, const uint8_t* key, uint32_t record) override;
  KvStatus insertEntry(TreeInfo* level, uint32_t i, const uint8_t* key, uint32_t record, uint32_t child) override;
  KvStatus removeEntry(TreeInfo* level, uint32_t i) override;
  KvStatus moveEntriesRight(TreeInfo* destination, TreeInfo* source, uint32_t n) override;
  uint32_t splitPoint(TreeInfo* level, uint32_t i, const uint8_t* key, uint32_t record) override;
  KvStatus newNode(TreeInfo* level, bool leaf) override;
  void clearNode(TreeInfo* level, bool leaf) override;
  KvStatus freeNode(TreeInfo* level) override;
  void noteAppendedKey(TreeInfo* level, const uint8_t* key) override;

 private:
  // The end of the file from its size (a multiple of 512, else 1238).
  KvStatus fileEnd(uint32_t* offset);
  // Packs the leaf's decoded entries into its bytes; false when they do
  // not fit (the node is then unchanged).
  bool encodeLeaf(FoxTreeInfo* level);
  KvStatus decodeLeaf(FoxTreeInfo* level);
  // Pad bytes at the end of key; the leading bytes key shares with
  // previous, at most limit (0 when previous is all pad bytes).
  uint32_t trailingCount(const uint8_t* key) const;
  uint32_t commonPrefix(const uint8_t* key, const uint8_t* previous, uint32_t limit) const;
  uint8_t padByte() const { return keyType_ == 'C' ? ' ' : 0; }
  // Bytes a leaf's area needs for keys[0 .. count) with widths.
  uint32_t packedBytes(const uint8_t* const* keys, uint32_t count, uint32_t entryBytes) const;
  KvStatus readTagText(bool forText, unsigned char* text, uint32_t size);
  KvStatus refreshFromHeader();

  uint32_t cdxFlags_ = 0;
  uint32_t keysAppended_ = 0;
  uint32_t distinctAppended_ = 0;
  uint32_t changeCounter_ = 0;
  uint8_t lastAppended_[dbfIndexMaxKeyBytes] = {0};
};
