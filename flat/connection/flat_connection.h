// FlatConnection: the file SQL engine's connection, between the framework's
// BaseConnection and every file driver's connection class. It adds the
// connection keys of a file database, the cache of shared open tables with
// its lock, the scratch and long-value stores of the change log, the block
// cache, the engine's flag word, and 17 virtual operations through which
// the engine asks the driver about its files.
//
// Lock order, outermost first: the table-list lock (held through the whole
// of commit and rollback), then the locks of a statement's tables in
// ascending table id, then the long-value lock, taken alone and innermost.
#pragma once

#include "base/connection/base_connection.h"
#include "flat/flat_types.h"
#include "util/locks/semaphore.h"
#include "util/files/tmp_file.h"

struct BvmCache;

// Tells a statement of the connection the final identifier of a row that
// its keyset named while the row was pending (set by the statement stage;
// descriptorId names the statement's query descriptor).
typedef void (*FlatKeysetNotifier)(BaseStatement* statement, uint32_t descriptorId, uint32_t keysetRow,
                                   uint32_t tablePosition, const void* image, uint16_t imageLength);

// The engine's flag word (FlatConnection::getEngineFlags). Whose each bit
// is: "conn" bits are kept by this class from options and keys; "driver"
// bits are set by the driver's constructor; "ctor" bits are set by the
// engine's constructor and read by the statement stages.
enum FlatEngineFlag : uint32_t {
  flatReadOnly = 0x1,            // conn: SQL_ACCESS_MODE read only
  flatUpdateAllowed = 0x2,       // driver: UPDATE (else S1C00)
  flatDeleteAllowed = 0x4,       // driver: DELETE
  flatInsertAllowed = 0x8,       // driver: INSERT
  flatDriver10 = 0x10,           // driver: set by the dBASE driver; read by the statement stages
  flatIndexFiles = 0x20,         // driver: keeps index files: closed when a query goes, keys added at commit
  flatStripQuotes = 0x40,        // driver: table names may carry back-quotes (flatStripEngrave)
  flatOem = 0x80,                // conn: Charset neither ANSI nor WINDOWS
  flatDeferQuery = 0x100,        // conn: DeferQueryEvaluation
  flatRowIdSupported = 0x200,    // driver: the ROWID pseudo column (record numbers)
  flatQualifiersUsable = 0x400,  // ctor: catalog calls take a qualifier (a directory)
  flatSharedRecordCounts = 0x800,  // driver: record counts from the shared table
  flatIndexInTxn = 0x1000,       // ctor: CREATE INDEX allowed inside a transaction
  flatCtor2000 = 0x2000,         // ctor
  flatColumnsNoCase = 0x4000,    // driver: CREATE TABLE refuses column names that differ only in case
  flatLongWhenSelected = 0x8000, // driver: long columns read only when selected
  flatWriteDirectly = 0x10000,   // conn: no change log (autocommit)
  flatIntlSort = 0x20000,        // conn: international sort order
  flatNotEnglish = 0x40000,      // conn: the language is not English
  flatBlankIsNull = 0x80000,     // driver: blank character values read as NULL
  flatQualifiersListed = 0x100000,  // ctor: getQualifier lists qualifiers
  flatOwnersListed = 0x200000,   // driver: getOwner lists owners
  flatTablesListed = 0x400000,   // ctor: getTable lists tables
  flatViewsListed = 0x800000,    // driver: getView lists views
  flatSystemTablesListed = 0x1000000,  // driver: getSystemTable lists system tables
  flatAliasesListed = 0x2000000,   // driver: getAlias lists aliases
  flatSynonymsListed = 0x4000000,  // driver: getSynonym lists synonyms
  flatNotNullHonoured = 0x8000000,  // driver
  flatUltraSafeCommit = 0x10000000, // conn: UltraSafeCommit
  flatOwnersUsable = 0x20000000, // driver: catalog calls take an owner (0x200 is the ROWID bit here)
  flatBlockCache = 0x40000000,   // conn: the block cache was started
  flatDriver80000000 = 0x80000000,  // driver: set by the dBASE driver; read by the statement stages
  flatInitialFlags = 0x513500,   // the constructor's word
};

