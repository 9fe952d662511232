// The decimal digit form; see base_decimal.h.
#include "base/convert/base_decimal.h"

#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "util/charsets/charset.h"
#include "util/containers/text_convert.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

KvStatus outOfRange() {
  addOdbcError(stateNumericRange);
  return kvFailure;
}

KvStatus notANumber() {
  addOdbcError(stateAssignment);
  return kvFailure;
}

void setZero(BaseDecimal* out, bool approximate) {
  out->digits[0] = '0';
  out->digits[1] = 0;
  out->count = 1;
  out->point = 1;
  out->negative = false;
  out->approximate = approximate;
}

bool isZero(const BaseDecimal& value) { return value.count == 1 && value.digits[0] == '0'; }

// The double-byte blank of a DBCS code page whose lead bytes include 0x81.
bool isDbcsBlank(const unsigned char* p, const unsigned char* end) {
  return p + 1 < end && p[0] == 0x81 && p[1] == 0x40 && kvIsDbcsLeadByte(0x81);
}

// The character at fixed-notation position of a value: integer characters
// are digits 0 .. point - 1 (zeros past the stored digits), fraction
// characters follow from digit index point (zeros before the first digit
// when the point is negative).
char digitAt(const BaseDecimal& value, int64_t index) {
  return (index >= 0 && index < value.count) ? value.digits[index] : '0';
}

// Bytes put into a text target, never more than its room.
struct TextWriter {
  unsigned char* out;
  uint32_t room;
  uint32_t used = 0;
  void put(char c) {
    if (used < room) out[used++] = static_cast<unsigned char>(c);
  }
};

}  // namespace

// ---------------------------------------------------------------- building

bool BaseDecimalBuilder::add(int digit) {
  if (digit == 0) {
    if (count_ == 0) ++leadingZeros_;
    else ++heldZeros_;
    return true;
  }
  if (count_ + heldZeros_ + 1 > BaseDecimal::maxDigits) return false;
  for (; heldZeros_ > 0; --heldZeros_) digits_[count_++] = '0';
  digits_[count_++] = char('0' + digit);
  return true;
}

KvStatus BaseDecimalBuilder::finish(int64_t rawPoint, bool negative, bool approximate, BaseDecimal* out) const {
  if (count_ == 0) {
    setZero(out, approximate);
    return kvSuccess;
  }
  const int64_t point = rawPoint - int64_t(leadingZeros_);
  if (point > INT32_MAX / 2 || point < INT32_MIN / 2) return outOfRange();
  std::memcpy(out->digits, digits_, count_);
  out->digits[count_] = 0;
  out->count = count_;
  out->point = int32_t(point);
  out->negative = negative;
  out->approximate = approximate;
  return kvSuccess;
}

// ---------------------------------------------------------------- decoding

KvStatus baseDecimalFromText(const unsigned char* text, uint32_t length, BaseDecimal* out) {
  const unsigned char* p = text;
  const unsigned char* end = text + length;
  for (;;) {
    if (p < end && kvCharIsSpace(*p)) ++p;
    else if (isDbcsBlank(p, end)) p += 2;
    else break;
  }
  for (;;) {
    if (end > p && kvCharIsSpace(end[-1])) --end;
    else if (end - p >= 2 && isDbcsBlank(end - 2, end)) end -= 2;
    else break;
  }

  bool negative = false;
  if (p < end && (*p == '-' || *p == '+')) {
    negative = *p == '-';
    ++p;
    while (p < end && kvCharIsSpace(*p)) ++p;
  }

  BaseDecimalBuilder builder;
  int64_t integerDigits = 0;
  bool seenPoint = false, seenDigit = false;
  for (; p < end && kvToUpper(*p) != 'E'; ++p) {
    if (kvCharIsDigit(*p)) {
      if (!builder.add(*p - '0')) return outOfRange();
      if (!seenPoint) ++integerDigits;
      seenDigit = true;
    } else if (*p == '.' && !seenPoint) {
      seenPoint = true;
    } else {
      return notANumber();
    }
  }
  if (!seenDigit) return notANumber();

  int64_t exponent = 0;
  if (p < end) {
    // "E" and at most 4 characters, read as a 16-bit number with at least
    // one digit. A failed read leaves only our 22005.
    ++p;
    const size_t chars = size_t(end - p);
    if (chars == 0 || chars > 4) return notANumber();
    unsigned char exponentText[5] = {0};
    std::memcpy(exponentText, p, chars);
    bool hasDigit = false;
    for (size_t i = 0; i < chars; ++i) hasDigit = hasDigit || kvCharIsDigit(exponentText[i]);
    int16_t value = 0;
    if (!hasDigit) return notANumber();
    if (convert(exponentText, &value) != kvSuccess) {
      KvErrorKeeper::clearLastError();
      return notANumber();
    }
    exponent = value;
  }
  return builder.finish(integerDigits + exponent, negative, false, out);
}

