// BaseConnection: the connection handle (HDBC) that every driver's
// connection class derives from.
//
// The virtual operations keep a fixed order, which every driver keeps too:
// the ODBC functions of a connection, then the driver's own operations.
// Every ODBC operation runs the call discipline through a BaseCall
// (base_call.h): threadCheck (a busy handle answers 9999 at once),
// standardEntrance (the handle's error list is emptied and becomes the
// thread's current list), the work, standardExit (success becomes
// success-with-info when only warnings stand).
#pragma once

#include "base/handles/base_call.h"
#include "base/handles/base_error_list.h"
#include "base/statement/base_escape.h"
#include "base/connection/base_info.h"
#include "util/containers/kv_array.h"
#include "util/containers/kv_list.h"
#include "util/containers/kv_string.h"

class KvValueParser;
class KvReplaceString;
class BaseOutString;
struct BaseTypeRow;

// Words of a statement-option block (the connection's defaults and every
// statement's own copy). Each word is a SQLULEN: ODBC passes statement
// options as SQLULEN values (row counts, lengths, bind sizes), and a block
// keeps them whole; the bits word holds flags only.
enum BaseStmtOptionWord : int {
  optWordBindType = 0,
  optWordMaxLength = 1,
  optWordQueryTimeout = 2,
  optWordMaxRows = 3,
  optWordCursorType = 4,
  optWordConcurrency = 5,
  optWordRowsetSize = 6,
  optWordKeysetSize = 7,
  optWordBits = 8,  // the bit options, BaseStmtOptionBit
  optWordCount = 9
};

// The on/off statement options kept as bits of optWordBits.
enum BaseStmtOptionBit : uint32_t {
  optBitAsync = 0x1,         // SQL_ASYNC_ENABLE
  optBitNoScan = 0x2,        // SQL_NOSCAN
  optBitRetrieveData = 0x4,  // SQL_RETRIEVE_DATA
  optBitBookmarks = 0x8,     // SQL_USE_BOOKMARKS
};

// An option block: stores a statement option's value as SQLSetStmtOption
// does (a word takes the value, a bit option is on for 1 and off for any
// other value; SQL_KEYSET_SIZE and SQL_SIMULATE_CURSOR stay 0, a value
// other than 0 posting 01S02), and reads it back (a bit option as 0 or 1).
KV_BASE_API void baseStoreStmtOption(SQLULEN* block, uint16_t option, SQLULEN value);
KV_BASE_API SQLULEN baseReadStmtOption(const SQLULEN* block, uint16_t option);

// The framework's private connection option: ModifySql on (1) or off (0).
enum : uint16_t { connOptionModifySql = 1043 };

typedef int (*BaseYieldCallback)(BaseConnection* connection);
// Entry points of a translation library.
typedef int (*BaseTranslateFunction)(uint32_t option, int16_t sqlType, void* in, int32_t inLength, void* out,
                                     int32_t outMax, int32_t* outLength, unsigned char* message,
                                     int16_t messageMax, int16_t* messageLength);

