// The test driver's statements; see test_statement.h.
#include "drivers/test/test_statement.h"

#include "base/handles/base_error_list.h"
#include "base/results/base_field.h"
#include "base/handles/base_messages.h"
#include "base/statement/base_sql_string.h"
#include "drivers/test/test_message_ids.h"
#include "drivers/test/test_transactions.h"
#include "base/handles/base_out_string.h"
#include "util/containers/str_functions.h"

#include <cstring>

namespace {

struct Word {
  const char* word;
  int behaviour;
};

// The number after the first word of text ("RESULTS 3"), at most 100; 1
// when there is none.
uint32_t countAfterVerb(const BaseSqlString& sql) {
  const KvSubString verb = sql.getVerbToken();
  const unsigned char* p = verb.getText() + verb.getLength();
  const unsigned char* end = sql.getText() + sql.getLength();
  while (p < end && *p == ' ') ++p;
  uint32_t count = 0;
  while (p < end && *p >= '0' && *p <= '9' && count <= 100) count = count * 10 + uint32_t(*p++ - '0');
  if (count == 0) return 1;
  return count > 100 ? 100 : count;
}

}  // namespace

TestStatement::TestStatement(BaseConnection* connection) : BaseStatement(connection) {}

TestStatement::~TestStatement() { delete catalog_; }

KvStatus TestStatement::makeColumn() {
  if (allocArrays(1, arrayFields) != kvSuccess) return kvFailure;
  if (!fields_[0]) fields_[0] = allocFld();
  if (!fields_[0]) return kvFailure;
  fieldCount_ = 1;
  return kvSuccess;
}

KvStatus TestStatement::makeTableColumns() {
  uint16_t count = 0;
  const TestTableColumn* columns = testTableColumns(table_, &count);
  if (allocArrays(count, arrayFields) != kvSuccess) return kvFailure;
  for (uint16_t i = 0; i < count; ++i) {
    BaseField* field = fields_[i] ? fields_[i] : allocFld();
    if (!field) return kvFailure;
    fields_[i] = field;
    if (field->setText(&field->name, kvU(columns[i].name)) != kvSuccess) return kvFailure;
    field->sqlType = columns[i].sqlType;
    field->precision = columns[i].precision;
    field->scale = columns[i].scale;
    field->flags = columns[i].fieldFlags;
    field->nullable = i == 0 ? SQL_NO_NULLS : SQL_NULLABLE;
    field->searchable = SQL_SEARCHABLE;
    field->typeName = kvU(testCatalogTypeName(columns[i].sqlType));
  }
  fieldCount_ = count;
  return kvSuccess;
}

KvStatus TestStatement::prepareCompile(BaseSqlString* sql) {
  static const Word words[] = {
      {"RESULTS", resultSets},       {"COMMITS", countCommits}, {"ROLLBACKS", countRollbacks},
      {"BEGUN", countBegun},
  };
  deleteFields();
  if (TestItemsQuery::isFor(sql->getText(), sql->getLength())) {
    behaviour_ = items;
    if (items_.compile(sql->getText(), sql->getLength()) != kvSuccess) return kvFailure;
    if (items_.getKind() != TestItemsQuery::select) return kvSuccess;
    const uint16_t count = uint16_t(items_.selectList().size());
    if (allocArrays(count, arrayFields) != kvSuccess) return kvFailure;
    for (uint16_t i = 0; i < count; ++i) {
      if (!fields_[i]) fields_[i] = allocFld();
      if (!fields_[i]) return kvFailure;
    }
    return items_.describe(this, fields_, &fieldCount_);
  }
  switch (sql->getVerb()) {
    case sqlVerbSelect:
      behaviour_ = rowsNone;
      table_ = testTableOf(sql->getText(), sql->getLength(), &tableRows_);
      if (table_ == testTableAllTypes) tableRows_ = testAllTypesRows;
      if (table_ != testTableNone) return makeTableColumns();
      {
        int known = 0;
        if (prepareCatalogTable(*sql, &known) != kvSuccess) return kvFailure;
        if (known) return kvSuccess;
      }
      return makeColumn();
    case sqlVerbInsert:
    case sqlVerbUpdate:
    case sqlVerbDelete:
      behaviour_ = rowsOne;
      return kvSuccess;
    default:
      break;
  }
  const KvSubString verb = sql->getVerbToken();
  if (strEqualCi(verb.getText(), verb.getLength(), kvU("FAIL"), 4)) {
    KvString text;
    if (text.initialize(sql->getText(), sql->getLength()) != kvSuccess) return kvFailure;
    addOdbcError(stateSyntax, testMsgCannotRun) << text.getStr();
    return kvFailure;
  }
  behaviour_ = rowsUnknown;
  for (const Word& word : words) {
    if (!strEqualCi(verb.getText(), verb.getLength(), kvU(word.word), uint32_t(std::strlen(word.word)))) continue;
    behaviour_ = Behaviour(word.behaviour);
    break;
  }
  if (behaviour_ != resultSets) return kvSuccess;
  results_ = countAfterVerb(*sql);
  return makeColumn();
}

