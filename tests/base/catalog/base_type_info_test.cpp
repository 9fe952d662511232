// Type information: the rows of SQLGetTypeInfo from a driver's type table
// or from the driver's own result, their order, the NULL rules of the
// values, the type codes SQLGetTypeInfo accepts, and the statement's call.
#include "tests/base/base_test_support.h"

#include "base/handles/base_out_string.h"
#include "base/catalog/base_type_info.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Listed out of order on purpose: VARCHAR before CHAR, INTEGER before
// counter (the same DATA_TYPE), scales stored where ODBC reports 0 or NULL.
const BaseTypeRow unitTypes[] = {
    {"VARCHAR", 20110, SQL_VARCHAR, 254, "'", "'", 20120, SQL_NULLABLE, SQL_SEARCHABLE, typeCaseSensitive, 0, 0},
    {"CHAR", 20111, SQL_CHAR, 254, "'", "'", 20120, SQL_NULLABLE, SQL_SEARCHABLE, typeCaseSensitive, 0, 0},
    {"INTEGER", 20112, SQL_INTEGER, 10, nullptr, nullptr, 0, SQL_NULLABLE, SQL_ALL_EXCEPT_LIKE, 0, 5, 5},
    {"counter", 0, SQL_INTEGER, 10, nullptr, nullptr, 0, SQL_NO_NULLS, SQL_ALL_EXCEPT_LIKE,
     typeUnsigned | typeAutoIncrement, 0, 0},
    {"DATE", 20113, SQL_DATE, 10, "'", "'", 0, SQL_NULLABLE, SQL_ALL_EXCEPT_LIKE, 0, 3, 3},
    {"NUMERIC", 0, SQL_NUMERIC, 19, nullptr, nullptr, 20121, SQL_NULLABLE, SQL_ALL_EXCEPT_LIKE, 0, 0, 19},
    {"TIMESTAMP", 0, SQL_TIMESTAMP, 26, "'", "'", 0, SQL_NULLABLE, SQL_ALL_EXCEPT_LIKE, 0, 0, 6},
    {"LONG", 0, SQL_LONGVARCHAR, 0, "'", "'", 0, SQL_NULLABLE, SQL_LIKE_ONLY, typeCaseSensitive, 0, 0},
    {"MONEY", 0, SQL_DECIMAL, 19, "$", nullptr, 0, SQL_NULLABLE, SQL_ALL_EXCEPT_LIKE, typeMoney, 4, 4},
};

class TypeConnection : public UnitConnection {
 public:
  explicit TypeConnection(BaseEnv* env) : UnitConnection(env) {}
  short getDriverResourceStr(uint16_t id, unsigned char* buffer, uint32_t size) override {
    static const KvMessage texts[] = {
        {20110, "Varying text"}, {20111, "Text"},       {20112, "Whole number"},
        {20113, "Day"},          {20120, "max length"}, {20121, "precision,scale"},
    };
    short length = kvLoadStringFromTable(texts, sizeof(texts) / sizeof(texts[0]), buffer, id, size);
    return length ? length : UnitConnection::getDriverResourceStr(id, buffer, size);
  }
};

// A driver without a table: its getTypeInfo opens a result of the rows
// below (a null text is NULL), possibly after running asynchronously once.
struct DriverRow {
  const char* name;
  int32_t dataType;
  int32_t precision;  // -1: NULL
};

class TypeStatement : public UnitStatement {
 public:
  explicit TypeStatement(BaseConnection* connection) : UnitStatement(connection) {}
  KvStatus getTypeInfo(int16_t sqlType) override {
    asked.push_back(sqlType);
    if (asyncCalls > 0) {
      --asyncCalls;
      flags_ |= flagAsync;
      return kvSuccess;
    }
    flags_ &= ~flagAsync;
    next = 0;
    return failGetTypeInfo ? kvFailure : kvSuccess;
  }
  KvStatus fetchRow(uint16_t* endOfData) override {
    *endOfData = next >= rows.size() ? 1 : 0;
    current = next++;
    return kvSuccess;
  }
  KvStatus getData(uint16_t column, int16_t cType, BaseOutString* out) override {
    const DriverRow& row = rows[current];
    switch (column) {
      case typeInfoTypeName:
        EXPECT_EQ(cType, SQL_C_CHAR);
        return out->setStrValue(kvU(row.name));
      case typeInfoDataType:
        EXPECT_EQ(cType, SQL_C_SLONG);
        out->setBufValue(&row.dataType, 4);
        return kvSuccess;
      case typeInfoPrecision:
        if (row.precision < 0) out->setLength(SQL_NULL_DATA);
        else out->setBufValue(&row.precision, 4);
        return kvSuccess;
      case typeInfoNullable: {
        const int32_t nullable = SQL_NULLABLE;
        out->setBufValue(&nullable, 4);
        return kvSuccess;
      }
      default:
        out->setLength(SQL_NULL_DATA);
        return kvSuccess;
    }
  }
  KvStatus setToAllocatedState(uint16_t) override {
    ++closed;
    return kvSuccess;
  }

