// The catalog descriptors' common part: argument copies, the walks over
// qualifiers, owners and tables, the opening of a table by qualifier and
// name, the LENGTH/SCALE/RADIX rules, and the statement's catalog
// operations (executeTables ... executeStatistics and the fetch and get-data
// of their rows); see flat_catalog.h.
#include "flat/exec/flat_catalog.h"

#include "base/catalog/base_catalog_columns.h"
#include "base/catalog/base_catalog_families.h"
#include "base/catalog/base_catalog_tables.h"
#include "base/results/base_column_metrics.h"
#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "base/handles/base_out_string.h"
#include "flat/connection/flat_connection.h"
#include "flat/connection/flat_file_desc.h"
#include "flat/exec/flat_statement.h"
#include "util/os/bos.h"
#include "util/charsets/charset.h"
#include "util/memory/ram.h"
#include "util/resource.h"
#include "util/containers/str_functions.h"
#include "util/util_message_ids.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

// Replaces *slot by a copy of text (null and "" clear it).
KvStatus copyInto(unsigned char** slot, const unsigned char* text) {
  unsigned char* copy = nullptr;
  if (text && text[0]) {
    copy = ramAllocStr(text);
    if (!copy) {
      KvErrorKeeper::addMemoryError();
      return kvFailure;
    }
  }
  ramFree(*slot);
  *slot = copy;
  return kvSuccess;
}

// A name from the connection, freed at the end of the scope.
struct OwnedName {
  unsigned char* text = nullptr;
  ~OwnedName() { ramFree(text); }
  void reset() {
    ramFree(text);
    text = nullptr;
  }
};

}  // namespace

// ---------------------------------------------------------------- rules

void flatCatalogText(unsigned char* field, const unsigned char* text) {
  uint32_t length = 0;
  if (text) {
    // A double-byte character is kept whole or not at all.
    while (text[length]) {
      const uint32_t bytes = kvCharBytes(text + length);
      if (length + bytes > flatCatalogTextBytes - 1) break;
      length += bytes;
    }
    std::memcpy(field, text, length);
  }
  field[length] = 0;
}

int32_t flatCatalogLength(int16_t sqlType, uint32_t precision, int16_t scale, bool isSigned) {
  const BaseColumnShape shape = {sqlType, precision, scale, !isSigned, false};
  const uint32_t length = BaseColumnLength(shape);
  return length > 0x7FFFFFFF ? 0x7FFFFFFF : int32_t(length);
}

bool flatCatalogHasScale(int16_t sqlType) {
  switch (sqlType) {
    case SQL_BIT:
    case SQL_TINYINT:
    case SQL_BIGINT:
    case SQL_DECIMAL:
    case SQL_NUMERIC:
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_TIMESTAMP: return true;
    default: return false;
  }
}

bool flatCatalogHasRadix(int16_t sqlType) {
  switch (sqlType) {
    case SQL_TINYINT:
    case SQL_BIGINT:
    case SQL_DECIMAL:
    case SQL_NUMERIC:
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_FLOAT:
    case SQL_REAL:
    case SQL_DOUBLE: return true;
    default: return false;
  }
}

// ---------------------------------------------------------------- descriptor base

FlatCatalogDesc::FlatCatalogDesc(FlatStatement* statement, BaseCatalogKind kind, uint16_t enumerate)
    : FlatDescriptor(statement), kind_(kind), enumerate_(enumerate) {
  rows_.setOwnsObjects(true);
  // Rows are appended in the order made and sorted once at the end.
  rows_.setSortFlags(KvSortedArray::modeUnsorted | KvSortedArray::modeAppend);
  rows_.setGrowthStep(512);
}

FlatCatalogDesc::~FlatCatalogDesc() {
  rows_.deleteContents();
  delete opened_;
  ramFree(qualifier_);
  ramFree(owner_);
  ramFree(table_);
  ramFree(tablePattern_);
}

FlatConnection* FlatCatalogDesc::connection() const { return statement_->getFlatConnection(); }

bool FlatCatalogDesc::tableNamesIgnoreCase() const {
  return (connection()->getFlags() & BaseConnection::flagPatternNoCase) != 0;
}

