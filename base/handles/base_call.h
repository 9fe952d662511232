// The call discipline that every ODBC operation on a handle runs, written
// once as a scope object:
//   0. threads: a call takes the lock of its environment, or of its
//      connection (a statement's call takes its connection's), and holds it
//      to its end, so that calls of several threads on one connection and
//      its statements run one after another (they share the connection's
//      state: its statement list, flag words and the driver's files), and a
//      call from another thread waits for the handle instead of failing. A
//      statement's call takes the statement before it waits for the lock; a
//      statement that a call of another thread holds (two threads on one
//      statement, an application's mistake) is refused at once with
//      SQL_ERROR and S1010, which SQLError hands to the refused thread alone;
//   1. busy check: a handle already inside a call of the same thread (a
//      re-entry) answers SQL_HANDLE_BUSY (9999) at once, without touching
//      any error list;
//   2. entrance: the handle's error list is emptied (out-of-memory state
//      included) and becomes the calling thread's current list; a failed
//      entrance goes straight to the exit with SQL_ERROR;
//   3. the work, which posts its errors to the current list;
//   4. exit: success becomes success-with-info when the list holds warnings
//      only, the list is given up and the busy bit cleared.
//
// On a statement the call also keeps the asynchronous bookkeeping: while
// an operation that answered SQL_STILL_EXECUTING is pending (flagAsync),
// only the application's next call of that same function (which resumes
// it) and SQLCancel may run; any other answers S1010 and leaves the pending
// operation alone. An exit of the pending function with any other result
// ends it: the framework clears flagAsync, so that a failure never leaves a
// statement that looks busy forever.
//
// An operation makes the call first thing and leaves through exit:
//   BaseCall call(this, SQL_API_SQLTRANSACT, checkConnectionAndStatements);
//   if (!call.isOpen()) return call.getResult();
//   ...
//   return call.exit(SQL_SUCCESS);
// A call left without exit (an exception unwinding through the work) exits
// with SQL_ERROR on its way out, so that no handle stays busy and no list
// stays current; the entry layer's exception firewall then posts the
// exception on the handle as S1001 or S1000.
#pragma once

#include "base/base_types.h"
#include "util/kv_types.h"

#include <mutex>

enum ThreadCheckTypes : int { checkConnection = 0, checkConnectionAndStatements = 1 };

class KV_BASE_API BaseCall {
 public:
  // function is the operation's SQL_API_ number.
  BaseCall(BaseConnection* connection, uint16_t function, ThreadCheckTypes type = checkConnection);
  BaseCall(BaseStatement* statement, uint16_t function);
  // The environment's operations (SQLAllocConnect) run the same steps on
  // the environment's busy bit and list.
  BaseCall(BaseEnv* env, uint16_t function);
  ~BaseCall();

  // Whether the work may run: false when the handle was busy or the
  // entrance failed, and getResult tells what to return.
  bool isOpen() const { return open_; }
  SQLRETURN getResult() const { return result_; }
  // Step 4: returns result as the operation must report it.
  SQLRETURN exit(SQLRETURN result);

  BaseCall(const BaseCall&) = delete;
  BaseCall& operator=(const BaseCall&) = delete;

 private:
  void enter(uint16_t function);

  // The lock held from the constructor to the destructor (null when none).
  std::recursive_mutex* lock_ = nullptr;
  // The statement whose call ran on this thread before this one (nested
  // statement calls), given back at the exit.
  BaseStatement* outerRunning_ = nullptr;
  BaseConnection* connection_ = nullptr;
  BaseStatement* statement_ = nullptr;
  BaseEnv* env_ = nullptr;
  uint16_t function_ = 0;
  // A statement call that may start, resume or end an asynchronous
  // operation (not SQLCancel, not a call refused beside a pending one).
  bool ownsAsync_ = false;
  bool open_ = false;
  SQLRETURN result_ = SQL_HANDLE_BUSY;
};

// The identity of the calling thread among the live threads; never 0.
KV_BASE_API uintptr_t baseThreadId();

// The refusal of a call on a statement that a call of another thread holds:
// the refused thread's next SQLError on that handle hands out S1010 (the
// statement's own list belongs to the running call), and the one after it
// SQL_NO_DATA_FOUND. The calling thread's next call of any other kind
// forgets it. baseHandOutRefusal answers SQLError for handle when the
// refusal is the calling thread's (*handled 1), else leaves *handled 0;
// owner is the statement's connection, whose driver names the message.
KV_BASE_API SQLRETURN baseHandOutRefusal(const void* handle, BaseConnection* owner, SQLCHAR* szSqlState,
                                         SQLINTEGER* pfNativeError, SQLCHAR* szErrorMsg, SQLSMALLINT cbErrorMsgMax,
                                         SQLSMALLINT* pcbErrorMsg, int* handled);

// The abort poll of the engine's long loops (installed with
// bosSetAbortPoll by the entry layer): 1 when a cancel was asked for the
// statement whose call runs on the calling thread.
KV_BASE_API int baseAbortPoll();

// Entrance and exit on a handle's list; each handle's standardEntrance and
// standardExit add its own busy bit to these.
KV_BASE_API KvStatus baseEnterCall(BaseErrorList* list);
KV_BASE_API SQLRETURN baseLeaveCall(BaseErrorList* list, SQLRETURN result);
