// Statement operations of the ODBC interface that this framework does not
// carry yet answer IM001 (Driver does not support this function) through
// the call discipline, so that an application gets a clean diagnostic.
#include "base/base_messages.h"
#include "base/base_statement.h"

#define KV_STMT_NOT_SUPPORTED(call)                     \
  {                                                     \
    if (threadCheck()) return SQL_HANDLE_BUSY;          \
    standardEntrance(0);                                \
    addOdbcError(stateNotSupported);                    \
    return standardExit(SQL_ERROR);                     \
  }

SQLRETURN BaseStatement::SQLBindParameter(SQLUSMALLINT, SQLSMALLINT, SQLSMALLINT, SQLSMALLINT, SQLULEN,
                                          SQLSMALLINT, SQLPOINTER, SQLLEN, SQLLEN*)
    KV_STMT_NOT_SUPPORTED(SQLBindParameter)
SQLRETURN BaseStatement::SQLNumParams(SQLSMALLINT*) KV_STMT_NOT_SUPPORTED(SQLNumParams)
SQLRETURN BaseStatement::SQLParamData(SQLPOINTER*) KV_STMT_NOT_SUPPORTED(SQLParamData)
SQLRETURN BaseStatement::SQLParamOptions(SQLULEN, SQLULEN*) KV_STMT_NOT_SUPPORTED(SQLParamOptions)
SQLRETURN BaseStatement::SQLPutData(SQLPOINTER, SQLLEN) KV_STMT_NOT_SUPPORTED(SQLPutData)
