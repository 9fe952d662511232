// Catalog functions on a driver of the tests whose executeXxx operations
// open results the test writes: the common road (busy, open cursor, S1009,
// argument rules and limits, asynchronous resumption), each family's
// columns, NULL rules, filters and order, SQLTables' modes and type list,
// SQLColumns' own search, SQLSpecialColumns' own answer, and the copies of
// driver values (clamped, NULL kept).
#include "tests/base/stmt_test_support.h"

#include "base/catalog/base_catalog_columns.h"
#include "base/catalog/base_catalog_families.h"
#include "base/catalog/base_catalog_tables.h"
#include "base/results/base_field.h"
#include "base/handles/base_out_string.h"
#include "util/memory/ram.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

// A value of a driver row: text, number or NULL.
struct Cell {
  enum Kind { null, text, number } kind;
  std::string s;
  int32_t n;
};
Cell T(const char* s) { return s ? Cell{Cell::text, s, 0} : Cell{Cell::null, "", 0}; }
Cell N(int32_t n) { return {Cell::number, "", n}; }
const Cell Null = {Cell::null, "", 0};
using Row = std::vector<Cell>;

// Limits of 8 for owner, procedure, table and column names; qualifiers
// unsupported (0).
class CatConnection : public StmtConnection {
 public:
  explicit CatConnection(BaseEnv* env) : StmtConnection(env) {
    static const BaseInfoRow rows[] = {KV_INFO_U16(SQL_MAX_COLUMN_NAME_LEN, 8), KV_INFO_U16(SQL_MAX_OWNER_NAME_LEN, 8),
                                       KV_INFO_U16(SQL_MAX_PROCEDURE_NAME_LEN, 8),
                                       KV_INFO_U16(SQL_MAX_TABLE_NAME_LEN, 8)};
    static BaseInfoTable table = {4, nullptr, rows};
    table.next = getInfoChain();
    setInfoChain(&table);
    scrollOptions = SQL_SO_FORWARD_ONLY | SQL_SO_STATIC;
  }
};

class CatStatement : public StmtStatement {
 public:
  explicit CatStatement(BaseConnection* connection) : StmtStatement(connection) {}

  KvStatus answer(BaseCatalogKind kind) {
    ++calls[kind];
    if (asyncOnce) {
      asyncOnce = false;
      flags_ |= flagAsync;
      return kvSuccess;
    }
    flags_ &= ~uint32_t(flagAsync);
    if (failing) {
      addOdbcError(stateGeneral);
      return kvFailure;
    }
    current = &answers[kind];
    row = 0;
    return kvSuccess;
  }
  KvStatus executeTables(BaseInString*) override {
    if (typesMask) static_cast<BaseTablesInfo*>(getCatalogInfo())->setTypeMask(typesMask);
    return answer(catalogTables);
  }
  KvStatus executeColumns() override {
    if (!driverColumns) return BaseStatement::executeColumns();
    return answer(catalogColumns);
  }
  KvStatus executeStatistics(uint16_t internal) override {
    lastInternal = internal;
    return answer(catalogStatistics);
  }
  KvStatus executePrimary() override { return answer(catalogPrimaryKeys); }
  KvStatus executeForeign() override { return answer(catalogForeignKeys); }
  KvStatus executeProcedures() override { return answer(catalogProcedures); }
  KvStatus executeProcCols() override { return answer(catalogProcedureColumns); }
  KvStatus executeTablePriv() override { return answer(catalogTablePrivileges); }
  KvStatus executeColPriv() override { return answer(catalogColumnPrivileges); }

  KvStatus fetchRow(uint16_t* endOfData) override {
    *endOfData = !current || row >= current->size();
    if (!*endOfData) ++row;
    return kvSuccess;
  }
  KvStatus getData(uint16_t column, int16_t cType, BaseOutString* out) override {
    const Cell& cell = (*current)[row - 1][column - 1];
    if (cell.kind == Cell::null) {
      out->setLength(SQL_NULL_DATA);
      return kvSuccess;
    }
    if (cell.kind == Cell::text) return convertInternalToC(column, cType, out, cell.s.data(), int32_t(cell.s.size()), itChar);
    return convertInternalToC(column, cType, out, &cell.n, 4, itSLong);
  }
  // "SELECT * FROM <t>": the columns of tables[t], or a failure.
  KvStatus prepareCompile(BaseSqlString* sql) override {
    deleteFields();
    const std::string text(reinterpret_cast<const char*>(sql->getText()), sql->getLength());
    queries.push_back(text);
    const auto found = tables.find(text.substr(14));
    if (found == tables.end()) {
      addOdbcError(stateSyntax);
      return kvFailure;
    }
    if (allocArrays(uint16_t(found->second.size()), arrayFields) != kvSuccess) return kvFailure;
    for (size_t i = 0; i < found->second.size(); ++i) {
      BaseField* field = allocFld();
      fields_[i] = field;
      EXPECT_EQ(field->setText(&field->name, kvU(found->second[i].name.c_str())), kvSuccess);
      field->sqlType = found->second[i].type;
      field->precision = found->second[i].precision;
      field->scale = found->second[i].scale;
      field->nullable = SQL_NULLABLE;
    }
    fieldCount_ = uint16_t(found->second.size());
    return kvSuccess;
  }
  KvStatus setToAllocatedState(uint16_t) override {
    current = nullptr;
    return kvSuccess;
  }

