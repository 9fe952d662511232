// Profile storage: the map from INI names to stores, the keyed-store rules
// over unixODBC's files and the product's own files, and KvIni. See
// profile.h.
#include "util/profiles/profile.h"

#include "util/error_mark.h"
#include "util/profiles/ini_file.h"
#include "util/charsets/charset.h"
#include "util/resource.h"
#include "util/containers/text_convert.h"
#include "util/util_message_ids.h"

#include <cstring>

namespace {

enum StoreKind : int { storeOdbc, storeOdbcInst, storeOwnFile };

struct KnownIni {
  const char* name;
  StoreKind kind;
  const char* fileName;  // in the configuration directory (storeOwnFile)
};

// The known names, in the order of knownIniText.
const char knownIniText[] = "ODBC.INI ODBCINST.INI CONTROL.INI TLM.INI TLMINST.INI DI7.INI RE6.INI VIZIR.INI";
const KnownIni knownInis[] = {
    {"ODBC.INI", storeOdbc, nullptr},
    {"ODBCINST.INI", storeOdbcInst, nullptr},
    {"CONTROL.INI", storeOwnFile, "control.ini"},
    {"TLM.INI", storeOwnFile, "tlm.ini"},
    {"TLMINST.INI", storeOwnFile, "tlminst.ini"},
    {"DI7.INI", storeOwnFile, "di7.ini"},
    {"RE6.INI", storeOwnFile, "re6.ini"},
    {"VIZIR.INI", storeOwnFile, "vizir.ini"},
};

// Values longer than this are left out of "key=value" lists.
constexpr uint32_t listedValueMaxBytes = 512;

int isEmptyText(const unsigned char* text) { return !text || !*text; }

// The known INI of a name, or null. The name is read, never changed: the
// comparison works on an upper-cased copy of its last component.
const KnownIni* findKnownIni(const unsigned char* iniName) {
  if (!iniName) return nullptr;
  const unsigned char* last = iniName;
  for (const unsigned char* p = iniName; *p; ++p)
    if (*p == '/' || *p == '\\') last = p + 1;
  uint32_t length = kvTextLength(last);
  const uint32_t textBytes = sizeof(knownIniText) - 1;
  // An empty last component ("dir/") names no file, least of all ODBC.INI.
  if (length == 0 || length > textBytes) return nullptr;
  unsigned char upper[sizeof(knownIniText)];
  for (uint32_t i = 0; i < length; ++i) upper[i] = kvToUpper(last[i]);
  const char* found = nullptr;
  for (uint32_t at = 0; at + length <= textBytes && !found; ++at)
    if (std::memcmp(knownIniText + at, upper, length) == 0) found = knownIniText + at;
  if (!found || (found != knownIniText && found[-1] != ' ')) return nullptr;
  uint32_t index = 0;
  for (const char* p = knownIniText; p < found; ++p)
    if (*p == ' ') ++index;
  return &knownInis[index];
}

// The files behind a known INI name: read in order, written to the first.
struct Store {
  KvIniStyle style;
  int fileCount;
  unsigned char paths[2][bosPathBytes];
};

KvStatus environmentValue(const char* name, unsigned char** value) {
  return bosGetEnv(kvU(name), value);
}

// unixODBC's system directory: $ODBCSYSINI, else /etc.
KvStatus odbcSystemFile(unsigned char* path, const char* fileName) {
  unsigned char* directory = nullptr;
  if (environmentValue("ODBCSYSINI", &directory) != kvSuccess) return kvFailure;
  KvStatus status = bosJoinPath(path, directory ? directory : kvU("/etc"), kvU(fileName));
  ramFree(directory);
  return status;
}

}  // namespace

KvStatus kvOdbcUserIniPath(unsigned char* path) {
  unsigned char* value = nullptr;
  if (environmentValue("ODBCINI", &value) != kvSuccess) return kvFailure;
  if (value) {
    uint32_t length = kvTextLength(value);
    KvStatus status = kvSuccess;
    if (length >= bosPathBytes) {
      addResourceError(kvMsgFileNameTooLong) << value;
      status = kvFailure;
    } else {
      std::memcpy(path, value, length + 1);
    }
    ramFree(value);
    return status;
  }
  // unixODBC takes the home directory from the passwd entry of the real
  // user, never from HOME, and "/home" for a user without an entry.
  unsigned char home[bosPathBytes];
  if (!bosPasswdHome(home, sizeof(home))) std::memcpy(home, "/home", sizeof("/home"));
  return bosJoinPath(path, home, kvU(".odbc.ini"));
}

