// The test data source's dialect: its native forms of the ODBC escape
// clauses, and its data types.
//
// Escape clauses:
//   {d 'yyyy-mm-dd'}        DATE 'yyyy-mm-dd'
//   {t 'hh:mm:ss'}          TIME 'hh:mm:ss'
//   {ts 'yyyy-mm-dd hh:mm:ss[.f...]'}
//                           TIMESTAMP 'yyyy-mm-dd hh:mm:ss' (the fraction
//                           is dropped: the source keeps whole seconds)
//   {fn ...}                the names below; CONCAT(a, b) as (a|| b);
//                           CONVERT refused (6006); other functions as
//                           written
//   {oj ...}                the old "*=" join
//   {escape ...}            refused (6022): the source has no LIKE escape
//   {call p(...)}           CALL p(...), and ? = CALL p(...)
//   {b 'hex'}, {l v}        X'hex', v
#include "drivers/test/test_dialect.h"

#include "base/handles/base_message_ids.h"
#include "base/handles/base_messages.h"
#include "drivers/test/test_message_ids.h"

#include <cstring>

namespace {

struct NativeFunction {
  EscapeFunctionType function;
  const char* name;
  bool dropsArguments;  // written without its (empty) argument list
};
const NativeFunction nativeFunctions[] = {
    {fnLcase, "LOWER", false},          {fnUcase, "UPPER", false},
    {fnLength, "CHAR_LENGTH", false},   {fnIfnull, "COALESCE", false},
    {fnCurdate, "CURRENT_DATE", true},  {fnCurtime, "CURRENT_TIME", true},
    {fnNow, "CURRENT_TIMESTAMP", true}, {fnUser, "CURRENT_USER", true},
};

KvStatus write(KvReplaceString* text, const char* bytes) {
  return text->addBytes(kvU(bytes), uint32_t(std::strlen(bytes)));
}

KvStatus wrap(KvReplaceString* text, uint32_t length, const char* before, const char* after) {
  if (write(text, before) != kvSuccess) return kvFailure;
  text->keep(length);
  return write(text, after);
}

// A timestamp is cut at a fixed length, so its length is checked here,
// whatever its caller checked before.
const uint32_t timestampBytes = 19;  // "yyyy-mm-dd hh:mm:ss"

KvStatus timestamp(KvReplaceString* text, uint32_t length) {
  if (length < timestampBytes) {
    addOdbcError(stateSyntax, msgBadTimestampEscape);
    return kvFailure;
  }
  if (write(text, "TIMESTAMP '") != kvSuccess) return kvFailure;
  text->keep(timestampBytes);
  return write(text, "'");
}

KvStatus function(BaseConnection* connection, KvReplaceString* text, uint32_t length,
                  EscapeFunctionType type) {
  const char* odbcName = escapeFunctionName(type);
  const uint32_t nameBytes = odbcName ? uint32_t(std::strlen(odbcName)) : 0;
  if (!odbcName || nameBytes > length) {
    addOdbcError(stateSyntax, msgEscapeNotSupported);
    return kvFailure;
  }
  uint32_t rest = length - nameBytes;
  if (type == fnConvert) {
    addOdbcError(stateSyntax, msgCannotConvertEscape) << kvU(odbcName);
    return kvFailure;
  }
  if (type == fnConcat) {
    text->skip(nameBytes);
    if (connection->copyEscapeArgument(text, &rest, 1, copyOpenBefore) != kvSuccess ||
        write(text, "||") != kvSuccess ||
        connection->copyEscapeArgument(text, &rest, 2, copyCloseAfter | copyEndCheck) != kvSuccess)
      return kvFailure;
    return kvSuccess;
  }
  for (const NativeFunction& f : nativeFunctions) {
    if (f.function != type) continue;
    text->skip(f.dropsArguments ? length : nameBytes);
    if (write(text, f.name) != kvSuccess) return kvFailure;
    text->keep(f.dropsArguments ? 0 : rest);
    return kvSuccess;
  }
  text->keep(length);
  return kvSuccess;
}

}  // namespace

