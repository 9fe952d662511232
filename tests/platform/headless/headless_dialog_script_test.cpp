// The scripted dialog runner: templates by module, scripts that parse or
// are refused, steps played as a user would (and the messages the dialog
// procedure sees), every way a script can go wrong ending in -1 instead of
// a hang, blocks matched by dialog, nested dialogs, and scripts named by
// KV_DIALOG_SCRIPT.
#include "platform/headless/headless_dialog_script.h"
#include "platform/headless/headless_dialog_template.h"

#include "tests/util/test_support.h"
#include "util/os/message_box.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char module[] = "module";  // any address names a module
const char otherModule[] = "other";

const KvDialogItem setupItems[] = {
    {kvWindowStatic, 0xFFFF, "&Name:"},
    {kvWindowEdit, 401, nullptr},
    {kvWindowCheckBox, 303, "&Warn"},
    {kvWindowRadioButton, 301, "Fast"},
    {kvWindowRadioButton, 302, "Safe"},
    {kvWindowStatic, 0xFFFF, "&Locking:"},
    {kvWindowRadioButton, 310, "Other group"},
    {kvWindowComboBox, 304, nullptr},
    {kvWindowListBox, 306, nullptr},
    {kvWindowButton, 313, "&Define..."},
    {kvWindowButton, 1, "OK"},
    {kvWindowButton, 2, "Cancel"},
};
const KvDialogItem defineItems[] = {
    {kvWindowEdit, 201, nullptr},
    {kvWindowButton, 1, "OK"},
};
const KvDialogTemplate templates[] = {
    {100, "Test Setup", setupItems, sizeof(setupItems) / sizeof(setupItems[0])},
    {101, "Define Table", defineItems, sizeof(defineItems) / sizeof(defineItems[0])},
};

// What the dialog procedure saw.
struct Seen {
  std::vector<std::string> messages;  // "init" or "<control>/<notification>"
  intptr_t param = 0;
};
Seen seen;

// A setup dialog: fills the combo and list at init, ends on OK and Cancel,
// and opens the Define dialog from 313.
intptr_t setupProc(KvWindow* dialog, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (message == kvWmInitDialog) {
    seen.messages.push_back("init");
    seen.param = lParam;
    for (const char* item : {"NONE", "FILE", "RECORD"}) kvAddListItem(kvGetDlgItem(dialog, 304), kvU(item));
    kvAddListItem(kvGetDlgItem(dialog, 306), kvU("a.dbf"));
    // The Define dialog (101), which shares this procedure, has no 401.
    kvIgnoreStatus(kvSetTextLimit(kvGetDlgItem(dialog, 401), 8));
    return 1;
  }
  if (message != kvWmCommand) return 0;
  const uint16_t id = uint16_t(wParam & 0xFFFF);
  seen.messages.push_back(std::to_string(id) + "/" + std::to_string(wParam >> 16));
  if (id == 1 || id == 2) {
    EXPECT_EQ(kvEndDialog(dialog, id == 1 ? 77 : 2), kvSuccess);
  }
  if (id == 313) seen.messages.push_back("define=" + std::to_string(kvDialogBoxParam(module, 101, dialog, setupProc, 0)));
  if (id == 201) seen.messages.push_back("typed");
  return 1;
}

std::vector<std::string> reports;
int recordReport(KvWindow*, const unsigned char* text, const unsigned char*, uint32_t) {
  reports.push_back(text ? kvC(text) : "");
  return kvIdOk;
}

class DialogScriptTest : public ErrorCapturingTest {
 protected:
  void SetUp() override {
    ErrorCapturingTest::SetUp();
    seen = Seen();
    reports.clear();
    previousHook_ = kvSetMessageBoxHook(recordReport);
    ASSERT_EQ(kvRegisterDialogTemplates(module, templates, 2), kvSuccess);
  }
  void TearDown() override {
    EXPECT_EQ(kvSetDialogScript(nullptr), kvSuccess);
    kvUnregisterDialogTemplates(module);
    kvSetMessageBoxHook(previousHook_);
    ErrorCapturingTest::TearDown();
  }
  // Shows the setup dialog; the dialog's controls are read by the
  // procedure's own checks, its result returned.
  intptr_t show(intptr_t param = 5) { return kvDialogBoxParam(module, 100, nullptr, setupProc, param); }
  void install(const std::string& script) { ASSERT_EQ(kvSetDialogScript(kvU(script.c_str())), kvSuccess) << script; }

