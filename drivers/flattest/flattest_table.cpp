// The test file driver's tables: open, records, values, record and header
// locks through the OS layer's byte-range locks, and single-column indexes
// kept as in-memory sorted maps; see flattest_table.h.
#include "drivers/flattest/flattest_table.h"

#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "drivers/flattest/flattest_connection.h"
#include "drivers/flattest/flattest_message_ids.h"
#include "flat/connection/flat_connection.h"
#include "flat/connection/flat_rid.h"
#include "flat/connection/flat_values.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "util/os/bos.h"
#include "util/byte_order.h"

#include <cmath>
#include <cstring>

namespace {

const unsigned char deletedMark = '*';
const unsigned char liveMark = ' ';

KvStatus badFile(const unsigned char* name, const std::string& reason) {
  addOdbcError(stateGeneral, msgFlatTestBadFile) << name << reason.c_str();
  return kvFailure;
}

}  // namespace

// Bytes that sort as the numbers they encode.
std::string flatTestSortableDouble(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, 8);
  bits = (bits & 0x8000000000000000ull) ? ~bits : bits | 0x8000000000000000ull;
  std::string key(8, '\0');
  for (int i = 0; i < 8; ++i) key[i] = char(bits >> (56 - 8 * i));
  return key;
}

namespace {
std::string sortableDouble(double value) { return flatTestSortableDouble(value); }
}  // namespace

// ---------------------------------------------------------------- FlatTestSharedField

FlatTestSharedField::~FlatTestSharedField() = default;
int16_t FlatTestSharedField::getFlatFieldType() { return getSqlType(); }
int16_t FlatTestSharedField::isSearchable() { return isLong() ? SQL_UNSEARCHABLE : SQL_SEARCHABLE; }
int16_t FlatTestSharedField::isUpdatable() { return 1; }

// ---------------------------------------------------------------- FlatTestSharedDesc

FlatTestSharedDesc::FlatTestSharedDesc(FlatConnection* connection, FlatFileDesc* reader, int file,
                                       const FlatTestLayout& layout)
    : FlatSharedDesc(connection, reader), file_(file), layout_(layout) {
  setRecordCount(layout.recordCount);
  addFlags(flagCacheable);
}

FlatTestSharedDesc::~FlatTestSharedDesc() {
  unlockAll();
  kvIgnoreStatus(bosFileClose(file_));  // every record went out through a checked write
}

KvStatus FlatTestSharedDesc::setRecordCnt() {
  unsigned char word[4];
  kvPutU32LE(word, getRecordCount());
  return bosFileWrite(file_, 12, word, 4);
}

KvStatus FlatTestSharedDesc::updateDir() {
  if (getConnection()->getEngineFlags() & flatUltraSafeCommit) return bosupdir(file_);
  return kvSuccess;
}

KvStatus FlatTestSharedDesc::refreshRecordCount() {
  unsigned char word[4];
  uint32_t read = 0;
  if (bosFileRead(file_, 12, word, 4, &read) != kvSuccess) return kvFailure;
  if (read != 4) return badFile(getName(), "short header");
  uint32_t count = kvGetU32LE(word);
  if (count > flatMaxRecordNumber) {
    addFlatError(stateGeneral, msgRecordNumberLimit) << getName() << uint32_t(flatMaxRecordNumber);
    return kvFailure;
  }
  setRecordCount(count);
  return kvSuccess;
}

KvStatus FlatTestSharedDesc::readRecordBytes(uint32_t record, unsigned char* buffer) {
  uint32_t read = 0;
  if (bosFileRead(file_, int64_t(recordOffset(record)), buffer, layout_.recordWidth, &read) != kvSuccess)
    return kvFailure;
  if (read != layout_.recordWidth) return badFile(getName(), "a record is cut short");
  return kvSuccess;
}

