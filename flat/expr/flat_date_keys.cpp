// The engine's dates and sortable number keys; see flat_date_keys.h.
#include "flat/expr/flat_date_keys.h"

#include "flat/connection/flat_values.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "util/os/bos.h"
#include "util/byte_order.h"
#include "util/charsets/charset.h"

#include <cmath>
#include <cstring>

namespace {

// One second as a fraction of a day.
constexpr double secondFraction = 1.1574074074074073e-05;
// A date number stops growing here, so that a long run of digits can never
// wrap around into a valid month, day or time.
constexpr uint32_t numberCeiling = 65535;
enum : int32_t { firstDayNumber = 1721426, lastDayNumber = 5373484 };

constexpr uint8_t daysInMonth[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool isLeapYear(uint32_t year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

// Bytes of a blank at p (the space class, or the double-byte blank 0x81
// 0x40 while 0x81 is a lead byte), 0 when p holds none.
uint32_t blankBytes(const unsigned char* p) {
  if (p[0] == 0x81 && p[1] == 0x40 && kvIsDbcsLeadByte(0x81)) return 2;
  return (!kvIsDbcsLeadByte(p[0]) && kvCharIsSpace(p[0])) ? 1 : 0;
}

void skipBlanks(const unsigned char** p) {
  while (uint32_t bytes = blankBytes(*p)) *p += bytes;
}

// Reads one number at *p, which ends at an ender (ends(c)), at a blank once
// digits were seen, or at the end of the text. read is set when a number
// was there at all (not the end of the text). Any other character fails.
template <class Ender>
int readNumber(const unsigned char** p, Ender ends, uint32_t* value, int* read) {
  *value = 0;
  *read = 0;
  skipBlanks(p);
  if (**p == 0) return 1;
  *read = 1;
  while (**p != 0) {
    unsigned char c = **p;
    if (!kvIsDbcsLeadByte(c) && kvCharIsDigit(c)) {
      *value = *value * 10 + uint32_t(c - '0');
      if (*value > numberCeiling) *value = numberCeiling;
      ++*p;
    } else if (ends(c)) {
      ++*p;
      return 1;
    } else if (uint32_t bytes = blankBytes(*p)) {
      *p += bytes;
      return 1;
    } else {
      return 0;
    }
  }
  return 1;
}

void fail(uint16_t message, const unsigned char* text) { addFlatSyntaxError(message) << text; }

void putDigits(unsigned char* out, uint32_t value, int digits) {
  for (int i = digits - 1; i >= 0; --i) {
    out[i] = static_cast<unsigned char>('0' + value % 10);
    value /= 10;
  }
}

}  // namespace

double flatDateValue(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute, int32_t second) {
  double value = flatJulianDay(year, month, day);
  if (hour || minute || second) value += (hour * 3600.0 + minute * 60.0 + second) * secondFraction;
  return value;
}

KvStatus StringToJulianDays(const unsigned char* text, unsigned short order, unsigned char separator,
                            double* out) {
  const unsigned char* p = text;
  uint32_t numbers[6] = {};
  int read = 0;
  int dateNumbers = 0;
  for (int k = 0; k < 3; ++k) {
    if (!readNumber(&p, [separator](unsigned char c) { return c == separator; }, &numbers[k], &read)) {
      fail(msgBadDate, text);
      return kvFailure;
    }
    dateNumbers += read;
  }
  for (int k = 3; k < 6; ++k) {
    if (!readNumber(&p, [](unsigned char c) { return c == ':' || c == '.'; }, &numbers[k], &read)) {
      fail(msgBadDate, text);
      return kvFailure;
    }
  }
  skipBlanks(&p);
  if (*p != 0) {
    fail(msgBadDate, text);
    return kvFailure;
  }
  bool allZero = true;
  for (uint32_t n : numbers) allZero &= n == 0;
  if (allZero) {
    *out = flatBlankDate;
    return kvSuccess;
  }

  uint32_t month = numbers[0], day = numbers[1], year = numbers[2];
  switch (order % 10) {
    case flatDateDayMonthYear:
      day = numbers[0];
      month = numbers[1];
      break;
    case flatDateYearMonthDay:
      if (dateNumbers > 1) {
        year = numbers[0];
        month = numbers[1];
        day = numbers[2];
      }
      break;
    default:
      break;
  }
  if (year < 100 && std::strlen(reinterpret_cast<const char*>(text)) < 9) year += 1900;
  if (dateNumbers == 1) {
    os_time now;
    bosdate(&now);
    year = now.year;
  }
  uint32_t hour = numbers[3], minute = numbers[4], second = numbers[5];
  uint16_t message = 0;
  if (month < 1 || month > 12)
    message = msgBadMonth;
  else if (day < 1 || day > daysInMonth[month - 1] || (month == 2 && day == 29 && !isLeapYear(year)))
    message = msgBadDay;
  else if (hour >= 24)
    message = msgBadHour;
  else if (minute >= 60)
    message = msgBadMinute;
  else if (second >= 60)
    message = msgBadSecond;
  if (message) {
    fail(message, text);
    return kvFailure;
  }
  *out = flatDateValue(int32_t(year), int32_t(month), int32_t(day), int32_t(hour), int32_t(minute),
                       int32_t(second));
  return kvSuccess;
}

void JulianToYrMoDy(double date, unsigned short* year, unsigned short* month, unsigned short* day) {
  *year = *month = *day = 0;
  if (!(date >= firstDayNumber && date < lastDayNumber + 1.0)) return;  // blank, NaN or outside the calendar
  int64_t l = int64_t(date) + 68569;
  int64_t n = 4 * l / 146097;
  l -= (146097 * n + 3) / 4;
  int64_t i = 4000 * (l + 1) / 1461001;
  l = l - 1461 * i / 4 + 31;
  int64_t j = 80 * l / 2447;
  *day = static_cast<unsigned short>(l - 2447 * j / 80);
  l = j / 11;
  *month = static_cast<unsigned short>(j + 2 - 12 * l);
  *year = static_cast<unsigned short>(100 * (n - 49) + i + l);
}

void JulianToString(double date, unsigned short format, unsigned char separator, unsigned char* out) {
  const int yearDigits = format >= flatDateFourDigitYear ? 4 : 2;
  unsigned short year = 0, month = 0, day = 0;
  const bool blank = date == flatBlankDate;
  if (!blank) JulianToYrMoDy(date, &year, &month, &day);
  struct Part {
    uint32_t value;
    int digits;
  } parts[3];
  const Part y = {uint32_t(year % (yearDigits == 4 ? 10000 : 100)), yearDigits}, m = {month, 2}, d = {day, 2};
  switch (format % 10) {
    case flatDateDayMonthYear:
      parts[0] = d, parts[1] = m, parts[2] = y;
      break;
    case flatDateYearMonthDay:
      parts[0] = y, parts[1] = m, parts[2] = d;
      break;
    default:
      parts[0] = m, parts[1] = d, parts[2] = y;
      break;
  }
  unsigned char* at = out;
  for (int i = 0; i < 3; ++i) {
    if (i > 0) *at++ = separator;
    if (blank) std::memset(at, ' ', size_t(parts[i].digits));
    else putDigits(at, parts[i].value, parts[i].digits);
    at += parts[i].digits;
  }
  *at = 0;
}

double StringToDouble(const unsigned char* text) {
  const unsigned char* p = text;
  while (*p == ' ') ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
    while (*p == ' ') ++p;
  }
  // Spans of the integer and the fraction digits; trailing zeros of the
  // fraction add nothing and are dropped.
  const unsigned char* integer = p;
  while (*p >= '0' && *p <= '9') ++p;
  const unsigned char* integerEnd = p;
  const unsigned char* fraction = p;
  const unsigned char* fractionEnd = p;
  if (*p == '.') {
    fraction = ++p;
    while (*p >= '0' && *p <= '9') ++p;
    fractionEnd = p;
    while (fractionEnd > fraction && fractionEnd[-1] == '0') --fractionEnd;
  }
  // Groups of four digits, each added with the sign.
  double total = 0;
  uint32_t group = 0;
  int groupDigits = 0;
  auto addDigit = [&](unsigned char c) {
    group = group * 10 + uint32_t(c - '0');
    if (++groupDigits == 4) {
      total = total * 10000 + (negative ? -double(group) : double(group));
      group = 0;
      groupDigits = 0;
    }
  };
  for (const unsigned char* q = integer; q < integerEnd; ++q) addDigit(*q);
  for (const unsigned char* q = fraction; q < fractionEnd; ++q) addDigit(*q);
  static const double powers[4] = {1, 10, 100, 1000};
  if (groupDigits) total = total * powers[groupDigits] + (negative ? -double(group) : double(group));
  static const double scales[4] = {1, 0.1, 0.01, 0.001};
  size_t fractionDigits = size_t(fractionEnd - fraction);
  for (size_t i = 0; i < fractionDigits / 4; ++i) total *= 0.0001;
  total *= scales[fractionDigits % 4];
  return total;
}

void MakeMemComparable(unsigned char* eightBytes) {
  uint64_t bits;
  std::memcpy(&bits, eightBytes, 8);
  kvPutU64BE(eightBytes, bits);
  if (!(eightBytes[0] & 0x80)) {
    eightBytes[0] |= 0x80;
  } else {
    for (int i = 0; i < 8; ++i) eightBytes[i] = static_cast<unsigned char>(~eightBytes[i]);
  }
}

void UndoMemComparable(unsigned char* eightBytes) {
  if (eightBytes[0] & 0x80) {
    eightBytes[0] &= 0x7F;
  } else {
    for (int i = 0; i < 8; ++i) eightBytes[i] = static_cast<unsigned char>(~eightBytes[i]);
  }
  uint64_t bits = kvGetU64BE(eightBytes);
  std::memcpy(eightBytes, &bits, 8);
}
