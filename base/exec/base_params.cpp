// Parameters of a statement: SQLBindParameter fills one record per "?"
// marker, SQLNumParams counts the markers, SQLParamOptions asks for rows of
// values, and the parameter check completes a record's description before
// its value is used (the C type resolved and checked against the SQL type,
// precision and scale normalised by SQL type, the size of a fixed-size C
// type).
#include "base/statement/base_statement.h"

#include "base/convert/base_convert.h"
#include "base/results/base_field.h"
#include "base/handles/base_messages.h"
#include "base/convert/base_type_table.h"

#include <climits>

namespace {

bool isParamType(SQLSMALLINT type) {
  return type == SQL_PARAM_INPUT || type == SQL_PARAM_INPUT_OUTPUT || type == SQL_PARAM_OUTPUT;
}

// SQL types whose precision and scale are fixed; the check writes these.
struct FixedPrecision {
  int16_t sqlType;
  uint32_t precision;
};
const FixedPrecision fixedPrecisions[] = {
    {SQL_BIT, 1},      {SQL_TINYINT, 3}, {SQL_BIGINT, 20}, {SQL_INTEGER, 10},
    {SQL_SMALLINT, 5}, {SQL_FLOAT, 15},  {SQL_DOUBLE, 15}, {SQL_REAL, 7},
};

// The timestamp forms that a zero scale allows: precision 13 keeps minutes
// (scale -4), 16 seconds (-2), 19 whole seconds.
KvStatus checkTimestamp(uint16_t parameter, BaseParam* param) {
  if (param->scale < 0) {
    addOdbcError(stateScale, msgTimestampScale) << uint32_t(parameter) << param->precision
                                                << int32_t(param->scale);
    return kvFailure;
  }
  if (param->scale == 0) {
    switch (param->precision) {
      case 13: param->scale = -4; return kvSuccess;
      case 16: param->scale = -2; return kvSuccess;
      case 19: return kvSuccess;
      default: break;
    }
    if (param->precision >= 21 && param->precision <= 29) {
      param->scale = int16_t(param->precision - 20);
      return kvSuccess;
    }
    addOdbcError(statePrecision, msgTimestampPrecision) << uint32_t(parameter) << param->precision;
    return kvFailure;
  }
  if (param->scale > 9 || param->precision != 20u + uint32_t(param->scale)) {
    addOdbcError(stateScale, msgTimestampScale) << uint32_t(parameter) << param->precision
                                                << int32_t(param->scale);
    return kvFailure;
  }
  return kvSuccess;
}

}  // namespace

KvStatus BaseStatement::checkParam(uint16_t parameter, BaseParam* param) {
  if (param->cType == SQL_C_DEFAULT) {
    param->cType = BaseDefaultCType(param->sqlType);
  } else if (BaseCheckParamConversion(parameter, param->cType, param->sqlType) != kvSuccess) {
    return kvFailure;
  }

  for (const FixedPrecision& fixed : fixedPrecisions) {
    if (fixed.sqlType != param->sqlType) continue;
    param->precision = fixed.precision;
    param->scale = 0;
  }
  const bool nativeParams = (connection_->getFlags() & BaseConnection::flagDriverTakesParams) != 0;
  switch (param->sqlType) {
    case SQL_LONGVARBINARY:
    case SQL_LONGVARCHAR: {
      if (nativeParams) break;
      // A literal in the text can be no longer than the data source allows.
      const uint32_t limit =
          connection_->getInfoNumber(param->sqlType == SQL_LONGVARBINARY ? SQL_MAX_BINARY_LITERAL_LEN
                                                                         : SQL_MAX_CHAR_LITERAL_LEN);
      if (limit != 0 && limit < param->precision) {
        param->precision = limit;
        addOdbcWarning(stateWarning, msgParamPrecisionLoss) << uint32_t(parameter);
      }
      break;
    }
    case SQL_NUMERIC:
    case SQL_DECIMAL:
      if (param->scale < 0 && !(connection_->getFlags() & BaseConnection::flagNegativeScale)) {
        addOdbcError(stateScale, msgNegativeScale) << uint32_t(parameter);
        return kvFailure;
      }
      [[fallthrough]];
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_BINARY:
    case SQL_VARBINARY:
      if (param->precision == 0) {
        addOdbcError(statePrecision, msgZeroPrecision) << uint32_t(parameter);
        return kvFailure;
      }
      break;
    case SQL_TIMESTAMP:
      if (checkTimestamp(parameter, param) != kvSuccess) return kvFailure;
      break;
    default:
      break;
  }

  const uint32_t fixedSize = BaseCTypeSize(param->cType);
  if (fixedSize) param->bufferSize = SQLLEN(fixedSize);
  param->paramFlags |= BaseParam::flagChecked;
  return kvSuccess;
}

