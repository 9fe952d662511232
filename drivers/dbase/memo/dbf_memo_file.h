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
// file is written while reading.
//
// DbfMemoFile is the memo file of one shared table (its handle, kind,
// block size and what the last read learnt); readers keep their place in
// a value being read or written in pieces in a DbfMemoCursor.
#pragma once

#include "util/kv_types.h"

class DbfSharedDesc;

enum DbfMemoKind : uint32_t { dbfMemoDbase3 = 0, dbfMemoDbase4 = 1, dbfMemoFox = 3 };

enum : uint32_t {
  dbfMemoBlockDigits = 10,      // the block number's width in the record
  dbfMemoNoTotal = 0xFFFFFFFC,  // SQL_NO_TOTAL as 32 bits: the value's end is not known yet
  dbfMemoTextPiece = 511,       // bytes of memo text the evaluator gets
};

// The block number of a record's field text: every digit counts, any other
// character is skipped. tooLarge is set (block 0) for a number beyond 32
// bits, which no memo file reaches.
uint32_t dbfParseMemoBlock(const unsigned char* text, uint32_t length, bool* tooLarge);
// The block number right-aligned in width blank-filled characters.
void dbfFormatMemoBlock(uint32_t block, unsigned char* text, uint32_t width);

// A reader's place in a memo value read or written in pieces.
struct DbfMemoCursor {
  // Reading: the value (record, column, block) the place belongs to.
  bool reading = false;
  uint32_t record = 0;
  uint16_t column = 0;
  uint32_t block = 0;
  uint64_t position = 0;   // file offset of the next byte
  uint32_t delivered = 0;  // value bytes delivered so far
  bool hasLength = false;  // the value has a length; else it is text up to 0x1A
  uint32_t length = 0;     // the value's length when it has one
  bool ended = false;      // the whole value was delivered
  // Writing: the value being written in pieces.
  bool writing = false;
  uint16_t writeColumn = 0;
  uint32_t writeBlock = 0;   // 0: not placed yet
  uint32_t ownedBlocks = 0;  // blocks from writeBlock the value may fill without taking more
  uint32_t written = 0;      // value bytes written so far
};

class DbfMemoFile {
 public:
  DbfMemoFile() = default;
  ~DbfMemoFile();
  DbfMemoFile(const DbfMemoFile&) = delete;
  DbfMemoFile& operator=(const DbfMemoFile&) = delete;

  // Opens the table's memo file (its name with "FPT" for a FoxPro table,
  // else "DBT") on first use and reads its header. Warning 1203 when a
  // dBASE IV file names another table; 1213 for a header that cannot be
  // used; S0002 when the file is missing.
  KvStatus open(DbfSharedDesc* table);
  // Closes the file (the table closes).
  void close();

  // Reads a piece of the value of a field: text is the field's record text
  // (width bytes), type its letter, offset the value bytes already taken
  // (0 for the start; a reader continuing where it stopped reads on, any
  // other offset is read up to from the start). got receives the bytes put
  // in buffer; total the value's whole length, dbfMemoNoTotal for text
  // whose end lies beyond this piece; isNull is set for block 0. Text (M)
  // is converted from OEM when oem is set.
  KvStatus read(DbfSharedDesc* table, DbfMemoCursor* cursor, uint32_t record, uint16_t column, unsigned char type,
                const unsigned char* text, uint32_t width, bool oem, uint32_t offset, unsigned char* buffer,
                uint32_t size, uint32_t* got, uint32_t* total, bool* isNull);

  // Writes a piece of a value into the memo file: the first (offset 0)
  // places the value, reusing the block the field names where the value
  // fits in the blocks it occupies, or where it is the last value of the
  // file, else at the next free block; later pieces follow in order and
  // move the value to the next free block when it outgrows its blocks.
  // Every piece leaves a whole value in the file and its block number in
  // field (width bytes of the record). lockHeader: take the memo-header
  // lock around the next-free number. inTransaction: the connection is
  // inside a manual-commit transaction (a text value's old size then
  // counts as unknown).
  KvStatus write(DbfSharedDesc* table, DbfMemoCursor* cursor, uint16_t column, unsigned char type,
                 unsigned char* field, uint32_t width, bool oem, bool lockHeader, bool inTransaction,
                 const unsigned char* data, uint32_t length, uint32_t offset);

  int getHandle() const { return handle_; }
  uint32_t getKind() const { return kind_; }
  uint32_t getBlockSize() const { return blockSize_; }

 private:
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
  KvStatus moveValue(uint32_t from, uint32_t to, uint32_t bytes);
  uint32_t headerBytes(unsigned char type) const;
  uint64_t fileSize() const;

  int handle_ = 0;
  uint32_t kind_ = dbfMemoDbase3;
  uint32_t blockSize_ = 512;
  // What the last read whose text reached its 0x1A learnt: its block and
  // the bytes from the block's start to the 0x1A.
  uint32_t lastReadBlock_ = 0;
  uint32_t lastReadTextBytes_ = 0;
  bool lastReadKnown_ = false;
};
