// Tests of the two ways a file driver can differ from the engine's own
// table model: resolving table names itself (resolveTableName), and naming
// records by keys that hold a byte offset, with no record count
// (the test driver's OffsetKeys mode).
#include "tests/flat/flat_sql_test_support.h"

#include "flat/flat_message_ids.h"
#include "util/os/bos.h"

#include <cstring>

namespace {

// A driver that resolves names itself: "sheet:" followed by a table stands
// for that table's file; any other name is refused by the driver's own
// rule (the engine's extension check never runs).
class NamingConnection : public FlatTestConnection {
 public:
  using FlatTestConnection::FlatTestConnection;
  KvStatus resolveTableName(const unsigned char* qualifier, const unsigned char* name,
                            unsigned char* path) override {
    seen.push_back(kvC(name));
    if (std::strncmp(kvC(name), "sheet:", 6) != 0) {
      addOdbcError(stateGeneral);
      return kvFailure;
    }
    return FlatTestConnection::resolveTableName(qualifier, name + 6, path);
  }
  std::vector<std::string> seen;
};

class FlatTableNamesTest : public FlatSqlFixture {
 protected:
  KvStatus run(const std::string& sql, FlatStatement* statement) {
    if (prepare(sql, statement) != kvSuccess) return kvFailure;
    KvErrorKeeper::setErrorList(&statement->getErrorList());
    KvStatus status = statement->executePreparedStmt();
    KvErrorKeeper::giveUpErrorList();
    return status;
  }
  template <class Connection>
  Connection* connectAs(const std::string& extra) {
    auto* connection = flatBuild<Connection>(static_cast<BaseEnv*>(env_));
    connections_.push_back(connection);
    std::string text = "DRIVER=flattest;DB=" + dir() + ";" + extra;
    SQLRETURN rc = connection->SQLDriverConnect(nullptr, kvU(const_cast<char*>(text.c_str())), SQLSMALLINT(SQL_NTS),
                                                nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    EXPECT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) << rc;
    use(connection);
    return connection;
  }
  FlatTestStatement* statementOf(FlatConnection* connection) {
    auto* statement = flatBuild<FlatTestStatement>(connection);
    statements_.push_back(statement);
    return statement;
  }
  // Every row a SELECT delivers, each column's value as text.
  std::vector<Row> select(const std::string& sql, FlatStatement* statement) {
    EXPECT_EQ(run(sql, statement), kvSuccess) << lastText(statement);
    return fetchAll(statement);
  }
  std::vector<Row> fetchAll(FlatStatement* statement) {
    std::vector<Row> result;
    for (;;) {
      KvErrorKeeper::setErrorList(&statement->getErrorList());
      uint16_t end = 0;
      KvStatus status = statement->fetchRow(&end);
      KvErrorKeeper::giveUpErrorList();
      EXPECT_EQ(status, kvSuccess) << lastText(statement);
      if (status != kvSuccess || end) break;
      Row row;
      FlatSqlDesc* query = statement->getHeadDescriptor()->getSqlDesc();
      for (uint16_t i = 0; i < query->getItemCount(); ++i) row.push_back(itemValue(i, statement));
      for (std::string& value : row) value.erase(value.find_last_not_of(' ') + 1);
      result.push_back(row);
    }
    return result;
  }
};

TEST_F(FlatTableNamesTest, DriversThatResolveNamesSeeEveryTableName) {
  // The engine's rule first: another extension than the driver's is 4017.
  ASSERT_EQ(prepare("SELECT * FROM emp.csv"), kvFailure);
  EXPECT_EQ(lastError(), msgBadExtension);

  auto* naming = connectAs<NamingConnection>("");
  FlatTestStatement* statement = statementOf(naming);
  std::vector<Row> rows = select("SELECT NAME FROM sheet:emp WHERE ID < 3", statement);
  EXPECT_EQ(rows, (std::vector<Row>{{"SMITH"}, {"JONES"}}));
  ASSERT_EQ(run("INSERT INTO sheet:dept VALUES (30, 'MKT', 'Marketing')", statement), kvSuccess)
      << lastText(statement);
  EXPECT_EQ(select("SELECT TITLE FROM sheet:dept WHERE ID = 30", statement), (std::vector<Row>{{"Marketing"}}));
  // A name the driver refuses fails with the driver's error, whatever its
  // extension: the engine's check is not consulted.
  EXPECT_EQ(prepare("SELECT * FROM emp.ftt", statement), kvFailure);
  EXPECT_EQ(lastState(statement), "S1000");
  EXPECT_EQ(naming->seen.front(), "sheet:emp");
  EXPECT_EQ(naming->seen.back(), "emp.ftt");
}

// OffsetKeys: the reader answers no record count (0xFFFFFFFF) and names
// records by 8-byte offsets. INSERT must not depend on the count, written
// directly or through the change log, and rows are found again by key.
TEST_F(FlatTableNamesTest, OffsetKeysNeedNoRecordCount) {
  auto* keyed = connectAs<FlatTestConnection>("OffsetKeys=1");
  FlatTestStatement* statement = statementOf(keyed);
  ASSERT_EQ(run("INSERT INTO dept VALUES (30, 'MKT', 'Marketing')", statement), kvSuccess) << lastText(statement);
  int32_t count = -1;
  EXPECT_EQ(statement->rowCount(&count), kvSuccess);
  EXPECT_EQ(count, 1);
  FlatFileDesc* reader = statement->getHeadDescriptor()->getSqlDesc()->getFirstTable();
  EXPECT_EQ(reader->getShared()->getKeyLength(), 8);

  // Manual commit: two pending inserts get distinct provisional keys, an
  // update of one of them and a delete of a stored row wait with them.
  autocommit(keyed, false);
  ASSERT_EQ(run("INSERT INTO dept VALUES (40, 'OPS', 'Operations')", statement), kvSuccess) << lastText(statement);
  ASSERT_EQ(run("INSERT INTO dept VALUES (50, 'LAB', 'Research')", statement), kvSuccess) << lastText(statement);
  ASSERT_EQ(run("UPDATE dept SET TITLE = 'Ops' WHERE ID = 40", statement), kvSuccess) << lastText(statement);
  ASSERT_EQ(run("DELETE FROM dept WHERE ID = 10", statement), kvSuccess) << lastText(statement);
  const std::vector<Row> expected = {{"20", "Sales"}, {"30", "Marketing"}, {"40", "Ops"}, {"50", "Research"}};
  EXPECT_EQ(select("SELECT ID, TITLE FROM dept", statement), expected);
  use(keyed);
  ASSERT_EQ(keyed->endTransaction(SQL_COMMIT), kvSuccess);
  EXPECT_EQ(select("SELECT ID, TITLE FROM dept", statement), expected);

  // A keyed update after the commit finds its row by offset.
  autocommit(keyed, true);
  ASSERT_EQ(run("UPDATE dept SET TITLE = 'Lab' WHERE ID = 50", statement), kvSuccess) << lastText(statement);
  FlatTestConnection* plain = connect();
  FlatTestStatement* check = statementOf(plain);
  EXPECT_EQ(select("SELECT ID, TITLE FROM dept", check),
            (std::vector<Row>{{"20", "Sales"}, {"30", "Marketing"}, {"40", "Ops"}, {"50", "Lab"}}));
}

}  // namespace
