// Tests of the connection-string parser: the grammar and its errors with
// their offsets, repeated keys, long and short keywords, the record of
// attributes read, changing and rebuilding the list, and hostile input.
#include "util/containers/value_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/util/test_support.h"
#include "util/resource.h"

namespace {

typedef std::vector<std::pair<std::string, std::string>> Attributes;

std::string str(const KvSubString* text) {
  return text ? std::string(kvC(text->getText()), text->getLength()) : std::string("<null>");
}

class ValueParserTest : public ErrorCapturingTest {
 protected:
  static Attributes attributes(const KvValueParser& parser) {
    Attributes out;
    for (uint16_t i = 0; i < parser.getAttributeCount(); ++i) {
      const KvSubString* key = parser.getAttributeKey(i);
      out.emplace_back(str(key), "");
    }
    return out;
  }
  // Keys with their values; reading the values marks them used.
  static Attributes read(KvValueParser& parser) {
    Attributes out;
    for (uint16_t i = 0; i < parser.getAttributeCount(); ++i) {
      const KvSubString* key = parser.getAttributeKey(i);
      out.emplace_back(str(key), str(parser.getAttributeValue(key)));
    }
    return out;
  }
};

struct ParseCase {
  std::string text;
  const char* name;
  char separator;
  KvStatus status;
  Attributes expected;  // what the dictionary holds afterwards
  const char* error;    // the error's text when the parse fails
};

TEST_F(ValueParserTest, ParsesListsAndReportsWhereTheyGoWrong) {
  const ParseCase cases[] = {
      {"DSN=a;UID=b", nullptr, ';', kvSuccess, {{"DSN", "a"}, {"UID", "b"}}, nullptr},
      {"", nullptr, ';', kvSuccess, {}, nullptr},
      {"  ", nullptr, ';', kvSuccess, {}, nullptr},
      {"DSN=a;", nullptr, ';', kvSuccess, {{"DSN", "a"}}, nullptr},
      {" DSN = a b ; UID= 'x;y' ", nullptr, ';', kvSuccess, {{"DSN", "a b"}, {"UID", "'x;y'"}}, nullptr},
      {"DSN=;UID=", nullptr, ';', kvSuccess, {{"DSN", ""}, {"UID", ""}}, nullptr},
      {"Driver={My Driver};DBQ=/tmp/x", nullptr, ';', kvSuccess,
       {{"Driver", "{My Driver}"}, {"DBQ", "/tmp/x"}}, nullptr},
      {"Driver=x;DRIVER=y", nullptr, ';', kvSuccess, {{"Driver", "x"}}, nullptr},
      {"a=1,b='x,y'", nullptr, ',', kvSuccess, {{"a", "1"}, {"b", "'x,y'"}}, nullptr},
      {std::string("DSN=a\0UID=b", 11), "attributes", '\0', kvSuccess, {{"DSN", "a"}, {"UID", "b"}},
       nullptr},
      {"DSN=a;DSN=b", nullptr, ';', kvFailure, {{"DSN", "a"}},
       "Error parsing connect string at offset 6.  Attribute 'DSN' specified more than once."},
      {"dsn=a;UID=b;Dsn=c", nullptr, ';', kvFailure, {{"dsn", "a"}, {"UID", "b"}},
       "Error parsing connect string at offset 12.  Attribute 'Dsn' specified more than once."},
      {"DSN=a;DSN=b", "attributes", ';', kvFailure, {{"DSN", "a"}},
       "Error parsing attributes at offset 6. Attribute 'DSN' specified more than once."},
      {"DSN", nullptr, ';', kvFailure, {}, "Error parsing connect string at offset 3. "},
      {"DSN", "attributes", ';', kvFailure, {}, "Error parsing attributes at offset 3."},
      {"=a", nullptr, ';', kvFailure, {}, "Error parsing connect string at offset 0. "},
      {"DSN a", nullptr, ';', kvFailure, {}, "Error parsing connect string at offset 4. "},
      {"PWD==a;X=*b;Y=<c;Z= =>", nullptr, ';', kvSuccess,
       {{"PWD", "=a"}, {"X", "*b"}, {"Y", "<c"}, {"Z", "=>"}}, nullptr},
      {"DSN<=a", nullptr, ';', kvFailure, {}, "Error parsing connect string at offset 3. "},
      {"1=a", nullptr, ';', kvFailure, {}, "Error parsing connect string at offset 0. "},
      {"DSN=a;;UID=b", nullptr, ';', kvFailure, {{"DSN", "a"}},
       "Error parsing connect string at offset 6. "},
      {"PWD=ab'c;UID=x", nullptr, ';', kvFailure, {},
       "Error parsing connect string at offset 6. Unmatched quote character: '"},
      {"DSN=a;PWD=\"x", "attributes", ';', kvFailure, {{"DSN", "a"}},
       "Error parsing attributes at offset 10. Unmatched quote character: \""},
      {std::string("DSN=a\0b;UID=c", 13), nullptr, ';', kvFailure, {},
       "Error parsing connect string at offset 5. "},
      {std::string("DSN=a;\0", 7), nullptr, ';', kvFailure, {{"DSN", "a"}},
       "Error parsing connect string at offset 6. "},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.text);
    list_->clearErrors();
    KvSubString text(kvU(c.text.data()), static_cast<uint32_t>(c.text.size()));
    KvValueParser parser(&text, c.separator, c.name ? kvU(c.name) : nullptr);
    EXPECT_EQ(parser.initialize(), c.status);
    EXPECT_EQ(read(parser), c.expected);
    if (c.error) {
      EXPECT_EQ(lastErrorNumber(), c.name ? 2705 : 2704);
      EXPECT_EQ(lastErrorText(), c.error);
      EXPECT_EQ(list_->getCount(), 1u) << "appended texts are no errors of their own";
    } else {
      EXPECT_EQ(list_->getCount(), 0u);
    }
  }
}

