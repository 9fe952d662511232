// The connection handle: construction, the call discipline and the default
// bodies of the driver's operations; see base_connection.h.
#include "base/connection/base_connection.h"

#include "base/handles/base_env.h"
#include "base/handles/base_lock_hooks.h"
#include "base/handles/base_message_ids.h"
#include "base/handles/base_messages.h"
#include "base/statement/base_statement.h"
#include "util/memory/ram.h"

#include <initializer_list>

BaseConnection::BaseConnection(BaseEnv* env) : env_(env), errorList_(this) {
  resetOptions();
  env_->addConnection();
}

BaseConnection::~BaseConnection() {
  // Statements left by the application go with their connection.
  while (KvNode* node = statements_.peekFirst()) delete static_cast<BaseStatement*>(node);
  unloadTranslationDll();
  clearQueuedOptions();
  freeTexts();
  delete browseText_;
  env_->removeConnection();
}

void BaseConnection::moveToEnv(BaseEnv* env) {
  env_->removeConnection();
  env_ = env;
  env_->addConnection();
}

void BaseConnection::freeTexts() {
  for (unsigned char** text : {&dsn_, &userId_, &password_, &dbmsName_, &databaseName_}) {
    ramFree(*text);
    *text = nullptr;
  }
}

void BaseConnection::setDatabaseName(const unsigned char* name) {
  ramFree(databaseName_);
  databaseName_ = name ? ramAllocStr(name) : nullptr;
}

// ---------------------------------------------------------------- discipline

uint16_t BaseConnection::threadCheck(ThreadCheckTypes type) {
  BaseLockHook hook;
  if (flags_ & flagBusy) return 1;
  if (type == checkConnectionAndStatements &&
      !statements_.forEach<BaseStatement>([self = baseThreadId()](BaseStatement* s) {
        // Statements that calls of other threads hold are waiting for this
        // connection's lock; only a call of this thread is inside.
        return s->getCallingThread() != self;
      }))
    return 1;
  flags_ |= flagBusy;
  if (type == checkConnectionAndStatements) {
    statements_.forEach<BaseStatement>([](BaseStatement* s) {
      s->setMarkedBusy(true);
      return true;
    });
    flags_ |= flagStatementsMarked;
  } else {
    flags_ &= ~flagStatementsMarked;
  }
  return 0;
}

void BaseConnection::threadDone() {
  BaseLockHook hook;
  flags_ &= ~flagBusy;
  if (flags_ & flagStatementsMarked) {
    statements_.forEach<BaseStatement>([](BaseStatement* s) {
      s->setMarkedBusy(false);
      return true;
    });
    flags_ &= ~flagStatementsMarked;
  }
}

// ---------------------------------------------------------------- driver defaults

// A driver that writes no escape clause refuses them all, with the reason.
KvStatus BaseConnection::expandNativeEscape(KvReplaceString*, uint32_t, EscapeType, EscapeFunctionType) {
  addOdbcError(stateSyntax, msgEscapeNotSupported);
  return kvFailure;
}
KvStatus BaseConnection::startTransaction() { return kvSuccess; }
// A driver that opens no transaction of its own cannot end one.
KvStatus BaseConnection::endTransaction(uint16_t) {
  addOdbcError(stateNotCapable);
  return kvFailure;
}
KvStatus BaseConnection::getAskedForInfo(uint16_t, void**, BaseInfoValType*) { return kvFailure; }
// A driver that cannot browse says so.
KvStatus BaseConnection::connectBrowse(KvValueParser*, KvParamString*, unsigned*) {
  addOdbcError(stateNotCapable);
  return kvFailure;
}
int BaseConnection::isBinaryCTypeHandled(int16_t) { return 0; }
