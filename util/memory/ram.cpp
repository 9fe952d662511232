// Memory sub-allocator; see ram.h for the block layout and ram_layout.h for
// the headers the allocator keeps for itself.
//
// Blocks are carved out of segments taken from the system and listed in the
// task's segment list (first segment in ziz-task slot 0). Free blocks of all
// segments are kept in one index of size-class lists (ram_free_lists.h), so
// an allocation takes a fitting block without looking at segments at all; a
// freed block merges at once with free neighbours on both sides (the one
// behind it through its size, the one before it through the tag in its own
// header), and a segment whose blocks are all free again goes back to the
// system. Beside the list, an index by address finds the segment of a block
// and lets ramFree ignore pointers that no segment holds.
#include "util/memory/ram.h"

#include "util/error_list.h"
#include "util/memory/ram_address_index.h"
#include "util/memory/ram_free_lists.h"
#include "util/locks/semaphore.h"
#include "util/os/zizdata.h"

#include <sys/sysinfo.h>

#include <cstdlib>
#include <cstring>
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

constexpr uint32_t hugeMarker = 0x4755564B;   // "KVUG"
constexpr uint32_t freeMemoryFloor = 400000;

RamLimits limits = {65536 - ramSegmentHeaderBytes, 0, 0};
uint64_t limitsGeneration = 0;
uint64_t systemBytes = 0;
uint32_t systemBlocks = 0;
uint32_t segmentCount = 0;
uint32_t liveBlockCount = 0;  // live segment blocks over all segments
RamSegment* lastSegment = nullptr;
RamFreeLists freeLists;  // constant-initialized

RamAddressIndex& rangeIndex() {
  // Never destroyed: blocks may be freed by static destructors of other
  // libraries after this one's statics are gone.
  static auto* index = new RamAddressIndex();
  return *index;
}

RamSegment*& firstSegment() {
  return *reinterpret_cast<RamSegment**>(mdsGetZizTaskDataAddress(zizTaskMemory));
}

// Whether the free blocks of s are in the index: always, unless the limits
// isolate the segments made under them from older ones.
inline bool isListed(const RamSegment* s) { return !limits.isolate || s->generation == limitsGeneration; }

// Block size for a request: header plus request rounded up to 16, at least
// the smallest block that can hold the free-list links. 0 when too large
// for a segment block.
inline uint32_t blockSizeFor(uint32_t request) {
  uint64_t n = (uint64_t(request) + ramHeaderBytes + ramAlignBytes - 1) & ~uint64_t(ramAlignBytes - 1);
  if (n < ramMinBlockBytes) n = ramMinBlockBytes;
  return n > ramMaxBlockBytes ? 0 : uint32_t(n);
}

// A block's own tag describes the block before it, so marking a block in
// use or free leaves that tag alone and sets the tag of the block behind.
inline void markInUse(RamBlock* b, uint32_t size, uint32_t request) {
  b->word = size | ((128u + (size - request)) << 24);
  b->marker = blockMarker;
  blockBehind(b)->extra = 0;
}

// A free block keeps its header and links readable; the rest, the headers
// of blocks merged into it included, is poisoned (under AddressSanitizer)
// until the block is taken again.
constexpr uint32_t freeKeptBytes = ramHeaderBytes + sizeof(RamLinks);

// Makes b a free block of size bytes whose neighbours are both in use (or
// the segment's start and fence), tags the header behind it and lists it.
inline void makeFree(RamBlock* b, uint32_t size, bool listed) {
  b->word = size;
  b->marker = blockMarker;
  blockBehind(b)->extra = size;
  if (listed) freeLists.push(b);
  if (size > freeKeptBytes) KV_RAM_POISON(reinterpret_cast<char*>(b) + freeKeptBytes, size - freeKeptBytes);
}

// Frees block b of a segment (in use; listed tells whether the segment's
// free blocks are indexed), merged with a free block on either side.
// Returns the merged free block.
RamBlock* releaseBlock(RamBlock* b, bool listed) {
  uint32_t size = blockSize(b);
  RamBlock* behind = blockBehind(b);
  if (isFree(behind)) {
    if (listed) freeLists.unlink(behind);
    size += blockSize(behind);
    behind->marker = 0;
  }
  if (b->extra) {
    RamBlock* before = reinterpret_cast<RamBlock*>(reinterpret_cast<char*>(b) - b->extra);
    if (listed) freeLists.unlink(before);
    size += blockSize(before);
    b->marker = 0;
    b = before;
  }
  makeFree(b, size, listed);
  return b;
}

bool systemTake(uint64_t bytes) {
  if (limits.systemBudget && systemBytes + bytes > limits.systemBudget) return false;
  systemBytes += bytes;
  return true;
}

