// Named ids of the Excel 5 driver's own strings: its messages (1200-1226)
// and the name, terms and type names the framework and the engine ask for
// (20101 and up). The texts stand beside them in excel5_messages.cpp, a
// table sorted by id (checked when it is compiled).
#pragma once

#include <cstdint>

enum Excel5MessageId : uint16_t {
  msgXlsOleError = 1200,          // "OLE 2 error.  Code %n1; Severity %n2; Facility %n3" (nothing raises it)
  msgXlsNoWorkbook = 1201,        // "Workbook does not exist: %s1"
  msgXlsBadTypeSyntax = 1202,     // "Syntax error in data type portion of SQL statement"
  msgXlsOpenWorkbook = 1203,      // "Cannot open workbook, OLE error code (%n1) : %s2"
  msgXlsOpenStream = 1204,        // "Cannot open stream %s1.  OLE error code (%n2)."
  msgXlsReadStream = 1205,        // "Failure while reading from stream. OLE error code (%n1)."
  msgXlsTableNotFound = 1211,     // "The table %s1 was not found in the workbook %s2."
  msgXlsMissingTableName = 1212,  // "Missing table name"
  msgXlsSyntax = 1220,            // "Syntax error in SQL statement: %s1"
  msgXlsMissingCommaOrParen = 1221,  // "Missing ',' or ')' in SQL statement"
  msgXlsCharWidth = 1223,         // "Character width must be between 1 and 255."
  msgXlsPassword = 1225,          // "This file is PASSWORD protected : "
  msgXlsNotExcel = 1226,          // "This file is not a Microsoft Excel worksheet : "

  strXlsDriverName = 20101,       // "Excel": the name in the message prefix
  strXlsQualifierTerm = 20104,    // "Workbook"
  strXlsTableTerm = 20106,        // "List"
  strXlsDriverVersion = 20107,
  strXlsParamLength = 20108,
  strXlsParamMaxLength = 20109,
  strXlsParamPrecision = 20110,
  strXlsParamPrecisionScale = 20111,
  strXlsTypeLogical = 20114,
  strXlsTypeNumber = 20115,
  strXlsTypeDate = 20116,
  strXlsTypeTime = 20117,
  strXlsTypeTimestamp = 20118,
  strXlsTypeChar = 20119,
  strXlsChooseWorkbook = 20120,
  strXlsWorkbookFilter = 20121,
};

// The driver's text of an id into buffer (size bytes); its length, 0 when
// the driver has no such string.
short xlsLoadString(uint16_t id, unsigned char* buffer, uint32_t size);
