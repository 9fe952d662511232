// KvSort: in-memory quicksort of an index, runs in a temporary work file
// when memory is full, and a buffered merge of the runs. See sort.h for the
// memory layout, the order and its stability.
//
// Index entry (64 bits): bits 32-63 the byte-comparable prefix of the first
// compared key (0 when that key cannot be compared by a prefix), bits 0-31
// the record id, block << 16 | slot, which also orders records of one memory
// load by the order they were added.
//
// Merge buffers: a merge of K runs gives each run a slot of `capacity`
// records inside one memory block (blocks hold recordsPerBlock records,
// ceil(K / blocks) slots each), so each buffer fill is one read of whole
// records. A pass that writes merged runs takes one more slot as its output
// buffer.
#include "util/files/sort.h"

#include "util/os/bos.h"
#include "util/resource.h"
#include "util/containers/str_functions.h"
#include "util/util_message_ids.h"

#include <cstring>
#include <utility>

namespace {

constexpr uint32_t kBlockBytes = 65536;
// A merge buffer holds at least this many bytes (or one record when records
// are larger), so that runs are never read record by record.
constexpr uint32_t kMinReadBytes = 4096;
// Ranges of at most this many entries are finished by insertion sort.
constexpr uint32_t kInsertionLimit = 16;
// Ranges from this many entries on take a five-sample pivot.
constexpr uint32_t kFiveSampleLimit = 152;
// The explicit stack of the quicksort. The larger part of every partition is
// pushed and the smaller one sorted next, so the stack never holds more than
// log2(entries) <= 22 ranges.
constexpr uint32_t kStackDepth = 200;
constexpr uint64_t kPlacedEntry = ~uint64_t{0};
constexpr uint32_t kMaxBufferRecords = kvSortMaxBlocks * 65536u;

// A prefix stands for the key when comparing the key's first four bytes as a
// big-endian number orders as the key does: plain ascending bytes (flag 4
// alone changes nothing) or plain descending bytes (complemented).
bool prefixUsable(const KvSortKey& key) {
  return (key.flags & ~uint16_t{sortKeyZeroFirst}) == 0 || key.flags == sortKeyDescending;
}

uint32_t prefixOf(const KvSortKey& key, const uint8_t* record) {
  const uint8_t* bytes = record + key.offset;
  uint32_t count = key.length < 4 ? key.length : 4;
  uint32_t value = 0;
  for (uint32_t i = 0; i < count; ++i) value |= uint32_t{bytes[i]} << (24 - 8 * i);
  return (key.flags & sortKeyDescending) ? ~value : value;
}

int compareObjects(const uint8_t* a, const uint8_t* b) {
  const KvObject* first;
  const KvObject* second;
  std::memcpy(&first, a, sizeof(first));
  std::memcpy(&second, b, sizeof(second));
  if (!first || !second) return (first != nullptr) - (second != nullptr);
  return first->compare(second);
}

uint32_t log2Floor(uint32_t value) {
  uint32_t bits = 0;
  while (value >>= 1) ++bits;
  return bits;
}

template <class Less>
void insertionSort(uint64_t* entries, uint32_t lo, uint32_t hi, const Less& less) {
  for (uint32_t i = lo + 1; i <= hi; ++i) {
    uint64_t value = entries[i];
    uint32_t j = i;
    for (; j > lo && less(value, entries[j - 1]); --j) entries[j] = entries[j - 1];
    entries[j] = value;
  }
}

template <class Less>
void siftDown(uint64_t* entries, uint32_t root, uint32_t size, const Less& less) {
  uint64_t value = entries[root];
  for (;;) {
    uint32_t child = 2 * root + 1;
    if (child >= size) break;
    if (child + 1 < size && less(entries[child], entries[child + 1])) ++child;
    if (!less(value, entries[child])) break;
    entries[root] = entries[child];
    root = child;
  }
  entries[root] = value;
}

// The fallback when partitions keep coming out lopsided, so that no input
// costs more than n log n comparisons.
template <class Less>
void heapSort(uint64_t* entries, uint32_t count, const Less& less) {
  for (uint32_t i = count / 2; i-- > 0;) siftDown(entries, i, count, less);
  for (uint32_t end = count - 1; end > 0; --end) {
    std::swap(entries[0], entries[end]);
    siftDown(entries, 0, end, less);
  }
}

// Quicksort of distinct entries (the order's ties are broken by the id), with
// an explicit stack. Pivots: median of the first, middle and last entry for
// small ranges, median of five samples for large ones; the samples also serve
// as sentinels, so the scans need no bounds tests.
template <class Less>
void quickSort(uint64_t* e, uint32_t count, const Less& less) {
  if (count < 2) return;
  struct Part {
    uint32_t lo, hi, depth;
  } stack[kStackDepth];
  uint32_t top = 0;
  uint32_t lo = 0, hi = count - 1;
  uint32_t depth = 2 * log2Floor(count) + 4;  // partitions on one path before heapsort
  for (;;) {
    while (hi > lo) {
      uint32_t span = hi - lo;  // entries - 1
      if (span < kInsertionLimit) {
        insertionSort(e, lo, hi, less);
        break;
      }
      if (depth == 0) {
        heapSort(e + lo, span + 1, less);
        break;
      }
      --depth;
      uint32_t pivotAt, i, j;
      if (span + 1 < kFiveSampleLimit) {
        uint32_t mid = lo + span / 2;
        if (less(e[mid], e[lo])) std::swap(e[mid], e[lo]);
        if (less(e[hi], e[mid])) {
          std::swap(e[hi], e[mid]);
          if (less(e[mid], e[lo])) std::swap(e[mid], e[lo]);
        }
        std::swap(e[mid], e[hi - 1]);
        pivotAt = hi - 1;  // e[lo] < pivot < e[hi]
        i = lo;
        j = hi - 1;
      } else {
        uint32_t sample[5] = {lo, lo + span / 4, lo + span / 2, lo + span / 2 + span / 4, hi};
        for (uint32_t a = 1; a < 5; ++a) {
          for (uint32_t b = a; b > 0 && less(e[sample[b]], e[sample[b - 1]]); --b) {
            std::swap(e[sample[b]], e[sample[b - 1]]);
          }
        }
        std::swap(e[sample[1]], e[lo + 1]);
        std::swap(e[sample[3]], e[hi - 1]);
        std::swap(e[sample[2]], e[hi - 2]);
        pivotAt = hi - 2;  // e[lo] < e[lo + 1] < pivot < e[hi - 1] < e[hi]
        i = lo + 1;
        j = hi - 2;
      }
      uint64_t pivot = e[pivotAt];
      // Each index moves before it is tested; the scans stop at the pivot
      // itself (i) and at the smaller samples (j).
      for (;;) {
        while (less(e[++i], pivot)) {
        }
        while (less(pivot, e[--j])) {
        }
        if (i >= j) break;
        std::swap(e[i], e[j]);
      }
      std::swap(e[i], e[pivotAt]);
      uint32_t leftCount = i - lo, rightCount = hi - i;
      if (leftCount < rightCount) {
        if (rightCount > 1) stack[top++] = {i + 1, hi, depth};
        if (leftCount == 0) break;
        hi = i - 1;
      } else {
        if (leftCount > 1) stack[top++] = {lo, i - 1, depth};
        if (rightCount == 0) break;
        lo = i + 1;
      }
    }
    if (top == 0) return;
    --top;
    lo = stack[top].lo;
    hi = stack[top].hi;
    depth = stack[top].depth;
  }
}

KvStatus invalidParameter() {
  addResourceError(kvMsgInvalidParameter);
  return kvFailure;
}

// Room for bytes more from the allocator: its own test, and the budget when
// one is set, so that a block taken after a yes never fails.
bool roomFor(uint64_t bytes) {
  if (!ramIsAllocOK()) return false;
  RamLimits limits = ramGetLimits();
  return !limits.systemBudget || ramGetStats().systemBytes + bytes <= limits.systemBudget;
}

KvStatus readExactly(int file, uint64_t offset, void* buffer, uint32_t length) {
  uint32_t got = 0;
  if (bosFileRead(file, static_cast<int64_t>(offset), buffer, length, &got) != kvSuccess) return kvFailure;
  if (got != length) {
    addResourceError(kvMsgFileInputOutput);
    return kvFailure;
  }
  return kvSuccess;
}

// Whether a run's buffer holds its current record.
bool covers(uint64_t next, uint64_t bufferFirst, uint32_t bufferCount) {
  return bufferCount && next >= bufferFirst && next - bufferFirst < bufferCount;
}

void closeWorkFile(int* file, unsigned char** name) {
  // A scratch file: its records went out through checked writes, and it has
  // had no name since it was made, so closing it removes it.
  if (*file) kvIgnoreStatus(bosFileClose(*file));
  ramFree(*name);
  *file = 0;
  *name = nullptr;
}

}  // namespace

