// Names and directories of the operating-system layer: finding names without
// regard to case, making paths absolute and splitting them, attributes,
// making directories, the current directory and the enumerations of files
// and directories.
//
// Finding a name: the name as written is tried first, so an exact name costs
// one lstat. Otherwise the components are walked from the start; a component
// that does not exist exactly is compared, ignoring ASCII case only, with
// the entries of the directory reached so far. Bytes outside ASCII are
// compared exactly, because names on disk are UTF-8 and folding single bytes
// of a multi-byte character could make different names look alike. The walk
// stops at the first component that has no match (the rest is kept as
// written, which is the name a create makes) or that has two (ambiguous).
#include "util/os/bos_internal.h"

#include "util/memory/ram.h"
#include "util/util_message_ids.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

static_assert(bosPathBytes == PATH_MAX, "path buffers hold PATH_MAX bytes");
static_assert(bosNameBytes == NAME_MAX + 1, "name buffers hold a component");

namespace {

inline char foldAscii(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }

// Copies name into out (bosPathBytes) with "\" read as "/"; 0 when it does
// not fit.
int copySlashed(const unsigned char* name, char* out) {
  size_t length = std::strlen(kvC(name));
  if (length >= bosPathBytes) return 0;
  for (size_t i = 0; i <= length; ++i) out[i] = name[i] == '\\' ? '/' : char(name[i]);
  return 1;
}

int componentsWithinLimit(const char* path) {
  size_t run = 0;
  for (const char* p = path; *p; ++p) {
    run = *p == '/' ? 0 : run + 1;
    if (run > NAME_MAX) return 0;
  }
  return 1;
}

int entryExists(const char* path) {
  struct stat st;
  return lstat(path, &st) == 0;
}

// Looks for component among the entries of directory (empty: "."). Returns
// the number of matches ignoring case (counting stops at two); the first two
// are copied to first and second.
int findIgnoringCase(const char* directory, const char* component, char* first, char* second) {
  DIR* dir = opendir(*directory ? directory : ".");
  if (!dir) return 0;
  int matches = 0;
  while (struct dirent* entry = readdir(dir)) {
    if (!bosSameNameIgnoringCase(entry->d_name, component)) continue;
    std::strcpy(matches == 0 ? first : second, entry->d_name);
    if (++matches == 2) break;
  }
  closedir(dir);
  return matches;
}

// Matches name against a pattern of "*" (any run) and "?" (one byte),
// ignoring ASCII case. Backtracks only to the last "*", so the work is
// bounded by the product of the lengths.
int matchesPattern(const char* pattern, const char* name) {
  if (std::strcmp(pattern, "*.*") == 0) return 1;
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name) {
    if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (*pattern && (*pattern == '?' || foldAscii(*pattern) == foldAscii(*name))) {
      ++pattern;
      ++name;
    } else if (star) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return 0;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == 0;
}

// Why a directory could not be made, for the message of bosMakeDirectory;
// "%s" is the directory.
struct DirectoryFailure {
  int errorNumber;
  const char* reason;
};

const DirectoryFailure directoryFailures[] = {
    {ENOTDIR, " '%s' exists and is not a directory."},
    {EACCES, " Permission to make the directory '%s' was denied."},
    {EPERM, " Permission to make the directory '%s' was denied."},
    {EROFS, " The directory '%s' would be on a read-only file system."},
    {ENOSPC, " There is no room on the disk for the directory '%s'."},
    {EDQUOT, " There is no room on the disk for the directory '%s'."},
};

KvStatus addDirectoryError(const unsigned char* path, const char* directory, int failure) {
  const char* format = " The directory '%s' could not be made.";
  for (const DirectoryFailure& entry : directoryFailures) {
    if (entry.errorNumber == failure) format = entry.reason;
  }
  char reason[bosPathBytes + 96];
  std::snprintf(reason, sizeof(reason), format, directory);
  return bosAddFileError(kvMsgCannotCreateFile, path, reason);
}

// Makes directory with mode unless it exists. Returns 0, or the error
// number (ENOTDIR for something else of that name).
int makeOneDirectory(const char* directory, mode_t mode) {
  struct stat st;
  if (stat(directory, &st) != 0) {
    if (errno != ENOENT) return errno;
    // EEXIST: another process made it meanwhile, checked below.
    if (mkdir(directory, mode) == 0) return 0;
    if (errno != EEXIST) return errno;
    if (stat(directory, &st) != 0) return errno;
  }
  return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

// State of an enumeration (bosFindFiles, bosGetDirectoryNames,
// bosGetFileSystems).
enum SearchKind : int { searchFiles, searchDirectories, searchFileSystems };

struct BosSearch {
  SearchKind kind;
  DIR* dir;  // null for the file systems
  char pattern[bosNameBytes];
};

KvStatus startSearch(void** handle, SearchKind kind) {
  auto* search = static_cast<BosSearch*>(ramAllocZ(sizeof(BosSearch)));
  if (!search) return kvFailure;
  search->kind = kind;
  *handle = search;
  return kvSuccess;
}

int isKind(DIR* dir, const struct dirent* entry, mode_t kind) {
  unsigned char type = entry->d_type;
  if (type == DT_REG) return kind == S_IFREG;
  if (type == DT_DIR) return kind == S_IFDIR;
  if (type != DT_LNK && type != DT_UNKNOWN) return 0;
  struct stat st;
  return fstatat(dirfd(dir), entry->d_name, &st, 0) == 0 && (st.st_mode & S_IFMT) == kind;
}

// The next entry of the search's directory of the given kind that matches
// its pattern (empty: all but "." and ".."), or null.
const char* nextEntry(BosSearch* search, mode_t kind) {
  if (!search->dir) return nullptr;
  while (struct dirent* entry = readdir(search->dir)) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    if (search->pattern[0] && !matchesPattern(search->pattern, name)) continue;
    if (isKind(search->dir, entry, kind)) return name;
  }
  return nullptr;
}

}  // namespace

int bosSameNameIgnoringCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    if (foldAscii(*a) != foldAscii(*b)) return 0;
  }
  return *a == *b;
}

BosLookup bosResolveName(const unsigned char* name, BosResolvedName* resolved) {
  char given[bosPathBytes];
  resolved->rivalA[0] = resolved->rivalB[0] = 0;
  resolved->path[0] = 0;
  if (!name || !copySlashed(name, given) || !componentsWithinLimit(given)) return bosLookupTooLong;
  std::strcpy(resolved->path, given);
  if (!given[0]) return bosLookupMissing;
  if (entryExists(given)) return bosLookupFound;

  char* path = resolved->path;
  size_t used = 0;
  const char* rest = given;
  if (*rest == '/') {
    path[used++] = '/';
    while (*rest == '/') ++rest;
  }
  path[used] = 0;
  while (*rest) {
    const char* end = std::strchr(rest, '/');
    if (!end) end = rest + std::strlen(rest);
    size_t componentBytes = size_t(end - rest);
    char component[bosNameBytes];
    std::memcpy(component, rest, componentBytes);
    component[componentBytes] = 0;

    // The directory searched is path[0, used); the component goes behind it.
    // given fits, and every name written here is no longer than the
    // component it replaces, so path never outgrows given.
    std::memcpy(path + used, component, componentBytes + 1);
    if (!entryExists(path)) {
      path[used] = 0;
      int matches = findIgnoringCase(path, component, resolved->rivalA, resolved->rivalB);
      if (matches >= 2) return bosLookupAmbiguous;
      if (matches == 0) {
        std::strcpy(path + used, rest);
        return bosLookupMissing;
      }
      std::memcpy(path + used, resolved->rivalA, componentBytes + 1);
      resolved->rivalA[0] = 0;
    }
    used += componentBytes;
    rest = end;
    if (*rest == '/') {
      path[used++] = '/';
      path[used] = 0;
      while (*rest == '/') ++rest;
    }
  }
  return entryExists(path) ? bosLookupFound : bosLookupMissing;
}

