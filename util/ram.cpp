// Memory sub-allocator; see ram.h for the block layout.
//
// Segment layout (64 bytes of header, then the blocks):
//   offset 0   uint32  size of the whole segment, header included
//   offset 4   uint32  live blocks of the segment
//   offset 8   ptr     free list head (doubly linked, no address order)
//   offset 16  ptr     rover: where the next search of this segment starts
//   offset 24  ptr     next segment of the task
//   offset 32  ptr     previous segment of the task
//   offset 40  uint64  generation of the limits it was made under
//   offset 48  uint32  bytes in its free blocks
//   offset 52  uint32  smallest block size a full search failed to find
//                      since a block last came back (0: none)
// The task's first segment is kept in ziz-task slot 0. Beside the list, an
// index by address finds the segment of a block in logarithmic time and lets
// ramFree ignore pointers that no segment holds.
#include "util/ram.h"

#include "util/error_list.h"
#include "util/semaphore.h"
#include "util/zizdata.h"

#include <sys/sysinfo.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <new>

// Under AddressSanitizer the bytes of a free block behind its header and
// free-list links are poisoned, so that a use of a freed object of this
// allocator is reported as a use of freed memory of the system allocator
// would be. Segments themselves come from the system and stay unpoisoned
// while they hold live blocks.
#if defined(__SANITIZE_ADDRESS__)
#define KV_RAM_POISONING 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KV_RAM_POISONING 1
#endif
#endif
#ifdef KV_RAM_POISONING
#include <sanitizer/asan_interface.h>
#define KV_RAM_POISON(address, bytes) ASAN_POISON_MEMORY_REGION(address, bytes)
#define KV_RAM_UNPOISON(address, bytes) ASAN_UNPOISON_MEMORY_REGION(address, bytes)
#else
#define KV_RAM_POISON(address, bytes) ((void)(address), (void)(bytes))
#define KV_RAM_UNPOISON(address, bytes) ((void)(address), (void)(bytes))
#endif

