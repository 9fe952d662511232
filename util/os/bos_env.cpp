// Environment, shared libraries, module names, clock and process of the
// operating-system layer.
//
// Libraries that Windows named NAME06.DLL are Linux shared objects named
// libNAME06.so; a name in either style finds the same file.
#include "util/os/bos_internal.h"
#include "util/error_mark.h"

#include "util/memory/ram.h"
#include "util/util_message_ids.h"

#include <dlfcn.h>
#include <iconv.h>
#include <langinfo.h>
#include <pwd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

int endsWithIgnoringCase(const char* text, const char* tail) {
  size_t textLength = std::strlen(text);
  size_t tailLength = std::strlen(tail);
  return textLength >= tailLength && bosSameNameIgnoringCase(text + textLength - tailLength, tail);
}

// Whether a bare name is already a Linux shared-object name ("x.so",
// "x.so.6").
int isSharedObjectName(const char* name) {
  size_t length = std::strlen(name);
  return (length > 3 && std::strcmp(name + length - 3, ".so") == 0) || std::strstr(name, ".so.") != nullptr;
}

// "lib" + name without a trailing ".dll" (any case) + ".so", into out
// (bosNameBytes); 0 when it does not fit.
int sharedObjectName(const char* windowsName, char* out) {
  size_t length = std::strlen(windowsName);
  if (endsWithIgnoringCase(windowsName, ".dll")) length -= 4;
  if (length == 0 || length + 6 >= bosNameBytes) return 0;
  std::memcpy(out, "lib", 3);
  std::memcpy(out + 3, windowsName, length);
  std::strcpy(out + 3 + length, ".so");
  return 1;
}

void* openLibrary(const char* file) { return dlopen(file, RTLD_NOW | RTLD_LOCAL); }

// Opens the file of path (found without regard to case) when it exists.
void* openExistingLibrary(const char* path) {
  BosResolvedName resolved;
  if (bosResolveName(kvU(path), &resolved) != bosLookupFound) return nullptr;
  return openLibrary(resolved.path);
}

// directory + "/" + file into out (bosPathBytes); 0 when it does not fit.
// Loading a library reports nothing of its own, so the message goes.
int joinPath(const char* directory, const char* file, char* out) {
  KvErrorMark mark;
  if (bosJoinPath(kvU(out), kvU(directory), kvU(file)) == kvSuccess) return 1;
  mark.dropNew();
  return 0;
}

// The absolute file name of the object that holds address, into path
// (bosPathBytes); 0 when the system does not know it.
int findModulePath(const void* address, char* path) {
  Dl_info info;
  if (!address || !dladdr(address, &info) || !info.dli_fname) return 0;
  char found[PATH_MAX];
  const char* name = info.dli_fname;
  if (!*name) {
    // The program itself may show as an empty name.
    ssize_t length = readlink("/proc/self/exe", found, sizeof(found) - 1);
    if (length <= 0) return 0;
    found[length] = 0;
  } else if (!realpath(name, found)) {
    return 0;
  }
  std::strcpy(path, found);
  return 1;
}

}  // namespace

KvStatus bosGetEnv(const unsigned char* name, unsigned char** value) {
  *value = nullptr;
  const char* found = name ? std::getenv(kvC(name)) : nullptr;
  if (!found || !*found) return kvSuccess;
  size_t length = std::strlen(found);
  // Sizes of the sub-allocator are 32-bit; a longer value is not cut short.
  if (length >= 0xFFFFFFFFu) return bosReportErrno(ENOMEM, nullptr);
  *value = ramAllocStr(kvU(found), uint32_t(length));
  return *value ? kvSuccess : kvFailure;
}

int bosPasswdHome(unsigned char* path, uint32_t size) {
  if (size) path[0] = 0;
  struct passwd entry;
  struct passwd* found = nullptr;
  char text[16384];
  if (getpwuid_r(getuid(), &entry, text, sizeof(text), &found) != 0 || !found || !found->pw_dir) return 0;
  size_t length = std::strlen(found->pw_dir);
  if (length >= size) return 0;
  std::memcpy(path, found->pw_dir, length + 1);
  return 1;
}

KvStatus bosdllname(unsigned char* name, uint32_t size) {
  size_t length = std::strlen(kvC(name));
  if (length + sizeof(BOS_RELEASE_SUFFIX) > size) return bosAddFileError(kvMsgFileNameTooLong, name, nullptr);
  std::memcpy(name + length, BOS_RELEASE_SUFFIX, sizeof(BOS_RELEASE_SUFFIX));
  return kvSuccess;
}