KvStatus FlatTestSharedDesc::lock(uint32_t slot) {
  if (holds(slot)) return kvSuccess;
  // The header, index and update locks are held only for the length of
  // one write or commit: another connection waits for them, as it does on
  // the dBASE driver. A record lock (a FOR UPDATE OF cursor's) is refused
  // at once.
  const bool waits = slot == 0 || slot >= flatTestIndexLockSlot;
  for (uint32_t attempt = 0;; ++attempt) {
    if (bosRegionLock(file_, 0, flatTestLockBase + slot, 1) == kvSuccess) break;
    KvErrorKeeper::clearLastError();
    if (!waits || attempt >= flatTestLockAttempts) {
      addFlatError(stateGeneral, msgRecordLocked);
      return kvFailure;
    }
    bossleep(uint16_t(attempt < 10 ? 1 : 10));
  }
  held_.insert(slot);
  // Another process may have appended meanwhile: the count and the
  // indexes follow the file once the lock is ours.
  if (slot == 0 || slot == flatTestIndexLockSlot) return refreshIndexes();
  return kvSuccess;
}

KvStatus FlatTestSharedDesc::refreshIndexes() {
  if (refreshRecordCount() != kvSuccess) return kvFailure;
  if (getRecordCount() == indexedRecords_) return kvSuccess;
  return buildIndexes();
}

void FlatTestSharedDesc::unlock(uint32_t slot) {
  if (!holds(slot)) return;
  if (bosRegionLock(file_, 1, flatTestLockBase + slot, 1) == kvSuccess) held_.erase(slot);
}

void FlatTestSharedDesc::unlockAll() {
  while (!held_.empty()) {
    uint32_t slot = *held_.begin();
    kvIgnoreStatus(bosRegionLock(file_, 1, flatTestLockBase + slot, 1));  // closing drops it anyway
    held_.erase(held_.begin());
  }
}

void FlatTestSharedDesc::unlockRecords() {
  for (auto it = held_.begin(); it != held_.end();) {
    const uint32_t slot = *it;
    if (slot >= flatTestIndexLockSlot) break;  // the set is ordered: the rest are index and update locks
    ++it;
    unlock(slot);
  }
}

FlatTestSharedDesc::Index* FlatTestSharedDesc::getIndex(uint16_t column) {
  auto found = indexes_.find(column);
  return found == indexes_.end() ? nullptr : &found->second;
}

std::string FlatTestSharedDesc::keyOf(const unsigned char* record, uint16_t column) const {
  const FlatTestColumn& c = layout_.columns[column];
  const unsigned char* at = record + c.offset;
  if (at[0]) return std::string();
  ++at;
  switch (c.type) {
    case 'I': {
      int32_t v;
      std::memcpy(&v, at, 4);
      return "v" + sortableDouble(v);
    }
    case 'D':
    case 'T': {
      double v;
      std::memcpy(&v, at, 8);
      return "v" + sortableDouble(v);
    }
    case 'Y':
      return "v" + std::string(1, char(at[0]));
    case 'L':
      return "v" + std::string(reinterpret_cast<const char*>(at + 4), std::min<uint32_t>(kvGetU32LE(at), c.width));
    default:
      return "v" + std::string(reinterpret_cast<const char*>(at), c.width);
  }
}

KvStatus FlatTestSharedDesc::buildIndexes() {
  indexes_.clear();
  indexedRecords_ = getRecordCount();
  for (uint16_t i = 0; i < layout_.columns.size(); ++i)
    if (layout_.columns[i].flags & flatTestIndexed) indexes_[i];
  if (indexes_.empty()) return kvSuccess;
  std::vector<unsigned char> record(layout_.recordWidth);
  for (uint32_t n = 1; n <= getRecordCount(); ++n) {
    if (readRecordBytes(n, record.data()) != kvSuccess) return kvFailure;
    if (record[0] == deletedMark) continue;
    for (auto& entry : indexes_) entry.second.emplace(keyOf(record.data(), entry.first), n);
  }
  return kvSuccess;
}

// ---------------------------------------------------------------- FlatTestFileDesc

FlatTestFileDesc::~FlatTestFileDesc() = default;

uint32_t FlatTestFileDesc::recordOf(FlatRid* rid) const {
  if (!rid) return 0;
  if (!table()->getKeyLength()) return static_cast<FlatNumericRid*>(rid)->getRecordNumber();
  // The key is the record's byte offset, big-endian; a provisional key of
  // a pending insert (top byte 0xFF) names no stored record.
  const auto* key = static_cast<const unsigned char*>(rid->get());
  uint64_t offset = 0;
  for (int i = 0; i < 8; ++i) offset = offset << 8 | key[i];
  const FlatTestLayout& layout = table()->getLayout();
  if (key[0] == 0xFF || offset < layout.headerBytes || (offset - layout.headerBytes) % layout.recordWidth) return 0;
  const uint64_t n = (offset - layout.headerBytes) / layout.recordWidth + 1;
  return n > flatMaxRecordNumber ? 0 : uint32_t(n);
}

