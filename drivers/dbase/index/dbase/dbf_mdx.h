// .MDX multiple-index files of dBASE IV: up to 47 tags (independent
// B-trees, dbf_btree.h kind 2, each with its KEY and an optional FOR
// expression) in one file of fixed-size blocks. DbfMdxDesc is one open tag;
// all tags of a file share one DbfIndexFile. DbfMdxFile holds the
// operations on the file as a whole: its header, and the tag directory that
// CREATE INDEX, DROP INDEX and the opener use.
//
// Block numbers count 512-byte units: block n starts at byte n * 512.
// Integers are little-endian.
//
// File header (the first 48 bytes are read):
// | offset | width    | field                                                        |
// |--------|----------|--------------------------------------------------------------|
// | 0      | byte     | version (2)                                                  |
// | 1      | 3 bytes  | date of creation: year - 1900, month, day                    |
// | 4      | 16 bytes | the table's name (compared over 15 characters)               |
// | 20     | u16      | blocks (of 512) a page                                       |
// | 22     | u16      | page size in bytes (a multiple of 512, 512 to 32768)         |
// | 24     | byte     | production index (1)                                         |
// | 25     | byte     | tag slots (48); 26: bytes a slot (32)                        |
// | 28     | byte     | tags in use (at most 47)                                     |
// | 32     | u32      | end-of-file block (the next block to allocate)               |
// | 44     | 3 bytes  | date of the last change                                      |
//
// Tag directory: 32-byte entries from byte 512; entry 0 is the head, the
// tags are entries 1 .. tags in use, kept contiguous:
// | offset | width    | field                                                        |
// |--------|----------|--------------------------------------------------------------|
// | 0      | u32      | block of the tag header                                      |
// | 4      | 11 bytes | tag name (at most 10 characters, NUL-terminated, OEM)        |
// | 15     | byte     | 0x10 when the key is plain columns                           |
// | 16     | byte     | left child in the name tree (entry number, 0 none)          |
// | 17     | byte     | right child (in the head: the root of the name tree)         |
// | 18     | byte     | parent (0 = the head)                                        |
// | 19     | byte     | 2                                                            |
// | 20     | byte     | key type letter                                              |
// The entries form a binary search tree ordered by name (bytes), hanging
// from the head's right child; every walk of it stops after 48 steps.
//
// Tag header, at its block (256 bytes are read; the FOR text lies beyond):
// | offset | width    | field                                                        |
// |--------|----------|--------------------------------------------------------------|
// | 0      | u32      | root page (block)                                            |
// | 4      | u32      | blocks the tag uses                                          |
// | 8      | byte     | flags: 0x08 descending, 0x40 unique, 0x10 plain columns      |
// | 9      | byte     | key type: C, N (12-byte packed decimal), D (8-byte double)   |
// | 12     | u16      | key length                                                   |
// | 14     | u16      | keys a page                                                  |
// | 16     | byte     | 1 for date keys                                              |
// | 18     | u16      | entry size                                                   |
// | 20     | byte     | change counter: a writer advances it, so that other          |
// |        |          | processes read the tag's pages again at their next lock      |
// | 24     | 220, NUL | KEY expression text                                          |
// | 245    | byte     | not 0 when the tag has a FOR expression                      |
// | 762    | 262, NUL | FOR expression text                                          |
//
// A header, directory entry or tag header that is short or breaks these
// rules (a page size of 0 or one that is no multiple of 512, whose pages
// would overwrite each other; 48 tags or more; a key type, length or entry
// size a page cannot hold) is "Not a valid dBASE III index file" (1222, the
// driver's one text for both formats); the file is not opened.
//
// Ziz-tag locks, by LockCompatibility and the reader's Locking (T = the tag
// header's byte offset, t = the tag number):
// | scheme                    | write lock                                  | read lock                          |
// |---------------------------|---------------------------------------------|------------------------------------|
// | dBASE, CLIPPER, FOX       | 1 byte at 0x6FFFFFFE, shared by the tags    | the same byte, counted             |
// | K+V, RECORD               | 64 bytes at T + 0x1C0                       | gate T + 0x1FF, then a free slot   |
// | K+VVirtual, RECORD        | 64 bytes at (t + 1) * 64 + 0x70000000       | gate its last byte, then a slot    |
// | K+V, FILE                 | the whole file: 0, length 0xFFFFFFFF        | as RECORD                          |
// | K+VVirtual, FILE          | from the file's size to the top of 32 bits  | as RECORD                          |
// After a write lock the end of the file is read again from the file
// header; after any lock the root and the change counter from the tag
// header, and a counter that moved marks the tag's kept pages stale.
// Allocating pages during an insert takes one more byte (0x1FF under K+V,
// 0x6FFFFFFD otherwise, not at Locking NONE) and reads the end of the file
// again, so that tags written by several processes never take one block;
// a whole-file lock of this handle already covers that byte.
#pragma once

