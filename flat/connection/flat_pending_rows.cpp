// Rows as this connection's transaction sees them: a scan delivers the
// stored records with the transaction's updates and deletes applied, then
// the rows it inserted; a column of a row from the log comes from the log,
// converted by the column's SQL type into getFieldData's form.
#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "flat/connection/flat_changes.h"
#include "flat/connection/flat_connection.h"
#include "flat/connection/flat_file_desc.h"
#include "flat/connection/flat_rid.h"
#include "flat/connection/flat_shared_desc.h"
#include "flat/connection/flat_values.h"
#include "util/byte_order.h"
#include "util/memory/ram.h"
#include "util/containers/tree.h"

#include <cstring>

// ---- values logged in the framework's internal types, as numbers

int32_t flatJulianDay(int32_t year, int32_t month, int32_t day) {
  int32_t a = (14 - month) / 12;
  int32_t y = year + 4800 - a;
  int32_t m = month + 12 * a - 3;
  return day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045;
}

namespace {

// Decimal text ("-12.5", "3e2") as a double, without the process locale.
int decimalText(const unsigned char* text, uint32_t length, double* out) {
  uint32_t i = 0;
  while (i < length && text[i] == ' ') ++i;
  bool negative = i < length && text[i] == '-';
  if (i < length && (text[i] == '-' || text[i] == '+')) ++i;
  double value = 0;
  int digits = 0;
  for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) value = value * 10 + (text[i] - '0');
  if (i < length && text[i] == '.') {
    double scale = 0.1;
    for (++i; i < length && text[i] >= '0' && text[i] <= '9'; ++i, ++digits, scale /= 10)
      value += (text[i] - '0') * scale;
  }
  if (!digits) return 0;
  if (i < length && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool negativeExponent = i < length && text[i] == '-';
    if (i < length && (text[i] == '-' || text[i] == '+')) ++i;
    int exponent = 0;
    for (; i < length && text[i] >= '0' && text[i] <= '9' && exponent < 400; ++i) exponent = exponent * 10 + (text[i] - '0');
    for (int e = 0; e < exponent; ++e) value = negativeExponent ? value / 10 : value * 10;
  }
  *out = negative ? -value : value;
  return 1;
}

}  // namespace

int flatInternalToDouble(const unsigned char* bytes, uint32_t length, uint32_t type, double* out) {
  auto need = [&](uint32_t n) { return length >= n; };
  switch (type) {
    case flatItBit:
    case flatItUInt8: if (!need(1)) return 0; *out = bytes[0]; return 1;
    case flatItInt8: if (!need(1)) return 0; *out = int8_t(bytes[0]); return 1;
    case flatItInt16: { int16_t v; if (!need(2)) return 0; std::memcpy(&v, bytes, 2); *out = v; return 1; }
    case flatItUInt16: { uint16_t v; if (!need(2)) return 0; std::memcpy(&v, bytes, 2); *out = v; return 1; }
    case flatItInt32: { int32_t v; if (!need(4)) return 0; std::memcpy(&v, bytes, 4); *out = v; return 1; }
    case flatItUInt32: { uint32_t v; if (!need(4)) return 0; std::memcpy(&v, bytes, 4); *out = v; return 1; }
    case flatItInt64:
    case flatItUInt64: {
      // High word first.
      uint32_t high, low;
      if (!need(8)) return 0;
      std::memcpy(&high, bytes, 4);
      std::memcpy(&low, bytes + 4, 4);
      uint64_t v = (uint64_t(high) << 32) | low;
      *out = type == flatItInt64 ? double(int64_t(v)) : double(v);
      return 1;
    }
    case flatItFloat: { float v; if (!need(4)) return 0; std::memcpy(&v, bytes, 4); *out = v; return 1; }
    case flatItDouble: { double v; if (!need(8)) return 0; std::memcpy(&v, bytes, 8); *out = v; return 1; }
    case flatItDecimalText:
    case flatItChar:
      return decimalText(bytes, length, out);
    case flatItDate:
    case flatItTimestamp: {
      int16_t year;
      uint16_t month, day;
      if (!need(6)) return 0;
      std::memcpy(&year, bytes, 2);
      std::memcpy(&month, bytes + 2, 2);
      std::memcpy(&day, bytes + 4, 2);
      double value = flatJulianDay(year, month, day);
      if (type == flatItTimestamp && need(12)) {
        uint16_t hms[3];
        std::memcpy(hms, bytes + 6, 6);
        value += (hms[0] * 3600.0 + hms[1] * 60.0 + hms[2]) / 86400.0;
      }
      *out = value;
      return 1;
    }
    case flatItTime: {
      uint16_t hms[3];
      if (!need(6)) return 0;
      std::memcpy(hms, bytes, 6);
      *out = (hms[0] * 3600.0 + hms[1] * 60.0 + hms[2]) / 86400.0;
      return 1;
    }
    default:
      return 0;
  }
}

