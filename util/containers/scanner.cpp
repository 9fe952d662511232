// Scanner and tokens: KvScanner over counted text.
//
// Every walk is bounded by the text's length and moves on by at least one
// byte per step, so no input can make a scan loop; a character walk takes a
// DBCS pair as one step.
#include "util/containers/scanner.h"

#include <cstring>

#include "util/charsets/charset.h"
#include "util/containers/kv_array.h"
#include "util/resource.h"
#include "util/containers/str_functions.h"
#include "util/util_message_ids.h"

namespace {

const unsigned char emptyText[1] = {0};

// The operator table: one-character entries come before their two-character
// extensions. An entry's token type is its first byte, or first * 256 +
// second for two characters. The last entry is the byte 0.
struct KvOperator {
  unsigned char first;
  unsigned char second;  // 0 for a one-character entry
};

const KvOperator operatorTable[] = {
    {'?', 0},   {',', 0},   {'(', 0},   {')', 0},   {'.', 0},   {'=', 0},   {'=', '='}, {'=', '*'},
    {'=', '<'}, {'=', '>'}, {'+', 0},   {'+', '+'}, {'&', 0},   {'&', '&'}, {'|', 0},   {'|', '|'},
    {'-', 0},   {'-', '-'}, {'/', 0},   {'/', '/'}, {'*', 0},   {'*', '*'}, {'*', '='}, {'>', 0},
    {'>', '='}, {'<', 0},   {'<', '='}, {'<', '>'}, {'!', 0},   {'!', '='}, {'!', '<'}, {'!', '>'},
    {';', 0},   {':', 0},   {'{', 0},   {'}', 0},   {'$', 0},   {'#', 0},   {'%', 0},   {'@', 0},
    {'"', 0},   {'\'', 0},  {'`', 0},   {0, 0},
};
static_assert(sizeof(operatorTable) / sizeof(operatorTable[0]) == 44, "44 operator entries");

// Looks c (and the byte after it, when there is one) up in the operator
// table. Returns the number of bytes taken (0 when c is no operator) and the
// type in *type.
uint32_t lookUpOperator(unsigned char c, int haveNext, unsigned char next, uint32_t* type) {
  int foundSingle = 0;
  for (const KvOperator& entry : operatorTable) {
    if (entry.first != c) continue;
    if (entry.second == 0) {
      foundSingle = 1;
    } else if (haveNext && entry.second == next) {
      *type = c * 256u + next;
      return 2;
    }
  }
  if (!foundSingle) return 0;
  *type = c;
  return 1;
}

int inSet(const KvString& set, unsigned char c) {
  return set.getLength() != 0 && std::memchr(set.getText(), c, set.getLength()) != nullptr;
}

}  // namespace

KvToken::~KvToken() = default;

// ---------------------------------------------------------------------------
// KvScanner: construction and settings

KvScanner::KvScanner() : text_(emptyText) {}

KvScanner::KvScanner(const unsigned char* text, uint32_t length) : text_(emptyText) {
  setScanString(text, length);
}

KvScanner::KvScanner(const unsigned char* text) : text_(emptyText) {
  size_t length = text ? std::strlen(kvC(text)) : 0;
  // A text the 32-bit offsets cannot address is scanned as far as they reach.
  setScanString(text, length > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(length));
}

KvScanner::KvScanner(const KvSubString* text) : text_(emptyText) {
  if (text) setScanString(text->getText(), text->getLength());
}

KvScanner::KvScanner(const KvSubString& text) : text_(emptyText) {
  setScanString(text.getText(), text.getLength());
}

KvScanner::KvScanner(KvString* source) : text_(emptyText) { setScanString(source); }

KvScanner::~KvScanner() = default;

void KvScanner::reset() {
  offset_ = 0;
  modeFlags_ = static_cast<uint16_t>((modeFlags_ | modeDecimalPoint) & ~modeAtEnd);
  lastCharBytes_ = 1;
}

void KvScanner::setScanString(const unsigned char* text, uint32_t length) {
  source_ = nullptr;
  text_ = text ? text : emptyText;
  length_ = text ? length : 0;
  reset();
}

void KvScanner::setScanString(KvString* source) {
  source_ = source;
  refreshFromSource();
  reset();
}

void KvScanner::refreshFromSource() {
  text_ = source_ ? source_->getStr() : emptyText;
  length_ = source_ ? source_->getLength() : 0;
}

