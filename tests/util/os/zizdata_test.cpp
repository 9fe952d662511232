// Ziz-task counting and slots; ziz-thread records per thread.
#include "util/os/zizdata.h"

#include "util/locks/semaphore.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

int marker1, marker2;

TEST(ZizTask, InitAndTermCount) {
  EXPECT_EQ(mdsIsTaskInit(), 0u);
  mdsZizTaskInit();
  mdsZizTaskInit();
  mdsSetZizTaskData(zizTaskSharedConnection, &marker1);
  mdsZizTaskTerm();
  EXPECT_EQ(mdsIsTaskInit(), 1u);
  EXPECT_EQ(mdsGetZizTaskData(zizTaskSharedConnection), &marker1);
  mdsZizTaskTerm();
  EXPECT_EQ(mdsIsTaskInit(), 0u);
  EXPECT_EQ(mdsGetZizTaskData(zizTaskSharedConnection), nullptr);
}

TEST(ZizTask, TermWithoutInitNeverGoesBelowZero) {
  mdsZizTaskTerm();
  mdsZizTaskTerm();
  EXPECT_EQ(mdsGetTaskInitCount(), 0);
  mdsZizTaskInit();
  EXPECT_EQ(mdsGetTaskInitCount(), 1);
  mdsZizTaskTerm();
  EXPECT_EQ(mdsGetTaskInitCount(), 0);
}

TEST(ZizThread, NewThreadHasNoRecordUntilItStoresSomething) {
  std::thread([] {
    EXPECT_EQ(mdsGetZizThreadData(zizThreadErrorList), nullptr);
    EXPECT_EQ(mdsIsThreadInit(), 0u);
    EXPECT_EQ(mdsGetZizThreadDataAddress(zizThreadErrorList), nullptr);
    mdsSetZizThreadData(zizThreadErrorList, &marker1);
    EXPECT_EQ(mdsIsThreadInit(), 1u);
    EXPECT_EQ(mdsGetZizThreadData(zizThreadErrorList), &marker1);
  }).join();
}

TEST(ZizThread, EachThreadSeesItsOwnSlots) {
  mdsSetZizThreadData(zizThreadErrorList, &marker1);
  std::thread other([] {
    EXPECT_EQ(mdsGetZizThreadData(zizThreadErrorList), nullptr);
    mdsSetZizThreadData(zizThreadErrorList, &marker2);
    EXPECT_EQ(mdsGetZizThreadData(zizThreadErrorList), &marker2);
  });
  other.join();
  EXPECT_EQ(mdsGetZizThreadData(zizThreadErrorList), &marker1);
  mdsSetZizThreadData(zizThreadErrorList, nullptr);
}

TEST(ZizThread, RecordsOfEndedThreadsGo) {
  mdsSetZizThreadData(zizThreadSpare, &marker1);
  uint32_t before = mdsGetThreadRecordCount();
  for (int i = 0; i < 50; ++i) {
    std::thread([] { mdsSetZizThreadData(zizThreadErrorList, &marker2); }).join();
  }
  EXPECT_EQ(mdsGetThreadRecordCount(), before);
  // A new thread never inherits an ended thread's slots, even when the
  // system gives it the same id.
  for (int i = 0; i < 20; ++i) {
    std::thread([] { EXPECT_EQ(mdsGetZizThreadData(zizThreadErrorList), nullptr); }).join();
  }
}

// The calling thread's record in the thread list, or null.
KvThreadInfo* ownRecord() {
  auto* list = static_cast<KvThread*>(mdsGetZizTaskData(zizTaskThreads));
  KvThreadInfo* found = nullptr;
  if (list) {
    uint32_t me = kvCurrentThreadId();
    list->forEach<KvThreadInfo>([&](KvThreadInfo* info) {
      if (info->getThreadId() == me) found = info;
      return found == nullptr;
    });
  }
  return found;
}

TEST(ZizThread, InitCountsUpAnExistingRecord) {
  std::thread([] {
    uint32_t records = mdsGetThreadRecordCount();
    ASSERT_EQ(mdsZizThreadInit(), 1);
    KvThreadInfo* record = ownRecord();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->getRefCount(), 1u);
    ASSERT_EQ(mdsZizThreadInit(), 1);
    EXPECT_EQ(ownRecord(), record) << "the second init makes no second record";
    EXPECT_EQ(record->getRefCount(), 2u);
    EXPECT_EQ(mdsGetThreadRecordCount(), records + 1);
    EXPECT_EQ(mdsIsThreadInit(), 1u);
  }).join();
}

TEST(ZizThread, LastTaskTermClearsEveryThread) {
  mdsZizTaskInit();
  mdsSetZizThreadData(zizThreadErrorList, &marker1);
  bool ready = false, stop = false;
  std::mutex m;
  std::condition_variable cv;
  std::thread other([&] {
    mdsSetZizThreadData(zizThreadErrorList, &marker2);
    std::unique_lock<std::mutex> lock(m);
    ready = true;
    cv.notify_all();
    cv.wait(lock, [&] { return stop; });
    EXPECT_EQ(mdsGetZizThreadData(zizThreadErrorList), nullptr);
  });
  {
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return ready; });
  }
  mdsZizTaskTerm();
  EXPECT_EQ(mdsGetZizThreadData(zizThreadErrorList), nullptr);
  EXPECT_EQ(mdsGetThreadRecordCount(), 0u);
  {
    std::lock_guard<std::mutex> lock(m);
    stop = true;
  }
  cv.notify_all();
  other.join();
}

}  // namespace
