// The library's windows without a window layer: with the headless windows'
// hooks taken out, nothing can be made and every handle names no window,
// so the trace window and the window helpers fail plainly instead of
// following a handle.
#include "util/os/window_hooks.h"

#include "platform/headless/headless_window.h"
#include "tests/util/test_support.h"
#include "util/os/trace.h"
#include "util/os/win_util.h"

namespace {

// Takes the installed hooks out for the test and puts them back afterwards.
class NoWindowSystemTest : public ErrorCapturingTest {
 protected:
  void SetUp() override {
    ErrorCapturingTest::SetUp();
    headless_ = kvSetWindowHooks(nullptr);
  }
  void TearDown() override {
    EXPECT_EQ(kvSetWindowHooks(headless_), nullptr);
    ErrorCapturingTest::TearDown();
  }

  const KvWindowHooks* headless_ = nullptr;
};

TEST_F(NoWindowSystemTest, TheHeadlessLayerInstalledItsWindows) {
  ASSERT_NE(headless_, nullptr);
  EXPECT_EQ(headless_->createWindow, &kvCreateWindow);
  EXPECT_EQ(headless_->setTextLimit, &kvSetTextLimit);
}

TEST_F(NoWindowSystemTest, TheTraceWindowCannotBeMade) {
  KvTrace trace;
  EXPECT_EQ(trace.initialize(nullptr, 1, nullptr), kvFailure);
  EXPECT_EQ(errors(), (std::vector<uint16_t>{2719}));
  EXPECT_EQ(trace.getWindow(), nullptr);
  EXPECT_FALSE(trace.getFlags() & KvTrace::flagInitialised);
}

TEST_F(NoWindowSystemTest, AWindowOfTheHeadlessLayerIsNoWindowHere) {
  ASSERT_NE(headless_, nullptr);
  KvWindow* dialog = headless_->createWindow(kvWindowDialog, nullptr, 0, nullptr, nullptr);
  ASSERT_NE(dialog, nullptr);
  int object = 0;
  EXPECT_EQ(kvSetWinPointer(dialog, &object), kvFailure);
  EXPECT_EQ(kvGetWinPointer(dialog), nullptr);
  kvRemoveWinPointer(dialog);
  EXPECT_EQ(winCenterBox(dialog), kvFailure);
  EXPECT_EQ(errors(), (std::vector<uint16_t>{1517, 1517}));
  EXPECT_EQ(headless_->getProp(dialog, kvU("Offset")), nullptr);
  headless_->destroyWindow(dialog);
}

}  // namespace
