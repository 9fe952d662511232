// The escape pass: finding and checking clauses (quotes, nesting, both
// forms, the literal checks), rescanning produced text and counting
// markers; copyEscapeArgument; processOuterJoinEscape with its four forms
// and the move of the condition into WHERE; and SQLNativeSql on top.
#include "tests/base/base_test_support.h"

#include "base/statement/base_escape.h"
#include "base/handles/base_message_ids.h"
#include "util/charsets/charset.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// A data source whose native forms show what the pass handed over:
//   D, T, TS    DATE 'x', TIME 'x', TS 'x'
//   FN          CONCAT as ((a)+(b)), IFNULL as IIF((a)IS NOT NULL,a,b),
//               LEFT as SUBSTRING(a,1,b), CONVERT refused (6006), every other
//               function as written
//   OJ          processOuterJoinEscape with the form of joinType
//   ESCAPE      ESCAPE x;  CALL  EXEC x;  ? = CALL  EXEC ? = x
//   B, L        X'x', x
class EscapeConnection : public UnitConnection {
 public:
  explicit EscapeConnection(BaseEnv* env) : UnitConnection(env) {}

  struct Call {
    EscapeType type;
    EscapeFunctionType function;
    std::string argument;
  };

  KvStatus expandNativeEscape(KvReplaceString* text, uint32_t length, EscapeType type,
                              EscapeFunctionType function) override {
    calls.push_back({type, function, std::string(kvC(text->getText()), length)});
    switch (type) {
      case escapeDate: return wrap(text, length, "DATE '", "'");
      case escapeTime: return wrap(text, length, "TIME '", "'");
      case escapeTimestamp: return wrap(text, length, "TS '", "'");
      case escapeFunction: return function_(text, length, function);
      case escapeOuterJoin: return processOuterJoinEscape(text, length, joinType);
      case escapeLike: return wrap(text, length, "ESCAPE ", "");
      case escapeCall: return wrap(text, length, "EXEC ", "");
      case escapeCallReturn: return wrap(text, length, "EXEC ? = ", "");
      case escapeBinary: return wrap(text, length, "X'", "'");
      case escapeBit: return wrap(text, length, "", "");
    }
    return kvFailure;
  }

  std::vector<Call> calls;
  BaseOuterJoinTypes joinType = outerJoinStarEquals;

 private:
  static KvStatus wrap(KvReplaceString* text, uint32_t length, const char* before, const char* after) {
    if (text->addBytes(kvU(before), uint32_t(std::strlen(before))) != kvSuccess) return kvFailure;
    text->keep(length);
    return text->addBytes(kvU(after), uint32_t(std::strlen(after)));
  }

  KvStatus function_(KvReplaceString* text, uint32_t length, EscapeFunctionType function) {
    const uint32_t nameLength = uint32_t(std::strlen(escapeFunctionName(function)));
    uint32_t rest = length - nameLength;
    auto write = [text](const char* s) { return text->addBytes(kvU(s), uint32_t(std::strlen(s))); };
    switch (function) {
      case fnConcat:
        text->skip(nameLength);
        if (copyEscapeArgument(text, &rest, 1, copyOpenBefore | copyParens) != kvSuccess || write("+") ||
            copyEscapeArgument(text, &rest, 2, copyParens | copyCloseAfter | copyEndCheck) != kvSuccess)
          return kvFailure;
        return kvSuccess;
      case fnIfnull:
        text->skip(nameLength);
        if (write("IIF") ||
            copyEscapeArgument(text, &rest, 1, copyOpenBefore | copyParens | copyKeepSource) != kvSuccess ||
            write("IS NOT NULL") || copyEscapeArgument(text, &rest, 1, copyCommaBefore) != kvSuccess ||
            copyEscapeArgument(text, &rest, 2, copyCommaBefore | copyCloseAfter | copyEndCheck) != kvSuccess)
          return kvFailure;
        return kvSuccess;
      case fnLeft:
        text->skip(nameLength);
        if (write("SUBSTRING") || copyEscapeArgument(text, &rest, 1, copyOpenBefore) != kvSuccess ||
            write(",1") ||
            copyEscapeArgument(text, &rest, 2, copyCommaBefore | copyCloseAfter | copyEndCheck) != kvSuccess)
          return kvFailure;
        return kvSuccess;
      case fnConvert:
        addOdbcError(stateSyntax, msgCannotConvertEscape) << kvU("CONVERT");
        return kvFailure;
      default:
        text->keep(length);
        return kvSuccess;
    }
  }
};

class EscapeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = new BaseEnv(1);
    connection_ = new EscapeConnection(env_);
  }
  void TearDown() override {
    kvSetDbcsLeadBytes(nullptr);
    delete connection_;
    delete env_;
  }

  // The pass over a private copy of text, with its own error list.
  KvStatus expand(const std::string& text, std::string* out, uint16_t* markers = nullptr) {
    KvString sql;
    EXPECT_EQ(sql.initialize(kvU(text.c_str()), uint32_t(text.size())), kvSuccess);
    connection_->getErrorList().clearErrors();
    KvErrorKeeper::setErrorList(&connection_->getErrorList());
    KvStatus status = connection_->expandEscapeClauses(&sql, markers);
    KvErrorKeeper::giveUpErrorList();
    *out = std::string(kvC(sql.getStr()), sql.getLength());
    EXPECT_EQ(sql.getStr()[sql.getLength()], 0) << "the text stays terminated";
    return status;
  }

  std::string translated(const std::string& text) {
    std::string out;
    EXPECT_EQ(expand(text, &out), kvSuccess) << text << ": " << nextDiagnostic(connection_->getErrorList()).text;
    return out;
  }

  // The message of the first diagnostic, without the vendor prefix.
  std::string failure(const std::string& text, std::string* state = nullptr) {
    std::string out;
    EXPECT_EQ(expand(text, &out), kvFailure) << text << " became " << out;
    UnitDiagnostic d = nextDiagnostic(connection_->getErrorList());
    if (state) *state = d.state;
    const std::string prefix = "[KESTRANE][ODBC Unit driver]";
    return d.text.compare(0, prefix.size(), prefix) == 0 ? d.text.substr(prefix.size()) : d.text;
  }

  static std::string message(uint16_t id) {
    unsigned char text[512];
    baseLoadString(text, id, sizeof(text));
    return kvC(text);
  }

  BaseEnv* env_ = nullptr;
  EscapeConnection* connection_ = nullptr;
};

TEST_F(EscapeTest, ClausesBecomeNativeText) {
  struct Case {
    const char* sql;
    const char* expected;
  };
  const Case cases[] = {
      {"SELECT a FROM t", "SELECT a FROM t"},
      {"SELECT {d '1995-01-01'} FROM t", "SELECT  DATE '1995-01-01' FROM t"},
      {"{D'1995-01-01'}", " DATE '1995-01-01'"},
      {"{t '10:30:00'}", " TIME '10:30:00'"},
      {"{ts '1995-01-01 10:00:00'}", " TS '1995-01-01 10:00:00'"},
      {"{ts '1995-01-01 10:00:00.123456'}", " TS '1995-01-01 10:00:00.123456'"},
      {"{ts '1995-07-04 10:30:00.123'}", " TS '1995-07-04 10:30:00.123'"},
      {"{fn ucase(name)}", " ucase(name)"},
      {"{FN UCase( name )}", " UCase( name )"},
      {"{escape '\\'}", " ESCAPE '\\'"},
      {"{call p(?, 1)}", " EXEC p(?, 1)"},
      {"{?=call p(?)}", " EXEC ? = p(?)"},
      {"{ ? = CALL p}", " EXEC ? = p"},
      {"{b 'ff00'}", " X'ff00'"},
      {"{l 1}", " 1"},
      // The long form, and blanks before the closer.
      {"--(*vendor(Microsoft),product(ODBC) d '1995-01-01'*)--", " DATE '1995-01-01'"},
      {"x --(* VENDOR ( microsoft ), Product(odbc) fn ucase(a)   *)-- y", "x  ucase(a) y"},
      // Quoted runs hide clauses; a brace without a keyword is no clause.
      {"SELECT '{d x}', \"{fn y}\", `{t z}` FROM t", "SELECT '{d x}', \"{fn y}\", `{t z}` FROM t"},
      {"SELECT {abc} FROM t {", "SELECT {abc} FROM t {"},
      {"{callp}{ }{}", "{callp}{ }{}"},
      {"{x {d '1995-01-01'}}", "{x  DATE '1995-01-01'}"},
      // Inner clauses are rewritten after the outer one, in its produced text.
      {"{fn concat({fn ucase(a)}, b)}", " (( ucase(a))+( b))"},
      {"{fn ucase({fn lcase({fn rtrim(a)})})}", " ucase( lcase( rtrim(a)))"},
      {"{oj a LEFT OUTER JOIN b ON a.d = {d '1995-01-01'}}", " a , b  WHERE  a.d *=  DATE '1995-01-01'"},
      {"{fn ucase('}')}", " ucase('}')"},
      {"--(*vendor(Microsoft),product(ODBC) fn concat(--(*vendor(Microsoft),product(ODBC) fn ucase(a)*)--, "
       "b)*)--",
       " (( ucase(a))+( b))"},
  };
  for (const Case& c : cases) EXPECT_EQ(translated(c.sql), c.expected) << c.sql;
}

