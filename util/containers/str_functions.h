// Functions on zero-terminated and counted byte strings of the ANSI code
// page, and the plain byte primitives.
//
// Comparisons answer -1, 0 or 1 unless noted. Functions that walk characters
// take a DBCS lead byte and its trail byte together (charset.h); case-blind
// comparisons upper-case single-byte characters with the fixed Windows-1252
// table and compare DBCS pairs exactly. None of them allocates.
//
// The BUT* primitives and memCopyHuge/memFillHuge are exported with C names;
// their counts are 16-bit (BUT*) or 32-bit (the Huge forms).
#pragma once

#include "util/kv_types.h"

// ---------------------------------------------------------------------------
// Comparisons

// Bytes of two counted texts; on a common prefix the shorter sorts first.
KV_UTIL_API int strCompare(const unsigned char* text1, uint32_t length1, const unsigned char* text2,
                           uint32_t length2);
// As strCompare, single-byte characters compared after upper-casing.
KV_UTIL_API int strCompareCi(const unsigned char* s1, const unsigned char* s2);
KV_UTIL_API int strCompareCi(const unsigned char* text1, uint32_t length1, const unsigned char* text2,
                             uint32_t length2);
// Nonzero when equal ignoring case; counted texts of different lengths differ.
KV_UTIL_API int strEqualCi(const unsigned char* s1, const unsigned char* s2);
KV_UTIL_API int strEqualCi(const unsigned char* text1, uint32_t length1, const unsigned char* text2,
                           uint32_t length2);
// At most n bytes of two zero-terminated strings, byte by byte.
KV_UTIL_API int strCompareWithMaxLength(const unsigned char* s1, const unsigned char* s2, uint32_t n);
// The common length byte by byte; when that is equal, the longer string is
// greater only when its rest holds something other than blanks.
KV_UTIL_API int strComparePad(const unsigned char* s1, const unsigned char* s2);
// International collation, case-sensitive (kvCollate). A zero byte ends a
// counted text.
KV_UTIL_API int strCompareIntl(const unsigned char* s1, const unsigned char* s2);
KV_UTIL_API int strCompareIntl(const unsigned char* text1, uint32_t length1, const unsigned char* text2,
                               uint32_t length2);
// Two IEEE doubles (8 little-endian bytes each) by address, in numeric
// order; -0 equals +0; NaNs sort beyond the infinities of their sign.
KV_UTIL_API int floatCompare(const void* p1, const void* p2);
// Unsigned bytes of two blocks of any size.
KV_UTIL_API int memCompareHuge(const void* p1, const void* p2, uint32_t n);

// ---------------------------------------------------------------------------
// Copies and quotes

// Copies at most size - 1 bytes and terminates (nothing when size is 0);
// returns the terminator's address (dest itself when size is 0).
KV_UTIL_API unsigned char* strCopy(unsigned char* dest, uint32_t size, const unsigned char* src);
// Copies exactly n bytes and terminates; returns the terminator's address.
KV_UTIL_API unsigned char* strCopy(unsigned char* dest, const unsigned char* src, uint32_t n);
// src enclosed in quote, each quote inside doubled, terminated; returns the
// terminator's address. dest needs length + 2 + (quotes inside) + 1 bytes.
KV_UTIL_API unsigned char* strCopyQuoted(unsigned char* dest, const unsigned char* src, char quote);
KV_UTIL_API unsigned char* strCopyQuoted(unsigned char* dest, const unsigned char* src, uint32_t length,
                                         char quote);
KV_UTIL_API unsigned char* strCatQuoted(unsigned char* dest, const unsigned char* src, char quote);
// As strCopyQuoted but writes no terminator; returns the end of what it wrote.
KV_UTIL_API unsigned char* strPutQuoted(unsigned char* dest, const unsigned char* src, uint32_t length,
                                        char quote);
// Bytes that strCopyQuoted writes for a counted text, terminator excluded.
KV_UTIL_API uint32_t strQuotedLength(const unsigned char* src, uint32_t length, char quote);
// The first character of src is the quote; copies what lies between it and
// the last character, a doubled quote copied once; terminates and returns
// the terminator's address. A text shorter than 2 gives an empty copy.
KV_UTIL_API unsigned char* strCopyUnquoted(unsigned char* dest, const unsigned char* src);
KV_UTIL_API unsigned char* strCopyUnquoted(unsigned char* dest, const unsigned char* src,
                                           uint32_t length);
// In place, and only when the text is at least 2 long, begins and ends with
// quote and every quote inside is doubled: removes the outer quotes, undoubles
// the inner ones and terminates. Returns the new length (the old one when
// nothing was done).
KV_UTIL_API uint32_t strRemoveQuotes(unsigned char* s, char quote);
KV_UTIL_API uint32_t strRemoveQuotes(unsigned char* s, uint32_t length, char quote);

// ---------------------------------------------------------------------------
// Searches

