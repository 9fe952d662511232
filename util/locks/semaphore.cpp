// Locks: OS semaphores or spin locks, the task's lock pool, and the locks
// made on first use through holder words. See semaphore.h.
#include "util/locks/semaphore.h"

#include "util/os/message_box.h"
#include "util/resource.h"
#include "util/util_message_ids.h"
#include "util/os/zizdata.h"

#include <semaphore.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>

KvSemaphore* ramSemaphore = nullptr;
KvSemaphore* mdsSemaphore = nullptr;
KvSemaphore* bvmSemaphore = nullptr;

KvSemaphore** kvRamLockHolder() { return &ramSemaphore; }
KvSemaphore** kvTaskLockHolder() { return &mdsSemaphore; }
KvSemaphore** kvCacheLockHolder() { return &bvmSemaphore; }

namespace {

KvSemaphore* const beingMade = reinterpret_cast<KvSemaphore*>(uintptr_t(1));

// Holder words this thread has set to "being made" (or, for the allocator's
// word, retired); only this thread passes them unlocked. Making one lock
// can make another (the allocator's), so a short stack is kept.
constexpr int maxMaking = 8;
thread_local KvSemaphore** makingHere[maxMaking];
thread_local int makingCount = 0;

void pushMaking(KvSemaphore** holder) {
  if (makingCount < maxMaking) makingHere[makingCount++] = holder;
}

void popMaking(KvSemaphore** holder) {
  for (int i = makingCount - 1; i >= 0; --i) {
    if (makingHere[i] == holder) {
      makingHere[i] = makingHere[--makingCount];
      return;
    }
  }
}

bool isMakingHere(KvSemaphore** holder) {
  for (int i = 0; i < makingCount; ++i)
    if (makingHere[i] == holder) return true;
  return false;
}

// Guards the pool's bookkeeping (its array and the count of OS semaphores
// left) against locks made or destroyed on several threads at once. Never
// held while memory is taken from a lock that could be being made elsewhere.
std::atomic_flag poolGuard = ATOMIC_FLAG_INIT;

struct PoolGuard {
  PoolGuard() {
    while (poolGuard.test_and_set(std::memory_order_acquire)) sched_yield();
  }
  ~PoolGuard() { poolGuard.clear(std::memory_order_release); }
};

uint32_t readNumber(const char* name, uint32_t absent) {
  const char* value = std::getenv(name);  // runs before any memory exists
  if (!value || !*value) return absent;
  return uint32_t(std::strtoul(value, nullptr, 10));
}

void sleepMilliseconds(uint32_t ms) {
  if (ms == 0) {
    sched_yield();
    return;
  }
  struct timespec pause = {time_t(ms / 1000), long(ms % 1000) * 1000000L};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

void showBox(unsigned short titleId, const char* body) {
  unsigned char title[256];
  loadResourceString(title, titleId, sizeof(title));
  kvMessageBox(nullptr, reinterpret_cast<const unsigned char*>(body), title, kvMbOk | kvMbIconExclamation);
}

const char* resourceText(unsigned short id, unsigned char* buffer, uint32_t size) {
  loadResourceString(buffer, id, size);
  return reinterpret_cast<const char*>(buffer);
}

}  // namespace

uint32_t kvCurrentThreadId() {
  static thread_local uint32_t id = uint32_t(syscall(SYS_gettid));
  return id;
}

// ---------------------------------------------------------------- pool

KvSemaphoreInfo::KvSemaphoreInfo() = default;

KvSemaphoreInfo::~KvSemaphoreInfo() {
  // Each lock removes itself from the array as it is destroyed.
  for (;;) {
    KvSemaphore* last;
    {
      PoolGuard guard;
      uint16_t count = semaphores_.getCount();
      if (count == 0) break;
      last = static_cast<KvSemaphore*>(semaphores_.getAt(count - 1));
    }
    delete last;
  }
}

void KvSemaphoreInfo::readSettings() {
  spinCount_ = readNumber("KV_SPIN_COUNT", 25);
  spinSleep_ = readNumber("KV_SPIN_SLEEP", 0);
  control_ = readNumber("KV_SEMCONTROL", 0);
  osLeft_ = control_ & controlLimitMask;
  initialised_ = 1;
  if (control_ & controlShowBoxes) {
    unsigned char a[256], b[256], c[256], d[256], e[256];
    char body[1400];
    std::snprintf(body, sizeof(body), "%s: %s\r\n%s: %d\r\n%s: %d\r\n%s: %d\r\n",
                  resourceText(kvStrSemaphoreRequestType, a, sizeof(a)),
                  resourceText((control_ & controlAllSpin) ? kvStrRealSemaphore : kvStrSpinLockSemaphore, b,
                               sizeof(b)),
                  resourceText(kvStrSemaphoreOsLimit, c, sizeof(c)), int(control_ & controlLimitMask),
                  resourceText(kvStrSemaphoreSpinCount, d, sizeof(d)), int(spinCount_),
                  resourceText(kvStrSemaphoreYieldTime, e, sizeof(e)), int(spinSleep_));
    showBox(kvStrSemaphorePoolInfo, body);
  }
}

// Set while this thread makes the pool. A lock made meanwhile on this
// thread (none is, once the allocator's lock exists) works without a pool
// rather than wait for itself.
thread_local bool makingPool = false;

KvSemaphoreInfo* kvGetSemaphorePool() {
  void** slot = mdsGetZizTaskDataAddress(zizTaskSemaphores);
  // The allocator's lock is the task's first lock and makes the pool: the
  // pool takes memory, and an allocator's lock made while the pool is half
  // made could not join it, so it would ignore the settings and outlive the
  // task's data. A pool asked for before that lock exists is therefore made
  // by making (or waiting for) the allocator's lock, unless this thread is
  // making that lock now and asks on its behalf.
  KvSemaphore* ramWord = __atomic_load_n(&ramSemaphore, __ATOMIC_ACQUIRE);
  if (!__atomic_load_n(slot, __ATOMIC_ACQUIRE) &&
      (ramWord == nullptr || (ramWord == beingMade && !isMakingHere(&ramSemaphore))))
    kvLazyUnlock(&ramSemaphore, kvLazyLock(&ramSemaphore));
  for (;;) {
    void* pool = __atomic_load_n(slot, __ATOMIC_ACQUIRE);
    if (pool && pool != beingMade) return static_cast<KvSemaphoreInfo*>(pool);
    if (pool == beingMade) {
      if (makingPool) return nullptr;  // that lock works without a pool
      sched_yield();
      continue;
    }
    void* expected = nullptr;
    if (!__atomic_compare_exchange_n(slot, &expected, static_cast<void*>(beingMade), false,
                                     __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE))
      continue;
    makingPool = true;
    KvSemaphoreInfo* made = new KvSemaphoreInfo();
    makingPool = false;
    if (made) made->readSettings();
    __atomic_store_n(slot, static_cast<void*>(made), __ATOMIC_RELEASE);
    return made;
  }
}

void kvDeleteSemaphorePool() {
  void** slot = mdsGetZizTaskDataAddress(zizTaskSemaphores);
  void* pool = __atomic_load_n(slot, __ATOMIC_ACQUIRE);
  if (!pool || pool == beingMade) return;
  delete static_cast<KvSemaphoreInfo*>(pool);
  __atomic_store_n(slot, static_cast<void*>(nullptr), __ATOMIC_RELEASE);
}

// ---------------------------------------------------------------- locks

KvSemaphore::KvSemaphore(KvSemaphore** holder) : holder_(holder) { bosSemaphoreAlloc(); }

KvSemaphore::~KvSemaphore() {
  bosSemaphoreFree();
  if (holder_) {
    if (holder_ == &ramSemaphore) {
      // The allocator runs without locking from now on (this lock's own
      // memory goes back through it); only this thread may pass until the
      // word is reset.
      kind_ = kindSpinLock;
      lockWord_.store(0);
      pushMaking(holder_);
      __atomic_store_n(holder_, beingMade, __ATOMIC_RELEASE);
    } else {
      __atomic_store_n(holder_, static_cast<KvSemaphore*>(nullptr), __ATOMIC_RELEASE);
    }
  }
}

void KvSemaphore::bosSemaphoreAlloc() {
  pool_ = kvGetSemaphorePool();
  uint32_t control = 0;
  bool wantOs = true;
  if (pool_) {
    PoolGuard guard;
    control = pool_->control_;
    if (control & KvSemaphoreInfo::controlAllSpin) {
      wantOs = false;
    } else if (control & KvSemaphoreInfo::controlLimitMask) {
      if (pool_->osLeft_ > 0) --pool_->osLeft_;
      else wantOs = false;
    }
  }
  if (wantOs) {
    sem_t* sem = static_cast<sem_t*>(std::malloc(sizeof(sem_t)));
    if (sem && sem_init(sem, 0, 1) == 0) {
      handle_ = sem;
    } else {
      std::free(sem);
      if (pool_ && (control & KvSemaphoreInfo::controlLimitMask)) {
        PoolGuard guard;
        ++pool_->osLeft_;  // the slot was not used after all
      }
    }
  }
  kind_ = handle_ ? kindOsSemaphore : kindSpinLock;
  lockWord_.store(0);
  if (control & KvSemaphoreInfo::controlShowBoxes) {
    unsigned char a[256], b[256];
    char body[600];
    std::snprintf(body, sizeof(body), "%s: %s\r\n", resourceText(kvStrSemaphoreAllocatedType, a, sizeof(a)),
                  resourceText(handle_ ? kvStrRealSemaphore : kvStrSpinLockSemaphore, b, sizeof(b)));
    showBox(kvStrSemaphoreInfo, body);
  }
  if (pool_) {
    PoolGuard guard;
    if (pool_->semaphores_.add(this) != kvSuccess) pool_ = nullptr;  // untracked, still usable
  }
}

void KvSemaphore::bosSemaphoreFree() {
  if (pool_ && (pool_->control_ & KvSemaphoreInfo::controlShowBoxes)) {
    unsigned char a[256], b[256];
    char body[600];
    const char* kindText = resourceText(handle_ ? kvStrRealSemaphore : kvStrSpinLockSemaphore, b, sizeof(b));
    int used = std::snprintf(body, sizeof(body), "%s:\n", kindText);
    std::snprintf(body + used, sizeof(body) - used, "%s: %s\n",
                  resourceText(kvStrSemaphoreAllocatedType, a, sizeof(a)), kindText);
    showBox(kvStrSemaphoreFreeInfo, body);
  }
  if (handle_) {
    sem_destroy(static_cast<sem_t*>(handle_));
    std::free(handle_);
    handle_ = nullptr;
    if (pool_ && (pool_->control_ & KvSemaphoreInfo::controlLimitMask)) {
      PoolGuard guard;
      ++pool_->osLeft_;
    }
  }
  if (pool_) {
    PoolGuard guard;
    KvArray& all = pool_->semaphores_;
    for (uint16_t i = 0; i < all.getCount(); ++i) {
      if (all.getAt(i) == this) {
        all.removeAtIndex(i);
        break;
      }
    }
    pool_ = nullptr;
  }
}

void KvSemaphore::acquire() {
  if (handle_) {
    while (sem_wait(static_cast<sem_t*>(handle_)) != 0 && errno == EINTR) {
    }
  } else {
    bosSpinLock();
  }
  owner_.store(kvCurrentThreadId(), std::memory_order_relaxed);
}

void KvSemaphore::release() {
  owner_.store(0, std::memory_order_relaxed);
  if (handle_) sem_post(static_cast<sem_t*>(handle_));
  else lockWord_.store(0, std::memory_order_release);
}

void KvSemaphore::bosSpinLock() {
  uint32_t spinCount = pool_ ? pool_->getSpinCount() : 25;
  uint32_t spinSleep = pool_ ? pool_->getSpinSleep() : 0;
  for (;;) {
    for (uint32_t i = 0; i < spinCount; ++i) {
      if (lockWord_.exchange(1, std::memory_order_acquire) == 0) {
        owner_.store(kvCurrentThreadId(), std::memory_order_relaxed);
        return;
      }
    }
    sleepMilliseconds(spinSleep);
  }
}

// ---------------------------------------------------------------- lazy locks

int kvLazyLock(KvSemaphore** holder) {
  for (;;) {
    KvSemaphore* word = __atomic_load_n(holder, __ATOMIC_ACQUIRE);
    if (word == nullptr) {
      KvSemaphore* expected = nullptr;
      if (!__atomic_compare_exchange_n(holder, &expected, beingMade, false, __ATOMIC_ACQ_REL,
                                       __ATOMIC_ACQUIRE))
        continue;
      pushMaking(holder);
      KvSemaphore* made = new KvSemaphore(holder);
      popMaking(holder);
      __atomic_store_n(holder, made, __ATOMIC_RELEASE);
      if (!made) return 0;  // out of memory: this call runs unlocked, the next tries again
      continue;
    }
    if (word == beingMade) {
      if (isMakingHere(holder)) return 0;
      sched_yield();
      continue;
    }
    word->acquire();
    return 1;
  }
}

void kvLazyUnlock(KvSemaphore** holder, int locked) {
  if (!locked) return;
  KvSemaphore* word = __atomic_load_n(holder, __ATOMIC_ACQUIRE);
  if (word && word != beingMade) word->release();
}

void kvResetRetiredLock(KvSemaphore** holder) {
  KvSemaphore* expected = beingMade;
  if (isMakingHere(holder) &&
      __atomic_compare_exchange_n(holder, &expected, static_cast<KvSemaphore*>(nullptr), false,
                                  __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE))
    popMaking(holder);
}
