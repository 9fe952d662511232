// Statement classification and SELECT parsing: the statement kinds and the
// end check, USE, the FROM list with correlation names, select lists and
// the result description, the clauses and their errors, UNION chains, the
// tail clauses, and the checks of GROUP BY, HAVING and DISTINCT.
#include "tests/flat/flat_sql_test_support.h"

#include "base/handles/base_messages.h"
#include "flat/connection/flat_shared_desc.h"
#include "flat/flat_message_ids.h"
#include "util/containers/buttoken.h"

namespace {

// A DDL or driver statement descriptor that reads a fixed number of tokens.
class WordsDesc : public FlatDescriptor {
 public:
  WordsDesc(FlatStatement* statement, int words) : FlatDescriptor(statement), words_(words) {}
  KvStatus parse(const unsigned char* text, uint32_t* position) override {
    const unsigned char* p = text + *position;
    for (int i = 0; i < words_; ++i) {
      unsigned char buffer[kvButtokenBufferBytes + 16];
      if (buttoken(buffer, &p, kvButModeWords) != kvSuccess) return kvFailure;
    }
    *position = uint32_t(p - text);
    return kvSuccess;
  }

 private:
  int words_;
};

// A driver statement that supports DDL and driver statements of three
// words ("CREATE TABLE x", "PACK TABLE x").
class DdlStatement : public FlatTestStatement {
 public:
  explicit DdlStatement(FlatConnection* c) : FlatTestStatement(c) {}
  FlatDescriptor* allocDropTableDesc() override { return new WordsDesc(this, 3); }
  FlatDescriptor* allocCreateDesc() override { return new WordsDesc(this, 3); }
  FlatDescriptor* allocCrIndexDesc() override { return new WordsDesc(this, 3); }
  FlatDescriptor* allocDropIndexDesc() override { return new WordsDesc(this, 3); }
  FlatDescriptor* allocSpecialStmt(const unsigned char* text) override {
    if (std::strncmp(kvC(text), "PACK", 4) != 0) return FlatTestStatement::allocSpecialStmt(text);
    return new WordsDesc(this, 3);
  }
};

// A driver statement without DDL: the engine's own alloc operations.
class NoDdlStatement : public FlatTestStatement {
 public:
  explicit NoDdlStatement(FlatConnection* c) : FlatTestStatement(c) {}
  FlatDescriptor* allocDropTableDesc() override { return FlatStatement::allocDropTableDesc(); }
  FlatDescriptor* allocCreateDesc() override { return FlatStatement::allocCreateDesc(); }
  FlatDescriptor* allocCrIndexDesc() override { return FlatStatement::allocCrIndexDesc(); }
  FlatDescriptor* allocDropIndexDesc() override { return FlatStatement::allocDropIndexDesc(); }
};

class FlatSelectTest : public FlatSqlFixture {
 protected:
  std::vector<std::string> itemNames(FlatStatement* statement = nullptr) {
    std::vector<std::string> names;
    for (uint16_t i = 0; i < head(statement)->getItemCount(); ++i) names.push_back(kvC(item(i, statement)->name));
    return names;
  }
};

TEST_F(FlatSelectTest, StatementKinds) {
  auto* ddl = flatBuild<DdlStatement>(static_cast<FlatConnection*>(connection_));
  statements_.push_back(ddl);
  struct Case {
    const char* text;
    uint16_t kind;  // 0: refused
    uint16_t message;
  } cases[] = {
      {"SELECT * FROM emp", flatKindSelect, 0},
      {"select * from emp;", flatKindSelect, 0},
      {"SELECT * FROM emp ; ;", flatKindSelect, 0},
      {"CREATE TABLE x", flatKindCreateTable, 0},
      {"create index x", flatKindCreateIndex, 0},
      {"CREATE UNIQUE x", flatKindCreateIndex, 0},
      {"DROP TABLE x ;", flatKindDropTable, 0},
      {"DROP INDEX x", flatKindDropIndex, 0},
      {"PACK TABLE x", flatKindSpecial, 0},
      {"DROP TABLE x junk", 0, msgUnexpectedText},
      {"DROP TABLE x ; junk", 0, msgUnexpectedText},
      {"CREATE VIEW x", 0, msgUnknownStatement},
      {"FOO", 0, msgUnexpectedText},
      {"FOO BAR", 0, msgUnknownStatement},
      {"", 0, msgUnknownStatement},
      {";", 0, msgUnknownStatement},
  };
  for (const Case& c : cases) {
    KvStatus status = prepare(c.text, ddl);
    EXPECT_EQ(status, c.kind ? kvSuccess : kvFailure) << c.text << " " << lastError(ddl);
    EXPECT_EQ(ddl->getStatementKind(), c.kind) << c.text;
    if (!c.kind) {
      EXPECT_EQ(lastError(ddl), c.message) << c.text;
    } else if (c.kind != flatKindSelect) {
      EXPECT_EQ(ddl->getFieldCount(), 0) << c.text;
    }
  }
  EXPECT_EQ(prepare("FOO", ddl), kvFailure);
  EXPECT_EQ(lastText(ddl), "Unexpected text at end of SQL statement: FOO ");
  // The engine's own statement refuses DDL it has no descriptor for.
  auto* noDdl = flatBuild<NoDdlStatement>(static_cast<FlatConnection*>(connection_));
  statements_.push_back(noDdl);
  for (const char* text : {"CREATE TABLE x (a CHAR(1))", "DROP INDEX x"}) {
    EXPECT_EQ(prepare(text, noDdl), kvFailure) << text;
    EXPECT_EQ(lastState(noDdl), "S1C00") << text;
  }
  // CREATE INDEX inside a transaction only on a driver that allows it.
  autocommit(connection_, false);
  connection_->addFlags(BaseConnection::flagTransaction);
  connection_->clearEngineFlags(flatIndexInTxn);
  EXPECT_EQ(prepare("CREATE INDEX x", ddl), kvFailure);
  EXPECT_EQ(lastError(ddl), msgIndexInTransaction);
  connection_->addEngineFlags(flatIndexInTxn);
  EXPECT_EQ(prepare("CREATE INDEX x", ddl), kvSuccess);
  connection_->clearFlags(BaseConnection::flagTransaction);
}

TEST_F(FlatSelectTest, UseSwitchesTheDatabase) {
  ScratchDirectory other;
  ASSERT_TRUE(other.make("kvuse"));
  writeTable("emp", {{"ID", 'I', 4, 0}}, {});
  EXPECT_EQ(prepare("USE " + other.name()), kvSuccess);
  EXPECT_EQ(statement_->getStatementKind(), flatKindUse);
  EXPECT_EQ(statement_->getFieldCount(), 0);
  EXPECT_STREQ(kvC(connection_->getDatabaseDirectory()), other.name().c_str());
  EXPECT_EQ(prepare("SELECT * FROM emp"), kvFailure) << "the tables of the old directory are gone";
  EXPECT_EQ(lastError(), msgTableNotExist);
  EXPECT_EQ(prepare("USE " + dir() + " ;"), kvSuccess);
  EXPECT_EQ(prepare("SELECT * FROM emp"), kvSuccess);
  EXPECT_EQ(prepare("USE " + dir() + " more"), kvFailure);
  EXPECT_EQ(lastError(), msgUnexpectedText);
}

TEST_F(FlatSelectTest, SelectListsAndDescriptions) {
  ASSERT_EQ(prepare("SELECT * FROM emp, dept"), kvSuccess);
  EXPECT_EQ(itemNames(), (std::vector<std::string>{"ID", "NAME", "DEPT", "SAL", "HIRED", "ACTIVE", "NOTE", "ID",
                                                   "DEPT", "TITLE"}));
  EXPECT_EQ(statement_->getFieldCount(), 10);
  EXPECT_EQ(head()->getColumnTotal(), 10);
  EXPECT_EQ(head()->getTableCount(), 2);

  ASSERT_EQ(prepare("SELECT d.*, e.NAME, `SAL`, ID + 1, ROWID FROM emp e, dept d"), kvFailure);
  EXPECT_EQ(lastError(), msgDuplicateField) << "ROWID of a join must be qualified";
  ASSERT_EQ(prepare("SELECT d.*, e.NAME, `sal`, e.ID + 1, e.ROWID FROM emp e, dept d"), kvSuccess);
  EXPECT_EQ(itemNames(), (std::vector<std::string>{"ID", "DEPT", "TITLE", "NAME", "SAL", "e.ID + 1", "e.ROWID"}));
  FlatSelectField* name = item(3);
  EXPECT_TRUE(name->isPlainColumn());
  EXPECT_EQ(name->sqlType, SQL_CHAR);
  EXPECT_EQ(name->precision, 10u);
  EXPECT_STREQ(kvC(name->typeName), "CHAR");
  EXPECT_EQ(name->nullable, SQL_NULLABLE);
  EXPECT_EQ(name->searchable, SQL_SEARCHABLE);
  EXPECT_EQ(name->table, head()->getFirstTable());
  FlatSelectField* computed = item(5);
  EXPECT_FALSE(computed->isPlainColumn());
  EXPECT_EQ(computed->sqlType, SQL_DOUBLE);
  EXPECT_EQ(computed->nullable, SQL_NULLABLE);
  EXPECT_EQ(computed->searchable, SQL_SEARCHABLE);
  EXPECT_EQ(computed->typeName, nullptr);

  // One table: a lone ROWID is an item named ROWID of its table.
  ASSERT_EQ(prepare("SELECT ROWID, 1 + 2, NULL, 'x' + NAME FROM emp"), kvSuccess);
  EXPECT_EQ(itemNames(), (std::vector<std::string>{"ROWID", "1 + 2", "NULL", "'x' + NAME"}));
  EXPECT_EQ(item(0)->rowIdHandle, head()->getFirstTable()->getTableHandle());
  EXPECT_EQ(item(1)->nullable, SQL_NO_NULLS);
  EXPECT_EQ(item(2)->nullable, SQL_NULLABLE);
  EXPECT_EQ(item(3)->nullable, SQL_NO_NULLS) << "a literal before any column";

  // The types of computed columns.
  ASSERT_EQ(prepare("SELECT ID+1, HIRED+1, HIRED-HIRED, NAME+DEPT FROM emp"), kvSuccess);
  const int16_t types[] = {SQL_DOUBLE, SQL_DATE, SQL_DOUBLE, SQL_VARCHAR};
  const uint32_t precisions[] = {8, 8, 8, 14};
  for (uint16_t i = 0; i < 4; ++i) {
    EXPECT_EQ(item(i)->sqlType, types[i]) << i;
    EXPECT_EQ(item(i)->precision, precisions[i]) << i;
  }
}

TEST_F(FlatSelectTest, Errors) {
  struct Case {
    const char* statement;
    uint16_t message;
    const char* text;  // the message as SQLError shows it, or null
  } cases[] = {
      {"SELECT * FROM emp x y", msgExtraCharacters, "Extra characters at end of query:  Y."},
      {"SELECT a", msgMissingClause, "Missing SQL Clause:  FROM."},
      {"SELECT * FROM", msgMissingTableName, nullptr},
      {"SELECT * FROM emp, ", msgMissingTableName, nullptr},
      {"SELECT * FROM emp(1)", msgUnknownOption, "Unknown option: ("},
      {"SELECT * FROM nothere", msgTableNotExist, nullptr},
      {"SELECT * FROM emp.dbf", msgBadExtension, nullptr},
      {"SELECT ID FROM emp, dept", msgAmbiguousField, "Ambiguous field name, qualify with file name: ID "},
      {"SELECT NOPE FROM emp", msgSelectFieldNotFound, "Field not found: NOPE "},
      {"SELECT x.* FROM emp", msgSelectFieldNotFound, nullptr},
      {"SELECT NAME FROM emp GROUP NAME", msgMissingClause, "Missing SQL Clause:  BY."},
      {"SELECT NAME FROM emp HAVING NAME > 'A'", msgHavingWithoutGroup, nullptr},
      {"SELECT NAME FROM emp WHERE ID", msgWhereNotLogical, "Where clause must evaluate to TRUE or FALSE"},
      {"SELECT DEPT FROM emp GROUP BY DEPT HAVING COUNT(*)", msgWhereNotLogical, nullptr},
      {"SELECT NAME FROM emp WHERE", msgEmptyClause, nullptr},
      {"SELECT NAME FROM emp WHERE ID = 1 WHERE ID = 2", msgKeywordTwice, "Keyword found more than once : WHERE "},
      {"SELECT NAME FROM emp WHERE CURRENT c1", msgMissingClause, "Missing SQL Clause:  OF."},
      {"SELECT NAME FROM emp ORDER NAME", msgMissingClause, nullptr},
      {"SELECT NAME FROM emp ORDER BY NAME ORDER BY ID", msgKeywordTwice, nullptr},
      {"SELECT NAME FROM emp ORDER BY", msgEmptyClause, nullptr},
      {"SELECT NAME FROM emp FOR UPDATE NAME", msgMissingClause, "Missing SQL Clause:  OF."},
      {"SELECT NAME, DEPT FROM emp GROUP BY DEPT", msgGroupByCoverage, nullptr},
      {"SELECT UPPER(NAME) FROM emp GROUP BY NAME", msgGroupByCoverage, nullptr},
      {"SELECT DEPT FROM emp GROUP BY DEPT HAVING NAME > 'A'", msgHavingWithoutGroup, nullptr},
      {"SELECT DISTINCT NAME FROM emp ORDER BY DEPT", msgDistinctOrderBy, nullptr},
      {"SELECT NAME FROM emp UNION SELECT DEPT FROM dept ORDER BY NAME", msgUnionOrderBy, nullptr},
      {"SELECT NAME FROM emp UNION SELECT DEPT, ID FROM dept", msgUnionColumnCount, nullptr},
      {"SELECT NAME FROM emp UNION SELECT ID FROM dept", msgUnionColumnTypes,
       "The data types of column 1 in the SELECT statements of a UNION are not compatible."},
      {"SELECT ID, HIRED FROM emp UNION SELECT ID, DEPT FROM dept", msgUnionColumnTypes, nullptr},
      {"SELECT NAME FROM emp UNION DELETE FROM dept", msgUnknownStatement, nullptr},
      {"SELECT NAME FROM emp FOR UPDATE OF NAME UNION SELECT DEPT FROM dept", msgSelectFieldNotFound, nullptr},
      {"SELECT NAME FROM emp UNION SELECT DEPT FROM dept FOR UPDATE OF DEPT", msgUnionInUpdate, nullptr},
      {"SELECT e.NAME FROM emp e, dept d FOR UPDATE OF NAME", msgJoinInUpdate, nullptr},
      {"SELECT DEPT FROM emp GROUP BY DEPT FOR UPDATE OF DEPT", msgGroupInUpdate, nullptr},
      {"SELECT DISTINCT NAME FROM emp FOR UPDATE OF NAME", msgDistinctInUpdate, nullptr},
      {"SELECT NAME FROM emp FOR UPDATE OF NOPE", msgSelectFieldNotFound, nullptr},
      {"SELECT NAME FROM emp FOR UPDATE OF", msgMissingUpdateField, nullptr},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(prepare(c.statement), kvFailure) << c.statement;
    EXPECT_EQ(lastError(), c.message) << c.statement << ": " << lastText();
    if (c.text) {
      EXPECT_EQ(lastText(), c.text) << c.statement;
    }
    EXPECT_EQ(statement_->getStatementKind(), 0) << c.statement;
    EXPECT_EQ(statement_->getFieldCount(), 0) << c.statement;
  }
  EXPECT_EQ(prepare("SELECT NOPE FROM emp"), kvFailure);
  EXPECT_EQ(lastState(), "S0022");
  EXPECT_EQ(prepare("SELECT * FROM emp x y"), kvFailure);
  EXPECT_EQ(lastState(), "37000");
}

TEST_F(FlatSelectTest, ClausesAndChecks) {
  struct Case {
    const char* statement;
  } accepted[] = {
      {"SELECT DEPT, COUNT(*) FROM emp GROUP BY DEPT HAVING COUNT(*) > 1"},
      {"SELECT DEPT, UPPER(NAME) FROM emp GROUP BY DEPT, UPPER(NAME)"},
      {"SELECT DEPT, 1, SUM(SAL) FROM emp GROUP BY DEPT HAVING DEPT <> 'X' AND SUM(SAL) > 0"},
      {"SELECT DISTINCT NAME, ID FROM emp ORDER BY ID, NAME"},
      {"SELECT DISTINCT NAME FROM emp ORDER BY 1"},
      {"SELECT ALL NAME FROM emp"},
      {"SELECT NAME FROM emp WHERE (SELECT MAX(ID) FROM dept WHERE dept.DEPT = emp.DEPT) > 1"},
      {"SELECT NAME FROM emp WHERE ID IN (SELECT ID FROM dept GROUP BY ID HAVING COUNT(*) > 0)"},
      {"SELECT NAME FROM emp HAVING COUNT(*) > 1 GROUP BY NAME"},
      {"SELECT NAME FROM emp WHERE CURRENT OF c1"},
      {"SELECT NAME FROM emp FOR UPDATE OF NAME, `DEPT` ORDER BY 1"},
      {"SELECT NAME FROM emp FOR UPDATE OF XXX"},
  };
  for (const auto& c : accepted) EXPECT_EQ(prepare(c.statement), kvSuccess) << c.statement << " " << lastError();

  ASSERT_EQ(prepare("SELECT DISTINCT NAME FROM emp WHERE ID > 0 GROUP BY NAME HAVING COUNT(*) > 0"), kvSuccess);
  const uint32_t flags = head()->getFlags();
  EXPECT_TRUE(flags & FlatSqlDesc::flagDistinct);
  EXPECT_TRUE(flags & FlatSqlDesc::flagHasWhere);
  EXPECT_TRUE(flags & FlatSqlDesc::flagHasHaving);
  EXPECT_TRUE(flags & FlatSqlDesc::flagNullAware);
  EXPECT_STREQ(kvC(head()->getGroupByText()), " NAME ");
  EXPECT_EQ(head()->getGroupByCodes().getCount(), 1);
  EXPECT_EQ(head()->getRowCount(), -1);
  EXPECT_TRUE(statement_->getEngineFlags() & FlatStatement::stmtFresh);

  ASSERT_EQ(prepare("SELECT NAME FROM emp FOR UPDATE OF NAME"), kvSuccess);
  EXPECT_TRUE(head()->getFlags() & FlatSqlDesc::flagForUpdate);
}

TEST_F(FlatSelectTest, Unions) {
  ASSERT_EQ(prepare("SELECT NAME, SAL FROM emp UNION ALL SELECT TITLE, ID FROM dept UNION SELECT DEPT, 1 FROM emp "
                    "ORDER BY 1 DESC, 2"),
            kvSuccess);
  FlatSqlDesc* first = head();
  FlatSqlDesc* second = first->getNextQuery();
  ASSERT_NE(second, nullptr);
  FlatSqlDesc* third = second->getNextQuery();
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(third->getNextQuery(), nullptr);
  // A plain UNION makes the whole chain distinct.
  for (FlatSqlDesc* q : {first, second, third}) EXPECT_FALSE(q->getFlags() & FlatSqlDesc::flagUnionAll);
  EXPECT_TRUE(statement_->getEngineFlags() & FlatStatement::stmtUnion);
  // Result columns take the larger text precision.
  EXPECT_EQ(item(0)->precision, 20u);
  EXPECT_EQ(first->getOrderItems().getCount(), 2);

  ASSERT_EQ(prepare("SELECT NAME FROM emp UNION ALL SELECT DEPT FROM dept"), kvSuccess);
  EXPECT_TRUE(head()->getNextQuery()->getFlags() & FlatSqlDesc::flagUnionAll);
  EXPECT_EQ(item(0)->precision, 10u);
}

// The lock list holds at most 32 tables; a self-join locks its table once.
TEST_F(FlatSelectTest, TableLimitAndSelfJoins) {
  ASSERT_EQ(prepare("SELECT a.ID FROM emp a, emp b, emp c WHERE a.ID = b.ID"), kvSuccess);
  EXPECT_EQ(statement_->getLockCount(), 1);
  std::string from;
  for (int i = 0; i < 33; ++i) {
    writeTable("t" + std::to_string(i), {{"X", 'I', 4, 0}}, {});
    from += (i ? ", t" : "t") + std::to_string(i);
  }
  EXPECT_EQ(prepare("SELECT t0.X FROM " + from), kvFailure);
  EXPECT_EQ(lastError(), msgTooManyTables);
  EXPECT_EQ(statement_->getHeadDescriptor(), nullptr);
  // A table may be named by its path, and by a back-quoted name.
  EXPECT_EQ(prepare("SELECT x.ID FROM " + dir() + "/emp x, `dept` WHERE x.DEPT = dept.DEPT"), kvSuccess)
      << lastText();
  // A name longer than a token is never cut into another table's name.
  std::string longName(120, 'q');
  EXPECT_EQ(prepare("SELECT * FROM " + longName), kvFailure);
  EXPECT_EQ(lastError(), msgTableNotExist);
  EXPECT_NE(lastText().find(longName), std::string::npos);
}

}  // namespace
