// Headless windows: a dialog filled and read through its controls, handles
// that name no window, properties, geometry of children, visibility,
// focus and activation across destruction, and use from several threads.
#include "platform/headless/headless_window.h"

#include "tests/util/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

// Top-level windows a test makes are destroyed afterwards.
class HeadlessWindowTest : public ErrorCapturingTest {
 protected:
  void TearDown() override {
    for (KvWindow* w : topLevel_) kvDestroyWindow(w);
    ErrorCapturingTest::TearDown();
  }
  KvWindow* topLevel(KvWindowKind kind, KvWindow* owner = nullptr, KvRect rect = {0, 0, 300, 200}) {
    KvWindow* w = kvCreateWindow(kind, owner, 0, kvU("Setup"), &rect);
    EXPECT_NE(w, nullptr);
    if (!owner) topLevel_.push_back(w);
    return w;
  }
  KvWindow* control(KvWindowKind kind, KvWindow* parent, uint16_t id, const char* text = nullptr) {
    KvRect rect{10, 20, 110, 40};
    KvWindow* w = kvCreateWindow(kind, parent, id, text ? kvU(text) : nullptr, &rect);
    EXPECT_NE(w, nullptr);
    return w;
  }
  static std::string textOf(KvWindow* w) {
    unsigned char buffer[256];
    kvGetWindowText(w, buffer, sizeof(buffer));
    return kvC(buffer);
  }
  static std::string itemOf(KvWindow* w, int32_t index) {
    unsigned char buffer[256];
    return kvGetListItemText(w, index, buffer, sizeof(buffer)) < 0 ? "<none>" : kvC(buffer);
  }

  std::vector<KvWindow*> topLevel_;
};

TEST_F(HeadlessWindowTest, DialogIsFilledAndReadThroughItsControls) {
  KvWindow* dialog = topLevel(kvWindowDialog);
  KvWindow* name = control(kvWindowEdit, dialog, 401);
  KvWindow* oem = control(kvWindowCheckBox, dialog, 302, "&Perform OEM to ANSI Translation");
  control(kvWindowRadioButton, dialog, 306, "Pro&mpt for Definition");
  control(kvWindowRadioButton, dialog, 307, "&Guess Definition");

  EXPECT_EQ(kvGetDlgItem(dialog, 401), name);
  EXPECT_EQ(kvGetDlgItem(dialog, 999), nullptr);
  EXPECT_EQ(kvGetDlgCtrlID(oem), 302);
  EXPECT_EQ(kvGetWindowKind(oem), kvWindowCheckBox);

  ASSERT_EQ(kvSetDlgItemText(dialog, 401, kvU("Sales data")), kvSuccess);
  unsigned char buffer[64];
  EXPECT_EQ(kvGetDlgItemText(dialog, 401, buffer, sizeof(buffer)), 10u);
  EXPECT_STREQ(kvC(buffer), "Sales data");
  EXPECT_EQ(kvGetWindowTextLength(name), 10u);
  ASSERT_EQ(kvSetTextLimit(name, 32), kvSuccess);
  EXPECT_EQ(kvGetTextLimit(name), 32u);

  EXPECT_EQ(kvIsDlgButtonChecked(dialog, 302), kvUnchecked);
  ASSERT_EQ(kvCheckDlgButton(dialog, 302, kvChecked), kvSuccess);
  EXPECT_EQ(kvIsDlgButtonChecked(dialog, 302), kvChecked);
  EXPECT_EQ(kvCheckDlgButton(dialog, 302, 3), kvFailure);
  EXPECT_EQ(kvIsDlgButtonChecked(dialog, 302), kvChecked);

  ASSERT_EQ(kvCheckRadioButton(dialog, 306, 307, 307), kvSuccess);
  EXPECT_EQ(kvIsDlgButtonChecked(dialog, 306), kvUnchecked);
  EXPECT_EQ(kvIsDlgButtonChecked(dialog, 307), kvChecked);
  ASSERT_EQ(kvCheckRadioButton(dialog, 306, 307, 306), kvSuccess);
  EXPECT_EQ(kvIsDlgButtonChecked(dialog, 306), kvChecked);
  EXPECT_EQ(kvIsDlgButtonChecked(dialog, 307), kvUnchecked);
  EXPECT_EQ(kvIsDlgButtonChecked(dialog, 302), kvChecked);  // outside the range

  EXPECT_EQ(kvIsWindowEnabled(oem), 1);
  EXPECT_EQ(kvEnableWindow(oem, 0), 0);  // was enabled
  EXPECT_EQ(kvIsWindowEnabled(oem), 0);
  EXPECT_NE(kvEnableWindow(oem, 1), 0);  // was disabled

  std::vector<uint16_t> ids;
  for (KvWindow* c = kvGetFirstChild(dialog); c; c = kvGetNextSibling(c)) ids.push_back(kvGetDlgCtrlID(c));
  EXPECT_EQ(ids, (std::vector<uint16_t>{401, 302, 306, 307}));
}

