// Statement-option defaults held on the connection: values keep the full
// SQLULEN width ODBC passes, limits lower them, and new statements copy them.
#include "base_test_support.h"

#include <gtest/gtest.h>

namespace {

class StmtDefaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = new BaseEnv(1);
    connection_ = new UnitConnection(env_);
    KvErrorKeeper::setErrorList(&connection_->getErrorList());
  }
  void TearDown() override {
    KvErrorKeeper::giveUpErrorList();
    delete connection_;
    delete env_;
  }
  BaseEnv* env_ = nullptr;
  UnitConnection* connection_ = nullptr;
};

const SQLULEN beyond32Bits = SQLULEN(0x100000001ull);

TEST_F(StmtDefaultsTest, ValuesKeepTheirFullWidth) {
  struct Case {
    uint16_t option;
    int word;
  } cases[] = {
      {SQL_MAX_ROWS, optWordMaxRows},
      {SQL_MAX_LENGTH, optWordMaxLength},
      {SQL_ROWSET_SIZE, optWordRowsetSize},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(connection_->setConnectOption(c.option, beyond32Bits), kvSuccess) << c.option;
    EXPECT_EQ(connection_->getStmtDefaults()[c.word], beyond32Bits) << c.option;
  }
  EXPECT_EQ(connection_->getErrorList().getCount(), 0u) << "nothing was lowered";
  UnitStatement statement(connection_);
  for (const Case& c : cases) EXPECT_EQ(statement.getOptions()[c.word], beyond32Bits) << c.option;
}

TEST_F(StmtDefaultsTest, ValuesAboveALimitAreLowered) {
  connection_->setLimits(0, 1000, 0);
  struct Case {
    uint16_t option;
    int word;
    SQLULEN value, stored;
  } cases[] = {
      {SQL_MAX_ROWS, optWordMaxRows, beyond32Bits, 1000},
      {SQL_MAX_ROWS, optWordMaxRows, 999, 999},
      {SQL_BIND_TYPE, optWordBindType, beyond32Bits, 0xFFFFFFFFu},
  };
  for (const Case& c : cases) {
    connection_->getErrorList().clearErrors();
    ASSERT_EQ(connection_->setConnectOption(c.option, c.value), kvSuccess) << c.value;
    EXPECT_EQ(connection_->getStmtDefaults()[c.word], c.stored) << c.value;
    bool lowered = c.stored != c.value;
    EXPECT_EQ(connection_->getErrorList().getCount(), lowered ? 1u : 0u) << c.value;
    if (lowered) {
      EXPECT_EQ(nextDiagnostic(connection_->getErrorList()).state, "01S02");
    }
  }
}

}  // namespace
