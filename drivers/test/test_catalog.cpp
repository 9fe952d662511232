// The test data source's catalog and the statement operations that answer
// from it; see test_catalog.h.
#include "drivers/test/test_catalog.h"

#include "base/catalog/base_catalog_columns.h"
#include "base/catalog/base_catalog_families.h"
#include "base/catalog/base_catalog_tables.h"
#include "base/results/base_field.h"
#include "base/handles/base_messages.h"
#include "base/handles/base_out_string.h"
#include "base/statement/base_sql_string.h"
#include "drivers/test/test_dialect.h"
#include "drivers/test/test_message_ids.h"
#include "drivers/test/test_statement.h"
#include "util/containers/str_functions.h"

#include <cstring>

namespace {

struct CatalogTable {
  const char* name;
  const char* type;
  const char* remarks;
};

const CatalogTable tables[] = {
    {"ALLTYPES", "TABLE", "every internal form of a value"},
    {"NUMBERS", "TABLE", nullptr},
    {"MY_TABLE", "TABLE", "described by the driver"},
    {"MYXTABLE", "TABLE", nullptr},
    {"NUMBERS_V", "VIEW", nullptr},
    {"SYS_INFO", "SYSTEM TABLE", nullptr},
};

// MY_TABLE's columns as the driver reports them: PRICE has no stored
// length, so the framework derives it.
struct DriverColumn {
  const char* name;
  int16_t sqlType;
  const char* typeName;
  int32_t precision;
  int32_t length;  // -1: NULL
  int16_t scale;   // -1: NULL
  int16_t nullable;
};
const DriverColumn myTableColumns[] = {
    {"ID", SQL_INTEGER, "INTEGER", 10, 4, 0, SQL_NO_NULLS},
    {"NAME", SQL_VARCHAR, "VARCHAR", 40, 40, -1, SQL_NULLABLE},
    {"PRICE", SQL_DECIMAL, "DECIMAL", 10, -1, 2, SQL_NULLABLE},
    {"CODE", SQL_CHAR, "CHAR", 4, 4, -1, SQL_NO_NULLS},
};

struct IndexColumn {
  const char* index;
  int16_t nonUnique;
  const char* column;
};
// In no particular order: the framework sorts them.
const IndexColumn myTableIndexes[] = {
    {"C_CODE_IDX", SQL_TRUE, "CODE"},
    {"B_ID_KEY", SQL_FALSE, "ID"},
    {"A_NAME_KEY", SQL_FALSE, "NAME"},
};

const TestCatalogColumn numbersColumns[] = {{"N", SQL_INTEGER, 10, 0, SQL_NO_NULLS}};
const TestCatalogColumn myxColumns[] = {{"X", SQL_INTEGER, 10, 0, SQL_NULLABLE}};

TestCatalogCell text(const char* value) {
  return value ? TestCatalogCell{false, true, value, 0} : TestCatalogCell{true, true, "", 0};
}
TestCatalogCell number(int32_t value) { return {false, false, "", value}; }
TestCatalogCell null() { return {true, false, "", 0}; }

bool sameName(const unsigned char* given, const char* name) {
  return given && strEqualCi(given, uint32_t(std::strlen(kvC(given))), kvU(name), uint32_t(std::strlen(name)));
}

}  // namespace

void testCatalogTables(const BaseTablesInfo&, TestCatalogResult* result) {
  // Every table: the framework filters by the patterns, the types and the
  // mode.
  for (const CatalogTable& table : tables) {
    result->rows.push_back({null(), null(), text(table.name), text(table.type), text(table.remarks)});
  }
}

void testCatalogColumns(const BaseColumnsInfo& info, TestCatalogResult* result) {
  if (!info.matchPattern(kvU("MY_TABLE"), info.getPattern(2), 1)) return;
  for (const DriverColumn& column : myTableColumns) {
    result->rows.push_back({null(), null(), text("MY_TABLE"), text(column.name), number(column.sqlType),
                            text(column.typeName), number(column.precision),
                            column.length < 0 ? null() : number(column.length),
                            column.scale < 0 ? null() : number(column.scale),
                            column.sqlType == SQL_INTEGER || column.sqlType == SQL_DECIMAL ? number(10) : null(),
                            number(column.nullable), null()});
  }
}

void testCatalogStatistics(const BaseRowsCatalogInfo& info, uint16_t unique, TestCatalogResult* result) {
  const unsigned char* name = info.getArgument(catalogArgTable);
  for (const CatalogTable& table : tables) {
    if (!sameName(name, table.name)) continue;
    const bool mine = std::strcmp(table.name, "MY_TABLE") == 0;
    result->rows.push_back({null(), null(), text(table.name), null(), null(), null(), number(SQL_TABLE_STAT), null(),
                            null(), null(), number(mine ? 3 : -1), number(-1), null()});
    if (!mine) return;
    for (const IndexColumn& index : myTableIndexes) {
      if (unique == SQL_INDEX_UNIQUE && index.nonUnique) continue;
      result->rows.push_back({null(), null(), text(table.name), number(index.nonUnique), null(), text(index.index),
                              number(SQL_INDEX_OTHER), number(1), text(index.column), text("A"), number(-1),
                              number(-1), null()});
    }
    return;
  }
}

