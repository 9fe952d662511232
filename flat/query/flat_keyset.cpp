// The keyset and the join loop; see flat_keyset.h.
#include "flat/query/flat_keyset.h"

#include "base/connection/base_connection.h"
#include "base/handles/base_error_list.h"
#include "base/handles/base_message_ids.h"
#include "base/handles/base_messages.h"
#include "flat/connection/flat_changes.h"
#include "flat/connection/flat_connection.h"
#include "flat/connection/flat_file_desc.h"
#include "flat/connection/flat_rid.h"
#include "flat/connection/flat_shared_desc.h"
#include "flat/exec/flat_statement.h"
#include "flat/expr/flat_byte_code.h"
#include "flat/expr/flat_evaluator.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "flat/query/flat_group.h"
#include "flat/query/flat_optimizer.h"
#include "flat/query/flat_sorted_lookup.h"
#include "flat/sql/flat_descriptor.h"
#include "util/byte_order.h"
#include "util/memory/ram.h"
#include "util/files/shared_file.h"

#include <cstring>

namespace {

// Bits of a table's state in the join loop.
enum : uint8_t {
  statePositioned = 0x1,  // its scan runs for the current rows of the tables before it
  stateMatched = 0x2,     // a record qualified, or matched the outer-join comparisons, for those rows
  stateBlankGiven = 0x4,  // its blank outer-join row was offered for them
  stateOptional = 0x8,    // the optional side of an outer join
  stateOnBlank = 0x10,    // stands on its blank row
};

void markUnpositioned(FlatFileDesc* table) {
  table->setTableFlags(uint16_t((table->getTableFlags() | FlatFileDesc::tableNotPositioned) &
                                ~FlatFileDesc::tableBlankRow));
  if (table->getRid()) table->getRid()->reset();
}

void markOnRecord(FlatFileDesc* table) {
  table->setTableFlags(
      uint16_t(table->getTableFlags() & ~(FlatFileDesc::tableNotPositioned | FlatFileDesc::tableBlankRow)));
}

void markOnBlank(FlatFileDesc* table) {
  table->setTableFlags(uint16_t((table->getTableFlags() & ~FlatFileDesc::tableNotPositioned) |
                                FlatFileDesc::tableBlankRow));
  if (table->getRid()) table->getRid()->reset();
}

}  // namespace

KvStatus flatReadById(FlatFileDesc* cursor, GetRecRetType* result) {
  *result = getRecGone;
  FlatRid* rid = cursor->getRid();
  FlatSharedDesc* shared = cursor->getShared();
  FlatChangesDesc* changes = shared ? shared->getChanges() : nullptr;
  cursor->setRowFromLog(0);
  const void* image = rid->fullGet();
  uint8_t kind = 0;
  uint32_t offset = 0, found = 0;
  if (changes && changes->findEntry(image, &kind, &offset, &found) != kvSuccess) return kvFailure;
  if (rid->getState() == ridPendingInsert) {
    // A row this transaction inserted lives only in the log.
    if (!found || kind == flatChangeDelete || kind == flatChangeDeleteInserted) return kvSuccess;
    if (changes->loadRow(cursor, offset, true) != kvSuccess) return kvFailure;
    cursor->setRowFromLog(1);
    *result = getRecFound;
    return kvSuccess;
  }
  if (found && (kind == flatChangeDelete || kind == flatChangeDeleteInserted)) return kvSuccess;
  if (cursor->readRecord(result) != kvSuccess) return kvFailure;
  if (*result != getRecFound || !found) return kvSuccess;
  if (changes->loadRow(cursor, offset, false) != kvSuccess) return kvFailure;
  cursor->setRowFromLog(1);
  return kvSuccess;
}

KvStatus flatSelectRecord(FlatStatement* statement, FlatSqlDesc* query, SelRecRetType* result) {
  *result = selQualifies;
  const uint8_t* condition =
      (query->getFlags() & FlatSqlDesc::flagGrouped) && query->getHavingCode() ? query->getHavingCode()
                                                                                 : query->getWhereCode();
  if (!condition || *condition == opEnd) return kvSuccess;
  uint8_t out[2600];
  int16_t length = 0;
  uint8_t kind = 0;
  if (evalExpr(statement, query, nullptr, condition, out, sizeof(out), 0, &length, &kind) != kvSuccess)
    return kvFailure;
  if (length == -1) {
    *result = selUndecidable;
    return kvSuccess;
  }
  if (kind == flatEvalLogical && length >= 1 && out[0]) return kvSuccess;
  // A logical result is its byte, and the outer-join matched flag behind it.
  *result = (kind == flatEvalLogical && length >= 1 && out[1]) ? selFailsMatched : selFails;
  if (query->getRowCount() > 0 && !(query->getFlags() & FlatSqlDesc::flagGrouped))
    query->setRowCount(query->getRowCount() - 1);
  return kvSuccess;
}

