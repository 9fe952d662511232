// Text types: views, growable strings and their 65536-byte limit, in-place
// rewriting, and message texts with numbered markers.
#include "util/containers/kv_string.h"

#include "tests/util/test_support.h"
#include "util/charsets/charset.h"
#include "util/containers/kv_array.h"
#include "util/resource.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const unsigned char shiftJisLeadBytes[] = {0x81, 0x9F, 0xE0, 0xFC, 0, 0};

std::string str(const KvSubString& s) { return std::string(kvC(s.getText()), s.getLength()); }
std::string str(const KvString& s) { return kvC(s.getStr()); }

// Installs a keep-all error list as current, so that tests can read what
// was reported; switches double-byte handling off afterwards.
class KvStringTest : public ErrorCapturingTest {
 protected:
  void TearDown() override {
    ErrorCapturingTest::TearDown();
    kvSetDbcsLeadBytes(nullptr);
  }
  uint32_t errorCount() { return list_->getCount(); }
  static void dbcsOn() { kvSetDbcsLeadBytes(shiftJisLeadBytes); }
};

// ---------------------------------------------------------------------------
// Growth and its limits

TEST_F(KvStringTest, ResizeUpToTheLimitOnly) {
  KvString s;
  ASSERT_EQ(s.initialize(kvU("keep")), kvSuccess);
  EXPECT_EQ(s.resize(65536), kvSuccess);
  EXPECT_EQ(s.getCapacity(), 65536u);
  EXPECT_EQ(str(s), "keep");
  EXPECT_EQ(errorCount(), 0u);

  EXPECT_EQ(s.resize(65537), kvFailure);
  EXPECT_EQ(lastErrorNumber(), 2716);
  EXPECT_STREQ(kvC(KvErrorKeeper::getLastError()->getErrorText()),
               "Cannot handle strings larger than 65500 bytes.");
  EXPECT_EQ(s.getCapacity(), 65536u);
  EXPECT_EQ(str(s), "keep");
}

TEST_F(KvStringTest, ConcatFillsExactlyToTheLimit) {
  KvString s;
  ASSERT_EQ(s.initialize(kvU(std::string(65534, 'x').c_str())), kvSuccess);
  EXPECT_EQ(s.concat('y'), kvSuccess);  // 65535 bytes and the terminator
  EXPECT_EQ(s.getLength(), 65535u);
  EXPECT_EQ(errorCount(), 0u);
  EXPECT_EQ(s.concat('z'), kvFailure);
  EXPECT_EQ(lastErrorNumber(), 2716);
  EXPECT_EQ(s.getLength(), 65535u);
  EXPECT_EQ(s.getStr()[65534], 'y');
  EXPECT_EQ(s.getStr()[65535], 0);
}

TEST_F(KvStringTest, NumbersNeedOnlyTheirOwnDigitsNearTheLimit) {
  KvString s;
  ASSERT_EQ(s.initialize(kvU(std::string(65530, 'x').c_str())), kvSuccess);
  EXPECT_EQ(s.concat(uint32_t(12345)), kvSuccess);
  EXPECT_EQ(str(s).substr(65530), "12345");
  EXPECT_EQ(errorCount(), 0u);
}

TEST_F(KvStringTest, BorrowedBufferNeverGrows) {
  unsigned char buffer[24];
  std::memset(buffer, '#', sizeof(buffer));
  std::memcpy(buffer, "abc", 4);
  KvString s;
  s.initializeWithBuffer(buffer, 16, 3);
  EXPECT_FALSE(s.isOwned());
  EXPECT_EQ(s.concat(kvU("0123456789AB")), kvSuccess);  // 15 bytes and the terminator fit
  EXPECT_EQ(errorCount(), 0u);

  struct Growth {
    const char* what;
    KvStatus (*grow)(KvString&);
  };
  const Growth growths[] = {
      {"concat char", [](KvString& t) { return t.concat('x'); }},
      {"concat text", [](KvString& t) { return t.concat(kvU("xy")); }},
      {"concat number", [](KvString& t) { return t.concat(int32_t(-1)); }},
      {"resize", [](KvString& t) { return t.resize(16); }},
      {"addQuotes", [](KvString& t) { return t.addQuotes('\''); }},
      {"changeBytes", [](KvString& t) { return t.changeBytes(0, 1, kvU("xy"), 2); }},
      {"forceEol", [](KvString& t) { return t.forceEol(1); }},
  };
  for (const Growth& g : growths) {
    clearErrors();
    EXPECT_EQ(g.grow(s), kvFailure) << g.what;
    EXPECT_EQ(lastErrorNumber(), 2716) << g.what;
    EXPECT_EQ(str(s), "abc0123456789AB") << g.what;
  }
  EXPECT_EQ(s.getBuffer(), buffer);
  EXPECT_EQ(std::string(kvC(buffer) + 16, 8), std::string(8, '#'));  // nothing written past the capacity
}