// One run being read: its records [first, end) of the file, the current
// record `next`, and the buffer of `capacity` records that holds
// [bufferFirst, bufferFirst + bufferCount).
struct KvSort::Source {
  uint64_t first;
  uint64_t end;
  uint64_t next;
  uint64_t bufferFirst;
  uint64_t markFirst;  // range marks, record numbers (markEnd exclusive)
  uint64_t markEnd;
  uint8_t* buffer;
  uint32_t capacity;
  uint32_t bufferCount;
};

// A merge of runs of one file. order[0 .. active) names the runs that have
// records left, ordered by their current records (ties: lower run first);
// order[0] is the head, whose current record is the next to deliver. The
// head is advanced lazily, at the next read, so the record delivered stays in
// its buffer until then.
struct KvSort::Merge {
  int file;
  uint32_t count;
  uint32_t active;
  uint16_t fromKey;
  bool headDelivered;
  bool placeHead;  // the head advanced and must be placed among the others
  bool needsLoad;  // some active run's current record is not in its buffer
  uint64_t delivered;
  Source* sources;
  uint32_t* order;
};

class KvSort::Order {
 public:
  Order(const KvSort* sort, uint16_t fromKey) : sort_(sort), fromKey_(fromKey) {}
  bool operator()(uint64_t a, uint64_t b) const {
    if ((a ^ b) >> 32) return a < b;
    int result = sort_->compareRecords(sort_->recordById(static_cast<uint32_t>(a)),
                                       sort_->recordById(static_cast<uint32_t>(b)), fromKey_, sort_->keyCount_);
    return result ? result < 0 : a < b;
  }

 private:
  const KvSort* sort_;
  uint16_t fromKey_;
};

// ---------------------------------------------------------------- set-up

KvSort::KvSort(uint16_t recordLength) {
  recordLength_ = recordLength;
  recordsPerBlock_ = recordLength ? kBlockBytes / recordLength : 0;
  slotsPerBlock_ = recordsPerBlock_;
}

KvSort::~KvSort() { release(); }

void KvSort::release() {
  freeMerge(&merge_);
  freeMerge(&rangeMerge_);
  closeWorkFile(&workFile_, &workName_);
  ramFree(runs_);
  runs_ = nullptr;
  runCount_ = runCapacity_ = 0;
  if (stateFlags_ & stateBlocksHeld) {
    for (uint16_t i = 0; i < blockCount_; ++i) ramFree64K(blocks_[i]);
  }
  std::memset(blocks_, 0, sizeof(blocks_));
  blockCount_ = 0;
  ramFreeHuge(entries_);
  entries_ = nullptr;
  entryCapacity_ = 0;
  ramFree(spare_);
  ramFree(previousCopy_);
  spare_ = previousCopy_ = nullptr;
  stateFlags_ = 0;
  slotsPerBlock_ = recordsPerBlock_;
  memoryRecords_ = fillBlock_ = fillSlot_ = 0;
  totalRecords_ = 0;
  cursor_ = rangeFirst_ = rangeEnd_ = rangeCursor_ = 0;
  atEnd_ = false;
  previous_ = nullptr;
  bufferOwner_ = nullptr;
}

KvStatus KvSort::setRecordLength(uint16_t recordLength) {
  if (totalRecords_ || blockCount_ || (stateFlags_ & (stateSorted | stateCallerBuffer))) return invalidParameter();
  recordLength_ = recordLength;
  recordsPerBlock_ = recordLength ? kBlockBytes / recordLength : 0;
  slotsPerBlock_ = recordsPerBlock_;
  return kvSuccess;
}

