// Fuzz target of statement preparation and execution with parameters:
// the escape pass with the test driver's dialect, markers, FOR UPDATE OF,
// WHERE CURRENT OF emulated over an open cursor, and every marker given a
// value written into the text as a literal (textualBindParam) or handed
// to the driver.
//
// Input: one byte of settings, then the statement text.
//   byte 0: bit 0 SQL_NOSCAN, bit 1 the driver takes parameters itself,
//           bit 2 every value is NULL, bit 3 the values are numbers
// Besides what the sanitizers catch: every marker can be bound, and every
// prepared statement executes or fails with a reason.
#include <cstring>
#include <string>

#include "base/handles/base_env.h"
#include "base/handles/base_error_list.h"
#include "base/results/base_field.h"
#include "base/handles/base_messages.h"
#include "base/handles/base_out_string.h"
#include "base/statement/base_sql_string.h"
#include "base/statement/base_statement.h"
#include "drivers/test/test_dialect.h"
#include "fuzz/fuzz_check.h"

namespace {

const BaseInfoRow infoRows[] = {
    KV_INFO_TEXT(SQL_IDENTIFIER_QUOTE_CHAR, "\""),
};
const BaseInfoTable infoTable = {1, nullptr, infoRows};

class FuzzConnection : public BaseConnection {
 public:
  explicit FuzzConnection(BaseEnv* env) : BaseConnection(env) {
    setInfoChain(&infoTable);
    flags_ |= flagConnected;
  }
  void getDllName(unsigned char* buffer, uint32_t size) override {
    if (size) buffer[0] = 0;
  }
  KvStatus connectInit(KvValueParser*) override { return kvSuccess; }
  KvStatus connectLogon() override { return kvSuccess; }
  KvStatus setToAllocatedState() override { return kvSuccess; }
  KvStatus connectLogonDialogStart(SQLHWND, SQLUSMALLINT, KvValueParser*) override { return kvSuccess; }
  short getDriverResourceStr(uint16_t, unsigned char* buffer, uint32_t size) override {
    if (size) buffer[0] = 0;
    return 0;
  }
  KvStatus expandNativeEscape(KvReplaceString* text, uint32_t length, EscapeType type,
                              EscapeFunctionType function) override {
    return testExpandNativeEscape(this, text, length, type, function);
  }
};

class FuzzStatement : public BaseStatement {
 public:
  explicit FuzzStatement(BaseConnection* connection) : BaseStatement(connection) {}
  KvStatus prepareCompile(BaseSqlString* sql) override {
    if (sql->getVerb() != sqlVerbSelect) return kvSuccess;
    deleteFields();
    static const char* const names[] = {"A", "B", "C"};
    static const int16_t types[] = {SQL_INTEGER, SQL_VARCHAR, SQL_DATE};
    if (allocArrays(3, arrayFields) != kvSuccess) return kvFailure;
    for (uint16_t i = 0; i < 3; ++i) {
      fields_[i] = allocFld();
      fields_[i]->borrowText(&fields_[i]->name, reinterpret_cast<const unsigned char*>(names[i]));
      fields_[i]->sqlType = types[i];
      fields_[i]->precision = 10;
      fields_[i]->flags |= BaseField::flagPrivate1002;
      fields_[i]->searchable = i == 1 ? SQL_LIKE_ONLY : SQL_SEARCHABLE;
    }
    fieldCount_ = 3;
    return kvSuccess;
  }
  KvStatus executePreparedStmt() override { return kvSuccess; }
  KvStatus fetchRow(uint16_t* endOfData) override {
    *endOfData = 1;
    return kvSuccess;
  }
  KvStatus getData(uint16_t column, int16_t cType, BaseOutString* out) override {
    static const char* const values[] = {"12", "it's", "2001-02-03"};
    if (column == 0 || column > 3) return kvFailure;
    return convertInternalToC(column, cType, out, values[column - 1], int32_t(std::strlen(values[column - 1])),
                              itChar);
  }
  KvStatus rowCount(int32_t* count) override {
    *count = 1;
    return kvSuccess;
  }
  BaseField* allocFld() override { return new BaseField(); }
  KvStatus bindParam(uint16_t parameter, void* value, int32_t length, int mode) override {
    if (connection_->getFlags() & BaseConnection::flagDriverTakesParams || mode != bindWhole) return kvSuccess;
    return textualBindParam(parameter, value, length);
  }
  void openOnFirstRow() {
    cursorState_ = cursorOpen;
    rowsetStart_ = 1;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t settings = data[0];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  BaseEnv env(1);
  FuzzConnection* connection = new FuzzConnection(&env);
  if (settings & 0x2) connection->addFlags(BaseConnection::flagDriverTakesParams);
  {
    FuzzStatement* cursor = new FuzzStatement(connection);
    if (cursor->SQLSetCursorName((SQLCHAR*)"C1", SQL_NTS) == SQL_SUCCESS &&
        cursor->SQLExecDirect((SQLCHAR*)"SELECT A, B, C FROM T FOR UPDATE OF A", SQL_NTS) == SQL_SUCCESS)
      cursor->openOnFirstRow();
    FuzzStatement* statement = new FuzzStatement(connection);
    if (settings & 0x1) (void)statement->SQLSetStmtOption(SQL_NOSCAN, SQL_NOSCAN_ON);
    if (!text.empty() && statement->SQLPrepare((SQLCHAR*)text.data(), SQLINTEGER(text.size())) != SQL_ERROR) {
      SQLSMALLINT count = 0;
      FUZZ_CHECK(statement->SQLNumParams(&count) == SQL_SUCCESS);
      char value[] = "O'Brien?";
      SQLINTEGER number = 42;
      SQLLEN length = (settings & 0x4) ? SQL_NULL_DATA : SQL_NTS;
      for (SQLUSMALLINT i = 1; i <= SQLUSMALLINT(count); ++i) {
        const SQLRETURN rc = (settings & 0x8)
                                 ? statement->SQLBindParameter(i, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0,
                                                               &number, 0, &length)
                                 : statement->SQLBindParameter(i, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 20, 0,
                                                               value, sizeof(value), &length);
        FUZZ_CHECK(rc == SQL_SUCCESS);
      }
      const SQLRETURN rc = statement->SQLExecute();
      FUZZ_CHECK(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO || rc == SQL_ERROR);
      if (rc == SQL_ERROR) FUZZ_CHECK(statement->getErrorList().getCount() > 0);
    }
  }
  delete connection;  // its statements with it
  return 0;
}
