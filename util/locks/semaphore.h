// KvSemaphore: the library's mutual-exclusion lock.
//
// A lock is either an operating-system semaphore (a POSIX semaphore) or a
// spin lock on a memory word; which kind a new lock gets is decided by the
// pool settings, read once from the environment:
//   KV_SPIN_COUNT  attempts per spinning round (default 25; 0 counts as 1)
//   KV_SPIN_SLEEP  milliseconds slept between rounds (default 0)
//   KV_SEMCONTROL  bits 0-7 limit on OS semaphores (0 = no limit); bit 16
//                  shows diagnostic message boxes; bit 19 makes every lock a
//                  spin lock
// Locks are not recursive and have no time-out.
//
// Locks that guard the library's own process-wide structures are made on
// first use through a holder word: 0 (no lock yet), 1 (being made, or the
// allocator's lock after it was destroyed) or the lock's address. The word
// changes by compare-and-swap; while it reads 1 only the thread that made it
// so passes without locking (making a lock allocates memory), every other
// thread waits for the lock.
#pragma once

#include "util/containers/kv_array.h"

#include <atomic>

class KvSemaphoreInfo;

class KV_UTIL_API KvSemaphore : public KvObject {
 public:
  enum Kind : uint32_t { kindSpinLock = 0, kindOsSemaphore = 1 };

  explicit KvSemaphore(KvSemaphore** holder);
  ~KvSemaphore() override;

  void acquire();
  void release();
  void bosSpinLock();

  uint32_t getOwner() const { return owner_.load(std::memory_order_relaxed); }
  Kind getKind() const { return static_cast<Kind>(kind_); }
  KvSemaphore** getHolder() const { return holder_; }

 private:
  KV_LOCAL void bosSemaphoreAlloc();
  KV_LOCAL void bosSemaphoreFree();

  std::atomic<uint32_t> owner_{0};
  uint32_t kind_ = kindSpinLock;
  void* handle_ = nullptr;  // the OS semaphore, null for a spin lock
  std::atomic<uint32_t> lockWord_{0};
  KvSemaphore** holder_ = nullptr;
  KvSemaphoreInfo* pool_ = nullptr;
};

// The task's lock settings and its live locks (ziz-task slot 11).
class KV_UTIL_API KvSemaphoreInfo : public KvObject {
 public:
  enum : uint32_t {
    controlLimitMask = 0xFF,
    controlShowBoxes = 0x10000,
    controlAllSpin = 0x80000,
  };
  KvSemaphoreInfo();
  // Destroys every lock still in the pool, from the last to the first.
  ~KvSemaphoreInfo() override;

  uint32_t getSpinSleep() const { return spinSleep_; }
  uint32_t getSpinCount() const { return spinCount_ ? spinCount_ : 1; }
  uint32_t getOsLeft() const { return osLeft_; }
  uint32_t getControl() const { return control_; }
  uint16_t getLockCount() const { return semaphores_.getCount(); }
  // Reads the settings from the environment (once, when the pool is made).
  void readSettings();

 private:
  friend class KvSemaphore;

  uint32_t spinSleep_ = 0;
  uint32_t spinCount_ = 25;
  uint32_t osLeft_ = 0;
  uint32_t control_ = 0;
  uint32_t initialised_ = 0;
  KvArray semaphores_;  // not owning
};

// The task's pool, made on demand; null when it cannot be allocated. The
// allocator's lock is made first when it does not exist yet (making it makes
// the pool), so that it too follows the pool's settings and is destroyed
// with the pool.
KV_UTIL_API KvSemaphoreInfo* kvGetSemaphorePool();
// Destroys the pool and every lock in it (the last task user left).
KV_UTIL_API void kvDeleteSemaphorePool();

// Holder words of the library's process-wide locks. The words themselves
// stay inside the library (an exported variable would be copied into the
// program that reads it); other deliverables reach them through the
// functions below.
extern KvSemaphore* ramSemaphore;  // memory sub-allocator
extern KvSemaphore* mdsSemaphore;  // ziz-task data
extern KvSemaphore* bvmSemaphore;  // block cache
KV_UTIL_API KvSemaphore** kvRamLockHolder();
KV_UTIL_API KvSemaphore** kvTaskLockHolder();
KV_UTIL_API KvSemaphore** kvCacheLockHolder();

// Acquires a lock made on first use through its holder word. Returns nonzero
// when the lock is held; 0 when the caller runs unlocked (it is making the
// lock itself, or making it failed for want of memory).
KV_UTIL_API int kvLazyLock(KvSemaphore** holder);
// Releases what kvLazyLock returned nonzero for.
KV_UTIL_API void kvLazyUnlock(KvSemaphore** holder, int locked);
// After the allocator's lock was destroyed its word reads 1; this puts it
// back to 0 so the next use makes a new lock.
KV_UTIL_API void kvResetRetiredLock(KvSemaphore** holder);

class KvLazyLockGuard {
 public:
  explicit KvLazyLockGuard(KvSemaphore** holder) : holder_(holder), locked_(kvLazyLock(holder)) {}
  ~KvLazyLockGuard() { kvLazyUnlock(holder_, locked_); }
  KvLazyLockGuard(const KvLazyLockGuard&) = delete;
  KvLazyLockGuard& operator=(const KvLazyLockGuard&) = delete;

 private:
  KvSemaphore** holder_;
  int locked_;
};

// The calling thread's id as the system reports it (gettid).
KV_UTIL_API uint32_t kvCurrentThreadId();
