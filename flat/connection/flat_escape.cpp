// The engine's forms of the ODBC escape clauses: the framework's escape pass
// (base/statement/base_escape.h) hands each clause to FlatConnection::expandNativeEscape,
// which writes it in the engine's dialect for the parser and the expression
// compiler. File drivers keep this version.
//
//   {d 'yyyy-mm-dd'}            {mm/dd/yyyy}
//   {t 'hh:mm:ss'}              {hh:mm:ss}, only when the driver's type table
//                               lists TIME
//   {ts 'yyyy-mm-dd hh:mm:ss.f'} {mm/dd/yyyy hh:mm:ss} when the type table
//                               lists TIMESTAMP, else {mm/dd/yyyy}; the
//                               fraction is always dropped
//   {fn name(args)}             the engine's name, the list as written;
//                               CONCAT(a, b) as ((a)+(b)) and IFNULL(a, b) as
//                               IIF((a)IS NOT NULL,a,b)
//   {oj ...}                    the condition moves into WHERE with "*="
//   {b 'hex'}                   the text between the quotes
//   {l v}                       its first character
//   {escape ...}, {call ...}    refused
// A refused clause posts 37000 with 6022 and fails the pass.
#include "flat/connection/flat_connection.h"

#include "base/handles/base_message_ids.h"
#include "base/handles/base_messages.h"
#include "base/catalog/base_type_info.h"

#include <cstring>

