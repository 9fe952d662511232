// The engine's catalog through the framework's catalog calls on a statement
// of the test file driver: SQLTables, SQLColumns, SQLSpecialColumns and
// SQLStatistics over a scratch directory of table files, read back with
// SQLFetch and SQLGetData as an application reads them.
#include "tests/flat/flat_sql_test_support.h"

#include "flat/exec/flat_catalog.h"
#include "flat/query/flat_index_desc.h"

namespace {

SQLCHAR* S(const char* text) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text)); }

typedef std::vector<std::vector<std::string>> Rows;

class FlatCatalogTest : public FlatSqlFixture {
 protected:
  // Every row of the open result, each column as text ("NULL" for NULL);
  // the cursor is closed afterwards.
  Rows rows() {
    Rows out;
    SQLSMALLINT columns = 0;
    EXPECT_EQ(statement_->SQLNumResultCols(&columns), SQL_SUCCESS);
    for (int guard = 0; guard < 10000; ++guard) {
      const SQLRETURN rc = statement_->SQLFetch();
      if (rc == SQL_NO_DATA_FOUND) break;
      EXPECT_EQ(rc, SQL_SUCCESS) << state();
      if (rc != SQL_SUCCESS) break;
      std::vector<std::string> values;
      for (SQLUSMALLINT c = 1; c <= SQLUSMALLINT(columns); ++c) {
        char buffer[600] = "?";
        SQLLEN length = 0;
        EXPECT_EQ(statement_->SQLGetData(c, SQL_C_CHAR, buffer, sizeof(buffer), &length), SQL_SUCCESS);
        values.push_back(length == SQL_NULL_DATA ? "NULL" : buffer);
      }
      out.push_back(values);
    }
    EXPECT_EQ(statement_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS);
    return out;
  }
  // Column n (1-based) of every row.
  std::vector<std::string> column(uint16_t n) {
    std::vector<std::string> out;
    for (const auto& row : rows()) out.push_back(row[n - 1]);
    return out;
  }
  std::string state() {
    BaseErrorList& list = statement_->getErrorList();
    KvError* e = list.getErrorAtPos(0);
    if (!e) return "";
    if (e->getSqlState() && e->getSqlState()[0]) return e->getSqlState();
    return kvC(baseSqlStateText(e->getStateIndex()));
  }
  // A failed call's SQLSTATE; the statement is ready for the next call.
  std::string failure(SQLRETURN rc) {
    EXPECT_EQ(rc, SQL_ERROR);
    std::string s = state();
    EXPECT_EQ(statement_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS);
    return s;
  }

  SQLRETURN tables(const char* qualifier, const char* owner, const char* table, const char* types) {
    return statement_->SQLTables(S(qualifier), SQL_NTS, S(owner), SQL_NTS, S(table), SQL_NTS, S(types), SQL_NTS);
  }
  SQLRETURN columns(const char* table, const char* column = nullptr, const char* qualifier = nullptr) {
    return statement_->SQLColumns(S(qualifier), SQL_NTS, nullptr, 0, S(table), SQL_NTS, S(column), SQL_NTS);
  }
  SQLRETURN special(const char* table, SQLUSMALLINT scope, SQLUSMALLINT nullable = SQL_NULLABLE,
                    SQLUSMALLINT type = SQL_BEST_ROWID) {
    return statement_->SQLSpecialColumns(type, nullptr, 0, nullptr, 0, S(table), SQL_NTS, scope, nullable);
  }
  SQLRETURN statistics(const char* table, SQLUSMALLINT unique) {
    return statement_->SQLStatistics(nullptr, 0, nullptr, 0, S(table), SQL_NTS, unique, SQL_QUICK);
  }
};

// ---------------------------------------------------------------- SQLTables

TEST_F(FlatCatalogTest, TablesListEveryTableFileOfTheDirectoryAsTable) {
  ASSERT_EQ(tables(nullptr, nullptr, nullptr, nullptr), SQL_SUCCESS) << state();
  EXPECT_EQ(rows(), (Rows{{dir(), "NULL", "dept", "TABLE", "NULL"},
                          {dir(), "NULL", "emp", "TABLE", "NULL"},
                          {dir(), "NULL", "one", "TABLE", "NULL"}}));
  // Table names match without regard to case; TABLE is the only type.
  struct Case {
    const char* table;
    const char* types;
    std::vector<std::string> names;
  } cases[] = {
      {"E%", nullptr, {"emp"}},
      {"_n_", nullptr, {"one"}},
      {nullptr, "VIEW", {}},
      {nullptr, "'SYSTEM TABLE','VIEW'", {}},
      {"D%", "'TABLE','VIEW'", {"dept"}},
      {"nope", nullptr, {}},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(tables(nullptr, nullptr, c.table, c.types), SQL_SUCCESS) << state();
    EXPECT_EQ(column(3), c.names) << (c.table ? c.table : "null") << " " << (c.types ? c.types : "null");
  }
}

