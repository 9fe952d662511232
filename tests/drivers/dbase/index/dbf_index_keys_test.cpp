// Key forms and key orders: text keys cut and padded (and made OEM for OEM
// tables), doubles as they are, .MDX packed decimals byte for byte and in
// numeric order, text under the plain and the international order.
#include "drivers/dbase/index/dbf_index_keys.h"
#include "tests/drivers/dbase/index/dbf_index_test_support.h"

#include <cmath>

namespace {

std::string hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::string bcd(double value) {
  uint8_t key[dbfBcdKeyBytes];
  dbfMakeBcdKey(value, key);
  return std::string(reinterpret_cast<char*>(key), sizeof(key));
}

int sign(int value) { return value < 0 ? -1 : value > 0 ? 1 : 0; }

}  // namespace

TEST(DbfIndexKeys, PackedDecimalBytes) {
  const struct {
    double value;
    const char* bytes;
  } cases[] = {
      {1, "354110000000000000000000"},
      {-1, "35c110000000000000000000"},
      {12.5, "364112500000000000000000"},
      {-0.025, "33c125000000000000000000"},
      {123456789012345.0, "434112345678901234500000"},
      {0.1, "344110000000000000000000"},
      {0, "344100000000000000000000"},
      {-0.0, "344100000000000000000000"},
      {1e-60, "344100000000000000000000"},  // beyond the exponent byte: zero
  };
  for (const auto& c : cases) {
    EXPECT_EQ(hex(bcd(c.value)), c.bytes) << c.value;
    uint8_t key[dbfBcdKeyBytes];
    dbfMakeBcdKey(c.value, key);
    if (std::fabs(c.value) > 1e-50) {
      EXPECT_DOUBLE_EQ(dbfBcdKeyValue(key), c.value);
    }
  }
}

TEST(DbfIndexKeys, PackedDecimalsSortNumerically) {
  // Every pair of these in both directions, against the numbers' order.
  const double values[] = {-1e30, -12345.678, -2, -1, -0.5, -0.001, 0, 0.001, 0.5, 1, 1.5, 2, 10, 99.99, 100,
                           1e30};
  for (double a : values)
    for (double b : values) {
      std::string ka = bcd(a), kb = bcd(b);
      int want = a < b ? -1 : a > b ? 1 : 0;
      EXPECT_EQ(sign(dbfCompareBcdKeys(reinterpret_cast<const uint8_t*>(ka.data()),
                                       reinterpret_cast<const uint8_t*>(kb.data()))),
                want)
          << a << " vs " << b;
    }
  // Zero is zero whatever exponent another program gave it; -1 sorts
  // before 1 whatever their digits.
  std::string otherZero = bcd(0);
  otherZero[0] = 53;
  std::string zero = bcd(0), minusOne = bcd(-1), one = bcd(1);
  auto compare = [](const std::string& a, const std::string& b) {
    return sign(dbfCompareBcdKeys(reinterpret_cast<const uint8_t*>(a.data()), reinterpret_cast<const uint8_t*>(b.data())));
  };
  EXPECT_EQ(compare(otherZero, zero), 0);
  EXPECT_EQ(compare(otherZero, bcd(0.5)), -1);
  EXPECT_EQ(compare(minusOne, one), -1);
  EXPECT_EQ(compare(one, minusOne), 1);
}

TEST(DbfIndexKeys, DoublesAndText) {
  const struct {
    double a, b;
    int order;
  } doubles[] = {{-1, 1, -1}, {2451545, 2451544, 1}, {-0.0, 0.0, 0}, {1e100, 2451545, 1}, {-5, -4.5, -1}};
  for (const auto& c : doubles)
    EXPECT_EQ(sign(dbfCompareDoubleKeys(reinterpret_cast<const uint8_t*>(&c.a), reinterpret_cast<const uint8_t*>(&c.b))),
              c.order)
        << c.a << " vs " << c.b;

  const struct {
    const char* a;
    const char* b;
    int plain, intl;
  } texts[] = {
      {"apple", "Banana", 1, -1},     // bytes: 'a' > 'B'; collated: a before b
      {"\xE9t\xE9", "fin", 1, -1},    // e acute after 'f' as a byte, before it collated
      {"ABC", "ABD", -1, -1},
      {"same", "same", 0, 0},
  };
  for (const auto& c : texts) {
    std::string a = c.a, b = c.b;
    a.resize(8, ' ');
    b.resize(8, ' ');
    const auto* pa = reinterpret_cast<const uint8_t*>(a.data());
    const auto* pb = reinterpret_cast<const uint8_t*>(b.data());
    EXPECT_EQ(sign(dbfCompareTextKeys(pa, pb, 8, false)), c.plain) << c.a << " vs " << c.b;
    EXPECT_EQ(sign(dbfCompareTextKeys(pa, pb, 8, true)), c.intl) << c.a << " vs " << c.b;
  }
}

TEST(DbfIndexKeys, TextKeysAreCutAndPadded) {
  const struct {
    const char* value;
    uint32_t length;
    const char* key;  // 6 bytes
  } cases[] = {
      {"AB", 2, "AB    "},
      {"ABCDEF", 6, "ABCDEF"},
      {"ABCDEFGHIJKLMNOP", 16, "ABCDEF"},  // longer than the key: cut, nothing written beyond
      {"", 0, "      "},
  };
  for (const auto& c : cases) {
    uint8_t key[16];
    std::memset(key, 0x55, sizeof(key));
    dbfMakeTextKey(kvU(c.value), c.length, 6, false, key);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(key), 6), c.key);
    EXPECT_EQ(key[6], 0x55) << "the byte after the key is untouched";
  }
  uint8_t key[4];
  dbfMakeTextKey(kvU("\xE9t\xE9"), 3, 4, true, key);  // ANSI e acute is 0x82 in code page 437
  EXPECT_EQ(std::string(reinterpret_cast<char*>(key), 4), "\x82t\x82 ");
}

class DbfIndexKeyFormsTest : public DbfIndexFixture {};

// makeKey of each index by its key type, on an OEM table: text cut or
// padded and made OEM, dates and doubles as they are (the blank date too),
// numbers of an .MDX packed.
TEST_F(DbfIndexKeyFormsTest, MakeKeyByKeyType) {
  openPlainTable(0, "CS=IBMPC");
  DbfNdx3Desc* text = newNdx3("c.ndx", 'C', 5);
  DbfNdx3Desc* number = newNdx3("f.ndx", 'F', 8);
  DbfMdxDesc* packed = newMdxTag("n.mdx", "N", 'N', 12);
  DbfMdxDesc* date = newMdxTag("d.mdx", "D", 'D', 8);
  EXPECT_EQ(keyOf(text, std::string("\xE9t\xE9")), "\x82t\x82  ");
  EXPECT_EQ(keyOf(text, std::string("ABCDEFGH")), "ABCDE");
  double v = -12.5;
  EXPECT_EQ(keyOf(number, v), std::string(reinterpret_cast<char*>(&v), 8));
  EXPECT_EQ(hex(keyOf(packed, -1.0)), "35c110000000000000000000");
  double blank = 1e100;
  EXPECT_EQ(keyOf(date, blank), std::string(reinterpret_cast<char*>(&blank), 8));
  EXPECT_LT(date->compareKeys(reinterpret_cast<const uint8_t*>(keyOf(date, 2451545.0).data()),
                              reinterpret_cast<const uint8_t*>(keyOf(date, blank).data())),
            0)
      << "a blank date sorts after every date";
}
