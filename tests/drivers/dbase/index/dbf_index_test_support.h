// Scaffolding of the index tests: a table with a reader, index files made
// through the formats' own writers (new .NDX headers, new .MDX files and
// tags) or copied from tests/data/index, their descriptors and cursors,
// keys made from values, and the whole index read back in order.
#pragma once

#include "drivers/dbase/index/dbase/dbf_mdx.h"
#include "drivers/dbase/index/dbase/dbf_ndx.h"
#include "drivers/dbase/index/clipper/dbf_ntx.h"
#include "drivers/dbase/index/fox/fox_idx.h"
#include "flat/connection/flat_rid.h"
#include "tests/drivers/dbase/dbase_test_support.h"
#include "util/os/bos.h"

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

// One entry of an index as read back: its key bytes and record.
typedef std::pair<std::string, uint32_t> IndexEntry;

// Walks an index with Perl XBase's XBase::Index: each entry's key in hex
// (or, with a third argument, as the number Perl makes of it) and its
// record. Arguments: the file, the tag ("" for an .NDX), numbers.
const char perlIndexWalk[] = R"(use XBase::Index;
my ($file, $tag, $numbers) = @ARGV;
my $index = XBase::Index->new($file, $tag ? ("tag" => $tag) : ()) or die XBase::Index->errstr;
$index->prepare_select;
while (my ($key, $record) = $index->fetch) {
  if ($numbers) { printf("%.15g %d\n", $key, $record); } else { print unpack("H*", $key), " $record\n"; }
}
)";

inline double doubleOf(const std::string& key) {
  double value = 0;
  std::memcpy(&value, key.data(), sizeof(value));
  return value;
}

// A listing of an index with double keys as Perl prints them.
inline std::string numberListing(const std::vector<IndexEntry>& list) {
  std::string out;
  char line[64];
  for (const IndexEntry& e : list) {
    std::snprintf(line, sizeof(line), "%.15g %u\n", doubleOf(e.first), e.second);
    out += line;
  }
  return out;
}

// A key source of the tests: the value of one column of the record, as the
// driver's reader gives it (text as stored, numbers and dates as doubles; a
// blank number is 0 and a blank date 1e100, as dBASE keys them), for the
// records up to a limit.
class ColumnKeySource : public DbfKeySource {
 public:
  explicit ColumnKeySource(uint16_t column, uint32_t lastRecord = 0xFFFFFFFF)
      : column_(column), lastRecord_(lastRecord) {}
  KvStatus recordValue(DbfFileDesc* reader, uint8_t* value, uint32_t* length, bool* include) override {
    int32_t got = 0;
    uint8_t kind = 0;
    *include = reader->currentRecord() <= lastRecord_;
    if (reader->getFieldData(column_, value, &got, uint16_t(dbfKeyValueBytes), &kind) != kvSuccess) return kvFailure;
    *length = 8;
    if (kind == flatValueText) {
      *length = uint32_t(got > 0 ? got - 1 : 0);
    } else if (kind == flatValueNull) {
      double blank = reader->table()->getField(column_)->getType() == 'D' ? 1e100 : 0;
      std::memcpy(value, &blank, sizeof(blank));
    }
    return kvSuccess;
  }

 private:
  uint16_t column_;
  uint32_t lastRecord_;
};

class DbfIndexFixture : public DbfFixture {
 protected:
  void TearDown() override {
    cursors_.clear();
    for (auto it = indexes_.rbegin(); it != indexes_.rend(); ++it) delete *it;
    for (auto it = files_.rbegin(); it != files_.rend(); ++it) delete *it;
    indexes_.clear();
    files_.clear();
    if (statement_) drop(statement_);
    statement_ = nullptr;
    DbfFixture::TearDown();
  }

  // t.dbf with the fields and records given (records as dbfTableBytes
  // takes them), opened through a statement; connection extra keys too.
  DbfFileDesc* openTable(const std::vector<TestField>& fields, const std::vector<std::string>& records,
                         const std::string& extra = "", const std::string& file = "t.dbf") {
    if (statement_) drop(statement_);
    writeFile(path(file), dbfTableBytes(0x03, fields, records));
    connection_ = connect(extra);
    statement_ = query(connection_, file);
    reader_ = table(statement_);
    return reader_;
  }
  // A table of one 20-character column and count records (blank), enough
  // for indexes whose records the tests choose.
  DbfFileDesc* openPlainTable(uint32_t count = 0, const std::string& extra = "", const std::string& file = "t.dbf") {
    std::vector<std::string> records(count, " ");
    return openTable({{"NAME", 'C', 20, 0}}, records, extra, file);
  }

