// Record, header and whole-file locks of a dBASE table reader (the table
// contract's lock operations), the memo-header lock, the K+V reader's wait
// and the index formats' region locks; see dbf_locks.h.
//
// A connection's readers of one table share its locks (dbf_lock_table.h):
// a reader asking for a record lock that another reader of the connection
// holds only adds its bit, and the byte goes when the last bit does. A
// lock that the connection holds itself is never asked of the system
// again: the OS layer refuses a range its handle holds, which would read
// as "locked by another user" or, for the waiting locks, as a wait that
// never ends.
#include "drivers/dbase/locks/dbf_locks.h"

#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "drivers/dbase/records/dbf_file_desc.h"
#include "drivers/dbase/table/dbf_shared_desc.h"
#include "flat/connection/flat_rid.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "util/files/block_cache.h"
#include "util/os/bos.h"
#include "util/util_message_ids.h"

#include <cstdio>

namespace {

bool overlaps(DbfLockRegion a, DbfLockRegion b) {
  if (!a.length || !b.length) return false;
  return a.offset < uint64_t(b.offset) + b.length && b.offset < uint64_t(a.offset) + a.length;
}

// A refusal because another handle holds the range becomes 3961; other
// failures keep their message.
KvStatus refusedAsRecordLocked() {
  if (KvErrorKeeper::getLastErrorNumber() == kvMsgRegionLocked) {
    KvErrorKeeper::clearLastError();
    addFlatError(stateGeneral, msgRecordLocked);
  }
  return kvFailure;
}

// Whether another connection of this process holds the table's whole-file
// lock: the one lock that outlives the call that took it (it lasts to the
// end of the transaction) and covers bytes others wait for (under K+V the
// header and every record, under FOX the header). That connection lets it
// go only in a later call of its own, never while this thread waits, and
// both may run on this very thread: such a wait would never end, so it
// ends at once as a lock of another user. The header, memo-header and
// update locks of other connections last only through one call of theirs,
// running on another thread, and are waited for as usual.
bool fileLockHeldInProcess(DbfSharedDesc* table) {
  DbfLockRegion region = dbfFileLockRegion(dbfLockGeometryOf(table));
  return bosRegionHeldInProcess(table->getDataHandle(), region.offset, region.length) != 0;
}

KvStatus heldByThisProcess() {
  addFlatError(stateGeneral, msgRecordLocked);
  return kvFailure;
}

// Locks a region, waiting while another handle holds it (or a read is
// refused for it), without limit; a region of the data file of table (null
// for the memo file) is not waited for while another connection of this
// process holds the table's whole-file lock.
KvStatus lockWaiting(int file, DbfLockRegion region, DbfSharedDesc* table) {
  for (uint32_t attempt = 1;; ++attempt) {
    if (bosRegionLock(file, 0, region.offset, region.length) == kvSuccess) return kvSuccess;
    uint16_t number = KvErrorKeeper::getLastErrorNumber();
    if (number != kvMsgRegionLocked && number != kvMsgAccessDenied) return kvFailure;
    KvErrorKeeper::clearLastError();
    if (table && fileLockHeldInProcess(table)) return heldByThisProcess();
    bossleep(dbfLockWaitMs(attempt));
  }
}

// Once a lock is taken, what other programs wrote before they let go must
// be read from the file, not from pages cached before: the process's block
// cache drops the table's pages. (Dropping never writes; the cache is
// write-through.)
void readFreshAfterLock(DbfSharedDesc* table) {
  (void)(bvmFlush(table->getDbfConnection()->getBlockCache(), table->getDataHandle()));
}

void unlockQuietly(int file, DbfLockRegion region) {
  if (region.length && bosRegionLock(file, 1, region.offset, region.length) != kvSuccess)
    KvErrorKeeper::clearLastError();
}

}  // namespace

DbfLockGeometry dbfLockGeometryOf(const DbfSharedDesc* table) {
  return DbfLockGeometry{table->getDbfConnection()->getLockScheme(), table->getHeaderLength(),
                         table->getRecordLength(), table->getProductionIndex()};
}

uint16_t dbfLockWaitMs(uint32_t attempt) { return attempt <= 1 ? 20 : attempt == 2 ? 80 : 320; }

KvStatus dbfLockMemoHeader(DbfSharedDesc* table) {
  DbfLockTable& held = table->locks();
  if (!(table->getLayout() & DbfSharedDesc::layoutMemoFields) || held.memoHeaderHeld) return kvSuccess;
  if (table->memo().open(table) != kvSuccess) return kvFailure;
  if (lockWaiting(table->memo().getHandle(), dbfMemoHeaderLockRegion(dbfLockGeometryOf(table)), nullptr) != kvSuccess)
    return kvFailure;
  held.memoHeaderHeld = true;
  return kvSuccess;
}

void dbfUnlockMemoHeader(DbfSharedDesc* table) {
  DbfLockTable& held = table->locks();
  if (!held.memoHeaderHeld) return;
  unlockQuietly(table->memo().getHandle(), dbfMemoHeaderLockRegion(dbfLockGeometryOf(table)));
  held.memoHeaderHeld = false;
}

