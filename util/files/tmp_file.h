// KvTmpFile: the system's scratch store, a byte space addressed by 32-bit
// offsets. Its bytes live in a small page cache in memory and spill to at
// most two temporary disk files ("$TMPDIR/kv*", made through the OS layer)
// when the cache is full. Every large transient result of the system (result
// rows, keysets, change logs, spooled long values, trees) lives in one.
//
// Addressing:
//   page = offset / 2048, position in page = offset % 2048.
//   Offsets are uint32_t; a store never hands out offset 0, so 0 can stand
//   for "none". A transfer may not run past offset 0xFFFFFFFF (the end offset
//   must stay representable), so the last usable byte is 0xFFFFFFFE.
//   Page numbers are 32-bit: every offset of the 4 GiB space has a page of
//   its own (16-bit page numbers would fold offsets 128 MiB apart together).
//
// Page cache: cacheBytes / 4096 slots (rounded down to a power of two, at
// least one), each with two ways of one page; page p lives in slot
// p % slotCount, so a lookup touches one slot. One recency bit per slot
// chooses the victim; a changed page is written out only when displaced,
// and a write that covers a whole page does not load it first.
//
// Spill files (page images of 2048 bytes, no header), unlinked as soon as
// they are made (bosFileOpen): they live while the store holds their
// descriptors, and a killed process leaves none:
//   first file   pages 0 .. 16383 while no second file exists, at p * 2048;
//                the first-file page count is 1 + the highest page stored
//                there and stops growing once the second file exists.
//   second file  every other page p, at (p - first-file page count) * 2048.
// Pages never written read back as zeros (also before the first write).
//
// Free space: getContiguousSpace hands out bytes at the end; tmpFindSpace
// reuses free runs (TmpSpace, ordered by start offset) first; tmpFreeSpace
// gives runs back, merging neighbours and moving the end back when the
// freed bytes reach it; once every byte is back (the end at 1), the spill
// files are closed, which removes them.
//
// Every operation holds the store's own lock (a KvSemaphore made on first
// use) for its whole duration, so objects of one connection that share a
// store may use it from several threads.
#pragma once

#include "util/containers/kv_array.h"
#include "util/locks/semaphore.h"

class KvString;

// One free run of a store.
class KV_UTIL_API TmpSpace : public KvObject {
 public:
  TmpSpace(uint32_t start, uint32_t length) : start_(start), length_(length) {}
  ~TmpSpace() override;
  // Orders by start offset: -1, 0 or 1.
  int16_t compare(const KvObject* other) const override;

  uint32_t getStart() const { return start_; }
  uint32_t getLength() const { return length_; }
  uint32_t getEnd() const { return start_ + length_; }
  void set(uint32_t start, uint32_t length) {
    start_ = start;
    length_ = length;
  }

 private:
  uint32_t start_;
  uint32_t length_;
};

class KV_UTIL_API KvTmpFile : public KvObject {
 public:
  enum : uint32_t {
    tmpPageBytes = 2048,
    tmpSlotBytes = 2 * tmpPageBytes,  // cache bytes per slot (two ways)
    tmpFirstFilePages = 16384,        // pages the first spill file may hold
    tmpMinFreeRun = 256,              // shorter free runs are not kept
    tmpWholeSpace = 0xFFFFFFFF,       // size: everything from the end on
    tmpHugePiece = 65536,             // piece of readHuge / writeHuge
  };

  // Nothing is allocated here: the cache is made by the first operation that
  // needs it.
  explicit KvTmpFile(uint16_t cacheBytes = 32768);
  // Truncates the store (its spill files are deleted) and frees its lock.
  ~KvTmpFile() override;

  // Hands out size bytes at the end, aligned to 4; bytes that fit in one
  // page never cross a page boundary (the offset moves to the next page
  // when the rest of the current one is too short). Free runs are not
  // consulted. Returns 0 (with 1506 "Insufficient disk space." in the error
  // list) when the 4 GiB space is exhausted.
  uint32_t getContiguousSpace(uint32_t size);
  // The first free run (in offset order) of at least size bytes: its start,
  // the run shrinking by size, or going whole when under 256 bytes would
  // remain. Without one, the end offset, and the end grows by size.
  // tmpWholeSpace takes everything from the end on. No alignment.
  KvStatus tmpFindSpace(uint32_t size, uint32_t* offset);
  // Gives size bytes at offset back. A run that reaches the end (or size
  // tmpWholeSpace) moves the end back; a run under 256 bytes is lost; others
  // become free runs. A run outside 1 .. end, or overlapping a free run, is
  // ignored (it cannot be the caller's).
  void tmpFreeSpace(uint32_t offset, uint32_t size);