class KV_BASE_API BaseConnection : public KvObject {
 public:
  // The connection flag word (getFlags). It belongs to the framework: every
  // bit is named here, and no layer above defines bits of its own in it (the
  // file engine keeps its own word, FlatConnection::getEngineFlags; a driver
  // keeps its state in its own members). Owners:
  //   state  kept by the framework alone as calls run; nobody else sets or
  //          clears them (the file engine's transaction opening, which sets
  //          flagTransaction as openTransactionIfManual would, is the one
  //          exception).
  //   caps   capabilities: the driver's constructor (or the engine's, for
  //          every file driver) sets or clears them once; the framework only
  //          reads them afterwards.
  // Bits 0x200 and 0x2000000 up are free; they stay the framework's.
  //   bit        name                   owner  meaning
  //   0x1        flagConnected          state  connected (completeConnect .. disconnect)
  //   0x2        flagTransaction        state  a manual-commit transaction is open
  //   0x4        flagModifySql          state  the ModifySql key, connOptionModifySql
  //   0x8        flagUidFromIni         state  the user id came from the data source's section
  //   0x10       flagPwdFromIni         state  the password came from the data source's section
  //   0x20       flagQuietNoWindow      state  SQL_QUIET_MODE holds no window
  //   0x40       flagNoBrowse           state  no SQLBrowseConnect is under way
  //   0x80       flagDriverTakesParams  caps   bindParam receives values (else textual parameters)
  //   0x100      flagDefaultParams      caps   SQL_DEFAULT_PARAM is accepted
  //   0x400      flagLongDataInPieces   caps   long values at execution reach bindParam in pieces
  //   0x800      flagForUpdateOf        caps   FOR UPDATE OF is passed on, not cut
  //   0x1000     flagPositionedUpdate   caps   UPDATE ... WHERE CURRENT OF is the driver's
  //   0x2000     flagPositionedDelete   caps   DELETE ... WHERE CURRENT OF is the driver's
  //   0x4000     flagPositionedInTxn    caps   positioned statements only inside a transaction
  //   0x8000     flagOutputParams       caps   output and input/output parameters
  //   0x10000    flagNegativeScale      caps   NUMERIC/DECIMAL parameters may have a negative scale
  //   0x20000    flagTableNameCut       caps   catalog table-name arguments lose their extension
  //   0x40000    flagLoginTimeout       caps   SQL_LOGIN_TIMEOUT is offered
  //   0x80000    flagAsyncEnable        caps   SQL_ASYNC_ENABLE is offered
  //   0x100000   flagQueryTimeout       caps   SQL_QUERY_TIMEOUT is offered
  //   0x200000   flagPatternNoCase      caps   table-name patterns match without regard to case
  //   0x400000   flagTableNameCut2      caps   plain table-name arguments lose their extension
  //   0x800000   flagBusy               state  a call runs on the connection (threadCheck)
  //   0x1000000  flagStatementsMarked   state  threadCheck also marked every statement busy
  enum : uint32_t {
    flagConnected = 0x1,
    flagTransaction = 0x2,
    flagModifySql = 0x4,
    flagUidFromIni = 0x8,
    flagPwdFromIni = 0x10,
    flagQuietNoWindow = 0x20,
    flagNoBrowse = 0x40,
    flagDriverTakesParams = 0x80,
    flagDefaultParams = 0x100,
    flagLongDataInPieces = 0x400,
    flagForUpdateOf = 0x800,
    flagPositionedUpdate = 0x1000,
    flagPositionedDelete = 0x2000,
    flagPositionedInTxn = 0x4000,
    flagOutputParams = 0x8000,     // output and input/output parameters are supported
    flagNegativeScale = 0x10000,   // NUMERIC and DECIMAL parameters may have a negative scale
    flagTableNameCut = 0x20000,
    flagLoginTimeout = 0x40000,
    flagAsyncEnable = 0x80000,
    flagQueryTimeout = 0x100000,
    flagPatternNoCase = 0x200000,
    flagTableNameCut2 = 0x400000,
    flagBusy = 0x800000,
    flagStatementsMarked = 0x1000000,
  };
  // The two owners' bits; a constructor that sets or clears flags touches
  // capabilityFlags only (checked where drivers set them).
  enum : uint32_t {
    stateFlags = flagConnected | flagTransaction | flagModifySql | flagUidFromIni | flagPwdFromIni |
                 flagQuietNoWindow | flagNoBrowse | flagBusy | flagStatementsMarked,
    capabilityFlags = flagDriverTakesParams | flagDefaultParams | flagLongDataInPieces | flagForUpdateOf |
                      flagPositionedUpdate | flagPositionedDelete | flagPositionedInTxn | flagOutputParams |
                      flagNegativeScale | flagTableNameCut | flagLoginTimeout | flagAsyncEnable | flagQueryTimeout |
                      flagPatternNoCase | flagTableNameCut2,
  };
  // WorkArounds: the user's bits (the data source's WorkArounds key), read by
  // the framework and the entry layer; a driver reads them, never sets them.
  // Bits 0x20 and 0x10000 up are free. 0xF000 is not a WorkArounds bit: the
  // same key's high nibble is the share count of a shared connection, kept
  // apart (getShareCount).
  //   0x1    waKeepPrepared        a commit or rollback keeps prepared statements prepared (to be
  //                                prepared again); SQLGetInfo says SQL_CB_CLOSE for SQL_CB_DELETE
  //   0x2    waHideQualifiers      catalog results' qualifier columns read NULL; SQL_MAX_QUALIFIER_NAME_LEN 0
  //   0x4    waShareConnection     connections of one data source are shared (entry layer)
  //   0x8    waRowCountOne         SQLRowCount answers 1 where the count is unknown
  //   0x10   waHideIndexQualifier  SQLStatistics' INDEX_QUALIFIER reads NULL
  //   0x40   waDescribe            a result column without a name is described as "C" and its number
  //   0x80   waZeroLengthIsNull    a column value of length 0 reads as NULL
  //   0x100  waActiveConnections   a driver's SQL_ACTIVE_CONNECTIONS of 0 counts as 1 inside (sharing);
  //                                with 0x4 or 0x100 the application is told 0 for 1
  //   0x200  waSpecialByFramework  SQLSpecialColumns answered from statistics and columns
  //   0x400  waNoExtendedFetch     SQLGetFunctions denies SQLExtendedFetch
  //   0x800  waRenameDb            DB= of the completed connection string becomes DATABASE=
  enum : uint32_t {
    waKeepPrepared = 0x1,
    waHideQualifiers = 0x2,
    waShareConnection = 0x4,
    waRowCountOne = 0x8,
    waHideIndexQualifier = 0x10,  // SQLStatistics' INDEX_QUALIFIER reads NULL
    waDescribe = 0x40,
    waZeroLengthIsNull = 0x80,    // a column value of length 0 reads as NULL
    waActiveConnections = 0x100,
    waSpecialByFramework = 0x200,  // SQLSpecialColumns answered from statistics and columns, never by the driver
    waNoExtendedFetch = 0x400,
    waRenameDb = 0x800,
    waShareCountBits = 0xF000,
  };

