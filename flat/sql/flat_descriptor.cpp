// Statement descriptors: ownership of tables, UNION chains, subqueries and
// parse results; see flat_descriptor.h.
#include "flat/sql/flat_descriptor.h"

#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "flat/connection/flat_connection.h"
#include "flat/connection/flat_file_desc.h"
#include "flat/connection/flat_rid.h"
#include "flat/exec/flat_statement.h"
#include "flat/connection/flat_shared_desc.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "flat/query/flat_agg_field.h"
#include "flat/sql/flat_select_field.h"
#include "flat/sql/flat_sql_token.h"
#include "util/memory/ram.h"

FlatDescriptor::~FlatDescriptor() = default;
KvStatus FlatDescriptor::execute() { return kvSuccess; }
KvStatus FlatDescriptor::parse(const unsigned char*, uint32_t*) { return kvSuccess; }
FlatSqlDesc* FlatDescriptor::getSqlDesc() { return nullptr; }

FlatSqlDesc::FlatSqlDesc(FlatStatement* statement) : FlatDescriptor(statement) {
  subqueries_.setOwnsObjects(true);
  items_.setOwnsObjects(true);
  aggregates_.setOwnsObjects(true);
  orderItems_.setOwnsObjects(true);
  groupByCodes_.setOwnsObjects(true);
}

void FlatSqlDesc::setAnswers(KvObject* answers) {
  if (answers_ != answers) delete answers_;
  answers_ = answers;
}

FlatSqlDesc::~FlatSqlDesc() {
  delete answers_;
  delete nextQuery_;
  items_.deleteContents();
  aggregates_.deleteContents();
  orderItems_.deleteContents();
  groupByCodes_.deleteContents();
  subqueries_.deleteContents();
  // The tables let go of what the query held: index files (on a driver that
  // keeps them) and the lock of the current record when writing directly.
  // Failures here only add to a list nobody reads, so they are dropped.
  FlatConnection* connection = statement_ ? statement_->getFlatConnection() : nullptr;
  for (FlatFileDesc* table = firstTable_; table && connection; table = table->getNextTable()) {
    if (!table->getShared()) continue;
    if ((connection->getEngineFlags() & flatIndexFiles) && table->closeIndex(nullptr) != kvSuccess)
      KvErrorKeeper::clearLastError();
    FlatRid* rid = table->getRid();
    if (rid && rid->getState() == ridRecord && connection->isWritingDirectly() &&
        table->unlockRecord(flatLockRecord, rid) != kvSuccess)
      KvErrorKeeper::clearLastError();
  }
  for (FlatFileDesc* table = firstTable_; table;) {
    FlatFileDesc* next = table->getNextTable();
    delete table;
    table = next;
  }
  ramFree(whereCode_);
  ramFree(havingCode_);
  ramFree(groupByText_);
}

FlatSqlDesc* FlatSqlDesc::getSqlDesc() { return this; }

KvStatus FlatSqlDesc::parseTableName(const unsigned char** position, FlatFileDesc*, unsigned char** name) {
  *name = nullptr;
  unsigned char* copy = nullptr;
  if (flatReadName(position, &copy) != kvSuccess) return kvFailure;
  if (!copy) {
    addFlatSyntaxError(msgMissingTableName);
    return kvFailure;
  }
  if (statement_->getFlatConnection()->flatStripEngrave(copy) != kvSuccess) {
    ramFree(copy);
    return kvFailure;
  }
  if (*flatSkipWhite(*position) == '(') {
    addFlatSyntaxError(msgUnknownOption) << "(";
    ramFree(copy);
    return kvFailure;
  }
  *name = copy;
  return kvSuccess;
}

KvStatus FlatSqlDesc::freeIndexLocks() { return kvSuccess; }
KvStatus FlatSqlDesc::getTableColumnAsCType(uint16_t column, void* out, int16_t cType) {
  FlatSelectField* item = column > 0 ? getItem(uint16_t(column - 1)) : nullptr;
  if (!item || !item->isPlainColumn() || !item->table) {
    addOdbcError(stateColumnNumber);
    return kvFailure;
  }
  return statement_->getColumnData(item, column, cType, static_cast<BaseOutString*>(out));
}

void FlatSqlDesc::setParent(FlatSqlDesc* parent) {
  parent_ = parent;
  depth_ = parent ? uint16_t(parent->getDepth() + 1) : 0;
}

FlatSelectField* FlatSqlDesc::getItem(uint16_t index) const {
  return index < items_.getCount() ? static_cast<FlatSelectField*>(items_.getAt(index)) : nullptr;
}

void FlatSqlDesc::setWhereCode(uint8_t* code) {
  ramFree(whereCode_);
  whereCode_ = code;
}

void FlatSqlDesc::setHavingCode(uint8_t* code) {
  ramFree(havingCode_);
  havingCode_ = code;
}

KvStatus FlatSqlDesc::setGroupByText(const unsigned char* text, uint32_t length) {
  unsigned char* copy = ramAllocStr(text, length);
  if (!copy) return kvFailure;
  ramFree(groupByText_);
  groupByText_ = copy;
  return kvSuccess;
}

KvStatus FlatSqlDesc::addTable(FlatFileDesc* table) {
  if (!table) return kvFailure;
  table->setPreviousTable(lastTable_);
  table->setNextTable(nullptr);
  if (lastTable_) lastTable_->setNextTable(table);
  else firstTable_ = table;
  lastTable_ = table;
  ++tableCount_;
  return kvSuccess;
}

KvStatus FlatSqlDesc::resolveItem(uint16_t item, FlatFileDesc** table, uint16_t* column) {
  if (items_.getCount() > 0) {
    FlatSelectField* field = item > 0 ? getItem(uint16_t(item - 1)) : nullptr;
    if (!field || !field->isPlainColumn() || !field->table) {
      addOdbcError(stateColumnNumber);
      return kvFailure;
    }
    *table = field->table;
    *column = field->column;
    return kvSuccess;
  }
  *table = firstTable_;
  if (!firstTable_ || !firstTable_->getShared() || item == 0 || item > firstTable_->getShared()->getColumnCount()) {
    addOdbcError(stateColumnNumber);
    return kvFailure;
  }
  *column = uint16_t(item - 1);
  return kvSuccess;
}