KvStatus TestStatement::executePreparedStmt() {
  currentRow_ = 0;
  if (behaviour_ == items) return items_.execute(testItemsOf(connection_), &itemsCount_);
  resultsLeft_ = behaviour_ == resultSets ? results_ - 1 : 0;
  return kvSuccess;
}

KvStatus TestStatement::moreResults(uint16_t* noMore) {
  *noMore = resultsLeft_ == 0;
  if (resultsLeft_) --resultsLeft_;
  return kvSuccess;
}

KvStatus TestStatement::fetchRow(uint16_t* endOfData) {
  if (catalog_) return fetchCatalogRow(endOfData);
  if (behaviour_ == items) {
    *endOfData = items_.nextRow() ? 0 : 1;
    return kvSuccess;
  }
  *endOfData = 1;
  if (table_ == testTableNone || currentRow_ >= tableRows_) return kvSuccess;
  ++currentRow_;
  *endOfData = 0;
  return kvSuccess;
}

KvStatus TestStatement::fetchRandomRow(uint32_t row, uint16_t* status) {
  *status = SQL_ROW_NOROW;
  if (table_ == testTableNone || row == 0 || row > tableRows_) return kvSuccess;
  currentRow_ = row;
  *status = SQL_ROW_SUCCESS;
  return kvSuccess;
}

// A row of ITEMS.
KvStatus TestStatement::getItemsData(uint16_t column, int16_t cType, BaseOutString* out) {
  const TestItemValue* value = items_.currentValue(column);
  if (!value) {
    addOdbcError(stateNotCapable);
    return kvFailure;
  }
  if (value->null) {
    out->setLength(SQL_NULL_DATA);
    return kvSuccess;
  }
  const uint16_t tableColumn = items_.selectList()[column - 1];
  const InternalType form = TestItemsQuery::columnForm(tableColumn);
  // Long values are handed over whole and cut by the framework.
  if (TestItemsQuery::columnSqlType(tableColumn) == SQL_LONGVARCHAR)
    return convertInternalToCHuge(column, cType, out, value->bytes.data(), int32_t(value->bytes.size()), form);
  return convertInternalToC(column, cType, out, value->bytes.data(), int32_t(value->bytes.size()), form);
}

KvStatus TestStatement::getData(uint16_t column, int16_t cType, BaseOutString* out) {
  if (catalog_) return getCatalogData(column, cType, out);
  if (behaviour_ == items) return getItemsData(column, cType, out);
  if (table_ == testTableNone || currentRow_ == 0 || column == 0 || column > fieldCount_) {
    addOdbcError(stateNotCapable);
    return kvFailure;
  }
  unsigned char scratch[32];
  const TestTableValue value = testTableValue(table_, currentRow_, column, scratch);
  if (!value.data) {
    out->setLength(SQL_NULL_DATA);
    return kvSuccess;
  }
  // Long values are handed over whole and cut by the framework.
  const int16_t sqlType = fields_[column - 1]->sqlType;
  if (sqlType == SQL_LONGVARCHAR || sqlType == SQL_LONGVARBINARY) {
    return convertInternalToCHuge(column, cType, out, value.data, value.length, value.form);
  }
  return convertInternalToC(column, cType, out, value.data, value.length, value.form);
}

KvStatus TestStatement::rowCount(int32_t* count) {
  const TestTransactions* transactions = testTransactionsOf(connection_);
  switch (behaviour_) {
    case rowsOne: *count = 1; break;
    case items: *count = itemsCount_; break;
    case countCommits: *count = transactions->committed; break;
    case countRollbacks: *count = transactions->rolledBack; break;
    case countBegun: *count = transactions->begun; break;
    default: *count = -1; break;
  }
  return kvSuccess;
}

BaseField* TestStatement::allocFld() { return new BaseField(); }

KvStatus TestStatement::bindParam(uint16_t parameter, void* value, int32_t length, int mode) {
  if (behaviour_ != items) return kvSuccess;
  return items_.bindValue(this, parameter, value, length, mode);
}

void TestStatement::unbindParams() { items_.forgetValues(); }

KvStatus TestStatement::setToAllocatedState(uint16_t) {
  delete catalog_;
  catalog_ = nullptr;
  table_ = testTableNone;
  tableRows_ = 0;
  currentRow_ = 0;
  behaviour_ = rowsUnknown;
  resultsLeft_ = 0;
  return kvSuccess;
}
