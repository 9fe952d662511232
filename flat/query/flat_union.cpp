// UNION pairs; see flat_union.h.
#include "flat/query/flat_union.h"

#include "base/handles/base_error_list.h"
#include "base/handles/base_message_ids.h"
#include "flat/connection/flat_connection.h"
#include "flat/exec/flat_statement.h"
#include "flat/expr/flat_evaluator.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "flat/query/flat_aggregates.h"
#include "flat/query/flat_keyset.h"
#include "flat/query/flat_sort.h"
#include "flat/sql/flat_descriptor.h"
#include "flat/sql/flat_select_field.h"
#include "flat/sql/flat_sql_token.h"
#include "util/os/bos.h"
#include "util/byte_order.h"
#include "util/memory/ram.h"
#include "util/files/shared_file.h"
#include "util/files/sort.h"

#include <cstdlib>
#include <cstring>

namespace {

enum : uint32_t {
  pairBytes = 8,
  tailBytes = 9,  // the kept-link mark, query index and row number behind the slots
};

struct OrderKey {
  uint16_t item = 0;  // select item, from 0
  bool descending = false;
};

// The ORDER BY of a UNION: positions, each perhaps ASC or DESC.
KvStatus parseOrder(const unsigned char* text, uint16_t items, std::vector<OrderKey>* keys) {
  if (!text || !*flatSkipWhite(text)) return kvSuccess;
  for (;;) {
    FlatToken token;
    if (token.read(&text, flatScanOperator) != kvSuccess) return kvFailure;
    const long position = token.isNumber() ? std::strtol(reinterpret_cast<const char*>(token.getText()), nullptr, 10) : 0;
    if (position < 1 || position > long(items)) {
      addFlatError(stateSyntax, msgOrderBySyntax) << reinterpret_cast<const char*>(token.getText());
      return kvFailure;
    }
    OrderKey key;
    key.item = uint16_t(position - 1);
    if (token.read(&text, flatScanOperator) != kvSuccess) return kvFailure;
    if (token.is("DESC") || token.is("ASC")) {
      key.descending = token.is("DESC");
      if (token.read(&text, flatScanOperator) != kvSuccess) return kvFailure;
    }
    keys->push_back(key);
    if (keys->size() >= kvSortMaxKeys) {
      addFlatError(stateGeneral, msgExpressionLimit);
      return kvFailure;
    }
    if (token.isEnd()) return kvSuccess;
    if (!token.is(",")) {
      addFlatError(stateSyntax, msgOrderBySyntax) << reinterpret_cast<const char*>(token.getText());
      return kvFailure;
    }
  }
}

}  // namespace

FlatUnionResult::FlatUnionResult(FlatStatement* statement, FlatSqlDesc* head)
    : statement_(statement), head_(head), current_(head) {}

FlatUnionResult::~FlatUnionResult() { delete pairs_; }

KvStatus FlatUnionResult::appendPair(uint32_t query, uint32_t row) {
  if (uint64_t(rows_ + 1) * pairBytes > 0xFFFFFFFFull) {
    addOdbcError(stateMemory);
    return kvFailure;
  }
  uint8_t pair[pairBytes];
  kvPutU32BE(pair, query);
  kvPutU32BE(pair + 4, row);
  if (pairs_->write(rows_ * pairBytes, pair, pairBytes) != kvSuccess) return kvFailure;
  ++rows_;
  return kvSuccess;
}

