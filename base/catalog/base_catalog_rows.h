// Catalog rows of fixed columns, and the result sets made of them.
//
// Every catalog family but SQLColumns (two-level rows, base_catalog_columns.h)
// and SQLGetTypeInfo (base_type_info.h) keeps its rows as CatalogRowInfo:
// one value per result column, text or a number, each of which may be NULL.
// A family is described once, by a static CatalogFamilyDesc: its result
// columns, how each value is read (the NULL rules of ODBC), the keys of its
// order, the arguments of its ODBC call and which result columns those
// arguments filter. BaseRowsCatalogInfo holds one call's arguments and rows
// and serves them to the statement's fetch calls by that description.
//
// A row starts with every value NULL; a value the driver reports as
// SQL_NULL_DATA stays NULL, never 0. Orders are total: a NULL key sorts
// before every value and equals another NULL.
#pragma once

#include "base/catalog/base_catalog_info.h"

class BaseStatement;

// The most result columns of a family (SQLStatistics and SQLForeignKeys).
enum : uint16_t { catalogMaxColumns = 13, catalogMaxArguments = 6 };

// How a stored value reads.
enum CatalogValueRule : uint8_t {
  ruleStored = 0,            // as stored
  ruleNullWhenTypeZero,      // NULL on a row whose type column is 0 (table statistics)
  ruleOnlyWhenTypeZero,      // NULL unless the type column is 0; NULL when -1
  ruleNullWhenMinusOne,      // -1 is NULL
  ruleAlwaysNull,
  rulePrecision,             // derived from the type column and the stored
  ruleLength,                //   precision, length, scale and radix, which
  ruleScale,                 //   stand in four consecutive columns from
  ruleRadix,                 //   metricsColumn on (as SQLColumns reports them)
};

// How a key of the order compares.
enum CatalogKeyKind : uint8_t {
  keyIntl = 0,      // text in the international collation
  keyBytes,         // text byte by byte
  keyNumber,        // signed 16-bit number
  keyTypeZeroLast,  // a row whose type column is 0 follows every other row
};

struct CatalogSortKey {
  uint16_t column;
  CatalogKeyKind kind;
};

// One argument of the family's ODBC call: the SQLGetInfo limit that
// applies (SQL_MAX_QUALIFIER_NAME_LEN ...) and whether it is a pattern.
struct CatalogArgumentDesc {
  uint16_t infoType;
  uint16_t isPattern;
};

// A result column that must match a pattern argument.
struct CatalogFilter {
  uint16_t column;
  uint16_t argument;   // 0-based argument number
  uint16_t tableName;  // matchPattern's table-name flag
};

struct CatalogFamilyDesc {
  BaseCatalogKind kind;
  uint16_t columnCount;
  const CatalogColumnDesc* columns;
  const CatalogValueRule* rules;  // one per column
  uint16_t keyCount;
  const CatalogSortKey* keys;
  uint16_t argumentCount;
  const CatalogArgumentDesc* arguments;
  uint16_t requiredArgument;  // 1-based number of an argument whose absence is S1009; 0 none
  uint16_t filterCount;
  const CatalogFilter* filters;
  uint16_t typeColumn;     // the column that ruleNullWhenTypeZero... read; 0 none
  uint16_t metricsColumn;  // the first of the stored precision, length, scale and radix; 0 none
  uint32_t readColumns;    // bit n-1: the driver's column n is read (0: every column)
};

// One row of a family. The array of the result set owns it.
class KV_BASE_API CatalogRowInfo : public KvObject {
 public:
  explicit CatalogRowInfo(const CatalogFamilyDesc* family) : family_(family) {}
  ~CatalogRowInfo() override;
  int16_t compare(const KvObject* other) const override;

  // Text of column (1-based), null for NULL.
  const unsigned char* getText(uint16_t column) const { return texts_[column - 1]; }
  // Takes a copy of length bytes of text (null: NULL).
  KvStatus setText(uint16_t column, const unsigned char* text, uint32_t length);
  // Takes text (from ramAlloc) as the column's value.
  void adoptText(uint16_t column, unsigned char* text);
  int hasNumber(uint16_t column) const { return (present_ >> (column - 1)) & 1; }
  int32_t getNumber(uint16_t column) const { return numbers_[column - 1]; }
  void setNumber(uint16_t column, int32_t value) {
    numbers_[column - 1] = value;
    present_ |= 1u << (column - 1);
  }
  void clearNumber(uint16_t column) { present_ &= ~(1u << (column - 1)); }
  const CatalogFamilyDesc* getFamily() const { return family_; }

 private:
  // The row's value of a key as a comparable number (rows of no number
  // count as NULL).
  int compareKey(const CatalogRowInfo& other, const CatalogSortKey& key) const;

  const CatalogFamilyDesc* family_;
  unsigned char* texts_[catalogMaxColumns] = {};
  int32_t numbers_[catalogMaxColumns] = {};
  uint32_t present_ = 0;  // bit n-1: column n holds a number
};