  explicit BaseConnection(BaseEnv* env);
  ~BaseConnection() override;

  // ---- virtual operations, in slot order after the destructor and compare
  //
  // The ODBC functions of a connection. The entry layer calls them with the
  // handle checked and the exception firewall around them. Each runs the
  // call discipline itself (a BaseCall), posts its diagnostics on the
  // connection's list and returns the ODBC result. A driver seldom overrides
  // one; when it does, it either calls the base version for the whole call
  // or opens its own BaseCall, never both.
  virtual SQLRETURN SQLBrowseConnect(SQLCHAR* szConnStrIn, SQLSMALLINT cbConnStrIn, SQLCHAR* szConnStrOut,
                                     SQLSMALLINT cbConnStrOutMax, SQLSMALLINT* pcbConnStrOut);
  virtual SQLRETURN SQLConnect(SQLCHAR* szDSN, SQLSMALLINT cbDSN, SQLCHAR* szUID, SQLSMALLINT cbUID,
                               SQLCHAR* szAuthStr, SQLSMALLINT cbAuthStr);
  virtual SQLRETURN SQLDriverConnect(SQLHWND hwnd, SQLCHAR* szConnStrIn, SQLSMALLINT cbConnStrIn,
                                     SQLCHAR* szConnStrOut, SQLSMALLINT cbConnStrOutMax,
                                     SQLSMALLINT* pcbConnStrOut, SQLUSMALLINT fDriverCompletion);
  virtual SQLRETURN SQLDisconnect();
  virtual SQLRETURN SQLGetConnectOption(SQLUSMALLINT fOption, SQLPOINTER pvParam);
  virtual SQLRETURN SQLGetFunctions(SQLUSMALLINT fFunction, SQLUSMALLINT* pfExists);
  virtual SQLRETURN SQLGetInfo(SQLUSMALLINT fInfoType, SQLPOINTER rgbInfoValue, SQLSMALLINT cbInfoValueMax,
                               SQLSMALLINT* pcbInfoValue);
  virtual SQLRETURN SQLNativeSql(SQLCHAR* szSqlStrIn, SQLINTEGER cbSqlStrIn, SQLCHAR* szSqlStr,
                                 SQLINTEGER cbSqlStrMax, SQLINTEGER* pcbSqlStr);
  virtual SQLRETURN SQLSetConnectOption(SQLUSMALLINT fOption, SQLULEN vParam);
  virtual SQLRETURN SQLTransact(SQLUSMALLINT fType);