  KvMessageBoxHook previousHook_ = nullptr;
  EnvironmentGuard environment_;
};

TEST_F(DialogScriptTest, TemplatesAreFoundByModuleAndId) {
  EXPECT_EQ(kvFindDialogTemplate(module, 101), &templates[1]);
  EXPECT_EQ(kvFindDialogTemplate(module, 102), nullptr);
  EXPECT_EQ(kvFindDialogTemplate(otherModule, 100), nullptr);
  ASSERT_EQ(kvRegisterDialogTemplates(module, templates, 1), kvSuccess) << "a second table replaces the first";
  EXPECT_EQ(kvFindDialogTemplate(module, 101), nullptr);
  kvUnregisterDialogTemplates(module);
  EXPECT_EQ(kvFindDialogTemplate(module, 100), nullptr);

  EXPECT_EQ(kvRegisterDialogTemplates(nullptr, templates, 1), kvFailure);
  EXPECT_EQ(firstErrorNumber(), 1517);
  // The table holds kvDialogModuleMax modules; one more is refused.
  static char modules[kvDialogModuleMax + 1];
  for (int i = 0; i < kvDialogModuleMax; ++i) ASSERT_EQ(kvRegisterDialogTemplates(&modules[i], templates, 2), kvSuccess);
  EXPECT_EQ(kvRegisterDialogTemplates(&modules[kvDialogModuleMax], templates, 2), kvFailure);
  for (int i = 0; i < kvDialogModuleMax; ++i) kvUnregisterDialogTemplates(&modules[i]);
}

TEST_F(DialogScriptTest, DialogIsBuiltFromItsTemplate) {
  KvWindow* owner = kvCreateWindow(kvWindowFrame, nullptr, 0, kvU("app"), nullptr);
  KvWindow* dialog = kvCreateDialogFromTemplate(&templates[0], owner);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(kvGetWindowKind(dialog), kvWindowDialog);
  EXPECT_EQ(kvGetParent(dialog), owner);
  unsigned char text[64];
  kvGetWindowText(dialog, text, sizeof(text));
  EXPECT_STREQ(kvC(text), "Test Setup");
  int count = 0;
  for (KvWindow* c = kvGetFirstChild(dialog); c; c = kvGetNextSibling(c), ++count) {
    EXPECT_EQ(kvGetWindowKind(c), setupItems[count].kind);
    EXPECT_EQ(kvGetDlgCtrlID(c), setupItems[count].id);
  }
  EXPECT_EQ(count, int(sizeof(setupItems) / sizeof(setupItems[0])));
  kvGetDlgItemText(dialog, 303, text, sizeof(text));
  EXPECT_STREQ(kvC(text), "&Warn");
  kvDestroyWindow(owner);
}

TEST_F(DialogScriptTest, WithoutAScriptNoDialogIsShown) {
  EXPECT_EQ(show(), -1);
  EXPECT_TRUE(seen.messages.empty()) << "the procedure never ran";
  EXPECT_TRUE(reports.empty()) << "a missing script is the normal case, not a fault";
}

TEST_F(DialogScriptTest, StepsArePlayedAsAUserWouldAndTheResultReturned) {
  install(
      "# a setup dialog filled in\n"
      "dialog 100\n"
      "  text 401 Sales data   \r\n"
      "check 303\n"
      "check 301\n"
      "check 302\n"
      "select 304 record\n"
      "select 306 A.DBF\n"
      "expect 304 RECORD\n"
      "expect-check 301 0\n"
      "expect-check 302 1\n"
      "expect-enabled 401 1\n"
      "ok\n");
  EXPECT_EQ(kvDialogScriptBlocksLeft(), 1u);
  EXPECT_EQ(show(42), 77) << "the result the procedure ended the dialog with";
  EXPECT_EQ(seen.param, 42);
  const std::vector<std::string> expected = {"init", "401/768", "303/0", "301/0", "302/0", "304/1", "306/1", "1/0"};
  EXPECT_EQ(seen.messages, expected);
  EXPECT_TRUE(reports.empty()) << (reports.empty() ? "" : reports[0]);
  EXPECT_EQ(kvDialogScriptBlocksLeft(), 0u);
  EXPECT_EQ(show(), -1) << "each block plays once";
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find("no block left for dialog 100"), std::string::npos) << reports[0];
}