KvStatus KvSort::addKey(uint16_t flags, uint16_t offset, uint16_t length) {
  if (keyCount_ >= kvSortMaxKeys) {
    addResourceError(kvMsgTooManySortKeys);
    return kvFailure;
  }
  if (flags & ~uint16_t{sortKeyDescending | sortKeyIntl | sortKeyZeroFirst | sortKeyObject}) {
    return invalidParameter();
  }
  if (recordLength_ && !(flags & sortKeyObject) && uint32_t{offset} + length > recordLength_) {
    return invalidParameter();
  }
  keys_[keyCount_++] = {flags, offset, length};
  stateFlags_ |= stateKeysAdded;
  return kvSuccess;
}

void KvSort::removeLastKey() {
  if (!keyCount_) return;
  --keyCount_;
  stateFlags_ |= stateKeysAdded;
}

void KvSort::setBlockLimit(uint16_t blocks) {
  uint16_t most = kvSortMaxBlocks;
  blockLimit_ = blocks < 2 ? uint16_t{2} : blocks > most ? most : blocks;
}

// Every key must lie inside the record; an object key needs a whole pointer.
KvStatus KvSort::validate() const {
  for (uint16_t k = 0; k < keyCount_; ++k) {
    const KvSortKey& key = keys_[k];
    bool fits = (key.flags & sortKeyObject) ? recordLength_ >= sizeof(void*)
                                            : uint32_t{key.offset} + key.length <= recordLength_;
    if (!fits) return invalidParameter();
  }
  return kvSuccess;
}

int KvSort::compareRecords(const uint8_t* a, const uint8_t* b, uint16_t fromKey, uint16_t toKey) const {
  for (uint16_t k = fromKey; k < toKey; ++k) {
    const KvSortKey& key = keys_[k];
    int result;
    bool zeroLed = false;
    if (key.flags & sortKeyObject) {
      result = compareObjects(a, b);
    } else {
      const uint8_t* first = a + key.offset;
      const uint8_t* second = b + key.offset;
      result = (key.flags & sortKeyIntl) ? strCompareIntl(first, key.length, second, key.length)
                                         : std::memcmp(first, second, key.length);
      zeroLed = (key.flags & sortKeyZeroFirst) && key.length && (first[0] == 0 || second[0] == 0);
    }
    if (result == 0) continue;
    result = result < 0 ? -1 : 1;
    return (key.flags & sortKeyDescending) && !zeroLed ? -result : result;
  }
  return 0;
}

// ---------------------------------------------------------------- adding

KvStatus KvSort::takeBlock(bool* taken) {
  *taken = false;
  if ((stateFlags_ & stateSpilled) || blockCount_ >= blockLimit_) return kvSuccess;
  uint32_t capacity = (blockCount_ + 1u) * recordsPerBlock_;
  uint32_t entryBytes = capacity * uint32_t{sizeof(uint64_t)};
  if (blockCount_ >= 2 &&
      !roomFor(kBlockBytes + ramHeaderBytes + entryBytes - uint64_t{entryCapacity_} * sizeof(uint64_t))) {
    return kvSuccess;
  }
  if (!spare_) {
    spare_ = static_cast<uint8_t*>(ramAlloc(recordLength_));
    previousCopy_ = static_cast<uint8_t*>(ramAlloc(recordLength_));
    if (!spare_ || !previousCopy_) return kvFailure;
  }
  void* entries = entries_;
  if (ramResizeHuge(&entries, entryBytes) != kvSuccess) return kvFailure;
  entries_ = static_cast<uint64_t*>(entries);
  entryCapacity_ = capacity;
  void* block = ramAlloc64K();
  if (!block) return kvFailure;
  blocks_[blockCount_++] = static_cast<uint8_t*>(block);
  stateFlags_ |= stateBlocksHeld;
  *taken = true;
  return kvSuccess;
}

KvStatus KvSort::nextSlot(void** slot) {
  *slot = nullptr;
  if (!recordLength_ || (stateFlags_ & (stateSorted | stateCallerBuffer))) return invalidParameter();
  if (fillBlock_ == blockCount_) {
    bool taken;
    if (takeBlock(&taken) != kvSuccess) return kvFailure;
    if (!taken && spillMemory() != kvSuccess) return kvFailure;
  }
  *slot = blocks_[fillBlock_] + size_t{fillSlot_} * recordLength_;
  if (++fillSlot_ == recordsPerBlock_) {
    fillSlot_ = 0;
    ++fillBlock_;
  }
  ++memoryRecords_;
  ++totalRecords_;
  return kvSuccess;
}

KvStatus KvSort::addRecord(const void* record) {
  void* slot;
  if (nextSlot(&slot) != kvSuccess) return kvFailure;
  std::memcpy(slot, record, recordLength_);
  return kvSuccess;
}

KvStatus KvSort::setBuf(uint32_t count, void* buffer) {
  release();
  if (!recordLength_ || count > kMaxBufferRecords || (count && !buffer)) return invalidParameter();
  uint8_t* records = static_cast<uint8_t*>(buffer);
  stateFlags_ = stateCallerBuffer;
  slotsPerBlock_ = 65536;
  blockCount_ = static_cast<uint16_t>((count + 65535u) / 65536u);
  for (uint16_t k = 0; k < blockCount_; ++k) blocks_[k] = records + size_t{k} * 65536u * recordLength_;
  memoryRecords_ = count;
  totalRecords_ = count;
  return kvSuccess;
}

KvStatus KvSort::sortBuf() { return finish(); }

// ---------------------------------------------------------------- sorting in memory

void KvSort::identityOrder(uint32_t count) {
  for (uint32_t slot = 0; slot < count; ++slot) entries_[slot] = idOfSlot(slot);
}

