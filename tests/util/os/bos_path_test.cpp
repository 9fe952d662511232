// Names and directories: absolute paths, joining and splitting names on
// Linux rules, attributes, making directories, the current directory and the
// enumerations.
#include "tests/util/bos_test_support.h"

#include <set>

namespace {

class BosPathTest : public BosTest {
 protected:
  // Runs with the scratch directory as the current directory (TearDown
  // restores the old one).
  void enterScratch() { ASSERT_EQ(chdir(dir_.c_str()), 0); }

  std::set<std::string> findAll(const std::string& pattern) {
    std::set<std::string> names;
    void* handle = nullptr;
    PathBuffer buffer(pattern);
    for (int calls = 0; calls < 100; ++calls) {
      EXPECT_EQ(bosFindFiles(&handle, buffer), kvSuccess);
      if (!handle) break;
      names.insert(buffer.str());
    }
    EXPECT_EQ(handle, nullptr);
    return names;
  }
};

TEST_F(BosPathTest, FullPathsAreAbsoluteAndLexical) {
  enterScratch();
  struct Case {
    std::string given, expected;
  };
  const Case cases[] = {
      {"/a/b/../c", "/a/c"},
      {"\\a\\b\\..\\c", "/a/c"},
      {"/a/./b//c", "/a/b/c"},
      {"/..", "/"},
      {"/a/b/", "/a/b/"},
      {"/a/b/..", "/a"},
      {"/", "/"},
      {"Emp.DBF", dir_ + "/Emp.DBF"},  // case kept
      {"sub/../x.dbf", dir_ + "/x.dbf"},
      {"C:\\A\\B\\..\\C", dir_ + "/C:/A/C"},  // no drive letters
      {"", dir_},
  };
  for (const Case& c : cases) {
    PathBuffer buffer(c.given);
    EXPECT_EQ(bosfpath(buffer), kvSuccess) << c.given;
    EXPECT_EQ(buffer.str(), c.expected) << c.given;
  }
  // Fits as given, not behind the current directory.
  PathBuffer tooLong(std::string(4090, 'x'));
  EXPECT_EQ(bosfpath(tooLong), kvFailure);
  EXPECT_TRUE(tooLong.str() == std::string(4090, 'x'));
  EXPECT_EQ(errors(), std::vector<uint16_t>{1524});
}

TEST_F(BosPathTest, PathsAreBuiltFromDirectoryNameAndExtension) {
  enterScratch();
  struct Case {
    const char* dir;
    std::string name;
    const char* ext;
    std::string expected;
  };
  const Case cases[] = {
      {"/db", "emp", "dbf", "/db/emp.dbf"},
      {"/db/", "emp", "dbf", "/db/emp.dbf"},
      {"/db", "emp.txt  \t", "dbf", "/db/emp.txt"},
      {"/db", "emp.", "dbf", "/db/emp.dbf"},
      {"/db", "/other/emp", "dbf", "/other/emp.dbf"},
      {"/db", "sub\\emp", nullptr, dir_ + "/sub/emp"},
      {nullptr, "/x/a.b/c", "e", "/x/a.b/c.e"},
      {"", "/x/y", "", "/x/y"},
      {"\\db", "A Long Table Name", "dbf", "/db/A Long Table Name.dbf"},
      {"/db", "a.dbf.bak", "dbf", "/db/a.dbf.bak"},
      {"/db", "..", "dbf", "/"},
  };
  for (const Case& c : cases) {
    PathBuffer out("unchanged");
    EXPECT_EQ(bospath(out, c.dir ? kvU(c.dir) : nullptr, kvU(c.name.c_str()), c.ext ? kvU(c.ext) : nullptr),
              kvSuccess)
        << c.name;
    EXPECT_EQ(out.str(), c.expected) << c.name;
  }
  PathBuffer out("unchanged");
  EXPECT_EQ(bospath(out, kvU(std::string(3000, 'd').c_str()), kvU(std::string(2000, 'n').c_str()), kvU("x")),
            kvFailure);
  EXPECT_EQ(out.str(), "unchanged");
  EXPECT_EQ(errors(), std::vector<uint16_t>{1524});
}

TEST_F(BosPathTest, JoiningAPathNamesTheWholePathWhenItIsTooLong) {
  PathBuffer out("unchanged");
  ASSERT_EQ(bosJoinPath(out, kvU("/etc"), kvU("odbc.ini")), kvSuccess);
  EXPECT_EQ(out.str(), "/etc/odbc.ini");
  ASSERT_EQ(bosJoinPath(out, nullptr, kvU("x")), kvSuccess);
  EXPECT_EQ(out.str(), "/x");

  // The longest that fits, then one byte more: the message names the whole
  // path, whichever part made it too long.
  const std::string directory(bosPathBytes - 6, 'd');
  ASSERT_EQ(bosJoinPath(out, kvU(directory.c_str()), kvU("abcd")), kvSuccess);
  EXPECT_EQ(out.str().size(), size_t(bosPathBytes - 1));
  PathBuffer kept("unchanged");
  EXPECT_EQ(bosJoinPath(kept, kvU(directory.c_str()), kvU("abcde")), kvFailure);
  EXPECT_EQ(kept.str(), "unchanged");
  EXPECT_EQ(errors(), std::vector<uint16_t>{1524});
  EXPECT_EQ(lastErrorText(), "File name is too long: '" + directory + "/abcde'.");
}

TEST_F(BosPathTest, ParseNameSplitsDirectoryBaseAndExtension) {
  struct Case {
    std::string path, directory, base, ext;
  };
  const Case cases[] = {
      {"/dir/longfilename.txt", "/dir/", "longfilename", "txt"},
      {"emp", "", "emp", ""},
      {"/d/a.b.extension", "/d/", "a.b", "extension"},
      {"/d/.profile", "/d/", ".profile", ""},
      {"C:\\DIR\\X.DBF", "C:\\DIR\\", "X", "DBF"},
      {"/d/", "/d/", "", ""},
      {"/d/name.", "/d/", "name", ""},
      {"/d/" + std::string(251, 'n') + ".dbf", "/d/", std::string(251, 'n'), "dbf"},
  };
  for (const Case& c : cases) {
    PathBuffer path(c.path);
    unsigned char base[bosNameBytes] = "?";
    unsigned char ext[bosNameBytes] = "?";
    EXPECT_EQ(bosParseName(path, base, ext, 1), kvSuccess) << c.path;
    EXPECT_EQ(path.str(), c.directory) << c.path;
    EXPECT_STREQ(kvC(base), c.base.c_str()) << c.path;
    EXPECT_STREQ(kvC(ext), c.ext.c_str()) << c.path;
  }
  EXPECT_TRUE(errors().empty());

  // A component beyond NAME_MAX: reported and left alone, or cut.
  std::string tooLong = "/d/" + std::string(252, 'n') + ".dbf";
  PathBuffer path(tooLong);
  unsigned char base[bosNameBytes] = "?", ext[bosNameBytes] = "?";
  EXPECT_EQ(bosParseName(path, base, ext, 1), kvFailure);
  EXPECT_EQ(path.str(), tooLong);
  EXPECT_STREQ(kvC(base), "?");
  EXPECT_EQ(errors(), std::vector<uint16_t>{1524});
  EXPECT_EQ(bosParseName(path, base, ext, 0), kvSuccess);
  EXPECT_EQ(std::string(kvC(base)), std::string(252, 'n'));
  EXPECT_STREQ(kvC(ext), "dbf");
  EXPECT_EQ(path.str(), "/d/");
  PathBuffer noDot("/d/" + std::string(300, 'n'));
  EXPECT_EQ(bosParseName(noDot, base, ext, 0), kvSuccess);
  EXPECT_EQ(std::string(kvC(base)), std::string(255, 'n'));
  EXPECT_STREQ(kvC(ext), "");
}

TEST_F(BosPathTest, RelativePathsDropTheCurrentDirectoryOnlyInsideIt) {
  enterScratch();
  struct Case {
    std::string given, expected;
  };
  const Case cases[] = {
      {dir_ + "/a/b.dbf", "a/b.dbf"},
      {dir_ + "/b.dbf", "b.dbf"},
      {dir_ + "x/b.dbf", dir_ + "x/b.dbf"},  // shares a prefix, not the directory
      {"/elsewhere/b.dbf", "/elsewhere/b.dbf"},
      {"relative/b.dbf", "relative/b.dbf"},
  };
  for (const Case& c : cases) {
    PathBuffer buffer(c.given);
    bosmpath(buffer);
    EXPECT_EQ(buffer.str(), c.expected) << c.given;
  }
}

TEST_F(BosPathTest, AttributesOfFilesAndDirectories) {
  writeFile(path("plain.dbf"), "");
  writeFile(path("locked.dbf"), "");
  ASSERT_EQ(chmod(path("locked.dbf").c_str(), 0444), 0);
  ASSERT_EQ(mkdir(path("Sub").c_str(), 0700), 0);
  writeFile(path("twin"), "");
  writeFile(path("TWIN"), "");
  int root = geteuid() == 0;  // root may write every file
  struct Case {
    std::string name;
    uint16_t attributes;
  };
  const Case cases[] = {
      {path("plain.dbf"), 1},
      {path("PLAIN.DBF"), 1},
      {path("locked.dbf"), uint16_t(root ? 1 : 5)},
      {path("sub"), 2},
      {path("Sub/.."), 2},
      {path("missing"), 0},
      {path("Twin"), 0},  // ambiguous
      {"", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(bosfattr(kvU(c.name.c_str())), c.attributes) << c.name;
    EXPECT_EQ(bosexist(kvU(c.name.c_str())), c.attributes & 1) << c.name;
  }
  EXPECT_TRUE(errors().empty());
}

// Like mkdir -p: every missing directory is made, with the mode less the
// umask; a parent also gets the owner's write and search bits so that the
// next one can be made in it. Existing directories are found without regard
// to case.
TEST_F(BosPathTest, MakeDirectoryMakesEveryMissingDirectory) {
  enterScratch();
  ASSERT_EQ(mkdir(path("Data").c_str(), 0700), 0);
  mode_t savedUmask = umask(022);
  struct Made {
    std::string name;
    mode_t mode;
  };
  struct Case {
    std::string given;
    uint32_t mode;
    std::vector<Made> made;
  };
  const Case cases[] = {
      {path("a/b/c"), 0750, {{"a", 0750}, {"a/b", 0750}, {"a/b/c", 0750}}},
      {path("m/n"), 0500, {{"m", 0700}, {"m/n", 0500}}},
      {path("open/dir"), 0777, {{"open", 0755}, {"open/dir", 0755}}},
      {path("DATA/new"), 0700, {{"Data/new", 0700}}},
      {path("p//q/"), 0700, {{"p", 0700}, {"p/q", 0700}}},
      {dir_ + "\\s\\t", 0700, {{"s", 0700}, {"s/t", 0700}}},
      {"rel/x", 0700, {{"rel", 0700}, {"rel/x", 0700}}},
      {path("Data"), 0700, {}},
      {path("a/b"), 0700, {}},
      {"/", 0700, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(bosMakeDirectory(kvU(c.given.c_str()), c.mode), kvSuccess) << c.given;
    for (const Made& m : c.made) {
      struct stat st;
      ASSERT_EQ(stat(path(m.name).c_str(), &st), 0) << c.given << ": " << m.name;
      EXPECT_TRUE(S_ISDIR(st.st_mode)) << m.name;
      EXPECT_EQ(st.st_mode & 07777, m.mode) << c.given << ": " << m.name;
    }
  }
  umask(savedUmask);
  EXPECT_EQ(listing(dir_), (std::vector<std::string>{"Data", "a", "m", "open", "p", "rel", "s"}));
  EXPECT_EQ(listing(path("Data")), std::vector<std::string>{"new"});
  EXPECT_TRUE(errors().empty());
}

TEST_F(BosPathTest, MakeDirectoryFailuresSayWhy) {
  writeFile(path("file"), "");
  writeFile(path("twin"), "");
  writeFile(path("TWIN"), "");
  ASSERT_EQ(mkdir(path("locked").c_str(), 0500), 0);
  struct Case {
    std::string given;
    uint16_t message;
    std::string reason;  // part of the text
  };
  std::vector<Case> cases = {
      {path("file/sub/deeper"), 1501, "'" + path("file") + "' exists and is not a directory."},
      {path("FILE"), 1501, "'" + path("file") + "' exists and is not a directory."},
      {path("Twin/sub"), 1501, "differ only in case"},
      {path(std::string(256, 'd') + "/sub"), 1524, ""},
      {"", 1501, "No directory was named."},
  };
  if (geteuid() != 0) {  // root may write every directory
    cases.push_back({path("locked/sub"), 1501, "Permission to make the directory '" + path("locked/sub") + "'"});
  }
  for (const Case& c : cases) {
    clearErrors();
    EXPECT_EQ(bosMakeDirectory(kvU(c.given.c_str()), 0700), kvFailure) << c.given;
    EXPECT_EQ(errors(), std::vector<uint16_t>{c.message}) << c.given;
    std::string text = lastErrorText();
    if (c.message == 1501) {
      EXPECT_EQ(text.rfind("Cannot create file '" + c.given + "'.", 0), 0u) << text;
    }
    EXPECT_NE(text.find(c.reason), std::string::npos) << text;
  }
  EXPECT_EQ(listing(dir_), (std::vector<std::string>{"TWIN", "file", "locked", "twin"}));
  EXPECT_TRUE(listing(path("locked")).empty());
}

TEST_F(BosPathTest, TheCurrentDirectoryIsFoundWithoutRegardToCase) {
  ASSERT_EQ(mkdir(path("Work").c_str(), 0700), 0);
  EXPECT_EQ(bosstcwd(kvU(path("WORK").c_str())), kvSuccess);
  PathBuffer cwd;
  EXPECT_EQ(bosgtcwd(cwd, 0), kvSuccess);
  EXPECT_EQ(cwd.str(), path("Work"));
  EXPECT_EQ(bosgtcwd(cwd, 1), kvSuccess);
  EXPECT_EQ(cwd.str(), path("Work") + "/");
  EXPECT_EQ(bosstcwd(nullptr), kvSuccess);
  EXPECT_EQ(bosstcwd(kvU("")), kvSuccess);
  EXPECT_TRUE(errors().empty());

  EXPECT_EQ(bosstcwd(kvU(path("absent").c_str())), kvFailure);
  EXPECT_EQ(errors(), std::vector<uint16_t>{1504});
  EXPECT_EQ(lastErrorText(), "Cannot set current working directory to '" + path("absent") + "'.");
  EXPECT_EQ(bosgtcwd(cwd, 0), kvSuccess);
  EXPECT_EQ(cwd.str(), path("Work"));
}

TEST_F(BosPathTest, FindFilesMatchesRegularFilesWithoutRegardToCase) {
  ASSERT_EQ(mkdir(path("Tables").c_str(), 0700), 0);
  for (const char* name : {"a.dbf", "B.DBF", "c.txt", "long table name.dbf", "ab.dbf", "noext"})
    writeFile(path("Tables/") + name, "");
  ASSERT_EQ(mkdir(path("Tables/d.dbf").c_str(), 0700), 0);
  ASSERT_EQ(symlink("a.dbf", path("Tables/link.dbf").c_str()), 0);

  using Names = std::set<std::string>;
  EXPECT_EQ(findAll(path("tables/*.DBF")), (Names{"a.dbf", "B.DBF", "long table name.dbf", "ab.dbf", "link.dbf"}));
  EXPECT_EQ(findAll(path("TABLES\\?.dbf")), (Names{"a.dbf", "B.DBF"}));
  EXPECT_EQ(findAll(path("Tables/*.*")),
            (Names{"a.dbf", "B.DBF", "c.txt", "long table name.dbf", "ab.dbf", "noext", "link.dbf"}));
  EXPECT_EQ(findAll(path("Tables/a*b*")), (Names{"a.dbf", "ab.dbf"}));
  EXPECT_EQ(findAll(path("Tables/")), findAll(path("Tables/*")));
  EXPECT_EQ(findAll(path("Tables/*.xls")), Names{});
  EXPECT_EQ(findAll(path("Nowhere/*.dbf")), Names{});

  // At the end the buffer is left as the last call wrote it.
  void* handle = nullptr;
  PathBuffer buffer(path("Tables/c.*"));
  ASSERT_EQ(bosFindFiles(&handle, buffer), kvSuccess);
  EXPECT_EQ(buffer.str(), "c.txt");
  ASSERT_EQ(bosFindFiles(&handle, buffer), kvSuccess);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(buffer.str(), "c.txt");

  // An enumeration may be ended early.
  enterScratch();
  PathBuffer relative("Tables/*.dbf");
  ASSERT_EQ(bosFindFiles(&handle, relative), kvSuccess);
  EXPECT_NE(handle, nullptr);
  bosFindClose(&handle);
  EXPECT_EQ(handle, nullptr);
  EXPECT_TRUE(errors().empty());
}

TEST_F(BosPathTest, DirectoryNamesAndFileSystems) {
  ASSERT_EQ(mkdir(path("Alpha").c_str(), 0700), 0);
  ASSERT_EQ(mkdir(path("beta").c_str(), 0700), 0);
  writeFile(path("file"), "");
  enterScratch();
  std::set<std::string> names;
  void* handle = nullptr;
  PathBuffer buffer;
  for (int calls = 0; calls < 10; ++calls) {
    ASSERT_EQ(bosGetDirectoryNames(&handle, buffer), kvSuccess);
    if (!handle) break;
    names.insert(buffer.str());
  }
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(buffer.str(), "");
  EXPECT_EQ(names, (std::set<std::string>{"Alpha", "beta"}));

  ASSERT_EQ(bosGetFileSystems(&handle, buffer), kvSuccess);
  EXPECT_NE(handle, nullptr);
  EXPECT_EQ(buffer.str(), "/");
  ASSERT_EQ(bosGetFileSystems(&handle, buffer), kvSuccess);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(buffer.str(), "");
}

}  // namespace
