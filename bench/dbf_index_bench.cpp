// The dBASE driver's indexes on a table of 1,000,000 records: the bulk
// build of a dBASE III .NDX over a character key, an .MDX tag over a
// numeric key (packed decimals), a FoxPro standard .IDX and a Clipper .NTX
// over the character key and a FoxPro .CDX tag over the numeric key
// (compact leaves), each from the record sort, then 100,000 point
// lookups of random existing keys in each, with the pages a lookup visits
// (the tree's depth) and the pages it reads from the file (the index
// keeps the pages it read last, so the upper levels are read once).
//
// The table: ID N(8,0) (a permutation of 1..records), NAME C(20) ("N" and
// the ID in 8 digits), 30-byte records, written once into $TMPDIR (else
// /tmp).
//
// Usage: dbf_index_bench [records] [lookups]
#include "base/handles/base_env.h"
#include "drivers/dbase/connection/dbf_connection.h"
#include "drivers/dbase/index/dbase/dbf_mdx.h"
#include "drivers/dbase/index/dbase/dbf_ndx.h"
#include "drivers/dbase/index/clipper/dbf_ntx.h"
#include "drivers/dbase/index/fox/fox_cdx.h"
#include "drivers/dbase/records/dbf_file_desc.h"
#include "drivers/dbase/statement/dbf_statement.h"
#include "flat/connection/flat_rid.h"
#include "flat/connection/flat_values.h"
#include "util/byte_order.h"
#include "util/memory/ram.h"
#include "util/os/bos.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>
#include <random>
#include <string>
#include <vector>

namespace {

template <class T, class Arg>
T* build(Arg arg) {
  void* memory = ramAllocZ(sizeof(T));
  return memory ? new (memory) T(arg) : nullptr;
}

double seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

long peakKb() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void fail(const char* what) {
  std::fprintf(stderr, "dbf_index_bench: %s failed\n", what);
  std::exit(2);
}

std::vector<uint32_t> permutation(uint32_t records) {
  std::vector<uint32_t> ids(records);
  for (uint32_t i = 0; i < records; ++i) ids[i] = i + 1;
  std::shuffle(ids.begin(), ids.end(), std::mt19937(2024));
  return ids;
}

void writeTable(const std::string& path, const std::vector<uint32_t>& ids) {
  const uint32_t headerLength = 32 + 64 + 1, recordLength = 1 + 8 + 20;
  std::string header(headerLength, '\0');
  header[0] = 3;
  kvPutU32LE(&header[4], uint32_t(ids.size()));
  kvPutU16LE(&header[8], uint16_t(headerLength));
  kvPutU16LE(&header[10], uint16_t(recordLength));
  std::memcpy(&header[32], "ID", 2);
  header[43] = 'N';
  header[48] = 8;
  std::memcpy(&header[64], "NAME", 4);
  header[75] = 'C';
  header[80] = 20;
  header[headerLength - 1] = 0x0D;
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) fail("writing the table");
  std::fwrite(header.data(), 1, header.size(), file);
  char record[64];
  for (uint32_t id : ids) {
    std::snprintf(record, sizeof(record), " %8u%-20s", id, ("N" + std::to_string(100000000u + id)).c_str());
    std::fwrite(record, 1, recordLength, file);
  }
  std::fputc(0x1A, file);
  std::fclose(file);
}

// The value of a column of the record, as the key's expression would give
// it: the text, or the number.
class ColumnSource : public DbfKeySource {
 public:
  explicit ColumnSource(uint16_t column) : column_(column) {}
  KvStatus recordValue(DbfFileDesc* reader, uint8_t* value, uint32_t* length, bool* include) override {
    int32_t got = 0;
    uint8_t kind = 0;
    *include = true;
    if (reader->getFieldData(column_, value, &got, uint16_t(dbfKeyValueBytes), &kind) != kvSuccess) return kvFailure;
    *length = kind == flatValueText ? uint32_t(got - 1) : 8;
    return kvSuccess;
  }

 private:
  uint16_t column_;
};

struct Result {
  double buildSeconds = 0;
  uint64_t fileBytes = 0;
  uint32_t depth = 0;
  double lookupMicros = 0;
  double pagesRead = 0;
  uint32_t misses = 0;
};

