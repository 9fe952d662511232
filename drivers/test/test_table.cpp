// The test driver's fixed tables; see test_table.h.
#include "drivers/test/test_table.h"

#include "base/results/base_field.h"
#include "util/containers/str_functions.h"

#include <cctype>
#include <cstring>
#include <string>

namespace {

const TestTableColumn allTypesColumns[] = {
    {"ID", SQL_INTEGER, 10, 0, 0, itSLong},
    {"FLAG", SQL_BIT, 1, 0, 0, itBit},
    {"TINY", SQL_TINYINT, 3, 0, 0, itSTinyInt},
    {"UTINY", SQL_TINYINT, 3, 0, BaseField::flagUnsigned, itUTinyInt},
    {"SMALL", SQL_SMALLINT, 5, 0, 0, itSShort},
    {"USMALL", SQL_SMALLINT, 5, 0, BaseField::flagUnsigned, itUShort},
    {"ULONG", SQL_INTEGER, 10, 0, BaseField::flagUnsigned, itULong},
    {"BIG", SQL_BIGINT, 19, 0, 0, itSBigInt},
    {"UBIG", SQL_BIGINT, 20, 0, BaseField::flagUnsigned, itUBigInt},
    {"PACKED", SQL_DECIMAL, 9, 2, 0, itPacked},
    {"AMOUNT", SQL_DECIMAL, 12, 3, 0, itDecimal},
    {"REALV", SQL_REAL, 7, 0, 0, itFloat},
    {"DBL", SQL_DOUBLE, 15, 0, 0, itDouble},
    {"DAY", SQL_DATE, 10, 0, 0, itDate},
    {"TIMEV", SQL_TIME, 8, 0, 0, itTime},
    {"STAMP", SQL_TIMESTAMP, 23, 3, 0, itTimestamp},
    {"CODE", SQL_CHAR, 10, 0, 0, itChar},
    {"NAME", SQL_VARCHAR, 40, 0, 0, itChar},
    {"NOTES", SQL_LONGVARCHAR, 1000000, 0, 0, itChar},
    {"DATA", SQL_VARBINARY, 16, 0, 0, itBinary},
    {"BLOB", SQL_LONGVARBINARY, 1000000, 0, 0, itBinary},
};
constexpr uint16_t allTypesColumnCount = sizeof(allTypesColumns) / sizeof(allTypesColumns[0]);

const TestTableColumn numbersColumns[] = {{"N", SQL_INTEGER, 10, 0, 0, itSLong}};

enum : uint32_t { defaultNumberRows = 25, mostNumberRows = 100000 };

// Row 1's long values.
const std::string& longText() {
  static const std::string text = [] {
    std::string out;
    for (int i = 0; out.size() < 5000; ++i) out += "line " + std::to_string(i) + " of the notes; ";
    out.resize(5000);
    out += "END";
    return out;
  }();
  return text;
}

const std::string& longBinary() {
  static const std::string bytes = [] {
    std::string out(300, '\0');
    for (size_t i = 0; i < out.size(); ++i) out[i] = char(i & 0xFF);
    return out;
  }();
  return bytes;
}

struct Decimal {
  int16_t point;
  const char* digits;
  uint32_t flags;
};

TestTableValue fixed(unsigned char* scratch, const void* value, int32_t length, InternalType form) {
  std::memcpy(scratch, value, size_t(length));
  return {scratch, length, form};
}

TestTableValue decimalText(unsigned char* scratch, const Decimal& value) {
  const uint16_t count = uint16_t(std::strlen(value.digits));
  basePutDecimalHeader(scratch, {value.point, count, value.flags});
  std::memcpy(scratch + baseDecimalHeaderBytes, value.digits, count);
  return {scratch, int32_t(baseDecimalHeaderBytes + count), itDecimal};
}

TestTableValue allTypesValue(uint32_t row, uint16_t column, unsigned char* scratch) {
  const InternalType form = allTypesColumns[column - 1].form;
  if (column == 1) {
    const int32_t id = int32_t(row);
    return fixed(scratch, &id, 4, form);
  }
  if (row == 2) return {nullptr, 0, form};
  const bool first = row == 1;
  switch (column) {
    case 2: { const uint8_t v = first ? 1 : 0; return fixed(scratch, &v, 1, form); }
    case 3: { const int8_t v = first ? -5 : 127; return fixed(scratch, &v, 1, form); }
    case 4: { const uint8_t v = first ? 200 : 0; return fixed(scratch, &v, 1, form); }
    case 5: { const int16_t v = first ? -1234 : 32767; return fixed(scratch, &v, 2, form); }
    case 6: { const uint16_t v = first ? 60000 : 0; return fixed(scratch, &v, 2, form); }
    case 7: { const uint32_t v = first ? 4000000000u : 0; return fixed(scratch, &v, 4, form); }
    case 8:
      basePut64(scratch, uint64_t(first ? int64_t(-9000000000000) : INT64_MAX));
      return {scratch, 8, form};
    case 9:
      basePut64(scratch, first ? 10000000000ull : 0);
      return {scratch, 8, form};
    case 10: {
      // DECIMAL(9,2) packed: 1234567.89 and -0.01.
      static const unsigned char one[] = {0x12, 0x34, 0x56, 0x78, 0x9C};
      static const unsigned char three[] = {0x00, 0x00, 0x00, 0x00, 0x1D};
      return {first ? one : three, 5, form};
    }
    case 11: return decimalText(scratch, first ? Decimal{6, "123456789", 0} : Decimal{0, "5", decimalNegative});
    case 12: { const float v = first ? 1.5f : -2.5f; return fixed(scratch, &v, 4, form); }
    case 13: { const double v = first ? 3.25 : -1e100; return fixed(scratch, &v, 8, form); }
    case 14: {
      const DATE_STRUCT v = first ? DATE_STRUCT{2024, 2, 29} : DATE_STRUCT{1900, 1, 1};
      return fixed(scratch, &v, 6, form);
    }
    case 15: {
      const TIME_STRUCT v = first ? TIME_STRUCT{13, 45, 30} : TIME_STRUCT{0, 0, 0};
      return fixed(scratch, &v, 6, form);
    }
    case 16: {
      const TIMESTAMP_STRUCT v = first ? TIMESTAMP_STRUCT{2024, 2, 29, 13, 45, 30, 123000000}
                                       : TIMESTAMP_STRUCT{1999, 12, 31, 23, 59, 59, 0};
      return fixed(scratch, &v, 16, form);
    }
    case 17: return {first ? "ABC       " : "          ", 10, form};
    case 18: return {first ? "caf\xe9" : "", first ? 4 : 0, form};
    case 19: return first ? TestTableValue{longText().data(), int32_t(longText().size()), form}
                          : TestTableValue{"short", 5, form};
    case 20: return {first ? "\x00\x01\xfe\xff" : "", first ? 4 : 0, form};
    case 21: return first ? TestTableValue{longBinary().data(), int32_t(longBinary().size()), form}
                          : TestTableValue{"\x7f", 1, form};
    default: return {nullptr, 0, form};
  }
}

// Whether text at p (up to end) starts with word, without regard to case,
// followed by a non-word character.
bool startsWithWord(const unsigned char* p, const unsigned char* end, const char* word) {
  const uint32_t length = uint32_t(std::strlen(word));
  if (uint32_t(end - p) < length || !strEqualCi(p, length, kvU(word), length)) return false;
  return p + length == end || !(std::isalnum(p[length]) || p[length] == '_');
}

}  // namespace