namespace {

enum : uint32_t { maxImageBytes = 0x10000 };

bool isPendingImage(const unsigned char* image, uint16_t keyLength) {
  if (keyLength) return (image[0] & ridPendingInsert) != 0;
  return FlatNumericRid::decodeState(kvGetU32LE(image)) == ridPendingInsert;
}

// The log a cursor's pending-row cursor belongs to, or null when the cursor
// must start over (the log it walked was freed).
FlatChangesDesc* currentLog(FlatFileDesc* cursor) {
  FlatChangesDesc* changes = cursor->getShared()->getChanges();
  if (!changes || changes->getSerial() != cursor->getPendingSerial()) {
    cursor->clearPendingCursor();
    if (changes) cursor->setPendingSerial(changes->getSerial());
  }
  return changes;
}

KvStatus tooSmall() {
  addOdbcError(stateGeneral);
  return kvFailure;
}

// Delivers logged bytes in getFieldData's form for a column of sqlType.
KvStatus deliver(int16_t sqlType, const unsigned char* bytes, uint32_t length, uint32_t type, void* buffer,
                 int32_t* outLength, uint16_t bufferSize, uint8_t* kind) {
  auto* out = static_cast<unsigned char*>(buffer);
  switch (sqlType) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
      if (length + 1 > bufferSize) return tooSmall();
      std::memcpy(out, bytes, length);
      out[length] = 0;
      *outLength = int32_t(length + 1);
      *kind = flatValueText;
      return kvSuccess;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      if (length > bufferSize) return tooSmall();
      std::memcpy(out, bytes, length);
      *outLength = int32_t(length);
      *kind = flatValueBinary;
      return kvSuccess;
    case SQL_BIT:
      if (bufferSize < 1) return tooSmall();
      out[0] = length && bytes[0] ? 1 : 0;
      *outLength = 1;
      *kind = flatValueLogical;
      return kvSuccess;
    default: {
      double value = 0;
      if (!flatInternalToDouble(bytes, length, type, &value)) {
        addOdbcError(stateGeneral);
        return kvFailure;
      }
      if (bufferSize < sizeof(double)) return tooSmall();
      std::memcpy(out, &value, sizeof(value));
      *outLength = int32_t(sizeof(value));
      *kind = flatValueDouble;
      return kvSuccess;
    }
  }
}

}  // namespace

KvStatus flatStartScan(FlatFileDesc* cursor) {
  cursor->setRowFromLog(0);
  cursor->setPendingPosition(0);
  cursor->clearPendingCursor();
  FlatChangesDesc* changes = cursor->getShared()->getChanges();
  cursor->setPendingCount(changes ? changes->getWriteEnd() : 0);
  if (changes) cursor->setPendingSerial(changes->getSerial());
  return cursor->resetToFirstRecord();
}

KvStatus flatReadNext(FlatFileDesc* cursor, uint16_t* found) {
  *found = 0;
  FlatSharedDesc* shared = cursor->getShared();
  uint16_t imageLength = shared->getRidImageLength();
  unsigned char image[maxImageBytes];
  cursor->setRowFromLog(0);
  if (cursor->getPendingPosition() == 0) {
    for (;;) {
      uint16_t read = 0;
      if (cursor->readNextRec(&read) != kvSuccess) return kvFailure;
      if (!read) break;
      FlatChangesDesc* changes = shared->getChanges();
      if (!changes) {
        *found = 1;
        return kvSuccess;
      }
      cursor->getRid()->fullGet(image);
      uint8_t kind = 0;
      uint32_t offset = 0, has = 0;
      if (changes->findEntry(image, &kind, &offset, &has) != kvSuccess) return kvFailure;
      if (!has) {
        *found = 1;
        return kvSuccess;
      }
      if (kind == flatChangeDelete || kind == flatChangeDeleteInserted) continue;
      // Columns the update did not change come from the record itself.
      if (changes->loadRow(cursor, offset, false) != kvSuccess) return kvFailure;
      cursor->setRowFromLog(1);
      *found = 1;
      return kvSuccess;
    }
    cursor->setPendingPosition(1);
  }
  FlatChangesDesc* changes = currentLog(cursor);
  if (!changes) return kvSuccess;
  KvTree* index = changes->getIndex();
  for (uint32_t steps = 0; steps <= changes->getEntryCount(); ++steps) {
    uint32_t offset = 0, has = 0;
    if (!cursor->getPendingKey()) {
      if (index->getFirst(image, &offset, &has, nullptr) != kvSuccess) return kvFailure;
    } else {
      // A search leaves the tree's own iterator at the last key delivered,
      // so the walk survives entries added meanwhile.
      uint32_t exact = 0;
      if (index->getData(cursor->getPendingKey(), &offset, &exact) != kvSuccess) return kvFailure;
      if (index->getNext(image, &offset, &has, nullptr) != kvSuccess) return kvFailure;
    }
    if (!has) return kvSuccess;
    if (cursor->setPendingKey(image, imageLength) != kvSuccess) return kvFailure;
    if (!isPendingImage(image, shared->getKeyLength()) || offset >= cursor->getPendingCount()) continue;
    uint8_t kind = 0;
    uint32_t exists = 0;
    uint32_t latest = 0;
    if (changes->findEntry(image, &kind, &latest, &exists) != kvSuccess) return kvFailure;
    if (kind != flatChangeInsert && kind != flatChangeUpdate) continue;
    cursor->getRid()->fullSet(image);
    if (changes->loadRow(cursor, latest, true) != kvSuccess) return kvFailure;
    cursor->setRowFromLog(1);
    *found = 1;
    return kvSuccess;
  }
  return kvSuccess;
}

