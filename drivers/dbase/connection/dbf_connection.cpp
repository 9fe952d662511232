// The dBASE connection: construction, messages, SQLGetInfo answers by
// dialect, the private options 1044 and 1045, the extension, and the
// engine's open-table and commit questions; see dbf_connection.h.
#include "drivers/dbase/connection/dbf_connection.h"

#include "base/handles/base_messages.h"
#include "drivers/dbase/dbase_message_ids.h"
#include "drivers/dbase/records/dbf_file_desc.h"
#include "drivers/dbase/table/dbf_shared_desc.h"
#include "flat/connection/flat_shared_desc.h"
#include "flat/sql/flat_ddl.h"
#include "util/os/bos.h"
#include "util/memory/ram.h"
#include "util/resource.h"
#include "util/util_message_ids.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

namespace {

const char rowIdName[] = "ROWID";
enum : uint16_t {
  infoPrivateRowIdName = 1012,
  infoPrivate1021 = 1021,
  infoPrivateMacFileInfo = 1027,
  macFileInfoEntryChars = 5,  // "FOXX,F+DB,...": four characters and a comma
};

// The driver's own rows, sorted by info type; the engine's follow.
const BaseInfoRow dbfRows[] = {
    KV_INFO_ASKED(SQL_DBMS_NAME),                // 17
    KV_INFO_ASKED(SQL_DBMS_VER),                 // 18
    KV_INFO_U16(SQL_MAX_COLUMN_NAME_LEN, 10),    // 30
    KV_INFO_ASKED(SQL_MAX_COLUMNS_IN_TABLE),     // 101
    KV_INFO_ASKED(SQL_MAX_INDEX_SIZE),           // 102
    KV_INFO_ASKED(SQL_MAX_ROW_SIZE),             // 104
    KV_INFO_TEXT(infoPrivateRowIdName, rowIdName),
    KV_INFO_U16(infoPrivate1021, 1),
    KV_INFO_ASKED(infoPrivateMacFileInfo),
};
const BaseInfoTable dbfInfo = {sizeof(dbfRows) / sizeof(dbfRows[0]), nullptr, dbfRows};

// Bits of the engine's flag word the dBASE driver sets: updates, deletes
// and inserts, index files, back-quoted table names, record counts from
// the shared table, blank character values read as NULL, and two bits the
// statement stages read.
const uint32_t engineBits = flatUpdateAllowed | flatDeleteAllowed | flatInsertAllowed | flatDriver10 |
                            flatIndexFiles | flatStripQuotes | flatSharedRecordCounts | flatCtor2000 |
                            flatBlankIsNull | flatDriver80000000;
static_assert((engineBits & flatConnFlags) == 0, "the driver leaves the connection's engine bits to the keys");

KvStatus answerText(const unsigned char* text, void** value, BaseInfoValType* kind) {
  unsigned char* copy = ramAllocStr(text);
  if (!copy) return kvFailure;
  *value = copy;
  *kind = infoText;
  return kvSuccess;
}

}  // namespace

DbfConnection::DbfConnection(BaseEnv* env) : FlatConnection(env) {
  addEngineFlags(engineBits);
  setLimits(0, 0, 0x7FFFFFFF);
  setInfoChain(&dbfInfo);
  useCreateType(dbfDbase5);
}

DbfConnection::~DbfConnection() { ramFree(macFileInfo_); }

const unsigned char* DbfConnection::getLogicalLetters() {
  // Loaded once from the string table; thread-safe by the language's rule
  // for local statics.
  static const struct Letters {
    unsigned char text[8] = {0};
    Letters() {
      if (dbfLoadString(strDbfLogicalLetters, text, sizeof(text)) != 4) std::memcpy(text, "FTNY", 5);
    }
  } letters;
  return letters.text;
}

void DbfConnection::getDllName(unsigned char* buffer, uint32_t size) {
  unsigned char name[bosNameBytes];
  name[0] = 0;
  if (bosGetModuleName(reinterpret_cast<const void*>(&dbfLoadString), name) != kvSuccess)
    KvErrorKeeper::clearLastError();
  if (size == 0) return;
  std::strncpy(kvC(buffer), kvC(name), size - 1);
  buffer[size - 1] = 0;
}

