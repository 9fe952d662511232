// KvSort: the record sort. Sorts fixed-length records by up to 64 keys; the
// file SQL engine orders result rows with it (ORDER BY, GROUP BY, DISTINCT),
// sorts record ids of index scans and subquery results, and KvSortedArray
// sorts its pointer array through it.
//
// Memory. Records are added one at a time into 64 KB blocks (record r of the
// memory lives in block r / recordsPerBlock at (r mod recordsPerBlock) *
// recordLength; records never straddle blocks). The first two blocks are
// always taken; from the third on a block is taken only while the allocator
// reports room (ramIsAllocOK, and the allocator's budget when one is set), up
// to the block limit (64, lower for tests). Beside the blocks the sorter keeps
// an index of 8 bytes per record, grown with the blocks: the high 32 bits a
// prefix of the first ordering key made byte-comparable, the low 32 bits the
// record's id (block << 16 | slot). Quicksort runs on the index; records move
// only when a run is written or a re-sort needs them in their current order.
//
// Order. Keys compare from the start key to the last key; the first nonzero
// key result decides. Every sort is stable: records equal on all compared
// keys keep the order in which they were added (after a re-sort: the order
// they had before it, within each run). Stability comes from the record id as
// the last tie-breaker inside a run and the run number across runs, so the
// quicksort always sees distinct elements and its result does not depend on
// pivot choices.
//
// Spilling. When memory is full the records in memory are sorted and written
// as one run to a work file, a temporary file "kv*" in $TMPDIR (else /tmp)
// made through the OS layer and deleted when the sorter is destroyed.
// Record n of the file lies at byte n * recordLength; all record numbers and
// byte offsets are 64-bit. Reading merges the runs: each run reads through a
// buffer of whole records inside one memory block (at least 4 KB, or one
// record when records are larger). When there are more runs than memory can
// give such buffers, groups of runs are first merged into longer runs in a
// fresh work file (the old one is deleted), until one merge can take them
// all.
//
// Records handed out stay valid until the next call on the sorter.
#pragma once

#include "util/memory/kv_object.h"

enum : uint16_t {
  kvSortMaxKeys = 64,
  kvSortMaxBlocks = 64,
};

// Key flags of KvSort::addKey.
enum : uint16_t {
  // The key's result is negated.
  sortKeyDescending = 0x1,
  // The key's bytes are text compared by the international collation
  // (strCompareIntl of the two counted texts).
  sortKeyIntl = 0x2,
  // With sortKeyDescending: when either record's first key byte is 0 the
  // result is not negated, so keys starting with byte 0 come first (among
  // themselves in ascending order) in both directions.
  sortKeyZeroFirst = 0x4,
  // The record's first pointer-sized bytes hold a KvObject*; the key's order
  // is that object's compare with the other record's object (offset and
  // length play no part). A null object sorts before every object.
  sortKeyObject = 0x8,
};

struct KvSortKey {
  uint16_t flags;
  uint16_t offset;  // bytes from the start of the record
  uint16_t length;  // bytes
};

class KV_UTIL_API KvSort : public KvObject {
 public:
  explicit KvSort(uint16_t recordLength = 0);
  ~KvSort() override;

  // Sets the record length of a sorter that holds no records yet (1517
  // otherwise). A sorter made with length 0 gets its length this way.
  KvStatus setRecordLength(uint16_t recordLength);
  uint16_t getRecordLength() const { return recordLength_; }

  // Appends a key. The 65th fails with 2710 "Too many sort keys."; unknown
  // flag bits or a key beyond the record fail with 1517.
  KvStatus addKey(uint16_t flags, uint16_t offset, uint16_t length);
  // Drops the last key (the engine replaces the last key between grouping
  // passes); no key left does nothing.
  void removeLastKey();
  uint16_t getKeyCount() const { return keyCount_; }
  // The first key used by ordering (0 normally; see reSort).
  void setStartKey(uint16_t startKey) { startKey_ = startKey; }

  // The memory of the next record, for the caller to fill; records may be
  // added only before the first read. Fails with the memory error when not
  // even two blocks can be had, with the OS layer's message when a run cannot
  // be written, and with 1517 when the sorter has no record length, is
  // already being read or sorts a caller's buffer.
  KvStatus nextSlot(void** slot);
  // Copies a record into the next slot.
  KvStatus addRecord(const void* record);

