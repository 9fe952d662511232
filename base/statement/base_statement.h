// BaseStatement: the statement handle (HSTMT) that every driver's statement
// class derives from. It sits in its connection's statement list.
//
// The virtual operations keep a fixed order, which every driver keeps too:
// the ODBC functions of a statement in alphabetical order, then the driver's
// own operations.
#pragma once

#include "base/connection/base_connection.h"
#include "base/convert/base_internal_type.h"
#include "util/containers/kv_list.h"

#include <atomic>

class BaseField;
class BaseBinding;
class BaseParam;
class BaseInString;
class BaseSqlString;
class BaseCatalogInfo;
class BaseRowsCatalogInfo;
class BaseTablesInfo;
class BaseColumnsInfo;
class BaseSpecialColumnsInfo;
struct CatalogColumnDesc;
enum BaseCatalogKind : uint32_t;

enum : uint16_t { baseMaxArrayEntries = 16384 };

// Modes of bindParam.
enum BaseBindMode : int { bindWhole = 0, bindFirstPiece = 1, bindNextPiece = 2, bindLastPiece = 3 };

// Arrays that allocArrays grows.
enum : uint16_t { arrayFields = 0x1, arrayBindings = 0x2, arrayParams = 0x4 };

// What produced the statement's current state (getKind). Only the framework
// sets it; a driver reads it (a prepared statement's cursor closes to
// prepared, any other's to allocated).
enum BaseStmtKind : uint32_t {
  stmtKindAllocated = 0,
  stmtKindPrepared = 1,  // SQLPrepare
  stmtKindDirect = 2,    // SQLExecDirect
  stmtKindCatalog = 3,   // a catalog function or SQLGetTypeInfo produced the result
};

// Cursor state of a statement (getCursorState). Only the framework moves it;
// the driver operations run in the states their comments name. The way
// between them:
//   from                      event                               to
//   any                       SQLPrepare succeeds                 prepared (kind prepared)
//   allocated, prepared       execution needs data at execution   executing, then needData;
//                                                                 puttingData while SQLPutData runs
//   prepared, executing       execution produces a result set     open
//   prepared, executing       execution without a result set      executed
//   open                      SQL_CLOSE of a prepared statement   prepared
//   open                      SQL_CLOSE of a direct or catalog    allocated (kind allocated)
//   any but open              a catalog function                  kind catalog; open is refused (24000)
//   open                      SQLExecute or SQLExecDirect         refused (24000)
//   not allocated             commit or rollback, SQL_CB_DELETE   allocated, or prepared and marked to be
//                                                                 prepared again under waKeepPrepared
//   not allocated             commit or rollback, SQL_CB_CLOSE    prepared (kind prepared), else allocated
//   any                       SQL_DROP                            the object is deleted
enum BaseCursorState : uint32_t {
  cursorAllocated = 0,
  cursorPrepared = 1,
  cursorExecuting = 2,     // an execution stopped for data at execution
  cursorNeedData = 3,      // SQLParamData handed out a parameter's token
  cursorPuttingData = 4,   // SQLPutData is supplying it
  cursorExecuted = 5,      // executed without a result set
  cursorOpen = 6,          // a result set is open
};

// Driver-private statement options that change rows (the file drivers'
// delete row, lock a row for a change, lock the current row): in
// manual-commit mode a transaction is opened before the driver sees them.
enum : uint16_t { stmtOptionDeleteRow = 1041, stmtOptionLockForChange = 1042, stmtOptionLockCurrentRow = 1045 };

// The generated cursor name of a statement: "SQL_CUR" and 8 upper-case
// hexadecimal digits, two for each byte of value from the lowest byte up
// (0x00A1B2C3 gives "SQL_CURC3B2A100"); out holds 16 bytes.
KV_BASE_API void baseCursorNameOf(uint32_t value, unsigned char* out);

class KV_BASE_API BaseStatement : public KvNode {
 public:
  // The statement flag word (getFlags). It belongs to the framework: every
  // bit is named here and no layer above defines bits of its own in it (the
  // file engine keeps its own word, FlatStatement's engine flags; a driver
  // keeps its state in its own members). A driver sets only the two bits
  // marked "drv" below, from the operations their comments name, and reads
  // the others; everything else is set and cleared by the framework alone.
  // Bits 0x200 and 0x800 up are free; they stay the framework's. Whether a
  // call runs on the statement is kept apart from this word (isBusy), since
  // SQLCancel reads it from other threads.
  //   bit    name                    owner  meaning
  //   0x1    flagColumnsKnown        drv    result columns described (a driver sets it when it
  //                                         makes them at prepare or execute)
  //   0x2    flagKeepText            fw     the prepared text is kept for the execute step
  //   0x4    flagPrepared            fw     the next execution is the first after the prepare
  //   0x8    flagForUpdate           fw     a SELECT with FOR UPDATE OF
  //   0x10   flagEmulatedPositioned  fw     a positioned UPDATE or DELETE the framework emulates
  //   0x20   flagRebindAll           fw     every binding is resolved again before the next fetch
  //   0x40   flagGetDataDone         fw     the current SQLGetData column was returned whole
  //   0x80   flagReprepare           fw     prepare again before the next execution
  //   0x100  flagEndOfData           fw     the driver's fetchRow reported the end
  //   0x400  flagAsync               drv    the driver's operation is not done: the framework
  //                                         answers SQL_STILL_EXECUTING and the application's next
  //                                         call of the function resumes it; the driver clears the
  //                                         bit when done, the framework after a failure
  enum : uint32_t {
    flagColumnsKnown = 0x1,      // the result columns are described (calcNumResultCols ran, fields normalised)
    flagKeepText = 0x2,          // the prepared text is kept for the execute step
    flagPrepared = 0x4,          // prepared; the next execution is the first after the prepare
    flagForUpdate = 0x8,         // a SELECT with FOR UPDATE OF (cleared with the statement)
    flagEmulatedPositioned = 0x10,  // a positioned UPDATE or DELETE the framework emulates (cleared too)
    flagRebindAll = 0x20,        // every column binding is resolved again before the next fetch
    flagGetDataDone = 0x40,      // the current SQLGetData column has been returned whole
    flagReprepare = 0x80,        // prepare again before the next execution (a commit under waKeepPrepared)
    flagEndOfData = 0x100,       // the driver reported the end of the result
    flagAsync = 0x400,
  };
  // The bits a driver may set; the rest are the framework's alone.
  enum : uint32_t {
    driverFlags = flagColumnsKnown | flagAsync,
    frameworkFlags = flagKeepText | flagPrepared | flagForUpdate | flagEmulatedPositioned | flagRebindAll |
                     flagGetDataDone | flagReprepare | flagEndOfData,
  };

