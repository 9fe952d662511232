// The record sort against std::sort on the same records: 100-byte records, a
// 10-byte random key and a 90-byte payload (the record's number and filler).
//
//   1,000,000 records: KvSort spills (about 25 runs of 64 blocks) and merges;
//                      std::sort sorts a vector holding all of them.
//   40,000 records:    fit in KvSort's 64 blocks, so both sort in memory;
//                      repeated to give stable times.
//
// Each case runs in a child process so that its peak memory (the growth of
// the maximum resident set) is its own. Times cover loading the records,
// sorting them and reading them all back in order; the order and the set of
// records read back are checked. Work files go to $TMPDIR (else /tmp).
//
// Usage: sort_bench [records [in-memory records [repetitions]]]
#include "util/error_list.h"
#include "util/memory/ram.h"
#include "util/files/sort.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr uint16_t kRecordBytes = 100;
constexpr uint16_t kKeyBytes = 10;

struct Record {
  unsigned char bytes[kRecordBytes];
};

uint64_t splitMix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// Record i of a data set: the same for both sorts.
void makeRecord(uint64_t seed, uint64_t i, unsigned char* out) {
  uint64_t a = splitMix(seed * 0x100000000ull + i), b = splitMix(a);
  std::memcpy(out, &a, 8);
  std::memcpy(out + 8, &b, 2);
  std::memcpy(out + kKeyBytes, &i, 8);
  std::memset(out + kKeyBytes + 8, int('a' + i % 26), kRecordBytes - kKeyBytes - 8);
}

// Order and content check of a sequence read back: keys never decrease, and
// an order-independent sum of the records' hashes.
struct Checker {
  unsigned char last[kKeyBytes] = {};
  uint64_t count = 0, sum = 0;
  bool ordered = true;
  void add(const unsigned char* r) {
    if (count && std::memcmp(last, r, kKeyBytes) > 0) ordered = false;
    std::memcpy(last, r, kKeyBytes);
    uint64_t h = 1469598103934665603ull;
    for (int i = 0; i < kRecordBytes; ++i) h = (h ^ r[i]) * 1099511628211ull;
    sum += h;
    ++count;
  }
};

struct Result {
  double loadSeconds, sortReadSeconds;
  long peakGrowthKb;
  uint64_t allocatorPeakBytes;
  uint64_t count, sum;
  uint32_t runs;
  int ordered, failed;
};

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

long maxRssKb() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

Result runKvSort(uint64_t n, int repetitions) {
  Result result = {};
  KvErrorList list(nullptr, 1);
  KvErrorKeeper::setErrorList(&list);
  long before = maxRssKb();
  for (int rep = 0; rep < repetitions; ++rep) {
    Checker check;
    double t0 = now();
    KvSort sort(kRecordBytes);
    if (sort.addKey(0, 0, kKeyBytes) != kvSuccess) {
      result.failed = 1;
      break;
    }
    for (uint64_t i = 0; i < n; ++i) {
      void* slot;
      if (sort.nextSlot(&slot) != kvSuccess) {
        result.failed = 1;
        break;
      }
      makeRecord(rep + 1, i, static_cast<unsigned char*>(slot));
    }
    double t1 = now();
    uint64_t held = ramGetStats().systemBytes;
    void* record;
    KvStatus got = sort.getSorted(&record);
    for (; got == kvSuccess && record; got = sort.getSorted(&record)) check.add(static_cast<unsigned char*>(record));
    if (got != kvSuccess) result.failed = 1;
    double t2 = now();
    held = std::max(held, ramGetStats().systemBytes);
    result.allocatorPeakBytes = std::max(result.allocatorPeakBytes, held);
    result.loadSeconds += t1 - t0;
    result.sortReadSeconds += t2 - t1;
    result.count += check.count;
    result.sum += check.sum;
    result.runs = sort.getRunCount();
    result.ordered = check.ordered;
    if (list.getLastError()) result.failed = 1;
  }
  result.peakGrowthKb = maxRssKb() - before;
  KvErrorKeeper::giveUpErrorList();
  return result;
}

Result runStdSort(uint64_t n, int repetitions) {
  Result result = {};
  long before = maxRssKb();
  for (int rep = 0; rep < repetitions; ++rep) {
    Checker check;
    double t0 = now();
    std::vector<Record> records(n);
    for (uint64_t i = 0; i < n; ++i) makeRecord(rep + 1, i, records[i].bytes);
    double t1 = now();
    std::sort(records.begin(), records.end(), [](const Record& a, const Record& b) {
      return std::memcmp(a.bytes, b.bytes, kKeyBytes) < 0;
    });
    for (const Record& r : records) check.add(r.bytes);
    double t2 = now();
    result.loadSeconds += t1 - t0;
    result.sortReadSeconds += t2 - t1;
    result.count += check.count;
    result.sum += check.sum;
    result.ordered = check.ordered;
    result.allocatorPeakBytes = std::max<uint64_t>(result.allocatorPeakBytes, n * sizeof(Record));
  }
  result.peakGrowthKb = maxRssKb() - before;
  return result;
}

// Runs one case in a child process and returns its result.
Result inChild(Result (*run)(uint64_t, int), uint64_t n, int repetitions) {
  int channel[2];
  if (pipe(channel) != 0) std::exit(2);
  pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    Result r = run(n, repetitions);
    ssize_t written = write(channel[1], &r, sizeof(r));
    _exit(written == ssize_t(sizeof(r)) ? 0 : 1);
  }
  close(channel[1]);
  Result r = {};
  r.failed = 1;
  if (read(channel[0], &r, sizeof(r)) != ssize_t(sizeof(r))) r.failed = 1;
  close(channel[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return r;
}

void report(const char* name, const Result& r, int repetitions) {
  std::printf("  %-10s load %8.3f s  sort+read %8.3f s  total %8.3f s  peak RSS +%7.1f MB  allocator %7.1f MB"
              "%s%s\n",
              name, r.loadSeconds / repetitions, r.sortReadSeconds / repetitions,
              (r.loadSeconds + r.sortReadSeconds) / repetitions, r.peakGrowthKb / 1024.0,
              r.allocatorPeakBytes / 1048576.0, r.ordered ? "" : "  OUT OF ORDER", r.failed ? "  FAILED" : "");
}

void compare(const char* title, uint64_t n, int repetitions) {
  std::printf("%s: %llu records of %d bytes, %d repetition%s\n", title, (unsigned long long)n, kRecordBytes,
              repetitions, repetitions == 1 ? "" : "s");
  Result kv = inChild(runKvSort, n, repetitions);
  Result std = inChild(runStdSort, n, repetitions);
  report("KvSort", kv, repetitions);
  if (kv.runs) std::printf("  %-10s %u runs merged\n", "", kv.runs);
  report("std::sort", std, repetitions);
  double kvTotal = kv.loadSeconds + kv.sortReadSeconds, stdTotal = std.loadSeconds + std.sortReadSeconds;
  std::printf("  ratio KvSort / std::sort: total %.2f, sort+read %.2f; same records: %s\n\n", kvTotal / stdTotal,
              kv.sortReadSeconds / std.sortReadSeconds,
              kv.count == std.count && kv.sum == std.sum ? "yes" : "NO");
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t n = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
  uint64_t inMemory = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 40000;
  int repetitions = argc > 3 ? std::atoi(argv[3]) : 25;
  const char* tmp = std::getenv("TMPDIR");
  std::printf("work files in %s\n\n", tmp && *tmp ? tmp : "/tmp");
  compare("Spilling", n, 1);
  compare("In memory", inMemory, repetitions);
  return 0;
}
