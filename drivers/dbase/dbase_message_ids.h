// Named ids of the dBASE driver's own strings: its messages (1200-1499),
// its name and the labels and names the framework and the engine ask for
// (20101 and up). The texts stand beside them in dbase_messages.cpp, a
// table sorted by id (checked when it is compiled).
#pragma once

#include <cstdint>

enum DbaseMessageId : uint16_t {
  msgDbfIndexRead = 1201,          // "Error reading index file: %s1"
  msgDbfDropNoTable = 1202,        // "Cannot drop table %s1.  Table does not exist."
  msgDbfMemoOtherTable = 1203,     // "Memo file for table %s1 is marked as belonging to a different table."
  msgDbfMemoCorrupt = 1213,        // "Corrupt memo file, read error"
  msgDbfDbase2Types = 1215,        // "dBASE II files cannot contain DATE, MEMO, or FLOAT fields."
  msgDbfDbase3Float = 1216,        // "dBASE III files cannot contain FLOAT fields."
  msgDbfBadNdx2 = 1221,            // "Not a valid dBASE II index file: %s1"
  msgDbfBadNdx3 = 1222,            // "Not a valid dBASE III index file: %s1" (also for .MDX files)
  msgDbfMdxOtherTable = 1223,      // "MDX file was created for database: %s1"
  msgDbfKeyNotFound = 1225,        // "Record being deleted not found in index file"
  msgDbfUseUnopenedIndex = 1226,   // "Attempt to use an index that hasn't been opened: %s1"
  msgDbfDbase2Fields = 1228,       // "The limit is 32 fields in dBASE II files"
  msgDbfBadIndexName = 1229,       // "Invalid dBASE index file name: %s1"
  msgDbfCharWidth = 1231,          // "Character width must be between 1 and %n1: %s2"
  msgDbfNumericWidth = 1232,       // "A numeric column's width must be between 1 and 20 ..."
  msgDbfNumericDecimals = 1233,    // "A numeric column's decimal must be less than its width: %s1"
  msgDbfCannotOpenExclusive = 1234,  // "Cannot open table exclusively: %s1"
  msgDbfKeyViolation = 1236,       // "Attempted index operation has resulted in a key violation."
  msgDbfBadIndex = 1238,           // "Not a valid index file: %s1"
  msgDbfBadDecimalFormat = 1244,   // "Unsupported decimal format."
  msgDbfBadNtx = 1260,             // "Not a valid Clipper index file: %s1"

  msgDbfTagNotFound = 4404,        // "Tag name not found in index file."
  msgDbfIndexFileFull = 4409,      // "The %s1 file is full (%n2 tags maximum)."

  strDbfDriverName = 20101,        // "dBASE": the name in the message prefix
  strDbfOwnerTerm = 20102,
  strDbfQualifierTerm = 20104,
  strDbfProcedureTerm = 20105,
  strDbfTableTerm = 20106,
  strDbfDriverVersion = 20107,
  strDbfParamLength = 20108,       // create parameters of CHAR
  strDbfParamPrecisionScale = 20111,  // create parameters of NUMERIC and FLOAT
  strDbfLogicalLetters = 20117,    // "FTNY": false, true, false, true
  strDbfTypeChar = 20118,
  strDbfTypeDate = 20119,
  strDbfTypeNumeric = 20120,
  strDbfTypeMemo = 20121,
  strDbfTypeLogical = 20122,
  strDbfTypeFloat = 20123,
  strDbfTypeGeneral = 20124,
  strDbfTypePicture = 20126,
  strDbfTypeBinary = 20127,
  strDbfNameFoxPro = 20128,
  strDbfNameFoxBase = 20129,
  strDbfNameClipper = 20130,
  strDbfNameDbase2 = 20131,
  strDbfNameDbase3 = 20132,
  strDbfNameDbase4 = 20133,
  strDbfNameDbase5 = 20134,
};

// The driver's text of an id into buffer (size bytes); its length, 0 when
// the driver has no such string.
short dbfLoadString(uint16_t id, unsigned char* buffer, uint32_t size);
