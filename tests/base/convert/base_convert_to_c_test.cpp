// Internal forms to C types (result columns): text and its buffer minimums,
// hexadecimal binary, the 13- and 22-character clamps, numbers, dates,
// fixed binary images, wide text, 64-bit integers, refused C types, and
// values fetched in pieces.
#include "base/convert/base_convert.h"
#include "base/convert/base_internal_type.h"
#include "base/handles/base_out_string.h"
#include "tests/base/base_test_support.h"
#include "tests/base/convert_test_support.h"

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

BaseValueDesc column(int16_t sqlType, uint32_t precision = 0, int16_t scale = 0, bool isUnsigned = false) {
  BaseValueDesc desc;
  desc.sqlType = sqlType;
  desc.precision = precision;
  desc.scale = scale;
  desc.isUnsigned = isUnsigned;
  return desc;
}

const unsigned char untouched = 0xEE;

struct Fetched {
  KvStatus status;
  Bytes buffer;  // the application's buffer, size bytes
  SQLLEN length;
  bool pastSize;  // a byte written beyond the buffer's size

  // The text up to its terminator.
  std::string text() const {
    const size_t end = std::find(buffer.begin(), buffer.end(), 0) - buffer.begin();
    return std::string(buffer.begin(), buffer.begin() + end);
  }
  // UTF-16LE up to its terminator.
  std::u16string wide() const {
    std::u16string out;
    for (size_t i = 0; i + 1 < buffer.size(); i += 2) {
      const char16_t unit = char16_t(buffer[i] | (buffer[i + 1] << 8));
      if (unit == 0) break;
      out += unit;
    }
    return out;
  }
  template <class T>
  T as() const {
    T value;
    std::memcpy(&value, buffer.data(), sizeof(T));
    return value;
  }
};

class ToCTest : public ConvertTest {
 protected:
  Fetched fetch(const BaseValueDesc& desc, int16_t cType, InternalType type, const Bytes& value, uint32_t size,
                uint32_t offset = 0, bool huge = false, BaseConnection* connection = nullptr) {
    unsigned char buffer[512];
    std::memset(buffer, untouched, sizeof(buffer));
    SQLLEN length = -99;
    BaseOutString out(buffer, SQLLEN(size), &length);
    Fetched f;
    f.status = huge ? BaseConvertToCHuge(3, desc, cType, &out, value.data(), int32_t(value.size()), type, offset,
                                         connection)
                    : BaseConvertToC(3, desc, cType, &out, value.data(), int32_t(value.size()), type, offset,
                                     connection);
    f.buffer.assign(buffer, buffer + size);
    f.length = length;
    f.pastSize = buffer[size] != untouched;
    return f;
  }
};

const DATE_STRUCT july4 = {1995, 7, 4};
const TIMESTAMP_STRUCT july4At1030 = {1995, 7, 4, 10, 30, 0, 0};

