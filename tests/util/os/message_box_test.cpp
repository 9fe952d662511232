// Message boxes without a display: boxes are reported on stderr through a
// hook that others can put in front, and answered as the system answers a
// box it cannot show.
#include "util/os/message_box.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> seen;
KvMessageBoxHook passedOn = nullptr;

int recordingHook(KvWindow* owner, const unsigned char* text, const unsigned char* caption, uint32_t style) {
  seen.push_back(std::string(caption ? kvC(caption) : "") + "|" + (text ? kvC(text) : ""));
  return passedOn(owner, text, caption, style);
}

TEST(MessageBox, DefaultReportsOnStderr) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(kvMessageBox(nullptr, kvU("Cannot open file 'x'."), kvU("Warning"),
                         kvMbOk | kvMbIconExclamation | kvMbTaskModal),
            kvIdOk);
  EXPECT_EQ(kvMessageBox(nullptr, kvU("No caption"), nullptr, kvMbOk), kvIdOk);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Warning: Cannot open file 'x'.\nNo caption\n");
}

TEST(MessageBox, QuestionsGetNoAnswer) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(kvMessageBox(nullptr, kvU("Would you like to enter some now?"), kvU("Define Table"),
                         kvMbYesNo | kvMbIconQuestion),
            0);
  EXPECT_EQ(kvMessageBox(nullptr, kvU("Continue?"), kvU("Q"), kvMbOkCancel), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Define Table: Would you like to enter some now?\nQ: Continue?\n");
}

TEST(MessageBox, HookInFrontPassesBoxesOn) {
  passedOn = kvSetMessageBoxHook(recordingHook);
  EXPECT_EQ(passedOn, &kvMessageBoxToStderr);
  testing::internal::CaptureStderr();
  int dead = 0;
  EXPECT_EQ(kvMessageBox(reinterpret_cast<KvWindow*>(&dead), kvU("text"), kvU("cap"), kvMbOk), kvIdOk);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "cap: text\n");
  EXPECT_EQ(seen, (std::vector<std::string>{"cap|text"}));

  EXPECT_EQ(kvSetMessageBoxHook(nullptr), &recordingHook);  // null restores the default
  testing::internal::CaptureStderr();
  kvMessageBox(nullptr, kvU("again"), nullptr, kvMbOk);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "again\n");
  EXPECT_EQ(seen.size(), 1u);
}

}  // namespace
