// The boundary of the application's narrow text; see base_app_text.h.
#include "base/handles/base_app_text.h"

#include "base/handles/base_error_list.h"
#include "base/handles/base_message_ids.h"
#include "base/handles/base_messages.h"
#include "util/charsets/charset_unicode.h"
#include "util/containers/text_convert.h"

#include <cstdio>
#include <cstring>

namespace {

KvStatus refuse(const KvAppCharset& charset, const KvAppTextCheck& check) {
  unsigned char code[12];
  hexify(code, check.codePoint, 4);
  switch (check.fault) {
    case appTextNoAnsi:
      if (charset.getKind() == KvAppCharset::kindUtf8) {
        addOdbcError(stateAssignment, msgNoAnsiCharacter) << code;
        break;
      }
      addOdbcError(stateAssignment, msgInvalidAppText) << check.offset << kvU(charset.getName());
      break;
    case appTextNoAppChar:
      addOdbcError(stateAssignment, msgNoAppCharacter) << code << kvU(charset.getName());
      break;
    default:
      addOdbcError(stateAssignment, msgInvalidAppText) << check.offset << kvU(charset.getName());
      break;
  }
  return kvFailure;
}

}  // namespace

KvStatus baseTextFromApp(const unsigned char* text, uint32_t length, unsigned char* out, uint32_t* outLength) {
  const KvAppCharset& charset = KvAppCharset::current();
  KvAppTextCheck check;
  if (charset.fromApp(text, length, out, outLength, &check)) return kvSuccess;
  return refuse(charset, check);
}

KvStatus baseTextToApp(const unsigned char* ansi, uint32_t length, unsigned char* out, uint32_t room,
                       uint32_t* written, uint32_t* consumed, uint64_t* total) {
  const KvAppCharset& charset = KvAppCharset::current();
  KvAppTextCheck check;
  if (charset.toApp(ansi, length, out, room, written, consumed, total, &check)) return kvSuccess;
  return refuse(charset, check);
}

bool baseAppTextIsAnsi() { return KvAppCharset::current().isAnsi(); }

uint32_t baseAppCharBytes() { return KvAppCharset::current().maxCharBytes(); }

uint32_t baseAppWholeCharBytes(const unsigned char* text, uint32_t length) {
  return KvAppCharset::current().wholeCharBytes(text, length);
}

uint32_t baseMessageToApp(const unsigned char* ansi, uint32_t length, unsigned char* out, uint32_t room, bool* cut) {
  const KvAppCharset& charset = KvAppCharset::current();
  uint32_t put = 0;
  uint32_t at = 0;
  bool full = false;
  while (at < length && !full) {
    KvAppTextCheck check;
    uint32_t written = 0;
    uint32_t consumed = 0;
    uint64_t total = 0;
    uint32_t part = length - at;
    if (!charset.toApp(ansi + at, part, out + put, room - put, &written, &consumed, &total, &check)) {
      // The part before the character converts.
      part = check.offset;
      // Cannot fail: the first character it lacks is past the part.
      charset.toApp(ansi + at, part, out + put, room - put, &written, &consumed, &total, &check);
    }
    put += written;
    full = consumed < part;
    at += part;
    if (at >= length || full) break;
    char escape[16];
    const int escapeLength = std::snprintf(escape, sizeof(escape), "<U+%04X>", unsigned(kvAnsiToUnicode(ansi[at])));
    if (escapeLength <= 0 || put + uint32_t(escapeLength) > room) {
      full = true;
      break;
    }
    std::memcpy(out + put, escape, size_t(escapeLength));
    put += uint32_t(escapeLength);
    ++at;
  }
  out[put] = 0;
  *cut = full;
  return put;
}
