// ANSI (1252) and UTF-16LE: every byte survives the round trip, the signs
// of 0x80-0x9F map to their own characters, and characters ANSI lacks are
// reported by position.
#include "util/charsets/charset_unicode.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(CharsetUnicode, EveryByteRoundTrips) {
  for (int b = 0; b < 256; ++b) {
    unsigned char back = 0;
    ASSERT_TRUE(kvUnicodeToAnsi(kvAnsiToUnicode(uint8_t(b)), &back)) << b;
    EXPECT_EQ(back, b);
  }
}

TEST(CharsetUnicode, UpperControlsAndLatin1) {
  struct Pair {
    unsigned char ansi;
    uint16_t unit;
  } pairs[] = {
      {0x80, 0x20AC},  // euro sign
      {0x85, 0x2026},  // ellipsis
      {0x8A, 0x0160},  // S caron
      {0x92, 0x2019},  // right single quote
      {0x99, 0x2122},  // trade mark
      {0x9F, 0x0178},  // Y diaeresis
      {0x81, 0x0081},  // undefined in 1252: kept as the control code
      {0x9D, 0x009D},
      {0xA0, 0x00A0},  // no-break space
      {0xFC, 0x00FC},  // u diaeresis
      {'A', 'A'},
  };
  for (const Pair& p : pairs) EXPECT_EQ(kvAnsiToUnicode(p.ansi), p.unit) << int(p.ansi);
}

TEST(CharsetUnicode, CharactersAnsiLacksAreReported) {
  for (uint16_t unit : {uint16_t(0x0080), uint16_t(0x0098), uint16_t(0x03A9), uint16_t(0x4E2D), uint16_t(0xD83D),
                        uint16_t(0xFFFD)}) {
    unsigned char c = 'x';
    EXPECT_FALSE(kvUnicodeToAnsi(unit, &c)) << unit;
    EXPECT_EQ(c, 'x') << unit;
  }
}

TEST(CharsetUnicode, WholeTexts) {
  const unsigned char ansi[] = {'G', 'r', 0xFC, 0xDF, 'e', ' ', 0x80};
  const unsigned char wide[] = {'G', 0, 'r', 0, 0xFC, 0, 0xDF, 0, 'e', 0, ' ', 0, 0xAC, 0x20};
  unsigned char out[14];
  kvAnsiToUtf16le(out, ansi, 7);
  EXPECT_EQ(std::memcmp(out, wide, 14), 0);

  unsigned char back[7];
  EXPECT_EQ(kvUtf16leToAnsi(back, wide, 7), 7u);
  EXPECT_EQ(std::memcmp(back, ansi, 7), 0);

  // In place, as the parameter conversion does it.
  unsigned char inPlace[14];
  std::memcpy(inPlace, wide, 14);
  EXPECT_EQ(kvUtf16leToAnsi(inPlace, inPlace, 7), 7u);
  EXPECT_EQ(std::memcmp(inPlace, ansi, 7), 0);

  const unsigned char omega[] = {'a', 0, 0xA9, 0x03, 'b', 0};
  EXPECT_EQ(kvUtf16leToAnsi(back, omega, 3), 1u) << "the index of the first character without a byte";
}

}  // namespace