  DbfIndexFile* newFile(const std::string& name, bool create) {
    auto* file = new DbfIndexFile(nullptr, reader_ ? reader_->table() : nullptr);
    files_.push_back(file);
    EXPECT_EQ(file->setPath(kvU(path(name).c_str())), kvSuccess);
    if (create) {
      unsigned char buffer[bosPathBytes];
      std::snprintf(kvC(buffer), sizeof(buffer), "%s", path(name).c_str());
      int handle = 0;
      EXPECT_EQ(bosFileOpen(buffer, bosOpenCreate | bosOpenReadWrite, &handle), kvSuccess);
      file->adopt(handle);
    } else {
      EXPECT_EQ(file->open(false), kvSuccess) << name;
    }
    return file;
  }

  // A new dBASE III .NDX: header, then a descriptor reading it.
  DbfNdx3Desc* newNdx3(const std::string& name, unsigned char type, uint16_t keyLength, bool unique = false,
                       const std::string& keyText = "NAME") {
    DbfIndexFile* file = newFile(name, true);
    EXPECT_EQ(DbfNdx3Desc::writeNewHeader(file, type, keyLength, unique, kvU(keyText.c_str())), kvSuccess);
    return openNdx3(file);
  }
  DbfNdx3Desc* openNdx3(DbfIndexFile* file, KvStatus expected = kvSuccess) {
    auto* index = new DbfNdx3Desc(reader_->table());
    indexes_.push_back(index);
    unsigned char keyText[256];
    EXPECT_EQ(index->readHeader(file, keyText, sizeof(keyText)), expected);
    return index;
  }
  DbfNdx2Desc* newNdx2(const std::string& name, unsigned char type, uint16_t keyLength,
                       const std::string& keyText = "NAME") {
    DbfIndexFile* file = newFile(name, true);
    EXPECT_EQ(DbfNdx2Desc::writeNewHeader(file, type, keyLength, kvU(keyText.c_str())), kvSuccess);
    auto* index = new DbfNdx2Desc(reader_->table());
    indexes_.push_back(index);
    unsigned char text[256];
    EXPECT_EQ(index->readHeader(file, text, sizeof(text)), kvSuccess);
    return index;
  }
  // A new .MDX file with one tag (or a tag added to file).
  DbfMdxDesc* newMdxTag(const std::string& name, const std::string& tag, unsigned char type, uint16_t keyLength,
                        uint8_t flags = 0, const std::string& keyText = "NAME", const std::string& forText = "",
                        DbfIndexFile* file = nullptr) {
    if (!file) {
      file = newFile(name, true);
      EXPECT_EQ(DbfMdxFile::createFile(file, kvU("T"), true), kvSuccess);
    }
    uint16_t number = 0;
    EXPECT_EQ(DbfMdxFile::addTag(file, kvU(tag.c_str()), type, keyLength, flags, kvU(keyText.c_str()),
                                 forText.empty() ? nullptr : kvU(forText.c_str()), &number),
              kvSuccess);
    return openMdxTag(file, number);
  }
  DbfMdxDesc* openMdxTag(DbfIndexFile* file, uint16_t tag, KvStatus expected = kvSuccess) {
    auto* index = new DbfMdxDesc(reader_->table());
    indexes_.push_back(index);
    unsigned char keyText[256], forText[300];
    EXPECT_EQ(index->readTag(file, tag, keyText, sizeof(keyText), forText, sizeof(forText)), expected);
    return index;
  }

  // A new standard FoxPro .IDX with an empty tree (built by startNewTree).
  FoxIdxDesc* newFoxIdx(const std::string& name, unsigned char type, uint16_t keyLength, uint8_t options = 0,
                        const std::string& keyText = "NAME", const std::string& forText = "") {
    DbfIndexFile* file = newFile(name, true);
    EXPECT_EQ(FoxIdxDesc::writeNewHeader(file, keyLength, options, kvU(keyText.c_str()),
                                         forText.empty() ? nullptr : kvU(forText.c_str())),
              kvSuccess);
    FoxIdxDesc* index = openFoxIdx(file, type);
    DbfIndexCursor walk(index, reader_);
    EXPECT_EQ(index->startNewTree(&walk), kvSuccess);
    EXPECT_EQ(index->finishBuild(&walk), kvSuccess);
    return index;
  }
  FoxIdxDesc* openFoxIdx(DbfIndexFile* file, unsigned char type, KvStatus expected = kvSuccess) {
    auto* index = new FoxIdxDesc(reader_->table());
    indexes_.push_back(index);
    unsigned char keyText[256];
    EXPECT_EQ(index->readHeader(file, type, keyText, sizeof(keyText)), expected);
    return index;
  }

