// Transactions of a file database: the change log. File tables have no
// transactions of their own, so while the connection is in manual-commit
// mode every insert, update and delete of a table is held in that table's
// change log (one FlatChangesDesc per shared table, made on first use) and
// written to the file only at commit (FlatConnection::endTransaction).
// Readers of the same connection see their own pending rows; other
// connections see the file as it was. In autocommit mode (the connection
// writes directly) changes go straight to the driver.
//
// The log lives in the shared table's pending-row store (a KvTmpFile). Each
// entry, integers little-endian:
//   offset  size        content
//   0       4           link: -1 when written; later the offset of the first
//                       keyset-notification node
//   4       1           kind: 0 insert, 1 update, 2 delete, 5 delete of a row
//                       inserted in this transaction (the entry ends here)
//   5       image size  the record-identifier image (4, or key length + 1)
//   ..      2 + n       u16 n, then n bytes from getTransactionInfo
//   ..      repeated    a value: u16 column, u32 internal type, u32 length,
//                       length bytes
//   ..      2           end mark 0xFFFF
// A long column (SQL type -1 or -4) is logged with type 1 and length 4: the
// value is the u32 offset of the long value in the connection's long-value
// store, which holds a u32 length followed by the bytes.
// A keyset-notification node (appended at the write end, chained from an
// entry's link word, the last node's next word -1): u32 descriptor id,
// u32 keyset row, u32 table position, u32 next-node offset.
//
// The index: a KvTree keyed by identifier image, data the u32 log offset of
// the record's latest entry (ordered by the shared table's getCompFunc, or
// unsigned 32-bit order for numbers and byte order for keys).
//
// Pending inserts of numeric tables get provisional record numbers 1, 2, 3
// ... with state 32 (bit 0x04000000 set): each has a tree key of its own,
// and they sort after every stored record, in the order they were made. A
// scan delivers the stored records (with this transaction's updates and
// deletes applied) and then the pending inserts, in that order, which is
// the order the table has after commit.
//
// Locking: entries are written and read under the table lock the statement
// holds; writers also take the table's change-log lock for one entry
// (flatLogBegin to flatLogEnd). Long values are read under the
// connection's long-value lock.
#pragma once

#include "flat/flat_types.h"
#include "util/memory/kv_object.h"

class KvTree;

// Kinds of log entries.
enum FlatChangeKind : uint8_t {
  flatChangeInsert = 0,
  flatChangeUpdate = 1,
  flatChangeDelete = 2,
  flatChangeDeleteInserted = 5,
};

// Modes of flatSpoolLongValue.
enum FlatSpoolMode : uint16_t {
  flatSpoolWhole = 0,   // store a whole value; offset receives its place
  flatSpoolBegin = 1,   // start the cursor's spool with the first piece
  flatSpoolAppend = 2,  // append a piece
  flatSpoolFinish = 3,  // copy the spool into the store; offset receives its place
};

// What a commit of one log adds to its table's files: the records it
// appends and the long values it stores (which may take new space even in
// an update).
struct FlatCommitSpace {
  uint32_t appendedRecords = 0;
  uint32_t longValues = 0;
  uint64_t longBytes = 0;
};

class KV_FLAT_API FlatChangesDesc : public KvObject {
 public:
  enum : uint32_t { noOffset = 0xFFFFFFFF };
  explicit FlatChangesDesc(FlatSharedDesc* shared);
  ~FlatChangesDesc() override;
  // Makes the index; out of memory fails.
  KvStatus initialize();

  FlatSharedDesc* getShared() const { return shared_; }
  KvTree* getIndex() const { return index_; }
  uint32_t getEntryCount() const { return entryCount_; }
  uint32_t getWriteEnd() const { return writeEnd_; }
  // Identifies this log among all logs a process made: a reader's
  // pending-row cursor is valid only for the log it was made on.
  uint64_t getSerial() const { return serial_; }
  // The next provisional record number a pending numeric insert gets.
  uint32_t getNextProvisional() const { return nextProvisional_; }

