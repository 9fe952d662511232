// Ziz-task and ziz-thread data; see zizdata.h.
//
// The task block is counted by mdsZizTaskInit/mdsZizTaskTerm under a mutex
// of its own, so that concurrent SQLAllocEnv/SQLFreeEnv calls of several
// drivers never lose a count. The thread list (slot 12) is guarded by the
// mds lock. A thread caches its own record; the cache is checked against a
// generation number that every destruction of the list moves on, and a
// thread's record is destroyed when the thread ends.
#include "util/os/zizdata.h"

#include "util/locks/semaphore.h"

#include <atomic>
#include <mutex>

namespace {

struct KvTaskInfo {
  int32_t initCount;
  void* slots[zizTaskSlotCount];
};

KvTaskInfo taskInfo = {0, {}};
std::mutex taskCountMutex;
std::atomic<uint32_t> listGeneration{1};

struct ThreadCache {
  KvThreadInfo* record = nullptr;
  uint32_t generation = 0;
  ~ThreadCache();
};
thread_local ThreadCache threadCache;

KvThread* threadList() { return static_cast<KvThread*>(mdsGetZizTaskData(zizTaskThreads)); }

KvThreadInfo* cachedRecord() {
  if (threadCache.record && threadCache.generation == listGeneration.load(std::memory_order_acquire))
    return threadCache.record;
  return nullptr;
}

}  // namespace

struct KvThreadAccess {
  static void** slots(KvThreadInfo* info) { return info->slots_; }
  static void countUp(KvThreadInfo* info) { ++info->refCount_; }
};

namespace {

// The thread ends: its record goes, so that a later thread given the same
// id by the system starts clean.
ThreadCache::~ThreadCache() {
  KvThreadInfo* mine = cachedRecord();
  if (!mine) return;
  KvLazyLockGuard guard(&mdsSemaphore);
  if (generation == listGeneration.load(std::memory_order_acquire)) {
    if (KvThread* list = threadList()) list->unlink(mine);
    delete mine;
  }
  record = nullptr;
}

}  // namespace

KvThreadInfo::KvThreadInfo(uint32_t threadId) : threadId_(threadId) {}
KvThreadInfo::~KvThreadInfo() = default;

KvThread::KvThread() = default;
KvThread::~KvThread() { deleteNodes(); }

unsigned short mdsZizTaskInit() {
  std::lock_guard<std::mutex> lock(taskCountMutex);
  ++taskInfo.initCount;
  return 1;
}

void mdsZizTaskTerm() {
  std::lock_guard<std::mutex> lock(taskCountMutex);
  if (taskInfo.initCount <= 0) return;  // no matching init
  if (taskInfo.initCount > 1) {
    --taskInfo.initCount;
    return;
  }
  mdsZizThreadTerm();
  kvDeleteSemaphorePool();
  kvResetRetiredLock(&ramSemaphore);
  // Slot 0 stays: it is the allocator's list of segments that still hold
  // live blocks, which are freed later and must be found then.
  for (int slot = 1; slot < zizTaskSlotCount; ++slot) taskInfo.slots[slot] = nullptr;
  taskInfo.initCount = 0;
}

unsigned mdsIsTaskInit() {
  std::lock_guard<std::mutex> lock(taskCountMutex);
  return taskInfo.initCount >= 1 ? 1 : 0;
}

int32_t mdsGetTaskInitCount() {
  std::lock_guard<std::mutex> lock(taskCountMutex);
  return taskInfo.initCount;
}

void* mdsGetZizTaskData(ZizTaskData slot) { return taskInfo.slots[slot]; }

void mdsSetZizTaskData(ZizTaskData slot, const void* value) {
  taskInfo.slots[slot] = const_cast<void*>(value);
}

void** mdsGetZizTaskDataAddress(ZizTaskData slot) { return &taskInfo.slots[slot]; }

unsigned short mdsZizThreadInit() {
  if (KvThreadInfo* mine = cachedRecord()) {
    KvThreadAccess::countUp(mine);
    return 1;
  }
  KvLazyLockGuard guard(&mdsSemaphore);
  KvThread* list = threadList();
  if (!list) {
    list = new KvThread();
    if (!list) return 0;
    mdsSetZizTaskData(zizTaskThreads, list);
  }
  auto* mine = new KvThreadInfo(kvCurrentThreadId());
  if (!mine) return 0;
  list->append(mine);
  threadCache.record = mine;
  threadCache.generation = listGeneration.load(std::memory_order_acquire);
  return 1;
}

void mdsZizThreadTerm() {
  KvThread* list;
  {
    KvLazyLockGuard guard(&mdsSemaphore);
    list = threadList();
    mdsSetZizTaskData(zizTaskThreads, nullptr);
    listGeneration.fetch_add(1, std::memory_order_acq_rel);
  }
  delete list;
}

void* mdsGetZizThreadData(ZizThreadData slot) {
  KvThreadInfo* mine = cachedRecord();
  return mine ? KvThreadAccess::slots(mine)[slot] : nullptr;
}

void** mdsGetZizThreadDataAddress(ZizThreadData slot) {
  KvThreadInfo* mine = cachedRecord();
  return mine ? &KvThreadAccess::slots(mine)[slot] : nullptr;
}

void mdsSetZizThreadData(ZizThreadData slot, const void* value) {
  KvThreadInfo* mine = cachedRecord();
  if (!mine) {
    if (!mdsZizThreadInit()) return;
    mine = cachedRecord();
    if (!mine) return;
  }
  KvThreadAccess::slots(mine)[slot] = const_cast<void*>(value);
}

unsigned mdsIsThreadInit() { return cachedRecord() ? 1 : 0; }

uint32_t mdsGetThreadRecordCount() {
  KvLazyLockGuard guard(&mdsSemaphore);
  KvThread* list = threadList();
  return list ? list->getCount() : 0;
}