KvStatus dbfWaitForRecordWriter(DbfSharedDesc* table, uint32_t recordNumber) {
  DbfLockGeometry geometry = dbfLockGeometryOf(table);
  if (geometry.scheme != dbfLockKv || recordNumber == 0) return kvSuccess;
  DbfLockRegion region = dbfUpdateLockRegion(geometry, recordNumber);
  for (uint32_t attempt = 1;; ++attempt) {
    int locked = 0;
    if (bosRegionTest(table->getDataHandle(), region.offset, region.length, &locked) != kvSuccess) return kvFailure;
    if (!locked) return kvSuccess;
    if (fileLockHeldInProcess(table)) return heldByThisProcess();
    bossleep(dbfLockWaitMs(attempt));
  }
}

KvStatus dbfLockRegion(int file, uint32_t offset, uint32_t length, bool repeat, bool* taken) {
  *taken = false;
  // Each refusal means another handle holds the range; repeating asks
  // until it lets go.
  for (;;) {
    if (bosRegionLock(file, 0, offset, length) == kvSuccess) {
      *taken = true;
      return kvSuccess;
    }
    if (KvErrorKeeper::getLastErrorNumber() != kvMsgRegionLocked) return kvFailure;
    KvErrorKeeper::clearLastError();
    if (!repeat) return kvSuccess;
  }
}

KvStatus dbfLockFirstFreeByte(int file, uint32_t start, uint32_t count, uint32_t* taken) {
  *taken = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (bosRegionLock(file, 0, start + i, 1) == kvSuccess) {
      *taken = start + i;
      return kvSuccess;
    }
    uint16_t number = KvErrorKeeper::getLastErrorNumber();
    if (number == kvMsgInvalidHandle || number == kvMsgNoShare || number == kvMsgLockResources) return kvFailure;
    KvErrorKeeper::clearLastError();
    if (number != kvMsgRegionLocked) {
      char text[16];
      std::snprintf(text, sizeof(text), " %u", unsigned(number));
      kvAddUtilityError(kvMsgRegionLocked);
      KvErrorKeeper::appendTextToLastError(kvU(text));
      return kvFailure;
    }
  }
  kvAddUtilityError(kvMsgRegionLocked);
  return kvFailure;
}

// ---------------------------------------------------------------- the reader's lock operations

KvStatus DbfFileDesc::lockRecord(uint16_t mode) {
  uint32_t n = currentRecord();
  if (lockLevel_ == dbfLockNone || (readerFlags_ & currentDeleted) || n == 0) return kvSuccess;
  DbfSharedDesc* shared = table();
  DbfLockTable& held = shared->locks();
  DbfLockGeometry geometry = dbfLockGeometryOf(shared);
  uint32_t bits = lockBits();
  DbfHeldLock* entry = held.find(n);

  if (mode == flatLockUpdate) {
    if (lockLevel_ == dbfLockFile || geometry.scheme != dbfLockKv) return kvSuccess;
    if (entry && entry->updaters) {
      entry->updaters |= bits;
      return kvSuccess;
    }
    DbfLockRegion region = dbfUpdateLockRegion(geometry, n);
    if (bosRegionLock(shared->getDataHandle(), 0, region.offset, region.length) != kvSuccess)
      return refusedAsRecordLocked();
    // The lock is recorded even without a record lock beside it, so that
    // the unlock that ends the update finds it.
    if (entry) {
      entry->updaters |= bits;
      return kvSuccess;
    }
    if (held.add(n, 0, bits, &entry) != kvSuccess) {
      unlockQuietly(shared->getDataHandle(), region);
      return kvFailure;
    }
    return kvSuccess;
  }

  if (lockLevel_ == dbfLockFile) return lockWholeFile();
  if (entry && entry->readers) {
    entry->readers |= bits;
    return kvSuccess;
  }
  DbfLockRegion region = dbfRecordLockRegion(geometry, n);
  if (bosRegionLock(shared->getDataHandle(), 0, region.offset, region.length) != kvSuccess)
    return refusedAsRecordLocked();
  readFreshAfterLock(shared);
  if (entry) {
    entry->readers = bits;
    return kvSuccess;
  }
  if (held.add(n, bits, 0, &entry) != kvSuccess) {
    unlockQuietly(shared->getDataHandle(), region);
    return kvFailure;
  }
  return kvSuccess;
}

// Removes this reader's bits from one entry (a reader without bits lets
// go at once), unlocking what no reader of the connection holds any more.
void DbfFileDesc::releaseHeldLock(DbfHeldLock* entry, uint16_t mode) {
  DbfSharedDesc* shared = table();
  DbfLockGeometry geometry = dbfLockGeometryOf(shared);
  uint32_t bits = lockBits();
  if (mode == flatLockUpdate) {
    if (!entry->updaters) return;
    entry->updaters = bits ? entry->updaters & ~bits : 0;
    if (!entry->updaters) unlockQuietly(shared->getDataHandle(), dbfUpdateLockRegion(geometry, entry->record));
  } else {
    if (!entry->readers) return;
    entry->readers = bits ? entry->readers & ~bits : 0;
    if (!entry->readers) unlockQuietly(shared->getDataHandle(), dbfRecordLockRegion(geometry, entry->record));
  }
  if (!entry->readers && !entry->updaters) shared->locks().release(entry);
}