TEST_F(DialogScriptTest, TypingStopsAtTheTextLimitAndRadioButtonsOfAGroupExcludeEachOther) {
  // 401 is limited to 8 at init; 310 is a radio button of another group.
  install(
      "dialog Test Setup\n"
      "check 310\n"
      "text 401 0123456789\n"
      "expect 401 01234567\n"
      "check 301\n"
      "expect-check 310 1\n"
      "check 302\n"
      "expect-check 301 0\n"
      "expect-check 310 1\n"
      "text 304 typed into a combo\n"
      "expect 304 typed into a combo\n"
      "text 401\n"
      "expect 401\n"
      "cancel\n");
  EXPECT_EQ(show(), 2);
  EXPECT_TRUE(reports.empty()) << (reports.empty() ? "" : reports[0]);
  EXPECT_EQ(seen.messages[seen.messages.size() - 3], "304/5") << "typing into a combo box";
}

TEST_F(DialogScriptTest, AStepThatCannotBeDoneEndsTheRunWithMinusOne) {
  struct Case {
    const char* steps;
    const char* reported;
  } cases[] = {
      {"text 999 x\nok\n", "has no control 999"},
      {"text 303 x\nok\n", "is a check box, which that step cannot work"},
      {"uncheck 301\nok\n", "is a radio button"},
      {"click 303\nok\n", "is a check box"},
      {"select 304 LOCKED\nok\n", "has no item \"LOCKED\""},
      {"expect 401 something\nok\n", "shows \"\", not \"something\""},
      {"expect-check 303 1\nok\n", "has check state 0, not 1"},
      {"expect-enabled 401 0\nok\n", "control 401 is enabled"},
      {"text 401 x\n", "still open after the last step"},
      {"ok\ncancel\n", "ended before this step"},
  };
  for (const Case& c : cases) {
    reports.clear();
    seen = Seen();
    install(std::string("dialog 100\n") + c.steps);
    EXPECT_EQ(show(), -1) << c.steps;
    ASSERT_EQ(reports.size(), 1u) << c.steps;
    EXPECT_NE(reports[0].find(c.reported), std::string::npos) << reports[0];
  }
  // A step after the failing one is never played.
  seen = Seen();
  install("dialog 100\ntext 999 x\nok\n");
  EXPECT_EQ(show(), -1);
  EXPECT_EQ(seen.messages, std::vector<std::string>{"init"});
}

intptr_t disablingProc(KvWindow* dialog, uint32_t message, uintptr_t, intptr_t) {
  if (message == kvWmInitDialog) {
    kvEnableWindow(kvGetDlgItem(dialog, 401), 0);
    kvShowWindow(kvGetDlgItem(dialog, 303), kvShowHide);
  }
  return 0;
}

TEST_F(DialogScriptTest, DisabledAndHiddenControlsCannotBeWorked) {
  for (const char* step : {"text 401 x", "check 303"}) {
    reports.clear();
    install(std::string("dialog 100\nexpect-enabled 401 0\n") + step + "\n");
    EXPECT_EQ(kvDialogBoxParam(module, 100, nullptr, disablingProc, 0), -1) << step;
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].find("is disabled") != std::string::npos || reports[0].find("is hidden") != std::string::npos)
        << reports[0];
  }
}

TEST_F(DialogScriptTest, BlocksAreMatchedByDialogInScriptOrderAndServeNestedDialogs) {
  install(
      "dialog Define Table\n"
      "text 201 first define\n"
      "ok\n"
      "dialog 100\n"
      "click 313\n"
      "click 313\n"
      "ok\n"
      "dialog 101\n"
      "text 201 second define\n"
      "ok\n");
  EXPECT_EQ(show(), 77);
  const std::vector<std::string> expected = {"init", "313/0", "init", "201/768", "typed", "1/0", "define=77",
                                             "313/0", "init", "201/768", "typed", "1/0", "define=77", "1/0"};
  EXPECT_EQ(seen.messages, expected);
  EXPECT_TRUE(reports.empty()) << (reports.empty() ? "" : reports[0]);
}

