// The engine's sort on tables of 10^4, 10^5 and 10^6 rows through the test
// file driver: ORDER BY of a double descending (no index) and DISTINCT of a
// short text (1,000 distinct values). Prints each shape's time and the
// process's peak RSS, which the record sort keeps bounded by spilling. Run
// on demand: build with -DKV_BUILD_BENCH=ON and run
// build/bench/flat_sort_bench.
#include "tests/flat/flat_sql_test_support.h"

#include "flat/query/flat_keyset.h"
#include "flat/query/flat_sort.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <fstream>

namespace {

double now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

double peakMb() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_maxrss) / 1024.0;
}

class FlatSortBench : public FlatSqlFixture {
 protected:
  // ID integer, SAL double, DEPT char(6); written record by record so the
  // bench itself holds no copy of the table.
  void writeBig(const std::string& name, uint32_t count) {
    FlatTestLayout layout;
    layout.columns = {{"ID", 'I', 4, 0}, {"SAL", 'D', 8, 0}, {"DEPT", 'C', 6, 0}};
    std::string reason;
    ASSERT_TRUE(flatTestCheckLayout(&layout, &reason)) << reason;
    layout.recordCount = count;
    std::vector<unsigned char> header = flatTestHeader(layout);
    std::ofstream out(tablePath(name), std::ios::binary | std::ios::trunc);
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
  }

  void shape(const char* label, const std::string& sql, uint32_t count) {
    const double start = now();
    ASSERT_EQ(prepare(sql), kvSuccess) << lastText();
    RidFileMgr keyset(statement_, head());
    statement_->getErrorList().clearErrors();
    KvErrorKeeper::setErrorList(&statement_->getErrorList());
    ASSERT_EQ(flatOrderKeyset(statement_, head(), &keyset), kvSuccess) << lastText();
    uint32_t rows = 0;
    for (uint32_t n = 1;; ++n) {
      GetRecRetType result = getRecFound;
      ASSERT_EQ(keyset.getRecord(n, &result), kvSuccess);
      if (result != getRecFound) break;
      ++rows;
    }
    KvErrorKeeper::giveUpErrorList();
    std::printf("  %-9s %8u rows -> %8u  %8.3f s  peak RSS %7.1f MB\n", label, count, rows, now() - start, peakMb());
  }
};

TEST_F(FlatSortBench, SortAndDistinct) {
  for (uint32_t count : {10000u, 100000u, 1000000u}) {
    writeBig("big", count);
    shape("ORDER BY", "SELECT ID FROM big ORDER BY SAL DESC, ID", count);
    shape("DISTINCT", "SELECT DISTINCT DEPT FROM big", count);
  }
}

}  // namespace
