// C types to internal forms (input parameters): the pivot of each SQL type,
// wide text narrowed to ANSI, 64-bit integers, SQL_C_BINARY images with
// their byte counts, checked dates, quoted date literals, hexadecimal text,
// and the target buffer's size honoured.
#include "base/convert/base_convert.h"
#include "base/convert/base_internal_type.h"
#include "tests/base/convert_test_support.h"

#include <cstring>
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
Bytes utf16(const std::u16string& value) {
  Bytes bytes;
  for (char16_t unit : value) {
    bytes.push_back(uint8_t(unit & 0xFF));
    bytes.push_back(uint8_t(unit >> 8));
  }
  return bytes;
}

BaseValueDesc param(int16_t sqlType, uint32_t precision = 0, int16_t scale = 0) {
  BaseValueDesc desc;
  desc.sqlType = sqlType;
  desc.precision = precision;
  desc.scale = scale;
  return desc;
}

const unsigned char untouched = 0xEE;

struct Sent {
  KvStatus status;
  Bytes out;  // the target buffer, outSize bytes
  int32_t length;
  bool pastSize;

  std::string text() const { return std::string(out.begin(), out.begin() + std::min<size_t>(length, out.size())); }
  template <class T>
  T as() const {
    T value;
    std::memcpy(&value, out.data(), sizeof(T));
    return value;
  }
};

class FromCTest : public ConvertTest {
 protected:
  Sent send(const BaseValueDesc& desc, int16_t cType, const Bytes& value, InternalType target, uint32_t outSize,
            SQLLEN length = -1000, bool withLength = true) {
    unsigned char out[256];
    std::memset(out, untouched, sizeof(out));
    if (target == itDecimal) basePutDecimalHeader(out, BaseDecimalHeader{0, 0, 0});
    Sent s;
    s.length = -99;
    s.status = BaseConvertFromC(5, desc, cType, value.data(), length == -1000 ? SQLLEN(value.size()) : length, target,
                                out, withLength ? &s.length : nullptr, outSize, nullptr);
    s.out.assign(out, out + outSize);
    s.pastSize = out[outSize] != untouched;
    return s;
  }
};

// Text through the pivot its SQL type calls for: numbers are checked and
// cut to the parameter's scale, whatever the target.
TEST_F(FromCTest, TextThroughThePivot) {
  Sent s = send(param(SQL_NUMERIC, 5, 2), SQL_C_CHAR, text("123.456"), itChar, 32);
  ASSERT_EQ(s.status, kvSuccess);
  EXPECT_EQ(s.text(), "123.45");
  EXPECT_EQ(takeDiagnostics(), diag("w01004"));
  s = send(param(SQL_NUMERIC, 5, 2), SQL_C_CHAR, text("7"), itChar, 32);
  EXPECT_EQ(s.text(), "7.00");
  s = send(param(SQL_NUMERIC, 5, 2), SQL_C_CHAR, text("123.456"), itDouble, 8);
  EXPECT_EQ(s.as<double>(), 123.45);
  takeDiagnostics();
  s = send(param(SQL_NUMERIC, 5, 2), SQL_C_CHAR, text("123.4"), itDecimal, 16);
  ASSERT_EQ(s.status, kvSuccess);
  EXPECT_EQ(s.length, 12);
  EXPECT_EQ(std::string(s.out.begin() + 8, s.out.begin() + 12), "1234");
  EXPECT_EQ(baseGetDecimalHeader(s.out.data()).point, 3);

  EXPECT_NE(send(param(SQL_NUMERIC, 5, 2), SQL_C_CHAR, text("1234.5"), itChar, 32).status, kvSuccess);
  EXPECT_NE(send(param(SQL_INTEGER), SQL_C_CHAR, text("abc"), itSLong, 4).status, kvSuccess);
  EXPECT_NE(send(param(SQL_SMALLINT), SQL_C_CHAR, text("40000"), itSLong, 4).status, kvSuccess);
  EXPECT_EQ(takeDiagnostics(), (std::vector<std::string>{"22003", "22005", "22003"}));

  s = send(param(SQL_INTEGER), SQL_C_DEFAULT, raw(int32_t(-7)), itSLong, 4);
  EXPECT_EQ(s.as<int32_t>(), -7) << "SQL_C_DEFAULT of INTEGER is SQL_C_LONG";
  s = send(param(SQL_DOUBLE), SQL_C_DOUBLE, raw(1234567890.5), itChar, 64);
  EXPECT_EQ(s.text(), "1234567890.5");
  s = send(param(SQL_VARCHAR, 20), SQL_C_CHAR, Bytes{'a', 'b', 0}, itChar, 32, SQL_NTS);
  EXPECT_EQ(s.text(), "ab");
  EXPECT_TRUE(takeDiagnostics().empty());
}