TEST_F(EscapeTest, TheDriverGetsTheKindFunctionAndArgument) {
  translated("{fn ucase(name)} {d '1995-01-01'} {oj a LEFT OUTER JOIN b ON a.x = b.y} {?=call p}");
  ASSERT_EQ(connection_->calls.size(), 4u);
  EXPECT_EQ(connection_->calls[0].type, escapeFunction);
  EXPECT_EQ(connection_->calls[0].function, fnUcase);
  EXPECT_EQ(connection_->calls[0].argument, "ucase(name)");
  EXPECT_EQ(connection_->calls[1].type, escapeDate);
  EXPECT_EQ(connection_->calls[1].argument, "1995-01-01");
  EXPECT_EQ(connection_->calls[2].type, escapeOuterJoin);
  EXPECT_EQ(connection_->calls[2].argument, "a LEFT OUTER JOIN b ON a.x = b.y");
  EXPECT_EQ(connection_->calls[3].type, escapeCallReturn);
  EXPECT_EQ(connection_->calls[3].argument, "p");
}

TEST_F(EscapeTest, FunctionTableHas63NamesFoundWithoutRegardToCase) {
  struct Case {
    const char* name;
    EscapeFunctionType type;
  };
  const Case cases[] = {
      {"ascii", fnAscii},   {"LTRIM", fnLtrim},     {"Length", fnLength},  {"locate", fnLocate},
      {"UCASE", fnUcase},   {"abs", fnAbs},         {"truncate", fnTruncate}, {"curdate", fnCurdate},
      {"YEAR", fnYear},     {"user", fnUser},       {"IfNull", fnIfnull},  {"convert", fnConvert},
      {"nosuch", fnNone},   {"", fnNone},           {"ucase2", fnNone},
  };
  for (const Case& c : cases)
    EXPECT_EQ(escapeFunctionLookup(kvU(c.name), uint32_t(std::strlen(c.name))), c.type) << c.name;
  for (int n = 1; n <= 63; ++n) {
    const char* name = escapeFunctionName(n);
    ASSERT_NE(name, nullptr) << n;
    EXPECT_EQ(escapeFunctionLookup(kvU(name), uint32_t(std::strlen(name))), n) << name;
  }
  EXPECT_EQ(escapeFunctionName(0), nullptr);
  EXPECT_EQ(escapeFunctionName(64), nullptr);
  EXPECT_EQ(fnLtrim, 8);
  EXPECT_EQ(fnLocate, 10);
}

