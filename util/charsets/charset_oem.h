// Conversion between the OEM code page and ANSI.
//
// "OEM" (the "IBMPC" character set of dBASE and text tables) is code page
// 437; "ANSI" is Windows-1252. Both conversions are fixed byte-for-byte
// tables built into the library, never the process locale, so that every
// machine reads and writes a table's text alike. The rule behind the tables
// is written out in charset_oem.cpp; in short:
//   - bytes 0 to 127 are the same in both code pages and are kept;
//   - a character that both code pages have is converted to itself;
//   - any other character gets the best fit that the Windows conversion
//     gives it (box drawing to "+", "-" or the broken bar, Greek letters to
//     Latin ones, accented capitals that 437 lacks to the plain letter), and
//     "?" where there is none.
// So a conversion is not always reversible: a character that took a best fit
// does not, in general, come back. No non-zero byte ever becomes zero, so a
// terminated text keeps its length.
#pragma once

#include "util/kv_types.h"

KV_UTIL_API extern const unsigned char kvOemToAnsiTable[256];
KV_UTIL_API extern const unsigned char kvAnsiToOemTable[256];

inline unsigned char kvOemToAnsiChar(unsigned char c) { return kvOemToAnsiTable[c]; }
inline unsigned char kvAnsiToOemChar(unsigned char c) { return kvAnsiToOemTable[c]; }

// Convert length bytes of src into dest; dest may be src (in place).
KV_UTIL_API void kvOemToAnsi(unsigned char* dest, const unsigned char* src, uint32_t length);
KV_UTIL_API void kvAnsiToOem(unsigned char* dest, const unsigned char* src, uint32_t length);
// The same for a zero-terminated text; the terminator is copied too.
KV_UTIL_API void kvOemToAnsi(unsigned char* dest, const unsigned char* src);
KV_UTIL_API void kvAnsiToOem(unsigned char* dest, const unsigned char* src);
