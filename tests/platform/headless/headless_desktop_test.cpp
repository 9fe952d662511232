// Help and the message pump without a display: both do nothing and succeed.
#include "platform/headless/headless_desktop.h"

#include <gtest/gtest.h>

namespace {

TEST(Help, SucceedsWithoutDoingAnything) {
  EXPECT_NE(kvWinHelp(nullptr, kvU("/usr/lib/libkvtext.HLP"), kvHelpContext, 505), 0);
  kvPumpMessages();
}

}  // namespace
