// The block cache. What the cache holds is seen from outside: a second
// handle changes the file behind the cache's back, and a read through the
// cache that still returns the old bytes was served from a cached page.
#include "util/files/block_cache.h"

#include "tests/util/test_support.h"
#include "util/os/bos.h"
#include "util/os/zizdata.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint32_t page = bvmPageBytes;

// The byte at offset of a fresh file: differs from page to page and within.
unsigned char pattern(uint64_t offset) { return static_cast<unsigned char>((offset * 7 + offset / page) % 251); }

// Files in a scratch directory; the cache and the files a test opened go
// afterwards.
class BlockCacheTest : public ErrorCapturingTest {
 protected:
  void SetUp() override {
    ErrorCapturingTest::SetUp();
    ASSERT_TRUE(scratch_.make("kvbvm"));
  }
  void TearDown() override {
    for (int file : files_) EXPECT_EQ(bosFileClose(file), kvSuccess);
    while (cache_) release();
    ErrorCapturingTest::TearDown();
    scratch_.remove();
  }

  // A file of size bytes in the pattern, opened twice: through the cache
  // (data) and behind it (side).
  void makeFile(const char* name, uint64_t size) {
    std::string path = scratch_.path(name);
    std::vector<unsigned char> bytes(size);
    for (uint64_t i = 0; i < size; ++i) bytes[i] = pattern(i);
    unsigned char buffer[bosPathBytes];
    std::strcpy(kvC(buffer), path.c_str());
    ASSERT_EQ(bosFileOpen(buffer, bosOpenCreate | bosOpenReadWrite, &data_), kvSuccess);
    ASSERT_EQ(bosFileWrite(data_, 0, bytes.data(), uint32_t(size)), kvSuccess);
    std::strcpy(kvC(buffer), path.c_str());
    ASSERT_EQ(bosFileOpen(buffer, bosOpenReadWrite, &side_), kvSuccess);
    files_.push_back(data_);
    files_.push_back(side_);
  }
  void init(uint16_t chunks) {
    cache_ = bvmInit(chunks);
    ASSERT_NE(cache_, nullptr);
    ++users_;
  }
  void release() {
    bvmTerm(cache_);
    if (--users_ == 0) cache_ = nullptr;
  }
  // Reads through the cache; the bytes read.
  std::vector<unsigned char> read(int64_t offset, uint32_t length, int hint = 0) {
    std::vector<unsigned char> out(length);
    uint32_t got = 0;
    EXPECT_EQ(bvmFileRead(cache_, data_, offset, out.data(), length, &got, hint), kvSuccess);
    out.resize(got);
    return out;
  }
  // Overwrites one byte behind the cache.
  void changeBehind(uint64_t offset, unsigned char value) {
    ASSERT_EQ(bosFileWrite(side_, int64_t(offset), &value, 1), kvSuccess);
  }
  // Whether the page is cached: its first byte is changed behind the cache
  // and read through it with hint 1 (a full cache loads nothing); a cached
  // page still shows the old byte. The byte is then written back through the
  // cache, so file and cache agree again.
  bool isCached(uint32_t pageNo) {
    int64_t offset = int64_t(pageNo) * page;
    unsigned char original = 0;
    uint32_t n = 0;
    EXPECT_EQ(bosFileRead(side_, offset, &original, 1, &n), kvSuccess);
    EXPECT_EQ(n, 1u);
    changeBehind(uint64_t(offset), static_cast<unsigned char>(original ^ 0xFF));
    std::vector<unsigned char> got = read(offset, 1, 1);
    EXPECT_EQ(bvmFileWrite(cache_, data_, offset, &original, 1), kvSuccess);
    return !got.empty() && got[0] == original;
  }

  ScratchDirectory scratch_;
  BvmCache* cache_ = nullptr;
  int users_ = 0;
  int data_ = 0;
  int side_ = 0;
  std::vector<int> files_;
};

TEST(BlockCacheSize, CacheSizeOptionGivesChunks) {
  const struct {
    uint32_t cacheSize;
    uint16_t chunks;
  } cases[] = {{0, 0}, {4, 4}, {63, 63}, {64, 1}, {127, 1}, {128, 2}, {8191 * 64, 8191}, {4194304, 8191}};
  for (const auto& c : cases) EXPECT_EQ(bvmChunksForCacheSize(c.cacheSize), c.chunks) << c.cacheSize;
}

