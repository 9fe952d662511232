// Transactions through the test file driver: what a connection in
// manual-commit mode sees of its own changes and what others see, commit
// and rollback on the file's bytes, long values in pieces, and the log's
// treatment of pending rows (provisional numbers, deletes of pending
// inserts, binary values, cursors kept across the end of a transaction).
#include "tests/flat/flat_test_support.h"

#include "flat/flat_message_ids.h"
#include "util/containers/tree.h"

#include <map>

namespace {

class FlatChangesTest : public FlatTestFixture {
 protected:
  std::string fileBytes(const std::string& name) { return readFile(tablePath(name)); }
  static std::vector<std::string> names(const std::vector<Row>& rows) {
    std::vector<std::string> result;
    for (const Row& row : rows) result.push_back(row[0] + ":" + row[1]);
    return result;
  }
};

TEST_F(FlatChangesTest, PendingInsertsAreSeenByTheirConnectionOnlyUntilCommit) {
  makeTable("emp");
  FlatTestConnection* writer = connect();
  FlatTestStatement* seed = query(writer, {"emp"});
  ASSERT_EQ(insert(table(seed), 1, "stored"), kvSuccess);
  drop(seed);

  FlatTestConnection* other = connect();
  use(writer);
  autocommit(writer, false);
  EXPECT_FALSE(writer->isWritingDirectly());
  FlatTestStatement* mine = query(writer, {"emp"});
  ASSERT_EQ(insert(table(mine), 2, "two"), kvSuccess);
  ASSERT_EQ(insert(table(mine), 3, "three"), kvSuccess);
  EXPECT_TRUE(writer->getFlags() & BaseConnection::flagTransaction);
  // Stored rows first, then the pending ones in the order they were made
  // (read as the driver will store them: padded).
  EXPECT_EQ(names(rows(table(mine))), (std::vector<std::string>{"1:stored    ", "2:two       ", "3:three     "}));

  use(other);
  FlatTestStatement* theirs = query(other, {"emp"});
  EXPECT_EQ(names(rows(table(theirs))), std::vector<std::string>{"1:stored    "});

  use(writer);
  ASSERT_EQ(writer->SQLTransact(SQL_COMMIT), SQL_SUCCESS);
  use(writer);
  EXPECT_FALSE(writer->isWritingDirectly()) << "manual-commit mode logs the next transaction too";
  EXPECT_EQ(rows(table(mine)).size(), 3u);
  use(other);
  EXPECT_EQ(names(rows(table(theirs))),
            (std::vector<std::string>{"1:stored    ", "2:two       ", "3:three     "}));
  drop(theirs);
  use(writer);
  drop(mine);
}

TEST_F(FlatChangesTest, RollbackLeavesTheFileByteForByte) {
  makeTable("emp");
  FlatTestConnection* connection = connect();
  FlatTestStatement* statement = query(connection, {"emp"});
  ASSERT_EQ(insert(table(statement), 1, "one"), kvSuccess);
  std::string before = fileBytes("emp");
  autocommit(connection, false);
  ASSERT_EQ(insert(table(statement), 2, "two"), kvSuccess);
  ASSERT_EQ(insert(table(statement), 3, "three"), kvSuccess);
  EXPECT_EQ(rows(table(statement)).size(), 3u);
  EXPECT_TRUE(fileBytes("emp") == before);
  ASSERT_EQ(connection->SQLTransact(SQL_ROLLBACK), SQL_SUCCESS);
  use(connection);
  EXPECT_TRUE(fileBytes("emp") == before);
  EXPECT_EQ(names(rows(table(statement))), std::vector<std::string>{"1:one       "});
  EXPECT_EQ(table(statement)->getShared()->getChanges(), nullptr);
  drop(statement);
}

TEST_F(FlatChangesTest, InsertThenDeleteOfThatRowWritesNothing) {
  makeTable("emp");
  FlatTestConnection* connection = connect();
  std::string before = fileBytes("emp");
  autocommit(connection, false);
  FlatTestStatement* statement = query(connection, {"emp"});
  FlatFileDesc* reader = table(statement);
  ASSERT_EQ(insert(reader, 1, "gone"), kvSuccess);
  ASSERT_EQ(insert(reader, 2, "kept"), kvSuccess);
  // Position on the first pending row and delete it: a kind 5 entry.
  ASSERT_EQ(flatStartScan(reader), kvSuccess);
  uint16_t found = 0;
  ASSERT_EQ(flatReadNext(reader, &found), kvSuccess);
  ASSERT_EQ(found, 1);
  EXPECT_EQ(reader->getRid()->getState(), ridPendingInsert);
  ASSERT_EQ(flatLogBegin(reader, flatChangeDelete), kvSuccess);
  ASSERT_EQ(flatLogEnd(reader), kvSuccess);
  // The row's tree entry points at the delete, so the row is gone for
  // scans already.
  EXPECT_EQ(names(rows(reader)), std::vector<std::string>{"2:kept      "});
  ASSERT_EQ(connection->SQLTransact(SQL_COMMIT), SQL_SUCCESS);
  use(connection);
  EXPECT_EQ(names(rows(reader)), std::vector<std::string>{"2:kept      "});
  std::string after = fileBytes("emp");
  EXPECT_EQ(after.size(), before.size() + static_cast<FlatTestSharedDesc*>(reader->getShared())->getLayout().recordWidth)
      << "one record, not two";
  drop(statement);

  // Insert then delete of the only row: the file keeps its bytes.
  makeTable("solo");
  FlatTestStatement* solo = query(connection, {"solo"});
  std::string soloBefore = fileBytes("solo");
  ASSERT_EQ(insert(table(solo), 9, "x"), kvSuccess);
  ASSERT_EQ(flatStartScan(table(solo)), kvSuccess);
  ASSERT_EQ(flatReadNext(table(solo), &found), kvSuccess);
  ASSERT_EQ(flatLogBegin(table(solo), flatChangeDelete), kvSuccess);
  ASSERT_EQ(flatLogEnd(table(solo)), kvSuccess);
  ASSERT_EQ(connection->SQLTransact(SQL_COMMIT), SQL_SUCCESS);
  EXPECT_TRUE(fileBytes("solo") == soloBefore);
  use(connection);
  drop(solo);
}

TEST_F(FlatChangesTest, EveryPendingInsertHasItsOwnProvisionalNumber) {
  makeTable("emp");
  FlatTestConnection* connection = connect();
  autocommit(connection, false);
  FlatTestStatement* statement = query(connection, {"emp"});
  FlatFileDesc* reader = table(statement);
  for (int i = 1; i <= 100; ++i) ASSERT_EQ(insert(reader, i, "r" + std::to_string(i)), kvSuccess);
  FlatChangesDesc* changes = reader->getShared()->getChanges();
  ASSERT_NE(changes, nullptr);
  EXPECT_EQ(changes->getIndex()->getKeyCount(), 100u);
  std::vector<Row> seen = rows(reader);
  ASSERT_EQ(seen.size(), 100u);
  EXPECT_EQ(seen.front()[0], "1");
  EXPECT_EQ(seen.back()[0], "100");
  ASSERT_EQ(connection->SQLTransact(SQL_COMMIT), SQL_SUCCESS);
  use(connection);
  EXPECT_EQ(reader->getShared()->getRecordCount(), 100u);
  EXPECT_EQ(rows(reader).size(), 100u);
  drop(statement);
}

TEST_F(FlatChangesTest, UpdatesAndDeletesOfStoredRowsAreOverlaid) {
  makeTable("emp");
  FlatTestConnection* connection = connect();
  FlatTestStatement* statement = query(connection, {"emp"});
  FlatFileDesc* reader = table(statement);
  for (int i = 1; i <= 3; ++i) ASSERT_EQ(insert(reader, i, "s" + std::to_string(i)), kvSuccess);
  autocommit(connection, false);
  uint16_t found = 0;
  ASSERT_EQ(flatStartScan(reader), kvSuccess);
  ASSERT_EQ(flatReadNext(reader, &found), kvSuccess);  // record 1: update NAME
  ASSERT_EQ(flatLogBegin(reader, flatChangeUpdate), kvSuccess);
  ASSERT_EQ(flatStoreColumn(reader, 1, "new", 3, flatItChar, 0xFFFFFFFF), kvSuccess);
  ASSERT_EQ(flatLogEnd(reader), kvSuccess);
  ASSERT_EQ(flatReadNext(reader, &found), kvSuccess);  // record 2: delete
  ASSERT_EQ(flatLogBegin(reader, flatChangeDelete), kvSuccess);
  ASSERT_EQ(flatLogEnd(reader), kvSuccess);
  EXPECT_EQ(names(rows(reader)), (std::vector<std::string>{"1:new       ", "3:s3        "}));
  // A second update of record 1 keeps the first one's values it does not change.
  ASSERT_EQ(flatStartScan(reader), kvSuccess);
  ASSERT_EQ(flatReadNext(reader, &found), kvSuccess);
  double amount = 2.5;
  ASSERT_EQ(flatLogBegin(reader, flatChangeUpdate), kvSuccess);
  ASSERT_EQ(flatStoreColumn(reader, 2, &amount, 8, flatItDouble, 0xFFFFFFFF), kvSuccess);
  ASSERT_EQ(flatLogEnd(reader), kvSuccess);
  std::vector<Row> seen = rows(reader);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0][1], "new       ");
  EXPECT_EQ(seen[0][2], "2.5");
  ASSERT_EQ(connection->SQLTransact(SQL_COMMIT), SQL_SUCCESS);
  use(connection);
  seen = rows(reader);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0][1], "new       ");
  EXPECT_EQ(seen[0][2], "2.5");
  EXPECT_EQ(seen[1][0], "3");
  drop(statement);
}