// Sorts index positions first .. last by keys fromKey onward.
void KvSort::sortPositions(uint32_t first, uint32_t last, uint16_t fromKey) {
  if (last <= first) return;
  uint32_t count = last - first + 1;
  uint64_t* entries = entries_ + first;
  uint16_t afterPrefix = fromKey;
  if (fromKey < keyCount_ && prefixUsable(keys_[fromKey])) {
    const KvSortKey& key = keys_[fromKey];
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t id = static_cast<uint32_t>(entries[i]);
      entries[i] = uint64_t{prefixOf(key, recordById(id))} << 32 | id;
    }
    // Equal prefixes of a key of at most four bytes are equal keys.
    if (key.length <= 4) afterPrefix = static_cast<uint16_t>(fromKey + 1);
  } else {
    for (uint32_t i = 0; i < count; ++i) entries[i] = static_cast<uint32_t>(entries[i]);
  }
  quickSort(entries, count, Order(this, afterPrefix));
}

// The whole range by keys fromKey onward, or (grouped) each run of
// neighbours equal on keys 0 .. fromKey - 1 by keys fromKey onward.
void KvSort::sortRange(uint32_t first, uint32_t last, uint16_t fromKey, bool whole) {
  if (last <= first) return;
  if (fromKey > keyCount_) fromKey = keyCount_;
  if (whole || fromKey == 0) {
    sortPositions(first, last, fromKey);
    return;
  }
  uint32_t groupFirst = first;
  for (uint32_t p = first + 1; p <= last + 1; ++p) {
    if (p <= last && compareRecords(recordAt(p - 1), recordAt(p), 0, fromKey) == 0) continue;
    sortPositions(groupFirst, p - 1, fromKey);
    groupFirst = p;
  }
}

// Moves the records so that slot i holds the record at position i, then
// resets the index to the identity. Follows each cycle of the permutation
// with one spare record.
void KvSort::makePhysical(uint32_t count) {
  previous_ = nullptr;
  auto slotOfEntry = [this](uint64_t entry) {
    uint32_t id = static_cast<uint32_t>(entry);
    return (id >> 16) * slotsPerBlock_ + (id & 0xFFFF);
  };
  for (uint32_t i = 0; i < count; ++i) {
    if (entries_[i] == kPlacedEntry) continue;
    if (slotOfEntry(entries_[i]) == i) {
      entries_[i] = kPlacedEntry;
      continue;
    }
    std::memcpy(spare_, recordById(idOfSlot(i)), recordLength_);
    uint32_t j = i;
    for (;;) {
      uint32_t source = slotOfEntry(entries_[j]);
      entries_[j] = kPlacedEntry;
      uint8_t* target = recordById(idOfSlot(j));
      if (source == i) {
        std::memcpy(target, spare_, recordLength_);
        break;
      }
      std::memcpy(target, recordById(idOfSlot(source)), recordLength_);
      j = source;
    }
  }
  identityOrder(count);
}

// ---------------------------------------------------------------- the work file

KvStatus KvSort::openWorkFile(int* file, unsigned char** name) {
  unsigned char* buffer = static_cast<unsigned char*>(ramAlloc(bosPathBytes));
  if (!buffer) return kvFailure;
  buffer[0] = 0;
  if (bosFileOpen(buffer, bosOpenTemporary | bosOpenReadWrite, file) != kvSuccess) {
    ramFree(buffer);
    *file = 0;
    return kvFailure;
  }
  *name = buffer;
  return kvSuccess;
}

KvStatus KvSort::addRun(uint64_t first, uint64_t count) {
  if (runCount_ == runCapacity_) {
    uint32_t capacity = runCapacity_ ? runCapacity_ * 2 : 16;
    void* runs = runs_;
    if (ramResize(&runs, capacity * uint32_t{sizeof(Run)}) != kvSuccess) return kvFailure;
    runs_ = static_cast<Run*>(runs);
    runCapacity_ = capacity;
  }
  runs_[runCount_++] = {first, count};
  return kvSuccess;
}

// Reads or writes count records between memory slots from `slot` on and the
// file from record fileRecord on, one block's share at a time.
KvStatus KvSort::transferSlots(int file, uint64_t fileRecord, uint32_t slot, uint32_t count, bool write) {
  while (count) {
    uint32_t inBlock = slot % recordsPerBlock_;
    uint32_t n = recordsPerBlock_ - inBlock;
    if (n > count) n = count;
    uint8_t* memory = blocks_[slot / recordsPerBlock_] + size_t{inBlock} * recordLength_;
    uint64_t offset = fileRecord * recordLength_;
    uint32_t bytes = n * recordLength_;
    KvStatus status = write ? bosFileWrite(file, static_cast<int64_t>(offset), memory, bytes)
                            : readExactly(file, offset, memory, bytes);
    if (status != kvSuccess) return kvFailure;
    slot += n;
    fileRecord += n;
    count -= n;
  }
  return kvSuccess;
}

// Sorts the records in memory and appends them to the work file as one run.
KvStatus KvSort::spillMemory() {
  if (validate() != kvSuccess) return kvFailure;
  if (!workFile_ && openWorkFile(&workFile_, &workName_) != kvSuccess) return kvFailure;
  uint32_t count = memoryRecords_;
  uint16_t fromKey = startKey_ < keyCount_ ? startKey_ : keyCount_;
  identityOrder(count);
  if (count) sortPositions(0, count - 1, fromKey);
  makePhysical(count);
  bufferOwner_ = nullptr;
  uint64_t first = runCount_ ? runs_[runCount_ - 1].first + runs_[runCount_ - 1].count : 0;
  if (transferSlots(workFile_, first, 0, count, true) != kvSuccess) return kvFailure;
  if (addRun(first, count) != kvSuccess) return kvFailure;
  memoryRecords_ = fillBlock_ = fillSlot_ = 0;
  mergeFromKey_ = fromKey;
  stateFlags_ |= stateSpilled;
  return kvSuccess;
}

// Copies count records from one file to another through all of memory.
KvStatus KvSort::copyRecords(int from, uint64_t fromRecord, int to, uint64_t toRecord, uint64_t count) {
  bufferOwner_ = nullptr;
  uint32_t capacity = blockCount_ * recordsPerBlock_;
  while (count) {
    uint32_t n = count < capacity ? static_cast<uint32_t>(count) : capacity;
    if (transferSlots(from, fromRecord, 0, n, false) != kvSuccess ||
        transferSlots(to, toRecord, 0, n, true) != kvSuccess) {
      return kvFailure;
    }
    fromRecord += n;
    toRecord += n;
    count -= n;
  }
  return kvSuccess;
}

