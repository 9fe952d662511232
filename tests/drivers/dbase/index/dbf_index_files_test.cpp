// Index files and other programs: every .NDX and .MDX written here is
// walked by Perl XBase (Debian's libdbd-xbase-perl) with the same keys and
// records, and found with its find_eq; files that no program here wrote
// (tests/data/index, built from the formats by make_index_files.py) are
// read, searched, checked and changed here; damaged files are refused with
// a clean diagnostic and left unchanged.
//
// Perl XBase reads no dBASE II .NDX (its reader knows the dBASE III form
// only), so dBASE II files are checked against the files built from the
// format instead.
#include "tests/drivers/dbase/index/dbf_index_test_support.h"

#include <algorithm>
#include <map>
#include <random>
#include <sstream>

namespace {

// Finds keys through the index with find_eq on the table: for each key the
// IDs of the rows it finds, in index order, up to the first other key.
const char perlFind[] = R"(use XBase;
my ($dbf, $index, $tag, $field, $numbers, @keys) = @ARGV;
my $table = XBase->new($dbf) or die XBase->errstr;
my $cursor = $table->prepare_select_with_index($tag ? [$index, $tag] : $index, $field, "ID") or die $table->errstr;
for my $key (@keys) {
  $cursor->find_eq($key);
  my @ids;
  while (my @row = $cursor->fetch) {
    my $value = $row[0];
    $value =~ s/\s+$//;
    last if $numbers ? $value != $key : $value ne $key;
    push @ids, $row[1] + 0;
  }
  print "$key:", join(" ", @ids), "\n";
}
)";

std::string dataFile(const std::string& name) { return readFile(std::string(KV_TEST_DATA) + "/index/" + name); }

std::string trimmed(const std::string& key) { return key.substr(0, key.find_last_not_of(' ') + 1); }

}  // namespace

class DbfIndexFilesTest : public DbfIndexFixture {
 protected:
  // Builds the index from the first 1000 records, adds the rest one by one
  // in a shuffled order, then removes 150 records' keys: pages from the
  // build, from splits and emptied by deletes.
  void buildAndChange(DbfIndexDesc* index, uint16_t column, uint32_t records) {
    ASSERT_EQ(build(index, column, 1000), kvSuccess);
    std::vector<uint32_t> later;
    for (uint32_t r = 1001; r <= records; ++r) later.push_back(r);
    std::mt19937 random(99);
    std::shuffle(later.begin(), later.end(), random);
    ColumnKeySource source(column);
    uint8_t value[dbfKeyValueBytes];
    auto keyOfRecord = [&](uint32_t r) {
      setRecord(r);
      EXPECT_EQ(reader_->setRecordPosition(), kvSuccess);
      uint32_t length = 0;
      bool include = true;
      EXPECT_EQ(source.recordValue(reader_, value, &length, &include), kvSuccess);
      uint8_t key[dbfIndexMaxKeyBytes];
      EXPECT_EQ(index->makeKey(value, length, key), kvSuccess);
      return std::string(reinterpret_cast<char*>(key), index->getKeyLength());
    };
    for (uint32_t r : later) ASSERT_EQ(insert(index, keyOfRecord(r), r), kvSuccess);
    for (int i = 0; i < 150; ++i) {
      uint32_t r = 1 + random() % records;
      if (removed_.count(r)) continue;
      removed_.insert(r);
      ASSERT_EQ(remove(index, keyOfRecord(r), r), kvSuccess);
    }
    EXPECT_EQ(verify(index), records - removed_.size());
  }
  std::set<uint32_t> removed_;
};

