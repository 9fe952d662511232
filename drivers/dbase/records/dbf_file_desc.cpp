// Readers of .DBF tables: open, scans, reads by record number, appends,
// rewrites and deletes, the transaction bytes and the index names; see
// dbf_file_desc.h. Values are in dbf_values.cpp.
#include "drivers/dbase/records/dbf_file_desc.h"

#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "drivers/dbase/connection/dbf_connection.h"
#include "drivers/dbase/dbase_message_ids.h"
#include "drivers/dbase/locks/dbf_locks.h"
#include "flat/connection/flat_rid.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "util/files/block_cache.h"
#include "util/byte_order.h"
#include "util/memory/ram.h"

#include <cstring>
#include <strings.h>

namespace {

// The first byte of the transaction bytes: the lock level in bits 0-1
// (RECORD 2, FILE 1, NONE 0) and bit 2 for "deleted records included".
enum : uint8_t { txnLevelBits = 0x3, txnLevelRecord = 2, txnLevelFile = 1, txnIncludeDeleted = 0x4 };
enum : uint16_t { transactionInfoBytes = 5 };

// A table with a production index (header byte 28) has an index file that
// the programs sharing it keep up to date with every change. This driver
// does not maintain index files yet, so a change would leave that index
// stale for them: the change is refused (S1C00) and the file stays as it
// was. Reading such a table is unaffected.
KvStatus refuseStaleIndex(const DbfSharedDesc* table) {
  if (!table->getProductionIndex()) return kvSuccess;
  addOdbcError(stateNotCapable);
  return kvFailure;
}

}  // namespace

// ---------------------------------------------------------------- DbfIndexName

DbfIndexName::~DbfIndexName() { ramFree(text_); }

KvStatus DbfIndexName::set(const unsigned char* text, uint16_t kind) {
  unsigned char* copy = ramAllocStr(text);
  if (!copy) return kvFailure;
  ramFree(text_);
  text_ = copy;
  kind_ = kind;
  return kvSuccess;
}

// ---------------------------------------------------------------- DbfFileDesc

DbfFileDesc::DbfFileDesc(DbfConnection* connection) : connection_(connection) {
  if (connection) {
    if (connection->getEngineFlags() & flatOem) readerFlags_ |= readerOem;
    setLockLevel(connection->getLockingLevel());
  }
}

DbfFileDesc::~DbfFileDesc() {
  ramFree(recordBuffer_);
  ramFree(writeBuffer_);
  delete indexNames_;
}

uint32_t DbfFileDesc::currentRecord() const {
  return rid_ ? static_cast<FlatNumericRid*>(rid_)->getRecordNumber() : 0;
}

void DbfFileDesc::setCharset(bool oem) {
  readerFlags_ |= charsetGiven;
  if (oem) readerFlags_ |= readerOem;
  else readerFlags_ &= ~uint32_t(readerOem);
}

