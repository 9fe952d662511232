// The sub-allocator against malloc, in two workloads; prints the cost of one
// operation of each and the ratio.
//
//   churn  400,000 live blocks of 16 to 115 bytes, then ten rounds that free
//          every other block and allocate a new one in its place: the cost
//          of a free and an allocation with a large live set.
//   mixed  a number of operations drawn at random: half allocations, a
//          quarter frees and a quarter resizes of a live block, so the live
//          set grows to about a quarter of the operations. New blocks are 16
//          to 256 bytes nine times in ten, up to 4 KB most other times, and
//          up to 70 KB once in a hundred; a resize makes a block between half
//          and twice its size (at most 70 KB), as likely smaller as larger.
//          Run at 100,000, 400,000 and 1,600,000 operations: the cost of one
//          operation should not grow with them.
//
// Without arguments every workload runs with both allocators, in turn, three
// times, and the median of each is printed. With arguments,
// "ram_bench churn|mixed OPERATIONS ram|malloc" runs one of them, so that
// whole processes can be timed against each other from outside (for example
// with /usr/bin/time).
#include "util/memory/ram.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <vector>

namespace {

struct RamAllocator {
  static void* alloc(uint32_t n) { return ramAlloc(n); }
  static void release(void* p) { ramFree(p); }
  static void* resize(void* p, uint32_t n) { return ramResize(&p, n) == kvSuccess ? p : nullptr; }
};

struct SystemAllocator {
  static void* alloc(uint32_t n) { return std::malloc(n); }
  static void release(void* p) { std::free(p); }
  static void* resize(void* p, uint32_t n) { return std::realloc(p, n); }
};

// Processor time, not wall time: the machines that run this are shared,
// and time spent waiting for a processor is no cost of an allocator.
double seconds(std::clock_t start) { return double(std::clock() - start) / CLOCKS_PER_SEC; }

// Nanoseconds per operation (a free and an allocation count as two).
template <class A>
double churn() {
  std::mt19937 random(1);
  std::vector<void*> blocks(400000);
  std::clock_t start = std::clock();
  uint64_t operations = 0;
  for (void*& block : blocks) block = A::alloc(16 + random() % 100);
  operations += blocks.size();
  for (int round = 0; round < 10; ++round) {
    for (size_t i = 0; i < blocks.size(); i += 2) {
      A::release(blocks[i]);
      blocks[i] = A::alloc(16 + random() % 100);
    }
    operations += blocks.size();
  }
  for (void* block : blocks) A::release(block);
  operations += blocks.size();
  return seconds(start) * 1e9 / double(operations);
}

uint32_t mixedSize(std::mt19937& random) {
  uint32_t kind = random() % 100;
  if (kind < 90) return 16 + random() % 241;
  if (kind < 99) return 256 + random() % 3841;
  return 4096 + random() % 65905;
}

// Nanoseconds per operation. Every block's first bytes are written, so that
// both allocators pay for touching the memory they hand out.
template <class A>
double mixed(uint32_t operations) {
  std::mt19937 random(7);
  struct Live {
    char* block;
    uint32_t size;
  };
  std::vector<Live> live;
  live.reserve(operations / 2);
  std::clock_t start = std::clock();
  for (uint32_t i = 0; i < operations; ++i) {
    uint32_t what = random() % 4;
    if (live.empty() || what < 2) {
      uint32_t size = mixedSize(random);
      auto* block = static_cast<char*>(A::alloc(size));
      if (!block) std::abort();
      std::memset(block, int(i), 16);
      live.push_back({block, size});
    } else if (what == 2) {
      size_t k = random() % live.size();
      A::release(live[k].block);
      live[k] = live.back();
      live.pop_back();
    } else {
      // A block grows or shrinks by a factor between 1/2 and 2, as likely
      // one way as the other, so that sizes do not drift.
      Live& entry = live[random() % live.size()];
      double factor = std::exp2(double(random() % 2001) / 1000.0 - 1.0);
      uint32_t size = uint32_t(entry.size * factor);
      size = size < 16 ? 16 : size > 70000 ? 70000 : size;
      auto* block = static_cast<char*>(A::resize(entry.block, size));
      if (!block) std::abort();
      entry = {block, size};
    }
  }
  double result = seconds(start) * 1e9 / double(operations);
  for (Live& entry : live) A::release(entry.block);
  return result;
}

// Runs a workload with each allocator in turn, three times, and prints the
// median cost of each and their ratio.
template <class Workload>
void report(const char* what, Workload workload) {
  double ram[3], system[3];
  for (int i = 0; i < 3; ++i) {
    ram[i] = workload(RamAllocator());
    system[i] = workload(SystemAllocator());
  }
  std::sort(ram, ram + 3);
  std::sort(system, system + 3);
  std::printf("%-16s ramAlloc %8.1f ns/op   malloc %8.1f ns/op   ratio %5.2f\n", what, ram[1], system[1],
              ram[1] / system[1]);
  std::fflush(stdout);
}

int runOne(const char* workload, uint32_t operations, const char* allocator) {
  bool useRam = std::strcmp(allocator, "ram") == 0;
  if (!useRam && std::strcmp(allocator, "malloc") != 0) return 2;
  double cost;
  if (std::strcmp(workload, "churn") == 0) cost = useRam ? churn<RamAllocator>() : churn<SystemAllocator>();
  else if (std::strcmp(workload, "mixed") == 0)
    cost = useRam ? mixed<RamAllocator>(operations) : mixed<SystemAllocator>(operations);
  else return 2;
  std::printf("%s %u %s %.1f ns/op\n", workload, operations, allocator, cost);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4) {
    int status = runOne(argv[1], uint32_t(std::strtoul(argv[2], nullptr, 10)), argv[3]);
    if (status) std::fprintf(stderr, "usage: ram_bench churn|mixed OPERATIONS ram|malloc\n");
    return status;
  }
  report("churn 400k live", [](auto allocator) { return churn<decltype(allocator)>(); });
  for (uint32_t operations : {100000u, 400000u, 1600000u}) {
    char what[32];
    std::snprintf(what, sizeof(what), "mixed %uk", operations / 1000);
    report(what, [operations](auto allocator) { return mixed<decltype(allocator)>(operations); });
  }
  return 0;
}