void KvScanner::setQuoteChars(uint16_t q1, uint16_t q2, uint16_t q3) {
  quotes_[0] = q1;
  quotes_[1] = q2;
  quotes_[2] = q3;
}

void KvScanner::setCustomGroup(uint16_t opener, uint16_t closer) {
  customOpener_ = opener;
  customCloser_ = closer;
}

void KvScanner::setComments(int on) {
  modeFlags_ = static_cast<uint16_t>(on ? (modeFlags_ | modeComments) : (modeFlags_ & ~modeComments));
}

void KvScanner::setDecimalPointMode(int on) {
  modeFlags_ =
      static_cast<uint16_t>(on ? (modeFlags_ | modeDecimalPoint) : (modeFlags_ & ~modeDecimalPoint));
}

KvStatus KvScanner::setSpaceWordChars(const unsigned char* chars) {
  return chars ? spaceWordChars_.initialize(chars) : (spaceWordChars_.unInitialize(), kvSuccess);
}

KvStatus KvScanner::setExtraWordChars(const unsigned char* chars) {
  return chars ? extraWordChars_.initialize(chars) : (extraWordChars_.unInitialize(), kvSuccess);
}

KvStatus KvScanner::setWordDelimiters(const unsigned char* chars) {
  return chars ? wordDelimiters_.initialize(chars) : (wordDelimiters_.unInitialize(), kvSuccess);
}

void KvScanner::setOffset(uint32_t offset) {
  offset_ = offset < length_ ? offset : length_;
  modeFlags_ = static_cast<uint16_t>(modeFlags_ & ~modeAtEnd);
}

// ---------------------------------------------------------------------------
// Character classes at a position (pos < length_)

uint32_t KvScanner::charBytesAt(uint32_t pos) const {
  return kvCharBytes(text_ + pos, text_ + length_);
}

int KvScanner::isWhiteAt(uint32_t pos) const {
  return !kvIsDbcsLeadByte(text_[pos]) && kvCharIsSpace(text_[pos]);
}

// A DBCS pair counts as a letter: words run over double-byte text whole.
int KvScanner::isAlphaAt(uint32_t pos) const {
  return charBytesAt(pos) == 2 || kvIsAlpha(text_ + pos);
}

int KvScanner::isDigitAt(uint32_t pos) const {
  return !kvIsDbcsLeadByte(text_[pos]) && kvCharIsDigit(text_[pos]);
}

int KvScanner::isQuote(unsigned char c) const {
  return c == quotes_[0] || c == quotes_[1] || c == quotes_[2];
}

uint32_t KvScanner::skipWhite(uint32_t pos) const {
  while (pos < length_ && isWhiteAt(pos) && !inSet(spaceWordChars_, text_[pos])) ++pos;
  return pos;
}

uint32_t KvScanner::skipQuoted(uint32_t pos, int* closed) const {
  const unsigned char quote = text_[pos];
  uint32_t p = pos + 1;
  while (p < length_) {
    if (text_[p] == quote) {
      if (p + 1 < length_ && text_[p + 1] == quote) {
        p += 2;  // a doubled quote is part of the text
        continue;
      }
      *closed = 1;
      return p + 1;
    }
    p += charBytesAt(p);
  }
  *closed = 0;
  return length_;
}

int KvScanner::isCommentStart(uint32_t pos) const {
  if (!(modeFlags_ & modeComments) || pos + 1 >= length_) return 0;
  return (text_[pos] == '-' && text_[pos + 1] == '-') || (text_[pos] == '/' && text_[pos + 1] == '*');
}

// Step 10 of getToken: digits, with decimal-point mode one "." and more
// digits. A number that the end of the text ends keeps type 9 when it held
// a point; any other number is type 5.
uint32_t KvScanner::scanNumber(uint32_t pos, uint32_t* type) const {
  const int decimal = (modeFlags_ & modeDecimalPoint) != 0;
  uint32_t p = pos;
  *type = kvTokenNumber;
  if (text_[p] == '.') {
    *type = kvTokenDecimal;
    ++p;
  } else {
    while (p < length_ && isDigitAt(p)) ++p;
    if (decimal && p < length_ && text_[p] == '.') {
      *type = kvTokenDecimal;
      ++p;
    }
  }
  if (*type == kvTokenDecimal) {
    while (p < length_ && isDigitAt(p)) ++p;
  }
  if (p < length_) *type = kvTokenNumber;
  return p;
}

