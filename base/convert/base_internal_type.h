// InternalType: the framework's internal forms of a value. Drivers and the
// file SQL engine hand every value to the conversion layer as bytes, a
// length and one of these types; every conversion between an application's
// C type and an SQL type passes through them.
//
// Layouts (integers in machine order unless said otherwise):
//
//   value  form              bytes
//   0      binary            raw bytes, length given separately
//   1      character         ANSI bytes, length given separately; no
//                            terminator needed
//   2      bit               1 byte, 0 or 1
//   3, 4   8-bit integer     1 byte, signed / unsigned
//   5, 6   16-bit integer    2 bytes, signed / unsigned
//   7, 8   32-bit integer    4 bytes, signed / unsigned
//   9, 10  64-bit integer    8 bytes, signed / unsigned: the high 32-bit
//                            word first, then the low word (not the machine's
//                            own int64_t order; see baseGet64)
//   11     packed decimal    n bytes hold 2n-1 digits, two a byte, high
//                            nibble first; the low nibble of the last byte
//                            is the sign: 0xD negative, anything else
//                            positive (0xC when written). The scale that
//                            goes with it places the decimal point.
//   12     decimal text      8-byte header, then the ASCII digits:
//                              0  i16  position of the decimal point,
//                                      counted in digits from the left of
//                                      the digits (may be <= 0 or beyond)
//                              2  u16  digit count
//                              4  u32  flags: bit 0 negative, bit 1
//                                      approximate (no fixed scale)
//   13     float             4-byte IEEE single
//   14     double            8-byte IEEE double
//   15     date              DATE_STRUCT {i16 year, u16 month, u16 day}
//   16     time              TIME_STRUCT {u16 hour, u16 minute, u16 second}
//   17     timestamp         TIMESTAMP_STRUCT {i16 year, u16 month, day,
//                            hour, minute, second, u32 fraction in
//                            billionths of a second}
//
// Buffers of these forms may sit at any address: the conversions read and
// write them with memcpy, never through a cast pointer.
#pragma once

#include "base/base_types.h"

#include <cstring>

enum InternalType : int16_t {
  itBinary = 0,
  itChar = 1,
  itBit = 2,
  itSTinyInt = 3,
  itUTinyInt = 4,
  itSShort = 5,
  itUShort = 6,
  itSLong = 7,
  itULong = 8,
  itSBigInt = 9,
  itUBigInt = 10,
  itPacked = 11,
  itDecimal = 12,
  itFloat = 13,
  itDouble = 14,
  itDate = 15,
  itTime = 16,
  itTimestamp = 17,
};

// One past the last form.
constexpr int16_t itCount = 18;

// Flags of the decimal-text header.
enum : uint32_t { decimalNegative = 0x1, decimalApproximate = 0x2 };
enum : uint32_t { baseDecimalHeaderBytes = 8 };

struct BaseDecimalHeader {
  int16_t point;
  uint16_t digitCount;
  uint32_t flags;
};

inline BaseDecimalHeader baseGetDecimalHeader(const void* bytes) {
  BaseDecimalHeader header;
  std::memcpy(&header.point, bytes, 2);
  std::memcpy(&header.digitCount, static_cast<const unsigned char*>(bytes) + 2, 2);
  std::memcpy(&header.flags, static_cast<const unsigned char*>(bytes) + 4, 4);
  return header;
}

inline void basePutDecimalHeader(void* bytes, const BaseDecimalHeader& header) {
  std::memcpy(bytes, &header.point, 2);
  std::memcpy(static_cast<unsigned char*>(bytes) + 2, &header.digitCount, 2);
  std::memcpy(static_cast<unsigned char*>(bytes) + 4, &header.flags, 4);
}

// The 64-bit forms: high word first, each word in machine order.
inline uint64_t baseGet64(const void* bytes) {
  uint32_t high, low;
  std::memcpy(&high, bytes, 4);
  std::memcpy(&low, static_cast<const unsigned char*>(bytes) + 4, 4);
  return (uint64_t(high) << 32) | low;
}

inline void basePut64(void* bytes, uint64_t value) {
  const uint32_t high = uint32_t(value >> 32), low = uint32_t(value);
  std::memcpy(bytes, &high, 4);
  std::memcpy(static_cast<unsigned char*>(bytes) + 4, &low, 4);
}

// Bytes of a fixed-size form; 0 for binary, character, packed decimal and
// decimal text, whose size depends on the value or its precision.
inline uint32_t baseInternalSize(InternalType type) {
  static const uint8_t sizes[itCount] = {0, 0, 1, 1, 1, 2, 2, 4, 4, 8, 8, 0, 0, 4, 8, 6, 6, 16};
  return (type >= 0 && type < itCount) ? sizes[type] : 0;
}

// Bytes of a packed decimal of a precision: 2n-1 digits in n bytes, an even
// precision widened by one digit.
inline uint32_t basePackedBytes(uint32_t precision) { return precision / 2 + 1; }
// Most bytes of a decimal text of a precision: the header and the digits,
// at least one (zero is "0") and never more than 79.
inline uint32_t baseDecimalTextBytes(uint32_t precision) {
  return baseDecimalHeaderBytes + (precision < 1 ? 1 : precision > 79 ? 79 : precision);
}
