// The table contract, reader side: FlatFileDesc is one open table as one
// statement sees it (its cursor, current record, identifier, indexes in
// use); FlatFileField is the engine's record of one column for that reader.
// Every file driver derives its reader from FlatFileDesc; the engine reads
// and writes tables only through the virtual operations below, whose slot
// order is part of the interface between the engine and every driver.
//
// Each operation's contract says when the engine calls it, what it may
// assume, what it must leave and what it reports. "Must" operations fail in
// the engine (KvStatus 1 with S1C00 "Driver not capable."), so that a driver
// that lets the engine reach them must override them; the others succeed
// doing nothing unless said otherwise. Every KvStatus operation puts the
// reason of a failure in the current error list.
//
// Locking: the engine calls the record operations of a reader only while
// its statement holds the shared table's lock (FlatSharedDesc::lockTable),
// except openDataFile, which runs under the connection's table-list lock.
#pragma once

#include "flat/flat_types.h"
#include "util/containers/kv_array.h"

class KvSharedFile;

// The engine's record of one column of a reader. While the reader delivers
// a row from the change log (Part of the transaction machinery in
// flat_changes.h), the offset is the log offset of the column's logged
// value; -2 when the row has no logged value for the column.
class KV_FLAT_API FlatFileField : public KvObject {
 public:
  enum : int32_t { offsetNotPlaced = -1, offsetNoValue = -2 };
  enum : uint32_t {
    flagFresh = 0x1,    // set at construction
    flagChanged = 0x2,  // the change log entry being written has a value for the column
    flagNotRead = 0x4,  // a long column the statement does not select: the driver need not read it
  };
  FlatFileField() = default;
  ~FlatFileField() override;

  int32_t getLogOffset() const { return logOffset_; }
  void setLogOffset(int32_t offset) { logOffset_ = offset; }
  uint32_t getFlags() const { return flags_; }
  void setFlags(uint32_t flags) { flags_ = flags; }

 private:
  int32_t logOffset_ = offsetNotPlaced;
  uint32_t flags_ = flagFresh;
};

// Modes of lockRecord and unlockRecord that the engine passes. Kind 1 is the
// record lock proper; kind 2 the lock an update takes in addition (the
// driver decides how each maps to its file's locks).
enum : uint16_t { flatLockRecord = 1, flatLockUpdate = 2 };
// Modes of writeRecord: rewrite the current record, or append a new one at
// the record number the identifier holds.
enum : uint16_t { flatWriteUpdate = 0, flatWriteAppend = 1 };
// The total of getLargeColumn for a value whose length the driver cannot
// tell.
enum : uint32_t { flatLongLengthUnknown = 0xFFFFFFFF };

class KV_FLAT_API FlatFileDesc : public KvObject {
 public:
  FlatFileDesc();
  // Deletes the identifier, the pending-row cursor, the spool and the
  // column records; then, under the connection's table-list lock, clears
  // this reader's bit in the shared table's open-user mask and offers the
  // shared table to the cache (FlatConnection::removeSharedDesc, not
  // forced). A driver's destructor closes what it opened before this runs.
  ~FlatFileDesc() override;

  // ---- virtual operations, in slot order after the destructor and compare

