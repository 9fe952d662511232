// The engine's sort on tables of 10^4, 10^5 and 10^6 rows through the test
// file driver: ORDER BY of a double descending (no index), DISTINCT of a
// short text (1,000 distinct values), GROUP BY that text with COUNT(DISTINCT)
// beside SUM, GROUP BY a key of its own a row, and a UNION of two halves.
// Prints each shape's time and the process's peak RSS, which the record
// sort keeps bounded by spilling. Run
// on demand: build with -DKV_BUILD_BENCH=ON and run
// build/bench/flat_sort_bench.
#include "base/base_env.h"
#include "drivers/flattest/flattest_connection.h"
#include "drivers/flattest/flattest_format.h"
#include "flat/exec/flat_statement.h"
#include "flat/query/flat_aggregates.h"
#include "flat/query/flat_keyset.h"
#include "flat/query/flat_sort.h"
#include "flat/query/flat_union.h"
#include "flat/sql/flat_descriptor.h"
#include "util/ram.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <string>
#include <vector>

namespace {

double now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

double peakMb() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_maxrss) / 1024.0;
}

template <class T, class Arg>
T* build(Arg arg) {
  void* memory = ramAllocZ(sizeof(T));
  return memory ? new (memory) T(arg) : nullptr;
}

// ID integer, SAL double, DEPT char(6), written record by record so the
// bench holds no copy of the table.
bool writeBig(const std::string& path, uint32_t count) {
  FlatTestLayout layout;
  layout.columns = {{"ID", 'I', 4, 0}, {"SAL", 'D', 8, 0}, {"DEPT", 'C', 6, 0}};
  std::string reason;
  if (!flatTestCheckLayout(&layout, &reason)) return false;
  layout.recordCount = count;
  std::vector<unsigned char> header = flatTestHeader(layout);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(header.data()), std::streamsize(header.size()));
  std::vector<unsigned char> record(layout.recordWidth, 0);
  uint32_t seed = 12345;
  for (uint32_t i = 0; i < count; ++i) {
    std::fill(record.begin(), record.end(), 0);
    record[0] = ' ';
    seed = seed * 1103515245u + 12345u;
    const int32_t id = int32_t(i);
    const double sal = double(seed % 1000000u) / 100.0;
    char dept[8];
    std::snprintf(dept, sizeof dept, "D%05u", (seed >> 8) % 1000u);
    std::memcpy(&record[layout.columns[0].offset + 1], &id, 4);
    std::memcpy(&record[layout.columns[1].offset + 1], &sal, 8);
    std::memcpy(&record[layout.columns[2].offset + 1], dept, 6);
    out.write(reinterpret_cast<const char*>(record.data()), std::streamsize(record.size()));
  }
  return bool(out);
}

bool shape(FlatTestConnection* connection, const char* label, const char* sql, uint32_t count) {
  const double start = now();
  FlatTestStatement* statement = build<FlatTestStatement>(static_cast<FlatConnection*>(connection));
  KvErrorKeeper::setErrorList(&statement->getErrorList());
  bool ok = statement->prepareText(reinterpret_cast<const unsigned char*>(sql)) == kvSuccess;
  uint32_t rows = 0;
  if (ok) {
    FlatSqlDesc* query = static_cast<FlatSqlDesc*>(statement->getHeadDescriptor());
    if (query->getNextQuery()) {
      FlatUnionResult result(statement, query);
      ok = result.build(statement->getOrderByText()) == kvSuccess;
      rows = result.getRows();
    } else {
      RidFileMgr keyset(statement, query);
      uint16_t oneRow = 0;
      ok = flatComputeAggregates(statement, query, &keyset, &oneRow) == kvSuccess &&
           flatOrderKeyset(statement, query, &keyset) == kvSuccess;
      for (uint32_t n = 1; ok; ++n) {
        GetRecRetType result = getRecFound;
        ok = keyset.getRecord(n, &result) == kvSuccess;
        if (!ok || result != getRecFound) break;
        ++rows;
      }
    }
  }
  KvErrorKeeper::giveUpErrorList();
  kvIgnoreStatus(statement->setToAllocatedState(1));  // the bench ends with the statement either way
  delete statement;
  if (!ok) {
    std::printf("  %s failed\n", label);
    return false;
  }
  std::printf("  %-12s %8u rows -> %8u  %8.3f s  peak RSS %7.1f MB\n", label, count, rows, now() - start, peakMb());
  return true;
}

}  // namespace

int main() {
  char dir[] = "/tmp/kvsortbenchXXXXXX";
  if (!mkdtemp(dir)) return 1;
  const std::string table = std::string(dir) + "/big.ftt";
  BaseEnv* env = build<BaseEnv>(OdbcDriverNumber(98));
  FlatTestConnection* connection = build<FlatTestConnection>(env);
  std::string text = std::string("DRIVER=flattest;DB=") + dir + ";";
  SQLRETURN rc = connection->SQLDriverConnect(nullptr, reinterpret_cast<SQLCHAR*>(&text[0]), SQLSMALLINT(SQL_NTS),
                                              nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  int status = (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) ? 0 : 1;
  for (uint32_t count : {10000u, 100000u, 1000000u}) {
    if (status || !writeBig(table, count)) {
      status = 1;
      break;
    }
    if (!shape(connection, "ORDER BY", "SELECT ID FROM big ORDER BY SAL DESC, ID", count) ||
        !shape(connection, "DISTINCT", "SELECT DISTINCT DEPT FROM big", count) ||
        !shape(connection, "GROUP BY",
               "SELECT DEPT, COUNT(*), COUNT(DISTINCT SAL), SUM(SAL) FROM big GROUP BY DEPT", count) ||
        !shape(connection, "GROUP BY ID", "SELECT ID, SUM(SAL) FROM big GROUP BY ID", count) ||
        !shape(connection, "UNION",
               "SELECT DEPT, SAL FROM big WHERE ID < 500000 UNION SELECT DEPT, SAL FROM big WHERE ID >= 500000",
               count))
      status = 1;
  }
  KvErrorKeeper::setErrorList(&connection->getErrorList());
  kvIgnoreStatus(connection->disconnect());  // the bench ends either way
  KvErrorKeeper::giveUpErrorList();
  delete connection;
  delete env;
  std::remove(table.c_str());
  std::remove(dir);
  return status;
}
