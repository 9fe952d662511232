// An open Excel 5 workbook (XlsBookDesc): its compound file and "Book"
// stream, held open while it lives, and what its workbook globals say: the
// defined names that can be tables (XlsNameDesc), the XF list, the number
// formats, the sheets' BOF offsets and the 1904 flag. And the buffered
// record reader over its stream (XlsCellBuffer).
//
// The globals are the records from the stream's first BOF to its EOF:
//
//   record     | type   | fields used
//   BOF        | 0x0809 | 0 version u16, 0x0500
//   NAME       | 0x0018 | 0 flags u16 (0x0020 built-in), 3 name length u8,
//              |        | 4 formula length u16, 6 sheet of a local name u16,
//              |        | 14 name text (built-in: one code byte), then the
//              |        | formula
//   FORMAT     | 0x041E | 0 format index u16, 2 text length u8, 3 text
//   1904       | 0x0022 | 0 u16, 1 when dates count from 1904
//   FILEPASS   | 0x002F | the workbook is password protected
//   XF         | 0x00E0 | 2 format index u16
//   BOUNDSHEET | 0x0085 | 0 the sheet's BOF offset u32
//
// A name's formula is a table when it is one 3-D area token: 0x3B, then 0
// external sheet u16, 2 eight reserved bytes, 10 first sheet u16, 12 last
// sheet u16, 14 first row u16, 16 last row u16, 18 first column u8, 19 last
// column u8; rows with bit 14 or 15 set are relative.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "drivers/excel/biff/biff_records.h"
#include "platform/olestorage/ole_storage.h"
#include "util/kv_types.h"

// A defined name that can be a table.
struct XlsNameDesc {
  std::string name;  // "Database" for the built-in name; never cut
  uint16_t sheet = 0;
  uint16_t firstColumn = 0, lastColumn = 0;
  uint16_t firstRow = 0, lastRow = 0;
};

class XlsBookDesc;

// The buffered reader of one workbook's stream, one ziz reader.
class XlsCellBuffer {
 public:
  enum : uint32_t {
    windowBytes = 2084,
    recordBytes = 1546,  // the most of a record delivered: header and 1542 data bytes
  };

  // One record as delivered.
  struct Record {
    uint16_t type = 0;
    uint16_t length = 0;       // the record's own data length
    uint16_t copied = 0;       // data bytes delivered: length cut to 1542, 0 for unused types
    unsigned char data[recordBytes - 4];
  };

  explicit XlsCellBuffer(XlsBookDesc* book) : book_(book) {}

  // Delivers the record that starts at offset. A record is whole only when
  // its header and all its data lie in the stream; anything less (the end of
  // a stream without EOF, a record cut by it) fails with 1226, a read error
  // with 1205. Only the data of the types the driver reads is copied; the
  // next record starts at offset + 4 + length.
  KvStatus fetchRecord(uint32_t offset, Record* record);

 private:
  KvStatus fill(uint32_t offset);

  XlsBookDesc* book_;
  unsigned char window_[windowBytes];
  bool loaded_ = false;
  uint32_t windowStart_ = 0;
  uint32_t windowBytesRead_ = 0;
};

class XlsBookDesc {
 public:
  XlsBookDesc() = default;
  XlsBookDesc(const XlsBookDesc&) = delete;
  XlsBookDesc& operator=(const XlsBookDesc&) = delete;

  // Opens the workbook at path (made a full path) and scans its globals.
  // Failures: 1201 (no such file), 1203 (the compound file cannot be
  // opened), 1204 (no "Book" stream, as in an Excel 97-only workbook), 1205
  // (a read error), 1225 (FILEPASS), 1226 (not a BIFF5 stream, or damaged).
  // A failure leaves the object for the caller to destroy.
  KvStatus openWorkbook(const unsigned char* path);
  // The same over a compound file already open (path names it in messages
  // and is kept as the workbook's path): its "Book" stream and globals.
  KvStatus openStorage(std::unique_ptr<OleStorage> storage, const unsigned char* path);

  // The first name equal to text (case-sensitive), or null.
  const XlsNameDesc* findName(const std::string& text) const;
  // The BOF offset of a name's sheet; 1226 when the sheet does not exist.
  KvStatus sheetOffset(const XlsNameDesc& name, uint32_t* offset) const;
  // The format class of a cell's XF: DATE, TIME, TIMESTAMP or NUMBER.
  XlsType formatClass(uint16_t xf) const;

  bool is1904() const { return date1904_; }
  const std::string& path() const { return path_; }
  const std::vector<XlsNameDesc>& names() const { return names_; }
  OleStream& stream() { return *stream_; }
  uint64_t streamSize() const { return stream_ ? stream_->size() : 0; }

  // Uses by the connection's tables; 1 when opened.
  uint32_t useCount = 1;

 private:
  KvStatus openStream();
  KvStatus scanGlobals();
  KvStatus addName(const XlsCellBuffer::Record& record);

  std::string path_;
  std::unique_ptr<OleStorage> storage_;
  std::unique_ptr<OleStream> stream_;
  std::vector<XlsNameDesc> names_;
  std::vector<uint16_t> xfFormats_;     // the format index of each XF, in file order
  std::vector<uint32_t> sheetOffsets_;  // of each BOUNDSHEET, in file order
  std::vector<XlsType> formatClasses_;  // of the workbook's FORMAT records, by index
  bool date1904_ = false;
};

// Adds 1226 "This file is not a Microsoft Excel worksheet : "; kvFailure.
KvStatus xlsNotExcel();
