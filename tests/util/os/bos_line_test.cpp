// Splitting a text buffer into lines: line feeds in quotes, carriage
// returns, comments, the end marks and lines that do not fit.
#include "util/os/bos.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Every line of text as bosgetbl gives it; a line that did not fit shows as
// "<cut:...>" with the part that was copied. Bounded, so a position that
// stops moving shows as a long result instead of a hang.
std::vector<std::string> lines(const std::string& text, uint16_t outBytes = 64) {
  std::vector<std::string> result;
  uint16_t pos = 0;
  std::vector<unsigned char> out(outBytes ? outBytes : 1);
  for (int calls = 0; calls < 20; ++calls) {
    int16_t length = 0;
    bosgetbl(kvU(text.c_str()), &pos, out.data(), outBytes, &length);
    if (length == -1) break;
    std::string copied(kvC(out.data()));
    if (length == -2) {
      result.push_back("<cut:" + copied + ">");
    } else {
      EXPECT_EQ(size_t(length), copied.size());
      result.push_back(copied);
    }
  }
  return result;
}

using Lines = std::vector<std::string>;

TEST(BosLineTest, LinesEndAtLineFeedsOutsideQuotes) {
  struct Case {
    std::string text;
    Lines expected;
  };
  const Case cases[] = {
      {"", {}},
      {"a\r\nb\n", {"a", "b"}},
      {"last line without a feed", {"last line without a feed"}},
      {"\n\n", {"", ""}},
      {"one\rtwo\n", {"one\rtwo"}},            // a lone carriage return stays
      {"x='a\nb'\ny", {"x='a\nb'", "y"}},      // a quoted line feed belongs to the line
      {"v=\"it's\"\nz", {"v=\"it's\"", "z"}},  // one kind of quote is literal in the other
      {"v='say \"hi\"'\nz", {"v='say \"hi\"'", "z"}},
      {"q='a\r\nb'\n", {"q='a\r\nb'"}},
      {";comment 'not a quote\nnext", {";", "next"}},
      {"a;b\n", {"a;b"}},
      {"a\x1a" "b\n", {"a"}},                  // Ctrl-Z ends the text
      {"open 'quote\nnever closed", {"open 'quote\nnever closed"}},
  };
  for (const Case& c : cases) EXPECT_EQ(lines(c.text), c.expected) << c.text;
}

TEST(BosLineTest, ALineThatDoesNotFitIsCutAndSkipped) {
  EXPECT_EQ(lines("abcdef\nxy\n", 4), (Lines{"<cut:abc>", "xy"}));
  EXPECT_EQ(lines("abc\n", 4), (Lines{"abc"}));
  EXPECT_EQ(lines("abcd\n", 4), (Lines{"<cut:abc>"}));

  // Positions stop at 65535: a longer text ends there.
  std::string huge(70000, 'a');
  uint16_t pos = 0;
  unsigned char out[16];
  int16_t length = 0;
  bosgetbl(kvU(huge.c_str()), &pos, out, sizeof(out), &length);
  EXPECT_EQ(length, -2);
  EXPECT_EQ(pos, 65535);
  bosgetbl(kvU(huge.c_str()), &pos, out, sizeof(out), &length);
  EXPECT_EQ(length, -1);
  EXPECT_STREQ(kvC(out), "");
}

}  // namespace