TEST_F(DbfIndexFilesTest, PerlXBaseReadsFilesWrittenHere) {
  // NAME C(12) of 150 values, AMOUNT N(10,2) with negatives and zero,
  // BORN D with blanks, ID the record's number.
  std::vector<std::string> records;
  std::mt19937 random(5);
  const uint32_t count = 1500;
  for (uint32_t r = 1; r <= count; ++r) {
    char record[64];
    uint32_t born = random() % 400;
    char date[16] = "        ";
    if (born >= 20) std::snprintf(date, sizeof(date), "2019%02u%02u", unsigned(1 + born % 12), unsigned(1 + born % 28));
    std::snprintf(record, sizeof(record), " NAME%03u     %10.2f%s%6u", unsigned(random() % 150),
                  (int(random() % 201) - 100) * 0.25, date, unsigned(r));
    records.push_back(record);
  }
  openTable({{"NAME", 'C', 12, 0}, {"AMOUNT", 'N', 10, 2}, {"BORN", 'D', 8, 0}, {"ID", 'N', 6, 0}}, records);

  DbfNdx3Desc* name = newNdx3("name.ndx", 'C', 12);
  DbfNdx3Desc* amount = newNdx3("amount.ndx", 'F', 8, false, "AMOUNT");
  DbfMdxDesc* mdxName = newMdxTag("t.mdx", "NAME", 'C', 12);
  DbfIndexFile* mdx = mdxName->getFile();
  DbfMdxDesc* mdxDown = newMdxTag("", "NAMEDOWN", 'C', 12, DbfIndexDesc::indexDescending, "NAME", "", mdx);
  DbfMdxDesc* mdxAmount = newMdxTag("", "AMOUNT", 'N', 12, 0, "AMOUNT", "", mdx);
  DbfMdxDesc* mdxBorn = newMdxTag("", "BORN", 'D', 8, 0, "BORN", "", mdx);
  struct Built {
    DbfIndexDesc* index;
    uint16_t column;
    const char* file;
    const char* tag;
    bool numbers;
  } built[] = {
      {name, 0, "name.ndx", "", false},          {amount, 1, "amount.ndx", "", true},
      {mdxName, 0, "t.mdx", "NAME", false},      {mdxDown, 0, "t.mdx", "NAMEDOWN", false},
      {mdxAmount, 1, "t.mdx", "AMOUNT", false},  {mdxBorn, 2, "t.mdx", "BORN", false},
  };
  for (const Built& b : built) {
    SCOPED_TRACE(std::string(b.file) + " " + b.tag);
    removed_.clear();
    buildAndChange(b.index, b.column, count);
    std::vector<IndexEntry> ours = entries(b.index);
    ASSERT_EQ(ours.size(), count - removed_.size());
    std::string perl = runScript("perl", perlIndexWalk, {path(b.file), b.tag, b.numbers ? "1" : ""});
    // Compared whole but not printed whole: a listing has 1,350 lines.
    std::string want = b.numbers ? numberListing(ours) : listing(ours);
    EXPECT_TRUE(perl == want) << "Perl's first difference at byte "
                              << std::mismatch(perl.begin(), perl.end(), want.begin(), want.end()).first - perl.begin()
                              << ": " << perl.substr(0, 200);
  }

  // find_eq through the character and numeric indexes: the rows of a key
  // in index order, as this side walks them.
  for (const Built& b : {built[0], built[1], built[2]}) {
    SCOPED_TRACE(std::string(b.file) + " " + b.tag);
    std::vector<IndexEntry> ours = entries(b.index);
    std::vector<std::string> keys;
    std::string expected;
    for (size_t at : {size_t(0), ours.size() / 3, ours.size() / 2, ours.size() - 1}) {
      std::string key = b.numbers ? "" : trimmed(ours[at].first);
      char number[32];
      if (b.numbers) {
        std::snprintf(number, sizeof(number), "%.15g", doubleOf(ours[at].first));
        key = number;
      }
      keys.push_back(key);
      expected += key + ":";
      bool first = true;
      for (const IndexEntry& e : ours)
        if (e.first == ours[at].first) {
          expected += (first ? "" : " ") + std::to_string(e.second);
          first = false;
        }
      expected += "\n";
    }
    std::vector<std::string> arguments = {path("t.dbf"), path(b.file), b.tag, b.column == 0 ? "NAME" : "AMOUNT",
                                          b.numbers ? "1" : ""};
    arguments.insert(arguments.end(), keys.begin(), keys.end());
    EXPECT_EQ(runScript("perl", perlFind, arguments), expected);
  }
}

