// Text in the application's code set and the system's ANSI (Windows-1252).
//
// Narrow text that an application hands a driver, and that the driver hands
// back, is in the code set of the application's LC_CTYPE locale: the one
// unixODBC also uses when it narrows and widens for the application. The
// system's own text stays ANSI. A KvAppCharset converts between the two:
//   - ANSI code set (the C/POSIX locale's ASCII, or Windows-1252 itself):
//     bytes pass unchanged both ways, as they always did.
//   - UTF-8: each ANSI byte is one Unicode character (charset_unicode.h)
//     of 1 to 3 bytes. Coming in, a character ANSI lacks, and bytes that
//     are not UTF-8 (a stray continuation byte, an overlong form, a
//     surrogate, a sequence cut short), are refused.
//   - Any other code set iconv knows: each ANSI byte as iconv writes it
//     there (a table built once); coming in, the longest entry of that
//     table that the text starts with. Characters on either side without a
//     counterpart are refused.
// Nothing is ever replaced by "?". Text going out is cut between
// characters, never inside one.
#pragma once

#include "util/kv_types.h"

// What fromApp and toApp found wrong (kind appTextGood when nothing).
enum KvAppTextFault : uint16_t {
  appTextGood = 0,
  appTextNoAnsi = 1,     // a character ANSI cannot hold (codePoint says which)
  appTextInvalid = 2,    // bytes that are no character of the code set
  appTextNoAppChar = 3,  // an ANSI character the application's code set cannot hold
};

struct KvAppTextCheck {
  KvAppTextFault fault = appTextGood;
  uint32_t offset = 0;     // byte of the input where the fault begins
  uint32_t codePoint = 0;  // the Unicode character, when it is known
};

class KV_UTIL_API KvAppCharset {
 public:
  enum Kind : uint16_t { kindAnsi, kindUtf8, kindTable };

  // The converter of the code set that the process's LC_CTYPE locale names
  // now. Converters are built once per code set and live as long as the
  // process; the reference stays valid.
  static const KvAppCharset& current();
  // The converter of a code set by its nl_langinfo(CODESET) name. Names of
  // ASCII and of Windows-1252 give the ANSI converter, and so does a code
  // set that iconv does not know.
  static const KvAppCharset& forCodeSet(const char* name);

  Kind getKind() const { return kind_; }
  bool isAnsi() const { return kind_ == kindAnsi; }
  const char* getName() const { return name_; }
  // The most bytes one ANSI character takes in the application's code set.
  uint32_t maxCharBytes() const { return maxCharBytes_; }

  // ANSI text to the application's code set: as many whole characters as
  // fit in room bytes go to out (null for none), their ANSI bytes into
  // *consumed (optional). Returns the bytes the whole text takes, in *total.
  // Fails (check filled) only when the code set cannot hold a character;
  // nothing is then written.
  bool toApp(const unsigned char* ansi, uint32_t length, unsigned char* out, uint32_t room, uint32_t* written,
             uint32_t* consumed, uint64_t* total, KvAppTextCheck* check) const;
  // The application's text to ANSI at out, which holds length bytes (an
  // ANSI text is never longer) and may be text itself. Fails at the first
  // fault, with *check saying what and where; out is then incomplete.
  bool fromApp(const unsigned char* text, uint32_t length, unsigned char* out, uint32_t* outLength,
               KvAppTextCheck* check) const;
  // Bytes at the start of text that end on a character boundary: a
  // multi-byte character that the text ends inside of (a value sent in
  // pieces) is left out; bytes that can begin no character are counted,
  // for fromApp to refuse.
  uint32_t wholeCharBytes(const unsigned char* text, uint32_t length) const;

  KvAppCharset(const KvAppCharset&) = delete;
  KvAppCharset& operator=(const KvAppCharset&) = delete;

 private:
  KvAppCharset() = default;
  // The characters of the table at text: the ANSI byte of the longest
  // entry text begins with and its length, 0 when none.
  uint32_t matchEntry(const unsigned char* text, uint32_t length, unsigned char* ansi) const;
  uint32_t utf8Char(const unsigned char* text, uint32_t length, uint32_t* codePoint) const;

  Kind kind_ = kindAnsi;
  char name_[48] = {0};
  uint32_t maxCharBytes_ = 1;
  unsigned char bytes_[256][4] = {};
  uint8_t lengths_[256] = {};
  KvAppCharset* next_ = nullptr;

  friend struct KvAppCharsetRegistry;
};
