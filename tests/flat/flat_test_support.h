// Scaffolding of the engine's tests: a scratch directory of test-driver
// tables, connections of the test file driver connected to it (the
// connection's error list current, as inside an ODBC call), readers opened
// through a statement, and small helpers to write and read rows.
#pragma once

#include "base/handles/base_env.h"
#include "drivers/flattest/flattest_connection.h"
#include "drivers/flattest/flattest_format.h"
#include "flat/connection/flat_changes.h"
#include "flat/connection/flat_rid.h"
#include "flat/sql/flat_descriptor.h"
#include "tests/util/test_support.h"
#include "util/memory/ram.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

// Runs work on a thread of its own and waits for it a while. The table
// locks are neither recursive nor timed: work that waits for a lock left
// held would wait for good, so a wait past the limit ends the program with
// a failure rather than hang it.
inline void runOrFail(const char* what, std::function<void()> work) {
  auto ended = std::make_shared<std::promise<void>>();
  std::future<void> done = ended->get_future();
  std::thread([work, ended] {
    work();
    ended->set_value();
  }).detach();
  if (done.wait_for(std::chrono::seconds(20)) == std::future_status::ready) return;
  std::fprintf(stderr, "%s did not end: a table lock was left held\n", what);
  std::abort();
}

template <class T, class Arg>
T* flatBuild(Arg arg) {
  void* memory = ramAllocZ(sizeof(T));
  return memory ? new (memory) T(arg) : nullptr;
}

// One row as the tests see it: each column as text ("" for null); numbers
// as the shortest decimal.
typedef std::vector<std::string> Row;

class FlatTestFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::make_unique<ScratchDirectory>();
    ASSERT_TRUE(dir_->make("kvflat"));
    env_ = flatBuild<BaseEnv>(OdbcDriverNumber(98));
  }
  void TearDown() override {
    for (auto it = connections_.rbegin(); it != connections_.rend(); ++it) {
      KvErrorKeeper::setErrorList(&(*it)->getErrorList());
      EXPECT_EQ((*it)->disconnect(), kvSuccess);
      KvErrorKeeper::giveUpErrorList();
      delete *it;
    }
    connections_.clear();
    delete env_;
    dir_.reset();
  }

  std::string dir() const { return dir_->name(); }
  std::string tablePath(const std::string& name) const { return dir() + "/" + name + ".ftt"; }

  // A table of the standard columns: ID integer (unique index), NAME
  // char(10), AMOUNT double, DATA binary(4), NOTE long text (4000).
  void makeTable(const std::string& name, std::vector<FlatTestColumn> columns = {}) {
    if (columns.empty())
      columns = {{"ID", 'I', 4, flatTestUnique}, {"NAME", 'C', 10, 0}, {"AMOUNT", 'D', 8, 0},
                 {"DATA", 'B', 4, 0}, {"NOTE", 'L', 4000, 0}};
    KvErrorList list(this, 1);
    KvErrorKeeper::setErrorList(&list);
    ASSERT_EQ(flatTestCreateTable(kvU(tablePath(name).c_str()), columns), kvSuccess);
    KvErrorKeeper::giveUpErrorList();
  }

  // A connected test-driver connection; its error list becomes current.
  FlatTestConnection* connect(const std::string& extra = "") {
    auto* connection = flatBuild<FlatTestConnection>(static_cast<BaseEnv*>(env_));
    connections_.push_back(connection);
    std::string text = "DRIVER=flattest;DB=" + dir() + ";" + extra;
    SQLRETURN rc = connection->SQLDriverConnect(nullptr, kvU(const_cast<char*>(text.c_str())), SQLSMALLINT(SQL_NTS),
                                                nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    EXPECT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) << rc;
    use(connection);
    return connection;
  }
  void use(FlatTestConnection* connection) { KvErrorKeeper::setErrorList(&connection->getErrorList()); }
  void useNone() { KvErrorKeeper::giveUpErrorList(); }

  // The numbers of the errors the connection's list holds.
  static std::vector<uint16_t> errorsOf(FlatConnection* connection) {
    std::vector<uint16_t> numbers;
    for (uint32_t i = 0; KvError* e = connection->getErrorList().getErrorAtPos(i); ++i)
      numbers.push_back(e->getNumber());
    return numbers;
  }

  // A statement of the connection with a query over the tables named, in
  // FROM order; the readers are opened through the statement.
  FlatTestStatement* query(FlatTestConnection* connection, const std::vector<std::string>& tables,
                           KvStatus* status = nullptr,
                           std::function<FlatSqlDesc*(FlatStatement*)> make = nullptr) {
    auto* statement = flatBuild<FlatTestStatement>(static_cast<FlatConnection*>(connection));
    FlatSqlDesc* sql = make ? make(statement) : new FlatSqlDesc(statement);
    KvStatus result = kvSuccess;
    for (const std::string& name : tables) {
      FlatFileDesc* reader = nullptr;
      if (statement->allocFileDesc(&reader) != kvSuccess) result = kvFailure;
      if (result == kvSuccess && reader->openTable(kvU(tablePath(name).c_str()), statement) != kvSuccess) {
        delete reader;
        result = kvFailure;
      }
      if (result == kvSuccess) result = sql->addTable(reader);
    }
    if (result == kvSuccess) result = statement->setHeadDescriptor(sql, flatKindSelect);
    else delete sql;
    if (status) *status = result;
    else EXPECT_EQ(result, kvSuccess);
    return statement;
  }
  static FlatFileDesc* table(FlatStatement* statement, int index = 0) {
    FlatFileDesc* reader = statement->getHeadDescriptor()->getSqlDesc()->getFirstTable();
    while (index-- > 0) reader = reader->getNextTable();
    return reader;
  }
  static void drop(FlatStatement* statement) {
    EXPECT_EQ(statement->setToAllocatedState(1), kvSuccess);
    delete statement;
  }

  // Every row the reader sees, columns as text.
  static std::vector<Row> rows(FlatFileDesc* reader) {
    std::vector<Row> result;
    EXPECT_EQ(flatStartScan(reader), kvSuccess);
    for (int guard = 0; guard < 100000; ++guard) {
      uint16_t found = 0;
      EXPECT_EQ(flatReadNext(reader, &found), kvSuccess);
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
    EXPECT_EQ(flatGetFieldData(reader, column, buffer.data(), &length, uint16_t(buffer.size()), &kind), kvSuccess);
    switch (kind) {
      case flatValueNull: return "";
      case flatValueDouble: {
        double v;
        std::memcpy(&v, buffer.data(), 8);
        char text[64];
        std::snprintf(text, sizeof(text), "%.15g", v);
        return text;
      }
      case flatValueText: return std::string(reinterpret_cast<char*>(buffer.data()), size_t(length - 1));
      default: {
        std::string hex;
        char two[3];
        for (int32_t i = 0; i < length; ++i) {
          std::snprintf(two, sizeof(two), "%02x", buffer[i]);
          hex += two;
        }
        return hex;
      }
    }
  }

  // Inserts a row (id, name) through the engine's insert path: appended
  // when the connection writes directly, logged otherwise.
  static KvStatus insert(FlatFileDesc* reader, int32_t id, const std::string& name) {
    FlatConnection* connection = reader->getShared()->getConnection();
    if (reader->initializeForInsert() != kvSuccess) return kvFailure;
    if (connection->isWritingDirectly()) {
      if (flatStoreColumn(reader, 0, &id, 4, flatItInt32, 0xFFFFFFFF) != kvSuccess) return kvFailure;
      if (flatStoreColumn(reader, 1, name.data(), uint32_t(name.size()), flatItChar, 0xFFFFFFFF) != kvSuccess)
        return kvFailure;
      if (flatAppendRecord(reader, 0) != kvSuccess) return kvFailure;
      return reader->addKeyToIndex();
    }
    if (flatLogBegin(reader, flatChangeInsert) != kvSuccess) return kvFailure;
    if (flatStoreColumn(reader, 0, &id, 4, flatItInt32, 0xFFFFFFFF) != kvSuccess ||
        flatStoreColumn(reader, 1, name.data(), uint32_t(name.size()), flatItChar, 0xFFFFFFFF) != kvSuccess) {
      flatLogAbandon(reader);
      return kvFailure;
    }
    return flatLogEnd(reader);
  }

  // Sets manual-commit mode the way an application does.
  static void autocommit(FlatConnection* connection, bool on) {
    EXPECT_EQ(connection->applyConnectOption(SQL_AUTOCOMMIT, on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF),
              kvSuccess);
  }

  std::unique_ptr<ScratchDirectory> dir_;
  BaseEnv* env_ = nullptr;
  std::vector<FlatTestConnection*> connections_;
};
