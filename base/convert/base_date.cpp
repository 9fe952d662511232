// Calendar and date text; see base_date.h.
#include "base/convert/base_date.h"

#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "util/charsets/charset.h"
#include "util/containers/text_convert.h"

#include <cstring>

namespace {

// Days that months before month m have beyond 30 each, counting February
// as 29 days: the days before month m are 30 * (m - 1) + k[m - 1].
constexpr uint16_t monthOffsets[12] = {0, 1, 0, 1, 1, 2, 2, 3, 4, 4, 5, 5};

constexpr uint16_t monthDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool isLeapYear(int32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

KvStatus overflow() {
  addOdbcError(stateDatetimeOverflow);
  return kvFailure;
}

// A field of a fixed-position text as a number. A field that does not read
// leaves only our 22008: the utility library's own message is taken back.
KvStatus readField(const unsigned char* text, uint16_t length, uint16_t* value) {
  if (convert(text, length, value) == kvSuccess) return kvSuccess;
  KvErrorKeeper::clearLastError();
  return overflow();
}

}  // namespace

int32_t BaseDateToJulian(int16_t year, uint16_t month, uint16_t day) {
  if (month < 1 || month > 12) return 0;
  const int32_t y1 = int32_t(year) - 1;
  int32_t number = 1721425 + 365 * y1 + y1 / 4 - y1 / 100 + y1 / 400 + 30 * (month - 1) + monthOffsets[month - 1] + day;
  if (month > 2 && !isLeapYear(year)) --number;
  return number;
}

void BaseJulianToDate(int32_t dayNumber, int16_t* year, uint16_t* month, uint16_t* day) {
  if (dayNumber < baseFirstDayNumber || dayNumber > baseLastDayNumber) {
    *year = 0;
    *month = 0;
    *day = 0;
    return;
  }
  int32_t n = dayNumber - baseFirstDayNumber;
  const int32_t cycles400 = n / 146097;
  n %= 146097;
  int32_t cycles100 = n / 36524;
  if (cycles100 == 4) cycles100 = 3;  // the last day of a 400-year cycle
  n -= cycles100 * 36524;
  const int32_t cycles4 = n / 1461;
  n %= 1461;
  int32_t years = n / 365;
  if (years == 4) years = 3;  // the last day of a leap year
  n -= years * 365;
  const int32_t fullYear = 400 * cycles400 + 100 * cycles100 + 4 * cycles4 + years + 1;

  // n is the 0-based day of the year; in a common year days after 28
  // February move up by one, so that every year is read as a leap year.
  if (!isLeapYear(fullYear) && n > 58) ++n;
  // The guess n / 30 + 1 runs one month ahead where the months before have
  // more than 30 days each; it is 13 for 26 to 31 December.
  int32_t guess = n / 30 + 1;
  int32_t rest = n % 30;
  if (guess == 13 || monthOffsets[guess - 1] > rest) {
    --guess;
    rest += 30;
  }
  *year = int16_t(fullYear);
  *month = uint16_t(guess);
  *day = uint16_t(rest - monthOffsets[guess - 1] + 1);
}

KvStatus BaseValidateDate(int16_t year, uint16_t month, uint16_t day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return overflow();
  if (day > monthDays[month - 1] || (month == 2 && day == 29 && !isLeapYear(year))) return overflow();
  return kvSuccess;
}

KvStatus BaseValidateTime(uint16_t hour, uint16_t minute, uint16_t second) {
  if (hour >= 24 || minute >= 60 || second >= 60) return overflow();
  return kvSuccess;
}

KvStatus BaseValidateTimestamp(const TIMESTAMP_STRUCT& value) {
  if (BaseValidateDate(value.year, value.month, value.day) != kvSuccess) return kvFailure;
  if (BaseValidateTime(value.hour, value.minute, value.second) != kvSuccess) return kvFailure;
  if (value.fraction > 999999999u) return overflow();
  return kvSuccess;
}

KvStatus BaseStrToDate(const unsigned char* text, uint32_t length, DATE_STRUCT* date) {
  if (length < 10) return overflow();
  uint16_t year, month, day;
  if (readField(text, 4, &year) != kvSuccess || readField(text + 5, 2, &month) != kvSuccess ||
      readField(text + 8, 2, &day) != kvSuccess) {
    return kvFailure;
  }
  if (year > 9999) return overflow();
  if (BaseValidateDate(int16_t(year), month, day) != kvSuccess) return kvFailure;
  date->year = SQLSMALLINT(year);
  date->month = month;
  date->day = day;
  return kvSuccess;
}

KvStatus BaseStrToTime(const unsigned char* text, uint32_t length, TIME_STRUCT* time) {
  if (length < 8) return overflow();
  uint16_t hour, minute, second;
  if (readField(text, 2, &hour) != kvSuccess || readField(text + 3, 2, &minute) != kvSuccess ||
      readField(text + 6, 2, &second) != kvSuccess) {
    return kvFailure;
  }
  if (BaseValidateTime(hour, minute, second) != kvSuccess) return kvFailure;
  time->hour = hour;
  time->minute = minute;
  time->second = second;
  return kvSuccess;
}

KvStatus BaseStrToTimestamp(const unsigned char* text, int32_t length, TIMESTAMP_STRUCT* value) {
  if (length < 10 || length > 29) return overflow();
  DATE_STRUCT date;
  if (BaseStrToDate(text, 10, &date) != kvSuccess) return kvFailure;

  // The time from the 12th character; a short text leaves the rest of
  // "00:00:00" standing.
  unsigned char timeText[8];
  std::memcpy(timeText, "00:00:00", 8);
  const int32_t timeChars = length - 11;
  if (timeChars > 0) std::memcpy(timeText, text + 11, size_t(timeChars < 8 ? timeChars : 8));
  TIME_STRUCT time;
  if (BaseStrToTime(timeText, 8, &time) != kvSuccess) return kvFailure;

  uint32_t fraction = 0;
  if (length > 19) {
    if (!kvCharIsPunct(text[19]) && text[19] != ' ') return overflow();
    for (int32_t i = 20; i < length; ++i) {
      if (!kvCharIsDigit(text[i])) return overflow();
      fraction = fraction * 10 + uint32_t(text[i] - '0');
    }
    if (fraction != 0) {
      for (int32_t i = length; i < 29; ++i) fraction *= 10;
    }
  }
  value->year = date.year;
  value->month = date.month;
  value->day = date.day;
  value->hour = time.hour;
  value->minute = time.minute;
  value->second = time.second;
  value->fraction = fraction;
  return kvSuccess;
}