TEST_F(KvStringTest, ConcatFollowsItsOwnText) {
  KvString s;
  ASSERT_EQ(s.initialize(kvU("abc")), kvSuccess);
  EXPECT_EQ(s.concat(s.getStr(), 3), kvSuccess);  // the buffer moves while the text is appended
  EXPECT_EQ(str(s), "abcabc");
  EXPECT_EQ(s.concat(s.getStr() + 1), kvSuccess);
  EXPECT_EQ(str(s), "abcabcbcabc");
}

TEST_F(KvStringTest, ConcatNumbers) {
  KvString s;
  EXPECT_EQ(s.concat(uint32_t(4294967295u)), kvSuccess);
  EXPECT_EQ(s.concat(','), kvSuccess);
  EXPECT_EQ(s.concat(int32_t(-2147483647 - 1)), kvSuccess);
  EXPECT_EQ(s.concat(','), kvSuccess);
  EXPECT_EQ(s.concat(int32_t(0)), kvSuccess);
  EXPECT_EQ(str(s), "4294967295,-2147483648,0");
}

TEST_F(KvStringTest, InitializeAndUnInitialize) {
  KvString s;
  EXPECT_STREQ(kvC(s.getStr()), "");
  EXPECT_EQ(s.getBuffer(), nullptr);
  ASSERT_EQ(s.initialize(kvU("abcdef"), 3), kvSuccess);
  EXPECT_EQ(str(s), "abc");
  EXPECT_EQ(s.getCapacity(), 4u);
  ASSERT_EQ(s.initialize(s.getStr() + 1), kvSuccess);  // from its own old text
  EXPECT_EQ(str(s), "bc");
  ASSERT_EQ(s.initialize(uint32_t(10)), kvSuccess);
  EXPECT_EQ(str(s), "");
  EXPECT_EQ(s.getCapacity(), 11u);
  s.unInitialize();
  EXPECT_EQ(s.getBuffer(), nullptr);
  EXPECT_EQ(s.getLength(), 0u);
  EXPECT_TRUE(s.isOwned());
}

// ---------------------------------------------------------------------------
// Editing

TEST_F(KvStringTest, ChangeBytes) {
  struct Case {
    uint32_t pos, oldLength;
    const char* text;
    uint32_t newLength;
    const char* expected;
  };
  const Case cases[] = {
      {6, 5, "there", 0, "hello there"},  // 0 with a text: its zero-terminated length
      {0, 5, "hi", 2, "hi world"},
      {5, 6, nullptr, 0, "hello"},  // a null text deletes
      {11, 0, "!", 1, "hello world!"},
      {0, 0, ">>", 2, ">>hello world"},
      {2, 3, "LLOXXX", 3, "heLLO world"},
  };
  for (const Case& c : cases) {
    KvString s;
    ASSERT_EQ(s.initialize(kvU("hello world")), kvSuccess);
    EXPECT_EQ(s.changeBytes(c.pos, c.oldLength, kvU(c.text), c.newLength), kvSuccess) << c.expected;
    EXPECT_EQ(str(s), c.expected);
    EXPECT_EQ(s.getLength(), std::strlen(c.expected));
  }
}

