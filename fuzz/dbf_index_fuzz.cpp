// Fuzz target of the dBASE driver's index files: any bytes are an .NDX
// (dBASE II or III), an .MDX, a FoxPro standard or compact .IDX, a .CDX or
// a Clipper .NTX file, opened and read through the index formats:
// headers, the tag directory and every tag, a walk of the whole tree,
// searches, the consistency check. Reading never writes the file. Then
// keys are inserted and deleted in the same file, which may write it but
// must neither crash nor hang.
//
// Input: byte 0 picks the format (its value modulo 7; for the FoxPro and
// Clipper formats bit 0x80 makes the keys numeric); byte 1 seeds the keys
// searched for and changed; the rest is the file.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <unistd.h>
#include <vector>

#include "base/handles/base_env.h"
#include "drivers/dbase/connection/dbf_connection.h"
#include "drivers/dbase/index/dbase/dbf_mdx.h"
#include "drivers/dbase/index/dbase/dbf_ndx.h"
#include "drivers/dbase/index/clipper/dbf_ntx.h"
#include "drivers/dbase/index/fox/fox_cdx.h"
#include "drivers/dbase/records/dbf_file_desc.h"
#include "drivers/dbase/statement/dbf_statement.h"
#include "flat/connection/flat_rid.h"
#include "fuzz/dbf_fuzz_session.h"
#include "fuzz/fuzz_check.h"
#include "util/byte_order.h"
#include "util/memory/ram.h"