  std::vector<DriverRow> rows;
  std::vector<int16_t> asked;
  size_t next = 0;
  size_t current = 0;
  int asyncCalls = 0;
  int closed = 0;
  bool failGetTypeInfo = false;
};

class TypeInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = new BaseEnv(1);
    connection_ = new TypeConnection(env_);
    connection_->setTypeTable(unitTypes, sizeof(unitTypes) / sizeof(unitTypes[0]));
    statement_ = new TypeStatement(connection_);
    KvErrorKeeper::setErrorList(&connection_->getErrorList());
  }
  void TearDown() override {
    KvErrorKeeper::giveUpErrorList();
    delete connection_;
    delete env_;
  }

  // The TYPE_NAMEs in result order.
  static std::vector<std::string> names(const BaseGetTypesInfo& info) {
    std::vector<std::string> out;
    for (uint16_t i = 0; i < info.getRowCount(); ++i) out.push_back(kvC(info.getRow(i)->typeName));
    return out;
  }

  // A value as text: "NULL", the number, or the string.
  static std::string value(const GetTypeRowInfo& row, uint16_t column) {
    BaseTypeInfoValue v{};
    BaseGetTypesInfo::getValue(row, column, &v);
    if (!v.data) return "NULL";
    if (v.internalType == 5) return std::to_string(*static_cast<const int16_t*>(v.data));
    if (v.internalType == 7) return std::to_string(*static_cast<const int32_t*>(v.data));
    EXPECT_EQ(v.internalType, 1);
    return std::string(static_cast<const char*>(v.data), v.length);
  }

  const GetTypeRowInfo* row(const BaseGetTypesInfo& info, const char* name) {
    for (uint16_t i = 0; i < info.getRowCount(); ++i)
      if (std::string(kvC(info.getRow(i)->typeName)) == name) return info.getRow(i);
    ADD_FAILURE() << name;
    return info.getRow(0);
  }

  BaseEnv* env_ = nullptr;
  TypeConnection* connection_ = nullptr;
  TypeStatement* statement_ = nullptr;
};

TEST_F(TypeInfoTest, RowsOfATypeTableComeByDataTypeThenName) {
  struct Case {
    int16_t asked;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {SQL_ALL_TYPES,
       {"LONG", "CHAR", "NUMERIC", "MONEY", "counter", "INTEGER", "DATE", "TIMESTAMP", "VARCHAR"}},
      {SQL_INTEGER, {"counter", "INTEGER"}},  // the collation, not byte order
      {SQL_TIMESTAMP, {"TIMESTAMP"}},
      {SQL_DOUBLE, {}},                        // a type the driver lacks: no rows
  };
  for (const Case& c : cases) {
    BaseGetTypesInfo info(c.asked);
    uint16_t pending = 9;
    ASSERT_EQ(info.collect(statement_, &pending), kvSuccess);
    EXPECT_EQ(pending, 0);
    EXPECT_EQ(names(info), c.expected) << c.asked;
  }
  EXPECT_TRUE(statement_->asked.empty()) << "a driver with a table is not asked";
}

