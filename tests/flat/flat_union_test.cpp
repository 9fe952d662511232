// Tests of UNION results: duplicates dropped across the chain, UNION ALL
// kept in chain order, ORDER BY by positions, grouped and aggregated
// queries in the chain, and the pairs read back query by query.
#include "tests/flat/flat_sql_test_support.h"

#include "flat/flat_message_ids.h"
#include "flat/query/flat_keyset.h"
#include "flat/query/flat_union.h"

#include <string>
#include <vector>

namespace {

typedef std::vector<std::string> Rows;

class FlatUnionTest : public FlatSqlFixture {
 protected:
  void SetUp() override {
    FlatSqlFixture::SetUp();
    writeTable("sales",
               {{"ID", 'I', 4, 0}, {"REGION", 'C', 4, 0}, {"ITEM", 'C', 6, 0}, {"QTY", 'I', 4, 0}},
               {{"1", "N", "apple", "1"},
                {"2", "N", "apple", "2"},
                {"3", "N", "pear", "1"},
                {"4", "S", "apple", "3"},
                {"5", "S", "plum", ""},
                {"6", "S", "plum", "2"},
                {"7", "", "kiwi", "5"},
                {"8", "W", "fig", ""}});
  }

  // The rows of a UNION statement, each its current query's items joined
  // by "|"; a failure as "ERROR n".
  Rows run(const std::string& sql, uint16_t blockLimit = 0) {
    if (prepare(sql) != kvSuccess) return {"PREPARE " + std::to_string(lastError())};
    FlatUnionResult result(statement_, head());
    statement_->getErrorList().clearErrors();
    KvErrorKeeper::setErrorList(&statement_->getErrorList());
    Rows out;
    KvStatus status = result.build(statement_->getOrderByText(), blockLimit);
    for (uint32_t n = 1; status == kvSuccess; ++n) {
      GetRecRetType found = getRecFound;
      status = result.getRecord(n, &found);
      if (status != kvSuccess || found == getRecPastEnd) break;
      FlatSqlDesc* query = result.getCurrentQuery();
      std::string row;
      for (uint16_t i = 0; i < query->getItemCount(); ++i) {
        std::string value = itemOf(query, i);
        value.erase(value.find_last_not_of(' ') + 1);
        row += (i ? "|" : "") + value;
      }
      out.push_back(row);
    }
    KvErrorKeeper::giveUpErrorList();
    if (status != kvSuccess) out.push_back("ERROR " + std::to_string(lastError()));
    return out;
  }
  // The value of item i of one query of the chain.
  std::string itemOf(FlatSqlDesc* query, uint16_t i) {
    FlatSelectField* field = query->getItem(i);
    uint8_t column[8] = {opColumn, 0, 0, 0, 0, 0, 0, opEnd};
    const uint8_t* program = field->code;
    if (field->isPlainColumn()) {
      kvPutU32LE(column + 1, field->table->getTableHandle());
      kvPutU16LE(column + 5, field->column);
      program = column;
    }
    uint8_t out[4096];
    int16_t length = 0;
    uint8_t kind = 0;
    if (evalExpr(statement_, query, nullptr, program, out, sizeof out, 0, &length, &kind) != kvSuccess)
      return "ERROR " + std::to_string(lastError());
    if (length == 0 && kind != flatEvalText && kind != flatEvalFunctionText) return "NULL";
    return format(out, length, kind);
  }
};

TEST_F(FlatUnionTest, UnionDropsDuplicatesAcrossTheChain) {
  struct Case {
    const char* sql;
    Rows rows;
  } cases[] = {
      // Ascending order of the select items; the head's column takes the
      // widest text of the chain.
      {"SELECT REGION FROM sales UNION SELECT ITEM FROM sales",
       {"", "N", "S", "W", "apple", "fig", "kiwi", "pear", "plum"}},
      {"SELECT REGION, ITEM FROM sales UNION SELECT REGION, ITEM FROM sales WHERE ID > 4",
       {"|kiwi", "N|apple", "N|pear", "S|apple", "S|plum", "W|fig"}},
      // UNION binds from the left: a UNION after UNION ALL links drops
      // duplicates among all of them, a UNION ALL after a UNION keeps its
      // rows.
      {"SELECT ID FROM sales WHERE ID < 3 UNION ALL SELECT ID FROM sales WHERE ID < 2 UNION SELECT X FROM one",
       {"1", "2"}},
      {"SELECT ID FROM sales WHERE ID < 3 UNION SELECT ID FROM sales WHERE ID < 2 UNION ALL SELECT X FROM one "
       "ORDER BY 1",
       {"1", "1", "2"}},
      {"SELECT QTY FROM sales UNION SELECT QTY FROM sales UNION ALL SELECT QTY FROM sales WHERE QTY > 2",
       {"NULL", "1", "2", "3", "3", "5", "5"}},
      {"SELECT QTY FROM sales UNION SELECT ID FROM sales WHERE ID > 4 ORDER BY 1 DESC",
       {"NULL", "8", "7", "6", "5", "3", "2", "1"}},
      {"SELECT ITEM, QTY FROM sales WHERE ID < 4 UNION SELECT ITEM, ID FROM sales WHERE ID < 3 ORDER BY 2, 1 DESC",
       {"pear|1", "apple|1", "apple|2"}},
      // Grouped and aggregated queries in the chain.
      {"SELECT REGION, COUNT(*) FROM sales GROUP BY REGION UNION SELECT ITEM, COUNT(*) FROM sales GROUP BY ITEM",
       {"|1", "N|3", "S|3", "W|1", "apple|3", "fig|1", "kiwi|1", "pear|1", "plum|2"}},
      {"SELECT COUNT(*) FROM sales UNION SELECT SUM(QTY) FROM sales UNION SELECT X + 7 FROM one", {"8", "14"}},
      {"SELECT COUNT(*) FROM sales WHERE 1 = 0 UNION SELECT MAX(QTY) FROM sales WHERE 1 = 0", {"NULL", "0"}},
  };
  for (const Case& c : cases) EXPECT_EQ(run(c.sql), c.rows) << c.sql << " " << lastText();
}

TEST_F(FlatUnionTest, UnionAllKeepsEveryRow) {
  struct Case {
    const char* sql;
    Rows rows;
  } cases[] = {
      {"SELECT ID FROM sales WHERE ID < 3 UNION ALL SELECT ID FROM sales WHERE ID < 2", {"1", "2", "1"}},
      {"SELECT ID FROM sales WHERE ID < 3 UNION ALL SELECT ID FROM sales WHERE ID < 2 ORDER BY 1 DESC",
       {"2", "1", "1"}},
      {"SELECT DISTINCT REGION FROM sales UNION ALL SELECT REGION FROM sales WHERE ID = 1", {"", "N", "S", "W", "N"}},
      {"SELECT ID FROM sales WHERE 1 = 0 UNION ALL SELECT X FROM one", {"1"}},
  };
  for (const Case& c : cases) EXPECT_EQ(run(c.sql), c.rows) << c.sql << " " << lastText();
}

TEST_F(FlatUnionTest, OrderByErrorsAndSpilling) {
  EXPECT_EQ(run("SELECT ID FROM sales UNION SELECT X FROM one ORDER BY ID"),
            (Rows{"PREPARE " + std::to_string(msgUnionOrderBy)}));
  EXPECT_EQ(run("SELECT ID FROM sales UNION SELECT X FROM one ORDER BY 1 2"),
            (Rows{"PREPARE " + std::to_string(msgOrderBySyntax)}));
  ASSERT_EQ(prepare("SELECT ID FROM sales UNION SELECT X FROM one"), kvSuccess);
  {
    FlatUnionResult result(statement_, head());
    KvErrorKeeper::setErrorList(&statement_->getErrorList());
    for (const char* text : {" 3", " 1 DESC ID", " 0"}) {
      statement_->getErrorList().clearErrors();
      EXPECT_EQ(result.build(kvU(text)), kvFailure) << text;
      EXPECT_EQ(lastError(), msgOrderBySyntax) << text;
    }
    KvErrorKeeper::giveUpErrorList();
  }

  // 3000 rows of 200-byte texts against two 64 KB blocks: several runs,
  // duplicates dropped across them.
  std::vector<std::vector<std::string>> rows;
  for (int i = 0; i < 3000; ++i) rows.push_back({std::to_string(i % 1000) + std::string(150, 'y')});
  writeTable("wide", {{"T", 'C', 200, 0}}, rows);
  const Rows out = run("SELECT T FROM wide UNION SELECT T FROM wide ORDER BY 1 DESC", 2);
  ASSERT_EQ(out.size(), 1000u) << (out.empty() ? "" : out.back());
  for (size_t i = 1; i < out.size(); ++i) ASSERT_GT(out[i - 1], out[i]) << i;
}

}  // namespace
