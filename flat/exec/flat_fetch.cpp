// Execution and fetch of the engine's statement: executePreparedStmt,
// the start of a query's result, fetchRow, fetchRandomRow and getData.
// See flat_statement.h.
//
// The rows of a SELECT are the rows of its head query's keyset
// (flat/query/flat_keyset.h): reading row n positions every FROM table on
// that row's record, and getData reads the select items from there. The
// keyset is filled lazily, unless the result is read through at its start
// (the early count), or sorted (ORDER BY, DISTINCT), or replaced by one row
// of aggregate values.
#include "base/convert/base_convert.h"
#include "base/handles/base_app_text.h"
#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "base/handles/base_out_string.h"
#include "flat/connection/flat_changes.h"
#include "flat/connection/flat_connection.h"
#include "flat/connection/flat_file_desc.h"
#include "flat/connection/flat_rid.h"
#include "flat/connection/flat_shared_desc.h"
#include "flat/exec/flat_statement.h"
#include "flat/expr/flat_date_keys.h"
#include "flat/expr/flat_evaluator.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "flat/query/flat_aggregates.h"
#include "flat/query/flat_keyset.h"
#include "flat/query/flat_sort.h"
#include "flat/query/flat_subquery.h"
#include "flat/query/flat_union.h"
#include "flat/sql/flat_descriptor.h"
#include "flat/sql/flat_select_field.h"
#include "util/byte_order.h"
#include "util/memory/ram.h"

#include <cmath>
#include <cstring>

namespace {

KvStatus notCapable() {
  addOdbcError(stateNotCapable);
  return kvFailure;
}

// Half a second in days: added to a timestamp before it is cut to whole
// seconds, so that a day fraction stored a hair below a second rounds up.
constexpr double halfSecond = 0.5 / 86400.0;

// The whole seconds of the day of an engine date (0..86399), rounded.
uint32_t secondsOfDay(double date) {
  double fraction = date - std::floor(date);
  double seconds = std::floor(fraction * 86400.0 + 0.5);
  if (seconds < 0) seconds = 0;
  if (seconds > 86399) seconds = 86399;
  return uint32_t(seconds);
}

// An engine date as the framework's date, time or timestamp form (out of
// at least 16 bytes); the blank date is NULL (*type untouched, 0 bytes).
uint32_t dateForm(double date, InternalType type, unsigned char* out) {
  if (date == flatBlankDate || std::isnan(date)) return 0;
  if (type == itTime) {
    const uint32_t s = secondsOfDay(date);
    const uint16_t parts[3] = {uint16_t(s / 3600), uint16_t(s / 60 % 60), uint16_t(s % 60)};
    std::memcpy(out, parts, 6);
    return 6;
  }
  if (type == itTimestamp) date += halfSecond;
  unsigned short year = 0, month = 0, day = 0;
  JulianToYrMoDy(date, &year, &month, &day);
  if (year == 0) return 0;
  if (type == itDate) {
    const uint16_t parts[3] = {year, month, day};
    std::memcpy(out, parts, 6);
    return 6;
  }
  // Cut, not rounded: the half second is already in.
  double fraction = date - std::floor(date);
  uint32_t s = uint32_t(fraction * 86400.0);
  if (s > 86399) s = 86399;
  const uint16_t parts[6] = {year, month, day, uint16_t(s / 3600), uint16_t(s / 60 % 60), uint16_t(s % 60)};
  std::memcpy(out, parts, 12);
  const uint32_t billionths = 0;
  std::memcpy(out + 12, &billionths, 4);
  return 16;
}

// The framework's form of a date-valued SQL type.
InternalType dateTypeOf(int16_t sqlType) {
  switch (BaseOdbc2SqlType(sqlType)) {
    case SQL_TIME:
      return itTime;
    case SQL_TIMESTAMP:
      return itTimestamp;
    default:
      return itDate;
  }
}

bool isDateType(int16_t sqlType) {
  const int16_t t = BaseOdbc2SqlType(sqlType);
  return t == SQL_DATE || t == SQL_TIME || t == SQL_TIMESTAMP;
}

bool isAllBlank(const unsigned char* text, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i)
    if (text[i] != ' ') return false;
  return true;
}

