// Message boxes without a display.
//
// A message box cannot be shown, so its text is reported instead: every box
// goes through one hook, whose default writes the caption and the text as
// one line to stderr. The trace installs its own hook in front of it (and
// passes each box on to the one it replaced), so that boxes reach both the
// trace and stderr. The hook's answer is the box's answer: the default
// answers kvIdOk for a box whose only button is OK, and 0 for a box that
// asks a question, as the system does when it cannot show a box, so that
// the caller takes its path for "no answer".
//
// The owner is only passed on to the hook: a box never looks at it, so it
// may be any window of the headless window layer, or none.
#pragma once

#include "util/kv_types.h"

class KvWindow;

// Styles of a message box (the values callers pass as on Windows).
enum : uint32_t {
  kvMbOk = 0x0,
  kvMbOkCancel = 0x1,
  kvMbAbortRetryIgnore = 0x2,
  kvMbYesNoCancel = 0x3,
  kvMbYesNo = 0x4,
  kvMbRetryCancel = 0x5,
  kvMbButtonsMask = 0xF,
  kvMbIconHand = 0x10,
  kvMbIconQuestion = 0x20,
  kvMbIconExclamation = 0x30,
  kvMbIconAsterisk = 0x40,
  kvMbTaskModal = 0x2000,
};

// Answers of a message box; 0 means the box could not be shown.
enum : int { kvIdOk = 1, kvIdCancel = 2, kvIdAbort = 3, kvIdRetry = 4, kvIdIgnore = 5, kvIdYes = 6, kvIdNo = 7 };

// owner may be null or a window that is no longer alive; text and caption
// may be null (empty).
typedef int (*KvMessageBoxHook)(KvWindow* owner, const unsigned char* text, const unsigned char* caption,
                                uint32_t style);

KV_UTIL_API int kvMessageBox(KvWindow* owner, const unsigned char* text, const unsigned char* caption,
                             uint32_t style);
// Installs hook (null: the default) and returns the hook it replaces.
KV_UTIL_API KvMessageBoxHook kvSetMessageBoxHook(KvMessageBoxHook hook);
// The default hook: "caption: text" and a line feed on stderr (only the text
// when there is no caption).
KV_UTIL_API int kvMessageBoxToStderr(KvWindow* owner, const unsigned char* text,
                                     const unsigned char* caption, uint32_t style);
