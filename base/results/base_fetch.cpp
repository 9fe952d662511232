// Fetching: SQLFetch, SQLExtendedFetch, SQLGetData and SQLSetPos, and the
// steps they share (the next row, a row by number, the bound columns of a
// row, one column value).
//
// The framework owns the cursor position (rowsetStart_, rowsetIndex_) and
// keeps its own copy of the row statuses: the application's status array
// and rows-fetched pointer of SQLExtendedFetch are written only during that
// call, because a Driver Manager may hand a driver an array of its own that
// lives no longer than the call. A driver produces rows (fetchRow,
// fetchRandomRow) and writes one value on request (getData).
#include "base/catalog/base_catalog_info.h"
#include "base/convert/base_convert.h"
#include "base/handles/base_error_list.h"
#include "base/results/base_field.h"
#include "base/handles/base_message_ids.h"
#include "base/handles/base_messages.h"
#include "base/handles/base_out_string.h"
#include "base/statement/base_statement.h"
#include "util/memory/ram.h"

namespace {

uint32_t errorCount() {
  KvErrorList* list = KvErrorKeeper::getErrorList();
  return list ? list->getCount() : 0;
}

// Whether a 01004 warning was posted at or after position first.
bool truncatedSince(uint32_t first) {
  KvErrorList* list = KvErrorKeeper::getErrorList();
  for (uint32_t i = first; list && i < list->getCount(); ++i) {
    const KvError* error = list->getErrorAtPos(i);
    if (error && error->isWarning() && error->getStateIndex() == stateTruncated) return true;
  }
  return false;
}

// Removes the 01004 warnings posted at or after position first.
void dropTruncationsSince(uint32_t first) {
  KvErrorList* list = KvErrorKeeper::getErrorList();
  for (uint32_t i = list ? list->getCount() : 0; i > first; --i) {
    KvError* error = list->getErrorAtPos(i - 1);
    if (!error || !error->isWarning() || error->getStateIndex() != stateTruncated) continue;
    list->unlink(error);
    if (!error->isStatic()) delete error;
  }
}

// A row that failed inside a rowset: 01S01 goes in front of the row's own
// errors, which become warnings, so that the call itself succeeds.
void markRowError(uint32_t first) {
  KvErrorList* list = KvErrorKeeper::getErrorList();
  if (!list) return;
  addOdbcWarning(stateErrorInRow);
  list->moveLastNodeToPos(first);
  list->setWarningAfterPos(first);
}

bool isRowUnusable(uint16_t status) {
  return status == SQL_ROW_DELETED || status == SQL_ROW_NOROW || status == SQL_ROW_ERROR;
}

// The largest row number the cursor counts to.
constexpr int64_t lastRowNumber = 2147483647;

}  // namespace

// ---------------------------------------------------------------- shared steps

KvStatus BaseStatement::fetchNextRow(uint16_t* endOfData) {
  *endOfData = 0;
  const SQLULEN maxRows = options_[optWordMaxRows];
  if (maxRows != 0 && rowsetStart_ > 0 && uint64_t(rowsetStart_) + rowsetIndex_ > maxRows) {
    *endOfData = 1;
    return kvSuccess;
  }
  if (kind_ == stmtKindCatalog && catalogInfo_) {
    uint16_t status = 0;
    if (catalogInfo_->fetchNext(&status) != kvSuccess) return kvFailure;
    *endOfData = status != 0;
    return kvSuccess;
  }
  if (flags_ & flagEndOfData) {
    *endOfData = 1;
    return kvSuccess;
  }
  if (fetchRow(endOfData) != kvSuccess) return kvFailure;
  if (*endOfData) flags_ |= flagEndOfData;
  return kvSuccess;
}

KvStatus BaseStatement::fetchRowAt(uint32_t row, uint16_t* status) {
  *status = SQL_ROW_NOROW;
  const SQLULEN maxRows = options_[optWordMaxRows];
  if (row == 0 || (maxRows != 0 && row > maxRows)) return kvSuccess;
  if (kind_ == stmtKindCatalog && catalogInfo_) return catalogInfo_->fetchRandom(row, status);
  return fetchRandomRow(row, status);
}

