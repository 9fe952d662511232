// The test driver's table ITEMS and its statements; see test_items.h.
#include "drivers/test/test_items.h"

#include "base/convert/base_convert.h"
#include "base/results/base_field.h"
#include "base/handles/base_messages.h"
#include "util/charsets/charset.h"
#include "util/containers/str_functions.h"

#include <cstring>

namespace {

struct ItemsColumn {
  const char* name;
  int16_t sqlType;
  uint32_t precision;
  InternalType form;
  int16_t searchable;
};

const ItemsColumn itemsColumns[testItemsColumnCount] = {
    {"ID", SQL_INTEGER, 10, itSLong, SQL_SEARCHABLE},
    {"NAME", SQL_VARCHAR, 254, itChar, SQL_SEARCHABLE},
    {"PRICE", SQL_DOUBLE, 15, itDouble, SQL_SEARCHABLE},
    {"MADE", SQL_DATE, 10, itDate, SQL_SEARCHABLE},
    {"DATA", SQL_VARBINARY, 254, itBinary, SQL_SEARCHABLE},
    {"NOTE", SQL_LONGVARCHAR, 1000000, itChar, SQL_LIKE_ONLY},
};

// Fixed bytes of a form, 0 for text and binary.
uint32_t formBytes(InternalType form) {
  switch (form) {
    case itSLong: return 4;
    case itDouble: return 8;
    case itDate: return 6;
    default: return 0;
  }
}

// Tokens of the statement text.
enum TokenType { tkEnd, tkWord, tkQuotedName, tkText, tkNumber, tkPunct };

struct Token {
  TokenType type = tkEnd;
  std::string text;  // the word upper-cased, the name or text unquoted, the punctuation
};

class Lexer {
 public:
  Lexer(const unsigned char* text, uint32_t length) : p_(text), end_(text + length) {}

  bool next(Token* token) {
    while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\r' || *p_ == '\n')) ++p_;
    token->text.clear();
    if (p_ >= end_) {
      token->type = tkEnd;
      return true;
    }
    const unsigned char c = *p_;
    if (c == '\'' || c == '"') {
      token->type = c == '\'' ? tkText : tkQuotedName;
      ++p_;
      for (;;) {
        if (p_ >= end_) return false;  // not closed
        if (*p_ == c) {
          if (p_ + 1 < end_ && p_[1] == c) {
            token->text += char(c);
            p_ += 2;
            continue;
          }
          ++p_;
          return true;
        }
        token->text += char(*p_++);
      }
    }
    if ((c >= '0' && c <= '9') || c == '.' || ((c == '-' || c == '+') && p_ + 1 < end_ && p_[1] >= '0' && p_[1] <= '9')) {
      token->type = tkNumber;
      token->text += char(*p_++);
      while (p_ < end_ && ((*p_ >= '0' && *p_ <= '9') || *p_ == '.' || *p_ == 'E' || *p_ == 'e' ||
                           ((*p_ == '-' || *p_ == '+') && (p_[-1] == 'E' || p_[-1] == 'e'))))
        token->text += char(*p_++);
      return true;
    }
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_') {
      token->type = tkWord;
      while (p_ < end_ && ((*p_ >= 'A' && *p_ <= 'Z') || (*p_ >= 'a' && *p_ <= 'z') || (*p_ >= '0' && *p_ <= '9') ||
                           *p_ == '_'))
        token->text += char(kvToUpper(*p_++));
      return true;
    }
    token->type = tkPunct;
    token->text += char(*p_++);
    return true;
  }

 private:
  const unsigned char* p_;
  const unsigned char* end_;
};

KvStatus syntaxError() {
  addOdbcError(stateSyntax);
  return kvFailure;
}

// A column of ITEMS by name (0-based), -1 when there is none.
int columnIndex(const std::string& name) {
  for (int i = 0; i < testItemsColumnCount; ++i)
    if (strEqualCi(kvU(name.c_str()), uint32_t(name.size()), kvU(itemsColumns[i].name),
                   uint32_t(std::strlen(itemsColumns[i].name))))
      return i;
  return -1;
}