void baseDecimalFromInteger(uint64_t magnitude, bool negative, BaseDecimal* out) {
  char text[24];
  int length = std::snprintf(text, sizeof(text), "%llu", static_cast<unsigned long long>(magnitude));
  BaseDecimalBuilder builder;
  for (int i = 0; i < length; ++i) builder.add(text[i] - '0');
  // At most 20 digits: neither the digit limit nor the point range can fail.
  (void)builder.finish(length, negative && magnitude != 0, false, out);
}

KvStatus baseDecimalFromPacked(const unsigned char* bytes, uint32_t length, int16_t scale, BaseDecimal* out) {
  if (length == 0) return notANumber();
  BaseDecimalBuilder builder;
  const uint32_t digits = 2 * length - 1;
  for (uint32_t i = 0; i < digits; ++i) {
    const int nibble = (i % 2 == 0) ? bytes[i / 2] >> 4 : bytes[i / 2] & 0x0F;
    if (nibble > 9) return notANumber();
    if (!builder.add(nibble)) return outOfRange();
  }
  const bool negative = (bytes[length - 1] & 0x0F) == 0x0D;
  return builder.finish(int64_t(digits) - scale, negative, false, out);
}

KvStatus baseDecimalFromDecimalText(const unsigned char* bytes, uint32_t length, BaseDecimal* out) {
  if (length < baseDecimalHeaderBytes) return notANumber();
  const BaseDecimalHeader header = baseGetDecimalHeader(bytes);
  if (header.digitCount > length - baseDecimalHeaderBytes) return notANumber();
  BaseDecimalBuilder builder;
  for (uint32_t i = 0; i < header.digitCount; ++i) {
    const unsigned char c = bytes[baseDecimalHeaderBytes + i];
    if (c < '0' || c > '9') return notANumber();
    if (!builder.add(c - '0')) return outOfRange();
  }
  return builder.finish(header.point, (header.flags & decimalNegative) != 0,
                        (header.flags & decimalApproximate) != 0, out);
}

KvStatus baseDecimalFromDouble(double value, int significantDigits, BaseDecimal* out) {
  if (!std::isfinite(value)) return outOfRange();
  // "-d.ddde+xx": to_chars is exact, correctly rounded and ignores the
  // process locale.
  char text[64];
  const std::to_chars_result result =
      std::to_chars(text, text + sizeof(text), value, std::chars_format::scientific, significantDigits - 1);
  const char* p = text;
  const char* end = result.ptr;
  bool negative = false;
  if (p < end && *p == '-') {
    negative = true;
    ++p;
  }
  BaseDecimalBuilder builder;
  for (; p < end && *p != 'e'; ++p) {
    if (*p >= '0' && *p <= '9') builder.add(*p - '0');
  }
  int exponent = 0;
  if (p < end) {
    ++p;
    if (p < end && *p == '+') ++p;
    std::from_chars(p, end, exponent);
  }
  return builder.finish(int64_t(exponent) + 1, negative, true, out);
}

// ---------------------------------------------------------------- encoding