// A new segment for a block of n bytes, linked at the end of the task's
// list; its blocks are one free block, not yet listed.
RamSegment* newSegment(uint32_t n) {
  uint64_t usable = n > limits.minSegmentBytes ? n : limits.minSegmentBytes;
  usable = (usable + ramAlignBytes - 1) & ~uint64_t(ramAlignBytes - 1);
  if (usable > ramMaxBlockBytes) usable = ramMaxBlockBytes;
  uint64_t size = usable + ramSegmentHeaderBytes;
  uint64_t total = size + fenceBytes;
  if (!systemTake(total)) return nullptr;
  void* memory = std::aligned_alloc(ramAlignBytes, total);
  if (!memory) {
    systemBytes -= total;
    return nullptr;
  }
  if (!rangeIndex().insert(RamRange{reinterpret_cast<uintptr_t>(memory), size, static_cast<RamSegment*>(memory)})) {
    std::free(memory);
    systemBytes -= total;
    return nullptr;
  }
  auto* s = static_cast<RamSegment*>(memory);
  std::memset(s, 0, sizeof(RamSegment));
  s->size = uint32_t(size);
  s->generation = limitsGeneration;
  RamBlock* fence = fenceOf(s);
  fence->word = inUseBit;
  fence->marker = 0;
  RamBlock* b = firstBlock(s);
  b->extra = 0;
  makeFree(b, uint32_t(usable), false);
  s->prev = lastSegment;
  if (lastSegment) lastSegment->next = s;
  else firstSegment() = s;
  lastSegment = s;
  ++segmentCount;
  return s;
}

void releaseSegment(RamSegment* s) {
  KV_RAM_UNPOISON(s, s->size);
  if (s->prev) s->prev->next = s->next;
  else firstSegment() = s->next;
  if (s->next) s->next->prev = s->prev;
  else lastSegment = s->prev;
  --segmentCount;
  rangeIndex().erase(reinterpret_cast<uintptr_t>(s));
  systemBytes -= s->size + fenceBytes;
  std::free(s);
}

// Takes free block b (unlisted, at least n bytes) for a request; the rest
// is split off as a free block of its own when it can form one.
void* takeBlock(RamBlock* b, uint32_t n, uint32_t request, bool listed) {
  uint32_t size = blockSize(b);
  KV_RAM_UNPOISON(b, size);
  if (size - n >= ramMinBlockBytes) {
    auto* rest = reinterpret_cast<RamBlock*>(reinterpret_cast<char*>(b) + n);
    rest->extra = 0;
    makeFree(rest, size - n, listed);
    size = n;
  }
  markInUse(b, size, request);
  ++liveBlockCount;
  return userOf(b);
}

void* systemBlockAlloc(uint32_t request) {
  uint64_t total = uint64_t(request) + ramHeaderBytes;
  if (!systemTake(total)) return nullptr;
  auto* b = static_cast<RamBlock*>(std::aligned_alloc(ramAlignBytes, (total + 15) & ~uint64_t(15)));
  if (!b) {
    systemBytes -= total;
    return nullptr;
  }
  if (!rangeIndex().insert(RamRange{reinterpret_cast<uintptr_t>(b), total, nullptr})) {
    std::free(b);
    systemBytes -= total;
    return nullptr;
  }
  b->word = inUseBit;  // size field 0 marks a system block
  b->marker = blockMarker;
  b->extra = request;
  ++systemBlocks;
  return userOf(b);
}

void* allocLocked(uint32_t request) {
  uint32_t n = blockSizeFor(request);
  if (n == 0) return systemBlockAlloc(request);
  if (RamBlock* b = freeLists.takeFit(n)) return takeBlock(b, n, request, true);
  RamSegment* s = newSegment(n);
  if (!s) return nullptr;
  return takeBlock(firstBlock(s), n, request, true);
}

// The segment of a live block, or null (system block or foreign pointer;
// *system tells which).
RamSegment* liveBlockSegment(const void* p, bool* system) {
  *system = false;
  const RamRange* range = rangeIndex().find(reinterpret_cast<uintptr_t>(p));
  if (!range) return nullptr;
  RamBlock* b = headerOf(p);
  if (!range->segment) {
    *system = reinterpret_cast<uintptr_t>(b) == range->start && b->marker == blockMarker;
    return nullptr;
  }
  if (reinterpret_cast<uintptr_t>(b) < reinterpret_cast<uintptr_t>(firstBlock(range->segment))) return nullptr;
  if (b->marker != blockMarker || isFree(b)) return nullptr;
  return range->segment;
}

void freeSystemBlock(RamBlock* b) {
  // The bytes taken when the block was made: a shrink since changed only
  // its requested size.
  uint64_t total = rangeIndex().find(reinterpret_cast<uintptr_t>(b))->bytes;
  rangeIndex().erase(reinterpret_cast<uintptr_t>(b));
  b->marker = 0;
  systemBytes -= total;
  --systemBlocks;
  std::free(b);
}

