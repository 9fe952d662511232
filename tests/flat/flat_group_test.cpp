// Tests of grouping through the record sort: GROUP BY with aggregates,
// COUNT(DISTINCT x) beside SUM(y), several DISTINCT aggregates, HAVING,
// ORDER BY and DISTINCT over grouped rows, aggregates over no rows, more
// groups than a 16-bit counter holds, and a grouping larger than its
// memory, through the test file driver.
#include "tests/flat/flat_sql_test_support.h"

#include "flat/flat_message_ids.h"
#include "flat/query/flat_aggregates.h"
#include "flat/query/flat_group.h"
#include "flat/query/flat_keyset.h"
#include "flat/query/flat_sort.h"
#include "flat/query/flat_union.h"
#include "util/os/bos.h"

#include <atomic>

#include <string>
#include <vector>

namespace {

class FlatGroupTest : public FlatSqlFixture {
 protected:
  void SetUp() override {
    FlatSqlFixture::SetUp();
    // REGION '' is a blank text, a value of its own; QTY and PRICE have NULLs.
    const std::vector<std::vector<std::string>> rows = {{"1", "N", "apple", "1", "1.5"},
                {"2", "N", "apple", "2", "1.5"},
                {"3", "N", "pear", "1", "2"},
                {"4", "S", "apple", "3", "1.5"},
                {"5", "S", "plum", "", "3"},
                {"6", "S", "plum", "2", "3"},
                {"7", "", "kiwi", "5", ""},
                {"8", "W", "fig", "", ""}};
    writeTable("sales",
               {{"ID", 'I', 4, 0}, {"REGION", 'C', 4, 0}, {"ITEM", 'C', 6, 0}, {"QTY", 'I', 4, 0},
                {"PRICE", 'D', 8, 0}},
               rows);
    // The same rows with indexes on the columns the queries group, filter
    // and order by (QTY descending).
    writeTable("salesx",
               {{"ID", 'I', 4, flatTestIndexed}, {"REGION", 'C', 4, flatTestIndexed}, {"ITEM", 'C', 6, flatTestIndexed},
                {"QTY", 'I', 4, flatTestDescending}, {"PRICE", 'D', 8, 0}},
               rows);
  }