  // ---- writing one entry (the caller holds the change-log lock)
  KvStatus beginEntry(FlatFileDesc* cursor, uint8_t kind);
  KvStatus logValue(FlatFileDesc* cursor, uint16_t column, const void* value, uint32_t length,
                    uint32_t internalType);
  KvStatus endEntry(FlatFileDesc* cursor);
  // The executor failed: the entry goes as if never begun.
  void abandonEntry();
  // Chains a keyset notification to the entry at entryOffset.
  KvStatus addKeysetNotification(uint32_t entryOffset, uint32_t descriptorId, uint32_t keysetRow,
                                 uint32_t tablePosition);

  // ---- reading
  // The kind and log offset of the latest entry for an identifier image;
  // found 0 when the record has none.
  KvStatus findEntry(const void* image, uint8_t* kind, uint32_t* offset, uint32_t* found);
  // Places the values of the entry at offset into the cursor's column
  // records (log offsets; columns without a value get missing).
  KvStatus placeValues(FlatFileDesc* cursor, uint32_t offset, int32_t missing);
  // Positions the cursor on the row of the entry at offset as this
  // transaction sees it: a new row starts from the driver's empty record
  // (initializeForInsert), a stored one from the record the cursor read;
  // then every logged value of a column that is not long goes into the
  // cursor's record buffer through the driver's updateColumn, so the driver
  // reads it back exactly as it will read it after commit (padding,
  // rounding, NULL). Long values stay in the log: their column records get
  // the log offsets (or missing for a new row without one).
  KvStatus loadRow(FlatFileDesc* cursor, uint32_t offset, bool newRow);
  // Reads the header of the entry at offset: kind, identifier image (out of
  // image size bytes, may be null) and the offset of its first value.
  KvStatus readHeader(uint32_t offset, uint8_t* kind, void* image, uint32_t* valuesOffset,
                      uint8_t** info, uint16_t* infoLength);
  // Reads one value item at offset: column, type, length and the offset of
  // its bytes; column 0xFFFF at the end mark.
  KvStatus readItem(uint32_t offset, uint16_t* column, uint32_t* type, uint32_t* length, uint32_t* bytes);

  // ---- commit, through writer (a reader attached to this table, opened by
  // the driver's prepareToCommit).
  // Checks, before anything of the transaction is written, what the commit
  // would meet: every record an entry changes or deletes is still there,
  // every row as it will be stored is one the driver takes (each value
  // through its updateColumn), and no two rows of the transaction share a
  // value in a unique column. Writes nothing.
  KvStatus check(FlatFileDesc* writer);
  // Applies every entry, after asking the writer to reserve the room they
  // take (reserveSpace: a refusal writes nothing). When it fails, the entries not written stay in the
  // log (the failed one and all after it), so that the transaction still
  // holds them: a later commit writes them, a rollback drops them.
  KvStatus apply(FlatFileDesc* writer);

 private:
  KvStatus writeBytes(const void* data, uint32_t length);
  KvStatus copyForward(uint32_t previous, FlatFileDesc* cursor);
  KvStatus applyEntry(FlatFileDesc* writer, uint32_t offset, uint16_t* needsHeaderRefresh);
  // Counts what the entries add (FlatCommitSpace); reads the log only.
  KvStatus measureSpace(FlatCommitSpace* space);
  // 4042 when the log holds the key as an insert or update; deletedInLog
  // says that it holds a delete of the stored row with that key.
  KvStatus checkDuplicateKey(const void* image, uint32_t* deletedInLog);
  // Drops from the index every entry before image (they were written).
  KvStatus keepFrom(const void* image);
  KvTree* makeIndex();

