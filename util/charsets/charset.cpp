// Windows-1252 tables: case mapping, character classes, collation; and the
// double-byte switch. See charset.h.
//
// Every table is computed at compile time from one description of the 256
// bytes (describe() below: rules for 0x00-0x7F, a row per byte for
// 0x80-0xFF), so the case pairs, the classes and the collation weights can
// never disagree with each other.
//
// International collation (kvCollate, behind strCompareIntl). Texts compare
// the way a dictionary orders words, in three levels, each deciding only
// when the ones before it found the texts equal:
//   1. base characters, case and accents ignored. Controls, white space and
//      punctuation come first, in code order; then digits (¹ ² ³ with 1 2 3);
//      then the letters a to z, þ and µ. An accented letter takes the place
//      of its base letter (á, à, â, ä, ã, å with a; ç with c; ð with d; ø
//      with o; š with s; ž with z; ÿ, ý with y; ƒ with f; ª with a; º with
//      o). The ligatures count as two letters: æ as "ae", œ as "oe", ß as
//      "ss".
//   2. accents, position by position: none, acute, grave, circumflex,
//      caron, ring, diaeresis, tilde, cedilla, stroke, eth, hook, ordinal,
//      superscript, ligature. So a < á < à < b and "ss" < "ß" < "st".
//   3. case, position by position: lower before upper, so "a" < "A" < "á".
// At each level a text that is a prefix of the other sorts first. The
// weights of the three levels identify every byte, so only identical texts
// compare equal. With DBCS on, a double-byte character sorts after every
// single-byte one, by its two byte values. Unlike the Windows locale order,
// hyphens and apostrophes are ordinary punctuation here, not ignored.
#include "util/charsets/charset.h"

#include <cstring>