  explicit BaseStatement(BaseConnection* connection);
  ~BaseStatement() override;

  // ---- ODBC operations, in alphabetical order
  //
  // The entry layer calls them with the handle checked and the exception
  // firewall around them. Each runs the call discipline itself (a BaseCall),
  // posts its diagnostics on the statement's list and returns the ODBC
  // result. A driver seldom overrides one; when it does, it either calls
  // the base version for the whole call or opens its own BaseCall, never
  // both.
  virtual SQLRETURN SQLBindCol(SQLUSMALLINT icol, SQLSMALLINT fCType, SQLPOINTER rgbValue, SQLLEN cbValueMax,
                               SQLLEN* pcbValue);
  virtual SQLRETURN SQLBindParameter(SQLUSMALLINT ipar, SQLSMALLINT fParamType, SQLSMALLINT fCType,
                                     SQLSMALLINT fSqlType, SQLULEN cbColDef, SQLSMALLINT ibScale,
                                     SQLPOINTER rgbValue, SQLLEN cbValueMax, SQLLEN* pcbValue);
  virtual SQLRETURN SQLCancel();
  virtual SQLRETURN SQLColAttributes(SQLUSMALLINT icol, SQLUSMALLINT fDescType, SQLPOINTER rgbDesc,
                                     SQLSMALLINT cbDescMax, SQLSMALLINT* pcbDesc, SQLLEN* pfDesc);
  virtual SQLRETURN SQLColumnPrivileges(SQLCHAR* szQualifier, SQLSMALLINT cbQualifier, SQLCHAR* szOwner,
                                        SQLSMALLINT cbOwner, SQLCHAR* szTable, SQLSMALLINT cbTable,
                                        SQLCHAR* szColumn, SQLSMALLINT cbColumn);
  virtual SQLRETURN SQLColumns(SQLCHAR* szQualifier, SQLSMALLINT cbQualifier, SQLCHAR* szOwner,
                               SQLSMALLINT cbOwner, SQLCHAR* szTable, SQLSMALLINT cbTable, SQLCHAR* szColumn,
                               SQLSMALLINT cbColumn);
  virtual SQLRETURN SQLDescribeCol(SQLUSMALLINT icol, SQLCHAR* szColName, SQLSMALLINT cbColNameMax,
                                   SQLSMALLINT* pcbColName, SQLSMALLINT* pfSqlType, SQLULEN* pcbColDef,
                                   SQLSMALLINT* pibScale, SQLSMALLINT* pfNullable);
  virtual SQLRETURN SQLExecDirect(SQLCHAR* szSqlStr, SQLINTEGER cbSqlStr);
  virtual SQLRETURN SQLExecute();
  virtual SQLRETURN SQLExtendedFetch(SQLUSMALLINT fFetchType, SQLLEN irow, SQLULEN* pcrow,
                                     SQLUSMALLINT* rgfRowStatus);
  virtual SQLRETURN SQLFetch();
  virtual SQLRETURN SQLForeignKeys(SQLCHAR* szPkQualifier, SQLSMALLINT cbPkQualifier, SQLCHAR* szPkOwner,
                                   SQLSMALLINT cbPkOwner, SQLCHAR* szPkTable, SQLSMALLINT cbPkTable,
                                   SQLCHAR* szFkQualifier, SQLSMALLINT cbFkQualifier, SQLCHAR* szFkOwner,
                                   SQLSMALLINT cbFkOwner, SQLCHAR* szFkTable, SQLSMALLINT cbFkTable);
  virtual SQLRETURN SQLFreeStmt(SQLUSMALLINT fOption);
  virtual SQLRETURN SQLGetData(SQLUSMALLINT icol, SQLSMALLINT fCType, SQLPOINTER rgbValue, SQLLEN cbValueMax,
                               SQLLEN* pcbValue);
  virtual SQLRETURN SQLGetCursorName(SQLCHAR* szCursor, SQLSMALLINT cbCursorMax, SQLSMALLINT* pcbCursor);
  virtual SQLRETURN SQLGetStmtOption(SQLUSMALLINT fOption, SQLPOINTER pvParam);
  virtual SQLRETURN SQLGetTypeInfo(SQLSMALLINT fSqlType);
  virtual SQLRETURN SQLMoreResults();
  virtual SQLRETURN SQLNumParams(SQLSMALLINT* pcpar);
  virtual SQLRETURN SQLNumResultCols(SQLSMALLINT* pccol);
  virtual SQLRETURN SQLParamData(SQLPOINTER* prgbValue);
  virtual SQLRETURN SQLParamOptions(SQLULEN crow, SQLULEN* pirow);
  virtual SQLRETURN SQLPrepare(SQLCHAR* szSqlStr, SQLINTEGER cbSqlStr);
  virtual SQLRETURN SQLPrimaryKeys(SQLCHAR* szQualifier, SQLSMALLINT cbQualifier, SQLCHAR* szOwner,
                                   SQLSMALLINT cbOwner, SQLCHAR* szTable, SQLSMALLINT cbTable);
  virtual SQLRETURN SQLProcedureColumns(SQLCHAR* szQualifier, SQLSMALLINT cbQualifier, SQLCHAR* szOwner,
                                        SQLSMALLINT cbOwner, SQLCHAR* szProcName, SQLSMALLINT cbProcName,
                                        SQLCHAR* szColumn, SQLSMALLINT cbColumn);
  virtual SQLRETURN SQLProcedures(SQLCHAR* szQualifier, SQLSMALLINT cbQualifier, SQLCHAR* szOwner,
                                  SQLSMALLINT cbOwner, SQLCHAR* szProcName, SQLSMALLINT cbProcName);
  virtual SQLRETURN SQLPutData(SQLPOINTER rgbValue, SQLLEN cbValue);
  virtual SQLRETURN SQLRowCount(SQLLEN* pcrow);
  virtual SQLRETURN SQLSetCursorName(SQLCHAR* szCursor, SQLSMALLINT cbCursor);
  virtual SQLRETURN SQLSetPos(SQLSETPOSIROW irow, SQLUSMALLINT fOption, SQLUSMALLINT fLock);
  virtual SQLRETURN SQLSetScrollOptions(SQLUSMALLINT fConcurrency, SQLLEN crowKeyset, SQLUSMALLINT crowRowset);
  virtual SQLRETURN SQLSetStmtOption(SQLUSMALLINT fOption, SQLULEN vParam);
  virtual SQLRETURN SQLSpecialColumns(SQLUSMALLINT fColType, SQLCHAR* szQualifier, SQLSMALLINT cbQualifier,
                                      SQLCHAR* szOwner, SQLSMALLINT cbOwner, SQLCHAR* szTable,
                                      SQLSMALLINT cbTable, SQLUSMALLINT fScope, SQLUSMALLINT fNullable);
  virtual SQLRETURN SQLStatistics(SQLCHAR* szQualifier, SQLSMALLINT cbQualifier, SQLCHAR* szOwner,
                                  SQLSMALLINT cbOwner, SQLCHAR* szTable, SQLSMALLINT cbTable,
                                  SQLUSMALLINT fUnique, SQLUSMALLINT fAccuracy);
  virtual SQLRETURN SQLTablePrivileges(SQLCHAR* szQualifier, SQLSMALLINT cbQualifier, SQLCHAR* szOwner,
                                       SQLSMALLINT cbOwner, SQLCHAR* szTable, SQLSMALLINT cbTable);
  virtual SQLRETURN SQLTables(SQLCHAR* szQualifier, SQLSMALLINT cbQualifier, SQLCHAR* szOwner,
                              SQLSMALLINT cbOwner, SQLCHAR* szTable, SQLSMALLINT cbTable,
                              SQLCHAR* szTableType, SQLSMALLINT cbTableType);

