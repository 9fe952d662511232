// The call discipline; see base_call.h.
#include "base/handles/base_call.h"

#include "base/handles/base_env.h"
#include "base/handles/base_error_list.h"
#include "base/handles/base_message_ids.h"
#include "base/statement/base_statement.h"

namespace {

// The statement whose call runs on this thread (the abort poll's subject).
thread_local BaseStatement* runningStatement = nullptr;

// The refused call's handle, and whether SQLError has handed its S1010 out.
thread_local const void* refusedHandle = nullptr;
thread_local bool refusalHandedOut = false;

}  // namespace

uintptr_t baseThreadId() {
  static thread_local const char tag = 0;
  return reinterpret_cast<uintptr_t>(&tag);
}

BaseCall::BaseCall(BaseConnection* connection, uint16_t function, ThreadCheckTypes type)
    : connection_(connection) {
  refusedHandle = nullptr;
  lock_ = &connection->getCallLock();
  lock_->lock();
  if (!connection->threadCheck(type)) enter(function);
}

BaseCall::BaseCall(BaseStatement* statement, uint16_t function) : statement_(statement) {
  refusedHandle = nullptr;
  // The statement is taken before the wait for its connection, so that a
  // second thread finds it held (and a cancel reaches the call) from here on.
  switch (statement->claimForCall()) {
    case BaseStatement::claimHeldElsewhere:
      // Another thread's call owns the statement and its list: the refusal
      // is kept for this thread's SQLError.
      refusedHandle = statement;
      refusalHandedOut = false;
      result_ = SQL_ERROR;
      return;
    case BaseStatement::claimHeldHere:
      return;  // a re-entry: busy
    case BaseStatement::claimNow:
      break;
  }
  lock_ = &statement->getConnection()->getCallLock();
  lock_->lock();
  if (statement->isMarkedBusy()) {
    // A connection call of this same thread holds every statement.
    statement->threadDone();
    return;
  }
  enter(function);
}

BaseCall::BaseCall(BaseEnv* env, uint16_t function) : env_(env) {
  refusedHandle = nullptr;
  lock_ = &env->getCallLock();
  lock_->lock();
  if (!env->threadCheck()) enter(function);
}

BaseCall::~BaseCall() {
  if (open_) exit(SQL_ERROR);
  if (lock_) lock_->unlock();
}

void BaseCall::enter(uint16_t function) {
  function_ = function;
  KvStatus entered = connection_ ? connection_->standardEntrance(function)
                     : statement_ ? statement_->standardEntrance(function)
                                  : env_->standardEntrance(function);
  open_ = true;
  if (statement_) {
    outerRunning_ = runningStatement;
    runningStatement = statement_;
  }
  if (entered != kvSuccess) {
    result_ = exit(SQL_ERROR);
    return;
  }
  if (!statement_ || function == SQL_API_SQLCANCEL) return;
  if ((statement_->getFlags() & BaseStatement::flagAsync) && statement_->getAsyncFunction() != function) {
    addOdbcError(stateSequence);
    result_ = exit(SQL_ERROR);
    return;
  }
  ownsAsync_ = true;
}

SQLRETURN BaseCall::exit(SQLRETURN result) {
  if (!open_) return result;
  open_ = false;
  if (statement_) {
    runningStatement = outerRunning_;
    // A call that a cancel stopped reports the cancel, whatever the loop
    // that noticed it said, and a cursor it left open is closed, so that the
    // scratch files of the stopped work go now; one that finished first
    // keeps its result.
    if (statement_->takeCancelRequest() && result == SQL_ERROR) {
      statement_->getErrorList().clearErrors();
      addOdbcError(stateCancelled);
      // A close that fails has posted its reason beside the S1008.
      if (statement_->getCursorState() == cursorOpen) kvIgnoreStatus(statement_->closeCursor());
    }
  }
  if (ownsAsync_) {
    if (result == SQL_STILL_EXECUTING) {
      statement_->setAsyncFunction(function_);
    } else {
      statement_->setFlags(statement_->getFlags() & ~uint32_t(BaseStatement::flagAsync));
      statement_->setAsyncFunction(0);
    }
  }
  result_ = connection_ ? connection_->standardExit(result)
            : statement_ ? statement_->standardExit(result)
                         : env_->standardExit(result);
  return result_;
}

KvStatus baseEnterCall(BaseErrorList* list) {
  list->clearErrors();
  KvErrorKeeper::setErrorList(list);
  return kvSuccess;
}

SQLRETURN baseLeaveCall(BaseErrorList* list, SQLRETURN result) {
  result = list->exitResult(result);
  KvErrorKeeper::giveUpErrorList();
  return result;
}

SQLRETURN baseHandOutRefusal(const void* handle, BaseConnection* owner, SQLCHAR* szSqlState,
                             SQLINTEGER* pfNativeError, SQLCHAR* szErrorMsg, SQLSMALLINT cbErrorMsgMax,
                             SQLSMALLINT* pcbErrorMsg, int* handled) {
  *handled = 0;
  if (!handle || handle != refusedHandle) return SQL_NO_DATA_FOUND;
  *handled = 1;
  if (refusalHandedOut) {
    refusedHandle = nullptr;
    return SQL_NO_DATA_FOUND;
  }
  refusalHandedOut = true;
  BaseErrorList list(owner);
  KvErrorKeeper::setErrorList(&list);
  addOdbcError(stateSequence);
  KvErrorKeeper::giveUpErrorList();
  return list.SQLError(szSqlState, pfNativeError, szErrorMsg, cbErrorMsgMax, pcbErrorMsg);
}

int baseAbortPoll() {
  const BaseStatement* statement = runningStatement;
  return statement && statement->isCancelRequested() ? 1 : 0;
}
