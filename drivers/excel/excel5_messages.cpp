// The Excel 5 driver's string table: its messages, its name in the message
// prefix, the terms and type names of SQLGetInfo and the type rows, and the
// texts of its workbook choice.
#include "drivers/excel/excel5_message_ids.h"

#include "util/resource.h"

namespace {

constexpr KvMessage excel5Strings[] = {
    {msgXlsOleError, "OLE 2 error.  Code %n1; Severity %n2; Facility %n3"},
    {msgXlsNoWorkbook, "Workbook does not exist: %s1"},
    {msgXlsBadTypeSyntax, "Syntax error in data type portion of SQL statement"},
    {msgXlsOpenWorkbook, "Cannot open workbook, OLE error code (%n1) : %s2"},
    {msgXlsOpenStream, "Cannot open stream %s1.  OLE error code (%n2)."},
    {msgXlsReadStream, "Failure while reading from stream. OLE error code (%n1)."},
    {msgXlsTableNotFound, "The table %s1 was not found in the workbook %s2."},
    {msgXlsMissingTableName, "Missing table name"},
    {msgXlsSyntax, "Syntax error in SQL statement: %s1"},
    {msgXlsMissingCommaOrParen, "Missing ',' or ')' in SQL statement"},
    {msgXlsCharWidth, "Character width must be between 1 and 255."},
    {msgXlsPassword, "This file is PASSWORD protected : "},
    {msgXlsNotExcel, "This file is not a Microsoft Excel worksheet : "},
    {strXlsDriverName, "Excel"},
    {strXlsQualifierTerm, "Workbook"},
    {strXlsTableTerm, "List"},
    {strXlsDriverVersion, "02.00.0000"},
    {strXlsParamLength, "length"},
    {strXlsParamMaxLength, "max length"},
    {strXlsParamPrecision, "precision"},
    {strXlsParamPrecisionScale, "precision,scale"},
    {strXlsTypeLogical, "Logical"},
    {strXlsTypeNumber, "Number"},
    {strXlsTypeDate, "Date"},
    {strXlsTypeTime, "Time"},
    {strXlsTypeTimestamp, "Timestamp"},
    {strXlsTypeChar, "Char"},
    {strXlsChooseWorkbook, "Choose an Excel 5 Workbook as Database"},
    {strXlsWorkbookFilter, "Excel Workbooks(*.xls)|*.xls|"},
};

constexpr bool sortedById() {
  for (size_t i = 1; i < sizeof(excel5Strings) / sizeof(excel5Strings[0]); ++i)
    if (excel5Strings[i - 1].id >= excel5Strings[i].id) return false;
  return true;
}
static_assert(sortedById(), "the string table is searched by halves: keep it sorted by id");

}  // namespace

short xlsLoadString(uint16_t id, unsigned char* buffer, uint32_t size) {
  return kvLoadStringFromTable(excel5Strings, sizeof(excel5Strings) / sizeof(excel5Strings[0]), buffer, id, size);
}
