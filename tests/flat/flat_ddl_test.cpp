// CREATE TABLE, CREATE INDEX, DROP INDEX and DROP TABLE on the test file
// driver: the descriptors' parses and checks, the type-name matching, and
// the driver's execution (files made and removed, index flags written).
#include "tests/flat/flat_sql_test_support.h"

#include "base/catalog/base_type_info.h"
#include "drivers/flattest/flattest_ddl.h"
#include "drivers/flattest/flattest_message_ids.h"
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

// Statements refused at prepare, with the message, its SQLSTATE and, where
// it names something, the text. emp, dept and one exist (the fixture).
TEST_F(FlatDdlTest, RefusedStatements) {
  const std::string longName(129, 'x');     // past an index or column name
  const std::string longPath(4096, 'x');    // past any path
  struct Case {
    std::string sql;
    uint16_t message;
    const char* state;
    const char* text;  // null: not checked
  } cases[] = {
      {"CREATE TABLE", msgCreateNoTable, "37000", nullptr},
      {"CREATE TABLE t a CHAR(1)", msgCreateNoLeftParen, "37000", nullptr},
      {"CREATE TABLE t (a CHAR(10), A CHAR(5))", msgColumnNotUnique, "37000", "Column name is not unique: A"},
      {"CREATE TABLE t (a CHAR(10) b CHAR(5))", msgExpectingComma, "37000",
       "Expecting a ',' after the definition of column number 1."},
      {"CREATE TABLE t (a NUMERIC(5,7))", msgBadScale, "37000", nullptr},
      {"CREATE TABLE t (a NUMERIC(5,16))", msgScaleTooLarge, "37000",
       "Scale for column A cannot be greater than the precision (15)."},
      {"CREATE TABLE t (a NUMERIC(5 7))", msgNoScale, "37000", nullptr},
      {"CREATE TABLE t (a NUMERIC(5,x))", msgBadScaleValue, "37000", nullptr},
      {"CREATE TABLE t (a CHAR)", msgNoCreateParams, "37000", "Expecting creation parameters for column A."},
      {"CREATE TABLE t (a CHAR(0))", msgBadWidth, "37000", nullptr},
      {"CREATE TABLE t (a CHAR(x))", msgBadWidth, "37000", nullptr},
      {"CREATE TABLE t (a CHAR(10 x))", msgNoRightParen, "37000", "Expecting ')' for column A."},
      {"CREATE TABLE t (a CHAR(10)", msgExpectingComma, "37000", nullptr},
      // Widths are read wide: 65537 and 2^32 + 1 do not wrap to 1.
      {"CREATE TABLE t (a CHAR(65537))", msgWidthTooLarge, "37000",
       "Width or precision for column A may not be greater than 65000."},
      {"CREATE TABLE t (a CHAR(4294967297))", msgWidthTooLarge, "37000", nullptr},
      {"CREATE TABLE t (a CHAR(99999999999999999999999))", msgWidthTooLarge, "37000", nullptr},
      {"CREATE TABLE t (a FOO)", msgBadTypeName, "37000", "Invalid type name given for column A."},
      // LONG alone is no type: only the two words are.
      {"CREATE TABLE t (a LONG)", msgBadTypeName, "37000", nullptr},
      {"CREATE TABLE t (a LONG VARCHAR)", msgNoCreateParams, "37000", nullptr},
      {"CREATE TABLE t (a)", msgBadTypeName, "37000", nullptr},
      {"CREATE TABLE t ()", msgBadColumnIdentifier, "37000", nullptr},
      {"CREATE TABLE t (abcdefghijabcdefghijabcdefghijab CHAR(1))", msgDdlColumnNameTooLong, "37000", nullptr},
      {"CREATE TABLE emp (a CHAR(1))", msgTableExists, "S0001", nullptr},
      {"CREATE TABLE EMP (a CHAR(1))", msgTableExists, "S0001", nullptr},
      {"CREATE TABLE emp.dbf (a CHAR(1))", msgBadExtension, "37000", nullptr},
      {"CREATE TABLE " + longPath + " (a CHAR(1))", msgNameTooLong, "37000", nullptr},
      {"CREATE INDEX i emp (id)", msgExpectingOn, "37000", nullptr},
      {"CREATE INDEX i ON nope (id)", msgTableNotExist, "S0002", nullptr},
      {"CREATE INDEX i ON emp id", msgIndexNoLeftParen, "37000", nullptr},
      {"CREATE INDEX i ON emp (,)", msgMissingIndexName, "37000", nullptr},
      {"CREATE INDEX i ON emp (name name)", msgExpectingComma, "37000", nullptr},
      {"CREATE INDEX i ON emp (id, name)", msgColumnLimit, "37000", "The column limit of 1 has been exceeded."},
      {"CREATE INDEX " + longName + " ON emp (id)", msgNameTooLong, "37000", nullptr},
      {"DROP INDEX i", msgDropIndexSyntax, "37000", nullptr},
      {"DROP INDEX emp.", msgDropIndexSyntax, "37000", nullptr},
      {"DROP INDEX .i", msgDropIndexSyntax, "37000", nullptr},
      {"DROP INDEX nope.i", msgTableNotExist, "S0002", nullptr},
      {"DROP TABLE", msgDropNoTable, "37000", nullptr},
      {"DROP TABLE nope", msgTableNotExist, "S0002", nullptr},
      {"DROP TABLE " + longPath, msgNameTooLong, "37000", nullptr},
      {"DROP INDEX " + longPath + ".i", msgNameTooLong, "37000", nullptr},
      {"CREATE TABLE t (" + longName + " CHAR(1))", msgNameTooLong, "37000", nullptr},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(prepare(c.sql), kvFailure) << c.sql;
    EXPECT_EQ(lastError(), c.message) << c.sql << ": " << lastText();
    EXPECT_EQ(lastState(), c.state) << c.sql;
    if (c.text) {
      EXPECT_EQ(lastText(), c.text) << c.sql;
    }
  }
  EXPECT_FALSE(exists("t"));
}