uint16_t bosfattr(const unsigned char* path) {
  BosResolvedName resolved;
  if (bosResolveName(path, &resolved) != bosLookupFound) return 0;
  struct stat st;
  if (stat(resolved.path, &st) != 0) return 0;
  uint16_t attributes = S_ISDIR(st.st_mode) ? bosAttrDirectory : bosAttrFile;
  if (access(resolved.path, W_OK) != 0) attributes |= bosAttrReadOnly;
  return attributes;
}

int bosexist(const unsigned char* path) { return bosfattr(path) & bosAttrFile; }

KvStatus bosfpath(unsigned char* path) {
  char given[bosPathBytes];
  if (!copySlashed(path, given)) return bosAddFileError(kvMsgFileNameTooLong, path, nullptr);

  // Room for the current directory, a "/" and the given path.
  char joined[2 * bosPathBytes];
  if (given[0] == '/') {
    std::strcpy(joined, given);
  } else {
    if (!getcwd(joined, bosPathBytes)) return bosReportErrno(errno, path);
    std::strcat(joined, "/");
    std::strcat(joined, given);
  }

  // Components are copied behind "/" one by one; ".." cuts back to the "/"
  // before the last one.
  char result[2 * bosPathBytes];
  size_t used = 0;
  result[used++] = '/';
  const char* rest = joined;
  while (*rest) {
    while (*rest == '/') ++rest;
    const char* end = std::strchr(rest, '/');
    if (!end) end = rest + std::strlen(rest);
    size_t length = size_t(end - rest);
    if (length == 0 || (length == 1 && rest[0] == '.')) {
      // nothing
    } else if (length == 2 && rest[0] == '.' && rest[1] == '.') {
      if (used > 1) {
        --used;
        while (result[used - 1] != '/') --used;
      }
    } else {
      std::memcpy(result + used, rest, length);
      used += length;
      result[used++] = '/';
    }
    rest = end;
  }
  size_t givenLength = std::strlen(given);
  int trailingSlash = givenLength > 0 && given[givenLength - 1] == '/';
  if (used > 1 && !trailingSlash) --used;
  if (used >= bosPathBytes) return bosAddFileError(kvMsgFileNameTooLong, path, nullptr);
  std::memcpy(path, result, used);
  path[used] = 0;
  return kvSuccess;
}

KvStatus bosJoinPath(unsigned char* out, const unsigned char* directory, const unsigned char* name) {
  const size_t directoryLength = directory ? std::strlen(kvC(directory)) : 0;
  const size_t nameLength = name ? std::strlen(kvC(name)) : 0;
  if (directoryLength + 1 + nameLength < bosPathBytes) {
    if (directoryLength) std::memcpy(out, directory, directoryLength);
    out[directoryLength] = '/';
    if (nameLength) std::memcpy(out + directoryLength + 1, name, nameLength);
    out[directoryLength + 1 + nameLength] = 0;
    return kvSuccess;
  }
  if (directoryLength + nameLength + 2 > 0xFFFFFFFFu) return bosAddFileError(kvMsgFileNameTooLong, name, nullptr);
  auto* whole = static_cast<unsigned char*>(ramAlloc(uint32_t(directoryLength + nameLength + 2)));
  if (!whole) return kvFailure;
  std::memcpy(whole, directory, directoryLength);
  whole[directoryLength] = '/';
  std::memcpy(whole + directoryLength + 1, name, nameLength);
  whole[directoryLength + 1 + nameLength] = 0;
  KvStatus status = bosAddFileError(kvMsgFileNameTooLong, whole, nullptr);
  ramFree(whole);
  return status;
}

