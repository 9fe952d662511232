// The engine's connection: construction, the framework operations it fills
// in (messages, options, transactions' start) and the driver operations'
// engine versions; see flat_connection.h.
#include "flat/connection/flat_connection.h"

#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "base/statement/base_statement.h"
#include "flat/connection/flat_shared_desc.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "util/files/block_cache.h"
#include "util/os/bos.h"
#include "util/memory/ram.h"

#include <cstring>
#include <initializer_list>

namespace {

// Framework bits every file driver's connection has: default parameter
// values are the engine's, long data comes in pieces, positioned UPDATE and
// DELETE and FOR UPDATE OF are the engine's, and a table-name argument is
// cut at its last "."; login time-outs and asynchronous execution are not
// offered.
const uint32_t frameworkBitsSet = BaseConnection::flagDriverTakesParams | BaseConnection::flagLongDataInPieces |
                                  BaseConnection::flagForUpdateOf | BaseConnection::flagPositionedUpdate |
                                  BaseConnection::flagPositionedDelete | BaseConnection::flagPatternNoCase |
                                  BaseConnection::flagTableNameCut2;
const uint32_t frameworkBitsCleared =
    BaseConnection::flagLoginTimeout | BaseConnection::flagAsyncEnable | BaseConnection::flagQueryTimeout;
static_assert(((frameworkBitsSet | frameworkBitsCleared) & ~uint32_t(BaseConnection::capabilityFlags)) == 0,
              "the engine's constructor touches capability flags only");

const uint16_t parseTable[] = {0, 3, '#', 3, '*'};

}  // namespace

FlatConnection::FlatConnection(BaseEnv* env) : BaseConnection(env) {
  addFlags(frameworkBitsSet);
  clearFlags(frameworkBitsCleared);
}

FlatConnection::~FlatConnection() {
  // Statements left by the application go first: their readers release
  // their tables through this connection.
  while (KvNode* node = statements_.peekFirst()) delete static_cast<BaseStatement*>(node);
  // Tables a disconnect did not close (no disconnect came) close now.
  while (FlatSharedDesc* shared = sharedTables_) {
    sharedTables_ = shared->getNext();
    delete shared;
  }
  if (findState_) bosFindClose(&findState_);
  ramFree(findBuffer_);
  ramFree(databaseDirectory_);
  if (blockCache_) bvmTerm(blockCache_);
  for (KvSemaphore** holder : {&longValueLock_, &tableListLock_}) {
    KvSemaphore* lock = __atomic_load_n(holder, __ATOMIC_ACQUIRE);
    if (lock && lock != reinterpret_cast<KvSemaphore*>(1)) delete lock;
  }
}

const uint16_t* FlatConnection::getParseTable() { return parseTable; }

KvStatus FlatConnection::setDatabaseDirectory(const unsigned char* directory) {
  unsigned char* copy = directory ? ramAllocStr(directory) : nullptr;
  if (directory && !copy) return kvFailure;
  ramFree(databaseDirectory_);
  databaseDirectory_ = copy;
  return kvSuccess;
}

// ---------------------------------------------------------------- framework operations

KvStatus FlatConnection::connectLogonDialogStart(SQLHWND, SQLUSMALLINT, KvValueParser*) { return finishConnect(); }

short FlatConnection::getDriverResourceStr(uint16_t id, unsigned char* buffer, uint32_t size) {
  if ((id >= flatFirstMessage && id <= flatLastMessage) || (id >= strCreateLength && id <= strCreatePrecisionScale))
    return flatLoadString(id, buffer, size);
  return getResourceStr(id, buffer, size);
}

KvStatus FlatConnection::startTransaction() {
  addFlags(flagTransaction);
  clearEngineFlags(flatWriteDirectly);
  return kvSuccess;
}

KvStatus FlatConnection::getAskedForInfo(uint16_t type, void** value, BaseInfoValType* kind) {
  if (type == SQL_MAX_TABLE_NAME_LEN) {
    // A table is one file: its name and ".ext" share one file-name
    // component of at most NAME_MAX bytes.
    unsigned char ext[bosNameBytes];
    ext[0] = 0;
    getExt(ext);
    size_t extBytes = ext[0] ? std::strlen(kvC(ext)) + 1 : 0;
    *value = reinterpret_cast<void*>(uintptr_t(bosNameBytes - 1 - extBytes));
    *kind = infoU16;
    return kvSuccess;
  }
  return BaseConnection::getAskedForInfo(type, value, kind);
}

