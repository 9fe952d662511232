// SQLGetInfo: the default table, the driver's chain in front of it, the
// rules between related types and the WorkArounds rewrites.
#include "tests/base/base_test_support.h"

#include "util/memory/ram.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

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
    KV_INFO_TEXT_LIST(SQL_KEYWORDS, keywordList),
};
const BaseInfoTable chained = {1, &withQualifiers, chainedRows};
const BaseInfoRow deleteRows[] = {KV_INFO_U16(SQL_CURSOR_COMMIT_BEHAVIOR, SQL_CB_DELETE),
                                   KV_INFO_U16(SQL_CURSOR_ROLLBACK_BEHAVIOR, SQL_CB_DELETE)};
const BaseInfoTable deletesCursors = {2, nullptr, deleteRows};
const BaseInfoRow oneConnectionRows[] = {KV_INFO_U16(SQL_ACTIVE_CONNECTIONS, 1)};
const BaseInfoTable oneConnection = {1, nullptr, oneConnectionRows};

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
  // Each case asks a type whose answer without the bit differs from the
  // rewritten one, so that a missing rewrite shows.
  struct Case {
    const BaseInfoTable* chain;
    uint32_t workArounds;
    SQLUSMALLINT type;
    uint32_t plain, rewritten;
  } cases[] = {
      {&withQualifiers, 0x2, SQL_MAX_QUALIFIER_NAME_LEN, 30, 0},
      {&deletesCursors, 0x1, SQL_CURSOR_COMMIT_BEHAVIOR, SQL_CB_DELETE, SQL_CB_CLOSE},
      {&deletesCursors, 0x1, SQL_CURSOR_ROLLBACK_BEHAVIOR, SQL_CB_DELETE, SQL_CB_CLOSE},
      {&oneConnection, 0x4, SQL_ACTIVE_CONNECTIONS, 1, 0},
      {&oneConnection, 0x100, SQL_ACTIVE_CONNECTIONS, 1, 0},
  };
  for (const Case& c : cases) {
    connection_->setInfoChain(c.chain);
    connection_->setWorkArounds(0);
    EXPECT_EQ(number(c.type), c.plain) << c.type;
    connection_->setWorkArounds(c.workArounds);
    EXPECT_EQ(number(c.type), c.rewritten) << c.type << " with " << c.workArounds;
  }
  // 0x100 makes the internal lookup count an answer of 0 as 1, while the
  // application is told 0.
  connection_->setInfoChain(nullptr);
  connection_->setWorkArounds(0x100);
  void* value = nullptr;
  BaseInfoValType kind;
  unsigned owned = 0;
  ASSERT_EQ(connection_->getInfo(SQL_ACTIVE_CONNECTIONS, &value, &kind, &owned), kvSuccess);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(value), 1u);
  EXPECT_EQ(number(SQL_ACTIVE_CONNECTIONS), 0u);
}

// ODBC fixes the width of every numeric answer: 16-bit types take two
// bytes, 32-bit types four, and texts are terminated. Every type the
// connection answers keeps its width, whichever table or rule answers it.
TEST_F(InfoTest, EveryTypeIsAnsweredInItsOdbcWidth) {
  const std::set<SQLUSMALLINT> sixteenBit = {0,  1,  9,  12, 15, 22, 23, 24, 28, 30, 31, 32, 33, 34, 35,
                                             46, 74, 75, 84, 85, 88, 93, 97, 98, 99, 100, 101, 106, 107, 114};
  const std::set<SQLUSMALLINT> thirtyTwoBit = {8,  26, 43, 44, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60,
                                               61, 62, 63, 64, 65, 66, 67, 68, 69, 70, 71, 72, 78, 79, 80, 81, 82,
                                               83, 86, 91, 92, 95, 96, 102, 104, 105, 108, 109, 110, 112};
  int answered = 0;
  for (const BaseInfoTable* chain : {static_cast<const BaseInfoTable*>(nullptr), &withQualifiers}) {
    connection_->setInfoChain(chain);
    for (SQLUSMALLINT type = 0; type <= SQL_QUALIFIER_LOCATION; ++type) {
      if (type == SQL_DRIVER_HDBC || type == SQL_DRIVER_HENV || type == SQL_DRIVER_HSTMT ||
          type == SQL_DRIVER_HLIB)
        continue;  // handles are the Driver Manager's business
      unsigned char value[256];
      std::memset(value, 0xAA, sizeof(value));
      SQLSMALLINT length = -1;
      SQLRETURN rc = connection_->SQLGetInfo(type, value, sizeof(value), &length);
      if (rc == SQL_ERROR) {
        EXPECT_EQ(nextDiagnostic(connection_->getErrorList()).state, "S1C00") << type;
        continue;
      }
      ++answered;
      if (sixteenBit.count(type)) {
        EXPECT_EQ(length, 2) << type;
        EXPECT_EQ(value[2], 0xAA) << type << ": nothing written behind the number";
      } else if (thirtyTwoBit.count(type)) {
        EXPECT_EQ(length, 4) << type;
        EXPECT_EQ(value[4], 0xAA) << type;
      } else {
        EXPECT_EQ(length, SQLSMALLINT(std::strlen(reinterpret_cast<char*>(value)))) << type << " is a text";
      }
    }
  }
  EXPECT_GT(answered, 180);
  uint16_t maxUserName = 0xAAAA;
  SQLSMALLINT length = 0;
  ASSERT_EQ(connection_->SQLGetInfo(SQL_MAX_USER_NAME_LEN, &maxUserName, sizeof(maxUserName), &length), SQL_SUCCESS);
  EXPECT_EQ(maxUserName, 0) << "no limit is known";
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
