// Tests of buttoken: its modes, long tokens, unmatched quotes, and hostile
// input, which must end every read without reading outside the text.
#include "util/containers/buttoken.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/util/test_support.h"
#include "util/charsets/charset.h"
#include "util/memory/ram.h"

namespace {

// Double-byte handling is switched off after every test.
class ButtokenTest : public ErrorCapturingTest {
 protected:
  void TearDown() override {
    kvSetDbcsLeadBytes(nullptr);
    ErrorCapturingTest::TearDown();
  }
};

struct ButCase {
  const char* text;
  unsigned short flags;
  const char* token;
  const char* rest;
};

TEST_F(ButtokenTest, Modes) {
  const ButCase cases[] = {
      {"  select x", 0, "SELECT", " x"},
      {"select x", kvButKeepCase, "select", " x"},
      {"a_b1+", 0, "A_B1", "+"},
      {"'it''s' x", 0, "'it's'", " x"},
      {"\"Mixed\"", 0, "\"Mixed\"", ""},
      {"`a b`c", 0, "`a b`", "c"},
      {"12.5x", 0, "12.5", "x"},
      {"1.e", 0, "1.", "e"},
      {"1.e", kvButModeDottedNames, "1", ".e"},
      {".5)", 0, ".5", ")"},
      {"a.b", 0, "A", ".b"},
      {"t1.col+1", kvButModeDottedNames, "T1.COL", "+1"},
      {".t. ", kvButModeDottedNames, ".T.", " "},
      {"a..b", kvButModeDottedNames, "A", "..b"},
      {"#tmp$x\\-y z", kvButModeIdentifiers, "#TMP$X-Y", " z"},
      {"#tmp", 0, "#", "tmp"},
      {"a:b.c d", kvButModeColonNames, "A:B.C", " d"},
      {"dir/`my file`.dbf, x", kvButModeRuns, "DIR", "/`my file`.dbf, x"},
      {"`my file`.dbf, x", kvButCutLong | kvButModeRuns, "`MY FILE`.DBF", ", x"},
      {"/x", kvButModeRuns, "/", "x"},
      {"{d '2020-01-01'} x", 0, "{d '2020-01-01'}", " x"},
      {"<> x", 0, "<>", " x"},
      {"<x", 0, "<", "x"},
      {"!<", 0, "!<", ""},
      {"=* b", 0, "=*", " b"},
      {"(+)", 0, "(+)", ""},
      {"(a)", 0, "(", "a)"},
      {"?name_1 x", 0, "?name_1", " x"},
      {"?1", 0, "?", "1"},
      {"", 0, "", ""},
      {" \t ", 0, "", ""},
      {"\xE9t\xE9", 0, "\xC9T\xC9", ""},
  };
  for (const ButCase& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " / " + std::to_string(c.flags));
    unsigned char buffer[kvButtokenBufferBytes];
    const unsigned char* source = kvU(c.text);
    ASSERT_EQ(buttoken(buffer, &source, c.flags), kvSuccess);
    EXPECT_STREQ(kvC(buffer), c.token);
    EXPECT_STREQ(kvC(source), c.rest);
    EXPECT_EQ(buttokenBlock(buffer), nullptr);
  }
}

