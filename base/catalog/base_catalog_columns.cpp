// SQLColumns: the driver's columns, the framework's own search through
// SQLTables and "SELECT * FROM", and the two-level rows they make; see
// base_catalog_columns.h.
#include "base/catalog/base_catalog_columns.h"

#include "base/catalog/base_catalog_tables.h"
#include "base/results/base_field.h"
#include "base/handles/base_messages.h"
#include "base/handles/base_out_string.h"
#include "base/statement/base_sql_string.h"
#include "base/statement/base_statement.h"
#include "util/error_mark.h"
#include "util/containers/kv_string.h"
#include "util/memory/ram.h"
#include "util/containers/str_functions.h"

#include <cstring>
#include <utility>

namespace {

const CatalogColumnDesc columnsColumns[] = {
    {"TABLE_QUALIFIER", SQL_VARCHAR, SQL_NULLABLE, 128}, {"TABLE_OWNER", SQL_VARCHAR, SQL_NULLABLE, 128},
    {"TABLE_NAME", SQL_VARCHAR, SQL_NO_NULLS, 128},      {"COLUMN_NAME", SQL_VARCHAR, SQL_NO_NULLS, 128},
    {"DATA_TYPE", SQL_SMALLINT, SQL_NO_NULLS, 0},        {"TYPE_NAME", SQL_VARCHAR, SQL_NO_NULLS, 128},
    {"PRECISION", SQL_INTEGER, SQL_NULLABLE, 0},         {"LENGTH", SQL_INTEGER, SQL_NULLABLE, 0},
    {"SCALE", SQL_SMALLINT, SQL_NULLABLE, 0},            {"RADIX", SQL_SMALLINT, SQL_NULLABLE, 0},
    {"NULLABLE", SQL_SMALLINT, SQL_NO_NULLS, 0},         {"REMARKS", SQL_VARCHAR, SQL_NULLABLE, 254},
};
static_assert(sizeof(columnsColumns) / sizeof(columnsColumns[0]) == baseColumnsColumnCount, "twelve columns");

const uint16_t argumentLimits[4] = {SQL_MAX_QUALIFIER_NAME_LEN, SQL_MAX_OWNER_NAME_LEN, SQL_MAX_TABLE_NAME_LEN,
                                    SQL_MAX_COLUMN_NAME_LEN};

int sign(int value) { return value < 0 ? -1 : value > 0 ? 1 : 0; }

int compareName(const unsigned char* a, const unsigned char* b) {
  if (!a || !b) return int(a != nullptr) - int(b != nullptr);
  return sign(strCompareIntl(a, b));
}

bool sameText(const unsigned char* a, const unsigned char* b) {
  if (!a || !b) return a == b;
  return std::strcmp(kvC(a), kvC(b)) == 0;
}

bool holdsWildcard(const unsigned char* text) { return std::strpbrk(kvC(text), "%_") != nullptr; }

unsigned char* copyOf(const unsigned char* text) { return text ? ramAllocStr(text) : nullptr; }

// The first character of a text answer of SQLGetInfo (0 when none).
unsigned char infoCharacter(BaseConnection* connection, uint16_t type) {
  void* value = nullptr;
  BaseInfoValType kind = infoNotFound;
  unsigned owned = 0;
  if (connection->getInfo(type, &value, &kind, &owned) != kvSuccess) {
    KvErrorKeeper::clearLastError();
    return 0;
  }
  const unsigned char character = kind == infoText && value ? static_cast<unsigned char*>(value)[0] : 0;
  if (owned) ramFree(value);
  return character;
}

// "SELECT * FROM " and the table, with its owner quoted and its qualifier
// where the data source puts it.
KvStatus buildQuery(const BaseColumnsInfo& info, const ZizTableInfo& table, KvString* text) {
  const bool qualified = table.qualifier && table.qualifier[0] && info.separator;
  const unsigned char separator[2] = {info.separator, 0};
  const unsigned char quote[2] = {info.quote == ' ' ? static_cast<unsigned char>(0) : info.quote, 0};
  KvStatus status = text->concat(kvU("SELECT * FROM "));
  if (qualified && info.location == SQL_QL_START) {
    status = status == kvSuccess ? text->concat(table.qualifier) : status;
    status = status == kvSuccess ? text->concat(separator) : status;
  }
  if (table.owner && table.owner[0]) {
    status = status == kvSuccess ? text->concat(quote) : status;
    status = status == kvSuccess ? text->concat(table.owner) : status;
    status = status == kvSuccess ? text->concat(quote) : status;
    status = status == kvSuccess ? text->concat(kvU(".")) : status;
  }
  status = status == kvSuccess ? text->concat(table.name ? table.name : kvU("")) : status;
  if (qualified && info.location == SQL_QL_END) {
    status = status == kvSuccess ? text->concat(separator) : status;
    status = status == kvSuccess ? text->concat(table.qualifier) : status;
  }
  return status;
}

}  // namespace

