// What the evaluator asks of subqueries: whether one has a row (EXISTS,
// opcode 53), how a value stands against its rows (IN, ANY and ALL,
// opcode 56 with 52, 54 or 55) and the value of a scalar subquery (59).
// The subquery stage answers from each subquery's result rows; until it is
// built the questions fail with S1C00 "Driver not capable.", so a statement
// with a subquery prepares but cannot be evaluated.
#pragma once

#include "flat/flat_types.h"

// A tested value and the form of the test.
struct FlatSubqueryTest {
  uint8_t form = 0;        // 52 IN, 54 ANY, 55 ALL
  uint8_t comparison = 0;  // of ANY and ALL: 17-22
  uint8_t kind = 0;        // the tested value's kind (flat/expr/flat_evaluator.h)
  const uint8_t* value = nullptr;
  uint32_t length = 0;
};

// The answer of a correlated subquery asked while a table of an enclosing
// query is not yet on a row (the join loop tests its WHERE clause as each
// table is placed): it waits for the enclosing row, as a column of that
// table would. EXISTS and the comparisons give it as their result.
enum : uint16_t { flatSubqueryUndecided = 2 };

// index: the subquery's place in query's subquery list; exists 1 TRUE,
// 0 FALSE or flatSubqueryUndecided.
KV_FLAT_API KvStatus flatSubqueryExists(FlatStatement* statement, FlatSqlDesc* query, uint16_t index,
                                        uint16_t* exists);
// result: 1 TRUE, 0 FALSE or flatSubqueryUndecided.
KV_FLAT_API KvStatus flatSubqueryCompare(FlatStatement* statement, FlatSqlDesc* query, uint16_t index,
                                         const FlatSubqueryTest& test, uint16_t* result);
// The single value of a scalar subquery into out (capacity bytes): its
// length and kind (NULL with length 0 when it has no row; undecidable
// while an enclosing row it depends on is not in place).
KV_FLAT_API KvStatus flatSubqueryValue(FlatStatement* statement, FlatSqlDesc* query, uint16_t index, uint8_t* out,
                                       uint32_t capacity, uint32_t* length, uint8_t* kind);

// A new execution of query's statement: what its subqueries (and theirs)
// kept of their rows for the last one is dropped.
KV_FLAT_API void flatResetSubqueryAnswers(FlatSqlDesc* query);
