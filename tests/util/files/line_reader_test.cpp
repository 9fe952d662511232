// The file line reader: CR LF lines, pieces of over-long lines, push-back,
// decoding, and files that end oddly or use LF alone.
#include "util/files/line_reader.h"

#include "util/files/encrypt.h"
#include "tests/util/bos_test_support.h"

namespace {

struct Line {
  std::string text;
  bool complete;
  int64_t offset;
};

class LineReaderTest : public BosTest {
 protected:
  // Every line up to and including the empty one at the end. Fails the test
  // when the reader does not reach the end within one call per byte.
  std::vector<Line> readAll(KvFileByLine& reader, size_t fileBytes) {
    std::vector<Line> lines;
    KvSubString line;
    for (size_t calls = 0; calls <= fileBytes + 1; ++calls) {
      EXPECT_EQ(reader.getNextLine(line), kvSuccess);
      lines.push_back({std::string(kvC(line.getText()), line.getLength()), reader.isLineComplete() != 0,
                       reader.getLineOffset()});
      if (reader.isAtEnd()) return lines;
    }
    ADD_FAILURE() << "no end after " << fileBytes + 2 << " calls";
    return lines;
  }
  std::vector<Line> readFileLines(const std::string& content, uint32_t bufferSize, int keepEnds = 1) {
    writeFile(path("f.txt"), content);
    KvFileByLine reader;
    EXPECT_EQ(reader.openFile(kvU(path("f.txt").c_str()), bufferSize), kvSuccess);
    reader.setKeepLineEnds(keepEnds);
    return readAll(reader, content.size());
  }
};

TEST_F(LineReaderTest, LinesEndWithCrLf) {
  struct Case {
    std::string content;
    int keepEnds;
    std::vector<std::string> lines;  // the empty one at the end not listed
  } cases[] = {
      {"a\r\nb", 1, {"a\r\n", "b"}},
      {"a\r\nb", 0, {"a", "b"}},
      {"a\r\nb\r\n", 1, {"a\r\n", "b\r\n"}},
      {"\r\n\r\nx", 0, {"", "", "x"}},
      {"one\rtwo\nthree\r\n", 1, {"one\rtwo\nthree\r\n"}},  // CR or LF alone is data
      {"a\n\nb\n", 1, {"a\n\nb\n"}},                       // LF-only: one line
      {"ends in CR\r", 1, {"ends in CR\r"}},
      {"", 1, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.content));
    std::vector<Line> lines = readFileLines(c.content, 64, c.keepEnds);
    ASSERT_EQ(lines.size(), c.lines.size() + 1);
    int64_t offset = 0;
    for (size_t i = 0; i < c.lines.size(); ++i) {
      EXPECT_EQ(lines[i].text, c.lines[i]);
      EXPECT_TRUE(lines[i].complete);
      EXPECT_EQ(lines[i].offset, offset);
      offset = c.content.find("\r\n", size_t(offset)) == std::string::npos
                   ? int64_t(c.content.size())
                   : int64_t(c.content.find("\r\n", size_t(offset))) + 2;
    }
    EXPECT_EQ(lines.back().text, "");
    EXPECT_EQ(lines.back().offset, int64_t(c.content.size()));
  }
  EXPECT_TRUE(errors().empty());
}

TEST_F(LineReaderTest, OverLongLinesComeInPieces) {
  // Buffer 8: each piece is the full buffer less the 4 bytes held back.
  std::vector<Line> lines = readFileLines("0123456789ABCDEF\r\nxy", 8);
  std::vector<std::pair<std::string, bool>> expected = {
      {"0123", false}, {"4567", false}, {"89AB", false}, {"CDEF\r\n", true}, {"xy", true}, {"", true}};
  ASSERT_EQ(lines.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(lines[i].text, expected[i].first) << i;
    EXPECT_EQ(lines[i].complete, expected[i].second) << i;
  }
  EXPECT_EQ(lines[3].offset, 12);
  EXPECT_EQ(lines[4].offset, 18);
}

TEST_F(LineReaderTest, EveryBufferSizeReadsEveryByteOnceAndFindsEveryLineEnd) {
  // Line ends that straddle fills, LF-only text, runs of CR, a file that
  // ends without a line end: the pieces always add up to the file, and a
  // whole line ends exactly where the file has CR LF.
  const std::string contents[] = {
      "ab\r\ncd\r\n\r\nefghijklmnop\r\nq",
      "\r\r\r\n\r\n\n\r\n",
      "lf only\nlines\nhere\n",
      std::string(50, 'x') + "\r\n" + std::string(3, 'y'),
  };
  for (const std::string& content : contents) {
    for (uint32_t size = kvLineMinBufferBytes; size <= 12; ++size) {
      SCOPED_TRACE(::testing::PrintToString(content) + " buffer " + std::to_string(size));
      std::vector<Line> lines = readFileLines(content, size);
      std::string joined;
      for (const Line& line : lines) {
        EXPECT_EQ(line.offset, int64_t(joined.size()));
        joined += line.text;
        const bool endsInPair = line.text.size() >= 2 && line.text.compare(line.text.size() - 2, 2, "\r\n") == 0;
        if (line.complete && joined.size() < content.size()) {
          EXPECT_TRUE(endsInPair);
        }
        // No line or piece holds the pair anywhere but at its end.
        const size_t inner = line.text.find("\r\n");
        if (inner != std::string::npos) {
          EXPECT_EQ(inner, line.text.size() - 2);
        }
      }
      EXPECT_EQ(joined, content);
    }
  }
}