// Sorts records [first, first + count) of the work file in place. A range
// that fits in memory is read, sorted and written back; a larger one is
// sorted in memory-sized pieces, which are merged into scratch files and the
// result copied back.
KvStatus KvSort::sortFileRange(uint64_t first, uint64_t count, uint16_t fromKey, bool whole) {
  bufferOwner_ = nullptr;
  uint32_t capacity = blockCount_ * recordsPerBlock_;
  auto sortPiece = [&](uint64_t pieceFirst, uint32_t n) -> KvStatus {
    if (transferSlots(workFile_, pieceFirst, 0, n, false) != kvSuccess) return kvFailure;
    identityOrder(n);
    sortRange(0, n - 1, fromKey, whole);
    makePhysical(n);
    return transferSlots(workFile_, pieceFirst, 0, n, true);
  };
  if (count < 2) return kvSuccess;
  if (count <= capacity) return sortPiece(first, static_cast<uint32_t>(count));

  uint64_t pieces64 = (count + capacity - 1) / capacity;
  if (pieces64 > 0xFFFFFFFFu / sizeof(Run)) return invalidParameter();
  uint32_t pieces = static_cast<uint32_t>(pieces64);
  Run* list = static_cast<Run*>(ramAlloc(pieces * uint32_t{sizeof(Run)}));
  if (!list) return kvFailure;
  KvStatus status = kvSuccess;
  for (uint32_t p = 0; p < pieces && status == kvSuccess; ++p) {
    uint64_t pieceFirst = first + uint64_t{p} * capacity;
    uint64_t rest = first + count - pieceFirst;
    uint32_t n = rest < capacity ? static_cast<uint32_t>(rest) : capacity;
    list[p] = {pieceFirst, n};
    status = sortPiece(pieceFirst, n);
  }
  int file = workFile_;
  unsigned char* name = workName_;
  if (status == kvSuccess) {
    status = reduceRuns(&file, &name, false, &list, &pieces, 1, whole ? fromKey : 0);
  }
  if (status == kvSuccess) status = copyRecords(file, list[0].first, workFile_, first, count);
  if (file != workFile_) closeWorkFile(&file, &name);
  ramFree(list);
  return status;
}

// ---------------------------------------------------------------- merging

// The most runs one merge can read with buffers of at least kMinReadBytes.
uint32_t KvSort::mergeFanIn() const {
  uint32_t minRecords = (kMinReadBytes + recordLength_ - 1) / recordLength_;
  if (minRecords > recordsPerBlock_) minRecords = recordsPerBlock_;
  return blockCount_ * (recordsPerBlock_ / minRecords);
}

void KvSort::freeMerge(Merge** merge) {
  if (*merge && bufferOwner_ == *merge) bufferOwner_ = nullptr;
  ramFree(*merge);
  *merge = nullptr;
}

KvStatus KvSort::newMerge(Merge** merge, int file, const Run* runs, uint32_t count, uint16_t fromKey) {
  freeMerge(merge);
  uint64_t bytes = sizeof(Merge) + uint64_t{count} * (sizeof(Source) + sizeof(uint32_t));
  if (bytes > 0xFFFFFFFFu) return invalidParameter();
  Merge* m = static_cast<Merge*>(ramAllocZ(static_cast<uint32_t>(bytes)));
  if (!m) return kvFailure;
  m->file = file;
  m->count = count;
  m->fromKey = fromKey;
  m->sources = reinterpret_cast<Source*>(m + 1);
  m->order = reinterpret_cast<uint32_t*>(m->sources + count);
  for (uint32_t k = 0; k < count; ++k) {
    Source& s = m->sources[k];
    s.first = s.next = s.markFirst = s.markEnd = runs[k].first;
    s.end = runs[k].first + runs[k].count;
  }
  *merge = m;
  return kvSuccess;
}

// Gives each run of the merge a buffer slot (and the output slot when
// asked); every buffer starts empty.
void KvSort::attachBuffers(Merge* merge, bool outputSlot, uint8_t** output, uint32_t* outputCapacity) {
  uint32_t need = merge->count + (outputSlot ? 1 : 0);
  uint32_t perBlock = (need + blockCount_ - 1) / blockCount_;
  if (perBlock == 0) perBlock = 1;
  uint32_t capacity = recordsPerBlock_ / perBlock;
  for (uint32_t s = 0; s < need; ++s) {
    uint8_t* at = blocks_[s / perBlock] + size_t{s % perBlock} * capacity * recordLength_;
    if (s < merge->count) {
      merge->sources[s].buffer = at;
      merge->sources[s].capacity = capacity;
      merge->sources[s].bufferCount = 0;
    } else {
      *output = at;
      *outputCapacity = capacity;
    }
  }
  bufferOwner_ = merge;
  merge->needsLoad = true;
}

uint8_t* KvSort::currentOf(const Source* source) const {
  return source->buffer + size_t(source->next - source->bufferFirst) * recordLength_;
}

KvStatus KvSort::loadSource(Merge* merge, Source* source) {
  uint64_t rest = source->end - source->next;
  uint32_t n = rest < source->capacity ? static_cast<uint32_t>(rest) : source->capacity;
  source->bufferCount = 0;
  if (readExactly(merge->file, source->next * recordLength_, source->buffer, n * recordLength_) != kvSuccess) {
    merge->needsLoad = true;
    return kvFailure;
  }
  source->bufferFirst = source->next;
  source->bufferCount = n;
  return kvSuccess;
}

// Brings the current record of every active run into its buffer, taking
// the memory back first when another merge or a sort used it.
KvStatus KvSort::ensureLoaded(Merge* merge) {
  if (bufferOwner_ != merge) attachBuffers(merge, false, nullptr, nullptr);
  if (!merge->needsLoad) return kvSuccess;
  for (uint32_t k = 0; k < merge->active; ++k) {
    Source* s = &merge->sources[merge->order[k]];
    if (!covers(s->next, s->bufferFirst, s->bufferCount) && loadSource(merge, s) != kvSuccess) {
      return kvFailure;
    }
  }
  merge->needsLoad = false;
  return kvSuccess;
}

