// The connection's shared tables: the list of open table files (newest or
// most recently used first), the cache that keeps idle ones open up to
// FileOpenCache, table names and paths, and the disconnect that closes
// them all.
//
// Cache rule (trimTableCache): walking from the head, an idle table (no
// reader, nothing pending) is closed once more idle tables than
// FileOpenCache were met, unless it is cache-preferred (flag 0x20) and
// among the first three such tables met.
#include "base/handles/base_messages.h"
#include "flat/connection/flat_changes.h"
#include "flat/connection/flat_connection.h"
#include "flat/connection/flat_shared_desc.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "util/files/block_cache.h"
#include "util/os/bos.h"
#include "util/charsets/charset.h"
#include "util/memory/ram.h"
#include "util/resource.h"

#include <cstring>
#include <strings.h>

namespace {

enum : uint32_t { preferredKept = 3 };

// Unlinks shared from the list whose head is *head; 0 when not linked.
bool unlink(FlatSharedDesc** head, FlatSharedDesc* shared) {
  for (FlatSharedDesc** link = head; *link; link = &(*link)->getNextLink())
    if (*link == shared) {
      *link = shared->getNext();
      shared->setNext(nullptr);
      return true;
    }
  return false;
}

}  // namespace

uint32_t FlatConnection::linkSharedDesc(FlatSharedDesc* shared) {
  shared->setNext(sharedTables_);
  sharedTables_ = shared;
  return ++tableCounter_;
}

void FlatConnection::removeSharedDesc(FlatSharedDesc* shared, uint16_t force, int alreadyLocked) {
  if (!alreadyLocked) lockTableList();
  if (shared->isIdle() && unlink(&sharedTables_, shared)) {
    uint32_t flags = shared->getFlags();
    if (!force && !(flags & FlatSharedDesc::flagNeverCache) && (flags & FlatSharedDesc::flagCacheable)) {
      shared->setNext(sharedTables_);
      sharedTables_ = shared;
      trimTableCache();
    } else {
      delete shared;
    }
  }
  if (!alreadyLocked) unlockTableList();
}

void FlatConnection::trimTableCache() {
  uint32_t preferredMet = 0;
  uint32_t idleMet = 0;
  FlatSharedDesc** link = &sharedTables_;
  while (FlatSharedDesc* shared = *link) {
    bool preferred = (shared->getFlags() & FlatSharedDesc::flagCachePreferred) != 0;
    if (preferred) ++preferredMet;
    if (shared->isIdle()) {
      ++idleMet;
      if (idleMet > fileOpenCache_ && !(preferred && preferredMet <= preferredKept)) {
        *link = shared->getNext();
        shared->setNext(nullptr);
        delete shared;
        continue;
      }
    }
    link = &shared->getNextLink();
  }
}