namespace {

struct RamBlock {
  uint32_t word;     // size (bits 0-23), 128 + slack (bits 24-31) when in use
  uint32_t marker;   // blockMarker while the block belongs to the allocator
  uint64_t bigSize;  // requested size of a system block
};
static_assert(sizeof(RamBlock) == ramHeaderBytes, "block header size");

struct RamLinks {
  RamBlock* next;
  RamBlock* prev;
};

struct RamSegment {
  uint32_t size;
  uint32_t liveBlocks;
  RamBlock* freeHead;
  RamBlock* rover;
  RamSegment* next;
  RamSegment* prev;
  uint64_t generation;  // the limits in force when the segment was made
  uint32_t freeBytes;
  uint32_t failedAt;
  uint64_t reserved;
};
static_assert(sizeof(RamSegment) == ramSegmentHeaderBytes, "segment header size");

constexpr uint32_t blockMarker = 0x4D52564B;  // "KVRM"
constexpr uint32_t hugeMarker = 0x4755564B;   // "KVUG"
constexpr uint32_t sizeMask = 0x00FFFFFF;
constexpr uint32_t inUseBit = 0x80000000;
constexpr uint32_t freeMemoryFloor = 400000;

// An address range the allocator holds: a segment, or a block served by the
// system directly (segment null).
struct RamRange {
  uint64_t bytes;
  RamSegment* segment;
};

RamLimits limits = {65536 - ramSegmentHeaderBytes, 0, 0};
uint64_t limitsGeneration = 0;
uint64_t systemBytes = 0;
uint32_t systemBlocks = 0;
// Where the walk over segments starts (the last one that gave a block) and
// the last segment of the list.
RamSegment* segmentRover = nullptr;
RamSegment* lastSegment = nullptr;

std::map<uintptr_t, RamRange>& rangeIndex() {
  // Never destroyed: blocks may be freed by static destructors of other
  // libraries after this one's statics are gone.
  static auto* index = new std::map<uintptr_t, RamRange>();
  return *index;
}

RamSegment*& firstSegment() {
  return *reinterpret_cast<RamSegment**>(mdsGetZizTaskDataAddress(zizTaskMemory));
}

inline uint32_t blockSize(const RamBlock* b) { return b->word & sizeMask; }
inline int isFree(const RamBlock* b) { return (b->word & inUseBit) == 0; }
inline RamLinks* links(RamBlock* b) { return reinterpret_cast<RamLinks*>(b + 1); }
inline RamBlock* headerOf(const void* p) {
  return reinterpret_cast<RamBlock*>(const_cast<char*>(static_cast<const char*>(p)) - ramHeaderBytes);
}
inline void* userOf(RamBlock* b) { return b + 1; }
inline char* segmentEnd(RamSegment* s) { return reinterpret_cast<char*>(s) + s->size; }
inline RamBlock* blockBehind(RamSegment* s, RamBlock* b) {
  char* behind = reinterpret_cast<char*>(b) + blockSize(b);
  return behind < segmentEnd(s) ? reinterpret_cast<RamBlock*>(behind) : nullptr;
}

// Block size for a request: header plus request rounded up to 16, at least
// the smallest block that can hold the free-list links. 0 when too large
// for a segment block.
inline uint32_t blockSizeFor(uint32_t request) {
  uint64_t n = (uint64_t(request) + ramHeaderBytes + ramAlignBytes - 1) & ~uint64_t(ramAlignBytes - 1);
  if (n < ramMinBlockBytes) n = ramMinBlockBytes;
  return n > ramMaxBlockBytes ? 0 : uint32_t(n);
}

inline void markInUse(RamBlock* b, uint32_t size, uint32_t request) {
  b->word = size | ((128u + (size - request)) << 24);
  b->marker = blockMarker;
  b->bigSize = 0;
}

inline void markFree(RamBlock* b, uint32_t size) {
  b->word = size;
  b->marker = blockMarker;
  b->bigSize = 0;
}

// A free block keeps its header and links readable; the rest is poisoned
// (under AddressSanitizer) until the block is taken again.
constexpr uint32_t freeKeptBytes = ramHeaderBytes + 2 * sizeof(void*);
inline void poisonFree(RamBlock* b) {
  if (blockSize(b) > freeKeptBytes)
    KV_RAM_POISON(reinterpret_cast<char*>(b) + freeKeptBytes, blockSize(b) - freeKeptBytes);
}

void unlinkFree(RamSegment* s, RamBlock* b) {
  RamLinks* l = links(b);
  if (l->prev) links(l->prev)->next = l->next;
  else s->freeHead = l->next;
  if (l->next) links(l->next)->prev = l->prev;
  l->next = l->prev = nullptr;
}

void pushFree(RamSegment* s, RamBlock* b) {
  RamLinks* l = links(b);
  l->prev = nullptr;
  l->next = s->freeHead;
  if (s->freeHead) links(s->freeHead)->prev = b;
  s->freeHead = b;
}

// Puts rest in the free-list place of taken (same neighbours).
void replaceFree(RamSegment* s, RamBlock* taken, RamBlock* rest) {
  RamLinks* lt = links(taken);
  RamLinks* lr = links(rest);
  lr->next = lt->next;
  lr->prev = lt->prev;
  if (lr->prev) links(lr->prev)->next = rest;
  else s->freeHead = rest;
  if (lr->next) links(lr->next)->prev = rest;
}

bool systemTake(uint64_t bytes) {
  if (limits.systemBudget && systemBytes + bytes > limits.systemBudget) return false;
  systemBytes += bytes;
  return true;
}

RamSegment* newSegment(uint32_t n) {
  uint64_t usable = n > limits.minSegmentBytes ? n : limits.minSegmentBytes;
  usable = (usable + ramAlignBytes - 1) & ~uint64_t(ramAlignBytes - 1);
  if (usable > ramMaxBlockBytes) usable = ramMaxBlockBytes;
  uint64_t total = usable + ramSegmentHeaderBytes;
  if (!systemTake(total)) return nullptr;
  void* memory = std::aligned_alloc(ramAlignBytes, total);
  if (!memory) {
    systemBytes -= total;
    return nullptr;
  }
  try {
    rangeIndex().emplace(reinterpret_cast<uintptr_t>(memory), RamRange{total, static_cast<RamSegment*>(memory)});
  } catch (const std::bad_alloc&) {
    std::free(memory);
    systemBytes -= total;
    return nullptr;
  }
  auto* s = static_cast<RamSegment*>(memory);
  std::memset(s, 0, sizeof(RamSegment));
  s->size = uint32_t(total);
  s->generation = limitsGeneration;
  s->freeBytes = uint32_t(usable);
  auto* b = reinterpret_cast<RamBlock*>(s + 1);
  markFree(b, uint32_t(usable));
  links(b)->next = links(b)->prev = nullptr;
  poisonFree(b);
  s->freeHead = s->rover = b;
  return s;
}

void releaseSegment(RamSegment* s) {
  if (s->prev) s->prev->next = s->next;
  else firstSegment() = s->next;
  if (s->next) s->next->prev = s->prev;
  else lastSegment = s->prev;
  if (segmentRover == s) segmentRover = s->next;
  rangeIndex().erase(reinterpret_cast<uintptr_t>(s));
  systemBytes -= s->size;
  KV_RAM_UNPOISON(s, s->size);
  std::free(s);
}

// Takes block b (free, at least n bytes) of segment s for a request.
void* takeBlock(RamSegment* s, RamBlock* b, uint32_t n, uint32_t request) {
  uint32_t size = blockSize(b);
  KV_RAM_UNPOISON(b, size);
  if (size - n >= ramMinBlockBytes) {
    auto* rest = reinterpret_cast<RamBlock*>(reinterpret_cast<char*>(b) + n);
    markFree(rest, size - n);
    replaceFree(s, b, rest);
    poisonFree(rest);
    s->rover = rest;
    size = n;
  } else {
    RamBlock* successor = links(b)->next;
    unlinkFree(s, b);
    s->rover = successor;
  }
  markInUse(b, size, request);
  ++s->liveBlocks;
  s->freeBytes -= size;
  return userOf(b);
}

// Next-fit search of one segment from its rover, merging free neighbours of
// blocks that are too small on the way.
RamBlock* searchSegment(RamSegment* s, uint32_t n) {
  RamBlock* start = s->rover;
  RamBlock* current = start;
  // Each step either merges a block away or moves on; both are bounded by
  // the number of blocks in the segment.
  for (;;) {
    while (blockSize(current) < n) {
      RamBlock* behind = blockBehind(s, current);
      if (!behind || !isFree(behind)) break;
      if (behind == start) {
        RamBlock* successor = links(behind)->next ? links(behind)->next : s->freeHead;
        start = successor == behind ? current : successor;
      }
      current->word = blockSize(current) + blockSize(behind);
      unlinkFree(s, behind);
      if (s->rover == behind) s->rover = s->freeHead;
    }
    if (blockSize(current) >= n) return current;
    current = links(current)->next ? links(current)->next : s->freeHead;
    if (current == start) return nullptr;
  }
}

void* systemBlockAlloc(uint32_t request) {
  uint64_t total = uint64_t(request) + ramHeaderBytes;
  if (!systemTake(total)) return nullptr;
  auto* b = static_cast<RamBlock*>(std::aligned_alloc(ramAlignBytes, (total + 15) & ~uint64_t(15)));
  if (!b) {
    systemBytes -= total;
    return nullptr;
  }
  try {
    rangeIndex().emplace(reinterpret_cast<uintptr_t>(b), RamRange{total, nullptr});
  } catch (const std::bad_alloc&) {
    std::free(b);
    systemBytes -= total;
    return nullptr;
  }
  b->word = inUseBit;  // size field 0 marks a system block
  b->marker = blockMarker;
  b->bigSize = request;
  ++systemBlocks;
  return userOf(b);
}

// Whether a search of s could find a block of n bytes. A full search that
// fails leaves every free block smaller than n even after merging, so the
// segment cannot serve n or more until one of its blocks comes back.
inline bool worthSearching(const RamSegment* s, uint32_t n) {
  if (!s->rover || s->freeBytes < n) return false;
  if (s->failedAt && n >= s->failedAt) return false;
  return !limits.isolate || s->generation == limitsGeneration;
}

void* searchFrom(RamSegment* s, uint32_t n, uint32_t request) {
  if (!worthSearching(s, n)) return nullptr;
  if (RamBlock* b = searchSegment(s, n)) {
    segmentRover = s;
    return takeBlock(s, b, n, request);
  }
  if (!s->failedAt || n < s->failedAt) s->failedAt = n;
  return nullptr;
}

void* allocLocked(uint32_t request) {
  uint32_t n = blockSizeFor(request);
  if (n == 0) return systemBlockAlloc(request);
  // Next fit over the segments too: from the rover to the end, then from
  // the first up to the rover.
  RamSegment* start = segmentRover ? segmentRover : firstSegment();
  for (RamSegment* s = start; s; s = s->next)
    if (void* p = searchFrom(s, n, request)) return p;
  for (RamSegment* s = firstSegment(); s && s != start; s = s->next)
    if (void* p = searchFrom(s, n, request)) return p;
  RamSegment* s = newSegment(n);
  if (!s) return nullptr;
  s->prev = lastSegment;
  if (lastSegment) lastSegment->next = s;
  else firstSegment() = s;
  lastSegment = s;
  segmentRover = s;
  return takeBlock(s, s->freeHead, n, request);
}

// The range that holds p, or null.
const RamRange* findRange(const void* p, uintptr_t* start) {
  auto& index = rangeIndex();
  uintptr_t address = reinterpret_cast<uintptr_t>(p);
  auto it = index.upper_bound(address);
  if (it == index.begin()) return nullptr;
  --it;
  if (address >= it->first + it->second.bytes) return nullptr;
  *start = it->first;
  return &it->second;
}

// The segment of a live block, or null (system block or foreign pointer;
// *system tells which).
RamSegment* liveBlockSegment(const void* p, bool* system) {
  *system = false;
  uintptr_t start = 0;
  const RamRange* range = findRange(p, &start);
  if (!range) return nullptr;
  RamBlock* b = headerOf(p);
  if (reinterpret_cast<uintptr_t>(b) < start) return nullptr;
  if (b->marker != blockMarker || isFree(b)) return nullptr;
  if (!range->segment) {
    *system = reinterpret_cast<uintptr_t>(b) == start;
    return nullptr;
  }
  return range->segment;
}

void freeSystemBlock(RamBlock* b) {
  auto it = rangeIndex().find(reinterpret_cast<uintptr_t>(b));
  uint64_t total = it->second.bytes;
  rangeIndex().erase(it);
  b->marker = 0;
  systemBytes -= total;
  --systemBlocks;
  std::free(b);
}

void reportMemoryError() { KvErrorKeeper::addMemoryError(); }

}  // namespace

