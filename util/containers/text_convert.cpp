// Numbers to and from decimal and hexadecimal text, and yes/no settings
// (see text_convert.h for the rules of the text).
#include "util/containers/text_convert.h"

#include <cstring>
#include <type_traits>

#include "util/charsets/charset.h"
#include "util/resource.h"
#include "util/util_message_ids.h"

static_assert(std::is_signed<char>::value, "convert(text, char*) reads a signed byte");

namespace {

const unsigned char hexDigits[] = "0123456789ABCDEF";

// Value of a hexadecimal digit of either case, or -1.
int hexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Length of a counted text up to its first zero byte.
uint32_t countedLength(const unsigned char* text, uint32_t length) {
  if (!text) return 0;
  const void* zero = std::memchr(text, 0, length);
  return zero ? static_cast<uint32_t>(static_cast<const unsigned char*>(zero) - text) : length;
}

KvStatus fail(uint16_t message, const unsigned char* text, uint32_t length) {
  addResourceError(message) << KvSubString(text, length);
  return kvFailure;
}

// Reads the counted text as a number within minValue..maxValue (a minValue
// below 0 allows the "-" of the signed forms).
KvStatus readNumber(const unsigned char* text, uint32_t length, int64_t minValue, int64_t maxValue,
                    int64_t* value) {
  if (!text) text = kvU("");
  uint32_t pos = 0;
  uint32_t signAt = 0;
  bool negative = false;
  if (minValue < 0) {
    while (pos < length && kvCharIsSpace(text[pos])) pos++;
    signAt = pos;
    if (pos < length && text[pos] == '-') {
      negative = true;
      pos++;
    }
  }
  while (pos < length && (kvCharIsSpace(text[pos]) || text[pos] == '+')) pos++;
  // The parameter of a message: from the minus of a negative number, else
  // from the first digit.
  uint32_t shownFrom = negative ? signAt : pos;
  const unsigned char* shown = text + shownFrom;
  uint32_t shownLength = length - shownFrom;

  uint64_t magnitude = 0;
  for (; pos < length && kvCharIsDigit(text[pos]); pos++) {
    magnitude = magnitude * 10 + (text[pos] - '0');
    if (magnitude > 0xFFFFFFFFu) return fail(kvMsgNumberTooLarge, shown, shownLength);
  }
  while (pos < length && kvCharIsSpace(text[pos])) pos++;
  if (pos < length) return fail(kvMsgInvalidCharacter, shown, shownLength);

  int64_t result = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  if (result < minValue || result > maxValue) return fail(kvMsgNumberTooLarge, shown, shownLength);
  *value = result;
  return kvSuccess;
}

template <class T>
KvStatus readInto(const unsigned char* text, uint32_t length, int64_t minValue, int64_t maxValue,
                  T* value) {
  int64_t result;
  if (readNumber(text, length, minValue, maxValue, &result) != kvSuccess) return kvFailure;
  *value = static_cast<T>(result);
  return kvSuccess;
}

// Decimal digits of value into digits (at least one), most significant
// first; returns their number (at most 10).
uint16_t decimalDigits(uint32_t value, unsigned char* digits) {
  unsigned char reversed[10];
  uint16_t n = 0;
  do {
    reversed[n++] = static_cast<unsigned char>('0' + value % 10);
    value /= 10;
  } while (value);
  for (uint16_t i = 0; i < n; i++) digits[i] = reversed[n - 1 - i];
  return n;
}

}  // namespace

int isTrueStr(const unsigned char* text) {
  if (!text) return 0;
  if (text[0] == '1' || text[0] == 'T' || text[0] == 't') return 1;
  return (text[0] == 'O' || text[0] == 'o') && (text[1] == 'N' || text[1] == 'n');
}

// ---------------------------------------------------------------------------
// Numbers to decimal text

uint16_t convert(unsigned char* out, uint32_t value) {
  uint16_t n = decimalDigits(value, out);
  out[n] = 0;
  return n;
}

uint16_t convert(unsigned char* out, int32_t value) {
  if (value >= 0) return convert(out, static_cast<uint32_t>(value));
  out[0] = '-';
  // The magnitude of -2147483648 fits only unsigned.
  return static_cast<uint16_t>(1 + convert(out + 1, 0u - static_cast<uint32_t>(value)));
}

