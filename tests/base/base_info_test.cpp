// SQLGetInfo: the default table, the driver's chain in front of it, the
// rules between related types and the WorkArounds rewrites.
#include "base_test_support.h"

#include "util/ram.h"

#include <gtest/gtest.h>

namespace {

const BaseInfoRow noQualifierRows[] = {
    KV_INFO_U16(SQL_MAX_OWNER_NAME_LEN, 0),
    KV_INFO_U16(SQL_MAX_QUALIFIER_NAME_LEN, 0),
};
const BaseInfoTable noQualifiers = {2, nullptr, noQualifierRows};

const BaseInfoRow qualifierRows[] = {
    KV_INFO_TEXT(SQL_IDENTIFIER_QUOTE_CHAR, "\""),
    KV_INFO_U16(SQL_MAX_OWNER_NAME_LEN, 30),
    KV_INFO_U16(SQL_MAX_PROCEDURE_NAME_LEN, 30),
    KV_INFO_U16(SQL_MAX_QUALIFIER_NAME_LEN, 30),
};
const BaseInfoTable withQualifiers = {4, nullptr, qualifierRows};
const unsigned char* keywordList[] = {kvU("A,"), kvU("B"), nullptr};
const BaseInfoRow chainedRows[] = {
    {uint16_t(SQL_KEYWORDS), reinterpret_cast<uintptr_t>(keywordList), infoTextList},
};
const BaseInfoTable chained = {1, &withQualifiers, chainedRows};
const BaseInfoRow deleteRows[] = {KV_INFO_U16(SQL_CURSOR_COMMIT_BEHAVIOR, SQL_CB_DELETE)};
const BaseInfoTable deletesCursors = {1, nullptr, deleteRows};

class InfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = new BaseEnv(1);
    connection_ = new UnitConnection(env_);
  }
  void TearDown() override {
    delete connection_;
    delete env_;
  }
  std::string text(SQLUSMALLINT type) {
    char value[256] = {0};
    SQLSMALLINT length = 0;
    EXPECT_EQ(connection_->SQLGetInfo(type, value, sizeof(value), &length), SQL_SUCCESS) << type;
    return value;
  }
  uint32_t number(SQLUSMALLINT type) {
    unsigned char value[8] = {0};
    SQLSMALLINT length = 0;
    EXPECT_EQ(connection_->SQLGetInfo(type, value, 0, &length), SQL_SUCCESS) << type;
    if (length == 2) return *reinterpret_cast<uint16_t*>(value);
    EXPECT_EQ(length, 4) << type;
    return *reinterpret_cast<uint32_t*>(value);
  }
  BaseEnv* env_ = nullptr;
  UnitConnection* connection_ = nullptr;
};

TEST_F(InfoTest, DefaultTableHas111RowsInOrder) {
  const BaseInfoTable& table = baseDefaultInfoTable();
  EXPECT_EQ(table.rowCount, 111u);
  uint32_t odbcRows = 0;
  for (uint32_t i = 0; i < table.rowCount; ++i) {
    if (table.rows[i].type < 1000) ++odbcRows;
    if (i) {
      EXPECT_LT(table.rows[i - 1].type, table.rows[i].type);
    }
  }
  EXPECT_EQ(odbcRows, 96u);
}

TEST_F(InfoTest, AnswersFromTheDefaults) {
  EXPECT_EQ(text(SQL_DBMS_NAME), "Unit");  // the driver's string 20101
  EXPECT_EQ(text(SQL_DRIVER_VER), "02.00.0000");
  EXPECT_EQ(text(SQL_DRIVER_ODBC_VER), "02.01");
  EXPECT_EQ(text(SQL_DRIVER_NAME), "libunit.so");
  EXPECT_EQ(text(SQL_SEARCH_PATTERN_ESCAPE), "\\");
  EXPECT_EQ(number(SQL_CURSOR_COMMIT_BEHAVIOR), 2u);
  EXPECT_EQ(number(SQL_SUBQUERIES), 0x1Fu);
  EXPECT_EQ(number(SQL_MAX_CURSOR_NAME_LEN), 18u);
  EXPECT_EQ(text(SQL_USER_NAME), "");  // answered by the connection
}

