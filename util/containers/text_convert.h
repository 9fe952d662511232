// Numbers to and from decimal and hexadecimal text, and yes/no settings.
//
// Decimal text read by convert: leading white space and "+" signs, decimal
// digits, trailing white space; the signed forms allow one "-" after the
// leading white space. Text with no digits (empty, blanks) reads as 0. A
// value outside the target's range fails with 2701 "Number too large: %s1",
// any other character with 2702 "Number contains an invalid character: %s1";
// the parameter is the text from its first character that is not leading
// white space or a "+" sign. On failure the target is left unchanged.
// White space is tab, line feed, vertical tab, form feed, carriage return
// and blank.
#pragma once

#include "util/kv_types.h"

// 1 when text begins with "1", "T" or "t", or with "ON" in any case ("TRUE",
// "on", "1"); 0 otherwise ("Yes", "OFF", empty, null).
KV_UTIL_API int isTrueStr(const unsigned char* text);

// ---------------------------------------------------------------------------
// Numbers to decimal text (terminated)

// Digits without a sign; returns their number.
KV_UTIL_API uint16_t convert(unsigned char* out, uint32_t value);
// With a leading "-" for a negative value; returns the length.
KV_UTIL_API uint16_t convert(unsigned char* out, int32_t value);
// A field of width bytes and a terminator: the digits right-aligned behind
// blanks, or from the first position with leftAlign. A value with more
// digits than width fills the field with asterisks. Returns the digits
// written (0 for asterisks).
KV_UTIL_API uint16_t convert(unsigned char* out, uint16_t width, uint32_t value, uint16_t leftAlign);

// ---------------------------------------------------------------------------
// Decimal text to numbers

KV_UTIL_API KvStatus convert(const unsigned char* text, uint32_t* value);
KV_UTIL_API KvStatus convert(const unsigned char* text, int32_t* value);
KV_UTIL_API KvStatus convert(const unsigned char* text, uint16_t* value);
KV_UTIL_API KvStatus convert(const unsigned char* text, int16_t* value);
KV_UTIL_API KvStatus convert(const unsigned char* text, unsigned char* value);
// Signed 8-bit: -128..127 (char is signed on this platform).
KV_UTIL_API KvStatus convert(const unsigned char* text, char* value);
// Counted text; a zero byte within length ends it early.
KV_UTIL_API KvStatus convert(const unsigned char* text, uint16_t length, uint16_t* value);
KV_UTIL_API KvStatus convert(const unsigned char* text, uint16_t length, uint32_t* value);

// ---------------------------------------------------------------------------
// Hexadecimal

// Upper-case digits of value, padded with zeros to minDigits (at least one
// digit), terminated; returns the length.
KV_UTIL_API uint16_t hexify(unsigned char* out, uint32_t value, uint16_t minDigits);
// Picks the form above for a plain int literal such as hexify(out, 0, 0),
// which would otherwise also read as a null byte pointer.
inline uint16_t hexify(unsigned char* out, int value, uint16_t minDigits) {
  return hexify(out, static_cast<uint32_t>(value), minDigits);
}
// Two upper-case digits a byte, high half first; no terminator. out may be
// the same buffer as bytes (it is filled from the end). Returns 2 * n; n
// must be below 2^31 (larger n writes nothing and returns 0).
KV_UTIL_API uint32_t hexify(unsigned char* out, const unsigned char* bytes, uint32_t n);
KV_UTIL_API uint32_t hexifyHuge(unsigned char* out, const unsigned char* bytes, uint32_t n);
// Reads n hexadecimal digits of either case, two a byte, high half first; an
// odd last digit is the high half of a last byte whose low half is 0. out
// may be the same buffer as hex. A character that is not a hexadecimal digit
// adds 2708 "Invalid hexidecimal character found during conversion." and
// fails before anything is written.
KV_UTIL_API KvStatus dehexify(unsigned char* out, const unsigned char* hex, uint32_t n);
KV_UTIL_API KvStatus dehexifyHuge(unsigned char* out, const unsigned char* hex, uint32_t n);
// Nonzero when all n characters are hexadecimal digits (so for n = 0).
KV_UTIL_API int isHexString(const unsigned char* text, uint32_t n);
