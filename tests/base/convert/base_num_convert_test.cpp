// BaseConvertNum: text, integers, 64-bit values, packed decimal, decimal
// text, floats, doubles, dates and times into each other. Numbers are cut,
// never rounded; every failure posts exactly one SQLSTATE.
#include "base/convert/base_internal_type.h"
#include "base/convert/base_num_convert.h"
#include "tests/base/convert_test_support.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

typedef std::vector<unsigned char> Bytes;

Bytes text(const char* value) { return Bytes(value, value + std::strlen(value)); }
template <class T>
Bytes raw(T value) {
  Bytes bytes(sizeof(T));
  std::memcpy(bytes.data(), &value, sizeof(T));
  return bytes;
}
Bytes big(uint64_t value) {
  Bytes bytes(8);
  basePut64(bytes.data(), value);
  return bytes;
}
Bytes decimalText(int16_t point, const char* digits, uint32_t flags) {
  const size_t count = std::strlen(digits);
  Bytes bytes(baseDecimalHeaderBytes + count);
  basePutDecimalHeader(bytes.data(), BaseDecimalHeader{point, uint16_t(count), flags});
  std::memcpy(bytes.data() + baseDecimalHeaderBytes, digits, count);
  return bytes;
}

// The sentinel byte that shows what a conversion did not write.
const unsigned char untouched = 0xEE;

struct Result {
  KvStatus status;
  Bytes written;  // the bytes up to the first untouched one
  uint32_t length;
  bool pastRoom;  // something written beyond the room or the form's size
};

class NumTest : public ConvertTest {
 protected:
  // dstSize: the room of text, the precision of packed and decimal text.
  Result convert(InternalType from, const Bytes& source, InternalType to, uint32_t dstSize, int16_t scale = 0,
                 uint16_t flags = 0, uint32_t header = 0) {
    unsigned char out[160];
    std::memset(out, untouched, sizeof(out));
    if (to == itDecimal) basePutDecimalHeader(out, BaseDecimalHeader{0, 0, header});
    uint32_t length = 12345;
    Result result;
    result.status = BaseConvertNum(from, source.data(), int32_t(source.size()), to, out, &length, dstSize, scale,
                                   flags);
    uint32_t limit = to == itChar ? dstSize : to == itPacked ? basePackedBytes(dstSize)
                     : to == itDecimal ? baseDecimalHeaderBytes + dstSize
                                       : baseInternalSize(to);
    result.pastRoom = out[limit] != untouched;
    uint32_t n = 0;
    while (to == itChar && n < sizeof(out) && out[n] != untouched) ++n;
    result.written.assign(out, out + (to == itChar ? n : std::min<uint32_t>(length, limit)));
    result.length = length;
    return result;
  }
  std::string str(const Result& r) { return std::string(r.written.begin(), r.written.end()); }
};