TEST_F(FlatCatalogTest, TablesEnumerationModes) {
  // The qualifiers are the database directory; the table types TABLE.
  ASSERT_EQ(tables("%", "", "", nullptr), SQL_SUCCESS) << state();
  EXPECT_EQ(rows(), (Rows{{dir(), "NULL", "NULL", "NULL", "NULL"}}));
  ASSERT_EQ(tables("", "", "", "%"), SQL_SUCCESS) << state();
  EXPECT_EQ(rows(), (Rows{{"NULL", "NULL", "NULL", "TABLE", "NULL"}}));
  // The file drivers have no owners.
  EXPECT_EQ(failure(tables("", "%", "", nullptr)), "S1C00");
}

TEST_F(FlatCatalogTest, TablesOfAnotherDirectoryAndRefusedOwner) {
  ScratchDirectory other;
  ASSERT_TRUE(other.make("kvflatq"));
  FlatTestLayout layout;
  layout.columns = {{"A", 'I', 4, 0}};
  std::string reason;
  ASSERT_TRUE(flatTestCheckLayout(&layout, &reason));
  std::vector<unsigned char> header = flatTestHeader(layout);
  for (const char* name : {"/Alpha.FTT", "/beta.ftt", "/not_a_table.txt"}) {
    std::ofstream out(other.name() + name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(header.data()), std::streamsize(header.size()));
  }
  ASSERT_EQ(tables(other.name().c_str(), nullptr, nullptr, nullptr), SQL_SUCCESS) << state();
  EXPECT_EQ(rows(), (Rows{{other.name(), "NULL", "Alpha", "TABLE", "NULL"},
                          {other.name(), "NULL", "beta", "TABLE", "NULL"}}));
  // Its columns, through the file found without regard to case.
  ASSERT_EQ(columns("Alpha", nullptr, other.name().c_str()), SQL_SUCCESS) << state();
  EXPECT_EQ(column(4), std::vector<std::string>{"A"});

  // A driver without qualifiers refuses one.
  connection_->clearEngineFlags(flatQualifiersUsable);
  EXPECT_EQ(failure(tables(other.name().c_str(), nullptr, nullptr, nullptr)), "S1C00");
  EXPECT_EQ(failure(statement_->SQLStatistics(S(dir().c_str()), SQL_NTS, nullptr, 0, S("emp"), SQL_NTS,
                                              SQL_INDEX_ALL, SQL_QUICK)),
            "S1C00");
  connection_->addEngineFlags(flatQualifiersUsable);

  EXPECT_EQ(failure(tables(nullptr, "X", nullptr, nullptr)), "S1C00");
  EXPECT_EQ(failure(statement_->SQLColumns(nullptr, 0, S("X"), SQL_NTS, S("emp"), SQL_NTS, nullptr, 0)), "S1C00");
}

// ---------------------------------------------------------------- SQLColumns

TEST_F(FlatCatalogTest, ColumnsDescribeEachColumnInTableOrder) {
  ASSERT_EQ(columns("emp"), SQL_SUCCESS) << state();
  // TABLE_QUALIFIER TABLE_OWNER TABLE_NAME COLUMN_NAME DATA_TYPE TYPE_NAME
  // PRECISION LENGTH SCALE RADIX NULLABLE REMARKS
  EXPECT_EQ(rows(), (Rows{
                        {dir(), "NULL", "emp", "ID", "4", "INTEGER", "10", "4", "0", "10", "1", "NULL"},
                        {dir(), "NULL", "emp", "NAME", "1", "CHAR", "10", "10", "NULL", "NULL", "1", "NULL"},
                        {dir(), "NULL", "emp", "DEPT", "1", "CHAR", "4", "4", "NULL", "NULL", "1", "NULL"},
                        {dir(), "NULL", "emp", "SAL", "8", "DOUBLE", "15", "8", "NULL", "10", "1", "NULL"},
                        {dir(), "NULL", "emp", "HIRED", "9", "DATE", "10", "6", "NULL", "NULL", "1", "NULL"},
                        {dir(), "NULL", "emp", "ACTIVE", "-7", "BIT", "1", "1", "0", "10", "1", "NULL"},
                        {dir(), "NULL", "emp", "NOTE", "-1", "LONG VARCHAR", "200", "200", "NULL", "NULL", "1",
                         "NULL"},
                    }));
  // The table is found without regard to case.
  ASSERT_EQ(columns("EMP", "id"), SQL_SUCCESS) << state();
  EXPECT_EQ(column(4), std::vector<std::string>{"ID"});
  ASSERT_EQ(columns("nope"), SQL_SUCCESS) << state();
  EXPECT_EQ(rows().size(), 0u);
}