  // The driver's operations. They run inside an ODBC call whose entrance has
  // passed: the connection's error list is the thread's current list, so
  // addOdbcError/addOdbcWarning post on the connection. A KvStatus failure
  // must have posted its reason first (the framework adds none); the caller
  // turns it into SQL_ERROR.
  //
  // The driver module's file name without its directory, for SQLGetInfo's
  // SQL_DRIVER_NAME: a terminated text of at most size bytes. Cannot fail.
  virtual void getDllName(unsigned char* buffer, uint32_t size) = 0;
  // Reads the driver's own connection attributes. Called by SQLConnect
  // (parser null: the attributes come from the data source's section, dsn_
  // set) and SQLDriverConnect (parser holds the connection string), after the
  // data source was looked up and readCommonAttributes ran; not connected
  // yet. Reads through getConnectionValue; posts its own error for a bad
  // value. On failure the framework runs disconnect(), so what it made must
  // be released by setToAllocatedState.
  virtual KvStatus connectInit(KvValueParser* parser) = 0;
  // Opens the data source with what connectInit read (finishConnect calls
  // it). Success leaves the driver ready for statements; completeConnect
  // follows and sets flagConnected. On failure (its error posted, 08001 and
  // the like) the framework runs disconnect().
  virtual KvStatus connectLogon() = 0;
  // The driver's disconnect, from disconnect(): every statement has
  // returned to the allocated state and no transaction is open (SQLDisconnect
  // refuses with 25000 before); the statements are deleted afterwards.
  // Also runs after a connect that failed part way, so it must cope with
  // whatever connectInit and connectLogon made, and with nothing. Releases
  // all of it so that the connection can connect again. A failure is
  // reported (SQLDisconnect answers SQL_ERROR) but the framework forgets the
  // connection all the same.
  virtual KvStatus setToAllocatedState() = 0;
  // SQLDriverConnect after connectInit: prompts as the completion mode says
  // (never on Linux) and finishes the connect through finishConnect.
  // Returning success while still not connected means the user cancelled
  // (SQL_NO_DATA_FOUND).
  virtual KvStatus connectLogonDialogStart(SQLHWND hwnd, SQLUSMALLINT completion, KvValueParser* parser) = 0;
  // The driver's string of message or text id: a terminated text of at
  // most size bytes; returns its length, 0 when the driver has none (the
  // caller then keeps what it put in the buffer). Called while a diagnostic
  // is being posted and for SQLGetInfo and SQLGetTypeInfo texts: it must
  // post nothing.
  virtual short getDriverResourceStr(uint16_t id, unsigned char* buffer, uint32_t size) = 0;
  // Writes the native form of one escape clause (contract in base_escape.h).
  // Base: 37000 (msgEscapeNotSupported), failure.
  virtual KvStatus expandNativeEscape(KvReplaceString* text, uint32_t argumentLength, EscapeType escapeType,
                                      EscapeFunctionType functionType);
  // Opens a transaction in manual-commit mode (openTransactionIfManual:
  // connected, autocommit off, none open); the framework sets
  // flagTransaction after success. Base: success, nothing to open.
  virtual KvStatus startTransaction();
  // Ends the open transaction, type SQL_COMMIT or SQL_ROLLBACK: SQLTransact
  // in manual-commit mode with flagTransaction set, and SQL_AUTOCOMMIT
  // switched on (a commit). After success the framework clears
  // flagTransaction and applies the cursor commit or rollback behaviour to
  // every statement; after a failure the transaction stays open. Base:
  // S1C00 and failure, for drivers whose startTransaction opens nothing.
  virtual KvStatus endTransaction(uint16_t type);
  // The answer of an info row of kind infoAsked (base_info.h): *value and
  // *kind as the row kinds say (a number in the pointer, or with infoText a
  // text from ramAlloc, which the framework frees). Base: failure.
  virtual KvStatus getAskedForInfo(uint16_t type, void** value, BaseInfoValType* kind);
  // SQLGetConnectOption: writes option's value into value (a SQLULEN, or a
  // text buffer for SQL_TRANSLATE_DLL). A driver answers its own options and
  // hands the rest to the base. Base: the framework's options, the
  // statement options as the connection's defaults; S1C00 for others.
  virtual KvStatus getConnectOption(uint16_t option, void* value);
  // SQLSetConnectOption once connected (SQL_LOGIN_TIMEOUT before too), and
  // the options queued before the connect, replayed by completeConnect (a
  // failure there becomes the warning IM006); always after applyConnectOption
  // has checked SQL_AUTOCOMMIT (committing an open transaction) and
  // SQL_TXN_ISOLATION. A driver handles its own options
  // and hands the rest to the base. Base: a statement option becomes the
  // default of new statements and is set on every statement (their
  // setStmtOption; 01S02 when lowered to a limit); the framework's
  // connection options are stored; S1C00 for any other.
  virtual KvStatus setConnectOption(uint16_t option, SQLULEN value);
  // SQLBrowseConnect after the data source and the common attributes:
  // reads the driver's attributes from parser (null on the first call
  // without input), writes into missing the attributes still wanted in
  // browse-result form and sets *more 1, or logs on and sets *more 0 (then
  // the framework completes the connect). Base: S1C00, failure.
  virtual KvStatus connectBrowse(KvValueParser* parser, KvParamString* missing, unsigned* more);
  // Whether values of sqlType pass between SQL_C_BINARY and the driver's
  // internal form byte for byte, whole or not at all, instead of by the
  // conversion rules. Base: 0.
  virtual int isBinaryCTypeHandled(int16_t sqlType);
  // SQLGetFunctions for one function number: *exists 1 or 0. A driver that
  // carries fewer functions narrows the base answer. Base: the functions
  // the entry layer exports. (The Driver Manager answers SQLGetFunctions
  // itself for most applications.)
  virtual KvStatus isFunctionSupported(uint16_t function, uint16_t* exists);