#include "drivers/dbase/index/dbase/dbf_btree.h"

enum : uint32_t {
  dbfMdxMaxTags = 47,
  dbfMdxTagNameChars = 10,
  dbfMdxForTextBytes = 262,
  dbfMdxKeyTextBytes = 220,
};

class DbfMdxDesc : public DbfBtreeDesc {
 public:
  explicit DbfMdxDesc(DbfSharedDesc* table);
  ~DbfMdxDesc() override;

  // Initializes the tag on file (whose header DbfMdxFile::readHeader read)
  // and reads directory entry tag + 1 and the tag header: name, root,
  // geometry, key type, flags, change counter. keyText and forText
  // (forSize bytes, empty when none) receive the expressions as stored.
  KvStatus readTag(DbfIndexFile* file, uint16_t tag, unsigned char* keyText, uint32_t keySize,
                   unsigned char* forText, uint32_t forSize);

  // The FOR text (ANSI), or null when the tag has none; the text stays the
  // tag's (until the next call).
  KvStatus getFilterCondition(uint8_t** text, FlatFileDesc* cursor) override;
  // The root, the blocks used when pages were added, the change counter always;
  // the file's end into the file header when it moved.
  KvStatus writeHeader() override;
  KvStatus lockForWrite(DbfIndexCursor* cursor) override;
  void unlockIndexFile() override;
  KvStatus lockForRead(DbfIndexCursor* cursor) override;
  void unlockForRead(DbfIndexCursor* cursor) override;
  KvStatus getKeyText(unsigned char* text, uint32_t size) override;

  uint32_t getTagHeaderOffset() const { return tagHeaderOffset_; }
  uint8_t getChangeCounter() const { return changeCounter_; }

 protected:
  KvStatus allocatePage(DbfIndexCursor* cursor, uint32_t* page) override;
  void endAllocation() override;
  KvStatus pagesAbandoned(uint32_t pages) override;

 private:
  // The lock region of this tag under K+V and K+VVirtual (0 otherwise).
  uint32_t slotRegion() const;
  bool fileLocking(DbfIndexCursor* cursor) const;
  // Reads root and change counter (and with eof the file's end) again.
  KvStatus rereadAfterLock(bool eof);
  KvStatus readTagText(uint32_t offset, uint32_t bytes, unsigned char* text, uint32_t size);

  uint8_t changeCounter_ = 0;
  uint64_t ownSlots_ = 0;
  uint64_t writeBytes_ = 0;
  bool wholeFileHeld_ = false;  // this tag's write lock is the file's whole-file lock
  bool allocationHeld_ = false;
  uint32_t allocationByte_ = 0;
  unsigned char* forText_ = nullptr;  // getFilterCondition's answer, owned
};

// The file as a whole.
class DbfMdxFile {
 public:
  // Reads the file header: kind, tags, page size, end of file. When the
  // stored table name is not empty and differs from tableName over 15
  // characters (after OEM to ANSI for an OEM table), warning 1223 names it.
  static KvStatus readHeader(DbfIndexFile* file, const unsigned char* tableName, bool oem);
  // Looks a tag name up in the directory's name tree: entry receives the
  // entry number (0 when absent).
  static KvStatus findTag(DbfIndexFile* file, const unsigned char* name, uint16_t* entry);
  // The tag names (OEM to ANSI with ansi) in entry order into names (11
  // bytes each, room for 47); an extension other than MDX lists nothing.
  static KvStatus listTags(const unsigned char* path, bool ansi, unsigned char names[][dbfMdxTagNameChars + 1],
                           uint16_t* count);
  // CREATE INDEX's check: when the file exists and holds a tag of that
  // name (at most 10 characters, ANSI to OEM with ansi), 3838 (S0011).
  static KvStatus checkNewTagName(const unsigned char* path, const unsigned char* name, bool ansi);
  // DROP INDEX: removes the tag from the directory (the name tree mended,
  // the last entry moved into its place); its pages stay in the file.
  // Absent: 4404. left receives the tags that remain.
  static KvStatus removeTag(DbfIndexFile* file, const unsigned char* name, bool ansi, uint16_t* left);
  // A new file: header for tableName (its base name), 1024-byte pages, the
  // production byte, an empty directory; end of file block 4.
  static KvStatus createFile(DbfIndexFile* file, const unsigned char* tableName, bool production);
  // A new tag, its tree not built (root 0): a directory entry linked into
  // the name tree and a tag header in a new page. flags: indexDescending,
  // indexUniqueProperty, plainColumns. 48th tag: 4409. tag receives its
  // number.
  enum : uint8_t { plainColumns = 0x10 };
  static KvStatus addTag(DbfIndexFile* file, const unsigned char* name, unsigned char type, uint16_t keyLength,
                         uint8_t flags, const unsigned char* keyText, const unsigned char* forText, uint16_t* tag);
};
