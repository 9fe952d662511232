// Modal dialogs without a display; see headless_dialog.h.
#include "platform/headless_dialog.h"

#include <atomic>

namespace {
std::atomic<KvDialogRunner> installedRunner{nullptr};
}

intptr_t kvDialogBoxParam(const void* module, uint16_t templateId, KvWindow* owner, KvDialogProc proc,
                          intptr_t param) {
  KvDialogRunner runner = installedRunner.load();
  return runner ? runner(module, templateId, owner, proc, param) : -1;
}

KvDialogRunner kvSetDialogRunner(KvDialogRunner runner) { return installedRunner.exchange(runner); }
