// FlatStatement: the file SQL engine's statement, between the framework's
// BaseStatement and every file driver's statement class. It owns the parse
// result of the prepared statement (a chain of descriptors), the list of
// shared tables it locks while it works, and the statement-level pieces of
// sorting and counting; it answers the file drivers' private statement
// options 1040-1050; and it appends thirteen operations through which the
// engine asks the driver for its own objects.
//
// The lock bracket: every engine operation that reads or changes tables
// (execute, fetch, get data, the reset to the prepared state and options
// 1040-1047) runs with the lock of each of the statement's shared tables
// held, taken in ascending table id and released in the same order, so
// that statements of one connection that share tables never deadlock. A
// statement uses at most flatMaxStatementTables distinct tables; more are
// refused when the statement is prepared. A bracket is a FlatLockBracket
// object, so that no way out of an operation leaves a lock held.
#pragma once

#include "base/statement/base_statement.h"
#include "flat/exec/flat_param_values.h"
#include "flat/flat_types.h"

class KvSharedFile;
class FlatUnionResult;
class FlatCodeBuffer;
class FlatCatalogDesc;
class FlatSelectField;
class RidFileMgr;

enum : uint16_t { flatMaxStatementTables = 32 };

// The file drivers' private statement options.
enum FlatPrivateOption : uint16_t {
  flatOptionAddRow = 1040,
  flatOptionDeleteRow = 1041,
  flatOptionLockForChange = 1042,
  flatOptionRowValue = 1043,
  flatOptionUpdateRow = 1044,
  flatOptionLockCurrentRow = 1045,
  flatOption1046 = 1046,
  flatOptionRowCount = 1047,
  flatOption1048 = 1048,
  flatOption1049 = 1049,
  flatOptionUnlock = 1050,
};

// Argument of options 1042, 1044 and 1050.
struct FlatRowRequest {
  uint16_t request;  // 1044: prepare the row for an update; else for an insert
  uint16_t item;     // select item (1-based) whose table is meant
};

// Argument of option 1043.
struct FlatRowValue {
  uint16_t cType;
  uint16_t reserved;
  void* data;
  int32_t length;  // 0 counts as SQL_NTS
  uint16_t item;   // select item (1-based)
};

// One sort key of FlatStatement::sortTable.
class KV_FLAT_API FlatSortInfo : public KvObject {
 public:
  FlatSortInfo(uint16_t keyOffset, uint16_t keyType, uint16_t keyLength)
      : keyOffset_(keyOffset), keyType_(keyType), keyLength_(keyLength) {}
  ~FlatSortInfo() override;
  // Replaces the collation table by a copy of length bytes of table.
  KvStatus setCompOrder(const unsigned char* table, int16_t length);

  uint16_t getKeyOffset() const { return keyOffset_; }
  uint16_t getKeyType() const { return keyType_; }
  uint16_t getKeyLength() const { return keyLength_; }
  const unsigned char* getCompOrder() const { return compOrder_; }
  FlatSortInfo* getNext() const { return next_; }
  void setNext(FlatSortInfo* next) { next_ = next; }
  FlatSortInfo*& getNextLink() { return next_; }

 private:
  uint16_t keyOffset_;
  uint16_t keyType_;
  uint16_t keyLength_;
  unsigned char* compOrder_ = nullptr;
  int16_t compOrderLength_ = 0;
  FlatSortInfo* next_ = nullptr;
};

class KV_FLAT_API FlatStatement : public BaseStatement {
 public:
  // The engine's own flag word of the statement (engineFlags_), apart from
  // BaseStatement's flags, which stay the framework's. Every bit is the
  // engine's: set by prepareCompile and the fetch stage, cleared by the
  // classification of a new text; drivers read none of them.
  enum : uint32_t {
    stmtFresh = 0x1,   // the next fetch starts the result
    stmtSorted = 0x2,  // sorted by ORDER BY at prepare time
    stmtUnion = 0x4,   // the SELECT has a UNION
    // An executed query's result is open: its fetches still evaluate the
    // parameter values (pyodbc resets the parameters right after
    // SQLExecute, before the first fetch).
    stmtResultOpen = 0x8,
    // SQL_RESET_PARAMS came while the result was open: the values go when
    // it closes.
    stmtReleaseParams = 0x10,
  };

