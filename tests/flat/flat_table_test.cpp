// The table contract: the engine versions of the reader's operations, the
// open-user mask of a shared table and its limit, and the identifier a
// reader gets for its table's key length.
#include "tests/flat/flat_test_support.h"

#include "base/handles/base_messages.h"
#include "flat/flat_message_ids.h"

namespace {

class FlatTableTest : public FlatTestFixture {};

TEST_F(FlatTableTest, EngineVersionsOfTheContract) {
  FlatTestConnection* connection = connect();
  FlatFileDesc reader;
  uint16_t found = 7;
  GetRecRetType answer = getRecFound;
  unsigned char buffer[16];
  int32_t length = 0;
  uint8_t kind = 0;
  uint32_t number = 0;
  // Operations a driver must supply fail with S1C00.
  const std::vector<std::pair<const char*, KvStatus>> must = {
      {"openDataFile", reader.openDataFile(connection, kvU("x"))},
      {"getMaxRecords", reader.getMaxRecords(&number)},
      {"readNextRec", reader.readNextRec(&found)},
      {"readRecord", reader.readRecord(&answer)},
      {"getFieldData", reader.getFieldData(0, buffer, &length, sizeof(buffer), &kind)},
      {"getRecordID", reader.getRecordID(buffer)},
      {"setRecordID", reader.setRecordID()},
      {"setRecordPosition", reader.setRecordPosition()},
      {"updateColumn", reader.updateColumn(0, buffer, 1, flatItChar)},
      {"updateLargeColumn", reader.updateLargeColumn(0, buffer, 1, 0)},
      {"writeRecord", reader.writeRecord(flatWriteAppend)},
      {"deleteRecord", reader.deleteRecord()},
      {"useIndex", reader.useIndex(kvU("i"))},
      {"closeIndex", reader.closeIndex(kvU("i"))},
      {"checkValue", reader.checkValue(0, buffer, 1, flatItChar)},
      {"loadKeyBuffer", reader.loadKeyBuffer(nullptr, 0, buffer)},
  };
  for (const auto& m : must) EXPECT_EQ(m.second, kvFailure) << m.first;
  EXPECT_EQ(found, 0) << "a scan of a driver without readNextRec ends";
  EXPECT_EQ(connection->getErrorList().getCount(), must.size());
  EXPECT_STREQ(connection->getErrorList().getErrorAtPos(0)->getSqlState(), "");
  EXPECT_EQ(connection->getErrorList().getErrorAtPos(0)->getStateIndex(), stateNotCapable);
  connection->getErrorList().clearErrors();

  uint8_t* info = buffer;
  uint16_t infoLength = 9;
  uint16_t usable = 9, removed = 9;
  uint32_t got = 9, total = 9;
  const std::vector<std::pair<const char*, KvStatus>> zero = {
      {"resetToFirstRecord", reader.resetToFirstRecord()},
      {"initializeForInsert", reader.initializeForInsert()},
      {"lockRecord", reader.lockRecord(flatLockRecord)},
      {"unlockRecord", reader.unlockRecord(flatLockRecord, nullptr)},
      {"lockHeaders", reader.lockHeaders()},
      {"lockIndex", reader.lockIndex()},
      {"deleteKeyFromIndex", reader.deleteKeyFromIndex(0, &removed)},
      {"addKeyToIndex(column)", reader.addKeyToIndex(uint16_t(0))},
      {"addKeyToIndex()", reader.addKeyToIndex()},
      {"addIndexEntry", reader.addIndexEntry(buffer)},
      {"getLargeColumn", reader.getLargeColumn(0, buffer, 4, 0, &got, &total)},
      {"getTransactionInfo", reader.getTransactionInfo(&info, &infoLength)},
      {"setTransactionInfo", reader.setTransactionInfo(buffer, 1)},
      {"initializeIndexes", reader.initializeIndexes(nullptr)},
      {"evaluateOptDesc", reader.evaluateOptDesc(&usable)},
      {"nullifyRid", reader.nullifyRid()},
      {"checkKeyViolation", reader.checkKeyViolation()},
      {"checkKeyViolation2", reader.checkKeyViolation2()},
  };
  for (const auto& z : zero) EXPECT_EQ(z.second, kvSuccess) << z.first;
  EXPECT_EQ(info, nullptr);
  EXPECT_EQ(infoLength, 0);
  EXPECT_EQ(usable, 0);
  EXPECT_EQ(removed, 0);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(total, 0u);
  EXPECT_EQ(reader.getMaxPages(&number), 0);
  // The engine's plan object belongs to the reader from then on.
  FlatOptDesc* plan = reader.allocOptDesc(nullptr);
  EXPECT_NE(plan, nullptr);
  EXPECT_EQ(reader.getOptDesc(), plan);
  EXPECT_EQ(connection->getErrorList().getCount(), 0u);
}

TEST_F(FlatTableTest, AllocRidFollowsTheKeyLength) {
  FlatTestConnection* connection = connect();
  for (uint16_t keyLength : {uint16_t(0), uint16_t(10)}) {
    FlatFileDesc reader;
    auto* shared = new FlatSharedDesc(connection, &reader);
    EXPECT_EQ(reader.getShared(), shared);
    EXPECT_EQ(connection->getSharedTables(), shared);
    shared->setKeyLength(keyLength);
    FlatRid* rid = nullptr;
    ASSERT_EQ(reader.allocRid(&rid), kvSuccess);
    if (keyLength == 0) {
      EXPECT_NE(dynamic_cast<FlatNumericRid*>(rid), nullptr);
      EXPECT_EQ(shared->getRidImageLength(), 4);
    } else {
      auto* key = dynamic_cast<FlatKeyRid*>(rid);
      ASSERT_NE(key, nullptr);
      EXPECT_EQ(key->getKeyLength(), 10);
      EXPECT_EQ(shared->getRidImageLength(), 11);
    }
    delete rid;
    reader.setShared(nullptr);
    connection->removeSharedDesc(shared, 1, 0);
    EXPECT_EQ(connection->getSharedTables(), nullptr);
  }
}

TEST_F(FlatTableTest, ReadersOfOneTableShareItAndTakeTheLowestFreeBit) {
  makeTable("emp");
  FlatTestConnection* connection = connect();
  FlatTestStatement* first = query(connection, {"emp"});
  FlatTestStatement* second = query(connection, {"emp"});
  FlatFileDesc* a = table(first);
  FlatFileDesc* b = table(second);
  EXPECT_EQ(a->getShared(), b->getShared());
  EXPECT_EQ(a->getUserBit(), 0x1u);
  EXPECT_EQ(b->getUserBit(), 0x2u);
  FlatSharedDesc* shared = a->getShared();
  EXPECT_EQ(shared->getUserMask(), 0x3u);
  EXPECT_EQ(shared->getTableId(), 1u);
  drop(first);
  EXPECT_EQ(shared->getUserMask(), 0x2u);
  FlatTestStatement* third = query(connection, {"emp"});
  EXPECT_EQ(table(third)->getUserBit(), 0x1u);
  EXPECT_EQ(table(third)->getShared(), shared);
  drop(second);
  drop(third);
}

TEST_F(FlatTableTest, AThirtyThirdReaderIsRefusedAndTheOthersKeepTheTable) {
  makeTable("emp");
  FlatTestConnection* connection = connect();
  std::vector<FlatTestStatement*> statements;
  for (int i = 0; i < 32; ++i) statements.push_back(query(connection, {"emp"}));
  FlatSharedDesc* shared = table(statements[0])->getShared();
  EXPECT_EQ(shared->getUserMask(), 0xFFFFFFFFu);
  KvStatus status = kvSuccess;
  FlatTestStatement* extra = query(connection, {"emp"}, &status);
  EXPECT_EQ(status, kvFailure);
  EXPECT_EQ(errorsOf(connection), std::vector<uint16_t>{msgSharedOpenLimit});
  EXPECT_NE(std::string(kvC(connection->getErrorList().getErrorAtPos(0)->getErrorText())).find("emp.ftt"),
            std::string::npos);
  drop(extra);
  // The refused reader's end released nothing: the table is still whole.
  EXPECT_EQ(shared->getUserMask(), 0xFFFFFFFFu);
  EXPECT_EQ(connection->getSharedTables(), shared);
  for (FlatTestStatement* s : statements) drop(s);
}

}  // namespace
