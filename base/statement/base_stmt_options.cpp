// Statement options: the option block that a statement copies from its
// connection's defaults (layout in base_connection.h), SQLSetStmtOption,
// SQLGetStmtOption and SQLSetScrollOptions.
//
// Values cross the ODBC interface as SQLULEN both ways: unixODBC hands an
// ODBC 3 application's own SQLULEN buffer through to SQLGetStmtOption.
#include "base/statement/base_statement.h"

#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"

namespace {

// Where an option lives in a block: a word, or a bit of optWordBits. An
// option with neither (SQL_SIMULATE_CURSOR) is never stored and reads 0.
struct OptionSlot {
  uint16_t option;
  int word;
  uint32_t bit;
};

const OptionSlot optionSlots[] = {
    {SQL_QUERY_TIMEOUT, optWordQueryTimeout, 0},
    {SQL_MAX_ROWS, optWordMaxRows, 0},
    {SQL_NOSCAN, -1, optBitNoScan},
    {SQL_MAX_LENGTH, optWordMaxLength, 0},
    {SQL_ASYNC_ENABLE, -1, optBitAsync},
    {SQL_BIND_TYPE, optWordBindType, 0},
    {SQL_CURSOR_TYPE, optWordCursorType, 0},
    {SQL_CONCURRENCY, optWordConcurrency, 0},
    {SQL_KEYSET_SIZE, optWordKeysetSize, 0},
    {SQL_ROWSET_SIZE, optWordRowsetSize, 0},
    {SQL_SIMULATE_CURSOR, -1, 0},
    {SQL_RETRIEVE_DATA, -1, optBitRetrieveData},
    {SQL_USE_BOOKMARKS, -1, optBitBookmarks},
};

const OptionSlot* slotOf(uint16_t option) {
  for (const OptionSlot& slot : optionSlots)
    if (slot.option == option) return &slot;
  return nullptr;
}

// A value the data source does not offer and what it becomes: the first
// step whose bit the data source's mask holds, else the last resort.
struct Downgrade {
  SQLULEN value;
  uint32_t offered;  // the value stands when the mask holds any of these bits
  struct {
    uint32_t bit;
    SQLULEN to;
  } steps[2];
  SQLULEN lastResort;
};

// SQL_CONCURRENCY against SQL_SCROLL_CONCURRENCY (0x1 read only, 0x2 lock,
// 0x4 row versions, 0x8 values).
const Downgrade concurrencyDowngrades[] = {
    {SQL_CONCUR_LOCK, SQL_SCCO_LOCK, {{SQL_SCCO_OPT_ROWVER, SQL_CONCUR_ROWVER}, {SQL_SCCO_OPT_VALUES, SQL_CONCUR_VALUES}},
     SQL_CONCUR_READ_ONLY},
    {SQL_CONCUR_ROWVER, SQL_SCCO_OPT_ROWVER, {{SQL_SCCO_OPT_VALUES, SQL_CONCUR_VALUES}, {0, 0}}, SQL_CONCUR_READ_ONLY},
    {SQL_CONCUR_VALUES, SQL_SCCO_OPT_VALUES, {{SQL_SCCO_OPT_ROWVER, SQL_CONCUR_ROWVER}, {0, 0}}, SQL_CONCUR_READ_ONLY},
};

// SQL_CURSOR_TYPE against SQL_SCROLL_OPTIONS (0x2 keyset-driven, 0x4
// dynamic, 0x8 mixed, 0x10 static).
const Downgrade cursorTypeDowngrades[] = {
    {SQL_CURSOR_DYNAMIC, SQL_SO_DYNAMIC | SQL_SO_MIXED,
     {{SQL_SO_KEYSET_DRIVEN, SQL_CURSOR_KEYSET_DRIVEN}, {SQL_SO_STATIC, SQL_CURSOR_STATIC}}, SQL_CURSOR_FORWARD_ONLY},
    {SQL_CURSOR_KEYSET_DRIVEN, SQL_SO_KEYSET_DRIVEN, {{SQL_SO_STATIC, SQL_CURSOR_STATIC}, {0, 0}},
     SQL_CURSOR_FORWARD_ONLY},
    {SQL_CURSOR_STATIC, SQL_SO_STATIC, {{0, 0}, {0, 0}}, SQL_CURSOR_FORWARD_ONLY},
};

template <size_t n>
SQLULEN downgrade(const Downgrade (&table)[n], SQLULEN value, uint32_t mask) {
  for (const Downgrade& entry : table) {
    if (entry.value != value || (mask & entry.offered)) continue;
    for (const auto& step : entry.steps)
      if (step.bit && (mask & step.bit)) return step.to;
    return entry.lastResort;
  }
  return value;
}

// SQLSetScrollOptions: the mask bit each fConcurrency (1-4) needs of
// SQL_SCROLL_CONCURRENCY.
const uint32_t scrollConcurrencyBits[] = {SQL_SCCO_READ_ONLY, SQL_SCCO_LOCK, SQL_SCCO_OPT_ROWVER,
                                          SQL_SCCO_OPT_VALUES};

}  // namespace

