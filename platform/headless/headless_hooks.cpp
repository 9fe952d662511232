// Puts the headless windows behind the utility library's window hooks
// (util/os/window_hooks.h) while this library is loaded, so that the trace
// window and the setup dialogs' window helpers find real windows. The
// utility library is loaded, and its hooks usable, before this library's
// constructor runs, since this library links it.
#include "platform/headless/headless_window.h"

namespace {

// In the order of KvWindowHooks.
const KvWindowHooks headlessWindows = {
    kvCreateWindow,
    kvDestroyWindow,
    kvGetWindowKind,
    kvGetParent,
    kvIsIconic,
    kvGetFocus,
    kvSetFocus,
    kvSetProp,
    kvGetProp,
    kvRemoveProp,
    kvGetScreenRect,
    kvGetWindowRect,
    kvSetWindowPosition,
    kvSetWindowText,
    kvGetWindowText,
    kvSetTextLimit,
};

__attribute__((constructor)) void installWindowHooks() { kvSetWindowHooks(&headlessWindows); }

__attribute__((destructor)) void removeWindowHooks() { kvSetWindowHooks(nullptr); }

}  // namespace
