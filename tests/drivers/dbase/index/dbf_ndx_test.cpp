// .NDX files: their headers (fields, the two forms of the unique flag, new
// headers), the header update, the KEY text, and the index locks other
// processes see: where each scheme puts them, readers and writers of two
// connections under K+V, and a second connection that sees another's
// changes at its next lock.
#include "drivers/dbase/index/dbf_index_locks.h"
#include "tests/drivers/dbase/index/dbf_index_test_support.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace {

// A 512-byte dBASE III header with the given fields.
std::string ndx3Header(uint32_t root, uint32_t eof, uint16_t keyLength, uint16_t maxKeys, uint16_t type,
                       uint16_t entrySize, uint16_t form, uint8_t flags8, uint8_t byte23, const char* keyText) {
  std::string h(512, '\0');
  kvPutU32LE(&h[0], root);
  kvPutU32LE(&h[4], eof);
  h[8] = char(flags8);
  kvPutU16LE(&h[12], keyLength);
  kvPutU16LE(&h[14], maxKeys);
  kvPutU16LE(&h[16], type);
  kvPutU16LE(&h[18], entrySize);
  kvPutU16LE(&h[20], form);
  h[23] = char(byte23);
  std::memcpy(&h[24], keyText, std::strlen(keyText));
  return h;
}

}  // namespace

class DbfNdxTest : public DbfIndexFixture {
 protected:
  // A probe: a handle of its own on a file, to see other handles' locks.
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
};

// The dBASE III header's fields, the unique flag read from byte 8 when the
// u16 at 20 is 2 and from byte 23 otherwise, the key type, the KEY text.
TEST_F(DbfNdxTest, Ndx3HeaderFields) {
  openPlainTable();
  const struct {
    uint16_t form;
    uint8_t flags8, byte23;
    uint16_t type;
    bool unique;
    unsigned char keyType;
  } cases[] = {
      {2, 0x40, 0, 0, true, 'C'},   // form 2: byte 8 decides
      {2, 0x00, 1, 0, false, 'C'},  // form 2: byte 23 does not count
      {0, 0x40, 0, 1, false, 'F'},  // otherwise: byte 23 decides
      {0, 0x00, 1, 1, true, 'F'},
      {1, 0x00, 7, 0, true, 'C'},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    std::string name = "h" + std::to_string(&c - cases) + ".ndx";
    writeFile(path(name), ndx3Header(0, 1, 12, 24, c.type, 20, c.form, c.flags8, c.byte23, "UPPER(NAME)"));
    DbfNdx3Desc* index = openNdx3(newFile(name, false));
    EXPECT_EQ(index->isUniqueProperty(), c.unique);
    EXPECT_EQ(index->getKeyType(), c.keyType);
    EXPECT_EQ(index->getKeyLength(), 12);
    EXPECT_EQ(index->getEntrySize(), 20);
    EXPECT_EQ(index->getMaxKeys(), 24);
    EXPECT_EQ(index->getFile()->getKind(), uint32_t(dbfIndexNdx3));
    EXPECT_EQ(index->getFile()->getEofPage(), 1u);
    EXPECT_STREQ(kvC(index->name), kvC(kvU(("h" + std::to_string(&c - cases)).c_str())));
    unsigned char text[300];
    EXPECT_EQ(index->getKeyText(text, sizeof(text)), kvSuccess);
    EXPECT_STREQ(kvC(text), "UPPER(NAME)");
  }
}

