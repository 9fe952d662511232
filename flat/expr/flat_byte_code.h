// The engine's expression byte code. Every expression of a statement
// (select items, WHERE and HAVING, GROUP BY and ORDER BY items, aggregate
// arguments, index keys) is compiled once into a postfix program that the
// evaluator runs against the current rows. The optimizer reads WHERE
// programs byte for byte, and the file drivers compile and evaluate index
// key expressions, so the layout below is a contract.
//
// A program is a sequence of instructions ended by one 0 byte. An
// instruction is an opcode byte and its operand bytes, little-endian and
// unaligned. The instructions that produce an operator's operands come
// before the operator. Programs never leave the process.
//
//   opcode  operand bytes                 instruction
//   0       -                             end of program
//   1       8: double                     date, time or timestamp (Julian days)
//   2       8: double                     number
//   3       text bytes, then NUL          text (cannot hold a NUL)
//   4       1: 0 or 1                     logical
//   5       -                             NULL
//   6       4: table handle, 2: column    column of one of the statement's tables
//   7-22    -                             unary minus, NOT, MOD, power, + - * /,
//                                         concatenations 15 and 16, comparisons
//                                         > >= < <= = <> (17-22)
//   23, 24  -                             outer-join prefixes "*=" and "=*": stand
//                                         right before the comparison they qualify
//   25-33   -                             LIKE, containment (no producer), IS NULL,
//                                         AND, OR, RTRIM, LTRIM, UPPER, LOWER
//   34      1: arguments given            SUBSTR
//   35-41   -                             SPACE LEFT RIGHT LEN MONTH DAY YEAR
//   42, 43  1: arguments given            DTOC, DATEVAL/CTOD
//   44      2: end offset                 key segment end (sort and optimizer only)
//   45      -                             BETWEEN (value, low, high)
//   46      1: arguments given            STR
//   47-49   -                             DTOS VAL IIF
//   50      4: table handle               ROWID of the table's current row
//   51      2: aggregate index            value of an aggregate of the query
//   52      2: list length n              IN: tested value, then n values
//   53      2: subquery index             EXISTS
//   54, 55  2: list length, 1: comparison ANY, ALL (only behind 56)
//   56      2: subquery index             tested value against a subquery; always
//                                         followed by 52 0, 54 0 cmp or 55 0 cmp
//   57      2: parameter number           value of a parameter (from 0)
//   58      -                             no operation
//   59      2: subquery index             scalar subquery
//   60      2: length n, n bytes          CURRENT OF cursor-name
//   61-68   -                             CHR INT ROUND MIN MAX STRVAL NUMVAL ++
//
// Table handles: a table is named by a 32-bit handle that its statement
// gives it when the table is opened for the statement (FlatStatement::
// registerTable), never by an address; two readers of one file in a
// self-join have different handles. The same handle appears in the key
// programs of the table's index descriptions, so that the optimizer can
// match them against WHERE programs byte for byte.
#pragma once

#include "flat/flat_types.h"

enum FlatOpcode : uint8_t {
  opEnd = 0,
  opDate = 1,
  opNumber = 2,
  opText = 3,
  opLogical = 4,
  opNull = 5,
  opColumn = 6,
  opNegate = 7,
  opNot = 8,
  opMod = 9,
  opPower = 10,
  opAdd = 11,
  opSubtract = 12,
  opMultiply = 13,
  opDivide = 14,
  opConcat = 15,
  opConcatBlanks = 16,  // moves the left text's trailing blanks to the end
  opGreater = 17,
  opGreaterEqual = 18,
  opLess = 19,
  opLessEqual = 20,
  opEqual = 21,
  opNotEqual = 22,
  opOuterLeft = 23,   // "*=": the right operand's table is the optional one
  opOuterRight = 24,  // "=*": the left operand's table is the optional one
  opLike = 25,
  opContains = 26,
  opIsNull = 27,
  opAnd = 28,
  opOr = 29,
  opRtrim = 30,
  opLtrim = 31,
  opUpper = 32,
  opLower = 33,
  opSubstr = 34,
  opSpace = 35,
  opLeft = 36,
  opRight = 37,
  opLen = 38,
  opMonth = 39,
  opDay = 40,
  opYear = 41,
  opDtoc = 42,
  opDateValue = 43,
  opKeySegment = 44,
  opBetween = 45,
  opStr = 46,
  opDtos = 47,
  opVal = 48,
  opIif = 49,
  opRowId = 50,
  opAggregate = 51,
  opIn = 52,
  opExists = 53,
  opAny = 54,
  opAll = 55,
  opSubquery = 56,
  opParameter = 57,
  opNoOp = 58,
  opScalarSubquery = 59,
  opCurrentOf = 60,
  opChr = 61,
  opInt = 62,
  opRound = 63,
  opMin = 64,
  opMax = 65,
  opStrVal = 66,
  opNumVal = 67,
  opBytes = 68,  // "++": the bytes of two values of any type (composite keys)
  opLastStored = 68,
  // Codes of the function and operator tables that never reach a program.
  opTime = 252,       // TIME: a constant at compile time
  opUserName = 253,   // USERNAME: a text constant at compile time
  opUnaryPlus = 254,  // dropped
  opToday = 255,      // DATE and TODAY: a constant at compile time
};

// Type codes of the compiler: ODBC SQL type numbers, and three of its own.
enum FlatExprType : int16_t {
  flatTypeNone = 0,  // no operand (right side of prefix and postfix operators)
  flatTypeBinary = -2,
  flatTypeLogical = -7,
  flatTypeNumber = 8,
  flatTypeDate = 9,
  flatTypeTime = 10,
  flatTypeTimestamp = 11,
  flatTypeText = 12,
  flatTypeAny = 90,    // NULL, IIF, "++" and the operands of comparisons
  flatTypeParam = 91,  // a parameter marker whose type the context has not fixed yet
};