KvStatus testExpandNativeEscape(BaseConnection* connection, KvReplaceString* text, uint32_t length,
                                EscapeType type, EscapeFunctionType functionType) {
  switch (type) {
    case escapeDate: return wrap(text, length, "DATE '", "'");
    case escapeTime: return wrap(text, length, "TIME '", "'");
    case escapeTimestamp: return timestamp(text, length);
    case escapeFunction: return function(connection, text, length, functionType);
    case escapeOuterJoin: return connection->processOuterJoinEscape(text, length, outerJoinStarEquals);
    case escapeCall: return wrap(text, length, "CALL ", "");
    case escapeCallReturn: return wrap(text, length, "? = CALL ", "");
    case escapeBinary: return wrap(text, length, "X'", "'");
    case escapeBit: return wrap(text, length, "", "");
    case escapeLike: break;
  }
  addOdbcError(stateSyntax, msgEscapeNotSupported);
  return kvFailure;
}

// Listed in the order the source keeps them, not in result order.
const BaseTypeRow testTypeTable[] = {
    {"VARCHAR", testStrVaryingText, SQL_VARCHAR, 255, "'", "'", testStrMaxLength, SQL_NULLABLE, SQL_SEARCHABLE, typeCaseSensitive, 0, 0},
    {"CHAR", testStrText, SQL_CHAR, 255, "'", "'", testStrMaxLength, SQL_NULLABLE, SQL_SEARCHABLE, typeCaseSensitive, 0, 0},
    {"TEXT", testStrLongText, SQL_LONGVARCHAR, 65535, "'", "'", 0, SQL_NULLABLE, SQL_LIKE_ONLY, typeCaseSensitive, 0, 0},
    {"INTEGER", testStrInteger, SQL_INTEGER, 10, nullptr, nullptr, 0, SQL_NULLABLE, SQL_ALL_EXCEPT_LIKE, 0, 0, 0},
    {"SMALLINT", testStrSmallInteger, SQL_SMALLINT, 5, nullptr, nullptr, 0, SQL_NULLABLE, SQL_ALL_EXCEPT_LIKE, 0, 0, 0},
    {"DECIMAL", testStrDecimal, SQL_DECIMAL, 28, nullptr, nullptr, testStrPrecisionScale, SQL_NULLABLE, SQL_ALL_EXCEPT_LIKE, 0, 0, 28},
    {"DOUBLE", testStrDouble, SQL_DOUBLE, 15, nullptr, nullptr, 0, SQL_NULLABLE, SQL_ALL_EXCEPT_LIKE, 0, 0, 0},
    {"BIT", testStrBit, SQL_BIT, 1, nullptr, nullptr, 0, SQL_NO_NULLS, SQL_ALL_EXCEPT_LIKE, 0, 0, 0},
    {"DATE", testStrDate, SQL_DATE, 10, "DATE '", "'", 0, SQL_NULLABLE, SQL_ALL_EXCEPT_LIKE, 0, 0, 0},
    {"TIME", testStrTime, SQL_TIME, 8, "TIME '", "'", 0, SQL_NULLABLE, SQL_ALL_EXCEPT_LIKE, 0, 0, 0},
    {"TIMESTAMP", testStrTimestamp, SQL_TIMESTAMP, 19, "TIMESTAMP '", "'", 0, SQL_NULLABLE, SQL_ALL_EXCEPT_LIKE, 0, 0, 0},
    {"BLOB", testStrBlob, SQL_LONGVARBINARY, 65535, "X'", "'", 0, SQL_NULLABLE, SQL_UNSEARCHABLE, 0, 0, 0},
};
const uint16_t testTypeCount = sizeof(testTypeTable) / sizeof(testTypeTable[0]);
