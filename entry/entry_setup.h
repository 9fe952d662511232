// ConfigDSN of a driver: the framework's data-source setup (base_setup.h)
// with the driver's setup keys and its setup dialog, run modally through
// the entry layer when the installer gave a parent window.
#pragma once

#include "base/setup/base_setup.h"
#include "entry/entry.h"

#include <new>

// Carries out one ConfigDSN request. TRUE when it was done, or when the
// setup dialog ran (whether the user confirmed or cancelled it); FALSE,
// with an installer error, when the request failed or the dialog could not
// be shown. The dialog procedure receives the DSNInfoStruct as the
// parameter of kvWmInitDialog. ConfigDSN is an exported entry point, so no
// exception leaves it: std::bad_alloc posts the installer's out-of-memory
// error, anything else fails the request.
inline BOOL entryConfigDsn(SQLHWND hwnd, uint16_t request, const char* driver, const char* attributes,
                           const SetupInfo* rows, uint16_t rowCount, uint16_t dialogId, KvDialogProc proc) noexcept {
  try {
    DSNInfoStruct info(hwnd, request, kvU(driver), kvU(attributes), rows, rowCount);
    uint16_t showDialog = 0;
    if (!info.config(&showDialog)) return FALSE;
    if (!showDialog) return TRUE;
    if (entryModalDialog(kvWindowFromHandle(hwnd), dialogId, proc, reinterpret_cast<intptr_t>(&info)) != 0) {
      basePostSetupError(setupDialogFailed, info.getName());
      return FALSE;
    }
    return TRUE;
  } catch (const std::bad_alloc&) {
    basePostSetupError(setupNoMemory, nullptr);
  } catch (...) {
  }
  return FALSE;
}