// SQL_C_CHAR: buffer minimums of date columns, hexadecimal binary, copies,
// numbers in the column's scale.
TEST_F(ToCTest, TextAndItsBufferMinimums) {
  struct Case {
    BaseValueDesc desc;
    InternalType type;
    Bytes value;
    uint32_t size;
    const char* text;  // null: 22003 with "Numeric overflow."
    SQLLEN length;
    bool warned;
  } cases[] = {
      {column(SQL_DATE), itDate, raw(july4), 10, nullptr, 0, false},
      {column(SQL_DATE), itDate, raw(july4), 11, "1995-07-04", 10, false},
      {column(SQL_DATE), itChar, text("1995-07-04"), 10, nullptr, 0, false},
      {column(SQL_DATE), itChar, text("1995-07-04"), 11, "1995-07-04", 10, false},
      {column(SQL_TIME), itChar, text("10:30:00"), 8, nullptr, 0, false},
      {column(SQL_TIMESTAMP), itTimestamp, raw(july4At1030), 19, nullptr, 0, false},
      {column(SQL_TIMESTAMP), itTimestamp, raw(july4At1030), 20, "1995-07-04 10:30:00", 19, false},
      {column(SQL_VARBINARY), itBinary, Bytes{0x01, 0x02, 0xAB, 0x04, 0x05}, 7, "0102AB", 10, true},
      {column(SQL_VARBINARY), itBinary, Bytes{0x01, 0x02, 0xAB, 0x04, 0x05}, 11, "0102AB0405", 10, false},
      {column(SQL_VARCHAR), itChar, text("abcdef"), 4, "abc", 6, true},
      {column(SQL_VARCHAR), itChar, text("abcdef"), 7, "abcdef", 6, false},
      {column(SQL_INTEGER), itSLong, raw(int32_t(-42)), 4, "-42", 3, false},
      {column(SQL_INTEGER), itSLong, raw(int32_t(-42)), 3, nullptr, 0, false},
      {column(SQL_NUMERIC, 10, 2), itChar, text(" 12.5 "), 10, "12.50", 5, false},
      {column(SQL_NUMERIC, 10, 0), itChar, text("12.5"), 10, "12.5", 4, false},
      {column(SQL_NUMERIC, 5, 2), itPacked, Bytes{0x12, 0x34, 0x5D}, 10, "-123.45", 7, false},
      {column(SQL_NUMERIC, 5, 2), itPacked, Bytes{0x12, 0x34, 0x5D}, 7, "-123.4", 6, true},
  };
  for (const Case& c : cases) {
    const Fetched f = fetch(c.desc, SQL_C_CHAR, c.type, c.value, c.size);
    const std::vector<std::string> got = takeDiagnostics();
    EXPECT_FALSE(f.pastSize);
    if (!c.text) {
      EXPECT_NE(f.status, kvSuccess) << c.desc.sqlType << " in " << c.size;
      EXPECT_EQ(got, diag("22003"));
      continue;
    }
    ASSERT_EQ(f.status, kvSuccess) << c.text;
    EXPECT_EQ(f.text(), c.text);
    EXPECT_EQ(f.length, c.length) << c.text;
    EXPECT_EQ(got, c.warned ? diag("w01004") : diag()) << c.text;
  }
  fetch(column(SQL_DATE), SQL_C_CHAR, itDate, raw(july4), 10);
  EXPECT_EQ(lastText(), "Numeric overflow.");
  fetch(column(SQL_VARBINARY), SQL_C_CHAR, itBinary, Bytes{1, 2, 3, 4, 5}, 7);
  EXPECT_EQ(lastText(), "Data Truncated.");
}

// REAL columns never show more than 13 characters, FLOAT and DOUBLE columns
// never more than 22, however large the buffer.
TEST_F(ToCTest, ApproximateColumnsAreClamped) {
  Bytes thirtyDigits(baseDecimalHeaderBytes + 30, '7');
  basePutDecimalHeader(thirtyDigits.data(), BaseDecimalHeader{5, 30, 0});
  struct Case {
    int16_t sqlType;
    InternalType type;
    Bytes value;
    const char* text;
    SQLLEN length;
  } cases[] = {
      {SQL_DOUBLE, itDouble, raw(-1.2345678901234567e-300), "-1.23456789012346E-300", 22},
      {SQL_FLOAT, itDouble, raw(1.0 / 3), ".333333333333333", 16},
      {SQL_DOUBLE, itDecimal, thirtyDigits, "77777.7777777777777777", 22},
      {SQL_DOUBLE, itChar, text("1234567890.12345678901234567"), "1234567890.12345678901", 22},
      {SQL_REAL, itFloat, raw(-1.2345678e-30f), "-1.234568E-30", 13},
      {SQL_REAL, itChar, text("3.14159265358979"), "3.14159265358", 13},
      {SQL_DECIMAL, itDouble, raw(1.0 / 3), ".333333333333333", 16},
  };
  for (const Case& c : cases) {
    const Fetched f = fetch(column(c.sqlType, 15), SQL_C_CHAR, c.type, c.value, 100);
    ASSERT_EQ(f.status, kvSuccess) << c.text;
    EXPECT_EQ(f.text(), c.text);
    EXPECT_EQ(f.length, c.length) << c.text;
    EXPECT_TRUE(takeDiagnostics().empty()) << c.text;
  }
}