TEST_F(KvStringTest, ChangeBytesRefusesARangeOutsideTheText) {
  KvString s;
  ASSERT_EQ(s.initialize(kvU("abc")), kvSuccess);
  EXPECT_EQ(s.changeBytes(4, 0, kvU("x"), 1), kvFailure);
  EXPECT_EQ(lastErrorNumber(), 1517);
  EXPECT_EQ(s.changeBytes(2, 2, kvU("x"), 1), kvFailure);
  EXPECT_EQ(str(s), "abc");
}

TEST_F(KvStringTest, ChangeBytesWithItsOwnText) {
  KvString s;
  ASSERT_EQ(s.initialize(kvU("abcdef")), kvSuccess);
  EXPECT_EQ(s.changeBytes(0, 0, s.getStr() + 2, 4), kvSuccess);
  EXPECT_EQ(str(s), "cdefabcdef");
}

TEST_F(KvStringTest, ReplaceEveryOccurrence) {
  struct Case {
    const char *text, *oldText, *newText, *expected;
  };
  const Case cases[] = {
      {"a-b-c", "-", "--", "a--b--c"},  // the inserted text is not searched again
      {"aaa", "a", "aa", "aaaaaa"},
      {"a-b-c", "-", nullptr, "abc"},
      {"a-b-c", "-", "", "abc"},
      {"abc", "x", "y", "abc"},
      {"%s1 and %s1", "%s1", "x", "x and x"},
      {"abab", "ab", "ba", "baba"},
  };
  for (const Case& c : cases) {
    KvString s;
    ASSERT_EQ(s.initialize(kvU(c.text)), kvSuccess);
    EXPECT_EQ(s.replaceSubString(kvU(c.oldText), kvU(c.newText)), kvSuccess) << c.text;
    EXPECT_EQ(str(s), c.expected) << c.text;
  }
  KvString s;
  ASSERT_EQ(s.initialize(kvU("abcabc")), kvSuccess);
  EXPECT_EQ(s.replaceSubString(s.getStr() + 3, 3, kvU("x"), 1), kvSuccess);  // a pattern from its own text
  EXPECT_EQ(str(s), "xx");
}

TEST_F(KvStringTest, ReplaceIsAllOrNothing) {
  // The first replacement would fit, the second would pass the limit.
  const std::string text = "<m>" + std::string(30000, '.') + "<m>";
  const std::string value(20000, 'v');
  KvString s;
  ASSERT_EQ(s.initialize(kvU(text.c_str())), kvSuccess);
  EXPECT_EQ(s.replaceSubString(kvU("<m>"), kvU(value.c_str())), kvFailure);
  EXPECT_EQ(lastErrorNumber(), 2716);
  EXPECT_EQ(str(s), text);
}

TEST_F(KvStringTest, ReplaceAPartOfTheString) {
  KvString s;
  ASSERT_EQ(s.initialize(kvU("SELECT * FROM t")), kvSuccess);
  KvSubString star(s.getStr() + 7, 1);
  EXPECT_EQ(s.replaceSubString(&star, kvU("a, b"), 4), kvSuccess);
  EXPECT_EQ(str(s), "SELECT a, b FROM t");

  KvSubString elsewhere(kvU("*"), 1);
  EXPECT_EQ(s.replaceSubString(&elsewhere, kvU("x"), 1), kvFailure);
  EXPECT_EQ(lastErrorNumber(), 1517);
  EXPECT_EQ(str(s), "SELECT a, b FROM t");
}

TEST_F(KvStringTest, QuotesAddedAndRemoved) {
  struct Case {
    const char *plain, *quoted;
    char quote;
  };
  const Case cases[] = {
      {"it's", "'it''s'", '\''}, {"", "''", '\''}, {"'", "''''", '\''}, {"a\"b", "\"a\"\"b\"", '"'},
  };
  for (const Case& c : cases) {
    KvString s;
    ASSERT_EQ(s.initialize(kvU(c.plain)), kvSuccess);
    EXPECT_EQ(s.addQuotes(c.quote), kvSuccess);
    EXPECT_EQ(str(s), c.quoted);
    EXPECT_EQ(s.getLength(), std::strlen(c.quoted));
    EXPECT_EQ(s.removeQuotes(), kvSuccess);
    EXPECT_EQ(str(s), c.plain);
  }
  KvString s;
  ASSERT_EQ(s.initialize(kvU("'a'b'")), kvSuccess);  // not properly quoted: left alone
  EXPECT_EQ(s.removeQuotes(), kvSuccess);
  EXPECT_EQ(str(s), "'a'b'");
}

