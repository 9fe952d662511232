// The evaluator's scalar functions: text (trims, case, SUBSTR, LEFT, RIGHT,
// SPACE, LEN, CHR), numbers (INT, ROUND, MIN, MAX, VAL, NUMVAL, STR) and
// dates (MONTH, DAY, YEAR, DTOS, DTOC, DATEVAL/CTOD, STRVAL). Characters
// are counted with a DBCS lead byte and its trail byte as one. Positions
// and lengths given as numbers are cut toward zero and clamped: a start
// before the first character starts at it, a negative length takes
// nothing.
#include "flat/expr/flat_eval_internal.h"

#include "flat/connection/flat_file_desc.h"
#include "flat/connection/flat_shared_desc.h"
#include "flat/expr/flat_date_keys.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "util/charsets/charset.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace flateval {

namespace {

// A count or position from a number: cut toward zero, NaN as 0, and held
// within a range no text can reach.
int64_t countOf(double value) {
  if (!(value == value)) return 0;
  if (value > 1e9) return 1000000000;
  if (value < -1e9) return -1000000000;
  return int64_t(value);
}

uint32_t characters(const uint8_t* text, uint32_t length) {
  uint32_t count = 0;
  for (const uint8_t* p = text; p < text + length; p += kvCharBytes(p, text + length)) ++count;
  return count;
}

// Byte offset of character n (0-based) of a text; its length when shorter.
uint32_t byteOfCharacter(const uint8_t* text, uint32_t length, int64_t n) {
  const uint8_t* p = text;
  for (int64_t i = 0; i < n && p < text + length; ++i) p += kvCharBytes(p, text + length);
  return uint32_t(p - text);
}

}  // namespace

KvStatus Machine::trim(uint8_t opcode) {
  if (need(1) != kvSuccess) return kvFailure;
  const Entry x = at(0);
  if (hasNoValue(x.kind)) return kvSuccess;
  if (!isText(x.kind)) return kindError(opcode);
  const uint8_t* p = bytes(x);
  uint32_t begin = 0, end = x.length;
  if (opcode == opRtrim) {
    while (end > 0 && p[end - 1] == ' ') --end;
  } else {
    while (begin < end && p[begin] == ' ') ++begin;
  }
  return replace(1, x.kind, p + begin, end - begin);
}

// UPPER and LOWER map with the ANSI code page's case in NULL-aware mode and
// for index keys of a table not in the OEM character set; otherwise only
// the letters a to z.
KvStatus Machine::changeCase(uint8_t opcode) {
  if (need(1) != kvSuccess) return kvFailure;
  const Entry x = at(0);
  if (hasNoValue(x.kind)) return kvSuccess;
  if (!isText(x.kind)) return kindError(opcode);
  uint8_t* p = scratch_ + x.offset;
  const bool ansi = nullAware_ || ((mode_ & flatEvalIndexKey) && table_ && table_->getShared() &&
                                  !(table_->getShared()->getFlags() & FlatSharedDesc::flagOem));
  if (ansi) {
    if (opcode == opUpper) kvUpperText(p, x.length);
    else kvLowerText(p, x.length);
    return kvSuccess;
  }
  for (uint8_t* c = p; c < p + x.length; c += kvCharBytes(c, p + x.length)) {
    if (kvCharBytes(c, p + x.length) != 1) continue;
    if (opcode == opUpper && *c >= 'a' && *c <= 'z') *c = uint8_t(*c - 'a' + 'A');
    if (opcode == opLower && *c >= 'A' && *c <= 'Z') *c = uint8_t(*c - 'A' + 'a');
  }
  return kvSuccess;
}