TEST_F(FlatChangesTest, ALongValueInThreePiecesIsStoredIntact) {
  makeTable("emp");
  FlatTestConnection* connection = connect();
  autocommit(connection, false);
  FlatTestStatement* statement = query(connection, {"emp"});
  FlatFileDesc* reader = table(statement);
  std::string value(2500, 'x');
  for (size_t i = 0; i < value.size(); ++i) value[i] = char('a' + i % 26);
  uint32_t offset = 0;
  ASSERT_EQ(flatSpoolLongValue(reader, flatSpoolBegin, value.data(), 1000, nullptr), kvSuccess);
  ASSERT_EQ(flatSpoolLongValue(reader, flatSpoolAppend, value.data() + 1000, 1000, nullptr), kvSuccess);
  ASSERT_EQ(flatSpoolLongValue(reader, flatSpoolAppend, value.data() + 2000, 500, nullptr), kvSuccess);
  ASSERT_EQ(flatSpoolLongValue(reader, flatSpoolFinish, nullptr, 0, &offset), kvSuccess);
  EXPECT_EQ(connection->getLongValueEnd(), offset + 4 + 2500);
  std::string back(2500, '\0');
  uint32_t got = 0, total = 0;
  ASSERT_EQ(flatReadLongValue(connection, offset, 0, &back[0], 2500, &got, &total), kvSuccess);
  EXPECT_EQ(total, 2500u);
  EXPECT_EQ(back, value);

  ASSERT_EQ(reader->initializeForInsert(), kvSuccess);
  int32_t id = 7;
  ASSERT_EQ(flatLogBegin(reader, flatChangeInsert), kvSuccess);
  ASSERT_EQ(flatStoreColumn(reader, 0, &id, 4, flatItInt32, 0xFFFFFFFF), kvSuccess);
  ASSERT_EQ(flatStoreColumn(reader, 4, nullptr, 0, flatItChar, offset), kvSuccess);
  ASSERT_EQ(flatLogEnd(reader), kvSuccess);
  std::vector<Row> pending = rows(reader);
  ASSERT_EQ(pending.size(), 1u);
  EXPECT_EQ(pending[0][4], value) << "read from the long-value store while pending";
  ASSERT_EQ(connection->SQLTransact(SQL_COMMIT), SQL_SUCCESS);
  use(connection);
  std::vector<Row> stored = rows(reader);
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0][4], value);
  EXPECT_EQ(connection->getLongValueEnd(), 0u);
  drop(statement);
}

