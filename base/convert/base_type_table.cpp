// The tables of C types and SQL types, and the checks and defaults built on
// them; see base_type_table.h and base_convert.h.
#include "base/convert/base_type_table.h"

#include "base/convert/base_convert.h"
#include "base/handles/base_error_list.h"
#include "base/handles/base_message_ids.h"
#include "base/handles/base_messages.h"

namespace {

constexpr uint8_t numericCTypes = classNumeric;

const BaseCTypeInfo cTypes[] = {
    // C type           class           size  form         unsigned form  wide   native64
    {SQL_C_CHAR, classChar, 0, itChar, itChar, false, false},
    {SQL_C_WCHAR, classChar, 0, itChar, itChar, true, false},
    {SQL_C_BINARY, classBinary, 0, itBinary, itBinary, false, false},
    {SQL_C_DEFAULT, classDefault, 0, formOfValue, formOfValue, false, false},
    {SQL_C_BIT, numericCTypes, 1, itBit, itBit, false, false},
    {SQL_C_TINYINT, numericCTypes, 1, itSTinyInt, itUTinyInt, false, false},
    {SQL_C_STINYINT, numericCTypes, 1, itSTinyInt, itSTinyInt, false, false},
    {SQL_C_UTINYINT, numericCTypes, 1, itUTinyInt, itUTinyInt, false, false},
    {SQL_C_SHORT, numericCTypes, 2, itSShort, itUShort, false, false},
    {SQL_C_SSHORT, numericCTypes, 2, itSShort, itSShort, false, false},
    {SQL_C_USHORT, numericCTypes, 2, itUShort, itUShort, false, false},
    {SQL_C_LONG, numericCTypes, 4, itSLong, itULong, false, false},
    {SQL_C_SLONG, numericCTypes, 4, itSLong, itSLong, false, false},
    {SQL_C_ULONG, numericCTypes, 4, itULong, itULong, false, false},
    {SQL_C_SBIGINT, numericCTypes, 8, itSBigInt, itSBigInt, false, true},
    {SQL_C_UBIGINT, numericCTypes, 8, itUBigInt, itUBigInt, false, true},
    {SQL_C_FLOAT, numericCTypes, 4, itFloat, itFloat, false, false},
    {SQL_C_DOUBLE, numericCTypes, 8, itDouble, itDouble, false, false},
    {SQL_C_DATE, classDate, 6, itDate, itDate, false, false},
    {SQL_C_TIME, classTime, 6, itTime, itTime, false, false},
    {SQL_C_TIMESTAMP, classTimestamp, 16, itTimestamp, itTimestamp, false, false},
    {SQL_C_TYPE_DATE, classDate, 6, itDate, itDate, false, false},
    {SQL_C_TYPE_TIME, classTime, 6, itTime, itTime, false, false},
    {SQL_C_TYPE_TIMESTAMP, classTimestamp, 16, itTimestamp, itTimestamp, false, false},
};

#define KV_TEXT_SQL(type, odbc2)                                                                                 \
  {type, odbc2, classChar, SQL_C_CHAR, formOfValue, formOfValue, itChar, itChar, itChar, itChar, 0, 0, 0}
#define KV_BINARY_SQL(type)                                                                                   \
  {type, type, classBinary, SQL_C_BINARY, formOfValue, formOfValue, itBinary, itBinary, itBinary, itBinary, 0, \
   0, 0}

const BaseSqlTypeInfo sqlTypes[] = {
    KV_TEXT_SQL(SQL_CHAR, SQL_CHAR),
    KV_TEXT_SQL(SQL_VARCHAR, SQL_VARCHAR),
    KV_TEXT_SQL(SQL_LONGVARCHAR, SQL_LONGVARCHAR),
    KV_TEXT_SQL(SQL_WCHAR, SQL_CHAR),
    KV_TEXT_SQL(SQL_WVARCHAR, SQL_VARCHAR),
    KV_TEXT_SQL(SQL_WLONGVARCHAR, SQL_LONGVARCHAR),
    KV_BINARY_SQL(SQL_BINARY),
    KV_BINARY_SQL(SQL_VARBINARY),
    KV_BINARY_SQL(SQL_LONGVARBINARY),
    // type, ODBC 2 type, class, default C type, pivot (signed, unsigned),
    // column image (signed, unsigned), parameter image (signed, unsigned),
    // image bytes, text bytes, text clamp
    {SQL_BIT, SQL_BIT, classNumeric, SQL_C_BIT, itBit, itBit, itBit, itBit, itSTinyInt, itUTinyInt, 1, 0, 0},
    {SQL_TINYINT, SQL_TINYINT, classNumeric, SQL_C_TINYINT, itSTinyInt, itUTinyInt, itSTinyInt, itUTinyInt,
     itSTinyInt, itUTinyInt, 1, 0, 0},
    {SQL_SMALLINT, SQL_SMALLINT, classNumeric, SQL_C_SHORT, itSShort, itUShort, itSShort, itUShort, itSShort,
     itUShort, 2, 0, 0},
    {SQL_INTEGER, SQL_INTEGER, classNumeric, SQL_C_LONG, itSLong, itULong, itSLong, itULong, itSLong, itULong, 4, 0,
     0},
    {SQL_BIGINT, SQL_BIGINT, classNumeric, SQL_C_CHAR, itSBigInt, itUBigInt, itPacked, itPacked, itPacked, itPacked,
     0, 0, 0},
    {SQL_NUMERIC, SQL_NUMERIC, classNumeric, SQL_C_CHAR, itDecimal, itDecimal, itPacked, itPacked, itPacked,
     itPacked, 0, 0, 0},
    {SQL_DECIMAL, SQL_DECIMAL, classNumeric, SQL_C_CHAR, itDecimal, itDecimal, itPacked, itPacked, itPacked,
     itPacked, 0, 0, 0},
    {SQL_REAL, SQL_REAL, classNumeric, SQL_C_FLOAT, itFloat, itFloat, itFloat, itFloat, itFloat, itFloat, 4, 0, 13},
    {SQL_FLOAT, SQL_FLOAT, classNumeric, SQL_C_DOUBLE, itDouble, itDouble, itDouble, itDouble, itDouble, itDouble, 8,
     0, 22},
    {SQL_DOUBLE, SQL_DOUBLE, classNumeric, SQL_C_DOUBLE, itDouble, itDouble, itDouble, itDouble, itDouble, itDouble,
     8, 0, 22},
    {SQL_DATE, SQL_DATE, classDate, SQL_C_DATE, itDate, itDate, itDate, itDate, itDate, itDate, 6, 11, 0},
    {SQL_TIME, SQL_TIME, classTime, SQL_C_TIME, itTime, itTime, itTime, itTime, itTime, itTime, 6, 9, 0},
    {SQL_TIMESTAMP, SQL_TIMESTAMP, classTimestamp, SQL_C_TIMESTAMP, itTimestamp, itTimestamp, itTimestamp,
     itTimestamp, itTimestamp, itTimestamp, 16, 20, 0},
    {SQL_TYPE_DATE, SQL_DATE, classDate, SQL_C_DATE, itDate, itDate, itDate, itDate, itDate, itDate, 6, 11, 0},
    {SQL_TYPE_TIME, SQL_TIME, classTime, SQL_C_TIME, itTime, itTime, itTime, itTime, itTime, itTime, 6, 9, 0},
    {SQL_TYPE_TIMESTAMP, SQL_TIMESTAMP, classTimestamp, SQL_C_TIMESTAMP, itTimestamp, itTimestamp, itTimestamp,
     itTimestamp, itTimestamp, itTimestamp, 16, 20, 0},
};

#undef KV_TEXT_SQL
#undef KV_BINARY_SQL

// Which C type classes each SQL type class converts with; the same for
// result columns (SQL type to C type) and parameters (C type to SQL type).
struct AllowedClasses {
  uint8_t sqlClass;
  uint8_t cClasses;
};
constexpr uint8_t anyValue = classChar | classBinary | classDefault;
const AllowedClasses allowedClasses[] = {
    {classChar, classAll},
    {classNumeric, anyValue | classNumeric},
    {classDate, anyValue | classDate | classTimestamp},
    {classTime, anyValue | classTime | classTimestamp},
    {classTimestamp, anyValue | classDate | classTime | classTimestamp},
    {classBinary, anyValue},
};

}  // namespace

