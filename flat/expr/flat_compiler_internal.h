// The expression compiler's working parts, shared by its source files and
// not exported: FlatCompiler compiles one expression (and its nested
// levels) of one query into one code buffer. See flat_compiler.h for what
// the compiler does; flat_compiler.cpp holds the precedence parser and the
// operator rules, flat_compile_operands.cpp the operands (literals, names,
// parameters, select-list positions), flat_compile_calls.cpp functions,
// aggregates, subqueries and IN lists.
#pragma once

#include "flat/expr/flat_byte_code.h"
#include "flat/expr/flat_compiler.h"

class FlatSelectField;
class FlatToken;

namespace flatcompile {

// One operand as the level sees it. Levels nest (parentheses, arguments,
// subqueries), so these stay small.
struct Operand {
  int16_t type = flatTypeNone;
  uint8_t hasConstant = 0;     // its program is exactly one number constant
  uint8_t isTextConstant = 0;  // its program is exactly one text constant
  uint8_t isSubquery = 0;      // a subquery behind IN, ANY or ALL
  int32_t constant = 0;        // the number constant's integer value
  uint32_t width = 0;
  uint32_t codeStart = 0;      // where its program begins in the code buffer
  int32_t param = -1;          // a lone parameter marker: its number
};

// One pending operator.
struct Operator {
  const FlatOperatorEntry* entry = nullptr;
  uint16_t index = 0;         // in the operator table
  uint16_t operandDepth = 0;  // operands on the stack when it was pushed
  uint16_t listLength = 0;    // IN: the values of its list
};

// How a level ended.
enum EndKind : uint8_t {
  endText,   // the end of the text
  endComma,  // ","
  endParen,  // a ")" the level did not open
  endAnd,    // AND after the low bound of BETWEEN
  endWord,   // a word that is no operator (ORDER BY and GROUP BY items)
};

struct End {
  EndKind kind = endText;
  const unsigned char* start = nullptr;  // where the ending token began
};

// Pending operands and operators of one level: precedence keeps them few
// (an operand and an operator a precedence step, and prefix operators).
enum : uint16_t { maxStack = 24 };

class FlatCompiler {
 public:
  FlatCompiler(FlatStatement* statement, FlatSqlDesc* query, FlatFileDesc* table, FlatCodeBuffer* code)
      : statement_(statement), query_(query), table_(table), code_(code) {}

  // One level: an expression up to its end, its program appended to the
  // code buffer. The result describes the whole expression.
  KvStatus level(const unsigned char** text, uint16_t mode, Operand* result, End* end);

 private:
  struct Stacks {
    Operand operands[maxStack];
    uint16_t operandCount = 0;
    Operator operators[maxStack];
    uint16_t operatorCount = 0;
  };

  // flat_compiler.cpp
  KvStatus pushOperand(Stacks& s, const Operand& operand);
  KvStatus pushOperator(Stacks& s, uint16_t index);
  KvStatus readOperator(const unsigned char** text, uint16_t mode, int* index, End* end);
  KvStatus reduceWhile(Stacks& s, uint8_t precedence);
  KvStatus emit(Stacks& s);
  KvStatus emitQuantified(Stacks& s);
  KvStatus checkPair(int16_t left, int16_t right, const char* name);
  KvStatus setParamType(const Operand& operand, int16_t type);

  // flat_compile_operands.cpp
  KvStatus operand(const unsigned char** text, uint16_t mode, Stacks& s);
  KvStatus parenthesis(const unsigned char** text, uint16_t mode, Stacks& s);
  KvStatus number(FlatToken& token, const unsigned char** text, uint16_t mode, Stacks& s);
  KvStatus position(FlatToken& token, uint16_t mode, Operand* out);
  KvStatus braceLiteral(FlatToken& token, Operand* out);
  KvStatus parameter(FlatToken& token, const unsigned char** text, uint16_t mode, Operand* out);
  KvStatus currentOf(const unsigned char** text, Operand* out);
  KvStatus name(FlatToken& token, const unsigned char** text, uint16_t mode, Operand* out);
  KvStatus column(const unsigned char* qualifier, const unsigned char* columnName, uint16_t mode, Operand* out);
  KvStatus rowId(const unsigned char* qualifier, Operand* out);

  // flat_compile_calls.cpp
  KvStatus function(const FlatFunctionEntry* entry, const unsigned char** text, uint16_t mode, Operand* out);
  KvStatus constantFunction(const FlatFunctionEntry* entry, Operand* out);
  KvStatus aggregate(FlatToken& word, const unsigned char** text, uint16_t mode, Operand* out);
  KvStatus subquery(const unsigned char** text, uint8_t opcode, Operand* out);
  KvStatus inList(const unsigned char** text, uint16_t mode, Stacks& s);
  KvStatus quantified(const unsigned char** text, uint16_t index, Stacks& s);

  FlatStatement* statement_;
  FlatSqlDesc* query_;
  FlatFileDesc* table_;
  FlatCodeBuffer* code_;
};

// Helpers shared by the compiler's files.
bool isComparison(uint8_t opcode);
// The folded type's SQL type for a parameter marker.
int16_t markerSqlType(int16_t type);
// Reads the token after *text without moving it.
KvStatus peek(const unsigned char* text, uint16_t mode, FlatToken* token);
// Gives out the type and width of a select item's value: its compiled type,
// and for a plain column the width its SQL type folds to.
void itemType(const FlatSelectField* item, Operand* out);

}  // namespace flatcompile
