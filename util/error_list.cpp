// Errors, error lists and the keeper of the calling thread's current list;
// see error_list.h.
#include "util/error_list.h"

#include "util/resource.h"
#include "util/os/zizdata.h"

#include <cstring>

namespace {

const unsigned char outOfMemoryText[] = "Out Of Memory";

KvErrorList* currentList() {
  return static_cast<KvErrorList*>(mdsGetZizThreadData(zizThreadErrorList));
}

// Walks a list's errors in order without touching its cursor.
template <class Visit>
void forEachError(const KvList& list, Visit visit) {
  list.forEach<KvError>([&](KvError* error) {
    visit(error);
    return true;
  });
}

void deleteUnlessStatic(KvError* error) {
  if (error && !error->isStatic()) delete error;
}

}  // namespace

// ---------------------------------------------------------------- KvError

KvError::KvError(uint16_t number, const unsigned char* text, ErrorType type, uint16_t stateIndex,
                 int32_t native)
    : native_(native), number_(number), stateIndex_(stateIndex) {
  // A text that cannot be copied leaves the error without one; the failed
  // allocation has put the list into its out-of-memory state, which
  // SQLError reports first.
  kvIgnoreStatus(text_.initialize(text ? text : kvU("")));
  if (type == etWarning) flags_ |= flagWarning;
}

KvError::KvError(StaticTag, uint16_t number, uint32_t flags) : number_(number), flags_(flags) {}

KvError::~KvError() = default;

KvError& KvError::memoryError() {
  static KvError error(StaticTag{}, kvMsgOutOfMemory, flagStatic | flagMemory);
  return error;
}

KvError& KvError::sinkError() {
  static KvError error(StaticTag{}, 0, flagStatic | flagSink);
  return error;
}

const unsigned char* KvError::getErrorText() const {
  if (flags_ & flagMemory) return outOfMemoryText;
  return text_.getStr();
}

void KvError::appendText(const unsigned char* text) {
  if (flags_ & flagStatic) return;
  // As in the constructor: the out-of-memory state reports a failure.
  kvIgnoreStatus(text_.concat(text));
}

void KvError::setSqlState(const char* state) {
  std::strncpy(sqlState_, state ? state : "", sizeof(sqlState_) - 1);
  sqlState_[sizeof(sqlState_) - 1] = 0;
}

KvError& KvError::operator<<(const unsigned char* text) {
  if (flags_ & flagStatic) return sinkError();
  text_ << text;
  return text_.hasFailed() ? sinkError() : *this;
}

KvError& KvError::operator<<(uint32_t number) {
  if (flags_ & flagStatic) return sinkError();
  text_ << number;
  return text_.hasFailed() ? sinkError() : *this;
}

KvError& KvError::operator<<(int32_t number) {
  if (flags_ & flagStatic) return sinkError();
  text_ << number;
  return text_.hasFailed() ? sinkError() : *this;
}

KvError& KvError::operator<<(const KvSubString& text) {
  if (flags_ & flagStatic) return sinkError();
  text_ << text;
  return text_.hasFailed() ? sinkError() : *this;
}

// ---------------------------------------------------------------- KvErrorList

KvErrorList::KvErrorList(void* owner, unsigned keepAll)
    : owner_(owner), flags_(keepAll ? uint32_t(flagKeepAll) : 0u) {}

KvErrorList::~KvErrorList() { clearErrors(); }

void KvErrorList::clearErrors() {
  flags_ &= ~flagOutOfMemory;
  while (KvNode* node = removeFirstNode()) deleteUnlessStatic(static_cast<KvError*>(node));
}

KvError* KvErrorList::removeFirstError() {
  if (flags_ & flagOutOfMemory) {
    flags_ &= ~flagOutOfMemory;
    return &KvError::memoryError();
  }
  return static_cast<KvError*>(removeFirstNode());
}

KvError* KvErrorList::removeLastError() {
  if (flags_ & flagOutOfMemory) {
    flags_ &= ~flagOutOfMemory;
    return &KvError::memoryError();
  }
  return static_cast<KvError*>(removeLastNode());
}

KvError* KvErrorList::getLastError() {
  if (flags_ & flagOutOfMemory) return &KvError::memoryError();
  return static_cast<KvError*>(peekLast());
}

ErrorsMix KvErrorList::getErrorsMix() const {
  bool warnings = false, errors = false;
  forEachError(*this, [&](KvError* e) { (e->isWarning() ? warnings : errors) = true; });
  if (!warnings && !errors) return mixNone;
  if (warnings && errors) return mixBoth;
  return errors ? mixErrors : mixWarnings;
}

