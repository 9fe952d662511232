// The SELECT parser for one query: the SELECT keyword and DISTINCT, the
// FROM list (each table opened through the driver and the connection's
// table cache), the select list, and the clauses WHERE, GROUP BY and HAVING
// compiled by the expression compiler. See flat_select_parser.h.
//
// Clauses are found at parenthesis depth 0 (a subquery's own clauses stand
// inside its parentheses) and may come in any order; each runs to the next
// clause keyword or to the end of the query. WHERE and HAVING are compiled
// in the order they stand, so that parameter markers are numbered in the
// order of the text.
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
#include "util/os/bos.h"
#include "util/memory/ram.h"
#include "util/containers/str_functions.h"

#include <cstdio>
#include <cstring>

namespace {

// Words that end a FROM list.
const char* const fromStopWords[] = {"WHERE", "ORDER", "GROUP", "HAVING", "FOR", "UNION"};

bool isFromStopWord(const unsigned char* word) {
  for (const char* stop : fromStopWords)
    if (strEqualCi(word, reinterpret_cast<const unsigned char*>(stop))) return true;
  return false;
}

enum Clause { clauseWhere, clauseGroupBy, clauseHaving, clauseCount };

struct ClauseText {
  const unsigned char* begin = nullptr;  // behind the keyword; null when absent
  const unsigned char* end = nullptr;
};

// A NUL-terminated copy of a clause's text.
class ClauseCopy {
 public:
  ~ClauseCopy() { ramFree(text_); }
  KvStatus set(const ClauseText& clause) {
    text_ = ramAllocStr(clause.begin, uint32_t(clause.end - clause.begin));
    return text_ ? kvSuccess : kvFailure;
  }
  const unsigned char* get() const { return text_; }

