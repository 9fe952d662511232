// The operating-system layer: files, byte-range locks, names and
// directories, environment, shared libraries, clock and a text-line splitter,
// behind small free functions. No other code of the system calls open(),
// fcntl(), dlopen(), getenv() and their kin.
//
// Conventions of every function here:
// - A failure adds exactly one message to the calling thread's current error
//   list (util/error_list.h) and returns kvFailure, or null / 0 where the
//   result is a value; the caller's buffers and files are left unchanged.
//   Messages name files as the caller wrote them, except that bosFileOpen
//   names a file it found as it is spelled on disk (bosDiskName).
// - File numbers are Linux descriptors. The layer never hands out 0, 1 or 2
//   (a library must not turn the process's standard streams into data
//   files), so 0 keeps its meaning "no file".
// - Names are bytes, passed through without code-page conversion or case
//   change. "/" separates components and a "\" is read as "/" (names written
//   by applications for Windows). There are no drive letters, no 8.3 rule and
//   no reserved device names: the limits are Linux's own (NAME_MAX bytes a
//   component, PATH_MAX bytes a path), reported as 1524.
// - Existing files are found without regard to ASCII case: every component of
//   a name that does not exist exactly is matched against its directory's
//   entries ignoring case. An exact name always wins; two entries that
//   differ only in case make the name ambiguous, which is reported, never
//   resolved by picking one. A file the layer creates gets the name exactly
//   as the caller wrote it.
// - Buffers that receive a path hold bosPathBytes bytes; buffers that receive
//   a single name component hold bosNameBytes bytes.
#pragma once

#include "util/kv_types.h"

enum : uint32_t {
  bosPathBytes = 4096,  // PATH_MAX: a path and its terminator
  bosNameBytes = 256,   // NAME_MAX + 1: one component and its terminator
};

// ---------------------------------------------------------------- files

// Flag bits of bosFileOpen.
enum : uint32_t {
  // Create, or truncate when the file exists; read-write and shared whatever
  // bosOpenReadWrite and bosOpenExclusive say. Mode rw-rw-rw- less the umask.
  bosOpenCreate = 1,
  bosOpenReadWrite = 2,     // else read-only
  bosOpenSearchPath = 16,   // a missing relative name is tried in each PATH directory
  bosOpenExclusive = 32,    // no other open of the file, in any process, while open
  bosOpenTemporary = 64,    // a new unique file in the temporary directory
  bosOpenTemporaryOtherDisk = 128,  // as bosOpenTemporary (Linux has no drives)
};

// Opens a file and returns its number through file.
//
// name: with bosOpenTemporary (or bosOpenTemporaryOtherDisk) a buffer of
// bosPathBytes that receives the absolute name of a new file
// "$TMPDIR/kvXXXXXX" ("/tmp" when TMPDIR is unset or empty), created
// atomically (never named first and opened after), read-write, mode
// rw-------; otherwise the name of the file, which is only read.
//
// Every open takes a whole-file flock: LOCK_EX|LOCK_NB with bosOpenExclusive
// (and no create), else LOCK_SH|LOCK_NB, so an exclusive open fails while any
// other open of the file exists, in this process or another, and every open
// fails while an exclusive one exists. A create takes the shared lock before
// it truncates, so it never truncates a file another handle holds
// exclusively.
//
// Names such as "CON", "aux.txt" or "lpt1.dbf" are ordinary file names on
// Linux and open like any other. Only regular files and character devices
// (such as /dev/null) open: a directory is refused, and so are FIFOs and
// sockets, whose reads could wait forever.
//
// Messages: 30040 "Cannot open file" (1501 "Cannot create file" with
// bosOpenCreate or a temporary file) for a missing file and most other
// failures; 1508 when another open holds the file in a conflicting way (the
// text says so); 30040 / 1501 naming the rival entries when the name is
// ambiguous; 30045 when the process is out of descriptors; 1524 for a name
// beyond the Linux limits.
KV_UTIL_API KvStatus bosFileOpen(unsigned char* name, uint32_t flags, int* file);

