// Tests of the query stage: index descriptions, range ends taken from WHERE
// programs, LIKE prefixes, index choice with results equal to a plain scan,
// and the keyset's join loop (inner and outer joins, re-reads, rows gone,
// CURRENT OF), through the test file driver.
#include "tests/flat/flat_sql_test_support.h"

#include "flat/query/flat_aggregates.h"
#include "flat/query/flat_index_desc.h"
#include "flat/query/flat_keyset.h"
#include "flat/query/flat_optimizer.h"
#include "base/handles/base_message_ids.h"
#include "flat/flat_message_ids.h"

#include <algorithm>

namespace {

class FlatQueryTest : public FlatSqlFixture {
 protected:
  void SetUp() override {
    FlatSqlFixture::SetUp();
    const std::vector<std::vector<std::string>> rows = {
        {"1", "BAKER", "A", "100"}, {"2", "BANKS", "C", "200"}, {"3", "ADAMS", "B", "300"},
        {"4", "BA", "C", "400"},    {"5", "", "A", "500"},      {"6", "CARR", "B", ""},
        {"7", "BAZ", "C", "250"},   {"8", "ZED", "", "100"}};
    // PAY has indexes on SAL and NAME, PAYD a descending one on SAL, PAYX none.
    writeTable("pay", {{"ID", 'I', 4, 0}, {"NAME", 'C', 10, flatTestIndexed}, {"DEPT", 'C', 4, 0},
                       {"SAL", 'D', 8, flatTestIndexed}},
               rows);
    writeTable("payd", {{"ID", 'I', 4, 0}, {"NAME", 'C', 10, 0}, {"DEPT", 'C', 4, 0},
                        {"SAL", 'D', 8, flatTestDescending}},
               rows);
    writeTable("payx", {{"ID", 'I', 4, 0}, {"NAME", 'C', 10, 0}, {"DEPT", 'C', 4, 0}, {"SAL", 'D', 8, 0}}, rows);
  }

  // The rows of a prepared SELECT through its keyset, each as its items'
  // values joined by "|"; a failure as "ERROR n".
  std::vector<std::string> run(const std::string& sql, FlatStatement* statement = nullptr) {
    if (!statement) statement = statement_;
    if (prepare(sql, statement) != kvSuccess) return {"PREPARE " + std::to_string(lastError(statement))};
    return rows(statement);
  }
  std::vector<std::string> rows(FlatStatement* statement) {
    std::vector<std::string> out;
    RidFileMgr keyset(statement, head(statement));
    for (uint32_t n = 1; n < 1000; ++n) {
      GetRecRetType result = getRecFound;
      statement->getErrorList().clearErrors();
      KvErrorKeeper::setErrorList(&statement->getErrorList());
      KvStatus status = keyset.getRecord(n, &result);
      KvErrorKeeper::giveUpErrorList();
      if (status != kvSuccess) {
        out.push_back("ERROR " + std::to_string(lastError(statement)));
        break;
      }
      if (result != getRecFound) break;
      std::string row;
      for (uint16_t i = 0; i < head(statement)->getItemCount(); ++i) {
        std::string value = itemValue(i, statement);
        value.erase(value.find_last_not_of(' ') + 1);
        row += (i ? "|" : "") + value;
      }
      out.push_back(row);
    }
    return out;
  }
  static std::vector<std::string> sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
  }

  // The bound flags canOptimizeQuery finds for column of the first table.
  uint16_t boundFlags(const std::string& where, uint16_t column) {
    EXPECT_EQ(prepare("SELECT ID FROM pay WHERE " + where), kvSuccess) << where << " " << lastText();
    FlatFileDesc* cursor = head()->getFirstTable();
    FlatKeyField key;
    EXPECT_EQ(key.compileFieldName(cursor->getShared()->getColumn(column), column), kvSuccess);
    FlatCodeBuffer low, high;
    uint16_t flags = 0;
    EXPECT_EQ(canOptimizeQuery(statement_, head(), cursor, key.keyCode, &low, &high, &flags), kvSuccess);
    EXPECT_EQ(low.getLength() != 0, (flags & FlatOptDesc::optLow) != 0) << where;
    EXPECT_EQ(high.getLength() != 0, (flags & FlatOptDesc::optHigh) != 0) << where;
    return flags;
  }
};

