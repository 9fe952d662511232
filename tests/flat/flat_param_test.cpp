// The engine's parameters, bound the way an application binds them: through
// the framework's SQLPrepare, SQLBindParameter and SQLExecute on a statement
// of the test file driver; the value the engine keeps (its internal form) is
// read back from the statement, and the WHERE program is evaluated with it.
#include "tests/flat/flat_sql_test_support.h"

#include "flat/connection/flat_changes.h"
#include "flat/exec/flat_param.h"
#include "flat/flat_message_ids.h"

namespace {

class FlatParamTest : public FlatSqlFixture {
 protected:
  void SetUp() override {
    FlatSqlFixture::SetUp();
    writeTable("bin", {{"B", 'B', 2, 0}, {"T", 'C', 4, 0}}, {{"", "\xE9\x80"}});
    // "AB" in the binary column.
    std::fstream file(tablePath("bin"), std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(std::streamoff(flatTestHeaderBytes + 2 * flatTestColumnBytes + 1));
    file.write("\0AB", 3);
  }

  SQLRETURN prepareOdbc(const std::string& sql) {
    EXPECT_EQ(statement_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS);
    return statement_->SQLPrepare(kvU(const_cast<char*>(sql.c_str())), SQL_NTS);
  }
  // Binds parameter n to the bytes of value (length as given; SQL_NTS for
  // text); the buffer lives in the fixture until the next binding of n.
  SQLRETURN bind(uint16_t n, int16_t cType, int16_t sqlType, SQLULEN precision, const std::string& value,
                 SQLLEN length, int16_t scale = 0) {
    buffers_[n] = value;
    lengths_[n] = length;
    return statement_->SQLBindParameter(n, SQL_PARAM_INPUT, cType, sqlType, precision, scale, &buffers_[n][0],
                                        SQLLEN(buffers_[n].size()), &lengths_[n]);
  }
  SQLRETURN execute() {
    SQLRETURN rc = statement_->SQLFreeStmt(SQL_CLOSE);
    EXPECT_EQ(rc, SQL_SUCCESS);
    return statement_->SQLExecute();
  }
  const FlatParamValue* value(uint16_t marker) { return statement_->getParamValues()->find(marker); }
  std::string bytes(uint16_t marker) {
    const FlatParamValue* v = value(marker);
    return v && v->value ? std::string(reinterpret_cast<const char*>(v->value), v->length) : std::string();
  }
  // The WHERE program on record n of the (single) table.
  std::string where(uint32_t n) {
    position(n);
    return evaluate(head()->getWhereCode());
  }

  std::string buffers_[8];
  SQLLEN lengths_[8] = {};
};

// The type check: the bound type against the marker's use (07006 with 4002,
// naming the parameter); wide types are checked as their ODBC 2 types.
TEST_F(FlatParamTest, TypeCheck) {
  ASSERT_EQ(prepareOdbc("SELECT ID FROM emp WHERE NAME = ? AND ID = ? AND HIRED = ?"), SQL_SUCCESS);
  struct Case {
    int16_t nameType, idType, hiredType;
    uint16_t refused;  // the parameter refused, 0 none
  } cases[] = {
      {SQL_VARCHAR, SQL_INTEGER, SQL_DATE, 0},
      {SQL_CHAR, SQL_DOUBLE, SQL_DATE, 0},
      {SQL_WVARCHAR, SQL_NUMERIC, SQL_TYPE_DATE, 0},
      {SQL_LONGVARCHAR, SQL_BIT, SQL_DATE, 0},
      {SQL_INTEGER, SQL_INTEGER, SQL_DATE, 1},
      {SQL_VARCHAR, SQL_VARCHAR, SQL_DATE, 2},
      {SQL_VARCHAR, SQL_WVARCHAR, SQL_DATE, 2},
      {SQL_VARCHAR, SQL_INTEGER, SQL_TIMESTAMP, 3},
      {SQL_BINARY, SQL_INTEGER, SQL_DATE, 1},
  };
  for (const Case& c : cases) {
    std::string row = std::to_string(c.nameType) + "/" + std::to_string(c.idType) + "/" + std::to_string(c.hiredType);
    ASSERT_EQ(bind(1, SQL_C_CHAR, c.nameType, 10, "SMITH", SQL_NTS), SQL_SUCCESS) << row;
    ASSERT_EQ(bind(2, SQL_C_CHAR, c.idType, 10, "1", SQL_NTS), SQL_SUCCESS) << row;
    ASSERT_EQ(bind(3, SQL_C_CHAR, c.hiredType, 23, "1995-07-04", SQL_NTS), SQL_SUCCESS) << row;
    SQLRETURN rc = execute();
    if (!c.refused) {
      EXPECT_EQ(rc, SQL_SUCCESS) << row << " " << lastText();
      EXPECT_EQ(where(1), "TRUE") << row;
      continue;
    }
    EXPECT_EQ(rc, SQL_ERROR) << row;
    EXPECT_EQ(lastState(), "07006") << row;
    EXPECT_EQ(lastText().find("The SQL type given for parameter " + std::to_string(c.refused) +
                              " is inconsistent with its use in the SQL Statement."),
              0u)
        << row << ": " << lastText();
  }
  // A NULL has no type to disagree with its use: pyodbc binds None as
  // SQL_VARCHAR whatever the column it goes to.
  ASSERT_EQ(bind(1, SQL_C_CHAR, SQL_VARCHAR, 10, "SMITH", SQL_NTS), SQL_SUCCESS);
  ASSERT_EQ(bind(2, SQL_C_CHAR, SQL_VARCHAR, 10, "x", SQL_NULL_DATA), SQL_SUCCESS);
  ASSERT_EQ(bind(3, SQL_C_CHAR, SQL_BINARY, 23, "x", SQL_NULL_DATA), SQL_SUCCESS);
  EXPECT_EQ(execute(), SQL_SUCCESS) << lastText();
}

// The internal form each bound type is kept in, NULL, and embedded NULs.
TEST_F(FlatParamTest, InternalForms) {
  ASSERT_EQ(prepareOdbc("SELECT ID FROM emp WHERE NAME = ? AND ID = ? AND HIRED = ? AND SAL > ?"), SQL_SUCCESS);
  int32_t id = 2;
  buffers_[2].assign(reinterpret_cast<const char*>(&id), 4);
  ASSERT_EQ(bind(1, SQL_C_CHAR, SQL_VARCHAR, 10, "JONES", SQL_NTS), SQL_SUCCESS);
  ASSERT_EQ(statement_->SQLBindParameter(2, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &id, 0, nullptr),
            SQL_SUCCESS);
  ASSERT_EQ(bind(3, SQL_C_CHAR, SQL_DATE, 10, "2000-02-29", SQL_NTS), SQL_SUCCESS);
  ASSERT_EQ(bind(4, SQL_C_CHAR, SQL_NUMERIC, 10, "1999.5", SQL_NTS, 1), SQL_SUCCESS);
  ASSERT_EQ(execute(), SQL_SUCCESS) << lastText();
  EXPECT_EQ(value(0)->internalType, flatItChar);
  EXPECT_EQ(bytes(0), "JONES");
  EXPECT_EQ(value(1)->internalType, flatItDouble);
  double number = 0;
  ASSERT_EQ(value(1)->length, 8u);
  std::memcpy(&number, value(1)->value, 8);
  EXPECT_EQ(number, 2.0);
  EXPECT_EQ(value(2)->internalType, flatItDate);
  EXPECT_EQ(value(2)->length, 6u);
  EXPECT_EQ(value(3)->internalType, flatItDecimalText);
  EXPECT_EQ(bytes(3), "1999.5");
  EXPECT_EQ(where(2), "TRUE");
  EXPECT_EQ(where(1), "FALSE");

  // NULL whatever the type.
  lengths_[1] = SQL_NULL_DATA;
  ASSERT_EQ(execute(), SQL_SUCCESS);
  EXPECT_EQ(value(0)->value, nullptr);
  EXPECT_EQ(value(0)->length, 0u);
  EXPECT_EQ(value(0)->longOffset, -1);
  EXPECT_EQ(where(2), "FALSE");

  // A zero byte inside the given length is refused; with SQL_NTS the text
  // ends there.
  ASSERT_EQ(bind(1, SQL_C_CHAR, SQL_VARCHAR, 10, std::string("ab\0c", 4), 4), SQL_SUCCESS);
  EXPECT_EQ(execute(), SQL_ERROR);
  EXPECT_EQ(lastError(), msgEmbeddedNul);
  EXPECT_EQ(lastState(), "S1000");
  ASSERT_EQ(bind(1, SQL_C_CHAR, SQL_VARCHAR, 10, std::string("ab\0c", 4), SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(execute(), SQL_SUCCESS) << lastText();
  EXPECT_EQ(bytes(0), "ab");
  // A wide zero inside the length, likewise.
  ASSERT_EQ(bind(1, SQL_C_WCHAR, SQL_WVARCHAR, 10, std::string("a\0\0\0b\0", 6), 6), SQL_SUCCESS);
  EXPECT_EQ(execute(), SQL_ERROR);
  EXPECT_EQ(lastError(), msgEmbeddedNul);

  // Text longer than the precision it was bound with is cut to it.
  ASSERT_EQ(bind(1, SQL_C_CHAR, SQL_VARCHAR, 3, "JONES", SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(execute(), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(lastState(), "01004");
  EXPECT_EQ(bytes(0), "JON");

  // SQL_RESET_PARAMS forgets the values.
  ASSERT_EQ(bind(1, SQL_C_CHAR, SQL_VARCHAR, 10, "JONES", SQL_NTS), SQL_SUCCESS);
  ASSERT_EQ(execute(), SQL_SUCCESS);
  ASSERT_EQ(statement_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS);
  ASSERT_EQ(statement_->SQLFreeStmt(SQL_RESET_PARAMS), SQL_SUCCESS);
  EXPECT_EQ(value(0)->value, nullptr);
}

// pyodbc's default for text: UTF-16LE as SQL_C_WCHAR bound as SQL_WVARCHAR.
// It is converted to the single-byte character set, so é and € compare with
// the stored bytes E9 and 80; a character without a byte there is an error.
TEST_F(FlatParamTest, WideText) {
  ASSERT_EQ(prepareOdbc("SELECT T FROM bin WHERE T = ?"), SQL_SUCCESS);
  ASSERT_EQ(bind(1, SQL_C_WCHAR, SQL_WVARCHAR, 2, std::string("\xE9\x00\xAC\x20", 4), 4), SQL_SUCCESS);
  ASSERT_EQ(execute(), SQL_SUCCESS) << lastText();
  EXPECT_EQ(bytes(0), "\xE9\x80");
  EXPECT_EQ(where(1), "TRUE");
  // U+4E00 has no Windows-1252 byte.
  ASSERT_EQ(bind(1, SQL_C_WCHAR, SQL_WVARCHAR, 2, std::string("\x00\x4E", 2), 2), SQL_SUCCESS);
  EXPECT_EQ(execute(), SQL_ERROR);
  EXPECT_EQ(bytes(0), "\xE9\x80");  // the previous value stays
}

// Long values: taken whole while writing directly, hexadecimal text for
// LONGVARBINARY, cut to the precision with 01004; spooled into the
// long-value store inside a transaction.
TEST_F(FlatParamTest, LongValues) {
  ASSERT_EQ(prepareOdbc("SELECT B FROM bin WHERE B = ?"), SQL_SUCCESS);
  ASSERT_EQ(bind(1, SQL_C_CHAR, SQL_LONGVARBINARY, 10, "4142", SQL_NTS), SQL_SUCCESS);
  ASSERT_EQ(execute(), SQL_SUCCESS) << lastText();
  EXPECT_EQ(bytes(0), "AB");
  EXPECT_EQ(value(0)->internalType, flatItBinary);
  EXPECT_EQ(where(1), "TRUE");
  for (const char* bad : {"41zz", "414"}) {
    ASSERT_EQ(bind(1, SQL_C_CHAR, SQL_LONGVARBINARY, 10, bad, SQL_NTS), SQL_SUCCESS);
    EXPECT_EQ(execute(), SQL_ERROR) << bad;
    EXPECT_EQ(lastState(), "22005") << bad;
  }
  ASSERT_EQ(bind(1, SQL_C_BINARY, SQL_LONGVARBINARY, 10, "AB", 2), SQL_SUCCESS);
  ASSERT_EQ(execute(), SQL_SUCCESS) << lastText();
  EXPECT_EQ(bytes(0), "AB");

  ASSERT_EQ(prepareOdbc("SELECT T FROM bin WHERE T = ?"), SQL_SUCCESS);
  ASSERT_EQ(bind(1, SQL_C_CHAR, SQL_LONGVARCHAR, 2, "\xE9\x80xyz", SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(execute(), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(lastState(), "01004");
  EXPECT_EQ(bytes(0), "\xE9\x80");
  EXPECT_EQ(where(1), "TRUE");

  // In a transaction the value goes to the long-value store.
  autocommit(connection_, false);
  ASSERT_EQ(prepareOdbc("SELECT T FROM bin WHERE T = ?"), SQL_SUCCESS);
  ASSERT_EQ(bind(1, SQL_C_CHAR, SQL_LONGVARCHAR, 100, "\xE9\x80", SQL_NTS), SQL_SUCCESS);
  ASSERT_EQ(execute(), SQL_SUCCESS) << lastText();
  ASSERT_GE(value(0)->longOffset, 0);
  char piece[8] = {};
  uint32_t got = 0, total = 0;
  use(connection_);
  ASSERT_EQ(flatReadLongValue(connection_, uint32_t(value(0)->longOffset), 0, piece, sizeof(piece), &got, &total),
            kvSuccess);
  useNone();
  EXPECT_EQ(std::string(piece, got), "\xE9\x80");
  EXPECT_EQ(where(1), "TRUE");
}

// A long value put at execution in pieces is spooled piece by piece, cut
// at the precision with 01004, and stands in the store once the pieces end.
TEST_F(FlatParamTest, LongValueInPieces) {
  autocommit(connection_, false);
  ASSERT_EQ(prepareOdbc("SELECT T FROM bin WHERE T = ?"), SQL_SUCCESS);
  ASSERT_EQ(bind(1, SQL_C_CHAR, SQL_LONGVARCHAR, 5, "", SQL_NTS), SQL_SUCCESS);
  statement_->getParamRecord(1)->paramFlags |= BaseParam::flagChecked;
  statement_->getErrorList().clearErrors();
  KvErrorKeeper::setErrorList(&statement_->getErrorList());
  char first[] = "abc", second[] = "defg";
  EXPECT_EQ(statement_->bindParam(1, first, 3, bindFirstPiece), kvSuccess);
  EXPECT_EQ(statement_->getErrorList().getCount(), 0u);
  EXPECT_EQ(statement_->bindParam(1, second, 4, bindNextPiece), kvSuccess);
  EXPECT_EQ(lastState(), "01004");
  EXPECT_EQ(statement_->bindParam(1, nullptr, 0, bindLastPiece), kvSuccess);
  KvErrorKeeper::giveUpErrorList();
  ASSERT_GE(value(0)->longOffset, 0);
  char piece[16] = {};
  uint32_t got = 0, total = 0;
  use(connection_);
  ASSERT_EQ(flatReadLongValue(connection_, uint32_t(value(0)->longOffset), 0, piece, sizeof(piece), &got, &total),
            kvSuccess);
  useNone();
  EXPECT_EQ(std::string(piece, got), "abcde");
  EXPECT_EQ(total, 5u);
}

// A long value in pieces needs a table to spool to: a statement without one
// is refused plainly.
TEST_F(FlatParamTest, LongValueWithoutTable) {
  autocommit(connection_, false);
  ASSERT_EQ(prepareOdbc("DROP TABLE one"), SQL_SUCCESS);
  ASSERT_EQ(bind(1, SQL_C_CHAR, SQL_LONGVARCHAR, 10, "abc", SQL_NTS), SQL_SUCCESS);
  BaseParam* record = statement_->getParamRecord(1);
  ASSERT_NE(record, nullptr);
  record->paramFlags |= BaseParam::flagChecked;
  KvErrorKeeper::setErrorList(&statement_->getErrorList());
  EXPECT_EQ(statement_->bindParam(1, &buffers_[1][0], 3, bindWhole), kvFailure);
  KvErrorKeeper::giveUpErrorList();
  EXPECT_EQ(lastError(), msgLongParamNoTable);
  EXPECT_EQ(lastState(), "S1000");
}

// The bound-type table itself, for the pairs a prepared statement cannot
// show (markers of binary and long use).
TEST(FlatParamTypes, Accepted) {
  struct Case {
    int16_t bound, marker;
    bool accepted;
  } cases[] = {
      {SQL_INTEGER, SQL_DOUBLE, true},     {SQL_INTEGER, SQL_BIT, true},
      {SQL_INTEGER, SQL_VARCHAR, false},   {SQL_NUMERIC, SQL_DOUBLE, true},
      {SQL_LONGVARBINARY, SQL_BINARY, true}, {SQL_VARBINARY, SQL_LONGVARBINARY, true},
      {SQL_BINARY, SQL_VARCHAR, false},    {SQL_LONGVARCHAR, SQL_LONGVARCHAR, true},
      {SQL_VARCHAR, SQL_LONGVARCHAR, true}, {SQL_CHAR, SQL_DOUBLE, false},
      {SQL_DATE, SQL_TIMESTAMP, false},    {SQL_TIMESTAMP, SQL_TIMESTAMP, true},
      {SQL_TIME, SQL_TIME, true},          {99, SQL_DATE, true},
      {SQL_INTEGER, 0, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(flatParamTypeAccepted(c.bound, c.marker), c.accepted) << c.bound << " " << c.marker;
}

}  // namespace