bool KvSort::sourceLess(const Merge* merge, uint32_t a, uint32_t b) const {
  int result = compareRecords(currentOf(&merge->sources[a]), currentOf(&merge->sources[b]), merge->fromKey,
                              keyCount_);
  return result ? result < 0 : a < b;
}

void KvSort::orderSources(Merge* merge) {
  for (uint32_t i = 1; i < merge->active; ++i) {
    uint32_t run = merge->order[i];
    uint32_t j = i;
    for (; j > 0 && sourceLess(merge, run, merge->order[j - 1]); --j) merge->order[j] = merge->order[j - 1];
    merge->order[j] = run;
  }
}

// Every run back to its first record (of the range marks for a range merge,
// whose runs were made from them).
KvStatus KvSort::mergeReset(Merge* merge) {
  if (bufferOwner_ != merge) attachBuffers(merge, false, nullptr, nullptr);
  merge->active = 0;
  merge->headDelivered = merge->placeHead = false;
  merge->delivered = 0;
  for (uint32_t k = 0; k < merge->count; ++k) {
    Source* s = &merge->sources[k];
    s->next = s->first;
    if (s->next < s->end) merge->order[merge->active++] = k;
  }
  merge->needsLoad = true;
  if (ensureLoaded(merge) != kvSuccess) return kvFailure;
  orderSources(merge);
  return kvSuccess;
}

// The next record of the merge, null at the end. With reorder the runs are
// ordered afresh (the keys changed since they were ordered).
KvStatus KvSort::mergeNext(Merge* merge, uint8_t** record, bool reorder) {
  *record = nullptr;
  if (merge->headDelivered) {
    uint32_t head = merge->order[0];
    Source* s = &merge->sources[head];
    merge->headDelivered = false;
    if (++s->next == s->end) {
      --merge->active;
      std::memmove(merge->order, merge->order + 1, merge->active * sizeof(uint32_t));
    } else {
      merge->placeHead = true;
      if (!covers(s->next, s->bufferFirst, s->bufferCount)) merge->needsLoad = true;
    }
  }
  if (ensureLoaded(merge) != kvSuccess) return kvFailure;
  if (reorder) {
    orderSources(merge);
    merge->placeHead = false;
  }
  if (merge->placeHead) {
    // The head goes before the first run whose current record follows it.
    uint32_t head = merge->order[0];
    uint32_t lo = 1, hi = merge->active;
    while (lo < hi) {
      uint32_t mid = lo + (hi - lo) / 2;
      if (sourceLess(merge, head, merge->order[mid])) hi = mid;
      else lo = mid + 1;
    }
    std::memmove(merge->order, merge->order + 1, (lo - 1) * sizeof(uint32_t));
    merge->order[lo - 1] = head;
    merge->placeHead = false;
  }
  if (merge->active == 0) return kvSuccess;
  *record = currentOf(&merge->sources[merge->order[0]]);
  merge->headDelivered = true;
  ++merge->delivered;
  return kvSuccess;
}

// Positions every run at its first record not less than key (by all keys),
// found by binary search in the file, and orders the runs. found tells
// whether the head's record equals the key; nothing is delivered.
KvStatus KvSort::mergeSeek(Merge* merge, const uint8_t* key, bool* found) {
  *found = false;
  merge->delivered = 0;
  for (uint32_t k = 0; k < merge->count; ++k) {
    Source* s = &merge->sources[k];
    uint64_t lo = s->first, hi = s->end;
    while (lo < hi) {
      uint64_t mid = lo + (hi - lo) / 2;
      if (readExactly(merge->file, mid * recordLength_, spare_, recordLength_) != kvSuccess) return kvFailure;
      if (compareRecords(spare_, key, 0, keyCount_) < 0) lo = mid + 1;
      else hi = mid;
    }
    s->next = lo;
    merge->delivered += lo - s->first;
  }
  if (bufferOwner_ != merge) attachBuffers(merge, false, nullptr, nullptr);
  merge->active = 0;
  merge->headDelivered = merge->placeHead = false;
  for (uint32_t k = 0; k < merge->count; ++k) {
    if (merge->sources[k].next < merge->sources[k].end) merge->order[merge->active++] = k;
  }
  merge->needsLoad = true;
  if (ensureLoaded(merge) != kvSuccess) return kvFailure;
  orderSources(merge);
  *found = merge->active && compareRecords(currentOf(&merge->sources[merge->order[0]]), key, 0, keyCount_) == 0;
  return kvSuccess;
}

// Merges groups of runs of *file into longer runs of a fresh work file until
// at most target runs are left. The input file is closed and deleted after
// its pass when ownsFile says it is the pass's own.
KvStatus KvSort::reduceRuns(int* file, unsigned char** name, bool ownsFile, Run** runs, uint32_t* runCount,
                            uint32_t target, uint16_t fromKey) {
  uint32_t maxSources = mergeFanIn();
  bool outputSlot = maxSources >= 3;
  uint32_t fanIn = outputSlot ? maxSources - 1 : 2;
  while (*runCount > target) {
    uint32_t groups = (*runCount + fanIn - 1) / fanIn;
    Run* merged = static_cast<Run*>(ramAlloc(groups * uint32_t{sizeof(Run)}));
    if (!merged) return kvFailure;
    int outFile = 0;
    unsigned char* outName = nullptr;
    KvStatus status = openWorkFile(&outFile, &outName);
    uint64_t outRecord = 0;
    Merge* group = nullptr;
    for (uint32_t g = 0; g < groups && status == kvSuccess; ++g) {
      uint32_t firstRun = g * fanIn;
      uint32_t n = *runCount - firstRun < fanIn ? *runCount - firstRun : fanIn;
      status = newMerge(&group, *file, *runs + firstRun, n, fromKey);
      if (status != kvSuccess) break;
      uint8_t* output = nullptr;
      uint32_t outputCapacity = 0;
      attachBuffers(group, outputSlot, &output, &outputCapacity);
      status = mergeReset(group);
      uint64_t start = outRecord;
      uint32_t pending = 0;
      while (status == kvSuccess) {
        uint8_t* record;
        status = mergeNext(group, &record, false);
        if (status != kvSuccess || !record) break;
        if (!outputSlot) {
          status = bosFileWrite(outFile, static_cast<int64_t>(outRecord * recordLength_), record, recordLength_);
          ++outRecord;
          continue;
        }
        std::memcpy(output + size_t{pending} * recordLength_, record, recordLength_);
        if (++pending == outputCapacity) {
          status = bosFileWrite(outFile, static_cast<int64_t>(outRecord * recordLength_), output,
                                pending * recordLength_);
          outRecord += pending;
          pending = 0;
        }
      }
      if (status == kvSuccess && pending) {
        status = bosFileWrite(outFile, static_cast<int64_t>(outRecord * recordLength_), output,
                              pending * recordLength_);
        outRecord += pending;
      }
      merged[g] = {start, outRecord - start};
    }
    freeMerge(&group);
    if (status != kvSuccess) {
      closeWorkFile(&outFile, &outName);
      ramFree(merged);
      return kvFailure;
    }
    if (ownsFile) closeWorkFile(file, name);
    *file = outFile;
    *name = outName;
    ownsFile = true;
    ramFree(*runs);
    *runs = merged;
    *runCount = groups;
  }
  return kvSuccess;
}

