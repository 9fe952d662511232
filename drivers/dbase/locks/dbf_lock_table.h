// DbfLockTable: the locks one connection holds on one table, kept in the
// table's DbfSharedDesc and shared by every reader of the table on that
// connection. The operating system's locks belong to the connection's open
// file, so its readers never block one another: each held record lock
// carries a mask of the readers (their user bits) that asked for it, and
// the byte is unlocked only when the last of them lets it go.
//
// The table also records whether the table's header lock and the memo
// file's header lock are held, and the region of a whole-file lock
// (length 0 when none). It only keeps this state; the operations that lock
// and unlock (dbf_record_locks.cpp) change it.
#pragma once

#include "util/kv_types.h"

// One locked record: its number (0 for a freed slot), the readers holding
// its record lock and the readers holding its update lock (K+V only).
struct DbfHeldLock {
  uint32_t record;
  uint32_t readers;
  uint32_t updaters;
};

class DbfLockTable {
 public:
  DbfLockTable() = default;
  ~DbfLockTable();
  DbfLockTable(const DbfLockTable&) = delete;
  DbfLockTable& operator=(const DbfLockTable&) = delete;

  // The live entry of a record, or null.
  DbfHeldLock* find(uint32_t record);
  // A new live entry (a freed slot is reused); fails only for want of
  // memory, with the memory error.
  KvStatus add(uint32_t record, uint32_t readers, uint32_t updaters, DbfHeldLock** out);
  // Frees an entry; when none is live any more, the slots go too.
  void release(DbfHeldLock* entry);
  uint32_t liveCount() const { return liveCount_; }
  uint32_t slotCount() const { return slotCount_; }
  DbfHeldLock* slot(uint32_t i) { return &slots_[i]; }

  bool headerHeld = false;
  bool headerInFileLock = false;  // the whole-file lock covers the header lock's bytes
  bool memoHeaderHeld = false;
  uint32_t fileLockStart = 0;
  uint32_t fileLockLength = 0;  // 0: no whole-file lock

 private:
  DbfHeldLock* slots_ = nullptr;  // ramAlloc'd, slotCount_ used
  uint32_t slotCount_ = 0;
  uint32_t capacity_ = 0;
  uint32_t liveCount_ = 0;
};
