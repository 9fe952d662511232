// The decimal digit form: the pivot of every conversion between number forms
// that are not plain integers (text, packed decimal, decimal text, 64-bit
// integers, doubles). Internal to the framework; BaseConvertNum is its user.
//
// A value is a sign, a string of at most 79 significant ASCII digits with no
// leading and no trailing zero, and the position of the decimal point counted
// in digits from the left of that string: digits "125" with point 1 are 1.25,
// with point 0 .125, with point -1 .0125, with point 5 12500. Zero is the
// digit "0" with point 1 and a positive sign. An approximate value came from
// a float or a double and has no fixed scale; an exact one keeps its scale
// when written as text.
//
// Every encoder cuts digits that do not fit and never rounds: it marks the
// value truncated instead. Failures post 22003 (Numeric value out of range)
// or 22005 (Error in assignment) and return kvFailure.
#pragma once

#include "base/convert/base_internal_type.h"

struct BaseDecimal {
  enum : uint16_t { maxDigits = 79 };
  char digits[maxDigits + 1];
  uint16_t count;
  int32_t point;
  bool negative;
  bool approximate;
};

// Builds a BaseDecimal from raw digits given one at a time, most significant
// first: leading zeros are skipped, zeros after a significant digit are held
// back until another significant digit follows (so trailing zeros are never
// stored).
class BaseDecimalBuilder {
 public:
  BaseDecimalBuilder() = default;
  // A digit 0-9; false when a 80th significant digit would be stored.
  bool add(int digit);
  // The value whose raw digits were given, its point rawPoint digits after
  // the first raw digit. Fails with 22003 when the point lies beyond what a
  // 32-bit position holds.
  KvStatus finish(int64_t rawPoint, bool negative, bool approximate, BaseDecimal* out) const;

 private:
  char digits_[BaseDecimal::maxDigits + 1] = {};
  uint16_t count_ = 0;
  uint64_t leadingZeros_ = 0;
  uint64_t heldZeros_ = 0;
};

// Character text: blanks around, an optional sign, digits with at most one
// ".", an optional exponent "E" or "e" with at most 4 characters. 22005 for
// anything else; 22003 for more than 79 significant digits.
KvStatus baseDecimalFromText(const unsigned char* text, uint32_t length, BaseDecimal* out);
// A magnitude and a sign (integers of every width).
void baseDecimalFromInteger(uint64_t magnitude, bool negative, BaseDecimal* out);
// Packed decimal of length bytes (2 * length - 1 digits) with a scale; 22005
// for a digit nibble above 9.
KvStatus baseDecimalFromPacked(const unsigned char* bytes, uint32_t length, int16_t scale, BaseDecimal* out);
// Decimal text (header and digits) of length bytes; 22005 for a short
// buffer or a byte that is not a digit.
KvStatus baseDecimalFromDecimalText(const unsigned char* bytes, uint32_t length, BaseDecimal* out);
// A double as significantDigits correctly rounded digits, approximate; 22003
// for NaN and infinity, which have no digits.
KvStatus baseDecimalFromDouble(double value, int significantDigits, BaseDecimal* out);

// Text into room bytes (no terminator). An exact value is written in fixed
// notation, padded with zeros up to a positive scale while room lasts; one
// that does not fit keeps its integer part (22003 when that does not fit)
// and loses fraction digits. An approximate value that does not fit in
// fixed notation is written as d.dddE<exponent>, losing digits as room
// demands (22003 when not even one digit fits). *written receives the bytes
// written, *needed what the value needs uncut.
KvStatus baseDecimalToText(const BaseDecimal& value, unsigned char* out, uint32_t room, int16_t scale,
                           uint32_t* written, uint32_t* needed, bool* truncated);
// The whole part of the value as a magnitude; fraction digits mark
// truncation. 22003 when the whole part has more than maxWholeDigits digits
// or exceeds maxMagnitude.
KvStatus baseDecimalToInteger(const BaseDecimal& value, int32_t maxWholeDigits, uint64_t maxMagnitude,
                              uint64_t* magnitude, bool* truncated);
// Packed decimal of a precision (widened to odd) and scale: precision / 2 + 1
// bytes at out.
KvStatus baseDecimalToPacked(const BaseDecimal& value, uint32_t precision, int16_t scale, unsigned char* out,
                             bool* truncated);
// Decimal text at out, whose header's approximate flag (already in place)
// says how to fit the value: exact values keep at most precision - scale
// integer digits (22003 beyond) and scale fraction digits; approximate ones
// at most precision digits. Writes 8 + digit count bytes, at most
// baseDecimalTextBytes(precision).
KvStatus baseDecimalToDecimalText(const BaseDecimal& value, uint32_t precision, int16_t scale, unsigned char* out,
                                  uint32_t* written, bool* truncated);
// A double from at most 16 digits of the value; 22003 for an exponent beyond
// what a double holds.
KvStatus baseDecimalToDouble(const BaseDecimal& value, double* out);
// Whether the value has no fraction digits.
inline bool baseDecimalIsWhole(const BaseDecimal& value) { return int32_t(value.count) <= value.point; }
