// BaseConvertDateTime: conversions among dates, times, timestamps and their
// text. The arguments are those of BaseConvertNum (base_num_convert.h); a
// number on either side is handed to BaseConvertNum, which reads a date as
// its day number, a time as its seconds and a timestamp as a day-number
// double.
//
// Text written: "yyyy-mm-dd" (room at least 10), "hh:mm:ss" (at least 8),
// "yyyy-mm-dd hh:mm:ss" (at least 19) followed for a positive scale by "."
// and scale digits of the fraction (at most 9, cut, not rounded); a
// timestamp of scale -2 or below shows its seconds as 00, of -4 or below
// its minutes too. Less room fails with 22003; room between the minimum and
// the length takes what fits, marked truncated. No terminator is written.
//
// Text read (blanks around it dropped): for a date, 10 characters as a date
// or longer text as a timestamp whose date is taken; for a time, 8
// characters as a time or longer text as a timestamp whose time is taken;
// for a timestamp, 10 characters as a date at midnight, 8 as a time on
// today's local date, other text as a timestamp.
//
// A date taken from a timestamp, and a time taken from one, are marked
// truncated. Non-zero flags ask for 01004 on truncation and make a cut text
// report the bytes written instead of its full length. A date, time or
// timestamp source that is not a valid one fails with 22008.
#pragma once

#include "base/convert/base_internal_type.h"

KV_BASE_API KvStatus BaseConvertDateTime(InternalType srcType, const void* src, int32_t srcLength,
                                         InternalType dstType, void* dst, uint32_t* dstLength, uint32_t dstSize,
                                         int16_t scale, uint16_t flags);
