// The test driver's fixed tables, which "SELECT ... FROM <name>" reads:
//
//   ALLTYPES   three rows whose columns cover every internal form of a
//              value: row 1 a value in every column (a 5000-character
//              LONGVARCHAR, Windows-1252 text with a byte above 0x7F,
//              binary bytes 0x00 and 0xFF), row 2 NULL in every column but
//              ID, row 3 the edges (largest and negative numbers, empty
//              text and binary)
//   NUMBERS n  n rows (at most 100000; 25 when n is missing) of one INTEGER
//              column N holding the row number
//
// Both read forwards and by row number, so that scrollable cursors work.
#pragma once

#include "base/convert/base_internal_type.h"

struct TestTableColumn {
  const char* name;
  int16_t sqlType;
  uint32_t precision;
  int16_t scale;
  uint32_t fieldFlags;  // BaseField flags (unsigned)
  InternalType form;
};

// One value: data null is NULL.
struct TestTableValue {
  const void* data;
  int32_t length;
  InternalType form;
};

enum TestTableKind : uint16_t { testTableNone = 0, testTableAllTypes = 1, testTableNumbers = 2 };

// Which fixed table a SELECT reads (by the word after FROM), and for
// NUMBERS the row count.
TestTableKind testTableOf(const unsigned char* sql, uint32_t length, uint32_t* rows);
// The columns of a table.
const TestTableColumn* testTableColumns(TestTableKind kind, uint16_t* count);
// The value of column (1-based) in row (1-based); scratch holds at least 32
// bytes for values made on the fly.
TestTableValue testTableValue(TestTableKind kind, uint32_t row, uint16_t column, unsigned char* scratch);
// Rows of ALLTYPES.
enum : uint32_t { testAllTypesRows = 3 };
