// The fixed-row catalog families: their descriptions (result columns, NULL
// rules, orders, arguments, filters), their result sets, and the ODBC calls
// SQLStatistics, SQLPrimaryKeys, SQLForeignKeys, SQLProcedures,
// SQLProcedureColumns, SQLTablePrivileges and SQLColumnPrivileges on the
// common road of catalog calls (base_catalog_calls.cpp). SQLSpecialColumns'
// own answer is in base_catalog_special.cpp.
#include "base/catalog/base_catalog_families.h"

#include "base/statement/base_statement.h"

#define KV_COUNT(table) uint16_t(sizeof(table) / sizeof((table)[0]))

namespace {

constexpr uint16_t noNulls = SQL_NO_NULLS;
constexpr uint16_t nullable = SQL_NULLABLE;

// ---------------------------------------------------------------- SQLStatistics

const CatalogColumnDesc statColumns[] = {
    {"TABLE_QUALIFIER", SQL_VARCHAR, nullable, 128}, {"TABLE_OWNER", SQL_VARCHAR, nullable, 128},
    {"TABLE_NAME", SQL_VARCHAR, noNulls, 128},       {"NON_UNIQUE", SQL_SMALLINT, nullable, 0},
    {"INDEX_QUALIFIER", SQL_VARCHAR, nullable, 128}, {"INDEX_NAME", SQL_VARCHAR, nullable, 128},
    {"TYPE", SQL_SMALLINT, noNulls, 0},              {"SEQ_IN_INDEX", SQL_SMALLINT, nullable, 0},
    {"COLUMN_NAME", SQL_VARCHAR, nullable, 128},     {"COLLATION", SQL_CHAR, nullable, 1},
    {"CARDINALITY", SQL_INTEGER, nullable, 0},       {"PAGES", SQL_INTEGER, nullable, 0},
    {"FILTER_CONDITION", SQL_VARCHAR, nullable, 128},
};
const CatalogValueRule statRules[] = {
    ruleStored,           ruleStored,           ruleStored, ruleNullWhenTypeZero, ruleNullWhenTypeZero,
    ruleNullWhenTypeZero, ruleStored,           ruleNullWhenTypeZero, ruleNullWhenTypeZero, ruleNullWhenTypeZero,
    ruleOnlyWhenTypeZero, ruleOnlyWhenTypeZero, ruleNullWhenTypeZero,
};
const CatalogSortKey statKeys[] = {
    {statType, keyTypeZeroLast}, {statNonUnique, keyNumber}, {statType, keyNumber},
    {statIndexQualifier, keyIntl}, {statIndexName, keyIntl}, {statSeqInIndex, keyNumber},
};
// Qualifier, owner and table name, no patterns: the families that name one
// table.
const CatalogArgumentDesc oneTableArguments[] = {
    {SQL_MAX_QUALIFIER_NAME_LEN, 0}, {SQL_MAX_OWNER_NAME_LEN, 0}, {SQL_MAX_TABLE_NAME_LEN, 0}};
const CatalogFamilyDesc statFamily = {
    catalogStatistics, KV_COUNT(statColumns), statColumns, statRules, KV_COUNT(statKeys), statKeys,
    KV_COUNT(oneTableArguments), oneTableArguments, catalogArgTable + 1, 0, nullptr, statType, 0, 0};

// ---------------------------------------------------------------- SQLSpecialColumns

const CatalogColumnDesc specialColumns[] = {
    {"SCOPE", SQL_SMALLINT, nullable, 0},        {"COLUMN_NAME", SQL_VARCHAR, noNulls, 128},
    {"DATA_TYPE", SQL_SMALLINT, noNulls, 0},     {"TYPE_NAME", SQL_VARCHAR, noNulls, 128},
    {"PRECISION", SQL_INTEGER, nullable, 0},     {"LENGTH", SQL_INTEGER, nullable, 0},
    {"SCALE", SQL_SMALLINT, nullable, 0},        {"PSEUDO_COLUMN", SQL_SMALLINT, nullable, 0},
};
const CatalogValueRule specialRules[] = {ruleStored, ruleStored, ruleStored, ruleStored,
                                         ruleStored, ruleStored, ruleStored, ruleStored};
const CatalogSortKey specialKeys[] = {{specialScope, keyNumber}};
const CatalogFamilyDesc specialFamily = {
    catalogSpecialColumns, KV_COUNT(specialColumns), specialColumns, specialRules, KV_COUNT(specialKeys),
    specialKeys, KV_COUNT(oneTableArguments), oneTableArguments, catalogArgTable + 1, 0, nullptr, 0, 0, 0};

// ---------------------------------------------------------------- SQLPrimaryKeys

const CatalogColumnDesc primaryColumns[] = {
    {"TABLE_QUALIFIER", SQL_VARCHAR, nullable, 128}, {"TABLE_OWNER", SQL_VARCHAR, nullable, 128},
    {"TABLE_NAME", SQL_VARCHAR, noNulls, 128},       {"COLUMN_NAME", SQL_VARCHAR, noNulls, 128},
    {"KEY_SEQ", SQL_SMALLINT, noNulls, 0},           {"PK_NAME", SQL_VARCHAR, nullable, 128},
};
const CatalogValueRule primaryRules[] = {ruleStored, ruleStored, ruleStored, ruleStored, ruleStored, ruleStored};
const CatalogSortKey primaryKeys[] = {{5, keyNumber}};
const CatalogFamilyDesc primaryFamily = {
    catalogPrimaryKeys, KV_COUNT(primaryColumns), primaryColumns, primaryRules, KV_COUNT(primaryKeys),
    primaryKeys, KV_COUNT(oneTableArguments), oneTableArguments, catalogArgTable + 1, 0, nullptr, 0, 0, 0};

// ---------------------------------------------------------------- SQLForeignKeys

const CatalogColumnDesc foreignColumns[] = {
    {"PKTABLE_QUALIFIER", SQL_VARCHAR, nullable, 128}, {"PKTABLE_OWNER", SQL_VARCHAR, nullable, 128},
    {"PKTABLE_NAME", SQL_VARCHAR, noNulls, 128},       {"PKCOLUMN_NAME", SQL_VARCHAR, noNulls, 128},
    {"FKTABLE_QUALIFIER", SQL_VARCHAR, nullable, 128}, {"FKTABLE_OWNER", SQL_VARCHAR, nullable, 128},
    {"FKTABLE_NAME", SQL_VARCHAR, noNulls, 128},       {"FKCOLUMN_NAME", SQL_VARCHAR, noNulls, 128},
    {"KEY_SEQ", SQL_SMALLINT, noNulls, 0},             {"UPDATE_RULE", SQL_SMALLINT, nullable, 0},
    {"DELETE_RULE", SQL_SMALLINT, nullable, 0},        {"FK_NAME", SQL_VARCHAR, nullable, 128},
    {"PK_NAME", SQL_VARCHAR, nullable, 128},
};
const CatalogValueRule foreignRules[] = {
    ruleStored, ruleStored, ruleStored, ruleStored,           ruleStored,           ruleStored, ruleStored,
    ruleStored, ruleStored, ruleNullWhenMinusOne, ruleNullWhenMinusOne, ruleStored, ruleStored,
};
const CatalogSortKey foreignKeys[] = {{1, keyIntl}, {2, keyIntl}, {3, keyIntl}, {5, keyIntl},
                                      {6, keyIntl}, {7, keyIntl}, {9, keyNumber}};
const CatalogArgumentDesc twoTableArguments[] = {
    {SQL_MAX_QUALIFIER_NAME_LEN, 0}, {SQL_MAX_OWNER_NAME_LEN, 0}, {SQL_MAX_TABLE_NAME_LEN, 0},
    {SQL_MAX_QUALIFIER_NAME_LEN, 0}, {SQL_MAX_OWNER_NAME_LEN, 0}, {SQL_MAX_TABLE_NAME_LEN, 0}};
const CatalogFamilyDesc foreignFamily = {
    catalogForeignKeys, KV_COUNT(foreignColumns), foreignColumns, foreignRules, KV_COUNT(foreignKeys),
    foreignKeys, KV_COUNT(twoTableArguments), twoTableArguments, 0, 0, nullptr, 0, 0, 0};

// ---------------------------------------------------------------- SQLProcedures

const CatalogColumnDesc procColumns[] = {
    {"PROCEDURE_QUALIFIER", SQL_VARCHAR, nullable, 128}, {"PROCEDURE_OWNER", SQL_VARCHAR, nullable, 128},
    {"PROCEDURE_NAME", SQL_VARCHAR, noNulls, 128},       {"NUM_INPUT_PARAMS", SQL_INTEGER, noNulls, 0},
    {"NUM_OUTPUT_PARAMS", SQL_INTEGER, noNulls, 0},      {"NUM_RESULT_SETS", SQL_INTEGER, noNulls, 0},
    {"REMARKS", SQL_VARCHAR, nullable, 254},             {"PROCEDURE_TYPE", SQL_SMALLINT, nullable, 0},
};
const CatalogValueRule procRules[] = {ruleStored,     ruleStored,     ruleStored, ruleAlwaysNull,
                                      ruleAlwaysNull, ruleAlwaysNull, ruleStored, ruleStored};
const CatalogSortKey procKeys[] = {{1, keyIntl}, {2, keyIntl}, {3, keyIntl}};
const CatalogArgumentDesc procArguments[] = {
    {SQL_MAX_QUALIFIER_NAME_LEN, 0}, {SQL_MAX_OWNER_NAME_LEN, 1}, {SQL_MAX_PROCEDURE_NAME_LEN, 1}};
const CatalogFilter procFilters[] = {{2, catalogArgOwner, 0}, {3, catalogArgProcedure, 1}};
// Of the driver's columns only 1-3, 7 and 8 are read: the parameter and
// result-set counts are always NULL.
const uint32_t procReadColumns = 0x1 | 0x2 | 0x4 | 0x40 | 0x80;
const CatalogFamilyDesc procFamily = {
    catalogProcedures, KV_COUNT(procColumns), procColumns, procRules, KV_COUNT(procKeys), procKeys,
    KV_COUNT(procArguments), procArguments, 0, KV_COUNT(procFilters), procFilters, 0, 0, procReadColumns};

// ---------------------------------------------------------------- SQLProcedureColumns

const CatalogColumnDesc procColColumns[] = {
    {"PROCEDURE_QUALIFIER", SQL_VARCHAR, nullable, 128}, {"PROCEDURE_OWNER", SQL_VARCHAR, nullable, 128},
    {"PROCEDURE_NAME", SQL_VARCHAR, noNulls, 128},       {"COLUMN_NAME", SQL_VARCHAR, noNulls, 128},
    {"COLUMN_TYPE", SQL_SMALLINT, noNulls, 0},           {"DATA_TYPE", SQL_SMALLINT, noNulls, 0},
    {"TYPE_NAME", SQL_VARCHAR, noNulls, 128},            {"PRECISION", SQL_INTEGER, nullable, 0},
    {"LENGTH", SQL_INTEGER, nullable, 0},                {"SCALE", SQL_SMALLINT, nullable, 0},
    {"RADIX", SQL_SMALLINT, nullable, 0},                {"NULLABLE", SQL_SMALLINT, noNulls, 0},
    {"REMARKS", SQL_VARCHAR, nullable, 254},
};
const CatalogValueRule procColRules[] = {
    ruleStored, ruleStored, ruleStored, ruleStored, ruleStored, ruleStored, ruleStored,
    rulePrecision, ruleLength, ruleScale, ruleRadix, ruleStored, ruleStored,
};
const CatalogSortKey procColKeys[] = {{1, keyIntl}, {2, keyIntl}, {3, keyIntl}, {5, keyNumber}};
const CatalogArgumentDesc procColArguments[] = {{SQL_MAX_QUALIFIER_NAME_LEN, 0},
                                                {SQL_MAX_OWNER_NAME_LEN, 1},
                                                {SQL_MAX_PROCEDURE_NAME_LEN, 1},
                                                {SQL_MAX_COLUMN_NAME_LEN, 1}};
const CatalogFilter procColFilters[] = {
    {2, catalogArgOwner, 0}, {3, catalogArgProcedure, 1}, {4, catalogArgProcColumn, 0}};
const CatalogFamilyDesc procColFamily = {
    catalogProcedureColumns, KV_COUNT(procColColumns), procColColumns, procColRules, KV_COUNT(procColKeys),
    procColKeys, KV_COUNT(procColArguments), procColArguments, 0, KV_COUNT(procColFilters), procColFilters,
    6, 8, 0};

// ---------------------------------------------------------------- SQLTablePrivileges

const CatalogColumnDesc tablePrivColumns[] = {
    {"TABLE_QUALIFIER", SQL_VARCHAR, nullable, 128}, {"TABLE_OWNER", SQL_VARCHAR, nullable, 128},
    {"TABLE_NAME", SQL_VARCHAR, noNulls, 128},       {"GRANTOR", SQL_VARCHAR, nullable, 128},
    {"GRANTEE", SQL_VARCHAR, noNulls, 128},          {"PRIVILEGE", SQL_VARCHAR, noNulls, 128},
    {"IS_GRANTABLE", SQL_VARCHAR, nullable, 3},
};
const CatalogValueRule tablePrivRules[] = {ruleStored, ruleStored, ruleStored, ruleStored,
                                           ruleStored, ruleStored, ruleStored};
const CatalogSortKey tablePrivKeys[] = {{1, keyIntl}, {2, keyIntl}, {3, keyIntl}, {6, keyIntl}};
const CatalogArgumentDesc tablePrivArguments[] = {
    {SQL_MAX_QUALIFIER_NAME_LEN, 0}, {SQL_MAX_OWNER_NAME_LEN, 1}, {SQL_MAX_TABLE_NAME_LEN, 1}};
const CatalogFilter tablePrivFilters[] = {{2, catalogArgOwner, 0}, {3, catalogArgTable, 1}};
const CatalogFamilyDesc tablePrivFamily = {
    catalogTablePrivileges, KV_COUNT(tablePrivColumns), tablePrivColumns, tablePrivRules,
    KV_COUNT(tablePrivKeys), tablePrivKeys, KV_COUNT(tablePrivArguments), tablePrivArguments, 0,
    KV_COUNT(tablePrivFilters), tablePrivFilters, 0, 0, 0};

// ---------------------------------------------------------------- SQLColumnPrivileges

const CatalogColumnDesc colPrivColumns[] = {
    {"TABLE_QUALIFIER", SQL_VARCHAR, nullable, 128}, {"TABLE_OWNER", SQL_VARCHAR, nullable, 128},
    {"TABLE_NAME", SQL_VARCHAR, noNulls, 128},       {"COLUMN_NAME", SQL_VARCHAR, noNulls, 128},
    {"GRANTOR", SQL_VARCHAR, nullable, 128},         {"GRANTEE", SQL_VARCHAR, noNulls, 128},
    {"PRIVILEGE", SQL_VARCHAR, noNulls, 128},        {"IS_GRANTABLE", SQL_VARCHAR, nullable, 3},
};
const CatalogValueRule colPrivRules[] = {ruleStored, ruleStored, ruleStored, ruleStored,
                                         ruleStored, ruleStored, ruleStored, ruleStored};
const CatalogSortKey colPrivKeys[] = {{4, keyIntl}, {7, keyIntl}};
const CatalogArgumentDesc colPrivArguments[] = {{SQL_MAX_QUALIFIER_NAME_LEN, 0},
                                                {SQL_MAX_OWNER_NAME_LEN, 0},
                                                {SQL_MAX_TABLE_NAME_LEN, 0},
                                                {SQL_MAX_COLUMN_NAME_LEN, 1}};
const CatalogFilter colPrivFilters[] = {{4, catalogArgColumn, 0}};
const CatalogFamilyDesc colPrivFamily = {
    catalogColumnPrivileges, KV_COUNT(colPrivColumns), colPrivColumns, colPrivRules, KV_COUNT(colPrivKeys),
    colPrivKeys, KV_COUNT(colPrivArguments), colPrivArguments, catalogArgTable + 1, KV_COUNT(colPrivFilters),
    colPrivFilters, 0, 0, 0};

}  // namespace

