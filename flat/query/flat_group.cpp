// Grouping through the record sort; see flat_group.h.
#include "flat/query/flat_group.h"

#include "base/handles/base_error_list.h"
#include "base/handles/base_message_ids.h"
#include "flat/connection/flat_connection.h"
#include "flat/exec/flat_statement.h"
#include "flat/expr/flat_byte_code.h"
#include "flat/expr/flat_evaluator.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "flat/query/flat_agg_field.h"
#include "flat/query/flat_aggregates.h"
#include "flat/query/flat_keyset.h"
#include "flat/query/flat_sort.h"
#include "flat/sql/flat_descriptor.h"
#include "util/os/bos.h"
#include "util/byte_order.h"
#include "util/memory/ram.h"
#include "util/files/shared_file.h"
#include "util/files/sort.h"

#include <cstring>
#include <vector>

namespace {

enum : uint32_t {
  inputHeaderBytes = 3,          // kind, 16-bit length
  sortRecordLimit = 0xFFFF,      // KvSort's record length is 16-bit
  rowStoreLimit = 0xFFFFFFFFu,   // views are addressed in 32 bits
};

struct GroupKey {
  const uint8_t* program = nullptr;  // the descriptor's
  uint16_t offset = 0;
  uint16_t length = 0;
};

struct Input {
  FlatAggField* record = nullptr;
  uint16_t offset = 0;
  uint16_t length = 0;      // bytes in the sort record
  uint16_t valueBytes = 0;  // value bytes kept of an ordinary input
};

bool isDateType(int16_t type) {
  return type == flatTypeDate || type == flatTypeTime || type == flatTypeTimestamp;
}

void resetRecord(FlatAggField* record) {
  record->count = 0;
  std::memset(record->value, 0, record->size ? record->size : 1);
}

// An average holds its sum until its group is complete.
void finishAverage(FlatAggField* record) {
  if (!(record->flags & FlatAggField::aggAvg) || record->count == 0 || record->size < 8) return;
  double sum = 0;
  std::memcpy(&sum, record->value, 8);
  sum /= double(record->count);
  std::memcpy(record->value, &sum, 8);
}

// A DISTINCT value comes back from its sort-key slot.
KvStatus addDistinct(const Input& input, const uint8_t* slot) {
  FlatAggField* record = input.record;
  if (slot[0] == 0) return kvSuccess;  // NULL: no value
  const uint8_t* bytes = slot + 1;
  if (record->type == flatTypeNumber || isDateType(record->type)) {
    const double number = flatDecodeSortNumber(bytes);
    uint8_t value[8];
    std::memcpy(value, &number, 8);
    return flatAccumulate(record, value, 8, record->type == flatTypeNumber ? flatEvalNumber : flatEvalDate);
  }
  if (record->type == flatTypeLogical) return flatAccumulate(record, bytes, 1, flatEvalLogical);
  uint32_t length = input.length - 1u;
  while (length && bytes[length - 1] == ' ') --length;
  return flatAccumulate(record, bytes, int16_t(length), flatEvalText);
}

KvStatus addInput(const Input& input, const uint8_t* at) {
  const uint8_t kind = at[0];
  int16_t length = int16_t(kvGetU16LE(at + 1));
  // COUNT keeps no value bytes but needs the length to tell NULL apart.
  if (!(input.record->flags & FlatAggField::aggCount) && length > int16_t(input.valueBytes))
    length = int16_t(input.valueBytes);
  return flatAccumulate(input.record, at + inputHeaderBytes, length, kind);
}

}  // namespace

struct FlatGroupRows::Layout {
  std::vector<GroupKey> keys;
  std::vector<Input> distincts;  // one a DISTINCT aggregate, in aggregate order
  std::vector<Input> inputs;     // the other aggregates
  uint32_t entryOffset = 0;
  uint32_t recordBytes = 0;
  // Whether record is accumulated and written in pass (of passes).
  bool handles(const FlatAggField* record, uint16_t pass, uint16_t passes) const {
    if (record->flags & FlatAggField::aggDistinct) return distincts[pass].record == record;
    return pass + 1 == passes;
  }
};

FlatGroupRows::FlatGroupRows(FlatStatement* statement, FlatSqlDesc* query, RidFileMgr* keyset)
    : statement_(statement), query_(query), keyset_(keyset) {}