TEST_F(EscapeTest, MalformedClausesFailWithTheirMessage) {
  struct Case {
    const char* sql;
    uint16_t message;
  };
  const Case cases[] = {
      {"{d '1995-1-01'}", msgBadDateEscape},  // 9 characters
      {"{d '1995-01-0x'}", msgBadDateEscape},
      {"{d '1995-01-01' x}", msgBadDateEscape},
      {"{t '10:30'}", msgBadTimeEscape},
      {"{t '1a:30:00'}", msgBadTimeEscape},
      {"{ts '1995-01-01 10:00:00.'}", msgBadTimestampEscape},            // 20 characters
      {"{ts '1995-01-01 10:00'}", msgBadTimestampEscape},                // shorter than hh:mm:ss
      {"{ts '1995'}", msgBadTimestampEscape},
      {"{ts ''}", msgBadTimestampEscape},
      {"{ts '1995-01-01 10:00:00.1234567890'}", msgBadTimestampEscape},  // 30 characters
      {"{ts '1995-01-01 10:00:00.12x'}", msgBadTimestampEscape},
      {"SELECT {d '1995-01-01' FROM t", msgEscapeNotEnded},
      {"{fn ucase({d '1995-01-01'})", msgEscapeNotEnded},
      {"--(*vendor(Microsoft),product(ODBC) d '1995-01-01'", msgEscapeNotEnded},
      {"--(*vendor(Other),product(ODBC) d '1995-01-01'*)--", msgVendorEscapeMalformed},
      {"--(*d '1995-01-01'*)--", msgVendorEscapeMalformed},
      {"--(*vendor(Microsoft),product(ODBC) xyz 1*)--", msgBadEscape},
      {"--(*vendor(Microsoft),product(ODBC)*)--", msgBadEscape},
      {"{? x}", msgBadEscape},
      {"{? = p}", msgBadEscape},
      {"{d}", msgBadEscape},
      {"{call   }", msgBadEscape},
      {"{d ''}", msgBadDateEscape},
      {"{fn}", msgFnNameMissing},
      {"{fn (a)}", msgFnNameMissing},
      {"{oj a b}", msgOuterJoinKeywords},
      {"{oj a LEFT JOIN b ON x}", msgOuterJoinKeywords},
      {"{oj a LEFT OUTER JOIN b}", msgOuterJoinOn},
      {"{fn concat(a)}", msgEscapeTooFewArgs},
      {"{fn concat}", msgEscapeTooFewArgs},
      {"{fn concat(a, b) x}", msgEscapeArgNotEnded},
      {"{fn concat(a, (b)}", msgEscapeArgNotEnded},
      {"{fn convert(a, SQL_CHAR)}", msgCannotConvertEscape},
  };
  for (const Case& c : cases) {
    std::string state;
    std::string text = failure(c.sql, &state);
    EXPECT_EQ(state, "37000") << c.sql;
    std::string expected = message(c.message);
    if (c.message == msgCannotConvertEscape) expected = "Database cannot convert this ODBC escape sequence: CONVERT .";
    EXPECT_EQ(text, expected) << c.sql;
  }
  EXPECT_EQ(failure("{fn NoSuch(x)}"), "Unrecognized function escape: NoSuch.");
}

TEST_F(EscapeTest, UnquotedLiteralsAreCheckedAsWritten) {
  EXPECT_EQ(translated("{d 1995-01-01 }"), " DATE '1995-01-01'");
  EXPECT_EQ(translated("{t 10:30:00}"), " TIME '10:30:00'");
}

TEST_F(EscapeTest, ADriverWithoutEscapesRefusesThemWithAReason) {
  UnitConnection plain(env_);
  KvString sql;
  ASSERT_EQ(sql.initialize(kvU("SELECT {d '1995-01-01'}")), kvSuccess);
  KvErrorKeeper::setErrorList(&plain.getErrorList());
  EXPECT_EQ(plain.expandEscapeClauses(&sql, nullptr), kvFailure);
  KvErrorKeeper::giveUpErrorList();
  UnitDiagnostic d = nextDiagnostic(plain.getErrorList());
  EXPECT_EQ(d.state, "37000");
  EXPECT_NE(d.text.find(message(msgEscapeNotSupported)), std::string::npos) << d.text;
}

TEST_F(EscapeTest, MarkersAreCountedOutsideQuotesAndLiterals) {
  struct Case {
    const char* sql;
    uint16_t markers;
  };
  const Case cases[] = {
      {"SELECT a FROM t", 0},
      {"SELECT ? FROM t WHERE a = '?' AND b = \"?\" AND c = ?", 2},
      {"SELECT {d '1995-01-01'} FROM t WHERE a = ?", 1},
      {"{b '?'}", 0},                       // a literal's text is never read again
      {"{fn concat(?, {fn ucase(?)})}", 2},  // counted in the produced text
      {"{call p(?, ?)}", 2},
      {"{? = call p(?)}", 2},               // the native text holds two markers
      {"{x ?}", 1},                         // no clause: the brace is passed over
      {"SELECT * FROM {oj a LEFT OUTER JOIN b ON a.x = ?} WHERE a.y = ?", 2},
  };
  for (const Case& c : cases) {
    std::string out;
    uint16_t markers = 99;
    ASSERT_EQ(expand(c.sql, &out, &markers), kvSuccess) << c.sql;
    EXPECT_EQ(markers, c.markers) << c.sql << " -> " << out;
  }
}