bool flatSameTablePath(const unsigned char* a, const unsigned char* b) {
  if (!a || !b) return false;
  for (;; ++a, ++b) {
    unsigned char x = *a == '\\' ? '/' : *a;
    unsigned char y = *b == '\\' ? '/' : *b;
    if (x >= 'a' && x <= 'z') x = uint8_t(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = uint8_t(y - 'a' + 'A');
    if (x != y) return false;
    if (!x) return true;
  }
}

uint16_t FlatConnection::isFileOpen(const unsigned char* name) {
  FlatTableListLock lock(this);
  uint16_t open = 0;
  for (FlatSharedDesc* shared = sharedTables_; shared; shared = shared->getNext()) {
    if (!flatSameTablePath(shared->getName(), name)) continue;
    if (shared->isIdle()) removeSharedDesc(shared, 1, 1);
    else open = 1;
    break;
  }
  return open;
}

KvStatus FlatConnection::setToAllocatedState() {
  {
    FlatTableListLock lock(this);
    // A disconnect discards what a transaction left pending: the tables
    // close without writing it.
    while (FlatSharedDesc* shared = sharedTables_) {
      shared->setUserMask(0);
      shared->clearFlags(FlatSharedDesc::flagPending);
      delete shared->getChanges();
      shared->setChanges(nullptr);
      removeSharedDesc(shared, 1, 1);
    }
  }
  if (drvrSetToAllocatedState() != kvSuccess) return kvFailure;
  scratchStore_.tmpTruncate();
  longValueStore_.tmpTruncate();
  longValueEnd_ = 0;
  if (findState_) bosFindClose(&findState_);
  findActive_ = false;
  ramFree(findBuffer_);
  findBuffer_ = nullptr;
  if (blockCache_) {
    bvmTerm(blockCache_);
    blockCache_ = nullptr;
  }
  clearEngineFlags(flatBlockCache);
  return kvSuccess;
}

// ---------------------------------------------------------------- names

KvStatus FlatConnection::getTable(unsigned char** name, const unsigned char* qualifier, const unsigned char*,
                                  uint16_t first) {
  *name = nullptr;
  if (first) {
    if (findState_) bosFindClose(&findState_);
    findActive_ = false;
    if (!findBuffer_) {
      findBuffer_ = static_cast<unsigned char*>(ramAlloc(bosPathBytes + bosNameBytes));
      if (!findBuffer_) return kvFailure;
    }
    const unsigned char* directory = qualifier && qualifier[0] ? qualifier : databaseDirectory_;
    unsigned char ext[bosNameBytes];
    ext[0] = 0;
    getExt(ext);
    size_t dirBytes = directory ? std::strlen(kvC(directory)) : 0;
    if (dirBytes + std::strlen(kvC(ext)) + 4 >= bosPathBytes) {
      kvAddUtilityError(kvMsgFileNameTooLong) << (directory ? directory : kvU(""));
      return kvFailure;
    }
    std::strcpy(kvC(findBuffer_), directory ? kvC(directory) : "");
    if (dirBytes && findBuffer_[dirBytes - 1] != '/') std::strcat(kvC(findBuffer_), "/");
    std::strcat(kvC(findBuffer_), "*.");
    std::strcat(kvC(findBuffer_), ext[0] ? kvC(ext) : "*");
    findActive_ = true;
  }
  if (!findActive_) return kvSuccess;
  if (bosFindFiles(&findState_, findBuffer_) != kvSuccess) return kvFailure;
  if (!findState_) {
    findActive_ = false;
    return kvSuccess;
  }
  unsigned char* dot = kvU(std::strrchr(kvC(findBuffer_), '.'));
  size_t length = dot ? size_t(dot - findBuffer_) : std::strlen(kvC(findBuffer_));
  *name = ramAllocStr(findBuffer_, uint32_t(length));
  return *name ? kvSuccess : kvFailure;
}

KvStatus FlatConnection::getTableFullPath(const unsigned char* name, unsigned char* path) {
  unsigned char work[bosPathBytes];
  unsigned char base[bosNameBytes];
  unsigned char ext[bosNameBytes];
  size_t length = std::strlen(kvC(name));
  if (length >= sizeof(work)) {
    kvAddUtilityError(kvMsgFileNameTooLong) << name;
    resetLastErrorSqlState(stateSyntax);
    return kvFailure;
  }
  std::memcpy(work, name, length + 1);
  if (bosParseName(work, base, ext, 1) != kvSuccess) {
    resetLastErrorSqlState(stateSyntax);
    return kvFailure;
  }
  unsigned char driverExt[bosNameBytes];
  driverExt[0] = 0;
  getExt(driverExt);
  // Files are found without regard to case, so "EMP.DBF" names emp.dbf.
  if (ext[0] && strcasecmp(kvC(ext), kvC(driverExt)) != 0) {
    addFlatError(stateSyntax, msgBadExtension) << name;
    return kvFailure;
  }
  return bospath(path, databaseDirectory_, name, driverExt);
}

KvStatus FlatConnection::flatStripEngrave(unsigned char* name) {
  if (!(engineFlags_ & flatStripQuotes) || !name) return kvSuccess;
  unsigned char* out = name;
  for (const unsigned char* in = name; *in;) {
    if (*in == '`') {
      if (in[1] == '`') *out++ = '`';
      in += in[1] == '`' ? 2 : 1;
      continue;
    }
    uint32_t bytes = kvCharBytes(in);
    for (uint32_t i = 0; i < bytes; ++i) *out++ = *in++;
  }
  *out = 0;
  return kvSuccess;
}

KvStatus FlatConnection::doesTableExist(const unsigned char* name, uint16_t* exists) {
  *exists = 0;
  unsigned char* copy = ramAllocStr(name);
  if (!copy) return kvFailure;
  KvStatus status = flatStripEngrave(copy);
  unsigned char path[bosPathBytes];
  if (status == kvSuccess) status = resolveTableName(nullptr, copy, path);
  ramFree(copy);
  if (status != kvSuccess) return kvFailure;
  *exists = bosexist(path) ? 1 : 0;
  return kvSuccess;
}

KvStatus FlatConnection::resolveTableName(const unsigned char* qualifier, const unsigned char* name,
                                          unsigned char* path) {
  if (!qualifier) return getTableFullPath(name, path);
  // qualifier "/" name "." extension: the name is a file's as the
  // enumeration gave it (it may hold dots of its own), so the extension
  // is always added; the OS layer finds the file without regard to case.
  unsigned char ext[bosNameBytes];
  ext[0] = 0;
  getExt(ext);
  const size_t qualifierBytes = std::strlen(kvC(qualifier));
  const bool slash = qualifierBytes && qualifier[qualifierBytes - 1] != '/';
  const size_t nameBytes = std::strlen(kvC(name));
  const size_t extBytes = ext[0] ? std::strlen(kvC(ext)) + 1 : 0;
  if (qualifierBytes + slash + nameBytes + extBytes >= bosPathBytes) {
    kvAddUtilityError(kvMsgFileNameTooLong) << name;
    return kvFailure;
  }
  unsigned char* at = path;
  std::memcpy(at, qualifier, qualifierBytes);
  at += qualifierBytes;
  if (slash) *at++ = '/';
  std::memcpy(at, name, nameBytes);
  at += nameBytes;
  if (extBytes) {
    *at++ = '.';
    std::memcpy(at, ext, extBytes - 1);
    at += extBytes - 1;
  }
  *at = 0;
  return kvSuccess;
}
