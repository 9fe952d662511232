// The arguments of catalog functions: the check every name argument passes
// (quotes and escapes removed, the table name's extension cut where the
// driver asks, the length against the data source's SQLGetInfo limit) and
// the pattern match that filters catalog rows.
//
// An argument yields a plain copy (the name itself: quotes and every
// search-pattern escape removed) and, for a pattern argument, a pattern
// copy (quotes removed, escapes that protect "%", "_" or an escape kept).
// With "\" as the escape, A\_B gives the name A_B and the pattern A\_B,
// which matches only A_B; A\xB gives AxB for both. A pattern argument that
// is exactly "%" is no argument at all.
#include "base/catalog/base_catalog_info.h"

#include "base/handles/base_app_text.h"
#include "base/handles/base_message_ids.h"
#include "base/handles/base_messages.h"
#include "base/statement/base_statement.h"
#include "util/charsets/charset.h"
#include "util/memory/ram.h"
#include "util/containers/str_functions.h"

#include <cstring>

namespace {

struct LimitMessage {
  uint16_t infoType;
  BaseMessage message;
};

// The message that names each limit.
const LimitMessage limitMessages[] = {
    {SQL_MAX_QUALIFIER_NAME_LEN, msgQualifierTooLong}, {SQL_MAX_OWNER_NAME_LEN, msgOwnerTooLong},
    {SQL_MAX_TABLE_NAME_LEN, msgTableNameTooLong},     {SQL_MAX_COLUMN_NAME_LEN, msgColumnNameTooLong},
    {SQL_MAX_PROCEDURE_NAME_LEN, msgProcedureNameTooLong},
};

// The first character of a text answer of SQLGetInfo (0 when empty).
KvStatus infoCharacter(BaseConnection* connection, uint16_t type, unsigned char* character) {
  void* value = nullptr;
  BaseInfoValType kind = infoNotFound;
  unsigned owned = 0;
  if (connection->getInfo(type, &value, &kind, &owned) != kvSuccess) return kvFailure;
  *character = kind == infoText && value ? static_cast<unsigned char*>(value)[0] : 0;
  if (owned) ramFree(value);
  return kvSuccess;
}

// Cuts text at its last ".", which the file drivers' table names carry as
// the file's extension.
void cutExtension(unsigned char* text) {
  unsigned char* dot = reinterpret_cast<unsigned char*>(std::strrchr(kvC(text), '.'));
  if (dot) *dot = 0;
}

// The plain name: every escape character goes, the character behind it
// stays (double-byte characters are stepped over whole).
void removeEscapes(unsigned char* text, unsigned char escape) {
  unsigned char* out = text;
  for (const unsigned char* in = text; *in;) {
    if (*in == escape) {
      ++in;
      if (!*in) break;
    }
    const uint32_t bytes = kvCharBytes(in);
    for (uint32_t i = 0; i < bytes; ++i) *out++ = *in++;
  }
  *out = 0;
}

// The pattern: an escape before "%", "_" or an escape stays with the
// character it protects; before anything else it goes; at the end it stays.
void keepPatternEscapes(unsigned char* text, unsigned char escape) {
  unsigned char* out = text;
  for (const unsigned char* in = text; *in;) {
    if (*in == escape && in[1] != 0) {
      if (in[1] == '%' || in[1] == '_' || in[1] == escape) {
        *out++ = *in++;
        *out++ = *in++;
        continue;
      }
      ++in;
    }
    const uint32_t bytes = kvCharBytes(in);
    for (uint32_t i = 0; i < bytes; ++i) *out++ = *in++;
  }
  *out = 0;
}

// A copy of the argument with its quotes removed and, where the connection
// asks, the table name's extension cut.
unsigned char* copyArgument(const unsigned char* text, uint32_t length, unsigned char quote, uint16_t infoType,
                            uint32_t connectionFlags) {
  unsigned char* copy = ramAllocStr(text, length);
  if (!copy) return nullptr;
  if (quote != ' ' && quote != 0) strRemoveQuotes(copy, char(quote));
  if (infoType == SQL_MAX_TABLE_NAME_LEN && (connectionFlags & BaseConnection::flagTableNameCut2)) cutExtension(copy);
  return copy;
}

}  // namespace

