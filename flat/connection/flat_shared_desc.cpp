// Shared tables and their columns: construction into the connection's
// list, names, and the engine versions of the driver operations; see
// flat_shared_desc.h.
#include "flat/connection/flat_shared_desc.h"

#include "flat/connection/flat_changes.h"
#include "flat/connection/flat_connection.h"
#include "flat/connection/flat_file_desc.h"
#include "flat/query/flat_index_desc.h"
#include "util/os/bos.h"
#include "util/memory/ram.h"

#include <cstring>

namespace {

KvStatus replaceText(unsigned char** field, const unsigned char* text) {
  unsigned char* copy = text ? ramAllocStr(text) : nullptr;
  if (text && !copy) return kvFailure;
  ramFree(*field);
  *field = copy;
  return kvSuccess;
}

void deleteLock(KvSemaphore** holder) {
  KvSemaphore* lock = __atomic_load_n(holder, __ATOMIC_ACQUIRE);
  if (lock && lock != reinterpret_cast<KvSemaphore*>(1)) delete lock;
}

}  // namespace

// ---------------------------------------------------------------- FlatSharedField

FlatSharedField::~FlatSharedField() {
  ramFree(name_);
  ramFree(typeName_);
}
int16_t FlatSharedField::getFlatFieldType() { return 0; }
uint16_t FlatSharedField::getAttributes() { return 0; }
int16_t FlatSharedField::isSearchable() { return 0; }
int16_t FlatSharedField::isUpdatable() { return 0; }
KvStatus FlatSharedField::setName(const unsigned char* name) { return replaceText(&name_, name); }
KvStatus FlatSharedField::setTypeName(const unsigned char* typeName) { return replaceText(&typeName_, typeName); }

// ---------------------------------------------------------------- FlatSharedDesc

FlatSharedDesc::FlatSharedDesc(FlatConnection* connection, FlatFileDesc* reader) : connection_(connection) {
  columns_.setOwnsObjects(true);
  tableId_ = connection->linkSharedDesc(this);
  if (reader) reader->setShared(this);
  if (connection->getEngineFlags() & flatOem) flags_ |= flagOem;
}

FlatSharedDesc::~FlatSharedDesc() {
  delete changes_;
  delete indexes_;
  ramFree(name_);
  ramFree(baseName_);
  ramFree(qualifier_);
  deleteLock(&changeLogLock_);
  deleteLock(&tableLock_);
}

KvStatus FlatSharedDesc::setRecordCnt() { return kvSuccess; }
KvStatus FlatSharedDesc::updateDir() { return kvSuccess; }
KvStatus FlatSharedDesc::mangleRids() { return kvSuccess; }
FlatRidCompare FlatSharedDesc::getCompFunc() { return nullptr; }

KvStatus FlatSharedDesc::setIdentifiers(const unsigned char* name) {
  size_t length = std::strlen(kvC(name));
  unsigned char directory[bosPathBytes];
  unsigned char base[bosNameBytes];
  unsigned char ext[bosNameBytes];
  if (length >= sizeof(directory)) {
    length = sizeof(directory) - 1;
  }
  std::memcpy(directory, name, length);
  directory[length] = 0;
  if (bosParseName(directory, base, ext, 1) != kvSuccess) return kvFailure;
  if (replaceText(&name_, name) != kvSuccess || replaceText(&baseName_, base) != kvSuccess) return kvFailure;
  return setQualifier(directory);
}

KvStatus FlatSharedDesc::setQualifier(const unsigned char* path) {
  if (replaceText(&qualifier_, path) != kvSuccess) return kvFailure;
  uint32_t length = kvTextLength(qualifier_);
  if (length > 1 && qualifier_[length - 1] == '/') qualifier_[length - 1] = 0;
  return kvSuccess;
}

KvStatus FlatSharedDesc::addColumn(FlatSharedField* field) {
  if (!field) return kvFailure;
  if (columns_.add(field) != kvSuccess) {
    delete field;
    return kvFailure;
  }
  return kvSuccess;
}
