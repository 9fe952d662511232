// Record delivery and the sorted lookup; see flat_sorted_lookup.h.
#include "flat/query/flat_sorted_lookup.h"

#include "base/handles/base_error_list.h"
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
#include "flat/query/flat_index_desc.h"
#include "flat/query/flat_keyset.h"
#include "flat/query/flat_optimizer.h"
#include "flat/sql/flat_descriptor.h"
#include "util/os/bos.h"
#include "util/byte_order.h"
#include "util/memory/ram.h"
#include "util/files/sort.h"

#include <cstring>

FlatLookup::~FlatLookup() {
  for (uint16_t i = 0; i < partCount; ++i) {
    ramFree(parts[i].low);
    ramFree(parts[i].high);
  }
  delete sort;
  ramFree(lower);
  ramFree(upper);
  ramFree(held);
  ramFree(lastKey);
  ramFree(filter);
}

namespace {

bool isTextType(int16_t type) { return type == SQL_CHAR || type == SQL_VARCHAR; }

bool isNumericType(int16_t type) {
  switch (type) {
    case SQL_NUMERIC:
    case SQL_DECIMAL:
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_FLOAT:
    case SQL_REAL:
    case SQL_DOUBLE:
    case SQL_DATE:
    case SQL_TIME:
    case SQL_TIMESTAMP:
    case SQL_TINYINT:
    case SQL_BIGINT:
      return true;
    default:
      return false;
  }
}

uint8_t* copyProgram(const FlatCodeBuffer& code) {
  auto* out = static_cast<uint8_t*>(ramAlloc(code.getLength()));
  if (out) std::memcpy(out, code.getData(), code.getLength());
  return out;
}

// A numeric equality: both ends one program, both inclusive, not LIKE.
bool isEquality(const FlatLookup::Part& part) {
  if (!part.low || !part.high || (part.flags & FlatOptDesc::optLike)) return false;
  if (!(part.flags & FlatOptDesc::optLowInclusive) || !(part.flags & FlatOptDesc::optHighInclusive)) return false;
  const uint32_t length = flatProgramLength(part.low);
  return length == flatProgramLength(part.high) && std::memcmp(part.low, part.high, length) == 0;
}

void freePart(FlatLookup::Part* part) {
  ramFree(part->low);
  ramFree(part->high);
  part->low = part->high = nullptr;
}

// Takes the key's parts from the WHERE clause; *lookup null when none.
KvStatus extract(FlatStatement* statement, FlatSqlDesc* query, FlatFileDesc* cursor, FlatLookup** lookup) {
  *lookup = nullptr;
  FlatSharedDesc* shared = cursor->getShared();
  const bool intl = (statement->getFlatConnection()->getEngineFlags() & flatIntlSort) != 0;
  // Candidates in column order; the numeric equalities go first in the key,
  // then the first other candidate.
  FlatLookup::Part found[FlatLookup::maxParts];
  uint16_t count = 0;
  KvStatus status = kvSuccess;
  for (uint16_t column = 0; column < shared->getColumnCount() && count < FlatLookup::maxParts; ++column) {
    FlatSharedField* field = shared->getColumn(column);
    if (!field || field->isLong()) continue;
    FlatKeyField key;
    if (key.compileFieldName(field, column) != kvSuccess) {
      status = kvFailure;
      break;
    }
    const bool text = isTextType(key.sqlType);
    if (!(text ? !intl : isNumericType(key.sqlType))) continue;
    FlatCodeBuffer low, high;
    uint16_t flags = 0;
    if (canOptimizeQuery(statement, query, cursor, key.keyCode, &low, &high, &flags) != kvSuccess) {
      status = kvFailure;
      break;
    }
    if ((flags & FlatOptDesc::optLike) && !text) continue;
    if (!(flags & (FlatOptDesc::optLow | FlatOptDesc::optHigh))) continue;
    FlatLookup::Part& part = found[count];
    part.column = column;
    part.sqlType = key.sqlType;
    part.flags = flags;
    part.valueBytes = text ? key.keyLength : 8;
    if (part.valueBytes == 0) part.valueBytes = 1;
    if (flags & FlatOptDesc::optLow) part.low = copyProgram(low);
    if (flags & FlatOptDesc::optHigh) part.high = copyProgram(high);
    ++count;
    if (((flags & FlatOptDesc::optLow) && !part.low) || ((flags & FlatOptDesc::optHigh) && !part.high)) {
      addOdbcError(stateMemory);
      status = kvFailure;
      break;
    }
  }
  if (status != kvSuccess || count == 0) {
    for (uint16_t i = 0; i < count; ++i) freePart(&found[i]);
    return status;
  }

  auto* made = new FlatLookup;
  if (!made) {
    for (uint16_t i = 0; i < count; ++i) freePart(&found[i]);
    addOdbcError(stateMemory);
    return kvFailure;
  }
  FlatLookup::Part* parts = made->parts;
  uint16_t& used = made->partCount;
  for (uint16_t i = 0; i < count; ++i)
    if (!isTextType(found[i].sqlType) && isEquality(found[i])) parts[used++] = found[i], found[i] = {};
  // One more column behind the equalities: a range (or a text equality,
  // which is a prefix range) narrows only as the last part.
  for (uint16_t i = 0; i < count; ++i) {
    if (!found[i].low && !found[i].high) continue;
    parts[used++] = found[i];
    found[i] = {};
    break;
  }
  for (uint16_t i = 0; i < count; ++i) freePart(&found[i]);

  uint32_t keyLength = 0;
  for (uint16_t i = 0; i < used; ++i) {
    parts[i].offset = uint16_t(keyLength > 0xFFFF ? 0xFFFF : keyLength);
    keyLength += 1u + parts[i].valueBytes;
  }
  const uint32_t recordLength = keyLength + shared->getRidImageLength();
  if (recordLength > flatLookupMaxRecord) {
    delete made;
    addFlatError(stateGeneral, msgEvalStackOverflow);
    return kvFailure;
  }
  made->keyLength = uint16_t(keyLength);
  made->recordLength = uint16_t(recordLength);
  for (uint16_t i = 0; i < used; ++i) {
    if (parts[i].low) made->flags |= FlatLookup::lookupLower;
    if (parts[i].high) made->flags |= FlatLookup::lookupUpper;
  }
  made->lower = static_cast<uint8_t*>(ramAllocZ(recordLength));
  made->upper = static_cast<uint8_t*>(ramAllocZ(recordLength));
  made->held = static_cast<uint8_t*>(ramAllocZ(recordLength));
  made->lastKey = static_cast<uint8_t*>(ramAllocZ(keyLength ? keyLength : 1));
  if (!made->lower || !made->upper || !made->held || !made->lastKey) {
    delete made;
    addOdbcError(stateMemory);
    return kvFailure;
  }
  FlatCodeBuffer filter;
  if (flatTableFilter(query, cursor, &filter) != kvSuccess) {
    delete made;
    return kvFailure;
  }
  if (filter.getLength()) {
    made->filter = copyProgram(filter);
    if (!made->filter) {
      delete made;
      addOdbcError(stateMemory);
      return kvFailure;
    }
  }
  *lookup = made;
  return kvSuccess;
}

void dropSubqueryLookups(FlatSqlDesc* query) {
  KvArray& subqueries = query->getSubqueries();
  for (uint16_t i = 0; i < subqueries.getCount(); ++i) {
    for (auto* sub = static_cast<FlatSqlDesc*>(subqueries.getAt(i)); sub; sub = sub->getNextQuery()) {
      for (FlatFileDesc* table = sub->getFirstTable(); table; table = table->getNextTable())
        table->setLookup(nullptr);
      dropSubqueryLookups(sub);
    }
  }
}

// A double as 8 bytes that order as the numbers do.
void encodeNumber(const uint8_t* value, uint8_t* out) {
  double number = 0;
  std::memcpy(&number, value, sizeof number);
  if (number == 0) number = 0;  // -0 orders as 0
  uint64_t bits = 0;
  std::memcpy(&bits, &number, sizeof bits);
  bits = (bits & 0x8000000000000000ULL) ? ~bits : (bits | 0x8000000000000000ULL);
  for (int i = 0; i < 8; ++i) out[i] = uint8_t(bits >> (56 - 8 * i));
}

// A text in the part's width: its bytes, then zeros.
void encodeText(const FlatLookup::Part& part, const uint8_t* value, uint32_t length, uint8_t* out) {
  const uint32_t n = length < part.valueBytes ? length : part.valueBytes;
  std::memcpy(out, value, n);
  std::memset(out + n, 0, part.valueBytes - n);
}

bool isTextKind(uint8_t kind) { return kind == flatEvalText || kind == flatEvalFunctionText; }

uint8_t columnProgram(FlatFileDesc* cursor, uint16_t column, uint8_t* program) {
  program[0] = opColumn;
  kvPutU32LE(program + 1, cursor->getTableHandle());
  kvPutU16LE(program + 5, column);
  program[7] = opEnd;
  return 8;
}

// Writes the cursor's current record's key into record.
KvStatus evaluateKey(FlatStatement* statement, FlatSqlDesc* query, FlatFileDesc* cursor, FlatLookup* lookup,
                     uint8_t* record) {
  uint8_t value[flatEvalScratchBytes];
  uint8_t program[8];
  for (uint16_t i = 0; i < lookup->partCount; ++i) {
    const FlatLookup::Part& part = lookup->parts[i];
    uint8_t* at = record + part.offset;
    std::memset(at, 0, 1u + part.valueBytes);
    columnProgram(cursor, part.column, program);
    int16_t length = 0;
    uint8_t kind = 0;
    if (evalExpr(statement, query, nullptr, program, value, sizeof value, 0, &length, &kind) != kvSuccess)
      return kvFailure;
    if (isTextType(part.sqlType)) {
      if (!isTextKind(kind) || length < 0) continue;
      at[0] = 1;
      encodeText(part, value, uint32_t(length), at + 1);
    } else if ((kind == flatEvalNumber || kind == flatEvalDate) && length == 8) {
      at[0] = 1;
      encodeNumber(value, at + 1);
    }
  }
  return kvSuccess;
}

KvStatus abortPoll(FlatFileDesc* cursor) {
  if (cursor->countDelivery() % flatLookupAbortPoll == 0 && bosabort()) {
    addFlatError(stateGeneral, msgOperationAborted);
    return kvFailure;
  }
  return kvSuccess;
}

// Reads the whole table into the sorted list.
KvStatus build(FlatStatement* statement, FlatSqlDesc* query, FlatFileDesc* cursor, FlatLookup* lookup) {
  auto* sort = new KvSort(lookup->recordLength);
  if (!sort) {
    addOdbcError(stateMemory);
    return kvFailure;
  }
  lookup->sort = sort;
  lookup->holding = lookup->haveLastKey = lookup->atListEnd = false;
  ++lookup->builds;
  lookup->listRecords = 0;
  if (sort->addKey(0, 0, lookup->keyLength) != kvSuccess) return kvFailure;
  // The key columns are read from each record as it stands.
  const uint16_t tableFlags = cursor->getTableFlags();
  cursor->setTableFlags(
      uint16_t(tableFlags & ~(FlatFileDesc::tableNotPositioned | FlatFileDesc::tableBlankRow)));
  KvStatus status = flatStartScan(cursor);
  while (status == kvSuccess) {
    uint16_t found = 0;
    if ((status = abortPoll(cursor)) != kvSuccess) break;
    if ((status = flatReadNext(cursor, &found)) != kvSuccess || !found) break;
    if (lookup->filter) {
      uint8_t truth[flatEvalScratchBytes];
      int16_t length = 0;
      uint8_t kind = 0;
      if ((status = evalExpr(statement, query, nullptr, lookup->filter, truth, sizeof truth, 0, &length, &kind)) !=
          kvSuccess)
        break;
      // Only FALSE decides: NULL and undecidable records stay for the WHERE.
      if (kind == flatEvalLogical && length >= 1 && !truth[0]) continue;
    }
    void* slot = nullptr;
    if ((status = sort->nextSlot(&slot)) != kvSuccess) break;
    auto* record = static_cast<uint8_t*>(slot);
    if ((status = evaluateKey(statement, query, cursor, lookup, record)) != kvSuccess) break;
    cursor->getRid()->fullGet(record + lookup->keyLength);
    ++lookup->listRecords;
  }
  cursor->setTableFlags(tableFlags);
  cursor->setPosition(0);
  cursor->setRowFromLog(0);
  if (cursor->getRid()) cursor->getRid()->reset();
  return status;
}

// Evaluates one end of every part into key (the record image); *open set
// when the end leaves the range open from its first part on.
KvStatus evaluateEnd(FlatStatement* statement, FlatSqlDesc* query, FlatLookup* lookup, bool high, uint8_t* key,
                     bool* open) {
  *open = false;
  std::memset(key, high ? 0xFF : 0x00, lookup->keyLength);
  const bool nullAware = (query->getFlags() & FlatSqlDesc::flagNullAware) != 0;
  uint8_t value[flatEvalScratchBytes];
  uint8_t text[flatEvalScratchBytes];
  for (uint16_t i = 0; i < lookup->partCount; ++i) {
    const FlatLookup::Part& part = lookup->parts[i];
    const uint8_t* program = high ? part.high : part.low;
    if (!program) {
      if (i == 0) *open = true;
      return kvSuccess;  // this part and the ones behind it stay at their extreme
    }
    int16_t length = 0;
    uint8_t kind = 0;
    if (evalExpr(statement, query, nullptr, program, value, sizeof value - 1, 0, &length, &kind) != kvSuccess)
      return kvFailure;
    uint8_t* at = key + part.offset;
    auto leaveOpen = [&]() {
      if (i == 0) *open = true;
      return kvSuccess;
    };
    if (length < 0 || kind == flatEvalUndecidable || kind == flatEvalOuterBlank) return leaveOpen();
    if (kind == flatEvalNull || (length == 0 && !isTextKind(kind))) {
      // NULL keys only: the evaluator takes a NULL as equal to a NULL.
      std::memset(at, 0, 1u + part.valueBytes);
      continue;
    }
    if (!isTextType(part.sqlType)) {
      if ((kind != flatEvalNumber && kind != flatEvalDate) || length != 8) return leaveOpen();
      at[0] = 1;
      encodeNumber(value, at + 1);
      continue;
    }
    if (!isTextKind(kind)) return leaveOpen();
    uint32_t n = uint32_t(length);
    if (part.flags & FlatOptDesc::optLike) {
      uint32_t lowLength = 0, highLength = 0;
      uint16_t bounded = 0;
      uint8_t prefix[flatEvalScratchBytes];
      flatLikeRange(value, n, prefix, &lowLength, text, &highLength, &bounded, sizeof prefix);
      if (!high) {
        at[0] = 1;
        encodeText(part, prefix, lowLength, at + 1);
        continue;
      }
      if (!bounded) return leaveOpen();
      at[0] = 1;
      encodeText(part, text, highLength, at + 1);
      continue;
    }
    while (n > 0 && value[n - 1] == ' ') --n;
    if (!high) {
      if (!nullAware && (part.flags & FlatOptDesc::optLowKeyRight)) return leaveOpen();
      at[0] = 1;
      encodeText(part, value, n, at + 1);
      continue;
    }
    for (uint32_t b = 0; b < n; ++b)
      if (value[b] < ' ') return leaveOpen();
    uint32_t endLength = 0;
    uint16_t bounded = 0;
    flatPrefixEnd(value, n, text, &endLength, &bounded);
    if (!bounded) return leaveOpen();
    at[0] = 1;
    encodeText(part, text, endLength, at + 1);
  }
  return kvSuccess;
}

KvStatus startLookup(FlatStatement* statement, FlatSqlDesc* query, FlatFileDesc* cursor, FlatLookup* lookup) {
  if (!lookup->sort && build(statement, query, cursor, lookup) != kvSuccess) {
    // A list left half built is not used.
    delete lookup->sort;
    lookup->sort = nullptr;
    return kvFailure;
  }
  lookup->first = true;
  lookup->ended = false;
  lookup->lowerOpen = lookup->upperOpen = true;
  if ((lookup->flags & FlatLookup::lookupLower) &&
      evaluateEnd(statement, query, lookup, 0, lookup->lower, &lookup->lowerOpen) != kvSuccess)
    return kvFailure;
  if ((lookup->flags & FlatLookup::lookupUpper) &&
      evaluateEnd(statement, query, lookup, 1, lookup->upper, &lookup->upperOpen) != kvSuccess)
    return kvFailure;
  lookup->continuing = !lookup->lowerOpen && lookup->haveLastKey &&
                       std::memcmp(lookup->lower, lookup->lastKey, lookup->keyLength) > 0;
  // Logged values of the rows read back belong to the log as it is now.
  FlatChangesDesc* changes = cursor->getShared()->getChanges();
  if (changes) cursor->setPendingSerial(changes->getSerial());
  cursor->setRowFromLog(0);
  return kvSuccess;
}

// The next record of the list in its order: the held one first.
KvStatus readOn(FlatLookup* lookup, const uint8_t** record) {
  *record = nullptr;
  if (lookup->holding) {
    lookup->holding = false;
    *record = lookup->held;
    return kvSuccess;
  }
  if (lookup->atListEnd) return kvSuccess;
  void* next = nullptr;
  if (lookup->sort->getNextRecord(&next) != kvSuccess) return kvFailure;
  if (!next) lookup->atListEnd = true;
  *record = static_cast<const uint8_t*>(next);
  return kvSuccess;
}

// The first record at or above the lower end (the first of the list when
// the lower side is open), by a search.
KvStatus search(FlatLookup* lookup, const uint8_t** record) {
  lookup->holding = false;
  lookup->haveLastKey = false;
  lookup->atListEnd = false;
  void* found = nullptr;
  if (!lookup->lowerOpen) {
    if (lookup->sort->getFirstRecordWithKey(lookup->lower, &found) != kvSuccess) return kvFailure;
    if (!found && lookup->sort->getNextRecord(&found) != kvSuccess) return kvFailure;
  } else if (lookup->sort->getFirstRecord(&found) != kvSuccess) {
    return kvFailure;
  }
  if (!found) lookup->atListEnd = true;
  *record = static_cast<const uint8_t*>(found);
  return kvSuccess;
}

KvStatus nextInRange(FlatLookup* lookup, FlatFileDesc* cursor, uint16_t* found) {
  // Records passed over reading on before a search is cheaper.
  enum { maxSkipped = 64 };
  const uint16_t keyLength = lookup->keyLength;
  while (!lookup->ended) {
    const uint8_t* bytes = nullptr;
    if (lookup->first) {
      lookup->first = false;
      if (!lookup->continuing) {
        if (search(lookup, &bytes) != kvSuccess) return kvFailure;
      } else {
        for (uint32_t skipped = 0;; ++skipped) {
          if (readOn(lookup, &bytes) != kvSuccess) return kvFailure;
          if (!bytes || std::memcmp(bytes, lookup->lower, keyLength) >= 0) break;
          if (skipped == maxSkipped) {
            if (search(lookup, &bytes) != kvSuccess) return kvFailure;
            break;
          }
          std::memcpy(lookup->lastKey, bytes, keyLength);
        }
      }
    } else if (abortPoll(cursor) != kvSuccess || readOn(lookup, &bytes) != kvSuccess) {
      return kvFailure;
    }
    if (!bytes) {
      lookup->ended = true;
      break;
    }
    if (!lookup->upperOpen && std::memcmp(bytes, lookup->upper, keyLength) > 0) {
      // Past the range: kept for the next outer row.
      if (bytes != lookup->held) std::memcpy(lookup->held, bytes, lookup->recordLength);
      lookup->holding = true;
      lookup->ended = true;
      break;
    }
    std::memcpy(lookup->lastKey, bytes, keyLength);
    lookup->haveLastKey = true;
    cursor->getRid()->fullSet(bytes + keyLength);
    GetRecRetType result = getRecGone;
    if (flatReadById(cursor, &result) != kvSuccess) return kvFailure;
    // Deleted in the transaction or by another program: passed over.
    if (result == getRecFound) {
      *found = 1;
      return kvSuccess;
    }
  }
  cursor->setRowFromLog(0);
  return kvSuccess;
}

}  // namespace

