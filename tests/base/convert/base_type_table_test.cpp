// Which C type and SQL type pairs convert (every pair, against the table
// written out here independently), the refusals of types outside the
// tables, default C types, fixed sizes and the ODBC 2 SQL type of each code.
#include "base/convert/base_convert.h"
#include "tests/base/convert_test_support.h"

#include <algorithm>
#include <set>

namespace {

class TypeTableTest : public ConvertTest {};

const int16_t textSqlTypes[] = {SQL_CHAR, SQL_VARCHAR, SQL_LONGVARCHAR, SQL_WCHAR, SQL_WVARCHAR, SQL_WLONGVARCHAR};
const int16_t numericSqlTypes[] = {SQL_BIT,     SQL_TINYINT, SQL_BIGINT, SQL_NUMERIC, SQL_DECIMAL,
                                   SQL_INTEGER, SQL_SMALLINT, SQL_FLOAT, SQL_REAL,    SQL_DOUBLE};
const int16_t binarySqlTypes[] = {SQL_BINARY, SQL_VARBINARY, SQL_LONGVARBINARY};

const int16_t numericCTypes[] = {SQL_C_LONG,   SQL_C_SHORT,    SQL_C_FLOAT,    SQL_C_DOUBLE,  SQL_C_SLONG,
                                 SQL_C_ULONG,  SQL_C_SSHORT,   SQL_C_USHORT,   SQL_C_STINYINT, SQL_C_UTINYINT,
                                 SQL_C_TINYINT, SQL_C_BIT,     SQL_C_SBIGINT,  SQL_C_UBIGINT};
const int16_t anyValueCTypes[] = {SQL_C_CHAR, SQL_C_WCHAR, SQL_C_BINARY, SQL_C_DEFAULT};

std::set<int16_t> allCTypes() {
  std::set<int16_t> all(std::begin(numericCTypes), std::end(numericCTypes));
  all.insert(std::begin(anyValueCTypes), std::end(anyValueCTypes));
  all.insert({SQL_C_DATE, SQL_C_TIME, SQL_C_TIMESTAMP});
  return all;
}

// The C types each SQL type converts with, as the design lists them.
std::set<int16_t> allowedCTypes(int16_t sqlType) {
  std::set<int16_t> allowed(std::begin(anyValueCTypes), std::end(anyValueCTypes));
  auto in = [&](const int16_t* begin, const int16_t* end) { return std::find(begin, end, sqlType) != end; };
  if (in(std::begin(textSqlTypes), std::end(textSqlTypes))) return allCTypes();
  if (in(std::begin(numericSqlTypes), std::end(numericSqlTypes))) {
    allowed.insert(std::begin(numericCTypes), std::end(numericCTypes));
  }
  if (sqlType == SQL_DATE) allowed.insert({SQL_C_DATE, SQL_C_TIMESTAMP});
  if (sqlType == SQL_TIME) allowed.insert({SQL_C_TIME, SQL_C_TIMESTAMP});
  if (sqlType == SQL_TIMESTAMP) allowed.insert({SQL_C_DATE, SQL_C_TIME, SQL_C_TIMESTAMP});
  return allowed;
}

TEST_F(TypeTableTest, EveryPairOfTheTable) {
  std::vector<int16_t> sqlTypes(std::begin(textSqlTypes), std::end(textSqlTypes));
  sqlTypes.insert(sqlTypes.end(), std::begin(numericSqlTypes), std::end(numericSqlTypes));
  sqlTypes.insert(sqlTypes.end(), std::begin(binarySqlTypes), std::end(binarySqlTypes));
  sqlTypes.insert(sqlTypes.end(), {SQL_DATE, SQL_TIME, SQL_TIMESTAMP});
  for (int16_t sqlType : sqlTypes) {
    const std::set<int16_t> allowed = allowedCTypes(sqlType);
    for (int16_t cType : allCTypes()) {
      const bool expected = allowed.count(cType) != 0;
      EXPECT_EQ(BaseCheckColumnConversion(7, sqlType, cType) == kvSuccess, expected) << sqlType << " -> " << cType;
      EXPECT_EQ(BaseCheckParamConversion(7, cType, sqlType) == kvSuccess, expected) << cType << " -> " << sqlType;
      EXPECT_EQ(takeDiagnostics(), expected ? diag() : (std::vector<std::string>{"07006", "07006"}));
    }
  }
}

TEST_F(TypeTableTest, RefusalsNameTheColumnOrParameterAndTheTypes) {
  EXPECT_NE(BaseCheckColumnConversion(3, SQL_DATE, SQL_C_LONG), kvSuccess);
  EXPECT_EQ(lastText(), "Unable to convert column 3.  Cannot convert from SQL type 9 to C type 4.");
  EXPECT_NE(BaseCheckParamConversion(2, SQL_C_DATE, SQL_INTEGER), kvSuccess);
  EXPECT_EQ(lastText(), "Unable to convert parameter 2.  Cannot convert from C type 9 to SQL type 4.");
  EXPECT_EQ(takeDiagnostics(), (std::vector<std::string>{"07006", "07006"}));
}

// The ODBC 3 codes unixODBC passes through: dates 91-93 and the wide SQL
// types are taken as their ODBC 2 twins; anything else is out of range.
TEST_F(TypeTableTest, CodesOutsideOdbc2) {
  EXPECT_EQ(BaseCheckColumnConversion(1, SQL_DATE, SQL_C_TYPE_DATE), kvSuccess);
  EXPECT_EQ(BaseCheckParamConversion(1, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP), kvSuccess);
  EXPECT_EQ(BaseCheckParamConversion(1, SQL_C_WCHAR, SQL_WVARCHAR), kvSuccess);
  EXPECT_EQ(BaseCheckParamConversion(1, SQL_C_SBIGINT, SQL_BIGINT), kvSuccess);
  EXPECT_TRUE(takeDiagnostics().empty());
  for (int16_t cType : {int16_t(SQL_C_NUMERIC), int16_t(SQL_C_GUID), int16_t(12345), int16_t(0)}) {
    EXPECT_NE(BaseCheckColumnConversion(1, SQL_VARCHAR, cType), kvSuccess) << cType;
    EXPECT_NE(BaseCheckParamConversion(1, cType, SQL_VARCHAR), kvSuccess) << cType;
    EXPECT_EQ(takeDiagnostics(), (std::vector<std::string>{"S1003", "S1003"})) << cType;
  }
  for (int16_t sqlType : {int16_t(SQL_GUID), int16_t(0), int16_t(-150)}) {
    EXPECT_NE(BaseCheckParamConversion(1, SQL_C_CHAR, sqlType), kvSuccess) << sqlType;
    EXPECT_EQ(takeDiagnostics(), diag("S1004")) << sqlType;
  }
  // A driver's own column type converts as binary data does.
  EXPECT_EQ(BaseCheckColumnConversion(1, -150, SQL_C_CHAR), kvSuccess);
  EXPECT_NE(BaseCheckColumnConversion(1, -150, SQL_C_LONG), kvSuccess);
  EXPECT_EQ(takeDiagnostics(), diag("07006"));
}

TEST_F(TypeTableTest, DefaultsSizesAndOdbc2Types) {
  struct Default {
    int16_t sqlType, cType;
  } defaults[] = {
      {SQL_BIT, SQL_C_BIT},           {SQL_TINYINT, SQL_C_TINYINT},   {SQL_SMALLINT, SQL_C_SHORT},
      {SQL_INTEGER, SQL_C_LONG},      {SQL_REAL, SQL_C_FLOAT},        {SQL_FLOAT, SQL_C_DOUBLE},
      {SQL_DOUBLE, SQL_C_DOUBLE},     {SQL_DATE, SQL_C_DATE},         {SQL_TIME, SQL_C_TIME},
      {SQL_TIMESTAMP, SQL_C_TIMESTAMP}, {SQL_BINARY, SQL_C_BINARY},   {SQL_VARBINARY, SQL_C_BINARY},
      {SQL_LONGVARBINARY, SQL_C_BINARY}, {SQL_CHAR, SQL_C_CHAR},      {SQL_LONGVARCHAR, SQL_C_CHAR},
      {SQL_NUMERIC, SQL_C_CHAR},      {SQL_DECIMAL, SQL_C_CHAR},      {SQL_BIGINT, SQL_C_CHAR},
      {SQL_WVARCHAR, SQL_C_CHAR},     {-150, SQL_C_CHAR},
  };
  for (const Default& d : defaults) EXPECT_EQ(BaseDefaultCType(d.sqlType), d.cType) << d.sqlType;

  struct Size {
    int16_t cType;
    uint32_t bytes;
  } sizes[] = {
      {SQL_C_BIT, 1},    {SQL_C_TINYINT, 1}, {SQL_C_UTINYINT, 1}, {SQL_C_SHORT, 2},  {SQL_C_USHORT, 2},
      {SQL_C_LONG, 4},   {SQL_C_SLONG, 4},   {SQL_C_FLOAT, 4},    {SQL_C_DOUBLE, 8}, {SQL_C_SBIGINT, 8},
      {SQL_C_DATE, 6},   {SQL_C_TIME, 6},    {SQL_C_TIMESTAMP, 16}, {SQL_C_CHAR, 0}, {SQL_C_WCHAR, 0},
      {SQL_C_BINARY, 0}, {SQL_C_NUMERIC, 0},
  };
  for (const Size& s : sizes) EXPECT_EQ(BaseCTypeSize(s.cType), s.bytes) << s.cType;

  EXPECT_EQ(BaseOdbc2SqlType(SQL_WCHAR), SQL_CHAR);
  EXPECT_EQ(BaseOdbc2SqlType(SQL_WVARCHAR), SQL_VARCHAR);
  EXPECT_EQ(BaseOdbc2SqlType(SQL_WLONGVARCHAR), SQL_LONGVARCHAR);
  EXPECT_EQ(BaseOdbc2SqlType(SQL_TYPE_TIMESTAMP), SQL_TIMESTAMP);
  EXPECT_EQ(BaseOdbc2SqlType(SQL_INTEGER), SQL_INTEGER);
  EXPECT_EQ(BaseOdbc2SqlType(-150), -150);
}

}  // namespace
