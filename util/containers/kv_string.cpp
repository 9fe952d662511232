// Text types: views, growable strings, in-place rewriting, message texts
// with numbered markers; see kv_string.h.
//
// A KvString's buffer is a block of the sub-allocator of exactly capacity
// bytes (it grows exactly as far as asked, never by doubling), or a caller's
// buffer that it borrows and never grows. Every write goes through makeRoom,
// so a borrowed buffer is never overrun and an owned one never passes
// kvStringMaxBytes. A failed operation leaves the text as it was.
//
// Texts handed to a growing operation may point into the string's own
// buffer; they are followed to the buffer's new place or copied aside first.
#include "util/containers/kv_string.h"

#include <cstring>

#include "util/charsets/charset.h"
#include "util/containers/kv_array.h"
#include "util/resource.h"
#include "util/containers/str_functions.h"
#include "util/containers/text_convert.h"
#include "util/util_message_ids.h"

namespace {

// Decimal text of a 32-bit number (text_convert.h's convert): room for its
// digits, its sign and a terminator, and for a marker such as "%nx12".
enum : uint32_t { kvNumberTextBytes = 24 };

// Whether p points into the block [base, base + size).
inline bool isInside(const void* p, const unsigned char* base, uint32_t size) {
  auto at = reinterpret_cast<uintptr_t>(p);
  auto from = reinterpret_cast<uintptr_t>(base);
  return base && at >= from && at < from + size;
}

// Offset of the first occurrence of pattern at or after from, stepping by
// characters; length when absent.
uint32_t findCounted(const unsigned char* text, uint32_t length, uint32_t from, const unsigned char* pattern,
                     uint32_t patternLength) {
  if (from > length) return length;
  if (patternLength == 0) return from;
  const unsigned char* end = text + length;
  for (uint32_t i = from; patternLength <= length - i; i += kvCharBytes(text + i, end)) {
    if (text[i] == pattern[0] && std::memcmp(text + i, pattern, patternLength) == 0) return i;
  }
  return length;
}

inline bool isQuoteOf(unsigned char c, char q1, char q2, char q3) {
  return c != 0 && (c == static_cast<unsigned char>(q1) || c == static_cast<unsigned char>(q2) ||
                    c == static_cast<unsigned char>(q3));
}

// The blanks of a text that insertLineBreaks turns into line breaks, in
// increasing order, given to breakAt. A line is longer than width once a
// character stands at column width (0-based); it is then broken at its last
// blank outside quotes, or at the character itself when that is such a
// blank. Breaking keeps every line's content, so the columns seen here are
// those of the result.
template <class BreakAt>
uint32_t findLineBreaks(const unsigned char* text, uint32_t length, uint32_t width, char q1, char q2,
                        char q3, BreakAt breakAt) {
  const unsigned char* end = text + length;
  uint32_t breaks = 0;
  uint32_t lineStart = 0;
  uint32_t lastBlank = 0;
  bool haveBlank = false;
  unsigned char openQuote = 0;
  for (uint32_t i = 0; i < length;) {
    const unsigned char c = text[i];
    const uint32_t n = kvCharBytes(text + i, end);
    if (c == '\n') {
      lineStart = i + 1;
      haveBlank = false;
      ++i;
      continue;
    }
    bool blankOutside = false;
    if (n == 1) {
      if (openQuote) {
        if (c == openQuote) openQuote = 0;
      } else if (q1 && isQuoteOf(c, q1, q2, q3)) {
        openQuote = c;
      } else {
        blankOutside = c == ' ';
      }
    }
    if (c != '\r' && i - lineStart >= width) {
      if (blankOutside) {
        breakAt(i);
        ++breaks;
        lineStart = i + 1;
        haveBlank = false;
        i += n;
        continue;
      }
      if (haveBlank) {
        breakAt(lastBlank);
        ++breaks;
        lineStart = lastBlank + 1;
        haveBlank = false;
      }
    }
    if (blankOutside) {
      lastBlank = i;
      haveBlank = true;
    }
    i += n;
  }
  return breaks;
}

}  // namespace

