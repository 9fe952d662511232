// Modal dialogs without a display. A dialog is run by a dialog runner: a
// function that builds the dialog's window from its template, lets a script
// fill and press its controls, and calls the dialog procedure as a real
// dialog would. Until a runner is installed (tests install scripted ones),
// no dialog can be shown: kvDialogBoxParam answers -1, as the system does
// when a dialog cannot be created, and callers take that path.
#pragma once

#include "platform/headless_window.h"

// A dialog procedure: the dialog, the message and its two parameters.
typedef intptr_t (*KvDialogProc)(KvWindow* dialog, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Runs the dialog templateId of module over owner; returns the value the
// procedure ended the dialog with, or -1 when it could not be shown.
typedef intptr_t (*KvDialogRunner)(const void* module, uint16_t templateId, KvWindow* owner, KvDialogProc proc,
                                   intptr_t param);

KV_UTIL_API intptr_t kvDialogBoxParam(const void* module, uint16_t templateId, KvWindow* owner, KvDialogProc proc,
                                      intptr_t param);
// Installs runner (null: none) and returns the one it replaces.
KV_UTIL_API KvDialogRunner kvSetDialogRunner(KvDialogRunner runner);