  KvStatus tmpWrite(uint32_t offset, const void* data, uint32_t length);
  KvStatus tmpRead(uint32_t offset, void* data, uint32_t length);
  // Makes the page of offset resident and returns a pointer to that byte in
  // the cache and the bytes left to the end of its page. markChanged nonzero
  // marks the page changed (written out when displaced). The pointer is
  // valid only until the next operation on this store, by any thread: any
  // later call may displace the page.
  KvStatus tmpPointer(uint32_t offset, void** pointer, uint16_t* available, uint16_t markChanged);
  // out receives length bytes at offset.
  KvStatus read(uint32_t offset, KvString* out, uint32_t length);
  // tmpRead / tmpWrite in pieces of at most 65536 bytes, each piece one
  // locked operation; length 0 succeeds at once.
  KvStatus readHuge(uint32_t offset, void* data, uint32_t length);
  KvStatus writeHuge(uint32_t offset, const void* data, uint32_t length);

  // Empties the store: cache and free runs freed, spill files closed (which
  // removes them), end offset back to 1.
  void tmpTruncate();

  // Inspection, for owners and tests.
  uint32_t getEndOffset() const { return endOffset_; }
  uint16_t getSlotCount() const { return slotCount_; }
  uint16_t getFreeRunCount() const { return freeRuns_.getCount(); }
  const TmpSpace* getFreeRun(uint16_t index) const {
    return static_cast<const TmpSpace*>(freeRuns_.getAt(index));
  }
  // Spill file names (gone from the directory already), null until made.
  const unsigned char* getFirstFileName() const { return firstName_; }
  const unsigned char* getSecondFileName() const { return secondName_; }
  uint32_t getFirstFilePageCount() const { return firstFilePages_; }
  // 1 + the highest page ever written out, 0 when none was.
  uint32_t getPagesWrittenLimit() const { return pagesWrittenLimit_; }

 private:
  // A cache slot: the pages held by its two ways and their state.
  struct Slot {
    uint32_t page[2];  // noPage when the way holds nothing
    uint32_t flags;    // slotChanged0, slotChanged1, slotRecent1
  };
  enum : uint32_t {
    slotChanged0 = 0x1,
    slotChanged1 = 0x2,
    slotRecent1 = 0x4,  // way 1 was used more recently than way 0
    noPage = 0xFFFFFFFF,
  };
  // How a page access treats the page.
  enum Access { accessRead, accessWrite, accessWholeWrite, accessPointer, accessPointerChanged };

  KV_LOCAL KvStatus makeCache();
  KV_LOCAL void freeCache();
  // The cache bytes of page p, made resident as access says.
  KV_LOCAL KvStatus getPage(uint32_t page, Access access, unsigned char** bytes);
  KV_LOCAL KvStatus writePage(uint32_t page, const unsigned char* bytes);
  KV_LOCAL KvStatus loadPage(uint32_t page, unsigned char* bytes);
  // Makes a spill file on first use; which 0 first, 1 second.
  KV_LOCAL KvStatus openSpillFile(int which, uint32_t makeFlags);
  KV_LOCAL void closeSpillFiles();
  // tmpTruncate's work, under the store's lock.
  KV_LOCAL void empty();
  KV_LOCAL void deleteSpillFiles();
  // Merges the run at index (none: the count) with its neighbours, then
  // moves the end back over a last run that reaches it.
  KV_LOCAL void mergeFreeRuns(uint16_t index);
  // A transfer of length bytes at offset stays inside the space.
  KV_LOCAL static KvStatus checkRange(uint32_t offset, uint32_t length);

  uint16_t slotCount_;  // the cache size given at construction, in slots
  uint32_t endOffset_ = 1;
  uint32_t pagesWrittenLimit_ = 0;
  int firstFile_ = 0;
  unsigned char* firstName_ = nullptr;
  uint32_t firstFilePages_ = 0;
  int secondFile_ = 0;
  unsigned char* secondName_ = nullptr;
  Slot* slots_ = nullptr;
  unsigned char* cache_ = nullptr;
  KvSortedArray freeRuns_;  // TmpSpace by start offset, owned
  KvSemaphore* lockHolder_ = nullptr;
};
