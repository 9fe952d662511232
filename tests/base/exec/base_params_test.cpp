// Parameters: SQLBindParameter's refusals, the parameter check's
// normalisations and errors, the SQLParamData/SQLPutData dialogue (order,
// pieces, limits, the driver's piece modes) and the literals of
// textualBindParam.
#include "tests/base/exec_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class ParamsTest : public StatementFixture<ExecConnection, ExecStatement> {
 protected:
  std::string text() {
    UnitDiagnostic d = nextDiagnostic(statement_->getErrorList());
    return d.text;
  }
  SQLRETURN bind(SQLUSMALLINT number, SQLSMALLINT cType, SQLSMALLINT sqlType, SQLULEN precision, SQLSMALLINT scale,
                 void* value, SQLLEN size, SQLLEN* length, SQLSMALLINT type = SQL_PARAM_INPUT) {
    return statement_->SQLBindParameter(number, type, cType, sqlType, precision, scale, value, size, length);
  }
  SQLRETURN put(const std::string& piece) {
    return statement_->SQLPutData(const_cast<char*>(piece.data()), SQLLEN(piece.size()));
  }
};

TEST_F(ParamsTest, BindingRefusesWhatItCannotSend) {
  SQLINTEGER v = 0;
  struct Case {
    SQLSMALLINT paramType;
    SQLSMALLINT cType;
    SQLSMALLINT sqlType;
    SQLLEN size;
    const char* state;
  } cases[] = {
      {SQL_PARAM_OUTPUT, SQL_C_LONG, SQL_INTEGER, 4, "S1105"},        // no output parameters here
      {SQL_PARAM_INPUT_OUTPUT, SQL_C_LONG, SQL_INTEGER, 4, "S1105"},
      {7, SQL_C_LONG, SQL_INTEGER, 4, "S1105"},
      {SQL_PARAM_OUTPUT, SQL_C_LONG, SQL_INTEGER, -1, ""},           // old style: always input
      {SQL_PARAM_INPUT, 1234, SQL_INTEGER, 4, "S1003"},
      {SQL_PARAM_INPUT, SQL_C_LONG, 1234, 4, "S1004"},
      {SQL_PARAM_INPUT, SQL_C_LONG, SQL_GUID, 4, "S1004"},
      {SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 8, ""},
      {SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 8, ""},
      {SQL_PARAM_INPUT, SQL_C_TYPE_DATE, SQL_TYPE_DATE, 6, ""},
      {SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, -5, "S1090"},
  };
  for (const Case& c : cases) {
    SQLRETURN rc = bind(1, c.cType, c.sqlType, 10, 0, &v, c.size, nullptr, c.paramType);
    EXPECT_EQ(rc, *c.state ? SQL_ERROR : SQL_SUCCESS) << c.cType << " " << c.sqlType;
    EXPECT_EQ(state(), c.state) << c.cType << " " << c.sqlType;
  }
  EXPECT_EQ(statement_->params_[0]->sqlType, SQL_DATE) << "the ODBC 3 code is taken as its ODBC 2 type";
  ASSERT_EQ(bind(1, SQL_C_WCHAR, SQL_WVARCHAR, 10, 0, &v, 8, nullptr), SQL_SUCCESS);
  EXPECT_EQ(statement_->params_[0]->sqlType, SQL_VARCHAR);
  EXPECT_EQ(bind(0, SQL_C_LONG, SQL_INTEGER, 10, 0, &v, 4, nullptr), SQL_ERROR);
  EXPECT_EQ(state(), "S1093");
}

