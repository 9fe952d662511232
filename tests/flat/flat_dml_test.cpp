// Tests of INSERT, UPDATE and DELETE through the test file driver: the
// rewriting and its parse errors, values written directly and through the
// change log, key checks, the row collection and its locks.
#include "tests/flat/flat_sql_test_support.h"

#include "base/handles/base_message_ids.h"
#include "flat/flat_message_ids.h"
#include "flat/sql/flat_dml.h"
#include "util/os/bos.h"

#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

namespace {

class FlatDmlTest : public FlatSqlFixture {
 protected:
  // Prepares and executes sql; its errors stay on the statement's list.
  KvStatus run(const std::string& sql, FlatStatement* statement = nullptr) {
    if (!statement) statement = statement_;
    if (prepare(sql, statement) != kvSuccess) return kvFailure;
    KvErrorKeeper::setErrorList(&statement->getErrorList());
    KvStatus status = statement->executePreparedStmt();
    KvErrorKeeper::giveUpErrorList();
    return status;
  }
  int32_t affected(FlatStatement* statement = nullptr) {
    int32_t count = -1;
    EXPECT_EQ((statement ? statement : statement_)->rowCount(&count), kvSuccess);
    return count;
  }
  // The rows of a table as a fresh reader of the connection sees them.
  std::vector<Row> tableRows(const std::string& name, FlatTestConnection* connection = nullptr) {
    FlatTestStatement* reader = query(connection ? connection : connection_, {name});
    std::vector<Row> result = rows(table(reader));
    drop(reader);
    for (Row& row : result)
      for (std::string& value : row) value.erase(value.find_last_not_of(' ') + 1);
    return result;
  }
  std::string fileBytes(const std::string& name) {
    std::ifstream in(tablePath(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
};

TEST_F(FlatDmlTest, InsertWritesOneRowWithItsValues) {
  ASSERT_EQ(run("INSERT INTO emp (NAME, ID, SAL, HIRED, ACTIVE) VALUES ('NEW', 4, 10 * 2.5, {12/31/1999}, 1)"),
            kvSuccess)
      << lastText();
  EXPECT_EQ(affected(), 1);
  std::vector<Row> rows = tableRows("emp");
  ASSERT_EQ(rows.size(), 4u);
  // A date reads back as the bytes of its day number.
  const double hired = flatDateValue(1999, 12, 31, 0, 0, 0);
  std::string hiredHex;
  for (int i = 0; i < 8; ++i) {
    char two[3];
    std::snprintf(two, sizeof(two), "%02x", reinterpret_cast<const unsigned char*>(&hired)[i]);
    hiredHex += two;
  }
  EXPECT_EQ(rows[3], (Row{"4", "NEW", "", "25", hiredHex, "01", ""}));

  // Without a column list the values fill every column in order.
  ASSERT_EQ(run("INSERT INTO dept VALUES (30, 'MKT', 'Marketing')"), kvSuccess) << lastText();
  EXPECT_EQ(tableRows("dept").back(), (Row{"30", "MKT", "Marketing"}));
}

// Parse errors: each message with its SQLSTATE; nothing is written.
TEST_F(FlatDmlTest, ParseErrorsNameTheFault) {
  struct Case {
    const char* sql;
    uint16_t message;
    const char* state;
  } cases[] = {
      {"INSERT emp VALUES (1)", msgMissingInto, "37000"},
      {"INSERT INTO", msgMissingInsertTable, "37000"},
      {"INSERT INTO emp (ID NAME) VALUES (1, 'a')", msgInsertColumnList, "37000"},
      {"INSERT INTO emp (ID + 1) VALUES (2)", msgInsertColumnList, "37000"},
      {"INSERT INTO emp (ID+1) VALUES (2)", msgExpressionAsColumn, "37000"},
      {"INSERT INTO emp (ID) (1)", msgMissingValues, "37000"},
      {"INSERT INTO emp (ID) VALUES 1", msgMissingInsertParen, "37000"},
      {"INSERT INTO emp (ID) VALUES (1", msgInsertValueList, "37000"},
      {"INSERT INTO one VALUES (1, 2)", msgInsertValueCount, "21S01"},
      {"INSERT INTO dept (ID, DEPT) VALUES (1)", msgInsertValueCount, "21S01"},
      {"INSERT INTO emp (ID, NAME) VALUES ('x', 'y')", msgInsertTypeMismatch, "37000"},
      {"INSERT INTO emp (HIRED) VALUES (1)", msgInsertTypeMismatch, "37000"},
      {"UPDATE", msgMissingUpdateTable, "37000"},
      {"UPDATE emp ID = 1", msgMissingSet, "37000"},
      {"UPDATE emp x", msgMissingSet, "37000"},
      {"UPDATE emp SET", msgMissingUpdateColumn, "37000"},
      {"UPDATE emp SET ID 1", msgMissingEquals, "37000"},
      {"UPDATE emp SET ID = (1 WHERE ID = 2", msgUpdateParentheses, "37000"},
      {"UPDATE emp SET ID = 1)", msgUpdateParentheses, "37000"},
      {"UPDATE emp SET * = 1", msgUpdateStar, "37000"},
      {"UPDATE emp SET 'x' = 1", msgExpressionAsColumn, "37000"},
      {"UPDATE emp SET SAL = 'x'", msgUpdateTypeMismatch, "37000"},
      {"UPDATE emp SET NOPE = 1", msgSelectFieldNotFound, "S0022"},
      {"DELETE emp WHERE ID = 1", msgMissingDeleteFrom, "37000"},
      {"DELETE FROM", msgMissingDeleteTable, "37000"},
      {"DELETE FROM emp, dept", msgJoinInUpdate, "37000"},
      {"DELETE FROM emp WHERE ID = 1 ORDER BY ID", msgExtraCharacters, "37000"},
      {"UPDATE emp SET SAL = 1 WHERE ID = 1 UNION SELECT SAL, SAL FROM emp", msgUnionInUpdate, "37000"},
  };
  const std::string before = fileBytes("emp");
  for (const Case& c : cases) {
    EXPECT_EQ(run(c.sql), kvFailure) << c.sql;
    EXPECT_EQ(lastError(), c.message) << c.sql << ": " << lastText();
    EXPECT_EQ(lastState(), c.state) << c.sql;
  }
  EXPECT_EQ(fileBytes("emp"), before);
}

// Every prefix of well-formed statements, and a few mangled ones: each is
// prepared or refused with a diagnostic, never read past its end.
TEST_F(FlatDmlTest, CutAndMangledStatementsFailCleanly) {
  const char* statements[] = {
      "INSERT INTO emp (ID, NAME, SAL) VALUES (5, 'A''B', (1 + 2) * 3)",
      "UPDATE emp x SET x.NAME = 'Q', SAL = IIF(ID = 1, 2, 3) WHERE x.ID IN (1, 2)",
      "DELETE FROM emp WHERE NAME LIKE 'S%' AND (SAL > 1 OR SAL IS NULL)",
      "INSERT INTO emp VALUES (,,)", "UPDATE emp SET ,", "UPDATE emp SET NAME = ((((", "DELETE FROM emp WHERE",
      "INSERT INTO emp (ID,) VALUES (1)", "UPDATE emp x SET y.NAME = 'Q'", "INSERT INTO `emp` VALUES (')",
  };
  for (const char* statement : statements) {
    const std::string whole = statement;
    for (size_t length = 0; length <= whole.size(); ++length) {
      const std::string text = whole.substr(0, length);
      if (prepare(text) == kvSuccess) continue;
      EXPECT_EQ(statement_->getHeadDescriptor(), nullptr) << text;
      EXPECT_GT(statement_->getErrorList().getCount(), 0u) << text;
    }
  }
}

TEST_F(FlatDmlTest, CapabilityAndReadOnlyAreRefused) {
  connection_->clearEngineFlags(flatInsertAllowed | flatUpdateAllowed | flatDeleteAllowed);
  for (const char* sql : {"INSERT INTO one VALUES (2)", "UPDATE one SET X = 2", "DELETE FROM one"}) {
    EXPECT_EQ(run(sql), kvFailure) << sql;
    EXPECT_EQ(lastState(), "S1C00") << sql;
  }
  connection_->addEngineFlags(flatInsertAllowed | flatUpdateAllowed | flatDeleteAllowed);
  EXPECT_EQ(connection_->applyConnectOption(SQL_ACCESS_MODE, SQL_MODE_READ_ONLY), kvSuccess);
  for (const char* sql : {"INSERT INTO one VALUES (2)", "UPDATE one SET X = 2", "DELETE FROM one"}) {
    EXPECT_EQ(run(sql), kvFailure) << sql;
    EXPECT_EQ(lastError(), msgTableReadOnly) << sql;
    EXPECT_EQ(lastState(), "S1000") << sql;
  }
  EXPECT_EQ(tableRows("one"), (std::vector<Row>{{"1"}}));
}

TEST_F(FlatDmlTest, UpdateChangesTheRowsItSelects) {
  // Through a correlation name, the prefix dropped from the column.
  ASSERT_EQ(run("UPDATE emp x SET x.NAME = 'Z', SAL = x.SAL + 1 WHERE x.ID = 2"), kvSuccess) << lastText();
  EXPECT_EQ(affected(), 1);
  std::vector<Row> rows = tableRows("emp");
  EXPECT_EQ(rows[1][1], "Z");
  EXPECT_EQ(rows[1][3], "2001");
  EXPECT_EQ(rows[0][1], "SMITH");

  // Every value reads the row as it was: the two columns swap.
  ASSERT_EQ(run("UPDATE dept SET DEPT = 'AB', TITLE = DEPT WHERE ID = 10"), kvSuccess) << lastText();
  EXPECT_EQ(tableRows("dept")[0], (Row{"10", "AB", "ACCT"}));

  // No row matches: success with nothing changed.
  const std::string before = fileBytes("emp");
  ASSERT_EQ(run("UPDATE emp SET NAME = 'Q' WHERE ID = 99"), kvSuccess) << lastText();
  EXPECT_EQ(affected(), 0);
  EXPECT_EQ(fileBytes("emp"), before);

  // Every row, to NULL.
  ASSERT_EQ(run("UPDATE emp SET SAL = NULL"), kvSuccess) << lastText();
  EXPECT_EQ(affected(), 3);
  for (const Row& row : tableRows("emp")) EXPECT_EQ(row[3], "");
}

TEST_F(FlatDmlTest, ValuesMayBeSubqueries) {
  ASSERT_EQ(run("INSERT INTO dept (ID, DEPT, TITLE) VALUES ((SELECT MAX(ID) FROM dept) + 1, 'X', 'Y')"), kvSuccess)
      << lastText();
  EXPECT_EQ(tableRows("dept").back(), (Row{"21", "X", "Y"}));
  ASSERT_EQ(run("UPDATE emp SET SAL = (SELECT MAX(SAL) FROM emp) WHERE ID = 3"), kvSuccess) << lastText();
  EXPECT_EQ(tableRows("emp")[2][3], "2000");
  ASSERT_EQ(run("DELETE FROM emp WHERE ID IN (SELECT ID FROM dept WHERE ID < 3) OR SAL = 2000"), kvSuccess)
      << lastText();
  EXPECT_EQ(affected(), 2);
}

// A positioned UPDATE and DELETE change the row another statement's cursor
// stands on, and only that row.
TEST_F(FlatDmlTest, CurrentOfChangesTheCursorsRow) {
  FlatTestStatement* cursor = newStatement();
  ASSERT_EQ(cursor->SQLSetCursorName(reinterpret_cast<SQLCHAR*>(const_cast<char*>("C1")), SQL_NTS), SQL_SUCCESS);
  ASSERT_EQ(prepare("SELECT ID, NAME FROM emp FOR UPDATE OF NAME", cursor), kvSuccess) << lastText(cursor);
  KvErrorKeeper::setErrorList(&cursor->getErrorList());
  ASSERT_EQ(cursor->executePreparedStmt(), kvSuccess);
  uint16_t end = 0;
  ASSERT_EQ(cursor->fetchRow(&end), kvSuccess);
  ASSERT_EQ(cursor->fetchRow(&end), kvSuccess);
  KvErrorKeeper::giveUpErrorList();
  ASSERT_EQ(end, 0);
  ASSERT_EQ(run("UPDATE emp SET NAME = 'HERE' WHERE CURRENT OF C1"), kvSuccess) << lastText();
  EXPECT_EQ(affected(), 1);
  std::vector<Row> rows = tableRows("emp");
  EXPECT_EQ(rows[0][1], "SMITH");
  EXPECT_EQ(rows[1][1], "HERE");
  ASSERT_EQ(run("DELETE FROM emp WHERE CURRENT OF C1"), kvSuccess) << lastText();
  EXPECT_EQ(affected(), 1);
  EXPECT_EQ(tableRows("emp").size(), 2u);
  EXPECT_EQ(run("UPDATE emp SET NAME = 'X' WHERE CURRENT OF NOSUCH"), kvFailure);
  EXPECT_EQ(lastError(), msgCursorNotFound);
}

TEST_F(FlatDmlTest, ParameterMarkersTakeTheColumnsType) {
  ASSERT_EQ(prepare("UPDATE emp SET SAL = ?, NAME = ?, ACTIVE = ? WHERE ID = ?"), kvSuccess) << lastText();
  FlatParamValues* params = statement_->getParamValues();
  ASSERT_EQ(params->getCount(), 4);
  EXPECT_EQ(params->find(0)->markerType, SQL_DOUBLE);
  EXPECT_EQ(params->find(1)->markerType, SQL_VARCHAR);
  EXPECT_EQ(params->find(2)->markerType, SQL_DOUBLE);  // a BIT column takes numbers

  double sal = 77;
  double id = 1;
  double active = 0;
  ASSERT_EQ(params->setValue(0, SQL_DOUBLE, flatItDouble, &sal, 8), kvSuccess);
  ASSERT_EQ(params->setValue(1, SQL_VARCHAR, flatItChar, "P", 1), kvSuccess);
  ASSERT_EQ(params->setValue(2, SQL_DOUBLE, flatItDouble, &active, 8), kvSuccess);
  ASSERT_EQ(params->setValue(3, SQL_DOUBLE, flatItDouble, &id, 8), kvSuccess);
  KvErrorKeeper::setErrorList(&statement_->getErrorList());
  ASSERT_EQ(statement_->executePreparedStmt(), kvSuccess) << lastText();
  KvErrorKeeper::giveUpErrorList();
  EXPECT_EQ(affected(), 1);
  Row row = tableRows("emp")[0];
  EXPECT_EQ(row[1], "P");
  EXPECT_EQ(row[3], "77");
  EXPECT_EQ(row[5], "00");
}

TEST_F(FlatDmlTest, DeleteRemovesTheRowsItSelects) {
  ASSERT_EQ(run("DELETE FROM emp WHERE SAL > 1500 OR NAME = ''"), kvSuccess) << lastText();
  EXPECT_EQ(affected(), 2);
  std::vector<Row> rows = tableRows("emp");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], "1");
  ASSERT_EQ(run("DELETE FROM emp"), kvSuccess) << lastText();
  EXPECT_EQ(affected(), 1);
  EXPECT_TRUE(tableRows("emp").empty());
}

TEST_F(FlatDmlTest, UniqueKeysAreChecked) {
  const std::string before = fileBytes("emp");
  EXPECT_EQ(run("INSERT INTO emp (ID, NAME) VALUES (2, 'TWIN')"), kvFailure);
  EXPECT_EQ(lastState(), "S1000") << lastText();
  EXPECT_EQ(run("UPDATE emp SET ID = 2 WHERE ID = 1"), kvFailure);
  EXPECT_EQ(lastState(), "S1000") << lastText();
  EXPECT_EQ(fileBytes("emp"), before);
  // A row keeps its own key.
  ASSERT_EQ(run("UPDATE emp SET ID = 1, NAME = 'SAME' WHERE ID = 1"), kvSuccess) << lastText();
  ASSERT_EQ(run("UPDATE emp SET ID = 5 WHERE ID = 1"), kvSuccess) << lastText();
  ASSERT_EQ(run("INSERT INTO emp (ID) VALUES (1)"), kvSuccess) << lastText();
}

// Binary columns take hexadecimal text, a BINARY column zero-filled to its
// width; long columns take a text literal; anything else is refused.
TEST_F(FlatDmlTest, BinaryAndLongColumnsTakeLiterals) {
  makeTable("blob");
  ASSERT_EQ(run("INSERT INTO blob (ID, DATA, NOTE) VALUES (1, '0aFF', 'long text')"), kvSuccess) << lastText();
  ASSERT_EQ(run("INSERT INTO blob (ID, DATA, NOTE) VALUES (2, NULL, NULL)"), kvSuccess) << lastText();
  std::vector<Row> rows = tableRows("blob");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][3], "0aff0000");
  EXPECT_EQ(rows[0][4], "long text");
  EXPECT_EQ(rows[1][3], "");

