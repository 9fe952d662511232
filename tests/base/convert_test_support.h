// Scaffolding of the conversion tests: a fixture whose tests run with a
// framework error list as the thread's current list, and the diagnostics it
// collected as short texts ("22003" for an error, "w01004" for a warning).
#pragma once

#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

class ConvertTest : public ::testing::Test {
 protected:
  void SetUp() override { KvErrorKeeper::setErrorList(&list_); }
  void TearDown() override {
    list_.clearErrors();
    EXPECT_EQ(KvErrorKeeper::giveUpErrorList(), &list_);
  }

  // Every diagnostic posted so far, oldest first; the list is emptied.
  std::vector<std::string> takeDiagnostics() {
    std::vector<std::string> out;
    for (uint32_t i = 0; KvError* e = list_.getErrorAtPos(i); ++i) {
      const char* own = e->getSqlState();
      std::string state = own[0] ? own : kvC(baseSqlStateText(e->getStateIndex()));
      out.push_back(e->isWarning() ? "w" + state : state);
    }
    list_.clearErrors();
    return out;
  }
  // The newest message's text.
  std::string lastText() {
    KvError* e = list_.getLastError();
    return e ? kvC(e->getErrorText()) : "";
  }

  BaseErrorList list_{nullptr};
};

// Diagnostics written the way the tables of cases write them.
inline std::vector<std::string> diag() { return {}; }
inline std::vector<std::string> diag(const char* one) { return {one}; }
