// Saved-query files: reading and writing them byte for byte, scrambling,
// the first line, version 2 files, parameters and descriptions, atomic
// saves, and the texts that could not be read back and are refused.
#include "util/files/query_file.h"

#include "util/files/encrypt.h"
#include "util/memory/ram.h"
#include "tests/util/bos_test_support.h"

namespace {

// A file as the writer writes it: every part in its place and order.
const std::string canonicalFile =
    "K+V 6.0 for dBASE\r\n"
    "use sales;\r\n"
    "SELECT name, 'it''s [x]' FROM t WHERE a = \"b;c\";\r\n"
    "[DEFINITION]\r\n"
    "SET.QUERY.DESCRIPTION ('Bob''s query')\r\n"
    "[PAGE_LAYOUT]\r\n"
    "margin=1\r\n"
    "\r\n"
    "[PARAMETERS]\r\n"
    "PARAMETER.CLEAR ()\r\n"
    "PARAMETER.ITEM ('a', 'b''c', '', 'd\"e', 7)\r\n"
    "PARAMETER.ITEM ('x', 'y', 'z', 'w', 4294967295)\r\n"
    "[USER COMMANDS]\r\n"
    "\r\n"
    "[Custom]\r\n"
    "x\r\n";

class QueryFileTest : public BosTest {
 protected:
  std::string sectionText(KvQueryFile& query, const char* name) {
    unsigned char* data = nullptr;
    uint32_t length = 0;
    EXPECT_EQ(query.getHugeSectionChunk(kvU(name), &data, &length), kvSuccess);
    std::string text = data ? std::string(kvC(data), length) : "<none>";
    ramFree(data);
    return text;
  }
  std::string statement(KvQueryFile& query) {
    KvString text;
    EXPECT_EQ(query.getSqlStmt(&text), kvSuccess);
    return std::string(kvC(text.getStr()), text.getLength());
  }
  bool hasSection(KvQueryFile& query, const char* name) {
    unsigned int exists = 2;
    EXPECT_EQ(query.doesSectionExist(kvU(name), &exists), kvSuccess);
    return exists != 0;
  }
  // The current list holds exactly this message; it is cleared.
  void expectOnly(uint16_t number) {
    EXPECT_EQ(errors(), std::vector<uint16_t>{number});
    clearErrors();
  }
  static std::string scramble(std::string text) {
    encrypt(kvU(&text[0]), uint32_t(text.size()), kvEncryptKeepLines, nullptr);
    return text;
  }
};

TEST_F(QueryFileTest, AFileReadsAndSavesByteForByte) {
  writeFile(path("q.kqy"), canonicalFile);
  KvQueryFile query;
  ASSERT_EQ(query.openFile(kvU(path("q.kqy").c_str())), kvSuccess);
  EXPECT_STREQ(kvC(query.getDbType().getStr()), "dBASE");
  EXPECT_STREQ(kvC(query.getDbName().getStr()), "sales");
  EXPECT_EQ(query.getMajorVersion(), 6);
  EXPECT_FALSE(query.isScrambled());
  EXPECT_EQ(statement(query), "SELECT name, 'it''s [x]' FROM t WHERE a = \"b;c\";");
  EXPECT_EQ(sectionText(query, "PAGE_LAYOUT"), "margin=1\r\n\r\n");
  EXPECT_EQ(sectionText(query, "USER COMMANDS"), "\r\n");
  EXPECT_EQ(sectionText(query, "Custom"), "x\r\n");
  EXPECT_EQ(sectionText(query, "custom"), "<none>");  // names are exact
  uint32_t firstSection = 0;
  ASSERT_EQ(query.getFirstSectionOffset(&firstSection), kvSuccess);
  EXPECT_EQ(firstSection, canonicalFile.find("[DEFINITION]"));

  ASSERT_EQ(query.save(), kvSuccess);
  EXPECT_EQ(readFile(path("q.kqy")), canonicalFile);
  ASSERT_EQ(query.saveAs(kvU(path("copy.kqy").c_str())), kvSuccess);
  EXPECT_EQ(readFile(path("copy.kqy")), canonicalFile);
  EXPECT_STREQ(kvC(query.getFileName()), path("copy.kqy").c_str());
  // The saves left no work file behind.
  EXPECT_EQ(listing(dir_), (std::vector<std::string>{"copy.kqy", "q.kqy"}));
  EXPECT_TRUE(errors().empty());
}

TEST_F(QueryFileTest, ScrambledFilesKeepEveryByteIncludingF2AndF5) {
  const std::string rest =
      "SELECT '\xF2\xF5' FROM t;\r\n"
      "[DEFINITION]\r\n"
      "SET.QUERY.DESCRIPTION ('caf\xE9 \xF2')\r\n"
      "[Notes]\r\n"
      "\xF5\xF2\r\n";
  const std::string file = "K+V 6.0 for Text (2)\r\n" + scramble(rest);
  ASSERT_EQ(file.find("SELECT"), std::string::npos);
  writeFile(path("s.kqy"), file);
  KvQueryFile query;
  ASSERT_EQ(query.openFile(kvU(path("s.kqy").c_str())), kvSuccess);
  EXPECT_TRUE(query.isScrambled());
  EXPECT_EQ(query.getScrambleMode(), 2);
  EXPECT_STREQ(kvC(query.getDbType().getStr()), "Text");
  EXPECT_EQ(statement(query), "SELECT '\xF2\xF5' FROM t;");
  EXPECT_EQ(sectionText(query, "Notes"), "\xF5\xF2\r\n");
  KvString description;
  ASSERT_EQ(query.getDescription(&description), kvSuccess);
  EXPECT_STREQ(kvC(description.getStr()), "caf\xE9 \xF2");

  ASSERT_EQ(query.save(), kvSuccess);
  EXPECT_EQ(readFile(path("s.kqy")), file);
  // A section changed in memory is scrambled when written.
  ASSERT_EQ(query.setHugeSectionChunk(kvU("Notes"), "new \xF2\r\n", 7), kvSuccess);
  ASSERT_EQ(query.save(), kvSuccess);
  EXPECT_EQ(readFile(path("s.kqy")),
            "K+V 6.0 for Text (2)\r\n" + scramble("SELECT '\xF2\xF5' FROM t;\r\n"
                                                 "[DEFINITION]\r\n"
                                                 "SET.QUERY.DESCRIPTION ('caf\xE9 \xF2')\r\n"
                                                 "[Notes]\r\n"
                                                 "new \xF2\r\n"));
  EXPECT_TRUE(errors().empty());
}

TEST_F(QueryFileTest, ANewQueryIsWrittenAsTheFormatSays) {
  KvQueryFile query;
  const std::string sql =
      "SELECT customer_name, order_total FROM orders WHERE note = 'keep these words on one line' "
      "AND order_total > 100";
  ASSERT_EQ(query.initialize(kvU("  Excel 5.0 "), kvU(sql.c_str()), uint32_t(sql.size())), kvSuccess);
  ASSERT_EQ(query.setDbName(kvU("C:/data/book.xls")), kvSuccess);
  ASSERT_EQ(query.setHugeSectionChunk(kvU("Zeta"), "z", 1), kvSuccess);
  ASSERT_EQ(query.setHugeSectionChunk(kvSectionPageLayout, "", 0), kvSuccess);
  KvArray params;
  params.setOwnsObjects(true);
  auto* param = new KvfParam;
  ASSERT_EQ(param->setText(0, kvU("it's"), 4), kvSuccess);
  ASSERT_EQ(param->setText(1, kvU("\"q\""), 3), kvSuccess);
  param->setNumber(12);
  ASSERT_EQ(params.add(param), kvSuccess);
  ASSERT_EQ(query.setParams(&params), kvSuccess);
  KvString description;
  ASSERT_EQ(description.initialize(kvU("O'Brien's")), kvSuccess);
  ASSERT_EQ(query.setDescription(&description), kvSuccess);
  ASSERT_EQ(query.setHugeSectionChunk(kvU("Alpha"), "a\r\nb", 4), kvSuccess);

  ASSERT_EQ(query.saveAs(kvU(path("new.kqy").c_str())), kvSuccess);
  const std::string expected =
      "K+V 6.0 for Excel 5.0\r\n"
      "use C:/data/book.xls;\r\n"
      "SELECT customer_name, order_total FROM orders WHERE note =\r\n"
      "'keep these words on one line' AND order_total > 100;\r\n"
      "[PAGE_LAYOUT]\r\n"
      "\r\n"
      "[PARAMETERS]\r\n"
      "PARAMETER.CLEAR ()\r\n"
      "PARAMETER.ITEM ('it''s', '\"q\"', '', '', 12)\r\n"
      "[DEFINITION]\r\n"
      "SET.QUERY.DESCRIPTION ('O''Brien''s')\r\n"
      "[Zeta]\r\n"
      "z\r\n"
      "[Alpha]\r\n"
      "a\r\nb\r\n";
  EXPECT_EQ(readFile(path("new.kqy")), expected);

  // Read back: the same statement (";" added), parameters and description.
  EXPECT_EQ(statement(query), sql + ";");
  KvArray read;
  read.setOwnsObjects(true);
  ASSERT_EQ(query.getParams(&read), kvSuccess);
  ASSERT_EQ(read.getCount(), 1);
  const auto* back = static_cast<const KvfParam*>(read.getAt(0));
  EXPECT_STREQ(kvC(back->getText(0).getStr()), "it's");
  EXPECT_STREQ(kvC(back->getText(1).getStr()), "\"q\"");
  EXPECT_EQ(back->getText(2).getLength(), 0u);
  EXPECT_EQ(back->getNumber(), 12u);
  KvString text;
  ASSERT_EQ(query.getDescription(&text), kvSuccess);
  EXPECT_STREQ(kvC(text.getStr()), "O'Brien's");
  ASSERT_EQ(query.save(), kvSuccess);
  EXPECT_EQ(readFile(path("new.kqy")), expected);
  EXPECT_TRUE(errors().empty());
}

TEST_F(QueryFileTest, StatementLinesNeverReadAsTheUseLineOrAHeader) {
  struct Case {
    const char* sql;
    const char* dbName;
    const char* written;  // the statement's lines as written
    const char* readBack;
  } cases[] = {
      {"use other;", "", " use other;\r\n", " use other;"},
      {"use other;", "db", "use other;\r\n", "use other;"},
      {"SELECT\r\n[Col A] + [Col B]\r\nFROM t", "", "SELECT\r\n [Col A] + [Col B]\r\nFROM t;\r\n",
       "SELECT  [Col A] + [Col B] FROM t;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    KvQueryFile query;
    ASSERT_EQ(query.initialize(kvU("dBASE"), kvU(c.sql), uint32_t(std::strlen(c.sql))), kvSuccess);
    ASSERT_EQ(query.setDbName(kvU(c.dbName)), kvSuccess);
    ASSERT_EQ(query.saveAs(kvU(path("q.kqy").c_str())), kvSuccess);
    const std::string useLine = *c.dbName ? std::string("use ") + c.dbName + ";\r\n" : "";
    EXPECT_EQ(readFile(path("q.kqy")), "K+V 6.0 for dBASE\r\n" + useLine + c.written);
    EXPECT_EQ(statement(query), c.readBack);
    EXPECT_STREQ(kvC(query.getDbName().getStr()), c.dbName);
    EXPECT_FALSE(hasSection(query, "Col A"));
  }
  // The same for a statement kept as it was read, when its database name
  // goes.
  writeFile(path("q.kqy"), "K+V 6.0 for dBASE\r\nuse db;\r\nuse x;\r\n[S]\r\ns\r\n");
  KvQueryFile query;
  ASSERT_EQ(query.openFile(kvU(path("q.kqy").c_str())), kvSuccess);
  ASSERT_EQ(query.setDbName(nullptr), kvSuccess);
  ASSERT_EQ(query.save(), kvSuccess);
  EXPECT_EQ(readFile(path("q.kqy")), "K+V 6.0 for dBASE\r\n use x;\r\n[S]\r\ns\r\n");
  EXPECT_EQ(query.getDbName().getLength(), 0u);
  EXPECT_EQ(statement(query), " use x;");
}

TEST_F(QueryFileTest, FirstLineParsing) {
  struct Valid {
    const char* line;
    uint16_t major, minor, revision;
    const char* dbType;
    int scrambled;
  } valid[] = {
      {"K+V 6.0 for dBASE", 6, 0, 0, "dBASE", 0},
      {"k&v 2.1.3 for Paradox ", 2, 1, 3, "Paradox", 0},
      {"K+V 6.0a for Text Files (2)", 6, 0, 0, "Text Files", 1},
      {"K+V 6 b FOR  x y  (7)  ", 6, 0, 0, "x y", 1},
      {"K+V 6.0 for", 6, 0, 0, "", 0},
  };
  for (const Valid& v : valid) {
    SCOPED_TRACE(v.line);
    writeFile(path("q.kqy"), std::string(v.line) + "\r\nSELECT 1;\r\n");
    KvQueryFile query;
    ASSERT_EQ(query.openFile(kvU(path("q.kqy").c_str())), kvSuccess);
    EXPECT_EQ(query.getMajorVersion(), v.major);
    EXPECT_EQ(query.getMinorVersion(), v.minor);
    EXPECT_EQ(query.getRevision(), v.revision);
    EXPECT_STREQ(kvC(query.getDbType().getStr()), v.dbType);
    EXPECT_EQ(query.isScrambled(), v.scrambled);
  }
  EXPECT_TRUE(errors().empty());

  const std::string invalid[] = {
      "",
      "KV 6.0 for X",
      "K+V for X",
      "K+V 6.0 X",
      "K+V 6.0 ab for X",
      "K+V 6.0.1.2 for X",
      "K+V 70000.0 for X",         // a version number over 16 bits
      "K+V 6.0 for X (65538)",     // a mode over 16 bits must not wrap to 2
      "K+V 6.0 for X (1)",         // mode 1 scrambles the line ends away
      "K+V 6.0 for X (2) more",
      "K+V 6.0 for X (",
      "K+V 6.0 for X ()",
      "K+V 6.0 for dBASE\nSELECT 1;\n[DEFINITION]\n",  // LF-only file
      std::string(3000, 'K'),
  };
  for (const std::string& line : invalid) {
    SCOPED_TRACE(line.substr(0, 60));
    writeFile(path("q.kqy"), line + "\r\nSELECT 1;\r\n");
    KvQueryFile query;
    EXPECT_EQ(query.openFile(kvU(path("q.kqy").c_str())), kvFailure);
    EXPECT_FALSE(query.isOpen());
    EXPECT_EQ(errors(), std::vector<uint16_t>{2720});
    EXPECT_EQ(lastErrorText(), "Error parsing first line of query file: " + path("q.kqy"));
    clearErrors();
  }
}

TEST_F(QueryFileTest, VersionTwoFilesHaveTheirDefinitionAfterTheStatement) {
  writeFile(path("v2.kqy"),
            "K+V 2.0 for dBASE\r\n"
            "SELECT 'a;\r\n"
            "b' FROM t;\r\n"
            "SET.QUERY.DESCRIPTION ('old')\r\n"
            "line2\r\n"
            "[PAGE_LAYOUT]\r\n"
            "p\r\n");
  KvQueryFile query;
  ASSERT_EQ(query.openFile(kvU(path("v2.kqy").c_str())), kvSuccess);
  EXPECT_EQ(query.getMajorVersion(), 2);
  EXPECT_EQ(statement(query), "SELECT 'a;\r\nb' FROM t;");
  EXPECT_EQ(sectionText(query, "DEFINITION"), "SET.QUERY.DESCRIPTION ('old')\r\nline2\r\n");
  KvString description;
  ASSERT_EQ(query.getDescription(&description), kvSuccess);
  EXPECT_STREQ(kvC(description.getStr()), "old");
  ASSERT_EQ(query.save(), kvSuccess);
  EXPECT_EQ(readFile(path("v2.kqy")),
            "K+V 6.0 for dBASE\r\n"
            "SELECT 'a;\r\n"
            "b' FROM t;\r\n"
            "[DEFINITION]\r\n"
            "SET.QUERY.DESCRIPTION ('old')\r\n"
            "line2\r\n"
            "[PAGE_LAYOUT]\r\n"
            "p\r\n");
  EXPECT_EQ(query.getMajorVersion(), 6);
}

TEST_F(QueryFileTest, SaveReplacesTheFileAtomically) {
  writeFile(path("q.kqy"), canonicalFile);
  KvQueryFile query;
  ASSERT_EQ(query.openFile(kvU(path("q.kqy").c_str())), kvSuccess);
  ASSERT_EQ(query.setSqlStmt(kvU("SELECT 2"), 8), kvSuccess);
  // A reader that had the old file open keeps reading the old file: the
  // new one was written beside it and renamed over it, not written into it.
  int oldReader = open(path("q.kqy").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(oldReader, 0);
  ASSERT_EQ(query.save(), kvSuccess);
  char first[32] = {0};
  ASSERT_GT(pread(oldReader, first, sizeof(first) - 1, 0), 0);
  EXPECT_EQ(std::string(first).substr(0, 30), canonicalFile.substr(0, 30));
  close(oldReader);
  std::string saved = readFile(path("q.kqy"));
  EXPECT_EQ(saved.substr(0, saved.find("[DEFINITION]")), "K+V 6.0 for dBASE\r\nuse sales;\r\nSELECT 2;\r\n");
  EXPECT_EQ(saved.substr(saved.find("[DEFINITION]")), canonicalFile.substr(canonicalFile.find("[DEFINITION]")));
  EXPECT_EQ(listing(dir_), std::vector<std::string>{"q.kqy"});
}

TEST_F(QueryFileTest, AFileThatCannotBeReplacedIsLeftAsItWas) {
  writeFile(path("q.kqy"), canonicalFile);
  ASSERT_EQ(mkdir(path("in the way").c_str(), 0755), 0);
  KvQueryFile query;
  ASSERT_EQ(query.openFile(kvU(path("q.kqy").c_str())), kvSuccess);
  ASSERT_EQ(query.setHugeSectionChunk(kvU("Custom"), "changed\r\n", 9), kvSuccess);
  ASSERT_EQ(query.setWriteFileName(kvU(path("in the way").c_str())), kvSuccess);
  EXPECT_EQ(query.save(), kvFailure);
  EXPECT_EQ(errors(), std::vector<uint16_t>{2721});
  EXPECT_EQ(lastErrorText(), "Could not get needed access to '" + path("in the way") + "'.");
  EXPECT_EQ(readFile(path("q.kqy")), canonicalFile);
  EXPECT_EQ(listing(dir_), (std::vector<std::string>{"in the way", "q.kqy"}));
  EXPECT_TRUE(listing(path("in the way")).empty());
  clearErrors();
  // The query is still open, its change still held.
  EXPECT_EQ(sectionText(query, "Custom"), "changed\r\n");
  ASSERT_EQ(query.setWriteFileName(nullptr), kvSuccess);
  ASSERT_EQ(query.save(), kvSuccess);
  EXPECT_NE(readFile(path("q.kqy")).find("[Custom]\r\nchanged\r\n"), std::string::npos);

  // A new query has no file of its own to save to.
  KvQueryFile fresh;
  ASSERT_EQ(fresh.initialize(kvU("dBASE"), kvU("SELECT 1"), 8), kvSuccess);
  EXPECT_EQ(fresh.save(), kvFailure);
  EXPECT_EQ(errors(), std::vector<uint16_t>{1517});
}

TEST_F(QueryFileTest, SectionsBigAndSmallRemovedAndRefused) {
  writeFile(path("q.kqy"), canonicalFile);
  KvQueryFile query;
  ASSERT_EQ(query.openFile(kvU(path("q.kqy").c_str())), kvSuccess);

  // A section of 70000 bytes: only the huge operations carry it.
  std::string big;
  for (int i = 0; big.size() < 70000; ++i) big += "line " + std::to_string(i) + "\r\n";
  ASSERT_EQ(query.setHugeSectionChunk(kvSectionUserCommands, big.data(), uint32_t(big.size())), kvSuccess);
  KvString chunk;
  EXPECT_EQ(query.getSectionChunk(kvSectionUserCommands, &chunk), kvFailure);
  expectOnly(2716);
  EXPECT_EQ(sectionText(query, "USER COMMANDS"), big);

  ASSERT_EQ(query.removeSection(kvSectionPageLayout), kvSuccess);
  EXPECT_FALSE(hasSection(query, "PAGE_LAYOUT"));
  ASSERT_EQ(query.removeSection(kvU("no such section")), kvSuccess);

  // Text that would not read back as written is refused; nothing changes.
  const std::pair<const char*, std::string> refused[] = {
      {"Custom", "ok\r\n[Other]\r\nmore\r\n"},
      {"Custom", "[Other]  "},
      {"Bad\r\nName", "x"},
  };
  for (const auto& r : refused) {
    EXPECT_EQ(query.setHugeSectionChunk(kvU(r.first), r.second.data(), uint32_t(r.second.size())), kvFailure);
    expectOnly(1517);
  }
  EXPECT_EQ(sectionText(query, "Custom"), "x\r\n");
  EXPECT_EQ(query.getSectionChunk(static_cast<SectionType>(4), &chunk), kvFailure);
  expectOnly(1517);

  ASSERT_EQ(query.save(), kvSuccess);
  EXPECT_FALSE(hasSection(query, "PAGE_LAYOUT"));
  EXPECT_EQ(sectionText(query, "USER COMMANDS"), big);
  KvArray lines;
  lines.setOwnsObjects(true);
  ASSERT_EQ(query.getLines(kvSectionUserCommands, &lines), kvSuccess);
  EXPECT_STREQ(kvC(static_cast<KvString*>(lines.getAt(1))->getStr()), "line 1");
  EXPECT_TRUE(errors().empty());
}

TEST_F(QueryFileTest, LongLinesAndManySectionsFromHostileFiles) {
  // A line longer than the reader's buffer comes in pieces, so a piece that
  // starts with "[" is no header; the file still saves as it was.
  const std::string longLine = "[" + std::string(3000, 'x') + "]\r\n";
  const std::string file = "K+V 6.0 for dBASE\r\n" + longLine + "[S]\r\n" + longLine;
  writeFile(path("long.kqy"), file);
  KvQueryFile query;
  ASSERT_EQ(query.openFile(kvU(path("long.kqy").c_str())), kvSuccess);
  EXPECT_EQ(sectionText(query, "S"), longLine);
  ASSERT_EQ(query.save(), kvSuccess);
  EXPECT_EQ(readFile(path("long.kqy")), file);

  // More sections than an array holds: a clear refusal.
  std::string many = "K+V 6.0 for dBASE\r\nSELECT 1;\r\n";
  for (int i = 0; i < 16001; ++i) many += "[s" + std::to_string(i) + "]\r\n";
  writeFile(path("many.kqy"), many);
  EXPECT_EQ(query.openFile(kvU(path("many.kqy").c_str())), kvFailure);
  EXPECT_EQ(errors(), std::vector<uint16_t>{2722});
  EXPECT_FALSE(query.isOpen());
}

TEST_F(QueryFileTest, ParameterLines) {
  struct Case {
    const char* line;
    uint32_t offset;  // where parsing stopped
  } bad[] = {
      {"PARAMETER.ITEM ('a', 'b', 'c', 5)", 31},
      {"PARAMETER.ITEM ('a', 'b', 'c', 'd', 4294967296)", 36},  // must not wrap to 0
      {"PARAMETER.ITEM ('a', 'b', 'c', 'd', 5", 37},
      {"PARAMETER.ITEM ('a', 'b', 'c', 'd', 5) x", 39},
      {"PARAMETER.ITEM ('a', 'b', 'c', 'd', -5)", 36},
      {"PARAMETER.ITEM ('a', 'b', 'c', 'd, 5)", 31},
      {"PARAMETER.CLEAR ()", 0},
  };
  for (const Case& c : bad) {
    SCOPED_TRACE(c.line);
    KvfParam param;
    param.setNumber(99);
    EXPECT_EQ(param.initialize(KvSubString(kvU(c.line), uint32_t(std::strlen(c.line)))), kvFailure);
    EXPECT_EQ(errors(), std::vector<uint16_t>{2705});
    EXPECT_EQ(lastErrorText(), "Error parsing " + std::string(c.line) + " at offset " + std::to_string(c.offset) + ".");
    EXPECT_EQ(param.getNumber(), 99u);
    clearErrors();
  }

  KvfParam param;
  const std::string good = "parameter . item( 'a''b' ,\"c\"\"d\", '', 'x y',  42 )\r\n";
  ASSERT_EQ(param.initialize(KvSubString(kvU(good.c_str()), uint32_t(good.size()))), kvSuccess);
  EXPECT_STREQ(kvC(param.getText(0).getStr()), "a'b");
  EXPECT_STREQ(kvC(param.getText(1).getStr()), "c\"d");
  EXPECT_STREQ(kvC(param.getText(3).getStr()), "x y");
  EXPECT_EQ(param.getNumber(), 42u);
  KvString line;
  ASSERT_EQ(param.getParamLine(line), kvSuccess);
  EXPECT_STREQ(kvC(line.getStr()), "PARAMETER.ITEM ('a''b', 'c\"d', '', 'x y', 42)");

  // A text with a line end cannot be written on one line.
  ASSERT_EQ(param.setText(2, kvU("two\r\nlines"), 10), kvSuccess);
  KvQueryFile query;
  ASSERT_EQ(query.initialize(kvU("dBASE"), nullptr, 0), kvSuccess);
  KvArray params;
  ASSERT_EQ(params.add(&param), kvSuccess);
  EXPECT_EQ(query.setParams(&params), kvFailure);
  EXPECT_EQ(errors(), std::vector<uint16_t>{1517});
  params.removeAtIndex(0);
  unsigned int exists = 1;
  ASSERT_EQ(query.doesSectionExist(kvSectionParameters, &exists), kvSuccess);
  EXPECT_EQ(exists, 0u);
}

TEST_F(QueryFileTest, DescriptionsAreReplacedAndChecked) {
  writeFile(path("q.kqy"), canonicalFile);
  KvQueryFile query;
  ASSERT_EQ(query.openFile(kvU(path("q.kqy").c_str())), kvSuccess);
  KvString text;
  ASSERT_EQ(query.getDescription(&text), kvSuccess);
  EXPECT_STREQ(kvC(text.getStr()), "Bob's query");

  KvString longest;
  ASSERT_EQ(longest.initialize(kvU(std::string(255, 'd').c_str())), kvSuccess);
  ASSERT_EQ(query.setDescription(&longest), kvSuccess);
  EXPECT_EQ(sectionText(query, "DEFINITION"), "SET.QUERY.DESCRIPTION ('" + std::string(255, 'd') + "')\r\n");

  KvString tooLong;
  ASSERT_EQ(tooLong.initialize(kvU(std::string(256, 'd').c_str())), kvSuccess);
  KvString twoLines;
  ASSERT_EQ(twoLines.initialize(kvU("a\r\nb")), kvSuccess);
  for (KvString* bad : {&tooLong, &twoLines}) {
    EXPECT_EQ(query.setDescription(bad), kvFailure);
    expectOnly(1517);
  }
  ASSERT_EQ(query.getDescription(&text), kvSuccess);
  EXPECT_EQ(text.getLength(), 255u);

  // A definition without a description gets one in front.
  ASSERT_EQ(query.setHugeSectionChunk(kvSectionDefinition, "other\r\n", 7), kvSuccess);
  KvString fresh;
  ASSERT_EQ(fresh.initialize(kvU("new")), kvSuccess);
  ASSERT_EQ(query.setDescription(&fresh), kvSuccess);
  EXPECT_EQ(sectionText(query, "DEFINITION"), "SET.QUERY.DESCRIPTION ('new')\r\nother\r\n");
}

}  // namespace
