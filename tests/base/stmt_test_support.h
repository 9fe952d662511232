// A driver for the statement and transaction tests: its connection answers
// the cursor behaviours, scroll masks and transaction capability the tests
// choose and counts the transactions the framework starts and ends; its
// statement makes one result column for a SELECT, counts the framework's
// calls of its operations, and fails those the tests ask it to.
#pragma once

#include "base_test_support.h"

#include "base/statement/base_sql_string.h"

#include <gtest/gtest.h>

class StmtConnection : public UnitConnection {
 public:
  explicit StmtConnection(BaseEnv* env) : UnitConnection(env) {
    static const BaseInfoRow rows[] = {
        KV_INFO_ASKED(SQL_CURSOR_COMMIT_BEHAVIOR),  KV_INFO_ASKED(SQL_CURSOR_ROLLBACK_BEHAVIOR),
        KV_INFO_ASKED(SQL_SCROLL_CONCURRENCY),      KV_INFO_ASKED(SQL_SCROLL_OPTIONS),
        KV_INFO_ASKED(SQL_TXN_CAPABLE),             KV_INFO_ASKED(SQL_LOCK_TYPES),
        KV_INFO_ASKED(SQL_POS_OPERATIONS),          KV_INFO_ASKED(SQL_GETDATA_EXTENSIONS),
        KV_INFO_ASKED(SQL_BOOKMARK_PERSISTENCE),
    };
    static const BaseInfoTable table = {sizeof(rows) / sizeof(rows[0]), &unitInfoTable(), rows};
    setInfoChain(&table);
    setLimits(0, 1000, 0);
    flags_ |= flagConnected;
  }

  KvStatus getAskedForInfo(uint16_t type, void** value, BaseInfoValType* kind) override {
    uint32_t answer = 0;
    *kind = infoU16;
    switch (type) {
      case SQL_CURSOR_COMMIT_BEHAVIOR: answer = commitBehaviour; break;
      case SQL_CURSOR_ROLLBACK_BEHAVIOR: answer = rollbackBehaviour; break;
      case SQL_TXN_CAPABLE: answer = txnCapable; break;
      case SQL_SCROLL_CONCURRENCY: answer = scrollConcurrency; *kind = infoMask; break;
      case SQL_SCROLL_OPTIONS: answer = scrollOptions; *kind = infoMask; break;
      case SQL_BOOKMARK_PERSISTENCE: answer = bookmarkPersistence; *kind = infoMask; break;
      case SQL_LOCK_TYPES: answer = lockTypes; *kind = infoMask; break;
      case SQL_POS_OPERATIONS: answer = posOperations; *kind = infoMask; break;
      case SQL_GETDATA_EXTENSIONS: answer = getDataExtensions; *kind = infoMask; break;
      default: return kvFailure;
    }
    *value = reinterpret_cast<void*>(uintptr_t(answer));
    return kvSuccess;
  }
  KvStatus startTransaction() override {
    ++started;
    return kvSuccess;
  }
  KvStatus endTransaction(uint16_t type) override {
    ++(type == SQL_COMMIT ? committed : rolledBack);
    if (failEnd) {
      addOdbcError(stateGeneral);
      return kvFailure;
    }
    return kvSuccess;
  }

  using BaseConnection::workArounds_;
  uint32_t commitBehaviour = SQL_CB_PRESERVE;
  uint32_t rollbackBehaviour = SQL_CB_PRESERVE;
  uint32_t txnCapable = SQL_TC_ALL;
  uint32_t scrollConcurrency = SQL_SCCO_READ_ONLY;
  uint32_t scrollOptions = SQL_SO_FORWARD_ONLY;
  uint32_t bookmarkPersistence = 0;
  uint32_t lockTypes = 0;      // the framework's default answers: no SQLSetPos
  uint32_t posOperations = 0;
  uint32_t getDataExtensions = SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER | SQL_GD_BOUND;  // the default's
  int started = 0;
  int committed = 0;
  int rolledBack = 0;
  bool failEnd = false;
};

