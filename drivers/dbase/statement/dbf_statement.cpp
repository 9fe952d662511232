// The dBASE statement and query descriptor; see dbf_statement.h.
#include "drivers/dbase/statement/dbf_statement.h"

#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "drivers/dbase/connection/dbf_connection.h"
#include "drivers/dbase/records/dbf_file_desc.h"
#include "drivers/dbase/statement/dbf_create.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "flat/sql/flat_sql_token.h"
#include "util/os/bos.h"
#include "util/charsets/charset.h"
#include "util/memory/ram.h"

#include <cstring>

// ---------------------------------------------------------------- DbfSqlDesc

DbfSqlDesc::DbfSqlDesc(FlatStatement* statement) : FlatSqlDesc(statement) {
  setAnsiCompare(connection()->isAnsiCompare());
}

void DbfSqlDesc::setAnsiCompare(int ansi) {
  ansiCompare_ = ansi;
  if (ansi) addFlags(flagNullAware);
  else clearFlags(flagNullAware);
}

DbfSqlDesc::~DbfSqlDesc() = default;

DbfConnection* DbfSqlDesc::connection() const {
  return static_cast<DbfConnection*>(statement_->getFlatConnection());
}

KvStatus DbfSqlDesc::parseTableName(const unsigned char** position, FlatFileDesc* table, unsigned char** name) {
  *name = nullptr;
  unsigned char* copy = nullptr;
  if (flatReadName(position, &copy) != kvSuccess) return kvFailure;
  if (!copy) {
    addFlatSyntaxError(msgMissingTableName);
    return kvFailure;
  }
  uint32_t behind = 0;
  KvStatus status = connection()->flatStripEngrave(copy);
  if (status == kvSuccess) status = dbfParseTableOptions(connection(), *position, &behind, &options_);
  if (status == kvSuccess) status = connection()->refuseAmbiguousTable(copy);
  if (status == kvSuccess) {
    options_.tableName = kvC(copy);
    if (options_.compatibility >= 0) setAnsiCompare(options_.compatibility);
  }
  if (status == kvSuccess && packQuery_) {
    unsigned char path[bosPathBytes];
    status = connection()->getTableFullPath(copy, path);
    if (status == kvSuccess && connection()->isFileOpen(path)) {
      addFlatError(stateGeneral, msgCannotPackInUse);
      status = kvFailure;
    }
  }
  if (status == kvSuccess && table) status = dbfApplyTableOptions(options_, static_cast<DbfFileDesc*>(table));
  if (status != kvSuccess) {
    ramFree(copy);
    return kvFailure;
  }
  *position += behind;
  *name = copy;
  return kvSuccess;
}

// ---------------------------------------------------------------- DbfStatement

DbfStatement::DbfStatement(FlatConnection* connection) : FlatStatement(connection) {}

DbfStatement::~DbfStatement() = default;

KvStatus DbfStatement::getStmtOption(uint16_t option, void* value) {
  if (option != dbfOptionLastRecord) return FlatStatement::getStmtOption(option, value);
  double record = 0;
  FlatSqlDesc* query = getHeadDescriptor() ? getHeadDescriptor()->getSqlDesc() : nullptr;
  FlatFileDesc* reader = query ? query->getFirstTable() : nullptr;
  if (reader && reader->getShared())
    record = static_cast<DbfSharedDesc*>(reader->getShared())->getLastWrittenRecord();
  if (value) std::memcpy(value, &record, sizeof(record));
  return kvSuccess;
}

KvStatus DbfStatement::allocFileDesc(FlatFileDesc** out) {
  *out = new DbfFileDesc(static_cast<DbfConnection*>(getFlatConnection()));
  if (!*out) {
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  return kvSuccess;
}

FlatSqlDesc* DbfStatement::allocSqlDesc() {
  auto* query = new DbfSqlDesc(this);
  if (!query) KvErrorKeeper::addMemoryError();
  return query;
}

FlatDescriptor* DbfStatement::allocCreateDesc() {
  auto* create = new DbfCreateDesc(this);
  if (!create) KvErrorKeeper::addMemoryError();
  return create;
}

FlatDescriptor* DbfStatement::allocDropTableDesc() {
  auto* drop = new DbfDropTableDesc(this);
  if (!drop) KvErrorKeeper::addMemoryError();
  return drop;
}

KvStatus DbfStatement::isOptionList(const unsigned char* position, uint16_t* isList) {
  *isList = uint16_t(dbfIsOptionList(position));
  return kvSuccess;
}

FlatDescriptor* DbfStatement::allocSpecialStmt(const unsigned char* text) {
  // The first word, and the second after VERIFY.
  auto word = [](const unsigned char** at, unsigned char* out, size_t size) {
    while (**at && kvCharIsSpace(**at)) ++*at;
    size_t n = 0;
    while (**at && !kvCharIsSpace(**at) && n + 1 < size) out[n++] = kvToUpper(*(*at)++);
    out[n] = 0;
  };
  const unsigned char* at = text;
  unsigned char first[16], second[16];
  word(&at, first, sizeof(first));
  word(&at, second, sizeof(second));
  if (std::strcmp(kvC(first), "PACK") == 0 ||
      (std::strcmp(kvC(first), "VERIFY") == 0 && std::strcmp(kvC(second), "INDEX") == 0)) {
    // Recognised: PACK and VERIFY INDEX are carried out once the driver
    // rewrites tables and reads index files.
    addOdbcError(stateNotCapable);
    return nullptr;
  }
  addFlatSyntaxError(msgUnknownStatement);
  return nullptr;
}
