// Table options and index lists after a table name; see
// dbf_table_options.h.
#include "drivers/dbase/statement/dbf_table_options.h"

#include "drivers/dbase/connection/dbf_connection.h"
#include "drivers/dbase/records/dbf_file_desc.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "util/os/bos.h"
#include "util/charsets/charset.h"

#include <cstring>
#include <strings.h>

namespace {

const char delimiters[] = "(),/=";

struct Token {
  std::string text;
  bool punctuation = false;
  bool quoted = false;
  bool is(char c) const { return punctuation && text.size() == 1 && text[0] == c; }
  // Option names, their values and USE are matched byte for byte, as
  // written: (records=all) is an unknown option, (RECORDS=all) asks for
  // nothing.
  bool isWord(const char* word) const { return !punctuation && !quoted && text == word; }
};

// Reads the next token of a zero-terminated text from *pos; an empty
// token at the end. A back-quoted stretch keeps its text (a doubled
// back-quote inside stands for one); one left open runs to the end.
Token next(const unsigned char* text, uint32_t* pos) {
  Token token;
  uint32_t i = *pos;
  while (text[i] && kvCharIsSpace(text[i])) ++i;
  if (!text[i]) {
    *pos = i;
    return token;
  }
  if (std::strchr(delimiters, text[i])) {
    token.text.assign(1, char(text[i]));
    token.punctuation = true;
    *pos = i + 1;
    return token;
  }
  while (text[i] && !kvCharIsSpace(text[i]) && !std::strchr(delimiters, text[i])) {
    if (text[i] == '`') {
      token.quoted = true;
      for (++i; text[i]; ++i) {
        if (text[i] == '`') {
          if (text[i + 1] != '`') break;
          ++i;
        }
        token.text.push_back(char(text[i]));
      }
      if (text[i]) ++i;
      continue;
    }
    token.text.push_back(char(text[i++]));
  }
  *pos = i;
  return token;
}

Token peek(const unsigned char* text, uint32_t pos) { return next(text, &pos); }

KvStatus syntax(uint16_t message) {
  addFlatSyntaxError(message);
  return kvFailure;
}

KvStatus missing(const char* what) {
  addFlatSyntaxError(msgMissingClause) << what;
  return kvFailure;
}

// The extension of a file name (after its last "." in its last component).
std::string extensionOf(const std::string& name) {
  size_t slash = name.find_last_of("/\\");
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string();
  return name.substr(dot + 1);
}

std::string baseNameOf(const std::string& name) {
  size_t slash = name.find_last_of("/\\");
  std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
  size_t dot = base.rfind('.');
  return dot == std::string::npos ? base : base.substr(0, dot);
}

// The directory of the table: the directory part of the name as written,
// else the connection's database directory.
std::string tableDirectory(DbfConnection* connection, const std::string& table) {
  size_t slash = table.find_last_of("/\\");
  if (slash != std::string::npos) return table.substr(0, slash);
  const unsigned char* directory = connection->getDatabaseDirectory();
  return directory ? kvC(directory) : "";
}

KvStatus parseIndexList(DbfConnection* connection, const unsigned char* text, uint32_t* pos, DbfTableOptions* out) {
  out->indexList = true;
  std::string directory = tableDirectory(connection, out->tableName);
  // Each element ends with "," or ")"; every turn reads at least one
  // token, so the loop ends with the text.
  for (;;) {
    Token token = next(text, pos);
    if (token.is('/')) {
      Token tag = next(text, pos);
      if (tag.text.empty() || tag.punctuation) return missing(")");
      out->indexes.push_back({tag.text, DbfIndexName::useIndex});
    } else if (!token.text.empty() && !token.punctuation) {
      unsigned char path[bosPathBytes];
      if (bospath(path, kvU(directory.c_str()), kvU(token.text.c_str()),
                  kvU(connection->getExtension(dbfExtNdx))) != kvSuccess)
        return kvFailure;
      out->indexes.push_back({kvC(path), DbfIndexName::openFile});
      if (peek(text, *pos).is('/')) {
        next(text, pos);
        Token after = next(text, pos);
        if (strcasecmp(extensionOf(token.text).c_str(), connection->getExtension(dbfExtMdx)) == 0) {
          if (after.text.empty() || after.punctuation) return missing(")");
          out->indexes.push_back({after.text, DbfIndexName::useIndex});
        } else {
          if (!after.isWord("USE")) return missing("USE");
          out->indexes.push_back({baseNameOf(token.text), DbfIndexName::useIndex});
        }
      }
    } else {
      return missing(")");
    }
    Token separator = next(text, pos);
    if (separator.is(')')) return kvSuccess;
    if (!separator.is(',')) return missing(")");
  }
}

KvStatus parseOption(const Token& name, const Token& value, DbfTableOptions* out) {
  if (name.isWord("COMPATIBILITY")) {
    out->compatibility = value.isWord("DBASE") ? 0 : 1;
  } else if (name.isWord("CHARSET")) {
    out->oem = value.isWord("WINDOWS") || value.isWord("ANSI") ? 0 : 1;
  } else if (name.isWord("LOCKING")) {
    if (value.isWord("RECORD")) out->lockLevel = dbfLockRecord;
    else if (value.isWord("FILE")) out->lockLevel = dbfLockFile;
    else if (value.isWord("NONE")) out->lockLevel = dbfLockNone;
  } else if (name.isWord("RECORDS")) {
    if (value.isWord("DELETED")) out->records = DbfFileDesc::readDeleted;
    else if (value.isWord("ALL")) out->records = DbfFileDesc::readDeleted | DbfFileDesc::readLive;
  } else {
    addFlatSyntaxError(msgUnknownOption) << name.text.c_str();
    return kvFailure;
  }
  return kvSuccess;
}

}  // namespace

