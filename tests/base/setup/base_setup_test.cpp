// Data-source setup through unixODBC's installer library on private
// odbc.ini files: values from the attributes, the data source's section or
// the defaults; user and system data sources; removal; bad input refused
// with an installer error and the files left byte for byte; the setup
// dialog filled and read back by control kind; renaming.
#include "base/setup/base_setup.h"

#include "tests/util/test_support.h"
#include "util/os/zizdata.h"

#include <gtest/gtest.h>
#include <odbcinst.h>

#include <strings.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace {

const SetupInfo rows[] = {
    {"Description", 402, setupEdit, nullptr, nullptr, 80},
    {"Database", 300, setupEdit, nullptr, "/data", 127},
    {"Mode", 301, setupRadio, "Fast", "Fast", 0},
    {"Mode", 302, setupRadio, "Safe", "Fast", 0},
    {"IntlSort", 303, setupCheckBox, "1", "0", 0},
    {"Locking", 304, setupCombo, nullptr, "RECORD", 0},
    {"LockWait", 305, setupComboList, " 0 - NoWait,, -1 - Wait,", "-1 - Wait", 0},
    {"Version", 0, setupNoControl, nullptr, "7", 0},
};
const uint16_t rowCount = sizeof(rows) / sizeof(rows[0]);

// An attribute list: the items, each ended by a zero byte, and one more.
std::string attrs(std::initializer_list<const char*> items) {
  std::string list;
  for (const char* item : items) list.append(item).push_back('\0');
  return list;
}

// The first installer error after a request: code and text.
struct InstallerError {
  DWORD code = 0;
  std::string text;
};

InstallerError firstInstallerError() {
  InstallerError error;
  char text[512] = {0};
  WORD length = 0;
  if (SQL_SUCCEEDED(SQLInstallerError(1, &error.code, text, sizeof(text), &length))) error.text = text;
  return error;
}

// The entries of a section of an INI text, "key=value" in file order; the
// section is found without regard to case, and "<none>" stands for a
// missing section.
std::vector<std::string> sectionOf(const std::string& text, const std::string& name) {
  std::vector<std::string> entries;
  bool inside = false, found = false;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line[0] == '[') {
      inside = strcasecmp(line.c_str(), ("[" + name + "]").c_str()) == 0;
      found = found || inside;
    } else if (inside && !line.empty()) {
      entries.push_back(line);
    }
  }
  if (!found) entries.push_back("<none>");
  return entries;
}

// The names of the sections of an INI text, as written.
std::vector<std::string> sectionNames(const std::string& text) {
  std::vector<std::string> names;
  size_t at = 0;
  while ((at = text.find('[', at)) != std::string::npos) {
    size_t end = text.find(']', at);
    names.push_back(text.substr(at + 1, end - at - 1));
    at = end;
  }
  return names;
}

const std::vector<std::string> defaultsOfSales = {
    "Driver=KvTest", "Description=", "Database=/data", "Mode=Fast",      "IntlSort=0",
    "Locking=RECORD", "LockWait=-1 - Wait", "Version=7"};

// unixODBC's installer reads ODBCSYSINI and ODBCINI once and keeps the paths
// for the life of the process, so the tests of one process share one
// directory and each writes its files afresh.
ScratchDirectory& sharedDirectory() {
  static ScratchDirectory directory;
  if (directory.name().empty()) {
    EXPECT_TRUE(directory.make("kvsetup"));
  }
  return directory;
}

class SetupTest : public ErrorCapturingTest {
 protected:
  // The test holds the task data as an application with an environment
  // would, so that the end of setup's own use keeps the thread's lists.
  void SetUp() override {
    mdsZizTaskInit();
    ErrorCapturingTest::SetUp();
    environment_.set("ODBCSYSINI", scratch_.name());
    environment_.set("ODBCINI", scratch_.path("user.ini"));
    environment_.set("HOME", scratch_.name());
    writeFile(scratch_.path("odbcinst.ini"), "[KvTest]\nDriver=/nonexistent/libkvtest.so\n");
    writeFile(scratch_.path("odbc.ini"), "[System]\nDriver=KvTest\nDatabase=/sys\n");
    writeFile(scratch_.path("user.ini"), "[Old]\nDriver=KvTest\nDatabase=/old\nMode=Safe\n\n[Other]\nDriver=KvTest\n");
  }
  void TearDown() override {
    SQLSetConfigMode(ODBC_BOTH_DSN);
    EXPECT_EQ(mdsGetTaskInitCount(), 1) << "the task data started for setup is ended";
    ErrorCapturingTest::TearDown();
    mdsZizTaskTerm();
  }

