// The SQL text of a statement: verb, markers and clauses; see
// base_sql_string.h.
#include "base/statement/base_sql_string.h"

#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "util/containers/scanner.h"
#include "util/containers/str_functions.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {

struct VerbWord {
  const char* word;
  KvSqlVerb verb;
};

const VerbWord verbWords[] = {
    {"SELECT", sqlVerbSelect}, {"INSERT", sqlVerbInsert}, {"UPDATE", sqlVerbUpdate},
    {"DELETE", sqlVerbDelete}, {"CREATE", sqlVerbCreate}, {"ALTER", sqlVerbAlter},
    {"DROP", sqlVerbDrop},     {"GRANT", sqlVerbGrant},   {"REVOKE", sqlVerbRevoke},
};

struct ObjectWord {
  const char* word;
  BaseSqlObjectKind kind;
};

const ObjectWord objectWords[] = {
    {"TABLE", sqlObjectTable},
    {"INDEX", sqlObjectIndex},
    {"VIEW", sqlObjectView},
    {"SYNONYM", sqlObjectSynonym},
};

// The words at which stripParams stops.
const char* const clauseWords[] = {"WHERE", "ORDER", "GROUP", "HAVING", "FOR", "UNION"};

bool isWord(const KvToken& token) { return token.getType() == kvTokenWord || token.getType() == kvTokenIdentifier; }

bool tokenIs(const KvToken& token, const char* word) {
  return isWord(token) && strEqualCi(token.getText(), token.getLength(), kvU(word), uint32_t(std::strlen(word)));
}

bool isMarker(const KvToken& token) { return token.getType() == '?'; }

}  // namespace

BaseSqlString::BaseSqlString() = default;

BaseSqlString::BaseSqlString(const unsigned char* text, int32_t length) : BaseInString(text, length) {}

BaseSqlString::~BaseSqlString() = default;

KvStatus BaseSqlString::copyFrom(const BaseSqlString& other) {
  if (initialize(other.getStr(), other.getLength()) != kvSuccess) return kvFailure;
  callerText_ = nullptr;
  verb_ = other.verb_;
  objectKind_ = other.objectKind_;
  verbPlace_ = other.verbPlace_;
  object_ = other.object_;
  cursorName_ = other.cursorName_;
  markers_.setCount(0);
  for (uint16_t i = 0; i < other.markers_.getCount(); ++i)
    if (markers_.add(other.markers_.getAt(i)) != kvSuccess) return kvFailure;
  std::memcpy(quotes_, other.quotes_, sizeof(quotes_));
  forUpdatePos_ = other.forUpdatePos_;
  currentOfPos_ = other.currentOfPos_;
  currentOfLength_ = other.currentOfLength_;
  return kvSuccess;
}

void BaseSqlString::setQuoteChars(uint16_t q1, uint16_t q2, uint16_t q3) {
  quotes_[0] = q1;
  quotes_[1] = q2;
  quotes_[2] = q3;
}

void BaseSqlString::setUpScanner(KvScanner* scanner) const {
  scanner->setScanString(getText(), getLength());
  scanner->setQuoteChars(quotes_[0], quotes_[1], quotes_[2]);
}

KvSubString BaseSqlString::part(const Place& place) const {
  if (!place.set || !getText()) return KvSubString(getText(), 0);
  return KvSubString(getText() + place.offset, place.length);
}

// ---------------------------------------------------------------- verb

KvSqlVerb BaseSqlString::getVerb() {
  if (verb_ != sqlVerbUnknown) return verb_;
  KvScanner scanner;
  setUpScanner(&scanner);
  KvToken token;
  scanner.getToken(token);
  if (!isWord(token)) {
    verb_ = sqlVerbNoWord;
    return verb_;
  }
  verbPlace_ = {token.getOffset(), token.getLength(), true};
  verb_ = sqlVerbOther;
  for (const VerbWord& entry : verbWords) {
    if (tokenIs(token, entry.word)) {
      verb_ = entry.verb;
      break;
    }
  }
  if (verb_ == sqlVerbCreate || verb_ == sqlVerbDrop || verb_ == sqlVerbAlter) {
    scanner.getToken(token);
    if (!isWord(token)) {
      objectKind_ = sqlObjectNoWord;
    } else {
      object_ = {token.getOffset(), token.getLength(), true};
      objectKind_ = sqlObjectOther;
      for (const ObjectWord& entry : objectWords) {
        if (tokenIs(token, entry.word)) {
          objectKind_ = entry.kind;
          break;
        }
      }
    }
  }
  return verb_;
}

