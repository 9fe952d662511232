// Tests of the sorted lookup: joins and correlated subqueries over a table
// without a usable index give the rows of a plain nested loop and of an
// index, while the inner table is read once an execution; the key length
// limit; the open transaction's inserts and deletes seen through the list.
#include "tests/flat/flat_sql_test_support.h"

#include "drivers/flattest/flattest_table.h"
#include "flat/flat_message_ids.h"
#include "flat/query/flat_index_desc.h"
#include "flat/query/flat_keyset.h"
#include "flat/query/flat_sorted_lookup.h"

#include <algorithm>

namespace {

class FlatLookupTest : public FlatSqlFixture {
 protected:
  void SetUp() override {
    FlatSqlFixture::SetUp();
    const std::vector<std::vector<std::string>> rows = {
        {"1", "BAKER", "A", "100"}, {"2", "BANKS", "C", "200"}, {"3", "ADAMS", "B", "300"},
        {"4", "BA", "C", "400"},    {"5", "", "A", "500"},      {"6", "CARR", "B", ""},
        {"7", "BAZ", "C", "250"},   {"8", "ZED", "", "100"}};
    // PAY has indexes on NAME and SAL; PAYX has none.
    writeTable("pay", {{"ID", 'I', 4, 0}, {"NAME", 'C', 10, flatTestIndexed}, {"DEPT", 'C', 4, 0},
                       {"SAL", 'D', 8, flatTestIndexed}},
               rows);
    writeTable("payx", {{"ID", 'I', 4, 0}, {"NAME", 'C', 10, 0}, {"DEPT", 'C', 4, 0}, {"SAL", 'D', 8, 0}}, rows);
  }

