// Memo files: the values of the memo-type fields (M text, G general, B
// binary, P picture) live in a file beside the table; the record holds a
// 10-character block number. Three formats are read and written:
//
// Header (block 0):
// | offset | width | dBASE III .DBT          | dBASE IV .DBT                | FoxPro .FPT              |
// |--------|-------|-------------------------|------------------------------|--------------------------|
// | 0      | 4     | next free block, LE     | next free block, LE          | next free block, BE      |
// | 6      | 2     | -                       | -                            | block size, BE           |
// | 8      | 8     | -                       | the table's base name        | -                        |
// | 18     | 2     | -                       | 0x02 0x01: dBASE IV signature| -                        |
// | 20     | 2     | -                       | block size, LE               | -                        |
//
// Value at its first block:
// | kind                    | bytes 0-3                         | bytes 4-7                    | then          |
// |-------------------------|-----------------------------------|------------------------------|---------------|
// | dBASE III text          | -                                 | -                            | text, 0x1A    |
// | dBASE III, P value      | length, LE                        | 0                            | the bytes     |
// | dBASE IV                | FF FF 08 00                       | length + 8, LE               | the bytes     |
// | FoxPro                  | type, BE: 0 picture, 1 text, 2 object | length, BE               | the bytes     |
//
// dBASE III text ends at the first 0x1A (this driver writes two); the pair
// 0x8D 0x0A inside an M field's text is a soft line break, removed on
// reading; general and binary values in such a file come back as they were
// written (up to their 0x1A, which they cannot hold). dBASE IV
// files of programs that write no signature are read as dBASE III files
// whose values start with the dBASE IV block header; such a value is read
// by its header, just as a dBASE IV value without one is read as text.
//
// Everything read from the file is checked before use: a block size of 0,
// a length word below 8, a length or block past the end of the file end
// the read with "Corrupt memo file, read error" (1213); no byte of the
// file is written while reading. A next-free number far beyond the file's
// end (more blocks past it than the values being written take) is 1213
// too, before anything is written.
//
// DbfMemoFile is the memo file of one shared table (its handle, kind,
// block size and what the last read learnt); readers keep their place in
// a value being read in pieces in a DbfMemoCursor. Values to be written
// wait in the reader's DbfMemoStage until the record they belong to is
// written (writeStaged).
#pragma once

#include "util/kv_types.h"

class DbfSharedDesc;

enum DbfMemoKind : uint32_t { dbfMemoDbase3 = 0, dbfMemoDbase4 = 1, dbfMemoFox = 3 };

enum : uint32_t {
  dbfMemoBlockDigits = 10,  // the block number's width in the record
  dbfMemoTextPiece = 511,   // bytes of memo text the evaluator gets
};

// The block number of a record's field text: every digit counts, any other
// character is skipped. tooLarge is set (block 0) for a number beyond 32
// bits, which no memo file reaches.
uint32_t dbfParseMemoBlock(const unsigned char* text, uint32_t length, bool* tooLarge);
// The block number right-aligned in width blank-filled characters; a number
// with more digits than width keeps its last ones (writers check the width
// first: dbfMemoBlockFits).
void dbfFormatMemoBlock(uint32_t block, unsigned char* text, uint32_t width);
// Whether the block number's digits fit in width characters.
bool dbfMemoBlockFits(uint32_t block, uint32_t width);

// A reader's place in a memo value read in pieces: the value (record,
// column, block) the place belongs to.
struct DbfMemoCursor {
  bool reading = false;
  uint32_t record = 0;
  uint16_t column = 0;
  uint32_t block = 0;
  uint64_t position = 0;   // file offset of the next byte
  uint32_t delivered = 0;  // value bytes delivered so far
  bool hasLength = false;  // the value has a length; else it is text up to 0x1A
  uint32_t length = 0;     // the value's length when it has one
  bool ended = false;      // the whole value was delivered
  bool measured = false;   // text: its total was read ahead (measuredTotal)
  uint32_t measuredTotal = 0;
};

// Which value a read is about: a field of a record, and how its text is
// given back.
struct DbfMemoRead {
  uint32_t record = 0;                  // the record whose field it is
  uint16_t column = 0;
  unsigned char type = 'M';             // B, G, M or P
  const unsigned char* text = nullptr;  // the field's block number text in the record
  uint32_t width = 0;                   // its characters
  bool oem = false;                     // M text is converted from OEM to ANSI
  uint32_t offset = 0;                  // value bytes taken already: 0 from the start
  bool wantTotal = true;                // the caller needs the value's total (see read)
};

// What a read gave.
struct DbfMemoPiece {
  uint32_t got = 0;      // bytes put in the buffer
  uint32_t total = 0;    // the value's whole length (flatLongLengthUnknown when not wanted and not known)
  bool isNull = false;   // block 0: no value
};

// How the values of one record are written.
struct DbfMemoWriteOptions {
  bool oem = false;            // M text is converted from ANSI to OEM
  bool lockHeader = false;     // take the memo-header lock around the next-free number
  bool inTransaction = false;  // inside a manual-commit transaction: a text value's old size counts as unknown
};