  struct Column {
    std::string name;
    int16_t type;
    uint32_t precision;
    int16_t scale;
  };
  std::map<int, std::vector<Row>> answers;
  std::map<std::string, std::vector<Column>> tables;
  std::map<int, int> calls;
  std::vector<std::string> queries;
  const std::vector<Row>* current = nullptr;
  size_t row = 0;
  bool asyncOnce = false;
  bool failing = false;
  bool driverColumns = false;
  uint32_t typesMask = 0;
  uint16_t lastInternal = 9;
  using BaseStatement::flags_;
};

SQLCHAR* S(const char* text) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text)); }

class CatalogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = new BaseEnv(1);
    connection_ = new CatConnection(env_);
    statement_ = new CatStatement(connection_);
  }
  void TearDown() override {
    delete connection_;
    delete env_;
  }
  std::string state() { return firstState(statement_->getErrorList()); }
  // Every row of the open result: each column as text, "NULL" for NULL.
  std::vector<std::vector<std::string>> rows() {
    std::vector<std::vector<std::string>> out;
    SQLSMALLINT columns = 0;
    EXPECT_EQ(statement_->SQLNumResultCols(&columns), SQL_SUCCESS);
    for (;;) {
      const SQLRETURN rc = statement_->SQLFetch();
      if (rc == SQL_NO_DATA_FOUND) break;
      EXPECT_EQ(rc, SQL_SUCCESS);
      if (rc != SQL_SUCCESS) break;
      std::vector<std::string> values;
      for (SQLUSMALLINT c = 1; c <= SQLUSMALLINT(columns); ++c) {
        char buffer[300] = "?";
        SQLLEN length = 0;
        EXPECT_EQ(statement_->SQLGetData(c, SQL_C_CHAR, buffer, sizeof(buffer), &length), SQL_SUCCESS);
        values.push_back(length == SQL_NULL_DATA ? "NULL" : buffer);
      }
      out.push_back(values);
    }
    return out;
  }
  std::vector<std::string> column(uint16_t n) {
    std::vector<std::string> out;
    for (const auto& row : rows()) out.push_back(row[n - 1]);
    return out;
  }
  SQLRETURN tables(const char* owner, const char* table, const char* types, const char* qualifier = nullptr) {
    return statement_->SQLTables(S(qualifier), SQL_NTS, S(owner), SQL_NTS, S(table), SQL_NTS, S(types), SQL_NTS);
  }
  SQLRETURN columns(const char* table, const char* column = nullptr) {
    return statement_->SQLColumns(nullptr, 0, nullptr, 0, S(table), SQL_NTS, S(column), SQL_NTS);
  }
  void setTables(std::vector<Row> rows) { statement_->answers[catalogTables] = std::move(rows); }

  BaseEnv* env_ = nullptr;
  CatConnection* connection_ = nullptr;
  CatStatement* statement_ = nullptr;
};

// ---------------------------------------------------------------- the road

TEST_F(CatalogTest, OpenCursorIsRefusedUntilClosedAndABusyHandleAnswers9999) {
  setTables({{Null, Null, T("A"), T("TABLE"), Null}});
  ASSERT_EQ(tables(nullptr, nullptr, nullptr), SQL_SUCCESS);
  EXPECT_EQ(statement_->getKind(), stmtKindCatalog);
  EXPECT_EQ(tables(nullptr, nullptr, nullptr), SQL_ERROR);
  EXPECT_EQ(state(), "24000");
  EXPECT_EQ(column(3), std::vector<std::string>{"A"});  // the result stands
  ASSERT_EQ(statement_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS);
  EXPECT_EQ(tables(nullptr, nullptr, nullptr), SQL_SUCCESS);
  ASSERT_EQ(statement_->threadCheck(), 0);
  EXPECT_EQ(tables(nullptr, nullptr, nullptr), SQL_HANDLE_BUSY);
  statement_->threadDone();
}

TEST_F(CatalogTest, MissingTableNameIsS1009BeforeTheDriverIsAsked) {
  struct Case {
    const char* name;
    std::function<SQLRETURN()> call;
    BaseCatalogKind kind;
  } cases[] = {
      {"statistics", [&] { return statement_->SQLStatistics(nullptr, 0, nullptr, 0, nullptr, 0, 0, 0); }, catalogStatistics},
      {"special", [&] { return statement_->SQLSpecialColumns(1, nullptr, 0, nullptr, 0, nullptr, 0, 0, 1); }, catalogStatistics},
      {"primary", [&] { return statement_->SQLPrimaryKeys(nullptr, 0, nullptr, 0, nullptr, 0); }, catalogPrimaryKeys},
      {"column privileges",
       [&] { return statement_->SQLColumnPrivileges(nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0); },
       catalogColumnPrivileges},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.call(), SQL_ERROR) << c.name;
    EXPECT_EQ(state(), "S1009") << c.name;
    EXPECT_EQ(statement_->calls[c.kind], 0) << c.name;
    EXPECT_EQ(statement_->getCursorState(), cursorAllocated) << c.name;
  }
}

