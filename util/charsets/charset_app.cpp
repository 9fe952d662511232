// The application's code set and ANSI; see charset_app.h.
#include "util/charsets/charset_app.h"

#include "util/charsets/charset_unicode.h"
#include "util/os/bos.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <new>

namespace {

// A code set name folded for comparison: lower case, "-" and "_" dropped
// ("UTF-8", "utf8" and "UTF_8" are one name).
void foldName(const char* name, char* out, size_t size) {
  size_t used = 0;
  for (; *name && used + 1 < size; ++name) {
    const char c = *name;
    if (c == '-' || c == '_') continue;
    out[used++] = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
  }
  out[used] = 0;
}

bool isOneOf(const char* folded, const char* const* names) {
  for (; *names; ++names)
    if (std::strcmp(folded, *names) == 0) return true;
  return false;
}

// Code sets whose text is taken as ANSI bytes unchanged: the C locale's
// ASCII (whose bytes above 0x7F were always passed as Windows-1252) and
// Windows-1252 itself. An empty name is a process without a locale.
const char* const ansiNames[] = {"",      "ansix3.41968", "ansix3.41986", "ascii", "usascii", "646",
                                 "cp1252", "windows1252", "posix",        "c",     nullptr};
const char* const utf8Names[] = {"utf8", nullptr};

bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

// Every converter built so far, newest first. They are never freed: a
// reference handed out stays valid for the life of the process.
struct KvAppCharsetRegistry {
  static std::mutex mutex;
  static KvAppCharset* first;
  static std::atomic<const KvAppCharset*> last;