// Types outside ODBC 2 that unixODBC passes through are taken in their
// ODBC 2 meaning (SQL_WVARCHAR as SQL_VARCHAR, 91-93 as 9-11); a type the
// conversions do not know is refused here, never dropped at execution.
SQLRETURN BaseStatement::SQLBindParameter(SQLUSMALLINT ipar, SQLSMALLINT fParamType, SQLSMALLINT fCType,
                                          SQLSMALLINT fSqlType, SQLULEN cbColDef, SQLSMALLINT ibScale,
                                          SQLPOINTER rgbValue, SQLLEN cbValueMax, SQLLEN* pcbValue) {
  BaseCall call(this, SQL_API_SQLBINDPARAMETER);
  if (!call.isOpen()) return call.getResult();
  if (ipar < 1) {
    addOdbcError(stateInvalidParamNumber);
    return call.exit(SQL_ERROR);
  }
  if (cbValueMax == -1) fParamType = SQL_PARAM_INPUT;  // an old-style binding
  if (!isParamType(fParamType) ||
      (fParamType != SQL_PARAM_INPUT && !(connection_->getFlags() & BaseConnection::flagOutputParams))) {
    addOdbcError(stateParamType);
    return call.exit(SQL_ERROR);
  }
  if (!baseFindCType(fCType)) {
    addOdbcError(stateProgramType);
    return call.exit(SQL_ERROR);
  }
  const int16_t sqlType = BaseOdbc2SqlType(fSqlType);
  if (!baseFindSqlType(sqlType)) {
    addOdbcError(stateSqlType);
    return call.exit(SQL_ERROR);
  }
  if (cbValueMax < -1) {
    addOdbcError(stateStringLength);
    return call.exit(SQL_ERROR);
  }
  if (allocArrays(ipar, arrayParams) != kvSuccess) return call.exit(SQL_ERROR);
  BaseParam*& slot = params_[ipar - 1];
  if (!slot) slot = allocParam();
  if (!slot) return call.exit(SQL_ERROR);
  BaseParam* param = slot;
  param->cType = fCType;
  param->sqlType = sqlType;
  param->precision = cbColDef > UINT32_MAX ? UINT32_MAX : uint32_t(cbColDef);
  param->scale = ibScale;
  param->value = rgbValue;
  param->length = pcbValue;
  param->paramType = uint16_t(fParamType);
  param->bufferSize = cbValueMax;
  param->paramFlags &= ~uint32_t(BaseParam::flagBound | BaseParam::flagChecked);
  if (fParamType != SQL_PARAM_INPUT && checkParam(ipar, param) != kvSuccess) return call.exit(SQL_ERROR);
  return call.exit(SQL_SUCCESS);
}

SQLRETURN BaseStatement::SQLNumParams(SQLSMALLINT* pcpar) {
  BaseCall call(this, SQL_API_SQLNUMPARAMS);
  if (!call.isOpen()) return call.getResult();
  if (pcpar) *pcpar = SQLSMALLINT(paramCount_);
  return call.exit(SQL_SUCCESS);
}

// No rows at all would run nothing and report success: refused (S1107).
SQLRETURN BaseStatement::SQLParamOptions(SQLULEN crow, SQLULEN* pirow) {
  BaseCall call(this, SQL_API_SQLPARAMOPTIONS);
  if (!call.isOpen()) return call.getResult();
  if (crow == 0) {
    addOdbcError(stateRowRange);
    return call.exit(SQL_ERROR);
  }
  paramRows_ = crow;
  paramRowCounter_ = pirow;
  return call.exit(SQL_SUCCESS);
}
