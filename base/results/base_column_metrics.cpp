// Column metrics by SQL type; the table is in base_column_metrics.h.
#include "base/results/base_column_metrics.h"

#include "base/convert/base_convert.h"

namespace {

// The types whose metrics do not depend on the column's precision.
struct FixedMetrics {
  int16_t sqlType;
  uint32_t precision;  // BIGINT: the signed one
  uint32_t length;
  int16_t scale;
  int16_t radix;
  uint32_t displaySigned;
  uint32_t displayUnsigned;
};

const FixedMetrics fixedMetrics[] = {
    {SQL_BIT, 1, 1, 0, 10, 1, 1},
    {SQL_TINYINT, 3, 1, 0, 10, 4, 3},
    {SQL_SMALLINT, 5, 2, 0, 10, 6, 5},
    {SQL_INTEGER, 10, 4, 0, 10, 11, 10},
    {SQL_BIGINT, 19, 20, 0, 10, 20, 20},
    {SQL_REAL, 7, 4, baseMetricNull, 10, 13, 13},
    {SQL_FLOAT, 15, 8, baseMetricNull, 10, 22, 22},
    {SQL_DOUBLE, 15, 8, baseMetricNull, 10, 22, 22},
    {SQL_DATE, 10, 6, baseMetricNull, baseMetricNull, 10, 10},
    {SQL_TIME, 8, 6, baseMetricNull, baseMetricNull, 8, 8},
};

const FixedMetrics* findFixed(int16_t sqlType) {
  for (const FixedMetrics& row : fixedMetrics) {
    if (row.sqlType == sqlType) return &row;
  }
  return nullptr;
}

// Display sizes of binary columns count two hexadecimal characters a byte;
// from 2^30 bytes on that no longer fits, and the largest size stands.
enum : uint32_t { hugeBinaryPrecision = 0x40000000, largestDisplaySize = 2147483647 };

enum Family { familyFixed, familyDecimal, familyTimestamp, familyText, familyBinary, familyOther };

Family familyOf(int16_t sqlType) {
  sqlType = BaseOdbc2SqlType(sqlType);
  if (findFixed(sqlType)) return familyFixed;
  switch (sqlType) {
    case SQL_NUMERIC: case SQL_DECIMAL: return familyDecimal;
    case SQL_TIMESTAMP: return familyTimestamp;
    case SQL_CHAR: case SQL_VARCHAR: case SQL_LONGVARCHAR: return familyText;
    case SQL_BINARY: case SQL_VARBINARY: case SQL_LONGVARBINARY: return familyBinary;
    default: return familyOther;
  }
}

uint32_t clampAdd(uint32_t value, int64_t add) {
  const int64_t sum = int64_t(value) + add;
  return sum < 0 ? 0 : sum > int64_t(largestDisplaySize) ? largestDisplaySize : uint32_t(sum);
}

bool withoutSign(const BaseColumnShape& column) { return column.isUnsigned || column.noSignPosition; }

}  // namespace

bool BaseColumnHasFixedPrecision(int16_t sqlType) { return findFixed(BaseOdbc2SqlType(sqlType)) != nullptr; }

uint32_t BaseColumnPrecision(int16_t sqlType, uint32_t precision, BaseBigintSign sign) {
  const FixedMetrics* fixed = findFixed(BaseOdbc2SqlType(sqlType));
  if (!fixed) return precision;
  if (fixed->sqlType == SQL_BIGINT) return sign == bigintSigned ? 19 : sign == bigintUnsigned ? 20 : precision;
  return fixed->precision;
}

uint32_t BaseColumnLength(const BaseColumnShape& column) {
  switch (familyOf(column.sqlType)) {
    case familyFixed: return findFixed(BaseOdbc2SqlType(column.sqlType))->length;
    case familyTimestamp: return 16;
    case familyDecimal:
      return clampAdd(column.precision, (column.scale > 0 ? 2 : 1 - int64_t(column.scale)) - (withoutSign(column) ? 1 : 0));
    default: return column.precision;
  }
}

int16_t BaseColumnScale(int16_t sqlType, int16_t scale) {
  switch (familyOf(sqlType)) {
    case familyFixed: return findFixed(BaseOdbc2SqlType(sqlType))->scale;
    case familyDecimal: case familyTimestamp: return scale;
    default: return baseMetricNull;
  }
}

int16_t BaseColumnRadix(int16_t sqlType) {
  switch (familyOf(sqlType)) {
    case familyFixed: return findFixed(BaseOdbc2SqlType(sqlType))->radix;
    case familyDecimal: return 10;
    default: return baseMetricNull;
  }
}

uint32_t BaseColumnDisplaySize(const BaseColumnShape& column) {
  switch (familyOf(column.sqlType)) {
    case familyFixed: {
      const FixedMetrics* fixed = findFixed(BaseOdbc2SqlType(column.sqlType));
      return column.isUnsigned ? fixed->displayUnsigned : fixed->displaySigned;
    }
    case familyTimestamp: return column.scale > 0 ? 20u + uint32_t(column.scale) : 19u;
    case familyDecimal: {
      int64_t extra = withoutSign(column) ? 0 : 1;
      if (column.scale > 0) extra += 1;
      if (column.scale < 0) extra -= column.scale;
      return clampAdd(column.precision, extra);
    }
    case familyBinary:
      return column.precision >= hugeBinaryPrecision ? largestDisplaySize : column.precision * 2;
    default: return column.precision;
  }
}