TEST_F(ToCTest, NumericCTypes) {
  struct Case {
    BaseValueDesc desc;
    int16_t cType;
    InternalType type;
    Bytes value;
    int64_t expected;
    SQLLEN length;
    const char* diagnostic;
  } cases[] = {
      {column(SQL_INTEGER), SQL_C_LONG, itSLong, raw(int32_t(42)), 42, 4, nullptr},
      {column(SQL_INTEGER), SQL_C_LONG, itDouble, raw(3.7), 3, 4, "w01004"},
      {column(SQL_INTEGER, 10, 0, true), SQL_C_LONG, itULong, raw(uint32_t(4294967295u)), 4294967295LL, 4, nullptr},
      {column(SQL_INTEGER), SQL_C_LONG, itULong, raw(uint32_t(4294967295u)), 0, 0, "22003"},
      {column(SQL_SMALLINT), SQL_C_SHORT, itSLong, raw(int32_t(70000)), 0, 0, "22003"},
      {column(SQL_SMALLINT), SQL_C_USHORT, itSLong, raw(int32_t(65535)), 65535, 2, nullptr},
      {column(SQL_TINYINT), SQL_C_STINYINT, itChar, text("-128"), -128, 1, nullptr},
      {column(SQL_BIT), SQL_C_BIT, itBit, Bytes{1}, 1, 1, nullptr},
      {column(SQL_NUMERIC, 10, 2), SQL_C_SLONG, itChar, text("12.99"), 12, 4, "w01004"},
      {column(SQL_BIGINT, 19), SQL_C_SBIGINT, itChar, text("-9223372036854775808"),
       std::numeric_limits<int64_t>::min(), 8, nullptr},
      {column(SQL_INTEGER), SQL_C_SBIGINT, itSLong, raw(int32_t(-5)), -5, 8, nullptr},
      {column(SQL_BIGINT, 20, 0, true), SQL_C_UBIGINT, itChar, text("18446744073709551615"), -1, 8, nullptr},
      {column(SQL_BIGINT, 19), SQL_C_SLONG, itChar, text("9223372036854775807"), 0, 0, "22003"},
  };
  for (const Case& c : cases) {
    const Fetched f = fetch(c.desc, c.cType, c.type, c.value, 8);
    const bool fails = c.diagnostic && c.diagnostic[0] != 'w';
    EXPECT_EQ(f.status == kvSuccess, !fails) << c.cType << " " << c.expected;
    EXPECT_EQ(takeDiagnostics(), c.diagnostic ? diag(c.diagnostic) : diag()) << c.cType << " " << c.expected;
    if (fails) continue;
    EXPECT_EQ(f.length, c.length);
    int64_t value = 0;
    switch (c.cType) {
      case SQL_C_LONG: value = c.desc.isUnsigned ? int64_t(f.as<uint32_t>()) : f.as<int32_t>(); break;
      case SQL_C_SLONG: value = f.as<int32_t>(); break;
      case SQL_C_USHORT: value = f.as<uint16_t>(); break;
      case SQL_C_STINYINT: value = f.as<int8_t>(); break;
      case SQL_C_BIT: value = f.as<uint8_t>(); break;
      default: value = f.as<int64_t>(); break;  // the 64-bit types: native order
    }
    EXPECT_EQ(value, c.expected) << c.cType;
  }
}

