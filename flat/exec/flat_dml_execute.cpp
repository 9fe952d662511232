// The execute half of INSERT, UPDATE and DELETE (the parse half is
// flat/sql/flat_dml_parse.cpp). Each runs inside the statement's lock
// bracket and writes through the table contract: straight to the driver
// when the connection writes directly, otherwise into the table's change
// log, where the work waits for the end of the transaction.
//
// UPDATE and DELETE first collect their rows through the rewritten query's
// keyset, locking each row's record (kind 1) as it is found, and only then
// change them, so a row is never seen twice by its own statement. UPDATE
// evaluates every value of a row before it stores any, so that all of them
// read the row as it was (SET a = b, b = a swaps).
//
// Locks: a DmlLocks guard holds every lock a statement takes (the index
// lock, the kind-2 lock of the row being rewritten, the headers of an
// append, the kind-1 locks of the collected rows) and releases them on
// every path out, success or failure, so that no failure leaves a lock to
// block other processes. In manual-commit mode the kind-1 locks of rows
// the statement changed are kept until the transaction ends (the end
// releases every record lock); a failed statement releases those it took.
#include "flat/sql/flat_dml.h"

#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "flat/connection/flat_changes.h"
#include "flat/connection/flat_connection.h"
#include "flat/connection/flat_file_desc.h"
#include "flat/connection/flat_rid.h"
#include "flat/connection/flat_shared_desc.h"
#include "flat/exec/flat_dml_values.h"
#include "flat/exec/flat_statement.h"
#include "flat/expr/flat_byte_code.h"
#include "flat/query/flat_keyset.h"
#include "flat/sql/flat_select_field.h"
#include "util/memory/ram.h"

#include <new>

namespace {

// The evaluated values of one row, one per pair.
class RowValues {
 public:
  explicit RowValues(uint16_t count) : count_(count) {
    values_ = static_cast<FlatDmlValue*>(ramAllocZ(uint32_t(sizeof(FlatDmlValue)) * (count ? count : 1)));
    if (values_)
      for (uint16_t i = 0; i < count_; ++i) new (&values_[i]) FlatDmlValue();
  }
  ~RowValues() {
    if (!values_) return;
    for (uint16_t i = 0; i < count_; ++i) values_[i].~FlatDmlValue();
    ramFree(values_);
  }
  RowValues(const RowValues&) = delete;
  RowValues& operator=(const RowValues&) = delete;

  KvStatus ready() const {
    if (values_) return kvSuccess;
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  FlatDmlValue& operator[](uint16_t i) { return values_[i]; }

 private:
  FlatDmlValue* values_ = nullptr;
  uint16_t count_;
};

// Which collected rows this statement locked: one byte a keyset row.
class RowMarks {
 public:
  RowMarks() = default;
  ~RowMarks() { ramFree(marks_); }
  RowMarks(const RowMarks&) = delete;
  RowMarks& operator=(const RowMarks&) = delete;

  KvStatus set(uint32_t row) {
    if (row > capacity_) {
      uint32_t capacity = capacity_ ? capacity_ : 256;
      while (capacity < row) capacity = capacity <= 0x7FFFFFFF ? capacity * 2 : 0xFFFFFFFF;
      void* block = marks_;
      if (!block) {
        block = ramAllocZ(capacity);
        if (!block) {
          KvErrorKeeper::addMemoryError();
          return kvFailure;
        }
      } else if (ramResizeZ(&block, capacity) != kvSuccess) {
        return kvFailure;
      }
      marks_ = static_cast<uint8_t*>(block);
      capacity_ = capacity;
    }
    marks_[row - 1] = 1;
    if (row > last_) last_ = row;
    return kvSuccess;
  }
  bool isSet(uint32_t row) const { return row >= 1 && row <= capacity_ && marks_[row - 1]; }
  uint32_t getLast() const { return last_; }

 private:
  uint8_t* marks_ = nullptr;
  uint32_t capacity_ = 0;
  uint32_t last_ = 0;
};

// Every lock one statement execution holds; the destructor releases what
// is still held. Releases after a failure keep the failure's own error.
class DmlLocks {
 public:
  DmlLocks(FlatFileDesc* table, RidFileMgr* keyset) : table_(table), keyset_(keyset) {}
  ~DmlLocks() {
    releaseUpdateLock();
    releaseHeaders();
    releaseIndex();
    releaseRows();
  }
  DmlLocks(const DmlLocks&) = delete;
  DmlLocks& operator=(const DmlLocks&) = delete;

