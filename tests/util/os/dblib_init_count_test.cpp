// The DB-Library user count: first and last user, an unmatched end, and
// counting from several threads at once.
#include "util/os/dblib_init_count.h"

#include "util/os/zizdata.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

class DbLibCountTest : public ::testing::Test {
 protected:
  void SetUp() override { mdsSetZizTaskData(zizTaskDbLibInit, nullptr); }
  void TearDown() override { mdsSetZizTaskData(zizTaskDbLibInit, nullptr); }
};

TEST_F(DbLibCountTest, FirstUserSeesZeroBeforeAndLastUserZeroAfter) {
  EXPECT_EQ(countDBLibInits(1), 0u);
  EXPECT_EQ(countDBLibInits(1), 1u);
  EXPECT_EQ(countDBLibInits(7), 2u);  // any nonzero argument starts a user
  EXPECT_EQ(countDBLibInits(0), 2u);
  EXPECT_EQ(countDBLibInits(0), 1u);
  EXPECT_EQ(countDBLibInits(0), 0u);
  EXPECT_EQ(mdsGetZizTaskData(zizTaskDbLibInit), nullptr);
}

TEST_F(DbLibCountTest, UnmatchedEndDoesNotWrap) {
  EXPECT_EQ(countDBLibInits(0), 0u);
  EXPECT_EQ(countDBLibInits(1), 0u);  // the next user is still the first
}

TEST_F(DbLibCountTest, ThreadsCountWithoutLoss) {
  const int threads = 8, perThread = 500;
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; t++) {
    workers.emplace_back([] {
      for (int i = 0; i < perThread; i++) countDBLibInits(1);
    });
  }
  for (std::thread& w : workers) w.join();
  EXPECT_EQ(countDBLibInits(1), static_cast<uint32_t>(threads * perThread));
}

}  // namespace
