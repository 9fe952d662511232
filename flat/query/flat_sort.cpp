// ORDER BY: the keyset's rows re-ordered through KvSort (see flat_sort.h).
#include "flat/query/flat_sort.h"

#include "base/handles/base_message_ids.h"
#include "flat/connection/flat_file_desc.h"
#include "flat/connection/flat_rid.h"
#include "flat/connection/flat_shared_desc.h"
#include "flat/exec/flat_statement.h"
#include "flat/expr/flat_byte_code.h"
#include "flat/expr/flat_compiler.h"
#include "flat/expr/flat_evaluator.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "flat/query/flat_index_desc.h"
#include "flat/query/flat_keyset.h"
#include "flat/query/flat_optimizer.h"
#include "flat/sql/flat_descriptor.h"
#include "flat/sql/flat_select_field.h"
#include "util/os/bos.h"
#include "util/byte_order.h"
#include "util/memory/ram.h"
#include "util/files/sort.h"

#include <cstring>
#include <vector>

namespace {

// One ORDER BY or DISTINCT item and its place in the sort record.
struct SortItem {
  const uint8_t* program = nullptr;  // the prepared item's, or one of owned
  KvRamPtr<uint8_t> owned;
  uint16_t offset = 0;
  uint16_t length = 0;  // tag byte + value bytes
  bool descending = false;
  bool selectItem = false;  // a DISTINCT select item: part of the one key over all of them
};

struct SortItems {
  std::vector<SortItem> items;
};

// Types whose values the evaluator yields as 8-byte doubles or a logical
// byte; every other type (texts, binaries, types the compiler leaves open)
// takes its width.
bool isFixedType(int16_t type) {
  switch (type) {
    case 2: case 3: case 4: case 5: case 6: case 7: case 8:  // numbers
    case 9: case 10: case 11:                                  // date, time, timestamp
    case -5: case -6: case -7:                                 // bigint, tinyint, bit
      return true;
    default:
      return false;
  }
}

// DISTINCT: every select item behind the ordering items, as one more
// ascending key over all of them; *recordBytes grows by their bytes.
KvStatus addSelectItems(FlatSqlDesc* query, SortItems* out, uint32_t* recordBytes, uint32_t* distinctBytes) {
  uint32_t offset = *recordBytes;
  for (uint16_t i = 0; i < query->getItemCount(); ++i) {
    const FlatSelectField* field = query->getItem(i);
    uint8_t* program = nullptr;
    if (flatSelectItemProgram(field, &program) != kvSuccess) return kvFailure;
    SortItem item;
    item.owned.reset(program);
    item.program = program;
    item.offset = uint16_t(offset);
    item.length = flatSortSlotLength(field->engineType ? field->engineType : field->sqlType, field->precision);
    item.selectItem = 1;
    offset += item.length;
    out->items.push_back(std::move(item));
    if (offset > 0xF000) {
      addFlatError(stateGeneral, msgExpressionLimit);
      return kvFailure;
    }
  }
  *distinctBytes = offset - *recordBytes;
  *recordBytes = offset;
  return kvSuccess;
}

// The ORDER BY items the statement's prepare compiled (FlatOrderItem: code,
// type, width, direction) at increasing offsets; *recordBytes gets the
// bytes the keys take. The programs stay the descriptor's.
KvStatus placeItems(KvArray* orderItems, SortItems* out, uint32_t* recordBytes) {
  uint32_t programBytes = 0;
  uint32_t offset = 0;
  *recordBytes = 0;
  for (uint16_t i = 0; orderItems && i < orderItems->getCount(); ++i) {
    const auto* prepared = static_cast<const FlatOrderItem*>(orderItems->getAt(i));
    // The programs together are bounded: a list that does not fit fails
    // before any record is written.
    const uint32_t length = flatProgramLength(prepared->code);
    if (length > flatSortProgramBytes - programBytes) {
      addFlatError(stateGeneral, msgExpressionLimit);
      return kvFailure;
    }
    programBytes += length;
    SortItem item;
    item.program = prepared->code;
    item.length = flatSortSlotLength(prepared->type, prepared->width);
    item.offset = uint16_t(offset);
    item.descending = prepared->descending != 0;
    offset += item.length;
    out->items.push_back(std::move(item));
    if (offset > 0xF000 || out->items.size() >= kvSortMaxKeys) {
      addFlatError(stateGeneral, msgExpressionLimit);
      return kvFailure;
    }
  }
  *recordBytes = offset;
  return kvSuccess;
}

}  // namespace

