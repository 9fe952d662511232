// DSNInfoStruct and SetDSNAttributes: the values of a driver's setup keys
// and the writing and removing of a data source; see base_setup.h.
//
// The attribute list ConfigDSN receives is "key=value" items, each ended by
// a zero byte, the list by one more: DSN=Sales\0Description=Q4 data\0\0. A
// value is taken as it stands (quotes and ";" are ordinary characters of
// it, as in odbc.ini itself); blanks around keys and values are dropped.
#include "base/setup/base_setup.h"

#include "base/setup/base_installer.h"
#include "util/memory/ram.h"
#include "util/containers/str_functions.h"
#include "util/os/zizdata.h"

#include <cstdio>
#include <cstring>

namespace {

const unsigned char* const dsnKey = kvU("DSN");

int isBlank(unsigned char c) { return c == ' ' || c == '\t'; }

// The text between begin and end without the blanks around it, terminated
// in place.
unsigned char* trimInPlace(unsigned char* begin, unsigned char* end) {
  while (begin < end && isBlank(*begin)) ++begin;
  while (end > begin && isBlank(end[-1])) --end;
  *end = 0;
  return begin;
}

// A copy of text in memory of the sub-allocator; null text gives null.
KvStatus copyText(const unsigned char* text, unsigned char** out) {
  *out = nullptr;
  if (!text) return kvSuccess;
  *out = ramAllocStr(text);
  return *out ? kvSuccess : kvFailure;
}

}  // namespace

DSNInfoStruct::DSNInfoStruct(SQLHWND parent, uint16_t request, const unsigned char* driver,
                             const unsigned char* attributes, const SetupInfo* rows, uint16_t count)
    : parent_(parent),
      request_(request),
      driver_(driver),
      attributes_(attributes),
      rows_(rows),
      count_(rows ? count : 0),
      errorList_(this, 1) {}

DSNInfoStruct::~DSNInfoStruct() {
  if (values_) {
    for (uint16_t i = 0; i < count_; ++i) ramFree(values_[i]);
    ramFree(values_);
  }
  ramFree(startName_);
  ramFree(name_);
  ramFree(attributeCopy_);
  ramFree(itemKeys_);
  ramFree(itemValues_);
  if (flags_ & flagErrorList) KvErrorKeeper::giveUpErrorList();
  if (flags_ & flagTaskData) mdsZizTaskTerm();
}

KvStatus DSNInfoStruct::setValue(uint16_t i, const unsigned char* value) {
  if (!values_ || i >= count_) return kvFailure;
  unsigned char* copy = nullptr;
  if (copyText(value, &copy) != kvSuccess) return kvFailure;
  ramFree(values_[i]);
  values_[i] = copy;
  return kvSuccess;
}

KvStatus DSNInfoStruct::setName(const unsigned char* name) {
  unsigned char* copy = nullptr;
  if (copyText(name ? name : kvU(""), &copy) != kvSuccess) return kvFailure;
  ramFree(name_);
  name_ = copy;
  return kvSuccess;
}

KvStatus DSNInfoStruct::takeNameAsStart() {
  unsigned char* copy = nullptr;
  if (copyText(getName(), &copy) != kvSuccess) return kvFailure;
  ramFree(startName_);
  startName_ = copy;
  return kvSuccess;
}

// Reads the attribute list into trimmed key/value items. Posts the
// installer error and fails on a list that does not end within
// attributesMaxBytes, an item without "=" or with an empty key, and a key
// given twice. For a configure request whose second item is enclosed in
// parentheses (a description some installers pass there), that item is
// left out.
KvStatus DSNInfoStruct::readAttributes() {
  // The list is measured without reading past its end or past
  // attributesMaxBytes, whichever comes first.
  uint32_t length = 0;  // the items' bytes, each with its zero byte
  uint16_t items = 0;
  for (; attributes_; ++items) {
    if (length >= attributesMaxBytes) break;
    if (attributes_[length] == 0) break;  // the zero byte that ends the list
    while (length < attributesMaxBytes && attributes_[length] != 0) ++length;
    ++length;  // the item's zero byte
  }
  if (length >= attributesMaxBytes) {
    basePostSetupError(setupAttributesTooLong, nullptr);
    return kvFailure;
  }
  if (items == 0) return kvSuccess;

  attributeCopy_ = static_cast<unsigned char*>(ramAlloc(length));
  itemKeys_ = static_cast<const unsigned char**>(ramAllocZ(sizeof(*itemKeys_) * items));
  itemValues_ = static_cast<const unsigned char**>(ramAllocZ(sizeof(*itemValues_) * items));
  if (!attributeCopy_ || !itemKeys_ || !itemValues_) {
    basePostSetupError(setupNoMemory, nullptr);
    return kvFailure;
  }
  std::memcpy(attributeCopy_, attributes_, length);

  unsigned char* item = attributeCopy_;
  for (uint16_t index = 0; index < items; ++index) {
    unsigned char* end = item + std::strlen(kvC(item));
    unsigned char* next = end + 1;
    const int parenthesised = item[0] == '(' && end > item + 1 && end[-1] == ')';
    if (request_ == requestConfigure && index == 1 && parenthesised) {
      item = next;
      continue;
    }
    unsigned char* equals = kvU(std::strchr(kvC(item), '='));
    const unsigned char* key = equals ? trimInPlace(item, equals) : nullptr;
    if (!key || !*key) {
      basePostSetupError(setupBadAttributes, item);
      return kvFailure;
    }
    if (findAttribute(key)) {
      basePostSetupError(setupBadAttributes, key);
      return kvFailure;
    }
    itemKeys_[itemCount_] = key;
    itemValues_[itemCount_] = trimInPlace(equals + 1, end);
    ++itemCount_;
    item = next;
  }
  return kvSuccess;
}

