// Connection-string parser: key=value lists into an ordered, case-blind
// dictionary, and back.
#include "util/containers/value_parser.h"

#include <cstring>

#include "util/charsets/charset.h"
#include "util/resource.h"
#include "util/containers/str_functions.h"
#include "util/util_message_ids.h"

namespace {

const unsigned char* const driverKey = kvU("Driver");

int isQuoteChar(unsigned char c) { return c == '\'' || c == '"' || c == '`'; }

// Offset in a value of the quote that the value never closes (the value is
// known to end inside a quoted part); the quoting rules are the scanner's.
uint32_t findUnclosedQuote(const unsigned char* text, uint32_t length) {
  const unsigned char* const end = text + length;
  uint32_t p = 0;
  while (p < length) {
    if (!isQuoteChar(text[p])) {
      p += kvCharBytes(text + p, end);
      continue;
    }
    const unsigned char quote = text[p];
    uint32_t q = p + 1;
    while (q < length) {
      if (text[q] == quote) {
        if (q + 1 < length && text[q + 1] == quote) {
          q += 2;
          continue;
        }
        break;
      }
      q += kvCharBytes(text + q, end);
    }
    if (q >= length) return p;
    p = q + 1;
  }
  return 0;
}

uint32_t cutLength(size_t length) { return length > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(length); }

}  // namespace

// Index of the keys read so far, for finding a repeated key while parsing:
// chains of attribute indexes by a hash of the whole upper-cased key, so
// that a list of thousands of attributes parses in linear time. Keys equal
// without regard to case (strEqualCi) hash alike.
class KvValueParser::KeyIndex {
 public:
  enum : uint16_t { bucketCount = 1024, none = 0xFFFF };

  KeyIndex() {
    for (uint16_t& head : heads_) head = none;
  }

  static uint32_t hash(const KvSubString& key) {
    uint32_t h = 2166136261u;
    for (uint32_t i = 0; i < key.getLength(); ++i) h = (h ^ kvToUpper(key.getText()[i])) * 16777619u;
    return h % bucketCount;
  }
  // The index of an attribute whose key equals key, or none.
  uint16_t find(const KvSeqDictionary& attributes, const KvSubString& key) const {
    for (uint16_t i = heads_[hash(key)]; i != none; i = next_[i]) {
      const KvSubString* known = attributes.getSubKeyAtIndex(i);
      if (strEqualCi(known->getText(), known->getLength(), key.getText(), key.getLength())) return i;
    }
    return none;
  }
  // Records attribute index (below kvArrayMaxEntries) under key.
  void add(uint16_t index, const KvSubString& key) {
    const uint32_t bucket = hash(key);
    next_[index] = heads_[bucket];
    heads_[bucket] = index;
  }

  KV_RAM_OPERATORS

 private:
  uint16_t heads_[bucketCount];
  uint16_t next_[kvArrayMaxEntries];
};

KvValueParser::KvValueParser(const KvSubString* text, char separator, const unsigned char* name)
    : separator_(separator), scanner_(text) {
  if (name) name_ = ramAllocStr(name);
  attributes_.setIgnoreCase(1);
}

KvValueParser::~KvValueParser() {
  attributes_.deleteKeyAndData();
  ramFree(useFlags_);
  ramFree(name_);
}

// ---------------------------------------------------------------------------
// Errors

// 2704 (or 2705 with the name) at the current token's offset.
KvStatus KvValueParser::parseError() { return parseErrorWith(0, nullptr, nullptr); }

// The parse error, with text textId (when not 0) appended and filled with
// the parameters. The text goes onto the parse error itself: when the list
// refused that error, nothing is appended to someone else's.
KvStatus KvValueParser::parseErrorWith(uint16_t textId, const unsigned char* param1,
                                       const unsigned char* param2) {
  const uint32_t offset = token_.getOffset();
  KvError& error = addResourceError(name_ ? kvMsgNamedParse : kvMsgConnectStringParse);
  if (error.isSink()) return kvFailure;
  error << offset;
  if (name_) error << name_;
  if (textId != 0) {
    unsigned char text[256];
    loadResourceString(text, textId, sizeof(text));
    // 2704 ends in a blank and 2706/2707 begin with one; 2705 and 2703 do
    // not, and need one between them.
    const KvParamString& sofar = error.getParamText();
    if (text[0] != ' ' && sofar.getLength() != 0 && sofar.getText()[sofar.getLength() - 1] != ' ') {
      error.appendText(kvU(" "));
    }
    error.appendText(text);
    error.restartParams();
    if (param1) error << param1;
    if (param2) error << param2;
  }
  return kvFailure;
}

KvStatus KvValueParser::parseErrorWith(uint16_t textId, const KvSubString& param1) {
  KvString copy;
  if (copy.initialize(param1.getText(), param1.getLength()) != kvSuccess) return kvFailure;
  return parseErrorWith(textId, copy.getStr(), nullptr);
}

// ---------------------------------------------------------------------------
// Parsing

