// Lock offsets of the five schemes; see dbf_lock_offsets.h for the table.
#include "drivers/dbase/locks/dbf_lock_offsets.h"

#include "drivers/dbase/connection/dbf_connection.h"

namespace {

enum : uint32_t {
  dbaseTop = 0x6FFFFFFE,    // dBASE record n locks dbaseTop - n, the header the byte above
  foxIndexTop = 0x7FFFFFFE, // FOX with a production index: record n locks foxIndexTop - n
  foxBit = 0x40000000,      // FOX without one: offsets ORed with this bit
  clipperBase = 1000000000, // CLIPPER: record n locks clipperBase + n
  kvHeaderBytes = 12,       // K+V locks the first 12 header bytes (the count among them)
};

bool foxWithIndex(const DbfLockGeometry& table) { return table.scheme == dbfLockFox && table.productionIndex; }

// The whole-file region of the schemes that count record locks down from a
// top byte: m = (top - (H + 1)) / (R + 1) bytes, ending just before end.
DbfLockRegion belowTop(uint32_t top, uint32_t end, const DbfLockGeometry& table) {
  uint32_t count = (top - (table.headerLength + 1)) / (table.recordLength + 1);
  return DbfLockRegion{end - count, count};
}

}  // namespace

DbfLockRegion dbfRecordLockRegion(const DbfLockGeometry& table, uint32_t n) {
  switch (table.scheme) {
    case dbfLockKv:
      return DbfLockRegion{table.headerLength + table.recordLength * (n - 1), 1};
    case dbfLockClipper:
      return DbfLockRegion{clipperBase + n, 1};
    case dbfLockFox:
      if (foxWithIndex(table)) return DbfLockRegion{foxIndexTop - n, 1};
      return DbfLockRegion{(table.headerLength + table.recordLength * n) | foxBit, 1};
    default:
      return DbfLockRegion{dbaseTop - n, 1};
  }
}

DbfLockRegion dbfUpdateLockRegion(const DbfLockGeometry& table, uint32_t n) {
  if (table.scheme != dbfLockKv || table.recordLength < 2) return DbfLockRegion{0, 0};
  return DbfLockRegion{table.headerLength + table.recordLength * (n - 1) + 1, table.recordLength - 1};
}

DbfLockRegion dbfHeaderLockRegion(const DbfLockGeometry& table) {
  switch (table.scheme) {
    case dbfLockKv:
      return DbfLockRegion{0, kvHeaderBytes};
    case dbfLockClipper:
      return DbfLockRegion{clipperBase, 1};
    case dbfLockFox:
      if (foxWithIndex(table)) return DbfLockRegion{foxIndexTop, 1};
      return DbfLockRegion{table.headerLength + foxBit, 1};
    default:
      return DbfLockRegion{dbaseTop + 1, 1};
  }
}

DbfLockRegion dbfMemoHeaderLockRegion(const DbfLockGeometry& table) {
  switch (table.scheme) {
    case dbfLockKv:
      return DbfLockRegion{0, kvHeaderBytes};
    case dbfLockClipper:
      return DbfLockRegion{clipperBase, 1};
    case dbfLockFox:
      return DbfLockRegion{foxBit, 1};
    default:
      return DbfLockRegion{dbaseTop, 1};
  }
}

DbfLockRegion dbfFileLockRegion(const DbfLockGeometry& table) {
  switch (table.scheme) {
    case dbfLockKv:
      return DbfLockRegion{0, 0xFFFFFFFF};
    case dbfLockClipper:
      return DbfLockRegion{clipperBase + 1, clipperBase};
    case dbfLockFox:
      if (foxWithIndex(table)) return belowTop(foxIndexTop, foxIndexTop, table);
      return DbfLockRegion{foxBit + 1, foxBit - 2};
    default:
      return belowTop(dbaseTop, dbaseTop + 1, table);
  }
}