// The file position. A read or write at an explicit offset (not -1) is one
// positioned system call (pread, pwrite per piece) that neither uses nor
// moves the system's file position; afterwards the layer owes the position
// behind the bytes transferred and settles it (one lseek) only when the next
// call that uses the position comes: a read or write at -1, or bosFileSeek.
// So, as seen through this layer, every read and write leaves the position
// behind its bytes, and a file read or written only at explicit offsets
// never pays for a seek. The owed position is kept per file number: a file
// the layer opened is closed with bosFileClose (or bosReplaceCommit and
// bosReplaceAbort), never with close() behind the layer's back, so that a
// later file of the same number does not inherit it.

// Reads up to length bytes at byte offset (-1: the current position) into
// buffer; read receives the count, which is smaller than length only at the
// end of the file (short transfers and interrupted calls are retried). The
// file position ends behind the bytes read. Linux locks are advisory: a read
// never fails because another handle locked the range; code whose
// correctness depends on that asks bosRegionTest first.
KV_UTIL_API KvStatus bosFileRead(int file, int64_t offset, void* buffer, uint32_t length,
                                 uint32_t* read);

// Writes length bytes at byte offset (-1: the current position), in pieces
// of at most 65534 bytes, one system call each (an interrupted call that
// wrote nothing is retried). A length of 0 succeeds at once and moves
// nothing. A piece that the system takes only partly fails the write: 30041
// when some of its bytes were written, 1506 "Insufficient disk space." when
// none were (also for ENOSPC and EDQUOT). The file position ends behind the
// bytes written, also after a failure.
KV_UTIL_API KvStatus bosFileWrite(int file, int64_t offset, const void* buffer, uint32_t length);

// Moves the file position: origin 0 from the start, 1 from the current
// position (one owed by a positioned read or write included), 2 from the
// end (offset 0 with origin 2 gives the size). Returns the new position in
// bytes, or 0xFFFFFFFF after a failure. A new position that does not fit in
// 32 bits (0xFFFFFFFF or more: a file of 4 GiB or more) is a failure (30041)
// found before anything moves, so the position stays where it was, as after
// every failure.
KV_UTIL_API uint32_t bosFileSeek(int file, int64_t offset, uint16_t origin);

// As bosFileSeek, for files of any size: position receives the new position.
// A new position before the start or past the 64-bit positions fails
// (30041); after a failure the file position and position are unchanged.
KV_UTIL_API KvStatus bosFileSeek64(int file, int64_t offset, uint16_t origin, int64_t* position);

// The size of the file in bytes, whatever its size; the position does not
// move. A file number that is not open fails with 1507.
KV_UTIL_API KvStatus bosFileSize(int file, int64_t* size);

// Makes sure the disk has room for the file to grow to end bytes, without
// changing its size or contents: the blocks are set aside (fallocate with
// FALLOC_FL_KEEP_SIZE), so that writes up to end cannot fail for want of
// space. A writer that must not stop half-way reserves first and writes
// after. An end within the file's size succeeds at once. Fails with 1506
// "Insufficient disk space." when the disk (or the user's quota) has no
// room, or when end lies beyond the process's file-size limit
// (RLIMIT_FSIZE); nothing stays reserved then. A file system that cannot
// reserve succeeds without reserving (its writes report a full disk
// themselves).
KV_UTIL_API KvStatus bosFileReserve(int file, int64_t end);

// Sets the file's size to size bytes: a longer file is cut back, a shorter
// one grows with zeros. Space reserved beyond the end (bosFileReserve) is
// given back where the file system keeps it apart, also when size is the
// file's size. The position does not move.
KV_UTIL_API KvStatus bosFileTruncate(int file, int64_t size);

// Closes the file and forgets its region locks and any position it owed;
// 0 is no file and succeeds.
KV_UTIL_API KvStatus bosFileClose(int file);

