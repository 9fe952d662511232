// Result columns and fetching through a driver of n rows: bindings of
// fixed-size C types, SQLExtendedFetch's moves and row statuses, SQLGetData
// in pieces and its order rules, and C types outside ODBC 2.
#include "tests/base/stmt_test_support.h"

#include "base/results/base_field.h"
#include "base/handles/base_out_string.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// Row r: 1 INTEGER r, 2 CHAR(10) "ABCDEFGHIJ", 3 LONGVARCHAR of 300
// characters, 4 DOUBLE 1.5. Row failRow fails in getData of column 1.
class FetchStatement : public StmtStatement {
 public:
  explicit FetchStatement(BaseConnection* connection) : StmtStatement(connection) {}
  KvStatus prepareCompile(BaseSqlString*) override {
    deleteFields();
    static const struct { const char* name; int16_t type; uint32_t precision; } columns[] = {
        {"N", SQL_INTEGER, 10}, {"CODE", SQL_CHAR, 10}, {"NOTES", SQL_LONGVARCHAR, 1000}, {"D", SQL_DOUBLE, 15}};
    if (allocArrays(4, arrayFields) != kvSuccess) return kvFailure;
    for (uint16_t i = 0; i < 4; ++i) {
      fields_[i] = allocFld();
      EXPECT_EQ(fields_[i]->setText(&fields_[i]->name, kvU(columns[i].name)), kvSuccess);
      fields_[i]->sqlType = columns[i].type;
      fields_[i]->precision = columns[i].precision;
    }
    fieldCount_ = 4;
    return kvSuccess;
  }
  KvStatus fetchRow(uint16_t* endOfData) override {
    if (pauseOnce()) return kvSuccess;
    *endOfData = current >= rowCount;
    if (!*endOfData) ++current;
    return kvSuccess;
  }
  KvStatus fetchRandomRow(uint32_t row, uint16_t* status) override {
    if (pauseOnce()) return kvSuccess;
    ++probes;
    *status = row >= 1 && row <= rowCount ? SQL_ROW_SUCCESS : SQL_ROW_NOROW;
    if (*status == SQL_ROW_SUCCESS) current = row;
    if (row == deletedRow) *status = SQL_ROW_DELETED;
    return kvSuccess;
  }
  KvStatus getData(uint16_t column, int16_t cType, BaseOutString* out) override {
    const std::string notes(300, 'x');
    switch (column) {
      case 1: {
        if (current == failRow) {
          addOdbcError(stateGeneral);
          return kvFailure;
        }
        const int32_t n = int32_t(current);
        return convertInternalToC(1, cType, out, &n, 4, itSLong);
      }
      case 2: return convertInternalToC(2, cType, out, code, int32_t(std::strlen(code)), itChar);
      case 3: return convertInternalToCHuge(3, cType, out, notes.data(), 300, itChar);
      default: {
        const double d = 1.5;
        return convertInternalToC(4, cType, out, &d, 8, itDouble);
      }
    }
  }
  // Attribute 1500 is the driver's own; any other goes to the base.
  KvStatus nonStdColAttributes(uint16_t column, uint16_t attribute, BaseOutString* out, SQLLEN* number) override {
    if (attribute != 1500) return BaseStatement::nonStdColAttributes(column, attribute, out, number);
    *number = 77;
    return kvSuccess;
  }

  // An asynchronous driver: the requests (fetchRow and fetchRandomRow
  // calls, counted from 1) listed in pauseCalls leave the operation
  // unfinished (flagAsync) without moving; the request made again finishes
  // it.
  bool pauseOnce() {
    flags_ &= ~uint32_t(flagAsync);
    ++requests;
    for (uint32_t call : pauseCalls) {
      if (call != requests) continue;
      flags_ |= flagAsync;
      ++pauses;
      return true;
    }
    return false;
  }

  uint32_t rowCount = 25;
  uint32_t current = 0;
  uint32_t failRow = 0;
  uint32_t deletedRow = 0;  // fetchRandomRow reports it deleted
  const char* code = "ABCDEFGHIJ";
  int probes = 0;
  std::vector<uint32_t> pauseCalls;
  uint32_t requests = 0;
  int pauses = 0;
};

class FetchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = new BaseEnv(1);
    connection_ = new StmtConnection(env_);
    connection_->scrollOptions = SQL_SO_FORWARD_ONLY | SQL_SO_STATIC;
    statement_ = new FetchStatement(connection_);
  }
  void TearDown() override {
    delete connection_;
    delete env_;
  }
  void open(SQLULEN cursorType = SQL_CURSOR_FORWARD_ONLY, SQLULEN rowset = 1) {
    ASSERT_EQ(statement_->SQLSetStmtOption(SQL_CURSOR_TYPE, cursorType), SQL_SUCCESS);
    ASSERT_EQ(statement_->SQLSetStmtOption(SQL_ROWSET_SIZE, rowset), SQL_SUCCESS);
    ASSERT_EQ(execDirect(statement_, "select n from t"), SQL_SUCCESS);
  }
  std::string state() { return firstState(statement_->getErrorList()); }

  BaseEnv* env_ = nullptr;
  StmtConnection* connection_ = nullptr;
  FetchStatement* statement_ = nullptr;
};

