// Names of the framework's string ids: the SQLSTATE table indexes, the
// framework's messages 6000-6081 and the driver strings the framework asks
// every driver for. The texts stand beside them in base_messages.cpp.
//
// SQLSTATE table: entry i's SQLSTATE is string i of the framework's table
// and its default message string i + 100. Drivers and the engine name a
// state by its index; index 13 has neither text and is never used.
#pragma once

#include <cstdint>

enum : uint16_t { baseSqlStateCount = 94 };

enum BaseSqlState : uint16_t {
  stateSuccess = 0,                 // 00000
  stateWarning = 1,                 // 01000
  stateDisconnectError = 2,         // 01002
  stateTruncated = 3,               // 01004
  statePrivilegeNotRevoked = 4,     // 01006
  stateBadConnString = 5,           // 01S00
  stateErrorInRow = 6,              // 01S01
  stateOptionChanged = 7,           // 01S02
  stateNoRowsChanged = 8,           // 01S03
  stateManyRowsChanged = 9,         // 01S04
  stateCancelAsClose = 10,          // 01S05
  stateWrongParamCount = 11,        // 07001
  stateRestrictedType = 12,         // 07006
  stateUnused = 13,                 // no SQLSTATE
  stateCannotConnect = 14,          // 08001
  stateConnectionInUse = 15,        // 08002
  stateNotConnected = 16,           // 08003
  stateConnectRejected = 17,        // 08004
  stateTxnLinkFailure = 18,         // 08007
  stateLinkFailure = 19,            // 08S01
  stateInsertValueList = 20,        // 21S01
  stateDegreeMismatch = 21,         // 21S02
  stateRightTruncation = 22,        // 22001
  stateNumericRange = 23,           // 22003
  stateAssignment = 24,             // 22005
  stateDatetimeOverflow = 25,       // 22008
  stateDivisionByZero = 26,         // 22012
  stateLengthMismatch = 27,         // 22026
  stateIntegrity = 28,              // 23000
  stateCursorState = 29,            // 24000
  stateTxnState = 30,               // 25000
  stateAuthorization = 31,          // 28000
  stateBadCursorName = 32,          // 34000
  stateSyntax = 33,                 // 37000
  stateDupCursorName = 34,          // 3C000
  stateSerialization = 35,          // 40001
  stateSyntaxAccess = 36,           // 42000
  stateAborted = 37,                // 70100
  stateNotSupported = 38,           // IM001
  stateNoDataSource = 39,           // IM002
  stateDriverNotLoaded = 40,        // IM003
  stateAllocEnvFailed = 41,         // IM004
  stateAllocConnectFailed = 42,     // IM005
  stateOptionFailed = 43,           // IM006
  stateNoDialogAllowed = 44,        // IM007
  stateDialogFailed = 45,           // IM008
  stateTranslation = 46,            // IM009
  stateDsnTooLong = 47,             // IM010
  stateDriverNameTooLong = 48,      // IM011
  stateDriverKeyword = 49,          // IM012
  stateTraceFile = 50,              // IM013
  stateTableExists = 51,            // S0001
  stateTableNotFound = 52,          // S0002
  stateIndexExists = 53,            // S0011
  stateIndexNotFound = 54,          // S0012
  stateColumnExists = 55,           // S0021
  stateColumnNotFound = 56,         // S0022
  stateNoDefault = 57,              // S0023
  stateGeneral = 58,                // S1000
  stateMemory = 59,                 // S1001
  stateColumnNumber = 60,           // S1002
  stateProgramType = 61,            // S1003
  stateSqlType = 62,                // S1004
  stateCancelled = 63,              // S1008
  stateArgumentValue = 64,          // S1009
  stateSequence = 65,               // S1010
  stateInvalidNow = 66,             // S1011
  stateTxnOperation = 67,           // S1012
  stateNoCursorName = 68,           // S1015
  stateStringLength = 69,           // S1090
  stateDescriptorType = 70,         // S1091
  stateOptionType = 71,             // S1092
  stateInvalidParamNumber = 72,     // S1093
  stateScale = 73,                  // S1094
  stateFunctionType = 74,           // S1095
  stateInfoType = 75,               // S1096
  stateColumnType = 76,             // S1097
  stateScopeType = 77,              // S1098
  stateNullableType = 78,           // S1099
  stateUniquenessType = 79,         // S1100
  stateAccuracyType = 80,           // S1101
  stateTableType = 81,              // S1102
  stateDirection = 82,              // S1103
  statePrecision = 83,              // S1104
  stateParamType = 84,              // S1105
  stateFetchType = 85,              // S1106
  stateRowRange = 86,               // S1107
  stateConcurrency = 87,            // S1108
  stateInvalidCursorPos = 88,       // S1109
  stateDriverCompletion = 89,       // S1110
  stateBookmark = 90,               // S1111
  stateNotCapable = 91,             // S1C00
  stateDataPending = 92,            // S1DE0
  stateTimeout = 93,                // S1T00
};
static_assert(stateTimeout + 1 == baseSqlStateCount, "every entry of the SQLSTATE table has a name");