  // Every row of the prepared statement's keyset as "v|v|..." (trailing
  // blanks cut), sorted; a failure as "ERROR n". keyset may be given to
  // keep reading it afterwards.
  std::vector<std::string> keysetRows(RidFileMgr* keyset, FlatStatement* statement = nullptr) {
    if (!statement) statement = statement_;
    std::vector<std::string> out;
    for (uint32_t n = 1; n < 1000; ++n) {
      GetRecRetType result = getRecFound;
      statement->getErrorList().clearErrors();
      KvErrorKeeper::setErrorList(&statement->getErrorList());
      KvStatus status = keyset->getRecord(n, &result);
      KvErrorKeeper::giveUpErrorList();
      if (status != kvSuccess) return {"ERROR " + std::to_string(lastError(statement))};
      if (result == getRecPastEnd) break;
      if (result != getRecFound) continue;
      std::string row;
      for (uint16_t i = 0; i < head(statement)->getItemCount(); ++i) {
        std::string value = itemValue(i, statement);
        value.erase(value.find_last_not_of(' ') + 1);
        row += (i ? "|" : "") + value;
      }
      out.push_back(row);
    }
    std::sort(out.begin(), out.end());
    return out;
  }
  // xbase: the query compares as outside NULL-aware mode (empty values are
  // values, a text equals a longer one that begins with it).
  std::vector<std::string> run(const std::string& sql, bool xbase = false) {
    if (prepare(sql) != kvSuccess) return {"PREPARE " + std::to_string(lastError()) + " " + lastText()};
    if (xbase) head()->clearFlags(FlatSqlDesc::flagNullAware);
    RidFileMgr keyset(statement_, head());
    return keysetRows(&keyset);
  }
  FlatFileDesc* inner() { return head()->getFirstTable()->getNextTable(); }
  static uint32_t scans(FlatFileDesc* table) { return static_cast<FlatTestFileDesc*>(table)->getScanCount(); }
};

TEST_F(FlatLookupTest, JoinsThroughTheLookupEqualANestedLoopAndAnIndex) {
  const char* conditions[] = {
      "b.SAL = a.SAL",
      "a.SAL = b.SAL",
      "b.SAL >= a.SAL",
      "b.SAL < a.SAL",
      "a.SAL > b.SAL",
      "a.SAL <= b.SAL",
      "b.SAL BETWEEN a.SAL AND a.SAL + 100",
      "b.NAME = a.NAME",
      "a.NAME = b.NAME",
      "b.NAME >= a.NAME",
      "b.NAME < a.NAME",
      "a.NAME <= b.NAME",
      "b.NAME LIKE 'BA%'",
      "b.NAME = ''",
      "b.SAL > 300",
      "b.DEPT = a.DEPT AND b.SAL > a.SAL",
      "b.SAL = a.SAL AND b.DEPT = a.DEPT",
      "b.ID = a.ID + 1 AND b.SAL >= a.SAL",
      "b.ID = a.ID AND a.DEPT = 'C'",
      "b.SAL = a.SAL + 1",  // outer rows without a matching key
      // Terms on the inner table alone filter the list as it is built.
      "b.SAL > a.SAL AND b.DEPT = 'C'",
      "b.SAL = a.SAL AND (b.DEPT = 'C' OR b.NAME LIKE 'B%')",
      "b.NAME >= a.NAME AND b.SAL IS NULL",
      "b.SAL >= a.SAL AND NOT b.DEPT = 'A' AND b.ID + 0 > 2",
      "b.SAL = a.SAL OR b.DEPT = 'C'",
      // The optional side of an outer join.
      "a.SAL *= b.SAL AND b.ID > a.ID",
      "a.DEPT *= b.DEPT AND b.SAL >= a.SAL",
  };
  size_t nonEmpty = 0;
  for (bool xbase : {false, true}) {
    for (const char* condition : conditions) {
      const std::string items = "SELECT a.ID, b.ID FROM payx a, ";
      // Under an OR with a false term nothing bounds the inner table, so it
      // is scanned for each outer row: the plain nested loop.
      std::vector<std::string> plain = run(items + "payx b WHERE (" + condition + ") OR 1 = 0", xbase);
      EXPECT_EQ(inner()->getLookup(), nullptr) << condition;
      EXPECT_EQ(run(items + "payx b WHERE " + condition, xbase), plain) << condition << (xbase ? " xbase" : "");
      EXPECT_EQ(run(items + "pay b WHERE " + condition, xbase), plain) << condition << (xbase ? " xbase" : "");
      if (!plain.empty() && !xbase) ++nonEmpty;
    }
  }
  EXPECT_GE(nonEmpty, 18u);
  // The optional side of an outer join read through a lookup: the blank row
  // fails b.ID > a.ID like any row outside the range.
  EXPECT_EQ(run("SELECT a.ID, b.ID FROM payx a, payx b WHERE a.SAL *= b.SAL AND b.ID > a.ID"),
            std::vector<std::string>{"1|8"});
  EXPECT_NE(inner()->getLookup(), nullptr);
  // A few answers in full, as a check of the comparison itself: NULL salaries
  // (ID 6) compare as equal values.
  EXPECT_EQ(run("SELECT a.ID, b.ID FROM payx a, payx b WHERE b.SAL = a.SAL AND a.ID <> b.ID"),
            (std::vector<std::string>{"1|8", "8|1"}));
  EXPECT_EQ(run("SELECT a.ID, b.ID FROM payx a, payx b WHERE b.SAL = a.SAL AND a.ID = 6"),
            (std::vector<std::string>{"6|6"}));
  EXPECT_EQ(run("SELECT a.ID, b.ID FROM payx a, payx b WHERE b.NAME = a.NAME AND a.ID = 4"),
            (std::vector<std::string>{"4|4"}));
  // Outside NULL-aware mode every text begins with the empty one: NAME = ''
  // takes every row, through an index and a lookup alike.
  EXPECT_EQ(run("SELECT ID FROM pay WHERE NAME = ''", true).size(), 8u);
  EXPECT_EQ(run("SELECT b.ID FROM one a, payx b WHERE b.NAME = '' AND a.X = 1", true).size(), 8u);
  EXPECT_EQ(run("SELECT ID FROM pay WHERE NAME = ''"), std::vector<std::string>{"5"});
}

TEST_F(FlatLookupTest, OuterRowsInKeyOrderReadOnFromTheLastRange) {
  // Outer values rising with repeats, small steps and jumps beyond the
  // records a read-on passes over before it searches; a value past the end.
  std::vector<std::vector<std::string>> seq;
  for (int i = 1; i <= 200; ++i) seq.push_back({std::to_string(i)});
  writeTable("seq", {{"ID", 'I', 4, 0}}, seq);
  std::vector<std::vector<std::string>> steps;
  for (int x : {5, 5, 6, 7, 50, 120, 121, 100, 199, 250, 3})
    steps.push_back({std::to_string(x)});
  writeTable("steps", {{"X", 'I', 4, 0}}, steps);
  const char* conditions[] = {
      "b.ID = a.X",
      "b.ID BETWEEN a.X AND a.X + 2",
      "b.ID >= a.X AND b.ID < a.X + 1",
      "b.ID > a.X AND b.ID <= a.X + 70",
      "b.ID >= a.X",
  };
  for (const char* condition : conditions) {
    const std::string sql = std::string("SELECT a.X, b.ID FROM steps a, seq b WHERE ");
    std::vector<std::string> plain = run(sql + "(" + condition + ") OR 1 = 0");
    EXPECT_FALSE(plain.empty()) << condition;
    EXPECT_EQ(run(sql + condition), plain) << condition;
    EXPECT_NE(inner()->getLookup(), nullptr) << condition;
  }
}

TEST_F(FlatLookupTest, TextEndsWithBytesBelowTheBlank) {
  // NULL-aware comparison drops trailing blanks, so 'BA' and 'BA' + CHR(1)
  // both lie at or above 'BA  ', and 'BA' lies below 'BA' + CHR(1).
  const std::vector<std::vector<std::string>> rows = {{"1", "BA\x01"}, {"2", "BA"}, {"3", "BB"}, {"4", "B"}};
  writeTable("ctl", {{"ID", 'I', 4, 0}, {"NAME", 'C', 6, flatTestIndexed}}, rows);
  writeTable("ctlx", {{"ID", 'I', 4, 0}, {"NAME", 'C', 6, 0}}, rows);
  const char* conditions[] = {
      "NAME >= 'BA  '", "NAME < 'BA' + CHR(1)", "NAME <= 'BA' + CHR(1)", "NAME = 'BA' + CHR(1) + ' '",
      "NAME > 'B' AND NAME <= 'BA' + CHR(2)",
  };
  for (bool xbase : {false, true}) {
    for (const char* condition : conditions) {
      std::vector<std::string> plain = run(std::string("SELECT ID FROM ctlx WHERE ") + condition, xbase);
      EXPECT_TRUE(xbase || !plain.empty()) << condition;
      EXPECT_EQ(run(std::string("SELECT ID FROM ctl WHERE ") + condition, xbase), plain) << condition << xbase;
      // The same ends through a sorted lookup, taken from an outer row.
      EXPECT_EQ(run(std::string("SELECT ctlx.ID FROM one, ctlx WHERE one.X = 1 AND ") + condition, xbase), plain)
          << condition << xbase;
    }
  }
  EXPECT_EQ(run("SELECT a.ID, b.ID FROM ctlx a, ctl b WHERE b.NAME >= a.NAME"),
            run("SELECT a.ID, b.ID FROM ctlx a, ctlx b WHERE b.NAME >= a.NAME OR 1 = 0"));
  EXPECT_EQ(run("SELECT a.ID, b.ID FROM ctlx a, ctlx b WHERE b.NAME <= a.NAME"),
            run("SELECT a.ID, b.ID FROM ctlx a, ctlx b WHERE b.NAME <= a.NAME OR 1 = 0"));
}

TEST_F(FlatLookupTest, WhichTermsGiveALookup) {
  struct Case {
    const char* where;
    int lookup;
  } cases[] = {
      {"b.SAL = a.SAL", 1},
      {"a.ID = 1 AND b.SAL > a.SAL", 1},
      {"b.SAL = a.SAL OR b.ID = 1", 0},     // an OR at the top
      {"NOT b.SAL = a.SAL", 0},
      {"IIF(b.SAL = a.SAL, .T., .F.)", 0},
      {"b.SAL + 0 = a.SAL", 0},             // the column inside an expression
      {"a.SAL *= b.SAL", 0},                // an outer-join comparison holds for the blank row too
      {"b.SAL = b.ID", 0},                  // the table's own columns
      {"a.ID = 1", 0},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(prepare(std::string("SELECT a.ID FROM payx a, payx b WHERE ") + c.where), kvSuccess) << c.where;
    RidFileMgr keyset(statement_, head());
    GetRecRetType result = getRecFound;
    KvErrorKeeper::setErrorList(&statement_->getErrorList());
    EXPECT_EQ(keyset.getRecord(1, &result), kvSuccess) << c.where;
    KvErrorKeeper::giveUpErrorList();
    EXPECT_EQ(inner()->getLookup() != nullptr, c.lookup != 0) << c.where;
    EXPECT_EQ(head()->getFirstTable()->getLookup(), nullptr) << "the first table is read once anyway";
  }
  // Numeric equalities lead the key; one range column follows them.
  ASSERT_EQ(prepare("SELECT a.ID FROM payx a, payx b WHERE b.SAL > a.SAL AND b.ID = a.ID AND b.NAME = a.NAME"),
            kvSuccess);
  RidFileMgr keyset(statement_, head());
  EXPECT_EQ(keysetRows(&keyset), std::vector<std::string>{});
  const FlatLookup* lookup = inner()->getLookup();
  ASSERT_NE(lookup, nullptr);
  ASSERT_EQ(lookup->partCount, 2);
  EXPECT_EQ(lookup->parts[0].column, 0);  // ID
  EXPECT_EQ(lookup->parts[1].column, 1);  // NAME, the first other column
  EXPECT_EQ(lookup->keyLength, 1 + 8 + 1 + 10);
}

TEST_F(FlatLookupTest, TheInnerTableIsReadOnceAnExecution) {
  ASSERT_EQ(prepare("SELECT a.ID, b.ID FROM payx a, payx b WHERE b.SAL = a.SAL"), kvSuccess);
  RidFileMgr keyset(statement_, head());
  EXPECT_EQ(keysetRows(&keyset).size(), 10u);
  const FlatLookup* lookup = inner()->getLookup();
  ASSERT_NE(lookup, nullptr);
  EXPECT_EQ(lookup->builds, 1u);
  EXPECT_EQ(lookup->listRecords, 8u);
  EXPECT_EQ(scans(inner()), 1u);
  // A new execution builds the list afresh, once.
  ASSERT_EQ(keyset.reset(), kvSuccess);
  EXPECT_EQ(keysetRows(&keyset).size(), 10u);
  ASSERT_NE(inner()->getLookup(), nullptr);
  EXPECT_EQ(inner()->getLookup()->builds, 1u);
  EXPECT_EQ(scans(inner()), 2u);

  // Terms on the inner table alone keep records out of the list: DEPT C
  // has three.
  ASSERT_EQ(prepare("SELECT a.ID, b.ID FROM payx a, payx b WHERE b.SAL >= a.SAL AND b.DEPT = 'C' AND a.ID > 0"),
            kvSuccess);
  RidFileMgr filtered(statement_, head());
  EXPECT_EQ(keysetRows(&filtered).size(), 13u);
  ASSERT_NE(inner()->getLookup(), nullptr);
  EXPECT_EQ(inner()->getLookup()->listRecords, 3u);

  // Without a lookup the inner table is scanned for every outer row.
  ASSERT_EQ(prepare("SELECT a.ID, b.ID FROM payx a, payx b WHERE b.SAL = a.SAL OR 1 = 0"), kvSuccess);
  RidFileMgr plain(statement_, head());
  EXPECT_EQ(keysetRows(&plain).size(), 10u);
  EXPECT_EQ(scans(inner()), 8u);
}

TEST_F(FlatLookupTest, ACorrelatedSubqueryReadsItsTableOnceAnExecution) {
  ASSERT_EQ(prepare("SELECT ID FROM payx a WHERE EXISTS (SELECT ID FROM payx b WHERE b.SAL = a.SAL AND b.ID <> a.ID)"),
            kvSuccess);
  RidFileMgr keyset(statement_, head());
  EXPECT_EQ(keysetRows(&keyset), (std::vector<std::string>{"1", "8"}));
  auto* sub = static_cast<FlatSqlDesc*>(head()->getSubqueries().getAt(0));
  FlatFileDesc* table = sub->getFirstTable();
  ASSERT_NE(table->getLookup(), nullptr);
  EXPECT_EQ(table->getLookup()->builds, 1u);
  EXPECT_EQ(scans(table), 1u);
  // The next execution builds it again.
  ASSERT_EQ(keyset.reset(), kvSuccess);
  EXPECT_EQ(keysetRows(&keyset), (std::vector<std::string>{"1", "8"}));
  ASSERT_NE(table->getLookup(), nullptr);
  EXPECT_EQ(table->getLookup()->builds, 1u);
  EXPECT_EQ(scans(table), 2u);

  // Quantified and scalar forms give what the plain scan gives.
  const char* forms[] = {
      "a.SAL = ANY (SELECT SAL FROM payx b WHERE b.DEPT = a.DEPT AND b.ID <> a.ID)",
      "a.SAL >= ALL (SELECT SAL FROM payx b WHERE b.DEPT = a.DEPT)",
      "(SELECT COUNT(*) FROM payx b WHERE b.SAL < a.SAL) = 2",
      "NOT EXISTS (SELECT ID FROM payx b WHERE b.NAME = a.NAME AND b.ID < a.ID)",
  };
  for (const char* form : forms) {
    const std::string where = std::string("SELECT ID FROM payx a WHERE ") + form;
    std::vector<std::string> withLookup = run(where);
    std::string plain = where;
    plain.insert(plain.rfind(')'), " OR 1 = 0");
    EXPECT_EQ(withLookup, run(plain)) << form;
  }
}

TEST(FlatKeyWidthTest, TextKeysTakeTheColumnsFullWidth) {
  // A VARCHAR key as wide as a CHAR one: a row's own length never shifts
  // the key layout.
  struct Case {
    int16_t type;
    uint32_t precision;
    uint16_t keyLength;
  } cases[] = {
      {SQL_CHAR, 10, 10}, {SQL_VARCHAR, 30, 30}, {SQL_BIT, 1, 1}, {SQL_INTEGER, 10, 8}, {SQL_DATE, 10, 8},
  };
  for (const Case& c : cases) {
    FlatTestSharedField field;
    field.setSqlType(c.type);
    field.setPrecision(c.precision);
    FlatKeyField key;
    ASSERT_EQ(key.compileFieldName(&field, 2), kvSuccess);
    EXPECT_EQ(key.keyLength, c.keyLength) << c.type;
    EXPECT_EQ(key.column, 2);
  }
}

TEST_F(FlatLookupTest, AKeyLongerThanTheLimitFails) {
  // The key of a text column takes 1 + its width; the test driver's record
  // identifier 4 bytes. 2047 in all fits, 2048 does not.
  struct Case {
    uint16_t width;
    std::vector<std::string> rows;
  } cases[] = {
      {2042, {}},
      {2043, {"ERROR " + std::to_string(msgEvalStackOverflow)}},
  };
  for (const Case& c : cases) {
    writeTable("wide", {{"W", 'C', c.width, 0}}, {});
    EXPECT_EQ(run("SELECT o.X FROM one o, wide w WHERE w.W = 'x'"), c.rows) << c.width;
  }
}

TEST_F(FlatLookupTest, TheTransactionsChangesAreSeenThroughTheList) {
  autocommit(connection_, false);
  FlatTestStatement* writer = query(connection_, {"payx"});
  FlatFileDesc* reader = table(writer);
  // Removes the row of payx with the id.
  auto remove = [&](const std::string& id) {
    ASSERT_EQ(flatStartScan(reader), kvSuccess);
    for (;;) {
      uint16_t found = 0;
      ASSERT_EQ(flatReadNext(reader, &found), kvSuccess);
      ASSERT_EQ(found, 1) << id;
      if (FlatTestFixture::value(reader, 0) == id) break;
    }
    ASSERT_EQ(flatLogBegin(reader, flatChangeDelete), kvSuccess);
    ASSERT_EQ(flatLogEnd(reader), kvSuccess);
  };
  ASSERT_EQ(insert(reader, 3, "NEW"), kvSuccess);
  remove("2");
  const std::string sql = "SELECT a.ID, b.NAME FROM pay a, payx b WHERE b.ID = a.ID";
  EXPECT_EQ(run(sql), (std::vector<std::string>{"1|BAKER", "3|ADAMS", "3|NEW", "4|BA", "5|", "6|CARR", "7|BAZ",
                                                "8|ZED"}));
  ASSERT_NE(inner()->getLookup(), nullptr);

  // A row deleted after the list was built is passed over too.
  ASSERT_EQ(prepare(sql), kvSuccess);
  RidFileMgr keyset(statement_, head());
  GetRecRetType result = getRecFound;
  KvErrorKeeper::setErrorList(&statement_->getErrorList());
  ASSERT_EQ(keyset.getRecord(1, &result), kvSuccess);
  KvErrorKeeper::giveUpErrorList();
  ASSERT_EQ(result, getRecFound);
  ASSERT_EQ(inner()->getLookup()->builds, 1u);
  use(connection_);
  remove("8");
  std::vector<std::string> rows = keysetRows(&keyset);
  EXPECT_EQ(std::count(rows.begin(), rows.end(), "8|ZED"), 0);
  EXPECT_EQ(std::count(rows.begin(), rows.end(), "3|NEW"), 1);
  use(connection_);
  drop(writer);
}

}  // namespace