TEST_F(HeadlessWindowTest, TextIsCutToTheBufferAndEmptyWhenCleared) {
  KvWindow* dialog = topLevel(kvWindowDialog);
  unsigned char buffer[5] = {'x', 'x', 'x', 'x', 'x'};
  EXPECT_EQ(kvGetWindowText(dialog, buffer, 4), 3u);
  EXPECT_STREQ(kvC(buffer), "Set");
  EXPECT_EQ(kvGetWindowText(dialog, buffer, 0), 0u);
  EXPECT_EQ(buffer[0], 'S');  // size 0 writes nothing
  ASSERT_EQ(kvSetWindowText(dialog, nullptr), kvSuccess);
  EXPECT_EQ(textOf(dialog), "");
  EXPECT_EQ(kvGetWindowTextLength(dialog), 0u);
}

TEST_F(HeadlessWindowTest, ListItemsAndSelection) {
  KvWindow* dialog = topLevel(kvWindowDialog);
  KvWindow* list = control(kvWindowListBox, dialog, 317);
  EXPECT_EQ(kvGetListSelection(list), -1);
  EXPECT_EQ(kvAddListItem(list, kvU("NAME")), 0);
  EXPECT_EQ(kvAddListItem(list, kvU("CITY")), 1);
  EXPECT_EQ(kvInsertListItem(list, 0, kvU("ID")), 0);
  EXPECT_EQ(kvGetListCount(list), 3);
  EXPECT_EQ(itemOf(list, 0), "ID");
  EXPECT_EQ(itemOf(list, 2), "CITY");
  EXPECT_EQ(itemOf(list, 3), "<none>");
  EXPECT_EQ(kvFindListItem(list, kvU("city")), 2);
  EXPECT_EQ(kvFindListItem(list, kvU("CIT")), -1);

  ASSERT_EQ(kvSetListSelection(list, 2), kvSuccess);
  EXPECT_EQ(kvInsertListItem(list, 1, kvU("ZIP")), 1);  // the selection follows its item
  EXPECT_EQ(kvGetListSelection(list), 3);
  ASSERT_EQ(kvDeleteListItem(list, 0), kvSuccess);
  EXPECT_EQ(kvGetListSelection(list), 2);
  EXPECT_EQ(itemOf(list, 2), "CITY");
  ASSERT_EQ(kvDeleteListItem(list, 2), kvSuccess);  // deleting the selected item clears it
  EXPECT_EQ(kvGetListSelection(list), -1);

  EXPECT_EQ(kvSetListSelection(list, 5), kvFailure);
  EXPECT_EQ(kvDeleteListItem(list, -1), kvFailure);
  EXPECT_EQ(kvInsertListItem(list, 9, kvU("far")), -1);
  EXPECT_EQ(lastErrorNumber(), 1517);
  EXPECT_EQ(kvGetListCount(list), 2);

  kvResetList(list);
  EXPECT_EQ(kvGetListCount(list), 0);
}

TEST_F(HeadlessWindowTest, ComboBoxTextFollowsItsSelection) {
  KvWindow* dialog = topLevel(kvWindowDialog);
  KvWindow* combo = control(kvWindowComboBox, dialog, 304);
  for (const char* type : {"Comma", "Tab", "Fixed", "Character"}) kvAddListItem(combo, kvU(type));
  ASSERT_EQ(kvSetListSelection(combo, kvFindListItem(combo, kvU("FIXED"))), kvSuccess);
  EXPECT_EQ(textOf(combo), "Fixed");
  ASSERT_EQ(kvSetListSelection(combo, -1), kvSuccess);
  EXPECT_EQ(textOf(combo), "");
  EXPECT_EQ(kvSetListSelection(combo, 1), kvSuccess);
  kvResetList(combo);
  EXPECT_EQ(textOf(combo), "");
  EXPECT_EQ(kvGetListSelection(combo), -1);
}