class StmtStatement : public UnitStatement {
 public:
  explicit StmtStatement(BaseConnection* connection) : UnitStatement(connection) {}

  KvStatus prepareCompile(BaseSqlString* sql) override {
    ++prepares;
    if (failPrepare) {
      addOdbcError(stateSyntax);
      return kvFailure;
    }
    deleteFields();
    if (sql->getVerb() == sqlVerbSelect) return makeColumns(1);
    return kvSuccess;
  }
  KvStatus executePreparedStmt() override {
    ++executions;
    if (failExecute) {
      addOdbcError(stateGeneral);
      return kvFailure;
    }
    return kvSuccess;
  }
  KvStatus rowCount(int32_t* count) override {
    *count = rows;
    return kvSuccess;
  }
  KvStatus moreResults(uint16_t* noMore) override {
    *noMore = furtherResults == 0;
    if (furtherResults > 0) --furtherResults;
    return kvSuccess;
  }
  KvStatus setToPreparedState() override {
    ++closes;
    if (failClose) {
      addOdbcError(stateGeneral);
      return kvFailure;
    }
    return kvSuccess;
  }
  KvStatus setToAllocatedState(uint16_t drop) override {
    ++resets;
    lastDrop = drop;
    if (failReset) {
      addOdbcError(stateGeneral);
      return kvFailure;
    }
    return kvSuccess;
  }
  KvStatus setStmtOption(uint16_t option, SQLULEN value) override {
    if (failOptions) {
      addOdbcError(stateNotCapable);
      return kvFailure;
    }
    return BaseStatement::setStmtOption(option, value);
  }
  void unbindParams() override { ++paramUnbinds; }
  void unbindFlds() override { ++fieldUnbinds; }

  KvStatus makeColumns(uint16_t count) {
    if (allocArrays(count, arrayFields) != kvSuccess) return kvFailure;
    for (uint16_t i = 0; i < count; ++i) fields_[i] = allocFld();
    fieldCount_ = count;
    return kvSuccess;
  }

  using BaseStatement::cursorState_;
  using BaseStatement::kind_;
  using BaseStatement::rowStatus_;
  using BaseStatement::rowStatusCount_;
  using BaseStatement::rowsetIndex_;
  using BaseStatement::rowsetStart_;
  using BaseStatement::bindings_;
  using BaseStatement::bindingCapacity_;

  int prepares = 0;
  int executions = 0;
  int closes = 0;
  int resets = 0;
  int paramUnbinds = 0;
  int fieldUnbinds = 0;
  uint16_t lastDrop = 0;
  int32_t rows = 3;
  int furtherResults = 0;
  bool failPrepare = false;
  bool failExecute = false;
  bool failClose = false;
  bool failReset = false;
  bool failOptions = false;
};

// The first diagnostic a statement or connection call left.
inline std::string firstState(BaseErrorList& list) { return list.getCount() ? nextDiagnostic(list).state : ""; }

inline SQLRETURN execDirect(BaseStatement* statement, const char* sql) {
  return statement->SQLExecDirect(reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql)), SQL_NTS);
}
inline SQLRETURN prepare(BaseStatement* statement, const char* sql) {
  return statement->SQLPrepare(reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql)), SQL_NTS);
}

// A fixture of one environment, connection and statement of the given test
// classes; the connection frees its statements when it goes.
template <class Connection, class Statement>
class StatementFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = new BaseEnv(1);
    connection_ = new Connection(env_);
    statement_ = new Statement(connection_);
  }
  void TearDown() override {
    delete connection_;
    delete env_;
  }
  std::string state() { return firstState(statement_->getErrorList()); }

  BaseEnv* env_ = nullptr;
  Connection* connection_ = nullptr;
  Statement* statement_ = nullptr;
};