TEST_F(BlockCacheTest, OneCacheIsSharedAndCounted) {
  init(2);
  BvmCache* first = cache_;
  init(40);  // a size is taken only when the cache is made
  EXPECT_EQ(cache_, first);
  EXPECT_EQ(mdsGetZizTaskData(zizTaskBlockCache), first);
  release();
  EXPECT_EQ(mdsGetZizTaskData(zizTaskBlockCache), first);
  release();
  EXPECT_EQ(mdsGetZizTaskData(zizTaskBlockCache), nullptr);
}

TEST_F(BlockCacheTest, ReadsSpanPagesAndStopAtTheEnd) {
  makeFile("t.dat", 20000);
  init(4);
  std::vector<unsigned char> got = read(8000, 10000);
  ASSERT_EQ(got.size(), 10000u);
  for (uint32_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], pattern(8000 + i)) << i;
  // Pages 0, 1 and 2 were each loaded whole.
  EXPECT_TRUE(isCached(0));
  EXPECT_TRUE(isCached(1));
  EXPECT_TRUE(isCached(2));
  // The end of the file: the bytes that exist.
  got = read(15000, 10000);
  ASSERT_EQ(got.size(), 5000u);
  EXPECT_EQ(got[4999], pattern(19999));
  EXPECT_TRUE(read(30000, 10).empty());
  EXPECT_EQ(list_->getCount(), 0u);
}

TEST_F(BlockCacheTest, AtTheLimitTheLeastRecentlyUsedPageMakesRoom) {
  makeFile("t.dat", 12 * page);
  init(1);  // eight pages
  for (uint32_t p = 0; p < 8; ++p) read(int64_t(p) * page, 1);
  read(0, 1);  // page 0 is now the most recent; page 1 the least
  read(8 * page, 1);
  EXPECT_TRUE(isCached(0));
  EXPECT_FALSE(isCached(1));
  EXPECT_TRUE(isCached(8));
}

TEST_F(BlockCacheTest, HintOneLeavesAFullCacheAlone) {
  makeFile("t.dat", 12 * page);
  init(1);
  for (uint32_t p = 0; p < 8; ++p) read(int64_t(p) * page, 1);
  std::vector<unsigned char> got = read(9 * page + 5, 3, 1);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0], pattern(9 * page + 5));
  for (uint32_t p = 0; p < 8; ++p) EXPECT_TRUE(isCached(p)) << p;
  EXPECT_FALSE(isCached(9));
}

TEST_F(BlockCacheTest, WritesGoThroughAndNeverLoadPages) {
  makeFile("t.dat", 12 * page);
  init(1);
  for (uint32_t p = 0; p < 8; ++p) read(int64_t(p) * page, 1);
  // Across the end of page 3 into page 4, both cached.
  const unsigned char text[] = "written through";
  ASSERT_EQ(bvmFileWrite(cache_, data_, 4 * page - 5, text, sizeof(text)), kvSuccess);
  unsigned char onDisk[sizeof(text)];
  uint32_t got = 0;
  ASSERT_EQ(bosFileRead(side_, 4 * page - 5, onDisk, sizeof(onDisk), &got), kvSuccess);
  EXPECT_EQ(std::memcmp(onDisk, text, sizeof(text)), 0);
  std::vector<unsigned char> cached = read(4 * page - 5, sizeof(text));
  EXPECT_EQ(std::memcmp(cached.data(), text, sizeof(text)), 0);
  // A page that is not cached stays uncached: loading it would have evicted one.
  ASSERT_EQ(bvmFileWrite(cache_, data_, 10 * page, text, sizeof(text)), kvSuccess);
  for (uint32_t p = 0; p < 8; ++p) EXPECT_TRUE(isCached(p)) << p;
  EXPECT_FALSE(isCached(10));
}

TEST_F(BlockCacheTest, FlushAndCloseDropPages) {
  makeFile("t.dat", 3 * page);
  init(1);
  read(0, 3 * page);
  ASSERT_TRUE(isCached(1));
  EXPECT_EQ(bvmFlush(cache_, data_), kvSuccess);
  EXPECT_FALSE(isCached(1));
  EXPECT_EQ(bvmFileClose(cache_, 0), kvSuccess);
  EXPECT_EQ(bvmFileClose(cache_, data_), kvSuccess);
  files_.erase(files_.begin());
  uint32_t got = 0;
  unsigned char byte;
  EXPECT_EQ(bosFileRead(data_, 0, &byte, 1, &got), kvFailure);  // closed
}