TEST_F(CatalogTest, ArgumentsLoseQuotesAndEscapesAndKeepProtectedWildcards) {
  struct Case {
    const char* argument;
    const char* plain;    // null: absent
    const char* pattern;  // null: absent
  } cases[] = {
      {"A\\_B", "A_B", "A\\_B"},  {"A\\xB", "AxB", "AxB"}, {"%", nullptr, nullptr}, {"A%", "A%", "A%"},
      {"A\\\\B", "A\\B", "A\\\\B"}, {"AB\\", "AB", "AB\\"},
  };
  for (const Case& c : cases) {
    unsigned char* plain = nullptr;
    unsigned char* pattern = nullptr;
    ASSERT_EQ(statement_->getCatalogArgument(S(c.argument), SQL_NTS, SQL_MAX_TABLE_NAME_LEN, &plain, &pattern),
              kvSuccess)
        << c.argument;
    EXPECT_STREQ(reinterpret_cast<char*>(plain), c.plain) << c.argument;
    EXPECT_STREQ(reinterpret_cast<char*>(pattern), c.pattern) << c.argument;
    ramFree(plain);
    ramFree(pattern);
  }
}

TEST_F(CatalogTest, ArgumentLongerThanItsLimitNamesTheLimitAndALimitOfZeroIsNotCapable) {
  struct Case {
    std::function<SQLRETURN()> call;
    const char* state;
    const char* message;
  } cases[] = {
      {[&] { return tables(nullptr, "ABCDEFGHI", nullptr); }, "S1090",
       "The table name 'ABCDEFGHI' was larger than SQL_MAX_TABLE_NAME_LEN from SQLGetInfo (8)."},
      {[&] { return tables(nullptr, "ABCDEFGH", nullptr); }, "", ""},
      {[&] { return columns("T", "COLUMN__9"); }, "S1090",
       "The column name 'COLUMN__9' was larger than SQL_MAX_COLUMN_NAME_LEN from SQLGetInfo (8)."},
      {[&] { return tables(nullptr, nullptr, nullptr, "Q"); }, "S1C00", ""},  // no qualifiers at all
      {[&] { return tables(nullptr, nullptr, nullptr, ""); }, "S1C00", ""},
      {[&] { return tables(nullptr, nullptr, nullptr, "%"); }, "", ""},  // "%" is no argument
      {[&] { return tables("", "", nullptr, "%"); }, "S1C00", ""},       // no qualifiers to list
  };
  for (const Case& c : cases) {
    const SQLRETURN rc = c.call();
    EXPECT_EQ(rc, *c.state ? SQL_ERROR : SQL_SUCCESS) << c.message;
    BaseErrorList& list = statement_->getErrorList();
    const UnitDiagnostic diagnostic = list.getCount() ? nextDiagnostic(list) : UnitDiagnostic{};
    EXPECT_EQ(diagnostic.state, c.state);
    if (*c.message) {
      EXPECT_NE(diagnostic.text.find(c.message), std::string::npos) << diagnostic.text;
    }
    if (rc == SQL_ERROR) {
      EXPECT_EQ(statement_->getCursorState(), cursorAllocated);
    }
    ASSERT_EQ(statement_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS);
  }
}

TEST_F(CatalogTest, AsynchronousDriverResumesWhereItStopped) {
  setTables({{Null, Null, T("A"), T("TABLE"), Null}});
  statement_->asyncOnce = true;
  EXPECT_EQ(tables(nullptr, nullptr, nullptr), SQL_STILL_EXECUTING);
  // Another function meanwhile is a sequence error; the same one carries on.
  EXPECT_EQ(statement_->SQLPrimaryKeys(nullptr, 0, nullptr, 0, S("A"), SQL_NTS), SQL_ERROR);
  EXPECT_EQ(state(), "S1010");
  EXPECT_EQ(tables(nullptr, nullptr, nullptr), SQL_SUCCESS);
  EXPECT_EQ(statement_->calls[catalogTables], 2);
  EXPECT_EQ(column(3), std::vector<std::string>{"A"});
}

TEST_F(CatalogTest, DriverFailureClosesTheStatement) {
  statement_->failing = true;
  EXPECT_EQ(tables(nullptr, nullptr, nullptr), SQL_ERROR);
  EXPECT_EQ(state(), "S1000");
  EXPECT_EQ(statement_->getCursorState(), cursorAllocated);
  EXPECT_EQ(statement_->getCatalogInfo(), nullptr);
}