TEST_F(KvStringTest, AddQuotesSkipsDoubleByteTrailBytes) {
  dbcsOn();
  KvString s;
  ASSERT_EQ(s.initialize(kvU("x\x81'y'")), kvSuccess);
  EXPECT_EQ(s.addQuotes('\''), kvSuccess);
  EXPECT_EQ(str(s), "'x\x81'y'''");
}

TEST_F(KvStringTest, AddQuotedBytes) {
  KvString s;
  ASSERT_EQ(s.initialize(kvU("x=")), kvSuccess);
  KvSubString value(kvU("a'b"), 3);
  EXPECT_EQ(s.addQuotedBytes(&value, '\''), kvSuccess);
  EXPECT_EQ(str(s), "x='a''b'");
  KvSubString own(s.getStr(), 1);
  EXPECT_EQ(s.addQuotedBytes(&own, '"'), kvSuccess);
  EXPECT_EQ(str(s), "x='a''b'\"x\"");
}

TEST_F(KvStringTest, ForceEol) {
  struct Case {
    const char* text;
    int n;
    const char* expected;
  };
  const Case cases[] = {
      {"abc", 2, "abc\r\n\r\n"},   {"abc\r\n", 1, "abc\r\n"},       {"abc\r\n", 3, "abc\r\n\r\n\r\n"},
      {"abc\r\n\r\n", 1, "abc\r\n\r\n"}, {"abc\n", 1, "abc\n\r\n"},  {"", 1, "\r\n"},
      {"abc", 0, "abc"},
  };
  for (const Case& c : cases) {
    KvString s;
    ASSERT_EQ(s.initialize(kvU(c.text)), kvSuccess);
    EXPECT_EQ(s.forceEol(c.n), kvSuccess);
    EXPECT_EQ(str(s), c.expected) << c.text << " " << c.n;
  }
}

TEST_F(KvStringTest, InsertLineBreaks) {
  struct Case {
    const char* text;
    uint32_t width;
    char q1;
    const char* expected;
  };
  const Case cases[] = {
      {"aaaa bbbb cccc dddd", 10, 0, "aaaa bbbb\r\ncccc dddd"},
      {"aaaa bbbb cccc dddd", 9, 0, "aaaa bbbb\r\ncccc dddd"},
      {"aaaa bbbb cccc dddd", 8, 0, "aaaa\r\nbbbb\r\ncccc\r\ndddd"},
      {"abcdefghijkl mn", 5, 0, "abcdefghijkl\r\nmn"},  // a word longer than a line stays whole
      {"ab cd\r\nef gh", 5, 0, "ab cd\r\nef gh"},        // existing breaks start new lines
      {"a 'b c d' e", 4, '\'', "a\r\n'b c d'\r\ne"},     // never inside quotes
      {"a 'b c d' e", 4, 0, "a 'b\r\nc d'\r\ne"},  // a blank past the width breaks itself
      {"short", 80, 0, "short"},
  };
  for (const Case& c : cases) {
    KvString s;
    ASSERT_EQ(s.initialize(kvU(c.text)), kvSuccess);
    EXPECT_EQ(s.insertLineBreaks(c.width, c.q1, '"', 0), kvSuccess);
    EXPECT_EQ(str(s), c.expected) << c.text << " / " << c.width;
    EXPECT_EQ(s.getLength(), std::strlen(c.expected));
  }
}