TEST_F(DialogScriptTest, ScriptsThatDoNotParseAreRefused) {
  install("dialog 100\nok\n");
  const char* bad[] = {
      "ok\n",                         // before any dialog line
      "dialog 100\nfrobnicate 3\n",   // no such step
      "dialog\n",                     // no dialog named
      "dialog 100\ntext abc x\n",     // no control id
      "dialog 100\ntext 70000 x\n",   // id out of range
      "dialog 100\ntext 401x\n",      // no blank after the id
      "dialog 100\ncheck 303 on\n",   // more than a control id
      "dialog 100\nselect 304\n",     // no item
      "dialog 100\nexpect-check 303 3\n",
      "dialog 100\nexpect-enabled 401\n",
      "dialog 100\nok now\n",
  };
  for (const char* script : bad) {
    reports.clear();
    clearErrors();
    EXPECT_EQ(kvSetDialogScript(kvU(script)), kvFailure) << script;
    EXPECT_EQ(firstErrorNumber(), 1517);
    EXPECT_EQ(reports.size(), 1u) << script;
  }
  EXPECT_EQ(kvDialogScriptBlocksLeft(), 1u) << "the script installed before stays";
  EXPECT_EQ(show(), 77);
}

TEST_F(DialogScriptTest, ADialogWithoutTemplateOrBlockIsNotShown) {
  install("dialog 100\nok\n");
  EXPECT_EQ(kvDialogBoxParam(otherModule, 100, nullptr, setupProc, 0), -1);
  EXPECT_EQ(kvDialogBoxParam(module, 101, nullptr, setupProc, 0), -1);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_NE(reports[0].find("has no dialog 100"), std::string::npos) << reports[0];
  EXPECT_NE(reports[1].find("no block left for dialog 101 \"Define Table\""), std::string::npos) << reports[1];
  EXPECT_EQ(kvDialogScriptBlocksLeft(), 1u);
  EXPECT_TRUE(seen.messages.empty());
}

TEST_F(DialogScriptTest, EndingNeedsADialogWindow) {
  KvWindow* frame = kvCreateWindow(kvWindowFrame, nullptr, 0, nullptr, nullptr);
  EXPECT_EQ(kvEndDialog(frame, 1), kvFailure);
  EXPECT_EQ(kvEndDialog(nullptr, 1), kvFailure);
  EXPECT_EQ(firstErrorNumber(), 1517);
  intptr_t result = 0;
  EXPECT_EQ(kvIsDialogEnded(frame, &result), 0);
  kvDestroyWindow(frame);
}

TEST_F(DialogScriptTest, AScriptFileNamedByTheEnvironmentIsPlayed) {
  ScratchDirectory scratch;
  ASSERT_TRUE(scratch.make("kvdlg"));
  writeFile(scratch.path("one.txt"), "dialog 100\r\ntext 401 from file\r\nexpect 401 from fil   \r\nok\r\n");
  writeFile(scratch.path("two.txt"), "dialog 100\ncancel\n");
  writeFile(scratch.path("bad.txt"), "dialog 100\nclick\n");
  environment_.set(KV_DIALOG_SCRIPT_VARIABLE, scratch.path("one.txt"));
  EXPECT_EQ(show(), 77) << "CRLF lines; 401 takes 8 characters; trailing blanks belong to no step";
  EXPECT_TRUE(reports.empty()) << (reports.empty() ? "" : reports[0]);

  environment_.set(KV_DIALOG_SCRIPT_VARIABLE, scratch.path("two.txt"));
  EXPECT_EQ(show(), 2) << "another file is read when the variable names it";
  EXPECT_EQ(show(), -1) << "and its block was played";

  reports.clear();
  environment_.set(KV_DIALOG_SCRIPT_VARIABLE, scratch.path("bad.txt"));
  EXPECT_EQ(show(), -1);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find("bad.txt line 2"), std::string::npos) << reports[0];

  reports.clear();
  environment_.set(KV_DIALOG_SCRIPT_VARIABLE, scratch.path("missing.txt"));
  EXPECT_EQ(show(), -1);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find("missing.txt"), std::string::npos) << reports[0];
  EXPECT_TRUE(errors().empty()) << "the file's errors are reported, not left in the caller's list";

  install("dialog 100\nok\n");
  EXPECT_EQ(show(), 77) << "a script installed in the process comes first";
}

}  // namespace
