// Input and output strings of the ODBC calls: SQL_NTS and bad lengths,
// truncation with the full length reported, length pointers of every width
// written whole, and bound arrays walked row by row.
#include "tests/base/base_test_support.h"

#include "base/handles/base_out_string.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class StringTest : public ::testing::Test {
 protected:
  void SetUp() override { KvErrorKeeper::setErrorList(&list_); }
  void TearDown() override { KvErrorKeeper::giveUpErrorList(); }
  std::string firstState() { return list_.getCount() ? nextDiagnostic(list_).state : ""; }
  BaseErrorList list_{nullptr};
};

TEST_F(StringTest, InputLengthRules) {
  const unsigned char text[] = "select 1";
  struct Case {
    const unsigned char* text;
    int32_t length;
    uint32_t expected;
    bool invalid;
  } cases[] = {
      {text, SQL_NTS, 8, false},
      {text, 6, 6, false},  // a counted text need not end in a zero
      {text, 0, 0, false},
      {text, -1, 0, true},
      {text, -5, 0, true},
      {nullptr, SQL_NTS, 0, false},  // null reads as empty
  };
  for (const Case& c : cases) {
    list_.clearErrors();
    BaseInString in(c.text, c.length);
    EXPECT_EQ(in.getLength(), c.expected) << c.length;
    EXPECT_EQ(in.hasInvalidLength() != 0, c.invalid) << c.length;
    EXPECT_EQ(in.checkLength(), c.invalid ? kvFailure : kvSuccess) << c.length;
    EXPECT_EQ(firstState(), c.invalid ? "S1090" : "") << c.length;
  }
}

TEST_F(StringTest, CopyOutlivesTheCallersBuffer) {
  unsigned char text[] = "abcdef";
  BaseInString in(text, 3);
  EXPECT_TRUE(in.isCallersText());
  ASSERT_EQ(in.makeCopy(), kvSuccess);
  EXPECT_FALSE(in.isCallersText());
  std::memset(text, 'x', 6);
  EXPECT_STREQ(kvC(in.getStr()), "abc");
}

// Every width of length pointer gets the full length, and the text what
// fits of it.
TEST_F(StringTest, TruncationReportsTheFullLength) {
  struct Case {
    int32_t size;
    const char* written;
    bool truncated;
  } cases[] = {
      {16, "abcdef", false}, {7, "abcdef", false}, {6, "abcde", true},
      {4, "abc", true},      {1, "", true},        {0, "untouched", true},
  };
  for (const Case& c : cases) {
    for (int width : {16, 32, 64}) {
      list_.clearErrors();
      char buffer[16];
      std::strcpy(buffer, "untouched");
      SQLSMALLINT length16 = -7;
      SQLINTEGER length32 = -7;
      SQLLEN length64 = -7;
      BaseOutString out = width == 16   ? BaseOutString(buffer, c.size, &length16)
                          : width == 32 ? BaseOutString(buffer, c.size, &length32)
                                        : BaseOutString(buffer, SQLLEN(c.size), &length64);
      out.setStrValue(kvU("abcdef"));
      EXPECT_STREQ(buffer, c.written) << c.size << " " << width;
      int64_t reported = width == 16 ? length16 : width == 32 ? length32 : length64;
      EXPECT_EQ(reported, 6) << c.size << " " << width;
      EXPECT_EQ(out.wasTruncated() != 0, c.truncated);
      EXPECT_EQ(firstState(), c.truncated ? "01004" : "") << c.size << " " << width;
    }
  }
}

TEST_F(StringTest, BinaryValuesAreNotTerminated) {
  unsigned char buffer[4] = {9, 9, 9, 9};
  SQLLEN length = 0;
  BaseOutString out(buffer, SQLLEN(3), &length);
  out.setBufValue("\x01\x02\x03", 3);
  EXPECT_EQ(buffer[2], 3);
  EXPECT_EQ(buffer[3], 9);
  EXPECT_EQ(length, 3);
  EXPECT_EQ(list_.getCount(), 0u);
}

// SQL_NULL_DATA through a length pointer reads as -1 at its own width: an
// SQLLEN whose high half were left alone would read 4294967295.
TEST_F(StringTest, NullLengthIsWrittenWhole) {
  SQLLEN length64;
  std::memset(&length64, 0, sizeof(length64));
  BaseOutString(nullptr, SQLLEN(0), &length64).setLength(SQL_NULL_DATA);
  EXPECT_EQ(length64, SQL_NULL_DATA);
  SQLINTEGER length32 = 0;
  BaseOutString(nullptr, 0, &length32).setLength(SQL_NULL_DATA);
  EXPECT_EQ(length32, SQL_NULL_DATA);
  SQLSMALLINT length16 = 0;
  BaseOutString(nullptr, 0, &length16).setLength(SQL_NULL_DATA);
  EXPECT_EQ(length16, SQL_NULL_DATA);
}

TEST_F(StringTest, NegativeBufferSizeIsS1090) {
  char buffer[8];
  SQLSMALLINT length = 0;
  BaseOutString bad(buffer, -1, &length);
  EXPECT_EQ(bad.checkSize(), kvFailure);
  EXPECT_EQ(firstState(), "S1090");
  list_.clearErrors();
  EXPECT_EQ(BaseOutString(nullptr, -1, &length).checkSize(), kvSuccess) << "no buffer, nothing written";
  EXPECT_EQ(BaseOutString(buffer, 0, &length).checkSize(), kvSuccess);
}

// Column-wise arrays: values step by the buffer size, SQLLEN indicators by
// 8 bytes. Row-wise: both step by the row size.
TEST_F(StringTest, BoundArraysMoveByRow) {
  char values[3][8] = {};
  SQLLEN lengths[3] = {7, 7, 7};
  BaseOutString column(values[0], SQLLEN(8), &lengths[0]);
  column.advance(0, 2);
  column.setStrValue(kvU("row2"));
  column.retreat(0, 2);
  column.advance(0, 1);
  column.setLength(SQL_NULL_DATA);
  column.retreat(0, 1);
  column.setStrValue(kvU("row0"));
  EXPECT_STREQ(values[0], "row0");
  EXPECT_STREQ(values[2], "row2");
  EXPECT_EQ(lengths[0], 4);
  EXPECT_EQ(lengths[1], SQL_NULL_DATA);
  EXPECT_EQ(lengths[2], 4);

  struct Row {
    char value[6];
    SQLLEN length;
  } rows[3] = {};
  BaseOutString rowWise(rows[0].value, SQLLEN(sizeof(rows[0].value)), &rows[0].length);
  rowWise.advance(sizeof(Row), 2);
  rowWise.setStrValue(kvU("two"));
  EXPECT_STREQ(rows[2].value, "two");
  EXPECT_EQ(rows[2].length, 3);
  EXPECT_EQ(rows[1].length, 0);
}

}  // namespace