const RamLimits ramDefaultLimits = {65536 - ramSegmentHeaderBytes, 0, 0};

void* ramAlloc(uint32_t size) {
  int locked = kvLazyLock(&ramSemaphore);
  void* p = allocLocked(size);
  kvLazyUnlock(&ramSemaphore, locked);
  if (!p) reportMemoryError();  // after the unlock: reporting may free memory
  return p;
}

void* ramAllocZ(uint32_t size) {
  void* p = ramAlloc(size);
  if (p) std::memset(p, 0, size);
  return p;
}

unsigned char* ramAllocStr(const unsigned char* text) {
  return ramAllocStr(text, uint32_t(std::strlen(reinterpret_cast<const char*>(text))));
}

unsigned char* ramAllocStr(const unsigned char* text, uint32_t length) {
  if (length == 0xFFFFFFFFu) {
    reportMemoryError();
    return nullptr;
  }
  auto* p = static_cast<unsigned char*>(ramAlloc(length + 1));
  if (!p) return nullptr;
  std::memcpy(p, text, length);
  p[length] = 0;
  return p;
}

void ramFree(const void* block) {
  if (!block) return;
  int locked = kvLazyLock(&ramSemaphore);
  bool system = false;
  RamSegment* s = liveBlockSegment(block, &system);
  if (system) {
    freeSystemBlock(headerOf(block));
  } else if (s) {
    RamBlock* b = headerOf(block);
    if (--s->liveBlocks == 0) {
      b->marker = 0;
      releaseSegment(s);
    } else {
      b->word = blockSize(b);
      pushFree(s, b);
      poisonFree(b);
      s->rover = b;
      s->freeBytes += blockSize(b);
      s->failedAt = 0;
    }
  }
  kvLazyUnlock(&ramSemaphore, locked);
}

