// Connection options, statement-option defaults, transactions and
// SQLGetFunctions of the connection.
//
// Options set before connecting are queued (string values copied, since the
// application's buffer does not outlive the call) and replayed in order by
// the connect. The defaults block flows one way: connection option set ->
// defaults -> every existing statement -> copied into each new statement.
#include "base/connection/base_connection.h"

#include "base/handles/base_messages.h"
#include "base/statement/base_statement.h"
#include "util/memory/ram.h"

#include <cstring>

namespace {

struct QueuedOption {
  uint16_t option;
  SQLULEN value;
  unsigned char* text;  // copy of a string value, or null
};

bool isStringOption(uint16_t option) {
  return option == SQL_OPT_TRACEFILE || option == SQL_TRANSLATE_DLL || option == SQL_CURRENT_QUALIFIER;
}

// The statement-option defaults of a new or disconnected connection.
const SQLULEN initialStmtDefaults[optWordCount] = {
    0,    // SQL_BIND_TYPE
    0,    // SQL_MAX_LENGTH
    0,    // SQL_QUERY_TIMEOUT
    0,    // SQL_MAX_ROWS
    0,    // SQL_CURSOR_TYPE: forward only
    1,    // SQL_CONCURRENCY: read only
    1,    // SQL_ROWSET_SIZE
    0,    // SQL_KEYSET_SIZE
    optBitRetrieveData,  // SQL_RETRIEVE_DATA on
};

}  // namespace

// ---------------------------------------------------------------- queue

KvStatus BaseConnection::queueOption(uint16_t option, SQLULEN value) {
  auto* entry = static_cast<QueuedOption*>(ramAllocZ(sizeof(QueuedOption)));
  if (!entry) return kvFailure;
  entry->option = option;
  entry->value = value;
  if (isStringOption(option) && value) {
    entry->text = ramAllocStr(reinterpret_cast<const unsigned char*>(value));
    if (!entry->text) {
      ramFree(entry);
      return kvFailure;
    }
    entry->value = reinterpret_cast<SQLULEN>(entry->text);
  }
  if (queuedOptions_.add(entry) != kvSuccess) {
    ramFree(entry->text);
    ramFree(entry);
    return kvFailure;
  }
  return kvSuccess;
}

void BaseConnection::replayQueuedOptions() {
  for (uint16_t i = 0; i < queuedOptions_.getCount(); ++i) {
    auto* entry = static_cast<QueuedOption*>(queuedOptions_.getAt(i));
    uint32_t position = errorList_.getCount();
    addOdbcWarning(stateOptionFailed);
    KvError* marker = errorList_.getErrorAtPos(position);
    if (applyConnectOption(entry->option, entry->value) == kvSuccess) {
      // Remove exactly the IM006 warning: the option may have posted a
      // warning of its own behind it, which stays.
      if (marker && !marker->isStatic()) {
        errorList_.unlink(marker);
        delete marker;
      }
    } else {
      errorList_.setWarningAfterPos(position);
    }
  }
  clearQueuedOptions();
}

void BaseConnection::clearQueuedOptions() {
  for (uint16_t i = 0; i < queuedOptions_.getCount(); ++i) {
    auto* entry = static_cast<QueuedOption*>(queuedOptions_.getAt(i));
    ramFree(entry->text);
    ramFree(entry);
  }
  queuedOptions_.setCount(0);
}

void BaseConnection::resetOptions() {
  std::memcpy(stmtDefaults_, initialStmtDefaults, sizeof(stmtDefaults_));
  accessMode_ = 0;
  autocommit_ = 1;
  loginTimeout_ = 15;
  txnIsolation_ = 0;
  quietWindow_ = 0;
  flags_ |= flagQuietNoWindow;
  translateOption_ = 0;
}

// ---------------------------------------------------------------- setting