KvStatus bospath(unsigned char* out, const unsigned char* dir, const unsigned char* name,
                 const unsigned char* ext) {
  char copy[bosPathBytes];
  if (!name || !copySlashed(name, copy)) return bosAddFileError(kvMsgFileNameTooLong, name, nullptr);
  size_t length = std::strlen(copy);
  while (length > 0 && (copy[length - 1] == ' ' || (copy[length - 1] >= '\t' && copy[length - 1] <= '\r')))
    --length;
  copy[length] = 0;
  const char* lastSlash = std::strrchr(copy, '/');
  const char* last = lastSlash ? lastSlash + 1 : copy;
  if (length > 0 && copy[length - 1] == '.' && std::strcmp(last, ".") != 0 &&
      std::strcmp(last, "..") != 0) {
    copy[--length] = 0;
  }

  char built[3 * bosPathBytes] = {0};
  if (!lastSlash && dir && *dir) {
    if (!copySlashed(dir, built)) return bosAddFileError(kvMsgFileNameTooLong, name, nullptr);
    if (built[std::strlen(built) - 1] != '/') std::strcat(built, "/");
  }
  std::strcat(built, copy);
  if (!std::strchr(last, '.') && ext && *ext) {
    if (std::strlen(kvC(ext)) >= bosPathBytes) return bosAddFileError(kvMsgFileNameTooLong, name, nullptr);
    std::strcat(built, ".");
    std::strcat(built, kvC(ext));
  }
  if (std::strlen(built) >= bosPathBytes) return bosAddFileError(kvMsgFileNameTooLong, name, nullptr);
  unsigned char full[bosPathBytes];
  std::strcpy(kvC(full), built);
  if (bosfpath(full) != kvSuccess) return kvFailure;
  std::strcpy(kvC(out), kvC(full));
  return kvSuccess;
}

void bosmpath(unsigned char* path) {
  char cwd[bosPathBytes + 1];
  if (!path || !getcwd(cwd, bosPathBytes)) return;
  size_t cwdLength = std::strlen(cwd);
  if (cwd[cwdLength - 1] != '/') {
    cwd[cwdLength++] = '/';
    cwd[cwdLength] = 0;
  }
  // Only a path inside the current directory loses its prefix: cutting a
  // partly shared prefix would leave a name of some other file.
  if (std::strncmp(kvC(path), cwd, cwdLength) != 0) return;
  std::memmove(path, path + cwdLength, std::strlen(kvC(path)) - cwdLength + 1);
}

KvStatus bosParseName(unsigned char* path, unsigned char* base, unsigned char* ext, int report) {
  char* text = kvC(path);
  char* lastSlash = nullptr;
  for (char* p = text; *p; ++p) {
    if (*p == '/' || *p == '\\') lastSlash = p;
  }
  const char* component = lastSlash ? lastSlash + 1 : text;
  size_t componentBytes = std::strlen(component);
  if (componentBytes > NAME_MAX && report) return bosAddFileError(kvMsgFileNameTooLong, path, nullptr);
  size_t dot = componentBytes;
  for (size_t i = componentBytes; i > 1; --i) {
    if (component[i - 1] == '.') {
      dot = i - 1;
      break;
    }
  }
  size_t baseBytes = dot < NAME_MAX ? dot : NAME_MAX;
  size_t extBytes = dot < componentBytes ? componentBytes - dot - 1 : 0;
  if (extBytes > NAME_MAX) extBytes = NAME_MAX;
  std::memmove(ext, component + dot + 1, extBytes);
  ext[extBytes] = 0;
  std::memmove(base, component, baseBytes);
  base[baseBytes] = 0;
  if (lastSlash) {
    lastSlash[1] = 0;
  } else {
    text[0] = 0;
  }
  return kvSuccess;
}

KvStatus bosMakeDirectory(const unsigned char* path, uint32_t mode) {
  BosResolvedName resolved;
  BosLookup outcome = bosResolveName(path, &resolved);
  if (outcome == bosLookupTooLong || outcome == bosLookupAmbiguous)
    return bosAddLookupError(kvMsgCannotCreateFile, path, outcome, resolved);
  // resolved.path holds the existing leading directories as on disk and the
  // rest as written. Each prefix that ends a component is made in turn;
  // empty components ("//", a trailing "/") are skipped.
  char* text = resolved.path;
  size_t length = std::strlen(text);
  if (length == 0) return bosAddFileError(kvMsgCannotCreateFile, path, " No directory was named.");
  size_t lastEnd = length;
  while (lastEnd > 1 && text[lastEnd - 1] == '/') --lastEnd;
  for (size_t end = 1; end <= lastEnd; ++end) {
    if ((end < lastEnd && text[end] != '/') || text[end - 1] == '/') continue;
    mode_t made = mode_t(mode & 07777);
    if (end < lastEnd) made |= S_IWUSR | S_IXUSR;
    char saved = text[end];
    text[end] = 0;
    int failure = makeOneDirectory(text, made);
    if (failure) return addDirectoryError(path, text, failure);
    text[end] = saved;
  }
  return kvSuccess;
}