TEST_F(KvStringTest, RemoveLineBreaks) {
  struct Case {
    const char* text;
    char q1;
    const char* expected;
  };
  const Case cases[] = {
      {"a\r\nb", 0, "a b"},
      {"a\r\n\r\nb", 0, "a b"},
      {"a\r\n", 0, "a "},
      {"a\nb", 0, "a\nb"},
      {"'a\r\nb'\r\nc", '\'', "'a\r\nb' c"},
      {"'a\r\nb'\r\nc", 0, "'a b' c"},
  };
  for (const Case& c : cases) {
    KvString s;
    ASSERT_EQ(s.initialize(kvU(c.text)), kvSuccess);
    EXPECT_EQ(s.removeLineBreaks(c.q1, '"', 0), kvSuccess);
    EXPECT_EQ(str(s), c.expected) << c.text;
  }
}

TEST_F(KvStringTest, LineBreaksRoundTrip) {
  const std::string text = "SELECT name, city FROM customers WHERE city = 'New York' AND name LIKE 'A%'";
  KvString s;
  ASSERT_EQ(s.initialize(kvU(text.c_str())), kvSuccess);
  ASSERT_EQ(s.insertLineBreaks(20, '\'', '"', 0), kvSuccess);
  std::string broken = str(s);
  EXPECT_NE(broken.find("\r\n"), std::string::npos);
  EXPECT_NE(broken.find("'New York'"), std::string::npos);
  ASSERT_EQ(s.removeLineBreaks('\'', '"', 0), kvSuccess);
  EXPECT_EQ(str(s), text);
}

// ---------------------------------------------------------------------------
// Views

TEST_F(KvStringTest, FindInAView) {
  KvSubString s(kvU("a.b.c|tail"), 5);
  EXPECT_EQ(s.findChar('.', 0), 1u);
  EXPECT_EQ(s.findChar('.', 2), 3u);
  EXPECT_EQ(s.findChar('|', 0), 5u);   // beyond the view: absent
  EXPECT_EQ(s.findChar('.', 9), 5u);   // start outside the view
  EXPECT_EQ(s.findSubString(kvU("b.c"), 0), 2u);
  EXPECT_EQ(s.findSubString(kvU("c|t"), 0), 5u);  // never read past the view
  EXPECT_EQ(s.findSubString(kvU("."), 2), 3u);

  dbcsOn();
  KvSubString pairs(kvU("\x81.x."), 4);
  EXPECT_EQ(pairs.findChar('.', 0), 3u);
  EXPECT_EQ(pairs.findSubString(kvU(".x"), 0), 4u);  // "." at 1 is a trail byte
}

TEST_F(KvStringTest, HashAndCount) {
  EXPECT_EQ(KvSubString(kvU("abcdefg"), 7).hash(), KvSubString(kvU("ABCDE"), 5).hash());
  EXPECT_EQ(KvSubString(kvU("ABCDE"), 5).hash(), uint32_t('A' + 'B' + 'C' + 'D' + 'E'));
  EXPECT_EQ(KvSubString(kvU("ab"), 2).hash(), uint32_t('A' + 'B'));
  EXPECT_EQ(KvSubString(kvU(""), 0).hash(), 0u);
  EXPECT_EQ(KvSubString(kvU("\xE9t\xE9"), 3).hash(), KvSubString(kvU("\xC9T\xC9"), 3).hash());

  EXPECT_EQ(KvSubString(kvU("a,b,c"), 5).countChar(','), 2u);
  EXPECT_EQ(KvSubString(kvU("a,b\0,c"), 6).countChar(','), 1u);  // counted up to a zero byte
  dbcsOn();
  EXPECT_EQ(KvSubString(kvU("\x81,,"), 3).countChar(','), 1u);
}

TEST_F(KvStringTest, IndexInSetAndCompare) {
  const unsigned char* words[] = {kvU("SELECT"), kvU("select"), kvU("FROM")};
  KvSubString from(kvU("from x"), 4);
  EXPECT_EQ(from.indexInSet(words, 3), 3);
  EXPECT_EQ(from.indexInSetCi(words, 3), 2);
  KvSubString select(kvU("select"), 6);
  EXPECT_EQ(select.indexInSet(words, 3), 1);
  EXPECT_EQ(select.indexInSetCi(words, 3), 0);
  EXPECT_EQ(KvSubString(kvU("SEL"), 3).indexInSetCi(words, 3), 3);

  EXPECT_EQ(KvSubString(kvU("abc"), 3).compare(&select), -1);
  EXPECT_EQ(KvSubString(kvU("SELECT"), 6).compare(&select), 0);
  EXPECT_EQ(KvSubString(kvU("SELECTED"), 8).compare(&select), 1);
}

