// Region locks: Windows rules (no merging, no nesting, exact unlocks) on
// open-file-description locks, between handles of one process and against
// another process, and the probe that stands in for mandatory locks.
#include "tests/util/bos_test_support.h"

namespace {

class BosLockTest : public BosTest {
 protected:
  void SetUp() override {
    BosTest::SetUp();
    writeFile(path("table.dbf"), std::string(64, '.'));
  }
  int openTable(uint32_t flags = bosOpenReadWrite) {
    PathBuffer name(path("table.dbf"));
    int file = -1;
    EXPECT_EQ(bosFileOpen(name, flags, &file), kvSuccess);
    return file;
  }
  // 1 when another handle holds some byte of the range.
  int lockedByOther(int file, uint32_t offset, uint32_t length) {
    int locked = -1;
    EXPECT_EQ(bosRegionTest(file, offset, length, &locked), kvSuccess);
    return locked;
  }
};

TEST_F(BosLockTest, LocksNeitherMergeNorNestAndUnlockExactly) {
  int file = openTable();
  int other = openTable();
  struct Step {
    uint16_t unlock;
    uint32_t offset, length;
    uint16_t message;  // 0: success
  };
  const Step steps[] = {
      {0, 10, 10, 0},
      {0, 10, 10, 1512},  // the same range again
      {0, 15, 10, 1512},  // overlapping a held range
      {0, 5, 6, 1512},
      {0, 20, 5, 0},      // adjacent: a range of its own
      {1, 10, 15, 1513},  // the two ranges together were never locked as one
      {1, 12, 3, 1513},   // part of a range
      {1, 40, 2, 1513},   // never locked
      {1, 10, 10, 0},
      {1, 10, 10, 1513},  // already unlocked
      {0, 10, 10, 0},
  };
  for (const Step& step : steps) {
    clearErrors();
    KvStatus status = bosRegionLock(file, step.unlock, step.offset, step.length);
    EXPECT_EQ(status, step.message ? kvFailure : kvSuccess) << step.unlock << " " << step.offset;
    EXPECT_EQ(errors(), step.message ? std::vector<uint16_t>{step.message} : std::vector<uint16_t>{})
        << step.unlock << " " << step.offset;
  }
  // The refused unlocks punched no hole: every byte is still held.
  for (uint32_t offset : {10u, 12u, 14u, 19u, 20u, 24u}) {
    EXPECT_EQ(lockedByOther(other, offset, 1), 1) << offset;
  }
  EXPECT_EQ(lockedByOther(other, 25, 10), 0);
  EXPECT_EQ(bosFileClose(file), kvSuccess);
  EXPECT_EQ(bosFileClose(other), kvSuccess);
}

TEST_F(BosLockTest, TwoHandlesOfOneProcessExcludeEachOther) {
  int first = openTable();
  int second = openTable();
  ASSERT_EQ(bosRegionLock(first, 0, 100, 10), kvSuccess);
  EXPECT_EQ(bosRegionLock(second, 0, 105, 1), kvFailure);
  EXPECT_EQ(bosRegionLock(second, 0, 110, 5), kvSuccess);
  EXPECT_EQ(errors(), std::vector<uint16_t>{1512});
  EXPECT_EQ(lastErrorText(), "Whole or part of the region has already been locked.");

  // Closing some other descriptor of the file keeps the first handle's lock.
  int third = openTable();
  EXPECT_EQ(bosFileClose(third), kvSuccess);
  clearErrors();
  EXPECT_EQ(bosRegionLock(second, 0, 100, 1), kvFailure);
  EXPECT_EQ(errors(), std::vector<uint16_t>{1512});

  // Closing the handle releases its locks and forgets them.
  EXPECT_EQ(bosFileClose(first), kvSuccess);
  clearErrors();
  EXPECT_EQ(bosRegionLock(second, 0, 100, 10), kvSuccess);
  int reopened = openTable();
  EXPECT_EQ(bosRegionLock(reopened, 1, 100, 10), kvFailure);
  EXPECT_EQ(errors(), std::vector<uint16_t>{1513});
  EXPECT_EQ(bosFileClose(second), kvSuccess);
  EXPECT_EQ(bosFileClose(reopened), kvSuccess);
}

TEST_F(BosLockTest, TheProbeSeesOtherHandlesLocksOnly) {
  int file = openTable();
  int other = openTable();
  ASSERT_EQ(bosRegionLock(file, 0, 8, 4), kvSuccess);
  EXPECT_EQ(lockedByOther(file, 8, 4), 0);
  EXPECT_EQ(lockedByOther(other, 8, 4), 1);
  EXPECT_EQ(lockedByOther(other, 11, 100), 1);
  EXPECT_EQ(lockedByOther(other, 12, 100), 0);
  EXPECT_EQ(lockedByOther(other, 0, 8), 0);
  EXPECT_EQ(lockedByOther(0, 8, 4), 0);
  EXPECT_EQ(bosFileClose(file), kvSuccess);
  EXPECT_EQ(lockedByOther(other, 8, 4), 0);
  EXPECT_EQ(bosFileClose(other), kvSuccess);
  EXPECT_TRUE(errors().empty());
}

TEST_F(BosLockTest, ALockOfAnotherProcessRefusesTheRange) {
  if (!PythonHolder::available()) GTEST_SKIP() << "no /usr/bin/python3";
  PythonHolder other;
  // A classic POSIX lock on bytes 16 to 31, as other programs take them.
  ASSERT_TRUE(other.start(path("table.dbf"), "fcntl.lockf(f, fcntl.LOCK_EX | fcntl.LOCK_NB, 16, 16)"));
  int file = openTable();
  EXPECT_EQ(bosRegionLock(file, 0, 20, 1), kvFailure);
  EXPECT_EQ(bosRegionLock(file, 0, 0, 17), kvFailure);
  EXPECT_EQ(errors(), (std::vector<uint16_t>{1512, 1512}));
  EXPECT_EQ(lockedByOther(file, 31, 1), 1);
  EXPECT_EQ(lockedByOther(file, 32, 1), 0);
  EXPECT_EQ(bosRegionLock(file, 0, 32, 4), kvSuccess);
  other.stop();
  EXPECT_EQ(lockedByOther(file, 16, 16), 0);
  EXPECT_EQ(bosRegionLock(file, 0, 16, 16), kvSuccess);
  EXPECT_EQ(bosFileClose(file), kvSuccess);
}

TEST_F(BosLockTest, OurLockRefusesAnotherProcess) {
  if (!PythonHolder::available()) GTEST_SKIP() << "no /usr/bin/python3";
  int file = openTable();
  ASSERT_EQ(bosRegionLock(file, 0, 0x7FFFFFFF, 1), kvSuccess);
  // The child reports "ready" only when it got the lock.
  const char* tryLock =
      "try:\n"
      "    fcntl.lockf(f, fcntl.LOCK_EX | fcntl.LOCK_NB, 1, 0x7FFFFFFF)\n"
      "except OSError:\n"
      "    sys.exit(1)";
  PythonHolder other;
  EXPECT_FALSE(other.start(path("table.dbf"), tryLock));
  other.stop();
  ASSERT_EQ(bosRegionLock(file, 1, 0x7FFFFFFF, 1), kvSuccess);
  EXPECT_TRUE(other.start(path("table.dbf"), tryLock));
  other.stop();
  EXPECT_EQ(bosFileClose(file), kvSuccess);
}

TEST_F(BosLockTest, RangesNearTheTopOfThe32BitOffsetsDoNotWrap) {
  int file = openTable();
  int other = openTable();
  ASSERT_EQ(bosRegionLock(file, 0, 0xFFFFFFFFu, 2), kvSuccess);
  EXPECT_EQ(bosRegionLock(other, 0, 0, 1), kvSuccess);
  EXPECT_EQ(bosRegionLock(file, 0, 0xFFFFFFFEu, 1), kvSuccess);
  EXPECT_EQ(bosRegionLock(other, 0, 0xFFFFFFFFu, 1), kvFailure);
  EXPECT_EQ(bosRegionLock(file, 0, 0xFFFFFFFEu, 0xFFFFFFFFu), kvFailure);
  EXPECT_EQ(errors(), (std::vector<uint16_t>{1512, 1512}));
  EXPECT_EQ(bosRegionLock(file, 1, 0xFFFFFFFFu, 2), kvSuccess);
  EXPECT_EQ(bosRegionLock(other, 0, 0xFFFFFFFFu, 1), kvSuccess);
  EXPECT_EQ(bosFileClose(file), kvSuccess);
  EXPECT_EQ(bosFileClose(other), kvSuccess);
}

TEST_F(BosLockTest, AReadOnlyHandleLocksAgainstWriters) {
  int reader = openTable(0);
  int writer = openTable();
  ASSERT_EQ(bosRegionLock(reader, 0, 0, 4), kvSuccess);
  EXPECT_EQ(bosRegionLock(writer, 0, 2, 4), kvFailure);
  EXPECT_EQ(lockedByOther(writer, 0, 1), 1);
  EXPECT_EQ(bosRegionLock(reader, 1, 0, 4), kvSuccess);
  EXPECT_EQ(bosRegionLock(writer, 0, 2, 4), kvSuccess);
  EXPECT_EQ(bosRegionLock(reader, 0, 0, 4), kvFailure);
  EXPECT_EQ(errors(), (std::vector<uint16_t>{1512, 1512}));
  EXPECT_EQ(bosFileClose(reader), kvSuccess);
  EXPECT_EQ(bosFileClose(writer), kvSuccess);
}

TEST_F(BosLockTest, ARangeAnotherHandleOfTheProcessHoldsIsToldApart) {
  writeFile(path("other.dbf"), std::string(64, '.'));
  int holder = openTable();
  int asker = openTable();
  PathBuffer otherName(path("other.dbf"));
  int otherFile = -1;
  ASSERT_EQ(bosFileOpen(otherName, bosOpenReadWrite, &otherFile), kvSuccess);
  ASSERT_EQ(bosRegionLock(holder, 0, 0, 0xFFFFFFFFu), kvSuccess);  // the whole file, as K+V locks it
  ASSERT_EQ(bosRegionLock(otherFile, 0, 100, 10), kvSuccess);
  const struct {
    int file;
    uint32_t offset, length;
    int held;
  } cases[] = {
      {asker, 0, 12, 1},            // the header, inside the holder's range
      {asker, 0, 0xFFFFFFFFu, 1},   // the very range
      {asker, 0xFFFFFFF0u, 16, 0},  // beyond its last byte
      {holder, 0, 12, 0},           // its own range does not count
      {otherFile, 0, 12, 0},        // another file: the table's whole-file lock is not on it
      {asker, 0, 0, 0},             // an empty range
  };
  for (const auto& c : cases)
    EXPECT_EQ(bosRegionHeldInProcess(c.file, c.offset, c.length), c.held) << c.file << " " << c.offset;
  // A second handle of the other file sees the first one's range.
  int onOther = -1;
  ASSERT_EQ(bosFileOpen(otherName, bosOpenReadWrite, &onOther), kvSuccess);
  EXPECT_EQ(bosRegionHeldInProcess(onOther, 100, 10), 1);
  EXPECT_EQ(bosRegionHeldInProcess(onOther, 95, 10), 0) << "part of it only";
  EXPECT_EQ(bosRegionLock(otherFile, 1, 100, 10), kvSuccess);
  EXPECT_EQ(bosRegionHeldInProcess(onOther, 100, 10), 0) << "let go";
  EXPECT_EQ(bosRegionLock(holder, 1, 0, 0xFFFFFFFFu), kvSuccess);
  EXPECT_EQ(bosRegionHeldInProcess(asker, 0, 12), 0);
  EXPECT_TRUE(errors().empty());
  for (int file : {holder, asker, otherFile, onOther}) EXPECT_EQ(bosFileClose(file), kvSuccess);
}

TEST_F(BosLockTest, NoFileAndEmptyRangesDoNothing) {
  int file = openTable();
  int other = openTable();
  EXPECT_EQ(bosRegionLock(0, 0, 0, 10), kvSuccess);
  EXPECT_EQ(bosRegionLock(0, 1, 0, 10), kvSuccess);
  EXPECT_EQ(bosRegionLock(file, 0, 5, 0), kvSuccess);
  EXPECT_EQ(bosRegionLock(file, 1, 5, 0), kvSuccess);
  EXPECT_EQ(lockedByOther(other, 0, 0xFFFFFFFFu), 0);  // no lock "to the end of the file"
  EXPECT_TRUE(errors().empty());
  int locked;
  EXPECT_EQ(bosRegionLock(1, 0, 0, 10), kvFailure);
  EXPECT_EQ(bosRegionTest(2, 0, 10, &locked), kvFailure);
  EXPECT_EQ(errors(), (std::vector<uint16_t>{1507, 1507}));
  EXPECT_EQ(bosFileClose(file), kvSuccess);
  EXPECT_EQ(bosFileClose(other), kvSuccess);
}

}  // namespace
