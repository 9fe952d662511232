// Records of a statement: result columns (BaseField), the application's
// column bindings (BaseBinding) and parameters (BaseParam). Drivers derive
// their own records from these; the statement keeps arrays of pointers.
#pragma once

#include "base/handles/base_out_string.h"
#include "base/base_types.h"
#include "util/memory/kv_object.h"

// One result column as the driver describes it (its allocFld makes it).
// The framework reads it for SQLDescribeCol and SQLColAttributes and the
// conversions read its SQL type, precision, scale and unsigned flag.
//
// The five texts are zero-terminated ANSI text or null. The field owns them
// and frees them with itself, except a name that a flagBorrowed... bit marks
// as static text of the driver's (the catalog columns' names are). The
// label is always owned. The type name is never owned.
// SQLColAttributes attribute whose answer is the field's flagPrivate1002.
enum : uint16_t { baseColumnPrivateAttribute = 1002 };

class KV_BASE_API BaseField : public KvObject {
 public:
  enum : uint32_t {
    flagUnsigned = 0x1,           // an unsigned number (SQL_COLUMN_UNSIGNED)
    flagNoSign = 0x2,             // a number shown without a sign position
    flagPrivate1002 = 0x4,        // baseColumnPrivateAttribute answers TRUE
    flagBorrowedName = 0x8,       // name
    flagBorrowedQualifier = 0x10, // qualifierName
    flagBorrowedTable = 0x20,     // tableName
    flagBorrowedOwner = 0x40,     // ownerName
  };
  // Bits of attributes.
  enum : uint16_t { attrMoney = 0x2, attrAutoIncrement = 0x4, attrCaseSensitive = 0x8 };

  BaseField();
  ~BaseField() override;

  // Takes a copy of text into one of the field's name slots (&name,
  // &label...); null empties the slot. A failed copy leaves the slot empty.
  KvStatus setText(unsigned char** slot, const unsigned char* text);
  // Points a name slot other than the label at text the field does not own.
  void borrowText(unsigned char** slot, const unsigned char* text);

  unsigned char* qualifierName = nullptr;  // SQL_COLUMN_QUALIFIER_NAME
  unsigned char* ownerName = nullptr;      // SQL_COLUMN_OWNER_NAME
  unsigned char* tableName = nullptr;      // SQL_COLUMN_TABLE_NAME
  unsigned char* name = nullptr;           // SQL_COLUMN_NAME
  unsigned char* label = nullptr;          // SQL_COLUMN_LABEL (the name when null)
  int16_t sqlType = 0;
  uint32_t precision = 0;  // precision or length
  int16_t scale = 0;
  int16_t nullable = 0;    // SQL_NO_NULLS, SQL_NULLABLE, SQL_NULLABLE_UNKNOWN
  int16_t searchable = 0;  // SQL_COLUMN_SEARCHABLE
  const unsigned char* typeName = nullptr;  // SQL_COLUMN_TYPE_NAME
  uint16_t attributes = 0;  // attrMoney ...
  int16_t updatable = 0;    // SQL_COLUMN_UPDATABLE
  uint32_t flags = 0;

 private:
  uint32_t borrowedBit(unsigned char* const* slot) const;
};

// One column binding of SQLBindCol: the C type as the application gave it,
// the one it resolves to against the column (SQL_C_DEFAULT becomes the
// column's default C type), and the application's buffer and length
// indicator, which the application owns and which stay valid until it
// unbinds. The wrapper holds row 0 of an array of bound rows.
class KV_BASE_API BaseBinding : public KvObject {
 public:
  enum : uint32_t {
    flagDefaultType = 0x1,  // bound as SQL_C_DEFAULT
    flagUnresolved = 0x2,   // not yet resolved against the column
  };

  // size is already the size of a fixed-size C type where it has one.
  BaseBinding(int16_t cType, void* buffer, SQLLEN size, SQLLEN* length);
  ~BaseBinding() override;

  int16_t cType;
  int16_t resolvedCType;
  BaseOutString out;
  uint32_t flags;
};

// One parameter marker's record. SQLBindParameter fills the description
// and the application's pointers; the parameter check completes the
// description before the value is used; SQLPutData collects a value that
// the application supplies at execution. The framework's emulation of
// WHERE CURRENT OF makes records of its own (one per search column) that
// read their value from the named statement's current row.
class KV_BASE_API BaseParam : public KvObject {
 public:
  enum : uint32_t {
    flagBound = 0x1,    // cleared by every binding (the driver's to use)
    flagChecked = 0x2,  // the parameter check completed the description
  };
  // The most a value collected by the framework may hold.
  enum : uint32_t { maxCollectedBytes = 65536 };

  BaseParam();
  ~BaseParam() override;

  // The parameter as SQLBindParameter described it; the conversions read
  // these. The value and length pointers are the application's, which it
  // owns until it binds again or resets the parameters. length points at
  // an array of SQLLEN entries, one for each SQLParamOptions row.
  int16_t cType = SQL_C_DEFAULT;
  int16_t sqlType = 0;
  uint32_t precision = 0;
  int16_t scale = 0;
  void* value = nullptr;
  SQLLEN* length = nullptr;
  // Bytes of one value in the application's array (the fixed size of a
  // fixed-size C type); -1 for an old-style binding without a size.
  SQLLEN bufferSize = 0;
  uint16_t paramType = SQL_PARAM_INPUT;
  uint32_t paramFlags = 0;

  // SQL type, precision and scale at the first execution after a prepare;
  // later executions must describe the parameter the same way.
  int16_t firstSqlType = 0;
  uint32_t firstPrecision = 0;
  int16_t firstScale = 0;

  // A value supplied at execution through SQLPutData: the bytes the
  // framework collected (owned, collectedSize bytes of room) and their
  // count, SQL_NULL_DATA when the value is NULL. Pieces handed straight to
  // the driver are only counted.
  unsigned char* collected = nullptr;
  uint32_t collectedSize = 0;
  int32_t collectedLength = 0;
  // Pieces handed to the driver one by one: the start of a character of
  // the application's code set that the last piece ended inside of, which
  // goes with the next piece.
  unsigned char pendingText[4] = {0};
  uint32_t pendingLength = 0;

  // WHERE CURRENT OF emulation: the named statement's column the value is
  // read from, whether the condition compares with LIKE, whether the value
  // read last was NULL and whether the text was last fitted to a NULL.
  // The value buffer (bufferSize bytes) belongs to the record.
  uint16_t column = 0;
  bool searchLike = false;
  bool isNull = false;
  bool fittedNull = false;
  unsigned char* ownValue = nullptr;
  uint32_t markerOffset = 0;  // of its "?" in the kept text (the operator starts 6 bytes before)
  SQLLEN ownLength = 0;

  // SQL_RESET_PARAMS: the parameter no longer has a value of the
  // application's; it must be bound again before the next execution.
  void forgetValue();
  // Drops a value collected at execution.
  void freeCollected();
};
