// The row reader and writer over bytes in memory: delimited and fixed-width
// rows, quotes, line ends, the end mark, cut values, and rows written then
// read back.
#include "drivers/text/records/txt_row_reader.h"
#include "drivers/text/records/txt_row_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

class MemorySource : public TxtByteSource {
 public:
  explicit MemorySource(std::string bytes) : bytes_(std::move(bytes)) {}
  KvStatus read(uint64_t offset, unsigned char* buffer, uint32_t length, uint32_t* got) override {
    ++reads;
    *got = 0;
    if (offset >= bytes_.size()) return kvSuccess;
    *got = uint32_t(std::min<uint64_t>(length, bytes_.size() - offset));
    std::memcpy(buffer, bytes_.data() + offset, *got);
    return kvSuccess;
  }
  int reads = 0;

 private:
  std::string bytes_;
};

typedef std::vector<std::string> Row;

// Every row of the bytes, each value as text ("-" marks a cut value).
std::vector<Row> readAll(const std::string& bytes, uint32_t type, std::vector<TxtColumnSpan> columns,
                         unsigned char delimiter = ',', uint32_t window = 7, uint64_t start = 0) {
  MemorySource source(bytes);
  TxtRowReader reader(&source, window);
  reader.configure(type, delimiter, columns);
  std::vector<Row> rows;
  uint64_t at = start;
  for (int guard = 0; guard < 1000; ++guard) {
    int found = 0;
    EXPECT_EQ(reader.readRow(at, &found), kvSuccess);
    if (!found) break;
    EXPECT_GT(reader.nextOffset(), at);
    Row row;
    for (size_t i = 0; i < reader.columnCount(); ++i) row.push_back(reader.value(i) + (reader.isCut(i) ? "-" : ""));
    rows.push_back(row);
    at = reader.nextOffset();
  }
  return rows;
}

std::vector<TxtColumnSpan> widths(std::initializer_list<uint32_t> lengths) {
  std::vector<TxtColumnSpan> spans;
  uint32_t offset = 0;
  for (uint32_t l : lengths) {
    spans.push_back({offset, l});
    offset += l;
  }
  return spans;
}

TEST(TxtRowReader, DelimitedRows) {
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<Row> rows;
  } cases[] = {
      {"empty file", "", {}},
      {"end mark first", "\x1a" "a,b,c\n", {}},
      {"last line without LF", "a,b,c\r\nd,e,f", {{"a", "b", "c"}, {"d", "e", "f"}}},
      {"nulls", "a,,c\nd\n", {{"a", "", "c"}, {"d", "", ""}}},
      {"extra values dropped", "a,b,c,d,e\nf,g,h\n", {{"a", "b", "c"}, {"f", "g", "h"}}},
      {"quoted comma", "\"a,1\",b,c\n", {{"a,1", "b", "c"}}},
      {"doubled quotes", "\"say \"\"hi\"\"\",b,\"\"\n", {{"say \"hi\"", "b", ""}}},
      {"quoted line end", "\"two\r\nlines\",b,c\nx,y,z\n", {{"two\nlines", "b", "c"}, {"x", "y", "z"}}},
      {"quote inside unquoted", "a\"b,c\"\"d,e\n", {{"ab", "c\"d", "e"}}},
      // Text after a closing quote joins the value, which ends at the next
      // delimiter: the rest of the file is not swallowed.
      {"text after closing quote", "\"ab\"cd,e,f\ng,h,i\n", {{"abcd", "e", "f"}, {"g", "h", "i"}}},
      {"quoted extra value with line end", "a,b,c,\"x\ny\"\nd,e,f\n", {{"a", "b", "c"}, {"d", "e", "f"}}},
      {"blanks", "  a  ,b ,\" c \"\n", {{"  a", "b", " c"}}},
      {"CR dropped everywhere", "a\r,\"b\rc\",d\r\n", {{"a", "bc", "d"}}},
      {"end mark ends the data", "a,b,c\n\x1a" "d,e,f\n", {{"a", "b", "c"}}},
      {"end mark inside a row", "a,b\x1a,c\n", {{"a", "b", ""}}},
      {"empty lines skipped", "\n\r\na,b,c\n\n\r\nd,e,f\n\n", {{"a", "b", "c"}, {"d", "e", "f"}}},
      {"unclosed quote runs to the end", "a,\"b,c\nd,e,f\n", {{"a", "b,c\nd,e,f\n", ""}}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(readAll(c.bytes, txtTableComma, widths({20, 20, 20})), c.rows) << c.name;
}

TEST(TxtRowReader, DelimitersAndCutValues) {
  EXPECT_EQ(readAll("a\tb,c\td\n", txtTableTab, widths({10, 10})), (std::vector<Row>{{"a", "b,c"}}));
  EXPECT_EQ(readAll("a;b,c;d\n", txtTableCharacter, widths({10, 10}), ';'), (std::vector<Row>{{"a", "b,c"}}));
  // A value longer than its column is cut and marked.
  EXPECT_EQ(readAll("abcdef,xy\n", txtTableComma, widths({3, 3})), (std::vector<Row>{{"abc-", "xy"}}));
}

TEST(TxtRowReader, FixedRows) {
  std::vector<TxtColumnSpan> spans = {{0, 3}, {3, 4}, {9, 2}};
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<Row> rows;
  } cases[] = {
      {"whole lines", "abcdefg  hi\r\n123456789012\n", {{"abc", "defg", "hi"}, {"123", "4567", "01"}}},
      {"short line", "ab\nabcde\n", {{"ab", "", ""}, {"abc", "de", ""}}},
      {"CR not counted", "a\rbcdefg  hi\n", {{"abc", "defg", "hi"}}},
      {"trailing blanks cut", "a  b      \n", {{"a", "b", ""}}},
      {"end mark", "abcdefg  hi\x1a" "more\n", {{"abc", "defg", "hi"}}},
      {"quotes are data", "\"a,bcd\"  hi\n", {{"\"a,", "bcd\"", "hi"}}},
  };
  for (const Case& c : cases) EXPECT_EQ(readAll(c.bytes, txtTableFixed, spans), c.rows) << c.name;
}

