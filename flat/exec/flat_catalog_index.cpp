// SQLSpecialColumns and SQLStatistics of the file engine, from one table's
// index descriptions (flat/query/flat_index_desc.h). Both look the table up
// among the table files of the qualifier; a name that is not there gives an
// empty result, not an error. The shared table's lock is held while the
// rows are read from its descriptions.
//
// The best row identifier is chosen among the indexes flagged as row
// identifiers or unique and the ROWID pseudo index: within the scope and
// nullable option of the call, the ROWID index beats every other (a record
// number is the cheapest way back to a row, but it holds only while the
// row is current or the transaction lasts), then the shorter key wins, and
// of two equal keys the one met first.
#include "base/catalog/base_catalog_families.h"
#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "flat/connection/flat_connection.h"
#include "flat/connection/flat_file_desc.h"
#include "flat/connection/flat_shared_desc.h"
#include "flat/exec/flat_catalog.h"
#include "flat/query/flat_index_desc.h"
#include "util/containers/str_functions.h"

#include <cstring>

namespace {

// ---------------------------------------------------------------- SQLSpecialColumns rows

class FlatSpecialRow : public KvObject {
 public:
  enum : uint16_t { noScope = 0x1, noPrecision = 0x2, noScale = 0x4 };
  explicit FlatSpecialRow(uint16_t type) : columnType(type) {}
  // Made in the order wanted; the framework orders them by SCOPE.
  int16_t compare(const KvObject*) const override { return 0; }

  uint16_t columnType;
  int16_t scope = 0;
  unsigned char columnName[flatCatalogTextBytes] = {};
  int16_t dataType = 0;
  unsigned char typeName[flatCatalogTextBytes] = {};
  int32_t precision = 0;
  int32_t length = 0;
  int16_t scale = 0;
  int16_t pseudoColumn = SQL_PC_UNKNOWN;
  uint16_t flags = 0;
};

// ---------------------------------------------------------------- SQLStatistics rows

// The values of a statistics row, copied from the index's common part to
// each key's row.
struct StatValues {
  enum : uint16_t {
    noNonUnique = 0x1,
    noIndexQualifier = 0x2,
    noIndexName = 0x4,
    noSeqInIndex = 0x8,
    noColumnName = 0x10,
    noCollation = 0x20,
    noCardinality = 0x40,
    noPages = 0x80,
    noFilter = 0x100,
  };
  int16_t nonUnique = 0;
  unsigned char indexQualifier[flatCatalogTextBytes] = {};
  unsigned char indexName[flatCatalogTextBytes] = {};
  int16_t type = SQL_TABLE_STAT;
  int16_t seqInIndex = 0;
  unsigned char columnName[flatCatalogTextBytes] = {};
  unsigned char collation[2] = {};
  int32_t cardinality = 0;
  int32_t pages = 0;
  unsigned char filter[flatCatalogTextBytes] = {};
  uint16_t flags = noNonUnique | noIndexQualifier | noIndexName | noSeqInIndex | noColumnName | noCollation |
                   noCardinality | noPages | noFilter;
};

class FlatStatRow : public KvObject {
 public:
  FlatStatRow() = default;
  explicit FlatStatRow(const StatValues& from) : v(from) {}
  int16_t compare(const KvObject* other) const override;
  StatValues v;
};

// At each key a row without the value comes first.
int compareNumbers(bool aAbsent, bool bAbsent, int a, int b) {
  if (aAbsent || bAbsent) return aAbsent == bAbsent ? 0 : aAbsent ? -1 : 1;
  return a < b ? -1 : a > b ? 1 : 0;
}
int compareTexts(bool aAbsent, bool bAbsent, const unsigned char* a, const unsigned char* b) {
  if (aAbsent || bAbsent) return aAbsent == bAbsent ? 0 : aAbsent ? -1 : 1;
  const int order = strCompareIntl(a, b);
  return order < 0 ? -1 : order > 0 ? 1 : 0;
}

int16_t FlatStatRow::compare(const KvObject* other) const {
  const StatValues& a = v;
  const StatValues& b = static_cast<const FlatStatRow*>(other)->v;
  const uint16_t af = a.flags;
  const uint16_t bf = b.flags;
  int order = compareNumbers(af & a.noNonUnique, bf & b.noNonUnique, a.nonUnique, b.nonUnique);
  if (!order) order = compareNumbers(0, 0, a.type, b.type);
  if (!order)
    order = compareTexts(af & a.noIndexQualifier, bf & b.noIndexQualifier, a.indexQualifier, b.indexQualifier);
  if (!order) order = compareTexts(af & a.noIndexName, bf & b.noIndexName, a.indexName, b.indexName);
  if (!order) order = compareNumbers(af & a.noSeqInIndex, bf & b.noSeqInIndex, a.seqInIndex, b.seqInIndex);
  return int16_t(order);
}

int16_t clampShort(uint32_t value) { return value > 0x7FFF ? int16_t(0x7FFF) : int16_t(value); }
int32_t clampLong(uint32_t value) { return value > 0x7FFFFFFF ? int32_t(0x7FFFFFFF) : int32_t(value); }

}  // namespace