FlatGroupRows::~FlatGroupRows() {
  delete rows_;
  ramFree(row_);
}

namespace {

// The GROUP BY items the prepare compiled, each given its slot at
// increasing offsets from 0. The programs stay the descriptor's.
KvStatus placeKeys(FlatSqlDesc* query, std::vector<GroupKey>* keys, uint32_t* bytes) {
  KvArrayPVoid& programs = query->getGroupByCodes();
  const std::vector<FlatSqlDesc::GroupByType>& types = query->getGroupByTypes();
  *bytes = 0;
  for (uint16_t i = 0; i < programs.getCount() && i < types.size(); ++i) {
    GroupKey key;
    key.offset = uint16_t(*bytes);
    key.length = flatSortSlotLength(types[i].type, types[i].width);
    key.program = static_cast<const uint8_t*>(programs.getAt(i));
    *bytes += key.length;
    keys->push_back(key);
    if (*bytes > sortRecordLimit || keys->size() >= kvSortMaxKeys) {
      addFlatError(stateGeneral, msgExpressionLimit);
      return kvFailure;
    }
  }
  return kvSuccess;
}

// One program on the current rows, into the scratch value.
KvStatus evaluate(FlatStatement* statement, FlatSqlDesc* query, const uint8_t* program, uint8_t* value,
                  int16_t* length, uint8_t* kind) {
  return evalExpr(statement, query, nullptr, program, value, flatEvalScratchBytes, 0, length, kind);
}

}  // namespace

