// BIFF5 streams built record by record for the Excel 5 tests, and workbooks
// made of them: a compound file with the stream as "Book", written to a
// scratch directory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/platform/olestorage/compound_builder.h"
#include "tests/util/test_support.h"
#include "util/byte_order.h"

class BiffWriter {
 public:
  BiffWriter& record(uint16_t type, const std::vector<unsigned char>& data) {
    bytes.push_back(uint8_t(type));
    bytes.push_back(uint8_t(type >> 8));
    bytes.push_back(uint8_t(data.size()));
    bytes.push_back(uint8_t(data.size() >> 8));
    bytes.insert(bytes.end(), data.begin(), data.end());
    return *this;
  }
  // Records whose length field says otherwise than their data.
  BiffWriter& rawHeader(uint16_t type, uint16_t length) {
    for (uint16_t v : {type, length}) {
      bytes.push_back(uint8_t(v));
      bytes.push_back(uint8_t(v >> 8));
    }
    return *this;
  }
  BiffWriter& bof(uint16_t kind = 0x0005, uint16_t version = 0x0500, uint16_t type = 0x0809) {
    return record(type, cat({u16(version), u16(kind), u16(0x096C), u16(0x07C9)}));
  }
  BiffWriter& eof() { return record(0x000A, {}); }
  BiffWriter& xf(uint16_t format) { return record(0x00E0, cat({u16(0), u16(format), std::vector<unsigned char>(12, 0)})); }
  BiffWriter& format(uint16_t index, const std::string& text) {
    return record(0x041E, cat({u16(index), {uint8_t(text.size())}, str(text)}));
  }
  BiffWriter& boundSheet(uint32_t offset, const std::string& name) {
    return record(0x0085, cat({u32(offset), u16(0), {uint8_t(name.size())}, str(name)}));
  }
  // A global name of an area on one sheet (flags, local sheet and the
  // token can be changed to make names that are no tables).
  BiffWriter& name(const std::string& text, uint16_t sheet, uint16_t row1, uint16_t row2, uint8_t col1, uint8_t col2,
                   uint16_t flags = 0, uint16_t localSheet = 0, uint8_t token = 0x3B, uint16_t lastSheet = 0xFFFF) {
    std::vector<unsigned char> formula = cat({{token}, u16(0xFFFF), std::vector<unsigned char>(8, 0), u16(sheet),
                                              u16(lastSheet == 0xFFFF ? sheet : lastSheet), u16(row1), u16(row2),
                                              {col1, col2}});
    return record(0x0018, cat({u16(flags), {0, uint8_t(text.size())}, u16(uint16_t(formula.size())), u16(localSheet),
                               u16(0), {0, 0, 0, 0}, str(text), formula}));
  }
  BiffWriter& number(uint16_t row, uint16_t col, double value, uint16_t xf = 15) {
    uint64_t bits;
    std::memcpy(&bits, &value, 8);
    std::vector<unsigned char> d(8);
    kvPutU64LE(d.data(), bits);
    return record(0x0203, cat({u16(row), u16(col), u16(xf), d}));
  }
  BiffWriter& label(uint16_t row, uint16_t col, const std::string& text, uint16_t xf = 15) {
    return record(0x0204, cat({u16(row), u16(col), u16(xf), u16(uint16_t(text.size())), str(text)}));
  }
  BiffWriter& rk(uint16_t row, uint16_t col, uint32_t rk, uint16_t xf = 15) {
    return record(0x027E, cat({u16(row), u16(col), u16(xf), u32(rk)}));
  }
  BiffWriter& mulrk(uint16_t row, uint16_t col, const std::vector<uint32_t>& rks, uint16_t xf = 15) {
    std::vector<unsigned char> d = cat({u16(row), u16(col)});
    for (uint32_t v : rks) d = cat({d, u16(xf), u32(v)});
    return record(0x00BD, cat({d, u16(uint16_t(col + rks.size() - 1))}));
  }
  BiffWriter& boolErr(uint16_t row, uint16_t col, uint8_t value, uint8_t isError, uint16_t xf = 15) {
    return record(0x0205, cat({u16(row), u16(col), u16(xf), {value, isError}}));
  }
  // A formula with a text result (its STRING follows), a boolean, an error
  // or a number.
  BiffWriter& formulaString(uint16_t row, uint16_t col, const std::string& text) {
    record(0x0006, cat({u16(row), u16(col), u16(15), {0, 0, 0, 0, 0, 0}, u16(0xFFFF), u16(0), u32(0), u16(0)}));
    return record(0x0207, cat({u16(uint16_t(text.size())), str(text)}));
  }
  BiffWriter& formulaBool(uint16_t row, uint16_t col, uint8_t value) {
    return record(0x0006, cat({u16(row), u16(col), u16(15), {1, 0, value, 0, 0, 0}, u16(0xFFFF), u16(0), u32(0), u16(0)}));
  }
  BiffWriter& formulaNumber(uint16_t row, uint16_t col, double value, uint16_t xf = 15) {
    uint64_t bits;
    std::memcpy(&bits, &value, 8);
    std::vector<unsigned char> d(8);
    kvPutU64LE(d.data(), bits);
    return record(0x0006, cat({u16(row), u16(col), u16(xf), d, u16(0), u32(0), u16(0)}));
  }

  uint32_t size() const { return uint32_t(bytes.size()); }
  // Patches a BOUNDSHEET's offset once the sheet's place is known.
  void patchU32(uint32_t at, uint32_t value) { kvPutU32LE(bytes.data() + at, value); }

  static std::vector<unsigned char> u16(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
  static std::vector<unsigned char> u32(uint32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
  }
  static std::vector<unsigned char> str(const std::string& s) { return std::vector<unsigned char>(s.begin(), s.end()); }
  static std::vector<unsigned char> cat(std::initializer_list<std::vector<unsigned char>> parts) {
    std::vector<unsigned char> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
  }

  std::vector<unsigned char> bytes;
};

// Writes a compound file holding stream as "Book" (or under another name)
// to path.
inline void writeWorkbook(const std::string& path, const std::vector<unsigned char>& stream,
                          const char* streamName = "Book") {
  CompoundBuilder builder;
  builder.add(streamName, stream);
  std::vector<unsigned char> bytes = builder.build();
  writeFile(path, std::string(bytes.begin(), bytes.end()));
}