// Text to every integer form: blanks, signs, exponents, the edges of each
// range, and text that is no number.
TEST_F(NumTest, TextToIntegers) {
  struct Case {
    const char* text;
    InternalType to;
    uint16_t flags;
    int64_t value;
    const char* diagnostic;  // a failure, or the warning of a cut
  } cases[] = {
      {" -12.50 ", itSLong, 1, -12, "w01004"},
      {" -12.50 ", itSLong, 0, -12, nullptr},
      {"1E3", itSLong, 1, 1000, nullptr},
      {"1e+2", itSLong, 1, 100, nullptr},
      {"1e-2", itSLong, 1, 0, "w01004"},
      {"+5", itSLong, 1, 5, nullptr},
      {"-  5", itSLong, 1, -5, nullptr},
      {"00000000000000000000000042", itSLong, 1, 42, nullptr},
      {"4294967295", itULong, 1, 4294967295, nullptr},
      {"4294967296", itULong, 1, 0, "22003"},
      {"-1", itULong, 1, 0, "22003"},
      {"-0.5", itULong, 1, 0, "w01004"},
      {"2147483647", itSLong, 1, 2147483647, nullptr},
      {"2147483648", itSLong, 1, 0, "22003"},
      {"-2147483648", itSLong, 1, -2147483648LL, nullptr},
      {"-2147483649", itSLong, 1, 0, "22003"},
      {"99999999999", itSLong, 1, 0, "22003"},
      {"32767", itSShort, 1, 32767, nullptr},
      {"32768", itSShort, 1, 0, "22003"},
      {"-32768", itSShort, 1, -32768, nullptr},
      {"65535", itUShort, 1, 65535, nullptr},
      {"65536", itUShort, 1, 0, "22003"},
      {"127", itSTinyInt, 1, 127, nullptr},
      {"-129", itSTinyInt, 1, 0, "22003"},
      {"255", itUTinyInt, 1, 255, nullptr},
      {"256", itUTinyInt, 1, 0, "22003"},
      {"1", itBit, 1, 1, nullptr},
      {"0.9", itBit, 1, 0, "w01004"},
      {"2", itBit, 1, 0, "22003"},
      {"12a", itSLong, 1, 0, "22005"},
      {"", itSLong, 1, 0, "22005"},
      {"   ", itSLong, 1, 0, "22005"},
      {".", itSLong, 1, 0, "22005"},
      {"-", itSLong, 1, 0, "22005"},
      {"1.2.3", itSLong, 1, 0, "22005"},
      {"1E", itSLong, 1, 0, "22005"},
      {"1E+", itSLong, 1, 0, "22005"},
      {"1E12345", itSLong, 1, 0, "22005"},  // more than 4 exponent characters
      {"1Ex2", itSLong, 1, 0, "22005"},
      {"E5", itSLong, 1, 0, "22005"},
  };
  for (const Case& c : cases) {
    const Result r = convert(itChar, text(c.text), c.to, 0, 0, c.flags);
    const bool fails = c.diagnostic && c.diagnostic[0] != 'w';
    EXPECT_EQ(r.status == kvSuccess, !fails) << c.text;
    EXPECT_EQ(takeDiagnostics(), c.diagnostic ? diag(c.diagnostic) : diag()) << c.text;
    EXPECT_FALSE(r.pastRoom) << c.text;
    if (fails) continue;
    int64_t value = 0;
    switch (c.to) {
      case itBit:
      case itUTinyInt: value = r.written[0]; break;
      case itSTinyInt: value = int8_t(r.written[0]); break;
      case itSShort: { int16_t v; std::memcpy(&v, r.written.data(), 2); value = v; break; }
      case itUShort: { uint16_t v; std::memcpy(&v, r.written.data(), 2); value = v; break; }
      case itSLong: { int32_t v; std::memcpy(&v, r.written.data(), 4); value = v; break; }
      default: { uint32_t v; std::memcpy(&v, r.written.data(), 4); value = v; break; }
    }
    EXPECT_EQ(value, c.value) << c.text;
    EXPECT_EQ(r.length, baseInternalSize(c.to)) << c.text;
  }
}

TEST_F(NumTest, SignificantDigitsAreLimitedTo79) {
  const std::string many79(79, '7'), many80(80, '7');
  std::string zeros = "1" + std::string(200, '0') + "E-200";  // 1, whatever the zeros around it
  EXPECT_EQ(convert(itChar, text(many79.c_str()), itChar, 100).status, kvSuccess);
  EXPECT_EQ(takeDiagnostics(), diag());
  EXPECT_NE(convert(itChar, text(many80.c_str()), itChar, 100).status, kvSuccess);
  EXPECT_EQ(takeDiagnostics(), diag("22003"));
  const Result r = convert(itChar, text(zeros.c_str()), itChar, 100);
  EXPECT_EQ(str(r), "1");
}

