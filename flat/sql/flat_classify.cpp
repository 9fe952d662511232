// FlatStatement::prepareCompile: the engine's half of SQLPrepare and
// SQLExecDirect. It decides what kind of statement the text is from its
// first one or two words, builds the statement's descriptor chain through
// the parser of that kind (or the driver's descriptor), and describes the
// result: a SELECT's columns, no columns for anything else.
//
//   first word(s)                  kind  descriptor
//   SELECT                         1     query chain (prepareSelect)
//   CREATE TABLE                   51    driver's allocCreateDesc
//   CREATE INDEX, CREATE UNIQUE    52    driver's allocCrIndexDesc
//   INSERT, UPDATE, DELETE         53-55 the engine's statement descriptors
//   DROP TABLE, DROP INDEX         56,57 driver's allocDropTableDesc, ...
//   USE name                       60    none: the database directory changes
//   anything else                  59    driver's allocSpecialStmt
//
// Trailing ";"s are no part of the statement.
#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "base/statement/base_sql_string.h"
#include "flat/connection/flat_connection.h"
#include "flat/exec/flat_statement.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "flat/sql/flat_descriptor.h"
#include "flat/sql/flat_dml.h"
#include "flat/sql/flat_sql_token.h"
#include "util/charsets/charset.h"
#include "util/memory/ram.h"

#include <cstring>

namespace {

enum Allocator { allocCreate, allocCrIndex, allocDropTable, allocDropIndex };

struct TwoWordKind {
  const char* first;
  const char* second;
  uint16_t kind;
  Allocator allocator;
};

constexpr TwoWordKind twoWordKinds[] = {
    {"DROP", "TABLE", flatKindDropTable, allocDropTable},
    {"DROP", "INDEX", flatKindDropIndex, allocDropIndex},
    {"CREATE", "TABLE", flatKindCreateTable, allocCreate},
    {"CREATE", "UNIQUE", flatKindCreateIndex, allocCrIndex},
    {"CREATE", "INDEX", flatKindCreateIndex, allocCrIndex},
};

constexpr struct {
  const char* word;
  uint16_t kind;
} dmlKinds[] = {{"INSERT", flatKindInsert}, {"UPDATE", flatKindUpdate}, {"DELETE", flatKindDelete}};

}  // namespace

KvStatus FlatStatement::prepareText(const unsigned char* text) {
  if (sqlText_.initialize(text ? text : reinterpret_cast<const unsigned char*>("")) != kvSuccess) return kvFailure;
  return prepareCompile(nullptr);
}

