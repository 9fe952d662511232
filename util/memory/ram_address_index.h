// The sub-allocator's index by address: which of its ranges (a segment, or a
// block served by the system) holds an address. ramFree and ramResize ask it
// for every block, so that a pointer no range holds is ignored without its
// memory being read; used by ram.cpp only, under the allocator's lock.
//
// Every range is kept in an ordered map. For segments a table of the
// address space in chunks of 64 KB answers first, in constant time: each
// chunk names the segments that overlap it, up to two inline (segments of
// the default size, 64 KB or more, never overlap one chunk three at a time).
// A chunk that more segments overlap (small test segments), a range beyond
// the table, and blocks served by the system are answered by the map.
#pragma once

#include "util/memory/ram_layout.h"

#include <map>

// A range the allocator holds: a segment (segment set), or a block served by
// the system (segment null).
struct RamRange {
  uintptr_t start;
  uint64_t bytes;
  RamSegment* segment;
};

class RamAddressIndex {
 public:
  // Adds a range; false, changing nothing, when memory for the index is
  // lacking.
  bool insert(const RamRange& range);
  // Removes the range that starts at start (one that insert added).
  void erase(uintptr_t start);
  // The range that holds address, or null.
  const RamRange* find(uintptr_t address) const;

 private:
  enum : uint32_t {
    chunkShift = 16,
    leafBits = 16,
    rootBits = 47 - chunkShift - leafBits,  // user addresses below 2^47
    inlineSlots = 2,
  };
  struct Chunk {
    RamRange slot[inlineSlots];  // slot.segment null: empty
    uint32_t overlapping;        // segments that overlap the chunk
  };

  Chunk* chunkOf(uintptr_t chunkNumber) const;
  bool makeLeaves(uintptr_t firstChunk, uintptr_t lastChunk);
  void refill(Chunk* chunk, uintptr_t chunkNumber);
  static bool inTable(const RamRange& range);

  std::map<uintptr_t, RamRange> ranges_;
  uint32_t untabled_ = 0;  // ranges the table does not cover
  Chunk* leaves_[uintptr_t(1) << rootBits] = {};
};
