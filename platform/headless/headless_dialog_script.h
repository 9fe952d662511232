// The scripted dialog runner: plays the user of the drivers' dialogs (data-
// source setup, logon prompts) from a script, so that tests drive a dialog
// the way a person would: fill its controls, press OK or Cancel.
//
// Where a script comes from, first match wins:
//   1. one installed in the process with kvSetDialogScript (unit tests);
//   2. the file named by the environment variable KV_DIALOG_SCRIPT, so that
//      a test can script a dialog that a separate process shows:
//      SQLConfigDataSource through unixODBC's installer, or SQLDriverConnect
//      with SQL_DRIVER_PROMPT through the Driver Manager. The file is read
//      when a dialog is first shown while the variable names it, and again
//      only when the variable has named another file in between (or the
//      library was loaded anew): a test that scripts several dialogs of one
//      process writes one file with a block for each, or a file of another
//      name for each.
// With neither, no dialog can be shown: the runner returns -1 and the caller
// takes its path for a dialog that could not be created.
//
// A script is lines of text; blank lines and lines starting with "#" are
// skipped. A "dialog" line starts a block of steps for one showing of a
// dialog; the steps follow, one a line:
//
//   dialog <id or title>     the dialog's template id, or its title (case
//                            does not matter)
//   text <control> [text]    types text (the rest of the line, trailing
//                            blanks dropped; may be empty) into an edit
//                            or combo box, cut to the
//                            control's text limit; notifies kvEnChange or
//                            kvCbnEditChange
//   check <control>          checks a check box or radio button (a radio
//                            button unchecks the radio buttons next to it);
//                            notifies kvBnClicked
//   uncheck <control>        unchecks a check box; notifies kvBnClicked
//   select <control> <item>  selects the item of a list or combo box equal
//                            to item (case does not matter); notifies
//                            kvLbnSelChange / kvCbnSelChange
//   click <control>          presses a button; notifies kvBnClicked
//   ok, cancel               click 1, click 2
//   expect <control> [text]  the control's text must equal text
//   expect-check <control> <0|1|2>     its check state must be this
//   expect-enabled <control> <0|1>     it must be enabled (1) or not (0)
//
// Controls are named by their decimal id. A user can only work a control
// that exists, is enabled and visible, so a step on any other is an error.
//
// Running: when a dialog is shown, the runner takes the first block not yet
// played that names it (blocks naming one dialog play in script order, each
// once; a dialog that the procedure opens from a step, such as a Define
// dialog from a setup dialog, takes its own block), builds the dialog from
// its template, sends kvWmInitDialog, and plays the steps until the dialog
// ends. The dialog's result is returned. These are reported as one line on
// the message-box path (trace and stderr) and make the runner return -1, so
// that a test never hangs on a dialog and never takes a half-played one for
// a finished one: no block for the dialog, no template for it, a step that
// cannot be done or an expectation that does not hold (the rest of the
// block is skipped), and a block that ends with the dialog still open.
#pragma once

#include "platform/headless/headless_dialog.h"

// The name of the environment variable naming a script file.
#define KV_DIALOG_SCRIPT_VARIABLE "KV_DIALOG_SCRIPT"

// Installs the script in text (null or empty: none, so the environment
// variable is looked at again). A script that does not parse is refused
// (1517, with the line reported on the message-box path) and the one
// installed before stays.
KV_HEADLESS_API KvStatus kvSetDialogScript(const unsigned char* text);
// The blocks of the script in use that were not played yet (0 without one).
KV_HEADLESS_API uint32_t kvDialogScriptBlocksLeft();

// The runner itself (the one kvDialogBoxParam uses when no other is
// installed).
KV_HEADLESS_API intptr_t kvRunScriptedDialog(const void* module, uint16_t templateId, KvWindow* owner,
                                             KvDialogProc proc, intptr_t param);
