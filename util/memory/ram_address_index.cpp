// The sub-allocator's index by address; see ram_address_index.h.
#include "util/memory/ram_address_index.h"

#include <cstdlib>
#include <new>

namespace {

constexpr uintptr_t chunkBytes = uintptr_t(1) << 16;

inline bool holds(const RamRange& range, uintptr_t address) {
  return range.segment && address >= range.start && address - range.start < range.bytes;
}

}  // namespace

bool RamAddressIndex::inTable(const RamRange& range) {
  return range.segment && ((range.start + range.bytes - 1) >> (chunkShift + leafBits + rootBits)) == 0;
}

RamAddressIndex::Chunk* RamAddressIndex::chunkOf(uintptr_t chunkNumber) const {
  Chunk* leaf = leaves_[chunkNumber >> leafBits];
  return leaf ? leaf + (chunkNumber & ((uintptr_t(1) << leafBits) - 1)) : nullptr;
}

// The leaves of the table that cover the chunks, made zeroed where missing.
// A leaf covers 4 GB of addresses and is never given back; its pages cost
// memory only where segments lie.
bool RamAddressIndex::makeLeaves(uintptr_t firstChunk, uintptr_t lastChunk) {
  for (uintptr_t leaf = firstChunk >> leafBits; leaf <= lastChunk >> leafBits; ++leaf) {
    if (leaves_[leaf]) continue;
    leaves_[leaf] = static_cast<Chunk*>(std::calloc(uintptr_t(1) << leafBits, sizeof(Chunk)));
    if (!leaves_[leaf]) return false;
  }
  return true;
}

bool RamAddressIndex::insert(const RamRange& range) {
  bool table = inTable(range);
  uintptr_t first = range.start >> chunkShift;
  uintptr_t last = (range.start + range.bytes - 1) >> chunkShift;
  if (table && !makeLeaves(first, last)) return false;
  try {
    ranges_.emplace(range.start, range);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!table) {
    ++untabled_;
    return true;
  }
  for (uintptr_t c = first; c <= last; ++c) {
    Chunk* chunk = chunkOf(c);
    if (++chunk->overlapping > inlineSlots) continue;  // the map answers for it
    for (RamRange& slot : chunk->slot) {
      if (!slot.segment) {
        slot = range;
        break;
      }
    }
  }
  return true;
}

// Puts into the chunk's slots the segments that overlap it, from the map,
// once no more than the slots can hold are left.
void RamAddressIndex::refill(Chunk* chunk, uintptr_t chunkNumber) {
  uintptr_t chunkStart = chunkNumber << chunkShift;
  for (RamRange& slot : chunk->slot) slot = RamRange{0, 0, nullptr};
  // Ranges never overlap each other, so those that overlap the chunk are
  // neighbours in the map: walk back from the last that starts inside it.
  auto it = ranges_.lower_bound(chunkStart + chunkBytes);
  int filled = 0;
  while (it != ranges_.begin() && filled < int(inlineSlots)) {
    --it;
    const RamRange& range = it->second;
    if (range.start + range.bytes <= chunkStart) break;
    if (range.segment) chunk->slot[filled++] = range;
  }
}

void RamAddressIndex::erase(uintptr_t start) {
  auto it = ranges_.find(start);
  if (it == ranges_.end()) return;
  RamRange range = it->second;
  ranges_.erase(it);
  if (!inTable(range)) {
    --untabled_;
    return;
  }
  uintptr_t last = (range.start + range.bytes - 1) >> chunkShift;
  for (uintptr_t c = range.start >> chunkShift; c <= last; ++c) {
    Chunk* chunk = chunkOf(c);
    uint32_t before = chunk->overlapping--;
    if (before > inlineSlots) {
      if (chunk->overlapping <= inlineSlots) refill(chunk, c);
      continue;
    }
    for (RamRange& slot : chunk->slot) {
      if (slot.segment == range.segment) slot = RamRange{0, 0, nullptr};
    }
  }
}

const RamRange* RamAddressIndex::find(uintptr_t address) const {
  uintptr_t chunkNumber = address >> chunkShift;
  if ((chunkNumber >> (leafBits + rootBits)) == 0) {
    const Chunk* chunk = chunkOf(chunkNumber);
    if (!chunk || chunk->overlapping <= inlineSlots) {
      if (chunk) {
        for (const RamRange& slot : chunk->slot)
          if (holds(slot, address)) return &slot;
      }
      // No segment holds it; only a range outside the table may.
      if (untabled_ == 0) return nullptr;
    }
  }
  auto it = ranges_.upper_bound(address);
  if (it == ranges_.begin()) return nullptr;
  --it;
  const RamRange& range = it->second;
  return address - range.start < range.bytes ? &range : nullptr;
}
