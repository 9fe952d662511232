// The expression byte code: the function and operator tables, program
// walking, stack effects, type folding and the bounded emitter; see
// flat_byte_code.h.
#include "flat/expr/flat_byte_code.h"

#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "util/byte_order.h"
#include "util/memory/ram.h"

#include <cstring>

namespace {

// Searched in this order: the first entry whose name equals the word wins.
constexpr FlatFunctionEntry functions[] = {
    {"RTRIM", opRtrim, 1, flatTypeText, 0, "C1"},
    {"TRIM", opRtrim, 1, flatTypeText, 0, "C1"},
    {"LTRIM", opLtrim, 1, flatTypeText, 0, "C1"},
    {"UPPER", opUpper, 1, flatTypeText, 0, "C1"},
    {"LOWER", opLower, 1, flatTypeText, 0, "C1"},
    {"LEFT", opLeft, 2, flatTypeText, 0, "C1N3"},
    {"RIGHT", opRight, 2, flatTypeText, 0, "C1N3"},
    {"SUBSTR", opSubstr, 3, flatTypeText, 0, "C1N2ON3"},
    {"SPACE", opSpace, 1, flatTypeText, 0, "N3"},
    {"SPACES", opSpace, 1, flatTypeText, 0, "N3"},
    {"CHR", opChr, 1, flatTypeText, 1, "N"},
    {"LEN", opLen, 1, flatTypeNumber, 0, "C"},
    {"MOD", opMod, 2, flatTypeNumber, 0, "NN"},
    {"INT", opInt, 1, flatTypeNumber, 0, "N"},
    {"ROUND", opRound, 2, flatTypeNumber, 0, "NN"},
    {"POW", opPower, 2, flatTypeNumber, 0, "NN"},
    {"MAX", opMax, 2, flatTypeNumber, 0, "NN"},
    {"MIN", opMin, 2, flatTypeNumber, 0, "NN"},
    {"DATE", opToday, 0, flatTypeDate, 0, ""},
    {"TODAY", opToday, 0, flatTypeDate, 0, ""},
    {"DATEVAL", opDateValue, 3, flatTypeDate, 0, "CONOC"},
    {"CTOD", opDateValue, 3, flatTypeDate, 0, "CONOC"},
    {"DTOC", opDtoc, 3, flatTypeText, 10, "DONOC"},
    {"DTOS", opDtos, 1, flatTypeText, 8, "D"},
    {"STR", opStr, 3, flatTypeText, 10, "NON1ON"},
    {"MONTH", opMonth, 1, flatTypeNumber, 0, "D"},
    {"DAY", opDay, 1, flatTypeNumber, 0, "D"},
    {"YEAR", opYear, 1, flatTypeNumber, 0, "D"},
    {"NUMVAL", opNumVal, 1, flatTypeNumber, 0, "C1"},
    {"VAL", opVal, 1, flatTypeNumber, 0, "C1"},
    {"STRVAL", opStrVal, 1, flatTypeText, 25, "A"},
    {"USERNAME", opUserName, 0, flatTypeText, 25, ""},
    {"TIME", opTime, 0, flatTypeTime, 0, ""},
    {"IIF", opIif, 3, flatTypeAny, 0, "LAA"},
    {"EXISTS", opExists, 1, flatTypeLogical, 0, ""},
};
static_assert(sizeof(functions) / sizeof(functions[0]) == flatFunctionCount, "35 functions");

constexpr int16_t T = flatTypeText, N = flatTypeNumber, D = flatTypeDate, L = flatTypeLogical, A = flatTypeAny,
                  NO = flatTypeNone;

// The prefix operators first; entries of one name differ by operand types
// and are tried in this order.
constexpr FlatOperatorEntry operators[] = {
    {{"+"}, opUnaryPlus, N, NO, N, 1},
    {{"-"}, opNegate, N, NO, N, 1},
    {{"NOT"}, opNot, L, NO, L, 5},
    {{"**"}, opPower, N, N, N, 1},
    {{"^"}, opPower, N, N, N, 1},
    {{"*"}, opMultiply, N, N, N, 2},
    {{"/"}, opDivide, N, N, N, 2},
    {{"+"}, opAdd, N, N, N, 3},
    {{"+"}, opAdd, D, N, D, 3},
    {{"+"}, opAdd, N, D, D, 3},
    {{"-"}, opSubtract, N, N, N, 3},
    {{"-"}, opSubtract, D, N, D, 3},
    {{"-"}, opSubtract, D, D, N, 3},
    {{"+"}, opConcat, T, T, T, 3},
    {{"-"}, opConcatBlanks, T, T, T, 3},
    {{"++"}, opBytes, A, A, A, 3},
    {{">"}, opGreater, A, A, L, 4},
    {{">="}, opGreaterEqual, A, A, L, 4},
    {{"!<"}, opGreaterEqual, A, A, L, 4},
    {{"<"}, opLess, A, A, L, 4},
    {{"<="}, opLessEqual, A, A, L, 4},
    {{"!>"}, opLessEqual, A, A, L, 4},
    {{"="}, opEqual, A, A, L, 4},
    {{"#"}, opNotEqual, A, A, L, 4},
    {{"<>"}, opNotEqual, A, A, L, 4},
    {{"!="}, opNotEqual, A, A, L, 4},
    {{"*="}, opEqual, A, A, L, 4 | flatOpLeftOuter},
    {{"=*"}, opEqual, A, A, L, 4 | flatOpRightOuter},
    {{"LIKE"}, opLike, T, T, L, 4},
    {{"NOT", "LIKE"}, opLike, T, T, L, 4 | flatOpNotForm},
    {{"BETWEEN"}, opBetween, A, A, L, 4},
    {{"NOT", "BETWEEN"}, opBetween, A, A, L, 4 | flatOpNotForm},
    {{"IS", "NULL"}, opIsNull, A, NO, L, 4 | flatOpPostfix},
    {{"IS", "NOT", "NULL"}, opIsNull, A, NO, L, 4 | flatOpPostfix | flatOpNotForm},
    {{"AND"}, opAnd, L, L, L, 6},
    {{"OR"}, opOr, L, L, L, 7},
    {{"IN"}, opIn, A, A, L, 4},
    {{"NOT", "IN"}, opIn, A, A, L, 4 | flatOpNotForm},
    {{"ANY"}, opAny, A, NO, A, 3},
    {{"NOT", "ANY"}, opAny, A, NO, A, 3 | flatOpNotForm},
    {{"ALL"}, opAll, A, NO, A, 3},
    {{"NOT", "ALL"}, opAll, A, NO, A, 3 | flatOpNotForm},
};
static_assert(sizeof(operators) / sizeof(operators[0]) == flatOperatorCount, "42 operators");

// Walk length of each stored opcode; 0 marks the three whose length depends
// on their operands (3, 56, 60).
constexpr uint8_t walkLengths[opLastStored + 1] = {
    1, 9, 9, 0, 2, 1, 7, 1, 1, 1,  // 0-9
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 10-19
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 20-29
    1, 1, 1, 1, 2, 1, 1, 1, 1, 1,  // 30-39
    1, 1, 2, 2, 3, 1, 2, 1, 1, 1,  // 40-49
    5, 3, 3, 3, 4, 4, 0, 3, 1, 3,  // 50-59
    0, 1, 1, 1, 1, 1, 1, 1, 1,     // 60-68
};

// Stack effect (values taken, values left) of the fixed-effect opcodes;
// 0xFF marks those that read it from their operand.
struct Effect {
  uint8_t pops;
  uint8_t pushes;
};
constexpr Effect effects[opLastStored + 1] = {
    {0, 0}, {0, 1}, {0, 1}, {0, 1}, {0, 1}, {0, 1}, {0, 1}, {1, 1}, {1, 1}, {2, 1},  // 0-9
    {2, 1}, {2, 1}, {2, 1}, {2, 1}, {2, 1}, {2, 1}, {2, 1}, {2, 1}, {2, 1}, {2, 1},  // 10-19
    {2, 1}, {2, 1}, {2, 1}, {0, 0}, {0, 0}, {2, 1}, {0, 0}, {1, 1}, {2, 1}, {2, 1},  // 20-29
    {1, 1}, {1, 1}, {1, 1}, {1, 1}, {0xFF, 1}, {1, 1}, {2, 1}, {2, 1}, {1, 1}, {1, 1},  // 30-39
    {1, 1}, {1, 1}, {0xFF, 1}, {0xFF, 1}, {1, 1}, {3, 1}, {0xFF, 1}, {1, 1}, {1, 1}, {3, 1},  // 40-49
    {0, 1}, {0, 1}, {0xFF, 1}, {0, 1}, {0xFF, 1}, {0xFF, 1}, {0, 0}, {0, 1}, {0, 0}, {0, 1},  // 50-59
    {0, 1}, {1, 1}, {1, 1}, {2, 1}, {2, 1}, {2, 1}, {1, 1}, {1, 1}, {2, 1},  // 60-68
};

}  // namespace