uint32_t ramSize(const void* block) {
  if (!block) return 0;
  const RamBlock* b = headerOf(block);
  if (blockSize(b) == 0) return uint32_t(b->bigSize);
  return blockSize(b) - ((b->word >> 24) - 128);
}

KvStatus ramResize(void** block, uint32_t size) {
  if (!*block) {
    *block = ramAlloc(size);
    return *block ? kvSuccess : kvFailure;
  }
  int locked = kvLazyLock(&ramSemaphore);
  bool system = false;
  RamSegment* s = liveBlockSegment(*block, &system);
  uint32_t n = blockSizeFor(size);
  if (s && n) {
    RamBlock* b = headerOf(*block);
    uint32_t size0 = blockSize(b);
    bool inPlace = n <= size0;
    if (!inPlace) {
      RamBlock* behind = blockBehind(s, b);
      if (behind && isFree(behind) && uint64_t(size0) + blockSize(behind) >= n) {
        unlinkFree(s, behind);
        if (s->rover == behind) s->rover = s->freeHead;
        s->freeBytes -= blockSize(behind);
        KV_RAM_UNPOISON(behind, blockSize(behind));
        b->word = size0 + blockSize(behind);
        inPlace = true;
      }
    }
    if (inPlace) {
      uint32_t total = blockSize(b);
      if (total - n >= ramMinBlockBytes) {
        auto* tail = reinterpret_cast<RamBlock*>(reinterpret_cast<char*>(b) + n);
        markFree(tail, total - n);
        pushFree(s, tail);
        poisonFree(tail);
        s->rover = tail;
        s->freeBytes += total - n;
        s->failedAt = 0;
        total = n;
      }
      markInUse(b, total, size);
      kvLazyUnlock(&ramSemaphore, locked);
      return kvSuccess;
    }
  }
  if (system && size <= headerOf(*block)->bigSize) {
    headerOf(*block)->bigSize = size;  // shrinking never moves a block
    kvLazyUnlock(&ramSemaphore, locked);
    return kvSuccess;
  }
  kvLazyUnlock(&ramSemaphore, locked);
  if (!s && !system) return kvFailure;  // not a block of ours
  uint32_t oldSize = ramSize(*block);
  void* moved = ramAlloc(size);
  if (!moved) return kvFailure;
  std::memcpy(moved, *block, oldSize < size ? oldSize : size);
  ramFree(*block);
  *block = moved;
  return kvSuccess;
}