KvStatus Machine::substr(uint8_t arguments) {
  if ((arguments != 2 && arguments != 3) || need(arguments) != kvSuccess) return evalFailure(msgExpressionLimit);
  KvStatus status = kvSuccess;
  if (propagateMissing(arguments, &status)) return status;
  const Entry text = at(uint16_t(arguments - 1));
  const Entry& start = at(uint16_t(arguments - 2));
  if (!isText(text.kind) || !isNumeric(start.kind)) return kindError(opSubstr);
  int64_t first = countOf(number(start)) - 1;
  if (first < 0) first = 0;
  int64_t count = 1000000000;
  if (arguments == 3) {
    if (!isNumeric(at(0).kind)) return kindError(opSubstr);
    count = countOf(number(at(0)));
    if (count < 0) count = 0;
  }
  const uint8_t* p = bytes(text);
  const uint32_t begin = byteOfCharacter(p, text.length, first);
  const uint32_t end = begin + byteOfCharacter(p + begin, text.length - begin, count);
  return replace(arguments, text.kind, p + begin, end - begin);
}

KvStatus Machine::leftRight(uint8_t opcode) {
  if (need(2) != kvSuccess) return kvFailure;
  KvStatus status = kvSuccess;
  if (propagateMissing(2, &status)) return status;
  const Entry text = at(1), n = at(0);
  if (!isText(text.kind) || !isNumeric(n.kind)) return kindError(opcode);
  int64_t count = countOf(number(n));
  if (count < 0) count = 0;
  const uint8_t* p = bytes(text);
  if (opcode == opLeft) return replace(2, text.kind, p, byteOfCharacter(p, text.length, count));
  const int64_t all = characters(p, text.length);
  const uint32_t begin = count >= all ? 0 : byteOfCharacter(p, text.length, all - count);
  return replace(2, text.kind, p + begin, text.length - begin);
}

KvStatus Machine::space() {
  if (need(1) != kvSuccess) return kvFailure;
  KvStatus status = kvSuccess;
  if (propagateMissing(1, &status)) return status;
  if (!isNumeric(at(0).kind)) return kindError(opSpace);
  int64_t count = countOf(number(at(0)));
  if (count < 0) count = 0;
  if (count > int64_t(flatEvalSpaceLimit)) return evalFailure(msgStringTooLong);
  uint8_t blanks[flatEvalSpaceLimit];
  std::memset(blanks, ' ', size_t(count));
  return replace(1, flatEvalFunctionText, blanks, uint32_t(count));
}

KvStatus Machine::length() {
  if (need(1) != kvSuccess) return kvFailure;
  const Entry x = at(0);
  if (hasNoValue(x.kind)) return kvSuccess;
  if (!isText(x.kind)) return kindError(opLen);
  return replaceDouble(1, flatEvalNumber, characters(bytes(x), x.length));
}

KvStatus Machine::chr() {
  if (need(1) != kvSuccess) return kvFailure;
  KvStatus status = kvSuccess;
  if (propagateMissing(1, &status)) return status;
  if (!isNumeric(at(0).kind)) return kindError(opChr);
  const int64_t code = countOf(number(at(0)));
  if (code < 1 || code > 255) return evalFailure(msgChrRange);
  const uint8_t byte = uint8_t(code);
  return replace(1, flatEvalFunctionText, &byte, 1);
}

KvStatus Machine::numberFunction(uint8_t opcode) {
  const uint16_t arguments = opcode == opInt ? 1 : 2;
  if (need(arguments) != kvSuccess) return kvFailure;
  KvStatus status = kvSuccess;
  if (propagateMissing(arguments, &status)) return status;
  for (uint16_t i = 0; i < arguments; ++i)
    if (!isNumeric(at(i).kind)) return kindError(opcode);
  const double x = number(at(uint16_t(arguments - 1)));
  const double y = arguments == 2 ? number(at(0)) : 0;
  switch (opcode) {
    case opInt:
      return replaceDouble(1, flatEvalNumber, std::trunc(x));
    case opRound: {
      // Half away from zero at n places. Places beyond a double's range
      // are clamped: rounding far right of the point leaves x as it is
      // (it has no digits there), far left of it gives 0.
      const double places = std::trunc(y) > 400 ? 400 : std::trunc(y) < -400 ? -400 : std::trunc(y);
      const double factor = std::pow(10.0, places);
      const double scaled = x * factor;
      if (!std::isfinite(x) || !std::isfinite(scaled) || std::fabs(scaled) >= 9007199254740992.0)
        return replaceDouble(2, flatEvalNumber, x);
      if (factor == 0 || !std::isfinite(factor)) return replaceDouble(2, flatEvalNumber, 0);
      const double rounded = std::trunc(scaled + (x < 0 ? -0.5 : 0.5)) / factor;
      return replaceDouble(2, flatEvalNumber, std::isfinite(rounded) ? rounded : x);
    }
    case opMin:
      return replaceDouble(2, flatEvalNumber, y < x ? y : x);
    default:
      return replaceDouble(2, flatEvalNumber, y > x ? y : x);
  }
}