TEST_F(EscapeTest, QuoteCharactersAreTheConnections) {
  connection_->setQuoteChars('\'', 0, 0);
  EXPECT_EQ(translated("SELECT \"{d '1995-01-01'}\" FROM t"), "SELECT \" DATE '1995-01-01'\" FROM t");
  EXPECT_EQ(translated("SELECT '{d x}'"), "SELECT '{d x}'");
  // A zero byte in the text is data, not a quote.
  EXPECT_EQ(translated(std::string("a\0{l 1}", 7)), std::string("a\0 1", 4));
}

TEST_F(EscapeTest, DoubleByteTrailBytesNeverOpenOrQuote) {
  static const unsigned char leadBytes[] = {0x81, 0x9F, 0, 0};
  kvSetDbcsLeadBytes(leadBytes);
  EXPECT_EQ(translated("\x81{ {l 1}"), "\x81{  1");
  EXPECT_EQ(translated("'\x81'' {l 1}"), "'\x81''  1") << "a quote as trail byte neither opens nor closes";
  EXPECT_EQ(translated("{fn ucase('\x81}')}"), " ucase('\x81}')");
}

TEST_F(EscapeTest, CopyEscapeArgumentReordersAndWrapsArguments) {
  struct Case {
    const char* sql;
    const char* expected;
  };
  const Case cases[] = {
      {"{fn concat(a, b)}", " ((a)+( b))"},
      {"{fn concat(f(a, b), 'x,y')}", " ((f(a, b))+( 'x,y'))"},
      {"{fn concat((a), (b) )}", " (((a))+( (b) ))"},
      {"{fn ifnull(x, 0)}", " IIF((x)IS NOT NULL,x, 0)"},
      {"{fn left(s, 3)}", " SUBSTRING(s,1, 3)"},
      {"{fn left(s,)}", " SUBSTRING(s,1,)"},
      {"{fn concat({fn left(a, 2)}, b)}", " (( SUBSTRING(a,1, 2))+( b))"},
  };
  for (const Case& c : cases) EXPECT_EQ(translated(c.sql), c.expected) << c.sql;
}

