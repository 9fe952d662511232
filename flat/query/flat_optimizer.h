// The optimizer: compares the WHERE program of a query with the key code
// of each index of a cursor's table, takes the ends of a key range from
// the WHERE clause's top-level AND terms, chooses an index for the cursor
// and, at execution, evaluates the range's ends into the plan's key
// buffers (flat_index_desc.h).
//
// Every row the driver delivers from the range is still tested against the
// whole WHERE clause, so a range only has to hold every qualifying row: the
// optimizer may read more than it must, never less. That is why ends come
// only from terms every qualifying row satisfies on its own (the top-level
// AND terms), never from under OR, NOT, IIF or an outer-join comparison,
// and why text ends that the xBase comparison treats as prefixes ('ABC' =
// 'AB') are widened to the prefix's whole range.
#pragma once

#include "flat/flat_types.h"

class FlatCodeBuffer;

enum : uint16_t { flatMaxOptimizerTerms = 32 };

// The range's ends for one key in the WHERE clause of query (the cursor's
// query). keyCode is the key's program as the index description holds it
// (table handle 0; the cursor's handle is matched in its place). The low
// end's program goes to low, the high end's to high (each ended by opEnd;
// left empty when that end is not bounded). flags: FlatOptDesc's bound bits
// (optLow, optHigh, optLowInclusive, optHighInclusive, optLowConstant,
// optHighConstant, optLike). At most flatMaxOptimizerTerms terms are
// searched, and the search stops at the first term giving both ends.
KV_FLAT_API KvStatus canOptimizeQuery(FlatStatement* statement, FlatSqlDesc* query, FlatFileDesc* cursor,
                                      const uint8_t* keyCode, FlatCodeBuffer* low, FlatCodeBuffer* high,
                                      uint16_t* flags);

// The top-level AND terms of query's WHERE clause that read only cursor's
// table (no other table, subquery, aggregate or outer-join comparison),
// joined by AND into filter and ended by opEnd; left empty when there is
// none. A record for which it is FALSE fails the whole WHERE clause.
KV_FLAT_API KvStatus flatTableFilter(FlatSqlDesc* query, FlatFileDesc* cursor, FlatCodeBuffer* filter);

// Chooses how cursor (a FROM table of query) is read in this execution and
// keeps the choice as the cursor's plan (FlatFileDesc::getOptDesc; none
// for a plain scan): the ROWID pseudo index when it bounds both ends, else
// the first index bounding both ends, else the first bounding one, else,
// for the first table, an index that delivers the ORDER BY order. Without
// an index the cursor gets its sorted lookup, when its WHERE terms give one
// (flatAttachLookup, flat_sorted_lookup.h).
KV_FLAT_API KvStatus flatOptimizeCursor(FlatStatement* statement, FlatSqlDesc* query, FlatFileDesc* cursor);

// Evaluates the cursor's plan for the current rows of the tables before it
// into its key buffers (FlatOptBnd::key), then asks the driver how it will
// read (evaluateOptDesc). A NULL end of < or > marks the range empty
// (boundNoValue); a NULL end of =, <= or >= leaves that side open
// (boundUnbounded), since a NULL compares as equal to a NULL.
KV_FLAT_API KvStatus flatEvaluateBounds(FlatStatement* statement, FlatSqlDesc* query, FlatFileDesc* cursor,
                                        uint16_t* mode);

// The key range of a LIKE pattern: its prefix up to the first unescaped
// wildcard ('%' or '_'), "\" escapes removed, as the low end; the prefix
// with its last byte raised by one as the exclusive high end, where a last
// byte 0xFF is dropped and the byte before it raised instead. highBounded
// is 0 when no high end exists (an empty prefix, or one of 0xFF bytes
// only). Results are NUL-ended and at most capacity - 1 bytes.
KV_FLAT_API void flatLikeRange(const uint8_t* pattern, uint32_t patternLength, uint8_t* low, uint32_t* lowLength,
                               uint8_t* high, uint32_t* highLength, uint16_t* highBounded, uint32_t capacity);

// The raised end of a text prefix (same rules as LIKE's high end):
// highBounded 0 when none exists.
KV_FLAT_API void flatPrefixEnd(const uint8_t* prefix, uint32_t length, uint8_t* high, uint32_t* highLength,
                               uint16_t* highBounded);

// Whether index (of query's first table) delivers the ORDER BY order of
// query: every ORDER BY item a plain column of the first table matching
// the index's key fields in order and direction, no more items than keys;
// never the ROWID index.
KV_FLAT_API bool flatIndexDeliversOrder(FlatStatement* statement, FlatSqlDesc* query, FlatIndexDesc* index);