KvStatus flatSelectItemProgram(const FlatSelectField* field, uint8_t** program) {
  *program = nullptr;
  if (field->isPlainColumn()) {
    FlatCodeBuffer code;
    if (code.put(opColumn) != kvSuccess || code.putU32(field->table ? field->table->getTableHandle() : 0) != kvSuccess ||
        code.putU16(field->column) != kvSuccess || code.put(opEnd) != kvSuccess)
      return kvFailure;
    *program = code.release();
  } else {
    const uint32_t length = flatProgramLength(field->code);
    *program = static_cast<uint8_t*>(ramAlloc(length));
    if (*program) std::memcpy(*program, field->code, length);
  }
  if (!*program) {
    addOdbcError(stateMemory);
    return kvFailure;
  }
  return kvSuccess;
}

uint16_t flatSortSlotLength(int16_t type, uint32_t width) {
  uint32_t valueBytes = 8;
  if (!isFixedType(type)) valueBytes = width > flatSortTextLimit ? uint32_t(flatSortTextLimit) : (width ? width : 1u);
  return uint16_t(1 + (valueBytes < 8 ? 8 : valueBytes));
}

void flatEncodeSortValue(const uint8_t* value, int16_t length, uint8_t kind, uint8_t* slot, uint16_t slotLength) {
  std::memset(slot, 0, slotLength);
  if (kind == flatEvalNull || kind == flatEvalUndecidable || kind == flatEvalOuterBlank || length < 0) return;
  const bool isText = kind == flatEvalText || kind == flatEvalFunctionText;
  if (length == 0 && !isText) return;
  slot[0] = 1;
  uint8_t* bytes = slot + 1;
  const uint32_t room = slotLength - 1u;
  if (kind == flatEvalNumber || kind == flatEvalDate) {
    double number = 0;
    std::memcpy(&number, value, sizeof number);
    if (number == 0) number = 0;  // -0 orders as 0
    uint64_t bits = 0;
    std::memcpy(&bits, &number, sizeof bits);
    // Negative numbers: every bit flipped; the rest: the sign bit set.
    bits = (bits & 0x8000000000000000ULL) ? ~bits : (bits | 0x8000000000000000ULL);
    kvPutU64BE(bytes, bits);
    return;
  }
  if (kind == flatEvalLogical) {
    bytes[0] = value[0];
    return;
  }
  const uint32_t n = uint32_t(length) < room ? uint32_t(length) : room;
  if (n) std::memcpy(bytes, value, n);
  std::memset(bytes + n, ' ', room - n);
}

double flatDecodeSortNumber(const uint8_t* bytes) {
  uint64_t bits = kvGetU64BE(bytes);
  bits = (bits & 0x8000000000000000ULL) ? (bits & ~0x8000000000000000ULL) : ~bits;
  double number = 0;
  std::memcpy(&number, &bits, sizeof number);
  return number;
}