  KvStatus lockIndex() {
    if (table_->lockIndex() != kvSuccess) return kvFailure;
    index_ = true;
    return kvSuccess;
  }
  void releaseIndex() {
    if (index_) table_->unlockIndex();
    index_ = false;
  }
  KvStatus lockHeaders() {
    if (table_->lockHeaders() != kvSuccess) return kvFailure;
    headers_ = true;
    return kvSuccess;
  }
  void releaseHeaders() {
    if (headers_) table_->unlockHeaders(flatLockRecord);
    headers_ = false;
  }
  // The kind-2 lock of the current record while it is rewritten.
  KvStatus lockUpdate() {
    if (table_->lockRecord(flatLockUpdate) != kvSuccess) return kvFailure;
    update_ = true;
    return kvSuccess;
  }
  // Releases it once the record is written.
  KvStatus unlockUpdate() {
    if (!update_) return kvSuccess;
    update_ = false;
    return table_->unlockRecord(flatLockUpdate, table_->getRid());
  }
  void releaseUpdateLock() {
    if (unlockUpdate() != kvSuccess) KvErrorKeeper::clearLastError();
  }
  // Kind-1 lock of the current record as keyset row.
  KvStatus lockRow(uint32_t row) {
    if (table_->lockRecord(flatLockRecord) != kvSuccess) return kvFailure;
    return rows_.set(row);
  }
  // Hands the row locks over to the transaction, which releases them when
  // it ends.
  void keepRows() { keepRows_ = true; }
  void releaseRows() {
    if (keepRows_) return;
    for (uint32_t row = 1; row <= rows_.getLast(); ++row) {
      if (!rows_.isSet(row)) continue;
      GetRecRetType result = getRecFound;
      if (keyset_->getRid(row, getRidIdsOnly, &result) != kvSuccess) {
        KvErrorKeeper::clearLastError();
        continue;
      }
      if (table_->unlockRecord(flatLockRecord, table_->getRid()) != kvSuccess) KvErrorKeeper::clearLastError();
    }
    keepRows_ = true;
  }

 private:
  FlatFileDesc* table_;
  RidFileMgr* keyset_;
  RowMarks rows_;
  bool index_ = false;
  bool headers_ = false;
  bool update_ = false;
  bool keepRows_ = false;
};

// An open change-log entry; abandoned unless ended.
class LogEntry {
 public:
  explicit LogEntry(FlatFileDesc* table) : table_(table) {}
  ~LogEntry() {
    if (open_) flatLogAbandon(table_);
  }
  LogEntry(const LogEntry&) = delete;
  LogEntry& operator=(const LogEntry&) = delete;
  KvStatus begin(uint8_t kind) {
    if (flatLogBegin(table_, kind) != kvSuccess) return kvFailure;
    open_ = true;
    return kvSuccess;
  }
  KvStatus end() {
    open_ = false;
    return flatLogEnd(table_);
  }

