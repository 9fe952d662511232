// Date masks: compiling, parsing, writing and writing back as text.
#include "drivers/text/masks/txt_date_mask.h"
#include "drivers/text/text_message_ids.h"

#include "base/handles/base_error_list.h"
#include "util/error_list.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

namespace {

// Runs with an error list current, as inside an ODBC call.
class TxtDateMaskTest : public ::testing::Test {
 protected:
  void SetUp() override { KvErrorKeeper::setErrorList(&list_); }
  void TearDown() override { KvErrorKeeper::giveUpErrorList(); }
  uint16_t lastError() { return KvErrorKeeper::getLastErrorNumber(); }
  std::vector<uint8_t> compile(const char* text, KvStatus* status = nullptr) {
    unsigned char out[txtMaskBytes];
    list_.clearErrors();
    KvStatus s = txtCompileMask(reinterpret_cast<const unsigned char*>(text), out);
    if (status) *status = s;
    if (s != kvSuccess) return {};
    return std::vector<uint8_t>(out, out + std::strlen(reinterpret_cast<char*>(out)));
  }
  std::string write(const char* mask, int16_t y, uint16_t m, uint16_t d, uint32_t size = 64) {
    unsigned char compiled[txtMaskBytes];
    EXPECT_EQ(txtCompileMask(reinterpret_cast<const unsigned char*>(mask), compiled), kvSuccess) << mask;
    unsigned char out[256] = {};
    list_.clearErrors();
    if (txtWriteDate(compiled, y, m, d, out, size) != kvSuccess) return "<" + std::to_string(lastError()) + ">";
    return reinterpret_cast<char*>(out);
  }
  // "yyyy-mm-dd" of the parse, or "<message>".
  std::string parse(const char* mask, const std::string& value) {
    unsigned char compiled[txtMaskBytes];
    EXPECT_EQ(txtCompileMask(reinterpret_cast<const unsigned char*>(mask), compiled), kvSuccess) << mask;
    int16_t y = 0;
    uint16_t m = 0, d = 0;
    list_.clearErrors();
    if (txtParseDate(reinterpret_cast<const unsigned char*>(value.data()), uint32_t(value.size()), compiled, &y, &m,
                     &d) != kvSuccess)
      return "<" + std::to_string(lastError()) + ">";
    char text[48];
    std::snprintf(text, sizeof(text), "%04d-%02u-%02u", y, m, d);
    return text;
  }