// STR(x [, width [, decimals]]): x rounded to the decimals and
// right-aligned in width characters (default 10 and 0); asterisks when the
// sign and the integer digits do not fit; the decimals only as far as room
// remains behind the point.
KvStatus Machine::str(uint8_t arguments) {
  if (arguments < 1 || arguments > 3 || need(arguments) != kvSuccess) return evalFailure(msgExpressionLimit);
  KvStatus status = kvSuccess;
  if (propagateMissing(arguments, &status)) return status;
  for (uint16_t i = 0; i < arguments; ++i)
    if (!isNumeric(at(i).kind)) return kindError(opStr);
  const double x = number(at(uint16_t(arguments - 1)));
  int64_t width = arguments >= 2 ? countOf(number(at(uint16_t(arguments - 2)))) : 10;
  int64_t decimals = arguments == 3 ? countOf(number(at(0))) : 0;
  if (decimals < 0) decimals = 0;
  if (width > int64_t(flatMaxTextResult)) return evalFailure(msgStringTooLong);
  if (width <= decimals) return evalFailure(msgBadScale);

  uint8_t out[flatMaxTextResult];
  if (!std::isfinite(x)) {
    std::memset(out, '*', size_t(width));
    return replace(arguments, flatEvalFunctionText, out, uint32_t(width));
  }
  // The largest double has 309 integer digits; the decimals are fewer than
  // the width.
  char digits[320 + flatMaxTextResult];
  std::snprintf(digits, sizeof(digits), "%.*f", int(decimals), std::fabs(x));
  const char* point = std::strchr(digits, '.');
  const size_t integerDigits = point ? size_t(point - digits) : std::strlen(digits);
  const bool negative = x < 0 && std::strspn(digits, "0.") != std::strlen(digits);
  const size_t needed = size_t(negative) + integerDigits;
  if (needed > size_t(width)) {
    std::memset(out, '*', size_t(width));
    return replace(arguments, flatEvalFunctionText, out, uint32_t(width));
  }
  char text[320 + flatMaxTextResult];
  size_t length = 0;
  if (negative) text[length++] = '-';
  std::memcpy(text + length, digits, integerDigits);
  length += integerDigits;
  if (decimals > 0 && point && needed + 1 < size_t(width)) {
    size_t shown = size_t(width) - needed - 1;
    if (shown > size_t(decimals)) shown = size_t(decimals);
    text[length++] = '.';
    std::memcpy(text + length, point + 1, shown);
    length += shown;
  }
  const size_t pad = size_t(width) - length;
  std::memset(out, ' ', pad);
  std::memcpy(out + pad, text, length);
  return replace(arguments, flatEvalFunctionText, out, uint32_t(width));
}

KvStatus Machine::datePart(uint8_t opcode) {
  if (need(1) != kvSuccess) return kvFailure;
  const Entry x = at(0);
  if (hasNoValue(x.kind)) return kvSuccess;
  if (!isNumeric(x.kind)) return kindError(opcode);
  unsigned short year, month, day;
  JulianToYrMoDy(number(x), &year, &month, &day);
  return replaceDouble(1, flatEvalNumber, opcode == opMonth ? month : opcode == opDay ? day : year);
}

KvStatus Machine::dtos() {
  if (need(1) != kvSuccess) return kvFailure;
  const Entry x = at(0);
  if (hasNoValue(x.kind)) return kvSuccess;
  if (!isNumeric(x.kind)) return kindError(opDtos);
  unsigned short year, month, day;
  JulianToYrMoDy(number(x), &year, &month, &day);
  char text[16];
  if (day == 0) std::memset(text, ' ', 8);
  else std::snprintf(text, sizeof(text), "%04u%02u%02u", unsigned(year % 10000), unsigned(month), unsigned(day));
  return replace(1, flatEvalFunctionText, text, 8);
}