KvStatus baseDecimalToText(const BaseDecimal& value, unsigned char* out, uint32_t room, int16_t scale,
                           uint32_t* written, uint32_t* needed, bool* truncated) {
  const int64_t count = value.count, point = value.point;
  const int64_t sign = value.negative ? 1 : 0;
  const int64_t integerChars = point > 0 ? point : 0;
  const int64_t fractionChars = count > point ? count - point : 0;
  const int64_t fixedLength = sign + integerChars + (fractionChars ? 1 + fractionChars : 0);

  TextWriter text{out, room};
  auto putInteger = [&] {
    if (value.negative) text.put('-');
    for (int64_t i = 0; i < integerChars; ++i) text.put(digitAt(value, i));
  };
  auto putFraction = [&](int64_t chars) {
    text.put('.');
    for (int64_t i = 0; i < chars; ++i) text.put(digitAt(value, point + i));
  };

  if (fixedLength <= room) {
    putInteger();
    if (fractionChars) putFraction(fractionChars);
    if (!value.approximate && scale > fractionChars) {
      // Zeros up to the scale, while room lasts; a whole number needs its
      // point first.
      int64_t pad = scale - fractionChars;
      int64_t free = int64_t(room) - text.used - (fractionChars ? 0 : 1);
      if (pad > free) pad = free;
      if (pad > 0) {
        if (!fractionChars) text.put('.');
        for (int64_t i = 0; i < pad; ++i) text.put('0');
      }
    }
    *written = text.used;
    *needed = text.used;
    return kvSuccess;
  }

  *truncated = true;
  if (!value.approximate || point == 1) {
    // The integer part must stand whole; fraction digits go as room demands.
    const int64_t integerLength = sign + integerChars;
    if (int64_t(room) < (integerLength > 0 ? integerLength : 1)) return outOfRange();
    const int64_t free = int64_t(room) - integerLength;
    const int64_t fractionFit = (fractionChars && free >= 2) ? std::min(free - 1, fractionChars) : 0;
    if (integerChars == 0 && fractionFit == 0) {
      text.put('0');  // no digit would make it
    } else {
      // The point stands even when no fraction digit fits after it, so that
      // the cut text is the start of the whole one (a later piece of it
      // carries on from there).
      putInteger();
      if (fractionChars && free >= 1) putFraction(fractionFit);
    }
    *written = text.used;
    *needed = uint32_t(fixedLength > UINT32_MAX ? UINT32_MAX : fixedLength);
    return kvSuccess;
  }

  // d.dddE<exponent>: the first digit, the point and as many further digits
  // as room leaves beside the exponent.
  char exponentText[16];
  const int exponentLength = std::snprintf(exponentText, sizeof(exponentText), "E%d", int(point - 1));
  const int64_t fullLength = sign + 1 + (count > 1 ? count : 0) + exponentLength;
  const int64_t minimumLength = sign + 1 + exponentLength;
  *needed = uint32_t(fullLength);
  if (fullLength <= room) *truncated = false;
  else if (int64_t(room) < minimumLength) return outOfRange();
  const int64_t free = int64_t(room) - minimumLength;
  if (value.negative) text.put('-');
  text.put(value.digits[0]);
  if (count > 1 && free >= 2) {
    text.put('.');
    const int64_t more = free - 1 < count - 1 ? free - 1 : count - 1;
    for (int64_t i = 1; i <= more; ++i) text.put(value.digits[i]);
  }
  for (int i = 0; i < exponentLength; ++i) text.put(exponentText[i]);
  *written = text.used;
  return kvSuccess;
}

KvStatus baseDecimalToInteger(const BaseDecimal& value, int32_t maxWholeDigits, uint64_t maxMagnitude,
                              uint64_t* magnitude, bool* truncated) {
  *magnitude = 0;
  if (isZero(value)) return kvSuccess;
  if (value.count > value.point) *truncated = true;
  if (value.point <= 0) return kvSuccess;
  if (value.point > maxWholeDigits) return outOfRange();
  unsigned __int128 whole = 0;
  for (int32_t i = 0; i < value.point; ++i) whole = whole * 10 + unsigned(digitAt(value, i) - '0');
  if (whole > maxMagnitude) return outOfRange();
  *magnitude = uint64_t(whole);
  return kvSuccess;
}

