// The parse half of INSERT, UPDATE and DELETE: each statement is rewritten
// into a SELECT over its target table (see flat_dml.h for the select
// lists), prepared by the query parser, and its column/value pairs are
// checked. The SELECT text is built in a buffer of the statement's length
// + 128 bytes, which every rewriting fits (each adds fewer than 128 bytes
// of its own); the builder still refuses to run past it.
#include "flat/sql/flat_dml.h"

#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "flat/connection/flat_connection.h"
#include "flat/connection/flat_file_desc.h"
#include "flat/connection/flat_shared_desc.h"
#include "flat/exec/flat_param_values.h"
#include "flat/exec/flat_statement.h"
#include "flat/expr/flat_byte_code.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "flat/sql/flat_select_field.h"
#include "flat/sql/flat_sql_token.h"
#include "util/charsets/charset.h"
#include "util/memory/ram.h"
#include "util/containers/str_functions.h"

#include <cstring>

namespace {

enum : uint32_t { selectSlackBytes = 128 };

// The SELECT text being built; a ramAlloc buffer of a fixed capacity.
class SelectText {
 public:
  explicit SelectText(uint32_t statementLength) : capacity_(statementLength + selectSlackBytes) {
    data_ = static_cast<unsigned char*>(ramAlloc(capacity_ + 1));
    if (data_) data_[0] = 0;
  }
  ~SelectText() { ramFree(data_); }
  SelectText(const SelectText&) = delete;
  SelectText& operator=(const SelectText&) = delete;

