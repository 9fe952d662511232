// SQLBrowseConnect of the test driver: the connection string is built in
// two rounds, first the data source, then the user id and password.
//
//   round                     answer (SQL_NEED_DATA)
//   no DSN given yet          "DSN:Data Source=?"
//   no user id known yet      "UID:Login ID=?;PWD:Password=?"
//   both known                the driver's attributes are read and it logs
//                             on; complete, nothing added to the answer
//
// The user id and password may also come from the data source's section
// (LogonID, Password), as for any connect.
#pragma once

#include "base/connection/base_connection.h"

class KvValueParser;

struct TestBrowseState {
  int dataSourceGiven = 0;
};

KvStatus testConnectBrowse(BaseConnection* connection, TestBrowseState* state, KvValueParser* parser,
                           KvParamString* missing, unsigned* more);
