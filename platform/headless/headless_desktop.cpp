// Help and the message pump without a display (see headless_desktop.h).
#include "platform/headless/headless_desktop.h"

int kvWinHelp(KvWindow*, const unsigned char*, uint32_t, uintptr_t) { return 1; }

void kvPumpMessages() {}