const CatalogFamilyDesc& baseStatisticsFamily() { return statFamily; }
const CatalogFamilyDesc& baseSpecialColumnsFamily() { return specialFamily; }
const CatalogFamilyDesc& basePrimaryKeysFamily() { return primaryFamily; }
const CatalogFamilyDesc& baseForeignKeysFamily() { return foreignFamily; }
const CatalogFamilyDesc& baseProceduresFamily() { return procFamily; }
const CatalogFamilyDesc& baseProcedureColumnsFamily() { return procColFamily; }
const CatalogFamilyDesc& baseTablePrivilegesFamily() { return tablePrivFamily; }
const CatalogFamilyDesc& baseColumnPrivilegesFamily() { return colPrivFamily; }

BaseStatisticsInfo::BaseStatisticsInfo(BaseStatement* statement) : BaseRowsCatalogInfo(statement, &statFamily) {}
BaseSpecialColumnsInfo::BaseSpecialColumnsInfo(BaseStatement* statement)
    : BaseRowsCatalogInfo(statement, &specialFamily) {}
CatalogRowInfo* BaseSpecialColumnsInfo::makeRow() const { return new SpecialRowInfo(family_); }
BasePrimaryKeysInfo::BasePrimaryKeysInfo(BaseStatement* statement)
    : BaseRowsCatalogInfo(statement, &primaryFamily) {}