TEST_F(CatalogTest, ExtendedFetchMovesOverCatalogRows) {
  setTables({{Null, Null, T("A"), T("TABLE"), Null}, {Null, Null, T("B"), T("TABLE"), Null},
             {Null, Null, T("C"), T("TABLE"), Null}});
  ASSERT_EQ(statement_->SQLSetStmtOption(SQL_CURSOR_TYPE, SQL_CURSOR_STATIC), SQL_SUCCESS);
  ASSERT_EQ(tables(nullptr, nullptr, nullptr), SQL_SUCCESS);
  struct Case {
    SQLUSMALLINT type;
    SQLLEN row;
    SQLRETURN rc;
    const char* name;  // the row's TABLE_NAME, null when no row
  } cases[] = {
      {SQL_FETCH_ABSOLUTE, 3, SQL_SUCCESS, "C"}, {SQL_FETCH_ABSOLUTE, 0, SQL_NO_DATA_FOUND, nullptr},
      {SQL_FETCH_ABSOLUTE, 4, SQL_NO_DATA_FOUND, nullptr}, {SQL_FETCH_FIRST, 0, SQL_SUCCESS, "A"},
      {SQL_FETCH_NEXT, 0, SQL_SUCCESS, "B"}, {SQL_FETCH_LAST, 0, SQL_SUCCESS, "C"},
  };
  for (const Case& c : cases) {
    SQLUSMALLINT status[1] = {99};
    SQLULEN fetched = 9;
    EXPECT_EQ(statement_->SQLExtendedFetch(c.type, c.row, &fetched, status), c.rc) << c.type << " " << c.row;
    if (!c.name) continue;
    char name[16] = "";
    SQLLEN length = 0;
    EXPECT_EQ(statement_->SQLGetData(3, SQL_C_CHAR, name, sizeof(name), &length), SQL_SUCCESS);
    EXPECT_STREQ(name, c.name);
  }
  // No rows: the first fetch finds none, positioned fetches give status 3.
  ASSERT_EQ(statement_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS);
  setTables({});
  ASSERT_EQ(tables(nullptr, nullptr, nullptr), SQL_SUCCESS);
  uint16_t status = 0;
  EXPECT_EQ(statement_->getCatalogInfo()->fetchRandom(1, &status), kvSuccess);
  EXPECT_EQ(status, SQL_ROW_NOROW);
  EXPECT_EQ(statement_->SQLFetch(), SQL_NO_DATA_FOUND);
}

// ---------------------------------------------------------------- copies

TEST_F(CatalogTest, DriverValuesAreClampedToTheirBuffersAndNullNumbersStayNull) {
  const std::string longName(300, 'x');
  statement_->answers[catalogPrimaryKeys] = {{Null, Null, T("T"), T(longName.c_str()), Null, T("PK")}};
  ASSERT_EQ(statement_->SQLPrimaryKeys(nullptr, 0, nullptr, 0, S("T"), SQL_NTS), SQL_SUCCESS);
  const auto result = rows();
  ASSERT_EQ(result.size(), 1u);
  EXPECT_EQ(result[0][3], std::string(254, 'x'));
  EXPECT_EQ(result[0][4], "NULL");  // KEY_SEQ the driver left NULL is not 0
}

// ---------------------------------------------------------------- SQLTables

TEST_F(CatalogTest, TablesOrderedByTypeThenNamesWithoutDuplicates) {
  setTables({{Null, Null, T("b"), T("VIEW"), Null},         {Null, T("O2"), T("A"), T("TABLE"), Null},
             {Null, Null, T("Z"), T("TABLE"), T("first")},  {Null, T("O1"), T("C"), T("TABLE"), Null},
             {Null, Null, T("Z"), T("TABLE"), T("second")}, {Null, Null, T("S"), T("SYSTEM TABLE"), Null}});
  ASSERT_EQ(tables(nullptr, nullptr, nullptr), SQL_SUCCESS);
  const auto result = rows();
  std::vector<std::string> order;
  for (const auto& row : result) order.push_back(row[1] + "." + row[2] + " " + row[3]);
  EXPECT_EQ(order, (std::vector<std::string>{"NULL.S SYSTEM TABLE", "NULL.Z TABLE", "O1.C TABLE", "O2.A TABLE",
                                             "NULL.b VIEW"}));
}

TEST_F(CatalogTest, TableTypeListKeepsItsTypesAndUnknownOnes) {
  setTables({{Null, Null, T("T"), T("TABLE"), Null}, {Null, Null, T("V"), T("VIEW"), Null},
             {Null, Null, T("S"), T("SYSTEM TABLE"), Null}, {Null, Null, T("X"), T("EXTERNAL"), Null}});
  struct Case {
    const char* types;
    std::vector<std::string> names;
  } cases[] = {
      {"'TABLE','VIEW'", {"X", "T", "V"}},
      {"TABLE", {"X", "T"}},
      {"%", {"X", "S", "T", "V"}},
      {nullptr, {"X", "S", "T", "V"}},
      {"'NOTHING'", {"X"}},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(tables(nullptr, nullptr, c.types), SQL_SUCCESS);
    EXPECT_EQ(column(3), c.names) << (c.types ? c.types : "null");
    ASSERT_EQ(statement_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS);
  }
}