// Files built byte by byte from the formats (roots that are not the last
// page, other fills, garbage behind keys, a zero packed another way): read
// in order, found, checked; then changed here, and read again by Perl.
TEST_F(DbfIndexFilesTest, FilesBuiltFromTheFormatReadHere) {
  openPlainTable();
  struct Case {
    const char* file;
    const char* tag;
    const char* listingFile;
    bool perl;
  } cases[] = {
      {"hand3.ndx", "", "hand3.ndx.txt", true},       {"hand3n.ndx", "", "hand3n.ndx.txt", false},
      {"hand2.ndx", "", "hand2.ndx.txt", false},      {"hand.mdx", "NAME", "hand.mdx.NAME.txt", true},
      {"hand.mdx", "AMOUNT", "hand.mdx.AMOUNT.txt", true}, {"hand.mdx", "BORN", "hand.mdx.BORN.txt", true},
      // Perl reads 1024 bytes from the start of every page, so the last
      // 512-byte page of a file is out of its reach: a page this side adds
      // at the end of hand512.mdx would be.
      {"hand512.mdx", "ITEM", "hand512.mdx.ITEM.txt", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + c.tag);
    std::string copy = std::string(c.tag) + c.file;
    writeFile(path(copy), dataFile(c.file));
    DbfIndexFile* file = newFile(copy, false);
    DbfIndexDesc* index = nullptr;
    if (std::string(c.file) == "hand2.ndx") {
      auto* ndx = new DbfNdx2Desc(reader_->table());
      indexes_.push_back(ndx);
      unsigned char text[256];
      ASSERT_EQ(ndx->readHeader(file, text, sizeof(text)), kvSuccess);
      EXPECT_STREQ(kvC(text), "CODE");
      index = ndx;
    } else if (c.tag[0]) {
      ASSERT_EQ(DbfMdxFile::readHeader(file, kvU("HAND"), false), kvSuccess);
      uint16_t entry = 0;
      ASSERT_EQ(DbfMdxFile::findTag(file, kvU(c.tag), &entry), kvSuccess);
      ASSERT_NE(entry, 0);
      index = openMdxTag(file, uint16_t(entry - 1));
      EXPECT_STREQ(kvC(index->name), c.tag);
    } else {
      index = openNdx3(file);
    }
    std::string want = dataFile(c.listingFile);
    ASSERT_EQ(listing(entries(index)), want);
    size_t lines = size_t(std::count(want.begin(), want.end(), '\n'));
    EXPECT_EQ(verify(index), lines);
    // Every key's first record, as the listing has it.
    std::vector<IndexEntry> list = entries(index);
    for (size_t i = 0; i < list.size(); ++i) {
      if (i == 0 || list[i].first != list[i - 1].first) {
        EXPECT_EQ(find(index, list[i].first), list[i].second);
      }
    }

    // Changed here: a key before all, one after all, one between, and two
    // removed; the file still checks out and reads in order.
    ASSERT_EQ(insert(index, list.front().first, 900), kvSuccess);
    ASSERT_EQ(insert(index, list.back().first, 901), kvSuccess);
    ASSERT_EQ(insert(index, list[list.size() / 2].first, 902), kvSuccess);
    ASSERT_EQ(remove(index, list[1].first, list[1].second), kvSuccess);
    ASSERT_EQ(remove(index, list[list.size() - 2].first, list[list.size() - 2].second), kvSuccess);
    EXPECT_EQ(verify(index), lines + 1);
    std::vector<IndexEntry> changed = entries(index);
    EXPECT_EQ(changed.size(), lines + 1);
    if (c.perl) {
      EXPECT_EQ(runScript("perl", perlIndexWalk, {path(copy), c.tag}), listing(changed));
    }
  }
}

