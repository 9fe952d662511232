// Field text of numbers, dates and logicals, read and written.
#include "drivers/dbase/values/dbf_field_text.h"
#include "flat/connection/flat_values.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

const unsigned char* u(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

TEST(DbfFieldTextTest, Numbers) {
  const struct {
    std::string text;
    DbfTextResult result;
    double value;
  } cases[] = {
      {"    12", dbfTextValue, 12},       {"12    ", dbfTextValue, 12},     {"  -3.50", dbfTextValue, -3.5},
      {"   +.5", dbfTextValue, 0.5},      {" 1e3", dbfTextValue, 1000},     {"      ", dbfTextBlank, 0},
      {"", dbfTextBlank, 0},              {"******", dbfTextBlank, 0},      {std::string("\0\0\0", 3), dbfTextBlank, 0},
      {"  1 2", dbfTextBad, 0},           {"abc", dbfTextBad, 0},           {"1,5", dbfTextBad, 0},
      {"--1", dbfTextBad, 0},             {"  +", dbfTextBad, 0},           {"1e999", dbfTextBad, 0},
  };
  for (const auto& c : cases) {
    double value = -99;
    EXPECT_EQ(dbfReadNumber(u(c.text), uint32_t(c.text.size()), &value), c.result) << c.text;
    if (c.result == dbfTextValue) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
  // The field's bytes only: a digit right behind it is not read.
  std::string record = "12345";
  double value = 0;
  ASSERT_EQ(dbfReadNumber(u(record), 2, &value), dbfTextValue);
  EXPECT_EQ(value, 12);
}

// Every number text reads as the nearest double, as from_chars reads it:
// the usual field texts (a sign, up to 15 digits and a point) and those past
// them (16 or more digits, exponents) alike, so no value changes with the
// way it is read.
TEST(DbfFieldTextTest, NumbersReadAsTheNearestDouble) {
  const char* fixed[] = {"0.1", "-0.3", "9007199254740993", "999999999999999", "0.000000000000001",
                         "123456789.012345", "-0", "5.", "-.5", "00000000000000000001", "1234567890123456.7",
                         "0.30000000000000004", "4503599627370497.5", "7.0e-1"};
  std::mt19937_64 random(20261211);
  std::vector<std::string> texts(std::begin(fixed), std::end(fixed));
  for (int i = 0; i < 20000; ++i) {
    const int digits = 1 + int(random() % 18);
    std::string text = random() % 4 == 0 ? "-" : "";
    for (int d = 0; d < digits; ++d) text += char('0' + random() % 10);
    text.insert(text.size() - random() % (digits + 1), ".");
    texts.push_back(text);
  }
  for (const std::string& text : texts) {
    double expected = 0, value = 0;
    std::from_chars(text.data(), text.data() + text.size(), expected);
    ASSERT_EQ(dbfReadNumber(u(text), uint32_t(text.size()), &value), dbfTextValue) << text;
    EXPECT_EQ(std::memcmp(&value, &expected, sizeof value), 0) << text << " " << value << " " << expected;
  }
}

TEST(DbfFieldTextTest, NumbersWithinTheFieldsDeclaration) {
  const struct {
    std::string text;
    uint16_t decimals;
    DbfTextResult result;
  } cases[] = {
      {"      1e300", 0, dbfTextOutOfRange}, {"   1e9", 0, dbfTextOutOfRange}, {"  999999", 0, dbfTextValue},
      {"   1e5", 0, dbfTextValue},           {"  -1e5", 0, dbfTextOutOfRange}, {"123.45", 2, dbfTextValue},
      {"1234.5", 2, dbfTextOutOfRange},      {"-0.125", 3, dbfTextValue},      {"  -1.5", 2, dbfTextValue},
      {"      ", 2, dbfTextBlank},           {" 1,5  ", 0, dbfTextBad},
  };
  for (const auto& c : cases) {
    double value = 0;
    EXPECT_EQ(dbfReadFieldNumber(u(c.text), uint16_t(c.text.size()), c.decimals, &value), c.result)
        << c.text << " " << c.decimals;
  }
  // A field of 255 places, 200 of them decimals, still refuses 1e300.
  std::string wide = std::string(250, ' ') + "1e300";
  double value = 0;
  EXPECT_EQ(dbfReadFieldNumber(u(wide), 255, 200, &value), dbfTextOutOfRange);
}

TEST(DbfFieldTextTest, Dates) {
  const struct {
    std::string text;
    DbfTextResult result;
    int32_t year, month, day;
  } cases[] = {
      {"19991231", dbfTextValue, 1999, 12, 31}, {"20240229", dbfTextValue, 2024, 2, 29},
      {"        ", dbfTextBlank, 0, 0, 0},      {" 9991231", dbfTextBlank, 0, 0, 0},
      {"00000000", dbfTextBlank, 0, 0, 0},      {std::string(8, '\0'), dbfTextBlank, 0, 0, 0},
      {"1999123", dbfTextBad, 0, 0, 0},
      // dBASE checks neither the calendar nor the digits; nor does the
      // reader: each character counts as the digit it would be.
      {"19991332", dbfTextValue, 1999, 13, 32}, {"1999-1-1", dbfTextValue, 1999, -29, -29},
  };
  for (const auto& c : cases) {
    int32_t y = 0, m = 0, d = 0;
    EXPECT_EQ(dbfReadDate(u(c.text), uint32_t(c.text.size()), &y, &m, &d), c.result) << c.text;
    if (c.result == dbfTextValue) {
      EXPECT_EQ(y, c.year) << c.text;
      EXPECT_EQ(m, c.month) << c.text;
      EXPECT_EQ(d, c.day) << c.text;
    }
  }
}

TEST(DbfFieldTextTest, LogicalsByTheLetterTable) {
  const unsigned char letters[] = "FTNY";
  const struct {
    unsigned char letter;
    DbfTextResult result;
    int value;
  } cases[] = {
      {'T', dbfTextValue, 1}, {'Y', dbfTextValue, 1}, {'F', dbfTextValue, 0}, {'N', dbfTextValue, 0},
      // Lower case is not in the table: false, as the driver always read it.
      {'y', dbfTextValue, 0}, {'t', dbfTextValue, 0}, {'X', dbfTextValue, 0}, {'?', dbfTextBlank, 0},
      {' ', dbfTextBlank, 0},
      {0, dbfTextBlank, 0},
  };
  for (const auto& c : cases) {
    int value = -1;
    EXPECT_EQ(dbfReadLogical(c.letter, letters, &value), c.result) << c.letter;
    if (c.result == dbfTextValue) {
      EXPECT_EQ(value, c.value) << c.letter;
    }
  }
}

TEST(DbfFieldTextTest, NumberTextForAField) {
  const struct {
    std::string value;
    uint16_t width, decimals;
    DbfNumberFit fit;
    std::string text;
  } cases[] = {
      {"-3.5", 8, 2, dbfNumberFits, "   -3.50"},
      {"123456", 5, 0, dbfNumberTooLarge, ""},
      {"12345", 5, 0, dbfNumberFits, "12345"},
      {"-12345", 5, 0, dbfNumberTooLarge, ""},
      {"-1234", 5, 0, dbfNumberFits, "-1234"},
      {"0.5", 5, 2, dbfNumberFits, " 0.50"},
      {"-0.5", 5, 2, dbfNumberFits, "-0.50"},
      {"0.5", 3, 2, dbfNumberFits, ".50"},
      {"0", 3, 0, dbfNumberFits, "  0"},
      {"-0.001", 6, 2, dbfNumberFits, "  0.00"},
      {"1.005", 6, 2, dbfNumberFits, "  1.01"},
      {"9.999", 5, 2, dbfNumberFits, "10.00"},
      {"99.999", 5, 2, dbfNumberTooLarge, ""},
      {"  42  ", 4, 0, dbfNumberFits, "  42"},
      {"007", 3, 0, dbfNumberFits, "  7"},
      {"3e2", 5, 1, dbfNumberFits, "300.0"},
      {"12345678901234567.25", 20, 2, dbfNumberFits, "12345678901234567.25"},
      {"abc", 5, 0, dbfNumberBad, ""},
      {"", 5, 0, dbfNumberBad, ""},
  };
  for (const auto& c : cases) {
    unsigned char out[64];
    std::memset(out, '#', sizeof(out));
    EXPECT_EQ(dbfFormatNumberText(u(c.value), uint32_t(c.value.size()), c.width, c.decimals, ' ', out), c.fit)
        << c.value;
    if (c.fit == dbfNumberFits) {
      EXPECT_EQ(std::string(reinterpret_cast<char*>(out), c.width), c.text) << c.value;
    }
  }
  unsigned char out[16];
  ASSERT_EQ(dbfFormatDouble(-3.5, 8, 2, ' ', out), dbfNumberFits);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 8), "   -3.50");
  EXPECT_EQ(dbfFormatDouble(123456, 5, 0, ' ', out), dbfNumberTooLarge);
  EXPECT_EQ(dbfFormatDouble(1.0 / 0.0, 5, 0, ' ', out), dbfNumberBad);
}

