// The file SQL engine through the real unixODBC Driver Manager, from a C++
// application: the test file driver's connection with the engine's keys,
// SQLGetInfo rows and connection options, and manual-commit mode.
#include "flat_dm_fixture.h"

#include <string>

namespace {

// An empty data folder and a connection that each test makes itself.
class FlatConnectionManagerTest : public FlatDriverManagerTest {
 protected:
  FlatConnectionManagerTest() : FlatDriverManagerTest(false, false) {}
  // The connection's first SQLSTATE.
  std::string state() {
    SQLCHAR text[6] = {0}, message[512];
    SQLINTEGER native = 0;
    SQLError(env_, dbc_, SQL_NULL_HSTMT, text, &native, message, sizeof(message), nullptr);
    return reinterpret_cast<char*>(text);
  }
};

TEST_F(FlatConnectionManagerTest, ConnectionOptionsAndInformation) {
  ASSERT_EQ(SQLConnect(dbc_, (SQLCHAR*)"Files", SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS);
  char text[64] = {0};
  SQLSMALLINT length = 0;
  ASSERT_EQ(SQLGetInfo(dbc_, SQL_IDENTIFIER_QUOTE_CHAR, text, sizeof(text), &length), SQL_SUCCESS);
  EXPECT_STREQ(text, "`");
  SQLUINTEGER mask = 0;
  ASSERT_EQ(SQLGetInfo(dbc_, SQL_TIMEDATE_FUNCTIONS, &mask, sizeof(mask), nullptr), SQL_SUCCESS);
  EXPECT_EQ(mask, 0x126u);

  char qualifier[SQL_MAX_OPTION_STRING_LENGTH + 1] = {0};
  ASSERT_EQ(SQLGetConnectOption(dbc_, SQL_CURRENT_QUALIFIER, qualifier), SQL_SUCCESS);
  EXPECT_EQ(std::string(qualifier), data_);
  EXPECT_EQ(SQLSetConnectOption(dbc_, SQL_TRANSLATE_OPTION, 1), SQL_ERROR);
  EXPECT_EQ(state(), "S1C00");
  EXPECT_EQ(SQLSetConnectOption(dbc_, SQL_ACCESS_MODE, SQL_MODE_READ_ONLY), SQL_SUCCESS);

  EXPECT_EQ(SQLSetConnectOption(dbc_, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
  EXPECT_EQ(SQLTransact(env_, dbc_, SQL_COMMIT), SQL_SUCCESS);
  EXPECT_EQ(SQLTransact(env_, dbc_, SQL_ROLLBACK), SQL_SUCCESS);
  EXPECT_EQ(SQLSetConnectOption(dbc_, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_ON), SQL_SUCCESS);
  EXPECT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
}

TEST_F(FlatConnectionManagerTest, ValidateDbRefusesADirectoryThatIsAFile) {
  std::string text = "DRIVER={KvFlatTest};DB=" + dir_ + "/odbc.ini;ValidateDB=1";
  EXPECT_EQ(SQLDriverConnect(dbc_, nullptr, (SQLCHAR*)text.c_str(), SQL_NTS, nullptr, 0, nullptr,
                             SQL_DRIVER_NOPROMPT),
            SQL_ERROR);
  SQLCHAR sqlState[6] = {0}, message[512] = {0};
  SQLINTEGER native = 0;
  ASSERT_EQ(SQLError(env_, dbc_, SQL_NULL_HSTMT, sqlState, &native, message, sizeof(message), nullptr),
            SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(sqlState), "S1000");
  EXPECT_NE(std::string(reinterpret_cast<char*>(message)).find("The filename does not exist: " + dir_),
            std::string::npos)
      << message;
}

}  // namespace
