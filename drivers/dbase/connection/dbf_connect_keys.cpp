// The dBASE driver's connection keys (DbfConnection::connectInit), read
// after the engine's: Compatibility (COMP), LockCompatibility (LCOMP),
// Locking (LCK), CreateType (CT, default DBASE5) and MacFileInfo (MFI).
// Words are compared without regard to case; an unknown lock word selects
// the default, an unknown dialect fails the connect with S1009.
#include "base/handles/base_messages.h"
#include "drivers/dbase/connection/dbf_connection.h"
#include "util/memory/ram.h"

#include <cstring>
#include <strings.h>

namespace {

const char defaultMacFileInfo[] = "FOXX,F+DB,F+DT,F+IX,FCDX";

const struct {
  const char* word;
  uint32_t scheme;
} lockSchemes[] = {
    {"K+VVirtual", dbfLockKvVirtual},
    {"K+V", dbfLockKv},
    {"FOX", dbfLockFox},
    {"CLIPPER", dbfLockClipper},
};

const struct {
  const char* word;
  uint16_t level;
} lockLevels[] = {
    {"NONE", dbfLockNone},
    {"FILE", dbfLockFile},
};

const char extensionNames[dbfExtCount][4] = {"DBF", "DBT", "FPT", "MDX", "NDX", "NTX", "CDX", "IDX"};

int same(const unsigned char* value, const char* word) {
  return value && strcasecmp(reinterpret_cast<const char*>(value), word) == 0;
}

}  // namespace

KvStatus DbfConnection::connectInit(KvValueParser* parser) {
  if (getConnectOptions(parser) != kvSuccess) return kvFailure;

  unsigned char* value = nullptr;
  if (getConnectionValue(parser, "COMP", "Compatibility", nullptr, &value, nullptr) != kvSuccess)
    return kvFailure;
  ansiCompare_ = same(value, "DBASE") ? 0 : 1;
  ramFree(value);

  value = nullptr;
  if (getConnectionValue(parser, "LCOMP", "LockCompatibility", nullptr, &value, nullptr) != kvSuccess)
    return kvFailure;
  lockScheme_ = dbfLockDbase;
  for (const auto& entry : lockSchemes)
    if (same(value, entry.word)) lockScheme_ = entry.scheme;
  ramFree(value);

  value = nullptr;
  if (getConnectionValue(parser, "LCK", "Locking", nullptr, &value, nullptr) != kvSuccess) return kvFailure;
  lockingLevel_ = dbfLockRecord;
  for (const auto& entry : lockLevels)
    if (same(value, entry.word)) lockingLevel_ = entry.level;
  ramFree(value);

  value = nullptr;
  if (getConnectionValue(parser, "CT", "CreateType", "DBASE5", &value, nullptr) != kvSuccess) return kvFailure;
  int known = setCreateType(value && value[0] ? value : kvU("DBASE5"));
  ramFree(value);
  if (!known) {
    addOdbcError(stateArgumentValue);
    return kvFailure;
  }
  if (pendingCreateType_ != noPendingCreateType) {
    useCreateType(pendingCreateType_);
    pendingCreateType_ = noPendingCreateType;
  }

  std::memcpy(extensions_, extensionNames, sizeof(extensions_));

  value = nullptr;
  if (getConnectionValue(parser, "MFI", "MacFileInfo", defaultMacFileInfo, &value, nullptr) != kvSuccess)
    return kvFailure;
  ramFree(macFileInfo_);
  macFileInfo_ = value;
  return kvSuccess;
}