  // ---- the driver's operations
  //
  // They run inside an ODBC call of the statement whose entrance has
  // passed: the statement's error list is the thread's current list, so
  // addOdbcError/addOdbcWarning post on the statement. A KvStatus failure
  // must have posted its reason first (the framework adds none, except the
  // parameter or column number it appends to some); the caller turns it into
  // SQL_ERROR. The cursor states named below are BaseCursorState's; only
  // the framework moves them.
  //
  // Compiles the prepared text. sql holds the text after escape
  // translation (and, for an emulated WHERE CURRENT OF, with its search
  // condition), its verb and marker offsets; it lives only for the call.
  // The driver may make the result columns here (then it sets
  // flagColumnsKnown). Runs once per prepare, and again at an execution
  // when an emulated condition was fitted to NULL values anew. A failure
  // returns the statement to the allocated state. On entry the cursor state
  // is allocated (prepared at the refit) and the kind prepared or direct;
  // the parameter records of the markers exist. A driver that is not done
  // may leave flagAsync set (in the prepare step of SQLPrepare, SQLExecDirect
  // or a re-preparing SQLExecute): the call answers SQL_STILL_EXECUTING and
  // the application's next call gives it the same text again. A compile at
  // a refit within an execution must finish within the call.
  virtual KvStatus prepareCompile(BaseSqlString* sql) = 0;
  // Executes the prepared statement with the values bindParam delivered
  // for the current parameter row. A driver without native parameters
  // reads the text that textualBindParam built in sqlText_. Runs once for
  // every SQLParamOptions row.
  // On success the framework sets the states after an execution: with result
  // columns the cursor opens before the first row, without them rowCount is
  // asked.
  // A failure ends the execution; the statement stays prepared (kind
  // prepared) or returns to the allocated state (kind direct). A driver that
  // is not done may leave flagAsync set: the call (SQLExecute, SQLExecDirect
  // or SQLParamData) answers SQL_STILL_EXECUTING and the application's next
  // call of it asks executePreparedStmt again, the values standing as
  // bindParam delivered them.
  virtual KvStatus executePreparedStmt() = 0;
  // SQLMoreResults on an executed or open statement that is not a catalog
  // result: *noMore 0 when the driver has moved to a further result (the
  // framework describes its columns or asks rowCount), 1 when none is left
  // (the framework closes the cursor). May leave flagAsync set. Base: none.
  virtual KvStatus moreResults(uint16_t* noMore);
  // The catalog functions' driver operations. Each finds its call's checked
  // arguments in the statement's catalog result set (getCatalogInfo: the
  // family classes of base_catalog_tables.h, base_catalog_columns.h and
  // base_catalog_families.h), opens a result on the statement whose columns
  // are the family's, in its order, and succeeds; the framework reads it
  // with fetchRow and getData and closes it with setToAllocatedState(0). A
  // driver that is not done sets flagAsync and is called again. Base:
  // executeColumns reports nothing (the framework's own search answers),
  // executeSpecial sets *notHandled (the framework answers from statistics
  // and columns), the others post IM001 and fail.
  virtual KvStatus executeColumns();
  virtual KvStatus executeSpecial(uint16_t* notHandled);
  virtual KvStatus executeStatistics(uint16_t internalCall);
  virtual KvStatus executeTables(BaseInString* tableTypes);
  virtual KvStatus executeColPriv();
  virtual KvStatus executeForeign();
  virtual KvStatus executePrimary();
  virtual KvStatus executeProcCols();
  virtual KvStatus executeProcedures();
  virtual KvStatus executeTablePriv();
  // SQLGetTypeInfo of a connection without a type table (setTypeTable):
  // opens a result of the ODBC type-information columns for sqlType
  // (SQL_ALL_TYPES: every type); the framework reads it with fetchRow and
  // getData, then closes it with setToAllocatedState(0). May leave
  // flagAsync set. Base: failure (every driver gives a type table or this).
  virtual KvStatus getTypeInfo(int16_t sqlType);
  // Moves the driver's cursor to the next row of its result; *endOfData
  // becomes 1 (and stays the answer) when there is none. The framework
  // counts rows and applies SQL_MAX_ROWS itself. Called with the cursor
  // open and the result columns described, and while the framework reads
  // a driver's catalog or type result.
  virtual KvStatus fetchRow(uint16_t* endOfData) = 0;
  // Moves the driver's cursor to row (1-based) of its result, for
  // scrollable cursors: *status SQL_ROW_SUCCESS, SQL_ROW_DELETED, or
  // SQL_ROW_NOROW when there is no such row (not a failure). Base: fails,
  // for drivers with forward-only cursors only.
  virtual KvStatus fetchRandomRow(uint32_t row, uint16_t* status);
  // Writes column (1-based; 0 the bookmark where the driver keeps them) of
  // the current row into out as cType, normally through convertInternalToC,
  // which starts at the SQLGetData offset; a NULL value is the length
  // SQL_NULL_DATA. cType is resolved (never SQL_C_DEFAULT) and convertible.
  // Called with the cursor on a row that fetchRow or fetchRandomRow
  // delivered; a value that does not convert posts its SQLSTATE (22003,
  // 22005, 07006 ...) through the conversion and fails.
  virtual KvStatus getData(uint16_t column, int16_t cType, BaseOutString* out) = 0;
  // Rows the execution just finished changed, after an execution without
  // result columns (and after moreResults moved to such a result): *count,
  // -1 when unknown. The framework sums the rows of every parameter row.
  virtual KvStatus rowCount(int32_t* count) = 0;
  // Makes one result column record (the driver's BaseField subclass), for
  // the driver's own result columns and for the framework's catalog
  // results; the caller owns it (fields_). Null fails the caller.
  virtual BaseField* allocFld() = 0;
  // SQLColAttributes for attributes the framework does not answer (19-1001,
  // 1003 on): a text through out, a number through *number. Base: S1C00.
  virtual KvStatus nonStdColAttributes(uint16_t column, uint16_t attribute, BaseOutString* out, SQLLEN* number);
  // Fills the result columns (fields_, fieldCount_) when the driver has not
  // made them at prepare or execute; may leave an asynchronous operation
  // running (flagAsync). Base: success, the columns stand as they are.
  virtual KvStatus calcNumResultCols();
  // Told of each binding resolved before a fetch with a rowset size of 1, so
  // that a driver may fetch straight into the application's buffer. Base:
  // success.
  virtual KvStatus bindFld(uint16_t column);
  // Told that a binding or all of them went. Base: nothing.
  virtual void unbindFlds();
  // Receives the value of parameter (1-based) for the execution that
  // follows; numbers beyond the statement's markers are the search values
  // of an emulated WHERE CURRENT OF (their records: getEmulationParam).
  // The record (params_, or the emulation's) describes C type, SQL type,
  // precision and scale, already checked. mode: bindWhole the whole value
  // (length in bytes, SQL_NULL_DATA or SQL_DEFAULT_PARAM; text is never
  // SQL_NTS here), bindFirstPiece and bindNextPiece a piece of a long value
  // supplied at execution (only on connections with flagLongDataInPieces,
  // only for LONGVARCHAR and LONGVARBINARY), bindLastPiece the end of the
  // pieces (value null). The value stays valid until executePreparedStmt
  // returns, not longer. A failure fails the execution; the framework adds
  // the parameter number to the last message.
  virtual KvStatus bindParam(uint16_t parameter, void* value, int32_t length, int mode) = 0;
  // The parameters were reset (SQL_RESET_PARAMS) or the statement's text
  // goes: forget every value bindParam delivered. Base: nothing.
  virtual void unbindParams();
  // Makes one parameter record (a driver may make its subclass). Base: a
  // BaseParam. A null result fails the prepare or the binding.
  virtual BaseParam* allocParam();
  // The driver's part of closing the cursor of a prepared statement: the
  // statement stays prepared and can be executed again without a new
  // prepareCompile. Base: nothing. A failure stops the close.
  virtual KvStatus setToPreparedState();
  // The driver's part of the return to the allocated state: everything the
  // driver made for the statement's text goes; drop is 1 when the statement
  // object is about to be deleted (SQL_DROP). Base: nothing. A failure stops
  // the return, the statement stays as it was.
  virtual KvStatus setToAllocatedState(uint16_t drop);
  // The cursor name the data source knows the statement by, for WHERE
  // CURRENT OF that the data source executes itself. Base: the statement's
  // cursor name (null when it has none).
  virtual const unsigned char* getDriverCursorName();
  // SQLCancel while the driver's operation is not done (flagAsync set):
  // stops it and leaves the statement as that operation's failure would
  // (the framework then clears flagAsync). Base: S1C00, the operation stays
  // pending (for drivers that never leave flagAsync set).
  virtual KvStatus cancelAsyncOp();
  // Reads one statement option into value, which holds an SQLULEN. Base:
  // the stored value of an option the connection accepts (SQL_SIMULATE_CURSOR
  // reads 0), else S1C00. Options 13 and 14 arrive here only after
  // SQLGetStmtOption checked the cursor.
  virtual KvStatus getStmtOption(uint16_t option, void* value);
  // Sets one statement option. Base: an option the connection accepts (else
  // S1C00), a value above the driver's limit lowered to it (01S02),
  // SQL_CONCURRENCY and SQL_CURSOR_TYPE lowered to what the data source
  // offers (01S02), SQL_KEYSET_SIZE and SQL_SIMULATE_CURSOR never stored
  // (01S02 for a value other than 0); the value goes into the option block.
  // A driver handles its own options and hands the rest to the base.
  virtual KvStatus setStmtOption(uint16_t option, SQLULEN value);

