// Cursor names: setting and reading them, the name an execution generates,
// which never collides with a sibling's, and the lookup by name.
#include "tests/base/stmt_test_support.h"

#include <gtest/gtest.h>

namespace {

class CursorNameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = new BaseEnv(1);
    connection_ = new StmtConnection(env_);
    first_ = new StmtStatement(connection_);
    second_ = new StmtStatement(connection_);
  }
  void TearDown() override {
    delete connection_;
    delete env_;
  }
  static SQLRETURN setName(BaseStatement* statement, const char* name, SQLSMALLINT length = SQL_NTS) {
    return statement->SQLSetCursorName(reinterpret_cast<SQLCHAR*>(const_cast<char*>(name)), length);
  }
  static std::string nameOf(BaseStatement* statement) {
    return statement->getCursorName() ? kvC(statement->getCursorName()) : "";
  }

  BaseEnv* env_ = nullptr;
  StmtConnection* connection_ = nullptr;
  StmtStatement* first_ = nullptr;
  StmtStatement* second_ = nullptr;
};

TEST_F(CursorNameTest, GeneratedNameFormat) {
  unsigned char name[16];
  baseCursorNameOf(0x00A1B2C3u, name);
  EXPECT_STREQ(kvC(name), "SQL_CURC3B2A100") << "lowest byte first, high digit first in each byte";
  baseCursorNameOf(0xFFFFFFFFu, name);
  EXPECT_STREQ(kvC(name), "SQL_CURFFFFFFFF");
}

TEST_F(CursorNameTest, AResultSetGivesANameAndNothingElseDoes) {
  ASSERT_EQ(execDirect(first_, "insert into t values (1)"), SQL_SUCCESS);
  EXPECT_EQ(first_->getCursorName(), nullptr);
  ASSERT_EQ(execDirect(second_, "select a from t"), SQL_SUCCESS);
  unsigned char expected[16];
  baseCursorNameOf(uint32_t(reinterpret_cast<uintptr_t>(second_)), expected);
  EXPECT_EQ(nameOf(second_), kvC(expected));
  // The name stays through a close and a new execution.
  ASSERT_EQ(second_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS);
  ASSERT_EQ(setName(first_, "MINE"), SQL_SUCCESS);
  ASSERT_EQ(first_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS);
  ASSERT_EQ(execDirect(first_, "select a from t"), SQL_SUCCESS);
  EXPECT_EQ(nameOf(first_), "MINE") << "a name the application set is kept";
}

// A sibling that already bears the name the address would give makes the
// generator take the next one.
TEST_F(CursorNameTest, GeneratedNameNeverCollides) {
  unsigned char taken[16];
  baseCursorNameOf(uint32_t(reinterpret_cast<uintptr_t>(first_)), taken);
  ASSERT_EQ(setName(second_, kvC(taken)), SQL_SUCCESS);
  ASSERT_EQ(execDirect(first_, "select a from t"), SQL_SUCCESS);
  const std::string name = nameOf(first_);
  EXPECT_NE(name, kvC(taken));
  EXPECT_EQ(name.size(), 15u);
  EXPECT_EQ(name.substr(0, 7), "SQL_CUR");
  EXPECT_EQ(name.find_first_not_of("0123456789ABCDEF", 7), std::string::npos) << name;
}

TEST_F(CursorNameTest, SetCursorNameChecks) {
  struct Case {
    const char* name;
    SQLSMALLINT length;
    const char* state;
  } cases[] = {
      {"C123456789012345678", SQL_NTS, "34000"},  // 19 characters
      {"C12345678901234567", SQL_NTS, ""},        // 18
      {"C123456789012345678", 18, ""},            // counted: the first 18
      {"", SQL_NTS, "34000"},
      {"C1", 0, "S1090"},
      {"C1", -5, "S1090"},
      {"SIBLING", SQL_NTS, "3C000"},
      {nullptr, SQL_NTS, "S1009"},
  };
  ASSERT_EQ(setName(second_, "SIBLING"), SQL_SUCCESS);
  for (const Case& c : cases) {
    SQLRETURN rc = setName(first_, c.name, c.length);
    EXPECT_EQ(rc, *c.state ? SQL_ERROR : SQL_SUCCESS) << (c.name ? c.name : "null") << " " << c.length;
    EXPECT_EQ(firstState(first_->getErrorList()), c.state) << (c.name ? c.name : "null") << " " << c.length;
  }
  EXPECT_EQ(nameOf(first_), "C12345678901234567") << "refused names change nothing";
  EXPECT_EQ(setName(second_, "SIBLING"), SQL_SUCCESS) << "its own name again";
}

TEST_F(CursorNameTest, GetCursorName) {
  SQLCHAR buffer[32];
  SQLSMALLINT length = -1;
  EXPECT_EQ(first_->SQLGetCursorName(buffer, sizeof(buffer), &length), SQL_ERROR);
  EXPECT_EQ(firstState(first_->getErrorList()), "S1015") << "no name yet";
  ASSERT_EQ(setName(first_, "ORDERS_CURSOR"), SQL_SUCCESS);
  EXPECT_EQ(first_->SQLGetCursorName(buffer, sizeof(buffer), &length), SQL_SUCCESS);
  EXPECT_STREQ(kvC(buffer), "ORDERS_CURSOR");
  EXPECT_EQ(length, 13);
  EXPECT_EQ(first_->SQLGetCursorName(buffer, 5, &length), SQL_SUCCESS_WITH_INFO);
  EXPECT_STREQ(kvC(buffer), "ORDE");
  EXPECT_EQ(length, 13) << "the full length";
  EXPECT_EQ(firstState(first_->getErrorList()), "01004");
  EXPECT_EQ(first_->SQLGetCursorName(buffer, -1, &length), SQL_ERROR);
  EXPECT_EQ(firstState(first_->getErrorList()), "S1090");
  EXPECT_EQ(first_->SQLGetCursorName(nullptr, 0, &length), SQL_SUCCESS);
  EXPECT_EQ(length, 13) << "the length alone";
}

TEST_F(CursorNameTest, FindStatementByCursorName) {
  ASSERT_EQ(setName(first_, "A"), SQL_SUCCESS);
  ASSERT_EQ(setName(second_, "AB"), SQL_SUCCESS);
  KvSubString a(kvU("ABC"), 1), ab(kvU("ABC"), 2), abc(kvU("ABC"), 3);
  EXPECT_EQ(connection_->findStmtByCursorName(&a), first_);
  EXPECT_EQ(connection_->findStmtByCursorName(&ab), second_);
  EXPECT_EQ(connection_->findStmtByCursorName(&abc), nullptr);
}

}  // namespace
