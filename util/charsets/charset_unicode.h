// Conversion between ANSI (Windows-1252) and UTF-16LE.
//
// Applications that work in Unicode hand the drivers UTF-16LE text (the
// wide character of ODBC on Linux as unixODBC passes it). The system's own
// text is single-byte ANSI, so a wide value is converted at the boundary:
//   - ANSI to UTF-16 always succeeds: every byte has one code unit. The five
//     bytes that Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90,
//     0x9D) become the C1 control codes of the same value, so that they too
//     come back unchanged.
//   - UTF-16 to ANSI succeeds only for the 256 code units of that table;
//     any other character (Greek, CJK, an emoji's surrogate halves) has no
//     ANSI byte and is reported, never replaced by "?".
// The table is fixed; the process locale plays no part.
#pragma once

#include <array>

#include "util/kv_types.h"

KV_UTIL_API extern const std::array<uint16_t, 256> kvAnsiToUnicodeTable;

inline uint16_t kvAnsiToUnicode(unsigned char c) { return kvAnsiToUnicodeTable[c]; }
// The ANSI byte of a UTF-16 code unit into *c; 0 (and *c untouched) when
// ANSI has no such character.
KV_UTIL_API int kvUnicodeToAnsi(uint16_t unit, unsigned char* c);

// length ANSI bytes to 2 * length bytes of UTF-16LE at out (no terminator);
// out must not overlap text.
KV_UTIL_API void kvAnsiToUtf16le(unsigned char* out, const unsigned char* text, uint32_t length);
// units UTF-16LE code units (2 * units bytes) to ANSI bytes at out, which
// holds units bytes and may be utf16 itself (in place). Returns units when
// every unit converted; otherwise the index of the first unit without an
// ANSI byte (out is then incomplete).
KV_UTIL_API uint32_t kvUtf16leToAnsi(unsigned char* out, const unsigned char* utf16, uint32_t units);
