// Statement options: what a statement accepts and keeps, limits, the
// concurrency and cursor types a data source offers, values read back at
// full width, the current row number, and SQLSetScrollOptions.
#include "tests/base/stmt_test_support.h"

#include "util/memory/ram.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class StmtOptionsTest : public StatementFixture<StmtConnection, StmtStatement> {
 protected:
  SQLULEN read(uint16_t option, SQLRETURN expected = SQL_SUCCESS) {
    SQLULEN value;
    std::memset(&value, 0xA5, sizeof(value));
    EXPECT_EQ(statement_->SQLGetStmtOption(option, &value), expected) << option;
    return value;
  }
};

TEST_F(StmtOptionsTest, SetAndReadBack) {
  struct Case {
    uint16_t option;
    SQLULEN value;
    SQLRETURN rc;
    const char* state;
    SQLULEN readBack;
  } cases[] = {
      {SQL_MAX_ROWS, 500, SQL_SUCCESS, "", 500},
      {SQL_MAX_ROWS, 5000, SQL_SUCCESS_WITH_INFO, "01S02", 1000},  // the driver's limit
      {SQL_MAX_LENGTH, SQLULEN(0x100000001ull), SQL_SUCCESS, "", SQLULEN(0x100000001ull)},
      {SQL_BIND_TYPE, 24, SQL_SUCCESS, "", 24},
      {SQL_ROWSET_SIZE, 10, SQL_SUCCESS, "", 10},
      {SQL_KEYSET_SIZE, 10, SQL_SUCCESS_WITH_INFO, "01S02", 0},  // never kept
      {SQL_KEYSET_SIZE, 0, SQL_SUCCESS, "", 0},
      {SQL_SIMULATE_CURSOR, SQL_SC_UNIQUE, SQL_SUCCESS_WITH_INFO, "01S02", 0},
      {SQL_NOSCAN, SQL_NOSCAN_ON, SQL_SUCCESS, "", SQL_NOSCAN_ON},
      {SQL_NOSCAN, 2, SQL_SUCCESS, "", SQL_NOSCAN_OFF},  // only 1 sets a bit option
      {SQL_RETRIEVE_DATA, SQL_RD_OFF, SQL_SUCCESS, "", SQL_RD_OFF},
      {SQL_CONCURRENCY, SQL_CONCUR_READ_ONLY, SQL_SUCCESS, "", SQL_CONCUR_READ_ONLY},
      {SQL_CURSOR_TYPE, SQL_CURSOR_FORWARD_ONLY, SQL_SUCCESS, "", SQL_CURSOR_FORWARD_ONLY},
      {SQL_ASYNC_ENABLE, SQL_ASYNC_ENABLE_ON, SQL_ERROR, "S1C00", 0},   // no capability
      {SQL_QUERY_TIMEOUT, 10, SQL_ERROR, "S1C00", 0},                  // no capability
      {SQL_USE_BOOKMARKS, SQL_UB_ON, SQL_ERROR, "S1C00", 0},           // no bookmark persistence
      {13, 0, SQL_ERROR, "S1C00", 0},
      {1234, 0, SQL_ERROR, "S1C00", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(statement_->SQLSetStmtOption(c.option, c.value), c.rc) << c.option << "=" << c.value;
    EXPECT_EQ(state(), c.state) << c.option << "=" << c.value;
    if (c.rc != SQL_ERROR) EXPECT_EQ(read(c.option), c.readBack) << c.option << "=" << c.value;
    else read(c.option, SQL_ERROR);
  }
  connection_->bookmarkPersistence = SQL_BP_SCROLL;
  EXPECT_EQ(statement_->SQLSetStmtOption(SQL_USE_BOOKMARKS, SQL_UB_ON), SQL_SUCCESS);
  EXPECT_EQ(read(SQL_USE_BOOKMARKS), SQLULEN(SQL_UB_ON));
}

// A statement starts with its connection's defaults.
TEST_F(StmtOptionsTest, NewStatementsCopyTheDefaults) {
  EXPECT_EQ(read(SQL_CONCURRENCY), SQLULEN(SQL_CONCUR_READ_ONLY));
  EXPECT_EQ(read(SQL_ROWSET_SIZE), 1u);
  EXPECT_EQ(read(SQL_RETRIEVE_DATA), SQLULEN(SQL_RD_ON));
  ASSERT_EQ(connection_->setConnectOption(SQL_MAX_ROWS, 77), kvSuccess);
  StmtStatement* later = new StmtStatement(connection_);
  SQLULEN value = 0;
  ASSERT_EQ(later->SQLGetStmtOption(SQL_MAX_ROWS, &value), SQL_SUCCESS);
  EXPECT_EQ(value, 77u);
}

TEST_F(StmtOptionsTest, ConcurrencyTakesWhatTheDataSourceOffers) {
  struct Case {
    uint32_t mask;
    SQLULEN asked;
    SQLULEN given;
  } cases[] = {
      {SQL_SCCO_READ_ONLY | SQL_SCCO_OPT_VALUES, SQL_CONCUR_LOCK, SQL_CONCUR_VALUES},
      {SQL_SCCO_READ_ONLY | SQL_SCCO_OPT_ROWVER | SQL_SCCO_OPT_VALUES, SQL_CONCUR_LOCK, SQL_CONCUR_ROWVER},
      {SQL_SCCO_READ_ONLY, SQL_CONCUR_LOCK, SQL_CONCUR_READ_ONLY},
      {SQL_SCCO_LOCK, SQL_CONCUR_LOCK, SQL_CONCUR_LOCK},
      {SQL_SCCO_READ_ONLY | SQL_SCCO_OPT_VALUES, SQL_CONCUR_ROWVER, SQL_CONCUR_VALUES},
      {SQL_SCCO_READ_ONLY, SQL_CONCUR_ROWVER, SQL_CONCUR_READ_ONLY},
      {SQL_SCCO_READ_ONLY | SQL_SCCO_OPT_ROWVER, SQL_CONCUR_VALUES, SQL_CONCUR_ROWVER},
      {SQL_SCCO_READ_ONLY | SQL_SCCO_LOCK, SQL_CONCUR_VALUES, SQL_CONCUR_READ_ONLY},
      {SQL_SCCO_OPT_VALUES, SQL_CONCUR_VALUES, SQL_CONCUR_VALUES},
  };
  for (const Case& c : cases) {
    connection_->scrollConcurrency = c.mask;
    SQLRETURN rc = statement_->SQLSetStmtOption(SQL_CONCURRENCY, c.asked);
    EXPECT_EQ(rc, c.asked == c.given ? SQL_SUCCESS : SQL_SUCCESS_WITH_INFO) << c.mask << " " << c.asked;
    EXPECT_EQ(state(), c.asked == c.given ? "" : "01S02") << c.mask << " " << c.asked;
    EXPECT_EQ(read(SQL_CONCURRENCY), c.given) << c.mask << " " << c.asked;
  }
}

TEST_F(StmtOptionsTest, CursorTypeTakesWhatTheDataSourceOffers) {
  const uint32_t fwd = SQL_SO_FORWARD_ONLY;
  struct Case {
    uint32_t mask;
    SQLULEN asked;
    SQLULEN given;
  } cases[] = {
      {fwd | SQL_SO_KEYSET_DRIVEN, SQL_CURSOR_DYNAMIC, SQL_CURSOR_KEYSET_DRIVEN},
      {fwd | SQL_SO_STATIC, SQL_CURSOR_DYNAMIC, SQL_CURSOR_STATIC},
      {fwd, SQL_CURSOR_DYNAMIC, SQL_CURSOR_FORWARD_ONLY},
      {fwd | SQL_SO_MIXED, SQL_CURSOR_DYNAMIC, SQL_CURSOR_DYNAMIC},
      {fwd | SQL_SO_DYNAMIC, SQL_CURSOR_DYNAMIC, SQL_CURSOR_DYNAMIC},
      {fwd | SQL_SO_STATIC, SQL_CURSOR_KEYSET_DRIVEN, SQL_CURSOR_STATIC},
      {fwd | SQL_SO_DYNAMIC, SQL_CURSOR_KEYSET_DRIVEN, SQL_CURSOR_FORWARD_ONLY},
      {fwd | SQL_SO_KEYSET_DRIVEN, SQL_CURSOR_STATIC, SQL_CURSOR_FORWARD_ONLY},
      {fwd | SQL_SO_STATIC, SQL_CURSOR_STATIC, SQL_CURSOR_STATIC},
  };
  for (const Case& c : cases) {
    connection_->scrollOptions = c.mask;
    SQLRETURN rc = statement_->SQLSetStmtOption(SQL_CURSOR_TYPE, c.asked);
    EXPECT_EQ(rc, c.asked == c.given ? SQL_SUCCESS : SQL_SUCCESS_WITH_INFO) << c.mask << " " << c.asked;
    EXPECT_EQ(read(SQL_CURSOR_TYPE), c.given) << c.mask << " " << c.asked;
  }
}

// The current row number needs an open cursor on a row.
TEST_F(StmtOptionsTest, RowNumberAndBookmark) {
  read(SQL_ROW_NUMBER, SQL_ERROR);
  EXPECT_EQ(state(), "24000") << "no cursor";
  ASSERT_EQ(execDirect(statement_, "select a from t"), SQL_SUCCESS);
  read(SQL_ROW_NUMBER, SQL_ERROR);
  EXPECT_EQ(state(), "24000") << "before the first row";
  statement_->rowsetStart_ = 11;
  statement_->rowsetIndex_ = 2;
  EXPECT_EQ(read(SQL_ROW_NUMBER), 13u);
  statement_->rowStatus_ = static_cast<uint16_t*>(ramAllocZ(4 * sizeof(uint16_t)));
  statement_->rowStatusCount_ = 4;
  EXPECT_EQ(read(SQL_ROW_NUMBER), 13u) << "a fetched row";
  for (uint16_t status : {SQL_ROW_DELETED, SQL_ROW_NOROW, SQL_ROW_ERROR}) {
    statement_->rowStatus_[2] = status;
    read(SQL_ROW_NUMBER, SQL_ERROR);
    EXPECT_EQ(state(), "S1109") << status;
  }
  statement_->rowStatus_[2] = SQL_ROW_SUCCESS;
  read(SQL_GET_BOOKMARK, SQL_ERROR);
  EXPECT_EQ(state(), "S1011") << "bookmarks off";
  statement_->rowsetStart_ = -1;
  read(SQL_ROW_NUMBER, SQL_ERROR);
  EXPECT_EQ(state(), "24000") << "after the last row";
  ASSERT_EQ(statement_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS);
  read(SQL_ROW_NUMBER, SQL_ERROR);
  EXPECT_EQ(state(), "24000") << "closed";
}

TEST_F(StmtOptionsTest, ScrollOptions) {
  connection_->scrollConcurrency = SQL_SCCO_READ_ONLY | SQL_SCCO_OPT_VALUES;
  connection_->scrollOptions = SQL_SO_FORWARD_ONLY | SQL_SO_KEYSET_DRIVEN | SQL_SO_MIXED;
  struct Case {
    SQLUSMALLINT concurrency;
    SQLLEN keyset;
    SQLUSMALLINT rowset;
    const char* state;
    SQLULEN cursorType;
    SQLULEN keysetSize;
  } cases[] = {
      {SQL_CONCUR_READ_ONLY, SQL_SCROLL_FORWARD_ONLY, 1, "", SQL_CURSOR_FORWARD_ONLY, 0},
      {SQL_CONCUR_VALUES, SQL_SCROLL_KEYSET_DRIVEN, 10, "", SQL_CURSOR_KEYSET_DRIVEN, 0},
      {SQL_CONCUR_READ_ONLY, 50, 10, "", SQL_CURSOR_KEYSET_DRIVEN, 50},
      {SQL_CONCUR_READ_ONLY, SQL_SCROLL_DYNAMIC, 10, "S1C00", 0, 0},
      {SQL_CONCUR_READ_ONLY, SQL_SCROLL_STATIC, 10, "S1C00", 0, 0},
      {SQL_CONCUR_READ_ONLY, 1, 10, "S1C00", 0, 0},
      {SQL_CONCUR_LOCK, SQL_SCROLL_FORWARD_ONLY, 1, "S1C00", 0, 0},
      {0, SQL_SCROLL_FORWARD_ONLY, 1, "S1108", 0, 0},
      {5, SQL_SCROLL_FORWARD_ONLY, 1, "S1108", 0, 0},
  };
  for (const Case& c : cases) {
    SQLRETURN rc = statement_->SQLSetScrollOptions(c.concurrency, c.keyset, c.rowset);
    EXPECT_EQ(rc, *c.state ? SQL_ERROR : SQL_SUCCESS) << c.concurrency << " " << c.keyset;
    EXPECT_EQ(state(), c.state) << c.concurrency << " " << c.keyset;
    if (*c.state) continue;
    EXPECT_EQ(read(SQL_CONCURRENCY), c.concurrency);
    EXPECT_EQ(read(SQL_CURSOR_TYPE), c.cursorType) << c.keyset;
    EXPECT_EQ(read(SQL_KEYSET_SIZE), c.keysetSize) << c.keyset;
    EXPECT_EQ(read(SQL_ROWSET_SIZE), c.rowset);
  }
}

// The file drivers' row-changing options need a transaction in
// manual-commit mode; the framework opens it before the driver sees them.
TEST_F(StmtOptionsTest, RowChangingOptionsOpenATransaction) {
  for (uint16_t option : {stmtOptionDeleteRow, stmtOptionLockForChange, stmtOptionLockCurrentRow}) {
    statement_->SQLSetStmtOption(option, 0);
    EXPECT_EQ(connection_->started, 0) << "autocommit on: " << option;
  }
  ASSERT_EQ(connection_->SQLSetConnectOption(SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
  statement_->SQLSetStmtOption(SQL_MAX_ROWS, 1);
  EXPECT_EQ(connection_->started, 0) << "another option";
  EXPECT_EQ(statement_->SQLSetStmtOption(stmtOptionLockForChange, 0), SQL_ERROR) << "the base knows none";
  EXPECT_EQ(connection_->started, 1);
  EXPECT_TRUE(connection_->getFlags() & BaseConnection::flagTransaction);
  statement_->SQLSetStmtOption(stmtOptionDeleteRow, 0);
  EXPECT_EQ(connection_->started, 1) << "one transaction";
}

}  // namespace
