// Windows-1252 to Unicode and back; see charset_unicode.h.
//
// Bytes 0x00-0x7F and 0xA0-0xFF are the Unicode characters of the same
// value (ASCII and Latin-1). Only 0x80-0x9F differ: 27 of them are the
// typographic signs below; the five that 1252 leaves undefined keep their
// own value.
#include "util/charsets/charset_unicode.h"

namespace {

// 0x80 to 0x9F.
constexpr uint16_t upperControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80 € . ‚ ƒ „ … † ‡
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88 ˆ ‰ Š ‹ Œ . Ž .
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90 . ‘ ’ “ ” • – —
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98 ˜ ™ š › œ . ž Ÿ
};

constexpr std::array<uint16_t, 256> makeTable() {
  std::array<uint16_t, 256> table{};
  for (int i = 0; i < 256; ++i) table[i] = uint16_t(i);
  for (int i = 0; i < 32; ++i) table[0x80 + i] = upperControls[i];
  return table;
}

}  // namespace

const std::array<uint16_t, 256> kvAnsiToUnicodeTable = makeTable();

int kvUnicodeToAnsi(uint16_t unit, unsigned char* c) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
    *c = static_cast<unsigned char>(unit);
    return 1;
  }
  for (int i = 0; i < 32; ++i) {
    if (upperControls[i] == unit) {
      *c = static_cast<unsigned char>(0x80 + i);
      return 1;
    }
  }
  return 0;
}

void kvAnsiToUtf16le(unsigned char* out, const unsigned char* text, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i) {
    const uint16_t unit = kvAnsiToUnicodeTable[text[i]];
    out[2 * i] = static_cast<unsigned char>(unit & 0xFF);
    out[2 * i + 1] = static_cast<unsigned char>(unit >> 8);
  }
}

uint32_t kvUtf16leToAnsi(unsigned char* out, const unsigned char* utf16, uint32_t units) {
  for (uint32_t i = 0; i < units; ++i) {
    const uint16_t unit = static_cast<uint16_t>(utf16[2 * i] | (utf16[2 * i + 1] << 8));
    if (!kvUnicodeToAnsi(unit, &out[i])) return i;
  }
  return units;
}
