// Outer-join escapes: {oj t1 LEFT OUTER JOIN t2 ON condition} written in
// the old comma-join forms that data sources without LEFT OUTER JOIN know.
//
// The table list stays in the clause, with the join phrase turned into ","
// (or ", OUTER"); the condition leaves the clause, gets the outer-join marks
// of the form asked for, and goes into the statement's WHERE:
//   "... WHERE p ..."      becomes "... WHERE condition AND ( p) ..."
//   "..." without a WHERE  becomes "... WHERE condition ..."
// The WHERE is sought behind the clause, at the statement's own level
// (parenthesised subqueries and other clauses are passed over whole), and
// the search stops at GROUP BY, HAVING, UNION, ORDER BY, FOR UPDATE OF, a
// keyword of the connection's extra list, or the ")" that closes a
// subquery the clause stands in.
//
// Outer-join marks:
//   plus each term  "a.x = b.y (+) AND (c = d (+))": the mark follows each
//                   term, before the ")" that close it
//   plus once       the same for the first term only
//   star equals     "*" before every "=" outside parentheses: "a.x *= b.y"
//   comma outer     the condition as it is
#include "base/connection/base_connection.h"

#include "base/statement/base_escape_internal.h"
#include "base/handles/base_message_ids.h"
#include "base/handles/base_messages.h"
#include "util/containers/kv_array.h"
#include "util/containers/str_functions.h"

#include <cstring>

namespace {

thread_local BaseOuterJoinMove* currentMove = nullptr;

const unsigned char stopPhrases[] = "GROUP BY\0HAVING\0UNION\0ORDER BY\0FOR UPDATE OF\0";

bool isWord(const KvToken& token, const char* word) {
  return token.getType() == kvTokenWord &&
         strEqualCi(token.getText(), token.getLength(), kvU(word), uint32_t(std::strlen(word)));
}

// One insertion into the condition: text at an offset.
struct Mark {
  uint32_t at;
  const char* text;
};

// Where the marks of a form go, in increasing order; at most one per token.
KvStatus findMarks(const unsigned char* condition, uint32_t length, const unsigned char* quotes,
                   BaseOuterJoinTypes type, KvArrayU32* offsets) {
  if (type == outerJoinCommaOuter) return kvSuccess;
  KvScanner scanner(condition, length);
  baseSetEscapeQuotes(scanner, quotes);
  KvToken token;
  if (type == outerJoinStarEquals) {
    scanner.setGroupFlags(KvScanner::groupParentheses);
    for (scanner.getToken(token); token.getType() != kvTokenEnd; scanner.getToken(token)) {
      if (token.getType() == '=' && offsets->add(token.getOffset()) != kvSuccess) return kvFailure;
    }
    return kvSuccess;
  }
  // A term ends at AND, OR or the end; its mark goes behind its last token
  // that is not a closing parenthesis.
  bool haveTerm = false;
  uint32_t termEnd = 0;
  for (;;) {
    scanner.getToken(token);
    const bool end = token.getType() == kvTokenEnd;
    if (end || isWord(token, "AND") || isWord(token, "OR")) {
      if (haveTerm && offsets->add(termEnd) != kvSuccess) return kvFailure;
      if (end || (type == outerJoinPlusOnce && offsets->getCount())) return kvSuccess;
      haveTerm = false;
    } else if (token.getType() != ')') {
      haveTerm = true;
      termEnd = token.getOffset() + token.getLength();
    }
  }
}

// The condition with its marks, into out.
KvStatus markCondition(const unsigned char* condition, uint32_t length, const unsigned char* quotes,
                       BaseOuterJoinTypes type, KvString* out) {
  KvArrayU32 offsets;
  if (findMarks(condition, length, quotes, type, &offsets) != kvSuccess) return kvFailure;
  const char* mark = type == outerJoinStarEquals ? "*" : " (+)";
  if (out->initialize(uint32_t(0)) != kvSuccess) return kvFailure;
  uint32_t copied = 0;
  for (uint16_t i = 0; i < offsets.getCount(); ++i) {
    const uint32_t at = offsets[i];
    if (out->concat(condition + copied, at - copied) != kvSuccess || out->concat(kvU(mark)) != kvSuccess)
      return kvFailure;
    copied = at;
  }
  return out->concat(condition + copied, length - copied);
}

}  // namespace

BaseOuterJoinMove::BaseOuterJoinMove() : previous_(currentMove) { currentMove = this; }