// Deletes the file; a file that does not exist counts as deleted. A file that
// another handle has open (it holds the file's flock) is not deleted: Windows
// refused that, and deleting a table under another connection loses its
// writes. Failure: 1502 "Cannot delete file: '%s1'.".
KV_UTIL_API KvStatus bosFileDelete(const unsigned char* name);

// Renames oldName to newName. newName must not exist (in any case); a file
// that another handle has open is not renamed. Failure: 30042 "Cannot rename
// '%s1' to '%s2'.".
KV_UTIL_API KvStatus bosrname(const unsigned char* oldName, const unsigned char* newName);

// Writes the file's data and its inode (size, times) through to the disk
// (fsync). File 0 succeeds at once.
KV_UTIL_API KvStatus bosupdir(int file);
// Does nothing: the system writes buffers on its own.
KV_UTIL_API void bosflush();
// Always 1.
KV_UTIL_API int bosftest(const unsigned char* name);

// Atomic replacement of a file. The file replaced is the one target leads
// to: the existing file of that name, found without regard to case, else
// target as written; when that name is a symbolic link (~/.odbc.ini kept in
// a repository of settings), the file the link finally points to, followed
// link by link (a relative link read against its own directory, at most 40
// links), so that the link stays a link; a dangling link's target is made.
// bosReplaceOpen creates a new file beside that file (same directory, so
// that rename() stays on one file system; name "kvXXXXXX", written into
// tempName, a buffer of bosPathBytes) with its permission bits, open
// read-write; the caller writes the new contents to file, then
// bosReplaceCommit syncs and closes it and renames it over that file.
// Readers see the old file or the new one, never a part; the old file is
// never deleted first. On any failure of the commit the new file is closed
// and removed and the target is unchanged (30042). bosReplaceAbort closes and
// removes the new file. A chain of links too long or circular fails with
// 1501 (open) or 30042 (commit), saying so.
KV_UTIL_API KvStatus bosReplaceOpen(const unsigned char* target, unsigned char* tempName, int* file);
KV_UTIL_API KvStatus bosReplaceCommit(int file, const unsigned char* tempName,
                                      const unsigned char* target);
KV_UTIL_API void bosReplaceAbort(int file, const unsigned char* tempName);

// Whether name, found as bosFileOpen finds it (without regard to case,
// symbolic links followed), still leads to the file that file has open: the
// same device and inode. 0 when it leads elsewhere or nowhere (missing,
// ambiguous, too long) or file is not an open file number. Never a message.
// A writer that waited for a lock asks this to learn whether the file was
// replaced meanwhile.
KV_UTIL_API int bosIsSameFile(int file, const unsigned char* name);

// The name of the file name leads to as it is spelled on disk (each
// component found without regard to case, as bosFileOpen finds it) into
// out (bosPathBytes): messages about a file the application named K.DBF
// name the k.dbf it is. name as it stands (cut to bosPathBytes - 1) when
// no single file answers to it. out may be name. Never a message.
KV_UTIL_API void bosDiskName(const unsigned char* name, unsigned char* out);

// Adds the message of a system error number for an operation on a file of
// that name (empty or null: none) and returns kvFailure:
//   ENOENT 1509, EBADF 1507, ENOMEM 1503, EACCES and EPERM 1508,
//   EMFILE and ENFILE 30045, ENAMETOOLONG 1524, anything else 30041.
KV_UTIL_API KvStatus bosReportErrno(int errorNumber, const unsigned char* name);

// ---------------------------------------------------------------- region locks

