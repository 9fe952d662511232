// Column bindings: SQLBindCol, and the resolution of the bindings that
// every fetch runs first (prepareBindings). SQL_UNBIND (freeBindings) is
// with the statement's lifecycle.
//
// A binding keeps the application's buffer, size and SQLLEN indicator for
// row 0 of the bound arrays; a fixed-size C type gets its own size whatever
// the application gave (SQL_C_LONG with size 0 still writes 4 bytes), so
// that column-wise arrays step by the value's size. The binding array is
// indexed by column number; entry 0 is the bookmark column.
#include "base/convert/base_convert.h"
#include "base/handles/base_error_list.h"
#include "base/results/base_field.h"
#include "base/handles/base_messages.h"
#include "base/statement/base_statement.h"
#include "base/convert/base_type_table.h"

SQLRETURN BaseStatement::SQLBindCol(SQLUSMALLINT icol, SQLSMALLINT fCType, SQLPOINTER rgbValue, SQLLEN cbValueMax,
                                    SQLLEN* pcbValue) {
  BaseCall call(this, SQL_API_SQLBINDCOL);
  if (!call.isOpen()) return call.getResult();
  if (icol == 0) {
    KvStatus status = kvSuccess;
    const uint32_t bookmarks = connection_->getInfoNumber(SQL_BOOKMARK_PERSISTENCE, &status);
    if (status != kvSuccess) return call.exit(SQL_ERROR);
    if (bookmarks == 0) {
      addOdbcError(stateNotCapable);
      return call.exit(SQL_ERROR);
    }
  }
  // Column numbers run to 65535; the array holds at most 16384 entries.
  if (uint32_t(icol) + 1 > baseMaxArrayEntries) {
    addOdbcError(stateColumnNumber, msgTooManyBindings) << uint32_t(icol) + 1 << uint32_t(baseMaxArrayEntries);
    return call.exit(SQL_ERROR);
  }
  if (rgbValue) {
    // A C type the conversions do not know could only ever fail at the
    // fetch, so it is refused here.
    if (!baseFindCType(fCType)) {
      addOdbcError(stateProgramType);
      return call.exit(SQL_ERROR);
    }
    if (cbValueMax < 0) {
      addOdbcError(stateStringLength);
      return call.exit(SQL_ERROR);
    }
  }
  if (allocArrays(uint16_t(icol + 1), arrayBindings) != kvSuccess) return call.exit(SQL_ERROR);
  delete bindings_[icol];
  bindings_[icol] = nullptr;
  flags_ |= flagRebindAll;

  if (!rgbValue) {
    unbindFlds();
    if (icol == bindingCount_) {
      while (bindingCount_ > 0 && !bindings_[bindingCount_]) --bindingCount_;
    }
    return call.exit(SQL_SUCCESS);
  }
  const uint32_t fixedSize = BaseCTypeSize(fCType);
  bindings_[icol] = new BaseBinding(fCType, rgbValue, fixedSize ? SQLLEN(fixedSize) : cbValueMax, pcbValue);
  if (icol > bindingCount_) bindingCount_ = icol;
  return call.exit(SQL_SUCCESS);
}

KvStatus BaseStatement::prepareBindings() {
  if (describeColumns() != kvSuccess) return kvFailure;
  if (fieldCount_ == 0) {
    addOdbcError(stateCursorState);
    return kvFailure;
  }
  if (bindingCount_ > fieldCount_) {
    addOdbcError(stateColumnNumber, msgBoundColumnsExceed);
    return kvFailure;
  }
  getDataColumn_ = 0;
  getDataCType_ = 0;
  getDataOffset_ = 0;
  flags_ &= ~uint32_t(flagGetDataDone);
  if (!(flags_ & flagRebindAll)) return kvSuccess;

  // Every binding is checked before the fetch fails, so that one call
  // reports every column that cannot be converted.
  KvStatus status = kvSuccess;
  const bool singleRow = options_[optWordRowsetSize] <= 1;
  for (uint16_t column = 0; bindings_ && column <= bindingCount_; ++column) {
    BaseBinding* binding = bindings_[column];
    if (!binding) continue;
    if (column == 0) {
      // The bookmark is a 32-bit number.
      binding->resolvedCType = binding->cType == SQL_C_DEFAULT ? int16_t(SQL_C_LONG) : binding->cType;
    } else {
      const int16_t sqlType = fields_[column - 1] ? fields_[column - 1]->sqlType : int16_t(SQL_CHAR);
      if (binding->flags & BaseBinding::flagDefaultType) {
        binding->resolvedCType = BaseDefaultCType(sqlType);
      } else if (BaseCheckColumnConversion(column, sqlType, binding->cType) != kvSuccess) {
        status = kvFailure;
        continue;
      }
    }
    binding->flags &= ~uint32_t(BaseBinding::flagUnresolved);
    if (singleRow && bindFld(column) != kvSuccess) status = kvFailure;
  }
  if (status == kvSuccess) flags_ &= ~uint32_t(flagRebindAll);
  return status;
}
