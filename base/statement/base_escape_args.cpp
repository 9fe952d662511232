// copyEscapeArgument: one argument of a function escape copied into the
// native text, for drivers whose function forms reorder or wrap arguments
// (CONCAT as a + b, LEFT as SUBSTRING(a, 1, n) and the like).
//
// The source at the cursor is the function's argument list "(a, b, ...)"
// (the driver has read the function name). Arguments are the texts between
// the commas at the list's own parenthesis level, as written, blanks
// included. A copied argument is deleted from the source unless the driver
// keeps it; its commas stay, so argument numbers never shift, and the list
// that is left ("(, )") is what the end check finally deletes.
#include "base/connection/base_connection.h"

#include "base/statement/base_escape_internal.h"
#include "base/handles/base_message_ids.h"
#include "base/handles/base_messages.h"

#include <cstring>

namespace {

// Where argument n (1-based) lies, as offsets from the cursor.
struct ArgumentSpan {
  uint32_t start;
  uint32_t length;
};

// Finds argument n of the list at the start of source; posts 6040 or 6041.
KvStatus findArgument(const unsigned char* source, uint32_t length, const unsigned char* quotes, uint16_t n,
                      ArgumentSpan* span) {
  KvScanner scanner(source, length);
  baseSetEscapeQuotes(scanner, quotes);
  scanner.setGroupFlags(KvScanner::groupParentheses);
  KvToken list;
  scanner.getToken(list);
  const bool isList = list.getLength() != 0 && list.getText()[0] == '(';
  if (isList && list.getType() == kvTokenUnclosed) {
    addOdbcError(stateSyntax, msgEscapeArgNotEnded);
    return kvFailure;
  }
  if (!isList || list.getType() != kvTokenQuoted || n == 0) {
    addOdbcError(stateSyntax, msgEscapeTooFewArgs);
    return kvFailure;
  }
  // Inside the parentheses, inner groups are single tokens: only commas of
  // the list's own level separate arguments.
  const uint32_t insideStart = list.getOffset() + 1;
  const uint32_t insideEnd = list.getOffset() + list.getLength() - 1;
  scanner.setScanString(source + insideStart, insideEnd - insideStart);
  uint32_t argStart = 0;
  uint16_t number = 1;
  KvToken token;
  for (;;) {
    scanner.getToken(token);
    const bool end = token.getType() == kvTokenEnd;
    if (end || token.getType() == ',') {
      const uint32_t argEnd = end ? insideEnd - insideStart : token.getOffset();
      if (number == n) {
        span->start = insideStart + argStart;
        span->length = argEnd - argStart;
        return kvSuccess;
      }
      if (end) break;
      ++number;
      argStart = token.getOffset() + 1;
    }
  }
  addOdbcError(stateSyntax, msgEscapeTooFewArgs);
  return kvFailure;
}

}  // namespace

KvStatus BaseConnection::copyEscapeArgument(KvReplaceString* text, uint32_t* remaining, uint16_t argument,
                                            uint16_t flags) {
  if (!text || !remaining) {
    addOdbcError(stateGeneral);
    return kvFailure;
  }
  if (*remaining > text->getLength()) *remaining = text->getLength();
  ArgumentSpan span{};
  if (findArgument(text->getText(), *remaining, quoteChars_, argument, &span) != kvSuccess) return kvFailure;

  // The writes may move the buffer: the argument is addressed by its offset
  // from the cursor, never by a pointer kept across them.
  auto write = [text](const char* punctuation) {
    return text->addBytes(kvU(punctuation), uint32_t(std::strlen(punctuation)));
  };
  KvStatus status = kvSuccess;
  if (flags & copyCommaBefore) status = write(",");
  if (status == kvSuccess && (flags & copyOpenBefore)) status = write("(");
  if (status == kvSuccess && (flags & copyParens)) status = write("(");
  if (status == kvSuccess && !(flags & copyPunctuationOnly))
    status = text->addBytes(text->getText() + span.start, span.length);
  if (status == kvSuccess && (flags & copyParens)) status = write(")");
  if (status == kvSuccess && (flags & copyCloseAfter)) status = write(")");
  if (status != kvSuccess) return kvFailure;

  if (!(flags & copyKeepSource) && span.length) {
    // Deleting from the middle of the unread rest: the bytes in front of the
    // argument move up over it and the cursor follows them.
    unsigned char* cursor = const_cast<unsigned char*>(text->getText());
    std::memmove(cursor + span.length, cursor, span.start);
    text->skip(span.length);
    *remaining -= span.length;
  }

  if (flags & copyEndCheck) {
    KvScanner scanner(text->getText(), *remaining);
    baseSetEscapeQuotes(scanner, quoteChars_);
    scanner.setGroupFlags(KvScanner::groupParentheses);
    KvToken list;
    KvToken after;
    scanner.getToken(list);
    scanner.getToken(after);
    const bool oneList = list.getType() == kvTokenQuoted && list.getText()[0] == '(' && after.getType() == kvTokenEnd;
    if (!oneList) {
      addOdbcError(stateSyntax, msgEscapeArgNotEnded);
      return kvFailure;
    }
    text->skip(*remaining);
    *remaining = 0;
  }
  return kvSuccess;
}
