// Statement descriptors: ownership of tables, UNION chains and subqueries;
// see flat_descriptor.h.
#include "flat/sql/flat_descriptor.h"

#include "base/base_error_list.h"
#include "base/base_messages.h"
#include "flat/connection/flat_file_desc.h"
#include "flat/connection/flat_shared_desc.h"

FlatDescriptor::~FlatDescriptor() = default;
KvStatus FlatDescriptor::execute() { return kvSuccess; }
KvStatus FlatDescriptor::parse(const unsigned char*, uint32_t*) { return kvSuccess; }
FlatSqlDesc* FlatDescriptor::getSqlDesc() { return nullptr; }

FlatSqlDesc::FlatSqlDesc(FlatStatement* statement) : FlatDescriptor(statement) { subqueries_.setOwnsObjects(true); }

FlatSqlDesc::~FlatSqlDesc() {
  delete nextQuery_;
  subqueries_.deleteContents();
  for (FlatFileDesc* table = firstTable_; table;) {
    FlatFileDesc* next = table->getNextTable();
    delete table;
    table = next;
  }
}

FlatSqlDesc* FlatSqlDesc::getSqlDesc() { return this; }
KvStatus FlatSqlDesc::parseTableName(const unsigned char*, uint32_t*) { return kvSuccess; }
KvStatus FlatSqlDesc::freeIndexLocks() { return kvSuccess; }
KvStatus FlatSqlDesc::getTableColumnAsCType(uint16_t, void*, int16_t) {
  addOdbcError(stateNotCapable);
  return kvFailure;
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
  *table = firstTable_;
  if (!firstTable_ || !firstTable_->getShared() || item == 0 || item > firstTable_->getShared()->getColumnCount()) {
    addOdbcError(stateColumnNumber);
    return kvFailure;
  }
  *column = uint16_t(item - 1);
  return kvSuccess;
}
