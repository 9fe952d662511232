// Dialog templates and the table of them by module; see
// headless_dialog_template.h.
#include "platform/headless/headless_dialog_template.h"

#include "util/resource.h"

#include <mutex>

namespace {

struct ModuleTemplates {
  const void* module;
  const KvDialogTemplate* templates;
  uint16_t count;
};

std::mutex tableLock;
ModuleTemplates tables[kvDialogModuleMax];

KvStatus invalidParameter() {
  kvAddUtilityError(kvMsgInvalidParameter);
  return kvFailure;
}

}  // namespace

KvStatus kvRegisterDialogTemplates(const void* module, const KvDialogTemplate* templates, uint16_t count) {
  if (!module || (!templates && count != 0)) return invalidParameter();
  std::lock_guard<std::mutex> guard(tableLock);
  ModuleTemplates* free = nullptr;
  for (ModuleTemplates& entry : tables) {
    if (entry.module == module) {
      entry.templates = templates;
      entry.count = count;
      return kvSuccess;
    }
    if (!entry.module && !free) free = &entry;
  }
  if (!free) return invalidParameter();
  *free = ModuleTemplates{module, templates, count};
  return kvSuccess;
}

void kvUnregisterDialogTemplates(const void* module) {
  std::lock_guard<std::mutex> guard(tableLock);
  for (ModuleTemplates& entry : tables)
    if (entry.module == module && module) entry = ModuleTemplates{nullptr, nullptr, 0};
}

const KvDialogTemplate* kvFindDialogTemplate(const void* module, uint16_t id) {
  if (!module) return nullptr;
  std::lock_guard<std::mutex> guard(tableLock);
  for (const ModuleTemplates& entry : tables) {
    if (entry.module != module) continue;
    for (uint16_t i = 0; i < entry.count; ++i)
      if (entry.templates[i].id == id) return &entry.templates[i];
    return nullptr;
  }
  return nullptr;
}

KvWindow* kvCreateDialogFromTemplate(const KvDialogTemplate* dialogTemplate, KvWindow* owner) {
  if (!dialogTemplate) {
    kvAddUtilityError(kvMsgInvalidParameter);
    return nullptr;
  }
  KvWindow* dialog = kvCreateWindow(kvWindowDialog, owner, 0, kvU(dialogTemplate->title), nullptr);
  if (!dialog) return nullptr;
  for (uint16_t i = 0; i < dialogTemplate->itemCount; ++i) {
    const KvDialogItem& item = dialogTemplate->items[i];
    if (!kvCreateWindow(item.kind, dialog, item.id, item.text ? kvU(item.text) : nullptr, nullptr)) {
      kvDestroyWindow(dialog);
      return nullptr;
    }
  }
  return dialog;
}
