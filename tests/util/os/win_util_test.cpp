// Window utilities: whole pointers kept on a window, dialog centring with
// its screen rules, and unique accelerators for dialog texts.
#include "util/os/win_util.h"

#include "platform/headless/headless_window.h"
#include "tests/util/test_support.h"
#include "util/resource.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// Top-level windows a test makes are destroyed afterwards.
class WinUtilTest : public ErrorCapturingTest {
 protected:
  void TearDown() override {
    for (KvWindow* w : made_) kvDestroyWindow(w);
    ErrorCapturingTest::TearDown();
  }
  KvWindow* make(KvWindowKind kind, KvWindow* parent, KvRect rect) {
    KvWindow* w = kvCreateWindow(kind, parent, 0, nullptr, &rect);
    EXPECT_NE(w, nullptr);
    if (!parent) made_.push_back(w);
    return w;
  }
  static KvRect rectOf(KvWindow* w) {
    KvRect r{};
    EXPECT_EQ(kvGetWindowRect(w, &r), kvSuccess);
    return r;
  }

  std::vector<KvWindow*> made_;
};

TEST_F(WinUtilTest, WinPointerIsKeptWhole) {
  KvWindow* dialog = make(kvWindowDialog, nullptr, {0, 0, 10, 10});
  EXPECT_EQ(kvGetWinPointer(dialog), nullptr);
  // A pointer whose halves above 16 and 32 bits all matter.
  void* pointer = reinterpret_cast<void*>(static_cast<uintptr_t>(0x7F12345678ABCDEFull));
  ASSERT_EQ(kvSetWinPointer(dialog, pointer), kvSuccess);
  EXPECT_EQ(kvGetWinPointer(dialog), pointer);
  int local = 0;
  ASSERT_EQ(kvSetWinPointer(dialog, &local), kvSuccess);
  EXPECT_EQ(kvGetWinPointer(dialog), &local);
  kvRemoveWinPointer(dialog);
  EXPECT_EQ(kvGetWinPointer(dialog), nullptr);
}

TEST_F(WinUtilTest, WinPointerOnSomethingThatIsNoWindow) {
  int notAWindow = 0;
  KvWindow* bogus = reinterpret_cast<KvWindow*>(&notAWindow);
  EXPECT_EQ(kvSetWinPointer(bogus, &notAWindow), kvFailure);
  EXPECT_EQ(list_->getErrorAtPos(0)->getNumber(), 1517);
  EXPECT_EQ(kvGetWinPointer(bogus), nullptr);
  kvRemoveWinPointer(bogus);
  EXPECT_EQ(kvGetWinPointer(nullptr), nullptr);
  EXPECT_EQ(notAWindow, 0);
}

TEST_F(WinUtilTest, CentreOverParentOrScreen) {
  struct Case {
    KvRect parent;  // left == right == -1: no parent
    int32_t width, height;
    int32_t x, y;
    const char* what;
  } cases[] = {
      {{-1, -1, -1, -1}, 200, 100, 412, 334, "screen"},
      {{100, 100, 500, 400}, 200, 100, 200, 200, "inside the parent"},
      {{100, 100, 500, 400}, 500, 350, 50, 75, "larger than the parent"},
      {{900, 0, 1100, 200}, 300, 100, 724, 50, "past the right edge"},
      {{0, 700, 400, 900}, 100, 100, 150, 668, "past the bottom edge"},
      {{0, -400, 400, -100}, 100, 100, 150, 0, "negative top"},
      {{-600, 0, -200, 100}, 100, 50, -450, 25, "negative left stays"},
      {{0, 0, 400, 300}, 1200, 100, 0, 100, "wider than the screen"},
      {{0, 0, 400, 300}, 100, 900, 150, 0, "taller than the screen"},
  };
  for (const Case& c : cases) {
    KvWindow* parent = nullptr;
    if (c.parent.left != -1 || c.parent.right != -1) parent = make(kvWindowFrame, nullptr, c.parent);
    KvWindow* dialog = make(kvWindowDialog, parent, {5, 5, 5 + c.width, 5 + c.height});
    ASSERT_EQ(winCenterBox(dialog), kvSuccess) << c.what;
    KvRect r = rectOf(dialog);
    EXPECT_EQ(r.left, c.x) << c.what;
    EXPECT_EQ(r.top, c.y) << c.what;
    EXPECT_EQ(r.right - r.left, c.width) << c.what;
    EXPECT_EQ(r.bottom - r.top, c.height) << c.what;
  }
}

TEST_F(WinUtilTest, MinimisedTopLevelOwnerMeansTheScreen) {
  KvWindow* frame = make(kvWindowFrame, nullptr, {0, 0, 300, 300});
  KvWindow* owner = make(kvWindowDialog, frame, {10, 10, 210, 110});
  KvWindow* dialog = make(kvWindowDialog, owner, {0, 0, 100, 100});
  kvShowWindow(frame, kvShowMinimize);
  ASSERT_EQ(winCenterBox(dialog), kvSuccess);
  EXPECT_EQ(rectOf(dialog).left, (kvScreenWidth - 100) / 2);
  EXPECT_EQ(rectOf(dialog).top, (kvScreenHeight - 100) / 2);

  kvShowWindow(frame, kvShowRestore);
  ASSERT_EQ(winCenterBox(dialog), kvSuccess);
  EXPECT_EQ(rectOf(dialog).left, 60);
  EXPECT_EQ(rectOf(dialog).top, 10);
}

