// The test file driver's CREATE and DROP; see flattest_ddl.h.
#include "drivers/flattest/flattest_ddl.h"

#include "base/handles/base_messages.h"
#include "base/catalog/base_type_info.h"
#include "drivers/flattest/flattest_format.h"
#include "drivers/flattest/flattest_message_ids.h"
#include "flat/connection/flat_connection.h"
#include "flat/exec/flat_statement.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "util/os/bos.h"

#include <cstring>
#include <set>
#include <string>
#include <vector>
#include <strings.h>

namespace {

// The format's column types as the type list names them, and the letter
// of the column each makes (NUMERIC keeps its value as a double).
const BaseTypeRow typeRows[] = {
    {"CHAR", 0, SQL_CHAR, flatTestMaxWidth, "'", "'", strCreateLength, 1, 3, typeCaseSensitive, 0, 0},
    {"INTEGER", 0, SQL_INTEGER, 10, nullptr, nullptr, 0, 1, 2, 0, 0, 0},
    {"NUMERIC", 0, SQL_NUMERIC, 15, nullptr, nullptr, strCreatePrecisionScale, 1, 2, 0, 0, 15},
    {"DOUBLE", 0, SQL_DOUBLE, 15, nullptr, nullptr, 0, 1, 2, 0, 0, 0},
    {"BINARY", 0, SQL_BINARY, flatTestMaxWidth, nullptr, nullptr, strCreateLength, 1, 2, 0, 0, 0},
    {"LONG VARCHAR", 0, SQL_LONGVARCHAR, flatTestMaxWidth, "'", "'", strCreateMaxLength, 1, 0, typeCaseSensitive, 0,
     0},
    {"DATE", 0, SQL_DATE, 10, "{d '", "'}", 0, 1, 2, 0, 0, 0},
    {"BIT", 0, SQL_BIT, 1, nullptr, nullptr, 0, 1, 2, 0, 0, 0},
};
constexpr char typeLetters[] = "CIDDBLTY";
constexpr uint16_t typeCount = sizeof(typeRows) / sizeof(typeRows[0]);
static_assert(sizeof(typeLetters) - 1 == typeCount, "one letter a type row");

// The header of a table file, read for a change of one column's flags.
struct OpenTable {
  int file = 0;
  FlatTestLayout layout;
  ~OpenTable() {
    if (file) kvIgnoreStatus(bosFileClose(file));  // clean-up; nothing was written or the write reported
  }
};

// Opens the table's file alone (no other open of it anywhere) and reads
// its header.
KvStatus openAlone(FlatStatement* statement, const unsigned char* name, unsigned char* path, OpenTable* table) {
  FlatConnection* connection = statement->getFlatConnection();
  if (connection->getTableFullPath(name, path) != kvSuccess) return kvFailure;
  if (connection->isFileOpen(path)) {
    addFlatSyntaxError(msgIndexOpenTable) << path;
    return kvFailure;
  }
  if (bosFileOpen(path, bosOpenReadWrite | bosOpenExclusive, &table->file) != kvSuccess) {
    table->file = 0;
    return kvFailure;
  }
  std::vector<unsigned char> header(flatTestHeaderBytes + flatTestColumnBytes * flatTestMaxColumns);
  uint32_t read = 0;
  std::string reason;
  if (bosFileRead(table->file, 0, header.data(), uint32_t(header.size()), &read) != kvSuccess) return kvFailure;
  if (!flatTestParseHeader(header.data(), read, &table->layout, &reason)) {
    addOdbcError(stateGeneral, msgFlatTestBadFile) << path << reason.c_str();
    return kvFailure;
  }
  return kvSuccess;
}

int findColumn(const FlatTestLayout& layout, const unsigned char* name) {
  for (size_t i = 0; i < layout.columns.size(); ++i)
    if (strcasecmp(layout.columns[i].name.c_str(), reinterpret_cast<const char*>(name)) == 0) return int(i);
  return -1;
}

// Whether two live records hold the same value in column (NULLs differ
// from everything): a unique index over them could never be kept.
KvStatus hasDuplicateKeys(const OpenTable& table, int column, bool* duplicates) {
  *duplicates = false;
  const FlatTestLayout& layout = table.layout;
  const FlatTestColumn& key = layout.columns[size_t(column)];
  std::vector<unsigned char> record(layout.recordWidth);
  std::set<std::string> seen;
  for (uint32_t n = 1; n <= layout.recordCount; ++n) {
    uint32_t read = 0;
    const uint64_t offset = layout.headerBytes + uint64_t(n - 1) * layout.recordWidth;
    if (bosFileRead(table.file, int64_t(offset), record.data(), layout.recordWidth, &read) != kvSuccess)
      return kvFailure;
    if (read != layout.recordWidth) break;  // a short file holds no more records
    const unsigned char* at = record.data() + key.offset;
    if (record[0] == '*' || at[0]) continue;
    if (!seen.emplace(reinterpret_cast<const char*>(at + 1), key.size() - 1).second) {
      *duplicates = true;
      return kvSuccess;
    }
  }
  return kvSuccess;
}

// Makes a new table file that must not exist: the header is written to a
// file beside it, which then takes the name only if the name is still free,
// so a table another process made meanwhile is never truncated.
KvStatus createNewTable(const unsigned char* path, const std::vector<FlatTestColumn>& columns) {
  FlatTestLayout layout;
  layout.columns = columns;
  std::string reason;
  if (!flatTestCheckLayout(&layout, &reason)) {
    addOdbcError(stateGeneral, msgFlatTestBadFile) << path << reason.c_str();
    return kvFailure;
  }
  const std::vector<unsigned char> header = flatTestHeader(layout);
  unsigned char temp[bosPathBytes] = {};
  int file = 0;
  if (bosReplaceOpen(path, temp, &file) != kvSuccess) return kvFailure;
  if (bosFileWrite(file, 0, header.data(), uint32_t(header.size())) != kvSuccess || bosupdir(file) != kvSuccess) {
    bosReplaceAbort(file, temp);
    return kvFailure;
  }
  KvStatus status = bosFileClose(file);
  if (status == kvSuccess) status = bosrname(temp, path);
  if (status != kvSuccess) {
    kvIgnoreStatus(bosFileDelete(temp));  // clean-up; the first failure stands
    if (bosexist(path)) {
      KvErrorKeeper::clearLastError();
      addFlatError(stateTableExists, msgTableExists) << path;
    }
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus writeFlags(const OpenTable& table, int column, uint8_t flags) {
  return bosFileWrite(table.file, flatTestHeaderBytes + uint64_t(column) * flatTestColumnBytes + 33, &flags, 1);
}

}  // namespace

const BaseTypeRow* flatTestTypeRows(uint16_t* count) {
  *count = typeCount;
  return typeRows;
}

char flatTestTypeLetter(const BaseTypeRow& row) {
  const ptrdiff_t index = &row - typeRows;
  return index >= 0 && index < typeCount ? typeLetters[index] : 0;
}

// ---------------------------------------------------------------- CREATE TABLE

KvStatus FlatTestCreateDesc::canCreateColumnName(const unsigned char* name) {
  if (std::strlen(reinterpret_cast<const char*>(name)) >= flatTestNameBytes) {
    addFlatSyntaxError(msgDdlColumnNameTooLong) << name;
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus FlatTestCreateDesc::execute() {
  std::vector<FlatTestColumn> columns;
  for (uint16_t i = 0; i < getColumnCount(); ++i) {
    const FlatColumnDef* def = getColumn(i);
    const BaseTypeRow* type = getColumnType(i);
    FlatTestColumn column;
    column.name = reinterpret_cast<const char*>(def->name);
    column.type = type ? flatTestTypeLetter(*type) : 0;
    switch (column.type) {
      case 'C': case 'B': case 'L': column.width = def->width; break;
      case 'I': column.width = 4; break;
      case 'D': case 'T': column.width = 8; break;
      case 'Y': column.width = 1; break;
      default:
        addOdbcError(stateGeneral);
        return kvFailure;
    }
    columns.push_back(column);
  }
  // The file may have come since the statement was prepared.
  if (canCreateTableName(getTableName()) != kvSuccess) return kvFailure;
  unsigned char path[bosPathBytes];
  if (statement_->getFlatConnection()->getTableFullPath(getTableName(), path) != kvSuccess) return kvFailure;
  if (createNewTable(path, columns) != kvSuccess) return kvFailure;
  cleanUp();
  return kvSuccess;
}

// ---------------------------------------------------------------- CREATE INDEX

KvStatus FlatTestCrIndexDesc::canCreateIndexName(const unsigned char*) { return kvSuccess; }

// The column is looked up when the index is made; SQL_MAX_COLUMNS_IN_INDEX
// (1) has the parse refuse a second key column (3826).
KvStatus FlatTestCrIndexDesc::canCreateColumnNameInIndex(const unsigned char*) { return kvSuccess; }

KvStatus FlatTestCrIndexDesc::execute() {
  unsigned char path[bosPathBytes];
  OpenTable table;
  if (openAlone(statement_, getTableName(), path, &table) != kvSuccess) return kvFailure;
  const FlatKeyColumn* key = getKey(0);
  const int column = key ? findColumn(table.layout, key->name) : -1;
  if (column < 0) {
    addFlatSyntaxError(msgFieldNotFound) << (key ? key->name : getTableName());
    return kvFailure;
  }
  const FlatTestColumn& target = table.layout.columns[size_t(column)];
  if (target.flags & (flatTestIndexed | flatTestUnique | flatTestDescending)) {
    addFlatSyntaxError(msgIndexExists) << key->name;
    return kvFailure;
  }
  if (target.type == 'L') {
    addFlatSyntaxError(msgLongInExpression);
    return kvFailure;
  }
  uint8_t flags = flatTestIndexed;
  if (isUnique()) {
    bool duplicates = false;
    if (hasDuplicateKeys(table, column, &duplicates) != kvSuccess) return kvFailure;
    if (duplicates) {
      addFlatError(stateGeneral, msgDuplicateKey);
      return kvFailure;
    }
    flags |= flatTestUnique;
  }
  if (key->descending) flags |= flatTestDescending;
  if (writeFlags(table, column, flags) != kvSuccess) return kvFailure;
  cleanUp();
  return kvSuccess;
}

// ---------------------------------------------------------------- DROP INDEX

KvStatus FlatTestDropIndexDesc::canDropIndexName(const unsigned char*) { return kvSuccess; }

KvStatus FlatTestDropIndexDesc::execute() {
  unsigned char path[bosPathBytes];
  OpenTable table;
  if (openAlone(statement_, getQualifier(), path, &table) != kvSuccess) return kvFailure;
  const int column = findColumn(table.layout, getIndexName());
  if (column < 0 || !(table.layout.columns[size_t(column)].flags &
                      (flatTestIndexed | flatTestUnique | flatTestDescending))) {
    addOdbcError(stateGeneral, msgFlatTestNoIndex) << getIndexName();
    return kvFailure;
  }
  if (writeFlags(table, column, 0) != kvSuccess) return kvFailure;
  cleanUp();
  return kvSuccess;
}

// ---------------------------------------------------------------- DROP TABLE

KvStatus FlatTestDropTableDesc::execute() {
  // Another statement of the connection may have opened it since.
  if (canDropTableName(getTableName()) != kvSuccess) return kvFailure;
  unsigned char path[bosPathBytes];
  if (statement_->getFlatConnection()->getTableFullPath(getTableName(), path) != kvSuccess) return kvFailure;
  if (bosFileDelete(path) != kvSuccess) return kvFailure;
  cleanUp();
  return kvSuccess;
}