KvStatus DbfFileDesc::unlockRecord(uint16_t mode, FlatRid* rid) {
  DbfSharedDesc* shared = table();
  if (!shared) return kvSuccess;
  DbfLockTable& held = shared->locks();
  if (!rid) {
    // The end of a statement or transaction: every lock of this reader.
    if (held.fileLockLength) {
      if (mode != flatLockUpdate) releaseWholeFile();
      return kvSuccess;
    }
    for (uint32_t i = 0; held.liveCount() && i < held.slotCount(); ++i) {
      DbfHeldLock* entry = held.slot(i);
      if (entry->record) releaseHeldLock(entry, mode);
    }
    return kvSuccess;
  }
  uint32_t n = static_cast<FlatNumericRid*>(rid)->getRecordNumber();
  if (DbfHeldLock* entry = held.find(n)) releaseHeldLock(entry, mode);
  return kvSuccess;
}

KvStatus DbfFileDesc::lockWholeFile() {
  DbfSharedDesc* shared = table();
  DbfLockTable& held = shared->locks();
  if (held.fileLockLength) return kvSuccess;
  DbfLockGeometry geometry = dbfLockGeometryOf(shared);
  DbfLockRegion region = dbfFileLockRegion(geometry);
  DbfLockRegion header = dbfHeaderLockRegion(geometry);
  // Under K+V and FOX the region covers the header lock: a header lock
  // this connection holds gives way to the larger lock, which keeps its
  // bytes locked meanwhile.
  bool coverHeader = held.headerHeld && overlaps(region, header);
  if (coverHeader) unlockQuietly(shared->getDataHandle(), header);
  if (bosRegionLock(shared->getDataHandle(), 0, region.offset, region.length) != kvSuccess) {
    if (coverHeader && bosRegionLock(shared->getDataHandle(), 0, header.offset, header.length) != kvSuccess) {
      KvErrorKeeper::clearLastError();
      held.headerHeld = false;
    }
    return refusedAsRecordLocked();
  }
  held.fileLockStart = region.offset;
  held.fileLockLength = region.length;
  held.headerInFileLock = coverHeader;
  readFreshAfterLock(shared);
  return kvSuccess;
}

void DbfFileDesc::releaseWholeFile() {
  DbfSharedDesc* shared = table();
  DbfLockTable& held = shared->locks();
  if (!held.fileLockLength) return;
  unlockQuietly(shared->getDataHandle(), DbfLockRegion{held.fileLockStart, held.fileLockLength});
  held.fileLockLength = 0;
  if (held.headerInFileLock) {
    // The header lock the file lock stood in for is taken back.
    DbfLockRegion header = dbfHeaderLockRegion(dbfLockGeometryOf(shared));
    if (bosRegionLock(shared->getDataHandle(), 0, header.offset, header.length) != kvSuccess) {
      KvErrorKeeper::clearLastError();
      held.headerHeld = false;
    }
    held.headerInFileLock = false;
  }
}

KvStatus DbfFileDesc::lockHeaders() {
  if (lockLevel_ == dbfLockNone) return kvSuccess;
  DbfSharedDesc* shared = table();
  DbfLockTable& held = shared->locks();
  if (!held.headerHeld) {
    DbfLockGeometry geometry = dbfLockGeometryOf(shared);
    DbfLockRegion header = dbfHeaderLockRegion(geometry);
    if (held.fileLockLength && overlaps(DbfLockRegion{held.fileLockStart, held.fileLockLength}, header)) {
      held.headerInFileLock = true;
    } else if (lockWaiting(shared->getDataHandle(), header, shared) != kvSuccess) {
      return kvFailure;
    } else {
      readFreshAfterLock(shared);
    }
    held.headerHeld = true;
  }
  if (lockIndex() != kvSuccess) {
    unlockHeaders(flatLockRecord);
    unlockIndex();
    return kvFailure;
  }
  return kvSuccess;
}

void DbfFileDesc::unlockHeaders(uint16_t mode) {
  DbfSharedDesc* shared = table();
  if (!shared) return;
  DbfLockTable& held = shared->locks();
  if (mode == flatLockRecord && held.headerHeld) {
    // Under a whole-file lock that covers it, the header lock has no lock
    // of its own to release.
    if (!held.headerInFileLock) unlockQuietly(shared->getDataHandle(), dbfHeaderLockRegion(dbfLockGeometryOf(shared)));
    held.headerHeld = false;
    held.headerInFileLock = false;
  }
  uint32_t scheme = shared->getDbfConnection()->getLockScheme();
  if (scheme != dbfLockKv && scheme != dbfLockKvVirtual) unlockIndex();
}