  // Sorts on the first call, then delivers the records in order; null at the
  // end (and after it).
  KvStatus getSorted(void** record) { return getNextRecord(record); }
  // Restarts the reading (sorting first when not yet sorted).
  KvStatus getFirstRecord(void** record);
  KvStatus getNextRecord(void** record);
  // As getSorted; equalKeys receives the number of leading keys (from key 0)
  // on which this record equals the record the previous read delivered: 0
  // for the first record and at the end.
  KvStatus getSortedWithCompare(void** record, uint16_t* equalKeys);
  // Delivers the first record whose keys all equal those of the record
  // image key, and continues from it. When none does, record is null and the
  // next getNextRecord delivers the first greater record.
  KvStatus getFirstRecordWithKey(const void* key, void** record);

  // Sorts again after keys or the start key changed. With start key s > 0
  // the records are cut into groups of neighbours equal on keys 0 .. s-1 and
  // each group is sorted by keys s onward; with s = 0 everything is sorted.
  // The reading restarts.
  KvStatus reSort();

  // Sorts a caller's array of count records in place (the sorter's record
  // length each, at most 4194304 records); the buffer stays the caller's and
  // must outlive the sorter's reading of it. Whatever the sorter held before
  // is dropped. sortBuf does nothing when already sorted; reading without it
  // sorts first.
  KvStatus setBuf(uint32_t count, void* buffer);
  KvStatus sortBuf();

  // Range re-sort: startResortRange marks the record last delivered as the
  // first of the range, endResortRange the record before the one last
  // delivered as its last (the last record once the end was read).
  // resortRange sorts that range again with the given start key (grouped as
  // reSort does, or the whole range by keys startKey onward when wholeRange
  // is nonzero or startKey is 0); the start key returns to 0. The range is
  // then read again through getFirstRecordInRange / getNextRecordInRange,
  // which stop after its last record; the main reading continues where it
  // was.
  void startResortRange();
  void endResortRange();
  KvStatus resortRange(uint16_t startKey, unsigned wholeRange);
  KvStatus getFirstRecordInRange(void** record);
  KvStatus getNextRecordInRange(void** record);

  // The most 64 KB blocks the sorter takes (2 to 64; 64 by default). Tests
  // lower it to make a few records spill.
  void setBlockLimit(uint16_t blocks);
  // Runs currently in the work file (0 while everything is in memory).
  uint32_t getRunCount() const { return runCount_; }
  uint64_t getRecordCount() const { return totalRecords_; }

 private:
  enum : uint32_t {
    stateBlocksHeld = 0x1,
    stateSpilled = 0x2,
    stateSorted = 0x4,
    stateKeysAdded = 0x8,
    stateCallerBuffer = 0x10,
  };
  struct Run {
    uint64_t first;  // record number in the work file
    uint64_t count;
  };
  struct Source;
  struct Merge;
  class Order;

  KV_LOCAL void release();
  KV_LOCAL KvStatus validate() const;
  KV_LOCAL int compareRecords(const uint8_t* a, const uint8_t* b, uint16_t fromKey, uint16_t toKey) const;
  KV_LOCAL bool isSpilled() const;

  // Memory: record ids, positions of the index and slots.
  uint8_t* recordById(uint32_t id) const {
    return blocks_[id >> 16] + size_t{id & 0xFFFF} * recordLength_;
  }
  uint32_t idOfSlot(uint32_t slot) const {
    return ((slot / slotsPerBlock_) << 16) | (slot % slotsPerBlock_);
  }
  uint8_t* recordAt(uint64_t position) const {
    return recordById(static_cast<uint32_t>(entries_[position]));
  }
  KV_LOCAL KvStatus takeBlock(bool* taken);
  KV_LOCAL void identityOrder(uint32_t count);
  KV_LOCAL void sortPositions(uint32_t first, uint32_t last, uint16_t fromKey);
  KV_LOCAL void sortRange(uint32_t first, uint32_t last, uint16_t fromKey, bool whole);
  KV_LOCAL void makePhysical(uint32_t count);

