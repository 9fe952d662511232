// The test driver: an in-memory driver built on the framework through the
// entry layer. Its behaviour is steered by connection attributes so that
// tests reach the framework's paths through the Driver Manager:
//   DriverName (DN)   the name in messages and SQLGetInfo (default "Test")
//   FailLogon (FL)    1: the logon fails with the driver's message 1201
//   WarnLogon (WL)    1: the logon succeeds with warning 1202
//   OneConnection (OC) 1: one active connection (connection sharing)
//   Browse (BR)       0: no browse support (the framework's default); else
//                     SQLBrowseConnect as test_browse.h says
//   CursorCommit (CC), CursorRollback (CR)  the cursor behaviours after a
//                     commit and a rollback (test_transactions.h)
//   ThrowLogon (TL)   1: the logon throws std::bad_alloc, 2: another
//                     exception (the entry layer's firewall)
// Its statements behave by their first word as test_statement.h says; each
// connection has a table ITEMS in memory (test_items.h). The driver takes
// parameter values itself, long values in pieces.
// and by one environment variable: KV_TEST_ENV_FAILS=1 makes the
// environment's initialisation fail. SQLDriverConnect with
// SQL_DRIVER_PROMPT and a window asks for the user id and password in its
// logon dialog (test_logon.cpp). Its data-source setup (ConfigDSN, its setup
// keys and setup dialog) is in test_setup.cpp; its dialog templates are in
// test_dialogs.cpp; its SQL dialect (escape clauses) and its data types are
// in test_dialect.cpp.
#include "drivers/test/test_dialogs.h"
#include "entry/entry.h"

#include "base/results/base_field.h"
#include "base/handles/base_messages.h"
#include "base/handles/base_out_string.h"
#include "drivers/test/test_browse.h"
#include "drivers/test/test_dialect.h"
#include "drivers/test/test_message_ids.h"
#include "drivers/test/test_statement.h"
#include "drivers/test/test_transactions.h"
#include "util/os/bos.h"
#include "util/resource.h"
#include "util/containers/value_parser.h"


#include <cstring>
#include <new>
#include <stdexcept>

