// The engine's sort on tables of 10^4, 10^5 and 10^6 rows through the test
// file driver: ORDER BY of a double descending (no index), DISTINCT of a
// short text (1,000 distinct values), GROUP BY that text with COUNT(DISTINCT)
// beside SUM, GROUP BY a key of its own a row, and a UNION of two halves.
// Prints each shape's time and the process's peak RSS, which the record
// sort keeps bounded by spilling. Run
// on demand: build with -DKV_BUILD_BENCH=ON and run
// build/bench/flat_sort_bench.
#include "base/handles/base_env.h"
#include "drivers/flattest/flattest_connection.h"
#include "drivers/flattest/flattest_format.h"
#include "flat/exec/flat_statement.h"
#include "flat/query/flat_aggregates.h"
#include "flat/query/flat_keyset.h"
#include "flat/query/flat_sort.h"
#include "flat/query/flat_union.h"
#include "flat/sql/flat_descriptor.h"
#include "util/memory/ram.h"
#include "flat_bench_support.h"


#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

using flatbench::BenchConnection;
using flatbench::runShape;

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

// A UNION through its pairs, else grouping and ordering, then the rows of
// the keyset.
bool shape(FlatTestConnection* connection, const char* label, const char* sql, uint32_t count) {
  return runShape(connection, label, sql, count, [](FlatStatement* statement, FlatSqlDesc* query, uint32_t* rows) {
    if (query->getNextQuery()) {
      FlatUnionResult result(statement, query);
      if (result.build(statement->getOrderByText()) != kvSuccess) return false;
      *rows = result.getRows();
      return true;
    }
    RidFileMgr keyset(statement, query);
    uint16_t oneRow = 0;
    if (flatComputeAggregates(statement, query, &keyset, &oneRow) != kvSuccess ||
        flatOrderKeyset(statement, query, &keyset) != kvSuccess)
      return false;
    for (uint32_t n = 1;; ++n) {
      GetRecRetType result = getRecFound;
      if (keyset.getRecord(n, &result) != kvSuccess) return false;
      if (result != getRecFound) return true;
      ++*rows;
    }
  });
}

}  // namespace

int main() {
  char dir[] = "/tmp/kvsortbenchXXXXXX";
  if (!mkdtemp(dir)) return 1;
  const std::string table = std::string(dir) + "/big.ftt";
  int status = 0;
  {
    BenchConnection bench(dir);
    FlatTestConnection* connection = bench.connection;
    if (!bench.connected) status = 1;
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
  }
  std::remove(table.c_str());
  std::remove(dir);
  return status;
}