// ---------------------------------------------------------------------------
// KvSubString

KvSubString::~KvSubString() = default;

int16_t KvSubString::compare(const KvObject* other) const {
  const KvSubString* that = static_cast<const KvSubString*>(other);
  if (!that) return length_ ? 1 : 0;
  return static_cast<int16_t>(strCompareCi(text_, length_, that->text_, that->length_));
}

uint32_t KvSubString::findChar(char c, uint32_t from) const {
  const unsigned char wanted = static_cast<unsigned char>(c);
  const unsigned char* end = text_ + length_;
  for (uint32_t i = from; i < length_; i += kvCharBytes(text_ + i, end)) {
    if (text_[i] == wanted) return i;
  }
  return length_;
}

uint32_t KvSubString::findSubString(const unsigned char* text, uint32_t from) const {
  if (!text) return length_;
  return findCounted(text_, length_, from, text, kvTextLength(text));
}

uint32_t KvSubString::hash() const {
  uint32_t sum = 0;
  const uint32_t n = length_ < 5 ? length_ : 5;
  for (uint32_t i = 0; i < n; ++i) sum += kvUpperTable[text_[i]];
  return sum;
}

uint32_t KvSubString::countChar(char c) const {
  const unsigned char wanted = static_cast<unsigned char>(c);
  const unsigned char* end = text_ + length_;
  uint32_t count = 0;
  for (const unsigned char* p = text_; p < end && *p;) {
    uint32_t n = kvCharBytes(p, end);
    if (n == 1 && *p == wanted) ++count;
    p += n;
  }
  return count;
}

uint16_t KvSubString::indexInSet(const unsigned char** words, uint16_t n) const {
  for (uint16_t i = 0; i < n; ++i) {
    const unsigned char* word = words[i];
    if (word && kvTextLength(word) == length_ && (length_ == 0 || std::memcmp(word, text_, length_) == 0)) return i;
  }
  return n;
}

uint16_t KvSubString::indexInSetCi(const unsigned char** words, uint16_t n) const {
  for (uint16_t i = 0; i < n; ++i) {
    const unsigned char* word = words[i];
    if (word && strEqualCi(word, kvTextLength(word), text_, length_)) return i;
  }
  return n;
}

void KvSubString::rightBlankTrim() { length_ = strRightTrim(text_, length_); }

KvStatus KvSubString::copyQuotedStr(KvString* out) const {
  if (!out) {
    addResourceError(kvMsgInvalidParameter);
    return kvFailure;
  }
  // The text up to its closing quote (or its end), a doubled quote counting once.
  const unsigned char* end = text_ + length_;
  const unsigned char quote = length_ ? text_[0] : 0;
  uint32_t unquoted = 0;
  const unsigned char* stop = end;
  const uint32_t skip = length_ ? 1 : 0;  // the opening quote
  for (const unsigned char* p = text_ + skip; p < end;) {
    uint32_t n = kvCharBytes(p, end);
    if (n == 1 && *p == quote) {
      if (p + 1 < end && p[1] == quote) {
        ++unquoted;
        p += 2;
        continue;
      }
      stop = p;
      break;
    }
    unquoted += n;
    p += n;
  }
  // The source may be out's own text: it lies at or behind where the copy
  // is written, and no growth happens because the copy is shorter.
  const unsigned char* base = out->getBuffer();
  const bool inside = isInside(text_, base, out->getCapacity());
  const uint32_t offset = inside ? static_cast<uint32_t>(text_ - base) : 0;
  const uint32_t oldLength = out->getLength();
  out->setLength(0);
  if (out->makeRoom(unquoted) != kvSuccess) {
    out->setLength(oldLength);
    return kvFailure;
  }
  unsigned char* dest = out->getBuffer();
  const unsigned char* p = inside ? dest + offset + skip : text_ + skip;
  if (inside) stop = dest + offset + (stop - text_);
  uint32_t written = 0;
  while (p < stop) {
    uint32_t n = kvCharBytes(p, stop);
    if (n == 1 && *p == quote) ++p;  // the first of a doubled quote
    for (uint32_t i = 0; i < n; ++i) dest[written++] = *p++;
  }
  out->setLength(written);
  dest[written] = 0;
  return kvSuccess;
}