  // One request without a dialog; attributes hold their zero bytes.
  BOOL request(uint16_t kind, const std::string& attributes, uint16_t* showDialog = nullptr, SQLHWND parent = nullptr,
               const char* driver = "KvTest") {
    SQLValidDSN("x");  // clears the installer's errors
    DSNInfoStruct info(parent, kind, kvU(driver), kvU(attributes.c_str()), rows, rowCount);
    uint16_t show = 9;
    BOOL result = info.config(&show);
    if (showDialog) *showDialog = show;
    return result;
  }
  std::string user() const { return readFile(scratch_.path("user.ini")); }
  std::string system() const { return readFile(scratch_.path("odbc.ini")); }

  ScratchDirectory& scratch_ = sharedDirectory();
  EnvironmentGuard environment_;
};

TEST_F(SetupTest, AddingWithoutAWindowWritesEveryRowFromTheAttributesOrTheDefaults) {
  const std::string before = system();
  uint16_t show = 9;
  ASSERT_EQ(request(DSNInfoStruct::requestAdd,
                    attrs({"DSN=Sales", " Description = Q4 data ", "IntlSort=1", "mode=Safe", "Unknown=x", "Version=8"}),
                    &show),
            TRUE)
      << firstInstallerError().text;
  EXPECT_EQ(show, 0);
  const std::vector<std::string> expected = {"Driver=KvTest", "Description=Q4 data", "Database=/data", "Mode=Safe",
                                             "IntlSort=1",    "Locking=RECORD",       "LockWait=-1 - Wait",
                                             "Version=8"};
  EXPECT_EQ(sectionOf(user(), "Sales"), expected) << "unknown attributes are not written";
  EXPECT_EQ(system(), before) << "a user data source goes to the user's file";
  EXPECT_EQ(sectionOf(user(), "Old").size(), 3u) << "other data sources stay";
}

TEST_F(SetupTest, ValuesAreTakenAsTheyStand) {
  ASSERT_EQ(request(DSNInfoStruct::requestAdd, attrs({"DSN=Sales", "Description=it's a;b \"q\""})), TRUE);
  EXPECT_EQ(sectionOf(user(), "Sales")[1], "Description=it's a;b \"q\"");
}

TEST_F(SetupTest, ConfiguringWithOnlyTheNameTakesTheSectionOrTheDefaults) {
  ASSERT_EQ(request(DSNInfoStruct::requestConfigure, attrs({"DSN=Old"})), TRUE);
  const std::vector<std::string> expected = {"Driver=KvTest",  "Description=",       "Database=/old", "Mode=Safe",
                                             "IntlSort=0",     "Locking=RECORD",     "LockWait=-1 - Wait",
                                             "Version=7"};
  EXPECT_EQ(sectionOf(user(), "Old"), expected);
  EXPECT_EQ(sectionOf(user(), "Other"), std::vector<std::string>{"Driver=KvTest"});
}

TEST_F(SetupTest, ASystemDataSourceGoesToTheSystemFile) {
  const std::string before = user();
  ASSERT_EQ(SQLSetConfigMode(ODBC_SYSTEM_DSN), TRUE);
  ASSERT_EQ(request(DSNInfoStruct::requestAdd, attrs({"DSN=Sales"})), TRUE);
  EXPECT_EQ(sectionOf(system(), "Sales"), defaultsOfSales);
  EXPECT_EQ(sectionOf(system(), "System").size(), 2u);
  EXPECT_EQ(user(), before);
  ASSERT_EQ(request(DSNInfoStruct::requestRemove, attrs({"DSN=Sales"})), TRUE);
  EXPECT_EQ(sectionOf(system(), "Sales"), std::vector<std::string>{"<none>"});
  EXPECT_EQ(user(), before);
}