TEST_F(ButtokenTest, LongTokens) {
  const std::string word(100, 'a');
  const std::string text = word + " next";
  unsigned char buffer[kvButtokenBufferBytes];

  const unsigned char* source = kvU(text.c_str());
  EXPECT_EQ(buttoken(buffer, &source, 0), kvFailure);
  EXPECT_EQ(lastErrorText(), "Token too big: " + std::string(79, 'a'));
  EXPECT_STREQ(kvC(source), " next") << "a failed read still moves on";

  source = kvU(text.c_str());
  ASSERT_EQ(buttoken(buffer, &source, kvButCutLong), kvSuccess);
  EXPECT_EQ(std::string(kvC(buffer)), std::string(79, 'A'));
  EXPECT_STREQ(kvC(source), " next");

  source = kvU(text.c_str());
  ASSERT_EQ(buttoken(buffer, &source, kvButAllocLong), kvSuccess);
  unsigned char* block = buttokenBlock(buffer);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(buffer[0], 'A');
  EXPECT_EQ(buffer[1], 0);
  EXPECT_EQ(std::string(kvC(block)), std::string(100, 'A'));
  ramFree(block);

  // A long literal keeps its case and its doubled quotes are stored once.
  const std::string literal = "'" + std::string(90, 'x') + "''y'";
  source = kvU(literal.c_str());
  ASSERT_EQ(buttoken(buffer, &source, kvButAllocLong), kvSuccess);
  block = buttokenBlock(buffer);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(std::string(kvC(block)), "'" + std::string(90, 'x') + "'y'");
  ramFree(block);

  // Exactly 79 bytes still fit the buffer; one-byte tokens never look long.
  const std::string fits(79, 'b');
  source = kvU(fits.c_str());
  ASSERT_EQ(buttoken(buffer, &source, kvButAllocLong), kvSuccess);
  EXPECT_EQ(std::string(kvC(buffer)), std::string(79, 'B'));
  EXPECT_EQ(buttokenBlock(buffer), nullptr);
  std::memset(buffer, 0xAB, sizeof(buffer));
  source = kvU("c");
  ASSERT_EQ(buttoken(buffer, &source, 0), kvSuccess);
  EXPECT_EQ(buttokenBlock(buffer), nullptr);

  // Every mode has the limit, names with ":" and identifiers included.
  for (unsigned short mode : {kvButModeRuns, kvButModeIdentifiers, kvButModeDottedNames, kvButModeColonNames,
                              kvButModeIdentifiers6}) {
    SCOPED_TRACE(mode);
    source = kvU(text.c_str());
    EXPECT_EQ(buttoken(buffer, &source, mode), kvFailure);
    EXPECT_EQ(std::strlen(kvC(buffer)), 79u);
  }
}

TEST_F(ButtokenTest, CutsBeforeADoubleBytePairThatDoesNotFit) {
  const unsigned char ranges[] = {0x81, 0x9F, 0, 0};
  kvSetDbcsLeadBytes(ranges);
  const std::string text = std::string(78, 'a') + "\x81\x41" + "b";
  unsigned char buffer[kvButtokenBufferBytes];
  const unsigned char* source = kvU(text.c_str());
  ASSERT_EQ(buttoken(buffer, &source, kvButCutLong), kvSuccess);
  EXPECT_EQ(std::string(kvC(buffer)), std::string(78, 'A'));
  EXPECT_STREQ(kvC(source), "");
}

TEST_F(ButtokenTest, UnmatchedQuotes) {
  const ButCase cases[] = {
      {"'abc", 0, "'", ""},
      {"\"ab''", 0, "\"", ""},
      {"{d '1'", 0, "{", ""},
      {"`my file", kvButModeRuns, "`", ""},
  };
  for (const ButCase& c : cases) {
    SCOPED_TRACE(c.text);
    list_->clearErrors();
    unsigned char buffer[kvButtokenBufferBytes];
    const unsigned char* source = kvU(c.text);
    EXPECT_EQ(buttoken(buffer, &source, c.flags), kvFailure);
    EXPECT_EQ(lastErrorNumber(), 2703);
    EXPECT_EQ(lastErrorText(), std::string("Unmatched quote character: ") + c.token);
    EXPECT_STREQ(kvC(source), c.rest);
  }
  unsigned char buffer[kvButtokenBufferBytes];
  EXPECT_EQ(buttoken(buffer, nullptr, 0), kvFailure);
}

// Pseudo-random bytes (a fixed sequence) through every mode: each read must
// end, move on at every step and stay inside its text.
TEST_F(ButtokenTest, ArbitraryBytesAlwaysEnd) {
  const unsigned char ranges[] = {0x81, 0x9F, 0, 0};
  ArbitraryTexts texts;
  for (int round = 0; round < 400; ++round) {
    kvSetDbcsLeadBytes(round % 2 ? ranges : nullptr);
    std::vector<unsigned char> text = texts.next(false);
    text.push_back(0);
    const unsigned short flags = static_cast<unsigned short>(
        (round % 7 == 5 ? 0 : round % 7) | (round % 5 == 0 ? kvButAllocLong : kvButCutLong));
    const unsigned char* source = text.data();
    size_t steps = 0;
    while (*source != 0 && steps++ <= text.size()) {
      unsigned char buffer[kvButtokenBufferBytes];
      const unsigned char* before = source;
      kvIgnoreStatus(buttoken(buffer, &source, flags));  // any input may fail; where it stops is checked
      EXPECT_LE(source, text.data() + text.size() - 1);
      ramFree(buttokenBlock(buffer));
      if (source == before) break;  // only white space is left... or a stall
    }
    EXPECT_EQ(*source, 0) << "buttoken stalled";
    list_->clearErrors();
  }
}

}  // namespace