// New headers as the formats lay them out, read back.
TEST_F(DbfNdxTest, NewHeaders) {
  openPlainTable();
  const struct {
    bool dbase2;
    unsigned char type;
    uint16_t keyLength;
    uint16_t entrySize, maxKeys;
  } cases[] = {
      {false, 'C', 10, 20, 25}, {false, 'C', 100, 108, 4}, {false, 'F', 8, 16, 31}, {false, 'C', 1, 12, 42},
      {true, 'C', 10, 14, 36},  {true, 'F', 8, 12, 42},    {true, 'C', 100, 104, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    std::string name = "n" + std::to_string(&c - cases) + ".ndx";
    DbfIndexDesc* index = c.dbase2 ? static_cast<DbfIndexDesc*>(newNdx2(name, c.type, c.keyLength, "K"))
                                   : static_cast<DbfIndexDesc*>(newNdx3(name, c.type, c.keyLength, false, "K"));
    EXPECT_EQ(index->getKeyType(), c.type);
    EXPECT_EQ(index->getEntrySize(), c.entrySize);
    EXPECT_EQ(index->getMaxKeys(), c.maxKeys);
    EXPECT_EQ(index->getRoot(), 0u);
    EXPECT_EQ(readFile(path(name)).size(), 512u);
  }
}

// The header changes only when pages were added or the root moved; the
// KEY text of an OEM table comes back in ANSI.
TEST_F(DbfNdxTest, HeaderUpdateAndKeyText) {
  openPlainTable(0, "CS=IBMPC");
  DbfNdx3Desc* index = newNdx3("u.ndx", 'C', 20, false, "NAME+\x82");
  unsigned char text[64];
  ASSERT_EQ(index->getKeyText(text, sizeof(text)), kvSuccess);
  EXPECT_STREQ(kvC(text), "NAME+\xE9");
  {
    DbfIndexCursor walk(index, reader_);
    ASSERT_EQ(index->startNewTree(&walk), kvSuccess);
    ASSERT_EQ(index->finishBuild(&walk), kvSuccess);
  }
  std::string afterBuild = readFile(path("u.ndx"));
  EXPECT_EQ(kvGetU32LE(&afterBuild[0]), 1u);
  EXPECT_EQ(kvGetU32LE(&afterBuild[4]), 2u);
  ASSERT_EQ(insert(index, keyOf(index, "A"), 1), kvSuccess);
  std::string afterInsert = readFile(path("u.ndx"));
  EXPECT_EQ(afterInsert.substr(0, 512), afterBuild.substr(0, 512)) << "no page added: the header stays";
  for (uint32_t r = 2; r <= 40; ++r) ASSERT_EQ(insert(index, keyOf(index, "K" + std::to_string(r)), r), kvSuccess);
  std::string grown = readFile(path("u.ndx"));
  EXPECT_EQ(kvGetU32LE(&grown[0]), index->getRoot());
  EXPECT_EQ(kvGetU32LE(&grown[4]), index->getFile()->getEofPage());
  EXPECT_EQ(grown.size(), size_t(index->getFile()->getEofPage()) * 512);
}

// Where the locks lie, as another handle sees them, by LockCompatibility.
TEST_F(DbfNdxTest, LockOffsetsByScheme) {
  const struct {
    const char* scheme;
    uint32_t writeOffset, writeLength;
    uint32_t readSlot;  // the byte a first reader takes
  } cases[] = {
      {"dBASE", 0x6FFFFFFE, 1, 0x6FFFFFFE},
      {"CLIPPER", 0x6FFFFFFE, 1, 0x6FFFFFFE},
      {"FOX", 0x6FFFFFFE, 1, 0x6FFFFFFE},
      {"K+V", 0x180, 64, 0x180},
      {"K+VVirtual", 0x6FFFFFFF, 64, 0x6FFFFFFF},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scheme);
    std::string name = "l" + std::to_string(&c - cases);
    openPlainTable(0, std::string("LCOMP=") + c.scheme, name + ".dbf");
    DbfNdx3Desc* index = newNdx3(name + ".ndx", 'C', 10);
    DbfIndexCursor* walk = cursor(index);
    ASSERT_EQ(index->lockForWrite(walk), kvSuccess);
    EXPECT_TRUE(lockedByOther(name + ".ndx", c.writeOffset, c.writeLength));
    EXPECT_TRUE(index->getIndexFlags() & DbfIndexDesc::indexWriteLocked);
    index->unlockIndexFile();
    EXPECT_FALSE(lockedByOther(name + ".ndx", c.writeOffset, c.writeLength));
    ASSERT_EQ(index->lockForRead(walk), kvSuccess);
    EXPECT_TRUE(lockedByOther(name + ".ndx", c.readSlot, 1));
    // A second reader of this handle: another slot under K+V, the same
    // byte counted otherwise; a write lock beside them does not wait for
    // this handle's own readers.
    DbfIndexCursor* second = cursor(index);
    ASSERT_EQ(index->lockForRead(second), kvSuccess);
    if (c.writeLength == 64) {
      EXPECT_EQ(second->readSlot, c.readSlot + 1);
    } else {
      EXPECT_EQ(index->getFile()->readLockCount, 2);
    }
    ASSERT_EQ(index->lockForWrite(walk), kvSuccess);
    index->unlockIndexFile();
    index->unlockForRead(walk);
    index->unlockForRead(second);
    EXPECT_FALSE(lockedByOther(name + ".ndx", c.writeOffset, c.writeLength));
  }
}

