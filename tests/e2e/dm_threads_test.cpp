// Threads through the real unixODBC Driver Manager, on the test file driver
// and the dBASE driver: many threads on one connection, each with its own
// statements (allocated, executed, fetched and freed in loops, reading and
// writing); a second thread on a statement that another thread's call holds
// (S1010); SQLDriverConnect from many threads through one environment; and
// SQLCancel from a second thread stopping a long join (S1008), its scratch
// files gone. Every wait is on a condition, never on a time that decides the
// outcome.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// One configuration per process (unixODBC reads it once): the test file
// driver's data source "Files" and the dBASE driver's "Tables", each over a
// data directory of its own, and a private $TMPDIR for the drivers' scratch
// files.
struct ThreadsConfiguration {
  ThreadsConfiguration() {
    char pattern[] = "/tmp/kve2ethreadsXXXXXX";
    const char* made = mkdtemp(pattern);
    dir = made ? made : "";
    tmp = dir + "/tmp";
    std::filesystem::create_directories(tmp);
    for (const char* name : {"files", "tables"}) std::filesystem::create_directories(dir + "/" + name);
    std::ofstream(dir + "/odbcinst.ini") << "[KvFlatTest]\nDriver=" KV_FLATTEST_DRIVER "\n\n[KvDbase]\nDriver=" KV_DBASE_DRIVER
                                         << "\n";
    std::ofstream(dir + "/odbc.ini") << "[Files]\nDriver=KvFlatTest\nDatabase=" << dir << "/files\n\n[Tables]\nDriver=KvDbase\nDatabase="
                                     << dir << "/tables\n";
    std::ofstream(dir + "/user.ini") << "";
    setenv("ODBCSYSINI", dir.c_str(), 1);
    setenv("ODBCINI", (dir + "/user.ini").c_str(), 1);
    setenv("TMPDIR", tmp.c_str(), 1);
  }
  ~ThreadsConfiguration() {
    std::error_code ignored;
    if (!dir.empty()) std::filesystem::remove_all(dir, ignored);
  }
  std::string dir, tmp;
};

const ThreadsConfiguration& configuration() {
  static ThreadsConfiguration shared;
  return shared;
}

// Names in a directory.
std::vector<std::string> listing(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) names.push_back(entry.path().filename());
  return names;
}

// Descriptors of this process open on files in directory (named or not).
std::vector<std::string> openFilesIn(const std::string& directory) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    char target[4096];
    const ssize_t length = readlink(entry.path().c_str(), target, sizeof(target) - 1);
    if (length <= 0) continue;
    target[length] = 0;
    if (std::strncmp(target, (directory + "/").c_str(), directory.size() + 1) == 0) found.push_back(target);
  }
  return found;
}

// "STATE message" of a handle's first diagnostic, or "" when there is none.
std::string diagnostic(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt) {
  SQLCHAR state[6] = {0}, message[512] = {0};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  if (!SQL_SUCCEEDED(SQLError(env, dbc, stmt, state, &native, message, sizeof(message), &length))) return "";
  return std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(message);
}

// Failures seen by worker threads, reported by the test's thread.
class Failures {
 public:
  void add(const std::string& what) {
    std::lock_guard<std::mutex> guard(lock_);
    if (list_.size() < 20) list_.push_back(what);
    ++count_;
  }
  std::string text() const {
    std::string all;
    for (const std::string& one : list_) all += one + "\n";
    return all;
  }
  int count() const { return count_; }

 private:
  std::mutex lock_;
  std::vector<std::string> list_;
  int count_ = 0;
};

class ThreadsTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    const std::string data = configuration().dir + (dsn() == std::string("Files") ? "/files" : "/tables");
    for (const auto& entry : std::filesystem::directory_iterator(data)) std::filesystem::remove_all(entry.path());
    ASSERT_EQ(SQLAllocEnv(&env_), SQL_SUCCESS);
    ASSERT_TRUE(SQL_SUCCEEDED(connect(&dbc_)));
  }
  void TearDown() override {
    if (dbc_) {
      SQLDisconnect(dbc_);
      SQLFreeConnect(dbc_);
    }
    if (env_) SQLFreeEnv(env_);
  }

  const char* dsn() const { return GetParam(); }
  SQLRETURN connect(SQLHDBC* dbc) {
    SQLRETURN rc = SQLAllocConnect(env_, dbc);
    if (rc != SQL_SUCCESS) return rc;
    const std::string in = std::string("DSN=") + dsn();
    SQLCHAR out[512];
    SQLSMALLINT outLength = 0;
    return SQLDriverConnect(*dbc, nullptr, (SQLCHAR*)in.c_str(), SQL_NTS, out, sizeof(out), &outLength,
                            SQL_DRIVER_NOPROMPT);
  }
  // Runs sql on a fresh statement of dbc_; "" on success, else the failure.
  std::string run(const std::string& sql) {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (SQLAllocStmt(dbc_, &stmt) != SQL_SUCCESS) return "SQLAllocStmt: " + diagnostic(env_, dbc_, nullptr);
    std::string failure;
    if (!SQL_SUCCEEDED(SQLExecDirect(stmt, (SQLCHAR*)sql.c_str(), SQL_NTS)))
      failure = sql + ": " + diagnostic(env_, dbc_, stmt);
    SQLFreeStmt(stmt, SQL_DROP);
    return failure;
  }
  // The single integer a query answers, -1 on a failure.
  long count(const std::string& sql) {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (SQLAllocStmt(dbc_, &stmt) != SQL_SUCCESS) return -1;
    SQLINTEGER value = -1;
    SQLLEN indicator = 0;
    if (!SQL_SUCCEEDED(SQLExecDirect(stmt, (SQLCHAR*)sql.c_str(), SQL_NTS)) || SQLFetch(stmt) != SQL_SUCCESS ||
        !SQL_SUCCEEDED(SQLGetData(stmt, 1, SQL_C_LONG, &value, 0, &indicator)))
      value = -1;
    SQLFreeStmt(stmt, SQL_DROP);
    return value;
  }
  // Table name (ID NUMERIC(10,0), NAME CHAR(10)) with rows 1 .. rows, "N1"
  // ...: on the test file driver made by CREATE TABLE and inserted in one
  // transaction; for the dBASE driver, which makes no tables, written as a
  // dBASE III file.
  void makeTable(const char* name, int rows) {
    if (dsn() != std::string("Files")) {
      writeDbf(configuration().dir + "/tables/" + name + ".dbf", rows);
      return;
    }
    ASSERT_EQ(run(std::string("CREATE TABLE ") + name + " (ID NUMERIC(10,0), NAME CHAR(10))"), "");
    ASSERT_EQ(SQLSetConnectOption(dbc_, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    ASSERT_EQ(SQLAllocStmt(dbc_, &stmt), SQL_SUCCESS);
    const std::string insert = std::string("INSERT INTO ") + name + " VALUES (?, ?)";
    ASSERT_EQ(SQLPrepare(stmt, (SQLCHAR*)insert.c_str(), SQL_NTS), SQL_SUCCESS);
    SQLINTEGER id = 0;
    char text[16];
    SQLLEN textLength = SQL_NTS;
    ASSERT_EQ(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &id, 0, nullptr), SQL_SUCCESS);
    ASSERT_EQ(SQLBindParameter(stmt, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_CHAR, 10, 0, text, sizeof(text), &textLength),
              SQL_SUCCESS);
    for (id = 1; id <= rows; ++id) {
      std::snprintf(text, sizeof(text), "N%d", int(id));
      ASSERT_TRUE(SQL_SUCCEEDED(SQLExecute(stmt))) << diagnostic(env_, dbc_, stmt);
    }
    SQLFreeStmt(stmt, SQL_DROP);
    ASSERT_EQ(SQLTransact(env_, dbc_, SQL_COMMIT), SQL_SUCCESS) << diagnostic(env_, dbc_, nullptr);
    ASSERT_EQ(SQLSetConnectOption(dbc_, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_ON), SQL_SUCCESS);
  }
  // A dBASE III table of ID N(10,0) and NAME C(10) with rows 1 .. rows.
  static void writeDbf(const std::string& path, int rows) {
    std::string file(32, '\0');
    file[0] = 0x03;
    file[1] = 126, file[2] = 1, file[3] = 1;
    for (int i = 0; i < 4; ++i) file[4 + i] = char((uint32_t(rows) >> (8 * i)) & 0xFF);
    const int headerBytes = 32 + 2 * 32 + 1, recordBytes = 1 + 10 + 10;
    file[8] = char(headerBytes & 0xFF), file[9] = char(headerBytes >> 8);
    file[10] = char(recordBytes), file[11] = 0;
    for (const char* field : {"ID\0N", "NAME\0C"}) {
      std::string descriptor(32, '\0');
      const size_t nameLength = std::strlen(field);
      descriptor.replace(0, nameLength, field, nameLength);
      descriptor[11] = field[nameLength + 1];
      descriptor[16] = 10;
      file += descriptor;
    }
    file += '\r';
    for (int id = 1; id <= rows; ++id) {
      char record[32];
      std::snprintf(record, sizeof(record), " %10d%-10s", id, ("N" + std::to_string(id)).c_str());
      file += record;
    }
    file += '\x1A';
    std::ofstream(path, std::ios::binary) << file;
  }

  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
};

