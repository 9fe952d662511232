// BaseConvertDateTime: dates, times and timestamps to and from text and
// each other; minimum rooms, scales, cuts and refusals.
#include "base/convert/base_date_convert.h"
#include "tests/base/convert_test_support.h"
#include "util/os/bos.h"

#include <cstring>
#include <string>

namespace {

class DateConvertTest : public ConvertTest {};

const DATE_STRUCT july4 = {1995, 7, 4};
const TIME_STRUCT halfPastTen = {10, 30, 15};
const TIMESTAMP_STRUCT stampOfJuly4 = {1995, 7, 4, 10, 30, 15, 123456789};

// Dates, times and timestamps as text: minimum rooms, scales and cuts.
TEST_F(DateConvertTest, ConvertDateTimeToText) {
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

TEST_F(DateConvertTest, ConvertDateTimeBetweenForms) {
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

TEST_F(DateConvertTest, TimeTextBecomesATimestampOfToday) {
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
TEST_F(DateConvertTest, ImpossibleDateAndTimeValuesAreRefused) {
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