// The bits of each owner of the engine's flag word. A driver's constructor
// adds or clears flatDriverFlags only (it may repeat a ctor bit); the
// connection keys and options own flatConnFlags; the ctor bits are fixed by
// the engine.
enum : uint32_t {
  flatConnFlags = flatReadOnly | flatOem | flatDeferQuery | flatWriteDirectly | flatIntlSort | flatNotEnglish |
                  flatUltraSafeCommit | flatBlockCache,
  flatDriverFlags = flatUpdateAllowed | flatDeleteAllowed | flatInsertAllowed | flatDriver10 | flatIndexFiles |
                    flatStripQuotes | flatRowIdSupported | flatSharedRecordCounts | flatColumnsNoCase |
                    flatLongWhenSelected | flatBlankIsNull | flatNotNullHonoured | flatDriver80000000 |
                    flatOwnersListed | flatViewsListed | flatSystemTablesListed | flatAliasesListed |
                    flatSynonymsListed | flatOwnersUsable,
  flatCtorFlags = flatQualifiersUsable | flatIndexInTxn | flatCtor2000 | flatQualifiersListed | flatTablesListed,
};
static_assert((flatConnFlags & flatDriverFlags) == 0 && (flatConnFlags & flatCtorFlags) == 0 &&
                  (flatDriverFlags & flatCtorFlags) == 0,
              "an engine flag belongs to one owner");
static_assert((flatInitialFlags & ~uint32_t(flatCtorFlags | flatConnFlags)) == 0,
              "the constructor's word sets no driver bit");

// Whether two table paths name the same file as the OS layer finds files:
// without regard to ASCII case, "\\" read as "/".
KV_FLAT_API bool flatSameTablePath(const unsigned char* a, const unsigned char* b);

// Private connection option of the file drivers: the setup dialog.
enum : uint16_t { flatOptionSetupDialog = 1044 };

class KV_FLAT_API FlatConnection : public BaseConnection {
 public:
  explicit FlatConnection(BaseEnv* env);
  // Destroys the stores and locks; the framework part follows.
  ~FlatConnection() override;

  // ---- framework operations the engine fills in
  // Disconnect: every cached table is closed (forced), then the driver's
  // drvrSetToAllocatedState; the scratch store is emptied, the block cache
  // ended.
  KvStatus setToAllocatedState() override;
  // No dialog: finishes the connect.
  KvStatus connectLogonDialogStart(SQLHWND hwnd, SQLUSMALLINT completion, KvValueParser* parser) override;
  // 3800-4099 from the engine's table, every other id from getResourceStr.
  short getDriverResourceStr(uint16_t id, unsigned char* buffer, uint32_t size) override;
  // Sets the framework's transaction mark and stops writing directly.
  KvStatus startTransaction() override;
  // 0 commits, 1 rolls back every table's change log (flat_transaction.cpp).
  KvStatus endTransaction(uint16_t type) override;
  // The engine's forms of the ODBC escape clauses (flat_escape.cpp).
  KvStatus expandNativeEscape(KvReplaceString* text, uint32_t argumentLength, EscapeType escapeType,
                              EscapeFunctionType functionType) override;
  // SQL_MAX_TABLE_NAME_LEN: what a file name leaves for the table name.
  KvStatus getAskedForInfo(uint16_t type, void** value, BaseInfoValType* kind) override;
  // 109 the database directory (a buffer of bosPathBytes), 1044 zero.
  KvStatus getConnectOption(uint16_t option, void* value) override;
  // 101, 102, 106/107 (S1C00), 109, 1044; the rest to the framework.
  KvStatus setConnectOption(uint16_t option, SQLULEN value) override;

