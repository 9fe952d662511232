// Joins and correlated subqueries over a table without a usable index, on
// tables of 10^4, 10^5 and 10^6 rows through the test file driver: the inner
// table is read through the engine's sorted lookup (sorted once, a key range
// per outer row). A join of 1,000 outer rows, a self-join on the key, an
// EXISTS subquery correlated on the key, an uncorrelated IN subquery over
// the whole table tested for every row of it (its values read once and
// searched), and, at 10^4 rows only, the same
// join read as a plain nested loop (the inner table scanned for each outer
// row) for comparison. Prints each shape's time and the process's peak RSS.
// Run on demand: build with -DKV_BUILD_BENCH=ON and run
// build/bench/flat_lookup_bench.
#include "base/handles/base_env.h"
#include "drivers/flattest/flattest_connection.h"
#include "drivers/flattest/flattest_format.h"
#include "flat/exec/flat_statement.h"
#include "flat/query/flat_keyset.h"
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

// ID integer (0 .. count - 1), SAL double (count / 10 distinct values),
// written record by record so the bench holds no copy of the table.
bool writeTable(const std::string& path, uint32_t count) {
  FlatTestLayout layout;
  layout.columns = {{"ID", 'I', 4, 0}, {"SAL", 'D', 8, 0}};
  std::string reason;
  if (!flatTestCheckLayout(&layout, &reason)) return false;
  layout.recordCount = count;
  std::vector<unsigned char> header = flatTestHeader(layout);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(header.data()), std::streamsize(header.size()));
  std::vector<unsigned char> record(layout.recordWidth, 0);
  uint32_t seed = 12345;
  const uint32_t values = count / 10 ? count / 10 : 1;
  for (uint32_t i = 0; i < count; ++i) {
    std::fill(record.begin(), record.end(), 0);
    record[0] = ' ';
    seed = seed * 1103515245u + 12345u;
    const int32_t id = int32_t(i);
    const double sal = double((seed >> 4) % values);
    std::memcpy(&record[layout.columns[0].offset + 1], &id, 4);
    std::memcpy(&record[layout.columns[1].offset + 1], &sal, 8);
    out.write(reinterpret_cast<const char*>(record.data()), std::streamsize(record.size()));
  }
  return bool(out);
}

// The rows of the join loop, read through the keyset.
bool shape(FlatTestConnection* connection, const char* label, const char* sql, uint32_t count) {
  return runShape(connection, label, sql, count, [](FlatStatement* statement, FlatSqlDesc* query, uint32_t* rows) {
    RidFileMgr keyset(statement, query);
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
  char dir[] = "/tmp/kvlookupbenchXXXXXX";
  if (!mkdtemp(dir)) return 1;
  const std::string big = std::string(dir) + "/big.ftt";
  const std::string outer = std::string(dir) + "/outer.ftt";
  int status = 0;
  {
    BenchConnection bench(dir);
    FlatTestConnection* connection = bench.connection;
    if (!bench.connected) status = 1;
    if (!status && !writeTable(outer, 1000)) status = 1;
    for (uint32_t count : {10000u, 100000u, 1000000u}) {
      if (status || !writeTable(big, count)) {
        status = 1;
        break;
      }
      if (!shape(connection, "JOIN 1000", "SELECT o.ID FROM outer o, big b WHERE b.ID = o.ID * 7", count) ||
          !shape(connection, "SELF JOIN", "SELECT a.ID FROM big a, big b WHERE b.ID = a.ID", count) ||
          !shape(connection, "EXISTS", "SELECT ID FROM outer o WHERE EXISTS (SELECT ID FROM big b WHERE b.SAL = o.ID)",
                 count) ||
          !shape(connection, "IN SUBQUERY", "SELECT a.ID FROM big a WHERE a.ID IN (SELECT b.SAL FROM big b)", count))
        status = 1;
      if (count == 10000u &&
          !shape(connection, "NESTED LOOP", "SELECT o.ID FROM outer o, big b WHERE b.ID = o.ID * 7 OR 1 = 0", count))
        status = 1;
    }
  }
  std::remove(big.c_str());
  std::remove(outer.c_str());
  std::remove(dir);
  return status;
}