const CatalogColumnDesc* baseColumnsColumns() { return columnsColumns; }

// ---------------------------------------------------------------- rows

ZizColumnInfo::~ZizColumnInfo() {
  ramFree(columnName);
  ramFree(typeName);
  ramFree(remarks);
}

ZizTableInfo::ZizTableInfo() { columns.setOwnsObjects(true); }

ZizTableInfo::~ZizTableInfo() {
  ramFree(qualifier);
  ramFree(owner);
  ramFree(name);
}

int16_t ZizTableInfo::compare(const KvObject* other) const {
  const ZizTableInfo& that = *static_cast<const ZizTableInfo*>(other);
  int order = compareName(qualifier, that.qualifier);
  if (!order) order = compareName(owner, that.owner);
  if (!order) order = compareName(name, that.name);
  return int16_t(order);
}

bool ZizTableInfo::sameNames(const ZizTableInfo& other) const {
  return sameText(qualifier, other.qualifier) && sameText(owner, other.owner) && sameText(name, other.name);
}

// ---------------------------------------------------------------- result set

BaseColumnsInfo::BaseColumnsInfo(BaseStatement* statement) : BaseCatalogInfo(statement, catalogColumns) {}

BaseColumnsInfo::~BaseColumnsInfo() {
  for (uint16_t i = 0; i < 4; ++i) {
    ramFree(plain_[i]);
    ramFree(pattern_[i]);
  }
}

KvStatus BaseColumnsInfo::fetchNext(uint16_t* status) {
  *status = 1;
  uint16_t table = tableIndex_;
  uint16_t column = columnIndex_;
  if (currentRow_ == 0) {
    table = 0;
    column = 0;
  } else {
    ++column;
  }
  while (table < rows_.getCount() && column >= getTable(table)->columns.getCount()) {
    ++table;
    column = 0;
  }
  if (table >= rows_.getCount() || currentRow_ == 0xFFFF) return kvSuccess;
  tableIndex_ = table;
  columnIndex_ = column;
  ++currentRow_;
  *status = 0;
  return kvSuccess;
}

KvStatus BaseColumnsInfo::fetchRandom(uint32_t row, uint16_t* status) {
  *status = SQL_ROW_NOROW;
  if (row == 0) return kvSuccess;
  uint32_t first = 1;  // the number of the current table's first row
  for (uint16_t table = 0; table < rows_.getCount(); ++table) {
    const uint16_t count = getTable(table)->columns.getCount();
    if (row < first + count) {
      tableIndex_ = table;
      columnIndex_ = uint16_t(row - first);
      currentRow_ = uint16_t(row);
      *status = SQL_ROW_SUCCESS;
      return kvSuccess;
    }
    first += count;
    if (first > 0xFFFF) break;
  }
  return kvSuccess;
}

