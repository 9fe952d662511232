// The engine's dates and sortable number keys.
//
// An engine date is a double: the whole part is the day number of the
// proleptic Gregorian calendar (0001-01-01 is day 1721426), the fraction is
// the time of day (seconds / 86400). The double 1e100 is the blank date:
// an empty date field, or text that does not parse as a date.
//
// A sortable number key is the 8-byte big-endian image of a double with the
// sign bit set for non-negative values and every bit inverted for negative
// ones, so that comparing the bytes orders the keys as the numbers (-0.0
// sorts before +0.0). Index files and sort keys store this form, so it must
// stay bit-exact.
#pragma once

#include "flat/flat_types.h"

constexpr double flatBlankDate = 1e100;

// Text date formats of JulianToString, DTOC and DATEVAL: the units digit
// gives the order of the parts, 10 and above write the year with 4 digits.
enum : uint16_t {
  flatDateMonthDayYear = 0,
  flatDateDayMonthYear = 1,
  flatDateYearMonthDay = 2,
  flatDateFourDigitYear = 10,
};
// Bytes JulianToString writes at most, terminator included.
enum : uint32_t { flatDateTextBytes = 11 };

// Reads text (zero-terminated) as a date and an optional time of day:
// three date numbers separated by separator (or blanks) in the order
// given, then up to three time numbers separated by ':', '.' or blanks. A
// year below 100 in a text shorter than 9 characters is in the 1900s. All
// numbers 0 give the blank date. Failures post 37000 with the whole text:
// 3940 a character that belongs nowhere, 3941 month, 3942 day (29 February
// only in leap years), 3943 hour, 3938 minute, 3939 second; out is then
// untouched. Numbers saturate instead of wrapping.
KV_FLAT_API KvStatus StringToJulianDays(const unsigned char* text, unsigned short order, unsigned char separator,
                                        double* out);
// Writes the date part as text (flatDateTextBytes at most): two digits a
// part (four for the year in formats 10 and above) joined by separator; the
// blank date gives blanks of the same widths.
KV_FLAT_API void JulianToString(double date, unsigned short format, unsigned char separator, unsigned char* out);
// The calendar date of the whole day number; the blank date, and day
// numbers outside 0001-01-01..9999-12-31, give 0, 0, 0.
KV_FLAT_API void JulianToYrMoDy(double date, unsigned short* year, unsigned short* month, unsigned short* day);
// A number at the start of text: blanks, one sign, blanks, digits with at
// most one '.'; reading stops at any other character; no digits give 0.
KV_FLAT_API double StringToDouble(const unsigned char* text);
// In place: the 8 bytes of a double (machine order) become its sortable
// key, and back.
KV_FLAT_API void MakeMemComparable(unsigned char* eightBytes);
KV_FLAT_API void UndoMemComparable(unsigned char* eightBytes);

// The engine's date of a calendar date and time of day (not checked).
KV_FLAT_API double flatDateValue(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                                 int32_t second);