// ---------------------------------------------------------------- the block

void baseStoreStmtOption(SQLULEN* block, uint16_t option, SQLULEN value) {
  const OptionSlot* slot = slotOf(option);
  if (!slot) return;
  if (option == SQL_KEYSET_SIZE || option == SQL_SIMULATE_CURSOR) {
    // Never kept: the framework has no keyset or cursor library of its own.
    if (value != 0) addOdbcWarning(stateOptionChanged);
    if (slot->word >= 0) block[slot->word] = 0;
    return;
  }
  if (slot->word >= 0) {
    block[slot->word] = value;
  } else if (value == 1) {
    block[optWordBits] |= slot->bit;
  } else {
    block[optWordBits] &= ~SQLULEN(slot->bit);
  }
}

SQLULEN baseReadStmtOption(const SQLULEN* block, uint16_t option) {
  const OptionSlot* slot = slotOf(option);
  if (!slot) return 0;
  if (slot->word >= 0) return block[slot->word];
  return (block[optWordBits] & slot->bit) ? 1 : 0;
}

// ---------------------------------------------------------------- driver defaults

KvStatus BaseStatement::setStmtOption(uint16_t option, SQLULEN value) {
  SQLULEN limit = 0;
  if (!slotOf(option) || !connection_->acceptsStmtOption(option, &limit)) {
    addOdbcError(stateNotCapable);
    return kvFailure;
  }
  if (limit && value > limit) {
    value = limit;
    addOdbcWarning(stateOptionChanged);
  }
  SQLULEN offered = value;
  if (option == SQL_CONCURRENCY)
    offered = downgrade(concurrencyDowngrades, value, connection_->getInfoNumber(SQL_SCROLL_CONCURRENCY));
  else if (option == SQL_CURSOR_TYPE)
    offered = downgrade(cursorTypeDowngrades, value, connection_->getInfoNumber(SQL_SCROLL_OPTIONS));
  if (offered != value) addOdbcWarning(stateOptionChanged);
  baseStoreStmtOption(options_, option, offered);
  return kvSuccess;
}

KvStatus BaseStatement::getStmtOption(uint16_t option, void* value) {
  SQLULEN limit = 0;
  if (!slotOf(option) || !connection_->acceptsStmtOption(option, &limit)) {
    addOdbcError(stateNotCapable);
    return kvFailure;
  }
  if (value) *static_cast<SQLULEN*>(value) = baseReadStmtOption(options_, option);
  return kvSuccess;
}

// ---------------------------------------------------------------- ODBC calls

SQLRETURN BaseStatement::SQLSetStmtOption(SQLUSMALLINT fOption, SQLULEN vParam) {
  BaseCall call(this, SQL_API_SQLSETSTMTOPTION);
  if (!call.isOpen()) return call.getResult();
  const bool changesRows = fOption == stmtOptionDeleteRow || fOption == stmtOptionLockForChange ||
                           fOption == stmtOptionLockCurrentRow;
  if (changesRows && connection_->openTransactionIfManual() != kvSuccess) return call.exit(SQL_ERROR);
  return call.exit(setStmtOption(fOption, vParam) == kvSuccess ? SQL_SUCCESS : SQL_ERROR);
}