uint16_t convert(unsigned char* out, uint16_t width, uint32_t value, uint16_t leftAlign) {
  std::memset(out, ' ', width);
  out[width] = 0;
  unsigned char digits[10];
  uint16_t n = decimalDigits(value, digits);
  if (n > width) {
    std::memset(out, '*', width);
    return 0;
  }
  std::memcpy(leftAlign ? out : out + width - n, digits, n);
  return n;
}

// ---------------------------------------------------------------------------
// Decimal text to numbers

KvStatus convert(const unsigned char* text, uint32_t* value) {
  return readInto(text, kvTextLength(text), 0, 0xFFFFFFFF, value);
}

KvStatus convert(const unsigned char* text, int32_t* value) {
  return readInto(text, kvTextLength(text), INT32_MIN, INT32_MAX, value);
}

KvStatus convert(const unsigned char* text, uint16_t* value) {
  return readInto(text, kvTextLength(text), 0, UINT16_MAX, value);
}

KvStatus convert(const unsigned char* text, int16_t* value) {
  return readInto(text, kvTextLength(text), INT16_MIN, INT16_MAX, value);
}

KvStatus convert(const unsigned char* text, unsigned char* value) {
  return readInto(text, kvTextLength(text), 0, UINT8_MAX, value);
}

KvStatus convert(const unsigned char* text, char* value) {
  return readInto(text, kvTextLength(text), INT8_MIN, INT8_MAX, value);
}

KvStatus convert(const unsigned char* text, uint16_t length, uint16_t* value) {
  return readInto(text, countedLength(text, length), 0, UINT16_MAX, value);
}

KvStatus convert(const unsigned char* text, uint16_t length, uint32_t* value) {
  return readInto(text, countedLength(text, length), 0, 0xFFFFFFFF, value);
}

// ---------------------------------------------------------------------------
// Hexadecimal

uint16_t hexify(unsigned char* out, uint32_t value, uint16_t minDigits) {
  uint16_t significant = 1;
  while (significant < 8 && (value >> (4 * significant)) != 0) significant++;
  uint16_t length = minDigits > significant ? minDigits : significant;
  uint16_t pos = length;
  out[pos] = 0;
  for (uint16_t i = 0; i < significant; i++) {
    out[--pos] = hexDigits[value & 0xF];
    value >>= 4;
  }
  while (pos > 0) out[--pos] = '0';
  return length;
}

uint32_t hexify(unsigned char* out, const unsigned char* bytes, uint32_t n) {
  if (n > 0x7FFFFFFFu) return 0;
  // From the last byte down: byte i lands at 2i and 2i + 1, never below i,
  // so converting in place reads every byte before it is overwritten.
  for (uint32_t i = n; i-- > 0;) {
    unsigned char byte = bytes[i];
    out[2 * i] = hexDigits[byte >> 4];
    out[2 * i + 1] = hexDigits[byte & 0xF];
  }
  return 2 * n;
}

uint32_t hexifyHuge(unsigned char* out, const unsigned char* bytes, uint32_t n) {
  return hexify(out, bytes, n);
}

KvStatus dehexify(unsigned char* out, const unsigned char* hex, uint32_t n) {
  if (!isHexString(hex, n)) {
    addResourceError(kvMsgInvalidHex);
    return kvFailure;
  }
  // Byte i comes from 2i and 2i + 1, never behind where it is written.
  for (uint32_t i = 0; i < n; i += 2) {
    int high = hexValue(hex[i]);
    int low = i + 1 < n ? hexValue(hex[i + 1]) : 0;
    out[i / 2] = static_cast<unsigned char>((high << 4) | low);
  }
  return kvSuccess;
}

KvStatus dehexifyHuge(unsigned char* out, const unsigned char* hex, uint32_t n) {
  return dehexify(out, hex, n);
}

int isHexString(const unsigned char* text, uint32_t n) {
  for (uint32_t i = 0; i < n; i++) {
    if (hexValue(text[i]) < 0) return 0;
  }
  return 1;
}
