// Byte-string functions and byte primitives: comparisons, quoting, searches,
// trimming, LIKE, and their double-byte behaviour.
#include "util/containers/str_functions.h"

#include "util/charsets/charset.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

const unsigned char shiftJisLeadBytes[] = {0x81, 0x9F, 0xE0, 0xFC, 0, 0};

class StrFunctions : public ::testing::Test {
 protected:
  void TearDown() override { kvSetDbcsLeadBytes(nullptr); }
  static void dbcsOn() { kvSetDbcsLeadBytes(shiftJisLeadBytes); }
};

const unsigned char* u(const std::string& s) { return kvU(s.c_str()); }
uint32_t len(const std::string& s) { return uint32_t(s.size()); }

TEST_F(StrFunctions, CompareCountedTexts) {
  struct Case {
    std::string a, b;
    int expected;
  };
  const Case cases[] = {
      {"AB", "ABC", -1}, {"ABC", "AB", 1}, {"AB", "AB", 0},       {"", "", 0},
      {"", "a", -1},     {"a", "B", 1},    {"\xE9", "e", 1},      {std::string("a\0b", 3), std::string("a\0c", 3), -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(strCompare(u(c.a), len(c.a), u(c.b), len(c.b)), c.expected) << c.a << " / " << c.b;
  }
}

TEST_F(StrFunctions, CompareIgnoringCase) {
  struct Case {
    std::string a, b;
    int expected;
  };
  const Case cases[] = {
      {"abc", "ABC", 0},         {"abc", "ABD", -1},   {"ab", "ABC", -1}, {"ABC", "ab", 1},
      {"\xE9t\xE9", "\xC9T\xC9", 0},  // été
      {"\xFF", "\x9F", 0},       // ÿ Ÿ
      {"\xDF", "SS", 1},         // ß has no upper case of its own
      {"[", "a", 1},             // compared upper-cased: "A" < "["
      {"", "", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(strCompareCi(u(c.a), u(c.b)), c.expected) << c.a << " / " << c.b;
    EXPECT_EQ(strCompareCi(u(c.a), len(c.a), u(c.b), len(c.b)), c.expected) << c.a << " / " << c.b;
    EXPECT_EQ(strEqualCi(u(c.a), u(c.b)), c.expected == 0) << c.a << " / " << c.b;
    EXPECT_EQ(strEqualCi(u(c.a), len(c.a), u(c.b), len(c.b)), c.expected == 0) << c.a << " / " << c.b;
  }
  EXPECT_FALSE(strEqualCi(kvU("ab"), 2, kvU("AB"), 1));
  EXPECT_EQ(strCompareCi(kvU("abX"), 2, kvU("ABY"), 2), 0);
}

TEST_F(StrFunctions, DoubleBytePairsCompareExactly) {
  // The trail byte "a" is no letter inside a pair.
  const std::string a = "\x81" "a", b = "\x81" "A";
  EXPECT_EQ(strCompareCi(u(a), u(b)), 0);
  dbcsOn();
  EXPECT_EQ(strCompareCi(u(a), u(b)), 1);
  EXPECT_EQ(strCompareCi(u(a), len(a), u(b), len(b)), 1);
  EXPECT_FALSE(strEqualCi(u(a), u(b)));
  EXPECT_TRUE(strEqualCi(kvU("x\x81" "a"), kvU("X\x81" "a")));
}

TEST_F(StrFunctions, CompareWithMaxLengthAndPad) {
  EXPECT_EQ(strCompareWithMaxLength(kvU("abcX"), kvU("abcY"), 3), 0);
  EXPECT_EQ(strCompareWithMaxLength(kvU("abcX"), kvU("abcY"), 4), -1);
  EXPECT_EQ(strCompareWithMaxLength(kvU("ab"), kvU("abc"), 9), -1);
  EXPECT_EQ(strCompareWithMaxLength(kvU("\xE9"), kvU("e"), 1), 1);

  struct Case {
    const char *a, *b;
    int expected;
  };
  const Case pad[] = {
      {"AB", "AB  ", 0}, {"AB  ", "AB", 0}, {"AB", "ABC", -1}, {"ABC", "AB", 1},
      {"AB", "AB x", -1}, {"AB\t", "AB", 1}, {"AA", "AB", -1}, {"", "", 0},
  };
  for (const Case& c : pad) EXPECT_EQ(strComparePad(kvU(c.a), kvU(c.b)), c.expected) << c.a << " / " << c.b;
}

TEST_F(StrFunctions, CompareInternational) {
  EXPECT_EQ(strCompareIntl(kvU("a"), kvU("B")), -1);  // bytes would say 1
  EXPECT_EQ(strCompareIntl(kvU("B"), kvU("a")), 1);
  EXPECT_EQ(strCompareIntl(kvU("a"), kvU("A")), -1);
  EXPECT_EQ(strCompareIntl(kvU("r\xE9sum\xE9"), kvU("resumes")), -1);
  EXPECT_EQ(strCompareIntl(kvU("abc"), 2, kvU("ab"), 2), 0);
  EXPECT_EQ(strCompareIntl(kvU("abc"), 3, kvU("ab"), 2), 1);
}

TEST_F(StrFunctions, FloatCompareOrdersLikeTheNumbers) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<double> values = {-inf, -1e300, -2.5, -1, -1e-300, 0, 1e-300, 1, 1.25, 1.5, 1e300, inf};
  for (size_t i = 0; i < values.size(); ++i) {
    for (size_t j = 0; j < values.size(); ++j) {
      int expected = i < j ? -1 : i > j ? 1 : 0;
      EXPECT_EQ(floatCompare(&values[i], &values[j]), expected) << values[i] << " / " << values[j];
    }
  }
  const double plusZero = 0.0, minusZero = -0.0;
  EXPECT_EQ(floatCompare(&plusZero, &minusZero), 0);
  EXPECT_EQ(floatCompare(&minusZero, &plusZero), 0);
  const double minusOne = -1;
  EXPECT_EQ(floatCompare(&minusZero, &minusOne), 1);
}

TEST_F(StrFunctions, MemCompareHugeIsUnsignedOverLargeBlocks) {
  std::vector<unsigned char> a(100000, 7), b(100000, 7);
  EXPECT_EQ(memCompareHuge(a.data(), b.data(), uint32_t(a.size())), 0);
  b.back() = 0x80;
  EXPECT_EQ(memCompareHuge(a.data(), b.data(), uint32_t(a.size())), -1);
  EXPECT_EQ(memCompareHuge(b.data(), a.data(), uint32_t(a.size())), 1);
  EXPECT_EQ(memCompareHuge(a.data(), b.data(), uint32_t(a.size()) - 1), 0);
  EXPECT_EQ(memCompareHuge(nullptr, nullptr, 0), 0);
}

TEST_F(StrFunctions, CopyBoundedAndExact) {
  unsigned char dest[16];
  std::memset(dest, 'Z', sizeof(dest));
  EXPECT_EQ(strCopy(dest, 4, kvU("abcdef")), dest + 3);
  EXPECT_STREQ(kvC(dest), "abc");
  EXPECT_EQ(dest[4], 'Z');
  EXPECT_EQ(strCopy(dest, 16, kvU("ab")), dest + 2);
  EXPECT_STREQ(kvC(dest), "ab");
  dest[0] = 'Q';
  EXPECT_EQ(strCopy(dest, 0, kvU("abc")), dest);  // no room even for the terminator
  EXPECT_EQ(dest[0], 'Q');

  std::memset(dest, 'Z', sizeof(dest));
  EXPECT_EQ(strCopy(dest, kvU("abcdef"), 2), dest + 2);
  EXPECT_STREQ(kvC(dest), "ab");
  EXPECT_EQ(strCopy(dest, kvU("a\0b"), 3), dest + 3);  // exactly n bytes, zeros included
  EXPECT_EQ(dest[2], 'b');
  EXPECT_EQ(dest[3], 0);
}

TEST_F(StrFunctions, QuoteAndUnquote) {
  unsigned char dest[64];
  unsigned char* end = strCopyQuoted(dest, kvU("it's"), '\'');
  EXPECT_STREQ(kvC(dest), "'it''s'");
  EXPECT_EQ(end, dest + 7);
  EXPECT_EQ(strQuotedLength(kvU("it's"), 4, '\''), 7u);
  strCopyQuoted(dest, kvU("a\"b'c"), 3, '"');
  EXPECT_STREQ(kvC(dest), "\"a\"\"b\"");
  strCopy(dest, sizeof(dest), kvU("x="));
  strCatQuoted(dest, kvU(""), '\'');
  EXPECT_STREQ(kvC(dest), "x=''");

  struct Case {
    const char *quoted, *plain;
  };
  const Case unquote[] = {
      {"'it''s'", "it's"}, {"\"a\"", "a"}, {"''", ""}, {"'", ""}, {"", ""}, {"'a'b'", "a'b"}, {"''''", "'"},
  };
  for (const Case& c : unquote) {
    end = strCopyUnquoted(dest, kvU(c.quoted));
    EXPECT_STREQ(kvC(dest), c.plain) << c.quoted;
    EXPECT_EQ(end, dest + std::strlen(c.plain));
  }
  unsigned char inPlace[] = "'a''b'";
  strCopyUnquoted(inPlace, inPlace);
  EXPECT_STREQ(kvC(inPlace), "a'b");
  strCopyUnquoted(dest, kvU("'abc'def"), 5);
  EXPECT_STREQ(kvC(dest), "abc");
}

TEST_F(StrFunctions, QuotingKeepsDoubleByteTrailBytes) {
  dbcsOn();
  // 0x81 0x27: a pair whose trail byte is the quote character.
  unsigned char dest[16];
  strCopyQuoted(dest, kvU("\x81'"), '\'');
  EXPECT_STREQ(kvC(dest), "'\x81''");
  strCopyUnquoted(dest, kvU("'\x81''"));
  EXPECT_STREQ(kvC(dest), "\x81'");
}

TEST_F(StrFunctions, RemoveQuotesOnlyFromProperlyQuotedTexts) {
  struct Case {
    const char *before, *after;
  };
  const Case cases[] = {
      {"'ab'", "ab"},   {"'it''s'", "it's"}, {"''", ""},         {"''''", "'"},
      {"'a'b'", "'a'b'"}, {"'ab", "'ab"},    {"ab'", "ab'"},     {"'", "'"},
      {"'''", "'''"},   {"\"ab\"", "\"ab\""}, {"", ""},
  };
  for (const Case& c : cases) {
    unsigned char s[32];
    strCopy(s, sizeof(s), kvU(c.before));
    EXPECT_EQ(strRemoveQuotes(s, '\''), std::strlen(c.after)) << c.before;
    EXPECT_STREQ(kvC(s), c.after) << c.before;
  }
  // The counted form leaves the bytes behind the text alone.
  unsigned char view[] = "'ab'XYZ";
  EXPECT_EQ(strRemoveQuotes(view, 4, '\''), 2u);
  EXPECT_EQ(std::memcmp(view, "ab\0'XYZ", 8), 0);
}

TEST_F(StrFunctions, FindCharactersAndStrings) {
  const unsigned char* s = kvU("a.b.c");
  EXPECT_EQ(strFind(s, '.'), s + 1);
  EXPECT_EQ(strFindReverse(s, '.'), s + 3);
  EXPECT_EQ(strFind(s, 'x'), nullptr);
  EXPECT_EQ(strFindReverse(s, 'x'), nullptr);
  const unsigned char* h = kvU("hello world");
  EXPECT_EQ(strFind(h, kvU("o w")), h + 4);
  EXPECT_EQ(strFind(h, kvU("")), h);
  EXPECT_EQ(strFind(h, kvU("worlds")), nullptr);
  unsigned char writable[] = "key=value";
  unsigned char* eq = strFind(writable, '=');
  ASSERT_NE(eq, nullptr);
  *eq = 0;
  EXPECT_STREQ(kvC(writable), "key");
}

TEST_F(StrFunctions, FindStepsOverDoubleBytePairs) {
  const unsigned char* s = kvU("\x81.x.");
  const unsigned char* t = kvU("\x81" "ab");
  EXPECT_EQ(strFind(s, '.'), s + 1);
  EXPECT_EQ(strFind(t, kvU("ab")), t + 1);
  dbcsOn();
  EXPECT_EQ(strFind(s, '.'), s + 3);
  EXPECT_EQ(strFindReverse(kvU("\x81."), '.'), nullptr);
  EXPECT_EQ(strFind(t, kvU("ab")), nullptr);  // "a" is the trail byte of a pair
  EXPECT_EQ(strFind(t, kvU("b")), t + 2);
}

TEST_F(StrFunctions, FindOutsideQuotes) {
  struct Case {
    const char* s;
    char c, q1, q2, q3;
    int expected;  // offset, -1 for none
  };
  const Case cases[] = {
      {"a='x,y',b", ',', '\'', 0, 0, 7},
      {"'a,b'", ',', '\'', 0, 0, -1},
      {"\"a,b\",c", ',', '\'', '"', 0, 5},
      {"\"a,b\",c", ',', '\'', 0, 0, 2},  // double quotes are not quotes here
      {"`a'b`,'c,d'", ',', '\'', '"', '`', 5},
      {"'a,b", ',', '\'', 0, 0, -1},  // the quoted part runs to the end
      {"a,b", ',', 0, 0, 0, 1},
  };
  for (const Case& c : cases) {
    const unsigned char* found = strFind(kvU(c.s), c.c, c.q1, c.q2, c.q3);
    EXPECT_EQ(found ? int(found - kvU(c.s)) : -1, c.expected) << c.s;
  }
}

TEST_F(StrFunctions, ContainsAndDoesNotContain) {
  struct Case {
    std::string text;
    const char* chars;
    uint16_t classes;
    int contains, doesNotContain;
  };
  const Case cases[] = {
      {"abc", nullptr, kvContainsLower, 1, 0},
      {"abC", nullptr, kvContainsLower, 0, 0},
      {"abC", nullptr, kvContainsLower | kvContainsUpper, 1, 0},
      {"a-1", "-", kvContainsLower | kvContainsDigit, 1, 0},
      {"ABC", nullptr, kvContainsLower, 0, 1},
      {"", "x", kvContainsDigit, 1, 1},
      {"a b", " ", 0, 0, 0},
      {"ab", " ", 0, 0, 1},
      {"\xE9", nullptr, kvContainsLower | kvContainsUpper, 0, 1},  // classes are ASCII only
      {std::string("x\0", 2), "x", 0, 0, 0},                        // a zero byte is in no set
  };
  for (const Case& c : cases) {
    EXPECT_EQ(strContains(u(c.text), len(c.text), kvU(c.chars), c.classes), c.contains) << c.text;
    EXPECT_EQ(strDoesNotContain(u(c.text), len(c.text), kvU(c.chars), c.classes), c.doesNotContain) << c.text;
  }
  dbcsOn();
  // A pair counts as one character: its trail byte "a" is not a lower-case letter.
  EXPECT_EQ(strContains(kvU("\x81" "a"), 2, nullptr, kvContainsLower), 0);
  EXPECT_EQ(strDoesNotContain(kvU("\x81" "a"), 2, nullptr, kvContainsLower), 1);
  EXPECT_EQ(strContains(kvU("\x81" "a"), 2, kvU("x\x81" "a"), 0), 1);
}

TEST_F(StrFunctions, RightTrim) {
  EXPECT_EQ(strRightTrim(kvU("ab \t\r\n"), 6), 2u);
  EXPECT_EQ(strRightTrim(kvU("   "), 3), 0u);
  EXPECT_EQ(strRightTrim(kvU("ab\xA0"), 3), 3u);  // no-break space is data
  EXPECT_EQ(strRightTrimBlanks(kvU("ab \t "), 5), 4u);
  unsigned char s[] = "ab \t ";
  EXPECT_EQ(strRightTrimBlanks(s), 4u);
  EXPECT_STREQ(kvC(s), "ab \t");
  EXPECT_EQ(strRightTrim(s), 2u);
  EXPECT_STREQ(kvC(s), "ab");
}

TEST_F(StrFunctions, Like) {
  struct Case {
    const char *text, *pattern;
    int caseSensitive, expected;
  };
  const Case cases[] = {
      {"ABC", "a%", 0, 1},
      {"ABC", "a%", 1, 0},
      {"AB  ", "AB", 1, 1},
      {"AB", "AB  ", 1, 1},
      {"AB\t", "AB", 1, 1},
      {"", "%", 1, 1},
      {"", "", 1, 1},
      {"", "%%", 1, 1},
      {"", "_", 1, 0},
      {"a", "", 1, 0},
      {"abc", "a_c", 1, 1},
      {"abc", "a__c", 1, 0},
      {"abc", "%c", 1, 1},
      {"abcbc", "%bc", 1, 1},
      {"abcbd", "%bc", 1, 0},
      {"abc", "%b%", 1, 1},
      {"aXbXc", "a%b%c", 1, 1},
      {"mississippi", "%iss%ppi", 1, 1},
      {"mississippi", "m%issip%", 1, 1},
      {"mississippi", "%issx%", 1, 0},
      {"abc", "%_", 1, 1},
      {"a", "%__", 1, 0},
      {"abc", "%_%_%_%", 1, 1},
      {"ab", "%_%_%_%", 1, 0},
      {"abc", "ab", 1, 0},
      {"ab", "abc", 1, 0},
      {"a%b", "a\\%b", 1, 1},
      {"aXb", "a\\%b", 1, 0},
      {"a_b", "a\\_b", 1, 1},
      {"aXb", "a\\_b", 1, 0},
      {"a\\", "a\\\\", 1, 1},
      {"aB", "a\\b", 0, 1},
      {"ab", "ab\\", 1, 0},  // an escape that ends the pattern never matches
      {"ab ", "ab\\ ", 1, 1},  // an escaped trailing blank is a trailing blank
      {"ab", "ab\\ ", 1, 1},
      {"\xE9t\xE9", "\xC9T_", 0, 1},
      {"\xE9t\xE9", "\xC9T_", 1, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(strLike(kvU(c.text), kvU(c.pattern), '%', '_', '\\', c.caseSensitive), c.expected)
        << "'" << c.text << "' LIKE '" << c.pattern << "' case " << c.caseSensitive;
  }
  EXPECT_EQ(strLike(kvU("abcdef"), 3, kvU("abc%"), 3, '%', '_', '\\', 1), 1);
  EXPECT_EQ(strLike(kvU("a%b"), kvU("a%b"), '*', '?', 0, 1), 1);  // other wildcards: "%" is literal
  EXPECT_EQ(strLike(kvU("axb"), kvU("a%b"), '*', '?', 0, 1), 0);
  EXPECT_EQ(strLike(kvU("axxb"), kvU("a*b"), '*', '?', 0, 1), 1);
}

TEST_F(StrFunctions, LikeTakesDoubleBytePairsWhole) {
  const char* pair = "\x81" "a";
  EXPECT_EQ(strLike(kvU(pair), kvU("_"), '%', '_', '\\', 1), 0);
  EXPECT_EQ(strLike(kvU(pair), kvU("\x81" "A"), '%', '_', '\\', 0), 1);
  dbcsOn();
  EXPECT_EQ(strLike(kvU(pair), kvU("_"), '%', '_', '\\', 1), 1);
  EXPECT_EQ(strLike(kvU(pair), kvU("\x81" "A"), '%', '_', '\\', 0), 0);
  EXPECT_EQ(strLike(kvU("x\x81" "ay"), kvU("%\x81" "a_"), '%', '_', '\\', 1), 1);
  EXPECT_EQ(strLike(kvU("x\x81" "ay"), kvU("%ay"), '%', '_', '\\', 1), 0);  // "a" is a trail byte
}

TEST_F(StrFunctions, IsAlpha) {
  struct Case {
    unsigned char c;
    int singleByte, doubleByte;
  };
  const Case cases[] = {
      {'a', 1, 1},  {'Z', 1, 1},  {'1', 0, 0},  {'_', 0, 0},  {0xE9, 1, 1},
      {0xA0, 0, 0}, {0xA1, 0, 1}, {0xB0, 0, 1}, {0xD7, 0, 1}, {0xDF, 1, 1},
  };
  for (const Case& k : cases) EXPECT_EQ(kvIsAlpha(&k.c), k.singleByte) << int(k.c);
  dbcsOn();
  for (const Case& k : cases) EXPECT_EQ(kvIsAlpha(&k.c), k.doubleByte) << int(k.c);
}

TEST_F(StrFunctions, BytePrimitivesCopyInTheirDirection) {
  unsigned char forward[] = "abcdef";
  BUTMEMCP(forward + 1, forward, 4);  // first byte first repeats the "a"
  EXPECT_STREQ(kvC(forward), "aaaaaf");
  unsigned char backward[] = "abcdef";
  BUTMMCPD(backward + 1, backward, 4);
  EXPECT_STREQ(kvC(backward), "aabcdf");
  unsigned char down[] = "abcdef";
  BUTMMCPD(down, down + 1, 4);  // last byte first repeats the "e"
  EXPECT_STREQ(kvC(down), "eeeeef");
  std::vector<unsigned char> big(200000), copy(200000, 0);
  for (size_t i = 0; i < big.size(); ++i) big[i] = uint8_t(i * 7);
  memCopyHuge(copy.data(), big.data(), uint32_t(big.size()));
  EXPECT_EQ(copy, big);
  memFillHuge(copy.data(), 0xAB, 150000);
  EXPECT_EQ(copy[149999], 0xAB);
  EXPECT_EQ(copy[150000], big[150000]);
  unsigned char fill[4] = {1, 1, 1, 1};
  BUTU8FIL(fill, 9, 3);
  EXPECT_EQ(std::memcmp(fill, "\x09\x09\x09\x01", 4), 0);
}

TEST_F(StrFunctions, BytePrimitivesCompareSwapAndStrings) {
  EXPECT_EQ(BUTMMCMP("\x80", "\x7F", 1), 1);
  EXPECT_EQ(BUTMMCMP("ab", "ac", 2), -1);
  EXPECT_EQ(BUTMMCMP("ab", "ac", 1), 0);

  // Areas larger than the 512-byte pieces of a swap.
  std::vector<unsigned char> a(1300), b(1300);
  for (size_t i = 0; i < a.size(); ++i) {
    a[i] = uint8_t(i);
    b[i] = uint8_t(255 - i);
  }
  const std::vector<unsigned char> a0 = a, b0 = b;
  BUTMMSWP(a.data(), b.data(), uint16_t(a.size()));
  EXPECT_EQ(a, b0);
  EXPECT_EQ(b, a0);

  unsigned char s[32] = "ab";
  BUTSTCAT(s, kvU("cd"));
  EXPECT_STREQ(kvC(s), "abcd");
  EXPECT_LT(BUTSTCMP(kvU("abc"), kvU("abd")), 0);
  EXPECT_GT(BUTSTCMP(kvU("\xE9"), kvU("e")), 0);
  EXPECT_EQ(BUTSTCMP(kvU("x"), kvU("x")), 0);
  unsigned char* end = BUTSTCPY(s, kvU("xyz"));
  EXPECT_EQ(end, s + 3);
  EXPECT_EQ(*end, 0);
  EXPECT_EQ(BUTSTLEN(kvU("abc")), 3);
  std::string longText(70000, 'x');
  EXPECT_EQ(BUTSTLEN(u(longText)), 65535);  // saturates, never wraps to a small count
}

}  // namespace
