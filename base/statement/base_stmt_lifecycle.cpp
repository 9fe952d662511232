// The life of a statement: its ways back to the allocated state, the close
// of a cursor, the states after an execution, and the ODBC calls that move
// it between them: SQLFreeStmt, SQLCancel, SQLMoreResults and SQLRowCount.
// The state table is in base_statement.h (BaseCursorState).
#include "base/statement/base_statement.h"

#include "base/catalog/base_catalog_info.h"
#include "base/results/base_field.h"
#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "base/statement/base_sql_string.h"
#include "util/memory/ram.h"
#include "util/os/bos.h"

// ---------------------------------------------------------------- states

void BaseStatement::resetCursorPosition() {
  rowsetStart_ = 0;
  rowsetIndex_ = 0;
  getDataColumn_ = 0;
  getDataCType_ = 0;
  getDataOffset_ = 0;
  flags_ &= ~uint32_t(flagGetDataDone | flagEndOfData);
  ramFree(rowStatus_);
  rowStatus_ = nullptr;
  rowStatusCount_ = 0;
}

void BaseStatement::dropSqlText() {
  delete sqlString_;
  sqlString_ = nullptr;
  sqlText_.unInitialize();
}

KvStatus BaseStatement::returnToAllocatedState(uint16_t drop) {
  unbindParams();
  if (setToAllocatedState(drop) != kvSuccess) return kvFailure;
  deleteFields();
  setCatalogInfo(nullptr);
  dropSqlText();
  delete keptSql_;
  keptSql_ = nullptr;
  appText_.unInitialize();
  delete resumeSql_;
  resumeSql_ = nullptr;
  execResumeStep_ = execStepNone;
  deleteEmulation();
  paramCount_ = 0;
  dataAtExecParam_ = 0;
  kind_ = stmtKindAllocated;
  cursorState_ = cursorAllocated;
  flags_ &= ~uint32_t(flagForUpdate | flagEmulatedPositioned | flagReprepare);
  resetCursorPosition();
  return kvSuccess;
}

KvStatus BaseStatement::closePreparedStatement() {
  if (setToPreparedState() != kvSuccess) return kvFailure;
  dropSqlText();
  cursorState_ = cursorPrepared;
  resetCursorPosition();
  return kvSuccess;
}

KvStatus BaseStatement::closeCursor() {
  return kind_ == stmtKindPrepared ? closePreparedStatement() : returnToAllocatedState(0);
}

KvStatus BaseStatement::applyCommitDelete(bool keepPrepared) {
  if (keepPrepared && kind_ == stmtKindPrepared) {
    if (closePreparedStatement() != kvSuccess) return kvFailure;
    flags_ |= flagReprepare;
    return kvSuccess;
  }
  return returnToAllocatedState(0);
}

KvStatus BaseStatement::setExecutedState() {
  flags_ &= ~uint32_t(flagPrepared);
  resetCursorPosition();
  if (fieldCount_ == 0) {
    cursorState_ = cursorExecuted;
    return kvSuccess;
  }
  cursorState_ = cursorOpen;
  return cursorName_ ? kvSuccess : generateCursorName();
}

KvStatus BaseStatement::catalogEntryCheck() {
  if (flags_ & flagAsync) return kvSuccess;  // a continuation of the same call
  if (cursorState_ == cursorOpen) {
    addOdbcError(stateCursorState);
    return kvFailure;
  }
  if (cursorState_ != cursorAllocated && returnToAllocatedState(0) != kvSuccess) return kvFailure;
  kind_ = stmtKindCatalog;
  return kvSuccess;
}

void BaseStatement::freeBindings() {
  unbindFlds();
  if (bindings_) {
    for (uint16_t i = 0; i < bindingCapacity_; ++i) delete bindings_[i];
    ramFree(bindings_);
  }
  bindings_ = nullptr;
  bindingCapacity_ = 0;
  bindingCount_ = 0;
  flags_ &= ~uint32_t(flagRebindAll);
}

void BaseStatement::resetParams() {
  if (!params_ || paramCapacity_ == 0) return;
  unbindParams();
  for (uint16_t i = 0; i < paramCapacity_; ++i)
    if (params_[i]) params_[i]->forgetValue();
}

// ---------------------------------------------------------------- position

uint32_t BaseStatement::getCurrentRow() const {
  if (rowsetStart_ == 0) return 0;
  if (rowsetStart_ < 0) return 0xFFFFFFFFu;
  return uint32_t(rowsetStart_) + rowsetIndex_;
}

int BaseStatement::isOnValidRow() const {
  if (!rowStatus_ || rowsetIndex_ >= rowStatusCount_) return 1;
  const uint16_t status = rowStatus_[rowsetIndex_];
  return status != SQL_ROW_DELETED && status != SQL_ROW_NOROW && status != SQL_ROW_ERROR;
}

// ---------------------------------------------------------------- ODBC calls