// Locks (unlock 0) or unlocks (unlock not 0) length bytes at offset, without
// waiting, with open-file-description locks: they belong to this open of the
// file, so two handles of one process exclude each other, and closing some
// other descriptor of the file drops nothing. Offsets are 32-bit and the
// range ends at offset + length computed in 64 bits (no wrap past 4 GiB).
//
// Windows region-lock rules are kept: locks neither merge nor nest. A lock
// that overlaps a range this handle already holds, or one another handle or
// process holds, fails with 1512 "Whole or part of the region has already
// been locked."; an unlock must name exactly a range that this handle locked,
// else 1513 "Unable to unlock record." and nothing is unlocked. A read-only
// handle takes a read lock (Linux refuses write locks on it): it still
// excludes writers' locks but not other read-only handles. A length of 0
// locks nothing and succeeds; file 0 succeeds at once. The file position is
// not moved.
KV_UTIL_API KvStatus bosRegionLock(int file, uint16_t unlock, uint32_t offset, uint32_t length);

// Asks whether any byte of the range is locked by another handle (of this
// process or another, with any kind of fcntl lock); lockedByOther receives 1
// or 0. This handle's own locks do not count. Stands in for Windows'
// mandatory locks, where reading a locked byte failed. File 0: 0.
KV_UTIL_API KvStatus bosRegionTest(int file, uint32_t offset, uint32_t length, int* lockedByOther);

// 1 when another handle of this process on the same file (same device and
// inode) holds, in one bosRegionLock range, every byte of this range; else
// 0. Lets a caller about to wait for a lock tell a lock of its own process,
// which may never be let go while the waiting thread waits, from one of
// another process.
KV_UTIL_API int bosRegionHeldInProcess(int file, uint32_t offset, uint32_t length);

// ---------------------------------------------------------------- names and directories

// Attribute bits of bosfattr.
enum : uint16_t { bosAttrFile = 1, bosAttrDirectory = 2, bosAttrReadOnly = 4 };

// bosAttrFile for an existing file that is not a directory, bosAttrDirectory
// for a directory, plus bosAttrReadOnly when this process may not write it
// (so a read-only file gives 5). 0 when the path does not exist or is
// ambiguous; never a message.
KV_UTIL_API uint16_t bosfattr(const unsigned char* path);
// Nonzero only for an existing file (bosAttrFile of bosfattr).
KV_UTIL_API int bosexist(const unsigned char* path);

// Makes the path (a buffer of bosPathBytes) absolute in place: "\" becomes
// "/", a relative path is put behind the current directory, empty and "."
// components go, and each ".." removes the component before it (never above
// "/"). A trailing "/" stays. The result is lexical: no case lookup, no
// symbolic links followed. 1524 when the result would not fit.
KV_UTIL_API KvStatus bosfpath(unsigned char* path);

// Builds a full path into out (bosPathBytes): name with trailing white space
// and one trailing "." removed; dir (null or empty: none) and "/" put in
// front when the name has no "/"; "." and ext (null or empty: none) appended
// when the name's last component has no "."; then bosfpath.
KV_UTIL_API KvStatus bospath(unsigned char* out, const unsigned char* dir, const unsigned char* name,
                             const unsigned char* ext);

// directory + "/" + name into out (bosPathBytes), as they stand (null as
// empty): no lookup, no "\" read as "/". Failure: 1524 "File name is too long: '%s1'." naming
// the whole path as it would have read.
KV_UTIL_API KvStatus bosJoinPath(unsigned char* out, const unsigned char* directory, const unsigned char* name);

// Removes the leading part that path shares with the current directory, up
// to and including the last common "/". Paths that share nothing stay.
KV_UTIL_API void bosmpath(unsigned char* path);

// Splits path at its last "/": the last component's extension (after its
// last ".", not counting a leading one) goes to ext and the rest of it to
// base (both bosNameBytes), and path keeps only the directory part, with its
// trailing "/". A component longer than NAME_MAX fails with 1524 "File name
// is too long: '%s1'." when report is set, leaving everything unchanged;
// otherwise base and ext are each cut to NAME_MAX bytes.
KV_UTIL_API KvStatus bosParseName(unsigned char* path, unsigned char* base, unsigned char* ext,
                                  int report);