TEST_F(LineReaderTest, BuffersOfFourBytesOrLessAreRefused) {
  writeFile(path("f.txt"), "a\r\nb");
  for (uint32_t size : {0u, 1u, 4u, 0xFFFFFFFFu}) {
    KvFileByLine reader;
    EXPECT_EQ(reader.openFile(kvU(path("f.txt").c_str()), size), kvFailure) << size;
    EXPECT_EQ(reader.getFile(), 0);
    EXPECT_EQ(errors(), std::vector<uint16_t>{1517});
    clearErrors();
    KvSubString line;
    EXPECT_EQ(reader.getNextLine(line), kvFailure);
    EXPECT_EQ(line.getLength(), 0u);
    EXPECT_EQ(errors(), std::vector<uint16_t>{1507});
    clearErrors();
  }
}

TEST_F(LineReaderTest, UngetLineReturnsTheSameLineAgain) {
  // Buffer 8 over "abc\r\n0123456789\r\nxyz": the second line arrives as a
  // piece and then the rest of it, each through a refill; every line pushed
  // back comes again, also the empty one at the end.
  const std::string content = "abc\r\n0123456789\r\nxyz";
  writeFile(path("f.txt"), content);
  KvFileByLine reader;
  ASSERT_EQ(reader.openFile(kvU(path("f.txt").c_str()), 8), kvSuccess);
  KvSubString line;
  std::vector<std::string> seen;
  for (int i = 0; i < 12; ++i) {
    ASSERT_EQ(reader.getNextLine(line), kvSuccess);
    const std::string first(kvC(line.getText()), line.getLength());
    const int64_t offset = reader.getLineOffset();
    const bool atEnd = reader.isAtEnd();
    reader.ungetLine();
    ASSERT_EQ(reader.getNextLine(line), kvSuccess);
    EXPECT_EQ(std::string(kvC(line.getText()), line.getLength()), first);
    EXPECT_EQ(reader.getLineOffset(), offset);
    EXPECT_EQ(reader.isAtEnd() != 0, atEnd);
    seen.push_back(first);
    if (atEnd) break;
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"abc\r\n", "0123", "456789\r\n", "xyz", ""}));
}

TEST_F(LineReaderTest, NonBlankLinesSkipWhiteSpaceAndStopAtTheEnd) {
  writeFile(path("f.txt"), "\r\n  \t\r\na\r\n \r\n\r\nb\r\n  ");
  KvFileByLine reader;
  ASSERT_EQ(reader.openFile(kvU(path("f.txt").c_str()), 64), kvSuccess);
  reader.setKeepLineEnds(0);
  KvSubString line;
  std::vector<std::string> seen;
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(reader.getNextNonBlankLine(line), kvSuccess);
    seen.push_back(std::string(kvC(line.getText()), line.getLength()));
    if (reader.isAtEnd()) break;
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", ""}));
}

TEST_F(LineReaderTest, DecodingWorksOnACopyAndKeepsEveryByte) {
  // Lines scrambled in mode 2, with the bytes 0xF2 and 0xF5 in the text.
  std::string plain = "plain first\r\n";
  std::string secret = "x\xF2y\xF5z\r\nsecond \xF5\r\n";
  std::string scrambled = secret;
  encrypt(kvU(&scrambled[0]), uint32_t(scrambled.size()), kvEncryptKeepLines, nullptr);
  writeFile(path("f.txt"), plain + scrambled);
  KvFileByLine reader;
  ASSERT_EQ(reader.openFile(kvU(path("f.txt").c_str()), 64), kvSuccess);
  KvSubString line;
  ASSERT_EQ(reader.getNextLine(line), kvSuccess);
  EXPECT_EQ(std::string(kvC(line.getText()), line.getLength()), plain);
  reader.setDecodeMode(kvEncryptKeepLines);
  ASSERT_EQ(reader.getNextLine(line), kvSuccess);
  EXPECT_EQ(std::string(kvC(line.getText()), line.getLength()), "x\xF2y\xF5z\r\n");
  reader.ungetLine();
  ASSERT_EQ(reader.getNextLine(line), kvSuccess);
  EXPECT_EQ(std::string(kvC(line.getText()), line.getLength()), "x\xF2y\xF5z\r\n");
  ASSERT_EQ(reader.getNextLine(line), kvSuccess);
  EXPECT_EQ(std::string(kvC(line.getText()), line.getLength()), "second \xF5\r\n");
  EXPECT_EQ(reader.getLineOffset(), int64_t(plain.size() + 7));
}

TEST_F(LineReaderTest, OpenAndCloseKeepTheStateClean) {
  KvFileByLine reader;
  EXPECT_EQ(reader.openFile(kvU(path("missing.txt").c_str()), 64), kvFailure);
  EXPECT_EQ(errors(), std::vector<uint16_t>{30040});
  EXPECT_EQ(reader.getFile(), 0);
  clearErrors();
  writeFile(path("f.txt"), "a\r\n");
  ASSERT_EQ(reader.openFile(kvU(path("f.txt").c_str()), 64), kvSuccess);
  EXPECT_STREQ(kvC(reader.getFileName()), path("f.txt").c_str());
  EXPECT_NE(reader.getFile(), 0);
  // Opening again closes the first file.
  ASSERT_EQ(reader.openFile(kvU(path("f.txt").c_str()), 16), kvSuccess);
  EXPECT_EQ(reader.closeFile(), kvSuccess);
  EXPECT_EQ(reader.getFile(), 0);
  EXPECT_EQ(reader.closeFile(), kvSuccess);
  EXPECT_TRUE(errors().empty());
}

}  // namespace