  // 1 (must). Opens the file name (a full path) and attaches this reader to
  // its shared table: one from the connection's list with the same file, or
  // a new FlatSharedDesc (whose constructor links it and sets shared_). The
  // engine holds the table-list lock during the call. A shared table whose
  // 32 user bits are all taken is refused with 4044. On failure the reader
  // may still be attached; the engine then still gives it a user bit, so
  // that its destructor releases the table as usual.
  virtual KvStatus openDataFile(FlatConnection* connection, const unsigned char* name);
  // 2 (must). The number of record slots in the file (deleted ones
  // included); a record appended outside the change log gets this number
  // + 1. out may be null: the call then only refreshes the driver's header.
  virtual KvStatus getMaxRecords(uint32_t* out);
  // 3. Pages of the file, for the optimizer's costs; 0 when unknown.
  virtual uint16_t getMaxPages(uint32_t* out);
  // 4 (must). Reads the next live record in file order (or index order
  // after useIndex) and makes it current, its identifier set; found 1 when
  // a record was read, 0 at the end (the reader stays at the end).
  virtual KvStatus readNextRec(uint16_t* found);
  // 5 (must). Reads the record the current identifier names and makes it
  // current; out says whether it is there (GetRecRetType).
  virtual KvStatus readRecord(GetRecRetType* out);
  // 6 (must). Copies column's value of the current record into buffer
  // (bufferSize bytes) in the engine's form and says its kind
  // (FlatValueKind): 2 null (length 0); 8 an 8-byte double (numbers, and
  // dates, times and timestamps in their numeric form); 0x40 zero-terminated
  // text, length counting the terminator; binary columns give their bytes
  // with kind 0 and the byte count. A value that does not fit fails.
  virtual KvStatus getFieldData(uint16_t column, void* buffer, int32_t* length, uint16_t bufferSize,
                                uint8_t* kind);
  // 7 (must). The current record's identifier image (4 bytes, or key
  // length + 1) into out.
  virtual KvStatus getRecordID(void* out);
  // 8 (must). Makes the record the identifier names current (positions
  // the file; need not read it).
  virtual KvStatus setRecordID();
  // 9 (must). Positions on and reads the record the identifier names, for
  // an update: afterwards updateColumn changes that record's buffer.
  virtual KvStatus setRecordPosition();
  // 10. Back before the first record, for a new scan.
  virtual KvStatus resetToFirstRecord();
  // 11 (must). Stores value (length bytes in the internal type given) into
  // column of the record buffer.
  virtual KvStatus updateColumn(uint16_t column, const void* value, uint32_t length, uint32_t internalType);
  // 12 (must). Stores a piece of a long value into column: length bytes
  // that belong at byte offset of the value (the pieces of one value come in
  // order, the first at 0).
  virtual KvStatus updateLargeColumn(uint16_t column, const void* value, uint32_t length, uint32_t offset);
  // 13 (must). Writes the record buffer: flatWriteUpdate rewrites the
  // current record, flatWriteAppend appends the record whose number (or
  // key) the identifier holds.
  virtual KvStatus writeRecord(uint16_t mode);
  // 14. Prepares a blank record buffer for an insert.
  virtual KvStatus initializeForInsert();
  // 15 (must). Deletes the current record (setRecordID ran before).
  virtual KvStatus deleteRecord();
  // 16 (must). Makes readNextRec walk the named index.
  virtual KvStatus useIndex(const unsigned char* name);
  // 17. Locks the current record (flatLockRecord, flatLockUpdate).
  virtual KvStatus lockRecord(uint16_t mode);
  // 18. Unlocks the record rid names (null: the current one); mode
  // flatLockRecord with no identifier releases every record lock this
  // reader holds (the end of a transaction does this).
  virtual KvStatus unlockRecord(uint16_t mode, FlatRid* rid);
  // 19-22. Header and index locks around appends and key changes.
  virtual KvStatus lockHeaders();
  virtual KvStatus lockIndex();
  virtual void unlockIndex();
  virtual void unlockHeaders(uint16_t mode);
  // 23. Removes the current record's key of every index on column
  // (removed: how many).
  virtual KvStatus deleteKeyFromIndex(uint16_t column, uint16_t* removed);
  // 24. Adds the current record's key of every index on column.
  virtual KvStatus addKeyToIndex(uint16_t column);
  // 25. Adds the current record's keys of every index.
  virtual KvStatus addKeyToIndex();
  // 26. Adds one sorted key to an index being built (CREATE INDEX).
  virtual KvStatus addIndexEntry(uint8_t* key);
  // 27 (must). Closes the named index.
  virtual KvStatus closeIndex(const unsigned char* name);
  // 28. The statement went back to the allocated state.
  virtual void resetToAllocatedState();
  // 29. Copies from byte offset of a long column at most size bytes into
  // buffer: got the count, total the value's whole length
  // (flatLongLengthUnknown when the driver cannot tell it; the application
  // then sees SQL_NO_TOTAL). A NULL or empty value has total 0. With size
  // 0 buffer may be null: the call only tells the total.
  virtual KvStatus getLargeColumn(uint16_t column, void* buffer, uint32_t size, uint32_t offset, uint32_t* got,
                                  uint32_t* total);
  // 30. Bytes the change log stores with each entry of this reader (null
  // and 0: none). They stay the reader's; the log copies them.
  virtual KvStatus getTransactionInfo(uint8_t** data, uint16_t* length);
  // 31. Receives those bytes back when the entry is applied at commit.
  virtual KvStatus setTransactionInfo(uint8_t* data, uint16_t length);
  // 32. Builds the reader's index descriptions for the optimizer; runs
  // under the shared table's lock at open.
  virtual KvStatus initializeIndexes(FlatStatement* statement);
  // 33. Makes the identifier: a FlatNumericRid when the shared table's key
  // length is 0, else a FlatKeyRid of that length. Out of memory fails.
  virtual KvStatus allocRid(FlatRid** out);
  // 34-36. The optimizer's plan objects (flat/query/flat_index_desc.h).
  // allocOptDesc makes the cursor's plan for index, replacing the one it
  // holds (null when out of memory). evaluateOptDesc is called once the
  // plan's key buffers hold the range for the current outer rows; it says
  // how the driver will read (0: the engine's plain scan; 0x1, 0x2, 0x4 as
  // the join loop reads them). loadKeyBuffer copies key field part of a
  // value into the bound's key buffer at its offset, ending a text at the
  // shorter of its length and the key length.
  virtual FlatOptDesc* allocOptDesc(FlatIndexDesc* index);
  virtual KvStatus evaluateOptDesc(uint16_t* usable);
  virtual KvStatus loadKeyBuffer(FlatOptBnd* bound, uint16_t part, uint8_t* key);
  // 37. Resets the identifier to no record.
  virtual KvStatus nullifyRid();
  // 38-39. Key checks of an insert or update (the record buffer holds the
  // new values); a violation fails with the driver's message.
  virtual KvStatus checkKeyViolation();
  virtual KvStatus checkKeyViolation2();
  // 40 (must). Validates a value before it is stored (length bytes in the
  // internal type given).
  virtual KvStatus checkValue(uint16_t column, const void* value, uint32_t length, uint32_t internalType);
  // 41. Before a commit writes anything of the table (the writer holds the
  // table's header lock when it appends): sets aside room for
  // appendedRecords new records and longValues long values of longBytes
  // bytes in all, so that a full disk fails the commit before its first
  // write instead of half-way through it. Nothing is written.
  virtual KvStatus reserveSpace(uint32_t appendedRecords, uint32_t longValues, uint64_t longBytes);

