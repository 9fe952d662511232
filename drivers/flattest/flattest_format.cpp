// The test driver's table format: header parsing and checking, and table
// creation; see flattest_format.h.
#include "drivers/flattest/flattest_format.h"

#include "util/os/bos.h"
#include "util/byte_order.h"

#include <cerrno>
#include <cstring>

namespace {

const char magic[] = "KVFTTBL1";

bool fail(std::string* reason, const std::string& text) {
  if (reason) *reason = text;
  return false;
}

}  // namespace

bool flatTestCheckLayout(FlatTestLayout* layout, std::string* reason) {
  size_t count = layout->columns.size();
  if (count == 0 || count > flatTestMaxColumns) return fail(reason, "bad column count");
  uint64_t width = 1;
  for (FlatTestColumn& column : layout->columns) {
    if (column.name.empty() || column.name.size() >= flatTestNameBytes) return fail(reason, "bad column name");
    switch (column.type) {
      case 'I': column.width = 4; break;
      case 'D':
      case 'T': column.width = 8; break;
      case 'Y': column.width = 1; break;
      case 'C':
      case 'B':
      case 'L':
        if (column.width == 0 || column.width > flatTestMaxWidth) return fail(reason, "bad column width");
        break;
      default:
        return fail(reason, "unknown column type");
    }
    if (column.flags & ~uint8_t(flatTestIndexed | flatTestUnique | flatTestDescending))
      return fail(reason, "unknown column flags");
    if (column.flags & (flatTestUnique | flatTestDescending)) column.flags |= flatTestIndexed;
    column.offset = uint32_t(width);
    width += column.size();
  }
  if (width > 0x7FFFFFFF) return fail(reason, "records too wide");
  layout->recordWidth = uint32_t(width);
  layout->headerBytes = uint32_t(flatTestHeaderBytes + flatTestColumnBytes * count);
  return true;
}

bool flatTestParseHeader(const unsigned char* bytes, uint32_t length, FlatTestLayout* layout, std::string* reason) {
  if (length < flatTestHeaderBytes || std::memcmp(bytes, magic, 8) != 0) return fail(reason, "no table header");
  uint32_t headerBytes = kvGetU32LE(bytes + 8);
  uint16_t count = kvGetU16LE(bytes + 20);
  if (count == 0 || count > flatTestMaxColumns || headerBytes != flatTestHeaderBytes + flatTestColumnBytes * count)
    return fail(reason, "bad column count");
  if (length < headerBytes) return fail(reason, "short header");
  layout->columns.clear();
  for (uint16_t i = 0; i < count; ++i) {
    const unsigned char* entry = bytes + flatTestHeaderBytes + flatTestColumnBytes * i;
    FlatTestColumn column;
    size_t nameLength = strnlen(reinterpret_cast<const char*>(entry), flatTestNameBytes);
    column.name.assign(reinterpret_cast<const char*>(entry), nameLength);
    column.type = char(entry[32]);
    column.flags = entry[33];
    column.width = kvGetU16LE(entry + 34);
    layout->columns.push_back(column);
  }
  if (!flatTestCheckLayout(layout, reason)) return false;
  if (kvGetU32LE(bytes + 16) != layout->recordWidth) return fail(reason, "record width does not match the columns");
  layout->recordCount = kvGetU32LE(bytes + 12);
  return true;
}

std::vector<unsigned char> flatTestHeader(const FlatTestLayout& layout) {
  std::vector<unsigned char> header(layout.headerBytes, 0);
  std::memcpy(header.data(), magic, 8);
  kvPutU32LE(&header[8], layout.headerBytes);
  kvPutU32LE(&header[12], layout.recordCount);
  kvPutU32LE(&header[16], layout.recordWidth);
  kvPutU16LE(&header[20], uint16_t(layout.columns.size()));
  for (size_t i = 0; i < layout.columns.size(); ++i) {
    unsigned char* entry = &header[flatTestHeaderBytes + flatTestColumnBytes * i];
    const FlatTestColumn& column = layout.columns[i];
    std::memcpy(entry, column.name.data(), column.name.size());
    entry[32] = uint8_t(column.type);
    entry[33] = column.flags;
    kvPutU16LE(entry + 34, column.width);
  }
  return header;
}

KvStatus flatTestCreateTable(const unsigned char* path, const std::vector<FlatTestColumn>& columns) {
  FlatTestLayout layout;
  layout.columns = columns;
  std::string reason;
  if (!flatTestCheckLayout(&layout, &reason)) {
    return bosReportErrno(EINVAL, path);
  }
  std::vector<unsigned char> header = flatTestHeader(layout);
  unsigned char name[bosPathBytes];
  std::strncpy(reinterpret_cast<char*>(name), reinterpret_cast<const char*>(path), sizeof(name) - 1);
  name[sizeof(name) - 1] = 0;
  int file = 0;
  if (bosFileOpen(name, bosOpenCreate, &file) != kvSuccess) return kvFailure;
  KvStatus status = bosFileWrite(file, 0, header.data(), uint32_t(header.size()));
  if (bosFileClose(file) != kvSuccess) status = kvFailure;
  return status;
}
