// Input and output strings of the ODBC calls: SQL_NTS and bad lengths,
// truncation with the full length reported, length pointers of every width
// written whole, and bound arrays walked row by row.
#include "tests/base/base_test_support.h"

#include "base/handles/base_out_string.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>

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
      ASSERT_EQ(out.setStrValue(kvU("abcdef")), kvSuccess);
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
  ASSERT_EQ(column.setStrValue(kvU("row2")), kvSuccess);
  column.retreat(0, 2);
  column.advance(0, 1);
  column.setLength(SQL_NULL_DATA);
  column.retreat(0, 1);
  ASSERT_EQ(column.setStrValue(kvU("row0")), kvSuccess);
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
  ASSERT_EQ(rowWise.setStrValue(kvU("two")), kvSuccess);
  EXPECT_STREQ(rows[2].value, "two");
  EXPECT_EQ(rows[2].length, 3);
  EXPECT_EQ(rows[1].length, 0);
}

// Under a UTF-8 locale the application's text is UTF-8 both ways: input
// strings become ANSI, text values go out cut between characters with the
// whole text's length in UTF-8 bytes; the framework's own buffers stay ANSI.
TEST_F(StringTest, TextCrossesInTheLocalesCodeSet) {
  const std::string saved = std::setlocale(LC_CTYPE, nullptr);
  ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
  const unsigned char ansi[] = "\xC9ve \x80";  // "Ève €": 8 bytes of UTF-8
  struct Case {
    SQLLEN size;
    const char* written;
    uint32_t consumed;
  } cases[] = {
      {16, "\xC3\x89ve \xE2\x82\xAC", 5}, {9, "\xC3\x89ve \xE2\x82\xAC", 5}, {8, "\xC3\x89ve ", 4},
      {3, "\xC3\x89", 1},                     {2, "", 0},                            {1, "", 0},
  };
  for (const Case& c : cases) {
    list_.clearErrors();
    char buffer[16];
    SQLLEN length = 0;
    BaseOutString out(buffer, c.size, &length);
    ASSERT_EQ(out.setStrValue(ansi), kvSuccess);
    EXPECT_STREQ(buffer, c.written) << c.size;
    EXPECT_EQ(length, 8) << c.size;
    EXPECT_EQ(out.getConsumed(), c.consumed) << c.size;
    EXPECT_EQ(firstState(), c.size > 8 ? "" : "01004") << c.size;
  }
  char raw[16];
  SQLLEN rawLength = 0;
  BaseOutString own(raw, SQLLEN(sizeof(raw)), &rawLength);
  own.keepAnsi();
  ASSERT_EQ(own.setStrValue(ansi), kvSuccess);
  EXPECT_STREQ(raw, "\xC9ve \x80");
  EXPECT_EQ(rawLength, 5);

  list_.clearErrors();
  BaseInString in(kvU("\xC5\x92uvre"), SQL_NTS);
  ASSERT_EQ(in.convertFromApp(), kvSuccess);
  EXPECT_EQ(std::string(kvC(in.getStr()), in.getLength()), "\x8Cuvre");
  BaseInString refused(kvU("\xE2\x82\xBD"), SQL_NTS);
  EXPECT_EQ(refused.convertFromApp(), kvFailure);
  EXPECT_EQ(firstState(), "22005");
  std::setlocale(LC_CTYPE, saved.c_str());
}

}  // namespace
