// The environment handle; see base_env.h.
#include "base/handles/base_env.h"

#include "base/handles/base_lock_hooks.h"
#include "util/os/zizdata.h"

#include <mutex>

namespace {
std::mutex handleLock;
}

void baseEnterLock() { handleLock.lock(); }
void baseLeaveLock() { handleLock.unlock(); }

BaseEnv::BaseEnv(OdbcDriverNumber driverNumber) : errorList_(nullptr), driverNumber_(driverNumber) {
  BaseLockHook hook;
  auto count = reinterpret_cast<uintptr_t>(mdsGetZizTaskData(zizTaskEnvCount));
  mdsSetZizTaskData(zizTaskEnvCount, reinterpret_cast<void*>(count + 1));
}

BaseEnv::~BaseEnv() {
  BaseLockHook hook;
  auto count = reinterpret_cast<uintptr_t>(mdsGetZizTaskData(zizTaskEnvCount));
  if (count) mdsSetZizTaskData(zizTaskEnvCount, reinterpret_cast<void*>(count - 1));
}

KvStatus BaseEnv::initialize() { return kvSuccess; }

uint16_t BaseEnv::threadCheck() { return busy_.exchange(1) ? 1 : 0; }

void BaseEnv::threadDone() { busy_.store(0); }

uint32_t baseLiveEnvironments() {
  BaseLockHook hook;
  return uint32_t(reinterpret_cast<uintptr_t>(mdsGetZizTaskData(zizTaskEnvCount)));
}
