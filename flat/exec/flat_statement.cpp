// The engine's statement: its lifecycle, the lock bracket and the driver
// allocators' engine versions; see flat_statement.h. The private options
// are in flat_private_options.cpp.
#include "flat/exec/flat_statement.h"

#include "base/results/base_field.h"
#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "flat/connection/flat_connection.h"
#include "flat/connection/flat_file_desc.h"
#include "flat/connection/flat_shared_desc.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "flat/query/flat_keyset.h"
#include "flat/query/flat_union.h"
#include "flat/sql/flat_descriptor.h"
#include "util/memory/ram.h"
#include "util/files/shared_file.h"

#include <cstring>

namespace {

// Subqueries nest; deeper than this a descriptor chain is malformed.
enum : uint32_t { maxQueryDepth = 64 };

KvStatus notCapable() {
  addOdbcError(stateNotCapable);
  return kvFailure;
}

// The answer of a descriptor maker the driver does not override.
FlatDescriptor* notCapableDesc() {
  addOdbcError(stateNotCapable);
  return nullptr;
}

}  // namespace

// ---------------------------------------------------------------- FlatSortInfo

FlatSortInfo::~FlatSortInfo() { ramFree(compOrder_); }

KvStatus FlatSortInfo::setCompOrder(const unsigned char* table, int16_t length) {
  unsigned char* copy = nullptr;
  if (table && length > 0) {
    copy = static_cast<unsigned char*>(ramAlloc(uint32_t(length)));
    if (!copy) return kvFailure;
    std::memcpy(copy, table, size_t(length));
  }
  ramFree(compOrder_);
  compOrder_ = copy;
  compOrderLength_ = copy ? length : 0;
  return kvSuccess;
}

// ---------------------------------------------------------------- construction

FlatStatement::FlatStatement(FlatConnection* connection) : BaseStatement(connection) {
  pendingValues_.setOwnsObjects(true);
  spill_ = new KvSharedFile(connection->getScratchStore());
}

FlatStatement::~FlatStatement() {
  freeDescriptors();
  delete spill_;
}

FlatConnection* FlatStatement::getFlatConnection() const { return static_cast<FlatConnection*>(connection_); }

void FlatStatement::freeDescriptors() {
  dropPendingValues();
  while (FlatSortInfo* info = sortInfos_) {
    sortInfos_ = info->getNext();
    delete info;
  }
  // The keyset reads the head query's tables: it goes first.
  delete keyset_;
  keyset_ = nullptr;
  delete union_;
  union_ = nullptr;
  oneRow_ = 0;
  rowLocked_ = 0;
  // The readers of the descriptors go with them, and so do their handles.
  if (head_) tableHandles_.setCount(0);
  delete head_;
  head_ = nullptr;
  currentQuery_ = nullptr;
  ramFree(orderByText_);
  orderByText_ = nullptr;
  ramFree(parseText_);
  parseText_ = nullptr;
  lockCount_ = 0;
}

KvStatus FlatStatement::registerTable(FlatFileDesc* table, uint32_t* handle) {
  if (tableHandles_.add(table) != kvSuccess) return kvFailure;
  *handle = tableHandles_.getCount();
  return kvSuccess;
}

FlatFileDesc* FlatStatement::getTableByHandle(uint32_t handle) const {
  if (handle == 0 || handle > tableHandles_.getCount()) return nullptr;
  return static_cast<FlatFileDesc*>(tableHandles_.getAt(uint16_t(handle - 1)));
}