  struct Case {
    const char* sql;
    const char* state;
  } cases[] = {
      {"INSERT INTO blob (ID, DATA) VALUES (3, 'zz')", "22005"},
      {"INSERT INTO blob (ID, DATA) VALUES (3, 'abc')", "22005"},
      {"INSERT INTO blob (ID, DATA) VALUES (3, '0102030405')", "22001"},
      {"INSERT INTO blob (ID, DATA) VALUES (3, 'AB' + 'CD')", "37000"},
      {"INSERT INTO blob (ID, NOTE) VALUES (3, NAME)", ""},
  };
  for (const Case& c : cases) {
    KvStatus status = run(c.sql);
    if (!*c.state) {
      EXPECT_EQ(status, kvSuccess) << c.sql << ": " << lastText();
      continue;
    }
    EXPECT_EQ(status, kvFailure) << c.sql;
    EXPECT_EQ(lastState(), c.state) << c.sql << ": " << lastText();
  }
  EXPECT_EQ(tableRows("blob").size(), 3u);
}

// In manual-commit mode the changes wait in the change log: the connection
// sees them, another does not, and the file is untouched until commit;
// rollback leaves it byte for byte as it was.
TEST_F(FlatDmlTest, ManualCommitHoldsChangesUntilTheEnd) {
  FlatTestConnection* other = connect();
  use(connection_);
  autocommit(connection_, false);
  const std::string before = fileBytes("emp");
  ASSERT_EQ(run("INSERT INTO emp (ID, NAME) VALUES (7, 'SEVEN')"), kvSuccess) << lastText();
  ASSERT_EQ(run("UPDATE emp SET NAME = 'NEWER' WHERE ID = 7 OR ID = 1"), kvSuccess) << lastText();
  EXPECT_EQ(affected(), 2);
  ASSERT_EQ(run("DELETE FROM emp WHERE ID = 2"), kvSuccess) << lastText();
  EXPECT_EQ(affected(), 1);
  EXPECT_EQ(fileBytes("emp"), before);

  std::vector<Row> mine = tableRows("emp");
  ASSERT_EQ(mine.size(), 3u);
  EXPECT_EQ(mine[0][1], "NEWER");
  EXPECT_EQ(mine[1][0], "3");
  EXPECT_EQ(mine[2][0], "7");
  EXPECT_EQ(mine[2][1], "NEWER");
  use(other);
  EXPECT_EQ(tableRows("emp", other).size(), 3u);
  EXPECT_EQ(tableRows("emp", other)[1][1], "JONES");
  use(connection_);

  ASSERT_EQ(connection_->endTransaction(SQL_ROLLBACK), kvSuccess);
  EXPECT_EQ(fileBytes("emp"), before);
  EXPECT_EQ(tableRows("emp").size(), 3u);

  ASSERT_EQ(run("UPDATE emp SET SAL = 5 WHERE ID = 1"), kvSuccess) << lastText();
  ASSERT_EQ(run("INSERT INTO emp (ID, NAME) VALUES (8, 'EIGHT')"), kvSuccess) << lastText();
  ASSERT_EQ(connection_->endTransaction(SQL_COMMIT), kvSuccess);
  use(other);
  std::vector<Row> theirs = tableRows("emp", other);
  ASSERT_EQ(theirs.size(), 4u);
  EXPECT_EQ(theirs[0][3], "5");
  EXPECT_EQ(theirs[3][1], "EIGHT");
  use(connection_);
}