TEST_F(ValueParserTest, RoundTrip) {
  const std::string inputs[] = {"DSN=a;UID=b", "DSN=a; UID = b ;", "Driver={x y};PWD='p;w''d';EMPTY="};
  const std::string built[] = {"DSN=a;UID=b", "DSN=a;UID=b", "Driver={x y};PWD='p;w''d';EMPTY="};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(inputs[i]);
    KvSubString text(kvU(inputs[i].c_str()), static_cast<uint32_t>(inputs[i].size()));
    KvValueParser parser(&text, ';', nullptr);
    ASSERT_EQ(parser.initialize(), kvSuccess);
    KvString out;
    ASSERT_EQ(parser.buildString(out), kvSuccess);
    EXPECT_STREQ(kvC(out.getStr()), built[i].c_str());
  }
}

TEST_F(ValueParserTest, LongAndShortKeywords) {
  KvSubString text(kvU("PWD=x;PASSWORD=y;UID=u"), 22);
  KvValueParser parser(&text, ';', nullptr);
  ASSERT_EQ(parser.initialize(), kvSuccess);
  const KvSubString* value = &text;
  EXPECT_EQ(parser.getAttributeValue(kvU("PWD"), kvU("PASSWORD"), value), kvFailure);
  EXPECT_EQ(value, nullptr);
  EXPECT_EQ(lastErrorNumber(), 2704);
  EXPECT_EQ(lastErrorText(),
            "Error parsing connect string at offset 22.  Attribute specified twice using keywords 'PWD' "
            "and 'PASSWORD'.");
  // Both were read by the failed look-up.
  EXPECT_EQ(parser.getUnusedCount(), 1);

  list_->clearErrors();
  EXPECT_EQ(parser.getAttributeValue(kvU("UID"), kvU("LogonID"), value), kvSuccess);
  EXPECT_EQ(str(value), "u");
  EXPECT_EQ(parser.getAttributeValue(kvU("LogonID"), kvU("uid"), value), kvSuccess);
  EXPECT_EQ(str(value), "u");
  EXPECT_EQ(parser.getAttributeValue(kvU("uid"), kvU("UID"), value), kvSuccess)
      << "one attribute named twice is not two";
  EXPECT_EQ(parser.getAttributeValue(kvU("DSN"), kvU("DataSource"), value), kvSuccess);
  EXPECT_EQ(value, nullptr);
  EXPECT_EQ(list_->getCount(), 0u);
}

