// The test file driver's CREATE and DROP: tables are ".ftt" files made and
// removed whole; an index is a flag on one column in the file's header (the
// in-memory index is built when the table opens), so an index has one key
// column and is known by that column's name: CREATE INDEX takes any index
// name, DROP INDEX table.column removes the index of that column.
#pragma once

#include "flat/sql/flat_ddl.h"

struct BaseTypeRow;

// The driver's type list (SQLGetTypeInfo and CREATE TABLE) and the letter of
// the column type each row makes.
const BaseTypeRow* flatTestTypeRows(uint16_t* count);
char flatTestTypeLetter(const BaseTypeRow& row);

class FlatTestCreateDesc : public FlatCreateDesc {
 public:
  explicit FlatTestCreateDesc(FlatStatement* statement) : FlatCreateDesc(statement) {}
  KvStatus execute() override;
  // At most 31 bytes (the header's name field).
  KvStatus canCreateColumnName(const unsigned char* name) override;
};

class FlatTestCrIndexDesc : public FlatCrIndexDesc {
 public:
  explicit FlatTestCrIndexDesc(FlatStatement* statement) : FlatCrIndexDesc(statement) {}
  KvStatus execute() override;
  KvStatus canCreateIndexName(const unsigned char* name) override;
  KvStatus canCreateColumnNameInIndex(const unsigned char* name) override;
};

class FlatTestDropIndexDesc : public FlatDropIndexDesc {
 public:
  explicit FlatTestDropIndexDesc(FlatStatement* statement) : FlatDropIndexDesc(statement) {}
  KvStatus execute() override;
  KvStatus canDropIndexName(const unsigned char* name) override;
};

class FlatTestDropTableDesc : public FlatDropTableDesc {
 public:
  explicit FlatTestDropTableDesc(FlatStatement* statement) : FlatDropTableDesc(statement) {}
  KvStatus execute() override;
};
