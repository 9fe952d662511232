// Window utilities shared by the setup dialogs: an object pointer kept on a
// dialog window, centring a dialog, and unique keyboard accelerators for
// dialog texts. The windows are the headless window layer's, reached through
// the library's window hooks (window_hooks.h).
#pragma once

#include "util/kv_types.h"

class KvWindow;

// Keeps pointer with the window, whole, in the window property "Offset".
// Fails for a handle that is not a window or for want of memory.
KV_UTIL_API KvStatus kvSetWinPointer(KvWindow* window, const void* pointer);
// The pointer kept with the window; null when none is.
KV_UTIL_API void* kvGetWinPointer(KvWindow* window);
KV_UTIL_API void kvRemoveWinPointer(KvWindow* window);

// Centres the window over its parent, or over the screen when it has no
// parent or the top-level window above it is minimised, then keeps it on
// the screen: a window wider (taller) than the screen goes to 0, one that
// would pass the right (bottom) edge is moved to end at it, and a negative
// top becomes 0. Only the position changes.
KV_UTIL_API KvStatus winCenterBox(KvWindow* window);

// Accelerator markers are the characters of the library's string 21800
// (for example "&"); without that string no text has a marker. A set of
// used accelerators is 32 bytes: one bit for each character code after
// upper-casing.

// When text holds a marker, marks the character after its first marker as
// used.
KV_UTIL_API void setAcceleratorKey(unsigned char* used, const unsigned char* text);
// Formats text (a buffer of size bytes) with arg when arg is given: the first
// "%s" becomes arg and "%%" becomes "%"; the result is cut to fit. When the
// result holds no marker, the first marker is put in front of the first
// character that is not white space and is not used yet (in front of the
// first character when all are used), room permitting. Then its accelerator
// is marked as used.
KV_UTIL_API void makeDialogText(unsigned char* used, unsigned char* text, uint32_t size,
                                const unsigned char* arg);
// makeDialogText with the markers given rather than read from string 21800.
KV_UTIL_API void makeDialogTextWithMarkers(unsigned char* used, unsigned char* text, uint32_t size,
                                           const unsigned char* arg, const unsigned char* markers);
KV_UTIL_API void setAcceleratorKeyWithMarkers(unsigned char* used, const unsigned char* text,
                                              const unsigned char* markers);
