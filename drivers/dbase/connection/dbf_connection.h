// DbfConnection: the dBASE driver's connection handle (HDBC), on the file
// SQL engine's FlatConnection. A connection names a directory whose .DBF
// files are its tables; it adds the dialect new tables and indexes are
// created in (CreateType), the byte-range lock scheme shared with other
// programs (LockCompatibility), the default lock level of new readers
// (Locking), the string comparison (Compatibility), the file extensions,
// the dialect's type table and the SQLGetInfo answers that depend on it.
#pragma once

#include "drivers/dbase/connection/dbf_dialect.h"
#include "flat/connection/flat_connection.h"
#include "util/os/bos.h"

class DbfSharedDesc;

// How many files the last component of path names without regard to case,
// counted up to two; names (may be null) receives the ones counted.
int dbfFilesMatching(const unsigned char* path, unsigned char (*names)[bosNameBytes]);

// LockCompatibility: whose lock offsets the tables' locks use.
enum DbfLockScheme : uint32_t {
  dbfLockDbase = 0,
  dbfLockKv = 1,
  dbfLockKvVirtual = 2,
  dbfLockClipper = 3,
  dbfLockFox = 4,
};

// Lock levels of a reader (Locking, and the table option LOCKING).
enum DbfLockLevel : uint16_t { dbfLockNone = 0, dbfLockRecord = 1, dbfLockFile = 2 };

// The extensions of the files of a table, in the connection's table.
enum DbfExtension : uint16_t {
  dbfExtTable = 0,      // DBF
  dbfExtDbaseMemo = 1,  // DBT
  dbfExtFoxMemo = 2,    // FPT
  dbfExtMdx = 3,
  dbfExtNdx = 4,
  dbfExtNtx = 5,
  dbfExtCdx = 6,
  dbfExtIdx = 7,
  dbfExtCount = 8,
};

// Private connection option: the dialect by name (1045).
enum : uint16_t { dbfOptionCreateType = 1045 };

class DbfConnection : public FlatConnection {
 public:
  explicit DbfConnection(BaseEnv* env);
  ~DbfConnection() override;

  // ---- framework and engine operations the driver fills in
  void getDllName(unsigned char* buffer, uint32_t size) override;
  // The driver's keys after the engine's (dbf_connect_keys.cpp).
  KvStatus connectInit(KvValueParser* parser) override;
  KvStatus connectLogon() override;
  // 17, 18, 101, 102, 104 and 1027 by dialect; 35 is the engine's.
  KvStatus getAskedForInfo(uint16_t type, void** value, BaseInfoValType* kind) override;
  // 1044 answers 1, 1045 the dialect's name; the rest to the engine.
  KvStatus getConnectOption(uint16_t option, void* value) override;
  // 1045 sets the dialect by name (S1009 for an unknown one).
  KvStatus setConnectOption(uint16_t option, SQLULEN value) override;
  // Before the connect, option 1045 is checked and its dialect kept as a
  // number, to be applied after the keys: the framework would queue the
  // application's pointer, which does not outlive the call.
  SQLRETURN SQLSetConnectOption(SQLUSMALLINT fOption, SQLULEN vParam) override;
  // A reader for the engine's commit, attached to the shared table with
  // every user bit, so that it writes on behalf of all.
  KvStatus prepareToCommit(FlatSharedDesc* shared, FlatFileDesc** writer) override;
  short getResourceStr(uint16_t id, unsigned char* buffer, uint32_t size) override;
  void getExt(unsigned char* buffer) override;
  KvStatus checkExt(const unsigned char* ext) override;
  // Whether a table of that path (or another name of the same file) is
  // open and in use (or, once index files are opened, one of its index
  // files has that path). Every idle table the walk meets is closed on the
  // way, so that the file the caller is about to replace or delete is not
  // held by this connection's cache.
  uint16_t isFileOpen(const unsigned char* name) override;
  // CHARACTER for the CHAR row and NUMBER for the NUMERIC row of CREATE
  // TABLE's type names.
  KvStatus createAliases(FlatDataTypeParser* parser) override;
  // The shared table of the file a path leads to: the same path, or
  // another name of the same file (files are found without regard to case,
  // so EMP and emp.dbf are one table). The caller holds the table-list
  // lock.
  DbfSharedDesc* findSharedTable(const unsigned char* path);
  // A table named without its extension (FROM T) stands for the file the
  // name and "DBF" give, found without regard to case; the extension is
  // the driver's, so its case must not choose between two files that
  // differ only in case (t.dbf and T.DBF): such a name fails with the
  // file layer's message naming both. A name written with its extension
  // is the file's own name, which the file layer finds exactly first.
  KvStatus refuseAmbiguousTable(const unsigned char* name);

  // ---- the dialect and the keys
  // Sets the dialect of a name (its type table with it); 0 when the name
  // is none of the eight.
  int setCreateType(const unsigned char* name);
  // Makes a dialect the connection's, with its type table's offered rows.
  void useCreateType(uint32_t type);
  uint32_t getCreateType() const { return createType_; }
  const DbfDialect& getDialect() const { return dbfDialect(createType_); }
  uint32_t getLockScheme() const { return lockScheme_; }
  uint16_t getLockingLevel() const { return lockingLevel_; }
  int isAnsiCompare() const { return ansiCompare_; }
  const char* getExtension(DbfExtension which) const { return extensions_[which]; }
  const unsigned char* getMacFileInfo() const { return macFileInfo_; }

  // The logical letters (string 20117, "FTNY"): positions 0 and 2 read as
  // false, 1 and 3 as true. Process-wide, loaded by every connect.
  static const unsigned char* getLogicalLetters();

 private:
  enum : uint32_t { noPendingCreateType = 0xFFFFFFFF };
  uint32_t createType_ = dbfDbase5;
  uint32_t pendingCreateType_ = noPendingCreateType;
  uint32_t lockScheme_ = dbfLockDbase;
  uint16_t lockingLevel_ = dbfLockRecord;
  int ansiCompare_ = 1;
  char extensions_[dbfExtCount][4] = {};
  unsigned char* macFileInfo_ = nullptr;
  // The info-table chain with the driver's table first.
  BaseInfoTable infoLink_ = {};
};