KvStatus baseDecimalToPacked(const BaseDecimal& value, uint32_t precision, int16_t scale, unsigned char* out,
                             bool* truncated) {
  const int64_t digits = int64_t(precision) | 1;  // an even precision is widened by one digit
  const int64_t integerPositions = digits - scale;
  const bool zero = isZero(value);
  if (!zero && value.point > integerPositions) return outOfRange();
  if (!zero && value.count > int64_t(value.point) + scale) *truncated = true;
  const int64_t bytes = (digits + 1) / 2;
  std::memset(out, 0, size_t(bytes));
  bool anyDigit = false;
  for (int64_t j = 0; j < digits && !zero; ++j) {
    // Nibble j stands for the power integerPositions - 1 - j of ten.
    const int64_t index = value.point - integerPositions + j;
    const int digit = digitAt(value, index) - '0';
    anyDigit = anyDigit || digit != 0;
    out[j / 2] |= static_cast<unsigned char>(j % 2 == 0 ? digit << 4 : digit);
  }
  // A value cut down to nothing is a plain zero, not a negative one.
  out[bytes - 1] |= (value.negative && anyDigit) ? 0x0D : 0x0C;
  return kvSuccess;
}

KvStatus baseDecimalToDecimalText(const BaseDecimal& value, uint32_t precision, int16_t scale, unsigned char* out,
                                  uint32_t* written, bool* truncated) {
  BaseDecimalHeader header = baseGetDecimalHeader(out);
  const bool approximate = (header.flags & decimalApproximate) != 0;
  int64_t count = value.count;
  int32_t point = value.point;
  bool negative = value.negative;
  if (!isZero(value)) {
    if (!approximate) {
      const int64_t integerDigits = point > 0 ? point : 0;
      if (integerDigits > int64_t(precision) - scale) return outOfRange();
      const int64_t keep = int64_t(point) + scale;
      if (keep < count) {
        *truncated = true;
        count = keep > 0 ? keep : 0;
      }
    } else if (count > int64_t(precision)) {
      *truncated = true;
      count = precision;
    }
    while (count > 0 && value.digits[count - 1] == '0') --count;
  }
  const char* digits = value.digits;
  if (count == 0 || isZero(value)) {
    digits = "0";
    count = 1;
    point = 1;
    negative = false;
  }
  if (point > INT16_MAX || point < INT16_MIN) return outOfRange();
  header.point = int16_t(point);
  header.digitCount = uint16_t(count);
  header.flags = (negative ? uint32_t(decimalNegative) : 0u) | (approximate ? uint32_t(decimalApproximate) : 0u);
  basePutDecimalHeader(out, header);
  std::memcpy(out + baseDecimalHeaderBytes, digits, size_t(count));
  *written = baseDecimalHeaderBytes + uint32_t(count);
  return kvSuccess;
}

KvStatus baseDecimalToDouble(const BaseDecimal& value, double* out) {
  if (isZero(value)) {
    *out = 0.0;
    return kvSuccess;
  }
  const int64_t exponent = int64_t(value.point) - 1;
  if (exponent < -307 || exponent > 308) return outOfRange();
  // At most 16 digits as an integer mantissa and a power of ten: no
  // decimal point, so the process locale has no say.
  const int used = value.count < 16 ? value.count : 16;
  char text[48];
  std::memcpy(text, value.digits, size_t(used));
  const int length = used + std::snprintf(text + used, sizeof(text) - size_t(used), "e%d", int(value.point - used));
  double result = 0;
  const std::from_chars_result read = std::from_chars(text, text + length, result);
  if (read.ec == std::errc::result_out_of_range) return outOfRange();
  if (result == 0) return notANumber();
  *out = value.negative ? -result : result;
  return kvSuccess;
}