 private:
  unsigned char* text_ = nullptr;
};

KvStatus parseFromList(FlatStatement* statement, FlatSqlDesc* query, const unsigned char** p) {
  FlatConnection* connection = statement->getFlatConnection();
  for (;;) {
    FlatFileDesc* table = nullptr;
    if (statement->allocFileDesc(&table) != kvSuccess || !table) return kvFailure;
    if (query->addTable(table) != kvSuccess) {
      delete table;
      return kvFailure;
    }
    unsigned char* name = nullptr;
    if (query->parseTableName(p, table, &name) != kvSuccess) return kvFailure;
    unsigned char path[bosPathBytes];
    KvStatus status = table->setTableName(name);
    if (status == kvSuccess) status = connection->resolveTableName(nullptr, name, path);
    ramFree(name);
    if (status != kvSuccess || table->openTable(path, statement) != kvSuccess) return kvFailure;
    query->addColumnTotal(table->getShared()->getColumnCount());

    // Behind the name: ",", a stop word, or a correlation name.
    const unsigned char* behind = flatSkipWhite(*p);
    if (*behind == ',') {
      *p = behind + 1;
      continue;
    }
    unsigned char* correlation = nullptr;
    const unsigned char* after = behind;
    if (flatReadName(&after, &correlation) != kvSuccess) return kvFailure;
    if (!correlation || isFromStopWord(correlation)) {
      ramFree(correlation);
      *p = behind;
      return kvSuccess;
    }
    *p = after;
    status = connection->flatStripEngrave(correlation);
    if (status == kvSuccess) status = table->setCorrelationName(correlation);
    ramFree(correlation);
    if (status != kvSuccess) return kvFailure;
    FlatToken next;
    if (next.read(p, flatScanOperator) != kvSuccess) return kvFailure;
    if (!next.is(",")) {
      *p = next.getStart();
      return kvSuccess;
    }
  }
}

// Finds WHERE, GROUP BY and HAVING at depth 0 behind the FROM list. The
// query ends at ORDER, UNION or FOR (when end is given) or at the end of
// the text.
KvStatus findClauses(const unsigned char* p, ClauseText* clauses, const unsigned char** end) {
  static const char* const names[clauseCount] = {"WHERE", "GROUP", "HAVING"};
  int current = -1;
  int depth = 0;
  if (end) *end = nullptr;
  for (;;) {
    FlatToken token;
    if (token.read(&p, flatScanOperator) != kvSuccess) return kvFailure;
    const unsigned char* stop = token.getStart();
    int keyword = -1;
    if (depth == 0)
      for (int c = 0; c < clauseCount; ++c)
        if (token.is(names[c])) keyword = c;
    const bool ends = token.isEnd() || (depth == 0 && (token.is("ORDER") || token.is("UNION") || token.is("FOR")));
    if ((ends || keyword >= 0) && current >= 0) clauses[current].end = stop;
    if (token.isEnd()) return kvSuccess;
    if (ends) {
      if (!end) {
        addFlatSyntaxError(msgExtraCharacters) << token.getText();
        return kvFailure;
      }
      *end = stop;
      return kvSuccess;
    }
    if (keyword >= 0) {
      if (clauses[keyword].begin) {
        addFlatSyntaxError(msgKeywordTwice) << token.getText();
        return kvFailure;
      }
      if (keyword == clauseGroupBy) {
        FlatToken by;
        if (by.read(&p, flatScanOperator) != kvSuccess) return kvFailure;
        if (!by.is("BY")) {
          addFlatSyntaxError(msgMissingClause) << "BY";
          return kvFailure;
        }
      }
      clauses[keyword].begin = p;
      current = keyword;
      continue;
    }
    if (current < 0) {
      addFlatSyntaxError(msgExtraCharacters) << token.getText();
      return kvFailure;
    }
    if (token.is("(")) ++depth;
    else if (token.is(")") && depth > 0) --depth;
  }
}

// A condition (WHERE or HAVING) into a logical program.
KvStatus compileCondition(FlatStatement* statement, FlatSqlDesc* query, const unsigned char* text, uint16_t mode,
                          uint8_t** program) {
  FlatCodeBuffer code;
  int16_t type = 0;
  uint16_t width = 0, length = 0;
  const unsigned char* p = text;
  if (statement->compileExpr(query, nullptr, &p, &code, &type, &width, mode, &length) != kvSuccess)
    return kvFailure;
  if (type != flatTypeLogical) {
    addFlatSyntaxError(msgWhereNotLogical);
    return kvFailure;
  }
  *program = code.release();
  return *program ? kvSuccess : kvFailure;
}

KvStatus compileWhere(FlatStatement* statement, FlatSqlDesc* query, const unsigned char* text) {
  // WHERE CURRENT OF cursor.
  FlatToken first;
  const unsigned char* p = text;
  if (first.read(&p, flatScanOperator) != kvSuccess) return kvFailure;
  if (first.is("CURRENT")) {
    FlatToken of;
    if (of.read(&p, flatScanOperator) != kvSuccess) return kvFailure;
    if (!of.is("OF")) {
      addFlatSyntaxError(msgMissingClause) << "OF";
      return kvFailure;
    }
  }
  uint8_t* program = nullptr;
  if (compileCondition(statement, query, text, flatModeWhere, &program) != kvSuccess) return kvFailure;
  query->setWhereCode(program);
  query->addFlags(FlatSqlDesc::flagHasWhere);
  return kvSuccess;
}

// GROUP BY: one program an item.
KvStatus compileGroupBy(FlatStatement* statement, FlatSqlDesc* query, const ClauseText& clause) {
  ClauseCopy text;
  if (text.set(clause) != kvSuccess ||
      query->setGroupByText(clause.begin, uint32_t(clause.end - clause.begin)) != kvSuccess)
    return kvFailure;
  const unsigned char* p = text.get();
  for (;;) {
    FlatCodeBuffer code;
    int16_t type = 0;
    uint16_t width = 0, length = 0;
    if (statement->compileExpr(query, nullptr, &p, &code, &type, &width, flatModeGroupBy | flatModeOrderBy,
                               &length) != kvSuccess)
      return kvFailure;
    uint8_t* program = code.release();
    if (!program) return kvFailure;
    if (query->getGroupByCodes().add(program) != kvSuccess) {
      ramFree(program);
      return kvFailure;
    }
    query->getGroupByTypes().push_back(FlatSqlDesc::GroupByType{type, width});
    FlatToken next;
    if (next.read(&p, flatScanOperator) != kvSuccess) return kvFailure;
    if (next.isEnd()) return kvSuccess;
    if (!next.is(",")) {
      addFlatSyntaxError(msgInvalidOperator) << next.getText();
      return kvFailure;
    }
  }
}

// Where program (length bytes, no terminator) stands in code at an
// instruction boundary, from position from on; -1 when nowhere.
int32_t findAtBoundary(const uint8_t* code, const uint8_t* program, uint32_t length, uint32_t from) {
  const uint8_t* op = code;
  while (*op != opEnd && uint32_t(op - code) < from) op = getNextOp(op);
  for (; *op != opEnd; op = getNextOp(op))
    if (std::memcmp(op, program, length) == 0) return int32_t(op - code);
  return -1;
}

// HAVING may refer to columns only through the GROUP BY items: each item's
// program is blotted out of a copy of the HAVING program, and a column left
// afterwards is refused.
KvStatus checkHavingColumns(FlatSqlDesc* query) {
  const uint8_t* having = query->getHavingCode();
  uint32_t length = flatProgramLength(having);
  auto* copy = static_cast<uint8_t*>(ramAlloc(length));
  if (!copy) return kvFailure;
  std::memcpy(copy, having, length);
  KvArrayPVoid& items = query->getGroupByCodes();
  for (uint16_t i = 0; i < items.getCount(); ++i) {
    const auto* item = static_cast<const uint8_t*>(items.getAt(i));
    uint32_t itemLength = flatProgramLength(item) - 1;
    if (itemLength == 0) continue;
    for (int32_t at = 0; (at = findAtBoundary(copy, item, itemLength, uint32_t(at))) >= 0;)
      std::memset(copy + at, opNoOp, itemLength);
  }
  KvStatus status = kvSuccess;
  for (const uint8_t* op = copy; *op != opEnd; op = getNextOp(op))
    if (*op == opColumn) status = kvFailure;
  ramFree(copy);
  if (status != kvSuccess) addFlatSyntaxError(msgHavingWithoutGroup);
  return status;
}

// A table is the optional side of an outer join when one of its columns is
// the right operand of a "*=" or the left operand of a "=*" comparison.
void markOuterJoins(FlatStatement* statement, FlatSqlDesc* query) {
  enum { maxOperands = 256 };
  const uint8_t* code = query->getWhereCode();
  uint32_t starts[maxOperands];
  uint16_t depth = 0;
  uint8_t pending = 0;
  for (const uint8_t* op = code; *op != opEnd; op = getNextOp(op)) {
    const uint32_t at = uint32_t(op - code);
    if (*op == opOuterLeft || *op == opOuterRight) {
      pending = *op;
      continue;
    }
    if (pending && *op == opEqual && depth >= 2) {
      uint32_t left = starts[depth - 2], right = starts[depth - 1];
      uint32_t begin = pending == opOuterLeft ? right : left;
      uint32_t end = pending == opOuterLeft ? at - 1 : right;  // the prefix byte stands before the comparison
      if (end - begin == 7 && code[begin] == opColumn) {
        FlatFileDesc* table = statement->getTableByHandle(flatOperandU32(code + begin + 1));
        for (FlatFileDesc* own = query->getFirstTable(); own && table; own = own->getNextTable())
          if (own == table) table->setTableFlags(table->getTableFlags() | FlatFileDesc::tableOuterOptional);
      }
    }
    pending = 0;
    uint16_t pops = 0, pushes = 0;
    flatStackEffect(op, &pops, &pushes);
    if (pops > depth) return;
    uint32_t start = pops ? starts[depth - pops] : at;
    depth = uint16_t(depth - pops);
    for (uint16_t i = 0; i < pushes; ++i) {
      if (depth >= maxOperands) return;
      starts[depth++] = start;
    }
  }
}

// Long columns that the select list does not name need not be read (on a
// connection that reads long columns only when selected).
void markLongColumns(FlatSqlDesc* query) {
  for (FlatFileDesc* table = query->getFirstTable(); table; table = table->getNextTable()) {
    FlatSharedDesc* shared = table->getShared();
    for (uint16_t c = 0; c < shared->getColumnCount(); ++c) {
      FlatFileField* field = table->getColumn(c);
      if (!field || shared->getColumn(c)->isSearchable() != SQL_UNSEARCHABLE) continue;
      bool selected = false;
      for (uint16_t i = 0; i < query->getItemCount(); ++i) {
        FlatSelectField* item = query->getItem(i);
        selected |= item->isPlainColumn() && item->table == table && item->column == c;
      }
      if (selected) field->setFlags(field->getFlags() & ~uint32_t(FlatFileField::flagNotRead));
      else field->setFlags(field->getFlags() | FlatFileField::flagNotRead);
    }
  }
}

}  // namespace