KvStatus BaseColumnsInfo::getColumnValue(uint16_t column, int16_t cType, BaseOutString* out) {
  const ZizTableInfo* table = currentRow_ && tableIndex_ < rows_.getCount() ? getTable(tableIndex_) : nullptr;
  const ZizColumnInfo* info = table && columnIndex_ < table->columns.getCount()
                                  ? static_cast<const ZizColumnInfo*>(table->columns[columnIndex_])
                                  : nullptr;
  auto text = [&](const unsigned char* value) {
    return putValue(column, cType, out, value, value ? uint32_t(std::strlen(kvC(value))) : 0, itChar);
  };
  auto small = [&](bool present, int32_t value) {
    const int16_t number = int16_t(value);
    return putValue(column, cType, out, present ? &number : nullptr, 2, itSShort);
  };
  if (!info) return text(nullptr);
  bool isNull = false;
  int32_t value = 0;
  switch (column) {
    case 1: return text(table->qualifier);
    case 2: return text(table->owner);
    case 3: return text(table->name);
    case 4: return text(info->columnName);
    case 5: return small(info->hasDataType, info->metrics.dataType);
    case 6: return text(info->typeName);
    case 7:
    case 8:
      value = baseCatalogMetric(column == 7 ? rulePrecision : ruleLength, info->metrics, &isNull);
      return putValue(column, cType, out, isNull ? nullptr : &value, 4, itSLong);
    case 9:
    case 10:
      value = baseCatalogMetric(column == 9 ? ruleScale : ruleRadix, info->metrics, &isNull);
      return small(!isNull, value);
    case 11: return small(info->hasNullable, info->nullable);
    case 12: return text(info->remarks);
    default: return text(nullptr);
  }
}

// The base operation: no column catalog of the driver's own, the
// framework's search answers.
KvStatus BaseStatement::executeColumns() {
  if (BaseCatalogInfo* info = findCatalogInfo(catalogColumns)) static_cast<BaseColumnsInfo*>(info)->setNoDriverRows();
  return kvSuccess;
}

// ---------------------------------------------------------------- core

namespace {

// One row of the driver's result into its table: the table's entry is the
// last one when the row names the same table, else a new one.
KvStatus readDriverColumn(BaseStatement* statement, BaseColumnsInfo* info) {
  ZizTableInfo probe;
  if (statement->getCatalogValue(1, &probe.qualifier, BaseStatement::catalogNameBytes) != kvSuccess ||
      statement->getCatalogValue(2, &probe.owner, BaseStatement::catalogNameBytes) != kvSuccess ||
      statement->getCatalogValue(3, &probe.name, BaseStatement::catalogNameBytes) != kvSuccess)
    return kvFailure;
  const uint16_t count = info->getTableCount();
  ZizTableInfo* table = count ? info->getTable(uint16_t(count - 1)) : nullptr;
  if (!table || !table->sameNames(probe)) {
    table = new ZizTableInfo;
    if (!table) return kvFailure;
    std::swap(table->qualifier, probe.qualifier);
    std::swap(table->owner, probe.owner);
    std::swap(table->name, probe.name);
    if (info->appendTable(table) != kvSuccess) return kvFailure;
  }
  ZizColumnInfo* column = new ZizColumnInfo;
  if (!column) return kvFailure;
  if (table->columns.add(column) != kvSuccess) {
    delete column;
    return kvFailure;
  }
  CatalogStoredMetrics& m = column->metrics;
  int32_t number = 0;
  int present = 0;
  struct NumberColumn {
    uint16_t column;
    bool* present;
    void (*store)(ZizColumnInfo*, int32_t);
  };
  const NumberColumn numbers[] = {
      {5, &column->hasDataType, [](ZizColumnInfo* c, int32_t v) { c->metrics.dataType = int16_t(v); }},
      {7, &m.hasPrecision, [](ZizColumnInfo* c, int32_t v) { c->metrics.precision = v; }},
      {8, &m.hasLength, [](ZizColumnInfo* c, int32_t v) { c->metrics.length = v; }},
      {9, &m.hasScale, [](ZizColumnInfo* c, int32_t v) { c->metrics.scale = int16_t(v); }},
      {10, &m.hasRadix, [](ZizColumnInfo* c, int32_t v) { c->metrics.radix = int16_t(v); }},
      {11, &column->hasNullable, [](ZizColumnInfo* c, int32_t v) { c->nullable = int16_t(v); }},
  };
  if (statement->getCatalogValue(4, &column->columnName) != kvSuccess ||
      statement->getCatalogValue(6, &column->typeName) != kvSuccess ||
      statement->getCatalogValue(12, &column->remarks) != kvSuccess)
    return kvFailure;
  for (const NumberColumn& entry : numbers) {
    if (statement->getCatalogValue(entry.column, &number, &present) != kvSuccess) return kvFailure;
    *entry.present = present != 0;
    if (present) entry.store(column, number);
  }
  return kvSuccess;
}

// The described result columns of a table's query become its columns.
KvStatus copyFieldColumns(BaseStatement* statement, ZizTableInfo* table) {
  for (uint16_t i = 0; i < statement->getFieldCount(); ++i) {
    const BaseField* field = statement->getFields()[i];
    if (!field || !field->name) continue;
    ZizColumnInfo* column = new ZizColumnInfo;
    if (!column) return kvFailure;
    if (table->columns.add(column) != kvSuccess) {
      delete column;
      return kvFailure;
    }
    column->columnName = ramAllocStr(field->name);
    column->typeName = copyOf(field->typeName);
    if (!column->columnName || (field->typeName && !column->typeName)) return kvFailure;
    column->hasDataType = true;
    column->metrics = {field->sqlType, int32_t(field->precision > 0x7FFFFFFF ? 0x7FFFFFFF : field->precision), 0,
                       field->scale, 0, true, true, true, true};
    column->nullable = field->nullable;
    column->hasNullable = true;
  }
  return kvSuccess;
}

}  // namespace

