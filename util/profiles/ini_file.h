// INI files: the text format, its reader and editor, the writers' lock, and
// the Windows private-profile calls over such files. Used by the profile
// storage (util/profiles/profile.h). The text, the writer's hold and the
// write check are exported for the drivers' definition files in database
// directories, whose edits of several entries are one locked update.
//
// Format, shared by Windows private-profile files and unixODBC's odbc.ini
// and odbcinst.ini:
//   [name]        a section header; the name runs to the first "]" and is
//                 trimmed of white space
//   key=value     an entry of the section above it; key (up to the first
//                 "=") and value are trimmed of white space
//   key           a line without "=": a key without a value
//   ;text         a comment ("#text" too in unixODBC files)
// Blank lines and lines before the first header belong to no entry. Lines
// end with LF or CR LF. Sections and keys are matched without regard to case
// and the first match wins.
//
// Edits change only the lines they concern; every other byte, line endings
// and comments included, is written back as it was read. New lines take the
// ending of the file's first line (LF in a file without one).
//
// Writers lock the file (an open-file-description lock on its first byte),
// read it, and replace it by a new file renamed over the old one; a writer
// that waited checks that the name still leads to the file it locked. So no
// writer, in any process, loses another's change, and readers, which take no
// lock, see the old file or the new one, never a mix.
#pragma once

#include "util/os/bos.h"

enum KvIniStyle : int {
  // Windows private-profile files: ";" comments; a value in matching quotes
  // ("..." or '...') reads without them; entries are written "key=value".
  kvIniWindows = 0,
  // unixODBC's files: ";" and "#" comments; values read as written; entries
  // are written "key = value" as odbcinst reads them.
  kvIniOdbc = 1,
};

enum : uint32_t {
  kvIniMaxFileBytes = 16u << 20,  // a larger file is not read as settings
};

// The items of a list answer, each zero-terminated, in the order added, no
// name twice (names compared without regard to case).
class KvIniList {
 public:
  // valued: items are "key=value" and the key is the name; else names.
  explicit KvIniList(int valued);
  ~KvIniList();
  KvIniList(const KvIniList&) = delete;
  KvIniList& operator=(const KvIniList&) = delete;

  // Adds an item unless its name is listed already. A name holding a zero
  // byte cannot be listed and is skipped.
  KvStatus add(const unsigned char* name, uint32_t nameLength, const unsigned char* value,
               uint32_t valueLength);
  int isValued() const { return valued_; }
  uint32_t getCount() const { return count_; }
  // Bytes of the items with their terminators (the list's final zero not
  // counted) and the items themselves.
  uint32_t getBytes() const { return length_; }
  const unsigned char* getItems() const { return bytes_; }

  // Into buffer (size bytes) as whole items and the final zero; returns the
  // bytes including that zero. A list that does not fit stops at the last
  // whole item that leaves room for the final zero, the rest of the buffer
  // is zeroed, and the result is size.
  uint32_t copyWholeItems(unsigned char* buffer, uint32_t size) const;
  // As Windows copies a list: when it fits, the items and the final zero,
  // returning the bytes without that zero; otherwise the first size - 2
  // bytes (the last item cut) and two zeros, returning size - 2.
  uint32_t copyCutItems(unsigned char* buffer, uint32_t size) const;

 private:
  int isListed(const unsigned char* name, uint32_t nameLength, uint32_t hash) const;
  KvStatus remember(uint32_t offset, uint32_t hash);

  int valued_;
  unsigned char* bytes_ = nullptr;
  uint32_t length_ = 0;
  uint32_t capacity_ = 0;
  uint32_t count_ = 0;
  // Open-addressed set of listed names: item offset + 1 (0 = empty), keyed
  // by a case-blind hash; at most half full.
  uint32_t* slots_ = nullptr;
  uint32_t* hashes_ = nullptr;
  uint32_t slotCount_ = 0;
};

// The text of one INI file.
class KV_UTIL_API KvIniText {
 public:
  explicit KvIniText(KvIniStyle style);
  ~KvIniText();
  KvIniText(const KvIniText&) = delete;
  KvIniText& operator=(const KvIniText&) = delete;

  // Reads the file at path. A file that is missing, unreadable or larger
  // than kvIniMaxFileBytes reads as an empty text with exists 0; no message
  // is left. Fails only for want of memory.
  KvStatus load(const unsigned char* path, int* exists);
  // Reads the whole of an open file (messages on failure).
  KvStatus readFile(int file);
  // Writes the text over path atomically (messages on failure).
  KvStatus save(const unsigned char* path) const;

  int isModified() const { return modified_; }
  uint32_t getLength() const { return length_; }
  const unsigned char* getBytes() const { return bytes_; }