  explicit FlatStatement(FlatConnection* connection);
  // Destroys the spill view; the framework part follows.
  ~FlatStatement() override;

  // ---- framework operations the engine fills in
  // Classifies the statement text (the framework's sqlText_) and parses it
  // into the descriptor chain (flat/sql/flat_classify.cpp). A failed
  // prepare leaves nothing prepared.
  KvStatus prepareCompile(BaseSqlString* sql) override;
  // Execution and fetch (flat_fetch.cpp), each inside the lock bracket.
  //
  // executePreparedStmt: USE does nothing; a statement without a query
  // (DDL, driver statements) runs its head descriptor. A statement with a
  // query (SELECT, and INSERT, UPDATE and DELETE through the query they are
  // rewritten into) first has its result reset: the keyset is emptied and
  // the next read chooses every table's plan afresh (with the parameter
  // values bound for this execution); then the head descriptor runs. For a
  // SELECT that marks the statement fresh: rows are produced by the
  // fetches. A DML descriptor's execute finds the rows it changes through
  // readResultRow.
  KvStatus executePreparedStmt() override;
  // The next row of the result; the first fetch after an execution starts
  // the result (startResult). *endOfData 1 past the last row. A FOR UPDATE
  // OF cursor holds a record lock (kind 1) on the first table's current row
  // between fetches.
  KvStatus fetchRow(uint16_t* endOfData) override;
  // Row n of the result (SQLExtendedFetch's absolute and relative moves):
  // *status SQL_ROW_SUCCESS, SQL_ROW_DELETED for a row gone since it was
  // read, SQL_ROW_NOROW beyond the last row (not a failure).
  KvStatus fetchRandomRow(uint32_t row, uint16_t* status) override;
  // Column data of the current row: a computed item through the evaluator,
  // a plain column as the connection's transaction sees it (the change
  // log's value over the stored one), a long column in pieces from the
  // SQLGetData offset on. Catalog rows come from their descriptor
  // (flat_catalog.cpp); other statements without a query go to getDataSpecial.
  KvStatus getData(uint16_t column, int16_t cType, BaseOutString* out) override;
  // 0 with nothing prepared, else the head descriptor's affected rows.
  KvStatus rowCount(int32_t* count) override;
  BaseField* allocFld() override;
  // Parameters (flat_param.cpp): the type check against the marker's use,
  // then the value converted once into the engine's internal form (see
  // flat/exec/flat_param.h); long values direct or spooled.
  KvStatus bindParam(uint16_t parameter, void* value, int32_t length, int mode) override;
  BaseParam* allocParam() override;
  void unbindParams() override;
  // Resets every query of the chain (record locks released) in the bracket.
  KvStatus setToPreparedState() override;
  // Destroys the descriptor chain, the sort list and the ORDER BY text,
  // empties the spill view and the lock list.
  KvStatus setToAllocatedState(uint16_t drop) override;
  // 0 and 4: S1C00; 1040-1047 and 1050: the private options; the rest to
  // the framework.
  KvStatus setStmtOption(uint16_t option, SQLULEN value) override;
  // The catalog functions (flat_catalog.cpp): each makes its descriptor the
  // head descriptor and produces every row at once (executeCatalog);
  // fetchRow and getData then serve them. SQLTables' list of table types
  // is the framework's, from the type mask: TABLE.
  KvStatus executeTables(BaseInString* tableTypes) override;
  KvStatus executeColumns() override;
  KvStatus executeSpecial(uint16_t* notHandled) override;
  KvStatus executeStatistics(uint16_t internalCall) override;