TEST(DbfFieldTextTest, DoublesRoundAsTheirDecimalTextHalfAwayFromZero) {
  // The decimal text of each double rounds as the same text would: 2.5,
  // 0.125 and 1.005 are halves as written, although the binary value of
  // 1.005 lies below it and 2.5 rounds to 2 half to even.
  const struct {
    double value;
    uint16_t width, decimals;
    std::string text;
  } cases[] = {
      {2.5, 3, 0, "  3"},       {-2.5, 3, 0, " -3"},    {0.125, 6, 2, "  0.13"}, {-0.125, 6, 2, " -0.13"},
      {1.005, 6, 2, "  1.01"},  {0.124, 6, 2, "  0.12"}, {3.5, 3, 0, "  4"},     {1e-300, 6, 2, "  0.00"},
      {0.1 + 0.2, 6, 2, "  0.30"}, {99.995, 6, 2, "100.00"},
  };
  for (const auto& c : cases) {
    unsigned char out[16];
    ASSERT_EQ(dbfFormatDouble(c.value, c.width, c.decimals, ' ', out), dbfNumberFits) << c.value;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), c.width), c.text) << c.value;
  }
  unsigned char out[8];
  EXPECT_EQ(dbfFormatDouble(99.995, 5, 2, ' ', out), dbfNumberTooLarge) << "the carry needs a place";
}

