// Statement descriptors: the parse result that a prepared statement owns.
// FlatDescriptor is the root of every descriptor (queries, INSERT, UPDATE,
// DELETE, and the drivers' DDL descriptors); FlatSqlDesc is one SELECT of a
// UNION chain, with its FROM tables (readers), its subqueries and its
// counts, and the parse results of its clauses (select items, aggregates,
// the WHERE, HAVING, GROUP BY and ORDER BY programs). The slot orders below
// are part of the interface with the drivers.
#pragma once

#include "flat/flat_types.h"
#include "util/containers/kv_array.h"

#include <vector>

class FlatSelectField;

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
  // Query flags. Set by the parser: distinct, UNION ALL, FOR UPDATE OF,
  // subqueries, WHERE and HAVING; by the compiler: the aggregate and
  // correlation bits; at construction: NULL-aware (a driver may clear it for
  // its connection's queries) and no-result.
  enum : uint32_t {
    flagDistinct = 0x1,
    flagAggregateSort = 0x2,      // aggregation by sort in progress
    flagGrouped = 0x4,
    flagUnionAll = 0x8,           // UNION ALL with the previous SELECT
    flagDistinctAggregate = 0x10,
    flagAggregatesOnly = 0x20,
    flagForUpdate = 0x40,
    flagHasSubqueries = 0x100,
    flagCorrelatedSubquery = 0x200,
    flagHasWhere = 0x400,
    flagHasHaving = 0x800,
    flagNullAware = 0x2000,       // NULL is a value of its own (see flat/expr/flat_evaluator.h)
    flagNoResult = 0x4000,        // set at construction and every reset; cleared when a result starts
    flagRestart = 0x8000,         // the next read starts every table's scan afresh
    flagAggregatesComputed = 0x10000,
  };

  explicit FlatSqlDesc(FlatStatement* statement);
  // Deletes the next query of the UNION chain, the items, the aggregates
  // and the subqueries; closes the tables' index files (engine flag
  // flatIndexFiles) and, writing directly, unlocks each table's current
  // record; then deletes the tables (readers).
  ~FlatSqlDesc() override;

  FlatSqlDesc* getSqlDesc() override;
  // ---- further slots of a query
  // Reads the table name at *position (advanced past it) into *name, a
  // ramAlloc copy with back-quotes removed; table is the reader being
  // opened. The engine's version reads one name token: none gives 3909, a
  // "(" after it 3805.
  virtual KvStatus parseTableName(const unsigned char** position, FlatFileDesc* table, unsigned char** name);
  // Releases the index locks the query holds.
  virtual KvStatus freeIndexLocks();
  // Delivers result column column (a plain item, 1-based) of the current
  // row into out (a BaseOutString) as cType, when the row takes the
  // column's value from its table's stored record. A driver may read it
  // straight from the record's text; the engine's version goes through the
  // table's getFieldData (FlatStatement::getColumnData).
  virtual KvStatus getTableColumnAsCType(uint16_t column, void* out, int16_t cType);

  // The table and column of a select item (1-based): a plain column item's;
  // a query without select items takes the first table's column of that
  // number.
  KvStatus resolveItem(uint16_t item, FlatFileDesc** table, uint16_t* column);

  // FROM tables in FROM order; the query owns them.
  KvStatus addTable(FlatFileDesc* table);
  FlatFileDesc* getFirstTable() const { return firstTable_; }
  uint16_t getTableCount() const { return tableCount_; }
  // The sum of the column counts of the FROM tables (the parser adds each
  // table's once it is open).
  uint16_t getColumnTotal() const { return columnTotal_; }
  void addColumnTotal(uint16_t columns) { columnTotal_ = uint16_t(columnTotal_ + columns); }
  FlatSqlDesc* getNextQuery() const { return nextQuery_; }
  void setNextQuery(FlatSqlDesc* next) { nextQuery_ = next; }
  KvArray& getSubqueries() { return subqueries_; }
  // The enclosing query of a subquery (null for a statement's own queries)
  // and how deep it nests (0 at the top).
  FlatSqlDesc* getParent() const { return parent_; }
  uint16_t getDepth() const { return depth_; }
  void setParent(FlatSqlDesc* parent);
  // A subquery that refers to a column of an enclosing query.
  bool isCorrelated() const { return correlated_; }
  void setCorrelated() { correlated_ = true; }
  // What the subquery stage keeps of an uncorrelated subquery's rows for
  // one execution (its values, sorted), owned; null until first needed.
  KvObject* getAnswers() const { return answers_; }
  void setAnswers(KvObject* answers);

  // ---- parse results
  // Select items (FlatSelectField), owned.
  KvArray& getItems() { return items_; }
  uint16_t getItemCount() const { return items_.getCount(); }
  FlatSelectField* getItem(uint16_t index) const;
  // Aggregates (FlatAggField), owned, and the bytes of the aggregate row.
  KvArray& getAggregates() { return aggregates_; }
  uint32_t getAggregateRowBytes() const { return aggregateRowBytes_; }
  void setAggregateRowBytes(uint32_t bytes) { aggregateRowBytes_ = bytes; }
  // Programs of WHERE and HAVING (ramAlloc blocks taken over), null when
  // absent.
  const uint8_t* getWhereCode() const { return whereCode_; }
  void setWhereCode(uint8_t* code);
  const uint8_t* getHavingCode() const { return havingCode_; }
  void setHavingCode(uint8_t* code);
  // GROUP BY: its text, and one program an item with the compiler's type
  // and width of its value (the grouping sort's key slots), both in the
  // items' order.
  struct GroupByType {
    int16_t type;
    uint16_t width;
  };
  const unsigned char* getGroupByText() const { return groupByText_; }
  KvStatus setGroupByText(const unsigned char* text, uint32_t length);
  KvArrayPVoid& getGroupByCodes() { return groupByCodes_; }
  std::vector<GroupByType>& getGroupByTypes() { return groupByTypes_; }
  // The ORDER BY items (FlatOrderItem) of the head query of a statement.
  KvArray& getOrderItems() { return orderItems_; }

  int32_t getRowCount() const { return rowCount_; }
  void setRowCount(int32_t count) { rowCount_ = count; }
  uint32_t getProducedRows() const { return producedRows_; }
  void setProducedRows(uint32_t rows) { producedRows_ = rows; }
  uint32_t getFlags() const { return flags_; }
  void setFlags(uint32_t flags) { flags_ = flags; }
  void addFlags(uint32_t bits) { flags_ |= bits; }
  void clearFlags(uint32_t bits) { flags_ &= ~bits; }

 private:
  FlatFileDesc* firstTable_ = nullptr;
  FlatFileDesc* lastTable_ = nullptr;
  uint16_t tableCount_ = 0;
  uint16_t columnTotal_ = 0;
  FlatSqlDesc* nextQuery_ = nullptr;
  FlatSqlDesc* parent_ = nullptr;
  uint16_t depth_ = 0;
  bool correlated_ = false;
  KvObject* answers_ = nullptr;
  KvArray subqueries_;  // FlatSqlDesc, owned
  KvArray items_;       // FlatSelectField, owned
  KvArray aggregates_;  // FlatAggField, owned
  uint32_t aggregateRowBytes_ = 0;
  uint8_t* whereCode_ = nullptr;
  uint8_t* havingCode_ = nullptr;
  unsigned char* groupByText_ = nullptr;
  KvArrayPVoid groupByCodes_;  // programs, owned
  std::vector<GroupByType> groupByTypes_;
  KvArray orderItems_;         // FlatOrderItem, owned
  int32_t rowCount_ = -1;
  uint32_t producedRows_ = 0;
  uint32_t flags_ = flagNullAware | flagNoResult;
};