TEST_F(ParamsTest, TheCheckCompletesTheDescription) {
  struct Case {
    SQLSMALLINT cType;
    SQLSMALLINT sqlType;
    uint32_t precision;
    int16_t scale;
    const char* state;
    const char* message;  // part of the first message
    uint32_t wantPrecision;
    int16_t wantScale;
    int16_t wantCType;
  } cases[] = {
      {SQL_C_DEFAULT, SQL_INTEGER, 99, 3, "", "", 10, 0, SQL_C_LONG},
      {SQL_C_CHAR, SQL_DOUBLE, 0, 0, "", "", 15, 0, SQL_C_CHAR},
      {SQL_C_CHAR, SQL_TINYINT, 0, 0, "", "", 3, 0, SQL_C_CHAR},
      {SQL_C_CHAR, SQL_TIMESTAMP, 16, 0, "", "", 16, -2, SQL_C_CHAR},
      {SQL_C_CHAR, SQL_TIMESTAMP, 13, 0, "", "", 13, -4, SQL_C_CHAR},
      {SQL_C_CHAR, SQL_TIMESTAMP, 23, 0, "", "", 23, 3, SQL_C_CHAR},
      {SQL_C_CHAR, SQL_TIMESTAMP, 26, 6, "", "", 26, 6, SQL_C_CHAR},
      {SQL_C_CHAR, SQL_TIMESTAMP, 17, 0, "S1104", "must have a precision of 13, 16, or 19.  Parameter number: 1, precision: 17.", 0, 0, 0},
      {SQL_C_CHAR, SQL_TIMESTAMP, 25, 3, "S1094", "You specified a precision of 25 and scale of 3.  Error in parameter 1.", 0, 0, 0},
      {SQL_C_CHAR, SQL_TIMESTAMP, 30, 10, "S1094", "", 0, 0, 0},
      {SQL_C_CHAR, SQL_VARCHAR, 0, 0, "S1104", "cannot have a precision of zero.  Error in parameter 1.", 0, 0, 0},
      {SQL_C_CHAR, SQL_DECIMAL, 0, 0, "S1104", "", 0, 0, 0},
      {SQL_C_CHAR, SQL_DECIMAL, 10, -2, "S1094", "does not allow negative scale values. Error in parameter 1.", 0, 0, 0},
      {SQL_C_DATE, SQL_INTEGER, 10, 0, "07006", "Unable to convert parameter 1.", 0, 0, 0},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(prepare(statement_, "insert into t values (?)"), SQL_SUCCESS);
    char value[32] = "12";
    SQLLEN length = SQL_NTS;
    ASSERT_EQ(bind(1, c.cType, c.sqlType, c.precision, c.scale, value, sizeof(value), &length), SQL_SUCCESS);
    SQLRETURN rc = statement_->SQLExecute();
    const std::string label = std::to_string(c.sqlType) + "/" + std::to_string(c.precision);
    if (*c.state) {
      EXPECT_EQ(rc, SQL_ERROR) << label;
      UnitDiagnostic d = nextDiagnostic(statement_->getErrorList());
      EXPECT_EQ(d.state, c.state) << label;
      EXPECT_NE(d.text.find(c.message), std::string::npos) << label << ": " << d.text;
      continue;
    }
    EXPECT_NE(rc, SQL_ERROR) << label << " " << state();
    const BaseParam* param = statement_->params_[0];
    EXPECT_EQ(param->precision, c.wantPrecision) << label;
    EXPECT_EQ(param->scale, c.wantScale) << label;
    EXPECT_EQ(param->cType, c.wantCType) << label;
  }
}

