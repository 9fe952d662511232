// CREATE [UNIQUE] INDEX and DROP INDEX: the descriptors' parses and the
// engine's checks of the table they name.
#include "base/handles/base_messages.h"
#include "flat/connection/flat_connection.h"
#include "flat/exec/flat_statement.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "flat/sql/flat_ddl_internal.h"
#include "util/charsets/charset.h"
#include "util/error_list.h"

#include <cstring>

namespace {

KvStatus refuse() {
  addOdbcError(stateNotCapable);
  return kvFailure;
}

// The table of an index statement must be there and not in use.
KvStatus checkIndexTable(FlatStatement* statement, const unsigned char* name, uint16_t openMessage, bool namePath) {
  unsigned char path[bosPathBytes];
  uint16_t open = 0;
  bool exists = false;
  if (flatDdlTableState(statement, name, path, &open, &exists) != kvSuccess) return kvFailure;
  if (!exists) {
    addFlatError(stateTableNotFound, msgTableNotExist) << path;
    return kvFailure;
  }
  if (open) {
    KvError& error = addFlatSyntaxError(openMessage);
    if (namePath) error << path;
    return kvFailure;
  }
  return kvSuccess;
}

}  // namespace

// ---------------------------------------------------------------- CREATE INDEX

FlatCrIndexDesc::~FlatCrIndexDesc() = default;

KvStatus FlatCrIndexDesc::execute() { return refuse(); }

void FlatCrIndexDesc::cleanUp() {
  indexName_[0] = 0;
  tableName_[0] = 0;
  keys_.deleteContents();
  unique_ = 0;
}

KvStatus FlatCrIndexDesc::canCreateIndexName(const unsigned char*) { return refuse(); }
KvStatus FlatCrIndexDesc::canCreateColumnNameInIndex(const unsigned char*) { return refuse(); }

KvStatus FlatCrIndexDesc::canCreateIndexForTableName(const unsigned char* name) {
  return checkIndexTable(statement_, name, msgIndexOpenTable, true);
}

KvStatus FlatCrIndexDesc::parseIndexName(const unsigned char** position) {
  bool found = false;
  if (flatDdlReadTableName(statement_, position, indexName_, sizeof(indexName_), &found) != kvSuccess) return kvFailure;
  if (!found) {
    addFlatSyntaxError(msgMissingIndexName);
    return kvFailure;
  }
  return canCreateIndexName(indexName_);
}

KvStatus FlatCrIndexDesc::parse(const unsigned char* text, uint32_t* position) {
  keys_.setOwnsObjects(true);
  const unsigned char* p = text + *position;
  FlatToken word;
  if (word.read(&p, flatScanOperator) != kvSuccess || word.read(&p, flatScanOperator) != kvSuccess)
    return kvFailure;
  if (word.is("UNIQUE")) {
    unique_ = 1;
    if (word.read(&p, flatScanOperator) != kvSuccess) return kvFailure;  // INDEX
  }
  if (parseIndexName(&p) != kvSuccess) return kvFailure;
  bool on = false;
  if (flatDdlTakeWord(&p, "ON", &on) != kvSuccess) return kvFailure;
  if (!on) {
    addFlatSyntaxError(msgExpectingOn);
    return kvFailure;
  }
  bool found = false;
  if (flatDdlReadTableName(statement_, &p, tableName_, sizeof(tableName_), &found) != kvSuccess) return kvFailure;
  if (!found) {
    addFlatSyntaxError(msgMissingIndexTable);
    return kvFailure;
  }
  if (canCreateIndexForTableName(tableName_) != kvSuccess) return kvFailure;
  if (parseColumnIdentifiers(&p) != kvSuccess) return kvFailure;
  const uint32_t limit = flatDdlLimit(statement_, SQL_MAX_COLUMNS_IN_INDEX);
  if (limit != 0 && keys_.getCount() > limit) {
    addFlatSyntaxError(msgColumnLimit) << limit;
    return kvFailure;
  }
  *position = uint32_t(p - text);
  return kvSuccess;
}

