// The expression byte code: walk lengths of every instruction form,
// simple programs, stack effects, the function and operator tables, type
// folding, and the emitter's limit.
#include "tests/flat/flat_test_support.h"

#include "flat/expr/flat_byte_code.h"
#include "flat/flat_message_ids.h"

#include <cstring>

namespace {

// The steps getNextOp takes over a program until its end.
std::vector<long> steps(const std::vector<uint8_t>& program) {
  std::vector<long> result;
  for (const uint8_t* op = program.data(); *op != opEnd;) {
    const uint8_t* next = getNextOp(op);
    result.push_back(next - op);
    op = next;
  }
  return result;
}

TEST(FlatByteCodeTest, WalkLengths) {
  std::vector<uint8_t> text = {opText};
  for (int b = 1; b < 256; ++b) text.push_back(uint8_t(b));
  text.push_back(0);
  text.push_back(opEnd);
  struct Case {
    std::vector<uint8_t> program;
    std::vector<long> expected;
  } cases[] = {
      {{opSubquery, 1, 0, opIn, 0, 0, opEnd}, {3, 3}},
      {{opSubquery, 1, 0, opAny, 0, 0, opGreater, opEnd}, {3, 4}},
      {{opNumber, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F, opDate, 0, 0, 0, 0, 0, 0, 0, 0, opEnd}, {9, 9}},
      {{opColumn, 1, 0, 0, 0, 2, 0, opRowId, 1, 0, 0, 0, opConcat, opEnd}, {7, 5, 1}},
      {{opLogical, 1, opSubstr, 3, opDtoc, 1, opDateValue, 2, opStr, 3, opEnd}, {2, 2, 2, 2, 2}},
      {{opKeySegment, 8, 0, opAggregate, 0, 0, opExists, 1, 0, opParameter, 0, 0, opScalarSubquery, 0, 0, opEnd},
       {3, 3, 3, 3, 3}},
      {{opCurrentOf, 3, 0, 'c', 'u', 'r', opNull, opEnd}, {6, 1}},
      {{opChr, opBytes, 200, opNoOp, opEnd}, {1, 1, 1, 1}},
      {text, {257}},
  };
  for (const Case& c : cases) EXPECT_EQ(steps(c.program), c.expected);
}

TEST(FlatByteCodeTest, SimpleFields) {
  const std::vector<uint8_t> simple[] = {
      {opEnd},
      {opColumn, 1, 0, 0, 0, 0, 0, opEnd},
      {opColumn, 1, 0, 0, 0, 0, 0, opColumn, 1, 0, 0, 0, 1, 0, opConcat, opEnd},
  };
  const std::vector<uint8_t> computed[] = {
      {opColumn, 1, 0, 0, 0, 0, 0, opText, 'x', 0, opConcat, opEnd},
      {opRowId, 1, 0, 0, 0, opEnd},
      {opColumn, 1, 0, 0, 0, 0, 0, opColumn, 1, 0, 0, 0, 1, 0, opConcatBlanks, opEnd},
  };
  for (const auto& p : simple) EXPECT_EQ(isSimpleField(p.data()), 1);
  for (const auto& p : computed) EXPECT_EQ(isSimpleField(p.data()), 0);
  EXPECT_EQ(flatProgramLength(simple[2].data()), simple[2].size());
}

TEST(FlatByteCodeTest, StackEffects) {
  struct Case {
    std::vector<uint8_t> op;
    uint16_t pops, pushes;
  } cases[] = {
      {{opNumber, 0, 0, 0, 0, 0, 0, 0, 0}, 0, 1}, {{opAdd}, 2, 1},           {{opNot}, 1, 1},
      {{opBetween}, 3, 1},                        {{opIn, 3, 0}, 4, 1},      {{opAny, 0, 0, opEqual}, 1, 1},
      {{opSubquery, 0, 0}, 0, 0},                 {{opSubstr, 3}, 3, 1},     {{opOuterLeft}, 0, 0},
      {{opIif}, 3, 1},                            {{opAggregate, 0, 0}, 0, 1}, {{opCurrentOf, 0, 0}, 0, 1},
  };
  for (const Case& c : cases) {
    uint16_t pops = 9, pushes = 9;
    flatStackEffect(c.op.data(), &pops, &pushes);
    EXPECT_EQ(pops, c.pops) << int(c.op[0]);
    EXPECT_EQ(pushes, c.pushes) << int(c.op[0]);
  }
}

TEST(FlatByteCodeTest, Tables) {
  const FlatFunctionEntry* functions = flatFunctionTable();
  EXPECT_STREQ(functions[0].name, "RTRIM");
  EXPECT_STREQ(functions[flatFunctionCount - 1].name, "EXISTS");
  EXPECT_EQ(functions[flatFunctionCount - 1].opcode, opExists);
  const FlatOperatorEntry* operators = flatOperatorTable();
  struct Case {
    uint16_t index;
    const char* first;
    uint8_t opcode;
    uint8_t precedence;
    uint8_t flags;
  } cases[] = {
      {0, "+", opUnaryPlus, 1, 0},        {2, "NOT", opNot, 5, 0},
      {3, "**", opPower, 1, 0},           {13, "+", opConcat, 3, 0},
      {26, "*=", opEqual, 4, flatOpLeftOuter}, {27, "=*", opEqual, 4, flatOpRightOuter},
      {33, "IS", opIsNull, 4, flatOpPostfix | flatOpNotForm}, {34, "AND", opAnd, 6, 0},
      {35, "OR", opOr, 7, 0},             {41, "NOT", opAll, 3, flatOpNotForm},
  };
  for (const Case& c : cases) {
    const FlatOperatorEntry& e = operators[c.index];
    EXPECT_STREQ(e.words[0], c.first) << c.index;
    EXPECT_EQ(e.opcode, c.opcode) << c.index;
    EXPECT_EQ(e.flags & flatOpPrecedence, c.precedence) << c.index;
    EXPECT_EQ(e.flags & ~flatOpPrecedence, c.flags) << c.index;
  }
}

TEST(FlatByteCodeTest, TypeFolding) {
  struct Case {
    int16_t sqlType;
    uint32_t length;
    int16_t type;
    uint16_t width;
  } cases[] = {
      {SQL_CHAR, 10, flatTypeText, 10},           {SQL_VARCHAR, 70000, flatTypeText, 0xFFFF},
      {SQL_INTEGER, 10, flatTypeNumber, 8},       {SQL_NUMERIC, 19, flatTypeNumber, 8},
      {SQL_BIGINT, 19, flatTypeNumber, 8},        {SQL_DATE, 10, flatTypeDate, 8},
      {SQL_TIMESTAMP, 19, flatTypeTimestamp, 8},  {SQL_BIT, 1, flatTypeLogical, 1},
      {SQL_LONGVARCHAR, 9999, flatTypeText, 512}, {SQL_LONGVARBINARY, 9999, flatTypeBinary, 512},
      {SQL_VARBINARY, 16, flatTypeBinary, 16},
  };
  for (const Case& c : cases) {
    int16_t type = 0;
    uint16_t width = 0;
    flatFoldType(c.sqlType, c.length, &type, &width);
    EXPECT_EQ(type, c.type) << c.sqlType;
    EXPECT_EQ(width, c.width) << c.sqlType;
  }
}

class FlatCodeBufferTest : public ErrorCapturingTest {};

TEST_F(FlatCodeBufferTest, GrowsToItsLimitAndNoFurther) {
  FlatCodeBuffer code(100);
  EXPECT_EQ(code.putOp(opNumber), kvSuccess);
  EXPECT_EQ(code.putDouble(1.5), kvSuccess);
  EXPECT_EQ(code.putOpU16(opIn, 0x0203), kvSuccess);
  EXPECT_EQ(code.putU32(0x04050607), kvSuccess);
  const uint8_t expected[] = {opNumber, 0, 0, 0, 0, 0, 0, 0xF8, 0x3F, opIn, 3, 2, 7, 6, 5, 4};
  ASSERT_EQ(code.getLength(), sizeof(expected));
  EXPECT_EQ(std::memcmp(code.getData(), expected, sizeof(expected)), 0);
  uint8_t filler[84] = {};
  EXPECT_EQ(code.putBytes(filler, 84), kvSuccess);
  EXPECT_EQ(code.put(0), kvFailure);
  EXPECT_EQ(lastErrorNumber(), msgExpressionLimit);
  EXPECT_EQ(code.getLength(), 100u);
  uint8_t* program = code.release();
  ASSERT_NE(program, nullptr);
  EXPECT_EQ(program[0], opNumber);
  ramFree(program);
  EXPECT_EQ(code.getLength(), 0u);
}

}  // namespace
