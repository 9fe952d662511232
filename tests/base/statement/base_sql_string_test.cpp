// The SQL text of a statement: verbs and object words, markers outside
// quotes, FOR UPDATE OF and WHERE CURRENT OF, and the texts made from them.
#include "tests/base/base_test_support.h"

#include "base/statement/base_sql_string.h"

#include <gtest/gtest.h>

namespace {

class SqlStringTest : public ::testing::Test {
 protected:
  void SetUp() override { KvErrorKeeper::setErrorList(&list_); }
  void TearDown() override { KvErrorKeeper::giveUpErrorList(); }
  BaseErrorList list_{nullptr};
};

std::string text(const KvSubString& part) { return std::string(kvC(part.getText()), part.getLength()); }

TEST_F(SqlStringTest, VerbAndObjectKind) {
  struct Case {
    const char* sql;
    KvSqlVerb verb;
    BaseSqlObjectKind kind;
    const char* object;
  } cases[] = {
      {"   select * from t", sqlVerbSelect, sqlObjectUnknown, ""},
      {"INSERT INTO t VALUES (1)", sqlVerbInsert, sqlObjectUnknown, ""},
      {"Update t set a = 1", sqlVerbUpdate, sqlObjectUnknown, ""},
      {"delete from t", sqlVerbDelete, sqlObjectUnknown, ""},
      {"grant all on t to u", sqlVerbGrant, sqlObjectUnknown, ""},
      {"revoke all on t from u", sqlVerbRevoke, sqlObjectUnknown, ""},
      {"create table t (a int)", sqlVerbCreate, sqlObjectTable, "table"},
      {"CREATE UNIQUE INDEX i ON t (a)", sqlVerbCreate, sqlObjectOther, "UNIQUE"},
      {"drop index i", sqlVerbDrop, sqlObjectIndex, "index"},
      {"DROP VIEW v", sqlVerbDrop, sqlObjectView, "VIEW"},
      {"alter synonym s", sqlVerbAlter, sqlObjectSynonym, "synonym"},
      {"drop", sqlVerbDrop, sqlObjectNoWord, ""},
      {"create (x)", sqlVerbCreate, sqlObjectNoWord, ""},
      {"pack t", sqlVerbOther, sqlObjectUnknown, ""},
      {"selected from t", sqlVerbOther, sqlObjectUnknown, ""},
      {"(select 1)", sqlVerbNoWord, sqlObjectUnknown, ""},
      {"'select'", sqlVerbNoWord, sqlObjectUnknown, ""},
      {"   ", sqlVerbNoWord, sqlObjectUnknown, ""},
      {"", sqlVerbNoWord, sqlObjectUnknown, ""},
  };
  for (const Case& c : cases) {
    BaseSqlString sql(kvU(c.sql), SQL_NTS);
    EXPECT_EQ(sql.getVerb(), c.verb) << c.sql;
    EXPECT_EQ(sql.getObjectKind(), c.kind) << c.sql;
    EXPECT_EQ(text(sql.getObjectToken()), c.object) << c.sql;
    EXPECT_EQ(sql.getVerb(), c.verb) << "remembered: " << c.sql;
  }
}

TEST_F(SqlStringTest, MarkersOutsideQuotes) {
  struct Case {
    const char* sql;
    std::vector<uint32_t> offsets;
  } cases[] = {
      {"insert into t values (?, ?)", {22, 25}},
      {"select * from t where a = '?' and b = ?", {38}},
      {"select \"?\" , `?`, ? from t", {18}},
      {"select 'it''s ?', ? from t", {18}},
      {"select {fn ucase(?)} from t", {17}},
      {"select a from t where b = 'never closed ?", {}},
      {"??", {0, 1}},
      {"", {}},
  };
  for (const Case& c : cases) {
    BaseSqlString sql(kvU(c.sql), SQL_NTS);
    ASSERT_EQ(sql.scanSql(sqlScanMarkers), kvSuccess) << c.sql;
    std::vector<uint32_t> got;
    for (uint16_t i = 0; i < sql.getMarkerCount(); ++i) got.push_back(sql.getMarkerOffset(i));
    EXPECT_EQ(got, c.offsets) << c.sql;
  }
  // The quote characters are the statement's: without the back quote, a
  // "?" between back quotes is a marker.
  BaseSqlString sql(kvU("select `?` from t"), SQL_NTS);
  sql.setQuoteChars('\'', '"', 0);
  ASSERT_EQ(sql.scanSql(sqlScanMarkers), kvSuccess);
  EXPECT_EQ(sql.getMarkerCount(), 1);
}

TEST_F(SqlStringTest, ClausesAreFoundInTheirVerbsOnly) {
  struct Case {
    const char* sql;
    uint32_t forUpdate;
    uint32_t currentOf;
    const char* cursor;
  } cases[] = {
      {"select a from t for update of a", 16, 0, ""},
      {"SELECT a FROM t FOR  Update  OF a", 16, 0, ""},
      {"select a from t where b = 'for update of'", 0, 0, ""},
      {"select a from t for browse", 0, 0, ""},
      {"update t set a = 1 where current of c1", 0, 25, "c1"},
      {"DELETE FROM t WHERE CURRENT OF SQL_CUR0001", 0, 20, "SQL_CUR0001"},
      {"delete from t where a = 1", 0, 0, ""},
      {"update t set a = 1 where current", 0, 0, ""},
      {"insert into t select a from u for update of a", 0, 0, ""},
      {"update t set a = 1 for update of a", 0, 0, ""},
  };
  for (const Case& c : cases) {
    BaseSqlString sql(kvU(c.sql), SQL_NTS);
    ASSERT_EQ(sql.scanSql(sqlScanClauses), kvSuccess) << c.sql;
    EXPECT_EQ(sql.getForUpdatePos(), c.forUpdate) << c.sql;
    EXPECT_EQ(sql.getCurrentOfPos(), c.currentOf) << c.sql;
    EXPECT_EQ(text(sql.getCursorNameToken()), c.cursor) << c.sql;
    if (c.currentOf) {
      EXPECT_EQ(sql.getCurrentOfPos() + sql.getCurrentOfLength(), std::strlen(c.sql)) << c.sql;
    }
  }
}

TEST_F(SqlStringTest, CurrentOfWithoutCursorNameIs37000) {
  for (const char* bad : {"update t set a = 1 where current of", "delete from t where current of 'c1"}) {
    list_.clearErrors();
    BaseSqlString sql(kvU(bad), SQL_NTS);
    EXPECT_EQ(sql.scanSql(sqlScanClauses | sqlScanMarkers), kvFailure) << bad;
    UnitDiagnostic d = nextDiagnostic(list_);
    EXPECT_EQ(d.state, "37000") << bad;
    EXPECT_NE(d.text.find("Cursor name missing after WHERE CURRENT OF"), std::string::npos) << d.text;
  }
}

TEST_F(SqlStringTest, StripParamsStopsAtTheFirstClause) {
  struct Case {
    const char* sql;
    const char* head;
  } cases[] = {
      {"select a, b from t where a = ?", "select a, b from t "},
      {"select a from t order by a", "select a from t "},
      {"select a from t group by a having count(*) > ?", "select a from t "},
      {"select a from t union select b from u", "select a from t "},
      {"select 'where' from t", "select 'where' from t"},
      {"select a from t for update of a", "select a from t "},
  };
  for (const Case& c : cases) {
    BaseSqlString sql(kvU(c.sql), SQL_NTS);
    KvString out;
    ASSERT_EQ(sql.stripParams(&out), kvSuccess);
    EXPECT_STREQ(kvC(out.getStr()), c.head) << c.sql;
  }
}

TEST_F(SqlStringTest, MarkersTakeTheDriversFormat) {
  struct Case {
    const char* format;
    const char* result;
  } cases[] = {
      {":p%d", "insert into t values (:p1, '?', :p2)"},
      {"@P%03u", "insert into t values (@P001, '?', @P002)"},
      {"%%%i", "insert into t values (%1, '?', %2)"},
      {"?", "insert into t values (?, '?', ?)"},
      {"%s", "insert into t values (%s, '?', %s)"},  // no text conversions: copied as it stands
  };
  for (const Case& c : cases) {
    BaseSqlString sql(kvU("insert into t values (?, '?', ?)"), SQL_NTS);
    ASSERT_EQ(sql.scanSql(sqlScanMarkers), kvSuccess);
    KvString out;
    ASSERT_EQ(sql.paramSubstFmtCnt(&out, kvU(c.format)), kvSuccess);
    EXPECT_STREQ(kvC(out.getStr()), c.result) << c.format;
  }
}

TEST_F(SqlStringTest, StripForUpdateCutsAtFor) {
  const char caller[] = "select a from t for update of a";
  BaseSqlString sql(kvU(caller), SQL_NTS);
  ASSERT_EQ(sql.scanSql(sqlScanClauses), kvSuccess);
  ASSERT_EQ(sql.stripForUpdate(), kvSuccess);
  EXPECT_EQ(std::string(kvC(sql.getText()), sql.getLength()), "select a from t ");
  EXPECT_EQ(sql.getForUpdatePos(), 0u);
  EXPECT_STREQ(caller, "select a from t for update of a") << "the caller's text is never written";
  BaseSqlString plain(kvU("select a from t"), SQL_NTS);
  ASSERT_EQ(plain.scanSql(sqlScanClauses), kvSuccess);
  ASSERT_EQ(plain.stripForUpdate(), kvSuccess);
  EXPECT_EQ(plain.getLength(), 15u);
}

// A replacement moves what lies behind it, and a token that starts where it
// starts takes its length.
TEST_F(SqlStringTest, ReplacementMovesThePlacesBehindIt) {
  BaseSqlString sql(kvU("update t set a = ? where current of c1"), SQL_NTS);
  ASSERT_EQ(sql.getVerb(), sqlVerbUpdate);
  ASSERT_EQ(sql.scanSql(sqlScanMarkers | sqlScanClauses), kvSuccess);
  ASSERT_EQ(sql.getCurrentOfPos(), 25u);
  // A longer table name before everything remembered.
  KvSubString table(sql.getText() + 7, 1);
  ASSERT_EQ(sql.replaceSubString(&table, kvU("orders"), 6), kvSuccess);
  EXPECT_EQ(std::string(kvC(sql.getText()), sql.getLength()), "update orders set a = ? where current of c1");
  EXPECT_EQ(sql.getCurrentOfPos(), 30u);
  EXPECT_EQ(sql.getMarkerOffset(0), 22u);
  EXPECT_EQ(text(sql.getCursorNameToken()), "c1");
  EXPECT_EQ(text(sql.getVerbToken()), "update");
  // The cursor name itself replaced: the token takes the new length.
  KvSubString name = sql.getCursorNameToken();
  ASSERT_EQ(sql.replaceSubString(&name, kvU("SQL_CUR00000001"), 15), kvSuccess);
  EXPECT_EQ(text(sql.getCursorNameToken()), "SQL_CUR00000001");
  EXPECT_EQ(sql.getCurrentOfPos() + sql.getCurrentOfLength(), sql.getLength()) << "the span grew with it";
  // An empty replacement deletes, and the marker in it goes too.
  KvSubString set(sql.getText() + 13, 10);
  ASSERT_EQ(sql.replaceSubString(&set, nullptr, 0), kvSuccess);
  EXPECT_EQ(std::string(kvC(sql.getText()), sql.getLength()), "update orders where current of SQL_CUR00000001");
  EXPECT_EQ(sql.getMarkerCount(), 0);
  EXPECT_EQ(sql.getCurrentOfPos(), 20u);
  // A part outside the text is refused.
  KvSubString outside(kvU("elsewhere"), 4);
  EXPECT_EQ(sql.replaceSubString(&outside, kvU("x"), 1), kvFailure);
}

}  // namespace
