// The .DBF header: the layouts of dBASE II and of dBASE III and later
// (every FoxBASE, FoxPro and Clipper table), read into a DbfHeaderInfo and
// checked before anything of it is used.
//
// dBASE III and later (integers little-endian):
//   offset  width  field
//   0       1      version byte: 0x03, 0x83, 0x8B, 0xF5 ... ((byte & 3) == 3,
//                  or 0xF5: a FoxPro table whose memo file is .FPT)
//   1       3      date of last update: year - 1900, month, day
//   4       4      record count
//   8       2      header length H
//   10      2      record length R, deletion byte included
//   15      1      encryption flag (1: encrypted)
//   28      1      production index flag (1: an .MDX/.CDX of the table's name)
//   32      32 n   field descriptors, ended by a byte 0x0D:
//                    0 name (11, NUL-padded, at most 10 characters)
//                    11 type letter B C D F G L M N P
//                    16 length (for C the 16-bit value at 16-17)
//                    17 decimal count (not for C)
//                    31 production index tag flag
//   H      R each  records, numbered from 1; byte 0 the deletion flag
//
// dBASE II (version byte 0x02, header 521 bytes):
//   1  2  record count;  3  3  date: month, day, year - 1900;  6  2  record
//   length;  8  16 each  up to 32 descriptors (name 11, type C L N at 11,
//   length at 12, decimals at 15), then a byte 0x0D.
//
// What is checked (a file that fails is "Invalid file format", or
// "encrypted"): the version byte; the header length against the
// descriptors it must hold (at least one, the 0x0D behind the last inside
// the header) and against the file's size; each descriptor's type, name
// (1 to 10 characters) and length (not 0), the decimals of an N or F field
// below its width; the record length equal to 1 + the field lengths.
// Nothing here reads beyond the bytes it is given.
#pragma once

#include "util/kv_types.h"

#include <vector>

enum : uint32_t {
  dbfPrefixBytes = 32,         // the fixed part of a dBASE III header
  dbfDescriptorBytes = 32,
  dbf2HeaderBytes = 521,       // a whole dBASE II header
  dbf2DescriptorBytes = 16,
  dbf2MaxFields = 32,
  dbfMaxNameChars = 10,
  dbfVersionDbase2 = 0x02,
  dbfVersionFoxPro = 0xF5,
  dbfDescriptorEnd = 0x0D,
};

enum : unsigned char { dbfLiveMark = ' ', dbfDeletedMark = '*', dbfEndOfFile = 0x1A };

struct DbfFieldInfo {
  char name[dbfMaxNameChars + 1] = {0};
  unsigned char type = 0;    // B C D F G L M N P
  uint16_t length = 0;       // bytes in the record
  uint16_t decimals = 0;
  uint32_t offset = 0;       // of the field within the record (the first at 1)
  uint8_t tagFlag = 0;       // a tag of the production index
};

struct DbfHeaderInfo {
  uint8_t version = 0;
  bool dbase2 = false;       // the dBASE II layout
  bool foxMemo = false;      // version 0xF5: the memo file is .FPT
  bool hasMemoFields = false;  // a B, G, M or P field
  uint8_t productionIndex = 0;  // 0 none, 2 header byte 28 is 1, 1 and a field has its tag flag
  uint32_t recordCount = 0;
  uint32_t headerLength = 0;
  uint32_t recordLength = 0;
  uint8_t year = 0, month = 0, day = 0;  // as stored (year - 1900)
  std::vector<DbfFieldInfo> fields;
};

enum DbfHeaderFault : int {
  dbfHeaderValid = 0,
  dbfHeaderInvalid = 1,    // "Invalid file format"
  dbfHeaderEncrypted = 2,  // "The database is encrypted and cannot be used"
};

// The bytes of the file's start a header needs to be parsed: the fixed
// part, then (for dBASE III and later) the header length it names. A
// header length shorter than the fixed part gives dbfPrefixBytes (the
// parse then refuses it).
uint32_t dbfHeaderBytesNeeded(const unsigned char* prefix, uint32_t prefixLength);

// Parses and checks the header in bytes (length bytes from the start of a
// file of fileSize bytes); reason names the fault for messages and tests.
DbfHeaderFault dbfParseHeader(const unsigned char* bytes, uint32_t length, uint64_t fileSize, DbfHeaderInfo* out,
                              const char** reason);

// Offset and bytes of the record count, and of the date of last update, in
// a header of either layout.
inline uint32_t dbfCountOffset(bool dbase2) { return dbase2 ? 1 : 4; }
inline uint32_t dbfCountBytes(bool dbase2) { return dbase2 ? 2 : 4; }
inline uint32_t dbfDateOffset(bool dbase2) { return dbase2 ? 3 : 1; }
// The three date bytes of a day in either layout.
void dbfDateBytes(bool dbase2, uint16_t year, uint16_t month, uint16_t day, unsigned char out[3]);