  // ---- engine operations
  // Opens a table (name: a full path) for a statement of the connection:
  // openDataFile under the table-list lock, the lowest free user bit, one
  // FlatFileField a column, the table's handle in the statement,
  // initializeIndexes under the table's lock. A 33rd reader of one shared
  // table gets no bit and fails with 4044.
  KvStatus openTable(const unsigned char* name, FlatStatement* statement);

  FlatRid* getRid() const { return rid_; }
  // The optimizer's plan for the current execution (owned; null: scan).
  FlatOptDesc* getOptDesc() const { return optDesc_; }
  void setOptDesc(FlatOptDesc* plan);
  // The sorted lookup the optimizer attached (owned; null: none; see
  // flat/query/flat_sorted_lookup.h). Setting another deletes the old one.
  FlatLookup* getLookup() const { return lookup_; }
  void setLookup(FlatLookup* lookup);
  // Records delivered to the join loop, for its abort poll.
  uint32_t countDelivery() { return ++deliveries_; }
  // Takes rid as the reader's identifier (the old one is deleted).
  void setRid(FlatRid* rid);
  FlatSharedDesc* getShared() const { return shared_; }
  void setShared(FlatSharedDesc* shared) { shared_ = shared; }
  uint32_t getUserBit() const { return userBit_; }
  void setUserBit(uint32_t bit) { userBit_ = bit; }
  KvArray& getColumns() { return columns_; }
  FlatFileField* getColumn(uint16_t column) const {
    return column < columns_.getCount() ? static_cast<FlatFileField*>(columns_.getAt(column)) : nullptr;
  }
  // Lock level the driver sets: nonzero when its table takes record and
  // header locks (the engine then brackets changes with them).
  uint16_t getLockLevel() const { return lockLevel_; }
  void setLockLevel(uint16_t level) { lockLevel_ = level; }
  // Position counter and upper record limit of a scan, kept by the driver.
  uint32_t getPosition() const { return position_; }
  void setPosition(uint32_t position) { position_ = position; }
  uint32_t getRecordLimit() const { return recordLimit_; }
  void setRecordLimit(uint32_t limit) { recordLimit_ = limit; }
  // Access mode the engine sets for the statement's use of the table:
  // flatAccessScan, or flatAccessById while its rows are re-read by
  // identifier in an order of the statement's own (a sorted keyset), where
  // a driver's read should not displace cached pages for one record.
  enum : uint16_t { flatAccessScan = 0, flatAccessById = 1 };
  uint16_t getAccessMode() const { return accessMode_; }
  void setAccessMode(uint16_t mode) { accessMode_ = mode; }

