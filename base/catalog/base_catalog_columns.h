// SQLColumns' result set: the columns of every table that matches the
// arguments, from the driver and from the framework's own search.
//
// The driver's executeColumns reads the arguments here (getArgument: 0
// qualifier, 1 owner, 2 table name, 3 column name; getPattern for the last
// three) and opens a result of the twelve ODBC columns TABLE_QUALIFIER,
// TABLE_OWNER, TABLE_NAME, COLUMN_NAME, DATA_TYPE, TYPE_NAME, PRECISION,
// LENGTH, SCALE, RADIX, NULLABLE, REMARKS, the columns of one table
// together. A driver that keeps no column catalog leaves the base
// executeColumns, which reports nothing.
//
// Unless the driver named one table outright (a table name, and an owner
// where the data source has owners, without "%" or "_"), the framework then
// searches itself: it lists the matching tables through the SQLTables core,
// and describes each table the driver did not report by preparing
// "SELECT * FROM <table>"; a table that cannot be prepared is left out.
// Rows are the tables' columns in the order found, tables ordered by
// qualifier, owner and name. PRECISION, LENGTH, SCALE and RADIX are derived
// from DATA_TYPE as baseCatalogMetric says.
#pragma once

#include "base/catalog/base_catalog_rows.h"
#include "util/containers/kv_array.h"

// SQLColumns' twelve result columns.
KV_BASE_API const CatalogColumnDesc* baseColumnsColumns();
enum : uint16_t { baseColumnsColumnCount = 12 };

// One column of a table. Numbers the driver reported as NULL stay NULL.
class KV_BASE_API ZizColumnInfo : public KvObject {
 public:
  ~ZizColumnInfo() override;
  unsigned char* columnName = nullptr;
  unsigned char* typeName = nullptr;
  unsigned char* remarks = nullptr;
  CatalogStoredMetrics metrics = {};  // DATA_TYPE and the stored PRECISION, LENGTH, SCALE, RADIX
  bool hasDataType = false;
  int16_t nullable = 0;
  bool hasNullable = false;
};

// One table and its columns (owned, in the order found).
class KV_BASE_API ZizTableInfo : public KvObject {
 public:
  ZizTableInfo();
  ~ZizTableInfo() override;
  // TABLE_QUALIFIER, TABLE_OWNER, TABLE_NAME in the international
  // collation, a NULL name first.
  int16_t compare(const KvObject* other) const override;
  // Whether the three names are the same bytes (two NULLs alike).
  bool sameNames(const ZizTableInfo& other) const;
  unsigned char* qualifier = nullptr;
  unsigned char* owner = nullptr;
  unsigned char* name = nullptr;
  KvArray columns;
};

// Steps of the SQLColumns core, where a repeated asynchronous call carries on.
enum : uint16_t {
  columnsStepDriver = 1,    // the driver's executeColumns
  columnsStepRows = 2,      // reading the driver's rows
  columnsStepTables = 3,    // the SQLTables core nested
  columnsStepPrepare = 5,   // a table's query being prepared
  columnsStepDescribe = 6,  // a table's query being described
};

class KV_BASE_API BaseColumnsInfo : public BaseCatalogInfo {
 public:
  explicit BaseColumnsInfo(BaseStatement* statement);
  ~BaseColumnsInfo() override;

  // Rows count across tables: each column of each table is a row.
  KvStatus fetchNext(uint16_t* status) override;
  KvStatus fetchRandom(uint32_t row, uint16_t* status) override;
  KvStatus getColumnValue(uint16_t column, int16_t cType, BaseOutString* out) override;

  const unsigned char* getArgument(uint16_t n) const { return n < 4 ? plain_[n] : nullptr; }
  const unsigned char* getPattern(uint16_t n) const { return n < 4 ? pattern_[n] : nullptr; }
  unsigned char** plainSlot(uint16_t n) { return &plain_[n]; }
  unsigned char** patternSlot(uint16_t n) { return &pattern_[n]; }

  uint16_t getTableCount() const { return rows_.getCount(); }
  ZizTableInfo* getTable(uint16_t index) const { return static_cast<ZizTableInfo*>(rows_[index]); }
  KvStatus appendTable(ZizTableInfo* table) { return addRow(table); }
  void deleteTable(uint16_t index) { rows_.deleteAtIndex(index); }
  KvStatus sort() { return sortRows(); }
  // Set by the base executeColumns: the driver keeps no column catalog.
  void setNoDriverRows() { noDriverRows_ = true; }
  bool hasNoDriverRows() const { return noDriverRows_; }

  // State of the own search.
  uint16_t driverTables = 0;   // tables that came from the driver
  uint16_t nextTable = 0;      // the table being described
  bool holderPushed = false;   // an empty result set keeps the result state while a table is described
  unsigned char quote = 0;     // SQL_IDENTIFIER_QUOTE_CHAR
  unsigned char separator = 0; // SQL_QUALIFIER_NAME_SEPARATOR
  uint16_t location = 0;       // SQL_QUALIFIER_LOCATION

 private:
  unsigned char* plain_[4] = {};
  unsigned char* pattern_[4] = {};
  uint16_t tableIndex_ = 0;
  uint16_t columnIndex_ = 0;
  bool noDriverRows_ = false;
};