TestTableKind testTableOf(const unsigned char* sql, uint32_t length, uint32_t* rows) {
  const unsigned char* end = sql + length;
  for (const unsigned char* p = sql; p < end; ++p) {
    if (!startsWithWord(p, end, "FROM") || (p > sql && (std::isalnum(p[-1]) || p[-1] == '_'))) continue;
    p += 4;
    while (p < end && std::isspace(*p)) ++p;
    if (startsWithWord(p, end, "ALLTYPES")) return testTableAllTypes;
    if (!startsWithWord(p, end, "NUMBERS")) return testTableNone;
    p += 7;
    while (p < end && std::isspace(*p)) ++p;
    uint32_t count = 0;
    while (p < end && *p >= '0' && *p <= '9' && count <= mostNumberRows) count = count * 10 + uint32_t(*p++ - '0');
    *rows = p > sql && p[-1] >= '0' && p[-1] <= '9' ? (count > mostNumberRows ? mostNumberRows : count)
                                                     : uint32_t(defaultNumberRows);
    return testTableNumbers;
  }
  return testTableNone;
}

const TestTableColumn* testTableColumns(TestTableKind kind, uint16_t* count) {
  switch (kind) {
    case testTableAllTypes: *count = allTypesColumnCount; return allTypesColumns;
    case testTableNumbers: *count = 1; return numbersColumns;
    default: *count = 0; return nullptr;
  }
}

TestTableValue testTableValue(TestTableKind kind, uint32_t row, uint16_t column, unsigned char* scratch) {
  if (kind == testTableAllTypes && column >= 1 && column <= allTypesColumnCount) {
    return allTypesValue(row, column, scratch);
  }
  if (kind == testTableNumbers && column == 1) {
    const int32_t n = int32_t(row);
    return fixed(scratch, &n, 4, itSLong);
  }
  return {nullptr, 0, itChar};
}
