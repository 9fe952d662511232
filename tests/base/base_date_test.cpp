// The calendar (day numbers both ways, validation), the fixed-position date
// and time parsers, and BaseConvertDateTime.
#include "base/base_date.h"
#include "base/base_date_convert.h"
#include "convert_test_support.h"
#include "util/bos.h"

#include <cstring>
#include <string>

namespace {

class DateTest : public ConvertTest {};

bool leap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Every day from 0001-01-01 to 9999-12-31, counted with a calendar of the
// test's own, both ways. The December days 26-31 are where a month guess of
// 13 once read past the month table.
TEST_F(DateTest, EveryDayRoundTripsThroughItsDayNumber) {
  static const int monthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int32_t expected = baseFirstDayNumber;
  int mismatches = 0;
  for (int year = 1; year <= 9999; ++year) {
    for (int month = 1; month <= 12; ++month) {
      const int days = monthDays[month - 1] + (month == 2 && leap(year) ? 1 : 0);
      for (int day = 1; day <= days; ++day, ++expected) {
        int16_t y;
        uint16_t m, d;
        BaseJulianToDate(expected, &y, &m, &d);
        const bool ok = BaseDateToJulian(int16_t(year), uint16_t(month), uint16_t(day)) == expected &&
                        y == year && m == month && d == day &&
                        BaseValidateDate(int16_t(year), uint16_t(month), uint16_t(day)) == kvSuccess;
        if (!ok && ++mismatches <= 5) {
          ADD_FAILURE() << year << "-" << month << "-" << day << " day " << expected << " came back as " << y << "-"
                        << m << "-" << d;
        }
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(expected - 1, baseLastDayNumber);
  EXPECT_TRUE(takeDiagnostics().empty());
}

TEST_F(DateTest, DayNumbersOutsideTheCalendarGiveNoDate) {
  for (int32_t number : {INT32_MIN, -1, 0, baseFirstDayNumber - 1, baseLastDayNumber + 1, INT32_MAX}) {
    int16_t y = 7;
    uint16_t m = 7, d = 7;
    BaseJulianToDate(number, &y, &m, &d);
    EXPECT_EQ(y, 0) << number;
    EXPECT_EQ(m, 0) << number;
    EXPECT_EQ(d, 0) << number;
  }
  EXPECT_EQ(BaseDateToJulian(2000, 0, 1), 0);
  EXPECT_EQ(BaseDateToJulian(2000, 13, 1), 0);
}

TEST_F(DateTest, ValidateDate) {
  struct Case {
    int16_t year;
    uint16_t month, day;
    bool valid;
  } cases[] = {
      {2000, 2, 29, true},  {1900, 2, 29, false}, {2004, 2, 29, true},  {2001, 2, 29, false},
      {2000, 2, 30, false}, {2000, 4, 31, false}, {2000, 6, 30, true},  {2000, 12, 31, true},
      {1, 1, 1, true},      {9999, 12, 31, true}, {0, 1, 1, false},     {10000, 1, 1, false},
      {-1, 1, 1, false},    {2000, 0, 1, false},  {2000, 13, 1, false}, {2000, 1, 0, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BaseValidateDate(c.year, c.month, c.day) == kvSuccess, c.valid)
        << c.year << "-" << c.month << "-" << c.day;
    EXPECT_EQ(takeDiagnostics(), c.valid ? diag() : diag("22008")) << c.year << "-" << c.month << "-" << c.day;
  }
}

TEST_F(DateTest, StrToDateAndTime) {
  struct Case {
    const char* text;
    bool isTime;
    bool valid;
    uint16_t a, b, c;  // year, month, day or hour, minute, second
  } cases[] = {
      {"1995-07-04", false, true, 1995, 7, 4},
      {"1995/07/04", false, true, 1995, 7, 4},   // separators are not read
      {"1995-07-04 10:00", false, true, 1995, 7, 4},
      {"  95-01-01", false, true, 95, 1, 1},     // blanks before a field read as nothing
      {"1995-7-04", false, false, 0, 0, 0},
      {"1995-02-30", false, false, 0, 0, 0},
      {"abcd-01-01", false, false, 0, 0, 0},
      {"1995-07-0", false, false, 0, 0, 0},      // too short
      {"10:30:15", true, true, 10, 30, 15},
      {"23:59:59", true, true, 23, 59, 59},
      {"24:00:00", true, false, 0, 0, 0},
      {"10:60:00", true, false, 0, 0, 0},
      {"10:30:60", true, false, 0, 0, 0},
      {"10:3x:00", true, false, 0, 0, 0},
      {"10:30", true, false, 0, 0, 0},
  };
  for (const Case& c : cases) {
    const uint32_t length = uint32_t(std::strlen(c.text));
    KvStatus status;
    uint16_t got[3] = {0, 0, 0};
    if (c.isTime) {
      TIME_STRUCT time{};
      status = BaseStrToTime(kvU(c.text), length, &time);
      got[0] = time.hour, got[1] = time.minute, got[2] = time.second;
    } else {
      DATE_STRUCT date{};
      status = BaseStrToDate(kvU(c.text), length, &date);
      got[0] = uint16_t(date.year), got[1] = date.month, got[2] = date.day;
    }
    EXPECT_EQ(status == kvSuccess, c.valid) << c.text;
    // A field that does not read leaves our 22008 alone, not the utility
    // library's own message.
    EXPECT_EQ(takeDiagnostics(), c.valid ? diag() : diag("22008")) << c.text;
    if (c.valid) {
      EXPECT_EQ(got[0], c.a) << c.text;
      EXPECT_EQ(got[1], c.b) << c.text;
      EXPECT_EQ(got[2], c.c) << c.text;
    }
  }
}

TEST_F(DateTest, StrToTimestamp) {
  struct Case {
    const char* text;
    bool valid;
    uint16_t hour, minute, second;
    uint32_t fraction;
  } cases[] = {
      {"1995-07-04", true, 0, 0, 0, 0},
      {"1995-07-04 10", true, 10, 0, 0, 0},
      {"1995-07-04 10:30", true, 10, 30, 0, 0},
      {"1995-07-04 10:30:15", true, 10, 30, 15, 0},
      {"1995-07-04 10:30:00.", true, 10, 30, 0, 0},
      {"1995-07-04 10:30:00.5", true, 10, 30, 0, 500000000},
      {"1995-07-04 10:30:00.000001", true, 10, 30, 0, 1000},
      {"1995-07-04 10:30:00.123456789", true, 10, 30, 0, 123456789},
      {"1995-07-04 10:30:00 5", true, 10, 30, 0, 500000000},
      {"1995-07-04 10:30:00x5", false, 0, 0, 0, 0},
      {"1995-07-04 10:30:00.5a", false, 0, 0, 0, 0},
      {"1995-07-04 10:30:00.1234567890", false, 0, 0, 0, 0},  // 30 characters
      {"1995-07-0", false, 0, 0, 0, 0},
      {"1995-07-04 25:00:00", false, 0, 0, 0, 0},
      {"1995-13-04 10:00:00", false, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    TIMESTAMP_STRUCT stamp{};
    const KvStatus status = BaseStrToTimestamp(kvU(c.text), int32_t(std::strlen(c.text)), &stamp);
    EXPECT_EQ(status == kvSuccess, c.valid) << c.text;
    EXPECT_EQ(takeDiagnostics(), c.valid ? diag() : diag("22008")) << c.text;
    if (!c.valid) continue;
    EXPECT_EQ(stamp.year, 1995) << c.text;
    EXPECT_EQ(stamp.month, 7) << c.text;
    EXPECT_EQ(stamp.day, 4) << c.text;
    EXPECT_EQ(stamp.hour, c.hour) << c.text;
    EXPECT_EQ(stamp.minute, c.minute) << c.text;
    EXPECT_EQ(stamp.second, c.second) << c.text;
    EXPECT_EQ(stamp.fraction, c.fraction) << c.text;
  }
  TIMESTAMP_STRUCT stamp{};
  EXPECT_NE(BaseStrToTimestamp(kvU("1995-07-04"), -1, &stamp), kvSuccess);
  EXPECT_EQ(takeDiagnostics(), diag("22008"));
}

const DATE_STRUCT july4 = {1995, 7, 4};
const TIME_STRUCT halfPastTen = {10, 30, 15};
const TIMESTAMP_STRUCT stampOfJuly4 = {1995, 7, 4, 10, 30, 15, 123456789};

// Dates, times and timestamps as text: minimum rooms, scales and cuts.
TEST_F(DateTest, ConvertDateTimeToText) {
  struct Case {
    InternalType type;
    const void* value;
    uint32_t room;
    int16_t scale;
    uint16_t flags;
    const char* text;  // null: the conversion fails with 22003
    uint32_t length;
    bool warned;
  } cases[] = {
      {itDate, &july4, 10, 0, 0, "1995-07-04", 10, false},
      {itDate, &july4, 9, 0, 0, nullptr, 0, false},
      {itTime, &halfPastTen, 8, 0, 0, "10:30:15", 8, false},
      {itTime, &halfPastTen, 7, 0, 0, nullptr, 0, false},
      {itTimestamp, &stampOfJuly4, 19, 0, 0, "1995-07-04 10:30:15", 19, false},
      {itTimestamp, &stampOfJuly4, 18, 0, 0, nullptr, 0, false},
      {itTimestamp, &stampOfJuly4, 30, 3, 0, "1995-07-04 10:30:15.123", 23, false},
      {itTimestamp, &stampOfJuly4, 30, 12, 0, "1995-07-04 10:30:15.123456789", 29, false},
      // Room between the minimum and the length: cut; the full length unless
      // warnings were asked for.
      {itTimestamp, &stampOfJuly4, 19, 3, 0, "1995-07-04 10:30:15", 23, false},
      {itTimestamp, &stampOfJuly4, 21, 3, 1, "1995-07-04 10:30:15.1", 21, true},
      {itTimestamp, &stampOfJuly4, 30, -2, 0, "1995-07-04 10:30:00", 19, false},
      {itTimestamp, &stampOfJuly4, 30, -4, 0, "1995-07-04 10:00:00", 19, false},
  };
  for (const Case& c : cases) {
    char out[40];
    std::memset(out, '#', sizeof(out));
    uint32_t length = 0;
    const KvStatus status = BaseConvertDateTime(c.type, c.value, 16, itChar, out, &length, c.room, c.scale, c.flags);
    const std::vector<std::string> got = takeDiagnostics();
    if (!c.text) {
      EXPECT_NE(status, kvSuccess) << c.room;
      EXPECT_EQ(got, diag("22003"));
      continue;
    }
    ASSERT_EQ(status, kvSuccess) << c.text;
    EXPECT_EQ(std::string(out, std::strlen(c.text)), c.text);
    EXPECT_EQ(out[std::strlen(c.text)], '#') << "nothing beyond the room, no terminator: " << c.text;
    EXPECT_EQ(length, c.length) << c.text;
    EXPECT_EQ(got, c.warned ? diag("w01004") : diag()) << c.text;
  }
}

TEST_F(DateTest, ConvertDateTimeBetweenForms) {
  struct Case {
    InternalType from;
    const char* text;  // a text source, else value
    const void* value;
    InternalType to;
    bool ok;
    const char* expected;  // the result written as text by the test
    const char* diagnostic;
  } cases[] = {
      {itChar, "1995-07-04", nullptr, itDate, true, "1995-07-04", nullptr},
      {itChar, "  1995-07-04  ", nullptr, itDate, true, "1995-07-04", nullptr},
      {itChar, "1995-07-04 10:30:15", nullptr, itDate, true, "1995-07-04", "w01004"},
      {itChar, "10:30:15", nullptr, itTime, true, "10:30:15", nullptr},
      {itChar, "1995-07-04 10:30:15", nullptr, itTime, true, "10:30:15", "w01004"},
      {itChar, "1995-07-04", nullptr, itTimestamp, true, "1995-07-04 00:00:00.000000000", nullptr},
      {itChar, "1995-07-04 10:30:15.5", nullptr, itTimestamp, true, "1995-07-04 10:30:15.500000000", nullptr},
      {itChar, "1995-02-30", nullptr, itDate, false, nullptr, "22008"},
      {itChar, "10:30:15", nullptr, itDate, false, nullptr, "22008"},
      {itTimestamp, nullptr, &stampOfJuly4, itDate, true, "1995-07-04", "w01004"},
      {itTimestamp, nullptr, &stampOfJuly4, itTime, true, "10:30:15", "w01004"},
      {itDate, nullptr, &july4, itTimestamp, true, "1995-07-04 00:00:00.000000000", nullptr},
      {itDate, nullptr, &july4, itTime, false, nullptr, "07006"},
      {itTime, nullptr, &halfPastTen, itDate, false, nullptr, "07006"},
  };
  for (const Case& c : cases) {
    const void* source = c.text ? static_cast<const void*>(c.text) : c.value;
    const int32_t length = c.text ? int32_t(std::strlen(c.text)) : 16;
    unsigned char out[16];
    uint32_t outLength = 0;
    const KvStatus status = BaseConvertDateTime(c.from, source, length, c.to, out, &outLength, 0, 0, 1);
    EXPECT_EQ(status == kvSuccess, c.ok) << (c.text ? c.text : "value");
    EXPECT_EQ(takeDiagnostics(), c.diagnostic ? diag(c.diagnostic) : diag()) << (c.text ? c.text : "value");
    if (!c.ok) continue;
    char text[40];
    uint32_t textLength = 0;
    ASSERT_EQ(BaseConvertDateTime(c.to, out, int32_t(outLength), itChar, text, &textLength, sizeof(text), 9, 0),
              kvSuccess);
    EXPECT_EQ(std::string(text, textLength), c.expected);
  }
}

TEST_F(DateTest, TimeTextBecomesATimestampOfToday) {
  os_time before, after;
  bosLocalDate(&before);
  TIMESTAMP_STRUCT stamp{};
  uint32_t length = 0;
  ASSERT_EQ(BaseConvertDateTime(itChar, "10:30:15", 8, itTimestamp, &stamp, &length, 0, 0, 1), kvSuccess);
  bosLocalDate(&after);
  EXPECT_EQ(length, 16u);
  const bool today = (stamp.year == before.year && stamp.month == before.month && stamp.day == before.day) ||
                     (stamp.year == after.year && stamp.month == after.month && stamp.day == after.day);
  EXPECT_TRUE(today);
  EXPECT_EQ(stamp.hour, 10);
  EXPECT_EQ(stamp.minute, 30);
  EXPECT_EQ(stamp.second, 15);
  EXPECT_EQ(stamp.fraction, 0u);
}

// Structures that hold no real date are refused, whatever they are asked
// to become.
TEST_F(DateTest, ImpossibleDateAndTimeValuesAreRefused) {
  const DATE_STRUCT february30 = {2000, 2, 30};
  const TIME_STRUCT hour24 = {24, 0, 0};
  const TIMESTAMP_STRUCT secondTooMany = {2000, 1, 1, 0, 0, 0, 1000000000};
  char out[40];
  uint32_t length;
  EXPECT_NE(BaseConvertDateTime(itDate, &february30, 6, itChar, out, &length, 40, 0, 0), kvSuccess);
  EXPECT_NE(BaseConvertDateTime(itTime, &hour24, 6, itTimestamp, out, &length, 0, 0, 0), kvSuccess);
  EXPECT_NE(BaseConvertDateTime(itTimestamp, &secondTooMany, 16, itDate, out, &length, 0, 0, 0), kvSuccess);
  EXPECT_EQ(takeDiagnostics(), (std::vector<std::string>{"22008", "22008", "22008"}));
}

}  // namespace