TEST_F(ValueParserTest, TracksAttributesNobodyRead) {
  KvSubString text(kvU("DSN=a;UID=b;PWD=c;X=1"), 21);
  KvValueParser parser(&text, ';', nullptr);
  ASSERT_EQ(parser.initialize(), kvSuccess);
  EXPECT_EQ(parser.getUnusedCount(), 4);
  EXPECT_EQ(str(parser.getAttributeValue(kvU("dsn"))), "a");
  EXPECT_NE(parser.isAttributeValue(kvU("PWD")), 0);
  EXPECT_EQ(parser.isAttributeValue(kvU("Database")), 0);
  EXPECT_EQ(parser.getAttributeValue(kvU("Database")), nullptr);
  EXPECT_EQ(parser.getUnusedCount(), 3) << "isAttributeValue does not count as reading";
  EXPECT_EQ(str(parser.getAttributeValue(kvU("PWD"))), "c");

  // Added attributes have no flag; reading one must not touch the others.
  ASSERT_EQ(parser.addAttribute(kvU("NEW"), kvU("v"), nullptr), kvSuccess);
  EXPECT_EQ(str(parser.getAttributeValue(kvU("NEW"))), "v");
  EXPECT_EQ(parser.getUnusedCount(), 2);

  // Removing an attribute moves the flags of the later ones with them.
  parser.removeAttribute(kvU("DSN"));
  EXPECT_EQ(parser.getUnusedCount(), 2);
  EXPECT_EQ(str(parser.getUnusedAttribute()), "UID");
  parser.removeAttribute(kvU("UID"));
  EXPECT_EQ(str(parser.getUnusedAttribute()), "X");
  EXPECT_EQ(parser.getUnusedAttribute(), nullptr);
  EXPECT_EQ(parser.getUnusedAttribute(), nullptr);
  parser.removeAttribute(kvU("nothing"));
  EXPECT_EQ(attributes(parser), (Attributes{{"PWD", ""}, {"X", ""}, {"NEW", ""}}));
}

struct QuoteCase {
  const char* value;
  const char* stored;
};

TEST_F(ValueParserTest, AddedValuesAreQuotedSoTheyReadBack) {
  const QuoteCase cases[] = {
      {"plain", "plain"},  {"it's", "'it''s'"},       {"a;b", "'a;b'"},   {"say \"hi\"", "'say \"hi\"'"},
      {"a`b", "'a`b'"},    {"{x;y}", "'{x;y}'"},      {"", ""},           {"''", "''''''"},
      {"=x", "=x"},        {"*<>", "*<>"},        {" pw ", "' pw '"},  {"a b", "a b"},      {"x\t", "'x\t'"},
  };
  for (const QuoteCase& c : cases) {
    SCOPED_TRACE(c.value);
    KvSubString empty(kvU(""), 0);
    KvValueParser parser(&empty, ';', nullptr);
    ASSERT_EQ(parser.initialize(), kvSuccess);
    ASSERT_EQ(parser.addAttribute(kvU("PWD"), kvU(c.value), nullptr), kvSuccess);
    ASSERT_EQ(parser.addAttribute(kvU("UID"), kvU("u"), nullptr), kvSuccess);
    EXPECT_EQ(str(parser.getAttributeValue(kvU("PWD"))), c.stored);

    KvString built;
    ASSERT_EQ(parser.buildString(built), kvSuccess);
    KvValueParser again(&built, ';', nullptr);
    ASSERT_EQ(again.initialize(), kvSuccess);
    EXPECT_EQ(str(again.getAttributeValue(kvU("PWD"))), c.stored);
    EXPECT_EQ(str(again.getAttributeValue(kvU("UID"))), "u");
  }
}

