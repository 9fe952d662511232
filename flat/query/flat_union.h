// FlatUnionResult: the result of a statement whose SELECT has a UNION
// chain. Every query of the chain keeps its own keyset (aggregated and
// grouped first when it has aggregates or GROUP BY); the result is a list
// of (query, row) pairs, one a result row, in a view over the connection's
// scratch store:
//
//   pair n (from 1) at (n - 1) * 8:
//     0  u32 big-endian  the query's index in the chain (0 = the head)
//     4  u32 big-endian  the row number in that query's keyset
//
// A pair names its query by index, never by address, so pairs stay valid
// whatever the width of a pointer.
//
// UNION binds from the left, as in SQL: "A UNION B UNION ALL C" is
// (A UNION B) UNION ALL C. The queries up to the last link without ALL
// drop duplicate rows among themselves: every row's select items go into
// one KvSort record (sort-key slots, the widths of the head's result
// columns), one key covers them all, and of records equal on every key one
// is kept; the rows come out in ascending order of their select items. The
// UNION ALL links after that add every row. An ORDER BY (positions only,
// ASC or DESC) puts its keys first. A chain of UNION ALL links only,
// without ORDER BY, keeps every row, query by query, unsorted. NULLs sort
// first in both directions, as for ORDER BY.
#pragma once

#include "flat/flat_types.h"

#include <memory>
#include <vector>

class KvSharedFile;
class RidFileMgr;

class KV_FLAT_API FlatUnionResult {
 public:
  FlatUnionResult(FlatStatement* statement, FlatSqlDesc* head);
  ~FlatUnionResult();
  FlatUnionResult(const FlatUnionResult&) = delete;
  FlatUnionResult& operator=(const FlatUnionResult&) = delete;

  // Builds the pairs. orderBy: the statement's ORDER BY text (null or blank
  // for none): positions separated by ",", each perhaps followed by ASC or
  // DESC; anything else fails with 3906 naming it. blockLimit (0: the
  // sort's default) caps the sort's memory blocks. Every 16 rows the OS
  // layer's abort poll is asked whether to stop (4018).
  KvStatus build(const unsigned char* orderBy, uint16_t blockLimit = 0);
  uint32_t getRows() const { return rows_; }
  // Makes pair n current: its query becomes the current query and its row
  // the query's current row. result: found, past the end, or gone.
  KvStatus getRecord(uint32_t n, GetRecRetType* result);
  // The query of the current pair (the head before any).
  FlatSqlDesc* getCurrentQuery() const { return current_; }
  // The keyset of the query at index in the chain.
  RidFileMgr* getKeyset(uint16_t index) const { return index < keysets_.size() ? keysets_[index].get() : nullptr; }

 private:
  KvStatus appendPair(uint32_t query, uint32_t row);

  FlatStatement* statement_;
  FlatSqlDesc* head_;
  FlatSqlDesc* current_;
  std::vector<FlatSqlDesc*> queries_;
  std::vector<std::unique_ptr<RidFileMgr>> keysets_;  // one a query
  KvSharedFile* pairs_ = nullptr;
  uint32_t rows_ = 0;
};