  // ---- call discipline (base_call.h)
  // A call takes the statement for the calling thread before it waits for
  // the connection's lock: claimNow when it took it (a pending cancel of an
  // earlier call is forgotten), claimHeldHere when a call of this thread
  // holds it already (a re-entry), claimHeldElsewhere when another thread's
  // call holds it. threadDone gives it back.
  enum ClaimResult : int { claimNow = 0, claimHeldHere = 1, claimHeldElsewhere = 2 };
  ClaimResult claimForCall();
  // Takes the statement as claimForCall does and returns 0, or returns 1,
  // changing nothing, when a call holds it or a connection call marked it.
  uint16_t threadCheck();
  void threadDone();
  // Whether a call holds the statement or a connection call marked it.
  bool isBusy() const;
  // Set and cleared, under the connection's lock, by the connection call
  // that marks every statement of the connection busy
  // (checkConnectionAndStatements); read under that lock.
  void setMarkedBusy(bool marked) { markedBusy_ = marked; }
  bool isMarkedBusy() const { return markedBusy_; }
  // The thread (baseThreadId) whose call holds the statement (running or
  // waiting for the connection), 0 when none.
  uintptr_t getCallingThread() const { return callingThread_.load(); }
  // SQLCancel from another thread while a call of another thread holds the
  // statement: the request is noted for that call and this returns true;
  // false when no call of another thread holds it (the cancel then runs as
  // a call of its own).
  bool requestCancelOfRunningCall();
  // Whether a cancel was asked for the call that runs; takeCancelRequest
  // also forgets the request.
  bool isCancelRequested() const { return cancelRequested_.load(std::memory_order_relaxed) != 0; }
  bool takeCancelRequest() { return cancelRequested_.exchange(0) != 0; }
  // The function whose operation answered SQL_STILL_EXECUTING, an
  // SQL_API_ number (meaningful while flagAsync is set); BaseCall keeps it.
  uint16_t getAsyncFunction() const { return asyncFunction_; }
  void setAsyncFunction(uint16_t function) { asyncFunction_ = function; }
  KvStatus standardEntrance(uint16_t function) { return baseEnterCall(&errorList_); }
  SQLRETURN standardExit(SQLRETURN result) {
    result = baseLeaveCall(&errorList_, result);
    threadDone();
    return result;
  }