KvStatus BaseStatement::getCatalogArgument(const unsigned char* text, int16_t length, uint16_t infoType,
                                           unsigned char** plain, unsigned char** pattern) {
  if (!text) return kvSuccess;
  if (length < 0 && length != SQL_NTS) {
    addOdbcError(stateStringLength);
    return kvFailure;
  }
  unsigned char quote = 0;
  if (infoCharacter(connection_, SQL_IDENTIFIER_QUOTE_CHAR, &quote) != kvSuccess) return kvFailure;
  uint32_t bytes = length == SQL_NTS ? uint32_t(std::strlen(kvC(text))) : uint32_t(length);
  // The application's name as ANSI, once for both copies.
  KvRamPtr<unsigned char> ansi(static_cast<unsigned char*>(ramAlloc(bytes + 1)));
  if (!ansi || baseTextFromApp(text, bytes, ansi.get(), &bytes) != kvSuccess) return kvFailure;
  text = ansi.get();
  const uint32_t flags = connection_->getFlags();
  if (pattern) {
    if (bytes == 1 && text[0] == '%') return kvSuccess;
    *pattern = copyArgument(text, bytes, quote, infoType, flags);
    if (!*pattern) return kvFailure;
  }
  *plain = copyArgument(text, bytes, quote, infoType, flags);
  if (!*plain) return kvFailure;
  if (pattern) {
    unsigned char escape = 0;
    if (infoCharacter(connection_, SQL_SEARCH_PATTERN_ESCAPE, &escape) != kvSuccess) return kvFailure;
    if (escape) {
      removeEscapes(*plain, escape);
      keepPatternEscapes(*pattern, escape);
    }
  }
  if (infoType == SQL_MAX_TABLE_NAME_LEN && (flags & BaseConnection::flagTableNameCut)) {
    cutExtension(*plain);
    if (pattern) cutExtension(*pattern);
  }
  const uint32_t plainBytes = uint32_t(std::strlen(kvC(*plain)));
  KvStatus status = kvSuccess;
  const uint32_t limit = connection_->getInfoNumber(infoType, &status) & 0xFFFF;
  if (status != kvSuccess) return kvFailure;
  // A limit of 0 says the data source has no such names at all: a name is
  // then not too long but impossible, which ODBC reports as S1C00.
  if (limit == 0) {
    addOdbcError(stateNotCapable);
    return kvFailure;
  }
  if (plainBytes > limit) {
    for (const LimitMessage& entry : limitMessages) {
      if (entry.infoType != infoType) continue;
      addOdbcError(stateStringLength, entry.message) << *plain << limit;
      return kvFailure;
    }
    addOdbcError(stateStringLength);
    return kvFailure;
  }
  return kvSuccess;
}

int BaseCatalogInfo::matchPattern(const unsigned char* value, const unsigned char* pattern, uint16_t tableName) const {
  if (!pattern) return 1;
  if (!value) return 0;
  BaseConnection* connection = statement_->getConnection();
  KvStatus status = kvSuccess;
  const uint32_t identifierCase = connection->getInfoNumber(SQL_IDENTIFIER_CASE, &status);
  if (status != kvSuccess) KvErrorKeeper::clearLastError();
  unsigned char quote = 0;
  unsigned char escape = 0;
  if (infoCharacter(connection, SQL_IDENTIFIER_QUOTE_CHAR, &quote) != kvSuccess ||
      infoCharacter(connection, SQL_SEARCH_PATTERN_ESCAPE, &escape) != kvSuccess) {
    KvErrorKeeper::clearLastError();
    return 0;
  }
  // Names match with their case only where the data source's identifiers
  // are case-sensitive; upper-, lower- and mixed-case identifiers name the
  // same object whatever their case.
  const bool caseSensitive = !(tableName && (connection->getFlags() & BaseConnection::flagPatternNoCase)) &&
                             identifierCase == SQL_IC_SENSITIVE && quote != ' ';
  return strLike(value, pattern, '%', '_', char(escape), caseSensitive ? 1 : 0) ? 1 : 0;
}
