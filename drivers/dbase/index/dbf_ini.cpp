// RERUZ.INI: reads of a table's section and its locked, atomic updates; see
// dbf_ini.h.
#include "drivers/dbase/index/dbf_ini.h"

#include "drivers/dbase/connection/dbf_connection.h"
#include "util/error_mark.h"
#include "util/profiles/ini_file.h"
#include "util/resource.h"
#include "util/util_message_ids.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

namespace {

const char iniFileName[] = "RERUZ.INI";
const char charsetKey[] = "CHARSET";
const char maintainCount[] = "NUMMAINTAINED";
const char maintainPrefix[] = "MAINTAIN";
const char uniqueCount[] = "NUMUNIQUE";
const char uniquePrefix[] = "UNIQUE";

enum : uint32_t { keyBytes = 32, maxCount = 0xFFFF };

void numberedKey(unsigned char (&key)[keyBytes], const char* prefix, uint32_t number) {
  std::snprintf(kvC(key), sizeof(key), "%s%u", prefix, number);
}

// The file's text, read whole; a missing file is an empty text. A file that
// is there but cannot be read fails with the OS layer's message.
KvStatus loadText(const unsigned char* path, KvIniText* text) {
  if (!bosexist(path)) return kvSuccess;
  unsigned char name[bosPathBytes];
  std::memcpy(name, path, std::strlen(kvC(path)) + 1);
  int file = 0;
  if (bosFileOpen(name, 0, &file) != kvSuccess) return kvFailure;
  KvStatus status = text->readFile(file);
  kvIgnoreStatus(bosFileClose(file));  // only read: its close loses nothing
  return status;
}

// A value as std::string: empty when the section or key is absent.
std::string valueOf(const KvIniText& text, const unsigned char* section, const unsigned char* key) {
  const unsigned char* value = nullptr;
  uint32_t length = 0;
  if (!text.findValue(section, key, &value, &length) || !value) return std::string();
  return std::string(kvC(value), length);
}

// A count: missing or empty reads as 0; anything but a decimal of 16 bits is
// a damaged file, refused rather than guessed at (a wrong count would have
// an append overwrite an entry).
KvStatus countOf(const KvIniText& text, const unsigned char* section, const char* key, uint32_t* count) {
  const std::string value = valueOf(text, section, kvU(key));
  *count = 0;
  for (char c : value) {
    if (c < '0' || c > '9') {
      kvAddUtilityError(kvMsgInvalidCharacter) << kvU(value.c_str());
      return kvFailure;
    }
    *count = *count * 10 + uint32_t(c - '0');
    if (*count > maxCount) {
      kvAddUtilityError(kvMsgNumberTooLarge) << kvU(value.c_str());
      return kvFailure;
    }
  }
  return kvSuccess;
}

// Sets an entry and checks that it reads back as written: the file's rules
// trim blanks and take matching quotes away, and a value longer than a path
// would not be read whole by the readers.
KvStatus setChecked(KvIniText* text, const unsigned char* section, const unsigned char* key,
                    const std::string& value) {
  if (value.size() >= dbfIniValueBytes) {
    kvAddUtilityError(kvMsgFileNameTooLong) << kvU(value.c_str());
    return kvFailure;
  }
  if (kvIniCheckWrite(kvIniWindows, section, key, kvU(value.c_str())) != kvSuccess) return kvFailure;
  if (text->setEntry(section, key, kvU(value.c_str())) != kvSuccess) return kvFailure;
  if (valueOf(*text, section, key) != value) {
    kvAddUtilityError(kvMsgInvalidParameter);
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus setCount(KvIniText* text, const unsigned char* section, const char* key, uint32_t count) {
  char number[16];
  std::snprintf(number, sizeof(number), "%u", count);
  return setChecked(text, section, kvU(key), number);
}

// Copies a value into a caller's buffer whole, or fails.
KvStatus copyWhole(const std::string& value, unsigned char* buffer, uint32_t size) {
  if (!buffer || size == 0) return kvSuccess;
  if (value.size() >= size) {
    buffer[0] = 0;
    kvAddUtilityError(kvMsgFileNameTooLong) << kvU(value.c_str());
    return kvFailure;
  }
  std::memcpy(buffer, value.data(), value.size());
  buffer[value.size()] = 0;
  return kvSuccess;
}

bool sameName(const std::string& a, const unsigned char* b) { return strcasecmp(a.c_str(), kvC(b)) == 0; }

}  // namespace

DbfIni::DbfIni(DbfConnection* connection) : connection_(connection) {}

DbfIni::~DbfIni() { kvIgnoreStatus(close()); }

KvStatus DbfIni::open(const unsigned char* directory) {
  unsigned char path[bosPathBytes];
  if (bospath(path, directory, kvU(iniFileName), nullptr) != kvSuccess) return kvFailure;
  if (KvIni::open(path) != kvSuccess) return kvFailure;
  std::memcpy(path_, path, std::strlen(kvC(path)) + 1);
  return kvSuccess;
}

KvStatus DbfIni::readValue(const unsigned char* section, const unsigned char* key, unsigned char* buffer,
                           uint32_t size) {
  if (buffer && size) buffer[0] = 0;
  if (validState() != kvSuccess) return kvFailure;
  KvIniText text(kvIniWindows);
  if (loadText(path_, &text) != kvSuccess) return kvFailure;
  return copyWhole(valueOf(text, section, key), buffer, size);
}

KvStatus DbfIni::getCharset(const unsigned char* section, uint16_t* oem) {
  *oem = connection_ && (connection_->getEngineFlags() & flatOem) ? 1 : 0;
  unsigned char value[16];
  KvErrorMark mark;
  if (readValue(section, kvU(charsetKey), value, sizeof(value)) != kvSuccess) {
    // A value too long for any character set name is no name: the default.
    if (mark.newestNumber() != kvMsgFileNameTooLong) return kvFailure;
    mark.dropNew();
    return kvSuccess;
  }
  if (strcasecmp(kvC(value), "IBMPC") == 0) *oem = 1;
  else if (strcasecmp(kvC(value), "ANSI") == 0) *oem = 0;
  return kvSuccess;
}

KvStatus DbfIni::setCharset(const unsigned char* section, uint16_t oem) {
  if (validState() != kvSuccess) return kvFailure;
  KvIniUpdate update(kvIniWindows);
  int exists = 0;
  if (update.begin(path_, 1, &exists) != kvSuccess) return kvFailure;
  if (setChecked(&update.text(), section, kvU(charsetKey), oem == 1 ? "IBMPC" : "ANSI") != kvSuccess)
    return kvFailure;
  return update.commit();
}

KvStatus DbfIni::append(const unsigned char* section, const char* countKey, const char* prefix,
                        const unsigned char* value) {
  if (validState() != kvSuccess) return kvFailure;
  KvIniUpdate update(kvIniWindows);
  int exists = 0;
  if (update.begin(path_, 1, &exists) != kvSuccess) return kvFailure;
  KvIniText& text = update.text();
  uint32_t count = 0;
  if (countOf(text, section, countKey, &count) != kvSuccess) return kvFailure;
  if (count == maxCount) {
    kvAddUtilityError(kvMsgNumberTooLarge) << uint32_t(count + 1);
    return kvFailure;
  }
  unsigned char key[keyBytes];
  numberedKey(key, prefix, count);
  if (setChecked(&text, section, key, kvC(value)) != kvSuccess) return kvFailure;
  if (setCount(&text, section, countKey, count + 1) != kvSuccess) return kvFailure;
  return update.commit();
}

KvStatus DbfIni::addMaintained(const unsigned char* section, const unsigned char* file) {
  return append(section, maintainCount, maintainPrefix, file);
}

KvStatus DbfIni::getMaintained(const unsigned char* section, uint16_t index, unsigned char* buffer,
                               uint32_t size) {
  unsigned char key[keyBytes];
  numberedKey(key, maintainPrefix, index);
  return readValue(section, key, buffer, size);
}

KvStatus DbfIni::removeMaintained(const unsigned char* section, const unsigned char* file) {
  return removeMatching(section, maintainCount, maintainPrefix, false, file, nullptr);
}

KvStatus DbfIni::addUnique(const unsigned char* section, const unsigned char* file, const unsigned char* tag) {
  std::string value = kvC(file);
  if (tag && tag[0]) value += std::string(",") + kvC(tag);
  return append(section, uniqueCount, uniquePrefix, kvU(value.c_str()));
}

KvStatus DbfIni::getUnique(const unsigned char* section, uint16_t index, unsigned char* file, uint32_t fileSize,
                           unsigned char* tag, uint32_t tagSize) {
  if (file && fileSize) file[0] = 0;
  if (tag && tagSize) tag[0] = 0;
  unsigned char key[keyBytes];
  numberedKey(key, uniquePrefix, index);
  std::vector<unsigned char> value(dbfIniValueBytes);
  if (readValue(section, key, value.data(), uint32_t(value.size())) != kvSuccess) return kvFailure;
  const std::string whole = kvC(value.data());
  const size_t comma = whole.find(',');
  if (copyWhole(whole.substr(0, comma), file, fileSize) != kvSuccess) return kvFailure;
  return copyWhole(comma == std::string::npos ? std::string() : whole.substr(comma + 1), tag, tagSize);
}

KvStatus DbfIni::removeUnique(const unsigned char* section, const unsigned char* file, const unsigned char* tag) {
  return removeMatching(section, uniqueCount, uniquePrefix, true, file, tag && tag[0] ? tag : nullptr);
}

KvStatus DbfIni::removeMatching(const unsigned char* section, const char* countKey, const char* prefix,
                                bool splitsTag, const unsigned char* file, const unsigned char* tag) {
  if (validState() != kvSuccess) return kvFailure;
  KvIniUpdate update(kvIniWindows);
  int exists = 0;
  if (update.begin(path_, 0, &exists) != kvSuccess) return kvFailure;
  if (!exists) return kvSuccess;
  KvIniText& text = update.text();
  uint32_t count = 0;
  if (countOf(text, section, countKey, &count) != kvSuccess) return kvFailure;
  // The entries kept, in their order; a missing one within the count is
  // dropped too, so that no gap hides the entries behind it from readers.
  std::vector<std::string> kept;
  bool removed = false;
  for (uint32_t i = 0; i < count; ++i) {
    unsigned char key[keyBytes];
    numberedKey(key, prefix, i);
    const std::string value = valueOf(text, section, key);
    // A UNIQUE entry is file[,tag]; a MAINTAIN entry is a file alone.
    const size_t comma = splitsTag ? value.find(',') : std::string::npos;
    const std::string filePart = value.substr(0, comma);
    const bool matches = sameName(filePart, file) &&
                         (!tag || (comma != std::string::npos && sameName(value.substr(comma + 1), tag)));
    if (matches) removed = true;
    else if (!value.empty()) kept.push_back(value);
  }
  if (!removed) return kvSuccess;
  // Every key is rewritten in the text held under the lock, count included,
  // and the file is replaced once: readers see all of it or none.
  for (uint32_t i = 0; i < count; ++i) {
    unsigned char key[keyBytes];
    numberedKey(key, prefix, i);
    if (i < kept.size()) {
      if (setChecked(&text, section, key, kept[i]) != kvSuccess) return kvFailure;
    } else if (text.deleteEntry(section, key) != kvSuccess) {
      return kvFailure;
    }
  }
  if (setCount(&text, section, countKey, uint32_t(kept.size())) != kvSuccess) return kvFailure;
  return update.commit();
}

KvStatus DbfIni::removeTable(const unsigned char* section) {
  if (validState() != kvSuccess) return kvFailure;
  KvIniUpdate update(kvIniWindows);
  int exists = 0;
  if (update.begin(path_, 0, &exists) != kvSuccess) return kvFailure;
  if (!exists || !update.text().hasSection(section)) return kvSuccess;
  if (update.text().deleteSection(section) != kvSuccess) return kvFailure;
  return update.commit();
}
