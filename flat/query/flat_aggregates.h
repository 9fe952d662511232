// Aggregates of a query without GROUP BY: COUNT(*), COUNT, SUM, AVG, MIN
// and MAX accumulated over the rows of the query's keyset into the
// query's FlatAggField records, which the evaluator's opcode 51 reads.
// NULL values are skipped by every aggregate but COUNT(*); an aggregate
// that saw no value is NULL (COUNT is 0). Grouped queries and DISTINCT
// aggregates are accumulated by the grouping sort instead.
#pragma once

#include "flat/flat_types.h"

class FlatAggField;
class RidFileMgr;

// Adds one value (length bytes of an evaluated result of kind) to record.
KV_FLAT_API KvStatus flatAccumulate(FlatAggField* record, const uint8_t* value, int16_t length, uint8_t kind);

// Computes query's aggregates over every row keyset delivers. oneRow is 1
// when the select list holds aggregates only, so that the result is one
// row of aggregate values, even when no row was read (COUNT(*) 0, the
// others NULL); then the query's flag flagAggregatesComputed is set. With
// other columns beside the aggregates every row keeps its own columns.
KV_FLAT_API KvStatus flatComputeAggregates(FlatStatement* statement, FlatSqlDesc* query, RidFileMgr* keyset,
                                           uint16_t* oneRow);
