// Diagnostics: SQLError's SQLSTATE, native code and prefixed message for
// every kind of error, the cut message, the memory error, and the texts of
// the framework's string table.
#include "base_test_support.h"

#include <gtest/gtest.h>

namespace {

class ErrorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = new BaseEnv(1);
    connection_ = new UnitConnection(env_);
    KvErrorKeeper::setErrorList(&connection_->getErrorList());
  }
  void TearDown() override {
    KvErrorKeeper::giveUpErrorList();
    delete connection_;
    delete env_;
  }
  BaseErrorList& list() { return connection_->getErrorList(); }
  BaseEnv* env_ = nullptr;
  UnitConnection* connection_ = nullptr;
};

TEST_F(ErrorTest, EmptyListIsNoData) {
  UnitDiagnostic d = nextDiagnostic(list());
  EXPECT_EQ(d.rc, SQL_NO_DATA_FOUND);
  EXPECT_EQ(d.state, "00000");
  EXPECT_EQ(d.native, 0);
  EXPECT_EQ(d.text, "");
}

TEST_F(ErrorTest, KindsOfErrors) {
  struct Case {
    const char* what;
    void (*post)();
    const char* state;
    SQLINTEGER native;
    const char* text;
  } cases[] = {
      {"state with its default message", [] { addOdbcError(29); }, "24000", 0,
       "[KESTRANE][ODBC Unit driver]Invalid cursor state."},
      {"framework message", [] { addOdbcError(60, 6058) << uint32_t(16385) << uint32_t(16384); }, "S1002", 0,
       "[KESTRANE][ODBC Unit driver]16385 is greater that the number of parameters allowed, 16384."},
      {"driver message", [] { addOdbcError(58, 1205); }, "S1000", 0,
       "[KESTRANE][ODBC Unit driver]Driver message 1205."},
      {"utility library message", [] { kvAddUtilityError(1509) << kvU("x.dbf"); }, "S1000", 1509,
       "[KESTRANE][ODBC Unit driver]File not found 'x.dbf'."},
      {"native resource error", [] { addNativeResourceError(1205); }, "S1000", 1205,
       "[KESTRANE][ODBC Unit driver]Driver message 1205."},
      {"native error of the data source", [] { addNativeError(58, 77, kvU("server says no")); }, "S1000", 77,
       "[KESTRANE][ODBC Unit driver][Unit]server says no"},
      {"own SQLSTATE text", [] {
         addOdbcError(58);
         resetLastErrorSqlState(36);
       },
       "42000", 0, "[KESTRANE][ODBC Unit driver]General error."},
      {"warning", [] { addOdbcWarning(3); }, "01004", 0, "[KESTRANE][ODBC Unit driver]Data truncated."},
  };
  for (const Case& c : cases) {
    c.post();
    UnitDiagnostic d = nextDiagnostic(list());
    EXPECT_EQ(d.rc, SQL_SUCCESS) << c.what;
    EXPECT_EQ(d.state, c.state) << c.what;
    EXPECT_EQ(d.native, c.native) << c.what;
    EXPECT_EQ(d.text, c.text) << c.what;
    EXPECT_EQ(nextDiagnostic(list()).rc, SQL_NO_DATA_FOUND) << c.what;
  }
}

