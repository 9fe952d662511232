// The expression evaluator's machine: the main loop, the stack over the
// scratch area, and the values that come from outside the program
// (columns, ROWID, parameters, aggregates, subqueries, CURRENT OF) and key
// segments. See flat_evaluator.h and flat_eval_internal.h.
#include "flat/expr/flat_eval_internal.h"

#include "base/handles/base_messages.h"
#include "flat/connection/flat_changes.h"
#include "flat/connection/flat_connection.h"
#include "flat/connection/flat_file_desc.h"
#include "flat/connection/flat_rid.h"
#include "flat/connection/flat_shared_desc.h"
#include "flat/connection/flat_values.h"
#include "flat/exec/flat_param_values.h"
#include "flat/exec/flat_statement.h"
#include "flat/expr/flat_date_keys.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "flat/query/flat_agg_field.h"
#include "flat/query/flat_subquery.h"
#include "flat/sql/flat_descriptor.h"

#include <cstring>

namespace flateval {

KvStatus evalFailure(uint16_t message) {
  addFlatError(stateGeneral, message);
  return kvFailure;
}

namespace {

uint32_t storageOf(uint8_t kind, uint32_t length) { return isText(kind) ? length + 1 : length; }

}  // namespace

Machine::Machine(FlatStatement* statement, FlatSqlDesc* query, FlatFileDesc* table, uint16_t mode)
    : statement_(statement), query_(query), table_(table), mode_(mode) {
  nullAware_ = !(mode & flatEvalIndexKey) && query && (query->getFlags() & FlatSqlDesc::flagNullAware);
  intlSort_ = statement && (statement->getFlatConnection()->getEngineFlags() & flatIntlSort);
}

// ---------------------------------------------------------------- the stack

KvStatus Machine::need(uint16_t n) {
  if (depth_ >= n) return kvSuccess;
  return evalFailure(msgExpressionLimit);
}

double Machine::number(const Entry& e) const {
  double value = 0;
  if (e.length == 8) std::memcpy(&value, scratch_ + e.offset, 8);
  return value;
}

KvStatus Machine::pushValue(uint8_t kind, const void* value, uint32_t length, uint32_t limit) {
  const uint32_t size = storageOf(kind, length);
  if (depth_ >= flatEvalStackEntries || size > limit || used_ > limit - size) return evalFailure(msgEvalStackOverflow);
  if (value) std::memmove(scratch_ + used_, value, length);
  if (isText(kind)) scratch_[used_ + length] = 0;
  stack_[depth_++] = Entry{kind, used_, length};
  used_ += size;
  return kvSuccess;
}

KvStatus Machine::pushDouble(uint8_t kind, double value) { return pushValue(kind, &value, 8, flatEvalScratchBytes); }

KvStatus Machine::pushMark(uint8_t kind) { return pushValue(kind, nullptr, 0, flatEvalScratchBytes); }

KvStatus Machine::replace(uint16_t count, uint8_t kind, const void* value, uint32_t length) {
  const uint32_t offset = at(uint16_t(count - 1)).offset;
  if (isText(kind) && length > flatMaxTextResult) return evalFailure(msgStringTooLong);
  const uint32_t size = storageOf(kind, length);
  if (size > flatEvalScratchBytes - offset) return evalFailure(msgEvalStackOverflow);
  if (value && length) std::memmove(scratch_ + offset, value, length);
  if (isText(kind)) scratch_[offset + length] = 0;
  depth_ = uint16_t(depth_ - count + 1);
  at(0) = Entry{kind, offset, length};
  used_ = offset + size;
  return kvSuccess;
}

KvStatus Machine::replaceDouble(uint16_t count, uint8_t kind, double value) {
  return replace(count, kind, &value, 8);
}

KvStatus Machine::replaceLogical(uint16_t count, bool value) {
  const uint8_t byte = value ? 1 : 0;
  return replace(count, flatEvalLogical, &byte, 1);
}

KvStatus Machine::replaceMark(uint16_t count, uint8_t kind) { return replace(count, kind, nullptr, 0); }

bool Machine::propagateMissing(uint16_t count, KvStatus* status) {
  for (uint16_t i = 0; i < count; ++i) {
    const Entry& e = at(uint16_t(count - 1 - i));
    if (isNullish(e.kind)) {
      *status = replaceMark(count, flatEvalNull);
      return true;
    }
  }
  for (uint16_t i = 0; i < count; ++i) {
    if (at(i).kind == flatEvalUndecidable) {
      *status = replaceMark(count, flatEvalUndecidable);
      return true;
    }
  }
  return false;
}

KvStatus Machine::kindError(uint8_t opcode) {
  addFlatError(stateGeneral, msgIncompatibleTypes) << uint32_t(opcode);
  return kvFailure;
}

// ---------------------------------------------------------------- the loop

KvStatus Machine::run(const uint8_t* program) {
  for (const uint8_t* op = program; *op != opEnd;) {
    if (depth_ >= flatEvalStackEntries) return evalFailure(msgEvalStackOverflow);
    const uint8_t* next = getNextOp(op);
    KvStatus status = kvSuccess;
    switch (*op) {
      case opDate: status = pushDouble(flatEvalDate, flatOperandDouble(op + 1)); break;
      case opNumber: status = pushDouble(flatEvalNumber, flatOperandDouble(op + 1)); break;
      case opText: {
        const uint8_t* text = op + 1;
        status = pushValue(flatEvalText, text, uint32_t(next - text - 1), flatEvalConstantLimit);
        break;
      }
      case opLogical: {
        const uint8_t byte = op[1] ? 1 : 0;
        status = pushValue(flatEvalLogical, &byte, 1, flatEvalScratchBytes);
        break;
      }
      case opNull: status = pushMark(flatEvalNull); break;
      case opColumn: status = column(op); break;
      case opNegate: status = negate(); break;
      case opNot: status = logicalNot(); break;
      case opMod:
      case opPower:
      case opAdd:
      case opSubtract:
      case opMultiply:
      case opDivide: status = arithmetic(*op); break;
      case opConcat:
      case opConcatBlanks:
      case opBytes: status = concatenate(*op); break;
      case opGreater:
      case opGreaterEqual:
      case opLess:
      case opLessEqual:
      case opEqual:
      case opNotEqual:
      case opLike: status = compare(*op); break;
      case opOuterLeft:
      case opOuterRight: status = outerPrefix(*op, &next); break;
      case opIsNull: status = isNull(); break;
      case opAnd:
      case opOr: status = andOr(*op); break;
      case opRtrim:
      case opLtrim: status = trim(*op); break;
      case opUpper:
      case opLower: status = changeCase(*op); break;
      case opSubstr: status = substr(op[1]); break;
      case opSpace: status = space(); break;
      case opLeft:
      case opRight: status = leftRight(*op); break;
      case opLen: status = length(); break;
      case opMonth:
      case opDay:
      case opYear: status = datePart(*op); break;
      case opDtoc: status = dtoc(op[1]); break;
      case opDateValue: status = dateValue(op[1]); break;
      case opKeySegment: status = keySegment(flatOperandU16(op + 1)); break;
      case opBetween: status = between(); break;
      case opStr: status = str(op[1]); break;
      case opDtos: status = dtos(); break;
      case opVal:
      case opNumVal: status = value(); break;
      case opIif: status = iif(); break;
      case opRowId: status = rowId(op); break;
      case opAggregate: status = aggregate(flatOperandU16(op + 1)); break;
      case opIn: status = inList(flatOperandU16(op + 1)); break;
      case opExists: status = exists(flatOperandU16(op + 1)); break;
      case opSubquery: status = subquery(op, &next); break;
      case opParameter: status = parameter(flatOperandU16(op + 1)); break;
      case opScalarSubquery: status = scalarSubquery(flatOperandU16(op + 1)); break;
      case opCurrentOf: status = currentOf(op); break;
      case opChr: status = chr(); break;
      case opInt:
      case opRound:
      case opMin:
      case opMax: status = numberFunction(*op); break;
      case opStrVal: status = strValue(); break;
      default: break;  // 26, 54, 55, 58 and unknown opcodes do nothing
    }
    if (status != kvSuccess) return kvFailure;
    op = next;
  }
  return kvSuccess;
}

KvStatus Machine::result(uint8_t* out, uint32_t capacity, int16_t* length, uint8_t* kind) {
  if (need(1) != kvSuccess) return kvFailure;
  const Entry& e = at(0);
  if (kind) *kind = e.kind == kindKey ? uint8_t(flatEvalNumber) : e.kind;
  if (e.kind == flatEvalUndecidable) {
    *length = -1;
    return kvSuccess;
  }
  if (isNullish(e.kind)) {
    *length = 0;
    return kvSuccess;
  }
  const uint32_t bytes = e.length + (e.kind == flatEvalLogical ? 1 : 0);
  if (bytes > capacity) return evalFailure(msgExpressionLimit);
  std::memcpy(out, scratch_ + e.offset, e.length);
  if (e.kind == flatEvalLogical) out[1] = matched_;
  *length = int16_t(e.length);
  return kvSuccess;
}

// ---------------------------------------------------------------- values from outside

FlatFileDesc* Machine::tableOf(uint32_t handle) const {
  if (mode_ & flatEvalIndexKey) return table_;
  return statement_ ? statement_->getTableByHandle(handle) : nullptr;
}

uint8_t Machine::tableState(FlatFileDesc* table) const {
  if (mode_ & flatEvalIndexKey) return 0;
  if (table->getTableFlags() & FlatFileDesc::tableNotPositioned) return flatEvalUndecidable;
  if (table->getTableFlags() & FlatFileDesc::tableBlankRow) return flatEvalOuterBlank;
  return 0;
}

KvStatus Machine::column(const uint8_t* op) {
  FlatFileDesc* table = tableOf(flatOperandU32(op + 1));
  if (!table || !table->getShared()) return evalFailure(msgExpressionLimit);
  if (uint8_t state = tableState(table)) return pushMark(state);
  if (used_ >= flatEvalReadLimit) return evalFailure(msgEvalStackOverflow);
  // The reader may use all the area there is, less one byte for the NUL
  // that a binary value gets behind it.
  const uint32_t room = flatEvalScratchBytes - used_ - 1;
  int32_t length = 0;
  uint8_t kind = flatValueNull;
  if (flatGetFieldData(table, flatOperandU16(op + 5), scratch_ + used_, &length, uint16_t(room), &kind) != kvSuccess)
    return kvFailure;
  if (length < 0 || uint32_t(length) > room) return evalFailure(msgEvalStackOverflow);
  switch (kind) {
    case flatValueNull:
      return pushMark(flatEvalNull);
    case flatValueText: {
      uint32_t bytes = length > 0 ? uint32_t(length) - 1 : 0;
      if (bytes == 0 && nullAware_) return pushMark(flatEvalNull);
      return pushValue(flatEvalText, nullptr, bytes, flatEvalScratchBytes);
    }
    case flatValueDouble:
    case flatValueDate:
      if (length != 8) return evalFailure(msgExpressionLimit);
      return pushValue(kind, nullptr, 8, flatEvalScratchBytes);
    case flatValueLogical:
      if (length != 1) return evalFailure(msgExpressionLimit);
      return pushValue(flatEvalLogical, nullptr, 1, flatEvalScratchBytes);
    case flatValueBinary:
      return pushValue(flatEvalFunctionText, nullptr, uint32_t(length), flatEvalScratchBytes);
    default:
      return evalFailure(msgExpressionLimit);
  }
}

KvStatus Machine::rowId(const uint8_t* op) {
  FlatFileDesc* table = tableOf(flatOperandU32(op + 1));
  if (!table || !table->getShared()) return evalFailure(msgExpressionLimit);
  if (uint8_t state = tableState(table)) return pushMark(state);
  if (table->getShared()->getKeyLength() != 0 || !table->getRid()) return pushMark(flatEvalNull);
  return pushDouble(flatEvalNumber, double(static_cast<FlatNumericRid*>(table->getRid())->getRecordNumber()));
}

// A parameter's value by the SQL type the application bound it as.
KvStatus Machine::parameter(uint16_t number) {
  const FlatParamValue* p = statement_ ? statement_->getParamValues()->find(number) : nullptr;
  if (!p || (p->boundType == 0 && p->longOffset < 0)) return pushMark(flatEvalNull);
  if (used_ >= flatEvalReadLimit) return evalFailure(msgEvalStackOverflow);
  const bool empty = p->length == 0 && p->longOffset < 0;
  switch (p->boundType) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARCHAR:
    case SQL_LONGVARBINARY: {
      const uint8_t kind = (p->boundType == SQL_CHAR || p->boundType == SQL_VARCHAR || p->boundType == SQL_LONGVARCHAR)
                               ? flatEvalText
                               : flatEvalFunctionText;
      if (empty && nullAware_) return pushMark(flatEvalNull);
      if (p->longOffset >= 0) {
        // Put at execution time: a length and the bytes in the long-value
        // store, read at most flatEvalLongParamLimit bytes of it.
        uint8_t piece[flatEvalLongParamLimit];
        uint32_t got = 0, total = 0;
        if (flatReadLongValue(statement_->getFlatConnection(), uint32_t(p->longOffset), 0, piece, sizeof(piece),
                              &got, &total) != kvSuccess)
          return kvFailure;
        if (got == 0 && nullAware_) return pushMark(flatEvalNull);
        return pushValue(kind, piece, got, flatEvalScratchBytes);
      }
      if (p->length > flatMaxTextResult) return evalFailure(msgStringTooLong);
      return pushValue(kind, p->value, p->length, flatEvalScratchBytes);
    }
    case SQL_DATE:
    case SQL_TIME:
    case SQL_TIMESTAMP: {
      if (empty) return nullAware_ ? pushMark(flatEvalNull) : pushDouble(flatEvalDate, flatBlankDate);
      const uint32_t internal = p->boundType == SQL_DATE ? flatItDate : p->boundType == SQL_TIME ? flatItTime
                                                                                                  : flatItTimestamp;
      double value = 0;
      if (!flatInternalToDouble(p->value, p->length, internal, &value)) return pushMark(flatEvalNull);
      return pushDouble(flatEvalDate, value);
    }
    default: {
      // Numbers: decimal text (NUMERIC, DECIMAL) or a double; BIT is a
      // logical, nonzero true.
      if (empty && nullAware_) return pushMark(flatEvalNull);
      double value = 0;
      if (!empty && !flatInternalToDouble(p->value, p->length, p->internalType, &value)) value = 0;
      if (p->boundType == SQL_BIT) {
        const uint8_t byte = value != 0 ? 1 : 0;
        return pushValue(flatEvalLogical, &byte, 1, flatEvalScratchBytes);
      }
      return pushDouble(flatEvalNumber, value);
    }
  }
}

