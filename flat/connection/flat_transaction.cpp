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

KvStatus FlatConnection::endTransaction(uint16_t type) {
  const bool commit = type == SQL_COMMIT;
  // The apply stores values through the column store, which must write to
  // the driver, not log again.
  addEngineFlags(flatWriteDirectly);
  FlatTableListLock lock(this);
  KvStatus result = kvSuccess;
  for (FlatSharedDesc* shared = sharedTables_; shared; shared = shared->getNext()) {
    FlatFileDesc* writer = nullptr;
    FlatChangesDesc* changes = shared->getChanges();
    KvStatus status = prepareToCommit(shared, &writer);
    if (status == kvSuccess && !writer) status = kvFailure;
    if (status == kvSuccess && !writer->getRid()) {
      FlatRid* rid = nullptr;
      status = writer->allocRid(&rid);
      if (status == kvSuccess) writer->setRid(rid);
    }
    if (status == kvSuccess) {
      if (commit && result == kvSuccess && changes && changes->getEntryCount()) {
        status = changes->apply(writer);
      } else {
        writer->setUserBit(FlatSharedDesc::allUsers);
        status = writer->unlockRecord(flatLockRecord, nullptr);
      }
    }
    if (status != kvSuccess) result = kvFailure;
    shared->clearFlags(FlatSharedDesc::flagPending);
    delete changes;
    shared->setChanges(nullptr);
    shared->getPendingRows()->tmpTruncate();
    if (writer) {
      writer->setShared(nullptr);
      delete writer;
    }
  }
  trimTableCache();
  longValueStore_.tmpTruncate();
  longValueEnd_ = 0;
  // After the end, a connection in manual-commit mode logs again: the next
  // change opens the next transaction.
  if (getAutocommit()) addEngineFlags(flatWriteDirectly);
  else clearEngineFlags(flatWriteDirectly);
  return result;
}
