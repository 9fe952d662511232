// The escape pass: finds the ODBC escape clauses of a statement, checks
// them, and has the connection's expandNativeEscape write each one in the
// data source's syntax (the contract is in base_escape.h).
//
// Clause forms:
//   brace  "{" keyword argument "}"
//   long   "--(*" vendor(Microsoft),product(ODBC) keyword argument "*)--"
// Inside a run quoted by one of the connection's quote characters nothing is
// a clause or a marker. Clauses nest: an inner clause of the same form is
// passed over whole while its outer one's closer is sought.
//
// Keywords: D, T, TS, FN (then the function name), OJ, ESCAPE, CALL,
// ? = CALL, B and L, without regard to case. A brace that starts with no
// keyword is not an escape and stays in the text.
//
// Every rewrite works on the statement in place through one KvReplaceString
// ziz clause; the text in front of the clause is kept where it is, so a
// rewrite costs one move of the text behind it.
#include "base/connection/base_connection.h"

#include "base/statement/base_escape_internal.h"
#include "base/handles/base_message_ids.h"
#include "base/handles/base_messages.h"
#include "util/charsets/charset.h"
#include "util/containers/str_functions.h"

#include <cstring>

namespace {

enum ClauseForm { formBrace, formLong };

const unsigned char longOpener[] = "--(*";
const unsigned char longCloser[] = "*)--";
const uint32_t longMarkBytes = 4;
const unsigned char vendorPrefix[] = "vendor ( microsoft ) , product ( odbc )";

// A misbehaving driver that writes a clause back into the text it produces
// would make the pass run for ever; no statement has anywhere near this many.
const uint32_t maxClauseRewrites = 65536;

struct EscapeKeyword {
  const char* word;
  EscapeType type;
};
const EscapeKeyword escapeKeywords[] = {
    {"T", escapeTime},  {"D", escapeDate},     {"TS", escapeTimestamp}, {"FN", escapeFunction},
    {"OJ", escapeOuterJoin}, {"ESCAPE", escapeLike}, {"CALL", escapeCall}, {"B", escapeBinary},
    {"L", escapeBit},
};

// Date, time and timestamp literals: allowed lengths and the 1-based
// positions that need not be digits. A timestamp is 19 characters, or 21 to
// 29 with a fraction (20 would be a fraction separator with no digit).
struct LiteralRule {
  EscapeType type;
  uint32_t minLength;
  uint32_t maxLength;
  uint32_t badLength;  // a length in the range that is still wrong (0: none)
  uint8_t separators[6];
  BaseMessage message;
};
const LiteralRule literalRules[] = {
    {escapeDate, 10, 10, 0, {5, 8}, msgBadDateEscape},
    {escapeTime, 8, 8, 0, {3, 6}, msgBadTimeEscape},
    {escapeTimestamp, 19, 29, 20, {5, 8, 11, 14, 17, 20}, msgBadTimestampEscape},
};

// Literals are not read again after their rewrite; everything else is.
bool isLiteral(EscapeType type) {
  return type == escapeDate || type == escapeTime || type == escapeTimestamp || type == escapeBinary ||
         type == escapeBit;
}

struct Quotes {
  const unsigned char* chars;
  bool isQuote(unsigned char c) const { return c && (c == chars[0] || c == chars[1] || c == chars[2]); }
};

bool startsWith(const unsigned char* text, uint32_t length, uint32_t pos, const unsigned char* mark) {
  return length - pos >= longMarkBytes && std::memcmp(text + pos, mark, longMarkBytes) == 0;
}

// The next clause opener at or after pos, outside quotes; the "?" markers
// passed over on the way are counted.
bool findOpener(const unsigned char* text, uint32_t length, uint32_t pos, const Quotes& quotes, uint32_t* at,
                ClauseForm* form, uint32_t* markers) {
  const unsigned char* end = text + length;
  unsigned char open = 0;
  while (pos < length) {
    const uint32_t bytes = kvCharBytes(text + pos, end);
    const unsigned char c = text[pos];
    if (bytes == 1) {
      if (open) {
        if (c == open) open = 0;
      } else if (quotes.isQuote(c)) {
        open = c;
      } else if (c == '{' || (c == '-' && startsWith(text, length, pos, longOpener))) {
        *at = pos;
        *form = c == '{' ? formBrace : formLong;
        return true;
      } else if (c == '?') {
        ++*markers;
      }
    }
    pos += bytes;
  }
  return false;
}

// The start of the closer of a clause whose body begins at pos; false when
// the text ends first.
bool findCloser(const unsigned char* text, uint32_t length, uint32_t pos, const Quotes& quotes, ClauseForm form,
                uint32_t* at) {
  const unsigned char* end = text + length;
  uint32_t depth = 1;
  unsigned char open = 0;
  while (pos < length) {
    const uint32_t bytes = kvCharBytes(text + pos, end);
    const unsigned char c = text[pos];
    if (bytes == 1 && open) {
      if (c == open) open = 0;
    } else if (bytes == 1 && quotes.isQuote(c)) {
      open = c;
    } else if (bytes == 1 && form == formBrace) {
      if (c == '{') ++depth;
      if (c == '}' && --depth == 0) {
        *at = pos;
        return true;
      }
    } else if (bytes == 1 && startsWith(text, length, pos, longOpener)) {
      ++depth;
      pos += longMarkBytes;
      continue;
    } else if (bytes == 1 && startsWith(text, length, pos, longCloser)) {
      if (--depth == 0) {
        *at = pos;
        return true;
      }
      pos += longMarkBytes;
      continue;
    }
    pos += bytes;
  }
  return false;
}

uint32_t skipWhite(const unsigned char* text, uint32_t pos, uint32_t end) {
  while (pos < end && !kvIsDbcsLeadByte(text[pos]) && kvCharIsSpace(text[pos])) ++pos;
  return pos;
}

// The keyword that a token starts, or false.
bool keywordOf(const KvToken& token, EscapeType* type) {
  if (token.getType() != kvTokenWord) return false;
  for (const EscapeKeyword& k : escapeKeywords) {
    if (strEqualCi(kvU(k.word), uint32_t(std::strlen(k.word)), token.getText(), token.getLength())) {
      *type = k.type;
      return true;
    }
  }
  return false;
}

// One clause as the pass found it; offsets into the statement.
struct Clause {
  uint32_t open = 0;
  ClauseForm form = formBrace;
  uint32_t closeEnd = 0;  // just behind the closer
  EscapeType type = escapeTime;
  EscapeFunctionType function = fnNone;
  uint32_t argStart = 0;
  uint32_t argLength = 0;
};

enum ReadResult { notAnEscape, escapeFound, escapeFailed };

KvStatus checkLiteral(const Clause& clause, const unsigned char* argument) {
  for (const LiteralRule& rule : literalRules) {
    if (rule.type != clause.type) continue;
    const uint32_t length = clause.argLength;
    bool valid = length >= rule.minLength && length <= rule.maxLength && length != rule.badLength;
    for (uint32_t pos = 1; valid && pos <= length; ++pos) {
      const bool separator = std::memchr(rule.separators, int(pos), sizeof(rule.separators)) != nullptr;
      valid = separator || kvCharIsDigit(argument[pos - 1]);
    }
    if (!valid) {
      addOdbcError(stateSyntax, rule.message);
      return kvFailure;
    }
  }
  return kvSuccess;
}

// Reads the clause whose opener stands at clause->open: its keyword, its
// closer, its function and its argument, and checks it. Posts the error of
// a malformed clause.
ReadResult readClause(const unsigned char* text, uint32_t length, const Quotes& quotes, Clause* clause) {
  const uint32_t bodyStart = clause->open + (clause->form == formBrace ? 1 : longMarkBytes);
  KvScanner scanner(text + bodyStart, length - bodyStart);
  baseSetEscapeQuotes(scanner, quotes.chars);
  KvToken token;
  if (clause->form == formBrace) {
    // Only a keyword makes a brace an escape; other braces are left alone
    // without looking for their end.
    scanner.getToken(token);
    EscapeType type;
    if (!keywordOf(token, &type) && token.getType() != '?') return notAnEscape;
  }

  uint32_t closeStart = 0;
  if (!findCloser(text, length, bodyStart, quotes, clause->form, &closeStart)) {
    addOdbcError(stateSyntax, msgEscapeNotEnded);
    return escapeFailed;
  }
  clause->closeEnd = closeStart + (clause->form == formBrace ? 1 : longMarkBytes);
  const uint32_t contentLength = strRightTrim(text + bodyStart, closeStart - bodyStart);
  const uint32_t contentEnd = bodyStart + contentLength;

  scanner.setScanString(text + bodyStart, contentLength);
  scanner.getToken(token);
  if (clause->form == formLong) {
    if (!scanner.isEqualCi(token, vendorPrefix)) {
      addOdbcError(stateSyntax, msgVendorEscapeMalformed);
      return escapeFailed;
    }
    scanner.getToken(token);
  }
  if (token.getType() == '?') {
    if (!scanner.isEqualCi(token, kvU("? = call"))) {
      addOdbcError(stateSyntax, msgBadEscape);
      return escapeFailed;
    }
    clause->type = escapeCallReturn;
  } else if (!keywordOf(token, &clause->type)) {
    if (clause->form == formBrace) return notAnEscape;
    addOdbcError(stateSyntax, msgBadEscape);
    return escapeFailed;
  }

  clause->argStart = skipWhite(text, bodyStart + scanner.getOffset(), contentEnd);
  if (clause->type == escapeFunction) {
    KvToken name;
    scanner.getToken(name);
    if (name.getType() != kvTokenWord) {
      addOdbcError(stateSyntax, msgFnNameMissing);
      return escapeFailed;
    }
    clause->function = escapeFunctionLookup(name.getText(), name.getLength());
    if (clause->function == fnNone) {
      addOdbcError(stateSyntax, msgUnknownFunctionEscape) << name;
      return escapeFailed;
    }
    clause->argStart = bodyStart + name.getOffset();
  }
  if (clause->argStart >= contentEnd) {
    addOdbcError(stateSyntax, msgBadEscape);
    return escapeFailed;
  }
  clause->argLength = contentEnd - clause->argStart;

  const bool quotedLiteral = clause->type == escapeDate || clause->type == escapeTime ||
                             clause->type == escapeTimestamp || clause->type == escapeBinary;
  if (quotedLiteral && clause->argLength >= 2 && text[clause->argStart] == '\'' &&
      text[contentEnd - 1] == '\'') {
    clause->argStart += 1;
    clause->argLength -= 2;
  }
  return checkLiteral(*clause, text + clause->argStart) == kvSuccess ? escapeFound : escapeFailed;
}

}  // namespace

