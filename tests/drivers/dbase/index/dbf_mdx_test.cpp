// .MDX files: the file header and the table it names, the tag directory
// (47 tags, the name tree through additions and removals, the checks of
// CREATE and DROP INDEX), FOR texts, the change counter that tells another
// process which tag to read again, and the ziz-tag locks, among them the
// allocation byte inside a whole-file lock.
#include "drivers/dbase/index/dbf_index_locks.h"
#include "tests/drivers/dbase/index/dbf_index_test_support.h"

#include <algorithm>
#include <random>

class DbfMdxTest : public DbfIndexFixture {
 protected:
  // A new .MDX with tags of the names given (C(10) keys), in that order.
  DbfIndexFile* mdxWithTags(const std::string& name, const std::vector<std::string>& tags) {
    DbfIndexFile* file = newFile(name, true);
    EXPECT_EQ(DbfMdxFile::createFile(file, kvU("T"), true), kvSuccess);
    for (const std::string& tag : tags) {
      uint16_t number = 0;
      EXPECT_EQ(DbfMdxFile::addTag(file, kvU(tag.c_str()), 'C', 10, 0, kvU("NAME"), nullptr, &number), kvSuccess)
          << tag;
    }
    return file;
  }
  std::vector<std::string> listed(const std::string& name) {
    unsigned char names[dbfMdxMaxTags][dbfMdxTagNameChars + 1];
    uint16_t count = 0;
    EXPECT_EQ(DbfMdxFile::listTags(kvU(path(name).c_str()), false, names, &count), kvSuccess);
    std::vector<std::string> out;
    for (uint16_t i = 0; i < count; ++i) out.push_back(kvC(names[i]));
    return out;
  }
  uint16_t entryOf(DbfIndexFile* file, const std::string& tag) {
    uint16_t entry = 0;
    EXPECT_EQ(DbfMdxFile::findTag(file, kvU(tag.c_str()), &entry), kvSuccess);
    return entry;
  }
  bool lockedByOther(const std::string& file, uint32_t offset, uint32_t length) {
    unsigned char name[bosPathBytes];
    std::snprintf(kvC(name), sizeof(name), "%s", path(file).c_str());
    int handle = 0;
    EXPECT_EQ(bosFileOpen(name, bosOpenReadWrite, &handle), kvSuccess);
    int locked = 0;
    EXPECT_EQ(bosRegionTest(handle, offset, length, &locked), kvSuccess);
    (void)bosFileClose(handle);
    return locked != 0;
  }
  void buildEmpty(DbfIndexDesc* index) {
    DbfIndexCursor walk(index, reader_);
    ASSERT_EQ(index->startNewTree(&walk), kvSuccess);
    ASSERT_EQ(index->finishBuild(&walk), kvSuccess);
  }
};

// A file holds 47 tags, each found by name through the tree and listed in
// entry order; a 48th is refused with 4409.
TEST_F(DbfMdxTest, FortySevenTags) {
  openPlainTable();
  std::vector<std::string> names;
  for (int i = 0; i < 47; ++i) names.push_back("TAG" + std::to_string(i * 7 % 47));
  std::shuffle(names.begin(), names.end(), std::mt19937(3));
  DbfIndexFile* file = mdxWithTags("f.mdx", names);
  EXPECT_EQ(listed("f.mdx"), names);
  for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(entryOf(file, names[i]), i + 1) << names[i];
  EXPECT_EQ(entryOf(file, "NOSUCH"), 0);
  uint16_t number = 0;
  connection_->getErrorList().clearErrors();
  EXPECT_EQ(DbfMdxFile::addTag(file, kvU("ONEMORE"), 'C', 10, 0, kvU("NAME"), nullptr, &number), kvFailure);
  ASSERT_EQ(errorsOf(connection_), (std::vector<uint16_t>{4409}));
  EXPECT_STREQ(kvC(connection_->getErrorList().getLastError()->getErrorText()),
               "The MDX file is full (47 tags maximum).");
  // Every tag of the full file reads, and its pages follow its header.
  DbfIndexFile* again = newFile("f.mdx", false);
  ASSERT_EQ(DbfMdxFile::readHeader(again, kvU("T"), false), kvSuccess);
  EXPECT_EQ(again->getTagCount(), 47);
  DbfMdxDesc* last = openMdxTag(again, 46);
  EXPECT_STREQ(kvC(last->name), names[46].c_str());
  buildEmpty(last);
  EXPECT_EQ(verify(last), 0u);
}