// Two pending rows of one transaction with one unique key: neither
// statement can see the clash, so the commit refuses them before it writes
// anything, and the rows stay in the transaction until it is rolled back.
TEST_F(FlatDmlTest, CommitRefusesAUniqueKeyPendingTwice) {
  const std::string before = fileBytes("emp");
  autocommit(connection_, false);
  ASSERT_EQ(run("INSERT INTO emp (ID, NAME) VALUES (7, 'A')"), kvSuccess) << lastText();
  ASSERT_EQ(run("INSERT INTO emp (ID, NAME) VALUES (7, 'B')"), kvSuccess) << lastText();
  EXPECT_EQ(connection_->endTransaction(SQL_COMMIT), kvFailure);
  EXPECT_EQ(errorsOf(connection_), (std::vector<uint16_t>{msgCommitTableFailed, msgDuplicateKey}));
  EXPECT_EQ(fileBytes("emp"), before);
  int sevens = 0;
  for (const Row& row : tableRows("emp")) sevens += row[0] == "7";
  EXPECT_EQ(sevens, 2) << "still pending";
  EXPECT_EQ(connection_->endTransaction(SQL_COMMIT), kvFailure) << "a retry meets the same clash";
  ASSERT_EQ(connection_->endTransaction(SQL_ROLLBACK), kvSuccess);
  EXPECT_EQ(fileBytes("emp"), before);

  // An update that moves a pending row onto another pending row's key.
  ASSERT_EQ(run("UPDATE emp SET ID = 8 WHERE ID = 1"), kvSuccess) << lastText();
  ASSERT_EQ(run("UPDATE emp SET ID = 8 WHERE ID = 2"), kvSuccess) << lastText();
  EXPECT_EQ(connection_->endTransaction(SQL_COMMIT), kvFailure);
  EXPECT_EQ(fileBytes("emp"), before);
  ASSERT_EQ(connection_->endTransaction(SQL_ROLLBACK), kvSuccess);
}