  // ---- call discipline
  uint16_t threadCheck(ThreadCheckTypes type);
  void threadDone();
  // The lock that every call on the connection or one of its statements
  // holds for its whole run (base_call.h); recursive, so that a re-entry of
  // the same thread reaches the busy check and is refused there.
  std::recursive_mutex& getCallLock() { return callLock_; }
  KvStatus standardEntrance(uint16_t function) { return baseEnterCall(&errorList_); }
  SQLRETURN standardExit(SQLRETURN result) {
    result = baseLeaveCall(&errorList_, result);
    threadDone();
    return result;
  }

  // ---- connection establishment
  KvStatus getConnectionValue(KvValueParser* parser, const char* shortKey, const char* longKey,
                              const char* defaultValue, unsigned char** out, uint16_t* source);
  // The driver's connectLogon, then completeConnect.
  KvStatus finishConnect();
  // What every connect does once the driver has logged on: the default
  // isolation level, the connected flag, the DBMS name, and the options
  // queued before connecting.
  KvStatus completeConnect();
  KvStatus disconnect();
  int16_t yield();
  BaseYieldCallback yieldCallback(void* instance);
  KvStatus toDriver(int16_t sqlType, void* buffer, uint32_t length);
  KvStatus toDataSource(int16_t sqlType, void* buffer, uint32_t length);
  KvStatus loadTranslationDll(const unsigned char* path);
  void unloadTranslationDll();

  // ---- SQLGetInfo
  KvStatus getInfo(uint16_t type, void** value, BaseInfoValType* kind, unsigned* owned);
  // Numeric answer of getInfo (0 when it fails).
  uint32_t getInfoNumber(uint16_t type, KvStatus* status = nullptr);

  // ---- escape clauses (base_escape_pass.cpp, base_escape_args.cpp,
  // base_outer_join.cpp)
  // Rewrites every escape clause of sql into native text in place; sql
  // becomes a private copy at the first rewrite. markerCount, when given,
  // receives the number of "?" markers outside quotes and literals.
  KvStatus expandEscapeClauses(KvString* sql, uint16_t* markerCount);
  // Copies argument n (1-based) of the function escape whose "(...)" stands
  // at the cursor, within *remaining bytes; flags as copyOpenBefore...
  KvStatus copyEscapeArgument(KvReplaceString* text, uint32_t* remaining, uint16_t argument, uint16_t flags);
  // Rewrites the outer-join escape whose argument (length bytes) stands at
  // the cursor; the join condition moves into the statement's WHERE.
  KvStatus processOuterJoinEscape(KvReplaceString* text, uint32_t length, BaseOuterJoinTypes type);
  // The three characters that quote text in which nothing is an escape (0:
  // unused); ' " and ` unless the driver sets others.
  void setQuoteChars(unsigned char q1, unsigned char q2, unsigned char q3) {
    quoteChars_[0] = q1;
    quoteChars_[1] = q2;
    quoteChars_[2] = q3;
  }
  const unsigned char* getQuoteChars() const { return quoteChars_; }
  // Further keywords at which the outer-join rewrite stops looking for the
  // statement's WHERE: zero-terminated phrases ended by an empty one, kept
  // by reference.
  void setOuterJoinStopWords(const unsigned char* list) { outerJoinStopWords_ = list; }
  const unsigned char* getOuterJoinStopWords() const { return outerJoinStopWords_; }

