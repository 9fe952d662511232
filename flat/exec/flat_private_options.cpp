// The file drivers' private statement options 1040-1050: a caller adds,
// changes, deletes and locks the current row of the prepared single-table
// query, value by value. In autocommit mode the changes go straight to the
// driver, bracketed by its header, record and index locks when its table
// locks; in manual-commit mode they go to the table's change log.
//
// Values (option 1043) wait as pending values until 1040 (add) or 1044
// (update) stores them, or until a failure or 1050 drops them. Each keeps
// its C type's internal type; the driver's checkValue and updateColumn see
// the value in that type.
#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "flat/connection/flat_changes.h"
#include "flat/connection/flat_connection.h"
#include "flat/connection/flat_file_desc.h"
#include "flat/connection/flat_rid.h"
#include "flat/connection/flat_shared_desc.h"
#include "flat/exec/flat_statement.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "flat/sql/flat_descriptor.h"
#include "util/memory/ram.h"

#include <cstring>

namespace {

// C types a value may come in, their internal types and fixed sizes (0:
// counted by the length).
struct CTypeRow {
  int16_t cType;
  uint32_t internalType;
  uint32_t bytes;
};
const CTypeRow cTypes[] = {
    {SQL_C_CHAR, flatItChar, 0},          {SQL_C_BINARY, flatItBinary, 0},
    {SQL_C_LONG, flatItInt32, 4},         {SQL_C_SLONG, flatItInt32, 4},
    {SQL_C_ULONG, flatItUInt32, 4},       {SQL_C_SHORT, flatItInt16, 2},
    {SQL_C_SSHORT, flatItInt16, 2},       {SQL_C_USHORT, flatItUInt16, 2},
    {SQL_C_TINYINT, flatItInt8, 1},       {SQL_C_STINYINT, flatItInt8, 1},
    {SQL_C_UTINYINT, flatItUInt8, 1},     {SQL_C_BIT, flatItBit, 1},
    {SQL_C_FLOAT, flatItFloat, 4},        {SQL_C_DOUBLE, flatItDouble, 8},
    {SQL_C_DATE, flatItDate, 6},          {SQL_C_TIME, flatItTime, 6},
    {SQL_C_TIMESTAMP, flatItTimestamp, 16},
};

const CTypeRow* findCType(int16_t cType) {
  for (const CTypeRow& row : cTypes)
    if (row.cType == cType) return &row;
  return nullptr;
}

// One value waiting for option 1040 or 1044.
class FlatPendingValue : public KvObject {
 public:
  ~FlatPendingValue() override { ramFree(data); }
  uint16_t column = 0;
  uint32_t internalType = 0;
  uint32_t length = 0;
  unsigned char* data = nullptr;
};

FlatPendingValue* pendingAt(KvArray& values, uint16_t i) { return static_cast<FlatPendingValue*>(values.getAt(i)); }

KvStatus notCapable() {
  addOdbcError(stateNotCapable);
  return kvFailure;
}

}  // namespace

FlatFileDesc* FlatStatement::firstTable() const {
  FlatSqlDesc* query = head_ ? head_->getSqlDesc() : nullptr;
  return query ? query->getFirstTable() : nullptr;
}

void FlatStatement::dropPendingValues() { pendingValues_.deleteContents(); }

KvStatus FlatStatement::storePendingValues(FlatFileDesc* table, uint16_t* anyKey) {
  if (anyKey) *anyKey = 0;
  for (uint16_t i = 0; i < pendingValues_.getCount(); ++i) {
    FlatPendingValue* value = pendingAt(pendingValues_, i);
    if (anyKey) {
      FlatSharedField* field = table->getShared()->getColumn(value->column);
      if (field && (field->getFlags() & FlatSharedField::flagUniqueKey)) *anyKey = 1;
      continue;
    }
    if (flatStoreColumn(table, value->column, value->data, value->length, value->internalType, 0xFFFFFFFF) !=
        kvSuccess)
      return kvFailure;
  }
  return kvSuccess;
}