KvStatus KvErrorList::concatErrors(KvString* out, unsigned char separator) const {
  KvStatus status = kvSuccess;
  bool first = true;
  forEachError(*this, [&](KvError* e) {
    if (status != kvSuccess) return;
    const unsigned char* text = e->getErrorText();
    uint32_t length = uint32_t(std::strlen(kvC(text)));
    if (out->makeRoom(length + 1) != kvSuccess ||
        (!first && out->concat(char(separator)) != kvSuccess) ||
        out->concat(text, length) != kvSuccess)
      status = kvFailure;
    first = false;
  });
  return status;
}

void KvErrorList::setWarningAfterPos(uint32_t pos) {
  uint32_t index = 0;
  forEachError(*this, [&](KvError* e) {
    if (index++ > pos) e->setFlags(e->getFlags() | KvError::flagWarning);
  });
}

void KvErrorList::appendTextStartingAtPos(const unsigned char* text, uint32_t pos) {
  uint32_t index = 0;
  forEachError(*this, [&](KvError* e) {
    if (index++ >= pos) e->appendText(text);
  });
}

KvError* KvErrorList::getErrorAtPos(uint32_t pos) const {
  KvError* found = nullptr;
  uint32_t index = 0;
  forEachError(*this, [&](KvError* e) {
    if (index++ == pos) found = e;
  });
  return found;
}

// ---------------------------------------------------------------- KvErrorKeeper

void KvErrorKeeper::setErrorList(KvErrorList* list) {
  list->previous_ = currentList();
  mdsSetZizThreadData(zizThreadErrorList, list);
}

KvErrorList* KvErrorKeeper::giveUpErrorList() {
  KvErrorList* list = currentList();
  if (!list) return nullptr;
  mdsSetZizThreadData(zizThreadErrorList, list->previous_);
  list->previous_ = nullptr;
  return list;
}

KvErrorList* KvErrorKeeper::getErrorList() { return currentList(); }

KvError& KvErrorKeeper::addError(KvError* error) {
  KvErrorList* list = currentList();
  if (!list) {
    deleteUnlessStatic(error);
    return KvError::sinkError();
  }
  if (!list->isKeepAll()) {
    ErrorsMix mix = list->getErrorsMix();
    if (mix == mixBoth || mix == mixErrors) {
      deleteUnlessStatic(error);
      return KvError::sinkError();
    }
  }
  if (!error) return KvError::sinkError();
  list->append(error);
  return *error;
}

void KvErrorKeeper::addMemoryError() {
  KvErrorList* list = currentList();
  if (!list) return;
  if (!list->isKeepAll()) {
    ErrorsMix mix = list->getErrorsMix();
    if (mix == mixBoth || mix == mixErrors) clearLastError();
  }
  list->setOutOfMemory();
}

KvError* KvErrorKeeper::getLastError() {
  KvErrorList* list = currentList();
  return list ? list->getLastError() : nullptr;
}

uint16_t KvErrorKeeper::getLastErrorNumber() {
  KvError* last = getLastError();
  return last ? last->getNumber() : 0;
}

KvError& KvErrorKeeper::appendTextToLastError(const unsigned char* text) {
  KvError* last = getLastError();
  if (!last || last->isStatic()) return KvError::sinkError();
  last->appendText(text);
  last->restartParams();
  return *last;
}

void KvErrorKeeper::clearLastError() {
  KvErrorList* list = currentList();
  if (!list) return;
  deleteUnlessStatic(static_cast<KvError*>(list->removeLastNode()));
}

void* KvErrorKeeper::getOwnerOfList() {
  KvErrorList* list = currentList();
  return list ? list->getOwner() : nullptr;
}

KvError& addDatabaseError(uint16_t number, int32_t native, const unsigned char* text, ErrorType type) {
  return KvErrorKeeper::addError(new KvError(number, text, type, 0, native));
}

// ---------------------------------------------------------------- string tables

short kvLoadStringFromTable(const KvMessage* table, size_t count, unsigned char* buffer,
                            unsigned short id, uint32_t size) {
  if (!buffer || size == 0) return 0;
  buffer[0] = 0;
  size_t low = 0, high = count;
  while (low < high) {
    size_t mid = (low + high) / 2;
    if (table[mid].id < id) low = mid + 1;
    else high = mid;
  }
  if (low == count || table[low].id != id) return 0;
  size_t length = std::strlen(table[low].text);
  if (length > size - 1) length = size - 1;
  if (length > 0x7FFF) length = 0x7FFF;
  std::memcpy(buffer, table[low].text, length);
  buffer[length] = 0;
  return short(length);
}

KvError& kvAddErrorFromTable(const KvMessage* table, size_t count, unsigned short id) {
  unsigned char text[512];
  kvLoadStringFromTable(table, count, text, id, sizeof(text));
  return KvErrorKeeper::addError(new KvError(id, text, etError, 0, 0));
}

KvError& kvAppendTextFromTable(const KvMessage* table, size_t count, unsigned short id) {
  unsigned char text[512];
  kvLoadStringFromTable(table, count, text, id, sizeof(text));
  return KvErrorKeeper::appendTextToLastError(text);
}