  // ---- the engine's virtual operations, in slot order after the framework's
  // 1. A writer (FlatFileDesc) for the shared table, attached to it, for
  // commit. The engine's version fails: a driver that allows transactions
  // must override it.
  virtual KvStatus prepareToCommit(FlatSharedDesc* shared, FlatFileDesc** writer);
  // 2. The driver's text of a message id; returns its length (0: none).
  virtual short getResourceStr(uint16_t id, unsigned char* buffer, uint32_t size);
  // 3. The driver's part of the disconnect.
  virtual KvStatus drvrSetToAllocatedState();
  // 4. The table file extension, without the dot, into buffer (bosNameBytes).
  virtual void getExt(unsigned char* buffer);
  // 5. Whether ext is the driver's extension; the engine's fails.
  virtual KvStatus checkExt(const unsigned char* ext);
  // 6. wanted 0: null; else a new copy (ramFree) of the database directory.
  virtual KvStatus getQualifier(unsigned char** out, uint16_t wanted);
  // 7. Table enumeration: first set starts over in qualifier (null: the
  // database directory); each call gives a new copy (ramFree) of the next
  // table file's name without its extension, null when none is left.
  virtual KvStatus getTable(unsigned char** name, const unsigned char* qualifier, const unsigned char* pattern,
                            uint16_t first);
  // 8-12. Views, system tables, aliases, synonyms and owners: none.
  virtual KvStatus getView(unsigned char** name, const unsigned char* qualifier, const unsigned char* pattern,
                           uint16_t first);
  virtual KvStatus getSystemTable(unsigned char** name, const unsigned char* qualifier,
                                  const unsigned char* pattern, uint16_t first);
  virtual KvStatus getAlias(unsigned char** name, const unsigned char* qualifier, const unsigned char* pattern,
                            uint16_t first);
  virtual KvStatus getSynonym(unsigned char** name, const unsigned char* qualifier,
                              const unsigned char* pattern, uint16_t first);
  virtual KvStatus getOwner(unsigned char** name, const unsigned char* qualifier, uint16_t first);
  // 13. Whether the table's file exists (back-quotes stripped).
  virtual KvStatus doesTableExist(const unsigned char* name, uint16_t* exists);
  // 14. Whether a table of that full name is open and in use; an idle
  // cached one is closed and the answer is 0.
  virtual uint16_t isFileOpen(const unsigned char* name);
  // 15. The database directory changed (option 109, USE).
  virtual KvStatus changeDatabase(const unsigned char* name);
  // 16. Extra type names for CREATE TABLE.
  virtual KvStatus createAliases(FlatDataTypeParser* parser);
  // 17. Shows the driver's setup dialog (option 1044).
  virtual void bringSetupDialog(uint32_t value);
  // 18. The file a table name of a statement or a catalog call stands for,
  // into path (bosPathBytes); what openDataFile receives. qualifier is the
  // directory a catalog call names (null: the database directory). The
  // engine's version: without a qualifier getTableFullPath (no extension,
  // or the driver's, else 4017); with one, qualifier "/" name "." the
  // driver's extension, the name being a file's as getTable gave it.
  // Drivers whose tables are named otherwise (any file extension, names a
  // schema file defines, parts of a file) resolve names here themselves.
  virtual KvStatus resolveTableName(const unsigned char* qualifier, const unsigned char* name, unsigned char* path);

  // ---- engine operations
  // Reads the engine's connection keys; the driver's connectInit calls it
  // first. Links the engine's SQLGetInfo table behind the driver's.
  KvStatus getConnectOptions(KvValueParser* parser);
  // Offers an unused shared table to the cache (force 0) or closes it
  // (force 1); nothing happens while it has users or pending changes.
  // alreadyLocked: the caller holds the table-list lock.
  void removeSharedDesc(FlatSharedDesc* shared, uint16_t force, int alreadyLocked);
  // Closes idle tables beyond FileOpenCache (the list lock is held).
  void trimTableCache();
  // database directory + name + the driver's extension (added when the
  // name has none, else it must be the driver's: 4017) into path
  // (bosPathBytes).
  KvStatus getTableFullPath(const unsigned char* name, unsigned char* path);
  // Removes back-quotes from name in place while flatStripQuotes is set
  // (a doubled one stands for one).
  KvStatus flatStripEngrave(unsigned char* name);

