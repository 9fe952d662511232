// KVTXT.INI: finding a table by its section or file name, reading a
// definition with its defaults and refusals, the messages of a column entry
// that lacks a part, and a definition written then read back.
#include "drivers/text/schema/txt_ini.h"
#include "drivers/text/text_message_ids.h"

#include "base/handles/base_error_list.h"
#include "util/error_list.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

class TxtIniTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kvtxtiniXXXXXX";
    dir_ = mkdtemp(pattern);
    KvErrorKeeper::setErrorList(&list_);
  }
  void TearDown() override {
    KvErrorKeeper::giveUpErrorList();
    std::filesystem::remove_all(dir_);
  }
  void writeIni(const std::string& text) { std::ofstream(dir_ + "/KVTXT.INI", std::ios::binary) << text; }
  TxtIni& open() {
    EXPECT_EQ(ini_.open(reinterpret_cast<const unsigned char*>(dir_.c_str())), kvSuccess);
    return ini_;
  }
  std::string find(const char* name) {
    std::string section;
    EXPECT_EQ(open().findTable(reinterpret_cast<const unsigned char*>(name), &section), kvSuccess);
    return section;
  }
  uint16_t lastError() { return KvErrorKeeper::getLastErrorNumber(); }

  std::string dir_;
  KvErrorList list_{nullptr, 1};
  TxtIni ini_;
};

TEST_F(TxtIniTest, FindsTablesBySectionOrFileName) {
  writeIni("[Defined Tables]\r\nCUSTOMER.TXT=CUSTOMERS\r\n\r\n[CUSTOMERS]\r\nFILE=CUSTOMER.TXT\r\n\r\n"
           "[loose]\r\nFILE=loose.csv\r\n");
  EXPECT_EQ(find("CUSTOMERS"), "CUSTOMERS");
  EXPECT_EQ(find("customer.txt"), "CUSTOMERS");
  EXPECT_EQ(find("loose"), "loose");  // a section [Defined Tables] does not list
  EXPECT_EQ(find("other.txt"), "");
  std::vector<std::string> tables, files;
  ASSERT_EQ(open().listTables(&tables, &files), kvSuccess);
  EXPECT_EQ(tables, (std::vector<std::string>{"CUSTOMERS"}));
  EXPECT_EQ(files, (std::vector<std::string>{"CUSTOMER.TXT"}));
  // No file at all: nothing is defined.
  std::filesystem::remove(dir_ + "/KVTXT.INI");
  EXPECT_EQ(find("CUSTOMERS"), "");
}

TEST_F(TxtIniTest, DefaultsOfATableSection) {
  writeIni("[t]\nFILE=t.txt\nFIELD1=A,VARCHAR,20,0,20,0,\nFIELD2=B,NUMERIC,5,2,7,20,\nFIELD4=D,VARCHAR,1,0,1,0,\n"
           "[u]\nFILE=u.txt\nFLN=0\nTT=character\nCharset=ansi\nFIELD1=D,DATE,10,0,10,0,\n"
           "[v]\nFILE=v.txt\nTT=Character\nDC=;\nFIELD1=A,VARCHAR,1,0,1,0,\n");
  TxtTableDef def;
  ASSERT_EQ(open().readTable("t", &def), kvSuccess);
  EXPECT_EQ(def.file, "t.txt");
  EXPECT_TRUE(def.firstLineNames);  // absent FLN reads as true
  EXPECT_EQ(def.tableType, uint32_t(txtTableComma));
  EXPECT_TRUE(def.oem);  // absent Charset reads as IBMPC
  ASSERT_EQ(def.columns.size(), 2u);  // FIELD3 missing ends the list
  EXPECT_EQ(def.columns[0].name, "A");
  EXPECT_EQ(def.columns[0].precision, 20u);
  EXPECT_EQ(def.columns[0].length, 20u);
  EXPECT_EQ(def.columns[0].mask[0], 0);
  EXPECT_EQ(def.columns[1].type, 'N');
  EXPECT_EQ(def.columns[1].scale, 2);
  EXPECT_EQ(def.columns[1].offset, 20u);

  ASSERT_EQ(open().readTable("u", &def), kvSuccess);
  EXPECT_FALSE(def.firstLineNames);
  EXPECT_EQ(def.tableType, uint32_t(txtTableCharacter));
  EXPECT_EQ(def.delimiter, ',');  // no DC: a comma
  EXPECT_FALSE(def.oem);
  // A date without a mask takes yyyy-mm-dd, and 50 bytes in a delimited file.
  EXPECT_EQ(def.columns[0].type, 'D');
  EXPECT_EQ(def.columns[0].length, uint32_t(txtDateColumnBytes));
  EXPECT_EQ(def.columns[0].mask[0], txtTokYear4);
  ASSERT_EQ(open().readTable("v", &def), kvSuccess);
  EXPECT_EQ(def.delimiter, ';');
}