TEST_F(TypeInfoTest, ValuesFollowTheNullRules) {
  BaseGetTypesInfo info(SQL_ALL_TYPES);
  uint16_t pending = 0;
  ASSERT_EQ(info.collect(statement_, &pending), kvSuccess);
  struct Case {
    const char* type;
    uint16_t column;
    const char* expected;
  };
  const Case cases[] = {
      {"VARCHAR", typeInfoTypeName, "VARCHAR"},
      {"VARCHAR", typeInfoDataType, "12"},
      {"VARCHAR", typeInfoPrecision, "254"},
      {"VARCHAR", typeInfoLiteralPrefix, "'"},
      {"VARCHAR", typeInfoCreateParams, "max length"},
      {"VARCHAR", typeInfoCaseSensitive, "1"},
      {"VARCHAR", typeInfoSearchable, "3"},
      {"VARCHAR", typeInfoUnsigned, "NULL"},
      {"VARCHAR", typeInfoMoney, "0"},
      {"VARCHAR", typeInfoAutoIncrement, "NULL"},
      {"VARCHAR", typeInfoLocalTypeName, "Varying text"},
      {"VARCHAR", typeInfoMinimumScale, "NULL"},
      {"DATE", typeInfoUnsigned, "NULL"},
      {"DATE", typeInfoAutoIncrement, "NULL"},
      {"DATE", typeInfoMinimumScale, "NULL"},
      {"DATE", typeInfoMaximumScale, "NULL"},
      {"DATE", typeInfoLocalTypeName, "Day"},
      {"INTEGER", typeInfoMinimumScale, "0"},  // stored 5, reported 0
      {"INTEGER", typeInfoMaximumScale, "0"},
      {"INTEGER", typeInfoUnsigned, "0"},
      {"INTEGER", typeInfoLiteralPrefix, "NULL"},
      {"INTEGER", typeInfoCreateParams, "NULL"},
      {"counter", typeInfoUnsigned, "1"},
      {"counter", typeInfoAutoIncrement, "1"},
      {"counter", typeInfoNullable, "0"},
      {"counter", typeInfoLocalTypeName, "NULL"},  // string id 0
      {"NUMERIC", typeInfoMinimumScale, "0"},
      {"NUMERIC", typeInfoMaximumScale, "19"},
      {"NUMERIC", typeInfoCreateParams, "precision,scale"},
      {"TIMESTAMP", typeInfoMaximumScale, "6"},
      {"TIMESTAMP", typeInfoPrecision, "26"},
      {"MONEY", typeInfoMoney, "1"},
      {"MONEY", typeInfoMinimumScale, "4"},
      {"MONEY", typeInfoLiteralSuffix, "NULL"},
      {"LONG", typeInfoPrecision, "NULL"},  // precision 0
      {"LONG", typeInfoSearchable, "1"},
      {"LONG", 0, "NULL"},
      {"LONG", 16, "NULL"},
  };
  for (const Case& c : cases) EXPECT_EQ(value(*row(info, c.type), c.column), c.expected) << c.type << " " << c.column;
}

TEST_F(TypeInfoTest, ResultColumnsAreTheFifteenOfOdbc) {
  const BaseTypeInfoColumnDesc* columns = baseTypeInfoColumns();
  const char* expected[] = {"TYPE_NAME",          "DATA_TYPE",      "PRECISION",      "LITERAL_PREFIX",
                            "LITERAL_SUFFIX",     "CREATE_PARAMS",  "NULLABLE",       "CASE_SENSITIVE",
                            "SEARCHABLE",         "UNSIGNED_ATTRIBUTE", "MONEY",      "AUTO_INCREMENT",
                            "LOCAL_TYPE_NAME",    "MINIMUM_SCALE",  "MAXIMUM_SCALE"};
  for (uint16_t i = 0; i < typeInfoColumnCount; ++i) EXPECT_STREQ(columns[i].name, expected[i]);
  EXPECT_EQ(columns[typeInfoPrecision - 1].sqlType, SQL_INTEGER);
  EXPECT_EQ(columns[typeInfoDataType - 1].sqlType, SQL_SMALLINT);
  EXPECT_EQ(columns[typeInfoTypeName - 1].nullable, SQL_NO_NULLS);
}

// pyodbc asks at connect for SQL_TYPE_TIMESTAMP (93) and reads column 3 as
// SQL_C_LONG: the code selects the TIMESTAMP rows and PRECISION is 32-bit.
TEST_F(TypeInfoTest, TypeCodesAreCheckedAndOdbc3DateTimeCodesMapped) {
  struct Case {
    int16_t asked;
    int16_t selected;  // -99: refused
  };
  const Case cases[] = {
      {SQL_ALL_TYPES, SQL_ALL_TYPES}, {SQL_CHAR, SQL_CHAR},     {SQL_VARCHAR, SQL_VARCHAR},
      {SQL_BIT, SQL_BIT},             {SQL_LONGVARCHAR, SQL_LONGVARCHAR},
      {SQL_TYPE_DATE, SQL_DATE},      {SQL_TYPE_TIME, SQL_TIME}, {SQL_TYPE_TIMESTAMP, SQL_TIMESTAMP},
      {SQL_WVARCHAR, -99},            {-8, -99},                 {-11, -99},
      {13, -99},                      {90, -99},                 {94, -99},
  };
  for (const Case& c : cases) {
    connection_->getErrorList().clearErrors();
    int16_t selected = -99;
    const KvStatus status = baseTypeInfoRequest(c.asked, &selected);
    EXPECT_EQ(status, c.selected == -99 ? kvFailure : kvSuccess) << c.asked;
    EXPECT_EQ(selected, c.selected) << c.asked;
    if (status != kvSuccess) {
      EXPECT_EQ(nextDiagnostic(connection_->getErrorList()).state, "S1004");
    }
  }
  int16_t selected = 0;
  ASSERT_EQ(baseTypeInfoRequest(SQL_TYPE_TIMESTAMP, &selected), kvSuccess);
  BaseGetTypesInfo info(selected);
  uint16_t pending = 0;
  ASSERT_EQ(info.collect(statement_, &pending), kvSuccess);
  ASSERT_EQ(info.getRowCount(), 1);
  BaseTypeInfoValue precision{};
  BaseGetTypesInfo::getValue(*info.getRow(0), typeInfoPrecision, &precision);
  EXPECT_EQ(precision.internalType, 7);
  EXPECT_EQ(precision.length, 4u);
  EXPECT_EQ(*static_cast<const int32_t*>(precision.data), 26);
}

