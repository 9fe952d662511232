// The exported ODBC functions of a driver. Apart from the allocators, the
// freeing functions and SQLError, each is one virtual call on its handle,
// whose address is the handle the application holds. Connection sharing
// lives in shared_connection.cpp.
#include "entry/entry.h"

#include "base/handles/base_messages.h"
#include "entry/entry_firewall.h"
#include "entry/shared_connection.h"
#include "util/os/bos.h"
#include "util/os/message_box.h"
#include "util/os/zizdata.h"

#include <cstring>

#define KV_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// This deliverable's module instance: an address that is unique to it.
const char moduleTag = 0;
const void* moduleInstance = nullptr;

// Start-up of the module, where a Windows library would have its DllMain:
// the module instance, and the dialog templates that Windows kept among the
// module's resources.
__attribute__((constructor)) void entryStartUp() {
  if (!moduleInstance) moduleInstance = &moduleTag;
  uint16_t count = 0;
  const KvDialogTemplate* templates = entryDialogTemplates(&count);
  // Without its templates the driver's dialogs cannot be shown, which its
  // callers handle as any dialog that cannot be created; the reason is told
  // here, where it is known.
  if (kvRegisterDialogTemplates(moduleInstance, templates, count) != kvSuccess)
    kvMessageBox(nullptr, kvU("Too many driver libraries are loaded: this driver's dialogs cannot be shown."),
                 nullptr, kvMbOk);
}

// The templates live in this library, so they leave the table with it.
__attribute__((destructor)) void entryShutDown() { kvUnregisterDialogTemplates(moduleInstance); }

}  // namespace

const unsigned char* entryProfileName = reinterpret_cast<const unsigned char*>("ODBC.INI");

const void* entryModuleInstance() { return moduleInstance; }

void entryGetDllName(unsigned char* buffer, uint32_t size) {
  unsigned char name[bosNameBytes];
  name[0] = 0;
  // The loader knows every module it loaded; should it not, the name is empty.
  kvIgnoreStatus(bosGetModuleName(reinterpret_cast<const void*>(&entryGetDllName), name));
  size_t length = std::strlen(reinterpret_cast<const char*>(name));
  if (size == 0) return;
  if (length > size - 1) length = size - 1;
  std::memcpy(buffer, name, length);
  buffer[length] = 0;
}

int entryModalDialog(KvWindow* parent, uint16_t templateId, KvDialogProc proc, intptr_t param) {
  KvWindow* active = kvGetActiveWindow();
  KvWindow* owner = parent;
  if (!parent || (active && kvIsChild(parent, active))) owner = active;
  intptr_t result = kvDialogBoxParam(moduleInstance, templateId, owner, proc, param);
  if (active && kvIsWindow(active) && kvGetActiveWindow() != active) kvSetFocus(active);
  if (result == -1) {
    KvErrorKeeper::addError(new KvError(msgDialogNotShown, reinterpret_cast<const unsigned char*>(""), etError, 0, 0));
    return 1;
  }
  return 0;
}

// ---------------------------------------------------------------- allocation

KV_EXPORT SQLRETURN SQL_API SQLAllocEnv(SQLHENV* phenv) {
  if (!phenv) return SQL_ERROR;
  // The engine's long loops ask this poll whether SQLCancel stopped the
  // statement they run for.
  bosSetAbortPoll(baseAbortPoll);
  if (!mdsZizTaskInit()) {
    *phenv = nullptr;
    return SQL_ERROR;
  }
  BaseEnv* env = nullptr;
  entryFirewall(env, [&] {
    env = entryMakeEnv();
    return SQL_SUCCESS;
  });
  if (!env) {
    mdsZizTaskTerm();
    return SQL_ERROR;
  }
  SQLRETURN initialized =
      entryFirewall(env, [&] { return env->initialize() == kvSuccess ? SQL_SUCCESS : SQL_ERROR; });
  if (initialized != SQL_SUCCESS) {
    delete env;
    mdsZizTaskTerm();
    return SQL_ERROR;
  }
  *phenv = env;
  return SQL_SUCCESS;
}

