// Dialog templates: what a deliverable's dialog resources were on Windows.
// A template lists a dialog's controls (kind, id, text) under a numeric id
// and a title; a deliverable registers its table of templates under its
// module instance once it is loaded and removes it before it is unloaded,
// and a dialog runner builds a dialog window from the template that
// kvDialogBoxParam names by module and id.
//
// Contract of a table: it is constant and lives at least until it is
// unregistered; ids are unique within one table; a control id is unique
// within its template. Tables are found by module: at most
// kvDialogModuleMax modules have tables at one time.
#pragma once

#include "platform/headless/headless_window.h"

struct KvDialogItem {
  KvWindowKind kind;  // a control kind (not kvWindowFrame or kvWindowDialog)
  uint16_t id;
  const char* text;   // the label, or the initial text; null: empty
};

struct KvDialogTemplate {
  uint16_t id;
  const char* title;
  const KvDialogItem* items;
  uint16_t itemCount;
};

enum : uint16_t { kvDialogModuleMax = 32 };

// Registers the templates of module, replacing any table it had. Fails
// (1517) for a null module or table, or when kvDialogModuleMax modules
// already have tables.
KV_HEADLESS_API KvStatus kvRegisterDialogTemplates(const void* module, const KvDialogTemplate* templates,
                                                   uint16_t count);
// Forgets the table of module (nothing when it has none).
KV_HEADLESS_API void kvUnregisterDialogTemplates(const void* module);
// The template id of module, or null.
KV_HEADLESS_API const KvDialogTemplate* kvFindDialogTemplate(const void* module, uint16_t id);

// A new dialog window (kvWindowDialog, owned by owner, which may be null)
// titled as the template says, with one child control per item in template
// order. Null on failure (with its message), leaving no window behind.
KV_HEADLESS_API KvWindow* kvCreateDialogFromTemplate(const KvDialogTemplate* dialogTemplate, KvWindow* owner);
