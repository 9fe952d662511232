// Data at execution: an execution that meets a parameter whose length asks
// for its value at execution stops (SQL_NEED_DATA) with the cursor state
// executing; then
//
//   state            call            what happens                     next state
//   executing        SQLParamData    the parameter's token handed out  need data
//   need data        SQLPutData      first piece taken                 putting data
//   putting data     SQLPutData      a further piece taken             putting data
//   putting data     SQLParamData    the value goes to the driver and  need data (next
//                                    the execution goes on             parameter) or done
//   anything else    either          S1010
//
// Pieces of text and binary values are collected by the framework (at most
// 65536 bytes), or, on connections that take long data in pieces, handed
// to the driver's bindParam one by one for LONGVARCHAR and LONGVARBINARY.
// A value of another C type comes whole in one SQLPutData.
#include "base/statement/base_statement.h"

#include "base/convert/base_convert.h"
#include "base/handles/base_app_text.h"
#include "base/results/base_field.h"
#include "base/handles/base_messages.h"
#include "util/memory/ram.h"

#include <cstring>

namespace {

bool isLongSqlType(int16_t type) { return type == SQL_LONGVARCHAR || type == SQL_LONGVARBINARY; }
bool isBinarySqlType(int16_t type) { return type == SQL_BINARY || type == SQL_VARBINARY || type == SQL_LONGVARBINARY; }
bool isVariableCType(int16_t type) { return type == SQL_C_CHAR || type == SQL_C_BINARY || type == SQL_C_WCHAR; }

// The most bytes a value supplied in pieces may have: its precision for
// text and for binary sent as binary, twice it for binary sent as
// hexadecimal text, 4096 as the text of any other type; wide text takes two
// bytes a character.
uint32_t collectLimit(const BaseParam& param, bool piecesToDriver) {
  uint64_t limit = 4096;
  const int16_t sqlType = param.sqlType;
  if (sqlType == SQL_CHAR || sqlType == SQL_VARCHAR || sqlType == SQL_LONGVARCHAR)
    limit = param.precision;
  else if (isBinarySqlType(sqlType))
    limit = param.cType == SQL_C_BINARY ? uint64_t(param.precision) : 2 * uint64_t(param.precision);
  if (param.cType == SQL_C_WCHAR) limit *= 2;
  // Narrow text is in the application's code set, where a character may
  // take several bytes.
  if (param.cType == SQL_C_CHAR) limit *= baseAppCharBytes();
  // A long value declared without a precision has no limit of its own:
  // what the framework can collect, or anything when the driver takes the
  // pieces itself.
  if (limit == 0 && (param.sqlType == SQL_LONGVARCHAR || param.sqlType == SQL_LONGVARBINARY))
    limit = piecesToDriver ? uint64_t(INT32_MAX) : uint64_t(BaseParam::maxCollectedBytes);
  return limit > UINT32_MAX ? UINT32_MAX : uint32_t(limit);
}

}  // namespace

KvStatus BaseStatement::finishCollectedValue() {
  BaseParam* param = params_[dataAtExecParam_ - 1];
  if (!isVariableCType(param->cType)) return kvSuccess;  // SQLPutData delivered it
  const bool pieces =
      (connection_->getFlags() & BaseConnection::flagLongDataInPieces) && isLongSqlType(param->sqlType);
  KvStatus status;
  if (pieces && param->collectedLength != SQL_NULL_DATA) {
    // A character begun in the last piece and never finished is refused.
    uint32_t ignored = 0;
    unsigned char rest[sizeof(param->pendingText)];
    if (param->pendingLength != 0 &&
        baseTextFromApp(param->pendingText, param->pendingLength, rest, &ignored) != kvSuccess) {
      appendBaseTextToLastError(msgParamSuffixWide) << uint32_t(dataAtExecParam_);
      return kvFailure;
    }
    status = bindParam(dataAtExecParam_, nullptr, 0, bindLastPiece);
  } else {
    static unsigned char empty[1] = {0};
    status = bindParam(dataAtExecParam_, param->collected ? param->collected : empty, param->collectedLength,
                       bindWhole);
  }
  if (status != kvSuccess) appendBaseTextToLastError(msgParamSuffixWide) << uint32_t(dataAtExecParam_);
  return status;
}

SQLRETURN BaseStatement::SQLParamData(SQLPOINTER* prgbValue) {
  BaseCall call(this, SQL_API_SQLPARAMDATA);
  if (!call.isOpen()) return call.getResult();
  // A repeated call after SQL_STILL_EXECUTING goes on with the execution
  // the driver had not finished.
  const bool resuming = (flags_ & flagAsync) != 0;
  if (resuming || cursorState_ == cursorPuttingData) {
    if (!resuming && finishCollectedValue() != kvSuccess) return call.exit(SQL_ERROR);
    uint16_t needData = 0;
    if (executeRows(uint16_t(dataAtExecParam_ + 1), &needData) != kvSuccess) {
      // The execution failed: the statement is prepared again, or, run
      // directly, back to the allocated state.
      for (uint16_t i = 0; i < paramCount_ && i < paramCapacity_; ++i)
        if (params_[i]) params_[i]->freeCollected();
      dataAtExecParam_ = 0;
      sqlText_.unInitialize();
      if (kind_ == stmtKindPrepared) cursorState_ = cursorPrepared;
      else abandonStatement();
      return call.exit(SQL_ERROR);
    }
    if (flags_ & flagAsync) return call.exit(SQL_STILL_EXECUTING);
    if (!needData) return call.exit(SQL_SUCCESS);
  }
  if (cursorState_ != cursorExecuting || dataAtExecParam_ == 0) {
    addOdbcError(stateSequence);
    return call.exit(SQL_ERROR);
  }
  BaseParam* param = params_[dataAtExecParam_ - 1];
  param->freeCollected();
  if (prgbValue) *prgbValue = param->value;
  cursorState_ = cursorNeedData;
  return call.exit(SQL_NEED_DATA);
}