  // ---- the engine's operations, in slot order after the framework's
  // 1-4. The catalog result-set descriptors (flat/exec/flat_catalog.h);
  // null with the reason posted when one cannot be made.
  virtual FlatCatalogDesc* allocStatisticsDesc();
  virtual FlatCatalogDesc* allocTableDesc();
  virtual FlatCatalogDesc* allocColumnDesc();
  virtual FlatCatalogDesc* allocSpecialDesc();
  // 5. The driver's reader for one table of the statement (must: the
  // engine's version fails).
  virtual KvStatus allocFileDesc(FlatFileDesc** out);
  // 6. The driver's query descriptor (must: the engine's gives null).
  virtual FlatSqlDesc* allocSqlDesc();
  // 7. DROP TABLE: S1C00 and null unless the driver supports it.
  virtual FlatDescriptor* allocDropTableDesc();
  // 8. Whether a parenthesised list after a table name in INSERT is a
  // driver option list; the engine's says no.
  virtual KvStatus isOptionList(const unsigned char* position, uint16_t* isList);
  // 9-11. CREATE TABLE, CREATE INDEX, DROP INDEX: S1C00 and null unless
  // the driver supports them.
  virtual FlatDescriptor* allocCreateDesc();
  virtual FlatDescriptor* allocCrIndexDesc();
  virtual FlatDescriptor* allocDropIndexDesc();
  // 12. A driver-specific statement (PACK, VERIFY INDEX): the engine's
  // version posts 3800 "Unknown SQL statement" (37000) and gives null.
  virtual FlatDescriptor* allocSpecialStmt(const unsigned char* text);
  // 13. Get-data of SQLSpecialColumns' rows: the engine's serves its
  // special-columns descriptor's current row; S1C00 for anything else.
  virtual KvStatus getDataSpecial(uint16_t column, int16_t cType, BaseOutString* out);

  // ---- the language layer (flat/sql, flat/expr)
  // Takes text as the statement's text and prepares it (prepareCompile):
  // the engine's entry for callers that hold the text themselves.
  KvStatus prepareText(const unsigned char* text);
  // Parses a SELECT into *out, which is set as soon as the head query
  // exists and owns everything parsed. Mode bit 0x1 describes the result
  // columns, 0x2 allows the UNION chain and the tail clauses (ORDER BY, FOR
  // UPDATE OF): prepareCompile passes 3, the rewriting of INSERT, UPDATE
  // and DELETE 0.
  KvStatus prepareSelect(const unsigned char* text, FlatSqlDesc** out, uint16_t mode);
  // The expression compiler (flat/expr/flat_compiler.h): compiles the
  // expression at *text (advanced past it) into code and gives its type,
  // display width and the program's length with its terminating 0.
  KvStatus compileExpr(FlatSqlDesc* query, FlatFileDesc* table, const unsigned char** text, FlatCodeBuffer* code,
                       int16_t* type, uint16_t* width, uint16_t mode, uint16_t* length);
  // Gives table the statement's next table handle (from 1). Programs name
  // tables by these handles, never by address.
  KvStatus registerTable(FlatFileDesc* table, uint32_t* handle);
  // The table of a handle; null for a handle the statement never gave.
  FlatFileDesc* getTableByHandle(uint32_t handle) const;
  // Parameter markers: numbered from 0 in order of appearance at each
  // prepare; their types and values.
  uint16_t takeParameterNumber() { return parameterNumbering_++; }
  uint16_t getParameterCount() const { return parameterNumbering_; }
  FlatParamValues* getParamValues() { return &paramValues_; }
  // Frees the parameters' values (the markers and their types stay). The
  // values outlive the end of a result: a scrollable cursor re-reads rows
  // afterwards, so only a new binding, the return to the allocated state,
  // and SQL_RESET_PARAMS (once no result is open: see stmtResultOpen)
  // release them.
  void releaseParamValues() { paramValues_.releaseValues(); }

