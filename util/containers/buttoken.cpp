// buttoken: the tokenizer of zero-terminated text; see buttoken.h.
//
// Every walk is bounded by the text's terminator and moves on by at least
// one byte per step, so no input can make it loop; a character walk takes a
// DBCS pair as one step.
#include "util/containers/buttoken.h"

#include <cstring>

#include "util/charsets/charset.h"
#include "util/memory/ram.h"
#include "util/resource.h"
#include "util/containers/scanner.h"
#include "util/containers/str_functions.h"
#include "util/util_message_ids.h"

namespace {

enum ButState {
  butWord,
  butRun,
  butQuoted,
  butNumber,
  butFraction,
  butBrace,
  butFixed,  // two- and three-character operators, single characters
  butParam,
};

// Where a buttoken goes: the caller's buffer up to kvButtokenMaxBytes, then
// (with kvButAllocLong) a ramAlloc block, or nowhere.
class ButOutput {
 public:
  ButOutput(unsigned char* buffer, unsigned short flags, const unsigned char* tokenStart)
      : buffer_(buffer), flags_(flags), tokenStart_(tokenStart) {}
  ~ButOutput() { ramFree(block_); }

  void put(const unsigned char* bytes, uint32_t n) {
    if (dropping_) return;
    if (!block_ && length_ + n > kvButtokenMaxBytes && !moveToBlock()) {
      dropping_ = 1;
      return;
    }
    std::memcpy((block_ ? block_ : buffer_) + length_, bytes, n);
    length_ += n;
  }
  void put(unsigned char c) { put(&c, 1); }

  uint32_t length() const { return length_; }
  unsigned char* text() { return block_ ? block_ : buffer_; }
  // The token was longer than the buffer and the flags allow no cut.
  int overflowed() const { return dropping_ && !(flags_ & kvButCutLong); }
  int allocFailed() const { return allocFailed_; }

  // Terminates the token and hands the block (if any) over to the caller.
  void finish() {
    text()[length_] = 0;
    if (block_) {
      buffer_[0] = block_[0];
      buffer_[1] = 0;
      std::memcpy(buffer_ + 2, &block_, sizeof(block_));
      block_ = nullptr;
    } else if (length_ < 2) {
      clearBlockSlot();
    }
  }
  // Keeps only what fits the buffer (used on failure).
  void cutToBuffer() {
    if (block_) {
      std::memcpy(buffer_, block_, kvButtokenMaxBytes);
      ramFree(block_);
      block_ = nullptr;
      length_ = kvButtokenMaxBytes;
    }
    buffer_[length_] = 0;
    if (length_ < 2) clearBlockSlot();
  }

 private:
  int moveToBlock() {
    if (!(flags_ & kvButAllocLong)) return 0;
    // Every byte put comes from the source, so the whole rest of the source
    // from the token's start bounds the token.
    const size_t rest = std::strlen(kvC(tokenStart_));
    if (rest > 0xFFFFFFFFu - 100) return 0;
    block_ = static_cast<unsigned char*>(ramAlloc(static_cast<uint32_t>(rest + 100)));
    if (!block_) {
      allocFailed_ = 1;
      return 0;
    }
    std::memcpy(block_, buffer_, length_);
    return 1;
  }

  // The address slot behind a token of fewer than two bytes, so that
  // buttokenBlock reads null there.
  void clearBlockSlot() {
    unsigned char* none = nullptr;
    std::memcpy(buffer_ + 2, &none, sizeof(none));
  }

  unsigned char* buffer_;
  unsigned short flags_;
  const unsigned char* tokenStart_;
  unsigned char* block_ = nullptr;
  uint32_t length_ = 0;
  int dropping_ = 0;
  int allocFailed_ = 0;
};

int butIsPair(const unsigned char* p, unsigned char a, unsigned char b) { return p[0] == a && p[1] == b; }

int butIsTwoCharOperator(const unsigned char* p) {
  static const char pairs[][3] = {"||", "<>", "<=", ">=", "!=", "!<", "!>", "**", "*=", "=*"};
  for (const char* pair : pairs) {
    if (butIsPair(p, static_cast<unsigned char>(pair[0]), static_cast<unsigned char>(pair[1]))) return 1;
  }
  return 0;
}

int butIsDigit(const unsigned char* p) { return !kvIsDbcsLeadByte(*p) && kvCharIsDigit(*p); }

// A letter, or a DBCS pair.
int butIsLetter(const unsigned char* p) { return kvCharBytes(p) == 2 || kvIsAlpha(p); }

// The mode of flags: kvButModeIdentifiers6 reads as kvButModeIdentifiers,
// an unknown mode as kvButModeWords.
KvButMode butMode(unsigned short flags) {
  switch (flags & kvButModeMask) {
    case kvButModeRuns:
      return kvButModeRuns;
    case kvButModeIdentifiers:
    case kvButModeIdentifiers6:
      return kvButModeIdentifiers;
    case kvButModeDottedNames:
      return kvButModeDottedNames;
    case kvButModeColonNames:
      return kvButModeColonNames;
    default:
      return kvButModeWords;
  }
}

// Bytes that a word of the mode takes at p (0 ends the word); *escaped is
// set when the character to store is p[1] rather than p[0].
uint32_t butWordChar(const unsigned char* p, KvButMode mode, int* escaped) {
  *escaped = 0;
  const unsigned char c = *p;
  if (c == 0) return 0;
  if (butIsLetter(p) || butIsDigit(p) || c == '_') return kvCharBytes(p);
  switch (mode) {
    case kvButModeIdentifiers:
      if (c == '#' || c == '$') return 1;
      if (c == '\\' && (p[1] == '-' || p[1] == '+' || p[1] == '*' || p[1] == '/')) {
        *escaped = 1;
        return 2;
      }
      return 0;
    case kvButModeDottedNames:
      // Single dots only: two in a row end the name.
      return (c == '.' && p[1] != '.') ? 1 : 0;
    case kvButModeColonNames:
      return (c == ':' || c == '.') ? 1 : 0;
    default:
      return 0;
  }
}

}  // namespace

