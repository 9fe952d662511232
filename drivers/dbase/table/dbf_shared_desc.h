// DbfSharedDesc: one open .DBF file of a connection, shared by every
// statement's reader of it (the engine's FlatSharedDesc): the file, its
// checked header (geometry, fields, record count), the flags of what was
// written, and the date of last update written back when a changed table
// closes. DbfSharedField is one field of it.
//
// Every byte offset into the file is computed here from the header
// length H and record length R: record n (from 1) lies at H + R * (n - 1),
// in 64 bits, so a large record number can never wrap into the header.
#pragma once

#include "drivers/dbase/connection/dbf_connection.h"
#include "drivers/dbase/locks/dbf_lock_table.h"
#include "drivers/dbase/memo/dbf_memo_file.h"
#include "drivers/dbase/table/dbf_header.h"
#include "flat/connection/flat_shared_desc.h"

class DbfSharedField : public FlatSharedField {
 public:
  DbfSharedField(DbfConnection* connection, const DbfFieldInfo& info);
  ~DbfSharedField() override;

  // Name (converted from OEM when oem is set), SQL type, type name,
  // precision and scale from the dialect's type row of the letter.
  KvStatus describe(const DbfDialect& dialect, bool oem);

  // B D G L M P: the type row's SQL type; F and N: SQL_DOUBLE; C and any
  // other: SQL_VARCHAR.
  int16_t getFlatFieldType() override;
  // 8 (case sensitive) for C and M.
  uint16_t getAttributes() override;
  // 0 for B G P, 3 (searchable) for C, 2 for the others.
  int16_t isSearchable() override;
  int16_t isUpdatable() override;

  DbfConnection* getDbfConnection() const { return connection_; }
  unsigned char getType() const { return type_; }
  uint16_t getLength() const { return length_; }
  uint16_t getDecimals() const { return decimals_; }
  uint32_t getOffset() const { return offset_; }
  int isMemoType() const { return type_ == 'B' || type_ == 'G' || type_ == 'M' || type_ == 'P'; }

 private:
  DbfConnection* connection_;
  unsigned char type_;
  uint16_t length_;
  uint16_t decimals_;
  uint32_t offset_;
  char storedName_[dbfMaxNameChars + 1];
  int16_t rowSqlType_ = 0;
};

class DbfSharedDesc : public FlatSharedDesc {
 public:
  // The table's flag word.
  enum : uint32_t {
    tableReadOnly = 0x1,   // opened read-only (the file or the connection is)
    tableWritten = 0x2,    // written since its directory entry was updated
    tableChanged = 0x4,    // changed: the date of last update is written on close
    tableExclusive = 0x8,  // opened exclusively (PACK, CREATE INDEX)
    tableValid = 0x40,     // header read and checked
    tableOem = 0x80,       // text is in the OEM character set
  };
  // The layout word.
  enum : uint32_t {
    layoutMemoFields = 0x1,       // has B, G, M or P fields
    layoutDbase3 = 0x2,           // dBASE III and later layout (not dBASE II)
    layoutMemoHeaderLocked = 0x4,
    layoutHeaderLocked = 0x8,
    layoutIndexWritten = 0x10,
  };

  // Opens the .DBF file at path and reads and checks its header; on
  // success a new shared table for the reader (linked into the
  // connection's list), else none at all. A read-write open that fails
  // falls back to read-only, except an exclusive one; a missing file is
  // S0002; header faults are 4015 and 4016 with the path.
  static KvStatus open(DbfConnection* connection, FlatFileDesc* reader, const unsigned char* path, bool exclusive,
                       bool oem, DbfSharedDesc** out);
  // Writes the date of last update when the table was changed, then closes
  // the file.
  ~DbfSharedDesc() override;

  // Writes the shared record count into the header (4 bytes at 4, dBASE
  // II 2 bytes at 1).
  KvStatus setRecordCnt() override;
  // With UltraSafeCommit, writes the file through to the disk when it was
  // written since the last time.
  KvStatus updateDir() override;

