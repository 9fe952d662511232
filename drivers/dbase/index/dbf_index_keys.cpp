// Key forms and key orders; see dbf_index_keys.h.
#include "drivers/dbase/index/dbf_index_keys.h"

#include "util/charsets/charset_oem.h"
#include "util/containers/str_functions.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

enum : uint8_t {
  bcdExponentBias = 52,
  bcdPositive = 0x41,
  bcdNegative = 0xC1,
  bcdSignBit = 0x80,
};
enum : uint16_t { bcdDigitBytes = 10 };

int signOf(int value) { return value < 0 ? -1 : value > 0 ? 1 : 0; }

bool bcdIsZero(const uint8_t* key) {
  for (uint16_t i = 2; i < dbfBcdKeyBytes; ++i)
    if (key[i]) return false;
  return true;
}

// -1 negative, 0 zero, 1 positive.
int bcdClass(const uint8_t* key) {
  if (bcdIsZero(key)) return 0;
  return (key[1] & bcdSignBit) ? -1 : 1;
}

void putDigit(uint8_t* key, int index, int digit) {
  uint8_t* at = key + 2 + index / 2;
  if (index % 2 == 0) *at = uint8_t((*at & 0x0F) | (digit << 4));
  else *at = uint8_t((*at & 0xF0) | digit);
}

}  // namespace

void dbfMakeBcdKey(double value, uint8_t* key) {
  std::memset(key, 0, dbfBcdKeyBytes);
  key[0] = bcdExponentBias;
  key[1] = bcdPositive;
  if (std::isnan(value) || value == 0) return;
  bool negative = value < 0;
  key[1] = negative ? bcdNegative : bcdPositive;
  if (std::isinf(value)) {
    key[0] = 0xFF;
    std::memset(key + 2, 0x99, dbfBcdKeyBytes - 2);
    return;
  }
  // 15 significant digits and the exponent, as "d.dddddddddddddde+XXX"
  // (only digits, the sign and the exponent are read: no locale enters).
  char text[64];
  int length = std::snprintf(text, sizeof(text), "%.*e", dbfBcdDigits - 1, std::fabs(value));
  if (length <= 0 || length >= int(sizeof(text))) return;
  int digits[dbfBcdDigits] = {0};
  int count = 0;
  const char* at = text;
  for (; *at && *at != 'e' && *at != 'E'; ++at)
    if (*at >= '0' && *at <= '9' && count < dbfBcdDigits) digits[count++] = *at - '0';
  int exponent = 0;
  if (*at) {
    ++at;
    bool minus = *at == '-';
    if (*at == '-' || *at == '+') ++at;
    for (; *at >= '0' && *at <= '9'; ++at) exponent = exponent * 10 + (*at - '0');
    if (minus) exponent = -exponent;
  }
  // The point stands after the first digit: 0.d1d2... times 10^(exponent + 1).
  int position = exponent + 1;
  if (position + bcdExponentBias < 1) {
    key[1] = bcdPositive;
    return;
  }
  if (position + bcdExponentBias > 0xFF) {
    key[0] = 0xFF;
    std::memset(key + 2, 0x99, dbfBcdKeyBytes - 2);
    return;
  }
  key[0] = uint8_t(position + bcdExponentBias);
  for (int i = 0; i < count; ++i) putDigit(key, i, digits[i]);
}

double dbfBcdKeyValue(const uint8_t* key) {
  double value = 0;
  double scale = 0.1;
  for (uint16_t i = 0; i < 2 * bcdDigitBytes; ++i) {
    uint8_t byte = key[2 + i / 2];
    int digit = (i % 2 == 0) ? byte >> 4 : byte & 0x0F;
    value += digit * scale;
    scale /= 10;
  }
  value *= std::pow(10.0, int(key[0]) - bcdExponentBias);
  return (key[1] & bcdSignBit) && value != 0 ? -value : value;
}

int dbfCompareBcdKeys(const uint8_t* a, const uint8_t* b) {
  int classA = bcdClass(a), classB = bcdClass(b);
  if (classA != classB) return classA < classB ? -1 : 1;
  if (classA == 0) return 0;
  // The same sign: the exponent, then the digits; all ten digit bytes are
  // compared (unused ones are 0), so a key whose length byte claims fewer
  // digits than it holds still sorts by all of them.
  int result = int(a[0]) - int(b[0]);
  if (result == 0) result = std::memcmp(a + 2, b + 2, bcdDigitBytes);
  result = signOf(result);
  return classA < 0 ? -result : result;
}

int dbfCompareDoubleKeys(const uint8_t* a, const uint8_t* b) { return signOf(floatCompare(a, b)); }

int dbfCompareTextKeys(const uint8_t* a, const uint8_t* b, uint16_t length, bool intl) {
  if (intl) return signOf(strCompareIntl(a, length, b, length));
  return signOf(std::memcmp(a, b, length));
}

void dbfMakeTextKey(const uint8_t* value, uint32_t length, uint16_t keyLength, bool oem, uint8_t* key) {
  uint32_t copied = length < keyLength ? length : keyLength;
  if (oem) kvAnsiToOem(key, value, copied);
  else if (copied) std::memcpy(key, value, copied);
  if (copied < keyLength) std::memset(key + copied, ' ', keyLength - copied);
}