TEST_F(FlatChangesTest, PendingRowsReadAsTheyWillAfterCommit) {
  makeTable("emp");
  FlatTestConnection* connection = connect();
  autocommit(connection, false);
  FlatTestStatement* statement = query(connection, {"emp"});
  FlatFileDesc* reader = table(statement);
  ASSERT_EQ(reader->initializeForInsert(), kvSuccess);
  int32_t id = 1;
  const unsigned char bytes[4] = {0x00, 0xFF, 0x10, 0x7F};
  ASSERT_EQ(flatLogBegin(reader, flatChangeInsert), kvSuccess);
  ASSERT_EQ(flatStoreColumn(reader, 0, &id, 4, flatItInt32, 0xFFFFFFFF), kvSuccess);
  ASSERT_EQ(flatStoreColumn(reader, 3, bytes, 4, flatItBinary, 0xFFFFFFFF), kvSuccess);
  ASSERT_EQ(flatLogEnd(reader), kvSuccess);
  std::vector<Row> seen = rows(reader);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0][3], "00ff107f");
  // Columns without a value hold what the driver's new record holds: NULL
  // in this format, CHAR included.
  EXPECT_EQ(seen[0][1], "");
  EXPECT_EQ(seen[0][2], "");
  ASSERT_EQ(connection->SQLTransact(SQL_COMMIT), SQL_SUCCESS);
  use(connection);
  EXPECT_EQ(rows(reader), seen);
  drop(statement);
}

