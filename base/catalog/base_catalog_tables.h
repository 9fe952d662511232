// SQLTables' result set.
//
// Modes, by the arguments (tested in this order; "%" is the any-string mark,
// "" an empty argument that is not null):
//   qualifier "%", owner "" and table ""            list qualifiers (S1C00 when the
//                                                   data source has none)
//   qualifier "", owner "%" and table ""            list owners (S1C00 likewise)
//   qualifier, owner, table "" and types "%"        list table types
//   anything else                                   search: qualifier, owner and
//                                                   table name are pattern arguments
// In a search, the table types argument ('TABLE','VIEW' or TABLE,VIEW; null
// or "%" for every type) becomes a mask: a row of one of the seven ODBC
// types passes only when its bit is set, a row of any other type always
// passes. SQLColumns' own search runs a search with typeFromColumns, which
// lets every type through.
//
// The driver's executeTables receives the raw table types; it reads the mode
// and arguments here and opens a result of the five columns TABLE_QUALIFIER,
// TABLE_OWNER, TABLE_NAME, TABLE_TYPE, REMARKS. In the list-types mode it may
// instead set type bits in the mask and leave no result: one row is then made
// for each bit set. Rows come back ordered by TABLE_TYPE (byte order), then
// TABLE_QUALIFIER, TABLE_OWNER and TABLE_NAME, without duplicates.
#pragma once

#include "base/catalog/base_catalog_rows.h"

enum BaseTablesMode : uint32_t {
  tablesSearch = 0,
  tablesListOwners = 1,
  tablesListQualifiers = 2,
  tablesListTypes = 3,
};

// Bits of the table-type mask.
enum : uint32_t {
  typeTable = 0x1,
  typeView = 0x2,
  typeSystemTable = 0x4,
  typeAlias = 0x8,
  typeSynonym = 0x10,
  typeGlobalTemporary = 0x20,
  typeLocalTemporary = 0x40,
  typeAllNamed = 0x7F,
  typeFromColumns = 0x80,  // the search runs inside SQLColumns: every type passes
  typeEveryType = 0x100,   // every type passes (a driver may set it)
};

// Result columns.
enum TablesColumn : uint16_t { tablesQualifier = 1, tablesOwner, tablesName, tablesType, tablesRemarks };

class KV_BASE_API BaseTablesInfo : public BaseRowsCatalogInfo {
 public:
  explicit BaseTablesInfo(BaseStatement* statement);
  ~BaseTablesInfo() override;
  CatalogRowInfo* makeRow() const override;

  uint32_t getMode() const { return mode_; }
  void setMode(uint32_t mode) { mode_ = mode; }
  uint32_t getTypeMask() const { return typeMask_; }
  void setTypeMask(uint32_t mask) { typeMask_ = mask; }
  // The raw table-types argument (null when absent), kept for a resumed call.
  const unsigned char* getTableTypes() const { return tableTypes_; }
  KvStatus setTableTypes(const unsigned char* text, uint32_t length);
  // Sets the mask from a table-types list.
  void parseTableTypes(const unsigned char* text, uint32_t length);
  // Whether a row of the search passes the owner and table patterns and the
  // type mask.
  int passesSearch(const CatalogRowInfo& row) const;
  // One row for each of the seven type bits set in the mask.
  KvStatus addTypeRows();

 private:
  uint32_t mode_ = tablesSearch;
  uint32_t typeMask_ = 0;
  unsigned char* tableTypes_ = nullptr;
};