  // Names are zero-terminated and compared trimmed, without regard to case.
  int hasSection(const unsigned char* section) const;
  // Adds the section names not listed yet.
  KvStatus listSections(KvIniList* list) const;
  // Adds the entries of the first section of that name: keys (lines without
  // "=" included), or, for a valued list, "key=value" of the entries whose
  // value has at most maxValueBytes bytes. found: whether the section exists.
  KvStatus listEntries(const unsigned char* section, uint32_t maxValueBytes, KvIniList* list,
                       int* found) const;
  // The value of the first entry of that key in the first section of that
  // name (quotes removed in Windows files); a key without "=" has no value.
  int findValue(const unsigned char* section, const unsigned char* key, const unsigned char** value,
                uint32_t* valueLength) const;

  // Sets the entry, adding the section at the end and the key at the end of
  // the section's entries when missing.
  KvStatus setEntry(const unsigned char* section, const unsigned char* key, const unsigned char* value);
  // Removes every entry of that key from the first section of that name.
  KvStatus deleteEntry(const unsigned char* section, const unsigned char* key);
  // Removes every section of that name, its header and all its lines.
  KvStatus deleteSection(const unsigned char* section);
  // Appends the first section of that name in other (header and entries) to
  // this text; nothing when other lacks it.
  KvStatus appendSectionOf(const KvIniText& other, const unsigned char* section);

 private:
  struct Line;
  int parseLine(uint32_t offset, Line* line) const;
  int findSection(const unsigned char* name, uint32_t nameLength, uint32_t from, Line* header,
                  uint32_t* bodyEnd) const;
  int findEntry(uint32_t bodyStart, uint32_t bodyEnd, const unsigned char* key, uint32_t keyLength,
                Line* entry) const;
  void valueOf(const Line& entry, const unsigned char** value, uint32_t* valueLength) const;
  const char* lineEnd() const;
  KvStatus splice(uint32_t from, uint32_t to, const unsigned char* insert, uint32_t insertLength);
  KvStatus buildEntry(unsigned char** out, uint32_t* outLength, const unsigned char* key,
                      uint32_t keyLength, const unsigned char* value, uint32_t valueLength,
                      int leadingEnd) const;

  KvIniStyle style_;
  unsigned char* bytes_ = nullptr;
  uint32_t length_ = 0;
  int modified_ = 0;
};

// A writer's hold on one INI file: begin locks the file (creating it empty
// when missing and create is set) and reads it into text; commit replaces
// the file when the text was modified; the destructor (or end) unlocks.
class KV_UTIL_API KvIniUpdate {
 public:
  explicit KvIniUpdate(KvIniStyle style);
  ~KvIniUpdate();
  KvIniUpdate(const KvIniUpdate&) = delete;
  KvIniUpdate& operator=(const KvIniUpdate&) = delete;

  // exists: 0 when the file is missing and create is 0 (nothing is locked
  // then and the text is empty). Fails with a message when the file cannot
  // be opened for writing or the lock cannot be had within about ten
  // seconds (1512).
  KvStatus begin(const unsigned char* path, int create, int* exists);
  KvIniText& text() { return text_; }
  KvStatus commit();
  void end();

 private:
  KvIniText text_;
  unsigned char path_[bosPathBytes];
  int file_ = 0;
};

// Checks a section, key or value that is about to be written: a text that
// would change the file's structure (a line break or zero byte anywhere, a
// "]" in a section name, a "=" in a key, a key that would read as a comment
// or a header, an empty key) adds 1517 "Invalid Parameter" and fails.
KV_UTIL_API KvStatus kvIniCheckWrite(KvIniStyle style, const unsigned char* section, const unsigned char* key,
                         const unsigned char* value);

// Copies text (length bytes) into buffer (size bytes), cut at a whole
// character and terminated; returns the bytes copied. Nothing is written
// when size is 0.
uint32_t kvIniCopyText(unsigned char* buffer, uint32_t size, const unsigned char* text, uint32_t length);

// The user's directory of the product's own settings files:
// $XDG_CONFIG_HOME/kestrane, else $HOME/.config/kestrane, into path
// (bosPathBytes), without a trailing "/". create makes the missing
// directories (mode 0700). Fails (with a message) when neither variable is
// set or the path is too long.
KvStatus kvIniConfigDirectory(unsigned char* path, int create);

// The file of a private-profile INI name: a name with a directory part ("/"
// or "\") is that path, with "\" read as "/"; a bare name is a file in the
// configuration directory.
KvStatus kvIniPrivatePath(const unsigned char* iniName, unsigned char* path, int create);

// The Windows private-profile calls over such files (Windows rules: a
// missing file gives the defaults; a null section lists the section names,
// a null key the keys of the section; lists are cut as Windows cuts them;
// a default loses its trailing blanks).
uint32_t kvGetPrivateProfileString(const unsigned char* section, const unsigned char* key,
                                   const unsigned char* defaultValue, unsigned char* buffer,
                                   uint32_t size, const unsigned char* fileName);
// A null value deletes the entry, a null key the section; a null section is
// refused (1517). Deleting from a missing file succeeds without creating it.
KvStatus kvWritePrivateProfileString(const unsigned char* section, const unsigned char* key,
                                     const unsigned char* value, const unsigned char* fileName);
