// BaseStatement: the statement handle (HSTMT) that every driver's statement
// class derives from. It sits in its connection's statement list.
//
// The virtual operations keep a fixed order, which every driver keeps too:
// the ODBC functions of a statement in alphabetical order, then the driver's
// own operations.
#pragma once

#include "base/base_connection.h"
#include "base/base_internal_type.h"
#include "util/kv_list.h"

class BaseField;
class BaseBinding;
class BaseParam;
class BaseInString;
class BaseSqlString;

enum : uint16_t { baseMaxArrayEntries = 16384 };

// Arrays that allocArrays grows.
enum : uint16_t { arrayFields = 0x1, arrayBindings = 0x2, arrayParams = 0x4 };

class KV_BASE_API BaseStatement : public KvNode {
 public:
  enum : uint32_t {
    flagRebindAll = 0x20,
    flagReprepare = 0x80,
    flagBusy = 0x200,
    flagAsync = 0x400,
  };

  explicit BaseStatement(BaseConnection* connection);
  ~BaseStatement() override;

  // ---- ODBC operations, in alphabetical order
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
  virtual KvStatus prepareCompile(BaseSqlString* sql) = 0;
  virtual KvStatus executePreparedStmt() = 0;
  virtual KvStatus moreResults(uint16_t* noMore);
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
  virtual KvStatus getTypeInfo(int16_t sqlType);
  virtual KvStatus fetchRow(uint16_t* endOfData) = 0;
  virtual KvStatus fetchRandomRow(uint32_t row, uint16_t* status);
  virtual KvStatus getData(uint16_t column, int16_t cType, BaseOutString* out) = 0;
  virtual KvStatus rowCount(int32_t* count) = 0;
  virtual BaseField* allocFld() = 0;
  virtual KvStatus nonStdColAttributes(uint16_t column, uint16_t attribute, BaseOutString* out, SQLLEN* number);
  virtual KvStatus calcNumResultCols();
  virtual KvStatus bindFld(uint16_t column);
  virtual void unbindFlds();
  virtual KvStatus bindParam(uint16_t parameter, void* value, int32_t length, int mode) = 0;
  virtual void unbindParams();
  virtual BaseParam* allocParam();
  virtual KvStatus setToPreparedState();
  virtual KvStatus setToAllocatedState(uint16_t drop);
  virtual const unsigned char* getDriverCursorName();
  virtual KvStatus cancelAsyncOp();
  virtual KvStatus getStmtOption(uint16_t option, void* value);
  virtual KvStatus setStmtOption(uint16_t option, SQLULEN value);

  // ---- call discipline
  uint16_t threadCheck();
  void threadDone();
  KvStatus standardEntrance(uint16_t function);
  SQLRETURN standardExit(SQLRETURN result);

  // Grows the selected arrays to n entries (never shrinks); more than 16384
  // posts S1002 with 6026, 6057 or 6058.
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
  // Back to the allocated state (kind 0, cursor state 0); drop is passed to
  // the driver's setToAllocatedState.
  KvStatus returnToAllocatedState(uint16_t drop);
  // Closes the cursor of a prepared statement, which stays prepared.
  KvStatus closePreparedStatement();
  // A commit or rollback whose cursor behaviour is SQL_CB_DELETE: back to
  // the allocated state, or, with keepPrepared, a prepared statement stays
  // prepared and is marked to be prepared again before it next runs.
  KvStatus applyCommitDelete(bool keepPrepared);

  BaseConnection* getConnection() const { return connection_; }
  BaseErrorList& getErrorList() { return errorList_; }
  uint32_t getFlags() const { return flags_; }
  void setFlags(uint32_t flags) { flags_ = flags; }
  SQLULEN* getOptions() { return options_; }
  uint16_t getFieldCount() const { return fieldCount_; }
  uint16_t getFieldCapacity() const { return fieldCapacity_; }
  uint16_t getBindingCapacity() const { return bindingCapacity_; }
  uint16_t getParamCapacity() const { return paramCapacity_; }
  BaseField** getFields() const { return fields_; }
  BaseBinding** getBindings() const { return bindings_; }
  BaseParam** getParams() const { return params_; }
  uint32_t getKind() const { return kind_; }
  uint32_t getCursorState() const { return cursorState_; }
  const unsigned char* getCursorName() const { return cursorName_; }

 protected:
  SQLULEN options_[optWordCount];
  BaseConnection* connection_;
  BaseErrorList errorList_;
  unsigned char* cursorName_ = nullptr;
  uint32_t kind_ = 0;
  uint32_t cursorState_ = 0;
  KvString sqlText_;
  BaseSqlString* sqlString_ = nullptr;
  BaseField** fields_ = nullptr;
  uint16_t fieldCount_ = 0;
  uint16_t fieldCapacity_ = 0;
  BaseBinding** bindings_ = nullptr;
  uint16_t bindingCount_ = 0;
  uint16_t bindingCapacity_ = 0;
  BaseParam** params_ = nullptr;
  uint16_t paramCount_ = 0;
  uint16_t paramCapacity_ = 0;
  uint32_t flags_ = 0;
  uint32_t getDataOffset_ = 0;
  // Arguments and locals of an operation that returned SQL_STILL_EXECUTING,
  // in pointer-sized slots.
  KvArrayPVoid resumeStack_;
};