TEST_F(ParamsTest, LongLiteralsAreLoweredWithoutNativeParameters) {
  connection_->maxCharLiteral = 100;
  ASSERT_EQ(prepare(statement_, "insert into t values (?)"), SQL_SUCCESS);
  char value[] = "x";
  ASSERT_EQ(bind(1, SQL_C_CHAR, SQL_LONGVARCHAR, 5000, 0, value, 2, nullptr), SQL_SUCCESS);
  EXPECT_EQ(statement_->SQLExecute(), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(statement_->params_[0]->precision, 100u);
  UnitDiagnostic d = nextDiagnostic(statement_->getErrorList());
  EXPECT_EQ(d.state, "01000");
  EXPECT_NE(d.text.find("Parameter 1 precision exceeds the maximum literal length and will loose data"),
            std::string::npos);

  connection_->addFlags(BaseConnection::flagDriverTakesParams);
  ASSERT_EQ(bind(1, SQL_C_CHAR, SQL_LONGVARCHAR, 5000, 0, value, 2, nullptr), SQL_SUCCESS);
  EXPECT_EQ(statement_->SQLExecute(), SQL_SUCCESS) << "a driver with parameters takes any length";
}

TEST_F(ParamsTest, DataAtExecutionInOrder) {
  ASSERT_EQ(prepare(statement_, "insert into t values (?, ?, ?)"), SQL_SUCCESS);
  SQLINTEGER id = 5;
  char token2[] = "token2";
  SQLLEN atExec2 = SQL_LEN_DATA_AT_EXEC(5000);
  SQLINTEGER token3 = 0;
  SQLLEN atExec3 = SQL_DATA_AT_EXEC;
  ASSERT_EQ(bind(1, SQL_C_LONG, SQL_INTEGER, 0, 0, &id, 0, nullptr), SQL_SUCCESS);
  ASSERT_EQ(bind(2, SQL_C_CHAR, SQL_LONGVARCHAR, 0, 0, token2, 0, &atExec2), SQL_SUCCESS);
  ASSERT_EQ(bind(3, SQL_C_LONG, SQL_INTEGER, 0, 0, &token3, 0, &atExec3), SQL_SUCCESS);

  EXPECT_EQ(put("early"), SQL_ERROR);
  EXPECT_EQ(state(), "S1010");
  ASSERT_EQ(statement_->SQLExecute(), SQL_NEED_DATA);
  EXPECT_EQ(statement_->getCursorState(), cursorExecuting);
  EXPECT_EQ(statement_->params_[1]->precision, 5000u) << "the length at execution declares it";
  EXPECT_EQ(put("early"), SQL_ERROR) << "before SQLParamData named the parameter";
  EXPECT_EQ(state(), "S1010");

  SQLPOINTER token = nullptr;
  ASSERT_EQ(statement_->SQLParamData(&token), SQL_NEED_DATA);
  EXPECT_EQ(token, token2);
  EXPECT_EQ(statement_->SQLParamData(&token), SQL_ERROR) << "no data was put";
  EXPECT_EQ(state(), "S1010");
  EXPECT_EQ(statement_->SQLPutData(token2, -5), SQL_ERROR);
  UnitDiagnostic d = nextDiagnostic(statement_->getErrorList());
  EXPECT_EQ(d.state, "S1090");
  EXPECT_NE(d.text.find("Negative length given for parameter 2."), std::string::npos);
  ASSERT_EQ(put("hello "), SQL_SUCCESS);
  ASSERT_EQ(statement_->SQLPutData(const_cast<char*>("world"), SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(statement_->SQLPutData(nullptr, SQL_NULL_DATA), SQL_ERROR) << "NULL after data";
  EXPECT_EQ(state(), "S1090");

  ASSERT_EQ(statement_->SQLParamData(&token), SQL_NEED_DATA);
  EXPECT_EQ(token, &token3);
  SQLINTEGER three = 3;
  ASSERT_EQ(statement_->SQLPutData(&three, 0), SQL_SUCCESS);
  EXPECT_EQ(statement_->SQLPutData(&three, 0), SQL_ERROR) << "a number comes in one piece";
  EXPECT_EQ(state(), "22003");
  EXPECT_EQ(statement_->executions, 0);
  ASSERT_EQ(statement_->SQLParamData(&token), SQL_SUCCESS);
  EXPECT_EQ(statement_->executions, 1);

  ASSERT_EQ(statement_->bound.size(), 3u);
  EXPECT_EQ(statement_->bound[0].number, 1);
  EXPECT_EQ(statement_->bound[1].number, 2);
  EXPECT_EQ(statement_->bound[1].value, "hello world");
  EXPECT_EQ(statement_->bound[1].mode, bindWhole);
  EXPECT_EQ(statement_->bound[2].number, 3);
  EXPECT_EQ(statement_->bound[2].value, std::string("\3\0\0\0", 4));
  EXPECT_EQ(statement_->SQLParamData(&token), SQL_ERROR);
  EXPECT_EQ(state(), "S1010");
}

TEST_F(ParamsTest, PiecesMeetTheirLimits) {
  struct Case {
    SQLSMALLINT sqlType;
    SQLULEN precision;
    bool pieces;  // the driver takes long values in pieces
    std::vector<SQLRETURN> rcs;
    const char* lastState;
    size_t collected;
  } cases[] = {
      {SQL_CHAR, 8000, false, {SQL_SUCCESS, SQL_SUCCESS, SQL_SUCCESS_WITH_INFO}, "01004", 8000},
      {SQL_LONGVARCHAR, 8000, false, {SQL_SUCCESS, SQL_SUCCESS, SQL_ERROR}, "22001", 6000},
      {SQL_LONGVARCHAR, 70000, false, {SQL_ERROR}, "S1001", 0},
      {SQL_LONGVARCHAR, 0, false, {SQL_SUCCESS, SQL_SUCCESS, SQL_SUCCESS}, "", 9000},
      {SQL_LONGVARCHAR, 70000, true, {SQL_SUCCESS, SQL_SUCCESS, SQL_SUCCESS}, "", 9000},
      {SQL_INTEGER, 0, false, {SQL_SUCCESS, SQL_SUCCESS_WITH_INFO}, "01004", 4096},
  };
  for (const Case& c : cases) {
    if (c.pieces) connection_->addFlags(BaseConnection::flagLongDataInPieces);
    else connection_->clearFlags(BaseConnection::flagLongDataInPieces);
    ASSERT_EQ(prepare(statement_, "insert into t values (?)"), SQL_SUCCESS);
    SQLLEN atExec = SQL_DATA_AT_EXEC;
    char token[] = "t";
    ASSERT_EQ(bind(1, SQL_C_CHAR, c.sqlType, c.precision, 0, token, 0, &atExec), SQL_SUCCESS);
    statement_->bound.clear();
    ASSERT_EQ(statement_->SQLExecute(), SQL_NEED_DATA);
    SQLPOINTER got = nullptr;
    ASSERT_EQ(statement_->SQLParamData(&got), SQL_NEED_DATA);
    const std::string piece(3000, 'p');
    std::string label = std::to_string(c.sqlType) + "/" + std::to_string(c.precision);
    for (SQLRETURN rc : c.rcs) EXPECT_EQ(put(piece), rc) << label;
    EXPECT_EQ(state(), c.lastState) << label;
    if (c.lastState[0] == 'S' || c.lastState[0] == '2') {
      ASSERT_EQ(statement_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS);
      continue;
    }
    ASSERT_EQ(statement_->SQLParamData(&got), SQL_SUCCESS) << label;
    if (!c.pieces) {
      ASSERT_EQ(statement_->bound.size(), 1u);
      EXPECT_EQ(statement_->bound[0].value.size(), c.collected) << label;
      continue;
    }
    // The driver saw every piece, then the end.
    std::vector<int> modes;
    size_t bytes = 0;
    for (const auto& b : statement_->bound) {
      modes.push_back(b.mode);
      bytes += b.value.size();
    }
    EXPECT_EQ(modes, (std::vector<int>{bindFirstPiece, bindNextPiece, bindNextPiece, bindLastPiece}));
    EXPECT_EQ(bytes, c.collected);
  }
  std::string last = text();
  EXPECT_EQ(last, "") << "no message left";
}

TEST_F(ParamsTest, PrecisionAboveWhatCanBeCollected) {
  ASSERT_EQ(prepare(statement_, "insert into t values (?)"), SQL_SUCCESS);
  SQLLEN atExec = SQL_DATA_AT_EXEC;
  char token[] = "t";
  ASSERT_EQ(bind(1, SQL_C_CHAR, SQL_VARCHAR, 70000, 0, token, 0, &atExec), SQL_SUCCESS);
  ASSERT_EQ(statement_->SQLExecute(), SQL_NEED_DATA);
  SQLPOINTER got = nullptr;
  ASSERT_EQ(statement_->SQLParamData(&got), SQL_NEED_DATA);
  EXPECT_EQ(put("abc"), SQL_ERROR);
  UnitDiagnostic d = nextDiagnostic(statement_->getErrorList());
  EXPECT_EQ(d.state, "S1001");
  EXPECT_NE(d.text.find("Parameter number 1 was declared with a precision of 70000 which is larger"),
            std::string::npos);
  EXPECT_EQ(statement_->getCursorState(), cursorNeedData) << "a failing SQLPutData changes no state";
}

TEST_F(ParamsTest, TextualParametersBecomeLiterals) {
  statement_->textual = true;
  struct Case {
    SQLSMALLINT cType;
    SQLSMALLINT sqlType;
    SQLULEN precision;
    std::string value;
    SQLLEN length;
    const char* literal;
    const char* state;
  } cases[] = {
      {SQL_C_DOUBLE, SQL_DOUBLE, 15, "", 8, " 1234567890E0 ", ""},
      {SQL_C_LONG, SQL_INTEGER, 10, "", 4, " 42 ", ""},
      {SQL_C_CHAR, SQL_VARCHAR, 20, "O'Brien", SQL_NTS, "'O''Brien'", ""},
      {SQL_C_CHAR, SQL_VARCHAR, 3, "abcdef", 6, "'abc'", "01004"},
      {SQL_C_CHAR, SQL_VARCHAR, 20, "", SQL_NULL_DATA, "NULL", ""},
      {SQL_C_CHAR, SQL_DATE, 10, "1999-12-31", SQL_NTS, "'1999-12-31'", ""},
      {SQL_C_DATE, SQL_DATE, 10, "", 6, "<D:1999-12-31>", ""},
      {SQL_C_BINARY, SQL_VARBINARY, 4, std::string("\x01\xAB", 2), 2, "<B:01AB>", ""},
      {SQL_C_CHAR, SQL_BIT, 1, "1", SQL_NTS, "<L:1>", ""},
      {SQL_C_WCHAR, SQL_WVARCHAR, 10, std::string("h\0i\0", 4), 4, "'hi'", ""},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(prepare(statement_, "insert into t values (?, ?)"), SQL_SUCCESS);
    double dbl = 1234567890;
    SQLINTEGER lng = 42;
    DATE_STRUCT date = {1999, 12, 31};
    std::string buffer = c.value;
    buffer.push_back('\0');
    void* value = c.cType == SQL_C_DOUBLE ? static_cast<void*>(&dbl)
                  : c.cType == SQL_C_LONG ? static_cast<void*>(&lng)
                  : c.cType == SQL_C_DATE ? static_cast<void*>(&date)
                                          : static_cast<void*>(&buffer[0]);
    SQLLEN length = c.length;
    ASSERT_EQ(bind(1, c.cType, c.sqlType, c.precision, 0, value, SQLLEN(buffer.size()), &length), SQL_SUCCESS);
    SQLINTEGER second = 7;
    ASSERT_EQ(bind(2, SQL_C_LONG, SQL_INTEGER, 0, 0, &second, 0, nullptr), SQL_SUCCESS);
    statement_->executedTexts.clear();
    SQLRETURN rc = statement_->SQLExecute();
    EXPECT_EQ(rc, *c.state ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS) << c.literal;
    EXPECT_EQ(state(), c.state) << c.literal;
    ASSERT_EQ(statement_->executedTexts.size(), 1u) << c.literal;
    EXPECT_EQ(statement_->executedTexts[0], std::string("insert into t values (") + c.literal + ",  7 )");
  }
}

}  // namespace
