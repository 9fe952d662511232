// The sub-allocator against malloc on a churn of small blocks: 200,000 live
// blocks of 16 to 115 bytes, then ten rounds that free every other block and
// allocate a new one in its place. Prints the seconds each took.
#include "util/ram.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

template <class Alloc, class Free>
double churn(Alloc alloc, Free release) {
  std::mt19937 random(1);
  std::vector<void*> blocks(200000);
  auto start = std::chrono::steady_clock::now();
  for (void*& block : blocks) block = alloc(16 + random() % 100);
  for (int round = 0; round < 10; ++round) {
    for (size_t i = 0; i < blocks.size(); i += 2) {
      release(blocks[i]);
      blocks[i] = alloc(16 + random() % 100);
    }
  }
  for (void* block : blocks) release(block);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
  double ram = churn([](size_t n) { return ramAlloc(uint32_t(n)); }, [](void* p) { ramFree(p); });
  double system = churn([](size_t n) { return std::malloc(n); }, [](void* p) { std::free(p); });
  std::printf("ramAlloc/ramFree %.3f s, malloc/free %.3f s, ratio %.2f\n", ram, system, ram / system);
  return 0;
}