// A long column of the current row, bytes from offset on: from the change
// log when this transaction gave the row a value for it, else from the
// driver.
KvStatus readLongColumn(FlatFileDesc* cursor, uint16_t column, void* buffer, uint32_t size, uint32_t offset,
                        uint32_t* got, uint32_t* total) {
  *got = 0;
  *total = 0;
  FlatFileField* field = cursor->getColumn(column);
  FlatSharedDesc* shared = cursor->getShared();
  FlatChangesDesc* changes = shared->getChanges();
  if (!cursor->isRowFromLog() || !field || field->getLogOffset() == FlatFileField::offsetNotPlaced || !changes ||
      changes->getSerial() != cursor->getPendingSerial())
    return cursor->getLargeColumn(column, buffer, size, offset, got, total);
  if (field->getLogOffset() == FlatFileField::offsetNoValue) return kvSuccess;
  uint16_t logged = 0;
  uint32_t type = 0, length = 0, bytes = 0;
  if (changes->readItem(uint32_t(field->getLogOffset()), &logged, &type, &length, &bytes) != kvSuccess)
    return kvFailure;
  if (length != 4) {
    addOdbcError(stateGeneral);
    return kvFailure;
  }
  unsigned char word[4];
  if (shared->getPendingRows()->tmpRead(bytes, word, 4) != kvSuccess) return kvFailure;
  return flatReadLongValue(shared->getConnection(), kvGetU32LE(word), offset, buffer, size, got, total);
}

const char hexDigits[] = "0123456789ABCDEF";

// Writes count bytes at the start of buffer as 2 * count hexadecimal
// characters in place, from the last byte back so that no byte is
// overwritten before it is read.
void hexInPlace(unsigned char* buffer, uint32_t count) {
  for (uint32_t i = count; i-- > 0;) {
    const unsigned char b = buffer[i];
    buffer[2 * i + 1] = uint8_t(hexDigits[b & 0xF]);
    buffer[2 * i] = uint8_t(hexDigits[b >> 4]);
  }
}

}  // namespace

FlatSqlDesc* FlatStatement::headQuery() const { return head_ ? head_->getSqlDesc() : nullptr; }

FlatSqlDesc* FlatStatement::resultQuery() const {
  FlatSqlDesc* head = headQuery();
  return head && head->getNextQuery() && currentQuery_ ? currentQuery_ : head;
}

// ---------------------------------------------------------------- execution

KvStatus FlatStatement::resetResult() {
  FlatSqlDesc* query = headQuery();
  engineFlags_ |= stmtFresh;
  currentRow_ = 0;
  cachedResultCount_ = 0;
  oneRow_ = 0;
  rowLocked_ = 0;
  failedRow_ = 0;
  if (keyset_ && keyset_->reset() != kvSuccess) return kvFailure;
  // Subqueries read their rows afresh in each execution (parameters and
  // tables may have changed).
  flatResetSubqueryAnswers(query);
  for (FlatSqlDesc* q = query; q; q = q->getNextQuery()) {
    q->setRowCount(-1);
    q->setProducedRows(0);
    q->addFlags(FlatSqlDesc::flagNoResult | FlatSqlDesc::flagRestart);
  }
  return kvSuccess;
}

KvStatus FlatStatement::executePreparedStmt() {
  if (statementKind_ == flatKindUse) return kvSuccess;
  if (!head_) {
    addOdbcError(stateSequence);
    return kvFailure;
  }
  FlatLockBracket bracket(this);
  if (bracket.enter() != kvSuccess) return kvFailure;
  KvStatus status = kvSuccess;
  if (headQuery()) {
    // A FOR UPDATE OF cursor closed without a fetch to its end still holds
    // its row's lock.
    status = releaseRowLock();
    if (status == kvSuccess) status = resetResult();
  }
  if (status == kvSuccess) status = head_->execute();
  if (status == kvSuccess && headQuery() && statementKind_ == flatKindSelect) engineFlags_ |= stmtResultOpen;
  return status;
}

