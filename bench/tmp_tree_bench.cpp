// Inserts 1,000,000 random keys into a KvTree and reports the time, then
// looks every key up and walks the tree once. The tree's store keeps a
// 32 KB page cache, so most of the tree lives in its spill files.
//
//   tmp_tree_bench [keys]
#include "util/error_list.h"
#include "util/containers/tree.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t count = argc > 1 ? static_cast<uint32_t>(strtoul(argv[1], nullptr, 10)) : 1000000;
  KvErrorList errors(nullptr, 1);
  KvErrorKeeper::setErrorList(&errors);

  std::mt19937 random(20240601);
  std::vector<uint32_t> keys(count);
  for (auto& key : keys) key = random();

  // A record-number index as the change log keeps one: 4-byte keys, 4-byte
  // data, deletion marks.
  KvTree tree(4, 4, treeU32Compare, 1);
  uint32_t duplicates = 0, found = 0;
  auto start = std::chrono::steady_clock::now();
  for (uint32_t i = 0; i < count; ++i) {
    if (tree.add(&keys[i], &i, &found) != kvSuccess) {
      fprintf(stderr, "add failed at key %u\n", i);
      return 1;
    }
    duplicates += found;
  }
  double insertSeconds = secondsSince(start);

  start = std::chrono::steady_clock::now();
  uint32_t missing = 0;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t data = 0;
    if (tree.getData(&keys[i], &data, &found) != kvSuccess) return 1;
    missing += !found;
  }
  double lookupSeconds = secondsSince(start);

  start = std::chrono::steady_clock::now();
  uint32_t walked = 0, key = 0, data = 0;
  KvStatus stepped = tree.getFirst(&key, &data, &found, nullptr);
  for (; stepped == kvSuccess && found; stepped = tree.getNext(&key, &data, &found, nullptr)) ++walked;
  if (stepped != kvSuccess) return 1;
  double walkSeconds = secondsSince(start);

  printf("keys inserted:   %u (%u duplicates) in %.3f s, %.0f ns a key\n", count, duplicates,
         insertSeconds, insertSeconds * 1e9 / (count ? count : 1));
  printf("keys looked up:  %u (%u missing) in %.3f s, %.0f ns a key\n", count, missing,
         lookupSeconds, lookupSeconds * 1e9 / (count ? count : 1));
  printf("walk in order:   %u keys in %.3f s\n", walked, walkSeconds);
  printf("tree:            depth %u, %u nodes of %u bytes, store %.1f MB\n",
         tree.getDeepestSearch(), tree.getNodesMade(), tree.getNodeSize(),
         tree.getStore()->getEndOffset() / 1048576.0);
  KvErrorKeeper::giveUpErrorList();
  return missing || walked != tree.getKeyCount() ? 1 : 0;
}
