// BIFF5 records as the Excel 5 driver reads them from a workbook's "Book"
// stream: the record types it acts on, the decoding of cell records and RK
// numbers, and the format class of a number cell.
//
// A record is a 16-bit type and a 16-bit data length (little-endian), then
// the data; the next record starts at offset + 4 + length. Record types are
// matched whole: embedded chart substreams carry records whose low byte is
// that of NUMBER, BOF or EOF. Cell layouts (offsets into the data):
//
//   record        | type   | fields
//   NUMBER        | 0x0203 | 0 row u16, 2 column u16, 4 XF u16, 6 IEEE double
//   LABEL         | 0x0204 | 0 row, 2 column, 4 XF, 6 length u16, 8 text
//   BOOLERR       | 0x0205 | 0 row, 2 column, 4 XF, 6 value u8, 7 error flag u8
//   FORMULA       | 0x0006 | 0 row, 2 column, 4 XF, 6 result (8 bytes): when
//                 |        | the u16 at 12 is 0xFFFF, byte 6 is the kind (0
//                 |        | string, 1 boolean, other error), byte 8 the boolean
//   STRING        | 0x0207 | 0 length u16, 2 text: the text result of the
//                 |        | FORMULA before it
//   RK            | 0x027E | 0 row, 2 column, 4 XF, 6 RK value u32
//   MULRK         | 0x00BD | 0 row, 2 first column, 4 entries {XF u16, RK u32},
//                 |        | last u16 the last column
#pragma once

#include <cstdint>

enum : uint16_t {
  biffBof = 0x0809,
  biffEof = 0x000A,
  biffName = 0x0018,
  biffFormat = 0x041E,
  biff1904 = 0x0022,
  biffFilePass = 0x002F,
  biffXf = 0x00E0,
  biffBoundSheet = 0x0085,
  biffNumber = 0x0203,
  biffLabel = 0x0204,
  biffBoolErr = 0x0205,
  biffFormula = 0x0006,
  biffString = 0x0207,
  biffRk = 0x027E,
  biffMulRk = 0x00BD,
};

// The version word of a BIFF5 BOF record.
constexpr uint16_t biff5Version = 0x0500;

// Type indexes of the driver's type table; xlsUnknown while a scan has not
// decided a column.
enum XlsType : uint8_t {
  xlsLogical = 0,
  xlsNumber = 1,
  xlsDate = 2,
  xlsTime = 3,
  xlsTimestamp = 4,
  xlsChar = 5,
  xlsUnknown = 6,
};

// The number an RK value stands for: bit 1 set, a signed 30-bit integer in
// the upper bits; else the upper 30 bits are the high half of a double
// whose low half is zero. Bit 0 set divides by 100.
double biffRkNumber(uint32_t rk);

// The class of a number format: the built-in index table for indexes below
// 50 (14-17 DATE, 18-21 and 45-47 TIME, 22 TIMESTAMP, else NUMBER), and for
// the workbook's own formats the class its text reads as.
XlsType biffBuiltinFormatClass(uint16_t formatIndex);
// A format text as date, time or number: "y" and "d" are date letters, "h",
// "s" and AM/PM time ones, and "m" is minutes beside a time letter, else a
// month; elapsed-time brackets ([h], [mm], [ss]) count as time. Letters in
// quotes, other brackets ([Red], [$-409]), after "\" and after "_" or "*"
// do not count. Date and time letters: TIMESTAMP.
XlsType biffFormatTextClass(const unsigned char* text, uint32_t length);

// One cell record decoded. kind is the record type; what the kind carries:
// number (NUMBER, RK, a FORMULA with a number), boolean and isError
// (BOOLERR, a FORMULA with a boolean or error), text (LABEL and STRING: a
// pointer into the record's data).
struct BiffCell {
  uint16_t kind = 0;
  uint16_t row = 0;
  uint16_t column = 0;
  uint16_t xf = 0;
  double number = 0;
  bool isNumber = false;     // NUMBER, RK and a FORMULA with a number
  bool isBoolean = false;    // BOOLERR or FORMULA with a boolean result
  bool isError = false;      // BOOLERR or FORMULA with an error result
  bool isStringResult = false;  // FORMULA whose text follows in a STRING
  uint8_t boolean = 0;
  const unsigned char* text = nullptr;
  uint16_t textLength = 0;
};

// Decodes a NUMBER, LABEL, BOOLERR, FORMULA, RK or STRING record from its
// data (dataBytes of them): false when the record is too short for its
// fields or its text (a damaged stream). A STRING gets no row or column.
bool biffDecodeCell(uint16_t type, const unsigned char* data, uint32_t dataBytes, BiffCell* cell);

// A MULRK record's shape: false when it is shorter than its row, first
// column, one entry and last column, or its columns disagree with its
// entry count. entries receives the count.
bool biffMulRkShape(const unsigned char* data, uint32_t dataBytes, uint16_t* row, uint16_t* firstColumn,
                    uint32_t* entries);
// Entry i of a MULRK whose shape was checked: its XF and number.
void biffMulRkEntry(const unsigned char* data, uint32_t i, uint16_t* xf, double* number);

// Whether a record type is a cell record of the row rules (NUMBER, LABEL,
// BOOLERR, FORMULA, STRING, RK); MULRK is handled beside them.
bool biffIsCellRecord(uint16_t type);