TEST_F(FlatCatalogTest, ColumnPatternIgnoresCaseAndKeepsTableOrder) {
  writeTable("mix", {{"Zed", 'I', 4, 0}, {"amount", 'D', 8, 0}, {"B", 'C', 2, 0}, {"Abc", 'C', 3, 0},
                     {"A_1", 'C', 1, 0}},
             {});
  struct Case {
    const char* pattern;
    std::vector<std::string> names;
  } cases[] = {
      {"A%", {"amount", "Abc", "A_1"}},
      {"a%", {"amount", "Abc", "A_1"}},
      {"a_1", {"A_1"}},
      {"a~_%", {"A_1"}},  // the escape keeps "_" literal
      {"%", {"Zed", "amount", "B", "Abc", "A_1"}},
      {"q%", {}},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(columns("mix", c.pattern), SQL_SUCCESS) << state();
    EXPECT_EQ(column(4), c.names) << c.pattern;
  }
  // Without a table, or with a table pattern, the framework looks for
  // tables itself and filters again: the case is still ignored, and the
  // rows come table by table.
  for (const char* table : {static_cast<const char*>(nullptr), "%", "_%"}) {
    ASSERT_EQ(columns(table, "%d%"), SQL_SUCCESS) << state();
    std::vector<std::string> found;
    for (const auto& row : rows()) found.push_back(row[2] + "." + row[3]);
    EXPECT_EQ(found, (std::vector<std::string>{"dept.ID", "dept.DEPT", "emp.ID", "emp.DEPT", "emp.HIRED", "mix.Zed"}))
        << (table ? table : "null");
  }
}

TEST_F(FlatCatalogTest, LengthByType) {
  struct Case {
    int16_t type;
    uint32_t precision;
    int16_t scale;
    int isSigned;
    int32_t length;
  } cases[] = {
      {SQL_DECIMAL, 8, 2, 1, 10}, {SQL_DECIMAL, 8, 0, 0, 8}, {SQL_NUMERIC, 8, 2, 0, 9}, {SQL_NUMERIC, 8, 0, 1, 9},
      {SQL_CHAR, 30, 0, 1, 30},   {SQL_LONGVARBINARY, 1000, 0, 1, 1000},              {SQL_INTEGER, 10, 0, 1, 4},
      {SQL_SMALLINT, 5, 0, 1, 2}, {SQL_BIGINT, 19, 0, 1, 20}, {SQL_TINYINT, 3, 0, 1, 1}, {SQL_BIT, 1, 0, 0, 1},
      {SQL_REAL, 7, 0, 1, 4},     {SQL_FLOAT, 15, 0, 1, 8},   {SQL_DOUBLE, 15, 0, 1, 8}, {SQL_DATE, 10, 0, 0, 6},
      {SQL_TIME, 8, 0, 0, 6},     {SQL_TIMESTAMP, 19, 0, 0, 16},
  };
  for (const Case& c : cases)
    EXPECT_EQ(flatCatalogLength(c.type, c.precision, c.scale, c.isSigned), c.length) << c.type << " " << c.scale;
}

// Names longer than a catalog column are cut at 128 bytes, never copied past
// the row's fields.
TEST_F(FlatCatalogTest, LongNamesAreCutAt128Bytes) {
  struct Case {
    std::string text;
    std::string field;
  } cases[] = {
      {"", ""}, {"abc", "abc"}, {std::string(128, 'x'), std::string(128, 'x')},
      {std::string(129, 'y'), std::string(128, 'y')}, {std::string(4000, 'z'), std::string(128, 'z')},
  };
  for (const Case& c : cases) {
    unsigned char field[flatCatalogTextBytes + 8];
    std::memset(field, 0x5A, sizeof(field));
    flatCatalogText(field, kvU(c.text.c_str()));
    EXPECT_EQ(std::string(kvC(field)), c.field);
    EXPECT_EQ(field[flatCatalogTextBytes], 0x5A);  // nothing written beyond the field
  }
  unsigned char field[flatCatalogTextBytes];
  flatCatalogText(field, nullptr);
  EXPECT_EQ(field[0], 0);

  // A table file of a 200-byte name: listed cut, and its columns reached.
  const std::string longName(200, 'L');
  writeTable(longName, {{"C", 'I', 4, 0}}, {});
  ASSERT_EQ(tables(nullptr, nullptr, "L%", nullptr), SQL_SUCCESS) << state();
  EXPECT_EQ(column(3), std::vector<std::string>{std::string(128, 'L')});
  ASSERT_EQ(columns("L%"), SQL_SUCCESS) << state();
  EXPECT_EQ(column(4), std::vector<std::string>{"C"});
}

