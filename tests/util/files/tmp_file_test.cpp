// The scratch store: space rules, free runs, the page cache and its spill
// files, offsets past 128 MiB, truncation and concurrent use.
#include "util/files/tmp_file.h"

#include "tests/util/test_support.h"
#include "util/containers/kv_string.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

// A keep-all error list and a scratch directory that serves as $TMPDIR, so
// that a test sees the spill files the store makes.
class TmpFileTest : public ErrorCapturingTest {
 protected:
  void SetUp() override {
    ErrorCapturingTest::SetUp();
    ASSERT_TRUE(scratch_.make("kvtmpfiletest-"));
    dir_ = scratch_.name();
    environment_.set("TMPDIR", dir_);
  }

  void TearDown() override {
    environment_.restore();
    scratch_.remove();
    ErrorCapturingTest::TearDown();
  }

  // Names of the files in the scratch directory.
  std::vector<std::string> files() const { return listing(dir_); }

  ScratchDirectory scratch_;
  EnvironmentGuard environment_;
  std::string dir_;
};

// A page-sized pattern that differs for every page number.
std::vector<unsigned char> pagePattern(uint32_t page) {
  std::vector<unsigned char> bytes(KvTmpFile::tmpPageBytes);
  for (uint32_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(page * 7 + i * 13 + (page >> 8));
  return bytes;
}

// Moves a fresh store's end offset to end (untouched by alignment).
void setEnd(KvTmpFile* store, uint32_t end) {
  uint32_t offset = 0;
  if (end > 1) {
    ASSERT_EQ(store->tmpFindSpace(end - 1, &offset), kvSuccess);
  }
  ASSERT_EQ(store->getEndOffset(), end);
}

// ---------------------------------------------------------------- space

TEST_F(TmpFileTest, ContiguousSpaceAlignsAndKeepsSmallRunsInOnePage) {
  struct Case {
    uint32_t end, size, offset, newEnd;
  } cases[] = {
      {1, 8, 4, 12},            // a new store: aligned to 4
      {2045, 8, 2048, 2056},    // rounded to 2048, the start of page 1
      {2041, 8, 2048, 2056},    // 2044 leaves 4 bytes in the page: next page
      {2040, 8, 2040, 2048},    // ends exactly at the page end
      {4000, 100, 4096, 4196},  // 96 bytes left in page 1: next page
      {5, 2048, 2048, 4096},    // a whole page starts on a page
      {2045, 3000, 2048, 5048}, // more than a page: aligned only
      {100, 0, 100, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "end " << c.end << " size " << c.size);
    KvTmpFile store;
    setEnd(&store, c.end);
    EXPECT_EQ(store.getContiguousSpace(c.size), c.offset);
    EXPECT_EQ(store.getEndOffset(), c.newEnd);
  }
}

TEST_F(TmpFileTest, SpaceRunsOutCleanlyAtFourGiB) {
  KvTmpFile store;
  uint32_t offset = 0;
  ASSERT_EQ(store.tmpFindSpace(KvTmpFile::tmpWholeSpace, &offset), kvSuccess);
  EXPECT_EQ(offset, 1u);
  EXPECT_EQ(store.getEndOffset(), 0xFFFFFFFFu);
  EXPECT_EQ(store.getContiguousSpace(8), 0u);
  EXPECT_EQ(store.tmpFindSpace(8, &offset), kvFailure);
  EXPECT_EQ(errors(), (std::vector<uint16_t>{1506, 1506}));
  EXPECT_EQ(store.getEndOffset(), 0xFFFFFFFFu);
  // Giving everything back from offset 1 on empties the store again.
  store.tmpFreeSpace(1, KvTmpFile::tmpWholeSpace);
  EXPECT_EQ(store.getEndOffset(), 1u);
}

TEST_F(TmpFileTest, FreeRunsAreReusedSplitMergedAndGiveBackTheEnd) {
  struct Run {
    uint32_t start, length;
  };
  struct Case {
    const char* what;
    std::vector<Run> frees;  // after taking 10000 bytes from offset 1
    uint32_t find;           // 0: no tmpFindSpace
    uint32_t found;
    std::vector<Run> runs;   // the free runs afterwards
    uint32_t end;
  } cases[] = {
      {"a new store hands out offset 1", {}, 10, 10001, {}, 10011},
      {"300 bytes less 100 would leave 200: the run goes whole",
       {{1000, 300}}, 100, 1000, {}, 10001},
      {"400 bytes less 100 leave a run of 300", {{1000, 400}}, 100, 1000, {{1100, 300}}, 10001},
      {"the first run that is long enough, in offset order",
       {{1000, 300}, {3000, 800}, {6000, 900}}, 500, 3000, {{1000, 300}, {3500, 300}, {6000, 900}},
       10001},
      {"no run long enough: the end", {{1000, 300}}, 400, 10001, {{1000, 300}}, 10401},
      {"a 200-byte run in the middle is lost", {{1000, 200}}, 0, 0, {}, 10001},
      {"neighbours merge", {{1000, 300}, {1600, 300}, {1300, 300}}, 0, 0, {{1000, 900}}, 10001},
      {"freeing the last bytes moves the end back", {{9001, 1000}}, 0, 0, {}, 9001},
      {"and past adjacent free runs", {{8001, 1000}, {9001, 1000}}, 0, 0, {}, 8001},
      {"a run short of 256 bytes at the end still moves it", {{9901, 100}}, 0, 0, {}, 9901},
      {"a double free is ignored", {{1000, 300}, {1100, 300}, {1000, 300}}, 0, 0, {{1000, 300}},
       10001},
      {"runs past the end or at 0 are ignored", {{9900, 500}, {0, 400}}, 0, 0, {}, 10001},
      {"everything from an offset on",
       {{1000, 300}, {5000, 400}, {4000, KvTmpFile::tmpWholeSpace}}, 0, 0, {{1000, 300}}, 4000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    KvTmpFile store;
    uint32_t offset = 0;
    ASSERT_EQ(store.tmpFindSpace(10000, &offset), kvSuccess);
    ASSERT_EQ(offset, 1u);
    for (const Run& r : c.frees) store.tmpFreeSpace(r.start, r.length);
    if (c.find) {
      ASSERT_EQ(store.tmpFindSpace(c.find, &offset), kvSuccess);
      EXPECT_EQ(offset, c.found);
    }
    ASSERT_EQ(store.getFreeRunCount(), c.runs.size());
    for (uint16_t i = 0; i < c.runs.size(); ++i) {
      EXPECT_EQ(store.getFreeRun(i)->getStart(), c.runs[i].start);
      EXPECT_EQ(store.getFreeRun(i)->getLength(), c.runs[i].length);
    }
    EXPECT_EQ(store.getEndOffset(), c.end);
  }
  EXPECT_TRUE(errors().empty());
}

// ---------------------------------------------------------------- cache and spill files

TEST_F(TmpFileTest, DataThatFitsTheCacheNeverTouchesTheDisk) {
  KvTmpFile store;  // 32768 bytes: 8 slots, 16 pages
  ASSERT_EQ(store.getSlotCount(), 8);
  for (uint32_t page = 0; page < 16; ++page)
    ASSERT_EQ(store.tmpWrite(page * 2048, pagePattern(page).data(), 2048), kvSuccess);
  for (uint32_t page = 0; page < 16; ++page) {
    std::vector<unsigned char> back(2048);
    ASSERT_EQ(store.tmpRead(page * 2048, back.data(), 2048), kvSuccess);
    EXPECT_EQ(back, pagePattern(page));
  }
  EXPECT_EQ(store.getFirstFileName(), nullptr);
  EXPECT_TRUE(files().empty());
}

TEST_F(TmpFileTest, PagesSpillToKvFilesInTmpDirAndComeBack) {
  std::string first, second;
  {
    KvTmpFile store(8192);  // 2 slots, 4 pages
    // Reading four pages never written displaces (and so writes out) the
    // four the cache holds.
    auto flush = [&] {
      unsigned char scratch[2048];
      for (uint32_t page = 64; page < 68; ++page)
        ASSERT_EQ(store.tmpRead(page * 2048, scratch, 2048), kvSuccess);
    };
    // 64 pages through 4 cache pages go to the first file; pages from
    // 16384 on, which the first file does not take, to the second.
    std::vector<uint32_t> pages;
    for (uint32_t page = 0; page < 64; ++page) pages.push_back(page);
    for (uint32_t page : pages)
      ASSERT_EQ(store.tmpWrite(page * 2048, pagePattern(page).data(), 2048), kvSuccess);
    flush();
    EXPECT_EQ(store.getFirstFilePageCount(), 64u);
    EXPECT_EQ(store.getSecondFileName(), nullptr);
    for (uint32_t page : {16384u, 16385u, 20000u}) {
      pages.push_back(page);
      ASSERT_EQ(store.tmpWrite(page * 2048, pagePattern(page).data(), 2048), kvSuccess);
    }
    flush();
    for (uint32_t page : pages) {
      SCOPED_TRACE(page);
      std::vector<unsigned char> back(2048);
      ASSERT_EQ(store.tmpRead(page * 2048, back.data(), 2048), kvSuccess);
      EXPECT_EQ(back, pagePattern(page));
    }
    ASSERT_NE(store.getFirstFileName(), nullptr);
    ASSERT_NE(store.getSecondFileName(), nullptr);
    EXPECT_EQ(store.getFirstFilePageCount(), 64u);
    first = kvC(store.getFirstFileName());
    second = kvC(store.getSecondFileName());
    EXPECT_EQ(first.compare(0, dir_.size() + 3, dir_ + "/kv"), 0) << first;
    EXPECT_EQ(second.compare(0, dir_.size() + 3, dir_ + "/kv"), 0) << second;
    // The files were unlinked when made: the directory shows none, and a
    // process killed now would leave none.
    EXPECT_TRUE(files().empty());
    const std::vector<std::string> open = openFilesIn(dir_);
    ASSERT_EQ(open.size(), 2u);
    // Pages past the first file's count lie in the second file from its
    // start: page 16384 at (16384 - 64) * 2048.
    off_t largest = 0;
    for (const std::string& link : open) {
      struct stat info;
      ASSERT_EQ(stat(link.c_str(), &info), 0);
      largest = std::max(largest, info.st_size);
    }
    EXPECT_EQ(largest, off_t(20000 - 64 + 1) * 2048);
  }
  EXPECT_TRUE(openFilesIn(dir_).empty()) << "spill files must go with the store";
  EXPECT_TRUE(errors().empty());
}

// Page numbers are 32-bit: offsets 128 MiB apart (page 0 and page 65536,
// which 16-bit page numbers fold together) and offsets near 4 GiB keep their
// own data. One slot of two pages makes every third page displace one; the
// spill files stay sparse, so the disk holds a few pages.
TEST_F(TmpFileTest, OffsetsPast128MiBKeepTheirOwnData) {
  KvTmpFile store(4096);
  ASSERT_EQ(store.getSlotCount(), 1);
  const uint32_t mib128 = 128u << 20;
  struct Piece {
    uint32_t offset;
    std::string text;
  } pieces[] = {
      {100, "page zero"},
      {mib128 + 100, "page 65536, same place in its page"},
      {mib128 - 10, "straddles the 128 MiB line"},
      {2 * mib128 + 100, "page 131072"},
      {0xFFFFFFFFu - 40, "the last bytes of the 4 GiB space"},
      {6000, "a low page again"},
  };
  for (const Piece& p : pieces)
    ASSERT_EQ(store.tmpWrite(p.offset, p.text.data(), uint32_t(p.text.size())), kvSuccess)
        << p.text;
  EXPECT_EQ(store.getEndOffset(), 0xFFFFFFFFu - 40 + uint32_t(pieces[4].text.size()));
  for (int round = 0; round < 2; ++round) {
    for (const Piece& p : pieces) {
      std::string back(p.text.size(), '\0');
      ASSERT_EQ(store.tmpRead(p.offset, &back[0], uint32_t(back.size())), kvSuccess);
      EXPECT_EQ(back, p.text) << "round " << round;
    }
  }
  // Bytes around them that were never written read as zeros.
  unsigned char zeros[50], want[50] = {0};
  ASSERT_EQ(store.tmpRead(mib128 + 1000, zeros, sizeof zeros), kvSuccess);
  EXPECT_EQ(memcmp(zeros, want, sizeof zeros), 0);
  EXPECT_TRUE(errors().empty());
}

TEST_F(TmpFileTest, TransfersPastTheSpaceAreRefused) {
  KvTmpFile store;
  unsigned char bytes[64] = {0};
  void* pointer = nullptr;
  EXPECT_EQ(store.tmpWrite(0xFFFFFFF0u, bytes, 32), kvFailure);
  EXPECT_EQ(store.tmpRead(0xFFFFFFF0u, bytes, 16), kvFailure);
  EXPECT_EQ(store.tmpPointer(0xFFFFFFFFu, &pointer, nullptr, 0), kvFailure);
  EXPECT_EQ(errors(), (std::vector<uint16_t>{1517, 1517, 1517}));
  EXPECT_EQ(store.getEndOffset(), 1u);
}

TEST_F(TmpFileTest, ReadsBeforeAnyWriteGiveZeros) {
  KvTmpFile store;
  std::vector<unsigned char> bytes(5000, 0xAA);
  ASSERT_EQ(store.tmpRead(1, bytes.data(), uint32_t(bytes.size())), kvSuccess);
  EXPECT_EQ(bytes, std::vector<unsigned char>(5000, 0));
  KvString text;
  ASSERT_EQ(store.read(100, &text, 3), kvSuccess);
  EXPECT_EQ(text.getLength(), 3u);
  EXPECT_EQ(memcmp(text.getStr(), "\0\0\0", 4), 0);
  EXPECT_TRUE(files().empty());
}

TEST_F(TmpFileTest, PointerGivesTheRestOfThePageAndMarksChanges) {
  KvTmpFile store(4096);  // one slot: the third page displaces one
  std::vector<unsigned char> page0 = pagePattern(0);
  ASSERT_EQ(store.tmpWrite(0, page0.data(), 2048), kvSuccess);
  void* pointer = nullptr;
  uint16_t available = 0;
  ASSERT_EQ(store.tmpPointer(2000, &pointer, &available, 1), kvSuccess);
  EXPECT_EQ(available, 48);
  memcpy(pointer, "marked", 6);
  ASSERT_EQ(store.tmpPointer(4096 + 10, &pointer, &available, 0), kvSuccess);
  EXPECT_EQ(available, 2038);
  memcpy(pointer, "unmarked", 8);  // on a page never marked changed
  for (uint32_t page = 3; page < 6; ++page)
    ASSERT_EQ(store.tmpWrite(page * 2048, pagePattern(page).data(), 2048), kvSuccess);
  char back[8];
  ASSERT_EQ(store.tmpRead(2000, back, 6), kvSuccess);
  EXPECT_EQ(memcmp(back, "marked", 6), 0);
  ASSERT_EQ(store.tmpRead(4096 + 10, back, 8), kvSuccess);
  EXPECT_EQ(memcmp(back, "\0\0\0\0\0\0\0\0", 8), 0) << "an unmarked page is not written out";
}

TEST_F(TmpFileTest, HugeTransfersAndStringReads) {
  KvTmpFile store;
  std::vector<unsigned char> data(200000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 31 + (i >> 9));
  ASSERT_EQ(store.writeHuge(777, data.data(), uint32_t(data.size())), kvSuccess);
  EXPECT_EQ(store.getEndOffset(), 777u + 200000u);
  std::vector<unsigned char> back(data.size());
  ASSERT_EQ(store.readHuge(777, back.data(), uint32_t(back.size())), kvSuccess);
  EXPECT_EQ(back, data);
  EXPECT_EQ(store.readHuge(5, nullptr, 0), kvSuccess);
  KvString text;
  ASSERT_EQ(store.read(777 + 1000, &text, 300), kvSuccess);
  ASSERT_EQ(text.getLength(), 300u);
  EXPECT_EQ(memcmp(text.getStr(), data.data() + 1000, 300), 0);
  EXPECT_EQ(text.getStr()[300], 0);
}

TEST_F(TmpFileTest, SpillFilesGoWhenEveryByteComesBack) {
  KvTmpFile store(4096);
  std::vector<uint32_t> pieces;
  for (uint32_t i = 0; i < 10; ++i) {
    uint32_t offset = 0;
    ASSERT_EQ(store.tmpFindSpace(4096, &offset), kvSuccess);
    ASSERT_EQ(store.tmpWrite(offset, pagePattern(i).data(), 2048), kvSuccess);
    pieces.push_back(offset);
  }
  ASSERT_EQ(openFilesIn(dir_).size(), 1u);
  // Given back out of order: the files stay while any byte is in use.
  for (size_t i = 0; i + 1 < pieces.size(); ++i) store.tmpFreeSpace(pieces[(i + 3) % pieces.size()], 4096);
  EXPECT_EQ(openFilesIn(dir_).size(), 1u);
  std::vector<unsigned char> back(2048);
  ASSERT_EQ(store.tmpRead(pieces[2], back.data(), 2048), kvSuccess);
  EXPECT_EQ(back, pagePattern(2)) << "the piece still in use reads back";
  store.tmpFreeSpace(pieces[2], 4096);
  EXPECT_EQ(store.getEndOffset(), 1u);
  EXPECT_TRUE(openFilesIn(dir_).empty());
  EXPECT_EQ(store.getFirstFileName(), nullptr);
  // The store serves again, spilling to a new file.
  for (uint32_t page = 0; page < 10; ++page)
    ASSERT_EQ(store.tmpWrite(1 + page * 2048, pagePattern(page).data(), 2048), kvSuccess);
  ASSERT_EQ(store.tmpRead(1 + 3 * 2048, back.data(), 2048), kvSuccess);
  EXPECT_EQ(back, pagePattern(3));
  EXPECT_TRUE(errors().empty());
}

TEST_F(TmpFileTest, TruncateEmpties) {
  KvTmpFile store(4096);
  for (uint32_t page = 0; page < 10; ++page)
    ASSERT_EQ(store.tmpWrite(page * 2048, pagePattern(page).data(), 2048), kvSuccess);
  ASSERT_NE(store.getFirstFileName(), nullptr);
  EXPECT_EQ(openFilesIn(dir_).size(), 1u);
  for (uint32_t page = 0; page < 10; ++page) {
    std::vector<unsigned char> back(2048);
    ASSERT_EQ(store.tmpRead(page * 2048, back.data(), 2048), kvSuccess);
    EXPECT_EQ(back, pagePattern(page)) << page;
  }
  uint32_t offset = 0;
  ASSERT_EQ(store.tmpFindSpace(500, &offset), kvSuccess);
  store.tmpFreeSpace(1000, 600);
  store.tmpTruncate();
  EXPECT_TRUE(openFilesIn(dir_).empty());
  EXPECT_EQ(store.getEndOffset(), 1u);
  EXPECT_EQ(store.getFreeRunCount(), 0);
  EXPECT_EQ(store.getFirstFileName(), nullptr);
  std::vector<unsigned char> back(2048, 0xAA);
  ASSERT_EQ(store.tmpRead(2048, back.data(), 2048), kvSuccess);
  EXPECT_EQ(back, std::vector<unsigned char>(2048, 0)) << "a truncated store is as new";
  ASSERT_EQ(store.tmpFindSpace(10, &offset), kvSuccess);
  EXPECT_EQ(offset, 1u);
  EXPECT_TRUE(errors().empty());
}

TEST_F(TmpFileTest, SpillFailureIsReportedNotLost) {
  KvTmpFile store(4096);
  setenv("TMPDIR", (dir_ + "/missing").c_str(), 1);
  ASSERT_EQ(store.tmpWrite(0, pagePattern(0).data(), 2048), kvSuccess);
  ASSERT_EQ(store.tmpWrite(2048, pagePattern(1).data(), 2048), kvSuccess);
  // The third page must displace a changed one, and no spill file can be made.
  EXPECT_EQ(store.tmpWrite(4096, pagePattern(2).data(), 2048), kvFailure);
  EXPECT_EQ(errors(), std::vector<uint16_t>{1501}) << "one message: the first file's is cleared";
  list_->clearErrors();
  // The displaced page was kept: once files can be made, nothing is lost.
  setenv("TMPDIR", dir_.c_str(), 1);
  ASSERT_EQ(store.tmpWrite(4096, pagePattern(2).data(), 2048), kvSuccess);
  for (uint32_t page = 0; page < 3; ++page) {
    std::vector<unsigned char> back(2048);
    ASSERT_EQ(store.tmpRead(page * 2048, back.data(), 2048), kvSuccess);
    EXPECT_EQ(back, pagePattern(page)) << page;
  }
}

// The store's lock: threads sharing one store through a tiny cache, so that
// nearly every operation displaces and loads pages.
TEST_F(TmpFileTest, ThreadsSharingAStoreKeepTheirData) {
  KvTmpFile store(4096);
  const int threads = 4;
  const uint32_t recordsEach = 400, recordBytes = 300;
  std::vector<uint32_t> offsets(threads * recordsEach);
  for (auto& offset : offsets) offset = store.getContiguousSpace(recordBytes);
  auto record = [&](int t, uint32_t i) {
    std::vector<unsigned char> bytes(recordBytes);
    for (uint32_t b = 0; b < recordBytes; ++b) bytes[b] = static_cast<unsigned char>(t * 61 + i * 7 + b);
    return bytes;
  };
  std::vector<int> failures(threads, 0);
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      KvErrorList list(nullptr, 1);
      KvErrorKeeper::setErrorList(&list);
      for (uint32_t i = 0; i < recordsEach; ++i) {
        auto bytes = record(t, i);
        if (store.tmpWrite(offsets[t * recordsEach + i], bytes.data(), recordBytes) != kvSuccess)
          ++failures[t];
      }
      for (uint32_t i = 0; i < recordsEach; ++i) {
        std::vector<unsigned char> back(recordBytes);
        if (store.tmpRead(offsets[t * recordsEach + i], back.data(), recordBytes) != kvSuccess ||
            back != record(t, i))
          ++failures[t];
      }
      KvErrorKeeper::giveUpErrorList();
    });
  }
  for (auto& w : workers) w.join();
  for (int t = 0; t < threads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
}

}  // namespace
