// Tables of the dialects: type rows, letter maps and SQLGetInfo answers;
// see dbf_dialect.h.
#include "drivers/dbase/connection/dbf_dialect.h"

#include "drivers/dbase/dbase_message_ids.h"

#include <sql.h>
#include <sqlext.h>
#include <strings.h>

const char dbfTypeLetters[dbfTypeLetterCount + 1] = "LMCFNDGPB";

namespace {

enum : uint32_t { longPrecision = 2147483647 };

#define DBF_ROW_LOGICAL {"LOGICAL", strDbfTypeLogical, SQL_BIT, 1, nullptr, nullptr, 0, 1, 2, 0, 0, 0}
#define DBF_ROW_CHAR(width) \
  {"CHAR", strDbfTypeChar, SQL_CHAR, width, "'", "'", strDbfParamLength, 1, 3, typeCaseSensitive, 0, 0}
#define DBF_ROW_NUMERIC \
  {"NUMERIC", strDbfTypeNumeric, SQL_DECIMAL, 19, nullptr, nullptr, strDbfParamPrecisionScale, 1, 2, 0, 0, 19}
#define DBF_ROW_MEMO {"MEMO", strDbfTypeMemo, SQL_LONGVARCHAR, longPrecision, "'", "'", 0, 1, 0, typeCaseSensitive, 0, 0}
#define DBF_ROW_DATE {"DATE", strDbfTypeDate, SQL_DATE, 10, "{", "}", 0, 1, 2, 0, 0, 0}
#define DBF_ROW_FLOAT \
  {"FLOAT", strDbfTypeFloat, SQL_DECIMAL, 19, nullptr, nullptr, strDbfParamPrecisionScale, 1, 2, 0, 0, 19}
#define DBF_ROW_LONG(name, id) {name, id, SQL_LONGVARBINARY, longPrecision, "'", "'", 0, 1, 0, 0, 0, 0}

const BaseTypeRow dbaseTypes[] = {
    DBF_ROW_LOGICAL, DBF_ROW_CHAR(254), DBF_ROW_NUMERIC, DBF_ROW_MEMO, DBF_ROW_DATE, DBF_ROW_FLOAT,
    DBF_ROW_LONG("GENERAL", strDbfTypeGeneral), DBF_ROW_LONG("BINARY", strDbfTypeBinary),
    DBF_ROW_LONG("PICTURE", strDbfTypePicture),
};
const BaseTypeRow clipperTypes[] = {
    DBF_ROW_LOGICAL, DBF_ROW_CHAR(1024), DBF_ROW_NUMERIC, DBF_ROW_MEMO, DBF_ROW_DATE, DBF_ROW_FLOAT,
    DBF_ROW_LONG("GENERAL", strDbfTypeGeneral), DBF_ROW_LONG("BINARY", strDbfTypeBinary),
    DBF_ROW_LONG("PICTURE", strDbfTypePicture),
};
const BaseTypeRow foxproTypes[] = {
    DBF_ROW_LOGICAL, DBF_ROW_CHAR(254), DBF_ROW_NUMERIC, DBF_ROW_MEMO, DBF_ROW_DATE,
    DBF_ROW_LONG("PICTURE", strDbfTypePicture), DBF_ROW_FLOAT, DBF_ROW_LONG("GENERAL", strDbfTypeGeneral),
    DBF_ROW_LONG("BINARY", strDbfTypeBinary),
};

// Rows of the letters L M C F N D G P B.
const uint16_t dbaseIndex[dbfTypeLetterCount] = {0, 3, 1, 5, 2, 4, 6, 8, 7};
const uint16_t foxproIndex[dbfTypeLetterCount] = {0, 3, 1, 6, 2, 4, 7, 5, 8};

const DbfDialect dialects[dbfCreateTypeCount] = {
    {"DBASE2", dbaseTypes, 3, dbaseIndex, strDbfNameDbase2, "01.00.0000 ", 32, 100, 4000, 0x02},
    {"DBASE3", dbaseTypes, 5, dbaseIndex, strDbfNameDbase3, "01.00.0000 ", 255, 100, 4000, 0x83},
    {"DBASE4", dbaseTypes, 6, dbaseIndex, strDbfNameDbase4, "02.00.0000 ", 255, 100, 4000, 0x8B},
    {"DBASE5", dbaseTypes, 8, dbaseIndex, strDbfNameDbase5, "05.00.0000 ", 1024, 100, 32767, 0x8B},
    {"CLIPPER", clipperTypes, 5, dbaseIndex, strDbfNameClipper, "05.20.0000 ", 255, 250, 0, 0x83},
    {"FOXBASE", foxproTypes, 6, foxproIndex, strDbfNameFoxBase, "01.00.0000 ", 255, 100, 4000, 0x83},
    {"FOXPRO1", foxproTypes, 6, foxproIndex, strDbfNameFoxPro, "01.00.0000 ", 255, 100, 4000, 0xF5},
    {"FOXPRO25", foxproTypes, 8, foxproIndex, strDbfNameFoxPro, "02.50.0000 ", 255, 240, 64770, 0xF5},
};

// Local-name strings of the rows and the letters they stand for; any other
// row is a character field.
const struct {
  uint16_t localNameId;
  unsigned char letter;
} letterOfLocalName[] = {
    {strDbfTypeDate, 'D'},    {strDbfTypeNumeric, 'N'}, {strDbfTypeMemo, 'M'},
    {strDbfTypeLogical, 'L'}, {strDbfTypeFloat, 'F'},   {strDbfTypeGeneral, 'G'},
    {strDbfTypePicture, 'P'}, {strDbfTypeBinary, 'B'},
};

const struct {
  int16_t sqlType;
  unsigned char letter;
} letterOfSqlType[] = {
    {SQL_BIT, 'L'}, {SQL_LONGVARBINARY, 'G'}, {SQL_LONGVARCHAR, 'M'}, {SQL_CHAR, 'C'},
    {SQL_VARCHAR, 'C'}, {SQL_DOUBLE, 'N'},    {SQL_DATE, 'D'},
};

}  // namespace

const DbfDialect& dbfDialect(uint32_t createType) {
  return dialects[createType < dbfCreateTypeCount ? createType : uint32_t(dbfDbase5)];
}

int dbfFindDialect(const unsigned char* name, uint32_t* createType) {
  if (!name) return 0;
  for (uint32_t i = 0; i < dbfCreateTypeCount; ++i)
    if (strcasecmp(reinterpret_cast<const char*>(name), dialects[i].name) == 0) {
      *createType = i;
      return 1;
    }
  return 0;
}

uint16_t dbfRowOfLetter(const DbfDialect& dialect, unsigned char letter) {
  for (uint16_t i = 0; i < dbfTypeLetterCount; ++i)
    if (dbfTypeLetters[i] == letter) return dialect.typeIndex[i];
  return 0;
}

unsigned char dbfLetterOfRow(const BaseTypeRow& row) {
  for (const auto& entry : letterOfLocalName)
    if (entry.localNameId == row.localNameId) return entry.letter;
  return 'C';
}

unsigned char dbfLetterOfSqlType(int16_t sqlType) {
  for (const auto& entry : letterOfSqlType)
    if (entry.sqlType == sqlType) return entry.letter;
  return 0;
}