void KvScanner::makeToken(KvToken& token, uint32_t start, uint32_t end, uint32_t type) {
  token.setToken(text_ + start, end - start, type, start);
  offset_ = end;
  if (end > start) {
    uint32_t last = start;
    for (uint32_t p = start; p < end; p += charBytesAt(p)) last = p;
    lastCharBytes_ = static_cast<uint16_t>(end - last);
  }
}

// ---------------------------------------------------------------------------
// Reading tokens

void KvScanner::getToken(KvToken& token, int searchType) {
  const uint32_t start = skipWhite(offset_ < length_ ? offset_ : length_);
  if (start >= length_) {
    makeToken(token, length_, length_, kvTokenEnd);
    modeFlags_ |= modeAtEnd;
    return;
  }
  const unsigned char c = text_[start];
  const int haveNext = start + 1 < length_;
  const unsigned char next = haveNext ? text_[start + 1] : 0;
  uint32_t p = start;

  if (isQuote(c)) {
    int closed = 0;
    p = skipQuoted(start, &closed);
    makeToken(token, start, p, closed ? kvTokenQuoted : kvTokenUnclosed);
    return;
  }

  uint16_t closer = 0;
  if (c == '(' && (groupFlags_ & groupParentheses)) {
    closer = ')';
  } else if (c == '{' && (groupFlags_ & groupBraces)) {
    closer = '}';
  } else if (customOpener_ != noCustomOpener && c == customOpener_) {
    closer = customCloser_;
  }
  if (closer != 0) {
    // The closer is tested first, so an opener that is its own closer ends
    // the group at its next occurrence instead of nesting forever.
    uint32_t depth = 1;
    p = start + 1;
    while (p < length_) {
      const unsigned char ch = text_[p];
      if (ch == closer) {
        ++p;
        if (--depth == 0) break;
      } else if (ch == c) {
        ++depth;
        ++p;
      } else if (isQuote(ch)) {
        int closed = 0;
        p = skipQuoted(p, &closed);
      } else {
        p += charBytesAt(p);
      }
    }
    makeToken(token, start, p, depth == 0 ? kvTokenQuoted : kvTokenUnclosed);
    return;
  }

  if (isCommentStart(start)) {
    if (c == '-') {
      p = start + 2;
      while (p < length_ && text_[p] != '\n') p += charBytesAt(p);
    } else {
      p = start + 2;
      while (p < length_ && !(text_[p] == '*' && p + 1 < length_ && text_[p + 1] == '/')) {
        p += charBytesAt(p);
      }
      p = p < length_ ? p + 2 : length_;
    }
    makeToken(token, start, p, kvTokenComment);
    return;
  }

  if (searchType == kvSearchRuns && !kvIsRunDelimiter(c)) {
    p = start + charBytesAt(start);
    while (p < length_ && text_[p] > ' ' && !kvIsRunDelimiter(text_[p])) p += charBytesAt(p);
    makeToken(token, start, p, kvTokenRun);
    return;
  }

  if (searchType == kvSearchIdentifiers && (isAlphaAt(start) || c == '_' || c == '#')) {
    p = start;
    while (p < length_ && (isAlphaAt(p) || isDigitAt(p) || text_[p] == '_' || text_[p] == '#' ||
                           text_[p] == '$')) {
      p += charBytesAt(p);
    }
    makeToken(token, start, p, kvTokenIdentifier);
    return;
  }

  if (wordDelimiters_.getLength() != 0 && !inSet(wordDelimiters_, c)) {
    p = start;
    while (p < length_ && (charBytesAt(p) == 2 || !inSet(wordDelimiters_, text_[p]))) p += charBytesAt(p);
    makeToken(token, start, p, kvTokenWord);
    return;
  }

  if (isAlphaAt(start) || c == '_' || inSet(spaceWordChars_, c)) {
    p = start + charBytesAt(start);
    while (p < length_ && (isAlphaAt(p) || isDigitAt(p) || text_[p] == '_' ||
                           inSet(extraWordChars_, text_[p]))) {
      p += charBytesAt(p);
    }
    makeToken(token, start, p, kvTokenWord);
    return;
  }

  if (isDigitAt(start) ||
      (c == '.' && (modeFlags_ & modeDecimalPoint) && haveNext && isDigitAt(start + 1))) {
    uint32_t type = kvTokenNumber;
    p = scanNumber(start, &type);
    makeToken(token, start, p, type);
    return;
  }

  if (c == '(' && next == '+' && start + 2 < length_ && text_[start + 2] == ')') {
    makeToken(token, start, start + 3, kvTokenOuterJoin);
    return;
  }

  uint32_t type = kvTokenOther;
  uint32_t taken = lookUpOperator(c, haveNext, next, &type);
  if (taken == 0) {
    type = kvTokenOther;
    taken = charBytesAt(start);
  }
  makeToken(token, start, start + taken, type);
}