  // The work file.
  KV_LOCAL KvStatus openWorkFile(int* file, unsigned char** name);
  KV_LOCAL KvStatus addRun(uint64_t first, uint64_t count);
  KV_LOCAL KvStatus transferSlots(int file, uint64_t fileRecord, uint32_t slot, uint32_t count, bool write);
  KV_LOCAL KvStatus spillMemory();
  KV_LOCAL KvStatus copyRecords(int from, uint64_t fromRecord, int to, uint64_t toRecord, uint64_t count);
  KV_LOCAL KvStatus sortFileRange(uint64_t first, uint64_t count, uint16_t fromKey, bool whole);

  // Merging.
  KV_LOCAL uint32_t mergeFanIn() const;
  KV_LOCAL void freeMerge(Merge** merge);
  KV_LOCAL KvStatus newMerge(Merge** merge, int file, const Run* runs, uint32_t count, uint16_t fromKey);
  KV_LOCAL void attachBuffers(Merge* merge, bool outputSlot, uint8_t** output, uint32_t* outputCapacity);
  KV_LOCAL uint8_t* currentOf(const Source* source) const;
  KV_LOCAL KvStatus loadSource(Merge* merge, Source* source);
  KV_LOCAL KvStatus ensureLoaded(Merge* merge);
  KV_LOCAL bool sourceLess(const Merge* merge, uint32_t a, uint32_t b) const;
  KV_LOCAL void orderSources(Merge* merge);
  KV_LOCAL KvStatus mergeReset(Merge* merge);
  KV_LOCAL KvStatus mergeNext(Merge* merge, uint8_t** record, bool reorder);
  KV_LOCAL KvStatus mergeSeek(Merge* merge, const uint8_t* key, bool* found);
  KV_LOCAL KvStatus reduceRuns(int* file, unsigned char** name, bool ownsFile, Run** runs, uint32_t* runCount,
                               uint32_t target, uint16_t fromKey);
  KV_LOCAL KvStatus makeRangeMerge(uint16_t fromKey);

  // Reading.
  KV_LOCAL KvStatus finish();
  KV_LOCAL KvStatus readMain(uint8_t** record);
  KV_LOCAL void remember(uint8_t* record);

  uint16_t recordLength_ = 0;
  uint16_t keyCount_ = 0;
  uint16_t startKey_ = 0;
  uint16_t mergeFromKey_ = 0;  // the key the runs' order starts with
  KvSortKey keys_[kvSortMaxKeys] = {};
  uint32_t recordsPerBlock_ = 0;  // 65536 / recordLength_
  uint32_t slotsPerBlock_ = 0;    // id space of a block: recordsPerBlock_, 65536 for a caller's buffer
  uint32_t stateFlags_ = 0;
  uint16_t blockCount_ = 0;
  uint16_t blockLimit_ = kvSortMaxBlocks;
  uint8_t* blocks_[kvSortMaxBlocks] = {};  // a caller's buffer: 65536-record pieces of it
  uint64_t* entries_ = nullptr;  // ramAllocHuge; capacity in records
  uint32_t entryCapacity_ = 0;
  uint8_t* spare_ = nullptr;     // one record: moves and file searches
  uint8_t* previousCopy_ = nullptr;  // one record: the previous record once spilled
  uint32_t memoryRecords_ = 0;
  uint32_t fillBlock_ = 0;
  uint32_t fillSlot_ = 0;
  uint64_t totalRecords_ = 0;

  // Reading in memory.
  uint64_t cursor_ = 0;  // records delivered since the start; the next position
  bool atEnd_ = false;
  const uint8_t* previous_ = nullptr;  // null: no previous record
  uint64_t rangeFirst_ = 0;            // positions; rangeEnd_ is exclusive
  uint64_t rangeEnd_ = 0;
  uint64_t rangeCursor_ = 0;

  // Spilled.
  int workFile_ = 0;
  unsigned char* workName_ = nullptr;
  Run* runs_ = nullptr;
  uint32_t runCount_ = 0;
  uint32_t runCapacity_ = 0;
  Merge* merge_ = nullptr;       // the main reading
  Merge* rangeMerge_ = nullptr;  // the re-sorted range
  const Merge* bufferOwner_ = nullptr;  // whose buffers the blocks hold now
};