BaseOuterJoinMove::~BaseOuterJoinMove() { currentMove = previous_; }

BaseOuterJoinMove* BaseOuterJoinMove::current() { return currentMove; }

KvStatus BaseOuterJoinMove::place(KvString* sql, uint32_t from, const unsigned char* quotes,
                                  const unsigned char* extraStops) {
  pending = false;
  const uint32_t length = sql->getLength();
  KvScanner scanner(sql->getStr(), length);
  baseSetEscapeQuotes(scanner, quotes);
  scanner.setGroupFlags(KvScanner::groupParentheses | KvScanner::groupBraces);
  scanner.setOffset(from);
  bool haveWhere = false;
  uint32_t whereEnd = 0;
  uint32_t stop = length;
  KvToken token;
  for (scanner.getToken(token); token.getType() != kvTokenEnd; scanner.getToken(token)) {
    if (token.getType() == ')') {
      stop = token.getOffset();
      break;
    }
    if (!haveWhere && isWord(token, "WHERE")) {
      haveWhere = true;
      whereEnd = token.getOffset() + token.getLength();
      continue;
    }
    const uint32_t at = token.getOffset();
    if (scanner.isInSetCi(token, stopPhrases) || (extraStops && scanner.isInSetCi(token, extraStops))) {
      stop = at;
      break;
    }
  }

  KvString insert;
  if (haveWhere) {
    // The later insertion first, so that the earlier offset stays true.
    if (sql->changeBytes(stop, 0, kvU(")"), 1) != kvSuccess) return kvFailure;
    if (insert.initialize(condition.getStr(), condition.getLength()) != kvSuccess ||
        insert.concat(kvU(" AND (")) != kvSuccess)
      return kvFailure;
    return sql->changeBytes(whereEnd, 0, insert.getStr(), insert.getLength());
  }
  // A keyword that follows the new condition needs a blank in front of it.
  const bool beforeWord = stop < length && sql->getStr()[stop] != ')';
  if (insert.initialize(kvU(" WHERE ")) != kvSuccess ||
      insert.concat(condition.getStr(), condition.getLength()) != kvSuccess ||
      (beforeWord && insert.concat(' ') != kvSuccess))
    return kvFailure;
  return sql->changeBytes(stop, 0, insert.getStr(), insert.getLength());
}

KvStatus BaseConnection::processOuterJoinEscape(KvReplaceString* text, uint32_t length, BaseOuterJoinTypes type) {
  BaseOuterJoinMove* move = BaseOuterJoinMove::current();
  if (!text || !move) {
    addOdbcError(stateGeneral);  // only the escape pass can move a condition
    return kvFailure;
  }
  if (length > text->getLength()) length = text->getLength();
  KvScanner scanner(text->getText(), length);
  baseSetEscapeQuotes(scanner, quoteChars_);
  scanner.setGroupFlags(KvScanner::groupParentheses);
  KvToken token;
  uint32_t phraseStart = 0;
  uint32_t phraseEnd = 0;
  bool found = false;
  while (!found) {
    scanner.getToken(token);
    if (token.getType() == kvTokenEnd) break;
    phraseStart = token.getOffset();
    found = scanner.isEqualCi(token, kvU("left outer join")) != 0;
    phraseEnd = token.getOffset() + token.getLength();
  }
  if (!found) {
    addOdbcError(stateSyntax, msgOuterJoinKeywords);
    return kvFailure;
  }
  uint32_t onStart = 0;
  found = false;
  while (!found) {
    scanner.getToken(token);
    if (token.getType() == kvTokenEnd) break;
    found = isWord(token, "ON");
    onStart = token.getOffset();
  }
  if (!found) {
    addOdbcError(stateSyntax, msgOuterJoinOn);
    return kvFailure;
  }
  const uint32_t conditionStart = onStart + 2;
  if (markCondition(text->getText() + conditionStart, length - conditionStart, quoteChars_, type,
                    &move->condition) != kvSuccess)
    return kvFailure;

  text->keep(phraseStart);
  if (text->addBytes(kvU(type == outerJoinCommaOuter ? ", OUTER" : ","),
                     type == outerJoinCommaOuter ? 7 : 1) != kvSuccess)
    return kvFailure;
  text->skip(phraseEnd - phraseStart);
  text->keep(onStart - phraseEnd);
  text->skip(length - onStart);  // ON and the condition leave the clause
  move->pending = true;
  return kvSuccess;
}
