// Escape clauses through the real unixODBC Driver Manager: SQLNativeSql on
// the test driver shows its translation (test_dialect.cpp), the pass's
// diagnostics reach ODBC 2 and ODBC 3 applications, and SQLGetTypeInfo
// takes the codes an ODBC 3 application sends.
#include "odbc_env.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char dataSources[] = "[Alpha]\nDriver=KvTest\nDriverName=Alpha\n";

class NativeSqlTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(odbcOpen("Alpha", &env_, &dbc_), SQL_SUCCESS); }
  void TearDown() override { odbcClose(env_, dbc_); }
  SQLRETURN nativeSql(const std::string& in, std::string* out, SQLINTEGER size = 1024,
                      SQLINTEGER* length = nullptr) {
    std::string buffer(size_t(size) + 8, 'Z');
    SQLINTEGER written = -1;
    SQLRETURN rc = SQLNativeSql(dbc_, (SQLCHAR*)in.c_str(), SQL_NTS, (SQLCHAR*)&buffer[0], size, &written);
    EXPECT_EQ(buffer[size_t(size)], 'Z') << "nothing is written past the buffer";
    *out = buffer.c_str();
    if (length) *length = written;
    return rc;
  }

  PrivateOdbc odbc_{dataSources};
  SQLHENV env_ = nullptr;
  SQLHDBC dbc_ = nullptr;
};

TEST_F(NativeSqlTest, ShowsTheDriversTranslation) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"SELECT a FROM t", "SELECT a FROM t"},
      {"SELECT {fn ucase(name)}, {fn concat(a, {fn lcase(b)})} FROM t",
       "SELECT  UPPER(name),  (a||  LOWER(b)) FROM t"},
      {"SELECT * FROM {oj t LEFT OUTER JOIN u ON t.k = u.k} WHERE t.d > {d '1995-01-01'} AND t.n = ?",
       "SELECT * FROM  t , u  WHERE t.k *= u.k AND ( t.d >  DATE '1995-01-01' AND t.n = ?)"},
      {"INSERT INTO t VALUES ({ts '1995-01-01 10:00:00.5'}, {t '10:30:00'}, '{d x}')",
       "INSERT INTO t VALUES ( TIMESTAMP '1995-01-01 10:00:00',  TIME '10:30:00', '{d x}')"},
      {"--(*vendor(Microsoft),product(ODBC) call p(?, 1)*)--", " CALL p(?, 1)"},
      {"{fn now()}", " CURRENT_TIMESTAMP"},
  };
  for (const Case& c : cases) {
    std::string out;
    SQLINTEGER length = -1;
    EXPECT_EQ(nativeSql(c.in, &out, 1024, &length), SQL_SUCCESS) << c.in;
    EXPECT_EQ(out, c.out) << c.in;
    EXPECT_EQ(length, SQLINTEGER(out.size()));
  }
}

TEST_F(NativeSqlTest, MalformedOrRefusedClausesAreSyntaxErrors) {
  struct Case {
    const char* in;
    const char* message;
  };
  const Case cases[] = {
      {"SELECT {d '1995-1-01'}", "Invalid date escape.  Correct syntax is {d 'yyyy-mm-dd'}."},
      {"SELECT {ts '1995-01-01 10:00'}",
       "Invalid timestamp escape.  Correct syntax is {ts 'yyyy-mm-dd hh:mm:ss.ffffff'}."},
      {"SELECT {fn nosuch(x)}", "Unrecognized function escape: nosuch."},
      {"SELECT {fn convert(a, SQL_CHAR)}", "Database cannot convert this ODBC escape sequence: CONVERT ."},
      {"SELECT a FROM t WHERE b LIKE 'x' {escape '\\'}",
       "The statement contained an escape clause not supported by this database driver."},
      {"SELECT {fn ucase(a)", "Escape clause beginning with --*( or { was not properly ended with *)-- or }."},
  };
  for (const Case& c : cases) {
    std::string out;
    EXPECT_EQ(nativeSql(c.in, &out), SQL_ERROR) << c.in;
    auto found = diagnostics(env_, dbc_, nullptr);
    ASSERT_FALSE(found.empty()) << c.in;
    EXPECT_EQ(found[0].state, "37000") << c.in;
    EXPECT_NE(found[0].text.find(std::string("[KESTRANE][ODBC Alpha driver]") + c.message), std::string::npos)
        << found[0].text;
  }
}

