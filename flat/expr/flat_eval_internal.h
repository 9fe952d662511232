// The evaluator's machine, shared by its source files and not exported:
// the value stack over the scratch area and the operations' helpers.
// flat_evaluator.cpp holds the main loop and the values that come from
// outside (columns, parameters, ROWID, aggregates, subqueries, CURRENT OF,
// key segments); flat_eval_logic.cpp the operators (arithmetic,
// comparisons, logic, IN, BETWEEN, IIF, concatenation);
// flat_eval_functions.cpp the scalar functions.
//
// Scratch discipline: values lie one after another in the scratch area; a
// text is followed by a NUL there. An operation takes its operands from the
// top of the stack and writes its result where its first operand began, so
// the area in use always ends where the top value ends.
#pragma once

#include "flat/expr/flat_byte_code.h"
#include "flat/expr/flat_evaluator.h"

namespace flateval {

// The kinds of flat_evaluator.h, and one of the machine's own: the bytes of
// a fixed-layout key built by key segments (opcode 44).
enum : uint8_t { kindKey = 0x80 };

inline bool isText(uint8_t kind) { return kind == flatEvalText || kind == flatEvalFunctionText; }
inline bool isNumeric(uint8_t kind) { return kind == flatEvalNumber || kind == flatEvalDate; }
inline bool isNullish(uint8_t kind) { return kind == flatEvalNull || kind == flatEvalOuterBlank; }
inline bool hasNoValue(uint8_t kind) { return isNullish(kind) || kind == flatEvalUndecidable; }

// Posts an engine message under S1000 and fails.
KvStatus evalFailure(uint16_t message);

// Plain data: a machine is made for every evaluation (every row of a scan),
// so its stack is left unset and only entries below the depth are read.
struct Entry {
  uint8_t kind;
  uint32_t offset;  // in the scratch area
  uint32_t length;  // bytes of the value (a text without its NUL)
};

class Machine {
 public:
  Machine(FlatStatement* statement, FlatSqlDesc* query, FlatFileDesc* table, uint16_t mode);
  KvStatus run(const uint8_t* program);
  KvStatus result(uint8_t* out, uint32_t capacity, int16_t* length, uint8_t* kind);

  // ---- flat_eval_logic.cpp
  KvStatus arithmetic(uint8_t opcode);
  KvStatus negate();
  KvStatus logicalNot();
  KvStatus concatenate(uint8_t opcode);
  KvStatus compare(uint8_t opcode);
  KvStatus outerPrefix(uint8_t opcode, const uint8_t** next);
  KvStatus isNull();
  KvStatus andOr(uint8_t opcode);
  KvStatus between();
  KvStatus inList(uint16_t count);
  KvStatus iif();

  // ---- flat_eval_functions.cpp
  KvStatus trim(uint8_t opcode);
  KvStatus changeCase(uint8_t opcode);
  KvStatus substr(uint8_t arguments);
  KvStatus leftRight(uint8_t opcode);
  KvStatus space();
  KvStatus length();
  KvStatus chr();
  KvStatus numberFunction(uint8_t opcode);
  KvStatus str(uint8_t arguments);
  KvStatus datePart(uint8_t opcode);
  KvStatus dtos();
  KvStatus dtoc(uint8_t arguments);
  KvStatus dateValue(uint8_t arguments);
  KvStatus value();
  KvStatus strValue();

  // ---- the stack
  // Fails with 3954 unless n values are on the stack (a malformed program).
  KvStatus need(uint16_t n);
  // The value n places below the top (0: the top).
  Entry& at(uint16_t n) { return stack_[depth_ - 1 - n]; }
  const uint8_t* bytes(const Entry& e) const { return scratch_ + e.offset; }
  double number(const Entry& e) const;
  KvStatus pushValue(uint8_t kind, const void* value, uint32_t length, uint32_t limit);
  KvStatus pushDouble(uint8_t kind, double value);
  KvStatus pushMark(uint8_t kind);
  // Takes the top count values and leaves the result where the first of
  // them began; value may point into the scratch area.
  KvStatus replace(uint16_t count, uint8_t kind, const void* value, uint32_t length);
  KvStatus replaceDouble(uint16_t count, uint8_t kind, double value);
  KvStatus replaceLogical(uint16_t count, bool value);
  KvStatus replaceMark(uint16_t count, uint8_t kind);
  // Of count operands, the first NULL (kept as it is) or undecidable one
  // becomes the result: answered 1 when it did.
  bool propagateMissing(uint16_t count, KvStatus* status);
  // Text comparison: NULL-aware whole texts without trailing blanks, else
  // a over the length of b; international order when the connection asks.
  int compareText(const uint8_t* a, uint32_t aLength, const uint8_t* b, uint32_t bLength) const;
  // -1, 0, 1 of two values of comparable kinds; 0 with *ok 0 when their
  // kinds cannot be compared.
  int compareValues(const Entry& a, const Entry& b, bool* ok) const;
  KvStatus kindError(uint8_t opcode);
  bool nullAware() const { return nullAware_; }

 private:
  KvStatus column(const uint8_t* op);
  KvStatus rowId(const uint8_t* op);
  KvStatus parameter(uint16_t number);
  KvStatus aggregate(uint16_t index);
  KvStatus subquery(const uint8_t* op, const uint8_t** next);
  KvStatus exists(uint16_t index);
  KvStatus scalarSubquery(uint16_t index);
  KvStatus currentOf(const uint8_t* op);
  KvStatus keySegment(uint16_t end);
  // A table's place in the join: 0 when it has a current row, else the
  // kind its values take (undecidable or the blank outer-join value).
  uint8_t tableState(FlatFileDesc* table) const;
  FlatFileDesc* tableOf(uint32_t handle) const;

  FlatStatement* statement_;
  FlatSqlDesc* query_;
  FlatFileDesc* table_;
  uint16_t mode_;
  bool nullAware_;
  bool intlSort_;
  uint8_t matched_ = 1;
  uint8_t pendingOuter_ = 0;  // 23 or 24 waiting for its comparison
  uint16_t depth_ = 0;
  uint32_t used_ = 0;
  Entry stack_[flatEvalStackEntries + 1];
  uint8_t scratch_[flatEvalScratchBytes + 8];
};

}  // namespace flateval