TEST_F(BlockCacheTest, APageLockedByAnotherHandleIsReadFromTheFile) {
  makeFile("t.dat", 2 * page);
  init(1);
  ASSERT_EQ(bosRegionLock(side_, 0, 100, 10), kvSuccess);
  std::vector<unsigned char> got = read(0, 200);
  ASSERT_EQ(got.size(), 200u);
  EXPECT_EQ(got[150], pattern(150));
  EXPECT_EQ(list_->getCount(), 0u);
  ASSERT_EQ(bosRegionLock(side_, 1, 100, 10), kvSuccess);
  EXPECT_FALSE(isCached(0));
  read(0, 1);
  EXPECT_TRUE(isCached(0));  // unlocked, the page is cached again
}

TEST_F(BlockCacheTest, PagesPast512MiBAndPast4GiBKeepTheirOwnBytes) {
  makeFile("sparse.dat", page);
  init(1);
  const int64_t offsets[] = {int64_t(65536) * page, int64_t(65537) * page, (int64_t(1) << 32) + 3 * page};
  unsigned char marks[] = {0x11, 0x22, 0x33};
  for (int i = 0; i < 3; ++i) ASSERT_EQ(bosFileWrite(side_, offsets[i], &marks[i], 1), kvSuccess);
  EXPECT_EQ(read(0, 1)[0], pattern(0));
  for (int i = 0; i < 3; ++i) {
    std::vector<unsigned char> got = read(offsets[i], 1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], marks[i]) << offsets[i];
  }
  EXPECT_EQ(read(0, 1)[0], pattern(0));
  EXPECT_EQ(read(page, 1)[0], 0);  // the hole after the first page
}

TEST_F(BlockCacheTest, AWriteBehindAPagesEndLeavesZerosInTheGap) {
  // A page buffer that held other bytes before: the first file's page is
  // dropped and its buffer serves the short file next.
  makeFile("full.dat", page);
  init(1);
  read(0, page);
  EXPECT_EQ(bvmFlush(cache_, data_), kvSuccess);
  makeFile("short.dat", 100);
  read(0, 100);  // cached with 100 valid bytes
  const unsigned char tail[] = {1, 2, 3, 4};
  ASSERT_EQ(bvmFileWrite(cache_, data_, 200, tail, sizeof(tail)), kvSuccess);
  std::vector<unsigned char> got = read(0, 204);
  ASSERT_EQ(got.size(), 204u);
  std::vector<unsigned char> onDisk(204);
  uint32_t n = 0;
  ASSERT_EQ(bosFileRead(side_, 0, onDisk.data(), 204, &n), kvSuccess);
  ASSERT_EQ(n, 204u);
  EXPECT_EQ(got, onDisk);
  for (uint32_t i = 100; i < 200; ++i) ASSERT_EQ(got[i], 0) << i;
}

TEST_F(BlockCacheTest, BadOffsetsAreRefused) {
  makeFile("t.dat", 100);
  init(1);
  unsigned char buffer[4];
  uint32_t got = 7;
  EXPECT_EQ(bvmFileRead(cache_, data_, -1, buffer, 4, &got, 0), kvFailure);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(KvErrorKeeper::getLastErrorNumber(), 1517);
  EXPECT_EQ(bvmFileWrite(cache_, data_, -8192, buffer, 4), kvFailure);
  const int64_t beyond = (int64_t(1) << 32) * page;
  EXPECT_EQ(bvmFileRead(cache_, data_, beyond, buffer, 4, &got, 0), kvFailure);
}

TEST_F(BlockCacheTest, ACacheOfNoPagesReadsAndWritesTheFile) {
  makeFile("t.dat", 2 * page);
  init(0);
  EXPECT_EQ(read(page + 1, 2)[1], pattern(page + 2));
  EXPECT_FALSE(isCached(1));
  const unsigned char byte = 0xAB;
  ASSERT_EQ(bvmFileWrite(cache_, data_, 5, &byte, 1), kvSuccess);
  EXPECT_EQ(read(5, 1)[0], 0xAB);
}

}  // namespace