void KvScanner::getToken(KvToken& token, uint32_t offset, uint32_t length) {
  const uint32_t start = offset < length_ ? offset : length_;
  const uint32_t end = length < length_ - start ? start + length : length_;
  token.setToken(text_ + start, end - start, kvTokenEmpty, start);
}

void KvScanner::getDelimitedToken(KvToken& token, char delimiter) {
  const unsigned char delim = static_cast<unsigned char>(delimiter);
  const uint32_t start = skipWhite(offset_ < length_ ? offset_ : length_);
  if (start >= length_) {
    makeToken(token, length_, length_, kvTokenEnd);
    modeFlags_ |= modeAtEnd;
    return;
  }
  if (text_[start] == delim) {
    token.setToken(text_ + start, 0, kvTokenEmpty, start);
    offset_ = start;
    return;
  }
  // Walk forward to the delimiter, remembering where the last character
  // that is not white space ends; trimming backwards could cut a trail byte.
  uint32_t p = start;
  uint32_t contentEnd = start;
  int unclosed = 0;
  while (p < length_ && text_[p] != delim) {
    if (isQuote(text_[p])) {
      int closed = 0;
      p = skipQuoted(p, &closed);
      unclosed = !closed;
      contentEnd = p;
    } else {
      const uint32_t bytes = charBytesAt(p);
      if (!isWhiteAt(p)) contentEnd = p + bytes;
      p += bytes;
    }
  }
  token.setToken(text_ + start, contentEnd - start, unclosed ? kvTokenUnclosed : kvTokenDelimited, start);
  offset_ = p;
}

KvStatus KvScanner::parseListInto(KvArray* out, char delimiter, int copy) {
  out->deleteContents();
  KvToken token;
  for (;;) {
    getDelimitedToken(token, delimiter);
    if (token.getType() == kvTokenEnd) return kvSuccess;
    KvSubString* item = nullptr;
    if (copy) {
      KvString* text = new KvString;
      if (!text) return kvFailure;
      if (text->initialize(token.getText(), token.getLength()) != kvSuccess) {
        delete text;
        return kvFailure;
      }
      item = text;
    } else {
      item = new KvSubString(token.getText(), token.getLength());
      if (!item) return kvFailure;
    }
    if (out->add(item) != kvSuccess) {
      delete item;
      return kvFailure;
    }
    getToken(token, kvSearchNormal);  // the delimiter
    if (token.getType() == kvTokenEnd) return kvSuccess;
  }
}

KvStatus KvScanner::parseList(KvArray* out, char delimiter) { return parseListInto(out, delimiter, 0); }

KvStatus KvScanner::parseListQeString(KvArray* out, char delimiter) {
  return parseListInto(out, delimiter, 1);
}

void KvScanner::unGetToken(const KvToken& token) {
  offset_ = token.getOffset() < length_ ? token.getOffset() : length_;
  modeFlags_ = static_cast<uint16_t>(modeFlags_ & ~modeAtEnd);
}

// ---------------------------------------------------------------------------
// Editing the source