// Text of a literal in the column's form.
KvStatus literalValue(uint16_t column, const std::string& text, TestItemValue* value) {
  BaseValueDesc desc;
  desc.sqlType = itemsColumns[column].sqlType;
  desc.precision = itemsColumns[column].precision;
  const InternalType form = itemsColumns[column].form;
  const uint32_t fixed = formBytes(form);
  std::string out(fixed ? fixed : text.size() + 1, '\0');
  int32_t outLength = 0;
  if (BaseConvertFromC(0, desc, SQL_C_CHAR, text.data(), SQLLEN(text.size()), form, &out[0], &outLength,
                       uint32_t(out.size()), nullptr) != kvSuccess)
    return kvFailure;
  out.resize(fixed ? fixed : uint32_t(outLength));
  value->null = false;
  value->bytes = out;
  return kvSuccess;
}

}  // namespace

int16_t TestItemsQuery::columnSqlType(uint16_t column) { return itemsColumns[column].sqlType; }
InternalType TestItemsQuery::columnForm(uint16_t column) { return itemsColumns[column].form; }

bool TestItemsQuery::isFor(const unsigned char* text, uint32_t length) {
  Lexer lexer(text, length);
  Token token;
  if (!lexer.next(&token) || token.type != tkWord) return false;
  const std::string verb = token.text;
  if (verb == "UPDATE") return lexer.next(&token) && token.type == tkWord && token.text == "ITEMS";
  if (verb == "INSERT" || verb == "DELETE") {
    return lexer.next(&token) && token.type == tkWord && token.text == (verb == "INSERT" ? "INTO" : "FROM") &&
           lexer.next(&token) && token.type == tkWord && token.text == "ITEMS";
  }
  if (verb != "SELECT") return false;
  while (lexer.next(&token) && token.type != tkEnd) {
    if (token.type != tkWord || token.text != "FROM") continue;
    return lexer.next(&token) && token.type == tkWord && token.text == "ITEMS";
  }
  return false;
}