// The format code and separator of DTOC and DATEVAL: the second and third
// arguments when given (defaults 0 and "/").
static void dateArguments(Machine& m, uint8_t arguments, uint16_t* format, uint8_t* separator) {
  *format = 0;
  *separator = '/';
  if (arguments >= 2) {
    const Entry& f = m.at(uint16_t(arguments - 2));
    int64_t code = countOf(m.number(f));
    *format = uint16_t(code < 0 ? 0 : code > 0xFFFF ? 0xFFFF : code);
  }
  if (arguments == 3 && m.at(0).length > 0) *separator = m.bytes(m.at(0))[0];
}

KvStatus Machine::dtoc(uint8_t arguments) {
  if (arguments < 1 || arguments > 3 || need(arguments) != kvSuccess) return evalFailure(msgExpressionLimit);
  KvStatus status = kvSuccess;
  if (propagateMissing(arguments, &status)) return status;
  const Entry date = at(uint16_t(arguments - 1));
  if (!isNumeric(date.kind) || (arguments >= 2 && !isNumeric(at(uint16_t(arguments - 2)).kind)) ||
      (arguments == 3 && !isText(at(0).kind)))
    return kindError(opDtoc);
  uint16_t format;
  uint8_t separator;
  dateArguments(*this, arguments, &format, &separator);
  unsigned char text[flatDateTextBytes];
  JulianToString(number(date), format, separator, text);
  return replace(arguments, flatEvalFunctionText, text, uint32_t(std::strlen(reinterpret_cast<char*>(text))));
}

// DATEVAL and CTOD: a text that does not read as a date is the blank date
// (NULL in NULL-aware mode), its error withdrawn.
KvStatus Machine::dateValue(uint8_t arguments) {
  if (arguments < 1 || arguments > 3 || need(arguments) != kvSuccess) return evalFailure(msgExpressionLimit);
  KvStatus status = kvSuccess;
  if (propagateMissing(arguments, &status)) return status;
  const Entry text = at(uint16_t(arguments - 1));
  if (!isText(text.kind) || (arguments >= 2 && !isNumeric(at(uint16_t(arguments - 2)).kind)) ||
      (arguments == 3 && !isText(at(0).kind)))
    return kindError(opDateValue);
  uint16_t format;
  uint8_t separator;
  dateArguments(*this, arguments, &format, &separator);
  double value = flatBlankDate;
  if (StringToJulianDays(bytes(text), format, separator, &value) != kvSuccess) {
    KvErrorKeeper::clearLastError();
    value = flatBlankDate;
  }
  if (value == flatBlankDate && nullAware_) return replaceMark(arguments, flatEvalNull);
  return replaceDouble(arguments, flatEvalDate, value);
}

KvStatus Machine::value() {
  if (need(1) != kvSuccess) return kvFailure;
  const Entry x = at(0);
  if (hasNoValue(x.kind)) return kvSuccess;
  if (!isText(x.kind)) return kindError(opVal);
  return replaceDouble(1, flatEvalNumber, StringToDouble(bytes(x)));
}

KvStatus Machine::strValue() {
  if (need(1) != kvSuccess) return kvFailure;
  const Entry x = at(0);
  if (hasNoValue(x.kind) || isText(x.kind)) return kvSuccess;
  char text[32];
  if (x.kind == flatEvalLogical) {
    std::strcpy(text, bytes(x)[0] ? "True" : "False");
  } else if (x.kind == flatEvalDate) {
    JulianToString(number(x), flatDateMonthDayYear, '/', reinterpret_cast<unsigned char*>(text));
  } else if (x.kind == flatEvalNumber) {
    std::snprintf(text, sizeof(text), "%.15g", number(x));
  } else {
    return kindError(opStrVal);
  }
  return replace(1, flatEvalFunctionText, text, uint32_t(std::strlen(text)));
}

}  // namespace flateval
