// A minimal driver for the framework's unit tests: connection and statement
// classes that fill the framework's pure operations, with a string table of
// their own and knobs the tests set.
#pragma once

#include "base/connection/base_connection.h"
#include "base/handles/base_env.h"
#include "base/results/base_field.h"
#include "base/handles/base_messages.h"
#include "base/statement/base_statement.h"
#include "util/resource.h"
#include "util/containers/value_parser.h"

#include <cstring>
#include <string>

// Every driver answers SQL_DEFAULT_TXN_ISOLATION itself; the connect reads it.
inline const BaseInfoTable& unitInfoTable() {
  static const BaseInfoRow rows[] = {KV_INFO_MASK(SQL_DEFAULT_TXN_ISOLATION, SQL_TXN_READ_COMMITTED),
                                     KV_INFO_MASK(SQL_TXN_ISOLATION_OPTION, SQL_TXN_READ_COMMITTED)};
  static const BaseInfoTable table = {2, nullptr, rows};
  return table;
}

class UnitConnection : public BaseConnection {
 public:
  explicit UnitConnection(BaseEnv* env) : BaseConnection(env) { setInfoChain(&unitInfoTable()); }

  void getDllName(unsigned char* buffer, uint32_t size) override {
    std::strncpy(reinterpret_cast<char*>(buffer), "libunit.so", size);
  }
  KvStatus connectInit(KvValueParser*) override { return kvSuccess; }
  KvStatus connectLogon() override { return failLogon ? kvFailure : kvSuccess; }
  KvStatus setToAllocatedState() override { return kvSuccess; }
  KvStatus connectLogonDialogStart(SQLHWND, SQLUSMALLINT, KvValueParser*) override { return finishConnect(); }
  short getDriverResourceStr(uint16_t id, unsigned char* buffer, uint32_t size) override {
    static constexpr KvMessage messages[] = {
        {1205, "Driver message 1205."},
        {strDriverName, "Unit"},
        {strOwnerTerm, "owner"},
        {strQualifierTerm, "qualifier"},
        {strProcedureTerm, "procedure"},
        {strTableTerm, "table"},
        {strDriverVersion, "02.00.0000"},
    };
    static_assert(kvMessagesSorted(messages), "sorted by id");
    return kvLoadStringFromTable(messages, sizeof(messages) / sizeof(messages[0]), buffer, id, size);
  }
  // With baseEnds the framework's default answers, as for a driver that
  // never opens a transaction of its own.
  KvStatus endTransaction(uint16_t type) override {
    return baseEnds ? BaseConnection::endTransaction(type) : kvSuccess;
  }
  // Browsing asks for HOST until the connection string gives it (unless
  // browses is false: then the framework's default answers).
  KvStatus connectBrowse(KvValueParser* parser, KvParamString* missing, unsigned* more) override {
    if (!browses) return BaseConnection::connectBrowse(parser, missing, more);
    const KvSubString* host = parser ? parser->getAttributeValue(kvU("HOST")) : nullptr;
    if (!host) {
      *more = 1;
      return missing->initialize(kvU("HOST:Server=?"));
    }
    *more = 0;
    KvString text;
    if (text.concat(kvU("HOST=")) != kvSuccess || text.concat(host->getText(), host->getLength()) != kvSuccess)
      return kvFailure;
    return missing->initialize(text.getStr());
  }

  using BaseConnection::flags_;
  using BaseConnection::lookupDataSource;
  bool failLogon = false;
  bool browses = true;
  bool baseEnds = false;
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
