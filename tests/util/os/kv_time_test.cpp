// The time stamp of trace and log lines.
#include "util/os/kv_time.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>

namespace {

TEST(KvTimeTest, TimeStampIsElevenCharactersOfUtcTimeWithoutTerminator) {
  unsigned char out[16];
  std::memset(out, '#', sizeof(out));
  const std::time_t before = std::time(nullptr);
  ASSERT_EQ(KvTime::getCurrentTimeStamp(out), 11u);
  const std::time_t after = std::time(nullptr);
  EXPECT_EQ(out[11], '#');
  const std::string stamp(reinterpret_cast<char*>(out), 11);
  const std::string shape = "00:00:00.00";
  for (size_t i = 0; i < shape.size(); ++i) {
    if (shape[i] == '0') {
      ASSERT_TRUE(stamp[i] >= '0' && stamp[i] <= '9') << stamp;
    } else {
      ASSERT_EQ(stamp[i], shape[i]) << stamp;
    }
  }
  EXPECT_LT(stamp.substr(0, 2), "24");
  EXPECT_LT(stamp.substr(3, 2), "60");
  EXPECT_LT(stamp.substr(6, 2), "60");
  // The hour and minute are UTC: they equal those of the clock before or after.
  auto hourMinute = [](std::time_t t) {
    std::tm parts;
    gmtime_r(&t, &parts);
    char text[8];
    std::snprintf(text, sizeof(text), "%02d:%02d", parts.tm_hour, parts.tm_min);
    return std::string(text);
  };
  const std::string shown = stamp.substr(0, 5);
  EXPECT_TRUE(shown == hourMinute(before) || shown == hourMinute(after)) << stamp;
}

}  // namespace