uint32_t FlatTestFileDesc::ridNumber() const { return recordOf(rid_); }

void FlatTestFileDesc::setRidRecord(uint32_t n) {
  if (!table()->getKeyLength()) {
    static_cast<FlatNumericRid*>(rid_)->setRecordNumber(n);
    return;
  }
  unsigned char key[8];
  const uint64_t offset = table()->recordOffset(n);
  for (int i = 0; i < 8; ++i) key[i] = uint8_t(offset >> (56 - 8 * i));
  rid_->set(key);
}

KvStatus FlatTestFileDesc::openDataFile(FlatConnection* connection, const unsigned char* name) {
  for (FlatSharedDesc* shared = connection->getSharedTables(); shared; shared = shared->getNext()) {
    if (flatSameTablePath(shared->getName(), name)) {
      shared_ = shared;
      buffer_.assign(table()->getLayout().recordWidth, 0);
      // Every reader locks, the commit's writer too: its appends take the
      // header lock, or two processes would write the same record number.
      setLockLevel(1);
      return makeRid();
    }
  }
  unsigned char path[bosPathBytes];
  std::strncpy(kvC(path), kvC(name), sizeof(path) - 1);
  path[sizeof(path) - 1] = 0;
  int file = 0;
  if (bosFileOpen(path, bosOpenReadWrite, &file) != kvSuccess) {
    KvErrorKeeper::clearLastError();
    addFlatError(stateGeneral, msgTableNotExist) << name;
    return kvFailure;
  }
  // The header first, then everything it promises is checked before use.
  std::vector<unsigned char> header(flatTestHeaderBytes + flatTestColumnBytes * flatTestMaxColumns);
  uint32_t read = 0;
  FlatTestLayout layout;
  std::string reason;
  KvStatus status = bosFileRead(file, 0, header.data(), uint32_t(header.size()), &read);
  if (status == kvSuccess && !flatTestParseHeader(header.data(), read, &layout, &reason))
    status = badFile(name, reason);
  if (status == kvSuccess && layout.recordCount > flatMaxRecordNumber) {
    addFlatError(stateGeneral, msgRecordNumberLimit) << name << uint32_t(flatMaxRecordNumber);
    status = kvFailure;
  }
  if (status == kvSuccess) {
    uint32_t size = bosFileSeek(file, 0, 2);
    if (size == 0xFFFFFFFF || size < layout.headerBytes + uint64_t(layout.recordCount) * layout.recordWidth)
      status = badFile(name, "the file is shorter than its records");
  }
  if (status != kvSuccess) {
    kvIgnoreStatus(bosFileClose(file));  // clean-up; the first failure stands
    return kvFailure;
  }
  auto* shared = new FlatTestSharedDesc(connection, this, file, layout);
  if (!shared) {
    kvIgnoreStatus(bosFileClose(file));  // clean-up; the memory failure stands
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  if (static_cast<FlatTestConnection*>(connection)->usesOffsetKeys()) {
    shared->setKeyLength(8);
    shared->addFlags(FlatSharedDesc::flagProvisionalKeys);
  }
  for (const FlatTestColumn& column : layout.columns) {
    auto* field = new FlatTestSharedField();
    if (!field || field->setName(kvU(column.name.c_str())) != kvSuccess) {
      delete field;
      return kvFailure;
    }
    static const struct {
      char type;
      int16_t sqlType;
      const char* name;
    } types[] = {{'C', SQL_CHAR, "CHAR"},     {'I', SQL_INTEGER, "INTEGER"},         {'D', SQL_DOUBLE, "DOUBLE"},
                 {'B', SQL_BINARY, "BINARY"}, {'L', SQL_LONGVARCHAR, "LONG VARCHAR"}, {'T', SQL_DATE, "DATE"},
                 {'Y', SQL_BIT, "BIT"}};
    for (const auto& t : types)
      if (t.type == column.type) {
        field->setSqlType(t.sqlType);
        if (field->setTypeName(kvU(t.name)) != kvSuccess) {
          delete field;
          return kvFailure;
        }
      }
    field->setPrecision(column.type == 'I' ? 10 : column.type == 'D' ? 15 : column.type == 'T' ? 10 : column.width);
    if (column.flags & flatTestUnique) field->setFlags(FlatSharedField::flagUniqueKey);
    if (shared->addColumn(field) != kvSuccess) return kvFailure;
  }
  if (shared->setIdentifiers(name) != kvSuccess || shared->buildIndexes() != kvSuccess) return kvFailure;
  buffer_.assign(layout.recordWidth, 0);
  setLockLevel(1);
  return makeRid();
}

KvStatus FlatTestFileDesc::getMaxRecords(uint32_t* out) {
  if (table()->refreshRecordCount() != kvSuccess) return kvFailure;
  // With offset keys the table plays a driver that cannot count its rows.
  if (out) *out = table()->getKeyLength() ? 0xFFFFFFFFu : table()->getRecordCount();
  return kvSuccess;
}

KvStatus FlatTestFileDesc::resetToFirstRecord() {
  ++scans_;
  current_ = 0;
  orderPosition_ = 0;
  if ((planned_ || indexColumn_ >= 0) && table()->refreshIndexes() != kvSuccess) return kvFailure;
  if (planned_) {
    if (planOrder() != kvSuccess) return kvFailure;
  } else if (indexColumn_ >= 0) {
    order_.clear();
    if (FlatTestSharedDesc::Index* index = table()->getIndex(uint16_t(indexColumn_)))
      for (const auto& entry : *index) order_.push_back(entry.second);
  }
  return table()->refreshRecordCount();
}

KvStatus FlatTestFileDesc::readNextRec(uint16_t* found) {
  *found = 0;
  uint32_t count = table()->getRecordCount();
  for (;;) {
    uint32_t next = 0;
    if (indexColumn_ >= 0 || planned_) {
      if (orderPosition_ >= order_.size()) return kvSuccess;
      next = order_[orderPosition_++];
    } else {
      if (current_ >= count) return kvSuccess;
      next = current_ + 1;
    }
    current_ = next;
    if (table()->readRecordBytes(next, buffer_.data()) != kvSuccess) return kvFailure;
    if (buffer_[0] == deletedMark) continue;
    setRidRecord(next);
    *found = 1;
    return kvSuccess;
  }
}

KvStatus FlatTestFileDesc::readRecord(GetRecRetType* out) {
  uint32_t n = ridNumber();
  if (n == 0 || table()->refreshRecordCount() != kvSuccess || n > table()->getRecordCount()) {
    *out = getRecPastEnd;
    return kvSuccess;
  }
  if (table()->readRecordBytes(n, buffer_.data()) != kvSuccess) return kvFailure;
  current_ = n;
  *out = buffer_[0] == deletedMark ? getRecGone : getRecFound;
  return kvSuccess;
}

KvStatus FlatTestFileDesc::getFieldData(uint16_t column, void* buffer, int32_t* length, uint16_t bufferSize,
                                        uint8_t* kind) {
  const FlatTestLayout& layout = table()->getLayout();
  if (column >= layout.columns.size()) {
    addOdbcError(stateColumnNumber);
    return kvFailure;
  }
  const FlatTestColumn& c = layout.columns[column];
  const unsigned char* at = buffer_.data() + c.offset;
  auto* out = static_cast<unsigned char*>(buffer);
  if (at[0]) {
    *length = 0;
    *kind = flatValueNull;
    return kvSuccess;
  }
  ++at;
  uint32_t bytes = c.width;
  switch (c.type) {
    case 'I':
    case 'D': {
      double value;
      if (c.type == 'I') {
        int32_t v;
        std::memcpy(&v, at, 4);
        value = v;
      } else {
        std::memcpy(&value, at, 8);
      }
      if (bufferSize < 8) break;
      std::memcpy(out, &value, 8);
      *length = 8;
      *kind = flatValueDouble;
      return kvSuccess;
    }
    case 'T':
      if (bufferSize < 8) break;
      std::memcpy(out, at, 8);
      *length = 8;
      *kind = flatValueDate;
      return kvSuccess;
    case 'Y':
      if (bufferSize < 1) break;
      out[0] = at[0] ? 1 : 0;
      *length = 1;
      *kind = flatValueLogical;
      return kvSuccess;
    case 'B':
      if (bufferSize < bytes) break;
      std::memcpy(out, at, bytes);
      *length = int32_t(bytes);
      *kind = flatValueBinary;
      return kvSuccess;
    case 'L':
      bytes = std::min<uint32_t>(kvGetU32LE(at), c.width);
      at += 4;
      [[fallthrough]];
    default:
      if (bufferSize < bytes + 1) break;
      std::memcpy(out, at, bytes);
      out[bytes] = 0;
      *length = int32_t(bytes + 1);
      *kind = flatValueText;
      return kvSuccess;
  }
  addOdbcError(stateRightTruncation);
  return kvFailure;
}

KvStatus FlatTestFileDesc::getRecordID(void* out) {
  rid_->fullGet(out);
  return kvSuccess;
}

KvStatus FlatTestFileDesc::setRecordID() {
  uint32_t n = ridNumber();
  if (n == 0 || n > table()->getRecordCount()) {
    addFlatError(stateGeneral, msgRecordLockGone);
    return kvFailure;
  }
  current_ = n;
  return kvSuccess;
}

KvStatus FlatTestFileDesc::setRecordPosition() {
  GetRecRetType answer = getRecFound;
  if (readRecord(&answer) != kvSuccess) return kvFailure;
  if (answer != getRecFound) {
    addFlatError(stateGeneral, msgRecordLockGone);
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus FlatTestFileDesc::encode(uint16_t column, const void* value, uint32_t length, uint32_t internalType,
                                  unsigned char* record) {
  const FlatTestLayout& layout = table()->getLayout();
  if (column >= layout.columns.size()) {
    addOdbcError(stateColumnNumber);
    return kvFailure;
  }
  const FlatTestColumn& c = layout.columns[column];
  unsigned char* at = record + c.offset;
  const auto* bytes = static_cast<const unsigned char*>(value);
  // The engine's NULL is a value of length 0, with or without a pointer.
  if (!value || length == 0) {
    at[0] = 1;
    std::memset(at + 1, 0, c.size() - 1);
    return kvSuccess;
  }
  switch (c.type) {
    case 'C':
    case 'B':
    case 'L': {
      if (internalType != flatItChar && internalType != flatItBinary) {
        addOdbcError(stateAssignment);
        return kvFailure;
      }
      if (length > c.width) {
        addOdbcError(stateRightTruncation);
        return kvFailure;
      }
      at[0] = 0;
      unsigned char* data = at + 1 + (c.type == 'L' ? 4 : 0);
      std::memset(data, c.type == 'C' ? ' ' : 0, c.width);
      std::memcpy(data, bytes, length);
      if (c.type == 'L') kvPutU32LE(at + 1, length);
      return kvSuccess;
    }
    default: {
      double number = 0;
      if (!flatInternalToDouble(bytes, length, internalType, &number) || std::isnan(number)) {
        addOdbcError(stateAssignment);
        return kvFailure;
      }
      at[0] = 0;
      if (c.type == 'D' || c.type == 'T') {
        std::memcpy(at + 1, &number, 8);
        return kvSuccess;
      }
      if (c.type == 'Y') {
        at[1] = number != 0 ? 1 : 0;
        return kvSuccess;
      }
      if (number != std::floor(number) || number < -2147483648.0 || number > 2147483647.0) {
        addOdbcError(stateNumericRange);
        return kvFailure;
      }
      int32_t v = int32_t(number);
      std::memcpy(at + 1, &v, 4);
      return kvSuccess;
    }
  }
}

KvStatus FlatTestFileDesc::checkValue(uint16_t column, const void* value, uint32_t length, uint32_t internalType) {
  std::vector<unsigned char> scratch(buffer_);
  return encode(column, value, length, internalType, scratch.data());
}

KvStatus FlatTestFileDesc::updateColumn(uint16_t column, const void* value, uint32_t length,
                                        uint32_t internalType) {
  return encode(column, value, length, internalType, buffer_.data());
}

KvStatus FlatTestFileDesc::updateLargeColumn(uint16_t column, const void* value, uint32_t length,
                                             uint32_t offset) {
  const FlatTestLayout& layout = table()->getLayout();
  if (column >= layout.columns.size() || layout.columns[column].type != 'L') {
    if (offset == 0) return encode(column, value, length, flatItChar, buffer_.data());
    addOdbcError(stateColumnNumber);
    return kvFailure;
  }
  // No bytes at all: a NULL long value.
  if (!value) return offset == 0 ? encode(column, nullptr, 0, flatItChar, buffer_.data()) : kvSuccess;
  const FlatTestColumn& c = layout.columns[column];
  if (uint64_t(offset) + length > c.width) {
    addOdbcError(stateRightTruncation);
    return kvFailure;
  }
  unsigned char* at = buffer_.data() + c.offset;
  if (offset == 0) std::memset(at + 5, 0, c.width);
  at[0] = 0;
  if (length) std::memcpy(at + 5 + offset, value, length);
  kvPutU32LE(at + 1, offset + length);
  return kvSuccess;
}

KvStatus FlatTestFileDesc::getLargeColumn(uint16_t column, void* buffer, uint32_t size, uint32_t offset,
                                          uint32_t* got, uint32_t* total) {
  *got = 0;
  *total = 0;
  const FlatTestLayout& layout = table()->getLayout();
  if (column >= layout.columns.size() || layout.columns[column].type != 'L') {
    addOdbcError(stateColumnNumber);
    return kvFailure;
  }
  const FlatTestColumn& c = layout.columns[column];
  const unsigned char* at = buffer_.data() + c.offset;
  if (at[0]) return kvSuccess;
  *total = std::min<uint32_t>(kvGetU32LE(at + 1), c.width);
  if (offset < *total) {
    *got = std::min(size, *total - offset);
    // A length probe passes no buffer.
    if (*got) std::memcpy(buffer, at + 5 + offset, *got);
  }
  return kvSuccess;
}

KvStatus FlatTestFileDesc::writeRecord(uint16_t mode) {
  uint32_t n = mode == flatWriteAppend ? ridNumber() : current_;
  // With offset keys an append goes behind the last record; the key it
  // gets is the offset it was written at.
  const bool keyedAppend = mode == flatWriteAppend && table()->getKeyLength();
  if (keyedAppend) {
    if (table()->refreshRecordCount() != kvSuccess) return kvFailure;
    n = table()->getRecordCount() + 1;
  }
  if (n == 0 || n > flatMaxRecordNumber) {
    addOdbcError(stateGeneral);
    return kvFailure;
  }
  buffer_[0] = liveMark;
  if (bosFileWrite(table()->getFile(), int64_t(table()->recordOffset(n)), buffer_.data(),
                   uint32_t(buffer_.size())) != kvSuccess)
    return kvFailure;
  current_ = n;
  if (keyedAppend) setRidRecord(n);
  return kvSuccess;
}

KvStatus FlatTestFileDesc::initializeForInsert() {
  // A new row has no record yet: key checks compare it with every record.
  current_ = 0;
  std::fill(buffer_.begin(), buffer_.end(), 0);
  buffer_[0] = liveMark;
  for (const FlatTestColumn& c : table()->getLayout().columns) buffer_[c.offset] = 1;
  return kvSuccess;
}

KvStatus FlatTestFileDesc::deleteRecord() {
  if (current_ == 0) {
    addOdbcError(stateGeneral);
    return kvFailure;
  }
  std::vector<unsigned char> record(buffer_.size());
  if (table()->readRecordBytes(current_, record.data()) != kvSuccess) return kvFailure;
  if (record[0] == deletedMark) {
    addFlatError(stateGeneral, msgRecordLockGone);
    return kvFailure;
  }
  for (uint16_t i = 0; i < table()->getLayout().columns.size(); ++i)
    if (FlatTestSharedDesc::Index* index = table()->getIndex(i)) {
      auto range = index->equal_range(table()->keyOf(record.data(), i));
      for (auto it = range.first; it != range.second; ++it)
        if (it->second == current_) {
          index->erase(it);
          break;
        }
    }
  return bosFileWrite(table()->getFile(), int64_t(table()->recordOffset(current_)), &deletedMark, 1);
}

KvStatus FlatTestFileDesc::useIndex(const unsigned char* name) {
  const FlatTestLayout& layout = table()->getLayout();
  for (uint16_t i = 0; i < layout.columns.size(); ++i)
    if (strcasecmp(layout.columns[i].name.c_str(), kvC(name)) == 0 && table()->getIndex(i)) {
      indexColumn_ = i;
      return resetToFirstRecord();
    }
  addOdbcError(stateGeneral, msgFlatTestNoIndex) << name;
  return kvFailure;
}

KvStatus FlatTestFileDesc::closeIndex(const unsigned char*) {
  indexColumn_ = -1;
  return kvSuccess;
}

KvStatus FlatTestFileDesc::lockRecord(uint16_t mode) {
  if (mode != flatLockRecord && mode != flatLockUpdate) return kvSuccess;
  uint32_t n = current_ ? current_ : ridNumber();
  if (n == 0 || n > flatMaxRecordNumber) {
    addOdbcError(stateGeneral);
    return kvFailure;
  }
  return table()->lock(mode == flatLockUpdate ? flatTestUpdateLockSlot + n : n);
}

KvStatus FlatTestFileDesc::unlockRecord(uint16_t mode, FlatRid* rid) {
  if (mode != flatLockRecord && mode != flatLockUpdate) return kvSuccess;
  const uint32_t base = mode == flatLockUpdate ? uint32_t(flatTestUpdateLockSlot) : 0;
  if (!rid) {
    if (mode == flatLockRecord) {
      table()->unlockRecords();
    } else if (current_) {
      table()->unlock(base + current_);
    }
    return kvSuccess;
  }
  const uint32_t n = recordOf(rid);
  if (n <= flatMaxRecordNumber) table()->unlock(base + n);
  return kvSuccess;
}

KvStatus FlatTestFileDesc::lockHeaders() { return table()->lock(0); }

KvStatus FlatTestFileDesc::lockIndex() { return table()->lock(flatTestIndexLockSlot); }

void FlatTestFileDesc::unlockIndex() { table()->unlock(flatTestIndexLockSlot); }

void FlatTestFileDesc::unlockHeaders(uint16_t) { table()->unlock(0); }

KvStatus FlatTestFileDesc::deleteKeyFromIndex(uint16_t column, uint16_t* removed) {
  if (removed) *removed = 0;
  FlatTestSharedDesc::Index* index = table()->getIndex(column);
  if (!index || current_ == 0) return kvSuccess;
  auto range = index->equal_range(table()->keyOf(buffer_.data(), column));
  for (auto it = range.first; it != range.second; ++it)
    if (it->second == current_) {
      index->erase(it);
      if (removed) *removed = 1;
      break;
    }
  return kvSuccess;
}

KvStatus FlatTestFileDesc::addKeyToIndex(uint16_t column) {
  if (FlatTestSharedDesc::Index* index = table()->getIndex(column))
    index->emplace(table()->keyOf(buffer_.data(), column), current_);
  return kvSuccess;
}

KvStatus FlatTestFileDesc::addKeyToIndex() {
  for (uint16_t i = 0; i < table()->getLayout().columns.size(); ++i)
    if (addKeyToIndex(i) != kvSuccess) return kvFailure;
  return kvSuccess;
}

KvStatus FlatTestFileDesc::checkUnique(const unsigned char* record, uint32_t self) {
  if (table()->refreshIndexes() != kvSuccess) return kvFailure;
  for (uint16_t i = 0; i < table()->getLayout().columns.size(); ++i) {
    if (!(table()->getLayout().columns[i].flags & flatTestUnique)) continue;
    FlatTestSharedDesc::Index* index = table()->getIndex(i);
    std::string key = table()->keyOf(record, i);
    if (!index || key.empty()) continue;
    auto range = index->equal_range(key);
    for (auto it = range.first; it != range.second; ++it)
      if (it->second != self) {
        addFlatError(stateGeneral, msgDuplicateKey);
        return kvFailure;
      }
  }
  return kvSuccess;
}

KvStatus FlatTestFileDesc::checkKeyViolation() { return checkUnique(buffer_.data(), 0); }

KvStatus FlatTestFileDesc::checkKeyViolation2() { return checkUnique(buffer_.data(), current_); }
