// Catalog rows of fixed columns: their values, their order and the result
// sets made of them; see base_catalog_rows.h.
#include "base/catalog/base_catalog_rows.h"

#include "base/results/base_column_metrics.h"
#include "base/handles/base_out_string.h"
#include "base/statement/base_statement.h"
#include "util/memory/ram.h"
#include "util/containers/str_functions.h"

#include <cstring>

namespace {

int sign(int value) { return value < 0 ? -1 : value > 0 ? 1 : 0; }

// Text keys: NULL first, two NULLs equal.
int compareText(const unsigned char* a, const unsigned char* b, CatalogKeyKind kind) {
  if (!a || !b) return int(a != nullptr) - int(b != nullptr);
  return sign(kind == keyBytes ? std::strcmp(kvC(a), kvC(b)) : strCompareIntl(a, b));
}

// The ODBC 2 types whose metrics the type fixes or derives; any other type
// (0, and the codes below BIT or above VARCHAR) reports what was stored.
bool isDerivedType(int16_t type) { return type >= SQL_BIT && type <= SQL_VARCHAR && type != 0; }

}  // namespace

// ---------------------------------------------------------------- rows

CatalogRowInfo::~CatalogRowInfo() {
  for (unsigned char* text : texts_) ramFree(text);
}

KvStatus CatalogRowInfo::setText(uint16_t column, const unsigned char* text, uint32_t length) {
  unsigned char* copy = nullptr;
  if (text) {
    copy = ramAllocStr(text, length);
    if (!copy) return kvFailure;
  }
  adoptText(column, copy);
  return kvSuccess;
}

void CatalogRowInfo::adoptText(uint16_t column, unsigned char* text) {
  ramFree(texts_[column - 1]);
  texts_[column - 1] = text;
}

int CatalogRowInfo::compareKey(const CatalogRowInfo& other, const CatalogSortKey& key) const {
  if (key.kind == keyIntl || key.kind == keyBytes) return compareText(getText(key.column), other.getText(key.column), key.kind);
  const bool mine = hasNumber(key.column) != 0;
  const bool theirs = other.hasNumber(key.column) != 0;
  if (key.kind == keyTypeZeroLast) {
    const bool myZero = mine && getNumber(key.column) == 0;
    const bool theirZero = theirs && other.getNumber(key.column) == 0;
    return int(myZero) - int(theirZero);
  }
  if (!mine || !theirs) return int(mine) - int(theirs);
  return sign(int(int16_t(getNumber(key.column))) - int(int16_t(other.getNumber(key.column))));
}

int16_t CatalogRowInfo::compare(const KvObject* other) const {
  const CatalogRowInfo& that = *static_cast<const CatalogRowInfo*>(other);
  for (uint16_t i = 0; i < family_->keyCount; ++i) {
    const int order = compareKey(that, family_->keys[i]);
    if (order) return int16_t(order);
  }
  return 0;
}

SpecialRowInfo::~SpecialRowInfo() { ramFree(indexName); }

// ---------------------------------------------------------------- metrics

int32_t baseCatalogMetric(CatalogValueRule rule, const CatalogStoredMetrics& stored, bool* isNull) {
  const int16_t type = stored.dataType;
  const bool derived = isDerivedType(type);
  *isNull = false;
  switch (rule) {
    case rulePrecision:
      if (derived && BaseColumnHasFixedPrecision(type)) {
        if (type != SQL_BIGINT || stored.hasPrecision)
          return int32_t(BaseColumnPrecision(type, uint32_t(stored.precision), bigintGiven));
      }
      *isNull = !stored.hasPrecision;
      return stored.precision;
    case ruleLength: {
      if (!derived) break;
      if (type == SQL_DECIMAL || type == SQL_NUMERIC) {
        if (stored.hasLength && stored.length != 0) return stored.length;
        if (!stored.hasPrecision) {
          *isNull = true;
          return 0;
        }
      } else if (!BaseColumnHasFixedPrecision(type) && type != SQL_TIMESTAMP && !stored.hasPrecision) {
        *isNull = true;  // text and binary: the length is the precision
        return 0;
      }
      const BaseColumnShape shape = {type, uint32_t(stored.precision < 0 ? 0 : stored.precision),
                                     stored.hasScale ? stored.scale : int16_t(0), false, false};
      return int32_t(BaseColumnLength(shape));
    }
    case ruleScale: {
      if (!derived) break;
      const int16_t scale = BaseColumnScale(type, stored.scale);
      if (scale == baseMetricNull || ((type == SQL_DECIMAL || type == SQL_NUMERIC || type == SQL_TIMESTAMP) &&
                                      !stored.hasScale)) {
        *isNull = true;
        return 0;
      }
      return scale;
    }
    case ruleRadix: {
      if (!derived) break;
      const int16_t radix = BaseColumnRadix(type);
      *isNull = radix == baseMetricNull;
      return radix;
    }
    default:
      break;
  }
  // A type the framework does not derive: what the driver stored.
  switch (rule) {
    case ruleLength: *isNull = !stored.hasLength; return stored.length;
    case ruleScale: *isNull = !stored.hasScale; return stored.scale;
    case ruleRadix: *isNull = !stored.hasRadix; return stored.radix;
    default: *isNull = true; return 0;
  }
}

