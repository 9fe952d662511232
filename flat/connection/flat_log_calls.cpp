// What the insert, update and delete executors call to change a table:
// entries of the change log under its lock, the column store that either
// writes to the driver or logs, the engine's record append, and long values
// in the connection's long-value store. See flat_changes.h.
#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "flat/connection/flat_changes.h"
#include "flat/connection/flat_connection.h"
#include "flat/connection/flat_file_desc.h"
#include "flat/connection/flat_rid.h"
#include "flat/connection/flat_shared_desc.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "util/byte_order.h"
#include "util/files/shared_file.h"

#include <cstring>

namespace {

enum : uint32_t { noLongValue = 0xFFFFFFFF, longPiece = 1024 };

// Long-value offsets are counted from 0; the store's own offsets from 1.
uint32_t storeOffset(uint32_t longOffset) { return longOffset + 1; }

KvStatus writeLongValueHeader(FlatConnection* connection, uint32_t length, uint32_t* offset) {
  uint32_t at = connection->getLongValueEnd();
  if (uint64_t(at) + 4 + length >= 0xFFFFFFF0u) {
    addOdbcError(stateGeneral);
    return kvFailure;
  }
  unsigned char word[4];
  kvPutU32LE(word, length);
  if (connection->getLongValueStore()->tmpWrite(storeOffset(at), word, 4) != kvSuccess) return kvFailure;
  *offset = at;
  return kvSuccess;
}

// Writes a long value that the long-value store holds into the driver's
// column, piece by piece.
KvStatus storeLongValue(FlatFileDesc* cursor, uint16_t column, uint32_t longOffset) {
  FlatConnection* connection = cursor->getShared()->getConnection();
  unsigned char piece[longPiece];
  uint32_t total = 0, got = 0;
  uint32_t from = 0;
  do {
    if (flatReadLongValue(connection, longOffset, from, piece, sizeof(piece), &got, &total) != kvSuccess)
      return kvFailure;
    if (cursor->updateLargeColumn(column, piece, got, from) != kvSuccess) return kvFailure;
    from += got;
  } while (from < total && got);
  return kvSuccess;
}

}  // namespace

KvStatus flatLogBegin(FlatFileDesc* cursor, uint8_t kind) {
  FlatSharedDesc* shared = cursor->getShared();
  FlatConnection* connection = shared->getConnection();
  shared->lockChangeLog();
  FlatChangesDesc* changes = shared->getChanges();
  if (!changes) {
    changes = new FlatChangesDesc(shared);
    if (!changes || changes->initialize() != kvSuccess) {
      delete changes;
      if (!changes) KvErrorKeeper::addMemoryError();
      shared->unlockChangeLog();
      return kvFailure;
    }
    shared->setChanges(changes);
  }
  if (changes->beginEntry(cursor, kind) != kvSuccess) {
    shared->unlockChangeLog();
    return kvFailure;
  }
  // The framework ends only a transaction it knows to be open.
  connection->addFlags(BaseConnection::flagTransaction);
  return kvSuccess;
}

KvStatus flatLogEnd(FlatFileDesc* cursor) {
  FlatSharedDesc* shared = cursor->getShared();
  FlatChangesDesc* changes = shared->getChanges();
  KvStatus status = changes->endEntry(cursor);
  if (status != kvSuccess) changes->abandonEntry();
  shared->unlockChangeLog();
  return status;
}

void flatLogAbandon(FlatFileDesc* cursor) {
  FlatSharedDesc* shared = cursor->getShared();
  if (FlatChangesDesc* changes = shared->getChanges()) changes->abandonEntry();
  shared->unlockChangeLog();
}

KvStatus flatStoreColumn(FlatFileDesc* cursor, uint16_t column, const void* value, uint32_t length,
                         uint32_t internalType, uint32_t longOffset) {
  FlatSharedDesc* shared = cursor->getShared();
  FlatConnection* connection = shared->getConnection();
  FlatSharedField* field = shared->getColumn(column);
  if (!field) {
    addOdbcError(stateColumnNumber);
    return kvFailure;
  }
  // A table standing on its blank outer-join row has no record to change:
  // only an empty value is accepted, and nothing is written.
  if (cursor->getTableFlags() & FlatFileDesc::tableBlankRow) {
    if ((value && length) || longOffset != noLongValue) {
      addFlatError(stateGeneral, msgBlankOuterJoinUpdate);
      return kvFailure;
    }
    return kvSuccess;
  }
  if (connection->isWritingDirectly()) {
    if (longOffset != noLongValue) return storeLongValue(cursor, column, longOffset);
    if (field->isLong()) return cursor->updateLargeColumn(column, value, length, 0);
    return cursor->updateColumn(column, value, length, internalType);
  }
  FlatChangesDesc* changes = shared->getChanges();
  if (!changes) {
    addOdbcError(stateSequence);
    return kvFailure;
  }
  if (field->isLong()) {
    // The log holds the value's place in the long-value store.
    if (longOffset == noLongValue && flatSpoolLongValue(cursor, flatSpoolWhole, value, length, &longOffset) != kvSuccess)
      return kvFailure;
    unsigned char word[4];
    kvPutU32LE(word, longOffset);
    return changes->logValue(cursor, column, word, 4, flatItChar);
  }
  // The driver checks the value now: one it would refuse must fail the
  // statement, not the commit.
  if (cursor->checkValue(column, value, length, internalType) != kvSuccess) return kvFailure;
  return changes->logValue(cursor, column, value, length, internalType);
}