// Damaged files: headers that break the format, key counts beyond a
// page's room, child pointers past the end or back up the path, a block
// size of 0, a tag tree that loops. Each gives its message at once and the
// file is not written.
TEST_F(DbfIndexFilesTest, DamagedFilesAreRefusedCleanly) {
  openPlainTable(3);
  enum Step { open, walkAll, search, check, add, findTag };
  struct Case {
    const char* name;
    const char* file;
    uint32_t offset;
    std::vector<uint8_t> bytes;
    Step step;
    uint16_t message;
  } cases[] = {
      {"key length 0", "hand3.ndx", 12, {0, 0}, open, 1222},
      {"key length 101", "hand3.ndx", 12, {101, 0}, open, 1222},
      {"entries beyond the page", "hand3.ndx", 14, {26, 0}, open, 1222},
      {"entry smaller than its key", "hand3.ndx", 18, {16, 0}, open, 1222},
      {"end of file 0", "hand3.ndx", 4, {0, 0, 0, 0}, open, 1222},
      {"root beyond the end", "hand3.ndx", 0, {40, 0, 0, 0}, open, 1222},
      {"short header", "hand3.ndx", 0xFFFFFFFF, {}, open, 1222},
      {"dBASE II entry size", "hand2.ndx", 7, {11}, open, 1221},
      {"leaf key count over its room", "hand3.ndx", 3 * 512, {200, 0}, walkAll, 1238},
      {"root key count over its room", "hand3.ndx", 512, {26, 0}, search, 1238},
      {"child past the end", "hand3.ndx", 512 + 4, {0xA0, 0x0F, 0, 0}, search, 1201},
      {"child back to the root", "hand3.ndx", 512 + 4, {1, 0, 0, 0}, walkAll, 1238},
      {"cycle two levels deep", "hand3n.ndx", 15 * 512 + 4, {13, 0, 0, 0}, walkAll, 1238},
      {"two parents of one leaf", "hand3.ndx", 512 + 4 + 20, {3, 0, 0, 0}, check, 1238},
      {"child page 0 inside a page", "hand3.ndx", 512 + 4 + 40, {0, 0, 0, 0}, check, 1238},
      {"key count over its room, insert", "hand3.ndx", 512, {26, 0}, add, 1238},
      {"block size 0", "hand.mdx", 22, {0, 0}, open, 1222},
      {"block size 700", "hand.mdx", 22, {0xBC, 0x02}, open, 1222},
      {"48 tags", "hand.mdx", 28, {48}, open, 1222},
      {"tag tree loop", "hand.mdx", 512 + 64 + 16, {1}, findTag, 1222},
      {"tag tree link outside", "hand.mdx", 512 + 32 + 17, {9}, findTag, 1222},
      {"tag key length 0", "hand.mdx", 4 * 512 + 12, {0, 0}, open, 1222},
      {"tag keys a page beyond its room", "hand.mdx", 4 * 512 + 14, {0xFF, 0}, open, 1222},
      {"tag leaf key count", "hand.mdx", 8 * 512, {100, 0}, walkAll, 1238},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes = dataFile(c.file);
    if (c.offset == 0xFFFFFFFF) bytes.resize(100);
    for (size_t i = 0; i < c.bytes.size(); ++i) bytes[c.offset + i] = char(c.bytes[i]);
    std::string copy = std::string("bad") + std::to_string(&c - cases) + c.file;
    writeFile(path(copy), bytes);
    connection_->getErrorList().clearErrors();
    DbfIndexFile* file = newFile(copy, false);
    bool mdx = std::string(c.file).find(".mdx") != std::string::npos;
    DbfIndexDesc* index = nullptr;
    KvStatus status = kvSuccess;
    if (mdx) {
      status = DbfMdxFile::readHeader(file, kvU("HAND"), false);
      if (status == kvSuccess && c.step == findTag) {
        uint16_t entry = 0;
        // A name that is absent: the walk follows the links to their end
        // (or round the loop that AMOUNT's left child NAME makes).
        status = DbfMdxFile::findTag(file, kvU("AAA"), &entry);
      } else if (status == kvSuccess) {
        auto* tag = new DbfMdxDesc(reader_->table());
        indexes_.push_back(tag);
        unsigned char text[256], forText[300];
        status = tag->readTag(file, 0, text, sizeof(text), forText, sizeof(forText));
        index = tag;
      }
    } else if (std::string(c.file) == "hand2.ndx") {
      auto* ndx = new DbfNdx2Desc(reader_->table());
      indexes_.push_back(ndx);
      unsigned char text[256];
      status = ndx->readHeader(file, text, sizeof(text));
      index = ndx;
    } else {
      auto* ndx = new DbfNdx3Desc(reader_->table());
      indexes_.push_back(ndx);
      unsigned char text[256];
      status = ndx->readHeader(file, text, sizeof(text));
      index = ndx;
    }
    if (c.step != open && c.step != findTag) {
      ASSERT_EQ(status, kvSuccess) << "the header is sound";
      DbfIndexCursor walk(index, reader_);
      uint32_t record = 0, keys = 0;
      const std::string key = std::string(index->getKeyLength(), ' ');
      switch (c.step) {
        case walkAll:
          for (int guard = 0; guard < 100000 && (status = index->nextKey(&walk, &record)) == kvSuccess && record;)
            ++guard;
          break;
        case search:
          status = index->searchKey(&walk, reinterpret_cast<const uint8_t*>(key.data()), &record, true);
          break;
        case check: status = index->verifyTree(&keys); break;
        case add: {
          setRecord(3);
          status = index->insertKey(&walk, reinterpret_cast<const uint8_t*>(key.data()));
          break;
        }
        default: break;
      }
    }
    if (c.message) {
      EXPECT_EQ(status, kvFailure);
      std::vector<uint16_t> errors = errorsOf(connection_);
      ASSERT_FALSE(errors.empty());
      EXPECT_EQ(errors.back(), c.message);
      KvError* last = connection_->getErrorList().getLastError();
      EXPECT_NE(std::string(kvC(last->getErrorText())).find(copy), std::string::npos) << last->getErrorText();
    }
    EXPECT_EQ(readFile(path(copy)), bytes) << "the damaged file is left as it was";
  }
}