KV_EXPORT SQLRETURN SQL_API SQLAllocConnect(SQLHENV henv, SQLHDBC* phdbc) {
  auto* env = static_cast<BaseEnv*>(henv);
  if (!env) return SQL_INVALID_HANDLE;
  return entryFirewall(env, [&] {
    BaseCall call(env, SQL_API_SQLALLOCCONNECT);
    if (!call.isOpen()) return call.getResult();
    BaseConnection* connection = entryTakeSharedConnection(env);
    if (!connection) connection = entryMakeConnection(env);
    if (phdbc) *phdbc = connection;
    return call.exit(connection ? SQL_SUCCESS : SQL_ERROR);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLAllocStmt(SQLHDBC hdbc, SQLHSTMT* phstmt) {
  auto* connection = static_cast<BaseConnection*>(hdbc);
  if (!connection) return SQL_INVALID_HANDLE;
  return entryFirewall(connection, [&] {
    BaseCall call(connection, SQL_API_SQLALLOCSTMT);
    if (!call.isOpen()) return call.getResult();
    BaseStatement* statement = entryMakeStatement(connection);
    if (!statement) return call.exit(SQL_ERROR);
    if (phstmt) *phstmt = statement;
    return call.exit(SQL_SUCCESS);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLFreeConnect(SQLHDBC hdbc) {
  auto* connection = static_cast<BaseConnection*>(hdbc);
  if (!connection) return SQL_SUCCESS;
  if (entryReleaseConnection(connection)) return SQL_SUCCESS;  // a share went
  delete connection;
  return SQL_SUCCESS;
}

// An environment whose connections are all gone, or held by other
// environments through shares, goes; one that still has connections of its
// own stays, with S1010 in its list.
KV_EXPORT SQLRETURN SQL_API SQLFreeEnv(SQLHENV henv) {
  if (!henv) return SQL_SUCCESS;  // nothing was counted for it
  auto* env = static_cast<BaseEnv*>(henv);
  if (entryReleaseEnvironment(env) != kvSuccess) {
    env->getErrorList().clearErrors();
    KvErrorKeeper::setErrorList(&env->getErrorList());
    addOdbcError(stateSequence);
    KvErrorKeeper::giveUpErrorList();
    return SQL_ERROR;
  }
  delete env;
  mdsZizTaskTerm();
  return SQL_SUCCESS;
}

KV_EXPORT SQLRETURN SQL_API SQLError(SQLHENV henv, SQLHDBC hdbc, SQLHSTMT hstmt, SQLCHAR* szSqlState,
                                     SQLINTEGER* pfNativeError, SQLCHAR* szErrorMsg, SQLSMALLINT cbErrorMsgMax,
                                     SQLSMALLINT* pcbErrorMsg) {
  // A call refused because another thread's call held its statement left
  // its S1010 with the refused thread.
  if (auto* statement = static_cast<BaseStatement*>(hstmt)) {
    int handled = 0;
    SQLRETURN refusal = baseHandOutRefusal(statement, statement->getConnection(), szSqlState, pfNativeError,
                                           szErrorMsg, cbErrorMsgMax, pcbErrorMsg, &handled);
    if (handled) return refusal;
  }
  // SQLError hands out what the last call left: no entrance, only the lock
  // and the busy bit of the handle asked.
  auto handOut = [&](auto* handle, std::recursive_mutex& lock, auto check) -> SQLRETURN {
    std::lock_guard<std::recursive_mutex> guard(lock);
    if (check()) return SQL_HANDLE_BUSY;
    struct Done {
      decltype(handle) held;
      ~Done() { held->threadDone(); }
    } done{handle};
    return entryFirewall(handle, [&] {
      return handle->getErrorList().SQLError(szSqlState, pfNativeError, szErrorMsg, cbErrorMsgMax, pcbErrorMsg);
    });
  };
  if (auto* statement = static_cast<BaseStatement*>(hstmt)) {
    // The list of a statement on which another thread's call runs is that
    // call's; this thread has nothing there.
    const uintptr_t running = statement->getCallingThread();
    if (running && running != baseThreadId()) return SQL_NO_DATA_FOUND;
    return handOut(statement, statement->getConnection()->getCallLock(), [&] { return statement->threadCheck(); });
  }
  if (auto* connection = static_cast<BaseConnection*>(hdbc))
    return handOut(connection, connection->getCallLock(), [&] { return connection->threadCheck(checkConnection); });
  if (auto* env = static_cast<BaseEnv*>(henv))
    return handOut(env, env->getCallLock(), [&] { return env->threadCheck(); });
  return SQL_INVALID_HANDLE;
}

// ---------------------------------------------------------------- connections

#define KV_CONNECTION(h)                                      \
  auto* connection = static_cast<BaseConnection*>(h);        \
  if (!connection) return SQL_INVALID_HANDLE

KV_EXPORT SQLRETURN SQL_API SQLConnect(SQLHDBC hdbc, SQLCHAR* szDSN, SQLSMALLINT cbDSN, SQLCHAR* szUID,
                                       SQLSMALLINT cbUID, SQLCHAR* szAuthStr, SQLSMALLINT cbAuthStr) {
  KV_CONNECTION(hdbc);
  return entryFirewall(connection, [&] {
    return connection->SQLConnect(szDSN, cbDSN, szUID, cbUID, szAuthStr, cbAuthStr);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLDriverConnect(SQLHDBC hdbc, SQLHWND hwnd, SQLCHAR* szConnStrIn,
                                             SQLSMALLINT cbConnStrIn, SQLCHAR* szConnStrOut,
                                             SQLSMALLINT cbConnStrOutMax, SQLSMALLINT* pcbConnStrOut,
                                             SQLUSMALLINT fDriverCompletion) {
  KV_CONNECTION(hdbc);
  return entryFirewall(connection, [&] {
    SQLRETURN result = connection->SQLDriverConnect(hwnd, szConnStrIn, cbConnStrIn, szConnStrOut,
                                                    cbConnStrOutMax, pcbConnStrOut, fDriverCompletion);
    entryRegisterIfShared(connection, result);
    return result;
  });
}

KV_EXPORT SQLRETURN SQL_API SQLBrowseConnect(SQLHDBC hdbc, SQLCHAR* szConnStrIn, SQLSMALLINT cbConnStrIn,
                                             SQLCHAR* szConnStrOut, SQLSMALLINT cbConnStrOutMax,
                                             SQLSMALLINT* pcbConnStrOut) {
  KV_CONNECTION(hdbc);
  return entryFirewall(connection, [&] {
    return connection->SQLBrowseConnect(szConnStrIn, cbConnStrIn, szConnStrOut, cbConnStrOutMax, pcbConnStrOut);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLDisconnect(SQLHDBC hdbc) {
  KV_CONNECTION(hdbc);
  return entryFirewall(connection, [&] {
    return connection->SQLDisconnect();
  });
}

KV_EXPORT SQLRETURN SQL_API SQLGetConnectOption(SQLHDBC hdbc, SQLUSMALLINT fOption, SQLPOINTER pvParam) {
  KV_CONNECTION(hdbc);
  return entryFirewall(connection, [&] {
    return connection->SQLGetConnectOption(fOption, pvParam);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLSetConnectOption(SQLHDBC hdbc, SQLUSMALLINT fOption, SQLULEN vParam) {
  KV_CONNECTION(hdbc);
  return entryFirewall(connection, [&] {
    return connection->SQLSetConnectOption(fOption, vParam);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLGetInfo(SQLHDBC hdbc, SQLUSMALLINT fInfoType, SQLPOINTER rgbInfoValue,
                                       SQLSMALLINT cbInfoValueMax, SQLSMALLINT* pcbInfoValue) {
  KV_CONNECTION(hdbc);
  return entryFirewall(connection, [&] {
    return connection->SQLGetInfo(fInfoType, rgbInfoValue, cbInfoValueMax, pcbInfoValue);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLNativeSql(SQLHDBC hdbc, SQLCHAR* szSqlStrIn, SQLINTEGER cbSqlStrIn,
                                         SQLCHAR* szSqlStr, SQLINTEGER cbSqlStrMax, SQLINTEGER* pcbSqlStr) {
  KV_CONNECTION(hdbc);
  return entryFirewall(connection, [&] {
    return connection->SQLNativeSql(szSqlStrIn, cbSqlStrIn, szSqlStr, cbSqlStrMax, pcbSqlStr);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLTransact(SQLHENV, SQLHDBC hdbc, SQLUSMALLINT fType) {
  KV_CONNECTION(hdbc);
  return entryFirewall(connection, [&] {
    return connection->SQLTransact(fType);
  });
}

// ---------------------------------------------------------------- statements

#define KV_STATEMENT(h)                                   \
  auto* statement = static_cast<BaseStatement*>(h);      \
  if (!statement) return SQL_INVALID_HANDLE

KV_EXPORT SQLRETURN SQL_API SQLBindCol(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLSMALLINT fCType, SQLPOINTER rgbValue,
                                       SQLLEN cbValueMax, SQLLEN* pcbValue) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    return statement->SQLBindCol(icol, fCType, rgbValue, cbValueMax, pcbValue);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLBindParameter(SQLHSTMT hstmt, SQLUSMALLINT ipar, SQLSMALLINT fParamType,
                                             SQLSMALLINT fCType, SQLSMALLINT fSqlType, SQLULEN cbColDef,
                                             SQLSMALLINT ibScale, SQLPOINTER rgbValue, SQLLEN cbValueMax,
                                             SQLLEN* pcbValue) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    return statement->SQLBindParameter(ipar, fParamType, fCType, fSqlType, cbColDef, ibScale, rgbValue, cbValueMax,
                                       pcbValue);
  });
}

// A cancel with nothing running closes the statement and warns 01S05. The
// warning stays in the statement's list, but the call reports plain success:
// unixODBC reads the diagnostics of a cancel that succeeded with information
// through the driver's SQLGetDiagField, which an ODBC 2 driver does not
// have, and would call through a null pointer.
KV_EXPORT SQLRETURN SQL_API SQLCancel(SQLHSTMT hstmt) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    SQLRETURN result = statement->SQLCancel();
    return result == SQL_SUCCESS_WITH_INFO ? SQL_SUCCESS : result;
  });
}

KV_EXPORT SQLRETURN SQL_API SQLColAttributes(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLUSMALLINT fDescType,
                                             SQLPOINTER rgbDesc, SQLSMALLINT cbDescMax, SQLSMALLINT* pcbDesc,
                                             SQLLEN* pfDesc) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    return statement->SQLColAttributes(icol, fDescType, rgbDesc, cbDescMax, pcbDesc, pfDesc);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLColumnPrivileges(SQLHSTMT hstmt, SQLCHAR* szQualifier, SQLSMALLINT cbQualifier,
                                                SQLCHAR* szOwner, SQLSMALLINT cbOwner, SQLCHAR* szTable,
                                                SQLSMALLINT cbTable, SQLCHAR* szColumn, SQLSMALLINT cbColumn) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    return statement->SQLColumnPrivileges(szQualifier, cbQualifier, szOwner, cbOwner, szTable, cbTable, szColumn,
                                          cbColumn);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLColumns(SQLHSTMT hstmt, SQLCHAR* szQualifier, SQLSMALLINT cbQualifier,
                                       SQLCHAR* szOwner, SQLSMALLINT cbOwner, SQLCHAR* szTable, SQLSMALLINT cbTable,
                                       SQLCHAR* szColumn, SQLSMALLINT cbColumn) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    return statement->SQLColumns(szQualifier, cbQualifier, szOwner, cbOwner, szTable, cbTable, szColumn, cbColumn);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLDescribeCol(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLCHAR* szColName,
                                           SQLSMALLINT cbColNameMax, SQLSMALLINT* pcbColName, SQLSMALLINT* pfSqlType,
                                           SQLULEN* pcbColDef, SQLSMALLINT* pibScale, SQLSMALLINT* pfNullable) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    return statement->SQLDescribeCol(icol, szColName, cbColNameMax, pcbColName, pfSqlType, pcbColDef, pibScale,
                                     pfNullable);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLExecDirect(SQLHSTMT hstmt, SQLCHAR* szSqlStr, SQLINTEGER cbSqlStr) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    return statement->SQLExecDirect(szSqlStr, cbSqlStr);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLExecute(SQLHSTMT hstmt) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    return statement->SQLExecute();
  });
}

KV_EXPORT SQLRETURN SQL_API SQLExtendedFetch(SQLHSTMT hstmt, SQLUSMALLINT fFetchType, SQLLEN irow, SQLULEN* pcrow,
                                             SQLUSMALLINT* rgfRowStatus) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    return statement->SQLExtendedFetch(fFetchType, irow, pcrow, rgfRowStatus);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLFetch(SQLHSTMT hstmt) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    return statement->SQLFetch();
  });
}

KV_EXPORT SQLRETURN SQL_API SQLForeignKeys(SQLHSTMT hstmt, SQLCHAR* szPkQualifier, SQLSMALLINT cbPkQualifier,
                                           SQLCHAR* szPkOwner, SQLSMALLINT cbPkOwner, SQLCHAR* szPkTable,
                                           SQLSMALLINT cbPkTable, SQLCHAR* szFkQualifier, SQLSMALLINT cbFkQualifier,
                                           SQLCHAR* szFkOwner, SQLSMALLINT cbFkOwner, SQLCHAR* szFkTable,
                                           SQLSMALLINT cbFkTable) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    return statement->SQLForeignKeys(szPkQualifier, cbPkQualifier, szPkOwner, cbPkOwner, szPkTable, cbPkTable,
                                     szFkQualifier, cbFkQualifier, szFkOwner, cbFkOwner, szFkTable, cbFkTable);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT hstmt, SQLUSMALLINT fOption) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    return statement->SQLFreeStmt(fOption);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLGetCursorName(SQLHSTMT hstmt, SQLCHAR* szCursor, SQLSMALLINT cbCursorMax,
                                             SQLSMALLINT* pcbCursor) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    return statement->SQLGetCursorName(szCursor, cbCursorMax, pcbCursor);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLGetData(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLSMALLINT fCType, SQLPOINTER rgbValue,
                                       SQLLEN cbValueMax, SQLLEN* pcbValue) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    return statement->SQLGetData(icol, fCType, rgbValue, cbValueMax, pcbValue);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLGetStmtOption(SQLHSTMT hstmt, SQLUSMALLINT fOption, SQLPOINTER pvParam) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    return statement->SQLGetStmtOption(fOption, pvParam);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLGetTypeInfo(SQLHSTMT hstmt, SQLSMALLINT fSqlType) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    return statement->SQLGetTypeInfo(fSqlType);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLMoreResults(SQLHSTMT hstmt) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    return statement->SQLMoreResults();
  });
}

KV_EXPORT SQLRETURN SQL_API SQLNumParams(SQLHSTMT hstmt, SQLSMALLINT* pcpar) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    return statement->SQLNumParams(pcpar);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLNumResultCols(SQLHSTMT hstmt, SQLSMALLINT* pccol) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    return statement->SQLNumResultCols(pccol);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLParamData(SQLHSTMT hstmt, SQLPOINTER* prgbValue) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    return statement->SQLParamData(prgbValue);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLParamOptions(SQLHSTMT hstmt, SQLULEN crow, SQLULEN* pirow) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    return statement->SQLParamOptions(crow, pirow);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLPrepare(SQLHSTMT hstmt, SQLCHAR* szSqlStr, SQLINTEGER cbSqlStr) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    return statement->SQLPrepare(szSqlStr, cbSqlStr);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLPrimaryKeys(SQLHSTMT hstmt, SQLCHAR* szQualifier, SQLSMALLINT cbQualifier,
                                           SQLCHAR* szOwner, SQLSMALLINT cbOwner, SQLCHAR* szTable,
                                           SQLSMALLINT cbTable) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    return statement->SQLPrimaryKeys(szQualifier, cbQualifier, szOwner, cbOwner, szTable, cbTable);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLProcedureColumns(SQLHSTMT hstmt, SQLCHAR* szQualifier, SQLSMALLINT cbQualifier,
                                                SQLCHAR* szOwner, SQLSMALLINT cbOwner, SQLCHAR* szProcName,
                                                SQLSMALLINT cbProcName, SQLCHAR* szColumn, SQLSMALLINT cbColumn) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    return statement->SQLProcedureColumns(szQualifier, cbQualifier, szOwner, cbOwner, szProcName, cbProcName,
                                          szColumn, cbColumn);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLProcedures(SQLHSTMT hstmt, SQLCHAR* szQualifier, SQLSMALLINT cbQualifier,
                                          SQLCHAR* szOwner, SQLSMALLINT cbOwner, SQLCHAR* szProcName,
                                          SQLSMALLINT cbProcName) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    return statement->SQLProcedures(szQualifier, cbQualifier, szOwner, cbOwner, szProcName, cbProcName);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLPutData(SQLHSTMT hstmt, SQLPOINTER rgbValue, SQLLEN cbValue) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    return statement->SQLPutData(rgbValue, cbValue);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLRowCount(SQLHSTMT hstmt, SQLLEN* pcrow) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    return statement->SQLRowCount(pcrow);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLSetCursorName(SQLHSTMT hstmt, SQLCHAR* szCursor, SQLSMALLINT cbCursor) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    return statement->SQLSetCursorName(szCursor, cbCursor);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLSetScrollOptions(SQLHSTMT hstmt, SQLUSMALLINT fConcurrency, SQLLEN crowKeyset,
                                                SQLUSMALLINT crowRowset) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    return statement->SQLSetScrollOptions(fConcurrency, crowKeyset, crowRowset);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLSetStmtOption(SQLHSTMT hstmt, SQLUSMALLINT fOption, SQLULEN vParam) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    return statement->SQLSetStmtOption(fOption, vParam);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLSpecialColumns(SQLHSTMT hstmt, SQLUSMALLINT fColType, SQLCHAR* szQualifier,
                                              SQLSMALLINT cbQualifier, SQLCHAR* szOwner, SQLSMALLINT cbOwner,
                                              SQLCHAR* szTable, SQLSMALLINT cbTable, SQLUSMALLINT fScope,
                                              SQLUSMALLINT fNullable) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    return statement->SQLSpecialColumns(fColType, szQualifier, cbQualifier, szOwner, cbOwner, szTable, cbTable,
                                        fScope, fNullable);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLStatistics(SQLHSTMT hstmt, SQLCHAR* szQualifier, SQLSMALLINT cbQualifier,
                                          SQLCHAR* szOwner, SQLSMALLINT cbOwner, SQLCHAR* szTable,
                                          SQLSMALLINT cbTable, SQLUSMALLINT fUnique, SQLUSMALLINT fAccuracy) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    return statement->SQLStatistics(szQualifier, cbQualifier, szOwner, cbOwner, szTable, cbTable, fUnique,
                                    fAccuracy);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLTablePrivileges(SQLHSTMT hstmt, SQLCHAR* szQualifier, SQLSMALLINT cbQualifier,
                                               SQLCHAR* szOwner, SQLSMALLINT cbOwner, SQLCHAR* szTable,
                                               SQLSMALLINT cbTable) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    return statement->SQLTablePrivileges(szQualifier, cbQualifier, szOwner, cbOwner, szTable, cbTable);
  });
}

KV_EXPORT SQLRETURN SQL_API SQLTables(SQLHSTMT hstmt, SQLCHAR* szQualifier, SQLSMALLINT cbQualifier,
                                      SQLCHAR* szOwner, SQLSMALLINT cbOwner, SQLCHAR* szTable, SQLSMALLINT cbTable,
                                      SQLCHAR* szTableType, SQLSMALLINT cbTableType) {
  KV_STATEMENT(hstmt);
  return entryFirewall(statement, [&] {
    return statement->SQLTables(szQualifier, cbQualifier, szOwner, cbOwner, szTable, cbTable, szTableType,
                                cbTableType);
  });
}
