// The character set of the system's text: Windows-1252 ("ANSI"), with
// optional double-byte (DBCS) handling.
//
// Case mapping, character classes and the international collation order come
// from fixed tables built into the library, never from the process locale, so
// that every process and every machine sorts and folds text alike. The
// conversions between the OEM code page (437) and ANSI sit beside these
// tables, in charset_oem.h.
//
// Double-byte handling is a process-wide switch. By default there are no lead
// bytes and every byte is one character. A test or a start-up that selects a
// DBCS code page names its lead-byte ranges with kvSetDbcsLeadBytes; from then
// on every routine that walks characters takes a lead byte and the byte after
// it as one character (a lead byte that ends the text stands alone). The
// single-byte tables stay those of Windows-1252 either way; a DBCS pair is
// never case-mapped or classified. The switch is meant to be set before text
// is processed (start-up or a test), not while other threads walk text.
#pragma once

#include <array>

#include "util/kv_types.h"

// Bits of kvCharClassTable. White space is the C runtime's set (tab, line
// feed, vertical tab, form feed, carriage return, blank); the no-break space
// 0xA0 is data, not white space, so trimming never removes it.
enum : uint16_t {
  kvClassUpper = 0x001,     // upper-case letter
  kvClassLower = 0x002,     // lower-case letter (ß, µ and ƒ included)
  kvClassAlpha = 0x004,     // every letter, ª and º included
  kvClassDigit = 0x008,     // "0" to "9" only; ¹ ² ³ are punctuation
  kvClassSpace = 0x010,     // 9 to 13 and 32
  kvClassPunct = 0x020,     // printable, neither letter, digit nor space
  kvClassControl = 0x040,   // 0 to 31, 127 and the five codes 1252 leaves undefined
  kvClassHexDigit = 0x080,  // "0" to "9", "a" to "f", "A" to "F"
};

KV_UTIL_API extern const std::array<unsigned char, 256> kvUpperTable;
KV_UTIL_API extern const std::array<unsigned char, 256> kvLowerTable;
KV_UTIL_API extern const std::array<uint16_t, 256> kvCharClassTable;

// Case mapping of one byte. ß (0xDF), µ (0xB5) and ƒ (0x83) have no
// single-byte upper case and map to themselves.
inline unsigned char kvToUpper(unsigned char c) { return kvUpperTable[c]; }
inline unsigned char kvToLower(unsigned char c) { return kvLowerTable[c]; }

inline int kvCharIsUpper(unsigned char c) { return (kvCharClassTable[c] & kvClassUpper) != 0; }
inline int kvCharIsLower(unsigned char c) { return (kvCharClassTable[c] & kvClassLower) != 0; }
inline int kvCharIsAlpha(unsigned char c) { return (kvCharClassTable[c] & kvClassAlpha) != 0; }
inline int kvCharIsDigit(unsigned char c) { return (kvCharClassTable[c] & kvClassDigit) != 0; }
inline int kvCharIsAlnum(unsigned char c) {
  return (kvCharClassTable[c] & (kvClassAlpha | kvClassDigit)) != 0;
}
inline int kvCharIsSpace(unsigned char c) { return (kvCharClassTable[c] & kvClassSpace) != 0; }
inline int kvCharIsPunct(unsigned char c) { return (kvCharClassTable[c] & kvClassPunct) != 0; }
inline int kvCharIsControl(unsigned char c) { return (kvCharClassTable[c] & kvClassControl) != 0; }
inline int kvCharIsHexDigit(unsigned char c) { return (kvCharClassTable[c] & kvClassHexDigit) != 0; }

// ---------------------------------------------------------------------------
// Double-byte handling

// Lead-byte ranges as the system reports them: pairs of bytes (first, last),
// ended by a pair of zeros. Null or an empty list switches DBCS off.
KV_UTIL_API void kvSetDbcsLeadBytes(const unsigned char* ranges);

namespace kvcharset {
// The switch's state. Programs reach it through a constant pointer: an
// executable that linked exported data itself would read its own copy of
// it, which never sees what the library writes.
struct DbcsState {
  unsigned char lead[256];  // 1 for a lead byte of the current code page
  int on;                   // any lead byte at all
};
KV_UTIL_API extern DbcsState* const dbcs;
}  // namespace kvcharset

inline int kvIsDbcsCodePage() { return kvcharset::dbcs->on; }
inline int kvIsDbcsLeadByte(unsigned char c) { return kvcharset::dbcs->lead[c]; }

// Bytes of the character at p in a counted text that ends at end (p < end):
// 2 for a lead byte followed by its trail byte, else 1.
inline uint32_t kvCharBytes(const unsigned char* p, const unsigned char* end) {
  return (kvIsDbcsLeadByte(*p) && p + 1 < end) ? 2 : 1;
}
// The same in a zero-terminated text (*p is not the terminator).
inline uint32_t kvCharBytes(const unsigned char* p) {
  return (kvIsDbcsLeadByte(*p) && p[1] != 0) ? 2 : 1;
}

// ---------------------------------------------------------------------------
// Whole texts

// Case mapping in place, DBCS pairs left as they are; the counted forms stop
// at length bytes, the others at the terminator.
KV_UTIL_API void kvUpperText(unsigned char* text);
KV_UTIL_API void kvUpperText(unsigned char* text, uint32_t length);
KV_UTIL_API void kvLowerText(unsigned char* text);
KV_UTIL_API void kvLowerText(unsigned char* text, uint32_t length);

// International collation (the order is described in charset.cpp): -1, 0 or
// 1. Case-sensitive; only identical texts compare equal. A zero byte ends a
// counted text early.
KV_UTIL_API int kvCollate(const unsigned char* text1, uint32_t length1, const unsigned char* text2,
                          uint32_t length2);
