// Execution and fetch of the engine's statement on the test file driver:
// rows and column values of every type, long values in pieces (text, and
// binary as hexadecimal text written in place), values of this
// transaction's change log, the early count, random moves over the keyset,
// and the record lock a FOR UPDATE OF cursor holds.
#include "tests/flat/flat_sql_test_support.h"

#include "base/results/base_field.h"
#include "base/handles/base_message_ids.h"
#include "flat/connection/flat_connection.h"
#include "flat/query/flat_keyset.h"

namespace {

class FlatFetchTest : public FlatSqlFixture {
 protected:
  // Runs an engine call with the statement's error list current.
  template <class F>
  KvStatus call(FlatStatement* statement, F f) {
    statement->getErrorList().clearErrors();
    KvErrorKeeper::setErrorList(&statement->getErrorList());
    KvStatus status = f();
    KvErrorKeeper::giveUpErrorList();
    return status;
  }
  KvStatus execute(FlatStatement* statement = nullptr) {
    if (!statement) statement = statement_;
    return call(statement, [&] { return statement->executePreparedStmt(); });
  }
  KvStatus fetch(uint16_t* end, FlatStatement* statement = nullptr) {
    if (!statement) statement = statement_;
    return call(statement, [&] { return statement->fetchRow(end); });
  }
  // Column value as SQL_C_CHAR text; NULL as "NULL", a failure as "ERROR n".
  std::string text(uint16_t column, FlatStatement* statement = nullptr, uint32_t size = 256) {
    if (!statement) statement = statement_;
    std::vector<char> buffer(size + 1, '#');
    SQLLEN length = 0;
    BaseOutString out(buffer.data(), SQLLEN(size), &length);
    statement->setGetDataOffset(0);
    if (call(statement, [&] { return statement->getData(column, SQL_C_CHAR, &out); }) != kvSuccess)
      return "ERROR " + std::to_string(lastError(statement));
    if (length == SQL_NULL_DATA) return "NULL";
    return std::string(buffer.data());
  }
  // Every row of sql, its columns as text joined by "|".
  std::vector<std::string> run(const std::string& sql, FlatStatement* statement = nullptr) {
    if (!statement) statement = statement_;
    if (prepare(sql, statement) != kvSuccess) return {"PREPARE " + std::to_string(lastError(statement))};
    if (execute(statement) != kvSuccess) return {"EXECUTE " + std::to_string(lastError(statement))};
    std::vector<std::string> out;
    for (int n = 0; n < 100; ++n) {
      uint16_t end = 0;
      if (fetch(&end, statement) != kvSuccess) {
        out.push_back("FETCH " + std::to_string(lastError(statement)));
        break;
      }
      if (end) break;
      std::string row;
      for (uint16_t c = 1; c <= head(statement)->getItemCount(); ++c) {
        std::string v = text(c, statement);
        v.erase(v.find_last_not_of(' ') + 1);
        row += (c > 1 ? "|" : "") + v;
      }
      out.push_back(row);
    }
    return out;
  }
};

TEST_F(FlatFetchTest, RowsOfPlainAndComputedItems) {
  struct Case {
    const char* sql;
    std::vector<std::string> rows;
  } cases[] = {
      {"SELECT * FROM emp",
       {"1|SMITH|ACCT|1000.5|1995-07-04|1|first", "2|JONES|SALE|2000|2000-02-29|0|NULL", "3|||NULL|NULL|NULL|NULL"}},
      {"SELECT ID, SAL + 1, NAME FROM emp WHERE SAL > 1500", {"2|2001|JONES"}},
      {"SELECT ID * 2, UPPER(DEPT), HIRED + 1, ACTIVE FROM emp WHERE ID < 3",
       {"2|ACCT|1995-07-05|1", "4|SALE|2000-03-01|0"}},
      // A computed blank date is NULL.
      {"SELECT ID, HIRED + 1 FROM emp WHERE ID = 3", {"3|NULL"}},
      {"SELECT ID FROM emp WHERE NAME = 'NOBODY'", {}},
      {"SELECT ID FROM emp ORDER BY ID DESC", {"3", "2", "1"}},
      {"SELECT DISTINCT DEPT FROM dept", {"ACCT", "SALE"}},
      {"SELECT COUNT(*), SUM(SAL), MAX(ID) FROM emp", {"3|3000.5|3"}},
      {"SELECT COUNT(*) FROM emp WHERE ID > 10", {"0"}},
      {"SELECT e.NAME, d.TITLE FROM emp e, dept d WHERE e.DEPT = d.DEPT ORDER BY 1",
       {"JONES|Sales", "SMITH|Accounting"}},
  };
  for (const Case& c : cases) EXPECT_EQ(run(c.sql), c.rows) << c.sql;
}

TEST_F(FlatFetchTest, ResultColumnsAreDescribedAtPrepare) {
  ASSERT_EQ(prepare("SELECT ID, NAME, SAL * 2, NOTE FROM emp"), kvSuccess) << lastText();
  ASSERT_EQ(statement_->getFieldCount(), 4);
  BaseField** fields = statement_->getFields();
  EXPECT_STREQ(kvC(fields[0]->name), "ID");
  EXPECT_EQ(fields[0]->sqlType, SQL_INTEGER);
  EXPECT_EQ(fields[1]->sqlType, SQL_CHAR);
  EXPECT_EQ(fields[1]->precision, 10u);
  EXPECT_STREQ(kvC(fields[1]->typeName), "CHAR");
  EXPECT_EQ(fields[2]->sqlType, SQL_DOUBLE);
  EXPECT_EQ(fields[3]->sqlType, SQL_LONGVARCHAR);
}

TEST_F(FlatFetchTest, GetDataBeforeTheFirstFetchIsACursorStateError) {
  ASSERT_EQ(prepare("SELECT ID FROM emp"), kvSuccess);
  ASSERT_EQ(execute(), kvSuccess);
  EXPECT_EQ(text(1), "ERROR 0");
  EXPECT_EQ(statement_->getErrorList().getLastError()->getStateIndex(), stateCursorState);
  uint16_t end = 0;
  ASSERT_EQ(fetch(&end), kvSuccess);
  EXPECT_EQ(text(2), "ERROR 0");
  EXPECT_EQ(statement_->getErrorList().getLastError()->getStateIndex(), stateColumnNumber);
}

TEST_F(FlatFetchTest, LongTextInPiecesOfNineCharacters) {
  writeTable("memo", {{"ID", 'I', 4, 0}, {"NOTE", 'L', 200, 0}}, {{"1", "abcdefghijklmnopqrstuvw"}, {"2", ""}});
  ASSERT_EQ(prepare("SELECT NOTE FROM memo"), kvSuccess);
  ASSERT_EQ(execute(), kvSuccess);
  uint16_t end = 0;
  ASSERT_EQ(fetch(&end), kvSuccess);
  std::string whole;
  std::vector<SQLLEN> lengths;
  std::vector<size_t> warnings;
  for (uint32_t offset = 0;; offset += 9) {
    char piece[10];
    SQLLEN length = 0;
    BaseOutString out(piece, SQLLEN(sizeof(piece)), &length);
    statement_->setGetDataOffset(offset);
    ASSERT_EQ(call(statement_, [&] { return statement_->getData(1, SQL_C_CHAR, &out); }), kvSuccess);
    lengths.push_back(length);
    warnings.push_back(statement_->getErrorList().getCount());
    whole += piece;
    if (statement_->getErrorList().getCount() == 0) break;
    KvError* e = statement_->getErrorList().getLastError();
    EXPECT_EQ(e->getNumber(), msgColumnTruncated);
    EXPECT_EQ(std::strlen(piece), 9u);
  }
  EXPECT_EQ(whole, "abcdefghijklmnopqrstuvw");
  EXPECT_EQ(lengths, (std::vector<SQLLEN>{23, 14, 5}));
  EXPECT_EQ(warnings, (std::vector<size_t>{1, 1, 0}));
  // An empty long text is NULL.
  ASSERT_EQ(fetch(&end), kvSuccess);
  EXPECT_EQ(text(1), "NULL");
}

TEST_F(FlatFetchTest, LongBinaryAsTextIsHexWrittenInPlaceWithinTheBuffer) {
  writeTable("blob", {{"DATA", 'L', 200, 0}}, {{"\x01\xAB\x7F\xFF\x10"}});
  ASSERT_EQ(prepare("SELECT DATA FROM blob"), kvSuccess);
  // The test format has no long binary type: the column is taken as one.
  head()->getItem(0)->sqlType = SQL_LONGVARBINARY;
  statement_->getFields()[0]->sqlType = SQL_LONGVARBINARY;
  ASSERT_EQ(execute(), kvSuccess);
  uint16_t end = 0;
  ASSERT_EQ(fetch(&end), kvSuccess);
  struct Case {
    uint32_t size;
    const char* text;  // what the buffer holds, null: untouched
    SQLLEN length;
    int truncated;
  } cases[] = {
      {0, nullptr, 10, 1}, {1, "", 10, 1},       {2, "", 10, 1},           {3, "01", 10, 1},
      {4, "01", 10, 1},    {10, "01AB7FFF", 10, 1}, {11, "01AB7FFF10", 10, 0}, {12, "01AB7FFF10", 10, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    unsigned char buffer[32];
    std::memset(buffer, '#', sizeof(buffer));
    SQLLEN length = 0;
    BaseOutString out(c.size ? buffer : nullptr, SQLLEN(c.size), &length);
    statement_->setGetDataOffset(0);
    ASSERT_EQ(call(statement_, [&] { return statement_->getData(1, SQL_C_CHAR, &out); }), kvSuccess);
    EXPECT_EQ(length, c.length);
    EXPECT_EQ(statement_->getErrorList().getCount(), size_t(c.truncated));
    if (c.text) {
      EXPECT_STREQ(reinterpret_cast<char*>(buffer), c.text);
    }
    // Nothing beyond the buffer is written.
    for (uint32_t i = c.size; i < sizeof(buffer); ++i) ASSERT_EQ(buffer[i], '#') << i;
  }
  // The second piece starts where the first ended (2 bytes into a 5-byte
  // buffer): the remaining count doubles as well.
  unsigned char buffer[6];
  SQLLEN length = 0;
  BaseOutString out(buffer, SQLLEN(sizeof(buffer)), &length);
  statement_->setGetDataOffset(2);
  ASSERT_EQ(call(statement_, [&] { return statement_->getData(1, SQL_C_CHAR, &out); }), kvSuccess);
  EXPECT_STREQ(reinterpret_cast<char*>(buffer), "7FFF");
  EXPECT_EQ(length, 6);
}

TEST_F(FlatFetchTest, ChangeLogValuesAreWhatTheTransactionSees) {
  // Rows changed in the open transaction through the private options
  // (the column store): the SELECT of the same connection sees them, long
  // value included, another connection does not.
  autocommit(connection_, false);
  FlatTestStatement* writer = newStatement();
  ASSERT_EQ(prepare("SELECT ID, NAME, NOTE FROM emp WHERE ID = 1", writer), kvSuccess);
  ASSERT_EQ(execute(writer), kvSuccess);
  uint16_t end = 0;
  ASSERT_EQ(fetch(&end, writer), kvSuccess);
  FlatRowRequest update = {flatOptionUpdateRow, 1};
  auto option = [&](uint16_t number, const void* argument) {
    return call(writer, [&] {
      return writer->setStmtOption(number, SQLULEN(reinterpret_cast<uintptr_t>(argument)));
    });
  };
  ASSERT_EQ(option(flatOptionLockForChange, &update), kvSuccess) << lastText(writer);
  const std::string note(30, 'n');
  FlatRowValue name = {SQL_C_CHAR, 0, const_cast<char*>("CHANGED"), 0, 2};
  FlatRowValue memo = {SQL_C_CHAR, 0, const_cast<char*>(note.c_str()), 0, 3};
  ASSERT_EQ(option(flatOptionRowValue, &name), kvSuccess) << lastText(writer);
  ASSERT_EQ(option(flatOptionRowValue, &memo), kvSuccess) << lastText(writer);
  ASSERT_EQ(option(flatOptionUpdateRow, &update), kvSuccess) << lastText(writer);

  EXPECT_EQ(run("SELECT ID, NAME, NOTE, UPPER(NAME) FROM emp WHERE ID < 3"),
            (std::vector<std::string>{"1|CHANGED|" + note + "|CHANGED", "2|JONES|NULL|JONES"}));
  // The long value from the log in pieces.
  ASSERT_EQ(prepare("SELECT NOTE FROM emp WHERE ID = 1"), kvSuccess);
  ASSERT_EQ(execute(), kvSuccess);
  ASSERT_EQ(fetch(&end), kvSuccess);
  char piece[10];
  SQLLEN length = 0;
  BaseOutString out(piece, SQLLEN(sizeof(piece)), &length);
  statement_->setGetDataOffset(18);
  ASSERT_EQ(call(statement_, [&] { return statement_->getData(1, SQL_C_CHAR, &out); }), kvSuccess);
  EXPECT_STREQ(piece, "nnnnnnnnn");
  EXPECT_EQ(length, 12);

  FlatTestConnection* other = connect();
  auto* watcher = flatBuild<FlatTestStatement>(static_cast<FlatConnection*>(other));
  statements_.push_back(watcher);
  EXPECT_EQ(run("SELECT NAME, NOTE FROM emp WHERE ID = 1", watcher), (std::vector<std::string>{"SMITH|first"}));
  use(connection_);
}

TEST_F(FlatFetchTest, EarlyCountUnlessEvaluationIsDeferred) {
  for (int deferred : {0, 1}) {
    SCOPED_TRACE(deferred);
    if (deferred)
      connection_->addEngineFlags(flatDeferQuery);
    else
      connection_->clearEngineFlags(flatDeferQuery);
    ASSERT_EQ(prepare("SELECT ID FROM emp WHERE ID > 1"), kvSuccess);
    ASSERT_EQ(execute(), kvSuccess);
    uint16_t end = 0;
    ASSERT_EQ(fetch(&end), kvSuccess);
    ASSERT_NE(statement_->getKeyset(), nullptr);
    EXPECT_EQ(statement_->getKeyset()->isComplete(), !deferred);
    EXPECT_EQ(statement_->getCachedResultCount(), deferred ? 0u : 2u);
    ASSERT_EQ(fetch(&end), kvSuccess);
    ASSERT_EQ(fetch(&end), kvSuccess);
    EXPECT_EQ(end, 1);
    EXPECT_EQ(statement_->getCachedResultCount(), 2u);
  }
}

TEST_F(FlatFetchTest, RandomRowsOverTheKeyset) {
  ASSERT_EQ(prepare("SELECT ID FROM emp ORDER BY ID DESC"), kvSuccess);
  ASSERT_EQ(execute(), kvSuccess);
  struct Case {
    uint32_t row;
    uint16_t status;
    const char* id;
  } cases[] = {{2, SQL_ROW_SUCCESS, "2"}, {4, SQL_ROW_NOROW, nullptr}, {1, SQL_ROW_SUCCESS, "3"},
               {3, SQL_ROW_SUCCESS, "1"}, {0, SQL_ROW_NOROW, nullptr}, {1000, SQL_ROW_NOROW, nullptr}};
  for (const Case& c : cases) {
    uint16_t status = 99;
    ASSERT_EQ(call(statement_, [&] { return statement_->fetchRandomRow(c.row, &status); }), kvSuccess) << c.row;
    EXPECT_EQ(status, c.status) << c.row;
    if (c.id) {
      EXPECT_EQ(text(1), c.id) << c.row;
    }
  }
  // A row deleted after it entered the keyset reads back as deleted.
  FlatTestStatement* other = newStatement();
  ASSERT_EQ(prepare("SELECT ID FROM emp WHERE ID = 2", other), kvSuccess);
  ASSERT_EQ(execute(other), kvSuccess);
  uint16_t end = 0;
  ASSERT_EQ(fetch(&end, other), kvSuccess);
  ASSERT_EQ(call(other, [&] { return other->setStmtOption(flatOptionDeleteRow, 0); }), kvSuccess)
      << lastText(other);
  uint16_t status = 99;
  ASSERT_EQ(call(statement_, [&] { return statement_->fetchRandomRow(2, &status); }), kvSuccess);
  EXPECT_EQ(status, SQL_ROW_DELETED);
}

TEST_F(FlatFetchTest, ForUpdateHoldsTheCurrentRowsLockOnly) {
  ASSERT_EQ(prepare("SELECT ID FROM emp FOR UPDATE OF NAME"), kvSuccess) << lastText();
  ASSERT_EQ(execute(), kvSuccess);
  auto* shared = static_cast<FlatTestSharedDesc*>(head()->getFirstTable()->getShared());
  for (uint32_t row = 1; row <= 3; ++row) {
    uint16_t end = 0;
    ASSERT_EQ(fetch(&end), kvSuccess);
    for (uint32_t record = 1; record <= 3; ++record)
      EXPECT_EQ(shared->holds(record), record == row) << row << " " << record;
  }
  uint16_t end = 0;
  ASSERT_EQ(fetch(&end), kvSuccess);
  EXPECT_EQ(end, 1);
  for (uint32_t record = 1; record <= 3; ++record) EXPECT_FALSE(shared->holds(record)) << record;
}

SQLCHAR* sqlText(const char* text) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text)); }

