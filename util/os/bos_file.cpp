// Files of the operating-system layer: opening (with the whole-file flocks
// that stand in for Windows share modes), reading and writing, seeking in 32
// and 64 bits, sizes, closing, deleting, renaming, temporary files, atomic
// replacement, and the map from system error numbers to the library's
// messages.
//
// Reads and writes at an explicit offset are positioned calls (pread,
// pwrite): one system call a page for the temporary store and the block
// cache, and no race with another thread's seek on the same file number.
// The position such a call owes (behind its bytes) is kept in a table and
// given to the system only when a call that uses the position comes.
//
// File numbers handed out are always 3 or more: an open that the system
// answers with 0, 1 or 2 (the process closed a standard stream) is moved to
// a higher number first, so 0 stays "no file" and no data file ever takes the
// place of stdout.
#include "util/os/bos_internal.h"

#include "util/resource.h"
#include "util/util_message_ids.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

namespace {

constexpr uint32_t writePieceBytes = 65534;
constexpr int uniqueNameAttempts = 100;
// Symbolic links followed to the file a replacement writes: the kernel's
// own limit for one name.
constexpr int maxLinkHops = 40;

const char* const inUseReason = " The file is in use by another connection or program.";

struct ErrnoMessage {
  int errorNumber;
  uint16_t messageId;
};

const ErrnoMessage errnoMessages[] = {
    {ENOENT, kvMsgFileNotFound},      {EBADF, kvMsgInvalidHandle},
    {ENOMEM, kvMsgNoMemoryForCommand}, {EACCES, kvMsgAccessDenied},
    {EPERM, kvMsgAccessDenied},        {EMFILE, kvMsgTooManyOpenFiles},
    {ENFILE, kvMsgTooManyOpenFiles},   {ENAMETOOLONG, kvMsgFileNameTooLong},
};

int isFileNumber(int file) { return file >= bosFirstFileNumber; }

// ---------------------------------------------------------------- owed positions

// One slot per file number: 0 when the system's position is the file's
// position, else the position a positioned read or write left owed, plus 1.
// The slots come in chunks made on first use and never freed (plain process
// memory, as the region-lock table, because files may stay open past the last
// task user), so a slot is found without a lock. The chunks cover the file
// numbers below Linux's default ceiling of descriptors (fs.nr_open); a
// larger number is given its position at once.
constexpr int positionChunkSlots = 1024;
constexpr int positionChunks = 1024;
std::atomic<std::atomic<int64_t>*> positionChunkTable[positionChunks];

std::atomic<int64_t>* positionSlot(int file, int make) {
  if (file < 0 || file >= positionChunkSlots * positionChunks) return nullptr;
  std::atomic<std::atomic<int64_t>*>& entry = positionChunkTable[file / positionChunkSlots];
  std::atomic<int64_t>* chunk = entry.load(std::memory_order_acquire);
  if (!chunk && make) {
    auto* made = new (std::nothrow) std::atomic<int64_t>[positionChunkSlots]();
    if (!made) return nullptr;
    if (entry.compare_exchange_strong(chunk, made, std::memory_order_acq_rel)) {
      chunk = made;
    } else {
      delete[] made;  // another thread made it first; chunk holds that one
    }
  }
  return chunk ? chunk + file % positionChunkSlots : nullptr;
}

// Records that the file's position is owed at position.
void owePosition(int file, int64_t position) {
  if (std::atomic<int64_t>* slot = positionSlot(file, 1)) {
    slot->store(position + 1, std::memory_order_relaxed);
  } else {
    lseek(file, off_t(position), SEEK_SET);
  }
}

// Gives the system the position owed, if any, before a call that uses it.
// Returns 0, or the error number of the seek.
int settlePosition(int file) {
  std::atomic<int64_t>* slot = positionSlot(file, 0);
  int64_t owed = slot ? slot->exchange(0, std::memory_order_relaxed) : 0;
  if (owed && lseek(file, off_t(owed - 1), SEEK_SET) < 0) return errno;
  return 0;
}

void forgetPosition(int file) {
  if (std::atomic<int64_t>* slot = positionSlot(file, 0)) slot->store(0, std::memory_order_relaxed);
}

// What the layer keeps about a file number that is closed or handed out
// afresh.
void forgetFile(int file) {
  bosForgetRegionLocks(file);
  forgetPosition(file);
}

// Whether a positioned call that failed with this error would have failed
// at its seek, so that it owes no position.
int failedBeforeMoving(int failure) { return failure == ESPIPE || failure == EINVAL; }

// An offset (-1: the current position) whose end behind length bytes stays
// within the 64-bit positions.
int isValidOffset(int64_t offset, uint32_t length) {
  return offset >= -1 && offset <= INT64_MAX - int64_t(length);
}

// Moves a fresh descriptor above the standard streams; -1 and errno set when
// that fails (the low descriptor is closed either way).
int raiseDescriptor(int fd) {
  if (fd >= bosFirstFileNumber) return fd;
  int high = fcntl(fd, F_DUPFD_CLOEXEC, bosFirstFileNumber);
  int saved = errno;
  close(fd);
  errno = saved;
  return high;
}

// Completes an open: refuses what is not a plain file or device (a FIFO or
// socket would block a read forever), leaves non-blocking mode, raises the
// number and takes the whole-file flock. Returns the file number, or -1 with
// errno set and fd closed.
int finishOpen(int fd, int exclusive, int truncate) {
  struct stat st;
  int failure = 0;
  if (fstat(fd, &st) != 0) {
    failure = errno;
  } else if (S_ISDIR(st.st_mode)) {
    failure = EISDIR;
  } else if (!S_ISREG(st.st_mode) && !S_ISCHR(st.st_mode)) {
    failure = ENXIO;
  } else {
    int statusFlags = fcntl(fd, F_GETFL);
    if (statusFlags < 0 || fcntl(fd, F_SETFL, statusFlags & ~O_NONBLOCK) != 0) failure = errno;
  }
  if (failure) {
    close(fd);
    errno = failure;
    return -1;
  }
  fd = raiseDescriptor(fd);
  if (fd < 0) return -1;
  if (flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0 || (truncate && ftruncate(fd, 0) != 0)) {
    failure = errno;
    close(fd);
    errno = failure;
    return -1;
  }
  forgetFile(fd);
  return fd;
}

int openPath(const char* path, uint32_t flags) {
  int access = (flags & bosOpenCreate) ? O_RDWR | O_CREAT : (flags & bosOpenReadWrite) ? O_RDWR : O_RDONLY;
  int fd = open(path, access | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  if (fd < 0) return -1;
  int exclusive = (flags & bosOpenExclusive) && !(flags & bosOpenCreate);
  return finishOpen(fd, exclusive, flags & bosOpenCreate);
}

// Creates a new file "kv" + six random characters in directory (without a
// trailing "/"), with O_EXCL so that no other process can slip in between
// naming and creating. path receives the name. Returns the raw descriptor or
// -1 with errno set.
int createUnique(const char* directory, mode_t mode, char* path) {
  static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  if (std::strlen(directory) + 10 >= bosPathBytes) {
    errno = ENAMETOOLONG;
    return -1;
  }
  for (int attempt = 0; attempt < uniqueNameAttempts; ++attempt) {
    unsigned char random[6];
    if (getrandom(random, sizeof(random), GRND_NONBLOCK) != ssize_t(sizeof(random))) {
      struct timespec now;
      clock_gettime(CLOCK_MONOTONIC, &now);
      uint64_t mix = uint64_t(now.tv_nsec) * 2654435761u ^ uint64_t(getpid()) << 20 ^ uint64_t(attempt);
      for (unsigned char& byte : random) {
        byte = static_cast<unsigned char>(mix);
        mix = mix >> 8 | mix << 56;
      }
    }
    char suffix[7];
    for (int i = 0; i < 6; ++i) suffix[i] = letters[random[i] % (sizeof(letters) - 1)];
    suffix[6] = 0;
    std::snprintf(path, bosPathBytes, "%s/kv%s", directory, suffix);
    int fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

KvStatus openFailure(const unsigned char* name, int creating, int failure) {
  switch (failure) {
    case EWOULDBLOCK: return bosAddFileError(kvMsgAccessDenied, name, inUseReason);
    case EMFILE:
    case ENFILE: return bosAddFileError(kvMsgTooManyOpenFiles, name, nullptr);
    case ENAMETOOLONG: return bosAddFileError(kvMsgFileNameTooLong, name, nullptr);
    default: return bosAddFileError(creating ? kvMsgCannotCreateFile : kvMsgCannotOpenFile, name, nullptr);
  }
}

KvStatus openTemporary(unsigned char* name, uint32_t flags, int* file) {
  char directory[bosPathBytes];
  if (bosTemporaryDirectory(directory) != kvSuccess) return kvFailure;
  char path[bosPathBytes];
  int fd = createUnique(directory, 0600, path);
  if (fd < 0) {
    int failure = errno;
    size_t length = std::strlen(directory);
    std::memcpy(path, directory, length + 1);
    if (length + sizeof("/kvXXXXXX") <= sizeof(path)) std::strcpy(path + length, "/kvXXXXXX");
    return openFailure(kvU(path), 1, failure);
  }
  fd = finishOpen(fd, flags & bosOpenExclusive, 0);
  if (fd < 0) {
    int failure = errno;
    unlink(path);
    return openFailure(kvU(path), 1, failure);
  }
  std::strcpy(kvC(name), path);
  *file = fd;
  return kvSuccess;
}

// Tries name in each directory of PATH (":"-separated; an empty entry is the
// current directory). Returns the file number or -1 with errno of the last
// attempt.
int openAlongSearchPath(const unsigned char* name, uint32_t flags) {
  const char* searchPath = std::getenv("PATH");
  errno = ENOENT;
  if (!searchPath) return -1;
  for (const char* entry = searchPath;;) {
    const char* end = std::strchr(entry, ':');
    size_t length = end ? size_t(end - entry) : std::strlen(entry);
    const char* directory = length ? entry : ".";
    int directoryBytes = length ? int(length) : 1;
    char candidate[bosPathBytes];
    if (size_t(directoryBytes) + std::strlen(kvC(name)) + 2 < bosPathBytes) {
      std::snprintf(candidate, sizeof(candidate), "%.*s/%s", directoryBytes, directory, kvC(name));
      BosResolvedName resolved;
      if (bosResolveName(kvU(candidate), &resolved) == bosLookupFound) {
        int fd = openPath(resolved.path, flags);
        if (fd >= 0) return fd;
      }
    }
    if (!end) break;
    entry = end + 1;
  }
  errno = ENOENT;
  return -1;
}

// Whether another open of the file holds its flock. A file that cannot be
// opened for the probe counts as not in use (the operation then reports its
// own error).
int isInUse(const char* path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return 0;
  struct stat st;
  int inUse = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flock(fd, LOCK_EX | LOCK_NB) != 0 &&
              errno == EWOULDBLOCK;
  close(fd);
  return inUse;
}

int isSameFile(const char* a, const char* b) {
  struct stat first, second;
  return lstat(a, &first) == 0 && lstat(b, &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

// The directory part of path (absolute or relative), "." when none.
void directoryOf(const char* path, char* directory) {
  const char* lastSlash = std::strrchr(path, '/');
  if (!lastSlash) {
    std::strcpy(directory, ".");
  } else if (lastSlash == path) {
    std::strcpy(directory, "/");
  } else {
    std::memcpy(directory, path, size_t(lastSlash - path));
    directory[lastSlash - path] = 0;
  }
}

// The name of the file that path finally leads to: while the name is a
// symbolic link, the link's text, read against the link's directory when it
// is relative. The result is a name that is not a link: an existing file, or
// none yet (the target of a dangling link, where a new file goes). Returns
// 0, or ELOOP after maxLinkHops links, ENAMETOOLONG, or the error of
// readlink.
int finalTarget(const char* path, char* target) {
  char current[bosPathBytes];
  if (std::strlen(path) >= sizeof(current)) return ENAMETOOLONG;
  std::strcpy(current, path);
  for (int hops = 0;; ++hops) {
    struct stat st;
    if (lstat(current, &st) != 0 || !S_ISLNK(st.st_mode)) break;
    if (hops == maxLinkHops) return ELOOP;
    char link[bosPathBytes];
    ssize_t linkBytes = readlink(current, link, sizeof(link));
    if (linkBytes < 0) return errno;
    if (size_t(linkBytes) >= sizeof(link)) return ENAMETOOLONG;
    link[linkBytes] = 0;
    if (link[0] == '/') {
      std::strcpy(current, link);
      continue;
    }
    // The link's directory is the part of current up to its last "/".
    char* lastSlash = std::strrchr(current, '/');
    size_t keep = lastSlash ? size_t(lastSlash - current) + 1 : 0;
    if (keep + size_t(linkBytes) >= sizeof(current)) return ENAMETOOLONG;
    std::memcpy(current + keep, link, size_t(linkBytes) + 1);
  }
  std::strcpy(target, current);
  return 0;
}

// The reason appended to a replacement's message when the final target
// could not be found.
const char* linkFailureReason(int failure) {
  return failure == ELOOP ? " The name leads through too many symbolic links." : nullptr;
}

// 30042 "Cannot rename '%s1' to '%s2'." and the reason, when given.
KvStatus addRenameError(const unsigned char* from, const unsigned char* to, const char* reason) {
  KvError& error = addResourceError(kvMsgCannotRename) << (from ? from : kvU("")) << (to ? to : kvU(""));
  if (reason && !error.isStatic()) error.appendText(kvU(reason));
  return kvFailure;
}

void syncDirectoryOf(const char* path) {
  char directory[bosPathBytes];
  directoryOf(path, directory);
  int fd = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

// ---------------------------------------------------------------- messages

KvStatus bosAddFileError(uint16_t id, const unsigned char* name, const char* reason) {
  KvError& error = addResourceError(id) << (name ? name : kvU(""));
  if (reason && !error.isStatic()) error.appendText(kvU(reason));
  return kvFailure;
}

KvStatus bosAddLookupError(uint16_t id, const unsigned char* name, BosLookup outcome,
                           const BosResolvedName& resolved) {
  if (outcome == bosLookupTooLong) return bosAddFileError(kvMsgFileNameTooLong, name, nullptr);
  if (outcome != bosLookupAmbiguous) return bosAddFileError(id, name, nullptr);
  char reason[2 * bosNameBytes + 64];
  std::snprintf(reason, sizeof(reason), " The name matches both '%s' and '%s', which differ only in case.",
                resolved.rivalA, resolved.rivalB);
  return bosAddFileError(id, name, reason);
}

KvStatus bosReportErrno(int errorNumber, const unsigned char* name) {
  for (const ErrnoMessage& entry : errnoMessages) {
    if (entry.errorNumber == errorNumber) return bosAddFileError(entry.messageId, name, nullptr);
  }
  return bosAddFileError(kvMsgFileInputOutput, name, nullptr);
}

KvStatus bosTemporaryDirectory(char* directory) {
  const char* fromEnvironment = std::getenv("TMPDIR");
  const char* chosen = fromEnvironment && *fromEnvironment ? fromEnvironment : "/tmp";
  unsigned char path[bosPathBytes];
  if (std::strlen(chosen) >= bosPathBytes) return bosAddFileError(kvMsgFileNameTooLong, kvU(chosen), nullptr);
  std::strcpy(kvC(path), chosen);
  if (bosfpath(path) != kvSuccess) return kvFailure;
  size_t length = std::strlen(kvC(path));
  if (length > 1 && path[length - 1] == '/') path[length - 1] = 0;
  std::strcpy(directory, kvC(path));
  return kvSuccess;
}

// ---------------------------------------------------------------- files

KvStatus bosFileOpen(unsigned char* name, uint32_t flags, int* file) {
  if (flags & (bosOpenTemporary | bosOpenTemporaryOtherDisk)) return openTemporary(name, flags, file);
  int creating = (flags & bosOpenCreate) != 0;
  BosResolvedName resolved;
  BosLookup outcome = bosResolveName(name, &resolved);
  if (outcome != bosLookupFound && outcome != bosLookupMissing)
    return bosAddLookupError(creating ? kvMsgCannotCreateFile : kvMsgCannotOpenFile, name, outcome, resolved);

  int fd = openPath(resolved.path, flags);
  if (fd < 0 && errno == ENOENT && (flags & bosOpenSearchPath) && !creating &&
      !std::strchr(resolved.path, '/')) {
    fd = openAlongSearchPath(name, flags);
  }
  // A file that exists is named as it is spelled on disk (k.dbf, not the
  // K.DBF an application wrote), so that the user can find it.
  if (fd < 0) return openFailure(outcome == bosLookupFound ? kvU(resolved.path) : name, creating, errno);
  *file = fd;
  return kvSuccess;
}

void bosDiskName(const unsigned char* name, unsigned char* out) {
  BosResolvedName resolved;
  const char* chosen = bosResolveName(name, &resolved) == bosLookupFound ? resolved.path : kvC(name);
  size_t length = std::strlen(chosen);
  if (length >= bosPathBytes) length = bosPathBytes - 1;
  std::memmove(out, chosen, length);
  out[length] = 0;
}

KvStatus bosFileRead(int file, int64_t offset, void* buffer, uint32_t length, uint32_t* read) {
  if (!isFileNumber(file)) return bosReportErrno(EBADF, nullptr);
  if (!isValidOffset(offset, length)) return bosReportErrno(EINVAL, nullptr);
  int positioned = offset != -1;
  if (!positioned) {
    if (int failure = settlePosition(file)) return bosReportErrno(failure, nullptr);
  }
  auto* bytes = static_cast<unsigned char*>(buffer);
  uint32_t total = 0;
  int failure = 0;
  while (total < length) {
    ssize_t got = positioned ? pread(file, bytes + total, length - total, off_t(offset + total))
                             : ::read(file, bytes + total, length - total);
    if (got < 0) {
      if (errno == EINTR) continue;
      failure = errno;
      break;
    }
    if (got == 0) break;
    total += uint32_t(got);
  }
  if (positioned && !(failure && total == 0 && failedBeforeMoving(failure)))
    owePosition(file, offset + total);
  if (failure) return bosReportErrno(failure, nullptr);
  if (read) *read = total;
  return kvSuccess;
}

KvStatus bosFileWrite(int file, int64_t offset, const void* buffer, uint32_t length) {
  if (length == 0) return kvSuccess;
  if (!isFileNumber(file)) return bosReportErrno(EBADF, nullptr);
  if (!isValidOffset(offset, length)) return bosReportErrno(EINVAL, nullptr);
  int positioned = offset != -1;
  if (!positioned) {
    if (int failure = settlePosition(file)) return bosReportErrno(failure, nullptr);
  }
  auto* bytes = static_cast<const unsigned char*>(buffer);
  uint32_t done = 0;
  int failure = 0;
  uint16_t shortPieceMessage = 0;
  while (done < length) {
    uint32_t piece = length - done < writePieceBytes ? length - done : writePieceBytes;
    ssize_t written = positioned ? pwrite(file, bytes + done, piece, off_t(offset + done))
                                 : ::write(file, bytes + done, piece);
    if (written < 0) {
      if (errno == EINTR) continue;
      failure = errno;
      break;
    }
    done += uint32_t(written);
    if (uint32_t(written) < piece) {
      shortPieceMessage = written > 0 ? kvMsgFileInputOutput : kvMsgDiskFull;
      break;
    }
  }
  if (positioned && !(failure && done == 0 && failedBeforeMoving(failure))) owePosition(file, offset + done);
  if (shortPieceMessage) return bosAddFileError(shortPieceMessage, nullptr, nullptr);
  if (failure == ENOSPC || failure == EDQUOT) return bosAddFileError(kvMsgDiskFull, nullptr, nullptr);
  if (failure) return bosReportErrno(failure, nullptr);
  return kvSuccess;
}

namespace {

// Where a move from origin by offset would put the position, found without
// moving anything, so that a refused move leaves the file as it was.
// Returns 0 with target set, or the error number.
int seekTarget(int file, int64_t offset, uint16_t origin, int64_t* target) {
  if (!isFileNumber(file)) return EBADF;
  int64_t base = 0;
  switch (origin) {
    case 0:
      break;
    case 1: {
      // The position the layer owes counts, as it would after settling.
      std::atomic<int64_t>* slot = positionSlot(file, 0);
      int64_t owed = slot ? slot->load(std::memory_order_relaxed) : 0;
      base = owed ? owed - 1 : int64_t(lseek(file, 0, SEEK_CUR));
      if (base < 0) return errno;
      break;
    }
    case 2: {
      struct stat status;
      if (fstat(file, &status) != 0) return errno;
      base = int64_t(status.st_size);
      break;
    }
    default:
      return EINVAL;
  }
  if (__builtin_add_overflow(base, offset, target) || *target < 0) return EINVAL;
  return 0;
}

// Moves to a target seekTarget found; the owed position, if any, is
// overridden only when the move succeeds. Returns 0 or the error number.
int moveTo(int file, int64_t target) {
  if (lseek(file, off_t(target), SEEK_SET) < 0) return errno;
  forgetPosition(file);
  return 0;
}

}  // namespace

uint32_t bosFileSeek(int file, int64_t offset, uint16_t origin) {
  int64_t target = 0;
  int failure = seekTarget(file, offset, origin, &target);
  // 0xFFFFFFFF itself is the failure value, so it is out of range too.
  if (!failure && target >= int64_t(0xFFFFFFFFu)) failure = EOVERFLOW;
  if (!failure) failure = moveTo(file, target);
  if (failure) {
    kvIgnoreStatus(bosReportErrno(failure, nullptr));  // the position answers the failure
    return 0xFFFFFFFFu;
  }
  return uint32_t(target);
}

KvStatus bosFileSeek64(int file, int64_t offset, uint16_t origin, int64_t* position) {
  int64_t target = 0;
  int failure = seekTarget(file, offset, origin, &target);
  if (!failure) failure = moveTo(file, target);
  if (failure) return bosReportErrno(failure, nullptr);
  *position = target;
  return kvSuccess;
}

KvStatus bosFileSize(int file, int64_t* size) {
  if (!isFileNumber(file)) return bosReportErrno(EBADF, nullptr);
  struct stat status;
  if (fstat(file, &status) != 0) return bosReportErrno(errno, nullptr);
  *size = int64_t(status.st_size);
  return kvSuccess;
}

KvStatus bosFileReserve(int file, int64_t end) {
  if (!isFileNumber(file)) return bosReportErrno(EBADF, nullptr);
  struct stat status;
  if (fstat(file, &status) != 0) return bosReportErrno(errno, nullptr);
  const int64_t size = int64_t(status.st_size);
  if (end <= size) return kvSuccess;
  // A reservation that keeps the size is not held to the file-size limit by
  // the system, but every write beyond the limit would fail: the limit is
  // checked here, before anything is written.
  struct rlimit limit;
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && uint64_t(end) > limit.rlim_cur)
    return bosAddFileError(kvMsgDiskFull, nullptr, nullptr);
  int failure = 0;
  while (fallocate(file, FALLOC_FL_KEEP_SIZE, off_t(size), off_t(end - size)) != 0) {
    if (errno == EINTR) continue;
    failure = errno;
    break;
  }
  if (failure == 0 || failure == EOPNOTSUPP || failure == ENOSYS) return kvSuccess;
  // Blocks set aside before the disk ran out go back.
  while (ftruncate(file, off_t(size)) != 0 && errno == EINTR) {
  }
  if (failure == ENOSPC || failure == EDQUOT || failure == EFBIG) return bosAddFileError(kvMsgDiskFull, nullptr, nullptr);
  return bosReportErrno(failure, nullptr);
}

KvStatus bosFileTruncate(int file, int64_t size) {
  if (!isFileNumber(file)) return bosReportErrno(EBADF, nullptr);
  if (size < 0) return bosReportErrno(EINVAL, nullptr);
  while (ftruncate(file, off_t(size)) != 0) {
    if (errno == EINTR) continue;
    return bosReportErrno(errno, nullptr);
  }
  return kvSuccess;
}

KvStatus bosFileClose(int file) {
  if (file == 0) return kvSuccess;
  if (!isFileNumber(file)) return bosReportErrno(EBADF, nullptr);
  forgetFile(file);
  // After EINTR the descriptor is gone all the same on Linux.
  if (close(file) != 0 && errno != EINTR) return bosReportErrno(errno, nullptr);
  return kvSuccess;
}

KvStatus bosFileDelete(const unsigned char* name) {
  BosResolvedName resolved;
  BosLookup outcome = bosResolveName(name, &resolved);
  if (outcome == bosLookupMissing) return kvSuccess;
  if (outcome != bosLookupFound) return bosAddLookupError(kvMsgCannotDeleteFile, name, outcome, resolved);
  if (isInUse(resolved.path)) return bosAddFileError(kvMsgCannotDeleteFile, name, inUseReason);
  if (unlink(resolved.path) != 0 && errno != ENOENT) return bosAddFileError(kvMsgCannotDeleteFile, name, nullptr);
  return kvSuccess;
}

KvStatus bosrname(const unsigned char* oldName, const unsigned char* newName) {
  auto failure = [&](const char* reason) { return addRenameError(oldName, newName, reason); };
  BosResolvedName from, to;
  BosLookup fromOutcome = bosResolveName(oldName, &from);
  if (fromOutcome == bosLookupTooLong) return bosAddFileError(kvMsgFileNameTooLong, oldName, nullptr);
  if (fromOutcome == bosLookupAmbiguous) return failure(" The old name matches more than one file.");
  if (fromOutcome == bosLookupMissing) return failure(nullptr);
  BosLookup toOutcome = bosResolveName(newName, &to);
  if (toOutcome == bosLookupTooLong) return bosAddFileError(kvMsgFileNameTooLong, newName, nullptr);
  if (toOutcome == bosLookupAmbiguous) return failure(" The new name matches more than one file.");

  // The new name as written, behind its directories as found on disk. When
  // it finds the old file itself only the case of the name changes.
  char target[bosPathBytes];
  std::strcpy(target, to.path);
  if (toOutcome == bosLookupFound) {
    if (!isSameFile(to.path, from.path)) return failure(" A file of the new name exists already.");
    const char* givenLast = std::strrchr(kvC(newName), '/');
    const char* givenBackslash = std::strrchr(kvC(newName), '\\');
    if (givenBackslash > givenLast) givenLast = givenBackslash;
    givenLast = givenLast ? givenLast + 1 : kvC(newName);
    char* foundLast = std::strrchr(target, '/');
    foundLast = foundLast ? foundLast + 1 : target;
    if (std::strlen(givenLast) != std::strlen(foundLast)) return failure(nullptr);
    std::strcpy(foundLast, givenLast);
    if (std::strcmp(target, from.path) == 0) return kvSuccess;
  }
  if (isInUse(from.path)) return failure(inUseReason);
  if (renameat2(AT_FDCWD, from.path, AT_FDCWD, target, RENAME_NOREPLACE) != 0) {
    // A file system without RENAME_NOREPLACE: the name was checked above.
    if ((errno != EINVAL && errno != ENOSYS) || rename(from.path, target) != 0) return failure(nullptr);
  }
  return kvSuccess;
}

int bosIsSameFile(int file, const unsigned char* name) {
  if (!isFileNumber(file)) return 0;
  BosResolvedName resolved;
  if (bosResolveName(name, &resolved) != bosLookupFound) return 0;
  struct stat opened, named;
  return fstat(file, &opened) == 0 && stat(resolved.path, &named) == 0 && opened.st_dev == named.st_dev &&
         opened.st_ino == named.st_ino;
}

KvStatus bosupdir(int file) {
  if (file == 0) return kvSuccess;
  if (!isFileNumber(file)) return bosReportErrno(EBADF, nullptr);
  // A device (EINVAL) or a read-only file system has nothing to write.
  if (fsync(file) != 0 && errno != EINVAL && errno != EROFS) return bosReportErrno(errno, nullptr);
  return kvSuccess;
}

void bosflush() {}

int bosftest(const unsigned char*) { return 1; }

// ---------------------------------------------------------------- atomic replacement

KvStatus bosReplaceOpen(const unsigned char* target, unsigned char* tempName, int* file) {
  BosResolvedName resolved;
  BosLookup outcome = bosResolveName(target, &resolved);
  if (outcome != bosLookupFound && outcome != bosLookupMissing)
    return bosAddLookupError(kvMsgCannotCreateFile, target, outcome, resolved);
  // A symbolic link stays: the new file goes beside the file it leads to.
  char finalName[bosPathBytes];
  if (int failure = finalTarget(resolved.path, finalName)) {
    if (failure == ENAMETOOLONG) return bosAddFileError(kvMsgFileNameTooLong, target, nullptr);
    return bosAddFileError(kvMsgCannotCreateFile, target, linkFailureReason(failure));
  }
  struct stat st;
  int targetExists = stat(finalName, &st) == 0;
  char directory[bosPathBytes];
  directoryOf(finalName, directory);
  char path[bosPathBytes];
  int fd = createUnique(directory, targetExists ? (st.st_mode & 07777) : 0666, path);
  if (fd < 0) return openFailure(target, 1, errno);
  // The umask must not narrow the target's permissions.
  if ((targetExists && fchmod(fd, st.st_mode & 07777) != 0) || (fd = finishOpen(fd, 1, 0)) < 0) {
    int failure = errno;
    if (fd >= 0) close(fd);
    unlink(path);
    return openFailure(target, 1, failure);
  }
  std::strcpy(kvC(tempName), path);
  *file = fd;
  return kvSuccess;
}

KvStatus bosReplaceCommit(int file, const unsigned char* tempName, const unsigned char* target) {
  auto failure = [&](const char* reason) {
    if (file >= bosFirstFileNumber) {
      forgetFile(file);
      close(file);
    }
    unlink(kvC(tempName));
    return addRenameError(tempName, target, reason);
  };
  if (!isFileNumber(file) || fsync(file) != 0) return failure(nullptr);
  BosResolvedName resolved;
  BosLookup outcome = bosResolveName(target, &resolved);
  if (outcome == bosLookupAmbiguous) return failure(" The name matches more than one file.");
  if (outcome == bosLookupTooLong) return failure(nullptr);
  char finalName[bosPathBytes];
  if (int lookupFailure = finalTarget(resolved.path, finalName))
    return failure(linkFailureReason(lookupFailure));
  forgetFile(file);
  int closed = close(file) == 0 || errno == EINTR;
  file = -1;
  if (!closed || rename(kvC(tempName), finalName) != 0) return failure(nullptr);
  syncDirectoryOf(finalName);
  return kvSuccess;
}

void bosReplaceAbort(int file, const unsigned char* tempName) {
  if (isFileNumber(file)) {
    forgetFile(file);
    close(file);
  }
  if (tempName && *tempName) unlink(kvC(tempName));
}