KvStatus FlatConnection::getConnectOption(uint16_t option, void* value) {
  if (option == SQL_CURRENT_QUALIFIER) {
    // The caller's buffer holds a path (bosPathBytes); the Driver Manager
    // passes one of at least SQL_MAX_OPTION_STRING_LENGTH + 1.
    auto* out = static_cast<unsigned char*>(value);
    if (out) {
      const unsigned char* directory = databaseDirectory_ ? databaseDirectory_ : kvU("");
      size_t length = std::strlen(kvC(directory));
      if (length > bosPathBytes - 1) length = bosPathBytes - 1;
      std::memcpy(out, directory, length);
      out[length] = 0;
    }
    return kvSuccess;
  }
  if (option == flatOptionSetupDialog) {
    if (value) *static_cast<SQLUINTEGER*>(value) = 0;
    return kvSuccess;
  }
  return BaseConnection::getConnectOption(option, value);
}

KvStatus FlatConnection::setConnectOption(uint16_t option, SQLULEN value) {
  switch (option) {
    case SQL_ACCESS_MODE:
      if (value == SQL_MODE_READ_ONLY) addEngineFlags(flatReadOnly);
      else clearEngineFlags(flatReadOnly);
      break;
    case SQL_AUTOCOMMIT:
      // Manual-commit mode sends changes to the change log; the framework's
      // transaction mark opens with the first change logged.
      if (value) {
        clearFlags(flagTransaction);
        addEngineFlags(flatWriteDirectly);
      } else {
        clearEngineFlags(flatWriteDirectly);
      }
      break;
    case SQL_TRANSLATE_DLL:
    case SQL_TRANSLATE_OPTION:
      addOdbcError(stateNotCapable);
      return kvFailure;
    case SQL_CURRENT_QUALIFIER: {
      const auto* directory = reinterpret_cast<const unsigned char*>(value);
      if (setDatabaseDirectory(directory) != kvSuccess) return kvFailure;
      return changeDatabase(directory);
    }
    case flatOptionSetupDialog:
      bringSetupDialog(uint32_t(value));
      return kvSuccess;
    default:
      break;
  }
  return BaseConnection::setConnectOption(option, value);
}

// ---------------------------------------------------------------- driver operations' engine versions

KvStatus FlatConnection::prepareToCommit(FlatSharedDesc*, FlatFileDesc** writer) {
  *writer = nullptr;
  addOdbcError(stateNotCapable);
  return kvFailure;
}

short FlatConnection::getResourceStr(uint16_t, unsigned char* buffer, uint32_t size) {
  if (size) buffer[0] = 0;
  return 0;
}

KvStatus FlatConnection::drvrSetToAllocatedState() { return kvSuccess; }

void FlatConnection::getExt(unsigned char*) {}

KvStatus FlatConnection::checkExt(const unsigned char*) { return kvFailure; }

KvStatus FlatConnection::getQualifier(unsigned char** out, uint16_t wanted) {
  *out = nullptr;
  if (!wanted || !databaseDirectory_) return kvSuccess;
  *out = ramAllocStr(databaseDirectory_);
  return *out ? kvSuccess : kvFailure;
}

KvStatus FlatConnection::getView(unsigned char** name, const unsigned char*, const unsigned char*, uint16_t) {
  *name = nullptr;
  return kvSuccess;
}
KvStatus FlatConnection::getSystemTable(unsigned char** name, const unsigned char*, const unsigned char*,
                                        uint16_t) {
  *name = nullptr;
  return kvSuccess;
}
KvStatus FlatConnection::getAlias(unsigned char** name, const unsigned char*, const unsigned char*, uint16_t) {
  *name = nullptr;
  return kvSuccess;
}
KvStatus FlatConnection::getSynonym(unsigned char** name, const unsigned char*, const unsigned char*, uint16_t) {
  *name = nullptr;
  return kvSuccess;
}
KvStatus FlatConnection::getOwner(unsigned char** name, const unsigned char*, uint16_t) {
  *name = nullptr;
  return kvSuccess;
}

KvStatus FlatConnection::changeDatabase(const unsigned char*) { return kvSuccess; }
KvStatus FlatConnection::createAliases(FlatDataTypeParser*) { return kvSuccess; }
void FlatConnection::bringSetupDialog(uint32_t) {}