TEST_F(ValueParserTest, AddAttributeReplacesKeyOrSynonymInPlace) {
  KvSubString text(kvU("DSN=a;LogonID=u;X=1"), 19);
  KvValueParser parser(&text, ';', nullptr);
  ASSERT_EQ(parser.initialize(), kvSuccess);
  ASSERT_EQ(parser.addAttribute(kvU("UID"), kvU("bob"), kvU("LogonID")), kvSuccess);
  ASSERT_EQ(parser.addAttribute(kvU("PWD"), kvU("pw"), kvU("Password")), kvSuccess);
  ASSERT_EQ(parser.addAttribute(kvU("dsn"), kvU("b"), nullptr), kvSuccess);
  ASSERT_EQ(parser.addAttribute(kvU("PWD"), kvU("pw2"), nullptr), kvSuccess);
  KvString out;
  ASSERT_EQ(out.initialize(kvU("old text")), kvSuccess);
  ASSERT_EQ(parser.buildString(out), kvSuccess);
  EXPECT_STREQ(kvC(out.getStr()), "DSN=b;LogonID=bob;X=1;PWD=pw2");
}

TEST_F(ValueParserTest, ErrorAppendsOnlyToItsOwnError) {
  // A list that keeps only its first error refuses the parse error; the
  // texts meant for it must not land on the error already there.
  KvErrorList strict(nullptr, 0);
  KvErrorKeeper::setErrorList(&strict);
  kvAddUtilityError(kvMsgInvalidParameter);
  KvSubString text(kvU("DSN=a;DSN=b;PWD=x;PASSWORD=y"), 28);
  KvValueParser parser(&text, ';', nullptr);
  EXPECT_EQ(parser.initialize(), kvFailure);
  const KvSubString* value = nullptr;
  EXPECT_EQ(parser.getAttributeValue(kvU("DSN"), kvU("DSN2"), value), kvSuccess);
  EXPECT_EQ(strict.getCount(), 1u);
  EXPECT_STREQ(kvC(strict.getLastError()->getErrorText()), "Invalid Parameter");
  EXPECT_EQ(KvErrorKeeper::giveUpErrorList(), &strict);
}

TEST_F(ValueParserTest, LargeInputFailsCleanly) {
  // A value of a megabyte parses (values are views) but cannot be rebuilt
  // into a string, whose limit is 65536 bytes.
  std::string big = "DSN=a;PWD=" + std::string(1 << 20, 'p') + ";UID=u";
  KvSubString text(kvU(big.c_str()), static_cast<uint32_t>(big.size()));
  KvValueParser parser(&text, ';', nullptr);
  ASSERT_EQ(parser.initialize(), kvSuccess);
  EXPECT_EQ(parser.getAttributeValue(kvU("PWD"))->getLength(), 1u << 20);
  KvString out;
  EXPECT_EQ(parser.buildString(out), kvFailure);
  EXPECT_EQ(lastErrorNumber(), 2716);

  // More attributes than an array holds.
  std::string many;
  for (int i = 0; i <= 16000; ++i) many += "K" + std::to_string(i) + "=1;";
  KvSubString manyText(kvU(many.c_str()), static_cast<uint32_t>(many.size()));
  KvValueParser crowded(&manyText, ';', nullptr);
  list_->clearErrors();
  EXPECT_EQ(crowded.initialize(), kvFailure);
  EXPECT_EQ(lastErrorNumber(), 2722);
  EXPECT_EQ(crowded.getAttributeCount(), 16000);
}

}  // namespace
