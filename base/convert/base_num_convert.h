// BaseConvertNum: every conversion that involves a number, between the
// internal forms of base_internal_type.h (dates and times read as their day
// number and seconds). The framework's conversion layer, the file SQL engine
// and the drivers all call it.
//
// Arguments:
//   srcType, src, srcLength  the value; the length counts for character,
//                            packed decimal and decimal text sources, the
//                            fixed forms have their own size
//   dstType, dst             the target form and its buffer
//   dstLength                optional: receives the bytes written
//   dstSize                  the room of a character target (bytes; no
//                            terminator is written), or the precision of a
//                            packed decimal or decimal text target
//   scale                    fraction digits of a packed decimal source or
//                            target, of a decimal text target, and the
//                            scale a character target is padded to
//   flags                    baseNumWarn (any of the low 15 bits): post
//                            01004 when digits are cut; baseNumExact: the
//                            value belongs to an exact SQL type and is
//                            written as an exact number even when it came
//                            from a float or a double
//
// The target buffer holds: room bytes for a character target,
// basePackedBytes(precision) for packed decimal, baseDecimalTextBytes(
// precision) for decimal text (whose header, already in place, says whether
// the value is exact or approximate), and the fixed size of every other form.
//
// Numbers are cut, never rounded: fraction digits that an integer, packed
// decimal, decimal text or character target cannot hold are dropped and the
// value is marked truncated. A truncated character target reports the bytes
// written when warnings were asked for (with 01004), else the full length
// the value needed. Only doubles are rounded, to the 15 significant digits
// (7 for a float) that they hold, when they become digits.
//
// Failures, each the only error posted: 22003 (Numeric value out of range)
// for values or room too small, NaN and infinity into anything but float and
// double; 22005 (Error in assignment) for text that is not a number; 22008
// (Datetime field overflow) for a date, time or timestamp that is not one
// and a day number outside 0001-01-01..9999-12-31; 07006 for binary.
#pragma once

#include "base/convert/base_internal_type.h"

enum : uint16_t { baseNumWarn = 0x1, baseNumWarnBits = 0x7FFF, baseNumExact = 0x8000 };

KV_BASE_API KvStatus BaseConvertNum(InternalType srcType, const void* src, int32_t srcLength, InternalType dstType,
                                    void* dst, uint32_t* dstLength, uint32_t dstSize, int16_t scale, uint16_t flags);