// The SQLSTATE of the statement's oldest error, as SQLError hands it out.
std::string oldestState(FlatStatement* statement) {
  SQLCHAR state[6] = {0};
  statement->getErrorList().SQLError(state, nullptr, nullptr, 0, nullptr);
  return reinterpret_cast<char*>(state);
}

// The first fetch of a sorted, distinct, grouped or united result does its
// work under the table locks: compiling the keys, filling the keyset,
// sorting. The sub-allocator is given a little more room each round, so
// that its failure lands at one step of that work after another until the
// fetch succeeds; every failure is S1001 and leaves the table to the next
// statement.
TEST_F(FlatFetchTest, AnAllocationFailureInTheFirstFetchIsS1001AndFreesTheTable) {
  struct Case {
    const char* sql;
    const char* first;  // the first row's first column
  } cases[] = {
      {"SELECT NAME, SAL FROM emp ORDER BY NAME DESC, SAL", "SMITH     "},
      {"SELECT DISTINCT DEPT FROM emp ORDER BY 1 DESC", "SALE"},
      {"SELECT DEPT, COUNT(*), SUM(SAL) FROM emp GROUP BY DEPT ORDER BY 2 DESC, 1", "    "},
      {"SELECT NAME FROM emp UNION SELECT DEPT FROM dept ORDER BY 1 DESC", "SMITH     "},
  };
  const RamLimits saved = ramGetLimits();
  FlatStatement* next = newStatement();
  for (const Case& c : cases) {
    uint32_t failures = 0;
    bool fetched = false;
    for (uint32_t room = 0; room < (64u << 20) && !fetched; room += 64 + room / 8) {
      ASSERT_EQ(statement_->SQLExecDirect(sqlText(c.sql), SQL_NTS), SQL_SUCCESS) << c.sql;
      ramSetLimits({480, ramGetStats().systemBytes + room, 1});
      const SQLRETURN rc = statement_->SQLFetch();
      ramSetLimits(saved);
      if (rc == SQL_SUCCESS) {
        fetched = true;
        char value[32] = "?";
        SQLLEN length = 0;
        ASSERT_EQ(statement_->SQLGetData(1, SQL_C_CHAR, value, sizeof value, &length), SQL_SUCCESS);
        EXPECT_STREQ(value, c.first) << c.sql;
      } else {
        ++failures;
        EXPECT_EQ(rc, SQL_ERROR) << c.sql << " with " << room << " bytes";
        EXPECT_EQ(oldestState(statement_), "S1001") << c.sql << " with " << room << " bytes";
      }
      ASSERT_EQ(statement_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS);
      SQLRETURN counted = SQL_ERROR;
      char count[16] = "?";
      runOrFail("the next statement on the table", [&] {
        SQLLEN length = 0;
        counted = next->SQLExecDirect(sqlText("SELECT COUNT(*) FROM emp"), SQL_NTS);
        if (counted == SQL_SUCCESS) counted = next->SQLFetch();
        if (counted == SQL_SUCCESS) counted = next->SQLGetData(1, SQL_C_CHAR, count, sizeof count, &length);
        next->SQLFreeStmt(SQL_CLOSE);
      });
      ASSERT_EQ(counted, SQL_SUCCESS) << c.sql << " with " << room << " bytes";
      EXPECT_STREQ(count, "3");
    }
    EXPECT_TRUE(fetched) << c.sql;
    EXPECT_GT(failures, 3u) << c.sql;
  }
}

}  // namespace
