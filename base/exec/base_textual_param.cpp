// textualBindParam: for data sources without parameters, a parameter's
// value is written into the statement's text as an SQL literal over its
// "?" marker. The execute step fills sqlText_ with the prepared text before
// the values of a row arrive; parameters come in ascending order, so the
// place of marker n is its place in the prepared text moved by what the
// literals before it added.
//
//   value                             written as
//   SQL_NULL_DATA                     NULL
//   SQL_C_CHAR for CHAR, VARCHAR,     'text' (quotes doubled; cut to the
//   LONGVARCHAR                       precision with 01004)
//   SQL_C_CHAR for DATE, TIME,        'text' as it stands
//   TIMESTAMP
//   anything else                     converted to text first, then
//     FLOAT, REAL, DOUBLE               " 1234567890E0 " (E0 added to a
//                                       long number without exponent)
//     TINYINT ... SMALLINT, NUMERIC,    " 123 "
//     DECIMAL, BIGINT
//     CHAR, VARCHAR, LONGVARCHAR        'text'
//     DATE, TIME, TIMESTAMP, BIT,       the driver's literal form
//     binary types                      (expandNativeEscape)
#include "base/statement/base_statement.h"

#include "base/convert/base_convert.h"
#include "base/results/base_field.h"
#include "base/handles/base_messages.h"
#include "base/statement/base_sql_string.h"
#include "util/memory/ram.h"

#include <cstring>

namespace {

bool isCharSqlType(int16_t type) { return type == SQL_CHAR || type == SQL_VARCHAR || type == SQL_LONGVARCHAR; }
bool isBinarySqlType(int16_t type) {
  return type == SQL_BINARY || type == SQL_VARBINARY || type == SQL_LONGVARBINARY;
}

// Bytes of a zero-terminated text in a buffer of bufferSize bytes (<= 0:
// unknown, the application promised a terminator).
SQLLEN boundedTextLength(const void* value, SQLLEN bufferSize) {
  if (bufferSize <= 0) return SQLLEN(std::strlen(static_cast<const char*>(value)));
  const void* end = std::memchr(value, 0, size_t(bufferSize));
  return end ? static_cast<const char*>(end) - static_cast<const char*>(value) : bufferSize;
}

// The escape kind whose native literal the driver writes for sqlType.
bool nativeLiteralOf(int16_t sqlType, EscapeType* type) {
  switch (sqlType) {
    case SQL_DATE: *type = escapeDate; return true;
    case SQL_TIME: *type = escapeTime; return true;
    case SQL_TIMESTAMP: *type = escapeTimestamp; return true;
    case SQL_BIT: *type = escapeBit; return true;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: *type = escapeBinary; return true;
    default: return false;
  }
}

}  // namespace