TEST_F(ToCTest, DateCTypes) {
  struct Case {
    int16_t sqlType;
    int16_t cType;
    InternalType type;
    Bytes value;
    TIMESTAMP_STRUCT expected;  // the fields the C type has
    const char* diagnostic;
  } cases[] = {
      {SQL_DATE, SQL_C_DATE, itChar, text("1995-07-04"), {1995, 7, 4, 0, 0, 0, 0}, nullptr},
      {SQL_DATE, SQL_C_TYPE_DATE, itDate, raw(july4), {1995, 7, 4, 0, 0, 0, 0}, nullptr},
      {SQL_DATE, SQL_C_TIMESTAMP, itChar, text("1995-07-04"), {1995, 7, 4, 0, 0, 0, 0}, nullptr},
      {SQL_DATE, SQL_C_TIMESTAMP, itDate, raw(july4), {1995, 7, 4, 0, 0, 0, 0}, nullptr},
      {SQL_TIMESTAMP, SQL_C_DATE, itChar, text("1995-07-04 10:30:00"), {1995, 7, 4, 0, 0, 0, 0}, "w01004"},
      {SQL_TIMESTAMP, SQL_C_TIMESTAMP, itDouble, raw(2449903.4375), {1995, 7, 4, 10, 30, 0, 0}, nullptr},
      {SQL_TIME, SQL_C_TIME, itChar, text("10:30:00"), {0, 0, 0, 10, 30, 0, 0}, nullptr},
      {SQL_DATE, SQL_C_DATE, itChar, text("1995-02-30"), {}, "22008"},
      {SQL_DATE, SQL_C_DATE, itDate, raw(DATE_STRUCT{1995, 13, 1}), {}, "22008"},
  };
  for (const Case& c : cases) {
    const Fetched f = fetch(column(c.sqlType), c.cType, c.type, c.value, 16);
    const bool fails = c.diagnostic && c.diagnostic[0] != 'w';
    EXPECT_EQ(f.status == kvSuccess, !fails) << c.sqlType << " " << c.cType;
    EXPECT_EQ(takeDiagnostics(), c.diagnostic ? diag(c.diagnostic) : diag()) << c.sqlType << " " << c.cType;
    if (fails) continue;
    const unsigned char* bytes = f.buffer.data();
    const SQLLEN length = f.length;
    if (c.cType == SQL_C_TIME) {
      TIME_STRUCT time;
      std::memcpy(&time, bytes, 6);
      EXPECT_EQ(length, 6);
      EXPECT_EQ(time.hour, c.expected.hour);
      EXPECT_EQ(time.minute, c.expected.minute);
    } else if (c.cType == SQL_C_TIMESTAMP) {
      TIMESTAMP_STRUCT stamp;
      std::memcpy(&stamp, bytes, 16);
      EXPECT_EQ(length, 16);
      EXPECT_EQ(std::memcmp(&stamp, &c.expected, 16), 0) << stamp.year << "-" << stamp.month << "-" << stamp.day
                                                          << " " << stamp.hour << ":" << stamp.minute;
    } else {
      DATE_STRUCT date;
      std::memcpy(&date, bytes, 6);
      EXPECT_EQ(length, 6);
      EXPECT_EQ(date.year, c.expected.year);
      EXPECT_EQ(date.month, c.expected.month);
      EXPECT_EQ(date.day, c.expected.day);
    }
  }
}

// SQL_C_BINARY: text and binary columns raw, other types as their fixed
// binary image, which must fit the buffer whole.
TEST_F(ToCTest, BinaryImages) {
  struct Case {
    BaseValueDesc desc;
    InternalType type;
    Bytes value;
    uint32_t size;
    Bytes expected;  // empty: 22003
    SQLLEN length;
    bool warned;
  } cases[] = {
      {column(SQL_INTEGER), itSLong, raw(int32_t(0x01020304)), 3, {}, 0, false},
      {column(SQL_INTEGER), itSLong, raw(int32_t(0x01020304)), 4, raw(int32_t(0x01020304)), 4, false},
      {column(SQL_INTEGER), itChar, text("258"), 4, raw(int32_t(258)), 4, false},
      {column(SQL_SMALLINT), itSLong, raw(int32_t(-2)), 2, raw(int16_t(-2)), 2, false},
      {column(SQL_DOUBLE), itDouble, raw(1.5), 8, raw(1.5), 8, false},
      {column(SQL_REAL), itDouble, raw(1.5), 4, raw(1.5f), 4, false},
      {column(SQL_NUMERIC, 5, 2), itDouble, raw(123.45), 3, Bytes{0x12, 0x34, 0x5C}, 3, false},
      {column(SQL_NUMERIC, 5, 2), itDouble, raw(123.45), 2, {}, 0, false},
      {column(SQL_DATE), itChar, text("1995-07-04"), 6, raw(july4), 6, false},
      {column(SQL_VARCHAR), itChar, text("abc"), 2, text("ab"), 3, true},
      {column(SQL_VARBINARY), itBinary, Bytes{1, 2, 3}, 8, Bytes{1, 2, 3}, 3, false},
  };
  for (const Case& c : cases) {
    const Fetched f = fetch(c.desc, SQL_C_BINARY, c.type, c.value, c.size);
    const std::vector<std::string> got = takeDiagnostics();
    EXPECT_FALSE(f.pastSize);
    if (c.expected.empty()) {
      EXPECT_NE(f.status, kvSuccess) << c.desc.sqlType << " in " << c.size;
      EXPECT_EQ(got, diag("22003"));
      continue;
    }
    ASSERT_EQ(f.status, kvSuccess) << c.desc.sqlType;
    EXPECT_EQ(Bytes(f.buffer.begin(), f.buffer.begin() + c.expected.size()), c.expected) << c.desc.sqlType;
    EXPECT_EQ(f.length, c.length) << c.desc.sqlType;
    EXPECT_EQ(got, c.warned ? diag("w01004") : diag()) << c.desc.sqlType;
  }
}

