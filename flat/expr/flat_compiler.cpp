// The expression compiler's precedence parser and operator rules; see
// flat_compiler.h. An operand position reads one operand (with any prefix
// operators before it); an operator position reads one operator, emits the
// pending operators that bind at least as tightly, and pushes it. An
// operator's bytes are written when it is emitted, after its operands'
// programs, which gives postfix order.
#include "flat/expr/flat_compiler_internal.h"

#include "base/handles/base_messages.h"
#include "flat/exec/flat_param_values.h"
#include "flat/exec/flat_statement.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "flat/sql/flat_select_field.h"
#include "flat/sql/flat_sql_token.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

namespace flatcompile {

bool isComparison(uint8_t opcode) { return opcode >= opGreater && opcode <= opNotEqual; }

void itemType(const FlatSelectField* item, Operand* out) {
  out->type = item->engineType;
  out->width = item->precision;
  if (item->isPlainColumn()) {
    int16_t type;
    uint16_t width;
    flatFoldType(item->sqlType, item->precision, &type, &width);
    out->width = width;
  }
}

int16_t markerSqlType(int16_t type) {
  switch (type) {
    case flatTypeText: return SQL_VARCHAR;
    case flatTypeNumber: return SQL_DOUBLE;
    case flatTypeLogical: return SQL_BIT;
    case flatTypeBinary: return SQL_BINARY;
    case flatTypeDate:
    case flatTypeTime:
    case flatTypeTimestamp: return type;
    default: return 0;
  }
}

KvStatus peek(const unsigned char* text, uint16_t mode, FlatToken* token) {
  const unsigned char* position = text;
  return token->read(&position, mode);
}

namespace {

uint8_t precedenceOf(const FlatOperatorEntry* entry) { return entry->flags & flatOpPrecedence; }

// The operator's words joined by blanks, for messages.
void operatorName(const FlatOperatorEntry* entry, char* out, size_t size) {
  out[0] = 0;
  for (const char* word : entry->words) {
    if (!word) break;
    if (out[0]) std::strncat(out, " ", size - std::strlen(out) - 1);
    std::strncat(out, word, size - std::strlen(out) - 1);
  }
}

bool sameName(const FlatOperatorEntry* a, const FlatOperatorEntry* b) {
  for (int i = 0; i < 3; ++i) {
    if (!a->words[i] || !b->words[i]) return a->words[i] == b->words[i];
    if (std::strcmp(a->words[i], b->words[i]) != 0) return false;
  }
  return true;
}

// Whether an operand of type t fits an entry's operand type: equal, or a
// NULL (any), or a parameter marker (which then takes the entry's type).
bool fits(int16_t t, int16_t entryType) {
  return t == entryType || t == flatTypeAny || t == flatTypeParam;
}

uint32_t resultWidth(int16_t type, uint32_t left, uint32_t right) {
  switch (type) {
    case flatTypeText: {
      uint32_t sum = left + right;
      return sum > 0xFFFF ? 0xFFFF : sum;
    }
    case flatTypeLogical: return 1;
    default: return 8;
  }
}

}  // namespace

KvStatus FlatCompiler::setParamType(const Operand& operand, int16_t type) {
  if (operand.param < 0) return kvSuccess;
  FlatParamValues* params = statement_->getParamValues();
  return params ? params->setMarkerType(uint16_t(operand.param), markerSqlType(type)) : kvSuccess;
}

// The pairs a comparison, BETWEEN, IN or "++" accepts: equal types, a NULL
// or a parameter on either side, a logical with a number, a date with a
// timestamp.
KvStatus FlatCompiler::checkPair(int16_t left, int16_t right, const char* name) {
  if (left == right || left == flatTypeAny || right == flatTypeAny || left == flatTypeParam ||
      right == flatTypeParam)
    return kvSuccess;
  if ((left == flatTypeLogical && right == flatTypeNumber) || (left == flatTypeNumber && right == flatTypeLogical) ||
      (left == flatTypeDate && right == flatTypeTimestamp) || (left == flatTypeTimestamp && right == flatTypeDate))
    return kvSuccess;
  addFlatSyntaxError(msgIncompatibleTypes) << name;
  return kvFailure;
}

KvStatus FlatCompiler::pushOperand(Stacks& s, const Operand& operand) {
  if (s.operandCount >= maxStack) {
    addFlatSyntaxError(msgExpressionLimit);
    return kvFailure;
  }
  Operand& slot = s.operands[s.operandCount++];
  slot = operand;
  // A program that is exactly one number constant hands its integer value
  // to the width rules of the functions.
  const uint8_t* code = code_->getData();
  const uint32_t length = code_->getLength() - operand.codeStart;
  slot.hasConstant = code && length == 9 && code[operand.codeStart] == opNumber;
  slot.isTextConstant = code && length >= 2 && code[operand.codeStart] == opText &&
                        std::strlen(reinterpret_cast<const char*>(code + operand.codeStart + 1)) + 2 == length;
  if (slot.hasConstant) {
    double value = flatOperandDouble(code + operand.codeStart + 1);
    if (!(value > -2147483648.0)) value = -2147483648.0;  // NaN too
    if (value > 2147483647.0) value = 2147483647.0;
    slot.constant = int32_t(value);
  }
  return kvSuccess;
}

KvStatus FlatCompiler::pushOperator(Stacks& s, uint16_t index) {
  if (s.operatorCount >= maxStack) {
    addFlatSyntaxError(msgExpressionLimit);
    return kvFailure;
  }
  Operator& slot = s.operators[s.operatorCount++];
  slot.entry = &flatOperatorTable()[index];
  slot.index = index;
  slot.operandDepth = s.operandCount;
  slot.listLength = 0;
  return kvSuccess;
}

KvStatus FlatCompiler::reduceWhile(Stacks& s, uint8_t precedence) {
  while (s.operatorCount > 0 && precedenceOf(s.operators[s.operatorCount - 1].entry) <= precedence)
    if (emit(s) != kvSuccess) return kvFailure;
  return kvSuccess;
}

// Reads the token in operator position: an operator of the table (index),
// or the token that ends the level (index -1, end filled in).
KvStatus FlatCompiler::readOperator(const unsigned char** text, uint16_t mode, int* index, End* end) {
  *index = -1;
  FlatToken token;
  if (token.read(text, flatScanOperator) != kvSuccess) return kvFailure;
  end->start = token.getStart();
  if (token.isEnd()) {
    end->kind = endText;
    return kvSuccess;
  }
  if (token.is(",")) {
    end->kind = endComma;
    return kvSuccess;
  }
  if (token.is(")")) {
    end->kind = endParen;
    return kvSuccess;
  }
  if ((mode & flatModeBetweenLow) && token.is("AND")) {
    end->kind = endAnd;
    return kvSuccess;
  }
  const FlatOperatorEntry* table = flatOperatorTable();
  for (uint16_t i = flatPrefixOperatorCount; i < flatOperatorCount; ++i) {
    if (!token.is(table[i].words[0])) continue;
    const unsigned char* afterFirst = *text;
    bool matched = true;
    for (int w = 1; w < 3 && table[i].words[w]; ++w) {
      FlatToken next;
      if (next.read(text, flatScanOperator) != kvSuccess) return kvFailure;
      if (!next.is(table[i].words[w])) {
        matched = false;
        break;
      }
    }
    if (matched) {
      *index = i;
      return kvSuccess;
    }
    *text = afterFirst;
  }
  if (mode & flatModeOrderBy) {
    end->kind = endWord;
    *text = token.getStart();
    return kvSuccess;
  }
  addFlatSyntaxError(msgInvalidOperator) << token.getText();
  return kvFailure;
}

KvStatus FlatCompiler::level(const unsigned char** text, uint16_t mode, Operand* result, End* end) {
  if ((mode & ~uint32_t(flatModeFlags)) >= uint32_t(flatMaxExpressionDepth) * flatModeDepthUnit) {
    addFlatSyntaxError(msgNestedTooDeeply);
    return kvFailure;
  }
  mode = uint16_t(mode + flatModeDepthUnit);
  const uint32_t start = code_->getLength();
  Stacks s;
  int operandPosition = 1;
  for (;;) {
    if (operandPosition) {
      if (operand(text, mode, s) != kvSuccess) return kvFailure;
      operandPosition = 0;
      continue;
    }
    int index = -1;
    if (readOperator(text, mode, &index, end) != kvSuccess) return kvFailure;
    if (index < 0) break;
    const FlatOperatorEntry* entry = &flatOperatorTable()[index];
    if (entry->opcode == opAny || entry->opcode == opAll) {
      // ANY and ALL qualify a comparison from operand position only.
      char name[32];
      operatorName(entry, name, sizeof(name));
      addFlatSyntaxError(msgInvalidOperator) << name;
      return kvFailure;
    }
    if (reduceWhile(s, precedenceOf(entry)) != kvSuccess) return kvFailure;
    if (pushOperator(s, uint16_t(index)) != kvSuccess) return kvFailure;
    if (entry->opcode == opIn) {
      if (inList(text, mode, s) != kvSuccess) return kvFailure;
    } else if (entry->opcode == opBetween) {
      Operand low;
      End lowEnd;
      if (level(text, uint16_t((mode & ~flatModeOrderBy) | flatModeBetweenLow), &low, &lowEnd) != kvSuccess)
        return kvFailure;
      if (lowEnd.kind != endAnd) {
        addFlatSyntaxError(msgBetweenNoAnd);
        return kvFailure;
      }
      if (pushOperand(s, low) != kvSuccess) return kvFailure;
      operandPosition = 1;  // the high bound
    } else if (!(entry->flags & flatOpPostfix)) {
      operandPosition = 1;
    }
  }
  while (s.operatorCount > 0)
    if (emit(s) != kvSuccess) return kvFailure;
  if (s.operandCount != 1) {
    addFlatSyntaxError(msgValueExpected);
    return kvFailure;
  }
  *result = s.operands[0];
  result->codeStart = start;
  return kvSuccess;
}

KvStatus FlatCompiler::emitQuantified(Stacks& s) {
  Operator any = s.operators[--s.operatorCount];
  Operand subquery = s.operands[--s.operandCount];
  Operator comparison = s.operators[--s.operatorCount];
  Operand tested = s.operands[--s.operandCount];
  char name[32];
  operatorName(comparison.entry, name, sizeof(name));
  if (tested.type == flatTypeParam) {
    addFlatSyntaxError(msgIncompatibleTypes) << name;
    return kvFailure;
  }
  if (checkPair(tested.type, subquery.type, name) != kvSuccess) return kvFailure;
  if (code_->put(any.entry->opcode) != kvSuccess || code_->putU16(0) != kvSuccess ||
      code_->put(comparison.entry->opcode) != kvSuccess)
    return kvFailure;
  Operand result;
  result.type = flatTypeLogical;
  result.width = 1;
  result.codeStart = tested.codeStart;
  return pushOperand(s, result);
}

KvStatus FlatCompiler::emit(Stacks& s) {
  const Operator& top = s.operators[s.operatorCount - 1];
  const FlatOperatorEntry* entry = top.entry;
  if (entry->opcode == opAny || entry->opcode == opAll) return emitQuantified(s);
  Operator op = s.operators[--s.operatorCount];
  char name[32];
  operatorName(entry, name, sizeof(name));
  Operand result;
  result.width = 8;

  if (entry->opcode == opBetween) {
    if (s.operandCount - op.operandDepth != 2) {
      addFlatSyntaxError(msgBetweenNoAnd);
      return kvFailure;
    }
    Operand high = s.operands[--s.operandCount];
    Operand low = s.operands[--s.operandCount];
    Operand value = s.operands[--s.operandCount];
    if (value.type == flatTypeParam && low.type == flatTypeParam && high.type == flatTypeParam) {
      addFlatError(stateColumnNotFound, msgFieldNotFound) << "?";
      return kvFailure;
    }
    if (value.type == flatTypeParam) {
      value.type = low.type != flatTypeParam ? low.type : high.type;
      if (setParamType(value, value.type) != kvSuccess) return kvFailure;
    }
    for (Operand* bound : {&low, &high}) {
      if (bound->type == flatTypeParam) {
        bound->type = value.type;
        if (setParamType(*bound, value.type) != kvSuccess) return kvFailure;
      }
      if (!(bound->type == value.type || bound->type == flatTypeAny || value.type == flatTypeAny)) {
        addFlatSyntaxError(msgIncompatibleTypes) << name;
        return kvFailure;
      }
    }
    if (code_->put(opBetween) != kvSuccess) return kvFailure;
    if ((entry->flags & flatOpNotForm) && code_->put(opNot) != kvSuccess) return kvFailure;
    result.type = flatTypeLogical;
    result.width = 1;
    result.codeStart = value.codeStart;
    return pushOperand(s, result);
  }

  if (op.index < flatPrefixOperatorCount || (entry->flags & flatOpPostfix)) {
    Operand x = s.operands[--s.operandCount];
    if (entry->leftType != flatTypeAny) {
      if (x.type == flatTypeParam) {
        x.type = entry->leftType;
        if (setParamType(x, x.type) != kvSuccess) return kvFailure;
      }
      if (x.type != entry->leftType && x.type != flatTypeAny) {
        addFlatSyntaxError(msgIncompatibleTypes) << name;
        return kvFailure;
      }
    }
    if (code_->put(entry->opcode) != kvSuccess) return kvFailure;
    if ((entry->flags & flatOpNotForm) && code_->put(opNot) != kvSuccess) return kvFailure;
    result.type = entry->resultType;
    result.width = resultWidth(result.type, 0, 0);
    result.codeStart = x.codeStart;
    return pushOperand(s, result);
  }

  Operand right = s.operands[--s.operandCount];
  Operand left = s.operands[--s.operandCount];
  if (left.type == flatTypeParam && right.type == flatTypeParam) {
    addFlatError(stateColumnNotFound, msgFieldNotFound) << "?";
    return kvFailure;
  }
  const FlatOperatorEntry* chosen = nullptr;
  if (entry->rightType == flatTypeAny) {
    // Comparisons, IN and "++": a marker takes the other side's type.
    if (left.type == flatTypeParam) {
      left.type = right.type;
      if (setParamType(left, left.type) != kvSuccess) return kvFailure;
    } else if (right.type == flatTypeParam) {
      right.type = left.type;
      if (setParamType(right, right.type) != kvSuccess) return kvFailure;
    }
    if (checkPair(left.type, right.type, name) != kvSuccess) return kvFailure;
    chosen = entry;
  } else {
    // Typed operators: the first entry of the name whose operand types
    // fit, from the one the name found on; a marker takes the chosen
    // entry's type for its side.
    const FlatOperatorEntry* table = flatOperatorTable();
    for (uint16_t i = op.index; i < flatOperatorCount && !chosen; ++i)
      if (sameName(&table[i], entry) && fits(left.type, table[i].leftType) && fits(right.type, table[i].rightType))
        chosen = &table[i];
    if (!chosen) {
      addFlatSyntaxError(msgIncompatibleTypes) << name;
      return kvFailure;
    }
    if (left.type == flatTypeParam && setParamType(left, chosen->leftType) != kvSuccess) return kvFailure;
    if (right.type == flatTypeParam && setParamType(right, chosen->rightType) != kvSuccess) return kvFailure;
  }
  result.type = chosen->resultType;
  result.width = resultWidth(result.type, left.width, right.width);
  result.codeStart = left.codeStart;
  if ((chosen->flags & flatOpLeftOuter) && code_->put(opOuterLeft) != kvSuccess) return kvFailure;
  if ((chosen->flags & flatOpRightOuter) && code_->put(opOuterRight) != kvSuccess) return kvFailure;
  if (code_->put(chosen->opcode) != kvSuccess) return kvFailure;
  if (chosen->opcode == opIn && code_->putU16(op.listLength) != kvSuccess) return kvFailure;
  if ((chosen->flags & flatOpNotForm) && code_->put(opNot) != kvSuccess) return kvFailure;
  return pushOperand(s, result);
}

}  // namespace flatcompile