TEST(DbfFieldTextTest, DatesWrittenAndDayNumbersBack) {
  unsigned char out[8];
  ASSERT_TRUE(dbfFormatDate(1999, 12, 31, out));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 8), "19991231");
  ASSERT_TRUE(dbfFormatDate(33, 1, 2, out));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 8), "00330102");
  EXPECT_FALSE(dbfFormatDate(10000, 1, 1, out));
  EXPECT_FALSE(dbfFormatDate(2000, 13, 1, out));
  for (int32_t y : {1, 1582, 1600, 1900, 1999, 2000, 2024, 9999})
    for (int32_t m : {1, 2, 3, 12})
      for (int32_t d : {1, 28, 29}) {
        int32_t year = 0, month = 0, day = 0;
        dbfJulianToDate(flatJulianDay(y, m, d), &year, &month, &day);
        if (m == 2 && d == 29 && !((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) continue;
        EXPECT_EQ(year * 10000 + month * 100 + day, y * 10000 + m * 100 + d);
      }
}

TEST(DbfFieldTextTest, NumberTextOfADirectFetch) {
  const struct {
    std::string field;
    uint16_t decimals;
    DbfTextResult result;
    std::string text;
  } cases[] = {
      {"   -3.50", 2, dbfTextValue, "-3.50"}, {"42      ", 0, dbfTextValue, "42"},
      {"        ", 0, dbfTextBlank, ""},      {"********", 0, dbfTextBlank, ""},
      {"    3.50", 0, dbfTextBad, ""},        {"   1e5  ", 0, dbfTextBad, ""},
      {std::string("42\0\0\0\0\0\0", 8), 0, dbfTextValue, "42"},
      // More digits before the point than N(8,2) or N(3,0) holds.
      {"123456.5", 2, dbfTextOutOfRange, ""}, {"12345.50", 2, dbfTextValue, "12345.50"},
      {"000012.5", 2, dbfTextValue, "000012.5"}, {"-1234567", 0, dbfTextValue, "-1234567"},
  };
  for (const auto& c : cases) {
    unsigned char out[16];
    uint32_t length = 0;
    EXPECT_EQ(dbfDirectNumberText(u(c.field), uint32_t(c.field.size()), c.decimals, out, &length), c.result)
        << c.field;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), length), c.text) << c.field;
  }
}

}  // namespace
