// Readers of a table: the engine versions of the table contract's
// operations and the open that attaches a reader to its shared table; see
// flat_file_desc.h.
#include "flat/connection/flat_file_desc.h"

#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "flat/connection/flat_connection.h"
#include "flat/connection/flat_rid.h"
#include "flat/connection/flat_shared_desc.h"
#include "flat/exec/flat_statement.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "flat/query/flat_index_desc.h"
#include "flat/query/flat_sorted_lookup.h"
#include "util/memory/ram.h"
#include "util/files/shared_file.h"

#include <cstring>
#include <new>

namespace {

// The answer of an operation the driver must supply.
KvStatus driverMustSupply() {
  addOdbcError(stateNotCapable);
  return kvFailure;
}

}  // namespace

FlatFileField::~FlatFileField() = default;

FlatFileDesc::FlatFileDesc() { columns_.setOwnsObjects(true); }

FlatFileDesc::~FlatFileDesc() {
  delete optDesc_;
  optDesc_ = nullptr;
  delete lookup_;
  lookup_ = nullptr;
  delete rid_;
  rid_ = nullptr;
  clearPendingCursor();
  columns_.deleteContents();
  if (FlatSharedDesc* shared = shared_) {
    FlatConnection* connection = shared->getConnection();
    FlatTableListLock lock(connection);
    shared->setUserMask(shared->getUserMask() & ~userBit_);
    connection->removeSharedDesc(shared, 0, 1);
  }
  delete spool_;
  ramFree(tableName_);
  ramFree(correlationName_);
}

namespace {

KvStatus replaceCopy(unsigned char** slot, const unsigned char* text) {
  unsigned char* copy = nullptr;
  if (text && !(copy = ramAllocStr(text))) return kvFailure;
  ramFree(*slot);
  *slot = copy;
  return kvSuccess;
}

}  // namespace

KvStatus FlatFileDesc::setTableName(const unsigned char* name) { return replaceCopy(&tableName_, name); }
KvStatus FlatFileDesc::setCorrelationName(const unsigned char* name) {
  return replaceCopy(&correlationName_, name);
}

void FlatFileDesc::setLookup(FlatLookup* lookup) {
  if (lookup == lookup_) return;
  delete lookup_;
  lookup_ = lookup;
}

void FlatFileDesc::setOptDesc(FlatOptDesc* plan) {
  if (plan == optDesc_) return;
  delete optDesc_;
  optDesc_ = plan;
}

void FlatFileDesc::setRid(FlatRid* rid) {
  if (rid == rid_) return;
  delete rid_;
  rid_ = rid;
}

KvStatus FlatFileDesc::setPendingKey(const void* image, uint16_t length) {
  if (!pendingKey_) {
    pendingKey_ = static_cast<unsigned char*>(ramAlloc(length ? length : 1));
    if (!pendingKey_) return kvFailure;
  }
  std::memcpy(pendingKey_, image, length);
  return kvSuccess;
}

void FlatFileDesc::clearPendingCursor() {
  ramFree(pendingKey_);
  pendingKey_ = nullptr;
  pendingSerial_ = 0;
}

KvStatus FlatFileDesc::makeRid() {
  if (rid_) return kvSuccess;
  FlatRid* rid = nullptr;
  if (allocRid(&rid) != kvSuccess) return kvFailure;
  rid_ = rid;
  return kvSuccess;
}

KvStatus FlatFileDesc::openTable(const unsigned char* name, FlatStatement* statement) {
  FlatConnection* connection = statement->getFlatConnection();
  {
    FlatTableListLock lock(connection);
    KvStatus status = openDataFile(connection, name);
    if (shared_) {
      // The lowest clear bit; a table whose 32 bits are taken is refused, so
      // that no reader without a bit could later release it under the others.
      uint32_t mask = shared_->getUserMask();
      uint32_t bit = 1;
      while (bit && (mask & bit)) bit <<= 1;
      if (!bit) {
        if (status == kvSuccess) addFlatError(stateGeneral, msgSharedOpenLimit) << name;
        shared_ = nullptr;
        status = kvFailure;
      } else {
        shared_->setUserMask(mask | bit);
        userBit_ = bit;
      }
    }
    if (status != kvSuccess) return kvFailure;
  }
  if (!rid_ && makeRid() != kvSuccess) return kvFailure;
  if (columns_.getCount() == 0) {
    for (uint16_t i = 0; i < shared_->getColumnCount(); ++i) {
      auto* field = new FlatFileField();
      if (!field) {
        KvErrorKeeper::addMemoryError();
        return kvFailure;
      }
      if (columns_.add(field) != kvSuccess) {
        delete field;
        return kvFailure;
      }
    }
  }
  // The handle first: the driver's index descriptions name the table by it.
  if (statement->registerTable(this, &tableHandle_) != kvSuccess) return kvFailure;
  FlatTableLock lock(shared_);
  return initializeIndexes(statement);
}

// ---------------------------------------------------------------- engine versions

