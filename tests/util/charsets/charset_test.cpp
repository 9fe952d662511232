// Windows-1252 case mapping and classes, the collation order and the
// double-byte switch.
#include "util/charsets/charset.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstring>
#include <string>
#include <vector>

namespace {

const unsigned char shiftJisLeadBytes[] = {0x81, 0x9F, 0xE0, 0xFC, 0, 0};

// Leaves double-byte handling off after every test.
class Charset : public ::testing::Test {
 protected:
  void TearDown() override { kvSetDbcsLeadBytes(nullptr); }
};

int collate(const std::string& a, const std::string& b) {
  return kvCollate(kvU(a.c_str()), uint32_t(a.size()), kvU(b.c_str()), uint32_t(b.size()));
}

TEST_F(Charset, CasePairsOfTheCodePage) {
  struct Pair {
    unsigned char lower, upper;
  };
  const Pair pairs[] = {{'a', 'A'},   {'z', 'Z'},   {0xE9, 0xC9}, {0xE0, 0xC0}, {0xFE, 0xDE},
                        {0xF8, 0xD8}, {0xF0, 0xD0}, {0xE6, 0xC6}, {0x9A, 0x8A}, {0x9C, 0x8C},
                        {0x9E, 0x8E}, {0xFF, 0x9F}, {0xFD, 0xDD}};
  for (const Pair& p : pairs) {
    EXPECT_EQ(kvToUpper(p.lower), p.upper) << int(p.lower);
    EXPECT_EQ(kvToLower(p.upper), p.lower) << int(p.upper);
    EXPECT_TRUE(kvCharIsLower(p.lower) && kvCharIsUpper(p.upper)) << int(p.lower);
  }
}

TEST_F(Charset, LettersWithoutSingleByteUpperCaseAndNonLettersStay) {
  // ß, µ, ƒ have no upper case here; ª º are caseless; × ÷ sit among the
  // accented letters but are symbols.
  const unsigned char unchanged[] = {0xDF, 0xB5, 0x83, 0xAA, 0xBA, 0xD7, 0xF7, 0xA0, '[', '@', '{'};
  for (unsigned char c : unchanged) {
    EXPECT_EQ(kvToUpper(c), c) << int(c);
    EXPECT_EQ(kvToLower(c), c) << int(c);
  }
}

TEST_F(Charset, CaseMappingIsConsistentOverAllBytes) {
  for (unsigned c = 0; c < 256; ++c) {
    unsigned char b = static_cast<unsigned char>(c);
    if (kvToUpper(b) != b) {
      EXPECT_EQ(kvToLower(kvToUpper(b)), b) << c;
    }
    if (kvToLower(b) != b) {
      EXPECT_EQ(kvToUpper(kvToLower(b)), b) << c;
    }
    if (!kvCharIsAlpha(b)) {
      EXPECT_TRUE(kvToUpper(b) == b && kvToLower(b) == b) << c;
    }
    // Every byte falls in exactly one of the printable families, or none
    // (controls and the no-break space).
    int families = kvCharIsAlpha(b) + kvCharIsDigit(b) + kvCharIsPunct(b) + (kvCharIsSpace(b) && c == ' ');
    EXPECT_LE(families, 1) << c;
  }
}

TEST_F(Charset, Classes) {
  struct Case {
    unsigned char c;
    uint16_t classes;
  };
  const Case cases[] = {
      {'a', kvClassAlpha | kvClassLower | kvClassHexDigit},
      {'G', kvClassAlpha | kvClassUpper},
      {'7', kvClassDigit | kvClassHexDigit},
      {' ', kvClassSpace},
      {'\t', kvClassSpace | kvClassControl},
      {'\r', kvClassSpace | kvClassControl},
      {0x00, kvClassControl},
      {0x7F, kvClassControl},
      {0x81, kvClassControl},  // undefined in 1252
      {0x9D, kvClassControl},
      {'_', kvClassPunct},
      {0x80, kvClassPunct},  // euro sign
      {0xB2, kvClassPunct},  // superscript two is no digit
      {0xA0, 0},             // no-break space is not white space
      {0xE9, kvClassAlpha | kvClassLower},
      {0xC9, kvClassAlpha | kvClassUpper},
      {0xDF, kvClassAlpha | kvClassLower},
      {0xAA, kvClassAlpha},
      {0xD7, kvClassPunct},
  };
  for (const Case& k : cases) EXPECT_EQ(kvCharClassTable[k.c], k.classes) << int(k.c);
  EXPECT_TRUE(kvCharIsAlnum('x') && kvCharIsAlnum('0') && !kvCharIsAlnum('-'));
}

TEST_F(Charset, TablesIgnoreTheProcessLocale) {
  const char* previous = std::setlocale(LC_ALL, nullptr);
  std::string saved = previous ? previous : "C";
  std::setlocale(LC_ALL, "C");
  unsigned char text[] = "\xE9t\xE9 stra\xDF" "e";
  kvUpperText(text);
  EXPECT_STREQ(kvC(text), "\xC9T\xC9 STRA\xDF" "E");
  kvLowerText(text, 3);
  EXPECT_STREQ(kvC(text), "\xE9t\xE9 STRA\xDF" "E");
  std::setlocale(LC_ALL, saved.c_str());
}

TEST_F(Charset, DbcsIsOffByDefaultAndSwitchable) {
  EXPECT_FALSE(kvIsDbcsCodePage());
  for (unsigned c = 0; c < 256; ++c) EXPECT_FALSE(kvIsDbcsLeadByte(static_cast<unsigned char>(c)));

  kvSetDbcsLeadBytes(shiftJisLeadBytes);
  EXPECT_TRUE(kvIsDbcsCodePage());
  for (unsigned char c : {0x81, 0x90, 0x9F, 0xE0, 0xFC}) EXPECT_TRUE(kvIsDbcsLeadByte(c)) << int(c);
  for (unsigned char c : {0x00, 0x41, 0x80, 0xA0, 0xDF, 0xFD}) EXPECT_FALSE(kvIsDbcsLeadByte(c)) << int(c);

  const unsigned char empty[] = {0, 0};
  kvSetDbcsLeadBytes(empty);
  EXPECT_FALSE(kvIsDbcsCodePage());
  EXPECT_FALSE(kvIsDbcsLeadByte(0x81));
}

TEST_F(Charset, CharBytesNeverStepsPastTheEnd) {
  kvSetDbcsLeadBytes(shiftJisLeadBytes);
  const unsigned char text[] = {'a', 0x81, 'b', 0x81, 0};
  EXPECT_EQ(kvCharBytes(text), 1u);
  EXPECT_EQ(kvCharBytes(text + 1), 2u);
  EXPECT_EQ(kvCharBytes(text + 3), 1u);          // lead byte before the terminator
  EXPECT_EQ(kvCharBytes(text + 1, text + 2), 1u);  // lead byte at the end of a counted text
  EXPECT_EQ(kvCharBytes(text + 1, text + 3), 2u);
}

TEST_F(Charset, CaseMappingLeavesDoubleByteCharactersAlone) {
  unsigned char text[] = "a\x81" "a\xE9";
  kvSetDbcsLeadBytes(shiftJisLeadBytes);
  kvUpperText(text);
  EXPECT_STREQ(kvC(text), "A\x81" "a\xC9");
  kvSetDbcsLeadBytes(nullptr);
  kvUpperText(text);
  EXPECT_STREQ(kvC(text), "A\x81" "A\xC9");
}

TEST_F(Charset, CollationOrder) {
  // Each entry sorts strictly before every later one.
  const std::vector<std::string> order = {
      "",
      " ",
      "-",
      "0",
      "1",
      "\xB9",   // ¹ with 1, after it
      "1a",
      "9",
      "a",
      "A",
      "\xE1",   // á
      "\xC1",   // Á
      "\xE0",   // à
      "\xE4",   // ä
      "Aa",     // a whole-text primary difference outweighs case: "Aa" < "ab"
      "ab",
      "Ab",
      "\xE1" "b",
      "ae",
      "\xE6",   // æ counts as "ae"
      "\xC6",
      "af",
      "b",
      "c",
      "\xE7",   // ç
      "o",
      "oe",
      "\x9C",   // œ
      "of",
      "resume",
      "r\xE9sum\xE9",
      "resumes",
      "ss",
      "\xDF",   // ß counts as "ss"
      "st",
      "y",
      "\xFF",   // ÿ
      "\x9F",   // Ÿ
      "z",
      "\xFE",   // þ after z
      "\xB5",   // µ after þ
  };
  for (size_t i = 0; i < order.size(); ++i) {
    EXPECT_EQ(collate(order[i], order[i]), 0) << i;
    for (size_t j = i + 1; j < order.size(); ++j) {
      EXPECT_EQ(collate(order[i], order[j]), -1) << "'" << order[i] << "' < '" << order[j] << "'";
      EXPECT_EQ(collate(order[j], order[i]), 1) << "'" << order[j] << "' > '" << order[i] << "'";
    }
  }
}

TEST_F(Charset, CollationIsATotalOrderOfAllBytes) {
  std::vector<std::string> singles;
  for (unsigned c = 1; c < 256; ++c) singles.push_back(std::string(1, char(c)));
  std::sort(singles.begin(), singles.end(),
            [](const std::string& a, const std::string& b) { return collate(a, b) < 0; });
  // Sorted by the collation, every pair must compare in order: no two bytes
  // are equal and no three form a cycle.
  for (size_t i = 0; i < singles.size(); ++i) {
    for (size_t j = i + 1; j < singles.size(); ++j) {
      ASSERT_EQ(collate(singles[i], singles[j]), -1) << int(uint8_t(singles[i][0])) << " "
                                                     << int(uint8_t(singles[j][0]));
      ASSERT_EQ(collate(singles[j], singles[i]), 1);
    }
  }
}

TEST_F(Charset, CollationOfCountedTextsStopsAtAZeroByte) {
  EXPECT_EQ(kvCollate(kvU("ab\0z"), 4, kvU("ab"), 2), 0);
  EXPECT_EQ(kvCollate(kvU("abc"), 2, kvU("ab"), 2), 0);
  EXPECT_EQ(kvCollate(nullptr, 0, kvU("a"), 1), -1);
  EXPECT_EQ(kvCollate(nullptr, 0, kvU(""), 0), 0);
}

TEST_F(Charset, CollationOfDoubleByteCharacters) {
  kvSetDbcsLeadBytes(shiftJisLeadBytes);
  EXPECT_EQ(collate("\x81\x40", "\xB5"), 1);  // after every single-byte character
  EXPECT_EQ(collate("a\x81\x40", "a\x81\x41"), -1);
  EXPECT_EQ(collate("a\x81\x40", "a\x81\x40"), 0);
  EXPECT_EQ(collate("\x81", "\x81\x40"), -1);  // a lone lead byte at the end is a character of its own
  EXPECT_EQ(collate("\x81\x40", "\x81"), 1);
}

}  // namespace