// One clause: the opener, vendor prefix and keyword become one blank, the
// driver writes the argument's native form, and whatever it left of the
// clause goes. The statement behind the closer is the same before and after
// the driver's call, so its length tells how much of the clause is left.
static KvStatus rewriteClause(BaseConnection* connection, KvString* sql, const Clause& clause,
                              uint32_t* producedEnd) {
  const uint32_t tail = sql->getLength() - clause.closeEnd;
  KvReplaceString text(sql);
  text.keep(clause.open);
  text.skip(clause.argStart - clause.open);
  if (text.addBytes(kvU(" "), 1) != kvSuccess) return kvFailure;
  if (connection->expandNativeEscape(&text, clause.argLength, clause.type, clause.function) != kvSuccess)
    return kvFailure;
  if (text.getLength() < tail) {
    // The driver read past the clause: the statement can no longer be trusted.
    addOdbcError(stateGeneral);
    return kvFailure;
  }
  text.skip(text.getLength() - tail);
  *producedEnd = text.getWriteOffset();
  return kvSuccess;
}

KvStatus BaseConnection::expandEscapeClauses(KvString* sql, uint16_t* markerCount) {
  if (markerCount) *markerCount = 0;
  if (!sql) return kvSuccess;
  const Quotes quotes{quoteChars_};
  BaseOuterJoinMove joinMove;
  uint32_t markers = 0;
  uint32_t pos = 0;
  uint32_t rewrites = 0;
  Clause clause;
  while (findOpener(sql->getStr(), sql->getLength(), pos, quotes, &clause.open, &clause.form, &markers)) {
    clause.function = fnNone;
    const ReadResult found = readClause(sql->getStr(), sql->getLength(), quotes, &clause);
    if (found == escapeFailed) return kvFailure;
    if (found == notAnEscape) {
      pos = clause.open + 1;
      continue;
    }
    if (++rewrites > maxClauseRewrites) {
      addOdbcError(stateSyntax, msgBadEscape);
      return kvFailure;
    }
    // The application's text is never written: the first rewrite takes a
    // copy of it.
    if (!sql->isOwned() && sql->initialize(sql->getStr(), sql->getLength()) != kvSuccess) return kvFailure;
    joinMove.pending = false;
    uint32_t producedEnd = 0;
    if (rewriteClause(this, sql, clause, &producedEnd) != kvSuccess) return kvFailure;
    if (joinMove.pending &&
        joinMove.place(sql, producedEnd, quoteChars_, outerJoinStopWords_) != kvSuccess)
      return kvFailure;
    pos = isLiteral(clause.type) ? producedEnd : clause.open;
  }
  if (markerCount) *markerCount = markers > 0xFFFF ? uint16_t(0xFFFF) : uint16_t(markers);
  return kvSuccess;
}