  // ---- the result of the head query (flat_fetch.cpp), for the executors
  // of INSERT, UPDATE and DELETE and the catalog readers.
  // Starts the result of the head query: aggregates, ORDER BY and DISTINCT,
  // and (unless the connection defers query evaluation) the early count,
  // which reads the result through. Clears the fresh flag; the current row
  // is 0. Call inside the lock bracket.
  KvStatus startResult();
  // Makes row n (from 1) of the started result current: every FROM table
  // positioned on the row's record. result: found, past the end, or gone.
  // A read that fails ends the result before that row: later reads of it
  // and of the rows after it are past the end. Call inside the lock
  // bracket.
  KvStatus readResultRow(uint32_t row, GetRecRetType* result);
  // The head query's keyset (null before the first start).
  RidFileMgr* getKeyset() const { return keyset_; }
  // The query whose select items the current row shows: the head query,
  // or for a UNION the query of the current pair.
  FlatSqlDesc* resultQuery() const;
  void setStatementKind(uint16_t kind) { statementKind_ = kind; }
  const unsigned char* getOrderByText() const { return orderByText_; }
  KvStatus setOrderByText(const unsigned char* text, uint32_t length);

  // ---- engine operations
  FlatConnection* getFlatConnection() const;
  // Installs the parse result of a prepare (kind: FlatStatementKind) and
  // builds the lock list; more than 32 tables fail with 4096 and the
  // descriptor is deleted.
  KvStatus setHeadDescriptor(FlatDescriptor* head, uint16_t kind);
  FlatDescriptor* getHeadDescriptor() const { return head_; }
  uint16_t getStatementKind() const { return statementKind_; }
  // Appends a sort key at the end of the sort descriptions.
  KvStatus addSortKey(uint16_t keyOffset, uint16_t keyType, uint16_t keyLength);
  FlatSortInfo* getSortInfos() const { return sortInfos_; }
  // An upper bound on the rows of a query's UNION chain (0xFFFFFFFF on
  // overflow).
  KvStatus maxNumRecords(FlatSqlDesc* query, uint32_t* bound);

  uint16_t getLockCount() const { return lockCount_; }
  FlatSharedDesc* getLockedTable(uint16_t index) const { return lockList_[index]; }

  uint32_t getEngineFlags() const { return engineFlags_; }
  void setEngineFlags(uint32_t flags) { engineFlags_ = flags; }
  int32_t getRowCount() const { return rowCount_; }
  uint32_t getCachedResultCount() const { return cachedResultCount_; }
  uint32_t getCurrentRow() const { return currentRow_; }
  uint16_t getPendingValueCount() const { return pendingValues_.getCount(); }
  // A plain select item's value for the current row (result column column)
  // as cType: from the change log where the row has a value of this
  // transaction, else from its table's getFieldData. What a query's
  // getTableColumnAsCType does unless the driver reads the record itself.
  KvStatus getColumnData(FlatSelectField* item, uint16_t column, int16_t cType, BaseOutString* out);

 private:
  friend class FlatLockBracket;
  // The lock bracket (see the file comment); taken and left only through
  // FlatLockBracket.
  KvStatus enterLockBracket();
  void leaveLockBracket();
  KvStatus buildLockList();
  // Catalog results (flat_catalog.cpp): descriptor (null: its maker posted
  // the reason) becomes the head descriptor, reads the framework's
  // arguments and makes its rows; the row count becomes theirs, the
  // current row 0.
  KvStatus executeCatalog(FlatCatalogDesc* descriptor);
  KvStatus fetchCatalogRow(uint16_t* endOfData);
  KvStatus fetchCatalogRandom(uint32_t row, uint16_t* status);
  KvStatus getCatalogData(uint16_t column, int16_t cType, BaseOutString* out);
  KvStatus bindLongParam(uint16_t parameter, BaseParam* record, void* value, int32_t length, int mode);
  // Classification (flat/sql/flat_classify.cpp).
  KvStatus classify(const unsigned char* text);
  KvStatus useDatabase(const unsigned char* text, uint32_t* position);
  KvStatus checkEnd(const unsigned char* text, uint32_t position);
  KvStatus addLockTables(FlatSqlDesc* query, uint32_t depth);
  KvStatus addLockTable(FlatSharedDesc* shared);
  void freeDescriptors();
  // Private options (flat_private_options.cpp).
  KvStatus privateOption(uint16_t option, void* argument);
  KvStatus addRow(FlatFileDesc* table);
  KvStatus deleteRow(FlatFileDesc* table);
  KvStatus lockForChange(const FlatRowRequest* request);
  KvStatus rowValue(const FlatRowValue* value);
  KvStatus updateRow(const FlatRowRequest* request);
  KvStatus lockCurrentRow();
  KvStatus countRows(uint32_t* count);
  KvStatus unlockRow(const FlatRowRequest* request);
  KvStatus storePendingValues(FlatFileDesc* table, uint16_t* anyKey);
  void dropPendingValues();
  FlatFileDesc* firstTable() const;
  // Fetch stage (flat_fetch.cpp).
  FlatSqlDesc* headQuery() const;
  KvStatus resetResult();
  KvStatus startUnion();
  KvStatus startFetching();
  KvStatus readRow(uint32_t row, GetRecRetType* result);
  // Before a fetch moves: starts a fresh result, else releases the row
  // lock of a FOR UPDATE OF cursor.
  KvStatus beginMove();
  KvStatus releaseRowLock();
  KvStatus takeRowLock();
  KvStatus getComputedData(FlatSelectField* item, uint16_t column, int16_t cType, BaseOutString* out);
  KvStatus getLongData(FlatSelectField* item, uint16_t column, int16_t cType, BaseOutString* out);

