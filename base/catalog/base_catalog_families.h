// The catalog result sets of SQLStatistics, SQLSpecialColumns,
// SQLPrimaryKeys, SQLForeignKeys, SQLProcedures, SQLProcedureColumns,
// SQLTablePrivileges and SQLColumnPrivileges.
//
// A driver's executeXxx operation finds its call's result set as the
// statement's catalog result set (getCatalogInfo), reads the arguments
// there (getArgument, by the numbers below; patterns through getPattern)
// and opens a result whose columns are the family's, in the family's order
// (the column tables in base_catalog_families.cpp follow ODBC 2). The
// framework reads every row, filters the pattern arguments where the family
// has them, sorts and serves the rows:
//
//   family               order                                     patterns filtered
//   SQLStatistics        table statistics (TYPE 0) last, then      -
//                        NON_UNIQUE, TYPE, INDEX_QUALIFIER,
//                        INDEX_NAME, SEQ_IN_INDEX
//   SQLSpecialColumns    SCOPE (ties keep the driver's order)      -
//   SQLPrimaryKeys       KEY_SEQ                                   -
//   SQLForeignKeys       PKTABLE_QUALIFIER, _OWNER, _NAME,         -
//                        FKTABLE_QUALIFIER, _OWNER, _NAME, KEY_SEQ
//   SQLProcedures        PROCEDURE_QUALIFIER, _OWNER, _NAME        owner, procedure
//   SQLProcedureColumns  PROCEDURE_QUALIFIER, _OWNER, _NAME,       owner, procedure, column
//                        COLUMN_TYPE
//   SQLTablePrivileges   TABLE_QUALIFIER, _OWNER, _NAME, PRIVILEGE owner, table
//   SQLColumnPrivileges  COLUMN_NAME, PRIVILEGE                    column
#pragma once

#include "base/catalog/base_catalog_rows.h"

// Argument numbers of the families that name one table: qualifier, owner,
// table name (and SQLColumnPrivileges' column name).
enum : uint16_t { catalogArgQualifier = 0, catalogArgOwner = 1, catalogArgTable = 2, catalogArgColumn = 3 };
// SQLForeignKeys: the primary-key table, then the foreign-key table.
enum : uint16_t {
  catalogArgPkQualifier = 0,
  catalogArgPkOwner = 1,
  catalogArgPkTable = 2,
  catalogArgFkQualifier = 3,
  catalogArgFkOwner = 4,
  catalogArgFkTable = 5,
};
// SQLProcedures and SQLProcedureColumns: qualifier, owner, procedure,
// column.
enum : uint16_t { catalogArgProcedure = 2, catalogArgProcColumn = 3 };

// SQLStatistics' result columns.
enum StatColumn : uint16_t {
  statQualifier = 1, statOwner, statTable, statNonUnique, statIndexQualifier, statIndexName, statType,
  statSeqInIndex, statColumnName, statCollation, statCardinality, statPages, statFilterCondition,
};
// SQLSpecialColumns' result columns.
enum SpecialColumn : uint16_t {
  specialScope = 1, specialColumnName, specialDataType, specialTypeName, specialPrecision, specialLength,
  specialScale, specialPseudoColumn,
};

class KV_BASE_API BaseStatisticsInfo : public BaseRowsCatalogInfo {
 public:
  explicit BaseStatisticsInfo(BaseStatement* statement);
  uint16_t getUnique() const { return unique_; }  // fUnique: SQL_INDEX_UNIQUE or SQL_INDEX_ALL
  void setUnique(uint16_t unique) { unique_ = unique; }
  // 1 while SQLSpecialColumns runs the statistics inside itself.
  uint16_t getInternalCall() const { return internalCall_; }
  void setInternalCall(uint16_t internalCall) { internalCall_ = internalCall; }

 private:
  uint16_t unique_ = 0;
  uint16_t internalCall_ = 0;
};

class KV_BASE_API BaseSpecialColumnsInfo : public BaseRowsCatalogInfo {
 public:
  explicit BaseSpecialColumnsInfo(BaseStatement* statement);
  CatalogRowInfo* makeRow() const override;
  uint16_t getColumnType() const { return columnType_; }  // fColType
  uint16_t getScope() const { return scope_; }            // fScope
  uint16_t getNullable() const { return nullable_; }      // fNullable
  void setOptions(uint16_t columnType, uint16_t scope, uint16_t nullable) {
    columnType_ = columnType;
    scope_ = scope;
    nullable_ = nullable;
  }

 private:
  uint16_t columnType_ = 0;
  uint16_t scope_ = 0;
  uint16_t nullable_ = 0;
};

class KV_BASE_API BasePrimaryKeysInfo : public BaseRowsCatalogInfo {
 public:
  explicit BasePrimaryKeysInfo(BaseStatement* statement);
};

class KV_BASE_API BaseForeignKeysInfo : public BaseRowsCatalogInfo {
 public:
  explicit BaseForeignKeysInfo(BaseStatement* statement);
};

class KV_BASE_API BaseProceduresInfo : public BaseRowsCatalogInfo {
 public:
  explicit BaseProceduresInfo(BaseStatement* statement);
};

class KV_BASE_API BaseProcedureColumnsInfo : public BaseRowsCatalogInfo {
 public:
  explicit BaseProcedureColumnsInfo(BaseStatement* statement);
};

class KV_BASE_API BaseTablePrivilegesInfo : public BaseRowsCatalogInfo {
 public:
  explicit BaseTablePrivilegesInfo(BaseStatement* statement);
};

class KV_BASE_API BaseColumnPrivilegesInfo : public BaseRowsCatalogInfo {
 public:
  explicit BaseColumnPrivilegesInfo(BaseStatement* statement);
};