unsigned char* KvSubString::getCopyUnquoted(unsigned char* buffer) const {
  return strCopyUnquoted(buffer, text_, length_);
}

unsigned char* KvSubString::getCopyQuoted(unsigned char* buffer, uint32_t size) const {
  const uint32_t needed = strQuotedLength(text_, length_, '\'') + 1;
  if (!buffer || size < needed) {
    if (buffer && size) buffer[0] = 0;
    return nullptr;
  }
  return strCopyQuoted(buffer, text_, length_, '\'');
}

KvStatus KvSubString::getLines(KvArray* lines) {
  if (!lines) {
    addResourceError(kvMsgInvalidParameter);
    return kvFailure;
  }
  // Carriage return and line feed are below 0x40, so never a DBCS trail byte.
  const unsigned char* end = text_ + length_;
  for (const unsigned char* p = text_; p < end;) {
    const unsigned char* lineEnd = p;
    while (lineEnd < end && !(lineEnd[0] == '\r' && lineEnd + 1 < end && lineEnd[1] == '\n')) ++lineEnd;
    if (lineEnd > p) {
      KvString* line = new KvString;
      if (!line) return kvFailure;
      if (line->initialize(p, static_cast<uint32_t>(lineEnd - p)) != kvSuccess || lines->add(line) != kvSuccess) {
        delete line;
        return kvFailure;
      }
    }
    p = lineEnd < end ? lineEnd + 2 : end;
  }
  return kvSuccess;
}

// ---------------------------------------------------------------------------
// KvString

KvString::~KvString() {
  if (owned_) ramFree(text_);
}

KvStatus KvString::initialize(const unsigned char* text) { return initialize(text, kvTextLength(text)); }

KvStatus KvString::initialize(const unsigned char* text, uint32_t length) {
  if (!text) length = 0;
  if (length == 0xFFFFFFFFu) {
    addResourceError(kvMsgStringTooLarge);
    return kvFailure;
  }
  // The new buffer is filled before the old one goes: text may lie in it.
  unsigned char* fresh = static_cast<unsigned char*>(ramAlloc(length + 1));
  if (!fresh) return kvFailure;
  if (length) std::memcpy(fresh, text, length);
  fresh[length] = 0;
  if (owned_) ramFree(text_);
  text_ = fresh;
  length_ = length;
  capacity_ = length + 1;
  owned_ = 1;
  return kvSuccess;
}

KvStatus KvString::initialize(uint32_t n) {
  if (n == 0xFFFFFFFFu) {
    addResourceError(kvMsgStringTooLarge);
    return kvFailure;
  }
  unsigned char* fresh = static_cast<unsigned char*>(ramAlloc(n + 1));
  if (!fresh) return kvFailure;
  fresh[0] = 0;
  if (owned_) ramFree(text_);
  text_ = fresh;
  length_ = 0;
  capacity_ = n + 1;
  owned_ = 1;
  return kvSuccess;
}

void KvString::initializeWithBuffer(unsigned char* buffer, uint32_t capacity, uint32_t length) {
  if (owned_) ramFree(text_);
  // The terminator must fit: a length that leaves no room for it is cut.
  if (!buffer || capacity == 0) {
    length = 0;
  } else if (length >= capacity) {
    length = capacity - 1;
  }
  text_ = buffer;
  capacity_ = buffer ? capacity : 0;
  length_ = length;
  owned_ = 0;
}

void KvString::unInitialize() {
  if (owned_) ramFree(text_);
  text_ = nullptr;
  length_ = 0;
  capacity_ = 0;
  owned_ = 1;
}

