// FlatStatement::prepareSelect: a SELECT with its UNION chain and its tail
// clauses (ORDER BY, FOR UPDATE OF), the union compatibility of the
// chain's result columns, and the description of the result.
//
// ORDER BY is compiled here, against the head query, into the head query's
// ORDER BY items, so that a position out of range, an unknown name or a
// DISTINCT conflict is refused when the statement is prepared; the sort
// stage reads the items.
#include "base/results/base_field.h"
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
#include "flat/sql/flat_select_parser.h"
#include "flat/sql/flat_sql_token.h"
#include "util/charsets/charset.h"
#include "util/memory/ram.h"

#include <cstring>
#include <initializer_list>

namespace {

struct Tail {
  const unsigned char* orderBegin = nullptr;
  const unsigned char* orderEnd = nullptr;
  const unsigned char* updateBegin = nullptr;
  const unsigned char* updateEnd = nullptr;
};

KvStatus expectWord(const unsigned char** p, const char* word) {
  FlatToken token;
  if (token.read(p, flatScanOperator) != kvSuccess) return kvFailure;
  if (token.is(word)) return kvSuccess;
  addFlatSyntaxError(msgMissingClause) << word;
  return kvFailure;
}

// ORDER BY and FOR UPDATE OF, each once, at depth 0, in either order.
KvStatus findTail(const unsigned char* p, Tail* tail) {
  const unsigned char** currentEnd = nullptr;
  int depth = 0;
  for (;;) {
    FlatToken token;
    if (token.read(&p, flatScanOperator) != kvSuccess) return kvFailure;
    const bool isOrder = depth == 0 && token.is("ORDER");
    const bool isFor = depth == 0 && token.is("FOR");
    if ((token.isEnd() || isOrder || isFor) && currentEnd) *currentEnd = token.getStart();
    if (token.isEnd()) return kvSuccess;
    if (isOrder || isFor) {
      if (isOrder ? tail->orderBegin != nullptr : tail->updateBegin != nullptr) {
        addFlatSyntaxError(msgKeywordTwice) << token.getText();
        return kvFailure;
      }
      if (isOrder) {
        if (expectWord(&p, "BY") != kvSuccess) return kvFailure;
        tail->orderBegin = p;
        currentEnd = &tail->orderEnd;
      } else {
        if (expectWord(&p, "UPDATE") != kvSuccess || expectWord(&p, "OF") != kvSuccess) return kvFailure;
        tail->updateBegin = p;
        currentEnd = &tail->updateEnd;
      }
      continue;
    }
    if (!currentEnd) {
      addFlatSyntaxError(msgExtraCharacters) << token.getText();
      return kvFailure;
    }
    if (token.is("(")) ++depth;
    else if (token.is(")") && depth > 0) --depth;
  }
}

bool isEmptyText(const unsigned char* begin, const unsigned char* end) { return flatSkipWhite(begin) >= end; }

KvStatus checkForUpdate(FlatStatement* statement, FlatSqlDesc* head, const unsigned char* begin,
                        const unsigned char* end) {
  if (head->getNextQuery()) {
    addFlatSyntaxError(msgUnionInUpdate);
    return kvFailure;
  }
  if (head->getTableCount() > 1) {
    addFlatSyntaxError(msgJoinInUpdate);
    return kvFailure;
  }
  if (head->getGroupByText()) {
    addFlatSyntaxError(msgGroupInUpdate);
    return kvFailure;
  }
  if (head->getFlags() & FlatSqlDesc::flagDistinct) {
    addFlatSyntaxError(msgDistinctInUpdate);
    return kvFailure;
  }
  unsigned char* list = ramAllocStr(begin, uint32_t(end - begin));
  if (!list) return kvFailure;
  // The names once to count them: "XXX" alone stands for no column list.
  KvStatus status = kvSuccess;
  uint32_t names = 0;
  bool xxx = false;
  const unsigned char* p = list;
  for (FlatToken token; status == kvSuccess;) {
    if ((status = token.read(&p, flatScanName)) != kvSuccess || token.isEnd()) break;
    if (token.is(",")) continue;
    xxx = ++names == 1 && token.is("XXX");
  }
  p = list;
  for (FlatToken token; status == kvSuccess && !(names == 1 && xxx);) {
    if ((status = token.read(&p, flatScanName)) != kvSuccess || token.isEnd()) break;
    if (token.is(",")) continue;
    unsigned char* name = ramAllocStr(token.getText(), token.getLength());
    if (!name || statement->getFlatConnection()->flatStripEngrave(name) != kvSuccess) {
      ramFree(name);
      status = kvFailure;
      break;
    }
    kvUpperText(name);
    uint16_t column = 0;
    const FlatColumnMatch match = flatFindColumn(head->getFirstTable(), name, &column);
    if (match == flatAmbiguousColumn) {
      status = kvFailure;
    } else if (match == flatNoColumn) {
      addFlatError(stateColumnNotFound, msgSelectFieldNotFound) << name;
      status = kvFailure;
    }
    ramFree(name);
  }
  ramFree(list);
  if (status != kvSuccess) return kvFailure;
  if (names == 0) {
    addFlatSyntaxError(msgMissingUpdateField);
    return kvFailure;
  }
  head->addFlags(FlatSqlDesc::flagForUpdate);
  return kvSuccess;
}

KvStatus compileOrderBy(FlatStatement* statement, FlatSqlDesc* head, const unsigned char* begin,
                        const unsigned char* end) {
  unsigned char* text = ramAllocStr(begin, uint32_t(end - begin));
  if (!text) return kvFailure;
  KvStatus status = statement->setOrderByText(begin, uint32_t(end - begin));
  const unsigned char* p = text;
  if (status == kvSuccess && head->getNextQuery()) {
    // A UNION is ordered by positions only.
    for (FlatToken token; status == kvSuccess;) {
      if ((status = token.read(&p, flatScanOperator)) != kvSuccess || token.isEnd()) break;
      if (!token.is(",") && !token.is("ASC") && !token.is("DESC") && !token.isNumber()) {
        addFlatSyntaxError(msgUnionOrderBy);
        status = kvFailure;
      }
    }
    p = text;
  }
  while (status == kvSuccess) {
    FlatCodeBuffer code;
    auto* item = new FlatOrderItem();
    if (!item) {
      KvErrorKeeper::addMemoryError();
      status = kvFailure;
      break;
    }
    if (head->getOrderItems().add(item) != kvSuccess) {
      delete item;
      status = kvFailure;
      break;
    }
    uint16_t length = 0;
    status = statement->compileExpr(head, nullptr, &p, &code, &item->type, &item->width,
                                    flatModeOrderBy | flatModeItemWidth, &length);
    if (status == kvSuccess && !(item->code = code.release())) status = kvFailure;
    FlatToken token;
    if (status == kvSuccess) status = token.read(&p, flatScanOperator);
    if (status == kvSuccess && (token.is("ASC") || token.is("DESC"))) {
      item->descending = token.is("DESC");
      status = token.read(&p, flatScanOperator);
    }
    if (status != kvSuccess || token.isEnd()) break;
    if (!token.is(",")) {
      addFlatSyntaxError(msgOrderBySyntax) << token.getText();
      status = kvFailure;
    }
  }
  ramFree(text);
  if (status == kvSuccess && (head->getFlags() & FlatSqlDesc::flagDistinct)) status = flatCheckDistinctOrderBy(head);
  return status;
}

// Result column types the first SELECT of a UNION (type t) accepts from a
// later one (type s), and how the result column changes.
KvStatus unionColumn(FlatSelectField* result, const FlatSelectField* other, uint16_t number) {
  const int16_t t = result->sqlType, s = other->sqlType;
  auto inSet = [](int16_t type, std::initializer_list<int16_t> set) {
    for (int16_t member : set)
      if (type == member) return true;
    return false;
  };
  bool accepted = true;
  switch (t) {
    case SQL_BIT:
      accepted = inSet(s, {SQL_NUMERIC, SQL_DECIMAL, SQL_DOUBLE, SQL_BIT});
      break;
    case SQL_LONGVARBINARY:
    case SQL_VARBINARY:
    case SQL_BINARY:
    case SQL_LONGVARCHAR:
    case SQL_CHAR:
    case SQL_VARCHAR:
      accepted = inSet(t, {SQL_LONGVARCHAR, SQL_CHAR, SQL_VARCHAR}) ? inSet(s, {SQL_CHAR, SQL_VARCHAR, SQL_LONGVARCHAR})
                                                                      : s == t;
      if (accepted && other->precision > result->precision) result->precision = other->precision;
      break;
    case SQL_NUMERIC:
    case SQL_DECIMAL:
      if (s == SQL_DOUBLE) {
        result->sqlType = SQL_DOUBLE;
      } else if (s == SQL_NUMERIC || s == SQL_DECIMAL) {
        int16_t scale = other->scale > result->scale ? other->scale : result->scale;
        int32_t digits = int32_t(result->precision) - result->scale;
        int32_t otherDigits = int32_t(other->precision) - other->scale;
        result->scale = scale;
        result->precision = uint32_t(scale + (otherDigits > digits ? otherDigits : digits));
      } else {
        accepted = 0;
      }
      break;
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_FLOAT:
    case SQL_DOUBLE:
      accepted = inSet(s, {SQL_NUMERIC, SQL_DECIMAL, SQL_INTEGER, SQL_SMALLINT, SQL_FLOAT, SQL_DOUBLE});
      break;
    case SQL_DATE:
    case SQL_TIME:
    case SQL_TIMESTAMP:
      accepted = s == t;
      break;
    default:
      break;
  }
  if (accepted) return kvSuccess;
  addFlatSyntaxError(msgUnionColumnTypes) << uint32_t(number);
  return kvFailure;
}

KvStatus checkUnion(FlatSqlDesc* head, FlatSqlDesc* other) {
  if (other->getItemCount() != head->getItemCount()) {
    addFlatSyntaxError(msgUnionColumnCount);
    return kvFailure;
  }
  for (uint16_t i = 0; i < head->getItemCount(); ++i)
    if (unionColumn(head->getItem(i), other->getItem(i), uint16_t(i + 1)) != kvSuccess) return kvFailure;
  return kvSuccess;
}

// The ODBC names of the SQL types, for result columns: static text that
// outlives the descriptors (a field's type name is never owned).
const unsigned char* sqlTypeName(int16_t sqlType) {
  static const struct {
    int16_t type;
    const char* name;
  } names[] = {{SQL_CHAR, "CHAR"},         {SQL_VARCHAR, "VARCHAR"},     {SQL_LONGVARCHAR, "LONGVARCHAR"},
               {SQL_NUMERIC, "NUMERIC"},   {SQL_DECIMAL, "DECIMAL"},     {SQL_INTEGER, "INTEGER"},
               {SQL_SMALLINT, "SMALLINT"}, {SQL_FLOAT, "FLOAT"},         {SQL_REAL, "REAL"},
               {SQL_DOUBLE, "DOUBLE"},     {SQL_DATE, "DATE"},           {SQL_TIME, "TIME"},
               {SQL_TIMESTAMP, "TIMESTAMP"}, {SQL_BIT, "BIT"},           {SQL_TINYINT, "TINYINT"},
               {SQL_BIGINT, "BIGINT"},     {SQL_BINARY, "BINARY"},       {SQL_VARBINARY, "VARBINARY"},
               {SQL_LONGVARBINARY, "LONGVARBINARY"}};
  for (const auto& n : names)
    if (n.type == sqlType) return reinterpret_cast<const unsigned char*>(n.name);
  return reinterpret_cast<const unsigned char*>("CHAR");
}

// Describes result column field from select item.
KvStatus describeColumn(BaseField* field, const FlatSelectField* item) {
  if (field->setText(&field->name, item->name) != kvSuccess) return kvFailure;
  if (field->setText(&field->label, nullptr) != kvSuccess) return kvFailure;
  const unsigned char* table = item->isPlainColumn() && item->table ? item->table->getTableName() : nullptr;
  if (field->setText(&field->tableName, table) != kvSuccess) return kvFailure;
  field->sqlType = item->sqlType;
  field->precision = item->precision;
  field->scale = item->scale;
  field->nullable = item->nullable;
  field->searchable = item->searchable;
  field->typeName = sqlTypeName(item->sqlType);
  field->attributes = uint16_t(item->attributes & ~FlatSelectField::attributeUnsigned);
  field->updatable = item->updatable;
  field->flags = (item->flags & FlatSelectField::flagNoSign) ? uint32_t(BaseField::flagNoSign) : 0u;
  if (item->attributes & FlatSelectField::attributeUnsigned) field->flags |= BaseField::flagUnsigned;
  return kvSuccess;
}

}  // namespace