bool flatTableAnswersTo(FlatFileDesc* table, const unsigned char* qualifier) {
  if (const unsigned char* correlation = table->getCorrelationName()) return strEqualCi(correlation, qualifier);
  FlatSharedDesc* shared = table->getShared();
  if (shared && shared->getBaseName() && strEqualCi(shared->getBaseName(), qualifier)) return true;
  return table->getTableName() && strEqualCi(table->getTableName(), qualifier);
}

FlatColumnMatch flatFindColumn(FlatFileDesc* table, const unsigned char* name, uint16_t* column) {
  FlatSharedDesc* shared = table->getShared();
  const uint16_t count = shared ? shared->getColumnCount() : 0;
  for (uint16_t c = 0; c < count; ++c) {
    const unsigned char* fieldName = shared->getColumn(c)->getName();
    if (fieldName && std::strcmp(reinterpret_cast<const char*>(fieldName), reinterpret_cast<const char*>(name)) == 0) {
      *column = c;
      return flatOneColumn;
    }
  }
  const unsigned char* first = nullptr;
  for (uint16_t c = 0; c < count; ++c) {
    const unsigned char* fieldName = shared->getColumn(c)->getName();
    if (!fieldName || !strEqualCi(fieldName, name)) continue;
    if (first) {
      KvError& error = addFlatError(stateColumnNotFound, msgDuplicateField) << name;
      if (!error.isStatic()) {
        char reason[600];
        std::snprintf(reason, sizeof(reason), " The name matches both '%.255s' and '%.255s', which differ only in case.",
                      reinterpret_cast<const char*>(first), reinterpret_cast<const char*>(fieldName));
        error.appendText(reinterpret_cast<const unsigned char*>(reason));
      }
      return flatAmbiguousColumn;
    }
    first = fieldName;
    *column = c;
  }
  return first ? flatOneColumn : flatNoColumn;
}