  // Grows the selected arrays to n entries (never shrinks); more than 16384
  // posts S1002 with msgTooManyColumns, msgTooManyBindings or msgTooManyParams.
  KvStatus allocArrays(uint16_t n, uint16_t which);
  void deleteFields();

  // ---- conversions (base_stmt_convert.cpp): every message they post names
  // the column (6072) or parameter (6073).
  // A result column's value into out as cType, from the current SQLGetData
  // offset on.
  KvStatus convertInternalToC(uint16_t column, int16_t cType, BaseOutString* out, const void* data, int32_t length,
                              InternalType type);
  // An output parameter's value into the buffer SQLBindParameter gave.
  KvStatus convertInternalToC(uint16_t parameter, const void* data, int32_t length, InternalType type);
  // A long value delivered whole, cut here from the SQLGetData offset on.
  KvStatus convertInternalToCHuge(uint16_t column, int16_t cType, BaseOutString* out, const void* data,
                                  int32_t length, InternalType type);
  // An input parameter's value (length in bytes, SQL_NTS for text) into the
  // target form at out (outSize bytes).
  KvStatus convertCToInternal(uint16_t parameter, const void* data, SQLLEN length, InternalType target, void* out,
                              int32_t* outLength, uint32_t outSize);
  // Bytes of the current SQLGetData column already returned.
  uint32_t getGetDataOffset() const { return getDataOffset_; }
  void setGetDataOffset(uint32_t offset) { getDataOffset_ = offset; }

  // ---- lifecycle (base_stmt_lifecycle.cpp)
  // Back to the allocated state: the driver's unbindParams and
  // setToAllocatedState (drop passed on; its failure stops here), the result
  // columns, the SQL text and its objects go; kind and cursor state allocated; the
  // flags of one execution and the re-prepare mark cleared.
  KvStatus returnToAllocatedState(uint16_t drop);
  // Closes the cursor of a prepared statement, which stays prepared: the
  // driver's setToPreparedState (its failure stops here), the current SQL
  // text object goes; cursor state prepared.
  KvStatus closePreparedStatement();
  // SQL_CLOSE: a prepared statement is closed, any other returns to the
  // allocated state.
  KvStatus closeCursor();
  // A commit or rollback whose cursor behaviour is SQL_CB_DELETE: back to
  // the allocated state, or, with keepPrepared, a prepared statement stays
  // prepared and is marked to be prepared again before it next runs.
  KvStatus applyCommitDelete(bool keepPrepared);
  // The states after a successful execution: executed, or, with result
  // columns, open with the cursor before the first row (and a generated
  // cursor name when the statement has none).
  KvStatus setExecutedState();
  // The check every catalog function makes on entry: an open cursor posts
  // 24000 and fails; any other state but allocated first returns to the
  // allocated state; the kind becomes catalog.
  KvStatus catalogEntryCheck();
  // SQL_UNBIND: the driver's unbindFlds, then every column binding goes.
  void freeBindings();
  // SQL_RESET_PARAMS: the driver's unbindParams, then every parameter
  // forgets its value.
  void resetParams();

  // ---- preparation (base_stmt_prepare.cpp, base_current_of.cpp)
  // Where an SQLPrepare, SQLExecDirect, SQLExecute or SQLParamData that
  // answered SQL_STILL_EXECUTING stopped: the driver's prepareCompile of the
  // prepare step (the text in resumeSql_), or its executePreparedStmt for
  // the current SQLParamOptions row.
  enum ExecStep : uint16_t { execStepNone = 0, execStepPrepare = 1, execStepExecute = 2 };

  // The prepare step: escape clauses translated (unless SQL_NOSCAN), verb,
  // markers and clauses of the text, a parameter record for each marker
  // (the driver's allocParam), a transaction opened in manual-commit mode,
  // FOR UPDATE OF cut or kept by the connection's capabilities, WHERE
  // CURRENT OF passed on natively or emulated, the driver's prepareCompile,
  // a copy of the text kept when the execution needs it; prepared
  // afterwards. sql may become the statement's own copy. When the driver
  // leaves its prepareCompile unfinished (flagAsync), the step succeeds with
  // flagAsync set and a copy of sql kept for the call that resumes it.
  KvStatus prepareStep(BaseSqlString* sql);

