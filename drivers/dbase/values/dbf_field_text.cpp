// Field text of numbers, dates and logicals; see dbf_field_text.h.
#include "drivers/dbase/values/dbf_field_text.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

bool isBlank(unsigned char c) { return c == ' ' || c == 0; }
bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }

// A number field of blanks and asterisks only: dBASE fills a field with
// "*" when a number overflowed it, and GDAL writes NULL numbers so.
bool isStarredBlank(const unsigned char* text, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i)
    if (!isBlank(text[i]) && text[i] != '*') return false;
  return true;
}

// The parts of decimal text: sign, integer digits (no leading zeros) and
// fraction digits, each bounded by the text's own length.
struct Decimal {
  bool negative = false;
  const unsigned char* integer = nullptr;
  uint32_t integerDigits = 0;
  const unsigned char* fraction = nullptr;
  uint32_t fractionDigits = 0;
};

// Splits plain decimal text (no exponent); false when it is something else.
bool splitDecimal(const unsigned char* text, uint32_t length, Decimal* out) {
  uint32_t i = 0;
  while (i < length && isBlank(text[i])) ++i;
  uint32_t end = length;
  while (end > i && isBlank(text[end - 1])) --end;
  if (i < end && (text[i] == '-' || text[i] == '+')) out->negative = text[i++] == '-';
  uint32_t start = i;
  while (i < end && isDigit(text[i])) ++i;
  out->integer = text + start;
  out->integerDigits = i - start;
  if (i < end && text[i] == '.') {
    ++i;
    uint32_t fractionStart = i;
    while (i < end && isDigit(text[i])) ++i;
    out->fraction = text + fractionStart;
    out->fractionDigits = i - fractionStart;
  }
  if (i != end || out->integerDigits + out->fractionDigits == 0) return false;
  while (out->integerDigits > 0 && out->integer[0] == '0') {
    ++out->integer;
    --out->integerDigits;
  }
  return true;
}

// Writes a split decimal into the field; digits are rounded to decimals
// places (half away from zero).
DbfNumberFit formatDecimal(const Decimal& value, uint16_t width, uint16_t decimals, unsigned char fill,
                           unsigned char* out) {
  // The digits to write: the integer digits, then exactly decimals
  // fraction digits, rounded. One more place in front takes a carry.
  if (width > dbfMaxNumberWidth || decimals > width) return dbfNumberBad;
  if (value.integerDigits > width) return dbfNumberTooLarge;
  uint32_t total = value.integerDigits + decimals;
  unsigned char digits[2 * dbfMaxNumberWidth + 2];
  digits[0] = '0';
  std::memcpy(digits + 1, value.integer, value.integerDigits);
  for (uint32_t k = 0; k < decimals; ++k)
    digits[1 + value.integerDigits + k] = k < value.fractionDigits ? value.fraction[k] : '0';
  if (value.fractionDigits > decimals && value.fraction[decimals] >= '5') {
    uint32_t k = total;
    while (digits[k] == '9') digits[k--] = '0';
    ++digits[k];
  }
  const unsigned char* first = digits[0] == '0' ? digits + 1 : digits;
  uint32_t integerDigits = value.integerDigits + (digits[0] == '0' ? 0 : 1);
  bool zero = true;
  for (uint32_t k = 0; k < integerDigits + decimals; ++k)
    if (first[k] != '0') zero = false;
  bool negative = value.negative && !zero;

  uint32_t room = decimals ? uint32_t(width) - decimals - 1 : width;
  if (decimals && decimals + 1u > width) return dbfNumberTooLarge;
  if (negative) {
    if (room == 0) return dbfNumberTooLarge;
    --room;
  }
  // Numbers below 1 keep one "0" before the point when there is room.
  uint32_t shown = integerDigits ? integerDigits : (room ? 1 : 0);
  if (integerDigits > room) return dbfNumberTooLarge;
  uint32_t integerPlaces = decimals ? uint32_t(width) - decimals - 1 : width;
  uint32_t pos = 0;
  for (; pos + shown < integerPlaces; ++pos) out[pos] = fill;
  if (negative) out[pos - 1] = '-';
  if (integerDigits) {
    std::memcpy(out + pos, first, integerDigits);
  } else if (shown) {
    out[pos] = '0';
  }
  pos += shown;
  if (decimals) {
    out[pos++] = '.';
    std::memcpy(out + pos, first + integerDigits, decimals);
  }
  return dbfNumberFits;
}