TEST_F(FetchTest, FixedSizeBindingsWriteTheirWholeValueAndIndicatorsAreSqllen) {
  open(SQL_CURSOR_FORWARD_ONLY, 3);
  // Column-wise arrays: SQL_C_LONG bound with size 0 still steps by 4 bytes,
  // the indicators by sizeof(SQLLEN).
  SQLINTEGER numbers[3] = {0, 0, 0};
  SQLLEN indicators[3] = {-9, -9, -9};
  ASSERT_EQ(statement_->SQLBindCol(1, SQL_C_LONG, numbers, 0, indicators), SQL_SUCCESS);
  SQLUSMALLINT statuses[3];
  EXPECT_EQ(statement_->SQLExtendedFetch(SQL_FETCH_NEXT, 0, nullptr, statuses), SQL_SUCCESS)
      << "a null rows-fetched pointer is allowed";
  EXPECT_EQ(std::vector<SQLINTEGER>(numbers, numbers + 3), (std::vector<SQLINTEGER>{1, 2, 3}));
  EXPECT_EQ(std::vector<SQLLEN>(indicators, indicators + 3), (std::vector<SQLLEN>{4, 4, 4}));

  // Unbinding the highest bound column lowers the highest to the next one.
  ASSERT_EQ(statement_->SQLBindCol(3, SQL_C_CHAR, nullptr, 0, nullptr), SQL_SUCCESS);
  char code[11];
  ASSERT_EQ(statement_->SQLBindCol(2, SQL_C_CHAR, code, sizeof(code), nullptr), SQL_SUCCESS);
  double d = 0;
  ASSERT_EQ(statement_->SQLBindCol(4, SQL_C_DOUBLE, &d, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(statement_->getHighestBoundColumn(), 4);
  ASSERT_EQ(statement_->SQLBindCol(4, SQL_C_DOUBLE, nullptr, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(statement_->getHighestBoundColumn(), 2);

  // C types: outside ODBC 2 either converted (SQL_C_SBIGINT) or refused.
  int64_t big = 0;
  EXPECT_EQ(statement_->SQLBindCol(1, SQL_C_SBIGINT, &big, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(statement_->SQLBindCol(1, 77, &big, 0, nullptr), SQL_ERROR);
  EXPECT_EQ(state(), "S1003");
}

TEST_F(FetchTest, ExtendedFetchMovesAndRowStatuses) {
  open(SQL_CURSOR_STATIC, 10);
  SQLINTEGER numbers[10];
  ASSERT_EQ(statement_->SQLBindCol(1, SQL_C_LONG, numbers, 0, nullptr), SQL_SUCCESS);
  struct Case {
    SQLUSMALLINT type;
    SQLLEN row;
    SQLRETURN rc;
    SQLULEN fetched;
    SQLINTEGER first;
  };
  const Case cases[] = {
      {SQL_FETCH_LAST, 0, SQL_SUCCESS, 10, 16},     // rows 16-25
      {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, 10, 6},
      {SQL_FETCH_RELATIVE, -8, SQL_SUCCESS, 10, 1}, // before row 1: to row 1
      {SQL_FETCH_ABSOLUTE, 23, SQL_SUCCESS, 3, 23}, // three rows, seven NOROW
      {SQL_FETCH_NEXT, 0, SQL_NO_DATA_FOUND, 0, 0}, // after the end
      {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, 10, 16},    // back from after the end
      {SQL_FETCH_ABSOLUTE, -25, SQL_SUCCESS, 10, 1},
      {SQL_FETCH_ABSOLUTE, 0, SQL_NO_DATA_FOUND, 0, 0},
      {SQL_FETCH_PRIOR, 0, SQL_NO_DATA_FOUND, 0, 0}, // still before the start
      {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 10, 1},
  };
  for (const Case& c : cases) {
    SQLULEN fetched = 99;
    SQLUSMALLINT statuses[10];
    numbers[0] = 0;
    EXPECT_EQ(statement_->SQLExtendedFetch(c.type, c.row, &fetched, statuses), c.rc) << c.type << " " << c.row;
    EXPECT_EQ(fetched, c.fetched) << c.type << " " << c.row;
    if (c.rc != SQL_SUCCESS) continue;
    EXPECT_EQ(numbers[0], c.first) << c.type << " " << c.row;
    for (SQLULEN i = 0; i < 10; ++i) EXPECT_EQ(statuses[i], i < c.fetched ? SQL_ROW_SUCCESS : SQL_ROW_NOROW);
  }
  // A keyset smaller than the rowset, and moves a forward-only cursor lacks.
  ASSERT_EQ(statement_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS);
  open(SQL_CURSOR_FORWARD_ONLY, 10);
  EXPECT_EQ(statement_->SQLExtendedFetch(SQL_FETCH_PRIOR, 0, nullptr, nullptr), SQL_ERROR);
  EXPECT_EQ(state(), "S1106");
}

TEST_F(FetchTest, AFailingRowIsAWarningAndStatusFive) {
  statement_->failRow = 2;
  open(SQL_CURSOR_FORWARD_ONLY, 4);
  SQLINTEGER numbers[4];
  ASSERT_EQ(statement_->SQLBindCol(1, SQL_C_LONG, numbers, 0, nullptr), SQL_SUCCESS);
  SQLUSMALLINT statuses[4];
  SQLULEN fetched = 0;
  EXPECT_EQ(statement_->SQLExtendedFetch(SQL_FETCH_NEXT, 0, &fetched, statuses), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(fetched, 4u);
  EXPECT_EQ(std::vector<SQLUSMALLINT>(statuses, statuses + 4),
            (std::vector<SQLUSMALLINT>{SQL_ROW_SUCCESS, SQL_ROW_ERROR, SQL_ROW_SUCCESS, SQL_ROW_SUCCESS}));
  EXPECT_EQ(nextDiagnostic(statement_->getErrorList()).state, "01S01");
  EXPECT_EQ(nextDiagnostic(statement_->getErrorList()).state, "S1000") << "the row's own error follows";
}

// With a rowset of one (SQLFetch as unixODBC maps it) a failing row leaves
// nothing that succeeded: the call fails with the row's own error, so the
// application reads the reason instead of a warning and a row it cannot
// read; the next fetch goes on after that row.
TEST_F(FetchTest, AFailingRowOfARowsetOfOneFailsTheCall) {
  statement_->failRow = 1;
  open(SQL_CURSOR_FORWARD_ONLY, 1);
  SQLINTEGER number = 0;
  ASSERT_EQ(statement_->SQLBindCol(1, SQL_C_LONG, &number, 0, nullptr), SQL_SUCCESS);
  SQLUSMALLINT status = 0;
  SQLULEN fetched = 0;
  EXPECT_EQ(statement_->SQLExtendedFetch(SQL_FETCH_NEXT, 0, &fetched, &status), SQL_ERROR);
  EXPECT_EQ(status, SQL_ROW_ERROR);
  EXPECT_EQ(fetched, 1u);
  const auto error = nextDiagnostic(statement_->getErrorList());
  EXPECT_EQ(error.state, "S1000") << "the row's own error, not 01S01";
  EXPECT_EQ(statement_->SQLExtendedFetch(SQL_FETCH_NEXT, 0, &fetched, &status), SQL_SUCCESS);
  EXPECT_EQ(number, 2);
}

// A driver that pauses (SQL_STILL_EXECUTING) in the middle of a rowset, or
// while the last row is being found: each repeated call goes on from the row
// it stopped at, rows read before the pause keep their values and statuses,
// and other calls on the statement are refused meanwhile.
TEST_F(FetchTest, ExtendedFetchResumesWhereTheDriverPaused) {
  struct Case {
    const char* name;
    SQLULEN cursorType;
    SQLUSMALLINT fetchType;
    std::vector<uint32_t> pauseCalls;  // the driver requests that pause
    uint32_t failRow;
    SQLINTEGER first;  // the rowset's first row
    SQLULEN fetched;
    uint32_t requests;  // the driver requests a run without pauses makes
  };
  const Case cases[] = {
      {"forward-only rowset", SQL_CURSOR_FORWARD_ONLY, SQL_FETCH_NEXT, {3, 8}, 0, 1, 10, 10},
      {"static rowset", SQL_CURSOR_STATIC, SQL_FETCH_NEXT, {1, 11}, 0, 1, 10, 11},
      {"failed row before the pause", SQL_CURSOR_STATIC, SQL_FETCH_NEXT, {6}, 2, 1, 10, 11},
      // Probes 1, 2, 4, 8, 16, 32, then 24, 28, 26, 25: pauses at 16, 32, 28.
      {"probing for the last row", SQL_CURSOR_STATIC, SQL_FETCH_LAST, {5, 7, 10}, 0, 16, 10, 21},
      {"rows past the end", SQL_CURSOR_STATIC, SQL_FETCH_ABSOLUTE, {3, 5}, 0, 23, 3, 5},
      {"repositioning on the first row", SQL_CURSOR_STATIC, SQL_FETCH_FIRST, {11}, 0, 1, 10, 11},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    statement_->failRow = c.failRow;
    open(c.cursorType, 10);
    SQLINTEGER numbers[10] = {};
    SQLLEN indicators[10] = {};
    ASSERT_EQ(statement_->SQLBindCol(1, SQL_C_LONG, numbers, 0, indicators), SQL_SUCCESS);
    statement_->pauseCalls = c.pauseCalls;
    const SQLLEN irow = c.fetchType == SQL_FETCH_ABSOLUTE ? 23 : 0;
    SQLULEN fetched = 99;
    SQLUSMALLINT statuses[10];
    SQLRETURN rc;
    int calls = 0;
    while ((rc = statement_->SQLExtendedFetch(c.fetchType, irow, &fetched, statuses)) == SQL_STILL_EXECUTING) {
      ASSERT_LT(++calls, 10);
      EXPECT_EQ(fetched, 99u) << "nothing is reported before the rowset is complete";
      // Only the pending function (or SQLCancel) may run meanwhile.
      SQLINTEGER n = 0;
      EXPECT_EQ(statement_->SQLGetData(1, SQL_C_LONG, &n, 0, nullptr), SQL_ERROR);
      EXPECT_EQ(state(), "S1010");
      EXPECT_EQ(statement_->SQLFetch(), SQL_ERROR);
      EXPECT_EQ(state(), "S1010");
      // A driver that cannot stop says so; its operation stays pending.
      EXPECT_EQ(statement_->SQLCancel(), SQL_ERROR);
      EXPECT_EQ(state(), "S1C00");
    }
    EXPECT_EQ(calls, int(c.pauseCalls.size()));
    EXPECT_EQ(statement_->pauses, int(c.pauseCalls.size()));
    EXPECT_EQ(statement_->requests, c.requests + c.pauseCalls.size()) << "each pause resumed, nothing read again";
    EXPECT_EQ(rc, c.failRow ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS);
    if (c.failRow) {
      EXPECT_EQ(state(), "01S01") << "the row that failed before the pause still counts";
    }
    EXPECT_EQ(fetched, c.fetched);
    for (SQLULEN i = 0; i < 10; ++i) {
      const SQLUSMALLINT expected = i >= c.fetched                ? SQL_ROW_NOROW
                                    : i + 1 == SQLULEN(c.failRow) ? SQL_ROW_ERROR
                                                                  : SQL_ROW_SUCCESS;
      EXPECT_EQ(statuses[i], expected) << i;
      if (expected == SQL_ROW_SUCCESS) {
        EXPECT_EQ(numbers[i], c.first + SQLINTEGER(i)) << i;
      }
    }
    // The statement is free again and goes on from the rowset it holds.
    if (c.cursorType == SQL_CURSOR_STATIC) {
      EXPECT_EQ(statement_->SQLExtendedFetch(SQL_FETCH_PRIOR, 0, &fetched, statuses),
                c.first == 1 ? SQL_NO_DATA_FOUND : SQL_SUCCESS);
    } else {
      EXPECT_EQ(statement_->SQLExtendedFetch(SQL_FETCH_NEXT, 0, &fetched, statuses), SQL_SUCCESS);
      EXPECT_EQ(numbers[0], 11);
    }
  }
}

// SQLSetPos checks, in order: an open rowset, the operation and lock the
// data source offers, bound columns, the concurrency, the row number, a
// scrollable cursor.
TEST_F(FetchTest, SetPosRefusesWhatItCannotDo) {
  connection_->scrollConcurrency = SQL_SCCO_READ_ONLY | SQL_SCCO_LOCK;
  open(SQL_CURSOR_STATIC, 4);
  EXPECT_EQ(statement_->SQLSetPos(1, SQL_POSITION, SQL_LOCK_NO_CHANGE), SQL_ERROR);
  EXPECT_EQ(state(), "24000") << "no rowset yet";
  ASSERT_EQ(statement_->SQLExtendedFetch(SQL_FETCH_NEXT, 0, nullptr, nullptr), SQL_SUCCESS);

  struct Case {
    const char* name;
    uint32_t operations;  // SQL_POS_OPERATIONS
    uint32_t locks;       // SQL_LOCK_TYPES
    SQLULEN concurrency;
    bool bind;  // column 1 bound (column 6, beyond the four, for refresh)
    SQLSETPOSIROW row;
    SQLUSMALLINT option;
    SQLUSMALLINT lock;
    const char* state;
  };
  const uint32_t all = SQL_POS_POSITION | SQL_POS_REFRESH | SQL_POS_UPDATE | SQL_POS_DELETE | SQL_POS_ADD;
  const uint32_t anyLock = SQL_LCK_NO_CHANGE | SQL_LCK_EXCLUSIVE | SQL_LCK_UNLOCK;
  const Case cases[] = {
      {"the framework's defaults offer nothing", 0, 0, SQL_CONCUR_READ_ONLY, false, 1, SQL_POSITION,
       SQL_LOCK_NO_CHANGE, "S1C00"},
      {"an operation not offered", SQL_POS_POSITION, anyLock, SQL_CONCUR_LOCK, true, 1, SQL_UPDATE,
       SQL_LOCK_NO_CHANGE, "S1C00"},
      {"a lock not offered", all, SQL_LCK_NO_CHANGE, SQL_CONCUR_LOCK, true, 1, SQL_POSITION, SQL_LOCK_EXCLUSIVE,
       "S1C00"},
      {"no such operation", all, anyLock, SQL_CONCUR_LOCK, true, 1, 9, SQL_LOCK_NO_CHANGE, "S1C00"},
      {"update without bound columns", all, anyLock, SQL_CONCUR_LOCK, false, 1, SQL_UPDATE, SQL_LOCK_NO_CHANGE,
       "21S02"},
      {"add without bound columns", all, anyLock, SQL_CONCUR_LOCK, false, 1, SQL_ADD, SQL_LOCK_NO_CHANGE, "21S02"},
      {"refresh of a column beyond the result", all, anyLock, SQL_CONCUR_LOCK, true, 1, SQL_REFRESH,
       SQL_LOCK_NO_CHANGE, "S1002"},
      {"delete on a read-only cursor", all, anyLock, SQL_CONCUR_READ_ONLY, false, 1, SQL_DELETE,
       SQL_LOCK_NO_CHANGE, "S1009"},
      {"a row beyond the rowset", all, anyLock, SQL_CONCUR_LOCK, false, 5, SQL_POSITION, SQL_LOCK_NO_CHANGE,
       "S1107"},
      {"add counts no row of the rowset", all, anyLock, SQL_CONCUR_LOCK, true, 5, SQL_ADD, SQL_LOCK_NO_CHANGE, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    connection_->posOperations = c.operations;
    connection_->lockTypes = c.locks;
    ASSERT_EQ(statement_->SQLSetStmtOption(SQL_CONCURRENCY, c.concurrency), SQL_SUCCESS);
    ASSERT_EQ(statement_->SQLFreeStmt(SQL_UNBIND), SQL_SUCCESS);
    SQLINTEGER numbers[4];
    if (c.bind) {
      const SQLUSMALLINT column = c.option == SQL_REFRESH ? 6 : 1;
      ASSERT_EQ(statement_->SQLBindCol(column, SQL_C_LONG, numbers, 0, nullptr), SQL_SUCCESS);
    }
    const SQLRETURN rc = statement_->SQLSetPos(c.row, c.option, c.lock);
    EXPECT_EQ(rc, *c.state ? SQL_ERROR : SQL_SUCCESS);
    EXPECT_EQ(state(), c.state);
  }
  ASSERT_EQ(statement_->SQLFreeStmt(SQL_UNBIND), SQL_SUCCESS);
  ASSERT_EQ(statement_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS);
  open(SQL_CURSOR_FORWARD_ONLY, 4);
  ASSERT_EQ(statement_->SQLExtendedFetch(SQL_FETCH_NEXT, 0, nullptr, nullptr), SQL_SUCCESS);
  EXPECT_EQ(statement_->SQLSetPos(1, SQL_POSITION, SQL_LOCK_NO_CHANGE), SQL_ERROR);
  EXPECT_EQ(state(), "S1109") << "a forward-only cursor";
}

// SQLSetPos on the rows of a rowset: position makes a row current (even a
// deleted one, which SQLGetData then refuses), refresh reads the row again
// into the bound columns, row 0 stands for every row and turns a row's
// failure into 01S01; changes start a transaction in manual-commit mode.
TEST_F(FetchTest, SetPosMovesWithinTheRowset) {
  connection_->posOperations = SQL_POS_POSITION | SQL_POS_REFRESH | SQL_POS_DELETE;
  connection_->lockTypes = SQL_LCK_NO_CHANGE;
  connection_->scrollConcurrency = SQL_SCCO_READ_ONLY | SQL_SCCO_LOCK;
  statement_->deletedRow = 2;
  open(SQL_CURSOR_STATIC, 4);
  ASSERT_EQ(statement_->SQLSetStmtOption(SQL_CONCURRENCY, SQL_CONCUR_LOCK), SQL_SUCCESS);
  SQLINTEGER numbers[4] = {};
  ASSERT_EQ(statement_->SQLBindCol(1, SQL_C_LONG, numbers, 0, nullptr), SQL_SUCCESS);
  SQLUSMALLINT statuses[4];
  ASSERT_EQ(statement_->SQLExtendedFetch(SQL_FETCH_NEXT, 0, nullptr, statuses), SQL_SUCCESS);
  EXPECT_EQ(statuses[1], SQL_ROW_DELETED);
  // The status array was the application's for that call only (a Driver
  // Manager passes one of its own): the framework goes by its own copy.
  for (SQLUSMALLINT& status : statuses) status = 0xEEEE;

  SQLINTEGER n = 0;
  ASSERT_EQ(statement_->SQLSetPos(3, SQL_POSITION, SQL_LOCK_NO_CHANGE), SQL_SUCCESS);
  SQLULEN row = 0;
  ASSERT_EQ(statement_->SQLGetStmtOption(SQL_ROW_NUMBER, &row), SQL_SUCCESS);
  EXPECT_EQ(row, 3u);
  ASSERT_EQ(statement_->SQLSetPos(2, SQL_POSITION, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << "a deleted row too";
  EXPECT_EQ(statement_->SQLGetData(4, SQL_C_LONG, &n, 0, nullptr), SQL_ERROR);
  EXPECT_EQ(state(), "S1109");
  EXPECT_EQ(statement_->SQLSetPos(2, SQL_REFRESH, SQL_LOCK_NO_CHANGE), SQL_ERROR);
  EXPECT_EQ(state(), "S1109");

  // Row 0: every row read again; the deleted one is a warning.
  for (SQLINTEGER& number : numbers) number = 0;
  EXPECT_EQ(statement_->SQLSetPos(0, SQL_REFRESH, SQL_LOCK_NO_CHANGE), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(state(), "01S01");
  EXPECT_EQ(std::vector<SQLINTEGER>(numbers, numbers + 4), (std::vector<SQLINTEGER>{1, 0, 3, 4}));
  ASSERT_EQ(statement_->SQLGetStmtOption(SQL_ROW_NUMBER, &row), SQL_SUCCESS);
  EXPECT_EQ(row, 1u) << "row 0 leaves the first row current";

  // A change in manual-commit mode opens a transaction first; the framework
  // itself deletes nothing.
  ASSERT_EQ(connection_->SQLSetConnectOption(SQL_AUTOCOMMIT, 0), SQL_SUCCESS);
  const int started = connection_->started;
  EXPECT_EQ(statement_->SQLSetPos(4, SQL_DELETE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS);
  EXPECT_EQ(connection_->started, started + 1);
  EXPECT_EQ(statement_->SQLSetPos(1, SQL_POSITION, SQL_LOCK_NO_CHANGE), SQL_SUCCESS);
  EXPECT_EQ(connection_->started, started + 1) << "positioning changes nothing";
  EXPECT_EQ(statuses[1], 0xEEEE) << "nothing wrote into the application's array after its call";
}

TEST_F(FetchTest, GetDataInPiecesAndItsRules) {
  open();
  ASSERT_EQ(statement_->SQLFetch(), SQL_SUCCESS);
  // A CHAR(10) into 11 bytes: whole, then no data.
  char code[11];
  SQLLEN length = 0;
  EXPECT_EQ(statement_->SQLGetData(2, SQL_C_CHAR, code, sizeof(code), &length), SQL_SUCCESS);
  EXPECT_STREQ(code, "ABCDEFGHIJ");
  EXPECT_EQ(statement_->SQLGetData(2, SQL_C_CHAR, code, sizeof(code), &length), SQL_NO_DATA_FOUND);

  // 300 characters into 101 bytes: three pieces of 100, then no data; the
  // lengths count what is left.
  char piece[101];
  std::vector<SQLLEN> lengths;
  SQLRETURN rc;
  while ((rc = statement_->SQLGetData(3, SQL_C_CHAR, piece, sizeof(piece), &length)) != SQL_NO_DATA_FOUND) {
    ASSERT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO);
    lengths.push_back(length);
    ASSERT_LE(lengths.size(), 4u);
  }
  EXPECT_EQ(lengths, (std::vector<SQLLEN>{300, 200, 100}));

  // A changed C type in the middle of a column: S1003.
  ASSERT_EQ(statement_->SQLFetch(), SQL_SUCCESS);
  EXPECT_EQ(statement_->SQLGetData(3, SQL_C_CHAR, piece, sizeof(piece), &length), SQL_SUCCESS_WITH_INFO);
  SQLWCHAR wide[8];
  EXPECT_EQ(statement_->SQLGetData(3, SQL_C_WCHAR, wide, sizeof(wide), &length), SQL_ERROR);
  EXPECT_EQ(state(), "S1003");

  // 1.5 into SQL_C_LONG: 1 with 01004, then the column is done (never read
  // again from inside the value).
  SQLINTEGER whole = 0;
  EXPECT_EQ(statement_->SQLGetData(4, SQL_C_LONG, &whole, 0, &length), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(whole, 1);
  EXPECT_EQ(length, 4);
  EXPECT_EQ(statement_->SQLGetData(4, SQL_C_LONG, &whole, 0, &length), SQL_NO_DATA_FOUND);

  // SQL_C_WCHAR is UTF-16LE with its length in bytes; an unknown C type is
  // refused rather than left unwritten.
  EXPECT_EQ(statement_->SQLGetData(2, SQL_C_WCHAR, wide, sizeof(wide), &length), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(length, 20);
  EXPECT_EQ(wide[0], 'A');
  EXPECT_EQ(wide[6], 'G');
  EXPECT_EQ(wide[7], 0);
  EXPECT_EQ(statement_->SQLGetData(1, 77, &whole, 0, &length), SQL_ERROR);
  EXPECT_EQ(state(), "S1003");
  EXPECT_EQ(statement_->SQLGetData(9, SQL_C_LONG, &whole, 0, &length), SQL_ERROR);
  EXPECT_EQ(state(), "S1002");
}

// WorkArounds 0x80: a value of length 0 reads as NULL, through SQLGetData
// and bound columns alike; anything longer is left alone.
TEST_F(FetchTest, ZeroLengthReadsAsNullUnderWorkArounds0x80) {
  struct Case {
    uint32_t workArounds;
    const char* code;
    SQLLEN expected;
  };
  const Case cases[] = {
      {0, "", 0},
      {BaseConnection::waZeroLengthIsNull, "", SQL_NULL_DATA},
      {BaseConnection::waZeroLengthIsNull, "A", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.workArounds);
    connection_->workArounds_ = c.workArounds;
    statement_->code = c.code;
    open(SQL_CURSOR_FORWARD_ONLY, 1);
    char bound[11];
    SQLLEN boundLength = 99;
    ASSERT_EQ(statement_->SQLBindCol(2, SQL_C_CHAR, bound, sizeof(bound), &boundLength), SQL_SUCCESS);
    ASSERT_EQ(statement_->SQLFetch(), SQL_SUCCESS);
    EXPECT_EQ(boundLength, c.expected);
    char value[11];
    SQLLEN length = 99;
    for (const SQLSMALLINT cType : {SQL_C_CHAR, SQL_C_BINARY}) {
      ASSERT_EQ(statement_->SQLFetch(), SQL_SUCCESS);
      ASSERT_EQ(statement_->SQLFreeStmt(SQL_UNBIND), SQL_SUCCESS);
      length = 99;
      EXPECT_EQ(statement_->SQLGetData(2, cType, value, sizeof(value), &length), SQL_SUCCESS);
      EXPECT_EQ(length, c.expected) << cType;
    }
    ASSERT_EQ(statement_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS);
  }
}

// Every attribute SQLColAttributes answers itself, and the driver's.
TEST_F(FetchTest, ColumnAttributesOfTheFrameworkAndTheDriver) {
  open();
  BaseField* code = statement_->getFields()[1];
  code->nullable = SQL_NULLABLE;
  code->searchable = SQL_SEARCHABLE;
  code->updatable = SQL_ATTR_WRITE;
  code->attributes = BaseField::attrCaseSensitive;
  code->typeName = kvU("CHAR");
  ASSERT_EQ(code->setText(&code->tableName, kvU("T")), kvSuccess);
  ASSERT_EQ(code->setText(&code->ownerName, kvU("O")), kvSuccess);
  ASSERT_EQ(code->setText(&code->qualifierName, kvU("Q")), kvSuccess);
  BaseField* d = statement_->getFields()[3];
  d->attributes = BaseField::attrMoney | BaseField::attrAutoIncrement;
  d->flags |= BaseField::flagPrivate1002;
  d->updatable = SQL_ATTR_WRITE;
  ASSERT_EQ(d->setText(&d->label, kvU("Amount")), kvSuccess);
  ASSERT_EQ(d->setText(&d->name, nullptr), kvSuccess);
  struct Case {
    SQLUSMALLINT column;
    SQLUSMALLINT attribute;
    SQLLEN number;
    const char* text;
  };
  const Case cases[] = {
      {2, SQL_COLUMN_NAME, 0, "CODE"},
      {2, SQL_COLUMN_TYPE, SQL_CHAR, ""},
      {2, SQL_COLUMN_LENGTH, 10, ""},
      {4, SQL_COLUMN_LENGTH, 8, ""},
      {2, SQL_COLUMN_PRECISION, 10, ""},
      {4, SQL_COLUMN_PRECISION, 15, ""},
      {2, SQL_COLUMN_SCALE, 0, ""},
      {2, SQL_COLUMN_DISPLAY_SIZE, 10, ""},
      {3, SQL_COLUMN_DISPLAY_SIZE, 1000, ""},
      {4, SQL_COLUMN_DISPLAY_SIZE, 22, ""},
      {2, SQL_COLUMN_NULLABLE, SQL_NULLABLE, ""},
      {1, SQL_COLUMN_UNSIGNED, SQL_FALSE, ""},
      {2, SQL_COLUMN_UNSIGNED, SQL_TRUE, ""},
      {2, SQL_COLUMN_MONEY, SQL_FALSE, ""},
      {4, SQL_COLUMN_MONEY, SQL_TRUE, ""},
      {2, SQL_COLUMN_UPDATABLE, SQL_ATTR_WRITE, ""},
      {4, SQL_COLUMN_UPDATABLE, 0, ""},  // a column without a name
      {4, SQL_COLUMN_AUTO_INCREMENT, SQL_TRUE, ""},
      {2, SQL_COLUMN_CASE_SENSITIVE, SQL_TRUE, ""},
      {4, SQL_COLUMN_CASE_SENSITIVE, SQL_FALSE, ""},
      {2, SQL_COLUMN_SEARCHABLE, SQL_SEARCHABLE, ""},
      {2, SQL_COLUMN_TYPE_NAME, 0, "CHAR"},
      {2, SQL_COLUMN_TABLE_NAME, 0, "T"},
      {2, SQL_COLUMN_OWNER_NAME, 0, "O"},
      {2, SQL_COLUMN_QUALIFIER_NAME, 0, "Q"},
      {2, SQL_COLUMN_LABEL, 0, "CODE"},  // no label: the name
      {4, SQL_COLUMN_LABEL, 0, "Amount"},
      {4, 1002, SQL_TRUE, ""},
      {2, 1002, SQL_FALSE, ""},
      {2, 1500, 77, ""},
  };
  for (const Case& c : cases) {
    SQLCHAR text[16] = "?";
    SQLSMALLINT textLength = -1;
    SQLLEN number = -99;
    ASSERT_EQ(statement_->SQLColAttributes(c.column, c.attribute, text, sizeof(text), &textLength, &number),
              SQL_SUCCESS)
        << c.column << "/" << c.attribute;
    if (*c.text) {
      EXPECT_STREQ(kvC(text), c.text) << c.column << "/" << c.attribute;
    } else {
      EXPECT_EQ(number, c.number) << c.column << "/" << c.attribute;
    }
  }
  // Attributes beyond ODBC 2's that the driver does not know, and columns
  // outside the result.
  EXPECT_EQ(statement_->SQLColAttributes(1, 19, nullptr, 0, nullptr, nullptr), SQL_ERROR);
  EXPECT_EQ(state(), "S1C00");
  EXPECT_EQ(statement_->SQLColAttributes(5, SQL_COLUMN_TYPE, nullptr, 0, nullptr, nullptr), SQL_ERROR);
  EXPECT_EQ(state(), "S1002");
  EXPECT_EQ(statement_->SQLColAttributes(0, SQL_COLUMN_TYPE, nullptr, 0, nullptr, nullptr), SQL_ERROR);
  EXPECT_EQ(state(), "S1002");
}

// SQLGetData's order rules follow SQL_GETDATA_EXTENSIONS; a column 0 (the
// bookmark) needs SQL_BOOKMARK_PERSISTENCE, in SQLBindCol as in
// SQLGetData.
TEST_F(FetchTest, GetDataOrderRulesAndTheBookmarkColumn) {
  struct Case {
    const char* name;
    uint32_t extensions;
    SQLUSMALLINT first;   // a column read first (0: none)
    SQLUSMALLINT column;  // then this one
    bool bindThird;       // column 3 bound
    SQLRETURN rc;
  };
  const Case cases[] = {
      {"in order", 0, 1, 2, false, SQL_SUCCESS},
      {"backwards without SQL_GD_ANY_ORDER", 0, 2, 1, false, SQL_ERROR},
      {"backwards with it", SQL_GD_ANY_ORDER, 2, 1, false, SQL_SUCCESS},
      {"below the highest bound without SQL_GD_ANY_COLUMN", 0, 0, 2, true, SQL_ERROR},
      {"below the highest bound with it", SQL_GD_ANY_COLUMN, 0, 2, true, SQL_SUCCESS},
      {"after the highest bound", 0, 0, 4, true, SQL_SUCCESS},
      {"a bound column without SQL_GD_BOUND", SQL_GD_ANY_COLUMN, 0, 3, true, SQL_ERROR},
      {"a bound column with it", SQL_GD_ANY_COLUMN | SQL_GD_BOUND, 0, 3, true, SQL_SUCCESS},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    connection_->getDataExtensions = c.extensions;
    open();
    char notes[8];
    if (c.bindThird) {
      ASSERT_EQ(statement_->SQLBindCol(3, SQL_C_CHAR, notes, sizeof(notes), nullptr), SQL_SUCCESS);
    }
    ASSERT_EQ(statement_->SQLFetch(), c.bindThird ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS);
    char value[32];
    SQLLEN length = 0;
    if (c.first) {
      ASSERT_NE(statement_->SQLGetData(c.first, SQL_C_CHAR, value, sizeof(value), &length), SQL_ERROR);
    }
    const SQLRETURN rc = statement_->SQLGetData(c.column, SQL_C_CHAR, value, sizeof(value), &length);
    EXPECT_EQ(rc == SQL_SUCCESS_WITH_INFO ? SQL_SUCCESS : rc, c.rc);
    if (c.rc == SQL_ERROR) {
      EXPECT_EQ(state(), "S1002");
    }
    ASSERT_EQ(statement_->SQLFreeStmt(SQL_UNBIND), SQL_SUCCESS);
    ASSERT_EQ(statement_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS);
  }

  open();
  SQLINTEGER bookmark = 0;
  EXPECT_EQ(statement_->SQLBindCol(0, SQL_C_LONG, &bookmark, 0, nullptr), SQL_ERROR);
  EXPECT_EQ(state(), "S1C00");
  ASSERT_EQ(statement_->SQLFetch(), SQL_SUCCESS);
  EXPECT_EQ(statement_->SQLGetData(0, SQL_C_LONG, &bookmark, 0, nullptr), SQL_ERROR);
  EXPECT_EQ(state(), "S1C00");
  connection_->bookmarkPersistence = SQL_BP_SCROLL;
  EXPECT_EQ(statement_->SQLBindCol(0, SQL_C_LONG, &bookmark, 0, nullptr), SQL_SUCCESS);
}

// A keyset-driven cursor whose keyset is smaller than its rowset cannot
// fetch (S1107); SQL_FETCH_BOOKMARK is not offered (S1C00).
TEST_F(FetchTest, KeysetSmallerThanTheRowsetAndBookmarkFetches) {
  connection_->scrollOptions = SQL_SO_FORWARD_ONLY | SQL_SO_KEYSET_DRIVEN | SQL_SO_MIXED | SQL_SO_STATIC;
  ASSERT_EQ(statement_->SQLSetScrollOptions(SQL_CONCUR_READ_ONLY, 5, 10), SQL_SUCCESS);
  ASSERT_EQ(execDirect(statement_, "select n from t"), SQL_SUCCESS);
  EXPECT_EQ(statement_->SQLExtendedFetch(SQL_FETCH_NEXT, 0, nullptr, nullptr), SQL_ERROR);
  EXPECT_EQ(state(), "S1107");
  ASSERT_EQ(statement_->SQLSetScrollOptions(SQL_CONCUR_READ_ONLY, 10, 10), SQL_SUCCESS);
  SQLULEN fetched = 0;
  EXPECT_EQ(statement_->SQLExtendedFetch(SQL_FETCH_NEXT, 0, &fetched, nullptr), SQL_SUCCESS);
  EXPECT_EQ(fetched, 10u);
  EXPECT_EQ(statement_->SQLExtendedFetch(SQL_FETCH_BOOKMARK, 1, &fetched, nullptr), SQL_ERROR);
  EXPECT_EQ(state(), "S1C00");
}

TEST_F(FetchTest, MaxLengthCutsLongColumns) {
  ASSERT_EQ(statement_->SQLSetStmtOption(SQL_MAX_LENGTH, 50), SQL_SUCCESS);
  open();
  ASSERT_EQ(statement_->SQLFetch(), SQL_SUCCESS);
  char piece[101];
  SQLLEN length = 0;
  EXPECT_EQ(statement_->SQLGetData(3, SQL_C_CHAR, piece, sizeof(piece), &length), SQL_SUCCESS);
  EXPECT_EQ(length, 50);
  EXPECT_EQ(std::string(piece), std::string(50, 'x'));
  EXPECT_EQ(statement_->SQLGetData(3, SQL_C_CHAR, piece, sizeof(piece), &length), SQL_NO_DATA_FOUND);
}

TEST_F(FetchTest, DescriptionsAtFullWidth) {
  open();
  SQLULEN precision = ~SQLULEN(0);
  SQLSMALLINT type = 0;
  EXPECT_EQ(statement_->SQLDescribeCol(1, nullptr, 0, nullptr, &type, &precision, nullptr, nullptr), SQL_SUCCESS);
  EXPECT_EQ(precision, 10u) << "the upper half written too";
  EXPECT_EQ(statement_->SQLDescribeCol(5, nullptr, 0, nullptr, &type, &precision, nullptr, nullptr), SQL_ERROR);
  EXPECT_EQ(state(), "S1002");
  SQLLEN number = -1;
  EXPECT_EQ(statement_->SQLColAttributes(1, SQL_COLUMN_DISPLAY_SIZE, nullptr, 0, nullptr, &number), SQL_SUCCESS);
  EXPECT_EQ(number, 11) << "a signed INTEGER";
  statement_->getFields()[0]->flags |= BaseField::flagUnsigned;
  EXPECT_EQ(statement_->SQLColAttributes(1, SQL_COLUMN_DISPLAY_SIZE, nullptr, 0, nullptr, &number), SQL_SUCCESS);
  EXPECT_EQ(number, 10) << "an unsigned one";
  EXPECT_EQ(statement_->SQLColAttributes(0, SQL_COLUMN_COUNT, nullptr, 0, nullptr, &number), SQL_SUCCESS);
  EXPECT_EQ(number, 4);
  // WorkArounds 0x40 names an unnamed column.
  ASSERT_EQ(statement_->getFields()[1]->setText(&statement_->getFields()[1]->name, nullptr), kvSuccess);
  connection_->workArounds_ = BaseConnection::waDescribe;
  SQLCHAR name[8];
  SQLSMALLINT nameLength = 0;
  EXPECT_EQ(statement_->SQLDescribeCol(2, name, sizeof(name), &nameLength, nullptr, nullptr, nullptr, nullptr),
            SQL_SUCCESS);
  EXPECT_STREQ(kvC(name), "C2");
}

}  // namespace