TEST_F(HeadlessWindowTest, HandlesThatNameNoWindowAreRefused) {
  int notAWindow = 42;
  const void* foreign = &notAWindow;
  KvWindow* bogus = reinterpret_cast<KvWindow*>(&notAWindow);
  KvWindow* dialog = topLevel(kvWindowDialog);
  KvWindow* edit = control(kvWindowEdit, dialog, 1);
  kvDestroyWindow(dialog);
  topLevel_.clear();

  for (KvWindow* dead : {bogus, dialog, edit, static_cast<KvWindow*>(nullptr)}) {
    EXPECT_EQ(kvIsWindow(dead), 0);
    EXPECT_EQ(kvSetWindowText(dead, kvU("x")), kvFailure);
    EXPECT_EQ(textOf(dead), "");
    EXPECT_EQ(kvSetProp(dead, kvU("Offset"), &notAWindow), kvFailure);
    EXPECT_EQ(kvGetProp(dead, kvU("Offset")), nullptr);
    EXPECT_EQ(kvAddListItem(dead, kvU("x")), -1);
    EXPECT_EQ(kvGetParent(dead), nullptr);
    EXPECT_EQ(kvGetDlgItem(dead, 1), nullptr);
    KvRect r{1, 2, 3, 4};
    EXPECT_EQ(kvGetWindowRect(dead, &r), kvFailure);
    EXPECT_EQ(kvMoveWindow(dead, 0, 0, 1, 1), kvFailure);
    EXPECT_EQ(kvShowWindow(dead, kvShowHide), 0);
    EXPECT_EQ(kvSetFocus(dead), nullptr);
    EXPECT_EQ(kvCreateWindow(kvWindowButton, dead, 1, nullptr, nullptr), nullptr);
    kvDestroyWindow(dead);
  }
  EXPECT_EQ(kvWindowFromHandle(foreign), nullptr);
  EXPECT_EQ(lastErrorNumber(), 1517);
  EXPECT_EQ(notAWindow, 42);
}

TEST_F(HeadlessWindowTest, ControlsNeedAParent) {
  EXPECT_EQ(kvCreateWindow(kvWindowEdit, nullptr, 1, nullptr, nullptr), nullptr);
  EXPECT_EQ(lastErrorNumber(), 1517);
  EXPECT_EQ(kvCreateWindow(static_cast<KvWindowKind>(40), nullptr, 1, nullptr, nullptr), nullptr);
  KvWindow* frame = kvCreateWindow(kvWindowFrame, nullptr, 0, nullptr, nullptr);
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(kvWindowFromHandle(static_cast<const void*>(frame)), frame);
  KvRect r{};
  EXPECT_EQ(kvGetWindowRect(frame, &r), kvSuccess);
  EXPECT_EQ(r.right - r.left, 0);
  kvDestroyWindow(frame);
}

TEST_F(HeadlessWindowTest, PropertiesKeepWholePointersUnderCaseInsensitiveNames) {
  KvWindow* dialog = topLevel(kvWindowDialog);
  void* high = reinterpret_cast<void*>(static_cast<uintptr_t>(0xFEDCBA9876543210ull));
  int local = 0;
  ASSERT_EQ(kvSetProp(dialog, kvU("Segm"), high), kvSuccess);
  ASSERT_EQ(kvSetProp(dialog, kvU("Offset"), &local), kvSuccess);
  EXPECT_EQ(kvGetProp(dialog, kvU("SEGM")), high);
  EXPECT_EQ(kvGetProp(dialog, kvU("offset")), &local);
  ASSERT_EQ(kvSetProp(dialog, kvU("segm"), &local), kvSuccess);  // replaces
  EXPECT_EQ(kvGetProp(dialog, kvU("Segm")), &local);
  EXPECT_EQ(kvRemoveProp(dialog, kvU("SEGM")), &local);
  EXPECT_EQ(kvGetProp(dialog, kvU("Segm")), nullptr);
  EXPECT_EQ(kvRemoveProp(dialog, kvU("Segm")), nullptr);
  EXPECT_EQ(kvGetProp(dialog, kvU("Offset")), &local);
  EXPECT_EQ(kvGetProp(dialog, kvU("Off")), nullptr);
}

TEST_F(HeadlessWindowTest, ChildrenArePlacedInTheirParentAndOwnedDialogsOnTheScreen) {
  KvWindow* frame = topLevel(kvWindowFrame, nullptr, {100, 50, 700, 550});
  KvWindow* dialog = topLevel(kvWindowDialog, frame, {200, 100, 500, 300});
  KvWindow* group = control(kvWindowStatic, dialog, 10);
  KvWindow* inner = control(kvWindowCheckBox, group, 11);
  KvRect r{};
  ASSERT_EQ(kvGetWindowRect(inner, &r), kvSuccess);
  EXPECT_EQ(r.left, 200 + 10 + 10);
  EXPECT_EQ(r.top, 100 + 20 + 20);
  EXPECT_EQ(r.right - r.left, 100);
  ASSERT_EQ(kvGetWindowRect(dialog, &r), kvSuccess);  // not moved by its owner
  EXPECT_EQ(r.left, 200);

  ASSERT_EQ(kvSetWindowPosition(dialog, 0, 0), kvSuccess);
  ASSERT_EQ(kvGetWindowRect(inner, &r), kvSuccess);
  EXPECT_EQ(r.left, 20);
  EXPECT_EQ(r.bottom - r.top, 20);
  ASSERT_EQ(kvMoveWindow(inner, 1, 2, -5, 7), kvSuccess);
  ASSERT_EQ(kvGetWindowRect(inner, &r), kvSuccess);
  EXPECT_EQ(r.right - r.left, 0);
  EXPECT_EQ(r.bottom - r.top, 7);

  EXPECT_EQ(kvGetParent(inner), group);
  EXPECT_EQ(kvGetParent(dialog), frame);
  EXPECT_EQ(kvIsChild(dialog, inner), 1);
  EXPECT_EQ(kvIsChild(group, inner), 1);
  EXPECT_EQ(kvIsChild(frame, dialog), 0);  // owned, not a child
  EXPECT_EQ(kvIsChild(frame, inner), 0);
  EXPECT_EQ(kvIsChild(inner, group), 0);
}