KvStatus BaseStatement::fetchColumnValue(uint16_t column, int16_t cType, BaseOutString* out) {
  if (kind_ == stmtKindCatalog && catalogInfo_) {
    if (baseCatalogColumnHidden(catalogInfo_->getKind(), column, connection_->getWorkArounds())) {
      out->setLength(SQL_NULL_DATA);
      return kvSuccess;
    }
    return catalogInfo_->getColumnValue(column, cType, out);
  }
  const BaseField* field = column >= 1 && column <= fieldCount_ ? fields_[column - 1] : nullptr;
  const int16_t sqlType = field ? BaseOdbc2SqlType(field->sqlType) : int16_t(SQL_CHAR);
  const SQLULEN maxLength = options_[optWordMaxLength];
  if (maxLength != 0 && (sqlType == SQL_LONGVARCHAR || sqlType == SQL_LONGVARBINARY) && out->getBuffer()) {
    // SQL_MAX_LENGTH: the value ends at maxLength bytes of the source,
    // whatever the buffer could take.
    uint64_t limit = maxLength > getDataOffset_ ? maxLength - getDataOffset_ : 0;
    if (cType == SQL_C_CHAR) {
      if (sqlType == SQL_LONGVARBINARY) limit *= 2;
      limit += 1;
    }
    if (limit < out->getSize()) {
      out->limitSize(uint32_t(limit));
      const uint32_t first = errorCount();
      if (getData(column, cType, out) != kvSuccess) return kvFailure;
      if (truncatedSince(first)) {
        dropTruncationsSince(first);
        out->setLength(int64_t(limit) - (cType == SQL_C_CHAR ? 1 : 0));
      }
      return kvSuccess;
    }
  }
  if (getData(column, cType, out) != kvSuccess) return kvFailure;
  if ((connection_->getWorkArounds() & BaseConnection::waZeroLengthIsNull) && out->getLength() == 0) {
    out->setLength(SQL_NULL_DATA);
  }
  return kvSuccess;
}

KvStatus BaseStatement::transferBoundColumns(uint32_t rowIndex) {
  KvStatus status = kvSuccess;
  const SQLULEN bindType = options_[optWordBindType];
  for (uint16_t column = 0; column <= bindingCount_ && bindings_; ++column) {
    const BaseBinding* binding = bindings_[column];
    if (!binding) continue;
    // A copy of the wrapper moves to the row, so that the binding itself
    // keeps row 0 and its full size.
    BaseOutString out = binding->out;
    out.advance(bindType, rowIndex);
    if (fetchColumnValue(column, binding->resolvedCType, &out) != kvSuccess) status = kvFailure;
  }
  return status;
}

// ---------------------------------------------------------------- SQLFetch

SQLRETURN BaseStatement::SQLFetch() {
  BaseCall call(this, SQL_API_SQLFETCH);
  if (!call.isOpen()) return call.getResult();
  const bool continuing = (flags_ & flagAsync) != 0;
  if (!continuing) {
    if (prepareBindings() != kvSuccess) return call.exit(SQL_ERROR);
    if (rowsetStart_ < 0) return call.exit(SQL_NO_DATA_FOUND);
    ++rowsetStart_;
    rowsetIndex_ = 0;
    // A single-row fetch leaves no rowset statuses behind.
    ramFree(rowStatus_);
    rowStatus_ = nullptr;
    rowStatusCount_ = 0;
  }
  uint16_t endOfData = 0;
  if (fetchNextRow(&endOfData) != kvSuccess) return call.exit(SQL_ERROR);
  if (flags_ & flagAsync) return call.exit(SQL_STILL_EXECUTING);
  if (endOfData) {
    rowsetStart_ = -1;
    return call.exit(SQL_NO_DATA_FOUND);
  }
  return call.exit(transferBoundColumns(0) == kvSuccess ? SQL_SUCCESS : SQL_ERROR);
}

// ---------------------------------------------------------------- SQLExtendedFetch