// Puts every free block of the segments whose blocks are listed under the
// current limits into a fresh index.
void rebuildFreeLists() {
  freeLists.clear();
  for (RamSegment* s = firstSegment(); s; s = s->next) {
    if (!isListed(s)) continue;
    for (RamBlock* b = firstBlock(s); b != fenceOf(s); b = blockBehind(b))
      if (isFree(b)) freeLists.push(b);
  }
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
    bool listed = isListed(s);
    RamBlock* merged = releaseBlock(headerOf(block), listed);
    --liveBlockCount;
    if (merged == firstBlock(s) && blockBehind(merged) == fenceOf(s)) {
      // That was the segment's last live block.
      if (listed) freeLists.unlink(merged);
      merged->marker = 0;
      releaseSegment(s);
    }
  }
  kvLazyUnlock(&ramSemaphore, locked);
}

uint32_t ramSize(const void* block) {
  if (!block) return 0;
  const RamBlock* b = headerOf(block);
  if (blockSize(b) == 0) return uint32_t(b->extra);
  return blockSize(b) - ((b->word >> 24) - 128);
}

namespace {

// Resizes block b of segment s to n bytes (a block size) for a request
// without moving it: shrinking, or growing into the free block behind it.
// A tail of a block's size or more is split off and merged with a free
// block behind it. Returns false, changing nothing, when the block must
// move.
bool resizeInPlace(RamSegment* s, RamBlock* b, uint32_t n, uint32_t request) {
  bool listed = isListed(s);
  uint32_t total = blockSize(b);
  RamBlock* behind = blockBehind(b);
  if (n > total) {
    if (!isFree(behind) || uint64_t(total) + blockSize(behind) < n) return false;
    if (listed) freeLists.unlink(behind);
    behind->marker = 0;
    KV_RAM_UNPOISON(behind, blockSize(behind));
    total += blockSize(behind);
    b->word = total | inUseBit;
    behind = blockBehind(b);
  }
  if (total - n >= ramMinBlockBytes) {
    auto* tail = reinterpret_cast<RamBlock*>(reinterpret_cast<char*>(b) + n);
    uint32_t tailSize = total - n;
    if (isFree(behind)) {
      if (listed) freeLists.unlink(behind);
      behind->marker = 0;
      tailSize += blockSize(behind);
    }
    tail->extra = 0;
    makeFree(tail, tailSize, listed);
    total = n;
  }
  markInUse(b, total, request);
  return true;
}

}  // namespace

KvStatus ramResize(void** block, uint32_t size) {
  if (!*block) {
    *block = ramAlloc(size);
    return *block ? kvSuccess : kvFailure;
  }
  int locked = kvLazyLock(&ramSemaphore);
  bool system = false;
  RamSegment* s = liveBlockSegment(*block, &system);
  uint32_t n = blockSizeFor(size);
  if (s && n && resizeInPlace(s, headerOf(*block), n, size)) {
    kvLazyUnlock(&ramSemaphore, locked);
    return kvSuccess;
  }
  if (system && size <= headerOf(*block)->extra) {
    headerOf(*block)->extra = size;  // shrinking never moves a block
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
  b->extra = size;
  return userOf(b);
}

void* ramAlloc64K() { return ramAllocHuge(65536); }

void ramFreeHuge(const void* block) {
  if (!block) return;
  RamBlock* b = headerOf(block);
  if (b->marker != hugeMarker) return;
  b->marker = 0;
  int locked = kvLazyLock(&ramSemaphore);
  systemBytes -= b->extra + ramHeaderBytes;
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
  uint64_t oldTotal = b->extra + ramHeaderBytes;
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
  moved->extra = size;
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
  rebuildFreeLists();
  kvLazyUnlock(&ramSemaphore, locked);
}

RamStats ramGetStats() {
  int locked = kvLazyLock(&ramSemaphore);
  RamStats stats = {segmentCount, liveBlockCount, systemBlocks, systemBytes};
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
  auto* s = const_cast<RamSegment*>(static_cast<const RamSegment*>(segment));
  int locked = kvLazyLock(&ramSemaphore);
  uint32_t count = 0;
  for (RamBlock* b = firstBlock(s); b != fenceOf(s); b = blockBehind(b))
    if (isFree(b)) ++count;
  kvLazyUnlock(&ramSemaphore, locked);
  return count;
}

const void* ramSegmentOf(const void* block) {
  int locked = kvLazyLock(&ramSemaphore);
  bool system = false;
  const void* s = liveBlockSegment(block, &system);
  kvLazyUnlock(&ramSemaphore, locked);
  return s;
}