KvStatus KvString::resize(uint32_t bytes) {
  if (!owned_ || bytes > kvStringMaxBytes) {
    addResourceError(kvMsgStringTooLarge);
    return kvFailure;
  }
  if (bytes == 0) {
    unInitialize();
    return kvSuccess;
  }
  unsigned char* buffer = getBuffer();
  if (!buffer) {
    buffer = static_cast<unsigned char*>(ramAlloc(bytes));
    if (!buffer) return kvFailure;
    length_ = 0;
    buffer[0] = 0;
  } else if (ramResize(&buffer, bytes) != kvSuccess) {
    return kvFailure;
  }
  text_ = buffer;
  capacity_ = bytes;
  if (length_ >= bytes) {
    length_ = bytes - 1;
    buffer[length_] = 0;
  }
  return kvSuccess;
}

KvStatus KvString::makeRoom(uint32_t n) {
  const uint64_t needed = uint64_t(length_) + n + 1;
  if (text_ && needed <= capacity_) return kvSuccess;
  return resize(needed > kvStringMaxBytes ? kvStringMaxBytes + 1 : static_cast<uint32_t>(needed));
}

KvStatus KvString::concat(char c) {
  if (makeRoom(1) != kvSuccess) return kvFailure;
  unsigned char* buffer = getBuffer();
  buffer[length_++] = static_cast<unsigned char>(c);
  buffer[length_] = 0;
  return kvSuccess;
}

KvStatus KvString::concat(const unsigned char* text) { return text ? concat(text, kvTextLength(text)) : kvSuccess; }

KvStatus KvString::concat(const unsigned char* text, uint32_t length) {
  if (!text || length == 0) return kvSuccess;
  const bool inside = isInside(text, text_, capacity_);
  const uint32_t offset = inside ? static_cast<uint32_t>(text - text_) : 0;
  if (makeRoom(length) != kvSuccess) return kvFailure;
  unsigned char* buffer = getBuffer();
  if (inside) text = buffer + offset;
  std::memmove(buffer + length_, text, length);
  length_ += length;
  buffer[length_] = 0;
  return kvSuccess;
}

KvStatus KvString::concat(uint32_t number) {
  unsigned char digits[kvNumberTextBytes];
  return concat(digits, convert(digits, number));
}

KvStatus KvString::concat(int32_t number) {
  unsigned char digits[kvNumberTextBytes];
  return concat(digits, convert(digits, number));
}

KvStatus KvString::changeBytes(uint32_t pos, uint32_t oldLength, const unsigned char* text,
                               uint32_t newLength) {
  if (!text) {
    newLength = 0;
  } else if (newLength == 0) {
    newLength = kvTextLength(text);
  }
  if (pos > length_ || oldLength > length_ - pos) {
    addResourceError(kvMsgInvalidParameter);
    return kvFailure;
  }
  // A replacement taken from this very buffer would move or be overwritten.
  unsigned char* aside = nullptr;
  if (newLength && isInside(text, text_, capacity_)) {
    aside = ramAllocStr(text, newLength);
    if (!aside) return kvFailure;
    text = aside;
  }
  if (newLength > oldLength && makeRoom(newLength - oldLength) != kvSuccess) {
    ramFree(aside);
    return kvFailure;
  }
  unsigned char* buffer = getBuffer();
  if (buffer) {
    const uint32_t tail = length_ - pos - oldLength;
    std::memmove(buffer + pos + newLength, buffer + pos + oldLength, tail);
    if (newLength) std::memcpy(buffer + pos, text, newLength);
    length_ = length_ - oldLength + newLength;
    buffer[length_] = 0;
  }
  ramFree(aside);
  return kvSuccess;
}

