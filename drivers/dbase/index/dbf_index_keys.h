// Key forms of the dBASE-family indexes and their orders: pure functions
// over key bytes, shared by every index format.
//
// | type | key bytes                                                        | order                       |
// |------|------------------------------------------------------------------|-----------------------------|
// | C    | the text, cut or padded with blanks (0x20) to the key length;    | bytes unsigned, or the      |
// |      | in the OEM character set when the table is                       | international collation     |
// | D, F | the 8-byte IEEE double, little-endian (dates as Julian day       | numeric                     |
// |      | numbers; the blank date is 1e100 and sorts after every date)    |                             |
// | N    | 12-byte packed decimal of the .MDX format, below                 | numeric                     |
//
// The .MDX packed decimal (12 bytes):
//   byte 0      52 + the position of the decimal point (the exponent of
//               the 15 significant digits read as 0.d1d2d3...)
//   byte 1      0x41, or 0xC1 for a negative number (bit 0x80 the sign)
//   bytes 2-11  the digits two a byte, high nibble first; unused nibbles 0
// The number is the digits times 10^(byte 0 - 52). Zero has no digits and
// is read as zero whatever its other bytes say (programs differ in the
// exponent they give it); it sorts between the negative and the positive
// numbers. Numbers too small for the exponent byte (below 1e-52) are keyed
// as zero, numbers too large for it as the largest key of their sign.
#pragma once

#include <cstdint>

enum : uint16_t {
  dbfBcdKeyBytes = 12,
  dbfDoubleKeyBytes = 8,
  dbfBcdDigits = 15,
};

// A comparison of two keys of one index: negative, 0 or positive.
typedef int (*DbfKeyCompare)(const uint8_t* a, const uint8_t* b);

// The .MDX packed decimal of a number.
void dbfMakeBcdKey(double value, uint8_t* key);
// The number a packed decimal key stands for (for messages and tests).
double dbfBcdKeyValue(const uint8_t* key);
// Numeric order of two packed decimal keys.
int dbfCompareBcdKeys(const uint8_t* a, const uint8_t* b);
// Numeric order of two 8-byte double keys (-0 equals 0).
int dbfCompareDoubleKeys(const uint8_t* a, const uint8_t* b);
// Order of two text keys of length bytes: unsigned bytes, or with intl the
// international collation.
int dbfCompareTextKeys(const uint8_t* a, const uint8_t* b, uint16_t length, bool intl);
// A text key: the first length bytes of value, cut to keyLength (a longer
// value never runs past the key), converted to OEM when oem is set, then
// blanks up to keyLength.
void dbfMakeTextKey(const uint8_t* value, uint32_t length, uint16_t keyLength, bool oem, uint8_t* key);
