// SQLTables: its modes, its table-type mask and its core; see
// base_catalog_tables.h. Steps of the core: 1 the driver's executeTables,
// 2 reading its rows.
#include "base/catalog/base_catalog_tables.h"

#include "base/handles/base_messages.h"
#include "base/handles/base_out_string.h"
#include "base/statement/base_statement.h"
#include "util/memory/ram.h"
#include "util/containers/scanner.h"

#include <cstring>

#define KV_COUNT(table) uint16_t(sizeof(table) / sizeof((table)[0]))

namespace {

const CatalogColumnDesc tablesColumns[] = {
    {"TABLE_QUALIFIER", SQL_VARCHAR, SQL_NULLABLE, 128}, {"TABLE_OWNER", SQL_VARCHAR, SQL_NULLABLE, 128},
    {"TABLE_NAME", SQL_VARCHAR, SQL_NULLABLE, 128},      {"TABLE_TYPE", SQL_VARCHAR, SQL_NULLABLE, 128},
    {"REMARKS", SQL_VARCHAR, SQL_NULLABLE, 254},
};
const CatalogValueRule tablesRules[] = {ruleStored, ruleStored, ruleStored, ruleStored, ruleStored};
const CatalogSortKey tablesKeys[] = {
    {tablesType, keyBytes}, {tablesQualifier, keyIntl}, {tablesOwner, keyIntl}, {tablesName, keyIntl}};
const CatalogArgumentDesc tablesArguments[] = {
    {SQL_MAX_QUALIFIER_NAME_LEN, 1}, {SQL_MAX_OWNER_NAME_LEN, 1}, {SQL_MAX_TABLE_NAME_LEN, 1}};
const CatalogFamilyDesc tablesFamily = {
    catalogTables, KV_COUNT(tablesColumns), tablesColumns, tablesRules, KV_COUNT(tablesKeys), tablesKeys,
    KV_COUNT(tablesArguments), tablesArguments, 0, 0, nullptr, 0, 0, 0};

struct TypeName {
  uint32_t bit;
  const char* name;
};

// The seven ODBC table types, in the order their rows are made.
const TypeName typeNames[] = {
    {typeTable, "TABLE"},         {typeSystemTable, "SYSTEM TABLE"},
    {typeSynonym, "SYNONYM"},     {typeView, "VIEW"},
    {typeAlias, "ALIAS"},         {typeGlobalTemporary, "GLOBAL TEMPORARY"},
    {typeLocalTemporary, "LOCAL TEMPORARY"},
};

// The bit of a type name (0 for a type outside the seven).
uint32_t typeBit(const unsigned char* text, uint32_t length) {
  for (const TypeName& type : typeNames) {
    if (std::strlen(type.name) == length && std::memcmp(type.name, text, length) == 0) return type.bit;
  }
  return 0;
}

// An argument's length in bytes (SQL_NTS: zero-terminated).
uint32_t argumentLength(const SQLCHAR* text, SQLSMALLINT length) {
  if (!text) return 0;
  return length == SQL_NTS ? uint32_t(std::strlen(reinterpret_cast<const char*>(text)))
                           : length < 0 ? 0 : uint32_t(length);
}
bool isAnyString(const SQLCHAR* text, SQLSMALLINT length) {
  return text && argumentLength(text, length) == 1 && text[0] == '%' && (length == 1 || length == SQL_NTS);
}
bool isEmpty(const SQLCHAR* text, SQLSMALLINT length) {
  return text && (length == 0 || (length == SQL_NTS && text[0] == 0));
}

}  // namespace

const CatalogFamilyDesc& baseTablesFamily() { return tablesFamily; }

BaseTablesInfo::BaseTablesInfo(BaseStatement* statement) : BaseRowsCatalogInfo(statement, &tablesFamily) {}

BaseTablesInfo::~BaseTablesInfo() { ramFree(tableTypes_); }

CatalogRowInfo* BaseTablesInfo::makeRow() const { return new TablesRowInfo(family_); }

