// A benchmark client: runs one SQL text through the unixODBC Driver Manager on
// any connection string and prints one line that a script can read:
//
//   rows=<count> checksum=<16 hex digits> seconds=<time>
//
// Query mode binds every result column (integers as SQL_C_SLONG, other
// numbers as SQL_C_DOUBLE, everything else as SQL_C_CHAR), fetches with a
// rowset through SQLExtendedFetch (SQL_ROWSET_SIZE, 100 by default) and sums
// a hash of each row. The sum does not depend on the row order and the hash
// is taken over a canonical text of each value (trailing blanks dropped; a
// number, bound as one or as text, written with four decimals and without
// them when they are all zero), so the same rows give the same checksum
// whichever driver delivers them and whatever type it reports.
//
// Insert mode (--insert N) prepares an INSERT with four parameters and runs it
// N times in one transaction, with the rows of the benchmark table (the row
// function below, mirrored by bench/bench_table.py) numbered from --start.
//
// The time covers prepare, execute and fetch (and the commit in insert mode),
// not the connect. The best of --repeat runs is printed.
//
// Usage: odbc_bench [--rowset N] [--repeat R] [--insert N [--start ID]]
//                   CONNECTION-STRING SQL
// Exit status: 0 done, 1 the driver refused (its diagnostics on stderr),
// 2 bad usage.
#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Options {
  SQLULEN rowsetSize = 100;
  int repeat = 1;
  long inserts = -1;  // -1: query mode
  long startId = 1;
  std::string connection;
  std::string sql;
};

double now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

// Prints every diagnostic of the handles to stderr, after what failed.
void report(const char* what, SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt) {
  std::fprintf(stderr, "%s failed\n", what);
  for (int i = 0; i < 20; ++i) {
    SQLCHAR state[6] = {0}, text[1024] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLError(env, dbc, stmt, state, &native, text, sizeof text, &length);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
    std::fprintf(stderr, "%s (%d) %s\n", reinterpret_cast<char*>(state), int(native), reinterpret_cast<char*>(text));
  }
}

bool ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// ---- the checksum

const uint64_t fnvOffset = 14695981039346656037ull;
const uint64_t fnvPrime = 1099511628211ull;

uint64_t fnv(uint64_t hash, const char* bytes, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    hash ^= static_cast<unsigned char>(bytes[i]);
    hash *= fnvPrime;
  }
  return hash;
}

// The canonical text of a number: four decimals (enough for the table's two
// and for sums and averages of them), without ".0000" for whole values, so a
// sum that one driver hands over as a double and another as rounded text
// reads the same.
std::string numberText(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.4f", value);
  std::string canonical = text;
  if (canonical.size() > 5 && canonical.compare(canonical.size() - 5, 5, ".0000") == 0) {
    canonical.resize(canonical.size() - 5);
  }
  if (canonical == "-0") canonical = "0";
  return canonical;
}

// Text without its trailing blanks; a text that is a whole number is
// canonicalized as the number, since drivers differ in the type they report
// for computed columns.
std::string textValue(const char* text, size_t length) {
  while (length > 0 && text[length - 1] == ' ') --length;
  std::string value(text, length);
  if (!value.empty() && value.size() < 40) {
    char* end = nullptr;
    double number = std::strtod(value.c_str(), &end);
    if (end == value.c_str() + value.size() && std::isfinite(number)) return numberText(number);
  }
  return value;
}

// ---- query mode

enum class Bound { integer, number, text };

struct Column {
  Bound kind = Bound::text;
  SQLLEN width = 0;  // bytes of one value in the buffer
  std::vector<char> values;
  std::vector<SQLLEN> indicators;
};

Bound boundAs(SQLSMALLINT sqlType) {
  switch (sqlType) {
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_TINYINT:
    case SQL_BIT:
      return Bound::integer;
    case SQL_DOUBLE:
    case SQL_FLOAT:
    case SQL_REAL:
    case SQL_NUMERIC:
    case SQL_DECIMAL:
    case SQL_BIGINT:
      return Bound::number;
    default:
      return Bound::text;
  }
}

uint64_t rowHash(const std::vector<Column>& columns, SQLULEN row) {
  uint64_t hash = fnvOffset;
  for (const Column& column : columns) {
    const SQLLEN indicator = column.indicators[row];
    const char* value = column.values.data() + row * column.width;
    std::string text;
    if (indicator == SQL_NULL_DATA) {
      text = std::string("\0N", 2);
    } else if (column.kind == Bound::integer) {
      int32_t number;
      std::memcpy(&number, value, sizeof number);
      text = numberText(number);
    } else if (column.kind == Bound::number) {
      double number;
      std::memcpy(&number, value, sizeof number);
      text = numberText(number);
    } else {
      // A value longer than the buffer was cut by the driver; hash what came.
      size_t length = indicator < 0 || indicator >= column.width ? std::strlen(value) : size_t(indicator);
      text = textValue(value, length);
    }
    hash = fnv(hash, text.data(), text.size());
    hash = fnv(hash, "\x1f", 1);
  }
  return hash;
}