KvStatus ramResizeZ(void** block, uint32_t size) {
  uint32_t oldSize = *block ? ramSize(*block) : 0;
  if (ramResize(block, size) != kvSuccess) return kvFailure;
  if (size > oldSize) std::memset(static_cast<char*>(*block) + oldSize, 0, size - oldSize);
  return kvSuccess;
}

// Huge blocks: the system's memory with a small header that records the
// size for the budget.
void* ramAllocHuge(uint32_t size) {
  uint64_t total = uint64_t(size) + ramHeaderBytes;
  int locked = kvLazyLock(&ramSemaphore);
  bool granted = systemTake(total);
  kvLazyUnlock(&ramSemaphore, locked);
  RamBlock* b = granted ? static_cast<RamBlock*>(std::malloc(total)) : nullptr;
  if (!b) {
    if (granted) {
      int relock = kvLazyLock(&ramSemaphore);
      systemBytes -= total;
      kvLazyUnlock(&ramSemaphore, relock);
    }
    reportMemoryError();
    return nullptr;
  }
  b->word = 0;
  b->marker = hugeMarker;
  b->bigSize = size;
  return userOf(b);
}

void* ramAlloc64K() { return ramAllocHuge(65536); }

void ramFreeHuge(const void* block) {
  if (!block) return;
  RamBlock* b = headerOf(block);
  if (b->marker != hugeMarker) return;
  b->marker = 0;
  int locked = kvLazyLock(&ramSemaphore);
  systemBytes -= b->bigSize + ramHeaderBytes;
  kvLazyUnlock(&ramSemaphore, locked);
  std::free(b);
}

