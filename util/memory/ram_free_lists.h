// The sub-allocator's index of free blocks: one doubly linked list per size
// class over the free blocks of every segment, and a bitmap of the classes
// that hold a block, so that a block large enough for a request is found in
// a few steps however many segments and blocks there are. Used by ram.cpp
// only, under the allocator's lock.
//
// Size classes, by block size in 16-byte granules g (2 to 0xFFFFF):
//   g < 32        one class per size (class g): 32 to 496 bytes
//   g >= 32       eight classes per power of two: class 32 + 8 * (p - 5) + s,
//                 where p = floor(log2 g) and s the three bits of g below
//                 its top bit; blocks of one class differ by less than 1/8
// A class whose smallest size is at least the request holds only blocks
// that fit; the class of the request itself may hold some that do not, and
// a few of its blocks are looked at before the allocator takes a new
// segment.
#pragma once

#include "util/memory/ram_layout.h"

#include <cstring>

// Constant-initialized (all lists empty), so that allocations made by other
// static initializers of the library never meet an index not yet built.
class RamFreeLists {
 public:
  constexpr RamFreeLists() = default;

  void clear() {
    std::memset(heads_, 0, sizeof(heads_));
    std::memset(nonEmpty_, 0, sizeof(nonEmpty_));
  }

  // Puts free block b (its size set) at the head of its class.
  void push(RamBlock* b) {
    uint32_t c = classOf(blockSize(b));
    RamLinks* l = links(b);
    l->prev = nullptr;
    l->next = heads_[c];
    if (heads_[c]) links(heads_[c])->prev = b;
    heads_[c] = b;
    nonEmpty_[c / 64] |= uint64_t(1) << (c % 64);
  }

  // Takes free block b out of its class.
  void unlink(RamBlock* b) {
    RamLinks* l = links(b);
    if (l->prev) {
      links(l->prev)->next = l->next;
    } else {
      uint32_t c = classOf(blockSize(b));
      heads_[c] = l->next;
      if (!l->next) nonEmpty_[c / 64] &= ~(uint64_t(1) << (c % 64));
    }
    if (l->next) links(l->next)->prev = l->prev;
  }

  // Takes out and returns a free block of at least n bytes (a block size),
  // or null when the index holds none that it finds.
  RamBlock* takeFit(uint32_t n) {
    uint32_t c = classOf(n);
    uint32_t fitting = smallestOf(c) == n ? c : c + 1;
    if (fitting < classCount) {
      for (uint32_t word = fitting / 64; word < bitmapWords; ++word) {
        uint64_t bits = nonEmpty_[word];
        if (word == fitting / 64) bits &= ~uint64_t(0) << (fitting % 64);
        if (bits) {
          RamBlock* b = heads_[word * 64 + uint32_t(__builtin_ctzll(bits))];
          unlink(b);
          return b;
        }
      }
    }
    if (fitting != c) {
      uint32_t looked = 0;
      for (RamBlock* b = heads_[c]; b && looked < ownClassLooks; b = links(b)->next, ++looked) {
        if (blockSize(b) >= n) {
          unlink(b);
          return b;
        }
      }
    }
    return nullptr;
  }

 private:
  enum : uint32_t {
    exactClasses = 32,
    classCount = exactClasses + 8 * (20 - 5),  // granules below 2^20
    bitmapWords = (classCount + 63) / 64,
    ownClassLooks = 16,
  };

  static uint32_t classOf(uint32_t size) {
    uint32_t g = size >> 4;
    if (g < exactClasses) return g;
    uint32_t p = 31 - uint32_t(__builtin_clz(g));
    return exactClasses + 8 * (p - 5) + ((g >> (p - 3)) & 7);
  }

  // The smallest block size of class c.
  static uint32_t smallestOf(uint32_t c) {
    if (c < exactClasses) return c << 4;
    uint32_t p = 5 + (c - exactClasses) / 8;
    uint32_t s = (c - exactClasses) % 8;
    return ((8 + s) << (p - 3)) << 4;
  }

  RamBlock* heads_[classCount] = {};
  uint64_t nonEmpty_[bitmapWords] = {};
};
