// KvTime: the time-of-day text that logs and traces put in front of a line.
#pragma once

#include "util/kv_types.h"

enum : uint32_t { kvTimeStampBytes = 11 };

class KV_UTIL_API KvTime {
 public:
  // The current UTC time as "hh:mm:ss.cc" (hours, minutes, seconds and
  // hundredths of a second, two digits each) into out, which receives
  // exactly kvTimeStampBytes bytes and no terminator. Returns that count.
  static uint32_t getCurrentTimeStamp(unsigned char* out);
};
