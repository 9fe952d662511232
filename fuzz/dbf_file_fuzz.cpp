// Fuzz target of the dBASE driver's table reading: any bytes are a .DBF
// file. The header is parsed and checked; a header that passes must agree
// with the file (fields inside the record, records behind the header), and
// every field of every record the file holds is read as the driver reads
// it, numbers written back into their own field. Nothing is written to any
// file; besides what the sanitizers catch, the checks below must hold.
#include <cstring>
#include <vector>

#include "drivers/dbase/table/dbf_header.h"
#include "drivers/dbase/values/dbf_field_text.h"
#include "fuzz/fuzz_check.h"

namespace {

const unsigned char letters[] = "FTNY";

void readField(const DbfFieldInfo& field, const unsigned char* text) {
  switch (field.type) {
    case 'N':
    case 'F': {
      double value = 0;
      if (dbfReadNumber(text, field.length, &value) == dbfTextValue) {
        std::vector<unsigned char> out(field.length);
        DbfNumberFit fit = dbfFormatDouble(value, field.length, field.decimals, ' ', out.data());
        FUZZ_CHECK(fit == dbfNumberFits || fit == dbfNumberTooLarge || fit == dbfNumberBad);
      }
      // Within the declaration, a value reads only as a finite number.
      if (dbfReadFieldNumber(text, field.length, field.decimals, &value) == dbfTextValue) {
        std::vector<unsigned char> out(field.length);
        FUZZ_CHECK(dbfFormatDouble(value, field.length, field.decimals, ' ', out.data()) != dbfNumberBad);
      }
      std::vector<unsigned char> direct(field.length);
      uint32_t length = 0;
      (void)dbfDirectNumberText(text, field.length, field.decimals, direct.data(), &length);
      FUZZ_CHECK(length <= field.length);
      (void)dbfFormatNumberText(text, field.length, field.length, field.decimals, ' ', direct.data());
      break;
    }
    case 'D': {
      int32_t year = 0, month = 0, day = 0;
      if (dbfReadDate(text, field.length, &year, &month, &day) == dbfTextValue) {
        // Each character counts as the digit it would be, '0' - 48 to
        // '0' + 207, so the parts stay within these bounds.
        FUZZ_CHECK(year >= -48 * 1111 && year <= 207 * 1111 && month >= -48 * 11 && month <= 207 * 11 &&
                   day >= -48 * 11 && day <= 207 * 11);
        unsigned char out[8];
        (void)dbfFormatDate(year, month, day, out);
      }
      break;
    }
    case 'L': {
      int value = 0;
      (void)dbfReadLogical(text[0], letters, &value);
      break;
    }
    default:
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0xFFFFFF) return 0;
  uint32_t length = uint32_t(size);
  uint32_t needed = dbfHeaderBytesNeeded(data, length);
  DbfHeaderInfo header;
  const char* reason = nullptr;
  // The reader reads the bytes the header needs, or fewer at the file's end.
  if (dbfParseHeader(data, needed < length ? needed : length, size, &header, &reason) != dbfHeaderValid) return 0;
  FUZZ_CHECK(header.headerLength <= size);
  FUZZ_CHECK(!header.fields.empty());
  uint32_t end = 1;
  for (const DbfFieldInfo& field : header.fields) {
    FUZZ_CHECK(field.offset == end && field.length > 0 && std::strlen(field.name) <= dbfMaxNameChars);
    end += field.length;
  }
  FUZZ_CHECK(end == header.recordLength);
  // The records the file holds, at most the header's count: a larger count
  // ends where the file does.
  uint64_t held = (size - header.headerLength) / header.recordLength;
  uint64_t records = held < header.recordCount ? held : header.recordCount;
  for (uint64_t n = 0; n < records && n < 1000; ++n) {
    const unsigned char* record = data + header.headerLength + n * header.recordLength;
    for (const DbfFieldInfo& field : header.fields) readField(field, record + field.offset);
  }
  return 0;
}