KvStatus FlatStatement::privateOption(uint16_t option, void* argument) {
  if (!head_ || !head_->getSqlDesc() || !firstTable()) {
    if (option == flatOptionUnlock) return kvSuccess;
    if (option != flatOptionRowCount) {
      addOdbcError(stateSequence);
      return kvFailure;
    }
  }
  if (!argument && (option == flatOptionLockForChange || option == flatOptionRowValue ||
                    option == flatOptionUpdateRow || option == flatOptionRowCount)) {
    addOdbcError(stateGeneral);
    return kvFailure;
  }
  switch (option) {
    case flatOptionAddRow: return addRow(firstTable());
    case flatOptionDeleteRow: return deleteRow(firstTable());
    case flatOptionLockForChange: return lockForChange(static_cast<const FlatRowRequest*>(argument));
    case flatOptionRowValue: return rowValue(static_cast<const FlatRowValue*>(argument));
    case flatOptionUpdateRow: return updateRow(static_cast<const FlatRowRequest*>(argument));
    case flatOptionLockCurrentRow: return lockCurrentRow();
    case flatOptionRowCount: return countRows(static_cast<uint32_t*>(argument));
    case flatOptionUnlock: return unlockRow(static_cast<const FlatRowRequest*>(argument));
    default: return notCapable();
  }
}

// 1040: the pending values become a new row.
KvStatus FlatStatement::addRow(FlatFileDesc* table) {
  FlatConnection* connection = getFlatConnection();
  if (!(connection->getEngineFlags() & flatInsertAllowed)) {
    dropPendingValues();
    return notCapable();
  }
  FlatSharedDesc* shared = table->getShared();
  uint16_t anyKey = 0;
  KvStatus status = storePendingValues(table, &anyKey);
  if (status == kvSuccess && anyKey) {
    for (uint16_t i = 0; status == kvSuccess && i < pendingValues_.getCount(); ++i) {
      FlatPendingValue* value = pendingAt(pendingValues_, i);
      status = table->updateColumn(value->column, value->data, value->length, value->internalType);
    }
    if (status == kvSuccess) status = table->checkKeyViolation2();
    if (status == kvSuccess) status = table->initializeForInsert();
  }
  if (status == kvSuccess && connection->isWritingDirectly()) {
    bool locks = table->getLockLevel() != 0;
    bool headersLocked = false;
    if (locks) {
      status = table->lockHeaders();
      headersLocked = status == kvSuccess;
    }
    if (status == kvSuccess) status = table->getMaxRecords(nullptr);
    if (status == kvSuccess) status = storePendingValues(table, nullptr);
    if (status == kvSuccess) status = flatAppendRecord(table, 0);
    if (status == kvSuccess) status = shared->updateDir();
    if (status == kvSuccess) status = table->addKeyToIndex();
    if (headersLocked) table->unlockHeaders(flatLockRecord);
    if (status == kvSuccess) status = shared->mangleRids();
  } else if (status == kvSuccess) {
    status = flatLogBegin(table, flatChangeInsert);
    if (status == kvSuccess) {
      status = storePendingValues(table, nullptr);
      if (status == kvSuccess) status = flatLogEnd(table);
      else flatLogAbandon(table);
    }
    if (status == kvSuccess) shared->addFlags(FlatSharedDesc::flagAppended);
  }
  changeClaimed_ = 0;
  dropPendingValues();
  return status;
}

// 1041: the current row goes.
KvStatus FlatStatement::deleteRow(FlatFileDesc* table) {
  FlatConnection* connection = getFlatConnection();
  if (!(connection->getEngineFlags() & flatDeleteAllowed)) return notCapable();
  FlatSharedDesc* shared = table->getShared();
  if (connection->isWritingDirectly()) {
    bool locks = table->getLockLevel() != 0;
    KvStatus status = table->setRecordID();
    bool locked = false;
    if (status == kvSuccess && locks) {
      status = table->lockRecord(flatLockRecord);
      locked = status == kvSuccess;
    }
    if (status == kvSuccess) status = table->deleteRecord();
    if (locked) {
      KvStatus unlocked = table->unlockRecord(flatLockRecord, nullptr);
      if (status == kvSuccess) status = unlocked;
    }
    if (status == kvSuccess) status = shared->mangleRids();
    return status;
  }
  // A row already deleted in this transaction cannot go again.
  unsigned char image[0x10000];
  table->getRid()->fullGet(image);
  if (FlatChangesDesc* changes = shared->getChanges()) {
    uint8_t kind = 0;
    uint32_t offset = 0, found = 0;
    if (changes->findEntry(image, &kind, &offset, &found) != kvSuccess) return kvFailure;
    if (found && (kind == flatChangeDelete || kind == flatChangeDeleteInserted)) {
      addFlatError(stateGeneral, msgRecordLockGone);
      return kvFailure;
    }
  }
  if (flatLogBegin(table, flatChangeDelete) != kvSuccess) return kvFailure;
  return flatLogEnd(table);
}