BaseForeignKeysInfo::BaseForeignKeysInfo(BaseStatement* statement)
    : BaseRowsCatalogInfo(statement, &foreignFamily) {}
BaseProceduresInfo::BaseProceduresInfo(BaseStatement* statement) : BaseRowsCatalogInfo(statement, &procFamily) {}
BaseProcedureColumnsInfo::BaseProcedureColumnsInfo(BaseStatement* statement)
    : BaseRowsCatalogInfo(statement, &procColFamily) {}
BaseTablePrivilegesInfo::BaseTablePrivilegesInfo(BaseStatement* statement)
    : BaseRowsCatalogInfo(statement, &tablePrivFamily) {}
BaseColumnPrivilegesInfo::BaseColumnPrivilegesInfo(BaseStatement* statement)
    : BaseRowsCatalogInfo(statement, &colPrivFamily) {}

// ---------------------------------------------------------------- ODBC calls

namespace {
constexpr uint16_t noOptions[3] = {0, 0, 0};
}  // namespace

SQLRETURN BaseStatement::SQLStatistics(SQLCHAR* szQualifier, SQLSMALLINT cbQualifier, SQLCHAR* szOwner,
                                       SQLSMALLINT cbOwner, SQLCHAR* szTable, SQLSMALLINT cbTable,
                                       SQLUSMALLINT fUnique, SQLUSMALLINT) {
  const SQLCHAR* texts[] = {szQualifier, szOwner, szTable};
  const SQLSMALLINT lengths[] = {cbQualifier, cbOwner, cbTable};
  const uint16_t options[3] = {fUnique, 0, 0};
  return runRowsCall(SQL_API_SQLSTATISTICS, catalogStatistics, texts, lengths, options);
}

