// Transactions of the test driver. Its connection counts the transactions
// the framework begins, commits and rolls back through it, and reports the
// cursor behaviours after a commit and after a rollback that connection
// attributes choose:
//   CursorCommit (CC)    SQL_CURSOR_COMMIT_BEHAVIOR: 0 delete, 1 close,
//                        2 preserve (the default)
//   CursorRollback (CR)  SQL_CURSOR_ROLLBACK_BEHAVIOR, the same values
// The counts are what the driver's statements COMMITS, ROLLBACKS and BEGUN
// report as their row count (test_statement.h), so that an application
// sees which transactions reached the driver.
#pragma once

#include "base/connection/base_connection.h"

class KvValueParser;

struct TestTransactions {
  int32_t begun = 0;
  int32_t committed = 0;
  int32_t rolledBack = 0;
  uint16_t commitBehaviour = SQL_CB_PRESERVE;
  uint16_t rollbackBehaviour = SQL_CB_PRESERVE;
};

// Reads CursorCommit and CursorRollback; a value outside 0-2 is refused
// with S1009.
KvStatus testReadTransactionAttributes(BaseConnection* connection, TestTransactions* state,
                                       KvValueParser* parser);
// The connection's driver ends a transaction: type is SQL_COMMIT or
// SQL_ROLLBACK.
KvStatus testEndTransaction(TestTransactions* state, uint16_t type);

// The record of a test driver connection (test_driver.cpp).
TestTransactions* testTransactionsOf(BaseConnection* connection);