SQLRETURN BaseStatement::SQLPutData(SQLPOINTER rgbValue, SQLLEN cbValue) {
  BaseCall call(this, SQL_API_SQLPUTDATA);
  if (!call.isOpen()) return call.getResult();
  if ((cursorState_ != cursorNeedData && cursorState_ != cursorPuttingData) || dataAtExecParam_ == 0) {
    addOdbcError(stateSequence);
    return call.exit(SQL_ERROR);
  }
  const uint16_t number = dataAtExecParam_;
  BaseParam* param = params_[number - 1];
  const bool further = cursorState_ == cursorPuttingData;
  if (further && (cbValue == SQL_NULL_DATA || param->collectedLength == SQL_NULL_DATA)) {
    addOdbcError(stateStringLength);
    return call.exit(SQL_ERROR);
  }
  const bool variable = isVariableCType(param->cType);
  if (cbValue < 0 && cbValue != SQL_NULL_DATA) {
    if (cbValue != SQL_NTS || !variable || !rgbValue) {
      addOdbcError(stateStringLength, msgNegativeParamLength) << uint32_t(number);
      return call.exit(SQL_ERROR);
    }
    if (param->cType == SQL_C_WCHAR) {
      const unsigned char* text = static_cast<const unsigned char*>(rgbValue);
      SQLLEN units = 0;
      while (units < SQLLEN(INT32_MAX / 2) && (text[2 * units] | text[2 * units + 1]) != 0) ++units;
      cbValue = units * 2;
    } else {
      cbValue = SQLLEN(std::strlen(static_cast<const char*>(rgbValue)));
    }
  }
  if (cbValue > 0 && !rgbValue) {
    addOdbcError(stateArgumentValue);
    return call.exit(SQL_ERROR);
  }

  if (!variable) {
    if (further) {
      addOdbcError(stateNumericRange);
      return call.exit(SQL_ERROR);
    }
    const SQLLEN length = cbValue == SQL_NULL_DATA ? SQLLEN(SQL_NULL_DATA) : SQLLEN(BaseCTypeSize(param->cType));
    if (bindParam(number, rgbValue, int32_t(length), bindWhole) != kvSuccess) {
      appendBaseTextToLastError(msgParamSuffixWide) << uint32_t(number);
      return call.exit(SQL_ERROR);
    }
    param->collectedLength = int32_t(length);
    cursorState_ = cursorPuttingData;
    return call.exit(SQL_SUCCESS);
  }

  if (cbValue == SQL_NULL_DATA) {
    param->collectedLength = SQL_NULL_DATA;
    cursorState_ = cursorPuttingData;
    return call.exit(SQL_SUCCESS);
  }
  const bool pieces =
      (connection_->getFlags() & BaseConnection::flagLongDataInPieces) && isLongSqlType(param->sqlType);
  const uint32_t limit = collectLimit(*param, pieces);
  const uint32_t have = uint32_t(param->collectedLength);
  uint64_t piece = uint64_t(cbValue);
  if (uint64_t(have) + piece > limit) {
    if (isLongSqlType(param->sqlType)) {
      addOdbcError(stateRightTruncation);
      return call.exit(SQL_ERROR);
    }
    piece = limit - have;
    addOdbcWarning(stateTruncated, msgParamTruncated) << uint32_t(number);
  }

  if (pieces) {
    if (!further) param->pendingLength = 0;
    void* data = rgbValue;
    uint32_t count = uint32_t(piece);
    KvRamPtr<unsigned char> joined;
    if (param->cType == SQL_C_CHAR && baseAppCharBytes() > 1) {
      // A character cut between two pieces reaches the driver whole, with
      // the later piece.
      const uint32_t pending = param->pendingLength;
      joined.reset(static_cast<unsigned char*>(ramAlloc(pending + count + 1)));
      if (!joined) return call.exit(SQL_ERROR);
      if (pending) std::memcpy(joined.get(), param->pendingText, pending);
      if (count) std::memcpy(joined.get() + pending, rgbValue, count);
      const uint32_t all = pending + count;
      count = baseAppWholeCharBytes(joined.get(), all);
      param->pendingLength = all - count;
      if (param->pendingLength) std::memcpy(param->pendingText, joined.get() + count, param->pendingLength);
      data = joined.get();
    }
    if (bindParam(number, data, int32_t(count), further ? bindNextPiece : bindFirstPiece) != kvSuccess) {
      appendBaseTextToLastError(msgParamSuffixWide) << uint32_t(number);
      return call.exit(SQL_ERROR);
    }
    param->collectedLength = int32_t(have + piece);
    cursorState_ = cursorPuttingData;
    return call.exit(SQL_SUCCESS);
  }

  if (!param->collected) {
    if (limit > BaseParam::maxCollectedBytes) {
      addOdbcError(stateMemory, msgParamPrecisionTooLarge) << uint32_t(number) << param->precision;
      return call.exit(SQL_ERROR);
    }
    param->collected = static_cast<unsigned char*>(ramAlloc(limit + 1));
    if (!param->collected) return call.exit(SQL_ERROR);
    param->collectedSize = limit;
  }
  if (piece) std::memcpy(param->collected + have, rgbValue, size_t(piece));
  param->collectedLength = int32_t(have + piece);
  cursorState_ = cursorPuttingData;
  return call.exit(SQL_SUCCESS);
}
