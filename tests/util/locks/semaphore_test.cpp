// Locks: kinds chosen by the environment, spinning settings, mutual
// exclusion of both kinds, and locks made on first use.
#include "util/locks/semaphore.h"

#include "util/os/zizdata.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

// Tears the task's data down so that the next lock made reads the
// environment afresh into a new pool.
void freshPool(const char* semControl, const char* spinCount = nullptr) {
  mdsZizTaskInit();
  mdsZizTaskTerm();
  if (semControl) setenv("KV_SEMCONTROL", semControl, 1);
  else unsetenv("KV_SEMCONTROL");
  if (spinCount) setenv("KV_SPIN_COUNT", spinCount, 1);
  else unsetenv("KV_SPIN_COUNT");
  unsetenv("KV_SPIN_SLEEP");
}

TEST(Semaphore, DefaultsGiveSystemSemaphores) {
  freshPool(nullptr);
  KvSemaphore* holder = nullptr;
  auto* lock = new KvSemaphore(&holder);
  ASSERT_NE(lock, nullptr);
  EXPECT_EQ(lock->getKind(), KvSemaphore::kindOsSemaphore);
  KvSemaphoreInfo* pool = kvGetSemaphorePool();
  ASSERT_NE(pool, nullptr);
  EXPECT_EQ(pool->getSpinCount(), 25u);
  EXPECT_EQ(pool->getSpinSleep(), 0u);
  EXPECT_EQ(pool->getControl(), 0u);
  delete lock;
}

TEST(Semaphore, LimitOfTwoSystemSemaphores) {
  freshPool("2");
  // Allocating the first lock makes the allocator's lock first: it takes one
  // of the two system semaphores.
  KvSemaphore* h[4] = {};
  KvSemaphore* first = new KvSemaphore(&h[0]);
  KvSemaphore* second = new KvSemaphore(&h[1]);
  KvSemaphore* third = new KvSemaphore(&h[2]);
  ASSERT_NE(*kvRamLockHolder(), nullptr);
  EXPECT_EQ((*kvRamLockHolder())->getKind(), KvSemaphore::kindOsSemaphore);
  EXPECT_EQ(first->getKind(), KvSemaphore::kindOsSemaphore);
  EXPECT_EQ(second->getKind(), KvSemaphore::kindSpinLock);
  EXPECT_EQ(third->getKind(), KvSemaphore::kindSpinLock);
  delete first;  // gives its system semaphore back
  KvSemaphore* fourth = new KvSemaphore(&h[3]);
  EXPECT_EQ(fourth->getKind(), KvSemaphore::kindOsSemaphore);
  delete second;
  delete third;
  delete fourth;
}

TEST(Semaphore, Bit19MakesEverySpinLock) {
  freshPool("524288");
  KvSemaphore* holder = nullptr;
  KvSemaphore* lock = new KvSemaphore(&holder);
  EXPECT_EQ(lock->getKind(), KvSemaphore::kindSpinLock);
  EXPECT_EQ((*kvRamLockHolder())->getKind(), KvSemaphore::kindSpinLock);
  delete lock;
}

TEST(Semaphore, SpinSleepIsRead) {
  freshPool(nullptr, "7");
  setenv("KV_SPIN_SLEEP", "3", 1);
  KvSemaphore* holder = nullptr;
  KvSemaphore* lock = new KvSemaphore(&holder);
  EXPECT_EQ(kvGetSemaphorePool()->getSpinSleep(), 3u);
  EXPECT_EQ(kvGetSemaphorePool()->getSpinCount(), 7u);
  delete lock;
  unsetenv("KV_SPIN_SLEEP");
}

TEST(Semaphore, Bit16ShowsTheDiagnosticBoxes) {
  freshPool("65536");
  ::testing::internal::CaptureStderr();
  KvSemaphore* holder = nullptr;
  KvSemaphore* lock = new KvSemaphore(&holder);
  delete lock;
  std::string shown = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(shown.find("Semaphore Pool Allocation Information"), std::string::npos) << shown;
  EXPECT_NE(shown.find("Ziz Semaphore Allocation Information: Semaphore Allocated Type: Real System Semaphore"),
            std::string::npos)
      << shown;
  EXPECT_NE(shown.find("Ziz Semaphore Deallocation Information"), std::string::npos) << shown;
}

TEST(Semaphore, SpinCountZeroSpinsOncePerRound) {
  freshPool(nullptr, "0");
  KvSemaphore* holder = nullptr;
  KvSemaphore* lock = new KvSemaphore(&holder);
  EXPECT_EQ(kvGetSemaphorePool()->getSpinCount(), 1u);
  delete lock;
}

TEST(Semaphore, DestroyingClearsTheHolderWord) {
  freshPool(nullptr);
  KvSemaphore* holder = nullptr;
  ASSERT_NE(kvLazyLock(&holder), 0);
  ASSERT_NE(holder, nullptr);
  kvLazyUnlock(&holder, 1);
  delete holder;
  EXPECT_EQ(holder, nullptr);
}