TEST_F(KvStringTest, RightBlankTrim) {
  KvSubString s(kvU("abc \t\r\n"), 7);
  s.rightBlankTrim();
  EXPECT_EQ(str(s), "abc");
  KvSubString blanks(kvU("   "), 3);
  blanks.rightBlankTrim();
  EXPECT_EQ(blanks.getLength(), 0u);
}

TEST_F(KvStringTest, CopyQuotedStr) {
  struct Case {
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {"'it''s' and more", "it's"}, {"\"a\"", "a"}, {"''", ""}, {"'open", "open"}, {"''''", "'"},
  };
  for (const Case& c : cases) {
    KvSubString token(kvU(c.text), uint32_t(std::strlen(c.text)));
    KvString out;
    ASSERT_EQ(out.initialize(kvU("old text")), kvSuccess);
    EXPECT_EQ(token.copyQuotedStr(&out), kvSuccess);
    EXPECT_EQ(str(out), c.expected) << c.text;
    EXPECT_EQ(out.getLength(), std::strlen(c.expected));
  }
  KvString self;
  ASSERT_EQ(self.initialize(kvU("'a''b'")), kvSuccess);
  KvSubString view(self.getStr(), self.getLength());
  EXPECT_EQ(view.copyQuotedStr(&self), kvSuccess);
  EXPECT_EQ(str(self), "a'b");
}

TEST_F(KvStringTest, CopiesQuotedAndUnquoted) {
  KvSubString s(kvU("it's|"), 4);
  unsigned char buffer[16];
  std::memset(buffer, '#', sizeof(buffer));
  EXPECT_EQ(s.getCopyQuoted(buffer, 8), buffer + 7);
  EXPECT_STREQ(kvC(buffer), "'it''s'");
  std::memset(buffer, '#', sizeof(buffer));
  EXPECT_EQ(s.getCopyQuoted(buffer, 7), nullptr);  // no room for the terminator
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(buffer[1], '#');

  KvSubString quoted(kvU("'a''b'|"), 6);
  EXPECT_EQ(quoted.getCopyUnquoted(buffer), buffer + 3);
  EXPECT_STREQ(kvC(buffer), "a'b");
}

TEST_F(KvStringTest, GetLinesKeepsNonEmptyLines) {
  KvArray lines;
  lines.setOwnsObjects(true);
  const char text[] = "first\r\n\r\nsecond line\r\nthird\r\n|";
  KvSubString s(kvU(text), uint32_t(std::strlen(text)) - 1);
  EXPECT_EQ(s.getLines(&lines), kvSuccess);
  ASSERT_EQ(lines.getCount(), 3);
  EXPECT_EQ(str(*static_cast<KvString*>(lines[0])), "first");
  EXPECT_EQ(str(*static_cast<KvString*>(lines[1])), "second line");
  EXPECT_EQ(str(*static_cast<KvString*>(lines[2])), "third");
  EXPECT_STREQ(text + sizeof(text) - 2, "|");  // the viewed text is not written

  KvSubString last(kvU("a\r\nb"), 4);
  EXPECT_EQ(last.getLines(&lines), kvSuccess);
  EXPECT_EQ(lines.getCount(), 5);
  EXPECT_EQ(str(*static_cast<KvString*>(lines[4])), "b");
}

// ---------------------------------------------------------------------------
// KvReplaceString

// Rewrites every "?" of the target as replacement; other bytes are copied.
void rewriteMarkers(KvString* target, const char* replacement, bool quoted) {
  KvReplaceString r(target);
  while (r.getLength()) {
    if (r.getText()[0] == '?') {
      r.skip(1);
      if (quoted) {
        ASSERT_EQ(r.addQuotedBytes(kvU(replacement), uint32_t(std::strlen(replacement)), '\''), kvSuccess);
      } else {
        ASSERT_EQ(r.addBytes(kvU(replacement), uint32_t(std::strlen(replacement))), kvSuccess);
      }
    } else {
      ASSERT_EQ(r.addBytes(r.getText(), 1), kvSuccess);
      r.skip(1);
    }
  }
}