// SQL_C_WCHAR is UTF-16LE, narrowed to ANSI; a character ANSI lacks, or
// half a character, is an error, never a "?".
TEST_F(FromCTest, WideText) {
  const Bytes gruesse = utf16(u"Gr\u00FC\u00DFe \u20AC");
  Sent s = send(param(SQL_WVARCHAR, 20), SQL_C_WCHAR, gruesse, itChar, 32);
  ASSERT_EQ(s.status, kvSuccess);
  EXPECT_EQ(s.out.size() >= 7 ? Bytes(s.out.begin(), s.out.begin() + 7) : Bytes(),
            (Bytes{'G', 'r', 0xFC, 0xDF, 'e', ' ', 0x80}));
  EXPECT_EQ(s.length, 7);

  Bytes terminated = gruesse;
  terminated.push_back(0);
  terminated.push_back(0);
  s = send(param(SQL_VARCHAR, 20), SQL_C_WCHAR, terminated, itChar, 32, SQL_NTS);
  EXPECT_EQ(s.length, 7);
  s = send(param(SQL_INTEGER), SQL_C_WCHAR, utf16(u"42"), itSLong, 4);
  EXPECT_EQ(s.as<int32_t>(), 42);
  EXPECT_TRUE(takeDiagnostics().empty());

  s = send(param(SQL_VARCHAR, 20), SQL_C_WCHAR, utf16(u"a\u03A9b"), itChar, 32);
  EXPECT_NE(s.status, kvSuccess);
  EXPECT_EQ(lastText(), "The character U+03A9 has no equivalent in the data source's character set.");
  EXPECT_EQ(s.out, Bytes(32, untouched)) << "nothing written";
  s = send(param(SQL_VARCHAR, 20), SQL_C_WCHAR, utf16(u"\U0001F600"), itChar, 32);
  EXPECT_NE(s.status, kvSuccess);
  EXPECT_EQ(takeDiagnostics(), (std::vector<std::string>{"22005", "22005"}));

  s = send(param(SQL_VARCHAR, 20), SQL_C_WCHAR, Bytes{'a', 0, 'b'}, itChar, 32);
  EXPECT_NE(s.status, kvSuccess);
  EXPECT_EQ(lastText(), "A SQL_C_WCHAR value must be whole 2-byte characters; 3 bytes were given.");
  EXPECT_EQ(takeDiagnostics(), diag("S1090"));
}

// SQL_C_CHAR is in the application's code set: under a UTF-8 locale it
// comes in as UTF-8, and what ANSI lacks, or bytes that are not UTF-8, are
// refused; under the C locale the bytes are ANSI as they stand.
TEST_F(FromCTest, NarrowTextInTheLocalesCodeSet) {
  const std::string saved = std::setlocale(LC_CTYPE, nullptr);
  ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
  const Bytes eve{0xC3, 0x89, 'v', 'e', ' ', 0xE2, 0x82, 0xAC};  // "Ève €"
  Sent s = send(param(SQL_VARCHAR, 20), SQL_C_CHAR, eve, itChar, 32);
  EXPECT_EQ(s.status, kvSuccess);
  EXPECT_EQ(s.text(), "\xC9ve \x80");
  s = send(param(SQL_VARCHAR, 3), SQL_C_CHAR, eve, itChar, 3);
  EXPECT_EQ(s.text(), "\xC9ve") << "cut in characters of the parameter";
  takeDiagnostics();
  s = send(param(SQL_VARCHAR, 20), SQL_C_CHAR, Bytes{'x', 0xE2, 0x82, 0xBD}, itChar, 32);
  EXPECT_NE(s.status, kvSuccess);
  EXPECT_EQ(lastText(), "The character U+20BD has no equivalent in the data source's character set.");
  EXPECT_EQ(s.out, Bytes(32, untouched)) << "nothing written";
  s = send(param(SQL_VARCHAR, 20), SQL_C_CHAR, Bytes{'a', 'b', 0xC9, 'v'}, itChar, 32);
  EXPECT_NE(s.status, kvSuccess);
  EXPECT_EQ(lastText(),
            "Byte 2 of the text begins no character of the application's character set UTF-8 that the data "
            "source's character set can hold.");
  EXPECT_EQ(takeDiagnostics(), (std::vector<std::string>{"22005", "22005"}));

  ASSERT_NE(std::setlocale(LC_CTYPE, "C"), nullptr);
  s = send(param(SQL_VARCHAR, 20), SQL_C_CHAR, Bytes{0xC9, 'v', 'e'}, itChar, 32);
  EXPECT_EQ(s.status, kvSuccess);
  EXPECT_EQ(s.text(), "\xC9ve");
  std::setlocale(LC_CTYPE, saved.c_str());
}

