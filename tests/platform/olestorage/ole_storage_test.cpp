// The compound-file reader: streams in sectors and in the mini stream, both
// sector sizes, the DIFAT, and damaged files that must give clean results.
#include "platform/olestorage/ole_storage.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "compound_builder.h"

namespace {

std::vector<unsigned char> readStream(OleStorage& storage, const char* name, int32_t* result) {
  std::unique_ptr<OleStream> stream;
  *result = storage.openStream(name, STGM_READ | STGM_SHARE_EXCLUSIVE, &stream);
  std::vector<unsigned char> out;
  if (*result != kvOleOk) return out;
  out.resize(size_t(stream->size()));
  uint32_t got = 0;
  *result = stream->read(out.data(), uint32_t(out.size()), &got);
  EXPECT_EQ(got, out.size());
  return out;
}

std::vector<unsigned char> fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

TEST(OleStorage, StreamsOfBothSectorSizesInSectorsAndMiniStream) {
  struct Case {
    bool version4;
    size_t smallSize, bigSize;
    uint32_t fatSectors;  // more than 109 brings DIFAT sectors
  } cases[] = {{false, 100, 5000, 1}, {false, 4095, 4096, 1}, {true, 64, 70000, 1},
               {false, 1, 9000, 240}, {true, 3000, 4097, 2}};
  for (const Case& c : cases) {
    CompoundBuilder builder(c.version4);
    auto small = patternBytes(c.smallSize, 1), big = patternBytes(c.bigSize, 2);
    builder.add("Small", small);
    builder.add("Book", big);
    builder.add("Empty", {});
    builder.minFatSectors(c.fatSectors);
    auto bytes = builder.build();
    std::unique_ptr<OleStorage> storage;
    ASSERT_EQ(OleStorage::openMemory(bytes.data(), bytes.size(), &storage), kvOleOk) << c.bigSize;
    int32_t result;
    EXPECT_EQ(readStream(*storage, "small", &result), small);  // names ignore case
    EXPECT_EQ(result, kvOleOk);
    EXPECT_EQ(readStream(*storage, "Book", &result), big);
    EXPECT_EQ(result, kvOleOk);
    EXPECT_TRUE(readStream(*storage, "Empty", &result).empty());
    EXPECT_EQ(result, kvOleOk);
    readStream(*storage, "Workbook", &result);
    EXPECT_EQ(result, STG_E_FILENOTFOUND);
  }
}

TEST(OleStorage, SeekAndReadAcrossSectorsAndPastTheEnd) {
  for (size_t size : {size_t(1000), size_t(6000)}) {  // mini stream, then sectors
    CompoundBuilder builder;
    auto data = patternBytes(size, 3);
    builder.add("Book", data);
    auto bytes = builder.build();
    std::unique_ptr<OleStorage> storage;
    ASSERT_EQ(OleStorage::openMemory(bytes.data(), bytes.size(), &storage), kvOleOk);
    std::unique_ptr<OleStream> stream;
    ASSERT_EQ(storage->openStream("Book", STGM_READ, &stream), kvOleOk);
    uint64_t position = 0;
    ASSERT_EQ(stream->seek(500, kvOleSeekSet, &position), kvOleOk);
    unsigned char window[2084];
    uint32_t got = 0;
    ASSERT_EQ(stream->read(window, sizeof window, &got), kvOleOk);
    size_t expected = std::min<size_t>(sizeof window, size - 500);
    ASSERT_EQ(got, expected);
    EXPECT_TRUE(std::equal(window, window + got, data.begin() + 500));
    ASSERT_EQ(stream->seek(-10, kvOleSeekEnd, &position), kvOleOk);
    EXPECT_EQ(position, size - 10);
    ASSERT_EQ(stream->read(window, sizeof window, &got), kvOleOk);
    EXPECT_EQ(got, 10u);
    ASSERT_EQ(stream->seek(size + 100, kvOleSeekSet, nullptr), kvOleOk);
    ASSERT_EQ(stream->read(window, sizeof window, &got), kvOleOk);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(stream->seek(-1, kvOleSeekSet, nullptr), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(stream->seek(0, 7, nullptr), STG_E_INVALIDFUNCTION);
  }
}

// Each damage is done to a fresh file holding a mini stream and a sector
// stream; the open or the stream open must fail with the code given, never
// crash or hang, and an intact stream beside a damaged one still reads.
TEST(OleStorage, DamagedFilesGiveCleanResults) {
  struct Case {
    const char* what;
    void (*damage)(CompoundBuilder&);
    int32_t openResult;   // of the storage
    int32_t smallResult;  // of "Small" when the storage opened
    int32_t bigResult;    // of "Book"
  };
  const int32_t ok = kvOleOk, bad = STG_E_DOCFILECORRUPT, header = STG_E_INVALIDHEADER;
  Case cases[] = {
      {"signature", [](CompoundBuilder& b) { b.bytes[0] = 0; }, header, ok, ok},
      {"byte order", [](CompoundBuilder& b) { kvPutU16LE(&b.bytes[0x1C], 0xFEFF); }, header, ok, ok},
      {"sector shift 10", [](CompoundBuilder& b) { kvPutU16LE(&b.bytes[0x1E], 10); }, header, ok, ok},
      {"version 3 with 4096-byte sectors", [](CompoundBuilder& b) { kvPutU16LE(&b.bytes[0x1E], 12); }, header, ok, ok},
      {"mini sector shift", [](CompoundBuilder& b) { kvPutU16LE(&b.bytes[0x20], 7); }, header, ok, ok},
      {"no FAT sectors", [](CompoundBuilder& b) { kvPutU32LE(&b.bytes[0x2C], 0); }, bad, ok, ok},
      {"FAT sector count past the file", [](CompoundBuilder& b) { kvPutU32LE(&b.bytes[0x2C], 0xFFFFFFF0); }, bad, ok, ok},
      {"FAT sector beyond the file", [](CompoundBuilder& b) { kvPutU32LE(&b.bytes[0x4C], 5000); }, bad, ok, ok},
      {"directory sector beyond the file", [](CompoundBuilder& b) { kvPutU32LE(&b.bytes[0x30], 77777); }, bad, ok, ok},
      {"directory chain in a circle",
       [](CompoundBuilder& b) { kvPutU32LE(b.fatEntry(b.dirStart), b.dirStart); }, bad, ok, ok},
      {"root entry of the wrong type", [](CompoundBuilder& b) { b.directoryEntry(0)[66] = 1; }, bad, ok, ok},
      {"mini FAT chain cut short",
       [](CompoundBuilder& b) { kvPutU32LE(&b.bytes[0x40], 3); }, bad, ok, ok},
      {"sibling links in a circle",
       [](CompoundBuilder& b) { kvPutU32LE(b.directoryEntry(1) + 72, 1); }, ok, ok, bad},
      {"child link out of range",
       [](CompoundBuilder& b) { kvPutU32LE(b.directoryEntry(0) + 76, 999); }, ok, bad, bad},
      {"sector chain in a circle",
       [](CompoundBuilder& b) {
         uint32_t first = kvGetU32LE(b.directoryEntry(2) + 116);
         kvPutU32LE(b.fatEntry(first + 1), first);
       }, ok, ok, bad},
      {"sector chain ending early",
       [](CompoundBuilder& b) { kvPutU32LE(b.fatEntry(kvGetU32LE(b.directoryEntry(2) + 116)), CompoundBuilder::kEnd); },
       ok, ok, bad},
      {"stream larger than its chain",
       [](CompoundBuilder& b) { kvPutU32LE(b.directoryEntry(2) + 120, 900000); }, ok, ok, bad},
      {"stream size in the high half (version 3 ignores it)",
       [](CompoundBuilder& b) { kvPutU32LE(b.directoryEntry(2) + 124, 1); }, ok, ok, ok},
      {"mini chain in a circle",
       [](CompoundBuilder& b) { kvPutU32LE(b.sector(b.miniFatStart) + 4, 0); }, ok, bad, ok},
      {"mini sector beyond the mini stream",
       [](CompoundBuilder& b) { kvPutU32LE(b.directoryEntry(1) + 116, 5000); }, ok, bad, ok},
  };
  for (const Case& c : cases) {
    CompoundBuilder builder;
    builder.add("Small", patternBytes(300, 4));
    builder.add("Book", patternBytes(5000, 5));
    builder.build();
    c.damage(builder);
    std::unique_ptr<OleStorage> storage;
    ASSERT_EQ(OleStorage::openMemory(builder.bytes.data(), builder.bytes.size(), &storage), c.openResult) << c.what;
    if (c.openResult != kvOleOk) {
      EXPECT_EQ(storage, nullptr);
      continue;
    }
    int32_t result;
    readStream(*storage, "Small", &result);
    EXPECT_EQ(result, c.smallResult) << c.what;
    readStream(*storage, "Book", &result);
    EXPECT_EQ(result, c.bigResult) << c.what;
  }
}

TEST(OleStorage, TruncatedFilesAndStreamsCutByTheEndOfTheFile) {
  CompoundBuilder builder;
  builder.add("Book", patternBytes(8000, 6));
  auto bytes = builder.build();
  for (size_t size : {size_t(0), size_t(100), size_t(512), size_t(513)}) {
    std::unique_ptr<OleStorage> storage;
    int32_t result = OleStorage::openMemory(bytes.data(), size, &storage);
    EXPECT_TRUE(result == STG_E_INVALIDHEADER || result == STG_E_DOCFILECORRUPT) << size;
  }
  // The stream's last sectors are gone: the chain names sectors the file
  // does not hold.
  std::unique_ptr<OleStorage> storage;
  ASSERT_EQ(OleStorage::openMemory(bytes.data(), bytes.size() - 2048, &storage), kvOleOk);
  int32_t result;
  readStream(*storage, "Book", &result);
  EXPECT_EQ(result, STG_E_DOCFILECORRUPT);
}

TEST(OleStorage, FilesOnDisk) {
  std::unique_ptr<OleStorage> storage;
  EXPECT_EQ(OleStorage::open(kvU("/nonexistent/dir/book.xls"), STGM_READ, &storage), STG_E_FILENOTFOUND);
  EXPECT_EQ(OleStorage::open(kvU(KV_TEST_DATA "/excel/sales.xls"), STGM_READWRITE, &storage), STG_E_INVALIDFLAG);
  EXPECT_EQ(OleStorage::open(kvU(KV_TEST_DATA "/excel/make_gnumeric_books.py"), STGM_READ, &storage),
            STG_E_INVALIDHEADER);

  // A workbook gnumeric wrote keeps "Book" in the mini stream; the bytes
  // equal what Python's olefile reads from it.
  ASSERT_EQ(OleStorage::open(kvU(KV_TEST_DATA "/excel/SALES.XLS"), STGM_READ | STGM_SHARE_DENY_WRITE, &storage),
            kvOleOk);
  int32_t result;
  EXPECT_EQ(readStream(*storage, "Book", &result), fileBytes(KV_TEST_DATA "/excel/sales_book_stream.bin"));
  EXPECT_EQ(result, kvOleOk);

  // An Excel 97 workbook has a "Workbook" stream and no "Book".
  ASSERT_EQ(OleStorage::open(kvU(KV_TEST_DATA "/excel/sales97.xls"), STGM_READ, &storage), kvOleOk);
  readStream(*storage, "Book", &result);
  EXPECT_EQ(result, STG_E_FILENOTFOUND);
  EXPECT_FALSE(readStream(*storage, "Workbook", &result).empty());

  // LibreOffice writes Excel 97 workbooks only, with more streams beside
  // "Workbook" (kept in the mini stream); the bytes equal olefile's.
  ASSERT_EQ(OleStorage::open(kvU(KV_TEST_DATA "/excel/lo_sales97.xls"), STGM_READ, &storage), kvOleOk);
  EXPECT_EQ(readStream(*storage, "Workbook", &result),
            fileBytes(KV_TEST_DATA "/excel/lo_sales97_workbook_stream.bin"));
  EXPECT_EQ(result, kvOleOk);
  readStream(*storage, "Book", &result);
  EXPECT_EQ(result, STG_E_FILENOTFOUND);
}

}  // namespace
