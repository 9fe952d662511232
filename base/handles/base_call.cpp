// The call discipline; see base_call.h.
#include "base/handles/base_call.h"

#include "base/handles/base_env.h"
#include "base/handles/base_error_list.h"
#include "base/handles/base_message_ids.h"
#include "base/statement/base_statement.h"

BaseCall::BaseCall(BaseConnection* connection, uint16_t function, ThreadCheckTypes type)
    : connection_(connection) {
  if (!connection->threadCheck(type)) enter(function);
}

BaseCall::BaseCall(BaseStatement* statement, uint16_t function) : statement_(statement) {
  if (!statement->threadCheck()) enter(function);
}

BaseCall::BaseCall(BaseEnv* env, uint16_t function) : env_(env) {
  if (!env->threadCheck()) enter(function);
}

BaseCall::~BaseCall() {
  if (open_) exit(SQL_ERROR);
}

void BaseCall::enter(uint16_t function) {
  function_ = function;
  KvStatus entered = connection_ ? connection_->standardEntrance(function)
                     : statement_ ? statement_->standardEntrance(function)
                                  : env_->standardEntrance(function);
  open_ = true;
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