int BaseConnection::acceptsStmtOption(uint16_t option, SQLULEN* limit) {
  *limit = 0;
  switch (option) {
    case SQL_QUERY_TIMEOUT:
      *limit = queryTimeoutLimit_;
      return (flags_ & flagQueryTimeout) != 0;
    case SQL_MAX_ROWS:
      *limit = maxRowsLimit_;
      return 1;
    case SQL_MAX_LENGTH:
      *limit = maxLengthLimit_;
      return 1;
    case SQL_NOSCAN:
    case SQL_CURSOR_TYPE:
    case SQL_CONCURRENCY:
    case SQL_KEYSET_SIZE:
    case SQL_ROWSET_SIZE:
    case SQL_RETRIEVE_DATA:
      return 1;
    case SQL_ASYNC_ENABLE:
      return (flags_ & flagAsyncEnable) != 0;
    case SQL_BIND_TYPE:
      *limit = 0xFFFFFFFFu;
      return 1;
    case SQL_SIMULATE_CURSOR:
      return (flags_ & (flagPositionedUpdate | flagPositionedDelete)) !=
             (flagPositionedUpdate | flagPositionedDelete);
    case SQL_USE_BOOKMARKS: {
      KvStatus status = kvSuccess;
      uint32_t mask = getInfoNumber(SQL_BOOKMARK_PERSISTENCE, &status);
      if (status != kvSuccess) KvErrorKeeper::clearLastError();
      return status == kvSuccess && mask != 0;
    }
    default:
      return 0;
  }
}

SQLRETURN BaseConnection::SQLSetConnectOption(SQLUSMALLINT fOption, SQLULEN vParam) {
  bool wide = fOption == SQL_AUTOCOMMIT || fOption == SQL_TXN_ISOLATION || fOption == SQL_CURRENT_QUALIFIER;
  BaseCall call(this, SQL_API_SQLSETCONNECTOPTION, wide ? checkConnectionAndStatements : checkConnection);
  if (!call.isOpen()) return call.getResult();
  if (!isConnected() && fOption != SQL_LOGIN_TIMEOUT)
    return call.exit(queueOption(fOption, vParam) == kvSuccess ? SQL_SUCCESS : SQL_ERROR);
  return call.exit(applyConnectOption(fOption, vParam) == kvSuccess ? SQL_SUCCESS : SQL_ERROR);
}

KvStatus BaseConnection::applyConnectOption(uint16_t option, SQLULEN value) {
  if (option == SQL_AUTOCOMMIT) {
    if (value == autocommit_) return kvSuccess;
    if (getInfoNumber(SQL_TXN_CAPABLE) == 0) {
      addOdbcError(stateNotCapable);
      return kvFailure;
    }
    if (flags_ & flagTransaction) {
      if (endTransaction(SQL_COMMIT) != kvSuccess) return kvFailure;
      flags_ &= ~flagTransaction;
      addOdbcWarning(stateWarning, msgAutocommitCommitted);
    }
  } else if (option == SQL_TXN_ISOLATION) {
    if ((getInfoNumber(SQL_TXN_ISOLATION_OPTION) & uint32_t(value)) == 0) {
      addOdbcError(stateNotCapable);
      return kvFailure;
    }
    if (flags_ & flagTransaction) {
      addOdbcError(stateInvalidNow);
      return kvFailure;
    }
  }
  return setConnectOption(option, value);
}

KvStatus BaseConnection::setConnectOption(uint16_t option, SQLULEN value) {
  if (option < 15) {
    SQLULEN limit = 0;
    if (!acceptsStmtOption(option, &limit)) {
      addOdbcError(stateNotCapable);
      return kvFailure;
    }
    SQLULEN stored = value;
    if (limit && stored > limit) {
      stored = limit;
      addOdbcWarning(stateOptionChanged, msgMaxLengthSet);
    }
    baseStoreStmtOption(stmtDefaults_, option, stored);
    bool all = statements_.forEach<BaseStatement>(
        [&](BaseStatement* s) { return s->setStmtOption(option, stored) == kvSuccess; });
    return all ? kvSuccess : kvFailure;
  }
  switch (option) {
    case SQL_ACCESS_MODE:
      accessMode_ = uint16_t(value);
      return kvSuccess;
    case SQL_AUTOCOMMIT:
      autocommit_ = uint16_t(value);
      return kvSuccess;
    case SQL_TXN_ISOLATION:
      txnIsolation_ = uint16_t(value);
      return kvSuccess;
    case SQL_LOGIN_TIMEOUT:
      if (!(flags_ & flagLoginTimeout)) break;
      loginTimeout_ = uint32_t(value);
      return kvSuccess;
    case SQL_TRANSLATE_DLL:
      return loadTranslationDll(reinterpret_cast<const unsigned char*>(value));
    case SQL_TRANSLATE_OPTION:
      translateOption_ = int32_t(value);
      return kvSuccess;
    case SQL_QUIET_MODE:
      quietWindow_ = uintptr_t(value);
      if (quietWindow_) flags_ &= ~flagQuietNoWindow;
      else flags_ |= flagQuietNoWindow;
      return kvSuccess;
    case connOptionModifySql:
      if (value) flags_ |= flagModifySql;
      else flags_ &= ~flagModifySql;
      return kvSuccess;
    default:
      break;
  }
  addOdbcError(stateNotCapable);
  return kvFailure;
}

