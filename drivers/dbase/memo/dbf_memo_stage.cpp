// Memo values staged until their record is written; see dbf_memo_stage.h.
#include "drivers/dbase/memo/dbf_memo_stage.h"

#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "util/files/shared_file.h"
#include "util/memory/ram.h"

DbfMemoStage::~DbfMemoStage() {
  delete spool_;
  ramFree(entries_);
}

KvStatus DbfMemoStage::add(KvTmpFile* store, uint16_t columnCount, uint16_t column, const unsigned char* data,
                           uint32_t length, uint32_t offset) {
  if (!entries_ || columnCount_ != columnCount) {
    ramFree(entries_);
    entries_ = static_cast<Entry*>(ramAllocZ(uint32_t(columnCount ? columnCount : 1) * sizeof(Entry)));
    columnCount_ = entries_ ? columnCount : 0;
    staged_ = 0;
    last_ = -1;
    if (spool_) spool_->truncate();
    end_ = 0;
    if (!entries_) return kvFailure;
  }
  if (column >= columnCount_) {
    addOdbcError(stateColumnNumber);
    return kvFailure;
  }
  Entry& entry = entries_[column];
  if (offset == 0) {
    drop(column);
  } else if (last_ != column || !entry.staged || entry.length != offset) {
    // Pieces of one value come in order, one value after the other.
    drop(column);
    addOdbcError(stateGeneral);
    return kvFailure;
  }
  if (!spool_) {
    spool_ = new KvSharedFile(store);
    if (!spool_) {
      KvErrorKeeper::addMemoryError();
      return kvFailure;
    }
  }
  if (uint64_t(end_) + length >= 0xFFFFFFFFull) {
    drop(column);
    addOdbcError(stateGeneral);
    return kvFailure;
  }
  if (length && spool_->write(end_, data, length) != kvSuccess) {
    drop(column);
    return kvFailure;
  }
  if (offset == 0) {
    entry = Entry{true, end_, 0};
    ++staged_;
  }
  entry.length += length;
  end_ += length;
  last_ = column;
  return kvSuccess;
}

void DbfMemoStage::drop(uint16_t column) {
  if (!entries_ || column >= columnCount_ || !entries_[column].staged) return;
  entries_[column].staged = false;
  if (last_ == column) last_ = -1;
  if (--staged_ == 0) clear();
}

void DbfMemoStage::clear() {
  if (entries_)
    for (uint16_t i = 0; i < columnCount_; ++i) entries_[i].staged = false;
  staged_ = 0;
  last_ = -1;
  end_ = 0;
  if (spool_) spool_->truncate();
}

bool DbfMemoStage::get(uint16_t column, uint32_t* length) const {
  if (!entries_ || column >= columnCount_ || !entries_[column].staged) return false;
  *length = entries_[column].length;
  return true;
}

KvStatus DbfMemoStage::read(uint16_t column, uint32_t from, unsigned char* buffer, uint32_t length) {
  uint32_t staged = 0;
  if (!get(column, &staged) || uint64_t(from) + length > staged) {
    addOdbcError(stateGeneral);
    return kvFailure;
  }
  if (length == 0) return kvSuccess;
  return spool_->read(entries_[column].start + from, buffer, length);
}