KvStatus Machine::aggregate(uint16_t index) {
  KvArray* records = query_ ? &query_->getAggregates() : nullptr;
  if (!records || index >= records->getCount()) return evalFailure(msgExpressionLimit);
  const auto* record = static_cast<const FlatAggField*>(records->getAt(index));
  if (record->flags & FlatAggField::aggCount) return pushDouble(flatEvalNumber, double(record->count));
  if (record->count == 0) return pushMark(flatEvalNull);
  switch (record->type) {
    case flatTypeNumber:
    case flatTypeDate:
    case flatTypeTime:
    case flatTypeTimestamp: {
      double value = 0;
      if (record->size >= 8) std::memcpy(&value, record->value, 8);
      return pushDouble(record->type == flatTypeNumber ? flatEvalNumber : flatEvalDate, value);
    }
    case flatTypeLogical:
      return pushValue(flatEvalLogical, record->value, 1, flatEvalScratchBytes);
    default: {
      const void* end = std::memchr(record->value, 0, record->size);
      uint32_t length = end ? uint32_t(static_cast<const uint8_t*>(end) - record->value) : record->size;
      if (length > flatMaxTextResult) return evalFailure(msgStringTooLong);
      return pushValue(flatEvalText, record->value, length, flatEvalScratchBytes);
    }
  }
}

