// Aggregates of a query: COUNT(*), COUNT, SUM, AVG, MIN and MAX
// accumulated over the rows of the query's keyset into the query's
// FlatAggField records, which the evaluator's opcode 51 reads. NULL values
// are skipped by every aggregate but COUNT(*); an aggregate that saw no
// value is NULL (COUNT is 0), an average of no value too. Grouped queries
// and DISTINCT aggregates are accumulated by the grouping sort
// (flat_group.h); the others by one pass over the rows.
#pragma once

#include "flat/flat_types.h"

class FlatAggField;
class RidFileMgr;

// Adds one value (length bytes of an evaluated result of kind) to record.
KV_FLAT_API KvStatus flatAccumulate(FlatAggField* record, const uint8_t* value, int16_t length, uint8_t kind);

// Computes query's aggregates over every row keyset delivers, before the
// query's rows are fetched.
// - GROUP BY: the keyset then serves the query's result rows, one a group
//   (those whose HAVING condition holds), in ascending order of the GROUP
//   BY items; the query gets flagGrouped and its row count.
// - No GROUP BY: oneRow is 1 when the select list holds aggregates only,
//   so that the result is one row of aggregate values, even when no row
//   was read (COUNT(*) 0, the others NULL); the keyset then has exactly
//   that row and the query's flag flagAggregatesComputed is set. With
//   other columns beside the aggregates every row keeps its own columns.
// blockLimit caps the grouping sort's memory blocks (0: its default).
KV_FLAT_API KvStatus flatComputeAggregates(FlatStatement* statement, FlatSqlDesc* query, RidFileMgr* keyset,
                                           uint16_t* oneRow, uint16_t blockLimit = 0);
