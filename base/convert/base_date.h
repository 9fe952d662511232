// The calendar of the framework and the text forms of dates and times.
//
// A date is counted as a day number of the proleptic Gregorian calendar:
// 0001-01-01 is day 1721426, 9999-12-31 day 5373484. A time is its seconds
// since midnight. These numbers are what the file SQL engine stores and
// compares, and what BaseConvertNum reads a date or a time as.
//
// Text forms are read at fixed positions, "yyyy-mm-dd", "hh:mm:ss" and
// "yyyy-mm-dd hh:mm:ss.fffffffff"; the separators are not checked. Each
// field is read as a decimal number (leading blanks and "+" allowed, blanks
// alone read as 0). Every refusal posts 22008 (Datetime field overflow) and
// nothing else.
#pragma once

#include "base/base_types.h"

enum : int32_t {
  baseFirstDayNumber = 1721426,  // 0001-01-01
  baseLastDayNumber = 5373484,   // 9999-12-31
};

// Day number of a date. The date is not checked (BaseValidateDate does
// that), except that a month outside 1..12 gives 0, which is no day.
KV_BASE_API int32_t BaseDateToJulian(int16_t year, uint16_t month, uint16_t day);
// The date of a day number. A day number outside 0001-01-01..9999-12-31
// gives 0, 0, 0, which BaseValidateDate refuses.
KV_BASE_API void BaseJulianToDate(int32_t dayNumber, int16_t* year, uint16_t* month, uint16_t* day);
// Year 1..9999, month 1..12, a day that the month has (29 February only in
// a leap year); else 22008.
KV_BASE_API KvStatus BaseValidateDate(int16_t year, uint16_t month, uint16_t day);
// Hour < 24, minute < 60, second < 60; else 22008.
KV_BASE_API KvStatus BaseValidateTime(uint16_t hour, uint16_t minute, uint16_t second);
// A valid date, a valid time and a fraction of at most 999999999; else 22008.
KV_BASE_API KvStatus BaseValidateTimestamp(const TIMESTAMP_STRUCT& value);

// "yyyy-mm-dd" from the first 10 of length characters (fewer fail).
KV_BASE_API KvStatus BaseStrToDate(const unsigned char* text, uint32_t length, DATE_STRUCT* date);
// "hh:mm:ss" from the first 8 of length characters (fewer fail).
KV_BASE_API KvStatus BaseStrToTime(const unsigned char* text, uint32_t length, TIME_STRUCT* time);
// 10 to 29 characters: the date from the first 10; the time from the 12th
// character on, where a text shorter than 19 characters has its missing
// time fields read as 0 ("yyyy-mm-dd hh" and "yyyy-mm-dd hh:mm" are
// accepted); beyond 19 characters the 20th must be punctuation or a blank
// and every later one a digit of the fraction, which is scaled to
// billionths.
KV_BASE_API KvStatus BaseStrToTimestamp(const unsigned char* text, int32_t length, TIMESTAMP_STRUCT* value);
