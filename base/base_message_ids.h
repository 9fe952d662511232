// Named ids of the framework's own messages (strings 6000 and up of the
// table in base_messages.cpp), so that no call site carries a bare number:
// addOdbcError(stateNumericRange, msgNumericOverflow). The SQLSTATE indexes
// are named in base_messages.h.
#pragma once

#include <cstdint>

enum BaseMessage : uint16_t {
  msgBadEscape = 6005,                // "Unrecognizable ODBC SQL escape sequence."
  msgCannotConvertEscape = 6006,      // "Database cannot convert this ODBC escape sequence: %s1 ."
  msgColumnTruncated = 6008,          // "Data truncated, column %n1."
  msgColumnNotConvertible = 6010,     // "Unable to convert column %n1.  Cannot convert from SQL type %n2 to C..."
  msgParamNotConvertible = 6011,      // "Unable to convert parameter %n1.  Cannot convert from C type %n2 to..."
  msgQualifierTooLong = 6016,         // "The qualifier '%s1' was larger than SQL_MAX_QUALIFIER_LEN from SQLGet..."
  msgOwnerTooLong = 6017,             // "The owner '%s1' was larger than SQL_MAX_OWNER_NAME_LEN from SQLGetInf..."
  msgTableNameTooLong = 6018,         // "The table name '%s1' was larger than SQL_MAX_TABLE_NAME_LEN from SQLG..."
  msgColumnNameTooLong = 6019,        // "The column name '%s1' was larger than SQL_MAX_COLUMN_NAME_LEN from SQ..."
  msgProcedureNameTooLong = 6020,     // "The procedure name '%s1' was larger than SQL_MAX_PROCEDURE_NAME_LEN f..."
  msgEscapeNotEnded = 6021,           // "Escape clause beginning with --*( or { was not properly ended wit..."
  msgEscapeNotSupported = 6022,       // "The statement contained an escape clause not supported by this da..."
  msgTooManyColumns = 6026,           // "%n1 is greater that the number of columns allowed, %n2."
  msgUnknownFunctionEscape = 6027,    // "Unrecognized function escape: %s1."
  msgVendorEscapeMalformed = 6028,    // "Escape sequence malformed.  --*( was not followed by vendor(Micro..."
  msgBadDateEscape = 6029,            // "Invalid date escape.  Correct syntax is {d 'yyyy-mm-dd'}."
  msgBadTimeEscape = 6030,            // "Invalid time escape.  Correct syntax is {t 'hh:mm:ss'}."
  msgBadTimestampEscape = 6031,       // "Invalid timestamp escape.  Correct syntax is {ts 'yyyy-mm-dd hh:m..."
  msgBoundColumnsExceed = 6033,       // "Number of bound columns exceeds the number of result columns."
  msgEscapeTooFewArgs = 6040,         // "Too few arguments given in a function escape."
  msgEscapeArgNotEnded = 6041,        // "Could not find end of argument in a function escape, probably due..."
  msgBadConvertType = 6045,           // "'%s1' is not a valid ODBC SQL type for CONVERT"
  msgOuterJoinKeywords = 6046,        // "The keywords LEFT OUTER JOIN were not found in an outer join esca..."
  msgOuterJoinOn = 6047,              // "The keyword ON preceding the search condition was not found in an..."
  msgAutocommitCommitted = 6048,      // "The currently active transaction was committed before changing th..."
  msgFnNameMissing = 6049,            // "Invalid escape sequence.  Missing function name after 'FN'."
  msgBinaryParamBytes = 6050,         // "A SQL_C_BINARY parameter was passed an incorrect number of bytes. ..."
  msgCurrentOfNoCursorName = 6051,    // "Cursor name missing after WHERE CURRENT OF"
  msgTooManyBindings = 6057,          // "%n1 is greater that the number of bound columns allowed, %n2."
  msgTooManyParams = 6058,            // "%n1 is greater that the number of parameters allowed, %n2."
  msgForwardOnlyFetch = 6064,         // "In SQLExtendedFetch, only SQL_FETCH_NEXT is supported for SQL_SCR..."
  msgMaxLengthSet = 6067,             // "SQL_MAX_LENGTH has been set to the maximum size of data that can ..."
  msgDataTruncated = 6070,            // "Data Truncated."
  msgNumericOverflow = 6071,          // "Numeric overflow."
  msgInColumn = 6072,                 // " Error in column %n1."
  msgInParameter = 6073,              // " Error in parameter %n1."
  msgNoAnsiCharacter = 6080,          // "The character U+%s1 has no equivalent in the data source's charac..."
  msgOddWideLength = 6081,            // "A SQL_C_WCHAR value must be whole 2-byte characters; %n1 bytes we..."
};
