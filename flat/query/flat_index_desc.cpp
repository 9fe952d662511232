// Index descriptions, the ROWID pseudo index and the plan objects; see
// flat_index_desc.h.
#include "flat/query/flat_index_desc.h"

#include "base/results/base_column_metrics.h"
#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "flat/connection/flat_file_desc.h"
#include "flat/connection/flat_shared_desc.h"
#include "flat/expr/flat_byte_code.h"
#include "util/memory/ram.h"

#include <cstring>
#include <new>

namespace {

const unsigned char kRowIdName[] = "ROWID";
const unsigned char kRowIdType[] = "DOUBLE";

void copyText(unsigned char* buffer, uint16_t size, const unsigned char* text) {
  if (!buffer || size == 0) return;
  size_t length = text ? std::strlen(reinterpret_cast<const char*>(text)) : 0;
  if (length >= size) length = size - 1u;
  if (length) std::memcpy(buffer, text, length);
  buffer[length] = 0;
}

bool isTextKey(int16_t sqlType) { return sqlType == SQL_CHAR || sqlType == SQL_VARCHAR; }

}  // namespace

FlatKeyField::~FlatKeyField() = default;

KvStatus FlatKeyField::compileFieldName(FlatSharedField* field, uint16_t columnNumber) {
  if (!field) {
    addOdbcError(stateMemory);
    return kvFailure;
  }
  std::memset(keyCode, 0, sizeof(keyCode));
  keyCode[0] = opColumn;
  keyCode[5] = uint8_t(columnNumber & 0xFF);
  keyCode[6] = uint8_t(columnNumber >> 8);
  keyCode[7] = opEnd;
  sqlType = field->getFlatFieldType();
  column = columnNumber;
  if (sqlType == SQL_BIT)
    keyLength = 1;
  else if (isTextKey(sqlType))
    keyLength = uint16_t(field->getPrecision() > 0xFFFE ? 0xFFFE : field->getPrecision());
  else
    keyLength = 8;
  return kvSuccess;
}

FlatIndexDesc::~FlatIndexDesc() {
  // The chain is deleted iteratively so that a long chain never deepens the
  // stack.
  FlatIndexDesc* rest = next;
  next = nullptr;
  while (rest) {
    FlatIndexDesc* following = rest->next;
    rest->next = nullptr;
    delete rest;
    rest = following;
  }
  for (uint16_t i = 0; keys && i < keyCount; ++i) delete keys[i];
  ramFree(keys);
  ramFree(name);
  ramFree(filter);
}

FlatKeyField* FlatIndexDesc::allocKeyField() { return new FlatKeyField; }

KvStatus FlatIndexDesc::indexEligible(FlatFileDesc*, uint16_t* eligible) {
  *eligible = 1;
  return kvSuccess;
}

KvStatus FlatIndexDesc::getQualifier(unsigned char* buffer, uint16_t size, FlatSharedDesc* table, uint16_t* isNull) {
  const unsigned char* tableName = table ? table->getBaseName() : nullptr;
  copyText(buffer, size, tableName);
  if (buffer && size) {
    if (unsigned char* dot = reinterpret_cast<unsigned char*>(std::strchr(reinterpret_cast<char*>(buffer), '.')))
      *dot = 0;
  }
  if (isNull) *isNull = 0;
  return kvSuccess;
}

KvStatus FlatIndexDesc::getUniqueCount(uint32_t* count, uint16_t* isNull) {
  if (count) *count = 0;
  *isNull = 1;
  return kvSuccess;
}

KvStatus FlatIndexDesc::getPages(uint32_t* pages, uint16_t* isNull) {
  if (pages) *pages = 0;
  *isNull = 1;
  return kvSuccess;
}

KvStatus FlatIndexDesc::getColumnName(unsigned char* buffer, uint16_t size, uint16_t key, FlatFileDesc* cursor) {
  if (isRowId()) {
    copyText(buffer, size, kRowIdName);
    return kvSuccess;
  }
  FlatSharedField* field =
      key < keyCount && cursor && cursor->getShared() ? cursor->getShared()->getColumn(keys[key]->column) : nullptr;
  copyText(buffer, size, field ? field->getName() : nullptr);
  return kvSuccess;
}

KvStatus FlatIndexDesc::getFilterCondition(uint8_t** text, FlatFileDesc*) {
  *text = filter;
  return kvSuccess;
}

uint16_t FlatIndexDesc::getNulls(FlatSharedDesc* table) {
  if (isRowId()) return 0;
  for (uint16_t i = 0; i < keyCount; ++i) {
    FlatSharedField* field = table ? table->getColumn(keys[i]->column) : nullptr;
    if (!field || !(field->getFlags() & FlatSharedField::flagUniqueKey)) return 1;
  }
  return 0;
}

uint32_t FlatIndexDesc::getTotalLength(FlatSharedDesc* table) {
  uint32_t total = 0;
  for (uint16_t i = 0; i < keyCount; ++i) total += getLength(i, table);
  return total;
}

