// BIFF5 records and the Excel 5 workbook: RK numbers, number formats, the
// workbook globals of files gnumeric wrote and of streams built record by
// record, and the damaged streams that must give 1225 or 1226.
#include "drivers/excel/biff/xls_book_desc.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <memory>

#include "tests/drivers/excel/biff_test_support.h"
#include "drivers/excel/excel5_message_ids.h"

namespace {

TEST(BiffRecords, RkNumbers) {
  auto highHalf = [](double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    return uint32_t(bits >> 32);
  };
  struct Case {
    uint32_t rk;
    double number;
  } cases[] = {
      {(5u << 2) | 2, 5},
      {(uint32_t(-7) << 2) | 2, -7},
      {(1234u << 2) | 3, 12.34},
      {highHalf(1.5), 1.5},
      {highHalf(1.5) | 1, 0.015},
      {highHalf(-2.0), -2.0},
      {(uint32_t(0x1FFFFFFF) << 2) | 2, 536870911},
  };
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(biffRkNumber(c.rk), c.number) << std::hex << c.rk;
}

TEST(BiffRecords, FormatClasses) {
  struct Case {
    const char* text;
    XlsType type;
  } texts[] = {
      {"m/d/yy", xlsDate},          {"d-mmm-yy", xlsDate},         {"mmm-yy", xlsDate},
      {"[$-409]d-mmm", xlsDate},    {"hh:mm:ss", xlsTime},         {"h:mm AM/PM", xlsTime},
      {"mm:ss", xlsTime},           {"[h]:mm", xlsTime},           {"[mm]", xlsTime},
      {"yyyy-mm-dd hh:mm", xlsTimestamp}, {"m/d/yy h:mm", xlsTimestamp},
      {"General", xlsNumber},       {"0.00", xlsNumber},           {"#,##0_);[Red](#,##0)", xlsNumber},
      {"0.0E+00", xlsNumber},       {"@", xlsNumber},              {"\"days\" 0", xlsNumber},
      {"[Red]0.00", xlsNumber},     {"0\\d", xlsNumber},           {"_(* #,##0_)", xlsNumber},
      {"\"ym\"", xlsNumber},        {"[Blue]hh", xlsTime},
  };
  for (const Case& c : texts)
    EXPECT_EQ(biffFormatTextClass(kvU(c.text), uint32_t(std::strlen(c.text))), c.type) << c.text;
  std::map<uint16_t, XlsType> builtin = {{0, xlsNumber},  {13, xlsNumber},  {14, xlsDate},  {17, xlsDate},
                                         {18, xlsTime},   {21, xlsTime},    {22, xlsTimestamp}, {23, xlsNumber},
                                         {45, xlsTime},   {47, xlsTime},    {48, xlsNumber}, {49, xlsNumber}};
  for (const auto& b : builtin) EXPECT_EQ(biffBuiltinFormatClass(b.first), b.second) << b.first;
}

TEST(BiffRecords, CellRecordsShorterThanTheirFieldsAreRefused) {
  BiffCell cell;
  unsigned char data[32] = {};
  kvPutU16LE(data + 6, 20);  // a LABEL or STRING text longer than the record
  kvPutU16LE(data, 20);
  EXPECT_FALSE(biffDecodeCell(biffLabel, data, 27, &cell));
  EXPECT_TRUE(biffDecodeCell(biffLabel, data, 28, &cell));
  EXPECT_FALSE(biffDecodeCell(biffString, data, 21, &cell));
  EXPECT_FALSE(biffDecodeCell(biffNumber, data, 13, &cell));
  EXPECT_FALSE(biffDecodeCell(biffRk, data, 9, &cell));
  EXPECT_FALSE(biffDecodeCell(biffFormula, data, 13, &cell));
  EXPECT_FALSE(biffDecodeCell(biffBoolErr, data, 7, &cell));
  uint16_t row, column;
  uint32_t entries;
  EXPECT_FALSE(biffMulRkShape(data, 5, &row, &column, &entries));
  EXPECT_FALSE(biffMulRkShape(data, 11, &row, &column, &entries));
  kvPutU16LE(data + 2, 3);
  kvPutU16LE(data + 16, 4);  // two entries: columns 3 and 4
  EXPECT_TRUE(biffMulRkShape(data, 18, &row, &column, &entries));
  EXPECT_EQ(entries, 2u);
  kvPutU16LE(data + 16, 9);  // the last column disagrees with the entries
  EXPECT_FALSE(biffMulRkShape(data, 18, &row, &column, &entries));
}

class XlsBookTest : public ErrorCapturingTest {
 protected:
  void SetUp() override {
    ErrorCapturingTest::SetUp();
    // No connection owns the list: the driver's messages keep their numbers
    // and have no text.
    list_->setOwner(nullptr);
    ASSERT_TRUE(scratch_.make("kvxlsbook"));
  }
  // Opens a workbook whose "Book" is the stream given.
  KvStatus open(XlsBookDesc& book, const std::vector<unsigned char>& stream) {
    std::string path = scratch_.path("book.xls");
    writeWorkbook(path, stream);
    return book.openWorkbook(kvU(path.c_str()));
  }
  // Globals with a sheet's BOUNDSHEET, then extra, then EOF.
  static std::vector<unsigned char> globals(const std::function<void(BiffWriter&)>& extra) {
    BiffWriter w;
    w.bof();
    for (int i = 0; i < 16; ++i) w.xf(0);
    w.xf(14).xf(0x32).format(0x32, "yyyy-mm-dd hh:mm");
    w.boundSheet(0, "Sheet1");
    extra(w);
    w.eof();
    return w.bytes;
  }

