// The table contract, table side: FlatSharedDesc is one open table file of
// a connection, shared by every reader (FlatFileDesc) of that connection
// that has the same file open, and kept in the connection's table cache
// after its last reader closes; FlatSharedField is one column of it. Each
// file driver derives both.
//
// Guarded by the connection's table-list lock: the list links (next), the
// open-user mask and the table id. Guarded by the table's own lock: the
// record state readers share (record count, the driver's file state) and
// the change log; a statement holds it while it executes or fetches.
#pragma once

#include "flat/flat_types.h"
#include "util/containers/kv_array.h"
#include "util/locks/semaphore.h"
#include "util/files/tmp_file.h"

// Comparison of two record-identifier images for the change log's tree.
typedef int16_t (*FlatRidCompare)(const void* a, const void* b, uint32_t length);

// One column of a shared table.
class KV_FLAT_API FlatSharedField : public KvObject {
 public:
  // Flag bits of a column. The engine reads them; the driver sets them.
  enum : uint32_t {
    flagUniqueKey = 0x4,  // the column belongs to a unique index
  };

  FlatSharedField() = default;
  // Frees the owned name and type name.
  ~FlatSharedField() override;

  // ---- virtual operations, in slot order after the destructor and compare;
  // the engine's versions answer 0.
  // The engine's field type of the column (the driver's table of types).
  virtual int16_t getFlatFieldType();
  // Attribute bits of the column, for the catalog functions.
  virtual uint16_t getAttributes();
  // SQL_SEARCHABLE and kin.
  virtual int16_t isSearchable();
  // Whether the column can be changed.
  virtual int16_t isUpdatable();

  // ---- description; the driver fills it when it reads the table header
  KvStatus setName(const unsigned char* name);
  KvStatus setTypeName(const unsigned char* typeName);
  const unsigned char* getName() const { return name_; }
  const unsigned char* getTypeName() const { return typeName_; }
  int16_t getSqlType() const { return sqlType_; }
  void setSqlType(int16_t type) { sqlType_ = type; }
  uint32_t getPrecision() const { return precision_; }
  void setPrecision(uint32_t precision) { precision_ = precision; }
  int16_t getScale() const { return scale_; }
  void setScale(int16_t scale) { scale_ = scale; }
  uint32_t getFlags() const { return flags_; }
  void setFlags(uint32_t flags) { flags_ = flags; }
  // Whether the column holds long values (SQL_LONGVARCHAR, SQL_LONGVARBINARY).
  bool isLong() const { return sqlType_ == -1 || sqlType_ == -4; }

 private:
  unsigned char* name_ = nullptr;
  unsigned char* typeName_ = nullptr;
  int16_t sqlType_ = 0;
  int16_t scale_ = 0;
  uint32_t precision_ = 0;
  uint32_t flags_ = 0;
};

class KV_FLAT_API FlatSharedDesc : public KvObject {
 public:
  // Flag bits of a shared table. The driver's bits: 0x1 (its own), and it
  // chooses which tables are cacheable (0x40), cache-preferred (0x20) or
  // never cached (0x8), and whether keys are provisional (0x100). The engine's: 0x2 and 0x4 (rows were appended or
  // changed through the engine, set by inserts), 0x10 (pending changes in
  // the change log: the cache never closes the table) and 0x80 (copied
  // from the connection's OEM bit at construction).
  enum : uint32_t {
    flagDriver = 0x1,
    flagAppended = 0x2,
    flagChanged = 0x4,
    flagNeverCache = 0x8,
    flagPending = 0x10,
    flagCachePreferred = 0x20,
    flagCacheable = 0x40,
    flagOem = 0x80,
    // The driver's: records are named by keys the driver gives when it
    // writes (a byte offset), not by column values; a pending insert then
    // gets a provisional key of the engine's, unique in the change log,
    // until the commit writes it.
    flagProvisionalKeys = 0x100,
  };
  enum : uint32_t { allUsers = 0xFFFFFFFF };

  // Made by the driver's openDataFile while the engine holds the
  // connection's table-list lock: takes the next table id, links the table
  // at the head of the connection's list, attaches reader (when not null)
  // and copies the connection's OEM bit.
  FlatSharedDesc(FlatConnection* connection, FlatFileDesc* reader);
  // Deletes the change log and the columns. The driver's destructor closes
  // the files. Runs with the table unlinked from the list.
  ~FlatSharedDesc() override;

  // ---- virtual operations, in slot order after the destructor and compare;
  // the engine's versions succeed doing nothing.
  // Writes the record count to the file.
  virtual KvStatus setRecordCnt();
  // Updates the file's directory entry (the drivers flush here when the
  // connection asks for ultra-safe commits).
  virtual KvStatus updateDir();
  // Reworks identifiers after the file was rewritten.
  virtual KvStatus mangleRids();
  // How the change log orders identifiers; null: unsigned 32-bit order for
  // numeric identifiers, byte order for keys.
  virtual FlatRidCompare getCompFunc();