// 64-bit integers: the exact edges, the high word first, cut fractions.
TEST_F(NumTest, SixtyFourBitValues) {
  struct Case {
    const char* text;
    InternalType to;
    uint64_t bits;
    const char* diagnostic;
  } cases[] = {
      {"9223372036854775807", itSBigInt, 0x7FFFFFFFFFFFFFFFull, nullptr},
      {"9223372036854775808", itSBigInt, 0, "22003"},
      {"-9223372036854775808", itSBigInt, 0x8000000000000000ull, nullptr},
      {"-9223372036854775809", itSBigInt, 0, "22003"},
      {"18446744073709551615", itUBigInt, 0xFFFFFFFFFFFFFFFFull, nullptr},
      {"18446744073709551616", itUBigInt, 0, "22003"},
      {"99999999999999999999", itUBigInt, 0, "22003"},
      {"100000000000000000000", itUBigInt, 0, "22003"},
      {"-1", itUBigInt, 0, "22003"},
      {"-1", itSBigInt, 0xFFFFFFFFFFFFFFFFull, nullptr},
      {"123.9", itSBigInt, 123, "w01004"},
      {"-123.9", itSBigInt, uint64_t(-123), "w01004"},
      {"4294967296", itSBigInt, 0x100000000ull, nullptr},
  };
  for (const Case& c : cases) {
    const Result r = convert(itChar, text(c.text), c.to, 0, 0, 1);
    const bool fails = c.diagnostic && c.diagnostic[0] != 'w';
    EXPECT_EQ(r.status == kvSuccess, !fails) << c.text;
    EXPECT_EQ(takeDiagnostics(), c.diagnostic ? diag(c.diagnostic) : diag()) << c.text;
    if (fails) continue;
    ASSERT_EQ(r.written.size(), 8u) << c.text;
    EXPECT_EQ(baseGet64(r.written.data()), c.bits) << c.text;
    uint32_t high;
    std::memcpy(&high, r.written.data(), 4);
    EXPECT_EQ(high, uint32_t(c.bits >> 32)) << "high word first: " << c.text;
  }
  // And back to text, both signs at their ends.
  EXPECT_EQ(str(convert(itSBigInt, big(0x8000000000000000ull), itChar, 30)), "-9223372036854775808");
  EXPECT_EQ(str(convert(itUBigInt, big(0xFFFFFFFFFFFFFFFFull), itChar, 30)), "18446744073709551615");
  EXPECT_EQ(str(convert(itSBigInt, big(uint64_t(-5)), itChar, 30)), "-5");
  EXPECT_EQ(str(convert(itSBigInt, big(0), itChar, 30)), "0");
  int32_t small = 0;
  const Result r = convert(itSBigInt, big(uint64_t(-70000)), itSLong, 0);
  std::memcpy(&small, r.written.data(), 4);
  EXPECT_EQ(small, -70000);
  EXPECT_NE(convert(itSBigInt, big(1ull << 40), itSLong, 0).status, kvSuccess);
  EXPECT_EQ(takeDiagnostics(), diag("22003"));
}

// Packed decimal both ways: digits cut, never rounded; the integer part
// must fit.
TEST_F(NumTest, PackedDecimal) {
  struct Case {
    const char* text;
    uint32_t precision;
    int16_t scale;
    Bytes bytes;
    const char* diagnostic;
  } cases[] = {
      {"123.456", 5, 2, {0x12, 0x34, 0x5C}, "w01004"},
      {"123.455", 5, 2, {0x12, 0x34, 0x5C}, "w01004"},
      {"1234.5", 5, 2, {}, "22003"},
      {"-1.5", 5, 2, {0x00, 0x15, 0x0D}, nullptr},
      {"12345", 4, 0, {0x12, 0x34, 0x5C}, nullptr},  // an even precision is widened by one digit
      {"0", 3, 0, {0x00, 0x0C}, nullptr},
      {"-0.001", 3, 2, {0x00, 0x0C}, "w01004"},
      {"12300", 3, -2, {0x12, 0x3C}, nullptr},
      {"12345", 3, -2, {0x12, 0x3C}, "w01004"},
      {"99999999999999999999", 19, 0, {}, "22003"},
  };
  for (const Case& c : cases) {
    const Result r = convert(itChar, text(c.text), itPacked, c.precision, c.scale, 1);
    const bool fails = c.diagnostic && c.diagnostic[0] != 'w';
    EXPECT_EQ(r.status == kvSuccess, !fails) << c.text;
    EXPECT_EQ(takeDiagnostics(), c.diagnostic ? diag(c.diagnostic) : diag()) << c.text;
    EXPECT_FALSE(r.pastRoom) << c.text;
    if (!fails) {
      EXPECT_EQ(r.written, c.bytes) << c.text;
    }
  }
  struct Back {
    Bytes bytes;
    int16_t scale;
    const char* text;
  } backs[] = {
      {{0x12, 0x34, 0x5C}, 2, "123.45"},
      {{0x12, 0x34, 0x5D}, 2, "-123.45"},
      {{0x12, 0x34, 0x5F}, 0, "12345"},
      {{0x00, 0x00, 0x5C}, 3, ".005"},
      {{0x00, 0x0D}, 0, "0"},
  };
  for (const Back& b : backs) EXPECT_EQ(str(convert(itPacked, b.bytes, itChar, 20, b.scale)), b.text);
  EXPECT_NE(convert(itPacked, Bytes{0x1A, 0x0C}, itChar, 20).status, kvSuccess);
  EXPECT_NE(convert(itPacked, Bytes{}, itChar, 20).status, kvSuccess);
  EXPECT_EQ(takeDiagnostics(), (std::vector<std::string>{"22005", "22005"}));
}