  FlatDescriptor* head_ = nullptr;
  unsigned char* orderByText_ = nullptr;
  FlatSortInfo* sortInfos_ = nullptr;
  uint16_t statementKind_ = 0;
  int32_t rowCount_ = -1;
  uint32_t cachedResultCount_ = 0;
  uint32_t currentRow_ = 0;
  KvSharedFile* spill_ = nullptr;
  FlatSqlDesc* currentQuery_ = nullptr;
  uint16_t parameterNumbering_ = 0;
  KvArray pendingValues_;  // values of option 1043 waiting for 1040 or 1044, owned
  FlatSharedDesc* lockList_[flatMaxStatementTables] = {};
  uint16_t lockCount_ = 0;
  KvArrayPVoid tableHandles_;  // FlatFileDesc by handle - 1, not owned
  FlatParamValues paramValues_;
  unsigned char* parseText_ = nullptr;  // the prepared text, trailing ";"s cut
  uint32_t engineFlags_ = 0;
  uint16_t changeClaimed_ = 0;  // option 1042 claimed the change log
  RidFileMgr* keyset_ = nullptr;   // of the head query, made at the first start; owned
  FlatUnionResult* union_ = nullptr;  // a UNION chain's pairs, made at the first start; owned
  uint16_t oneRow_ = 0;            // the result is one row of aggregate values
  // A read of this row failed (0: none): the result ends before it, so a
  // fetch loop that goes on after the error meets the end instead of the
  // same failure again and again.
  uint32_t failedRow_ = 0;
  uint16_t rowLocked_ = 0;         // FOR UPDATE OF: the current row's lock is held
};

// The lock bracket of a statement as a guard object: enter() takes the
// locks of the statement's tables (see the file comment), and the guard
// lets go of them when it goes, however its scope is left: an early
// return, or an exception (std::bad_alloc from a standard container) on
// its way to the entry layer's firewall. The table locks are neither
// recursive nor timed, so a bracket left held would hang the next
// statement on the table.
class FlatLockBracket {
 public:
  explicit FlatLockBracket(FlatStatement* statement) : statement_(statement) {}
  ~FlatLockBracket() {
    if (held_) statement_->leaveLockBracket();
  }
  FlatLockBracket(const FlatLockBracket&) = delete;
  FlatLockBracket& operator=(const FlatLockBracket&) = delete;
  // Builds the lock list when it is empty and takes every lock; on failure
  // (the list could not be built) nothing is held.
  KvStatus enter() {
    if (held_) return kvSuccess;
    if (statement_->enterLockBracket() != kvSuccess) return kvFailure;
    held_ = true;
    return kvSuccess;
  }

 private:
  FlatStatement* statement_;
  bool held_ = false;
};