KvStatus FlatStatement::prepareCompile(BaseSqlString* sql) {
  freeDescriptors();
  tableHandles_.setCount(0);
  statementKind_ = flatKindNone;
  parameterNumbering_ = 0;
  paramValues_.clear();
  engineFlags_ &= ~uint32_t(stmtFresh | stmtSorted | stmtUnion | stmtResultOpen | stmtReleaseParams);
  fieldCount_ = 0;

  // The framework hands the text after escape translation; the engine's own
  // callers (prepareText) leave it in the statement's text.
  const KvString& given = sql ? static_cast<const KvString&>(*sql) : sqlText_;
  const unsigned char* source = given.getText() ? given.getText() : reinterpret_cast<const unsigned char*>("");
  uint32_t length = given.getLength();
  while (length > 0 && (source[length - 1] == ';' ||
                        (!kvIsDbcsLeadByte(source[length - 1]) && kvCharIsSpace(source[length - 1]))))
    --length;
  parseText_ = ramAllocStr(source, length);
  KvStatus status = parseText_ ? classify(parseText_) : kvFailure;
  if (status == kvSuccess) status = buildLockList();
  if (status != kvSuccess) {
    freeDescriptors();
    tableHandles_.setCount(0);
    statementKind_ = flatKindNone;
    fieldCount_ = 0;
    engineFlags_ &= ~uint32_t(stmtFresh | stmtSorted | stmtUnion | stmtResultOpen | stmtReleaseParams);
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus FlatStatement::classify(const unsigned char* text) {
  const unsigned char* p = text;
  FlatToken first;
  if (first.read(&p, flatScanOperator) != kvSuccess) return kvFailure;

  if (first.is("SELECT")) {
    statementKind_ = flatKindSelect;
    FlatSqlDesc* head = nullptr;
    KvStatus status = prepareSelect(text, &head, 0x3);
    head_ = head;
    return status;
  }
  if (first.is("USE")) {
    statementKind_ = flatKindUse;
    uint32_t position = uint32_t(p - text);
    if (useDatabase(text, &position) != kvSuccess) return kvFailure;
    return checkEnd(text, position);
  }

  FlatDescriptor* descriptor = nullptr;
  bool classified = false;
  for (const auto& dml : dmlKinds) {
    if (!first.is(dml.word)) continue;
    // The kind is set before the parse: the select list of the rewritten
    // query takes parameter markers only for INSERT and UPDATE.
    statementKind_ = dml.kind;
    classified = 1;
    if (dml.kind == flatKindInsert) descriptor = new FlatInsertDesc(this);
    else if (dml.kind == flatKindUpdate) descriptor = new FlatUpdateDesc(this);
    else descriptor = new FlatDeleteDesc(this);
    if (!descriptor) {
      KvErrorKeeper::addMemoryError();
      return kvFailure;
    }
  }
  if (!classified) {
    FlatToken second;
    if (second.read(&p, flatScanOperator) != kvSuccess) return kvFailure;
    if (second.isEnd() && !first.isEnd()) {
      addFlatSyntaxError(msgUnexpectedText) << first.getText();
      return kvFailure;
    }
    for (const TwoWordKind& entry : twoWordKinds) {
      if (!first.is(entry.first) || !second.is(entry.second)) continue;
      classified = 1;
      statementKind_ = entry.kind;
      switch (entry.allocator) {
        case allocCreate:
          descriptor = allocCreateDesc();
          break;
        case allocCrIndex: {
          FlatConnection* connection = getFlatConnection();
          if ((connection->getFlags() & BaseConnection::flagTransaction) &&
              !(connection->getEngineFlags() & flatIndexInTxn)) {
            addFlatSyntaxError(msgIndexInTransaction);
            return kvFailure;
          }
          descriptor = allocCrIndexDesc();
          break;
        }
        case allocDropTable:
          descriptor = allocDropTableDesc();
          break;
        case allocDropIndex:
          descriptor = allocDropIndexDesc();
          break;
      }
      break;
    }
  }
  if (!classified) {
    statementKind_ = flatKindSpecial;
    descriptor = allocSpecialStmt(text);
  }
  if (!descriptor) return kvFailure;
  head_ = descriptor;
  uint32_t position = 0;
  if (descriptor->parse(text, &position) != kvSuccess) return kvFailure;
  const uint32_t length = uint32_t(std::strlen(reinterpret_cast<const char*>(text)));
  return checkEnd(text, position < length ? position : length);
}

// USE name: the name (back-quotes removed) becomes the connection's
// database directory, as with the option SQL_CURRENT_QUALIFIER.
KvStatus FlatStatement::useDatabase(const unsigned char* text, uint32_t* position) {
  const unsigned char* p = text + *position;
  unsigned char* directory = nullptr;
  if (flatReadName(&p, &directory) != kvSuccess) return kvFailure;
  if (!directory) {
    addFlatSyntaxError(msgMissingClause) << "USE";
    return kvFailure;
  }
  FlatConnection* connection = getFlatConnection();
  KvStatus status = connection->flatStripEngrave(directory);
  if (status == kvSuccess) status = connection->setDatabaseDirectory(directory);
  if (status == kvSuccess) status = connection->changeDatabase(directory);
  ramFree(directory);
  *position = uint32_t(p - text);
  return status;
}

// After a statement only ";" may follow.
KvStatus FlatStatement::checkEnd(const unsigned char* text, uint32_t position) {
  const unsigned char* p = text + position;
  for (;;) {
    FlatToken token;
    if (token.read(&p, flatScanOperator) != kvSuccess) return kvFailure;
    if (token.isEnd()) return kvSuccess;
    if (!token.is(";")) {
      addFlatSyntaxError(msgUnexpectedText) << token.getText();
      return kvFailure;
    }
  }
}