// ---------------------------------------------------------------- result sets

BaseRowsCatalogInfo::BaseRowsCatalogInfo(BaseStatement* statement, const CatalogFamilyDesc* family)
    : BaseCatalogInfo(statement, family->kind), family_(family) {}

BaseRowsCatalogInfo::~BaseRowsCatalogInfo() {
  for (uint16_t i = 0; i < catalogMaxArguments; ++i) {
    ramFree(plain_[i]);
    ramFree(pattern_[i]);
  }
}

KvStatus BaseRowsCatalogInfo::setArgument(uint16_t n, const unsigned char* plain, const unsigned char* pattern) {
  ramFree(plain_[n]);
  ramFree(pattern_[n]);
  plain_[n] = plain ? ramAllocStr(plain) : nullptr;
  pattern_[n] = pattern ? ramAllocStr(pattern) : nullptr;
  return (plain && !plain_[n]) || (pattern && !pattern_[n]) ? kvFailure : kvSuccess;
}

CatalogRowInfo* BaseRowsCatalogInfo::makeRow() const { return new CatalogRowInfo(family_); }

int BaseRowsCatalogInfo::passesFilters(const CatalogRowInfo& row) const {
  for (uint16_t i = 0; i < family_->filterCount; ++i) {
    const CatalogFilter& filter = family_->filters[i];
    if (!matchPattern(row.getText(filter.column), pattern_[filter.argument], filter.tableName)) return 0;
  }
  return 1;
}

KvStatus BaseRowsCatalogInfo::getColumnValue(uint16_t column, int16_t cType, BaseOutString* out) {
  const CatalogRowInfo* row = static_cast<const CatalogRowInfo*>(getCurrentRow());
  if (!row || column < 1 || column > family_->columnCount) return putValue(column, cType, out, nullptr, 0, itChar);
  const CatalogColumnDesc& desc = family_->columns[column - 1];
  if (desc.sqlType != SQL_SMALLINT && desc.sqlType != SQL_INTEGER) {
    const unsigned char* text = family_->rules[column - 1] == ruleAlwaysNull ? nullptr : row->getText(column);
    return putValue(column, cType, out, text, text ? uint32_t(std::strlen(kvC(text))) : 0, itChar);
  }
  bool isNull = !row->hasNumber(column);
  int32_t value = row->getNumber(column);
  const uint16_t typeColumn = family_->typeColumn;
  const bool typeZero = typeColumn && row->hasNumber(typeColumn) && row->getNumber(typeColumn) == 0;
  switch (family_->rules[column - 1]) {
    case ruleNullWhenTypeZero: isNull = isNull || typeZero; break;
    case ruleOnlyWhenTypeZero: isNull = isNull || !typeZero || value == -1; break;
    case ruleNullWhenMinusOne: isNull = isNull || value == -1; break;
    case ruleAlwaysNull: isNull = true; break;
    case rulePrecision: case ruleLength: case ruleScale: case ruleRadix: {
      const uint16_t m = family_->metricsColumn;
      const CatalogStoredMetrics stored = {
          int16_t(row->getNumber(typeColumn)), row->getNumber(m), row->getNumber(uint16_t(m + 1)),
          int16_t(row->getNumber(uint16_t(m + 2))), int16_t(row->getNumber(uint16_t(m + 3))),
          row->hasNumber(m) != 0, row->hasNumber(uint16_t(m + 1)) != 0, row->hasNumber(uint16_t(m + 2)) != 0,
          row->hasNumber(uint16_t(m + 3)) != 0};
      value = baseCatalogMetric(family_->rules[column - 1], stored, &isNull);
      break;
    }
    default: break;
  }
  if (isNull) return putValue(column, cType, out, nullptr, 0, itSLong);
  if (desc.sqlType == SQL_SMALLINT) {
    const int16_t small = int16_t(value);
    return putValue(column, cType, out, &small, 2, itSShort);
  }
  return putValue(column, cType, out, &value, 4, itSLong);
}
