// SQLSpecialColumns: the driver's answer, or the framework's own when the
// driver gives none (its executeSpecial sets the not-handled flag) or
// WorkArounds asks for it (waSpecialByFramework).
//
// The framework's answer: SQL_ROWVER is an empty result. SQL_BEST_ROWID is
// the columns of the first unique index, in statistics order, that no
// nullable column rules out (under fNullable SQL_NO_NULLS): the statistics
// of the table are read (the SQLStatistics core nested, internal call 1,
// unique indexes only), every index column becomes a candidate row of
// SCOPE SQL_SCOPE_SESSION, and the table's columns (the SQLColumns core
// nested) give each candidate its type, precision, length and scale.
//
// Steps: 1 the driver's executeSpecial, 2 reading its rows, 3 the nested
// statistics, 4 the nested columns.
#include "base/catalog/base_catalog_columns.h"
#include "base/catalog/base_catalog_families.h"

#include "base/handles/base_messages.h"
#include "base/statement/base_statement.h"
#include "util/memory/ram.h"

#include <cstring>

namespace {

enum : uint16_t { specialStepDriver = 1, specialStepRows = 2, specialStepStatistics = 3, specialStepColumns = 4 };

// name as a pattern that matches only itself: "%", "_" and the escape get
// the data source's escape in front (without an escape, the name as it is).
unsigned char* literalPattern(BaseConnection* connection, const unsigned char* name) {
  if (!name) return nullptr;
  void* value = nullptr;
  BaseInfoValType kind = infoNotFound;
  unsigned owned = 0;
  unsigned char escape = 0;
  if (connection->getInfo(SQL_SEARCH_PATTERN_ESCAPE, &value, &kind, &owned) == kvSuccess) {
    escape = kind == infoText && value ? static_cast<unsigned char*>(value)[0] : 0;
    if (owned) ramFree(value);
  } else {
    KvErrorKeeper::clearLastError();
  }
  const size_t length = std::strlen(kvC(name));
  unsigned char* pattern = static_cast<unsigned char*>(ramAlloc(uint32_t(length * 2 + 1)));
  if (!pattern) return nullptr;
  unsigned char* out = pattern;
  for (const unsigned char* in = name; *in; ++in) {
    if (escape && (*in == '%' || *in == '_' || *in == escape)) *out++ = escape;
    *out++ = *in;
  }
  *out = 0;
  return pattern;
}

bool sameText(const unsigned char* a, const unsigned char* b) {
  return a && b && std::strcmp(kvC(a), kvC(b)) == 0;
}

// The candidates of the statistics: one row for each column of each index
// (unique indexes only, even when a driver reports others).
KvStatus addCandidates(BaseSpecialColumnsInfo* info, const BaseStatisticsInfo& statistics) {
  for (uint16_t i = 0; i < statistics.getRowCount(); ++i) {
    const CatalogRowInfo* stat = statistics.getRow(i);
    if (!stat->getText(statIndexName)) continue;
    if (stat->hasNumber(statNonUnique) && stat->getNumber(statNonUnique) == SQL_TRUE) continue;
    SpecialRowInfo* row = static_cast<SpecialRowInfo*>(info->makeRow());
    if (!row) return kvFailure;
    row->setNumber(specialScope, SQL_SCOPE_SESSION);
    row->indexName = ramAllocStr(stat->getText(statIndexName));
    const unsigned char* column = stat->getText(statColumnName);
    if (!row->indexName || row->setText(specialColumnName, column, column ? uint32_t(std::strlen(kvC(column))) : 0) != kvSuccess) {
      delete row;
      return kvFailure;
    }
    if (info->appendRow(row) != kvSuccess) return kvFailure;
  }
  return kvSuccess;
}

// Each candidate gets the description of its column; an index with a
// nullable column is ruled out unless nullable columns are allowed.
KvStatus describeCandidates(BaseSpecialColumnsInfo* info, const BaseColumnsInfo& columns) {
  for (uint16_t t = 0; t < columns.getTableCount(); ++t) {
    const ZizTableInfo* table = columns.getTable(t);
    for (uint16_t c = 0; c < table->columns.getCount(); ++c) {
      const ZizColumnInfo* column = static_cast<const ZizColumnInfo*>(table->columns[c]);
      for (uint16_t r = 0; r < info->getRowCount(); ++r) {
        SpecialRowInfo* row = static_cast<SpecialRowInfo*>(info->getRow(r));
        if (!sameText(row->getText(specialColumnName), column->columnName)) continue;
        if (column->hasDataType) row->setNumber(specialDataType, column->metrics.dataType);
        const unsigned char* typeName = column->typeName;
        if (row->setText(specialTypeName, typeName, typeName ? uint32_t(std::strlen(kvC(typeName))) : 0) != kvSuccess)
          return kvFailure;
        bool isNull = false;
        const int32_t precision = baseCatalogMetric(rulePrecision, column->metrics, &isNull);
        if (!isNull) row->setNumber(specialPrecision, precision);
        const int32_t length = baseCatalogMetric(ruleLength, column->metrics, &isNull);
        if (!isNull) row->setNumber(specialLength, length);
        const int32_t scale = baseCatalogMetric(ruleScale, column->metrics, &isNull);
        if (!isNull) row->setNumber(specialScale, int16_t(scale));
        row->setNumber(specialPseudoColumn, SQL_PC_NOT_PSEUDO);
      }
      if (info->getNullable() == SQL_NULLABLE || !column->hasNullable || column->nullable == SQL_NO_NULLS) continue;
      for (uint16_t r = 0; r < info->getRowCount(); ++r) {
        SpecialRowInfo* row = static_cast<SpecialRowInfo*>(info->getRow(r));
        if (!sameText(row->getText(specialColumnName), column->columnName)) continue;
        for (uint16_t k = 0; k < info->getRowCount(); ++k) {
          SpecialRowInfo* other = static_cast<SpecialRowInfo*>(info->getRow(k));
          if (sameText(other->indexName, row->indexName)) other->adoptText(specialColumnName, nullptr);
        }
      }
    }
  }
  return kvSuccess;
}

// What remains: the columns of the first index that kept all its columns.
void chooseIndex(BaseSpecialColumnsInfo* info) {
  const unsigned char* chosen = nullptr;
  for (uint16_t r = 0; r < info->getRowCount();) {
    SpecialRowInfo* row = static_cast<SpecialRowInfo*>(info->getRow(r));
    if (!row->getText(specialColumnName)) {
      info->deleteRow(r);
      continue;
    }
    if (!chosen) chosen = row->indexName;
    if (!sameText(row->indexName, chosen)) {
      info->deleteRow(r);
      continue;
    }
    ++r;
  }
}

}  // namespace

