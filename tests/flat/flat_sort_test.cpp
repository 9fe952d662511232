// Tests of ORDER BY through the record sort: directions, positions, the
// syntax and capacity errors, the index that makes the sort unnecessary,
// and a sort larger than its memory that spills to its work file.
#include "tests/flat/flat_sql_test_support.h"

#include "flat/flat_message_ids.h"
#include "flat/query/flat_keyset.h"
#include "flat/query/flat_sort.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

class FlatSortTest : public FlatSqlFixture {
 protected:
  void SetUp() override {
    FlatSqlFixture::SetUp();
    const std::vector<std::vector<std::string>> rows = {
        {"1", "BAKER", "A", "100"}, {"2", "BANKS", "C", "200"}, {"3", "ADAMS", "B", "300"},
        {"4", "BA", "C", "400"},    {"5", "", "A", "500"},      {"6", "CARR", "B", "-50"},
        {"7", "BAZ", "C", "250"},   {"8", "ZED", "", "100"}};
    // PAY has indexes on SAL and NAME, PAYX none.
    writeTable("pay", {{"ID", 'I', 4, 0}, {"NAME", 'C', 10, flatTestIndexed}, {"DEPT", 'C', 4, 0},
                       {"SAL", 'D', 8, flatTestIndexed}},
               rows);
    writeTable("payx", {{"ID", 'I', 4, 0}, {"NAME", 'C', 10, 0}, {"DEPT", 'C', 4, 0}, {"SAL", 'D', 8, 0}}, rows);
  }

  // The first item of every row of sql after its ORDER BY, or "ERROR n";
  // sorted tells whether a sort ran.
  std::vector<std::string> ordered(const std::string& sql, int* sorted = nullptr, uint16_t blockLimit = 0) {
    if (prepare(sql) != kvSuccess) return {"PREPARE " + std::to_string(lastError())};
    RidFileMgr keyset(statement_, head());
    statement_->getErrorList().clearErrors();
    KvErrorKeeper::setErrorList(&statement_->getErrorList());
    KvStatus status = kvSuccess;
    bool ran = false;
    if (blockLimit) {
      ran = true;
      status = flatSortKeyset(statement_, head(), &keyset, &head()->getOrderItems(), blockLimit);
    } else {
      status = flatOrderKeyset(statement_, head(), &keyset, &ran);
    }
    std::vector<std::string> out;
    for (uint32_t n = 1; status == kvSuccess; ++n) {
      GetRecRetType result = getRecFound;
      status = keyset.getRecord(n, &result);
      if (status != kvSuccess || result != getRecFound) break;
      std::string value = itemValue(0, statement_);
      value.erase(value.find_last_not_of(' ') + 1);
      out.push_back(value);
    }
    KvErrorKeeper::giveUpErrorList();
    if (status != kvSuccess) out.push_back("ERROR " + std::to_string(lastError()));
    if (sorted) *sorted = ran;
    return out;
  }
};

TEST_F(FlatSortTest, OrdersWithAndWithoutAnIndex) {
  struct Case {
    const char* tail;
    std::vector<std::string> ids;
  } cases[] = {
      {"ORDER BY DEPT DESC, NAME", {"4", "2", "7", "3", "6", "5", "1", "8"}},
      {"ORDER BY DEPT, NAME DESC", {"8", "1", "5", "6", "3", "7", "2", "4"}},
      {"ORDER BY SAL DESC, ID", {"5", "4", "3", "7", "2", "1", "8", "6"}},
      {"ORDER BY SAL ASC, ID DESC", {"6", "8", "1", "2", "7", "3", "4", "5"}},
      {"ORDER BY 2, 1", {"5", "3", "4", "1", "2", "7", "6", "8"}},
      {"ORDER BY -ID", {"8", "7", "6", "5", "4", "3", "2", "1"}},
      {"ORDER BY NAME", {"5", "3", "4", "1", "2", "7", "6", "8"}},
  };
  for (const Case& c : cases) {
    for (const char* table : {"pay", "payx"}) {
      const std::string sql = std::string("SELECT ID, NAME FROM ") + table + " " + c.tail;
      EXPECT_EQ(ordered(sql), c.ids) << sql << " " << lastText();
    }
  }
  // A WHERE range and a join keep their rows, only reordered.
  EXPECT_EQ(ordered("SELECT ID FROM pay WHERE SAL >= 200 ORDER BY DEPT DESC, SAL DESC"),
            (std::vector<std::string>{"4", "7", "2", "3", "5"}));
  EXPECT_EQ(ordered("SELECT a.ID FROM payx a, pay b WHERE a.ID = b.ID AND b.SAL < 200 ORDER BY b.SAL, a.ID DESC"),
            (std::vector<std::string>{"6", "8", "1"}));
}

TEST_F(FlatSortTest, AnIndexThatDeliversTheOrderIsNotSorted) {
  int sorted = -1;
  const std::vector<std::string> bySal = {"6", "1", "8", "2", "7", "3", "4", "5"};
  EXPECT_EQ(ordered("SELECT ID FROM pay ORDER BY SAL", &sorted), bySal);
  EXPECT_EQ(sorted, 0);
  EXPECT_EQ(ordered("SELECT ID FROM payx ORDER BY SAL", &sorted), bySal);
  EXPECT_EQ(sorted, 1);
  EXPECT_EQ(ordered("SELECT ID FROM pay ORDER BY SAL DESC, ID", &sorted),
            (std::vector<std::string>{"5", "4", "3", "7", "2", "1", "8", "6"}));
  EXPECT_EQ(sorted, 1);
}

