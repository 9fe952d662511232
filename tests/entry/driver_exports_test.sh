#!/usr/bin/env bash
# A driver library exports exactly the ODBC 2 functions it carries and
# ConfigDSN, nothing else: no C++ symbols, and no ODBC 3 function such as
# SQLAllocHandle, which would make the Driver Manager treat it as an ODBC 3
# driver.
#
#   driver_exports_test.sh <library> [<ODBC 2 function the driver does not carry>...]
#
# The functions are written out here rather than taken from the build's own
# list, so that a mistake in that list fails this test.
set -euo pipefail

# Every driver of the family.
core=(
  SQLAllocConnect SQLAllocEnv SQLAllocStmt SQLBindCol SQLBindParameter SQLCancel SQLColAttributes
  SQLColumns SQLConnect SQLDescribeCol SQLDisconnect SQLDriverConnect SQLError SQLExecDirect SQLExecute
  SQLExtendedFetch SQLFetch SQLFreeConnect SQLFreeEnv SQLFreeStmt SQLGetConnectOption SQLGetCursorName
  SQLGetData SQLGetInfo SQLGetStmtOption SQLGetTypeInfo SQLMoreResults SQLNativeSql SQLNumParams
  SQLNumResultCols SQLParamData SQLParamOptions SQLPrepare SQLPutData SQLRowCount SQLSetConnectOption
  SQLSetCursorName SQLSetScrollOptions SQLSetStmtOption SQLSpecialColumns SQLStatistics SQLTables
  SQLTransact
)
# Added by the client-server drivers.
server=(
  SQLBrowseConnect SQLColumnPrivileges SQLForeignKeys SQLPrimaryKeys SQLProcedureColumns SQLProcedures
  SQLTablePrivileges
)

library=$1
shift
known=$(printf '%s\n' "${core[@]}" "${server[@]}" | sort)
missing=$(printf '%s\n' "$@" | sed '/^$/d' | sort)
unknown=$(comm -13 <(echo "$known") <(echo "$missing"))
if [ -n "$unknown" ]; then
  echo "not ODBC 2 functions of a driver: $unknown"
  exit 1
fi
expected=$( (comm -23 <(echo "$known") <(echo "$missing"); echo ConfigDSN) | sed '/^$/d' | sort)
actual=$(nm -D --defined-only "$library" | awk '{print $3}' | sort)
if [ "$expected" != "$actual" ]; then
  echo "exports of $library differ (< expected, > exported):"
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi
echo "$(basename "$library"): $(echo "$actual" | wc -l) exports as expected"
