// ANSI and the application's code set: UTF-8 out and back, cuts between
// characters with the whole text's length, refusals of what either side
// cannot hold, iconv code sets, and the locale that picks the converter.
#include "util/charsets/charset_app.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace {

using Bytes = std::string;

const KvAppCharset& utf8() { return KvAppCharset::forCodeSet("UTF-8"); }

Bytes fromApp(const KvAppCharset& charset, const Bytes& text, KvAppTextCheck* check, bool* ok) {
  Bytes out(text.size(), '\0');
  uint32_t length = 0;
  *ok = charset.fromApp(reinterpret_cast<const unsigned char*>(text.data()), uint32_t(text.size()),
                        reinterpret_cast<unsigned char*>(&out[0]), &length, check);
  out.resize(length);
  return out;
}

TEST(CharsetApp, CodeSetNamesPickTheConverter) {
  struct Case {
    const char* name;
    KvAppCharset::Kind kind;
  } cases[] = {
      {"UTF-8", KvAppCharset::kindUtf8},          {"utf8", KvAppCharset::kindUtf8},
      {"ANSI_X3.4-1968", KvAppCharset::kindAnsi}, {"", KvAppCharset::kindAnsi},
      {"CP1252", KvAppCharset::kindAnsi},         {"ISO-8859-15", KvAppCharset::kindTable},
      {"NO-SUCH-CODE-SET", KvAppCharset::kindAnsi},
  };
  for (const Case& c : cases) EXPECT_EQ(KvAppCharset::forCodeSet(c.name).getKind(), c.kind) << c.name;
  EXPECT_EQ(utf8().maxCharBytes(), 3u);
  EXPECT_EQ(&KvAppCharset::forCodeSet("UTF-8"), &utf8()) << "one converter per code set";
}

TEST(CharsetApp, TheLocaleOfTheProcessDecides) {
  const std::string saved = std::setlocale(LC_CTYPE, nullptr);
  ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
  EXPECT_EQ(KvAppCharset::current().getKind(), KvAppCharset::kindUtf8);
  ASSERT_NE(std::setlocale(LC_CTYPE, "C"), nullptr);
  EXPECT_EQ(KvAppCharset::current().getKind(), KvAppCharset::kindAnsi);
  std::setlocale(LC_CTYPE, saved.c_str());
}

TEST(CharsetApp, EveryAnsiByteRoundTripsThroughUtf8) {
  for (int b = 0; b < 256; ++b) {
    const unsigned char ansi = uint8_t(b);
    unsigned char out[4];
    uint32_t written = 0, consumed = 0;
    uint64_t total = 0;
    KvAppTextCheck check;
    ASSERT_TRUE(utf8().toApp(&ansi, 1, out, sizeof(out), &written, &consumed, &total, &check)) << b;
    EXPECT_EQ(total, written);
    bool ok = false;
    const Bytes back = fromApp(utf8(), Bytes(reinterpret_cast<char*>(out), written), &check, &ok);
    ASSERT_TRUE(ok) << b;
    EXPECT_EQ(back, Bytes(1, char(b)));
  }
}

// ANSI text cut to room bytes of UTF-8: whole characters only, the ANSI
// bytes they came from, and the length of the whole text.
TEST(CharsetApp, Utf8GoingOutIsCutBetweenCharacters) {
  const Bytes eve = "\xC9ve";        // Ève
  const Bytes euro = "\x80";         // €
  const Bytes oeuvre = "\x8Cuvre";   // Œuvre
  struct Case {
    Bytes ansi;
    uint32_t room;
    Bytes expected;
    uint32_t consumed;
    uint64_t total;
  } cases[] = {
      {eve, 10, "\xC3\x89ve", 3, 4},
      {eve, 1, "", 0, 4},  // É takes two bytes: none written
      {eve, 2, "\xC3\x89", 1, 4},
      {eve, 3, "\xC3\x89v", 2, 4},
      {euro, 2, "", 0, 3},
      {euro, 3, "\xE2\x82\xAC", 1, 3},
      {oeuvre, 4, "\xC5\x92uv", 3, 6},
      {"abc", 2, "ab", 2, 3},
      {"", 5, "", 0, 0},
  };
  for (const Case& c : cases) {
    unsigned char out[16] = {0};
    uint32_t written = 0, consumed = 0;
    uint64_t total = 0;
    KvAppTextCheck check;
    ASSERT_TRUE(utf8().toApp(reinterpret_cast<const unsigned char*>(c.ansi.data()), uint32_t(c.ansi.size()), out,
                             c.room, &written, &consumed, &total, &check));
    EXPECT_EQ(Bytes(reinterpret_cast<char*>(out), written), c.expected) << c.ansi << " in " << c.room;
    EXPECT_EQ(consumed, c.consumed) << c.ansi << " in " << c.room;
    EXPECT_EQ(total, c.total) << c.ansi;
  }
}

