// The calendar (day numbers both ways, validation) and the fixed-position
// date and time parsers.
#include "base/convert/base_date.h"
#include "tests/base/convert_test_support.h"

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

}  // namespace
