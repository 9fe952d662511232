// The dBASE statement: table options and index lists after a table name,
// the test of an option list, and the driver's own statements.
#include "flat/flat_message_ids.h"
#include "tests/drivers/dbase/dbase_test_support.h"

namespace {

class DbfStatementTest : public DbfFixture {
 protected:
  // The query's own reading of a FROM table: the name as the engine reads
  // names, then the list behind it; the name read and the text left.
  static KvStatus parseName(DbfSqlDesc* query, const char* text, std::string* name = nullptr,
                            std::string* rest = nullptr) {
    const unsigned char* position = kvU(text);
    unsigned char* read = nullptr;
    KvStatus status = query->parseTableName(&position, nullptr, &read);
    if (name) *name = read ? kvC(read) : "";
    if (rest) *rest = kvC(position);
    ramFree(read);
    return status;
  }
};

TEST_F(DbfStatementTest, OptionsAfterATableName) {
  DbfConnection* connection = connect();
  const struct {
    const char* text;
    const char* rest;  // what is left after the table and its list
    int compatibility, oem, lockLevel;
    uint32_t records;
  } cases[] = {
      {"EMP WHERE X = 1", " WHERE X = 1", -1, -1, -1, 0},
      {"EMP (RECORDS=DELETED) WHERE", " WHERE", -1, -1, -1, DbfFileDesc::readDeleted},
      {"EMP (RECORDS=ALL, LOCKING=NONE)", "", -1, -1, dbfLockNone, DbfFileDesc::readDeleted | DbfFileDesc::readLive},
      {"EMP(CHARSET=ANSI)", "", -1, 0, -1, 0},
      {"EMP ( CHARSET = WINDOWS )", "", -1, 0, -1, 0},
      {"EMP (CHARSET=IBMPC,LOCKING=FILE)", "", -1, 1, dbfLockFile, 0},
      {"EMP (COMPATIBILITY=DBASE, RECORDS=SOME, LOCKING=OFTEN)", "", 0, -1, -1, 0},
      {"`my table` (COMPATIBILITY=ANSI)", "", 1, -1, -1, 0},
      // Values are compared as written: none of these is the capital word.
      {"EMP (RECORDS=all, CHARSET=ansi, LOCKING=none, COMPATIBILITY=dbase)", "", 1, 1, -1, 0},
  };
  for (const auto& c : cases) {
    DbfTableOptions options;
    uint32_t position = 0;
    ASSERT_EQ(dbfParseTableName(connection, kvU(c.text), &position, &options), kvSuccess) << c.text;
    EXPECT_STREQ(c.text + position, c.rest) << c.text;
    EXPECT_EQ(options.compatibility, c.compatibility) << c.text;
    EXPECT_EQ(options.oem, c.oem) << c.text;
    EXPECT_EQ(options.lockLevel, c.lockLevel) << c.text;
    EXPECT_EQ(options.records, c.records) << c.text;
    EXPECT_FALSE(options.indexList);
  }
}

TEST_F(DbfStatementTest, BadOptionListsAreSyntaxErrors) {
  DbfConnection* connection = connect();
  const struct {
    const char* text;
    uint16_t message;
    const char* shown;
  } cases[] = {
      {"EMP (FOO=1)", msgUnknownOption, "Unknown option: FOO"},
      {"EMP (records=ALL)", msgUnknownOption, "Unknown option: records"},
      {"EMP (T1.NDX/use)", msgMissingClause, "Missing SQL Clause:  USE."},
      {"EMP (RECORDS=ALL", msgMissingClause, "Missing SQL Clause:  )."},
      {"EMP (RECORDS=ALL; LOCKING=NONE)", msgMissingClause, "Missing SQL Clause:  )."},
      {"EMP (T1.NDX/NOUSE)", msgMissingClause, "Missing SQL Clause:  USE."},
      {"EMP (T1.NDX T2.NDX)", msgMissingClause, "Missing SQL Clause:  )."},
      {"", msgMissingTableName, "Missing table name in SELECT statement"},
      {"(RECORDS=ALL)", msgMissingTableName, "Missing table name in SELECT statement"},
  };
  for (const auto& c : cases) {
    connection->getErrorList().clearErrors();
    DbfTableOptions options;
    uint32_t position = 0;
    EXPECT_EQ(dbfParseTableName(connection, kvU(c.text), &position, &options), kvFailure) << c.text;
    ASSERT_EQ(errorsOf(connection), std::vector<uint16_t>{c.message}) << c.text;
    EXPECT_EQ(stateOf(connection), "37000");
    EXPECT_STREQ(kvC(connection->getErrorList().getErrorAtPos(0)->getErrorText()), c.shown);
  }
}

TEST_F(DbfStatementTest, IndexListsNameFilesAndTags) {
  DbfConnection* connection = connect();
  DbfTableOptions options;
  uint32_t position = 0;
  const char* text = "EMP (T1.NDX/USE, t2, /LASTNAME, BIG.MDX/CITY, `my idx`.NTX) ORDER BY X";
  ASSERT_EQ(dbfParseTableName(connection, kvU(text), &position, &options), kvSuccess);
  EXPECT_STREQ(text + position, " ORDER BY X");
  ASSERT_TRUE(options.indexList);
  const std::string d = dir() + "/";
  std::vector<std::pair<std::string, uint16_t>> expected = {
      {d + "T1.NDX", DbfIndexName::openFile}, {"T1", DbfIndexName::useIndex},
      {d + "t2.NDX", DbfIndexName::openFile}, {"LASTNAME", DbfIndexName::useIndex},
      {d + "BIG.MDX", DbfIndexName::openFile}, {"CITY", DbfIndexName::useIndex},
      {d + "my idx.NTX", DbfIndexName::openFile},
  };
  std::vector<std::pair<std::string, uint16_t>> got;
  for (const auto& entry : options.indexes) got.push_back({entry.text, entry.kind});
  EXPECT_EQ(got, expected);
}

TEST_F(DbfStatementTest, WhatIsAnOptionList) {
  const struct {
    const char* text;
    int answer;
  } cases[] = {
      {"NAME.NDX)", 1}, {"a.mdx, b.ntx)", 1}, {"X.IDX)", 1}, {"X.CDX)", 1}, {"RECORDS=ALL)", 1},
      {"A.NDX)", 1},    {".NDX)", 0},          {"NAME, CITY)", 0}, {"NAME.TXT)", 0}, {"", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(dbfIsOptionList(kvU(c.text)), c.answer) << c.text;
  DbfConnection* connection = connect();
  auto* statement = dbfBuild<DbfStatement>(static_cast<FlatConnection*>(connection));
  uint16_t answer = 9;
  ASSERT_EQ(statement->isOptionList(kvU("CHARSET=ANSI)"), &answer), kvSuccess);
  EXPECT_EQ(answer, 1);
  delete statement;
}

TEST_F(DbfStatementTest, TheQueryReadsPathsAndListsBehindThem) {
  DbfConnection* connection = connect();
  auto* statement = dbfBuild<DbfStatement>(static_cast<FlatConnection*>(connection));
  auto* query = static_cast<DbfSqlDesc*>(statement->allocSqlDesc());
  const struct {
    const char* text;
    const char* name;
    const char* rest;
    uint32_t records;
  } cases[] = {
      {"/data/emp (RECORDS=DELETED) WHERE X = 1", "/data/emp", " WHERE X = 1", DbfFileDesc::readDeleted},
      {"sub/emp.dbf(RECORDS=ALL), DEPT", "sub/emp.dbf", ", DEPT", DbfFileDesc::readDeleted | DbfFileDesc::readLive},
      {"`my table` E", "my table", " E", 0},
  };
  for (const auto& c : cases) {
    std::string name, rest;
    ASSERT_EQ(parseName(query, c.text, &name, &rest), kvSuccess) << c.text;
    EXPECT_EQ(name, c.name);
    EXPECT_EQ(rest, c.rest) << c.text;
    EXPECT_EQ(query->getTableOptions().records, c.records) << c.text;
  }
  connection->getErrorList().clearErrors();
  EXPECT_EQ(parseName(query, "EMP (FOO=1)"), kvFailure);
  EXPECT_EQ(errorsOf(connection), std::vector<uint16_t>{msgUnknownOption});
  connection->getErrorList().clearErrors();
  EXPECT_EQ(parseName(query, ""), kvFailure);
  EXPECT_EQ(errorsOf(connection), std::vector<uint16_t>{msgMissingTableName});
  delete query;
  delete statement;
}

TEST_F(DbfStatementTest, TheDriversOwnStatements) {
  DbfConnection* connection = connect();
  auto* statement = dbfBuild<DbfStatement>(static_cast<FlatConnection*>(connection));
  const struct {
    const char* text;
    const char* state;
  } cases[] = {
      {"PACK EMP", "S1C00"}, {"  pack emp", "S1C00"}, {"VERIFY INDEX ON EMP", "S1C00"},
      {"VERIFY EMP", "37000"}, {"FROBNICATE", "37000"}, {"", "37000"},
  };
  for (const auto& c : cases) {
    connection->getErrorList().clearErrors();
    EXPECT_EQ(statement->allocSpecialStmt(kvU(c.text)), nullptr) << c.text;
    EXPECT_EQ(stateOf(connection), c.state) << c.text;
  }
  // The query PACK prepares refuses a table the connection has open.
  writeFile(path("emp.dbf"), dbfTableBytes(0x03, {{"NAME", 'C', 4, 0}}, {}));
  DbfStatement* open = query(connection, "emp.dbf");
  auto* pack = static_cast<DbfSqlDesc*>(statement->allocSqlDesc());
  pack->setPackQuery(1);
  connection->getErrorList().clearErrors();
  EXPECT_EQ(parseName(pack, "EMP"), kvFailure);
  EXPECT_EQ(errorsOf(connection), std::vector<uint16_t>{msgCannotPackInUse});
  drop(open);
  EXPECT_EQ(parseName(pack, "EMP"), kvSuccess);
  delete pack;
  // The query's string comparison follows Compatibility.
  auto* ansi = static_cast<DbfSqlDesc*>(statement->allocSqlDesc());
  EXPECT_EQ(ansi->isAnsiCompare(), 1);
  ASSERT_EQ(parseName(ansi, "EMP (COMPATIBILITY=DBASE)"), kvSuccess);
  EXPECT_EQ(ansi->isAnsiCompare(), 0);
  delete ansi;
  delete statement;
  DbfConnection* dbase = connect("Compatibility=DBASE");
  auto* other = dbfBuild<DbfStatement>(static_cast<FlatConnection*>(dbase));
  auto* query = static_cast<DbfSqlDesc*>(other->allocSqlDesc());
  EXPECT_EQ(query->isAnsiCompare(), 0);
  delete query;
  delete other;
}

}  // namespace
