// Statement descriptors: the parse result that a prepared statement owns.
// FlatDescriptor is the root of every descriptor (queries, INSERT, UPDATE,
// DELETE, and the drivers' DDL descriptors); FlatSqlDesc is one SELECT of a
// UNION chain, with its FROM tables (readers), its subqueries and its
// counts. The slot orders below are part of the interface with the drivers.
//
// This is the part of the descriptors that the statement object needs
// (ownership, the tables a statement must lock, counts); the parser and
// the execution stages fill in the rest.
#pragma once

#include "flat/flat_types.h"
#include "util/kv_array.h"

class KvScanner;

class KV_FLAT_API FlatDescriptor : public KvObject {
 public:
  explicit FlatDescriptor(FlatStatement* statement) : statement_(statement) {}
  ~FlatDescriptor() override;

  // ---- virtual operations, in slot order after the destructor and compare
  // Runs the statement (DML and DDL); the engine's version succeeds.
  virtual KvStatus execute();
  // Parses the statement's text from position on; the engine's version
  // succeeds reading nothing.
  virtual KvStatus parse(const unsigned char* text, uint32_t* position);
  // The query descriptor of this statement (null for DDL).
  virtual FlatSqlDesc* getSqlDesc();

  FlatStatement* getStatement() const { return statement_; }
  // Rows changed by an INSERT, UPDATE or DELETE.
  uint32_t getAffectedRows() const { return affectedRows_; }
  void setAffectedRows(uint32_t rows) { affectedRows_ = rows; }

 protected:
  FlatStatement* statement_;
  uint32_t affectedRows_ = 0;
};

class KV_FLAT_API FlatSqlDesc : public FlatDescriptor {
 public:
  enum : uint32_t {
    flagGrouped = 0x4,
    flagConstructed = 0x2000,  // set at construction
    flagNoResult = 0x4000,     // set at construction and every reset; cleared when a result starts
    flagRestart = 0x8000,      // the next read starts every table's scan afresh
  };

  explicit FlatSqlDesc(FlatStatement* statement);
  // Deletes the next query of the UNION chain, the subqueries and the
  // tables (readers), in that order.
  ~FlatSqlDesc() override;

  FlatSqlDesc* getSqlDesc() override;
  // ---- further slots of a query
  virtual KvStatus parseTableName(const unsigned char* text, uint32_t* position);
  // Releases the index locks the query holds.
  virtual KvStatus freeIndexLocks();
  // Fetches a table column straight into an application buffer (the
  // drivers supply it).
  virtual KvStatus getTableColumnAsCType(uint16_t column, void* out, int16_t cType);

  // The table and column of a select item (1-based); until select lists
  // exist every item is the column of that number in the first table.
  KvStatus resolveItem(uint16_t item, FlatFileDesc** table, uint16_t* column);

  // FROM tables in FROM order; the query owns them.
  KvStatus addTable(FlatFileDesc* table);
  FlatFileDesc* getFirstTable() const { return firstTable_; }
  uint16_t getTableCount() const { return tableCount_; }
  FlatSqlDesc* getNextQuery() const { return nextQuery_; }
  void setNextQuery(FlatSqlDesc* next) { nextQuery_ = next; }
  KvArray& getSubqueries() { return subqueries_; }

  int32_t getRowCount() const { return rowCount_; }
  void setRowCount(int32_t count) { rowCount_ = count; }
  uint32_t getProducedRows() const { return producedRows_; }
  void setProducedRows(uint32_t rows) { producedRows_ = rows; }
  uint32_t getFlags() const { return flags_; }
  void setFlags(uint32_t flags) { flags_ = flags; }

 private:
  FlatFileDesc* firstTable_ = nullptr;
  FlatFileDesc* lastTable_ = nullptr;
  uint16_t tableCount_ = 0;
  FlatSqlDesc* nextQuery_ = nullptr;
  KvArray subqueries_;  // FlatSqlDesc, owned
  int32_t rowCount_ = -1;
  uint32_t producedRows_ = 0;
  uint32_t flags_ = flagConstructed | flagNoResult;
};