bool runQuery(SQLHENV env, SQLHDBC dbc, const Options& options, uint64_t* rows, uint64_t* checksum) {
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  if (!ok(SQLAllocStmt(dbc, &stmt))) {
    report("SQLAllocStmt", env, dbc, SQL_NULL_HSTMT);
    return false;
  }
  bool done = false;
  std::vector<Column> columns;
  std::vector<SQLUSMALLINT> status(options.rowsetSize);
  SQLSMALLINT count = 0;
  SQLULEN fetched = 0;
  SQLRETURN rc;
  *rows = 0;
  *checksum = 0;
  if (!ok(SQLSetStmtOption(stmt, SQL_ROWSET_SIZE, options.rowsetSize))) {
    report("SQLSetStmtOption(SQL_ROWSET_SIZE)", env, dbc, stmt);
    goto out;
  }
  if (!ok(SQLExecDirect(stmt, (SQLCHAR*)options.sql.c_str(), SQL_NTS))) {
    report("SQLExecDirect", env, dbc, stmt);
    goto out;
  }
  if (!ok(SQLNumResultCols(stmt, &count))) {
    report("SQLNumResultCols", env, dbc, stmt);
    goto out;
  }
  columns.resize(count);
  for (SQLUSMALLINT i = 1; i <= SQLUSMALLINT(count); ++i) {
    SQLCHAR name[256];
    SQLSMALLINT nameLength = 0, sqlType = 0, scale = 0, nullable = 0;
    SQLULEN precision = 0;
    if (!ok(SQLDescribeCol(stmt, i, name, sizeof name, &nameLength, &sqlType, &precision, &scale, &nullable))) {
      report("SQLDescribeCol", env, dbc, stmt);
      goto out;
    }
    Column& column = columns[i - 1];
    column.kind = boundAs(sqlType);
    SQLSMALLINT cType = SQL_C_CHAR;
    if (column.kind == Bound::integer) {
      column.width = sizeof(int32_t);
      cType = SQL_C_SLONG;
    } else if (column.kind == Bound::number) {
      column.width = sizeof(double);
      cType = SQL_C_DOUBLE;
    } else {
      // Room for the digits of a number or date shown as text, and a bound
      // for long columns.
      column.width = SQLLEN(precision < 40 ? 41 : precision > 4096 ? 4097 : precision + 1);
    }
    column.values.assign(size_t(column.width) * options.rowsetSize, 0);
    column.indicators.assign(options.rowsetSize, 0);
    if (!ok(SQLBindCol(stmt, i, cType, column.values.data(), column.width, column.indicators.data()))) {
      report("SQLBindCol", env, dbc, stmt);
      goto out;
    }
  }
  while (count > 0) {
    rc = SQLExtendedFetch(stmt, SQL_FETCH_NEXT, 0, &fetched, status.data());
    if (rc == SQL_NO_DATA_FOUND) break;
    if (!ok(rc)) {
      report("SQLExtendedFetch", env, dbc, stmt);
      goto out;
    }
    // A rowset of no rows that is not the end would make this loop forever.
    if (fetched == 0 || fetched > options.rowsetSize) {
      std::fprintf(stderr, "SQLExtendedFetch returned %d with %lu rows after %" PRIu64 " rows\n", int(rc),
                   static_cast<unsigned long>(fetched), *rows);
      if (rc == SQL_SUCCESS_WITH_INFO) report("the warning of SQLExtendedFetch", env, dbc, stmt);
      goto out;
    }
    for (SQLULEN row = 0; row < fetched; ++row) {
      if (status[row] == SQL_ROW_ERROR || status[row] == SQL_ROW_DELETED || status[row] == SQL_ROW_NOROW) continue;
      *checksum += rowHash(columns, row);
      ++*rows;
    }
  }
  done = true;
out:
  SQLFreeStmt(stmt, SQL_DROP);
  return done;
}

// ---- insert mode

// Row id of the benchmark table; bench/bench_table.py computes the same.
struct BenchRow {
  int32_t id;
  int32_t grp;
  double amount;
  char name[21];
};

BenchRow benchRow(uint32_t id) {
  BenchRow row;
  const uint32_t mixed = id * 2654435761u;
  row.id = int32_t(id);
  row.grp = int32_t((mixed >> 12) % 1000u);
  row.amount = double(mixed % 1000000u) / 100.0;
  std::snprintf(row.name, sizeof row.name, "NAME%08u", (id * 40503u + 17u) % 100000000u);
  return row;
}