KvStatus FlatStatement::setOrderByText(const unsigned char* text, uint32_t length) {
  unsigned char* copy = text ? ramAllocStr(text, length) : nullptr;
  if (text && !copy) return kvFailure;
  ramFree(orderByText_);
  orderByText_ = copy;
  return kvSuccess;
}

KvStatus FlatStatement::prepareSelect(const unsigned char* text, FlatSqlDesc** out, uint16_t mode) {
  FlatSqlDesc* head = allocSqlDesc();
  *out = head;
  if (!head) {
    if (!KvErrorKeeper::getLastError()) KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  const unsigned char* end = nullptr;
  if (flatParseQuery(this, head, text, (mode & 0x2) ? &end : nullptr) != kvSuccess) return kvFailure;

  // The result columns, one a select item (not for the query that an
  // INSERT, UPDATE or DELETE is rewritten into).
  if (mode & 0x1) {
    const uint16_t columns = head->getItemCount();
    if (columns > 0 && allocArrays(columns, arrayFields) != kvSuccess) return kvFailure;
    for (uint16_t i = 0; i < columns; ++i) {
      if (!fields_[i] && !(fields_[i] = allocFld())) return kvFailure;
      if (describeColumn(fields_[i], head->getItem(i)) != kvSuccess) return kvFailure;
    }
    fieldCount_ = columns;
  }

  FlatSqlDesc* last = head;
  while (end) {
    const unsigned char* p = end;
    FlatToken token;
    if (token.read(&p, flatScanOperator) != kvSuccess) return kvFailure;
    if (!token.is("UNION")) break;
    const unsigned char* select = p;
    FlatToken next;
    if (next.read(&p, flatScanOperator) != kvSuccess) return kvFailure;
    const bool all = next.is("ALL");
    if (all) select = p;
    FlatSqlDesc* query = allocSqlDesc();
    if (!query) {
      if (!KvErrorKeeper::getLastError()) KvErrorKeeper::addMemoryError();
      return kvFailure;
    }
    last->setNextQuery(query);
    last = query;
    if (all) {
      query->addFlags(FlatSqlDesc::flagUnionAll);
    } else {
      for (FlatSqlDesc* q = head; q; q = q->getNextQuery()) q->clearFlags(FlatSqlDesc::flagUnionAll);
    }
    FlatToken word;
    const unsigned char* at = select;
    if (word.read(&at, flatScanOperator) != kvSuccess) return kvFailure;
    if (!word.is("SELECT")) {
      addFlatSyntaxError(msgUnknownStatement);
      return kvFailure;
    }
    if (flatParseQuery(this, query, select, &end) != kvSuccess) return kvFailure;
    engineFlags_ |= stmtUnion;
    if (checkUnion(head, query) != kvSuccess) return kvFailure;
  }
  if (end) {
    Tail tail;
    if (findTail(end, &tail) != kvSuccess) return kvFailure;
    if (tail.orderBegin && isEmptyText(tail.orderBegin, tail.orderEnd)) {
      addFlatSyntaxError(msgEmptyClause);
      return kvFailure;
    }
    if (tail.updateBegin && checkForUpdate(this, head, tail.updateBegin, tail.updateEnd) != kvSuccess)
      return kvFailure;
    if (tail.orderBegin) {
      if (compileOrderBy(this, head, tail.orderBegin, tail.orderEnd) != kvSuccess) return kvFailure;
      engineFlags_ |= stmtSorted;
    }
  }
  engineFlags_ |= stmtFresh;
  return kvSuccess;
}
