// The road every catalog function takes: entry (24000 on an open cursor,
// the return to the allocated state otherwise), the result set with its
// columns and checked arguments, the driver's executeXxx, the collection of
// its rows into the result set, the close of the driver's cursor, the sort,
// and the cursor opened on the collected rows (statement kind catalog); a
// failure at any point returns the statement to the allocated state.
//
// A driver that leaves flagAsync set after one of its operations has not
// finished: the core records its step in the result set and the call
// answers SQL_STILL_EXECUTING; the application's repeated call finds the
// result set (the outermost of the statement's chain, of the same kind) and
// carries on at that step. Steps of the fixed-row families: 1 the driver's
// executeXxx, 2 reading its rows.
#include "base/catalog/base_catalog_families.h"

#include "base/handles/base_messages.h"
#include "base/statement/base_statement.h"

KvStatus BaseStatement::enterCatalogCall(BaseCatalogKind kind, BaseCatalogInfo** resumed) {
  *resumed = nullptr;
  if (!(flags_ & flagAsync)) return catalogEntryCheck();
  BaseCatalogInfo* outer = catalogInfo_;
  while (outer && outer->getPrevious()) outer = outer->getPrevious();
  if (kind_ != stmtKindCatalog || !outer || outer->getKind() != kind) {
    // Another function is still running on the statement.
    addOdbcError(stateSequence);
    return kvFailure;
  }
  *resumed = outer;
  return kvSuccess;
}

SQLRETURN BaseStatement::leaveCatalogCall(BaseCall* call, KvStatus status) {
  if (status != kvSuccess) {
    flags_ &= ~uint32_t(flagAsync);
    abandonStatement();
    return call->exit(SQL_ERROR);
  }
  return call->exit((flags_ & flagAsync) ? SQL_STILL_EXECUTING : SQL_SUCCESS);
}

KvStatus BaseStatement::setupRowsCall(BaseRowsCatalogInfo* info, const SQLCHAR* const* texts,
                                      const SQLSMALLINT* lengths) {
  const CatalogFamilyDesc* family = info->getFamily();
  if (family->requiredArgument && !texts[family->requiredArgument - 1]) {
    delete info;
    addOdbcError(stateArgumentValue);
    return kvFailure;
  }
  pushCatalogInfo(info);
  if (setCatalogColumns(family->columnCount, family->columns) != kvSuccess) return kvFailure;
  for (uint16_t i = 0; i < family->argumentCount; ++i) {
    const CatalogArgumentDesc& argument = family->arguments[i];
    if (getCatalogArgument(texts[i], lengths[i], argument.infoType, info->plainSlot(i),
                           argument.isPattern ? info->patternSlot(i) : nullptr) != kvSuccess)
      return kvFailure;
  }
  return kvSuccess;
}

SQLRETURN BaseStatement::runRowsCall(uint16_t function, BaseCatalogKind kind, const SQLCHAR* const* texts,
                                     const SQLSMALLINT* lengths, const uint16_t* options) {
  BaseCall call(this, function);
  if (!call.isOpen()) return call.getResult();
  BaseCatalogInfo* resumed = nullptr;
  if (enterCatalogCall(kind, &resumed) != kvSuccess) return call.exit(SQL_ERROR);
  BaseRowsCatalogInfo* info = static_cast<BaseRowsCatalogInfo*>(resumed);
  if (!info) {
    switch (kind) {
      case catalogStatistics: {
        BaseStatisticsInfo* statistics = new BaseStatisticsInfo(this);
        if (statistics) statistics->setUnique(options[0]);
        info = statistics;
        break;
      }
      case catalogSpecialColumns: {
        BaseSpecialColumnsInfo* special = new BaseSpecialColumnsInfo(this);
        if (special) special->setOptions(options[0], options[1], options[2]);
        info = special;
        break;
      }
      case catalogPrimaryKeys: info = new BasePrimaryKeysInfo(this); break;
      case catalogForeignKeys: info = new BaseForeignKeysInfo(this); break;
      case catalogProcedures: info = new BaseProceduresInfo(this); break;
      case catalogProcedureColumns: info = new BaseProcedureColumnsInfo(this); break;
      case catalogTablePrivileges: info = new BaseTablePrivilegesInfo(this); break;
      case catalogColumnPrivileges: info = new BaseColumnPrivilegesInfo(this); break;
      default: break;
    }
    if (!info || setupRowsCall(info, texts, lengths) != kvSuccess) return leaveCatalogCall(&call, kvFailure);
  }
  if (kind == catalogSpecialColumns) return leaveCatalogCall(&call, specialCore(static_cast<BaseSpecialColumnsInfo*>(info)));
  return leaveCatalogCall(&call, rowsCore(info));
}