KvStatus FlatUnionResult::build(const unsigned char* orderBy, uint16_t blockLimit) {
  rows_ = 0;
  current_ = head_;
  if (!pairs_) pairs_ = new KvSharedFile(statement_->getFlatConnection()->getScratchStore());
  if (!pairs_) {
    addOdbcError(stateMemory);
    return kvFailure;
  }
  pairs_->truncate();
  keysets_.clear();
  queries_.clear();

  const uint16_t items = head_->getItemCount();
  std::vector<OrderKey> order;
  if (parseOrder(orderBy, items, &order) != kvSuccess) return kvFailure;

  // Each query's own rows: aggregated and grouped, and its own DISTINCT.
  for (FlatSqlDesc* query = head_; query; query = query->getNextQuery()) {
    keysets_.push_back(std::make_unique<RidFileMgr>(statement_, query));
    RidFileMgr* keyset = keysets_.back().get();
    queries_.push_back(query);
    if (query->getItemCount() != items) {
      addFlatSyntaxError(msgUnionColumnCount);
      return kvFailure;
    }
    if (query->getAggregates().getCount() || query->getGroupByText()) {
      uint16_t oneRow = 0;
      if (flatComputeAggregates(statement_, query, keyset, &oneRow, blockLimit) != kvSuccess) return kvFailure;
    }
    if ((query->getFlags() & FlatSqlDesc::flagDistinct) &&
        flatSortKeyset(statement_, query, keyset, nullptr, blockLimit) != kvSuccess)
      return kvFailure;
  }
  // UNION binds from the left: the queries up to the last link without
  // ALL drop duplicates among themselves; the UNION ALL links after it
  // add their rows as they are.
  uint32_t distinctQueries = 0;
  for (uint32_t q = 1; q < queries_.size(); ++q)
    if (!(queries_[q]->getFlags() & FlatSqlDesc::flagUnionAll)) distinctQueries = q + 1;
  const bool all = distinctQueries == 0;

  if (all && order.empty()) {
    // UNION ALL in chain order: no sort.
    for (uint32_t q = 0; q < queries_.size(); ++q) {
      for (uint32_t row = 1;; ++row) {
        GetRecRetType result = getRecFound;
        if (keysets_[q]->getRecord(row, &result) != kvSuccess) return kvFailure;
        if (result == getRecPastEnd) break;
        if ((row & 15) == 0 && bosabort()) {
          addFlatError(stateGeneral, msgOperationAborted);
          return kvFailure;
        }
        if (result == getRecFound && appendPair(q, row) != kvSuccess) return kvFailure;
      }
    }
    return kvSuccess;
  }

  // One slot a result column, at the width of the head's (the widest of
  // the chain).
  std::vector<uint16_t> offsets(items), lengths(items);
  uint32_t slotBytes = 0;
  for (uint16_t i = 0; i < items; ++i) {
    const FlatSelectField* field = head_->getItem(i);
    offsets[i] = uint16_t(slotBytes);
    lengths[i] = flatSortSlotLength(field->engineType ? field->engineType : field->sqlType, field->precision);
    slotBytes += lengths[i];
    if (slotBytes + tailBytes > 0xFFFF) {
      addFlatError(stateGeneral, msgExpressionLimit);
      return kvFailure;
    }
  }
  KvSort sort{uint16_t(slotBytes + tailBytes)};
  if (blockLimit) sort.setBlockLimit(blockLimit);
  const uint16_t zeroFirst = (head_->getFlags() & FlatSqlDesc::flagNullAware) ? sortKeyZeroFirst : 0;
  for (const OrderKey& key : order) {
    const uint16_t flags = key.descending ? uint16_t(sortKeyDescending | zeroFirst) : uint16_t(0);
    if (sort.addKey(flags, offsets[key.item], lengths[key.item]) != kvSuccess) return kvFailure;
  }
  // Rows of the distinct links sort before equal rows of the ALL links
  // (mark 0 before 1), so that a duplicate is always next to the row it
  // repeats.
  if (!all && (sort.addKey(0, 0, uint16_t(slotBytes)) != kvSuccess ||
               sort.addKey(0, uint16_t(slotBytes), 1) != kvSuccess))
    return kvFailure;

  uint8_t value[flatEvalScratchBytes];
  uint32_t filled = 0;
  for (uint32_t q = 0; q < queries_.size(); ++q) {
    FlatSqlDesc* query = queries_[q];
    std::vector<KvRamPtr<uint8_t>> programs;  // the select items' programs
    for (uint16_t i = 0; i < items; ++i) {
      uint8_t* program = nullptr;
      if (flatSelectItemProgram(query->getItem(i), &program) != kvSuccess) return kvFailure;
      KvRamPtr<uint8_t> owned(program);
      programs.push_back(std::move(owned));
    }
    for (uint32_t row = 1;; ++row) {
      GetRecRetType result = getRecFound;
      if (keysets_[q]->getRecord(row, &result) != kvSuccess) return kvFailure;
      if (result == getRecPastEnd) break;
      if (result != getRecFound) continue;
      if ((++filled & 15) == 0 && bosabort()) {
        addFlatError(stateGeneral, msgOperationAborted);
        return kvFailure;
      }
      void* slot = nullptr;
      if (sort.nextSlot(&slot) != kvSuccess) return kvFailure;
      uint8_t* record = static_cast<uint8_t*>(slot);
      for (uint16_t i = 0; i < items; ++i) {
        int16_t length = 0;
        uint8_t kind = 0;
        if (evalExpr(statement_, query, nullptr, programs[i].get(), value, sizeof value, 0, &length, &kind) !=
            kvSuccess)
          return kvFailure;
        flatEncodeSortValue(value, length, kind, record + offsets[i], lengths[i]);
      }
      record[slotBytes] = q < distinctQueries ? 0 : 1;
      kvPutU32BE(record + slotBytes + 1, q);
      kvPutU32BE(record + slotBytes + 5, row);
    }
  }
  for (;;) {
    void* sorted = nullptr;
    uint16_t equalKeys = 0;
    if (sort.getSortedWithCompare(&sorted, &equalKeys) != kvSuccess) return kvFailure;
    if (!sorted) break;
    const uint8_t* record = static_cast<const uint8_t*>(sorted);
    // A row of the distinct links equal on every key to the one before (of
    // the distinct links too, by the mark) is a duplicate.
    if (!all && record[slotBytes] == 0 && equalKeys == sort.getKeyCount()) continue;
    if (appendPair(kvGetU32BE(record + slotBytes + 1), kvGetU32BE(record + slotBytes + 5)) != kvSuccess)
      return kvFailure;
  }
  return kvSuccess;
}

KvStatus FlatUnionResult::getRecord(uint32_t n, GetRecRetType* result) {
  *result = getRecPastEnd;
  if (n == 0 || n > rows_) return kvSuccess;
  uint8_t pair[pairBytes];
  if (pairs_->read((n - 1) * pairBytes, pair, pairBytes) != kvSuccess) return kvFailure;
  const uint32_t index = kvGetU32BE(pair);
  if (index >= queries_.size()) {
    addOdbcError(stateGeneral);
    return kvFailure;
  }
  current_ = queries_[index];
  return keysets_[index]->getRecord(kvGetU32BE(pair + 4), result);
}