KvStatus dbfParseTableName(DbfConnection* connection, const unsigned char* text, uint32_t* position,
                           DbfTableOptions* out) {
  *out = DbfTableOptions();
  uint32_t pos = *position;
  Token name = next(text, &pos);
  if (name.text.empty() || name.punctuation) return syntax(msgMissingTableName);
  if (dbfParseTableOptions(connection, text, &pos, out) != kvSuccess) return kvFailure;
  out->tableName = name.text;
  *position = pos;
  return kvSuccess;
}

KvStatus dbfParseTableOptions(DbfConnection* connection, const unsigned char* text, uint32_t* position,
                              DbfTableOptions* out) {
  *out = DbfTableOptions();
  uint32_t pos = *position;
  if (!peek(text, pos).is('(')) return kvSuccess;
  next(text, &pos);
  uint32_t elementStart = pos;
  Token first = next(text, &pos);
  Token second = next(text, &pos);
  if (!second.is('=')) {
    pos = elementStart;
    if (parseIndexList(connection, text, &pos, out) != kvSuccess) return kvFailure;
    *position = pos;
    return kvSuccess;
  }
  // NAME=VALUE, separated by "," and ended by ")".
  Token optionName = first;
  for (;;) {
    Token value = next(text, &pos);
    if (optionName.text.empty() || optionName.punctuation) return missing(")");
    if (parseOption(optionName, value, out) != kvSuccess) return kvFailure;
    Token separator = next(text, &pos);
    if (separator.is(')')) break;
    if (!separator.is(',')) return missing(")");
    optionName = next(text, &pos);
    if (!next(text, &pos).is('=')) return missing(")");
  }
  *position = pos;
  return kvSuccess;
}

int dbfIsOptionList(const unsigned char* text) {
  uint32_t pos = 0;
  Token first = next(text, &pos);
  const std::string& t = first.text;
  if (!first.punctuation && t.size() >= 5) {
    size_t n = t.size();
    if (t[n - 4] == '.' && kvCharIsAlpha(uint8_t(t[n - 3])) &&
        ((kvToUpper(uint8_t(t[n - 2])) == 'D' || kvToUpper(uint8_t(t[n - 2])) == 'T') &&
         kvToUpper(uint8_t(t[n - 1])) == 'X'))
      return 1;
  }
  return next(text, &pos).is('=') ? 1 : 0;
}

KvStatus dbfApplyTableOptions(const DbfTableOptions& options, DbfFileDesc* reader) {
  if (options.records) reader->setRecordsDelivered(options.records);
  if (options.oem >= 0) reader->setCharset(options.oem == 1);
  if (options.lockLevel >= 0) reader->setLockLevel(uint16_t(options.lockLevel));
  if (!options.indexList) return kvSuccess;
  if (reader->makeIndexNames() != kvSuccess) return kvFailure;
  for (const auto& entry : options.indexes) {
    auto* name = new DbfIndexName();
    if (!name) {
      KvErrorKeeper::addMemoryError();
      return kvFailure;
    }
    if (name->set(kvU(entry.text.c_str()), entry.kind) != kvSuccess || reader->getIndexNames()->add(name) != kvSuccess) {
      delete name;
      return kvFailure;
    }
  }
  return kvSuccess;
}