KvStatus KvValueParser::initialize() {
  attributes_.deleteKeyAndData();
  ramFree(useFlags_);
  useFlags_ = nullptr;
  flagCount_ = 0;
  unreadCursor_ = 0;
  scanner_.setOffset(0);

  const unsigned char* const text = scanner_.getText();
  const uint32_t textLength = scanner_.getLength();
  KeyIndex* keys = new KeyIndex;
  if (!keys) return kvFailure;
  const KvStatus status = parse(keys, text, textLength);
  delete keys;
  if (status != kvSuccess) return kvFailure;

  flagCount_ = attributes_.getCount();
  useFlags_ = static_cast<unsigned char*>(ramAllocZ(flagCount_ / 8u + 1u));
  if (!useFlags_) {
    flagCount_ = 0;
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus KvValueParser::parse(KeyIndex* keys, const unsigned char* text, uint32_t textLength) {
  // Every round consumes at least a key, so the loop ends with the text.
  for (;;) {
    scanner_.getToken(token_);
    if (token_.getType() == kvTokenEnd) break;
    if (token_.getType() != kvTokenWord) return parseError();

    KvString* key = new KvString;
    if (!key) return kvFailure;
    if (key->initialize(token_.getText(), token_.getLength()) != kvSuccess) {
      delete key;
      return kvFailure;
    }
    const int known = keys->find(attributes_, *key) != KeyIndex::none;
    if (known && !strEqualCi(key->getStr(), driverKey)) {
      KvStatus status = parseErrorWith(kvMsgAttributeRepeated, *key);
      delete key;
      return status;
    }

    // Only the "=" itself belongs to the syntax: in "PWD==x" or "PWD=*x"
    // the scanner reads the operators "==" and "=*", whose second character
    // begins the value.
    scanner_.getToken(token_);
    if (token_.getType() == kvTokenEnd || token_.getText()[0] != '=') {
      delete key;
      return parseError();
    }
    scanner_.setOffset(token_.getOffset() + 1);

    scanner_.getDelimitedToken(token_, separator_);
    if (token_.getType() == kvTokenUnclosed) {
      const uint32_t quoteAt = findUnclosedQuote(token_.getText(), token_.getLength());
      const unsigned char quote[2] = {token_.getText()[quoteAt], 0};
      token_.setOffset(token_.getOffset() + quoteAt);
      delete key;
      return parseErrorWith(kvMsgUnmatchedQuote, quote, nullptr);
    }
    // Values reach callers as C strings; an embedded NUL would cut them
    // short without a word.
    const void* nul = token_.getLength() ? std::memchr(token_.getText(), 0, token_.getLength()) : nullptr;
    if (nul) {
      token_.setOffset(token_.getOffset() +
                       static_cast<uint32_t>(static_cast<const unsigned char*>(nul) - token_.getText()));
      delete key;
      return parseError();
    }

    if (known) {
      delete key;  // a repeated Driver: the first value stays
    } else {
      // At the end of the text the value is empty.
      const uint32_t valueLength = token_.getType() == kvTokenEnd ? 0 : token_.getLength();
      KvSubString* value = new KvSubString(token_.getText(), valueLength);
      if (!value) {
        delete key;
        return kvFailure;
      }
      if (attributes_.addAssoc(key, value) != kvSuccess) {
        delete key;
        delete value;
        return kvFailure;
      }
      keys->add(static_cast<uint16_t>(attributes_.getCount() - 1), *key);
    }

    // The delimited read stopped at the separator or at the end.
    const uint32_t at = scanner_.getOffset();
    if (at < textLength && text[at] == static_cast<unsigned char>(separator_)) {
      scanner_.setOffset(at + 1);
      continue;
    }
    scanner_.getToken(token_);
    if (token_.getType() != kvTokenEnd) return parseError();
    return kvSuccess;
  }
  return kvSuccess;
}

// ---------------------------------------------------------------------------
// Reading attributes

uint16_t KvValueParser::indexOf(const unsigned char* key) const {
  if (!key) return attributes_.getCount();
  KvSubString probe(key, cutLength(std::strlen(kvC(key))));
  return attributes_.getIndexForKey(&probe);
}

const KvSubString* KvValueParser::useValueAt(uint16_t index) {
  if (index >= attributes_.getCount()) return nullptr;
  // Attributes added after parsing have no flag.
  if (index < flagCount_ && useFlags_) useFlags_[index / 8] |= static_cast<unsigned char>(1u << (index % 8));
  return static_cast<const KvSubString*>(attributes_.getPtrDataAtIndex(index));
}

const KvSubString* KvValueParser::getAttributeValue(const KvSubString* key) {
  return key ? useValueAt(attributes_.getIndexForKey(key)) : nullptr;
}

const KvSubString* KvValueParser::getAttributeValue(const unsigned char* key) {
  return useValueAt(indexOf(key));
}

KvStatus KvValueParser::getAttributeValue(const unsigned char* key1, const unsigned char* key2,
                                          const KvSubString*& value) {
  const uint16_t index1 = indexOf(key1);
  const uint16_t index2 = indexOf(key2);
  const KvSubString* value1 = useValueAt(index1);
  const KvSubString* value2 = index2 != index1 ? useValueAt(index2) : nullptr;
  if (value1 && value2) {
    value = nullptr;
    return parseErrorWith(kvMsgAttributeTwice, key1, key2);
  }
  value = value1 ? value1 : value2;
  return kvSuccess;
}

int KvValueParser::isAttributeValue(const unsigned char* key) const {
  return indexOf(key) < attributes_.getCount();
}

const KvSubString* KvValueParser::getAttributeKey(uint16_t index) const {
  return index < attributes_.getCount() ? attributes_.getSubKeyAtIndex(index) : nullptr;
}

uint16_t KvValueParser::getUnusedCount() const {
  uint16_t unused = 0;
  for (uint16_t i = 0; i < flagCount_; ++i) {
    if (!(useFlags_[i / 8] & (1u << (i % 8)))) ++unused;
  }
  return unused;
}

const KvSubString* KvValueParser::getUnusedAttribute() {
  while (unreadCursor_ < flagCount_) {
    const uint16_t i = unreadCursor_++;
    if (!(useFlags_[i / 8] & (1u << (i % 8)))) return attributes_.getSubKeyAtIndex(i);
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// Changing and rebuilding

KvStatus KvValueParser::addAttribute(const unsigned char* key, const unsigned char* value,
                                     const unsigned char* synonym) {
  if (!key) {
    addResourceError(kvMsgInvalidParameter);
    return kvFailure;
  }
  uint16_t index = indexOf(key);
  if (index >= attributes_.getCount() && synonym) index = indexOf(synonym);

  KvString* stored = new KvString;
  if (!stored) return kvFailure;
  const unsigned char* const text = value ? value : kvU("");
  if (stored->initialize(text) != kvSuccess) {
    delete stored;
    return kvFailure;
  }
  // A value that the parser would read as (part of) a quoted text, cut at
  // the separator, or trim, is stored quoted so that the built string reads
  // back the same. The back quote is one of the parser's quotes too.
  const unsigned char* p = stored->getStr();
  const uint32_t length = stored->getLength();
  int needsQuotes = length != 0 && (kvCharIsSpace(p[0]) || kvCharIsSpace(p[length - 1]));
  for (uint32_t i = 0; i < length && !needsQuotes; ++i) {
    if (isQuoteChar(p[i]) || p[i] == static_cast<unsigned char>(separator_)) {
      needsQuotes = 1;
      break;
    }
  }
  if (needsQuotes && stored->addQuotes('\'') != kvSuccess) {
    delete stored;
    return kvFailure;
  }

  if (index < attributes_.getCount()) {
    KvAssociation* association = attributes_.getAssocAtIndex(index);
    KvObject* old = association->getPtrData();
    association->setPtrData(stored);
    delete old;
    return kvSuccess;
  }
  KvString* newKey = new KvString;
  if (!newKey) {
    delete stored;
    return kvFailure;
  }
  if (newKey->initialize(key) != kvSuccess || attributes_.addAssoc(newKey, stored) != kvSuccess) {
    delete newKey;
    delete stored;
    return kvFailure;
  }
  return kvSuccess;
}

void KvValueParser::removeAttribute(const unsigned char* key) {
  const uint16_t index = indexOf(key);
  if (index >= attributes_.getCount()) return;
  attributes_.deleteKeyAndDataAtIndex(index);
  // Later attributes move down one place; so do their use flags.
  if (index < flagCount_) {
    for (uint16_t i = index; i + 1 < flagCount_; ++i) {
      const uint16_t from = static_cast<uint16_t>(i + 1);
      const int set = (useFlags_[from / 8] >> (from % 8)) & 1;
      if (set) {
        useFlags_[i / 8] |= static_cast<unsigned char>(1u << (i % 8));
      } else {
        useFlags_[i / 8] &= static_cast<unsigned char>(~(1u << (i % 8)));
      }
    }
    --flagCount_;
    useFlags_[flagCount_ / 8] &= static_cast<unsigned char>(~(1u << (flagCount_ % 8)));
  }
  if (unreadCursor_ > index) --unreadCursor_;
}

KvStatus KvValueParser::buildString(KvString& out) const {
  out.setLength(0);
  if (out.getBuffer()) out.getBuffer()[0] = 0;
  for (uint16_t i = 0; i < attributes_.getCount(); ++i) {
    const KvSubString* key = attributes_.getSubKeyAtIndex(i);
    const KvSubString* value = static_cast<const KvSubString*>(attributes_.getPtrDataAtIndex(i));
    const uint64_t room = uint64_t{key->getLength()} + value->getLength() + 2;
    if (out.makeRoom(room > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(room)) != kvSuccess) {
      return kvFailure;
    }
    if (i > 0 && out.concat(separator_) != kvSuccess) return kvFailure;
    if (key->getLength() && out.concat(key->getText(), key->getLength()) != kvSuccess) return kvFailure;
    if (out.concat('=') != kvSuccess) return kvFailure;
    if (value->getLength() && out.concat(value->getText(), value->getLength()) != kvSuccess) {
      return kvFailure;
    }
  }
  return kvSuccess;
}
