// The engine's statement: its state, the lock bracket around execute and
// fetch (one lock a table, ascending table ids, at most 32 tables), and the
// private options 1040-1050 in autocommit mode and inside transactions.
#include "tests/flat/flat_test_support.h"

#include "base/handles/base_messages.h"
#include "flat/exec/flat_statement.h"
#include "flat/flat_message_ids.h"

#include <atomic>
#include <new>
#include <sched.h>
#include <thread>

namespace {

class FlatStatementTest : public FlatTestFixture {
 protected:
  static std::vector<uint16_t> errors(FlatStatement* statement) {
    std::vector<uint16_t> numbers;
    for (uint32_t i = 0; KvError* e = statement->getErrorList().getErrorAtPos(i); ++i)
      numbers.push_back(e->getNumber());
    return numbers;
  }
  // Sets an option as the framework does inside a call on the statement.
  static KvStatus option(FlatStatement* statement, uint16_t number, const void* argument) {
    statement->getErrorList().clearErrors();
    KvErrorKeeper::setErrorList(&statement->getErrorList());
    KvStatus status = statement->setStmtOption(number, SQLULEN(reinterpret_cast<uintptr_t>(argument)));
    KvErrorKeeper::giveUpErrorList();
    return status;
  }
  static KvStatus value(FlatStatement* statement, uint16_t item, int16_t cType, const void* data, int32_t length) {
    FlatRowValue v = {uint16_t(cType), 0, const_cast<void*>(data), length, item};
    return option(statement, flatOptionRowValue, &v);
  }
  // Adds a row (id, name) through options 1042, 1043 and 1040.
  static KvStatus addRow(FlatStatement* statement, int32_t id, const char* name) {
    FlatRowRequest request = {0, 1};
    if (option(statement, flatOptionLockForChange, &request) != kvSuccess) return kvFailure;
    if (value(statement, 1, SQL_C_LONG, &id, 4) != kvSuccess) return kvFailure;
    if (value(statement, 2, SQL_C_CHAR, name, 0) != kvSuccess) return kvFailure;
    return option(statement, flatOptionAddRow, nullptr);
  }
};

TEST_F(FlatStatementTest, StateOfAFreshStatementAndRefusedOptions) {
  FlatTestConnection* connection = connect();
  auto* statement = flatBuild<FlatTestStatement>(static_cast<FlatConnection*>(connection));
  int32_t count = 9;
  EXPECT_EQ(statement->rowCount(&count), kvSuccess);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(statement->getStatementKind(), 0);
  EXPECT_EQ(statement->getHeadDescriptor(), nullptr);
  uint32_t rows = 9;
  EXPECT_EQ(option(statement, flatOptionRowCount, &rows), kvSuccess);
  EXPECT_EQ(rows, 0u);
  for (uint16_t number : {uint16_t(SQL_QUERY_TIMEOUT), uint16_t(SQL_ASYNC_ENABLE), uint16_t(1046), uint16_t(1048),
                          uint16_t(1049)}) {
    EXPECT_EQ(option(statement, number, nullptr), kvFailure) << number;
    ASSERT_EQ(statement->getErrorList().getCount(), 1u) << number;
    EXPECT_EQ(statement->getErrorList().getErrorAtPos(0)->getStateIndex(), stateNotCapable) << number;
  }
  // Options on a statement with nothing prepared: a sequence error.
  EXPECT_EQ(option(statement, flatOptionAddRow, nullptr), kvFailure);
  EXPECT_EQ(statement->getErrorList().getErrorAtPos(0)->getStateIndex(), stateSequence);
  // Every text is a driver statement until the classifier exists; the
  // engine knows none.
  KvErrorKeeper::setErrorList(&statement->getErrorList());
  EXPECT_EQ(statement->prepareCompile(nullptr), kvFailure);
  KvErrorKeeper::giveUpErrorList();
  EXPECT_EQ(errors(statement).back(), msgUnknownStatement);
  EXPECT_STREQ(kvC(baseSqlStateText(statement->getErrorList().getLastError()->getStateIndex())), "37000");
  drop(statement);
}

TEST_F(FlatStatementTest, RowValueLengths) {
  makeTable("emp");
  FlatTestConnection* connection = connect();
  FlatTestStatement* statement = query(connection, {"emp"});
  EXPECT_EQ(value(statement, 2, SQL_C_CHAR, "abc", 0), kvSuccess) << "0 counts as SQL_NTS";
  EXPECT_EQ(statement->getPendingValueCount(), 1);
  EXPECT_EQ(value(statement, 2, SQL_C_CHAR, "abc", -1), kvFailure);
  EXPECT_EQ(errors(statement), std::vector<uint16_t>{6001});
  EXPECT_EQ(statement->getErrorList().getErrorAtPos(0)->getStateIndex(), stateStringLength);
  EXPECT_NE(std::string(kvC(statement->getErrorList().getErrorAtPos(0)->getErrorText())).find("2"),
            std::string::npos);
  EXPECT_EQ(value(statement, 4, SQL_C_BINARY, "ab", -5), kvFailure);
  EXPECT_EQ(value(statement, 2, SQL_C_CHAR, "longer than ten", SQL_NTS), kvFailure) << "the driver's checkValue";
  EXPECT_EQ(value(statement, 9, SQL_C_CHAR, "x", 1), kvFailure) << "no such item";
  EXPECT_EQ(errors(statement), std::vector<uint16_t>{0});
  EXPECT_EQ(statement->getErrorList().getErrorAtPos(0)->getStateIndex(), stateColumnNumber);
  drop(statement);
}

TEST_F(FlatStatementTest, PrivateOptionsWriteDirectlyInAutocommit) {
  makeTable("emp");
  FlatTestConnection* connection = connect();
  FlatTestStatement* statement = query(connection, {"emp"});
  ASSERT_EQ(addRow(statement, 1, "one"), kvSuccess);
  ASSERT_EQ(addRow(statement, 2, "two"), kvSuccess);
  EXPECT_EQ(statement->getPendingValueCount(), 0);
  FlatFileDesc* reader = table(statement);
  ASSERT_EQ(rows(reader).size(), 2u);
  EXPECT_EQ(reader->getShared()->getRecordCount(), 2u);
  // A duplicate of the unique ID is refused by the driver's key check.
  EXPECT_EQ(addRow(statement, 2, "again"), kvFailure);
  EXPECT_EQ(errors(statement), std::vector<uint16_t>{msgDuplicateKey});
  EXPECT_EQ(statement->getPendingValueCount(), 0) << "a failure drops the pending values";

  // Update the current row (the first) and delete the second.
  ASSERT_EQ(flatStartScan(reader), kvSuccess);
  uint16_t found = 0;
  ASSERT_EQ(flatReadNext(reader, &found), kvSuccess);
  FlatRowRequest update = {flatOptionUpdateRow, 1};
  ASSERT_EQ(option(statement, flatOptionLockForChange, &update), kvSuccess);
  ASSERT_EQ(value(statement, 2, SQL_C_CHAR, "uno", 0), kvSuccess);
  ASSERT_EQ(option(statement, flatOptionUpdateRow, &update), kvSuccess);
  ASSERT_EQ(flatReadNext(reader, &found), kvSuccess);
  ASSERT_EQ(option(statement, flatOptionDeleteRow, nullptr), kvSuccess);
  std::vector<Row> seen = rows(reader);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0][1], "uno       ");
  ASSERT_EQ(flatStartScan(reader), kvSuccess);
  ASSERT_EQ(flatReadNext(reader, &found), kvSuccess);
  EXPECT_EQ(option(statement, flatOptionLockCurrentRow, nullptr), kvSuccess);
  EXPECT_EQ(option(statement, flatOptionUnlock, &update), kvSuccess);

  // Without the capabilities the options are refused.
  connection->clearEngineFlags(flatInsertAllowed | flatDeleteAllowed | flatUpdateAllowed);
  EXPECT_EQ(addRow(statement, 5, "five"), kvFailure);
  EXPECT_EQ(statement->getErrorList().getErrorAtPos(0)->getStateIndex(), stateNotCapable);
  EXPECT_EQ(option(statement, flatOptionDeleteRow, nullptr), kvFailure);
  EXPECT_EQ(option(statement, flatOptionUpdateRow, &update), kvFailure);
  EXPECT_EQ(statement->getErrorList().getErrorAtPos(0)->getStateIndex(), stateNotCapable);
  drop(statement);
}

