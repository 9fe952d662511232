// DbfIndexFile: one open index file of a table, shared by every index or
// tag it holds (all tags of one .MDX or .CDX, the one index of an .NDX,
// .NTX or .IDX), with what those indexes share: the handle, the kind, the
// page size, the end-of-file page and the byte-range locks this handle
// holds on the file.
//
// Page numbers count 512-byte units from the start of the file, whatever
// the page size (an .MDX page of 1024 bytes advances the end of the file
// by 2); page n starts at byte n * 512, computed in 64 bits.
//
// Every read of the file is checked: a page that the file does not hold
// whole is "Error reading index file" (1201) naming the path. Linux locks
// are advisory, so a read never fails because another process locked the
// range; the lock operations probe where a waiting read stood.
#pragma once

#include "util/memory/kv_object.h"

class DbfSharedDesc;

// Index kinds: the format of a file, set by its header reader.
enum DbfIndexKind : uint32_t {
  dbfIndexNdx2 = 0,        // dBASE II .NDX
  dbfIndexNdx3 = 1,        // dBASE III .NDX
  dbfIndexMdx = 2,         // dBASE IV .MDX, one index a tag
  dbfIndexNtx = 3,         // Clipper .NTX
  dbfIndexIdx = 4,         // FoxPro standard .IDX
  dbfIndexCompactIdx = 5,  // FoxPro compact .IDX
  dbfIndexCdx = 6,         // FoxPro .CDX, one index a tag
  dbfIndexKindCount = 7,
};

enum : uint32_t {
  dbfIndexPageUnit = 512,        // bytes of one page number step
  dbfIndexMaxKeyBytes = 256,     // room for the longest key of any kind, and more
  dbfIndexMaxEofPage = 1u << 25, // files ending beyond this page are refused
  dbfIndexMaxRootPage = 1u << 28,
  // Deepest path from a root to a leaf that is followed. A tree of pages
  // with two children at least stays far below it in any file that fits
  // in 2^25 pages; a deeper path is a cycle of child pointers or a corrupt
  // file.
  dbfIndexMaxDepth = 64,
};

// The largest key length of a kind (.NDX, .MDX and standard .IDX 100,
// .NTX 250, compact .IDX and .CDX 240); 0 for an unknown kind.
uint16_t dbfIndexMaxKeyLength(uint32_t kind);

class DbfIndexFile : public KvObject {
 public:
  // owner: the object that opened the file (not owned). table: the table
  // the file is opened for, or null; it gives the international sort.
  DbfIndexFile(void* owner, DbfSharedDesc* table);
  // Closes the handle.
  ~DbfIndexFile() override;

  // Copies the path (the file's name as opened, for messages and the
  // table's list of files). Out of memory fails.
  KvStatus setPath(const unsigned char* path);
  // Opens the file at the path: read-only, or read-write.
  KvStatus open(bool readOnly);
  // Takes over a handle the caller opened (CREATE INDEX); it is closed
  // with the file.
  void adopt(int handle) { handle_ = handle; }
  // Closes the handle now (the file is deleted or renamed next).
  void close();

  // Reads length bytes at byte offset; got receives the count, less at the
  // end of the file.
  KvStatus read(uint64_t offset, void* buffer, uint32_t length, uint32_t* got);
  // Reads a whole page: a short read is 1201 with the path.
  KvStatus readPage(uint32_t page, void* buffer, uint32_t length);
  KvStatus write(uint64_t offset, const void* data, uint32_t length);
  KvStatus writePage(uint32_t page, const void* data, uint32_t length);
  // The file's size in bytes.
  KvStatus size(uint64_t* bytes);

  // "Not a valid index file: %s1" (1238), and the other messages that name
  // the file, with the path filled in; always kvFailure.
  KvStatus invalid() const;
  KvStatus fail(uint16_t messageId) const;

  void* getOwner() const { return owner_; }
  int getHandle() const { return handle_; }
  const unsigned char* getPath() const { return path_; }
  uint32_t getKind() const { return kind_; }
  void setKind(uint32_t kind) { kind_ = kind; }
  uint16_t getPageSize() const { return pageSize_; }
  void setPageSize(uint16_t bytes) { pageSize_ = bytes; }
  uint16_t getTagCount() const { return tagCount_; }
  void setTagCount(uint16_t count) { tagCount_ = count; }
  // The next free page (in 512-byte units), as last read from or written
  // to the header.
  uint32_t getEofPage() const { return eofPage_; }
  void setEofPage(uint32_t page) { eofPage_ = page; }
  uint32_t getUseMask() const { return useMask_; }
  void setUseMask(uint32_t mask) { useMask_ = mask; }
  bool isIntlSort() const { return intlSort_; }

  // ---- locks this handle holds on the file, shared by its indexes
  // The one lock byte of the dBASE, CLIPPER and FOX schemes (0x6FFFFFFE),
  // which read and write locks of every tag share: the count of holders,
  // so that the byte is locked once and let go with the last holder (two
  // asks of one handle for one byte would refuse each other, which a
  // waiting lock would wait for without end).
  uint32_t lockByteHolders = 0;
  // Read locks counted on the file (the plans holding them).
  uint16_t readLockCount = 0;
  // Reader slots this handle holds in the 64-byte regions of the file's
  // tags (K+V, K+VVirtual).
  uint32_t readSlotHolders = 0;
  // A whole-file lock (MDX under Locking FILE) and the tags holding it.
  uint32_t fileLockOffset = 0;
  uint32_t fileLockLength = 0;
  uint32_t fileLockHolders = 0;
  // The region of the last write lock taken (for messages and tests).
  uint32_t lockOffset = 0;
  uint32_t lockLength = 0;

 private:
  void* owner_;
  int handle_ = 0;
  unsigned char* path_ = nullptr;  // owned
  uint32_t kind_ = dbfIndexNdx3;
  uint32_t eofPage_ = 0;
  uint32_t useMask_ = 0;
  uint16_t pageSize_ = dbfIndexPageUnit;
  uint16_t tagCount_ = 1;
  bool intlSort_ = false;
};