// ---------------------------------------------------------------- the entry

KvStatus FlatStatement::compileExpr(FlatSqlDesc* query, FlatFileDesc* table, const unsigned char** text,
                                    FlatCodeBuffer* code, int16_t* type, uint16_t* width, uint16_t mode,
                                    uint16_t* length) {
  using namespace flatcompile;
  const uint32_t start = code->getLength();
  FlatCompiler compiler(this, query, table, code);
  Operand result;
  End end;
  KvStatus status = compiler.level(text, mode, &result, &end);
  if (status == kvSuccess && end.kind != endText) {
    if (mode & (flatModeOrderBy | flatModeAggregate)) {
      *text = end.start;
    } else {
      FlatToken token;
      const unsigned char* at = end.start;
      if (token.read(&at, flatScanOperator) == kvSuccess) addFlatSyntaxError(msgInvalidOperator) << token.getText();
      status = kvFailure;
    }
  }
  if (status == kvSuccess) status = code->put(opEnd);
  if (status != kvSuccess) {
    code->truncate(start);
    return kvFailure;
  }
  *type = result.type;
  *width = uint16_t(result.width > 0xFFFF ? 0xFFFF : result.width);
  uint32_t programLength = code->getLength() - start;
  *length = uint16_t(programLength > 0xFFFF ? 0xFFFF : programLength);
  return kvSuccess;
}
