// Byte-range locks of the operating-system layer, with Windows region-lock
// rules on Linux open-file-description locks.
//
// The kernel merges adjacent and overlapping locks of one open file and
// unlocks any sub-range, so the Windows rules (no merging, no nesting, an
// unlock names exactly a range that was locked) are kept here: a table
// records, for each file number, the ranges its handle holds. A held range
// never overlaps another of the same handle, so unlocking one exact range in
// the kernel leaves every other held range locked.
//
// The table lives in plain process memory, not in the sub-allocator, because
// files may stay open across the end of the last task user.
#include "util/os/bos_internal.h"

#include "util/error_list.h"
#include "util/util_message_ids.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>

namespace {

struct HeldRange {
  uint32_t offset;
  uint32_t length;
};

struct FileRanges {
  int file;
  uint32_t count;
  uint32_t capacity;
  HeldRange* ranges;
};

// Never destroyed: files may be closed by static destructors of other
// libraries after this one's statics are gone.
std::mutex& tableMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}
FileRanges* table = nullptr;  // guarded by tableMutex()
uint32_t tableCount = 0;
uint32_t tableCapacity = 0;

FileRanges* findFile(int file) {
  for (uint32_t i = 0; i < tableCount; ++i) {
    if (table[i].file == file) return &table[i];
  }
  return nullptr;
}

void removeFile(FileRanges* entry) {
  std::free(entry->ranges);
  *entry = table[--tableCount];
}

// Grows a malloc'd array of count elements to hold one more; 0 when memory
// is short.
template <class T>
int makeRoomForOne(T** array, uint32_t count, uint32_t* capacity) {
  if (count < *capacity) return 1;
  uint32_t grown = *capacity ? *capacity * 2 : 4;
  void* moved = std::realloc(*array, sizeof(T) * grown);
  if (!moved) return 0;
  *array = static_cast<T*>(moved);
  *capacity = grown;
  return 1;
}

// The range [offset, offset + length) in 64 bits, so that a range near the
// top of the 32-bit offsets does not wrap to the start of the file.
int overlaps(const HeldRange& held, uint32_t offset, uint32_t length) {
  uint64_t heldEnd = uint64_t(held.offset) + held.length;
  uint64_t end = uint64_t(offset) + length;
  return held.offset < end && offset < heldEnd;
}

// Whether held holds every byte of [offset, offset + length).
int covers(const HeldRange& held, uint32_t offset, uint32_t length) {
  return held.offset <= offset && uint64_t(offset) + length <= uint64_t(held.offset) + held.length;
}

struct flock describeRange(short type, uint32_t offset, uint32_t length) {
  struct flock range = {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = off_t(offset);
  range.l_len = off_t(length);
  return range;
}

int kernelLock(int file, short type, uint32_t offset, uint32_t length) {
  struct flock range = describeRange(type, offset, length);
  return fcntl(file, F_OFD_SETLK, &range);
}

KvStatus lockFailure(int errorNumber) {
  if (errorNumber == EAGAIN || errorNumber == EACCES) return bosAddFileError(kvMsgRegionLocked, nullptr, nullptr);
  if (errorNumber == ENOLCK) return bosAddFileError(kvMsgLockResources, nullptr, nullptr);
  return bosReportErrno(errorNumber, nullptr);
}

KvStatus lockRange(int file, uint32_t offset, uint32_t length) {
  FileRanges* entry = findFile(file);
  if (entry) {
    for (uint32_t i = 0; i < entry->count; ++i) {
      if (overlaps(entry->ranges[i], offset, length)) return bosAddFileError(kvMsgRegionLocked, nullptr, nullptr);
    }
  }
  // Linux refuses a write lock on a descriptor opened read-only.
  int statusFlags = fcntl(file, F_GETFL);
  if (statusFlags < 0) return bosReportErrno(errno, nullptr);
  short type = (statusFlags & O_ACCMODE) == O_RDONLY ? F_RDLCK : F_WRLCK;
  if (kernelLock(file, type, offset, length) != 0) return lockFailure(errno);

  if (!entry) {
    if (!makeRoomForOne(&table, tableCount, &tableCapacity)) {
      kernelLock(file, F_UNLCK, offset, length);
      KvErrorKeeper::addMemoryError();
      return kvFailure;
    }
    entry = &table[tableCount++];
    *entry = FileRanges{file, 0, 0, nullptr};
  }
  if (!makeRoomForOne(&entry->ranges, entry->count, &entry->capacity)) {
    kernelLock(file, F_UNLCK, offset, length);
    if (entry->count == 0) removeFile(entry);
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  entry->ranges[entry->count++] = HeldRange{offset, length};
  return kvSuccess;
}

KvStatus unlockRange(int file, uint32_t offset, uint32_t length) {
  FileRanges* entry = findFile(file);
  uint32_t index = 0;
  while (entry && index < entry->count &&
         (entry->ranges[index].offset != offset || entry->ranges[index].length != length)) {
    ++index;
  }
  if (!entry || index == entry->count) return bosAddFileError(kvMsgCannotUnlock, nullptr, nullptr);
  if (kernelLock(file, F_UNLCK, offset, length) != 0) return bosReportErrno(errno, nullptr);
  entry->ranges[index] = entry->ranges[--entry->count];
  if (entry->count == 0) removeFile(entry);
  return kvSuccess;
}

}  // namespace

void bosForgetRegionLocks(int file) {
  std::lock_guard<std::mutex> guard(tableMutex());
  if (FileRanges* entry = findFile(file)) removeFile(entry);
}

KvStatus bosRegionLock(int file, uint16_t unlock, uint32_t offset, uint32_t length) {
  if (file == 0) return kvSuccess;
  if (file < bosFirstFileNumber) return bosReportErrno(EBADF, nullptr);
  // A length of 0 would mean "to the end of the file and beyond" to the
  // kernel; a Windows lock of no bytes locks nothing.
  if (length == 0) return kvSuccess;
  std::lock_guard<std::mutex> guard(tableMutex());
  return unlock ? unlockRange(file, offset, length) : lockRange(file, offset, length);
}

int bosRegionHeldInProcess(int file, uint32_t offset, uint32_t length) {
  if (file < bosFirstFileNumber || length == 0) return 0;
  struct stat own;
  if (fstat(file, &own) != 0) return 0;
  std::lock_guard<std::mutex> guard(tableMutex());
  for (uint32_t i = 0; i < tableCount; ++i) {
    const FileRanges& entry = table[i];
    if (entry.file == file) continue;
    int covering = 0;
    for (uint32_t r = 0; r < entry.count && !covering; ++r) covering = covers(entry.ranges[r], offset, length);
    // Only handles holding such a range are asked which file they are.
    struct stat other;
    if (covering && fstat(entry.file, &other) == 0 && other.st_dev == own.st_dev && other.st_ino == own.st_ino)
      return 1;
  }
  return 0;
}

KvStatus bosRegionTest(int file, uint32_t offset, uint32_t length, int* lockedByOther) {
  if (file == 0 || length == 0) {
    *lockedByOther = 0;
    return kvSuccess;
  }
  if (file < bosFirstFileNumber) return bosReportErrno(EBADF, nullptr);
  // A write lock conflicts with every lock another handle holds, read or
  // write, open-file-description or classic.
  struct flock range = describeRange(F_WRLCK, offset, length);
  if (fcntl(file, F_OFD_GETLK, &range) != 0) return bosReportErrno(errno, nullptr);
  *lockedByOther = range.l_type != F_UNLCK;
  return kvSuccess;
}