SQLRETURN BaseStatement::SQLSpecialColumns(SQLUSMALLINT fColType, SQLCHAR* szQualifier, SQLSMALLINT cbQualifier,
                                           SQLCHAR* szOwner, SQLSMALLINT cbOwner, SQLCHAR* szTable,
                                           SQLSMALLINT cbTable, SQLUSMALLINT fScope, SQLUSMALLINT fNullable) {
  const SQLCHAR* texts[] = {szQualifier, szOwner, szTable};
  const SQLSMALLINT lengths[] = {cbQualifier, cbOwner, cbTable};
  const uint16_t options[3] = {fColType, fScope, fNullable};
  return runRowsCall(SQL_API_SQLSPECIALCOLUMNS, catalogSpecialColumns, texts, lengths, options);
}

SQLRETURN BaseStatement::SQLPrimaryKeys(SQLCHAR* szQualifier, SQLSMALLINT cbQualifier, SQLCHAR* szOwner,
                                        SQLSMALLINT cbOwner, SQLCHAR* szTable, SQLSMALLINT cbTable) {
  const SQLCHAR* texts[] = {szQualifier, szOwner, szTable};
  const SQLSMALLINT lengths[] = {cbQualifier, cbOwner, cbTable};
  return runRowsCall(SQL_API_SQLPRIMARYKEYS, catalogPrimaryKeys, texts, lengths, noOptions);
}

