// The connection keys of a file database (FlatConnection::getConnectOptions):
// where the tables lie, character set, sort order, the table cache, query
// evaluation, the block cache and commit safety. Each key is looked up by
// its long name, then its short one, in the connection string and then in
// the data source's section.
#include "base/handles/base_messages.h"
#include "flat/connection/flat_connection.h"
#include "flat/connection/flat_info.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "util/files/block_cache.h"
#include "util/os/bos.h"
#include "util/profiles/profile.h"
#include "util/memory/ram.h"
#include "util/containers/text_convert.h"

#include <cstring>
#include <strings.h>

namespace {

// A key's value (a new copy, or null when absent or empty) through the
// framework's lookup.
KvStatus keyValue(FlatConnection* connection, KvValueParser* parser, const char* shortKey, const char* longKey,
                  const char* defaultValue, unsigned char** out) {
  if (connection->getConnectionValue(parser, shortKey, longKey, defaultValue, out, nullptr) != kvSuccess)
    return kvFailure;
  if (*out && !(*out)[0]) {
    ramFree(*out);
    *out = nullptr;
  }
  return kvSuccess;
}

KvStatus numberKey(FlatConnection* connection, KvValueParser* parser, const char* shortKey, const char* longKey,
                   const char* defaultValue, uint32_t* number) {
  unsigned char* value = nullptr;
  if (keyValue(connection, parser, shortKey, longKey, defaultValue, &value) != kvSuccess) return kvFailure;
  KvStatus status = convert(value ? value : kvU(defaultValue), number);
  ramFree(value);
  return status;
}

// The database directory as given, checked when ValidateDB asks for it: its
// full path (a trailing "/" removed, the root kept) must be a directory.
KvStatus validateDirectory(const unsigned char* directory) {
  unsigned char path[bosPathBytes];
  size_t length = std::strlen(kvC(directory));
  if (length >= sizeof(path)) {
    addFlatError(stateGeneral, msgFileNotExist) << directory;
    return kvFailure;
  }
  std::memcpy(path, directory, length + 1);
  if (bosfpath(path) != kvSuccess) return kvFailure;
  size_t full = std::strlen(kvC(path));
  if (full > 1 && path[full - 1] == '/') path[full - 1] = 0;
  if (!(bosfattr(path) & bosAttrDirectory)) {
    addFlatError(stateGeneral, msgFileNotExist) << directory;
    return kvFailure;
  }
  return kvSuccess;
}

}  // namespace

KvStatus FlatConnection::getConnectOptions(KvValueParser* parser) {
  unsigned char* directory = nullptr;
  if (keyValue(this, parser, "DB", "Database", nullptr, &directory) != kvSuccess) return kvFailure;
  if (!directory && keyValue(this, parser, "DD", "DataDirectory", nullptr, &directory) != kvSuccess)
    return kvFailure;

  uint32_t validate = 0;
  if (numberKey(this, parser, "VDB", "ValidateDB", "0", &validate) != kvSuccess) {
    ramFree(directory);
    return kvFailure;
  }
  if (directory && validate && validateDirectory(directory) != kvSuccess) {
    ramFree(directory);
    return kvFailure;
  }
  if (!directory) {
    // The current directory, whatever its length.
    unsigned char current[bosPathBytes];
    if (bosgtcwd(current, 0) != kvSuccess) return kvFailure;
    directory = ramAllocStr(current);
    if (!directory) return kvFailure;
  }
  ramFree(databaseDirectory_);
  databaseDirectory_ = directory;

  unsigned char* value = nullptr;
  if (keyValue(this, parser, "CS", "Charset", nullptr, &value) != kvSuccess) return kvFailure;
  if (value && strcasecmp(kvC(value), "ANSI") != 0 && strcasecmp(kvC(value), "WINDOWS") != 0)
    addEngineFlags(flatOem);
  ramFree(value);

  unsigned char language[16];
  ntGetProfileString(kvU("Intl"), kvU("sLanguage"), kvU("eng"), language, sizeof(language), kvU("WIN.INI"));
  if (!((language[0] == 'e' && language[1] == 'n') || (language[0] == 'E' && language[1] == 'N')))
    addEngineFlags(flatIntlSort | flatNotEnglish);

  if (keyValue(this, parser, "IS", "IntlSort", nullptr, &value) != kvSuccess) return kvFailure;
  if (value) {
    if (value[0] == '1') addEngineFlags(flatIntlSort);
    else clearEngineFlags(flatIntlSort);
  }
  ramFree(value);

  uint32_t number = 0;
  if (numberKey(this, parser, "FOC", "FileOpenCache", "0", &number) != kvSuccess) return kvFailure;
  fileOpenCache_ = uint16_t(number > 0xFFFF ? 0xFFFF : number);

  if (keyValue(this, parser, "DQ", "DeferQueryEvaluation", nullptr, &value) != kvSuccess) return kvFailure;
  if (!value || value[0] == '1') addEngineFlags(flatDeferQuery);
  else clearEngineFlags(flatDeferQuery);
  ramFree(value);

  if (numberKey(this, parser, "CSZ", "CacheSize", "4", &number) != kvSuccess) return kvFailure;
  cacheChunks_ = bvmChunksForCacheSize(number);
  if (!blockCache_) {
    blockCache_ = bvmInit(cacheChunks_);
    if (!blockCache_) {
      KvErrorKeeper::addMemoryError();
      return kvFailure;
    }
  }
  addEngineFlags(flatBlockCache);

  if (keyValue(this, parser, "USF", "UltraSafeCommit", nullptr, &value) != kvSuccess) return kvFailure;
  if (value && value[0] == '1') addEngineFlags(flatUltraSafeCommit);
  else clearEngineFlags(flatUltraSafeCommit);
  ramFree(value);

  // The engine's SQLGetInfo answers come second, behind the driver's.
  if (!driverInfo_) driverInfo_ = getInfoChain() ? getInfoChain() : &flatInfoTable();
  if (driverInfo_ == &flatInfoTable()) {
    setInfoChain(driverInfo_);
  } else {
    engineLink_ = flatInfoTable();
    engineLink_.next = driverInfo_->next;
    driverLink_ = *driverInfo_;
    driverLink_.next = &engineLink_;
    setInfoChain(&driverLink_);
  }
  return kvSuccess;
}
