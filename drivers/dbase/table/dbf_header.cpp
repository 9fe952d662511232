// Reading and checking .DBF headers; see dbf_header.h.
#include "drivers/dbase/table/dbf_header.h"

#include "util/byte_order.h"

#include <cstring>

namespace {

const char validTypes[] = "BCDFGLMNP";
const char dbase2Types[] = "CLN";

DbfHeaderFault refuse(const char** reason, const char* why) {
  if (reason) *reason = why;
  return dbfHeaderInvalid;
}

bool isMemoType(unsigned char type) { return type == 'B' || type == 'G' || type == 'M' || type == 'P'; }

// A number field holds its point and decimals within its width: decimals
// not below the width describe a column of no digits before the point, or
// of a negative size.
bool badDecimals(const DbfFieldInfo& field) {
  return (field.type == 'N' || field.type == 'F') && field.decimals && field.decimals >= field.length;
}

// Name of a descriptor: the bytes before the first NUL of its 11; false
// when there is none within them or the name is empty.
bool readName(const unsigned char* at, char* name) {
  size_t length = 0;
  while (length < dbfMaxNameChars + 1 && at[length]) ++length;
  if (length == 0 || length > dbfMaxNameChars) return false;
  std::memcpy(name, at, length);
  name[length] = 0;
  return true;
}

DbfHeaderFault parseDbase2(const unsigned char* bytes, uint32_t length, uint64_t fileSize, DbfHeaderInfo* out,
                           const char** reason) {
  if (length < dbf2HeaderBytes || fileSize < dbf2HeaderBytes) return refuse(reason, "short dBASE II header");
  out->dbase2 = true;
  out->recordCount = kvGetU16LE(bytes + 1);
  out->month = bytes[3];
  out->day = bytes[4];
  out->year = bytes[5];
  out->headerLength = dbf2HeaderBytes;
  uint32_t offset = 1;
  uint32_t at = 8;
  for (uint32_t n = 0; n < dbf2MaxFields && bytes[at] != dbfDescriptorEnd; ++n, at += dbf2DescriptorBytes) {
    DbfFieldInfo field;
    if (!readName(bytes + at, field.name)) return refuse(reason, "bad field name");
    field.type = bytes[at + 11];
    if (!field.type || !std::strchr(dbase2Types, field.type)) return refuse(reason, "bad field type");
    field.length = bytes[at + 12];
    field.decimals = bytes[at + 15];
    if (field.length == 0) return refuse(reason, "field of length 0");
    if (badDecimals(field)) return refuse(reason, "decimals not below the width");
    field.offset = offset;
    offset += field.length;
    out->fields.push_back(field);
  }
  if (out->fields.empty()) return refuse(reason, "no fields");
  if (bytes[at] != dbfDescriptorEnd) return refuse(reason, "descriptors not ended by 0x0D");
  out->recordLength = offset;
  return dbfHeaderValid;
}

}  // namespace

uint32_t dbfHeaderBytesNeeded(const unsigned char* prefix, uint32_t prefixLength) {
  if (prefixLength < dbfPrefixBytes) return dbfPrefixBytes;
  if (prefix[0] == dbfVersionDbase2) return dbf2HeaderBytes;
  uint32_t headerLength = kvGetU16LE(prefix + 8);
  return headerLength < dbfPrefixBytes ? uint32_t(dbfPrefixBytes) : headerLength;
}

DbfHeaderFault dbfParseHeader(const unsigned char* bytes, uint32_t length, uint64_t fileSize, DbfHeaderInfo* out,
                              const char** reason) {
  *out = DbfHeaderInfo();
  if (reason) *reason = "";
  if (length < dbfPrefixBytes) return refuse(reason, "shorter than a header");
  out->version = bytes[0];
  if (out->version == dbfVersionDbase2) return parseDbase2(bytes, length, fileSize, out, reason);
  if (out->version == dbfVersionFoxPro) out->foxMemo = true;
  else if ((out->version & 3) != 3) return refuse(reason, "unknown version byte");
  if (bytes[15] == 1) {
    if (reason) *reason = "encrypted";
    return dbfHeaderEncrypted;
  }
  out->year = bytes[1];
  out->month = bytes[2];
  out->day = bytes[3];
  out->recordCount = kvGetU32LE(bytes + 4);
  out->headerLength = kvGetU16LE(bytes + 8);
  out->recordLength = kvGetU16LE(bytes + 10);
  if (bytes[28] == 1) out->productionIndex = 2;

  // The header must hold the fixed part, one descriptor and the 0x0D, lie
  // within the bytes given and within the file.
  if (out->headerLength < dbfPrefixBytes + dbfDescriptorBytes + 1) return refuse(reason, "header length too small");
  if (out->headerLength > length) return refuse(reason, "header longer than the bytes read");
  if (out->headerLength > fileSize) return refuse(reason, "file shorter than its header");

  uint32_t limit = out->headerLength / dbfDescriptorBytes - 1;
  uint32_t offset = 1;
  uint32_t at = dbfPrefixBytes;
  for (uint32_t n = 0; n < limit && at < out->headerLength && bytes[at] != dbfDescriptorEnd;
       ++n, at += dbfDescriptorBytes) {
    if (at + dbfDescriptorBytes > out->headerLength) return refuse(reason, "descriptor cut by the header's end");
    const unsigned char* d = bytes + at;
    DbfFieldInfo field;
    field.type = d[11];
    if (!field.type || !std::strchr(validTypes, field.type)) return refuse(reason, "bad field type");
    if (!readName(d, field.name)) return refuse(reason, "bad field name");
    field.length = field.type == 'C' ? kvGetU16LE(d + 16) : d[16];
    field.decimals = field.type == 'C' ? 0 : d[17];
    field.tagFlag = d[31];
    if (field.length == 0) return refuse(reason, "field of length 0");
    if (badDecimals(field)) return refuse(reason, "decimals not below the width");
    if (field.tagFlag && out->productionIndex == 2) out->productionIndex = 1;
    if (isMemoType(field.type)) out->hasMemoFields = true;
    field.offset = offset;
    offset += field.length;
    out->fields.push_back(field);
  }
  if (out->fields.empty()) return refuse(reason, "no fields");
  if (at >= out->headerLength || bytes[at] != dbfDescriptorEnd) return refuse(reason, "descriptors not ended by 0x0D");
  if (offset != out->recordLength) return refuse(reason, "record length is not the sum of the fields");
  return dbfHeaderValid;
}

void dbfDateBytes(bool dbase2, uint16_t year, uint16_t month, uint16_t day, unsigned char out[3]) {
  unsigned char y = uint8_t(year >= 1900 ? year - 1900 : 0);
  if (dbase2) {
    out[0] = uint8_t(month);
    out[1] = uint8_t(day);
    out[2] = y;
  } else {
    out[0] = y;
    out[1] = uint8_t(month);
    out[2] = uint8_t(day);
  }
}