KvStatus DbfConnection::connectLogon() { return kvSuccess; }

short DbfConnection::getResourceStr(uint16_t id, unsigned char* buffer, uint32_t size) {
  return dbfLoadString(id, buffer, size);
}

void DbfConnection::getExt(unsigned char* buffer) { std::strcpy(kvC(buffer), extensions_[dbfExtTable][0] ? extensions_[dbfExtTable] : "DBF"); }

KvStatus DbfConnection::checkExt(const unsigned char* ext) {
  return ext && strcasecmp(kvC(ext), "DBF") == 0 ? kvSuccess : kvFailure;
}

int DbfConnection::setCreateType(const unsigned char* name) {
  uint32_t type = 0;
  if (!dbfFindDialect(name, &type)) return 0;
  useCreateType(type);
  return 1;
}

void DbfConnection::useCreateType(uint32_t type) {
  createType_ = type;
  const DbfDialect& dialect = getDialect();
  setTypeTable(dialect.typeTable, dialect.typeCount);
}

KvStatus DbfConnection::getAskedForInfo(uint16_t type, void** value, BaseInfoValType* kind) {
  const DbfDialect& dialect = getDialect();
  switch (type) {
    case SQL_DBMS_NAME:
    case SQL_DBMS_VER: {
      unsigned char name[64];
      dbfLoadString(dialect.dbmsNameId, name, sizeof(name));
      if (type == SQL_DBMS_NAME) return answerText(name, value, kind);
      unsigned char text[96];
      std::strcpy(kvC(text), dialect.dbmsVersion);
      std::strcat(kvC(text), kvC(name));
      return answerText(text, value, kind);
    }
    case SQL_MAX_COLUMNS_IN_TABLE:
      *value = reinterpret_cast<void*>(uintptr_t(dialect.maxColumns));
      *kind = infoU16;
      return kvSuccess;
    case SQL_MAX_INDEX_SIZE:
      *value = reinterpret_cast<void*>(uintptr_t(dialect.maxIndexSize));
      *kind = infoU32;
      return kvSuccess;
    case SQL_MAX_ROW_SIZE:
      *value = reinterpret_cast<void*>(uintptr_t(dialect.maxRowSize));
      *kind = infoU32;
      return kvSuccess;
    case infoPrivateMacFileInfo: {
      // The four characters of the second entry ("F+DB" by default).
      unsigned char entry[5] = {0};
      const unsigned char* all = macFileInfo_ ? macFileInfo_ : kvU("");
      if (std::strlen(kvC(all)) >= macFileInfoEntryChars + 4)
        std::memcpy(entry, all + macFileInfoEntryChars, 4);
      return answerText(entry, value, kind);
    }
    case SQL_MAX_TABLE_NAME_LEN:
      return FlatConnection::getAskedForInfo(type, value, kind);
    default:
      addOdbcError(stateNotCapable);
      return kvFailure;
  }
}

KvStatus DbfConnection::getConnectOption(uint16_t option, void* value) {
  if (option == flatOptionSetupDialog) {
    if (value) *static_cast<SQLUINTEGER*>(value) = 1;
    return kvSuccess;
  }
  if (option == dbfOptionCreateType) {
    // The caller's buffer holds an option string (ODBC: at least
    // SQL_MAX_OPTION_STRING_LENGTH + 1 bytes); a name is at most 8.
    if (value) std::strcpy(static_cast<char*>(value), getDialect().name);
    return kvSuccess;
  }
  return FlatConnection::getConnectOption(option, value);
}

KvStatus DbfConnection::setConnectOption(uint16_t option, SQLULEN value) {
  if (option == dbfOptionCreateType) {
    if (!setCreateType(reinterpret_cast<const unsigned char*>(value))) {
      addOdbcError(stateArgumentValue);
      return kvFailure;
    }
    return kvSuccess;
  }
  return FlatConnection::setConnectOption(option, value);
}

SQLRETURN DbfConnection::SQLSetConnectOption(SQLUSMALLINT fOption, SQLULEN vParam) {
  if (fOption != dbfOptionCreateType || isConnected()) return FlatConnection::SQLSetConnectOption(fOption, vParam);
  BaseCall call(this, SQL_API_SQLSETCONNECTOPTION);
  if (!call.isOpen()) return call.getResult();
  uint32_t type = 0;
  if (!dbfFindDialect(reinterpret_cast<const unsigned char*>(vParam), &type)) {
    addOdbcError(stateArgumentValue);
    return call.exit(SQL_ERROR);
  }
  pendingCreateType_ = type;
  return call.exit(SQL_SUCCESS);
}