TEST(CharsetApp, Utf8ComingInIsCheckedCharacterByCharacter) {
  struct Case {
    Bytes text;
    bool ok;
    Bytes ansi;  // what converts (before the fault)
    KvAppTextFault fault;
    uint32_t offset;
    uint32_t codePoint;
  } cases[] = {
      {"\xC3\x89ve", true, "\xC9ve", appTextGood, 0, 0},
      {"\xE2\x82\xAC 5", true, "\x80 5", appTextGood, 0, 0},
      {"\xC5\x92uvre", true, "\x8Cuvre", appTextGood, 0, 0},
      {"x\xE2\x82\xBD", false, "x", appTextNoAnsi, 1, 0x20BD},           // ruble sign
      {"\xF0\x9F\x98\x80", false, "", appTextNoAnsi, 0, 0x1F600},        // beyond one UTF-16 unit
      {"\xCE\xB1", false, "", appTextNoAnsi, 0, 0x3B1},                  // Greek alpha
      {"ab\x80", false, "ab", appTextInvalid, 2, 0},                     // stray continuation
      {"\xC9ve", false, "", appTextInvalid, 0, 0},                       // ANSI bytes, not UTF-8
      {"\xC0\xAF", false, "", appTextInvalid, 0, 0},                     // overlong "/"
      {"\xE0\x80\xAF", false, "", appTextInvalid, 0, 0},                 // overlong, three bytes
      {"\xED\xA0\x80", false, "", appTextInvalid, 0, 0},                 // a surrogate
      {"\xF4\x90\x80\x80", false, "", appTextInvalid, 0, 0},             // beyond U+10FFFF
      {"a\xE2\x82", false, "a", appTextInvalid, 1, 0},                   // cut short
      {"\xE2\x82x", false, "", appTextInvalid, 0, 0},
  };
  for (const Case& c : cases) {
    KvAppTextCheck check;
    bool ok = false;
    const Bytes ansi = fromApp(utf8(), c.text, &check, &ok);
    EXPECT_EQ(ok, c.ok) << c.text;
    EXPECT_EQ(ansi, c.ansi) << c.text;
    EXPECT_EQ(check.fault, c.fault) << c.text;
    EXPECT_EQ(check.offset, c.offset) << c.text;
    if (c.codePoint) {
      EXPECT_EQ(check.codePoint, c.codePoint) << c.text;
    }
  }
}

TEST(CharsetApp, PiecesEndOnCharacterBoundaries) {
  struct Case {
    Bytes text;
    uint32_t whole;
  } cases[] = {
      {"abc", 3},
      {"a\xC3", 1},              // É's first byte waits for the next piece
      {"a\xC3\x89", 3},
      {"a\xE2\x82", 1},          // two of €'s three bytes
      {"a\xE2\x82\xAC", 4},
      {"a\xF0\x9F\x98", 1},
      {"a\x80", 2},              // no character begins so: left for fromApp to refuse
      {"", 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(utf8().wholeCharBytes(reinterpret_cast<const unsigned char*>(c.text.data()), uint32_t(c.text.size())),
              c.whole)
        << c.text;
}

TEST(CharsetApp, AnsiCodeSetPassesBytesUnchanged) {
  const KvAppCharset& ascii = KvAppCharset::forCodeSet("ANSI_X3.4-1968");
  const Bytes text = "\xC9ve \x80 \x81";
  unsigned char out[8];
  uint32_t written = 0, consumed = 0;
  uint64_t total = 0;
  KvAppTextCheck check;
  ASSERT_TRUE(ascii.toApp(reinterpret_cast<const unsigned char*>(text.data()), uint32_t(text.size()), out, 4,
                          &written, &consumed, &total, &check));
  EXPECT_EQ(Bytes(reinterpret_cast<char*>(out), written), "\xC9ve ");
  EXPECT_EQ(total, text.size());
  bool ok = false;
  EXPECT_EQ(fromApp(ascii, text, &check, &ok), text);
  EXPECT_TRUE(ok);
}

// Single-byte code sets through iconv: ISO-8859-15 has the euro sign where
// 1252 has the currency sign's place, ISO-8859-1 has no euro sign at all.
TEST(CharsetApp, OtherCodeSetsConvertThroughIconv) {
  const KvAppCharset& latin9 = KvAppCharset::forCodeSet("ISO-8859-15");
  ASSERT_EQ(latin9.getKind(), KvAppCharset::kindTable);
  KvAppTextCheck check;
  bool ok = false;
  EXPECT_EQ(fromApp(latin9, "\xA4 \xBC", &check, &ok), "\x80 \x8C");  // € Œ
  EXPECT_TRUE(ok);
  EXPECT_EQ(fromApp(latin9, "\xA8", &check, &ok), "\x9A");  // š
  EXPECT_TRUE(ok);

  const KvAppCharset& latin1 = KvAppCharset::forCodeSet("ISO-8859-1");
  const unsigned char euro = 0x80;
  unsigned char out[4];
  uint32_t written = 0;
  uint64_t total = 0;
  EXPECT_FALSE(latin1.toApp(&euro, 1, out, sizeof(out), &written, nullptr, &total, &check));
  EXPECT_EQ(check.fault, appTextNoAppChar);
  EXPECT_EQ(check.codePoint, 0x20ACu);
  const unsigned char e = 0xC9;
  ASSERT_TRUE(latin1.toApp(&e, 1, out, sizeof(out), &written, nullptr, &total, &check));
  EXPECT_EQ(out[0], 0xC9);
}

}  // namespace