SQLRETURN BaseStatement::SQLForeignKeys(SQLCHAR* szPkQualifier, SQLSMALLINT cbPkQualifier, SQLCHAR* szPkOwner,
                                        SQLSMALLINT cbPkOwner, SQLCHAR* szPkTable, SQLSMALLINT cbPkTable,
                                        SQLCHAR* szFkQualifier, SQLSMALLINT cbFkQualifier, SQLCHAR* szFkOwner,
                                        SQLSMALLINT cbFkOwner, SQLCHAR* szFkTable, SQLSMALLINT cbFkTable) {
  const SQLCHAR* texts[] = {szPkQualifier, szPkOwner, szPkTable, szFkQualifier, szFkOwner, szFkTable};
  const SQLSMALLINT lengths[] = {cbPkQualifier, cbPkOwner, cbPkTable, cbFkQualifier, cbFkOwner, cbFkTable};
  return runRowsCall(SQL_API_SQLFOREIGNKEYS, catalogForeignKeys, texts, lengths, noOptions);
}

SQLRETURN BaseStatement::SQLProcedures(SQLCHAR* szQualifier, SQLSMALLINT cbQualifier, SQLCHAR* szOwner,
                                       SQLSMALLINT cbOwner, SQLCHAR* szProcName, SQLSMALLINT cbProcName) {
  const SQLCHAR* texts[] = {szQualifier, szOwner, szProcName};
  const SQLSMALLINT lengths[] = {cbQualifier, cbOwner, cbProcName};
  return runRowsCall(SQL_API_SQLPROCEDURES, catalogProcedures, texts, lengths, noOptions);
}

