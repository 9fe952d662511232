// Sub-allocator: block sizes, splitting, lazy merging, segment life,
// in-place resizing, failures and concurrent use.
#include "util/memory/ram.h"

#include "tests/util/test_support.h"
#include "util/os/zizdata.h"

#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

// Small segments make the layout of one segment easy to reason about; the
// error list is made under them too, and limits come back after it goes.
class RamTest : public ErrorCapturingTest {
 protected:
  void SetUp() override {
    saved_ = ramGetLimits();
    ramSetLimits({480, 0, 1});
    ErrorCapturingTest::SetUp();
  }
  void TearDown() override {
    ErrorCapturingTest::TearDown();
    ramSetLimits(saved_);
  }
  RamLimits saved_;
};

TEST_F(RamTest, BlockSizesAndRequestedSizes) {
  uint32_t baseline = ramGetStats().liveBlocks;
  struct Case {
    uint32_t request, block;
  } cases[] = {{0, 32}, {1, 32}, {5, 32}, {16, 32}, {17, 48}, {100, 128}, {464, 480}};
  for (const Case& c : cases) {
    void* p = ramAlloc(c.request);
    ASSERT_NE(p, nullptr) << c.request;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u) << c.request;
    EXPECT_EQ(ramSize(p), c.request);
    // A block is taken whole when the rest could not form a block, so it
    // can only be larger than the computed size by less than a block.
    EXPECT_GE(ramBlockSize(p), c.block) << c.request;
    EXPECT_LT(ramBlockSize(p), c.block + ramMinBlockBytes) << c.request;
    std::memset(p, 0xAB, c.request);
    ramFree(p);
  }
  EXPECT_EQ(ramGetStats().liveBlocks, baseline);
}

TEST_F(RamTest, SplitsOnlyWhenTheRestCanFormABlock) {
  // A fresh 480-byte segment: a 448-byte block leaves 32 (split); a 464-byte
  // block would leave 16, so the whole 480 bytes are taken and the extra
  // bytes count as slack.
  void* keep = ramAlloc(1000);  // a segment of its own keeps the others apart
  void* a = ramAlloc(432);
  ASSERT_EQ(ramBlockSize(a), 448u);
  EXPECT_EQ(ramSegmentFreeBlocks(ramSegmentOf(a)), 1u);
  void* b = ramAlloc(440);
  ASSERT_NE(ramSegmentOf(b), ramSegmentOf(a));
  EXPECT_EQ(ramBlockSize(b), 480u);
  EXPECT_EQ(ramSize(b), 440u);
  EXPECT_EQ(ramSegmentFreeBlocks(ramSegmentOf(b)), 0u);
  ramFree(a);
  ramFree(b);
  ramFree(keep);
}

TEST_F(RamTest, AdjacentFreeBlocksServeALargerRequest) {
  ramSetLimits({4096, 0, 1});  // a fresh segment with room for all three
  void* a = ramAlloc(100);  // 128
  void* b = ramAlloc(100);  // 128, directly behind a
  void* c = ramAlloc(100);  // keeps the segment alive
  ASSERT_EQ(static_cast<char*>(b) - static_cast<char*>(a), 128);
  ramFree(b);
  ramFree(a);  // a heads the free list and is the rover
  void* merged = ramAlloc(200);  // needs 224: a and b together
  EXPECT_EQ(merged, a);
  ramFree(merged);
  ramFree(c);
}

// A freed block merges at once with a free block on either side, whatever
// the order of the frees, so a run of freed blocks serves a request of their
// joint size in place.
TEST_F(RamTest, FreedBlocksMergeWithFreeNeighboursOnBothSides) {
  const int orders[][3] = {{0, 1, 2}, {2, 1, 0}, {1, 0, 2}, {0, 2, 1}, {1, 2, 0}, {2, 0, 1}};
  for (const auto& order : orders) {
    std::string what = std::to_string(order[0]) + std::to_string(order[1]) + std::to_string(order[2]);
    ramSetLimits({4096, 0, 1});  // a fresh segment of its own for each order
    void* run[3];
    for (void*& p : run) p = ramAlloc(100);  // 128 bytes each, side by side
    void* keep = ramAlloc(100);
    const void* segment = ramSegmentOf(run[0]);
    ASSERT_EQ(static_cast<char*>(run[2]) - static_cast<char*>(run[0]), 256) << what;
    ASSERT_EQ(static_cast<char*>(keep) - static_cast<char*>(run[2]), 128) << what;
    for (int k : order) ramFree(run[k]);
    // The run of three and the rest of the segment behind keep.
    EXPECT_EQ(ramSegmentFreeBlocks(segment), 2u) << what;
    void* joined = ramAlloc(3 * 128 - 16);
    EXPECT_EQ(joined, run[0]) << what;
    EXPECT_EQ(ramBlockSize(joined), 384u) << what;
    ramFree(joined);
    ramFree(keep);
  }
}

