// BaseEnv: the environment handle (HENV) of every driver.
#pragma once

#include "base/handles/base_call.h"
#include "base/handles/base_error_list.h"
#include "util/memory/kv_object.h"

#include <atomic>

class KV_BASE_API BaseEnv : public KvObject {
 public:
  explicit BaseEnv(OdbcDriverNumber driverNumber);
  // Counts the process's live environments down (ziz-task slot 9).
  ~BaseEnv() override;
  // The one operation a driver may override on the environment. Called by
  // SQLAllocEnv right after the entry layer built the environment, before
  // the Driver Manager holds the handle, and inside the exception firewall;
  // no call discipline runs yet and nothing can be posted where the
  // application would read it. Success hands the handle out; on failure the
  // environment is deleted at once (its destructor must cope with a half
  // initialize) and SQLAllocEnv answers SQL_ERROR. Base: success.
  virtual KvStatus initialize();

  // Sets the busy bit; returns its previous value.
  uint16_t threadCheck();
  void threadDone();
  // The lock every call on the environment holds for its whole run, so that
  // a call from another thread waits (base_call.h).
  std::recursive_mutex& getCallLock() { return callLock_; }
  // Entrance and exit of the call discipline (base_call.h) on the
  // environment's own list, for the operations that act on an environment.
  KvStatus standardEntrance(uint16_t function) { return baseEnterCall(&errorList_); }
  SQLRETURN standardExit(SQLRETURN result) {
    result = baseLeaveCall(&errorList_, result);
    threadDone();
    return result;
  }

  BaseErrorList& getErrorList() { return errorList_; }
  OdbcDriverNumber getDriverNumber() const { return driverNumber_; }
  uint32_t getConnectionCount() const { return connectionCount_.load(); }
  void addConnection() { ++connectionCount_; }
  void removeConnection() { --connectionCount_; }

 private:
  BaseErrorList errorList_;
  std::recursive_mutex callLock_;
  std::atomic<uint32_t> connectionCount_{0};
  OdbcDriverNumber driverNumber_;
  std::atomic<uint32_t> busy_{0};
};

// Live environments of the process, all drivers together.
KV_BASE_API uint32_t baseLiveEnvironments();