KvStatus buttoken(unsigned char* buffer, const unsigned char** source, unsigned short flags) {
  if (!buffer || !source || !*source) {
    addResourceError(kvMsgInvalidParameter);
    return kvFailure;
  }
  const KvButMode mode = butMode(flags);

  const unsigned char* p = *source;
  while (*p != 0 && !kvIsDbcsLeadByte(*p) && kvCharIsSpace(*p)) ++p;
  const unsigned char* const start = p;
  ButOutput out(buffer, flags, start);
  const unsigned char c = *p;
  const unsigned char next = c ? p[1] : 0;

  ButState state = butFixed;
  uint32_t fixedBytes = 0;
  if (c == 0) {
    fixedBytes = 0;
  } else if (mode == kvButModeRuns && !kvIsRunDelimiter(c)) {
    state = butRun;
  } else if (c == '\'' || c == '`' || c == '"') {
    state = butQuoted;
  } else if (butIsDigit(p)) {
    state = butNumber;
  } else if (c == '.' && butIsDigit(p + 1)) {
    state = butFraction;
  } else if (butIsLetter(p) || c == '_' || (c == '#' && mode == kvButModeIdentifiers) ||
             (c == '.' && mode == kvButModeDottedNames) || (c == ':' && mode == kvButModeColonNames)) {
    state = butWord;
  } else if (c == '{') {
    state = butBrace;
  } else if (butIsTwoCharOperator(p)) {
    fixedBytes = 2;
  } else if (c == '(' && next == '+' && p[2] == ')') {
    fixedBytes = 3;
  } else if (c == '?') {
    state = butParam;
  } else {
    fixedBytes = kvCharBytes(p);
  }

  int unclosed = 0;
  unsigned char opener = c;
  switch (state) {
    case butFixed:
      out.put(p, fixedBytes);
      p += fixedBytes;
      break;

    case butWord: {
      // The first character is taken whatever the mode's rule for later ones
      // ("#", "." and ":" start words of their modes).
      uint32_t bytes = kvCharBytes(p);
      out.put(p, bytes);
      p += bytes;
      int escaped = 0;
      while ((bytes = butWordChar(p, mode, &escaped)) != 0) {
        if (escaped) {
          out.put(p[1]);
        } else {
          out.put(p, bytes);
        }
        p += bytes;
      }
      break;
    }

    case butRun: {
      // The first character is always taken: a control character that is
      // not white space starts a run too, and must not leave *source where
      // it was.
      int inBackQuote = 0;
      while (*p != 0) {
        if (*p == '`') {
          inBackQuote = !inBackQuote;
        } else if (!inBackQuote && p != start && (*p <= ' ' || kvIsRunDelimiter(*p))) {
          break;
        }
        const uint32_t bytes = kvCharBytes(p);
        out.put(p, bytes);
        p += bytes;
      }
      if (inBackQuote) {
        unclosed = 1;
        opener = '`';
      }
      break;
    }

    case butQuoted:
      out.put(c);
      ++p;
      unclosed = 1;
      while (*p != 0) {
        if (*p == c) {
          out.put(c);
          if (p[1] == c) {
            p += 2;  // a doubled quote is stored once
            continue;
          }
          ++p;
          unclosed = 0;
          break;
        }
        const uint32_t bytes = kvCharBytes(p);
        out.put(p, bytes);
        p += bytes;
      }
      break;

    case butNumber:
      while (butIsDigit(p)) out.put(*p++);
      if (*p == '.' && !(mode == kvButModeDottedNames && butIsLetter(p + 1))) {
        out.put(*p++);
        while (butIsDigit(p)) out.put(*p++);
      }
      break;

    case butFraction:
      out.put(*p++);
      while (butIsDigit(p)) out.put(*p++);
      break;

    case butBrace:
      unclosed = 1;
      while (*p != 0) {
        const uint32_t bytes = kvCharBytes(p);
        const int isCloser = bytes == 1 && *p == '}';
        out.put(p, bytes);
        p += bytes;
        if (isCloser) {
          unclosed = 0;
          break;
        }
      }
      break;

    case butParam:
      out.put(*p++);
      if (*p != 0 && kvIsAlpha(p) && !kvIsDbcsLeadByte(*p)) {
        out.put(*p++);
        while (*p != 0 && !kvIsDbcsLeadByte(*p) && (kvIsAlpha(p) || kvCharIsDigit(*p) || *p == '_')) {
          out.put(*p++);
        }
      }
      break;
  }
  *source = p;

  if (unclosed || out.overflowed() || out.allocFailed()) {
    out.cutToBuffer();
    if (unclosed) {
      const unsigned char quote[2] = {opener, 0};
      addResourceError(kvMsgUnmatchedQuote) << quote;
    } else if (out.overflowed() && !out.allocFailed()) {
      addResourceError(kvMsgTokenTooBig) << buffer;
    }
    return kvFailure;
  }

  if (!(flags & kvButKeepCase) && (state == butWord || state == butRun)) {
    kvUpperText(out.text(), out.length());
  }
  out.finish();
  return kvSuccess;
}

unsigned char* buttokenBlock(const unsigned char* buffer) {
  if (!buffer || buffer[0] == 0 || buffer[1] != 0) return nullptr;
  unsigned char* block = nullptr;
  std::memcpy(&block, buffer + 2, sizeof(block));
  return block;
}
