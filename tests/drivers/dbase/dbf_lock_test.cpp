// Multi-user locking: the lock offsets of the five schemes, the locks seen
// from outside in /proc/locks while a reader holds them, held-lock counts
// of one connection's readers, two connections of one process excluding
// each other, Locking=NONE and FILE, and processes inserting and updating
// one table at once without a lost update, a torn record or a broken memo;
// which locks wait for another program and which are refused at once.
#include "drivers/dbase/locks/dbf_lock_offsets.h"
#include "drivers/dbase/locks/dbf_locks.h"
#include "drivers/dbase/table/dbf_shared_desc.h"
#include "flat/flat_message_ids.h"
#include "tests/drivers/dbase/dbase_test_support.h"
#include "util/os/bos.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

namespace {

TEST(DbfLockOffsets, EachSchemeLocksTheAgreedBytes) {
  const struct {
    uint32_t scheme, header, record, production, n;
    DbfLockRegion recordLock, update, headerLock, memoHeader, file;
  } cases[] = {
      {dbfLockDbase, 65, 11, 0, 1, {0x6FFFFFFD, 1}, {0, 0}, {0x6FFFFFFF, 1}, {0x6FFFFFFE, 1},
       {0x6FFFFFFF - (0x6FFFFFFE - 66) / 12, (0x6FFFFFFE - 66) / 12}},
      {dbfLockDbase, 65, 11, 0, 2, {0x6FFFFFFC, 1}, {0, 0}, {0x6FFFFFFF, 1}, {0x6FFFFFFE, 1},
       {0x6FFFFFFF - (0x6FFFFFFE - 66) / 12, (0x6FFFFFFE - 66) / 12}},
      {dbfLockKvVirtual, 65, 11, 0, 1, {0x6FFFFFFD, 1}, {0, 0}, {0x6FFFFFFF, 1}, {0x6FFFFFFE, 1},
       {0x6FFFFFFF - (0x6FFFFFFE - 66) / 12, (0x6FFFFFFE - 66) / 12}},
      {dbfLockKv, 162, 40, 0, 3, {242, 1}, {243, 39}, {0, 12}, {0, 12}, {0, 0xFFFFFFFF}},
      {dbfLockClipper, 65, 11, 0, 5, {1000000005, 1}, {0, 0}, {1000000000, 1}, {1000000000, 1},
       {1000000001, 1000000000}},
      {dbfLockFox, 98, 20, 0, 1, {0x40000076, 1}, {0, 0}, {98 + 0x40000000, 1}, {0x40000000, 1},
       {0x40000001, 0x3FFFFFFE}},
      {dbfLockFox, 98, 20, 1, 1, {0x7FFFFFFD, 1}, {0, 0}, {0x7FFFFFFE, 1}, {0x40000000, 1},
       {0x7FFFFFFE - (0x7FFFFFFE - 99) / 21, (0x7FFFFFFE - 99) / 21}},
      // Offsets wrap in 32 bits the way other programs compute them.
      {dbfLockFox, 65535, 65535, 0, 70000, {uint32_t(65535u + 65535u * 70000u) | 0x40000000u, 1}, {0, 0},
       {65535 + 0x40000000, 1}, {0x40000000, 1}, {0x40000001, 0x3FFFFFFE}},
  };
  for (const auto& c : cases) {
    DbfLockGeometry g{c.scheme, c.header, c.record, c.production};
    auto same = [](DbfLockRegion a, DbfLockRegion b) { return a.offset == b.offset && a.length == b.length; };
    EXPECT_TRUE(same(dbfRecordLockRegion(g, c.n), c.recordLock)) << c.scheme << " " << dbfRecordLockRegion(g, c.n).offset;
    EXPECT_TRUE(same(dbfUpdateLockRegion(g, c.n), c.update)) << c.scheme;
    EXPECT_TRUE(same(dbfHeaderLockRegion(g), c.headerLock)) << c.scheme;
    EXPECT_TRUE(same(dbfMemoHeaderLockRegion(g), c.memoHeader)) << c.scheme;
    EXPECT_TRUE(same(dbfFileLockRegion(g), c.file)) << c.scheme << " " << dbfFileLockRegion(g).offset;
  }
}

// The byte ranges /proc/locks shows on a file, as "start-end" (inclusive),
// leaving out the whole-file flock every open holds and requests still
// waiting ("->"). A line names its file as major:minor:inode, the device in
// hex as the kernel prints it: the inode number alone may be another file's
// on another device, such as a lock another test holds at the same time.
std::vector<std::string> lockedRanges(const std::string& file) {
  struct stat st;
  std::vector<std::string> ranges;
  if (stat(file.c_str(), &st) != 0) return ranges;
  char id[64];
  std::snprintf(id, sizeof(id), "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  std::ifstream locks("/proc/locks");
  std::string line;
  while (std::getline(locks, line)) {
    // "1: OFDLCK  ADVISORY  WRITE -1 fe:00:1234 5 5"
    std::istringstream fields(line);
    std::vector<std::string> words{std::istream_iterator<std::string>(fields), std::istream_iterator<std::string>()};
    if (words.size() != 8 || words[1] == "FLOCK" || words[5] != id) continue;
    ranges.push_back(words[6] + "-" + words[7]);
  }
  std::sort(ranges.begin(), ranges.end());
  return ranges;
}
std::string range(uint64_t start, uint64_t length) {
  return std::to_string(start) + "-" + (length == 0 ? "EOF" : std::to_string(start + length - 1));
}

class DbfLockTest : public DbfFixture {
 protected:
  // t.dbf with one C field of width recordLength - 1, records rows, its
  // header padded to headerLength bytes.
  void makeTable(uint32_t headerLength, uint32_t recordLength, uint32_t rows) {
    std::vector<std::string> records(rows, "x");
    std::string bytes = dbfTableBytes(0x03, {{"NAME", 'C', uint16_t(recordLength - 1), 0}}, records);
    uint32_t h = kvGetU16LE(&bytes[8]);
    bytes.insert(h, std::string(headerLength - h, '\0'));
    kvPutU16LE(&bytes[8], uint16_t(headerLength));
    writeFile(path("t.dbf"), bytes);
  }
  static void position(DbfFileDesc* reader, uint32_t n) {
    static_cast<FlatNumericRid*>(reader->getRid())->setRecordNumber(n);
    ASSERT_EQ(reader->setRecordPosition(), kvSuccess);
  }
};

TEST_F(DbfLockTest, RecordLocksSeenFromOutside) {
  const struct {
    const char* scheme;
    uint32_t header, record, n;
    uint64_t offset;
  } cases[] = {
      {"dBASE", 65, 11, 1, 0x6FFFFFFD},
      {"dBASE", 65, 11, 2, 0x6FFFFFFC},
      {"K+V", 162, 40, 3, 242},
      {"CLIPPER", 65, 11, 5, 1000000005},
      {"FOX", 98, 20, 1, 0x40000076},
  };
  for (const auto& c : cases) {
    makeTable(c.header, c.record, 5);
    DbfConnection* connection = connect(std::string("LockCompatibility=") + c.scheme);
    DbfStatement* statement = query(connection, "t.dbf");
    DbfFileDesc* reader = table(statement);
    position(reader, c.n);
    ASSERT_EQ(reader->lockRecord(flatLockRecord), kvSuccess) << c.scheme;
    EXPECT_EQ(lockedRanges(path("t.dbf")), std::vector<std::string>{range(c.offset, 1)}) << c.scheme;
    ASSERT_EQ(reader->unlockRecord(flatLockRecord, nullptr), kvSuccess);
    EXPECT_TRUE(lockedRanges(path("t.dbf")).empty()) << c.scheme;
    drop(statement);
  }
}

TEST_F(DbfLockTest, ReadersOfOneConnectionShareLocksAndOtherConnectionsAreRefused) {
  makeTable(65, 11, 3);
  DbfConnection* first = connect();
  DbfStatement* a = query(first, "t.dbf");
  DbfStatement* b = query(first, "t.dbf");
  DbfConnection* second = connect();
  DbfStatement* other = query(second, "t.dbf");
  use(first);
  position(table(a), 1);
  position(table(b), 1);
  ASSERT_EQ(table(a)->lockRecord(flatLockRecord), kvSuccess);
  ASSERT_EQ(table(b)->lockRecord(flatLockRecord), kvSuccess);
  auto otherLocks = [&]() {
    use(second);
    position(table(other), 1);
    KvStatus status = table(other)->lockRecord(flatLockRecord);
    if (status == kvSuccess) (void)table(other)->unlockRecord(flatLockRecord, nullptr);
    else EXPECT_EQ(KvErrorKeeper::getLastErrorNumber(), msgRecordLocked);
    second->getErrorList().clearErrors();
    use(first);
    return status == kvSuccess;
  };
  EXPECT_FALSE(otherLocks());
  // The byte goes only when both readers have let go.
  ASSERT_EQ(table(a)->unlockRecord(flatLockRecord, nullptr), kvSuccess);
  EXPECT_FALSE(otherLocks());
  ASSERT_EQ(table(b)->unlockRecord(flatLockRecord, nullptr), kvSuccess);
  EXPECT_TRUE(otherLocks());
  // Closing the other connection's table drops none of this one's locks.
  ASSERT_EQ(table(a)->lockRecord(flatLockRecord), kvSuccess);
  use(second);
  drop(other);
  use(first);
  EXPECT_EQ(lockedRanges(path("t.dbf")), std::vector<std::string>{range(0x6FFFFFFD, 1)});
  drop(a);
  drop(b);
}

TEST_F(DbfLockTest, LockingNoneTakesNothingAndFileTakesTheWholeRegionOnce) {
  makeTable(65, 11, 3);
  DbfConnection* none = connect("Locking=NONE");
  DbfStatement* statement = query(none, "t.dbf");
  position(table(statement), 1);
  ASSERT_EQ(table(statement)->lockHeaders(), kvSuccess);
  ASSERT_EQ(table(statement)->lockRecord(flatLockRecord), kvSuccess);
  EXPECT_TRUE(lockedRanges(path("t.dbf")).empty());
  table(statement)->unlockHeaders(flatLockRecord);
  drop(statement);

  const struct {
    const char* scheme;
    DbfLockRegion file;
  } cases[] = {
      {"dBASE", dbfFileLockRegion(DbfLockGeometry{dbfLockDbase, 65, 11, 0})},
      {"FOX", dbfFileLockRegion(DbfLockGeometry{dbfLockFox, 65, 11, 0})},
      {"K+V", dbfFileLockRegion(DbfLockGeometry{dbfLockKv, 65, 11, 0})},
  };
  for (const auto& c : cases) {
    DbfConnection* file = connect(std::string("Locking=FILE;LockCompatibility=") + c.scheme);
    statement = query(file, "t.dbf");
    DbfFileDesc* reader = table(statement);
    // The header lock first, as an update takes it: under FOX and K+V the
    // whole-file region covers it.
    ASSERT_EQ(reader->lockHeaders(), kvSuccess) << c.scheme;
    position(reader, 1);
    ASSERT_EQ(reader->lockRecord(flatLockRecord), kvSuccess) << c.scheme;
    reader->unlockHeaders(flatLockRecord);
    position(reader, 2);
    ASSERT_EQ(reader->lockRecord(flatLockRecord), kvSuccess) << c.scheme;
    EXPECT_EQ(lockedRanges(path("t.dbf")), std::vector<std::string>{range(c.file.offset, c.file.length)})
        << c.scheme;
    ASSERT_EQ(reader->unlockRecord(flatLockRecord, nullptr), kvSuccess);
    EXPECT_TRUE(lockedRanges(path("t.dbf")).empty()) << c.scheme;
    drop(statement);
  }
}

// N processes each append M records with a memo and add 1 to a counter in
// record 1, all at once, under each scheme.
TEST_F(DbfLockTest, ProcessesInsertAndUpdateOneTableWithoutLosingAnything) {
  const int processes = 4, rounds = 15;
  const std::vector<TestField> fields = {{"WHO", 'C', 8, 0}, {"COUNT", 'N', 8, 0}, {"NOTE", 'M', 10, 0}};
  for (const char* scheme : {"dBASE", "K+V", "CLIPPER", "FOX"}) {
    writeFile(path("c.dbf"), dbfTableBytes(0x83, fields, {" counter        0          "}));
    std::string memo(512, '\0');
    kvPutU32LE(&memo[0], 1);
    writeFile(path("c.dbt"), memo);
    std::vector<pid_t> children;
    for (int p = 0; p < processes; ++p) {
      pid_t pid = fork();
      if (pid == 0) {
        int failures = 0;
        DbfConnection* connection = connect(std::string("LockCompatibility=") + scheme);
        DbfStatement* statement = query(connection, "c.dbf");
        DbfFileDesc* reader = table(statement);
        for (int r = 0; r < rounds; ++r) {
          std::string who = "p" + std::to_string(p) + "r" + std::to_string(r);
          std::string note = who + ":" + std::string(300 + 37 * r, char('a' + p));
          // An insert, as the engine makes it.
          KvStatus status = reader->lockHeaders();
          if (status == kvSuccess) status = reader->getMaxRecords(nullptr);
          if (status == kvSuccess) status = reader->initializeForInsert();
          if (status == kvSuccess) status = reader->updateColumn(0, who.data(), uint32_t(who.size()), flatItChar);
          if (status == kvSuccess) status = reader->updateColumn(2, note.data(), uint32_t(note.size()), flatItChar);
          if (status == kvSuccess) status = flatAppendRecord(reader, 0);
          reader->unlockHeaders(flatLockRecord);
          failures += status != kvSuccess;
          // An update of the counter: the record lock, waiting while
          // another process holds it, then read, add, write.
          static_cast<FlatNumericRid*>(reader->getRid())->setRecordNumber(1);
          for (;;) {
            connection->getErrorList().clearErrors();
            if (reader->setRecordPosition() != kvSuccess) break;
            if (reader->lockRecord(flatLockRecord) == kvSuccess) break;
            usleep(1000);
          }
          status = reader->setRecordPosition();
          double count = 0;
          std::string text = value(reader, 1);
          count = std::atof(text.c_str()) + 1;
          if (status == kvSuccess) status = reader->lockRecord(flatLockUpdate);
          if (status == kvSuccess) status = reader->updateColumn(1, &count, 8, flatItDouble);
          if (status == kvSuccess) status = reader->writeRecord(flatWriteUpdate);
          (void)reader->unlockRecord(flatLockUpdate, nullptr);
          (void)reader->unlockRecord(flatLockRecord, nullptr);
          failures += status != kvSuccess;
        }
        drop(statement);
        _exit(failures ? 1 : 0);
      }
      children.push_back(pid);
    }
    for (pid_t pid : children) {
      int status = 0;
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << scheme;
    }
    DbfConnection* connection = connect(std::string("LockCompatibility=") + scheme);
    DbfStatement* statement = query(connection, "c.dbf");
    DbfFileDesc* reader = table(statement);
    uint32_t count = 0;
    ASSERT_EQ(reader->getMaxRecords(&count), kvSuccess);
    EXPECT_EQ(count, uint32_t(1 + processes * rounds)) << scheme;
    std::set<std::string> seen;
    std::vector<unsigned char> buffer(4096);
    for (uint32_t n = 2; n <= count; ++n) {
      position(reader, n);
      std::string who = value(reader, 0);
      who.erase(who.find_last_not_of(' ') + 1);
      seen.insert(who);
      uint32_t got = 0, total = 0;
      ASSERT_EQ(reader->getLargeColumn(2, buffer.data(), uint32_t(buffer.size()), 0, &got, &total), kvSuccess);
      std::string note(reinterpret_cast<char*>(buffer.data()), got);
      int p = who.size() > 1 ? who[1] - '0' : 0;
      int r = std::atoi(who.c_str() + who.find('r') + 1);
      EXPECT_EQ(note, who + ":" + std::string(300 + 37 * r, char('a' + p))) << scheme << " record " << n;
    }
    EXPECT_EQ(seen.size(), size_t(processes * rounds)) << scheme;
    position(reader, 1);
    EXPECT_EQ(value(reader, 1), std::to_string(processes * rounds)) << scheme;
    drop(statement);
  }
}


// Which locks wait for another program and which are refused at once:
// header and memo-header locks ask again after 20 ms, 80 ms, then every
// 320 ms for as long as it takes; record and whole-file locks are refused
// with 3961 at once.
TEST(DbfLockWaits, TwentyEightyThenThreeHundredTwentyMilliseconds) {
  const struct {
    uint32_t attempt;
    uint16_t ms;
  } cases[] = {{0, 20}, {1, 20}, {2, 80}, {3, 320}, {4, 320}, {1000, 320}, {0xFFFFFFFF, 320}};
  for (const auto& c : cases) EXPECT_EQ(dbfLockWaitMs(c.attempt), c.ms) << c.attempt;
}

// Locks a range through a descriptor of the child's own (an OFD lock, as
// another program's would be); false when refused.
bool lockRangeOf(int file, uint64_t offset, uint64_t length) {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = off_t(offset);
  lock.l_len = off_t(length);
  return fcntl(file, F_OFD_SETLK, &lock) == 0;
}

TEST_F(DbfLockTest, HeaderLocksWaitForAnotherProgramAndRecordLocksDoNot) {
  const std::vector<TestField> fields = {{"WHO", 'C', 8, 0}, {"NOTE", 'M', 10, 0}};
  writeFile(path("w.dbf"), dbfTableBytes(0x83, fields, {" first             "}));
  std::string memo(512, '\0');
  kvPutU32LE(&memo[0], 1);
  writeFile(path("w.dbt"), memo);
  DbfConnection* connection = connect();
  DbfStatement* statement = query(connection, "w.dbf");
  DbfFileDesc* reader = table(statement);
  DbfLockGeometry geometry = dbfLockGeometryOf(reader->table());
  DbfLockRegion header = dbfHeaderLockRegion(geometry);
  DbfLockRegion memoHeader = dbfMemoHeaderLockRegion(geometry);
  DbfLockRegion record = dbfRecordLockRegion(geometry, 1);

  // The child takes the header, memo-header and record 1 bytes, says so,
  // and lets go a little after the parent says it is about to wait.
  int held[2], go[2];
  ASSERT_EQ(pipe(held), 0);
  ASSERT_EQ(pipe(go), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    int table = open(path("w.dbf").c_str(), O_RDWR);
    int memoFile = open(path("w.dbt").c_str(), O_RDWR);
    bool locked = table >= 0 && memoFile >= 0 && lockRangeOf(table, header.offset, header.length) &&
                  lockRangeOf(memoFile, memoHeader.offset, memoHeader.length) &&
                  lockRangeOf(table, record.offset, record.length);
    char byte = locked ? 'y' : 'n';
    if (write(held[1], &byte, 1) != 1 || !locked) _exit(1);
    if (read(go[0], &byte, 1) != 1) _exit(1);
    usleep(150 * 1000);
    _exit(0);
  }
  close(held[1]);
  close(go[0]);
  char byte = 0;
  ASSERT_EQ(read(held[0], &byte, 1), 1);
  ASSERT_EQ(byte, 'y');

  // Locks that do not wait are refused while the child holds its bytes.
  position(reader, 1);
  connection->getErrorList().clearErrors();
  EXPECT_EQ(reader->lockRecord(flatLockRecord), kvFailure);
  EXPECT_EQ(errorsOf(connection), std::vector<uint16_t>{msgRecordLocked});
  connection->getErrorList().clearErrors();
  bool taken = true;
  EXPECT_EQ(dbfLockRegion(reader->table()->getDataHandle(), uint32_t(header.offset), uint32_t(header.length), false,
                          &taken),
            kvSuccess);
  EXPECT_FALSE(taken) << "a lock asked once is refused";

  // The waiting locks get their bytes once the child lets go.
  ASSERT_EQ(write(go[1], "g", 1), 1);
  connection->getErrorList().clearErrors();
  EXPECT_EQ(reader->lockHeaders(), kvSuccess);
  EXPECT_EQ(dbfLockMemoHeader(reader->table()), kvSuccess);
  EXPECT_TRUE(errorsOf(connection).empty());
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::vector<std::string> ranges = lockedRanges(path("w.dbf"));
  EXPECT_NE(std::find(ranges.begin(), ranges.end(), range(header.offset, header.length)), ranges.end());
  // And the record lock, refused before, is now granted.
  EXPECT_EQ(reader->lockRecord(flatLockRecord), kvSuccess);
  (void)reader->unlockRecord(flatLockRecord, nullptr);
  dbfUnlockMemoHeader(reader->table());
  reader->unlockHeaders(flatLockRecord);
  close(held[0]);
  close(go[1]);
  drop(statement);
}

}  // namespace