// The value of the attribute key, or null when the list has none.
const unsigned char* DSNInfoStruct::findAttribute(const unsigned char* key) const {
  for (uint16_t i = 0; i < itemCount_; ++i)
    if (strEqualCi(itemKeys_[i], key)) return itemValues_[i];
  return nullptr;
}

// Every row's value: its attribute, else its key in the data source's
// section of ODBC.INI, else its default. A data source without a name has
// no section to read.
KvStatus DSNInfoStruct::gatherValues() {
  values_ = static_cast<unsigned char**>(ramAllocZ(sizeof(*values_) * (count_ ? count_ : 1)));
  if (!values_) return kvFailure;
  for (uint16_t i = 0; i < count_; ++i) {
    const SetupInfo& row = rows_[i];
    const unsigned char* given = findAttribute(kvU(row.key));
    unsigned char stored[valueMaxBytes + 1];
    const unsigned char* defaultValue = kvU(row.second ? row.second : "");
    if (!given && *getName()) {
      baseReadDsnValue(getName(), kvU(row.key), defaultValue, stored, sizeof(stored));
      given = stored;
    }
    if (setValue(i, given ? given : defaultValue) != kvSuccess) return kvFailure;
  }
  return kvSuccess;
}

BOOL DSNInfoStruct::config(uint16_t* showDialog) {
  *showDialog = 0;
  if (!mdsZizTaskInit()) {
    basePostSetupError(setupNoMemory, nullptr);
    return FALSE;
  }
  flags_ |= flagTaskData;
  KvErrorKeeper::setErrorList(&errorList_);
  flags_ |= flagErrorList;

  // Requests 1 to 3 are all a driver receives from the installer; any other
  // (unixODBC passes ODBC_REMOVE_DEFAULT_DSN on) must not be taken for an
  // add.
  if (request_ < requestAdd || request_ > requestRemove) {
    unsigned char number[8];
    std::snprintf(kvC(number), sizeof(number), "%u", unsigned(request_));
    basePostSetupError(setupBadRequest, number);
    return FALSE;
  }
  if (readAttributes() != kvSuccess) return FALSE;
  if (setName(findAttribute(dsnKey)) != kvSuccess || takeNameAsStart() != kvSuccess ||
      gatherValues() != kvSuccess) {
    basePostSetupError(setupNoMemory, nullptr);
    return FALSE;
  }

  if (request_ == requestRemove) {
    if (!*getName()) {
      basePostSetupError(setupNoName, nullptr);
      return FALSE;
    }
    if (!baseIsValidDsnName(getName())) {
      basePostSetupError(setupBadName, getName());
      return FALSE;
    }
    if (baseRemoveDsn(getName()) != kvSuccess) {
      basePostSetupError(setupRemoveFailed, getName());
      return FALSE;
    }
    return TRUE;
  }
  if (parent_) {
    *showDialog = 1;
    return TRUE;
  }
  return SetDSNAttributes(this);
}

BOOL SetDSNAttributes(DSNInfoStruct* info) {
  const unsigned char* name = info->getName();
  if (!*name) {
    basePostSetupError(setupNoName, nullptr);
    return FALSE;
  }
  if (!baseIsValidDsnName(name)) {
    basePostSetupError(setupBadName, name);
    return FALSE;
  }
  const unsigned char* driver = info->getDriver();
  if (!driver || !*driver || baseHasLineBreak(driver)) {
    basePostSetupError(setupBadDriver, driver);
    return FALSE;
  }
  for (uint16_t i = 0; i < info->getRowCount(); ++i) {
    if (baseHasLineBreak(info->getValue(i))) {
      basePostSetupError(setupBadValue, kvU(info->getRows()[i].key));
      return FALSE;
    }
  }

  // The new section is written before the old one goes, so that a failed
  // write never leaves the data source under neither name.
  if (baseWriteDsn(name, driver) != kvSuccess) {
    basePostSetupError(setupWriteFailed, name);
    return FALSE;
  }
  for (uint16_t i = 0; i < info->getRowCount(); ++i) {
    const unsigned char* value = info->getValue(i);
    if (!value) continue;
    if (baseWriteDsnValue(name, kvU(info->getRows()[i].key), value) != kvSuccess) {
      basePostSetupError(setupWriteFailed, name);
      return FALSE;
    }
  }
  const unsigned char* startName = info->getStartName();
  if (*startName && !strEqualCi(startName, name) && baseRemoveDsn(startName) != kvSuccess) {
    basePostSetupError(setupRemoveFailed, startName);
    return FALSE;
  }
  if (info->takeNameAsStart() != kvSuccess) {
    basePostSetupError(setupNoMemory, nullptr);
    return FALSE;
  }
  return TRUE;
}
