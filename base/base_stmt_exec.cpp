// SQLPrepare, SQLExecDirect and SQLExecute with the prepare and execute
// steps in their first form: the statement states and kinds, the verb and
// the "?" markers with a parameter record for each, the lazy start of a
// transaction, the driver's prepareCompile and executePreparedStmt, and the
// states after an execution. The rest of preparation (escape clauses, FOR
// UPDATE OF, WHERE CURRENT OF and its emulation, the kept copy of the text,
// asynchronous steps) and of execution (parameter values and their checks,
// data at execution, rows of SQLParamOptions) is built on these two steps,
// here.
#include "base/base_statement.h"

#include "base/base_field.h"
#include "base/base_error_list.h"
#include "base/base_messages.h"
#include "base/base_sql_string.h"

namespace {

// The SQL text argument of SQLPrepare and SQLExecDirect: a text (S1009
// without one) of SQL_NTS or a positive length (S1090).
KvStatus checkSqlArgument(const SQLCHAR* text, SQLINTEGER length) {
  if (!text) {
    addOdbcError(stateArgumentValue);
    return kvFailure;
  }
  if (length <= 0 && length != SQL_NTS) {
    addOdbcError(stateStringLength);
    return kvFailure;
  }
  return kvSuccess;
}

}  // namespace

KvStatus BaseStatement::prepareStep(BaseSqlString* sql) {
  const KvSqlVerb verb = sql->getVerb();
  uint32_t scan = sqlScanMarkers;
  if (verb == sqlVerbSelect || verb == sqlVerbUpdate || verb == sqlVerbDelete) scan |= sqlScanClauses;
  if (sql->scanSql(scan) != kvSuccess) return kvFailure;
  paramCount_ = sql->getMarkerCount();
  if (allocArrays(paramCount_, arrayParams) != kvSuccess) return kvFailure;
  for (uint16_t i = 0; i < paramCount_; ++i) {
    if (params_[i]) continue;
    params_[i] = allocParam();
    if (!params_[i]) return kvFailure;
  }
  if (connection_->openTransactionIfManual() != kvSuccess) return kvFailure;
  if (prepareCompile(sql) != kvSuccess) return kvFailure;
  flags_ |= flagPrepared;
  cursorState_ = cursorPrepared;
  return kvSuccess;
}

KvStatus BaseStatement::executeStep() {
  executedRowCount_ = 0;
  if (executePreparedStmt() != kvSuccess) return kvFailure;
  if (setExecutedState() != kvSuccess) return kvFailure;
  if (fieldCount_ > 0) return kvSuccess;
  int32_t count = -1;
  if (rowCount(&count) != kvSuccess) return kvFailure;
  executedRowCount_ = count;
  return kvSuccess;
}

KvStatus BaseStatement::enterFreshStatement(uint32_t kind) {
  if (cursorState_ == cursorOpen) {
    addOdbcError(stateCursorState);
    return kvFailure;
  }
  if (cursorState_ != cursorAllocated && returnToAllocatedState(0) != kvSuccess) return kvFailure;
  kind_ = kind;
  return kvSuccess;
}

void BaseStatement::abandonStatement() {
  // The failure that brought the statement here is in the list already; a
  // failure of the return only adds its own reason to it.
  KvStatus status = returnToAllocatedState(0);
  (void)status;
}

SQLRETURN BaseStatement::SQLPrepare(SQLCHAR* szSqlStr, SQLINTEGER cbSqlStr) {
  if (threadCheck()) return SQL_HANDLE_BUSY;
  if (standardEntrance(SQL_API_SQLPREPARE) != kvSuccess) return standardExit(SQL_ERROR);
  if (checkSqlArgument(szSqlStr, cbSqlStr) != kvSuccess || enterFreshStatement(stmtKindPrepared) != kvSuccess)
    return standardExit(SQL_ERROR);
  BaseSqlString sql(szSqlStr, cbSqlStr);
  if (prepareStep(&sql) != kvSuccess) {
    abandonStatement();
    return standardExit(SQL_ERROR);
  }
  return standardExit(SQL_SUCCESS);
}

SQLRETURN BaseStatement::SQLExecDirect(SQLCHAR* szSqlStr, SQLINTEGER cbSqlStr) {
  if (threadCheck()) return SQL_HANDLE_BUSY;
  if (standardEntrance(SQL_API_SQLEXECDIRECT) != kvSuccess) return standardExit(SQL_ERROR);
  if (checkSqlArgument(szSqlStr, cbSqlStr) != kvSuccess || enterFreshStatement(stmtKindDirect) != kvSuccess)
    return standardExit(SQL_ERROR);
  BaseSqlString sql(szSqlStr, cbSqlStr);
  if (prepareStep(&sql) != kvSuccess || executeStep() != kvSuccess) {
    abandonStatement();
    return standardExit(SQL_ERROR);
  }
  return standardExit(SQL_SUCCESS);
}

// A failed execution leaves the statement prepared, as it was.
SQLRETURN BaseStatement::SQLExecute() {
  if (threadCheck()) return SQL_HANDLE_BUSY;
  if (standardEntrance(SQL_API_SQLEXECUTE) != kvSuccess) return standardExit(SQL_ERROR);
  if (kind_ != stmtKindPrepared) {
    addOdbcError(stateSequence);
    return standardExit(SQL_ERROR);
  }
  if (cursorState_ == cursorOpen) {
    addOdbcError(stateCursorState);
    return standardExit(SQL_ERROR);
  }
  return standardExit(executeStep() == kvSuccess ? SQL_SUCCESS : SQL_ERROR);
}
