// Types shared by the file SQL engine and the file drivers: the engine's
// export mark, the kinds of values a table delivers and the answers of a
// record read.
#pragma once

#include "base/base_types.h"

#define KV_FLAT_API KV_API

class FlatConnection;
class FlatStatement;
class FlatFileDesc;
class FlatFileField;
class FlatSharedDesc;
class FlatSharedField;
class FlatChangesDesc;
class FlatRid;
class FlatDescriptor;
class FlatSqlDesc;
class FlatIndexDesc;
class FlatOptDesc;
class FlatLookup;
class FlatOptBnd;
class FlatDataTypeParser;

// Kind byte of a value that FlatFileDesc::getFieldData delivers.
enum FlatValueKind : uint8_t {
  flatValueBinary = 0,    // bytes as stored; the length counts them
  flatValueNull = 2,      // no bytes
  flatValueDouble = 8,    // an 8-byte double: numbers, and dates and times in their numeric form
  flatValueLogical = 16,  // one byte
  flatValueDate = 32,     // a date or time as a double day number (1e100: a blank date)
  flatValueText = 0x40,   // zero-terminated text; the length counts the terminator
};

// Answer of FlatFileDesc::readRecord (and of a keyset's record read).
enum GetRecRetType : uint16_t {
  getRecFound = 0,    // the record is there and current
  getRecPastEnd = 1,  // the identifier lies beyond the table
  getRecGone = 2,     // the record was deleted or changed under the reader
};

// Kinds of the engine's statements (FlatStatement::getStatementKind).
enum FlatStatementKind : uint16_t {
  flatKindNone = 0,
  flatKindSelect = 1,
  flatKindCatalog = 3,  // rows of a catalog function (the framework's catalog kind)
  flatKindCreateTable = 51,
  flatKindCreateIndex = 52,
  flatKindInsert = 53,
  flatKindUpdate = 54,
  flatKindDelete = 55,
  flatKindDropTable = 56,
  flatKindDropIndex = 57,
  flatKindSpecial = 59,
  flatKindUse = 60,
};

// The framework's internal data types, in which values cross between the
// engine, the change log and a driver's updateColumn (the pivot of every
// conversion; 64-bit values are kept high word first).
enum FlatInternalType : uint32_t {
  flatItBinary = 0,
  flatItChar = 1,
  flatItBit = 2,
  flatItInt8 = 3,
  flatItUInt8 = 4,
  flatItInt16 = 5,
  flatItUInt16 = 6,
  flatItInt32 = 7,
  flatItUInt32 = 8,
  flatItInt64 = 9,
  flatItUInt64 = 10,
  flatItPacked = 11,
  flatItDecimalText = 12,
  flatItFloat = 13,
  flatItDouble = 14,
  flatItDate = 15,
  flatItTime = 16,
  flatItTimestamp = 17,
};
