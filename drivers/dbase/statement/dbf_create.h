// CREATE TABLE and DROP TABLE of the dBASE driver.
//
// CREATE TABLE has two grammars. With the connection's ModifySql flag (the
// default; private option 1043) the engine's parser reads it, SQL type
// names resolved through the dialect's type table and its aliases. Without
// it the dBASE grammar is read here:
//
//   CREATE TABLE name ( column type [ ( width [ , decimals ] ) ] , ... )
//
//   type word          letter  width                         dialects
//   CHARACTER, CHAR    C       given, 1-254 (CLIPPER 1-1024) all
//   NUMBER, NUMERIC    N       given (+1 with decimals), 1-20 all
//   DATE               D       8                             all but DBASE2
//   LOGICAL            L       1                             all
//   MEMO               M       10                            all but DBASE2
//   FLOAT              F       given (+1 with decimals), 1-20 DBASE4, DBASE5
//   PICTURE            P       10                            FOXBASE, FOXPRO1, FOXPRO25
//   GENERAL            G       10                            DBASE5, FOXPRO25
//   BINARY             B       10                            DBASE5
//
// Both grammars end in the same fields and the same rules: a number field's
// decimals take one more character of width, the dialect decides which
// letters it holds (the FoxPro 2.5 type table offers FLOAT, which no FoxPro
// dialect creates: 1216), a column name is at most 10 bytes of letters,
// digits and "_" (double-byte characters too), not starting with a digit or
// "_". A table without columns is refused, as the table reader would refuse
// its file.
//
// The new table is written in the connection's dialect (CreateType): the
// dBASE III-and-later header (FoxBASE and FoxPro with each field's offset
// at descriptor byte 12) or the dBASE II one, and a memo file when a memo
// field exists (.DBT, or .FPT for version 0xF5). An existing table of the
// name is replaced, with warning 4010 at the parse: the new files are
// written beside it under temporary names and renamed over the old ones
// only when complete, so a CREATE that fails leaves the old table as it
// was; a table that another process has open is not replaced. The table's
// RERUZ.INI section is deleted, so that no index definition of an old
// table applies to the new one.
//
// DROP TABLE deletes the .DBF first (refused while any handle, of any
// process, has it open, and then nothing else is touched), then the
// single-index files RERUZ.INI lists for it, its section, and the files of
// its name with the extensions DBT, FPT, MDX and CDX. Every deletion is
// tried; one that fails makes the statement fail with its message. Entries
// of RERUZ.INI that are no index file names (.NDX, .NTX, .IDX) are not
// deleted: the file is shared with other programs and a damaged entry must
// not delete an unrelated file.
#pragma once

#include "drivers/dbase/table/dbf_header.h"
#include "flat/sql/flat_ddl.h"
#include "util/os/bos.h"

#include <vector>

class DbfConnection;

// A field of a table to be created.
struct DbfNewField {
  char name[dbfMaxNameChars + 1] = {0};  // as written to the file
  unsigned char letter = 0;              // B C D F G L M N P
  uint16_t length = 0;                   // bytes in the record
  uint16_t decimals = 0;
};

// The header of a new, empty table in a dialect: the dBASE II layout for
// DBASE2, else the dBASE III one (version 0x03, or the dialect's memo
// version when a B, G, M or P field exists). today gives the date of last
// update. Fails with 1228 for more than 32 fields under DBASE2 and with
// 4025 when the record would be longer than the header can say.
KvStatus dbfBuildTableHeader(uint32_t createType, const std::vector<DbfNewField>& fields, const os_time& today,
                             std::vector<unsigned char>* header);
// The 512-byte header of the empty memo file of a table whose version byte
// is version (0x83 and 0x8B: .DBT, 0xF5: .FPT); baseName is the table's
// base name (the first 8 bytes are kept in a dBASE IV .DBT).
void dbfBuildMemoHeader(uint8_t version, const unsigned char* baseName, unsigned char out[512]);

class DbfCreateDesc : public FlatCreateDesc {
 public:
  explicit DbfCreateDesc(FlatStatement* statement) : FlatCreateDesc(statement) {}
  ~DbfCreateDesc() override;

  KvStatus parse(const unsigned char* text, uint32_t* position) override;
  KvStatus execute() override;
  // The table path rule: 4017 for an extension other than DBF; 4019
  // (S0001) when the connection has the file open; an existing file adds
  // the warning 4010 (S0001), and the statement replaces it.
  KvStatus canCreateTableName(const unsigned char* name) override;
  // The column-name rule: 3823 beyond 10 bytes, 3822 for anything else.
  KvStatus canCreateColumnName(const unsigned char* name) override;

  const std::vector<DbfNewField>& getFields() const { return fields_; }
  const unsigned char* getPath() const { return path_; }

 private:
  DbfConnection* connection() const;
  KvStatus parseDbaseGrammar(const unsigned char** position);
  KvStatus parseDbaseColumn(const unsigned char** position);
  // Adds a field after the dialect's and the width rules; typeWord names
  // the type in messages.
  KvStatus addField(const unsigned char* name, unsigned char letter, uint64_t width, uint64_t decimals,
                    const unsigned char* typeWord);
  KvStatus writeFiles();

  std::vector<DbfNewField> fields_;
  unsigned char path_[bosPathBytes] = {};
};

class DbfDropTableDesc : public FlatDropTableDesc {
 public:
  explicit DbfDropTableDesc(FlatStatement* statement) : FlatDropTableDesc(statement) {}
  ~DbfDropTableDesc() override;

  KvStatus execute() override;
  // 4035 when the connection has the table open; 1202 (S0002) when there
  // is no such table.
  KvStatus canDropTableName(const unsigned char* name) override;

 private:
  unsigned char path_[bosPathBytes] = {};  // of the table, by canDropTableName
};
