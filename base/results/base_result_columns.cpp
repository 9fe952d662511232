// Result columns: how a statement describes them (describeColumns) and the
// ODBC calls that read the description: SQLNumResultCols, SQLDescribeCol
// and SQLColAttributes.
//
// A driver makes its BaseField records at prepare or execute time, or later
// in calcNumResultCols; describing them runs calcNumResultCols once and then
// puts the fixed precision (and scale 0) of the SQL types that have one in
// place of what the driver set, so that every call reads the same numbers.
// Texts go out through a BaseOutString (16-bit length; truncation posts
// 01004), numbers at their full ODBC width (SQLULEN precision, SQLLEN
// attribute values).
#include "base/catalog/base_catalog_info.h"
#include "base/results/base_column_metrics.h"
#include "base/convert/base_convert.h"
#include "base/handles/base_app_text.h"
#include "base/handles/base_error_list.h"
#include "base/results/base_field.h"
#include "base/handles/base_messages.h"
#include "base/handles/base_out_string.h"
#include "base/statement/base_statement.h"

#include <cstdio>

namespace {

BaseColumnShape shapeOf(const BaseField& field) {
  return {field.sqlType, field.precision, field.scale, (field.flags & BaseField::flagUnsigned) != 0,
          (field.flags & BaseField::flagNoSign) != 0};
}

// A TIMESTAMP column's negative scale (seconds or minutes left out of its
// text) is reported as 0.
int16_t reportedScale(const BaseField& field) {
  return BaseOdbc2SqlType(field.sqlType) == SQL_TIMESTAMP && field.scale < 0 ? 0 : field.scale;
}

// SQL_COLUMN_UNSIGNED: the numbers that can carry a sign answer by the
// unsigned flag; every other type (BIT, text, dates) is unsigned.
bool isUnsignedColumn(const BaseField& field) {
  switch (BaseOdbc2SqlType(field.sqlType)) {
    case SQL_TINYINT: case SQL_BIGINT: case SQL_NUMERIC: case SQL_DECIMAL: case SQL_INTEGER:
    case SQL_SMALLINT: case SQL_FLOAT: case SQL_REAL: case SQL_DOUBLE:
      return (field.flags & BaseField::flagUnsigned) != 0;
    default:
      return true;
  }
}

// The name of column n: the driver's, or "C<n>" for an unnamed column
// under WorkArounds 0x40 (for applications that cannot take an empty name).
const unsigned char* columnName(const BaseField& field, uint16_t column, uint32_t workArounds,
                                unsigned char (&scratch)[8]) {
  if ((field.name && field.name[0]) || !(workArounds & BaseConnection::waDescribe)) return field.name;
  std::snprintf(kvC(scratch), sizeof(scratch), "C%u", unsigned(column));
  return scratch;
}

// SQL_COLUMN_LENGTH: the bytes a value takes as SQL_C_DEFAULT. Text goes out
// in the application's code set, where one character may take several
// bytes; its size in characters (SQLDescribeCol, the display size) stays.
uint32_t appColumnLength(const BaseField& field) {
  const uint32_t length = BaseColumnLength(shapeOf(field));
  const int16_t sqlType = BaseOdbc2SqlType(field.sqlType);
  if (sqlType != SQL_CHAR && sqlType != SQL_VARCHAR && sqlType != SQL_LONGVARCHAR) return length;
  const uint64_t bytes = uint64_t(length) * baseAppCharBytes();
  return bytes > INT32_MAX ? uint32_t(INT32_MAX) : uint32_t(bytes);
}

}  // namespace

void BaseStatement::applyFixedPrecisions() {
  for (uint16_t i = 0; i < fieldCount_; ++i) {
    BaseField* field = fields_[i];
    if (!field || !BaseColumnHasFixedPrecision(field->sqlType)) continue;
    const BaseBigintSign sign = (field->flags & BaseField::flagUnsigned) ? bigintUnsigned : bigintSigned;
    field->precision = BaseColumnPrecision(field->sqlType, field->precision, sign);
    field->scale = 0;
  }
  flags_ |= flagColumnsKnown;
}

KvStatus BaseStatement::describeColumns() {
  if (flags_ & flagColumnsKnown) return kvSuccess;
  if (calcNumResultCols() != kvSuccess) return kvFailure;
  if (flags_ & flagAsync) return kvSuccess;
  applyFixedPrecisions();
  return kvSuccess;
}

SQLRETURN BaseStatement::SQLNumResultCols(SQLSMALLINT* pccol) {
  BaseCall call(this, SQL_API_SQLNUMRESULTCOLS);
  if (!call.isOpen()) return call.getResult();
  if (describeColumns() != kvSuccess) return call.exit(SQL_ERROR);
  if (flags_ & flagAsync) return call.exit(SQL_STILL_EXECUTING);
  if (pccol) *pccol = SQLSMALLINT(fieldCount_);
  return call.exit(SQL_SUCCESS);
}