TEST_F(HeadlessWindowTest, VisibilityAndMinimising) {
  KvWindow* frame = topLevel(kvWindowFrame);
  KvWindow* dialog = topLevel(kvWindowDialog, frame);
  KvWindow* button = control(kvWindowButton, dialog, 1, "OK");
  EXPECT_EQ(kvIsWindowVisible(button), 1);
  EXPECT_EQ(kvShowWindow(dialog, kvShowHide), 1);
  EXPECT_EQ(kvIsWindowVisible(button), 0);  // hidden with its parent
  EXPECT_EQ(kvShowWindow(dialog, kvShowShow), 0);
  EXPECT_EQ(kvShowWindow(frame, kvShowHide), 1);
  EXPECT_EQ(kvIsWindowVisible(dialog), 1);  // an owned window has its own
  EXPECT_EQ(kvIsIconic(frame), 0);
  kvShowWindow(frame, kvShowMinimize);
  EXPECT_EQ(kvIsIconic(frame), 1);
  EXPECT_EQ(kvIsWindowVisible(frame), 1);
  kvShowWindow(frame, kvShowShow);
  EXPECT_EQ(kvIsIconic(frame), 1);
  kvShowWindow(frame, kvShowRestore);
  EXPECT_EQ(kvIsIconic(frame), 0);
}

TEST_F(HeadlessWindowTest, FocusAndActivationEndWithTheirWindow) {
  KvWindow* frame = topLevel(kvWindowFrame);
  KvWindow* dialog = kvCreateWindow(kvWindowDialog, frame, 0, nullptr, nullptr);
  KvWindow* edit = control(kvWindowEdit, dialog, 401);
  EXPECT_EQ(kvSetActiveWindow(frame), nullptr);
  EXPECT_EQ(kvSetActiveWindow(dialog), frame);
  EXPECT_EQ(kvSetActiveWindow(edit), nullptr);  // a control cannot be active
  EXPECT_EQ(kvGetActiveWindow(), dialog);
  kvSetFocus(edit);
  EXPECT_EQ(kvGetFocus(), edit);

  kvDestroyWindow(frame);  // takes the owned dialog and its controls along
  topLevel_.clear();
  EXPECT_EQ(kvIsWindow(dialog), 0);
  EXPECT_EQ(kvIsWindow(edit), 0);
  EXPECT_EQ(kvGetFocus(), nullptr);
  EXPECT_EQ(kvGetActiveWindow(), nullptr);
}

TEST_F(HeadlessWindowTest, ThreadsMakeUseAndDestroyWindowsTogether) {
  const int threads = 6, rounds = 200;
  std::atomic<KvWindow*> shared{nullptr};
  std::atomic<int> failures{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; t++) {
    workers.emplace_back([&] {
      KvErrorList errors(nullptr, 1);
      KvErrorKeeper::setErrorList(&errors);
      for (int i = 0; i < rounds; i++) {
        KvWindow* dialog = kvCreateWindow(kvWindowDialog, nullptr, 0, kvU("d"), nullptr);
        KvWindow* list = kvCreateWindow(kvWindowListBox, dialog, 7, nullptr, nullptr);
        if (!dialog || !list || kvAddListItem(list, kvU("item")) != 0) failures++;
        // Another thread's dialog is read and destroyed here; afterwards its
        // handle names no window (or, once the memory is reused, a new one).
        KvWindow* other = shared.exchange(dialog);
        unsigned char buffer[8];
        kvGetWindowText(other, buffer, sizeof(buffer));
        kvGetListItemText(kvGetDlgItem(other, 7), 0, buffer, sizeof(buffer));
        kvDestroyWindow(other);
        kvGetListItemText(kvGetDlgItem(other, 7), 0, buffer, sizeof(buffer));
      }
      KvErrorKeeper::giveUpErrorList();
    });
  }
  for (std::thread& w : workers) w.join();
  kvDestroyWindow(shared.load());
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
