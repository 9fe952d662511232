// FoxPro .IDX and .CDX and Clipper .NTX files that no program of this
// project wrote (tests/data/index, built from the formats by
// make_fox_ntx_files.py): walked, searched and checked here with the
// entries their listings give, then changed (inserts that split, deletes,
// the .IDX free node taken, .NTX growth behind a root that is not the last
// page) and read back by Perl XBase: its walk and its first record of a
// key.
#include "drivers/dbase/index/clipper/dbf_ntx.h"
#include "drivers/dbase/index/fox/fox_cdx.h"
#include "tests/drivers/dbase/index/dbf_index_test_support.h"

namespace {

std::string dataFile(const std::string& name) { return readFile(std::string(KV_TEST_DATA) + "/index/" + name); }

// A listing's entries: key bytes from hex, record.
std::vector<IndexEntry> listingEntries(const std::string& text) {
  std::vector<IndexEntry> out;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string line = text.substr(start, end - start);
    size_t blank = line.find(' ');
    std::string key;
    for (size_t i = 0; i + 1 < blank; i += 2) key += char(std::stoi(line.substr(i, 2), nullptr, 16));
    out.emplace_back(key, uint32_t(std::stoul(line.substr(blank + 1))));
  }
  return out;
}

// Walks an index of character keys with Perl XBase (trailing blanks cut).
const char perlCharWalk[] = R"(use XBase::Index;
my ($file, $tag) = @ARGV;
my $index = XBase::Index->new($file, ($tag ? ("tag" => $tag) : ()), "type" => "C") or die XBase::Index->errstr;
$index->prepare_select;
while (my ($key, $record) = $index->fetch) { $key =~ s/ +$//; print unpack("H*", $key), " $record\n"; }
)";

// Perl XBase's first record for each key (prepare_select_eq), one line
// "key:record" a key, 0 when it finds none. Arguments: file, tag, keys.
const char perlFindEq[] = R"(use XBase::Index;
my ($file, $tag, @keys) = @ARGV;
my $index = XBase::Index->new($file, ($tag ? ("tag" => $tag) : ()), "type" => "C") or die XBase::Index->errstr;
for my $key (@keys) {
  $index->prepare_select_eq($key);
  my ($found, $record) = $index->fetch;
  $found =~ s/ +$// if defined $found;
  print "$key:", (defined $found && $found eq $key ? $record : 0), "\n";
}
)";

std::vector<IndexEntry> trimmed(std::vector<IndexEntry> list) {
  for (IndexEntry& e : list) e.first.erase(e.first.find_last_not_of(' ') + 1);
  return list;
}

}  // namespace

class FoxNtxFilesTest : public DbfIndexFixture {
 protected:
  // Perl's first record of some of the keys equals this index's.
  void checkFindEq(DbfIndexDesc* index, const std::string& file, const std::string& tag,
                   const std::vector<IndexEntry>& entries) {
    std::vector<std::string> arguments{path(file), tag};
    std::string want;
    for (size_t i = 0; i < entries.size(); i += 7) {
      std::string text = entries[i].first.substr(0, entries[i].first.find_last_not_of(' ') + 1);
      if (text.empty()) continue;
      arguments.push_back(text);
      want += text + ":" + std::to_string(find(index, entries[i].first)) + "\n";
    }
    arguments.push_back("NOSUCHKEY");
    want += "NOSUCHKEY:0\n";
    EXPECT_EQ(runScript("perl", perlFindEq, arguments), want);
  }
  DbfNtxDesc* openNtx(DbfIndexFile* file) {
    auto* index = new DbfNtxDesc(reader_->table());
    indexes_.push_back(index);
    unsigned char text[300];
    EXPECT_EQ(index->readHeader(file, 'C', text, sizeof(text)), kvSuccess);
    return index;
  }
  // Inserts keys made of prefix and a number for records from first on,
  // removes every third entry of the file's own, and checks the result.
  void change(DbfIndexDesc* index, std::vector<IndexEntry>* want, const std::string& prefix, uint32_t first,
              uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
      std::string key = keyOf(index, prefix + std::to_string(i % 13));
      ASSERT_EQ(insert(index, key, first + i), kvSuccess) << i;
      want->emplace_back(key, first + i);
    }
    std::vector<IndexEntry> kept;
    for (size_t i = 0; i < want->size(); ++i) {
      if (i % 3 == 0 && (*want)[i].second < first) {
        ASSERT_EQ(remove(index, (*want)[i].first, (*want)[i].second), kvSuccess) << i;
      } else {
        kept.push_back((*want)[i]);
      }
    }
    *want = kept;
    std::sort(want->begin(), want->end());
  }
};