KvStatus BaseTablesInfo::setTableTypes(const unsigned char* text, uint32_t length) {
  ramFree(tableTypes_);
  tableTypes_ = nullptr;
  if (!text) return kvSuccess;
  tableTypes_ = ramAllocStr(text, length);
  return tableTypes_ ? kvSuccess : kvFailure;
}

void BaseTablesInfo::parseTableTypes(const unsigned char* text, uint32_t length) {
  // "%" stands for every type, as it would for any other argument.
  if (!text || (length == 1 && text[0] == '%')) {
    typeMask_ = typeAllNamed;
    return;
  }
  typeMask_ = 0;
  KvScanner scanner(text, length);
  KvToken token;
  for (;;) {
    scanner.getDelimitedToken(token, ',');
    if (token.getType() == kvTokenEnd) return;
    const unsigned char* item = token.getText();
    uint32_t bytes = token.getLength();
    if (bytes >= 2 && item[0] == '\'' && item[bytes - 1] == '\'') {
      ++item;
      bytes -= 2;
    }
    typeMask_ |= typeBit(item, bytes);
    scanner.getToken(token, kvSearchNormal);  // the comma
    if (token.getType() == kvTokenEnd) return;
  }
}

int BaseTablesInfo::passesSearch(const CatalogRowInfo& row) const {
  if (!matchPattern(row.getText(tablesOwner), pattern_[1], 0)) return 0;
  if (!matchPattern(row.getText(tablesName), pattern_[2], 1)) return 0;
  if (typeMask_ & (typeFromColumns | typeEveryType)) return 1;
  const unsigned char* type = row.getText(tablesType);
  const uint32_t bit = type ? typeBit(type, uint32_t(std::strlen(kvC(type)))) : 0;
  return bit == 0 || (typeMask_ & bit) != 0;
}

KvStatus BaseTablesInfo::addTypeRows() {
  // Only the seven type bits make rows: the internal-call and every-type
  // bits name no type.
  for (const TypeName& type : typeNames) {
    if (!(typeMask_ & type.bit)) continue;
    CatalogRowInfo* row = makeRow();
    if (!row) return kvFailure;
    if (row->setText(tablesType, kvU(type.name), uint32_t(std::strlen(type.name))) != kvSuccess) {
      delete row;
      return kvFailure;
    }
    if (appendRow(row) != kvSuccess) return kvFailure;
  }
  return kvSuccess;
}

// ---------------------------------------------------------------- core

KvStatus BaseStatement::tablesCore(BaseTablesInfo* info) {
  const uint32_t mode = info->getMode();
  if (info->getResumeStep() <= 1) {
    info->setResumeStep(1);
    const unsigned char* types = info->getTableTypes();
    BaseInString tableTypes(types, types ? SQL_NTS : 0);
    BaseInString none;
    if (executeTables(types ? &tableTypes : &none) != kvSuccess) return kvFailure;
    if (flags_ & flagAsync) return kvSuccess;
    cursorState_ = cursorOpen;
    info->setResumeStep(2);
  }
  if (mode == tablesListTypes && (info->getTypeMask() & typeAllNamed)) {
    if (info->addTypeRows() != kvSuccess) return kvFailure;
  } else {
    // Which columns each mode reads.
    const bool reads[6] = {false, mode == tablesSearch || mode == tablesListQualifiers,
                           mode == tablesSearch || mode == tablesListOwners, mode == tablesSearch,
                           mode == tablesSearch || mode == tablesListTypes, mode == tablesSearch};
    for (;;) {
      uint16_t endOfData = 0;
      if (fetchRow(&endOfData) != kvSuccess) return kvFailure;
      if (flags_ & flagAsync) return kvSuccess;
      if (endOfData) break;
      CatalogRowInfo* row = info->makeRow();
      if (!row) return kvFailure;
      for (uint16_t column = tablesQualifier; column <= tablesRemarks; ++column) {
        if (!reads[column]) continue;
        unsigned char* text = nullptr;
        const KvStatus status = getCatalogValue(column, &text);
        row->adoptText(column, text);
        if (status != kvSuccess) {
          delete row;
          return kvFailure;
        }
      }
      if (mode == tablesSearch && !info->passesSearch(*row)) {
        delete row;
        continue;
      }
      if (info->appendRow(row) != kvSuccess) return kvFailure;
    }
  }
  if (finishCatalogRows(info) != kvSuccess) return kvFailure;
  info->deleteDuplicates();
  return kvSuccess;
}