// The plain decimals most fields hold ("-123.45": a sign, at most 15
// digits, at most one point, at most 22 decimals) without from_chars: the
// digits make an exact integer below 2^53 and a power of ten up to 10^22 is
// exact, so one division rounds as from_chars does. Anything else is left
// to from_chars (false).
bool readShortDecimal(const char* first, const char* last, double* out) {
  static const double powers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                  1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  const bool negative = *first == '-';
  if (negative) ++first;
  uint64_t digits = 0;
  uint32_t count = 0, decimals = 0;
  bool point = false;
  for (const char* p = first; p < last; ++p) {
    if (*p >= '0' && *p <= '9') {
      if (++count > 15) return false;
      digits = digits * 10 + uint64_t(*p - '0');
      if (point) ++decimals;
    } else if (*p == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  if (count == 0 || decimals > 22) return false;
  double value = double(digits) / powers[decimals];
  *out = negative ? -value : value;
  return true;
}

}  // namespace

DbfTextResult dbfReadNumber(const unsigned char* text, uint32_t length, double* out) {
  if (isStarredBlank(text, length)) return dbfTextBlank;
  uint32_t i = 0;
  while (i < length && isBlank(text[i])) ++i;
  uint32_t end = length;
  while (end > i && isBlank(text[end - 1])) --end;
  if (i == end) return dbfTextBlank;
  if (text[i] == '+') ++i;  // from_chars takes no plus sign
  // A copy bounded by the field: from_chars must not see a "-" or digits
  // that belong to the next field.
  const char* first = reinterpret_cast<const char*>(text + i);
  const char* last = reinterpret_cast<const char*>(text + end);
  if (first == last || *first == '+') return dbfTextBad;
  double value = 0;
  if (readShortDecimal(first, last, &value)) {
    *out = value;
    return dbfTextValue;
  }
  auto result = std::from_chars(first, last, value);
  if (result.ec != std::errc() || result.ptr != last || !std::isfinite(value)) return dbfTextBad;
  *out = value;
  return dbfTextValue;
}

bool dbfNumberFitsField(uint32_t integerDigits, bool negative, uint16_t width, uint16_t decimals) {
  uint32_t room = decimals ? (width > decimals ? uint32_t(width) - decimals - 1 : 0) : width;
  if (negative && integerDigits > 0) {
    if (room == 0) return false;
    --room;
  }
  return integerDigits <= room;
}

DbfTextResult dbfReadFieldNumber(const unsigned char* text, uint16_t width, uint16_t decimals, double* out) {
  double value = 0;
  DbfTextResult read = dbfReadNumber(text, width, &value);
  if (read != dbfTextValue) return read;
  // Integer digits of the value: below 10^n it has at most n. The powers of
  // ten up to 10^22 are exact doubles; beyond, the comparison is off by no
  // more than the value's own rounding.
  double magnitude = std::fabs(value);
  uint32_t digits = 0;
  for (double bound = 1; magnitude >= bound && digits <= width; bound *= 10) ++digits;
  if (!dbfNumberFitsField(digits, value < 0, width, decimals)) return dbfTextOutOfRange;
  *out = value;
  return dbfTextValue;
}

DbfTextResult dbfReadDate(const unsigned char* text, uint32_t length, int32_t* year, int32_t* month,
                          int32_t* day) {
  if (length == 0 || isBlank(text[0])) return dbfTextBlank;
  bool allZero = true;
  for (uint32_t i = 0; i < length; ++i)
    if (text[i] != '0' && !isBlank(text[i])) allZero = false;
  if (allZero) return dbfTextBlank;
  if (length < 8) return dbfTextBad;
  auto number = [&](uint32_t from, uint32_t count) {
    int32_t v = 0;
    for (uint32_t i = from; i < from + count; ++i) v = v * 10 + (int32_t(text[i]) - '0');
    return v;
  };
  *year = number(0, 4);
  *month = number(4, 2);
  *day = number(6, 2);
  return dbfTextValue;
}

DbfTextResult dbfReadLogical(unsigned char letter, const unsigned char* letters, int* value) {
  if (isBlank(letter) || letter == '?') return dbfTextBlank;
  *value = letter == letters[1] || letter == letters[3];
  return dbfTextValue;
}

DbfNumberFit dbfFormatNumberText(const unsigned char* text, uint32_t length, uint16_t width, uint16_t decimals,
                                 unsigned char fill, unsigned char* out) {
  Decimal value;
  if (splitDecimal(text, length, &value)) return formatDecimal(value, width, decimals, fill, out);
  // Text with an exponent, or anything else: as a number, if it is one.
  double number = 0;
  if (dbfReadNumber(text, length, &number) != dbfTextValue) return dbfNumberBad;
  return dbfFormatDouble(number, width, decimals, fill, out);
}

DbfNumberFit dbfFormatDouble(double value, uint16_t width, uint16_t decimals, unsigned char fill,
                             unsigned char* out) {
  if (!std::isfinite(value)) return dbfNumberBad;
  // The shortest fixed text that reads back as the value: at most 309
  // integer digits, or a point and at most 324 places, and a sign.
  char text[340];
  auto result = std::to_chars(text, text + sizeof(text), value, std::chars_format::fixed);
  if (result.ec != std::errc()) return dbfNumberBad;
  Decimal split;
  if (!splitDecimal(reinterpret_cast<const unsigned char*>(text), uint32_t(result.ptr - text), &split))
    return dbfNumberBad;
  return formatDecimal(split, width, decimals, fill, out);
}

int dbfFormatDate(int32_t year, int32_t month, int32_t day, unsigned char out[8]) {
  if (year < 0 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31) return 0;
  const int32_t parts[3][2] = {{year, 4}, {month, 2}, {day, 2}};
  uint32_t pos = 0;
  for (const auto& part : parts) {
    int32_t v = part[0];
    for (int32_t k = part[1] - 1; k >= 0; --k) {
      out[pos + uint32_t(k)] = uint8_t('0' + v % 10);
      v /= 10;
    }
    pos += uint32_t(part[1]);
  }
  return 1;
}

void dbfJulianToDate(int32_t julian, int32_t* year, int32_t* month, int32_t* day) {
  // The inverse of the Gregorian day count (Richards' algorithm).
  int64_t f = int64_t(julian) + 1401 + (((4 * int64_t(julian) + 274277) / 146097) * 3) / 4 - 38;
  int64_t e = 4 * f + 3;
  int64_t g = (e % 1461) / 4;
  int64_t h = 5 * g + 2;
  *day = int32_t((h % 153) / 5 + 1);
  *month = int32_t((h / 153 + 2) % 12 + 1);
  *year = int32_t(e / 1461 - 4716 + (12 + 2 - *month) / 12);
}

DbfTextResult dbfDirectNumberText(const unsigned char* field, uint32_t length, uint16_t decimals,
                                  unsigned char* out, uint32_t* outLength) {
  // Right-aligned: trailing blanks count as leading ones, so both go.
  uint32_t i = 0;
  while (i < length && isBlank(field[i])) ++i;
  uint32_t end = length;
  while (end > i && isBlank(field[end - 1])) --end;
  *outLength = 0;
  if (i == end || isStarredBlank(field + i, end - i)) return dbfTextBlank;
  uint32_t integerDigits = 0;
  bool negative = false, leading = true, point = false;
  for (uint32_t k = i; k < end; ++k) {
    unsigned char c = field[k];
    if (!(isDigit(c) || c == ' ' || c == '+' || c == '-' || (c == '.' && decimals))) return dbfTextBad;
    if (c == '-') negative = true;
    if (c == '.') point = true;
    if (isDigit(c) && !point && !(leading && c == '0')) {
      leading = false;
      ++integerDigits;
    }
  }
  if (!dbfNumberFitsField(integerDigits, negative, uint16_t(length), decimals)) return dbfTextOutOfRange;
  std::memcpy(out, field + i, end - i);
  *outLength = end - i;
  return dbfTextValue;
}
