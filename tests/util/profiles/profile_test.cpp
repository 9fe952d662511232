// Profile storage: which store an INI name reaches, unixODBC's files read
// and written as odbcinst reads and writes them, the keyed-store list forms
// and size rules, deletions and their guards, and KvIni.
#include "util/profiles/profile.h"
#include "util/os/bos.h"

#include "tests/util/test_support.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string bytes(const unsigned char* buffer, uint32_t length) {
  return std::string(reinterpret_cast<const char*>(buffer), length);
}

// A list answer: each item and a zero, then the final zero.
std::string listOf(std::initializer_list<const char*> items) {
  std::string out;
  for (const char* item : items) out += std::string(item) + '\0';
  return out + '\0';
}

// A private home, unixODBC files and configuration directory under a fresh
// temporary directory, and a keep-all error list.
class ProfileTest : public ErrorCapturingTest {
 protected:
  void SetUp() override {
    ErrorCapturingTest::SetUp();
    ASSERT_TRUE(scratch_.make("kvprofile"));
    root_ = scratch_.name();
    fs::create_directories(root_ / "home");
    fs::create_directories(root_ / "sys");
    setenv("HOME", (root_ / "home").c_str(), 1);
    setenv("ODBCINI", userIni().c_str(), 1);
    setenv("ODBCSYSINI", (root_ / "sys").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
  }
  void TearDown() override {
    ErrorCapturingTest::TearDown();
    scratch_.remove();
  }

  fs::path userIni() const { return root_ / "home" / "user-odbc.ini"; }
  fs::path systemIni() const { return root_ / "sys" / "odbc.ini"; }
  fs::path driverIni() const { return root_ / "sys" / "odbcinst.ini"; }
  fs::path configDir() const { return root_ / "config" / "kestrane"; }

  std::string get(const char* section, const char* key, const char* iniName, const char* def = "dflt") {
    unsigned char buffer[1024];
    uint32_t n = ntGetProfileString(kvU(section), kvU(key), kvU(def), buffer, sizeof(buffer), kvU(iniName));
    return bytes(buffer, n);
  }
  KvStatus put(const char* section, const char* key, const char* value, const char* iniName) {
    return ntWriteProfileString(kvU(section), kvU(key), kvU(value), kvU(iniName));
  }

  // Runs odbcinst with this test's environment; returns its output.
  std::string odbcinst(const std::string& arguments, int* status = nullptr) {
    std::string command = "odbcinst " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char chunk[512];
    while (pipe && fgets(chunk, sizeof(chunk), pipe)) out += chunk;
    int rc = pipe ? pclose(pipe) : -1;
    if (status) *status = rc;
    return out;
  }

  ScratchDirectory scratch_;
  fs::path root_;
};

TEST_F(ProfileTest, AnIniNameReachesItsStoreAndIsNeverChanged) {
  struct Case {
    const char* iniName;
    fs::path file;  // relative to the test's root
  };
  const fs::path user = fs::relative(userIni(), root_);
  const Case cases[] = {
      {"ODBC.INI", user},
      {"odbc.ini", user},
      {"Odbc", user},  // a leading part of a known name is that name
      {"C:\\WINDOWS\\ODBC.INI", user},
      {"/somewhere/else/odbc.ini", user},
      {"C:\\WINDOWS\\ODBCINST.INI", "sys/odbcinst.ini"},
      {"odbcinst.ini", "sys/odbcinst.ini"},
      {"TLM.INI", "config/kestrane/tlm.ini"},
      {"tlminst", "config/kestrane/tlminst.ini"},
      {"Control.ini", "config/kestrane/control.ini"},
      {"VIZIR.INI", "config/kestrane/vizir.ini"},
      // Found inside a known name, not at its start: files of their own.
      {"INST.INI", "config/kestrane/INST.INI"},
      {"DBC.INI", "config/kestrane/DBC.INI"},
      {"MY.INI", "config/kestrane/MY.INI"},
      {"WIN.INI", "config/kestrane/WIN.INI"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.iniName);
    std::string key = "Key" + std::to_string(n++);
    // The name is a string literal: mapping it must not write into it.
    ASSERT_EQ(put("Sect", key.c_str(), "Value", c.iniName), kvSuccess);
    EXPECT_NE(readFile(root_ / c.file).find(key), std::string::npos);
    EXPECT_EQ(get("Sect", key.c_str(), c.iniName), "Value");
  }

  char writable[] = "c:\\windows\\odbc.ini";
  ASSERT_EQ(put("Sect", "Own", "1", writable), kvSuccess);
  EXPECT_STREQ(writable, "c:\\windows\\odbc.ini");

  // A name with a directory part and no known last component is that file.
  fs::path definitions = root_ / "data" / "schema.ini";
  fs::create_directories(definitions.parent_path());
  std::string windowsStyle = (root_ / "data").string() + "\\schema.ini";
  ASSERT_EQ(put("emp.txt", "Format", "CSVDelimited", windowsStyle.c_str()), kvSuccess);
  EXPECT_EQ(readFile(definitions), "[emp.txt]\nFormat=CSVDelimited\n");
}

TEST_F(ProfileTest, DataSourcesReadUserFileFirstAndListTheUnion) {
  writeFile(systemIni(),
            "[Both]\nDriver = System\nExtra = only in the system's copy\n\n"
            "[SysDsn]\nDriver = SysDriver\nDatabase = /data\n");
  writeFile(userIni(), "[UserDsn]\nDriver = U\n\n[both]\nDriver = User\n");

  unsigned char buffer[256];
  uint32_t n = ntGetProfileString(nullptr, nullptr, kvU("dflt"), buffer, sizeof(buffer), kvU("ODBC.INI"));
  EXPECT_EQ(bytes(buffer, n), listOf({"UserDsn", "both", "SysDsn"}));

  // A section is taken whole from the first file that has it.
  EXPECT_EQ(get("Both", "Driver", "ODBC.INI"), "User");
  EXPECT_EQ(get("Both", "Extra", "ODBC.INI"), "dflt");
  EXPECT_EQ(get("SysDsn", "Database", "ODBC.INI"), "/data");

  // Changing a system data source copies it into the user file first.
  const std::string systemBefore = readFile(systemIni());
  ASSERT_EQ(put("SysDsn", "Database", "/elsewhere", "ODBC.INI"), kvSuccess);
  EXPECT_EQ(readFile(systemIni()), systemBefore);
  EXPECT_EQ(get("SysDsn", "Driver", "ODBC.INI"), "SysDriver");
  EXPECT_EQ(get("SysDsn", "Database", "ODBC.INI"), "/elsewhere");
  EXPECT_NE(readFile(userIni()).find("SysDriver"), std::string::npos);

  // Deleting a section removes the user's copy only; the system's shows again.
  ASSERT_EQ(put("SysDsn", nullptr, nullptr, "ODBC.INI"), kvSuccess);
  EXPECT_EQ(get("SysDsn", "Database", "ODBC.INI"), "/data");
  EXPECT_EQ(readFile(systemIni()), systemBefore);
}

TEST_F(ProfileTest, OdbcinstSeesWhatIsWrittenHereAndTheReverse) {
  ASSERT_EQ(put("MyDsn", "Driver", "KvText", "ODBC.INI"), kvSuccess);
  ASSERT_EQ(put("MyDsn", "Description", "Sales files", "ODBC.INI"), kvSuccess);
  ASSERT_EQ(put("MyDsn", "Database", "/srv/sales", "ODBC.INI"), kvSuccess);
  EXPECT_NE(odbcinst("-q -s").find("[MyDsn]"), std::string::npos);
  std::string shown = odbcinst("-q -s -n MyDsn");
  EXPECT_NE(shown.find("Driver=KvText"), std::string::npos) << shown;
  EXPECT_NE(shown.find("Description=Sales files"), std::string::npos) << shown;
  EXPECT_NE(shown.find("Database=/srv/sales"), std::string::npos) << shown;

  writeFile(root_ / "template.ini", "[Added]\nDriver=KvDbase\nDatabase=/srv/db\n");
  int status = -1;
  odbcinst("-i -s -f " + (root_ / "template.ini").string(), &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(get("Added", "Database", "ODBC.INI"), "/srv/db");
  EXPECT_EQ(get("MyDsn", "Driver", "ODBC.INI"), "KvText");
  unsigned char buffer[256];
  uint32_t n = ntGetProfileString(kvU(""), nullptr, kvU(""), buffer, sizeof(buffer), kvU("ODBC.INI"));
  EXPECT_EQ(bytes(buffer, n), listOf({"MyDsn", "Added"}));

  writeFile(root_ / "driver.ini", "[KvDbase]\nDescription=dBASE files\nDriver=/opt/kv/libkvdbase.so\n");
  odbcinst("-i -d -f " + (root_ / "driver.ini").string(), &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(get("KvDbase", "Driver", "ODBCINST.INI"), "/opt/kv/libkvdbase.so");

  ASSERT_EQ(put("MyDsn", nullptr, nullptr, "ODBC.INI"), kvSuccess);
  EXPECT_EQ(odbcinst("-q -s").find("[MyDsn]"), std::string::npos);
  EXPECT_NE(odbcinst("-q -s").find("[Added]"), std::string::npos);
}

TEST_F(ProfileTest, ListsAndTextsFollowTheSizeRules) {
  writeFile(userIni(), "[A]\nk=1\nlong2=22\n\n[BC]\n");
  struct Case {
    const char* section;
    const char* key;
    uint32_t size;
    std::string expected;  // the bytes the result counts
    uint32_t result;
  };
  const Case cases[] = {
      {nullptr, nullptr, 100, std::string("A\0BC\0\0", 6), 6},
      {nullptr, nullptr, 6, std::string("A\0BC\0\0", 6), 6},
      // Stops at the last whole item; the rest of the buffer is zero.
      {nullptr, nullptr, 5, std::string("A\0\0\0\0", 5), 5},
      {nullptr, nullptr, 2, std::string("\0\0", 2), 2},
      {"A", nullptr, 100, std::string("k=1\0long2=22\0\0", 14), 14},
      {"A", "", 9, std::string("k=1\0\0\0\0\0\0", 9), 9},
      // A text that does not fit is cut and terminated.
      {"A", "long2", 2, std::string("2\0", 2), 1},
      {"A", "long2", 3, std::string("22\0", 3), 2},
      // Missing or empty sections give the default and its length.
      {"BC", nullptr, 100, std::string("dflt\0", 5), 4},
      {"Nope", nullptr, 100, std::string("dflt\0", 5), 4},
      {"A", "nokey", 3, std::string("df\0", 3), 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.section ? c.section : "(null)") + "/" + (c.key ? c.key : "(null)") +
                 " size " + std::to_string(c.size));
    unsigned char buffer[128];
    std::memset(buffer, 0x7E, sizeof(buffer));
    uint32_t n = ntGetProfileString(kvU(c.section), kvU(c.key), kvU("dflt"), buffer, c.size, kvU("ODBC.INI"));
    EXPECT_EQ(n, c.result);
    EXPECT_EQ(bytes(buffer, uint32_t(c.expected.size())), c.expected);
    EXPECT_EQ(buffer[c.size], 0x7E) << "wrote past the buffer";
  }
}

TEST_F(ProfileTest, SectionListOfAMissingOrEmptyStoreGivesTheDefault) {
  unsigned char buffer[64];
  // No file at all: the default and its length.
  EXPECT_EQ(ntGetProfileString(nullptr, nullptr, kvU("none"), buffer, sizeof(buffer), kvU("ODBCINST.INI")), 4u);
  EXPECT_STREQ(kvC(buffer), "none");
  // A store without sections: the default, and 0.
  writeFile(driverIni(), "; nothing here\n");
  EXPECT_EQ(ntGetProfileString(nullptr, nullptr, kvU("none"), buffer, sizeof(buffer), kvU("ODBCINST.INI")), 0u);
  EXPECT_STREQ(kvC(buffer), "none");
}

TEST_F(ProfileTest, LongValuesAreLeftOutOfEntryLists) {
  std::string longValue(513, 'x');
  writeFile(userIni(), "[S]\nshort=" + std::string(512, 'y') + "\nlong=" + longValue + "\nlast=1\n");
  static unsigned char buffer[2048];
  uint32_t n = ntGetProfileString(kvU("S"), nullptr, kvU(""), buffer, sizeof(buffer), kvU("ODBC.INI"));
  std::string shortItem = "short=" + std::string(512, 'y');
  EXPECT_EQ(bytes(buffer, n), listOf({shortItem.c_str(), "last=1"}));
}

TEST_F(ProfileTest, DeletingEntriesAndSections) {
  writeFile(userIni(), "[Keep]\nDriver=K\n\n[Gone]\nDriver=G\nUID=scott\nPWD=tiger\n\n[Last]\nA=1\n");
  ASSERT_EQ(put("Gone", "PWD", nullptr, "ODBC.INI"), kvSuccess);  // null value
  ASSERT_EQ(put("Gone", "UID", "", "ODBC.INI"), kvSuccess);        // empty value
  EXPECT_EQ(readFile(userIni()), "[Keep]\nDriver=K\n\n[Gone]\nDriver=G\n\n[Last]\nA=1\n");
  // Missing sections and entries count as deleted.
  EXPECT_EQ(put("Nope", "PWD", nullptr, "ODBC.INI"), kvSuccess);
  EXPECT_EQ(put("Nope", nullptr, nullptr, "ODBC.INI"), kvSuccess);
  EXPECT_EQ(put("Gone", "", nullptr, "ODBC.INI"), kvSuccess);  // empty key: the section
  EXPECT_EQ(readFile(userIni()), "[Keep]\nDriver=K\n\n[Last]\nA=1\n");
  EXPECT_EQ(list_->getCount(), 0u);
}

TEST_F(ProfileTest, AMissingSectionNeverDeletesEveryDataSource) {
  const std::string before = "[One]\nDriver=1\n\n[Two]\nDriver=2\n";
  writeFile(userIni(), before);
  const char* emptySections[] = {nullptr, "", "   "};
  for (const char* section : emptySections) {
    list_->clearErrors();
    EXPECT_EQ(put(section, nullptr, nullptr, "ODBC.INI"), kvFailure);
    EXPECT_EQ(lastErrorNumber(), 1517);
    EXPECT_EQ(put(section, "Driver", "x", "ODBC.INI"), kvFailure);
  }
  EXPECT_EQ(readFile(userIni()), before);
}

TEST_F(ProfileTest, TextsThatWouldChangeTheFileStructureAreRefused) {
  const std::string before = "[Dsn]\nDriver=1\n";
  writeFile(userIni(), before);
  struct Case {
    const char* section;
    const char* key;
    const char* value;
  };
  const Case cases[] = {
      {"Dsn", "Driver", "x\n[Evil]\nDriver=/tmp/evil.so"},
      {"Dsn", "Driver", "x\r"},
      {"Dsn", "A=B", "x"},
      {"Dsn", "#Driver", "x"},
      {"Dsn", "[Other]", "x"},
      {"Dsn]x", "Driver", "x"},
      {"Dsn\nDriver", "k", "x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    list_->clearErrors();
    EXPECT_EQ(put(c.section, c.key, c.value, "ODBC.INI"), kvFailure);
    EXPECT_EQ(lastErrorNumber(), 1517);
  }
  EXPECT_EQ(readFile(userIni()), before);
}

TEST_F(ProfileTest, ProductFilesUseKeyedStoreRulesOverWindowsFiles) {
  writeFile(configDir() / "tlm.ini", "[Options]\r\nCOLOR=\"Blue\"\r\nsize = 10\r\n");
  unsigned char buffer[64];
  uint32_t n = ntGetProfileString(kvU("options"), nullptr, kvU(""), buffer, sizeof(buffer), kvU("TLM.INI"));
  EXPECT_EQ(bytes(buffer, n), listOf({"COLOR=Blue", "size=10"}));
  ASSERT_EQ(put("Options", "Size", "12", "tlm"), kvSuccess);
  EXPECT_EQ(readFile(configDir() / "tlm.ini"), "[Options]\r\nCOLOR=\"Blue\"\r\nsize = 12\r\n");
}

TEST_F(ProfileTest, ReadsOfUnreadableStoresGiveDefaultsWithoutMessages) {
  setenv("ODBCINI", (root_ / "missing" / "user.ini").c_str(), 1);
  unsetenv("HOME");
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(get("Dsn", "Driver", "ODBC.INI"), "dflt");
  EXPECT_EQ(get("Opt", "X", "TLM.INI"), "dflt");
  EXPECT_EQ(list_->getCount(), 0u);
  // A user file that cannot be made: a data source cannot be written.
  EXPECT_EQ(put("Dsn", "Driver", "x", "ODBC.INI"), kvFailure);
  EXPECT_EQ(lastErrorNumber(), 1501);
}

// The user's data sources are where unixODBC looks for them, whatever HOME
// says: odbcinst writes there, and the drivers must read what it wrote.
TEST_F(ProfileTest, TheUserFileIsTheOneUnixOdbcUses) {
  auto unixOdbcs = [&] {
    std::string out = odbcinst("-j");
    const std::string label = "USER DATA SOURCES";
    size_t at = out.find(label);
    if (at == std::string::npos) return out;
    at = out.find(": ", at) + 2;
    return out.substr(at, out.find('\n', at) - at);
  };
  unsigned char path[bosPathBytes];
  for (bool withOdbcIni : {true, false}) {
    SCOPED_TRACE(withOdbcIni ? "ODBCINI set" : "ODBCINI unset, HOME elsewhere");
    if (!withOdbcIni) unsetenv("ODBCINI");
    ASSERT_EQ(kvOdbcUserIniPath(path), kvSuccess);
    EXPECT_EQ(kvC(path), unixOdbcs());
  }
  EXPECT_NE(std::string(kvC(path)), (root_ / "home" / ".odbc.ini").string());
}

class KvIniTest : public ProfileTest {};

TEST_F(KvIniTest, ClosedIniReportsAndGivesDefaults) {
  KvIni ini;
  unsigned char buffer[8];
  EXPECT_EQ(ini.getEntry(kvU("S"), kvU("K"), buffer, sizeof(buffer), kvU("default-text")), kvSuccess);
  EXPECT_STREQ(kvC(buffer), "default");  // cut to the buffer and terminated
  EXPECT_EQ(lastErrorNumber(), 2717);
  EXPECT_STREQ(kvC(list_->getLastError()->getErrorText()), "Initialization file is not open.");
  int16_t number = 0;
  EXPECT_EQ(ini.getEntry(kvU("S"), kvU("K"), &number, 7), kvSuccess);
  EXPECT_EQ(number, 7);
  EXPECT_EQ(ini.writeEntry(kvU("S"), kvU("K"), kvU("v")), kvFailure);
  EXPECT_EQ(ini.deleteEntry(kvU("S"), kvU("K")), kvFailure);
  EXPECT_EQ(ini.validState(), kvFailure);
  EXPECT_EQ(list_->getCount(), 5u);
}

TEST_F(KvIniTest, OpenReadWriteDeleteAndReopen) {
  fs::path file = root_ / "db" / "qe.ini";
  fs::create_directories(file.parent_path());
  KvIni ini;
  ASSERT_EQ(ini.open(kvU(file.c_str())), kvSuccess);
  EXPECT_EQ(ini.validState(), kvSuccess);
  EXPECT_EQ(ini.writeEntry(kvU("Query"), kvU("Text"), kvU("SELECT 1")), kvSuccess);
  unsigned char buffer[64];
  EXPECT_EQ(ini.getEntry(kvU("query"), kvU("TEXT"), buffer, sizeof(buffer), kvU("")), kvSuccess);
  EXPECT_STREQ(kvC(buffer), "SELECT 1");
  EXPECT_EQ(ini.deleteEntry(kvU("Query"), kvU("Text")), kvSuccess);
  EXPECT_EQ(ini.getEntry(kvU("Query"), kvU("Text"), buffer, sizeof(buffer), kvU("gone")), kvSuccess);
  EXPECT_STREQ(kvC(buffer), "gone");

  ASSERT_EQ(ini.open(kvU("ODBC.INI")), kvSuccess);  // closes the first name
  EXPECT_STREQ(kvC(ini.getName()), "ODBC.INI");
  EXPECT_EQ(ini.writeEntry(kvU("Dsn"), kvU("Driver"), kvU("x")), kvSuccess);
  EXPECT_NE(readFile(userIni()).find("Driver = x"), std::string::npos);
  EXPECT_EQ(ini.close(), kvSuccess);
  EXPECT_EQ(ini.getName(), nullptr);
  EXPECT_EQ(list_->getCount(), 0u);
}

TEST_F(KvIniTest, NumberEntries) {
  writeFile(userIni(),
            "[N]\nneg=-5\nplain= 42 \nbad=12x\nhuge=4294967296\nwide=70000\nunsigned=40000\nlow=-32768\n");
  KvIni ini;
  ASSERT_EQ(ini.open(kvU("odbc.ini")), kvSuccess);
  struct Case {
    const char* key;
    int16_t expected;
    uint16_t message;  // left in the list, 0 for none
  };
  const Case cases[] = {
      {"neg", -5, 0},      {"plain", 42, 0},     {"absent", 99, 0},
      {"bad", 99, 2702},   {"huge", 99, 2701},   {"wide", 99, 2701},
      {"unsigned", int16_t(uint16_t(40000)), 0}, {"low", -32768, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    list_->clearErrors();
    int16_t value = 0;
    EXPECT_EQ(ini.getEntry(kvU("N"), kvU(c.key), &value, 99), kvSuccess);
    EXPECT_EQ(value, c.expected);
    EXPECT_EQ(lastErrorNumber(), c.message);
  }
}

TEST_F(KvIniTest, NullNameIsRefused) {
  KvIni ini;
  EXPECT_EQ(ini.open(nullptr), kvFailure);
  EXPECT_EQ(lastErrorNumber(), 1517);
  EXPECT_EQ(ini.getName(), nullptr);
}

}  // namespace