// 1042: the row is prepared for an update (request 1044) or an insert.
KvStatus FlatStatement::lockForChange(const FlatRowRequest* request) {
  FlatFileDesc* table = nullptr;
  uint16_t column = 0;
  if (head_->getSqlDesc()->resolveItem(request->item ? request->item : 1, &table, &column) != kvSuccess)
    return kvFailure;
  FlatConnection* connection = getFlatConnection();
  if (request->request == flatOptionUpdateRow) {
    if (!connection->isWritingDirectly()) {
      changeClaimed_ = 1;
      return kvSuccess;
    }
    KvStatus status = table->setRecordID();
    if (status != kvSuccess || !table->getLockLevel()) return status;
    if (table->lockHeaders() != kvSuccess) return kvFailure;
    status = table->lockRecord(flatLockRecord);
    table->unlockHeaders(flatLockRecord);
    if (status == kvSuccess && table->lockIndex() == kvSuccess) table->unlockIndex();
    return status;
  }
  if (table->nullifyRid() != kvSuccess || table->initializeForInsert() != kvSuccess) return kvFailure;
  if (!connection->isWritingDirectly()) changeClaimed_ = 1;
  return kvSuccess;
}

// 1043: one value of the row, checked by the driver and kept pending.
KvStatus FlatStatement::rowValue(const FlatRowValue* value) {
  FlatFileDesc* table = nullptr;
  uint16_t column = 0;
  if (head_->getSqlDesc()->resolveItem(value->item, &table, &column) != kvSuccess) return kvFailure;
  const CTypeRow* row = findCType(int16_t(value->cType));
  if (!row) {
    addOdbcError(stateNotCapable);
    return kvFailure;
  }
  int32_t length = value->length;
  if (length == 0) length = SQL_NTS;
  uint32_t bytes = row->bytes;
  if (!bytes) {
    if (length == SQL_NTS) {
      if (!value->data) {
        addOdbcError(stateStringLength, msgNegativeParamLength) << uint32_t(value->item);
        return kvFailure;
      }
      bytes = uint32_t(std::strlen(static_cast<const char*>(value->data)));
    } else if (length < 0) {
      addOdbcError(stateStringLength, msgNegativeParamLength) << uint32_t(value->item);
      return kvFailure;
    } else {
      bytes = uint32_t(length);
    }
  }
  auto* pending = new FlatPendingValue();
  if (!pending) {
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  pending->column = column;
  pending->internalType = row->internalType;
  pending->length = bytes;
  pending->data = static_cast<unsigned char*>(ramAlloc(bytes ? bytes : 1));
  KvStatus status = pending->data && (bytes == 0 || value->data) ? kvSuccess : kvFailure;
  if (status == kvSuccess && bytes) std::memcpy(pending->data, value->data, bytes);
  if (status != kvSuccess && pending->data) addOdbcError(stateGeneral);
  if (status == kvSuccess) status = table->checkValue(column, pending->data, bytes, row->internalType);
  if (status == kvSuccess) status = pendingValues_.add(pending);
  if (status != kvSuccess) {
    delete pending;
    if (getFlatConnection()->isWritingDirectly() && table->getLockLevel()) {
      // Releases after a failure; the failure's own error stands.
      kvIgnoreStatus(table->unlockRecord(flatLockUpdate, nullptr));
      kvIgnoreStatus(table->unlockRecord(flatLockRecord, nullptr));
    }
    changeClaimed_ = 0;
    return kvFailure;
  }
  return kvSuccess;
}

// 1044: the pending values change the current row.
KvStatus FlatStatement::updateRow(const FlatRowRequest* request) {
  FlatConnection* connection = getFlatConnection();
  FlatFileDesc* table = nullptr;
  uint16_t column = 0;
  if (!(connection->getEngineFlags() & flatUpdateAllowed)) {
    dropPendingValues();
    return notCapable();
  }
  if (head_->getSqlDesc()->resolveItem(request->item ? request->item : 1, &table, &column) != kvSuccess) {
    dropPendingValues();
    return kvFailure;
  }
  FlatSharedDesc* shared = table->getShared();
  uint16_t anyKey = 0;
  KvStatus status = storePendingValues(table, &anyKey);
  if (status == kvSuccess && anyKey) {
    status = table->setRecordPosition();
    for (uint16_t i = 0; status == kvSuccess && i < pendingValues_.getCount(); ++i) {
      FlatPendingValue* value = pendingAt(pendingValues_, i);
      status = table->updateColumn(value->column, value->data, value->length, value->internalType);
    }
    if (status == kvSuccess) status = table->checkKeyViolation2();
  }
  if (status == kvSuccess && connection->isWritingDirectly()) {
    bool locks = table->getLockLevel() != 0;
    status = table->setRecordPosition();
    for (uint16_t i = 0; status == kvSuccess && i < pendingValues_.getCount(); ++i) {
      uint16_t removed = 0;
      status = table->deleteKeyFromIndex(pendingAt(pendingValues_, i)->column, &removed);
    }
    if (status == kvSuccess) status = storePendingValues(table, nullptr);
    if (status == kvSuccess) status = table->writeRecord(flatWriteUpdate);
    for (uint16_t i = 0; status == kvSuccess && i < pendingValues_.getCount(); ++i)
      status = table->addKeyToIndex(pendingAt(pendingValues_, i)->column);
    if (locks && table->unlockRecord(flatLockUpdate, nullptr) != kvSuccess) status = kvFailure;
    if (status == kvSuccess) status = shared->updateDir();
    if (locks) {
      table->unlockIndex();
      table->unlockHeaders(flatLockUpdate);
      if (table->unlockRecord(flatLockRecord, nullptr) != kvSuccess) status = kvFailure;
    }
    if (status == kvSuccess) status = shared->mangleRids();
  } else if (status == kvSuccess) {
    status = flatLogBegin(table, flatChangeUpdate);
    if (status == kvSuccess) {
      status = storePendingValues(table, nullptr);
      if (status == kvSuccess) status = flatLogEnd(table);
      else flatLogAbandon(table);
    }
  }
  changeClaimed_ = 0;
  dropPendingValues();
  return status;
}

// 1045: the current row of every FROM table is read again and locked.
KvStatus FlatStatement::lockCurrentRow() {
  FlatSqlDesc* query = head_->getSqlDesc();
  if (query->getFlags() & FlatSqlDesc::flagRestart) return kvSuccess;
  for (FlatFileDesc* table = query->getFirstTable(); table; table = table->getNextTable()) {
    GetRecRetType answer = getRecFound;
    if (table->readRecord(&answer) != kvSuccess) return kvFailure;
    if (answer == getRecGone) {
      addFlatError(stateGeneral, msgRecordLockGone);
      return kvFailure;
    }
  }
  for (FlatFileDesc* table = query->getFirstTable(); table; table = table->getNextTable()) {
    if (!table->getLockLevel()) continue;
    if (table->lockRecord(flatLockRecord) != kvSuccess) {
      // Releases after a failure; the failure's own error stands.
      for (FlatFileDesc* undo = query->getFirstTable(); undo != table; undo = undo->getNextTable())
        if (undo->getLockLevel()) kvIgnoreStatus(undo->unlockRecord(flatLockRecord, nullptr));
      return kvFailure;
    }
  }
  return kvSuccess;
}

// 1047: the rows of the statement as far as they are known.
KvStatus FlatStatement::countRows(uint32_t* count) {
  uint32_t rows = 0;
  FlatSqlDesc* query = head_ ? head_->getSqlDesc() : nullptr;
  if (!head_) {
    rows = 0;
  } else if (statementKind_ >= 50) {
    rows = head_->getAffectedRows();
  } else if (statementKind_ != flatKindSelect) {
    rows = query ? query->getProducedRows() : 0;
  } else if (engineFlags_ & stmtUnion) {
    rows = rowCount_ < 0 ? 0 : uint32_t(rowCount_);
  } else if ((engineFlags_ & stmtFresh) && orderByText_) {
    rows = 0;
  } else if (query && (query->getFlags() & FlatSqlDesc::flagGrouped) && query->getRowCount() >= 0) {
    rows = uint32_t(query->getRowCount());
  } else if (cachedResultCount_) {
    rows = cachedResultCount_;
  } else if (query && query->getRowCount() >= 0) {
    rows = uint32_t(query->getRowCount());
  }
  SQLULEN maxRows = options_[optWordMaxRows];
  if (maxRows && maxRows < rows) rows = uint32_t(maxRows);
  *count = rows;
  return kvSuccess;
}

// 1050: releases what 1042 took; always succeeds.
KvStatus FlatStatement::unlockRow(const FlatRowRequest* request) {
  FlatFileDesc* table = firstTable();
  if (!getFlatConnection()->isWritingDirectly()) {
    changeClaimed_ = 0;
    return kvSuccess;
  }
  if (table && table->getLockLevel()) {
    if (request && request->request == flatOptionUpdateRow) {
      table->unlockIndex();
      // Option 1050 always succeeds; an unlock that fails leaves its error.
      kvIgnoreStatus(table->unlockRecord(flatLockRecord, nullptr));
    } else {
      table->unlockHeaders(flatLockRecord);
    }
  }
  return kvSuccess;
}