KvStatus FlatStatement::startResult() {
  FlatSqlDesc* query = headQuery();
  if (!query) {
    addOdbcError(stateSequence);
    return kvFailure;
  }
  if (query->getNextQuery()) return startUnion();
  if (!keyset_) {
    keyset_ = new RidFileMgr(this, query);
    if (!keyset_) {
      KvErrorKeeper::addMemoryError();
      return kvFailure;
    }
  } else if (keyset_->reset() != kvSuccess) {
    return kvFailure;
  }
  currentRow_ = 0;
  oneRow_ = 0;
  query->clearFlags(FlatSqlDesc::flagNoResult | FlatSqlDesc::flagRestart);
  if ((query->getAggregates().getCount() || query->getGroupByText()) &&
      flatComputeAggregates(this, query, keyset_, &oneRow_) != kvSuccess)
    return kvFailure;
  bool sorted = false;
  if (!oneRow_ && flatOrderKeyset(this, query, keyset_, &sorted) != kvSuccess) return kvFailure;
  engineFlags_ &= ~uint32_t(stmtFresh);

  // The early count: read the result through now, unless the connection
  // defers it to the fetches or the result is already complete.
  const uint32_t connectionFlags = getFlatConnection()->getEngineFlags();
  if (oneRow_) {
    cachedResultCount_ = 1;
  } else if (!(connectionFlags & (flatDeferQuery | flatSharedRecordCounts)) && !keyset_->isComplete()) {
    for (uint32_t row = keyset_->getRows() + 1;; ++row) {
      GetRecRetType result = getRecFound;
      if (keyset_->getRecord(row, &result) != kvSuccess) {
        engineFlags_ |= stmtFresh;
        return kvFailure;
      }
      if (result == getRecPastEnd) break;
    }
  }
  if (!oneRow_ && keyset_->isComplete()) cachedResultCount_ = keyset_->getRows();
  return kvSuccess;
}

// A UNION chain: every query's rows at once, as the (query, row) pairs of
// the result; the early count is the pairs' count.
KvStatus FlatStatement::startUnion() {
  FlatSqlDesc* query = headQuery();
  if (!union_) {
    union_ = new FlatUnionResult(this, query);
    if (!union_) {
      KvErrorKeeper::addMemoryError();
      return kvFailure;
    }
  }
  currentRow_ = 0;
  oneRow_ = 0;
  currentQuery_ = query;
  for (FlatSqlDesc* q = query; q; q = q->getNextQuery())
    q->clearFlags(FlatSqlDesc::flagNoResult | FlatSqlDesc::flagRestart);
  if (union_->build(orderByText_) != kvSuccess) return kvFailure;
  engineFlags_ &= ~uint32_t(stmtFresh);
  cachedResultCount_ = union_->getRows();
  rowCount_ = int32_t(cachedResultCount_);
  return kvSuccess;
}

// The first fetch's start of the result: a start that fails ends the
// result at once (later fetches find no row).
KvStatus FlatStatement::startFetching() {
  failedRow_ = 0;
  if (startResult() == kvSuccess) return kvSuccess;
  engineFlags_ &= ~uint32_t(stmtFresh);
  failedRow_ = 1;
  return kvFailure;
}

KvStatus FlatStatement::readResultRow(uint32_t row, GetRecRetType* result) {
  *result = getRecPastEnd;
  if (failedRow_ && row >= failedRow_) return kvSuccess;
  if (readRow(row, result) == kvSuccess) return kvSuccess;
  // Rows before the failed one stay readable; this one and the later ones
  // are past the end. An abort (4018) stops the same way.
  failedRow_ = row ? row : 1;
  return kvFailure;
}

KvStatus FlatStatement::readRow(uint32_t row, GetRecRetType* result) {
  *result = getRecPastEnd;
  FlatSqlDesc* head = headQuery();
  if (head && head->getNextQuery()) {
    if (!union_) {
      addOdbcError(stateSequence);
      return kvFailure;
    }
    if (union_->getRecord(row, result) != kvSuccess) return kvFailure;
    currentQuery_ = union_->getCurrentQuery();
    return kvSuccess;
  }
  if (!keyset_) {
    addOdbcError(stateSequence);
    return kvFailure;
  }
  if (oneRow_) {
    *result = row == 1 ? getRecFound : getRecPastEnd;
    return kvSuccess;
  }
  if (keyset_->getRecord(row, result) != kvSuccess) return kvFailure;
  if (keyset_->isComplete()) cachedResultCount_ = keyset_->getRows();
  return kvSuccess;
}

// ---------------------------------------------------------------- FOR UPDATE OF

KvStatus FlatStatement::releaseRowLock() {
  if (!rowLocked_) return kvSuccess;
  rowLocked_ = 0;
  FlatSqlDesc* query = headQuery();
  FlatFileDesc* first = query ? query->getFirstTable() : nullptr;
  if (!first || !first->getRid()) return kvSuccess;
  // A record this transaction changed stays locked until it ends.
  uint32_t pending = 0;
  if (flatHasPendingChanges(first->getShared(), first->getRid()->fullGet(), &pending) != kvSuccess)
    return kvFailure;
  if (pending) return kvSuccess;
  return first->unlockRecord(flatLockRecord, first->getRid());
}

