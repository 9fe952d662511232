// The engine's forms of the ODBC escape clauses: the text each clause
// becomes through the framework's escape pass, the clauses it refuses, the
// bounds of a timestamp that is shorter than its time, and translated texts
// that the engine then compiles and evaluates.
#include "tests/flat/flat_sql_test_support.h"

#include "base/handles/base_message_ids.h"
#include "base/catalog/base_type_info.h"

#include <gtest/gtest.h>

namespace {

// Type tables with and without the time types: the escapes of times and
// timestamps depend on what the driver lists.
const BaseTypeRow withTimeTypes[] = {
    {"DATE", 0, SQL_DATE, 10, "{", "}", 0, SQL_NULLABLE, SQL_ALL_EXCEPT_LIKE, 0, 0, 0},
    {"TIME", 0, SQL_TIME, 8, "{", "}", 0, SQL_NULLABLE, SQL_ALL_EXCEPT_LIKE, 0, 0, 0},
    {"TIMESTAMP", 0, SQL_TIMESTAMP, 19, "{", "}", 0, SQL_NULLABLE, SQL_ALL_EXCEPT_LIKE, 0, 0, 0},
};
const BaseTypeRow dateOnly[] = {
    {"DATE", 0, SQL_DATE, 10, "{", "}", 0, SQL_NULLABLE, SQL_ALL_EXCEPT_LIKE, 0, 0, 0},
};

class FlatEscapeTest : public FlatSqlFixture {
 protected:
  // The escape pass over text, the connection's error list current.
  KvStatus expand(const std::string& text, std::string* out) {
    KvString sql;
    EXPECT_EQ(sql.initialize(kvU(text.c_str()), uint32_t(text.size())), kvSuccess);
    connection_->getErrorList().clearErrors();
    KvErrorKeeper::setErrorList(&connection_->getErrorList());
    KvStatus status = connection_->expandEscapeClauses(&sql, nullptr);
    KvErrorKeeper::giveUpErrorList();
    *out = std::string(kvC(sql.getStr()), sql.getLength());
    return status;
  }
  std::string translated(const std::string& text) {
    std::string out;
    if (expand(text, &out) != kvSuccess) return "FAILED " + std::to_string(connectionError());
    return out;
  }
  uint16_t connectionError() {
    KvError* e = connection_->getErrorList().getLastError();
    return e ? e->getNumber() : 0;
  }
  std::string connectionState() {
    KvError* e = connection_->getErrorList().getLastError();
    return e ? kvC(baseSqlStateText(e->getStateIndex())) : "";
  }
  // The value of an expression written with escapes, on the row of ONE.
  std::string escapedValue(const std::string& expression) {
    std::string native;
    if (expand(expression, &native) != kvSuccess) return "ESCAPE " + std::to_string(connectionError());
    return value(native);
  }
};

TEST_F(FlatEscapeTest, ClausesBecomeTheEngineDialect) {
  connection_->setTypeTable(withTimeTypes, 3);
  struct Case {
    const char* odbc;
    const char* engine;
  };
  const Case cases[] = {
      {"WHERE d = {d '1995-07-04'}", "WHERE d =  {07/04/1995}"},
      {"{t '10:30:00'}", " {10:30:00}"},
      {"{ts '1995-07-04 10:30:00'}", " {07/04/1995 10:30:00}"},
      {"{ts '1995-07-04 10:30:00.123'}", " {07/04/1995 10:30:00}"},
      {"--(*vendor(Microsoft),product(ODBC) d '2000-02-29'*)--", " {02/29/2000}"},
      {"{fn ucase(name)}", " UPPER(name)"},
      {"{fn LCase( a )}", " LOWER( a )"},
      {"{fn char(65)}", " CHR(65)"},
      {"{fn left(a, 2)}", " LEFT(a, 2)"},
      {"{fn ltrim(a)}", " LTRIM(a)"},
      {"{fn length(a)}", " LEN(a)"},
      {"{fn right(a, 2)}", " RIGHT(a, 2)"},
      {"{fn rtrim(a)}", " RTRIM(a)"},
      {"{fn space(3)}", " SPACE(3)"},
      {"{fn substring(a, 2, 3)}", " SUBSTR(a, 2, 3)"},
      {"{fn floor(x)}", " INT(x)"},
      {"{fn mod(x, 3)}", " MOD(x, 3)"},
      {"{fn power(x, 2)}", " POW(x, 2)"},
      {"{fn round(x, 1)}", " ROUND(x, 1)"},
      {"{fn curdate()}", " DATE()"},
      {"{fn dayofmonth(d)}", " DAY(d)"},
      {"{fn month(d)}", " MONTH(d)"},
      {"{fn year(d)}", " YEAR(d)"},
      {"{fn concat(a, b)}", " ((a)+( b))"},
      {"{fn concat('x,y', {fn ucase(b)})}", " (('x,y')+(  UPPER(b)))"},
      {"{fn ifnull(a, 'none')}", " IIF((a)IS NOT NULL,a, 'none')"},
      {"{b '4142'}", " 4142"},
      {"{l 1}", " 1"},
      {"SELECT * FROM {oj a LEFT OUTER JOIN b ON a.x = b.x}", "SELECT * FROM  a , b  WHERE  a.x *= b.x"},
  };
  // The pass leaves one blank where each clause's opener stood.
  for (const Case& c : cases) EXPECT_EQ(translated(c.odbc), c.engine) << c.odbc;
}

TEST_F(FlatEscapeTest, TimesDependOnTheTypeTable) {
  connection_->setTypeTable(dateOnly, 1);
  EXPECT_EQ(translated("{ts '1995-07-04 10:30:00.123'}"), " {07/04/1995}");
  EXPECT_EQ(translated("{t '10:30:00'}"), "FAILED " + std::to_string(msgEscapeNotSupported));
  EXPECT_EQ(connectionState(), "37000");
  connection_->setTypeTable(nullptr, 0);
  EXPECT_EQ(translated("{t '10:30:00'}"), "FAILED " + std::to_string(msgEscapeNotSupported));
  EXPECT_EQ(translated("{d '1995-07-04'}"), " {07/04/1995}");
}

TEST_F(FlatEscapeTest, RefusedClauses) {
  connection_->setTypeTable(withTimeTypes, 3);
  const char* refused[] = {
      "{fn abs(x)}",       "{fn ascii(x)}",   "{fn now()}",     "{fn user()}", "{fn convert(x, SQL_CHAR)}",
      "{fn soundex(x)}",   "{fn database()}", "{fn locate(a, b)}", "{call p(1)}", "{? = call p(1)}",
      "x LIKE 'a%' {escape '\\'}",
  };
  for (const char* text : refused) {
    EXPECT_EQ(translated(text), "FAILED " + std::to_string(msgEscapeNotSupported)) << text;
    EXPECT_EQ(connectionState(), "37000") << text;
  }
}

// The engine reads a timestamp's time only when all of it is there: an
// argument that holds a date alone gives the date, a partial time is an
// error, and nothing is read past the argument.
TEST_F(FlatEscapeTest, TimestampShorterThanItsTimeIsBounded) {
  connection_->setTypeTable(withTimeTypes, 3);
  struct Case {
    const char* argument;
    const char* engine;  // null: refused with 6031
  };
  const Case cases[] = {
      {"1995-07-04", "{07/04/1995}"},
      {"1995-07-04 10:3", nullptr},
      {"1995-07", nullptr},
      {"", nullptr},
  };
  for (const Case& c : cases) {
    // The argument alone, in a heap buffer of its exact length behind a
    // copy that the replace string owns.
    KvString sql;
    ASSERT_EQ(sql.initialize(kvU(c.argument), uint32_t(std::strlen(c.argument))), kvSuccess);
    KvReplaceString text(&sql);
    connection_->getErrorList().clearErrors();
    KvErrorKeeper::setErrorList(&connection_->getErrorList());
    KvStatus status = connection_->expandNativeEscape(&text, uint32_t(std::strlen(c.argument)) + 5,
                                                       escapeTimestamp, fnNone);
    KvErrorKeeper::giveUpErrorList();
    if (!c.engine) {
      EXPECT_EQ(status, kvFailure) << c.argument;
      EXPECT_EQ(connectionError(), msgBadTimestampEscape) << c.argument;
      continue;
    }
    ASSERT_EQ(status, kvSuccess) << c.argument;
    EXPECT_EQ(std::string(kvC(sql.getStr()), text.getWriteOffset()), c.engine) << c.argument;
  }
}

// What the escapes become compiles and evaluates in the engine.
TEST_F(FlatEscapeTest, TranslatedTextsEvaluate) {
  connection_->setTypeTable(withTimeTypes, 3);
  struct Case {
    const char* expression;
    const char* value;
  };
  const Case cases[] = {
      {"{fn ucase('abc')}", "ABC"},
      {"{fn lcase('ABC')}", "abc"},
      {"{fn concat('ab', 'cd')}", "abcd"},
      {"{fn ifnull(NULL, 'none')}", "none"},
      {"{fn ifnull('x', 'none')}", "x"},
      {"{fn length('abc')}", "3"},
      {"{fn substring('abcdef', 2, 3)}", "bcd"},
      {"{fn char(65)}", "A"},
      {"{fn floor(2.7)}", "2"},
      {"{fn mod(7, 3)}", "1"},
      {"{fn power(2, 10)}", "1024"},
      {"{fn year({d '1995-07-04'})}", "1995"},
      {"{fn month({d '1995-07-04'})}", "7"},
      {"{fn dayofmonth({d '1995-07-04'})}", "4"},
      {"{d '1995-07-04'}", "1995-07-04"},
  };
  for (const Case& c : cases) EXPECT_EQ(escapedValue(c.expression), c.value) << c.expression;

  std::string native;
  ASSERT_EQ(expand("SELECT ID FROM emp WHERE HIRED = {d '1995-07-04'}", &native), kvSuccess);
  EXPECT_EQ(prepare(native), kvSuccess) << lastText();
  EXPECT_EQ(escapedValue("{fn curdate()}").size(), 10u);
}

}  // namespace