unsigned char FlatCatalogDesc::patternEscape() const {
  void* value = nullptr;
  BaseInfoValType kind = infoNotFound;
  unsigned owned = 0;
  if (connection()->getInfo(SQL_SEARCH_PATTERN_ESCAPE, &value, &kind, &owned) != kvSuccess) {
    KvErrorKeeper::clearLastError();
    return 0;
  }
  const unsigned char escape = kind == infoText && value ? static_cast<unsigned char*>(value)[0] : 0;
  if (owned) ramFree(value);
  return escape;
}

bool FlatCatalogDesc::nameMatches(const unsigned char* name, const unsigned char* pattern, bool ignoreCase) const {
  if (!pattern) return true;
  if (!name) return false;
  return strLike(name, pattern, '%', '_', char(patternEscape()), ignoreCase ? 0 : 1) != 0;
}

KvStatus FlatCatalogDesc::addRow(KvObject* row) {
  if (!row) {
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  if (rows_.add(row) != kvSuccess) {
    delete row;
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus FlatCatalogDesc::setQualifier(const unsigned char* qualifier) {
  if (qualifier && qualifier[0] && !(connection()->getEngineFlags() & flatQualifiersUsable)) {
    addOdbcError(stateNotCapable);
    return kvFailure;
  }
  return copyInto(&qualifier_, qualifier);
}

KvStatus FlatCatalogDesc::setOwner(const unsigned char* owner) {
  if (owner && owner[0] && !(connection()->getEngineFlags() & flatOwnersUsable)) {
    addOdbcError(stateNotCapable);
    return kvFailure;
  }
  return copyInto(&owner_, owner);
}

KvStatus FlatCatalogDesc::setTable(const unsigned char* table) { return copyInto(&table_, table); }

KvStatus FlatCatalogDesc::setTablePattern(const unsigned char* pattern) { return copyInto(&tablePattern_, pattern); }

KvStatus FlatCatalogDesc::setParameters(BaseCatalogInfo*) { return kvSuccess; }

KvStatus FlatCatalogDesc::getResultSet() { return kvSuccess; }

KvStatus FlatCatalogDesc::getColumnData(uint16_t, uint16_t, int16_t, BaseOutString*) {
  addOdbcError(stateGeneral);
  return kvFailure;
}

KvStatus FlatCatalogDesc::putValue(uint16_t column, int16_t cType, BaseOutString* out, const void* data,
                                   int32_t length, InternalType type) {
  if (!data || (type == itChar && length == 0)) {
    out->setLength(SQL_NULL_DATA);
    if (out->getBuffer() && out->getSize() != 0) static_cast<unsigned char*>(out->getBuffer())[0] = 0;
    return kvSuccess;
  }
  return statement_->convertInternalToC(column, cType, out, data, length, type);
}

KvStatus FlatCatalogDesc::putText(uint16_t column, int16_t cType, BaseOutString* out, const unsigned char* text) {
  return putValue(column, cType, out, text, text ? int32_t(std::strlen(kvC(text))) : 0, itChar);
}

KvStatus FlatCatalogDesc::putShort(uint16_t column, int16_t cType, BaseOutString* out, bool present, int16_t value) {
  return putValue(column, cType, out, present ? &value : nullptr, 2, itSShort);
}

KvStatus FlatCatalogDesc::putLong(uint16_t column, int16_t cType, BaseOutString* out, bool present, int32_t value) {
  return putValue(column, cType, out, present ? &value : nullptr, 4, itSLong);
}

// ---------------------------------------------------------------- walks

KvStatus FlatCatalogDesc::walkQualifiers(const NameVisit& visit) {
  if (qualifier_) return visit(qualifier_);
  FlatConnection* link = connection();
  const uint32_t flags = link->getEngineFlags();
  if ((enumerate_ & enumQualifiers) && (flags & flatQualifiersListed)) {
    OwnedName name;
    for (uint32_t n = 0; n < flatCatalogMaxNames; ++n) {
      name.reset();
      if (link->getQualifier(&name.text, n == 0 ? 1 : 0) != kvSuccess) return kvFailure;
      if (!name.text) return kvSuccess;
      if (visit(name.text) != kvSuccess) return kvFailure;
    }
    return kvSuccess;
  }
  return visit((flags & flatQualifiersUsable) ? link->getDatabaseDirectory() : nullptr);
}

KvStatus FlatCatalogDesc::walkOwners(const unsigned char* qualifier, const NameVisit& visit) {
  if (!(enumerate_ & enumOwners)) return visit(owner_);
  FlatConnection* link = connection();
  if (link->getEngineFlags() & flatOwnersListed) {
    // The names first: a visit may use the connection's enumeration itself.
    std::vector<std::string> owners;
    OwnedName name;
    for (uint32_t n = 0; n < flatCatalogMaxNames; ++n) {
      name.reset();
      if (link->getOwner(&name.text, qualifier, n == 0 ? 1 : 0) != kvSuccess) return kvFailure;
      if (!name.text) break;
      if (nameMatches(name.text, owner_, 1)) owners.emplace_back(kvC(name.text));
    }
    for (const std::string& owner : owners)
      if (visit(kvU(owner.c_str())) != kvSuccess) return kvFailure;
    return kvSuccess;
  }
  if (owner_) {
    addOdbcError(stateNotCapable);
    return kvFailure;
  }
  return visit(nullptr);
}

KvStatus FlatCatalogDesc::listTables(const unsigned char* qualifier, const unsigned char* pattern, bool ignoreCase,
                                     std::vector<std::string>* names) {
  FlatConnection* link = connection();
  OwnedName name;
  for (uint32_t n = 0; n < flatCatalogMaxNames; ++n) {
    name.reset();
    if (link->getTable(&name.text, qualifier, pattern, n == 0 ? 1 : 0) != kvSuccess) return kvFailure;
    if (!name.text) return kvSuccess;
    if (nameMatches(name.text, pattern, ignoreCase)) names->emplace_back(kvC(name.text));
  }
  return kvSuccess;
}

KvStatus FlatCatalogDesc::walkTables(const unsigned char* qualifier, const unsigned char*, const NameVisit& visit) {
  if (!(enumerate_ & enumTables)) return visit(table_);
  if (connection()->getEngineFlags() & flatTablesListed) {
    // The whole list first: opening a table between two steps of the
    // connection's enumeration would be safe today, but nothing promises it.
    std::vector<std::string> names;
    if (listTables(qualifier, tablePattern_, tableNamesIgnoreCase(), &names) != kvSuccess) return kvFailure;
    for (const std::string& name : names)
      if (visit(kvU(name.c_str())) != kvSuccess) return kvFailure;
    return kvSuccess;
  }
  if (tablePattern_) {
    addOdbcError(stateNotCapable);
    return kvFailure;
  }
  return visit(nullptr);
}

KvStatus FlatCatalogDesc::openNamedTable(uint16_t* found) {
  *found = 0;
  if (!table_) return kvSuccess;
  const unsigned char* qualifier = qualifier_;
  if (!qualifier && (connection()->getEngineFlags() & flatQualifiersUsable))
    qualifier = connection()->getDatabaseDirectory();
  std::vector<std::string> names;
  if (listTables(qualifier, nullptr, 0, &names) != kvSuccess) return kvFailure;
  const bool ignoreCase = tableNamesIgnoreCase();
  for (const std::string& name : names) {
    const bool same = ignoreCase ? strcasecmp(name.c_str(), kvC(table_)) == 0 : name == kvC(table_);
    if (!same) continue;
    if (openTable(qualifier, owner_, kvU(name.c_str())) != kvSuccess) return kvFailure;
    *found = 1;
    return kvSuccess;
  }
  return kvSuccess;
}

// ---------------------------------------------------------------- opening a table

KvStatus FlatCatalogDesc::openTable(const unsigned char* qualifier, const unsigned char*, const unsigned char* table) {
  delete opened_;
  opened_ = nullptr;
  if (!table || !table[0]) {
    addOdbcError(stateGeneral);
    return kvFailure;
  }
  FlatConnection* link = connection();
  unsigned char path[bosPathBytes];
  if (link->resolveTableName(qualifier && qualifier[0] ? qualifier : nullptr, table, path) != kvSuccess)
    return kvFailure;
  FlatFileDesc* reader = nullptr;
  if (statement_->allocFileDesc(&reader) != kvSuccess || !reader) return kvFailure;
  opened_ = reader;
  return reader->openTable(path, statement_);
}

// ---------------------------------------------------------------- the statement's operations

FlatCatalogDesc* FlatStatement::allocTableDesc() { return flatNewCatalogDesc<FlatTableDesc>(this); }
FlatCatalogDesc* FlatStatement::allocColumnDesc() { return flatNewCatalogDesc<FlatColumnDesc>(this); }
FlatCatalogDesc* FlatStatement::allocSpecialDesc() { return flatNewCatalogDesc<FlatSpecialDesc>(this); }
FlatCatalogDesc* FlatStatement::allocStatisticsDesc() { return flatNewCatalogDesc<FlatStatisticsDesc>(this); }

KvStatus FlatStatement::executeTables(BaseInString*) {
  BaseCatalogInfo* info = getCatalogInfo();
  if (info && info->getKind() == catalogTables) {
    auto* tables = static_cast<BaseTablesInfo*>(info);
    // The types the engine lists are TABLE only; the framework makes the
    // row.
    if (tables->getMode() == tablesListTypes) {
      tables->setTypeMask(tables->getTypeMask() | typeTable);
      return kvSuccess;
    }
  }
  return executeCatalog(allocTableDesc());
}

KvStatus FlatStatement::executeColumns() { return executeCatalog(allocColumnDesc()); }

KvStatus FlatStatement::executeSpecial(uint16_t* notHandled) {
  *notHandled = 0;
  return executeCatalog(allocSpecialDesc());
}

KvStatus FlatStatement::executeStatistics(uint16_t) { return executeCatalog(allocStatisticsDesc()); }

KvStatus FlatStatement::executeCatalog(FlatCatalogDesc* descriptor) {
  if (!descriptor) return kvFailure;
  if (setHeadDescriptor(descriptor, flatKindCatalog) != kvSuccess) return kvFailure;
  rowCount_ = 0;
  currentRow_ = 0;
  if (descriptor->setParameters(getCatalogInfo()) != kvSuccess) return kvFailure;
  if (descriptor->getResultSet() != kvSuccess) return kvFailure;
  rowCount_ = descriptor->getRowCount();
  return kvSuccess;
}

KvStatus FlatStatement::fetchCatalogRow(uint16_t* endOfData) {
  if (uint32_t(rowCount_ < 0 ? 0 : rowCount_) <= currentRow_) {
    *endOfData = 1;
    return kvSuccess;
  }
  *endOfData = 0;
  ++currentRow_;
  return kvSuccess;
}

KvStatus FlatStatement::fetchCatalogRandom(uint32_t row, uint16_t* status) {
  if (row == 0 || row > uint32_t(rowCount_ < 0 ? 0 : rowCount_)) {
    *status = SQL_ROW_NOROW;
    return kvSuccess;
  }
  currentRow_ = row;
  *status = SQL_ROW_SUCCESS;
  return kvSuccess;
}

KvStatus FlatStatement::getCatalogData(uint16_t column, int16_t cType, BaseOutString* out) {
  auto* descriptor = static_cast<FlatCatalogDesc*>(head_);
  if (currentRow_ == 0 || currentRow_ > descriptor->getRowCount()) {
    addOdbcError(stateCursorState);
    return kvFailure;
  }
  switch (descriptor->getCatalogKind()) {
    case catalogColumns:
    case catalogStatistics:
    case catalogTables: return descriptor->getColumnData(uint16_t(currentRow_ - 1), column, cType, out);
    case catalogSpecialColumns: return getDataSpecial(column, cType, out);
    default:
      addOdbcError(stateGeneral);
      return kvFailure;
  }
}

KvStatus FlatStatement::getDataSpecial(uint16_t column, int16_t cType, BaseOutString* out) {
  auto* descriptor = statementKind_ == flatKindCatalog ? static_cast<FlatCatalogDesc*>(head_) : nullptr;
  if (!descriptor || descriptor->getCatalogKind() != catalogSpecialColumns || currentRow_ == 0 ||
      currentRow_ > descriptor->getRowCount()) {
    addOdbcError(stateNotCapable);
    return kvFailure;
  }
  return descriptor->getColumnData(uint16_t(currentRow_ - 1), column, cType, out);
}
