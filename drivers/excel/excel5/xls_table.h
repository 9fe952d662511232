// The Excel 5 driver's tables: a defined name of a workbook whose area lies
// on one sheet. The area's first row names the columns; the rows below it
// are the table's rows. XlsSharedDesc is one open table of a connection
// (its workbook, its name's area, its columns' types found by the scan at
// open); XlsFileDesc is one statement's reader over it. A row is named by
// the stream offset of its first record, so that a keyset or a positioned
// fetch reads it again from there. The driver is read only.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "drivers/excel/biff/xls_book_desc.h"
#include "flat/connection/flat_file_desc.h"
#include "flat/connection/flat_shared_desc.h"

class XlsConnection;

// One entry of a statement's declared column list: FROM Sales (CHAR(20), NUM).
struct XlsDeclaredColumn {
  XlsType type;
  uint16_t width;
};

// A column: its type index and width (of text, or the type's display size).
class XlsSharedField : public FlatSharedField {
 public:
  int16_t getFlatFieldType() override;
  uint16_t getAttributes() override;
  int16_t isSearchable() override;
  int16_t isUpdatable() override;

  XlsType type = xlsUnknown;
  uint16_t width = 0;
};

// The SQL type of a type index.
int16_t xlsSqlType(XlsType type);

class XlsSharedDesc : public FlatSharedDesc {
 public:
  enum Mode : uint8_t { modeAllChar = 0, modeGuessed = 1, modeDeclared = 2 };

  XlsSharedDesc(FlatConnection* connection, FlatFileDesc* reader) : FlatSharedDesc(connection, reader) {}
  // Gives its use of the workbook back.
  ~XlsSharedDesc() override;

  XlsSharedField* field(uint16_t column) const { return static_cast<XlsSharedField*>(getColumn(column)); }

  std::string fullName;  // workbook path "\" name
  XlsBookDesc* book = nullptr;
  XlsNameDesc area;
  Mode mode = modeGuessed;
  uint32_t firstDataOffset = 0;
  bool valid = false;
};

class XlsFileDesc : public FlatFileDesc {
 public:
  XlsFileDesc() = default;
  ~XlsFileDesc() override;

  // name: the workbook's full path, "\" and the defined name.
  KvStatus openDataFile(FlatConnection* connection, const unsigned char* name) override;
  // Rows are not counted.
  KvStatus getMaxRecords(uint32_t* out) override;
  KvStatus readNextRec(uint16_t* found) override;
  KvStatus readRecord(GetRecRetType* out) override;
  KvStatus getFieldData(uint16_t column, void* buffer, int32_t* length, uint16_t bufferSize, uint8_t* kind) override;
  KvStatus getRecordID(void* out) override;
  KvStatus setRecordID() override;
  KvStatus resetToFirstRecord() override;
  // Drops the declared column list.
  void resetToAllocatedState() override;

  // The declared column list of the statement, set while its FROM clause
  // is read (before the open).
  std::vector<XlsDeclaredColumn>& declared() { return declared_; }

 private:
  // One column's value of the current row.
  struct Value {
    bool null = true;
    uint8_t logical = 0;
    double number = 0;
    std::string text;
  };

  XlsSharedDesc* table() const { return static_cast<XlsSharedDesc*>(shared_); }
  XlsConnection* connection() const;
  KvStatus buildShared(XlsConnection* connection, const std::string& fullName);
  KvStatus scan(XlsSharedDesc* shared);
  KvStatus makeReader();
  // Reads the row whose first record is at start; next receives the offset
  // of the record that ended it, found whether it had a cell of the area.
  KvStatus readRow(uint32_t start, uint32_t* next, bool* found);
  void setNumber(uint16_t column, double number, XlsType formatClass);
  void setText(uint16_t column, const unsigned char* text, uint16_t length);
  void setBoolean(uint16_t column, uint8_t value);

  std::unique_ptr<XlsCellBuffer> reader_;
  std::unique_ptr<XlsCellBuffer::Record> record_;
  std::vector<Value> values_;
  std::vector<XlsDeclaredColumn> declared_;
  uint32_t nextRow_ = 0;  // offset of the next row's first record; 0 before the first
  bool atEnd_ = false;
};

// The text of a number shown in a CHAR column: fixed point with 2
// decimals, no leading zero before the point (0.5 ".50", -2 "-2.00"); empty
// when it has more than 126 digits or is no number.
std::string xlsNumberText(double number);
// The whole seconds of a day fraction x - floor(x), rounded, modulo 86400.
uint32_t xlsSecondsOfDay(double number);