KvStatus FlatCrIndexDesc::parseColumnIdentifiers(const unsigned char** position) {
  FlatToken token;
  if (token.read(position, flatScanOperator) != kvSuccess) return kvFailure;
  if (!token.is("(")) {
    addFlatSyntaxError(msgIndexNoLeftParen);
    return kvFailure;
  }
  for (;;) {
    auto* key = new FlatKeyColumn();
    if (!key) {
      KvErrorKeeper::addMemoryError();
      return kvFailure;
    }
    bool found = false;
    KvStatus status = flatDdlReadIdentifier(statement_, position, key->name, &found);
    if (status == kvSuccess && !found) {
      addFlatSyntaxError(msgMissingIndexName);
      status = kvFailure;
    }
    if (status == kvSuccess) status = canCreateColumnNameInIndex(key->name);
    bool asc = false, desc = false;
    if (status == kvSuccess) status = flatDdlTakeWord(position, "ASC", &asc);
    if (status == kvSuccess && !asc) status = flatDdlTakeWord(position, "DESC", &desc);
    key->descending = desc ? 1 : 0;
    if (status == kvSuccess && keys_.getCount() == 0xFFFF) {
      addFlatSyntaxError(msgColumnLimit) << uint32_t(0xFFFF);
      status = kvFailure;
    }
    if (status == kvSuccess) status = keys_.add(key);
    if (status != kvSuccess) {
      delete key;
      return kvFailure;
    }
    if (token.read(position, flatScanOperator) != kvSuccess) return kvFailure;
    if (token.is(")")) return kvSuccess;
    if (!token.is(",")) {
      addFlatSyntaxError(msgExpectingComma) << uint32_t(keys_.getCount());
      return kvFailure;
    }
  }
}

// ---------------------------------------------------------------- DROP INDEX

FlatDropIndexDesc::~FlatDropIndexDesc() = default;

KvStatus FlatDropIndexDesc::execute() { return refuse(); }

void FlatDropIndexDesc::cleanUp() {
  qualifier_[0] = 0;
  indexName_[0] = 0;
}

KvStatus FlatDropIndexDesc::canDropIndexName(const unsigned char*) { return refuse(); }

KvStatus FlatDropIndexDesc::isValidQualifier(const unsigned char* name) {
  return checkIndexTable(statement_, name, msgDropIndexOpenTable, false);
}

KvStatus FlatDropIndexDesc::parse(const unsigned char* text, uint32_t* position) {
  const unsigned char* p = text + *position;
  FlatToken word;
  if (word.read(&p, flatScanOperator) != kvSuccess || word.read(&p, flatScanOperator) != kvSuccess)
    return kvFailure;
  p = flatSkipWhite(p);
  // The qualifier runs to the last "." before white space or the end: a
  // table name may carry its extension (emp.ftt.byname).
  const unsigned char* end = p;
  const unsigned char* dot = nullptr;
  while (*end && !kvCharIsSpace(*end) && *end != ';') {
    if (*end == '.') dot = end;
    end += kvIsDbcsLeadByte(*end) && end[1] ? 2 : 1;
  }
  if (!dot || dot == p) {
    addFlatSyntaxError(msgDropIndexSyntax);
    return kvFailure;
  }
  if (flatCopyDdlName(qualifier_, sizeof(qualifier_), p, uint32_t(dot - p)) != kvSuccess) return kvFailure;
  if (statement_->getFlatConnection()->flatStripEngrave(qualifier_) != kvSuccess) return kvFailure;
  if (isValidQualifier(qualifier_) != kvSuccess) return kvFailure;
  p = dot + 1;
  bool found = false;
  if (flatDdlReadIdentifier(statement_, &p, indexName_, &found) != kvSuccess) return kvFailure;
  if (!found) {
    addFlatSyntaxError(msgDropIndexSyntax);
    return kvFailure;
  }
  if (canDropIndexName(indexName_) != kvSuccess) return kvFailure;
  *position = uint32_t(p - text);
  return kvSuccess;
}

// ---------------------------------------------------------------- DROP TABLE

FlatDropTableDesc::~FlatDropTableDesc() = default;

KvStatus FlatDropTableDesc::execute() { return refuse(); }

void FlatDropTableDesc::cleanUp() {
  tableName_[0] = 0;
}

KvStatus FlatDropTableDesc::canDropTableName(const unsigned char* name) {
  unsigned char path[bosPathBytes];
  uint16_t open = 0;
  bool exists = false;
  if (flatDdlTableState(statement_, name, path, &open, &exists) != kvSuccess) return kvFailure;
  if (open) {
    addFlatSyntaxError(msgDeleteOpenFile) << path;
    return kvFailure;
  }
  if (!exists) {
    addFlatError(stateTableNotFound, msgTableNotExist) << path;
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus FlatDropTableDesc::parse(const unsigned char* text, uint32_t* position) {
  const unsigned char* p = text + *position;
  FlatToken word;
  if (word.read(&p, flatScanOperator) != kvSuccess || word.read(&p, flatScanOperator) != kvSuccess)
    return kvFailure;
  bool found = false;
  if (flatDdlReadTableName(statement_, &p, tableName_, sizeof(tableName_), &found) != kvSuccess) return kvFailure;
  if (!found) {
    addFlatSyntaxError(msgDropNoTable);
    return kvFailure;
  }
  if (canDropTableName(tableName_) != kvSuccess) return kvFailure;
  *position = uint32_t(p - text);
  return kvSuccess;
}