// SQL_DROP deletes the statement after the exit step, so that the exit
// still finds its list and busy bit, and before the call gives the
// connection's lock back, so that the statement leaves the connection's list
// under it. A connection call of this same thread (a re-entry) keeps the
// statement.
SQLRETURN BaseStatement::SQLFreeStmt(SQLUSMALLINT fOption) {
  if (fOption == SQL_DROP && getCallingThread() == 0) {
    std::lock_guard<std::recursive_mutex> guard(connection_->getCallLock());
    if (connection_->getFlags() & BaseConnection::flagBusy) return SQL_HANDLE_BUSY;
  }
  BaseCall call(this, SQL_API_SQLFREESTMT);
  if (!call.isOpen()) return call.getResult();
  KvStatus status = kvSuccess;
  switch (fOption) {
    case SQL_CLOSE:
      status = closeCursor();
      break;
    case SQL_DROP:
      if (returnToAllocatedState(1) != kvSuccess) return call.exit(SQL_ERROR);
      call.exit(SQL_SUCCESS);
      delete this;
      return SQL_SUCCESS;
    case SQL_UNBIND:
      freeBindings();
      break;
    case SQL_RESET_PARAMS:
      resetParams();
      break;
    default:  // not an option of this call: nothing changes
      break;
  }
  return call.exit(status == kvSuccess ? SQL_SUCCESS : SQL_ERROR);
}

// While a call of another thread runs on the statement, a cancel asks it to
// stop at its next abort poll (the call then fails with S1008) and succeeds
// at once, without waiting for the connection. Otherwise, with nothing
// running asynchronously, a cancel is a close: the statement is closed
// (prepared) or returns to the allocated state, and 01S05 says so.
SQLRETURN BaseStatement::SQLCancel() {
  std::recursive_mutex& lock = connection_->getCallLock();
  // The connection may be held by a call of another statement while a call
  // of this one waits for it, so the cancel does not wait blindly: it looks
  // again until either a call holds this statement (and is told to stop) or
  // the lock is free.
  while (!lock.try_lock()) {
    if (requestCancelOfRunningCall()) return SQL_SUCCESS;
    bossleep(1);
  }
  std::lock_guard<std::recursive_mutex> guard(lock, std::adopt_lock);
  // A call that took the statement and now waits for this lock.
  if (requestCancelOfRunningCall()) return SQL_SUCCESS;
  BaseCall call(this, SQL_API_SQLCANCEL);
  if (!call.isOpen()) return call.getResult();
  if (flags_ & flagAsync) return call.exit(cancelAsyncOp() == kvSuccess ? SQL_SUCCESS : SQL_ERROR);
  KvStatus status = kvSuccess;
  if (kind_ == stmtKindPrepared) status = closePreparedStatement();
  else if (cursorState_ != cursorPrepared) status = returnToAllocatedState(0);
  if (status != kvSuccess) return call.exit(SQL_ERROR);
  addOdbcWarning(stateCancelAsClose);
  return call.exit(SQL_SUCCESS);
}

SQLRETURN BaseStatement::SQLRowCount(SQLLEN* pcrow) {
  BaseCall call(this, SQL_API_SQLROWCOUNT);
  if (!call.isOpen()) return call.getResult();
  if (pcrow) {
    int32_t count = executedRowCount_;
    if (fieldCount_ > 0) count = -1;
    else if (count == -1 && (connection_->getWorkArounds() & BaseConnection::waRowCountOne)) count = 1;
    *pcrow = SQLLEN(count);
  }
  return call.exit(SQL_SUCCESS);
}

// A further result of the statement gets the states after an execution
// again; when none is left, a prepared statement is closed and any other
// returns to the allocated state.
SQLRETURN BaseStatement::SQLMoreResults() {
  BaseCall call(this, SQL_API_SQLMORERESULTS);
  if (!call.isOpen()) return call.getResult();
  const bool continuing = (flags_ & flagAsync) != 0;
  if (!continuing && cursorState_ != cursorExecuted && cursorState_ != cursorOpen)
    return call.exit(SQL_NO_DATA_FOUND);
  uint16_t noMore = 1;
  if (kind_ != stmtKindCatalog) {
    if (moreResults(&noMore) != kvSuccess) return call.exit(SQL_ERROR);
    if (flags_ & flagAsync) return call.exit(SQL_STILL_EXECUTING);
  }
  if (!noMore) {
    if (setExecutedState() != kvSuccess) return call.exit(SQL_ERROR);
    if (fieldCount_ == 0) {
      int32_t count = -1;
      if (rowCount(&count) != kvSuccess) return call.exit(SQL_ERROR);
      executedRowCount_ = count;
    }
    return call.exit(SQL_SUCCESS);
  }
  if (closeCursor() != kvSuccess) return call.exit(SQL_ERROR);
  return call.exit(SQL_NO_DATA_FOUND);
}