  FlatSharedDesc* shared_;
  KvTree* index_ = nullptr;
  uint32_t entryStart_ = 0;     // behind the link word of the entry being written
  uint32_t writeEnd_ = 1;       // where the next byte goes (store offsets start at 1)
  uint32_t previousEntry_ = noOffset;
  uint32_t firstEntryLength_ = 0;
  uint32_t entryCount_ = 0;
  uint32_t nextProvisional_ = 1;
  uint8_t entryKind_ = 0;
  bool unusable_ = false;  // a failed commit could not tell its written entries apart
  uint64_t serial_;
};

// ---- what the insert, update and delete executors (and the private
// statement options) call, under the statement's table lock.

// Begins an entry of kind for the cursor's current row in its table's log
// (made on first use), under the change-log lock; also opens the
// framework's transaction mark when none is open. A delete of a row with
// state 32 becomes kind 5.
KV_FLAT_API KvStatus flatLogBegin(FlatFileDesc* cursor, uint8_t kind);
// Ends the entry and releases the change-log lock. An insert of a key
// already inserted or updated in this transaction fails with 4042 and the
// entry is abandoned.
KV_FLAT_API KvStatus flatLogEnd(FlatFileDesc* cursor);
// Abandons the entry and releases the change-log lock.
KV_FLAT_API void flatLogAbandon(FlatFileDesc* cursor);
// The column store: writing directly, the value goes to the driver
// (updateColumn; a long column's value, from the long-value store when
// longOffset is not 0xFFFFFFFF, through updateLargeColumn); otherwise the
// driver checks it (checkValue; not for long columns) and it is logged in
// the entry begun. On a cursor standing on its blank outer-join row a
// value with bytes fails with 4011 (S1000); an empty one is accepted and
// nothing is written.
KV_FLAT_API KvStatus flatStoreColumn(FlatFileDesc* cursor, uint16_t column, const void* value, uint32_t length,
                                     uint32_t internalType, uint32_t longOffset);
// Appends the cursor's record buffer as a new record (write directly): the
// next record number (getMaxRecords + 1, or the shared record count + 1
// with fromCount), writeRecord(append), the count raised and, unless
// fromCount, setRecordCnt. Record numbers beyond flatMaxRecordNumber fail
// with 4097.
KV_FLAT_API KvStatus flatAppendRecord(FlatFileDesc* cursor, uint16_t fromCount);
// Spools a long value for the cursor (FlatSpoolMode); offset receives the
// value's place in the long-value store for modes 0 and 3.
KV_FLAT_API KvStatus flatSpoolLongValue(FlatFileDesc* cursor, uint16_t mode, const void* data, uint32_t length,
                                        uint32_t* offset);
// Reads length bytes of a long value at offset of the long-value store
// from byte position from; total receives its whole length.
KV_FLAT_API KvStatus flatReadLongValue(FlatConnection* connection, uint32_t offset, uint32_t from, void* buffer,
                                       uint32_t length, uint32_t* got, uint32_t* total);

// ---- what scans call: rows as this connection's transaction sees them.
// Starts a scan: resetToFirstRecord and the bound of pending inserts it
// will deliver (those made before it started).
KV_FLAT_API KvStatus flatStartScan(FlatFileDesc* cursor);
// The next row: stored records first (a record deleted in the transaction
// is skipped, an updated one is marked as coming from the log with its
// logged values), then the pending inserts. found 0 at the end.
KV_FLAT_API KvStatus flatReadNext(FlatFileDesc* cursor, uint16_t* found);
// Whether the current row takes a column's value from the log (a value
// this transaction gave it, or none for a pending insert) rather than from
// the driver's record.
KV_FLAT_API int flatHasPendingValue(FlatFileDesc* cursor, uint16_t column);
// A column of the current row in getFieldData's form, from the log where
// the row has a logged value, else from the driver.
KV_FLAT_API KvStatus flatGetFieldData(FlatFileDesc* cursor, uint16_t column, void* buffer, int32_t* length,
                                      uint16_t bufferSize, uint8_t* kind);
// Whether the record an identifier image names has pending changes.
KV_FLAT_API KvStatus flatHasPendingChanges(FlatSharedDesc* shared, const void* image, uint32_t* found);