KvStatus BaseStatement::textualBindParam(uint16_t parameter, const void* value, SQLLEN length) {
  BaseParam* param = getParamRecord(parameter);
  const BaseSqlString* prepared = keptSql_;
  if (!param || !prepared || parameter != textNextParam_ || parameter > prepared->getMarkerCount()) {
    addOdbcError(stateGeneral);
    return kvFailure;
  }
  const int64_t place = int64_t(prepared->getMarkerOffset(uint16_t(parameter - 1))) + textShift_;
  if (place < 0 || place >= int64_t(sqlText_.getLength()) || sqlText_.getStr()[place] != '?') {
    addOdbcError(stateGeneral);
    return kvFailure;
  }
  const uint32_t at = uint32_t(place);
  const uint32_t before = sqlText_.getLength();

  KvString literal;
  if (literal.initialize(kvU(""), 0) != kvSuccess) return kvFailure;
  EscapeType escape = escapeDate;
  bool native = false;
  if (length == SQL_NULL_DATA) {
    if (literal.concat(kvU("NULL")) != kvSuccess) return kvFailure;
  } else if (param->cType == SQL_C_CHAR && (isCharSqlType(param->sqlType) || param->sqlType == SQL_DATE ||
                                            param->sqlType == SQL_TIME || param->sqlType == SQL_TIMESTAMP)) {
    SQLLEN bytes = length == SQL_NTS ? boundedTextLength(value, param->bufferSize) : length;
    if (bytes < 0) {
      addOdbcError(stateStringLength, msgNegativeParamLength) << uint32_t(parameter);
      return kvFailure;
    }
    if (isCharSqlType(param->sqlType) && param->precision && bytes > SQLLEN(param->precision)) {
      bytes = SQLLEN(param->precision);
      addOdbcWarning(stateTruncated, msgParamTruncated) << uint32_t(parameter);
    }
    const KvSubString text(static_cast<const unsigned char*>(value), uint32_t(bytes));
    if (literal.addQuotedBytes(&text, '\'') != kvSuccess) return kvFailure;
  } else {
    // The value as text: 512 bytes, or room for a long text or binary
    // value (twice its length where binary goes out as hexadecimal).
    uint32_t room = 512;
    const bool variable = param->cType == SQL_C_CHAR || param->cType == SQL_C_BINARY || param->cType == SQL_C_WCHAR;
    if (variable && length > 256) {
      if (length > SQLLEN(INT32_MAX / 2 - 2)) {
        addOdbcError(stateStringLength, msgNegativeParamLength) << uint32_t(parameter);
        return kvFailure;
      }
      room = uint32_t(length) + 2;
      if (param->cType == SQL_C_BINARY && isBinarySqlType(param->sqlType)) room = 2 * uint32_t(length) + 2;
    }
    unsigned char* text = static_cast<unsigned char*>(ramAlloc(room));
    if (!text) return kvFailure;
    int32_t textLength = 0;
    const KvStatus converted = convertCToInternal(parameter, value, length, itChar, text, &textLength, room);
    if (converted == kvSuccess) {
      const KvSubString asText(text, uint32_t(textLength));
      KvStatus written = kvSuccess;
      switch (param->sqlType) {
        case SQL_FLOAT:
        case SQL_REAL:
        case SQL_DOUBLE:
          written = literal.concat(' ');
          if (written == kvSuccess) written = literal.concat(text, uint32_t(textLength));
          if (written == kvSuccess && textLength > 9 && !std::memchr(text, 'E', size_t(textLength)) &&
              !std::memchr(text, 'e', size_t(textLength)))
            written = literal.concat(kvU("E0"));
          if (written == kvSuccess) written = literal.concat(' ');
          break;
        case SQL_TINYINT:
        case SQL_BIGINT:
        case SQL_NUMERIC:
        case SQL_DECIMAL:
        case SQL_INTEGER:
        case SQL_SMALLINT:
          written = literal.concat(' ');
          if (written == kvSuccess) written = literal.concat(text, uint32_t(textLength));
          if (written == kvSuccess) written = literal.concat(' ');
          break;
        case SQL_CHAR:
        case SQL_VARCHAR:
        case SQL_LONGVARCHAR:
          written = literal.addQuotedBytes(&asText, '\'');
          break;
        default:
          if (nativeLiteralOf(param->sqlType, &escape)) {
            native = true;
            written = literal.concat(text, uint32_t(textLength));
          } else {
            // Every SQL type a binding accepts is written above; a marker is
            // never left out of the text.
            addOdbcError(stateSqlType);
            written = kvFailure;
          }
          break;
      }
      ramFree(text);
      if (written != kvSuccess) return kvFailure;
    } else {
      ramFree(text);
      return kvFailure;
    }
  }

  if (sqlText_.changeBytes(at, 1, literal.getStr(), literal.getLength()) != kvSuccess) return kvFailure;
  if (native) {
    // The driver reads the literal's text and writes its own form of it.
    KvReplaceString rewrite(&sqlText_);
    rewrite.keep(at);
    const uint32_t restBefore = rewrite.getLength();
    if (connection_->expandNativeEscape(&rewrite, literal.getLength(), escape, fnNone) != kvSuccess)
      return kvFailure;
    const uint32_t consumed = restBefore - rewrite.getLength();
    if (consumed < literal.getLength()) rewrite.skip(literal.getLength() - consumed);
  }
  textShift_ += int64_t(sqlText_.getLength()) - int64_t(before);
  ++textNextParam_;
  return kvSuccess;
}