KvStatus Machine::exists(uint16_t index) {
  uint16_t found = 0;
  if (flatSubqueryExists(statement_, query_, index, &found) != kvSuccess) return kvFailure;
  if (found == flatSubqueryUndecided) return pushMark(flatEvalUndecidable);
  const uint8_t byte = found ? 1 : 0;
  return pushValue(flatEvalLogical, &byte, 1, flatEvalScratchBytes);
}

// 56 q and the IN, ANY or ALL instruction behind it, which it consumes.
KvStatus Machine::subquery(const uint8_t* op, const uint8_t** next) {
  const uint8_t* form = *next;
  if (*form != opIn && *form != opAny && *form != opAll) return evalFailure(msgExpressionLimit);
  *next = getNextOp(form);
  if (need(1) != kvSuccess) return kvFailure;
  const Entry tested = at(0);
  if (tested.kind == flatEvalUndecidable) return kvSuccess;  // stays undecidable
  if (isNullish(tested.kind)) return replaceLogical(1, 0);
  FlatSubqueryTest test;
  test.form = *form;
  test.comparison = *form == opIn ? uint8_t(opEqual) : form[3];
  test.kind = tested.kind;
  test.value = bytes(tested);
  test.length = tested.length;
  uint16_t answer = 0;
  if (flatSubqueryCompare(statement_, query_, flatOperandU16(op + 1), test, &answer) != kvSuccess) return kvFailure;
  if (answer == flatSubqueryUndecided) return replaceMark(1, flatEvalUndecidable);
  return replaceLogical(1, answer);
}