  // ---- identifiers of the table
  // Keeps a copy of the full name, its base name (no directory, no
  // extension) and its directory as the qualifier.
  KvStatus setIdentifiers(const unsigned char* name);
  // Keeps path, less one trailing "/", as the qualifier.
  KvStatus setQualifier(const unsigned char* path);
  const unsigned char* getName() const { return name_; }
  const unsigned char* getBaseName() const { return baseName_; }
  const unsigned char* getQualifier() const { return qualifier_; }

  // ---- state
  FlatConnection* getConnection() const { return connection_; }
  FlatSharedDesc* getNext() const { return next_; }
  void setNext(FlatSharedDesc* next) { next_ = next; }
  FlatSharedDesc*& getNextLink() { return next_; }
  uint32_t getTableId() const { return tableId_; }
  uint32_t getFlags() const { return flags_; }
  void setFlags(uint32_t flags) { flags_ = flags; }
  void addFlags(uint32_t bits) { flags_ |= bits; }
  void clearFlags(uint32_t bits) { flags_ &= ~bits; }
  uint32_t getUserMask() const { return userMask_; }
  void setUserMask(uint32_t mask) { userMask_ = mask; }
  // Whether no reader has the table open and nothing is pending.
  bool isIdle() const { return userMask_ == 0 && !(flags_ & flagPending); }
  uint32_t getRecordCount() const { return recordCount_; }
  void setRecordCount(uint32_t count) { recordCount_ = count; }
  // 0: records are named by 32-bit numbers; else by keys of this length.
  uint16_t getKeyLength() const { return keyLength_; }
  void setKeyLength(uint16_t length) { keyLength_ = length; }
  // Bytes of an identifier image: 4, or key length + 1.
  uint16_t getRidImageLength() const { return keyLength_ ? uint16_t(keyLength_ + 1) : uint16_t(4); }

  // ---- columns (owned)
  KvStatus addColumn(FlatSharedField* field);
  uint16_t getColumnCount() const { return columns_.getCount(); }
  FlatSharedField* getColumn(uint16_t column) const {
    return column < columns_.getCount() ? static_cast<FlatSharedField*>(columns_.getAt(column)) : nullptr;
  }

  // ---- index descriptions (flat/query/flat_index_desc.h), owned: the
  // driver's in its order, the ROWID pseudo index last.
  FlatIndexDesc* getIndexes() const { return indexes_; }
  // Appends index at the end of the chain.
  void addIndexDesc(FlatIndexDesc* index);
  // Appends the ROWID pseudo index (tables of numeric identifiers only;
  // nothing for a keyed table or when it is already there).
  KvStatus addRowIdDesc();

  // ---- the change log and its store
  FlatChangesDesc* getChanges() const { return changes_; }
  void setChanges(FlatChangesDesc* changes) { changes_ = changes; }
  KvTmpFile* getPendingRows() { return &pendingRows_; }

  // ---- locks
  // The table lock: statements hold it around execute and fetch.
  void lockTable() { tableLocked_ = kvLazyLock(&tableLock_); }
  void unlockTable() { kvLazyUnlock(&tableLock_, tableLocked_); }
  // The change-log lock: taken while an entry is written.
  void lockChangeLog() { changeLogLocked_ = kvLazyLock(&changeLogLock_); }
  void unlockChangeLog() { kvLazyUnlock(&changeLogLock_, changeLogLocked_); }

 private:
  FlatChangesDesc* changes_ = nullptr;
  FlatIndexDesc* indexes_ = nullptr;
  FlatConnection* connection_;
  FlatSharedDesc* next_ = nullptr;
  KvArray columns_;  // FlatSharedField, owned
  uint32_t recordCount_ = 0;
  uint16_t keyLength_ = 0;
  KvTmpFile pendingRows_{32768};
  KvSemaphore* changeLogLock_ = nullptr;
  KvSemaphore* tableLock_ = nullptr;
  int changeLogLocked_ = 0;
  int tableLocked_ = 0;
  unsigned char* name_ = nullptr;
  unsigned char* baseName_ = nullptr;
  unsigned char* qualifier_ = nullptr;
  uint32_t userMask_ = 0;
  uint32_t tableId_ = 0;
  uint32_t flags_ = 0;
};

// A shared table's lock held for a scope: released however the scope is
// left, so that driver code under it may return early or throw.
class FlatTableLock {
 public:
  explicit FlatTableLock(FlatSharedDesc* shared) : shared_(shared) { shared_->lockTable(); }
  ~FlatTableLock() { shared_->unlockTable(); }
  FlatTableLock(const FlatTableLock&) = delete;
  FlatTableLock& operator=(const FlatTableLock&) = delete;

 private:
  FlatSharedDesc* shared_;
};
