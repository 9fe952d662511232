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
SQLRETURN BaseStatement::SQLColumnPrivileges(SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*,
                                             SQLSMALLINT, SQLCHAR*, SQLSMALLINT)
    KV_STMT_NOT_SUPPORTED(SQLColumnPrivileges)
SQLRETURN BaseStatement::SQLColumns(SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT,
                                    SQLCHAR*, SQLSMALLINT) KV_STMT_NOT_SUPPORTED(SQLColumns)
SQLRETURN BaseStatement::SQLForeignKeys(SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT,
                                        SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT)
    KV_STMT_NOT_SUPPORTED(SQLForeignKeys)
SQLRETURN BaseStatement::SQLNumParams(SQLSMALLINT*) KV_STMT_NOT_SUPPORTED(SQLNumParams)
SQLRETURN BaseStatement::SQLParamData(SQLPOINTER*) KV_STMT_NOT_SUPPORTED(SQLParamData)
SQLRETURN BaseStatement::SQLParamOptions(SQLULEN, SQLULEN*) KV_STMT_NOT_SUPPORTED(SQLParamOptions)
SQLRETURN BaseStatement::SQLPrimaryKeys(SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT)
    KV_STMT_NOT_SUPPORTED(SQLPrimaryKeys)
SQLRETURN BaseStatement::SQLProcedureColumns(SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*,
                                             SQLSMALLINT, SQLCHAR*, SQLSMALLINT)
    KV_STMT_NOT_SUPPORTED(SQLProcedureColumns)
SQLRETURN BaseStatement::SQLProcedures(SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT)
    KV_STMT_NOT_SUPPORTED(SQLProcedures)
SQLRETURN BaseStatement::SQLPutData(SQLPOINTER, SQLLEN) KV_STMT_NOT_SUPPORTED(SQLPutData)
SQLRETURN BaseStatement::SQLSpecialColumns(SQLUSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*,
                                           SQLSMALLINT, SQLUSMALLINT, SQLUSMALLINT)
    KV_STMT_NOT_SUPPORTED(SQLSpecialColumns)
SQLRETURN BaseStatement::SQLStatistics(SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT,
                                       SQLUSMALLINT, SQLUSMALLINT) KV_STMT_NOT_SUPPORTED(SQLStatistics)
SQLRETURN BaseStatement::SQLTablePrivileges(SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT)
    KV_STMT_NOT_SUPPORTED(SQLTablePrivileges)
SQLRETURN BaseStatement::SQLTables(SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*,
                                   SQLSMALLINT) KV_STMT_NOT_SUPPORTED(SQLTables)
