// The enter/leave pair that makes each test-and-set of a handle's busy bit,
// and each change of the environment count, one indivisible step. One lock
// is shared by all handles of the process.
#pragma once

#include "base/base_types.h"

void baseEnterLock();
void baseLeaveLock();

class BaseLockHook {
 public:
  BaseLockHook() { baseEnterLock(); }
  ~BaseLockHook() { baseLeaveLock(); }
  BaseLockHook(const BaseLockHook&) = delete;
  BaseLockHook& operator=(const BaseLockHook&) = delete;
};