enum : uint16_t {
  L = FlatOptDesc::optLow,
  H = FlatOptDesc::optHigh,
  LI = FlatOptDesc::optLowInclusive,
  HI = FlatOptDesc::optHighInclusive,
  LC = FlatOptDesc::optLowConstant,
  HC = FlatOptDesc::optHighConstant,
  LK = FlatOptDesc::optLike,
  LR = FlatOptDesc::optLowKeyRight,
};

TEST_F(FlatQueryTest, RangeEndsComeFromTopLevelComparisons) {
  const uint16_t sal = 3, name = 1;
  struct Case {
    const char* where;
    uint16_t column;
    uint16_t flags;
  } cases[] = {
      {"SAL >= 200", sal, L | LI | LC},
      {"SAL > 200", sal, L | LC},
      {"SAL < 200", sal, H | HC},
      {"SAL <= 200", sal, H | HI | HC},
      {"SAL = 100", sal, L | LI | LC | H | HI | HC},
      {"5 > SAL", sal, H | HC},  // mirrored: SAL < 5
      {"5 <= SAL", sal, L | LI | LC | LR},
      {"SAL BETWEEN 200 AND 400", sal, L | LI | LC | H | HI | HC},
      {"DEPT = 'C' AND SAL < 300", sal, H | HC},
      {"SAL > 100 AND SAL <= 400", sal, L | LC | H | HI | HC},
      {"NAME LIKE 'BA%'", name, L | LI | LC | H | HC | LK},
      {"NAME LIKE '%A'", name, 0},
      {"SAL <> 100", sal, 0},
      // Ends never come from under OR, NOT or IIF.
      {"SAL = 100 OR DEPT = 'C'", sal, 0},
      {"NOT SAL > 300", sal, 0},
      {"IIF(SAL > 300, .T., .F.)", sal, 0},
      {"SAL + 1 > 300", sal, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(boundFlags(c.where, c.column), c.flags) << c.where;
}

TEST_F(FlatQueryTest, LikePrefixRanges) {
  struct Case {
    std::string pattern, low, high;
    uint16_t bounded;
  } cases[] = {
      {"BA%", "BA", "BB", 1},
      {"B_Z", "B", "C", 1},
      {"A\\%B%", "A%B", "A%C", 1},    // an escaped wildcard belongs to the prefix
      {"%x", "", "", 0},
      {"A\xFF%", "A\xFF", "B", 1},    // a last 0xFF byte is dropped, the one before raised
      {"\xFF\xFF%", "\xFF\xFF", "", 0},
      {"ABC", "ABC", "ABD", 1},
  };
  for (const Case& c : cases) {
    uint8_t low[64], high[64];
    uint32_t lowLength = 0, highLength = 0;
    uint16_t bounded = 9;
    flatLikeRange(kvU(c.pattern.c_str()), uint32_t(c.pattern.size()), low, &lowLength, high, &highLength, &bounded,
                  sizeof(low));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(low), lowLength), c.low) << c.pattern;
    EXPECT_EQ(bounded, c.bounded) << c.pattern;
    if (bounded) {
      EXPECT_EQ(std::string(reinterpret_cast<char*>(high), highLength), c.high) << c.pattern;
    }
  }
}

TEST_F(FlatQueryTest, IndexDescriptionsAndRowId) {
  ASSERT_EQ(prepare("SELECT ID FROM pay"), kvSuccess);
  FlatSharedDesc* shared = head()->getFirstTable()->getShared();
  FlatIndexDesc* index = shared->getIndexes();
  ASSERT_NE(index, nullptr);
  EXPECT_STREQ(kvC(index->name), "NAME");
  EXPECT_EQ(index->keys[0]->keyLength, 10);  // a text key takes its column's width
  ASSERT_NE(index->next, nullptr);
  EXPECT_EQ(index->next->keys[0]->keyLength, 8);
  FlatIndexDesc* rowId = index->next->next;
  ASSERT_NE(rowId, nullptr);
  EXPECT_TRUE(rowId->isRowId());
  EXPECT_EQ(rowId->next, nullptr);
  unsigned char name[16];
  EXPECT_EQ(rowId->getColumnName(name, sizeof(name), 0, head()->getFirstTable()), kvSuccess);
  EXPECT_STREQ(kvC(name), "ROWID");
  EXPECT_EQ(rowId->getSqlType(0, shared), SQL_DOUBLE);
  EXPECT_EQ(rowId->getPrecision(0, shared), 15);
  EXPECT_STREQ(kvC(rowId->getNativeTypeName(0, shared)), "DOUBLE");
  EXPECT_EQ(rowId->getNulls(shared), 0);
  EXPECT_EQ(index->keyOffset(1), 11u);  // text key plus its terminating zero
}

