// The byte-complement routine: the documented example, round trips over
// every byte value, line ends in mode 2, and agreement with files scrambled
// by the earlier rule.
#include "util/files/encrypt.h"

#include <gtest/gtest.h>

namespace {

bool isLineEnd(unsigned char b) { return b == '\r' || b == '\n'; }

TEST(Encrypt, KeepLinesModeComplementsAllButLineEnds) {
  unsigned char data[] = {'A', 13, 10};
  encrypt(data, 3, kvEncryptKeepLines, nullptr);
  EXPECT_EQ(data[0], 0xBE);
  EXPECT_EQ(data[1], 13);
  EXPECT_EQ(data[2], 10);
}

TEST(Encrypt, EveryByteSurvivesARoundTripInEveryMode) {
  for (uint16_t mode : {0, 1, 2, 3, 77}) {
    unsigned char data[256];
    for (int i = 0; i < 256; i++) data[i] = static_cast<unsigned char>(i);
    encrypt(data, 256, mode, kvU("unused key"));
    decrypt(data, 256, mode, kvU("another key"));
    for (int i = 0; i < 256; i++) EXPECT_EQ(data[i], i) << "mode " << mode << " byte " << i;
  }
}

TEST(Encrypt, KeepLinesModeMakesALineEndOnlyOfALineEnd) {
  for (int i = 0; i < 256; i++) {
    unsigned char b = static_cast<unsigned char>(i);
    unsigned char scrambled = b;
    encrypt(&scrambled, 1, kvEncryptKeepLines, nullptr);
    EXPECT_EQ(isLineEnd(scrambled), isLineEnd(b)) << "byte " << i;
  }
  unsigned char text[] = {0xF2, 0xF5, 'o'};  // ò õ o
  encrypt(text, 3, kvEncryptKeepLines, nullptr);
  EXPECT_EQ(text[0], 0xF2);
  EXPECT_EQ(text[1], 0xF5);
  EXPECT_EQ(text[2], static_cast<unsigned char>(~'o'));
}

TEST(Encrypt, ReadsTextScrambledByTheEarlierRule) {
  // The earlier rule complemented every byte but CR and LF; its output never
  // holds 0xF2 or 0xF5, and every byte it does hold decodes as before.
  for (int i = 0; i < 256; i++) {
    unsigned char b = static_cast<unsigned char>(i);
    if (b == 0xF2 || b == 0xF5) continue;
    unsigned char old = isLineEnd(b) ? b : static_cast<unsigned char>(~b);
    ASSERT_NE(old, 0xF2);
    ASSERT_NE(old, 0xF5);
    decrypt(&old, 1, kvEncryptKeepLines, nullptr);
    EXPECT_EQ(old, b) << "byte " << i;
  }
}

TEST(Encrypt, ComplementModeAndOtherModes) {
  unsigned char data[] = {0x00, 13, 10, 0xF0};
  encrypt(data, 4, kvEncryptComplement, nullptr);
  EXPECT_EQ(data[0], 0xFF);
  EXPECT_EQ(data[1], 0xF2);
  EXPECT_EQ(data[2], 0xF5);
  EXPECT_EQ(data[3], 0x0F);
  unsigned char same[] = {1, 2, 3};
  encrypt(same, 3, 0, nullptr);
  encrypt(same, 3, 9, nullptr);
  EXPECT_EQ(same[0], 1);
  EXPECT_EQ(same[2], 3);
}

}  // namespace