// Makes the directory path and every missing directory above it (as
// mkdir -p), each with mode less the umask; a missing parent also gets the
// owner's write and search bits, so that the next one can be made in it.
// Existing components are found without regard to case; missing ones are
// made as written. A path that exists as a directory succeeds at once.
// Failure: 1501 "Cannot create file '%s1'." naming path as written, with a
// reason that names the directory that could not be made and why (a file in
// the way, no permission, a read-only file system, a full disk); ambiguous
// names and names beyond the Linux limits as bosFileOpen reports them.
KV_UTIL_API KvStatus bosMakeDirectory(const unsigned char* path, uint32_t mode);

// The current directory into buffer (bosPathBytes), with a trailing "/" when
// trailingSlash is set.
KV_UTIL_API KvStatus bosgtcwd(unsigned char* buffer, int trailingSlash);
// Makes dir (found without regard to case) the process's current directory;
// null or empty does nothing. Failure: 1504.
KV_UTIL_API KvStatus bosstcwd(const unsigned char* dir);

// Enumerations. handle is null before the first call; the first call sets up
// the state (ramAlloc) and each call that finds an entry writes it into
// buffer. When none is left, the state is freed, handle becomes null and
// buffer is left unchanged (bosGetDirectoryNames and bosGetFileSystems: made
// empty). bosFindClose ends an enumeration early; a null handle is ignored.
// They fail only for want of memory.
//
// bosFindFiles: buffer holds a pattern (directory part, then a last
// component with "*" and "?", matched without regard to ASCII case; "*.*"
// matches every name) and receives the name, without directory, of the next
// regular file that matches. The buffer must hold the pattern and at least
// bosNameBytes. A missing directory matches nothing.
KV_UTIL_API KvStatus bosFindFiles(void** handle, unsigned char* buffer);
// Each subdirectory of the current directory ("." and ".." skipped), as
// named on disk (bosNameBytes).
KV_UTIL_API KvStatus bosGetDirectoryNames(void** handle, unsigned char* buffer);
// Linux has one tree: the single entry is "/" (buffer of at least 2 bytes).
KV_UTIL_API KvStatus bosGetFileSystems(void** handle, unsigned char* buffer);
KV_UTIL_API void bosFindClose(void** handle);

// ---------------------------------------------------------------- environment and libraries

// The value of an environment variable: value receives a copy that the
// caller frees with ramFree, or null when the variable is absent or empty.
// Fails only for want of memory (30190, value null). Thread-safe as far as
// the process does not change its environment meanwhile.
KV_UTIL_API KvStatus bosGetEnv(const unsigned char* name, unsigned char** value);

// The code set of the process's LC_CTYPE locale as nl_langinfo(CODESET)
// names it ("UTF-8", "ANSI_X3.4-1968", "ISO-8859-15"), into name (size
// bytes, cut and terminated). The locale is the one the process last set
// with setlocale: a program that never set one is in "C".
KV_UTIL_API void bosLocaleCodeSet(char* name, uint32_t size);

// Each of the 256 Windows-1252 bytes as iconv writes it in codeSet: bytes[i]
// receives at most 4 bytes and lengths[i] their count, 0 for a character
// that codeSet cannot hold. Fails, without a message, when iconv does not
// know codeSet.
KV_UTIL_API KvStatus bosAnsiInCodeSet(const char* codeSet, unsigned char (*bytes)[4], uint8_t* lengths);

// The home directory in the passwd entry of the process's real user, copied
// into path (size bytes): 1, or 0 (path empty) when the user has no entry or
// the directory does not fit. HOME is not read: this is the directory that
// unixODBC takes for the user's files.
KV_UTIL_API int bosPasswdHome(unsigned char* path, uint32_t size);

// Release suffix of the system's own libraries.
#define BOS_RELEASE_SUFFIX "06"

// Appends the release suffix to name (a buffer of size bytes); 1524 when it
// does not fit.
KV_UTIL_API KvStatus bosdllname(unsigned char* name, uint32_t size);

