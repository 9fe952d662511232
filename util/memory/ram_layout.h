// Headers of the sub-allocator's blocks and segments, inside libkvutil only
// (ram.cpp and the free-block index). ram.h states the block layout that
// callers may rely on; this file adds what the allocator keeps for itself.
//
// Segment (64-byte header, then the blocks, then a fence):
//   offset 0   uint32  size of the segment, header included, fence excluded
//   offset 4   uint32  reserved (0)
//   offset 8   ptr     next segment of the task
//   offset 16  ptr     previous segment of the task
//   offset 24  uint64  generation of the limits it was made under
//   offset 32  ...     reserved (0) up to 64
//   size       16 bytes: the fence, a block header that reads "in use" with
//              size 0 and no marker, so that every block, the last one too,
//              has a header directly behind it to tag.
//
// Block header (16 bytes; see ram.h):
//   offset 0   uint32  size (bits 0-23), 0 while free or 128 + slack (bits 24-31)
//   offset 4   uint32  blockMarker for a block of the allocator, else 0
//   offset 8   uint64  a block served by the system: its requested size;
//                      a segment block or the fence: the size of the block
//                      directly before it while that block is free, else 0
//                      (the tag that lets a freed block merge with a free
//                      block before it without a walk)
// Free blocks of a segment are merged as soon as they meet, so no two free
// blocks lie side by side.
#pragma once

#include "util/memory/ram.h"

struct RamBlock {
  uint32_t word;
  uint32_t marker;
  // bigSize for a block served by the system, freeBefore for a segment block.
  uint64_t extra;
};
static_assert(sizeof(RamBlock) == ramHeaderBytes, "block header size");

// The free-list links, in the first caller bytes of a free block.
struct RamLinks {
  RamBlock* next;
  RamBlock* prev;
};
static_assert(ramMinBlockBytes >= ramHeaderBytes + sizeof(RamLinks), "a free block holds its links");

struct RamSegment {
  uint32_t size;
  uint32_t reserved0;
  RamSegment* next;
  RamSegment* prev;
  uint64_t generation;
  uint64_t reserved[4];
};
static_assert(sizeof(RamSegment) == ramSegmentHeaderBytes, "segment header size");

constexpr uint32_t blockMarker = 0x4D52564B;  // "KVRM"
constexpr uint32_t sizeMask = 0x00FFFFFF;
constexpr uint32_t inUseBit = 0x80000000;
constexpr uint32_t fenceBytes = ramHeaderBytes;

inline uint32_t blockSize(const RamBlock* b) { return b->word & sizeMask; }
inline bool isFree(const RamBlock* b) { return (b->word & inUseBit) == 0; }
inline RamLinks* links(RamBlock* b) { return reinterpret_cast<RamLinks*>(b + 1); }
inline RamBlock* headerOf(const void* p) {
  return reinterpret_cast<RamBlock*>(const_cast<char*>(static_cast<const char*>(p)) - ramHeaderBytes);
}
inline void* userOf(RamBlock* b) { return b + 1; }
// The block (or the fence) directly behind b.
inline RamBlock* blockBehind(RamBlock* b) {
  return reinterpret_cast<RamBlock*>(reinterpret_cast<char*>(b) + blockSize(b));
}
inline RamBlock* firstBlock(RamSegment* s) { return reinterpret_cast<RamBlock*>(s + 1); }
inline RamBlock* fenceOf(RamSegment* s) {
  return reinterpret_cast<RamBlock*>(reinterpret_cast<char*>(s) + s->size);
}

