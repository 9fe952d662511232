// The expression compiler: FlatStatement::compileExpr turns one SQL
// expression, read token by token from the statement text, into the byte
// code of flat_byte_code.h and reports its type and display width.
//
// It is an operator-precedence parser driven by the function and operator
// tables of the byte code. It resolves column names against the FROM
// tables of the query and then of its enclosing queries, types every
// operand and operator, gives parameter markers the type their context
// fixes, builds subqueries (through the SELECT parser) and aggregate
// records, and refuses what the evaluator cannot run, with the engine's
// messages (SQLSTATE 37000; 3923 and 3929 of column lookup with S0022).
//
// The expression ends at a ",", at a ")" it did not open, at the end of the
// text, or, for the low bound of BETWEEN, at the word AND. When a token
// ended it, the token is handed back (the text position moved back over it)
// in the modes flatModeOrderBy and flatModeAggregate; in any other mode the
// call fails with 3925 naming the token, so that such an expression must
// use up its text.
//
// Every nested call (parentheses, function arguments, IN-list items,
// BETWEEN bounds) adds one flatModeDepthUnit to the mode: the outermost
// expression is the first level, and more than 25 levels fail with 3935.
// An aggregate's argument starts a new count; an aggregate inside another's
// argument fails at once with 3973, and a subquery more than
// flatMaxQueryDepth queries deep with 3935, so hostile text cannot run the
// parser's own stack out.
#pragma once

#include "flat/flat_types.h"

// Mode bits of compileExpr. The SELECT parser passes flatModeWhere (16) for
// WHERE, flatModeGroupBy | flatModeOrderBy (33) for GROUP BY and
// flatModeHaving (64) for HAVING.
enum FlatCompileMode : uint16_t {
  // ORDER BY or GROUP BY item: a bare integer is a select-list position,
  // and an unknown word after an operand ends the expression.
  flatModeOrderBy = 0x1,
  // Index key expression: names resolve only in the given table, without
  // qualifiers; NULL and ROWID are plain names.
  flatModeIndexKey = 0x2,
  // Aggregate argument: the ending token is handed back.
  flatModeAggregate = 0x4,
  // Parameter markers allowed (INSERT values, UPDATE assignments).
  flatModeParameters = 0x8,
  // WHERE: markers allowed, aggregates refused.
  flatModeWhere = 0x10,
  // GROUP BY: aggregates and select-list positions refused.
  flatModeGroupBy = 0x20,
  // HAVING: markers allowed.
  flatModeHaving = 0x40,
  // Low bound of BETWEEN: the word AND ends the expression.
  flatModeBetweenLow = 0x80,
  // A select-list position takes its width from the select item itself.
  flatModeItemWidth = 0x100,
  flatModeFlags = 0x7FF,
  flatModeDepthUnit = 0x800,
};

enum : uint16_t {
  flatMaxExpressionDepth = 25,
  // Subqueries nest at most this deep below a statement's own query: with
  // 25 expression levels in each, the deepest text the limits allow stays
  // well inside a thread's stack of 512 KB.
  flatMaxQueryDepth = 8,
};