// Each file reads as its listing says, checks clean, finds its keys; then
// changed here it still checks clean and Perl reads the same entries.
TEST_F(FoxNtxFilesTest, HandBuiltFilesReadAndChangeHere) {
  openPlainTable();
  // FoxPro .IDX: a free node at 1024 that the first new node takes.
  writeFile(path("hand.idx"), dataFile("hand.idx"));
  FoxIdxDesc* idx = openFoxIdx(newFile("hand.idx", false), 'C');
  std::vector<IndexEntry> want = listingEntries(dataFile("hand.idx.txt"));
  ASSERT_EQ(want.size(), 52u);
  EXPECT_EQ(entries(idx), want);
  EXPECT_EQ(verify(idx), 52u);
  EXPECT_EQ(find(idx, want[3].first), want[3].second) << "the first of the equal keys";
  EXPECT_EQ(idx->getFreeListHead(), 1024u);
  change(idx, &want, "NEW", 1000, 60);
  EXPECT_EQ(entries(idx), want);
  EXPECT_EQ(verify(idx), want.size());
  EXPECT_EQ(kvGetU32LE(&readFile(path("hand.idx"))[4]), 0xFFFFFFFFu) << "the free node was taken";
  EXPECT_EQ(runScript("perl", perlCharWalk, {path("hand.idx"), ""}), listing(trimmed(want)));
  checkFindEq(idx, "hand.idx", "", want);

  // .CDX: two tags, CITY before NAME in the directory.
  writeFile(path("hand.cdx"), dataFile("hand.cdx"));
  DbfIndexFile* cdx = newFile("hand.cdx", false);
  FoxCdxDesc directory(reader_->table());
  std::vector<FoxCdxTag> tags;
  ASSERT_EQ(directory.openTagDirectory(cdx), kvSuccess);
  ASSERT_EQ(directory.readTags(&tags), kvSuccess);
  ASSERT_EQ(tags.size(), 2u);
  EXPECT_STREQ(kvC(tags[0].name), "CITY");
  EXPECT_STREQ(kvC(tags[1].name), "NAME");
  for (const FoxCdxTag& tag : tags) {
    SCOPED_TRACE(kvC(tag.name));
    auto* index = new FoxCdxDesc(reader_->table());
    indexes_.push_back(index);
    unsigned char text[300];
    ASSERT_EQ(index->readTagHeader(cdx, dbfIndexCdx, tag.headerOffset, 0, 'C', text, sizeof(text)), kvSuccess);
    std::vector<IndexEntry> tagWant = listingEntries(dataFile(std::string("hand.cdx.") + kvC(tag.name) + ".txt"));
    EXPECT_EQ(entries(index), tagWant);
    EXPECT_EQ(verify(index), tagWant.size());
    change(index, &tagWant, "SMITH", 5000, 80);
    EXPECT_EQ(entries(index), tagWant);
    EXPECT_EQ(verify(index), tagWant.size());
    EXPECT_EQ(runScript("perl", perlCharWalk, {path("hand.cdx"), kvC(tag.name)}), listing(trimmed(tagWant)));
    checkFindEq(index, "hand.cdx", kvC(tag.name), tagWant);
  }

  // .NTX: items laid out against their positions; the root at 3072
  // between the leaves; growth goes behind the last page.
  writeFile(path("hand.ntx"), dataFile("hand.ntx"));
  DbfNtxDesc* ntx = openNtx(newFile("hand.ntx", false));
  want = listingEntries(dataFile("hand.ntx.txt"));
  ASSERT_EQ(want.size(), 90u);
  std::vector<IndexEntry> got = entries(ntx);
  EXPECT_EQ(got, want);
  EXPECT_EQ(verify(ntx), 90u);
  EXPECT_EQ(find(ntx, want[30].first), want[30].second) << "an interior item";
  std::string before = readFile(path("hand.ntx"));
  change(ntx, &want, "C00", 2000, 70);
  got = entries(ntx);
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, want);
  EXPECT_EQ(verify(ntx), want.size());
  EXPECT_EQ(ntx->getRoot() * 512, 3072u);
  EXPECT_GT(readFile(path("hand.ntx")).size(), before.size()) << "new pages went behind the last one";
  std::string perl = runScript("perl", perlCharWalk, {path("hand.ntx"), ""});
  std::vector<IndexEntry> perlEntries = listingEntries(perl);
  std::sort(perlEntries.begin(), perlEntries.end());
  EXPECT_EQ(perlEntries, trimmed(want));
  checkFindEq(ntx, "hand.ntx", "", want);
}
