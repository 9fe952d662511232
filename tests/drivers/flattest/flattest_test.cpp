// The test file driver: hostile table files get a clear error and stay
// unchanged, indexes deliver records in key order, and record locks are
// seen by another process.
#include "tests/flat/flat_test_support.h"

#include "drivers/flattest/flattest_message_ids.h"
#include "flat/flat_message_ids.h"
#include "util/byte_order.h"

#include <sys/wait.h>
#include <unistd.h>

namespace {

class FlatTestDriverTest : public FlatTestFixture {};

TEST_F(FlatTestDriverTest, HostileFilesAreRefusedAndLeftAlone) {
  makeTable("good", {{"ID", 'I', 4, 0}, {"NAME", 'C', 8, 0}});
  const std::string good = readFile(tablePath("good"));
  auto withWord = [&](size_t at, uint32_t value) {
    std::string bytes = good;
    kvPutU32LE(&bytes[at], value);
    return bytes;
  };
  std::string manyColumns = good;
  kvPutU16LE(&manyColumns[20], 300);
  std::string badType = good;
  badType[24 + 32] = 'Z';
  const struct {
    const char* name;
    std::string bytes;
    uint16_t message;
  } cases[] = {
      {"empty", "", msgFlatTestBadFile},
      {"magic", "NOTATABLE" + good.substr(9), msgFlatTestBadFile},
      {"columns", manyColumns, msgFlatTestBadFile},
      {"type", badType, msgFlatTestBadFile},
      {"width", withWord(16, 99), msgFlatTestBadFile},
      {"header", withWord(8, 1000), msgFlatTestBadFile},
      {"short", withWord(12, 5), msgFlatTestBadFile},
      {"huge", withWord(12, 0x04000000), msgRecordNumberLimit},
  };
  FlatTestConnection* connection = connect();
  for (const auto& c : cases) {
    writeFile(tablePath(c.name), c.bytes);
    connection->getErrorList().clearErrors();
    KvStatus status = kvSuccess;
    FlatTestStatement* statement = query(connection, {c.name}, &status);
    EXPECT_EQ(status, kvFailure) << c.name;
    EXPECT_EQ(errorsOf(connection), std::vector<uint16_t>{c.message}) << c.name;
    drop(statement);
    EXPECT_TRUE(readFile(tablePath(c.name)) == c.bytes) << c.name;
  }
  connection->getErrorList().clearErrors();
  KvStatus status = kvSuccess;
  drop(query(connection, {"missing"}, &status));
  EXPECT_EQ(status, kvFailure);
  EXPECT_EQ(errorsOf(connection), std::vector<uint16_t>{msgTableNotExist});
}

TEST_F(FlatTestDriverTest, RecordNumbersStopBelowTheStateBits) {
  makeTable("full", {{"ID", 'I', 4, 0}});
  // A table already holding the highest record number (a sparse file).
  std::string path = tablePath("full");
  std::string bytes = readFile(path);
  kvPutU32LE(&bytes[12], flatMaxRecordNumber);
  writeFile(path, bytes);
  ASSERT_EQ(truncate(path.c_str(), off_t(bytes.size()) + off_t(flatMaxRecordNumber) * 6), 0);
  FlatTestConnection* connection = connect();
  FlatTestStatement* statement = query(connection, {"full"});
  FlatFileDesc* reader = table(statement);
  int32_t id = 1;
  ASSERT_EQ(reader->initializeForInsert(), kvSuccess);
  ASSERT_EQ(flatStoreColumn(reader, 0, &id, 4, flatItInt32, 0xFFFFFFFF), kvSuccess);
  EXPECT_EQ(flatAppendRecord(reader, 0), kvFailure);
  EXPECT_EQ(errorsOf(connection), std::vector<uint16_t>{msgRecordNumberLimit});
  EXPECT_EQ(reader->getShared()->getRecordCount(), uint32_t(flatMaxRecordNumber));
  drop(statement);
}

TEST_F(FlatTestDriverTest, AnIndexDeliversRecordsInKeyOrder) {
  makeTable("emp", {{"ID", 'I', 4, flatTestUnique}, {"NAME", 'C', 8, flatTestIndexed}});
  FlatTestConnection* connection = connect();
  FlatTestStatement* statement = query(connection, {"emp"});
  const std::vector<std::pair<int32_t, std::string>> input = {{3, "carol"}, {-1, "alice"}, {2, "bob"}};
  for (const auto& row : input) ASSERT_EQ(insert(table(statement), row.first, row.second), kvSuccess);
  drop(statement);
  // A fresh open builds the indexes from the file.
  FlatTestStatement* reader = query(connection, {"emp"});
  auto order = [&](const char* index) {
    EXPECT_EQ(table(reader)->useIndex(kvU(index)), kvSuccess);
    std::vector<std::string> ids;
    for (const Row& row : rows(table(reader))) ids.push_back(row[0]);
    return ids;
  };
  EXPECT_EQ(order("ID"), (std::vector<std::string>{"-1", "2", "3"}));
  EXPECT_EQ(order("name"), (std::vector<std::string>{"-1", "2", "3"}));
  EXPECT_EQ(table(reader)->useIndex(kvU("nothing")), kvFailure);
  EXPECT_EQ(errorsOf(connection), std::vector<uint16_t>{msgFlatTestNoIndex});
  drop(reader);
}

// The child's side: opens the table through its own connection, locks
// record 1, tells the parent, and keeps the lock until the parent says so.
int holdRecordLock(const std::string& dir, const std::string& path, int ready, int release) {
  BaseEnv* env = flatBuild<BaseEnv>(OdbcDriverNumber(98));
  auto* connection = flatBuild<FlatTestConnection>(env);
  std::string text = "DRIVER=flattest;DB=" + dir;
  if (connection->SQLDriverConnect(nullptr, kvU(const_cast<char*>(text.c_str())), SQLSMALLINT(SQL_NTS), nullptr, 0,
                                   nullptr, SQL_DRIVER_NOPROMPT) != SQL_SUCCESS)
    return 2;
  KvErrorKeeper::setErrorList(&connection->getErrorList());
  auto* statement = flatBuild<FlatTestStatement>(static_cast<FlatConnection*>(connection));
  FlatFileDesc* reader = nullptr;
  if (statement->allocFileDesc(&reader) != kvSuccess || reader->openTable(kvU(path.c_str()), statement) != kvSuccess)
    return 3;
  uint16_t found = 0;
  if (flatStartScan(reader) != kvSuccess || flatReadNext(reader, &found) != kvSuccess || !found) return 4;
  if (reader->lockRecord(flatLockRecord) != kvSuccess) return 5;
  char byte = 'r';
  if (write(ready, &byte, 1) != 1) return 6;
  if (read(release, &byte, 1) != 1) return 7;
  return 0;
}

TEST_F(FlatTestDriverTest, RecordLocksAreSeenByAnotherProcess) {
  makeTable("emp");
  FlatTestConnection* connection = connect();
  FlatTestStatement* statement = query(connection, {"emp"});
  ASSERT_EQ(insert(table(statement), 1, "one"), kvSuccess);
  ASSERT_EQ(insert(table(statement), 2, "two"), kvSuccess);
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(holdRecordLock(dir(), tablePath("emp"), ready[1], release[0]));
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1) << "the child holds its lock";

  FlatFileDesc* reader = table(statement);
  uint16_t found = 0;
  ASSERT_EQ(flatStartScan(reader), kvSuccess);
  ASSERT_EQ(flatReadNext(reader, &found), kvSuccess);
  EXPECT_EQ(reader->lockRecord(flatLockRecord), kvFailure);
  EXPECT_EQ(errorsOf(connection), std::vector<uint16_t>{msgRecordLocked});
  ASSERT_EQ(flatReadNext(reader, &found), kvSuccess);
  EXPECT_EQ(reader->lockRecord(flatLockRecord), kvSuccess) << "record 2 is free";

  ASSERT_EQ(write(release[1], "g", 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  ASSERT_EQ(flatStartScan(reader), kvSuccess);
  ASSERT_EQ(flatReadNext(reader, &found), kvSuccess);
  EXPECT_EQ(reader->lockRecord(flatLockRecord), kvSuccess) << "the child's lock went with it";
  EXPECT_EQ(reader->unlockRecord(flatLockRecord, nullptr), kvSuccess);
  for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
  drop(statement);
}

}  // namespace
