// The end of a transaction (FlatConnection::endTransaction): every shared
// table's change log is applied to the file through a writer that the
// driver opens (commit) or dropped (rollback), and every log is discarded
// either way. A failure while committing one table rolls back that table
// and every later one, and the commit fails.
//
// The whole end runs under the table-list lock, so no table opens or closes
// meanwhile; the driver's prepareToCommit therefore opens its writer with
// openDataFile, never openTable (which takes the list lock).
#include "base/statement/base_statement.h"
#include "flat/connection/flat_changes.h"
#include "flat/connection/flat_connection.h"
#include "flat/connection/flat_file_desc.h"
#include "flat/connection/flat_shared_desc.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"

namespace {

FlatKeysetNotifier keysetNotifier = nullptr;

}  // namespace

void FlatConnection::setKeysetNotifier(FlatKeysetNotifier notifier) { keysetNotifier = notifier; }

void FlatConnection::notifyKeysetRow(uint32_t descriptorId, uint32_t keysetRow, uint32_t tablePosition,
                                     const void* image, uint16_t imageLength) {
  if (!keysetNotifier) return;
  statements_.forEach<BaseStatement>([&](BaseStatement* statement) {
    keysetNotifier(statement, descriptorId, keysetRow, tablePosition, image, imageLength);
    return true;
  });
}

namespace {

// The driver's writer for a table, with its record identifier; null on
// failure.
FlatFileDesc* openWriter(FlatConnection* connection, FlatSharedDesc* shared) {
  FlatFileDesc* writer = nullptr;
  KvStatus status = connection->prepareToCommit(shared, &writer);
  if (status == kvSuccess && !writer) {
    addOdbcError(stateGeneral);
    status = kvFailure;
  }
  if (status == kvSuccess && !writer->getRid()) {
    FlatRid* rid = nullptr;
    status = writer->allocRid(&rid);
    if (status == kvSuccess) writer->setRid(rid);
  }
  if (status != kvSuccess && writer) {
    writer->setShared(nullptr);
    delete writer;
    writer = nullptr;
  }
  return writer;
}

void closeWriter(FlatFileDesc* writer) {
  if (!writer) return;
  writer->setShared(nullptr);
  delete writer;
}

bool hasChanges(FlatSharedDesc* shared) {
  return shared->getChanges() && shared->getChanges()->getEntryCount();
}

// Ends a table's part of the transaction: its log is gone.
void discardLog(FlatSharedDesc* shared) {
  shared->clearFlags(FlatSharedDesc::flagPending);
  delete shared->getChanges();
  shared->setChanges(nullptr);
  shared->getPendingRows()->tmpTruncate();
}

uint32_t errorCount() {
  KvErrorList* list = KvErrorKeeper::getErrorList();
  uint32_t count = 0;
  while (list && list->getErrorAtPos(count)) ++count;
  return count;
}

// Names the table whose changes could not be committed, ahead of the
// reasons its failure added (from position mark on), so that an
// application that shows only the first diagnostic still learns which
// table it was.
KvStatus tableFailed(FlatSharedDesc* shared, uint32_t mark) {
  enum : uint32_t { keptReasons = 16 };
  KvError* reasons[keptReasons];
  uint32_t count = 0;
  KvErrorList* list = KvErrorKeeper::getErrorList();
  // Out of memory, the list keeps its order: nothing is moved.
  if (list && list->isOutOfMemory()) list = nullptr;
  for (uint32_t have = errorCount(); list && have > mark; --have) {
    KvError* reason = list->removeLastError();
    if (!reason) break;
    if (count < keptReasons) {
      reasons[count++] = reason;
    } else {
      delete reason;  // beyond the first reasons, the later ones add nothing
    }
  }
  addFlatError(stateGeneral, msgCommitTableFailed) << (shared->getName() ? shared->getName() : kvU(""));
  while (count) KvErrorKeeper::addError(reasons[--count]);
  return kvFailure;
}

}  // namespace

KvStatus FlatConnection::endTransaction(uint16_t type) {
  const bool commit = type == SQL_COMMIT;
  // The apply stores values through the column store, which must write to
  // the driver, not log again.
  addEngineFlags(flatWriteDirectly);
  FlatTableListLock lock(this);
  KvStatus result = kvSuccess;
  // A commit first checks every table's log, so that what the drivers can
  // refuse is found before anything is written; a failure there leaves the
  // whole transaction as it was.
  if (commit) {
    for (FlatSharedDesc* shared = sharedTables_; shared && result == kvSuccess; shared = shared->getNext()) {
      if (!hasChanges(shared)) continue;
      const uint32_t mark = errorCount();
      FlatFileDesc* writer = openWriter(this, shared);
      if (!writer || shared->getChanges()->check(writer) != kvSuccess) result = tableFailed(shared, mark);
      closeWriter(writer);
    }
  }
  // Then each table is written (commit) or dropped (rollback). A table
  // that fails keeps what it did not write, and the tables after it keep
  // their logs: the transaction stays open with them.
  bool failed = result != kvSuccess;
  for (FlatSharedDesc* shared = sharedTables_; shared && !failed; shared = shared->getNext()) {
    const uint32_t mark = errorCount();
    FlatFileDesc* writer = openWriter(this, shared);
    KvStatus status = writer ? kvSuccess : kvFailure;
    if (status == kvSuccess) {
      if (commit && hasChanges(shared)) {
        status = shared->getChanges()->apply(writer);
      } else {
        writer->setUserBit(FlatSharedDesc::allUsers);
        status = writer->unlockRecord(flatLockRecord, nullptr);
      }
    }
    closeWriter(writer);
    if (status != kvSuccess && commit) {
      result = tableFailed(shared, mark);
      failed = true;
      // A log that failed before its first entry was written stays whole.
      if (shared->getChanges() && shared->getChanges()->getEntryCount()) continue;
    } else if (status != kvSuccess) {
      result = kvFailure;
    }
    discardLog(shared);
  }
  if (!failed) {
    trimTableCache();
    longValueStore_.tmpTruncate();
    longValueEnd_ = 0;
  }
  // After the end, a connection in manual-commit mode logs again: the next
  // change opens the next transaction.
  if (getAutocommit()) addEngineFlags(flatWriteDirectly);
  else clearEngineFlags(flatWriteDirectly);
  return result;
}