TEST_F(SetupTest, RemovingNeverShowsADialog) {
  uint16_t show = 9;
  KvWindow* frame = kvCreateWindow(kvWindowFrame, nullptr, 0, nullptr, nullptr);
  EXPECT_EQ(request(DSNInfoStruct::requestRemove, attrs({"DSN=old"}), &show, frame), TRUE);
  EXPECT_EQ(show, 0);
  EXPECT_EQ(sectionNames(user()), std::vector<std::string>{"Other"});
  EXPECT_EQ(request(DSNInfoStruct::requestRemove, attrs({"DSN=Missing"})), TRUE)
      << "the installer counts a missing data source as removed";
  kvDestroyWindow(frame);
}

TEST_F(SetupTest, WithAWindowTheDriverShowsItsDialogAndNothingIsWrittenYet) {
  const std::string before = user();
  KvWindow* frame = kvCreateWindow(kvWindowFrame, nullptr, 0, nullptr, nullptr);
  for (uint16_t kind : {DSNInfoStruct::requestAdd, DSNInfoStruct::requestConfigure}) {
    uint16_t show = 9;
    EXPECT_EQ(request(kind, attrs({"DSN=Sales"}), &show, frame), TRUE);
    EXPECT_EQ(show, 1);
    EXPECT_EQ(request(kind, attrs({}), &show, frame), TRUE) << "the user can name it in the dialog";
    EXPECT_EQ(show, 1);
  }
  EXPECT_EQ(user(), before);
  kvDestroyWindow(frame);
}

TEST_F(SetupTest, BadInputFailsWithAnInstallerErrorAndChangesNoFile) {
  struct Case {
    uint16_t request;
    std::string attributes;
    DWORD code;
    const char* driver;
  };
  const std::string longName(33, 'n');
  std::string unended(3000, 'a');
  unended.replace(0, 4, "DSN=");
  const Case cases[] = {
      {DSNInfoStruct::requestAdd, attrs({"DSN=a[b"}), ODBC_ERROR_INVALID_DSN, "KvTest"},
      {DSNInfoStruct::requestAdd, attrs({"DSN=a]b"}), ODBC_ERROR_INVALID_DSN, "KvTest"},
      {DSNInfoStruct::requestAdd, attrs({"DSN=a=b"}), ODBC_ERROR_INVALID_DSN, "KvTest"},
      {DSNInfoStruct::requestAdd, attrs({"DSN=a\nb"}), ODBC_ERROR_INVALID_DSN, "KvTest"},
      {DSNInfoStruct::requestAdd, attrs({"DSN=a\rb"}), ODBC_ERROR_INVALID_DSN, "KvTest"},
      {DSNInfoStruct::requestAdd, attrs({("DSN=" + longName).c_str()}), ODBC_ERROR_INVALID_DSN, "KvTest"},
      {DSNInfoStruct::requestAdd, attrs({"Database=/x"}), ODBC_ERROR_INVALID_DSN, "KvTest"},
      {DSNInfoStruct::requestAdd, attrs({"DSN= "}), ODBC_ERROR_INVALID_DSN, "KvTest"},
      {DSNInfoStruct::requestConfigure, attrs({"DSN=Old", "Database=/a\nDriver=evil"}),
       ODBC_ERROR_INVALID_KEYWORD_VALUE, "KvTest"},
      {DSNInfoStruct::requestAdd, attrs({"DSN=x", "Database"}), ODBC_ERROR_INVALID_KEYWORD_VALUE, "KvTest"},
      {DSNInfoStruct::requestAdd, attrs({"DSN=x", " =v"}), ODBC_ERROR_INVALID_KEYWORD_VALUE, "KvTest"},
      {DSNInfoStruct::requestAdd, attrs({"DSN=x", "dsn=y"}), ODBC_ERROR_INVALID_KEYWORD_VALUE, "KvTest"},
      {DSNInfoStruct::requestAdd, attrs({"DSN=x", "(Q4)"}), ODBC_ERROR_INVALID_KEYWORD_VALUE, "KvTest"},
      {DSNInfoStruct::requestAdd, unended, ODBC_ERROR_INVALID_KEYWORD_VALUE, "KvTest"},
      {DSNInfoStruct::requestAdd, attrs({"DSN=x"}), ODBC_ERROR_INVALID_NAME, ""},
      {DSNInfoStruct::requestAdd, attrs({"DSN=x"}), ODBC_ERROR_INVALID_NAME, "KvTest\n[x]"},
      {DSNInfoStruct::requestRemove, attrs({"DSN=a[b"}), ODBC_ERROR_INVALID_DSN, "KvTest"},
      {DSNInfoStruct::requestRemove, attrs({}), ODBC_ERROR_INVALID_DSN, "KvTest"},
      {0, attrs({"DSN=x"}), ODBC_ERROR_INVALID_REQUEST_TYPE, "KvTest"},
      {4, attrs({"DSN=x"}), ODBC_ERROR_INVALID_REQUEST_TYPE, "KvTest"},
      {7, attrs({"DSN=Old"}), ODBC_ERROR_INVALID_REQUEST_TYPE, "KvTest"},
  };
  const std::string userBefore = user(), systemBefore = system();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.attributes.substr(0, 40) + " / " + c.driver);
    EXPECT_EQ(request(c.request, c.attributes, nullptr, nullptr, c.driver), FALSE);
    const InstallerError error = firstInstallerError();
    EXPECT_EQ(error.code, c.code) << error.text;
    EXPECT_FALSE(error.text.empty());
    EXPECT_EQ(user(), userBefore);
    EXPECT_EQ(system(), systemBefore);
  }
}