KvStatus flatParseQuery(FlatStatement* statement, FlatSqlDesc* query, const unsigned char* text,
                        const unsigned char** end) {
  const unsigned char* p = text;
  FlatToken token;
  if (token.read(&p, flatScanOperator) != kvSuccess) return kvFailure;
  if (!token.is("SELECT")) {
    addFlatSyntaxError(msgUnknownStatement);
    return kvFailure;
  }
  query->addFlags(FlatSqlDesc::flagNoResult);
  const unsigned char* listStart = p;
  if (token.read(&p, flatScanOperator) != kvSuccess) return kvFailure;
  if (token.is("DISTINCT")) {
    query->addFlags(FlatSqlDesc::flagDistinct);
    listStart = p;
  } else if (token.is("ALL")) {
    listStart = p;
  }
  // The select list runs to FROM at depth 0.
  p = listStart;
  const unsigned char* listEnd = nullptr;
  for (int depth = 0; !listEnd;) {
    if (token.read(&p, flatScanOperator) != kvSuccess) return kvFailure;
    if (token.isEnd()) {
      addFlatSyntaxError(msgMissingClause) << "FROM";
      return kvFailure;
    }
    if (token.is("(")) ++depth;
    else if (token.is(")") && depth > 0) --depth;
    else if (depth == 0 && token.is("FROM")) listEnd = token.getStart();
  }
  if (parseFromList(statement, query, &p) != kvSuccess) return kvFailure;
  if (flatParseSelectList(statement, query, listStart, listEnd) != kvSuccess) return kvFailure;

  ClauseText clauses[clauseCount];
  if (findClauses(p, clauses, end) != kvSuccess) return kvFailure;
  for (const ClauseText& clause : clauses) {
    if (clause.begin && flatSkipWhite(clause.begin) >= clause.end) {
      addFlatSyntaxError(msgEmptyClause);
      return kvFailure;
    }
  }
  if (clauses[clauseHaving].begin && !clauses[clauseGroupBy].begin) {
    addFlatSyntaxError(msgHavingWithoutGroup);
    return kvFailure;
  }
  // WHERE and HAVING in the order they stand; GROUP BY has no markers.
  Clause order[2] = {clauseWhere, clauseHaving};
  if (clauses[clauseHaving].begin && clauses[clauseWhere].begin &&
      clauses[clauseHaving].begin < clauses[clauseWhere].begin) {
    order[0] = clauseHaving;
    order[1] = clauseWhere;
  }
  for (Clause which : order) {
    const ClauseText& clause = clauses[which];
    if (!clause.begin) continue;
    ClauseCopy copy;
    if (copy.set(clause) != kvSuccess) return kvFailure;
    if (which == clauseWhere) {
      if (compileWhere(statement, query, copy.get()) != kvSuccess) return kvFailure;
    } else {
      uint8_t* program = nullptr;
      if (compileCondition(statement, query, copy.get(), flatModeHaving, &program) != kvSuccess) return kvFailure;
      query->setHavingCode(program);
      query->addFlags(FlatSqlDesc::flagHasHaving);
    }
  }
  if (query->getWhereCode() && query->getTableCount() > 1) markOuterJoins(statement, query);
  if (clauses[clauseGroupBy].begin) {
    if (compileGroupBy(statement, query, clauses[clauseGroupBy]) != kvSuccess) return kvFailure;
    if (flatCheckGroupByCoverage(query) != kvSuccess) return kvFailure;
    if (query->getHavingCode() && checkHavingColumns(query) != kvSuccess) return kvFailure;
  }
  if (statement->getFlatConnection()->getEngineFlags() & flatLongWhenSelected) markLongColumns(query);
  query->setRowCount(-1);
  return kvSuccess;
}