KvStatus KvString::replaceSubString(const unsigned char* oldText, uint32_t oldLength,
                                    const unsigned char* newText, uint32_t newLength) {
  if (!oldText || oldLength == 0 || !text_) return kvSuccess;
  if (!newText) newLength = 0;
  // The occurrences are those of one left-to-right scan of the text as it
  // is, because the scan goes on behind each inserted text. Counting them
  // first lets all the room be made at once, so the replacement either
  // happens everywhere or not at all.
  uint32_t count = 0;
  for (uint32_t pos = findCounted(text_, length_, 0, oldText, oldLength); pos < length_;
       pos = findCounted(text_, length_, pos + oldLength, oldText, oldLength)) {
    ++count;
  }
  if (count == 0) return kvSuccess;
  if (newLength > oldLength) {
    const uint64_t growth = uint64_t(count) * (newLength - oldLength);
    if (growth > kvStringMaxBytes) {
      addResourceError(kvMsgStringTooLarge);
      return kvFailure;
    }
    if (makeRoom(static_cast<uint32_t>(growth)) != kvSuccess) return kvFailure;
  }
  // Texts taken from this buffer would change under the replacements.
  unsigned char* oldAside = nullptr;
  unsigned char* newAside = nullptr;
  if (isInside(oldText, text_, capacity_)) {
    oldAside = ramAllocStr(oldText, oldLength);
    if (!oldAside) return kvFailure;
    oldText = oldAside;
  }
  if (newLength && isInside(newText, text_, capacity_)) {
    newAside = ramAllocStr(newText, newLength);
    if (!newAside) {
      ramFree(oldAside);
      return kvFailure;
    }
    newText = newAside;
  }
  KvStatus status = kvSuccess;
  for (uint32_t pos = findCounted(text_, length_, 0, oldText, oldLength); pos < length_;
       pos = findCounted(text_, length_, pos, oldText, oldLength)) {
    // Neither grows nor allocates now, so it cannot fail.
    status = changeBytes(pos, oldLength, newLength ? newText : nullptr, newLength);
    if (status != kvSuccess) break;
    pos += newLength;
  }
  ramFree(oldAside);
  ramFree(newAside);
  return status;
}

KvStatus KvString::replaceSubString(const unsigned char* oldText, const unsigned char* newText) {
  return replaceSubString(oldText, kvTextLength(oldText), newText, kvTextLength(newText));
}

KvStatus KvString::replaceSubString(const KvSubString* part, const unsigned char* text, uint16_t length) {
  if (!part || !text_ || part->getText() < text_ ||
      part->getText() + part->getLength() > text_ + length_) {
    addResourceError(kvMsgInvalidParameter);
    return kvFailure;
  }
  return changeBytes(static_cast<uint32_t>(part->getText() - text_), part->getLength(), text, length);
}

KvStatus KvString::addQuotes(char quote) {
  const uint32_t quoted = strQuotedLength(text_, length_, quote);
  const uint32_t extra = quoted - length_;
  if (makeRoom(extra) != kvSuccess) return kvFailure;
  unsigned char* buffer = getBuffer();
  // Move the text to the back of the new extent and write the quoted form
  // from the front: the writer stays behind the reader all the way.
  std::memmove(buffer + extra, buffer, length_);
  strCopyQuoted(buffer, buffer + extra, length_, quote);
  length_ = quoted;
  return kvSuccess;
}

KvStatus KvString::removeQuotes() {
  if (length_ >= 2) length_ = strRemoveQuotes(getBuffer(), length_, static_cast<char>(text_[0]));
  return kvSuccess;
}

KvStatus KvString::addQuotedBytes(const KvSubString* text, char quote) {
  if (!text) {
    addResourceError(kvMsgInvalidParameter);
    return kvFailure;
  }
  const unsigned char* source = text->getText();
  const uint32_t length = text->getLength();
  const bool inside = isInside(source, text_, capacity_);
  const uint32_t offset = inside ? static_cast<uint32_t>(source - text_) : 0;
  const uint32_t quoted = strQuotedLength(source, length, quote);
  if (makeRoom(quoted) != kvSuccess) return kvFailure;
  unsigned char* buffer = getBuffer();
  if (inside) source = buffer + offset;
  length_ = static_cast<uint32_t>(strCopyQuoted(buffer + length_, source, length, quote) - buffer);
  return kvSuccess;
}

