// The select list of one query: items split at "," on parenthesis depth 0;
// an item of names only (column, qualifier.column, *, qualifier.*) is a
// column reference and becomes one item a matching column, anything else is
// an expression compiled by the expression compiler. See
// flat_select_parser.h.
#include "flat/sql/flat_select_parser.h"

#include "base/handles/base_messages.h"
#include "flat/connection/flat_connection.h"
#include "flat/connection/flat_file_desc.h"
#include "flat/connection/flat_shared_desc.h"
#include "flat/exec/flat_statement.h"
#include "flat/expr/flat_byte_code.h"
#include "flat/expr/flat_compiler.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "flat/sql/flat_descriptor.h"
#include "flat/sql/flat_select_field.h"
#include "flat/sql/flat_sql_token.h"
#include "util/charsets/charset.h"
#include "util/memory/ram.h"

#include <cstring>

namespace {

// A name of a column reference: a word (not NULL or ROWID, which make the
// item an expression) or a back-quoted name.
bool isNameToken(const FlatToken& token) {
  if (token.isEnd()) return false;
  if (token.first() == '`') return token.isQuoted();
  unsigned char c = token.first();
  if (!(kvCharIsAlpha(c) || c == '_' || kvIsDbcsLeadByte(c) || c >= 0x80)) return false;
  return !token.is("NULL") && !token.is("ROWID");
}

// The name of a name token, unquoted and upper-cased, as a ramAlloc copy.
unsigned char* nameOf(const FlatToken& token) {
  unsigned char* copy = token.first() == '`' ? ramAllocStr(token.getText() + 1, token.getLength() - 2)
                                             : ramAllocStr(token.getText(), token.getLength());
  if (copy) kvUpperText(copy);
  return copy;
}

struct ColumnReference {
  unsigned char* qualifier = nullptr;  // owned
  unsigned char* column = nullptr;     // owned; null for "*"
  ~ColumnReference() {
    ramFree(qualifier);
    ramFree(column);
  }
};

// Whether the item is a column reference; fills ref when it is.
KvStatus classify(const unsigned char* item, bool* isReference, ColumnReference* ref) {
  *isReference = false;
  FlatToken tokens[4];
  const unsigned char* p = item;
  int count = 0;
  for (; count < 4; ++count) {
    if (tokens[count].read(&p, flatScanOperator) != kvSuccess) return kvFailure;
    if (tokens[count].isEnd()) break;
  }
  if (count == 1 && (tokens[0].is("*") || isNameToken(tokens[0]))) {
    *isReference = true;
  } else if (count == 3 && isNameToken(tokens[0]) && tokens[1].is(".") &&
             (tokens[2].is("*") || isNameToken(tokens[2]))) {
    *isReference = true;
    if (!(ref->qualifier = nameOf(tokens[0]))) return kvFailure;
  }
  if (!*isReference) return kvSuccess;
  const FlatToken& last = tokens[count - 1];
  if (!last.is("*") && !(ref->column = nameOf(last))) return kvFailure;
  return kvSuccess;
}

FlatSelectField* newItem(FlatSqlDesc* query) {
  auto* item = new FlatSelectField();
  if (!item) {
    KvErrorKeeper::addMemoryError();
    return nullptr;
  }
  if (query->getItems().add(item) != kvSuccess) {
    delete item;
    return nullptr;
  }
  return item;
}

KvStatus columnItem(FlatStatement* statement, FlatSqlDesc* query, FlatFileDesc* table, uint16_t c) {
  FlatSharedField* field = table->getShared()->getColumn(c);
  FlatSelectField* item = newItem(query);
  if (!item) return kvFailure;
  const unsigned char* name = field->getName() ? field->getName() : reinterpret_cast<const unsigned char*>("");
  if (item->setName(name, uint32_t(std::strlen(reinterpret_cast<const char*>(name)))) != kvSuccess) return kvFailure;
  if (field->getTypeName() && item->setTypeName(field->getTypeName()) != kvSuccess) return kvFailure;
  item->sqlType = field->getSqlType();
  item->scale = field->getScale();
  item->nullable = SQL_NULLABLE;
  item->attributes = field->getAttributes();
  item->searchable = field->isSearchable();
  item->updatable = (statement->getFlatConnection()->getEngineFlags() & flatReadOnly) ? 0 : field->isUpdatable();
  int16_t engineType = field->getFlatFieldType();
  if (engineType == 0) engineType = field->getSqlType();
  uint16_t width = 0;
  flatFoldType(engineType, field->getPrecision(), &item->engineType, &width);
  item->precision = field->getPrecision();
  item->table = table;
  item->column = c;
  return kvSuccess;
}

KvStatus referenceItems(FlatStatement* statement, FlatSqlDesc* query, const ColumnReference& ref,
                        const unsigned char* text) {
  int matches = 0;
  for (FlatFileDesc* table = query->getFirstTable(); table; table = table->getNextTable()) {
    if (ref.qualifier && !flatTableAnswersTo(table, ref.qualifier)) continue;
    if (ref.column) {
      uint16_t c = 0;
      const FlatColumnMatch match = flatFindColumn(table, ref.column, &c);
      if (match == flatAmbiguousColumn) return kvFailure;
      if (match == flatNoColumn) continue;
      if (++matches > 1) {
        addFlatSyntaxError(msgAmbiguousField) << text;
        return kvFailure;
      }
      if (columnItem(statement, query, table, c) != kvSuccess) return kvFailure;
      continue;
    }
    for (uint16_t c = 0; c < table->getShared()->getColumnCount(); ++c) {
      ++matches;
      if (columnItem(statement, query, table, c) != kvSuccess) return kvFailure;
    }
  }
  if (matches == 0) {
    addFlatError(stateColumnNotFound, msgSelectFieldNotFound) << text;
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus expressionItem(FlatStatement* statement, FlatSqlDesc* query, const unsigned char* text) {
  FlatSelectField* item = newItem(query);
  if (!item) return kvFailure;
  // The expression's text is its label, cut to the longest column name
  // the connection reports (SQL_MAX_COLUMN_NAME_LEN), which applications
  // size their buffers by.
  uint32_t labelBytes = uint32_t(std::strlen(reinterpret_cast<const char*>(text)));
  const uint32_t maxLabel = statement->getFlatConnection()->getInfoNumber(SQL_MAX_COLUMN_NAME_LEN);
  if (maxLabel && labelBytes > maxLabel) labelBytes = maxLabel;
  if (item->setName(text, labelBytes) != kvSuccess) return kvFailure;
  const uint16_t kind = statement->getStatementKind();
  const uint16_t mode = (kind == flatKindInsert || kind == flatKindUpdate) ? flatModeParameters : 0;
  FlatCodeBuffer code;
  int16_t type = 0;
  uint16_t width = 0, length = 0;
  const unsigned char* p = text;
  if (statement->compileExpr(query, nullptr, &p, &code, &type, &width, mode, &length) != kvSuccess)
    return kvFailure;
  uint8_t* program = code.release();
  if (!program) return kvFailure;
  item->setCode(program);
  if (query->getTableCount() == 1 && length == 6 && program[0] == opRowId) {
    if (item->setName(reinterpret_cast<const unsigned char*>("ROWID"), 5) != kvSuccess) return kvFailure;
    item->rowIdHandle = flatOperandU32(program + 1);
    item->table = query->getFirstTable();
  }
  item->engineType = type;
  item->sqlType = (type == flatTypeAny || type == flatTypeParam) ? int16_t(SQL_DOUBLE) : type;
  item->precision = width;
  item->searchable = SQL_SEARCHABLE;
  // NULL anywhere makes it nullable; otherwise the first operand decides:
  // a column is nullable, a literal is not.
  bool firstDecided = false;
  for (const uint8_t* op = program; *op != opEnd; op = getNextOp(op)) {
    if (*op == opNull) {
      item->nullable = SQL_NULLABLE;
      break;
    }
    if (firstDecided) continue;
    if (*op == opColumn) {
      item->nullable = SQL_NULLABLE;
      firstDecided = 1;
    } else if (*op >= opDate && *op <= opLogical) {
      item->nullable = SQL_NO_NULLS;
      firstDecided = 1;
    }
  }
  return kvSuccess;
}

}  // namespace

KvStatus flatParseSelectList(FlatStatement* statement, FlatSqlDesc* query, const unsigned char* listStart,
                             const unsigned char* listEnd) {
  const unsigned char* p = listStart;
  for (;;) {
    const unsigned char* itemStart = flatSkipWhite(p);
    const unsigned char* itemEnd = nullptr;
    bool last = false;
    for (int depth = 0; !itemEnd;) {
      FlatToken token;
      if (token.read(&p, flatScanOperator) != kvSuccess) return kvFailure;
      if (token.isEnd() || token.getStart() >= listEnd) {
        itemEnd = listEnd;
        last = 1;
      } else if (token.is("(")) {
        ++depth;
      } else if (token.is(")")) {
        if (depth > 0) --depth;
      } else if (depth == 0 && token.is(",")) {
        itemEnd = token.getStart();
      }
    }
    while (itemEnd > itemStart && !kvIsDbcsLeadByte(itemEnd[-1]) && kvCharIsSpace(itemEnd[-1])) --itemEnd;
    unsigned char* text = ramAllocStr(itemStart, uint32_t(itemEnd > itemStart ? itemEnd - itemStart : 0));
    if (!text) return kvFailure;
    bool isReference = false;
    ColumnReference ref;
    KvStatus status = classify(text, &isReference, &ref);
    if (status == kvSuccess)
      status = isReference ? referenceItems(statement, query, ref, text) : expressionItem(statement, query, text);
    ramFree(text);
    if (status != kvSuccess) return kvFailure;
    if (last) return kvSuccess;
  }
}
