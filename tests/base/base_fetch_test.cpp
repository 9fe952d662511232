// Result columns and fetching through a driver of n rows: bindings of
// fixed-size C types, SQLExtendedFetch's moves and row statuses, SQLGetData
// in pieces and its order rules, and C types outside ODBC 2.
#include "stmt_test_support.h"

#include "base/base_field.h"
#include "base/base_out_string.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Row r: 1 INTEGER r, 2 CHAR(10) "ABCDEFGHIJ", 3 LONGVARCHAR of 300
// characters, 4 DOUBLE 1.5. Row failRow fails in getData of column 1.
class FetchStatement : public StmtStatement {
 public:
  explicit FetchStatement(BaseConnection* connection) : StmtStatement(connection) {}
  KvStatus prepareCompile(BaseSqlString*) override {
    deleteFields();
    static const struct { const char* name; int16_t type; uint32_t precision; } columns[] = {
        {"N", SQL_INTEGER, 10}, {"CODE", SQL_CHAR, 10}, {"NOTES", SQL_LONGVARCHAR, 1000}, {"D", SQL_DOUBLE, 15}};
    if (allocArrays(4, arrayFields) != kvSuccess) return kvFailure;
    for (uint16_t i = 0; i < 4; ++i) {
      fields_[i] = allocFld();
      EXPECT_EQ(fields_[i]->setText(&fields_[i]->name, kvU(columns[i].name)), kvSuccess);
      fields_[i]->sqlType = columns[i].type;
      fields_[i]->precision = columns[i].precision;
    }
    fieldCount_ = 4;
    return kvSuccess;
  }
  KvStatus fetchRow(uint16_t* endOfData) override {
    *endOfData = current >= rowCount;
    if (!*endOfData) ++current;
    return kvSuccess;
  }
  KvStatus fetchRandomRow(uint32_t row, uint16_t* status) override {
    ++probes;
    *status = row >= 1 && row <= rowCount ? SQL_ROW_SUCCESS : SQL_ROW_NOROW;
    if (*status == SQL_ROW_SUCCESS) current = row;
    return kvSuccess;
  }
  KvStatus getData(uint16_t column, int16_t cType, BaseOutString* out) override {
    const std::string notes(300, 'x');
    switch (column) {
      case 1: {
        if (current == failRow) {
          addOdbcError(stateGeneral);
          return kvFailure;
        }
        const int32_t n = int32_t(current);
        return convertInternalToC(1, cType, out, &n, 4, itSLong);
      }
      case 2: return convertInternalToC(2, cType, out, "ABCDEFGHIJ", 10, itChar);
      case 3: return convertInternalToCHuge(3, cType, out, notes.data(), 300, itChar);
      default: {
        const double d = 1.5;
        return convertInternalToC(4, cType, out, &d, 8, itDouble);
      }
    }
  }
  uint32_t rowCount = 25;
  uint32_t current = 0;
  uint32_t failRow = 0;
  int probes = 0;
};

class FetchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = new BaseEnv(1);
    connection_ = new StmtConnection(env_);
    connection_->scrollOptions = SQL_SO_FORWARD_ONLY | SQL_SO_STATIC;
    statement_ = new FetchStatement(connection_);
  }
  void TearDown() override {
    delete connection_;
    delete env_;
  }
  void open(SQLULEN cursorType = SQL_CURSOR_FORWARD_ONLY, SQLULEN rowset = 1) {
    ASSERT_EQ(statement_->SQLSetStmtOption(SQL_CURSOR_TYPE, cursorType), SQL_SUCCESS);
    ASSERT_EQ(statement_->SQLSetStmtOption(SQL_ROWSET_SIZE, rowset), SQL_SUCCESS);
    ASSERT_EQ(execDirect(statement_, "select n from t"), SQL_SUCCESS);
  }
  std::string state() { return firstState(statement_->getErrorList()); }

  BaseEnv* env_ = nullptr;
  StmtConnection* connection_ = nullptr;
  FetchStatement* statement_ = nullptr;
};

