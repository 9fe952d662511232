// The statement handle: construction, the call discipline, the record
// arrays and the ODBC operations' defaults; see base_statement.h.
#include "base/statement/base_statement.h"

#include "base/catalog/base_catalog_info.h"
#include "base/handles/base_error_list.h"
#include "base/results/base_field.h"
#include "base/handles/base_lock_hooks.h"
#include "base/handles/base_messages.h"
#include "base/handles/base_out_string.h"
#include "base/statement/base_sql_string.h"
#include "util/memory/ram.h"

#include <cstring>

namespace {

// Grows a pointer array to n zero-filled entries.
template <class T>
KvStatus growArray(T*** array, uint16_t* capacity, uint16_t n) {
  if (n <= *capacity) return kvSuccess;
  void* block = *array;
  if (ramResizeZ(&block, uint32_t(n) * sizeof(T*)) != kvSuccess) return kvFailure;
  *array = static_cast<T**>(block);
  *capacity = n;
  return kvSuccess;
}

template <class T>
void deleteArray(T*** array, uint16_t* capacity) {
  if (*array) {
    for (uint16_t i = 0; i < *capacity; ++i) delete (*array)[i];
    ramFree(*array);
  }
  *array = nullptr;
  *capacity = 0;
}

}  // namespace

BaseStatement::BaseStatement(BaseConnection* connection)
    : connection_(connection), errorList_(connection) {
  std::memcpy(options_, connection->getStmtDefaults(), sizeof(options_));
  connection->getStatements().append(this);
}

BaseStatement::~BaseStatement() {
  connection_->getStatements().unlink(this);
  setCatalogInfo(nullptr);
  // A positioned statement that names this one must not read a freed (or
  // reused) object at its next execution.
  connection_->getStatements().forEach<BaseStatement>([this](BaseStatement* sibling) {
    if (sibling->currentOfStmt_ == this) sibling->currentOfStmt_ = nullptr;
    return true;
  });
  ramFree(cursorName_);
  ramFree(rowStatus_);
  delete sqlString_;
  delete keptSql_;
  delete resumeSql_;
  deleteEmulation();
  deleteArray(&bindings_, &bindingCapacity_);
  deleteArray(&params_, &paramCapacity_);
  deleteArray(&fields_, &fieldCapacity_);
}

// ---------------------------------------------------------------- discipline

BaseStatement::ClaimResult BaseStatement::claimForCall() {
  BaseLockHook hook;
  const uintptr_t self = baseThreadId();
  const uintptr_t holder = callingThread_.load();
  if (holder) return holder == self ? claimHeldHere : claimHeldElsewhere;
  callingThread_.store(self);
  // A cancel left over from a call that ended before it could see it.
  cancelRequested_.store(0);
  return claimNow;
}

uint16_t BaseStatement::threadCheck() {
  BaseLockHook hook;
  if (callingThread_.load() || markedBusy_) return 1;
  callingThread_.store(baseThreadId());
  cancelRequested_.store(0);
  return 0;
}

void BaseStatement::threadDone() {
  BaseLockHook hook;
  callingThread_.store(0);
}

bool BaseStatement::isBusy() const {
  BaseLockHook hook;
  return callingThread_.load() != 0 || markedBusy_;
}

bool BaseStatement::requestCancelOfRunningCall() {
  BaseLockHook hook;
  const uintptr_t running = callingThread_.load();
  if (!running || running == baseThreadId()) return false;
  cancelRequested_.store(1);
  return true;
}

KvStatus BaseStatement::allocArrays(uint16_t n, uint16_t which) {
  if (n == 0) return kvSuccess;
  if (n > baseMaxArrayEntries) {
    uint16_t msg = (which & arrayFields)     ? msgTooManyColumns
                   : (which & arrayBindings) ? msgTooManyBindings
                                             : msgTooManyParams;
    addOdbcError(stateColumnNumber, msg) << uint32_t(n) << uint32_t(baseMaxArrayEntries);
    return kvFailure;
  }
  if ((which & arrayFields) && growArray(&fields_, &fieldCapacity_, n) != kvSuccess) return kvFailure;
  if ((which & arrayBindings) && growArray(&bindings_, &bindingCapacity_, n) != kvSuccess) return kvFailure;
  if ((which & arrayParams) && growArray(&params_, &paramCapacity_, n) != kvSuccess) return kvFailure;
  return kvSuccess;
}

void BaseStatement::deleteFields() {
  deleteArray(&fields_, &fieldCapacity_);
  fieldCount_ = 0;
  flags_ = (flags_ | flagRebindAll) & ~uint32_t(flagColumnsKnown);
}

// ---------------------------------------------------------------- driver defaults

namespace {

// A catalog function whose rows the driver cannot produce.
KvStatus catalogNotSupported() {
  addOdbcError(stateNotSupported);
  return kvFailure;
}

}  // namespace

KvStatus BaseStatement::moreResults(uint16_t* noMore) {
  *noMore = 1;
  return kvSuccess;
}
KvStatus BaseStatement::executeSpecial(uint16_t* notHandled) {
  *notHandled = 1;
  return kvSuccess;
}
KvStatus BaseStatement::executeStatistics(uint16_t) { return catalogNotSupported(); }
KvStatus BaseStatement::executeTables(BaseInString*) { return catalogNotSupported(); }
KvStatus BaseStatement::executeColPriv() { return catalogNotSupported(); }
KvStatus BaseStatement::executeForeign() { return catalogNotSupported(); }
KvStatus BaseStatement::executePrimary() { return catalogNotSupported(); }
KvStatus BaseStatement::executeProcCols() { return catalogNotSupported(); }
KvStatus BaseStatement::executeProcedures() { return catalogNotSupported(); }
KvStatus BaseStatement::executeTablePriv() { return catalogNotSupported(); }
KvStatus BaseStatement::getTypeInfo(int16_t) { return kvFailure; }
KvStatus BaseStatement::fetchRandomRow(uint32_t, uint16_t*) { return kvFailure; }
KvStatus BaseStatement::nonStdColAttributes(uint16_t, uint16_t, BaseOutString*, SQLLEN*) {
  addOdbcError(stateNotCapable);
  return kvFailure;
}
KvStatus BaseStatement::calcNumResultCols() { return kvSuccess; }
KvStatus BaseStatement::bindFld(uint16_t) { return kvSuccess; }
void BaseStatement::unbindFlds() {}
void BaseStatement::unbindParams() {}
BaseParam* BaseStatement::allocParam() { return new BaseParam(); }
KvStatus BaseStatement::setToPreparedState() { return kvSuccess; }
KvStatus BaseStatement::setToAllocatedState(uint16_t) { return kvSuccess; }
const unsigned char* BaseStatement::getDriverCursorName() { return cursorName_; }
// A driver that cannot stop its operation says so; the operation stays
// pending and the application goes on calling it.
KvStatus BaseStatement::cancelAsyncOp() {
  addOdbcError(stateNotCapable);
  return kvFailure;
}