KvStatus flatAppendRecord(FlatFileDesc* cursor, uint16_t fromCount) {
  FlatSharedDesc* shared = cursor->getShared();
  uint32_t number = 0;
  if (fromCount) {
    number = shared->getRecordCount() + 1;
  } else {
    uint32_t records = 0;
    if (cursor->getMaxRecords(&records) != kvSuccess) return kvFailure;
    number = records + 1;
  }
  if (shared->getKeyLength() == 0) {
    if (number > flatMaxRecordNumber || number == 0) {
      addFlatError(stateGeneral, msgRecordNumberLimit)
          << (shared->getName() ? shared->getName() : kvU("")) << uint32_t(flatMaxRecordNumber);
      return kvFailure;
    }
    static_cast<FlatNumericRid*>(cursor->getRid())->setRecordNumber(number);
  }
  shared->addFlags(FlatSharedDesc::flagAppended | FlatSharedDesc::flagChanged);
  if (cursor->writeRecord(flatWriteAppend) != kvSuccess) return kvFailure;
  shared->setRecordCount(shared->getKeyLength() ? shared->getRecordCount() + 1 : number);
  if (!fromCount) return shared->setRecordCnt();
  return kvSuccess;
}

// ---------------------------------------------------------------- long values

KvStatus flatSpoolLongValue(FlatFileDesc* cursor, uint16_t mode, const void* data, uint32_t length,
                            uint32_t* offset) {
  FlatConnection* connection = cursor->getShared()->getConnection();
  KvStatus status = kvSuccess;
  switch (mode) {
    case flatSpoolWhole: {
      connection->lockLongValues();
      uint32_t at = 0;
      status = writeLongValueHeader(connection, length, &at);
      if (status == kvSuccess)
        status = connection->getLongValueStore()->writeHuge(storeOffset(at) + 4, data, length);
      if (status == kvSuccess) {
        connection->setLongValueEnd(at + 4 + length);
        if (offset) *offset = at;
      }
      connection->unlockLongValues();
      return status;
    }
    case flatSpoolBegin:
    case flatSpoolAppend: {
      KvSharedFile* spool = cursor->getSpool();
      if (!spool) {
        spool = new KvSharedFile(connection->getScratchStore());
        if (!spool) {
          KvErrorKeeper::addMemoryError();
          return kvFailure;
        }
        cursor->setSpool(spool);
      }
      if (mode == flatSpoolBegin) {
        spool->truncate();
        cursor->setSpoolLength(0);
      }
      uint32_t at = cursor->getSpoolLength();
      if (uint64_t(at) + length >= 0xFFFFFFF0u) {
        addOdbcError(stateGeneral);
        return kvFailure;
      }
      if (length && spool->write(at, data, length) != kvSuccess) return kvFailure;
      cursor->setSpoolLength(at + length);
      return kvSuccess;
    }
    case flatSpoolFinish: {
      KvSharedFile* spool = cursor->getSpool();
      uint32_t total = spool ? cursor->getSpoolLength() : 0;
      connection->lockLongValues();
      uint32_t at = 0;
      status = writeLongValueHeader(connection, total, &at);
      unsigned char piece[longPiece];
      for (uint32_t done = 0; status == kvSuccess && done < total;) {
        uint32_t n = total - done > longPiece ? uint32_t(longPiece) : total - done;
        status = spool->read(done, piece, n);
        if (status == kvSuccess)
          status = connection->getLongValueStore()->tmpWrite(storeOffset(at) + 4 + done, piece, n);
        done += n;
      }
      if (status == kvSuccess) {
        connection->setLongValueEnd(at + 4 + total);
        if (offset) *offset = at;
      }
      connection->unlockLongValues();
      if (spool) spool->truncate();
      cursor->setSpoolLength(0);
      return status;
    }
    default:
      addOdbcError(stateGeneral);
      return kvFailure;
  }
}

KvStatus flatReadLongValue(FlatConnection* connection, uint32_t offset, uint32_t from, void* buffer,
                           uint32_t length, uint32_t* got, uint32_t* total) {
  *got = 0;
  *total = 0;
  connection->lockLongValues();
  KvStatus status = kvSuccess;
  unsigned char word[4];
  if (uint64_t(offset) + 4 > connection->getLongValueEnd()) {
    addOdbcError(stateGeneral);
    status = kvFailure;
  }
  if (status == kvSuccess) status = connection->getLongValueStore()->tmpRead(storeOffset(offset), word, 4);
  if (status == kvSuccess) {
    *total = kvGetU32LE(word);
    if (uint64_t(offset) + 4 + *total > connection->getLongValueEnd()) {
      addOdbcError(stateGeneral);
      status = kvFailure;
    }
  }
  if (status == kvSuccess && from < *total) {
    uint32_t n = *total - from < length ? *total - from : length;
    status = connection->getLongValueStore()->readHuge(storeOffset(offset) + 4 + from, buffer, n);
    if (status == kvSuccess) *got = n;
  }
  connection->unlockLongValues();
  return status;
}
