// Diagnostics: the handles' error lists and the functions that post ODBC
// errors to the calling thread's current list.
//
// An error names its SQLSTATE by an index into the framework's table (see
// base_message_ids.h) or carries its own SQLSTATE text. Its message comes from
// the framework's string table, the driver's (ids 1200-1499 and 3800-4099,
// through the owning connection's getDriverResourceStr), the utility
// library's, or the data source. SQLError hands errors out oldest first
// behind "[KESTRANE][ODBC <driver name> driver]", with "[<DBMS name>]" after
// it for errors that carry a native code.
#pragma once

#include "base/handles/base_messages.h"
#include "base/base_types.h"
#include "util/error_list.h"

class KvValueParser;

class KV_BASE_API BaseErrorList : public KvErrorList {
 public:
  // owner: the connection of a connection's or statement's list, null for
  // an environment's. Always keep-all.
  explicit BaseErrorList(BaseConnection* owner);
  ~BaseErrorList() override;

  BaseConnection* getConnection() const { return static_cast<BaseConnection*>(getOwner()); }
  // The result a call returns on exit: success becomes success-with-info
  // when the list holds warnings and nothing else; any other result stays.
  SQLRETURN exitResult(SQLRETURN result) const {
    return result == SQL_SUCCESS && getCount() != 0 && getErrorsMix() == mixWarnings ? SQLRETURN(SQL_SUCCESS_WITH_INFO)
                                                                                    : result;
  }

  // Hands out the oldest error; any pointer may be null.
  SQLRETURN SQLError(SQLCHAR* szSqlState, SQLINTEGER* pfNativeError, SQLCHAR* szErrorMsg,
                     SQLSMALLINT cbErrorMsgMax, SQLSMALLINT* pcbErrorMsg);
  // Collects every error into one text and shows it (no display: stderr).
  void displayErrorWin(void* parentWindow);
};

KV_BASE_API KvError& addOdbcError(uint16_t stateIndex, uint16_t msgId);
KV_BASE_API KvError& addOdbcError(uint16_t stateIndex);
KV_BASE_API KvError& addOdbcWarning(uint16_t stateIndex, uint16_t msgId);
KV_BASE_API KvError& addOdbcWarning(uint16_t stateIndex);
KV_BASE_API KvError& addNativeError(uint16_t stateIndex, int32_t native, const unsigned char* text);
KV_BASE_API KvError& addNativeWarning(uint16_t stateIndex, int32_t native, const unsigned char* text);
KV_BASE_API KvError& addNativeResourceError(uint16_t stateIndex, uint16_t msgId);
KV_BASE_API KvError& addNativeResourceError(uint16_t msgId);
KV_BASE_API KvError& addNativeResourceWarning(uint16_t stateIndex, uint16_t msgId);
KV_BASE_API KvError& addNativeResourceWarning(uint16_t msgId);
// Writes the SQLSTATE of a table index into the newest error's own text.
KV_BASE_API void resetLastErrorSqlState(uint16_t stateIndex);
// The framework's string id appended to the error at a 0-based position.
KV_BASE_API KvError& appendResourceTextAtPos(uint16_t id, uint32_t pos);
// The framework's string id appended to the newest error.
KV_BASE_API KvError& appendBaseTextToLastError(uint16_t id);
// One 01S00 warning (6015) for every attribute that nothing consumed.
KV_BASE_API void BaseReportUnusedConnectionAttrs(KvValueParser* parser);
