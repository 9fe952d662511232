// Transactions of the test driver; see test_transactions.h.
#include "drivers/test/test_transactions.h"

#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "util/memory/ram.h"

namespace {

KvStatus readBehaviour(BaseConnection* connection, KvValueParser* parser, const char* shortKey,
                       const char* longKey, uint16_t* behaviour) {
  unsigned char* value = nullptr;
  if (connection->getConnectionValue(parser, shortKey, longKey, "2", &value, nullptr) != kvSuccess) return kvFailure;
  const bool valid = value && value[0] >= '0' && value[0] <= '2' && value[1] == 0;
  if (valid) *behaviour = uint16_t(value[0] - '0');
  ramFree(value);
  if (valid) return kvSuccess;
  addOdbcError(stateArgumentValue);
  return kvFailure;
}

}  // namespace

KvStatus testReadTransactionAttributes(BaseConnection* connection, TestTransactions* state,
                                       KvValueParser* parser) {
  if (readBehaviour(connection, parser, "CC", "CursorCommit", &state->commitBehaviour) != kvSuccess) return kvFailure;
  return readBehaviour(connection, parser, "CR", "CursorRollback", &state->rollbackBehaviour);
}

KvStatus testEndTransaction(TestTransactions* state, uint16_t type) {
  if (type == SQL_COMMIT) ++state->committed;
  else ++state->rolledBack;
  return kvSuccess;
}
