// The dBASE driver's reader on a table of 1,000,000 records, against Perl
// DBD::XBase's XBase module reading the same file (Debian's
// libdbd-xbase-perl), with peak memory.
//
// The table: ID N(8,0), NAME C(20), AMOUNT N(10,2), BORN D, OK L (57-byte
// records, 57 MB), written once into $TMPDIR (else /tmp). Three cases, each
// in both programs:
//   scan     every record, every field turned into its value;
//   filter   every record, AMOUNT compared with a bound, the matches counted;
//   lookup   records read in order until ID is 765432 (no index).
// The SQL cases (join, ORDER BY, GROUP BY, the SQLite ODBC driver on the
// same rows) need the engine's statements and are measured by the engine's
// benchmark once it runs SQL.
//
// Usage: dbf_scan_bench [records]
#include "base/handles/base_env.h"
#include "drivers/dbase/connection/dbf_connection.h"
#include "drivers/dbase/records/dbf_file_desc.h"
#include "drivers/dbase/statement/dbf_statement.h"
#include "drivers/dbase/table/dbf_header.h"
#include "flat/connection/flat_rid.h"
#include "flat/sql/flat_descriptor.h"
#include "util/byte_order.h"
#include "util/memory/ram.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace {

const uint32_t lookupId = 765432;
const double amountBound = 5000.0;

template <class T, class Arg>
T* build(Arg arg) {
  void* memory = ramAllocZ(sizeof(T));
  return memory ? new (memory) T(arg) : nullptr;
}

double seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

long peakKb() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void writeTable(const std::string& path, uint32_t records) {
  const struct {
    const char* name;
    char type;
    uint8_t length, decimals;
  } fields[] = {{"ID", 'N', 8, 0}, {"NAME", 'C', 20, 0}, {"AMOUNT", 'N', 10, 2}, {"BORN", 'D', 8, 0}, {"OK", 'L', 1, 0}};
  const uint32_t headerLength = 32 + 32 * 5 + 1, recordLength = 1 + 8 + 20 + 10 + 8 + 1;
  std::string header(headerLength, '\0');
  header[0] = 3;
  kvPutU32LE(&header[4], records);
  kvPutU16LE(&header[8], uint16_t(headerLength));
  kvPutU16LE(&header[10], uint16_t(recordLength));
  for (int i = 0; i < 5; ++i) {
    std::memcpy(&header[32 + 32 * i], fields[i].name, std::strlen(fields[i].name));
    header[32 + 32 * i + 11] = fields[i].type;
    header[32 + 32 * i + 16] = char(fields[i].length);
    header[32 + 32 * i + 17] = char(fields[i].decimals);
  }
  header[headerLength - 1] = 0x0D;
  FILE* file = std::fopen(path.c_str(), "wb");
  std::fwrite(header.data(), 1, header.size(), file);
  char record[64];
  uint64_t x = 88172645463325252ull;
  for (uint32_t n = 1; n <= records; ++n) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    std::snprintf(record, sizeof(record), " %8u%-20s%10.2f%04u%02u%02u%c", n, ("name" + std::to_string(x % 100000)).c_str(),
                  double(x % 1000000) / 100.0, unsigned(1950 + x % 60), unsigned(1 + x % 12), unsigned(1 + x % 28),
                  (x & 1) ? 'T' : 'F');
    std::fwrite(record, 1, recordLength, file);
  }
  std::fputc(0x1A, file);
  std::fclose(file);
}

// One case through the driver's reader, in this process; returns seconds.
double runDriver(const std::string& dir, const std::string& table, const char* mode, uint64_t* result) {
  BaseEnv* env = build<BaseEnv>(OdbcDriverNumber(1));
  auto* connection = build<DbfConnection>(env);
  std::string text = "DRIVER=dbase;DB=" + dir;
  if (connection->SQLDriverConnect(nullptr, kvU(const_cast<char*>(text.c_str())), SQLSMALLINT(SQL_NTS), nullptr, 0,
                                   nullptr, SQL_DRIVER_NOPROMPT) != SQL_SUCCESS)
    std::exit(2);
  KvErrorKeeper::setErrorList(&connection->getErrorList());
  auto* statement = build<DbfStatement>(static_cast<FlatConnection*>(connection));
  FlatFileDesc* reader = nullptr;
  if (statement->allocFileDesc(&reader) != kvSuccess || reader->openTable(kvU(table.c_str()), statement) != kvSuccess)
    std::exit(3);
  unsigned char buffer[64];
  int32_t length = 0;
  uint8_t kind = 0;
  uint64_t count = 0;
  auto start = std::chrono::steady_clock::now();
  if (reader->resetToFirstRecord() != kvSuccess) std::exit(4);
  for (uint16_t found = 1;;) {
    if (reader->readNextRec(&found) != kvSuccess) std::exit(5);
    if (!found) break;
    if (std::strcmp(mode, "scan") == 0) {
      for (uint16_t c = 0; c < 5; ++c)
        if (reader->getFieldData(c, buffer, &length, sizeof(buffer), &kind) != kvSuccess) std::exit(6);
      ++count;
    } else if (std::strcmp(mode, "filter") == 0) {
      double amount = 0;
      if (reader->getFieldData(2, buffer, &length, sizeof(buffer), &kind) != kvSuccess) std::exit(6);
      std::memcpy(&amount, buffer, 8);
      if (kind == flatValueDouble && amount > amountBound) ++count;
    } else {
      double id = 0;
      if (reader->getFieldData(0, buffer, &length, sizeof(buffer), &kind) != kvSuccess) std::exit(6);
      std::memcpy(&id, buffer, 8);
      if (id == lookupId) {
        count = static_cast<FlatNumericRid*>(reader->getRid())->getRecordNumber();
        break;
      }
    }
  }
  double elapsed = seconds(start);
  *result = count;
  delete reader;
  delete statement;
  (void)connection->disconnect();
  delete connection;
  delete env;
  return elapsed;
}