// ---------------------------------------------------------------- FlatSpecialDesc

FlatSpecialDesc::FlatSpecialDesc(FlatStatement* statement) : FlatCatalogDesc(statement, catalogSpecialColumns, 0) {}

KvStatus FlatSpecialDesc::setParameters(BaseCatalogInfo* info) {
  if (!info || info->getKind() != catalogSpecialColumns) {
    addOdbcError(stateGeneral);
    return kvFailure;
  }
  auto* special = static_cast<BaseSpecialColumnsInfo*>(info);
  if (setQualifier(special->getArgument(catalogArgQualifier)) != kvSuccess ||
      setOwner(special->getArgument(catalogArgOwner)) != kvSuccess ||
      setTable(special->getArgument(catalogArgTable)) != kvSuccess)
    return kvFailure;
  setOptions(special->getColumnType(), special->getScope(), special->getNullable());
  return kvSuccess;
}

FlatIndexDesc* FlatSpecialDesc::pickBest(FlatIndexDesc* best, FlatIndexDesc* candidate) {
  if (!candidate) return best;
  const uint32_t identifies = FlatIndexDesc::indexRowIdentifier | FlatIndexDesc::indexUnique;
  // A record number does not outlive the session's changes to the table.
  const uint32_t usable = scope_ == SQL_SCOPE_SESSION ? identifies : identifies | FlatIndexDesc::indexRowId;
  if (!(candidate->flags & usable)) return best;
  FlatSharedDesc* shared = opened_ ? opened_->getShared() : nullptr;
  if (nullable_ == SQL_NO_NULLS && candidate->getNulls(shared)) return best;
  if (!best || candidate->isRowId()) return candidate;
  if (best->isRowId()) return best;
  return candidate->getTotalLength(shared) < best->getTotalLength(shared) ? candidate : best;
}

KvStatus FlatSpecialDesc::addBestRowId() {
  FlatSharedDesc* shared = opened_->getShared();
  FlatIndexDesc* best = nullptr;
  for (FlatIndexDesc* index = shared->getIndexes(); index; index = index->next) best = pickBest(best, index);
  if (!best) return kvSuccess;
  int16_t scope = 0;
  int16_t pseudo = SQL_PC_UNKNOWN;
  if (best->flags & (FlatIndexDesc::indexRowIdentifier | FlatIndexDesc::indexUnique)) {
    scope = SQL_SCOPE_SESSION;
    pseudo = SQL_PC_NOT_PSEUDO;
  } else if (best->isRowId()) {
    scope = SQL_SCOPE_TRANSACTION;
    pseudo = SQL_PC_PSEUDO;
  }
  for (uint16_t key = 0; key < best->keyCount; ++key) {
    auto* row = new FlatSpecialRow(colType_);
    if (row) {
      row->scope = scope;
      row->pseudoColumn = pseudo;
      if (best->getColumnName(row->columnName, flatCatalogTextBytes, key, opened_) != kvSuccess) {
        delete row;
        return kvFailure;
      }
      row->dataType = best->getSqlType(key, shared);
      flatCatalogText(row->typeName, best->getNativeTypeName(key, shared));
      row->precision = best->getPrecision(key, shared);
      row->length = clampLong(best->getLength(key, shared));
      row->scale = int16_t(best->getScale(key, shared));
      if (!flatCatalogHasScale(row->dataType)) row->flags |= FlatSpecialRow::noScale;
    }
    if (addRow(row) != kvSuccess) return kvFailure;
  }
  return kvSuccess;
}

