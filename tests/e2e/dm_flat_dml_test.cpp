// INSERT, UPDATE and DELETE through the real unixODBC Driver Manager from a
// C++ application: a prepared UPDATE executed again with new parameters,
// wide text beyond ASCII, a long value sent in pieces with SQLPutData in
// manual-commit mode, narrow text in the process's UTF-8 locale (characters
// cut between pieces), and SQLTransact.
#include <gtest/gtest.h>

#include "flat_dm_fixture.h"

#include <sql.h>
#include <sqlext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace {

class FlatDmlManagerTest : public FlatDriverManagerTest {
 protected:
  SQLRETURN exec(const char* sql) {
    SQLFreeStmt(stmt_, SQL_CLOSE);
    return SQLExecDirect(stmt_, (SQLCHAR*)sql, SQL_NTS);
  }
  SQLLEN rowCount() {
    SQLLEN count = -1;
    EXPECT_EQ(SQLRowCount(stmt_, &count), SQL_SUCCESS);
    return count;
  }
  // The first column of every row of sql as text, rows joined by ",".
  std::string column(const char* sql) {
    if (!SQL_SUCCEEDED(exec(sql))) return "ERROR " + error();
    std::string out;
    while (SQLFetch(stmt_) == SQL_SUCCESS) {
      char value[512] = {0};
      SQLLEN length = 0;
      if (!SQL_SUCCEEDED(SQLGetData(stmt_, 1, SQL_C_CHAR, value, sizeof(value), &length))) return "ERROR " + error();
      std::string text = length == SQL_NULL_DATA ? "NULL" : value;
      text.erase(text.find_last_not_of(' ') + 1);
      out += (out.empty() ? "" : ",") + text;
    }
    SQLFreeStmt(stmt_, SQL_CLOSE);
    return out;
  }
  std::string fileBytes(const char* table) {
    std::ifstream in(data_ + "/" + table + ".ftt", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

};

TEST_F(FlatDmlManagerTest, PreparedUpdateRunsAgainWithNewParameters) {
  ASSERT_EQ(SQLPrepare(stmt_, (SQLCHAR*)"UPDATE emp e SET e.sal = ? WHERE e.id <= ?", SQL_NTS), SQL_SUCCESS)
      << error();
  double sal = 0;
  SQLINTEGER id = 0;
  SQLLEN salLength = 0, idLength = 0;
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 15, 0, &sal, 0, &salLength),
            SQL_SUCCESS);
  ASSERT_EQ(SQLBindParameter(stmt_, 2, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 10, 0, &id, 0, &idLength),
            SQL_SUCCESS);
  struct Run {
    double sal;
    SQLINTEGER id;
    SQLLEN rows;
  } runs[] = {{5, 2, 2}, {7, 1, 1}, {9, 0, 0}};
  for (const Run& r : runs) {
    sal = r.sal;
    id = r.id;
    ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << error();
    EXPECT_EQ(rowCount(), r.rows);
  }
  EXPECT_EQ(column("SELECT sal FROM emp ORDER BY id"), "7,5,NULL,150.25");

  // NULL through the indicator.
  ASSERT_EQ(SQLPrepare(stmt_, (SQLCHAR*)"UPDATE emp SET sal = ? WHERE id = 1", SQL_NTS), SQL_SUCCESS) << error();
  salLength = SQL_NULL_DATA;
  ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << error();
  EXPECT_EQ(column("SELECT sal FROM emp WHERE id = 1"), "NULL");
}

TEST_F(FlatDmlManagerTest, WideTextIsStoredInTheConnectionsCharacterSet) {
  // "café €" as UTF-16LE: Windows-1252 holds every character.
  const SQLWCHAR wide[] = {'c', 'a', 'f', 0xE9, ' ', 0x20AC, 0};
  SQLLEN length = SQL_NTS;
  ASSERT_EQ(SQLPrepare(stmt_, (SQLCHAR*)"INSERT INTO emp (id, name) VALUES (9, ?)", SQL_NTS), SQL_SUCCESS);
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 10, 0, (SQLPOINTER)wide,
                             sizeof(wide), &length),
            SQL_SUCCESS);
  ASSERT_EQ(SQLExecute(stmt_), SQL_SUCCESS) << error();
  EXPECT_EQ(rowCount(), 1);
  EXPECT_EQ(column("SELECT name FROM emp WHERE id = 9"), "caf\xE9 \x80");
  EXPECT_EQ(column("SELECT id FROM emp WHERE name = 'caf\xE9 \x80'"), "9");
  // A character Windows-1252 lacks is an error, and nothing is written.
  const SQLWCHAR foreign[] = {0x4E00, 0};
  const std::string before = fileBytes("emp");
  ASSERT_EQ(SQLPrepare(stmt_, (SQLCHAR*)"INSERT INTO emp (id, name) VALUES (10, ?)", SQL_NTS), SQL_SUCCESS);
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 10, 0, (SQLPOINTER)foreign,
                             sizeof(foreign), &length),
            SQL_SUCCESS);
  EXPECT_EQ(SQLExecute(stmt_), SQL_ERROR);
  EXPECT_EQ(fileBytes("emp"), before);
}

