// The expression compiler's calls: functions of the function table (with
// their argument types and result widths), aggregates (shared records of
// the query), subqueries (parsed by the SELECT parser), IN lists and the
// quantified comparisons ANY and ALL. See flat_compiler.h.
#include "flat/expr/flat_compiler_internal.h"

#include "base/handles/base_messages.h"
#include "flat/connection/flat_connection.h"
#include "flat/exec/flat_param_values.h"
#include "flat/exec/flat_statement.h"
#include "flat/expr/flat_date_keys.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "flat/query/flat_agg_field.h"
#include "flat/sql/flat_descriptor.h"
#include "flat/sql/flat_select_field.h"
#include "flat/sql/flat_select_parser.h"
#include "flat/sql/flat_sql_token.h"
#include "util/os/bos.h"
#include "util/memory/ram.h"

#include <cstring>

namespace flatcompile {

namespace {

struct ArgumentSpec {
  char letter = 0;
  char digit = 0;
  bool optional = false;
};

// The signature's letters, one an argument.
uint16_t parseSignature(const char* signature, ArgumentSpec* specs, uint16_t max, uint16_t* required) {
  uint16_t count = 0;
  bool optional = false;
  *required = 0;
  for (const char* c = signature; *c && count <= max; ++c) {
    if (*c == 'O') {
      optional = true;
    } else if (*c >= '1' && *c <= '3') {
      if (count > 0) specs[count - 1].digit = *c;
    } else if (count < max) {
      specs[count].letter = *c;
      specs[count].optional = optional;
      if (!optional) ++*required;
      ++count;
    }
  }
  return count;
}

// Whether an argument of the type suits the letter; a NULL suits every
// letter, a marker takes the letter's type.
bool suits(char letter, int16_t type) {
  if (type == flatTypeAny || type == flatTypeParam) return true;
  switch (letter) {
    case 'C': return type == flatTypeText;
    case 'N': return type == flatTypeNumber;
    case 'D': return type == flatTypeDate || type == flatTypeTimestamp;
    case 'L': return type == flatTypeLogical;
    default: return true;
  }
}

int16_t letterType(char letter) {
  switch (letter) {
    case 'C': return flatTypeText;
    case 'N': return flatTypeNumber;
    case 'D': return flatTypeDate;
    case 'L': return flatTypeLogical;
    default: return flatTypeParam;
  }
}

// Whether the parenthesised list at text (behind its "(") has a "," at
// its own level before its ")".
KvStatus hasTopLevelComma(const unsigned char* text, bool* comma) {
  *comma = false;
  int depth = 1;
  const unsigned char* p = text;
  for (;;) {
    FlatToken token;
    if (token.read(&p, flatScanOperator) != kvSuccess) return kvFailure;
    if (token.isEnd()) return kvSuccess;
    if (token.is("(")) ++depth;
    else if (token.is(")") && --depth == 0) return kvSuccess;
    else if (depth == 1 && token.is(",")) {
      *comma = true;
      return kvSuccess;
    }
  }
}

KvStatus expect(const unsigned char** text, const char* word, uint16_t message) {
  FlatToken token;
  if (token.read(text, flatScanOperator) != kvSuccess) return kvFailure;
  if (token.is(word)) return kvSuccess;
  addFlatSyntaxError(message);
  return kvFailure;
}

}  // namespace

KvStatus FlatCompiler::constantFunction(const FlatFunctionEntry* entry, Operand* out) {
  os_time now;
  bosdate(&now);
  out->type = entry->resultType;
  out->width = entry->fixedWidth ? entry->fixedWidth : 8;
  switch (entry->opcode) {
    case opToday:
      if (code_->put(opDate) != kvSuccess) return kvFailure;
      return code_->putDouble(flatDateValue(now.year, now.month, now.day, 0, 0, 0));
    case opTime:
      if (code_->put(opDate) != kvSuccess) return kvFailure;
      return code_->putDouble((now.hour * 3600.0 + now.minute * 60.0 + now.second) / 86400.0);
    default: {  // USERNAME
      const unsigned char* user = statement_->getConnection()->getUserId();
      if (!user) user = reinterpret_cast<const unsigned char*>("");
      if (code_->put(opText) != kvSuccess) return kvFailure;
      if (code_->putBytes(user, uint32_t(std::strlen(reinterpret_cast<const char*>(user))) + 1) != kvSuccess)
        return kvFailure;
      return kvSuccess;
    }
  }
}

KvStatus FlatCompiler::function(const FlatFunctionEntry* entry, const unsigned char** text, uint16_t mode,
                                Operand* out) {
  FlatToken open;
  if (open.read(text, flatScanOperator) != kvSuccess) return kvFailure;  // the "("
  if (entry->opcode == opExists) {
    FlatToken next;
    if (peek(*text, flatScanOperator, &next) != kvSuccess) return kvFailure;
    if (next.is(")")) {
      addFlatSyntaxError(msgValueExpected);
      return kvFailure;
    }
    if (!next.is("SELECT")) {
      addFlatSyntaxError(msgArgumentCount) << entry->name;
      return kvFailure;
    }
    return subquery(text, opExists, out);
  }
  if (entry->maxArguments == 0) {
    FlatToken close;
    if (close.read(text, flatScanOperator) != kvSuccess) return kvFailure;
    if (!close.is(")")) {
      addFlatSyntaxError(msgArgumentCount) << entry->name;
      return kvFailure;
    }
    return constantFunction(entry, out);
  }

  ArgumentSpec specs[3];
  uint16_t required = 0;
  parseSignature(entry->signature, specs, entry->maxArguments, &required);
  Operand arguments[3];
  uint16_t count = 0;
  // The fixed width is the default; the signature's digits override it.
  uint32_t width = entry->fixedWidth ? entry->fixedWidth : uint32_t(flatWidthUnknown);
  for (;;) {
    FlatToken next;
    if (peek(*text, flatScanOperator, &next) != kvSuccess) return kvFailure;
    if (next.is(")")) {
      // A ")" where an argument should stand ends the list.
      if (next.read(text, flatScanOperator) != kvSuccess) return kvFailure;
      break;
    }
    Operand& argument = arguments[count];
    End end;
    if (level(text, uint16_t(mode & ~(flatModeOrderBy | flatModeBetweenLow)), &argument, &end) != kvSuccess)
      return kvFailure;
    if (end.kind != endComma && end.kind != endParen) {
      addFlatSyntaxError(msgArgumentCount) << entry->name;
      return kvFailure;
    }
    const ArgumentSpec& spec = specs[count];
    if (!suits(spec.letter, argument.type)) {
      addFlatSyntaxError(msgWrongArgumentType) << entry->name;
      return kvFailure;
    }
    if (argument.type == flatTypeParam && spec.letter != 'A') {
      argument.type = letterType(spec.letter);
      if (setParamType(argument, argument.type) != kvSuccess) return kvFailure;
    }
    // The width rules of the signature's digits.
    if (spec.digit == '1') {
      width = argument.type == flatTypeNumber
                  ? (argument.hasConstant ? uint32_t(argument.constant < 0 ? 0 : argument.constant) : uint32_t(flatWidthUnknown))
                  : argument.width;
    } else if ((spec.digit == '2' || spec.digit == '3') && argument.hasConstant) {
      // A position or length beyond a column's declared width is refused;
      // beyond a literal's own length it only cuts the result (the literal
      // is the value, which the evaluator clamps).
      uint32_t constant = argument.constant < 0 ? 0 : uint32_t(argument.constant);
      if (!arguments[0].isTextConstant &&
          (argument.constant < 0 || (width != flatWidthUnknown && constant > width))) {
        addFlatSyntaxError(msgOffsetOutOfRange) << entry->name;
        return kvFailure;
      }
      if (width != flatWidthUnknown && constant > width) constant = spec.digit == '2' ? width + 1 : width;
      if (spec.digit == '3') width = constant;
      else if (width != flatWidthUnknown) width = width + 1 - (constant ? constant : 1);
    }
    ++count;
    if (end.kind == endParen) break;
    if (count == entry->maxArguments) {
      addFlatSyntaxError(msgArgumentCount) << entry->name;
      return kvFailure;
    }
  }
  if (count < required) {
    addFlatSyntaxError(msgArgumentCount) << entry->name;
    return kvFailure;
  }

  int16_t resultType = entry->resultType;
  if (entry->opcode == opIif) {
    Operand& a = arguments[1];
    Operand& b = arguments[2];
    if (a.type == flatTypeParam && b.type == flatTypeParam) {
      addFlatError(stateColumnNotFound, msgFieldNotFound) << "?";
      return kvFailure;
    }
    if (a.type == flatTypeParam) {
      a.type = b.type;
      if (setParamType(a, a.type) != kvSuccess) return kvFailure;
    } else if (b.type == flatTypeParam) {
      b.type = a.type;
      if (setParamType(b, b.type) != kvSuccess) return kvFailure;
    }
    if (a.type != b.type && a.type != flatTypeAny && b.type != flatTypeAny) {
      addFlatSyntaxError(msgIifTypes);
      return kvFailure;
    }
    resultType = a.type;
    width = a.width > b.width ? a.width : b.width;
  }
  out->type = resultType;
  out->width = resultType == flatTypeText ? width : 8;
  if (code_->put(entry->opcode) != kvSuccess) return kvFailure;
  switch (entry->opcode) {
    case opSubstr:
    case opDtoc:
    case opDateValue:
    case opStr:
      return code_->put(uint8_t(count));
    default:
      return kvSuccess;
  }
}

// COUNT, SUM, AVG, MIN and MAX of a query. MIN and MAX with a "," in their
// parentheses are the two-argument functions: out->type stays none.
KvStatus FlatCompiler::aggregate(FlatToken& word, const unsigned char** text, uint16_t mode, Operand* out) {
  static const struct {
    const char* word;
    uint16_t flags;
  } kinds[] = {{"COUNT", FlatAggField::aggCount},
               {"SUM", FlatAggField::aggSum},
               {"AVG", FlatAggField::aggAvg},
               {"MIN", FlatAggField::aggMin},
               {"MAX", FlatAggField::aggMax}};
  uint16_t flags = 0;
  for (const auto& kind : kinds)
    if (word.is(kind.word)) flags = kind.flags;
  const bool minOrMax = (flags & (FlatAggField::aggMin | FlatAggField::aggMax)) != 0;
  const unsigned char* afterOpen = flatSkipWhite(*text) + 1;
  if (minOrMax) {
    bool comma = false;
    if (hasTopLevelComma(afterOpen, &comma) != kvSuccess) return kvFailure;
    if (comma) {
      out->type = flatTypeNone;
      return kvSuccess;
    }
  }
  if (mode & flatModeAggregate) {
    addFlatSyntaxError(msgNestedAggregate).appendText(word.getText());
    return kvFailure;
  }
  if ((mode & (flatModeWhere | flatModeGroupBy | flatModeIndexKey)) || !query_) {
    addFlatSyntaxError(msgAggregateNotAllowed);
    return kvFailure;
  }
  *text = afterOpen;
  FlatToken next;
  if (peek(*text, flatScanOperator, &next) != kvSuccess) return kvFailure;
  bool distinct = false;
  if (next.is("DISTINCT")) {
    distinct = true;
    if (next.read(text, flatScanOperator) != kvSuccess) return kvFailure;
    if (!minOrMax) {
      flags |= FlatAggField::aggDistinct;
      query_->addFlags(FlatSqlDesc::flagDistinctAggregate);
    }
    if (peek(*text, flatScanOperator, &next) != kvSuccess) return kvFailure;
  }
  FlatCodeBuffer argument;
  int16_t type = flatTypeText;
  uint16_t width = 1;
  if ((flags & FlatAggField::aggCount) && next.is("*")) {
    if (distinct) {
      addFlatSyntaxError(msgCountDistinctStar);
      return kvFailure;
    }
    if (next.read(text, flatScanOperator) != kvSuccess) return kvFailure;
    static const uint8_t countAll[] = {opText, 'A', 0, opEnd};
    if (argument.putBytes(countAll, sizeof(countAll)) != kvSuccess) return kvFailure;
  } else {
    const unsigned char* argumentText = flatSkipWhite(*text);
    uint16_t length = 0;
    if (statement_->compileExpr(query_, table_, text, &argument, &type, &width, flatModeAggregate, &length) !=
        kvSuccess)
      return kvFailure;
    if ((flags & (FlatAggField::aggSum | FlatAggField::aggAvg)) && type != flatTypeNumber) {
      const unsigned char* argumentEnd = *text;
      while (argumentEnd > argumentText && (argumentEnd[-1] == ' ' || argumentEnd[-1] == '\t')) --argumentEnd;
      KvError& error = addFlatSyntaxError(msgIncompatibleTypes);
      unsigned char* copy = ramAllocStr(argumentText, uint32_t(argumentEnd - argumentText));
      if (copy) error << copy;
      ramFree(copy);
      return kvFailure;
    }
  }
  if (expect(text, ")", msgMissingRightParen) != kvSuccess) return kvFailure;

  // One record for equal aggregates of the query.
  KvArray& records = query_->getAggregates();
  uint16_t index = 0;
  for (; index < records.getCount(); ++index) {
    auto* record = static_cast<FlatAggField*>(records.getAt(index));
    if (record->flags == flags && record->programLength == argument.getLength() &&
        std::memcmp(record->program, argument.getData(), argument.getLength()) == 0)
      break;
  }
  if (index == records.getCount()) {
    auto* record = new FlatAggField();
    if (!record) {
      KvErrorKeeper::addMemoryError();
      return kvFailure;
    }
    uint32_t size = width >= 0xFFFE ? 0xFFFE : width;
    if (type == flatTypeText) ++size;
    record->flags = flags;
    record->type = type;
    record->size = uint16_t(size);
    record->programLength = argument.getLength();
    record->program = argument.release();
    record->value = static_cast<uint8_t*>(ramAllocZ(size ? size : 1));
    record->offset = query_->getAggregateRowBytes();
    if (!record->program || !record->value || records.add(record) != kvSuccess) {
      delete record;
      return kvFailure;
    }
    query_->setAggregateRowBytes(record->offset + size + 4);
  }
  if (code_->putOpU16(opAggregate, index) != kvSuccess) return kvFailure;
  if (minOrMax) {
    out->type = type;
    out->width = width;
  } else {
    out->type = flatTypeNumber;
    out->width = 8;
  }
  return kvSuccess;
}

// A subquery: text stands behind its "(", at SELECT; the text up to the
// matching ")" is parsed as a query of its own, linked below this one.
KvStatus FlatCompiler::subquery(const unsigned char** text, uint8_t opcode, Operand* out) {
  const unsigned char* begin = flatSkipWhite(*text);
  const unsigned char* p = begin;
  const unsigned char* close = nullptr;
  for (int depth = 1; !close;) {
    FlatToken token;
    if (token.read(&p, flatScanOperator) != kvSuccess) return kvFailure;
    if (token.isEnd()) {
      addFlatSyntaxError(msgMissingRightParen);
      return kvFailure;
    }
    if (token.is("(")) ++depth;
    else if (token.is(")") && --depth == 0) close = token.getStart();
  }
  *text = p;
  if (!query_) {
    addFlatSyntaxError(msgUnknownStatement);
    return kvFailure;
  }
  if (query_->getDepth() + 1 > flatMaxQueryDepth) {
    addFlatSyntaxError(msgNestedTooDeeply);
    return kvFailure;
  }
  unsigned char* subText = ramAllocStr(begin, uint32_t(close - begin));
  if (!subText) return kvFailure;
  KvStatus status = kvSuccess;
  if (opcode != opExists) {
    // SELECT [ALL | DISTINCT] *: a subquery compared with a value has one column.
    const unsigned char* at = subText;
    FlatToken token;
    for (int i = 0; i < 3 && status == kvSuccess; ++i) {
      status = token.read(&at, flatScanOperator);
      if (status != kvSuccess || token.is("*")) break;
      if (i > 0 && !token.is("ALL") && !token.is("DISTINCT")) break;
    }
    if (status == kvSuccess && token.is("*")) {
      addFlatSyntaxError(msgSubqueryFields);
      status = kvFailure;
    }
  }
  FlatSqlDesc* sub = nullptr;
  if (status == kvSuccess) {
    sub = statement_->allocSqlDesc();
    if (!sub) {
      if (!KvErrorKeeper::getLastError()) KvErrorKeeper::addMemoryError();
      status = kvFailure;
    } else {
      sub->setParent(query_);
      if (query_->getSubqueries().add(sub) != kvSuccess) {
        delete sub;
        sub = nullptr;
        status = kvFailure;
      }
    }
  }
  if (status == kvSuccess) status = flatParseQuery(statement_, sub, subText, nullptr);
  ramFree(subText);
  if (status != kvSuccess) return kvFailure;

  out->type = flatTypeLogical;
  out->width = 1;
  if (opcode != opExists) {
    FlatSelectField* item = sub->getItem(0);
    if (sub->getItemCount() != 1 || !item) {
      addFlatSyntaxError(msgSubqueryFields);
      return kvFailure;
    }
    itemType(item, out);
  }
  query_->addFlags(FlatSqlDesc::flagHasSubqueries);
  if (sub->isCorrelated()) query_->addFlags(FlatSqlDesc::flagCorrelatedSubquery);
  out->isSubquery = opcode == opSubquery;
  return code_->putOpU16(opcode, uint16_t(query_->getSubqueries().getCount() - 1));
}

// The list or subquery of IN; the tested value is the top operand.
KvStatus FlatCompiler::inList(const unsigned char** text, uint16_t mode, Stacks& s) {
  Operator& in = s.operators[s.operatorCount - 1];
  const Operand tested = s.operands[s.operandCount - 1];
  if (tested.type == flatTypeParam) {
    addFlatSyntaxError(msgIncompatibleTypes) << "IN";
    return kvFailure;
  }
  if (expect(text, "(", msgMissingLeftParen) != kvSuccess) return kvFailure;
  FlatToken next;
  if (peek(*text, flatScanOperator, &next) != kvSuccess) return kvFailure;
  Operand list;
  list.codeStart = code_->getLength();
  if (next.is("SELECT")) {
    if (subquery(text, opSubquery, &list) != kvSuccess) return kvFailure;
    in.listLength = 0;
    return pushOperand(s, list);
  }
  if (next.is(")")) {
    addFlatSyntaxError(msgValueExpected);
    return kvFailure;
  }
  uint32_t count = 0;
  for (;;) {
    Operand item;
    End end;
    if (level(text, uint16_t(mode & ~(flatModeOrderBy | flatModeBetweenLow)), &item, &end) != kvSuccess)
      return kvFailure;
    if (item.type == flatTypeParam) {
      item.type = tested.type;
      if (setParamType(item, tested.type) != kvSuccess) return kvFailure;
    }
    if (checkPair(tested.type, item.type, "IN") != kvSuccess) return kvFailure;
    if (++count > 0xFFFF) {
      addFlatSyntaxError(msgExpressionLimit);
      return kvFailure;
    }
    if (end.kind == endParen) break;
    if (end.kind != endComma) {
      addFlatSyntaxError(msgMissingRightParen);
      return kvFailure;
    }
  }
  in.listLength = uint16_t(count);
  list.type = tested.type;
  list.width = tested.width;
  return pushOperand(s, list);
}

// ANY or ALL (operator index) behind a comparison; only a subquery may
// follow. NOT ANY and NOT ALL never reach here: a NOT before ANY is a
// prefix operator, which no comparison precedes.
KvStatus FlatCompiler::quantified(const unsigned char** text, uint16_t index, Stacks& s) {
  const FlatOperatorEntry* entry = &flatOperatorTable()[index];
  const Operator* top = s.operatorCount > 0 ? &s.operators[s.operatorCount - 1] : nullptr;
  if (!top || !isComparison(top->entry->opcode) || (top->entry->flags & (flatOpLeftOuter | flatOpRightOuter)) ||
      top->operandDepth != s.operandCount) {
    addFlatSyntaxError(msgInvalidOperator) << entry->words[0];
    return kvFailure;
  }
  if (pushOperator(s, index) != kvSuccess) return kvFailure;
  if (expect(text, "(", msgMissingLeftParen) != kvSuccess) return kvFailure;
  FlatToken next;
  if (peek(*text, flatScanOperator, &next) != kvSuccess) return kvFailure;
  if (!next.is("SELECT")) {
    // A value list behind ANY or ALL has no instruction that could test it.
    addFlatSyntaxError(msgMissingClause) << "SELECT";
    return kvFailure;
  }
  Operand result;
  result.codeStart = code_->getLength();
  if (subquery(text, opSubquery, &result) != kvSuccess) return kvFailure;
  return pushOperand(s, result);
}

}  // namespace flatcompile