// ---------------------------------------------------------------- reading

// The first read: sorts what is in memory, or writes it as the last run and
// prepares the merge of all runs.
KvStatus KvSort::finish() {
  if (stateFlags_ & stateSorted) return kvSuccess;
  if (validate() != kvSuccess) return kvFailure;
  uint16_t fromKey = startKey_ < keyCount_ ? startKey_ : keyCount_;
  uint32_t count = memoryRecords_;
  if (stateFlags_ & stateCallerBuffer) {
    if (count > 1) {
      if (!entries_) {
        entries_ = static_cast<uint64_t*>(ramAllocHuge(count * uint32_t{sizeof(uint64_t)}));
        if (!entries_) return kvFailure;
        entryCapacity_ = count;
      }
      if (!spare_ && !(spare_ = static_cast<uint8_t*>(ramAlloc(recordLength_)))) return kvFailure;
      identityOrder(count);
      sortPositions(0, count - 1, fromKey);
      makePhysical(count);
    } else if (count == 1 && !entries_) {
      entries_ = static_cast<uint64_t*>(ramAllocHuge(sizeof(uint64_t)));
      if (!entries_) return kvFailure;
      entryCapacity_ = 1;
      identityOrder(1);
    }
  } else if (!(stateFlags_ & stateSpilled)) {
    identityOrder(count);
    if (count) sortPositions(0, count - 1, fromKey);
  } else {
    if (count && spillMemory() != kvSuccess) return kvFailure;
    if (reduceRuns(&workFile_, &workName_, true, &runs_, &runCount_, mergeFanIn(), fromKey) != kvSuccess) {
      return kvFailure;
    }
    runCapacity_ = runCount_;
    if (newMerge(&merge_, workFile_, runs_, runCount_, fromKey) != kvSuccess) return kvFailure;
    if (mergeReset(merge_) != kvSuccess) return kvFailure;
  }
  mergeFromKey_ = fromKey;
  stateFlags_ = (stateFlags_ | stateSorted) & ~uint32_t{stateKeysAdded};
  cursor_ = 0;
  atEnd_ = false;
  previous_ = nullptr;
  return kvSuccess;
}

bool KvSort::isSpilled() const { return (stateFlags_ & stateSpilled) != 0; }

// The next record of the main reading, without touching the previous record.
KvStatus KvSort::readMain(uint8_t** record) {
  *record = nullptr;
  if (finish() != kvSuccess) return kvFailure;
  if (isSpilled()) {
    bool reorder = (stateFlags_ & stateKeysAdded) != 0;
    if (mergeNext(merge_, record, reorder) != kvSuccess) return kvFailure;
    if (reorder) stateFlags_ &= ~uint32_t{stateKeysAdded};
    return kvSuccess;
  }
  if (cursor_ < memoryRecords_) {
    *record = recordAt(cursor_++);
  } else {
    atEnd_ = true;
  }
  return kvSuccess;
}

// Records the record delivered as the previous one: in memory its address,
// once spilled a copy (its buffer may be refilled).
void KvSort::remember(uint8_t* record) {
  if (record && isSpilled()) {
    std::memcpy(previousCopy_, record, recordLength_);
    previous_ = previousCopy_;
  } else {
    previous_ = record;
  }
}

KvStatus KvSort::getNextRecord(void** record) {
  uint8_t* next;
  KvStatus status = readMain(&next);
  remember(next);
  *record = next;
  return status;
}

KvStatus KvSort::getFirstRecord(void** record) {
  *record = nullptr;
  if (finish() != kvSuccess) return kvFailure;
  previous_ = nullptr;
  if (isSpilled()) {
    if (mergeReset(merge_) != kvSuccess) return kvFailure;
  } else {
    cursor_ = 0;
    atEnd_ = false;
  }
  return getNextRecord(record);
}

KvStatus KvSort::getSortedWithCompare(void** record, uint16_t* equalKeys) {
  *equalKeys = 0;
  uint8_t* next;
  KvStatus status = readMain(&next);
  if (next && previous_) {
    uint16_t k = 0;
    while (k < keyCount_ && compareRecords(next, previous_, k, static_cast<uint16_t>(k + 1)) == 0) ++k;
    *equalKeys = k;
  }
  remember(next);
  *record = next;
  return status;
}

