// Tests of the scanner: token types and operator codes, the switches and
// character sets, delimited reads and lists, multi-word comparison, editing
// the scanned string. Hostile input must end every scan without reading
// outside the text.
#include "util/containers/scanner.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/util/test_support.h"
#include "util/charsets/charset.h"
#include "util/containers/kv_array.h"

namespace {

typedef std::vector<std::pair<std::string, uint32_t>> Tokens;

// Double-byte handling is switched off after every test.
class ScannerTest : public ErrorCapturingTest {
 protected:
  void TearDown() override {
    kvSetDbcsLeadBytes(nullptr);
    ErrorCapturingTest::TearDown();
  }
};

// Reads every token up to the end, checking that each is a view of the text
// at its own offset, that tokens never overlap or go back, and that the end
// token sits at the end.
Tokens scanAll(KvScanner& scanner, int searchType) {
  Tokens out;
  KvToken token;
  uint32_t previousEnd = 0;
  for (uint32_t round = 0; round <= scanner.getLength() + 1; ++round) {
    scanner.getToken(token, searchType);
    EXPECT_EQ(token.getText(), scanner.getText() + token.getOffset());
    EXPECT_GE(token.getOffset(), previousEnd);
    EXPECT_LE(token.getOffset() + token.getLength(), scanner.getLength());
    if (token.getType() == kvTokenEnd) {
      EXPECT_EQ(token.getOffset(), scanner.getLength());
      EXPECT_EQ(token.getLength(), 0u);
      EXPECT_TRUE(scanner.isAtEnd());
      return out;
    }
    EXPECT_GT(token.getLength(), 0u) << "a token that reads nothing would loop";
    previousEnd = token.getOffset() + token.getLength();
    out.emplace_back(std::string(kvC(token.getText()), token.getLength()), token.getType());
  }
  ADD_FAILURE() << "the scan did not reach the end";
  return out;
}

struct TokenCase {
  const char* what;
  std::string text;
  Tokens expected;
  int searchType;
  std::function<void(KvScanner&)> setup;
};

TEST_F(ScannerTest, TokenTypesAndOperatorCodes) {
  auto parens = [](KvScanner& s) { s.setGroupFlags(KvScanner::groupParentheses); };
  auto braces = [](KvScanner& s) { s.setGroupFlags(KvScanner::groupBraces); };
  auto comments = [](KvScanner& s) { s.setComments(1); };
  auto noDecimal = [](KvScanner& s) { s.setDecimalPointMode(0); };
  const TokenCase cases[] = {
      {"dotted words", "a.b", {{"a", 2}, {".", 0x2E}, {"b", 2}}, 0, nullptr},
      {"two-character operator", "<=", {{"<=", 0x3C3D}}, 0, nullptr},
      {"no such pair", "<+", {{"<", 0x3C}, {"+", 0x2B}}, 0, nullptr},
      {"operators", "== =* => <> != !< !> || && ** *= // -- ++ =<",
       {{"==", 0x3D3D}, {"=*", 0x3D2A}, {"=>", 0x3D3E}, {"<>", 0x3C3E}, {"!=", 0x213D},
        {"!<", 0x213C}, {"!>", 0x213E}, {"||", 0x7C7C}, {"&&", 0x2626}, {"**", 0x2A2A},
        {"*=", 0x2A3D}, {"//", 0x2F2F}, {"--", 0x2D2D}, {"++", 0x2B2B}, {"=<", 0x3D3C}},
       0, nullptr},
      {"single operators", "? , ; : $ # % @ { } !",
       {{"?", 63}, {",", 44}, {";", 59}, {":", 58}, {"$", 36}, {"#", 35}, {"%", 37}, {"@", 64},
        {"{", 123}, {"}", 125}, {"!", 33}},
       0, nullptr},
      {"outside the table", "~^\\", {{"~", 10}, {"^", 10}, {"\\", 10}}, 0, nullptr},
      {"doubled quote", "'it''s' x", {{"'it''s'", 3}, {"x", 2}}, 0, nullptr},
      {"double and back quotes", "\"a\"\"b\" `c d`", {{"\"a\"\"b\"", 3}, {"`c d`", 3}}, 0, nullptr},
      {"unclosed quote", "'abc", {{"'abc", 4}}, 0, nullptr},
      {"doubled quote at the end leaves it open", "'a''", {{"'a''", 4}}, 0, nullptr},
      {"parenthesis group", "f(a,(b))", {{"f", 2}, {"(a,(b))", 3}}, 0, parens},
      {"group with a quoted closer", "(a')'b) c", {{"(a')'b)", 3}, {"c", 2}}, 0, parens},
      {"unclosed group", "(a(b)", {{"(a(b)", 4}}, 0, parens},
      {"group with an unclosed quote", "(a 'b)", {{"(a 'b)", 4}}, 0, parens},
      {"brace group", "{d '1)'} x", {{"{d '1)'}", 3}, {"x", 2}}, 0, braces},
      {"groups off", "(a)", {{"(", 0x28}, {"a", 2}, {")", 0x29}}, 0, nullptr},
      {"outer-join marker", "x(+)", {{"x", 2}, {"(+)", 12}}, 0, nullptr},
      {"not an outer-join marker", "( +)", {{"(", 0x28}, {"+", 0x2B}, {")", 0x29}}, 0, nullptr},
      {"fraction at the end", ".5", {{".5", 9}}, 0, nullptr},
      {"decimal at the end", "1.5", {{"1.5", 9}}, 0, nullptr},
      {"decimal before a blank", "1.5 ", {{"1.5", 5}}, 0, nullptr},
      {"decimal before a letter", "1.5x", {{"1.5", 5}, {"x", 2}}, 0, nullptr},
      {"fraction before a blank", ".5 ", {{".5", 5}}, 0, nullptr},
      {"integer at the end", "12", {{"12", 5}}, 0, nullptr},
      {"second point", "1.2.3", {{"1.2", 5}, {".3", 9}}, 0, nullptr},
      {"decimal mode off", "1.5", {{"1", 5}, {".", 0x2E}, {"5", 5}}, 0, noDecimal},
      {"point without a digit", ". 5", {{".", 0x2E}, {"5", 5}}, 0, nullptr},
      {"words", "_a1 \xC9t\xE9 b_2", {{"_a1", 2}, {"\xC9t\xE9", 2}, {"b_2", 2}}, 0, nullptr},
      {"line comment", "a -- c\nb", {{"a", 2}, {"-- c", 11}, {"b", 2}}, 0, comments},
      {"block comment", "a /* x */b", {{"a", 2}, {"/* x */", 11}, {"b", 2}}, 0, comments},
      {"open block comment", "/* x", {{"/* x", 11}}, 0, comments},
      {"runs", "ab.c/d e|f", {{"ab.c", 6}, {"/", 0x2F}, {"d", 6}, {"e", 6}, {"|", 0x7C}, {"f", 6}}, 1,
       nullptr},
      {"identifiers", "#tmp$1 x.y", {{"#tmp$1", 7}, {"x", 7}, {".", 0x2E}, {"y", 7}}, 2, nullptr},
      {"white space only", " \t\r\n ", {}, 0, nullptr},
      {"extra word characters", "a-b c", {{"a-b", 2}, {"c", 2}}, 0,
       [](KvScanner& s) { ASSERT_EQ(s.setExtraWordChars(kvU("-")), kvSuccess); }},
      {"word delimiters", "1a+b,c", {{"1a+b", 2}, {",", 0x2C}, {"c", 2}}, 0,
       [](KvScanner& s) { ASSERT_EQ(s.setWordDelimiters(kvU(" ,")), kvSuccess); }},
      {"space that starts a word", "a  b", {{"a", 2}, {" ", 2}, {" b", 2}}, 0,
       [](KvScanner& s) { ASSERT_EQ(s.setSpaceWordChars(kvU(" ")), kvSuccess); }},
      {"custom group", "[a[b]] c", {{"[a[b]]", 3}, {"c", 2}}, 0,
       [](KvScanner& s) { s.setCustomGroup('[', ']'); }},
      {"custom group that is its own closer", "|a|b", {{"|a|", 3}, {"b", 2}}, 0,
       [](KvScanner& s) { s.setCustomGroup('|', '|'); }},
      {"quote characters changed", "`a` 'b'", {{"`", 96}, {"a", 2}, {"`", 96}, {"'b'", 3}}, 0,
       [](KvScanner& s) { s.setQuoteChars('\'', '"', '\''); }},
  };
  for (const TokenCase& c : cases) {
    SCOPED_TRACE(c.what);
    KvScanner scanner(kvU(c.text.c_str()));
    if (c.setup) c.setup(scanner);
    EXPECT_EQ(scanAll(scanner, c.searchType), c.expected);
  }
}

TEST_F(ScannerTest, CountedTextMayHoldZeroBytes) {
  const unsigned char text[] = {'a', 0, 'b', 0};
  KvScanner scanner(text, 3);
  // The byte 0 is the last operator of the table; its code is 0.
  EXPECT_EQ(scanAll(scanner, 0), (Tokens{{"a", 2}, {std::string(1, '\0'), 0}, {"b", 2}}));
}

TEST_F(ScannerTest, DoubleBytePairsStayTogether) {
  const unsigned char ranges[] = {0x81, 0x9F, 0, 0};
  kvSetDbcsLeadBytes(ranges);
  // A trail byte that looks like a quote, a delimiter or a closer is part of
  // its character; a lead byte that ends the text stands alone.
  std::string text = "a\x81'b '\x82'x' (\x83)) \x84";
  KvScanner scanner(kvU(text.c_str()));
  scanner.setGroupFlags(KvScanner::groupParentheses);
  EXPECT_EQ(scanAll(scanner, 0),
            (Tokens{{"a\x81'b", 2}, {"'\x82'x'", 3}, {"(\x83))", 3}, {"\x84", 10}}));
  EXPECT_EQ(scanner.getLastCharBytes(), 1);

  KvScanner delimited(kvU("\x81;x;y"));
  KvToken token;
  delimited.getDelimitedToken(token, ';');
  EXPECT_EQ(std::string(kvC(token.getText()), token.getLength()), "\x81;x");
}

struct DelimitedCase {
  const char* text;
  char delimiter;
  uint32_t type;
  std::string token;
  uint32_t offsetAfter;  // where the scanner stands afterwards
};

TEST_F(ScannerTest, DelimitedToken) {
  const DelimitedCase cases[] = {
      {"  abc 'x;y'  ;", ';', kvTokenDelimited, "abc 'x;y'", 13},
      {";x", ';', kvTokenEmpty, "", 0},
      {"  ;x", ';', kvTokenEmpty, "", 2},
      {"   ", ';', kvTokenEnd, "", 3},
      {"", ';', kvTokenEnd, "", 0},
      {"a\"b;c\" d;e", ';', kvTokenDelimited, "a\"b;c\" d", 8},
      {"abc 'x;y", ';', kvTokenUnclosed, "abc 'x;y", 8},
      {"abc", ';', kvTokenDelimited, "abc", 3},
      {"a,b", ',', kvTokenDelimited, "a", 1},
  };
  for (const DelimitedCase& c : cases) {
    SCOPED_TRACE(c.text);
    KvScanner scanner(kvU(c.text));
    KvToken token;
    scanner.getDelimitedToken(token, c.delimiter);
    EXPECT_EQ(token.getType(), c.type);
    EXPECT_EQ(std::string(kvC(token.getText()), token.getLength()), c.token);
    EXPECT_EQ(scanner.getOffset(), c.offsetAfter);
  }
}

TEST_F(ScannerTest, ParseListMakesViewsOrCopies) {
  std::string text = "a, b c ,,'x,y'";
  KvScanner scanner(kvU(text.c_str()));
  KvArray views;
  views.setOwnsObjects(true);
  ASSERT_EQ(scanner.parseList(&views, ','), kvSuccess);
  std::vector<std::string> items;
  for (uint16_t i = 0; i < views.getCount(); ++i) {
    const KvSubString* item = static_cast<const KvSubString*>(views[i]);
    items.emplace_back(kvC(item->getText()), item->getLength());
  }
  EXPECT_EQ(items, (std::vector<std::string>{"a", "b c", "", "'x,y'"}));
  EXPECT_EQ(static_cast<const KvSubString*>(views[0])->getText(), kvU(text.c_str()));

  KvArray copies;
  copies.setOwnsObjects(true);
  scanner.setScanString(kvU(text.c_str()), static_cast<uint32_t>(text.size()));
  ASSERT_EQ(scanner.parseListQeString(&copies, ','), kvSuccess);
  ASSERT_EQ(copies.getCount(), 4);
  text.assign(text.size(), '#');  // the copies do not depend on the text
  EXPECT_STREQ(kvC(static_cast<KvString*>(copies[1])->getStr()), "b c");
  EXPECT_STREQ(kvC(static_cast<KvString*>(copies[3])->getStr()), "'x,y'");

  // A second list replaces the first.
  KvScanner other(kvU("z"));
  ASSERT_EQ(other.parseListQeString(&copies, ','), kvSuccess);
  EXPECT_EQ(copies.getCount(), 1);
}

TEST_F(ScannerTest, UnGetAndPartToken) {
  KvScanner scanner(kvU("select a"));
  KvToken token;
  scanner.getToken(token);
  scanner.getToken(token);
  scanner.getToken(token);
  EXPECT_TRUE(scanner.isAtEnd());
  KvToken first;
  scanner.getToken(first, 0u, 6u);
  EXPECT_EQ(first.getType(), kvTokenEmpty);
  EXPECT_EQ(std::string(kvC(first.getText()), first.getLength()), "select");
  scanner.unGetToken(first);
  EXPECT_FALSE(scanner.isAtEnd());
  scanner.getToken(token);
  EXPECT_EQ(std::string(kvC(token.getText()), token.getLength()), "select");
  // A part beyond the text is cut to it.
  scanner.getToken(token, 7u, 100u);
  EXPECT_EQ(std::string(kvC(token.getText()), token.getLength()), "a");
  scanner.getToken(token, 100u, 5u);
  EXPECT_EQ(token.getOffset(), 8u);
  EXPECT_EQ(token.getLength(), 0u);
}

TEST_F(ScannerTest, MultiWordComparison) {
  KvScanner scanner(kvU("GROUP  BY x ORDER y"));
  KvToken token;
  scanner.getToken(token);
  EXPECT_EQ(scanner.isEqual(token, kvU("GROUP ORDER")), 0);
  EXPECT_EQ(scanner.getOffset(), 5u) << "a mismatch restores the position";
  EXPECT_EQ(scanner.isEqual(token, kvU("group by")), 0);
  EXPECT_NE(scanner.isEqualCi(token, kvU("group by")), 0);
  EXPECT_EQ(std::string(kvC(token.getText()), token.getLength()), "GROUP  BY");
  scanner.getToken(token);
  EXPECT_EQ(std::string(kvC(token.getText()), token.getLength()), "x");

  const unsigned char list[] = "ORDER BY\0ORDER\0";
  scanner.getToken(token);
  EXPECT_EQ(scanner.isInSet(token, list), 2);
  EXPECT_EQ(scanner.isInSetCi(token, kvU("order\0")), 1);
  EXPECT_EQ(scanner.isInSet(token, kvU("GROUP\0")), 0);

  scanner.setScanString(kvU("SELECT a FROM t WHERE b"), 23);
  EXPECT_NE(scanner.isTokenWithin(kvU("FROM t")), 0);
  scanner.getToken(token);
  EXPECT_EQ(std::string(kvC(token.getText()), token.getLength()), "WHERE");
  EXPECT_EQ(scanner.isTokenWithinCi(kvU("having")), 0);
  EXPECT_TRUE(scanner.isAtEnd());
}

TEST_F(ScannerTest, EditingTheScannedString) {
  KvString source;
  ASSERT_EQ(source.initialize(kvU("SELECT * FROM t WHERE x")), kvSuccess);
  KvScanner scanner(&source);
  KvToken token;
  for (int i = 0; i < 4; ++i) scanner.getToken(token);
  ASSERT_EQ(std::string(kvC(token.getText()), token.getLength()), "t");
  KvSubString longer(kvU("long_table_name"), 15);
  ASSERT_EQ(scanner.changeToken(&token, longer), kvSuccess);
  EXPECT_STREQ(kvC(source.getStr()), "SELECT * FROM long_table_name WHERE x");
  scanner.getToken(token);
  EXPECT_EQ(std::string(kvC(token.getText()), token.getLength()), "WHERE");

  KvSubString alias(kvU("AS a "), 5);
  ASSERT_EQ(scanner.insertToken(&token, alias), kvSuccess);
  EXPECT_STREQ(kvC(source.getStr()), "SELECT * FROM long_table_name AS a WHERE x");
  EXPECT_EQ(std::string(kvC(token.getText()), token.getLength()), "WHERE");
  scanner.getToken(token);
  EXPECT_EQ(std::string(kvC(token.getText()), token.getLength()), "x");

  // An empty replacement deletes the token.
  ASSERT_EQ(scanner.changeToken(&token, KvSubString(kvU(""), 0)), kvSuccess);
  EXPECT_STREQ(kvC(source.getStr()), "SELECT * FROM long_table_name AS a WHERE ");
  EXPECT_EQ(scanner.getOffset(), source.getLength());

  // A replacement taken from the string itself survives the string moving.
  scanner.setScanString(&source);
  scanner.getToken(token);
  KvSubString own(source.getText() + 14, 15);
  ASSERT_EQ(scanner.changeToken(&token, own), kvSuccess);
  EXPECT_STREQ(kvC(source.getStr()), "long_table_name * FROM long_table_name AS a WHERE ");
}

TEST_F(ScannerTest, EditingNeedsAnEditableSource) {
  KvScanner scanner(kvU("a b"));
  KvToken token;
  scanner.getToken(token);
  EXPECT_EQ(scanner.changeToken(&token, KvSubString(kvU("c"), 1)), kvFailure);
  EXPECT_EQ(lastErrorNumber(), 1517);

  KvString source;
  ASSERT_EQ(source.initialize(kvU("a b")), kvSuccess);
  KvScanner editable(&source);
  KvToken stray;
  stray.setToken(kvU("x"), 5, kvTokenWord, 2);  // runs past the text
  EXPECT_EQ(editable.changeToken(&stray, KvSubString(kvU("c"), 1)), kvFailure);
  EXPECT_STREQ(kvC(source.getStr()), "a b");
}

// Pseudo-random bytes (a fixed sequence) through every search type: each
// scan must end, move on at every step and stay inside its text.
TEST_F(ScannerTest, ArbitraryBytesAlwaysEnd) {
  const unsigned char ranges[] = {0x81, 0x9F, 0, 0};
  ArbitraryTexts texts;
  for (int round = 0; round < 400; ++round) {
    kvSetDbcsLeadBytes(round % 2 ? ranges : nullptr);
    std::vector<unsigned char> text = texts.next(true);
    KvScanner scanner(text.data(), static_cast<uint32_t>(text.size()));
    scanner.setGroupFlags(static_cast<uint16_t>(round % 4));
    scanner.setComments(round % 3 == 0);
    scanAll(scanner, round % 3);
    scanner.setOffset(0);
    KvToken token;
    for (size_t step = 0; step <= text.size() + 1; ++step) {
      scanner.getDelimitedToken(token, ';');
      if (token.getType() == kvTokenEnd) break;
      EXPECT_LE(token.getOffset() + token.getLength(), text.size());
      scanner.getToken(token);
      if (token.getType() == kvTokenEnd) break;
    }
    EXPECT_TRUE(scanner.isAtEnd());
    list_->clearErrors();
  }
}

}  // namespace