KvStatus BaseStatement::columnsCore(BaseColumnsInfo* info) {
  uint16_t step = info->getResumeStep();
  if (step <= columnsStepDriver) {
    info->setResumeStep(columnsStepDriver);
    if (executeColumns() != kvSuccess) return kvFailure;
    if (flags_ & flagAsync) return kvSuccess;
    cursorState_ = cursorOpen;
    step = columnsStepRows;
    info->setResumeStep(step);
  }
  if (step == columnsStepRows) {
    while (!info->hasNoDriverRows()) {
      uint16_t endOfData = 0;
      if (fetchRow(&endOfData) != kvSuccess) return kvFailure;
      if (flags_ & flagAsync) return kvSuccess;
      if (endOfData) break;
      if (readDriverColumn(this, info) != kvSuccess) return kvFailure;
    }
    if (setToAllocatedState(0) != kvSuccess) return kvFailure;
    info->driverTables = info->getTableCount();
    // A table the driver named outright is final; anything else the
    // framework looks for itself.
    const unsigned char* table = info->getArgument(2);
    const unsigned char* owner = info->getArgument(1);
    const bool named = info->driverTables > 0 && table && !holdsWildcard(table) &&
                       (connection_->getInfoNumber(SQL_MAX_OWNER_NAME_LEN) == 0 || (owner && !holdsWildcard(owner)));
    if (named) return finishCatalogRows(info);
    step = columnsStepTables;
    info->setResumeStep(step);
    BaseTablesInfo* tables = new BaseTablesInfo(this);
    if (!tables) return kvFailure;
    pushCatalogInfo(tables);
    tables->setTypeMask(typeFromColumns);
    if (setCatalogColumns(baseTablesFamily().columnCount, baseTablesFamily().columns) != kvSuccess) return kvFailure;
    for (uint16_t i = 0; i < 3; ++i) {
      if (tables->setArgument(i, info->getArgument(i), info->getPattern(i)) != kvSuccess) return kvFailure;
    }
  }
  if (step == columnsStepTables) {
    BaseTablesInfo* tables = static_cast<BaseTablesInfo*>(catalogInfo_);
    if (tablesCore(tables) != kvSuccess) return kvFailure;
    if (flags_ & flagAsync) return kvSuccess;
    for (uint16_t i = 0; i < tables->getRowCount(); ++i) {
      const CatalogRowInfo* row = tables->getRow(i);
      ZizTableInfo* table = new ZizTableInfo;
      if (!table) return kvFailure;
      table->qualifier = copyOf(row->getText(tablesQualifier));
      table->owner = copyOf(row->getText(tablesOwner));
      table->name = copyOf(row->getText(tablesName));
      // A table the driver reported already has its columns.
      bool reported = false;
      for (uint16_t j = 0; j < info->driverTables && !reported; ++j) reported = info->getTable(j)->sameNames(*table);
      if (reported) {
        delete table;
        continue;
      }
      if (info->appendTable(table) != kvSuccess) return kvFailure;
    }
    popCatalogInfo();
    info->quote = infoCharacter(connection_, SQL_IDENTIFIER_QUOTE_CHAR);
    info->separator = infoCharacter(connection_, SQL_QUALIFIER_NAME_SEPARATOR);
    info->location = uint16_t(connection_->getInfoNumber(SQL_QUALIFIER_LOCATION));
    info->nextTable = info->driverTables;
    step = columnsStepPrepare;
    info->setResumeStep(step);
  }
  // Each table of the search is described by preparing a query of it; the
  // statement's result state waits in an empty result set meanwhile.
  while (info->nextTable < info->getTableCount()) {
    ZizTableInfo* table = info->getTable(info->nextTable);
    if (!info->holderPushed) {
      BaseTablesInfo* holder = new BaseTablesInfo(this);
      if (!holder) return kvFailure;
      pushCatalogInfo(holder);
      info->holderPushed = true;
    }
    kind_ = stmtKindPrepared;
    const KvErrorMark mark;
    bool described = false;
    if (info->getResumeStep() == columnsStepPrepare) {
      KvString text;
      if (buildQuery(*info, *table, &text) != kvSuccess) return kvFailure;
      BaseSqlString sql(text.getStr(), int32_t(text.getLength()));
      if (prepareCompile(&sql) == kvSuccess) {
        if (flags_ & flagAsync) return kvSuccess;
        info->setResumeStep(columnsStepDescribe);
      }
    }
    if (info->getResumeStep() == columnsStepDescribe) {
      if (describeColumns() == kvSuccess) {
        if (flags_ & flagAsync) return kvSuccess;
        described = true;
      }
    }
    // A table that cannot be described is left out without a word.
    mark.dropNew();
    if (described && copyFieldColumns(this, table) != kvSuccess) return kvFailure;
    if (setToAllocatedState(0) != kvSuccess) return kvFailure;
    popCatalogInfo();
    info->holderPushed = false;
    kind_ = stmtKindCatalog;
    if (table->columns.getCount() == 0) {
      info->deleteTable(info->nextTable);
    } else {
      ++info->nextTable;
    }
    info->setResumeStep(columnsStepPrepare);
  }
  // The final filter over every table: owner and table name patterns, and
  // the column pattern over each table's columns.
  for (uint16_t i = info->getTableCount(); i > 0; --i) {
    ZizTableInfo* table = info->getTable(uint16_t(i - 1));
    if (info->matchPattern(table->owner, info->getPattern(1), 0) &&
        info->matchPattern(table->name, info->getPattern(2), 1)) {
      for (uint16_t j = table->columns.getCount(); j > 0; --j) {
        const ZizColumnInfo* column = static_cast<const ZizColumnInfo*>(table->columns[uint16_t(j - 1)]);
        if (!info->matchPattern(column->columnName, info->getPattern(3), 0)) table->columns.deleteAtIndex(uint16_t(j - 1));
      }
      if (table->columns.getCount()) continue;
    }
    info->deleteTable(uint16_t(i - 1));
  }
  return finishCatalogRows(info);
}