TEST_F(FlatQueryTest, ResultsThroughAnIndexEqualAPlainScan) {
  const char* conditions[] = {
      "SAL >= 200", "SAL > 200", "SAL BETWEEN 200 AND 400", "SAL = 100 OR DEPT = 'C'", "NAME LIKE 'BA%'",
      "SAL > 300", "SAL < 250", "SAL <= 250", "300 > SAL", "NAME = 'BA'", "NAME = ''", "NAME >= 'BAN'",
      "NAME <= 'BA'", "NAME BETWEEN 'AD' AND 'BAN'", "SAL = 100 AND NAME LIKE 'B%'", "ROWID BETWEEN 2 AND 4",
      "ROWID > 6", "SAL IS NULL", "NAME LIKE 'BA\\%'",
      // A byte below the blank: 'BA' without its blanks sorts before it.
      "NAME < 'BA' + CHR(1)", "NAME <= 'B' + CHR(31) + 'X'",
      // An end longer than the key: cut to the key's length it stays inclusive.
      "NAME <= 'BANKS     Z'", "NAME < 'BANKS     Z'", "NAME LIKE 'BANKS     Z%'",
  };
  for (const char* condition : conditions) {
    std::vector<std::string> plain = sorted(run(std::string("SELECT ID FROM payx WHERE ") + condition));
    EXPECT_EQ(sorted(run(std::string("SELECT ID FROM pay WHERE ") + condition)), plain) << condition;
    EXPECT_EQ(sorted(run(std::string("SELECT ID FROM payd WHERE ") + condition)), plain) << condition;
  }
  // The cases the plain scan answers, as a check of the comparison itself.
  EXPECT_EQ(sorted(run("SELECT ID FROM payx WHERE SAL >= 200")), (std::vector<std::string>{"2", "3", "4", "5", "7"}));
  EXPECT_EQ(sorted(run("SELECT ID FROM payx WHERE NAME LIKE 'BA%'")), (std::vector<std::string>{"1", "2", "4", "7"}));
}

TEST_F(FlatQueryTest, IndexChoiceAndDescendingKeys) {
  ASSERT_EQ(prepare("SELECT ID FROM pay WHERE SAL BETWEEN 200 AND 400"), kvSuccess);
  FlatFileDesc* cursor = head()->getFirstTable();
  ASSERT_EQ(flatOptimizeCursor(statement_, head(), cursor), kvSuccess);
  ASSERT_NE(cursor->getOptDesc(), nullptr);
  EXPECT_STREQ(kvC(cursor->getOptDesc()->index->name), "SAL");
  // ROWID bounded at both ends wins over every index.
  ASSERT_EQ(prepare("SELECT ID FROM pay WHERE SAL > 1 AND ROWID BETWEEN 1 AND 3"), kvSuccess);
  cursor = head()->getFirstTable();
  ASSERT_EQ(flatOptimizeCursor(statement_, head(), cursor), kvSuccess);
  ASSERT_NE(cursor->getOptDesc(), nullptr);
  EXPECT_TRUE(cursor->getOptDesc()->index->isRowId());
  // A descending key takes SAL > 300 as the high end of its order.
  ASSERT_EQ(prepare("SELECT ID FROM payd WHERE SAL > 300"), kvSuccess);
  cursor = head()->getFirstTable();
  ASSERT_EQ(flatOptimizeCursor(statement_, head(), cursor), kvSuccess);
  ASSERT_NE(cursor->getOptDesc(), nullptr);
  EXPECT_EQ(cursor->getOptDesc()->low.count, 0);
  EXPECT_EQ(cursor->getOptDesc()->high.count, 1);
  EXPECT_EQ(run("SELECT ID FROM payd WHERE SAL > 300"), (std::vector<std::string>{"5", "4"}));
  // No WHERE: a plain scan.
  ASSERT_EQ(prepare("SELECT ID FROM pay"), kvSuccess);
  cursor = head()->getFirstTable();
  ASSERT_EQ(flatOptimizeCursor(statement_, head(), cursor), kvSuccess);
  EXPECT_EQ(cursor->getOptDesc(), nullptr);
}