KvStatus FlatStatement::setHeadDescriptor(FlatDescriptor* head, uint16_t kind) {
  freeDescriptors();
  head_ = head;
  statementKind_ = kind;
  if (kind == flatKindSelect) engineFlags_ |= stmtFresh;
  if (buildLockList() != kvSuccess) {
    freeDescriptors();
    statementKind_ = 0;
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus FlatStatement::addSortKey(uint16_t keyOffset, uint16_t keyType, uint16_t keyLength) {
  auto* info = new FlatSortInfo(keyOffset, keyType, keyLength);
  if (!info) {
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  FlatSortInfo** link = &sortInfos_;
  while (*link) link = &((*link)->getNextLink());
  *link = info;
  return kvSuccess;
}

// ---------------------------------------------------------------- the lock bracket

KvStatus FlatStatement::addLockTable(FlatSharedDesc* shared) {
  if (!shared) return kvSuccess;
  uint32_t id = shared->getTableId();
  uint16_t at = 0;
  while (at < lockCount_ && lockList_[at]->getTableId() < id) ++at;
  if (at < lockCount_ && lockList_[at] == shared) return kvSuccess;
  if (lockCount_ == flatMaxStatementTables) {
    addFlatError(stateGeneral, msgTooManyTables) << uint32_t(flatMaxStatementTables);
    return kvFailure;
  }
  std::memmove(&lockList_[at + 1], &lockList_[at], (lockCount_ - at) * sizeof(lockList_[0]));
  lockList_[at] = shared;
  ++lockCount_;
  return kvSuccess;
}

KvStatus FlatStatement::addLockTables(FlatSqlDesc* query, uint32_t depth) {
  if (depth > maxQueryDepth) {
    addOdbcError(stateGeneral);
    return kvFailure;
  }
  for (FlatSqlDesc* q = query; q; q = q->getNextQuery()) {
    for (FlatFileDesc* table = q->getFirstTable(); table; table = table->getNextTable())
      if (addLockTable(table->getShared()) != kvSuccess) return kvFailure;
    KvArray& subqueries = q->getSubqueries();
    for (uint16_t i = 0; i < subqueries.getCount(); ++i)
      if (addLockTables(static_cast<FlatSqlDesc*>(subqueries.getAt(i)), depth + 1) != kvSuccess) return kvFailure;
  }
  return kvSuccess;
}

KvStatus FlatStatement::buildLockList() {
  lockCount_ = 0;
  FlatSqlDesc* query = head_ ? head_->getSqlDesc() : nullptr;
  if (!query) return kvSuccess;
  if (addLockTables(query, 0) != kvSuccess) {
    lockCount_ = 0;
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus FlatStatement::enterLockBracket() {
  if (lockCount_ == 0 && buildLockList() != kvSuccess) return kvFailure;
  for (uint16_t i = 0; i < lockCount_; ++i) lockList_[i]->lockTable();
  return kvSuccess;
}

void FlatStatement::leaveLockBracket() {
  for (uint16_t i = 0; i < lockCount_; ++i) lockList_[i]->unlockTable();
}

// ---------------------------------------------------------------- framework operations

KvStatus FlatStatement::rowCount(int32_t* count) {
  *count = head_ ? int32_t(head_->getAffectedRows()) : 0;
  return kvSuccess;
}

BaseField* FlatStatement::allocFld() { return new BaseField(); }


KvStatus FlatStatement::setToPreparedState() {
  FlatLockBracket bracket(this);
  if (bracket.enter() != kvSuccess) return kvFailure;
  engineFlags_ |= stmtFresh;
  rowLocked_ = 0;
  if (engineFlags_ & stmtReleaseParams) paramValues_.releaseValues();
  engineFlags_ &= ~uint32_t(stmtResultOpen | stmtReleaseParams);
  KvStatus result = kvSuccess;
  FlatConnection* connection = getFlatConnection();
  for (FlatSqlDesc* query = head_ ? head_->getSqlDesc() : nullptr; query; query = query->getNextQuery()) {
    for (FlatFileDesc* table = query->getFirstTable(); table; table = table->getNextTable())
      if (connection->isWritingDirectly() && table->unlockRecord(flatLockRecord, nullptr) != kvSuccess)
        result = kvFailure;
    query->setRowCount(-1);
    query->setProducedRows(0);
    query->setFlags((query->getFlags() & ~uint32_t(FlatSqlDesc::flagGrouped)) | FlatSqlDesc::flagNoResult);
  }
  return result;
}

KvStatus FlatStatement::setToAllocatedState(uint16_t) {
  if (head_) {
    freeDescriptors();
    if (spill_) spill_->truncate();
    rowCount_ = -1;
    cachedResultCount_ = 0;
    currentRow_ = 0;
  }
  dropPendingValues();
  lockCount_ = 0;
  parameterNumbering_ = 0;
  paramValues_.clear();
  engineFlags_ &= ~uint32_t(stmtResultOpen | stmtReleaseParams);
  tableHandles_.setCount(0);
  return kvSuccess;
}

KvStatus FlatStatement::setStmtOption(uint16_t option, SQLULEN value) {
  switch (option) {
    case SQL_QUERY_TIMEOUT:
    case SQL_ASYNC_ENABLE:
      return notCapable();
    case flatOptionAddRow:
    case flatOptionDeleteRow:
    case flatOptionLockForChange:
    case flatOptionRowValue:
    case flatOptionUpdateRow:
    case flatOptionLockCurrentRow:
    case flatOptionRowCount: {
      FlatLockBracket bracket(this);
      if (bracket.enter() != kvSuccess) return kvFailure;
      return privateOption(option, reinterpret_cast<void*>(value));
    }
    case flatOptionUnlock:
      return privateOption(option, reinterpret_cast<void*>(value));
    default:
      return BaseStatement::setStmtOption(option, value);
  }
}

// ---------------------------------------------------------------- counting

KvStatus FlatStatement::maxNumRecords(FlatSqlDesc* query, uint32_t* bound) {
  uint64_t sum = 0;
  for (FlatSqlDesc* q = query; q; q = q->getNextQuery()) {
    uint64_t rows = 1;
    if (q->getRowCount() >= 0) {
      rows = uint32_t(q->getRowCount());
    } else {
      for (FlatFileDesc* table = q->getFirstTable(); table; table = table->getNextTable()) {
        uint32_t records = 0;
        if (table->getMaxRecords(&records) != kvSuccess) return kvFailure;
        rows *= records ? records : 1;
        if (rows > 0xFFFFFFFFu) rows = 0x100000000ull;
      }
    }
    sum += rows;
    if (sum > 0xFFFFFFFFu) sum = 0xFFFFFFFFu;
  }
  *bound = uint32_t(sum);
  return kvSuccess;
}

// ---------------------------------------------------------------- driver operations' engine versions

KvStatus FlatStatement::allocFileDesc(FlatFileDesc** out) {
  *out = nullptr;
  return notCapable();
}
FlatSqlDesc* FlatStatement::allocSqlDesc() { return nullptr; }
FlatDescriptor* FlatStatement::allocDropTableDesc() {
  return notCapableDesc();
}
KvStatus FlatStatement::isOptionList(const unsigned char*, uint16_t* isList) {
  *isList = 0;
  return kvSuccess;
}
FlatDescriptor* FlatStatement::allocCreateDesc() {
  return notCapableDesc();
}
FlatDescriptor* FlatStatement::allocCrIndexDesc() {
  return notCapableDesc();
}
FlatDescriptor* FlatStatement::allocDropIndexDesc() {
  return notCapableDesc();
}
FlatDescriptor* FlatStatement::allocSpecialStmt(const unsigned char*) {
  addFlatSyntaxError(msgUnknownStatement);
  return nullptr;
}

