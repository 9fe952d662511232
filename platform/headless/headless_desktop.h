// What the desktop does for a program beside its windows and message boxes
// (util/os/message_box.h), without a display: the help viewer and the message
// pump.
//
// Help calls succeed and do nothing; the message pump has no messages.
#pragma once

#include "platform/headless/headless_window.h"

// Commands of kvWinHelp (as on Windows).
enum : uint32_t { kvHelpContext = 0x1, kvHelpQuit = 0x2 };

// Opens help: there is no viewer, so nothing happens; answers nonzero
// (success), so that no caller reports a help file that failed to load.
KV_HEADLESS_API int kvWinHelp(KvWindow* window, const unsigned char* helpFile, uint32_t command, uintptr_t data);

// Removes and dispatches the waiting window messages of the thread: there are
// none.
KV_HEADLESS_API void kvPumpMessages();