  // The rows of sql as the fetch sees them: aggregates and groups first,
  // then ORDER BY and DISTINCT; each row its items' values joined by "|".
  std::vector<std::string> run(const std::string& sql, uint16_t blockLimit = 0) {
    if (prepare(sql) != kvSuccess) return {"PREPARE " + std::to_string(lastError())};
    RidFileMgr keyset(statement_, head());
    statement_->getErrorList().clearErrors();
    KvErrorKeeper::setErrorList(&statement_->getErrorList());
    std::vector<std::string> out;
    uint16_t oneRow = 0;
    KvStatus status = flatComputeAggregates(statement_, head(), &keyset, &oneRow, blockLimit);
    if (status == kvSuccess) status = flatOrderKeyset(statement_, head(), &keyset);
    for (uint32_t n = 1; status == kvSuccess; ++n) {
      GetRecRetType result = getRecFound;
      status = keyset.getRecord(n, &result);
      if (status != kvSuccess || result == getRecPastEnd) break;
      std::string row;
      for (uint16_t i = 0; i < head()->getItemCount(); ++i) {
        std::string value = itemValue(i);
        value.erase(value.find_last_not_of(' ') + 1);
        row += (i ? "|" : "") + value;
      }
      out.push_back(row);
    }
    KvErrorKeeper::giveUpErrorList();
    if (status != kvSuccess) out.push_back("ERROR " + std::to_string(lastError()));
    return out;
  }
  typedef std::vector<std::string> Rows;
};

TEST_F(FlatGroupTest, GroupByWithAggregates) {
  struct Case {
    const char* sql;
    std::vector<std::string> rows;
  } cases[] = {
      // Groups come out in ascending order of their keys.
      {"SELECT REGION, COUNT(*), COUNT(QTY), SUM(QTY), MIN(ITEM), MAX(PRICE), AVG(PRICE) FROM sales GROUP BY REGION",
       {"|1|1|5|kiwi|NULL|NULL", "N|3|3|4|apple|2|1.66666666666667", "S|3|2|5|apple|3|2.5",
        "W|1|0|NULL|fig|NULL|NULL"}},
      {"SELECT REGION, COUNT(DISTINCT ITEM), SUM(QTY) FROM sales GROUP BY REGION",
       {"|1|5", "N|2|4", "S|2|5", "W|1|NULL"}},
      // Several DISTINCT aggregates, each in its own pass, beside plain ones.
      {"SELECT REGION, COUNT(DISTINCT ITEM), COUNT(*), SUM(DISTINCT PRICE), AVG(DISTINCT QTY), COUNT(DISTINCT QTY) "
       "FROM sales GROUP BY REGION",
       {"|1|1|NULL|5|1", "N|2|3|3.5|1.5|2", "S|2|3|4.5|2.5|2", "W|1|1|NULL|NULL|0"}},
      {"SELECT REGION, ITEM, SUM(QTY) FROM sales WHERE REGION <> 'W' GROUP BY REGION, ITEM",
       {"|kiwi|5", "N|apple|3", "N|pear|1", "S|apple|3", "S|plum|2"}},
      {"SELECT ITEM, COUNT(*) FROM sales GROUP BY ITEM", {"apple|3", "fig|1", "kiwi|1", "pear|1", "plum|2"}},
      {"SELECT QTY * 2, COUNT(*) FROM sales GROUP BY QTY * 2", {"NULL|2", "2|2", "4|2", "6|1", "10|1"}},
      {"SELECT ITEM FROM sales GROUP BY ITEM", {"apple", "fig", "kiwi", "pear", "plum"}},
      {"SELECT REGION, COUNT(*) FROM sales WHERE 1 = 0 GROUP BY REGION", {}},
      // HAVING on aggregates and on the group's columns.
      {"SELECT REGION, COUNT(*) FROM sales GROUP BY REGION HAVING COUNT(*) > 1", {"N|3", "S|3"}},
      {"SELECT REGION, SUM(QTY) FROM sales GROUP BY REGION HAVING REGION <> 'N' AND SUM(QTY) >= 5",
       {"|5", "S|5"}},
      {"SELECT ITEM FROM sales GROUP BY ITEM HAVING COUNT(DISTINCT REGION) = 2", {"apple"}},
      // ORDER BY and DISTINCT over the grouped rows.
      {"SELECT REGION, COUNT(*) FROM sales GROUP BY REGION ORDER BY 2 DESC, 1 DESC",
       {"S|3", "N|3", "W|1", "|1"}},
      // NULL groups first, and sorts first in both directions.
      {"SELECT QTY, COUNT(*) FROM sales GROUP BY QTY", {"NULL|2", "1|2", "2|2", "3|1", "5|1"}},
      {"SELECT QTY, COUNT(*) FROM sales GROUP BY QTY ORDER BY 1 DESC", {"NULL|2", "5|1", "3|1", "2|2", "1|2"}},
      {"SELECT ITEM, SUM(QTY) FROM sales GROUP BY ITEM HAVING COUNT(*) < 3 ORDER BY SUM(QTY), ITEM",
       {"fig|NULL", "pear|1", "plum|2", "kiwi|5"}},
      {"SELECT DISTINCT COUNT(*) FROM sales GROUP BY REGION", {"1", "3"}},
      // A join grouped by a column of its second table.
      {"SELECT b.ITEM, COUNT(*) FROM sales a, sales b WHERE a.ITEM = b.ITEM AND a.ID < b.ID GROUP BY b.ITEM",
       {"apple|3", "plum|1"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run(c.sql), c.rows) << c.sql << " " << lastText();
    // The same through the indexes.
    std::string indexed = c.sql;
    for (size_t at = 0; (at = indexed.find("sales", at)) != std::string::npos; at += 6) indexed.insert(at + 5, "x");
    EXPECT_EQ(run(indexed), c.rows) << indexed << " " << lastText();
  }
}

TEST_F(FlatGroupTest, AggregatesWithoutGroupByAreOneRow) {
  struct Case {
    const char* sql;
    std::vector<std::string> rows;
  } cases[] = {
      {"SELECT COUNT(DISTINCT ITEM), SUM(QTY), COUNT(*) FROM sales", {"5|14|8"}},
      {"SELECT COUNT(DISTINCT REGION), COUNT(DISTINCT PRICE), AVG(DISTINCT QTY) FROM sales", {"4|3|2.75"}},
      // Over no rows: COUNT 0, every other aggregate NULL, an average too.
      {"SELECT COUNT(*), SUM(QTY), AVG(PRICE), MIN(ITEM) FROM sales WHERE 1 = 0", {"0|NULL|NULL|NULL"}},
      {"SELECT COUNT(DISTINCT ITEM), AVG(DISTINCT PRICE), AVG(QTY), COUNT(*) FROM sales WHERE 1 = 0",
       {"0|NULL|NULL|0"}},
      {"SELECT AVG(PRICE) FROM sales WHERE PRICE IS NULL", {"NULL"}},
      {"SELECT COUNT(*) FROM sales WHERE 1 = 0 ORDER BY 1", {"0"}},
  };
  for (const Case& c : cases) EXPECT_EQ(run(c.sql), c.rows) << c.sql << " " << lastText();
  // Columns beside a DISTINCT aggregate: every row, each with the total.
  EXPECT_EQ(run("SELECT ID, COUNT(DISTINCT REGION) FROM sales WHERE ID <= 3"), (Rows{"1|1", "2|1", "3|1"}));
}

TEST_F(FlatGroupTest, GroupsInSubqueries) {
  // Two rows of one group are one row of the subquery: no 3996.
  EXPECT_EQ(run("SELECT ID FROM sales WHERE QTY = (SELECT SUM(QTY) FROM sales WHERE REGION = 'S' GROUP BY REGION)"),
            (Rows{"7"}));
  EXPECT_EQ(run("SELECT ID FROM sales WHERE ITEM IN (SELECT ITEM FROM sales GROUP BY ITEM HAVING COUNT(*) > 2)"),
            (Rows{"1", "2", "4"}));
  // A subquery of aggregates over no row still has its one row.
  EXPECT_EQ(run("SELECT ID FROM sales WHERE ID = 1 AND EXISTS (SELECT COUNT(*) FROM sales WHERE 1 = 0)"),
            (Rows{"1"}));
  EXPECT_EQ(run("SELECT ID FROM sales WHERE EXISTS (SELECT REGION FROM sales GROUP BY REGION HAVING COUNT(*) > 3)"),
            (Rows{}));
}

TEST_F(FlatGroupTest, MoreGroupsThanASixteenBitCounter) {
  // 70,000 groups of one or two rows: rows past 65,535 must not wrap onto
  // the first ones.
  const int groups = 70000;
  std::vector<std::vector<std::string>> rows;
  for (int i = 0; i < groups; ++i) rows.push_back({std::to_string(groups - i), std::to_string(i % 7)});
  for (int i = 0; i < 5; ++i) rows.push_back({std::to_string(65530 + i), "100"});
  writeTable("many", {{"G", 'I', 4, 0}, {"V", 'I', 4, 0}}, rows);
  const Rows out = run("SELECT G, COUNT(*), SUM(V) FROM many GROUP BY G");
  ASSERT_EQ(out.size(), size_t(groups)) << (out.empty() ? "" : out.back());
  EXPECT_EQ(out[0], "1|1|6");  // G 1 is row 69999: V 69999 % 7
  EXPECT_EQ(out[65529], "65530|2|" + std::to_string((groups - 65530) % 7 + 100));
  EXPECT_EQ(out[65535], "65536|1|" + std::to_string((groups - 65536) % 7));
  EXPECT_EQ(out[65536], "65537|1|" + std::to_string((groups - 65537) % 7));
  EXPECT_EQ(out[groups - 1], "70000|1|0");
}

TEST_F(FlatGroupTest, AGroupingLargerThanItsMemorySpills) {
  // 4000 rows of 300-byte records against two 64 KB blocks: several runs,
  // re-sorted once a DISTINCT aggregate.
  std::vector<std::vector<std::string>> rows;
  for (int i = 0; i < 4000; ++i) {
    const int key = (i * 7919) % 4000;
    rows.push_back({std::to_string(key % 37), std::to_string(key % 11), std::string(1, char('a' + key % 5)) +
                                                                          std::string(200, 'x')});
  }
  writeTable("wide", {{"G", 'I', 4, 0}, {"V", 'I', 4, 0}, {"T", 'C', 250, 0}}, rows);
  const std::string sql = "SELECT G, COUNT(*), COUNT(DISTINCT V), COUNT(DISTINCT T), SUM(V), MAX(T) FROM wide GROUP BY G";
  const Rows inMemory = run(sql);
  ASSERT_EQ(inMemory.size(), 37u) << (inMemory.empty() ? "" : inMemory.back());
  EXPECT_EQ(run(sql, 2), inMemory);
  // G 0: keys 0, 37, 74, ... below 4000: 109 rows; V takes all 11 values, T all 5.
  EXPECT_EQ(inMemory[0].substr(0, 11), "0|109|11|5|");
}

// The abort poll answers yes from its abortAfter-th question on.
std::atomic<int> abortQuestions{0};
std::atomic<int> abortAfter{0};
int abortPoll() { return ++abortQuestions >= abortAfter; }

TEST_F(FlatGroupTest, LongOperationsStopWhenAborted) {
  std::vector<std::vector<std::string>> rows;
  for (int i = 0; i < 100; ++i) rows.push_back({std::to_string(i % 10), std::to_string(i)});
  writeTable("hundred", {{"G", 'I', 4, 0}, {"V", 'I', 4, 0}}, rows);
  const char* statements[] = {
      "SELECT G, SUM(V) FROM hundred GROUP BY G",
      "SELECT COUNT(DISTINCT V) FROM hundred",
      "SELECT V FROM hundred ORDER BY G DESC",
      "SELECT V FROM hundred UNION SELECT G FROM hundred",
  };
  bosSetAbortPoll(abortPoll);
  for (const char* sql : statements) {
    for (int after : {1, 3}) {
      abortQuestions = 0;
      abortAfter = after;
      Rows out;
      if (std::string(sql).find("UNION") == std::string::npos) {
        out = run(sql);
      } else {
        ASSERT_EQ(prepare(sql), kvSuccess);
        FlatUnionResult result(statement_, head());
        statement_->getErrorList().clearErrors();
        KvErrorKeeper::setErrorList(&statement_->getErrorList());
        if (result.build(nullptr) != kvSuccess) out.push_back("ERROR " + std::to_string(lastError()));
        KvErrorKeeper::giveUpErrorList();
      }
      ASSERT_FALSE(out.empty()) << sql;
      EXPECT_EQ(out.back(), "ERROR " + std::to_string(msgOperationAborted)) << sql << " " << after;
      EXPECT_EQ(abortQuestions, after) << sql;
    }
  }
  bosSetAbortPoll(nullptr);
  // Without a poll nothing stops.
  EXPECT_EQ(run("SELECT COUNT(DISTINCT V) FROM hundred"), (Rows{"100"}));
}

TEST_F(FlatGroupTest, AFetchThatFailsEndsTheResult) {
  // The failure is reported once; the fetches after it find the end
  // rather than the same failure row after row.
  struct Case {
    const char* sql;
    uint16_t error;
    int abortAt;  // the abort poll's question that answers yes; 0: no poll
  } cases[] = {
      {"SELECT ID FROM sales WHERE ID = (SELECT ID FROM sales)", msgSubqueryRows, 0},
      {"SELECT ID FROM sales WHERE ID = 3 OR ID > 0 AND ID = (SELECT ID FROM sales WHERE QTY > 1)",
       msgSubqueryRows, 0},
      {"SELECT G, COUNT(*) FROM hundred GROUP BY G", msgOperationAborted, 2},
  };
  std::vector<std::vector<std::string>> rows;
  for (int i = 0; i < 100; ++i) rows.push_back({std::to_string(i % 10), std::to_string(i)});
  writeTable("hundred", {{"G", 'I', 4, 0}, {"V", 'I', 4, 0}}, rows);
  for (const Case& c : cases) {
    ASSERT_EQ(prepare(c.sql), kvSuccess) << c.sql;
    KvErrorKeeper::setErrorList(&statement_->getErrorList());
    if (c.abortAt) {
      abortQuestions = 0;
      abortAfter = c.abortAt;
      bosSetAbortPoll(abortPoll);
    }
    EXPECT_EQ(statement_->executePreparedStmt(), kvSuccess);
    int failures = 0, found = 0;
    uint16_t end = 0;
    for (int n = 0; n < 20 && !end; ++n) {
      statement_->getErrorList().clearErrors();
      if (statement_->fetchRow(&end) != kvSuccess) {
        ++failures;
        EXPECT_EQ(lastError(), c.error) << c.sql;
      } else if (!end) {
        ++found;
      }
    }
    bosSetAbortPoll(nullptr);
    KvErrorKeeper::giveUpErrorList();
    EXPECT_EQ(failures, 1) << c.sql;
    EXPECT_EQ(end, 1) << c.sql;
    EXPECT_EQ(found, 0) << c.sql;
  }
}

}  // namespace