KvStatus flatCheckGroupByCoverage(FlatSqlDesc* query) {
  KvArrayPVoid& groups = query->getGroupByCodes();
  for (uint16_t i = 0; i < query->getItemCount(); ++i) {
    FlatSelectField* item = query->getItem(i);
    bool covered = false;
    if (item->isPlainColumn()) {
      uint8_t column[8] = {opColumn, 0, 0, 0, 0, 0, 0, opEnd};
      const uint32_t handle = item->table ? item->table->getTableHandle() : 0;
      for (int b = 0; b < 4; ++b) column[1 + b] = uint8_t(handle >> (8 * b));
      column[5] = uint8_t(item->column);
      column[6] = uint8_t(item->column >> 8);
      for (uint16_t g = 0; g < groups.getCount() && !covered; ++g)
        covered = std::memcmp(groups.getAt(g), column, sizeof(column)) == 0;
    } else {
      bool hasColumn = false;
      for (const uint8_t* op = item->code; *op != opEnd && !hasColumn; op = getNextOp(op))
        hasColumn = *op == opColumn;
      uint32_t length = flatProgramLength(item->code) - 1;
      covered = !hasColumn;
      for (uint16_t g = 0; g < groups.getCount() && !covered; ++g)
        covered = findAtBoundary(static_cast<const uint8_t*>(groups.getAt(g)), item->code, length, 0) >= 0;
    }
    if (!covered) {
      addFlatSyntaxError(msgGroupByCoverage);
      return kvFailure;
    }
  }
  return kvSuccess;
}

KvStatus flatCheckDistinctOrderBy(FlatSqlDesc* head) {
  KvArray& orders = head->getOrderItems();
  for (uint16_t o = 0; o < orders.getCount(); ++o) {
    const uint8_t* order = static_cast<FlatOrderItem*>(orders.getAt(o))->code;
    const uint32_t length = flatProgramLength(order);
    bool found = false;
    for (uint16_t i = 0; i < head->getItemCount() && !found; ++i) {
      FlatSelectField* item = head->getItem(i);
      if (item->isPlainColumn()) {
        found = length == 8 && order[0] == opColumn && item->table &&
                flatOperandU32(order + 1) == item->table->getTableHandle() && flatOperandU16(order + 5) == item->column;
      } else {
        found = flatProgramLength(item->code) == length && std::memcmp(item->code, order, length) == 0;
      }
    }
    if (!found) {
      addFlatSyntaxError(msgDistinctOrderBy);
      return kvFailure;
    }
  }
  return kvSuccess;
}
