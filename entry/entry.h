// The ODBC entry layer, compiled into every driver deliverable: the
// exported ODBC functions, the allocators of the driver's handle objects,
// connection sharing and the module's start-up.
//
// A driver supplies the three builders below; the layer calls them from
// SQLAllocEnv, SQLAllocConnect and SQLAllocStmt. Each returns null when the
// object could not be made.
#pragma once

#include "base/connection/base_connection.h"
#include "base/handles/base_env.h"
#include "base/statement/base_statement.h"
#include "platform/headless/headless_dialog.h"
#include "platform/headless/headless_dialog_template.h"
#include "util/memory/ram.h"

#include <new>

BaseEnv* entryMakeEnv();
BaseConnection* entryMakeConnection(BaseEnv* env);
BaseStatement* entryMakeStatement(BaseConnection* connection);
// The driver's dialog templates (its dialog resources) and their number;
// the layer registers them under the module instance while the library is
// loaded, so that entryModalDialog finds them.
const KvDialogTemplate* entryDialogTemplates(uint16_t* count);

// Builds a handle object in zero-filled memory of the sub-allocator.
template <class T, class Arg>
T* entryBuild(Arg arg) {
  void* memory = ramAllocZ(sizeof(T));
  return memory ? new (memory) T(arg) : nullptr;
}

// The driver module's file name without its directory ("libkvtext.so").
void entryGetDllName(unsigned char* buffer, uint32_t size);
// The identity of this deliverable (its module instance).
const void* entryModuleInstance();
// The profile the driver's data sources are read from.
extern const unsigned char* entryProfileName;

// Runs one of the driver's dialogs modally over parent (or over the active
// window when parent is null or the active window is its child), and gives
// the focus back to the window that was active. 0 when the dialog ran; 1,
// with error 9999 in the current list, when it could not be shown.
int entryModalDialog(KvWindow* parent, uint16_t templateId, KvDialogProc proc, intptr_t param);
