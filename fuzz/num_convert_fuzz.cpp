// Fuzz target of the value parsers of the conversion layer: number text
// (BaseConvertNum from character text into every form), date and time text
// (BaseStrToTimestamp, BaseConvertDateTime) and wide text of parameters
// (BaseConvertFromC from SQL_C_WCHAR).
//
// Input: three bytes of settings, then the text.
//   byte 0: the target form (modulo 18)
//   byte 1: the scale, as a signed byte
//   byte 2: the room of a text target, the precision of a packed decimal or
//           decimal text target
// Besides what the sanitizers catch (every target buffer is exactly as
// large as the contract says), these must hold:
//   - a failure posts exactly one error, and a success none;
//   - a number read into a 64-bit integer reads back the same from its text;
//   - a timestamp parsed from text is a valid one, and its text parses back
//     to the same timestamp;
//   - wide text converts exactly when every character has an ANSI byte.
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/convert/base_convert.h"
#include "base/convert/base_date.h"
#include "base/convert/base_date_convert.h"
#include "base/handles/base_error_list.h"
#include "base/convert/base_num_convert.h"
#include "fuzz/fuzz_check.h"
#include "util/charsets/charset_unicode.h"

namespace {

uint32_t errorCount(KvErrorList& list) {
  uint32_t errors = 0;
  for (uint32_t i = 0; KvError* e = list.getErrorAtPos(i); ++i) errors += e->isWarning() ? 0 : 1;
  return errors;
}

// Bytes a target of a form needs by the contract of BaseConvertNum.
uint32_t targetBytes(InternalType form, uint32_t size) {
  switch (form) {
    case itChar: return size;
    case itPacked: return basePackedBytes(size);
    case itDecimal: return baseDecimalTextBytes(size);
    default: return baseInternalSize(form);
  }
}

void checkNumber(const unsigned char* text, uint32_t length, InternalType form, int16_t scale, uint32_t size,
                 KvErrorList& list) {
  std::vector<unsigned char> out(targetBytes(form, size));
  if (out.empty()) out.resize(1);
  if (form == itDecimal) basePutDecimalHeader(out.data(), BaseDecimalHeader{0, 0, uint32_t(scale & 1) << 1});
  uint32_t written = 0;
  const KvStatus status =
      BaseConvertNum(itChar, text, int32_t(length), form, out.data(), &written, size, scale, baseNumWarn);
  FUZZ_CHECK(errorCount(list) == (status == kvSuccess ? 0u : 1u));
  if (status == kvSuccess && form == itChar) FUZZ_CHECK(written <= size);
  list.clearErrors();

  unsigned char big[8];
  if (BaseConvertNum(itChar, text, int32_t(length), itSBigInt, big, &written, 0, 0, 0) == kvSuccess) {
    unsigned char digits[24], again[8];
    FUZZ_CHECK(BaseConvertNum(itSBigInt, big, 8, itChar, digits, &written, sizeof(digits), 0, 0) == kvSuccess);
    FUZZ_CHECK(BaseConvertNum(itChar, digits, int32_t(written), itSBigInt, again, &written, 0, 0, 0) == kvSuccess);
    FUZZ_CHECK(std::memcmp(big, again, 8) == 0);
  }
  list.clearErrors();
}

void checkTimestamp(const unsigned char* text, uint32_t length, int16_t scale, KvErrorList& list) {
  TIMESTAMP_STRUCT stamp;
  if (BaseStrToTimestamp(text, int32_t(length), &stamp) == kvSuccess) {
    FUZZ_CHECK(BaseValidateTimestamp(stamp) == kvSuccess);
    unsigned char formatted[29];
    uint32_t written = 0;
    FUZZ_CHECK(BaseConvertDateTime(itTimestamp, &stamp, 16, itChar, formatted, &written, sizeof(formatted), 9, 0) ==
               kvSuccess);
    TIMESTAMP_STRUCT again;
    FUZZ_CHECK(BaseStrToTimestamp(formatted, int32_t(written), &again) == kvSuccess);
    FUZZ_CHECK(std::memcmp(&stamp, &again, sizeof(stamp)) == 0);
  } else {
    FUZZ_CHECK(errorCount(list) == 1);
  }
  list.clearErrors();

  for (InternalType form : {itDate, itTime, itTimestamp}) {
    unsigned char out[16];
    uint32_t written = 0;
    const KvStatus status = BaseConvertDateTime(itChar, text, int32_t(length), form, out, &written, 0, scale, 1);
    FUZZ_CHECK(errorCount(list) == (status == kvSuccess ? 0u : 1u));
    list.clearErrors();
  }
}

void checkWideText(const unsigned char* bytes, uint32_t length, KvErrorList& list) {
  length &= ~1u;
  bool mappable = true;
  for (uint32_t i = 0; i < length; i += 2) {
    unsigned char c;
    mappable = mappable && kvUnicodeToAnsi(uint16_t(bytes[i] | (bytes[i + 1] << 8)), &c);
  }
  BaseValueDesc desc;
  desc.sqlType = SQL_WVARCHAR;
  desc.precision = 100;
  std::vector<unsigned char> out(length / 2 + 1);
  int32_t written = 0;
  const KvStatus status = BaseConvertFromC(1, desc, SQL_C_WCHAR, bytes, SQLLEN(length), itChar, out.data(), &written,
                                           uint32_t(out.size()), nullptr);
  FUZZ_CHECK((status == kvSuccess) == mappable);
  if (status == kvSuccess) FUZZ_CHECK(uint32_t(written) == length / 2);
  list.clearErrors();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3 || size > 4096) return 0;
  const InternalType form = InternalType(data[0] % itCount);
  const int16_t scale = int8_t(data[1]);
  const uint32_t room = data[2];
  // The text in a block of its own size, so that any read past it shows.
  std::vector<unsigned char> text(data + 3, data + size);
  const unsigned char* bytes = text.empty() ? reinterpret_cast<const unsigned char*>("") : text.data();
  const uint32_t length = uint32_t(text.size());

  BaseErrorList list(nullptr);
  KvErrorKeeper::setErrorList(&list);
  if (form != itBinary) checkNumber(bytes, length, form, scale, room, list);
  checkTimestamp(bytes, length, scale, list);
  checkWideText(bytes, length, list);
  list.clearErrors();
  KvErrorKeeper::giveUpErrorList();
  return 0;
}