// ---------------------------------------------------------------- scan

KvStatus BaseSqlString::scanSql(uint32_t what) {
  const bool markers = (what & sqlScanMarkers) != 0;
  const KvSqlVerb verb = (what & sqlScanClauses) ? getVerb() : sqlVerbUnknown;
  const bool forUpdate = verb == sqlVerbSelect;
  const bool currentOf = verb == sqlVerbUpdate || verb == sqlVerbDelete;
  if (markers) markers_.setCount(0);
  if (!markers && !forUpdate && !currentOf) return kvSuccess;

  KvScanner scanner;
  setUpScanner(&scanner);
  KvToken token;
  // Every token moves the scanner on by at least one byte, so the walk ends.
  for (scanner.getToken(token); token.getType() != kvTokenEnd; scanner.getToken(token)) {
    if (markers && isMarker(token)) {
      if (markers_.add(token.getOffset()) != kvSuccess) return kvFailure;
      continue;
    }
    if (forUpdate && tokenIs(token, "FOR")) {
      const uint32_t forPos = token.getOffset();
      if (scanner.isEqualCi(token, kvU("FOR UPDATE OF"))) {
        forUpdatePos_ = forPos;
        break;
      }
      continue;
    }
    if (currentOf && tokenIs(token, "WHERE")) {
      KvToken current;
      scanner.getToken(current);
      if (!tokenIs(current, "CURRENT") || !scanner.isEqualCi(current, kvU("CURRENT OF"))) {
        scanner.unGetToken(current);
        continue;
      }
      KvToken name;
      scanner.getToken(name);
      if (name.getType() == kvTokenEnd || name.getType() == kvTokenUnclosed) {
        addOdbcError(stateSyntax, msgCurrentOfNoCursorName);
        return kvFailure;
      }
      currentOfPos_ = current.getOffset();
      currentOfLength_ = name.getOffset() + name.getLength() - currentOfPos_;
      cursorName_ = {name.getOffset(), name.getLength(), true};
      break;
    }
  }
  return kvSuccess;
}

// ---------------------------------------------------------------- derived texts

KvStatus BaseSqlString::stripParams(KvString* out) {
  KvScanner scanner;
  setUpScanner(&scanner);
  KvToken token;
  uint32_t end = getLength();
  for (scanner.getToken(token); token.getType() != kvTokenEnd; scanner.getToken(token)) {
    bool stop = false;
    for (const char* word : clauseWords) stop = stop || tokenIs(token, word);
    if (stop) {
      end = token.getOffset();
      break;
    }
  }
  return out->initialize(getText() ? getText() : kvU(""), end);
}

namespace {

// Appends format filled with number: see paramSubstFmtCnt.
KvStatus appendFormatted(KvString* out, const unsigned char* format, uint32_t number) {
  const unsigned char* p = format;
  while (*p) {
    if (*p != '%') {
      const unsigned char* run = p;
      while (*p && *p != '%') ++p;
      if (out->concat(run, uint32_t(p - run)) != kvSuccess) return kvFailure;
      continue;
    }
    if (p[1] == '%') {
      if (out->concat('%') != kvSuccess) return kvFailure;
      p += 2;
      continue;
    }
    // %[0][width](d|i|u): the width is bounded so that the text stays small.
    const unsigned char* spec = p + 1;
    bool zero = false;
    if (*spec == '0') {
      zero = true;
      ++spec;
    }
    unsigned width = 0;
    while (*spec >= '0' && *spec <= '9' && width < 100) width = width * 10 + unsigned(*spec++ - '0');
    if (*spec == 'd' || *spec == 'i' || *spec == 'u') {
      char digits[128];
      int written = std::snprintf(digits, sizeof(digits), zero ? "%0*u" : "%*u", int(width > 40 ? 40 : width), number);
      if (out->concat(kvU(digits), uint32_t(written)) != kvSuccess) return kvFailure;
      p = spec + 1;
      continue;
    }
    if (out->concat('%') != kvSuccess) return kvFailure;
    ++p;
  }
  return kvSuccess;
}

}  // namespace