// The framework string that is a state's default message.
constexpr uint16_t baseStateMessageId(uint16_t stateIndex) { return uint16_t(stateIndex + 100); }

// The framework's own messages. %s<k> and %n<k> are filled by << in
// marker order. Driver messages (1200-1499, 3800-4099) have their own
// headers beside the drivers' tables.
enum BaseMessage : uint16_t {
  msgParamTypeChanged = 6000,       // "Data type for parameter %n1 has changed since first SQLExecute call."
  msgNegativeParamLength = 6001,    // "Negative length given for parameter %n1."
  msgParamCountMismatch = 6002,     // "Number of parameters set by SQLSetParam does not equal number of ..."
  msgParamMarkerPlace = 6003,       // "Parameter marker not in SQL clause which can contain ? parameter."
  msgStatementNotClosed = 6004,     // "Invalid sequence of operations: statement has not been closed."
  msgBadEscape = 6005,              // "Unrecognizable ODBC SQL escape sequence."
  msgCannotConvertEscape = 6006,    // "Database cannot convert this ODBC escape sequence: %s1 ."
  msgCannotOpenFile = 6007,         // "Unable to open file %s1."
  msgColumnTruncated = 6008,        // "Data truncated, column %n1."
  msgColumnOverflow = 6009,         // "Numeric overflow, column %n1."
  msgColumnNotConvertible = 6010,   // "Unable to convert column %n1.  Cannot convert from SQL type %n2 t..."
  msgParamNotConvertible = 6011,    // "Unable to convert parameter %n1.  Cannot convert from C type %n2 ..."
  msgParamNotSpecified = 6012,      // "Value has not been specified for parameter %n1."
  msgConnectInfoMissing = 6013,     // "Insufficient information to connect to the data source."
  msgDialogFailed = 6014,           // "An unexpected error occurred while trying to create a dialog box."
  msgBadConnAttribute = 6015,       // "Invalid attribute in connection string: %s1."
  msgQualifierTooLong = 6016,       // "The qualifier '%s1' was larger than SQL_MAX_QUALIFIER_LEN from SQ..."
  msgOwnerTooLong = 6017,           // "The owner '%s1' was larger than SQL_MAX_OWNER_NAME_LEN from SQLGe..."
  msgTableNameTooLong = 6018,       // "The table name '%s1' was larger than SQL_MAX_TABLE_NAME_LEN from ..."
  msgColumnNameTooLong = 6019,      // "The column name '%s1' was larger than SQL_MAX_COLUMN_NAME_LEN fro..."
  msgProcedureNameTooLong = 6020,   // "The procedure name '%s1' was larger than SQL_MAX_PROCEDURE_NAME_L..."
  msgEscapeNotEnded = 6021,         // "Escape clause beginning with --*( or { was not properly ended wit..."
  msgEscapeNotSupported = 6022,     // "The statement contained an escape clause not supported by this da..."
  msgConnStringParse = 6023,        // "Error parsing connect string at offset %n1."
  msgTranslationError = 6024,       // "Error using translation DLL.  %s1."
  msgTranslationSize = 6025,        // "Error using translation DLL.  Output buffer size not equal to inp..."
  msgTooManyColumns = 6026,         // "%n1 is greater that the number of columns allowed, %n2."
  msgUnknownFunctionEscape = 6027,  // "Unrecognized function escape: %s1."
  msgVendorEscapeMalformed = 6028,  // "Escape sequence malformed.  --*( was not followed by vendor(Micro..."
  msgBadDateEscape = 6029,          // "Invalid date escape.  Correct syntax is {d 'yyyy-mm-dd'}."
  msgBadTimeEscape = 6030,          // "Invalid time escape.  Correct syntax is {t 'hh:mm:ss'}."
  msgBadTimestampEscape = 6031,     // "Invalid timestamp escape.  Correct syntax is {ts 'yyyy-mm-dd hh:m..."
  msgParamTruncated = 6032,         // "Data truncated, parameter %n1."
  msgBoundColumnsExceed = 6033,     // "Number of bound columns exceeds the number of result columns."
  msgCurrentOfManyRows = 6034,      // "More than one row was affected by CURRENT-OF-CURSOR emulation."
  msgCurrentOfColumnValue = 6035,   // "Error getting column value for search clause for CURRENT-OF-CURSO..."
  msgCurrentOfNoSelect = 6036,      // "Unable to locate SELECT statement with cursor named in this state..."
  msgCurrentOfNotForUpdate = 6037,  // "Statement with cursor named in this statement's CURRENT-OF-CURSOR..."
  msgCurrentOfNotOnRow = 6038,      // "Statement with cursor named in this statement's CURRENT-OF-CURSOR..."
  msgCurrentOfNoUniqueColumns = 6039,// "Statement with cursor named in this statement's CURRENT-OF-CURSOR..."
  msgEscapeTooFewArgs = 6040,       // "Too few arguments given in a function escape."
  msgEscapeArgNotEnded = 6041,      // "Could not find end of argument in a function escape, probably due..."
  msgConnValueMissing = 6042,       // "No value was specified for a required connection argument."
  msgParamPrecisionTooLarge = 6043, // "Parameter number %n1 was declared with a precision of %n2 which i..."
  msgParamSuffixWide = 6044,        // "  Error in parameter %n1."
  msgBadConvertType = 6045,         // "'%s1' is not a valid ODBC SQL type for CONVERT"
  msgOuterJoinKeywords = 6046,      // "The keywords LEFT OUTER JOIN were not found in an outer join esca..."
  msgOuterJoinOn = 6047,            // "The keyword ON preceding the search condition was not found in an..."
  msgAutocommitCommitted = 6048,    // "The currently active transaction was committed before changing th..."
  msgFnNameMissing = 6049,          // "Invalid escape sequence.  Missing function name after 'FN'."
  msgBinaryParamBytes = 6050,       // "A SQL_C_BINARY parameter was passed an incorrect number of bytes...."
  msgCurrentOfNoCursorName = 6051,  // "Cursor name missing after WHERE CURRENT OF"
  msgCurrentOfNoRows = 6052,        // "No rows were affected by UPDATE/DELETE WHERE CURRENT OF cursor em..."
  msgZeroPrecision = 6053,          // "Character, decimal, and binary parameters cannot have a precision..."
  msgTimestampPrecision = 6054,     // "Timestamp parameters with zero scale must have a precision of 13,..."
  msgTimestampScale = 6055,         // "Timestamp parameters with a scale, must have a scale less than te..."
  msgNegativeScale = 6056,          // "Database does not allow negative scale values. Error in parameter..."
  msgTooManyBindings = 6057,        // "%n1 is greater that the number of bound columns allowed, %n2."
  msgTooManyParams = 6058,          // "%n1 is greater that the number of parameters allowed, %n2."
  msgSqlTypeNotSupported = 6059,    // "ODBC SQL data type not supported by this database."
  msgNotNullRemoved = 6063,         // "Database does not allow NOT NULL in the create table statement an..."
  msgForwardOnlyFetch = 6064,       // "In SQLExtendedFetch, only SQL_FETCH_NEXT is supported for SQL_SCR..."
  strWarningCaption = 6066,         // "Warning"
  msgMaxLengthSet = 6067,           // "SQL_MAX_LENGTH has been set to the maximum size of data that can ..."
  msgPasswordTooLong = 6069,        // "Password passed in is longer than 24 characters."
  msgDataTruncated = 6070,          // "Data Truncated."
  msgNumericOverflow = 6071,        // "Numeric overflow."
  msgInColumn = 6072,               // " Error in column %n1."
  msgInParameter = 6073,            // " Error in parameter %n1."
  msgNoDefaultParams = 6074,        // "Default parameters values are not suppported by this database."
  msgParamOptionsNeedBind = 6075,   // "To use SQLParamOptions with this driver, you must also use SQLBin..."
  msgParamPrecisionLoss = 6076,     // "Parameter %n1 precision exceeds the maximum literal length and wi..."
  msgAdjustingNotForUpdate = 6077,  // "Statement with cursor named in this statement's ADJUSTING clause ..."
  msgNoAnsiCharacter = 6080,        // "The character U+%s1 has no equivalent in the data source's charac..."
  msgOddWideLength = 6081,          // "A SQL_C_WCHAR value must be whole 2-byte characters; %n1 bytes we..."
  msgInvalidAppText = 6082,         // "Byte %n1 of the text begins no character of the application's cha..."
  msgNoAppCharacter = 6083,         // "The character U+%s1 has no equivalent in the application's charac..."
};

// The error the entry layer posts when a driver's dialog cannot be shown.
// No table has a text for it.
enum : uint16_t { msgDialogNotShown = 9999 };

// Message ids a driver's own table answers (through the connection's
// getDriverResourceStr): the driver's messages, and the file SQL engine's,
// which the file drivers carry.
enum : uint16_t {
  baseDriverMessageFirst = 1200,
  baseDriverMessageLast = 1499,
  baseEngineMessageFirst = 3800,
  baseEngineMessageLast = 4099,
};

// Strings every driver's table carries, read by the framework through the
// connection's getDriverResourceStr.
enum BaseDriverString : uint16_t {
  strDriverName = 20101,            // the name in diagnostics and SQL_DBMS_NAME
  strOwnerTerm = 20102,             // SQL_OWNER_TERM
  strQualifierTerm = 20104,         // SQL_QUALIFIER_TERM
  strProcedureTerm = 20105,         // SQL_PROCEDURE_TERM
  strTableTerm = 20106,             // SQL_TABLE_TERM
  strDriverVersion = 20107,         // SQL_DRIVER_VER
};