TEST_F(InfoTest, RulesWhenQualifiersOwnersAndProceduresAreAbsent) {
  connection_->setInfoChain(&noQualifiers);
  EXPECT_EQ(text(SQL_QUALIFIER_NAME_SEPARATOR), "");
  EXPECT_EQ(text(SQL_QUALIFIER_TERM), "");
  EXPECT_EQ(number(SQL_QUALIFIER_USAGE), 0u);
  EXPECT_EQ(number(SQL_QUALIFIER_LOCATION), 0u);
  EXPECT_EQ(text(SQL_OWNER_TERM), "");
  EXPECT_EQ(number(SQL_OWNER_USAGE), 0u);
  EXPECT_EQ(text(SQL_PROCEDURES), "N");
  EXPECT_EQ(text(SQL_PROCEDURE_TERM), "");
  EXPECT_EQ(number(SQL_QUOTED_IDENTIFIER_CASE), 0u);  // the quote is a blank
}

TEST_F(InfoTest, DriverChainComesFirst) {
  connection_->setInfoChain(&chained);
  EXPECT_EQ(text(SQL_QUALIFIER_NAME_SEPARATOR), ".");
  EXPECT_EQ(text(SQL_QUALIFIER_TERM), "qualifier");
  EXPECT_EQ(text(SQL_OWNER_TERM), "owner");
  EXPECT_EQ(number(SQL_QUOTED_IDENTIFIER_CASE), 3u);
  EXPECT_EQ(text(SQL_KEYWORDS), "A,B");
  EXPECT_EQ(text(1011), "A,B") << "the private keywords type is answered as SQL_KEYWORDS";
}

TEST_F(InfoTest, UnknownTypeIsNotCapable) {
  char value[16];
  SQLSMALLINT length;
  EXPECT_EQ(connection_->SQLGetInfo(10002, value, sizeof(value), &length), SQL_ERROR);
  EXPECT_EQ(nextDiagnostic(connection_->getErrorList()).state, "S1C00");
}

TEST_F(InfoTest, WorkAroundsRewriteAnswers) {
  connection_->setWorkArounds(0x100);
  void* value = nullptr;
  BaseInfoValType kind;
  unsigned owned = 0;
  ASSERT_EQ(connection_->getInfo(SQL_ACTIVE_CONNECTIONS, &value, &kind, &owned), kvSuccess);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(value), 1u);
  EXPECT_EQ(number(SQL_ACTIVE_CONNECTIONS), 0u);
  connection_->setWorkArounds(0x2);
  EXPECT_EQ(number(SQL_MAX_QUALIFIER_NAME_LEN), 0u);
  connection_->setInfoChain(&deletesCursors);
  EXPECT_EQ(number(SQL_CURSOR_COMMIT_BEHAVIOR), 0u);
  connection_->setWorkArounds(0x1);
  EXPECT_EQ(number(SQL_CURSOR_COMMIT_BEHAVIOR), 1u) << "SQL_CB_DELETE is reported as SQL_CB_CLOSE";
}

TEST_F(InfoTest, ShareCountBitsAreNotTheUsers) {
  connection_->setWorkArounds(0xF004);
  EXPECT_EQ(connection_->getWorkArounds(), 0x4u);
  for (int i = 0; i < 40; ++i) connection_->addShare();
  EXPECT_EQ(connection_->getShareCount(), 40u) << "no wrap at 16 shares";
  EXPECT_EQ(connection_->getWorkArounds(), 0x4u);
}

TEST_F(InfoTest, TruncatedTextIs01004) {
  char value[4];
  SQLSMALLINT length = 0;
  EXPECT_EQ(connection_->SQLGetInfo(SQL_DRIVER_ODBC_VER, value, sizeof(value), &length), SQL_SUCCESS_WITH_INFO);
  EXPECT_STREQ(value, "02.");
  EXPECT_EQ(length, 5);
  EXPECT_EQ(nextDiagnostic(connection_->getErrorList()).state, "01004");
}

}  // namespace
