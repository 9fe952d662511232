// Fuzz target of the dialog script parser and the scripted runner.
//
// Input: the text of a script. When it parses, its blocks are played on a
// small dialog (one control of every kind; OK and Cancel end it, a button
// opens a nested dialog) until none is left. Besides what the sanitizers
// catch, every run must end with the dialog's result or -1, each showing
// plays at most one block.
#include <cstring>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "platform/headless/headless_dialog_script.h"
#include "platform/headless/headless_dialog_template.h"
#include "util/error_list.h"
#include "util/os/message_box.h"

namespace {

const char module[] = "fuzz";

const KvDialogItem items[] = {
    {kvWindowStatic, 0xFFFF, "&Label"}, {kvWindowEdit, 401, nullptr},        {kvWindowCheckBox, 303, "&Box"},
    {kvWindowRadioButton, 301, "One"},  {kvWindowRadioButton, 302, "Two"},   {kvWindowComboBox, 304, nullptr},
    {kvWindowListBox, 306, nullptr},    {kvWindowButton, 313, "&Nested..."}, {kvWindowButton, 1, "OK"},
    {kvWindowButton, 2, "Cancel"},
};
const KvDialogTemplate templates[] = {
    {100, "Setup", items, sizeof(items) / sizeof(items[0])},
    {101, "Nested", items, sizeof(items) / sizeof(items[0])},
};

int depth = 0;

intptr_t proc(KvWindow* dialog, uint32_t message, uintptr_t wParam, intptr_t) {
  if (message == kvWmInitDialog) {
    FUZZ_CHECK(kvSetTextLimit(kvGetDlgItem(dialog, 401), 16) == kvSuccess);  // both templates have 401
    kvAddListItem(kvGetDlgItem(dialog, 304), reinterpret_cast<const unsigned char*>("FILE"));
    kvAddListItem(kvGetDlgItem(dialog, 306), reinterpret_cast<const unsigned char*>("a b"));
    return 1;
  }
  const uint16_t id = uint16_t(wParam & 0xFFFF);
  if (id == 1 || id == 2) FUZZ_CHECK(kvEndDialog(dialog, id) == kvSuccess);
  if (id == 313 && depth < 3) {
    ++depth;
    const intptr_t nested = kvDialogBoxParam(module, 101, dialog, proc, 0);
    FUZZ_CHECK(nested == -1 || nested == 1 || nested == 2);
    --depth;
  }
  return 1;
}

int silent(KvWindow*, const unsigned char*, const unsigned char*, uint32_t) { return 1; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = [] {
    kvSetMessageBoxHook(silent);
    return kvRegisterDialogTemplates(module, templates, 2) == kvSuccess;
  }();
  FUZZ_CHECK(ready);
  KvErrorList errors(nullptr, 1);
  KvErrorKeeper::setErrorList(&errors);
  std::vector<unsigned char> text(data, data + size);
  text.push_back(0);
  if (kvSetDialogScript(text.data()) == kvSuccess) {
    const uint32_t blocks = kvDialogScriptBlocksLeft();
    for (uint32_t round = 0; round <= blocks && kvDialogScriptBlocksLeft() > 0; ++round) {
      const uint32_t before = kvDialogScriptBlocksLeft();
      const intptr_t result = kvDialogBoxParam(module, 100, nullptr, proc, 0);
      FUZZ_CHECK(result == -1 || result == 1 || result == 2);
      FUZZ_CHECK(kvDialogScriptBlocksLeft() < before || result == -1);
    }
  }
  FUZZ_CHECK(kvSetDialogScript(nullptr) == kvSuccess);
  KvErrorKeeper::giveUpErrorList();
  return 0;
}