TEST_F(FlatDdlTest, ParsedDescriptors) {
  ASSERT_EQ(prepare("CREATE TABLE t (a CHAR(10), b NUMERIC(10,2) NOT NULL, `my col` DOUBLE)"), kvSuccess);
  auto* create = static_cast<FlatCreateDesc*>(statement_->getHeadDescriptor());
  ASSERT_EQ(create->getColumnCount(), 3);
  EXPECT_STREQ(kvC(create->getTableName()), "t");
  EXPECT_STREQ(kvC(create->getColumn(0)->name), "A");
  EXPECT_EQ(create->getColumn(0)->width, 10);
  EXPECT_EQ(create->getColumn(0)->nullable, 1);
  EXPECT_EQ(create->getColumn(1)->width, 10);
  EXPECT_EQ(create->getColumn(1)->scale, 2);
  EXPECT_EQ(create->getColumn(1)->nullable, 0);
  EXPECT_STREQ(kvC(create->getColumn(2)->name), "my col");
  EXPECT_STREQ(create->getColumnType(1)->typeName, "NUMERIC");
  EXPECT_EQ(lastError(), msgNotNullIgnored);
  // A driver that honours NOT NULL gives no warning.
  connection_->addEngineFlags(flatNotNullHonoured);
  ASSERT_EQ(prepare("CREATE TABLE t (b NUMERIC(10) NOT NULL, c DOUBLE PRECISION NOT NULL)"), kvSuccess);
  EXPECT_TRUE(errors().empty());
  create = static_cast<FlatCreateDesc*>(statement_->getHeadDescriptor());
  EXPECT_EQ(create->getColumn(0)->scale, 0);
  EXPECT_STREQ(create->getColumnType(1)->typeName, "DOUBLE");

  ASSERT_EQ(prepare("CREATE UNIQUE INDEX byid ON emp (id DESC)"), kvSuccess) << lastText();
  auto* index = static_cast<FlatCrIndexDesc*>(statement_->getHeadDescriptor());
  EXPECT_STREQ(kvC(index->getIndexName()), "byid");
  EXPECT_STREQ(kvC(index->getTableName()), "emp");
  EXPECT_EQ(index->isUnique(), 1);
  ASSERT_EQ(index->getKeyCount(), 1);
  EXPECT_EQ(index->getKey(0)->descending, 1);

  ASSERT_EQ(prepare("DROP INDEX emp.ftt.name"), kvSuccess) << lastText();
  auto* drop = static_cast<FlatDropIndexDesc*>(statement_->getHeadDescriptor());
  EXPECT_STREQ(kvC(drop->getQualifier()), "emp.ftt");
  EXPECT_STREQ(kvC(drop->getIndexName()), "NAME");
}

// The index flags the driver writes, and the tables it makes and removes.
TEST_F(FlatDdlTest, IndexesAndDrops) {
  ASSERT_EQ(run("CREATE INDEX byname ON emp (name DESC)"), kvSuccess) << lastText();
  EXPECT_EQ(layoutOf("emp").columns[1].flags, flatTestIndexed | flatTestDescending);
  EXPECT_EQ(run("CREATE INDEX again ON emp (name)"), kvFailure);
  EXPECT_EQ(lastError(), msgIndexExists);
  EXPECT_EQ(run("CREATE INDEX i ON emp (nosuch)"), kvFailure);
  EXPECT_EQ(lastError(), msgFieldNotFound);
  // The index is used by the next query: the rows come in descending names.
  ASSERT_EQ(prepare("SELECT name FROM emp WHERE name > 'A'"), kvSuccess) << lastText();
  ASSERT_EQ(prepare("DROP INDEX emp.name"), kvSuccess);
  ASSERT_EQ(run("DROP INDEX emp.name"), kvSuccess) << lastText();
  EXPECT_EQ(layoutOf("emp").columns[1].flags, 0);
  EXPECT_EQ(run("DROP INDEX emp.name"), kvFailure);
  EXPECT_EQ(lastError(), msgFlatTestNoIndex);

  // A unique index over equal values is refused and nothing is written.
  writeTable("twice", {{"K", 'I', 4, 0}, {"V", 'C', 2, 0}}, {{"1", "a"}, {"2", "a"}, {"", ""}, {"", "b"}});
  EXPECT_EQ(run("CREATE UNIQUE INDEX u ON twice (v)"), kvFailure);
  EXPECT_EQ(lastError(), msgDuplicateKey);
  EXPECT_EQ(layoutOf("twice").columns[1].flags, 0);
  // NULLs are no duplicates.
  ASSERT_EQ(run("CREATE UNIQUE INDEX u ON twice (k)"), kvSuccess) << lastText();
  ASSERT_EQ(run("CREATE UNIQUE INDEX u ON dept (id)"), kvSuccess) << lastText();
  EXPECT_EQ(layoutOf("dept").columns[0].flags, flatTestIndexed | flatTestUnique);

  ASSERT_EQ(run("DROP TABLE dept"), kvSuccess) << lastText();
  EXPECT_FALSE(exists("dept"));
}