KvStatus KvString::forceEol(int n) {
  int pairs = 0;
  for (uint32_t end = length_; end >= 2 && text_[end - 2] == '\r' && text_[end - 1] == '\n'; end -= 2) {
    if (++pairs >= n) return kvSuccess;
  }
  if (pairs >= n) return kvSuccess;
  const uint32_t missing = static_cast<uint32_t>(n - pairs);
  if (missing > kvStringMaxBytes || makeRoom(2 * missing) != kvSuccess) {
    if (missing > kvStringMaxBytes) addResourceError(kvMsgStringTooLarge);
    return kvFailure;
  }
  unsigned char* buffer = getBuffer();
  for (uint32_t i = 0; i < missing; ++i) {
    buffer[length_++] = '\r';
    buffer[length_++] = '\n';
  }
  buffer[length_] = 0;
  return kvSuccess;
}

KvStatus KvString::insertLineBreaks(uint32_t width, char q1, char q2, char q3) {
  if (width == 0 || length_ == 0) return kvSuccess;
  const uint32_t breaks = findLineBreaks(text_, length_, width, q1, q2, q3, [](uint32_t) {});
  if (breaks == 0) return kvSuccess;
  if (makeRoom(breaks) != kvSuccess) return kvFailure;
  unsigned char* buffer = getBuffer();
  // Each break turns one blank into two bytes. Move the text up by the
  // number of breaks and copy it down piece by piece; the copy never
  // overtakes the reading of the moved text.
  const unsigned char* source = buffer + breaks;
  std::memmove(buffer + breaks, buffer, length_);
  uint32_t copied = 0;
  uint32_t written = 0;
  findLineBreaks(source, length_, width, q1, q2, q3, [&](uint32_t blank) {
    std::memmove(buffer + written, source + copied, blank - copied);
    written += blank - copied;
    buffer[written++] = '\r';
    buffer[written++] = '\n';
    copied = blank + 1;
  });
  std::memmove(buffer + written, source + copied, length_ - copied);
  length_ += breaks;
  buffer[length_] = 0;
  return kvSuccess;
}

KvStatus KvString::removeLineBreaks(char q1, char q2, char q3) {
  unsigned char* buffer = getBuffer();
  if (!buffer) return kvSuccess;
  const unsigned char* end = buffer + length_;
  unsigned char openQuote = 0;
  uint32_t written = 0;
  for (uint32_t i = 0; i < length_;) {
    const unsigned char c = buffer[i];
    if (!openQuote && c == '\r' && i + 1 < length_ && buffer[i + 1] == '\n') {
      i += 2;
      const bool anotherBreak = i + 1 < length_ && buffer[i] == '\r' && buffer[i + 1] == '\n';
      if (!anotherBreak) buffer[written++] = ' ';
      continue;
    }
    const uint32_t n = kvCharBytes(buffer + i, end);
    if (n == 1) {
      if (openQuote) {
        if (c == openQuote) openQuote = 0;
      } else if (q1 && isQuoteOf(c, q1, q2, q3)) {
        openQuote = c;
      }
    }
    for (uint32_t k = 0; k < n; ++k) buffer[written++] = buffer[i++];
  }
  length_ = written;
  buffer[length_] = 0;
  return kvSuccess;
}

// ---------------------------------------------------------------------------
// KvReplaceString
//
// Target buffer while a KvReplaceString works on it:
//   [0, writeOffset)              text produced so far
//   [writeOffset, readOffset)     the gap
//   [readOffset, readOffset + n)  the unread rest (this substring)
// The target's length covers all three, so that its makeRoom keeps them.
// Users read by skip() or by moving the substring; the read offset is taken
// from the substring each time.

KvReplaceString::KvReplaceString(KvString* target) : target_(target) {
  if (target_) set(target_->getBuffer(), target_->getLength());
}

KvReplaceString::~KvReplaceString() {
  if (!target_) return;
  unsigned char* buffer = target_->getBuffer();
  if (!buffer) return;
  if (isInside(text_, buffer, target_->getCapacity())) readOffset_ = static_cast<uint32_t>(text_ - buffer);
  if (readOffset_ < writeOffset_) return;  // the view was moved backwards: leave the target alone
  const bool gap = readOffset_ > writeOffset_;
  if (gap) std::memmove(buffer + writeOffset_, buffer + readOffset_, length_);
  const uint32_t length = writeOffset_ + length_;
  target_->setLength(length);
  buffer[length] = 0;
  // Giving back the room the text no longer needs; the text is whole either way.
  if (gap && target_->isOwned() && length + 1 <= kvStringMaxBytes) kvIgnoreStatus(target_->resize(length + 1));
}

