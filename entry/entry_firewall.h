// The exception firewall of the exported ODBC functions: no C++ exception
// ever crosses into the Driver Manager. Each exported function runs its
// body through entryFirewall. An exception that comes out (std::bad_alloc
// from a standard container, say) is posted on the handle the call was
// made on, as S1001 for std::bad_alloc and S1000 for anything else, and
// the call returns SQL_ERROR.
//
// By then the call discipline (base/handles/base_call.h) has already been left:
// a BaseCall exits on its way out of an unwinding operation, so the handle
// is not busy. Error lists that the unwound code made current and never
// gave up are given up here, so that the thread's next call starts clean.
// Destructors never throw, so the freeing functions need no firewall.
#pragma once

#include "base/handles/base_error_list.h"

#include <new>

// Gives up the lists made current since before, and posts stateIndex on
// list (when there is a handle). Returns SQL_ERROR.
inline SQLRETURN entryCaught(BaseErrorList* list, KvErrorList* before, uint16_t stateIndex) noexcept {
  while (KvErrorKeeper::getErrorList() && KvErrorKeeper::getErrorList() != before) KvErrorKeeper::giveUpErrorList();
  if (list) {
    KvErrorKeeper::setErrorList(list);
    addOdbcError(stateIndex);
    KvErrorKeeper::giveUpErrorList();
  }
  return SQL_ERROR;
}

// Runs body (a callable returning SQLRETURN) for a call on handle (an
// environment, connection or statement, or null before one exists).
template <class Handle, class Body>
SQLRETURN entryFirewall(Handle* handle, Body&& body) noexcept {
  KvErrorList* before = KvErrorKeeper::getErrorList();
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return entryCaught(handle ? &handle->getErrorList() : nullptr, before, stateMemory);
  } catch (...) {
    return entryCaught(handle ? &handle->getErrorList() : nullptr, before, stateGeneral);
  }
}