TEST_F(NumTest, DecimalText) {
  // Exact targets keep precision - scale integer digits and scale fraction
  // digits; approximate ones at most precision digits.
  Result r = convert(itChar, text("-123.456"), itDecimal, 6, 2, 1, 0);
  ASSERT_EQ(r.status, kvSuccess);
  EXPECT_EQ(r.written, decimalText(3, "12345", decimalNegative));
  EXPECT_EQ(r.length, 13u);
  EXPECT_EQ(takeDiagnostics(), diag("w01004"));
  EXPECT_NE(convert(itChar, text("12345.6"), itDecimal, 6, 2, 1, 0).status, kvSuccess);
  EXPECT_EQ(takeDiagnostics(), diag("22003"));
  r = convert(itChar, text("12345.6789"), itDecimal, 6, 2, 1, decimalApproximate);
  EXPECT_EQ(r.written, decimalText(5, "123456", decimalApproximate));
  EXPECT_EQ(takeDiagnostics(), diag("w01004"));
  r = convert(itChar, text("-0.001"), itDecimal, 6, 2, 0, 0);
  EXPECT_EQ(r.written, decimalText(1, "0", 0)) << "nothing left is a positive zero";
  // Decimal text as a source; a short buffer or a non-digit is refused.
  EXPECT_EQ(str(convert(itDecimal, decimalText(-1, "25", decimalNegative), itChar, 20)), "-.025");
  EXPECT_EQ(str(convert(itDecimal, decimalText(4, "25", 0), itChar, 20)), "2500");
  Bytes shortOne = decimalText(1, "25", 0);
  shortOne.pop_back();
  EXPECT_NE(convert(itDecimal, shortOne, itChar, 20).status, kvSuccess);
  EXPECT_NE(convert(itDecimal, decimalText(1, "2x", 0), itChar, 20).status, kvSuccess);
  EXPECT_EQ(takeDiagnostics(), (std::vector<std::string>{"22005", "22005"}));
}

