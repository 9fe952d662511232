// Options after a table name in a FROM clause, in parentheses:
//   T (RECORDS=DELETED | ALL, LOCKING=RECORD | FILE | NONE,
//      CHARSET=ANSI | WINDOWS | anything else (OEM), COMPATIBILITY=DBASE | ...)
// or an index list:
//   T (/TAG, NAME.NDX/USE, NAME.MDX/TAG, NAME)
// An index list element NAME is an index file in the table's directory
// (extension NDX when none is given) to open; /TAG, NAME.MDX/TAG and
// NAME/USE name the index or tag to make current.
//
// Tokens: a back-quoted stretch, one of "( ) , / =", or a run of other
// characters up to a blank or one of those. Option names, values and USE
// are compared byte for byte: they are written in capitals. Names keep
// their case, and an index file's extension is found without regard to it.
#pragma once

#include "util/kv_types.h"

#include <string>
#include <vector>

class DbfConnection;
class DbfFileDesc;

struct DbfTableOptions {
  std::string tableName;        // as written, back-quotes removed
  int compatibility = -1;       // -1 not given; 0 DBASE (blanks count); 1 another value
  int oem = -1;                 // -1 not given; 0 ANSI or WINDOWS; 1 any other charset
  int lockLevel = -1;           // -1 not given, else DbfLockLevel
  uint32_t records = 0;         // 0 not given, else the reader's delivery bits
  bool indexList = false;       // an index list followed
  struct IndexEntry {
    std::string text;           // a path to open, or an index or tag name
    uint16_t kind;              // DbfIndexName::openFile or ::useIndex
  };
  std::vector<IndexEntry> indexes;
};

// Reads a table name at text[*position] and the list that may follow it;
// *position moves past what was read. Missing name: 3909; unknown option:
// 3805 with its name; a list not closed by ")": 3900 with ")"; an index
// file other than .MDX followed by "/" and not USE: 3900 with "USE". All
// carry SQLSTATE 37000.
KvStatus dbfParseTableName(DbfConnection* connection, const unsigned char* text, uint32_t* position,
                           DbfTableOptions* out);
// The same for the list alone, at text[*position] just behind a name the
// engine has read (tableName is left empty); nothing is read when no "("
// follows.
KvStatus dbfParseTableOptions(DbfConnection* connection, const unsigned char* text, uint32_t* position,
                              DbfTableOptions* out);

// Whether the text after a table name and its "(" is a driver list rather
// than a column list: its first token looks like an index file name
// (NAME.?DX or NAME.?TX), or its second token is "=".
int dbfIsOptionList(const unsigned char* text);

// Gives the reader what the options ask for.
KvStatus dbfApplyTableOptions(const DbfTableOptions& options, DbfFileDesc* reader);
