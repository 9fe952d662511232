// Private-profile files with Windows rules, reached through INI names that
// are not kept in a store of their own: reading (case-blind, first match,
// quotes), lists and their cut, edits that keep every other byte (CR LF
// included), where files live, atomic replacement (through symbolic links
// too) and concurrent writers.
#include "util/profiles/ini_file.h"
#include "util/profiles/profile.h"

#include "tests/util/test_support.h"
#include "util/charsets/charset.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

// A private home and configuration directory under a fresh scratch
// directory; file_ is an INI file named by its path.
class IniFileTest : public ErrorCapturingTest {
 protected:
  void SetUp() override {
    ErrorCapturingTest::SetUp();
    ASSERT_TRUE(scratch_.make("kvinifile"));
    root_ = scratch_.name();
    setenv("HOME", (root_ / "home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
    file_ = root_ / "data" / "settings.ini";
  }
  void TearDown() override {
    ErrorCapturingTest::TearDown();
    scratch_.remove();
  }

  std::string get(const char* section, const char* key, const char* def = "dflt", uint32_t size = 256,
                  uint32_t* result = nullptr) {
    unsigned char buffer[256];
    uint32_t n = ntGetProfileString(kvU(section), kvU(key), kvU(def), buffer, size, kvU(file_.c_str()));
    if (result) *result = n;
    // Lists hold zeros: the bytes up to the final pair of zeros.
    uint32_t shown = n;
    while (shown < size && buffer[shown] != 0) ++shown;
    return std::string(kvC(buffer), shown);
  }
  KvStatus put(const char* section, const char* key, const char* value, const fs::path& name = {}) {
    return ntWriteProfileString(kvU(section), kvU(key), kvU(value), kvU((name.empty() ? file_ : name).c_str()));
  }

  // Processes that each write their own keys through name at once; every
  // key must arrive in file_.
  void writeConcurrently(const fs::path& name) {
    const int processes = 4;
    const int keysEach = 25;
    pid_t children[processes];
    for (int p = 0; p < processes; ++p) {
      children[p] = fork();
      ASSERT_GE(children[p], 0);
      if (children[p] == 0) {
        int failures = 0;
        for (int k = 0; k < keysEach; ++k) {
          std::string key = "p" + std::to_string(p) + "k" + std::to_string(k);
          failures += put("S", key.c_str(), "1", name) != kvSuccess;
        }
        _exit(failures == 0 ? 0 : 1);
      }
    }
    for (pid_t child : children) {
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << name;
    }
    for (int p = 0; p < processes; ++p) {
      for (int k = 0; k < keysEach; ++k) {
        std::string key = "p" + std::to_string(p) + "k" + std::to_string(k);
        EXPECT_EQ(get("S", key.c_str()), "1") << name << ": " << key;
      }
    }
  }

  ScratchDirectory scratch_;
  fs::path root_;
  fs::path file_;
};

TEST_F(IniFileTest, ReadsMatchWithoutCaseAndTheFirstMatchWins) {
  writeFile(file_,
            "; leading comment\r\n"
            "orphan=before any section\r\n"
            "[ Sec ]\r\n"
            "Key = First \r\n"
            "key=Second\r\n"
            "Quoted=\"  spaced  \"\r\n"
            "Single='x'\r\n"
            "Half=\"x\r\n"
            "Inline=Old ; not a comment\r\n"
            "Bare\r\n"
            "#Hash=a key in a Windows file\r\n"
            "[SEC]\r\n"
            "Other=in the second copy\r\n");
  struct Case {
    const char* section;
    const char* key;
    const char* expected;
  };
  const Case cases[] = {
      {"sec", "KEY", "First"},
      {"  Sec  ", " key ", "First"},
      {"Sec", "Quoted", "  spaced  "},
      {"Sec", "Single", "x"},
      {"Sec", "Half", "\"x"},
      {"Sec", "Inline", "Old ; not a comment"},
      {"Sec", "#Hash", "a key in a Windows file"},
      {"Sec", "Bare", "dflt"},   // a key without "=" has no value
      {"Sec", "Other", "dflt"},  // only the first [Sec] is read
      {"Nope", "Key", "dflt"},
      {"", "orphan", "dflt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.section) + "/" + c.key);
    EXPECT_EQ(get(c.section, c.key), c.expected);
  }
  // A default loses its trailing blanks, as Windows strips them.
  EXPECT_EQ(get("Nope", "Key", "spaced default   "), "spaced default");
  EXPECT_EQ(list_->getCount(), 0u);
}

TEST_F(IniFileTest, ListsGiveNamesAndAreCutAsWindowsCutsThem) {
  writeFile(file_, "[Sec]\nKey=1\nkey=2\nBare\n;Comment=3\nLast=4\n[Two]\n[sec]\nx=1\n");
  uint32_t n = 0;
  std::string sections = get(nullptr, nullptr, "dflt", 256, &n);
  EXPECT_EQ(sections, std::string("Sec\0Two\0", 8));
  EXPECT_EQ(n, 8u);  // without the final zero
  EXPECT_EQ(get("SEC", nullptr, "dflt", 256, &n), std::string("Key\0Bare\0Last\0", 14));
  EXPECT_EQ(n, 14u);

  unsigned char buffer[16];
  std::memset(buffer, 0x7E, sizeof(buffer));
  n = ntGetProfileString(nullptr, nullptr, kvU(""), buffer, 7, kvU(file_.c_str()));
  EXPECT_EQ(n, 5u);  // size - 2: the last item cut, then two zeros
  EXPECT_EQ(std::string(kvC(buffer), 7), std::string("Sec\0T\0\0", 7));
  EXPECT_EQ(buffer[7], 0x7E);

  // No file and no section: an empty list.
  EXPECT_EQ(get("Missing", nullptr, "dflt", 256, &n), "");
  EXPECT_EQ(n, 0u);
  file_ = root_ / "data" / "absent.ini";
  EXPECT_EQ(get(nullptr, nullptr, "dflt", 256, &n), "");
  EXPECT_EQ(n, 0u);
}

TEST_F(IniFileTest, EditsKeepEveryOtherByte) {
  writeFile(file_, "; settings\r\n[Sec]\r\nKey = Old ; kept\r\n\r\n; about Two\r\n[Two]\r\nx=1");
  struct Step {
    const char* section;
    const char* key;
    const char* value;
    std::string after;
  };
  const Step steps[] = {
      {"sec", "KEY", "New",
       "; settings\r\n[Sec]\r\nKey = New\r\n\r\n; about Two\r\n[Two]\r\nx=1"},
      {"Sec", "Added", "1",
       "; settings\r\n[Sec]\r\nKey = New\r\nAdded=1\r\n\r\n; about Two\r\n[Two]\r\nx=1"},
      {"Two", "y", "2",
       "; settings\r\n[Sec]\r\nKey = New\r\nAdded=1\r\n\r\n; about Two\r\n[Two]\r\nx=1\r\ny=2"},
      {"Three", "z", "3",
       "; settings\r\n[Sec]\r\nKey = New\r\nAdded=1\r\n\r\n; about Two\r\n[Two]\r\nx=1\r\ny=2\r\n\r\n"
       "[Three]\r\nz=3\r\n"},
      {"Two", nullptr, nullptr,
       "; settings\r\n[Sec]\r\nKey = New\r\nAdded=1\r\n\r\n; about Two\r\n[Three]\r\nz=3\r\n"},
      {"Sec", "Added", nullptr, "; settings\r\n[Sec]\r\nKey = New\r\n\r\n; about Two\r\n[Three]\r\nz=3\r\n"},
      {"Three", "z", "", "; settings\r\n[Sec]\r\nKey = New\r\n\r\n; about Two\r\n[Three]\r\nz=\r\n"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(std::string(step.section) + "/" + (step.key ? step.key : "(null)"));
    ASSERT_EQ(put(step.section, step.key, step.value), kvSuccess);
    EXPECT_EQ(readFile(file_), step.after);
  }
  EXPECT_EQ(get("Sec", "Key"), "New");
}

TEST_F(IniFileTest, DeletesRemoveEveryCopy) {
  writeFile(file_, "[A]\nk=1\nK=2\nj=3\n[B]\ny=1\n[a]\nk=4\n");
  ASSERT_EQ(put("a", "k", nullptr), kvSuccess);
  EXPECT_EQ(readFile(file_), "[A]\nj=3\n[B]\ny=1\n[a]\nk=4\n");
  ASSERT_EQ(put("A", nullptr, nullptr), kvSuccess);
  EXPECT_EQ(readFile(file_), "[B]\ny=1\n");
  EXPECT_EQ(get("A", "k"), "dflt");
}

TEST_F(IniFileTest, WhereFilesLive) {
  // A bare name lives in the configuration directory, made on first write.
  ASSERT_EQ(ntWriteProfileString(kvU("Intl"), kvU("sLanguage"), kvU("deu"), kvU("WIN.INI")), kvSuccess);
  EXPECT_EQ(readFile(root_ / "config" / "kestrane" / "WIN.INI"), "[Intl]\nsLanguage=deu\n");
  unsigned char buffer[16];
  ntGetProfileString(kvU("intl"), kvU("slanguage"), kvU("eng"), buffer, sizeof(buffer), kvU("win.ini"));
  EXPECT_STREQ(kvC(buffer), "deu");

  // Without XDG_CONFIG_HOME (or with a relative one): ~/.config/kestrane.
  setenv("XDG_CONFIG_HOME", "relative/config", 1);
  ASSERT_EQ(ntWriteProfileString(kvU("S"), kvU("k"), kvU("v"), kvU("own.ini")), kvSuccess);
  EXPECT_EQ(readFile(root_ / "home" / ".config" / "kestrane" / "own.ini"), "[S]\nk=v\n");
  struct stat info;
  ASSERT_EQ(stat((root_ / "home" / ".config" / "kestrane").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);

  // Deleting from a missing file succeeds and makes nothing.
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(ntWriteProfileString(kvU("S"), kvU("k"), nullptr, kvU("never.ini")), kvSuccess);
  EXPECT_EQ(ntWriteProfileString(kvU("S"), nullptr, nullptr, kvU("never.ini")), kvSuccess);
  EXPECT_FALSE(fs::exists(root_ / "home" / ".config" / "kestrane" / "never.ini"));

  // A directory part is a path; its directory is not made.
  fs::path nowhere = root_ / "no-such-dir" / "schema.ini";
  EXPECT_EQ(ntWriteProfileString(kvU("S"), kvU("k"), kvU("v"), kvU(nowhere.c_str())), kvFailure);
  EXPECT_EQ(KvErrorKeeper::getLastErrorNumber(), 1501);
  EXPECT_FALSE(fs::exists(nowhere.parent_path()));
  EXPECT_EQ(ntWriteProfileString(nullptr, kvU("k"), kvU("v"), kvU(file_.c_str())), kvFailure);
  EXPECT_EQ(KvErrorKeeper::getLastErrorNumber(), 1517);
}

TEST_F(IniFileTest, AWriteReplacesTheFileAndNeverRewritesItInPlace) {
  writeFile(file_, "[S]\nk=old\n");
  chmod(file_.c_str(), 0640);
  fs::path oldLink = root_ / "old-contents";
  fs::create_hard_link(file_, oldLink);
  ASSERT_EQ(put("S", "k", "new"), kvSuccess);
  EXPECT_EQ(readFile(file_), "[S]\nk=new\n");
  EXPECT_EQ(readFile(oldLink), "[S]\nk=old\n");
  struct stat info;
  ASSERT_EQ(stat(file_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  for (const auto& entry : fs::directory_iterator(file_.parent_path()))
    EXPECT_EQ(entry.path(), file_) << "left behind";

  // An unchanged setting writes nothing.
  fs::remove(oldLink);
  fs::create_hard_link(file_, oldLink);
  ASSERT_EQ(put("S", "k", "new"), kvSuccess);
  EXPECT_TRUE(fs::equivalent(file_, oldLink));
}

TEST_F(IniFileTest, ConcurrentWritersLoseNothing) {
  writeFile(file_, "[S]\n");
  writeConcurrently(file_);
}

// A writer that waited for the lock checks that the name still leads to the
// file it locked; the name may reach it in another case or through a link.
TEST_F(IniFileTest, ConcurrentWritersLoseNothingWhateverWayTheNameLeads) {
  fs::path link = root_ / "home" / "linked.ini";
  fs::create_directories(link.parent_path());
  fs::path otherCase = file_.parent_path() / "SETTINGS.INI";
  for (const fs::path& name : {link, otherCase}) {
    writeFile(file_, "[S]\n");
    fs::remove(link);
    fs::create_symlink(file_, link);
    writeConcurrently(name);
    EXPECT_TRUE(fs::is_symlink(link));
  }
}

// A settings file kept elsewhere and linked in (~/.odbc.ini pointing into a
// repository of settings) is written where it lives; the link stays.
TEST_F(IniFileTest, AWriteThroughASymbolicLinkKeepsTheLink) {
  fs::path repo = root_ / "repo" / "settings.ini";
  writeFile(repo, "[S]\nk=old\n");
  fs::path link = root_ / "home" / ".settings.ini";
  fs::create_directories(link.parent_path());
  fs::create_symlink("../repo/settings.ini", link);
  ASSERT_EQ(put("S", "k", "new", link), kvSuccess);
  ASSERT_EQ(put("T", "j", "added", link), kvSuccess);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::read_symlink(link), "../repo/settings.ini");
  EXPECT_EQ(readFile(repo), "[S]\nk=new\n\n[T]\nj=added\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(repo.parent_path()), fs::directory_iterator()), 1);
  EXPECT_EQ(std::distance(fs::directory_iterator(link.parent_path()), fs::directory_iterator()), 1);
}

TEST_F(IniFileTest, AFileTooLargeForSettingsIsNeitherReadNorRewritten) {
  writeFile(file_, "[S]\nk=v\n");
  fs::resize_file(file_, kvIniMaxFileBytes + 1);
  EXPECT_EQ(get("S", "k"), "dflt");
  EXPECT_EQ(list_->getCount(), 0u);
  EXPECT_EQ(put("S", "k", "w"), kvFailure);
  EXPECT_EQ(fs::file_size(file_), kvIniMaxFileBytes + 1);
}

TEST_F(IniFileTest, CutTextsNeverEndOnAHalfCharacter) {
  writeFile(file_, "[S]\nk=a\x82\x60z\n");
  const unsigned char shiftJisLeads[] = {0x81, 0x9F, 0xE0, 0xFC, 0, 0};
  kvSetDbcsLeadBytes(shiftJisLeads);
  EXPECT_EQ(get("S", "k", "", 3), "a");
  EXPECT_EQ(get("S", "k", "", 4), "a\x82\x60");
  kvSetDbcsLeadBytes(nullptr);
  EXPECT_EQ(get("S", "k", "", 3), "a\x82");
}

}  // namespace
