// A prompting connect through the Driver Manager: SQLDriverConnect with
// SQL_DRIVER_PROMPT and a window shows the test driver's logon dialog, which
// a script named by KV_DIALOG_SCRIPT fills, confirms or cancels; without a
// script the connect goes on as one that prompts nothing.
#include "odbc_env.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

class LogonPromptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(SQLAllocEnv(&env_), SQL_SUCCESS);
    ASSERT_EQ(SQLAllocConnect(env_, &dbc_), SQL_SUCCESS);
  }
  void TearDown() override {
    SQLDisconnect(dbc_);
    SQLFreeConnect(dbc_);
    SQLFreeEnv(env_);
    std::remove(scriptName_.c_str());
    unsetenv("KV_DIALOG_SCRIPT");
  }
  // A script file of a name of its own (the runner reads a file once a
  // process), named in KV_DIALOG_SCRIPT.
  void script(const std::string& text) {
    static int made = 0;
    scriptName_ = odbc_.dir() + "/logon" + std::to_string(++made) + ".txt";
    std::ofstream(scriptName_) << text;
    setenv("KV_DIALOG_SCRIPT", scriptName_.c_str(), 1);
  }
  SQLRETURN prompt(const char* text, std::string* completed) {
    SQLCHAR out[512] = {0};
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLDriverConnect(dbc_, reinterpret_cast<SQLHWND>(0x1), (SQLCHAR*)text, SQL_NTS, out, sizeof(out),
                                    &length, SQL_DRIVER_PROMPT);
    *completed = reinterpret_cast<char*>(out);
    return rc;
  }
  std::string userName() {
    char value[64] = {0};
    SQLSMALLINT length = 0;
    EXPECT_EQ(SQLGetInfo(dbc_, SQL_USER_NAME, value, sizeof(value), &length), SQL_SUCCESS);
    return value;
  }

  PrivateOdbc odbc_{"[Alpha]\nDriver=KvTest\nDriverName=Alpha\n"};
  SQLHENV env_ = nullptr;
  SQLHDBC dbc_ = nullptr;
  std::string scriptName_;
};

TEST_F(LogonPromptTest, TheDialogGivesTheUserIdAndPassword) {
  script(
      "dialog Kestrane Test Driver Logon\n"
      "expect 500 bob\n"
      "text 500 alice\n"
      "text 501 secret\n"
      "ok\n");
  std::string completed;
  ASSERT_EQ(prompt("DSN=Alpha;UID=bob", &completed), SQL_SUCCESS);
  EXPECT_EQ(completed, "DSN=Alpha;UID=alice;PWD=secret");
  EXPECT_EQ(userName(), "alice");
}

TEST_F(LogonPromptTest, CancellingThePromptIsNoData) {
  script("dialog 101\ntext 500 carol\ncancel\n");
  std::string completed;
  EXPECT_EQ(prompt("DSN=Alpha", &completed), SQL_NO_DATA);
}

TEST_F(LogonPromptTest, WithoutAScriptThePromptingConnectGoesOnWithoutAsking) {
  std::string completed;
  ASSERT_EQ(prompt("DSN=Alpha;UID=bob", &completed), SQL_SUCCESS);
  EXPECT_EQ(completed, "DSN=Alpha;UID=bob");
  EXPECT_TRUE(diagnostics(env_, dbc_, nullptr).empty()) << "the dialog that could not be shown is no error";
}

}  // namespace