KvStatus FlatStatement::takeRowLock() {
  FlatSqlDesc* query = headQuery();
  FlatFileDesc* first = query ? query->getFirstTable() : nullptr;
  if (!first || (first->getTableFlags() & FlatFileDesc::tableBlankRow)) return kvSuccess;
  if (first->lockRecord(flatLockRecord) != kvSuccess) return kvFailure;
  rowLocked_ = 1;
  return kvSuccess;
}

// ---------------------------------------------------------------- fetch

KvStatus FlatStatement::beginMove() {
  if (engineFlags_ & stmtFresh) return startFetching();
  // A FOR UPDATE OF cursor lets go of the row it leaves.
  return releaseRowLock();
}

KvStatus FlatStatement::fetchRow(uint16_t* endOfData) {
  if (statementKind_ == flatKindCatalog && head_) return fetchCatalogRow(endOfData);
  *endOfData = 0;
  if (!head_) {
    addOdbcError(stateSequence);
    return kvFailure;
  }
  FlatLockBracket bracket(this);
  if (bracket.enter() != kvSuccess) return kvFailure;
  FlatSqlDesc* query = headQuery();
  KvStatus status = kvSuccess;
  if (!query) {
    // A result of the driver's own (catalog readers) keeps its rows apart.
    *endOfData = 1;
  } else {
    const bool forUpdate = (query->getFlags() & FlatSqlDesc::flagForUpdate) != 0;
    status = beginMove();
    GetRecRetType result = getRecPastEnd;
    if (status == kvSuccess) status = readResultRow(currentRow_ + 1, &result);
    if (status == kvSuccess) {
      if (result == getRecPastEnd) {
        *endOfData = 1;
      } else {
        if (forUpdate && !oneRow_) status = takeRowLock();
        if (status == kvSuccess) ++currentRow_;
      }
    }
  }
  return status;
}

KvStatus FlatStatement::fetchRandomRow(uint32_t row, uint16_t* status) {
  if (statementKind_ == flatKindCatalog && head_) return fetchCatalogRandom(row, status);
  *status = SQL_ROW_NOROW;
  if (!head_) {
    addOdbcError(stateSequence);
    return kvFailure;
  }
  FlatLockBracket bracket(this);
  if (bracket.enter() != kvSuccess) return kvFailure;
  FlatSqlDesc* query = headQuery();
  KvStatus result = kvSuccess;
  if (query) {
    const bool forUpdate = (query->getFlags() & FlatSqlDesc::flagForUpdate) != 0;
    result = beginMove();
    GetRecRetType answer = getRecPastEnd;
    if (result == kvSuccess && row > 0) result = readResultRow(row, &answer);
    if (result == kvSuccess && row > 0) {
      switch (answer) {
        case getRecFound:
          *status = SQL_ROW_SUCCESS;
          if (forUpdate && !oneRow_) result = takeRowLock();
          currentRow_ = row;
          break;
        case getRecGone:
          *status = SQL_ROW_DELETED;
          break;
        default:
          *status = SQL_ROW_NOROW;
          break;
      }
    }
  }
  return result;
}

// ---------------------------------------------------------------- get data

KvStatus FlatStatement::getData(uint16_t column, int16_t cType, BaseOutString* out) {
  // Catalog rows are the descriptor's own copies: no table lock is needed.
  if (statementKind_ == flatKindCatalog && head_) return getCatalogData(column, cType, out);
  FlatLockBracket bracket(this);
  if (bracket.enter() != kvSuccess) return kvFailure;
  FlatSqlDesc* query = resultQuery();
  KvStatus status = kvSuccess;
  if (!query) {
    status = getDataSpecial(column, cType, out);
  } else if (column < 1 || column > query->getItemCount() || !query->getItem(uint16_t(column - 1))) {
    addOdbcError(stateColumnNumber);
    status = kvFailure;
  } else if (currentRow_ == 0 || (engineFlags_ & stmtFresh)) {
    addOdbcError(stateCursorState);
    status = kvFailure;
  } else {
    FlatSelectField* item = query->getItem(uint16_t(column - 1));
    if (!item->isPlainColumn()) {
      status = getComputedData(item, column, cType, out);
    } else if (!item->table || (item->table->getTableFlags() & FlatFileDesc::tableBlankRow)) {
      out->setLength(SQL_NULL_DATA);
    } else {
      // A plain column of the stored record goes to the driver, which may
      // deliver it straight from the record's text; a value of this
      // transaction's log is the engine's.
      const int16_t type = BaseOdbc2SqlType(item->sqlType);
      if (type == SQL_LONGVARCHAR || type == SQL_LONGVARBINARY) status = getLongData(item, column, cType, out);
      else if (flatHasPendingValue(item->table, item->column)) status = getColumnData(item, column, cType, out);
      else status = query->getTableColumnAsCType(column, out, cType);
    }
  }
  return status;
}