TEST_F(SetupTest, AParenthesisedSecondItemOfAConfigureRequestIsLeftOut) {
  ASSERT_EQ(request(DSNInfoStruct::requestConfigure, attrs({"DSN=Old", "(Old data)", "Database=/new"})), TRUE)
      << firstInstallerError().text;
  EXPECT_EQ(sectionOf(user(), "Old")[2], "Database=/new");
}

// A setup dialog with the framework's controls and one per row.
class SetupDialogTest : public SetupTest {
 protected:
  void SetUp() override {
    SetupTest::SetUp();
    dialog_ = kvCreateWindow(kvWindowDialog, nullptr, 0, kvU("Setup"), nullptr);
    const struct {
      KvWindowKind kind;
      uint16_t id;
    } controls[] = {{kvWindowEdit, 401},        {kvWindowEdit, 402},        {kvWindowButton, 403},
                    {kvWindowEdit, 300},        {kvWindowRadioButton, 301}, {kvWindowRadioButton, 302},
                    {kvWindowCheckBox, 303},    {kvWindowComboBox, 304},    {kvWindowComboBox, 305}};
    for (const auto& c : controls) ASSERT_NE(kvCreateWindow(c.kind, dialog_, c.id, nullptr, nullptr), nullptr);
    for (const char* item : {"NONE", "FILE", "RECORD"}) kvAddListItem(control(304), kvU(item));
  }
  void TearDown() override {
    kvDestroyWindow(dialog_);
    SetupTest::TearDown();
  }
  KvWindow* control(uint16_t id) { return kvGetDlgItem(dialog_, id); }
  std::string text(uint16_t id) {
    unsigned char buffer[256];
    kvGetDlgItemText(dialog_, id, buffer, sizeof(buffer));
    return kvC(buffer);
  }
  // The info of a request with a window, filled into the dialog.
  std::unique_ptr<DSNInfoStruct> open(uint16_t kind, const std::string& attributes) {
    SQLValidDSN("x");
    auto info = std::make_unique<DSNInfoStruct>(dialog_, kind, kvU("KvTest"), kvU(attributes.c_str()), rows, rowCount);
    uint16_t show = 0;
    EXPECT_EQ(info->config(&show), TRUE);
    EXPECT_EQ(show, 1);
    EXPECT_EQ(BaseInitSetupDialog(dialog_, info.get()), kvSuccess);
    return info;
  }