KvStatus BaseStatement::executeFamily(BaseRowsCatalogInfo* info) {
  switch (info->getKind()) {
    case catalogStatistics: return executeStatistics(static_cast<BaseStatisticsInfo*>(info)->getInternalCall());
    case catalogPrimaryKeys: return executePrimary();
    case catalogForeignKeys: return executeForeign();
    case catalogProcedures: return executeProcedures();
    case catalogProcedureColumns: return executeProcCols();
    case catalogTablePrivileges: return executeTablePriv();
    case catalogColumnPrivileges: return executeColPriv();
    default:
      addOdbcError(stateGeneral);
      return kvFailure;
  }
}

KvStatus BaseStatement::rowsCore(BaseRowsCatalogInfo* info) {
  if (info->getResumeStep() <= 1) {
    info->setResumeStep(1);
    if (executeFamily(info) != kvSuccess) return kvFailure;
    if (flags_ & flagAsync) return kvSuccess;
    cursorState_ = cursorOpen;
    info->setResumeStep(2);
  }
  if (readFamilyRows(info) != kvSuccess) return kvFailure;
  if (flags_ & flagAsync) return kvSuccess;
  return finishCatalogRows(info);
}

KvStatus BaseStatement::readFamilyRows(BaseRowsCatalogInfo* info) {
  const CatalogFamilyDesc* family = info->getFamily();
  for (;;) {
    uint16_t endOfData = 0;
    if (fetchRow(&endOfData) != kvSuccess) return kvFailure;
    if ((flags_ & flagAsync) || endOfData) return kvSuccess;
    CatalogRowInfo* row = info->makeRow();
    if (!row) return kvFailure;
    for (uint16_t column = 1; column <= family->columnCount; ++column) {
      if (family->readColumns && !((family->readColumns >> (column - 1)) & 1)) continue;
      const int16_t sqlType = family->columns[column - 1].sqlType;
      KvStatus status = kvSuccess;
      if (sqlType == SQL_SMALLINT || sqlType == SQL_INTEGER) {
        int32_t number = 0;
        int present = 0;
        status = getCatalogValue(column, &number, &present);
        if (present) row->setNumber(column, sqlType == SQL_SMALLINT ? int16_t(number) : number);
      } else {
        unsigned char* text = nullptr;
        status = getCatalogValue(column, &text);
        row->adoptText(column, text);
      }
      if (status != kvSuccess) {
        delete row;
        return kvFailure;
      }
    }
    if (!info->passesFilters(*row)) {
      delete row;
      continue;
    }
    if (info->appendRow(row) != kvSuccess) return kvFailure;
  }
}

KvStatus BaseStatement::finishCatalogRows(BaseCatalogInfo* info) {
  if (setToAllocatedState(0) != kvSuccess) return kvFailure;
  if (info->sortRows() != kvSuccess) return kvFailure;
  info->setResumeStep(0);
  kind_ = stmtKindCatalog;
  resetCursorPosition();
  cursorState_ = fieldCount_ ? cursorOpen : cursorExecuted;
  return kvSuccess;
}