TEST_F(FlatQueryTest, IndexDeliversOrderBy) {
  struct Case {
    const char* sql;
    int delivers;
  } cases[] = {
      {"SELECT ID FROM pay ORDER BY SAL", 1},
      {"SELECT ID FROM pay ORDER BY SAL DESC", 0},
      {"SELECT ID FROM pay ORDER BY SAL, ID", 0},
      {"SELECT ID FROM pay ORDER BY ID", 0},
      // A descending index would put the NULL last, the sort puts it first.
      {"SELECT ID FROM payd ORDER BY SAL DESC", 0},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(prepare(c.sql), kvSuccess) << c.sql << lastText();
    FlatFileDesc* cursor = head()->getFirstTable();
    int delivers = 0;
    for (FlatIndexDesc* index = cursor->getShared()->getIndexes(); index; index = index->next)
      delivers |= flatIndexDeliversOrder(statement_, head(), index);
    EXPECT_EQ(delivers, c.delivers) << c.sql;
  }
  // Without a WHERE the ordering index becomes the plan, so rows come sorted.
  EXPECT_EQ(run("SELECT ID FROM pay ORDER BY SAL"),
            (std::vector<std::string>{"6", "1", "8", "2", "7", "3", "4", "5"}));
}

TEST_F(FlatQueryTest, JoinLoopCombinesTablesInFromOrder) {
  EXPECT_EQ(run("SELECT emp.ID, dept.TITLE FROM emp, dept WHERE emp.DEPT = dept.DEPT"),
            (std::vector<std::string>{"1|Accounting", "2|Sales"}));
  EXPECT_EQ(run("SELECT emp.ID, dept.ID FROM emp, dept").size(), 6u);
  EXPECT_EQ(run("SELECT a.ID, b.ID FROM pay a, pay b WHERE a.SAL = b.SAL AND a.ID < b.ID"),
            (std::vector<std::string>{"1|8"}));
  // The inner table through its index for each outer row.
  EXPECT_EQ(sorted(run("SELECT a.ID, b.ID FROM payx a, pay b WHERE b.SAL = a.SAL AND a.ID <> b.ID")),
            (std::vector<std::string>{"1|8", "8|1"}));
  // Three tables.
  EXPECT_EQ(run("SELECT e.ID, d.ID, o.X FROM emp e, dept d, one o WHERE e.DEPT = d.DEPT AND o.X = 1"),
            (std::vector<std::string>{"1|10|1", "2|20|1"}));
}

TEST_F(FlatQueryTest, OuterJoinGivesTheBlankRow) {
  writeTable("dept2", {{"ID", 'I', 4, 0}, {"DEPT", 'C', 4, 0}, {"TITLE", 'C', 20, 0}},
             {{"10", "ACCT", "Accounting"}});
  EXPECT_EQ(run("SELECT emp.ID, dept2.TITLE FROM emp, dept2 WHERE emp.DEPT *= dept2.DEPT"),
            (std::vector<std::string>{"1|Accounting", "2|NULL", "3|NULL"}));
  // Rows of the preserved side that match keep their match only.
  EXPECT_EQ(run("SELECT emp.ID, dept.TITLE FROM emp, dept WHERE emp.DEPT *= dept.DEPT"),
            (std::vector<std::string>{"1|Accounting", "2|Sales", "3|NULL"}));
  // A row whose match fails the rest of the condition gets no blank row in
  // its place: only rows without a match are kept by IS NULL.
  EXPECT_EQ(run("SELECT emp.ID, dept.TITLE FROM emp, dept WHERE emp.DEPT *= dept.DEPT AND dept.ID IS NULL"),
            (std::vector<std::string>{"3|NULL"}));
  EXPECT_EQ(run("SELECT emp.ID, dept2.TITLE FROM emp, dept2 WHERE emp.DEPT *= dept2.DEPT AND dept2.ID IS NULL"),
            (std::vector<std::string>{"2|NULL", "3|NULL"}));
  EXPECT_EQ(run("SELECT emp.ID, dept.ID FROM emp, dept WHERE emp.DEPT *= dept.DEPT AND emp.ID <> 1 "
                "AND dept.TITLE <> 'Sales'"),
            (std::vector<std::string>{}));
}