TEST_F(EscapeTest, OuterJoinConditionMovesIntoWhere) {
  struct Case {
    BaseOuterJoinTypes type;
    const char* sql;
    const char* expected;
  };
  const Case cases[] = {
      {outerJoinStarEquals, "SELECT * FROM {oj a LEFT OUTER JOIN b ON a.x = b.y} WHERE a.z = 1",
       "SELECT * FROM  a , b  WHERE a.x *= b.y AND ( a.z = 1)"},
      {outerJoinPlusEachTerm, "SELECT * FROM {oj a LEFT OUTER JOIN b ON a.x = b.y} WHERE a.z = 1",
       "SELECT * FROM  a , b  WHERE a.x = b.y (+) AND ( a.z = 1)"},
      {outerJoinCommaOuter, "SELECT * FROM {oj a LEFT OUTER JOIN b ON a.x = b.y} WHERE a.z = 1",
       "SELECT * FROM  a , OUTER b  WHERE a.x = b.y AND ( a.z = 1)"},
      {outerJoinPlusOnce, "SELECT * FROM {oj a left outer join b on a.x = b.y and a.w = b.w}",
       "SELECT * FROM  a , b  WHERE  a.x = b.y (+) and a.w = b.w"},
      {outerJoinPlusEachTerm, "SELECT * FROM {oj a LEFT OUTER JOIN b ON (a.x = b.y) AND (a.w = b.w OR a.v = b.v)}",
       "SELECT * FROM  a , b  WHERE  (a.x = b.y (+)) AND (a.w = b.w (+) OR a.v = b.v (+))"},
      {outerJoinStarEquals, "SELECT * FROM {oj a LEFT OUTER JOIN b ON a.x=b.y AND (a.w=b.w)}",
       "SELECT * FROM  a , b  WHERE  a.x*=b.y AND (a.w=b.w)"},
      {outerJoinStarEquals, "SELECT * FROM {oj a LEFT OUTER JOIN b ON a.x = 'ON = x'}",
       "SELECT * FROM  a , b  WHERE  a.x *= 'ON = x'"},
      // The stop words, at the statement's own level.
      {outerJoinStarEquals, "SELECT * FROM {oj a LEFT OUTER JOIN b ON a.x=b.y} ORDER BY 1",
       "SELECT * FROM  a , b   WHERE  a.x*=b.y ORDER BY 1"},
      {outerJoinStarEquals, "SELECT a.k FROM {oj a LEFT OUTER JOIN b ON a.x=b.y} group by a.k having count(*) > 1",
       "SELECT a.k FROM  a , b   WHERE  a.x*=b.y group by a.k having count(*) > 1"},
      {outerJoinStarEquals,
       "SELECT * FROM {oj a LEFT OUTER JOIN b ON a.x=b.y} WHERE a.k IN (SELECT k FROM c WHERE c.v = 1) ORDER BY 1",
       "SELECT * FROM  a , b  WHERE a.x*=b.y AND ( a.k IN (SELECT k FROM c WHERE c.v = 1) )ORDER BY 1"},
      {outerJoinStarEquals, "SELECT * FROM {oj a LEFT OUTER JOIN b ON a.x=b.y} WHERE a.z = 1 FOR UPDATE OF a.z",
       "SELECT * FROM  a , b  WHERE a.x*=b.y AND ( a.z = 1 )FOR UPDATE OF a.z"},
      {outerJoinStarEquals, "SELECT * FROM {oj a LEFT OUTER JOIN b ON a.x=b.y} UNION SELECT * FROM c WHERE 1=1",
       "SELECT * FROM  a , b   WHERE  a.x*=b.y UNION SELECT * FROM c WHERE 1=1"},
      // Inside a subquery the condition stays inside it.
      {outerJoinStarEquals, "SELECT * FROM t WHERE t.k IN (SELECT a.k FROM {oj a LEFT OUTER JOIN b ON a.x=b.y})",
       "SELECT * FROM t WHERE t.k IN (SELECT a.k FROM  a , b  WHERE  a.x*=b.y)"},
      // Two joins: the second condition goes first.
      {outerJoinStarEquals,
       "SELECT * FROM {oj a LEFT OUTER JOIN b ON a.x=b.y}, {oj c LEFT OUTER JOIN d ON c.x=d.y} WHERE 1=1",
       "SELECT * FROM  a , b ,  c , d  WHERE c.x*=d.y AND ( a.x*=b.y AND ( 1=1))"},
      // The long form.
      {outerJoinStarEquals,
       "SELECT * FROM --(*vendor(Microsoft),product(ODBC) oj a LEFT OUTER JOIN b ON a.x=b.y*)-- WHERE a.z=1",
       "SELECT * FROM  a , b  WHERE a.x*=b.y AND ( a.z=1)"},
  };
  for (const Case& c : cases) {
    connection_->joinType = c.type;
    EXPECT_EQ(translated(c.sql), c.expected) << c.sql;
  }
}

TEST_F(EscapeTest, OuterJoinStopsAtTheConnectionsExtraKeywords) {
  static const unsigned char extra[] = "LIMIT\0WITH LOCK\0";
  connection_->setOuterJoinStopWords(extra);
  EXPECT_EQ(translated("SELECT * FROM {oj a LEFT OUTER JOIN b ON a.x=b.y} LIMIT 5"),
            "SELECT * FROM  a , b   WHERE  a.x*=b.y LIMIT 5");
  EXPECT_EQ(translated("SELECT * FROM {oj a LEFT OUTER JOIN b ON a.x=b.y} WHERE 1=1 with lock"),
            "SELECT * FROM  a , b  WHERE a.x*=b.y AND ( 1=1 )with lock");
}

TEST_F(EscapeTest, OuterJoinOutsideThePassFailsCleanly) {
  KvString sql;
  ASSERT_EQ(sql.initialize(kvU("a LEFT OUTER JOIN b ON a.x=b.y")), kvSuccess);
  KvErrorKeeper::setErrorList(&connection_->getErrorList());
  {
    KvReplaceString text(&sql);
    EXPECT_EQ(connection_->processOuterJoinEscape(&text, sql.getLength(), outerJoinStarEquals), kvFailure);
  }
  KvErrorKeeper::giveUpErrorList();
  EXPECT_EQ(nextDiagnostic(connection_->getErrorList()).state, "S1000");
}

