// The text writer: the bytes of one new row, as INSERT appends it.
//
// Delimited rows: a character or date value is enclosed in double quotes
// with each double quote inside written twice (an empty one is ""); a
// number is written as it stands; the delimiter between values; CR LF at
// the end. Fixed-width rows: each value left-justified and padded with
// blanks at its column's offset, in a line as long as the columns reach;
// CR LF at the end. Values are checked against their columns before (the
// writer never cuts).
#pragma once

#include "drivers/text/records/txt_row_reader.h"

#include <string>
#include <vector>

struct TxtOutValue {
  char type = 'V';  // 'V' character, 'N' number, 'D' date
  std::string text;
};

void txtFormatRow(uint32_t tableType, unsigned char delimiter, const std::vector<TxtColumnSpan>& columns,
                  const std::vector<TxtOutValue>& values, std::string* out);