SQLRETURN BaseStatement::SQLColumns(SQLCHAR* szQualifier, SQLSMALLINT cbQualifier, SQLCHAR* szOwner,
                                    SQLSMALLINT cbOwner, SQLCHAR* szTable, SQLSMALLINT cbTable, SQLCHAR* szColumn,
                                    SQLSMALLINT cbColumn) {
  BaseCall call(this, SQL_API_SQLCOLUMNS);
  if (!call.isOpen()) return call.getResult();
  BaseCatalogInfo* resumed = nullptr;
  if (enterCatalogCall(catalogColumns, &resumed) != kvSuccess) return call.exit(SQL_ERROR);
  BaseColumnsInfo* info = static_cast<BaseColumnsInfo*>(resumed);
  if (!info) {
    info = new BaseColumnsInfo(this);
    if (!info) return leaveCatalogCall(&call, kvFailure);
    pushCatalogInfo(info);
    if (setCatalogColumns(baseColumnsColumnCount, columnsColumns) != kvSuccess) return leaveCatalogCall(&call, kvFailure);
    const SQLCHAR* texts[] = {szQualifier, szOwner, szTable, szColumn};
    const SQLSMALLINT lengths[] = {cbQualifier, cbOwner, cbTable, cbColumn};
    for (uint16_t i = 0; i < 4; ++i) {
      if (getCatalogArgument(texts[i], lengths[i], argumentLimits[i], info->plainSlot(i),
                             i == 0 ? nullptr : info->patternSlot(i)) != kvSuccess)
        return leaveCatalogCall(&call, kvFailure);
    }
  }
  return leaveCatalogCall(&call, columnsCore(info));
}