TEST_F(FlatStatementTest, PrivateOptionsInATransactionGoToTheLog) {
  makeTable("emp");
  FlatTestConnection* connection = connect();
  FlatTestStatement* statement = query(connection, {"emp"});
  ASSERT_EQ(addRow(statement, 1, "stored"), kvSuccess);
  FlatTestConnection* other = connect();
  FlatTestStatement* watcher = query(other, {"emp"});

  use(connection);
  autocommit(connection, false);
  ASSERT_EQ(addRow(statement, 2, "pending"), kvSuccess);
  FlatFileDesc* reader = table(statement);
  uint16_t found = 0;
  ASSERT_EQ(flatStartScan(reader), kvSuccess);
  ASSERT_EQ(flatReadNext(reader, &found), kvSuccess);  // the stored row
  ASSERT_EQ(option(statement, flatOptionDeleteRow, nullptr), kvSuccess);
  EXPECT_EQ(option(statement, flatOptionDeleteRow, nullptr), kvFailure) << "deleted already";
  EXPECT_EQ(errors(statement), std::vector<uint16_t>{msgRecordLockGone});
  std::vector<Row> mine = rows(reader);
  ASSERT_EQ(mine.size(), 1u);
  EXPECT_EQ(mine[0][1], "pending   ");
  use(other);
  EXPECT_EQ(rows(table(watcher)).size(), 1u);
  EXPECT_EQ(rows(table(watcher))[0][1], "stored    ");

  use(connection);
  ASSERT_EQ(connection->SQLTransact(SQL_COMMIT), SQL_SUCCESS);
  use(other);
  std::vector<Row> theirs = rows(table(watcher));
  ASSERT_EQ(theirs.size(), 1u);
  EXPECT_EQ(theirs[0][1], "pending   ");
  drop(watcher);
  use(connection);
  drop(statement);
}