namespace {

enum Kind : uint8_t { kindControl, kindSpace, kindPunct, kindDigit, kindLetter, kindOther };
enum Accent : uint8_t {
  accentNone,
  accentAcute,
  accentGrave,
  accentCircumflex,
  accentCaron,
  accentRing,
  accentDiaeresis,
  accentTilde,
  accentCedilla,
  accentStroke,
  accentEth,
  accentHook,
  accentOrdinal,
  accentSuperscript,
  accentLigature,
};
enum Case : uint8_t { caseNone, caseLower, caseUpper };

// Bases of the two letters that follow z in the collation.
enum : uint8_t { baseThorn = 'z' + 1, baseMu = 'z' + 2 };

struct CharInfo {
  uint8_t kind;
  uint8_t base;       // letters: 'a'..'z', baseThorn, baseMu; digits and ¹²³: '0'..'9'; else 0
  uint8_t accent;     // Accent
  uint8_t letterCase; // Case
  uint8_t partner;    // the same letter in the other case; 0 when there is none
  uint8_t expansion;  // second letter of a ligature, else 0
};

constexpr CharInfo P() { return {kindPunct, 0, accentNone, caseNone, 0, 0}; }
constexpr CharInfo X() { return {kindControl, 0, accentNone, caseNone, 0, 0}; }
constexpr CharInfo Sup(char digit) { return {kindPunct, uint8_t(digit), accentSuperscript, caseNone, 0, 0}; }
constexpr CharInfo U(uint8_t base, uint8_t accent, uint8_t lower, uint8_t expansion = 0) {
  return {kindLetter, base, accent, caseUpper, lower, expansion};
}
constexpr CharInfo L(uint8_t base, uint8_t accent, uint8_t upper = 0, uint8_t expansion = 0) {
  return {kindLetter, base, accent, caseLower, upper, expansion};
}
constexpr CharInfo Caseless(uint8_t base, uint8_t accent) {
  return {kindLetter, base, accent, caseNone, 0, 0};
}

// 0x80 to 0xDF. The five codes that Windows-1252 leaves undefined (0x81,
// 0x8D, 0x8F, 0x90, 0x9D) are control characters, as Windows maps them to
// the C1 controls. 0xE0 to 0xFF are the lower-case partners of 0xC0 to 0xDF
// (÷ and ÿ excepted) and are derived from these rows.
constexpr CharInfo highRows[0x60] = {
    // 0x80: € (unused) ‚ ƒ „ … † ‡ ˆ ‰ Š ‹ Œ (unused) Ž (unused)
    P(), X(), P(), L('f', accentHook), P(), P(), P(), P(), P(), P(),
    U('s', accentCaron, 0x9A), P(), U('o', accentLigature, 0x9C, 'e'), X(),
    U('z', accentCaron, 0x9E), X(),
    // 0x90: (unused) ‘ ’ “ ” • – — ˜ ™ š › œ (unused) ž Ÿ
    X(), P(), P(), P(), P(), P(), P(), P(), P(), P(), L('s', accentCaron, 0x8A), P(),
    L('o', accentLigature, 0x8C, 'e'), X(), L('z', accentCaron, 0x8E), U('y', accentDiaeresis, 0xFF),
    // 0xA0: no-break space ¡ ¢ £ ¤ ¥ ¦ § ¨ © ª « ¬ soft-hyphen ® ¯
    {kindOther, 0, accentNone, caseNone, 0, 0}, P(), P(), P(), P(), P(), P(), P(), P(), P(),
    Caseless('a', accentOrdinal), P(), P(), P(), P(), P(),
    // 0xB0: ° ± ² ³ ´ µ ¶ · ¸ ¹ º » ¼ ½ ¾ ¿
    P(), P(), Sup('2'), Sup('3'), P(), L(baseMu, accentNone), P(), P(), P(), Sup('1'),
    Caseless('o', accentOrdinal), P(), P(), P(), P(), P(),
    // 0xC0: À Á Â Ã Ä Å Æ Ç È É Ê Ë Ì Í Î Ï
    U('a', accentGrave, 0xE0), U('a', accentAcute, 0xE1), U('a', accentCircumflex, 0xE2),
    U('a', accentTilde, 0xE3), U('a', accentDiaeresis, 0xE4), U('a', accentRing, 0xE5),
    U('a', accentLigature, 0xE6, 'e'), U('c', accentCedilla, 0xE7), U('e', accentGrave, 0xE8),
    U('e', accentAcute, 0xE9), U('e', accentCircumflex, 0xEA), U('e', accentDiaeresis, 0xEB),
    U('i', accentGrave, 0xEC), U('i', accentAcute, 0xED), U('i', accentCircumflex, 0xEE),
    U('i', accentDiaeresis, 0xEF),
    // 0xD0: Ð Ñ Ò Ó Ô Õ Ö × Ø Ù Ú Û Ü Ý Þ ß
    U('d', accentEth, 0xF0), U('n', accentTilde, 0xF1), U('o', accentGrave, 0xF2),
    U('o', accentAcute, 0xF3), U('o', accentCircumflex, 0xF4), U('o', accentTilde, 0xF5),
    U('o', accentDiaeresis, 0xF6), P(), U('o', accentStroke, 0xF8), U('u', accentGrave, 0xF9),
    U('u', accentAcute, 0xFA), U('u', accentCircumflex, 0xFB), U('u', accentDiaeresis, 0xFC),
    U('y', accentAcute, 0xFD), U(baseThorn, accentNone, 0xFE), L('s', accentLigature, 0, 's'),
};

constexpr CharInfo describe(unsigned c) {
  if (c >= 'a' && c <= 'z') return L(uint8_t(c), accentNone, uint8_t(c - 32));
  if (c >= 'A' && c <= 'Z') return U(uint8_t(c + 32), accentNone, uint8_t(c + 32));
  if (c >= '0' && c <= '9') return {kindDigit, uint8_t(c), accentNone, caseNone, 0, 0};
  if ((c >= 9 && c <= 13) || c == ' ') return {kindSpace, 0, accentNone, caseNone, 0, 0};
  if (c < 32 || c == 127) return X();
  if (c < 0x80) return P();
  if (c < 0xE0) return highRows[c - 0x80];
  if (c == 0xF7) return P();                                 // ÷
  if (c == 0xFF) return L('y', accentDiaeresis, 0x9F);       // ÿ
  CharInfo upper = highRows[c - 0x20 - 0x80];
  return L(upper.base, upper.accent, uint8_t(c - 0x20), upper.expansion);
}

constexpr std::array<unsigned char, 256> buildUpper() {
  std::array<unsigned char, 256> table{};
  for (unsigned c = 0; c < 256; ++c) {
    CharInfo info = describe(c);
    table[c] = (info.letterCase == caseLower && info.partner) ? info.partner : uint8_t(c);
  }
  return table;
}

constexpr std::array<unsigned char, 256> buildLower() {
  std::array<unsigned char, 256> table{};
  for (unsigned c = 0; c < 256; ++c) {
    CharInfo info = describe(c);
    table[c] = (info.letterCase == caseUpper && info.partner) ? info.partner : uint8_t(c);
  }
  return table;
}

constexpr std::array<uint16_t, 256> buildClasses() {
  std::array<uint16_t, 256> table{};
  for (unsigned c = 0; c < 256; ++c) {
    CharInfo info = describe(c);
    uint16_t bits = 0;
    switch (info.kind) {
      case kindControl: bits = kvClassControl; break;
      case kindSpace: bits = kvClassSpace | (c != ' ' ? kvClassControl : 0); break;
      case kindPunct: bits = kvClassPunct; break;
      case kindDigit: bits = kvClassDigit | kvClassHexDigit; break;
      case kindLetter:
        bits = kvClassAlpha;
        if (info.letterCase == caseUpper) bits |= kvClassUpper;
        if (info.letterCase == caseLower) bits |= kvClassLower;
        if ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')) bits |= kvClassHexDigit;
        break;
      default: break;
    }
    table[c] = bits;
  }
  return table;
}

// Collation weights of one byte: primary (and the primary of a ligature's
// second letter, 0 for others), accent and case. Byte 0 is never weighed.
struct Weights {
  uint8_t primary;
  uint8_t primary2;
  uint8_t accent;
  uint8_t upper;
};

constexpr bool sortsAsDigit(const CharInfo& info) {
  return info.base >= '0' && info.base <= '9';
}

constexpr std::array<Weights, 256> buildCollation() {
  std::array<Weights, 256> table{};
  // Everything that is neither a letter nor a digit takes a rank in code order.
  unsigned rank = 0;
  for (unsigned c = 1; c < 256; ++c) {
    CharInfo info = describe(c);
    if (info.kind != kindLetter && !sortsAsDigit(info)) table[c].primary = uint8_t(++rank);
  }
  const unsigned firstDigit = rank + 1;
  const unsigned firstLetter = firstDigit + 10;
  for (unsigned c = 1; c < 256; ++c) {
    CharInfo info = describe(c);
    if (info.kind == kindLetter) {
      table[c].primary = uint8_t(firstLetter + (info.base - 'a'));
      if (info.expansion) table[c].primary2 = uint8_t(firstLetter + (info.expansion - 'a'));
    } else if (sortsAsDigit(info)) {
      table[c].primary = uint8_t(firstDigit + (info.base - '0'));
    }
    table[c].accent = info.accent;
    table[c].upper = info.letterCase == caseUpper ? 1 : 0;
  }
  return table;
}

constexpr std::array<Weights, 256> collation = buildCollation();

static_assert(collation[0xFF].primary == collation['y'].primary, "ÿ sorts with y");

// Walks the collation elements of a text at one level. A ligature yields
// two elements; a DBCS pair yields one above every single-byte weight.
struct CollationCursor {
  const unsigned char* p;
  const unsigned char* end;
  uint32_t pending;  // the second element of a ligature, when nonzero

