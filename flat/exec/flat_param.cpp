// FlatStatement's parameters: the record it makes for each marker, the
// type check and the conversion of each value into the engine's internal
// form, and long values taken whole or spooled into the change log's
// long-value store. See flat_param.h for the tables.
#include "flat/exec/flat_param.h"

#include "base/convert/base_convert.h"
#include "base/handles/base_messages.h"
#include "flat/connection/flat_changes.h"
#include "flat/connection/flat_connection.h"
#include "flat/connection/flat_file_desc.h"
#include "flat/exec/flat_statement.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "flat/sql/flat_descriptor.h"
#include "util/memory/ram.h"

#include <cstring>

FlatParam::~FlatParam() = default;

namespace {

enum : uint32_t { flatParamScratchBytes = 88 };

bool isNumericBound(int16_t type) {
  switch (type) {
    case SQL_BIT: case SQL_TINYINT: case SQL_BIGINT: case SQL_NUMERIC: case SQL_DECIMAL:
    case SQL_INTEGER: case SQL_SMALLINT: case SQL_FLOAT: case SQL_REAL: case SQL_DOUBLE:
      return true;
    default:
      return false;
  }
}

bool isBinaryType(int16_t type) {
  return type == SQL_BINARY || type == SQL_VARBINARY || type == SQL_LONGVARBINARY;
}

int hexDigit(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A zero character inside the first length bytes of text (a zero 16-bit
// unit for wide text): the engine's text ends at its first zero, so such a
// value would be stored cut.
bool hasEmbeddedNul(int16_t cType, const unsigned char* value, int32_t length) {
  if (length <= 0 || !value) return false;
  if (cType == SQL_C_CHAR) return std::memchr(value, 0, size_t(length)) != nullptr;
  if (cType == SQL_C_WCHAR) {
    for (int32_t i = 0; i + 1 < length; i += 2)
      if (value[i] == 0 && value[i + 1] == 0) return true;
  }
  return false;
}

}  // namespace

bool flatParamTypeAccepted(int16_t boundType, int16_t markerType) {
  if (markerType == 0) return true;
  if (isNumericBound(boundType)) return markerType == SQL_BIT || markerType == SQL_DOUBLE;
  switch (boundType) {
    case SQL_LONGVARBINARY:
    case SQL_VARBINARY:
    case SQL_BINARY:
      return isBinaryType(markerType);
    case SQL_LONGVARCHAR:
    case SQL_CHAR:
    case SQL_VARCHAR:
      return markerType == SQL_CHAR || markerType == SQL_VARCHAR || markerType == SQL_LONGVARCHAR;
    case SQL_DATE:
    case SQL_TIME:
    case SQL_TIMESTAMP:
      return markerType == boundType;
    default:
      return true;
  }
}

bool flatParamInternalForm(int16_t boundType, uint32_t precision, uint32_t* internalType, uint32_t* bufferBytes) {
  if (isNumericBound(boundType) && boundType != SQL_NUMERIC && boundType != SQL_DECIMAL) {
    *internalType = flatItDouble;
    *bufferBytes = 8;
    return true;
  }
  switch (boundType) {
    case SQL_BINARY:
    case SQL_VARBINARY:
      *internalType = flatItBinary;
      *bufferBytes = precision;
      return true;
    case SQL_CHAR:
    case SQL_VARCHAR:
      *internalType = flatItChar;
      *bufferBytes = precision < UINT32_MAX ? precision + 1 : precision;
      return true;
    case SQL_NUMERIC:
    case SQL_DECIMAL:
      *internalType = flatItDecimalText;
      *bufferBytes = flatParamScratchBytes;
      return true;
    case SQL_DATE:
      *internalType = flatItDate;
      *bufferBytes = flatParamScratchBytes;
      return true;
    case SQL_TIME:
      *internalType = flatItTime;
      *bufferBytes = flatParamScratchBytes;
      return true;
    case SQL_TIMESTAMP:
      *internalType = flatItTimestamp;
      *bufferBytes = flatParamScratchBytes;
      return true;
    default:
      return false;
  }
}

KvStatus flatDecodeHex(const unsigned char* text, uint32_t length, unsigned char* out, uint32_t* outLength) {
  *outLength = 0;
  if (length % 2) {
    addOdbcError(stateAssignment);
    return kvFailure;
  }
  for (uint32_t i = 0; i < length; i += 2) {
    const int high = hexDigit(text[i]), low = hexDigit(text[i + 1]);
    if (high < 0 || low < 0) {
      addOdbcError(stateAssignment);
      return kvFailure;
    }
    out[i / 2] = uint8_t(high * 16 + low);
  }
  *outLength = length / 2;
  return kvSuccess;
}

BaseParam* FlatStatement::allocParam() {
  auto* param = new FlatParam();
  if (!param) KvErrorKeeper::addMemoryError();
  return param;
}

void FlatStatement::unbindParams() {
  if (engineFlags_ & stmtResultOpen) {
    engineFlags_ |= stmtReleaseParams;
    return;
  }
  paramValues_.releaseValues();
}

namespace {

// A long value (or one piece of it) in the form it is stored in: the bytes
// as given for SQL_C_BINARY, other C types converted to text first (the
// application's narrow text from its code set); LONGVARBINARY from anything but SQL_C_BINARY is hexadecimal text and
// decodes to half as many bytes. *out is a ramAlloc block (null for no
// bytes).
KvStatus longValueBytes(FlatStatement* statement, uint16_t parameter, const BaseParam* param, const void* value,
                        int32_t length, unsigned char** out, uint32_t* outLength) {
  *out = nullptr;
  *outLength = 0;
  const unsigned char* bytes = static_cast<const unsigned char*>(value);
  uint32_t count = length > 0 ? uint32_t(length) : 0;
  unsigned char* text = nullptr;
  if (param->cType != SQL_C_BINARY && count) {
    // Narrow text converts to at most one byte a character, wide text to
    // at most one byte a unit; numbers, dates and times to short text.
    const uint32_t room = count + flatParamScratchBytes;
    text = static_cast<unsigned char*>(ramAlloc(room));
    if (!text) return kvFailure;
    int32_t converted = 0;
    if (statement->convertCToInternal(parameter, value, length, itChar, text, &converted, room) != kvSuccess) {
      ramFree(text);
      return kvFailure;
    }
    bytes = text;
    count = converted > 0 ? uint32_t(converted) : 0;
  }
  if (count == 0) {
    ramFree(text);
    return kvSuccess;
  }
  unsigned char* result = static_cast<unsigned char*>(ramAlloc(count));
  KvStatus status = result ? kvSuccess : kvFailure;
  if (status == kvSuccess) {
    if (param->sqlType == SQL_LONGVARBINARY && param->cType != SQL_C_BINARY) {
      status = flatDecodeHex(bytes, count, result, &count);
    } else {
      std::memcpy(result, bytes, count);
    }
  }
  ramFree(text);
  if (status != kvSuccess) {
    ramFree(result);
    return kvFailure;
  }
  *out = result;
  *outLength = count;
  return kvSuccess;
}

// Cuts a piece that would carry the value past the precision (0: no limit)
// with the warning 01004.
uint32_t fitToPrecision(uint32_t precision, uint32_t offset, uint32_t length) {
  if (precision == 0 || uint64_t(offset) + length <= precision) return length;
  addOdbcWarning(stateTruncated);
  return offset >= precision ? 0 : precision - offset;
}

}  // namespace

KvStatus FlatStatement::bindParam(uint16_t parameter, void* value, int32_t length, int mode) {
  BaseParam* record = getParamRecord(parameter);
  if (!record || parameter == 0) {
    addOdbcError(stateInvalidParamNumber);
    return kvFailure;
  }
  const uint16_t marker = uint16_t(parameter - 1);
  const FlatParamValue* known = paramValues_.find(marker);
  // Codes outside ODBC 2 that reach the driver unchanged (SQL_WVARCHAR) are
  // checked as the ODBC 2 type they stand for, never waved through as "any".
  const int16_t boundType = BaseOdbc2SqlType(record->sqlType);
  // A NULL is accepted whatever its bound type (applications such as
  // pyodbc bind None as SQL_VARCHAR for any column): no value, no mismatch.
  if (mode == bindWhole && length == SQL_NULL_DATA)
    return paramValues_.setValue(marker, boundType, flatItChar, nullptr, 0);
  if (mode == bindWhole || mode == bindFirstPiece) {
    if (!flatParamTypeAccepted(boundType, known ? known->markerType : 0)) {
      addFlatError(stateRestrictedType, msgParamTypeMismatch) << uint32_t(parameter);
      return kvFailure;
    }
  }

  if (boundType == SQL_LONGVARCHAR || boundType == SQL_LONGVARBINARY)
    return bindLongParam(parameter, record, value, length, mode);

  const unsigned char* bytes = static_cast<const unsigned char*>(value);
  if (hasEmbeddedNul(record->cType, bytes, length)) {
    addFlatError(stateGeneral, msgEmbeddedNul);
    return kvFailure;
  }
  uint32_t internalType = flatItChar;
  uint32_t bufferBytes = 0;
  if (!flatParamInternalForm(boundType, record->precision, &internalType, &bufferBytes)) {
    // A type outside the table is kept as text.
    internalType = flatItChar;
    bufferBytes = (length > 0 ? uint32_t(length) : 0) + flatParamScratchBytes;
  }
  // The precision is the application's word; the value can be no longer
  // than its bytes (wide text shrinks, numbers and dates as text stay short),
  // so the buffer never grows past that whatever the precision says.
  const uint32_t valueBound = (length > 0 ? uint32_t(length) : 0) + flatParamScratchBytes;
  if (bufferBytes > valueBound) bufferBytes = valueBound;
  if (bufferBytes == 0) bufferBytes = 1;
  unsigned char* buffer = static_cast<unsigned char*>(ramAlloc(bufferBytes + 1));
  if (!buffer) return kvFailure;
  std::memset(buffer, 0, bufferBytes + 1);
  int32_t written = 0;
  // Exact numbers are kept as plain decimal text ("1999.5"), the form the
  // evaluator and the change log read, not the framework's headed form.
  const InternalType target = internalType == flatItDecimalText ? itChar : InternalType(internalType);
  const bool measured = target == itChar || target == itBinary;
  // A character value's buffer holds its terminator besides the precision's
  // bytes; the conversion may fill only those (and cuts with 01004).
  const uint32_t room = internalType == flatItChar && bufferBytes > 1 ? bufferBytes - 1 : bufferBytes;
  KvStatus status =
      convertCToInternal(parameter, value, length, target, buffer, measured ? &written : nullptr, room);
  uint32_t valueLength = 0;
  switch (internalType) {
    case flatItDouble: valueLength = 8; break;
    case flatItDate:
    case flatItTime: valueLength = 6; break;
    case flatItTimestamp: valueLength = 16; break;
    default: valueLength = written > 0 ? uint32_t(written) : 0; break;
  }
  if (status == kvSuccess) status = paramValues_.adoptValue(marker, boundType, internalType, buffer, valueLength);
  if (status != kvSuccess) ramFree(buffer);
  return status;
}

// Long values: whole on a connection that writes directly (autocommit),
// otherwise through the long-value store of the statement's target table's
// change log, where pieces are spooled until the last one.
KvStatus FlatStatement::bindLongParam(uint16_t parameter, BaseParam* record, void* value, int32_t length, int mode) {
  const uint16_t marker = uint16_t(parameter - 1);
  // The application's markers have records of allocParam; a record beyond
  // them (the framework's own) keeps no count, and the spool's length says it.
  auto* param = parameter <= getParamCount() ? static_cast<FlatParam*>(record) : nullptr;
  const int16_t boundType = BaseOdbc2SqlType(record->sqlType);
  FlatConnection* connection = getFlatConnection();

  if (mode == bindWhole && connection->isWritingDirectly()) {
    unsigned char* bytes = nullptr;
    uint32_t count = 0;
    if (longValueBytes(this, parameter, record, value, length, &bytes, &count) != kvSuccess) return kvFailure;
    count = fitToPrecision(record->precision, 0, count);
    const uint32_t internalType = boundType == SQL_LONGVARBINARY ? flatItBinary : flatItChar;
    KvStatus status = kvSuccess;
    if (bytes && count) {
      status = paramValues_.adoptValue(marker, boundType, internalType, bytes, count);
    } else {
      ramFree(bytes);
      bytes = nullptr;
      // An empty long value is kept as NULL: the file formats keep no
      // difference between an empty long column and none.
      status = paramValues_.setValue(marker, boundType, internalType, nullptr, 0);
    }
    if (status != kvSuccess) ramFree(bytes);
    return status;
  }

  // The pieces go to the change log of the table the statement writes or
  // reads first: a statement without one has nowhere to put them.
  FlatSqlDesc* query = head_ ? head_->getSqlDesc() : nullptr;
  FlatFileDesc* target = query ? query->getFirstTable() : nullptr;
  const bool kindTakesLong =
      statementKind_ == flatKindSelect || statementKind_ == flatKindInsert || statementKind_ == flatKindUpdate;
  if (!target || !kindTakesLong) {
    addFlatError(stateGeneral, msgLongParamNoTable) << uint32_t(parameter);
    return kvFailure;
  }
  if (mode == bindLastPiece) {
    uint32_t offset = 0;
    if (flatSpoolLongValue(target, flatSpoolFinish, nullptr, 0, &offset) != kvSuccess) return kvFailure;
    if (param) param->spooledBytes = 0;
    return paramValues_.setLongValue(marker, boundType, int32_t(offset));
  }
  unsigned char* bytes = nullptr;
  uint32_t count = 0;
  if (longValueBytes(this, parameter, record, value, length, &bytes, &count) != kvSuccess) return kvFailure;
  const uint32_t start = mode != bindNextPiece ? 0 : param ? param->spooledBytes : target->getSpoolLength();
  count = fitToPrecision(record->precision, start, count);
  uint32_t offset = 0;
  const uint16_t spoolMode =
      mode == bindWhole ? flatSpoolWhole : mode == bindFirstPiece ? flatSpoolBegin : flatSpoolAppend;
  KvStatus status = flatSpoolLongValue(target, spoolMode, bytes, count, &offset);
  ramFree(bytes);
  if (status != kvSuccess) return kvFailure;
  if (param) param->spooledBytes = mode == bindWhole ? 0 : start + count;
  if (mode == bindWhole) {
    return paramValues_.setLongValue(marker, boundType, int32_t(offset));
  }
  return kvSuccess;
}