TEST_F(FlatChangesTest, ACursorKeptAcrossCommitStartsItsPendingWalkAfresh) {
  makeTable("emp");
  FlatTestConnection* connection = connect();
  autocommit(connection, false);
  FlatTestStatement* statement = query(connection, {"emp"});
  FlatFileDesc* reader = table(statement);
  ASSERT_EQ(insert(reader, 1, "a"), kvSuccess);
  ASSERT_EQ(insert(reader, 2, "b"), kvSuccess);
  ASSERT_EQ(flatStartScan(reader), kvSuccess);
  uint16_t found = 0;
  ASSERT_EQ(flatReadNext(reader, &found), kvSuccess);
  ASSERT_EQ(found, 1);
  ASSERT_NE(reader->getPendingKey(), nullptr);
  uint64_t serial = reader->getPendingSerial();
  ASSERT_EQ(connection->SQLTransact(SQL_COMMIT), SQL_SUCCESS);
  use(connection);
  // The log the cursor walked is gone; a new one has another serial.
  ASSERT_EQ(insert(reader, 3, "c"), kvSuccess);
  ASSERT_NE(reader->getShared()->getChanges()->getSerial(), serial);
  ASSERT_EQ(flatReadNext(reader, &found), kvSuccess);  // the kept cursor goes on safely
  EXPECT_EQ(names(rows(reader)), (std::vector<std::string>{"1:a         ", "2:b         ", "3:c         "}));
  drop(statement);
}

struct Notice {
  uint32_t descriptor, row, position, record;
};
std::vector<Notice> notices;

void noteKeysetRow(BaseStatement*, uint32_t descriptorId, uint32_t keysetRow, uint32_t tablePosition,
                   const void* image, uint16_t imageLength) {
  uint32_t number = 0;
  if (imageLength == 4) std::memcpy(&number, image, 4);
  notices.push_back({descriptorId, keysetRow, tablePosition, number});
}