 private:
  FlatFileDesc* table_;
  bool open_ = false;
};

// Reads the rows of the query through the keyset, locking each record
// (kind 1) unless the statement names its row by CURRENT OF (the cursor
// that stands on it holds it) or the record is a pending insert of this
// transaction (no other process can see it). A record with changes
// pending in this transaction is locked already and stays so.
KvStatus collectRows(FlatSqlDesc* query, RidFileMgr* keyset, DmlLocks* locks, uint32_t* rows) {
  *rows = 0;
  FlatFileDesc* table = query->getFirstTable();
  const uint8_t* where = query->getWhereCode();
  const bool currentOf = where && *where == opCurrentOf;
  const bool locking = table->getLockLevel() != 0 && !currentOf;
  query->addFlags(FlatSqlDesc::flagRestart);
  for (uint32_t row = 1;; ++row) {
    GetRecRetType result = getRecFound;
    if (keyset->getRecord(row, &result) != kvSuccess) return kvFailure;
    if (result == getRecPastEnd) break;
    *rows = row;
    if (!locking || result != getRecFound) continue;
    FlatRid* rid = table->getRid();
    if (rid->getState() == ridPendingInsert) continue;
    uint32_t pending = 0;
    if (flatHasPendingChanges(table->getShared(), rid->fullGet(), &pending) != kvSuccess) return kvFailure;
    if (pending) continue;
    if (locks->lockRow(row) != kvSuccess) return kvFailure;
  }
  query->clearFlags(FlatSqlDesc::flagRestart);
  return kvSuccess;
}

// Whether any of the assigned columns belongs to a unique key.
bool assignsKey(FlatSqlDesc* query, uint16_t pairs, uint16_t step) {
  for (uint16_t k = 0; k < pairs; ++k) {
    FlatSelectField* column = query->getItem(uint16_t(k * step));
    FlatSharedField* field = column->table->getShared()->getColumn(column->column);
    if (field && (field->getFlags() & FlatSharedField::flagUniqueKey)) return true;
  }
  return false;
}

// The driver's key check of the row with its new values: the values go
// into the record buffer, checkKeyViolation2 decides, and the buffer is
// restored (restore: the insert's blank record or the stored record).
KvStatus checkKeys(FlatFileDesc* table, FlatSqlDesc* query, uint16_t pairs, uint16_t step, RowValues& values,
                   bool forInsert) {
  KvStatus status = kvSuccess;
  for (uint16_t k = 0; status == kvSuccess && k < pairs; ++k) {
    FlatDmlValue& value = values[k];
    if (value.getLongOffset() != FlatDmlValue::noLongOffset) continue;  // long columns are never keys
    const uint16_t column = query->getItem(uint16_t(k * step))->column;
    status = table->updateColumn(column, value.getBytes(), value.getLength(), value.getInternalType());
  }
  if (status == kvSuccess) status = table->checkKeyViolation2();
  KvStatus restored = forInsert ? table->initializeForInsert() : table->setRecordPosition();
  return status == kvSuccess ? restored : status;
}

KvStatus evaluateRow(FlatStatement* statement, FlatSqlDesc* query, uint16_t pairs, uint16_t step, uint16_t valueBase,
                     RowValues& values) {
  for (uint16_t k = 0; k < pairs; ++k)
    if (flatDmlEvaluate(statement, query, query->getItem(uint16_t(k * step)),
                        query->getItem(uint16_t(valueBase + k * step)), &values[k]) != kvSuccess)
      return kvFailure;
  return kvSuccess;
}

KvStatus storeRow(FlatFileDesc* table, FlatSqlDesc* query, uint16_t pairs, uint16_t step, RowValues& values) {
  for (uint16_t k = 0; k < pairs; ++k)
    if (flatDmlStore(table, query->getItem(uint16_t(k * step))->column, values[k]) != kvSuccess) return kvFailure;
  return kvSuccess;
}

}  // namespace

// ---------------------------------------------------------------- INSERT

KvStatus FlatInsertDesc::execute() {
  affectedRows_ = 0;
  FlatFileDesc* table = query_->getFirstTable();
  FlatSharedDesc* shared = table->getShared();
  const bool direct = statement_->getFlatConnection()->isWritingDirectly();
  query_->setProducedRows(0);
  RowValues values(pairs_);
  if (values.ready() != kvSuccess) return kvFailure;
  if (table->nullifyRid() != kvSuccess || table->initializeForInsert() != kvSuccess) return kvFailure;
  // The new row has no record: its values cannot read one.
  table->setTableFlags(uint16_t(table->getTableFlags() | FlatFileDesc::tableNotPositioned));
  if (evaluateRow(statement_, query_, pairs_, 1, pairs_, values) != kvSuccess) return kvFailure;
  if (assignsKey(query_, pairs_, 1) && checkKeys(table, query_, pairs_, 1, values, 1) != kvSuccess)
    return kvFailure;

  DmlLocks locks(table, nullptr);
  LogEntry entry(table);
  if (!direct) {
    if (entry.begin(flatChangeInsert) != kvSuccess) return kvFailure;
  } else if (table->getLockLevel() && locks.lockHeaders() != kvSuccess) {
    return kvFailure;
  }
  if (storeRow(table, query_, pairs_, 1, values) != kvSuccess) return kvFailure;
  if (table->getMaxRecords(nullptr) != kvSuccess) return kvFailure;
  if (!direct) {
    if (entry.end() != kvSuccess) return kvFailure;
    shared->addFlags(FlatSharedDesc::flagAppended);
    affectedRows_ = 1;
    return kvSuccess;
  }
  if (flatAppendRecord(table, 0) != kvSuccess) return kvFailure;
  // The record is written: from here on the row counts even if the
  // bookkeeping after it fails.
  affectedRows_ = 1;
  if (shared->updateDir() != kvSuccess || table->addKeyToIndex() != kvSuccess) return kvFailure;
  locks.releaseHeaders();
  return shared->mangleRids();
}

// ---------------------------------------------------------------- UPDATE

KvStatus FlatUpdateDesc::execute() {
  affectedRows_ = 0;
  FlatFileDesc* table = query_->getFirstTable();
  FlatSharedDesc* shared = table->getShared();
  const bool direct = statement_->getFlatConnection()->isWritingDirectly();
  const bool locking = direct && table->getLockLevel() != 0;
  RowValues values(pairs_);
  if (values.ready() != kvSuccess) return kvFailure;
  RidFileMgr keyset(statement_, query_);
  DmlLocks locks(table, &keyset);
  if (locking && locks.lockIndex() != kvSuccess) return kvFailure;
  uint32_t rows = 0;
  if (collectRows(query_, &keyset, &locks, &rows) != kvSuccess) return kvFailure;
  const bool keys = assignsKey(query_, pairs_, 2);

  for (uint32_t row = 1; row <= rows; ++row) {
    GetRecRetType result = getRecFound;
    if (keyset.getRid(row, direct ? getRidPosition : getRidRead, &result) != kvSuccess) return kvFailure;
    if (result != getRecFound) continue;
    if (evaluateRow(statement_, query_, pairs_, 2, 1, values) != kvSuccess) return kvFailure;
    // A pending insert has no stored record for the driver to check; the
    // change log refuses its duplicate keys itself.
    if (keys && table->getRid()->getState() != ridPendingInsert &&
        checkKeys(table, query_, pairs_, 2, values, 0) != kvSuccess)
      return kvFailure;
    if (direct) {
      if (locking && locks.lockUpdate() != kvSuccess) return kvFailure;
      for (uint16_t k = 0; k < pairs_; ++k) {
        uint16_t removed = 0;
        if (table->deleteKeyFromIndex(query_->getItem(uint16_t(2 * k))->column, &removed) != kvSuccess)
          return kvFailure;
      }
      if (storeRow(table, query_, pairs_, 2, values) != kvSuccess) return kvFailure;
      if (table->writeRecord(flatWriteUpdate) != kvSuccess) return kvFailure;
      for (uint16_t k = 0; k < pairs_; ++k)
        if (table->addKeyToIndex(query_->getItem(uint16_t(2 * k))->column) != kvSuccess) return kvFailure;
      if (locks.unlockUpdate() != kvSuccess) return kvFailure;
    } else {
      LogEntry entry(table);
      if (entry.begin(flatChangeUpdate) != kvSuccess) return kvFailure;
      if (storeRow(table, query_, pairs_, 2, values) != kvSuccess) return kvFailure;
      if (entry.end() != kvSuccess) return kvFailure;
    }
    ++affectedRows_;
  }
  if (direct && (shared->updateDir() != kvSuccess || shared->mangleRids() != kvSuccess)) return kvFailure;
  if (!direct) locks.keepRows();
  return kvSuccess;
}

// ---------------------------------------------------------------- DELETE

KvStatus FlatDeleteDesc::execute() {
  affectedRows_ = 0;
  FlatFileDesc* table = query_->getFirstTable();
  FlatSharedDesc* shared = table->getShared();
  const bool direct = statement_->getFlatConnection()->isWritingDirectly();
  RidFileMgr keyset(statement_, query_);
  DmlLocks locks(table, &keyset);
  uint32_t rows = 0;
  if (collectRows(query_, &keyset, &locks, &rows) != kvSuccess) return kvFailure;

  for (uint32_t row = 1; row <= rows; ++row) {
    GetRecRetType result = getRecFound;
    if (keyset.getRid(row, direct ? getRidSetId : getRidRead, &result) != kvSuccess) return kvFailure;
    if (result != getRecFound) continue;
    if (direct) {
      if (table->deleteRecord() != kvSuccess) return kvFailure;
    } else {
      LogEntry entry(table);
      if (entry.begin(flatChangeDelete) != kvSuccess) return kvFailure;
      if (entry.end() != kvSuccess) return kvFailure;
    }
    ++affectedRows_;
  }
  if (direct && shared->mangleRids() != kvSuccess) return kvFailure;
  if (!direct) locks.keepRows();
  return kvSuccess;
}