void KvReplaceString::skip(uint32_t n) {
  if (n > length_) n = length_;
  text_ += n;
  length_ -= n;
  readOffset_ += n;
}

void KvReplaceString::keep(uint32_t n) {
  if (!target_ || n == 0) return;
  if (n > length_) n = length_;
  unsigned char* buffer = target_->getBuffer();
  if (!buffer) return;
  if (isInside(text_, buffer, target_->getCapacity())) readOffset_ = static_cast<uint32_t>(text_ - buffer);
  if (readOffset_ < writeOffset_) return;  // the view was moved backwards: nothing can be kept
  if (readOffset_ > writeOffset_) std::memmove(buffer + writeOffset_, text_, n);
  writeOffset_ += n;
  skip(n);
}

namespace {

// Makes the gap at least need bytes long; source, when it lies in the
// produced text or the unread rest, is followed to its new place.
KvStatus widenGap(KvString* target, uint32_t writeOffset, uint32_t* readOffset, KvSubString* rest,
                   uint32_t need, const unsigned char** source) {
  unsigned char* buffer = target->getBuffer();
  if (buffer && isInside(rest->getText(), buffer, target->getCapacity()))
    *readOffset = static_cast<uint32_t>(rest->getText() - buffer);
  const uint32_t unread = rest->getLength();
  const int64_t gap = int64_t(*readOffset) - int64_t(writeOffset);
  if (gap >= int64_t(need)) return kvSuccess;
  const uint64_t wide = uint64_t(need) + 512 + uint64_t(gap < 0 ? -gap : 0);
  if (wide > kvStringMaxBytes) {
    addResourceError(kvMsgStringTooLarge);
    return kvFailure;
  }
  const uint32_t grow = static_cast<uint32_t>(wide);
  int where = 0;  // 1: in the produced text, 2: in the unread rest
  uint32_t offset = 0;
  if (buffer && isInside(*source, buffer, writeOffset)) {
    where = 1;
    offset = static_cast<uint32_t>(*source - buffer);
  } else if (buffer && unread && isInside(*source, buffer + *readOffset, unread)) {
    where = 2;
    offset = static_cast<uint32_t>(*source - buffer);
  }
  const uint32_t end = *readOffset + unread;
  target->setLength(end);
  if (target->makeRoom(grow) != kvSuccess) return kvFailure;
  buffer = target->getBuffer();
  std::memmove(buffer + *readOffset + grow, buffer + *readOffset, unread);
  *readOffset += grow;
  target->setLength(end + grow);
  buffer[end + grow] = 0;
  rest->set(buffer + *readOffset, unread);
  if (where == 1) *source = buffer + offset;
  if (where == 2) *source = buffer + offset + grow;
  return kvSuccess;
}

}  // namespace

KvStatus KvReplaceString::addBytes(const unsigned char* bytes, uint32_t n) {
  if (!target_ || !bytes || n == 0) return kvSuccess;
  if (widenGap(target_, writeOffset_, &readOffset_, this, n, &bytes) != kvSuccess) return kvFailure;
  std::memmove(target_->getBuffer() + writeOffset_, bytes, n);
  writeOffset_ += n;
  return kvSuccess;
}

KvStatus KvReplaceString::addQuotedBytes(const unsigned char* bytes, uint32_t n, char quote) {
  if (!target_) return kvSuccess;
  if (!bytes) n = 0;
  const uint32_t quoted = strQuotedLength(bytes, n, quote);
  if (widenGap(target_, writeOffset_, &readOffset_, this, quoted, &bytes) != kvSuccess) return kvFailure;
  unsigned char* buffer = target_->getBuffer();
  writeOffset_ = static_cast<uint32_t>(strPutQuoted(buffer + writeOffset_, bytes, n, quote) - buffer);
  return kvSuccess;
}