// ---------------------------------------------------------------- reading

SQLRETURN BaseConnection::SQLGetConnectOption(SQLUSMALLINT fOption, SQLPOINTER pvParam) {
  BaseCall call(this, SQL_API_SQLGETCONNECTOPTION);
  if (!call.isOpen()) return call.getResult();
  return call.exit(getConnectOption(fOption, pvParam) == kvSuccess ? SQL_SUCCESS : SQL_ERROR);
}

KvStatus BaseConnection::getConnectOption(uint16_t option, void* value) {
  uint32_t number = 0;
  switch (option) {
    case SQL_ACCESS_MODE: number = accessMode_; break;
    case SQL_AUTOCOMMIT: number = autocommit_; break;
    case SQL_TXN_ISOLATION: number = txnIsolation_; break;
    case SQL_TRANSLATE_OPTION: number = uint32_t(translateOption_); break;
    case SQL_QUIET_MODE:
      // A window handle is pointer-sized.
      if (value) *static_cast<SQLULEN*>(value) = SQLULEN(quietWindow_);
      return kvSuccess;
    case SQL_LOGIN_TIMEOUT:
      if (!(flags_ & flagLoginTimeout)) {
        addOdbcError(stateNotCapable);
        return kvFailure;
      }
      number = loginTimeout_;
      break;
    case SQL_TRANSLATE_DLL: {
      auto* out = static_cast<unsigned char*>(value);
      if (out) {
        const unsigned char* path = translationPath_ ? translationPath_ : kvU("");
        size_t length = std::strlen(kvC(path));
        if (length > 255) length = 255;
        std::memcpy(out, path, length);
        out[length] = 0;
      }
      return kvSuccess;
    }
    case connOptionModifySql: number = (flags_ & flagModifySql) ? 1 : 0; break;
    default:
      addOdbcError(stateNotCapable);
      return kvFailure;
  }
  // Connection options are 32-bit numbers (SQLUINTEGER for an ODBC 3
  // application, whose own buffer unixODBC hands through): a wider write
  // would run past it. Only the window handle of SQL_QUIET_MODE is wider.
  if (value) *static_cast<SQLUINTEGER*>(value) = number;
  return kvSuccess;
}

// ---------------------------------------------------------------- transactions

SQLRETURN BaseConnection::SQLTransact(SQLUSMALLINT fType) {
  BaseCall call(this, SQL_API_SQLTRANSACT, checkConnectionAndStatements);
  if (!call.isOpen()) return call.getResult();
  if (fType != SQL_COMMIT && fType != SQL_ROLLBACK) {
    addOdbcError(stateTxnOperation);
    return call.exit(SQL_ERROR);
  }
  if (fType == SQL_ROLLBACK && getInfoNumber(SQL_TXN_CAPABLE) == 0) {
    addOdbcError(stateNotCapable);
    return call.exit(SQL_ERROR);
  }
  if (autocommit_ || !(flags_ & flagTransaction)) return call.exit(SQL_SUCCESS);
  uint32_t behaviour =
      getInfoNumber(fType == SQL_COMMIT ? SQL_CURSOR_COMMIT_BEHAVIOR : SQL_CURSOR_ROLLBACK_BEHAVIOR);
  if (endTransaction(fType) != kvSuccess) return call.exit(SQL_ERROR);
  flags_ &= ~flagTransaction;
  SQLRETURN result = SQL_SUCCESS;
  statements_.forEach<BaseStatement>([&](BaseStatement* statement) {
    if (statement->getCursorState() == cursorAllocated) return true;
    KvStatus status = kvSuccess;
    if (behaviour == SQL_CB_DELETE) {
      status = statement->applyCommitDelete((workArounds_ & waKeepPrepared) != 0);
    } else if (behaviour == SQL_CB_CLOSE) {
      status = statement->getKind() == stmtKindPrepared ? statement->closePreparedStatement()
                                                        : statement->returnToAllocatedState(0);
    }
    if (status != kvSuccess) result = SQL_ERROR;  // the others are still visited
    return true;
  });
  return call.exit(result);
}

KvStatus BaseConnection::openTransactionIfManual() {
  if (autocommit_ || (flags_ & flagTransaction)) return kvSuccess;
  if (startTransaction() != kvSuccess) return kvFailure;
  flags_ |= flagTransaction;
  return kvSuccess;
}