// Numbers as text: fixed notation when it fits, then the exact rule (the
// integer part stands, fraction digits go) or, for approximate values,
// exponent notation; scale padding for exact values; the length reported.
TEST_F(NumTest, NumbersToText) {
  struct Case {
    InternalType from;
    Bytes source;
    uint32_t room;
    int16_t scale;
    uint16_t flags;
    const char* text;  // null: fails with 22003
    uint32_t length;
    bool warned;
  } cases[] = {
      {itDouble, raw(0.5), 2, 0, 0, ".5", 2, false},
      {itDouble, raw(1234567.0), 5, 0, 0, "1.2E6", 10, false},
      {itDouble, raw(1234567.0), 5, 0, 1, "1.2E6", 5, true},
      {itDouble, raw(1234567.0), 22, 0, 0, "1234567", 7, false},
      {itDouble, raw(1e300), 22, 0, 0, "1E300", 5, false},
      {itDouble, raw(-1.5e-10), 22, 0, 0, "-.00000000015", 13, false},
      {itDouble, raw(-1.5e-30), 22, 0, 0, "-1.5E-30", 8, false},
      {itDouble, raw(0.1), 22, 0, 0, ".1", 2, false},
      {itDouble, raw(1.0 / 3), 22, 0, 0, ".333333333333333", 16, false},
      {itDouble, raw(2.0 / 3), 22, 0, 0, ".666666666666667", 16, false},
      {itDouble, raw(-1.2345678901234567e-300), 22, 0, 0, "-1.23456789012346E-300", 22, false},
      {itDouble, raw(123456789012345678.0), 22, 0, 0, "123456789012346000", 18, false},
      {itDouble, raw(1.5), 2, 0, 0, "1.", 3, false},  // a point position of 1 cuts, never an exponent
      {itDouble, raw(12.5), 1, 0, 0, nullptr, 0, false},
      {itDouble, raw(1e300), 4, 0, 0, nullptr, 0, false},
      {itDouble, raw(1.5), 22, 2, baseNumExact, "1.50", 4, false},
      {itDouble, raw(1.5), 22, 2, 0, "1.5", 3, false},
      {itFloat, raw(0.1f), 22, 0, 0, ".1", 2, false},
      {itFloat, raw(1.0f / 3), 22, 0, 0, ".3333333", 8, false},
      {itChar, text("-12.50"), 10, 0, 0, "-12.5", 5, false},
      {itChar, text("-12.50"), 10, 3, 0, "-12.500", 7, false},
      {itChar, text("5"), 10, 2, 0, "5.00", 4, false},
      {itChar, text("5"), 3, 2, 0, "5.0", 3, false},  // padding only while room lasts
      {itChar, text("0.5"), 10, 0, 0, ".5", 2, false},
      {itChar, text("123.456"), 5, 0, 0, "123.4", 7, false},
      {itChar, text("123.456"), 5, 0, 1, "123.4", 5, true},
      {itChar, text("123.456"), 4, 0, 0, "123.", 7, false},
      {itChar, text("123.456"), 3, 0, 0, "123", 7, false},
      {itChar, text("123.456"), 2, 0, 0, nullptr, 0, false},
      {itChar, text("-.5"), 2, 0, 0, "0", 3, false},
      {itChar, text("1E5"), 10, 0, 0, "100000", 6, false},
      {itChar, text("1E-3"), 10, 0, 0, ".001", 4, false},
      {itChar, text("0"), 0, 0, 0, nullptr, 0, false},
      {itSLong, raw(int32_t(-2147483647 - 1)), 20, 0, 0, "-2147483648", 11, false},
      {itULong, raw(uint32_t(4294967295u)), 20, 0, 0, "4294967295", 10, false},
      {itSLong, raw(int32_t(12345)), 4, 0, 0, nullptr, 0, false},
      {itBit, Bytes{1}, 1, 0, 0, "1", 1, false},
  };
  for (const Case& c : cases) {
    const Result r = convert(c.from, c.source, itChar, c.room, c.scale, c.flags);
    const std::vector<std::string> got = takeDiagnostics();
    EXPECT_FALSE(r.pastRoom) << (c.text ? c.text : "(fails)");
    if (!c.text) {
      EXPECT_NE(r.status, kvSuccess) << "room " << c.room;
      EXPECT_EQ(got, diag("22003")) << "room " << c.room;
      continue;
    }
    ASSERT_EQ(r.status, kvSuccess) << c.text;
    EXPECT_EQ(str(r), c.text);
    EXPECT_EQ(r.length, c.length) << c.text;
    EXPECT_EQ(got, c.warned ? diag("w01004") : diag()) << c.text;
  }
}

