// Tokens of statement text for the engine's parsers and its expression
// compiler: one token of the utility library's buttoken at a time, with
// where it began (so that a parser can hand a token back by moving its
// position there) and its text, which a long token keeps in a block of
// its own that the token frees.
#pragma once

#include "flat/flat_types.h"
#include "util/containers/buttoken.h"

// buttoken modes of the engine's readers.
enum : uint16_t {
  // Keywords and operators: plain words, upper-cased; a longer token than
  // the scanner's buffer is cut (it is never a keyword).
  flatScanOperator = kvButModeWords | kvButCutLong,
  // Operands of expressions: dotted names, upper-cased; literals and names
  // of any length.
  flatScanOperand = kvButModeDottedNames | kvButAllocLong,
  // Names of tables and cursors: runs (back-quoted parts keep blanks and
  // delimiters), case kept, any length.
  flatScanName = kvButModeRuns | kvButKeepCase | kvButAllocLong,
  // A word whose case matters (a cursor name after CURRENT OF).
  flatScanKeepCase = kvButModeDottedNames | kvButKeepCase | kvButAllocLong,
};

class KV_FLAT_API FlatToken {
 public:
  FlatToken() = default;
  ~FlatToken();
  FlatToken(const FlatToken&) = delete;
  FlatToken& operator=(const FlatToken&) = delete;

  // Reads the token at *position and moves *position behind it. A token
  // that the scanner refuses (an unclosed quote, a token too long for the
  // mode) fails with the scanner's error under SQLSTATE 37000.
  KvStatus read(const unsigned char** position, uint16_t mode);

  const unsigned char* getText() const { return block_ ? block_ : buffer_; }
  uint32_t getLength() const { return length_; }
  // Where the token began in the text (its leading white space skipped).
  const unsigned char* getStart() const { return start_; }
  bool isEnd() const { return length_ == 0; }
  // Byte equality with a word (the scanner has upper-cased words).
  bool is(const char* word) const;
  unsigned char first() const { return getText()[0]; }
  // A quoted text: '...', "..." or `...` with its quotes.
  bool isQuoted() const;
  // One character that is neither a letter, a digit, "_" nor a quote.
  bool isPunctuation() const;
  // Digits, or "." followed by a digit.
  bool isNumber() const;

 private:
  void release();

  unsigned char buffer_[kvButtokenBufferBytes + sizeof(void*)] = {};
  unsigned char* block_ = nullptr;
  uint32_t length_ = 0;
  const unsigned char* start_ = nullptr;
};

// A table or directory name at *position (moved behind it): the run of
// characters up to white space or one of ",()|;", in which back-quoted parts
// keep blanks and delimiters and "/" belongs to the name (a path). A
// ramAlloc copy, or null with *length 0 when no name stands there.
KV_FLAT_API KvStatus flatReadName(const unsigned char** position, unsigned char** name);
// Skips white space as the scanner does.
KV_FLAT_API const unsigned char* flatSkipWhite(const unsigned char* position);
