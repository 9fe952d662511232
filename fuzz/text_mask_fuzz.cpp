// Fuzz target of the text driver's date masks: the input up to its first
// zero byte is a mask, the rest a value. A mask that compiles fits its 33
// bytes, writes back as a text that compiles to the same mask, parses any
// value without reading past it, and writes any date it parsed within the
// buffer it was given.
#include <cstring>
#include <string>

#include "base/handles/base_error_list.h"
#include "drivers/text/masks/txt_date_mask.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static KvErrorList list(nullptr, 1);
  KvErrorKeeper::setErrorList(&list);
  list.clearErrors();
  const uint8_t* zero = static_cast<const uint8_t*>(std::memchr(data, 0, size));
  const size_t maskBytes = zero ? size_t(zero - data) : size;
  const std::string mask(reinterpret_cast<const char*>(data), maskBytes);
  const size_t valueStart = zero ? maskBytes + 1 : size;
  // The value is copied so that a read past its end is caught.
  const std::string value(reinterpret_cast<const char*>(data) + valueStart, size - valueStart);

  unsigned char compiled[txtMaskBytes];
  if (txtCompileMask(reinterpret_cast<const unsigned char*>(mask.c_str()), compiled) != kvSuccess) return 0;
  FUZZ_CHECK(std::strlen(reinterpret_cast<char*>(compiled)) < txtMaskBytes);
  unsigned char text[256];
  FUZZ_CHECK(txtMaskToText(compiled, text, sizeof(text)) == kvSuccess);
  unsigned char again[txtMaskBytes];
  FUZZ_CHECK(txtCompileMask(text, again) == kvSuccess);
  FUZZ_CHECK(std::strcmp(reinterpret_cast<char*>(compiled), reinterpret_cast<char*>(again)) == 0);

  std::string copy = value;
  int16_t year = 0;
  uint16_t month = 0, day = 0;
  if (txtParseDate(reinterpret_cast<const unsigned char*>(copy.data()), uint32_t(copy.size()), compiled, &year, &month,
                   &day) != kvSuccess)
    return 0;
  FUZZ_CHECK(year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= 31);
  for (uint32_t room : {1u, 8u, 64u}) {
    unsigned char out[64 + 1];
    std::memset(out, 0x5A, sizeof(out));
    if (txtWriteDate(compiled, year, month, day, out, room) == kvSuccess)
      FUZZ_CHECK(std::strlen(reinterpret_cast<char*>(out)) < room);
    FUZZ_CHECK(out[64] == 0x5A);
  }
  return 0;
}