TEST_F(KvStringTest, ReplaceStringGrowsAndShrinks) {
  struct Case {
    const char* text;
    const char* replacement;
    bool quoted;
    const char* expected;
  };
  const Case cases[] = {
      {"a?b?c", "it's", true, "a'it''s'b'it''s'c"},
      {"?", "x", false, "x"},
      {"a?b?c", "", false, "abc"},  // a gap stays and is closed at the end
      {"", "x", false, ""},
  };
  for (const Case& c : cases) {
    KvString target;
    ASSERT_EQ(target.initialize(kvU(c.text)), kvSuccess);
    rewriteMarkers(&target, c.replacement, c.quoted);
    EXPECT_EQ(str(target), c.expected) << c.text;
    EXPECT_EQ(target.getLength(), std::strlen(c.expected));
    EXPECT_LE(target.getLength() + 1, target.getCapacity());
  }

  // Many replacements, far more than one widening of the gap.
  std::string text, expected;
  for (int i = 0; i < 300; ++i) {
    text += "v=?;";
    expected += "v=" + std::string(40, 'x') + ";";
  }
  KvString target;
  ASSERT_EQ(target.initialize(kvU(text.c_str())), kvSuccess);
  rewriteMarkers(&target, std::string(40, 'x').c_str(), false);
  EXPECT_EQ(str(target), expected);
}

TEST_F(KvStringTest, ReplaceStringFollowsSourcesInsideTheTarget) {
  KvString target;
  ASSERT_EQ(target.initialize(kvU("abc")), kvSuccess);
  const std::string filler(510, '-');
  {
    KvReplaceString r(&target);
    // The unread rest itself, with no gap yet: it moves while it is copied.
    ASSERT_EQ(r.addBytes(r.getText(), 3), kvSuccess);
    EXPECT_EQ(str(r), "abc");
    // Fill the gap (512 bytes) to 2 bytes, then copy bytes already produced:
    // the gap widens and the buffer may move under them.
    ASSERT_EQ(r.addBytes(kvU(filler.c_str()), uint32_t(filler.size())), kvSuccess);
    ASSERT_EQ(r.addBytes(target.getBuffer(), 3), kvSuccess);
    EXPECT_EQ(r.getWriteOffset(), 516u);
    EXPECT_EQ(str(r), "abc");
  }
  EXPECT_EQ(str(target), "abc" + filler + "abcabc");
}

TEST_F(KvStringTest, ReplaceStringKeepsBytesWithAndWithoutAGap) {
  // A long text near the size limit: keeping its front must not widen the
  // gap (which would push the string past the limit).
  std::string text(60000, 'a');
  text += "{x}tail";
  KvString target;
  ASSERT_EQ(target.initialize(kvU(text.c_str())), kvSuccess);
  {
    KvReplaceString r(&target);
    r.keep(60000);
    EXPECT_EQ(r.getWriteOffset(), 60000u);
    r.skip(3);                              // "{x}" goes: a gap of 3 opens
    ASSERT_EQ(r.addBytes(kvU("Y"), 1), kvSuccess);
    r.keep(2);                              // "ta" moves down over the gap
    r.keep(100);                            // at most the rest: "il"
    EXPECT_EQ(r.getLength(), 0u);
  }
  EXPECT_EQ(str(target), std::string(60000, 'a') + "Ytail");
}

TEST_F(KvStringTest, ReplaceStringOverABorrowedBufferFailsToGrow) {
  unsigned char buffer[8] = "a?b";
  KvString target;
  target.initializeWithBuffer(buffer, sizeof(buffer), 3);
  {
    KvReplaceString r(&target);
    EXPECT_EQ(r.addBytes(kvU("x"), 1), kvFailure);
    EXPECT_EQ(lastErrorNumber(), 2716);
  }
  EXPECT_EQ(str(target), "a?b");
}

// ---------------------------------------------------------------------------
// KvParamString