KvStatus FlatFileDesc::openDataFile(FlatConnection*, const unsigned char*) { return driverMustSupply(); }
KvStatus FlatFileDesc::getMaxRecords(uint32_t*) { return driverMustSupply(); }
uint16_t FlatFileDesc::getMaxPages(uint32_t* out) {
  if (out) *out = 0;
  return 0;
}
KvStatus FlatFileDesc::readNextRec(uint16_t* found) {
  *found = 0;
  return driverMustSupply();
}
KvStatus FlatFileDesc::readRecord(GetRecRetType*) { return driverMustSupply(); }
KvStatus FlatFileDesc::getFieldData(uint16_t, void*, int32_t*, uint16_t, uint8_t*) { return driverMustSupply(); }
KvStatus FlatFileDesc::getRecordID(void*) { return driverMustSupply(); }
KvStatus FlatFileDesc::setRecordID() { return driverMustSupply(); }
KvStatus FlatFileDesc::setRecordPosition() { return driverMustSupply(); }
KvStatus FlatFileDesc::resetToFirstRecord() { return kvSuccess; }
KvStatus FlatFileDesc::updateColumn(uint16_t, const void*, uint32_t, uint32_t) { return driverMustSupply(); }
KvStatus FlatFileDesc::updateLargeColumn(uint16_t, const void*, uint32_t, uint32_t) { return driverMustSupply(); }
KvStatus FlatFileDesc::writeRecord(uint16_t) { return driverMustSupply(); }
KvStatus FlatFileDesc::initializeForInsert() { return kvSuccess; }
KvStatus FlatFileDesc::deleteRecord() { return driverMustSupply(); }
KvStatus FlatFileDesc::useIndex(const unsigned char*) { return driverMustSupply(); }
KvStatus FlatFileDesc::lockRecord(uint16_t) { return kvSuccess; }
KvStatus FlatFileDesc::unlockRecord(uint16_t, FlatRid*) { return kvSuccess; }
KvStatus FlatFileDesc::lockHeaders() { return kvSuccess; }
KvStatus FlatFileDesc::lockIndex() { return kvSuccess; }
void FlatFileDesc::unlockIndex() {}
void FlatFileDesc::unlockHeaders(uint16_t) {}
KvStatus FlatFileDesc::deleteKeyFromIndex(uint16_t, uint16_t* removed) {
  if (removed) *removed = 0;
  return kvSuccess;
}
KvStatus FlatFileDesc::addKeyToIndex(uint16_t) { return kvSuccess; }
KvStatus FlatFileDesc::addKeyToIndex() { return kvSuccess; }
KvStatus FlatFileDesc::addIndexEntry(uint8_t*) { return kvSuccess; }
KvStatus FlatFileDesc::closeIndex(const unsigned char*) { return driverMustSupply(); }
void FlatFileDesc::resetToAllocatedState() {}
KvStatus FlatFileDesc::getLargeColumn(uint16_t, void*, uint32_t, uint32_t, uint32_t* got, uint32_t* total) {
  if (got) *got = 0;
  if (total) *total = 0;
  return kvSuccess;
}
KvStatus FlatFileDesc::getTransactionInfo(uint8_t** data, uint16_t* length) {
  *data = nullptr;
  *length = 0;
  return kvSuccess;
}
KvStatus FlatFileDesc::setTransactionInfo(uint8_t*, uint16_t) { return kvSuccess; }
KvStatus FlatFileDesc::initializeIndexes(FlatStatement*) { return kvSuccess; }

KvStatus FlatFileDesc::allocRid(FlatRid** out) {
  *out = nullptr;
  uint16_t keyLength = shared_ ? shared_->getKeyLength() : 0;
  if (keyLength == 0) {
    *out = new FlatNumericRid();
  } else {
    auto* rid = new FlatKeyRid();
    if (rid && rid->initialize(keyLength) != kvSuccess) {
      delete rid;
      rid = nullptr;
    }
    *out = rid;
  }
  if (!*out) {
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  return kvSuccess;
}

FlatOptDesc* FlatFileDesc::allocOptDesc(FlatIndexDesc* index) {
  auto* plan = new FlatOptDesc;
  if (!plan) return nullptr;
  plan->cursor = this;
  plan->index = index;
  setOptDesc(plan);
  return plan;
}
KvStatus FlatFileDesc::evaluateOptDesc(uint16_t* usable) {
  if (usable) *usable = 0;
  return kvSuccess;
}
KvStatus FlatFileDesc::loadKeyBuffer(FlatOptBnd* bound, uint16_t part, uint8_t* value) {
  FlatIndexDesc* index = optDesc_ ? optDesc_->index : nullptr;
  if (!index || part >= index->keyCount || !bound->key) return driverMustSupply();
  const FlatKeyField* key = index->keys[part];
  uint8_t* at = bound->key + index->keyOffset(part);
  if (key->sqlType == SQL_CHAR || key->sqlType == SQL_VARCHAR) {
    // A text key ends at the shorter of the value and the key width.
    size_t length = strnlen(reinterpret_cast<const char*>(value), key->keyLength);
    std::memcpy(at, value, length);
    at[length] = 0;
  } else {
    std::memcpy(at, value, key->keyLength);
  }
  return kvSuccess;
}
KvStatus FlatFileDesc::nullifyRid() {
  if (rid_) rid_->reset();
  return kvSuccess;
}
KvStatus FlatFileDesc::checkKeyViolation() { return kvSuccess; }
KvStatus FlatFileDesc::checkKeyViolation2() { return kvSuccess; }
KvStatus FlatFileDesc::checkValue(uint16_t, const void*, uint32_t, uint32_t) { return driverMustSupply(); }
KvStatus FlatFileDesc::reserveSpace(uint32_t, uint32_t, uint64_t) { return kvSuccess; }
