// The conversion layer between the application's C types and the driver's
// internal forms: result columns and output parameters go to C
// (BaseConvertToC), input parameters come from C (BaseConvertFromC). Drivers
// never convert by themselves; they hand a value, its length and its
// InternalType to these functions, or to BaseStatement::convertInternalToC
// and convertCToInternal, which add the column or parameter number to every
// message.
//
// Which pairs convert (the same table for columns, SQL type to C type, and
// for parameters, C type to SQL type):
//
//   SQL type                          C types
//   CHAR, VARCHAR, LONGVARCHAR        all
//   BIT, TINYINT, SMALLINT, INTEGER,  CHAR, WCHAR, BINARY, DEFAULT and the
//   BIGINT, NUMERIC, DECIMAL, REAL,   numeric ones (BIT, TINYINT, SHORT,
//   FLOAT, DOUBLE                     LONG and their signed and unsigned
//                                     forms, SBIGINT, UBIGINT, FLOAT, DOUBLE)
//   DATE                              CHAR, WCHAR, BINARY, DEFAULT, DATE,
//                                     TIMESTAMP
//   TIME                              ... TIME, TIMESTAMP
//   TIMESTAMP                         ... DATE, TIME, TIMESTAMP
//   BINARY, VARBINARY, LONGVARBINARY  CHAR, WCHAR, BINARY, DEFAULT
//
// Types beyond ODBC 2 that unixODBC passes to a 2.x driver unchanged (its
// SQLGetData alone turns SQL_C_WCHAR into SQL_C_CHAR with half the buffer
// and widens the answer itself, from the application's locale):
// SQL_C_WCHAR is UTF-16LE text converted to and from the system's ANSI text
// (Windows-1252; a wide character with no ANSI byte is an error, never "?");
// SQL_C_SBIGINT and SQL_C_UBIGINT are native 64-bit integers; SQL_WCHAR,
// SQL_WVARCHAR and SQL_WLONGVARCHAR are CHAR, VARCHAR and LONGVARCHAR; the
// ODBC 3 date codes 91-93 are 9-11. Every other C type is refused with S1003
// (Program type out of range), every other parameter SQL type with S1004:
// nothing ever "succeeds" without writing.
#pragma once

#include "base/convert/base_internal_type.h"

class BaseOutString;

// What the conversion reads of a result column or a parameter.
struct BaseValueDesc {
  int16_t sqlType = SQL_CHAR;
  uint32_t precision = 0;
  int16_t scale = 0;
  bool isUnsigned = false;  // SQL_C_LONG, SQL_C_SHORT, SQL_C_TINYINT deliver the unsigned form
};

// The C type SQL_C_DEFAULT stands for with a column or parameter of sqlType.
KV_BASE_API int16_t BaseDefaultCType(int16_t sqlType);
// The ODBC 2 SQL type that sqlType is taken as (SQL_WVARCHAR is
// SQL_VARCHAR, 93 is SQL_TIMESTAMP); an unknown code comes back unchanged.
KV_BASE_API int16_t BaseOdbc2SqlType(int16_t sqlType);
// Bytes of a fixed-size C type (what SQLBindCol and SQLBindParameter store
// as its buffer size); 0 for text, binary and unknown codes.
KV_BASE_API uint32_t BaseCTypeSize(int16_t cType);
// Whether a column of sqlType can be fetched as cType: S1003 for an unknown
// C type, 07006 with 6010 (column, SQL type, C type) for a pair that does
// not convert.
KV_BASE_API KvStatus BaseCheckColumnConversion(uint16_t column, int16_t sqlType, int16_t cType);
// Whether a parameter of cType can be sent as sqlType: S1003, S1004 for an
// unknown SQL type, or 07006 with 6011 (parameter, C type, SQL type).
KV_BASE_API KvStatus BaseCheckParamConversion(uint16_t parameter, int16_t cType, int16_t sqlType);

// Internal to C: the value (data, length bytes, type) of a column described
// by desc into out as cType, reading from byte offset on (the part of a long
// value that earlier SQLGetData calls returned; only text and binary are
// returned in pieces). SQL_C_DEFAULT must be resolved by the caller. Text
// cut to the buffer posts 01004 and reports the full length; a buffer too
// small for a value that cannot be cut fails with 22003 (6071). column is
// the number that messages name (6008); connection may be null (no driver
// handles SQL_C_BINARY itself then).
KV_BASE_API KvStatus BaseConvertToC(uint16_t column, const BaseValueDesc& desc, int16_t cType, BaseOutString* out,
                                    const void* data, int32_t length, InternalType type, uint32_t offset,
                                    BaseConnection* connection);
// The same for long values that the driver delivers whole and the framework
// cuts: binary as text is hexadecimal with 6008 on a cut, text and binary
// are copied raw from the offset, every other C type converts as above.
KV_BASE_API KvStatus BaseConvertToCHuge(uint16_t column, const BaseValueDesc& desc, int16_t cType,
                                        BaseOutString* out, const void* data, int32_t length, InternalType type,
                                        uint32_t offset, BaseConnection* connection);
// Bytes of the source that one cut piece of SQLGetData returned into a
// buffer of bufferSize bytes (its room, less the terminator, halved where
// binary went out as hexadecimal); 0 for fixed-size C types, which are
// returned whole once.
KV_BASE_API uint32_t BaseGetDataPieceBytes(int16_t cType, int16_t sqlType, uint32_t bufferSize);

// C to internal: the application's value (data, length in bytes; SQL_NTS
// for text) of a parameter described by desc and cType into the target form
// at out, which holds outSize bytes. *outLength (optional) receives the
// bytes written; a character target is terminated when no outLength is
// given and room remains. parameter is the number that messages name.
KV_BASE_API KvStatus BaseConvertFromC(uint16_t parameter, const BaseValueDesc& desc, int16_t cType,
                                      const void* data, SQLLEN length, InternalType target, void* out,
                                      int32_t* outLength, uint32_t outSize, BaseConnection* connection);