TEST_F(KvStringTest, MarkersAreFilledByNumberAndType) {
  KvParamString p;
  ASSERT_EQ(p.initialize(kvU("Error parsing %s2 at offset %n1.")), kvSuccess);
  p << uint32_t(12) << kvU("connect string");
  EXPECT_EQ(str(p), "Error parsing connect string at offset 12.");
  EXPECT_FALSE(p.hasFailed());

  ASSERT_EQ(p.initialize(kvU("%n1 %s1 %n2")), kvSuccess);
  p << int32_t(-5);
  EXPECT_EQ(str(p), "-5 %s1 %n2");  // a number fills only its own kind of marker
  p << kvU("t");
  EXPECT_EQ(str(p), "-5 %s1 %n2");  // the second parameter has its own markers

  ASSERT_EQ(p.initialize(kvU("No markers.")), kvSuccess);
  p << kvU("x") << uint32_t(1);
  EXPECT_EQ(str(p), "No markers.");
  EXPECT_FALSE(p.hasFailed());
}

TEST_F(KvStringTest, TenthAndLaterParametersUseTheXMarkers) {
  KvParamString p;
  ASSERT_EQ(p.initialize(kvU("%s1|%sx10|%s10|%nx11")), kvSuccess);
  const char* values[] = {"A", "B", "C", "D", "E", "F", "G", "H", "I", "J"};
  for (const char* v : values) p << kvU(v);
  p << uint32_t(99);
  // "%s10" is "%s1" followed by "0": the first parameter fills it, never the tenth.
  EXPECT_EQ(str(p), "A|J|A0|99");
}

TEST_F(KvStringTest, EveryOccurrenceOfAMarkerIsFilled) {
  KvParamString p;
  ASSERT_EQ(p.initialize(kvU("'%s1' and '%s1'")), kvSuccess);
  EXPECT_EQ(p.setParam(kvU("x")), kvSuccess);
  EXPECT_EQ(str(p), "'x' and 'x'");
  ASSERT_EQ(p.initialize(kvU("%s1")), kvSuccess);
  EXPECT_EQ(p.setParam(kvU("%s1%s1")), kvSuccess);  // a value holding its own marker
  EXPECT_EQ(str(p), "%s1%s1");
}

TEST_F(KvStringTest, QuotedAndViewParameters) {
  KvParamString p;
  ASSERT_EQ(p.initialize(kvU("name %s1, value %s2")), kvSuccess);
  EXPECT_EQ(p.setQuotedParam(kvU("it's"), '\''), kvSuccess);
  EXPECT_EQ(p.setParam(KvSubString(kvU("12345"), 2)), kvSuccess);
  EXPECT_EQ(str(p), "name 'it''s', value 12");
}

TEST_F(KvStringTest, AFailedFillStopsLaterFills) {
  KvParamString p;
  ASSERT_EQ(p.initialize(kvU("a %s1 %s2")), kvSuccess);
  const std::string huge(70000, 'x');
  p << kvU(huge.c_str()) << kvU("second");
  EXPECT_TRUE(p.hasFailed());
  EXPECT_EQ(lastErrorNumber(), 2716);
  EXPECT_EQ(str(p), "a %s1 %s2");  // never half filled with misnumbered parameters

  ASSERT_EQ(p.initialize(kvU("%s1")), kvSuccess);  // initialize clears the failure
  EXPECT_FALSE(p.hasFailed());
  p << kvU("ok");
  EXPECT_EQ(str(p), "ok");
}

TEST_F(KvStringTest, ErrorMessagesAreFilledThroughTheirText) {
  kvAddUtilityError(kvMsgCannotLoadLibrary) << kvU("libNAME06.so") << kvU("a missing file");
  EXPECT_STREQ(kvC(KvErrorKeeper::getLastError()->getErrorText()),
               "Unable to load DLL libNAME06.so because of a missing file.");
  clearErrors();
  kvAddUtilityError(kvMsgNamedParse) << uint32_t(7) << kvU("the list");
  EXPECT_STREQ(kvC(KvErrorKeeper::getLastError()->getErrorText()), "Error parsing the list at offset 7.");
}

}  // namespace