KvStatus KvSort::getFirstRecordWithKey(const void* key, void** record) {
  *record = nullptr;
  if (!key) return invalidParameter();
  if (finish() != kvSuccess) return kvFailure;
  const uint8_t* image = static_cast<const uint8_t*>(key);
  previous_ = nullptr;
  if (isSpilled()) {
    bool found;
    if (mergeSeek(merge_, image, &found) != kvSuccess) return kvFailure;
    if (found) {
      uint8_t* first = currentOf(&merge_->sources[merge_->order[0]]);
      merge_->headDelivered = true;
      ++merge_->delivered;
      remember(first);
      *record = first;
    }
    return kvSuccess;
  }
  uint64_t lo = 0, hi = memoryRecords_;
  while (lo < hi) {
    uint64_t mid = lo + (hi - lo) / 2;
    if (compareRecords(recordAt(mid), image, 0, keyCount_) < 0) lo = mid + 1;
    else hi = mid;
  }
  atEnd_ = false;
  cursor_ = lo;
  if (lo < memoryRecords_ && compareRecords(recordAt(lo), image, 0, keyCount_) == 0) {
    uint8_t* first = recordAt(cursor_++);
    remember(first);
    *record = first;
  }
  return kvSuccess;
}

KvStatus KvSort::reSort() {
  if (!(stateFlags_ & stateSorted)) return finish();
  if (validate() != kvSuccess) return kvFailure;
  uint16_t fromKey = startKey_ < keyCount_ ? startKey_ : keyCount_;
  bool whole = fromKey == 0;
  stateFlags_ &= ~uint32_t{stateKeysAdded};
  previous_ = nullptr;
  freeMerge(&rangeMerge_);
  if (!isSpilled()) {
    // The records are put in their current order first, so that the ids
    // that break ties stand for that order.
    uint32_t count = memoryRecords_;
    makePhysical(count);
    if (count) sortRange(0, count - 1, fromKey, whole);
    if (stateFlags_ & stateCallerBuffer) makePhysical(count);
    cursor_ = 0;
    atEnd_ = false;
    return kvSuccess;
  }
  for (uint32_t r = 0; r < runCount_; ++r) {
    if (sortFileRange(runs_[r].first, runs_[r].count, fromKey, whole) != kvSuccess) return kvFailure;
  }
  // A grouped sort leaves each run in order of all keys from key 0 (its
  // groups were in that order already), a whole one in order from key 0 too.
  mergeFromKey_ = 0;
  merge_->fromKey = 0;
  return mergeReset(merge_);
}

// ---------------------------------------------------------------- range re-sort

void KvSort::startResortRange() {
  if (!(stateFlags_ & stateSorted)) return;
  if (isSpilled()) {
    for (uint32_t k = 0; k < merge_->count; ++k) merge_->sources[k].markFirst = merge_->sources[k].next;
  } else {
    rangeFirst_ = cursor_ ? cursor_ - 1 : 0;
  }
}

void KvSort::endResortRange() {
  if (!(stateFlags_ & stateSorted)) return;
  freeMerge(&rangeMerge_);
  if (isSpilled()) {
    for (uint32_t k = 0; k < merge_->count; ++k) merge_->sources[k].markEnd = merge_->sources[k].next;
  } else {
    rangeEnd_ = atEnd_ ? memoryRecords_ : cursor_ ? cursor_ - 1 : 0;
  }
}

// The merge over each run's part of the range, records [markFirst,
// markEnd) of every run.
KvStatus KvSort::makeRangeMerge(uint16_t fromKey) {
  uint32_t parts = 0;
  for (uint32_t k = 0; k < merge_->count; ++k) {
    if (merge_->sources[k].markEnd > merge_->sources[k].markFirst) ++parts;
  }
  Run* list = static_cast<Run*>(ramAlloc((parts ? parts : 1) * uint32_t{sizeof(Run)}));
  if (!list) return kvFailure;
  uint32_t n = 0;
  for (uint32_t k = 0; k < merge_->count; ++k) {
    const Source& s = merge_->sources[k];
    if (s.markEnd > s.markFirst) list[n++] = {s.markFirst, s.markEnd - s.markFirst};
  }
  KvStatus status = newMerge(&rangeMerge_, workFile_, list, n, fromKey);
  ramFree(list);
  return status;
}

KvStatus KvSort::resortRange(uint16_t startKey, unsigned wholeRange) {
  startKey_ = 0;
  if (!(stateFlags_ & stateSorted)) return kvSuccess;
  if (validate() != kvSuccess) return kvFailure;
  uint16_t fromKey = startKey < keyCount_ ? startKey : keyCount_;
  bool whole = wholeRange || fromKey == 0;
  if (!isSpilled()) {
    if (rangeEnd_ > rangeFirst_ + 1) {
      uint32_t count = memoryRecords_;
      makePhysical(count);
      sortRange(static_cast<uint32_t>(rangeFirst_), static_cast<uint32_t>(rangeEnd_ - 1), fromKey, whole);
      if (stateFlags_ & stateCallerBuffer) makePhysical(count);
    }
    rangeCursor_ = rangeFirst_;
    return kvSuccess;
  }
  freeMerge(&rangeMerge_);
  for (uint32_t k = 0; k < merge_->count; ++k) {
    const Source& s = merge_->sources[k];
    if (s.markEnd > s.markFirst &&
        sortFileRange(s.markFirst, s.markEnd - s.markFirst, fromKey, whole) != kvSuccess) {
      return kvFailure;
    }
  }
  return makeRangeMerge(whole ? fromKey : 0);
}

KvStatus KvSort::getFirstRecordInRange(void** record) {
  *record = nullptr;
  if (!(stateFlags_ & stateSorted)) return kvSuccess;
  if (isSpilled()) {
    if (!rangeMerge_ && makeRangeMerge(mergeFromKey_) != kvSuccess) return kvFailure;
    if (mergeReset(rangeMerge_) != kvSuccess) return kvFailure;
  } else {
    rangeCursor_ = rangeFirst_;
  }
  return getNextRecordInRange(record);
}

KvStatus KvSort::getNextRecordInRange(void** record) {
  *record = nullptr;
  if (!(stateFlags_ & stateSorted)) return kvSuccess;
  uint8_t* next = nullptr;
  if (isSpilled()) {
    if (!rangeMerge_) return kvSuccess;
    if (mergeNext(rangeMerge_, &next, false) != kvSuccess) return kvFailure;
  } else if (rangeCursor_ < rangeEnd_) {
    next = recordAt(rangeCursor_++);
  }
  remember(next);
  *record = next;
  return kvSuccess;
}
