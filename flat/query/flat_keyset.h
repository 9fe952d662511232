// RidFileMgr: the keyset of one query. A query does not copy its result
// rows: for each row it keeps the record identifier images of the row's
// records, one a FROM table in FROM order, as one fixed-size entry of a
// KvSharedFile over the connection's scratch store (entry n, from 1, at
// (n - 1) * entry bytes). The keyset is filled lazily by the join loop: the
// FROM tables are combined as nested loops in FROM order (the last table
// advancing fastest), each table read through the optimizer's plan for the
// current rows of the tables before it, and each combination tested with
// the WHERE program; a row asked for again is re-read from its entry
// without a new scan.
//
// Outer joins: a table on the optional side ("*=", "=*", {oj ... LEFT OUTER
// JOIN ...}) that has no record qualifying for the current rows of the
// tables before it stands once on its blank row (identifier none), and that
// combination is tested like any other. Its entry keeps the identifier
// none, and a re-read puts the table back on its blank row.
//
// Grouped and aggregated queries: once the grouping sort has built a
// query's result rows (flat_group.h), the keyset serves those instead of
// the raw rows: row n is result row n, until a caller writes an order of
// its own (HAVING, ORDER BY, DISTINCT), whose entries are then 4-byte
// result-row numbers (big-endian, so that they sort as numbers). A query
// of aggregates only without GROUP BY has exactly one row, its aggregate
// values (its tables stand on no record).
//
// Rows deleted after they entered the keyset (by another connection, or in
// this connection's transaction) read back as gone (getRecGone), never as
// an error.
#pragma once

#include "flat/flat_types.h"

class KvSharedFile;

// How getRid positions the tables.
enum GetRidType : uint16_t {
  getRidIdsOnly = 0,
  getRidRead = 1,
  getRidReadButLast = 2,
  getRidPosition = 3,
  getRidSetId = 4,
};

// What selectRecord says of the current combination.
enum SelRecRetType : uint16_t {
  selQualifies = 0,
  selUndecidable = 1,   // a table the condition reads is not positioned yet
  selFailsMatched = 2,  // FALSE with the evaluator's outer-join matched flag set
  selFails = 3,
};

class FlatGroupRows;

class KV_FLAT_API RidFileMgr {
 public:
  RidFileMgr(FlatStatement* statement, FlatSqlDesc* query);
  ~RidFileMgr();
  RidFileMgr(const RidFileMgr&) = delete;
  RidFileMgr& operator=(const RidFileMgr&) = delete;

  // Empties the keyset and starts the scan afresh at the next read (a new
  // execution): the optimizer chooses each table's plan again.
  KvStatus reset();
  // Makes row (from 1) the current row: its records current in every
  // table. result: found, past the end (the row count then stays the rows
  // found), or gone.
  KvStatus getRecord(uint32_t row, GetRecRetType* result);
  // Positions the tables on entry row of the keyset.
  KvStatus getRid(uint32_t row, GetRidType how, GetRecRetType* result);
  // Writes the tables' current identifiers as entry row (at most one past
  // the last).
  KvStatus setRid(uint32_t row);
  // Rows in the keyset so far, and whether the scan has ended (then it is
  // the query's row count).
  uint32_t getRows() const;
  // Empties the keyset for rows written in an order of the caller's (a
  // sort): the keyset is then complete, holding what appendRid writes.
  KvStatus beginWritten();
  // Writes the current row's entry as the next row.
  KvStatus appendRid();
  bool isComplete() const { return ended_ || groups_ || oneRow_; }
  // The bytes of one entry: the tables' identifier images, or 4 for a
  // result-row number of grouped rows.
  uint32_t getEntryBytes() const { return groups_ ? 4u : entryBytes_; }
  // The current row's entry image (getEntryBytes bytes) into out: the
  // tables' current identifiers in FROM order, or the current result-row
  // number of grouped rows.
  void packCurrent(uint8_t* out) const;
  // Writes an entry image as the next row of a written keyset.
  KvStatus appendEntry(const uint8_t* entry);
  // Positions the tables on the identifiers of a raw entry image (the
  // tables' images in FROM order), as getRid does for a row.
  KvStatus positionEntry(const uint8_t* entry, GetRidType how, GetRecRetType* result);

  // Grouped rows: takes rows over (owned, deleted by reset and the
  // destructor); the raw rows are dropped and row n becomes result row n.
  void setGroupRows(FlatGroupRows* rows);
  FlatGroupRows* getGroupRows() const { return groups_; }
  // A result of aggregate values only: row 1 and no other.
  void setOneRow();
  bool isOneRow() const { return oneRow_; }

 private:
  KvStatus start();
  KvStatus extend(uint32_t wanted);
  // Moves the table at level to its next candidate; *have 0 when it has
  // none left for the current rows of the tables before it.
  KvStatus advance(uint16_t level, bool* have);
  KvStatus positionCurrentOf(bool* have);
  KvStatus getGroupedRecord(uint32_t row, GetRecRetType* result);

  FlatStatement* statement_;
  FlatSqlDesc* query_;
  KvSharedFile* file_ = nullptr;
  FlatFileDesc** tables_ = nullptr;
  uint8_t* state_ = nullptr;  // per table: bits of the loop (see the .cpp)
  uint8_t* entry_ = nullptr;  // scratch entry
  uint16_t tableCount_ = 0;
  uint32_t entryBytes_ = 0;
  uint32_t rows_ = 0;
  // Candidate records read by the scan, for the abort poll every 16.
  uint32_t candidates_ = 0;
  uint16_t level_ = 0;
  bool started_ = false;
  bool ended_ = false;
  bool currentOf_ = false;
  FlatGroupRows* groups_ = nullptr;
  bool oneRow_ = false;
  bool groupsWritten_ = false;  // the entries are result-row numbers in an order of their own
};

// The WHERE program of query (or its HAVING program once its groups are
// built) on the current rows. No condition qualifies every row.
KV_FLAT_API KvStatus flatSelectRecord(FlatStatement* statement, FlatSqlDesc* query, SelRecRetType* result);

// Reads the record the cursor's identifier names as this connection's
// transaction sees it: the change log's values over the stored record,
// gone when the transaction deleted it; a pending insert from the log.
KV_FLAT_API KvStatus flatReadById(FlatFileDesc* cursor, GetRecRetType* result);