// K+V between connections: a reader's slot makes a writer wait after it
// has taken the gate; a reader arriving meanwhile waits at the gate; both
// go on in turn as the locks are let go.
TEST_F(DbfNdxTest, KvReadersAndWritersOfTwoConnections) {
  openPlainTable(0, "LCOMP=K+V");
  DbfNdx3Desc* index = newNdx3("k.ndx", 'C', 10);
  {
    DbfIndexCursor build(index, reader_);
    ASSERT_EQ(index->startNewTree(&build), kvSuccess);
    ASSERT_EQ(index->finishBuild(&build), kvSuccess);
  }
  // Two more connections with their own handles on the index.
  struct Other {
    DbfConnection* connection;
    DbfStatement* statement;
    DbfIndexFile* file;
    DbfNdx3Desc* index;
  };
  Other others[2];
  for (Other& o : others) {
    o.connection = connect("LCOMP=K+V");
    o.statement = query(o.connection, "t.dbf");
    o.file = new DbfIndexFile(nullptr, table(o.statement)->table());
    ASSERT_EQ(o.file->setPath(kvU(path("k.ndx").c_str())), kvSuccess);
    ASSERT_EQ(o.file->open(false), kvSuccess);
    o.index = new DbfNdx3Desc(table(o.statement)->table());
    unsigned char text[256];
    ASSERT_EQ(o.index->readHeader(o.file, text, sizeof(text)), kvSuccess);
  }
  use(connection_);
  DbfIndexCursor* reading = cursor(index);
  ASSERT_EQ(index->lockForRead(reading), kvSuccess);

  std::atomic<int> writerDone{0}, readerDone{0};
  std::thread writer([&] {
    KvErrorKeeper::setErrorList(&others[0].connection->getErrorList());
    DbfIndexCursor walk(others[0].index, table(others[0].statement));
    KvStatus status = others[0].index->lockForWrite(&walk);
    writerDone = status == kvSuccess ? 1 : 2;
    while (writerDone != 3) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    others[0].index->unlockIndexFile();
    KvErrorKeeper::giveUpErrorList();
  });
  auto waitFor = [](const std::function<bool()>& condition) {
    for (int i = 0; i < 1000 && !condition(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return condition();
  };
  // The writer holds the gate and waits for the reader's slot.
  ASSERT_TRUE(waitFor([&] { return lockedByOther("k.ndx", 0x1BF, 1); }));
  EXPECT_EQ(writerDone, 0);
  std::thread secondReader([&] {
    KvErrorKeeper::setErrorList(&others[1].connection->getErrorList());
    DbfIndexCursor walk(others[1].index, table(others[1].statement));
    KvStatus status = others[1].index->lockForRead(&walk);
    readerDone = status == kvSuccess ? 1 : 2;
    others[1].index->unlockForRead(&walk);
    KvErrorKeeper::giveUpErrorList();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(readerDone, 0) << "a reader waits at the gate while a writer holds it";
  index->unlockForRead(reading);
  ASSERT_TRUE(waitFor([&] { return writerDone != 0; }));
  EXPECT_EQ(writerDone, 1);
  EXPECT_EQ(readerDone, 0);
  writerDone = 3;
  writer.join();
  secondReader.join();
  EXPECT_EQ(readerDone, 1);
  for (Other& o : others) {
    delete o.index;
    delete o.file;
    use(o.connection);
    drop(o.statement);
  }
  use(connection_);
}

// Another connection adds pages; this one's next lock reads the root and
// the end of the file again and every page it needs, so that its own
// changes land beside the other's and nothing is lost.
TEST_F(DbfNdxTest, NextLockSeesAnotherConnectionsChanges) {
  openPlainTable();
  DbfNdx3Desc* mine = newNdx3("s.ndx", 'C', 100);
  {
    DbfIndexCursor build(mine, reader_);
    ASSERT_EQ(mine->startNewTree(&build), kvSuccess);
    ASSERT_EQ(mine->finishBuild(&build), kvSuccess);
  }
  ASSERT_EQ(insert(mine, keyOf(mine, "M1"), 1), kvSuccess);
  EXPECT_EQ(entries(mine).size(), 1u);

  DbfConnection* other = connect();
  DbfStatement* otherStatement = query(other, "t.dbf");
  DbfFileDesc* otherReader = table(otherStatement);
  auto* otherFile = new DbfIndexFile(nullptr, otherReader->table());
  ASSERT_EQ(otherFile->setPath(kvU(path("s.ndx").c_str())), kvSuccess);
  ASSERT_EQ(otherFile->open(false), kvSuccess);
  auto* theirs = new DbfNdx3Desc(otherReader->table());
  unsigned char text[256];
  ASSERT_EQ(theirs->readHeader(otherFile, text, sizeof(text)), kvSuccess);
  {
    DbfIndexCursor walk(theirs, otherReader);
    ASSERT_EQ(theirs->lockForWrite(&walk), kvSuccess);
    for (uint32_t r = 2; r <= 30; ++r) {
      static_cast<FlatNumericRid*>(otherReader->getRid())->setRecordNumber(r);
      std::string key = keyOf(theirs, "O" + std::to_string(r));
      ASSERT_EQ(theirs->insertKey(&walk, reinterpret_cast<const uint8_t*>(key.data())), kvSuccess);
    }
    theirs->unlockIndexFile();
  }
  use(connection_);
  uint32_t rootBefore = mine->getRoot();
  {
    DbfIndexCursor walk(mine, reader_);
    ASSERT_EQ(mine->lockForWrite(&walk), kvSuccess);
    EXPECT_NE(mine->getRoot(), rootBefore);
    EXPECT_EQ(mine->getFile()->getEofPage(), otherFile->getEofPage());
    ASSERT_EQ(insert(mine, keyOf(mine, "M31"), 31), kvSuccess);
    mine->unlockIndexFile();
  }
  EXPECT_EQ(verify(mine), 31u);
  EXPECT_EQ(entries(mine).size(), 31u);
  delete theirs;
  delete otherFile;
  use(other);
  drop(otherStatement);
  use(connection_);
}