KvStatus flatAttachLookup(FlatStatement* statement, FlatSqlDesc* query, FlatFileDesc* cursor, bool indexChosen) {
  const bool subquery = query->getParent() != nullptr;
  if (!subquery && cursor == query->getFirstTable()) dropSubqueryLookups(query);
  if (indexChosen || (!subquery && cursor == query->getFirstTable())) {
    cursor->setLookup(nullptr);
    return kvSuccess;
  }
  // A subquery is scanned again for each enclosing row: its list stays.
  if (subquery && cursor->getLookup()) return kvSuccess;
  cursor->setLookup(nullptr);
  FlatLookup* lookup = nullptr;
  if (extract(statement, query, cursor, &lookup) != kvSuccess) return kvFailure;
  cursor->setLookup(lookup);
  return kvSuccess;
}

KvStatus flatStartRecords(FlatStatement* statement, FlatSqlDesc* query, FlatFileDesc* cursor) {
  if (FlatLookup* lookup = cursor->getLookup()) return startLookup(statement, query, cursor, lookup);
  uint16_t mode = 0;
  if (flatEvaluateBounds(statement, query, cursor, &mode) != kvSuccess) return kvFailure;
  return flatStartScan(cursor);
}

KvStatus flatNextRecord(FlatStatement*, FlatSqlDesc*, FlatFileDesc* cursor, uint16_t* found) {
  *found = 0;
  if (FlatLookup* lookup = cursor->getLookup(); lookup && lookup->sort)
    return nextInRange(lookup, cursor, found);
  if (abortPoll(cursor) != kvSuccess) return kvFailure;
  return flatReadNext(cursor, found);
}