namespace {

// Finds the files of a known INI. forWriting makes the configuration
// directory when it is missing.
KvStatus openStore(const KnownIni& ini, Store* store, int forWriting) {
  store->fileCount = 0;
  store->style = ini.kind == storeOwnFile ? kvIniWindows : kvIniOdbc;
  switch (ini.kind) {
    case storeOdbc: {
      if (kvOdbcUserIniPath(store->paths[0]) != kvSuccess) return kvFailure;
      store->fileCount = 1;
      if (odbcSystemFile(store->paths[store->fileCount], "odbc.ini") != kvSuccess) return kvFailure;
      ++store->fileCount;
      return kvSuccess;
    }
    case storeOdbcInst:
      if (odbcSystemFile(store->paths[0], "odbcinst.ini") != kvSuccess) return kvFailure;
      store->fileCount = 1;
      return kvSuccess;
    case storeOwnFile: {
      unsigned char directory[bosPathBytes];
      if (kvIniConfigDirectory(directory, forWriting) != kvSuccess) return kvFailure;
      if (bosJoinPath(store->paths[0], directory, kvU(ini.fileName)) != kvSuccess) return kvFailure;
      store->fileCount = 1;
      return kvSuccess;
    }
  }
  return kvFailure;
}

uint32_t copyDefault(unsigned char* buffer, uint32_t size, const unsigned char* defaultValue) {
  return kvIniCopyText(buffer, size, defaultValue, kvTextLength(defaultValue));
}

uint32_t readKnownIni(const KnownIni& ini, const unsigned char* section, const unsigned char* key,
                      const unsigned char* defaultValue, unsigned char* buffer, uint32_t size) {
  Store store;
  KvIniStyle style = ini.kind == storeOwnFile ? kvIniWindows : kvIniOdbc;
  KvIniText first(style);
  KvIniText second(style);
  KvIniText* texts[2] = {&first, &second};
  int existing = 0;
  {
    KvErrorMark mark;
    if (openStore(ini, &store, 0) == kvSuccess) {
      // A file that cannot be read answers as a missing one.
      for (int i = 0; i < store.fileCount; ++i) {
        int exists = 0;
        kvIgnoreStatus(texts[i]->load(store.paths[i], &exists));
        existing += exists;
      }
    } else {
      store.fileCount = 0;
    }
    mark.dropNew();
  }

  if (isEmptyText(section)) {
    if (!existing) return copyDefault(buffer, size, defaultValue);
    KvIniList list(0);
    KvStatus listed = kvSuccess;
    for (int i = 0; i < store.fileCount && listed == kvSuccess; ++i) listed = texts[i]->listSections(&list);
    // A list cut short for want of memory would pass for the whole one.
    if (listed != kvSuccess || list.getCount() == 0) {
      copyDefault(buffer, size, defaultValue);
      return 0;
    }
    return list.copyWholeItems(buffer, size);
  }

  // A section is taken whole from the first file that has it.
  const KvIniText* holder = nullptr;
  for (int i = 0; i < store.fileCount && !holder; ++i)
    if (texts[i]->hasSection(section)) holder = texts[i];
  if (!holder) return copyDefault(buffer, size, defaultValue);

  if (isEmptyText(key)) {
    KvIniList list(1);
    int found = 0;
    KvStatus listed = holder->listEntries(section, listedValueMaxBytes, &list, &found);
    if (listed != kvSuccess || list.getCount() == 0) return copyDefault(buffer, size, defaultValue);
    return list.copyWholeItems(buffer, size);
  }
  const unsigned char* value;
  uint32_t valueLength;
  if (!holder->findValue(section, key, &value, &valueLength)) return copyDefault(buffer, size, defaultValue);
  return kvIniCopyText(buffer, size, value, valueLength);
}

KvStatus writeKnownIni(const KnownIni& ini, const unsigned char* section, const unsigned char* key,
                       const unsigned char* value) {
  if (isEmptyText(section)) {
    addResourceError(kvMsgInvalidParameter);
    return kvFailure;
  }
  int hasKey = !isEmptyText(key);
  int hasValue = hasKey && !isEmptyText(value);
  KvIniStyle style = ini.kind == storeOwnFile ? kvIniWindows : kvIniOdbc;
  const unsigned char* sectionName;
  {
    uint32_t start = 0;
    while (kvCharIsSpace(section[start])) ++start;
    sectionName = section + start;
    if (!*sectionName) {
      addResourceError(kvMsgInvalidParameter);
      return kvFailure;
    }
  }
  if (kvIniCheckWrite(style, sectionName, hasKey ? key : nullptr, hasValue ? value : nullptr) != kvSuccess)
    return kvFailure;

  Store store;
  if (openStore(ini, &store, hasValue) != kvSuccess) return kvFailure;

  // A data source that only the system file has is copied into the user
  // file before it is changed: the user's copy hides the system's, and must
  // not lose the keys that are not being written.
  KvIniText system(style);
  if (store.fileCount > 1) {
    KvErrorMark mark;
    int exists = 0;
    // An unreadable system file has nothing to copy.
    kvIgnoreStatus(system.load(store.paths[1], &exists));
    mark.dropNew();
  }
  const unsigned char* unused;
  uint32_t unusedLength;
  int systemHasSection = store.fileCount > 1 && system.hasSection(sectionName);
  int systemHasEntry = systemHasSection && hasKey && system.findValue(sectionName, key, &unused, &unusedLength);

  KvIniUpdate update(style);
  int exists = 0;
  if (update.begin(store.paths[0], hasValue || systemHasEntry, &exists) != kvSuccess) return kvFailure;
  if (!exists) return kvSuccess;  // nothing to delete
  KvIniText& text = update.text();
  if (hasKey && !text.hasSection(sectionName) && (hasValue ? systemHasSection : systemHasEntry) &&
      text.appendSectionOf(system, sectionName) != kvSuccess)
    return kvFailure;
  KvStatus status = !hasKey ? text.deleteSection(sectionName)
                    : !hasValue ? text.deleteEntry(sectionName, key)
                                : text.setEntry(sectionName, key, value);
  if (status != kvSuccess) return kvFailure;
  return update.commit();
}

}  // namespace