KvStatus DbfConnection::prepareToCommit(FlatSharedDesc* shared, FlatFileDesc** writer) {
  *writer = nullptr;
  auto* reader = new DbfFileDesc(this);
  if (!reader) {
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  if (reader->attachForCommit(static_cast<DbfSharedDesc*>(shared)) != kvSuccess) {
    delete reader;
    return kvFailure;
  }
  *writer = reader;
  return kvSuccess;
}

DbfSharedDesc* DbfConnection::findSharedTable(const unsigned char* path) {
  for (FlatSharedDesc* shared = getSharedTables(); shared; shared = shared->getNext()) {
    auto* table = static_cast<DbfSharedDesc*>(shared);
    if (!(table->getTableFlags() & DbfSharedDesc::tableValid) || !shared->getName()) continue;
    if (std::strcmp(kvC(shared->getName()), kvC(path)) == 0 || bosIsSameFile(table->getDataHandle(), path))
      return table;
  }
  return nullptr;
}

uint16_t DbfConnection::isFileOpen(const unsigned char* name) {
  // Index files are not opened yet, so a table's own file is all there is
  // to compare.
  FlatTableListLock lock(this);
  uint16_t open = 0;
  FlatSharedDesc* shared = getSharedTables();
  while (shared && !open) {
    FlatSharedDesc* next = shared->getNext();
    auto* table = static_cast<DbfSharedDesc*>(shared);
    if (table->isIdle()) {
      removeSharedDesc(table, 1, 1);
    } else if ((table->getTableFlags() & DbfSharedDesc::tableValid) && shared->getName() &&
               (std::strcmp(kvC(shared->getName()), kvC(name)) == 0 || bosIsSameFile(table->getDataHandle(), name))) {
      open = 1;
    }
    shared = next;
  }
  return open;
}

KvStatus DbfConnection::createAliases(FlatDataTypeParser* parser) {
  const DbfDialect& dialect = getDialect();
  parser->addCandidate("CHARACTER", dbfRowOfLetter(dialect, 'C'));
  parser->addCandidate("NUMBER", dbfRowOfLetter(dialect, 'N'));
  return kvSuccess;
}

int dbfFilesMatching(const unsigned char* path, unsigned char (*names)[bosNameBytes]) {
  unsigned char buffer[bosPathBytes];
  if (std::strlen(kvC(path)) >= sizeof(buffer)) return 0;
  std::strcpy(kvC(buffer), kvC(path));
  void* search = nullptr;
  int matches = 0;
  // Each call reads on in the directory, which is finite.
  while (matches < 2) {
    if (bosFindFiles(&search, buffer) != kvSuccess) {
      KvErrorKeeper::clearLastError();
      break;
    }
    if (!search) break;
    if (names) std::strcpy(kvC(names[matches]), kvC(buffer));
    ++matches;
  }
  bosFindClose(&search);
  return matches;
}

KvStatus DbfConnection::refuseAmbiguousTable(const unsigned char* name) {
  const unsigned char* last = name;
  for (const unsigned char* p = name; *p; ++p)
    if (*p == '/' || *p == '\\') last = p + 1;
  // A name with an extension is the file's own; one with pattern
  // characters cannot be looked for as a pattern.
  if (std::strpbrk(kvC(last), ".*?")) return kvSuccess;
  unsigned char path[bosPathBytes];
  if (getTableFullPath(name, path) != kvSuccess) return kvFailure;
  unsigned char names[2][bosNameBytes];
  if (dbfFilesMatching(path, names) < 2) return kvSuccess;
  KvError& error = kvAddUtilityError(kvMsgCannotOpenFile) << path;
  if (!error.isStatic()) {
    char reason[2 * bosNameBytes + 64];
    std::snprintf(reason, sizeof(reason), " The name matches both '%s' and '%s', which differ only in case.",
                  kvC(names[0]), kvC(names[1]));
    error.appendText(kvU(reason));
  }
  return kvFailure;
}