const FlatFunctionEntry* flatFunctionTable() { return functions; }
const FlatOperatorEntry* flatOperatorTable() { return operators; }

const uint8_t* getNextOp(const uint8_t* op) {
  uint8_t opcode = *op;
  if (opcode > opCurrentOf) return op + 1;
  switch (opcode) {
    case opText:
      return op + 1 + std::strlen(reinterpret_cast<const char*>(op + 1)) + 1;
    case opSubquery: {
      uint8_t next = op[3];
      return op + ((next >= opGreater && next <= opNotEqual) || next == opLike ? 4 : 3);
    }
    case opCurrentOf:
      return op + 3 + flatOperandU16(op + 1);
    default:
      return op + walkLengths[opcode];
  }
}

uint16_t isSimpleField(const uint8_t* program) {
  for (const uint8_t* op = program; *op != opEnd; op = getNextOp(op))
    if (*op != opColumn && *op != opConcat) return 0;
  return 1;
}

uint32_t flatProgramLength(const uint8_t* program) {
  const uint8_t* op = program;
  while (*op != opEnd) op = getNextOp(op);
  return uint32_t(op - program) + 1;
}

void flatStackEffect(const uint8_t* op, uint16_t* pops, uint16_t* pushes) {
  uint8_t opcode = *op;
  if (opcode > opLastStored) {
    *pops = 0;
    *pushes = 0;
    return;
  }
  *pushes = effects[opcode].pushes;
  *pops = effects[opcode].pops;
  if (*pops != 0xFF) return;
  switch (opcode) {
    case opSubstr:
    case opDtoc:
    case opDateValue:
    case opStr:
      *pops = op[1];
      break;
    default:  // 52, 54, 55: the tested value and the list
      *pops = uint16_t(flatOperandU16(op + 1) + 1);
      break;
  }
}