  bool next(int level, uint32_t* weight) {
    if (pending) {
      *weight = pending;
      pending = 0;
      return true;
    }
    if (p >= end || *p == 0) return false;
    unsigned char c = *p;
    if (kvIsDbcsLeadByte(c) && p + 1 < end && p[1] != 0) {
      *weight = level == 0 ? 0x100u + ((uint32_t(c) << 8) | p[1]) : 1;
      p += 2;
      return true;
    }
    ++p;
    const Weights& w = collation[c];
    // Accent and case weights are shifted up by one so that no element of
    // any level weighs 0, the mark of "no pending element".
    uint32_t value = level == 0 ? w.primary : 1u + (level == 1 ? w.accent : w.upper);
    if (w.primary2) pending = level == 0 ? w.primary2 : value;
    *weight = value;
    return true;
  }
};

int compareLevel(int level, const unsigned char* text1, const unsigned char* end1,
                 const unsigned char* text2, const unsigned char* end2) {
  CollationCursor a{text1, end1, 0};
  CollationCursor b{text2, end2, 0};
  for (;;) {
    uint32_t w1 = 0;
    uint32_t w2 = 0;
    bool more1 = a.next(level, &w1);
    bool more2 = b.next(level, &w2);
    if (!more1 || !more2) return more1 == more2 ? 0 : (more1 ? 1 : -1);
    if (w1 != w2) return w1 < w2 ? -1 : 1;
  }
}

}  // namespace