TEST_F(EscapeTest, LongTextsNearTheLimitAreRewrittenWithoutGrowingPastIt) {
  std::string text = "SELECT '" + std::string(60000, 'x') + "' FROM t WHERE d = {d '1995-01-01'}";
  std::string expected = "SELECT '" + std::string(60000, 'x') + "' FROM t WHERE d =  DATE '1995-01-01'";
  EXPECT_EQ(translated(text), expected);
}

// ---------------------------------------------------------------------------
// SQLNativeSql

TEST_F(EscapeTest, NativeSqlReturnsTheTranslationAndLeavesTheInputAlone) {
  char input[] = "SELECT {fn ucase(a)} FROM t WHERE d = {d '1995-01-01'}";
  const std::string original = input;
  char output[256];
  std::memset(output, 'Z', sizeof(output));
  SQLINTEGER length = -1;
  EXPECT_EQ(connection_->SQLNativeSql(kvU(input), SQL_NTS, kvU(output), sizeof(output), &length), SQL_SUCCESS);
  EXPECT_STREQ(output, "SELECT  ucase(a) FROM t WHERE d =  DATE '1995-01-01'");
  EXPECT_EQ(length, SQLINTEGER(std::strlen(output)));
  EXPECT_EQ(original, input);

  // An explicit length takes only that part; no output buffer still gives the length.
  EXPECT_EQ(connection_->SQLNativeSql(kvU(input), 20, nullptr, 0, &length), SQL_SUCCESS);
  EXPECT_EQ(length, 16);  // "SELECT  ucase(a)"
}

TEST_F(EscapeTest, NativeSqlCutsToTheBufferWithAWarning) {
  char output[8];
  std::memset(output, 'Z', sizeof(output));
  SQLINTEGER length = -1;
  EXPECT_EQ(connection_->SQLNativeSql(const_cast<SQLCHAR*>(kvU("SELECT {l 1} FROM t")), SQL_NTS, kvU(output), 6, &length),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_STREQ(output, "SELEC");
  EXPECT_EQ(output[6], 'Z') << "nothing past the buffer size";
  EXPECT_EQ(length, 16);
  EXPECT_EQ(nextDiagnostic(connection_->getErrorList()).state, "01004");
}

TEST_F(EscapeTest, NativeSqlChecksItsArguments) {
  struct Case {
    const unsigned char* in;
    SQLINTEGER inLength;
    SQLINTEGER outMax;
    SQLRETURN rc;
    const char* state;
  };
  char output[32];
  const Case cases[] = {
      {nullptr, SQL_NTS, 32, SQL_ERROR, "S1009"},
      {kvU("SELECT 1"), -5, 32, SQL_ERROR, "S1090"},
      {kvU("SELECT 1"), SQL_NTS, -1, SQL_ERROR, "S1090"},
      {kvU("SELECT {d '1995-1-01'}"), SQL_NTS, 32, SQL_ERROR, "37000"},
      {kvU(""), SQL_NTS, 32, SQL_SUCCESS, "00000"},
      {kvU("SELECT 1"), 0, 32, SQL_SUCCESS, "00000"},
  };
  for (const Case& c : cases) {
    SQLINTEGER length = -1;
    EXPECT_EQ(connection_->SQLNativeSql(const_cast<SQLCHAR*>(c.in), c.inLength, kvU(output), c.outMax, &length),
              c.rc);
    EXPECT_EQ(nextDiagnostic(connection_->getErrorList()).state, c.state) << (c.in ? kvC(c.in) : "null");
  }
}

TEST_F(EscapeTest, NativeSqlOnABusyConnectionAnswers9999) {
  connection_->threadCheck(checkConnection);
  SQLINTEGER length = 0;
  EXPECT_EQ(connection_->SQLNativeSql(const_cast<SQLCHAR*>(kvU("x")), SQL_NTS, nullptr, 0, &length), SQL_HANDLE_BUSY);
  connection_->threadDone();
}

}  // namespace
