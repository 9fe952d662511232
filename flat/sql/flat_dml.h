// INSERT, UPDATE and DELETE. Each is rewritten into a SELECT over its one
// target table and parsed by the ordinary query parser, so that type
// checks, parameter typing, WHERE evaluation and row location are the
// query machinery's; execution then walks the query's rows and writes
// through the table contract, straight to the files (autocommit) or into
// the table's change log (manual commit).
//
// The rewritten select list:
//   INSERT  columns 1..n, then values 1..n (item i is a column, item n + i
//           its value); without a column list "*" and then the values
//   UPDATE  column and value alternate (items 2k and 2k + 1)
//   DELETE  the constant 1
// UPDATE and DELETE end their SELECT with " FOR UPDATE OF XXX", which makes
// the parser refuse joins (3953), GROUP BY (3957), DISTINCT (3958) and
// UNION (3956).
//
// Parse (flat_dml_parse.cpp) runs at prepare; execute (flat/exec/
// flat_dml_execute.cpp) at each execution, inside the statement's lock
// bracket. Parse errors are 37000 except 3865 (S1000), 3846 (21S01) and
// the capability check (S1C00); the statement stays allocated.
#pragma once

#include "flat/sql/flat_descriptor.h"

// The part the three share: the owned query and the statement's kind.
class KV_FLAT_API FlatDmlDesc : public FlatDescriptor {
 public:
  explicit FlatDmlDesc(FlatStatement* statement) : FlatDescriptor(statement) {}
  // Deletes the query, which closes its table.
  ~FlatDmlDesc() override;
  FlatSqlDesc* getSqlDesc() override { return query_; }
  // Pairs of (column item, value item): INSERT's n columns, UPDATE's
  // assignments; 0 for DELETE.
  uint16_t getPairCount() const { return pairs_; }

 protected:
  // Prepares the rewritten SELECT (its text ends at the terminator) into
  // the query, with the FOR UPDATE tail when forUpdate, and refuses a
  // table of a read-only connection (3865).
  KvStatus prepareQuery(const unsigned char* select, bool forUpdate);
  // The pair checks: each column item must be a plain column (3856); a
  // lone parameter marker as value takes the column's type; any other
  // value must be of a compatible type, else mismatch (3849 or 3857).
  KvStatus checkPairs(uint16_t columnStep, uint16_t valueOffset, uint16_t mismatch);

  FlatSqlDesc* query_ = nullptr;
  uint16_t pairs_ = 0;
};

class KV_FLAT_API FlatInsertDesc : public FlatDmlDesc {
 public:
  explicit FlatInsertDesc(FlatStatement* statement) : FlatDmlDesc(statement) {}
  ~FlatInsertDesc() override;
  KvStatus execute() override;
  KvStatus parse(const unsigned char* text, uint32_t* position) override;
};

class KV_FLAT_API FlatUpdateDesc : public FlatDmlDesc {
 public:
  explicit FlatUpdateDesc(FlatStatement* statement) : FlatDmlDesc(statement) {}
  ~FlatUpdateDesc() override;
  KvStatus execute() override;
  KvStatus parse(const unsigned char* text, uint32_t* position) override;
};

class KV_FLAT_API FlatDeleteDesc : public FlatDmlDesc {
 public:
  explicit FlatDeleteDesc(FlatStatement* statement) : FlatDmlDesc(statement) {}
  ~FlatDeleteDesc() override;
  KvStatus execute() override;
  KvStatus parse(const unsigned char* text, uint32_t* position) override;
};

// Whether a value of the compiler's type may be stored into a column of
// the (folded) engine type: binary and character types count as one; equal
// types, the "any" type (NULL) on either side, and a logical or number into
// a BIT column are compatible.
KV_FLAT_API bool flatDmlTypesCompatible(int16_t columnType, int16_t valueType);