// Two threads increment a plain counter under the lock; no update is lost.
void hammer(const char* semControl) {
  freshPool(semControl);
  KvSemaphore* holder = nullptr;
  KvSemaphore* lock = new KvSemaphore(&holder);
  long counter = 0;
  auto work = [&] {
    for (int i = 0; i < 200000; ++i) {
      lock->acquire();
      ++counter;
      lock->release();
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(counter, 400000);
  EXPECT_EQ(lock->getOwner(), 0u);
  delete lock;
}

TEST(Semaphore, SystemSemaphoreLosesNoUpdate) { hammer(nullptr); }
TEST(Semaphore, SpinLockLosesNoUpdate) { hammer("524288"); }

TEST(Semaphore, LockMadeOnFirstUseIsMadeOnce) {
  freshPool(nullptr);
  KvSemaphore* holder = nullptr;
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        int locked = kvLazyLock(&holder);
        EXPECT_NE(locked, 0);  // nobody but the maker passes unlocked
        ++counter;
        kvLazyUnlock(&holder, locked);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 8 * 20000);
  uint16_t locks = kvGetSemaphorePool()->getLockCount();
  delete holder;
  EXPECT_EQ(kvGetSemaphorePool()->getLockCount(), locks - 1);
}

// The pool asked for before any lock exists is made by making the
// allocator's lock first, as a first allocation would: that lock follows the
// pool's settings, is counted in it, and goes with the task's data like any
// other lock.
TEST(Semaphore, PoolMadeBeforeTheAllocatorsLock) {
  struct Case {
    const char* semControl;
    KvSemaphore::Kind kind;
    uint32_t osLeft;
  } cases[] = {
      {nullptr, KvSemaphore::kindOsSemaphore, 0},
      {"524288", KvSemaphore::kindSpinLock, 0},   // bit 19: spin locks only
      {"1", KvSemaphore::kindOsSemaphore, 0},     // takes the one OS semaphore
      {"524289", KvSemaphore::kindSpinLock, 1},   // bit 19 wins over the limit
  };
  for (const Case& c : cases) {
    const char* what = c.semControl ? c.semControl : "unset";
    freshPool(c.semControl);
    ASSERT_EQ(*kvRamLockHolder(), nullptr) << what;
    KvSemaphoreInfo* pool = kvGetSemaphorePool();
    ASSERT_NE(pool, nullptr) << what;
    KvSemaphore* lock = *kvRamLockHolder();
    ASSERT_NE(lock, nullptr) << what;
    EXPECT_EQ(lock->getKind(), c.kind) << what;
    EXPECT_EQ(pool->getOsLeft(), c.osLeft) << what;
    EXPECT_EQ(pool->getLockCount(), 1u) << what;
    void* p = ramAlloc(10);
    ramFree(p);
    mdsZizTaskInit();
    mdsZizTaskTerm();
    EXPECT_EQ(*kvRamLockHolder(), nullptr) << what;
    EXPECT_EQ(mdsGetZizTaskData(zizTaskSemaphores), nullptr) << what;
  }
  unsetenv("KV_SEMCONTROL");
}

// Threads that ask for the first pool at once all get the one pool, and
// the allocator's lock, made on the way, is its only lock.
TEST(Semaphore, ThreadsAskingForTheFirstPoolAtOnceShareOne) {
  freshPool(nullptr);
  std::vector<KvSemaphoreInfo*> seen(8, nullptr);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < seen.size(); ++t) {
    threads.emplace_back([&seen, t] {
      seen[t] = kvGetSemaphorePool();
      ramFree(ramAlloc(16));
    });
  }
  for (auto& t : threads) t.join();
  ASSERT_NE(seen[0], nullptr);
  for (KvSemaphoreInfo* pool : seen) EXPECT_EQ(pool, seen[0]);
  EXPECT_EQ(seen[0]->getLockCount(), 1u);
  ASSERT_NE(*kvRamLockHolder(), nullptr);
}

TEST(Semaphore, TaskTeardownDestroysEveryLockAndStartsClean) {
  freshPool(nullptr);
  KvSemaphore* holder = nullptr;
  mdsZizTaskInit();
  ASSERT_NE(kvLazyLock(&holder), 0);
  kvLazyUnlock(&holder, 1);
  mdsZizTaskTerm();
  EXPECT_EQ(holder, nullptr);
  EXPECT_EQ(*kvRamLockHolder(), nullptr);
  EXPECT_EQ(mdsGetZizTaskData(zizTaskSemaphores), nullptr);
  void* p = ramAlloc(10);  // makes a new allocator lock
  EXPECT_NE(p, nullptr);
  EXPECT_NE(*kvRamLockHolder(), nullptr);
  ramFree(p);
}

}  // namespace
