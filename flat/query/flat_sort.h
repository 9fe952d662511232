// Ordering a query's keyset by its ORDER BY list through the record sort.
//
// Each ORDER BY item is compiled once, when the statement is prepared
// (flatModeOrderBy: a bare integer is a select-list position), into its own
// program with its type and width (FlatOrderItem); the sort reads those.
// The programs together may take at most flatSortProgramBytes bytes (3954
// beyond it, when the sort starts). Every row of the
// keyset is evaluated into one KvSort record: per item a tag byte (0 NULL or
// undecidable, 1 a value) and the value made byte-comparable (a number or
// date as its double with the sign folded so that bytes order as numbers, a
// text padded with blanks to the item's width, a logical as its byte), then
// the row's record identifier images in FROM order. The sorted records are
// written back as keyset rows 1, 2, ... and the keyset is complete. The sort
// spills to its work file when memory is full, so memory stays bounded.
//
// A DISTINCT query also evaluates every select item behind the ORDER BY
// items; one ascending key covers them all, so without an ORDER BY the rows
// come out in ascending order of their values, and a record equal to the one
// before it on every key is dropped.
//
// Items are separated by ","; an item may be followed by ASC or DESC; any
// other token fails the prepare with 3906 naming it. A DESC item is descending; NULLs
// sort first in both directions (NULL-aware queries; elsewhere an empty
// value is ordinary). Every 16 rows the OS layer's abort poll (bosabort) is
// asked whether to stop (4018 "Operation aborted!").
#pragma once

#include "flat/flat_types.h"

class FlatSelectField;
class KvArray;
class RidFileMgr;

enum : uint32_t {
  flatSortProgramBytes = 2048,  // capacity of the ORDER BY key programs together
  flatSortTextLimit = 1024,     // the widest text the evaluator yields
};

// Sort-key slots: one value of an evaluated expression as bytes that
// compare (unsigned, byte by byte) as the values order. A slot is a tag
// byte (0 NULL, undecidable or the blank outer-join value; 1 a value) and
// the value: a number or date as its double with the sign folded so that
// bytes order as numbers (8 bytes), a logical as its byte, a text padded
// with blanks to the slot (at most flatSortTextLimit bytes). An empty text
// that is a value (outside NULL-aware queries) is tag 1 and blanks.
//
// The bytes a slot takes for a value of compiler type type and display
// width width.
KV_FLAT_API uint16_t flatSortSlotLength(int16_t type, uint32_t width);
// Writes the value (length bytes of an evaluated result of kind) into the
// slotLength bytes at slot.
KV_FLAT_API void flatEncodeSortValue(const uint8_t* value, int16_t length, uint8_t kind, uint8_t* slot,
                                     uint16_t slotLength);
// The double of a number or date slot's value bytes (behind the tag).
KV_FLAT_API double flatDecodeSortNumber(const uint8_t* bytes);

// The program that yields select item field's value (a copy of its
// program, or a column instruction for a plain column): a ramAlloc block
// the caller frees.
KV_FLAT_API KvStatus flatSelectItemProgram(const FlatSelectField* field, uint8_t** program);

// Orders keyset (of query) by orderItems (the FlatOrderItem list the
// prepare compiled, FlatSqlDesc::getOrderItems; null or empty for none),
// keeping one row of equal ones for a DISTINCT query. blockLimit (0: the
// sort's default) caps the sort's memory blocks, so tests can make it spill.
KV_FLAT_API KvStatus flatSortKeyset(FlatStatement* statement, FlatSqlDesc* query, RidFileMgr* keyset,
                                    KvArray* orderItems, uint16_t blockLimit = 0);

// The ORDER BY and DISTINCT of an executed query: nothing when it has
// neither;
// nothing either when the query is not DISTINCT and the index its first
// table is read through already delivers the order (flatIndexDeliversOrder);
// else flatSortKeyset. sorted (may be null) tells whether a sort ran.
KV_FLAT_API KvStatus flatOrderKeyset(FlatStatement* statement, FlatSqlDesc* query, RidFileMgr* keyset,
                                     bool* sorted = nullptr);