// Case matters to a pattern only where the data source's identifiers are
// case-sensitive; a table name ignores it too where the connection says so.
TEST_F(CatalogTest, PatternsKeepCaseOnlyForCaseSensitiveIdentifiers) {
  static const BaseInfoRow upper[] = {KV_INFO_U16(SQL_IDENTIFIER_CASE, SQL_IC_UPPER),
                                      KV_INFO_TEXT(SQL_IDENTIFIER_QUOTE_CHAR, "\"")};
  static const BaseInfoRow sensitive[] = {KV_INFO_U16(SQL_IDENTIFIER_CASE, SQL_IC_SENSITIVE),
                                          KV_INFO_TEXT(SQL_IDENTIFIER_QUOTE_CHAR, "\"")};
  struct Case {
    const BaseInfoRow* rows;
    uint32_t connectionFlags;
    uint16_t tableName;
    const char* value;
    const char* pattern;
    int match;
  } cases[] = {
      {upper, 0, 0, "Amount", "a%", 1},
      {upper, 0, 0, "AMOUNT", "AMOUNT", 1},
      {sensitive, 0, 0, "Amount", "a%", 0},
      {sensitive, 0, 0, "Amount", "A%", 1},
      {sensitive, 0, 1, "Emp", "emp", 0},
      {sensitive, BaseConnection::flagPatternNoCase, 1, "Emp", "emp", 1},
      {sensitive, BaseConnection::flagPatternNoCase, 0, "Emp", "emp", 0},  // the flag is for table names
  };
  const BaseInfoTable* chain = connection_->getInfoChain();
  const uint32_t flags = connection_->getFlags();
  BaseTablesInfo info(statement_);
  for (const Case& c : cases) {
    BaseInfoTable table = {2, chain, c.rows};
    connection_->setInfoChain(&table);
    connection_->clearFlags(BaseConnection::flagPatternNoCase);
    connection_->addFlags(c.connectionFlags);
    EXPECT_EQ(info.matchPattern(kvU(c.value), kvU(c.pattern), c.tableName), c.match) << c.value << " " << c.pattern;
    connection_->setInfoChain(chain);
  }
  connection_->clearFlags(~0u);
  connection_->addFlags(flags);
}

TEST_F(CatalogTest, TablesPatternsFilterOwnerAndName) {
  setTables({{Null, T("SYS"), T("MY_T"), T("TABLE"), Null}, {Null, T("SYS"), T("MYXT"), T("TABLE"), Null},
             {Null, T("APP"), T("MY_T"), T("TABLE"), Null}, {Null, Null, T("MY_T"), T("TABLE"), Null}});
  struct Case {
    const char* owner;
    const char* table;
    std::vector<std::string> found;  // owner.name
  } cases[] = {
      {"SYS", "MY_T", {"SYS.MY_T", "SYS.MYXT"}},  // the international collation puts "_" first
      {"SYS", "MY\\_T", {"SYS.MY_T"}},
      {"%", "my\\_t", {"NULL.MY_T", "APP.MY_T", "SYS.MY_T"}},  // a blank quote character: case ignored
      {"A%", nullptr, {"APP.MY_T"}},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(tables(c.owner, c.table, nullptr), SQL_SUCCESS);
    std::vector<std::string> found;
    for (const auto& row : rows()) found.push_back(row[1] + "." + row[2]);
    EXPECT_EQ(found, c.found) << c.owner << " " << (c.table ? c.table : "null");
    ASSERT_EQ(statement_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS);
  }
}