const BaseCTypeInfo* baseFindCType(int16_t cType) {
  for (const BaseCTypeInfo& info : cTypes) {
    if (info.cType == cType) return &info;
  }
  return nullptr;
}

const BaseSqlTypeInfo* baseFindSqlType(int16_t sqlType) {
  for (const BaseSqlTypeInfo& info : sqlTypes) {
    if (info.sqlType == sqlType) return &info;
  }
  return nullptr;
}

uint8_t baseAllowedCClasses(uint8_t sqlClass) {
  for (const AllowedClasses& entry : allowedClasses) {
    if (entry.sqlClass == sqlClass) return entry.cClasses;
  }
  return anyValue;
}

// ---------------------------------------------------------------- public

int16_t BaseDefaultCType(int16_t sqlType) {
  const BaseSqlTypeInfo* info = baseFindSqlType(sqlType);
  return info ? info->defaultCType : int16_t(SQL_C_CHAR);
}

int16_t BaseOdbc2SqlType(int16_t sqlType) {
  const BaseSqlTypeInfo* info = baseFindSqlType(sqlType);
  return info ? info->odbc2Type : sqlType;
}

uint32_t BaseCTypeSize(int16_t cType) {
  const BaseCTypeInfo* info = baseFindCType(cType);
  return info ? info->size : 0;
}

KvStatus BaseCheckColumnConversion(uint16_t column, int16_t sqlType, int16_t cType) {
  const BaseCTypeInfo* c = baseFindCType(cType);
  if (!c) {
    addOdbcError(stateProgramType);
    return kvFailure;
  }
  // A driver's own SQL type outside the tables converts as binary data does.
  const BaseSqlTypeInfo* sql = baseFindSqlType(sqlType);
  if (baseAllowedCClasses(sql ? sql->typeClass : uint8_t(classBinary)) & c->typeClass) return kvSuccess;
  addOdbcError(stateRestrictedType, msgColumnNotConvertible) << uint32_t(column) << int32_t(sqlType)
                                                             << int32_t(cType);
  return kvFailure;
}

KvStatus BaseCheckParamConversion(uint16_t parameter, int16_t cType, int16_t sqlType) {
  const BaseCTypeInfo* c = baseFindCType(cType);
  if (!c) {
    addOdbcError(stateProgramType);
    return kvFailure;
  }
  const BaseSqlTypeInfo* sql = baseFindSqlType(sqlType);
  if (!sql) {
    addOdbcError(stateSqlType);
    return kvFailure;
  }
  if (baseAllowedCClasses(sql->typeClass) & c->typeClass) return kvSuccess;
  addOdbcError(stateRestrictedType, msgParamNotConvertible) << uint32_t(parameter) << int32_t(cType)
                                                            << int32_t(sqlType);
  return kvFailure;
}
