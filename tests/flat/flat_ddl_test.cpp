// CREATE TABLE, CREATE INDEX, DROP INDEX and DROP TABLE on the test file
// driver: the descriptors' parses and checks, the type-name matching, and
// the driver's execution (files made and removed, index flags written).
#include "tests/flat/flat_sql_test_support.h"

#include "drivers/flattest/flattest_ddl.h"
#include "flat/flat_message_ids.h"
#include "flat/sql/flat_ddl.h"

#include <sys/stat.h>

namespace {

class FlatDdlTest : public FlatSqlFixture {
 protected:
  // Prepares and executes sql on the default statement.
  KvStatus run(const std::string& sql, FlatStatement* statement = nullptr) {
    if (!statement) statement = statement_;
    if (prepare(sql, statement) != kvSuccess) return kvFailure;
    KvErrorKeeper::setErrorList(&statement->getErrorList());
    KvStatus status = statement->executePreparedStmt();
    KvErrorKeeper::giveUpErrorList();
    return status;
  }
  bool exists(const std::string& table) {
    struct stat st;
    return ::stat(tablePath(table).c_str(), &st) == 0;
  }
  FlatTestLayout layoutOf(const std::string& table) {
    std::ifstream in(tablePath(table), std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    FlatTestLayout layout;
    std::string reason;
    EXPECT_TRUE(flatTestParseHeader(bytes.data(), uint32_t(bytes.size()), &layout, &reason)) << reason;
    return layout;
  }
  std::vector<uint16_t> errors(FlatStatement* statement = nullptr) {
    std::vector<uint16_t> numbers;
    for (uint32_t i = 0; KvError* e = (statement ? statement : statement_)->getErrorList().getErrorAtPos(i); ++i)
      numbers.push_back(e->getNumber());
    return numbers;
  }
};

TEST_F(FlatDdlTest, CreateTableMakesTheFile) {
  ASSERT_EQ(run("CREATE TABLE t (a CHAR(10), b NUMERIC(10,2) NOT NULL, c LONG VARCHAR(300), d INT, "
                "e DOUBLE PRECISION, f DOUBLE, g DATE, h BIT, i BINARY(4))"),
            kvSuccess)
      << lastText();
  EXPECT_EQ(errors(), std::vector<uint16_t>{msgNotNullIgnored});
  EXPECT_EQ(lastState(), "01000");
  FlatTestLayout layout = layoutOf("t");
  std::string types, names;
  for (const FlatTestColumn& c : layout.columns) {
    types += c.type;
    names += c.name + " ";
  }
  EXPECT_EQ(types, "CDLIDDTYB");
  EXPECT_EQ(names, "A B C D E F G H I ");
  EXPECT_EQ(layout.columns[0].width, 10);
  EXPECT_EQ(layout.columns[2].width, 300);
  EXPECT_EQ(layout.columns[8].width, 4);
}

}  // namespace
