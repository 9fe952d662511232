// The text of dBASE field values, read and written without the process
// locale: numbers (N and F: right-aligned decimal text), dates (D: eight
// digits YYYYMMDD) and logicals (L: one letter of "FTNY"). Pure functions
// over counted bytes: nothing here reads beyond the length it is given.
#pragma once

#include "util/kv_types.h"

enum DbfTextResult : int {
  dbfTextValue = 0,       // a value
  dbfTextBlank = 1,       // no value (NULL)
  dbfTextBad = 2,         // text that is no value of the type
  dbfTextOutOfRange = 3,  // a number beyond what the field's declaration holds
};

// A number field: blanks (and NUL bytes, which some programs pad with)
// around an optional sign, digits, an optional point and fraction and an
// optional exponent. Nothing but blanks is blank, and so is a field of
// asterisks (an overflow mark of dBASE, NULL as GDAL writes it).
DbfTextResult dbfReadNumber(const unsigned char* text, uint32_t length, double* out);
// The same for the text of an N or F field of width bytes with decimals
// places (decimals below width, as the header check ensures), out of range
// when the value has more integer digits than the declaration leaves room
// for (see dbfNumberFitsField): such a value, which no program writing by
// the declaration stores (an exponent can), would be more text than the
// column's size.
DbfTextResult dbfReadFieldNumber(const unsigned char* text, uint16_t width, uint16_t decimals, double* out);
// Whether a number of integerDigits digits before its point (leading zeros
// not counted) fits a field of width and decimals: width - decimals - 1
// places before the point when there are decimals, else width; one fewer
// for a negative number, whose sign takes a place.
bool dbfNumberFitsField(uint32_t integerDigits, bool negative, uint16_t width, uint16_t decimals);

// A date field: a blank (or NUL) first character, or nothing but zeros and
// blanks, is blank; otherwise its first eight characters give year, month
// and day as written, each character counted as the digit it would be
// ('2020-1-1' gives month and day -29), since dBASE checks neither the
// digits nor the calendar: a value that is no date is refused where it is
// converted to one, not where it is read. A field narrower than eight
// characters is bad.
DbfTextResult dbfReadDate(const unsigned char* text, uint32_t length, int32_t* year, int32_t* month,
                          int32_t* day);

// A logical letter: blank, NUL or "?" (dBASE's own mark of a logical never
// set, which python3-dbf and Perl XBase write for NULL) is blank; the
// letters at positions 1 and
// 3 of letters ("FTNY": T and Y, compared exactly, so "y" is false) are
// true; any other letter is false.
DbfTextResult dbfReadLogical(unsigned char letter, const unsigned char* letters, int* value);

// Writes the decimal text of a value into a field of width bytes with
// decimals places, right-aligned, filled on the left with fill, a "-"
// just before the first digit of a negative number, the fraction padded
// with zeros, rounded half away from zero. The value comes as decimal
// text (sign, digits, point, fraction, exponent; blanks around it) or as
// a double, which is rounded as its shortest decimal text reads (2.5 as
// 2.5, 0.125 as 0.125, not as the binary fraction a little above or below
// them), so that a value rounds alike whichever way it arrives.
enum : uint16_t { dbfMaxNumberWidth = 255 };  // a number field's width is one byte
enum DbfNumberFit : int {
  dbfNumberFits = 0,
  dbfNumberTooLarge = 1,  // more integer digits than the field has room for (22003)
  dbfNumberBad = 2,       // not a number
};
DbfNumberFit dbfFormatNumberText(const unsigned char* text, uint32_t length, uint16_t width, uint16_t decimals,
                                 unsigned char fill, unsigned char* out);
DbfNumberFit dbfFormatDouble(double value, uint16_t width, uint16_t decimals, unsigned char fill,
                             unsigned char* out);

// The eight characters of a date; 0 when the year is outside 0-9999 or
// the month or day is outside 1-12 and 1-31.
int dbfFormatDate(int32_t year, int32_t month, int32_t day, unsigned char out[8]);

// Year, month and day of a Julian day number (the inverse of the engine's
// flatJulianDay).
void dbfJulianToDate(int32_t julian, int32_t* year, int32_t* month, int32_t* day);

// The text a number field gives an application that fetches it as text
// (the direct column fetch): the field right-aligned (trailing blanks and
// NULs taken as leading ones), leading ones skipped; blank when nothing is
// left, or only asterisks. Every character left must be a digit, a blank,
// "+", "-", or "." when the field has decimals; else bad. More integer
// digits than the field's declaration holds (dbfNumberFitsField) are out
// of range. out receives at most length bytes.
DbfTextResult dbfDirectNumberText(const unsigned char* field, uint32_t length, uint16_t decimals,
                                  unsigned char* out, uint32_t* outLength);