// A driver that hands binary images itself gets its bytes copied whole, or
// not at all.
TEST_F(ToCTest, DriverHandledBinary) {
  class BinaryConnection : public UnitConnection {
   public:
    using UnitConnection::UnitConnection;
    int isBinaryCTypeHandled(int16_t sqlType) override { return sqlType == SQL_NUMERIC; }
  };
  BaseEnv env(1);
  BinaryConnection connection(&env);
  const Bytes image = {9, 8, 7, 6, 5};
  Fetched f = fetch(column(SQL_NUMERIC, 5, 2), SQL_C_BINARY, itBinary, image, 5, 0, false, &connection);
  ASSERT_EQ(f.status, kvSuccess);
  EXPECT_EQ(f.buffer, image);
  f = fetch(column(SQL_NUMERIC, 5, 2), SQL_C_BINARY, itBinary, image, 4, 0, false, &connection);
  EXPECT_NE(f.status, kvSuccess);
  EXPECT_EQ(takeDiagnostics(), diag("22003"));
}

// SQL_C_WCHAR: the text of SQL_C_CHAR as UTF-16LE; room in 2-byte
// characters, lengths in bytes.
TEST_F(ToCTest, WideText) {
  const Bytes gruesse = {'G', 'r', 0xFC, 0xDF, 'e', ' ', 0x80};
  struct Case {
    BaseValueDesc desc;
    InternalType type;
    Bytes value;
    uint32_t size;
    std::u16string text;
    SQLLEN length;
    const char* diagnostic;
  } cases[] = {
      {column(SQL_VARCHAR), itChar, gruesse, 100, u"Gr\u00FC\u00DFe \u20AC", 14, nullptr},
      {column(SQL_VARCHAR), itChar, gruesse, 8, u"Gr\u00FC", 14, "w01004"},
      {column(SQL_VARCHAR), itChar, gruesse, 9, u"Gr\u00FC", 14, "w01004"},
      {column(SQL_VARCHAR), itChar, gruesse, 1, u"", 14, "w01004"},
      {column(SQL_INTEGER), itSLong, raw(int32_t(42)), 100, u"42", 4, nullptr},
      {column(SQL_VARBINARY), itBinary, Bytes{0xAB, 0x01}, 100, u"AB01", 8, nullptr},
      {column(SQL_DATE), itDate, raw(july4), 22, u"1995-07-04", 20, nullptr},
      {column(SQL_DATE), itDate, raw(july4), 21, u"", 0, "22003"},
  };
  for (const Case& c : cases) {
    const Fetched f = fetch(c.desc, SQL_C_WCHAR, c.type, c.value, c.size);
    const bool fails = c.diagnostic && c.diagnostic[0] != 'w';
    EXPECT_EQ(f.status == kvSuccess, !fails) << c.size;
    EXPECT_EQ(takeDiagnostics(), c.diagnostic ? diag(c.diagnostic) : diag()) << c.size;
    EXPECT_FALSE(f.pastSize) << c.size;
    if (fails) continue;
    EXPECT_EQ(f.wide(), c.text) << c.size;
    EXPECT_EQ(f.length, c.length) << c.size;
    if (c.size == 1) {
      EXPECT_EQ(f.buffer[0], untouched) << "no room even for a terminator";
    }
  }
}

// C types outside ODBC 2 that are not converted are refused; nothing
// "succeeds" without writing.
TEST_F(ToCTest, RefusedCTypesWriteNothing) {
  for (int16_t cType : {int16_t(SQL_C_NUMERIC), int16_t(SQL_C_GUID), int16_t(12345)}) {
    const Fetched f = fetch(column(SQL_INTEGER), cType, itSLong, raw(int32_t(42)), 16);
    EXPECT_NE(f.status, kvSuccess) << cType;
    EXPECT_EQ(takeDiagnostics(), diag("S1003")) << cType;
    EXPECT_EQ(f.length, -99) << cType;
    EXPECT_EQ(f.buffer, Bytes(16, untouched)) << cType;
  }
}