TEST_F(TypeInfoTest, RowsOfADriverWithoutATableAreReadFilteredAndSorted) {
  connection_->setTypeTable(nullptr, 0);
  statement_->rows = {{"VARCHAR", SQL_VARCHAR, 255}, {"TEXT", SQL_LONGVARCHAR, -1}, {"CHAR", SQL_CHAR, 255},
                      {"BPCHAR", SQL_CHAR, 255}};
  struct Case {
    int16_t asked;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {SQL_ALL_TYPES, {"TEXT", "BPCHAR", "CHAR", "VARCHAR"}},
      {SQL_CHAR, {"BPCHAR", "CHAR"}},
      {SQL_DATE, {}},
  };
  for (const Case& c : cases) {
    BaseGetTypesInfo info(c.asked);
    uint16_t pending = 0;
    ASSERT_EQ(info.collect(statement_, &pending), kvSuccess);
    EXPECT_EQ(names(info), c.expected);
    EXPECT_EQ(statement_->asked.back(), c.asked);
  }
  EXPECT_EQ(statement_->closed, 3) << "the driver's result is closed after reading";

  BaseGetTypesInfo info(SQL_LONGVARCHAR);
  uint16_t pending = 0;
  ASSERT_EQ(info.collect(statement_, &pending), kvSuccess);
  ASSERT_EQ(info.getRowCount(), 1);
  EXPECT_EQ(value(*info.getRow(0), typeInfoPrecision), "NULL");
  EXPECT_EQ(value(*info.getRow(0), typeInfoNullable), "1");
  EXPECT_EQ(value(*info.getRow(0), typeInfoLiteralPrefix), "NULL");
}

TEST_F(TypeInfoTest, AnAsynchronousDriverIsAskedAgainUntilItFinishes) {
  connection_->setTypeTable(nullptr, 0);
  statement_->rows = {{"CHAR", SQL_CHAR, 255}};
  statement_->asyncCalls = 2;
  BaseGetTypesInfo info(SQL_ALL_TYPES);
  uint16_t pending = 0;
  for (int call = 0; call < 2; ++call) {
    ASSERT_EQ(info.collect(statement_, &pending), kvSuccess);
    EXPECT_EQ(pending, 1);
    EXPECT_EQ(info.getRowCount(), 0);
  }
  ASSERT_EQ(info.collect(statement_, &pending), kvSuccess);
  EXPECT_EQ(pending, 0);
  EXPECT_EQ(names(info), std::vector<std::string>{"CHAR"});
}

TEST_F(TypeInfoTest, ADriverFailureFailsTheCollection) {
  connection_->setTypeTable(nullptr, 0);
  statement_->failGetTypeInfo = true;
  BaseGetTypesInfo info(SQL_ALL_TYPES);
  uint16_t pending = 0;
  EXPECT_EQ(info.collect(statement_, &pending), kvFailure);
}

TEST_F(TypeInfoTest, TheStatementCallChecksTheTypeBeforeAnythingElse) {
  KvErrorKeeper::giveUpErrorList();
  EXPECT_EQ(statement_->SQLGetTypeInfo(-9), SQL_ERROR);
  EXPECT_EQ(nextDiagnostic(statement_->getErrorList()).state, "S1004");
  EXPECT_EQ(statement_->getCursorState(), cursorAllocated);
  statement_->threadCheck();
  EXPECT_EQ(statement_->SQLGetTypeInfo(SQL_ALL_TYPES), SQL_HANDLE_BUSY);
  statement_->threadDone();
  KvErrorKeeper::setErrorList(&connection_->getErrorList());
}