// A free block whose size lies inside the size class of a request, but not
// at its start, still serves the request before a new segment is made.
TEST_F(RamTest, ABlockOfTheRequestsOwnSizeClassIsFound) {
  ramSetLimits({4096, 0, 1});
  void* before = ramAlloc(16);
  void* x = ramAlloc(528);  // a 544-byte block: between two size-class starts
  void* behind = ramAlloc(16);
  void* rest = ramAlloc(4096 - 32 - 544 - 32 - 16);  // fills the segment
  ASSERT_EQ(ramSegmentOf(rest), ramSegmentOf(x));
  ASSERT_EQ(ramSegmentFreeBlocks(ramSegmentOf(x)), 0u);
  ramFree(x);
  uint32_t segments = ramGetStats().segments;
  void* again = ramAlloc(528);
  EXPECT_EQ(again, x);
  EXPECT_EQ(ramGetStats().segments, segments);
  for (void* p : {again, before, behind, rest}) ramFree(p);
}

// Random allocations, frees and resizes of blocks from 0 bytes to beyond a
// segment keep every block's bytes, and leave the allocator as they found
// it.
TEST_F(RamTest, RandomWorkKeepsEveryBlocksBytes) {
  const uint32_t segmentSizes[] = {480, 4096, ramDefaultLimits.minSegmentBytes};
  for (uint32_t segmentBytes : segmentSizes) {
    ramSetLimits({segmentBytes, 0, 1});
    RamStats before = ramGetStats();
    std::mt19937 random(segmentBytes);
    struct Live {
      unsigned char* block;
      uint32_t size;
      unsigned char fill;
    };
    std::vector<Live> live;
    auto check = [&](const Live& entry) {
      for (uint32_t j = 0; j < entry.size; ++j)
        if (entry.block[j] != entry.fill) return false;
      return true;
    };
    auto size = [&] {
      uint32_t kind = random() % 20;
      return kind < 16 ? random() % 200 : kind < 19 ? random() % 3000 : random() % 100000;
    };
    for (int i = 0; i < 20000; ++i) {
      uint32_t what = random() % 4;
      if (live.empty() || what < 2) {
        uint32_t n = size();
        auto* p = static_cast<unsigned char*>(ramAlloc(n));
        ASSERT_NE(p, nullptr);
        auto fill = static_cast<unsigned char>(i);
        std::memset(p, fill, n);
        live.push_back({p, n, fill});
      } else if (what == 2) {
        size_t k = random() % live.size();
        ASSERT_TRUE(check(live[k])) << segmentBytes << " " << i;
        ramFree(live[k].block);
        live[k] = live.back();
        live.pop_back();
      } else {
        Live& entry = live[random() % live.size()];
        ASSERT_TRUE(check(entry)) << segmentBytes << " " << i;
        uint32_t n = size();
        void* p = entry.block;
        ASSERT_EQ(ramResize(&p, n), kvSuccess);
        entry.block = static_cast<unsigned char*>(p);
        EXPECT_EQ(ramSize(p), n);
        if (n > entry.size) std::memset(entry.block + entry.size, entry.fill, n - entry.size);
        entry.size = n;
      }
    }
    for (const Live& entry : live) {
      EXPECT_TRUE(check(entry)) << segmentBytes;
      ramFree(entry.block);
    }
    RamStats after = ramGetStats();
    EXPECT_EQ(after.liveBlocks, before.liveBlocks) << segmentBytes;
    EXPECT_EQ(after.segments, before.segments) << segmentBytes;
    EXPECT_EQ(after.systemBytes, before.systemBytes) << segmentBytes;
  }
}