TEST_F(TxtIniTest, RefusesEntriesThatWouldMisreadTheFile) {
  struct Case {
    const char* section;
    uint16_t message;
  } cases[] = {
      {"FILE=t.txt\nFIELD1=A\n", msgTxtIniNoName},
      {"FILE=t.txt\nFIELD1=A,VARCHAR\n", msgTxtIniNoPrecision},
      {"FILE=t.txt\nFIELD1=A,VARCHAR,5\n", msgTxtIniNoScale},
      {"FILE=t.txt\nFIELD1=A,VARCHAR,5,0\n", msgTxtIniNoLength},
      {"FILE=t.txt\nFIELD1=A,VARCHAR,5,0,5\n", msgTxtIniNoOffset},
      {"FILE=t.txt\nFIELD1=A,VARCHAR,5,0,5,0\n", msgTxtIniNoMask},
      {"FILE=t.txt\nFIELD1=A,varchar,5,0,5,0,\n", msgTxtIniBadType},
      {"FILE=t.txt\nFIELD1=A,DATE,10,0,10,0,q\n", msgTxtMaskInvalid},
      {"FILE=../t.txt\nFIELD1=A,VARCHAR,5,0,5,0,\n", msgTxtIniBadValue},
      {"FILE=/etc/passwd\nFIELD1=A,VARCHAR,5,0,5,0,\n", msgTxtIniBadValue},
      {"FIELD1=A,VARCHAR,5,0,5,0,\n", msgTxtIniBadValue},
      {"FILE=t.txt\nTT=Character\nDC=\"\nFIELD1=A,VARCHAR,5,0,5,0,\n", msgTxtIniBadValue},
      {"FILE=t.txt\nFIELD1=A,VARCHAR,65535,0,65535,0,\n", msgTxtIniBadValue},
      {"FILE=t.txt\nFIELD1=A,VARCHAR,5,0,5,4294967295,\n", msgTxtIniBadValue},
      {"FILE=t.txt\nFIELD1=A,VARCHAR,5,0,0,0,\n", msgTxtIniBadValue},
      {"FILE=t.txt\nFIELD1=A,NUMERIC,40,0,40,0,\n", msgTxtIniBadValue},
      {"FILE=t.txt\nFIELD1= ,VARCHAR,5,0,5,0,\n", msgTxtIniBadValue},
  };
  for (const Case& c : cases) {
    writeIni(std::string("[t]\n") + c.section);
    list_.clearErrors();
    TxtTableDef def;
    EXPECT_EQ(open().readTable("t", &def), kvFailure) << c.section;
    EXPECT_EQ(lastError(), c.message) << c.section;
  }
}

TEST_F(TxtIniTest, AWrittenDefinitionReadsBack) {
  TxtTableDef def;
  def.file = "orders.txt";
  def.firstLineNames = true;
  def.tableType = txtTableCharacter;
  def.delimiter = '|';
  def.oem = true;
  TxtColumnDef id;
  id.name = "ID";
  id.type = 'N';
  id.precision = 5;
  id.length = 7;
  TxtColumnDef placed;
  placed.name = "PLAC\xC9";  // E acute: written in code page 437, read back in 1252
  placed.type = 'D';
  placed.precision = 10;
  placed.length = 10;
  placed.offset = 7;
  ASSERT_EQ(txtCompileMask(reinterpret_cast<const unsigned char*>("Mmm d, yyyy"), placed.mask), kvSuccess);
  def.columns = {id, placed};
  ASSERT_EQ(open().writeTable("ORDERS", def), kvSuccess);
  // A second write of the same table is refused.
  EXPECT_EQ(open().writeTable("ORDERS", def), kvFailure);
  EXPECT_EQ(lastError(), msgTxtTableExists);
  EXPECT_EQ(find("orders.txt"), "ORDERS");
  TxtTableDef back;
  ASSERT_EQ(open().readTable("ORDERS", &back), kvSuccess);
  EXPECT_EQ(back.file, "orders.txt");
  EXPECT_TRUE(back.firstLineNames);
  EXPECT_EQ(back.tableType, uint32_t(txtTableCharacter));
  EXPECT_EQ(back.delimiter, '|');
  EXPECT_TRUE(back.oem);
  ASSERT_EQ(back.columns.size(), 2u);
  EXPECT_EQ(back.columns[1].name, "PLAC\xC9");
  EXPECT_STREQ(reinterpret_cast<char*>(back.columns[1].mask), reinterpret_cast<char*>(placed.mask));
  std::ifstream in(dir_ + "/KVTXT.INI", std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("FIELD2=PLAC\x90,DATE,10,0,10,7,Mmm d, yyyy"), std::string::npos) << text;
}

}  // namespace
