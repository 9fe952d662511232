// Byte-string functions and byte primitives; see str_functions.h.
//
// Hot paths (comparisons, LIKE) test the DBCS switch once per call and run a
// plain single-byte loop while it is off, which is the usual case.
#include "util/containers/str_functions.h"

#include <cstring>

#include "util/charsets/charset.h"

namespace {

inline int sign(int value) { return (value > 0) - (value < 0); }

// Case-blind sort key of the character at p (DBCS on): single bytes weigh
// their upper case, a pair its exact bytes; 0 at the end. n receives the
// character's byte count.
inline uint32_t caseBlindKey(const unsigned char* p, const unsigned char* end, uint32_t* n) {
  if (p >= end) {
    *n = 0;
    return 0;
  }
  if (kvIsDbcsLeadByte(*p) && p + 1 < end) {
    *n = 2;
    return (uint32_t(p[0]) << 9) | 0x100u | p[1];
  }
  *n = 1;
  return uint32_t(kvUpperTable[*p]) << 9;
}

int compareCaseBlindDbcs(const unsigned char* p1, const unsigned char* end1, const unsigned char* p2,
                         const unsigned char* end2) {
  for (;;) {
    uint32_t n1 = 0;
    uint32_t n2 = 0;
    uint32_t k1 = caseBlindKey(p1, end1, &n1);
    uint32_t k2 = caseBlindKey(p2, end2, &n2);
    if (k1 != k2) return k1 < k2 ? -1 : 1;
    if (n1 == 0) return 0;
    p1 += n1;
    p2 += n2;
  }
}

inline int isQuoteOf(unsigned char c, char q1, char q2, char q3) {
  return c != 0 && (c == static_cast<unsigned char>(q1) || c == static_cast<unsigned char>(q2) ||
                    c == static_cast<unsigned char>(q3));
}

// Whether the character at p (n bytes, 1 or 2) is one of the zero-terminated
// set chars, or of the selected ASCII classes.
int isInSet(const unsigned char* p, uint32_t n, const unsigned char* chars, uint16_t classes) {
  if (n == 1) {
    unsigned char c = *p;
    if ((classes & kvContainsLower) && c >= 'a' && c <= 'z') return 1;
    if ((classes & kvContainsUpper) && c >= 'A' && c <= 'Z') return 1;
    if ((classes & kvContainsDigit) && c >= '0' && c <= '9') return 1;
    return c != 0 && chars && strFind(chars, static_cast<char>(c)) != nullptr;
  }
  const unsigned char pair[3] = {p[0], p[1], 0};
  return chars && strFind(chars, pair) != nullptr;
}

// Whether the pattern (length bytes) ends with an escape that escapes
// nothing: walking from the start is the only way to tell "\" from "\\".
int endsWithBareEscape(const unsigned char* pattern, uint32_t length, unsigned char escape) {
  const unsigned char* end = pattern + length;
  for (const unsigned char* p = pattern; p < end;) {
    if (*p == escape) {
      if (p + 1 >= end) return 1;
      ++p;
    }
    p += kvCharBytes(p, end);
  }
  return 0;
}

int likeMatch(const unsigned char* t, const unsigned char* tEnd, const unsigned char* p,
              const unsigned char* pEnd, unsigned char anyString, unsigned char oneChar,
              unsigned char escape, int caseSensitive) {
  // The resume point: where the text and the pattern restart after a
  // mismatch behind the latest run of anyString. One point suffices because
  // a later run can match everything an earlier one could.
  const unsigned char* resumeText = nullptr;
  const unsigned char* resumePattern = nullptr;
  for (;;) {
    if (p < pEnd && anyString && *p == anyString) {
      for (; p < pEnd && ((*p == anyString) || (oneChar && *p == oneChar)); ++p) {
        if (*p == anyString) continue;
        if (t >= tEnd) return 0;  // no shorter text can do better
        t += kvCharBytes(t, tEnd);
      }
      if (p >= pEnd) return 1;
      resumeText = t;
      resumePattern = p;
      continue;
    }
    if (t >= tEnd) return p >= pEnd;  // a run of anyString was taken above
    int matched = 0;
    if (p < pEnd) {
      if (oneChar && *p == oneChar) {
        t += kvCharBytes(t, tEnd);
        ++p;
        continue;
      }
      const unsigned char* literal = p;
      if (escape && *p == escape) {
        // An escape that ends the pattern can never match.
        if (++literal >= pEnd) return 0;
      }
      uint32_t patternBytes = kvCharBytes(literal, pEnd);
      uint32_t textBytes = kvCharBytes(t, tEnd);
      if (patternBytes == textBytes) {
        if (patternBytes == 2) {
          matched = literal[0] == t[0] && literal[1] == t[1];
        } else {
          matched = caseSensitive ? *literal == *t : kvUpperTable[*literal] == kvUpperTable[*t];
        }
      }
      if (matched) {
        t += textBytes;
        p = literal + patternBytes;
        continue;
      }
    }
    if (!resumeText || resumeText >= tEnd) return 0;
    resumeText += kvCharBytes(resumeText, tEnd);
    t = resumeText;
    p = resumePattern;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Comparisons

int strCompare(const unsigned char* text1, uint32_t length1, const unsigned char* text2,
               uint32_t length2) {
  uint32_t common = length1 < length2 ? length1 : length2;
  if (common) {
    int result = std::memcmp(text1, text2, common);
    if (result) return sign(result);
  }
  return length1 == length2 ? 0 : (length1 < length2 ? -1 : 1);
}

int strCompareCi(const unsigned char* s1, const unsigned char* s2) {
  if (!s1) s1 = kvU("");
  if (!s2) s2 = kvU("");
  if (kvIsDbcsCodePage()) return strCompareCi(s1, kvTextLength(s1), s2, kvTextLength(s2));
  for (;; ++s1, ++s2) {
    // Only byte 0 upper-cases to 0, so the terminator sorts first.
    unsigned char c1 = kvUpperTable[*s1];
    unsigned char c2 = kvUpperTable[*s2];
    if (c1 != c2) return c1 < c2 ? -1 : 1;
    if (c1 == 0) return 0;
  }
}

int strCompareCi(const unsigned char* text1, uint32_t length1, const unsigned char* text2,
                 uint32_t length2) {
  if (kvIsDbcsCodePage()) {
    return compareCaseBlindDbcs(text1, text1 + length1, text2, text2 + length2);
  }
  uint32_t common = length1 < length2 ? length1 : length2;
  for (uint32_t i = 0; i < common; ++i) {
    unsigned char c1 = kvUpperTable[text1[i]];
    unsigned char c2 = kvUpperTable[text2[i]];
    if (c1 != c2) return c1 < c2 ? -1 : 1;
  }
  return length1 == length2 ? 0 : (length1 < length2 ? -1 : 1);
}

int strEqualCi(const unsigned char* s1, const unsigned char* s2) { return strCompareCi(s1, s2) == 0; }

int strEqualCi(const unsigned char* text1, uint32_t length1, const unsigned char* text2,
               uint32_t length2) {
  if (length1 != length2) return 0;
  return strCompareCi(text1, length1, text2, length2) == 0;
}

int strCompareWithMaxLength(const unsigned char* s1, const unsigned char* s2, uint32_t n) {
  if (n == 0) return 0;
  return sign(std::strncmp(reinterpret_cast<const char*>(s1 ? s1 : kvU("")),
                           reinterpret_cast<const char*>(s2 ? s2 : kvU("")), n));
}

int strComparePad(const unsigned char* s1, const unsigned char* s2) {
  if (!s1) s1 = kvU("");
  if (!s2) s2 = kvU("");
  while (*s1 && *s1 == *s2) {
    ++s1;
    ++s2;
  }
  if (*s1 && *s2) return *s1 < *s2 ? -1 : 1;
  // One string ended: the other is greater only for a character other than blank.
  const unsigned char* rest = *s1 ? s1 : s2;
  while (*rest == ' ') ++rest;
  if (*rest == 0) return 0;
  return *s1 ? 1 : -1;
}

int strCompareIntl(const unsigned char* s1, const unsigned char* s2) {
  return kvCollate(s1, kvTextLength(s1), s2, kvTextLength(s2));
}

int strCompareIntl(const unsigned char* text1, uint32_t length1, const unsigned char* text2,
                   uint32_t length2) {
  return kvCollate(text1, length1, text2, length2);
}

int floatCompare(const void* p1, const void* p2) {
  // The bytes are little-endian: byte 7 holds the sign and the top of the
  // exponent. Read as integers, the magnitudes order like the numbers.
  const unsigned char* b1 = static_cast<const unsigned char*>(p1);
  const unsigned char* b2 = static_cast<const unsigned char*>(p2);
  uint64_t v1 = 0;
  uint64_t v2 = 0;
  for (int i = 7; i >= 0; --i) {
    v1 = (v1 << 8) | b1[i];
    v2 = (v2 << 8) | b2[i];
  }
  const uint64_t magnitudeMask = ~(uint64_t(1) << 63);
  if ((v1 & magnitudeMask) == 0 && (v2 & magnitudeMask) == 0) return 0;  // -0 == +0
  int negative1 = int(v1 >> 63);
  int negative2 = int(v2 >> 63);
  if (negative1 != negative2) return negative1 ? -1 : 1;
  if (v1 == v2) return 0;
  int byMagnitude = v1 < v2 ? -1 : 1;
  return negative1 ? -byMagnitude : byMagnitude;
}

int memCompareHuge(const void* p1, const void* p2, uint32_t n) {
  return n ? sign(std::memcmp(p1, p2, n)) : 0;
}

// ---------------------------------------------------------------------------
// Copies and quotes

unsigned char* strCopy(unsigned char* dest, uint32_t size, const unsigned char* src) {
  if (size == 0) return dest;
  uint32_t n = 0;
  if (src) {
    const void* zero = std::memchr(src, 0, size - 1);
    n = zero ? uint32_t(static_cast<const unsigned char*>(zero) - src) : size - 1;
    std::memmove(dest, src, n);
  }
  dest[n] = 0;
  return dest + n;
}

unsigned char* strCopy(unsigned char* dest, const unsigned char* src, uint32_t n) {
  if (n) std::memmove(dest, src, n);
  dest[n] = 0;
  return dest + n;
}

uint32_t strQuotedLength(const unsigned char* src, uint32_t length, char quote) {
  const unsigned char q = static_cast<unsigned char>(quote);
  const unsigned char* end = src + length;
  uint32_t total = length + 2;
  for (const unsigned char* p = src; p < end;) {
    uint32_t n = kvCharBytes(p, end);
    if (n == 1 && *p == q) ++total;
    p += n;
  }
  return total;
}

unsigned char* strPutQuoted(unsigned char* dest, const unsigned char* src, uint32_t length, char quote) {
  const unsigned char q = static_cast<unsigned char>(quote);
  const unsigned char* end = src + length;
  *dest++ = q;
  for (const unsigned char* p = src; p < end;) {
    uint32_t n = kvCharBytes(p, end);
    if (n == 1 && *p == q) *dest++ = q;
    for (uint32_t i = 0; i < n; ++i) *dest++ = *p++;
  }
  *dest++ = q;
  return dest;
}

unsigned char* strCopyQuoted(unsigned char* dest, const unsigned char* src, uint32_t length, char quote) {
  unsigned char* end = strPutQuoted(dest, src, length, quote);
  *end = 0;
  return end;
}

unsigned char* strCopyQuoted(unsigned char* dest, const unsigned char* src, char quote) {
  if (!src) src = kvU("");
  return strCopyQuoted(dest, src, kvTextLength(src), quote);
}

unsigned char* strCatQuoted(unsigned char* dest, const unsigned char* src, char quote) {
  return strCopyQuoted(dest + kvTextLength(dest), src, quote);
}

unsigned char* strCopyUnquoted(unsigned char* dest, const unsigned char* src, uint32_t length) {
  // Byte by byte, so that dest may be src itself.
  unsigned char* out = dest;
  if (src && length >= 2) {
    const unsigned char q = src[0];
    const unsigned char* end = src + length - 1;  // the closing quote
    for (const unsigned char* p = src + 1; p < end;) {
      uint32_t n = kvCharBytes(p, end);
      if (n == 1 && *p == q && p + 1 < end && p[1] == q) {
        *out++ = q;
        p += 2;
        continue;
      }
      for (uint32_t i = 0; i < n; ++i) *out++ = *p++;
    }
  }
  *out = 0;
  return out;
}

unsigned char* strCopyUnquoted(unsigned char* dest, const unsigned char* src) {
  return strCopyUnquoted(dest, src, kvTextLength(src));
}

uint32_t strRemoveQuotes(unsigned char* s, uint32_t length, char quote) {
  const unsigned char q = static_cast<unsigned char>(quote);
  if (!s || length < 2 || q == 0 || s[0] != q || s[length - 1] != q) return length;
  const unsigned char* end = s + length;
  const uint32_t closing = length - 1;
  // Check first, so that a text that does not qualify stays untouched.
  for (uint32_t i = 1; i < closing;) {
    uint32_t n = kvCharBytes(s + i, end);
    if (i + n > closing) return length;  // the closing quote is a trail byte
    if (n == 1 && s[i] == q) {
      if (i + 1 >= closing || s[i + 1] != q) return length;
      n = 2;
    }
    i += n;
  }
  uint32_t out = 0;
  for (uint32_t i = 1; i < closing;) {
    uint32_t n = kvCharBytes(s + i, end);
    if (n == 1 && s[i] == q) {
      s[out++] = q;
      i += 2;
      continue;
    }
    for (uint32_t k = 0; k < n; ++k) s[out++] = s[i++];
  }
  s[out] = 0;
  return out;
}

uint32_t strRemoveQuotes(unsigned char* s, char quote) { return strRemoveQuotes(s, kvTextLength(s), quote); }

// ---------------------------------------------------------------------------
// Searches

const unsigned char* strFind(const unsigned char* s, char c) {
  if (!s) return nullptr;
  const unsigned char wanted = static_cast<unsigned char>(c);
  if (!kvIsDbcsCodePage()) {
    return reinterpret_cast<const unsigned char*>(std::strchr(reinterpret_cast<const char*>(s), wanted));
  }
  for (const unsigned char* p = s;; p += kvCharBytes(p)) {
    if (*p == wanted) return p;
    if (*p == 0) return nullptr;
  }
}

const unsigned char* strFindReverse(const unsigned char* s, char c) {
  if (!s) return nullptr;
  const unsigned char wanted = static_cast<unsigned char>(c);
  if (!kvIsDbcsCodePage()) {
    return reinterpret_cast<const unsigned char*>(std::strrchr(reinterpret_cast<const char*>(s), wanted));
  }
  const unsigned char* found = nullptr;
  for (const unsigned char* p = s;; p += kvCharBytes(p)) {
    if (*p == wanted) found = p;
    if (*p == 0) return found;
  }
}

const unsigned char* strFind(const unsigned char* s, const unsigned char* sub) {
  if (!s) return nullptr;
  if (!sub || !*sub) return s;
  if (!kvIsDbcsCodePage()) {
    return reinterpret_cast<const unsigned char*>(
        std::strstr(reinterpret_cast<const char*>(s), reinterpret_cast<const char*>(sub)));
  }
  const size_t subLength = std::strlen(reinterpret_cast<const char*>(sub));
  for (const unsigned char* p = s; *p; p += kvCharBytes(p)) {
    if (*p == *sub &&
        std::strncmp(reinterpret_cast<const char*>(p), reinterpret_cast<const char*>(sub), subLength) == 0)
      return p;
  }
  return nullptr;
}

const unsigned char* strFind(const unsigned char* s, char c, char q1, char q2, char q3) {
  if (!s) return nullptr;
  const unsigned char wanted = static_cast<unsigned char>(c);
  for (const unsigned char* p = s;;) {
    if (*p == wanted) return p;
    if (*p == 0) return nullptr;
    if (isQuoteOf(*p, q1, q2, q3)) {
      const unsigned char closer = *p++;
      while (*p != closer) {
        if (*p == 0) return nullptr;  // the quoted part runs to the end
        p += kvCharBytes(p);
      }
      ++p;
      continue;
    }
    p += kvCharBytes(p);
  }
}

int strContains(const unsigned char* text, uint32_t length, const unsigned char* chars, uint16_t classes) {
  const unsigned char* end = text + length;
  for (const unsigned char* p = text; p < end;) {
    uint32_t n = kvCharBytes(p, end);
    if (!isInSet(p, n, chars, classes)) return 0;
    p += n;
  }
  return 1;
}

int strDoesNotContain(const unsigned char* text, uint32_t length, const unsigned char* chars,
                      uint16_t classes) {
  const unsigned char* end = text + length;
  for (const unsigned char* p = text; p < end;) {
    uint32_t n = kvCharBytes(p, end);
    if (isInSet(p, n, chars, classes)) return 0;
    p += n;
  }
  return 1;
}

// ---------------------------------------------------------------------------
// Trimming. DBCS trail bytes are never white space or blanks in any double-
// byte code page, so trimming byte by byte from the end is safe.

uint32_t strRightTrim(const unsigned char* text, uint32_t length) {
  while (length && kvCharIsSpace(text[length - 1])) --length;
  return length;
}

uint32_t strRightTrim(unsigned char* s) {
  if (!s) return 0;
  uint32_t length = strRightTrim(s, kvTextLength(s));
  s[length] = 0;
  return length;
}

uint32_t strRightTrimBlanks(const unsigned char* text, uint32_t length) {
  while (length && text[length - 1] == ' ') --length;
  return length;
}

uint32_t strRightTrimBlanks(unsigned char* s) {
  if (!s) return 0;
  uint32_t length = strRightTrimBlanks(s, kvTextLength(s));
  s[length] = 0;
  return length;
}

// ---------------------------------------------------------------------------
// LIKE

int strLike(const unsigned char* text, uint32_t textLength, const unsigned char* pattern,
            uint32_t patternLength, char anyString, char oneChar, char escape, int caseSensitive) {
  if (!text) textLength = 0;
  if (!pattern) patternLength = 0;
  const unsigned char esc = static_cast<unsigned char>(escape);
  textLength = strRightTrim(text, textLength);
  uint32_t trimmed = strRightTrim(pattern, patternLength);
  // Trailing white space is insignificant in both, so an escaped one is too:
  // drop the escape that the trim left bare ("ab\ " means "ab").
  while (esc && trimmed < patternLength && endsWithBareEscape(pattern, trimmed, esc)) {
    trimmed = strRightTrim(pattern, trimmed - 1);
  }
  return likeMatch(text, text + textLength, pattern, pattern + trimmed, static_cast<unsigned char>(anyString),
                   static_cast<unsigned char>(oneChar), esc, caseSensitive);
}

int strLike(const unsigned char* text, const unsigned char* pattern, char anyString, char oneChar, char escape,
            int caseSensitive) {
  return strLike(text, kvTextLength(text), pattern, kvTextLength(pattern), anyString, oneChar, escape, caseSensitive);
}

int kvIsAlpha(const unsigned char* c) {
  if (!c) return 0;
  return kvCharIsAlpha(*c) || (kvIsDbcsCodePage() && *c >= 161 && *c <= 223);
}

// ---------------------------------------------------------------------------
// Byte primitives

namespace {

// Forward copy: when dest lies inside the source behind its start, the
// bytes already copied are read again, repeating the leading part, as a
// first-byte-first copy does.
void copyForward(unsigned char* dest, const unsigned char* src, uint32_t n) {
  if (dest <= src || dest >= src + n) {
    std::memmove(dest, src, n);
    return;
  }
  for (uint32_t i = 0; i < n; ++i) dest[i] = src[i];
}

}  // namespace

extern "C" {

void BUTMEMCP(void* dest, const void* src, uint16_t n) {
  if (n) copyForward(static_cast<unsigned char*>(dest), static_cast<const unsigned char*>(src), n);
}

void BUTMMCPD(void* dest, const void* src, uint16_t n) {
  unsigned char* d = static_cast<unsigned char*>(dest);
  const unsigned char* s = static_cast<const unsigned char*>(src);
  if (!n) return;
  // Last byte first: the mirror image of copyForward.
  if (d >= s || d + n <= s) {
    std::memmove(d, s, n);
    return;
  }
  for (uint32_t i = n; i-- > 0;) d[i] = s[i];
}

int BUTMMCMP(const void* p1, const void* p2, uint16_t n) { return n ? sign(std::memcmp(p1, p2, n)) : 0; }

void BUTMMSWP(void* p1, void* p2, uint16_t n) {
  unsigned char piece[512];
  unsigned char* a = static_cast<unsigned char*>(p1);
  unsigned char* b = static_cast<unsigned char*>(p2);
  for (uint32_t left = n; left;) {
    uint32_t k = left < sizeof(piece) ? left : uint32_t(sizeof(piece));
    std::memcpy(piece, a, k);
    std::memmove(a, b, k);
    std::memcpy(b, piece, k);
    a += k;
    b += k;
    left -= k;
  }
}

void BUTSTCAT(unsigned char* dest, const unsigned char* src) {
  std::strcat(reinterpret_cast<char*>(dest), reinterpret_cast<const char*>(src));
}

int BUTSTCMP(const unsigned char* s1, const unsigned char* s2) {
  return std::strcmp(reinterpret_cast<const char*>(s1), reinterpret_cast<const char*>(s2));
}

unsigned char* BUTSTCPY(unsigned char* dest, const unsigned char* src) {
  size_t n = std::strlen(reinterpret_cast<const char*>(src));
  std::memmove(dest, src, n + 1);
  return dest + n;
}

uint16_t BUTSTLEN(const unsigned char* s) {
  // Saturates: a wrapped count would pass a 65546-byte string off as 10.
  size_t n = std::strlen(reinterpret_cast<const char*>(s));
  return n > 0xFFFF ? uint16_t(0xFFFF) : uint16_t(n);
}

void BUTU8FIL(void* dest, unsigned char value, uint16_t n) {
  if (n) std::memset(dest, value, n);
}

void memCopyHuge(void* dest, const void* src, uint32_t n) {
  if (n) copyForward(static_cast<unsigned char*>(dest), static_cast<const unsigned char*>(src), n);
}

void memFillHuge(void* dest, unsigned char value, uint32_t n) {
  if (n) std::memset(dest, value, n);
}

}  // extern "C"
