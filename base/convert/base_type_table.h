// The conversion layer's tables of C types and SQL types: what class each
// type is, which classes convert into which, the internal form each C type
// is read or written in, and what each SQL type asks of a value (its pivot
// form, its fixed binary image, its text sizes). Internal to the framework;
// base_convert.h has the public face.
//
// Besides the ODBC 2 types the tables hold the codes that reach a 2.x driver
// unchanged through unixODBC: SQL_C_WCHAR (UTF-16LE text, read and written
// as the ANSI text it converts to), SQL_C_SBIGINT and SQL_C_UBIGINT (native
// 64-bit integers), SQL_WCHAR, SQL_WVARCHAR and SQL_WLONGVARCHAR (taken as
// CHAR, VARCHAR and LONGVARCHAR), and the ODBC 3 date codes 91-93 (taken as
// 9-11). Any other code is not in the tables and is refused.
#pragma once

#include "base/convert/base_internal_type.h"

// Classes of types; a mask of them says which C types an SQL type converts
// with.
enum BaseTypeClass : uint8_t {
  classChar = 0x01,
  classBinary = 0x02,
  classDefault = 0x04,
  classNumeric = 0x08,
  classDate = 0x10,
  classTime = 0x20,
  classTimestamp = 0x40,
  classAll = 0x7F,
};

// No internal form: the SQL type takes the value in whatever form it has.
enum : int16_t { formOfValue = -1 };

struct BaseCTypeInfo {
  int16_t cType;
  uint8_t typeClass;
  uint8_t size;          // bytes of a fixed-size C type, 0 for text and binary
  int16_t form;          // the internal form of the application's value
  int16_t unsignedForm;  // SQL_C_LONG, SQL_C_SHORT, SQL_C_TINYINT under an unsigned column
  bool wide;             // UTF-16LE text
  bool native64;         // an int64_t in machine order, not the internal high-word-first form
};

struct BaseSqlTypeInfo {
  int16_t sqlType;
  int16_t odbc2Type;  // the ODBC 2 type it is taken as
  uint8_t typeClass;
  int16_t defaultCType;
  int16_t pivot, unsignedPivot;  // the form a parameter value passes through
  // Fixed binary image for SQL_C_BINARY: form and bytes (0: a packed
  // decimal of the precision, or the precision itself for text and binary).
  int16_t columnImage, unsignedColumnImage;
  int16_t paramImage, unsignedParamImage;
  uint8_t imageBytes;
  uint8_t textBytes;  // SQL_C_CHAR buffer a character value of this type needs (terminator included)
  uint8_t textClamp;  // most characters an approximate number is shown with, 0 for no clamp
};

// Null for a code outside the tables.
const BaseCTypeInfo* baseFindCType(int16_t cType);
const BaseSqlTypeInfo* baseFindSqlType(int16_t sqlType);
// The C type classes an SQL type class converts with (both directions).
uint8_t baseAllowedCClasses(uint8_t sqlClass);

inline bool baseIsTextOrBinarySql(const BaseSqlTypeInfo& type) {
  return (type.typeClass & (classChar | classBinary)) != 0;
}
