// Decoding of BIFF5 cell records, RK numbers and number formats
// (biff_records.h).
#include "drivers/excel/biff/biff_records.h"

#include <cstring>

#include "util/byte_order.h"

double biffRkNumber(uint32_t rk) {
  double number;
  if (rk & 0x2) {
    number = double(int32_t(rk) >> 2);
  } else {
    uint64_t bits = uint64_t(rk & 0xFFFFFFFCu) << 32;
    std::memcpy(&number, &bits, sizeof number);
  }
  return (rk & 0x1) ? number / 100 : number;
}

XlsType biffBuiltinFormatClass(uint16_t formatIndex) {
  if (formatIndex >= 14 && formatIndex <= 17) return xlsDate;
  if ((formatIndex >= 18 && formatIndex <= 21) || (formatIndex >= 45 && formatIndex <= 47)) return xlsTime;
  if (formatIndex == 22) return xlsTimestamp;
  return xlsNumber;
}

XlsType biffFormatTextClass(const unsigned char* text, uint32_t length) {
  bool date = false, time = false, month = false;
  auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : char(c); };
  for (uint32_t i = 0; i < length; ++i) {
    char c = lower(text[i]);
    if (c == '"') {
      while (++i < length && text[i] != '"') {
      }
    } else if (c == '\\' || c == '_' || c == '*') {
      ++i;  // the next character is shown or spaced, never read as a code
    } else if (c == '[') {
      uint32_t start = i + 1;
      while (++i < length && text[i] != ']') {
      }
      // [h], [hh], [mm], [ss]: elapsed time; anything else is a colour, a
      // condition or a locale.
      bool elapsed = i > start;
      for (uint32_t k = start; k < i && k < length; ++k) {
        char e = lower(text[k]);
        if (e != 'h' && e != 'm' && e != 's') elapsed = false;
      }
      if (elapsed) time = true;
    } else if (c == 'y' || c == 'd') {
      date = true;
    } else if (c == 'h' || c == 's') {
      time = true;
    } else if (c == 'm') {
      month = true;
    } else if (c == 'a' && i + 2 < length && text[i + 1] == '/' && lower(text[i + 2]) == 'p') {
      time = true;  // a/p
      i += 2;
    } else if (c == 'a' && i + 4 < length && lower(text[i + 1]) == 'm' && text[i + 2] == '/' &&
               lower(text[i + 3]) == 'p' && lower(text[i + 4]) == 'm') {
      time = true;  // am/pm
      i += 4;
    }
  }
  // "m" beside hours or seconds is minutes; alone or with days and years a month.
  if (month && !time) date = true;
  if (date && time) return xlsTimestamp;
  if (date) return xlsDate;
  if (time) return xlsTime;
  return xlsNumber;
}

bool biffIsCellRecord(uint16_t type) {
  switch (type) {
    case biffNumber:
    case biffLabel:
    case biffBoolErr:
    case biffFormula:
    case biffString:
    case biffRk:
      return true;
    default:
      return false;
  }
}

bool biffDecodeCell(uint16_t type, const unsigned char* data, uint32_t dataBytes, BiffCell* cell) {
  *cell = BiffCell();
  cell->kind = type;
  if (type == biffString) {
    if (dataBytes < 2) return false;
    cell->textLength = kvGetU16LE(data);
    if (2u + cell->textLength > dataBytes) return false;
    cell->text = data + 2;
    return true;
  }
  if (dataBytes < 6) return false;
  cell->row = kvGetU16LE(data);
  cell->column = kvGetU16LE(data + 2);
  cell->xf = kvGetU16LE(data + 4);
  switch (type) {
    case biffNumber:
      if (dataBytes < 14) return false;
      {
        uint64_t bits = kvGetU64LE(data + 6);
        std::memcpy(&cell->number, &bits, sizeof cell->number);
      }
      cell->isNumber = true;
      return true;
    case biffRk:
      if (dataBytes < 10) return false;
      cell->number = biffRkNumber(kvGetU32LE(data + 6));
      cell->isNumber = true;
      return true;
    case biffLabel:
      if (dataBytes < 8) return false;
      cell->textLength = kvGetU16LE(data + 6);
      if (8u + cell->textLength > dataBytes) return false;
      cell->text = data + 8;
      return true;
    case biffBoolErr:
      if (dataBytes < 8) return false;
      cell->boolean = data[6];
      cell->isError = data[7] != 0;
      cell->isBoolean = !cell->isError;
      return true;
    case biffFormula:
      if (dataBytes < 14) return false;
      if (kvGetU16LE(data + 12) != 0xFFFF) {
        uint64_t bits = kvGetU64LE(data + 6);
        std::memcpy(&cell->number, &bits, sizeof cell->number);
        cell->isNumber = true;
      } else if (data[6] == 0) {
        cell->isStringResult = true;
      } else if (data[6] == 1) {
        cell->isBoolean = true;
        cell->boolean = data[8];
      } else {
        cell->isError = true;
      }
      return true;
    default:
      return false;
  }
}

bool biffMulRkShape(const unsigned char* data, uint32_t dataBytes, uint16_t* row, uint16_t* firstColumn,
                    uint32_t* entries) {
  if (dataBytes < 12 || (dataBytes - 6) % 6 != 0) return false;
  *row = kvGetU16LE(data);
  *firstColumn = kvGetU16LE(data + 2);
  *entries = (dataBytes - 6) / 6;
  uint32_t lastColumn = kvGetU16LE(data + dataBytes - 2);
  return lastColumn == uint32_t(*firstColumn) + *entries - 1;
}

void biffMulRkEntry(const unsigned char* data, uint32_t i, uint16_t* xf, double* number) {
  const unsigned char* entry = data + 4 + 6 * i;
  *xf = kvGetU16LE(entry);
  *number = biffRkNumber(kvGetU32LE(entry + 2));
}
