// The expression compiler's operands: literals (text, numbers, logicals,
// brace dates and times, NULL), parameter markers, CURRENT OF, select-list
// positions, and column names resolved over the FROM tables of the query
// and of its enclosing queries. See flat_compiler.h.
#include "flat/expr/flat_compiler_internal.h"

#include "base/handles/base_messages.h"
#include "flat/connection/flat_connection.h"
#include "flat/connection/flat_file_desc.h"
#include "flat/connection/flat_shared_desc.h"
#include "flat/exec/flat_param_values.h"
#include "flat/exec/flat_statement.h"
#include "flat/expr/flat_date_keys.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "flat/sql/flat_descriptor.h"
#include "flat/sql/flat_select_field.h"
#include "flat/sql/flat_select_parser.h"
#include "flat/sql/flat_sql_token.h"
#include "util/charsets/charset.h"
#include "util/memory/ram.h"
#include "util/containers/str_functions.h"

#include <charconv>
#include <cstring>

namespace flatcompile {

namespace {

// A ramAlloc copy that frees itself.
class Text {
 public:
  Text() = default;
  ~Text() { ramFree(text_); }
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;
  KvStatus set(const unsigned char* text, uint32_t length) {
    ramFree(text_);
    text_ = ramAllocStr(text, length);
    return text_ ? kvSuccess : kvFailure;
  }
  const unsigned char* get() const { return text_; }

