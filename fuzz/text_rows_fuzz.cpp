// Fuzz target of the text driver's row reader and writer. The first input
// byte picks the table type, the delimiter and the window size; the next
// bytes give one to four columns (offset and length); the rest is the file.
// Every row read ends behind where it started, keeps each value within its
// column's length and without trailing blanks, and a row written from the
// values read reads back as the same values.
#include <cstring>
#include <string>
#include <vector>

#include "drivers/text/records/txt_row_reader.h"
#include "drivers/text/records/txt_row_writer.h"
#include "fuzz/fuzz_check.h"

namespace {

class Bytes : public TxtByteSource {
 public:
  Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  KvStatus read(uint64_t offset, unsigned char* buffer, uint32_t length, uint32_t* got) override {
    *got = 0;
    if (offset >= size_) return kvSuccess;
    *got = uint32_t(size_ - offset < length ? size_ - offset : length);
    std::memcpy(buffer, data_ + offset, *got);
    return kvSuccess;
  }

 private:
  const uint8_t* data_;
  size_t size_;
};

std::vector<std::string> readValues(TxtByteSource* source, uint32_t type, unsigned char delimiter,
                                    const std::vector<TxtColumnSpan>& spans, uint32_t window, uint64_t at,
                                    uint64_t* next, int* found) {
  TxtRowReader reader(source, window);
  reader.configure(type, delimiter, spans);
  FUZZ_CHECK(reader.readRow(at, found) == kvSuccess);
  std::vector<std::string> values;
  if (!*found) return values;
  *next = reader.nextOffset();
  for (size_t i = 0; i < reader.columnCount(); ++i) values.push_back(reader.value(i));
  return values;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint32_t type = data[0] & 3;
  static const unsigned char delimiters[] = {',', ';', '|', ' '};
  const unsigned char delimiter = delimiters[(data[0] >> 2) & 3];
  const uint32_t window = 1u + ((data[0] >> 4) * 37u);
  const size_t columns = 1 + (data[1] & 3);
  if (size < 2 + 2 * columns) return 0;
  std::vector<TxtColumnSpan> spans;
  for (size_t i = 0; i < columns; ++i) {
    const uint32_t length = 1 + data[2 + 2 * i] % 24;
    const uint32_t offset = type == txtTableFixed ? data[3 + 2 * i] % 40 : 0;
    spans.push_back({offset, length});
  }
  const uint8_t* file = data + 2 + 2 * columns;
  const size_t fileSize = size - 2 - 2 * columns;
  Bytes source(file, fileSize);

  TxtRowReader reader(&source, window);
  reader.configure(type, delimiter, spans);
  uint64_t first = 0;
  FUZZ_CHECK(reader.skipFirstLine(&first) == kvSuccess);
  FUZZ_CHECK(first <= fileSize);
  uint64_t at = 0;
  for (size_t rows = 0;; ++rows) {
    FUZZ_CHECK(rows <= fileSize);
    int found = 0;
    FUZZ_CHECK(reader.readRow(at, &found) == kvSuccess);
    if (!found) break;
    FUZZ_CHECK(reader.rowOffset() >= at && reader.nextOffset() > reader.rowOffset());
    FUZZ_CHECK(reader.nextOffset() <= fileSize);
    std::vector<TxtOutValue> out;
    for (size_t i = 0; i < columns; ++i) {
      const std::string& value = reader.value(i);
      FUZZ_CHECK(value.size() <= spans[i].length);
      FUZZ_CHECK(value.empty() || value.back() != ' ');
      out.push_back(TxtOutValue{'V', value});
    }
    // What the writer makes of the values reads back as them.
    std::string row;
    txtFormatRow(type, delimiter, spans, out, &row);
    Bytes written(reinterpret_cast<const uint8_t*>(row.data()), row.size());
    uint64_t next = 0;
    int again = 0;
    std::vector<std::string> back = readValues(&written, type, delimiter, spans, window, 0, &next, &again);
    bool empty = true;
    for (const TxtOutValue& v : out) empty = empty && v.text.empty();
    if (type != txtTableFixed || !empty) {
      FUZZ_CHECK(again == 1);
      FUZZ_CHECK(next == row.size());
      for (size_t i = 0; i < columns; ++i) FUZZ_CHECK(back[i] == out[i].text);
    }
    at = reader.nextOffset();
  }
  return 0;
}