SQLRETURN BaseStatement::SQLTables(SQLCHAR* szQualifier, SQLSMALLINT cbQualifier, SQLCHAR* szOwner,
                                   SQLSMALLINT cbOwner, SQLCHAR* szTable, SQLSMALLINT cbTable, SQLCHAR* szTableType,
                                   SQLSMALLINT cbTableType) {
  BaseCall call(this, SQL_API_SQLTABLES);
  if (!call.isOpen()) return call.getResult();
  BaseCatalogInfo* resumed = nullptr;
  if (enterCatalogCall(catalogTables, &resumed) != kvSuccess) return call.exit(SQL_ERROR);
  BaseTablesInfo* info = static_cast<BaseTablesInfo*>(resumed);
  if (info) return leaveCatalogCall(&call, tablesCore(info));

  info = new BaseTablesInfo(this);
  if (!info) return leaveCatalogCall(&call, kvFailure);
  pushCatalogInfo(info);
  if (setCatalogColumns(tablesFamily.columnCount, tablesColumns) != kvSuccess) return leaveCatalogCall(&call, kvFailure);
  const bool qualifierEmpty = isEmpty(szQualifier, cbQualifier);
  const bool ownerEmpty = isEmpty(szOwner, cbOwner);
  const bool tableEmpty = isEmpty(szTable, cbTable);
  uint32_t mode = tablesSearch;
  uint16_t limit = 0;
  if (isAnyString(szQualifier, cbQualifier) && ownerEmpty && tableEmpty) {
    mode = tablesListQualifiers;
    limit = SQL_MAX_QUALIFIER_NAME_LEN;
  } else if (qualifierEmpty && isAnyString(szOwner, cbOwner) && tableEmpty) {
    mode = tablesListOwners;
    limit = SQL_MAX_OWNER_NAME_LEN;
  } else if (qualifierEmpty && ownerEmpty && tableEmpty && isAnyString(szTableType, cbTableType)) {
    mode = tablesListTypes;
  }
  info->setMode(mode);
  if (limit) {
    KvStatus status = kvSuccess;
    const uint32_t most = connection_->getInfoNumber(limit, &status);
    if (status != kvSuccess) return leaveCatalogCall(&call, kvFailure);
    if (most == 0) {
      addOdbcError(stateNotCapable);
      return leaveCatalogCall(&call, kvFailure);
    }
  }
  if (mode == tablesSearch) {
    const SQLCHAR* texts[] = {szQualifier, szOwner, szTable};
    const SQLSMALLINT lengths[] = {cbQualifier, cbOwner, cbTable};
    for (uint16_t i = 0; i < 3; ++i) {
      if (getCatalogArgument(texts[i], lengths[i], tablesArguments[i].infoType, info->plainSlot(i),
                             info->patternSlot(i)) != kvSuccess)
        return leaveCatalogCall(&call, kvFailure);
    }
    if (cbTableType < 0 && cbTableType != SQL_NTS && szTableType) {
      addOdbcError(stateStringLength);
      return leaveCatalogCall(&call, kvFailure);
    }
    const uint32_t typesLength = argumentLength(szTableType, cbTableType);
    info->parseTableTypes(szTableType, typesLength);
    if (info->setTableTypes(szTableType, typesLength) != kvSuccess) return leaveCatalogCall(&call, kvFailure);
  }
  return leaveCatalogCall(&call, tablesCore(info));
}