  static KvAppCharset* build(const char* name) {
    auto* charset = new (std::nothrow) KvAppCharset();
    if (!charset) return nullptr;
    std::strncpy(charset->name_, name, sizeof(charset->name_) - 1);
    char folded[64];
    foldName(name, folded, sizeof(folded));
    if (isOneOf(folded, ansiNames)) {
      charset->kind_ = KvAppCharset::kindAnsi;
    } else if (isOneOf(folded, utf8Names)) {
      charset->kind_ = KvAppCharset::kindUtf8;
      for (int ansi = 0; ansi < 256; ++ansi) {
        const uint32_t unit = kvAnsiToUnicode(uint8_t(ansi));
        unsigned char* out = charset->bytes_[ansi];
        if (unit < 0x80) {
          out[0] = uint8_t(unit);
          charset->lengths_[ansi] = 1;
        } else if (unit < 0x800) {
          out[0] = uint8_t(0xC0 | (unit >> 6));
          out[1] = uint8_t(0x80 | (unit & 0x3F));
          charset->lengths_[ansi] = 2;
        } else {
          out[0] = uint8_t(0xE0 | (unit >> 12));
          out[1] = uint8_t(0x80 | ((unit >> 6) & 0x3F));
          out[2] = uint8_t(0x80 | (unit & 0x3F));
          charset->lengths_[ansi] = 3;
        }
      }
      charset->maxCharBytes_ = 3;
    } else if (bosAnsiInCodeSet(name, charset->bytes_, charset->lengths_) == kvSuccess) {
      charset->kind_ = KvAppCharset::kindTable;
      charset->maxCharBytes_ = 1;
      for (int ansi = 0; ansi < 256; ++ansi)
        if (charset->lengths_[ansi] > charset->maxCharBytes_) charset->maxCharBytes_ = charset->lengths_[ansi];
    } else {
      charset->kind_ = KvAppCharset::kindAnsi;
    }
    return charset;
  }
};

std::mutex KvAppCharsetRegistry::mutex;
KvAppCharset* KvAppCharsetRegistry::first = nullptr;
std::atomic<const KvAppCharset*> KvAppCharsetRegistry::last{nullptr};

const KvAppCharset& KvAppCharset::forCodeSet(const char* name) {
  if (!name) name = "";
  // Most calls ask for the code set the last one did.
  const KvAppCharset* recent = KvAppCharsetRegistry::last.load(std::memory_order_acquire);
  if (recent && std::strncmp(recent->name_, name, sizeof(recent->name_) - 1) == 0) return *recent;
  std::lock_guard<std::mutex> guard(KvAppCharsetRegistry::mutex);
  const KvAppCharset* found = nullptr;
  for (const KvAppCharset* c = KvAppCharsetRegistry::first; c && !found; c = c->next_)
    if (std::strncmp(c->name_, name, sizeof(c->name_) - 1) == 0) found = c;
  if (!found) {
    KvAppCharset* built = KvAppCharsetRegistry::build(name);
    if (!built) {
      // Without memory for a converter the text passes as ANSI, which is
      // what every converter does with ASCII; such a process fails soon
      // enough elsewhere.
      static KvAppCharset fallback;
      return fallback;
    }
    built->next_ = KvAppCharsetRegistry::first;
    KvAppCharsetRegistry::first = built;
    found = built;
  }
  KvAppCharsetRegistry::last.store(found, std::memory_order_release);
  return *found;
}

const KvAppCharset& KvAppCharset::current() {
  char name[48];
  bosLocaleCodeSet(name, sizeof(name));
  return forCodeSet(name);
}

bool KvAppCharset::toApp(const unsigned char* ansi, uint32_t length, unsigned char* out, uint32_t room,
                         uint32_t* written, uint32_t* consumed, uint64_t* total, KvAppTextCheck* check) const {
  *check = KvAppTextCheck();
  if (kind_ == kindAnsi) {
    const uint32_t copy = out ? (length < room ? length : room) : 0;
    if (copy) std::memmove(out, ansi, copy);
    if (written) *written = copy;
    if (consumed) *consumed = copy;
    *total = length;
    return true;
  }
  uint64_t bytes = 0;
  uint32_t put = 0;
  uint32_t taken = 0;
  bool full = !out;
  for (uint32_t i = 0; i < length; ++i) {
    const uint8_t c = ansi[i];
    const uint32_t size = lengths_[c];
    if (size == 0) {
      check->fault = appTextNoAppChar;
      check->offset = i;
      check->codePoint = kvAnsiToUnicode(c);
      return false;
    }
    bytes += size;
    if (!full && put + size <= room) {
      std::memcpy(out + put, bytes_[c], size);
      put += size;
      taken = i + 1;
    } else {
      full = true;
    }
  }
  if (written) *written = put;
  if (consumed) *consumed = taken;
  *total = bytes;
  return true;
}

uint32_t KvAppCharset::utf8Char(const unsigned char* text, uint32_t length, uint32_t* codePoint) const {
  const unsigned char c = text[0];
  if (c < 0x80) {
    *codePoint = c;
    return 1;
  }
  uint32_t size = 0;
  uint32_t value = 0;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range
  if (c >= 0xC2 && c <= 0xDF) {
    size = 2;
    value = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    size = 3;
    value = c & 0x0F;
    if (c == 0xE0) low = 0xA0;   // overlong
    if (c == 0xED) high = 0x9F;  // surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    size = 4;
    value = c & 0x07;
    if (c == 0xF0) low = 0x90;   // overlong
    if (c == 0xF4) high = 0x8F;  // beyond U+10FFFF
  } else {
    return 0;
  }
  if (length < size) return 0;
  if (text[1] < low || text[1] > high) return 0;
  for (uint32_t k = 1; k < size; ++k) {
    if (!isContinuation(text[k])) return 0;
    value = (value << 6) | (text[k] & 0x3F);
  }
  *codePoint = value;
  return size;
}

uint32_t KvAppCharset::matchEntry(const unsigned char* text, uint32_t length, unsigned char* ansi) const {
  uint32_t best = 0;
  for (int a = 0; a < 256; ++a) {
    const uint32_t size = lengths_[a];
    if (size <= best || size > length || bytes_[a][0] != text[0]) continue;
    if (std::memcmp(bytes_[a], text, size) != 0) continue;
    best = size;
    *ansi = uint8_t(a);
  }
  return best;
}

bool KvAppCharset::fromApp(const unsigned char* text, uint32_t length, unsigned char* out, uint32_t* outLength,
                           KvAppTextCheck* check) const {
  *check = KvAppTextCheck();
  if (kind_ == kindAnsi) {
    if (length && out != text) std::memmove(out, text, length);
    *outLength = length;
    return true;
  }
  uint32_t put = 0;
  uint32_t i = 0;
  while (i < length) {
    if (text[i] < 0x80 && kind_ == kindUtf8) {
      out[put++] = text[i++];
      continue;
    }
    uint32_t size = 0;
    unsigned char ansi = 0;
    if (kind_ == kindUtf8) {
      uint32_t codePoint = 0;
      size = utf8Char(text + i, length - i, &codePoint);
      if (size == 0) {
        check->fault = appTextInvalid;
        check->offset = i;
        *outLength = put;
        return false;
      }
      // Only code points below U+10000 can be one UTF-16 unit.
      if (codePoint > 0xFFFF || !kvUnicodeToAnsi(uint16_t(codePoint), &ansi)) {
        check->fault = appTextNoAnsi;
        check->offset = i;
        check->codePoint = codePoint;
        *outLength = put;
        return false;
      }
    } else {
      size = matchEntry(text + i, length - i, &ansi);
      if (size == 0) {
        check->fault = appTextNoAnsi;
        check->offset = i;
        *outLength = put;
        return false;
      }
    }
    // out may be text itself: the ANSI byte never overtakes what it reads.
    out[put++] = ansi;
    i += size;
  }
  *outLength = put;
  return true;
}

uint32_t KvAppCharset::wholeCharBytes(const unsigned char* text, uint32_t length) const {
  if (kind_ == kindAnsi || length == 0) return length;
  if (kind_ == kindUtf8) {
    // The last lead byte, at most three bytes back: when the bytes after it
    // are fewer than it announces, the character is still to come.
    uint32_t start = length;
    uint32_t back = 0;
    while (start > 0 && back < 4 && isContinuation(text[start - 1])) {
      --start;
      ++back;
    }
    if (start == 0) return length;
    const unsigned char lead = text[start - 1];
    const uint32_t announced = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 1;
    return (announced > 1 && back + 1 < announced) ? start - 1 : length;
  }
  uint32_t i = 0;
  while (i < length) {
    unsigned char ansi = 0;
    const uint32_t size = matchEntry(text + i, length - i, &ansi);
    if (size) {
      i += size;
      continue;
    }
    // No whole entry here: the rest is a character to come when some entry
    // begins with all of it.
    const uint32_t rest = length - i;
    for (int a = 0; a < 256; ++a)
      if (lengths_[a] > rest && std::memcmp(bytes_[a], text + i, rest) == 0) return i;
    return length;
  }
  return length;
}