TEST_F(RamTest, SegmentGoesBackWithItsLastBlock) {
  void* first = ramAlloc(400);
  const void* firstSegment = ramSegmentOf(first);
  void* second = ramAlloc(400);  // does not fit beside the first: new segment
  const void* secondSegment = ramSegmentOf(second);
  ASSERT_NE(firstSegment, nullptr);
  ASSERT_NE(secondSegment, firstSegment);
  uint32_t segments = ramGetStats().segments;
  ramFree(first);
  EXPECT_EQ(ramGetStats().segments, segments - 1);
  EXPECT_EQ(ramSegmentOf(second), secondSegment);
  void* third = ramAlloc(400);  // a fresh segment again
  EXPECT_EQ(ramGetStats().segments, segments);
  ramFree(second);
  ramFree(third);
  EXPECT_EQ(ramGetStats().segments, segments - 2);
}

TEST_F(RamTest, ResizeShrinksInPlaceGrowsIntoFreeNeighbourElseMoves) {
  void* a = ramAlloc(200);
  std::memset(a, 7, 200);
  void* before = a;
  ASSERT_EQ(ramResize(&a, 50), kvSuccess);
  EXPECT_EQ(a, before);
  EXPECT_EQ(ramSize(a), 50u);
  ASSERT_EQ(ramResize(&a, 180), kvSuccess);  // the split-off tail is free behind it
  EXPECT_EQ(a, before);
  void* wall = ramAlloc(8);  // whatever follows a is now taken
  (void)wall;
  void* b = ramAlloc(100);
  std::memset(b, 9, 100);
  ASSERT_EQ(ramResize(&b, 4000), kvSuccess);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(static_cast<unsigned char*>(b)[i], 9);
  EXPECT_EQ(ramSize(b), 4000u);
  ramFree(a);
  ramFree(b);
  ramFree(wall);
}

TEST_F(RamTest, ResizeZClearsTheGrowth) {
  void* p = ramAlloc(10);
  std::memset(p, 0xFF, 10);
  ASSERT_EQ(ramResizeZ(&p, 300), kvSuccess);
  auto* bytes = static_cast<unsigned char*>(p);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(bytes[i], 0xFF);
  for (int i = 10; i < 300; ++i) ASSERT_EQ(bytes[i], 0) << i;
  ramFree(p);
}

#if defined(__SANITIZE_ADDRESS__)
// Under AddressSanitizer a freed block is poisoned behind its header and
// links, so a use of a freed object is reported; taking it again (whole or
// split) and growing into it make the bytes usable again.
TEST_F(RamTest, FreedBlocksArePoisonedUnderAddressSanitizer) {
  ramSetLimits({4096, 0, 1});  // a fresh segment with room for both
  auto* p = static_cast<char*>(ramAlloc(200));
  void* keep = ramAlloc(16);  // keeps the segment when p goes
  ASSERT_EQ(ramSegmentOf(keep), ramSegmentOf(p));
  ramFree(p);
  EXPECT_EQ(__asan_region_is_poisoned(p, 16), nullptr) << "the free-list links stay readable";
  EXPECT_EQ(__asan_region_is_poisoned(p + 16, 184), p + 16);
  auto* q = static_cast<char*>(ramAlloc(40));
  ASSERT_EQ(q, p) << "the freed block serves the next request";
  EXPECT_EQ(__asan_region_is_poisoned(q, 40), nullptr);
  EXPECT_NE(__asan_region_is_poisoned(q + 64, 100), nullptr) << "the split-off rest is free again";
  void* grown = q;
  ASSERT_EQ(ramResize(&grown, 180), kvSuccess);
  ASSERT_EQ(grown, q) << "grown into its free neighbour";
  EXPECT_EQ(__asan_region_is_poisoned(q, 180), nullptr);
  ramFree(grown);
  ramFree(keep);
}
#endif

TEST_F(RamTest, FailureGivesNullAndTheMemoryError) {
  ramSetLimits({480, ramGetStats().systemBytes + 1000, 1});
  std::vector<void*> blocks;
  void* p;
  while ((p = ramAlloc(400)) != nullptr) blocks.push_back(p);
  EXPECT_TRUE(list_->isOutOfMemory());
  KvError* error = list_->removeFirstError();
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->getNumber(), 30190);
  EXPECT_STREQ(kvC(error->getErrorText()), "Out Of Memory");
  EXPECT_EQ(list_->removeFirstError(), nullptr);
  // A failed move keeps the old block.
  void* keep = ramAlloc(16);
  if (keep) {
    std::memcpy(keep, "0123456789abcde", 16);
    EXPECT_EQ(ramResize(&keep, 100000), kvFailure);
    EXPECT_STREQ(static_cast<char*>(keep), "0123456789abcde");
    ramFree(keep);
  }
  for (void* b : blocks) ramFree(b);
  EXPECT_EQ(ramAllocHuge(1u << 20), nullptr);
}