KvStatus FlatStatement::getComputedData(FlatSelectField* item, uint16_t column, int16_t cType, BaseOutString* out) {
  uint8_t value[flatEvalScratchBytes];
  int16_t length = 0;
  uint8_t kind = 0;
  if (evalExpr(this, resultQuery(), nullptr, item->code, value, sizeof(value), 0, &length, &kind) != kvSuccess)
    return kvFailure;
  const bool isText = kind == flatEvalText || kind == flatEvalFunctionText;
  if (length < 1 || kind == flatEvalNull || kind == flatEvalUndecidable || kind == flatEvalOuterBlank) {
    // An empty text outside NULL-aware queries is a value of its own.
    if (isText && length == 0 && !(resultQuery()->getFlags() & FlatSqlDesc::flagNullAware))
      return convertInternalToC(column, cType, out, value, 0, itChar);
    out->setLength(SQL_NULL_DATA);
    return kvSuccess;
  }
  unsigned char form[16];
  switch (kind) {
    case flatEvalLogical:
      value[0] = value[0] ? 1 : 0;
      return convertInternalToC(column, cType, out, value, 1, itBit);
    case flatEvalNumber:
    case flatEvalDate: {
      double d = 0;
      std::memcpy(&d, value, 8);
      const int16_t type = item->engineType;
      if (kind == flatEvalDate || isDateType(type)) {
        if (!isDateType(type)) {
          // A date that the compiler did not type as one: as a date.
          uint32_t n = dateForm(d, itDate, form);
          if (!n) break;
          return convertInternalToC(column, cType, out, form, int32_t(n), itDate);
        }
        const InternalType formType = dateTypeOf(type);
        uint32_t n = dateForm(d, formType, form);
        if (!n) break;
        return convertInternalToC(column, cType, out, form, int32_t(n), formType);
      }
      if (type == SQL_BIT) {
        value[0] = d != 0 ? 1 : 0;
        return convertInternalToC(column, cType, out, value, 1, itBit);
      }
      return convertInternalToC(column, cType, out, &d, 8, itDouble);
    }
    default:
      if (!isText) break;
      if ((getFlatConnection()->getEngineFlags() & flatBlankIsNull) && isAllBlank(value, uint32_t(length))) break;
      return convertInternalToC(column, cType, out, value, length, itChar);
  }
  out->setLength(SQL_NULL_DATA);
  return kvSuccess;
}

KvStatus FlatStatement::getColumnData(FlatSelectField* item, uint16_t column, int16_t cType, BaseOutString* out) {
  // Room for the widest column the engine reads (a text of 65535 bytes
  // with its terminator); most fit on the stack.
  enum : uint32_t { stackBytes = 512 };
  unsigned char local[stackBytes];
  const uint32_t need = item->precision + 16 > 0xFFFF ? 0xFFFF : item->precision + 16;
  unsigned char* buffer = local;
  if (need > stackBytes) {
    buffer = static_cast<unsigned char*>(ramAlloc(need));
    if (!buffer) {
      KvErrorKeeper::addMemoryError();
      return kvFailure;
    }
  }
  const uint16_t size = uint16_t(need > stackBytes ? need : stackBytes);
  int32_t length = 0;
  uint8_t kind = flatValueNull;
  KvStatus status = flatGetFieldData(item->table, item->column, buffer, &length, size, &kind);
  if (status == kvSuccess) {
    unsigned char form[16];
    uint32_t n = 0;
    switch (kind) {
      case flatValueDouble:
        if (isDateType(item->sqlType)) {
          double d = 0;
          std::memcpy(&d, buffer, 8);
          const InternalType type = dateTypeOf(item->sqlType);
          n = dateForm(d, type, form);
          status = n ? convertInternalToC(column, cType, out, form, int32_t(n), type) : kvSuccess;
        } else {
          n = 8;
          status = convertInternalToC(column, cType, out, buffer, 8, itDouble);
        }
        break;
      case flatValueDate: {
        double d = 0;
        std::memcpy(&d, buffer, 8);
        const InternalType type = isDateType(item->sqlType) ? dateTypeOf(item->sqlType) : itTimestamp;
        n = dateForm(d, type, form);
        status = n ? convertInternalToC(column, cType, out, form, int32_t(n), type) : kvSuccess;
        break;
      }
      case flatValueLogical:
        buffer[0] = buffer[0] ? 1 : 0;
        n = 1;
        status = convertInternalToC(column, cType, out, buffer, 1, itBit);
        break;
      case flatValueText: {
        // The length counts the terminator.
        uint32_t bytes = length > 0 ? uint32_t(length - 1) : 0;
        if (bytes > size) bytes = size;
        if (!((getFlatConnection()->getEngineFlags() & flatBlankIsNull) && isAllBlank(buffer, bytes))) {
          n = 1;
          status = convertInternalToC(column, cType, out, buffer, int32_t(bytes), itChar);
        }
        break;
      }
      case flatValueBinary:
        n = 1;
        status = convertInternalToC(column, cType, out, buffer, length > 0 ? length : 0, itBinary);
        break;
      default:
        break;
    }
    if (status == kvSuccess && n == 0) out->setLength(SQL_NULL_DATA);
  }
  if (buffer != local) ramFree(buffer);
  return status;
}