TEST_F(FlatQueryTest, KeysetRereadsAndEnds) {
  ASSERT_EQ(prepare("SELECT ID, NAME FROM emp WHERE ID <= 2"), kvSuccess);
  RidFileMgr keyset(statement_, head());
  GetRecRetType result = getRecFound;
  ASSERT_EQ(keyset.getRecord(3, &result), kvSuccess);
  EXPECT_EQ(result, getRecPastEnd);
  EXPECT_EQ(keyset.getRows(), 2u);
  EXPECT_TRUE(keyset.isComplete());
  ASSERT_EQ(keyset.getRecord(1, &result), kvSuccess);
  EXPECT_EQ(result, getRecFound);
  EXPECT_EQ(itemValue(1), "SMITH     ");
  ASSERT_EQ(keyset.getRecord(2, &result), kvSuccess);
  EXPECT_EQ(itemValue(1), "JONES     ");
  ASSERT_EQ(keyset.getRecord(0, &result), kvSuccess);
  EXPECT_EQ(result, getRecPastEnd);

  // A record deleted by another program after the keyset was built reads
  // back as gone.
  {
    std::fstream file(tablePath("emp"), std::ios::in | std::ios::out | std::ios::binary);
    FlatTestLayout layout;
    std::vector<unsigned char> header(4096);
    file.read(reinterpret_cast<char*>(header.data()), std::streamsize(header.size()));
    std::string reason;
    ASSERT_TRUE(flatTestParseHeader(header.data(), uint32_t(file.gcount()), &layout, &reason)) << reason;
    file.clear();
    file.seekp(std::streamoff(layout.headerBytes));
    file.put('*');
  }
  ASSERT_EQ(keyset.getRecord(1, &result), kvSuccess);
  EXPECT_EQ(result, getRecGone);
  ASSERT_EQ(keyset.getRecord(2, &result), kvSuccess);
  EXPECT_EQ(result, getRecFound);
}

TEST_F(FlatQueryTest, CurrentOfNamesAnotherStatementsRow) {
  EXPECT_EQ(run("SELECT ID FROM emp WHERE CURRENT OF nosuch"),
            (std::vector<std::string>{"ERROR " + std::to_string(msgCursorNotFound)}));
  FlatTestStatement* cursor = newStatement();
  ASSERT_EQ(cursor->SQLSetCursorName(reinterpret_cast<SQLCHAR*>(const_cast<char*>("C1")), SQL_NTS), SQL_SUCCESS);
  ASSERT_EQ(prepare("SELECT ID FROM emp", cursor), kvSuccess);
  // Not on a row yet.
  EXPECT_EQ(run("SELECT ID FROM emp WHERE CURRENT OF C1"),
            (std::vector<std::string>{"ERROR " + std::to_string(msgCurrentOfNotOnRow)}));
  RidFileMgr keyset(cursor, head(cursor));
  GetRecRetType result = getRecFound;
  ASSERT_EQ(keyset.getRecord(2, &result), kvSuccess);
  EXPECT_EQ(run("SELECT ID, NAME FROM emp WHERE CURRENT OF C1"), (std::vector<std::string>{"2|JONES"}));
}

}  // namespace