KvStatus FlatGroupRows::build(uint16_t blockLimit) {
  rowCount_ = 0;
  currentRow_ = 0;
  if (rows_) rows_->truncate();
  Layout layout;
  uint32_t offset = 0;
  if (placeKeys(query_, &layout.keys, &offset) != kvSuccess) return kvFailure;

  KvArray& records = query_->getAggregates();
  for (uint16_t i = 0; i < records.getCount(); ++i) {
    auto* record = static_cast<FlatAggField*>(records.getAt(i));
    resetRecord(record);
    Input input;
    input.record = record;
    input.offset = uint16_t(offset);
    if (record->flags & FlatAggField::aggDistinct) {
      const uint32_t width = record->type == flatTypeText ? record->size - 1u : record->size;
      input.length = flatSortSlotLength(record->type, width);
      layout.distincts.push_back(input);
    } else {
      input.valueBytes = (record->flags & FlatAggField::aggCount) ? 0 : record->size;
      if (record->type == flatTypeText && input.valueBytes) --input.valueBytes;  // the terminator is not kept
      input.length = uint16_t(inputHeaderBytes + input.valueBytes);
      layout.inputs.push_back(input);
    }
    offset += input.length;
    if (offset > sortRecordLimit) {
      addFlatError(stateGeneral, msgExpressionLimit);
      return kvFailure;
    }
  }
  if (layout.keys.size() + 1 > kvSortMaxKeys) {
    addFlatError(stateGeneral, msgExpressionLimit);
    return kvFailure;
  }

  // The first read starts the keyset and fixes its entry size.
  query_->clearFlags(FlatSqlDesc::flagGrouped);
  query_->addFlags(FlatSqlDesc::flagAggregateSort);
  GetRecRetType result = getRecFound;
  KvStatus status = keyset_->getRecord(1, &result);
  query_->clearFlags(FlatSqlDesc::flagAggregateSort);
  if (status != kvSuccess) return kvFailure;
  entryBytes_ = keyset_->getEntryBytes();
  layout.entryOffset = offset;
  layout.recordBytes = offset + entryBytes_;
  if (layout.recordBytes > sortRecordLimit) {
    addFlatError(stateGeneral, msgExpressionLimit);
    return kvFailure;
  }
  rowBytes_ = query_->getAggregateRowBytes() + entryBytes_;
  ramFree(row_);
  row_ = static_cast<uint8_t*>(ramAllocZ(rowBytes_ ? rowBytes_ : 1));
  if (!rows_ && row_) rows_ = new KvSharedFile(statement_->getFlatConnection()->getScratchStore());
  if (!row_ || !rows_) {
    addOdbcError(stateMemory);
    return kvFailure;
  }

  KvSort sort{uint16_t(layout.recordBytes)};
  if (blockLimit) sort.setBlockLimit(blockLimit);
  for (const GroupKey& key : layout.keys)
    if (sort.addKey(0, key.offset, key.length) != kvSuccess) return kvFailure;
  if (!layout.distincts.empty() &&
      sort.addKey(0, layout.distincts[0].offset, layout.distincts[0].length) != kvSuccess)
    return kvFailure;

  // Fill: one record a row of the query.
  uint8_t value[flatEvalScratchBytes];
  query_->addFlags(FlatSqlDesc::flagAggregateSort);
  for (uint32_t row = 1; status == kvSuccess && result != getRecPastEnd; ++row) {
    if (row > 1 && (status = keyset_->getRecord(row, &result)) != kvSuccess) break;
    if (result != getRecFound) continue;
    // A long grouping asks every 16 rows whether the user wants it stopped.
    if ((row & 15) == 0 && bosabort()) {
      addFlatError(stateGeneral, msgOperationAborted);
      status = kvFailure;
      break;
    }
    void* slot = nullptr;
    if ((status = sort.nextSlot(&slot)) != kvSuccess) break;
    uint8_t* record = static_cast<uint8_t*>(slot);
    std::memset(record, 0, layout.recordBytes);
    int16_t length = 0;
    uint8_t kind = 0;
    for (const GroupKey& key : layout.keys) {
      if ((status = evaluate(statement_, query_, key.program, value, &length, &kind)) != kvSuccess) break;
      flatEncodeSortValue(value, length, kind, record + key.offset, key.length);
    }
    for (size_t i = 0; status == kvSuccess && i < layout.distincts.size(); ++i) {
      const Input& input = layout.distincts[i];
      if ((status = evaluate(statement_, query_, input.record->program, value, &length, &kind)) != kvSuccess) break;
      flatEncodeSortValue(value, length, kind, record + input.offset, input.length);
    }
    for (size_t i = 0; status == kvSuccess && i < layout.inputs.size(); ++i) {
      const Input& input = layout.inputs[i];
      if ((status = evaluate(statement_, query_, input.record->program, value, &length, &kind)) != kvSuccess) break;
      uint8_t* at = record + input.offset;
      at[0] = kind;
      kvPutU16LE(at + 1, uint16_t(length));
      if (length > 0) std::memcpy(at + inputHeaderBytes, value, length < input.valueBytes ? size_t(length) : input.valueBytes);
    }
    if (status == kvSuccess) keyset_->packCurrent(record + layout.entryOffset);
  }
  query_->clearFlags(FlatSqlDesc::flagAggregateSort);
  if (status != kvSuccess) return kvFailure;

  // Read back, one pass a DISTINCT aggregate (one pass without any).
  const uint16_t groupKeys = uint16_t(layout.keys.size());
  const uint16_t passes = layout.distincts.empty() ? uint16_t(1) : uint16_t(layout.distincts.size());
  uint32_t groups = 0;
  for (uint16_t pass = 0; pass < passes; ++pass) {
    const bool last = pass + 1 == passes;
    if (pass > 0) {
      // The next DISTINCT value replaces the last key; the records are
      // already in group order, so each group is re-sorted on its own.
      sort.removeLastKey();
      if (sort.addKey(0, layout.distincts[pass].offset, layout.distincts[pass].length) != kvSuccess) return kvFailure;
      sort.setStartKey(groupKeys);
      status = sort.reSort();
      sort.setStartKey(0);
      if (status != kvSuccess) return kvFailure;
    }
    for (uint16_t i = 0; i < records.getCount(); ++i) {
      auto* record = static_cast<FlatAggField*>(records.getAt(i));
      if (layout.handles(record, pass, passes)) resetRecord(record);
    }
    groups = 0;
    bool open = false;
    for (uint32_t read = 1;; ++read) {
      void* sorted = nullptr;
      uint16_t equalKeys = 0;
      if (sort.getSortedWithCompare(&sorted, &equalKeys) != kvSuccess) return kvFailure;
      if (!sorted) break;
      if ((read & 15) == 0 && bosabort()) {
        addFlatError(stateGeneral, msgOperationAborted);
        return kvFailure;
      }
      const uint8_t* record = static_cast<const uint8_t*>(sorted);
      const bool newGroup = !open || equalKeys < groupKeys;
      if (newGroup) {
        if (open && writeRow(groups, layout, pass, last, row_ + query_->getAggregateRowBytes()) != kvSuccess)
          return kvFailure;
        for (uint16_t i = 0; i < records.getCount(); ++i) {
          auto* aggregate = static_cast<FlatAggField*>(records.getAt(i));
          if (layout.handles(aggregate, pass, passes)) resetRecord(aggregate);
        }
        ++groups;
        open = true;
      }
      if (!layout.distincts.empty() && (newGroup || equalKeys < groupKeys + 1) &&
          addDistinct(layout.distincts[pass], record + layout.distincts[pass].offset) != kvSuccess)
        return kvFailure;
      if (!last) continue;
      for (const Input& input : layout.inputs)
        if (addInput(input, record + input.offset) != kvSuccess) return kvFailure;
      // The group's entry: the keyset entry of one of its records.
      std::memcpy(row_ + query_->getAggregateRowBytes(), record + layout.entryOffset, entryBytes_);
    }
    if (open && writeRow(groups, layout, pass, last, row_ + query_->getAggregateRowBytes()) != kvSuccess)
      return kvFailure;
  }
  rowCount_ = groupKeys ? groups : 0;
  return kvSuccess;
}