// Dropping tags: the root of the name tree with two subtrees, an inner
// entry, the last one; every other tag stays findable, the last entry
// moves into the dropped one's place; an absent name is 4404 and changes
// nothing.
TEST_F(DbfMdxTest, RemovingTagsKeepsTheNameTree) {
  openPlainTable();
  // M is the root; F and T its children; B H P W below them.
  std::vector<std::string> tags = {"M", "F", "T", "B", "H", "P", "W", "A", "Z"};
  DbfIndexFile* file = mdxWithTags("r.mdx", tags);
  uint16_t left = 0;
  ASSERT_EQ(DbfMdxFile::removeTag(file, kvU("M"), false, &left), kvSuccess);
  EXPECT_EQ(left, 8);
  std::vector<std::string> want = {"Z", "F", "T", "B", "H", "P", "W", "A"};
  EXPECT_EQ(listed("r.mdx"), want) << "the last entry takes the dropped one's place";
  for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(entryOf(file, want[i]), i + 1) << want[i];
  EXPECT_EQ(entryOf(file, "M"), 0);

  ASSERT_EQ(DbfMdxFile::removeTag(file, kvU("H"), false, &left), kvSuccess);
  ASSERT_EQ(DbfMdxFile::removeTag(file, kvU("F"), false, &left), kvSuccess);
  ASSERT_EQ(DbfMdxFile::removeTag(file, kvU("P"), false, &left), kvSuccess);
  EXPECT_EQ(left, 5);
  for (const std::string& tag : listed("r.mdx")) EXPECT_NE(entryOf(file, tag), 0) << tag;
  EXPECT_EQ(listed("r.mdx").size(), 5u);

  // The moved tag opens under its new number with its own header.
  uint16_t z = entryOf(file, "Z");
  DbfMdxDesc* moved = openMdxTag(file, uint16_t(z - 1));
  EXPECT_STREQ(kvC(moved->name), "Z");

  std::string before = readFile(path("r.mdx"));
  connection_->getErrorList().clearErrors();
  EXPECT_EQ(DbfMdxFile::removeTag(file, kvU("NOSUCH"), false, &left), kvFailure);
  EXPECT_EQ(errorsOf(connection_), (std::vector<uint16_t>{4404}));
  EXPECT_EQ(readFile(path("r.mdx")), before);
}

// CREATE INDEX's check of a new tag name: 3838 with S0011 for a tag the
// file holds (the name cut to 10 characters, made OEM for OEM tables);
// nothing for a new name or a missing file.
TEST_F(DbfMdxTest, NewTagNameCheck) {
  openPlainTable();
  mdxWithTags("c.mdx", {"NAME", "CITY", "\x82T\x82"});
  const struct {
    const char* file;
    const char* name;
    bool ansi;
    KvStatus status;
  } cases[] = {
      {"c.mdx", "NAME", false, kvFailure},     {"c.mdx", "ZIP", false, kvSuccess},
      {"c.mdx", "CITYXXXXXXX", false, kvSuccess}, {"c.mdx", "\xE9T\xE9", true, kvFailure},
      {"c.mdx", "\xE9T\xE9", false, kvSuccess},  {"none.mdx", "NAME", false, kvSuccess},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    connection_->getErrorList().clearErrors();
    EXPECT_EQ(DbfMdxFile::checkNewTagName(kvU(path(c.file).c_str()), kvU(c.name), c.ansi), c.status);
    if (c.status == kvFailure) {
      EXPECT_EQ(errorsOf(connection_), (std::vector<uint16_t>{3838}));
      EXPECT_EQ(stateOf(connection_), "S0011");
    }
  }
}

