// OEM (437) and ANSI (1252) conversion: the shared lower half, exact
// partners, best fits of each family, and the whole-text forms.
#include "util/charsets/charset_oem.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct Pair {
  unsigned char from;
  unsigned char to;
  const char* what;
};

TEST(CharsetOem, LowerHalfIsKeptBothWays) {
  for (int b = 0; b < 128; b++) {
    EXPECT_EQ(kvOemToAnsiChar(static_cast<unsigned char>(b)), b);
    EXPECT_EQ(kvAnsiToOemChar(static_cast<unsigned char>(b)), b);
  }
}

TEST(CharsetOem, OemToAnsi) {
  const Pair cases[] = {
      {0x8E, 0xC4, "A diaeresis"},     {0x81, 0xFC, "u diaeresis"},   {0xA4, 0xF1, "n tilde"},
      {0x80, 0xC7, "C cedilla"},       {0x9C, 0xA3, "pound"},         {0xE1, 0xDF, "sharp s"},
      {0xE6, 0xB5, "micro"},           {0xF8, 0xB0, "degree"},        {0xFF, 0xA0, "no-break space"},
      {0x9F, 0x83, "f hook"},          {0xAE, 0xAB, "guillemet"},     {0xB3, 0xA6, "light vertical"},
      {0xBA, 0xA6, "double vertical"}, {0xB4, 0xA6, "vertical and left"}, {0xC4, '-', "light horizontal"},
      {0xCD, '-', "double horizontal"}, {0xC2, '-', "down and horizontal"}, {0xDA, '+', "corner"},
      {0xC3, '+', "vertical and right"}, {0xC5, '+', "cross"},       {0xB0, 0xA6, "light shade"},
      {0xDB, 0xA6, "full block"},      {0xDC, '_', "lower half block"}, {0xDF, 0xAF, "upper half block"},
      {0xE0, 'a', "alpha"},            {0xE2, 'G', "Gamma"},          {0xEA, 'O', "Omega"},
      {0xF2, '=', "greater or equal"}, {0xEC, '8', "infinity"},       {0xF7, 0x98, "almost equal"},
      {0x9E, 'P', "peseta"},           {0xA9, 0xAC, "reversed not"},
  };
  for (const Pair& c : cases) EXPECT_EQ(kvOemToAnsiChar(c.from), c.to) << c.what;
}

TEST(CharsetOem, AnsiToOem) {
  const Pair cases[] = {
      {0xC4, 0x8E, "A diaeresis"},  {0xE9, 0x82, "e acute"},     {0xA3, 0x9C, "pound"},
      {0xA0, 0xFF, "no-break space"}, {0x80, '?', "euro"},       {0x81, '?', "undefined 81"},
      {0x9D, '?', "undefined 9D"},  {0xC0, 'A', "A grave"},      {0xD8, 'O', "O stroke"},
      {0xFD, 'y', "y acute"},       {0x8A, 'S', "S caron"},      {0x8C, 'O', "OE"},
      {0x93, '"', "left quote"},    {0x92, '\'', "right single quote"}, {0x96, '-', "en dash"},
      {0x85, '.', "ellipsis"},      {0x99, 'T', "trade mark"},   {0xA9, 'c', "copyright"},
      {0xA7, 0x15, "section"},      {0xB6, 0x14, "pilcrow"},     {0x95, 0x07, "bullet"},
      {0xA6, 0xDD, "broken bar"},   {0x87, 0xD8, "double dagger"}, {0xFE, '_', "thorn"},
  };
  for (const Pair& c : cases) EXPECT_EQ(kvAnsiToOemChar(c.from), c.to) << c.what;
}

TEST(CharsetOem, PartnersComeBackAndNothingBecomesZero) {
  // 128 shared bytes, 54 characters of the upper half that both code pages
  // have, and the best fits ▌ (0xDD) and ¦ (0xA6), which choose each other.
  int oemBack = 0, ansiBack = 0;
  for (int b = 0; b < 256; b++) {
    unsigned char c = static_cast<unsigned char>(b);
    if (kvAnsiToOemChar(kvOemToAnsiChar(c)) == c) oemBack++;
    if (kvOemToAnsiChar(kvAnsiToOemChar(c)) == c) ansiBack++;
    if (b != 0) {
      EXPECT_NE(kvOemToAnsiChar(c), 0) << b;
      EXPECT_NE(kvAnsiToOemChar(c), 0) << b;
    }
  }
  EXPECT_EQ(oemBack, 183);
  EXPECT_EQ(ansiBack, 183);
}

TEST(CharsetOem, CountedAndTerminatedTexts) {
  unsigned char oem[] = "M\x81ller \x8E" "rger \xC4\xC4";
  unsigned char ansi[sizeof(oem)];
  kvOemToAnsi(ansi, oem);
  EXPECT_STREQ(kvC(ansi), "M\xFCller \xC4rger --");

  kvAnsiToOem(ansi, ansi, 3);  // in place, counted
  EXPECT_EQ(std::memcmp(ansi, "M\x81l", 3), 0);
  EXPECT_EQ(ansi[3], 'l');

  unsigned char text[] = {0x82, 0, 0x82};  // the terminated form stops at 0
  kvOemToAnsi(text, text);
  EXPECT_EQ(text[0], 0xE9);
  EXPECT_EQ(text[2], 0x82);
  kvAnsiToOem(text, text);
  EXPECT_EQ(text[0], 0x82);
}

}  // namespace