// The same case in Perl's XBase module; returns seconds (or -1 without it).
double runXBase(const std::string& table, const char* mode, uint64_t* result, long* peak) {
  std::string script = std::string(getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp") + "/kvbench_xbase.pl";
  FILE* file = std::fopen(script.c_str(), "w");
  std::fprintf(file,
               "use XBase; use Time::HiRes qw(time);\n"
               "my $t = XBase->new(name => $ARGV[0]) or die XBase->errstr; my $mode = $ARGV[1];\n"
               "my $start = time; my $count = 0; my $last = $t->last_record;\n"
               "for my $n (0 .. $last) { my ($deleted, @v) = $t->get_record($n); next if $deleted;\n"
               "  if ($mode eq 'scan') { $count++ } elsif ($mode eq 'filter') { $count++ if $v[2] > %g }\n"
               "  elsif ($v[0] == %u) { $count = $n + 1; last } }\n"
               "my $elapsed = time - $start; open(my $s, '<', '/proc/self/status'); my ($hwm) = map { /VmHWM:\\s+(\\d+)/ ? $1 : () } <$s>;\n"
               "printf \"%%.6f %%d %%d\\n\", $elapsed, $count, $hwm;\n",
               amountBound, lookupId);
  std::fclose(file);
  std::string command = "perl " + script + " " + table + " " + mode;
  FILE* pipe = popen(command.c_str(), "r");
  double elapsed = -1;
  unsigned long long count = 0;
  if (pipe && std::fscanf(pipe, "%lf %llu %ld", &elapsed, &count, peak) != 3) elapsed = -1;
  if (pipe) pclose(pipe);
  *result = count;
  return elapsed;
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t records = argc > 1 ? uint32_t(std::strtoul(argv[1], nullptr, 10)) : 1000000;
  const char* tmp = getenv("TMPDIR");
  std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/kvbench_dbf";
  std::string command = "mkdir -p " + dir;
  if (std::system(command.c_str()) != 0) return 1;
  std::string table = dir + "/bench.dbf";
  writeTable(table, records);
  std::printf("%u records of 57 bytes in %s\n", records, table.c_str());
  std::printf("%-8s %12s %12s %10s %12s %12s %8s\n", "case", "driver s", "driver MB", "rows", "XBase s", "XBase MB",
              "XBase/us");
  for (const char* mode : {"scan", "filter", "lookup"}) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return 1;
    pid_t child = fork();
    if (child == 0) {
      uint64_t result = 0;
      double elapsed = runDriver(dir, table, mode, &result);
      char line[128];
      int n = std::snprintf(line, sizeof(line), "%.6f %llu %ld\n", elapsed, (unsigned long long)result, peakKb());
      if (write(pipeFds[1], line, size_t(n)) != n) _exit(1);
      _exit(0);
    }
    close(pipeFds[1]);
    char line[128] = {0};
    ssize_t got = read(pipeFds[0], line, sizeof(line) - 1);
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    double driverSeconds = 0;
    unsigned long long driverRows = 0;
    long driverPeak = 0;
    if (got <= 0 || std::sscanf(line, "%lf %llu %ld", &driverSeconds, &driverRows, &driverPeak) != 3) return 1;
    uint64_t xbaseRows = 0;
    long xbasePeak = 0;
    double xbaseSeconds = runXBase(table, mode, &xbaseRows, &xbasePeak);
    std::printf("%-8s %12.3f %12.1f %10llu %12.3f %12.1f %8.1f%s\n", mode, driverSeconds, driverPeak / 1024.0,
                driverRows, xbaseSeconds, xbasePeak / 1024.0, xbaseSeconds > 0 ? xbaseSeconds / driverSeconds : 0.0,
                xbaseSeconds > 0 && xbaseRows != driverRows ? "  (row counts differ!)" : "");
  }
  std::remove(table.c_str());
  return 0;
}
