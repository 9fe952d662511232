// BaseCatalogInfo: a statement's catalog result set. A catalog function
// (SQLGetTypeInfo, and the catalog families built on the same shape)
// collects its rows into objects of its own, sorts them, and from then on
// the statement's fetch calls read them here instead of asking the driver:
// SQLFetch and SQLExtendedFetch's next row call fetchNext, positioned
// fetches call fetchRandom, SQLGetData and bound columns call
// getColumnValue.
//
// The statement owns its catalog result set (BaseStatement::setCatalogInfo)
// and destroys it when it returns to the allocated state. The rows are
// KvObjects whose compare gives the ODBC order of the family; the array
// owns them. Every compare is a total order: a NULL key sorts before any
// value and equals another NULL, so that sorting is well defined.
//
// Nesting: SQLColumns and SQLSpecialColumns run the SQLTables, SQLStatistics
// and SQLColumns cores inside themselves. pushCatalogInfo makes a new result
// set the statement's current one and keeps, inside it, the statement's
// result columns and the result set it replaced; popCatalogInfo gives both
// back and destroys the popped one. The chain runs innermost first.
//
// Asynchronous drivers: a core that finds the driver's flagAsync still set
// after one of its calls records where it stopped (setResumeStep) and
// returns; the repeated ODBC call finds the result set again and carries on
// at that step.
#pragma once

#include "base/convert/base_internal_type.h"
#include "util/containers/kv_array.h"

class BaseOutString;
class BaseField;

// The families, by the number each result set carries.
enum BaseCatalogKind : uint32_t {
  catalogTypeInfo = 0,
  catalogColumnPrivileges = 1,
  catalogColumns = 2,
  catalogForeignKeys = 3,
  catalogPrimaryKeys = 4,
  catalogProcedureColumns = 5,
  catalogProcedures = 6,
  catalogSpecialColumns = 7,
  catalogStatistics = 8,
  catalogTablePrivileges = 9,
  catalogTables = 10,
};

// One result column of a catalog family, in a static table per family.
struct CatalogColumnDesc {
  const char* name;
  int16_t sqlType;
  uint16_t nullable;   // SQL_NO_NULLS or SQL_NULLABLE
  uint16_t precision;  // 0: the SQL type's default
};

// Whether a column of a catalog family reads as NULL under the connection's
// WorkArounds: 0x2 hides the qualifier columns (column 1 of every family
// but type information, and column 5 of SQLForeignKeys and SQLStatistics),
// 0x10 SQLStatistics' INDEX_QUALIFIER (column 5), for applications that
// cannot take qualifiers.
KV_BASE_API bool baseCatalogColumnHidden(BaseCatalogKind kind, uint16_t column, uint32_t workArounds);

class KV_BASE_API BaseCatalogInfo : public KvObject {
 public:
  BaseCatalogInfo(BaseStatement* statement, BaseCatalogKind kind);
  ~BaseCatalogInfo() override;

  // The next row: *status 0 on a row, 1 when none is left. Never fails.
  virtual KvStatus fetchNext(uint16_t* status);
  // Row (1-based): *status 0 on it, SQL_ROW_NOROW outside 1..row count
  // (the position stays). Never fails.
  virtual KvStatus fetchRandom(uint32_t row, uint16_t* status);
  // Column (1-based) of the current row into out as cType (resolved),
  // through the statement's convertInternalToC; an unknown column is NULL.
  virtual KvStatus getColumnValue(uint16_t column, int16_t cType, BaseOutString* out) = 0;

  BaseCatalogKind getKind() const { return kind_; }
  // Whether value matches pattern as catalog arguments match: "%" any
  // text, "_" one character, the data source's search-pattern escape; case
  // is ignored when the data source's identifiers are case-insensitive or
  // unquotable, or for table names (tableName 1) when the connection asks
  // so (flagPatternNoCase). No pattern matches everything, no value nothing.
  int matchPattern(const unsigned char* value, const unsigned char* pattern, uint16_t tableName) const;

  // Nesting (BaseStatement::pushCatalogInfo / popCatalogInfo).
  BaseCatalogInfo* getPrevious() const { return previous_; }
  // Where an interrupted core carries on (0: from the start).
  uint16_t getResumeStep() const { return resumeStep_; }
  void setResumeStep(uint16_t step) { resumeStep_ = step; }
  BaseStatement* getStatement() const { return statement_; }
  void setStatement(BaseStatement* statement) { statement_ = statement; }
  uint16_t getRowCount() const { return rows_.getCount(); }
  // The row the result is positioned on (null before the first row).
  const KvObject* getCurrentRow() const { return currentRow_ ? rows_[uint16_t(currentRow_ - 1)] : nullptr; }
  uint16_t getCurrentRowNumber() const { return currentRow_; }

 protected:
  // Appends a row while collecting (the array takes it; a failure deletes
  // it).
  KvStatus addRow(KvObject* row);
  // Sorts the collected rows into the family's order.
  KvStatus sortRows() { return rows_.resort(); }
  // Writes a value of the current row: data null is NULL (SQL_NULL_DATA,
  // and an empty text in a buffer that has room), else the statement's
  // convertInternalToC.
  KvStatus putValue(uint16_t column, int16_t cType, BaseOutString* out, const void* data, uint32_t length,
                    InternalType type);

  BaseStatement* statement_;
  BaseCatalogKind kind_;
  KvSortedArray rows_;
  uint16_t currentRow_ = 0;  // 1-based; 0 before the first row
  uint16_t resumeStep_ = 0;

 private:
  friend class BaseStatement;
  // Set by pushCatalogInfo: the result set this one replaced (owned) and
  // the statement's result columns of that moment (owned until popped).
  BaseCatalogInfo* previous_ = nullptr;
  BaseField** savedFields_ = nullptr;
  uint16_t savedCapacity_ = 0;
  uint16_t savedCount_ = 0;
};