void ramFree64K(const void* block) { ramFreeHuge(block); }

KvStatus ramResizeHuge(void** block, uint32_t size) {
  if (!*block) {
    *block = ramAllocHuge(size);
    return *block ? kvSuccess : kvFailure;
  }
  RamBlock* b = headerOf(*block);
  if (b->marker != hugeMarker) return kvFailure;
  uint64_t oldTotal = b->bigSize + ramHeaderBytes;
  uint64_t newTotal = uint64_t(size) + ramHeaderBytes;
  int locked = kvLazyLock(&ramSemaphore);
  bool granted = newTotal <= oldTotal || systemTake(newTotal - oldTotal);
  kvLazyUnlock(&ramSemaphore, locked);
  auto* moved = granted ? static_cast<RamBlock*>(std::realloc(b, newTotal)) : nullptr;
  if (!moved) {
    if (granted && newTotal > oldTotal) {
      int relock = kvLazyLock(&ramSemaphore);
      systemBytes -= newTotal - oldTotal;
      kvLazyUnlock(&ramSemaphore, relock);
    }
    reportMemoryError();
    return kvFailure;
  }
  if (newTotal < oldTotal) {
    int relock = kvLazyLock(&ramSemaphore);
    systemBytes -= oldTotal - newTotal;
    kvLazyUnlock(&ramSemaphore, relock);
  }
  moved->bigSize = size;
  *block = userOf(moved);
  return kvSuccess;
}

int ramIsAllocOK() {
  if (limits.systemBudget) {
    int locked = kvLazyLock(&ramSemaphore);
    uint64_t used = systemBytes;
    kvLazyUnlock(&ramSemaphore, locked);
    return used < limits.systemBudget && limits.systemBudget - used > freeMemoryFloor;
  }
  struct sysinfo info;
  if (sysinfo(&info) != 0) return 1;
  uint64_t available = (uint64_t(info.freeram) + info.bufferram) * info.mem_unit;
  return available > freeMemoryFloor;
}

RamLimits ramGetLimits() { return limits; }

void ramSetLimits(const RamLimits& newLimits) {
  int locked = kvLazyLock(&ramSemaphore);
  limits = newLimits;
  ++limitsGeneration;
  if (limits.minSegmentBytes < ramMinBlockBytes) limits.minSegmentBytes = ramMinBlockBytes;
  if (limits.minSegmentBytes > ramMaxBlockBytes) limits.minSegmentBytes = ramMaxBlockBytes;
  kvLazyUnlock(&ramSemaphore, locked);
}

RamStats ramGetStats() {
  int locked = kvLazyLock(&ramSemaphore);
  RamStats stats = {0, 0, systemBlocks, systemBytes};
  for (RamSegment* s = firstSegment(); s; s = s->next) {
    ++stats.segments;
    stats.liveBlocks += s->liveBlocks;
  }
  kvLazyUnlock(&ramSemaphore, locked);
  return stats;
}

uint32_t ramBlockSize(const void* block) { return block ? blockSize(headerOf(block)) : 0; }

const void* ramFirstSegment() { return firstSegment(); }

uint32_t ramSegmentUsableBytes(const void* segment) {
  return segment ? static_cast<const RamSegment*>(segment)->size - ramSegmentHeaderBytes : 0;
}

uint32_t ramSegmentFreeBlocks(const void* segment) {
  if (!segment) return 0;
  uint32_t count = 0;
  for (RamBlock* b = static_cast<const RamSegment*>(segment)->freeHead; b; b = links(b)->next) ++count;
  return count;
}

const void* ramSegmentOf(const void* block) {
  int locked = kvLazyLock(&ramSemaphore);
  bool system = false;
  const void* s = liveBlockSegment(block, &system);
  kvLazyUnlock(&ramSemaphore, locked);
  return s;
}
