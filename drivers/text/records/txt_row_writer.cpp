// The text writer; see txt_row_writer.h.
#include "drivers/text/records/txt_row_writer.h"

#include <algorithm>

void txtFormatRow(uint32_t tableType, unsigned char delimiter, const std::vector<TxtColumnSpan>& columns,
                  const std::vector<TxtOutValue>& values, std::string* out) {
  out->clear();
  if (tableType == txtTableFixed) {
    uint64_t width = 0;
    for (const TxtColumnSpan& c : columns) width = std::max<uint64_t>(width, uint64_t(c.offset) + c.length);
    out->assign(size_t(width), ' ');
    for (size_t i = 0; i < columns.size() && i < values.size(); ++i) {
      const std::string& text = values[i].text;
      out->replace(columns[i].offset, std::min<size_t>(text.size(), columns[i].length), text, 0,
                   std::min<size_t>(text.size(), columns[i].length));
    }
  } else {
    const unsigned char separator = txtDelimiterOf(tableType, delimiter);
    for (size_t i = 0; i < values.size(); ++i) {
      if (i) out->push_back(char(separator));
      const TxtOutValue& value = values[i];
      if (value.type == 'N') {
        *out += value.text;
        continue;
      }
      out->push_back('"');
      for (char c : value.text) {
        if (c == '"') out->push_back('"');
        out->push_back(c);
      }
      out->push_back('"');
    }
  }
  *out += "\r\n";
}