// A table another statement of the connection holds open can be neither
// dropped, replaced nor indexed; the name is compared without regard to case.
TEST_F(FlatDdlTest, OpenTables) {
  FlatTestStatement* reader = newStatement();
  ASSERT_EQ(prepare("SELECT * FROM EMP", reader), kvSuccess) << lastText(reader);
  EXPECT_EQ(prepare("DROP TABLE emp"), kvFailure);
  EXPECT_EQ(lastError(), msgDeleteOpenFile);
  EXPECT_EQ(prepare("CREATE INDEX i ON Emp (id)"), kvFailure);
  EXPECT_EQ(lastError(), msgIndexOpenTable);
  EXPECT_EQ(prepare("DROP INDEX emp.id"), kvFailure);
  EXPECT_EQ(lastError(), msgDropIndexOpenTable);
  EXPECT_EQ(prepare("CREATE TABLE emp (a CHAR(1))"), kvFailure);
  EXPECT_EQ(lastError(), msgSaveOpenFile);
  EXPECT_EQ(lastState(), "S0001");
  EXPECT_TRUE(exists("emp"));
  // Once the reader lets go, the cached table closes for the drop.
  KvErrorKeeper::setErrorList(&reader->getErrorList());
  EXPECT_EQ(reader->setToAllocatedState(0), kvSuccess);
  KvErrorKeeper::giveUpErrorList();
  EXPECT_EQ(run("DROP TABLE emp"), kvSuccess) << lastText();
  EXPECT_FALSE(exists("emp"));
}

// A table created by one statement is there for the next, with the types
// of its columns as the type list names them.
TEST_F(FlatDdlTest, CreatedTableIsQueried) {
  ASSERT_EQ(run("CREATE TABLE fresh (k INTEGER, v CHAR(5))"), kvSuccess) << lastText();
  EXPECT_EQ(run("CREATE TABLE fresh (k INTEGER)"), kvFailure);
  EXPECT_EQ(lastState(), "S0001");
  ASSERT_EQ(prepare("SELECT k, v FROM fresh WHERE k = 1"), kvSuccess) << lastText();
  EXPECT_EQ(statement_->getFieldCount(), 2);
  // Table names are file names: no 128-byte limit of their own.
  const std::string longName(200, 'n');
  ASSERT_EQ(run("CREATE TABLE " + longName + " (k INTEGER)"), kvSuccess) << lastText();
  EXPECT_TRUE(exists(longName));
  ASSERT_EQ(run("DROP TABLE " + longName), kvSuccess) << lastText();
  EXPECT_FALSE(exists(longName));
}

// Table files are one file whatever the case of the name and whichever
// separator an application wrote.
TEST(FlatTablePaths, SameFile) {
  struct Case {
    const char* a;
    const char* b;
    int same;
  } cases[] = {
      {"/d/emp.ftt", "/d/emp.ftt", 1}, {"/d/EMP.FTT", "/d/emp.ftt", 1}, {"/d\\Emp.ftt", "/D/emp.FTT", 1},
      {"/d/emp.ftt", "/d/emp2.ftt", 0}, {"/d/emp.ftt", "/e/emp.ftt", 0}, {"/d/emp", "/d/emp.ftt", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(flatSameTablePath(kvU(c.a), kvU(c.b)), c.same) << c.a << " " << c.b;
  EXPECT_EQ(flatSameTablePath(nullptr, kvU("/d/emp.ftt")), 0);
}

// The names of the creation parameters that the type list's kinds stand for
// (CREATE_PARAMS of SQLGetTypeInfo).
TEST_F(FlatDdlTest, CreateParamNames) {
  const std::pair<uint16_t, const char*> names[] = {{strCreateLength, "length"},
                                                    {strCreateMaxLength, "max length"},
                                                    {strCreatePrecision, "precision"},
                                                    {strCreatePrecisionScale, "precision,scale"}};
  for (const auto& name : names) {
    unsigned char text[32] = {};
    EXPECT_EQ(connection_->getDriverResourceStr(name.first, text, sizeof(text)), short(std::strlen(name.second)));
    EXPECT_STREQ(kvC(text), name.second);
  }
}

}  // namespace
