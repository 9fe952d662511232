// Record delivery for the join loop, and the sorted lookup.
//
// The join loop (flat_keyset.h) takes the records of each FROM table through
// flatStartRecords and flatNextRecord. Without a lookup they are the rows of
// the table's scan as this connection's transaction sees them (stored
// records through the optimizer's plan, with the change log applied, then
// the pending inserts; flat_changes.h). Every sixteenth record the OS
// layer's abort poll is asked whether to stop (4018 "Operation aborted!").
//
// The sorted lookup is the answer to a join on a table without a usable
// index: a table read again for every row of the tables before it (an inner
// table of a join, or the table of a subquery run again for every row of
// the enclosing query) whose WHERE clause compares its columns with values
// of those rows. Once an execution the table is read whole and the (key,
// record identifier) pair of every record goes into a KvSort, but for the
// records that the WHERE terms reading only this table make FALSE; for each
// outer row only the range of keys between the evaluated ends is read back
// (reading on from the last range when the outer rows come in key order,
// else by a search of the list), each
// record re-read by its identifier through the change log (a record deleted
// in the open transaction is never delivered, a pending insert is read from
// the log). Every delivered row is still tested against the whole WHERE
// clause, so a range only has to hold every qualifying record.
//
// The key: for each compared column in turn a tag byte (0 NULL, 1 a value)
// and the value made byte-comparable: a number or date as its double with
// the sign folded (8 bytes); a text (SQL_CHAR and SQL_VARCHAR alike) in the
// column's full width, its bytes and then zeros, so that a row's own length
// never shifts the key layout. The columns are those the WHERE clause's
// top-level AND terms compare with values of earlier tables, enclosing
// queries or constants (never from under OR, NOT, IIF or an outer-join
// comparison): first those compared by numeric equality, then at most one
// more whose comparison bounds a range. A key longer than 2047 bytes
// together with the identifier fails with 3946.
//
// The range's ends are inclusive. An end whose value is undecidable (a
// table of the outer rows on its blank outer-join row) or of another kind
// than the key's leaves the range open from that column on: the lower key
// gets its lowest bytes there, the upper key its highest. A NULL value
// bounds to the NULL keys, which the evaluator compares as equal to a NULL.
// Text ends follow the evaluator's comparison: the low end is the value
// without its trailing blanks (a key that compares equal or greater begins
// with it or follows it); outside NULL-aware mode a comparison with the key
// on its right cuts the other text to the key's length, so it gives no low
// end. The high end is the value's prefix with its last byte raised
// (flatPrefixEnd): an empty text, one of 0xFF bytes only, or one holding a
// byte below the blank (which a stripped key's blanks would pass) leaves
// the high end open, so NAME = '' matches every row outside NULL-aware mode.
// LIKE gives its prefix's range. With the international collation text
// columns give no key.
//
// Lifetime: the lookup belongs to its cursor (FlatFileDesc::getLookup). The
// optimizer attaches it when it chooses no index for a cursor that is not
// the first table of its query, or that belongs to a subquery. A new scan
// of a statement's own query (a new execution) drops the lookups of its
// tables and of all its subqueries, so the lists are built afresh, once, on
// their first use in the execution; a subquery's scans, run again for each
// enclosing row, keep them.
#pragma once

#include "flat/flat_types.h"
#include "util/memory/kv_object.h"

class KvSort;

enum : uint16_t {
  flatLookupMaxRecord = 2047,  // key plus identifier image
  flatLookupAbortPoll = 16,    // records between two abort polls
};

class KV_FLAT_API FlatLookup : public KvObject {
 public:
  enum : uint8_t {
    lookupLower = 0x8,   // a lower end exists
    lookupUpper = 0x10,  // an upper end exists
  };

  // One compared column of the key.
  struct Part {
    uint8_t* low = nullptr;   // owned program of the low end (null: none)
    uint8_t* high = nullptr;  // owned program of the high end (null: none)
    uint16_t column = 0;
    int16_t sqlType = 0;
    uint16_t offset = 0;      // of its tag byte in the key
    uint16_t valueBytes = 0;  // behind the tag byte
    uint16_t flags = 0;       // FlatOptDesc bits of its comparison
  };

  FlatLookup() = default;
  ~FlatLookup() override;
  FlatLookup(const FlatLookup&) = delete;
  FlatLookup& operator=(const FlatLookup&) = delete;

  // The WHERE terms that read only this table (flatTableFilter), owned;
  // a record for which they are FALSE stays out of the list. Null: none.
  uint8_t* filter = nullptr;
  enum : uint16_t { maxParts = 16 };
  Part parts[maxParts];
  uint16_t partCount = 0;
  uint16_t keyLength = 0;     // bytes of the key at the start of each list record
  uint16_t recordLength = 0;  // key and identifier image
  uint8_t flags = 0;
  KvSort* sort = nullptr;     // the list; null until built in this execution
  uint8_t* lower = nullptr;   // record images: the evaluated ends at offset 0
  uint8_t* upper = nullptr;
  bool first = true;      // the next read is the first of the range
  // Reading on from the last range instead of a new search: the outer rows
  // often come in key order, and a search in a list spilled to its work
  // file costs a read of every run. held is the record that ended the last
  // range (read from the list, not yet delivered); lastKey the key of the
  // last record read before it. A lower end above lastKey needs no record
  // read so far but held.
  bool continuing = false;
  uint8_t* held = nullptr;     // a record image
  uint8_t* lastKey = nullptr;  // a key
  bool holding = false;
  bool haveLastKey = false;
  bool atListEnd = false;
  bool ended = false;      // the range is read to its end
  bool lowerOpen = false;  // the evaluated ends leave the lower / upper side open
  bool upperOpen = false;
  uint32_t listRecords = 0;  // records put in the list when it was built
  uint32_t builds = 0;       // how often it was built (once an execution)
};

// Attaches to cursor (a FROM table of query) the lookup its WHERE terms
// give, or none; indexChosen says that the optimizer chose an index (then
// never a lookup). A subquery's cursor keeps a lookup it already has; the
// first table of a statement's own query drops the lookups of every
// subquery below it. Fails with 3946 for a key too long.
KV_FLAT_API KvStatus flatAttachLookup(FlatStatement* statement, FlatSqlDesc* query, FlatFileDesc* cursor,
                                      bool indexChosen);

// Starts the cursor's records for the current rows of the tables before it:
// the range of its lookup (the list built on first use), else the plan's
// range and the scan (flatEvaluateBounds, flatStartScan).
KV_FLAT_API KvStatus flatStartRecords(FlatStatement* statement, FlatSqlDesc* query, FlatFileDesc* cursor);
// The next record (found 0 at the end), as the transaction sees it.
KV_FLAT_API KvStatus flatNextRecord(FlatStatement* statement, FlatSqlDesc* query, FlatFileDesc* cursor,
                                    uint16_t* found);