KvStatus KvScanner::changeToken(const KvToken* token, const KvSubString& text) {
  if (!source_ || !token || token->getOffset() > length_ ||
      token->getLength() > length_ - token->getOffset()) {
    addResourceError(kvMsgInvalidParameter);
    return kvFailure;
  }
  const uint32_t start = token->getOffset();
  const uint32_t oldLength = token->getLength();
  const uint32_t newLength = text.getLength();
  // The replacement may be a view into the source itself, which the change
  // can move: copy it first then.
  KvString copy;
  const unsigned char* bytes = text.getText();
  if (newLength != 0 && bytes >= text_ && bytes < text_ + length_ + 1) {
    if (copy.initialize(bytes, newLength) != kvSuccess) return kvFailure;
    bytes = copy.getText();
  }
  // changeBytes reads a zero newLength with a text as "zero-terminated";
  // an empty replacement is a deletion.
  if (source_->changeBytes(start, oldLength, newLength ? bytes : nullptr, newLength) != kvSuccess) {
    return kvFailure;
  }
  refreshFromSource();
  if (offset_ >= start + oldLength) {
    offset_ = offset_ - oldLength + newLength;
  } else if (offset_ > start) {
    offset_ = start + newLength;
  }
  if (offset_ > length_) offset_ = length_;
  return kvSuccess;
}

KvStatus KvScanner::insertToken(KvToken* token, const KvSubString& text) {
  if (!source_ || !token || token->getOffset() > length_) {
    addResourceError(kvMsgInvalidParameter);
    return kvFailure;
  }
  const uint32_t start = token->getOffset();
  const uint32_t insertLength = text.getLength();
  if (insertLength != 0) {
    KvString copy;
    const unsigned char* bytes = text.getText();
    if (bytes >= text_ && bytes < text_ + length_ + 1) {
      if (copy.initialize(bytes, insertLength) != kvSuccess) return kvFailure;
      bytes = copy.getText();
    }
    if (source_->changeBytes(start, 0, bytes, insertLength) != kvSuccess) return kvFailure;
    refreshFromSource();
    if (offset_ >= start) offset_ += insertLength;
  }
  token->setOffset(start + insertLength);
  const uint32_t tokenLength =
      token->getLength() <= length_ - token->getOffset() ? token->getLength() : length_ - token->getOffset();
  token->set(text_ + token->getOffset(), tokenLength);
  return kvSuccess;
}

// ---------------------------------------------------------------------------
// Comparing tokens

int KvScanner::matchWords(KvToken& token, const unsigned char* words, int ignoreCase) {
  if (!words) return 0;
  const uint32_t savedOffset = offset_;
  const uint16_t savedFlags = modeFlags_;
  const unsigned char* p = words;
  KvToken next;
  const KvToken* current = &token;
  uint32_t end = token.getOffset() + token.getLength();
  int first = 1;
  for (;;) {
    while (*p == ' ') ++p;
    if (*p == 0) break;
    const unsigned char* word = p;
    while (*p != 0 && *p != ' ') ++p;
    const uint32_t wordLength = static_cast<uint32_t>(p - word);
    if (!first) {
      getToken(next, kvSearchNormal);
      current = &next;
    }
    const int equal =
        ignoreCase ? strEqualCi(current->getText(), current->getLength(), word, wordLength)
                   : strCompare(current->getText(), current->getLength(), word, wordLength) == 0;
    if (!equal) {
      offset_ = savedOffset;
      modeFlags_ = savedFlags;
      return 0;
    }
    end = current->getOffset() + current->getLength();
    first = 0;
  }
  if (first) return 0;  // no words at all
  token.setLength(end - token.getOffset());
  return 1;
}

int KvScanner::isEqual(KvToken& token, const unsigned char* words) { return matchWords(token, words, 0); }

int KvScanner::isEqualCi(KvToken& token, const unsigned char* words) {
  return matchWords(token, words, 1);
}

int KvScanner::isInSet(KvToken& token, const unsigned char* list) {
  int number = 1;
  for (const unsigned char* p = list; p && *p; p += std::strlen(kvC(p)) + 1, ++number) {
    if (matchWords(token, p, 0)) return number;
  }
  return 0;
}

int KvScanner::isInSetCi(KvToken& token, const unsigned char* list) {
  int number = 1;
  for (const unsigned char* p = list; p && *p; p += std::strlen(kvC(p)) + 1, ++number) {
    if (matchWords(token, p, 1)) return number;
  }
  return 0;
}

int KvScanner::tokenWithin(const unsigned char* words, int ignoreCase) {
  KvToken token;
  for (;;) {
    getToken(token, kvSearchNormal);
    if (token.getType() == kvTokenEnd) return 0;
    if (matchWords(token, words, ignoreCase)) return 1;
  }
}

int KvScanner::isTokenWithin(const unsigned char* words) { return tokenWithin(words, 0); }

int KvScanner::isTokenWithinCi(const unsigned char* words) { return tokenWithin(words, 1); }