KvStatus Machine::scalarSubquery(uint16_t index) {
  if (used_ >= flatEvalReadLimit) return evalFailure(msgEvalStackOverflow);
  uint32_t length = 0;
  uint8_t kind = flatEvalNull;
  if (flatSubqueryValue(statement_, query_, index, scratch_ + used_, flatEvalScratchBytes - used_ - 1, &length,
                        &kind) != kvSuccess)
    return kvFailure;
  if (isNullish(kind) || kind == flatEvalUndecidable) return pushMark(kind);
  return pushValue(kind, nullptr, length, flatEvalScratchBytes);
}

// CURRENT OF: TRUE when a SELECT of the connection has that cursor name.
KvStatus Machine::currentOf(const uint8_t* op) {
  const uint16_t length = flatOperandU16(op + 1);
  const uint8_t* name = op + 3;
  bool found = false;
  if (statement_) {
    statement_->getConnection()->getStatements().forEach<BaseStatement>([&](BaseStatement* other) {
      const unsigned char* cursor = other->getCursorName();
      if (cursor && std::strlen(reinterpret_cast<const char*>(cursor)) == length &&
          std::memcmp(cursor, name, length) == 0 &&
          static_cast<FlatStatement*>(other)->getStatementKind() == flatKindSelect)
        found = true;
      return !found;
    });
  }
  if (!found) {
    return flatCursorNotFound(name, length);
  }
  const uint8_t byte = 1;
  return pushValue(flatEvalLogical, &byte, 1, flatEvalScratchBytes);
}