// Eight threads on one connection, each allocating, executing, fetching and
// freeing its own statements in a loop: reads of a shared table, inserts
// into another, and a cursor name of its own. Every call succeeds, every
// read sees the whole table and no insert is lost.
TEST_P(ThreadsTest, ManyThreadsShareOneConnection) {
  makeTable("T", 40);
  makeTable("U", 0);
  const int threads = 8, rounds = 25;
  Failures failures;
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      for (int round = 0; round < rounds; ++round) {
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        if (SQLAllocStmt(dbc_, &stmt) != SQL_SUCCESS) {
          failures.add("SQLAllocStmt: " + diagnostic(env_, dbc_, nullptr));
          continue;
        }
        const std::string insert = "INSERT INTO U VALUES (" + std::to_string(t * 1000 + round) + ", 'w')";
        if (SQLExecDirect(stmt, (SQLCHAR*)insert.c_str(), SQL_NTS) != SQL_SUCCESS)
          failures.add("INSERT: " + diagnostic(env_, dbc_, stmt));
        if (SQLExecDirect(stmt, (SQLCHAR*)"SELECT ID, NAME FROM T ORDER BY ID", SQL_NTS) != SQL_SUCCESS) {
          failures.add("SELECT: " + diagnostic(env_, dbc_, stmt));
        } else {
          // The generated name is unique among the connection's statements.
          SQLCHAR cursor[32];
          SQLSMALLINT cursorLength = 0;
          if (SQLGetCursorName(stmt, cursor, sizeof(cursor), &cursorLength) != SQL_SUCCESS)
            failures.add("SQLGetCursorName: " + diagnostic(env_, dbc_, stmt));
          int rows = 0;
          SQLRETURN rc;
          while ((rc = SQLFetch(stmt)) == SQL_SUCCESS) {
            SQLINTEGER id = 0;
            SQLLEN indicator = 0;
            if (SQLGetData(stmt, 1, SQL_C_LONG, &id, 0, &indicator) != SQL_SUCCESS || id != rows + 1)
              failures.add("row " + std::to_string(rows + 1) + ": " + diagnostic(env_, dbc_, stmt));
            ++rows;
          }
          if (rc != SQL_NO_DATA_FOUND) failures.add("SQLFetch: " + diagnostic(env_, dbc_, stmt));
          if (rows != 40) failures.add("rows read: " + std::to_string(rows));
        }
        if (SQLFreeStmt(stmt, SQL_DROP) != SQL_SUCCESS) failures.add("SQLFreeStmt: " + diagnostic(env_, dbc_, stmt));
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(failures.count(), 0) << failures.text();
  EXPECT_EQ(count("SELECT COUNT(*) FROM U"), threads * rounds);
}

// Many threads connect through one environment at once (as pyodbc and
// connection pools do), each using its connection and letting it go.
TEST_P(ThreadsTest, ThreadsConnectThroughOneEnvironment) {
  makeTable("T", 5);
  const int threads = 8, rounds = 10;
  Failures failures;
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&] {
      for (int round = 0; round < rounds; ++round) {
        SQLHDBC dbc = SQL_NULL_HDBC;
        const SQLRETURN rc = connect(&dbc);
        if (!SQL_SUCCEEDED(rc)) {
          failures.add("connect " + std::to_string(rc) + ": " + diagnostic(env_, dbc, nullptr));
        } else {
          SQLHSTMT stmt = SQL_NULL_HSTMT;
          SQLINTEGER value = -1;
          SQLLEN indicator = 0;
          if (SQLAllocStmt(dbc, &stmt) != SQL_SUCCESS ||
              SQLExecDirect(stmt, (SQLCHAR*)"SELECT COUNT(*) FROM T", SQL_NTS) != SQL_SUCCESS ||
              SQLFetch(stmt) != SQL_SUCCESS || SQLGetData(stmt, 1, SQL_C_LONG, &value, 0, &indicator) != SQL_SUCCESS ||
              value != 5)
            failures.add("count " + std::to_string(value) + ": " + diagnostic(env_, dbc, stmt));
          if (stmt) SQLFreeStmt(stmt, SQL_DROP);
          if (SQLDisconnect(dbc) != SQL_SUCCESS) failures.add("disconnect: " + diagnostic(env_, dbc, nullptr));
        }
        if (dbc) SQLFreeConnect(dbc);
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(failures.count(), 0) << failures.text();
}

// A long join runs on one thread (its first fetch, whose sort spills to
// scratch files); a second thread calling on that same statement is refused
// with S1010 and leaves it running; SQLCancel from the second thread stops
// it within a short time with S1008, and the scratch files are gone, from
// the directory and from the process. The second thread calls on the
// statement only while the first is inside the driver: the Driver Manager
// keeps no lock of its own on a statement's diagnostics.
TEST_P(ThreadsTest, CancelFromAnotherThreadStopsALongJoin) {
  makeTable("T", 2500);
  const std::string tmp = configuration().tmp;
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  ASSERT_EQ(SQLAllocStmt(dbc_, &stmt), SQL_SUCCESS);
  ASSERT_EQ(SQLExecDirect(stmt, (SQLCHAR*)"SELECT A.ID, B.NAME FROM T A, T B ORDER BY B.NAME, A.ID", SQL_NTS),
            SQL_SUCCESS)
      << diagnostic(env_, dbc_, stmt);
  const size_t before = openFilesIn(tmp).size();
  std::atomic<bool> done{false};
  SQLRETURN result = SQL_SUCCESS;
  std::string state;
  std::chrono::steady_clock::time_point ended;
  std::thread runner([&] {
    result = SQLFetch(stmt);
    ended = std::chrono::steady_clock::now();
    state = result == SQL_ERROR ? diagnostic(env_, dbc_, stmt) : "";
    done = true;
  });
  // The sort runs once it holds a scratch file of its own.
  while (!done && openFilesIn(tmp).size() <= before) std::this_thread::yield();
  const bool seenRunning = !done;
  std::string refusal = "none";
  SQLRETURN cancelled = SQL_ERROR;
  bool namesGone = false;
  std::chrono::steady_clock::time_point asked;
  if (seenRunning) {
    SQLULEN maxRows = 0;
    if (SQLGetStmtOption(stmt, SQL_MAX_ROWS, &maxRows) == SQL_ERROR) refusal = diagnostic(env_, dbc_, stmt);
    namesGone = listing(tmp).empty();
    asked = std::chrono::steady_clock::now();
    cancelled = SQLCancel(stmt);
  }
  runner.join();
  ASSERT_TRUE(seenRunning) << "the join ended before it was seen sorting: " << result << " " << state;
  EXPECT_EQ(refusal.substr(0, 5), "S1010") << refusal;
  EXPECT_TRUE(namesGone) << "scratch files have no name, even while in use";
  EXPECT_EQ(cancelled, SQL_SUCCESS);
  EXPECT_EQ(result, SQL_ERROR);
  EXPECT_EQ(state.substr(0, 5), "S1008") << state;
  EXPECT_LT(std::chrono::duration_cast<std::chrono::seconds>(ended - asked).count(), 20);
  EXPECT_TRUE(listing(tmp).empty());
  EXPECT_EQ(openFilesIn(tmp).size(), before) << "the cancelled statement's scratch files are closed";
  // The statement serves the next query.
  SQLFreeStmt(stmt, SQL_CLOSE);
  EXPECT_EQ(SQLExecDirect(stmt, (SQLCHAR*)"SELECT COUNT(*) FROM T", SQL_NTS), SQL_SUCCESS)
      << diagnostic(env_, dbc_, stmt);
  SQLFreeStmt(stmt, SQL_DROP);
}

INSTANTIATE_TEST_SUITE_P(Drivers, ThreadsTest, ::testing::Values("Files", "Tables"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param) == "Files" ? "TestFileDriver" : "DbaseDriver";
                         });

}  // namespace