// Long values in pieces: each piece carries on where the last one ended,
// the last comes without a warning.
TEST_F(ToCTest, PiecesJoinToTheWholeValue) {
  std::string long300;
  for (int i = 0; i < 300; ++i) long300 += char('a' + i % 26);
  Bytes binary150(150);
  for (int i = 0; i < 150; ++i) binary150[i] = uint8_t(i);
  std::string hex150;
  for (int i = 0; i < 150; ++i) {
    static const char digits[] = "0123456789ABCDEF";
    hex150 += digits[i >> 4];
    hex150 += digits[i & 15];
  }
  struct Case {
    int16_t sqlType;
    int16_t cType;
    InternalType type;
    Bytes value;
    uint32_t size;
    std::string whole;
    int pieces;
  } cases[] = {
      {SQL_LONGVARCHAR, SQL_C_CHAR, itChar, text(long300.c_str()), 101, long300, 3},
      {SQL_LONGVARCHAR, SQL_C_WCHAR, itChar, text(long300.c_str()), 202, long300, 3},
      {SQL_LONGVARBINARY, SQL_C_CHAR, itBinary, binary150, 101, hex150, 3},
      {SQL_LONGVARBINARY, SQL_C_BINARY, itBinary, binary150, 60, std::string(binary150.begin(), binary150.end()), 3},
      {SQL_DECIMAL, SQL_C_CHAR, itChar, text("123.456789"), 5, "123.456789", 3},
  };
  for (bool huge : {false, true}) {
    for (const Case& c : cases) {
      if (huge && c.sqlType == SQL_DECIMAL) continue;
      std::string joined;
      uint32_t offset = 0;
      int pieces = 0;
      for (;;) {
        const Fetched f = fetch(column(c.sqlType, 300, 0), c.cType, c.type, c.value, c.size, offset, huge);
        ASSERT_EQ(f.status, kvSuccess);
        ++pieces;
        if (c.cType == SQL_C_WCHAR) {
          for (char16_t unit : f.wide()) joined += char(unit);
        } else if (c.cType == SQL_C_BINARY) {
          joined.append(f.buffer.begin(), f.buffer.begin() + std::min<SQLLEN>(f.length, c.size));
        } else {
          joined += f.text();
        }
        if (takeDiagnostics().empty() || pieces > 10) break;
        offset += BaseGetDataPieceBytes(c.cType, c.sqlType, c.size);
      }
      EXPECT_EQ(joined, c.whole) << c.sqlType << " as " << c.cType << (huge ? " (huge)" : "");
      EXPECT_EQ(pieces, c.pieces) << c.sqlType << " as " << c.cType;
    }
  }
  EXPECT_EQ(BaseGetDataPieceBytes(SQL_C_LONG, SQL_INTEGER, 4), 0u) << "fixed-size values come whole, once";
  EXPECT_EQ(BaseGetDataPieceBytes(SQL_C_CHAR, SQL_LONGVARCHAR, 0), 0u);
}

// A number in a column that is not numeric keeps its own kind; a driver's
// value shorter than its fixed-size form is refused before it is read.
TEST_F(ToCTest, ValuesThatDoNotMatchTheirColumn) {
  Fetched f = fetch(column(SQL_VARCHAR, 20), SQL_C_CHAR, itDouble, raw(1e300), 10);
  ASSERT_EQ(f.status, kvSuccess);
  EXPECT_EQ(f.text(), "1E300");
  f = fetch(column(SQL_INTEGER), SQL_C_LONG, itSLong, Bytes{1, 2}, 4);
  EXPECT_NE(f.status, kvSuccess);
  EXPECT_EQ(takeDiagnostics(), diag("S1000"));
}

TEST_F(ToCTest, HugeBinaryAsTextNamesTheColumn) {
  const Fetched f = fetch(column(SQL_LONGVARBINARY), SQL_C_CHAR, itBinary, Bytes{1, 2, 3}, 5, 0, true);
  ASSERT_EQ(f.status, kvSuccess);
  EXPECT_EQ(f.text(), "0102");
  EXPECT_EQ(f.length, 6);
  EXPECT_EQ(lastText(), "Data truncated, column 3.");
  EXPECT_EQ(takeDiagnostics(), diag("w01004"));
  // Other C types convert as they do for any column.
  const Fetched n = fetch(column(SQL_INTEGER), SQL_C_LONG, itChar, text("77"), 4, 0, true);
  ASSERT_EQ(n.status, kvSuccess);
  EXPECT_EQ(n.as<int32_t>(), 77);
}

}  // namespace
