// SQLPrepare, SQLExecDirect and SQLExecute, and the execute step they
// share with SQLParamData: the parameter records checked, each value handed
// to the driver's bindParam (or a stop for a value supplied at execution),
// the driver's executePreparedStmt once for every SQLParamOptions row, the
// row counts added up, and the states after an execution. The prepare step
// is in base_stmt_prepare.cpp, the WHERE CURRENT OF emulation in
// base_current_of.cpp, SQLParamData and SQLPutData in base_data_at_exec.cpp.
// A driver whose prepareCompile or executePreparedStmt is not done leaves
// flagAsync set: the call answers SQL_STILL_EXECUTING and the application's
// next call of the same function goes on in that step (resumeStep), asking
// the driver again with the same text or the same parameter values.
#include "base/statement/base_statement.h"

#include "base/convert/base_convert.h"
#include "base/handles/base_error_list.h"
#include "base/results/base_field.h"
#include "base/handles/base_messages.h"
#include "base/statement/base_sql_string.h"

#include <climits>
#include <cstring>

namespace {

// The SQL text argument of SQLPrepare and SQLExecDirect: a text (S1009
// without one) of SQL_NTS or a positive length (S1090).
KvStatus checkSqlArgument(const SQLCHAR* text, SQLINTEGER length) {
  if (!text) {
    addOdbcError(stateArgumentValue);
    return kvFailure;
  }
  if (length <= 0 && length != SQL_NTS) {
    addOdbcError(stateStringLength);
    return kvFailure;
  }
  return kvSuccess;
}

bool isLongSqlType(int16_t type) { return type == SQL_LONGVARCHAR || type == SQL_LONGVARBINARY; }

bool isDataAtExec(SQLLEN length) { return length == SQL_DATA_AT_EXEC || length <= SQL_LEN_DATA_AT_EXEC_OFFSET; }

// Bytes of a zero-terminated value within its buffer: a value that the
// application bound with a buffer size is never read past it (no
// terminator within the buffer: the whole buffer). Wide text counts in
// 2-byte units.
SQLLEN terminatedLength(const void* value, SQLLEN bufferSize, bool wide) {
  const unsigned char* bytes = static_cast<const unsigned char*>(value);
  if (wide) {
    const SQLLEN limit = bufferSize > 0 ? bufferSize / 2 : SQLLEN(INT32_MAX / 2);
    SQLLEN units = 0;
    while (units < limit && (bytes[2 * units] | bytes[2 * units + 1]) != 0) ++units;
    return units * 2;
  }
  if (bufferSize <= 0) return SQLLEN(std::strlen(static_cast<const char*>(value)));
  const void* end = std::memchr(value, 0, size_t(bufferSize));
  return end ? static_cast<const unsigned char*>(end) - bytes : bufferSize;
}

}  // namespace

// ---------------------------------------------------------------- the execute step

KvStatus BaseStatement::startExecution() {
  bool missing = false;
  for (uint16_t i = 0; i < paramCount_; ++i) {
    const BaseParam* param = i < paramCapacity_ ? params_[i] : nullptr;
    if (param && param->sqlType != 0) continue;
    addOdbcError(stateWrongParamCount, msgParamNotSpecified) << uint32_t(i + 1);
    missing = true;
  }
  if (missing) return kvFailure;
  if ((flags_ & flagEmulatedPositioned) && checkCurrentOfCursor() != kvSuccess) return kvFailure;
  if (connection_->openTransactionIfManual() != kvSuccess) return kvFailure;
  executedRowCount_ = 0;
  paramRow_ = 0;
  dataAtExecParam_ = 0;
  return kvSuccess;
}

KvStatus BaseStatement::executeStep(uint16_t* needData) {
  *needData = 0;
  if (reprepareIfMarked() != kvSuccess) return kvFailure;
  if (flags_ & flagAsync) return kvSuccess;
  if (startExecution() != kvSuccess) return kvFailure;
  return executeRows(1, needData);
}

// Checks the description of every parameter of the row before any value
// goes to the driver. At the first execution after a prepare the
// descriptions are remembered; when a later execution finds one changed
// (the application bound the parameter again with another SQL type,
// precision or scale, as ODBC allows), the statement is compiled again
// with the new descriptions instead of running with the old ones.
static KvStatus describeRowParams(BaseStatement* statement, BaseParam** params, uint16_t count, bool first,
                                  bool* changed) {
  *changed = false;
  for (uint16_t i = 0; i < count; ++i) {
    BaseParam* param = params[i];
    const SQLLEN length = param->length ? param->length[statement->getParamRow()] : SQL_NTS;
    if (param->paramType == SQL_PARAM_INPUT && length != SQL_DEFAULT_PARAM &&
        !(param->paramFlags & BaseParam::flagChecked) && statement->checkParam(uint16_t(i + 1), param) != kvSuccess)
      return kvFailure;
    if (first) {
      param->firstSqlType = param->sqlType;
      param->firstPrecision = param->precision;
      param->firstScale = param->scale;
      continue;
    }
    if (param->firstSqlType != param->sqlType || param->firstScale != param->scale ||
        (param->firstPrecision != param->precision && !isLongSqlType(param->sqlType)))
      *changed = true;
  }
  return kvSuccess;
}

