// Catalog result sets: the rows a catalog function collected, served to the
// statement's fetch calls; see base_catalog_info.h. Also the statement's
// side of them: owning the result set and describing its columns.
#include "base/catalog/base_catalog_info.h"

#include "base/results/base_field.h"
#include "base/handles/base_out_string.h"
#include "base/statement/base_statement.h"
#include "util/error_mark.h"
#include "util/memory/ram.h"

#include <cstring>

namespace {

// Rows come in unsorted and are sorted once at the end; the array grows by
// this many entries at a time.
enum : uint16_t { catalogGrowthRows = 512 };

struct HiddenColumn {
  BaseCatalogKind kind;
  uint16_t column;
  uint32_t workArounds;  // any of these bits hides it
};

const HiddenColumn hiddenColumns[] = {
    {catalogTables, 1, BaseConnection::waHideQualifiers},
    {catalogColumns, 1, BaseConnection::waHideQualifiers},
    {catalogStatistics, 1, BaseConnection::waHideQualifiers},
    {catalogPrimaryKeys, 1, BaseConnection::waHideQualifiers},
    {catalogForeignKeys, 1, BaseConnection::waHideQualifiers},
    {catalogProcedures, 1, BaseConnection::waHideQualifiers},
    {catalogProcedureColumns, 1, BaseConnection::waHideQualifiers},
    {catalogColumnPrivileges, 1, BaseConnection::waHideQualifiers},
    {catalogTablePrivileges, 1, BaseConnection::waHideQualifiers},
    {catalogForeignKeys, 5, BaseConnection::waHideQualifiers},
    {catalogStatistics, 5, BaseConnection::waHideQualifiers | BaseConnection::waHideIndexQualifier},
};

}  // namespace

bool baseCatalogColumnHidden(BaseCatalogKind kind, uint16_t column, uint32_t workArounds) {
  for (const HiddenColumn& hidden : hiddenColumns) {
    if (hidden.kind == kind && hidden.column == column) return (workArounds & hidden.workArounds) != 0;
  }
  return false;
}

BaseCatalogInfo::BaseCatalogInfo(BaseStatement* statement, BaseCatalogKind kind)
    : statement_(statement), kind_(kind) {
  rows_.setOwnsObjects(true);
  rows_.setGrowthStep(catalogGrowthRows);
  rows_.setSortFlags(KvSortedArray::modeAppend);
}

BaseCatalogInfo::~BaseCatalogInfo() {
  if (savedFields_) {
    for (uint16_t i = 0; i < savedCapacity_; ++i) delete savedFields_[i];
    ramFree(savedFields_);
  }
  delete previous_;
}

KvStatus BaseCatalogInfo::fetchNext(uint16_t* status) {
  if (currentRow_ < rows_.getCount()) {
    ++currentRow_;
    *status = 0;
  } else {
    *status = 1;
  }
  return kvSuccess;
}

KvStatus BaseCatalogInfo::fetchRandom(uint32_t row, uint16_t* status) {
  if (row >= 1 && row <= rows_.getCount()) {
    currentRow_ = uint16_t(row);
    *status = SQL_ROW_SUCCESS;
  } else {
    *status = SQL_ROW_NOROW;
  }
  return kvSuccess;
}

