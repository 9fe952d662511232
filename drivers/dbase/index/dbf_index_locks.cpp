// Lock bytes and reader-slot regions of the index files; see
// dbf_index_locks.h.
#include "drivers/dbase/index/dbf_index_locks.h"

#include "drivers/dbase/index/dbf_index_file.h"
#include "drivers/dbase/locks/dbf_locks.h"
#include "util/error_list.h"
#include "util/os/bos.h"

KvStatus dbfIndexLockWaiting(int file, uint32_t offset, uint32_t length) {
  for (uint32_t attempt = 1;; ++attempt) {
    if (bosRegionLock(file, 0, offset, length) == kvSuccess) return kvSuccess;
    if (KvErrorKeeper::getLastErrorNumber() != kvMsgRegionLocked) return kvFailure;
    KvErrorKeeper::clearLastError();
    bossleep(dbfLockWaitMs(attempt));
  }
}

void dbfIndexUnlock(int file, uint32_t offset, uint32_t length) {
  if (bosRegionLock(file, 1, offset, length) != kvSuccess) KvErrorKeeper::clearLastError();
}

KvStatus dbfIndexWaitUnlocked(int file, uint32_t offset, uint32_t length) {
  for (uint32_t attempt = 1;; ++attempt) {
    int locked = 0;
    if (bosRegionTest(file, offset, length, &locked) != kvSuccess) return kvFailure;
    if (!locked) return kvSuccess;
    bossleep(dbfLockWaitMs(attempt));
  }
}

KvStatus dbfIndexHoldLockByte(DbfIndexFile* file, uint32_t offset) {
  if (file->lockByteHolders == 0 && dbfIndexLockWaiting(file->getHandle(), offset, 1) != kvSuccess)
    return kvFailure;
  ++file->lockByteHolders;
  return kvSuccess;
}

void dbfIndexReleaseLockByte(DbfIndexFile* file, uint32_t offset) {
  if (file->lockByteHolders == 0) return;
  if (--file->lockByteHolders == 0) dbfIndexUnlock(file->getHandle(), offset, 1);
}

KvStatus dbfIndexLockRegionForWrite(int file, uint32_t base, uint64_t ownSlots, bool* oneRegion,
                                    uint64_t* lockedBytes) {
  *oneRegion = false;
  *lockedBytes = 0;
  uint32_t gate = base + dbfIndexSlotCount;
  if (!ownSlots) {
    if (bosRegionLock(file, 0, base, dbfIndexRegionBytes) == kvSuccess) {
      *oneRegion = true;
      return kvSuccess;
    }
    if (KvErrorKeeper::getLastErrorNumber() != kvMsgRegionLocked) return kvFailure;
    KvErrorKeeper::clearLastError();
    if (dbfIndexLockWaiting(file, gate, 1) != kvSuccess) return kvFailure;
    if (dbfIndexLockWaiting(file, base, dbfIndexSlotCount) != kvSuccess) {
      dbfIndexUnlock(file, gate, 1);
      return kvFailure;
    }
    return kvSuccess;
  }
  if (dbfIndexLockWaiting(file, gate, 1) != kvSuccess) return kvFailure;
  uint64_t locked = uint64_t(1) << dbfIndexSlotCount;
  for (uint32_t i = 0; i < dbfIndexSlotCount; ++i) {
    if (ownSlots & (uint64_t(1) << i)) continue;
    if (dbfIndexLockWaiting(file, base + i, 1) != kvSuccess) {
      dbfIndexUnlockRegionForWrite(file, base, false, locked);
      return kvFailure;
    }
    locked |= uint64_t(1) << i;
  }
  *lockedBytes = locked;
  return kvSuccess;
}

void dbfIndexUnlockRegionForWrite(int file, uint32_t base, bool oneRegion, uint64_t lockedBytes) {
  if (oneRegion) {
    dbfIndexUnlock(file, base, dbfIndexRegionBytes);
    return;
  }
  if (!lockedBytes) {
    dbfIndexUnlock(file, base + dbfIndexSlotCount, 1);
    dbfIndexUnlock(file, base, dbfIndexSlotCount);
    return;
  }
  for (uint32_t i = 0; i <= dbfIndexSlotCount; ++i)
    if (lockedBytes & (uint64_t(1) << i)) dbfIndexUnlock(file, base + i, 1);
}

KvStatus dbfIndexLockSlot(int file, uint32_t base, uint32_t* slot) {
  *slot = 0;
  if (dbfIndexWaitUnlocked(file, base + dbfIndexSlotCount, 1) != kvSuccess) return kvFailure;
  return dbfLockFirstFreeByte(file, base, dbfIndexSlotCount, slot);
}