enum : uint16_t {
  flatWidthUnknown = 0x8000,
  flatLongWidth = 512,          // width of a long column in an expression
  flatMaxTextResult = 1024,     // longest text any computed value may have
  flatTableHandleBytes = 4,
  flatMaxProgramBytes = 32767,  // the emitter's limit (3954 beyond it)
};

// Flag bits of the operator table.
enum : uint8_t {
  flatOpPrecedence = 0x0F,  // 1 binds tightest, 7 loosest
  flatOpPostfix = 0x10,
  flatOpRightOuter = 0x20,  // "=*"
  flatOpLeftOuter = 0x40,   // "*="
  flatOpNotForm = 0x80,
};

// One function of the compiler's table. Signature letters, one an
// argument: C text, N number, D date (or timestamp), L logical, A any; 'O'
// before a letter makes that argument and all later ones optional; a digit
// behind a letter sets the result width from that argument: '1' its width
// (for a number: its constant value), '2' the width so far + 1 - the
// constant (a start position), '3' the constant (a length).
struct FlatFunctionEntry {
  const char* name;
  uint8_t opcode;
  uint8_t maxArguments;
  int16_t resultType;
  uint16_t fixedWidth;  // the result's width when not 0
  const char* signature;
};

// One operator. The first three entries are the prefix operators. Names of
// several words (NOT forms, IS NULL) list them in order.
struct FlatOperatorEntry {
  const char* words[3];
  uint8_t opcode;
  int16_t leftType;
  int16_t rightType;
  int16_t resultType;
  uint8_t flags;
};

enum : uint16_t { flatFunctionCount = 35, flatPrefixOperatorCount = 3, flatOperatorCount = 42 };

KV_FLAT_API const FlatFunctionEntry* flatFunctionTable();
KV_FLAT_API const FlatOperatorEntry* flatOperatorTable();

// The next instruction after the one at op, by the walk lengths of the
// opcodes: 0 and every opcode above 60 take 1 byte; 1 and 2 take 9; 3 runs
// over its NUL; 4, 34, 42, 43, 46 take 2; 6 takes 7; 44, 51, 52, 53, 57,
// 59 take 3; 50 takes 5; 54 and 55 take 4; 56 takes 3, or 4 when the byte
// after its operand is a comparison (17-22) or LIKE; 60 takes 3 + its length.
KV_FLAT_API const uint8_t* getNextOp(const uint8_t* op);
// 1 when the program is empty or holds only column instructions and text
// concatenations (15), else 0.
KV_FLAT_API uint16_t isSimpleField(const uint8_t* program);
// Bytes of a program, its terminating 0 included.
KV_FLAT_API uint32_t flatProgramLength(const uint8_t* program);
// How many values the instruction at op takes from the evaluation stack and
// how many it leaves. 56 and the 52, 54 or 55 behind it together take the
// tested value and leave the result, so 56 counts as taking and leaving
// nothing.
KV_FLAT_API void flatStackEffect(const uint8_t* op, uint16_t* pops, uint16_t* pushes);

// The compiler's type and width of a column of SQL type sqlType and length:
// CHAR and VARCHAR are text of their length; dates, times and timestamps
// stay (width 8); BIT stays (width 1); the numeric types are numbers (width
// 8); LONGVARCHAR is text and LONGVARBINARY binary, both of width 512;
// BINARY and VARBINARY are binary of their length.
KV_FLAT_API void flatFoldType(int16_t sqlType, uint32_t length, int16_t* type, uint16_t* width);

// Operand readers of an instruction (at: the first operand byte).
inline uint16_t flatOperandU16(const uint8_t* at) {
  return uint16_t(at[0] | (at[1] << 8));
}
KV_FLAT_API uint32_t flatOperandU32(const uint8_t* at);
KV_FLAT_API double flatOperandDouble(const uint8_t* at);
KV_FLAT_API void flatPutDouble(uint8_t* at, double value);

// A program being written: a buffer that grows as instructions are
// appended, up to a limit (flatMaxProgramBytes unless given), past which
// the append fails with 3954 "Internal evaluator expression limit has been
// exceeded." (SQLSTATE 37000) and the buffer stays as it was.
class KV_FLAT_API FlatCodeBuffer {
 public:
  explicit FlatCodeBuffer(uint32_t limit = flatMaxProgramBytes);
  ~FlatCodeBuffer();
  FlatCodeBuffer(const FlatCodeBuffer&) = delete;
  FlatCodeBuffer& operator=(const FlatCodeBuffer&) = delete;

  KvStatus put(uint8_t byte);
  KvStatus putU16(uint16_t value);
  KvStatus putU32(uint32_t value);
  KvStatus putDouble(double value);
  KvStatus putBytes(const void* bytes, uint32_t length);
  // An instruction with no operand, or with one 16-bit operand.
  KvStatus putOp(uint8_t opcode) { return put(opcode); }
  KvStatus putOpU16(uint8_t opcode, uint16_t operand);

  uint32_t getLength() const { return length_; }
  const uint8_t* getData() const { return data_; }
  uint8_t* getData() { return data_; }
  // Drops everything from length on.
  void truncate(uint32_t length) {
    if (length < length_) length_ = length;
  }
  // Hands the program over as a ramAlloc block of exactly its length (the
  // buffer is empty afterwards); null when empty or out of memory.
  uint8_t* release();

 private:
  KvStatus reserve(uint32_t more);

  uint8_t* data_ = nullptr;
  uint32_t length_ = 0;
  uint32_t capacity_ = 0;
  uint32_t limit_;
};