int flatHasPendingValue(FlatFileDesc* cursor, uint16_t column) {
  FlatFileField* field = cursor->getColumn(column);
  FlatChangesDesc* changes = cursor->getShared()->getChanges();
  return cursor->isRowFromLog() && field && field->getLogOffset() != FlatFileField::offsetNotPlaced && changes &&
         changes->getSerial() == cursor->getPendingSerial();
}

KvStatus flatGetFieldData(FlatFileDesc* cursor, uint16_t column, void* buffer, int32_t* length,
                          uint16_t bufferSize, uint8_t* kind) {
  if (!flatHasPendingValue(cursor, column)) return cursor->getFieldData(column, buffer, length, bufferSize, kind);
  FlatFileField* field = cursor->getColumn(column);
  FlatSharedDesc* shared = cursor->getShared();
  FlatChangesDesc* changes = shared->getChanges();
  FlatSharedField* sharedField = shared->getColumn(column);
  if (!sharedField) {
    addOdbcError(stateColumnNumber);
    return kvFailure;
  }
  if (field->getLogOffset() == FlatFileField::offsetNoValue) {
    uint32_t width = sharedField->getPrecision();
    bool blanks = sharedField->getSqlType() == SQL_CHAR &&
                 !(shared->getConnection()->getEngineFlags() & flatBlankIsNull);
    if (!blanks) {
      *length = 0;
      *kind = flatValueNull;
      return kvSuccess;
    }
    if (width + 1 > bufferSize) return tooSmall();
    std::memset(buffer, ' ', width);
    static_cast<unsigned char*>(buffer)[width] = 0;
    *length = int32_t(width + 1);
    *kind = flatValueText;
    return kvSuccess;
  }
  uint16_t logged = 0;
  uint32_t type = 0, valueLength = 0, bytes = 0;
  if (changes->readItem(uint32_t(field->getLogOffset()), &logged, &type, &valueLength, &bytes) != kvSuccess)
    return kvFailure;
  KvTmpFile* store = shared->getPendingRows();
  unsigned char* value = nullptr;
  uint32_t total = valueLength;
  if (sharedField->isLong() && valueLength == 4) {
    unsigned char word[4];
    if (store->tmpRead(bytes, word, 4) != kvSuccess) return kvFailure;
    uint32_t got = 0;
    if (flatReadLongValue(shared->getConnection(), kvGetU32LE(word), 0, nullptr, 0, &got, &total) != kvSuccess)
      return kvFailure;
    value = static_cast<unsigned char*>(ramAlloc(total ? total : 1));
    if (!value) return kvFailure;
    if (flatReadLongValue(shared->getConnection(), kvGetU32LE(word), 0, value, total, &got, &total) != kvSuccess) {
      ramFree(value);
      return kvFailure;
    }
  } else {
    value = static_cast<unsigned char*>(ramAlloc(valueLength ? valueLength : 1));
    if (!value) return kvFailure;
    if (store->readHuge(bytes, value, valueLength) != kvSuccess) {
      ramFree(value);
      return kvFailure;
    }
  }
  // A logged value of length 0 is NULL.
  KvStatus status = kvSuccess;
  if (total == 0) {
    *length = 0;
    *kind = flatValueNull;
  } else {
    status = deliver(sharedField->getSqlType(), value, total, type, buffer, length, bufferSize, kind);
  }
  ramFree(value);
  return status;
}

KvStatus flatHasPendingChanges(FlatSharedDesc* shared, const void* image, uint32_t* found) {
  *found = 0;
  FlatChangesDesc* changes = shared->getChanges();
  if (!changes) return kvSuccess;
  return changes->getIndex()->doesExist(image, found);
}