Result measure(DbfIndexDesc* index, DbfFileDesc* reader, uint16_t column, const std::vector<uint32_t>& ids,
               uint32_t lookups) {
  Result result;
  ColumnSource source(column);
  auto start = std::chrono::steady_clock::now();
  {
    DbfIndexCursor cursor(index, reader);
    if (index->buildIndex(&cursor, &source) != kvSuccess) fail("the build");
  }
  result.buildSeconds = seconds(start);
  if (index->getFile()->size(&result.fileBytes) != kvSuccess) fail("the size");

  // The keys to look up, made before the clock starts; the record each
  // must find is the one whose ID it holds.
  std::mt19937 random(7);
  std::vector<std::string> keys(lookups);
  std::vector<uint32_t> want(lookups);
  for (uint32_t i = 0; i < lookups; ++i) {
    uint32_t record = 1 + random() % uint32_t(ids.size());
    uint32_t id = ids[record - 1];
    uint8_t key[dbfIndexMaxKeyBytes];
    if (column == 1) {
      std::string name = "N" + std::to_string(100000000u + id);
      if (index->makeKey(kvU(name.c_str()), uint32_t(name.size()), key) != kvSuccess) fail("a key");
    } else {
      double number = id;
      if (index->makeKey(reinterpret_cast<uint8_t*>(&number), sizeof(number), key) != kvSuccess) fail("a key");
    }
    keys[i].assign(reinterpret_cast<char*>(key), index->getKeyLength());
    want[i] = record;
  }
  uint64_t readBefore = index->getPagesRead();
  DbfIndexCursor cursor(index, reader);
  start = std::chrono::steady_clock::now();
  for (uint32_t i = 0; i < lookups; ++i) {
    uint32_t record = 0;
    if (index->searchKey(&cursor, reinterpret_cast<const uint8_t*>(keys[i].data()), &record, true) != kvSuccess)
      fail("a lookup");
    if (record != want[i]) ++result.misses;
    result.depth = cursor.depth;
  }
  result.lookupMicros = seconds(start) * 1e6 / lookups;
  result.pagesRead = double(index->getPagesRead() - readBefore) / lookups;
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t records = argc > 1 ? uint32_t(std::strtoul(argv[1], nullptr, 10)) : 1000000;
  uint32_t lookups = argc > 2 ? uint32_t(std::strtoul(argv[2], nullptr, 10)) : 100000;
  const char* tmp = getenv("TMPDIR");
  std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/kvbench_index";
  if (std::system(("mkdir -p " + dir).c_str()) != 0) return 1;
  std::vector<uint32_t> ids = permutation(records);
  writeTable(dir + "/bench.dbf", ids);
  for (const char* name : {"/name.ndx", "/bench.mdx", "/name.idx", "/bench.cdx", "/name.ntx"})
    std::remove((dir + name).c_str());

  BaseEnv* env = build<BaseEnv>(OdbcDriverNumber(1));
  auto* connection = build<DbfConnection>(env);
  std::string text = "DRIVER=dbase;DB=" + dir + ";LCK=NONE";
  if (connection->SQLDriverConnect(nullptr, kvU(const_cast<char*>(text.c_str())), SQLSMALLINT(SQL_NTS), nullptr, 0,
                                   nullptr, SQL_DRIVER_NOPROMPT) != SQL_SUCCESS)
    fail("the connect");
  KvErrorKeeper::setErrorList(&connection->getErrorList());
  auto* statement = build<DbfStatement>(static_cast<FlatConnection*>(connection));
  FlatFileDesc* opened = nullptr;
  if (statement->allocFileDesc(&opened) != kvSuccess ||
      opened->openTable(kvU((dir + "/bench.dbf").c_str()), statement) != kvSuccess)
    fail("opening the table");
  auto* reader = static_cast<DbfFileDesc*>(opened);

  auto newFile = [&](const std::string& name) {
    auto* file = new DbfIndexFile(nullptr, reader->table());
    unsigned char path[bosPathBytes];
    std::snprintf(kvC(path), sizeof(path), "%s%s", dir.c_str(), name.c_str());
    int handle = 0;
    if (file->setPath(path) != kvSuccess || bosFileOpen(path, bosOpenCreate | bosOpenReadWrite, &handle) != kvSuccess)
      fail("creating an index file");
    file->adopt(handle);
    return file;
  };
  DbfIndexFile* ndxFile = newFile("/name.ndx");
  auto* ndx = new DbfNdx3Desc(reader->table());
  unsigned char keyText[256], forText[300];
  if (DbfNdx3Desc::writeNewHeader(ndxFile, 'C', 20, false, kvU("NAME")) != kvSuccess ||
      ndx->readHeader(ndxFile, keyText, sizeof(keyText)) != kvSuccess)
    fail("the .NDX header");
  DbfIndexFile* mdxFile = newFile("/bench.mdx");
  auto* mdx = new DbfMdxDesc(reader->table());
  uint16_t tag = 0;
  if (DbfMdxFile::createFile(mdxFile, kvU("BENCH"), true) != kvSuccess ||
      DbfMdxFile::addTag(mdxFile, kvU("ID"), 'N', 12, 0, kvU("ID"), nullptr, &tag) != kvSuccess ||
      mdx->readTag(mdxFile, tag, keyText, sizeof(keyText), forText, sizeof(forText)) != kvSuccess)
    fail("the .MDX tag");
  DbfIndexFile* idxFile = newFile("/name.idx");
  auto* idx = new FoxIdxDesc(reader->table());
  if (FoxIdxDesc::writeNewHeader(idxFile, 20, 0, kvU("NAME"), nullptr) != kvSuccess ||
      idx->readHeader(idxFile, 'C', keyText, sizeof(keyText)) != kvSuccess)
    fail("the .IDX header");
  DbfIndexFile* cdxFile = newFile("/bench.cdx");
  auto* cdx = new FoxCdxDesc(reader->table());
  uint32_t cdxTag = 0;
  if (FoxCdxDesc::writeNewCdx(cdxFile, reader->table()) != kvSuccess ||
      FoxCdxDesc::addTag(cdxFile, reader->table(), kvU("ID"), 8, 0, false, kvU("ID"), nullptr, &cdxTag) != kvSuccess ||
      cdx->readTagHeader(cdxFile, dbfIndexCdx, cdxTag, 0, 'N', keyText, sizeof(keyText)) != kvSuccess)
    fail("the .CDX tag");
  DbfIndexFile* ntxFile = newFile("/name.ntx");
  auto* ntx = new DbfNtxDesc(reader->table());
  if (DbfNtxDesc::writeNewHeader(ntxFile, 20, 0, false, false, kvU("NAME"), nullptr) != kvSuccess ||
      ntx->readHeader(ntxFile, 'C', keyText, sizeof(keyText)) != kvSuccess)
    fail("the .NTX header");

  std::printf("%u records, %u lookups of random existing keys\n", records, lookups);
  std::printf("%-22s %9s %11s %9s %6s %11s %11s %7s\n", "index", "build s", "keys/s", "file MB", "depth",
              "lookup us", "reads/look", "misses");
  struct {
    const char* name;
    DbfIndexDesc* index;
    uint16_t column;
  } cases[] = {{"NDX, NAME C(20)", ndx, 1},  {"MDX tag, ID N packed", mdx, 0}, {"IDX, NAME C(20)", idx, 1},
               {"CDX tag, ID N compact", cdx, 0}, {"NTX, NAME C(20)", ntx, 1}};
  for (const auto& c : cases) {
    Result r = measure(c.index, reader, c.column, ids, lookups);
    std::printf("%-22s %9.3f %11.0f %9.1f %6u %11.2f %11.2f %7u\n", c.name, r.buildSeconds,
                records / (r.buildSeconds > 0 ? r.buildSeconds : 1), r.fileBytes / 1048576.0, r.depth, r.lookupMicros,
                r.pagesRead, r.misses);
  }
  std::printf("peak memory %.1f MB\n", peakKb() / 1024.0);
  for (DbfIndexDesc* index : std::initializer_list<DbfIndexDesc*>{ndx, mdx, idx, cdx, ntx}) delete index;
  for (DbfIndexFile* file : {ndxFile, mdxFile, idxFile, cdxFile, ntxFile}) delete file;
  delete reader;
  delete statement;
  (void)connection->disconnect();
  delete connection;
  delete env;
  for (const char* name : {"/bench.dbf", "/name.ndx", "/bench.mdx", "/name.idx", "/bench.cdx", "/name.ntx"})
    std::remove((dir + name).c_str());
  return 0;
}