// The table the file was made for: another name is a warning (1223) that
// names it; the same name in any case, or none, is not.
TEST_F(DbfMdxTest, TableNameOfTheFile) {
  openPlainTable();
  const struct {
    const char* stored;
    const char* table;
    bool warning;
  } cases[] = {{"EMP", "emp", false}, {"EMP", "DEPT", true}, {"", "DEPT", false}, {"LONGTABLENAME12X", "LONGTABLENAME12", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    std::string name = std::string("w") + std::to_string(&c - cases) + ".mdx";
    DbfIndexFile* file = newFile(name, true);
    ASSERT_EQ(DbfMdxFile::createFile(file, kvU(c.stored), true), kvSuccess);
    connection_->getErrorList().clearErrors();
    EXPECT_EQ(DbfMdxFile::readHeader(file, kvU(c.table), false), kvSuccess);
    if (c.warning) {
      ASSERT_EQ(errorsOf(connection_), (std::vector<uint16_t>{1223}));
      EXPECT_TRUE(connection_->getErrorList().getLastError()->isWarning());
      EXPECT_NE(std::string(kvC(connection_->getErrorList().getLastError()->getErrorText()))
                    .find("MDX file was created for database: " + std::string(c.stored)),
                std::string::npos);
    } else {
      EXPECT_TRUE(errorsOf(connection_).empty());
    }
  }
}

// A tag's FOR text comes back (in ANSI for an OEM table); a tag without
// one gives none. The KEY text likewise.
TEST_F(DbfMdxTest, ForAndKeyTexts) {
  openPlainTable(0, "CS=IBMPC");
  DbfMdxDesc* filtered = newMdxTag("x.mdx", "F", 'C', 10, 0, "UPPER(NAME)", "CITY = '\x82'");
  DbfMdxDesc* plain = newMdxTag("", "P", 'C', 10, 0, "NAME", "", filtered->getFile());
  uint8_t* text = nullptr;
  ASSERT_EQ(filtered->getFilterCondition(&text, reader_), kvSuccess);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(kvC(text), "CITY = '\xE9'");
  ASSERT_EQ(plain->getFilterCondition(&text, reader_), kvSuccess);
  EXPECT_EQ(text, nullptr);
  unsigned char key[300];
  ASSERT_EQ(filtered->getKeyText(key, sizeof(key)), kvSuccess);
  EXPECT_STREQ(kvC(key), "UPPER(NAME)");
}

// A process that changed a tag advances that tag's change counter:
// another process's next lock of the tag reads its pages again; a lock of
// another tag of the file keeps that tag's pages.
TEST_F(DbfMdxTest, ChangeCounterMarksOnlyThatTagStale) {
  openPlainTable();
  DbfMdxDesc* first = newMdxTag("s.mdx", "FIRST", 'C', 10);
  DbfMdxDesc* second = newMdxTag("", "SECOND", 'C', 10, 0, "NAME", "", first->getFile());
  buildEmpty(first);
  buildEmpty(second);
  for (uint32_t r = 1; r <= 200; ++r) {
    ASSERT_EQ(insert(first, keyOf(first, "A" + std::to_string(r)), r), kvSuccess);
    ASSERT_EQ(insert(second, keyOf(second, "B" + std::to_string(r)), r), kvSuccess);
  }
  // The other connection's view of both tags, its pages read once.
  DbfConnection* other = connect();
  DbfStatement* otherStatement = query(other, "t.dbf");
  DbfFileDesc* otherReader = table(otherStatement);
  auto* otherFile = new DbfIndexFile(nullptr, otherReader->table());
  ASSERT_EQ(otherFile->setPath(kvU(path("s.mdx").c_str())), kvSuccess);
  ASSERT_EQ(otherFile->open(false), kvSuccess);
  ASSERT_EQ(DbfMdxFile::readHeader(otherFile, kvU("T"), false), kvSuccess);
  DbfMdxDesc* views[2];
  for (uint16_t t = 0; t < 2; ++t) {
    views[t] = new DbfMdxDesc(otherReader->table());
    unsigned char key[256], forText[300];
    ASSERT_EQ(views[t]->readTag(otherFile, t, key, sizeof(key), forText, sizeof(forText)), kvSuccess);
  }
  auto search = [&](DbfMdxDesc* view, const std::string& text) {
    DbfIndexCursor walk(view, otherReader);
    uint32_t record = 0;
    std::string key = keyOf(view, text);
    EXPECT_EQ(view->searchKey(&walk, reinterpret_cast<const uint8_t*>(key.data()), &record, true), kvSuccess);
    return record;
  };
  EXPECT_EQ(search(views[0], "A77"), 77u);
  EXPECT_EQ(search(views[1], "B77"), 77u);

  use(connection_);
  {
    DbfIndexCursor walk(first, reader_);
    ASSERT_EQ(first->lockForWrite(&walk), kvSuccess);
    ASSERT_EQ(insert(first, keyOf(first, "A77"), 999), kvSuccess);
    ASSERT_EQ(remove(first, keyOf(first, "A77"), 77), kvSuccess);
    first->unlockIndexFile();
  }
  use(other);
  {
    DbfIndexCursor walk(views[1], otherReader);
    uint64_t read = views[1]->getPagesRead();
    ASSERT_EQ(views[1]->lockForRead(&walk), kvSuccess);
    EXPECT_EQ(search(views[1], "B77"), 77u);
    EXPECT_EQ(views[1]->getPagesRead(), read) << "the other tag keeps its pages";
    views[1]->unlockForRead(&walk);
  }
  {
    DbfIndexCursor walk(views[0], otherReader);
    uint64_t read = views[0]->getPagesRead();
    ASSERT_EQ(views[0]->lockForRead(&walk), kvSuccess);
    EXPECT_EQ(search(views[0], "A77"), 999u) << "the changed tag is read again";
    EXPECT_GT(views[0]->getPagesRead(), read);
    views[0]->unlockForRead(&walk);
  }
  for (DbfMdxDesc* view : views) delete view;
  delete otherFile;
  drop(otherStatement);
  use(connection_);
}

// Where the ziz-tag locks lie by LockCompatibility and Locking.
TEST_F(DbfMdxTest, LockOffsetsBySchemeAndLevel) {
  const struct {
    const char* keys;
    bool wholeFile;
    uint32_t offset, length;  // of the second tag's write lock; 0: T + 0x1C0
  } cases[] = {
      {"LCOMP=dBASE", false, 0x6FFFFFFE, 1},
      {"LCOMP=K+V", false, 0, 64},
      {"LCOMP=K+VVirtual", false, 2 * 64 + 0x70000000, 64},
      {"LCOMP=K+V;LCK=FILE", true, 0, 0xFFFFFFFF},
      {"LCOMP=K+VVirtual;LCK=FILE", true, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keys);
    std::string name = "l" + std::to_string(&c - cases);
    openPlainTable(0, c.keys, name + ".dbf");
    DbfMdxDesc* first = newMdxTag(name + ".mdx", "FIRST", 'C', 10);
    DbfMdxDesc* second = newMdxTag("", "SECOND", 'C', 10, 0, "NAME", "", first->getFile());
    uint32_t offset = c.offset, length = c.length;
    if (!c.wholeFile && !offset) offset = second->getTagHeaderOffset() + 0x1C0;
    if (c.wholeFile && !length) {
      uint64_t size = 0;
      ASSERT_EQ(first->getFile()->size(&size), kvSuccess);
      offset = uint32_t(size);
      length = 0xFFFFFFFF - offset;
    }
    DbfIndexCursor* walk = cursor(second);
    ASSERT_EQ(second->lockForWrite(walk), kvSuccess);
    EXPECT_EQ(second->getFile()->lockOffset, offset);
    EXPECT_EQ(second->getFile()->lockLength, length);
    EXPECT_TRUE(lockedByOther(name + ".mdx", offset, 1));
    // The first tag's write lock beside it: the byte or the whole file is
    // shared and stays locked until both let go.
    DbfIndexCursor* other = cursor(first);
    ASSERT_EQ(first->lockForWrite(other), kvSuccess);
    second->unlockIndexFile();
    if (c.wholeFile || c.length == 1) {
      EXPECT_TRUE(lockedByOther(name + ".mdx", offset, 1));
    }
    first->unlockIndexFile();
    EXPECT_FALSE(lockedByOther(name + ".mdx", offset, 1));
    // A reader takes a slot of its tag's region (under FILE as well).
    ASSERT_EQ(second->lockForRead(walk), kvSuccess);
    if (c.length == 1) {
      EXPECT_TRUE(lockedByOther(name + ".mdx", 0x6FFFFFFE, 1));
    } else {
      uint32_t region = std::string(c.keys).find("Virtual") != std::string::npos
                            ? 2 * 64 + 0x70000000
                            : second->getTagHeaderOffset() + 0x1C0;
      EXPECT_EQ(walk->readSlot, region);
      EXPECT_TRUE(lockedByOther(name + ".mdx", region, 1));
    }
    second->unlockForRead(walk);
  }
}

// Inserts that split pages under a write lock: under Locking FILE with K+V
// or K+VVirtual the allocation byte lies inside this handle's own
// whole-file lock and is not asked for again (it would be refused for ever,
// and letting it go would cut a hole into the larger lock); under RECORD
// it is taken and let go with each insert.
TEST_F(DbfMdxTest, AllocationByteUnderTheWholeFileLock) {
  const struct {
    const char* keys;
    uint32_t allocationByte;
  } cases[] = {
      {"LCOMP=K+V;LCK=FILE", 0x1FF},
      {"LCOMP=K+VVirtual;LCK=FILE", 0x6FFFFFFD},
      {"LCOMP=K+V;LCK=RECORD", 0x1FF},
      {"LCOMP=dBASE;LCK=RECORD", 0x6FFFFFFD},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keys);
    std::string name = "a" + std::to_string(&c - cases);
    openPlainTable(0, c.keys, name + ".dbf");
    DbfMdxDesc* tag = newMdxTag(name + ".mdx", "T", 'C', 100);
    buildEmpty(tag);
    DbfIndexCursor* walk = cursor(tag);
    ASSERT_EQ(tag->lockForWrite(walk), kvSuccess);
    uint32_t eof = tag->getFile()->getEofPage();
    for (uint32_t r = 1; r <= 60; ++r) ASSERT_EQ(insert(tag, keyOf(tag, "K" + std::to_string(r)), r), kvSuccess);
    EXPECT_GT(tag->getFile()->getEofPage(), eof) << "pages were allocated";
    bool wholeFile = std::string(c.keys).find("FILE") != std::string::npos;
    EXPECT_EQ(lockedByOther(name + ".mdx", c.allocationByte, 1), wholeFile) << "held only inside the file lock";
    tag->unlockIndexFile();
    EXPECT_FALSE(lockedByOther(name + ".mdx", c.allocationByte, 1));
    EXPECT_FALSE(lockedByOther(name + ".mdx", 0, 0xFFFFFFFF)) << "nothing left locked";
    EXPECT_EQ(verify(tag), 60u);
  }
}