uint32_t FlatIndexDesc::getLength(uint16_t key, FlatSharedDesc* table) {
  if (isRowId()) return 8;
  FlatSharedField* field = key < keyCount && table ? table->getColumn(keys[key]->column) : nullptr;
  if (!field) return 0;
  // Bytes, not digits: an INTEGER key is 4 long, not 10.
  const BaseColumnShape shape = {field->getSqlType(), field->getPrecision(), field->getScale(),
                                 (field->getAttributes() & 0x1) != 0, false};
  return BaseColumnLength(shape);
}

uint16_t FlatIndexDesc::getScale(uint16_t key, FlatSharedDesc* table) {
  if (isRowId()) return 0;
  FlatSharedField* field = key < keyCount && table ? table->getColumn(keys[key]->column) : nullptr;
  return field ? uint16_t(field->getScale()) : 0;
}

uint16_t FlatIndexDesc::getPrecision(uint16_t key, FlatSharedDesc* table) {
  if (isRowId()) return 15;
  FlatSharedField* field = key < keyCount && table ? table->getColumn(keys[key]->column) : nullptr;
  return field ? uint16_t(field->getPrecision() > 0xFFFF ? 0xFFFF : field->getPrecision()) : 0;
}

const unsigned char* FlatIndexDesc::getNativeTypeName(uint16_t key, FlatSharedDesc* table) {
  if (isRowId()) return kRowIdType;
  FlatSharedField* field = key < keyCount && table ? table->getColumn(keys[key]->column) : nullptr;
  return field ? field->getTypeName() : nullptr;
}

int16_t FlatIndexDesc::getSqlType(uint16_t key, FlatSharedDesc* table) {
  if (isRowId()) return SQL_DOUBLE;
  FlatSharedField* field = key < keyCount && table ? table->getColumn(keys[key]->column) : nullptr;
  return field ? field->getSqlType() : 0;
}

uint32_t FlatIndexDesc::keyOffset(uint16_t key) const {
  uint32_t offset = 0;
  for (uint16_t i = 0; i < key && i < keyCount; ++i)
    offset += keys[i]->keyLength + (isTextKey(keys[i]->sqlType) ? 1u : 0u);
  return offset;
}

KvStatus FlatIndexDesc::allocKeyBuffer(FlatOptBnd* bound) {
  const uint32_t bytes = keyOffset(keyCount);
  ramFree(bound->key);
  bound->key = static_cast<uint8_t*>(ramAllocZ(bytes ? bytes : 1));
  bound->keyBytes = bytes;
  if (!bound->key) {
    addOdbcError(stateMemory);
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus FlatIndexDesc::initialize(const unsigned char* indexName, uint16_t keys_) {
  if (indexName) {
    const size_t length = std::strlen(reinterpret_cast<const char*>(indexName));
    name = static_cast<unsigned char*>(ramAlloc(uint32_t(length + 1)));
    if (!name) {
      addOdbcError(stateMemory);
      return kvFailure;
    }
    std::memcpy(name, indexName, length + 1);
  }
  keys = static_cast<FlatKeyField**>(ramAllocZ(uint32_t(sizeof(FlatKeyField*) * (keys_ ? keys_ : 1))));
  if (!keys) {
    addOdbcError(stateMemory);
    return kvFailure;
  }
  for (uint16_t i = 0; i < keys_; ++i) {
    keys[i] = allocKeyField();
    if (!keys[i]) {
      addOdbcError(stateMemory);
      return kvFailure;
    }
    keyCount = uint16_t(i + 1);
  }
  return kvSuccess;
}

FlatOptExpr::~FlatOptExpr() { ramFree(code); }

FlatOptBnd::~FlatOptBnd() {
  exprs.deleteContents();
  ramFree(key);
}

FlatOptDesc::~FlatOptDesc() = default;

// ---------------------------------------------------------------- the table's chain

void FlatSharedDesc::addIndexDesc(FlatIndexDesc* index) {
  FlatIndexDesc** link = &indexes_;
  while (*link) link = &(*link)->next;
  *link = index;
}

KvStatus FlatSharedDesc::addRowIdDesc() {
  if (getKeyLength() != 0) return kvSuccess;
  for (FlatIndexDesc* index = indexes_; index; index = index->next)
    if (index->isRowId()) return kvSuccess;
  auto* rowId = new FlatIndexDesc;
  if (!rowId || rowId->initialize(nullptr, 1) != kvSuccess) {
    if (!rowId) addOdbcError(stateMemory);
    delete rowId;
    return kvFailure;
  }
  rowId->flags = FlatIndexDesc::indexRowId;
  FlatKeyField* key = rowId->keys[0];
  key->keyCode[0] = opRowId;
  key->keyCode[5] = opEnd;
  key->sqlType = SQL_DOUBLE;
  key->keyLength = 8;
  addIndexDesc(rowId);
  return kvSuccess;
}