KvStatus BaseStatement::deliverParam(uint16_t number, BaseParam* param, uint16_t* needData) {
  SQLLEN length = param->length ? param->length[paramRow_] : SQL_NTS;
  const bool output = param->paramType == SQL_PARAM_OUTPUT;
  if (length == SQL_DEFAULT_PARAM && !(connection_->getFlags() & BaseConnection::flagDefaultParams)) {
    addOdbcError(stateNotCapable, msgNoDefaultParams);
    return kvFailure;
  }
  if (paramRows_ > 1 && param->value && param->bufferSize == -1) {
    addOdbcError(stateWrongParamCount, msgParamOptionsNeedBind) << uint32_t(number);
    return kvFailure;
  }
  if (!output && isDataAtExec(length)) {
    if (isLongSqlType(param->sqlType) && length <= SQL_LEN_DATA_AT_EXEC_OFFSET) {
      const SQLLEN declared = SQL_LEN_DATA_AT_EXEC_OFFSET - length;
      param->precision = declared > SQLLEN(UINT32_MAX) ? UINT32_MAX : uint32_t(declared);
    }
    cursorState_ = cursorExecuting;
    dataAtExecParam_ = number;
    *needData = 1;
    return kvSuccess;
  }

  unsigned char* value = static_cast<unsigned char*>(param->value);
  if (value && param->bufferSize > 0) value += param->bufferSize * SQLLEN(paramRow_);
  if (!value && !output && length != SQL_NULL_DATA && length != SQL_DEFAULT_PARAM) {
    addOdbcError(stateWrongParamCount, msgParamNotSpecified) << uint32_t(number);
    return kvFailure;
  }
  const bool variable = param->cType == SQL_C_CHAR || param->cType == SQL_C_BINARY || param->cType == SQL_C_WCHAR;
  if (!output && length < 0 && length != SQL_NULL_DATA && length != SQL_DEFAULT_PARAM) {
    if (variable && length == SQL_NTS) {
      length = terminatedLength(value, param->bufferSize, param->cType == SQL_C_WCHAR);
    } else if (variable) {
      addOdbcError(stateStringLength, msgNegativeParamLength) << uint32_t(number);
      return kvFailure;
    }
  }
  if (!variable && length != SQL_NULL_DATA && length != SQL_DEFAULT_PARAM) length = param->bufferSize;
  if (length > SQLLEN(INT32_MAX)) {
    addOdbcError(stateStringLength);
    return kvFailure;
  }
  if (bindParam(number, value, int32_t(length), bindWhole) != kvSuccess) {
    appendBaseTextToLastError(msgParamSuffixWide) << uint32_t(number);
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus BaseStatement::finishRow(bool* done) {
  *done = false;
  if (setExecutedState() != kvSuccess) return kvFailure;
  if (fieldCount_ > 0) {
    *done = true;
    return kvSuccess;
  }
  int32_t count = -1;
  if (rowCount(&count) != kvSuccess) return kvFailure;
  if (count < 0 || executedRowCount_ < 0) {
    executedRowCount_ = -1;
  } else {
    const int64_t sum = int64_t(executedRowCount_) + count;
    executedRowCount_ = sum > INT32_MAX ? -1 : int32_t(sum);
  }
  if (flags_ & flagEmulatedPositioned) {
    if (count == 0) addOdbcWarning(stateNoRowsChanged, msgCurrentOfNoRows);
    else if (count > 1) addOdbcWarning(stateManyRowsChanged, msgCurrentOfManyRows);
  }
  return kvSuccess;
}

// A compile in the middle of an execution (a refit of the emulated
// condition, new parameter descriptions) cannot be resumed: a driver that
// leaves it unfinished fails the execution rather than running a statement
// it has not compiled.
KvStatus BaseStatement::compileWithinExecution(BaseSqlString* text) {
  if (prepareCompile(text) != kvSuccess) return kvFailure;
  if (!(flags_ & flagAsync)) return kvSuccess;
  flags_ &= ~uint32_t(flagAsync);
  addOdbcError(stateGeneral);
  return kvFailure;
}

KvStatus BaseStatement::executeRows(uint16_t firstParam, uint16_t* needData) {
  *needData = 0;
  const bool textual = !(connection_->getFlags() & BaseConnection::flagDriverTakesParams);
  // An execution the driver left unfinished goes on at its
  // executePreparedStmt: the values it was given stand.
  bool resuming = (flags_ & flagAsync) && execResumeStep_ == execStepExecute;
  for (;;) {
    if (!resuming && paramRowCounter_) *paramRowCounter_ = paramRow_ + 1;
    if (!resuming && firstParam == 1) {
      if (flags_ & flagEmulatedPositioned) {
        bool refitted = false;
        if (readEmulationValues() != kvSuccess || fitEmulatedText(&refitted) != kvSuccess) return kvFailure;
        if (refitted || (flags_ & flagPrepared)) {
          BaseSqlString text;
          if (text.copyFrom(*keptSql_) != kvSuccess || compileWithinExecution(&text) != kvSuccess) return kvFailure;
          cursorState_ = cursorPrepared;
          flags_ |= flagPrepared;
        }
      }
      bool changed = false;
      if (describeRowParams(this, params_, paramCount_, (flags_ & flagPrepared) != 0, &changed) != kvSuccess)
        return kvFailure;
      if (changed) {
        BaseSqlString text;
        if (!keptSql_) {
          addOdbcError(stateGeneral, msgParamTypeChanged) << uint32_t(1);
          return kvFailure;
        }
        if (text.copyFrom(*keptSql_) != kvSuccess) return kvFailure;
        unbindParams();
        if (compileWithinExecution(&text) != kvSuccess) return kvFailure;
        flags_ |= flagPrepared;
        if (describeRowParams(this, params_, paramCount_, true, &changed) != kvSuccess) return kvFailure;
      }
      if (textual && keptSql_) {
        if (sqlText_.initialize(keptSql_->getStr(), keptSql_->getLength()) != kvSuccess) return kvFailure;
        textNextParam_ = 1;
        textShift_ = 0;
      }
    }
    for (uint16_t number = firstParam; !resuming && number <= paramCount_; ++number) {
      if (deliverParam(number, params_[number - 1], needData) != kvSuccess) return kvFailure;
      if (*needData) return kvSuccess;
    }
    if (!resuming && (flags_ & flagEmulatedPositioned) && deliverEmulationParams() != kvSuccess) return kvFailure;

    if (!resuming) {
      delete sqlString_;
      sqlString_ = nullptr;
    }
    resuming = false;
    const KvStatus executed = executePreparedStmt();
    if (executed == kvSuccess && (flags_ & flagAsync)) {
      execResumeStep_ = execStepExecute;
      return kvSuccess;
    }
    execResumeStep_ = execStepNone;
    for (uint16_t i = 0; i < paramCount_ && i < paramCapacity_; ++i)
      if (params_[i]) params_[i]->freeCollected();
    sqlText_.unInitialize();
    dataAtExecParam_ = 0;
    if (executed != kvSuccess) return kvFailure;

    bool done = false;
    if (finishRow(&done) != kvSuccess) return kvFailure;
    if (done || ++paramRow_ >= paramRows_) break;
    firstParam = 1;
  }
  endOfExecution();
  return kvSuccess;
}

// Under WorkArounds 0x1 a data source that deletes prepared statements at
// a commit does so at every autocommitted change: every prepared statement
// of the connection is then prepared again before it next runs.
void BaseStatement::endOfExecution() {
  if (!(connection_->getWorkArounds() & BaseConnection::waKeepPrepared) || fieldCount_ > 0 ||
      !connection_->getAutocommit())
    return;
  KvStatus status = kvSuccess;
  if (connection_->getInfoNumber(SQL_CURSOR_COMMIT_BEHAVIOR, &status) != SQL_CB_DELETE || status != kvSuccess) {
    if (status != kvSuccess) KvErrorKeeper::clearLastError();
    return;
  }
  connection_->getStatements().forEach<BaseStatement>([](BaseStatement* statement) {
    if (statement->kind_ == stmtKindPrepared && statement->appText_.getLength() > 0)
      statement->flags_ |= flagReprepare;
    return true;
  });
}

// ---------------------------------------------------------------- ODBC calls

KvStatus BaseStatement::resumeStep(bool execute, uint16_t* needData) {
  *needData = 0;
  if (execResumeStep_ == execStepPrepare) {
    if (resumePrepareStep() != kvSuccess) return kvFailure;
    if ((flags_ & flagAsync) || !execute) return kvSuccess;
    return executeStep(needData);
  }
  if (execResumeStep_ == execStepExecute) return executeRows(1, needData);
  // Nothing of this function stopped (BaseCall lets only the pending
  // function through): the driver set flagAsync outside these steps.
  addOdbcError(stateSequence);
  return kvFailure;
}

KvStatus BaseStatement::enterFreshStatement(BaseStmtKind kind) {
  if (cursorState_ == cursorOpen) {
    addOdbcError(stateCursorState);
    return kvFailure;
  }
  if (cursorState_ != cursorAllocated && returnToAllocatedState(0) != kvSuccess) return kvFailure;
  kind_ = kind;
  return kvSuccess;
}

void BaseStatement::abandonStatement() {
  // The failure that brought the statement here is in the list already; a
  // failure of the return only adds its own reason to it.
  KvStatus status = returnToAllocatedState(0);
  (void)status;
}

SQLRETURN BaseStatement::SQLPrepare(SQLCHAR* szSqlStr, SQLINTEGER cbSqlStr) {
  BaseCall call(this, SQL_API_SQLPREPARE);
  if (!call.isOpen()) return call.getResult();
  if (flags_ & flagAsync) {
    uint16_t needData = 0;
    if (resumeStep(false, &needData) != kvSuccess) {
      abandonStatement();
      return call.exit(SQL_ERROR);
    }
    return call.exit((flags_ & flagAsync) ? SQL_STILL_EXECUTING : SQL_SUCCESS);
  }
  if (checkSqlArgument(szSqlStr, cbSqlStr) != kvSuccess || enterFreshStatement(stmtKindPrepared) != kvSuccess)
    return call.exit(SQL_ERROR);
  BaseSqlString sql(szSqlStr, cbSqlStr);
  if (sql.convertFromApp() != kvSuccess) {
    abandonStatement();
    return call.exit(SQL_ERROR);
  }
  if ((connection_->getWorkArounds() & BaseConnection::waKeepPrepared) &&
      appText_.initialize(sql.getStr(), sql.getLength()) != kvSuccess) {
    abandonStatement();
    return call.exit(SQL_ERROR);
  }
  if (prepareStep(&sql) != kvSuccess) {
    abandonStatement();
    return call.exit(SQL_ERROR);
  }
  return call.exit((flags_ & flagAsync) ? SQL_STILL_EXECUTING : SQL_SUCCESS);
}

SQLRETURN BaseStatement::SQLExecDirect(SQLCHAR* szSqlStr, SQLINTEGER cbSqlStr) {
  BaseCall call(this, SQL_API_SQLEXECDIRECT);
  if (!call.isOpen()) return call.getResult();
  uint16_t needData = 0;
  KvStatus status = kvSuccess;
  if (flags_ & flagAsync) {
    status = resumeStep(true, &needData);
  } else {
    if (checkSqlArgument(szSqlStr, cbSqlStr) != kvSuccess || enterFreshStatement(stmtKindDirect) != kvSuccess)
      return call.exit(SQL_ERROR);
    BaseSqlString sql(szSqlStr, cbSqlStr);
    status = sql.convertFromApp();
    if (status == kvSuccess) status = prepareStep(&sql);
    if (status == kvSuccess && !(flags_ & flagAsync)) status = executeStep(&needData);
  }
  if (status != kvSuccess) {
    abandonStatement();
    return call.exit(SQL_ERROR);
  }
  if (flags_ & flagAsync) return call.exit(SQL_STILL_EXECUTING);
  return call.exit(needData ? SQL_NEED_DATA : SQL_SUCCESS);
}

// A failed execution leaves the statement prepared, as it was.
SQLRETURN BaseStatement::SQLExecute() {
  BaseCall call(this, SQL_API_SQLEXECUTE);
  if (!call.isOpen()) return call.getResult();
  uint16_t needData = 0;
  KvStatus status = kvSuccess;
  if (flags_ & flagAsync) {
    status = resumeStep(true, &needData);
  } else {
    if (kind_ != stmtKindPrepared || (cursorState_ >= cursorExecuting && cursorState_ <= cursorPuttingData)) {
      addOdbcError(stateSequence);
      return call.exit(SQL_ERROR);
    }
    if (cursorState_ == cursorOpen) {
      addOdbcError(stateCursorState);
      return call.exit(SQL_ERROR);
    }
    status = executeStep(&needData);
  }
  if (status != kvSuccess) {
    sqlText_.unInitialize();
    if (cursorState_ != cursorAllocated) cursorState_ = cursorPrepared;
    return call.exit(SQL_ERROR);
  }
  if (flags_ & flagAsync) return call.exit(SQL_STILL_EXECUTING);
  return call.exit(needData ? SQL_NEED_DATA : SQL_SUCCESS);
}
