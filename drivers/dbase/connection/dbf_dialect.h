// The dialects of dBASE-family files a connection creates (CreateType):
// their names, data-type tables, the rows each offers, and the SQLGetInfo
// answers that depend on them; the field-type letters and their rows.
//
// Type table rows (the columns of SQLGetTypeInfo, in its order):
//   row name       local name  SQL type            precision   prefix/suffix  params            search  attr  max scale
//   0   LOGICAL    "Logical"   SQL_BIT             1           -              -                 2       0     0
//   1   CHAR       "Char"      SQL_CHAR            254 (1024)  ' '            "length"          3       8     0
//   2   NUMERIC    "Numeric"   SQL_DECIMAL         19          -              "precision,scale" 2       0     19
//   3   MEMO       "Memo"      SQL_LONGVARCHAR     2147483647  ' '            -                 0       8     0
//   4   DATE       "Date"      SQL_DATE            10          { }            -                 2       0     0
//   5   FLOAT      "Float"     SQL_DECIMAL         19          -              "precision,scale" 2       0     19
//   6   GENERAL    "General"   SQL_LONGVARBINARY   2147483647  ' '            -                 0       0     0
//   7   BINARY     "Binary"    SQL_LONGVARBINARY   2147483647  ' '            -                 0       0     0
//   8   PICTURE    "Picture"   SQL_LONGVARBINARY   2147483647  ' '            -                 0       0     0
// The dBASE table has the rows in this order, the Clipper table too (CHAR
// up to 1024); the FoxPro table orders them LOGICAL, CHAR, NUMERIC, MEMO,
// DATE, PICTURE, FLOAT, GENERAL, BINARY. A dialect offers the leading rows
// of its table (DBASE2 three, DBASE3 five, ...).
#pragma once

#include "base/catalog/base_type_info.h"

// Dialects, numbered as the connection keeps them (option 1045 and the
// CreateType key name them).
enum DbfCreateType : uint32_t {
  dbfDbase2 = 0,
  dbfDbase3 = 1,
  dbfDbase4 = 2,
  dbfDbase5 = 3,
  dbfClipper = 4,
  dbfFoxbase = 5,
  dbfFoxpro1 = 6,
  dbfFoxpro25 = 7,
  dbfCreateTypeCount = 8,
};


// The field-type letters, in the order of a dialect's letter-to-row map.
enum : uint16_t { dbfTypeLetterCount = 9 };
extern const char dbfTypeLetters[dbfTypeLetterCount + 1];  // "LMCFNDGPB"

struct DbfDialect {
  const char* name;              // "DBASE2" ... "FOXPRO25"
  const BaseTypeRow* typeTable;   // nine rows
  uint16_t typeCount;            // rows offered
  const uint16_t* typeIndex;     // rows of the letters L M C F N D G P B
  uint16_t dbmsNameId;           // SQLGetInfo 17
  const char* dbmsVersion;       // SQLGetInfo 18, before the DBMS name
  uint16_t maxColumns;           // SQLGetInfo 101
  uint32_t maxIndexSize;         // SQLGetInfo 102
  uint32_t maxRowSize;           // SQLGetInfo 104
  uint8_t memoVersion;           // version byte of a new table with memo fields
};

// The dialect of a number (dbfCreateType...).
const DbfDialect& dbfDialect(uint32_t createType);
// The dialect whose name equals name ignoring case; 0 when none does.
int dbfFindDialect(const unsigned char* name, uint32_t* createType);

// The type-table row of a field-type letter (any other letter: row 0).
uint16_t dbfRowOfLetter(const DbfDialect& dialect, unsigned char letter);
// The field-type letter of a type-table row, by its local name.
unsigned char dbfLetterOfRow(const BaseTypeRow& row);
// The field-type letter that stands for an engine SQL type; 0 for none.
unsigned char dbfLetterOfSqlType(int16_t sqlType);
