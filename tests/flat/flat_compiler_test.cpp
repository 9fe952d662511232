// The expression compiler: the programs it writes (precedence, the forms
// of IN, BETWEEN, LIKE, IS NULL, outer joins, subqueries), its error table,
// the nesting limit, types and widths, parameter typing, aggregates, column
// resolution with table handles, and hostile text that must end in a
// diagnostic instead of a crash.
#include "tests/flat/flat_sql_test_support.h"

#include "base/handles/base_messages.h"
#include "flat/flat_message_ids.h"
#include "flat/query/flat_agg_field.h"

namespace {

class FlatCompilerTest : public FlatSqlFixture {
 protected:
  // The WHERE program as a list of instructions: the opcode, and operands
  // where they tell something (column table.column, number, text, list
  // length, comparison, subquery index).
  static std::string listing(const uint8_t* program) {
    std::string text;
    char part[64];
    for (const uint8_t* op = program; *op != opEnd; op = getNextOp(op)) {
      if (!text.empty()) text += ' ';
      switch (*op) {
        case opColumn:
          std::snprintf(part, sizeof(part), "c%u.%u", flatOperandU32(op + 1), flatOperandU16(op + 5));
          break;
        case opNumber:
          std::snprintf(part, sizeof(part), "n%g", flatOperandDouble(op + 1));
          break;
        case opText:
          std::snprintf(part, sizeof(part), "'%s'", reinterpret_cast<const char*>(op + 1));
          break;
        case opIn:
        case opSubquery:
        case opExists:
        case opScalarSubquery:
        case opParameter:
        case opAggregate:
          std::snprintf(part, sizeof(part), "%u:%u", *op, flatOperandU16(op + 1));
          break;
        case opAny:
        case opAll:
          std::snprintf(part, sizeof(part), "%u:%u:%u", *op, flatOperandU16(op + 1), op[3]);
          break;
        default:
          std::snprintf(part, sizeof(part), "%u", *op);
          break;
      }
      text += part;
    }
    return text;
  }
  std::string whereListing(const std::string& condition, const std::string& from = "emp") {
    if (prepare("SELECT * FROM " + from + " WHERE " + condition) != kvSuccess)
      return "ERROR " + std::to_string(lastError());
    return listing(head()->getWhereCode());
  }
};

TEST_F(FlatCompilerTest, Programs) {
  struct Case {
    const char* condition;
    const char* expected;
  } cases[] = {
      {"ID = 1 OR ID = 2 AND SAL > 3", "c1.0 n1 21 c1.0 n2 21 c1.3 n3 17 28 29"},
      {"(ID = 1 OR ID = 2) AND SAL > 3", "c1.0 n1 21 c1.0 n2 21 29 c1.3 n3 17 28"},
      {"-ID * 2 + 1 > 0", "c1.0 7 n2 13 n1 11 n0 17"},
      {"- -ID = +ID", "c1.0 c1.0 21"},
      {"NOT NOT ACTIVE", "c1.5"},
      {"NOT ID = 1", "c1.0 n1 21 8"},
      {"ID IN (1, 2, 3)", "c1.0 n1 n2 n3 52:3"},
      {"ID NOT IN (1)", "c1.0 n1 52:1 8"},
      {"NAME NOT LIKE 'A%'", "c1.1 'A%' 25 8"},
      {"ID BETWEEN 1 AND 2 AND SAL = 3", "c1.0 n1 n2 45 c1.3 n3 21 28"},
      {"ID NOT BETWEEN 1 + 1 AND 2 * 2", "c1.0 n1 n1 11 n2 n2 13 45 8"},
      {"NAME IS NULL OR NAME IS NOT NULL", "c1.1 27 c1.1 27 8 29"},
      {"NAME + DEPT = 'X'", "c1.1 c1.2 15 'X' 21"},
      {"NAME - DEPT = 'X'", "c1.1 c1.2 16 'X' 21"},
      {"HIRED + 1 > HIRED", "c1.4 n1 11 c1.4 17"},
      {"ID = ? AND NAME = ?", "c1.0 57:0 21 c1.1 57:1 21 28"},
      {"ID IN (SELECT ID FROM dept)", "c1.0 56:0 52:0"},
      {"ID > ANY (SELECT ID FROM dept)", "c1.0 56:0 54:0:17"},
      {"ID <> ALL (SELECT ID FROM dept) AND ID = 1", "c1.0 56:0 55:0:22 c1.0 n1 21 28"},
      {"EXISTS (SELECT ID FROM dept)", "53:0"},
      {"ID = (SELECT MAX(ID) FROM dept)", "c1.0 59:0 21"},
      {"UPPER(SUBSTR(NAME, 2, 3)) = 'MIT'", "c1.1 n2 n3 34 32 'MIT' 21"},
      {"STR(SAL) = ' '", "c1.3 46 ' ' 21"},
      {"DTOC(HIRED, 2) = ''", "c1.4 n2 42 '' 21"},
      {"'it''s' = NAME", "'it's' c1.1 21"},
      {"ACTIVE = .T.", "c1.5 4 21"},
  };
  for (const auto& c : cases) EXPECT_EQ(whereListing(c.condition), c.expected) << c.condition;
  // Outer joins put their prefix before the comparison; a self-join names
  // each reader by its own handle.
  EXPECT_EQ(whereListing("e.DEPT *= d.DEPT", "emp e, dept d"), "c1.2 c2.1 23 21");
  EXPECT_EQ(whereListing("d.DEPT =* e.DEPT", "emp e, dept d"), "c2.1 c1.2 24 21");
  EXPECT_EQ(whereListing("a.ID = b.ID AND a.ROWID < b.ROWID", "emp a, emp b"), "c1.0 c2.0 21 50 50 19 28");
}

TEST_F(FlatCompilerTest, Errors) {
  struct Case {
    const char* statement;
    uint16_t message;
    const char* state;
    const char* text;  // the message as SQLError shows it
  } cases[] = {
      {"SELECT LEFT(NAME, 12) FROM emp", msgOffsetOutOfRange, "37000", "String function offset out of range: LEFT"},
      {"SELECT SUBSTR(NAME, 11) FROM emp", msgOffsetOutOfRange, "37000", nullptr},
      {"SELECT ID FROM emp ORDER BY 0", msgBadColumnNumber, "37000", "Invalid column number in ORDER BY clause: 0"},
      {"SELECT ID, NAME FROM emp ORDER BY 3", msgBadColumnNumber, "37000", nullptr},
      {"SELECT DEPT FROM emp GROUP BY 1", msgGroupByConstant, "37000", nullptr},
      {"SELECT SUM(NAME) FROM emp", msgIncompatibleTypes, "37000", "Incompatible datatypes in expression : NAME"},
      {"SELECT ID FROM emp WHERE SUM(SAL) > 0", msgAggregateNotAllowed, "37000", nullptr},
      {"SELECT DEPT FROM emp GROUP BY SUM(SAL)", msgAggregateNotAllowed, "37000", nullptr},
      {"SELECT SUM(SUM(SAL)) FROM emp", msgNestedAggregate, "37000", "Cannot have nested aggregate functions : SUM"},
      {"SELECT COUNT(DISTINCT *) FROM emp", msgCountDistinctStar, "37000", nullptr},
      {"SELECT ID FROM emp WHERE ? = ?", msgFieldNotFound, "S0022", "Field not found: ?"},
      {"SELECT ID FROM emp WHERE ? BETWEEN ? AND ?", msgFieldNotFound, "S0022", nullptr},
      {"SELECT ID FROM emp WHERE ? IN (1, 2)", msgIncompatibleTypes, "37000", nullptr},
      {"SELECT ? FROM emp", msgParamInSelectList, "37000", nullptr},
      {"SELECT FOO(ID) FROM emp", msgUnknownFunction, "37000", "Unknown Function: FOO"},
      {"SELECT ID FROM emp WHERE ACTIVE = .X.", msgBadLogical, "37000", "Invalid logical constant: .X."},
      {"SELECT ID FROM emp WHERE ID BETWEEN 1", msgBetweenNoAnd, "37000", nullptr},
      {"SELECT ID FROM emp WHERE ID BETWEEN 1 OR 2", msgIncompatibleTypes, "37000", nullptr},
      {"SELECT ID FROM emp WHERE ID IN 1", msgMissingLeftParen, "37000", nullptr},
      {"SELECT ID FROM emp WHERE ID IN ()", msgValueExpected, "37000", nullptr},
      {"SELECT ID FROM emp WHERE ID IN (1, 2", msgMissingRightParen, "37000", nullptr},
      {"SELECT ID FROM emp WHERE ID IN (1,, 2)", msgValueExpected, "37000", nullptr},
      {"SELECT ID FROM emp WHERE (ID = 1", msgMissingRightParen, "37000", nullptr},
      {"SELECT ID FROM emp WHERE ID = ", msgValueExpected, "37000", nullptr},
      {"SELECT ID FROM emp WHERE ID = 1 1", msgInvalidOperator, "37000", "Invalid operator: 1"},
      {"SELECT IIF(ACTIVE, 'a', 1) FROM emp", msgIifTypes, "37000", nullptr},
      {"SELECT UPPER(ID) FROM emp", msgWrongArgumentType, "37000", "Argument has wrong data type in function: UPPER"},
      {"SELECT UPPER(NAME, DEPT) FROM emp", msgArgumentCount, "37000", nullptr},
      {"SELECT LEFT(NAME) FROM emp", msgArgumentCount, "37000", nullptr},
      {"SELECT DATE(1) FROM emp", msgArgumentCount, "37000", nullptr},
      {"SELECT ID FROM emp WHERE EXISTS (1)", msgArgumentCount, "37000", nullptr},
      {"SELECT ID FROM emp WHERE EXISTS ()", msgValueExpected, "37000", nullptr},
      {"SELECT ID FROM emp WHERE HIRED = 1", msgIncompatibleTypes, "37000", "Incompatible datatypes in expression : ="},
      {"SELECT ID FROM emp WHERE NAME > ID", msgIncompatibleTypes, "37000", nullptr},
      {"SELECT ID + 'a' FROM emp", msgIncompatibleTypes, "37000", nullptr},
      {"SELECT -NAME FROM emp", msgIncompatibleTypes, "37000", nullptr},
      {"SELECT ID FROM emp WHERE NOTE = 'x'", msgLongInExpression, "37000", nullptr},
      {"SELECT ID FROM emp WHERE XID = 1", msgFieldNotFound, "S0022", "Field not found: XID"},
      {"SELECT e.ID FROM emp e WHERE x.ID = 1", msgFieldNotFound, "S0022", "Field not found: X.ID"},
      {"SELECT e.ID FROM emp e, dept d WHERE ID = 1", msgDuplicateField, "S0022",
       "More than one field has this name: ID"},
      {"SELECT e.ID FROM emp e, dept d WHERE ROWID = 1", msgDuplicateField, "S0022", nullptr},
      {"SELECT ID FROM emp WHERE ID > ANY (1, 2)", msgMissingClause, "37000", "Missing SQL Clause:  SELECT."},
      {"SELECT ID FROM emp WHERE ID > NOT ANY (SELECT ID FROM dept)", msgInvalidOperator, "37000", nullptr},
      {"SELECT ID FROM emp WHERE ID ANY (SELECT ID FROM dept)", msgInvalidOperator, "37000", nullptr},
      {"SELECT ID FROM emp WHERE ID LIKE ANY (SELECT ID FROM dept)", msgInvalidOperator, "37000", nullptr},
      {"SELECT ID FROM emp WHERE ID = ANY (SELECT ID FROM dept) + 1", msgIncompatibleTypes, "37000", nullptr},
      {"SELECT ID FROM emp WHERE NAME IN (SELECT ID FROM dept)", msgIncompatibleTypes, "37000", nullptr},
      {"SELECT ID FROM emp WHERE ID IN (SELECT * FROM dept)", msgSubqueryFields, "37000", nullptr},
      {"SELECT ID FROM emp WHERE ID IN (SELECT ID, DEPT FROM dept)", msgSubqueryFields, "37000", nullptr},
      {"SELECT ID FROM emp WHERE ID = (SELECT ID FROM dept", msgMissingRightParen, "37000", nullptr},
      {"SELECT ID FROM emp WHERE ID IN (SELECT ID FROM dept ORDER BY ID)", msgExtraCharacters, "37000", nullptr},
      {"SELECT ID FROM emp WHERE {02/30/1995} = HIRED", msgBadDay, "37000", nullptr},
      {"SELECT ID FROM emp WHERE {25:00:00} = HIRED", msgBadHour, "37000", nullptr},
      {"SELECT ID FROM emp WHERE NAME = 'open", 2703, "37000", nullptr},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(prepare(c.statement), kvFailure) << c.statement;
    EXPECT_EQ(lastError(), c.message) << c.statement;
    EXPECT_EQ(lastState(), c.state) << c.statement;
    if (c.text) {
      EXPECT_EQ(lastText(), c.text) << c.statement;
    }
    EXPECT_EQ(statement_->getHeadDescriptor(), nullptr) << c.statement << ": nothing stays prepared";
  }
}

// The outermost expression is the first of at most 25 levels.
TEST_F(FlatCompilerTest, NestingLimit) {
  auto nested = [](int n) { return std::string(size_t(n), '(') + "ID = 1" + std::string(size_t(n), ')'); };
  EXPECT_EQ(prepare("SELECT ID FROM emp WHERE " + nested(24)), kvSuccess);
  EXPECT_EQ(prepare("SELECT ID FROM emp WHERE " + nested(25)), kvFailure);
  EXPECT_EQ(lastError(), msgNestedTooDeeply);
  EXPECT_EQ(lastText(), "Parentheses nested too deeply.  Maximum nesting depth is 25.");
  // Function arguments count as levels; an aggregate's argument starts anew.
  std::string functions = "ID";
  for (int i = 0; i < 24; ++i) functions = "INT(" + functions + ")";
  EXPECT_EQ(prepare("SELECT " + functions + " FROM emp"), kvSuccess);
  EXPECT_EQ(prepare("SELECT INT(" + functions + ") FROM emp"), kvFailure);
  EXPECT_EQ(prepare("SELECT SUM(" + functions + ") FROM emp"), kvSuccess);
}

// Text that would run the parser's own stack out, or that the old fixed
// code buffers could not hold, ends in a diagnostic.
TEST_F(FlatCompilerTest, HostileText) {
  auto repeat = [](const std::string& part, int n) {
    std::string text;
    for (int i = 0; i < n; ++i) text += part;
    return text;
  };
  EXPECT_EQ(prepare("SELECT " + repeat("(", 100000) + "1" + repeat(")", 100000) + " FROM emp"), kvFailure);
  EXPECT_EQ(lastError(), msgNestedTooDeeply);
  EXPECT_EQ(prepare("SELECT " + repeat("SUM(", 100000) + "SAL" + repeat(")", 100000) + " FROM emp"), kvFailure);
  EXPECT_EQ(lastError(), msgNestedAggregate);
  EXPECT_EQ(prepare("SELECT ID FROM emp WHERE ID IN " + repeat("(SELECT ID FROM emp WHERE ID IN ", 1000) + "(1)" +
                    repeat(")", 1000)),
            kvFailure);
  EXPECT_EQ(lastError(), msgNestedTooDeeply);
  // The deepest text the limits allow: subqueries as deep as they may nest,
  // each condition nested as deep as it may be.
  std::string deepest = "1 = 1";
  for (int level = 0; level < flatMaxQueryDepth; ++level)
    deepest = "ID IN (SELECT ID FROM emp WHERE " + repeat("(", 22) + deepest + repeat(")", 22) + ")";
  EXPECT_EQ(prepare("SELECT ID FROM emp WHERE " + deepest), kvSuccess) << lastText();
  EXPECT_EQ(prepare("SELECT " + repeat("NOT -", 1000) + "1 FROM emp"), kvFailure);
  // 33 terms (the old select-item buffer's length + 256 bytes held fewer)
  // and an IN list of 300 values compile; 5000 terms pass the program limit.
  EXPECT_EQ(prepare("SELECT 1" + repeat("+1", 32) + " FROM emp"), kvSuccess);
  EXPECT_EQ(item(0)->precision, 8u);
  std::string list = "0";
  for (int i = 1; i < 300; ++i) list += "," + std::to_string(i);
  EXPECT_EQ(prepare("SELECT ID FROM emp WHERE ID IN (" + list + ")"), kvSuccess);
  EXPECT_EQ(prepare("SELECT 1" + repeat("+1", 5000) + " FROM emp"), kvFailure);
  EXPECT_EQ(lastError(), msgExpressionLimit);
}

TEST_F(FlatCompilerTest, TypesAndWidths) {
  struct Case {
    const char* expression;
    int16_t sqlType;
    uint32_t precision;
  } cases[] = {
      {"ID + 1", SQL_DOUBLE, 8},
      {"HIRED + 1", SQL_DATE, 8},
      {"HIRED - HIRED", SQL_DOUBLE, 8},
      {"NAME + DEPT", SQL_VARCHAR, 14},
      {"'AB' + 'CD'", SQL_VARCHAR, 4},
      {"SUBSTR(NAME, 3)", SQL_VARCHAR, 8},
      {"SUBSTR(NAME, 3, 2)", SQL_VARCHAR, 2},
      {"LEFT(NAME, 4)", SQL_VARCHAR, 4},
      {"RIGHT('ABC', 5)", SQL_VARCHAR, 3},
      {"UPPER(NAME)", SQL_VARCHAR, 10},
      {"SPACE(7)", SQL_VARCHAR, 7},
      {"STR(SAL, 6, 2)", SQL_VARCHAR, 6},
      {"STR(SAL)", SQL_VARCHAR, 10},
      {"DTOC(HIRED)", SQL_VARCHAR, 10},
      {"DTOS(HIRED)", SQL_VARCHAR, 8},
      {"CHR(65)", SQL_VARCHAR, 1},
      {"STRVAL(ID)", SQL_VARCHAR, 25},
      {"LEN(NAME)", SQL_DOUBLE, 8},
      {"ID = 1", SQL_BIT, 1},
      {"NULL", SQL_DOUBLE, 1},
      {"IIF(ACTIVE, NAME, 'x')", SQL_VARCHAR, 10},
      {"{07/04/1995}", SQL_DATE, 8},
      {"{07/04/1995 10:30:00}", SQL_TIMESTAMP, 8},
      {"{10:30:00}", SQL_TIME, 8},
      {"DATE()", SQL_DATE, 8},
      {"TIME()", SQL_TIME, 8},
      {"USERNAME()", SQL_VARCHAR, 25},
      {"MAX(SAL, 1)", SQL_DOUBLE, 8},
      {"COUNT(*)", SQL_DOUBLE, 8},
      {"MAX(NAME)", SQL_VARCHAR, 10},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(prepare(std::string("SELECT ") + c.expression + " FROM emp"), kvSuccess) << c.expression << " "
                                                                                          << lastError();
    EXPECT_EQ(item(0)->sqlType, c.sqlType) << c.expression;
    EXPECT_EQ(item(0)->precision, c.precision) << c.expression;
    EXPECT_STREQ(kvC(item(0)->name), c.expression);
  }
  EXPECT_EQ(value("{10:30:00}"), "0000-00-00+0.437500");
}

TEST_F(FlatCompilerTest, ParameterTypesFromTheirContext) {
  struct Case {
    const char* condition;
    std::vector<int16_t> types;
  } cases[] = {
      {"ID = ?", {SQL_DOUBLE}},
      {"? < NAME", {SQL_VARCHAR}},
      {"NAME LIKE ?", {SQL_VARCHAR}},
      {"HIRED BETWEEN ? AND ?", {SQL_DATE, SQL_DATE}},
      {"? BETWEEN 1 AND ?", {SQL_DOUBLE, SQL_DOUBLE}},
      {"? + 1 > 2", {SQL_DOUBLE}},
      {"HIRED + ? > HIRED", {SQL_DOUBLE}},
      {"UPPER(?) = 'A' AND ACTIVE = ?", {SQL_VARCHAR, SQL_BIT}},
      {"ID IN (?, 3) OR NAME = ?", {SQL_DOUBLE, SQL_VARCHAR}},
      {"NOT ?", {SQL_BIT}},
      {"IIF(ACTIVE, ?, 1) = 2", {SQL_DOUBLE}},
      {"? IS NULL", {0}},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(prepare(std::string("SELECT ID FROM emp WHERE ") + c.condition), kvSuccess) << c.condition;
    FlatParamValues* params = statement_->getParamValues();
    ASSERT_EQ(params->getCount(), c.types.size()) << c.condition;
    EXPECT_EQ(statement_->getParameterCount(), c.types.size()) << c.condition;
    for (uint16_t i = 0; i < c.types.size(); ++i) EXPECT_EQ(params->find(i)->markerType, c.types[i]) << c.condition;
  }
  // Markers are numbered in the order of the text, HAVING before WHERE too.
  ASSERT_EQ(prepare("SELECT DEPT FROM emp HAVING COUNT(*) > ? WHERE NAME = ? GROUP BY DEPT"), kvSuccess);
  EXPECT_EQ(statement_->getParamValues()->find(0)->markerType, SQL_DOUBLE);
  EXPECT_EQ(statement_->getParamValues()->find(1)->markerType, SQL_VARCHAR);
}

TEST_F(FlatCompilerTest, AggregateRecords) {
  ASSERT_EQ(prepare("SELECT SUM(SAL), SUM(SAL) + 1, SUM(DISTINCT SAL), COUNT(*), MAX(NAME), MIN(DISTINCT ID) "
                    "FROM emp"),
            kvSuccess);
  KvArray& records = head()->getAggregates();
  ASSERT_EQ(records.getCount(), 5);
  struct Expected {
    uint16_t flags;
    uint16_t size;
    uint32_t offset;
  } expected[] = {
      {FlatAggField::aggSum, 8, 0},
      {FlatAggField::aggSum | FlatAggField::aggDistinct, 8, 12},
      {FlatAggField::aggCount, 2, 24},
      {FlatAggField::aggMax, 11, 30},
      {FlatAggField::aggMin, 8, 45},
  };
  for (uint16_t i = 0; i < 5; ++i) {
    auto* record = static_cast<FlatAggField*>(records.getAt(i));
    EXPECT_EQ(record->flags, expected[i].flags) << i;
    EXPECT_EQ(record->size, expected[i].size) << i;
    EXPECT_EQ(record->offset, expected[i].offset) << i;
    EXPECT_EQ(record->count, 0u);
  }
  EXPECT_EQ(head()->getAggregateRowBytes(), 57u);
  EXPECT_TRUE(head()->getFlags() & FlatSqlDesc::flagDistinctAggregate);
  const auto* count = static_cast<FlatAggField*>(records.getAt(2));
  const uint8_t countAll[] = {opText, 'A', 0, opEnd};
  ASSERT_EQ(count->programLength, sizeof(countAll));
  EXPECT_EQ(std::memcmp(count->program, countAll, sizeof(countAll)), 0);
  EXPECT_EQ(listing(item(1)->code), "51:0 n1 11");
}

TEST_F(FlatCompilerTest, ColumnsOfEnclosingQueries) {
  ASSERT_EQ(prepare("SELECT ID FROM dept WHERE EXISTS (SELECT ID FROM emp WHERE emp.DEPT = dept.DEPT)"), kvSuccess);
  FlatSqlDesc* sub = static_cast<FlatSqlDesc*>(head()->getSubqueries().getAt(0));
  EXPECT_TRUE(sub->isCorrelated());
  EXPECT_EQ(sub->getParent(), head());
  EXPECT_EQ(head()->getFlags() & (FlatSqlDesc::flagHasSubqueries | FlatSqlDesc::flagCorrelatedSubquery),
            FlatSqlDesc::flagHasSubqueries | FlatSqlDesc::flagCorrelatedSubquery);
  EXPECT_EQ(listing(sub->getWhereCode()), "c2.2 c1.1 21");

  ASSERT_EQ(prepare("SELECT ID FROM dept WHERE ID IN (SELECT ID FROM emp WHERE DEPT = 'ACCT')"), kvSuccess);
  sub = static_cast<FlatSqlDesc*>(head()->getSubqueries().getAt(0));
  EXPECT_FALSE(sub->isCorrelated());
  EXPECT_EQ(head()->getFlags() & FlatSqlDesc::flagCorrelatedSubquery, 0u);
  // A name resolves at the first level that has it: ID is the subquery's.
  EXPECT_EQ(listing(sub->getWhereCode()), "c2.2 'ACCT' 21");
  // Qualifiers: a correlation name, the table's name, back-quoted names.
  EXPECT_EQ(whereListing("emp.ID = 1 AND `NAME` = 'x' AND e.ROWID = 1", "emp e"), "ERROR 3923");
  EXPECT_EQ(whereListing("EMP.ID = 1 AND `NAME` = 'x' AND ROWID = 1"), "c1.0 n1 21 c1.1 'x' 21 28 50 n1 21 28");
  EXPECT_EQ(whereListing("e.ID = 1 AND e.`NAME` = 'x' AND `e`.DEPT = 'y'", "emp e"),
            "c1.0 n1 21 c1.1 'x' 21 28 c1.2 'y' 21 28");
}

TEST_F(FlatCompilerTest, OrderByItems) {
  ASSERT_EQ(prepare("SELECT ID, NAME, SAL * 2 FROM emp ORDER BY 3 DESC, NAME, ID ASC, UPPER(DEPT) DESC"), kvSuccess);
  KvArray& items = head()->getOrderItems();
  ASSERT_EQ(items.getCount(), 4);
  const char* programs[] = {"c1.3 n2 13", "c1.1", "c1.0", "c1.2 32"};
  const uint16_t descending[] = {1, 0, 0, 1};
  for (uint16_t i = 0; i < 4; ++i) {
    auto* order = static_cast<FlatOrderItem*>(items.getAt(i));
    EXPECT_EQ(listing(order->code), programs[i]) << i;
    EXPECT_EQ(order->descending, descending[i]) << i;
  }
  EXPECT_TRUE(statement_->getEngineFlags() & FlatStatement::stmtSorted);
  EXPECT_STREQ(kvC(statement_->getOrderByText()), " 3 DESC, NAME, ID ASC, UPPER(DEPT) DESC");
  EXPECT_EQ(prepare("SELECT ID FROM emp ORDER BY NAME XYZ"), kvFailure);
  EXPECT_EQ(lastError(), msgOrderBySyntax);
  EXPECT_EQ(lastText(), "Syntax error in ORDER BY clause: XYZ");
}

}  // namespace