TEST_F(FromCTest, SixtyFourBitIntegers) {
  Sent s = send(param(SQL_BIGINT, 19), SQL_C_SBIGINT, raw(int64_t(-5)), itSBigInt, 8);
  ASSERT_EQ(s.status, kvSuccess);
  EXPECT_EQ(baseGet64(s.out.data()), uint64_t(-5));
  s = send(param(SQL_INTEGER), SQL_C_SBIGINT, raw(int64_t(-5)), itSLong, 4);
  EXPECT_EQ(s.as<int32_t>(), -5);
  s = send(param(SQL_VARCHAR, 30), SQL_C_SBIGINT, raw(int64_t(INT64_MIN)), itChar, 32);
  EXPECT_EQ(s.text(), "-9223372036854775808");
  s = send(param(SQL_DOUBLE), SQL_C_UBIGINT, raw(uint64_t(1) << 50), itDouble, 8);
  EXPECT_EQ(s.as<double>(), 1125899906842624.0);
  EXPECT_TRUE(takeDiagnostics().empty());
  EXPECT_NE(send(param(SQL_INTEGER), SQL_C_SBIGINT, raw(int64_t(1) << 40), itSLong, 4).status, kvSuccess);
  EXPECT_NE(send(param(SQL_BIGINT, 19), SQL_C_UBIGINT, raw(~uint64_t(0)), itSBigInt, 8).status, kvSuccess);
  EXPECT_EQ(takeDiagnostics(), (std::vector<std::string>{"22003", "22003"}));
}

// SQL_C_BINARY is the fixed image of the SQL type: exactly its bytes, or,
// for text and binary types, at most the precision (cut with a warning).
TEST_F(FromCTest, BinaryImages) {
  struct Case {
    BaseValueDesc desc;
    Bytes value;
    InternalType target;
    uint32_t outSize;
    Bytes expected;  // empty: 22003 with 6050 naming expected and given bytes
    const char* message;
    bool warned;
  } cases[] = {
      {param(SQL_INTEGER), Bytes{1, 2, 3}, itSLong, 4, {},
       "A SQL_C_BINARY parameter was passed an incorrect number of bytes.  Expecting 4 bytes, application "
       "passed 3 bytes.",
       false},
      {param(SQL_INTEGER), Bytes{1, 2, 3, 4, 5}, itSLong, 4, {},
       "A SQL_C_BINARY parameter was passed an incorrect number of bytes.  Expecting 4 bytes, application "
       "passed 5 bytes.",
       false},
      {param(SQL_INTEGER), raw(int32_t(258)), itSLong, 4, raw(int32_t(258)), nullptr, false},
      {param(SQL_SMALLINT), raw(int16_t(-2)), itDouble, 8, raw(-2.0), nullptr, false},
      {param(SQL_DATE), raw(DATE_STRUCT{1995, 7, 4}), itDate, 6, raw(DATE_STRUCT{1995, 7, 4}), nullptr, false},
      {param(SQL_NUMERIC, 5, 2), Bytes{0x12, 0x34, 0x5C}, itDouble, 8, raw(123.45), nullptr, false},
      {param(SQL_NUMERIC, 5, 2), Bytes{0x12, 0x3C}, itChar, 8, {},
       "A SQL_C_BINARY parameter was passed an incorrect number of bytes.  Expecting 3 bytes, application "
       "passed 2 bytes.",
       false},
      {param(SQL_CHAR, 3), text("abcde"), itChar, 8, text("abc"), nullptr, true},
      {param(SQL_VARBINARY, 4), Bytes{0x01, 0xAB}, itChar, 8, text("01AB"), nullptr, false},
      {param(SQL_VARBINARY, 4), Bytes{0x01, 0xAB}, itBinary, 8, Bytes{0x01, 0xAB}, nullptr, false},
  };
  for (const Case& c : cases) {
    const Sent s = send(c.desc, SQL_C_BINARY, c.value, c.target, c.outSize);
    const std::vector<std::string> got = takeDiagnostics();
    EXPECT_FALSE(s.pastSize);
    if (c.expected.empty()) {
      EXPECT_NE(s.status, kvSuccess) << c.desc.sqlType << " " << c.value.size();
      EXPECT_EQ(got, diag("22003"));
      continue;
    }
    ASSERT_EQ(s.status, kvSuccess) << c.desc.sqlType;
    EXPECT_EQ(Bytes(s.out.begin(), s.out.begin() + c.expected.size()), c.expected) << c.desc.sqlType;
    EXPECT_EQ(got, c.warned ? diag("w01004") : diag()) << c.desc.sqlType;
  }
  send(param(SQL_INTEGER), SQL_C_BINARY, Bytes{1, 2, 3}, itSLong, 4);
  EXPECT_EQ(lastText(), cases[0].message);
  // A shorter packed decimal is taken as it is for a decimal-text target.
  const Sent s = send(param(SQL_NUMERIC, 5, 2), SQL_C_BINARY, Bytes{0x12, 0x3C}, itDecimal, 32);
  EXPECT_EQ(s.status, kvSuccess);
}