namespace {

// Where a scroll move puts the cursor.
enum MoveResult { moveToRow, moveBeforeStart, moveAfterEnd, moveFromLastRow };

// The steps of SQLExtendedFetch in which a driver's fetchRow or
// fetchRandomRow may leave its operation unfinished (flagAsync): the call
// answers SQL_STILL_EXECUTING and the next call goes on in the same step.
enum FetchStep : uint16_t { fetchStepNone = 0, fetchStepLastRow = 1, fetchStepRowset = 2, fetchStepReposition = 3 };

// The move a fetch type makes from the rowset that starts at row *c (0
// before the first row, -1 after the last): moveToRow with the new first
// row in *c, moveFromLastRow when the move counts *move rows from after
// the last row (which must be found first), or a place outside the rows.
MoveResult planMove(SQLUSMALLINT fetchType, SQLLEN irow, int64_t rowset, int64_t* c, int64_t* move) {
  bool absolute = false;
  int64_t target = 0;
  switch (fetchType) {
    case SQL_FETCH_NEXT:
      if (*c == 0) {
        absolute = true;
        target = 1;
      } else {
        target = rowset;
      }
      break;
    case SQL_FETCH_FIRST: absolute = true; target = 1; break;
    case SQL_FETCH_LAST: absolute = true; target = -rowset; break;
    case SQL_FETCH_PRIOR: target = -rowset; break;
    case SQL_FETCH_ABSOLUTE: absolute = true; target = irow; break;
    case SQL_FETCH_RELATIVE: target = irow; break;
    default: break;  // the rowset stays where it is
  }
  if (absolute && target > 0) {
    *c = target;
    return moveToRow;
  }
  if (absolute && target == 0) return moveBeforeStart;
  // A relative move, or an absolute one from the end.
  if (absolute) *c = -1;
  const bool backward = absolute || target < 0;
  if (*c == 0 && (backward || target == 0)) return moveBeforeStart;
  if (*c == -1 && !backward) return moveAfterEnd;
  if (*c == -1) {
    *move = target;
    return moveFromLastRow;
  }
  *c += target;
  return moveToRow;
}

// A relative move that ended before row 1: before the start when the whole
// rowset lies before it, else the rowset starts at row 1.
MoveResult clampToFirstRow(int64_t rowset, int64_t* c) {
  if (*c >= 1) return moveToRow;
  if (rowset <= 1 - *c) return moveBeforeStart;
  *c = 1;
  return moveToRow;
}

}  // namespace

// The number of the last row, found by probing rows 1, 2, 4 ... and then
// halving the gap between the last row found and the first one missing.
// The probes so far are in fetchResume_ (hit, miss), so that a driver that
// leaves a probe unfinished (flagAsync) is asked the same row again at the
// next call.
KvStatus BaseStatement::findLastRow(int64_t* last) {
  int64_t& hit = fetchResume_.hit;
  int64_t& miss = fetchResume_.miss;
  while (miss == 0) {
    const int64_t probe = hit == 0 ? 1 : hit < (int64_t(1) << 30) ? hit * 2 : lastRowNumber;
    uint16_t status = SQL_ROW_NOROW;
    if (fetchRowAt(uint32_t(probe), &status) != kvSuccess) return kvFailure;
    if (flags_ & flagAsync) return kvSuccess;
    if (status == SQL_ROW_NOROW) {
      miss = probe;
    } else {
      hit = probe;
      if (probe == lastRowNumber) break;
    }
  }
  while (miss != 0 && miss - hit > 1) {
    const int64_t middle = hit + (miss - hit) / 2;
    uint16_t status = SQL_ROW_NOROW;
    if (fetchRowAt(uint32_t(middle), &status) != kvSuccess) return kvFailure;
    if (flags_ & flagAsync) return kvSuccess;
    (status == SQL_ROW_NOROW ? miss : hit) = middle;
  }
  *last = hit;
  return kvSuccess;
}