  // ---- type information (base_type_info.cpp)
  // The driver's SQLGetTypeInfo rows, kept by reference; none means the
  // driver produces the rows itself through its statement's getTypeInfo.
  void setTypeTable(const BaseTypeRow* rows, uint16_t count) {
    typeTable_ = rows;
    typeCount_ = rows ? count : 0;
  }
  const BaseTypeRow* getTypeTable() const { return typeTable_; }
  uint16_t getTypeCount() const { return typeCount_; }

  // ---- transactions
  // Manual-commit mode opens a transaction lazily: before a statement is
  // prepared (and before the driver's row-changing statement options), when
  // autocommit is off and none is open, the driver's startTransaction runs
  // and the transaction flag is set. Its failure is the caller's.
  KvStatus openTransactionIfManual();

  // ---- statements
  // The first statement of the connection, in creation order, whose cursor
  // name is name; null when none bears it.
  BaseStatement* findStmtByCursorName(const KvSubString* name);

  // ---- options
  KvStatus applyConnectOption(uint16_t option, SQLULEN value);
  // Whether the connection accepts a statement option as a default of its
  // statements, and the upper limit of its value (0: none).
  int acceptsStmtOption(uint16_t option, SQLULEN* limit);

  // ---- fields that drivers and the framework read and set
  BaseEnv* getEnv() const { return env_; }
  // Counts the connection on env instead of the environment it was built
  // on, which is about to go while the connection lives on (a shared
  // connection held through env).
  void moveToEnv(BaseEnv* env);
  BaseErrorList& getErrorList() { return errorList_; }
  KvList& getStatements() { return statements_; }
  uint32_t getFlags() const { return flags_; }
  void setFlags(uint32_t flags) { flags_ = flags; }
  void addFlags(uint32_t bits) { flags_ |= bits; }
  void clearFlags(uint32_t bits) { flags_ &= ~bits; }
  int isConnected() const { return (flags_ & flagConnected) != 0; }
  // WorkArounds as the user gave it (the share count is kept apart).
  uint32_t getWorkArounds() const { return workArounds_; }
  void setWorkArounds(uint32_t value) { workArounds_ = value & ~uint32_t(waShareCountBits); }
  uint32_t getShareCount() const { return shareCount_; }
  int isShared() const { return shareCount_ != 0; }
  void addShare() { ++shareCount_; }
  void removeShare() {
    if (shareCount_) --shareCount_;
  }
  const unsigned char* getDataSourceName() const { return dsn_; }
  const unsigned char* getUserId() const { return userId_; }
  const unsigned char* getPassword() const { return password_; }
  const unsigned char* getDbmsName() const { return dbmsName_; }
  const unsigned char* getDatabaseName() const { return databaseName_; }
  void setDatabaseName(const unsigned char* name);
  uint16_t getYieldMode() const { return yieldMode_; }
  int16_t getYieldResult() const { return yieldResult_; }
  void setYieldResult(int16_t value) { yieldResult_ = value; }
  uint32_t getAutocommit() const { return autocommit_; }
  uint32_t getLoginTimeout() const { return loginTimeout_; }
  uint32_t getAccessMode() const { return accessMode_; }
  uint32_t getTxnIsolation() const { return txnIsolation_; }
  int32_t getTranslateOption() const { return translateOption_; }
  int hasTranslationDll() const { return translationDll_ != nullptr; }
  const SQLULEN* getStmtDefaults() const { return stmtDefaults_; }
  const BaseInfoTable* getInfoChain() const { return infoChain_; }
  void setInfoChain(const BaseInfoTable* chain) { infoChain_ = chain; }
  // The driver's limits of SQL_QUERY_TIMEOUT, SQL_MAX_ROWS and
  // SQL_MAX_LENGTH (0: no limit); a larger value is lowered to the limit.
  void setLimits(SQLULEN queryTimeout, SQLULEN maxRows, SQLULEN maxLength) {
    queryTimeoutLimit_ = queryTimeout;
    maxRowsLimit_ = maxRows;
    maxLengthLimit_ = maxLength;
  }
  uint16_t getQueuedOptionCount() const { return queuedOptions_.getCount(); }