RidFileMgr::RidFileMgr(FlatStatement* statement, FlatSqlDesc* query) : statement_(statement), query_(query) {}

RidFileMgr::~RidFileMgr() {
  delete groups_;
  delete file_;
  ramFree(tables_);
  ramFree(state_);
  ramFree(entry_);
}

KvStatus RidFileMgr::start() {
  if (started_) return kvSuccess;
  tableCount_ = query_->getTableCount();
  const uint16_t slots = tableCount_ ? tableCount_ : 1;
  tables_ = static_cast<FlatFileDesc**>(ramAllocZ(uint32_t(sizeof(FlatFileDesc*) * slots)));
  state_ = static_cast<uint8_t*>(ramAllocZ(slots));
  entryBytes_ = 0;
  uint16_t i = 0;
  for (FlatFileDesc* t = query_->getFirstTable(); t && i < tableCount_; t = t->getNextTable(), ++i) {
    if (tables_) tables_[i] = t;
    entryBytes_ += t->getShared()->getRidImageLength();
  }
  // At least the 4 bytes of a result-row number.
  entry_ = static_cast<uint8_t*>(ramAllocZ(entryBytes_ > 4 ? entryBytes_ : 4));
  FlatConnection* connection = statement_->getFlatConnection();
  if (!file_ && tables_ && state_ && entry_) file_ = new KvSharedFile(connection->getScratchStore());
  if (!tables_ || !state_ || !entry_ || !file_) {
    addOdbcError(stateMemory);
    return kvFailure;
  }
  for (i = 0; i < tableCount_; ++i) {
    state_[i] = (tables_[i]->getTableFlags() & FlatFileDesc::tableOuterOptional) ? stateOptional : 0;
    markUnpositioned(tables_[i]);
    if (flatOptimizeCursor(statement_, query_, tables_[i]) != kvSuccess) return kvFailure;
  }
  const uint8_t* where = query_->getWhereCode();
  currentOf_ = where && *where == opCurrentOf;
  started_ = true;
  return kvSuccess;
}

KvStatus RidFileMgr::reset() {
  if (file_) file_->truncate();
  delete groups_;
  groups_ = nullptr;
  oneRow_ = false;
  groupsWritten_ = false;
  rows_ = 0;
  ended_ = false;
  level_ = 0;
  if (started_) {
    for (uint16_t i = 0; i < tableCount_; ++i) {
      tables_[i]->setAccessMode(FlatFileDesc::flatAccessScan);
      state_[i] &= stateOptional;
      markUnpositioned(tables_[i]);
      if (flatOptimizeCursor(statement_, query_, tables_[i]) != kvSuccess) return kvFailure;
    }
  }
  return kvSuccess;
}

uint32_t RidFileMgr::getRows() const {
  if (oneRow_) return 1;
  if (groups_ && !groupsWritten_) return groups_->getRowCount();
  return rows_;
}

KvStatus RidFileMgr::beginWritten() {
  if (start() != kvSuccess) return kvFailure;
  file_->truncate();
  rows_ = 0;
  ended_ = true;
  if (groups_) groupsWritten_ = true;
  // Raw rows written in a sorted order are re-read one record at a time
  // all over their files.
  for (uint16_t i = 0; !groups_ && i < tableCount_; ++i) tables_[i]->setAccessMode(FlatFileDesc::flatAccessById);
  return kvSuccess;
}

void RidFileMgr::packCurrent(uint8_t* out) const {
  if (groups_) {
    kvPutU32BE(out, groups_->getCurrentRow());
    return;
  }
  uint32_t at = 0;
  for (uint16_t i = 0; i < tableCount_; ++i) {
    tables_[i]->getRid()->fullGet(out + at);
    at += tables_[i]->getShared()->getRidImageLength();
  }
}

KvStatus RidFileMgr::appendEntry(const uint8_t* entry) {
  if (start() != kvSuccess) return kvFailure;
  const uint32_t bytes = getEntryBytes();
  if (uint64_t(rows_ + 1) * bytes > 0xFFFFFFFFull) {
    addFlatError(stateGeneral, msgExpressionLimit);
    return kvFailure;
  }
  if (file_->write(rows_ * bytes, entry, bytes) != kvSuccess) return kvFailure;
  ++rows_;
  return kvSuccess;
}

KvStatus RidFileMgr::appendRid() {
  if (start() != kvSuccess) return kvFailure;
  packCurrent(entry_);
  return appendEntry(entry_);
}

void RidFileMgr::setGroupRows(FlatGroupRows* rows) {
  if (groups_ != rows) delete groups_;
  groups_ = rows;
  if (file_) file_->truncate();
  rows_ = 0;
  ended_ = true;
  groupsWritten_ = false;
}

