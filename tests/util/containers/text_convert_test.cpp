// Decimal and hexadecimal conversions and yes/no settings: accepted forms,
// range limits of every target width, the messages of bad text, fixed-width
// fields and in-place hexadecimal conversion.
#include "util/containers/text_convert.h"

#include "tests/util/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// Every test runs with a keep-all error list current.
using TextConvertTest = ErrorCapturingTest;

TEST(IsTrueStr, FirstCharactersDecide) {
  struct Case {
    const char* text;
    int expected;
  } cases[] = {
      {"1", 1},   {"T", 1},   {"t", 1},     {"TRUE", 1}, {"on", 1}, {"ON", 1},   {"oN", 1},
      {"On", 1},  {"", 0},    {"0", 0},     {"Yes", 0},  {"OFF", 0}, {"o", 0},   {"false", 0},
      {" 1", 0},  {"N", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(isTrueStr(kvU(c.text)), c.expected) << c.text;
  EXPECT_EQ(isTrueStr(nullptr), 0);
}

TEST_F(TextConvertTest, UnsignedTextAcceptedForms) {
  struct Case {
    const char* text;
    uint32_t expected;
  } cases[] = {
      {" +42 ", 42}, {"0", 0},          {"", 0},           {"   ", 0},      {"++7", 7},
      {"\t9\r\n", 9}, {"4294967295", 4294967295u}, {"00000000000000012", 12}, {"+ 5", 5},
  };
  for (const Case& c : cases) {
    uint32_t value = 99;
    EXPECT_EQ(convert(kvU(c.text), &value), kvSuccess) << c.text;
    EXPECT_EQ(value, c.expected) << c.text;
  }
  EXPECT_EQ(firstErrorNumber(), 0);
}

TEST_F(TextConvertTest, BadTextNamesTheNumberAndLeavesTheTarget) {
  struct Case {
    const char* text;
    uint16_t message;
    const char* shown;
  } cases[] = {
      {"4294967296", 2701, "Number too large: 4294967296"},
      {"99999999999999999999999", 2701, "Number too large: 99999999999999999999999"},
      {"12a", 2702, "Number contains an invalid character: 12a"},
      {" + 12a", 2702, "Number contains an invalid character: 12a"},
      {"-1", 2702, "Number contains an invalid character: -1"},
      {"1 2", 2702, "Number contains an invalid character: 1 2"},
      {"0x10", 2702, "Number contains an invalid character: 0x10"},
  };
  for (const Case& c : cases) {
    uint32_t value = 99;
    EXPECT_EQ(convert(kvU(c.text), &value), kvFailure) << c.text;
    EXPECT_EQ(value, 99u) << c.text;
    EXPECT_EQ(firstErrorNumber(), c.message) << c.text;
    EXPECT_EQ(firstErrorText(), c.shown) << c.text;
    clearErrors();
  }
}

TEST_F(TextConvertTest, SignedThirtyTwoBitRange) {
  int32_t value = 0;
  EXPECT_EQ(convert(kvU("-2147483648"), &value), kvSuccess);
  EXPECT_EQ(value, INT32_MIN);
  EXPECT_EQ(convert(kvU(" 2147483647 "), &value), kvSuccess);
  EXPECT_EQ(value, INT32_MAX);
  EXPECT_EQ(convert(kvU("  -5"), &value), kvSuccess);
  EXPECT_EQ(value, -5);

  EXPECT_EQ(convert(kvU("2147483648"), &value), kvFailure);
  EXPECT_EQ(firstErrorNumber(), 2701);
  clearErrors();
  EXPECT_EQ(convert(kvU(" -2147483649"), &value), kvFailure);
  EXPECT_EQ(firstErrorText(), "Number too large: -2147483649");
  clearErrors();
  EXPECT_EQ(convert(kvU("--5"), &value), kvFailure);
  EXPECT_EQ(firstErrorNumber(), 2702);
  EXPECT_EQ(value, -5);
}

TEST_F(TextConvertTest, NarrowTargetsCheckTheirRange) {
  int16_t s16 = 0;
  uint16_t u16 = 0;
  unsigned char u8 = 0;
  char s8 = 0;
  EXPECT_EQ(convert(kvU("-32768"), &s16), kvSuccess);
  EXPECT_EQ(s16, -32768);
  EXPECT_EQ(convert(kvU("32767"), &s16), kvSuccess);
  EXPECT_EQ(convert(kvU("65535"), &u16), kvSuccess);
  EXPECT_EQ(u16, 65535);
  EXPECT_EQ(convert(kvU("255"), &u8), kvSuccess);
  EXPECT_EQ(u8, 255);
  EXPECT_EQ(convert(kvU("-128"), &s8), kvSuccess);
  EXPECT_EQ(s8, -128);
  EXPECT_EQ(firstErrorNumber(), 0);

  struct Case {
    KvStatus status;
    const char* what;
  } failures[] = {
      {convert(kvU("32768"), &s16), "short 32768"},   {convert(kvU("-32769"), &s16), "short -32769"},
      {convert(kvU("65536"), &u16), "ushort 65536"},  {convert(kvU("256"), &u8), "uchar 256"},
      {convert(kvU("128"), &s8), "char 128"},         {convert(kvU("-129"), &s8), "char -129"},
  };
  for (const Case& c : failures) EXPECT_EQ(c.status, kvFailure) << c.what;
  EXPECT_EQ(list_->getCount(), 6u);
  for (uint32_t i = 0; i < list_->getCount(); i++) EXPECT_EQ(list_->getErrorAtPos(i)->getNumber(), 2701);
  EXPECT_EQ(s16, 32767);
  EXPECT_EQ(u16, 65535);
  EXPECT_EQ(u8, 255);
  EXPECT_EQ(s8, -128);
}

TEST_F(TextConvertTest, CountedTextReadsOnlyItsLength) {
  const unsigned char text[] = {'1', '2', '3', '4', '5', '6'};  // no terminator
  uint32_t u32 = 0;
  EXPECT_EQ(convert(text, 3, &u32), kvSuccess);
  EXPECT_EQ(u32, 123u);
  uint16_t u16 = 0;
  EXPECT_EQ(convert(kvU("12\0" "34"), 5, &u16), kvSuccess);  // a zero byte ends it
  EXPECT_EQ(u16, 12);
  EXPECT_EQ(convert(text, 6, &u16), kvFailure);
  EXPECT_EQ(firstErrorText(), "Number too large: 123456");
}

TEST(ConvertToText, DecimalDigits) {
  unsigned char out[16];
  EXPECT_EQ(convert(out, 0u), 1);
  EXPECT_STREQ(kvC(out), "0");
  EXPECT_EQ(convert(out, 4294967295u), 10);
  EXPECT_STREQ(kvC(out), "4294967295");
  EXPECT_EQ(convert(out, static_cast<int32_t>(-42)), 3);
  EXPECT_STREQ(kvC(out), "-42");
  EXPECT_EQ(convert(out, INT32_MIN), 11);
  EXPECT_STREQ(kvC(out), "-2147483648");
}

TEST(ConvertToText, FixedWidthField) {
  struct Case {
    uint16_t width;
    uint32_t value;
    uint16_t leftAlign;
    const char* expected;
    uint16_t digits;
  } cases[] = {
      {6, 42, 0, "    42", 2},          {6, 42, 1, "42    ", 2},
      {5, 0, 0, "    0", 1},            {12, 7, 0, "           7", 1},
      {12, 4294967295u, 0, "  4294967295", 10}, {3, 999, 0, "999", 3},
      {3, 12345, 0, "***", 0},          {3, 12345, 1, "***", 0},
      {0, 5, 0, "", 0},
  };
  for (const Case& c : cases) {
    unsigned char out[32];
    std::memset(out, 'x', sizeof(out));
    EXPECT_EQ(convert(out, c.width, c.value, c.leftAlign), c.digits) << c.expected;
    EXPECT_STREQ(kvC(out), c.expected);
    EXPECT_EQ(out[c.width + 1], 'x') << "wrote past the field";
  }
}

TEST(Hexify, ValueWithMinimumDigits) {
  struct Case {
    uint32_t value;
    uint16_t minDigits;
    const char* expected;
  } cases[] = {
      {255, 4, "00FF"}, {0, 0, "0"}, {0xDEADBEEF, 0, "DEADBEEF"}, {1, 10, "0000000001"},
      {0x10, 1, "10"},  {0xABC, 2, "ABC"},
  };
  for (const Case& c : cases) {
    unsigned char out[16];
    EXPECT_EQ(hexify(out, c.value, c.minDigits), std::strlen(c.expected));
    EXPECT_STREQ(kvC(out), c.expected);
  }
  unsigned char out[4];
  EXPECT_EQ(hexify(out, 0, 0), 1);  // the plain literal picks the value form
  EXPECT_STREQ(kvC(out), "0");
}

TEST(Hexify, BytesWithoutTerminatorAndInPlace) {
  const unsigned char bytes[] = {0x00, 0xAB, 0x10, 0xFF};
  unsigned char out[10];
  std::memset(out, 'x', sizeof(out));
  EXPECT_EQ(hexify(out, bytes, 4), 8u);
  EXPECT_EQ(std::string(kvC(out), 9), "00AB10FFx");

  unsigned char buffer[8] = {0x12, 0x34, 0xCD, 0xEF};
  EXPECT_EQ(hexifyHuge(buffer, buffer, 4), 8u);
  EXPECT_EQ(std::string(kvC(buffer), 8), "1234CDEF");
}

TEST_F(TextConvertTest, DehexifyReadsEitherCase) {
  unsigned char out[4] = {0, 0, 0, 0};
  EXPECT_EQ(dehexify(out, kvU("0a1B"), 4), kvSuccess);
  EXPECT_EQ(out[0], 0x0A);
  EXPECT_EQ(out[1], 0x1B);
  EXPECT_EQ(dehexify(out, kvU("ABC"), 3), kvSuccess);  // odd: the high half of a last byte
  EXPECT_EQ(out[0], 0xAB);
  EXPECT_EQ(out[1], 0xC0);

  unsigned char text[] = "fF00e1";
  EXPECT_EQ(dehexifyHuge(text, text, 6), kvSuccess);  // in place
  EXPECT_EQ(text[0], 0xFF);
  EXPECT_EQ(text[1], 0x00);
  EXPECT_EQ(text[2], 0xE1);
  EXPECT_EQ(firstErrorNumber(), 0);
}

TEST_F(TextConvertTest, DehexifyRefusesABadCharacterBeforeWriting) {
  unsigned char out[4] = {7, 7, 7, 7};
  EXPECT_EQ(dehexify(out, kvU("000G"), 4), kvFailure);
  EXPECT_EQ(firstErrorNumber(), 2708);
  EXPECT_EQ(firstErrorText(), "Invalid hexidecimal character found during conversion.");
  EXPECT_EQ(out[0], 7);
  EXPECT_EQ(out[1], 7);
}

TEST(IsHexString, EveryCharacterMustBeADigit) {
  EXPECT_TRUE(isHexString(kvU("0123456789abcdefABCDEF"), 22));
  EXPECT_TRUE(isHexString(kvU("G"), 0));
  EXPECT_FALSE(isHexString(kvU("12 4"), 4));
  EXPECT_FALSE(isHexString(kvU("0x"), 2));
  EXPECT_TRUE(isHexString(kvU("12xx"), 2));  // only n characters count
}

}  // namespace