KvStatus FlatSpecialDesc::addRowVersion() {
  FlatSharedDesc* shared = opened_->getShared();
  // Columns the driver marks as changed by every update (attribute 0x2).
  // The engine's columns all admit NULL, so they qualify only when the
  // caller accepts nullable columns.
  if (nullable_ == SQL_NO_NULLS) return kvSuccess;
  for (uint16_t i = 0; i < shared->getColumnCount(); ++i) {
    FlatSharedField* field = shared->getColumn(i);
    if (!field || !(field->getAttributes() & 0x2)) continue;
    auto* row = new FlatSpecialRow(colType_);
    if (row) {
      const int16_t type = field->getSqlType();
      row->flags |= FlatSpecialRow::noScope;
      flatCatalogText(row->columnName, field->getName());
      row->dataType = type;
      flatCatalogText(row->typeName, field->getTypeName());
      row->precision = clampLong(field->getPrecision());
      row->length = flatCatalogLength(type, field->getPrecision(), field->getScale(), !(field->getAttributes() & 0x1));
      row->scale = field->getScale();
      if (!flatCatalogHasScale(type)) row->flags |= FlatSpecialRow::noScale;
    }
    if (addRow(row) != kvSuccess) return kvFailure;
  }
  return kvSuccess;
}

KvStatus FlatSpecialDesc::getResultSet() {
  uint16_t found = 0;
  if (openNamedTable(&found) != kvSuccess) return kvFailure;
  if (!found) return kvSuccess;
  FlatTableLock lock(opened_->getShared());
  return colType_ == SQL_BEST_ROWID ? addBestRowId() : addRowVersion();
}

KvStatus FlatSpecialDesc::getColumnData(uint16_t row, uint16_t column, int16_t cType, BaseOutString* out) {
  const auto* values = static_cast<const FlatSpecialRow*>(getRow(row));
  if (!values) return putText(column, cType, out, nullptr);
  const uint16_t nulls = values->flags;
  switch (column) {
    case specialScope: return putShort(column, cType, out, !(nulls & FlatSpecialRow::noScope), values->scope);
    case specialColumnName: return putText(column, cType, out, values->columnName);
    case specialDataType: return putShort(column, cType, out, 1, values->dataType);
    case specialTypeName: return putText(column, cType, out, values->typeName);
    case specialPrecision:
      return putLong(column, cType, out, !(nulls & FlatSpecialRow::noPrecision), values->precision);
    case specialLength: return putLong(column, cType, out, 1, values->length);
    case specialScale: return putShort(column, cType, out, !(nulls & FlatSpecialRow::noScale), values->scale);
    case specialPseudoColumn: return putShort(column, cType, out, 1, values->pseudoColumn);
    default: return putText(column, cType, out, nullptr);
  }
}

// ---------------------------------------------------------------- FlatStatisticsDesc

FlatStatisticsDesc::FlatStatisticsDesc(FlatStatement* statement)
    : FlatCatalogDesc(statement, catalogStatistics, 0) {}

KvStatus FlatStatisticsDesc::setParameters(BaseCatalogInfo* info) {
  if (!info || info->getKind() != catalogStatistics) {
    addOdbcError(stateGeneral);
    return kvFailure;
  }
  auto* statistics = static_cast<BaseStatisticsInfo*>(info);
  const unsigned char* qualifier = statistics->getArgument(catalogArgQualifier);
  if (!qualifier && (connection()->getEngineFlags() & flatQualifiersUsable))
    qualifier = connection()->getDatabaseDirectory();
  if (setQualifier(qualifier) != kvSuccess || setOwner(statistics->getArgument(catalogArgOwner)) != kvSuccess ||
      setTable(statistics->getArgument(catalogArgTable)) != kvSuccess)
    return kvFailure;
  setUnique(statistics->getUnique());
  return kvSuccess;
}