KvStatus FlatGroupRows::writeRow(uint32_t n, const Layout& layout, uint16_t pass, bool last, const uint8_t* entry) {
  KvArray& records = query_->getAggregates();
  const uint16_t passes = layout.distincts.empty() ? uint16_t(1) : uint16_t(layout.distincts.size());
  for (uint16_t i = 0; i < records.getCount(); ++i) {
    auto* record = static_cast<FlatAggField*>(records.getAt(i));
    if (layout.handles(record, pass, passes)) finishAverage(record);
  }
  // Without GROUP BY the one group stays in the records.
  if (layout.keys.empty()) return kvSuccess;
  const uint64_t at = uint64_t(n - 1) * rowBytes_;
  if (at + rowBytes_ > rowStoreLimit) {
    addOdbcError(stateMemory);
    return kvFailure;
  }
  const uint32_t aggregateBytes = query_->getAggregateRowBytes();
  if (pass == 0) {
    // The first pass writes whole rows; fields of later passes stay 0 until
    // their pass writes them.
    std::vector<uint8_t> row(rowBytes_, 0);
    for (uint16_t i = 0; i < records.getCount(); ++i) {
      auto* record = static_cast<FlatAggField*>(records.getAt(i));
      if (!layout.handles(record, pass, passes)) continue;
      kvPutU32LE(&row[record->offset], record->count);
      std::memcpy(&row[record->offset + 4], record->value, record->size);
    }
    if (last) std::memcpy(&row[aggregateBytes], entry, entryBytes_);
    return rows_->write(uint32_t(at), row.data(), rowBytes_);
  }
  for (uint16_t i = 0; i < records.getCount(); ++i) {
    auto* record = static_cast<FlatAggField*>(records.getAt(i));
    if (!layout.handles(record, pass, passes)) continue;
    uint8_t count[4];
    kvPutU32LE(count, record->count);
    if (rows_->write(uint32_t(at + record->offset), count, 4) != kvSuccess ||
        rows_->write(uint32_t(at + record->offset + 4), record->value, record->size) != kvSuccess)
      return kvFailure;
  }
  if (last && rows_->write(uint32_t(at + aggregateBytes), entry, entryBytes_) != kvSuccess) return kvFailure;
  return kvSuccess;
}

KvStatus FlatGroupRows::readRow(uint32_t n, GetRecRetType* result) {
  *result = getRecPastEnd;
  if (n == 0 || n > rowCount_) return kvSuccess;
  if (rows_->read((n - 1) * rowBytes_, row_, rowBytes_) != kvSuccess) return kvFailure;
  KvArray& records = query_->getAggregates();
  for (uint16_t i = 0; i < records.getCount(); ++i) {
    auto* record = static_cast<FlatAggField*>(records.getAt(i));
    record->count = kvGetU32LE(row_ + record->offset);
    std::memcpy(record->value, row_ + record->offset + 4, record->size);
  }
  currentRow_ = n;
  return keyset_->positionEntry(row_ + query_->getAggregateRowBytes(), getRidRead, result);
}
