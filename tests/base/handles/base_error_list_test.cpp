// Diagnostics: SQLError's SQLSTATE, native code and prefixed message for
// every kind of error, the cut message, the memory error, and the texts of
// the framework's string table.
#include "tests/base/base_test_support.h"

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
      {"state with its default message", [] { addOdbcError(stateCursorState); }, "24000", 0,
       "[KESTRANE][ODBC Unit driver]Invalid cursor state."},
      {"framework message",
       [] { addOdbcError(stateColumnNumber, msgTooManyParams) << uint32_t(16385) << uint32_t(16384); }, "S1002", 0,
       "[KESTRANE][ODBC Unit driver]16385 is greater that the number of parameters allowed, 16384."},
      {"driver message", [] { addOdbcError(stateGeneral, 1205); }, "S1000", 0,
       "[KESTRANE][ODBC Unit driver]Driver message 1205."},
      {"utility library message", [] { kvAddUtilityError(kvMsgFileNotFound) << kvU("x.dbf"); }, "S1000", 1509,
       "[KESTRANE][ODBC Unit driver]File not found 'x.dbf'."},
      {"native resource error", [] { addNativeResourceError(1205); }, "S1000", 1205,
       "[KESTRANE][ODBC Unit driver]Driver message 1205."},
      {"native error of the data source", [] { addNativeError(58, 77, kvU("server says no")); }, "S1000", 77,
       "[KESTRANE][ODBC Unit driver][Unit]server says no"},
      {"own SQLSTATE text", [] {
         addOdbcError(stateGeneral);
         resetLastErrorSqlState(stateSyntaxAccess);
       },
       "42000", 0, "[KESTRANE][ODBC Unit driver]General error."},
      {"warning", [] { addOdbcWarning(stateTruncated); }, "01004", 0, "[KESTRANE][ODBC Unit driver]Data truncated."},
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
  addOdbcError(stateCursorState);
  addOdbcWarning(stateTruncated);
  UnitDiagnostic first = nextDiagnostic(list(), 1);
  EXPECT_EQ(first.rc, SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(first.state, "24000");
  EXPECT_EQ(first.text, "");
  UnitDiagnostic second = nextDiagnostic(list(), 12);
  EXPECT_EQ(second.rc, SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(second.text, "[KESTRANE][");
}

TEST_F(ErrorTest, MemoryErrorComesFirst) {
  addOdbcError(stateCursorState);
  KvErrorKeeper::addMemoryError();
  UnitDiagnostic d = nextDiagnostic(list());
  EXPECT_EQ(d.state, "S1001");
  EXPECT_EQ(d.native, 30190);
  EXPECT_EQ(d.text, "[KESTRANE][ODBC Unit driver]Out Of Memory");
  EXPECT_EQ(nextDiagnostic(list()).state, "24000");
}

TEST_F(ErrorTest, ErrorBoxShowsEveryErrorAndEmptiesTheList) {
  addOdbcError(stateCursorState);
  addOdbcWarning(stateTruncated);
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
  addOdbcError(stateSequence);
  KvErrorKeeper::giveUpErrorList();
  UnitDiagnostic d = nextDiagnostic(env.getErrorList());
  EXPECT_EQ(d.state, "S1010");
  EXPECT_EQ(d.text, "[KESTRANE][ODBC ]Function sequence error.");
}

// The whole string table: every SQLSTATE with its default message, and the
// framework's messages 6000-6077. The texts are data of the system and
// stand as it has them, spelling included; ids the table lacks have none.
TEST(StringTable, EveryStateAndMessage) {
  struct State {
    uint16_t index;
    const char* state;
    const char* message;
  } states[] = {
      {0, "00000", "Success"},
      {1, "01000", "General warning."},
      {2, "01002", "Disconnect error."},
      {3, "01004", "Data truncated."},
      {4, "01006", "Privilege not revoked."},
      {5, "01S00", "Invalid connection string."},
      {6, "01S01", "Error in row."},
      {7, "01S02", "Option value changed."},
      {8, "01S03", "No rows updated or deleted."},
      {9, "01S04", "More than one row updated or deleted."},
      {10, "01S05", "Cancel treated as FreeStmt/Close."},
      {11, "07001", "Wrong number of parameters."},
      {12, "07006", "Restricted data type attribute violation."},
      {13, nullptr, nullptr},
      {14, "08001", "Unable to connect to data source."},
      {15, "08002", "Connection in use."},
      {16, "08003", "Connection not open."},
      {17, "08004", "Data source rejected establishment of connection."},
      {18, "08007", "Connection failure during transaction."},
      {19, "08S01", "Communication link failure."},
      {20, "21S01", "Insert value list does not match column list."},
      {21, "21S02", "Degree of derived table does not match column list."},
      {22, "22001", "String data right truncation."},
      {23, "22003", "Numeric value out of range."},
      {24, "22005", "Error in assignment."},
      {25, "22008", "Datetime field overflow."},
      {26, "22012", "Division by 0."},
      {27, "22026", "String data, length mismatch."},
      {28, "23000", "Integrity constraint violation."},
      {29, "24000", "Invalid cursor state."},
      {30, "25000", "Invalid transaction state."},
      {31, "28000", "Invalid authorization specification."},
      {32, "34000", "Invalid cursor name."},
      {33, "37000", "Syntax error or access violation."},
      {34, "3C000", "Duplicate cursor name."},
      {35, "40001", "Serialization failure."},
      {36, "42000", "Syntax error or access violation."},
      {37, "70100", "Operation aborted."},
      {38, "IM001", "Driver does not support this function."},
      {39, "IM002", "Data source name not found and no default name specified."},
      {40, "IM003", "Driver specified by data source name could not be loaded."},
      {41, "IM004", "Driver's SQLAllocEnv failed."},
      {42, "IM005", "Driver's SQLAllocConnect failed."},
      {43, "IM006", "Driver's SQLConnectOption failed."},
      {44, "IM007", "No Data Source specified; dialog prohibited"},
      {45, "IM008", "Dialog failed."},
      {46, "IM009", "Unable to load translation DLL."},
      {47, "IM010", "Data source name too long."},
      {48, "IM011", "Driver name too long."},
      {49, "IM012", "DRIVER keyword syntax error."},
      {50, "IM013", "Trace file error."},
      {51, "S0001", "Base table or view already exists."},
      {52, "S0002", "Base table not found."},
      {53, "S0011", "Index already exists."},
      {54, "S0012", "Index not found."},
      {55, "S0021", "Column already exists."},
      {56, "S0022", "Column not found."},
      {57, "S0023", "No default for column."},
      {58, "S1000", "General error."},
      {59, "S1001", "Memory allocation error."},
      {60, "S1002", "Invalid column number."},
      {61, "S1003", "Program type out of range."},
      {62, "S1004", "SQL data type out of range."},
      {63, "S1008", "Operation cancelled."},
      {64, "S1009", "Invalid argument value."},
      {65, "S1010", "Function sequence error."},
      {66, "S1011", "Operation invalid at this time."},
      {67, "S1012", "Invalid transaction operation code specified."},
      {68, "S1015", "No cursor name available."},
      {69, "S1090", "Invalid string or buffer length."},
      {70, "S1091", "Descriptor type out of range."},
      {71, "S1092", "Option type out of range."},
      {72, "S1093", "Invalid parameter number."},
      {73, "S1094", "Invalid scale value."},
      {74, "S1095", "Function type out of range."},
      {75, "S1096", "Information type out of range."},
      {76, "S1097", "Column type out of range."},
      {77, "S1098", "Scope type out of range."},
      {78, "S1099", "Nullable type out of range."},
      {79, "S1100", "Uniqueness option type out of range."},
      {80, "S1101", "Accuracy option type out of range."},
      {81, "S1102", "Table type out of range."},
      {82, "S1103", "Direction option out of range."},
      {83, "S1104", "Invalid precision value."},
      {84, "S1105", "Invalid parameter type."},
      {85, "S1106", "Fetch type out of range."},
      {86, "S1107", "Row value out of range."},
      {87, "S1108", "Concurrency option out of range."},
      {88, "S1109", "Invalid cursor position."},
      {89, "S1110", "Invalid driver completion."},
      {90, "S1111", "Invalid bookmark value."},
      {91, "S1C00", "Driver not capable."},
      {92, "S1DE0", "No data at execution values pending."},
      {93, "S1T00", "Timeout expired."},
  };
  ASSERT_EQ(sizeof(states) / sizeof(states[0]), size_t(baseSqlStateCount));
  unsigned char buffer[512];
  for (const State& s : states) {
    if (!s.state) {
      EXPECT_EQ(baseLoadString(buffer, s.index, sizeof(buffer)), 0) << s.index;
      EXPECT_EQ(baseLoadString(buffer, uint16_t(s.index + 100), sizeof(buffer)), 0) << s.index;
      continue;
    }
    EXPECT_STREQ(kvC(baseSqlStateText(s.index)), s.state) << s.index;
    baseLoadString(buffer, uint16_t(s.index + 100), sizeof(buffer));
    EXPECT_STREQ(kvC(buffer), s.message) << s.index;
  }
  struct Message {
    uint16_t id;
    const char* text;
  } messages[] = {
      {6000, "Data type for parameter %n1 has changed since first SQLExecute call."},
      {6001, "Negative length given for parameter %n1."},
      {6002, "Number of parameters set by SQLSetParam does not equal number of ?'s in SQL statement."},
      {6003, "Parameter marker not in SQL clause which can contain ? parameter."},
      {6004, "Invalid sequence of operations: statement has not been closed."},
      {6005, "Unrecognizable ODBC SQL escape sequence."},
      {6006, "Database cannot convert this ODBC escape sequence: %s1 ."},
      {6007, "Unable to open file %s1."},
      {6008, "Data truncated, column %n1."},
      {6009, "Numeric overflow, column %n1."},
      {6010, "Unable to convert column %n1.  Cannot convert from SQL type %n2 to C type %n3."},
      {6011, "Unable to convert parameter %n1.  Cannot convert from C type %n2 to SQL type %n3."},
      {6012, "Value has not been specified for parameter %n1."},
      {6013, "Insufficient information to connect to the data source."},
      {6014, "An unexpected error occurred while trying to create a dialog box."},
      {6015, "Invalid attribute in connection string: %s1."},
      {6016, "The qualifier '%s1' was larger than SQL_MAX_QUALIFIER_LEN from SQLGetInfo (%n2)."},
      {6017, "The owner '%s1' was larger than SQL_MAX_OWNER_NAME_LEN from SQLGetInfo (%n2)."},
      {6018, "The table name '%s1' was larger than SQL_MAX_TABLE_NAME_LEN from SQLGetInfo (%n2)."},
      {6019, "The column name '%s1' was larger than SQL_MAX_COLUMN_NAME_LEN from SQLGetInfo (%n2)."},
      {6020, "The procedure name '%s1' was larger than SQL_MAX_PROCEDURE_NAME_LEN from SQLGetInfo (%n2)."},
      {6021, "Escape clause beginning with --*( or { was not properly ended with *)-- or }."},
      {6022, "The statement contained an escape clause not supported by this database driver."},
      {6023, "Error parsing connect string at offset %n1."},
      {6024, "Error using translation DLL.  %s1."},
      {6025, "Error using translation DLL.  Output buffer size not equal to input buffer size."},
      {6026, "%n1 is greater that the number of columns allowed, %n2."},
      {6027, "Unrecognized function escape: %s1."},
      {6028, "Escape sequence malformed.  --*( was not followed by vendor(Microsoft),product(ODBC)."},
      {6029, "Invalid date escape.  Correct syntax is {d 'yyyy-mm-dd'}."},
      {6030, "Invalid time escape.  Correct syntax is {t 'hh:mm:ss'}."},
      {6031, "Invalid timestamp escape.  Correct syntax is {ts 'yyyy-mm-dd hh:mm:ss.ffffff'}."},
      {6032, "Data truncated, parameter %n1."},
      {6033, "Number of bound columns exceeds the number of result columns."},
      {6034, "More than one row was affected by CURRENT-OF-CURSOR emulation."},
      {6035, "Error getting column value for search clause for CURRENT-OF-CURSOR emulation, column %n1."},
      {6036, "Unable to locate SELECT statement with cursor named in this statement's CURRENT-OF-CURSOR clause."},
      {6037, "Statement with cursor named in this statement's CURRENT-OF-CURSOR clause is not a SELECT FOR UPDATE."},
      {6038, "Statement with cursor named in this statement's CURRENT-OF-CURSOR is not positioned on a row."},
      {6039, "Statement with cursor named in this statement's CURRENT-OF-CURSOR does not contain any columns "
             "useable for selecting a unique row."},
      {6040, "Too few arguments given in a function escape."},
      {6041, "Could not find end of argument in a function escape, probably due to mismatched parens."},
      {6042, "No value was specified for a required connection argument."},
      {6043, "Parameter number %n1 was declared with a precision of %n2 which is larger than the memory manager can "
             "handle."},
      {6044, "  Error in parameter %n1."},
      {6045, "'%s1' is not a valid ODBC SQL type for CONVERT"},
      {6046, "The keywords LEFT OUTER JOIN were not found in an outer join escape sequence."},
      {6047, "The keyword ON preceding the search condition was not found in an outer join escape sequence."},
      {6048, "The currently active transaction was committed before changing the AutoCommit connection option."},
      {6049, "Invalid escape sequence.  Missing function name after 'FN'."},
      {6050, "A SQL_C_BINARY parameter was passed an incorrect number of bytes.  Expecting %n1 bytes, application "
             "passed %n2 bytes."},
      {6051, "Cursor name missing after WHERE CURRENT OF"},
      {6052, "No rows were affected by UPDATE/DELETE WHERE CURRENT OF cursor emulation"},
      {6053, "Character, decimal, and binary parameters cannot have a precision of zero.  Error in parameter %n1."},
      {6054, "Timestamp parameters with zero scale must have a precision of 13, 16, or 19.  Parameter number: %n1, "
             "precision: %n2."},
      {6055, "Timestamp parameters with a scale, must have a scale less than ten and a precision equal to 20 plus "
             "the scale.  You specified a precision of %n2 and scale of %n3.  Error in parameter %n1."},
      {6056, "Database does not allow negative scale values. Error in parameter %n1."},
      {6057, "%n1 is greater that the number of bound columns allowed, %n2."},
      {6058, "%n1 is greater that the number of parameters allowed, %n2."},
      {6059, "ODBC SQL data type not supported by this database."},
      {6063, "Database does not allow NOT NULL in the create table statement and so it has been removed from the "
             "statement."},
      {6064, "In SQLExtendedFetch, only SQL_FETCH_NEXT is supported for SQL_SCROLL_FORWARD_ONLY cursors."},
      {6066, "Warning"},
      {6067, "SQL_MAX_LENGTH has been set to the maximum size of data that can be returned by the database."},
      {6069, "Password passed in is longer than 24 characters."},
      {6070, "Data Truncated."},
      {6071, "Numeric overflow."},
      {6072, " Error in column %n1."},
      {6073, " Error in parameter %n1."},
      {6074, "Default parameters values are not suppported by this database."},
      {6075, "To use SQLParamOptions with this driver, you must also use SQLBindParameter and specify a valid "
             "cbValueMax for parameter %n1."},
      {6076, "Parameter %n1 precision exceeds the maximum literal length and will loose data, data source does not "
             "have native support for parameters."},
      {6077, "Statement with cursor named in this statement's ADJUSTING clause is not a SELECT FOR UPDATE."},
  };
  size_t next = 0;
  for (uint16_t id = 6000; id <= 6077; ++id) {
    short length = baseLoadString(buffer, id, sizeof(buffer));
    if (next < sizeof(messages) / sizeof(messages[0]) && messages[next].id == id) {
      EXPECT_STREQ(kvC(buffer), messages[next].text) << id;
      ++next;
    } else {
      EXPECT_EQ(length, 0) << id << " has no text";
    }
  }
  EXPECT_EQ(next, sizeof(messages) / sizeof(messages[0]));
}

}  // namespace