KvStatus bosgtcwd(unsigned char* buffer, int trailingSlash) {
  char cwd[bosPathBytes];
  if (!getcwd(cwd, sizeof(cwd))) return bosReportErrno(errno, kvU(""));
  size_t length = std::strlen(cwd);
  if (trailingSlash && cwd[length - 1] != '/') {
    if (length + 1 >= bosPathBytes) return bosAddFileError(kvMsgFileNameTooLong, kvU(cwd), nullptr);
    cwd[length++] = '/';
    cwd[length] = 0;
  }
  std::memcpy(buffer, cwd, length + 1);
  return kvSuccess;
}

KvStatus bosstcwd(const unsigned char* dir) {
  if (!dir || !*dir) return kvSuccess;
  BosResolvedName resolved;
  BosLookup outcome = bosResolveName(dir, &resolved);
  if (outcome != bosLookupFound && outcome != bosLookupMissing)
    return bosAddLookupError(kvMsgCannotSetDirectory, dir, outcome, resolved);
  if (chdir(resolved.path) != 0) return bosAddFileError(kvMsgCannotSetDirectory, dir, nullptr);
  return kvSuccess;
}

KvStatus bosFindFiles(void** handle, unsigned char* buffer) {
  if (!*handle) {
    char pattern[bosPathBytes];
    if (!copySlashed(buffer, pattern)) return kvSuccess;
    char* lastSlash = std::strrchr(pattern, '/');
    const char* last = lastSlash ? lastSlash + 1 : pattern;
    if (std::strlen(last) > NAME_MAX) return kvSuccess;
    if (startSearch(handle, searchFiles) != kvSuccess) return kvFailure;
    auto* search = static_cast<BosSearch*>(*handle);
    std::strcpy(search->pattern, *last ? last : "*");
    if (lastSlash) {
      lastSlash[1] = 0;
    } else {
      pattern[0] = 0;
    }
    BosResolvedName resolved;
    if (!pattern[0]) {
      search->dir = opendir(".");
    } else if (bosResolveName(kvU(pattern), &resolved) == bosLookupFound) {
      search->dir = opendir(resolved.path);
    }
  }
  auto* search = static_cast<BosSearch*>(*handle);
  if (const char* name = nextEntry(search, S_IFREG)) {
    std::strcpy(kvC(buffer), name);
  } else {
    bosFindClose(handle);
  }
  return kvSuccess;
}

KvStatus bosGetDirectoryNames(void** handle, unsigned char* buffer) {
  if (!*handle) {
    if (startSearch(handle, searchDirectories) != kvSuccess) return kvFailure;
    static_cast<BosSearch*>(*handle)->dir = opendir(".");
  }
  auto* search = static_cast<BosSearch*>(*handle);
  if (const char* name = nextEntry(search, S_IFDIR)) {
    std::strcpy(kvC(buffer), name);
  } else {
    buffer[0] = 0;
    bosFindClose(handle);
  }
  return kvSuccess;
}

KvStatus bosGetFileSystems(void** handle, unsigned char* buffer) {
  if (!*handle) {
    if (startSearch(handle, searchFileSystems) != kvSuccess) return kvFailure;
    std::strcpy(kvC(buffer), "/");
    return kvSuccess;
  }
  buffer[0] = 0;
  bosFindClose(handle);
  return kvSuccess;
}

void bosFindClose(void** handle) {
  if (!handle || !*handle) return;
  auto* search = static_cast<BosSearch*>(*handle);
  if (search->dir) closedir(search->dir);
  ramFree(search);
  *handle = nullptr;
}
