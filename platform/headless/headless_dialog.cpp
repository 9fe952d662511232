// Modal dialogs without a display; see headless_dialog.h.
#include "platform/headless/headless_dialog.h"

#include "platform/headless/headless_dialog_script.h"
#include "util/resource.h"

#include <atomic>

namespace {

std::atomic<KvDialogRunner> installedRunner{nullptr};

// The end of a dialog is kept on the dialog window itself, so that it goes
// with the window: one property marks it ended, another holds the result
// (a property of value null would read as absent).
const unsigned char* const endedProperty = kvU("kv.DialogEnded");
const unsigned char* const resultProperty = kvU("kv.DialogResult");

}  // namespace

intptr_t kvDialogBoxParam(const void* module, uint16_t templateId, KvWindow* owner, KvDialogProc proc,
                          intptr_t param) {
  KvDialogRunner runner = installedRunner.load();
  return runner ? runner(module, templateId, owner, proc, param)
                : kvRunScriptedDialog(module, templateId, owner, proc, param);
}

KvDialogRunner kvSetDialogRunner(KvDialogRunner runner) { return installedRunner.exchange(runner); }

KvStatus kvEndDialog(KvWindow* dialog, intptr_t result) {
  if (kvGetWindowKind(dialog) != kvWindowDialog || !kvIsWindow(dialog)) {
    kvAddUtilityError(kvMsgInvalidParameter);
    return kvFailure;
  }
  if (kvSetProp(dialog, resultProperty, reinterpret_cast<void*>(result)) != kvSuccess) return kvFailure;
  return kvSetProp(dialog, endedProperty, reinterpret_cast<void*>(uintptr_t(1)));
}

int kvIsDialogEnded(KvWindow* dialog, intptr_t* result) {
  if (!kvGetProp(dialog, endedProperty)) return 0;
  if (result) *result = reinterpret_cast<intptr_t>(kvGetProp(dialog, resultProperty));
  return 1;
}