  // ---- the table in its statement
  // Flags the statement's stages keep on the table: the join loop's
  // positions, which the evaluator reads (a column of a table that is not
  // positioned is undecidable; on the blank outer-join row it is the blank
  // outer-join value), and the parser's outer-join mark.
  enum : uint16_t {
    tableBlankRow = 0x1,        // stands on its blank outer-join row
    tableOuterOptional = 0x2,   // the optional side of a "*=" or "=*" join
    tableNotPositioned = 0x40,  // no current row yet
  };
  uint16_t getTableFlags() const { return tableFlags_; }
  void setTableFlags(uint16_t flags) { tableFlags_ = flags; }
  // The 32-bit handle that programs name the table by (see
  // flat/expr/flat_byte_code.h); given by openTable, 0 before.
  uint32_t getTableHandle() const { return tableHandle_; }
  // The name as the statement wrote it and its correlation name (owned
  // copies; null when none).
  const unsigned char* getTableName() const { return tableName_; }
  KvStatus setTableName(const unsigned char* name);
  const unsigned char* getCorrelationName() const { return correlationName_; }
  KvStatus setCorrelationName(const unsigned char* name);

  // FROM tables of a query, in FROM order (not owned through the links;
  // the query owns its tables).
  FlatFileDesc* getNextTable() const { return nextTable_; }
  FlatFileDesc* getPreviousTable() const { return previousTable_; }
  void setNextTable(FlatFileDesc* next) { nextTable_ = next; }
  void setPreviousTable(FlatFileDesc* previous) { previousTable_ = previous; }

  // ---- pending rows of this connection's transaction (flat_changes.h)
  // The pending-row cursor of a scan: the identifier image of the last
  // pending row delivered (image size bytes, owned; null before the first)
  // and the serial of the log it belongs to. A log freed at commit or
  // rollback leaves a different serial (or none), so a cursor kept across
  // the end of a transaction starts over instead of using a freed log.
  unsigned char* getPendingKey() const { return pendingKey_; }
  KvStatus setPendingKey(const void* image, uint16_t length);
  void clearPendingCursor();
  uint64_t getPendingSerial() const { return pendingSerial_; }
  void setPendingSerial(uint64_t serial) { pendingSerial_ = serial; }
  // The log's write end when the scan started: entries made later (by the
  // scan's own statement) are not delivered.
  uint32_t getPendingCount() const { return pendingCount_; }
  void setPendingCount(uint32_t count) { pendingCount_ = count; }
  // 0 while a scan reads stored records, 1 once it delivers pending inserts.
  uint32_t getPendingPosition() const { return pendingPosition_; }
  void setPendingPosition(uint32_t position) { pendingPosition_ = position; }
  // Nonzero while the current row comes from the change log.
  uint16_t isRowFromLog() const { return rowFromLog_; }
  void setRowFromLog(uint16_t fromLog) { rowFromLog_ = fromLog; }
  // The spool of a long value sent in pieces, made on first use.
  KvSharedFile* getSpool() const { return spool_; }
  void setSpool(KvSharedFile* spool) { spool_ = spool; }
  uint32_t getSpoolLength() const { return spoolLength_; }
  void setSpoolLength(uint32_t length) { spoolLength_ = length; }

 protected:
  // Makes the identifier when the driver has not (allocRid); drivers call
  // it from openDataFile once the shared table's key length is known.
  KvStatus makeRid();

  FlatRid* rid_ = nullptr;
  FlatOptDesc* optDesc_ = nullptr;
  FlatLookup* lookup_ = nullptr;
  uint32_t deliveries_ = 0;
  FlatSharedDesc* shared_ = nullptr;
  uint32_t userBit_ = 0;
  KvArray columns_;  // FlatFileField, owned
  FlatFileDesc* nextTable_ = nullptr;
  FlatFileDesc* previousTable_ = nullptr;
  unsigned char* pendingKey_ = nullptr;
  uint64_t pendingSerial_ = 0;
  uint32_t pendingCount_ = 0;
  uint32_t pendingPosition_ = 0;
  uint16_t rowFromLog_ = 0;
  KvSharedFile* spool_ = nullptr;
  uint32_t spoolLength_ = 0;
  uint16_t lockLevel_ = 0;
  uint16_t accessMode_ = 0;
  uint32_t position_ = 0;
  uint32_t recordLimit_ = 0;
  uint16_t tableFlags_ = 0;
  uint32_t tableHandle_ = 0;
  unsigned char* tableName_ = nullptr;
  unsigned char* correlationName_ = nullptr;
};
