// Aggregate accumulation; see flat_aggregates.h.
#include "flat/query/flat_aggregates.h"

#include "flat/expr/flat_byte_code.h"
#include "flat/expr/flat_evaluator.h"
#include "flat/query/flat_agg_field.h"
#include "flat/query/flat_group.h"
#include "flat/query/flat_keyset.h"
#include "flat/sql/flat_descriptor.h"
#include "flat/sql/flat_select_field.h"

#include <cstring>

namespace {

bool isCountAll(const FlatAggField* record) {
  return (record->flags & FlatAggField::aggCount) && record->program && record->program[0] == opText &&
         record->program[1] == 'A' && record->program[2] == 0;
}

// Texts compare without their trailing blanks.
int compareText(const uint8_t* a, uint32_t aLength, const uint8_t* b, uint32_t bLength) {
  while (aLength && a[aLength - 1] == ' ') --aLength;
  while (bLength && b[bLength - 1] == ' ') --bLength;
  const uint32_t common = aLength < bLength ? aLength : bLength;
  const int c = std::memcmp(a, b, common);
  if (c) return c;
  return aLength < bLength ? -1 : aLength > bLength ? 1 : 0;
}

// Whether the item's program reads a column before its first aggregate.
bool readsColumnOutsideAggregate(const uint8_t* program) {
  for (const uint8_t* op = program; *op != opEnd; op = getNextOp(op)) {
    if (*op == opAggregate) return false;
    if (*op == opColumn || *op == opRowId) return true;
  }
  return false;
}

// GROUP BY and DISTINCT aggregates: through the grouping sort. A grouped
// query's keyset then serves its result rows, the qualifying ones only when
// it has a HAVING condition.
KvStatus groupQuery(FlatStatement* statement, FlatSqlDesc* query, RidFileMgr* keyset, bool onlyAggregates,
                    uint16_t* oneRow, uint16_t blockLimit) {
  auto* groups = new FlatGroupRows(statement, query, keyset);
  if (groups->build(blockLimit) != kvSuccess) {
    delete groups;
    return kvFailure;
  }
  if (!query->getGroupByText()) {
    // One group, kept in the aggregate records.
    delete groups;
    if (onlyAggregates) {
      *oneRow = 1;
      keyset->setOneRow();
      query->setRowCount(1);
      query->addFlags(FlatSqlDesc::flagAggregatesComputed);
    }
    return kvSuccess;
  }
  keyset->setGroupRows(groups);
  query->addFlags(FlatSqlDesc::flagGrouped);
  const uint8_t* having = query->getHavingCode();
  if (having && *having != opEnd) {
    const uint32_t count = groups->getRowCount();
    if (keyset->beginWritten() != kvSuccess) return kvFailure;
    for (uint32_t n = 1; n <= count; ++n) {
      GetRecRetType result = getRecFound;
      if (groups->readRow(n, &result) != kvSuccess) return kvFailure;
      if (result != getRecFound) continue;
      SelRecRetType select = selFails;
      if (flatSelectRecord(statement, query, &select) != kvSuccess) return kvFailure;
      if (select == selQualifies && keyset->appendRid() != kvSuccess) return kvFailure;
    }
  }
  query->setRowCount(int32_t(keyset->getRows()));
  return kvSuccess;
}

}  // namespace