void testCatalogPrimaryKeys(const BaseRowsCatalogInfo& info, TestCatalogResult* result) {
  if (!sameName(info.getArgument(catalogArgTable), "MY_TABLE")) return;
  result->rows.push_back({null(), null(), text("MY_TABLE"), text("ID"), number(1), text("B_ID_KEY")});
}

const TestCatalogColumn* testCatalogSelect(const BaseSqlString& sql, uint16_t* count, int* known, int* fails) {
  struct Readable {
    const char* name;
    const TestCatalogColumn* columns;
    uint16_t count;
  };
  static const Readable readable[] = {{"MYXTABLE", myxColumns, 1}, {"NUMBERS_V", numbersColumns, 1},
                                      {"SYS_INFO", nullptr, 0}};
  *known = 0;
  *fails = 0;
  *count = 0;
  static const char from[] = "SELECT * FROM ";
  const uint32_t length = sql.getLength();
  if (length <= sizeof(from) - 1 || !strEqualCi(sql.getText(), sizeof(from) - 1, kvU(from), sizeof(from) - 1))
    return nullptr;
  const unsigned char* name = sql.getText() + sizeof(from) - 1;
  const uint32_t nameLength = length - uint32_t(sizeof(from) - 1);
  for (const Readable& table : readable) {
    if (!strEqualCi(name, nameLength, kvU(table.name), uint32_t(std::strlen(table.name)))) continue;
    *known = 1;
    *fails = table.columns == nullptr;
    *count = table.count;
    return table.columns;
  }
  return nullptr;
}

const char* testCatalogTypeName(int16_t sqlType) {
  for (uint16_t i = 0; i < testTypeCount; ++i) {
    if (testTypeTable[i].dataType == sqlType) return testTypeTable[i].typeName;
  }
  return nullptr;
}

// ---------------------------------------------------------------- statement

KvStatus TestStatement::openCatalogResult(TestCatalogResult* result) {
  delete catalog_;
  catalog_ = result;
  return kvSuccess;
}

KvStatus TestStatement::executeTables(BaseInString*) {
  TestCatalogResult* result = new TestCatalogResult;
  testCatalogTables(*static_cast<const BaseTablesInfo*>(getCatalogInfo()), result);
  return openCatalogResult(result);
}

KvStatus TestStatement::executeColumns() {
  TestCatalogResult* result = new TestCatalogResult;
  testCatalogColumns(*static_cast<const BaseColumnsInfo*>(getCatalogInfo()), result);
  return openCatalogResult(result);
}

KvStatus TestStatement::executeStatistics(uint16_t) {
  const BaseStatisticsInfo* info = static_cast<const BaseStatisticsInfo*>(getCatalogInfo());
  TestCatalogResult* result = new TestCatalogResult;
  testCatalogStatistics(*info, info->getUnique(), result);
  return openCatalogResult(result);
}

KvStatus TestStatement::executePrimary() {
  TestCatalogResult* result = new TestCatalogResult;
  testCatalogPrimaryKeys(*static_cast<const BaseRowsCatalogInfo*>(getCatalogInfo()), result);
  return openCatalogResult(result);
}

KvStatus TestStatement::fetchCatalogRow(uint16_t* endOfData) {
  *endOfData = catalog_->current >= catalog_->rows.size();
  if (!*endOfData) ++catalog_->current;
  return kvSuccess;
}

KvStatus TestStatement::getCatalogData(uint16_t column, int16_t cType, BaseOutString* out) {
  if (catalog_->current == 0 || column == 0 || column > catalog_->rows[catalog_->current - 1].size()) {
    addOdbcError(stateNotCapable);
    return kvFailure;
  }
  const TestCatalogCell& cell = catalog_->rows[catalog_->current - 1][column - 1];
  if (cell.isNull) {
    out->setLength(SQL_NULL_DATA);
    return kvSuccess;
  }
  if (cell.isText) {
    return convertInternalToC(column, cType, out, cell.text.data(), int32_t(cell.text.size()), itChar);
  }
  return convertInternalToC(column, cType, out, &cell.number, 4, itSLong);
}

KvStatus TestStatement::prepareCatalogTable(const BaseSqlString& sql, int* known) {
  uint16_t count = 0;
  int fails = 0;
  const TestCatalogColumn* columns = testCatalogSelect(sql, &count, known, &fails);
  if (!*known) return kvSuccess;
  if (fails) {
    addOdbcError(stateSyntax, testMsgCannotRun) << "SELECT";
    return kvFailure;
  }
  if (allocArrays(count, arrayFields) != kvSuccess) return kvFailure;
  for (uint16_t i = 0; i < count; ++i) {
    BaseField* field = fields_[i] ? fields_[i] : allocFld();
    if (!field) return kvFailure;
    fields_[i] = field;
    if (field->setText(&field->name, kvU(columns[i].name)) != kvSuccess) return kvFailure;
    field->sqlType = columns[i].sqlType;
    field->precision = columns[i].precision;
    field->scale = columns[i].scale;
    field->nullable = columns[i].nullable;
    field->typeName = kvU(testCatalogTypeName(columns[i].sqlType));
  }
  fieldCount_ = count;
  return kvSuccess;
}