TEST_F(WinUtilTest, CentredControlIsPlacedRelativeToItsParent) {
  KvWindow* dialog = make(kvWindowDialog, nullptr, {100, 100, 500, 400});
  KvWindow* button = make(kvWindowButton, dialog, {0, 0, 100, 50});
  ASSERT_EQ(winCenterBox(button), kvSuccess);
  KvRect screen = rectOf(button);
  EXPECT_EQ(screen.left, 250);
  EXPECT_EQ(screen.top, 225);
  EXPECT_EQ(kvMoveWindow(dialog, 0, 0, 400, 300), kvSuccess);  // the control moves with its parent
  EXPECT_EQ(rectOf(button).left, 150);
  EXPECT_EQ(rectOf(button).top, 125);
}

TEST_F(WinUtilTest, CentreSomethingThatIsNoWindow) {
  int notAWindow = 0;
  EXPECT_EQ(winCenterBox(reinterpret_cast<KvWindow*>(&notAWindow)), kvFailure);
  EXPECT_EQ(winCenterBox(nullptr), kvFailure);
}

bool isMarked(const unsigned char* used, unsigned char c) { return (used[c >> 3] >> (c & 7)) & 1; }

TEST(Accelerators, SetAcceleratorKeyMarksTheUpperCasedCharacterAfterTheFirstMarker) {
  unsigned char used[32] = {0};
  setAcceleratorKeyWithMarkers(used, kvU("Sa&ve && &Quit"), kvU("&"));
  EXPECT_TRUE(isMarked(used, 'V'));
  EXPECT_FALSE(isMarked(used, 'v'));
  EXPECT_FALSE(isMarked(used, 'Q'));
  setAcceleratorKeyWithMarkers(used, kvU("\xE9t\xE9"), kvU("&"));  // no marker: nothing
  setAcceleratorKeyWithMarkers(used, kvU("Trailing&"), kvU("&"));
  setAcceleratorKeyWithMarkers(used, kvU("&\xE9t\xE9"), kvU("&"));
  EXPECT_TRUE(isMarked(used, 0xC9));  // é upper-cased in Windows-1252
  int count = 0;
  for (int c = 0; c < 256; c++) count += isMarked(used, static_cast<unsigned char>(c));
  EXPECT_EQ(count, 2);
}

TEST(Accelerators, MakeDialogTextGivesEachTextAFreeAccelerator) {
  unsigned char used[32] = {0};
  struct Case {
    const char* text;
    const char* arg;
    const char* expected;
  } cases[] = {
      {"Open", nullptr, "&Open"},
      {"Options", nullptr, "O&ptions"},
      {"  Print", nullptr, "  P&rint"},        // white space is skipped, P is taken
      {"E&xit", nullptr, "E&xit"},             // a marker already there stays
      {"Define %s...", "Table", "&Define Table..."},
      {"100%% of %s %s", "x", "&100% of x %s"},  // only the first %s takes the argument
      {"OPR", nullptr, "&OPR"},                // everything taken: the first character
      {"", nullptr, ""},
  };
  for (const Case& c : cases) {
    unsigned char text[64];
    std::strcpy(kvC(text), c.text);
    makeDialogTextWithMarkers(used, text, sizeof(text), c.arg ? kvU(c.arg) : nullptr, kvU("&"));
    EXPECT_STREQ(kvC(text), c.expected) << c.text;
  }
  for (unsigned char c : {'O', 'P', 'R', 'X', 'D', '1'}) EXPECT_TRUE(isMarked(used, c)) << c;
}

TEST(Accelerators, MakeDialogTextStaysInsideTheBuffer) {
  unsigned char used[32] = {0};
  unsigned char text[8];
  std::memset(text, 'z', sizeof(text));
  std::strcpy(kvC(text), "Name");
  makeDialogTextWithMarkers(used, text, 5, nullptr, kvU("&"));  // no room for a marker
  EXPECT_STREQ(kvC(text), "Name");
  EXPECT_EQ(text[5], 'z');

  std::strcpy(kvC(text), "Go %s");
  makeDialogTextWithMarkers(used, text, 8, kvU("somewhere far"), kvU("&"));
  EXPECT_STREQ(kvC(text), "Go some");  // cut to 7 characters; no room left for a marker
}

TEST(Accelerators, WithoutMarkersTextsAreOnlyFormatted) {
  unsigned char used[32] = {0};
  unsigned char text[32] = "Open %s";
  makeDialogTextWithMarkers(used, text, sizeof(text), kvU("File"), kvU(""));
  EXPECT_STREQ(kvC(text), "Open File");
  for (unsigned char b : used) EXPECT_EQ(b, 0);
}

TEST(Accelerators, LibraryMarkersComeFromString21800) {
  unsigned char markers[64] = {0};
  kvLoadUtilityString(markers, kvStrAcceleratorMarkers, sizeof(markers));
  unsigned char usedA[32] = {0}, usedB[32] = {0};
  unsigned char a[32] = "Open %s", b[32] = "Open %s";
  makeDialogText(usedA, a, sizeof(a), kvU("File"));
  makeDialogTextWithMarkers(usedB, b, sizeof(b), kvU("File"), markers);
  EXPECT_STREQ(kvC(a), kvC(b));
  EXPECT_EQ(std::memcmp(usedA, usedB, 32), 0);
}

}  // namespace