KvStatus FlatStatement::getLongData(FlatSelectField* item, uint16_t column, int16_t cType, BaseOutString* out) {
  const bool binary = BaseOdbc2SqlType(item->sqlType) == SQL_LONGVARBINARY;
  const uint32_t offset = getGetDataOffset();
  uint32_t got = 0, total = 0;
  // Text for an application whose code set is not ANSI is converted too.
  const bool convertedText = cType == SQL_C_CHAR && !binary && !baseAppTextIsAnsi();
  if ((cType != SQL_C_CHAR && cType != SQL_C_BINARY) || convertedText) {
    // Any other C type converts the whole value, cut from the SQLGetData
    // offset on by the conversion: a piece of a value in a wide, numeric or
    // converted form cannot be converted apart from the rest.
    if (readLongColumn(item->table, item->column, nullptr, 0, 0, &got, &total) != kvSuccess) return kvFailure;
    if (total == 0) {
      out->setLength(SQL_NULL_DATA);
      return kvSuccess;
    }
    if (total == flatLongLengthUnknown) return notCapable();
    auto* value = static_cast<unsigned char*>(ramAlloc(total));
    if (!value) {
      KvErrorKeeper::addMemoryError();
      return kvFailure;
    }
    KvStatus status = readLongColumn(item->table, item->column, value, total, 0, &got, &total);
    if (status == kvSuccess)
      status = convertInternalToCHuge(column, cType, out, value, int32_t(got), binary ? itBinary : itChar);
    ramFree(value);
    return status;
  }
  // SQL_C_CHAR and SQL_C_BINARY: the piece goes straight into the
  // application's buffer; text keeps a byte for its terminator, and a
  // binary value as text takes two characters a byte, written in place.
  auto* buffer = static_cast<unsigned char*>(out->getBuffer());
  const uint32_t size = buffer ? out->getSize() : 0;
  const bool text = cType == SQL_C_CHAR;
  const bool hex = binary && text;
  const uint32_t room = text ? (size ? size - 1 : 0) : size;
  const uint32_t want = hex ? room / 2 : room;
  if (readLongColumn(item->table, item->column, want ? buffer : nullptr, want, offset, &got, &total) != kvSuccess)
    return kvFailure;
  if (got > want) got = want;
  const bool unknown = total == flatLongLengthUnknown;
  const uint32_t remaining = unknown ? (got == want ? 1 : 0) : (total > offset + got ? total - offset - got : 0);
  if (got == 0 && remaining == 0 && offset == 0) {
    out->setLength(SQL_NULL_DATA);
    return kvSuccess;
  }
  if (hex) hexInPlace(buffer, got);
  const uint32_t written = hex ? 2 * got : got;
  if (text && size) buffer[written] = 0;
  if (unknown && remaining)
    out->setLength(SQL_NO_TOTAL);
  else
    out->setLength(int64_t(got + remaining) * (hex ? 2 : 1));
  if (remaining) addOdbcWarning(stateTruncated, msgColumnTruncated) << uint32_t(column);
  return kvSuccess;
}