 protected:
  // Data source lookup: keeps the name, falls back to "Default" when the
  // name is missing or its section has no Driver key.
  KvStatus lookupDataSource(const unsigned char* name, uint32_t length);
  // Reads the attributes every driver shares.
  KvStatus readCommonAttributes(KvValueParser* parser);
  KvStatus queueOption(uint16_t option, SQLULEN value);
  void replayQueuedOptions();
  void clearQueuedOptions();
  void resetOptions();
  void freeTexts();
  // Whether the connection string names a DRIVER (then ODBC.INI is not read).
  int hasDriverAttribute(KvValueParser* parser) const;

  SQLULEN stmtDefaults_[optWordCount];
  uint32_t workArounds_ = 0;
  uint32_t shareCount_ = 0;
  BaseEnv* env_;
  BaseErrorList errorList_;
  std::recursive_mutex callLock_;
  KvList statements_;
  unsigned char* dsn_ = nullptr;
  unsigned char* userId_ = nullptr;
  unsigned char* password_ = nullptr;
  unsigned char* dbmsName_ = nullptr;
  unsigned char* databaseName_ = nullptr;
  const BaseInfoTable* infoChain_ = nullptr;
  uint16_t yieldMode_ = 1;
  uint16_t cancelWord_ = 0;
  int16_t yieldResult_ = 0;
  BaseYieldCallback yieldCallbacks_[4] = {};
  uint32_t autocommit_ = 1;
  uint32_t loginTimeout_ = 15;
  uint32_t accessMode_ = 0;
  uint32_t txnIsolation_ = 0;
  uintptr_t quietWindow_ = 0;
  int32_t translateOption_ = 0;
  void* translationDll_ = nullptr;
  unsigned char* translationPath_ = nullptr;
  BaseTranslateFunction toDriverFunction_ = nullptr;
  BaseTranslateFunction toDataSourceFunction_ = nullptr;
  uint32_t flags_ = flagNoBrowse | flagQuietNoWindow;
  KvParamString* browseText_ = nullptr;
  // Options set before connecting: option number and value, with string
  // values copied (the application's buffer does not outlive the call).
  KvArrayPVoid queuedOptions_;
  SQLULEN queryTimeoutLimit_ = 0;
  SQLULEN maxRowsLimit_ = 0;
  SQLULEN maxLengthLimit_ = 0;
  unsigned char quoteChars_[3] = {'\'', '"', '`'};
  const unsigned char* outerJoinStopWords_ = nullptr;
  const BaseTypeRow* typeTable_ = nullptr;
  uint16_t typeCount_ = 0;
};

// Every connection flag has exactly one owner, and the WorkArounds bits stay
// clear of the share count kept in the same key.
static_assert((BaseConnection::stateFlags & BaseConnection::capabilityFlags) == 0,
              "a connection flag belongs to one owner");
static_assert((BaseConnection::stateFlags | BaseConnection::capabilityFlags) == 0x1FFFDFF,
              "every named connection flag has an owner; 0x200 is free");
static_assert(((BaseConnection::waKeepPrepared | BaseConnection::waHideQualifiers |
                BaseConnection::waShareConnection | BaseConnection::waRowCountOne |
                BaseConnection::waHideIndexQualifier | BaseConnection::waDescribe |
                BaseConnection::waZeroLengthIsNull | BaseConnection::waActiveConnections |
                BaseConnection::waSpecialByFramework | BaseConnection::waNoExtendedFetch |
                BaseConnection::waRenameDb) &
               BaseConnection::waShareCountBits) == 0,
              "WorkArounds bits do not reach into the share count");