  KvErrorList list_{nullptr, 1};
};

TEST_F(TxtDateMaskTest, CompilesEveryToken) {
  EXPECT_EQ(compile("m/d/yy"), (std::vector<uint8_t>{1, 20, 9, 20, 17}));
  EXPECT_EQ(compile("mm-dd-yyyy"), (std::vector<uint8_t>{2, 21, 10, 21, 18}));
  EXPECT_EQ(compile("mmm Mmm MMM"), (std::vector<uint8_t>{3, 25, 4, 25, 5}));
  EXPECT_EQ(compile("mmmm.Mmmm:MMMM"), (std::vector<uint8_t>{6, 22, 7, 23, 8}));
  EXPECT_EQ(compile("ddd,Ddd DDD"), (std::vector<uint8_t>{11, 24, 12, 25, 13}));
  EXPECT_EQ(compile("dddd Dddd DDDD"), (std::vector<uint8_t>{14, 25, 15, 25, 16}));
  EXPECT_EQ(compile("J"), (std::vector<uint8_t>{19}));
  EXPECT_EQ(compile("yyyy\\Tmm'of'\"\""), (std::vector<uint8_t>{18, 28, 'T', 2, 29, 2, 'o', 'f'}));
}

TEST_F(TxtDateMaskTest, RefusesBadMasksWithTheirMessage) {
  struct Case {
    const char* mask;
    uint16_t message;
  } cases[] = {
      {"yyy", msgTxtMaskInvalid},       {"mmmmm", msgTxtMaskInvalid},  {"MmM", msgTxtMaskMonthAbbr},
      {"mMMm", msgTxtMaskMonthName},    {"dDd", msgTxtMaskDayAbbr},    {"DDdd", msgTxtMaskDayName},
      {"yyyy 'abc", msgTxtMaskNoQuote}, {"q", msgTxtMaskInvalid},      {"j", msgTxtMaskInvalid},
      {"ddddd", msgTxtMaskInvalid},     {"yyyy\\", msgTxtMaskInvalid},
      {"\"a very long quoted text that goes past the limit\"", msgTxtMaskInvalid},
  };
  for (const Case& c : cases) {
    KvStatus status = kvSuccess;
    compile(c.mask, &status);
    EXPECT_EQ(status, kvFailure) << c.mask;
    EXPECT_EQ(lastError(), c.message) << c.mask;
  }
  // 33 compiled bytes are the most: 32 tokens and the terminator.
  KvStatus status = kvFailure;
  EXPECT_EQ(compile(std::string(32, 'J').c_str(), &status).size(), 32u);
  EXPECT_EQ(status, kvSuccess);
  compile(std::string(33, 'J').c_str(), &status);
  EXPECT_EQ(status, kvFailure);
  EXPECT_EQ(lastError(), msgTxtMaskInvalid);
}

TEST_F(TxtDateMaskTest, ParsesValues) {
  struct Case {
    const char* mask;
    const char* value;
    const char* date;
  } cases[] = {
      {"m/d/yy", "7/4/95", "1995-07-04"},
      {"m/d/yy", "7x4x95", "1995-07-04"},  // separators take any character
      {"m/d/yy", "  12/25/95 and more", "1995-12-25"},
      {"mdyy", "1395", "1995-01-03"},  // "13" is no month: m takes "1", d "3"
      {"m/dyy", "1/3195", "1995-01-31"},
      {"yyyy-mm-dd", "2024-02-29", "2024-02-29"},
      {"yyyy-mm-dd", "24-02-29", "<1262>"},
      {"yyyy-mm-dd", "2024-02", "<1262>"},
      {"yy-mm-dd", "2024-02-29", "1920-04-02"},  // "20", then "2" as the separator
      {"yyyymmdd", "19950704", "1995-07-04"},
      {"m/d/yyyy", "2/31/1995", "<1262>"},   // no such day
      {"m/d/yyyy", "2/29/1995", "<1262>"},
      {"Mmm d yyyy", "jul 4 1995", "1995-07-04"},
      {"MMMM dd, yyyy", "February 09, 2001", "2001-02-09"},
      {"Dddd Mmmm dd yyyy", "Tuesday July 04 1995", "1995-07-04"},
      {"ddd mmm dd yyyy", "TUE JUL 04 1995", "1995-07-04"},
      {"mmm", "ju", "<1262>"},
      {"J", "2449903", "1995-07-04"},
      {"J", "99999999999999999999", "<1262>"},
      {"J", "12", "<1262>"},
      {"yyyy'T'mm\\.dd", "1999Q12/31", "1999-12-31"},
  };
  for (const Case& c : cases) EXPECT_EQ(parse(c.mask, c.value), c.date) << c.mask << " " << c.value;
  // An empty mask gives day 1 of this month.
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char expected[48];
  std::snprintf(expected, sizeof(expected), "%04d-%02d-01", local.tm_year + 1900, local.tm_mon + 1);
  EXPECT_EQ(parse("", "anything"), expected);
}

TEST_F(TxtDateMaskTest, WritesDates) {
  EXPECT_EQ(write("m/d/yy", 1995, 7, 4), "7/4/95");
  EXPECT_EQ(write("mm/dd/yyyy", 1995, 7, 4), "07/04/1995");
  EXPECT_EQ(write("Dddd Mmmm dd yyyy", 1995, 7, 4), "Tuesday July 04 1995");
  EXPECT_EQ(write("mmm Mmm MMM", 1995, 7, 4), "jul Jul JUL");
  EXPECT_EQ(write("dddd DDD ddd", 1995, 7, 4), "tuesday TUE tue");
  EXPECT_EQ(write("J", 1995, 7, 4), "2449903");
  EXPECT_EQ(write("yyyy\\T'at'", 1995, 7, 4), "1995Tat");
  EXPECT_EQ(write("", 1995, 7, 4), "");
  // The text and its terminator must fit.
  EXPECT_EQ(write("yyyy-mm-dd", 1995, 7, 4, 11), "1995-07-04");
  EXPECT_EQ(write("yyyy-mm-dd", 1995, 7, 4, 10), "<1261>");
  // A year yy cannot give back.
  EXPECT_EQ(write("m/d/yy", 2024, 7, 4), "<1272>");
  EXPECT_EQ(write("m/d/yy", 1899, 12, 31), "<1272>");
  EXPECT_EQ(write("m/d/yy", 1999, 12, 31), "12/31/99");
}

TEST_F(TxtDateMaskTest, MaskTextCompilesBackToTheSameMask) {
  for (const char* mask : {"m/d/yy", "Dddd Mmmm dd yyyy", "yyyy\\Tmm", "yyyy'of'mm", "yyyy'\"'mm", "J",
                           "ddd, DDD. dddd:DDDD - MMM Mmm", "mD\"\"DD", "yy\"\"yy", "mm''m"}) {
    unsigned char compiled[txtMaskBytes], again[txtMaskBytes];
    unsigned char text[128];
    ASSERT_EQ(txtCompileMask(reinterpret_cast<const unsigned char*>(mask), compiled), kvSuccess) << mask;
    ASSERT_EQ(txtMaskToText(compiled, text, sizeof(text)), kvSuccess) << mask;
    ASSERT_EQ(txtCompileMask(text, again), kvSuccess) << text;
    EXPECT_STREQ(reinterpret_cast<char*>(compiled), reinterpret_cast<char*>(again)) << mask;
  }
  const unsigned char reserved[] = {26, 0};
  unsigned char text[16];
  EXPECT_EQ(txtMaskToText(reserved, text, sizeof(text)), kvFailure);
  unsigned char out[16];
  EXPECT_EQ(txtWriteDate(reserved, 1995, 7, 4, out, sizeof(out)), kvFailure);
}

// Without an error list (the dialogs) nothing is posted; the status says it.
TEST(TxtDateMaskNoList, FailsWithoutPosting) {
  KvErrorKeeper::giveUpErrorList();
  unsigned char out[txtMaskBytes];
  EXPECT_EQ(txtCompileMask(reinterpret_cast<const unsigned char*>("q"), out), kvFailure);
}

}  // namespace