KvStatus BaseSqlString::paramSubstFmtCnt(KvString* out, const unsigned char* format) const {
  if (out->initialize(kvU("")) != kvSuccess) return kvFailure;
  const unsigned char* text = getText() ? getText() : kvU("");
  uint32_t copied = 0;
  for (uint16_t i = 0; i < markers_.getCount(); ++i) {
    const uint32_t at = markers_.getAt(i);
    if (at < copied || at >= getLength()) continue;  // a stale place is never read
    if (out->concat(text + copied, at - copied) != kvSuccess) return kvFailure;
    if (appendFormatted(out, format ? format : kvU(""), uint32_t(i) + 1) != kvSuccess) return kvFailure;
    copied = at + 1;
  }
  return out->concat(text + copied, getLength() - copied);
}

// ---------------------------------------------------------------- editing

KvStatus BaseSqlString::stripForUpdate() {
  if (forUpdatePos_ == 0 || forUpdatePos_ > getLength()) return kvSuccess;
  KvSubString tail(getText() + forUpdatePos_, getLength() - forUpdatePos_);
  if (replaceSubString(&tail, nullptr, 0) != kvSuccess) return kvFailure;
  forUpdatePos_ = 0;
  return kvSuccess;
}

// A place that starts where the change starts takes its new length, one
// inside the replaced part is gone, one behind it moves.
void BaseSqlString::movePlace(Place* place, uint32_t start, uint32_t oldLength, uint32_t newLength) {
  if (!place->set) return;
  if (place->offset == start) {
    place->length = newLength;
  } else if (place->offset > start && place->offset < start + oldLength) {
    *place = Place();
  } else if (place->offset > start) {
    place->offset = place->offset - oldLength + newLength;
  }
}

KvStatus BaseSqlString::replaceSubString(const KvSubString* part, const unsigned char* text, uint32_t length) {
  const unsigned char* base = getText();
  if (!part || !base || part->getText() < base || part->getLength() > getLength() ||
      uint32_t(part->getText() - base) > getLength() - part->getLength()) {
    addOdbcError(stateGeneral);
    return kvFailure;
  }
  const uint32_t start = uint32_t(part->getText() - base);
  const uint32_t oldLength = part->getLength();
  if (makeCopy() != kvSuccess) return kvFailure;
  // changeBytes reads a null text as nothing (and a length of 0 with a text
  // as "measure it"), so an empty replacement goes in as null.
  if (changeBytes(start, oldLength, length ? text : nullptr, length) != kvSuccess) return kvFailure;
  movePlace(&verbPlace_, start, oldLength, length);
  movePlace(&object_, start, oldLength, length);
  movePlace(&cursorName_, start, oldLength, length);
  // WHERE CURRENT OF spans its cursor name: a change inside the span
  // changes its length.
  if (currentOfPos_ && start >= currentOfPos_ && start + oldLength <= currentOfPos_ + currentOfLength_)
    currentOfLength_ = currentOfLength_ - oldLength + length;
  for (uint32_t* pos : {&forUpdatePos_, &currentOfPos_}) {
    if (*pos > start && *pos < start + oldLength) *pos = 0;
    else if (*pos > start) *pos = *pos - oldLength + length;
  }
  // Markers behind the change move with it, so that they still name "?";
  // markers in the replaced part are gone.
  uint16_t kept = 0;
  for (uint16_t i = 0; i < markers_.getCount(); ++i) {
    const uint32_t at = markers_.getAt(i);
    if (at >= start && at < start + oldLength) continue;
    markers_.setAt(kept++, at >= start + oldLength ? at - oldLength + length : at);
  }
  markers_.setCount(kept);
  return kvSuccess;
}