SQLRETURN BaseStatement::SQLExtendedFetch(SQLUSMALLINT fFetchType, SQLLEN irow, SQLULEN* pcrow,
                                          SQLUSMALLINT* rgfRowStatus) {
  BaseCall call(this, SQL_API_SQLEXTENDEDFETCH);
  if (!call.isOpen()) return call.getResult();
  const int64_t rowset = options_[optWordRowsetSize] ? int64_t(options_[optWordRowsetSize]) : 1;
  const bool forwardOnly = options_[optWordCursorType] == SQL_CURSOR_FORWARD_ONLY;
  // A call that resumes (BaseCall lets only SQLExtendedFetch through while
  // one is pending) takes its move from where the last one stopped.
  const bool resuming = (flags_ & flagAsync) != 0;
  int64_t c = rowsetStart_;
  MoveResult move = moveToRow;
  if (!resuming) {
    if (prepareBindings() != kvSuccess) return call.exit(SQL_ERROR);
    const SQLULEN keyset = options_[optWordKeysetSize];
    if (options_[optWordCursorType] == SQL_CURSOR_KEYSET_DRIVEN && keyset != 0 && int64_t(keyset) < rowset) {
      addOdbcError(stateRowRange);
      return call.exit(SQL_ERROR);
    }
    if (forwardOnly && fFetchType != SQL_FETCH_NEXT) {
      addOdbcError(stateFetchType, msgForwardOnlyFetch);
      return call.exit(SQL_ERROR);
    }
    if (fFetchType == SQL_FETCH_BOOKMARK) {
      addOdbcError(stateNotCapable);
      return call.exit(SQL_ERROR);
    }
    fetchResume_ = FetchResume();
    move = planMove(fFetchType, irow, rowset, &c, &fetchResume_.move);
    if (move == moveToRow) move = clampToFirstRow(rowset, &c);
    if (move == moveFromLastRow) fetchResume_.step = fetchStepLastRow;
  }
  if (fetchResume_.step == fetchStepLastRow) {
    int64_t last = 0;
    if (findLastRow(&last) != kvSuccess) return call.exit(SQL_ERROR);
    if (flags_ & flagAsync) return call.exit(SQL_STILL_EXECUTING);
    c = last + 1 + fetchResume_.move;
    move = clampToFirstRow(rowset, &c);
    fetchResume_.step = fetchStepNone;
  }
  if (fetchResume_.step == fetchStepNone) {
    if (move == moveToRow && c > lastRowNumber) move = moveAfterEnd;
    if (move != moveToRow) {
      rowsetStart_ = move == moveBeforeStart ? 0 : -1;
      rowsetIndex_ = 0;
      if (pcrow) *pcrow = 0;
      return call.exit(SQL_NO_DATA_FOUND);
    }
    uint16_t* statuses = static_cast<uint16_t*>(ramAlloc(uint32_t(rowset) * sizeof(uint16_t)));
    if (!statuses) return call.exit(SQL_ERROR);
    ramFree(rowStatus_);
    rowStatus_ = statuses;
    rowStatusCount_ = uint32_t(rowset);
    rowsetStart_ = int32_t(c);
    fetchResume_.read = 0;
    fetchResume_.step = fetchStepRowset;
  } else if (fetchResume_.step == fetchStepRowset) {
    // The rows that failed before the driver's pause were reported to a
    // call whose list this one emptied: they still count.
    for (uint32_t i = 0; i < fetchResume_.read; ++i)
      if (rowStatus_[i] == SQL_ROW_ERROR) addOdbcWarning(stateErrorInRow);
  }
  c = rowsetStart_;
  uint16_t* statuses = rowStatus_;

  // The rowset.
  if (fetchResume_.step == fetchStepRowset) {
    const bool retrieve = (options_[optWordBits] & optBitRetrieveData) != 0;
    uint32_t& read = fetchResume_.read;
    for (uint32_t i = read; i < uint32_t(rowset); ++i) {
      rowsetIndex_ = i;
      const uint32_t first = errorCount();
      uint16_t status = SQL_ROW_SUCCESS;
      KvStatus ok = kvSuccess;
      if (!forwardOnly) {
        if (c + i > lastRowNumber) break;
        ok = fetchRowAt(uint32_t(c + i), &status);
        if (ok == kvSuccess && (flags_ & flagAsync)) return call.exit(SQL_STILL_EXECUTING);
        if (ok == kvSuccess && status == SQL_ROW_NOROW) break;
      } else {
        uint16_t endOfData = 0;
        ok = fetchNextRow(&endOfData);
        if (ok == kvSuccess && (flags_ & flagAsync)) return call.exit(SQL_STILL_EXECUTING);
        if (ok == kvSuccess && endOfData) break;
      }
      if (ok == kvSuccess && retrieve && status != SQL_ROW_DELETED) ok = transferBoundColumns(i);
      if (ok != kvSuccess) {
        // A rowset of one row that failed holds nothing to succeed with:
        // the call fails with the row's own errors (this is SQLFetch as a
        // Driver Manager maps it), so an application sees the reason
        // instead of a row it cannot read.
        if (rowset == 1) {
          statuses[0] = SQL_ROW_ERROR;
          read = 1;
          rowsetIndex_ = 0;
          fetchResume_.step = fetchStepNone;
          if (rgfRowStatus) rgfRowStatus[0] = SQL_ROW_ERROR;
          if (pcrow) *pcrow = 1;
          return call.exit(SQL_ERROR);
        }
        markRowError(first);
        status = SQL_ROW_ERROR;
      }
      statuses[i] = status;
      ++read;
    }
    for (uint32_t i = read; i < uint32_t(rowset); ++i) statuses[i] = SQL_ROW_NOROW;
    rowsetIndex_ = 0;
    if (read == 0) {
      fetchResume_.step = fetchStepNone;
      rowsetStart_ = -1;
      if (pcrow) *pcrow = 0;
      if (rgfRowStatus) {
        for (uint32_t i = 0; i < uint32_t(rowset); ++i) rgfRowStatus[i] = statuses[i];
      }
      return call.exit(SQL_NO_DATA_FOUND);
    }
    fetchResume_.step = !forwardOnly && rowset >= 2 ? fetchStepReposition : fetchStepNone;
  }
  if (fetchResume_.step == fetchStepReposition) {
    uint16_t status = 0;
    rowsetIndex_ = 0;
    if (fetchRowAt(uint32_t(c), &status) != kvSuccess) return call.exit(SQL_ERROR);
    if (flags_ & flagAsync) return call.exit(SQL_STILL_EXECUTING);
    fetchResume_.step = fetchStepNone;
  }
  if (rgfRowStatus) {
    for (uint32_t i = 0; i < uint32_t(rowset); ++i) rgfRowStatus[i] = statuses[i];
  }
  if (pcrow) *pcrow = fetchResume_.read;
  return call.exit(SQL_SUCCESS);
}