TEST(TxtRowReader, FirstLineIsSkippedByTheRowRules) {
  // One quote inside a header name must not hide the rows.
  const std::string bytes = "na\"me,id\r\nalpha,1\nbeta,2\n";
  MemorySource source(bytes);
  TxtRowReader reader(&source, 5);
  reader.configure(txtTableComma, ',', widths({10, 10}));
  uint64_t start = 0;
  ASSERT_EQ(reader.skipFirstLine(&start), kvSuccess);
  EXPECT_EQ(start, 10u);
  EXPECT_EQ(readAll(bytes, txtTableComma, widths({10, 10}), ',', 5, start),
            (std::vector<Row>{{"alpha", "1"}, {"beta", "2"}}));
}

TEST(TxtRowReader, RereadingARowByItsOffset) {
  const std::string bytes = "a,1\nb,2\nc,3\n";
  MemorySource source(bytes);
  TxtRowReader reader(&source);
  reader.configure(txtTableComma, ',', widths({5, 5}));
  int found = 0;
  ASSERT_EQ(reader.readRow(0, &found), kvSuccess);
  ASSERT_EQ(reader.readRow(8, &found), kvSuccess);
  ASSERT_EQ(found, 1);
  EXPECT_EQ(reader.value(0), "c");
  ASSERT_EQ(reader.readRow(4, &found), kvSuccess);
  EXPECT_EQ(reader.value(0), "b");
  EXPECT_EQ(reader.rowOffset(), 4u);
  EXPECT_EQ(reader.nextOffset(), 8u);
  // The window is reused: one read served all three.
  EXPECT_EQ(source.reads, 1);
}

// What the writer writes, the reader reads back whole.
TEST(TxtRowWriter, RowsReadBackWhole) {
  const std::vector<TxtColumnSpan> spans = widths({12, 6, 10});
  const std::vector<std::vector<TxtOutValue>> rows = {
      {{'V', "plain"}, {'N', "12.5"}, {'D', "1995-07-04"}},
      {{'V', "say \"hi\", then"}, {'N', ""}, {'D', ""}},
      {{'V', "two\nlines"}, {'N', "-3"}, {'D', "x"}},
      {{'V', ""}, {'N', "0"}, {'D', "\"q\""}},
  };
  for (uint32_t type : {uint32_t(txtTableComma), uint32_t(txtTableTab), uint32_t(txtTableCharacter)}) {
    std::string file;
    std::vector<Row> expected;
    for (const auto& row : rows) {
      std::string line;
      txtFormatRow(type, ';', spans, row, &line);
      file += line;
      Row values;
      for (const TxtOutValue& v : row) {
        std::string text = v.text;
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        values.push_back(text);
      }
      expected.push_back(values);
    }
    EXPECT_EQ(readAll(file, type, widths({20, 20, 20}), ';'), expected) << type;
  }
  std::string line;
  txtFormatRow(txtTableComma, 0, spans, rows[1], &line);
  EXPECT_EQ(line, "\"say \"\"hi\"\", then\",,\"\"\r\n");
  // Fixed rows place each value at its offset.
  const std::vector<TxtColumnSpan> fixed = {{0, 4}, {6, 3}};
  txtFormatRow(txtTableFixed, 0, fixed, {{'V', "ab"}, {'N', "7"}}, &line);
  EXPECT_EQ(line, "ab    7  \r\n");
  EXPECT_EQ(readAll(line, txtTableFixed, fixed), (std::vector<Row>{{"ab", "7"}}));
}

}  // namespace