// Whether another process can take every lock byte of a table file at the
// given slots (the test driver's lock offsets): a child process tries them
// and exits 0 when all are free.
bool slotsFree(const std::string& path, const std::vector<uint32_t>& slots) {
  pid_t child = fork();
  if (child == 0) {
    int file = -1;
    if (bosFileOpen(const_cast<unsigned char*>(kvU(path.c_str())), bosOpenReadWrite, &file) != kvSuccess) _exit(2);
    for (uint32_t slot : slots)
      if (bosRegionLock(file, 0, flatTestLockBase + slot, 1) != kvSuccess) _exit(1);
    _exit(0);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A failed UPDATE releases every lock it took: the index lock, the kind-2
// lock of the row it was rewriting, and the kind-1 locks of the rows it
// collected.
TEST_F(FlatDmlTest, FailedUpdateLeavesNothingLocked) {
  const std::vector<uint32_t> slots = {0, 1, 2, 3, flatTestIndexLockSlot, flatTestUpdateLockSlot + 1,
                                       flatTestUpdateLockSlot + 2, flatTestUpdateLockSlot + 3};
  ASSERT_TRUE(slotsFree(tablePath("emp"), slots));
  // The second row's name does not fit its column: the driver refuses it
  // while the row's update lock and the others are held.
  EXPECT_EQ(run("UPDATE emp SET NAME = IIF(ID = 2, 'MUCH TOO LONG', 'OK')"), kvFailure);
  EXPECT_EQ(lastState(), "22001") << lastText();
  EXPECT_TRUE(slotsFree(tablePath("emp"), slots));
  EXPECT_EQ(tableRows("emp")[0][1], "OK");
  EXPECT_EQ(tableRows("emp")[1][1], "JONES");

  // A row another process holds stops the collection; what was locked goes.
  pid_t holder = 0;
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  int release[2];
  ASSERT_EQ(pipe(release), 0);
  holder = fork();
  if (holder == 0) {
    int file = -1;
    if (bosFileOpen(const_cast<unsigned char*>(kvU(tablePath("emp").c_str())), bosOpenReadWrite, &file) != kvSuccess) _exit(2);
    if (bosRegionLock(file, 0, flatTestLockBase + 3, 1) != kvSuccess) _exit(1);
    char byte = 1;
    if (write(ready[1], &byte, 1) != 1 || read(release[0], &byte, 1) != 1) _exit(3);
    _exit(0);
  }
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  EXPECT_EQ(run("UPDATE emp SET SAL = 1"), kvFailure);
  EXPECT_EQ(lastError(), msgRecordLocked) << lastText();
  EXPECT_EQ(run("DELETE FROM emp"), kvFailure);
  EXPECT_EQ(lastError(), msgRecordLocked) << lastText();
  EXPECT_TRUE(slotsFree(tablePath("emp"), {0, 1, 2, flatTestIndexLockSlot}));
  ASSERT_EQ(write(release[1], &byte, 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(holder, &status, 0), holder);
  for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
  EXPECT_EQ(tableRows("emp").size(), 3u);
  EXPECT_EQ(tableRows("emp")[0][3], "1000.5");
}

TEST_F(FlatDmlTest, TypeCompatibility) {
  struct Case {
    int16_t column, value;
    int compatible;
  } cases[] = {
      {SQL_CHAR, SQL_VARCHAR, 1},    {SQL_CHAR, SQL_BINARY, 1},     {SQL_LONGVARBINARY, SQL_VARCHAR, 1},
      {SQL_DOUBLE, flatTypeAny, 1},  {flatTypeAny, SQL_DATE, 1},    {SQL_BIT, SQL_DOUBLE, 1},
      {SQL_BIT, SQL_BIT, 1},         {SQL_DOUBLE, SQL_BIT, 0},      {SQL_DOUBLE, SQL_VARCHAR, 0},
      {SQL_DATE, SQL_TIMESTAMP, 0},  {SQL_BIT, SQL_VARCHAR, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(flatDmlTypesCompatible(c.column, c.value), c.compatible) << c.column << " " << c.value;
}

}  // namespace