TEST_F(NativeSqlTest, AShortBufferGetsTheStartAndTheFullLength) {
  std::string out;
  SQLINTEGER length = -1;
  EXPECT_EQ(nativeSql("SELECT {fn ucase(name)} FROM t", &out, 10, &length), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(out, "SELECT  U");
  EXPECT_EQ(length, SQLINTEGER(std::string("SELECT  UPPER(name) FROM t").size()));
  auto found = diagnostics(env_, dbc_, nullptr);
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(found[0].state, "01004");
}

// An ODBC 3 application: the Driver Manager maps the driver's 2.x states,
// and SQLGetTypeInfo codes arrive as the application sent them.
class Odbc3Test : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_), SQL_SUCCESS);
    ASSERT_EQ(SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0), SQL_SUCCESS);
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_), SQL_SUCCESS);
    ASSERT_TRUE(SQL_SUCCEEDED(SQLConnect(dbc_, (SQLCHAR*)"Alpha", SQL_NTS, nullptr, 0, nullptr, 0)));
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_), SQL_SUCCESS);
  }
  void TearDown() override {
    SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }
  std::string firstState(SQLSMALLINT type, SQLHANDLE handle) {
    SQLCHAR state[6] = {0};
    SQLCHAR text[512];
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLGetDiagRec(type, handle, 1, state, &native, text, sizeof(text), &length);
    return reinterpret_cast<char*>(state);
  }

  PrivateOdbc odbc_{dataSources};
  SQLHENV env_ = nullptr;
  SQLHDBC dbc_ = nullptr;
  SQLHSTMT stmt_ = nullptr;
};

TEST_F(Odbc3Test, SyntaxErrorsArriveAs42000) {
  SQLCHAR out[64];
  SQLINTEGER length = 0;
  EXPECT_EQ(SQLNativeSql(dbc_, (SQLCHAR*)"{d '95-01-01'}", SQL_NTS, out, sizeof(out), &length), SQL_ERROR);
  EXPECT_EQ(firstState(SQL_HANDLE_DBC, dbc_), "42000");
}

TEST_F(Odbc3Test, TypeInfoTakesTheOdbc3TimestampCodeAndRefusesWideTypes) {
  // pyodbc's connect asks for SQL_TYPE_TIMESTAMP and reads PRECISION as
  // SQL_C_LONG.
  ASSERT_EQ(SQLGetTypeInfo(stmt_, SQL_TYPE_TIMESTAMP), SQL_SUCCESS);
  ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
  SQLINTEGER precision = 0;
  SQLLEN length = 0;
  EXPECT_EQ(SQLGetData(stmt_, 3, SQL_C_LONG, &precision, 0, &length), SQL_SUCCESS);
  EXPECT_GT(precision, 0);
  SQLSMALLINT dataType = 0;
  EXPECT_EQ(SQLGetData(stmt_, 2, SQL_C_SHORT, &dataType, 0, &length), SQL_SUCCESS);
  EXPECT_EQ(dataType, SQL_TIMESTAMP);
  ASSERT_EQ(SQLFreeStmt(stmt_, SQL_CLOSE), SQL_SUCCESS);
  EXPECT_EQ(SQLGetTypeInfo(stmt_, SQL_WVARCHAR), SQL_ERROR);
  EXPECT_EQ(firstState(SQL_HANDLE_STMT, stmt_), "HY004");
}

}  // namespace
