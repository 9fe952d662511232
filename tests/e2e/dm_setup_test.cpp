// Data-source setup as an application does it: SQLConfigDataSource through
// unixODBC's installer, which loads the test driver named as Setup in
// odbcinst.ini and calls its ConfigDSN; odbcinst shows the result, and the
// Driver Manager connects through it. With a window the setup dialog runs
// from a script named by KV_DIALOG_SCRIPT, as a test of a separate process
// would name it.
#include "odbc_env.h"

#include <gtest/gtest.h>
#include <odbcinst.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Any window handle that is not null asks for the dialog; the driver never
// follows a handle that is not one of its own windows.
HWND const someWindow = reinterpret_cast<HWND>(0x1);

std::string attrs(std::initializer_list<const char*> items) {
  std::string list;
  for (const char* item : items) list.append(item).push_back('\0');
  return list;
}

std::string readAll(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// What a command printed on stdout, and whether it succeeded.
bool run(const std::string& command, std::string* output) {
  output->clear();
  FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
  if (!pipe) return false;
  char chunk[512];
  for (size_t got; (got = fread(chunk, 1, sizeof(chunk), pipe)) > 0;) output->append(chunk, got);
  return pclose(pipe) == 0;
}

class SetupThroughInstallerTest : public ::testing::Test {
 protected:
  // Every test starts without user data sources.
  void SetUp() override { std::ofstream(odbc_.dir() + "/user.ini") << ""; }
  void TearDown() override {
    for (const std::string& name : names_) std::remove(name.c_str());
    std::remove((odbc_.dir() + "/template.ini").c_str());
    unsetenv("KV_DIALOG_SCRIPT");
  }
  // TRUE (1) or FALSE (0).
  BOOL configure(WORD request, const std::string& attributes, HWND window = nullptr, const char* driver = "KvTest") {
    return SQLConfigDataSource(window, request, driver, attributes.c_str());
  }
  DWORD installerError(std::string* text = nullptr) {
    DWORD code = 0;
    char message[512] = {0};
    WORD length = 0;
    if (!SQL_SUCCEEDED(SQLInstallerError(1, &code, message, sizeof(message), &length))) return 0;
    if (text) *text = message;
    return code;
  }
  // Writes a new script file and names it in KV_DIALOG_SCRIPT. The runner
  // reads a file once a process, when the variable first names it, so
  // every script has a name of its own.
  void script(const std::string& text) {
    static int made = 0;
    names_.push_back(odbc_.dir() + "/script" + std::to_string(++made) + ".txt");
    std::ofstream(names_.back()) << text;
    setenv("KV_DIALOG_SCRIPT", names_.back().c_str(), 1);
  }
  std::string user() const { return readAll(odbc_.dir() + "/user.ini"); }
  std::string system() const { return readAll(odbc_.dir() + "/odbc.ini"); }
  // The user data source as odbcinst shows it ("" when it is not there).
  std::string shown(const char* dsn, const char* which = "-h") {
    std::string out;
    return run(std::string("odbcinst -q -s ") + which + " -n '" + dsn + "'", &out) ? out : "";
  }

  PrivateOdbc odbc_{"[Shared]\nDriver=KvTest\n"};
  std::vector<std::string> names_;
};

TEST_F(SetupThroughInstallerTest, AddedDataSourceIsShownByOdbcinstServesConnectionsAndGoesOnRemoval) {
  ASSERT_EQ(configure(ODBC_ADD_DSN, attrs({"DSN=x", "Description=Set up by a client", "DriverName=Sales"})), 1)
      << installerError();
  const std::string section = shown("x");
  for (const char* line : {"[x]\n", "Driver=KvTest\n", "Description=Set up by a client\n", "DriverName=Sales\n",
                           "Mode=Fast\n", "WarnLogon=0\n", "Locking=RECORD\n", "LockWait=-1 - Wait\n", "Version=1\n"})
    EXPECT_NE(section.find(line), std::string::npos) << line << " in\n" << section;

  SQLHENV env;
  SQLHDBC dbc;
  ASSERT_EQ(SQLAllocEnv(&env), SQL_SUCCESS);
  ASSERT_EQ(SQLAllocConnect(env, &dbc), SQL_SUCCESS);
  ASSERT_EQ(SQLConnect(dbc, (SQLCHAR*)"x", SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  char dbms[64] = {0};
  SQLSMALLINT length = 0;
  EXPECT_EQ(SQLGetInfo(dbc, SQL_DBMS_NAME, dbms, sizeof(dbms), &length), SQL_SUCCESS);
  EXPECT_STREQ(dbms, "Sales") << "the driver reads what its setup wrote";
  SQLDisconnect(dbc);
  SQLFreeConnect(dbc);
  SQLFreeEnv(env);

  ASSERT_EQ(configure(ODBC_REMOVE_DSN, attrs({"DSN=x"})), 1) << installerError();
  EXPECT_EQ(shown("x"), "");
  EXPECT_NE(shown("Shared", "-l"), "") << "another data source stays";
}

TEST_F(SetupThroughInstallerTest, UserAndSystemDataSourcesLandInTheirOwnFiles) {
  ASSERT_EQ(configure(ODBC_ADD_DSN, attrs({"DSN=Mine"})), 1) << installerError();
  ASSERT_EQ(configure(ODBC_ADD_SYS_DSN, attrs({"DSN=Everyone"})), 1) << installerError();
  EXPECT_NE(user().find("[Mine]"), std::string::npos);
  EXPECT_EQ(user().find("[Everyone]"), std::string::npos);
  EXPECT_NE(system().find("[Everyone]"), std::string::npos);
  EXPECT_EQ(system().find("[Mine]"), std::string::npos);
  EXPECT_NE(shown("Everyone", "-l"), "");
  EXPECT_EQ(shown("Everyone", "-h"), "");

  const std::string userBefore = user();
  ASSERT_EQ(configure(ODBC_REMOVE_SYS_DSN, attrs({"DSN=Everyone"})), 1) << installerError();
  EXPECT_EQ(shown("Everyone", "-l"), "");
  EXPECT_EQ(user(), userBefore);
}

TEST_F(SetupThroughInstallerTest, BadInputFailsCleanlyAndLeavesTheFilesAsTheyWere) {
  struct Case {
    WORD request;
    std::string attributes;
    const char* driver;
  } cases[] = {
      {ODBC_ADD_DSN, attrs({"DSN=a[b"}), "KvTest"},
      {ODBC_ADD_DSN, attrs({"DSN=a]b"}), "KvTest"},
      {ODBC_ADD_DSN, attrs({"DSN=a=b"}), "KvTest"},
      {ODBC_ADD_DSN, attrs({"DSN=a\nb"}), "KvTest"},
      {ODBC_ADD_SYS_DSN, attrs({"DSN=x\n[Shared]"}), "KvTest"},
      {ODBC_ADD_DSN, attrs({"Description=no name"}), "KvTest"},
      {ODBC_CONFIG_DSN, attrs({"DSN=Shared", "Description=two\nlines"}), "KvTest"},
      {ODBC_REMOVE_DSN, attrs({}), "KvTest"},
      {ODBC_ADD_DSN, attrs({"DSN=x"}), "NoSuchDriver"},
      {ODBC_REMOVE_DEFAULT_DSN, attrs({"DSN=Shared"}), "KvTest"},
  };
  const std::string userBefore = user(), systemBefore = system();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.attributes + " " + c.driver);
    EXPECT_EQ(configure(c.request, c.attributes, nullptr, c.driver), 0);
    std::string text;
    EXPECT_NE(installerError(&text), 0u);
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(user(), userBefore);
    EXPECT_EQ(system(), systemBefore);
  }
}

TEST_F(SetupThroughInstallerTest, ScriptedDialogWritesWhatTheUserEntered) {
  script(
      "dialog Kestrane Test Driver Setup\n"
      "expect 401 Filled\n"
      "expect-enabled 401 0\n"
      "expect-enabled 403 0\n"
      "expect 300 Test\n"
      "expect-check 301 1\n"
      "expect 305 -1 - Wait\n"
      "text 402 Entered in the dialog\n"
      "text 300 Sales\n"
      "check 302\n"
      "check 303\n"
      "select 304 FILE\n"
      "select 305 0 - NoWait\n"
      "ok\n");
  ASSERT_EQ(configure(ODBC_ADD_DSN, attrs({"DSN=Filled"}), someWindow), 1) << installerError();
  const std::string section = shown("Filled");
  for (const char* line : {"Description=Entered in the dialog\n", "DriverName=Sales\n", "Mode=Safe\n",
                           "WarnLogon=1\n", "Locking=FILE\n", "LockWait=0\n", "Version=1\n"})
    EXPECT_NE(section.find(line), std::string::npos) << line << " in\n" << section;
  EXPECT_EQ(section.find("Mode=Fast"), std::string::npos) << "the unchecked radio button writes nothing";
}

TEST_F(SetupThroughInstallerTest, OkWaitsForANameAndCancelWritesNothing) {
  script(
      "dialog 100\n"
      "expect-enabled 401 1\n"
      "expect-enabled 1 0\n"
      "text 401 Fresh\n"
      "expect-enabled 1 1\n"
      "ok\n");
  ASSERT_EQ(configure(ODBC_ADD_DSN, attrs({}), someWindow), 1) << installerError();
  EXPECT_NE(shown("Fresh"), "");

  const std::string userBefore = user(), systemBefore = system();
  script("dialog 100\ntext 402 never written\ncancel\n");
  EXPECT_EQ(configure(ODBC_ADD_DSN, attrs({"DSN=Cancelled"}), someWindow), 1);
  EXPECT_EQ(user(), userBefore);
  EXPECT_EQ(system(), systemBefore);
}

TEST_F(SetupThroughInstallerTest, WithoutAScriptTheDialogCannotBeShownAndNothingIsWritten) {
  const std::string userBefore = user(), systemBefore = system();
  for (WORD request : {ODBC_ADD_DSN, ODBC_CONFIG_DSN}) {
    EXPECT_EQ(configure(request, attrs({"DSN=Shown"}), someWindow), 0);
    std::string text;
    EXPECT_EQ(installerError(&text), DWORD(ODBC_ERROR_REQUEST_FAILED)) << text;
    EXPECT_NE(text.find("could not be shown"), std::string::npos) << text;
  }
  EXPECT_EQ(user(), userBefore);
  EXPECT_EQ(system(), systemBefore);
}

TEST_F(SetupThroughInstallerTest, RenamingInTheDialogMovesTheDataSourceButACaseChangeKeepsIt) {
  std::ofstream(odbc_.dir() + "/user.ini") << "[Old]\nDriver=KvTest\nDriverName=Before\nWarnLogon=1\n\n"
                                              "[Neighbour]\nDriver=KvTest\n";
  // Configuring with only the name shows the section's values and the
  // rows' defaults.
  script(
      "dialog 100\n"
      "expect 401 Old\n"
      "expect-enabled 401 1\n"
      "expect 300 Before\n"
      "expect-check 303 1\n"
      "expect 304 RECORD\n"
      "text 401 Renamed\n"
      "ok\n");
  ASSERT_EQ(configure(ODBC_CONFIG_DSN, attrs({"DSN=Old"}), someWindow), 1) << installerError();
  EXPECT_EQ(shown("Old"), "");
  const std::string moved = shown("Renamed");
  EXPECT_NE(moved.find("DriverName=Before\n"), std::string::npos) << moved;
  EXPECT_NE(moved.find("WarnLogon=1\n"), std::string::npos) << moved;
  EXPECT_NE(shown("Neighbour"), "");

  script("dialog 100\ntext 401 RENAMED\nok\n");
  ASSERT_EQ(configure(ODBC_CONFIG_DSN, attrs({"DSN=Renamed"}), someWindow), 1) << installerError();
  EXPECT_NE(user().find("[RENAMED]"), std::string::npos) << user();
  EXPECT_EQ(user().find("[Renamed]"), std::string::npos) << user();
  EXPECT_NE(shown("Neighbour"), "");
}

TEST_F(SetupThroughInstallerTest, ANameTheFileCannotHoldKeepsTheDialogOpenUntilCancelled) {
  const std::string userBefore = user(), systemBefore = system();
  script(
      "dialog 100\n"
      "text 401 bad[name\n"
      "ok\n"
      "text 401 bad=name\n"
      "ok\n"
      "expect 401 bad=name\n"
      "cancel\n");
  EXPECT_EQ(configure(ODBC_CONFIG_DSN, attrs({"DSN=Shared"}), someWindow), 1);
  EXPECT_EQ(user(), userBefore);
  EXPECT_EQ(system(), systemBefore);
}

TEST_F(SetupThroughInstallerTest, DataSourceInstalledByOdbcinstIsConfiguredFromItsSection) {
  std::ofstream(odbc_.dir() + "/template.ini") << "[Tmpl]\nDriver=KvTest\nDriverName=FromTemplate\nMode=Safe\n";
  std::string out;
  ASSERT_TRUE(run("odbcinst -i -s -f '" + odbc_.dir() + "/template.ini'", &out)) << out;
  ASSERT_EQ(configure(ODBC_CONFIG_DSN, attrs({"DSN=Tmpl", "Description=Configured"})), 1) << installerError();
  const std::string section = shown("Tmpl");
  for (const char* line : {"DriverName=FromTemplate\n", "Mode=Safe\n", "Description=Configured\n", "Version=1\n"})
    EXPECT_NE(section.find(line), std::string::npos) << line << " in\n" << section;
}

}  // namespace
