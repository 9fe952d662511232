// A minimal driver for the framework's unit tests: connection and statement
// classes that fill the framework's pure operations, with a string table of
// their own and knobs the tests set.
#pragma once

#include "base/base_connection.h"
#include "base/base_env.h"
#include "base/base_field.h"
#include "base/base_messages.h"
#include "base/base_statement.h"
#include "util/resource.h"

#include <cstring>
#include <string>

class UnitConnection : public BaseConnection {
 public:
  explicit UnitConnection(BaseEnv* env) : BaseConnection(env) {}

  void getDllName(unsigned char* buffer, uint32_t size) override {
    std::strncpy(reinterpret_cast<char*>(buffer), "libunit.so", size);
  }
  KvStatus connectInit(KvValueParser*) override { return kvSuccess; }
  KvStatus connectLogon() override { return failLogon ? kvFailure : kvSuccess; }
  KvStatus setToAllocatedState() override { return kvSuccess; }
  KvStatus connectLogonDialogStart(SQLHWND, SQLUSMALLINT, KvValueParser*) override { return finishConnect(); }
  short getDriverResourceStr(uint16_t id, unsigned char* buffer, uint32_t size) override {
    static const KvMessage messages[] = {
        {1205, "Driver message 1205."},
        {20101, "Unit"},
        {20102, "owner"},
        {20104, "qualifier"},
        {20105, "procedure"},
        {20106, "table"},
        {20107, "02.00.0000"},
    };
    return kvLoadStringFromTable(messages, sizeof(messages) / sizeof(messages[0]), buffer, id, size);
  }
  KvStatus endTransaction(uint16_t) override { return kvSuccess; }

  using BaseConnection::flags_;
  bool failLogon = false;
};

class UnitStatement : public BaseStatement {
 public:
  explicit UnitStatement(BaseConnection* connection) : BaseStatement(connection) {}
  KvStatus prepareCompile(BaseSqlString*) override { return kvSuccess; }
  KvStatus executePreparedStmt() override { return kvSuccess; }
  KvStatus fetchRow(uint16_t* endOfData) override {
    *endOfData = 1;
    return kvSuccess;
  }
  KvStatus getData(uint16_t, int16_t, BaseOutString*) override { return kvSuccess; }
  KvStatus rowCount(int32_t* count) override {
    *count = 0;
    return kvSuccess;
  }
  BaseField* allocFld() override { return new BaseField(); }
  KvStatus bindParam(uint16_t, void*, int32_t, int) override { return kvSuccess; }
};

// Reads every diagnostic of a list the way SQLError hands them out.
struct UnitDiagnostic {
  std::string state;
  SQLINTEGER native;
  std::string text;
  SQLRETURN rc;
};

inline UnitDiagnostic nextDiagnostic(BaseErrorList& list, SQLSMALLINT size = 512) {
  SQLCHAR state[6] = {0};
  SQLCHAR text[1024] = {0};
  SQLINTEGER native = -7;
  SQLSMALLINT length = -1;
  SQLRETURN rc = list.SQLError(state, &native, text, size, &length);
  return {reinterpret_cast<char*>(state), native, reinterpret_cast<char*>(text), rc};
}