SQLRETURN BaseStatement::SQLDescribeCol(SQLUSMALLINT icol, SQLCHAR* szColName, SQLSMALLINT cbColNameMax,
                                        SQLSMALLINT* pcbColName, SQLSMALLINT* pfSqlType, SQLULEN* pcbColDef,
                                        SQLSMALLINT* pibScale, SQLSMALLINT* pfNullable) {
  BaseCall call(this, SQL_API_SQLDESCRIBECOL);
  if (!call.isOpen()) return call.getResult();
  if (describeColumns() != kvSuccess) return call.exit(SQL_ERROR);
  if (flags_ & flagAsync) return call.exit(SQL_STILL_EXECUTING);
  if (fieldCount_ == 0) {
    addOdbcError(stateCursorState);
    return call.exit(SQL_ERROR);
  }
  // Column 0 is the bookmark, which has no description here.
  if (icol == 0 || icol > fieldCount_ || !fields_[icol - 1]) {
    addOdbcError(stateColumnNumber);
    return call.exit(SQL_ERROR);
  }
  BaseOutString name(szColName, int32_t(cbColNameMax), pcbColName);
  if (name.checkSize() != kvSuccess) return call.exit(SQL_ERROR);
  const BaseField& field = *fields_[icol - 1];
  unsigned char scratch[8];
  if (name.setStrValue(columnName(field, icol, connection_->getWorkArounds(), scratch)) != kvSuccess)
    return call.exit(SQL_ERROR);
  if (pfSqlType) *pfSqlType = field.sqlType;
  if (pcbColDef) *pcbColDef = SQLULEN(field.precision);
  if (pibScale) *pibScale = reportedScale(field);
  if (pfNullable) *pfNullable = field.nullable;
  return call.exit(SQL_SUCCESS);
}

SQLRETURN BaseStatement::SQLColAttributes(SQLUSMALLINT icol, SQLUSMALLINT fDescType, SQLPOINTER rgbDesc,
                                          SQLSMALLINT cbDescMax, SQLSMALLINT* pcbDesc, SQLLEN* pfDesc) {
  BaseCall call(this, SQL_API_SQLCOLATTRIBUTES);
  if (!call.isOpen()) return call.getResult();
  if (describeColumns() != kvSuccess) return call.exit(SQL_ERROR);
  if (flags_ & flagAsync) return call.exit(SQL_STILL_EXECUTING);
  if (fieldCount_ == 0) {
    addOdbcError(stateCursorState);
    return call.exit(SQL_ERROR);
  }
  if (fDescType == SQL_COLUMN_COUNT) {
    if (pfDesc) *pfDesc = SQLLEN(fieldCount_);
    return call.exit(SQL_SUCCESS);
  }
  if (icol == 0 || icol > fieldCount_ || !fields_[icol - 1]) {
    addOdbcError(stateColumnNumber);
    return call.exit(SQL_ERROR);
  }
  BaseOutString text(rgbDesc, int32_t(cbDescMax), pcbDesc);
  if (text.checkSize() != kvSuccess) return call.exit(SQL_ERROR);
  const BaseField& field = *fields_[icol - 1];
  unsigned char scratch[8];
  SQLLEN number = 0;
  KvStatus written = kvSuccess;
  switch (fDescType) {
    case SQL_COLUMN_NAME: written = text.setStrValue(columnName(field, icol, connection_->getWorkArounds(), scratch)); break;
    case SQL_COLUMN_TYPE: number = field.sqlType; break;
    case SQL_COLUMN_LENGTH: number = SQLLEN(appColumnLength(field)); break;
    case SQL_COLUMN_PRECISION: number = SQLLEN(field.precision); break;
    case SQL_COLUMN_SCALE: number = reportedScale(field); break;
    case SQL_COLUMN_DISPLAY_SIZE: number = SQLLEN(BaseColumnDisplaySize(shapeOf(field))); break;
    case SQL_COLUMN_NULLABLE: number = field.nullable; break;
    case SQL_COLUMN_UNSIGNED: number = isUnsignedColumn(field) ? SQL_TRUE : SQL_FALSE; break;
    case SQL_COLUMN_MONEY: number = (field.attributes & BaseField::attrMoney) ? SQL_TRUE : SQL_FALSE; break;
    case SQL_COLUMN_UPDATABLE: number = (field.name && field.name[0]) ? field.updatable : 0; break;
    case SQL_COLUMN_AUTO_INCREMENT:
      number = (field.attributes & BaseField::attrAutoIncrement) ? SQL_TRUE : SQL_FALSE;
      break;
    case SQL_COLUMN_CASE_SENSITIVE:
      number = (field.attributes & BaseField::attrCaseSensitive) ? SQL_TRUE : SQL_FALSE;
      break;
    case SQL_COLUMN_SEARCHABLE: number = field.searchable; break;
    case SQL_COLUMN_TYPE_NAME: written = text.setStrValue(field.typeName); break;
    case SQL_COLUMN_TABLE_NAME: written = text.setStrValue(field.tableName); break;
    case SQL_COLUMN_OWNER_NAME: written = text.setStrValue(field.ownerName); break;
    case SQL_COLUMN_QUALIFIER_NAME: written = text.setStrValue(field.qualifierName); break;
    case SQL_COLUMN_LABEL: written = text.setStrValue(field.label ? field.label : field.name); break;
    case baseColumnPrivateAttribute: number = (field.flags & BaseField::flagPrivate1002) ? SQL_TRUE : SQL_FALSE; break;
    default:
      // Attributes beyond ODBC 2's (19-1001, 1003 on) are the driver's.
      if (nonStdColAttributes(icol, fDescType, &text, &number) != kvSuccess) return call.exit(SQL_ERROR);
      break;
  }
  if (written != kvSuccess) return call.exit(SQL_ERROR);
  if (pfDesc) *pfDesc = number;
  return call.exit(SQL_SUCCESS);
}