// ---------------------------------------------------------------- SQLGetData

SQLRETURN BaseStatement::SQLGetData(SQLUSMALLINT icol, SQLSMALLINT fCType, SQLPOINTER rgbValue, SQLLEN cbValueMax,
                                    SQLLEN* pcbValue) {
  BaseCall call(this, SQL_API_SQLGETDATA);
  if (!call.isOpen()) return call.getResult();
  if (rowsetStart_ <= 0) {
    addOdbcError(stateCursorState);
    return call.exit(SQL_ERROR);
  }
  if (!isOnValidRow()) {
    addOdbcError(stateInvalidCursorPos);
    return call.exit(SQL_ERROR);
  }
  KvStatus status = kvSuccess;
  if (icol == 0) {
    const uint32_t bookmarks = connection_->getInfoNumber(SQL_BOOKMARK_PERSISTENCE, &status);
    if (status != kvSuccess) return call.exit(SQL_ERROR);
    if (bookmarks == 0) {
      addOdbcError(stateNotCapable);
      return call.exit(SQL_ERROR);
    }
  } else if (icol > fieldCount_ || !fields_[icol - 1]) {
    addOdbcError(stateColumnNumber);
    return call.exit(SQL_ERROR);
  }
  // The order rules of SQL_GETDATA_EXTENSIONS.
  const uint32_t extensions = connection_->getInfoNumber(SQL_GETDATA_EXTENSIONS, &status);
  if (status != kvSuccess) return call.exit(SQL_ERROR);
  const bool bound = bindings_ && icol <= bindingCount_ && bindings_[icol];
  if ((bindingCount_ != 0 && icol <= bindingCount_ && !(extensions & SQL_GD_ANY_COLUMN)) ||
      (bound && !(extensions & SQL_GD_BOUND)) ||
      (getDataColumn_ != 0 && icol < getDataColumn_ && !(extensions & SQL_GD_ANY_ORDER))) {
    addOdbcError(stateColumnNumber);
    return call.exit(SQL_ERROR);
  }
  if (getDataColumn_ == icol && icol != 0) {
    if (flags_ & flagGetDataDone) return call.exit(SQL_NO_DATA_FOUND);
    if (getDataOffset_ != 0 && fCType != getDataCType_) {
      addOdbcError(stateProgramType);
      return call.exit(SQL_ERROR);
    }
  } else {
    getDataColumn_ = icol;
    getDataCType_ = 0;
    getDataOffset_ = 0;
    flags_ &= ~uint32_t(flagGetDataDone);
  }
  const int16_t sqlType = icol == 0 ? int16_t(SQL_INTEGER) : fields_[icol - 1]->sqlType;
  int16_t cType = fCType;
  if (cType == SQL_C_DEFAULT) {
    cType = BaseDefaultCType(sqlType);
  } else if (BaseCheckColumnConversion(icol, sqlType, cType) != kvSuccess) {
    return call.exit(SQL_ERROR);
  }
  BaseOutString out(rgbValue, cbValueMax, pcbValue);
  if (out.checkSize() != kvSuccess) return call.exit(SQL_ERROR);
  const uint32_t first = errorCount();
  if (fetchColumnValue(icol, cType, &out) != kvSuccess) return call.exit(SQL_ERROR);
  // Only text and binary come in pieces: a cut piece moves the offset on by
  // the source bytes it returned (for text converted to the application's
  // code set, those its whole characters came from). Anything else (a
  // fixed-size value, even one cut with 01004 such as 1.5 as SQL_C_LONG)
  // has been returned whole. A buffer too small for the next character
  // returns none of it, and the offset stays.
  const bool appText = out.wasAppText() != 0;
  const uint32_t piece = appText ? out.getConsumed() : BaseGetDataPieceBytes(cType, sqlType, out.getSize());
  if ((piece != 0 || appText) && out.getLength() != SQL_NULL_DATA && truncatedSince(first)) {
    getDataOffset_ += piece;
    getDataCType_ = fCType;
  } else {
    flags_ |= flagGetDataDone;
  }
  return call.exit(SQL_SUCCESS);
}