void flatFoldType(int16_t sqlType, uint32_t length, int16_t* type, uint16_t* width) {
  uint16_t clipped = length > 0xFFFF ? uint16_t(0xFFFF) : uint16_t(length);
  switch (sqlType) {
    case SQL_CHAR:
    case SQL_VARCHAR:
      *type = flatTypeText;
      *width = clipped;
      return;
    case SQL_DATE:
    case SQL_TIME:
    case SQL_TIMESTAMP:
      *type = sqlType;
      *width = 8;
      return;
    case SQL_BIT:
      *type = flatTypeLogical;
      *width = 1;
      return;
    case SQL_LONGVARCHAR:
      *type = flatTypeText;
      *width = flatLongWidth;
      return;
    case SQL_LONGVARBINARY:
      *type = flatTypeBinary;
      *width = flatLongWidth;
      return;
    case SQL_BINARY:
    case SQL_VARBINARY:
      *type = flatTypeBinary;
      *width = clipped;
      return;
    default:  // TINYINT, BIGINT, NUMERIC, DECIMAL, INTEGER, SMALLINT, FLOAT, REAL, DOUBLE
      *type = flatTypeNumber;
      *width = 8;
      return;
  }
}

uint32_t flatOperandU32(const uint8_t* at) { return kvGetU32LE(at); }

double flatOperandDouble(const uint8_t* at) {
  uint64_t bits = kvGetU64LE(at);
  double value;
  std::memcpy(&value, &bits, sizeof(value));
  return value;
}

void flatPutDouble(uint8_t* at, double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof(bits));
  kvPutU64LE(at, bits);
}

// ---------------------------------------------------------------- FlatCodeBuffer

FlatCodeBuffer::FlatCodeBuffer(uint32_t limit) : limit_(limit) {}

FlatCodeBuffer::~FlatCodeBuffer() { ramFree(data_); }

KvStatus FlatCodeBuffer::reserve(uint32_t more) {
  if (more > limit_ || length_ > limit_ - more) {
    addFlatSyntaxError(msgExpressionLimit);
    return kvFailure;
  }
  uint32_t need = length_ + more;
  if (need <= capacity_) return kvSuccess;
  uint32_t capacity = capacity_ ? capacity_ : 64;
  while (capacity < need) capacity *= 2;
  if (capacity > limit_) capacity = limit_;
  void* block = data_;
  if (ramResize(&block, capacity) != kvSuccess) return kvFailure;
  data_ = static_cast<uint8_t*>(block);
  capacity_ = capacity;
  return kvSuccess;
}

KvStatus FlatCodeBuffer::put(uint8_t byte) { return putBytes(&byte, 1); }

KvStatus FlatCodeBuffer::putU16(uint16_t value) {
  uint8_t bytes[2];
  kvPutU16LE(bytes, value);
  return putBytes(bytes, 2);
}

KvStatus FlatCodeBuffer::putU32(uint32_t value) {
  uint8_t bytes[4];
  kvPutU32LE(bytes, value);
  return putBytes(bytes, 4);
}

KvStatus FlatCodeBuffer::putDouble(double value) {
  uint8_t bytes[8];
  flatPutDouble(bytes, value);
  return putBytes(bytes, 8);
}

KvStatus FlatCodeBuffer::putBytes(const void* bytes, uint32_t length) {
  if (length == 0) return kvSuccess;
  if (reserve(length) != kvSuccess) return kvFailure;
  std::memcpy(data_ + length_, bytes, length);
  length_ += length;
  return kvSuccess;
}

KvStatus FlatCodeBuffer::putOpU16(uint8_t opcode, uint16_t operand) {
  uint8_t bytes[3] = {opcode, 0, 0};
  kvPutU16LE(bytes + 1, operand);
  return putBytes(bytes, 3);
}

uint8_t* FlatCodeBuffer::release() {
  if (length_ == 0) return nullptr;
  auto* block = static_cast<uint8_t*>(ramAlloc(length_));
  if (!block) return nullptr;
  std::memcpy(block, data_, length_);
  length_ = 0;
  return block;
}
