// RERUZ.INI through DbfIni: appends and removals with their renumbering,
// UNIQUE entries with and without tags, the character set and its default,
// values as long as paths, what cannot be read back, several processes
// appending at once, and the file as Python's configparser reads it.
#include "tests/drivers/dbase/dbase_test_support.h"

#include "drivers/dbase/index/dbf_ini.h"
#include "util/util_message_ids.h"

#include <sys/wait.h>
#include <unistd.h>

namespace {

class DbfIniTest : public DbfFixture {
 protected:
  void SetUp() override {
    DbfFixture::SetUp();
    connection_ = connect();
    ini_ = std::make_unique<DbfIni>(connection_);
    ASSERT_EQ(ini_->open(kvU(dir().c_str())), kvSuccess);
  }
  void TearDown() override {
    ini_.reset();
    DbfFixture::TearDown();
  }
  std::string iniText() { return readFile(path("RERUZ.INI")); }
  // The MAINTAIN entries as the index opener reads them: 0, 1, ... up to
  // the first empty one.
  std::vector<std::string> maintained(const char* section = "EMP.DBF") {
    std::vector<std::string> files;
    for (uint16_t i = 0; i < 100; ++i) {
      unsigned char buffer[dbfIniValueBytes];
      if (ini_->getMaintained(kvU(section), i, buffer, sizeof(buffer)) != kvSuccess || !buffer[0]) break;
      files.push_back(kvC(buffer));
    }
    return files;
  }
  std::pair<std::string, std::string> unique(uint16_t index) {
    unsigned char file[dbfIniValueBytes], tag[dbfIniValueBytes];
    EXPECT_EQ(ini_->getUnique(kvU("EMP.DBF"), index, file, sizeof(file), tag, sizeof(tag)), kvSuccess);
    return {kvC(file), kvC(tag)};
  }
  std::string count(const char* key) {
    unsigned char buffer[32];
    KvIni plain;
    EXPECT_EQ(plain.open(kvU(path("RERUZ.INI").c_str())), kvSuccess);
    EXPECT_EQ(plain.getEntry(kvU("EMP.DBF"), kvU(key), buffer, sizeof(buffer), kvU("<none>")), kvSuccess);
    return kvC(buffer);
  }

