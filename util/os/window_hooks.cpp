// The hooks through which the library reaches the headless windows (see
// window_hooks.h), and the stand-ins that answer while no window layer is
// loaded: every handle names no window, as the headless layer answers for a
// handle that is not a live window.
#include "util/os/window_hooks.h"

#include <atomic>

#include "util/resource.h"

namespace {

enum : uint16_t { msgInvalidParameter = 1517 };

KvStatus noWindow() {
  addResourceError(msgInvalidParameter);
  return kvFailure;
}

KvWindow* noCreateWindow(KvWindowKind, KvWindow*, uint16_t, const unsigned char*, const KvRect*) {
  return nullptr;
}
void noDestroyWindow(KvWindow*) {}
KvWindowKind noGetWindowKind(KvWindow*) { return kvWindowFrame; }
KvWindow* noGetParent(KvWindow*) { return nullptr; }
int noIsIconic(KvWindow*) { return 0; }
KvWindow* noGetFocus() { return nullptr; }
KvWindow* noSetFocus(KvWindow*) { return nullptr; }
KvStatus noSetProp(KvWindow*, const unsigned char*, void*) { return noWindow(); }
void* noGetProp(KvWindow*, const unsigned char*) { return nullptr; }
void* noRemoveProp(KvWindow*, const unsigned char*) { return nullptr; }
void noGetScreenRect(KvRect* rect) { *rect = {0, 0, kvScreenWidth, kvScreenHeight}; }
KvStatus noGetWindowRect(KvWindow*, KvRect*) { return noWindow(); }
KvStatus noSetWindowPosition(KvWindow*, int32_t, int32_t) { return noWindow(); }
KvStatus noSetWindowText(KvWindow*, const unsigned char*) { return noWindow(); }
uint32_t noGetWindowText(KvWindow*, unsigned char* buffer, uint32_t size) {
  if (buffer && size) buffer[0] = 0;
  return 0;
}
KvStatus noSetTextLimit(KvWindow*, uint32_t) { return noWindow(); }

// In the order of KvWindowHooks.
const KvWindowHooks noWindowSystem = {
    noCreateWindow,
    noDestroyWindow,
    noGetWindowKind,
    noGetParent,
    noIsIconic,
    noGetFocus,
    noSetFocus,
    noSetProp,
    noGetProp,
    noRemoveProp,
    noGetScreenRect,
    noGetWindowRect,
    noSetWindowPosition,
    noSetWindowText,
    noGetWindowText,
    noSetTextLimit,
};

std::atomic<const KvWindowHooks*> installedHooks{&noWindowSystem};

}  // namespace

const KvWindowHooks* kvSetWindowHooks(const KvWindowHooks* hooks) {
  const KvWindowHooks* replaced = installedHooks.exchange(hooks ? hooks : &noWindowSystem);
  return replaced == &noWindowSystem ? nullptr : replaced;
}

const KvWindowHooks& kvWindows() { return *installedHooks.load(); }