// First / last occurrence of a character, or null.
KV_UTIL_API const unsigned char* strFind(const unsigned char* s, char c);
KV_UTIL_API const unsigned char* strFindReverse(const unsigned char* s, char c);
// First occurrence of a zero-terminated string (s itself for ""), or null.
KV_UTIL_API const unsigned char* strFind(const unsigned char* s, const unsigned char* sub);
// First occurrence of c outside the parts that q1, q2 or q3 open and the same
// character closes (a quote of 0 is none), or null.
KV_UTIL_API const unsigned char* strFind(const unsigned char* s, char c, char q1, char q2, char q3);

inline unsigned char* strFind(unsigned char* s, char c) {
  return const_cast<unsigned char*>(strFind(static_cast<const unsigned char*>(s), c));
}
inline unsigned char* strFindReverse(unsigned char* s, char c) {
  return const_cast<unsigned char*>(strFindReverse(static_cast<const unsigned char*>(s), c));
}
inline unsigned char* strFind(unsigned char* s, const unsigned char* sub) {
  return const_cast<unsigned char*>(strFind(static_cast<const unsigned char*>(s), sub));
}
inline unsigned char* strFind(unsigned char* s, char c, char q1, char q2, char q3) {
  return const_cast<unsigned char*>(strFind(static_cast<const unsigned char*>(s), c, q1, q2, q3));
}

// Classes of strContains and strDoesNotContain.
enum : uint16_t {
  kvContainsLower = 0x1,  // "a" to "z"
  kvContainsUpper = 0x2,  // "A" to "Z"
  kvContainsDigit = 0x4,  // "0" to "9"
};
// Nonzero when every character of the counted text is one of chars (may be
// null) or in one of the classes; nonzero for an empty text.
KV_UTIL_API int strContains(const unsigned char* text, uint32_t length, const unsigned char* chars,
                            uint16_t classes);
// Nonzero when no character of the counted text is one of chars or in one
// of the classes; nonzero for an empty text.
KV_UTIL_API int strDoesNotContain(const unsigned char* text, uint32_t length, const unsigned char* chars,
                                  uint16_t classes);

// ---------------------------------------------------------------------------
// Trimming

// Length without trailing white space (charset.h) / cut in place, returning
// the new length.
KV_UTIL_API uint32_t strRightTrim(const unsigned char* text, uint32_t length);
KV_UTIL_API uint32_t strRightTrim(unsigned char* s);
// The same for blanks (32) only.
KV_UTIL_API uint32_t strRightTrimBlanks(const unsigned char* text, uint32_t length);
KV_UTIL_API uint32_t strRightTrimBlanks(unsigned char* s);

// ---------------------------------------------------------------------------
// LIKE

// Nonzero when text matches pattern: anyString matches any run of characters,
// oneChar one character, escape makes the next pattern character literal (0
// for none of the three). Trailing white space of both is ignored. With
// caseSensitive 0 single-byte characters compare after upper-casing.
KV_UTIL_API int strLike(const unsigned char* text, const unsigned char* pattern, char anyString,
                        char oneChar, char escape, int caseSensitive);
KV_UTIL_API int strLike(const unsigned char* text, uint32_t textLength, const unsigned char* pattern,
                        uint32_t patternLength, char anyString, char oneChar, char escape,
                        int caseSensitive);

// Nonzero when the character at c is a letter of the code page, or, while a
// DBCS code page is on, a single-byte katakana (161 to 223).
KV_UTIL_API int kvIsAlpha(const unsigned char* c);

// ---------------------------------------------------------------------------
// Byte primitives

extern "C" {
// Copies n bytes forward, first byte first.
KV_UTIL_API void BUTMEMCP(void* dest, const void* src, uint16_t n);
// Copies n bytes backward, last byte first (safe when moving up in memory).
KV_UTIL_API void BUTMMCPD(void* dest, const void* src, uint16_t n);
// Unsigned comparison of n bytes: -1, 0 or 1.
KV_UTIL_API int BUTMMCMP(const void* p1, const void* p2, uint16_t n);
// Swaps two areas of n bytes, 512 bytes at a time.
KV_UTIL_API void BUTMMSWP(void* p1, void* p2, uint16_t n);
KV_UTIL_API void BUTSTCAT(unsigned char* dest, const unsigned char* src);
// Byte comparison of zero-terminated strings: negative, 0 or positive.
KV_UTIL_API int BUTSTCMP(const unsigned char* s1, const unsigned char* s2);
// Copies and returns the address of the copy's terminator.
KV_UTIL_API unsigned char* BUTSTCPY(unsigned char* dest, const unsigned char* src);
// Length as a 16-bit count; 65535 for any longer string.
KV_UTIL_API uint16_t BUTSTLEN(const unsigned char* s);
KV_UTIL_API void BUTU8FIL(void* dest, unsigned char value, uint16_t n);
// Copies n bytes forward, first byte first.
KV_UTIL_API void memCopyHuge(void* dest, const void* src, uint32_t n);
KV_UTIL_API void memFillHuge(void* dest, unsigned char value, uint32_t n);
}