// Dates, times and timestamps are checked; quoted literals read from
// between their quotes.
TEST_F(FromCTest, DatesAndTimes) {
  EXPECT_NE(send(param(SQL_TIMESTAMP), SQL_C_TIMESTAMP, raw(TIMESTAMP_STRUCT{2000, 1, 1, 0, 0, 0, 1000000000}),
                 itTimestamp, 16)
                .status,
            kvSuccess);
  EXPECT_NE(send(param(SQL_DATE), SQL_C_DATE, raw(DATE_STRUCT{2000, 2, 30}), itDate, 6).status, kvSuccess);
  EXPECT_NE(send(param(SQL_TIME), SQL_C_TIME, raw(TIME_STRUCT{24, 0, 0}), itTime, 6).status, kvSuccess);
  EXPECT_NE(send(param(SQL_DATE), SQL_C_CHAR, text("1995-13-01"), itDate, 6).status, kvSuccess);
  EXPECT_EQ(takeDiagnostics(), (std::vector<std::string>{"22008", "22008", "22008", "22008"}));

  Sent s = send(param(SQL_DATE), SQL_C_CHAR, text("{d '1995-07-04'}"), itDate, 6);
  ASSERT_EQ(s.status, kvSuccess);
  EXPECT_EQ(s.as<DATE_STRUCT>().day, 4);
  s = send(param(SQL_DATE), SQL_C_CHAR, text("'1995-07-04 10:30:00'"), itDate, 6);
  EXPECT_EQ(s.as<DATE_STRUCT>().month, 7);
  s = send(param(SQL_TIME), SQL_C_CHAR, text("'1995-07-04 10:30:15'"), itTime, 6);
  EXPECT_EQ(s.as<TIME_STRUCT>().second, 15);
  EXPECT_TRUE(takeDiagnostics().empty());
  s = send(param(SQL_DATE), SQL_C_CHAR, text("1995-07-04"), itDouble, 8);
  EXPECT_EQ(s.as<double>(), 2449903.0) << "the engine's day number";
  s = send(param(SQL_TIMESTAMP, 19), SQL_C_DATE, raw(DATE_STRUCT{1995, 7, 4}), itChar, 32);
  EXPECT_EQ(s.text(), "1995-07-04 00:00:00");
  s = send(param(SQL_DATE), SQL_C_TIMESTAMP, raw(TIMESTAMP_STRUCT{1995, 7, 4, 10, 30, 0, 0}), itDate, 6);
  EXPECT_EQ(s.as<DATE_STRUCT>().year, 1995);
  EXPECT_EQ(takeDiagnostics(), diag("w01004")) << "the time of day was dropped";
}