class DbfMemoStage;

class DbfMemoFile {
 public:
  DbfMemoFile() = default;
  ~DbfMemoFile();
  DbfMemoFile(const DbfMemoFile&) = delete;
  DbfMemoFile& operator=(const DbfMemoFile&) = delete;

  // Opens the table's memo file (its name with "FPT" for a FoxPro table,
  // else "DBT") on first use and reads its header. A file that cannot be
  // opened for writing is opened read-only: reads work, writes are refused
  // (checkPiece). Warning 1203 when a dBASE IV file names another table;
  // 1213 for a header that cannot be used; S0002 when the file is missing.
  KvStatus open(DbfSharedDesc* table);
  // Closes the file (the table closes).
  void close();

  // Reads a piece of the value a field names into buffer (size bytes): a
  // reader continuing where it stopped reads on, any other offset is read
  // up to from the start. Text, which has no length, is read ahead to its
  // end once when a piece does not reach it and the total is wanted:
  // applications get the length that remains rather than SQL_NO_TOTAL,
  // with which the Driver Manager's widening to SQL_C_WCHAR gives them no
  // text at all.
  KvStatus read(DbfSharedDesc* table, DbfMemoCursor* cursor, const DbfMemoRead& request, unsigned char* buffer,
                uint32_t size, DbfMemoPiece* piece);

  // Checks a piece of a value of a field of that type before it is staged:
  // the file must be writable (else 1508 with its name), a text value must
  // not hold 0x1A (it would read back cut there: 22005), and the value
  // (total bytes with this piece) must fit the file's 32-bit offsets.
  KvStatus checkPiece(DbfSharedDesc* table, unsigned char type, const unsigned char* data, uint32_t length,
                      uint64_t total);
  // Writes every value the stage holds, and its block number into its field
  // of record (the record buffer). All values are placed first, and a
  // value that cannot be placed (a corrupt next-free number, a block number
  // too long for its field: 22003) fails the call before any byte of the
  // file is written. A value goes back to the block its field names when it
  // fits in the blocks that value occupies (one block, or the value last
  // read), grows in place when it is the file's last value, and otherwise
  // takes the next free blocks.
  KvStatus writeStaged(DbfSharedDesc* table, DbfMemoStage* stage, unsigned char* record,
                       const DbfMemoWriteOptions& options);

  // Sets aside room on the disk for values more values of bytes bytes in
  // all behind the file's last value, each in blocks of its own with its
  // header and end marks (bosFileReserve): a commit that stores them
  // cannot run out of space half-way. Nothing is written; a read-only file
  // reserves nothing (its writes are refused).
  KvStatus reserve(DbfSharedDesc* table, uint32_t values, uint64_t bytes);

  int getHandle() const { return handle_; }
  uint32_t getKind() const { return kind_; }
  uint32_t getBlockSize() const { return blockSize_; }

 private:
  // Where a staged value goes; see writeStaged.
  struct Placement {
    uint16_t column;
    unsigned char type;
    uint32_t length;     // value bytes
    uint32_t block;      // its first block
    uint32_t blocks;     // blocks it may fill
  };
  // Where a value's data starts and how long it is; see read().
  KvStatus startValue(DbfSharedDesc* table, DbfMemoCursor* cursor, unsigned char type, uint32_t block);
  KvStatus deliver(DbfMemoCursor* cursor, bool oem, unsigned char type, unsigned char* buffer, uint32_t size,
                   uint32_t* got);
  // A value up to its 0x1A. Text (an M field's) drops soft breaks and is
  // translated from OEM when oem; the bytes of other fields come as stored.
  KvStatus deliverText(DbfMemoCursor* cursor, bool text, bool oem, unsigned char* buffer, uint32_t size,
                       uint32_t* got);
  // Bytes the value now at block occupies in the file, header included;
  // 0 when not known.
  uint32_t occupiedBytes(uint32_t block, unsigned char type, bool inTransaction);
  KvStatus readNextFree(uint32_t* nextFree);
  KvStatus writeNextFree(uint32_t nextFree);
  KvStatus writeValueHeader(uint32_t block, unsigned char type, uint32_t total);
  KvStatus writeValue(DbfMemoStage* stage, const Placement& value, bool oem);
  uint32_t headerBytes(unsigned char type) const;
  // Blocks a value of length bytes takes, its header and end mark included.
  uint32_t blocksOf(unsigned char type, uint64_t length) const;
  uint64_t fileSize() const;

  int handle_ = 0;
  unsigned char* path_ = nullptr;  // the file's path, for messages
  bool readOnly_ = false;          // opened read-only: writes are refused
  uint32_t kind_ = dbfMemoDbase3;
  uint32_t blockSize_ = 512;
  // What the last read whose text reached its 0x1A learnt: its block and
  // the bytes from the block's start to the 0x1A.
  uint32_t lastReadBlock_ = 0;
  uint32_t lastReadTextBytes_ = 0;
  bool lastReadKnown_ = false;
};
