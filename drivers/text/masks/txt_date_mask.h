// Date masks: the pattern ("m/d/yy", "Dddd Mmmm dd yyyy") that says how a
// text table's DATE column writes its values.
//
// Mask language and compiled form (a sequence of token bytes ended by 0,
// at most txtMaskBytes with the terminator):
//   m 1, mm 2, mmm 3, Mmm 4, MMM 5, mmmm 6, Mmmm 7, MMMM 8   month
//   d 9, dd 10, ddd 11, Ddd 12, DDD 13, dddd 14, Dddd 15, DDDD 16   day / weekday
//   yy 17, yyyy 18   year;  J 19   day number
//   / 20, - 21, . 22, : 23, , 24, blank 25   separators
//   \c 28 c   one literal character;  "text" or 'text' 29 n text
// Codes 26 and 27 are reserved: never compiled, refused when written.
//
// Parsing: month and day take 1 or 2 digits (a 2-digit value out of range
// takes 1 digit), names and abbreviations match without regard to case,
// weekdays are skipped, yy is 1900 + 2 digits, yyyy 4 digits, J a run of
// digits; separators and literals consume that many characters whatever
// they are. A value starts as day 1 of the current month and year; the date
// it ends as must exist (2/31 fails). Text after the mask is ignored.
//
// Messages (SQLSTATE 37000) are posted only while an error list is current;
// without one (the dialogs) the status alone says what happened.
#pragma once

#include "util/kv_types.h"

enum : uint32_t { txtMaskBytes = 33 };

enum TxtMaskToken : uint8_t {
  txtTokMonth = 1,
  txtTokMonth2 = 2,
  txtTokMonAbbrLower = 3,
  txtTokMonAbbrCap = 4,
  txtTokMonAbbrUpper = 5,
  txtTokMonNameLower = 6,
  txtTokMonNameCap = 7,
  txtTokMonNameUpper = 8,
  txtTokDay = 9,
  txtTokDay2 = 10,
  txtTokDayAbbrLower = 11,
  txtTokDayAbbrCap = 12,
  txtTokDayAbbrUpper = 13,
  txtTokDayNameLower = 14,
  txtTokDayNameCap = 15,
  txtTokDayNameUpper = 16,
  txtTokYear2 = 17,
  txtTokYear4 = 18,
  txtTokDayNumber = 19,
  txtTokSlash = 20,
  txtTokDash = 21,
  txtTokDot = 22,
  txtTokColon = 23,
  txtTokComma = 24,
  txtTokBlank = 25,
  txtTokReservedGD = 26,
  txtTokReservedGL = 27,
  txtTokLiteral = 28,
  txtTokQuoted = 29,
};

// Compiles mask text into out (txtMaskBytes). A mask whose compiled form
// would not fit fails with 1260.
KvStatus txtCompileMask(const unsigned char* text, unsigned char* out);
// Parses length bytes of value by a compiled mask; 1262 when it does not
// match or names no date.
KvStatus txtParseDate(const unsigned char* value, uint32_t length, const unsigned char* mask, int16_t* year,
                      uint16_t* month, uint16_t* day);
// Writes a date by a compiled mask into out (size bytes, terminated); 1261
// when it does not fit, 1272 for a year a yy mask cannot hold (it would
// read back as another century), 22008 for a date that is none.
KvStatus txtWriteDate(const unsigned char* mask, int16_t year, uint16_t month, uint16_t day, unsigned char* out,
                      uint32_t size);
// The mask text of a compiled mask into out (size bytes); compiling the
// text gives the same compiled form again.
KvStatus txtMaskToText(const unsigned char* mask, unsigned char* out, uint32_t size);