TEST_F(ErrorTest, OldestFirstAndCutMessages) {
  addOdbcError(29);
  addOdbcWarning(3);
  UnitDiagnostic first = nextDiagnostic(list(), 1);
  EXPECT_EQ(first.rc, SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(first.state, "24000");
  EXPECT_EQ(first.text, "");
  UnitDiagnostic second = nextDiagnostic(list(), 12);
  EXPECT_EQ(second.rc, SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(second.text, "[KESTRANE][");
}

TEST_F(ErrorTest, MemoryErrorComesFirst) {
  addOdbcError(29);
  KvErrorKeeper::addMemoryError();
  UnitDiagnostic d = nextDiagnostic(list());
  EXPECT_EQ(d.state, "S1001");
  EXPECT_EQ(d.native, 30190);
  EXPECT_EQ(d.text, "[KESTRANE][ODBC Unit driver]Out Of Memory");
  EXPECT_EQ(nextDiagnostic(list()).state, "24000");
}

TEST_F(ErrorTest, ErrorBoxShowsEveryErrorAndEmptiesTheList) {
  addOdbcError(29);
  addOdbcWarning(3);
  ::testing::internal::CaptureStderr();
  list().displayErrorWin(nullptr);
  std::string shown = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(shown,
            "Warning: [KESTRANE][ODBC Unit driver]Invalid cursor state.\n"
            "[KESTRANE][ODBC Unit driver]Data truncated.\n");
  EXPECT_EQ(list().getCount(), 0u);
}

TEST(EnvironmentErrors, PrefixWithoutADriverName) {
  BaseEnv env(1);
  KvErrorKeeper::setErrorList(&env.getErrorList());
  addOdbcError(65);
  KvErrorKeeper::giveUpErrorList();
  UnitDiagnostic d = nextDiagnostic(env.getErrorList());
  EXPECT_EQ(d.state, "S1010");
  EXPECT_EQ(d.text, "[KESTRANE][ODBC ]Function sequence error.");
}

// The table's texts are data of the system; a few stand for the rest,
// chosen where a slip is easy (the spelling is the system's own).
TEST(StringTable, SqlStatesAndMessages) {
  const char* states[] = {"00000", "01000", "01002", "01004", "01006", "01S00", "01S01", "01S02", "01S03",
                          "01S04", "01S05", "07001", "07006", nullptr, "08001", "08002", "08003", "08004",
                          "08007", "08S01", "21S01", "21S02", "22001", "22003", "22005", "22008", "22012",
                          "22026", "23000", "24000", "25000", "28000", "34000", "37000", "3C000", "40001",
                          "42000", "70100", "IM001", "IM002", "IM003", "IM004", "IM005", "IM006", "IM007",
                          "IM008", "IM009", "IM010", "IM011", "IM012", "IM013", "S0001", "S0002", "S0011",
                          "S0012", "S0021", "S0022", "S0023", "S1000", "S1001", "S1002", "S1003", "S1004",
                          "S1008", "S1009", "S1010", "S1011", "S1012", "S1015", "S1090", "S1091", "S1092",
                          "S1093", "S1094", "S1095", "S1096", "S1097", "S1098", "S1099", "S1100", "S1101",
                          "S1102", "S1103", "S1104", "S1105", "S1106", "S1107", "S1108", "S1109", "S1110",
                          "S1111", "S1C00", "S1DE0", "S1T00"};
  ASSERT_EQ(sizeof(states) / sizeof(states[0]), 94u);
  for (uint16_t i = 0; i < 94; ++i) {
    if (!states[i]) continue;
    EXPECT_STREQ(kvC(baseSqlStateText(i)), states[i]) << i;
  }
  struct Text {
    uint16_t id;
    const char* text;
  } texts[] = {
      {100, "Success"},
      {144, "No Data Source specified; dialog prohibited"},
      {193, "Timeout expired."},
      {6015, "Invalid attribute in connection string: %s1."},
      {6026, "%n1 is greater that the number of columns allowed, %n2."},
      {6028, "Escape sequence malformed.  --*( was not followed by vendor(Microsoft),product(ODBC)."},
      {6044, "  Error in parameter %n1."},
      {6066, "Warning"},
      {6074, "Default parameters values are not suppported by this database."},
      {6076, "Parameter %n1 precision exceeds the maximum literal length and will loose data, data source does "
             "not have native support for parameters."},
      {6077, "Statement with cursor named in this statement's ADJUSTING clause is not a SELECT FOR UPDATE."},
  };
  for (const Text& t : texts) {
    unsigned char buffer[512];
    baseLoadString(buffer, t.id, sizeof(buffer));
    EXPECT_STREQ(kvC(buffer), t.text) << t.id;
  }
  unsigned char buffer[16];
  EXPECT_EQ(baseLoadString(buffer, 13, sizeof(buffer)), 0);   // index 13 has no state
  EXPECT_EQ(baseLoadString(buffer, 6060, sizeof(buffer)), 0);
}

}  // namespace
