// Memory sub-allocator.
//
// Small blocks are carved out of segments taken from the system; a segment
// goes back as soon as its last live block is freed. The free blocks of all
// segments are indexed by size class, so an allocation finds a block that
// fits in a few steps whatever the number of segments and live blocks; a
// freed block merges at once with free neighbours on both sides, so freeing
// is constant time apart from finding the block's segment (logarithmic in
// the number of segments).
//
// Block layout (64-bit): a 16-byte header, then the caller's bytes, so every
// block handed out is aligned to 16 bytes.
//   offset 0  uint32  bits 0-23 block size in bytes, header included (a
//                     multiple of 16, at least 32); bits 24-31 zero while the
//                     block is free, else 128 + slack, where slack is block
//                     size minus the size the caller asked for
//   offset 4  uint32  marker of a live allocator block
//   offset 8  uint64  the requested size of a block served by the system
//                     (too large for the 24-bit size field); the
//                     allocator's own bookkeeping in a segment block
// A free block keeps its free-list links (next, previous; 8 bytes each) in
// its first 16 caller bytes. A free remainder is split off only when it can
// hold a block of its own (32 bytes); a smaller one stays with the block as
// slack.
//
// Every failure to get memory adds the memory error (30190) to the calling
// thread's current error list and returns null (or 1 for the resize calls).
#pragma once

#include "util/kv_types.h"

#include <memory>

KV_UTIL_API void* ramAlloc(uint32_t size);
KV_UTIL_API void* ramAllocZ(uint32_t size);
KV_UTIL_API unsigned char* ramAllocStr(const unsigned char* text);
// A block of length + 1 bytes holding the counted text and a terminator.
KV_UTIL_API unsigned char* ramAllocStr(const unsigned char* text, uint32_t length);
// Null, and a pointer that no segment holds, are ignored.
KV_UTIL_API void ramFree(const void* block);
// Resize in place where possible; otherwise allocate, copy the old requested
// size and free. On failure the old block is untouched and 1 is returned.
KV_UTIL_API KvStatus ramResize(void** block, uint32_t size);
// As ramResize, and the bytes beyond the old requested size are zeroed.
KV_UTIL_API KvStatus ramResizeZ(void** block, uint32_t size);
// The size asked for when the block was made or last resized.
KV_UTIL_API uint32_t ramSize(const void* block);

// An owning pointer to a block of the sub-allocator: the block goes back
// through ramFree when the pointer goes, so an early return or an exception
// (std::bad_alloc from a standard container) between the allocation and the
// hand-over cannot leak it. release() hands the block on.
struct KvRamDeleter {
  void operator()(const void* block) const noexcept { ramFree(block); }
};
template <class T>
using KvRamPtr = std::unique_ptr<T, KvRamDeleter>;

template <class T>
inline KvStatus ramResize(T** block, uint32_t size) {
  return ramResize(reinterpret_cast<void**>(block), size);
}
template <class T>
inline KvStatus ramResizeZ(T** block, uint32_t size) {
  return ramResizeZ(reinterpret_cast<void**>(block), size);
}

// Large buffers taken from the system directly.
KV_UTIL_API void* ramAllocHuge(uint32_t size);
KV_UTIL_API void* ramAlloc64K();
KV_UTIL_API KvStatus ramResizeHuge(void** block, uint32_t size);
KV_UTIL_API void ramFreeHuge(const void* block);
KV_UTIL_API void ramFree64K(const void* block);

// Nonzero while the system has more than 400000 bytes to give.
KV_UTIL_API int ramIsAllocOK();

// Class-level allocation through the sub-allocator. A failed allocation
// returns null (the memory error is already reported) and the new-expression
// then yields null without running the constructor.
#define KV_RAM_OPERATORS                                                            \
  static void* operator new(size_t size) noexcept {                                 \
    return size > 0xFFFFFFFFu ? nullptr : ramAlloc(static_cast<uint32_t>(size));    \
  }                                                                                 \
  static void* operator new[](size_t size) noexcept {                               \
    return size > 0xFFFFFFFFu ? nullptr : ramAlloc(static_cast<uint32_t>(size));    \
  }                                                                                 \
  static void* operator new(size_t, void* place) noexcept { return place; }         \
  static void operator delete(void* block) noexcept { ramFree(block); }             \
  static void operator delete[](void* block) noexcept { ramFree(block); }           \
  static void operator delete(void*, void*) noexcept {}

// Limits of the allocator. Tests set them to reach the spill and failure
// paths; the defaults suit production.
struct RamLimits {
  // Usable bytes of a new segment when the request is smaller.
  uint32_t minSegmentBytes;
  // Bytes the allocator may hold from the system in all (segments, system
  // blocks and huge blocks); 0 means no limit other than the system's.
  uint64_t systemBudget;
  // Nonzero: new blocks come only from segments made after these limits
  // were set, so a test sees a layout of its own. Older segments still
  // take back their blocks.
  uint32_t isolate;
};
KV_UTIL_API RamLimits ramGetLimits();
KV_UTIL_API void ramSetLimits(const RamLimits& limits);
KV_UTIL_API extern const RamLimits ramDefaultLimits;

// A snapshot of the allocator's bookkeeping, for tests and diagnosis.
struct RamStats {
  uint32_t segments;     // segments in the task's list
  uint32_t liveBlocks;   // live blocks over all segments
  uint32_t systemBlocks; // live blocks served by the system directly
  uint64_t systemBytes;  // bytes held from the system
};
KV_UTIL_API RamStats ramGetStats();
// Bytes the block occupies, header included (0 for a system block).
KV_UTIL_API uint32_t ramBlockSize(const void* block);
// The first segment of the task (ziz-task slot 0), its usable size and the
// number of its free blocks, for tests of the segment rules.
KV_UTIL_API const void* ramFirstSegment();
KV_UTIL_API uint32_t ramSegmentUsableBytes(const void* segment);
KV_UTIL_API uint32_t ramSegmentFreeBlocks(const void* segment);
KV_UTIL_API const void* ramSegmentOf(const void* block);

// Geometry of blocks, for callers that reason about slack.
enum : uint32_t {
  ramHeaderBytes = 16,
  ramAlignBytes = 16,
  ramMinBlockBytes = 32,
  ramMaxBlockBytes = 0xFFFFF0,  // largest 24-bit size that is a multiple of 16
  ramSegmentHeaderBytes = 64,
};
