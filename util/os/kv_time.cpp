// The time stamp of log and trace lines (see kv_time.h).
#include "util/os/kv_time.h"

#include "util/os/bos.h"

namespace {

unsigned char* putTwoDigits(unsigned char* out, uint32_t value) {
  out[0] = static_cast<unsigned char>('0' + value / 10 % 10);
  out[1] = static_cast<unsigned char>('0' + value % 10);
  return out + 2;
}

}  // namespace

uint32_t KvTime::getCurrentTimeStamp(unsigned char* out) {
  os_time now;
  bosdate(&now);
  unsigned char* p = putTwoDigits(out, now.hour);
  *p++ = ':';
  p = putTwoDigits(p, now.minute);
  *p++ = ':';
  p = putTwoDigits(p, now.second);
  *p++ = '.';
  putTwoDigits(p, now.millisecond / 10);
  return kvTimeStampBytes;
}
