// Scaffolding of the dBASE driver's tests: a scratch directory of tables,
// dBASE connections connected to it (the connection's error list current,
// as inside an ODBC call), readers opened through a statement, tables
// built byte by byte, and rows read as text.
#pragma once

#include "base/handles/base_env.h"
#include "drivers/dbase/connection/dbf_connection.h"
#include "drivers/dbase/records/dbf_file_desc.h"
#include "drivers/dbase/statement/dbf_statement.h"
#include "flat/connection/flat_changes.h"
#include "flat/connection/flat_rid.h"
#include "flat/sql/flat_descriptor.h"
#include "tests/util/test_support.h"
#include "util/byte_order.h"
#include "util/memory/ram.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

template <class T, class Arg>
T* dbfBuild(Arg arg) {
  void* memory = ramAllocZ(sizeof(T));
  return memory ? new (memory) T(arg) : nullptr;
}

// A field of a table the tests build: name, type letter, length, decimals.
struct TestField {
  std::string name;
  char type;
  uint16_t length;
  uint8_t decimals;
};

// The bytes of a dBASE III-style table: version byte, fields, records
// (each the record's text after its deletion byte, or with "*" in front
// for a deleted one: the tests write the deletion byte themselves).
inline std::string dbfTableBytes(uint8_t version, const std::vector<TestField>& fields,
                                 const std::vector<std::string>& records, bool endMark = true) {
  uint32_t headerLength = 32 + 32 * uint32_t(fields.size()) + 1;
  uint32_t recordLength = 1;
  for (const TestField& f : fields) recordLength += f.length;
  std::string bytes(headerLength, '\0');
  bytes[0] = char(version);
  bytes[1] = 99;
  bytes[2] = 1;
  bytes[3] = 2;
  kvPutU32LE(&bytes[4], uint32_t(records.size()));
  kvPutU16LE(&bytes[8], uint16_t(headerLength));
  kvPutU16LE(&bytes[10], uint16_t(recordLength));
  for (size_t i = 0; i < fields.size(); ++i) {
    char* d = &bytes[32 + 32 * i];
    std::memcpy(d, fields[i].name.data(), fields[i].name.size());
    d[11] = fields[i].type;
    if (fields[i].type == 'C') {
      kvPutU16LE(d + 16, fields[i].length);
    } else {
      d[16] = char(fields[i].length);
      d[17] = char(fields[i].decimals);
    }
  }
  bytes[headerLength - 1] = 0x0D;
  for (const std::string& record : records) {
    std::string r = record;
    if (r.size() < recordLength) r.resize(recordLength, ' ');
    bytes += r.substr(0, recordLength);
  }
  if (endMark) bytes += '\x1A';
  return bytes;
}

// One row as the tests see it: each column as text ("" for NULL; numbers
// and dates as %.15g of their double; logicals "0"/"1").
typedef std::vector<std::string> Row;

class DbfFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::make_unique<ScratchDirectory>();
    ASSERT_TRUE(dir_->make("kvdbase"));
    env_ = dbfBuild<BaseEnv>(OdbcDriverNumber(1));
  }
  void TearDown() override {
    for (auto it = connections_.rbegin(); it != connections_.rend(); ++it) {
      KvErrorKeeper::setErrorList(&(*it)->getErrorList());
      (void)(*it)->disconnect();
      KvErrorKeeper::giveUpErrorList();
      delete *it;
    }
    connections_.clear();
    delete env_;
    dir_.reset();
  }

  std::string dir() const { return dir_->name(); }
  std::string path(const std::string& file) const { return dir() + "/" + file; }
  // Copies a file of tests/data/dbase into the scratch directory.
  void copyData(const std::string& file) { writeFile(path(file), readFile(std::string(KV_DBASE_DATA) + "/" + file)); }

  // A connected dBASE connection; its error list becomes current. rc
  // receives the connect's result when given (else it must succeed).
  DbfConnection* connect(const std::string& extra = "", SQLRETURN* rc = nullptr) {
    auto* connection = dbfBuild<DbfConnection>(static_cast<BaseEnv*>(env_));
    connections_.push_back(connection);
    std::string text = "DRIVER=dbase;DB=" + dir() + ";" + extra;
    SQLRETURN result = connection->SQLDriverConnect(nullptr, kvU(const_cast<char*>(text.c_str())),
                                                    SQLSMALLINT(SQL_NTS), nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    if (rc) *rc = result;
    else EXPECT_TRUE(result == SQL_SUCCESS || result == SQL_SUCCESS_WITH_INFO) << result;
    use(connection);
    return connection;
  }
  void use(DbfConnection* connection) { KvErrorKeeper::setErrorList(&connection->getErrorList()); }

  static std::vector<uint16_t> errorsOf(BaseConnection* connection) {
    std::vector<uint16_t> numbers;
    for (uint32_t i = 0; KvError* e = connection->getErrorList().getErrorAtPos(i); ++i)
      numbers.push_back(e->getNumber());
    return numbers;
  }
  static std::string stateOf(BaseConnection* connection, uint32_t position = 0) {
    KvError* e = connection->getErrorList().getErrorAtPos(position);
    return e ? baseSqlStateOf(e) : "";
  }
  static std::string baseSqlStateOf(KvError* e) {
    if (e->getSqlState() && e->getSqlState()[0]) return e->getSqlState();
    return kvC(baseSqlStateText(e->getStateIndex()));
  }

  // A statement with a query over one table (a file name in the scratch
  // directory); options, when given, are parsed as the text after FROM and
  // given to the reader before it opens the table.
  DbfStatement* query(DbfConnection* connection, const std::string& table, KvStatus* status = nullptr,
                      const std::string& fromText = "") {
    auto* statement = dbfBuild<DbfStatement>(static_cast<FlatConnection*>(connection));
    auto* sql = static_cast<DbfSqlDesc*>(statement->allocSqlDesc());
    KvStatus result = kvSuccess;
    FlatFileDesc* reader = nullptr;
    result = statement->allocFileDesc(&reader);
    if (result == kvSuccess && !fromText.empty()) {
      const unsigned char* position = kvU(fromText.c_str());
      unsigned char* name = nullptr;
      result = sql->parseTableName(&position, reader, &name);
      ramFree(name);
    }
    if (result == kvSuccess) {
      result = reader->openTable(kvU(path(table).c_str()), statement);
      if (result != kvSuccess) {
        delete reader;
        reader = nullptr;
      }
    }
    if (reader) (void)sql->addTable(reader);
    if (result == kvSuccess) result = statement->setHeadDescriptor(sql, flatKindSelect);
    else delete sql;
    if (status) *status = result;
    else EXPECT_EQ(result, kvSuccess);
    return statement;
  }
  static DbfFileDesc* table(FlatStatement* statement) {
    return static_cast<DbfFileDesc*>(statement->getHeadDescriptor()->getSqlDesc()->getFirstTable());
  }
  static void drop(FlatStatement* statement) {
    (void)statement->setToAllocatedState(1);
    delete statement;
  }

  static std::vector<Row> rows(FlatFileDesc* reader) {
    std::vector<Row> result;
    EXPECT_EQ(reader->resetToFirstRecord(), kvSuccess);
    for (int guard = 0; guard < 100000; ++guard) {
      uint16_t found = 0;
      EXPECT_EQ(reader->readNextRec(&found), kvSuccess);
      if (!found) break;
      Row row;
      for (uint16_t c = 0; c < reader->getShared()->getColumnCount(); ++c) row.push_back(value(reader, c));
      result.push_back(row);
    }
    return result;
  }
  static std::string value(FlatFileDesc* reader, uint16_t column) {
    std::vector<unsigned char> buffer(8192);
    int32_t length = 0;
    uint8_t kind = 0;
    KvStatus status = reader->getFieldData(column, buffer.data(), &length, uint16_t(buffer.size()), &kind);
    if (status != kvSuccess) return "<error>";
    switch (kind) {
      case flatValueNull: return "";
      case flatValueDouble:
      case flatValueDate: {
        double v;
        std::memcpy(&v, buffer.data(), 8);
        char text[64];
        std::snprintf(text, sizeof(text), "%.15g", v);
        return text;
      }
      case flatValueLogical: return buffer[0] ? "1" : "0";
      case flatValueText: return std::string(reinterpret_cast<char*>(buffer.data()), size_t(length - 1));
      default: return "<kind " + std::to_string(kind) + ">";
    }
  }
  // The day number of a date, as value() shows dates.
  static std::string day(int32_t year, int32_t month, int32_t dayOfMonth) {
    return std::to_string(flatJulianDayOf(year, month, dayOfMonth));
  }
  static int32_t flatJulianDayOf(int32_t year, int32_t month, int32_t d);

  std::unique_ptr<ScratchDirectory> dir_;
  BaseEnv* env_ = nullptr;
  std::vector<DbfConnection*> connections_;
};

#include "flat/connection/flat_values.h"
inline int32_t DbfFixture::flatJulianDayOf(int32_t year, int32_t month, int32_t d) {
  return flatJulianDay(year, month, d);
}