 private:
  unsigned char* text_ = nullptr;
};

bool isWordStart(unsigned char c) { return kvCharIsAlpha(c) || c == '_' || c >= 0x80; }

// 3923 naming the name as written: qualifier.column or column.
KvStatus notFound(const unsigned char* qualifier, const unsigned char* column) {
  Text full;
  if (qualifier) {
    const size_t q = std::strlen(reinterpret_cast<const char*>(qualifier));
    const size_t c = std::strlen(reinterpret_cast<const char*>(column));
    unsigned char* joined = static_cast<unsigned char*>(ramAlloc(uint32_t(q + c + 2)));
    if (joined) {
      std::memcpy(joined, qualifier, q);
      joined[q] = '.';
      std::memcpy(joined + q + 1, column, c + 1);
      addFlatError(stateColumnNotFound, msgFieldNotFound) << joined;
      ramFree(joined);
    }
    return kvFailure;
  }
  addFlatError(stateColumnNotFound, msgFieldNotFound) << column;
  return kvFailure;
}

bool allDigits(const unsigned char* text) {
  for (; *text; ++text)
    if (*text < '0' || *text > '9') return false;
  return true;
}

}  // namespace

KvStatus FlatCompiler::operand(const unsigned char** text, uint16_t mode, Stacks& s) {
  for (;;) {
    FlatToken token;
    if (token.read(text, flatScanOperand) != kvSuccess) return kvFailure;
    if (token.isEnd() || token.is(",") || token.is(")")) {
      addFlatSyntaxError(msgValueExpected);
      return kvFailure;
    }
    if (token.is("(")) return parenthesis(text, mode, s);
    if (token.is("+")) continue;  // unary plus
    if (token.is("-") || token.is("NOT")) {
      // The same prefix operator twice in a row cancels out.
      uint16_t index = token.is("-") ? 1 : 2;
      if (s.operatorCount > 0 && s.operators[s.operatorCount - 1].index == index &&
          s.operators[s.operatorCount - 1].operandDepth == s.operandCount) {
        --s.operatorCount;
        continue;
      }
      if (pushOperator(s, index) != kvSuccess) return kvFailure;
      continue;
    }

    Operand result;
    result.codeStart = code_->getLength();
    const unsigned char first = token.first();
    if (isWordStart(first) && !token.isQuoted()) {
      FlatToken next;
      if (peek(*text, flatScanOperator, &next) != kvSuccess) return kvFailure;
      if (next.is("(")) {
        if (token.is("ANY") || token.is("ALL")) {
          if (statement_->getStatementKind() != flatKindSelect) {
            addFlatSyntaxError(msgUnknownStatement);
            return kvFailure;
          }
          return quantified(text, token.is("ANY") ? 38 : 40, s);
        }
        static const char* const aggregates[] = {"COUNT", "SUM", "AVG", "MIN", "MAX"};
        for (const char* word : aggregates) {
          if (!token.is(word)) continue;
          KvStatus status = aggregate(token, text, mode, &result);
          if (status != kvSuccess) return kvFailure;
          if (result.type != flatTypeNone) return pushOperand(s, result);
          break;  // MIN or MAX of two arguments: the functions
        }
        const FlatFunctionEntry* functions = flatFunctionTable();
        for (uint16_t i = 0; i < flatFunctionCount; ++i) {
          if (!token.is(functions[i].name)) continue;
          if (function(&functions[i], text, mode, &result) != kvSuccess) return kvFailure;
          return pushOperand(s, result);
        }
        addFlatSyntaxError(msgUnknownFunction) << token.getText();
        return kvFailure;
      }
    }
    if (first == '\'' || first == '"') {
      // The scanner has stored a doubled quote inside once.
      const uint32_t length = token.getLength() >= 2 ? token.getLength() - 2 : 0;
      if (code_->put(opText) != kvSuccess || code_->putBytes(token.getText() + 1, length) != kvSuccess ||
          code_->put(0) != kvSuccess)
        return kvFailure;
      result.type = flatTypeText;
      result.width = length;
      return pushOperand(s, result);
    }
    if (token.isNumber()) return number(token, text, mode, s);
    if (first == '.') {
      const unsigned char* t = token.getText();
      if (token.getLength() == 3 && t[2] == '.' && (t[1] == 'T' || t[1] == 'Y' || t[1] == 'F')) {
        if (code_->put(opLogical) != kvSuccess || code_->put(t[1] == 'F' ? 0 : 1) != kvSuccess) return kvFailure;
        result.type = flatTypeLogical;
        result.width = 1;
        return pushOperand(s, result);
      }
      addFlatSyntaxError(msgBadLogical) << t;
      return kvFailure;
    }
    if (first == '{') {
      if (braceLiteral(token, &result) != kvSuccess) return kvFailure;
      return pushOperand(s, result);
    }
    if (!(mode & flatModeIndexKey) && token.is("NULL")) {
      if (code_->put(opNull) != kvSuccess) return kvFailure;
      result.type = flatTypeAny;
      result.width = 1;
      return pushOperand(s, result);
    }
    if (first == '?') {
      if (parameter(token, text, mode, &result) != kvSuccess) return kvFailure;
      return pushOperand(s, result);
    }
    if (token.is("CURRENT")) {
      FlatToken next;
      if (peek(*text, flatScanOperator, &next) != kvSuccess) return kvFailure;
      if (next.is("OF")) {
        if (currentOf(text, &result) != kvSuccess) return kvFailure;
        return pushOperand(s, result);
      }
    }
    if (name(token, text, mode, &result) != kvSuccess) return kvFailure;
    return pushOperand(s, result);
  }
}

KvStatus FlatCompiler::parenthesis(const unsigned char** text, uint16_t mode, Stacks& s) {
  FlatToken next;
  if (peek(*text, flatScanOperator, &next) != kvSuccess) return kvFailure;
  Operand result;
  if (next.is("SELECT")) {
    result.codeStart = code_->getLength();
    if (subquery(text, opScalarSubquery, &result) != kvSuccess) return kvFailure;
    return pushOperand(s, result);
  }
  End end;
  if (level(text, uint16_t(mode & ~flatModeBetweenLow), &result, &end) != kvSuccess) return kvFailure;
  if (end.kind != endParen) {
    addFlatSyntaxError(msgMissingRightParen);
    return kvFailure;
  }
  return pushOperand(s, result);
}

KvStatus FlatCompiler::number(FlatToken& token, const unsigned char** text, uint16_t mode, Stacks& s) {
  Operand result;
  result.codeStart = code_->getLength();
  if ((mode & flatModeOrderBy) && s.operatorCount == 0 && allDigits(token.getText())) {
    // A select-list position when a "," an ASC or DESC, or the end follows.
    FlatToken next;
    if (peek(*text, flatScanOperator, &next) != kvSuccess) return kvFailure;
    if (next.isEnd() || next.is(",") || next.first() == 'A' || next.first() == 'D') {
      if (position(token, mode, &result) != kvSuccess) return kvFailure;
      return pushOperand(s, result);
    }
  }
  const char* digits = reinterpret_cast<const char*>(token.getText());
  double value = 0;
  std::from_chars_result parsed = std::from_chars(digits, digits + token.getLength(), value);
  if (parsed.ec == std::errc::result_out_of_range) value = 1.7976931348623157e308;
  if (code_->put(opNumber) != kvSuccess || code_->putDouble(value) != kvSuccess) return kvFailure;
  result.type = flatTypeNumber;
  result.width = 8;
  return pushOperand(s, result);
}

KvStatus FlatCompiler::position(FlatToken& token, uint16_t mode, Operand* out) {
  if (mode & flatModeGroupBy) {
    addFlatSyntaxError(msgGroupByConstant);
    return kvFailure;
  }
  uint32_t n = 0;
  const unsigned char* digits = token.getText();
  for (const unsigned char* d = digits; *d && n <= 0xFFFF; ++d) n = n * 10 + uint32_t(*d - '0');
  FlatSelectField* item = query_ && n >= 1 && n <= query_->getItemCount() ? query_->getItem(uint16_t(n - 1)) : nullptr;
  if (!item) {
    addFlatSyntaxError(msgBadColumnNumber) << digits;
    return kvFailure;
  }
  if (item->isPlainColumn()) {
    if (code_->put(opColumn) != kvSuccess || code_->putU32(item->table ? item->table->getTableHandle() : 0) !=
                                                   kvSuccess ||
        code_->putU16(item->column) != kvSuccess)
      return kvFailure;
  } else if (code_->putBytes(item->code, flatProgramLength(item->code) - 1) != kvSuccess) {
    return kvFailure;
  }
  itemType(item, out);
  return kvSuccess;
}

// "{hh:mm:ss}" is a time, a shorter form a date ({mm/dd/yyyy}, as the
// escape expansion writes it), a longer one a timestamp.
KvStatus FlatCompiler::braceLiteral(FlatToken& token, Operand* out) {
  const unsigned char* t = token.getText();
  const uint32_t length = token.getLength();
  Text inner;
  if (inner.set(t + 1, length >= 2 ? length - 2 : 0) != kvSuccess) return kvFailure;
  double value = 0;
  if (length > 3 && t[3] == ':') {
    uint32_t parts[3] = {};
    int part = 0;
    for (const unsigned char* p = inner.get(); *p; ++p) {
      if (*p >= '0' && *p <= '9') {
        parts[part] = parts[part] * 10 + uint32_t(*p - '0');
        if (parts[part] > 65535) parts[part] = 65535;
      } else if (*p == ':' && part < 2) {
        ++part;
      } else {
        addFlatSyntaxError(msgBadDate) << inner.get();
        return kvFailure;
      }
    }
    uint16_t message = parts[0] >= 24 ? msgBadHour : parts[1] >= 60 ? msgBadMinute : parts[2] >= 60 ? msgBadSecond : 0;
    if (message) {
      addFlatSyntaxError(message) << inner.get();
      return kvFailure;
    }
    value = (parts[0] * 3600.0 + parts[1] * 60.0 + parts[2]) / 86400.0;
    out->type = flatTypeTime;
  } else {
    if (StringToJulianDays(inner.get(), flatDateMonthDayYear, '/', &value) != kvSuccess) return kvFailure;
    out->type = length < 13 ? flatTypeDate : flatTypeTimestamp;
  }
  out->width = 8;
  if (code_->put(opDate) != kvSuccess || code_->putDouble(value) != kvSuccess) return kvFailure;
  return kvSuccess;
}

KvStatus FlatCompiler::parameter(FlatToken& token, const unsigned char** text, uint16_t mode, Operand* out) {
  if (!(mode & (flatModeParameters | flatModeWhere | flatModeHaving))) {
    addFlatSyntaxError(msgParamInSelectList);
    return kvFailure;
  }
  // The scanner reads a name behind "?" into the token; the marker is the
  // "?" alone ("a=?AND b" is two conditions).
  *text = token.getStart() + 1;
  uint16_t number = statement_->takeParameterNumber();
  FlatParamValues* params = statement_->getParamValues();
  if (params && !params->at(number)) return kvFailure;
  if (code_->putOpU16(opParameter, number) != kvSuccess) return kvFailure;
  out->type = flatTypeParam;
  out->width = 8;
  out->param = number;
  return kvSuccess;
}

KvStatus FlatCompiler::currentOf(const unsigned char** text, Operand* out) {
  FlatToken of;
  FlatToken cursor;
  if (of.read(text, flatScanOperator) != kvSuccess || cursor.read(text, flatScanKeepCase) != kvSuccess)
    return kvFailure;
  const unsigned char* name = cursor.getText();
  uint32_t length = cursor.getLength();
  if (cursor.isQuoted()) {
    ++name;
    length -= 2;
  }
  if (length == 0 || cursor.isPunctuation()) {
    addFlatSyntaxError(msgValueExpected);
    return kvFailure;
  }
  if (length > 0xFFFF) length = 0xFFFF;
  if (code_->putOpU16(opCurrentOf, uint16_t(length)) != kvSuccess || code_->putBytes(name, length) != kvSuccess)
    return kvFailure;
  out->type = flatTypeLogical;
  out->width = 1;
  return kvSuccess;
}

// A name: `column`, `table`.column, column, qualifier.column or
// qualifier.`column`; ROWID and qualifier.ROWID unless back-quoted.
KvStatus FlatCompiler::name(FlatToken& token, const unsigned char** text, uint16_t mode, Operand* out) {
  Text qualifier;
  Text column;
  bool quoted = false;
  const unsigned char* t = token.getText();
  uint32_t length = token.getLength();
  const unsigned char* dot = (mode & flatModeIndexKey) || token.isQuoted()
                                 ? nullptr
                                 : reinterpret_cast<const unsigned char*>(std::memchr(t, '.', length));
  if (token.isQuoted()) {
    quoted = true;
    if (column.set(t + 1, length - 2) != kvSuccess) return kvFailure;
    if (**text == '.' && !(mode & flatModeIndexKey)) {
      // `table`.column: the quoted name was the qualifier.
      ++*text;
      FlatToken rest;
      if (rest.read(text, flatScanOperand) != kvSuccess) return kvFailure;
      if (qualifier.set(column.get(), length - 2) != kvSuccess) return kvFailure;
      quoted = rest.isQuoted();
      KvStatus copied = quoted ? column.set(rest.getText() + 1, rest.getLength() - 2)
                               : column.set(rest.getText(), rest.getLength());
      if (copied != kvSuccess) return kvFailure;
    }
  } else if (dot) {
    if (qualifier.set(t, uint32_t(dot - t)) != kvSuccess) return kvFailure;
    if (dot + 1 == t + length && **text == '`') {
      // qualifier.`column`
      FlatToken rest;
      if (rest.read(text, flatScanOperand) != kvSuccess) return kvFailure;
      quoted = true;
      if (column.set(rest.getText() + 1, rest.getLength() >= 2 ? rest.getLength() - 2 : 0) != kvSuccess)
        return kvFailure;
    } else if (column.set(dot + 1, uint32_t(t + length - dot - 1)) != kvSuccess) {
      return kvFailure;
    }
  } else if (column.set(t, length) != kvSuccess) {
    return kvFailure;
  }
  if (!quoted && !(mode & flatModeIndexKey) && std::strcmp(reinterpret_cast<const char*>(column.get()), "ROWID") == 0)
    return rowId(qualifier.get(), out);
  return this->column(qualifier.get(), column.get(), mode, out);
}

KvStatus FlatCompiler::column(const unsigned char* qualifier, const unsigned char* columnName, uint16_t mode,
                              Operand* out) {
  FlatFileDesc* found = nullptr;
  uint16_t foundColumn = 0;
  if (mode & flatModeIndexKey) {
    const FlatColumnMatch match = table_ ? flatFindColumn(table_, columnName, &foundColumn) : flatNoColumn;
    if (match == flatAmbiguousColumn) return kvFailure;
    if (match == flatOneColumn) found = table_;
  } else {
    for (FlatSqlDesc* level = query_; level && !found; level = level->getParent()) {
      int matches = 0;
      for (FlatFileDesc* table = level->getFirstTable(); table; table = table->getNextTable()) {
        if (qualifier && !flatTableAnswersTo(table, qualifier)) continue;
        uint16_t at = 0;
        const FlatColumnMatch match = flatFindColumn(table, columnName, &at);
        if (match == flatAmbiguousColumn) return kvFailure;
        if (match == flatNoColumn) continue;
        if (++matches == 1) {
          found = table;
          foundColumn = at;
        }
      }
      if (matches > 1) {
        addFlatError(stateColumnNotFound, msgDuplicateField) << columnName;
        return kvFailure;
      }
      if (found) {
        // A name of an enclosing query makes every query below it correlated.
        for (FlatSqlDesc* inner = query_; inner != level; inner = inner->getParent()) inner->setCorrelated();
      }
    }
  }
  if (!found) return notFound(qualifier, columnName);
  FlatSharedField* field = found->getShared()->getColumn(foundColumn);
  if (field->isSearchable() == SQL_UNSEARCHABLE) {
    addFlatSyntaxError(msgLongInExpression);
    return kvFailure;
  }
  int16_t sqlType = field->getFlatFieldType();
  if (sqlType == 0) sqlType = field->getSqlType();
  int16_t type;
  uint16_t width;
  flatFoldType(sqlType, field->getPrecision(), &type, &width);
  if (code_->put(opColumn) != kvSuccess || code_->putU32(found->getTableHandle()) != kvSuccess ||
      code_->putU16(foundColumn) != kvSuccess)
    return kvFailure;
  out->type = type;
  out->width = width;
  return kvSuccess;
}

KvStatus FlatCompiler::rowId(const unsigned char* qualifier, Operand* out) {
  if (!(statement_->getFlatConnection()->getEngineFlags() & flatRowIdSupported)) {
    addFlatSyntaxError(msgRowIdNotSupported);
    return kvFailure;
  }
  FlatFileDesc* found = nullptr;
  for (FlatSqlDesc* level = query_; level && !found; level = level->getParent()) {
    int matches = 0;
    for (FlatFileDesc* table = level->getFirstTable(); table; table = table->getNextTable()) {
      if (qualifier && !flatTableAnswersTo(table, qualifier)) continue;
      if (++matches == 1) found = table;
    }
    if (matches > 1) {
      addFlatError(stateColumnNotFound, msgDuplicateField) << "ROWID";
      return kvFailure;
    }
    if (found) {
      for (FlatSqlDesc* inner = query_; inner != level; inner = inner->getParent()) inner->setCorrelated();
    }
    if (!qualifier) break;  // an unqualified ROWID is the query's own first table
  }
  if (!found) return notFound(qualifier, reinterpret_cast<const unsigned char*>("ROWID"));
  if (code_->put(opRowId) != kvSuccess || code_->putU32(found->getTableHandle()) != kvSuccess) return kvFailure;
  out->type = flatTypeNumber;
  out->width = 8;
  return kvSuccess;
}

}  // namespace flatcompile