SQLRETURN BaseStatement::SQLProcedureColumns(SQLCHAR* szQualifier, SQLSMALLINT cbQualifier, SQLCHAR* szOwner,
                                             SQLSMALLINT cbOwner, SQLCHAR* szProcName, SQLSMALLINT cbProcName,
                                             SQLCHAR* szColumn, SQLSMALLINT cbColumn) {
  const SQLCHAR* texts[] = {szQualifier, szOwner, szProcName, szColumn};
  const SQLSMALLINT lengths[] = {cbQualifier, cbOwner, cbProcName, cbColumn};
  return runRowsCall(SQL_API_SQLPROCEDURECOLUMNS, catalogProcedureColumns, texts, lengths, noOptions);
}

SQLRETURN BaseStatement::SQLTablePrivileges(SQLCHAR* szQualifier, SQLSMALLINT cbQualifier, SQLCHAR* szOwner,
                                            SQLSMALLINT cbOwner, SQLCHAR* szTable, SQLSMALLINT cbTable) {
  const SQLCHAR* texts[] = {szQualifier, szOwner, szTable};
  const SQLSMALLINT lengths[] = {cbQualifier, cbOwner, cbTable};
  return runRowsCall(SQL_API_SQLTABLEPRIVILEGES, catalogTablePrivileges, texts, lengths, noOptions);
}

SQLRETURN BaseStatement::SQLColumnPrivileges(SQLCHAR* szQualifier, SQLSMALLINT cbQualifier, SQLCHAR* szOwner,
                                             SQLSMALLINT cbOwner, SQLCHAR* szTable, SQLSMALLINT cbTable,
                                             SQLCHAR* szColumn, SQLSMALLINT cbColumn) {
  const SQLCHAR* texts[] = {szQualifier, szOwner, szTable, szColumn};
  const SQLSMALLINT lengths[] = {cbQualifier, cbOwner, cbTable, cbColumn};
  return runRowsCall(SQL_API_SQLCOLUMNPRIVILEGES, catalogColumnPrivileges, texts, lengths, noOptions);
}