// The row classes of the families, by the names their result sets use.
class KV_BASE_API TablesRowInfo : public CatalogRowInfo {
  using CatalogRowInfo::CatalogRowInfo;
};
class KV_BASE_API StatRowInfo : public CatalogRowInfo {
  using CatalogRowInfo::CatalogRowInfo;
};
class KV_BASE_API PrimaryRowInfo : public CatalogRowInfo {
  using CatalogRowInfo::CatalogRowInfo;
};
class KV_BASE_API ForeignRowInfo : public CatalogRowInfo {
  using CatalogRowInfo::CatalogRowInfo;
};
class KV_BASE_API ProcsRowInfo : public CatalogRowInfo {
  using CatalogRowInfo::CatalogRowInfo;
};
class KV_BASE_API ProcColsRowInfo : public CatalogRowInfo {
  using CatalogRowInfo::CatalogRowInfo;
};
class KV_BASE_API TablePrivsRowInfo : public CatalogRowInfo {
  using CatalogRowInfo::CatalogRowInfo;
};
class KV_BASE_API ColPrivsRowInfo : public CatalogRowInfo {
  using CatalogRowInfo::CatalogRowInfo;
};
// SQLSpecialColumns' rows also remember the index a column came from while
// the framework answers by itself.
class KV_BASE_API SpecialRowInfo : public CatalogRowInfo {
 public:
  using CatalogRowInfo::CatalogRowInfo;
  ~SpecialRowInfo() override;
  unsigned char* indexName = nullptr;  // owned
};

// PRECISION, LENGTH, SCALE and RADIX of a table or procedure column as
// SQLColumns and SQLProcedureColumns report them, from its DATA_TYPE and
// what the driver stored; *isNull when the value is NULL. A stored value
// that is NULL stays NULL where the type does not fix it (a NULL stored
// length of DECIMAL counts as 0: the length is computed).
struct CatalogStoredMetrics {
  int16_t dataType;
  int32_t precision, length;
  int16_t scale, radix;
  bool hasPrecision, hasLength, hasScale, hasRadix;
};
KV_BASE_API int32_t baseCatalogMetric(CatalogValueRule rule, const CatalogStoredMetrics& stored, bool* isNull);

// One call of a family of fixed rows: its arguments (plain and pattern
// copies, owned; null when absent), its options and rows.
class KV_BASE_API BaseRowsCatalogInfo : public BaseCatalogInfo {
 public:
  BaseRowsCatalogInfo(BaseStatement* statement, const CatalogFamilyDesc* family);
  ~BaseRowsCatalogInfo() override;

  // Column (1-based) of the current row by the family's rules.
  KvStatus getColumnValue(uint16_t column, int16_t cType, BaseOutString* out) override;

  const CatalogFamilyDesc* getFamily() const { return family_; }
  // Argument n (0-based, in the order of the ODBC call) with its quotes and
  // escapes removed, and as a pattern; null when absent.
  const unsigned char* getArgument(uint16_t n) const { return n < catalogMaxArguments ? plain_[n] : nullptr; }
  const unsigned char* getPattern(uint16_t n) const { return n < catalogMaxArguments ? pattern_[n] : nullptr; }
  // Takes copies of a plain argument and its pattern (either may be null).
  KvStatus setArgument(uint16_t n, const unsigned char* plain, const unsigned char* pattern);
  // The places the argument check stores argument n into.
  unsigned char** plainSlot(uint16_t n) { return &plain_[n]; }
  unsigned char** patternSlot(uint16_t n) { return &pattern_[n]; }

  // A new row of the family (SpecialRowInfo for SQLSpecialColumns).
  virtual CatalogRowInfo* makeRow() const;
  // Whether a row passes the family's pattern filters.
  int passesFilters(const CatalogRowInfo& row) const;
  // Appends a row (deleted on failure).
  KvStatus appendRow(CatalogRowInfo* row) { return addRow(row); }
  CatalogRowInfo* getRow(uint16_t index) const { return static_cast<CatalogRowInfo*>(rows_[index]); }
  void deleteRow(uint16_t index) { rows_.deleteAtIndex(index); }
  KvStatus sort() { return sortRows(); }
  void deleteDuplicates() { rows_.deleteDuplicates(); }

 protected:
  const CatalogFamilyDesc* family_;
  unsigned char* plain_[catalogMaxArguments] = {};
  unsigned char* pattern_[catalogMaxArguments] = {};
};

// The families' descriptions.
KV_BASE_API const CatalogFamilyDesc& baseTablesFamily();
KV_BASE_API const CatalogFamilyDesc& baseStatisticsFamily();
KV_BASE_API const CatalogFamilyDesc& baseSpecialColumnsFamily();
KV_BASE_API const CatalogFamilyDesc& basePrimaryKeysFamily();
KV_BASE_API const CatalogFamilyDesc& baseForeignKeysFamily();
KV_BASE_API const CatalogFamilyDesc& baseProceduresFamily();
KV_BASE_API const CatalogFamilyDesc& baseProcedureColumnsFamily();
KV_BASE_API const CatalogFamilyDesc& baseTablePrivilegesFamily();
KV_BASE_API const CatalogFamilyDesc& baseColumnPrivilegesFamily();