KvStatus flatAccumulate(FlatAggField* record, const uint8_t* value, int16_t length, uint8_t kind) {
  const bool isNull = length <= 0 && kind != flatEvalText && kind != flatEvalFunctionText;
  if (isNull && !isCountAll(record)) return kvSuccess;
  ++record->count;
  if (record->flags & FlatAggField::aggCount) return kvSuccess;
  const uint32_t bytes = length > 0 ? uint32_t(length) : 0;
  if (kind == flatEvalNumber || kind == flatEvalDate) {
    double incoming = 0, current = 0;
    if (bytes < 8 || record->size < 8) return kvSuccess;
    std::memcpy(&incoming, value, 8);
    std::memcpy(&current, record->value, 8);
    if (record->count == 1) current = incoming;
    else if (record->flags & (FlatAggField::aggSum | FlatAggField::aggAvg)) current += incoming;
    else if ((record->flags & FlatAggField::aggMin) && incoming < current) current = incoming;
    else if ((record->flags & FlatAggField::aggMax) && incoming > current) current = incoming;
    std::memcpy(record->value, &current, 8);
    return kvSuccess;
  }
  if (kind == flatEvalLogical) {
    if (bytes < 1) return kvSuccess;
    if (record->count == 1 || ((record->flags & FlatAggField::aggMin) && value[0] < record->value[0]) ||
        ((record->flags & FlatAggField::aggMax) && value[0] > record->value[0]))
      record->value[0] = value[0];
    else if (record->flags & (FlatAggField::aggSum | FlatAggField::aggAvg))
      record->value[0] = uint8_t(record->value[0] + value[0]);
    return kvSuccess;
  }
  // Text: kept with its terminator, cut to the record's size.
  const uint32_t room = record->size ? record->size - 1u : 0u;
  const uint32_t kept = bytes < room ? bytes : room;
  const uint32_t currentLength = uint32_t(strnlen(reinterpret_cast<const char*>(record->value), record->size));
  const int c = record->count == 1 ? 0 : compareText(value, kept, record->value, currentLength);
  if (record->count == 1 || ((record->flags & FlatAggField::aggMin) && c < 0) ||
      ((record->flags & FlatAggField::aggMax) && c > 0)) {
    if (kept) std::memcpy(record->value, value, kept);
    if (record->size) record->value[kept] = 0;
  }
  return kvSuccess;
}

KvStatus flatComputeAggregates(FlatStatement* statement, FlatSqlDesc* query, RidFileMgr* keyset, uint16_t* oneRow,
                                uint16_t blockLimit) {
  *oneRow = 0;
  query->clearFlags(FlatSqlDesc::flagAggregatesComputed | FlatSqlDesc::flagGrouped);
  KvArray& records = query->getAggregates();
  const bool grouped = query->getGroupByText() || (query->getFlags() & FlatSqlDesc::flagDistinctAggregate);
  if (records.getCount() == 0 && !grouped) return kvSuccess;
  for (uint16_t i = 0; i < records.getCount(); ++i) {
    auto* record = static_cast<FlatAggField*>(records.getAt(i));
    record->count = 0;
    std::memset(record->value, 0, record->size ? record->size : 1);
  }
  bool onlyAggregates = true;
  for (uint16_t i = 0; i < query->getItemCount(); ++i) {
    const FlatSelectField* item = query->getItem(i);
    if (item->isPlainColumn() || readsColumnOutsideAggregate(item->code)) onlyAggregates = false;
  }
  if (onlyAggregates && query->getTableCount() == 1) query->addFlags(FlatSqlDesc::flagAggregatesOnly);
  if (grouped) return groupQuery(statement, query, keyset, onlyAggregates, oneRow, blockLimit);

  // On the stack: a nested subquery evaluates while this one holds its value.
  uint8_t value[flatEvalScratchBytes];
  for (uint32_t row = 1;; ++row) {
    GetRecRetType result = getRecFound;
    if (keyset->getRecord(row, &result) != kvSuccess) return kvFailure;
    if (result == getRecPastEnd) break;
    if (result == getRecGone) continue;
    for (uint16_t i = 0; i < records.getCount(); ++i) {
      auto* record = static_cast<FlatAggField*>(records.getAt(i));
      int16_t length = 0;
      uint8_t kind = 0;
      if (evalExpr(statement, query, nullptr, record->program, value, sizeof(value), 0, &length, &kind) != kvSuccess)
        return kvFailure;
      if (flatAccumulate(record, value, length, kind) != kvSuccess) return kvFailure;
    }
  }
  for (uint16_t i = 0; i < records.getCount(); ++i) {
    auto* record = static_cast<FlatAggField*>(records.getAt(i));
    if ((record->flags & FlatAggField::aggAvg) && record->count && record->size >= 8) {
      double sum = 0;
      std::memcpy(&sum, record->value, 8);
      sum /= double(record->count);
      std::memcpy(record->value, &sum, 8);
    }
  }
  if (onlyAggregates) {
    // One row of aggregate values, also over no rows: COUNT 0, the others
    // NULL (their count is 0).
    *oneRow = 1;
    keyset->setOneRow();
    query->setRowCount(1);
    query->addFlags(FlatSqlDesc::flagAggregatesComputed);
  }
  return kvSuccess;
}
