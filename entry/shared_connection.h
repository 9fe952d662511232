// Connection sharing of the entry layer (internal to the entry layer).
//
// A data source that allows one active connection is shared: a connection
// that SQLDriverConnect connects with result exactly 0, WorkArounds bit 0x4
// and one active connection is parked in ziz-task slots 6 and 7 (with this
// deliverable's identity); later SQLAllocConnect calls of this deliverable
// receive it with one more share, and SQLFreeConnect deletes it only when no
// share is left.
//
// The shared connection was built on one environment, but the Driver
// Manager may free that environment while shares taken through other
// environments still use the connection. The layer therefore notes which
// environments took shares of which connection; when the environment a
// connection was built on goes, the connection is handed to a live
// environment that took a share of it, so that the environment of a
// connection always outlives it. An environment whose connections no other
// environment holds cannot go (S1010).
#pragma once

#include "base/connection/base_connection.h"
#include "base/handles/base_env.h"

// The connection this deliverable shares, with one more share taken on it
// for env, or null (none, or the note could not be made).
BaseConnection* entryTakeSharedConnection(BaseEnv* env);

// After SQLDriverConnect: registers the connection as the shared one when
// result is exactly 0, its WorkArounds has bit 0x4 and it allows one active
// connection (an answer of 0 counts as 1 under WorkArounds 0x100, whoever
// gave it: a table row or the driver).
void entryRegisterIfShared(BaseConnection* connection, SQLRETURN result);

// SQLFreeConnect: gives back one share and answers 1 (the connection stays),
// or forgets the connection as shared and answers 0 (delete it now).
int entryReleaseConnection(BaseConnection* connection);

// SQLFreeEnv: hands the connections built on env that other environments
// still hold to one of those, forgets env as a holder, and succeeds. Fails,
// changing nothing, when env still has connections of its own.
KvStatus entryReleaseEnvironment(BaseEnv* env);