// Key segment end: the value on top becomes a fixed-layout part of a key
// that ends at offset end of the area: padded, normalised so that keys
// compare bytewise, and joined to the key built so far.
KvStatus Machine::keySegment(uint16_t end) {
  if (need(1) != kvSuccess) return kvFailure;
  Entry& value = at(0);
  if (end > flatEvalScratchBytes || end < value.offset) return evalFailure(msgEvalStackOverflow);
  const bool blanks = isText(value.kind) && (mode_ & (flatEvalIndexKey | flatEvalPadBlanks));
  uint32_t length = hasNoValue(value.kind) ? 0 : value.length;
  if (value.offset + length > end) length = end - value.offset;
  uint8_t* bytes = scratch_ + value.offset;
  if (value.kind == flatEvalLogical && length == 1) {
    bytes[0] = uint8_t(bytes[0] + 1);
  } else if (isNumeric(value.kind) && length == 8) {
    MakeMemComparable(bytes);
  } else if (isText(value.kind) && !(mode_ & (flatEvalIndexKey | flatEvalPadBlanks))) {
    uint32_t i = 0;
    while (i < length && bytes[i] == ' ') ++i;
    if (i == length) std::memset(bytes, 0, length);
  }
  std::memset(bytes + length, blanks ? ' ' : 0, end - value.offset - length);
  const uint32_t start = depth_ >= 2 && at(1).kind == kindKey ? at(1).offset : value.offset;
  if (depth_ >= 2 && at(1).kind == kindKey) --depth_;
  at(0) = Entry{kindKey, start, end - start};
  used_ = end;
  return kvSuccess;
}

}  // namespace flateval

KvStatus evalExpr(FlatStatement* statement, FlatSqlDesc* query, FlatFileDesc* table, const uint8_t* program,
                  uint8_t* out, uint32_t outCapacity, uint16_t mode, int16_t* length, uint8_t* kind) {
  flateval::Machine machine(statement, query, table, mode);
  *length = 0;
  if (!program) return flateval::evalFailure(msgExpressionLimit);
  if (machine.run(program) != kvSuccess) return kvFailure;
  return machine.result(out, outCapacity, length, kind);
}