TEST_F(FlatStatementTest, LockCurrentRowOfADeletedRowFails) {
  makeTable("emp");
  FlatTestConnection* connection = connect();
  FlatTestStatement* statement = query(connection, {"emp"});
  FlatTestStatement* deleter = query(connection, {"emp"});
  ASSERT_EQ(addRow(statement, 1, "one"), kvSuccess);
  uint16_t found = 0;
  ASSERT_EQ(flatStartScan(table(statement)), kvSuccess);
  ASSERT_EQ(flatReadNext(table(statement), &found), kvSuccess);
  ASSERT_EQ(flatStartScan(table(deleter)), kvSuccess);
  ASSERT_EQ(flatReadNext(table(deleter), &found), kvSuccess);
  ASSERT_EQ(option(deleter, flatOptionDeleteRow, nullptr), kvSuccess);
  EXPECT_EQ(option(statement, flatOptionLockCurrentRow, nullptr), kvFailure);
  EXPECT_EQ(errors(statement), std::vector<uint16_t>{msgRecordLockGone});
  drop(deleter);
  drop(statement);
}

TEST_F(FlatStatementTest, TheLockListHoldsEachTableOnceInAscendingId) {
  for (const char* name : {"a", "b"}) makeTable(name);
  FlatTestConnection* connection = connect();
  FlatTestStatement* selfJoin = query(connection, {"a", "a"});
  {
    FlatLockBracket bracket(selfJoin);
    ASSERT_EQ(bracket.enter(), kvSuccess);
    EXPECT_EQ(selfJoin->getLockCount(), 1);
  }
  FlatTestStatement* ab = query(connection, {"a", "b"});
  FlatTestStatement* ba = query(connection, {"b", "a"});
  ASSERT_EQ(ab->getLockCount(), 2);
  ASSERT_EQ(ba->getLockCount(), 2);
  for (uint16_t i = 0; i < 2; ++i) EXPECT_EQ(ab->getLockedTable(i), ba->getLockedTable(i));
  EXPECT_LT(ab->getLockedTable(0)->getTableId(), ab->getLockedTable(1)->getTableId());
  EXPECT_EQ(ab->executePreparedStmt(), kvSuccess);
  uint16_t end = 0;
  EXPECT_EQ(ab->fetchRow(&end), kvSuccess);
  EXPECT_EQ(end, 1);
  EXPECT_EQ(ab->setToPreparedState(), kvSuccess);
  EXPECT_TRUE(ab->getEngineFlags() & FlatStatement::stmtFresh);
  drop(ab);
  drop(ba);
  drop(selfJoin);
}

