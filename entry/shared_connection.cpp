// Connection sharing of the entry layer; see shared_connection.h.
//
// Slots 6 and 7 and the holder notes change only under the task lock. A
// note says that an environment took a share of a connection built on
// another one; it goes with the connection or with the environment. The
// notes cannot say which environment a given SQLFreeConnect came from (the
// call names only the connection), so an environment counts as a holder
// until it is freed itself: by then the application has freed every
// connection handle it had on it.
#include "entry/shared_connection.h"

#include "base/handles/base_messages.h"
#include "entry/entry.h"
#include "util/containers/kv_array.h"
#include "util/locks/semaphore.h"
#include "util/os/zizdata.h"

namespace {

struct ShareHolder {
  BaseConnection* connection;
  BaseEnv* env;  // took a share of connection; not the one it was built on
};

class ShareHolders {
 public:
  ShareHolders() { notes_.setOwnsObjects(true); }

  uint16_t count() const { return notes_.getCount(); }
  ShareHolder* at(uint16_t i) const { return static_cast<ShareHolder*>(notes_.getAt(i)); }

  KvStatus add(BaseConnection* connection, BaseEnv* env) {
    for (uint16_t i = 0; i < count(); ++i)
      if (at(i)->connection == connection && at(i)->env == env) return kvSuccess;
    auto* note = static_cast<ShareHolder*>(ramAlloc(sizeof(ShareHolder)));
    if (!note) return kvFailure;
    *note = {connection, env};
    if (notes_.add(note) != kvSuccess) {
      ramFree(note);
      return kvFailure;
    }
    return kvSuccess;
  }

  // Removes every note of the connection, or of the environment.
  void forget(const BaseConnection* connection, const BaseEnv* env) {
    for (uint16_t i = count(); i-- > 0;) {
      if (at(i)->connection != connection && at(i)->env != env) continue;
      ramFree(at(i));
      notes_.removeAtIndex(i);
    }
  }

  // The live environment (other than env) that holds connection, or null.
  BaseEnv* otherHolder(const BaseConnection* connection, const BaseEnv* env) const {
    for (uint16_t i = 0; i < count(); ++i)
      if (at(i)->connection == connection && at(i)->env != env) return at(i)->env;
    return nullptr;
  }

 private:
  KvArrayPVoid notes_;
};

ShareHolders holders;

}  // namespace

BaseConnection* entryTakeSharedConnection(BaseEnv* env) {
  KvLazyLockGuard guard(kvTaskLockHolder());
  if (mdsGetZizTaskData(zizTaskSharedModule) != entryModuleInstance()) return nullptr;
  auto* shared = static_cast<BaseConnection*>(mdsGetZizTaskData(zizTaskSharedConnection));
  if (!shared) return nullptr;
  if (shared->getEnv() != env && holders.add(shared, env) != kvSuccess) return nullptr;
  shared->addShare();
  return shared;
}

void entryRegisterIfShared(BaseConnection* connection, SQLRETURN result) {
  if (result != SQL_SUCCESS || connection->isShared()) return;
  uint32_t workArounds = connection->getWorkArounds();
  if (!(workArounds & BaseConnection::waShareConnection)) return;
  uint32_t active = connection->getInfoNumber(SQL_ACTIVE_CONNECTIONS);
  if (active == 0 && (workArounds & BaseConnection::waActiveConnections)) active = 1;
  if (active != 1) return;
  KvLazyLockGuard guard(kvTaskLockHolder());
  mdsSetZizTaskData(zizTaskSharedConnection, connection);
  mdsSetZizTaskData(zizTaskSharedModule, entryModuleInstance());
}

int entryReleaseConnection(BaseConnection* connection) {
  KvLazyLockGuard guard(kvTaskLockHolder());
  if (connection->isShared()) {
    connection->removeShare();
    return 1;
  }
  if (mdsGetZizTaskData(zizTaskSharedConnection) == connection) {
    mdsSetZizTaskData(zizTaskSharedConnection, nullptr);
    mdsSetZizTaskData(zizTaskSharedModule, nullptr);
  }
  holders.forget(connection, nullptr);
  return 0;
}

KvStatus entryReleaseEnvironment(BaseEnv* env) {
  KvLazyLockGuard guard(kvTaskLockHolder());
  // Connections built on env that another environment holds, each once.
  uint32_t heldElsewhere = 0;
  for (uint16_t i = 0; i < holders.count(); ++i) {
    BaseConnection* connection = holders.at(i)->connection;
    if (connection->getEnv() != env || holders.at(i)->env == env) continue;
    bool seen = false;
    for (uint16_t j = 0; j < i && !seen; ++j)
      seen = holders.at(j)->connection == connection && holders.at(j)->env != env;
    if (!seen) ++heldElsewhere;
  }
  if (env->getConnectionCount() > heldElsewhere) return kvFailure;
  for (uint16_t i = 0; i < holders.count(); ++i) {
    BaseConnection* connection = holders.at(i)->connection;
    if (connection->getEnv() != env) continue;
    if (BaseEnv* other = holders.otherHolder(connection, env)) connection->moveToEnv(other);
  }
  holders.forget(nullptr, env);
  return kvSuccess;
}