  KvStatus ready() const {
    if (data_) return kvSuccess;
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  KvStatus append(const unsigned char* text, uint32_t length) {
    if (uint64_t(length_) + length > capacity_) {
      addOdbcError(stateGeneral);
      return kvFailure;
    }
    std::memcpy(data_ + length_, text, length);
    length_ += length;
    data_[length_] = 0;
    return kvSuccess;
  }
  KvStatus append(const char* text) {
    return append(reinterpret_cast<const unsigned char*>(text), uint32_t(std::strlen(text)));
  }
  KvStatus append(const unsigned char* begin, const unsigned char* end) {
    return append(begin, end > begin ? uint32_t(end - begin) : 0);
  }
  const unsigned char* get() const { return data_; }

 private:
  unsigned char* data_ = nullptr;
  uint32_t capacity_;
  uint32_t length_ = 0;
};

KvStatus notCapable() {
  addOdbcError(stateNotCapable);
  return kvFailure;
}

KvStatus checkCapability(FlatStatement* statement, uint32_t flag) {
  if (statement->getFlatConnection()->getEngineFlags() & flag) return kvSuccess;
  return notCapable();
}

// The end of text without its trailing white space.
const unsigned char* trimEnd(const unsigned char* begin, const unsigned char* end) {
  while (end > begin && !kvIsDbcsLeadByte(end[-1]) && kvCharIsSpace(end[-1])) --end;
  return end;
}

// Reads a table name at *p; none gives missing (a message id).
KvStatus readTableName(const unsigned char** p, uint16_t missing) {
  unsigned char* name = nullptr;
  if (flatReadName(p, &name) != kvSuccess) return kvFailure;
  if (!name) {
    addFlatSyntaxError(missing);
    return kvFailure;
  }
  ramFree(name);
  return kvSuccess;
}

// Skips the balanced parenthesised list that starts at *p (at its "(");
// the end of the text inside it gives unclosed.
KvStatus skipBalanced(const unsigned char** p, uint16_t unclosed) {
  int depth = 0;
  do {
    FlatToken token;
    if (token.read(p, flatScanOperator) != kvSuccess) return kvFailure;
    if (token.isEnd()) {
      addFlatSyntaxError(unclosed);
      return kvFailure;
    }
    if (token.is("(")) ++depth;
    else if (token.is(")")) --depth;
  } while (depth > 0);
  return kvSuccess;
}

bool nextIsParen(const unsigned char* p) { return *flatSkipWhite(p) == '('; }

// A value of a list: tokens up to a "," or ")" at depth 0. *p ends behind
// that token, *valueEnd before it and *last says it was ")"; the end of
// the text first gives unclosed.
KvStatus readListValue(const unsigned char** p, const unsigned char** valueEnd, bool* last, uint16_t unclosed) {
  int depth = 0;
  for (;;) {
    FlatToken token;
    if (token.read(p, flatScanOperator) != kvSuccess) return kvFailure;
    if (token.isEnd()) {
      addFlatSyntaxError(unclosed);
      return kvFailure;
    }
    if (depth == 0 && (token.is(",") || token.is(")"))) {
      *valueEnd = token.getStart();
      *last = token.is(")");
      return kvSuccess;
    }
    if (token.is("(")) ++depth;
    else if (token.is(")")) --depth;
  }
}

// The program is one parameter marker and nothing else.
bool isLoneParameter(const uint8_t* code, uint16_t* marker) {
  if (!code || code[0] != opParameter || code[3] != opEnd) return false;
  *marker = flatOperandU16(code + 1);
  return true;
}

// Binary and character types count as one.
int16_t typeClass(int16_t type) {
  switch (type) {
    case SQL_LONGVARBINARY:
    case SQL_VARBINARY:
    case SQL_BINARY:
    case SQL_LONGVARCHAR:
    case SQL_CHAR:
    case SQL_VARCHAR:
      return SQL_CHAR;
    default:
      return type;
  }
}

}  // namespace

bool flatDmlTypesCompatible(int16_t columnType, int16_t valueType) {
  const int16_t column = typeClass(columnType), value = typeClass(valueType);
  if (column == value || column == flatTypeAny || value == flatTypeAny) return true;
  return column == SQL_BIT && (value == SQL_BIT || value == SQL_DOUBLE);
}

// ---------------------------------------------------------------- FlatDmlDesc

FlatDmlDesc::~FlatDmlDesc() { delete query_; }

KvStatus FlatDmlDesc::prepareQuery(const unsigned char* select, bool forUpdate) {
  delete query_;
  query_ = nullptr;
  // The FOR UPDATE tail needs the parser's tail clauses; a query rewritten
  // from an UPDATE or DELETE may not have ORDER BY among them.
  if (statement_->prepareSelect(select, &query_, forUpdate ? 0x2 : 0) != kvSuccess) return kvFailure;
  if (statement_->getOrderByText()) {
    addFlatSyntaxError(msgExtraCharacters) << "ORDER BY";
    return kvFailure;
  }
  if (!query_->getFirstTable()) {
    addOdbcError(stateGeneral);
    return kvFailure;
  }
  if (statement_->getFlatConnection()->getEngineFlags() & flatReadOnly) {
    addFlatError(stateGeneral, msgTableReadOnly);
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus FlatDmlDesc::checkPairs(uint16_t step, uint16_t valueBase, uint16_t mismatch) {
  FlatParamValues* params = statement_->getParamValues();
  for (uint16_t k = 0; k < pairs_; ++k) {
    FlatSelectField* column = query_->getItem(uint16_t(k * step));
    FlatSelectField* value = query_->getItem(uint16_t(valueBase + k * step));
    if (!column || !value) {
      addOdbcError(stateGeneral);
      return kvFailure;
    }
    if (!column->isPlainColumn() || !column->table) {
      addFlatSyntaxError(msgExpressionAsColumn);
      return kvFailure;
    }
    uint16_t marker = 0;
    if (!value->isPlainColumn() && isLoneParameter(value->code, &marker)) {
      // The marker takes the column's type, by which the bound value is
      // checked and converted; a BIT column takes numbers.
      const int16_t type = column->engineType == SQL_BIT ? int16_t(SQL_DOUBLE) : column->engineType;
      if (params->setMarkerType(marker, type) != kvSuccess) return kvFailure;
      value->engineType = type;
      continue;
    }
    if (!flatDmlTypesCompatible(column->engineType, value->engineType)) {
      addFlatSyntaxError(mismatch);
      return kvFailure;
    }
  }
  return kvSuccess;
}

FlatInsertDesc::~FlatInsertDesc() = default;
FlatUpdateDesc::~FlatUpdateDesc() = default;
FlatDeleteDesc::~FlatDeleteDesc() = default;

// ---------------------------------------------------------------- INSERT

// INSERT INTO table [option list] [(columns)] VALUES (values)
//   -> SELECT columns-or-*,values FROM table [option list]
KvStatus FlatInsertDesc::parse(const unsigned char* text, uint32_t* position) {
  if (checkCapability(statement_, flatInsertAllowed) != kvSuccess) return kvFailure;
  const unsigned char* p = text + *position;
  SelectText select(uint32_t(std::strlen(reinterpret_cast<const char*>(p))));
  if (select.ready() != kvSuccess) return kvFailure;
  FlatToken word;
  if (word.read(&p, flatScanOperator) != kvSuccess) return kvFailure;  // INSERT
  FlatToken into;
  if (into.read(&p, flatScanOperator) != kvSuccess) return kvFailure;
  if (!into.is("INTO")) {
    addFlatSyntaxError(msgMissingInto);
    return kvFailure;
  }
  const unsigned char* tableBegin = p;
  if (readTableName(&p, msgMissingInsertTable) != kvSuccess) return kvFailure;
  if (nextIsParen(p)) {
    uint16_t isList = 0;
    if (statement_->isOptionList(flatSkipWhite(p), &isList) != kvSuccess) return kvFailure;
    if (isList && skipBalanced(&p, msgMissingValues) != kvSuccess) return kvFailure;
  }
  const unsigned char* tableEnd = p;

  const unsigned char* columnsBegin = nullptr;
  const unsigned char* columnsEnd = nullptr;
  if (nextIsParen(p)) {
    FlatToken open;
    if (open.read(&p, flatScanOperator) != kvSuccess) return kvFailure;
    columnsBegin = p;
    for (;;) {
      // Names are runs: "(a+1)" is one name, which the query makes an
      // expression item (3856); "(a + 1)" is a name and a stray "+".
      FlatToken name;
      if (name.read(&p, flatScanName) != kvSuccess) return kvFailure;
      if (name.isEnd() || name.is(",") || name.is(")")) {
        addFlatSyntaxError(msgInsertColumnList);
        return kvFailure;
      }
      FlatToken separator;
      if (separator.read(&p, flatScanOperator) != kvSuccess) return kvFailure;
      if (separator.is(")")) {
        columnsEnd = separator.getStart();
        break;
      }
      if (!separator.is(",")) {
        addFlatSyntaxError(msgInsertColumnList);
        return kvFailure;
      }
    }
  }
  FlatToken values;
  if (values.read(&p, flatScanOperator) != kvSuccess) return kvFailure;
  if (!values.is("VALUES")) {
    addFlatSyntaxError(msgMissingValues);
    return kvFailure;
  }
  FlatToken open;
  if (open.read(&p, flatScanOperator) != kvSuccess) return kvFailure;
  if (!open.is("(")) {
    addFlatSyntaxError(msgMissingInsertParen);
    return kvFailure;
  }

  KvStatus status = select.append("SELECT ");
  if (status == kvSuccess) {
    status = columnsBegin ? select.append(flatSkipWhite(columnsBegin), trimEnd(columnsBegin, columnsEnd))
                          : select.append("*");
  }
  uint16_t count = 0;
  for (bool last = false; status == kvSuccess && !last;) {
    const unsigned char* valueBegin = p;
    const unsigned char* valueEnd = nullptr;
    if (readListValue(&p, &valueEnd, &last, msgInsertValueList) != kvSuccess) return kvFailure;
    if (count == 0xFFFF) {
      addFlatSyntaxError(msgInsertValueCount);
      return kvFailure;
    }
    ++count;
    status = select.append(",");
    if (status == kvSuccess) status = select.append(flatSkipWhite(valueBegin), trimEnd(valueBegin, valueEnd));
  }
  if (status == kvSuccess) status = select.append(" FROM ");
  if (status == kvSuccess) status = select.append(flatSkipWhite(tableBegin), trimEnd(tableBegin, tableEnd));
  if (status != kvSuccess) return kvFailure;
  *position = uint32_t(p - text);

  if (prepareQuery(select.get(), 0) != kvSuccess) return kvFailure;
  if (query_->getItemCount() != uint32_t(count) * 2) {
    addFlatError(stateInsertValueList, msgInsertValueCount);
    return kvFailure;
  }
  pairs_ = count;
  return checkPairs(1, count, msgInsertTypeMismatch);
}

// ---------------------------------------------------------------- UPDATE

// UPDATE table [options] [correlation [options]] SET column = value, ...
// [WHERE condition]
//   -> SELECT column,value,... FROM table ... [WHERE condition]
//      FOR UPDATE OF XXX
KvStatus FlatUpdateDesc::parse(const unsigned char* text, uint32_t* position) {
  if (checkCapability(statement_, flatUpdateAllowed) != kvSuccess) return kvFailure;
  const unsigned char* p = text + *position;
  const uint32_t length = uint32_t(std::strlen(reinterpret_cast<const char*>(p)));
  SelectText select(length);
  if (select.ready() != kvSuccess) return kvFailure;
  FlatToken word;
  if (word.read(&p, flatScanOperator) != kvSuccess) return kvFailure;  // UPDATE
  const unsigned char* tableBegin = p;
  if (readTableName(&p, msgMissingUpdateTable) != kvSuccess) return kvFailure;
  if (nextIsParen(p) && skipBalanced(&p, msgMissingSet) != kvSuccess) return kvFailure;
  const unsigned char* tableEnd = p;

  // A correlation name may stand before SET; the assignments may qualify
  // their columns with it.
  unsigned char correlation[kvButtokenBufferBytes + 1] = {};
  uint32_t correlationLength = 0;
  FlatToken set;
  if (set.read(&p, flatScanOperator) != kvSuccess) return kvFailure;
  if (!set.isEnd() && !set.is("SET") && !set.isPunctuation()) {
    correlationLength = set.getLength() < kvButtokenBufferBytes ? set.getLength() : kvButtokenBufferBytes;
    std::memcpy(correlation, set.getText(), correlationLength);
    if (nextIsParen(p) && skipBalanced(&p, msgMissingSet) != kvSuccess) return kvFailure;
    tableEnd = p;
    if (set.read(&p, flatScanOperator) != kvSuccess) return kvFailure;
  }
  if (!set.is("SET")) {
    addFlatSyntaxError(msgMissingSet);
    return kvFailure;
  }

  KvStatus status = select.append("SELECT ");
  const unsigned char* whereRest = nullptr;
  uint16_t count = 0;
  for (bool more = true; status == kvSuccess && more;) {
    FlatToken column;
    if (column.read(&p, flatScanOperand) != kvSuccess) return kvFailure;
    if (column.isEnd() || column.is(",") || column.is("=")) {
      addFlatSyntaxError(msgMissingUpdateColumn);
      return kvFailure;
    }
    const unsigned char* columnText = column.getStart();
    const unsigned char* columnEnd = p;
    if (correlationLength && uint32_t(columnEnd - columnText) > correlationLength + 1 &&
        columnText[correlationLength] == '.' &&
        strEqualCi(columnText, correlationLength, correlation, correlationLength))
      columnText += correlationLength + 1;
    FlatToken equals;
    if (equals.read(&p, flatScanOperator) != kvSuccess) return kvFailure;
    if (!equals.is("=")) {
      unsigned char* name = ramAllocStr(columnText, uint32_t(columnEnd - columnText));
      addFlatSyntaxError(msgMissingEquals) << (name ? name : column.getText());
      ramFree(name);
      return kvFailure;
    }
    // The value runs to a "," or the word WHERE at depth 0, or to the end.
    const unsigned char* valueBegin = p;
    const unsigned char* valueEnd = nullptr;
    more = 0;
    for (int depth = 0; !valueEnd;) {
      FlatToken token;
      if (token.read(&p, flatScanOperator) != kvSuccess) return kvFailure;
      const bool atTop = depth == 0;
      if (token.isEnd() || (atTop && (token.is(",") || token.is("WHERE")))) {
        if (depth != 0) {
          unsigned char* name = ramAllocStr(columnText, uint32_t(columnEnd - columnText));
          addFlatSyntaxError(msgUpdateParentheses) << (name ? name : column.getText());
          ramFree(name);
          return kvFailure;
        }
        valueEnd = token.isEnd() ? p : token.getStart();
        more = token.is(",");
        if (token.is("WHERE")) whereRest = p;
      } else if (token.is("(")) {
        ++depth;
      } else if (token.is(")")) {
        if (--depth < 0) {
          unsigned char* name = ramAllocStr(columnText, uint32_t(columnEnd - columnText));
          addFlatSyntaxError(msgUpdateParentheses) << (name ? name : column.getText());
          ramFree(name);
          return kvFailure;
        }
      }
    }
    if (count == 0x7FFF) {
      addFlatSyntaxError(msgUpdateStar);
      return kvFailure;
    }
    ++count;
    if (count > 1) status = select.append(",");
    if (status == kvSuccess) status = select.append(columnText, columnEnd);
    if (status == kvSuccess) status = select.append(",");
    if (status == kvSuccess) status = select.append(flatSkipWhite(valueBegin), trimEnd(valueBegin, valueEnd));
  }
  if (status == kvSuccess) status = select.append(" FROM ");
  if (status == kvSuccess) status = select.append(flatSkipWhite(tableBegin), trimEnd(tableBegin, tableEnd));
  if (status == kvSuccess && whereRest) {
    status = select.append(" WHERE ");
    if (status == kvSuccess) status = select.append(whereRest, text + *position + length);
  }
  if (status == kvSuccess) status = select.append(" FOR UPDATE OF XXX");
  if (status != kvSuccess) return kvFailure;
  *position += length;

  if (prepareQuery(select.get(), 1) != kvSuccess) return kvFailure;
  if (query_->getItemCount() != uint32_t(count) * 2) {
    addFlatSyntaxError(msgUpdateStar);
    return kvFailure;
  }
  pairs_ = count;
  return checkPairs(2, 1, msgUpdateTypeMismatch);
}

// ---------------------------------------------------------------- DELETE

// DELETE FROM table [WHERE condition]
//   -> SELECT 1 FROM table [WHERE condition] FOR UPDATE OF XXX
KvStatus FlatDeleteDesc::parse(const unsigned char* text, uint32_t* position) {
  if (checkCapability(statement_, flatDeleteAllowed) != kvSuccess) return kvFailure;
  const unsigned char* p = text + *position;
  const uint32_t length = uint32_t(std::strlen(reinterpret_cast<const char*>(p)));
  SelectText select(length);
  if (select.ready() != kvSuccess) return kvFailure;
  FlatToken word;
  if (word.read(&p, flatScanOperator) != kvSuccess) return kvFailure;  // DELETE
  const unsigned char* rest = p;
  FlatToken from;
  if (from.read(&p, flatScanOperator) != kvSuccess) return kvFailure;
  if (!from.is("FROM")) {
    addFlatSyntaxError(msgMissingDeleteFrom);
    return kvFailure;
  }
  if (readTableName(&p, msgMissingDeleteTable) != kvSuccess) return kvFailure;
  KvStatus status = select.append("SELECT 1 ");
  if (status == kvSuccess) status = select.append(flatSkipWhite(rest), text + *position + length);
  if (status == kvSuccess) status = select.append(" FOR UPDATE OF XXX");
  if (status != kvSuccess) return kvFailure;
  *position += length;
  return prepareQuery(select.get(), 1);
}
