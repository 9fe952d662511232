// The engine's dates and sortable number keys: text dates in three orders,
// their checks and the blank date, dates written back, numbers read from
// text, and the stored key format, bit for bit.
#include "tests/util/test_support.h"

#include "base/handles/base_messages.h"
#include "flat/connection/flat_values.h"
#include "flat/expr/flat_date_keys.h"
#include "flat/flat_message_ids.h"

#include <cmath>
#include <cstring>

namespace {

class FlatDateKeysTest : public ErrorCapturingTest {};

TEST_F(FlatDateKeysTest, ReadsDatesInThreeOrders) {
  struct Case {
    const char* text;
    unsigned short order;
    char separator;
    int year, month, day;
    double fraction;  // -1: the blank date
  } cases[] = {
      {"07/04/95", 0, '/', 1995, 7, 4, 0},
      {"07/04/0095", 0, '/', 95, 7, 4, 0},
      {"04/07/1995", 1, '/', 1995, 7, 4, 0},
      {"1995-07-04", 2, '-', 1995, 7, 4, 0},
      {"1995-07-04 12:00:00", 2, '-', 1995, 7, 4, 0.5},
      {"07/04/1995 06:00:00", 0, '/', 1995, 7, 4, 0.25},
      {" 7/ 4/95", 0, '/', 1995, 7, 4, 0},
      {"7 4 1995", 0, '/', 1995, 7, 4, 0},
      {"02/29/2000", 0, '/', 2000, 2, 29, 0},
      {"02/29/1996", 0, '/', 1996, 2, 29, 0},
      {"12/31/9999", 0, '/', 9999, 12, 31, 0},
      {"00/00/00", 0, '/', 0, 0, 0, -1},
      {"  /  /  ", 0, '/', 0, 0, 0, -1},
      {"", 0, '/', 0, 0, 0, -1},
  };
  for (const Case& c : cases) {
    double value = 0;
    ASSERT_EQ(StringToJulianDays(kvU(c.text), c.order, uint8_t(c.separator), &value), kvSuccess) << c.text;
    if (c.fraction < 0) {
      EXPECT_EQ(value, flatBlankDate) << c.text;
      continue;
    }
    EXPECT_DOUBLE_EQ(value, flatJulianDay(c.year, c.month, c.day) + c.fraction) << c.text;
  }
  EXPECT_TRUE(errors().empty());
}

TEST_F(FlatDateKeysTest, RefusesWhatIsNoDate) {
  struct Case {
    const char* text;
    uint16_t message;
  } cases[] = {
      {"02/29/1900", msgBadDay},
      {"02/30/2000", msgBadDay},
      {"04/31/1995", msgBadDay},
      {"13/01/1995", msgBadMonth},
      {"00/10/1995", msgBadMonth},
      {"07/04/95 24:00:00", msgBadHour},
      {"07/04/95 10:60:00", msgBadMinute},
      {"07/04/95 10:00:60", msgBadSecond},
      {"07-04-95", msgBadDate},
      {"07/04/95 10:00:00 PM", msgBadDate},
      {"07/04/95x", msgBadDate},
      // Digits saturate: a long run can never wrap around into a valid day.
      {"07/4294967300/95", msgBadDay},
      {"4294967297/04/95", msgBadMonth},
  };
  for (const Case& c : cases) {
    clearErrors();
    double value = 123;
    EXPECT_EQ(StringToJulianDays(kvU(c.text), 0, '/', &value), kvFailure) << c.text;
    EXPECT_EQ(value, 123) << c.text << ": the output is untouched";
    EXPECT_EQ(lastErrorNumber(), c.message) << c.text;
  }
  clearErrors();
  double value = 0;
  EXPECT_EQ(StringToJulianDays(kvU("02/29/1900"), 0, '/', &value), kvFailure);
  EXPECT_EQ(lastErrorText(), "Incorrect day: 02/29/1900 ");
  EXPECT_EQ(list_->getLastError()->getStateIndex(), stateSyntax);
}

TEST_F(FlatDateKeysTest, WritesDatesBack) {
  const double day = flatJulianDay(1995, 7, 4);
  struct Case {
    double date;
    unsigned short format;
    char separator;
    const char* expected;
  } cases[] = {
      {day, 0, '/', "07/04/95"},          {day, 1, '.', "04.07.95"},
      {day, 2, '-', "95-07-04"},          {day + 0.75, 12, '-', "1995-07-04"},
      {day, 10, '/', "07/04/1995"},       {flatBlankDate, 0, '/', "  /  /  "},
      {flatBlankDate, 12, '-', "    -  -  "}, {-5, 0, '/', "00/00/00"},
  };
  for (const Case& c : cases) {
    unsigned char out[flatDateTextBytes];
    JulianToString(c.date, c.format, uint8_t(c.separator), out);
    EXPECT_STREQ(kvC(out), c.expected);
  }
  unsigned short y, m, d;
  JulianToYrMoDy(day + 0.9, &y, &m, &d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 19950704);
  JulianToYrMoDy(flatBlankDate, &y, &m, &d);
  EXPECT_EQ(y + m + d, 0);
  JulianToYrMoDy(NAN, &y, &m, &d);
  EXPECT_EQ(y + m + d, 0);
  // Every day of four centuries reads back as itself.
  for (int32_t n = flatJulianDay(1899, 12, 25); n < flatJulianDay(2301, 1, 5); ++n) {
    JulianToYrMoDy(n, &y, &m, &d);
    ASSERT_EQ(flatJulianDay(y, m, d), n);
  }
}

TEST_F(FlatDateKeysTest, ReadsNumbersFromText) {
  struct Case {
    const char* text;
    double expected;
  } cases[] = {
      {"  -12.500xy", -12.5}, {"42", 42},        {"+ 7", 7},         {"3.14159", 3.14159},
      {".5", 0.5},            {"1.2.3", 1.2},    {"abc", 0},         {"", 0},
      {"- 0.25", -0.25},      {"123456789.123456789", 123456789.123456789},
  };
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(StringToDouble(kvU(c.text)), c.expected) << c.text;
}

// The stored form: keys compare bytewise as their numbers, -0 below +0,
// and the bytes are exactly those the index files hold.
TEST_F(FlatDateKeysTest, SortableKeys) {
  const double values[] = {-1e300, -2.5, -1, -0.0, 0.0, 1, 2.5, 1e300};
  unsigned char keys[8][8];
  for (int i = 0; i < 8; ++i) {
    std::memcpy(keys[i], &values[i], 8);
    MakeMemComparable(keys[i]);
  }
  for (int i = 1; i < 8; ++i) EXPECT_LT(std::memcmp(keys[i - 1], keys[i], 8), 0) << values[i];
  const unsigned char one[8] = {0xBF, 0xF0, 0, 0, 0, 0, 0, 0};
  const unsigned char minusOne[8] = {0x40, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(std::memcmp(keys[5], one, 8), 0);
  EXPECT_EQ(std::memcmp(keys[2], minusOne, 8), 0);
  for (int i = 0; i < 8; ++i) {
    UndoMemComparable(keys[i]);
    double back;
    std::memcpy(&back, keys[i], 8);
    EXPECT_EQ(std::memcmp(&back, &values[i], 8), 0);
  }
}

}  // namespace
