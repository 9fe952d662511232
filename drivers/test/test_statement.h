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
//   FAIL                        fails: 37000, "The test data source cannot
//                               run 'FAIL ...'."
//   anything else               -                 row count unknown (-1)
#pragma once

#include "base/base_statement.h"
#include "drivers/test/test_table.h"

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

 private:
  enum Behaviour { rowsNone, rowsOne, rowsUnknown, resultSets, countCommits, countRollbacks, countBegun };
  KvStatus makeColumn();
  KvStatus makeTableColumns();

  Behaviour behaviour_ = rowsUnknown;
  uint32_t resultsLeft_ = 0;  // result sets after the current one
  uint32_t results_ = 0;      // result sets of one execution
  TestTableKind table_ = testTableNone;  // the fixed table a SELECT reads
  uint32_t tableRows_ = 0;
  uint32_t currentRow_ = 0;   // 1-based; 0 before the first row
};
