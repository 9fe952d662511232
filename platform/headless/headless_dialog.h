// Modal dialogs without a display. A dialog is run by a dialog runner: a
// function that builds the dialog's window from its template, lets a script
// fill and press its controls, and calls the dialog procedure as a real
// dialog would. A runner that code installs (kvSetDialogRunner) runs every
// dialog; without one, the scripted runner of headless_dialog_script.h does,
// and it shows a dialog only when a script for it is installed. Otherwise
// kvDialogBoxParam answers -1, as the system does when a dialog cannot be
// created, and callers take that path.
//
// A dialog procedure sees the messages a real one would: kvWmInitDialog once
// the controls exist (lParam: the caller's parameter), then kvWmCommand for
// each thing the user does to a control (wParam: the control id in the low
// 16 bits, the notification in the high 16 bits; lParam: the control). It
// ends the dialog with kvEndDialog; the runner returns that result once the
// procedure has returned.
#pragma once

#include "platform/headless/headless_window.h"

// A dialog procedure: the dialog, the message and its two parameters.
typedef intptr_t (*KvDialogProc)(KvWindow* dialog, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Messages of a dialog procedure (the values callers know from Windows).
enum : uint32_t { kvWmInitDialog = 0x0110, kvWmCommand = 0x0111 };

// Notifications in the high 16 bits of a command's wParam.
enum : uint16_t {
  kvBnClicked = 0,       // a button, check box or radio button was pressed
  kvLbnSelChange = 1,    // a list box's selection changed
  kvCbnSelChange = 1,    // a combo box's selection changed
  kvCbnEditChange = 5,   // the text of a combo box was typed
  kvEnChange = 0x0300,   // the text of an edit control was typed
};

// Ids of the OK and Cancel buttons, which are also the results a dialog
// usually ends with (the same values as kvIdOk and kvIdCancel).
enum : uint16_t { kvIdOkButton = 1, kvIdCancelButton = 2 };

inline uintptr_t kvMakeCommand(uint16_t controlId, uint16_t notification) {
  return uintptr_t(controlId) | (uintptr_t(notification) << 16);
}

// Runs the dialog templateId of module over owner; returns the value the
// procedure ended the dialog with, or -1 when it could not be shown.
typedef intptr_t (*KvDialogRunner)(const void* module, uint16_t templateId, KvWindow* owner, KvDialogProc proc,
                                   intptr_t param);

KV_HEADLESS_API intptr_t kvDialogBoxParam(const void* module, uint16_t templateId, KvWindow* owner, KvDialogProc proc,
                                          intptr_t param);
// Installs runner (null: back to the scripted runner) and returns the one it
// replaces (null for the scripted runner).
KV_HEADLESS_API KvDialogRunner kvSetDialogRunner(KvDialogRunner runner);

// Ends a dialog: marks it ended with result, which its runner returns. Fails
// (1517) for a handle that is not a dialog window.
KV_HEADLESS_API KvStatus kvEndDialog(KvWindow* dialog, intptr_t result);
// For runners: nonzero when kvEndDialog was called on the dialog, with the
// result it was given in *result.
KV_HEADLESS_API int kvIsDialogEnded(KvWindow* dialog, intptr_t* result);
