// Scanner and tokens.
//
// KvScanner splits a counted text (SQL statements, attribute lists,
// configuration lines) into KvTokens: views into the text with a type and an
// offset. Reading never copies the text and never fails: a quoted text or
// group that the text ends before closing comes back as a type-4 token, so
// callers decide how to report it. Given a KvString, the scanner can also
// edit the text it scans (changeToken, insertToken).
//
// buttoken (buttoken.h) is a separate tokenizer of zero-terminated text.
//
// Character classes (white space, letters, digits, upper case) come from the
// library's fixed Windows-1252 tables, never the process locale. With
// double-byte handling on, a lead byte and its trail byte are always taken
// together, and a lead byte at the very end of the text stands alone.
#pragma once

#include "util/containers/kv_string.h"

class KvArray;

// Token types. Operators are typed by their code: one character gives its
// byte value, two characters first * 256 + second ("<=" is 0x3C3D). The
// operator made of the byte 0 has type 0 like the empty token; it is told
// apart by its length of 1.
enum KvTokenType : uint32_t {
  kvTokenEmpty = 0,        // a delimited read that found the delimiter at once
  kvTokenEnd = 1,          // end of text: empty, at the end offset
  kvTokenWord = 2,
  kvTokenQuoted = 3,       // quoted text, or a bracketed group with its brackets
  kvTokenUnclosed = 4,     // quoted text or group that the text ends before closing
  kvTokenNumber = 5,       // digits (and a decimal point that a non-digit ends)
  kvTokenRun = 6,          // search type 1: up to white space or one of ",/()|"
  kvTokenIdentifier = 7,   // search type 2: may hold "#" and "$"
  kvTokenDelimited = 8,    // getDelimitedToken
  kvTokenDecimal = 9,      // number with a decimal point that the end of the text ends
  kvTokenOther = 10,       // a single character outside the operator table
  kvTokenComment = 11,
  kvTokenOuterJoin = 12,   // "(+)"
};

// Search types of getToken.
enum KvSearchType : int {
  kvSearchNormal = 0,
  kvSearchRuns = 1,         // type-6 runs
  kvSearchIdentifiers = 2,  // type-7 identifiers with "#" and "$"
};

// Characters that end a run, besides those at or below the blank: the
// scanner's kvSearchRuns and buttoken's kvButModeRuns.
inline int kvIsRunDelimiter(unsigned char c) { return c == ',' || c == '/' || c == '(' || c == ')' || c == '|'; }

class KV_UTIL_API KvToken : public KvSubString {
 public:
  KvToken() = default;
  ~KvToken() override;

  uint32_t getType() const { return type_; }
  void setType(uint32_t type) { type_ = type; }
  // Bytes from the start of the scanned text to the token.
  uint32_t getOffset() const { return offset_; }
  void setOffset(uint32_t offset) { offset_ = offset; }
  void setToken(const unsigned char* text, uint32_t length, uint32_t type, uint32_t offset) {
    set(text, length);
    type_ = type;
    offset_ = offset;
  }

 private:
  uint32_t type_ = kvTokenEnd;
  uint32_t offset_ = 0;
};

class KV_UTIL_API KvScanner : public KvObject {
 public:
  enum : uint16_t {
    groupBraces = 0x1,       // "{" opens a group closed by "}"
    groupParentheses = 0x2,  // "(" opens a group closed by ")"
    noCustomOpener = 0xFFFF,
  };
  enum : uint16_t {
    modeComments = 0x1,      // "--" and "/*" comments are tokens of type 11
    modeDecimalPoint = 0x2,  // numbers may hold a decimal point
    modeAtEnd = 0x4,         // the end has been read
  };

  KvScanner();
  KvScanner(const unsigned char* text, uint32_t length);
  explicit KvScanner(const unsigned char* text);
  explicit KvScanner(const KvSubString* text);
  explicit KvScanner(const KvSubString& text);
  // The scanner may edit this string (changeToken, insertToken); it must
  // outlive the scanner or the next setScanString.
  explicit KvScanner(KvString* source);
  ~KvScanner() override;

  // New text, offset 0, decimal-point mode on, end flag off.
  void setScanString(const unsigned char* text, uint32_t length);
  void setScanString(KvString* source);