// Hexadecimal text into binary: two digits a byte, either case; a bad digit
// is an error in assignment.
TEST_F(FromCTest, HexadecimalText) {
  Sent s = send(param(SQL_VARBINARY, 10), SQL_C_CHAR, text("0aFF"), itBinary, 8);
  ASSERT_EQ(s.status, kvSuccess);
  EXPECT_EQ(Bytes(s.out.begin(), s.out.begin() + 2), (Bytes{0x0A, 0xFF}));
  EXPECT_EQ(s.length, 2);
  s = send(param(SQL_VARBINARY, 10), SQL_C_CHAR, text("0aFF"), itBinary, 1);
  EXPECT_EQ(s.out, Bytes{0x0A});
  EXPECT_EQ(takeDiagnostics(), diag("w01004"));
  s = send(param(SQL_VARBINARY, 10), SQL_C_CHAR, text("0G"), itBinary, 8);
  EXPECT_NE(s.status, kvSuccess);
  EXPECT_EQ(takeDiagnostics(), diag("22005"));
}

// The target's size is honoured: text is cut (terminated when no length
// is asked for), fixed forms that do not fit fail.
TEST_F(FromCTest, TargetSizeIsHonoured) {
  Sent s = send(param(SQL_VARCHAR, 10), SQL_C_CHAR, text("12345"), itChar, 4, -1000, false);
  EXPECT_EQ(std::string(s.out.begin(), s.out.end()), std::string("123\0", 4));
  EXPECT_FALSE(s.pastSize);
  EXPECT_EQ(takeDiagnostics(), diag("w01004"));
  s = send(param(SQL_VARCHAR, 10), SQL_C_CHAR, text("12345"), itChar, 4);
  EXPECT_EQ(s.text(), "1234");
  EXPECT_EQ(s.length, 4);
  EXPECT_EQ(takeDiagnostics(), diag("w01004"));
  s = send(param(SQL_VARCHAR, 10), SQL_C_DOUBLE, raw(2.5), itChar, 3, -1000, false);
  EXPECT_EQ(std::string(s.out.begin(), s.out.end()), std::string("2.\0", 3));
  EXPECT_FALSE(s.pastSize);
  takeDiagnostics();

  EXPECT_NE(send(param(SQL_INTEGER), SQL_C_LONG, raw(int32_t(1)), itSLong, 2).status, kvSuccess);
  EXPECT_NE(send(param(SQL_NUMERIC, 9, 2), SQL_C_CHAR, text("1.5"), itPacked, 4).status, kvSuccess);
  EXPECT_NE(send(param(SQL_NUMERIC, 9, 2), SQL_C_CHAR, text("1.5"), itDecimal, 16).status, kvSuccess);
  EXPECT_EQ(takeDiagnostics(), (std::vector<std::string>{"22003", "22003", "22003"}));
}

TEST_F(FromCTest, RefusedTypesAndLengths) {
  EXPECT_NE(send(param(SQL_INTEGER), SQL_C_DATE, raw(DATE_STRUCT{1995, 7, 4}), itSLong, 4).status, kvSuccess);
  EXPECT_EQ(lastText(), "Unable to convert parameter 5.  Cannot convert from C type 9 to SQL type 4.");
  EXPECT_NE(send(param(SQL_INTEGER), SQL_C_NUMERIC, Bytes(19), itSLong, 4).status, kvSuccess);
  EXPECT_NE(send(param(SQL_GUID), SQL_C_CHAR, text("x"), itChar, 4).status, kvSuccess);
  EXPECT_NE(send(param(SQL_VARCHAR, 4), SQL_C_CHAR, text("x"), itChar, 4, -5).status, kvSuccess);
  EXPECT_NE(send(param(SQL_VARBINARY, 4), SQL_C_BINARY, Bytes{1, 0}, itBinary, 4, SQL_NTS).status, kvSuccess);
  EXPECT_EQ(takeDiagnostics(), (std::vector<std::string>{"07006", "S1003", "S1004", "S1090", "S1090"}));
  EXPECT_NE(BaseConvertFromC(1, param(SQL_VARCHAR, 4), SQL_C_CHAR, nullptr, 3, itChar, nullptr, nullptr, 0, nullptr),
            kvSuccess);
  EXPECT_EQ(takeDiagnostics(), diag("S1009"));
}

}  // namespace