namespace {



// A connection on a scratch directory and a reader of a table of three
// records, whose shared table the indexes are opened for.
struct Session {
  std::string dir;
  DbfConnection* connection = nullptr;
  DbfStatement* statement = nullptr;
  DbfFileDesc* reader = nullptr;
  Session() {
    dir = dbfFuzzScratchDir("kvindexfuzz");
    const uint32_t headerLength = 32 + 32 + 1, recordLength = 11;
    std::string table(headerLength, '\0');
    table[0] = 3;
    kvPutU32LE(&table[4], 3);
    kvPutU16LE(&table[8], uint16_t(headerLength));
    kvPutU16LE(&table[10], uint16_t(recordLength));
    std::memcpy(&table[32], "NAME", 4);
    table[43] = 'C';
    kvPutU16LE(&table[48], 10);
    table[headerLength - 1] = 0x0D;
    table += " ALPHA      BETA       GAMMA    \x1A";
    writeFile(dir + "/t.dbf", table.data(), table.size());
    connection = dbfFuzzConnect(dir);
    statement = build<DbfStatement>(static_cast<FlatConnection*>(connection));
    FlatFileDesc* opened = nullptr;
    FUZZ_CHECK(statement->allocFileDesc(&opened) == kvSuccess);
    FUZZ_CHECK(opened->openTable(kvU((dir + "/t.dbf").c_str()), statement) == kvSuccess);
    reader = static_cast<DbfFileDesc*>(opened);
  }
};

// Reads one index every way there is, without writing.
void readIndex(DbfIndexDesc* index, DbfFileDesc* reader, uint8_t seed) {
  DbfIndexCursor cursor(index, reader);
  uint32_t record = 0;
  uint32_t entries = 0;
  // A walk ends: leaves entered are bounded by the file's pages.
  for (int turn = 0; turn < 1000000; ++turn) {
    if (index->nextKey(&cursor, &record) != kvSuccess || !record) break;
    ++entries;
  }
  FUZZ_CHECK(entries < 1000000);
  uint8_t key[dbfIndexMaxKeyBytes];
  for (int i = 0; i < 3; ++i) {
    std::memset(key, uint8_t(seed + i * 77), sizeof(key));
    if (index->searchKey(&cursor, key, &record, i == 0) == kvSuccess) {
      int order = 0;
      (void)index->compareCurrentKey(&cursor, key, &order);
      (void)index->nextKey(&cursor, &record);
    }
    index->releasePath(&cursor);
  }
  uint32_t count = 0;
  (void)index->verifyTree(&count);
  unsigned char text[300];
  (void)index->getKeyText(text, sizeof(text));
}

// Inserts and deletes a few keys: may write, must not crash or hang.
void changeIndex(DbfIndexDesc* index, DbfFileDesc* reader, uint8_t seed) {
  uint8_t key[dbfIndexMaxKeyBytes];
  for (uint32_t i = 0; i < 24; ++i) {
    std::memset(key, uint8_t(seed + i * 13), sizeof(key));
    static_cast<FlatNumericRid*>(reader->getRid())->setRecordNumber(1 + i % 3);
    DbfIndexCursor cursor(index, reader);
    if (i % 4 == 3) (void)index->deleteKey(&cursor, key);
    else (void)index->insertKey(&cursor, key);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Session* session = new Session();
  if (size < 2 || size > 0x40000) return 0;
  enum { ndx2, ndx3, mdx, idx, compactIdx, cdx, ntx };
  uint32_t format = data[0] % 7;
  unsigned char keyType = (data[0] & 0x80) ? 'N' : 'C';
  uint8_t seed = data[1];
  static const char* const names[] = {"/x.ndx", "/x.ndx", "/x.mdx", "/x.idx", "/x.idx", "/x.cdx", "/x.ntx"};
  std::string path = session->dir + names[format];
  writeFile(path, data + 2, size - 2);
  DbfConnection* connection = session->connection;
  DbfSharedDesc* table = session->reader->table();
  connection->getErrorList().clearErrors();

  for (int pass = 0; pass < 2; ++pass) {
    auto* file = new DbfIndexFile(nullptr, table);
    FUZZ_CHECK(file && file->setPath(kvU(path.c_str())) == kvSuccess);
    if (file->open(false) == kvSuccess) {
      unsigned char keyText[256], forText[300];
      uint8_t* filter = nullptr;
      if (format == idx || format == compactIdx || format == ntx) {
        DbfIndexDesc* index = nullptr;
        KvStatus status = kvFailure;
        if (format == idx) {
          auto* fox = new FoxIdxDesc(table);
          status = fox->readHeader(file, keyType, keyText, sizeof(keyText));
          index = fox;
        } else if (format == compactIdx) {
          auto* fox = new FoxCdxDesc(table);
          status = fox->readTagHeader(file, dbfIndexCompactIdx, 0, 0, keyType, keyText, sizeof(keyText));
          index = fox;
        } else {
          auto* clipper = new DbfNtxDesc(table);
          status = clipper->readHeader(file, keyType, keyText, sizeof(keyText));
          index = clipper;
        }
        if (status == kvSuccess) {
          (void)index->getFilterCondition(&filter, session->reader);
          if (pass == 0) readIndex(index, session->reader, seed);
          else changeIndex(index, session->reader, seed);
        }
        delete index;
      } else if (format == cdx) {
        auto* directory = new FoxCdxDesc(table);
        std::vector<FoxCdxTag> tags;
        if (directory->openTagDirectory(file) == kvSuccess && directory->readTags(&tags) == kvSuccess) {
          for (size_t t = 0; t < tags.size() && t < 8; ++t) {
            auto* tag = new FoxCdxDesc(table);
            if (tag->openTag(file, tags[t], uint16_t(t), keyType, keyText, sizeof(keyText)) == kvSuccess) {
              (void)tag->getFilterCondition(&filter, session->reader);
              if (pass == 0) readIndex(tag, session->reader, seed);
              else changeIndex(tag, session->reader, seed);
            }
            delete tag;
          }
          if (pass == 1 && !tags.empty()) {
            uint16_t remaining = 0;
            (void)FoxCdxDesc::removeTagEntry(file, table, tags[0].name, &remaining);
          }
        }
        delete directory;
      } else if (format < 2) {
        DbfNdxDesc* index = format == 0 ? static_cast<DbfNdxDesc*>(new DbfNdx2Desc(table))
                                        : static_cast<DbfNdxDesc*>(new DbfNdx3Desc(table));
        if (index->readHeader(file, keyText, sizeof(keyText)) == kvSuccess) {
          if (pass == 0) readIndex(index, session->reader, seed);
          else changeIndex(index, session->reader, seed);
        }
        delete index;
      } else if (DbfMdxFile::readHeader(file, kvU("T"), false) == kvSuccess) {
        uint16_t entry = 0;
        (void)DbfMdxFile::findTag(file, kvU("NAME"), &entry);
        for (uint16_t tag = 0; tag < file->getTagCount(); ++tag) {
          auto* index = new DbfMdxDesc(table);
          if (index->readTag(file, tag, keyText, sizeof(keyText), forText, sizeof(forText)) == kvSuccess) {
            uint8_t* filter = nullptr;
            (void)index->getFilterCondition(&filter, session->reader);
            if (pass == 0) readIndex(index, session->reader, seed);
            else changeIndex(index, session->reader, seed);
          }
          delete index;
        }
      }
    }
    delete file;
    connection->getErrorList().clearErrors();
    // Reading never writes the file.
    if (pass == 0) {
      std::string after = readFile(path);
      FUZZ_CHECK(after.size() == size - 2 && std::memcmp(after.data(), data + 2, size - 2) == 0);
    }
  }
  unsigned char tagNames[dbfMdxMaxTags][dbfMdxTagNameChars + 1];
  uint16_t count = 0;
  (void)DbfMdxFile::listTags(kvU(path.c_str()), false, tagNames, &count);
  unsigned char cdxNames[foxMaxListedTags * (foxTagNameBytes + 1)];
  uint32_t cdxCount = 0;
  (void)FoxCdxDesc::listTags(kvU(path.c_str()), false, cdxNames, foxMaxListedTags, &cdxCount);
  connection->getErrorList().clearErrors();
  return 0;
}
