// Ziz-task and ziz-thread data.
//
// Ziz-task data is one process-wide block of 13 pointer slots through which
// the deliverables share state without globals of their own. It is counted:
// every SQLAllocEnv counts it up, every SQLFreeEnv down, and the last count
// down clears it. Ziz-thread data is a record of two slots per thread that
// asks for one; slot 0 is the thread's current error list.
//
// A thread's record lives until the thread ends or the last task user
// leaves, whichever is first, so a new thread that the system gives an old
// thread id never inherits another thread's slots.
#pragma once

#include "util/containers/kv_list.h"

enum ZizTaskData : int {
  zizTaskMemory = 0,            // the allocator's first segment
  zizTaskDbLibInit = 1,         // init count of the SQL Server client library
  zizTaskBlockCache = 4,        // block cache state
  zizTaskSharedConnection = 6,  // the entry layer's shared connection
  zizTaskSharedModule = 7,      // module of the driver that registered it
  zizTaskEnvCount = 9,          // live environment objects
  zizTaskSemaphores = 11,       // lock pool
  zizTaskThreads = 12,          // the thread list
  zizTaskSlotCount = 13
};

enum ZizThreadData : int {
  zizThreadErrorList = 0,
  zizThreadSpare = 1,
  zizThreadSlotCount = 2
};

class KV_UTIL_API KvThreadInfo : public KvNode {
 public:
  explicit KvThreadInfo(uint32_t threadId);
  ~KvThreadInfo() override;
  uint32_t getThreadId() const { return threadId_; }
  uint32_t getRefCount() const { return refCount_; }

 private:
  friend struct KvThreadAccess;
  uint32_t threadId_;
  uint32_t refCount_ = 1;
  void* slots_[zizThreadSlotCount] = {nullptr, nullptr};
};

class KV_UTIL_API KvThread : public KvList {
 public:
  KvThread();
  // Deletes every record.
  ~KvThread() override;
};

KV_UTIL_API unsigned short mdsZizTaskInit();
KV_UTIL_API void mdsZizTaskTerm();
KV_UTIL_API unsigned mdsIsTaskInit();
KV_UTIL_API int32_t mdsGetTaskInitCount();
KV_UTIL_API void* mdsGetZizTaskData(ZizTaskData slot);
KV_UTIL_API void mdsSetZizTaskData(ZizTaskData slot, const void* value);
KV_UTIL_API void** mdsGetZizTaskDataAddress(ZizTaskData slot);

KV_UTIL_API unsigned short mdsZizThreadInit();
KV_UTIL_API void mdsZizThreadTerm();
KV_UTIL_API void* mdsGetZizThreadData(ZizThreadData slot);
KV_UTIL_API void** mdsGetZizThreadDataAddress(ZizThreadData slot);
KV_UTIL_API void mdsSetZizThreadData(ZizThreadData slot, const void* value);
KV_UTIL_API unsigned mdsIsThreadInit();
// Number of thread records alive, for tests.
KV_UTIL_API uint32_t mdsGetThreadRecordCount();