  // Reads the record count into the shared count: from the header (at
  // most the whole records the file holds), or under LockCompatibility
  // CLIPPER from the file's size.
  KvStatus refreshRecordCount();
  // Reads record n into buffer (R bytes) through the block cache; got is
  // the count read (R, or less past the end of the file).
  KvStatus readRecordBytes(uint32_t n, unsigned char* buffer, uint32_t* got, int hint);
  // Writes length bytes at the start of record n (R, or R + 1 for an
  // append that ends the file with 0x1A); fails on a read-only table.
  KvStatus writeRecordBytes(uint32_t n, const unsigned char* data, uint32_t length);
  // Sets aside room on the disk for count records from record first on,
  // and the end mark after them, without writing (bosFileReserve): a full
  // disk fails here, before anything of an insert or a commit is written.
  KvStatus reserveRecords(uint32_t first, uint32_t count);
  // A commit's room: appendedRecords after the counted records, and
  // longValues memo values of longBytes bytes in all (a table with memo
  // fields). Nothing on a read-only table, whose writes are refused.
  KvStatus reserveSpace(uint32_t appendedRecords, uint32_t longValues, uint64_t longBytes);
  // Appends record n: length bytes, the record and its end mark. A write
  // that fails part-way is cut back and the end mark put back where it
  // was, so that the file holds the records it held (no other program
  // takes the torn bytes for a record).
  KvStatus appendRecordBytes(uint32_t n, const unsigned char* data, uint32_t length);

  DbfConnection* getDbfConnection() const { return connection_; }
  DbfSharedField* getField(uint16_t column) const { return static_cast<DbfSharedField*>(getColumn(column)); }
  int getDataHandle() const { return dataHandle_; }
  uint32_t getHeaderLength() const { return headerLength_; }
  uint32_t getRecordLength() const { return recordLength_; }
  uint64_t recordOffset(uint32_t n) const { return headerLength_ + uint64_t(recordLength_) * (n - 1); }
  bool isDbase2() const { return !(layout_ & layoutDbase3); }
  uint32_t getTableFlags() const { return tableFlags_; }
  void addTableFlags(uint32_t bits) { tableFlags_ |= bits; }
  uint32_t getLayout() const { return layout_; }
  int isReadOnly() const { return (tableFlags_ & tableReadOnly) != 0; }
  // Fails a write with 3865 "Cannot modify a table which has been opened
  // read only."
  KvStatus refuseReadOnly();
  int isOem() const { return (tableFlags_ & tableOem) != 0; }
  uint8_t getVersion() const { return version_; }
  uint8_t getProductionIndex() const { return productionIndex_; }
  uint32_t getLastWrittenRecord() const { return lastWritten_; }
  void setLastWrittenRecord(uint32_t n) { lastWritten_ = n; }
  // The memo file (opened on first use) and the locks this connection
  // holds on the table.
  DbfMemoFile& memo() { return memo_; }
  DbfLockTable& locks() { return locks_; }
  // A change: the date is written on close, the directory entry updated.
  void markChanged() { tableFlags_ |= tableWritten | tableChanged; }
  // An index file of the table was written (its directory entry is
  // updated with the table's).
  void markIndexWritten() { layout_ |= layoutIndexWritten; }

 private:
  DbfSharedDesc(DbfConnection* connection, FlatFileDesc* reader, int handle, const DbfHeaderInfo& header,
                uint32_t flags);
  KvStatus addFields(const DbfHeaderInfo& header);

  DbfConnection* connection_;
  int dataHandle_;
  DbfMemoFile memo_;
  DbfLockTable locks_;
  uint32_t tableFlags_;
  uint32_t layout_ = 0;
  uint32_t headerLength_;
  uint32_t recordLength_;
  uint32_t lastWritten_ = 0;
  // Whole records the file was last seen to hold (its size), or that this
  // connection wrote since; a header count above it is checked against
  // the file's size again.
  uint32_t wholeRecords_ = 0;
  // The file's end up to which reserveRecords has set room aside.
  uint64_t reservedEnd_ = 0;
  uint8_t version_;
  uint8_t productionIndex_;
};
