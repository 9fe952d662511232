// Data-source setup of the test driver: its setup keys, one of each control
// kind, its setup dialog and ConfigDSN, so that tests reach the framework's
// setup code through unixODBC's installer and through the dialog runner.
//
// Setup dialog 100 (test_dialogs.cpp): 401 data source name, 402
// description, 403 a "Define..." button that goes with the name; 300
// driver name (edit); 301 "Fast" and 302 "Safe" (radio buttons of the key
// Mode); 303 "Warn at logon" (check box); 304 locking (combo box the dialog
// fills); 305 lock wait (combo box filled from its row); OK (1), Cancel
// (2). The version key has no control.
#include "drivers/test/test_dialogs.h"
#include "entry/entry_setup.h"

#include "util/os/win_util.h"

#include <odbcinst.h>

namespace {

const SetupInfo setupRows[] = {
    {"Description", setupControlDescription, setupEdit, nullptr, nullptr, 80},
    {"DriverName", 300, setupEdit, nullptr, "Test", 32},
    {"Mode", 301, setupRadio, "Fast", "Fast", 0},
    {"Mode", 302, setupRadio, "Safe", "Fast", 0},
    {"WarnLogon", 303, setupCheckBox, "1", "0", 0},
    {"Locking", 304, setupCombo, nullptr, "RECORD", 0},
    {"LockWait", 305, setupComboList, "0 - NoWait, -1 - Wait,, ", "-1 - Wait", 0},
    {"Version", 0, setupNoControl, nullptr, "1", 0},
};

const char* const lockings[] = {"NONE", "FILE", "RECORD"};

KvStatus initSetupDialog(KvWindow* dialog, DSNInfoStruct* info) {
  if (kvSetWinPointer(dialog, info) != kvSuccess) return kvFailure;
  KvWindow* locking = kvGetDlgItem(dialog, 304);
  for (const char* item : lockings)
    if (kvAddListItem(locking, kvU(item)) < 0) return kvFailure;
  return BaseInitSetupDialog(dialog, info);
}

// OK is enabled only while the data source has a name.
void nameChanged(KvWindow* dialog) {
  kvEnableWindow(kvGetDlgItem(dialog, kvIdOkButton), kvGetWindowTextLength(kvGetDlgItem(dialog, setupControlName)));
}

intptr_t setupDialogProc(KvWindow* dialog, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (message == kvWmInitDialog) {
    // A dialog that cannot be filled is not shown.
    if (initSetupDialog(dialog, reinterpret_cast<DSNInfoStruct*>(lParam)) != kvSuccess)
      return kvEndDialog(dialog, -1) == kvSuccess;
    nameChanged(dialog);
    return 1;
  }
  if (message != kvWmCommand) return 0;
  const uint16_t control = uint16_t(wParam & 0xFFFF);
  const uint16_t notification = uint16_t(wParam >> 16);
  auto* info = static_cast<DSNInfoStruct*>(kvGetWinPointer(dialog));
  if (!info) return 0;
  switch (control) {
    case kvIdOkButton:
      // A failed write keeps the dialog open, with the installer error set.
      if (BaseWriteValuesToIni(dialog, info) != kvSuccess) return 1;
      return kvEndDialog(dialog, kvIdOkButton) == kvSuccess;
    case kvIdCancelButton:
      return kvEndDialog(dialog, kvIdCancelButton) == kvSuccess;
    case setupControlName:
      if (notification == kvEnChange) nameChanged(dialog);
      return 1;
    default:
      return 0;
  }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) BOOL INSTAPI ConfigDSN(HWND hwnd, WORD fRequest, LPCSTR lpszDriver,
                                                                        LPCSTR lpszAttributes) {
  return entryConfigDsn(hwnd, fRequest, lpszDriver, lpszAttributes, setupRows,
                        sizeof(setupRows) / sizeof(setupRows[0]), testSetupDialogId, setupDialogProc);
}