  // ---- execution (base_stmt_exec.cpp)
  // The execute step of SQLExecute, SQLExecDirect: prepares again first
  // when a commit marked the statement; every marker must have a bound
  // record (07001), an emulated WHERE CURRENT OF needs its cursor on a row,
  // a transaction opens in manual-commit mode, the row count starts at 0;
  // then executeRows from the first parameter of the first row.
  KvStatus executeStep(uint16_t* needData);
  // The rows of the execution from the current SQLParamOptions row on,
  // starting at parameter firstParam (1-based) of it. Each row: the
  // application's row counter, the emulation's values read and the text
  // fitted to them, every parameter checked and handed to bindParam, the
  // driver's executePreparedStmt, the row counts added up (-1 once any is
  // unknown or the sum passes 2147483647). *needData is 1 when a parameter
  // asks for its value at execution: the cursor state is then executing
  // and dataAtExecParam_ names the parameter. When the driver leaves its
  // executePreparedStmt unfinished the rows stop there with flagAsync set;
  // called again then, they go on with that executePreparedStmt.
  KvStatus executeRows(uint16_t firstParam, uint16_t* needData);

  // ---- parameters (base_params.cpp, base_data_at_exec.cpp,
  // base_textual_param.cpp)
  // Completes the description of parameter (1-based; record param): the C
  // type resolved and checked against the SQL type, precision and scale
  // normalised by SQL type, the buffer size of a fixed-size C type.
  KvStatus checkParam(uint16_t parameter, BaseParam* param);
  // For drivers whose data source has no parameters: writes the value of
  // parameter as SQL literal text over its marker in sqlText_, which the
  // execute step filled with the prepared text. Parameters arrive in
  // ascending order within one execution. length is bytes, SQL_NULL_DATA
  // or (for text) SQL_NTS.
  KvStatus textualBindParam(uint16_t parameter, const void* value, SQLLEN length);
  // The record of parameter (1-based): one of the application's markers,
  // or beyond them one of the WHERE CURRENT OF emulation; null when none.
  BaseParam* getParamRecord(uint16_t parameter) const;
  uint16_t getParamCount() const { return paramCount_; }
  // The current SQLParamOptions row (0-based) and the number of rows.
  SQLULEN getParamRow() const { return paramRow_; }
  SQLULEN getParamRows() const { return paramRows_; }
  // The SQL text as the execution sees it (textual parameters written in).
  const KvString& getSqlText() const { return sqlText_; }

  // ---- cursor names (base_cursor_name.cpp)
  // Gives the statement "SQL_CUR" and 8 upper-case hexadecimal digits made
  // from its address, one that no other statement of the connection bears.
  KvStatus generateCursorName();

  // ---- cursor position, kept by the fetch calls
  // The current row: 0 before the first row, 0xFFFFFFFF after the last,
  // else its number (the rowset's first row plus the index in the rowset).
  uint32_t getCurrentRow() const;
  // Whether the current row is a row: not marked deleted, missing or in
  // error by the last rowset's statuses.
  int isOnValidRow() const;

  // ---- result columns (base_result_columns.cpp, base_bind.cpp)
  // Describes the result columns unless done: the driver's
  // calcNumResultCols, then the fixed precisions of their SQL types
  // (INTEGER 10 ...). Leaves flagAsync set when the driver is not done.
  KvStatus describeColumns();
  // Before every fetch: 24000 without result columns, S1002 (6033) with a
  // binding beyond them; every binding resolved against its column after a
  // change (07006 for a pair that does not convert, after all were
  // checked); the SQLGetData column forgotten.
  KvStatus prepareBindings();

  // ---- rows and column values (base_fetch.cpp)
  // The next row of the result, from the catalog result set or the
  // driver's fetchRow, within SQL_MAX_ROWS; *endOfData 1 when none is left.
  KvStatus fetchNextRow(uint16_t* endOfData);
  // Row (1-based) of the result, from the catalog result set or the
  // driver's fetchRandomRow; a row beyond SQL_MAX_ROWS has status
  // SQL_ROW_NOROW.
  KvStatus fetchRowAt(uint32_t row, uint16_t* status);
  // Writes the bound columns of the current row into entry rowIndex of the
  // bound arrays; every column is written even when one fails.
  KvStatus transferBoundColumns(uint32_t rowIndex);
  // One column of the current row into out as cType (resolved): qualifier
  // columns of catalog results as NULL under waHideQualifiers and
  // waHideIndexQualifier, long columns held to SQL_MAX_LENGTH, a zero length
  // read as NULL under waZeroLengthIsNull; the catalog result set's value or
  // the driver's getData otherwise.
  KvStatus fetchColumnValue(uint16_t column, int16_t cType, BaseOutString* out);