  // The number of the connection's last error (0: none); the list is
  // cleared.
  uint16_t takeLastError() {
    std::vector<uint16_t> numbers = errorsOf(connection_);
    connection_->getErrorList().clearErrors();
    return numbers.empty() ? 0 : numbers.back();
  }

  DbfIndexCursor* cursor(DbfIndexDesc* index) {
    cursors_.push_back(std::make_unique<DbfIndexCursor>(index, reader_));
    return cursors_.back().get();
  }
  void setRecord(uint32_t n) { static_cast<FlatNumericRid*>(reader_->getRid())->setRecordNumber(n); }

  // The key of a value: text as given, numbers as doubles.
  static std::string keyOf(DbfIndexDesc* index, const std::string& text) {
    uint8_t key[dbfIndexMaxKeyBytes];
    EXPECT_EQ(index->makeKey(kvU(text.c_str()), uint32_t(text.size()), key), kvSuccess);
    return std::string(reinterpret_cast<char*>(key), index->getKeyLength());
  }
  static std::string keyOf(DbfIndexDesc* index, double number) {
    uint8_t key[dbfIndexMaxKeyBytes];
    EXPECT_EQ(index->makeKey(reinterpret_cast<uint8_t*>(&number), sizeof(number), key), kvSuccess);
    return std::string(reinterpret_cast<char*>(key), index->getKeyLength());
  }
  KvStatus insert(DbfIndexDesc* index, const std::string& key, uint32_t record) {
    setRecord(record);
    DbfIndexCursor walk(index, reader_);
    return index->insertKey(&walk, reinterpret_cast<const uint8_t*>(key.data()));
  }
  KvStatus remove(DbfIndexDesc* index, const std::string& key, uint32_t record) {
    setRecord(record);
    DbfIndexCursor walk(index, reader_);
    return index->deleteKey(&walk, reinterpret_cast<const uint8_t*>(key.data()));
  }
  // The first record of a key (exact search), 0 when none.
  uint32_t find(DbfIndexDesc* index, const std::string& key) {
    DbfIndexCursor walk(index, reader_);
    uint32_t record = 0;
    EXPECT_EQ(index->searchKey(&walk, reinterpret_cast<const uint8_t*>(key.data()), &record, true), kvSuccess);
    return record;
  }
  // Every entry in index order, its key read at the cursor's place.
  std::vector<IndexEntry> entries(DbfIndexDesc* index) {
    std::vector<IndexEntry> out;
    DbfIndexCursor walk(index, reader_);
    for (int guard = 0; guard < 2000000; ++guard) {
      uint32_t record = 0;
      if (index->nextKey(&walk, &record) != kvSuccess) {
        ADD_FAILURE() << "nextKey failed";
        break;
      }
      if (!record) break;
      out.emplace_back(currentKey(index, &walk), record);
    }
    return out;
  }
  static std::string currentKey(DbfIndexDesc* index, DbfIndexCursor* walk) {
    const uint8_t* own = nullptr;
    if (auto* fox = dynamic_cast<FoxIdxDesc*>(index)) own = fox->keyAtCursor(walk);
    else if (auto* ntx = dynamic_cast<DbfNtxDesc*>(index)) own = ntx->keyAtCursor(walk);
    if (own) return std::string(reinterpret_cast<const char*>(own), index->getKeyLength());
    // The key under the cursor: found by comparing against candidates is
    // slow; the page bytes are read through the B-tree's layout instead.
    TreeInfo* level = walk->top;
    uint32_t header = index->getFile()->getKind() == dbfIndexNdx2 ? 2 : index->getFile()->getKind() == dbfIndexNdx3 ? 4 : 8;
    uint32_t keyAt = index->getFile()->getKind() == dbfIndexNdx3 ? 8 : 4;
    const unsigned char* key = level->page + header + size_t(level->position) * index->getEntrySize() + keyAt;
    return std::string(reinterpret_cast<const char*>(key), index->getKeyLength());
  }
  uint32_t verify(DbfIndexDesc* index, KvStatus expected = kvSuccess) {
    uint32_t count = 0;
    EXPECT_EQ(index->verifyTree(&count), expected);
    return count;
  }
  // Builds index from column of the table's records (up to lastRecord).
  KvStatus build(DbfIndexDesc* index, uint16_t column, uint32_t lastRecord = 0xFFFFFFFF) {
    ColumnKeySource source(column, lastRecord);
    DbfIndexCursor walk(index, reader_);
    return index->buildIndex(&walk, &source);
  }