namespace {

// ODBC scalar functions the evaluator has under another (or the same) name;
// the argument list is passed on as written.
struct EngineFunction {
  EscapeFunctionType function;
  const char* name;
};
const EngineFunction engineFunctions[] = {
    {fnChar, "CHR"},        {fnLcase, "LOWER"},   {fnLeft, "LEFT"},   {fnLtrim, "LTRIM"},
    {fnLength, "LEN"},      {fnRight, "RIGHT"},   {fnRtrim, "RTRIM"}, {fnSpace, "SPACE"},
    {fnSubstring, "SUBSTR"}, {fnUcase, "UPPER"},  {fnFloor, "INT"},   {fnMod, "MOD"},
    {fnPower, "POW"},       {fnRound, "ROUND"},   {fnCurdate, "DATE"}, {fnDayofmonth, "DAY"},
    {fnMonth, "MONTH"},     {fnYear, "YEAR"},
};

// " hh:mm:ss": what a timestamp keeps behind its date.
const uint32_t timeWithBlankBytes = 9;
const uint32_t timeBytes = 8;
// "-mm-dd" behind the year of a date.
const uint32_t monthDayBytes = 6;
// Enough for any year the escape pass lets through.
const uint32_t maxYearBytes = 8;

KvStatus write(KvReplaceString* text, const char* bytes) {
  return text->addBytes(reinterpret_cast<const unsigned char*>(bytes), uint32_t(std::strlen(bytes)));
}

KvStatus refuse() {
  addOdbcError(stateSyntax, msgEscapeNotSupported);
  return kvFailure;
}

bool typeTableLists(const BaseConnection* connection, int16_t sqlType) {
  const BaseTypeRow* rows = connection->getTypeTable();
  for (uint16_t i = 0; rows && i < connection->getTypeCount(); ++i)
    if (rows[i].dataType == sqlType) return true;
  return false;
}

// Writes the date at the cursor ("yyyy-mm-dd", length bytes available) as
// "{mm/dd/yyyy" and leaves the cursor behind it. The year moves to the end,
// so it is copied aside before the writes can move the buffer.
KvStatus date(KvReplaceString* text, uint32_t length, BaseMessage badForm, uint32_t* consumed) {
  const unsigned char* source = text->getText();
  uint32_t yearBytes = 0;
  while (yearBytes < length && yearBytes <= maxYearBytes && source[yearBytes] != '-') ++yearBytes;
  if (yearBytes == 0 || yearBytes > maxYearBytes || length - yearBytes < monthDayBytes ||
      source[yearBytes + 3] != '-') {
    addOdbcError(stateSyntax, badForm);
    return kvFailure;
  }
  char year[maxYearBytes + 1] = {};
  std::memcpy(year, source, yearBytes);
  if (write(text, "{") != kvSuccess) return kvFailure;
  text->skip(yearBytes + 1);
  text->keep(2);
  text->skip(1);
  if (write(text, "/") != kvSuccess) return kvFailure;
  text->keep(2);
  if (write(text, "/") != kvSuccess || write(text, year) != kvSuccess) return kvFailure;
  *consumed = yearBytes + monthDayBytes;
  return kvSuccess;
}

KvStatus timestamp(const BaseConnection* connection, KvReplaceString* text, uint32_t length) {
  uint32_t consumed = 0;
  if (date(text, length, msgBadTimestampEscape, &consumed) != kvSuccess) return kvFailure;
  // The time is kept only when all of it is there: a shorter rest would
  // otherwise be read past the end of the literal.
  const uint32_t rest = length - consumed;
  if (rest != 0 && rest < timeWithBlankBytes) {
    addOdbcError(stateSyntax, msgBadTimestampEscape);
    return kvFailure;
  }
  if (rest != 0 && typeTableLists(connection, SQL_TIMESTAMP)) text->keep(timeWithBlankBytes);
  return write(text, "}");
}

KvStatus time(const BaseConnection* connection, KvReplaceString* text, uint32_t length) {
  if (!typeTableLists(connection, SQL_TIME)) return refuse();
  if (length < timeBytes) {
    addOdbcError(stateSyntax, msgBadTimeEscape);
    return kvFailure;
  }
  if (write(text, "{") != kvSuccess) return kvFailure;
  text->keep(timeBytes);
  return write(text, "}");
}

// CONCAT(a, b) as ((a)+(b)).
KvStatus concat(BaseConnection* connection, KvReplaceString* text, uint32_t* rest) {
  if (connection->copyEscapeArgument(text, rest, 1, copyOpenBefore | copyParens) != kvSuccess ||
      write(text, "+") != kvSuccess ||
      connection->copyEscapeArgument(text, rest, 2, copyParens | copyCloseAfter | copyEndCheck) != kvSuccess)
    return kvFailure;
  return kvSuccess;
}

// IFNULL(a, b) as IIF((a)IS NOT NULL,a,b): the first argument is written
// twice, so the first copy leaves it in the source.
KvStatus ifnull(BaseConnection* connection, KvReplaceString* text, uint32_t* rest) {
  if (write(text, "IIF") != kvSuccess ||
      connection->copyEscapeArgument(text, rest, 1, copyOpenBefore | copyParens | copyKeepSource) != kvSuccess ||
      write(text, "IS NOT NULL") != kvSuccess ||
      connection->copyEscapeArgument(text, rest, 1, copyCommaBefore) != kvSuccess ||
      connection->copyEscapeArgument(text, rest, 2, copyCommaBefore | copyCloseAfter | copyEndCheck) !=
          kvSuccess)
    return kvFailure;
  return kvSuccess;
}

KvStatus function(BaseConnection* connection, KvReplaceString* text, uint32_t length, EscapeFunctionType type) {
  const char* odbcName = escapeFunctionName(type);
  const uint32_t nameBytes = odbcName ? uint32_t(std::strlen(odbcName)) : 0;
  if (!odbcName || nameBytes > length) return refuse();
  uint32_t rest = length - nameBytes;
  if (type == fnConcat || type == fnIfnull) {
    text->skip(nameBytes);
    return type == fnConcat ? concat(connection, text, &rest) : ifnull(connection, text, &rest);
  }
  for (const EngineFunction& f : engineFunctions) {
    if (f.function != type) continue;
    text->skip(nameBytes);
    if (write(text, f.name) != kvSuccess) return kvFailure;
    text->keep(rest);
    return kvSuccess;
  }
  return refuse();
}

}  // namespace

KvStatus FlatConnection::expandNativeEscape(KvReplaceString* text, uint32_t argumentLength, EscapeType escapeType,
                                            EscapeFunctionType functionType) {
  if (!text) return refuse();
  // The argument never reaches past the unread rest.
  const uint32_t length = argumentLength < text->getLength() ? argumentLength : text->getLength();
  switch (escapeType) {
    case escapeDate: {
      uint32_t consumed = 0;
      if (date(text, length, msgBadDateEscape, &consumed) != kvSuccess) return kvFailure;
      return write(text, "}");
    }
    case escapeTime: return time(this, text, length);
    case escapeTimestamp: return timestamp(this, text, length);
    case escapeFunction: return function(this, text, length, functionType);
    case escapeOuterJoin: return processOuterJoinEscape(text, length, outerJoinStarEquals);
    case escapeBinary: text->keep(length); return kvSuccess;
    case escapeBit:
      if (length == 0) return refuse();
      text->keep(1);
      return kvSuccess;
    case escapeLike:
    case escapeCall:
    case escapeCallReturn: break;
  }
  return refuse();
}