KvStatus TestItemsQuery::compile(const unsigned char* text, uint32_t length) {
  kind_ = none;
  columns_.clear();
  assignments_.clear();
  terms_.clear();
  markerColumns_.clear();
  forgetValues();
  Lexer lexer(text, length);
  Token token;
  auto advance = [&]() { return lexer.next(&token); };
  auto is = [&](const char* word) { return (token.type == tkWord || token.type == tkPunct) && token.text == word; };
  auto column = [&](uint16_t* index) {
    if (token.type != tkWord && token.type != tkQuotedName) return false;
    const int found = columnIndex(token.text);
    if (found < 0) return false;
    *index = uint16_t(found);
    return advance();
  };
  // A value for column: a marker takes the column as its type.
  auto operand = [&](uint16_t forColumn, Operand* out) -> bool {
    if (is("?")) {
      markerColumns_.push_back(forColumn);
      out->isParam = true;
      out->param = uint16_t(markerColumns_.size());
      return advance();
    }
    if (token.type == tkWord && token.text == "NULL") {
      out->literal.null = true;
      return advance();
    }
    if (token.type == tkWord && (token.text == "DATE" || token.text == "X")) {
      if (!advance() || token.type != tkText) return false;
    }
    if (token.type != tkText && token.type != tkNumber) return false;
    if (literalValue(forColumn, token.text, &out->literal) != kvSuccess) return false;
    return advance();
  };
  auto term = [&](Term* out) -> bool {
    int parens = 0;
    while (is("(")) {
      ++parens;
      if (!advance()) return false;
    }
    if (!column(&out->column)) return false;
    if (is("IS")) {
      if (!advance() || !is("NULL") || !advance()) return false;
      out->isNull = true;
    } else {
      if (!is("=") && !is("LIKE")) return false;
      if (!advance() || !operand(out->column, &out->value)) return false;
    }
    for (; parens > 0; --parens)
      if (!is(")") || !advance()) return false;
    return true;
  };
  auto where = [&]() -> bool {
    if (token.type == tkEnd) return true;
    if (!is("WHERE") || !advance()) return false;
    for (;;) {
      Term t;
      if (!term(&t)) return false;
      terms_.push_back(t);
      if (!is("AND")) return true;
      if (!advance()) return false;
    }
  };

  if (!advance()) return syntaxError();
  bool ok = false;
  if (is("INSERT")) {
    kind_ = insert;
    ok = advance() && advance() && advance();  // INSERT INTO ITEMS
    if (ok && is("(")) {
      ok = advance();
      while (ok) {
        uint16_t index = 0;
        ok = column(&index);
        if (ok) columns_.push_back(index);
        if (ok && is(",")) {
          ok = advance();
          continue;
        }
        ok = ok && is(")") && advance();
        break;
      }
    } else if (ok) {
      for (uint16_t i = 0; i < testItemsColumnCount; ++i) columns_.push_back(i);
    }
    ok = ok && is("VALUES") && advance() && is("(") && advance();
    for (size_t i = 0; ok; ++i) {
      if (i >= columns_.size()) {
        ok = false;
        break;
      }
      Assignment a;
      a.column = columns_[i];
      ok = operand(a.column, &a.value);
      if (ok) assignments_.push_back(a);
      if (ok && is(",")) {
        ok = advance();
        continue;
      }
      ok = ok && is(")") && advance();
      break;
    }
    ok = ok && token.type == tkEnd;
  } else if (is("SELECT")) {
    kind_ = select;
    ok = advance();
    if (ok && is("*")) {
      for (uint16_t i = 0; i < testItemsColumnCount; ++i) columns_.push_back(i);
      ok = advance();
    } else {
      while (ok) {
        uint16_t index = 0;
        ok = column(&index);
        if (ok) columns_.push_back(index);
        if (ok && is(",")) {
          ok = advance();
          continue;
        }
        break;
      }
    }
    ok = ok && is("FROM") && advance() && is("ITEMS") && advance() && where();
    // FOR UPDATE OF reaches here only when the framework kept it.
    ok = ok && token.type == tkEnd;
  } else if (is("UPDATE")) {
    kind_ = update;
    ok = advance() && advance() && is("SET") && advance();
    while (ok) {
      Assignment a;
      ok = column(&a.column) && is("=") && advance() && operand(a.column, &a.value);
      if (ok) assignments_.push_back(a);
      if (ok && is(",")) {
        ok = advance();
        continue;
      }
      break;
    }
    ok = ok && where() && token.type == tkEnd;
  } else if (is("DELETE")) {
    kind_ = remove;
    ok = advance() && advance() && advance() && where() && token.type == tkEnd;
  }
  if (!ok) {
    kind_ = none;
    if (KvErrorKeeper::getErrorList() && KvErrorKeeper::getErrorList()->getCount()) return kvFailure;
    return syntaxError();
  }
  paramValues_.assign(markerColumns_.size(), TestItemValue());
  pieces_.assign(markerColumns_.size(), std::string());
  return kvSuccess;
}

KvStatus TestItemsQuery::describe(BaseStatement* statement, BaseField** fields, uint16_t* count) {
  for (size_t i = 0; i < columns_.size(); ++i) {
    const ItemsColumn& column = itemsColumns[columns_[i]];
    BaseField* field = fields[i];
    field->sqlType = column.sqlType;
    field->precision = column.precision;
    field->scale = 0;
    field->borrowText(&field->name, kvU(column.name));
    field->searchable = column.searchable;
    field->nullable = i == 0 ? SQL_NO_NULLS : SQL_NULLABLE;
    // Usable in a search condition (WHERE CURRENT OF emulation).
    field->flags |= BaseField::flagPrivate1002;
  }
  (void)statement;
  *count = uint16_t(columns_.size());
  return kvSuccess;
}

void TestItemsQuery::forgetValues() {
  for (TestItemValue& value : paramValues_) value = TestItemValue();
  for (std::string& piece : pieces_) piece.clear();
}