  KvWindow* dialog_ = nullptr;
};

TEST_F(SetupDialogTest, EveryKindShowsItsValue) {
  struct Case {
    std::string attributes;
    uint32_t fast, safe, intlSort;
    const char* locking;
    int32_t lockingIndex;
    const char* lockWait;
  } cases[] = {
      {attrs({"DSN=Old"}), kvUnchecked, kvChecked, kvUnchecked, "RECORD", 2, "-1 - Wait"},
      {attrs({"DSN=x", "Mode=fast", "IntlSort=1", "Locking=file", "LockWait=0"}), kvChecked, kvUnchecked, kvChecked,
       "FILE", 1, "0 - NoWait"},
      {attrs({"DSN=x", "Mode=", "IntlSort=yes", "Locking=LOCKED", "LockWait=-1 - wait"}), kvUnchecked, kvUnchecked,
       kvUnchecked, "", -1, "-1 - Wait"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.attributes);
    kvResetList(control(305));
    EXPECT_EQ(kvSetListSelection(control(304), -1), kvSuccess);
    auto info = open(DSNInfoStruct::requestConfigure, c.attributes);
    EXPECT_EQ(kvGetCheck(control(301)), c.fast);
    EXPECT_EQ(kvGetCheck(control(302)), c.safe);
    EXPECT_EQ(kvGetCheck(control(303)), c.intlSort);
    EXPECT_EQ(text(304), c.locking);
    EXPECT_EQ(kvGetListSelection(control(304)), c.lockingIndex);
    EXPECT_EQ(text(305), c.lockWait);
  }
  // The list of a kind-4 row: leading blanks dropped, empty items skipped.
  ASSERT_EQ(kvGetListCount(control(305)), 2);
  unsigned char item[64];
  kvGetListItemText(control(305), 0, item, sizeof(item));
  EXPECT_STREQ(kvC(item), "0 - NoWait");
  // Edits get their limits: 401 32, 402 255 (over the row's 80), rows' own.
  EXPECT_EQ(text(401), "x");
  EXPECT_EQ(kvGetTextLimit(control(401)), 32u);
  EXPECT_EQ(kvGetTextLimit(control(402)), 255u);
  EXPECT_EQ(kvGetTextLimit(control(300)), 127u);
  EXPECT_EQ(text(300), "/data");
}

TEST_F(SetupDialogTest, TheNameIsFixedOnlyWhenAddingANamedDataSource) {
  struct Case {
    uint16_t request;
    std::string attributes;
    int enabled;
  } cases[] = {
      {DSNInfoStruct::requestAdd, attrs({"DSN=New"}), 0},
      {DSNInfoStruct::requestAdd, attrs({}), 1},
      {DSNInfoStruct::requestConfigure, attrs({"DSN=Old"}), 1},
  };
  for (const Case& c : cases) {
    kvEnableWindow(control(401), 1);
    kvEnableWindow(control(403), 1);
    auto info = open(c.request, c.attributes);
    EXPECT_EQ(kvIsWindowEnabled(control(401)) != 0, c.enabled != 0) << c.request;
    EXPECT_EQ(kvIsWindowEnabled(control(403)) != 0, c.enabled != 0) << c.request;
  }
}

TEST_F(SetupDialogTest, ADialogWithoutTheFrameworksControlsIsRefused) {
  DSNInfoStruct info(dialog_, DSNInfoStruct::requestAdd, kvU("KvTest"), kvU("DSN=x\0"), rows, rowCount);
  uint16_t show = 0;
  ASSERT_EQ(info.config(&show), TRUE);
  kvDestroyWindow(control(305));
  EXPECT_EQ(BaseInitSetupDialog(dialog_, &info), kvFailure);
  kvDestroyWindow(control(403));
  EXPECT_EQ(BaseInitSetupDialog(dialog_, &info), kvFailure);
}