TEST_F(FlatCatalogTest, TableNamesWithDotsAndAnUnreadableTable) {
  writeTable("a.b", {{"X", 'I', 4, 0}}, {});
  ASSERT_EQ(columns("a%"), SQL_SUCCESS) << state();
  std::vector<std::string> found;
  for (const auto& row : rows()) found.push_back(row[2] + "." + row[3]);
  EXPECT_EQ(found, std::vector<std::string>{"a.b.X"});
  // A file of the driver's extension that is no table fails the call with
  // the driver's reason.
  std::ofstream(tablePath("bad"), std::ios::binary) << "not a table";
  EXPECT_EQ(failure(columns("bad")), "S1000");
  // ... but it is still a table file to SQLTables.
  ASSERT_EQ(tables(nullptr, nullptr, "b%", nullptr), SQL_SUCCESS) << state();
  EXPECT_EQ(column(3), std::vector<std::string>{"bad"});
}

// ---------------------------------------------------------------- SQLSpecialColumns

TEST_F(FlatCatalogTest, SpecialColumnsPickTheRowIdentifier) {
  // dept has no unique index: only the ROWID pseudo column identifies a
  // row, and only while the row is current or the transaction lasts.
  const std::vector<std::string> rowId = {"1", "ROWID", "8", "DOUBLE", "15", "8", "NULL", "2"};
  for (SQLUSMALLINT scope : {SQL_SCOPE_CURROW, SQL_SCOPE_TRANSACTION}) {
    ASSERT_EQ(special("dept", scope), SQL_SUCCESS) << state();
    EXPECT_EQ(rows(), Rows{rowId}) << scope;
  }
  ASSERT_EQ(special("dept", SQL_SCOPE_SESSION), SQL_SUCCESS) << state();
  EXPECT_EQ(rows().size(), 0u);
  // emp's unique ID serves the session; ROWID still wins within a row.
  ASSERT_EQ(special("EMP", SQL_SCOPE_SESSION), SQL_SUCCESS) << state();
  EXPECT_EQ(rows(), (Rows{{"2", "ID", "4", "INTEGER", "10", "4", "0", "1"}}));
  ASSERT_EQ(special("emp", SQL_SCOPE_CURROW), SQL_SUCCESS) << state();
  EXPECT_EQ(rows(), Rows{rowId});
  // Row versions: no column of the test driver changes by itself.
  ASSERT_EQ(special("emp", SQL_SCOPE_CURROW, SQL_NULLABLE, SQL_ROWVER), SQL_SUCCESS) << state();
  EXPECT_EQ(rows().size(), 0u);
  // An unknown table is an empty result, not an error.
  ASSERT_EQ(special("nope", SQL_SCOPE_CURROW), SQL_SUCCESS) << state();
  EXPECT_EQ(rows().size(), 0u);
}

TEST_F(FlatCatalogTest, SpecialColumnsTheShorterUniqueKeyWins) {
  struct Case {
    std::vector<FlatTestColumn> columns;
    std::string chosen;
  } cases[] = {
      {{{"LONGKEY", 'C', 20, flatTestUnique}, {"SHORTKEY", 'C', 3, flatTestUnique}}, "SHORTKEY"},
      {{{"CODE", 'C', 2, flatTestUnique}, {"N", 'I', 4, flatTestUnique}}, "CODE"},
      {{{"N", 'I', 4, flatTestUnique}, {"CODE", 'C', 8, flatTestUnique}}, "N"},
      {{{"FIRST", 'C', 4, flatTestUnique}, {"SECOND", 'C', 4, flatTestUnique}}, "FIRST"},  // a tie: the first
      {{{"PLAIN", 'C', 1, flatTestIndexed}, {"U", 'D', 8, flatTestUnique}}, "U"},        // not unique
  };
  for (const Case& c : cases) {
    writeTable("keys", c.columns, {});
    ASSERT_EQ(special("keys", SQL_SCOPE_SESSION), SQL_SUCCESS) << state();
    EXPECT_EQ(column(2), std::vector<std::string>{c.chosen}) << c.chosen;
  }
}

