// The held-lock entries of a table on one connection; see dbf_lock_table.h.
#include "drivers/dbase/locks/dbf_lock_table.h"

#include "util/error_list.h"
#include "util/memory/ram.h"

DbfLockTable::~DbfLockTable() { ramFree(slots_); }

DbfHeldLock* DbfLockTable::find(uint32_t record) {
  if (record == 0) return nullptr;
  for (uint32_t i = 0; i < slotCount_; ++i)
    if (slots_[i].record == record) return &slots_[i];
  return nullptr;
}

KvStatus DbfLockTable::add(uint32_t record, uint32_t readers, uint32_t updaters, DbfHeldLock** out) {
  *out = nullptr;
  DbfHeldLock* free = nullptr;
  for (uint32_t i = 0; i < slotCount_ && !free; ++i)
    if (slots_[i].record == 0) free = &slots_[i];
  if (!free) {
    if (slotCount_ == capacity_) {
      uint32_t grown = capacity_ ? capacity_ * 2 : 8;
      if (grown > 0x0FFFFFFF) {
        KvErrorKeeper::addMemoryError();
        return kvFailure;
      }
      // ramResize reports its own shortage.
      if (ramResize(&slots_, grown * uint32_t(sizeof(DbfHeldLock))) != kvSuccess) return kvFailure;
      capacity_ = grown;
    }
    free = &slots_[slotCount_++];
  }
  *free = DbfHeldLock{record, readers, updaters};
  ++liveCount_;
  *out = free;
  return kvSuccess;
}

void DbfLockTable::release(DbfHeldLock* entry) {
  if (!entry || entry->record == 0) return;
  *entry = DbfHeldLock{0, 0, 0};
  if (--liveCount_ == 0) {
    ramFree(slots_);
    slots_ = nullptr;
    slotCount_ = 0;
    capacity_ = 0;
  }
}
