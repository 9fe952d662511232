// The statement's conversion operations: the column or parameter record
// describes the value, every message names the column or parameter, the
// SQLGetData offset is honoured, output parameters land in the bound buffer.
#include "base/results/base_field.h"
#include "base/handles/base_out_string.h"
#include "tests/base/base_test_support.h"
#include "tests/base/convert_test_support.h"

#include <cstring>

namespace {

class ConvertingStatement : public UnitStatement {
 public:
  using UnitStatement::UnitStatement;
  using BaseStatement::fieldCount_;
  using BaseStatement::fields_;
  using BaseStatement::params_;
};

class StmtConvertTest : public ConvertTest {
 protected:
  void SetUp() override {
    ConvertTest::SetUp();
    env_ = new BaseEnv(1);
    connection_ = new UnitConnection(env_);
    statement_ = new ConvertingStatement(connection_);
    ASSERT_EQ(statement_->allocArrays(2, arrayFields | arrayParams), kvSuccess);
    for (int i = 0; i < 2; ++i) {
      statement_->fields_[i] = new BaseField();
      statement_->params_[i] = new BaseParam();
    }
    statement_->fieldCount_ = 2;
    statement_->fields_[0]->sqlType = SQL_VARCHAR;
    statement_->fields_[0]->precision = 20;
    statement_->fields_[1]->sqlType = SQL_SMALLINT;
  }
  void TearDown() override {
    delete connection_;
    delete env_;
    ConvertTest::TearDown();
  }
  BaseEnv* env_ = nullptr;
  UnitConnection* connection_ = nullptr;
  ConvertingStatement* statement_ = nullptr;
};

TEST_F(StmtConvertTest, MessagesNameTheColumn) {
  char buffer[8];
  SQLLEN length = 0;
  BaseOutString out(buffer, SQLLEN(sizeof(buffer)), &length);
  const int32_t big = 70000;
  EXPECT_NE(statement_->convertInternalToC(2, SQL_C_SHORT, &out, &big, 4, itSLong), kvSuccess);
  EXPECT_EQ(lastText(), "Numeric value out of range. Error in column 2.");
  EXPECT_EQ(statement_->convertInternalToC(1, SQL_C_CHAR, &out, "abcdefghij", 10, itChar), kvSuccess);
  EXPECT_EQ(lastText(), "Data truncated. Error in column 1.");
  EXPECT_NE(statement_->convertInternalToC(2, SQL_C_DATE, &out, &big, 4, itSLong), kvSuccess);
  EXPECT_EQ(lastText(), "Datetime field overflow. Error in column 2.");
  EXPECT_EQ(takeDiagnostics(), (std::vector<std::string>{"22003", "w01004", "22008"}));

  EXPECT_NE(statement_->convertInternalToC(3, SQL_C_CHAR, &out, "x", 1, itChar), kvSuccess);
  EXPECT_NE(statement_->convertInternalToC(0, SQL_C_CHAR, &out, "x", 1, itChar), kvSuccess);
  EXPECT_EQ(takeDiagnostics(), (std::vector<std::string>{"S1002", "S1002"}));
}

TEST_F(StmtConvertTest, ReadsFromTheGetDataOffset) {
  char buffer[8];
  SQLLEN length = 0;
  BaseOutString out(buffer, SQLLEN(sizeof(buffer)), &length);
  statement_->setGetDataOffset(7);
  ASSERT_EQ(statement_->convertInternalToC(1, SQL_C_CHAR, &out, "abcdefghij", 10, itChar), kvSuccess);
  EXPECT_STREQ(buffer, "hij");
  EXPECT_EQ(length, 3);
  const unsigned char bytes[] = {1, 2, 3, 4};
  ASSERT_EQ(statement_->convertInternalToCHuge(1, SQL_C_BINARY, &out, bytes, 4, itBinary), kvSuccess);
  EXPECT_EQ(length, 0) << "nothing is left past the offset";
  EXPECT_TRUE(takeDiagnostics().empty());
}

TEST_F(StmtConvertTest, OutputParameterLandsInTheBoundBuffer) {
  char value[4];
  SQLLEN length = 0;
  BaseParam& param = *statement_->params_[1];
  param.cType = SQL_C_CHAR;
  param.sqlType = SQL_INTEGER;
  param.value = value;
  param.bufferSize = sizeof(value);
  param.length = &length;
  const int32_t answer = 42;
  ASSERT_EQ(statement_->convertInternalToC(2, &answer, 4, itSLong), kvSuccess);
  EXPECT_STREQ(value, "42");
  EXPECT_EQ(length, 2);
  const int32_t tooLong = 12345;
  EXPECT_NE(statement_->convertInternalToC(2, &tooLong, 4, itSLong), kvSuccess);
  EXPECT_EQ(lastText(), "Numeric value out of range. Error in parameter 2.");
  statement_->params_[0]->cType = SQL_C_GUID;
  EXPECT_NE(statement_->convertInternalToC(1, &answer, 4, itSLong), kvSuccess);
  EXPECT_EQ(takeDiagnostics(), (std::vector<std::string>{"22003", "S1003"}));
}

TEST_F(StmtConvertTest, InputParameterNamesItself) {
  BaseParam& param = *statement_->params_[0];
  param.cType = SQL_C_WCHAR;
  param.sqlType = SQL_WVARCHAR;
  param.precision = 10;
  const unsigned char wide[] = {'o', 0, 'k', 0, 0, 0};
  char out[8];
  int32_t length = 0;
  ASSERT_EQ(statement_->convertCToInternal(1, wide, SQL_NTS, itChar, out, &length, sizeof(out)), kvSuccess);
  EXPECT_EQ(std::string(out, length), "ok");
  const unsigned char omega[] = {0xA9, 0x03};
  EXPECT_NE(statement_->convertCToInternal(1, omega, 2, itChar, out, &length, sizeof(out)), kvSuccess);
  EXPECT_EQ(lastText(),
            "The character U+03A9 has no equivalent in the data source's character set. Error in parameter 1.");
  EXPECT_NE(statement_->convertCToInternal(3, wide, 4, itChar, out, &length, sizeof(out)), kvSuccess);
  EXPECT_EQ(takeDiagnostics(), (std::vector<std::string>{"22005", "S1093"}));
}

}  // namespace