void RidFileMgr::setOneRow() {
  if (file_) file_->truncate();
  rows_ = 0;
  ended_ = true;
  oneRow_ = true;
}

KvStatus RidFileMgr::getGroupedRecord(uint32_t row, GetRecRetType* result) {
  *result = getRecPastEnd;
  if (oneRow_) {
    if (row == 1) *result = getRecFound;
    return kvSuccess;
  }
  if (!groupsWritten_) return groups_->readRow(row, result);
  if (row == 0 || row > rows_) return kvSuccess;
  uint8_t number[4];
  if (file_->read((row - 1) * 4, number, 4) != kvSuccess) return kvFailure;
  return groups_->readRow(kvGetU32BE(number), result);
}

KvStatus RidFileMgr::setRid(uint32_t row) {
  if (start() != kvSuccess) return kvFailure;
  if (row == 0 || row > rows_ + 1) {
    addOdbcError(stateGeneral);
    return kvFailure;
  }
  uint32_t at = 0;
  for (uint16_t i = 0; i < tableCount_; ++i) {
    const uint16_t length = tables_[i]->getShared()->getRidImageLength();
    tables_[i]->getRid()->fullGet(entry_ + at);
    at += length;
  }
  return file_->write((row - 1) * entryBytes_, entry_, entryBytes_);
}

KvStatus RidFileMgr::getRid(uint32_t row, GetRidType how, GetRecRetType* result) {
  *result = getRecFound;
  if (start() != kvSuccess) return kvFailure;
  if (groups_ || oneRow_) return getGroupedRecord(row, result);
  if (row == 0 || row > rows_) {
    *result = getRecPastEnd;
    return kvSuccess;
  }
  if (file_->read((row - 1) * entryBytes_, entry_, entryBytes_) != kvSuccess) return kvFailure;
  return positionEntry(entry_, how, result);
}

KvStatus RidFileMgr::positionEntry(const uint8_t* entry, GetRidType how, GetRecRetType* result) {
  *result = getRecFound;
  if (start() != kvSuccess) return kvFailure;
  uint32_t at = 0;
  GetRecRetType answer = getRecFound;
  for (uint16_t i = 0; i < tableCount_; ++i) {
    FlatFileDesc* table = tables_[i];
    const uint16_t length = table->getShared()->getRidImageLength();
    FlatRid* rid = table->getRid();
    rid->fullSet(entry + at);
    at += length;
    if (rid->getState() == ridNoRecord) {
      markOnBlank(table);
      continue;
    }
    markOnRecord(table);
    if (how == getRidIdsOnly || (how == getRidReadButLast && i + 1 == tableCount_)) continue;
    GetRecRetType one = getRecFound;
    if (how == getRidPosition) {
      if (table->setRecordPosition() != kvSuccess) return kvFailure;
    } else if (how == getRidSetId) {
      if (table->setRecordID() != kvSuccess) return kvFailure;
    } else if (flatReadById(table, &one) != kvSuccess) {
      return kvFailure;
    }
    if (one != getRecFound) answer = getRecGone;
  }
  *result = answer;
  return kvSuccess;
}

KvStatus RidFileMgr::getRecord(uint32_t row, GetRecRetType* result) {
  *result = getRecPastEnd;
  if (start() != kvSuccess) return kvFailure;
  if (groups_ || oneRow_) return getGroupedRecord(row, result);
  if (row == 0) return kvSuccess;
  if (row <= rows_) return getRid(row, getRidRead, result);
  if (ended_) return kvSuccess;
  if (extend(row) != kvSuccess) {
    // A failed scan starts afresh on the next read.
    if (reset() != kvSuccess) return kvFailure;
    return kvFailure;
  }
  if (row > rows_) return kvSuccess;
  // The loop stops on the wanted row, so the tables already stand on it.
  *result = getRecFound;
  return kvSuccess;
}