// Options 13 (SQL_GET_BOOKMARK) and 14 (SQL_ROW_NUMBER) describe the
// current row, so they need the cursor on one.
SQLRETURN BaseStatement::SQLGetStmtOption(SQLUSMALLINT fOption, SQLPOINTER pvParam) {
  BaseCall call(this, SQL_API_SQLGETSTMTOPTION);
  if (!call.isOpen()) return call.getResult();
  if (fOption == SQL_GET_BOOKMARK || fOption == SQL_ROW_NUMBER) {
    const uint32_t row = getCurrentRow();
    if (cursorState_ != cursorOpen || row == 0 || row == 0xFFFFFFFFu) {
      addOdbcError(stateCursorState);
      return call.exit(SQL_ERROR);
    }
    if (!isOnValidRow()) {
      addOdbcError(stateInvalidCursorPos);
      return call.exit(SQL_ERROR);
    }
    if (fOption == SQL_ROW_NUMBER) {
      if (pvParam) *static_cast<SQLULEN*>(pvParam) = row;
      return call.exit(SQL_SUCCESS);
    }
    if (baseReadStmtOption(options_, SQL_USE_BOOKMARKS) != SQL_UB_ON) {
      addOdbcError(stateInvalidNow);
      return call.exit(SQL_ERROR);
    }
  }
  return call.exit(getStmtOption(fOption, pvParam) == kvSuccess ? SQL_SUCCESS : SQL_ERROR);
}

// The ODBC 1 way of choosing a cursor: each choice must be one the data
// source offers (SQL_SCROLL_CONCURRENCY, SQL_SCROLL_OPTIONS), else S1C00;
// then concurrency, cursor type, keyset size and rowset size are set at once.
SQLRETURN BaseStatement::SQLSetScrollOptions(SQLUSMALLINT fConcurrency, SQLLEN crowKeyset,
                                             SQLUSMALLINT crowRowset) {
  BaseCall call(this, SQL_API_SQLSETSCROLLOPTIONS);
  if (!call.isOpen()) return call.getResult();
  if (fConcurrency < SQL_CONCUR_READ_ONLY || fConcurrency > SQL_CONCUR_VALUES) {
    addOdbcError(stateConcurrency);
    return call.exit(SQL_ERROR);
  }
  const uint32_t concurrencies = connection_->getInfoNumber(SQL_SCROLL_CONCURRENCY);
  const uint32_t scrollOptions = connection_->getInfoNumber(SQL_SCROLL_OPTIONS);
  SQLULEN cursorType = SQL_CURSOR_FORWARD_ONLY;
  SQLULEN keysetSize = 0;
  uint32_t needed = 0;
  if (crowKeyset == SQL_SCROLL_FORWARD_ONLY) {
    needed = SQL_SO_FORWARD_ONLY;
  } else if (crowKeyset == SQL_SCROLL_KEYSET_DRIVEN) {
    needed = SQL_SO_KEYSET_DRIVEN;
    cursorType = SQL_CURSOR_KEYSET_DRIVEN;
  } else if (crowKeyset == SQL_SCROLL_DYNAMIC) {
    needed = SQL_SO_DYNAMIC;
    cursorType = SQL_CURSOR_DYNAMIC;
  } else if (crowKeyset > 1) {
    needed = SQL_SO_MIXED;
    cursorType = SQL_CURSOR_KEYSET_DRIVEN;
    keysetSize = SQLULEN(crowKeyset);
  }
  // Static cursors (-3), a keyset of 1 and any other value are not offered.
  if (!(concurrencies & scrollConcurrencyBits[fConcurrency - 1]) || !needed || !(scrollOptions & needed)) {
    addOdbcError(stateNotCapable);
    return call.exit(SQL_ERROR);
  }
  options_[optWordConcurrency] = fConcurrency;
  options_[optWordCursorType] = cursorType;
  options_[optWordKeysetSize] = keysetSize;
  options_[optWordRowsetSize] = crowRowset;
  return call.exit(SQL_SUCCESS);
}