// Loads a shared library (dlopen, RTLD_NOW | RTLD_LOCAL) and returns its
// handle, or null when the file does not exist or does not load. The failure
// adds no message: callers report it in their own terms (IM009 and such).
// - ownDirectory set: the file "lib" + name + "06.so" in the directory of the
//   utility library itself.
// - name with a "/": that file, found without regard to case; when absent,
//   a Windows-style file name in it (KVTR06 or KVTR06.DLL) is looked up as
//   libKVTR06.so in the same directory.
// - a bare name: "x.so" or "x.so.N" as given, else a Windows-style name
//   (NAME06 or NAME06.DLL) as libNAME06.so, along the dynamic linker's usual
//   paths.
KV_UTIL_API void* bosLoadLibrary(const unsigned char* name, int ownDirectory);
// The address of a symbol of a loaded library, or null (no message).
KV_UTIL_API void* bosGetProcAddress(void* library, const char* name);
// Unloads a library; null is ignored.
KV_UTIL_API void bosFreeLibrary(void* library);

// The absolute file name of the shared object (or program) that contains
// address, for example a function of the calling library, into path
// (bosPathBytes). Failure: 30040 with an empty name.
KV_UTIL_API KvStatus bosGetModulePath(const void* address, unsigned char* path);
// Only the file name of that object, without directory (bosNameBytes):
// "libkvtext.so" for the text driver.
KV_UTIL_API KvStatus bosGetModuleName(const void* address, unsigned char* name);

// ---------------------------------------------------------------- clock and process

// A point of time (UTC from bosdate, local from bosLocalDate).
struct os_time {
  uint16_t day;          // 1-31
  uint16_t month;        // 1-12
  uint16_t year;         // e.g. 2024
  uint16_t hour;         // 0-23
  uint16_t minute;       // 0-59
  uint16_t second;       // 0-59
  uint16_t millisecond;  // 0-999
};

// The current date and time, UTC.
KV_UTIL_API void bosdate(os_time* now);
// The same in the local time zone: the "current date" a user sees.
KV_UTIL_API void bosLocalDate(os_time* now);
// Sleeps at least ms milliseconds without using the processor.
KV_UTIL_API void bossleep(uint16_t ms);
// The process id.
KV_UTIL_API void bostskid(uint32_t* taskId);
// Lets the process have at least count open files: raises the soft limit of
// descriptors (RLIMIT_NOFILE) to count, at most to the hard limit, and never
// lowers it. Returns the limit now in force.
KV_UTIL_API uint32_t bosSetHandleCount(uint32_t count);
// Whether the user asked to abort a long operation (the engine's sorts and
// groupings ask every 16 rows). A driver on Linux has no keyboard to watch:
// the answer comes from the poll function the host installed with
// bosSetAbortPoll (a program that turns a signal into a flag, a test), 0
// without one.
KV_UTIL_API int bosabort();
// Installs the function bosabort asks (null: none). It may be called from
// any thread that runs engine work and must not block.
KV_UTIL_API void bosSetAbortPoll(int (*poll)());

// ---------------------------------------------------------------- text lines

// Copies the line of text that starts at buffer[*pos] into out, a buffer of
// outBytes bytes (terminator included). A line ends at a line feed outside
// quotes ("..." and '...', either kind literal inside the other); a carriage
// return just before that line feed is dropped. A zero byte or Ctrl-Z (26)
// ends the text. A line whose first character is ";" is a comment: only the
// ";" is copied and quotes in it mean nothing. length receives the line's
// length in bytes, -1 when the text has ended (out empty), or -2 when the
// line did not fit (out holds its first outBytes - 1 bytes). *pos moves
// behind the line and its line feed; positions stop at 65535.
KV_UTIL_API void bosgetbl(const unsigned char* buffer, uint16_t* pos, unsigned char* out,
                          uint16_t outBytes, int16_t* length);