TEST_F(FetchTest, FixedSizeBindingsWriteTheirWholeValueAndIndicatorsAreSqllen) {
  open(SQL_CURSOR_FORWARD_ONLY, 3);
  // Column-wise arrays: SQL_C_LONG bound with size 0 still steps by 4 bytes,
  // the indicators by sizeof(SQLLEN).
  SQLINTEGER numbers[3] = {0, 0, 0};
  SQLLEN indicators[3] = {-9, -9, -9};
  ASSERT_EQ(statement_->SQLBindCol(1, SQL_C_LONG, numbers, 0, indicators), SQL_SUCCESS);
  SQLUSMALLINT statuses[3];
  EXPECT_EQ(statement_->SQLExtendedFetch(SQL_FETCH_NEXT, 0, nullptr, statuses), SQL_SUCCESS)
      << "a null rows-fetched pointer is allowed";
  EXPECT_EQ(std::vector<SQLINTEGER>(numbers, numbers + 3), (std::vector<SQLINTEGER>{1, 2, 3}));
  EXPECT_EQ(std::vector<SQLLEN>(indicators, indicators + 3), (std::vector<SQLLEN>{4, 4, 4}));

  // Unbinding the highest bound column lowers the highest to the next one.
  ASSERT_EQ(statement_->SQLBindCol(3, SQL_C_CHAR, nullptr, 0, nullptr), SQL_SUCCESS);
  char code[11];
  ASSERT_EQ(statement_->SQLBindCol(2, SQL_C_CHAR, code, sizeof(code), nullptr), SQL_SUCCESS);
  double d = 0;
  ASSERT_EQ(statement_->SQLBindCol(4, SQL_C_DOUBLE, &d, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(statement_->getHighestBoundColumn(), 4);
  ASSERT_EQ(statement_->SQLBindCol(4, SQL_C_DOUBLE, nullptr, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(statement_->getHighestBoundColumn(), 2);

  // C types: outside ODBC 2 either converted (SQL_C_SBIGINT) or refused.
  int64_t big = 0;
  EXPECT_EQ(statement_->SQLBindCol(1, SQL_C_SBIGINT, &big, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(statement_->SQLBindCol(1, 77, &big, 0, nullptr), SQL_ERROR);
  EXPECT_EQ(state(), "S1003");
}

TEST_F(FetchTest, ExtendedFetchMovesAndRowStatuses) {
  open(SQL_CURSOR_STATIC, 10);
  SQLINTEGER numbers[10];
  ASSERT_EQ(statement_->SQLBindCol(1, SQL_C_LONG, numbers, 0, nullptr), SQL_SUCCESS);
  struct Case {
    SQLUSMALLINT type;
    SQLLEN row;
    SQLRETURN rc;
    SQLULEN fetched;
    SQLINTEGER first;
  };
  const Case cases[] = {
      {SQL_FETCH_LAST, 0, SQL_SUCCESS, 10, 16},     // rows 16-25
      {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, 10, 6},
      {SQL_FETCH_RELATIVE, -8, SQL_SUCCESS, 10, 1}, // before row 1: to row 1
      {SQL_FETCH_ABSOLUTE, 23, SQL_SUCCESS, 3, 23}, // three rows, seven NOROW
      {SQL_FETCH_NEXT, 0, SQL_NO_DATA_FOUND, 0, 0}, // after the end
      {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, 10, 16},    // back from after the end
      {SQL_FETCH_ABSOLUTE, -25, SQL_SUCCESS, 10, 1},
      {SQL_FETCH_ABSOLUTE, 0, SQL_NO_DATA_FOUND, 0, 0},
      {SQL_FETCH_PRIOR, 0, SQL_NO_DATA_FOUND, 0, 0}, // still before the start
      {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 10, 1},
  };
  for (const Case& c : cases) {
    SQLULEN fetched = 99;
    SQLUSMALLINT statuses[10];
    numbers[0] = 0;
    EXPECT_EQ(statement_->SQLExtendedFetch(c.type, c.row, &fetched, statuses), c.rc) << c.type << " " << c.row;
    EXPECT_EQ(fetched, c.fetched) << c.type << " " << c.row;
    if (c.rc != SQL_SUCCESS) continue;
    EXPECT_EQ(numbers[0], c.first) << c.type << " " << c.row;
    for (SQLULEN i = 0; i < 10; ++i) EXPECT_EQ(statuses[i], i < c.fetched ? SQL_ROW_SUCCESS : SQL_ROW_NOROW);
  }
  // A keyset smaller than the rowset, and moves a forward-only cursor lacks.
  ASSERT_EQ(statement_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS);
  open(SQL_CURSOR_FORWARD_ONLY, 10);
  EXPECT_EQ(statement_->SQLExtendedFetch(SQL_FETCH_PRIOR, 0, nullptr, nullptr), SQL_ERROR);
  EXPECT_EQ(state(), "S1106");
}

TEST_F(FetchTest, AFailingRowIsAWarningAndStatusFive) {
  statement_->failRow = 2;
  open(SQL_CURSOR_FORWARD_ONLY, 4);
  SQLINTEGER numbers[4];
  ASSERT_EQ(statement_->SQLBindCol(1, SQL_C_LONG, numbers, 0, nullptr), SQL_SUCCESS);
  SQLUSMALLINT statuses[4];
  SQLULEN fetched = 0;
  EXPECT_EQ(statement_->SQLExtendedFetch(SQL_FETCH_NEXT, 0, &fetched, statuses), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(fetched, 4u);
  EXPECT_EQ(std::vector<SQLUSMALLINT>(statuses, statuses + 4),
            (std::vector<SQLUSMALLINT>{SQL_ROW_SUCCESS, SQL_ROW_ERROR, SQL_ROW_SUCCESS, SQL_ROW_SUCCESS}));
  EXPECT_EQ(nextDiagnostic(statement_->getErrorList()).state, "01S01");
  EXPECT_EQ(nextDiagnostic(statement_->getErrorList()).state, "S1000") << "the row's own error follows";
}

TEST_F(FetchTest, GetDataInPiecesAndItsRules) {
  open();
  ASSERT_EQ(statement_->SQLFetch(), SQL_SUCCESS);
  // A CHAR(10) into 11 bytes: whole, then no data.
  char code[11];
  SQLLEN length = 0;
  EXPECT_EQ(statement_->SQLGetData(2, SQL_C_CHAR, code, sizeof(code), &length), SQL_SUCCESS);
  EXPECT_STREQ(code, "ABCDEFGHIJ");
  EXPECT_EQ(statement_->SQLGetData(2, SQL_C_CHAR, code, sizeof(code), &length), SQL_NO_DATA_FOUND);

  // 300 characters into 101 bytes: three pieces of 100, then no data; the
  // lengths count what is left.
  char piece[101];
  std::vector<SQLLEN> lengths;
  SQLRETURN rc;
  while ((rc = statement_->SQLGetData(3, SQL_C_CHAR, piece, sizeof(piece), &length)) != SQL_NO_DATA_FOUND) {
    ASSERT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO);
    lengths.push_back(length);
    ASSERT_LE(lengths.size(), 4u);
  }
  EXPECT_EQ(lengths, (std::vector<SQLLEN>{300, 200, 100}));

  // A changed C type in the middle of a column: S1003.
  ASSERT_EQ(statement_->SQLFetch(), SQL_SUCCESS);
  EXPECT_EQ(statement_->SQLGetData(3, SQL_C_CHAR, piece, sizeof(piece), &length), SQL_SUCCESS_WITH_INFO);
  SQLWCHAR wide[8];
  EXPECT_EQ(statement_->SQLGetData(3, SQL_C_WCHAR, wide, sizeof(wide), &length), SQL_ERROR);
  EXPECT_EQ(state(), "S1003");

  // 1.5 into SQL_C_LONG: 1 with 01004, then the column is done (never read
  // again from inside the value).
  SQLINTEGER whole = 0;
  EXPECT_EQ(statement_->SQLGetData(4, SQL_C_LONG, &whole, 0, &length), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(whole, 1);
  EXPECT_EQ(length, 4);
  EXPECT_EQ(statement_->SQLGetData(4, SQL_C_LONG, &whole, 0, &length), SQL_NO_DATA_FOUND);

  // SQL_C_WCHAR is UTF-16LE with its length in bytes; an unknown C type is
  // refused rather than left unwritten.
  EXPECT_EQ(statement_->SQLGetData(2, SQL_C_WCHAR, wide, sizeof(wide), &length), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(length, 20);
  EXPECT_EQ(wide[0], 'A');
  EXPECT_EQ(wide[6], 'G');
  EXPECT_EQ(wide[7], 0);
  EXPECT_EQ(statement_->SQLGetData(1, 77, &whole, 0, &length), SQL_ERROR);
  EXPECT_EQ(state(), "S1003");
  EXPECT_EQ(statement_->SQLGetData(9, SQL_C_LONG, &whole, 0, &length), SQL_ERROR);
  EXPECT_EQ(state(), "S1002");
}

TEST_F(FetchTest, MaxLengthCutsLongColumns) {
  ASSERT_EQ(statement_->SQLSetStmtOption(SQL_MAX_LENGTH, 50), SQL_SUCCESS);
  open();
  ASSERT_EQ(statement_->SQLFetch(), SQL_SUCCESS);
  char piece[101];
  SQLLEN length = 0;
  EXPECT_EQ(statement_->SQLGetData(3, SQL_C_CHAR, piece, sizeof(piece), &length), SQL_SUCCESS);
  EXPECT_EQ(length, 50);
  EXPECT_EQ(std::string(piece), std::string(50, 'x'));
  EXPECT_EQ(statement_->SQLGetData(3, SQL_C_CHAR, piece, sizeof(piece), &length), SQL_NO_DATA_FOUND);
}

TEST_F(FetchTest, DescriptionsAtFullWidth) {
  open();
  SQLULEN precision = ~SQLULEN(0);
  SQLSMALLINT type = 0;
  EXPECT_EQ(statement_->SQLDescribeCol(1, nullptr, 0, nullptr, &type, &precision, nullptr, nullptr), SQL_SUCCESS);
  EXPECT_EQ(precision, 10u) << "the upper half written too";
  EXPECT_EQ(statement_->SQLDescribeCol(5, nullptr, 0, nullptr, &type, &precision, nullptr, nullptr), SQL_ERROR);
  EXPECT_EQ(state(), "S1002");
  SQLLEN number = -1;
  EXPECT_EQ(statement_->SQLColAttributes(1, SQL_COLUMN_DISPLAY_SIZE, nullptr, 0, nullptr, &number), SQL_SUCCESS);
  EXPECT_EQ(number, 11) << "a signed INTEGER";
  statement_->getFields()[0]->flags |= BaseField::flagUnsigned;
  EXPECT_EQ(statement_->SQLColAttributes(1, SQL_COLUMN_DISPLAY_SIZE, nullptr, 0, nullptr, &number), SQL_SUCCESS);
  EXPECT_EQ(number, 10) << "an unsigned one";
  EXPECT_EQ(statement_->SQLColAttributes(0, SQL_COLUMN_COUNT, nullptr, 0, nullptr, &number), SQL_SUCCESS);
  EXPECT_EQ(number, 4);
  // WorkArounds 0x40 names an unnamed column.
  ASSERT_EQ(statement_->getFields()[1]->setText(&statement_->getFields()[1]->name, nullptr), kvSuccess);
  connection_->workArounds_ = BaseConnection::waDescribe;
  SQLCHAR name[8];
  SQLSMALLINT nameLength = 0;
  EXPECT_EQ(statement_->SQLDescribeCol(2, name, sizeof(name), &nameLength, nullptr, nullptr, nullptr, nullptr),
            SQL_SUCCESS);
  EXPECT_STREQ(kvC(name), "C2");
}

}  // namespace
