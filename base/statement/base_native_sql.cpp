// SQLNativeSql: the text of a statement as the driver would hand it to the
// data source, that is after the escape pass that prepare runs too. Nothing
// is prepared and the application's text is never written.
#include "base/connection/base_connection.h"

#include "base/handles/base_messages.h"
#include "base/handles/base_out_string.h"

SQLRETURN BaseConnection::SQLNativeSql(SQLCHAR* szSqlStrIn, SQLINTEGER cbSqlStrIn, SQLCHAR* szSqlStr,
                                       SQLINTEGER cbSqlStrMax, SQLINTEGER* pcbSqlStr) {
  BaseCall call(this, SQL_API_SQLNATIVESQL);
  if (!call.isOpen()) return call.getResult();
  if (!szSqlStrIn) {
    addOdbcError(stateArgumentValue);
    return call.exit(SQL_ERROR);
  }
  BaseInString sql(szSqlStrIn, cbSqlStrIn);
  if (sql.hasInvalidLength() || (szSqlStr && cbSqlStrMax < 0)) {
    addOdbcError(stateStringLength);
    return call.exit(SQL_ERROR);
  }
  if (sql.convertFromApp() != kvSuccess || expandEscapeClauses(&sql, nullptr) != kvSuccess)
    return call.exit(SQL_ERROR);
  BaseOutString out(szSqlStr, int32_t(cbSqlStrMax), pcbSqlStr);
  return call.exit(out.setStrValue(sql) == kvSuccess ? SQL_SUCCESS : SQL_ERROR);
}