namespace {

constexpr KvMessage testMessages[] = {
    {testMsgGeneral, "Test driver message."},
    {testMsgLogonRefused, "The test data source refused the logon of '%s1'."},
    {testMsgLogonWarning, "The test data source accepted the logon with a warning."},
    {testMsgCannotRun, "The test data source cannot run '%s1'."},
    {strDriverName, "Test"},
    {strOwnerTerm, "owner"},
    {strQualifierTerm, "qualifier"},
    {strProcedureTerm, "procedure"},
    {strTableTerm, "table"},
    {strDriverVersion, "01.00.0000"},
    // Local type names and create parameters of the type table (test_dialect.cpp).
    {testStrVaryingText, "varying text"},
    {testStrText, "text"},
    {testStrLongText, "long text"},
    {testStrInteger, "integer"},
    {testStrSmallInteger, "small integer"},
    {testStrDecimal, "decimal"},
    {testStrDouble, "double"},
    {testStrBit, "bit"},
    {testStrDate, "date"},
    {testStrTime, "time"},
    {testStrTimestamp, "timestamp"},
    {testStrBlob, "binary large object"},
    {testStrMaxLength, "max length"},
    {testStrPrecisionScale, "precision,scale"},
};
static_assert(kvMessagesSorted(testMessages), "the test driver's table must be sorted by id");

const char dbmsVersion[] = "01.00.0000";

// Sorted by info type.
constexpr BaseInfoRow testRows[] = {
    KV_INFO_ASKED(SQL_ACTIVE_CONNECTIONS),                                                 // 0
    KV_INFO_TEXT(SQL_DBMS_VER, dbmsVersion),                                               // 18
    KV_INFO_ASKED(SQL_CURSOR_COMMIT_BEHAVIOR),                                             // 23
    KV_INFO_ASKED(SQL_CURSOR_ROLLBACK_BEHAVIOR),                                           // 24
    KV_INFO_MASK(SQL_DEFAULT_TXN_ISOLATION, SQL_TXN_READ_COMMITTED),                       // 26
    KV_INFO_TEXT(SQL_IDENTIFIER_QUOTE_CHAR, "\""),                                         // 29
    KV_INFO_U16(SQL_MAX_COLUMN_NAME_LEN, 64),                                              // 30
    KV_INFO_U16(SQL_MAX_TABLE_NAME_LEN, 64),                                               // 35
    KV_INFO_MASK(SQL_SCROLL_CONCURRENCY, SQL_SCCO_READ_ONLY | SQL_SCCO_OPT_VALUES),        // 43
    KV_INFO_MASK(SQL_SCROLL_OPTIONS, SQL_SO_FORWARD_ONLY | SQL_SO_STATIC),                 // 44
    KV_INFO_U16(SQL_TXN_CAPABLE, SQL_TC_ALL),                                              // 46
    KV_INFO_MASK(SQL_TXN_ISOLATION_OPTION, SQL_TXN_READ_COMMITTED | SQL_TXN_SERIALIZABLE), // 72
};
static_assert(baseInfoRowsSorted(testRows), "the test driver's rows must be sorted by info type");
const BaseInfoTable testInfo = {sizeof(testRows) / sizeof(testRows[0]), nullptr, testRows};

class TestEnv : public BaseEnv {
 public:
  explicit TestEnv(OdbcDriverNumber number) : BaseEnv(number) {}
  KvStatus initialize() override {
    unsigned char* value = nullptr;
    if (bosGetEnv(kvU("KV_TEST_ENV_FAILS"), &value) != kvSuccess) return kvFailure;
    bool fails = value && value[0] == '1';
    ramFree(value);
    return fails ? kvFailure : kvSuccess;
  }
};

class TestConnection : public BaseConnection {
 public:
  // Capability flags: login time-outs, native parameters, long data in
  // pieces.
  static constexpr uint32_t capabilities = flagLoginTimeout | flagDriverTakesParams | flagLongDataInPieces;
  static_assert((capabilities & ~uint32_t(capabilityFlags)) == 0, "a constructor sets capability flags only");

  explicit TestConnection(BaseEnv* env) : BaseConnection(env) {
    setInfoChain(&testInfo);
    setTypeTable(testTypeTable, testTypeCount);
    addFlags(capabilities);
    setLimits(0, 1000, 0);
  }
  ~TestConnection() override { ramFree(name_); }

  void getDllName(unsigned char* buffer, uint32_t size) override { entryGetDllName(buffer, size); }

  KvStatus connectInit(KvValueParser* parser) override {
    unsigned char* value = nullptr;
    if (getConnectionValue(parser, "DN", "DriverName", nullptr, &value, nullptr) != kvSuccess) return kvFailure;
    if (value) {
      ramFree(name_);
      name_ = value;
    }
    failLogon_ = flag(parser, "FL", "FailLogon");
    warnLogon_ = flag(parser, "WL", "WarnLogon");
    oneConnection_ = flag(parser, "OC", "OneConnection");
    throwLogon_ = number(parser, "TL", "ThrowLogon");
    return testReadTransactionAttributes(this, &transactions_, parser);
  }

  KvStatus connectLogon() override {
    if (throwLogon_ == 1) throw std::bad_alloc();
    if (throwLogon_ == 2) throw std::runtime_error("the test driver's logon throws");
    if (failLogon_) {
      addOdbcError(stateConnectRejected, testMsgLogonRefused) << (getUserId() ? getUserId() : kvU(""));
      return kvFailure;
    }
    if (warnLogon_) addOdbcWarning(stateWarning, testMsgLogonWarning);
    return kvSuccess;
  }

  KvStatus setToAllocatedState() override { return kvSuccess; }