  // The next token; search type as KvSearchType.
  void getToken(KvToken& token, int searchType = kvSearchNormal);
  // A type-0 token of a part of the text (cut to the text).
  void getToken(KvToken& token, uint32_t offset, uint32_t length);
  // Skips white space, then: at the end a type-1 token; at the delimiter an
  // empty type-0 token; otherwise a type-8 token of everything up to the
  // delimiter outside quotes, trailing white space cut off. The delimiter is
  // left unread. When the text ends inside a quoted part the token runs to
  // the end and has type 4.
  void getDelimitedToken(KvToken& token, char delimiter);
  // Empties out, then appends a new KvSubString view (parseList) or KvString
  // copy (parseListQeString) of each delimited item.
  KvStatus parseList(KvArray* out, char delimiter);
  KvStatus parseListQeString(KvArray* out, char delimiter);
  void unGetToken(const KvToken& token);

  // Edit the scanned KvString: replace the token's bytes by text, or insert
  // text in front of the token (the token and the offset move behind it).
  // Both fail with 1517 when the scanner has no editable source or the
  // token does not lie within the text.
  KvStatus changeToken(const KvToken* token, const KvSubString& text);
  KvStatus insertToken(KvToken* token, const KvSubString& text);

  // words is blank-separated: the token must equal the first word, each
  // further word the next token read. On a match the token is widened over
  // the tokens read and nonzero is returned; otherwise the position is
  // restored and 0 returned. The Ci forms ignore case.
  int isEqual(KvToken& token, const unsigned char* words);
  int isEqualCi(KvToken& token, const unsigned char* words);
  // list: zero-terminated alternatives ended by an empty one. Returns the
  // 1-based number of the first alternative that matches, or 0.
  int isInSet(KvToken& token, const unsigned char* list);
  int isInSetCi(KvToken& token, const unsigned char* list);
  // Reads tokens until one matches words (nonzero) or the end (0).
  int isTokenWithin(const unsigned char* words);
  int isTokenWithinCi(const unsigned char* words);

  // Settings, each a plain field write (the sets are copied).
  void setQuoteChars(uint16_t q1, uint16_t q2, uint16_t q3);
  void setGroupFlags(uint16_t flags) { groupFlags_ = flags; }
  uint16_t getGroupFlags() const { return groupFlags_; }
  void setCustomGroup(uint16_t opener, uint16_t closer);
  void setComments(int on);
  void setDecimalPointMode(int on);
  // Space characters that are not skipped but start words.
  KvStatus setSpaceWordChars(const unsigned char* chars);
  // Further characters that continue a word.
  KvStatus setExtraWordChars(const unsigned char* chars);
  // When not empty, a word runs from any character outside this set up to
  // the next character inside it.
  KvStatus setWordDelimiters(const unsigned char* chars);

  uint32_t getOffset() const { return offset_; }
  void setOffset(uint32_t offset);
  int isAtEnd() const { return (modeFlags_ & modeAtEnd) != 0; }
  const unsigned char* getText() const { return text_; }
  uint32_t getLength() const { return length_; }
  // Byte length (1 or 2) of the character read last.
  uint16_t getLastCharBytes() const { return lastCharBytes_; }

 private:
  KV_LOCAL void reset();
  KV_LOCAL uint32_t charBytesAt(uint32_t pos) const;
  KV_LOCAL int isWhiteAt(uint32_t pos) const;
  KV_LOCAL int isAlphaAt(uint32_t pos) const;
  KV_LOCAL int isDigitAt(uint32_t pos) const;
  KV_LOCAL uint32_t skipWhite(uint32_t pos) const;
  // End of a quoted part that starts with the quote at pos; *closed tells
  // whether the closing quote was found (else the end of the text).
  KV_LOCAL uint32_t skipQuoted(uint32_t pos, int* closed) const;
  KV_LOCAL int isQuote(unsigned char c) const;
  KV_LOCAL int isCommentStart(uint32_t pos) const;
  KV_LOCAL uint32_t scanNumber(uint32_t pos, uint32_t* type) const;
  KV_LOCAL void makeToken(KvToken& token, uint32_t start, uint32_t end, uint32_t type);
  KV_LOCAL int matchWords(KvToken& token, const unsigned char* words, int ignoreCase);
  KV_LOCAL int tokenWithin(const unsigned char* words, int ignoreCase);
  KV_LOCAL KvStatus parseListInto(KvArray* out, char delimiter, int copy);
  KV_LOCAL void refreshFromSource();

  const unsigned char* text_;
  uint32_t length_ = 0;
  uint16_t quotes_[3] = {39, 34, 96};
  uint32_t offset_ = 0;
  uint16_t groupFlags_ = 0;
  KvString* source_ = nullptr;
  KvString spaceWordChars_;
  KvString extraWordChars_;
  KvString wordDelimiters_;
  uint16_t customOpener_ = noCustomOpener;
  uint16_t customCloser_ = 0;
  uint16_t modeFlags_ = modeDecimalPoint;
  uint16_t lastCharBytes_ = 1;
};