TEST_F(FlatChangesTest, KeysetsLearnTheFinalIdentifierOfAPendingRow) {
  makeTable("emp");
  FlatTestConnection* connection = connect();
  FlatTestStatement* statement = query(connection, {"emp"});
  FlatFileDesc* reader = table(statement);
  ASSERT_EQ(insert(reader, 1, "stored"), kvSuccess);
  autocommit(connection, false);
  ASSERT_EQ(insert(reader, 2, "pending"), kvSuccess);
  ASSERT_EQ(flatStartScan(reader), kvSuccess);
  uint16_t found = 0;
  ASSERT_EQ(flatReadNext(reader, &found), kvSuccess);
  ASSERT_EQ(flatReadNext(reader, &found), kvSuccess);
  ASSERT_TRUE(reader->isRowFromLog());
  unsigned char image[4];
  reader->getRid()->fullGet(image);
  FlatChangesDesc* changes = reader->getShared()->getChanges();
  uint8_t kind = 0;
  uint32_t entry = 0, exists = 0;
  ASSERT_EQ(changes->findEntry(image, &kind, &entry, &exists), kvSuccess);
  ASSERT_EQ(exists, 1u);
  ASSERT_EQ(changes->addKeysetNotification(entry, 7, 3, 0), kvSuccess);
  ASSERT_EQ(changes->addKeysetNotification(entry, 8, 1, 0), kvSuccess);
  notices.clear();
  FlatConnection::setKeysetNotifier(noteKeysetRow);
  ASSERT_EQ(connection->SQLTransact(SQL_COMMIT), SQL_SUCCESS);
  FlatConnection::setKeysetNotifier(nullptr);
  use(connection);
  // One statement on the connection; each node of the chain is told.
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_EQ(notices[0].descriptor, 7u);
  EXPECT_EQ(notices[0].row, 3u);
  EXPECT_EQ(notices[0].record, 2u) << "the row became record 2";
  EXPECT_EQ(notices[1].descriptor, 8u);
  drop(statement);
}

// A table of key-identified records (no driver of this kind exists yet):
// only what the change log needs of it.
class KeyReader : public FlatFileDesc {
 public:
  KvStatus checkKeyViolation() override {
    ++driverChecks;
    return kvSuccess;
  }
  int driverChecks = 0;
};

TEST_F(FlatChangesTest, ADuplicateKeyInTheLogIsRefusedWith4042) {
  FlatTestConnection* connection = connect();
  autocommit(connection, false);
  KeyReader reader;
  auto* shared = new FlatSharedDesc(connection, &reader);
  shared->setKeyLength(3);
  FlatRid* rid = nullptr;
  ASSERT_EQ(reader.allocRid(&rid), kvSuccess);
  reader.setRid(rid);
  auto insertKey = [&](const char* key) -> KvStatus {
    rid->set(static_cast<const void*>(key));
    if (flatLogBegin(&reader, flatChangeInsert) != kvSuccess) return kvFailure;
    return flatLogEnd(&reader);
  };
  EXPECT_EQ(insertKey("abc"), kvSuccess);
  EXPECT_EQ(reader.driverChecks, 1);
  EXPECT_EQ(insertKey("abd"), kvSuccess);
  EXPECT_EQ(insertKey("abc"), kvFailure);
  EXPECT_EQ(errorsOf(connection), std::vector<uint16_t>{msgDuplicateKey});
  EXPECT_EQ(shared->getChanges()->getEntryCount(), 2u) << "the refused entry is abandoned";
  // A stored row deleted in this transaction frees its key without asking
  // the driver.
  connection->getErrorList().clearErrors();
  rid->set(static_cast<const void*>("xyz"));
  ASSERT_EQ(flatLogBegin(&reader, flatChangeDelete), kvSuccess);
  ASSERT_EQ(flatLogEnd(&reader), kvSuccess);
  int checks = reader.driverChecks;
  EXPECT_EQ(insertKey("xyz"), kvSuccess);
  EXPECT_EQ(reader.driverChecks, checks);
  // Discard the log; the table was never a file.
  shared->clearFlags(FlatSharedDesc::flagPending);
  delete shared->getChanges();
  shared->setChanges(nullptr);
  reader.setShared(nullptr);
  connection->removeSharedDesc(shared, 1, 0);
  connection->clearFlags(BaseConnection::flagTransaction);
}

