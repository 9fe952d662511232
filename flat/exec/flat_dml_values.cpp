// Values of INSERT and UPDATE: evaluation into the target column's storage
// form and the column store; see flat_dml_values.h.
#include "flat/exec/flat_dml_values.h"

#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "flat/connection/flat_changes.h"
#include "flat/connection/flat_connection.h"
#include "flat/connection/flat_file_desc.h"
#include "flat/connection/flat_shared_desc.h"
#include "flat/exec/flat_param.h"
#include "flat/exec/flat_param_values.h"
#include "flat/exec/flat_statement.h"
#include "flat/expr/flat_byte_code.h"
#include "flat/expr/flat_date_keys.h"
#include "flat/expr/flat_evaluator.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "flat/sql/flat_descriptor.h"
#include "flat/sql/flat_select_field.h"
#include "util/memory/ram.h"

#include <cmath>
#include <cstring>

namespace {

enum : uint32_t {
  // Room for any computed result: texts end at 1024 bytes.
  resultBytes = 2600,
  // getFieldData's buffer size is 16 bits wide.
  fieldBytes = 0xFFFF,
  dateStructBytes = 6,
  timestampStructBytes = 16,
};

bool isBinarySqlType(int16_t type) {
  return type == SQL_BINARY || type == SQL_VARBINARY || type == SQL_LONGVARBINARY;
}

// A date or timestamp structure (year, month, day, then hour, minute,
// second and a zero fraction) of an engine date, rounded to the second.
uint32_t dateStructure(double date, bool withTime, unsigned char* out) {
  double seconds = std::floor((date - std::floor(date)) * 86400.0 + 0.5);
  double day = std::floor(date);
  if (seconds >= 86400.0) {
    seconds -= 86400.0;
    day += 1;
  }
  unsigned short year = 0, month = 0, dayOfMonth = 0;
  JulianToYrMoDy(day, &year, &month, &dayOfMonth);
  const int16_t signedYear = int16_t(year);
  std::memcpy(out, &signedYear, 2);
  std::memcpy(out + 2, &month, 2);
  std::memcpy(out + 4, &dayOfMonth, 2);
  if (!withTime) return dateStructBytes;
  const uint32_t whole = uint32_t(seconds);
  const uint16_t hms[3] = {uint16_t(whole / 3600), uint16_t(whole / 60 % 60), uint16_t(whole % 60)};
  std::memcpy(out + 6, hms, 6);
  std::memset(out + 12, 0, 4);
  return timestampStructBytes;
}

KvStatus setDouble(FlatDmlValue* out, double value) { return out->set(&value, 8, flatItDouble); }

// A plain column item as the value: the column of the current record.
KvStatus columnValue(const FlatSelectField* value, FlatDmlValue* out) {
  // Room for the column's width, its terminator and a double.
  const uint64_t wanted = uint64_t(value->precision) + 16;
  const uint32_t size = wanted > fieldBytes ? uint32_t(fieldBytes) : uint32_t(wanted);
  unsigned char* buffer = static_cast<unsigned char*>(ramAlloc(size));
  if (!buffer) {
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  int32_t length = 0;
  uint8_t kind = 0;
  KvStatus status = flatGetFieldData(value->table, value->column, buffer, &length, uint16_t(size), &kind);
  if (status == kvSuccess) {
    switch (kind) {
      case flatValueNull:
        break;
      case flatValueDouble:
      case flatValueDate:
        status = out->set(buffer, 8, flatItDouble);
        break;
      case flatValueLogical:
        status = out->set(buffer, 1, flatItBit);
        break;
      case flatValueText:
        status = out->set(buffer, length > 0 ? uint32_t(length - 1) : 0, flatItChar);
        break;
      default:
        status = out->set(buffer, length > 0 ? uint32_t(length) : 0, flatItBinary);
        break;
    }
  }
  ramFree(buffer);
  return status;
}

// A lone parameter marker as the value.
KvStatus parameterValue(FlatStatement* statement, uint16_t marker, FlatSharedField* field, FlatDmlValue* out) {
  const FlatParamValue* param = statement->getParamValues()->find(marker);
  if (!param || param->boundType == 0) return kvSuccess;
  const uint32_t longType = param->boundType == SQL_LONGVARBINARY ? flatItBinary : flatItChar;
  if (param->longOffset >= 0) {
    if (field->isLong()) {
      out->clear();
      out->setLongOffset(uint32_t(param->longOffset));
      return kvSuccess;
    }
    // A long value bound for a column of ordinary width is read whole: the
    // driver checks it as any other value.
    FlatConnection* connection = statement->getFlatConnection();
    unsigned char probe[1];
    uint32_t got = 0, total = 0;
    if (flatReadLongValue(connection, uint32_t(param->longOffset), 0, probe, 0, &got, &total) != kvSuccess)
      return kvFailure;
    if (total == 0) return kvSuccess;
    unsigned char* bytes = static_cast<unsigned char*>(ramAlloc(total));
    if (!bytes) {
      KvErrorKeeper::addMemoryError();
      return kvFailure;
    }
    KvStatus status = flatReadLongValue(connection, uint32_t(param->longOffset), 0, bytes, total, &got, &total);
    if (status == kvSuccess) status = out->set(bytes, got, longType);
    ramFree(bytes);
    return status;
  }
  if (!param->value || param->length == 0) return kvSuccess;
  return out->set(param->value, param->length, param->internalType);
}

// A long or binary column takes NULL or one text literal.
KvStatus literalValue(const uint8_t* code, FlatSharedField* field, FlatDmlValue* out) {
  if (code[0] == opNull && code[1] == opEnd) return kvSuccess;
  const uint8_t* end = code[0] == opText ? getNextOp(code) : nullptr;
  if (!end || *end != opEnd) {
    addFlatSyntaxError(msgInsertTypeMismatch);
    return kvFailure;
  }
  const unsigned char* text = code + 1;
  const uint32_t length = uint32_t(std::strlen(reinterpret_cast<const char*>(text)));
  const int16_t sqlType = field->getSqlType();
  if (!isBinarySqlType(sqlType)) return out->set(text, length, flatItChar);
  const uint32_t width = field->getPrecision();
  if (width && length > uint64_t(width) * 2) {
    addOdbcError(stateRightTruncation);
    return kvFailure;
  }
  // A BINARY column's bytes are its whole width, zero-filled.
  const uint32_t bytes = sqlType == SQL_BINARY && width > length / 2 ? width : length / 2;
  unsigned char* decoded = static_cast<unsigned char*>(ramAllocZ(bytes ? bytes : 1));
  if (!decoded) {
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  uint32_t decodedLength = 0;
  KvStatus status = flatDecodeHex(text, length, decoded, &decodedLength);
  if (status == kvSuccess) status = out->set(decoded, sqlType == SQL_BINARY ? bytes : decodedLength, flatItBinary);
  ramFree(decoded);
  return status;
}

// A computed value in the target's storage form.
KvStatus computedValue(FlatStatement* statement, FlatSqlDesc* query, const FlatSelectField* target,
                       const uint8_t* code, FlatDmlValue* out) {
  uint8_t result[resultBytes];
  int16_t length = 0;
  uint8_t kind = 0;
  if (evalExpr(statement, query, nullptr, code, result, sizeof(result), 0, &length, &kind) != kvSuccess)
    return kvFailure;
  if (length < 1 || kind == flatEvalNull || kind == flatEvalUndecidable || kind == flatEvalOuterBlank)
    return kvSuccess;
  const int16_t type = target->engineType;
  switch (kind) {
    case flatEvalLogical:
      if (type == SQL_BIT || type == flatTypeNumber) return setDouble(out, result[0] ? 1.0 : 0.0);
      return out->set(result, 1, flatItBit);
    case flatEvalNumber:
    case flatEvalDate: {
      double value = 0;
      std::memcpy(&value, result, 8);
      if (kind == flatEvalDate && value == flatBlankDate) return kvSuccess;
      if (type == flatTypeDate || type == flatTypeTimestamp) {
        unsigned char structure[timestampStructBytes];
        const uint32_t bytes = dateStructure(value, type == flatTypeTimestamp, structure);
        return out->set(structure, bytes, type == flatTypeDate ? flatItDate : flatItTimestamp);
      }
      return setDouble(out, value);
    }
    default:
      return out->set(result, uint32_t(length), flatItChar);
  }
}

}  // namespace

FlatDmlValue::~FlatDmlValue() { ramFree(bytes_); }

void FlatDmlValue::clear() {
  ramFree(bytes_);
  bytes_ = nullptr;
  length_ = 0;
  internalType_ = flatItChar;
  longOffset_ = noLongOffset;
}

KvStatus FlatDmlValue::set(const void* bytes, uint32_t length, uint32_t internalType) {
  clear();
  bytes_ = static_cast<unsigned char*>(ramAlloc(length ? length : 1));
  if (!bytes_) {
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  if (length) std::memcpy(bytes_, bytes, length);
  length_ = length;
  internalType_ = internalType;
  return kvSuccess;
}

KvStatus flatDmlEvaluate(FlatStatement* statement, FlatSqlDesc* query, const FlatSelectField* target,
                         const FlatSelectField* value, FlatDmlValue* out) {
  out->clear();
  FlatSharedField* field = target->table->getShared()->getColumn(target->column);
  if (!field) {
    addOdbcError(stateColumnNumber);
    return kvFailure;
  }
  if (value->isPlainColumn()) return columnValue(value, out);
  const uint8_t* code = value->code;
  if (code[0] == opParameter && code[3] == opEnd) return parameterValue(statement, flatOperandU16(code + 1), field, out);
  if (field->isLong() || isBinarySqlType(field->getSqlType())) return literalValue(code, field, out);
  return computedValue(statement, query, target, code, out);
}

KvStatus flatDmlStore(FlatFileDesc* table, uint16_t column, const FlatDmlValue& value) {
  if (table->getTableFlags() & FlatFileDesc::tableBlankRow) {
    if (value.isNull() || (value.getLongOffset() == FlatDmlValue::noLongOffset && value.getLength() == 0))
      return kvSuccess;
    addFlatError(stateGeneral, msgBlankOuterJoinUpdate);
    return kvFailure;
  }
  table->getShared()->addFlags(FlatSharedDesc::flagChanged);
  if (value.getLongOffset() != FlatDmlValue::noLongOffset)
    return flatStoreColumn(table, column, nullptr, 0, value.getInternalType(), value.getLongOffset());
  if (table->checkValue(column, value.getBytes(), value.getLength(), value.getInternalType()) != kvSuccess)
    return kvFailure;
  return flatStoreColumn(table, column, value.getBytes(), value.getLength(), value.getInternalType(),
                         FlatDmlValue::noLongOffset);
}