  // ---- the table list (guarded by the table-list lock)
  void lockTableList() { listLocked_ = kvLazyLock(&tableListLock_); }
  void unlockTableList() { kvLazyUnlock(&tableListLock_, listLocked_); }
  FlatSharedDesc* getSharedTables() const { return sharedTables_; }
  // Links a new shared table at the head and gives it the next id.
  uint32_t linkSharedDesc(FlatSharedDesc* shared);
  uint32_t getTableCounter() const { return tableCounter_; }

  // ---- long values of a transaction (guarded by the long-value lock)
  KvTmpFile* getLongValueStore() { return &longValueStore_; }
  uint32_t getLongValueEnd() const { return longValueEnd_; }
  void setLongValueEnd(uint32_t end) { longValueEnd_ = end; }
  void lockLongValues() { longLocked_ = kvLazyLock(&longValueLock_); }
  void unlockLongValues() { kvLazyUnlock(&longValueLock_, longLocked_); }
  KvTmpFile* getScratchStore() { return &scratchStore_; }
  // Passes a row's final identifier to every statement of the connection.
  void notifyKeysetRow(uint32_t descriptorId, uint32_t keysetRow, uint32_t tablePosition, const void* image,
                       uint16_t imageLength);
  static void setKeysetNotifier(FlatKeysetNotifier notifier);

  // ---- state
  uint32_t getEngineFlags() const { return engineFlags_; }
  void setEngineFlags(uint32_t flags) { engineFlags_ = flags; }
  void addEngineFlags(uint32_t bits) { engineFlags_ |= bits; }
  void clearEngineFlags(uint32_t bits) { engineFlags_ &= ~bits; }
  bool isWritingDirectly() const { return (engineFlags_ & flatWriteDirectly) != 0; }
  const unsigned char* getDatabaseDirectory() const { return databaseDirectory_; }
  KvStatus setDatabaseDirectory(const unsigned char* directory);
  uint16_t getFileOpenCache() const { return fileOpenCache_; }
  void setFileOpenCache(uint16_t tables) { fileOpenCache_ = tables; }
  uint16_t getCacheChunks() const { return cacheChunks_; }
  BvmCache* getBlockCache() const { return blockCache_; }
  // The expression compiler's constant parse table: a 16-bit zero, then
  // the pairs (3, '#') and (3, '*').
  static const uint16_t* getParseTable();

 private:
  unsigned char* databaseDirectory_ = nullptr;
  KvTmpFile scratchStore_{32768};
  KvTmpFile longValueStore_{32768};
  uint32_t longValueEnd_ = 0;
  KvSemaphore* longValueLock_ = nullptr;
  KvSemaphore* tableListLock_ = nullptr;
  int longLocked_ = 0;
  int listLocked_ = 0;
  FlatSharedDesc* sharedTables_ = nullptr;  // newest first
  void* findState_ = nullptr;               // of getTable
  bool findActive_ = false;                      // getTable has names to give
  unsigned char* findBuffer_ = nullptr;     // getTable's pattern and names
  uint16_t fileOpenCache_ = 0;
  uint16_t cacheChunks_ = 0;
  uint32_t tableCounter_ = 0;
  BvmCache* blockCache_ = nullptr;
  uint32_t engineFlags_ = flatInitialFlags;
  // The information-table chain with the engine's table second.
  const BaseInfoTable* driverInfo_ = nullptr;
  BaseInfoTable driverLink_ = {};
  BaseInfoTable engineLink_ = {};
};

// A connection's table-list lock held for a scope: released however the
// scope is left, so that driver code under it may return early or throw.
class FlatTableListLock {
 public:
  explicit FlatTableListLock(FlatConnection* connection) : connection_(connection) {
    connection_->lockTableList();
  }
  ~FlatTableListLock() { connection_->unlockTableList(); }
  FlatTableListLock(const FlatTableListLock&) = delete;
  FlatTableListLock& operator=(const FlatTableListLock&) = delete;

 private:
  FlatConnection* connection_;
};