KvStatus FlatStatisticsDesc::addRows() {
  FlatSharedDesc* shared = opened_->getShared();
  auto* tableRow = new FlatStatRow;
  if (tableRow) {
    uint32_t pages = 0;
    if (opened_->getMaxPages(&pages)) {
      tableRow->v.pages = clampLong(pages);
      tableRow->v.flags &= ~uint16_t(StatValues::noPages);
    }
  }
  if (addRow(tableRow) != kvSuccess) return kvFailure;
  for (FlatIndexDesc* index = shared->getIndexes(); index; index = index->next) {
    if (index->isRowId()) continue;
    const bool unique = (index->flags & FlatIndexDesc::indexUnique) != 0;
    if (unique_ == SQL_INDEX_UNIQUE && !unique) continue;
    // What every row of the index shares.
    StatValues head;
    head.flags = StatValues::noCollation | StatValues::noFilter;
    head.nonUnique = unique ? SQL_FALSE : SQL_TRUE;
    head.type = int16_t(index->kind);
    flatCatalogText(head.indexName, index->name);
    if (!index->name) head.flags |= StatValues::noIndexName;
    uint16_t isNull = 0;
    if (index->getQualifier(head.indexQualifier, flatCatalogTextBytes, shared, &isNull) != kvSuccess)
      return kvFailure;
    if (isNull) head.flags |= StatValues::noIndexQualifier;
    uint32_t count = 0;
    if (index->getUniqueCount(&count, &isNull) != kvSuccess) return kvFailure;
    head.cardinality = clampLong(count);
    if (isNull) head.flags |= StatValues::noCardinality;
    if (index->getPages(&count, &isNull) != kvSuccess) return kvFailure;
    head.pages = clampLong(count);
    if (isNull) head.flags |= StatValues::noPages;
    if (index->filter) {
      uint8_t* filter = nullptr;
      if (index->getFilterCondition(&filter, opened_) != kvSuccess) return kvFailure;
      if (filter) {
        flatCatalogText(head.filter, filter);
        head.flags &= ~uint16_t(StatValues::noFilter);
      }
    }
    for (uint16_t key = 0; key < index->keyCount; ++key) {
      auto* row = new FlatStatRow(head);
      if (row) {
        StatValues& values = row->v;
        values.seqInIndex = clampShort(key + 1u);
        if (index->getColumnName(values.columnName, flatCatalogTextBytes, key, opened_) != kvSuccess) {
          delete row;
          return kvFailure;
        }
        values.collation[0] = (index->keys[key]->flags & FlatKeyField::keyDescending) ? 'D' : 'A';
        values.flags &= ~uint16_t(StatValues::noSeqInIndex | StatValues::noColumnName | StatValues::noCollation);
      }
      if (addRow(row) != kvSuccess) return kvFailure;
    }
  }
  return kvSuccess;
}

KvStatus FlatStatisticsDesc::getResultSet() {
  uint16_t found = 0;
  if (openNamedTable(&found) != kvSuccess) return kvFailure;
  if (!found) return kvSuccess;
  KvStatus status = kvSuccess;
  {
    FlatTableLock lock(opened_->getShared());
    status = addRows();
  }
  if (status != kvSuccess) return kvFailure;
  return sortRows();
}

KvStatus FlatStatisticsDesc::getColumnData(uint16_t row, uint16_t column, int16_t cType, BaseOutString* out) {
  const auto* found = static_cast<const FlatStatRow*>(getRow(row));
  if (!found) return putText(column, cType, out, nullptr);
  const StatValues* values = &found->v;
  const uint16_t nulls = values->flags;
  auto text = [&](uint16_t nullFlag, const unsigned char* value) {
    return putText(column, cType, out, (nulls & nullFlag) ? nullptr : value);
  };
  switch (column) {
    case statQualifier: return putText(column, cType, out, qualifier_);
    case statOwner: return putText(column, cType, out, owner_);
    case statTable: return putText(column, cType, out, table_);
    case statNonUnique: return putShort(column, cType, out, !(nulls & StatValues::noNonUnique), values->nonUnique);
    case statIndexQualifier: return text(StatValues::noIndexQualifier, values->indexQualifier);
    case statIndexName: return text(StatValues::noIndexName, values->indexName);
    case statType: return putShort(column, cType, out, 1, values->type);
    case statSeqInIndex: return putShort(column, cType, out, !(nulls & StatValues::noSeqInIndex), values->seqInIndex);
    case statColumnName: return text(StatValues::noColumnName, values->columnName);
    case statCollation: return text(StatValues::noCollation, values->collation);
    case statCardinality: return putLong(column, cType, out, !(nulls & StatValues::noCardinality), values->cardinality);
    case statPages: return putLong(column, cType, out, !(nulls & StatValues::noPages), values->pages);
    case statFilterCondition: return text(StatValues::noFilter, values->filter);
    default: return putText(column, cType, out, nullptr);
  }
}