TEST_F(RamTest, RequestsTooLargeForABlockNeverWrap) {
  const uint32_t big = (1u << 24) + 100;  // past the 24-bit size field
  void* p = ramAlloc(big);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(ramSize(p), big);
  std::memset(p, 1, big);
  void* small = ramAlloc(100);
  ASSERT_NE(small, nullptr);
  EXPECT_NE(small, p);
  ASSERT_EQ(ramResize(&p, big - 50), kvSuccess);  // shrinking does not move
  EXPECT_EQ(ramSize(p), big - 50);
  ramFree(p);
  ramFree(small);
  EXPECT_EQ(ramGetStats().systemBlocks, 0u);

  ramSetLimits({480, ramGetStats().systemBytes + (1u << 20), 1});
  EXPECT_EQ(ramAlloc(big), nullptr);
  KvError* error = list_->removeFirstError();
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->getNumber(), 30190);
}

TEST_F(RamTest, ForeignAndNullPointersAreIgnored) {
  int onStack = 0;
  void* fromMalloc = std::malloc(64);
  RamStats before = ramGetStats();
  ramFree(nullptr);
  ramFree(&onStack);
  ramFree(fromMalloc);
  ramSetLimits({4096, 0, 1});  // p starts a fresh segment: no free block before it
  void* p = ramAlloc(64);
  ramFree(static_cast<char*>(p) + 16);  // inside a block, not its start
  EXPECT_EQ(ramGetStats().liveBlocks, before.liveBlocks + 1);
  void* beside = ramAlloc(64);
  ramFree(p);
  ramFree(p);  // a block already free, merged with nothing yet
  ramFree(beside);
  ramFree(p);  // a block merged into a free neighbour
  std::free(fromMalloc);
  EXPECT_EQ(ramGetStats().liveBlocks, before.liveBlocks);
}

TEST_F(RamTest, StringCopies) {
  unsigned char* whole = ramAllocStr(kvU("hello"));
  EXPECT_STREQ(kvC(whole), "hello");
  EXPECT_EQ(ramSize(whole), 6u);
  unsigned char* counted = ramAllocStr(kvU("hello world"), 5);
  EXPECT_STREQ(kvC(counted), "hello");
  ramFree(whole);
  ramFree(counted);
}

TEST_F(RamTest, HugeBlocks) {
  void* p = ramAlloc64K();
  ASSERT_NE(p, nullptr);
  std::memset(p, 3, 65536);
  ASSERT_EQ(ramResizeHuge(&p, 200000), kvSuccess);
  EXPECT_EQ(static_cast<unsigned char*>(p)[65535], 3);
  ramFreeHuge(p);
  ramFree64K(nullptr);
  EXPECT_NE(ramIsAllocOK(), 0);
  ramSetLimits({480, ramGetStats().systemBytes + 100000, 1});
  EXPECT_EQ(ramIsAllocOK(), 0);
}

TEST(RamTask, FreeAfterTheLastTaskTermIsSafe) {
  mdsZizTaskInit();
  void* p = ramAlloc(100);
  mdsZizTaskTerm();
  ramFree(p);
  void* q = ramAlloc(100);
  EXPECT_NE(q, nullptr);
  ramFree(q);
}

TEST(RamThreads, ConcurrentAllocationsKeepTheirContents) {
  auto work = [](unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::pair<unsigned char*, uint32_t>> live;
    for (int i = 0; i < 20000; ++i) {
      if (live.size() < 200 && (random() % 3 != 0 || live.empty())) {
        uint32_t size = random() % 300;
        auto* p = static_cast<unsigned char*>(ramAlloc(size));
        ASSERT_NE(p, nullptr);
        std::memset(p, int(seed), size);
        live.push_back({p, size});
      } else {
        size_t k = random() % live.size();
        for (uint32_t j = 0; j < live[k].second; ++j) ASSERT_EQ(live[k].first[j], seed & 0xFF);
        ramFree(live[k].first);
        live.erase(live.begin() + long(k));
      }
    }
    for (auto& b : live) ramFree(b.first);
  };
  ramFree(ramAlloc(1));  // the allocator's lock exists from here on
  uint32_t baseline = ramGetStats().liveBlocks;
  std::vector<std::thread> threads;
  for (unsigned t = 1; t <= 4; ++t) threads.emplace_back(work, t);
  for (auto& t : threads) t.join();
  EXPECT_EQ(ramGetStats().liveBlocks, baseline);
}

}  // namespace
