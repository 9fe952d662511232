// Fuzz target of the dBASE driver's memo readers: any bytes are a memo
// file, read through a field whose block number the input chooses. The
// first input byte picks the table's format (dBASE III, dBASE IV, FoxPro)
// and the field's type (M, G, B, P); the next ten are the field's block
// number text; the rest is the memo file. Every value is read whole, in
// small pieces and for its total alone; reading never changes the memo
// file, and pieces never claim more bytes than they were given. Then a
// short value is written to the field: whatever the header claims, the
// file grows by a few blocks at most.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <unistd.h>

#include "base/handles/base_env.h"
#include "drivers/dbase/connection/dbf_connection.h"
#include "drivers/dbase/records/dbf_file_desc.h"
#include "drivers/dbase/statement/dbf_statement.h"
#include "fuzz/dbf_fuzz_session.h"
#include "fuzz/fuzz_check.h"
#include "flat/connection/flat_rid.h"
#include "util/byte_order.h"
#include "util/memory/ram.h"

namespace {

struct Session {
  std::string dir;
  DbfConnection* connection = nullptr;
  Session() {
    dir = dbfFuzzScratchDir("kvmemofuzz");
    connection = dbfFuzzConnect(dir);
  }
};


// A table of one record: CODE C(4), then a memo-type field of 10.
std::string tableBytes(uint8_t version, char type, const uint8_t* blockText) {
  const uint32_t headerLength = 32 + 64 + 1, recordLength = 15;
  std::string bytes(headerLength, '\0');
  bytes[0] = char(version);
  kvPutU32LE(&bytes[4], 1);
  kvPutU16LE(&bytes[8], uint16_t(headerLength));
  kvPutU16LE(&bytes[10], uint16_t(recordLength));
  std::memcpy(&bytes[32], "CODE", 4);
  bytes[43] = 'C';
  kvPutU16LE(&bytes[48], 4);
  std::memcpy(&bytes[64], "MEMO", 4);
  bytes[75] = type;
  bytes[80] = 10;
  bytes[headerLength - 1] = 0x0D;
  bytes += " ABCD";
  bytes.append(reinterpret_cast<const char*>(blockText), 10);
  bytes += '\x1A';
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Session* session = new Session();
  if (size < 11 || size > 0x40000) return 0;
  const uint8_t versions[] = {0x83, 0x8B, 0xF5};
  const char types[] = {'M', 'G', 'B', 'P'};
  uint8_t version = versions[(data[0] & 0x0F) % 3];
  char type = types[(data[0] >> 4) % 4];
  std::string tablePath = session->dir + "/t.dbf";
  std::string memoPath = session->dir + (version == 0xF5 ? "/t.fpt" : "/t.dbt");
  std::string table = tableBytes(version, type, data + 1);
  writeFile(tablePath, table.data(), table.size());
  writeFile(memoPath, data + 11, size - 11);

  DbfConnection* connection = session->connection;
  connection->getErrorList().clearErrors();
  auto* statement = build<DbfStatement>(static_cast<FlatConnection*>(connection));
  FlatFileDesc* reader = nullptr;
  if (statement->allocFileDesc(&reader) == kvSuccess &&
      reader->openTable(kvU(tablePath.c_str()), statement) == kvSuccess) {
    static_cast<FlatNumericRid*>(reader->getRid())->setRecordNumber(1);
    if (reader->setRecordPosition() == kvSuccess) {
      unsigned char buffer[700];
      for (uint32_t piece : {uint32_t(sizeof(buffer)), 3u}) {
        uint32_t offset = 0;
        // Every piece delivers at least a byte or ends the value.
        for (int turn = 0; turn < 0x40000; ++turn) {
          uint32_t got = 0, total = 0;
          if (reader->getLargeColumn(1, buffer, piece, offset, &got, &total) != kvSuccess) break;
          FUZZ_CHECK(got <= piece);
          offset += got;
          if (got == 0 || (total != flatLongLengthUnknown && offset >= total)) break;
        }
        connection->getErrorList().clearErrors();
      }
      uint32_t got = 0, total = 0;
      if (reader->getLargeColumn(1, nullptr, 0, 0, &got, &total) == kvSuccess) FUZZ_CHECK(got == 0);
      connection->getErrorList().clearErrors();
      int32_t length = 0;
      uint8_t kind = 0;
      unsigned char text[600];
      if (reader->getFieldData(1, text, &length, sizeof(text), &kind) == kvSuccess)
        FUZZ_CHECK(length >= 0 && length <= 512);
    }
  }
  // Reading never writes the memo file.
  std::string after = readFile(memoPath);
  FUZZ_CHECK(after.size() == size - 11 && std::memcmp(after.data(), data + 11, size - 11) == 0);
  if (reader && reader->getShared()) {
    // The new value lands in its old blocks, the file's last value or the
    // next free blocks, which lie at most the value's blocks beyond the
    // file's end: with blocks of at most 65535 bytes, the file grows by
    // less than a handful of blocks (never to the gigabytes a hostile
    // next-free number names).
    const unsigned char value[] = "new memo text";
    if (reader->updateLargeColumn(1, value, sizeof(value) - 1, 0) == kvSuccess)
      (void)reader->writeRecord(flatWriteUpdate);
    connection->getErrorList().clearErrors();
    FUZZ_CHECK(readFile(memoPath).size() <= size - 11 + 8 * 65536ull);
  }
  delete reader;
  delete statement;
  connection->getErrorList().clearErrors();
  return 0;
}