const std::array<unsigned char, 256> kvUpperTable = buildUpper();
const std::array<unsigned char, 256> kvLowerTable = buildLower();
const std::array<uint16_t, 256> kvCharClassTable = buildClasses();

namespace kvcharset {
namespace {
DbcsState dbcsState = {};
}  // namespace
DbcsState* const dbcs = &dbcsState;
}  // namespace kvcharset

void kvSetDbcsLeadBytes(const unsigned char* ranges) {
  kvcharset::DbcsState& state = *kvcharset::dbcs;
  std::memset(state.lead, 0, sizeof(state.lead));
  int any = 0;
  for (const unsigned char* r = ranges; r && (r[0] != 0 || r[1] != 0); r += 2) {
    // Byte 0 is never a lead byte: it ends every text.
    for (unsigned c = r[0] ? r[0] : 1; c <= r[1]; ++c) {
      state.lead[c] = 1;
      any = 1;
    }
  }
  state.on = any;
}

void kvUpperText(unsigned char* text) {
  if (!text) return;
  for (unsigned char* p = text; *p;) {
    uint32_t n = kvCharBytes(p);
    if (n == 1) *p = kvUpperTable[*p];
    p += n;
  }
}

void kvUpperText(unsigned char* text, uint32_t length) {
  if (!text) return;
  unsigned char* end = text + length;
  for (unsigned char* p = text; p < end;) {
    uint32_t n = kvCharBytes(p, end);
    if (n == 1) *p = kvUpperTable[*p];
    p += n;
  }
}

void kvLowerText(unsigned char* text) {
  if (!text) return;
  for (unsigned char* p = text; *p;) {
    uint32_t n = kvCharBytes(p);
    if (n == 1) *p = kvLowerTable[*p];
    p += n;
  }
}

void kvLowerText(unsigned char* text, uint32_t length) {
  if (!text) return;
  unsigned char* end = text + length;
  for (unsigned char* p = text; p < end;) {
    uint32_t n = kvCharBytes(p, end);
    if (n == 1) *p = kvLowerTable[*p];
    p += n;
  }
}

int kvCollate(const unsigned char* text1, uint32_t length1, const unsigned char* text2,
              uint32_t length2) {
  static const unsigned char empty[1] = {0};
  if (!text1) {
    text1 = empty;
    length1 = 0;
  }
  if (!text2) {
    text2 = empty;
    length2 = 0;
  }
  // Identical leading characters weigh the same at every level, so the
  // levels need only look behind them; equal texts take this one pass.
  uint32_t i = 0;
  const uint32_t common = length1 < length2 ? length1 : length2;
  if (!kvIsDbcsCodePage()) {
    while (i < common && text1[i] == text2[i] && text1[i] != 0) ++i;
  } else {
    while (i < common && text1[i] == text2[i] && text1[i] != 0) {
      int pair1 = kvIsDbcsLeadByte(text1[i]) && i + 1 < length1 && text1[i + 1] != 0;
      int pair2 = kvIsDbcsLeadByte(text2[i]) && i + 1 < length2 && text2[i + 1] != 0;
      if (pair1 != pair2 || (pair1 && text1[i + 1] != text2[i + 1])) break;
      i += pair1 ? 2 : 1;
    }
  }
  const unsigned char* rest1 = text1 + i;
  const unsigned char* rest2 = text2 + i;
  const unsigned char* end1 = text1 + length1;
  const unsigned char* end2 = text2 + length2;
  for (int level = 0; level < 3; ++level) {
    int result = compareLevel(level, rest1, end1, rest2, end2);
    if (result) return result;
  }
  return 0;
}