TEST_F(FlatStatementTest, AThirtyThirdTableIsRefusedAtPrepare) {
  std::vector<std::string> names;
  for (int i = 0; i < 33; ++i) {
    names.push_back("t" + std::to_string(i));
    makeTable(names.back(), {{"ID", 'I', 4, 0}});
  }
  FlatTestConnection* connection = connect();
  FlatTestStatement* most = query(connection, std::vector<std::string>(names.begin(), names.begin() + 32));
  EXPECT_EQ(most->getLockCount(), 32);
  drop(most);
  KvStatus status = kvSuccess;
  FlatTestStatement* tooMany = query(connection, names, &status);
  EXPECT_EQ(status, kvFailure);
  EXPECT_EQ(errorsOf(connection), std::vector<uint16_t>{msgTooManyTables});
  EXPECT_EQ(tooMany->getHeadDescriptor(), nullptr);
  EXPECT_EQ(tooMany->getLockCount(), 0);
  drop(tooMany);
}

// A query whose execution yields while it holds its tables' locks, so that
// two of them with their tables in opposite FROM orders would deadlock if
// the bracket locked in FROM order.
class YieldingQuery : public FlatSqlDesc {
 public:
  explicit YieldingQuery(FlatStatement* statement) : FlatSqlDesc(statement) {}
  KvStatus execute() override {
    sched_yield();
    return kvSuccess;
  }
};

TEST_F(FlatStatementTest, OppositeFromOrdersOnTwoThreadsDoNotDeadlock) {
  for (const char* name : {"a", "b"}) makeTable(name);
  FlatTestConnection* connection = connect();
  auto yielding = [](FlatStatement* statement) -> FlatSqlDesc* { return new YieldingQuery(statement); };
  FlatTestStatement* ab = query(connection, {"a", "b"}, nullptr, yielding);
  FlatTestStatement* ba = query(connection, {"b", "a"}, nullptr, yielding);
  std::atomic<int> failures{0};
  auto run = [&](FlatStatement* statement) {
    KvErrorKeeper::setErrorList(&statement->getErrorList());
    for (int i = 0; i < 2000; ++i) {
      uint16_t end = 0;
      if (statement->executePreparedStmt() != kvSuccess || statement->fetchRow(&end) != kvSuccess) ++failures;
    }
    KvErrorKeeper::giveUpErrorList();
  };
  std::thread first(run, ab);
  std::thread second(run, ba);
  first.join();
  second.join();
  EXPECT_EQ(failures.load(), 0);
  drop(ab);
  drop(ba);
}

// A query whose execution throws, as a standard container does when it
// cannot get memory, while the statement holds its tables' locks.
class ThrowingQuery : public FlatSqlDesc {
 public:
  explicit ThrowingQuery(FlatStatement* statement) : FlatSqlDesc(statement) {}
  KvStatus execute() override { throw std::bad_alloc(); }
};

TEST_F(FlatStatementTest, AnExceptionUnderTheLockBracketLetsGoOfTheTables) {
  makeTable("a");
  FlatTestConnection* connection = connect();
  auto throwing = [](FlatStatement* statement) -> FlatSqlDesc* { return new ThrowingQuery(statement); };
  FlatTestStatement* failing = query(connection, {"a"}, nullptr, throwing);
  FlatTestStatement* next = query(connection, {"a"});
  KvErrorKeeper::setErrorList(&failing->getErrorList());
  EXPECT_THROW(static_cast<void>(failing->executePreparedStmt()), std::bad_alloc);
  KvErrorKeeper::giveUpErrorList();
  KvStatus executed = kvFailure, fetched = kvFailure;
  uint16_t end = 0;
  runOrFail("the next statement on the table", [&] {
    KvErrorKeeper::setErrorList(&next->getErrorList());
    executed = next->executePreparedStmt();
    fetched = next->fetchRow(&end);
    KvErrorKeeper::giveUpErrorList();
  });
  EXPECT_EQ(executed, kvSuccess);
  EXPECT_EQ(fetched, kvSuccess);
  EXPECT_EQ(end, 1);
  use(connection);
  drop(next);
  drop(failing);
}

}  // namespace
