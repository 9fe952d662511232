// .NDX files: one B-tree over one KEY expression, in 512-byte pages (page 0
// the header). DbfNdx2Desc reads and writes the dBASE II form (tables whose
// header says dBASE II), DbfNdx3Desc the dBASE III form; both are the dBASE
// B-tree of dbf_btree.h with their header, their header update and the
// index locks shared with other programs.
//
// dBASE III header (the first 248 bytes are read; integers little-endian):
// | offset | width          | field                                                      |
// |--------|----------------|------------------------------------------------------------|
// | 0      | u32            | root page                                                  |
// | 4      | u32            | end-of-file page (the next page to allocate)               |
// | 8      | byte           | index flags when the u16 at 20 is 2 (0x40 unique)          |
// | 12     | u16            | key length (1 to 100)                                      |
// | 14     | u16            | keys a page                                                |
// | 16     | u16            | key type: 0 character (C), else an 8-byte double (F)       |
// | 18     | u16            | entry size (key length + 8 at least)                       |
// | 20     | u16            | form marker: 2 = the unique flag is at 8                   |
// | 23     | byte           | unique when not 0 (when the u16 at 20 is not 2)            |
// | 24     | 220 bytes, NUL | KEY expression text                                        |
//
// dBASE II header (the first 232 bytes are read):
// | offset | width          | field                                                      |
// |--------|----------------|------------------------------------------------------------|
// | 2      | u16            | root page                                                  |
// | 4      | u16            | end-of-file page                                           |
// | 6      | byte           | key length + 2                                             |
// | 7      | byte           | entry size: the byte at 6 plus 2 (key length + 4)          |
// | 8      | byte           | keys a page                                                |
// | 9      | byte           | key type: 0 character (C), else numeric (F)                |
// | 10     | 220 bytes, NUL | KEY expression text                                        |
//
// A header is refused ("Not a valid dBASE II index file" 1221, "... dBASE
// III ..." 1222) when it is short, when its key length is 0 or above 100,
// when its entries cannot hold their key or do not fit a page as many as
// it claims (the header bytes, the keys a page and the pointer behind them
// within 512 bytes), when a page holds fewer than 2 keys, or when its root
// or end of file lie beyond the file's bounds. A root of 0 is a file whose
// tree was never built: it opens, and any use of its tree is refused.
//
// Index locks, by LockCompatibility (byte offsets in the index file):
// | scheme                | write lock                 | read lock                                   |
// |-----------------------|----------------------------|---------------------------------------------|
// | dBASE, CLIPPER, FOX   | 1 byte at 0x6FFFFFFE       | the same byte, counted (dbf_index_locks.h)  |
// | K+V                   | 64 bytes at 0x180          | gate 0x1BF, then a free slot of the 63      |
// | K+VVirtual            | 64 bytes at 0x6FFFFFFF     | gate 0x7000003E, then a free slot           |
// After a lock is taken the header's root (and for a write lock its end of
// file) is read again and every kept page is marked stale, so that what
// another process wrote is read.
#pragma once

#include "drivers/dbase/index/dbase/dbf_btree.h"

class DbfNdxDesc : public DbfBtreeDesc {
 public:
  explicit DbfNdxDesc(DbfSharedDesc* table);
  ~DbfNdxDesc() override;

  // Initializes the index on file and reads its header: kind, root, end of
  // file, geometry, key type, unique property. keyText receives the KEY
  // expression (at most 220 characters, as stored: OEM for OEM tables).
  virtual KvStatus readHeader(DbfIndexFile* file, unsigned char* keyText, uint32_t size) = 0;

  // Root and end of file into the header, when pages were added.
  KvStatus writeHeader() override;
  KvStatus lockForWrite(DbfIndexCursor* cursor) override;
  void unlockIndexFile() override;
  KvStatus lockForRead(DbfIndexCursor* cursor) override;
  void unlockForRead(DbfIndexCursor* cursor) override;
  KvStatus getKeyText(unsigned char* text, uint32_t size) override;

 protected:
  // Reads root (and with eof the end of file) again from the header.
  KvStatus rereadHeader(bool eof);
  // The lock region of K+V and K+VVirtual, 0 under the other schemes.
  uint32_t slotRegion() const;
  // Checks and takes root and end of file read from a header.
  KvStatus takeRootAndEof(uint32_t root, uint32_t eof);
  KvStatus refuse() const;

 private:
  uint64_t ownSlots_ = 0;     // reader slots this handle holds (bit i: region + i)
  uint64_t writeBytes_ = 0;   // bytes of a write lock taken one by one
};

class DbfNdx2Desc : public DbfNdxDesc {
 public:
  explicit DbfNdx2Desc(DbfSharedDesc* table);
  ~DbfNdx2Desc() override;
  KvStatus readHeader(DbfIndexFile* file, unsigned char* keyText, uint32_t size) override;
  // A new header of an empty index (root 0, end of file 1; a build makes
  // the tree): type C or F, key length 1 to 100, key text at most 99
  // characters.
  static KvStatus writeNewHeader(DbfIndexFile* file, unsigned char type, uint16_t keyLength,
                                 const unsigned char* keyText);
};

class DbfNdx3Desc : public DbfNdxDesc {
 public:
  explicit DbfNdx3Desc(DbfSharedDesc* table);
  ~DbfNdx3Desc() override;
  KvStatus readHeader(DbfIndexFile* file, unsigned char* keyText, uint32_t size) override;
  // A new header of an empty index: type C or F, key length 1 to 100, the
  // unique property (byte 23), key text at most 220 characters.
  static KvStatus writeNewHeader(DbfIndexFile* file, unsigned char type, uint16_t keyLength, bool unique,
                                 const unsigned char* keyText);
};
