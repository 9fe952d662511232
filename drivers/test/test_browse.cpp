// SQLBrowseConnect of the test driver; see test_browse.h.
#include "drivers/test/test_browse.h"

#include "util/containers/value_parser.h"

KvStatus testConnectBrowse(BaseConnection* connection, TestBrowseState* state, KvValueParser* parser,
                           KvParamString* missing, unsigned* more) {
  // The framework clears flag 0x40 after the first round of a browse.
  if (connection->getFlags() & BaseConnection::flagNoBrowse) state->dataSourceGiven = 0;
  if (parser && parser->isAttributeValue(kvU("DSN"))) state->dataSourceGiven = 1;
  *more = 1;
  if (!state->dataSourceGiven) return missing->initialize(kvU("DSN:Data Source=?"));
  if (!connection->getUserId()) return missing->initialize(kvU("UID:Login ID=?;PWD:Password=?"));
  *more = 0;
  if (connection->connectInit(parser) != kvSuccess || connection->connectLogon() != kvSuccess) return kvFailure;
  return missing->initialize(kvU(""));
}