  // SQL_DRIVER_PROMPT with a window asks for the user id and password;
  // every other mode, or a prompt that cannot be shown, connects as it is.
  KvStatus connectLogonDialogStart(SQLHWND hwnd, SQLUSMALLINT completion, KvValueParser*) override {
    if (hwnd && completion == SQL_DRIVER_PROMPT) {
      unsigned char* user = nullptr;
      unsigned char* password = nullptr;
      int shown = 0;
      if (testLogonPrompt(kvWindowFromHandle(hwnd), getUserId(), &user, &password, &shown) != kvSuccess)
        return kvFailure;
      if (shown == 2) return kvSuccess;  // cancelled: left unconnected, SQL_NO_DATA
      if (shown == 1) {
        ramFree(userId_);
        userId_ = user;
        ramFree(password_);
        password_ = password;
      }
    }
    return finishConnect();
  }

  short getDriverResourceStr(uint16_t id, unsigned char* buffer, uint32_t size) override {
    if (id == strDriverName && name_) {
      size_t length = std::strlen(kvC(name_));
      if (size == 0) return 0;
      if (length > size - 1) length = size - 1;
      std::memcpy(buffer, name_, length);
      buffer[length] = 0;
      return short(length);
    }
    return kvLoadStringFromTable(testMessages, sizeof(testMessages) / sizeof(testMessages[0]), buffer, id, size);
  }

  KvStatus getAskedForInfo(uint16_t type, void** value, BaseInfoValType* kind) override {
    uint16_t answer = 0;
    switch (type) {
      case SQL_ACTIVE_CONNECTIONS: answer = oneConnection_ ? 1 : 0; break;
      case SQL_CURSOR_COMMIT_BEHAVIOR: answer = transactions_.commitBehaviour; break;
      case SQL_CURSOR_ROLLBACK_BEHAVIOR: answer = transactions_.rollbackBehaviour; break;
      default:
        addOdbcError(stateNotCapable);
        return kvFailure;
    }
    *value = reinterpret_cast<void*>(uintptr_t(answer));
    *kind = infoU16;
    return kvSuccess;
  }

  KvStatus startTransaction() override {
    ++transactions_.begun;
    return kvSuccess;
  }
  KvStatus endTransaction(uint16_t type) override { return testEndTransaction(&transactions_, type); }
  TestTransactions* getTransactions() { return &transactions_; }
  TestItemsTable* getItems() { return &items_; }

  KvStatus connectBrowse(KvValueParser* parser, KvParamString* missing, unsigned* more) override {
    if (!flag(parser, "BR", "Browse", "1")) return BaseConnection::connectBrowse(parser, missing, more);
    return testConnectBrowse(this, &browse_, parser, missing, more);
  }

  KvStatus expandNativeEscape(KvReplaceString* text, uint32_t length, EscapeType type,
                              EscapeFunctionType function) override {
    return testExpandNativeEscape(this, text, length, type, function);
  }

 private:
  int flag(KvValueParser* parser, const char* shortKey, const char* longKey, const char* defaultValue = "0") {
    return number(parser, shortKey, longKey, defaultValue) == 1;
  }
  // A one-digit setting, 0 when absent.
  int number(KvValueParser* parser, const char* shortKey, const char* longKey, const char* defaultValue = "0") {
    unsigned char* value = nullptr;
    if (getConnectionValue(parser, shortKey, longKey, defaultValue, &value, nullptr) != kvSuccess || !value)
      return 0;
    int digit = value[0] >= '0' && value[0] <= '9' ? value[0] - '0' : 0;
    ramFree(value);
    return digit;
  }

  unsigned char* name_ = nullptr;
  int failLogon_ = 0;
  int warnLogon_ = 0;
  int oneConnection_ = 0;
  TestTransactions transactions_;
  TestBrowseState browse_;
  TestItemsTable items_;
  int throwLogon_ = 0;
};

}  // namespace

TestTransactions* testTransactionsOf(BaseConnection* connection) {
  return static_cast<TestConnection*>(connection)->getTransactions();
}

TestItemsTable* testItemsOf(BaseConnection* connection) {
  return static_cast<TestConnection*>(connection)->getItems();
}

BaseEnv* entryMakeEnv() { return entryBuild<TestEnv>(OdbcDriverNumber(99)); }
BaseConnection* entryMakeConnection(BaseEnv* env) { return entryBuild<TestConnection>(env); }
BaseStatement* entryMakeStatement(BaseConnection* connection) { return entryBuild<TestStatement>(connection); }
