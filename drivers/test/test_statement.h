// The test driver's statements: a small fixed behaviour chosen by the first
// word of the statement text, enough to take a statement through every
// state of the framework from an application:
//
//   first word                  prepare           execution
//   SELECT                      one result column a result set without rows
//   SELECT ... FROM ALLTYPES,   the table's       the table's rows (see
//   ... FROM NUMBERS n          columns           test_table.h)
//   INSERT, UPDATE, DELETE      -                 1 row affected
//   RESULTS n                   one result column n result sets one after
//                                                 another (SQLMoreResults)
//   COMMITS, ROLLBACKS, BEGUN   -                 the row count is the number
//                                                 of transactions the
//                                                 connection committed,
//                                                 rolled back or began
//   INSERT, SELECT, UPDATE,     the statements over the connection's table
//   DELETE over ITEMS           ITEMS (test_items.h), with parameters
//   FAIL                        fails: 37000, "The test data source cannot
//                               run 'FAIL ...'."
//   SELECT * FROM <a table of   its columns       a result set without rows
//   the catalog>                (SYS_INFO fails)
//   anything else               -                 row count unknown (-1)
//
// Its catalog operations answer from test_catalog.h.
#pragma once

#include "base/statement/base_statement.h"
#include "drivers/test/test_catalog.h"
#include "drivers/test/test_table.h"
#include "drivers/test/test_items.h"

class TestStatement : public BaseStatement {
 public:
  explicit TestStatement(BaseConnection* connection);
  ~TestStatement() override;

  KvStatus prepareCompile(BaseSqlString* sql) override;
  KvStatus executePreparedStmt() override;
  KvStatus moreResults(uint16_t* noMore) override;
  KvStatus fetchRow(uint16_t* endOfData) override;
  KvStatus fetchRandomRow(uint32_t row, uint16_t* status) override;
  KvStatus getData(uint16_t column, int16_t cType, BaseOutString* out) override;
  KvStatus rowCount(int32_t* count) override;
  BaseField* allocFld() override;
  KvStatus bindParam(uint16_t parameter, void* value, int32_t length, int mode) override;
  KvStatus setToAllocatedState(uint16_t drop) override;
  KvStatus executeTables(BaseInString* tableTypes) override;
  KvStatus executeColumns() override;
  KvStatus executeStatistics(uint16_t internalCall) override;
  KvStatus executePrimary() override;
  void unbindParams() override;

 private:
  enum Behaviour { rowsNone, rowsOne, rowsUnknown, resultSets, countCommits, countRollbacks, countBegun, items };
  KvStatus makeColumn();
  KvStatus makeTableColumns();
  // The catalog's answers (test_catalog.cpp): the result a catalog
  // operation opened (owned), read in place of a table.
  KvStatus openCatalogResult(TestCatalogResult* result);
  KvStatus fetchCatalogRow(uint16_t* endOfData);
  KvStatus getCatalogData(uint16_t column, int16_t cType, BaseOutString* out);
  KvStatus prepareCatalogTable(const BaseSqlString& sql, int* known);
  KvStatus getItemsData(uint16_t column, int16_t cType, BaseOutString* out);

  Behaviour behaviour_ = rowsUnknown;
  uint32_t resultsLeft_ = 0;  // result sets after the current one
  uint32_t results_ = 0;      // result sets of one execution
  TestTableKind table_ = testTableNone;  // the fixed table a SELECT reads
  uint32_t tableRows_ = 0;
  uint32_t currentRow_ = 0;   // 1-based; 0 before the first row
  TestCatalogResult* catalog_ = nullptr;
  TestItemsQuery items_;      // a statement over ITEMS
  int32_t itemsCount_ = -1;   // rows its last execution changed
};