// Doubles into integer forms: the whole part, the fraction cut; NaN and
// infinity have no whole part and fail.
TEST_F(NumTest, DoublesIntoIntegerForms) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double value;
    InternalType to;
    int64_t expected;
    const char* diagnostic;
  } cases[] = {
      {2147483647.9, itSLong, 2147483647, "w01004"},
      {2147483648.0, itSLong, 0, "22003"},
      {-2147483648.5, itSLong, -2147483648LL, "w01004"},
      {-2147483649.0, itSLong, 0, "22003"},
      {4294967295.0, itULong, 4294967295LL, nullptr},
      {4294967296.0, itULong, 0, "22003"},
      {-0.5, itULong, 0, "w01004"},
      {-1.0, itULong, 0, "22003"},
      {-0.5, itBit, 0, "22003"},
      {1.5, itBit, 1, "w01004"},
      {300.0, itUTinyInt, 0, "22003"},
      {-40000.0, itSShort, 0, "22003"},
      {nan, itSLong, 0, "22003"},
      {nan, itULong, 0, "22003"},
      {inf, itSShort, 0, "22003"},
      {-inf, itBit, 0, "22003"},
      {nan, itSBigInt, 0, "22003"},
      {inf, itPacked, 0, "22003"},
      {nan, itDate, 0, "22003"},
      {inf, itTimestamp, 0, "22003"},
  };
  for (const Case& c : cases) {
    const Result r = convert(itDouble, raw(c.value), c.to, 10, 0, 1);
    const bool fails = c.diagnostic && c.diagnostic[0] != 'w';
    EXPECT_EQ(r.status == kvSuccess, !fails) << c.value << " into " << c.to;
    EXPECT_EQ(takeDiagnostics(), c.diagnostic ? diag(c.diagnostic) : diag()) << c.value << " into " << c.to;
    if (fails) continue;
    int64_t value = 0;
    if (c.to == itSLong) { int32_t v; std::memcpy(&v, r.written.data(), 4); value = v; }
    else if (c.to == itULong) { uint32_t v; std::memcpy(&v, r.written.data(), 4); value = v; }
    else value = r.written[0];
    EXPECT_EQ(value, c.expected) << c.value;
  }
  // Into float and double: infinity fits only a double; NaN stays NaN.
  EXPECT_NE(convert(itDouble, raw(inf), itFloat, 0).status, kvSuccess);
  EXPECT_NE(convert(itDouble, raw(3.5e38), itFloat, 0).status, kvSuccess);
  EXPECT_EQ(takeDiagnostics(), (std::vector<std::string>{"22003", "22003"}));
  float single = 0;
  Result r = convert(itDouble, raw(nan), itFloat, 0);
  std::memcpy(&single, r.written.data(), 4);
  EXPECT_TRUE(std::isnan(single));
  r = convert(itDouble, raw(inf), itDouble, 0);
  double real = 0;
  std::memcpy(&real, r.written.data(), 8);
  EXPECT_EQ(real, inf);
}

TEST_F(NumTest, TextIntoFloatAndDouble) {
  struct Case {
    const char* text;
    InternalType to;
    double value;
    const char* diagnostic;
  } cases[] = {
      {"1.5", itDouble, 1.5, nullptr},
      {"123456789", itDouble, 123456789.0, nullptr},
      {"0.1", itDouble, 0.1, nullptr},
      {"-2.5E-3", itDouble, -0.0025, nullptr},
      {"1E308", itDouble, 1e308, nullptr},
      {"1E309", itDouble, 0, "22003"},
      {"1E-400", itDouble, 0, "22003"},
      {"12345678901234567890123", itDouble, 1.234567890123456e22, nullptr},  // 16 digits are used
      {"1.5", itFloat, 1.5, nullptr},
      {"3.5E38", itFloat, 0, "22003"},
  };
  for (const Case& c : cases) {
    const Result r = convert(itChar, text(c.text), c.to, 0);
    EXPECT_EQ(r.status == kvSuccess, c.diagnostic == nullptr) << c.text;
    EXPECT_EQ(takeDiagnostics(), c.diagnostic ? diag(c.diagnostic) : diag()) << c.text;
    if (c.diagnostic) continue;
    double value;
    if (c.to == itFloat) {
      float single;
      std::memcpy(&single, r.written.data(), 4);
      value = single;
    } else {
      std::memcpy(&value, r.written.data(), 8);
    }
    EXPECT_EQ(value, c.value) << c.text;
  }
}