KvStatus BaseStatement::specialCore(BaseSpecialColumnsInfo* info) {
  uint16_t step = info->getResumeStep();
  if (step <= specialStepDriver && !(connection_->getWorkArounds() & BaseConnection::waSpecialByFramework)) {
    info->setResumeStep(specialStepDriver);
    uint16_t notHandled = 0;
    if (executeSpecial(&notHandled) != kvSuccess) return kvFailure;
    if (flags_ & flagAsync) return kvSuccess;
    if (!notHandled) {
      cursorState_ = cursorOpen;
      step = specialStepRows;
      info->setResumeStep(step);
    }
  }
  if (step == specialStepRows) {
    if (readFamilyRows(info) != kvSuccess) return kvFailure;
    if (flags_ & flagAsync) return kvSuccess;
    return finishCatalogRows(info);
  }
  if (step <= specialStepDriver) {
    if (info->getColumnType() == SQL_ROWVER) return finishCatalogRows(info);
    BaseStatisticsInfo* statistics = new BaseStatisticsInfo(this);
    if (!statistics) return kvFailure;
    pushCatalogInfo(statistics);
    statistics->setUnique(SQL_INDEX_UNIQUE);
    statistics->setInternalCall(1);
    const CatalogFamilyDesc& family = baseStatisticsFamily();
    if (setCatalogColumns(family.columnCount, family.columns) != kvSuccess) return kvFailure;
    for (uint16_t i = 0; i < 3; ++i) {
      if (statistics->setArgument(i, info->getArgument(i), nullptr) != kvSuccess) return kvFailure;
    }
    step = specialStepStatistics;
    info->setResumeStep(step);
  }
  if (step == specialStepStatistics) {
    BaseStatisticsInfo* statistics = static_cast<BaseStatisticsInfo*>(findCatalogInfo(catalogStatistics));
    if (rowsCore(statistics) != kvSuccess) return kvFailure;
    if (flags_ & flagAsync) return kvSuccess;
    if (addCandidates(info, *statistics) != kvSuccess) return kvFailure;
    popCatalogInfo();
    if (info->getRowCount() == 0) return finishCatalogRows(info);
    BaseColumnsInfo* columns = new BaseColumnsInfo(this);
    if (!columns) return kvFailure;
    pushCatalogInfo(columns);
    if (setCatalogColumns(baseColumnsColumnCount, baseColumnsColumns()) != kvSuccess) return kvFailure;
    // The owner and table are names, not patterns: the table's own columns
    // only, even when its name holds "_".
    if (info->getArgument(0)) {
      *columns->plainSlot(0) = ramAllocStr(info->getArgument(0));
      if (!*columns->plainSlot(0)) return kvFailure;
    }
    for (uint16_t i = 1; i < 3; ++i) {
      const unsigned char* name = info->getArgument(i);
      if (!name) continue;
      *columns->plainSlot(i) = ramAllocStr(name);
      *columns->patternSlot(i) = literalPattern(connection_, name);
      if (!*columns->plainSlot(i) || !*columns->patternSlot(i)) return kvFailure;
    }
    step = specialStepColumns;
    info->setResumeStep(step);
  }
  if (step == specialStepColumns) {
    BaseColumnsInfo* columns = static_cast<BaseColumnsInfo*>(findCatalogInfo(catalogColumns));
    if (columnsCore(columns) != kvSuccess) return kvFailure;
    if (flags_ & flagAsync) return kvSuccess;
    if (describeCandidates(info, *columns) != kvSuccess) return kvFailure;
    popCatalogInfo();
    chooseIndex(info);
  }
  return finishCatalogRows(info);
}