  // ---- catalog results (base_catalog_info.cpp)
  // The statement's catalog result set (null when none); it owns it, and
  // the return to the allocated state destroys it.
  BaseCatalogInfo* getCatalogInfo() const { return catalogInfo_; }
  void setCatalogInfo(BaseCatalogInfo* info);
  // Makes count result columns (the driver's allocFld) described by table:
  // name (borrowed), SQL type, nullable, precision; the columns count as
  // described.
  KvStatus setCatalogColumns(uint16_t count, const CatalogColumnDesc* table);
  // Nesting of catalog calls (SQLColumns and SQLSpecialColumns run others
  // inside themselves): push makes info the statement's catalog result set
  // and keeps in it the statement's result columns and the result set it
  // replaces; pop deletes the current result columns, gives those back and
  // destroys the popped result set.
  void pushCatalogInfo(BaseCatalogInfo* info);
  void popCatalogInfo();
  // The innermost result set of kind in the chain (null when none).
  BaseCatalogInfo* findCatalogInfo(BaseCatalogKind kind) const;
  // Checks one name argument of a catalog call (base_catalog_args.cpp) and
  // stores its copies: *plain without quotes and escapes, *pattern (given
  // for pattern arguments only) keeping the escapes of "%", "_" and the
  // escape. A null text, or a pattern of exactly "%", leaves both null.
  // infoType names the SQLGetInfo limit: a longer name is S1090 with the
  // message naming the limit; a limit of 0 is S1C00. The copies made stay
  // in the slots on failure.
  KvStatus getCatalogArgument(const unsigned char* text, int16_t length, uint16_t infoType, unsigned char** plain,
                              unsigned char** pattern);
  // Bytes of the buffers that catalog texts are read into: 254 characters
  // and the terminator, 128 for the table names SQLColumns groups by.
  enum : uint32_t { catalogTextBytes = 255, catalogNameBytes = 129 };
  // Column of the driver's current row as a text of at most bufferBytes - 1
  // bytes (whatever length the driver reports), replacing *text; NULL
  // leaves *text null.
  KvStatus getCatalogValue(uint16_t column, unsigned char** text, uint32_t bufferBytes = catalogTextBytes);
  // Column of the driver's current row as a 32-bit number; *present 0 for
  // NULL (the number is then left as it was).
  KvStatus getCatalogValue(uint16_t column, int32_t* number, int* present);

  BaseConnection* getConnection() const { return connection_; }
  BaseErrorList& getErrorList() { return errorList_; }
  uint32_t getFlags() const { return flags_; }
  void setFlags(uint32_t flags) { flags_ = flags; }
  SQLULEN* getOptions() { return options_; }
  uint16_t getFieldCount() const { return fieldCount_; }
  uint16_t getFieldCapacity() const { return fieldCapacity_; }
  uint16_t getBindingCapacity() const { return bindingCapacity_; }
  uint16_t getParamCapacity() const { return paramCapacity_; }
  // The highest column number that has a binding (0: none).
  uint16_t getHighestBoundColumn() const { return bindingCount_; }
  BaseField** getFields() const { return fields_; }
  BaseBinding** getBindings() const { return bindings_; }
  BaseParam** getParams() const { return params_; }
  BaseStmtKind getKind() const { return kind_; }
  BaseCursorState getCursorState() const { return cursorState_; }
  const unsigned char* getCursorName() const { return cursorName_; }
  // Rows the last execution affected (-1: unknown).
  int32_t getExecutedRowCount() const { return executedRowCount_; }

 protected:
  // The cursor before the first row, with no rowset statuses, no column
  // read in part and no end of data seen.
  void resetCursorPosition();

  SQLULEN options_[optWordCount];
  BaseConnection* connection_;
  BaseErrorList errorList_;
  unsigned char* cursorName_ = nullptr;
  BaseStmtKind kind_ = stmtKindAllocated;
  BaseCursorState cursorState_ = cursorAllocated;
  KvString sqlText_;
  BaseSqlString* sqlString_ = nullptr;
  BaseField** fields_ = nullptr;
  uint16_t fieldCount_ = 0;
  uint16_t fieldCapacity_ = 0;
  BaseBinding** bindings_ = nullptr;
  uint16_t bindingCount_ = 0;  // the highest bound column number
  uint16_t bindingCapacity_ = 0;
  BaseParam** params_ = nullptr;
  uint16_t paramCount_ = 0;
  uint16_t paramCapacity_ = 0;
  uint32_t flags_ = 0;
  // SQLGetData: the column last asked for (0: none since the fetch), the C
  // type of its last piece, and the source bytes returned of it.
  uint16_t getDataColumn_ = 0;
  int16_t getDataCType_ = 0;
  uint32_t getDataOffset_ = 0;
  BaseCatalogInfo* catalogInfo_ = nullptr;
  // Rows the last execution affected, summed over parameter rows (-1:
  // unknown).
  int32_t executedRowCount_ = -1;
  // Cursor position: rowsetStart_ is 0 before the first row, -1 after the
  // last, else the number of the rowset's first row; rowsetIndex_ is the
  // current row within the rowset. rowStatus_ is the framework's own copy of
  // the last SQLExtendedFetch's row statuses (rowStatusCount_ entries; null
  // when there are none), never the application's array.
  int32_t rowsetStart_ = 0;
  uint32_t rowsetIndex_ = 0;
  uint16_t* rowStatus_ = nullptr;
  uint32_t rowStatusCount_ = 0;
  // An operation that answered SQL_STILL_EXECUTING (flagAsync set): its
  // function, which BaseCall lets through alone until it ends, and where it
  // goes on when the application calls it again with the same arguments.
  uint16_t asyncFunction_ = 0;
  // The call discipline's state, kept out of flags_ because other threads
  // read it: the thread whose call runs, a mark set by a connection call,
  // and a pending cancel of the running call.
  std::atomic<uintptr_t> callingThread_{0};
  bool markedBusy_ = false;
  std::atomic<uint32_t> cancelRequested_{0};
  // SQLExtendedFetch: the step it stopped in (FetchStep, base_fetch.cpp);
  // while finding the last row, the last row found and the first missing (0:
  // none yet) and the move to make from after the last row; while reading
  // the rowset, the rows read so far (the current one is rowsetIndex_).
  struct FetchResume {
    uint16_t step = 0;
    int64_t hit = 0;
    int64_t miss = 0;
    int64_t move = 0;
    uint32_t read = 0;
  } fetchResume_;
  // SQLPrepare, SQLExecDirect, SQLExecute and SQLParamData: the step that
  // stopped (ExecStep, base_stmt_exec.cpp), and for a stopped prepare the
  // text the driver's prepareCompile is given again (owned).
  uint16_t execResumeStep_ = 0;
  BaseSqlString* resumeSql_ = nullptr;
  // SQLParamOptions: rows of parameter values (1 when not set) and the
  // application's row counter (owned by the application); the row being
  // executed (0-based) and the parameter (1-based) whose value is being
  // supplied at execution (0: none).
  SQLULEN paramRows_ = 1;
  SQLULEN* paramRowCounter_ = nullptr;
  SQLULEN paramRow_ = 0;
  uint16_t dataAtExecParam_ = 0;
  // The prepared text kept for the execution (null when not needed), and
  // under waKeepPrepared the text as the application gave it, for a
  // prepare again after a commit.
  BaseSqlString* keptSql_ = nullptr;
  KvString appText_;
  // WHERE CURRENT OF emulation: the statement the cursor name names and
  // one parameter record per search column (owned), in column order.
  BaseStatement* currentOfStmt_ = nullptr;
  BaseParam** emulParams_ = nullptr;
  uint16_t emulCount_ = 0;
  // Textual parameters: the next parameter textualBindParam expects and the
  // bytes the substitutions so far moved the markers behind them.
  uint16_t textNextParam_ = 1;
  int64_t textShift_ = 0;

