// The expression evaluator: evalExpr runs one program of flat_byte_code.h
// against the current row of each table of a query and yields the value as
// bytes and a length. It is a stack machine over a fixed scratch area; no
// call allocates.
//
// Values have kinds: number and date (8-byte doubles; 1e100 is the blank
// date), text (its bytes, NUL-terminated in the scratch area), logical (one
// byte), NULL, undecidable (a table the value depends on has no current row
// yet, because a join is only partly positioned), and the blank outer-join
// value (a column of a table that stands on its blank outer-join row).
//
// NULL-aware mode is on when the mode lacks flatEvalIndexKey and the
// query's flagNullAware is set. In it an empty column or parameter, a blank
// date from DATEVAL or CTOD and an aggregate of no values are NULL, and
// texts compare without their trailing blanks. Outside it those values are
// ordinary (empty text, 0, the blank date) and a text compares equal to
// another that it begins with (the xBase rule: 'ABC' = 'AB').
//
// Comparisons: NULL against NULL behaves as equality (=, <=, >= are TRUE;
// <>, <, > FALSE), except under an outer-join prefix ("*=", "=*"), where a
// NULL key never matches; NULL against a value is FALSE; anything against an
// undecidable value is undecidable, so that a join never drops a row for a
// condition it cannot decide yet. AND gives FALSE when either side is
// FALSE, else undecidable, NULL, TRUE in that order; OR gives TRUE when
// either side is TRUE, else undecidable, NULL, FALSE. IN and BETWEEN with a
// NULL are FALSE. Arithmetic and functions of a NULL are NULL.
//
// Limits (each fails with its message under SQLSTATE S1000): 50 stack
// entries and a 2560-byte scratch area (3946; a text constant may not take
// the area beyond 2400 bytes, and a column, parameter or subquery value is
// read only while fewer than 1500 are in use, and only as far as the area
// reaches); text results of at most 1024 bytes (3945).
#pragma once

#include "flat/flat_types.h"

// Mode bits of evalExpr.
enum FlatEvalMode : uint16_t {
  // Index-key evaluation: columns are read from the table passed in, never
  // NULL-aware, key segments padded with blanks.
  flatEvalIndexKey = 0x2,
  // Key segments padded with blanks.
  flatEvalPadBlanks = 0x1000,
};

// Kinds of values, as the result's kind reports them; a driver's reader
// reports its values with the same bytes (FlatValueKind).
enum FlatEvalKind : uint8_t {
  flatEvalFunctionText = 0x00,  // text made by a function (CHR, SPACE, STR, ...): a text
  flatEvalUndecidable = 0x01,
  flatEvalNull = 0x02,
  flatEvalOuterBlank = 0x03,
  flatEvalNumber = 0x08,
  flatEvalLogical = 0x10,
  flatEvalDate = 0x20,
  flatEvalText = 0x40,
};
static_assert(int(flatEvalNull) == int(flatValueNull) && int(flatEvalNumber) == int(flatValueDouble) &&
                  int(flatEvalLogical) == int(flatValueLogical) && int(flatEvalDate) == int(flatValueDate) &&
                  int(flatEvalText) == int(flatValueText),
              "the evaluator's kinds are the readers' kinds");

enum : uint32_t {
  flatEvalStackEntries = 50,
  flatEvalScratchBytes = 2560,
  flatEvalConstantLimit = 2400,
  flatEvalReadLimit = 1500,
  flatEvalSpaceLimit = 512,
  flatEvalLongParamLimit = 512,
};

// Runs program for the current rows of query (table: the table of an
// index-key evaluation, may be null otherwise). The result goes to out (at
// most outCapacity bytes): a text without its NUL, a number or date as its
// 8-byte double, a logical as its byte followed by the outer-join matched
// flag (so a logical needs 2 bytes), a key of segments (opcode 44) as the
// whole key. length is the result's byte count, 0 for NULL and -1 for
// undecidable; kind (may be null) its kind. A result larger than
// outCapacity fails with 3954.
KV_FLAT_API KvStatus evalExpr(FlatStatement* statement, FlatSqlDesc* query, FlatFileDesc* table,
                              const uint8_t* program, uint8_t* out, uint32_t outCapacity, uint16_t mode,
                              int16_t* length, uint8_t* kind = nullptr);
