// DbfFileDesc: one statement's reader and writer of one .DBF table (the
// engine's FlatFileDesc). It walks the records, reads one by its number
// (the engine's FlatNumericRid holds numbers from 1), hands out and stores
// column values (dbf_values.cpp), appends, rewrites and deletes records,
// and keeps the options a statement gave after the table's name (which
// records it sees, its lock level, its character set, its index list).
//
// The record buffer holds R + 2 bytes: the record, then 0x1A and 0, so
// that the record's text after the deletion byte is always terminated and
// an append writes the end-of-file mark with the record. It holds the
// record as the file does, in the table's character set: text values are
// converted as they are read out of it or stored into it, never the whole
// record, because OEM and ANSI do not map back and forth for every
// character, and a field a statement does not assign must be written back
// byte for byte.
#pragma once

#include "drivers/dbase/memo/dbf_memo_file.h"
#include "drivers/dbase/memo/dbf_memo_stage.h"
#include "drivers/dbase/table/dbf_shared_desc.h"
#include "flat/connection/flat_file_desc.h"
#include "util/containers/kv_array.h"

class DbfConnection;
struct DbfHeldLock;

// An element of an index list after a table name: a path of an index file
// to open (0), or the name of an index or tag to make current (1).
class DbfIndexName : public KvObject {
 public:
  enum : uint16_t { openFile = 0, useIndex = 1 };
  DbfIndexName() = default;
  ~DbfIndexName() override;
  KvStatus set(const unsigned char* text, uint16_t kind);
  const unsigned char* getText() const { return text_; }
  uint16_t getKind() const { return kind_; }

 private:
  unsigned char* text_ = nullptr;
  uint16_t kind_ = openFile;
};

class DbfFileDesc : public FlatFileDesc {
 public:
  // The reader's flag word.
  enum : uint32_t {
    readDeleted = 0x1,      // deliver deleted records
    readLive = 0x2,         // deliver live records
    currentDeleted = 0x8,   // the current record is deleted (so it is not locked)
    memoNoHeader = 0x100,   // the memo value being read has no block header
    charsetGiven = 0x80,    // the statement named a CHARSET
    readerOem = 0x200,      // text in the OEM character set
  };

  // connection: the statement's connection, or null for a reader that the
  // connection makes for a commit.
  explicit DbfFileDesc(DbfConnection* connection);
  ~DbfFileDesc() override;

  // ---- the table contract (records)
  // Opens the table at a full path: the connection's shared table of that
  // path (4046 when its character set differs, 4044 when 32 readers have
  // it), or a new one whose header is read and checked.
  KvStatus openDataFile(FlatConnection* connection, const unsigned char* name) override;
  KvStatus getMaxRecords(uint32_t* out) override;
  // The next record the reader delivers (live, deleted or both); found 0
  // at the end of the table, also when the header's count is larger than
  // the records the file holds.
  KvStatus readNextRec(uint16_t* found) override;
  // The record the identifier names: getRecFound, getRecPastEnd (beyond
  // the count, or the file ends inside it), getRecGone (deleted while
  // deleted records are not delivered).
  KvStatus readRecord(GetRecRetType* out) override;
  KvStatus getRecordID(void* out) override;
  KvStatus setRecordID() override;
  KvStatus setRecordPosition() override;
  // The count again, and the file's cached pages dropped, so that a new
  // scan sees what other programs wrote.
  KvStatus resetToFirstRecord() override;
  // rewrite: record length bytes at the current record; append: the
  // record (deletion byte blank) and the 0x1A after it, at the number the
  // identifier holds. The memo values stored for the record are written
  // first, once everything that could refuse the record has been checked
  // and, for an append, the record's room on the disk is reserved: an
  // append that fails leaves the table's files as they were.
  KvStatus writeRecord(uint16_t mode) override;
  // The record buffer all blanks (memo values stored for another record
  // are dropped).
  KvStatus initializeForInsert() override;
  // "*" into the current record's first byte.
  KvStatus deleteRecord() override;
  KvStatus useIndex(const unsigned char* name) override;
  KvStatus closeIndex(const unsigned char* name) override;
  void resetToAllocatedState() override;
  // Five bytes: the lock level and the include-deleted bit, then the
  // reader's user bit. setTransactionInfo takes the level and the bit for
  // deleted records back; the user bit stays in the log only: the commit
  // writer that replays an entry keeps holding its locks for every reader,
  // so that the unlock ending the commit lets go of all of them.
  KvStatus getTransactionInfo(uint8_t** data, uint16_t* length) override;
  KvStatus setTransactionInfo(uint8_t* data, uint16_t length) override;
  // Index files named after the table are not opened yet: a list that
  // names one fails cleanly here.
  KvStatus initializeIndexes(FlatStatement* statement) override;