// ---------------------------------------------------------------- functions

SQLRETURN BaseConnection::SQLGetFunctions(SQLUSMALLINT fFunction, SQLUSMALLINT* pfExists) {
  BaseCall call(this, SQL_API_SQLGETFUNCTIONS);
  if (!call.isOpen()) return call.getResult();
  auto answer = [&](uint16_t function, SQLUSMALLINT* out) -> KvStatus {
    if (function == SQL_API_SQLEXTENDEDFETCH && (workArounds_ & waNoExtendedFetch)) {
      *out = 0;
      return kvSuccess;
    }
    uint16_t exists = 0;
    if (isFunctionSupported(function, &exists) != kvSuccess) return kvFailure;
    *out = exists;
    return kvSuccess;
  };
  if (!pfExists) return call.exit(SQL_SUCCESS);
  if (fFunction == SQL_API_ALL_FUNCTIONS) {
    for (uint16_t f = 0; f < 100; ++f)
      if (answer(f, &pfExists[f]) != kvSuccess) return call.exit(SQL_ERROR);
  } else if (answer(fFunction, pfExists) != kvSuccess) {
    return call.exit(SQL_ERROR);
  }
  return call.exit(SQL_SUCCESS);
}

namespace {

// The ODBC functions the entry layer exports from every driver (entry/
// CMakeLists.txt lists them by name), by SQL_API number in ascending order.
// The Driver Manager's own (SQLDataSources, SQLDrivers), SQLGetFunctions,
// SQLSetParam, SQLSetPos and SQLDescribeParam are not among them.
const uint16_t exportedFunctions[] = {
    SQL_API_SQLALLOCCONNECT,     SQL_API_SQLALLOCENV,       SQL_API_SQLALLOCSTMT,      SQL_API_SQLBINDCOL,
    SQL_API_SQLCANCEL,           SQL_API_SQLCOLATTRIBUTES,  SQL_API_SQLCONNECT,        SQL_API_SQLDESCRIBECOL,
    SQL_API_SQLDISCONNECT,       SQL_API_SQLERROR,          SQL_API_SQLEXECDIRECT,     SQL_API_SQLEXECUTE,
    SQL_API_SQLFETCH,            SQL_API_SQLFREECONNECT,    SQL_API_SQLFREEENV,        SQL_API_SQLFREESTMT,
    SQL_API_SQLGETCURSORNAME,    SQL_API_SQLNUMRESULTCOLS,  SQL_API_SQLPREPARE,        SQL_API_SQLROWCOUNT,
    SQL_API_SQLSETCURSORNAME,    SQL_API_SQLTRANSACT,       SQL_API_SQLCOLUMNS,        SQL_API_SQLDRIVERCONNECT,
    SQL_API_SQLGETCONNECTOPTION, SQL_API_SQLGETDATA,        SQL_API_SQLGETINFO,        SQL_API_SQLGETSTMTOPTION,
    SQL_API_SQLGETTYPEINFO,      SQL_API_SQLPARAMDATA,      SQL_API_SQLPUTDATA,        SQL_API_SQLSETCONNECTOPTION,
    SQL_API_SQLSETSTMTOPTION,    SQL_API_SQLSPECIALCOLUMNS, SQL_API_SQLSTATISTICS,     SQL_API_SQLTABLES,
    SQL_API_SQLBROWSECONNECT,    SQL_API_SQLCOLUMNPRIVILEGES, SQL_API_SQLEXTENDEDFETCH, SQL_API_SQLFOREIGNKEYS,
    SQL_API_SQLMORERESULTS,      SQL_API_SQLNATIVESQL,      SQL_API_SQLNUMPARAMS,      SQL_API_SQLPARAMOPTIONS,
    SQL_API_SQLPRIMARYKEYS,      SQL_API_SQLPROCEDURECOLUMNS, SQL_API_SQLPROCEDURES,   SQL_API_SQLSETSCROLLOPTIONS,
    SQL_API_SQLTABLEPRIVILEGES,  SQL_API_SQLBINDPARAMETER,
};

}  // namespace

// Every function number is answered from the exports; a driver that
// carries fewer functions narrows this in its own isFunctionSupported.
KvStatus BaseConnection::isFunctionSupported(uint16_t function, uint16_t* exists) {
  *exists = 0;
  for (uint16_t exported : exportedFunctions)
    if (exported == function) *exists = 1;
  return kvSuccess;
}
