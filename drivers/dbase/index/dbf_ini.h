// DbfIni: the index-definition file "RERUZ.INI" of a directory of tables.
//
// Plain dBASE tables do not record which separate index files belong to
// them, so each directory that holds tables keeps one INI file (Windows
// private-profile rules: sections and keys matched without regard to case)
// with one section per table file, named by the table's file name with its
// extension ("EMP.DBF"):
//
//   key                 value
//   CHARSET             "IBMPC" (OEM code page) or "ANSI" (Windows code page)
//   NUMMAINTAINED       decimal count n of the MAINTAIN entries
//   MAINTAIN0..n-1      a single-index file (.NDX, .NTX, .IDX) kept current on
//                       every insert, update and delete
//   NUMUNIQUE           decimal count m of the UNIQUE entries
//   UNIQUE0..m-1        file, or file "," tag (a tag of an MDX or CDX file)
//
// An index file in the table's own directory is written as its bare name
// with extension (EMPNAME.NDX), any other as its full path. Readers of the
// numbered entries go 0, 1, 2, ... and stop at the first one that is missing
// or empty; the counts are for the writers.
//
// Values are read and written whole, up to a path's length (bosPathBytes - 1
// bytes); a value that would not read back as written (too long, or changed
// by the file's rules on quotes and blanks) is refused, never cut. Several
// processes share the file: each change of a section (an append, a removal
// with its renumbering, a section deleted) is one update that holds the
// file's writer lock and replaces the file atomically, so that no reader
// ever sees the entries renumbered without their count or the reverse.
#pragma once

#include "util/profiles/profile.h"
#include "util/os/bos.h"

class DbfConnection;

enum : uint32_t {
  // The longest value the file holds: a path.
  dbfIniValueBytes = bosPathBytes,
};

class DbfIni : public KvIni {
 public:
  // connection (may be null) gives the default character set of tables
  // whose section does not name one.
  explicit DbfIni(DbfConnection* connection);
  ~DbfIni() override;

  // Opens "RERUZ.INI" in directory (found there without regard to case);
  // the file need not exist yet.
  KvStatus open(const unsigned char* directory) override;

  // CHARSET of the section: oem 1 for "IBMPC", 0 for "ANSI" (any case);
  // otherwise, or when absent, the connection's character set (1 when it
  // is OEM), 0 without a connection. Fails when the file cannot be read.
  KvStatus getCharset(const unsigned char* section, uint16_t* oem);
  KvStatus setCharset(const unsigned char* section, uint16_t oem);

  // Appends MAINTAINn = file and makes NUMMAINTAINED n + 1. No check for an
  // equal entry: callers that must not list a file twice remove it first.
  KvStatus addMaintained(const unsigned char* section, const unsigned char* file);
  // MAINTAINindex into buffer (size bytes); empty when absent. A value that
  // does not fit fails (1524), never cut.
  KvStatus getMaintained(const unsigned char* section, uint16_t index, unsigned char* buffer, uint32_t size);
  // Removes every MAINTAIN entry naming file (compared without regard to
  // case) and renumbers the others from 0 in their order, count included.
  // A section with no such entry is left as it is.
  KvStatus removeMaintained(const unsigned char* section, const unsigned char* file);

  // Appends UNIQUEm = file, or file "," tag when tag is given and not empty.
  KvStatus addUnique(const unsigned char* section, const unsigned char* file, const unsigned char* tag);
  // UNIQUEindex split at its first comma: the file before it, the tag after
  // it (empty without a comma). Both empty when absent.
  KvStatus getUnique(const unsigned char* section, uint16_t index, unsigned char* file, uint32_t fileSize,
                     unsigned char* tag, uint32_t tagSize);
  // Removes the UNIQUE entries of file (without regard to case) and, when a
  // tag is given, of that tag only; renumbers the rest as removeMaintained.
  KvStatus removeUnique(const unsigned char* section, const unsigned char* file, const unsigned char* tag);

  // Deletes the table's whole section. A missing file or section is not an
  // error (nothing is created).
  KvStatus removeTable(const unsigned char* section);

 private:
  KvStatus readValue(const unsigned char* section, const unsigned char* key, unsigned char* buffer,
                     uint32_t size);
  KvStatus append(const unsigned char* section, const char* countKey, const char* prefix,
                  const unsigned char* value);
  // Removes the entries of prefix 0..count-1 that match file (and tag,
  // when given, for entries that split as file[,tag]) and renumbers the rest.
  KvStatus removeMatching(const unsigned char* section, const char* countKey, const char* prefix,
                          bool splitsTag, const unsigned char* file, const unsigned char* tag);

  DbfConnection* connection_;
  unsigned char path_[bosPathBytes] = {};
};