KvStatus TestItemsQuery::bindValue(BaseStatement* statement, uint16_t parameter, const void* value, int32_t length,
                                   int mode) {
  if (parameter == 0 || parameter > markerColumns_.size()) {
    addOdbcError(stateInvalidParamNumber);
    return kvFailure;
  }
  const size_t slot = parameter - 1;
  if (mode == bindFirstPiece || mode == bindNextPiece) {
    if (mode == bindFirstPiece) pieces_[slot].clear();
    pieces_[slot].append(static_cast<const char*>(value), size_t(length));
    return kvSuccess;
  }
  std::string joined;
  if (mode == bindLastPiece) {
    joined.swap(pieces_[slot]);
    value = joined.data();
    length = int32_t(joined.size());
  }
  TestItemValue& out = paramValues_[slot];
  out = TestItemValue();
  if (length == SQL_NULL_DATA) return kvSuccess;
  const InternalType form = itemsColumns[markerColumns_[slot]].form;
  const uint32_t fixed = formBytes(form);
  std::string bytes(fixed ? fixed : size_t(length > 0 ? length : 0) + 64, '\0');
  int32_t outLength = 0;
  if (statement->convertCToInternal(parameter, value, length, form, &bytes[0], &outLength, uint32_t(bytes.size())) !=
      kvSuccess)
    return kvFailure;
  bytes.resize(fixed ? fixed : size_t(outLength));
  out.null = false;
  out.bytes = bytes;
  return kvSuccess;
}

const TestItemValue* TestItemsQuery::operandValue(const Operand& operand) const {
  return operand.isParam ? &paramValues_[operand.param - 1] : &operand.literal;
}

bool TestItemsQuery::matches(const std::vector<TestItemValue>& row) const {
  for (const Term& term : terms_) {
    const TestItemValue& have = row[term.column];
    if (term.isNull) {
      if (!have.null) return false;
      continue;
    }
    const TestItemValue* want = operandValue(term.value);
    if (have.null || want->null || have.bytes != want->bytes) return false;
  }
  return true;
}

KvStatus TestItemsQuery::execute(TestItemsTable* table, int32_t* count) {
  *count = 0;
  switch (kind_) {
    case insert: {
      std::vector<TestItemValue> row(testItemsColumnCount);
      for (const Assignment& a : assignments_) row[a.column] = *operandValue(a.value);
      if (row[0].null) {
        addOdbcError(stateIntegrity);
        return kvFailure;
      }
      table->rows.push_back(row);
      *count = 1;
      return kvSuccess;
    }
    case select:
      snapshot_.clear();
      for (const auto& row : table->rows)
        if (matches(row)) snapshot_.push_back(row);
      current_ = 0;
      *count = -1;
      return kvSuccess;
    case update:
      for (auto& row : table->rows) {
        if (!matches(row)) continue;
        for (const Assignment& a : assignments_) {
          if (a.column == 0 && operandValue(a.value)->null) {
            addOdbcError(stateIntegrity);
            return kvFailure;
          }
        }
        for (const Assignment& a : assignments_) row[a.column] = *operandValue(a.value);
        ++*count;
      }
      return kvSuccess;
    case remove: {
      std::vector<std::vector<TestItemValue>> kept;
      for (auto& row : table->rows) {
        if (matches(row)) ++*count;
        else kept.push_back(row);
      }
      table->rows.swap(kept);
      return kvSuccess;
    }
    default:
      return syntaxError();
  }
}

bool TestItemsQuery::nextRow() {
  if (current_ >= snapshot_.size()) {
    current_ = snapshot_.size() + 1;
    return false;
  }
  ++current_;
  return true;
}

const TestItemValue* TestItemsQuery::currentValue(uint16_t column) const {
  if (current_ == 0 || current_ > snapshot_.size() || column == 0 || column > columns_.size()) return nullptr;
  return &snapshot_[current_ - 1][columns_[column - 1]];
}