KvStatus DbfFileDesc::makeIndexNames() {
  if (indexNames_) {
    indexNames_->deleteContents();
    return kvSuccess;
  }
  indexNames_ = new KvArray();
  if (!indexNames_) {
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  indexNames_->setOwnsObjects(true);
  return kvSuccess;
}

KvStatus DbfFileDesc::allocateBuffer() {
  uint32_t length = table()->getRecordLength();
  ramFree(recordBuffer_);
  ramFree(writeBuffer_);
  recordBuffer_ = static_cast<unsigned char*>(ramAlloc(length + 2));
  writeBuffer_ = static_cast<unsigned char*>(ramAlloc(length + 1));
  if (!recordBuffer_ || !writeBuffer_) return kvFailure;
  std::memset(recordBuffer_, ' ', length);
  recordBuffer_[length] = dbfEndOfFile;
  recordBuffer_[length + 1] = 0;
  return kvSuccess;
}

KvStatus DbfFileDesc::openDataFile(FlatConnection* connection, const unsigned char* name) {
  return attach(connection, name, false);
}

KvStatus DbfFileDesc::openExclusive(FlatConnection* connection, const unsigned char* name) {
  return attach(connection, name, true);
}

KvStatus DbfFileDesc::attach(FlatConnection* connection, const unsigned char* name, bool exclusive) {
  auto* dbc = static_cast<DbfConnection*>(connection);
  if (!connection_) connection_ = dbc;
  if (DbfSharedDesc* found = dbc->findSharedTable(name)) {
    if (exclusive) {
      // An idle table the cache kept holds the file: it goes, so that the
      // exclusive open can have the file to itself.
      if (!found->isIdle()) {
        addOdbcError(stateGeneral, msgDbfCannotOpenExclusive) << found->getName();
        return kvFailure;
      }
      connection->removeSharedDesc(found, 1, 1);
    } else {
      return attachShared(found, name);
    }
  }
  DbfSharedDesc* shared = nullptr;
  if (DbfSharedDesc::open(dbc, this, name, exclusive, isOem(), &shared) != kvSuccess) return kvFailure;
  if (allocateBuffer() != kvSuccess) return kvFailure;
  return makeRid();
}

KvStatus DbfFileDesc::attachShared(DbfSharedDesc* found, const unsigned char* name) {
  if (found->getUserMask() == 0xFFFFFFFF) {
    addFlatError(stateGeneral, msgSharedOpenLimit) << found->getName();
    return kvFailure;
  }
  if (bool(found->isOem()) != bool(isOem())) {
    addFlatWarning(stateWarning, msgCharsetMismatch);
    setCharset(found->isOem());
  }
  shared_ = found;
  if (found->refreshRecordCount() != kvSuccess || allocateBuffer() != kvSuccess) return kvFailure;
  return makeRid();
}

KvStatus DbfFileDesc::attachForCommit(DbfSharedDesc* shared) {
  shared_ = shared;
  setLockLevel(connection_ ? connection_->getLockingLevel() : 0);
  if (shared->isOem()) readerFlags_ |= readerOem;
  else readerFlags_ &= ~uint32_t(readerOem);
  if (allocateBuffer() != kvSuccess) return kvFailure;
  return makeRid();
}

KvStatus DbfFileDesc::getMaxRecords(uint32_t* out) {
  if (table()->refreshRecordCount() != kvSuccess) return kvFailure;
  if (out) *out = table()->getRecordCount();
  return kvSuccess;
}

KvStatus DbfFileDesc::resetToFirstRecord() {
  position_ = 0;
  if (getMaxRecords(nullptr) != kvSuccess) return kvFailure;
  return bvmFlush(table()->getDbfConnection()->getBlockCache(), table()->getDataHandle());
}

KvStatus DbfFileDesc::readNextRec(uint16_t* found) {
  *found = 0;
  auto* rid = static_cast<FlatNumericRid*>(rid_);
  // Each turn moves the position on by one, and a candidate beyond the
  // count ends the scan: the loop ends within the table's records.
  for (;;) {
    uint32_t candidate = position_ + 1;
    if (candidate > table()->getRecordCount() || (recordLimit_ && candidate > recordLimit_)) return kvSuccess;
    position_ = candidate;
    rid->setRecordNumber(candidate);
    GetRecRetType state = getRecFound;
    if (readRecord(&state) != kvSuccess) return kvFailure;
    if (state == getRecPastEnd) {
      rid->reset();
      return kvSuccess;
    }
    if (state == getRecGone) continue;
    if (!(readerFlags_ & currentDeleted) && !(readerFlags_ & readLive)) continue;
    *found = 1;
    return kvSuccess;
  }
}

KvStatus DbfFileDesc::readRecord(GetRecRetType* out) {
  uint32_t n = currentRecord();
  if (n == 0 || n > table()->getRecordCount()) {
    *out = getRecPastEnd;
    return kvSuccess;
  }
  uint32_t length = table()->getRecordLength();
  uint32_t got = 0;
  if (!memoStage_.isEmpty()) memoStage_.clear();
  if (dbfWaitForRecordWriter(table(), n) != kvSuccess) return kvFailure;
  int hint = accessMode_ == flatAccessById ? 1 : 0;
  if (table()->readRecordBytes(n, recordBuffer_, &got, hint) != kvSuccess) return kvFailure;
  // A record the file ends inside is not a record: a count larger than the
  // file's records ends a scan there, and no byte of an earlier record is
  // ever taken for one of this.
  if (got != length) {
    std::memset(recordBuffer_, ' ', length);
    *out = getRecPastEnd;
    return kvSuccess;
  }
  if (recordBuffer_[0] == dbfEndOfFile) recordBuffer_[0] = dbfLiveMark;
  readerFlags_ &= ~uint32_t(currentDeleted);
  if (recordBuffer_[0] == dbfDeletedMark) {
    readerFlags_ |= currentDeleted;
    *out = (readerFlags_ & readDeleted) ? getRecFound : getRecGone;
    return kvSuccess;
  }
  recordBuffer_[0] = dbfLiveMark;
  *out = getRecFound;
  return kvSuccess;
}

KvStatus DbfFileDesc::getRecordID(void* out) {
  rid_->fullGet(out);
  return kvSuccess;
}

KvStatus DbfFileDesc::setRecordID() { return kvSuccess; }

KvStatus DbfFileDesc::setRecordPosition() {
  GetRecRetType state = getRecFound;
  return readRecord(&state);
}

KvStatus DbfFileDesc::initializeForInsert() {
  if (!memoStage_.isEmpty()) memoStage_.clear();
  std::memset(recordBuffer_, ' ', table()->getRecordLength());
  return kvSuccess;
}

KvStatus DbfFileDesc::writeRecord(uint16_t mode) {
  // What refuses the record refuses its memo values too: they are written
  // only when the record will be.
  KvStatus refused = refuseStaleIndex(table());
  uint32_t n = currentRecord();
  uint32_t length = table()->getRecordLength();
  if (refused == kvSuccess && n == 0) {
    addOdbcError(stateGeneral);
    refused = kvFailure;
  }
  if (refused == kvSuccess && table()->isReadOnly()) {
    addFlatError(stateGeneral, msgTableReadOnly);
    refused = kvFailure;
  }
  if (refused != kvSuccess) {
    memoStage_.clear();
    return kvFailure;
  }
  if (mode == flatWriteAppend && table()->reserveRecords(n, 1) != kvSuccess) {
    memoStage_.clear();
    return kvFailure;
  }
  if (writeStagedMemos() != kvSuccess) return kvFailure;
  // The buffer holds the file's bytes: fields the statement assigned were
  // converted as they were stored, the others are as they were read.
  if (mode != flatWriteAppend) return table()->writeRecordBytes(n, recordBuffer_, length);
  recordBuffer_[0] = dbfLiveMark;
  return table()->appendRecordBytes(n, recordBuffer_, length + 1);
}

KvStatus DbfFileDesc::reserveSpace(uint32_t appendedRecords, uint32_t longValues, uint64_t longBytes) {
  return table()->reserveSpace(appendedRecords, longValues, longBytes);
}

KvStatus DbfFileDesc::deleteRecord() {
  if (refuseStaleIndex(table()) != kvSuccess) return kvFailure;
  uint32_t n = currentRecord();
  const unsigned char mark = dbfDeletedMark;
  if (table()->writeRecordBytes(n, &mark, 1) != kvSuccess) return kvFailure;
  recordBuffer_[0] = dbfDeletedMark;
  readerFlags_ |= currentDeleted;
  return kvSuccess;
}

KvStatus DbfFileDesc::useIndex(const unsigned char* name) {
  while (name && *name == ' ') ++name;
  // No index of the table is open yet, so none can be used.
  addOdbcError(stateGeneral, msgDbfUseUnopenedIndex) << (name ? name : kvU(""));
  return kvFailure;
}

KvStatus DbfFileDesc::closeIndex(const unsigned char* name) {
  if (!name || !name[0]) return kvSuccess;
  addOdbcError(stateGeneral, msgDbfBadIndexName) << name;
  return kvFailure;
}

void DbfFileDesc::resetToAllocatedState() {}

KvStatus DbfFileDesc::initializeIndexes(FlatStatement*) {
  if (!indexNames_) return kvSuccess;
  for (uint16_t i = 0; i < indexNames_->getCount(); ++i) {
    auto* entry = static_cast<DbfIndexName*>(indexNames_->getAt(i));
    if (entry->getKind() == DbfIndexName::useIndex) {
      if (useIndex(entry->getText()) != kvSuccess) return kvFailure;
      continue;
    }
    // Index files are not read yet: a statement that names one fails
    // rather than run without it.
    addOdbcError(stateNotCapable);
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus DbfFileDesc::getTransactionInfo(uint8_t** data, uint16_t* length) {
  uint8_t level = lockLevel_ == dbfLockRecord ? txnLevelRecord : lockLevel_ == dbfLockFile ? txnLevelFile : 0;
  transactionInfo_[0] = uint8_t(level | ((readerFlags_ & readDeleted) ? txnIncludeDeleted : 0));
  kvPutU32LE(transactionInfo_ + 1, userBit_);
  *data = transactionInfo_;
  *length = transactionInfoBytes;
  return kvSuccess;
}

KvStatus DbfFileDesc::setTransactionInfo(uint8_t* data, uint16_t length) {
  if (!data || length < transactionInfoBytes) return kvSuccess;
  // Bits, not values: a byte of 6 is RECORD with deleted records included.
  uint8_t level = data[0] & txnLevelBits;
  setLockLevel(level == txnLevelFile ? uint16_t(dbfLockFile) : level ? uint16_t(dbfLockRecord) : uint16_t(dbfLockNone));
  if (data[0] & txnIncludeDeleted) readerFlags_ |= readDeleted;
  else readerFlags_ &= ~uint32_t(readDeleted);
  return kvSuccess;
}
