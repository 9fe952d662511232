// FlatGroupRows: the result rows of a grouped or DISTINCT-aggregated query.
// A query with GROUP BY, or with an aggregate over DISTINCT values, is
// aggregated through the record sort: every row of its keyset becomes one
// KvSort record, the records are sorted by the GROUP BY items, and each run
// of records equal on them is one group, accumulated into the query's
// aggregate records (FlatAggField) and written as one result row. Memory
// stays bounded: the sort spills to its work file, and the result rows and
// the keyset live in the connection's scratch store.
//
// Sort record (offsets from 0):
//   group keys       one sort-key slot an item (flat_sort.h), in GROUP BY order
//   DISTINCT values  one sort-key slot a DISTINCT aggregate, in aggregate order
//   inputs           for every other aggregate: its argument's kind (1 byte),
//                    length (2 bytes, little-endian; 0 NULL, -1 undecidable)
//                    and value bytes (its record's size; none for COUNT)
//   entry            the keyset entry of the row (the tables' identifiers)
//
// Keys: each group key ascending, then the DISTINCT value of the pass. A
// query has one pass a DISTINCT aggregate (one pass when it has none). Each
// pass reads the records in order of the group keys and of its DISTINCT
// value, adds a value to its DISTINCT aggregate only where it differs from
// the previous record of the group, and writes its aggregate's field of
// every result row; before the next pass the last key is replaced by the
// next DISTINCT value and the records are re-sorted within their groups.
// The last pass also accumulates the other aggregates, one value a record,
// and writes each row's keyset entry.
//
// Result row n (from 1) at (n - 1) * row bytes in a view over the scratch
// store; row bytes = the query's aggregate row bytes + the entry bytes. For
// each aggregate, at its record's offset: the count of values accumulated
// (4 bytes, little-endian) and its value (the record's size: first value,
// sum, average, minimum or maximum); then the entry of one record of the
// group. Rows are counted in 32 bits.
//
// Reading row n back puts the count and value of each aggregate into its
// record (so the evaluator's aggregate instruction sees the group's
// values) and positions the tables on the row's entry (so the group's
// columns read from a record of the group).
//
// Without GROUP BY the whole query is one group: nothing is written, the
// values stay in the records (an aggregate of no value: COUNT 0, the others
// NULL, never an error).
#pragma once

#include "flat/flat_types.h"

class KvSharedFile;
class RidFileMgr;

class KV_FLAT_API FlatGroupRows {
 public:
  // keyset: the query's keyset, which delivers the rows to group and
  // positions the tables when a result row is read back (not owned).
  FlatGroupRows(FlatStatement* statement, FlatSqlDesc* query, RidFileMgr* keyset);
  ~FlatGroupRows();
  FlatGroupRows(const FlatGroupRows&) = delete;
  FlatGroupRows& operator=(const FlatGroupRows&) = delete;

  // Reads every row of the keyset, sorts and aggregates. blockLimit (0:
  // the sort's default) caps the sort's memory blocks so that tests can
  // make it spill. Every 16 rows the OS layer's abort poll is asked whether
  // to stop (4018 "Operation aborted!").
  KvStatus build(uint16_t blockLimit = 0);
  uint32_t getRowCount() const { return rowCount_; }
  // The row last read back (0 before any).
  uint32_t getCurrentRow() const { return currentRow_; }
  // Makes result row n current: found, past the end, or gone (a record of
  // the group was deleted since).
  KvStatus readRow(uint32_t n, GetRecRetType* result);

 private:
  struct Layout;
  KvStatus writeRow(uint32_t n, const Layout& layout, uint16_t pass, bool last, const uint8_t* entry);

  FlatStatement* statement_;
  FlatSqlDesc* query_;
  RidFileMgr* keyset_;
  KvSharedFile* rows_ = nullptr;
  uint8_t* row_ = nullptr;  // one row's bytes
  uint32_t rowBytes_ = 0;
  uint32_t entryBytes_ = 0;
  uint32_t rowCount_ = 0;
  uint32_t currentRow_ = 0;
};