TEST_F(FlatChangesTest, ACommitThatFailsKeepsWhatItDidNotWrite) {
  for (const char* name : {"t1", "t2", "t3"}) makeTable(name);
  FlatTestConnection* connection = connect();
  autocommit(connection, false);
  FlatTestStatement* s1 = query(connection, {"t1"});
  FlatTestStatement* s2 = query(connection, {"t2"});
  FlatTestStatement* s3 = query(connection, {"t3"});
  // The list is newest first: t3, t2, t1. t2 holds a value its column
  // cannot take.
  ASSERT_EQ(insert(table(s3), 3, "ok"), kvSuccess);
  FlatFileDesc* bad = table(s2);
  ASSERT_EQ(bad->initializeForInsert(), kvSuccess);
  ASSERT_EQ(flatLogBegin(bad, flatChangeInsert), kvSuccess);
  // The column store refuses such a value at once, so it goes into the
  // log behind the store's back.
  EXPECT_EQ(flatStoreColumn(bad, 1, "far too long for ten", 20, flatItChar, 0xFFFFFFFF), kvFailure);
  ASSERT_EQ(bad->getShared()->getChanges()->logValue(bad, 1, "far too long for ten", 20, flatItChar), kvSuccess);
  ASSERT_EQ(flatLogEnd(bad), kvSuccess);
  ASSERT_EQ(insert(table(s1), 1, "ok"), kvSuccess);
  std::map<std::string, std::string> before;
  for (const char* name : {"t1", "t2", "t3"}) before[name] = readFile(tablePath(name));
  // The check before the writes finds it: nothing is written, the error
  // names the table, and a retry cannot succeed either.
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(connection->SQLTransact(SQL_COMMIT), SQL_ERROR);
    use(connection);
    // The table comes first, then the reason.
    ASSERT_EQ(errorsOf(connection).front(), msgCommitTableFailed);
    EXPECT_NE(std::string(kvC(connection->getErrorList().getErrorAtPos(0)->getErrorText())).find("t2"),
              std::string::npos);
    for (const char* name : {"t1", "t2", "t3"}) EXPECT_TRUE(readFile(tablePath(name)) == before[name]) << name;
    EXPECT_EQ(rows(table(s3)).size(), 1u) << "still pending";
  }
  ASSERT_EQ(connection->SQLTransact(SQL_ROLLBACK), SQL_SUCCESS);
  use(connection);
  for (FlatTestStatement* s : {s1, s2, s3}) EXPECT_EQ(table(s)->getShared()->getChanges(), nullptr);
  for (const char* name : {"t1", "t3"}) EXPECT_EQ(rows(table(name == std::string("t1") ? s1 : s3)).size(), 0u);
  drop(s1);
  drop(s2);
  drop(s3);
}

// The column store in a transaction: a value the driver would refuse fails
// the statement instead of the commit; on the blank row of an outer join
// only an empty value is accepted (and nothing is written).
TEST_F(FlatChangesTest, TheColumnStoreChecksValuesAndRefusesTheBlankOuterJoinRow) {
  makeTable("t");
  FlatTestConnection* connection = connect();
  autocommit(connection, false);
  FlatTestStatement* statement = query(connection, {"t"});
  FlatFileDesc* cursor = table(statement);
  ASSERT_EQ(cursor->initializeForInsert(), kvSuccess);
  ASSERT_EQ(flatLogBegin(cursor, flatChangeInsert), kvSuccess);
  EXPECT_EQ(flatStoreColumn(cursor, 1, "far too long for ten", 20, flatItChar, 0xFFFFFFFF), kvFailure);
  EXPECT_EQ(flatStoreColumn(cursor, 1, "fits", 4, flatItChar, 0xFFFFFFFF), kvSuccess);
  cursor->setTableFlags(uint16_t(cursor->getTableFlags() | FlatFileDesc::tableBlankRow));
  connection->getErrorList().clearErrors();
  EXPECT_EQ(flatStoreColumn(cursor, 1, "x", 1, flatItChar, 0xFFFFFFFF), kvFailure);
  ASSERT_NE(connection->getErrorList().getLastError(), nullptr);
  EXPECT_EQ(connection->getErrorList().getLastError()->getNumber(), msgBlankOuterJoinUpdate);
  EXPECT_EQ(flatStoreColumn(cursor, 1, nullptr, 0, flatItChar, 0xFFFFFFFF), kvSuccess);
  cursor->setTableFlags(uint16_t(cursor->getTableFlags() & ~FlatFileDesc::tableBlankRow));
  flatLogAbandon(cursor);
  drop(statement);
}

}  // namespace
