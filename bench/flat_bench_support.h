// What the engine's query-shape benches share: the clock, the process's peak
// RSS, a connection of the test file driver over a directory of bench tables,
// and the run of one SQL text whose result rows a bench counts in its own
// way, printed as one line of time and peak memory.
#pragma once

#include "base/handles/base_env.h"
#include "drivers/flattest/flattest_connection.h"
#include "flat/exec/flat_statement.h"
#include "flat/sql/flat_descriptor.h"
#include "util/memory/ram.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <new>
#include <string>

namespace flatbench {

inline double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

inline double peakMb() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_maxrss) / 1024.0;
}

// The framework's objects live in its own allocator's memory.
template <class T, class Arg>
T* build(Arg arg) {
  void* memory = ramAllocZ(sizeof(T));
  return memory ? new (memory) T(arg) : nullptr;
}

// An environment and a test file driver connection over dir's tables; null
// when the connect fails.
struct BenchConnection {
  explicit BenchConnection(const std::string& dir) {
    env = build<BaseEnv>(OdbcDriverNumber(98));
    connection = build<FlatTestConnection>(env);
    std::string text = "DRIVER=flattest;DB=" + dir + ";";
    SQLRETURN rc = connection->SQLDriverConnect(nullptr, reinterpret_cast<SQLCHAR*>(&text[0]),
                                                SQLSMALLINT(SQL_NTS), nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    connected = rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
  }
  ~BenchConnection() {
    KvErrorKeeper::setErrorList(&connection->getErrorList());
    kvIgnoreStatus(connection->disconnect());  // the bench ends either way
    KvErrorKeeper::giveUpErrorList();
    delete connection;
    delete env;
  }
  BaseEnv* env = nullptr;
  FlatTestConnection* connection = nullptr;
  bool connected = false;
};

// Prepares sql, has countRows(statement, query, &rows) deliver its result,
// and prints the shape's line: count is the table's size, for the report.
template <class CountRows>
bool runShape(FlatTestConnection* connection, const char* label, const char* sql, uint32_t count,
              CountRows countRows) {
  const double start = now();
  FlatTestStatement* statement = build<FlatTestStatement>(static_cast<FlatConnection*>(connection));
  KvErrorKeeper::setErrorList(&statement->getErrorList());
  bool ok = statement->prepareText(reinterpret_cast<const unsigned char*>(sql)) == kvSuccess;
  uint32_t rows = 0;
  if (ok) ok = countRows(statement, static_cast<FlatSqlDesc*>(statement->getHeadDescriptor()), &rows);
  KvErrorKeeper::giveUpErrorList();
  kvIgnoreStatus(statement->setToAllocatedState(1));  // the bench ends with the statement either way
  delete statement;
  if (!ok) {
    std::printf("  %s failed\n", label);
    return false;
  }
  std::printf("  %-12s %8u rows -> %8u  %8.3f s  peak RSS %7.1f MB\n", label, count, rows, now() - start,
              peakMb());
  return true;
}

}  // namespace flatbench