  // steps random inserts and deletes of keys keyFor(v), v below distinct,
  // for records that arrive in any order, checked every checkEvery steps
  // against the entries expected: the walk in order (keys by order, equal
  // keys by record, from high to low when recordsDescend; with
  // recordsByKey false equal keys may come in any record order), the
  // consistency check, the first record of sampled keys. check, when
  // given, runs on the expected walk at each check.
  void randomChanges(DbfIndexDesc* index, const std::function<std::string(uint32_t)>& keyFor, uint32_t distinct,
                     int steps, int checkEvery, uint32_t seed,
                     const std::function<int(const std::string&, const std::string&)>& order, bool recordsDescend,
                     bool recordsByKey = true, uint32_t firstRecord = 1,
                     const std::function<void(const std::vector<IndexEntry>&)>& check = nullptr) {
    auto less = [&](const IndexEntry& a, const IndexEntry& b) {
      int o = order(a.first, b.first);
      if (o) return o < 0;
      return recordsDescend ? a.second > b.second : a.second < b.second;
    };
    std::mt19937 random(seed);
    std::map<uint32_t, std::string> byRecord;
    uint32_t nextRecord = firstRecord;
    for (int step = 1; step <= steps; ++step) {
      bool doInsert = byRecord.empty() || random() % 100 < (step < steps * 6 / 10 ? 65u : 40u);
      if (doInsert) {
        uint32_t record = nextRecord + random() % 7;
        nextRecord = record + 1;
        if (byRecord.count(record)) continue;
        std::string key = keyFor(random() % distinct);
        ASSERT_EQ(insert(index, key, record), kvSuccess) << "step " << step;
        byRecord[record] = key;
      } else {
        auto it = byRecord.begin();
        std::advance(it, random() % byRecord.size());
        ASSERT_EQ(remove(index, it->second, it->first), kvSuccess) << "step " << step;
        byRecord.erase(it);
      }
      if (step % checkEvery == 0 || step == steps) {
        std::vector<IndexEntry> expected;
        for (const auto& kv : byRecord) expected.emplace_back(kv.second, kv.first);
        std::sort(expected.begin(), expected.end(), less);
        std::vector<IndexEntry> got = entries(index);
        if (!recordsByKey) std::stable_sort(got.begin(), got.end(), less);
        ASSERT_TRUE(got == expected) << "step " << step << ": " << got.size() << " entries, " << expected.size()
                                     << " expected";
        ASSERT_EQ(verify(index), expected.size()) << "step " << step;
        for (int sample = 0; sample < 5 && !expected.empty(); ++sample) {
          const IndexEntry& e = expected[random() % expected.size()];
          auto first = std::find_if(expected.begin(), expected.end(),
                                    [&](const IndexEntry& x) { return order(x.first, e.first) == 0; });
          uint32_t found = find(index, e.first);
          if (recordsByKey) ASSERT_EQ(found, first->second) << "step " << step;
          else ASSERT_EQ(order(byRecord[found], e.first), 0) << "step " << step;
        }
        if (check) check(expected);
        if (HasFatalFailure()) return;
      }
    }
  }

  // Runs a script with arguments; its output, or "<rc N>" and the output
  // when it fails.
  std::string runScript(const std::string& interpreter, const std::string& script,
                        const std::vector<std::string>& arguments) {
    writeFile(path("check.script"), script);
    std::string command = interpreter + " " + path("check.script");
    for (const std::string& argument : arguments) command += " '" + argument + "'";
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return "<popen>";
    std::string output;
    char chunk[4096];
    while (size_t n = fread(chunk, 1, sizeof(chunk), pipe)) output.append(chunk, n);
    int rc = pclose(pipe);
    return rc == 0 ? output : "<rc " + std::to_string(rc) + "> " + output;
  }
  // An index as a listing: one line an entry, its key in hex and its record.
  static std::string listing(const std::vector<IndexEntry>& list) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const IndexEntry& e : list) {
      for (unsigned char c : e.first) {
        out += digits[c >> 4];
        out += digits[c & 15];
      }
      out += " " + std::to_string(e.second) + "\n";
    }
    return out;
  }

  DbfConnection* connection_ = nullptr;
  DbfStatement* statement_ = nullptr;
  DbfFileDesc* reader_ = nullptr;
  std::vector<DbfIndexFile*> files_;
  std::vector<DbfIndexDesc*> indexes_;
  std::vector<std::unique_ptr<DbfIndexCursor>> cursors_;
};