// ---------------------------------------------------------------- SQLSetPos

SQLRETURN BaseStatement::SQLSetPos(SQLSETPOSIROW irow, SQLUSMALLINT fOption, SQLUSMALLINT fLock) {
  BaseCall call(this, SQL_API_SQLSETPOS);
  if (!call.isOpen()) return call.getResult();
  if (rowsetStart_ <= 0) {
    addOdbcError(stateCursorState);
    return call.exit(SQL_ERROR);
  }
  KvStatus status = kvSuccess;
  const uint32_t operations = connection_->getInfoNumber(SQL_POS_OPERATIONS, &status);
  const uint32_t locks = status == kvSuccess ? connection_->getInfoNumber(SQL_LOCK_TYPES, &status) : 0;
  if (status != kvSuccess) return call.exit(SQL_ERROR);
  if (fOption > SQL_ADD || !(operations & (1u << fOption)) || fLock > SQL_LOCK_UNLOCK || !(locks & (1u << fLock))) {
    addOdbcError(stateNotCapable);
    return call.exit(SQL_ERROR);
  }
  const bool changes = fOption == SQL_UPDATE || fOption == SQL_DELETE || fOption == SQL_ADD;
  if ((fOption == SQL_UPDATE || fOption == SQL_ADD) && bindingCount_ == 0) {
    addOdbcError(stateDegreeMismatch);
    return call.exit(SQL_ERROR);
  }
  if (fOption == SQL_REFRESH && bindingCount_ > fieldCount_) {
    addOdbcError(stateColumnNumber, msgBoundColumnsExceed);
    return call.exit(SQL_ERROR);
  }
  if (changes && options_[optWordConcurrency] == SQL_CONCUR_READ_ONLY) {
    addOdbcError(stateArgumentValue);
    return call.exit(SQL_ERROR);
  }
  const SQLULEN rowset = options_[optWordRowsetSize] ? options_[optWordRowsetSize] : 1;
  if (fOption != SQL_ADD && irow > rowset) {
    addOdbcError(stateRowRange);
    return call.exit(SQL_ERROR);
  }
  if (options_[optWordCursorType] == SQL_CURSOR_FORWARD_ONLY) {
    addOdbcError(stateInvalidCursorPos);
    return call.exit(SQL_ERROR);
  }
  if (changes && connection_->openTransactionIfManual() != kvSuccess) return call.exit(SQL_ERROR);
  if (fOption == SQL_ADD) return call.exit(SQL_SUCCESS);

  const uint32_t firstRow = irow == 0 ? 1 : uint32_t(irow);
  const uint32_t lastRow = irow == 0 ? uint32_t(rowset) : uint32_t(irow);
  KvStatus result = kvSuccess;
  for (uint32_t row = firstRow; row <= lastRow; ++row) {
    const uint32_t first = errorCount();
    const uint16_t rowStatus = rowStatus_ && row <= rowStatusCount_ ? rowStatus_[row - 1] : SQL_ROW_SUCCESS;
    KvStatus ok = kvSuccess;
    rowsetIndex_ = row - 1;
    if (isRowUnusable(rowStatus)) {
      if (fOption != SQL_POSITION) {
        addOdbcError(stateInvalidCursorPos);
        ok = kvFailure;
      }
    } else {
      uint16_t found = 0;
      ok = fetchRowAt(uint32_t(rowsetStart_) + row - 1, &found);
      if (ok == kvSuccess && fOption == SQL_REFRESH) ok = transferBoundColumns(row - 1);
    }
    if (ok != kvSuccess) {
      if (irow == 0) {
        markRowError(first);
      } else {
        result = kvFailure;
      }
    }
  }
  // The current row within the rowset is irow's (the first for row 0).
  rowsetIndex_ = firstRow - 1;
  getDataColumn_ = 0;
  getDataOffset_ = 0;
  flags_ &= ~uint32_t(flagGetDataDone);
  return call.exit(result == kvSuccess ? SQL_SUCCESS : SQL_ERROR);
}