TEST_F(SetupDialogTest, ConfirmingWritesWhatEveryKindReadsBack) {
  auto info = open(DSNInfoStruct::requestAdd, attrs({}));
  EXPECT_EQ(kvSetWindowText(control(401), kvU("Sales")), kvSuccess);
  EXPECT_EQ(kvSetWindowText(control(402), kvU("Q4")), kvSuccess);
  EXPECT_EQ(kvSetWindowText(control(300), kvU("/new")), kvSuccess);
  EXPECT_EQ(kvCheckRadioButton(dialog_, 301, 302, 302), kvSuccess);
  EXPECT_EQ(kvSetCheck(control(303), kvUnchecked), kvSuccess);
  EXPECT_EQ(kvSetListSelection(control(304), 0), kvSuccess);
  EXPECT_EQ(kvSetListSelection(control(305), 0), kvSuccess);
  ASSERT_EQ(BaseWriteValuesToIni(dialog_, info.get()), kvSuccess) << firstInstallerError().text;
  const std::vector<std::string> expected = {"Driver=KvTest", "Description=Q4", "Database=/new", "Mode=Safe",
                                             "IntlSort=0",    "Locking=NONE",   "LockWait=0",    "Version=7"};
  EXPECT_EQ(sectionOf(user(), "Sales"), expected)
      << "an unchecked check box writes its second string, a list combo its first word, a row without a "
         "control its value";

  // No radio button checked: the key is not written at all.
  EXPECT_EQ(kvSetCheck(control(302), kvUnchecked), kvSuccess);
  ASSERT_EQ(BaseWriteValuesToIni(dialog_, info.get()), kvSuccess);
  for (const std::string& entry : sectionOf(user(), "Sales")) EXPECT_NE(entry.substr(0, 5), "Mode=");
}

TEST_F(SetupDialogTest, RenamingRemovesTheOldSectionButAChangeOfCaseRemovesNothing) {
  auto info = open(DSNInfoStruct::requestConfigure, attrs({"DSN=Old"}));
  EXPECT_EQ(kvSetWindowText(control(401), kvU("New")), kvSuccess);
  ASSERT_EQ(BaseWriteValuesToIni(dialog_, info.get()), kvSuccess) << firstInstallerError().text;
  EXPECT_EQ(sectionNames(user()), (std::vector<std::string>{"Other", "New"}));
  EXPECT_EQ(sectionOf(user(), "New")[2], "Database=/old") << "the values go with the data source";

  auto again = open(DSNInfoStruct::requestConfigure, attrs({"DSN=New"}));
  EXPECT_EQ(kvSetWindowText(control(401), kvU("NEW")), kvSuccess);
  ASSERT_EQ(BaseWriteValuesToIni(dialog_, again.get()), kvSuccess);
  EXPECT_EQ(sectionNames(user()), (std::vector<std::string>{"Other", "NEW"}));
}

TEST_F(SetupDialogTest, ANameThatCannotBeWrittenKeepsTheDialogOpenAndChangesNothing) {
  auto info = open(DSNInfoStruct::requestConfigure, attrs({"DSN=Old"}));
  const std::string before = user();
  for (const char* name : {"", "a[b", "a=b", "a;b"}) {
    EXPECT_EQ(kvSetWindowText(control(401), kvU(name)), kvSuccess);
    SQLValidDSN("x");
    EXPECT_EQ(BaseWriteValuesToIni(dialog_, info.get()), kvFailure) << name;
    EXPECT_EQ(firstInstallerError().code, DWORD(ODBC_ERROR_INVALID_DSN)) << name;
    EXPECT_EQ(user(), before) << name;
  }
  EXPECT_EQ(kvSetWindowText(control(401), kvU("Renamed")), kvSuccess);
  ASSERT_EQ(BaseWriteValuesToIni(dialog_, info.get()), kvSuccess) << "the user corrects the name";
  EXPECT_EQ(sectionNames(user()), (std::vector<std::string>{"Other", "Renamed"}));
}

}  // namespace