KvStatus flatSortKeyset(FlatStatement* statement, FlatSqlDesc* query, RidFileMgr* keyset, KvArray* orderItems,
                        uint16_t blockLimit) {
  SortItems items;
  uint32_t keyBytes = 0;
  if (placeItems(orderItems, &items, &keyBytes) != kvSuccess) return kvFailure;
  const uint32_t orderBytes = keyBytes;
  uint32_t distinctBytes = 0;
  const bool distinct = (query->getFlags() & FlatSqlDesc::flagDistinct) != 0;
  if (distinct && addSelectItems(query, &items, &keyBytes, &distinctBytes) != kvSuccess) return kvFailure;

  // The first read starts the keyset and fixes its entry size.
  GetRecRetType result = getRecFound;
  if (keyset->getRecord(1, &result) != kvSuccess) return kvFailure;
  const uint32_t entryBytes = keyset->getEntryBytes();
  const uint32_t recordBytes = keyBytes + entryBytes;
  if (recordBytes > 0xFFFF) {
    addFlatError(stateGeneral, msgExpressionLimit);
    return kvFailure;
  }
  KvSort sort{uint16_t(recordBytes)};
  if (blockLimit) sort.setBlockLimit(blockLimit);
  const uint16_t zeroFirst = (query->getFlags() & FlatSqlDesc::flagNullAware) ? sortKeyZeroFirst : 0;
  for (const SortItem& item : items.items) {
    if (item.selectItem) continue;
    const uint16_t flags = item.descending ? uint16_t(sortKeyDescending | zeroFirst) : uint16_t(0);
    if (sort.addKey(flags, item.offset, item.length) != kvSuccess) return kvFailure;
  }
  if (distinctBytes && sort.addKey(0, uint16_t(orderBytes), uint16_t(distinctBytes)) != kvSuccess) return kvFailure;

  uint8_t value[flatSortTextLimit + 8];
  for (uint32_t row = 1; result != getRecPastEnd; ++row) {
    if (row > 1 && keyset->getRecord(row, &result) != kvSuccess) return kvFailure;
    if (result != getRecFound) continue;
    // A long sort asks every 16 rows whether the user wants it stopped.
    if ((row & 15) == 0 && bosabort()) {
      addFlatError(stateGeneral, msgOperationAborted);
      return kvFailure;
    }
    void* slot = nullptr;
    if (sort.nextSlot(&slot) != kvSuccess) return kvFailure;
    uint8_t* record = static_cast<uint8_t*>(slot);
    for (const SortItem& item : items.items) {
      int16_t length = 0;
      uint8_t kind = 0;
      if (evalExpr(statement, query, nullptr, item.program, value, sizeof value, 0, &length, &kind) != kvSuccess)
        return kvFailure;
      flatEncodeSortValue(value, length, kind, record + item.offset, item.length);
    }
    keyset->packCurrent(record + keyBytes);
  }

  if (keyset->beginWritten() != kvSuccess) return kvFailure;
  for (;;) {
    void* sorted = nullptr;
    uint16_t equalKeys = 0;
    if (sort.getSortedWithCompare(&sorted, &equalKeys) != kvSuccess) return kvFailure;
    if (!sorted) break;
    // DISTINCT: a record equal to the one before on every key is a duplicate.
    if (distinct && equalKeys == sort.getKeyCount()) continue;
    if (keyset->appendEntry(static_cast<const uint8_t*>(sorted) + keyBytes) != kvSuccess) return kvFailure;
  }
  return kvSuccess;
}

KvStatus flatOrderKeyset(FlatStatement* statement, FlatSqlDesc* query, RidFileMgr* keyset, bool* sorted) {
  if (sorted) *sorted = false;
  KvArray& orderItems = query->getOrderItems();
  const bool distinct = (query->getFlags() & FlatSqlDesc::flagDistinct) != 0;
  if (!distinct && orderItems.getCount() == 0) return kvSuccess;
  // The first read chooses every table's plan.
  GetRecRetType result = getRecFound;
  if (keyset->getRecord(1, &result) != kvSuccess) return kvFailure;
  FlatFileDesc* first = query->getFirstTable();
  const FlatOptDesc* plan = first ? first->getOptDesc() : nullptr;
  if (!distinct && !keyset->getGroupRows() && !keyset->isOneRow() && plan && plan->index &&
      flatIndexDeliversOrder(statement, query, plan->index))
    return kvSuccess;
  if (sorted) *sorted = true;
  return flatSortKeyset(statement, query, keyset, &orderItems);
}