KvStatus BaseCatalogInfo::addRow(KvObject* row) {
  if (rows_.add(row) != kvSuccess) {
    delete row;
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus BaseCatalogInfo::putValue(uint16_t column, int16_t cType, BaseOutString* out, const void* data,
                                   uint32_t length, InternalType type) {
  if (!data) {
    out->setLength(SQL_NULL_DATA);
    if (out->getBuffer() && out->getSize() != 0) static_cast<unsigned char*>(out->getBuffer())[0] = 0;
    return kvSuccess;
  }
  return statement_->convertInternalToC(column, cType, out, data, int32_t(length), type);
}

// ---------------------------------------------------------------------------
// The statement's side

void BaseStatement::setCatalogInfo(BaseCatalogInfo* info) {
  if (info == catalogInfo_) return;
  delete catalogInfo_;
  catalogInfo_ = info;
}

KvStatus BaseStatement::startCatalogCall() { return enterFreshStatement(stmtKindCatalog); }

void BaseStatement::pushCatalogInfo(BaseCatalogInfo* info) {
  info->savedFields_ = fields_;
  info->savedCapacity_ = fieldCapacity_;
  info->savedCount_ = fieldCount_;
  fields_ = nullptr;
  fieldCapacity_ = 0;
  fieldCount_ = 0;
  flags_ = (flags_ | flagRebindAll) & ~uint32_t(flagColumnsKnown);
  info->previous_ = catalogInfo_;
  catalogInfo_ = info;
}

void BaseStatement::popCatalogInfo() {
  BaseCatalogInfo* info = catalogInfo_;
  if (!info) return;
  deleteFields();
  fields_ = info->savedFields_;
  fieldCapacity_ = info->savedCapacity_;
  fieldCount_ = info->savedCount_;
  info->savedFields_ = nullptr;
  info->savedCapacity_ = 0;
  info->savedCount_ = 0;
  flags_ |= flagColumnsKnown | flagRebindAll;
  catalogInfo_ = info->previous_;
  info->previous_ = nullptr;
  delete info;
}

BaseCatalogInfo* BaseStatement::findCatalogInfo(BaseCatalogKind kind) const {
  for (BaseCatalogInfo* info = catalogInfo_; info; info = info->previous_) {
    if (info->getKind() == kind) return info;
  }
  return nullptr;
}

KvStatus BaseStatement::getCatalogValue(uint16_t column, unsigned char** text, uint32_t bufferBytes) {
  unsigned char buffer[catalogTextBytes];
  if (bufferBytes > sizeof(buffer) || bufferBytes == 0) bufferBytes = sizeof(buffer);
  SQLLEN length = 0;
  BaseOutString out(buffer, SQLLEN(bufferBytes), &length);
  out.keepAnsi();
  buffer[0] = 0;
  // A value longer than the buffer is cut to it; the cut is no news to the
  // application, so its 01004 is taken back.
  const KvErrorMark mark;
  if (getData(column, SQL_C_CHAR, &out) != kvSuccess) return kvFailure;
  mark.dropNew();
  buffer[bufferBytes - 1] = 0;
  ramFree(*text);
  *text = nullptr;
  if (length == SQL_NULL_DATA) return kvSuccess;
  // The driver's length may be the whole value's, longer than the buffer,
  // or unknown: only what the buffer holds is copied.
  uint32_t bytes = uint32_t(std::strlen(kvC(buffer)));
  if (length >= 0 && uint64_t(length) < bytes) bytes = uint32_t(length);
  *text = ramAllocStr(buffer, bytes);
  return *text ? kvSuccess : kvFailure;
}

KvStatus BaseStatement::getCatalogValue(uint16_t column, int32_t* number, int* present) {
  int32_t value = 0;
  SQLLEN length = 0;
  BaseOutString out(&value, SQLLEN(sizeof(value)), &length);
  if (getData(column, SQL_C_SLONG, &out) != kvSuccess) return kvFailure;
  *present = length != SQL_NULL_DATA;
  if (*present) *number = value;
  return kvSuccess;
}

KvStatus BaseStatement::setCatalogColumns(uint16_t count, const CatalogColumnDesc* table) {
  deleteFields();
  if (allocArrays(count, arrayFields) != kvSuccess) return kvFailure;
  for (uint16_t i = 0; i < count; ++i) {
    BaseField* field = allocFld();
    if (!field) return kvFailure;
    fields_[i] = field;
    field->borrowText(&field->name, kvU(table[i].name));
    field->sqlType = table[i].sqlType;
    field->nullable = int16_t(table[i].nullable);
    field->precision = table[i].precision;
  }
  fieldCount_ = count;
  applyFixedPrecisions();
  return kvSuccess;
}