// ---------------------------------------------------------------------------
// KvParamString

namespace {

// "%" type, then "x" from the tenth parameter on, then the number.
uint32_t makeMarker(unsigned char* out, char type, uint16_t k) {
  uint32_t length = 0;
  out[length++] = '%';
  out[length++] = static_cast<unsigned char>(type);
  if (k >= 10) out[length++] = 'x';
  return length + convert(out + length, uint32_t(k));
}

}  // namespace

KvParamString::~KvParamString() = default;

KvStatus KvParamString::initialize(const unsigned char* text) { return initialize(text, kvTextLength(text)); }

KvStatus KvParamString::initialize(const unsigned char* text, uint32_t length) {
  paramCount_ = 0;
  KvStatus status = KvString::initialize(text, length);
  flags_ = static_cast<uint16_t>(status == kvSuccess ? flags_ & ~1u : flags_ | 1u);
  return status;
}

KvStatus KvParamString::initialize(uint32_t capacity) {
  paramCount_ = 0;
  KvStatus status = KvString::initialize(capacity);
  flags_ = static_cast<uint16_t>(status == kvSuccess ? flags_ & ~1u : flags_ | 1u);
  return status;
}

KvStatus KvParamString::setParam(const KvSubString& text) {
  unsigned char marker[kvNumberTextBytes];
  const uint32_t markerLength = makeMarker(marker, 's', ++paramCount_);
  const unsigned char* value = text.getText() ? text.getText() : kvU("");
  if (replaceSubString(marker, markerLength, value, text.getText() ? text.getLength() : 0) != kvSuccess) {
    flags_ |= 1u;
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus KvParamString::setParam(const unsigned char* text) {
  return setParam(KvSubString(text ? text : kvU(""), kvTextLength(text)));
}

KvStatus KvParamString::setQuotedParam(const unsigned char* text, char quote) {
  const uint32_t length = kvTextLength(text);
  KvString quoted;
  if (quoted.initialize(strQuotedLength(text ? text : kvU(""), length, quote)) != kvSuccess) {
    ++paramCount_;
    flags_ |= 1u;
    return kvFailure;
  }
  strCopyQuoted(quoted.getBuffer(), text ? text : kvU(""), length, quote);
  quoted.setLength(quoted.getCapacity() - 1);
  return setParam(static_cast<const KvSubString&>(quoted));
}

KvStatus KvParamString::setParam(uint32_t number) {
  unsigned char marker[kvNumberTextBytes];
  unsigned char digits[kvNumberTextBytes];
  const uint32_t markerLength = makeMarker(marker, 'n', ++paramCount_);
  if (replaceSubString(marker, markerLength, digits, convert(digits, number)) != kvSuccess) {
    flags_ |= 1u;
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus KvParamString::setParam(int32_t number) {
  unsigned char marker[kvNumberTextBytes];
  unsigned char digits[kvNumberTextBytes];
  const uint32_t markerLength = makeMarker(marker, 'n', ++paramCount_);
  if (replaceSubString(marker, markerLength, digits, convert(digits, number)) != kvSuccess) {
    flags_ |= 1u;
    return kvFailure;
  }
  return kvSuccess;
}

KvParamString& KvParamString::operator<<(const unsigned char* text) {
  if (!hasFailed()) kvIgnoreStatus(setParam(text));  // a failure sticks in hasFailed
  return *this;
}

KvParamString& KvParamString::operator<<(uint32_t number) {
  if (!hasFailed()) kvIgnoreStatus(setParam(number));  // a failure sticks in hasFailed
  return *this;
}

KvParamString& KvParamString::operator<<(int32_t number) {
  if (!hasFailed()) kvIgnoreStatus(setParam(number));  // a failure sticks in hasFailed
  return *this;
}

KvParamString& KvParamString::operator<<(const KvSubString& text) {
  if (!hasFailed()) kvIgnoreStatus(setParam(text));  // a failure sticks in hasFailed
  return *this;
}