TEST_F(FlatSortTest, DistinctKeepsOneOfEqualRows) {
  struct Case {
    const char* sql;
    std::vector<std::string> firsts;
  } cases[] = {
      {"SELECT DISTINCT DEPT FROM %s", {"", "A", "B", "C"}},
      {"SELECT DISTINCT DEPT FROM %s ORDER BY DEPT DESC", {"C", "B", "A", ""}},
      {"SELECT DISTINCT SAL FROM %s ORDER BY 1 DESC", {"500", "400", "300", "250", "200", "100", "-50"}},
      {"SELECT DISTINCT DEPT, SAL FROM %s WHERE SAL = 100", {"", "A"}},
      {"SELECT DISTINCT DEPT + 'x' FROM %s WHERE DEPT <> 'A'", {"    x", "B   x", "C   x"}},
      {"SELECT DISTINCT ID / 100 FROM %s", {"0.01", "0.02", "0.03", "0.04", "0.05", "0.06", "0.07", "0.08"}},
      {"SELECT DISTINCT a.DEPT FROM %s a, pay b WHERE a.DEPT = b.DEPT ORDER BY 1", {"", "A", "B", "C"}},
  };
  for (const Case& c : cases) {
    for (const char* table : {"pay", "payx"}) {
      char sql[200];
      std::snprintf(sql, sizeof sql, c.sql, table);
      EXPECT_EQ(ordered(sql), c.firsts) << sql << " " << lastText();
    }
  }
}

TEST_F(FlatSortTest, KeysOfOpenTypesKeepTheirWholeText) {
  // IIF's type is left open by the compiler: its texts still order by all
  // their bytes, not by their first eight.
  EXPECT_EQ(ordered("SELECT ID FROM payx WHERE ID < 5 ORDER BY IIF(ID > 0, 'abcdefgh' + NAME, 'x') DESC"),
            (std::vector<std::string>{"2", "1", "4", "3"}));
  EXPECT_EQ(ordered("SELECT DISTINCT IIF(ID > 0, 'abcdefgh' + DEPT, 'x') FROM payx").size(), 4u);
}

TEST_F(FlatSortTest, NullsSortFirstInBothDirections) {
  writeTable("nul", {{"ID", 'I', 4, 0}, {"SAL", 'D', 8, 0}}, {{"1", ""}, {"2", "5"}, {"3", ""}, {"4", "-1"}});
  EXPECT_EQ(ordered("SELECT ID FROM nul ORDER BY SAL, ID"), (std::vector<std::string>{"1", "3", "4", "2"}));
  EXPECT_EQ(ordered("SELECT ID FROM nul ORDER BY SAL DESC, ID"), (std::vector<std::string>{"1", "3", "2", "4"}));
  EXPECT_EQ(ordered("SELECT DISTINCT SAL FROM nul").size(), 3u);
  // The same order with an index on the column, ascending or descending.
  writeTable("nulup", {{"ID", 'I', 4, 0}, {"SAL", 'D', 8, flatTestIndexed}},
             {{"1", ""}, {"2", "5"}, {"3", ""}, {"4", "-1"}});
  writeTable("nuldown", {{"ID", 'I', 4, 0}, {"SAL", 'D', 8, flatTestDescending}},
             {{"1", ""}, {"2", "5"}, {"3", ""}, {"4", "-1"}});
  for (const char* table : {"nulup", "nuldown"}) {
    const std::string from = std::string("SELECT ID FROM ") + table;
    EXPECT_EQ(ordered(from + " ORDER BY SAL DESC"), (std::vector<std::string>{"1", "3", "2", "4"})) << table;
    EXPECT_EQ(ordered(from + " ORDER BY SAL"), (std::vector<std::string>{"1", "3", "4", "2"})) << table;
  }
}

TEST_F(FlatSortTest, ListErrors) {
  // The list is checked when the statement is prepared; the sort reads the
  // items compiled then.
  EXPECT_EQ(ordered("SELECT ID FROM payx ORDER BY NAME DEPT"), (std::vector<std::string>{"PREPARE 3906"}));
  EXPECT_NE(lastText().find("DEPT"), std::string::npos) << lastText();
  EXPECT_EQ(ordered("SELECT ID FROM payx ORDER BY NAME DESC DEPT"), (std::vector<std::string>{"PREPARE 3906"}));
  // Programs beyond the key program's capacity fail before any write.
  std::string many = "SELECT ID FROM payx ORDER BY ID";
  for (int i = 0; i < 12; ++i) many += ", NAME + '" + std::string(240, char('a' + i)) + "'";
  EXPECT_EQ(ordered(many), (std::vector<std::string>{"ERROR 3954"})) << lastText();
}

TEST_F(FlatSortTest, ASortLargerThanItsMemorySpills) {
  // 3000 records of over 200 bytes against two 64 KB blocks: several runs.
  std::vector<std::vector<std::string>> rows;
  for (int i = 0; i < 3000; ++i) {
    const int key = (i * 7919) % 3000;
    rows.push_back({std::to_string(i), std::string(1, char('A' + key % 26)) + std::to_string(100000 + key)});
  }
  writeTable("big", {{"ID", 'I', 4, 0}, {"NAME", 'C', 200, 0}}, rows);
  const std::vector<std::string> ids = ordered("SELECT NAME FROM big ORDER BY NAME DESC", nullptr, 2);
  ASSERT_EQ(ids.size(), 3000u) << (ids.empty() ? "" : ids.back());
  for (size_t i = 1; i < ids.size(); ++i) ASSERT_GE(ids[i - 1], ids[i]) << i;
  EXPECT_EQ(ids.front(), "Z102989");
}

}  // namespace