// What an ODBC 3 application's connect does (pyodbc): SQLGetTypeInfo with
// the ODBC 3 timestamp code, then PRECISION read as SQL_C_LONG.
TEST_F(TypeInfoTest, TheStatementCallOpensAResultFetchedLikeAnyOther) {
  KvErrorKeeper::giveUpErrorList();
  ASSERT_EQ(statement_->SQLGetTypeInfo(SQL_TYPE_TIMESTAMP), SQL_SUCCESS);
  EXPECT_EQ(statement_->getCursorState(), cursorOpen);
  SQLSMALLINT columns = 0;
  ASSERT_EQ(statement_->SQLNumResultCols(&columns), SQL_SUCCESS);
  EXPECT_EQ(columns, 15);
  ASSERT_EQ(statement_->SQLFetch(), SQL_SUCCESS);
  SQLSMALLINT dataType = 0;
  SQLINTEGER precision = 0;
  SQLLEN length = 0;
  ASSERT_EQ(statement_->SQLGetData(2, SQL_C_SHORT, &dataType, 0, &length), SQL_SUCCESS);
  EXPECT_EQ(dataType, SQL_TIMESTAMP) << "the row of the ODBC 2 code";
  ASSERT_EQ(statement_->SQLGetData(3, SQL_C_LONG, &precision, 0, &length), SQL_SUCCESS);
  EXPECT_EQ(precision, 26);
  EXPECT_EQ(length, 4);
  EXPECT_EQ(statement_->SQLFetch(), SQL_NO_DATA_FOUND);
  // A second catalog call on the open cursor is refused; after the close
  // the statement is free again.
  EXPECT_EQ(statement_->SQLGetTypeInfo(SQL_ALL_TYPES), SQL_ERROR);
  EXPECT_EQ(nextDiagnostic(statement_->getErrorList()).state, "24000");
  ASSERT_EQ(statement_->SQLFreeStmt(SQL_CLOSE), SQL_SUCCESS);
  EXPECT_EQ(statement_->getCursorState(), cursorAllocated);
  EXPECT_EQ(statement_->getCatalogInfo(), nullptr);

  // Every row in order, bound: names, NULL rules and the column
  // descriptions of the fifteen columns.
  ASSERT_EQ(statement_->SQLGetTypeInfo(SQL_ALL_TYPES), SQL_SUCCESS);
  char name[32];
  char prefix[8];
  SQLLEN nameLength = 0, prefixLength = 0, precisionLength = 0;
  ASSERT_EQ(statement_->SQLBindCol(1, SQL_C_CHAR, name, sizeof(name), &nameLength), SQL_SUCCESS);
  ASSERT_EQ(statement_->SQLBindCol(3, SQL_C_DEFAULT, &precision, 0, &precisionLength), SQL_SUCCESS);
  ASSERT_EQ(statement_->SQLBindCol(4, SQL_C_CHAR, prefix, sizeof(prefix), &prefixLength), SQL_SUCCESS);
  std::vector<std::string> rows;
  while (statement_->SQLFetch() == SQL_SUCCESS) {
    rows.push_back(std::string(name) + " " + (precisionLength == SQL_NULL_DATA ? "NULL" : std::to_string(precision)) +
                   " " + (prefixLength == SQL_NULL_DATA ? "NULL" : prefix));
  }
  const std::vector<std::string> expected = {
      "LONG NULL '", "CHAR 254 '", "NUMERIC 19 NULL", "MONEY 19 $", "counter 10 NULL", "INTEGER 10 NULL",
      "DATE 10 '", "TIMESTAMP 26 '", "VARCHAR 254 '"};
  EXPECT_EQ(rows, expected);
  SQLCHAR columnName[32];
  SQLSMALLINT nameSize = 0, sqlType = 0, scale = 0, nullable = 0;
  SQLULEN columnSize = 0;
  ASSERT_EQ(statement_->SQLDescribeCol(2, columnName, sizeof(columnName), &nameSize, &sqlType, &columnSize, &scale,
                                       &nullable),
            SQL_SUCCESS);
  EXPECT_STREQ(kvC(columnName), "DATA_TYPE");
  EXPECT_EQ(sqlType, SQL_SMALLINT);
  EXPECT_EQ(columnSize, 5u);
  EXPECT_EQ(nullable, SQL_NO_NULLS);
  ASSERT_EQ(statement_->SQLFreeStmt(SQL_DROP), SQL_SUCCESS);
  statement_ = nullptr;
  KvErrorKeeper::setErrorList(&connection_->getErrorList());
}

}  // namespace