  // ---- the table contract (values, dbf_values.cpp)
  KvStatus getFieldData(uint16_t column, void* buffer, int32_t* length, uint16_t bufferSize,
                        uint8_t* kind) override;
  KvStatus updateColumn(uint16_t column, const void* value, uint32_t length, uint32_t internalType) override;
  // A memo-type value, whole or a piece at a value offset: staged until
  // writeRecord (dbf_memo_stage.h). Other fields take it as text.
  KvStatus updateLargeColumn(uint16_t column, const void* value, uint32_t length, uint32_t offset) override;
  KvStatus getLargeColumn(uint16_t column, void* buffer, uint32_t size, uint32_t offset, uint32_t* got,
                          uint32_t* total) override;
  KvStatus checkValue(uint16_t column, const void* value, uint32_t length, uint32_t internalType) override;
  // Room for the commit's appended records and memo values
  // (DbfSharedDesc::reserveSpace).
  KvStatus reserveSpace(uint32_t appendedRecords, uint32_t longValues, uint64_t longBytes) override;

  // ---- the table contract (locks, locks/dbf_record_locks.cpp)
  // The current record's lock (flatLockRecord; at level FILE the
  // whole-file lock) or its update lock (flatLockUpdate, K+V only); a
  // record another program holds fails with 3961. Nothing at level NONE
  // or on a deleted record.
  KvStatus lockRecord(uint16_t mode) override;
  // Lets go of this reader's lock of the record rid names, or with no rid
  // of all its locks of that mode (flatLockRecord: also the whole-file
  // lock); a byte is unlocked when no reader of the connection holds it.
  KvStatus unlockRecord(uint16_t mode, FlatRid* rid) override;
  // The table header lock (waiting while another program holds it), then
  // the index locks.
  KvStatus lockHeaders() override;
  // flatLockRecord: releases the header lock; then the index locks, except
  // under K+V and K+VVirtual.
  void unlockHeaders(uint16_t mode) override;

  // ---- driver operations
  // Opens the table exclusively (PACK): 1234 when the connection has it
  // open; no read-only fallback.
  KvStatus openExclusive(FlatConnection* connection, const unsigned char* name);
  // Attaches to a shared table for the engine's commit. The writer has no
  // user bit of its own, so its locks are every reader's (lockBits).
  KvStatus attachForCommit(DbfSharedDesc* shared);
  // Options after the table name (dbf_table_options.cpp applies them).
  uint32_t getReaderFlags() const { return readerFlags_; }
  void setReaderFlags(uint32_t flags) { readerFlags_ = flags; }
  // RECORDS=DELETED: only deleted records; RECORDS=ALL: both kinds.
  void setRecordsDelivered(uint32_t readBits) {
    readerFlags_ = (readerFlags_ & ~uint32_t(readDeleted | readLive)) | readBits;
  }
  // CHARSET: OEM unless ANSI or WINDOWS.
  void setCharset(bool oem);
  int isOem() const { return (readerFlags_ & readerOem) != 0; }
  KvArray* getIndexNames() const { return indexNames_; }
  KvStatus makeIndexNames();
  DbfSharedDesc* table() const { return static_cast<DbfSharedDesc*>(shared_); }
  const unsigned char* getRecordBuffer() const { return recordBuffer_; }
  uint32_t currentRecord() const;
  // The user bits this reader's locks are held for: its own bit, or, for
  // a reader without one (the connection's commit writer), every bit, so
  // that its unlock at the end of a transaction releases the locks every
  // statement of the transaction took.
  uint32_t lockBits() const { return userBit_ ? userBit_ : uint32_t(FlatSharedDesc::allUsers); }

 private:
  KvStatus attach(FlatConnection* connection, const unsigned char* name, bool exclusive);
  KvStatus attachShared(DbfSharedDesc* found, const unsigned char* name);
  KvStatus allocateBuffer();
  // Decimal or date text of a value for a field (dbf_values.cpp).
  // Memo text for the evaluator (memo/dbf_memo_values.cpp).
  KvStatus getMemoText(uint16_t column, unsigned char* buffer, uint16_t bufferSize, int32_t* length, uint8_t* kind);
  DbfMemoRead memoRequest(const DbfSharedField* field, uint16_t column, uint32_t offset) const;
  // Writes the staged memo values and their block numbers into the record
  // buffer; the stage is empty afterwards, whatever the outcome.
  KvStatus writeStagedMemos();
  KvStatus lockWholeFile();
  void releaseWholeFile();
  void releaseHeldLock(DbfHeldLock* entry, uint16_t mode);
  KvStatus encodeValue(uint16_t column, const void* value, uint32_t length, uint32_t internalType,
                       unsigned char* field, int* keepField);

  DbfConnection* connection_;
  unsigned char* recordBuffer_ = nullptr;  // R + 2 bytes
  unsigned char* writeBuffer_ = nullptr;   // R + 1 bytes where a field's new text is made
  DbfMemoCursor memo_;       // place in a memo value read in pieces
  DbfMemoStage memoStage_;   // memo values waiting for the record's write
  KvArray* indexNames_ = nullptr;  // DbfIndexName, owned
  uint32_t readerFlags_ = readLive;
  uint8_t transactionInfo_[5] = {0};
};
