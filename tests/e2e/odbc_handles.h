// The handles every end-to-end test from C++ starts with, made and freed as
// an application makes and frees them through the Driver Manager.
#pragma once

#include <sql.h>
#include <sqlext.h>

// Allocates an environment and a connection; with a data source, connects
// to it, and with stmt, allocates a statement handle as well. Returns the
// first answer that is neither success nor success with information, else
// the answer of SQLConnect (SQL_SUCCESS without a data source); what was
// not made stays null.
inline SQLRETURN odbcOpen(const char* dataSource, SQLHENV* env, SQLHDBC* dbc, SQLHSTMT* stmt = nullptr) {
  SQLRETURN rc = SQLAllocEnv(env);
  if (rc != SQL_SUCCESS) return rc;
  rc = SQLAllocConnect(*env, dbc);
  if (rc != SQL_SUCCESS || !dataSource) return rc;
  const SQLRETURN connected = SQLConnect(*dbc, (SQLCHAR*)dataSource, SQL_NTS, nullptr, 0, nullptr, 0);
  if (!SQL_SUCCEEDED(connected) || !stmt) return connected;
  rc = SQLAllocStmt(*dbc, stmt);
  return rc == SQL_SUCCESS ? connected : rc;
}

// Frees what odbcOpen made (null handles are passed over), disconnecting
// first.
inline void odbcClose(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt = SQL_NULL_HSTMT) {
  if (stmt != SQL_NULL_HSTMT) SQLFreeStmt(stmt, SQL_DROP);
  if (dbc != SQL_NULL_HDBC) {
    SQLDisconnect(dbc);
    SQLFreeConnect(dbc);
  }
  if (env != SQL_NULL_HENV) SQLFreeEnv(env);
}