// Dates read as day numbers, times as seconds, timestamps as day-number
// doubles; and back.
TEST_F(NumTest, DatesAndTimesAsNumbers) {
  const DATE_STRUCT day1 = {1, 1, 1};
  const TIME_STRUCT oneHour = {1, 1, 1};
  const TIMESTAMP_STRUCT noon = {2000, 1, 1, 12, 0, 0, 0};
  int32_t number = 0;
  std::memcpy(&number, convert(itDate, raw(day1), itSLong, 0).written.data(), 4);
  EXPECT_EQ(number, 1721426);
  uint32_t seconds = 0;
  std::memcpy(&seconds, convert(itTime, raw(oneHour), itULong, 0).written.data(), 4);
  EXPECT_EQ(seconds, 3661u);
  double real = 0;
  std::memcpy(&real, convert(itTimestamp, raw(noon), itDouble, 0).written.data(), 8);
  EXPECT_EQ(real, 2451545.5);

  DATE_STRUCT date{};
  std::memcpy(&date, convert(itSLong, raw(int32_t(1721426)), itDate, 0).written.data(), 6);
  EXPECT_EQ(date.year, 1);
  EXPECT_EQ(date.month, 1);
  EXPECT_EQ(date.day, 1);
  TIME_STRUCT time{};
  std::memcpy(&time, convert(itULong, raw(uint32_t(3661)), itTime, 0).written.data(), 6);
  EXPECT_EQ(time.hour, 1);
  EXPECT_EQ(time.second, 1);
  TIMESTAMP_STRUCT stamp{};
  std::memcpy(&stamp, convert(itDouble, raw(2451545.5), itTimestamp, 0).written.data(), 16);
  EXPECT_EQ(stamp.year, 2000);
  EXPECT_EQ(stamp.hour, 12);
  EXPECT_EQ(stamp.fraction, 0u);
  EXPECT_TRUE(takeDiagnostics().empty());

  // A time of day survives the trip through a double to the millisecond.
  const TIMESTAMP_STRUCT odd = {1995, 7, 4, 10, 0, 1, 250000000};
  std::memcpy(&real, convert(itTimestamp, raw(odd), itDouble, 0).written.data(), 8);
  std::memcpy(&stamp, convert(itDouble, raw(real), itTimestamp, 0).written.data(), 16);
  EXPECT_EQ(stamp.hour, 10);
  EXPECT_EQ(stamp.minute, 0);
  EXPECT_EQ(stamp.second, 1);
  EXPECT_EQ(stamp.fraction, 250000000u);

  // Day numbers outside the calendar and seconds beyond a day fail.
  EXPECT_NE(convert(itSLong, raw(int32_t(0)), itDate, 0).status, kvSuccess);
  EXPECT_NE(convert(itDouble, raw(-5.5), itTimestamp, 0).status, kvSuccess);
  EXPECT_NE(convert(itDouble, raw(1e300), itTimestamp, 0).status, kvSuccess);
  EXPECT_NE(convert(itULong, raw(uint32_t(86400)), itTime, 0).status, kvSuccess);
  EXPECT_NE(convert(itDate, raw(DATE_STRUCT{2000, 2, 30}), itSLong, 0).status, kvSuccess);
  EXPECT_EQ(takeDiagnostics(), (std::vector<std::string>{"22008", "22008", "22008", "22003", "22008"}));
}

TEST_F(NumTest, BadSourcesAndTargets) {
  EXPECT_NE(convert(itBit, Bytes{2}, itSLong, 0).status, kvSuccess);
  EXPECT_NE(convert(itBinary, Bytes{1, 2}, itSLong, 0).status, kvSuccess);
  EXPECT_NE(convert(itSLong, raw(int32_t(1)), itBinary, 0).status, kvSuccess);
  EXPECT_EQ(takeDiagnostics(), (std::vector<std::string>{"22005", "07006", "07006"}));
  uint32_t length = 0;
  unsigned char out[8];
  EXPECT_NE(BaseConvertNum(itChar, "1", -5, itSLong, out, &length, 0, 0, 0), kvSuccess);
  EXPECT_EQ(takeDiagnostics(), diag("S1090"));
}

}  // namespace
