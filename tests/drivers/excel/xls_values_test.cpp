// The Excel 5 driver's values and declared column lists: numbers shown as
// text in a CHAR column, the time of a day number, and the type list after
// a table name with its errors.
#include "drivers/excel/excel5/xls_connection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "drivers/excel/excel5_message_ids.h"
#include "flat/flat_message_ids.h"
#include "tests/util/test_support.h"

namespace {

TEST(XlsValues, NumbersAsText) {
  struct Case {
    double number;
    const char* text;
  } cases[] = {{3.14159, "3.14"}, {0.5, ".50"},   {0.05, ".05"},       {-2, "-2.00"},     {-0.05, "-.05"},
               {0, ".00"},        {-0.001, ".00"}, {1234567.891, "1234567.89"}, {1e200, ""},
               {std::numeric_limits<double>::quiet_NaN(), ""}, {std::numeric_limits<double>::infinity(), ""}};
  for (const Case& c : cases) EXPECT_EQ(xlsNumberText(c.number), c.text) << c.number;
}

TEST(XlsValues, TimeOfADayNumber) {
  struct Case {
    double number;
    uint32_t seconds;
  } cases[] = {{0.5, 43200}, {0.999999, 0}, {1.75, 64800}, {-0.25, 64800}, {-1.5, 43200}, {45366.0000001, 0},
               {0.25 + 0.4 / 86400, 21600}, {0.25 + 0.6 / 86400, 21601}};
  for (const Case& c : cases) EXPECT_EQ(xlsSecondsOfDay(c.number), c.seconds) << c.number;
}

class XlsDeclaredListTest : public ErrorCapturingTest {
 protected:
  void SetUp() override {
    ErrorCapturingTest::SetUp();
    list_->setOwner(nullptr);  // messages keep their numbers, without text
  }
};

TEST_F(XlsDeclaredListTest, TypesAndErrors) {
  struct Case {
    const char* text;
    std::vector<std::pair<XlsType, uint16_t>> columns;
    uint16_t message;  // 0: accepted
    const char* rest;  // what follows the list
  } cases[] = {
      {"(CHAR(20), num, Float, INT, INTEGER, MONEY, NUMBER) WHERE",
       {{xlsChar, 20}, {xlsNumber, 0}, {xlsNumber, 0}, {xlsNumber, 0}, {xlsNumber, 0}, {xlsNumber, 0}, {xlsNumber, 0}},
       0, " WHERE"},
      {"(date, LOGICAL, time, TIMESTAMP, character(255))",
       {{xlsTimestamp, 0}, {xlsLogical, 0}, {xlsTime, 0}, {xlsTimestamp, 0}, {xlsChar, 255}}, 0, ""},
      {"(CHAR(1))", {{xlsChar, 1}}, 0, ""},
      {"(CHAR(0))", {}, msgXlsCharWidth, nullptr},
      {"(CHAR(256))", {}, msgXlsCharWidth, nullptr},
      {"(CHAR(99999999999999999999))", {}, msgXlsBadTypeSyntax, nullptr},
      {"(CHAR(x))", {}, msgXlsBadTypeSyntax, nullptr},
      {"(CHAR 20)", {}, msgXlsBadTypeSyntax, nullptr},
      {"(BLOB)", {}, msgXlsSyntax, nullptr},
      {"(NUMBER NUMBER)", {}, msgXlsMissingCommaOrParen, nullptr},
      {"(NUMBER", {}, msgMissingRightParen, nullptr},
      {"(", {}, msgMissingRightParen, nullptr},
  };
  for (const Case& c : cases) {
    clearErrors();
    const unsigned char* position = kvU(c.text);
    std::vector<XlsDeclaredColumn> columns;
    KvStatus status = xlsParseDeclaredList(&position, &columns);
    if (c.message) {
      EXPECT_EQ(status, kvFailure) << c.text;
      EXPECT_EQ(errors(), std::vector<uint16_t>{c.message}) << c.text;
      continue;
    }
    ASSERT_EQ(status, kvSuccess) << c.text << " " << firstErrorNumber();
    std::vector<std::pair<XlsType, uint16_t>> got;
    for (const XlsDeclaredColumn& column : columns) got.emplace_back(column.type, column.width);
    EXPECT_EQ(got, c.columns) << c.text;
    EXPECT_STREQ(kvC(position), c.rest) << c.text;
  }
}

}  // namespace
