// KVTXT.INI: the definitions of a directory's text tables.
//
//   [Defined Tables]
//   <file name>=<table name>
//   [<table name>]
//   FILE=<file name>         a plain name in the same directory
//   FLN=1|0                  the first line holds column names (absent: 1)
//   DC=<c>                   Character tables: the delimiter (absent: ",")
//   TT=Comma|Tab|Character|Fixed   (absent or unknown: Comma)
//   Charset=IBMPC|ANSI       (anything but ANSI: IBMPC)
//   FIELDn=name,type,precision,scale,length,offset,mask   n from 1, no gaps
//
// Values that would misread the file are refused with the driver's
// message rather than taken: a FILE with a directory part, a delimiter that
// is a double quote, CR, LF or NUL, lengths, offsets and precisions beyond
// txtMaxColumnBytes / txtMaxLineBytes.
#pragma once

#include "drivers/text/masks/txt_date_mask.h"
#include "drivers/text/records/txt_row_reader.h"
#include "util/profiles/profile.h"

#include <string>
#include <vector>

enum : uint32_t {
  txtMaxColumnBytes = 32767,   // the most bytes of one column (VARCHAR's largest precision)
  txtMaxLineBytes = 1u << 20,  // the furthest a fixed-width column may end
  txtMaxNameBytes = 32,        // column names are cut to this
  txtDateColumnBytes = 50,     // a DATE column of a delimited table
};

struct TxtColumnDef {
  std::string name;
  char type = 'V';  // 'V' VARCHAR, 'N' NUMERIC, 'D' DATE
  uint32_t precision = 0;
  int16_t scale = 0;
  uint32_t length = 0;
  uint32_t offset = 0;
  unsigned char mask[txtMaskBytes] = {};
};

struct TxtTableDef {
  std::string file;
  bool firstLineNames = false;
  uint32_t tableType = txtTableComma;
  unsigned char delimiter = ',';
  bool oem = false;
  std::vector<TxtColumnDef> columns;
};

class TxtIni {
 public:
  // Opens directory/KVTXT.INI (a missing file reads as empty).
  KvStatus open(const unsigned char* directory);
  // The section that defines name: a section of that name, else the value
  // [Defined Tables] gives the name as a file; empty when neither.
  KvStatus findTable(const unsigned char* name, std::string* section);
  // The whole definition of a table's section.
  KvStatus readTable(const std::string& section, TxtTableDef* def);
  // The table names of [Defined Tables] in file order, and its file names.
  KvStatus listTables(std::vector<std::string>* tables, std::vector<std::string>* files);
  // Writes a new table's section and its [Defined Tables] entry.
  KvStatus writeTable(const std::string& section, const TxtTableDef& def);

 private:
  bool readValue(const std::string& section, const char* key, std::string* value);
  KvStatus readColumn(const std::string& section, const TxtTableDef& def, uint32_t n, TxtColumnDef* column,
                      bool* present);
  KvStatus badValue(const char* what, const std::string& value, const std::string& section);

  KvIni ini_;
};

// Whether a FILE value names a plain file of the directory.
bool txtPlainFileName(const std::string& name);
// "Comma", "Tab", "Character", "Fixed" and back (unknown names: Comma).
uint32_t txtTableTypeOf(const std::string& name);
const char* txtTableTypeName(uint32_t type);