TEST_F(FlatDmlManagerTest, LongValueInPiecesWaitsForTheCommit) {
  ASSERT_EQ(SQLSetConnectOption(dbc_, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
  const std::string before = fileBytes("emp");
  ASSERT_EQ(SQLPrepare(stmt_, (SQLCHAR*)"UPDATE emp SET note = ? WHERE id = 3", SQL_NTS), SQL_SUCCESS) << error();
  SQLLEN atExec = SQL_LEN_DATA_AT_EXEC(0);
  ASSERT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_LONGVARCHAR, 100, 0, (SQLPOINTER)1, 0,
                             &atExec),
            SQL_SUCCESS);
  ASSERT_EQ(SQLExecute(stmt_), SQL_NEED_DATA) << error();
  SQLPOINTER token = nullptr;
  ASSERT_EQ(SQLParamData(stmt_, &token), SQL_NEED_DATA) << error();
  for (const char* piece : {"first piece, ", "second piece, ", "last"})
    ASSERT_EQ(SQLPutData(stmt_, (SQLPOINTER)piece, SQLLEN(std::strlen(piece))), SQL_SUCCESS) << error();
  ASSERT_EQ(SQLParamData(stmt_, &token), SQL_SUCCESS) << error();
  EXPECT_EQ(rowCount(), 1);
  EXPECT_EQ(column("SELECT note FROM emp WHERE id = 3"), "first piece, second piece, last");
  EXPECT_EQ(fileBytes("emp"), before);

  ASSERT_EQ(exec("DELETE FROM emp WHERE id = 1"), SQL_SUCCESS) << error();
  EXPECT_EQ(rowCount(), 1);
  ASSERT_EQ(SQLTransact(env_, dbc_, SQL_ROLLBACK), SQL_SUCCESS);
  EXPECT_EQ(fileBytes("emp"), before);
  EXPECT_EQ(column("SELECT id FROM emp ORDER BY id"), "1,2,3,4");

  ASSERT_EQ(SQLPrepare(stmt_, (SQLCHAR*)"UPDATE emp SET note = ? WHERE id = 3", SQL_NTS), SQL_SUCCESS) << error();
  ASSERT_EQ(SQLExecute(stmt_), SQL_NEED_DATA) << error();
  ASSERT_EQ(SQLParamData(stmt_, &token), SQL_NEED_DATA) << error();
  ASSERT_EQ(SQLPutData(stmt_, (SQLPOINTER) "kept", 4), SQL_SUCCESS) << error();
  ASSERT_EQ(SQLParamData(stmt_, &token), SQL_SUCCESS) << error();
  ASSERT_EQ(SQLTransact(env_, dbc_, SQL_COMMIT), SQL_SUCCESS) << error();
  EXPECT_NE(fileBytes("emp"), before);
  EXPECT_EQ(column("SELECT note FROM emp WHERE id = 3"), "kept");
}

// An application in a UTF-8 locale sends UTF-8: a character cut between two
// pieces of SQLPutData arrives whole, the value reads back as UTF-8 (and as
// Windows-1252 under the C locale), and a character never finished is
// refused.
TEST_F(FlatDmlManagerTest, TextInPiecesInTheLocalesCodeSet) {
  struct Locale {
    std::string saved = std::setlocale(LC_CTYPE, nullptr);
    ~Locale() { std::setlocale(LC_CTYPE, saved.c_str()); }
  } locale;
  ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
  ASSERT_EQ(SQLSetConnectOption(dbc_, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
  SQLLEN atExec = SQL_LEN_DATA_AT_EXEC(0);
  auto send = [&](std::initializer_list<const char*> pieces) {
    EXPECT_EQ(SQLPrepare(stmt_, (SQLCHAR*)"UPDATE emp SET note = ? WHERE id = 3", SQL_NTS), SQL_SUCCESS) << error();
    EXPECT_EQ(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_LONGVARCHAR, 100, 0, (SQLPOINTER)1, 0,
                               &atExec),
              SQL_SUCCESS);
    EXPECT_EQ(SQLExecute(stmt_), SQL_NEED_DATA) << error();
    SQLPOINTER token = nullptr;
    EXPECT_EQ(SQLParamData(stmt_, &token), SQL_NEED_DATA) << error();
    for (const char* piece : pieces)
      EXPECT_EQ(SQLPutData(stmt_, (SQLPOINTER)piece, SQLLEN(std::strlen(piece))), SQL_SUCCESS) << error();
    return SQLParamData(stmt_, &token);
  };
  // "café €": é cut after its first byte, € after its second.
  ASSERT_EQ(send({"caf\xC3", "\xA9 \xE2\x82", "\xAC"}), SQL_SUCCESS) << error();
  EXPECT_EQ(column("SELECT note FROM emp WHERE id = 3"), "caf\xC3\xA9 \xE2\x82\xAC");
  ASSERT_NE(std::setlocale(LC_CTYPE, "C"), nullptr);
  EXPECT_EQ(column("SELECT note FROM emp WHERE id = 3"), "caf\xE9 \x80");

  ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
  EXPECT_EQ(send({"ok \xE2\x82"}), SQL_ERROR);
  EXPECT_EQ(error().substr(0, 5), "22005");
  EXPECT_EQ(column("SELECT note FROM emp WHERE id = 3"), "caf\xC3\xA9 \xE2\x82\xAC") << "nothing stored";
}

}  // namespace