  DbfConnection* connection_ = nullptr;
  std::unique_ptr<DbfIni> ini_;
};

TEST_F(DbfIniTest, TheFirstAppendWritesEntryZeroAndACountOfOne) {
  EXPECT_EQ(iniText(), "<missing>");
  ASSERT_EQ(ini_->addMaintained(kvU("EMP.DBF"), kvU("EMPNAME.NDX")), kvSuccess);
  EXPECT_EQ(iniText(), "[EMP.DBF]\nMAINTAIN0=EMPNAME.NDX\nNUMMAINTAINED=1\n");
  EXPECT_EQ(maintained(), std::vector<std::string>{"EMPNAME.NDX"});
}

TEST_F(DbfIniTest, RemovalsRenumberTheEntriesLeft) {
  struct Case {
    std::vector<std::string> listed;
    const char* removed;
    std::vector<std::string> left;
  } cases[] = {
      {{"A.NDX", "B.NDX", "C.NDX"}, "B.NDX", {"A.NDX", "C.NDX"}},
      {{"A.NDX", "B.NDX", "C.NDX"}, "A.NDX", {"B.NDX", "C.NDX"}},
      {{"A.NDX", "B.NDX", "A.NDX", "C.NDX"}, "A.NDX", {"B.NDX", "C.NDX"}},  // listed twice: both go
      {{"EMP.NDX", "B.NDX"}, "emp.ndx", {"B.NDX"}},                         // names without regard to case
      {{"A.NDX", "B.NDX"}, "Z.NDX", {"A.NDX", "B.NDX"}},                    // no match: untouched
      {{"A.NDX"}, "A.NDX", {}},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(ini_->removeTable(kvU("EMP.DBF")), kvSuccess);
    for (const std::string& file : c.listed) ASSERT_EQ(ini_->addMaintained(kvU("EMP.DBF"), kvU(file.c_str())), kvSuccess);
    const std::string before = iniText();
    ASSERT_EQ(ini_->removeMaintained(kvU("EMP.DBF"), kvU(c.removed)), kvSuccess) << c.removed;
    EXPECT_EQ(maintained(), c.left) << c.removed;
    EXPECT_EQ(count("NUMMAINTAINED"), std::to_string(c.left.size())) << c.removed;
    if (c.left.size() == c.listed.size()) {
      EXPECT_EQ(iniText(), before) << "a removal that matched nothing rewrote the file";
    }
    // No stale entry stays behind the renumbered ones.
    EXPECT_EQ(iniText().find("MAINTAIN" + std::to_string(c.left.size()) + "="), std::string::npos) << c.removed;
  }
}

TEST_F(DbfIniTest, AGapEndsReadingAndARemovalClosesIt) {
  writeFile(path("RERUZ.INI"),
            "[emp.dbf]\r\nNUMMAINTAINED=4\r\nMAINTAIN0=A.NDX\r\nMAINTAIN2=C.NDX\r\nMAINTAIN3=D.NDX\r\n");
  EXPECT_EQ(maintained(), std::vector<std::string>{"A.NDX"});
  ASSERT_EQ(ini_->removeMaintained(kvU("EMP.DBF"), kvU("D.NDX")), kvSuccess);
  EXPECT_EQ(maintained(), (std::vector<std::string>{"A.NDX", "C.NDX"}));
  EXPECT_EQ(count("NUMMAINTAINED"), "2");
  EXPECT_NE(iniText().find("\r\n"), std::string::npos) << "the file's line ends are kept";
}

TEST_F(DbfIniTest, UniqueEntriesSplitIntoFileAndTag) {
  ASSERT_EQ(ini_->addUnique(kvU("EMP.DBF"), kvU("EMP.MDX"), kvU("NAME")), kvSuccess);
  ASSERT_EQ(ini_->addUnique(kvU("EMP.DBF"), kvU("ID.NDX"), nullptr), kvSuccess);
  ASSERT_EQ(ini_->addUnique(kvU("EMP.DBF"), kvU("EMP.MDX"), kvU("CODE")), kvSuccess);
  EXPECT_EQ(unique(0), std::make_pair(std::string("EMP.MDX"), std::string("NAME")));
  EXPECT_EQ(unique(1), std::make_pair(std::string("ID.NDX"), std::string()));
  EXPECT_EQ(unique(3), std::make_pair(std::string(), std::string()));
  EXPECT_EQ(count("NUMUNIQUE"), "3");

  // A tag removes that tag only; the other tag of the same file stays.
  ASSERT_EQ(ini_->removeUnique(kvU("EMP.DBF"), kvU("emp.mdx"), kvU("name")), kvSuccess);
  EXPECT_EQ(unique(0), std::make_pair(std::string("ID.NDX"), std::string()));
  EXPECT_EQ(unique(1), std::make_pair(std::string("EMP.MDX"), std::string("CODE")));
  // A tag never matches an entry without one.
  ASSERT_EQ(ini_->removeUnique(kvU("EMP.DBF"), kvU("ID.NDX"), kvU("X")), kvSuccess);
  EXPECT_EQ(count("NUMUNIQUE"), "2");
  // Without a tag every entry of the file goes.
  ASSERT_EQ(ini_->addUnique(kvU("EMP.DBF"), kvU("EMP.MDX"), kvU("NAME")), kvSuccess);
  ASSERT_EQ(ini_->removeUnique(kvU("EMP.DBF"), kvU("EMP.MDX"), nullptr), kvSuccess);
  EXPECT_EQ(unique(0), std::make_pair(std::string("ID.NDX"), std::string()));
  EXPECT_EQ(count("NUMUNIQUE"), "1");
}

TEST_F(DbfIniTest, TheCharacterSetFallsBackOnTheConnections) {
  DbfConnection* oem = connect("CharSet=OEM;");
  DbfIni oemIni(oem), noConnection(nullptr);
  ASSERT_EQ(oemIni.open(kvU(dir().c_str())), kvSuccess);
  ASSERT_EQ(noConnection.open(kvU(dir().c_str())), kvSuccess);
  struct Case {
    const char* value;  // null: no CHARSET key
    uint16_t ansiConnection, oemConnection;
  } cases[] = {
      {nullptr, 0, 1}, {"IBMPC", 1, 1}, {"ibmpc", 1, 1}, {"ANSI", 0, 0}, {"Ansi", 0, 0}, {"EBCDIC", 0, 1}, {"", 0, 1},
  };
  for (const Case& c : cases) {
    std::string text = "[EMP.DBF]\nNUMMAINTAINED=0\n";
    if (c.value) text += std::string("CHARSET=") + c.value + "\n";
    writeFile(path("RERUZ.INI"), text);
    uint16_t flag = 9;
    ASSERT_EQ(ini_->getCharset(kvU("EMP.DBF"), &flag), kvSuccess);
    EXPECT_EQ(flag, c.ansiConnection) << (c.value ? c.value : "none");
    ASSERT_EQ(oemIni.getCharset(kvU("EMP.DBF"), &flag), kvSuccess);
    EXPECT_EQ(flag, c.oemConnection) << (c.value ? c.value : "none");
    ASSERT_EQ(noConnection.getCharset(kvU("EMP.DBF"), &flag), kvSuccess);
    EXPECT_EQ(flag, c.ansiConnection) << (c.value ? c.value : "none");
  }
  use(connection_);
  ASSERT_EQ(ini_->setCharset(kvU("NEW.DBF"), 1), kvSuccess);
  uint16_t flag = 0;
  ASSERT_EQ(ini_->getCharset(kvU("new.dbf"), &flag), kvSuccess);
  EXPECT_EQ(flag, 1);
  EXPECT_NE(iniText().find("[NEW.DBF]\nCHARSET=IBMPC\n"), std::string::npos) << iniText();
}

TEST_F(DbfIniTest, ValuesAreWholeOrRefused) {
  // A path far beyond 80 characters reads back whole.
  const std::string longPath = "/" + std::string(290, 'd') + "/INDEX.NDX";
  ASSERT_EQ(ini_->addMaintained(kvU("EMP.DBF"), kvU(longPath.c_str())), kvSuccess);
  EXPECT_EQ(maintained(), std::vector<std::string>{longPath});
  unsigned char small[64];
  EXPECT_EQ(ini_->getMaintained(kvU("EMP.DBF"), 0, small, sizeof(small)), kvFailure) << "cut instead of refused";
  const std::vector<uint16_t> errors = errorsOf(connection_);
  EXPECT_TRUE(!errors.empty() && errors.back() == kvMsgFileNameTooLong);

  // What the file could not give back as written is refused, the file unchanged.
  const std::string before = iniText();
  const std::string tooLong(dbfIniValueBytes, 'x');
  for (const std::string& value : {tooLong, std::string("\"QUOTED.NDX\""), std::string("A.NDX\nMAINTAIN9=B"),
                                   std::string(" PADDED.NDX ")}) {
    EXPECT_EQ(ini_->addMaintained(kvU("EMP.DBF"), kvU(value.c_str())), kvFailure) << value.substr(0, 20);
    EXPECT_EQ(iniText(), before) << value.substr(0, 20);
  }
  EXPECT_EQ(ini_->addMaintained(kvU("EMP]X"), kvU("A.NDX")), kvFailure) << "a section name that breaks the file";
}

TEST_F(DbfIniTest, ADamagedCountIsRefusedNotGuessed) {
  for (const char* countText : {"two", "70000", "-1"}) {
    const std::string text = std::string("[EMP.DBF]\nMAINTAIN0=A.NDX\nNUMMAINTAINED=") + countText + "\n";
    writeFile(path("RERUZ.INI"), text);
    EXPECT_EQ(ini_->addMaintained(kvU("EMP.DBF"), kvU("B.NDX")), kvFailure) << countText;
    EXPECT_EQ(ini_->removeMaintained(kvU("EMP.DBF"), kvU("A.NDX")), kvFailure) << countText;
    EXPECT_EQ(iniText(), text) << countText;
  }
}

TEST_F(DbfIniTest, RemovingATableTakesItsSectionOnly) {
  ASSERT_EQ(ini_->removeTable(kvU("EMP.DBF")), kvSuccess);
  EXPECT_EQ(iniText(), "<missing>") << "a removal created the file";
  ASSERT_EQ(ini_->addMaintained(kvU("EMP.DBF"), kvU("A.NDX")), kvSuccess);
  ASSERT_EQ(ini_->addMaintained(kvU("DEPT.DBF"), kvU("B.NDX")), kvSuccess);
  ASSERT_EQ(ini_->removeTable(kvU("emp.dbf")), kvSuccess);
  EXPECT_EQ(iniText(), "[DEPT.DBF]\nMAINTAIN0=B.NDX\nNUMMAINTAINED=1\n");
}

TEST_F(DbfIniTest, ProcessesAppendingAtOnceLoseNothing) {
  const int processes = 4, each = 15;
  std::vector<pid_t> children;
  for (int p = 0; p < processes; ++p) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      DbfIni ini(nullptr);
      int failed = ini.open(kvU(dir().c_str())) != kvSuccess;
      for (int i = 0; i < each && !failed; ++i) {
        const std::string file = "P" + std::to_string(p) + "_" + std::to_string(i) + ".NDX";
        failed = ini.addMaintained(kvU("EMP.DBF"), kvU(file.c_str())) != kvSuccess;
      }
      _exit(failed);
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(maintained().size(), size_t(processes * each));
  EXPECT_EQ(count("NUMMAINTAINED"), std::to_string(processes * each));
}

TEST_F(DbfIniTest, PythonsConfigparserReadsTheFile) {
  ASSERT_EQ(ini_->addMaintained(kvU("EMP.DBF"), kvU("EMPNAME.NDX")), kvSuccess);
  ASSERT_EQ(ini_->addUnique(kvU("EMP.DBF"), kvU("EMP.MDX"), kvU("ID")), kvSuccess);
  ASSERT_EQ(ini_->setCharset(kvU("EMP.DBF"), 0), kvSuccess);
  ASSERT_EQ(ini_->addMaintained(kvU("DEPT.DBF"), kvU("/other/dir/DEPT.NDX")), kvSuccess);
  const std::string script =
      "import configparser,sys\n"
      "c=configparser.ConfigParser()\n"
      "c.read(sys.argv[1])\n"
      "e=c['EMP.DBF']\n"
      "assert e['maintain0']=='EMPNAME.NDX' and e['nummaintained']=='1', dict(e)\n"
      "assert e['unique0']=='EMP.MDX,ID' and e['numunique']=='1' and e['charset']=='ANSI', dict(e)\n"
      "assert c['DEPT.DBF']['maintain0']=='/other/dir/DEPT.NDX'\n";
  writeFile(path("check.py"), script);
  EXPECT_EQ(std::system(("/usr/bin/python3 " + path("check.py") + " " + path("RERUZ.INI")).c_str()), 0);
}

}  // namespace