 private:
  // The fixed precision and scale 0 of the SQL types that have them, in
  // every result column; the columns count as described afterwards.
  void applyFixedPrecisions();
  // The number of the last row of a scrollable result (0 when it has
  // none), by probing fetchRowAt from the probes in fetchResume_; returns
  // with flagAsync set when the driver left a probe unfinished.
  KvStatus findLastRow(int64_t* last);
  // The entry step of a catalog function: an open cursor is refused
  // (24000), anything else returns to the allocated state; the statement
  // then has kind catalog.
  KvStatus startCatalogCall();
  // The current SQL text object and the SQL text go.
  void dropSqlText();
  // SQLPrepare and SQLExecDirect on a statement in any state: an open cursor
  // is refused (24000), any other state returns to the allocated state
  // first; then the statement takes kind.
  KvStatus enterFreshStatement(BaseStmtKind kind);
  // After a failed prepare or execute step: back to the allocated state.
  void abandonStatement();

  // ---- catalog functions (base_catalog_calls.cpp and the family files)
  // The entry of a catalog call after the call's entrance: a repeated call of
  // an asynchronous one finds its result set of kind (*resumed); a fresh
  // call passes the entry check (24000 on an open cursor).
  KvStatus enterCatalogCall(BaseCatalogKind kind, BaseCatalogInfo** resumed);
  // The end of a catalog call, which leaves call: a failure returns to the allocated state,
  // an unfinished driver gives SQL_STILL_EXECUTING.
  SQLRETURN leaveCatalogCall(BaseCall* call, KvStatus status);
  // A fresh call of a fixed-row family: the result set pushed, its result
  // columns set up, its arguments checked (texts and lengths in the order
  // of the ODBC call).
  KvStatus setupRowsCall(BaseRowsCatalogInfo* info, const SQLCHAR* const* texts, const SQLSMALLINT* lengths);
  // The whole of a fixed-row family's ODBC call (SQLStatistics ...): entry,
  // a fresh result set of kind with the options (fUnique; fColType, fScope,
  // fNullable), its core, the exit.
  SQLRETURN runRowsCall(uint16_t function, BaseCatalogKind kind, const SQLCHAR* const* texts,
                        const SQLSMALLINT* lengths, const uint16_t* options);
  // The driver's executeXxx of the family at hand.
  KvStatus executeFamily(BaseRowsCatalogInfo* info);
  // The common core of the fixed-row families: the driver asked (step 1),
  // its rows read, filtered and kept (step 2), its cursor closed, the rows
  // sorted and the cursor opened on them.
  KvStatus rowsCore(BaseRowsCatalogInfo* info);
  // Every row of the driver's result into info (resumable: returns with
  // flagAsync set when the driver is not done).
  KvStatus readFamilyRows(BaseRowsCatalogInfo* info);
  // After collection: the driver's cursor closed, the rows sorted, the
  // cursor open on them (executed when there are no result columns).
  KvStatus finishCatalogRows(BaseCatalogInfo* info);
  KvStatus tablesCore(BaseTablesInfo* info);
  KvStatus columnsCore(BaseColumnsInfo* info);
  KvStatus specialCore(BaseSpecialColumnsInfo* info);
  // Prepare-step parts (base_stmt_prepare.cpp, base_current_of.cpp).
  KvStatus handleCurrentOf(BaseSqlString* sql);
  KvStatus buildEmulatedCondition(BaseSqlString* sql);
  KvStatus addEmulationParam(BaseParam* param);
  KvStatus addEmulationMarkers(BaseSqlString* sql);
  void deleteEmulation();
  KvStatus keepPreparedText(const BaseSqlString* sql);
  // An asynchronous prepare: the step's text kept for the call that
  // resumes it; that call gives it to prepareCompile again and finishes the
  // step (the copy of the text for the execution, the prepared state).
  KvStatus keepForResume(const BaseSqlString* sql);
  KvStatus resumePrepareStep();
  KvStatus finishPrepareStep(const BaseSqlString* sql);
  // The application's repeated call of an SQLPrepare, SQLExecDirect,
  // SQLExecute or SQLParamData that answered SQL_STILL_EXECUTING: the step
  // that stopped goes on; a resumed prepare is followed by the execute step
  // when execute is set. Returns with flagAsync set while the driver is still
  // not done.
  KvStatus resumeStep(bool execute, uint16_t* needData);
  // Execute-step parts (base_stmt_exec.cpp, base_current_of.cpp).
  KvStatus startExecution();
  KvStatus checkCurrentOfCursor();
  KvStatus readEmulationValues();
  KvStatus fitEmulatedText(bool* refitted);
  KvStatus compileWithinExecution(BaseSqlString* text);
  KvStatus deliverParam(uint16_t number, BaseParam* param, uint16_t* needData);
  KvStatus deliverEmulationParams();
  KvStatus finishRow(bool* done);
  void endOfExecution();
  int isStatementOfConnection(const BaseStatement* statement);
  KvStatus reprepareIfMarked();
  // Data at execution (base_data_at_exec.cpp).
  KvStatus finishCollectedValue();
};

// Every statement flag has exactly one owner.
static_assert((BaseStatement::driverFlags & BaseStatement::frameworkFlags) == 0, "a statement flag has one owner");
static_assert((BaseStatement::driverFlags | BaseStatement::frameworkFlags) == 0x5FF,
              "every named statement flag has an owner; 0x200 is free");
