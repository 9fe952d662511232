// butxpand: the first block, growth in 512-byte steps with the cursor kept,
// no growth while there is room, and refusal where the 16-bit size would
// wrap around.
#include "util/memory/grow_buffer.h"

#include "tests/util/test_support.h"
#include "util/memory/ram.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// A buffer the test grows, freed afterwards.
class GrowBufferTest : public ErrorCapturingTest {
 protected:
  void TearDown() override {
    ramFree(start_);
    ErrorCapturingTest::TearDown();
  }

  unsigned char* start_ = nullptr;
  unsigned char* cursor_ = nullptr;
  uint16_t size_ = 0;
};

TEST_F(GrowBufferTest, FirstBlockIsNeedRoundedDownPlus512) {
  struct Case {
    uint16_t need;
    uint16_t size;
  } cases[] = {{0, 512}, {100, 512}, {511, 512}, {512, 1024}, {1000, 1024}, {65023, 65024}};
  for (const Case& c : cases) {
    unsigned char* start = nullptr;
    unsigned char* cursor = nullptr;
    uint16_t size = 0;
    ASSERT_EQ(butxpand(&start, &cursor, &size, c.need), kvSuccess) << c.need;
    EXPECT_NE(start, nullptr);
    EXPECT_EQ(cursor, start);
    EXPECT_EQ(size, c.size) << c.need;
    EXPECT_GE(ramSize(start), size);
    ramFree(start);
  }
}

TEST_F(GrowBufferTest, GrowsOnlyWhenTheRestIsTooShortAndKeepsTheCursor) {
  ASSERT_EQ(butxpand(&start_, &cursor_, &size_, 100), kvSuccess);
  std::memset(start_, 'a', 500);
  cursor_ = start_ + 500;
  unsigned char* before = start_;
  ASSERT_EQ(butxpand(&start_, &cursor_, &size_, 12), kvSuccess);  // exactly 12 remain
  EXPECT_EQ(start_, before);
  EXPECT_EQ(size_, 512);

  ASSERT_EQ(butxpand(&start_, &cursor_, &size_, 600), kvSuccess);
  EXPECT_EQ(size_, 512 + 1024);
  EXPECT_EQ(cursor_ - start_, 500);
  EXPECT_GE(ramSize(start_), size_);
  for (int i = 0; i < 500; i++) ASSERT_EQ(start_[i], 'a');
}

TEST_F(GrowBufferTest, RefusesToPassSixtyFiveThousandBytes) {
  unsigned char* start = nullptr;
  unsigned char* cursor = nullptr;
  uint16_t size = 0;
  EXPECT_EQ(butxpand(&start, &cursor, &size, 65024), kvFailure);  // 65536 would wrap to 0
  EXPECT_EQ(start, nullptr);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(firstErrorNumber(), 2716);
  list_->clearErrors();

  ASSERT_EQ(butxpand(&start_, &cursor_, &size_, 64600), kvSuccess);
  ASSERT_EQ(size_, 65024);
  cursor_ = start_ + 65000;
  unsigned char* before = start_;
  EXPECT_EQ(butxpand(&start_, &cursor_, &size_, 600), kvFailure);
  EXPECT_EQ(firstErrorNumber(), 2716);
  EXPECT_EQ(start_, before);
  EXPECT_EQ(cursor_, start_ + 65000);
  EXPECT_EQ(size_, 65024);
}

TEST_F(GrowBufferTest, CursorOutsideTheBlockIsRefused) {
  ASSERT_EQ(butxpand(&start_, &cursor_, &size_, 10), kvSuccess);
  unsigned char* outside = start_ + size_ + 1;
  EXPECT_EQ(butxpand(&start_, &outside, &size_, 600), kvFailure);
  EXPECT_EQ(firstErrorNumber(), 1517);
  EXPECT_EQ(size_, 512);
}

}  // namespace
