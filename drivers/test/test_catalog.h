// The test data source's catalog, which its catalog operations answer:
//
//   table      type           columns                         answered by
//   ALLTYPES   TABLE          the fixed table's (test_table.h) SELECT * (the framework's search)
//   NUMBERS    TABLE          N                               SELECT *
//   MY_TABLE   TABLE          ID INTEGER not null,            the driver's executeColumns
//                             NAME VARCHAR(40),
//                             PRICE DECIMAL(10,2) of no stored length,
//                             CODE CHAR(4) not null
//   MYXTABLE   TABLE          X INTEGER                       SELECT *
//   NUMBERS_V  VIEW           N INTEGER                       SELECT *
//   SYS_INFO   SYSTEM TABLE   -                               SELECT * fails
//
// MY_TABLE has the statistics of 3 rows (pages unknown), the unique index
// A_NAME_KEY on NAME (a nullable column), the unique index B_ID_KEY on ID
// (also its primary key) and the non-unique index C_CODE_IDX on CODE; every
// other table has only its table statistics (cardinality unknown). The
// driver leaves SQLSpecialColumns to the framework.
#pragma once

#include "base/base_types.h"

#include <string>
#include <vector>

class BaseTablesInfo;
class BaseColumnsInfo;
class BaseRowsCatalogInfo;
class BaseSqlString;

// One value of a catalog result.
struct TestCatalogCell {
  bool isNull;
  bool isText;
  std::string text;
  int32_t number;
};

// The rows a catalog operation opened, read by the statement's fetchRow and
// getData.
struct TestCatalogResult {
  std::vector<std::vector<TestCatalogCell>> rows;
  size_t current = 0;  // 1-based; 0 before the first row
};

void testCatalogTables(const BaseTablesInfo& info, TestCatalogResult* result);
void testCatalogColumns(const BaseColumnsInfo& info, TestCatalogResult* result);
void testCatalogStatistics(const BaseRowsCatalogInfo& info, uint16_t unique, TestCatalogResult* result);
void testCatalogPrimaryKeys(const BaseRowsCatalogInfo& info, TestCatalogResult* result);

// A catalog-only table that a SELECT names: its columns (name, SQL type,
// precision, scale), or *fails when the table cannot be read. *known is 0
// for any other text.
struct TestCatalogColumn {
  const char* name;
  int16_t sqlType;
  uint32_t precision;
  int16_t scale;
  int16_t nullable;
};
const TestCatalogColumn* testCatalogSelect(const BaseSqlString& sql, uint16_t* count, int* known, int* fails);
// The TYPE_NAME of an SQL type in the data source's type table (null when it has none).
const char* testCatalogTypeName(int16_t sqlType);