KvStatus RidFileMgr::positionCurrentOf(bool* have) {
  *have = false;
  const uint8_t* where = query_->getWhereCode();
  const uint16_t length = flatOperandU16(where + 1);
  const uint8_t* name = where + 3;
  FlatStatement* other = nullptr;
  statement_->getConnection()->getStatements().forEach<BaseStatement>([&](BaseStatement* candidate) {
    const unsigned char* cursor = candidate->getCursorName();
    if (cursor && std::strlen(reinterpret_cast<const char*>(cursor)) == length &&
        std::memcmp(cursor, name, length) == 0 &&
        static_cast<FlatStatement*>(candidate)->getStatementKind() == flatKindSelect)
      other = static_cast<FlatStatement*>(candidate);
    return other == nullptr;
  });
  if (!other) {
    return flatCursorNotFound(name, length);
  }
  // The other statement's reader of the same table names the row.
  FlatFileDesc* mine = tables_[0];
  FlatFileDesc* source = nullptr;
  FlatDescriptor* head = other->getHeadDescriptor();
  FlatSqlDesc* otherQuery = head ? head->getSqlDesc() : nullptr;
  for (FlatFileDesc* t = otherQuery ? otherQuery->getFirstTable() : nullptr; t && !source; t = t->getNextTable())
    if (t->getShared() == mine->getShared()) source = t;
  if (!source || !source->getRid() || source->getRid()->getState() == ridNoRecord ||
      (source->getTableFlags() & (FlatFileDesc::tableNotPositioned | FlatFileDesc::tableBlankRow))) {
    addOdbcError(stateCursorState, msgCurrentOfNotOnRow);
    return kvFailure;
  }
  mine->getRid()->fullSet(source->getRid()->fullGet());
  GetRecRetType found = getRecFound;
  if (flatReadById(mine, &found) != kvSuccess) return kvFailure;
  if (found != getRecFound) return kvSuccess;
  markOnRecord(mine);
  *have = true;
  return kvSuccess;
}

KvStatus RidFileMgr::advance(uint16_t level, bool* have) {
  *have = false;
  FlatFileDesc* table = tables_[level];
  uint8_t& state = state_[level];
  if (!(state & statePositioned)) {
    state = uint8_t((state & stateOptional) | statePositioned);
    if (currentOf_ && level == 0) {
      bool found = false;
      if (positionCurrentOf(&found) != kvSuccess) return kvFailure;
      // The positioned row is the scan's only candidate.
      state |= stateBlankGiven;
      if (!found) return kvSuccess;
      SelRecRetType select = selQualifies;
      if (flatSelectRecord(statement_, query_, &select) != kvSuccess) return kvFailure;
      *have = select == selQualifies || select == selUndecidable;
      return kvSuccess;
    }
    if (flatStartRecords(statement_, query_, table) != kvSuccess) return kvFailure;
  } else if (currentOf_ && level == 0) {
    return kvSuccess;
  }
  if (state & stateOnBlank) {
    // The blank row was the table's last candidate for these rows.
    state &= uint8_t(~stateOnBlank);
    return kvSuccess;
  }
  FlatConnection* connection = statement_->getFlatConnection();
  (void)connection;
  for (;;) {
    uint16_t found = 0;
    if (flatNextRecord(statement_, query_, table, &found) != kvSuccess) return kvFailure;
    if (!found) {
      if ((state & stateOptional) && !(state & (stateMatched | stateBlankGiven))) {
        // No record qualified for the current outer rows: the blank row.
        state |= stateBlankGiven | stateOnBlank;
        markOnBlank(table);
        SelRecRetType select = selQualifies;
        if (flatSelectRecord(statement_, query_, &select) != kvSuccess) return kvFailure;
        if (select == selQualifies || select == selUndecidable) {
          *have = true;
          return kvSuccess;
        }
        state &= uint8_t(~stateOnBlank);
      }
      return kvSuccess;
    }
    markOnRecord(table);
    SelRecRetType select = selQualifies;
    if (flatSelectRecord(statement_, query_, &select) != kvSuccess) return kvFailure;
    if (select == selQualifies || select == selUndecidable) {
      state |= stateMatched;
      *have = true;
      return kvSuccess;
    }
    // The outer-join comparisons held and the rest of the condition failed:
    // the optional table has a matching record for these rows, so they get
    // no blank row (which the rest of the condition would judge instead of
    // the record that failed it).
    if (select == selFailsMatched && (state & stateOptional)) state |= stateMatched;
  }
}

KvStatus RidFileMgr::extend(uint32_t wanted) {
  if (tableCount_ == 0) {
    ended_ = true;
    return kvSuccess;
  }
  if (currentOf_ && wanted >= 2 && rows_ >= 1) {
    ended_ = true;
    return kvSuccess;
  }
  if (rows_ > 0 && !ended_) {
    // The tables may have been moved by re-reads: put them back on the
    // last row, where the scan continues.
    GetRecRetType back = getRecFound;
    if (getRid(rows_, getRidReadButLast, &back) != kvSuccess) return kvFailure;
  }
  uint16_t level = level_;
  while (rows_ < wanted) {
    bool have = false;
    if (advance(level, &have) != kvSuccess) return kvFailure;
    if (!have) {
      state_[level] &= stateOptional;
      markUnpositioned(tables_[level]);
      if (level == 0) {
        ended_ = true;
        query_->setRowCount(int32_t(rows_));
        break;
      }
      --level;
      continue;
    }
    if (level + 1 < tableCount_) {
      ++level;
      state_[level] &= stateOptional;
      continue;
    }
    if (setRid(rows_ + 1) != kvSuccess) return kvFailure;
    ++rows_;
  }
  level_ = level;
  return kvSuccess;
}