uint32_t ntGetProfileString(const unsigned char* section, const unsigned char* key,
                            const unsigned char* defaultValue, unsigned char* buffer, uint32_t size,
                            const unsigned char* iniName) {
  if (!buffer || size == 0) return 0;
  if (!defaultValue) defaultValue = kvU("");
  const KnownIni* ini = findKnownIni(iniName);
  if (!ini) return kvGetPrivateProfileString(section, key, defaultValue, buffer, size, iniName);
  return readKnownIni(*ini, section, key, defaultValue, buffer, size);
}

KvStatus ntWriteProfileString(const unsigned char* section, const unsigned char* key,
                              const unsigned char* value, const unsigned char* iniName) {
  const KnownIni* ini = findKnownIni(iniName);
  if (!ini) return kvWritePrivateProfileString(section, key, value, iniName);
  return writeKnownIni(*ini, section, key, value);
}

// ---------------------------------------------------------------- KvIni

KvIni::KvIni() = default;

KvIni::~KvIni() { ramFree(name_); }

KvStatus KvIni::open(const unsigned char* name) {
  if (name_ && close() != kvSuccess) return kvFailure;
  if (!name) {
    addResourceError(kvMsgInvalidParameter);
    return kvFailure;
  }
  name_ = ramAllocStr(name);
  return name_ ? kvSuccess : kvFailure;
}

KvStatus KvIni::close() {
  ramFree(name_);
  name_ = nullptr;
  return kvSuccess;
}

KvStatus KvIni::validState() {
  if (name_) return kvSuccess;
  addResourceError(kvMsgIniNotOpen);
  return kvFailure;
}

KvStatus KvIni::getEntry(const unsigned char* section, const unsigned char* key, unsigned char* buffer,
                         uint16_t size, const unsigned char* defaultValue) {
  if (validState() != kvSuccess) {
    copyDefault(buffer, size, defaultValue ? defaultValue : kvU(""));
    return kvSuccess;
  }
  ntGetProfileString(section, key, defaultValue, buffer, size, name_);
  return kvSuccess;
}

KvStatus KvIni::getEntry(const unsigned char* section, const unsigned char* key, int16_t* value,
                         int16_t defaultValue) {
  *value = defaultValue;
  if (validState() != kvSuccess) return kvSuccess;
  // "&" cannot be a number, so it tells an absent entry from a present one.
  unsigned char text[100];
  ntGetProfileString(section, key, kvU("&"), text, sizeof(text), name_);
  if (std::strcmp(kvC(text), "&") == 0) return kvSuccess;
  int32_t number = 0;
  if (convert(text, &number) != kvSuccess) return kvSuccess;
  if (number < -32768 || number > 65535) {
    addResourceError(kvMsgNumberTooLarge) << text;
    return kvSuccess;
  }
  *value = int16_t(uint16_t(number));
  return kvSuccess;
}

KvStatus KvIni::writeEntry(const unsigned char* section, const unsigned char* key, const unsigned char* value) {
  if (validState() != kvSuccess) return kvFailure;
  return ntWriteProfileString(section, key, value, name_);
}

KvStatus KvIni::deleteEntry(const unsigned char* section, const unsigned char* key) {
  if (validState() != kvSuccess) return kvFailure;
  return ntWriteProfileString(section, key, nullptr, name_);
}