void* bosLoadLibrary(const unsigned char* name, int ownDirectory) {
  if (!name || !*name || std::strlen(kvC(name)) >= bosPathBytes) return nullptr;
  char path[bosPathBytes];
  char file[bosNameBytes];
  if (ownDirectory) {
    if (!findModulePath(reinterpret_cast<const void*>(&bosLoadLibrary), path)) return nullptr;
    *std::strrchr(path, '/') = 0;
    size_t length = std::strlen(kvC(name));
    if (length + sizeof("lib" BOS_RELEASE_SUFFIX ".so") > bosNameBytes) return nullptr;
    std::strcpy(file, "lib");
    std::strcat(file, kvC(name));
    std::strcat(file, BOS_RELEASE_SUFFIX ".so");
    char full[bosPathBytes];
    return joinPath(path, file, full) ? openExistingLibrary(full) : nullptr;
  }

  for (size_t i = 0;; ++i) {
    path[i] = name[i] == '\\' ? '/' : char(name[i]);
    if (!name[i]) break;
  }
  char* lastSlash = std::strrchr(path, '/');
  if (!lastSlash) {
    if (isSharedObjectName(path)) return openLibrary(path);
    return sharedObjectName(path, file) ? openLibrary(file) : nullptr;
  }
  if (void* library = openExistingLibrary(path)) return library;
  if (!sharedObjectName(lastSlash + 1, file)) return nullptr;
  *lastSlash = 0;
  char full[bosPathBytes];
  return joinPath(path, file, full) ? openExistingLibrary(full) : nullptr;
}

void* bosGetProcAddress(void* library, const char* name) {
  return library && name ? dlsym(library, name) : nullptr;
}

void bosFreeLibrary(void* library) {
  if (library) dlclose(library);
}

KvStatus bosGetModulePath(const void* address, unsigned char* path) {
  if (!findModulePath(address, kvC(path))) return bosAddFileError(kvMsgCannotOpenFile, nullptr, nullptr);
  return kvSuccess;
}

KvStatus bosGetModuleName(const void* address, unsigned char* name) {
  unsigned char path[bosPathBytes];
  if (bosGetModulePath(address, path) != kvSuccess) return kvFailure;
  const char* last = std::strrchr(kvC(path), '/');
  last = last ? last + 1 : kvC(path);
  if (std::strlen(last) >= bosNameBytes) return bosAddFileError(kvMsgFileNameTooLong, path, nullptr);
  std::strcpy(kvC(name), last);
  return kvSuccess;
}

namespace {

void fillTime(os_time* now, const struct tm& when, long nanoseconds) {
  now->day = uint16_t(when.tm_mday);
  now->month = uint16_t(when.tm_mon + 1);
  now->year = uint16_t(when.tm_year + 1900);
  now->hour = uint16_t(when.tm_hour);
  now->minute = uint16_t(when.tm_min);
  now->second = uint16_t(when.tm_sec > 59 ? 59 : when.tm_sec);
  now->millisecond = uint16_t(nanoseconds / 1000000);
}

}  // namespace

void bosdate(os_time* now) {
  struct timespec clock;
  clock_gettime(CLOCK_REALTIME, &clock);
  struct tm utc;
  gmtime_r(&clock.tv_sec, &utc);
  fillTime(now, utc, clock.tv_nsec);
}

void bosLocalDate(os_time* now) {
  struct timespec clock;
  clock_gettime(CLOCK_REALTIME, &clock);
  struct tm local;
  localtime_r(&clock.tv_sec, &local);
  fillTime(now, local, clock.tv_nsec);
}

void bossleep(uint16_t ms) {
  struct timespec left = {ms / 1000, long(ms % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

void bostskid(uint32_t* taskId) { *taskId = uint32_t(getpid()); }

uint32_t bosSetHandleCount(uint32_t count) {
  struct rlimit files;
  if (getrlimit(RLIMIT_NOFILE, &files) != 0) return 0;
  if (files.rlim_cur < count) {
    rlim_t wanted = files.rlim_max == RLIM_INFINITY || count < files.rlim_max ? count : files.rlim_max;
    struct rlimit raised = {wanted, files.rlim_max};
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) files.rlim_cur = wanted;
  }
  return files.rlim_cur > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(files.rlim_cur);
}

namespace {
std::atomic<int (*)()> abortPoll{nullptr};
}  // namespace

int bosabort() {
  int (*poll)() = abortPoll.load(std::memory_order_acquire);
  return poll ? poll() : 0;
}

void bosSetAbortPoll(int (*poll)()) { abortPoll.store(poll, std::memory_order_release); }

// ---------------------------------------------------------------- code sets

void bosLocaleCodeSet(char* name, uint32_t size) {
  if (size == 0) return;
  const char* codeSet = nl_langinfo(CODESET);
  if (!codeSet) codeSet = "";
  std::strncpy(name, codeSet, size - 1);
  name[size - 1] = 0;
}

KvStatus bosAnsiInCodeSet(const char* codeSet, unsigned char (*bytes)[4], uint8_t* lengths) {
  iconv_t converter = iconv_open(codeSet, "WINDOWS-1252");
  if (converter == iconv_t(-1)) return kvFailure;
  for (int ansi = 0; ansi < 256; ++ansi) {
    char in[1] = {char(ansi)};
    char out[8];
    char* inPointer = in;
    char* outPointer = out;
    size_t inLeft = 1;
    size_t outLeft = sizeof(out);
    lengths[ansi] = 0;
    // A byte that 1252 leaves undefined, or a character the code set lacks,
    // stops the conversion; the state is reset for the next byte.
    const size_t done = iconv(converter, &inPointer, &inLeft, &outPointer, &outLeft);
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    const size_t written = sizeof(out) - outLeft;
    if (done == size_t(-1) || inLeft != 0 || written == 0 || written > 4) continue;
    std::memcpy(bytes[ansi], out, written);
    lengths[ansi] = uint8_t(written);
  }
  iconv_close(converter);
  return kvSuccess;
}