bool runInserts(SQLHENV env, SQLHDBC dbc, const Options& options, uint64_t* rows, uint64_t* checksum) {
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  if (!ok(SQLAllocStmt(dbc, &stmt))) {
    report("SQLAllocStmt", env, dbc, SQL_NULL_HSTMT);
    return false;
  }
  bool done = false;
  BenchRow row{};
  SQLLEN nameLength = SQL_NTS;
  *rows = 0;
  *checksum = 0;
  if (!ok(SQLPrepare(stmt, (SQLCHAR*)options.sql.c_str(), SQL_NTS))) {
    report("SQLPrepare", env, dbc, stmt);
    goto out;
  }
  if (!ok(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &row.id, 0, nullptr)) ||
      !ok(SQLBindParameter(stmt, 2, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &row.grp, 0, nullptr)) ||
      !ok(SQLBindParameter(stmt, 3, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 15, 0, &row.amount, 0, nullptr)) ||
      !ok(SQLBindParameter(stmt, 4, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_CHAR, 20, 0, row.name, sizeof row.name,
                           &nameLength))) {
    report("SQLBindParameter", env, dbc, stmt);
    goto out;
  }
  for (long i = 0; i < options.inserts; ++i) {
    row = benchRow(uint32_t(options.startId + i));
    if (!ok(SQLExecute(stmt))) {
      report("SQLExecute", env, dbc, stmt);
      goto out;
    }
    ++*rows;
    uint64_t hash = fnvOffset;
    for (const std::string& text : {numberText(row.id), numberText(row.grp), numberText(row.amount),
                                    textValue(row.name, std::strlen(row.name))}) {
      hash = fnv(hash, text.data(), text.size());
      hash = fnv(hash, "\x1f", 1);
    }
    *checksum += hash;
  }
  if (!ok(SQLTransact(env, dbc, SQL_COMMIT))) {
    report("SQLTransact(SQL_COMMIT)", env, dbc, SQL_NULL_HSTMT);
    goto out;
  }
  done = true;
out:
  if (!done) (void)SQLTransact(env, dbc, SQL_ROLLBACK);
  SQLFreeStmt(stmt, SQL_DROP);
  return done;
}

bool parseCount(const char* text, long low, long high, long* value) {
  char* end = nullptr;
  long parsed = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || parsed < low || parsed > high) return false;
  *value = parsed;
  return true;
}

int usage() {
  std::fprintf(stderr,
               "usage: odbc_bench [--rowset N] [--repeat R] [--insert N [--start ID]] CONNECTION-STRING SQL\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  int arg = 1;
  for (; arg + 1 < argc && std::strncmp(argv[arg], "--", 2) == 0; arg += 2) {
    long value = 0;
    const std::string flag = argv[arg];
    if (flag == "--rowset" && parseCount(argv[arg + 1], 1, 100000, &value)) {
      options.rowsetSize = SQLULEN(value);
    } else if (flag == "--repeat" && parseCount(argv[arg + 1], 1, 1000, &value)) {
      options.repeat = int(value);
    } else if (flag == "--insert" && parseCount(argv[arg + 1], 0, 100000000, &value)) {
      options.inserts = value;
    } else if (flag == "--start" && parseCount(argv[arg + 1], 1, 2000000000, &value)) {
      options.startId = value;
    } else {
      return usage();
    }
  }
  if (argc - arg != 2) return usage();
  options.connection = argv[arg];
  options.sql = argv[arg + 1];
  if (options.inserts >= 0 && options.startId + options.inserts > 2147483647L) return usage();

  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  if (!ok(SQLAllocEnv(&env)) || !ok(SQLAllocConnect(env, &dbc))) {
    std::fprintf(stderr, "cannot allocate ODBC handles\n");
    return 1;
  }
  SQLCHAR out[1024];
  SQLSMALLINT outLength = 0;
  if (!ok(SQLDriverConnect(dbc, nullptr, (SQLCHAR*)options.connection.c_str(), SQL_NTS, out, sizeof out, &outLength,
                           SQL_DRIVER_NOPROMPT))) {
    report("SQLDriverConnect", env, dbc, SQL_NULL_HSTMT);
    SQLFreeConnect(dbc);
    SQLFreeEnv(env);
    return 1;
  }
  int status = 0;
  if (options.inserts >= 0 && !ok(SQLSetConnectOption(dbc, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF))) {
    report("SQLSetConnectOption(SQL_AUTOCOMMIT)", env, dbc, SQL_NULL_HSTMT);
    status = 1;
  }
  double best = -1;
  uint64_t rows = 0, checksum = 0;
  for (int run = 0; run < options.repeat && status == 0; ++run) {
    // Each insert run adds its own rows after the last run's.
    Options thisRun = options;
    if (options.inserts > 0) thisRun.startId = options.startId + run * options.inserts;
    const double start = now();
    const bool done = options.inserts >= 0 ? runInserts(env, dbc, thisRun, &rows, &checksum)
                                           : runQuery(env, dbc, thisRun, &rows, &checksum);
    const double seconds = now() - start;
    if (!done) status = 1;
    if (best < 0 || seconds < best) best = seconds;
  }
  if (status == 0) std::printf("rows=%" PRIu64 " checksum=%016" PRIx64 " seconds=%.6f\n", rows, checksum, best);
  SQLDisconnect(dbc);
  SQLFreeConnect(dbc);
  SQLFreeEnv(env);
  return status;
}