TEST_F(CatalogTest, EnumerationModesListOnlyTheirColumn) {
  setTables({{T("Q"), T("O1"), T("A"), T("TABLE"), T("r")}, {T("Q"), T("O2"), T("B"), T("VIEW"), Null},
             {T("Q"), T("O1"), T("C"), T("TABLE"), Null}});
  ASSERT_EQ(statement_->SQLTables(S(""), 0, S("%"), SQL_NTS, S(""), 0, nullptr, 0), SQL_SUCCESS);
  EXPECT_EQ(rows(), (std::vector<std::vector<std::string>>{{"NULL", "O1", "NULL", "NULL", "NULL"},
                                                           {"NULL", "O2", "NULL", "NULL", "NULL"}}));
  ASSERT_EQ(statement_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS);
  ASSERT_EQ(statement_->SQLTables(S(""), 0, S(""), 0, S(""), 0, S("%"), SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(column(4), (std::vector<std::string>{"TABLE", "VIEW"}));
  EXPECT_EQ(column(3).size(), 0u);
  ASSERT_EQ(statement_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS);
  // A driver that names its types in the mask: one row each, and the
  // internal-call and every-type bits make none.
  statement_->typesMask = typeTable | typeView | typeFromColumns | typeEveryType;
  ASSERT_EQ(statement_->SQLTables(S(""), 0, S(""), 0, S(""), 0, S("%"), SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(column(4), (std::vector<std::string>{"TABLE", "VIEW"}));
}

// ---------------------------------------------------------------- SQLColumns

TEST_F(CatalogTest, ColumnsOwnSearchDescribesTablesTheDriverDidNotReport) {
  setTables({{Null, Null, T("MY_T"), T("TABLE"), Null}, {Null, Null, T("MYXT"), T("TABLE"), Null},
             {Null, Null, T("MYBAD"), T("TABLE"), Null}});
  statement_->driverColumns = true;
  statement_->answers[catalogColumns] = {
      {Null, Null, T("MY_T"), T("ID"), N(SQL_INTEGER), T("INTEGER"), N(10), N(4), N(0), N(10), N(0), Null},
      {Null, Null, T("MY_T"), T("PRICE"), N(SQL_DECIMAL), T("DECIMAL"), N(10), Null, N(2), N(10), N(1), T("money")}};
  statement_->tables["MYXT"] = {{"X", SQL_DECIMAL, 10, 0}, {"Y", SQL_VARCHAR, 20, 0}};
  ASSERT_EQ(columns("MY%"), SQL_SUCCESS);
  const auto result = rows();
  std::vector<std::string> found;
  for (const auto& row : result) found.push_back(row[2] + "." + row[3] + " " + row[7] + " " + row[8]);
  // MY_T comes from the driver only (not twice), MYXT from SELECT *, MYBAD
  // cannot be prepared and is left out without an error.
  EXPECT_EQ(found, (std::vector<std::string>{"MY_T.ID 4 0", "MY_T.PRICE 12 2", "MYXT.X 11 0", "MYXT.Y 20 NULL"}));
  EXPECT_EQ(result[1][11], "money");
  EXPECT_EQ(result[2][11], "NULL");
  EXPECT_EQ(statement_->queries, (std::vector<std::string>{"SELECT * FROM MYBAD", "SELECT * FROM MYXT"}));
  EXPECT_EQ(state(), "");
  ASSERT_EQ(statement_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS);
  // A column pattern keeps the matching columns and drops emptied tables.
  ASSERT_EQ(columns("MY%", "Y"), SQL_SUCCESS);
  EXPECT_EQ(column(4), std::vector<std::string>{"Y"});
}

TEST_F(CatalogTest, ColumnsOfANamedTableAreTheDriversAlone) {
  // The data source has owners: table and owner both named.
  setTables({{Null, T("O"), T("T1"), T("TABLE"), Null}});
  statement_->driverColumns = true;
  statement_->answers[catalogColumns] = {
      {Null, T("O"), T("T1"), T("A"), N(SQL_CHAR), T("CHAR"), N(5), N(5), Null, Null, N(1), Null}};
  ASSERT_EQ(statement_->SQLColumns(nullptr, 0, S("O"), SQL_NTS, S("T1"), SQL_NTS, nullptr, 0), SQL_SUCCESS);
  EXPECT_EQ(column(4), std::vector<std::string>{"A"});
  EXPECT_EQ(statement_->calls[catalogTables], 0);
  ASSERT_EQ(statement_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS);
  ASSERT_EQ(columns("T1"), SQL_SUCCESS);  // no owner: the search runs, the driver's table is not repeated
  EXPECT_EQ(column(4), std::vector<std::string>{"A"});
  EXPECT_EQ(statement_->calls[catalogTables], 1);
}

TEST(CatalogMetricTest, DerivedValuesFollowTheDataType) {
  struct Case {
    int16_t type;
    int32_t precision, length;
    int16_t scale;
    const char* expected;  // precision length scale radix
  } cases[] = {
      {SQL_DECIMAL, 10, 0, 2, "10 12 2 10"},     {SQL_DECIMAL, 10, 0, 0, "10 11 0 10"},
      {SQL_NUMERIC, 10, 7, 2, "10 7 2 10"},      {SQL_INTEGER, 99, 0, 0, "10 4 0 10"},
      {SQL_VARCHAR, 40, 0, 0, "40 40 NULL NULL"}, {SQL_BIGINT, 19, 0, 0, "19 20 0 10"},
      {SQL_TIMESTAMP, 23, 0, 3, "23 16 3 NULL"}, {SQL_DATE, 0, 0, 0, "10 6 NULL NULL"},
      {SQL_REAL, 0, 0, 0, "7 4 NULL 10"},        {-9, 30, 60, 0, "30 60 0 0"},
  };
  for (const Case& c : cases) {
    const CatalogStoredMetrics stored = {c.type, c.precision, c.length, c.scale, 0, true, true, true, true};
    std::string text;
    for (CatalogValueRule rule : {rulePrecision, ruleLength, ruleScale, ruleRadix}) {
      bool isNull = false;
      const int32_t value = baseCatalogMetric(rule, stored, &isNull);
      text += (text.empty() ? "" : " ") + (isNull ? std::string("NULL") : std::to_string(value));
    }
    EXPECT_EQ(text, c.expected) << c.type;
  }
}

// ---------------------------------------------------------------- other families

TEST_F(CatalogTest, StatisticsPutTableStatisticsLastWithTheirNullRules) {
  statement_->answers[catalogStatistics] = {
      {Null, Null, T("T"), Null, Null, Null, N(0), Null, Null, Null, N(7), N(-1), Null},
      {Null, Null, T("T"), N(1), Null, T("IX_B"), N(3), N(1), T("B"), T("A"), N(5), N(5), Null},
      {Null, Null, T("T"), N(0), Null, T("IX_Z"), N(3), N(2), T("Z2"), T("A"), N(5), N(5), Null},
      {Null, Null, T("T"), N(0), Null, T("IX_Z"), N(3), N(1), T("Z1"), T("A"), N(5), N(5), Null},
      {Null, Null, T("T"), N(0), Null, T("IX_A"), N(3), N(1), T("A"), T("A"), N(5), N(5), Null}};
  ASSERT_EQ(statement_->SQLStatistics(nullptr, 0, nullptr, 0, S("T"), SQL_NTS, SQL_INDEX_ALL, 0), SQL_SUCCESS);
  EXPECT_EQ(statement_->lastInternal, 0);
  const auto result = rows();
  std::vector<std::string> order;
  for (const auto& row : result) order.push_back(row[5] + ":" + row[8] + " " + row[10] + "/" + row[11]);
  EXPECT_EQ(order, (std::vector<std::string>{"IX_A:A NULL/NULL", "IX_Z:Z1 NULL/NULL", "IX_Z:Z2 NULL/NULL",
                                             "IX_B:B NULL/NULL", "NULL:NULL 7/NULL"}));
  EXPECT_EQ(result[4][3], "NULL");  // NON_UNIQUE of the table statistics
}

TEST_F(CatalogTest, SpecialColumnsFromTheFirstUniqueIndexWithoutNullableColumns) {
  statement_->answers[catalogStatistics] = {
      {Null, Null, T("T"), Null, Null, Null, N(0), Null, Null, Null, N(3), Null, Null},
      {Null, Null, T("T"), N(0), Null, T("A_KEY"), N(3), N(1), T("NAME"), Null, Null, Null, Null},
      {Null, Null, T("T"), N(0), Null, T("B_KEY"), N(3), N(1), T("ID"), Null, Null, Null, Null},
      {Null, Null, T("T"), N(0), Null, T("B_KEY"), N(3), N(2), T("SUB"), Null, Null, Null, Null}};
  statement_->driverColumns = true;
  statement_->answers[catalogColumns] = {
      {Null, Null, T("T"), T("ID"), N(SQL_INTEGER), T("INTEGER"), N(10), N(4), N(0), N(10), N(0), Null},
      {Null, Null, T("T"), T("NAME"), N(SQL_VARCHAR), T("VARCHAR"), N(40), N(40), Null, Null, N(1), Null},
      {Null, Null, T("T"), T("SUB"), N(SQL_DECIMAL), T("DECIMAL"), N(5), Null, N(1), N(10), N(0), Null}};
  struct Case {
    SQLUSMALLINT colType;
    SQLUSMALLINT nullable;
    std::vector<std::vector<std::string>> rows;
  } cases[] = {
      {SQL_BEST_ROWID, SQL_NULLABLE, {{"2", "NAME", "12", "VARCHAR", "40", "40", "NULL", "1"}}},
      {SQL_BEST_ROWID, SQL_NO_NULLS,
       {{"2", "ID", "4", "INTEGER", "10", "4", "0", "1"}, {"2", "SUB", "3", "DECIMAL", "5", "7", "1", "1"}}},
      {SQL_ROWVER, SQL_NO_NULLS, {}},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(statement_->SQLSpecialColumns(c.colType, nullptr, 0, nullptr, 0, S("T"), SQL_NTS, 0, c.nullable),
              SQL_SUCCESS);
    EXPECT_EQ(rows(), c.rows) << c.colType << " " << c.nullable;
    ASSERT_EQ(statement_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS);
  }
  EXPECT_EQ(statement_->lastInternal, 1);
}

TEST_F(CatalogTest, KeysProceduresAndPrivilegesKeepTheirOrdersAndFilters) {
  statement_->answers[catalogForeignKeys] = {
      {Null, Null, T("P"), T("ID"), Null, Null, T("F2"), T("PID"), N(1), N(-1), N(0), Null, Null},
      {Null, Null, T("P"), T("ID2"), Null, Null, T("F1"), T("PID2"), N(2), N(1), N(-1), Null, Null},
      {Null, Null, T("P"), T("ID"), Null, Null, T("F1"), T("PID"), N(1), N(1), N(1), Null, Null}};
  ASSERT_EQ(statement_->SQLForeignKeys(nullptr, 0, nullptr, 0, S("P"), SQL_NTS, nullptr, 0, nullptr, 0, nullptr, 0),
            SQL_SUCCESS);
  std::vector<std::string> keys;
  for (const auto& row : rows()) keys.push_back(row[6] + ":" + row[8] + " " + row[9] + " " + row[10]);
  EXPECT_EQ(keys, (std::vector<std::string>{"F1:1 1 1", "F1:2 1 NULL", "F2:1 NULL 0"}));
  ASSERT_EQ(statement_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS);

  statement_->answers[catalogProcedures] = {
      {Null, T("O"), T("P_B"), N(1), N(2), N(3), T("second"), N(1)},
      {Null, T("O"), T("PXA"), N(1), N(2), N(3), Null, N(2)},
      {Null, T("X"), T("P_A"), N(1), N(2), N(3), Null, N(1)}};
  ASSERT_EQ(statement_->SQLProcedures(nullptr, 0, S("O"), SQL_NTS, S("P\\_%"), SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(rows(), (std::vector<std::vector<std::string>>{{"NULL", "O", "P_B", "NULL", "NULL", "NULL", "second", "1"}}));
  ASSERT_EQ(statement_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS);

  statement_->answers[catalogProcedureColumns] = {
      {Null, Null, T("P"), T("R"), N(5), N(SQL_DECIMAL), T("DECIMAL"), N(10), N(0), N(2), Null, N(1), Null},
      {Null, Null, T("P"), T("A"), N(1), N(SQL_INTEGER), T("INTEGER"), Null, Null, Null, Null, N(0), Null}};
  ASSERT_EQ(statement_->SQLProcedureColumns(nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  EXPECT_EQ(rows(), (std::vector<std::vector<std::string>>{
                        {"NULL", "NULL", "P", "A", "1", "4", "INTEGER", "10", "4", "0", "10", "0", "NULL"},
                        {"NULL", "NULL", "P", "R", "5", "3", "DECIMAL", "10", "12", "2", "10", "1", "NULL"}}));
  ASSERT_EQ(statement_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS);

  statement_->answers[catalogTablePrivileges] = {
      {Null, Null, T("T"), Null, T("U"), T("UPDATE"), T("NO")}, {Null, Null, T("T"), Null, T("U"), T("SELECT"), Null},
      {Null, Null, T("V"), Null, T("U"), T("SELECT"), Null}};
  ASSERT_EQ(statement_->SQLTablePrivileges(nullptr, 0, nullptr, 0, S("T"), SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(column(6), (std::vector<std::string>{"SELECT", "UPDATE"}));
  ASSERT_EQ(statement_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS);

  statement_->answers[catalogColumnPrivileges] = {
      {Null, Null, T("T"), T("B"), Null, T("U"), T("SELECT"), Null}, {Null, Null, T("T"), T("A"), Null, T("U"), T("UPDATE"), Null},
      {Null, Null, T("T"), T("A"), Null, T("U"), T("INSERT"), Null}};
  ASSERT_EQ(statement_->SQLColumnPrivileges(nullptr, 0, nullptr, 0, S("T"), SQL_NTS, S("A"), SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(column(7), (std::vector<std::string>{"INSERT", "UPDATE"}));
}

// WorkArounds 0x2 reads the qualifier columns of every catalog result as
// NULL (and the foreign-key and index qualifiers in column 5); 0x10 only
// SQLStatistics' INDEX_QUALIFIER. Whatever the driver reported stays in the
// rows, so the bits work at fetch time, for SQLGetData and bound columns.
TEST_F(CatalogTest, WorkAroundsHideQualifierColumnsAtFetch) {
  setTables({{T("Q"), Null, T("A"), T("TABLE"), Null}});
  statement_->answers[catalogStatistics] = {
      {T("Q"), Null, T("T"), N(0), T("IQ"), T("IX"), N(3), N(1), T("A"), T("A"), N(5), N(5), Null}};
  statement_->answers[catalogForeignKeys] = {
      {T("Q"), Null, T("P"), T("ID"), T("FQ"), Null, T("F"), T("PID"), N(1), N(1), N(1), Null, Null}};
  const std::function<SQLRETURN()> calls[] = {
      [&] { return tables(nullptr, nullptr, nullptr); },
      [&] { return statement_->SQLStatistics(nullptr, 0, nullptr, 0, S("T"), SQL_NTS, SQL_INDEX_ALL, 0); },
      [&] {
        return statement_->SQLForeignKeys(nullptr, 0, nullptr, 0, S("P"), SQL_NTS, nullptr, 0, nullptr, 0, nullptr,
                                          0);
      },
  };
  struct Case {
    uint32_t workArounds;
    // Columns 1 and 4 of the tables row, 1 and 5 of the statistics and
    // foreign-key rows.
    std::vector<std::string> seen;
  };
  const Case cases[] = {
      {0, {"Q", "TABLE", "Q", "IQ", "Q", "FQ"}},
      {BaseConnection::waHideQualifiers, {"NULL", "TABLE", "NULL", "NULL", "NULL", "NULL"}},
      {BaseConnection::waHideIndexQualifier, {"Q", "TABLE", "Q", "NULL", "Q", "FQ"}},
  };
  for (const Case& c : cases) {
    connection_->workArounds_ = c.workArounds;
    std::vector<std::string> seen;
    for (const auto& call : calls) {
      ASSERT_EQ(call(), SQL_SUCCESS) << c.workArounds;
      const auto result = rows();
      ASSERT_EQ(result.size(), 1u);
      // Tables: TABLE_TYPE stands beside the qualifier; the others: column 5.
      seen.push_back(result[0][0]);
      seen.push_back(result[0][seen.size() == 1 ? 3 : 4]);
      ASSERT_EQ(statement_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS);
    }
    EXPECT_EQ(seen, c.seen) << c.workArounds;
  }
  // A bound column reads the same NULL.
  connection_->workArounds_ = BaseConnection::waHideQualifiers;
  ASSERT_EQ(tables(nullptr, nullptr, nullptr), SQL_SUCCESS);
  char qualifier[8] = "?";
  SQLLEN length = 0;
  ASSERT_EQ(statement_->SQLBindCol(1, SQL_C_CHAR, qualifier, sizeof(qualifier), &length), SQL_SUCCESS);
  ASSERT_EQ(statement_->SQLFetch(), SQL_SUCCESS);
  EXPECT_EQ(length, SQL_NULL_DATA);
}

TEST(CatalogOrderTest, NullKeysSortFirstSoEveryOrderIsTotal) {
  const CatalogFamilyDesc& family = baseTablesFamily();
  CatalogRowInfo withQualifier(&family), without(&family);
  ASSERT_EQ(withQualifier.setText(tablesQualifier, kvU("Q"), 1), kvSuccess);
  ASSERT_EQ(withQualifier.setText(tablesName, kvU("A"), 1), kvSuccess);
  ASSERT_EQ(without.setText(tablesName, kvU("B"), 1), kvSuccess);
  EXPECT_EQ(without.compare(&withQualifier), -1);
  EXPECT_EQ(withQualifier.compare(&without), 1);
  EXPECT_EQ(without.compare(&without), 0);
}

}  // namespace