namespace {

class FlatAggregateTest : public FlatQueryTest {
 protected:
  // The select items' values after the aggregates are computed.
  std::string aggregates(const std::string& sql, uint16_t* oneRow) {
    if (prepare(sql) != kvSuccess) return "PREPARE " + std::to_string(lastError());
    RidFileMgr keyset(statement_, head());
    KvErrorKeeper::setErrorList(&statement_->getErrorList());
    KvStatus status = flatComputeAggregates(statement_, head(), &keyset, oneRow);
    KvErrorKeeper::giveUpErrorList();
    if (status != kvSuccess) return "ERROR " + std::to_string(lastError());
    std::string row;
    for (uint16_t i = 0; i < head()->getItemCount(); ++i) {
      std::string value = itemValue(i);
      value.erase(value.find_last_not_of(' ') + 1);
      row += (i ? "|" : "") + value;
    }
    return row;
  }
};

TEST_F(FlatAggregateTest, AggregatesSkipNullsButCountAllDoesNot) {
  struct Case {
    const char* sql;
    const char* values;
  } cases[] = {
      // PAY: SAL 100 200 300 400 500 NULL 250 100; NAME has one blank value.
      {"SELECT COUNT(*), COUNT(SAL), SUM(SAL), MIN(SAL), MAX(SAL) FROM pay", "8|7|1850|100|500"},
      {"SELECT AVG(SAL) FROM pay WHERE SAL <= 200", "133.333333333333"},
      // A blank text is a value unless the connection reads blanks as NULL.
      {"SELECT MIN(NAME), MAX(NAME), COUNT(NAME) FROM pay", "|ZED|8"},
      {"SELECT MIN(NAME), COUNT(NAME) FROM pay WHERE NAME > 'A'", "ADAMS|7"},
      {"SELECT COUNT(*), SUM(SAL), AVG(SAL), MIN(NAME) FROM pay WHERE 1 = 0", "0|NULL|NULL|NULL"},
      {"SELECT COUNT(*), AVG(SAL) FROM pay WHERE SAL IS NULL", "1|NULL"},
      {"SELECT SUM(SAL) + 1 FROM pay WHERE DEPT = 'C'", "851"},
  };
  for (const Case& c : cases) {
    uint16_t oneRow = 0;
    EXPECT_EQ(aggregates(c.sql, &oneRow), c.values) << c.sql;
    EXPECT_EQ(oneRow, 1) << c.sql;
  }
}

TEST_F(FlatAggregateTest, ColumnsBesideAggregatesKeepEveryRow) {
  uint16_t oneRow = 9;
  EXPECT_EQ(aggregates("SELECT COUNT(*), NAME FROM emp", &oneRow).substr(0, 2), "3|");
  EXPECT_EQ(oneRow, 0);
  EXPECT_EQ(run("SELECT NAME FROM emp").size(), 3u);
}

}  // namespace

namespace {

TEST_F(FlatQueryTest, SubqueriesInWhere) {
  struct Case {
    const char* where;
    std::vector<std::string> ids;
  } cases[] = {
      {"EXISTS (SELECT X FROM one)", {"1", "2", "3"}},
      {"EXISTS (SELECT X FROM one WHERE X = 2)", {}},
      {"DEPT IN (SELECT DEPT FROM dept)", {"1", "2"}},
      {"DEPT IN (SELECT DEPT FROM dept WHERE 1 = 0)", {}},
      {"ID = (SELECT X FROM one)", {"1"}},
      {"ID = (SELECT X FROM one WHERE X = 5)", {}},  // no row: NULL
      {"ID > ALL (SELECT X FROM one WHERE X = 5)", {"1", "2", "3"}},  // ALL over no row
      {"ID > ANY (SELECT X FROM one WHERE X = 5)", {}},
      {"ID = ALL (SELECT X FROM one)", {"1"}},
      {"ID <> ALL (SELECT X FROM one)", {"2", "3"}},
      {"ID >= ALL (SELECT ID FROM dept)", {}},
      {"ID * 10 <= ANY (SELECT ID FROM dept)", {"1", "2"}},
      {"ID * 10 = ALL (SELECT ID FROM dept)", {}},
      // Correlated: the subquery sees the enclosing row.
      {"EXISTS (SELECT ID FROM dept WHERE dept.DEPT = emp.DEPT)", {"1", "2"}},
      {"(SELECT COUNT(*) FROM dept WHERE dept.DEPT = emp.DEPT) = 0", {"3"}},
  };
  for (const Case& c : cases) EXPECT_EQ(run(std::string("SELECT ID FROM emp WHERE ") + c.where), c.ids) << c.where;
  // x = ALL over two equal rows holds.
  writeTable("twice", {{"X", 'I', 4, 0}}, {{"2"}, {"2"}});
  EXPECT_EQ(run("SELECT ID FROM emp WHERE ID = ALL (SELECT X FROM twice)"), (std::vector<std::string>{"2"}));
  // NULL rows make no ANY true.
  writeTable("withnull", {{"X", 'I', 4, 0}}, {{""}, {"1"}});
  EXPECT_EQ(run("SELECT ID FROM emp WHERE ID > ANY (SELECT X FROM withnull)"), (std::vector<std::string>{"2", "3"}));
  EXPECT_EQ(run("SELECT ID FROM emp WHERE ID <> ANY (SELECT X FROM withnull)"), (std::vector<std::string>{"2", "3"}));
  // A scalar subquery of two rows fails with 3996.
  EXPECT_EQ(run("SELECT ID FROM emp WHERE ID = (SELECT X FROM twice)"),
            (std::vector<std::string>{"ERROR " + std::to_string(msgSubqueryRows)}));
}

}  // namespace