TEST_F(FlatCatalogTest, SpecialColumnsRefuseNullableKeysUnderNoNulls) {
  // An index flagged unique over a column the driver does not hold to
  // unique values may hold nulls: SQL_NO_NULLS refuses it.
  auto* desc = new FlatSpecialDesc(statement_);
  KvErrorKeeper::setErrorList(&statement_->getErrorList());
  ASSERT_EQ(desc->setTable(kvU("emp")), kvSuccess);
  uint16_t found = 0;
  ASSERT_EQ(desc->openNamedTable(&found), kvSuccess);
  ASSERT_EQ(found, 1);
  FlatSharedDesc* shared = desc->getOpenedTable()->getShared();
  FlatIndexDesc byName;
  ASSERT_EQ(byName.initialize(kvU("BYNAME"), 1), kvSuccess);
  ASSERT_EQ(byName.keys[0]->compileFieldName(shared->getColumn(1), 1), kvSuccess);
  byName.flags = FlatIndexDesc::indexUnique;
  FlatIndexDesc byId;
  ASSERT_EQ(byId.initialize(kvU("BYID"), 1), kvSuccess);
  ASSERT_EQ(byId.keys[0]->compileFieldName(shared->getColumn(0), 0), kvSuccess);
  byId.flags = FlatIndexDesc::indexUnique;
  FlatIndexDesc plain;
  ASSERT_EQ(plain.initialize(kvU("PLAIN"), 1), kvSuccess);

  desc->setOptions(SQL_BEST_ROWID, SQL_SCOPE_SESSION, SQL_NO_NULLS);
  EXPECT_EQ(desc->pickBest(nullptr, &byName), nullptr);
  EXPECT_EQ(desc->pickBest(nullptr, &plain), nullptr);
  EXPECT_EQ(desc->pickBest(nullptr, &byId), &byId);
  desc->setOptions(SQL_BEST_ROWID, SQL_SCOPE_SESSION, SQL_NULLABLE);
  // NAME is CHAR(10), ID an INTEGER of 4 bytes: the shorter key wins.
  EXPECT_EQ(desc->pickBest(&byName, &byId), &byId);
  EXPECT_EQ(desc->pickBest(&byId, &byName), &byId);
  KvErrorKeeper::giveUpErrorList();
  delete desc;
}

// ---------------------------------------------------------------- SQLStatistics

TEST_F(FlatCatalogTest, StatisticsListTheTableAndItsIndexes) {
  writeTable("idx", {{"K", 'I', 4, flatTestUnique}, {"NAME", 'C', 8, flatTestIndexed | flatTestDescending},
                     {"V", 'D', 8, 0}},
             {});
  // TABLE_QUALIFIER TABLE_OWNER TABLE_NAME NON_UNIQUE INDEX_QUALIFIER
  // INDEX_NAME TYPE SEQ_IN_INDEX COLUMN_NAME COLLATION CARDINALITY PAGES
  // FILTER_CONDITION; the table's row comes last.
  ASSERT_EQ(statistics("idx", SQL_INDEX_ALL), SQL_SUCCESS) << state();
  EXPECT_EQ(rows(), (Rows{
                        {dir(), "NULL", "idx", "0", "idx", "K", "3", "1", "K", "A", "NULL", "NULL", "NULL"},
                        {dir(), "NULL", "idx", "1", "idx", "NAME", "3", "1", "NAME", "D", "NULL", "NULL", "NULL"},
                        {dir(), "NULL", "idx", "NULL", "NULL", "NULL", "0", "NULL", "NULL", "NULL", "NULL", "NULL",
                         "NULL"},
                    }));
  ASSERT_EQ(statistics("IDX", SQL_INDEX_UNIQUE), SQL_SUCCESS) << state();
  EXPECT_EQ(column(6), (std::vector<std::string>{"K", "NULL"}));
  // A table without indexes has its table row only; an unknown one nothing.
  ASSERT_EQ(statistics("dept", SQL_INDEX_ALL), SQL_SUCCESS) << state();
  EXPECT_EQ(column(7), std::vector<std::string>{"0"});
  ASSERT_EQ(statistics("nope", SQL_INDEX_ALL), SQL_SUCCESS) << state();
  EXPECT_EQ(rows().size(), 0u);
}

}  // namespace