  ScratchDirectory scratch_;
};

TEST_F(XlsBookTest, GnumericWorkbookNamesAndFormats) {
  XlsBookDesc book;
  ASSERT_EQ(book.openWorkbook(kvU(KV_TEST_DATA "/excel/sales.xls")), kvSuccess) << firstErrorText();
  std::vector<std::string> names;
  for (const XlsNameDesc& n : book.names()) names.push_back(n.name);
  // One, Relative, Both, Local and gnumeric's built-in names are no tables.
  EXPECT_EQ(names, (std::vector<std::string>{"Noheads", "lower", "Sales", "Stock",
                                             "LongNameOfFortyCharactersForTheTest12345",
                                             "LongNameOfFortyCharactersForThe"}));
  const XlsNameDesc* sales = book.findName("Sales");
  ASSERT_NE(sales, nullptr);
  EXPECT_EQ(sales->sheet, 0);
  EXPECT_EQ(sales->firstRow, 0);
  EXPECT_EQ(sales->lastRow, 5);
  EXPECT_EQ(sales->firstColumn, 0);
  EXPECT_EQ(sales->lastColumn, 6);
  EXPECT_EQ(book.findName("SALES"), nullptr);
  EXPECT_EQ(book.findName("LongNameOfFortyCharactersForThe")->sheet, 1);
  EXPECT_FALSE(book.is1904());

  // The format class of each header-row cell below decides by the column:
  // Sold is "m/d/yy", When "yyyy-mm-dd hh:mm", At "hh:mm:ss" (gnumeric's own
  // formats 50-52), the rest General.
  uint32_t offset = 0;
  ASSERT_EQ(book.sheetOffset(*sales, &offset), kvSuccess);
  XlsCellBuffer reader(&book);
  auto record = std::make_unique<XlsCellBuffer::Record>();
  std::map<uint16_t, XlsType> classes;
  for (int steps = 0; steps < 1000; ++steps) {
    ASSERT_EQ(reader.fetchRecord(offset, record.get()), kvSuccess);
    if (record->type == biffEof) break;
    BiffCell cell;
    if ((record->type == biffNumber || record->type == biffRk) &&
        biffDecodeCell(record->type, record->data, record->copied, &cell) && cell.row == 1)
      classes[cell.column] = book.formatClass(cell.xf);
    offset += 4 + record->length;
  }
  EXPECT_EQ(classes, (std::map<uint16_t, XlsType>{
                         {1, xlsNumber}, {3, xlsDate}, {5, xlsTimestamp}, {6, xlsTime}}));
}

TEST_F(XlsBookTest, NamesThatAreTables) {
  XlsBookDesc book;
  std::string forty(40, 'N');
  ASSERT_EQ(open(book, globals([&](BiffWriter& w) {
              w.name("Area", 0, 0, 9, 0, 3);
              w.name("Local", 0, 0, 9, 0, 3, 0, 1);                      // local to a sheet
              w.name("Cell", 0, 0, 0, 0, 0, 0, 0, 0x3A);                  // a single cell reference
              w.name("Relative", 0, 0, 0xC009, 0, 3);                     // relative rows
              w.name("TwoSheets", 0, 0, 9, 0, 3, 0, 0, 0x3B, 1);          // two sheets
              w.name("Hidden", 0, 0, 9, 0, 3, 0x0001);                    // flags other than 0
              w.name(std::string(1, '\x04'), 0, 2, 4, 1, 2, 0x0020);      // the built-in Database
              w.name(std::string(1, '\x06'), 0, 2, 4, 1, 2, 0x0020);      // another built-in name
              w.name(forty, 0, 0, 1, 0, 1);
              w.name("area", 0, 3, 4, 0, 0);
            })),
            kvSuccess)
      << firstErrorNumber();
  std::vector<std::string> names;
  for (const XlsNameDesc& n : book.names()) names.push_back(n.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Area", "Database", forty, "area"}));
  EXPECT_EQ(book.findName(forty.substr(0, 32)), nullptr);  // names are never cut
  EXPECT_EQ(book.findName("area")->firstRow, 3);
  EXPECT_EQ(book.findName("Database")->firstColumn, 1);
  EXPECT_EQ(book.formatClass(16), xlsDate);
  EXPECT_EQ(book.formatClass(17), xlsTimestamp);
  EXPECT_EQ(book.formatClass(18), xlsNumber);  // no such XF
}

TEST_F(XlsBookTest, GlobalsRecords) {
  // 1904 dates; a record longer than what is delivered does not hide the
  // record after it; an unused record type of any length is stepped over.
  XlsBookDesc book;
  ASSERT_EQ(open(book, globals([](BiffWriter& w) {
              w.record(biff1904, BiffWriter::u16(1));
              w.record(0x00FC, std::vector<unsigned char>(3000, 0x18));
              w.record(biffFormat, BiffWriter::cat({BiffWriter::u16(0x40), {200}, std::vector<unsigned char>(1800, 'h')}));
              w.name("After", 0, 0, 1, 0, 1);
            })),
            kvSuccess)
      << firstErrorNumber();
  EXPECT_TRUE(book.is1904());
  ASSERT_EQ(book.names().size(), 1u);
  EXPECT_EQ(book.names()[0].name, "After");
}

TEST_F(XlsBookTest, RefusedWorkbooks) {
  struct Case {
    const char* what;
    std::vector<unsigned char> stream;
    uint16_t message;
  };
  auto without = [](std::vector<unsigned char> bytes, size_t cut) {
    bytes.resize(bytes.size() - cut);
    return bytes;
  };
  std::vector<unsigned char> good = globals([](BiffWriter&) {});
  Case cases[] = {
      {"password", globals([](BiffWriter& w) { w.record(biffFilePass, std::vector<unsigned char>(6, 0)); }),
       msgXlsPassword},
      {"BIFF8 version", BiffWriter().bof(5, 0x0600).eof().bytes, msgXlsNotExcel},
      {"BIFF4 BOF", BiffWriter().bof(5, 0x0500, 0x0409).eof().bytes, msgXlsNotExcel},
      {"BOF type with another high byte", BiffWriter().bof(5, 0x0500, 0x0A09).eof().bytes, msgXlsNotExcel},
      {"no BOF first", BiffWriter().eof().bof().eof().bytes, msgXlsNotExcel},
      {"empty stream", {}, msgXlsNotExcel},
      {"no EOF", without(good, 4), msgXlsNotExcel},
      {"a record cut by the end", BiffWriter().bof().rawHeader(biffXf, 16).record(0, {1, 2, 3}).bytes,
       msgXlsNotExcel},
      {"a header cut by the end", without(good, 2), msgXlsNotExcel},
      {"area rows reversed", globals([](BiffWriter& w) { w.name("Back", 0, 5, 2, 0, 1); }), msgXlsNotExcel},
      {"area columns reversed", globals([](BiffWriter& w) { w.name("Back", 0, 1, 2, 3, 1); }), msgXlsNotExcel},
      {"name longer than its record",
       globals([](BiffWriter& w) {
         w.record(biffName, BiffWriter::cat({BiffWriter::u16(0), {0, 50}, BiffWriter::u16(21),
                                             std::vector<unsigned char>(20, 0)}));
       }),
       msgXlsNotExcel},
      {"format longer than its record",
       globals([](BiffWriter& w) { w.record(biffFormat, BiffWriter::cat({BiffWriter::u16(60), {9}, BiffWriter::str("0.0")})); }),
       msgXlsNotExcel},
      {"XF too short", globals([](BiffWriter& w) { w.record(biffXf, {1, 2}); }), msgXlsNotExcel},
  };
  for (const Case& c : cases) {
    clearErrors();
    XlsBookDesc book;
    EXPECT_EQ(open(book, c.stream), kvFailure) << c.what;
    EXPECT_EQ(errors(), std::vector<uint16_t>{c.message}) << c.what;
  }
}

TEST_F(XlsBookTest, FilesThatAreNoExcel5Workbooks) {
  struct Case {
    std::string path;
    uint16_t message;
  } cases[] = {
      {"/nonexistent/book.xls", msgXlsNoWorkbook},
      {KV_TEST_DATA "/excel/sales97.xls", msgXlsOpenStream},  // Excel 97: "Workbook", no "Book"
      {KV_TEST_DATA "/excel/NOTES.md", msgXlsOpenWorkbook},
  };
  for (const Case& c : cases) {
    clearErrors();
    XlsBookDesc book;
    EXPECT_EQ(book.openWorkbook(kvU(c.path.c_str())), kvFailure) << c.path;
    EXPECT_EQ(errors(), std::vector<uint16_t>{c.message}) << c.path;
  }
}

}  // namespace
