// The DB-Library user count (see dblib_init_count.h). The count is kept as
// an integer in the pointer-sized ziz-task slot.
#include "util/os/dblib_init_count.h"

#include "util/locks/semaphore.h"
#include "util/os/zizdata.h"

uint32_t countDBLibInits(uint16_t increment) {
  KvLazyLockGuard guard(&mdsSemaphore);
  auto count = reinterpret_cast<uintptr_t>(mdsGetZizTaskData(zizTaskDbLibInit));
  if (increment) {
    mdsSetZizTaskData(zizTaskDbLibInit, reinterpret_cast<void*>(count + 1));
    return static_cast<uint32_t>(count);
  }
  if (count > 0) count--;
  mdsSetZizTaskData(zizTaskDbLibInit, reinterpret_cast<void*>(count));
  return static_cast<uint32_t>(count);
}
