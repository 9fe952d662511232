// The entry layer of a driver, called directly (dlopen) the way the Driver
// Manager calls it: allocation and release, the task count, connection
// sharing and SQLError's choice of handle.
#include "base/connection/base_connection.h"
#include "base/handles/base_env.h"
#include "platform/headless/headless_dialog.h"
#include "util/error_list.h"
#include "util/os/zizdata.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sql.h>
#include <odbcinst.h>
#include <sqlext.h>

#include <cstdlib>
#include <string>

namespace {

// The exported functions of one driver library.
struct Driver {
  explicit Driver(const char* path) {
    library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!library) return;
    allocEnv = reinterpret_cast<decltype(allocEnv)>(dlsym(library, "SQLAllocEnv"));
    freeEnv = reinterpret_cast<decltype(freeEnv)>(dlsym(library, "SQLFreeEnv"));
    allocConnect = reinterpret_cast<decltype(allocConnect)>(dlsym(library, "SQLAllocConnect"));
    freeConnect = reinterpret_cast<decltype(freeConnect)>(dlsym(library, "SQLFreeConnect"));
    driverConnect = reinterpret_cast<decltype(driverConnect)>(dlsym(library, "SQLDriverConnect"));
    disconnect = reinterpret_cast<decltype(disconnect)>(dlsym(library, "SQLDisconnect"));
    error = reinterpret_cast<decltype(error)>(dlsym(library, "SQLError"));
    getInfo = reinterpret_cast<decltype(getInfo)>(dlsym(library, "SQLGetInfo"));
    allocStmt = reinterpret_cast<decltype(allocStmt)>(dlsym(library, "SQLAllocStmt"));
    freeStmt = reinterpret_cast<decltype(freeStmt)>(dlsym(library, "SQLFreeStmt"));
  }
  SQLRETURN connect(SQLHDBC dbc, const char* text, std::string* out = nullptr) {
    SQLCHAR buffer[512] = {0};
    SQLSMALLINT length = -1;
    SQLRETURN rc = driverConnect(dbc, nullptr, (SQLCHAR*)text, SQL_NTS, buffer, sizeof(buffer), &length,
                                 SQL_DRIVER_NOPROMPT);
    if (out) *out = std::string(reinterpret_cast<char*>(buffer)) + "|" + std::to_string(length);
    return rc;
  }
  std::string firstState(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt) {
    SQLCHAR state[6] = {0}, text[512];
    SQLINTEGER native;
    SQLSMALLINT length;
    error(env, dbc, stmt, state, &native, text, sizeof(text), &length);
    return reinterpret_cast<char*>(state);
  }

  void* library = nullptr;
  SQLRETURN (*allocEnv)(SQLHENV*) = nullptr;
  SQLRETURN (*freeEnv)(SQLHENV) = nullptr;
  SQLRETURN (*allocConnect)(SQLHENV, SQLHDBC*) = nullptr;
  SQLRETURN (*freeConnect)(SQLHDBC) = nullptr;
  SQLRETURN (*driverConnect)(SQLHDBC, SQLHWND, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLSMALLINT*,
                             SQLUSMALLINT) = nullptr;
  SQLRETURN (*disconnect)(SQLHDBC) = nullptr;
  SQLRETURN (*error)(SQLHENV, SQLHDBC, SQLHSTMT, SQLCHAR*, SQLINTEGER*, SQLCHAR*, SQLSMALLINT,
                     SQLSMALLINT*) = nullptr;
  SQLRETURN (*getInfo)(SQLHDBC, SQLUSMALLINT, SQLPOINTER, SQLSMALLINT, SQLSMALLINT*) = nullptr;
  SQLRETURN (*allocStmt)(SQLHDBC, SQLHSTMT*) = nullptr;
  SQLRETURN (*freeStmt)(SQLHSTMT, SQLUSMALLINT) = nullptr;
};

const char sharedSource[] = "DRIVER=KvTest;WA=4;OC=1";

TEST(EntryLayer, EnvironmentsCountTheTask) {
  Driver d(KV_TEST_DRIVER);
  ASSERT_NE(d.library, nullptr) << dlerror();
  SQLHENV a = nullptr, b = nullptr;
  ASSERT_EQ(d.allocEnv(&a), SQL_SUCCESS);
  ASSERT_EQ(d.allocEnv(&b), SQL_SUCCESS);
  EXPECT_EQ(mdsGetTaskInitCount(), 2);
  EXPECT_EQ(d.freeEnv(nullptr), SQL_SUCCESS);
  EXPECT_EQ(mdsGetTaskInitCount(), 2) << "freeing a null environment counts nothing down";
  EXPECT_EQ(d.freeEnv(a), SQL_SUCCESS);
  EXPECT_EQ(d.freeEnv(b), SQL_SUCCESS);
  EXPECT_EQ(mdsGetTaskInitCount(), 0);
  for (int slot = 1; slot < zizTaskSlotCount; ++slot)
    EXPECT_EQ(mdsGetZizTaskData(ZizTaskData(slot)), nullptr) << slot;
}

TEST(EntryLayer, FailedEnvironmentLeavesNothingBehind) {
  Driver d(KV_TEST_DRIVER);
  setenv("KV_TEST_ENV_FAILS", "1", 1);
  SQLHENV env = reinterpret_cast<SQLHENV>(0x1234);
  EXPECT_EQ(d.allocEnv(&env), SQL_ERROR);
  unsetenv("KV_TEST_ENV_FAILS");
  EXPECT_EQ(env, reinterpret_cast<SQLHENV>(0x1234)) << "the handle is left unchanged";
  EXPECT_EQ(mdsGetTaskInitCount(), 0);
  EXPECT_EQ(mdsGetZizTaskData(zizTaskEnvCount), nullptr) << "no environment object is left";
}

TEST(EntryLayer, SharedConnectionIsHandedOutUntilTheLastShareGoes) {
  Driver d(KV_TEST_DRIVER);
  SQLHENV env;
  ASSERT_EQ(d.allocEnv(&env), SQL_SUCCESS);
  SQLHDBC first = nullptr, second = nullptr, third = nullptr;
  ASSERT_EQ(d.allocConnect(env, &first), SQL_SUCCESS);
  ASSERT_EQ(d.connect(first, sharedSource), SQL_SUCCESS);
  ASSERT_EQ(d.allocConnect(env, &second), SQL_SUCCESS);
  ASSERT_EQ(d.allocConnect(env, &third), SQL_SUCCESS);
  EXPECT_EQ(second, first);
  EXPECT_EQ(third, first);
  std::string out;
  EXPECT_EQ(d.connect(second, sharedSource, &out), SQL_SUCCESS);
  EXPECT_EQ(out, "|0") << "a shared connection still answers with an (empty) connection string";
  EXPECT_EQ(d.disconnect(second), SQL_SUCCESS);
  EXPECT_EQ(d.freeConnect(third), SQL_SUCCESS);
  EXPECT_EQ(d.freeConnect(second), SQL_SUCCESS);
  EXPECT_EQ(mdsGetZizTaskData(zizTaskSharedConnection), first) << "one share is left";
  EXPECT_EQ(d.disconnect(first), SQL_SUCCESS);
  EXPECT_EQ(d.freeConnect(first), SQL_SUCCESS);
  EXPECT_EQ(mdsGetZizTaskData(zizTaskSharedConnection), nullptr);
  SQLHDBC fresh = nullptr;
  ASSERT_EQ(d.allocConnect(env, &fresh), SQL_SUCCESS);
  d.freeConnect(fresh);
  d.freeEnv(env);
}

// The environment a connection counts on outlives it: an environment with a
// connection of its own stays (S1010); one whose shared connection another
// environment holds goes, and the connection counts on the holder from then.
TEST(EntryLayer, EnvironmentGoesOnlyWithoutConnectionsOfItsOwn) {
  Driver d(KV_TEST_DRIVER);
  SQLHENV first, second;
  ASSERT_EQ(d.allocEnv(&first), SQL_SUCCESS);
  ASSERT_EQ(d.allocEnv(&second), SQL_SUCCESS);
  SQLHDBC own;
  ASSERT_EQ(d.allocConnect(first, &own), SQL_SUCCESS);
  EXPECT_EQ(d.freeEnv(first), SQL_ERROR);
  EXPECT_EQ(d.firstState(first, nullptr, nullptr), "S1010");
  EXPECT_EQ(mdsGetTaskInitCount(), 2) << "the environment stays, and its task count";
  ASSERT_EQ(d.freeConnect(own), SQL_SUCCESS);

  SQLHDBC a, b;
  ASSERT_EQ(d.allocConnect(first, &a), SQL_SUCCESS);
  ASSERT_EQ(d.connect(a, sharedSource), SQL_SUCCESS);
  ASSERT_EQ(d.allocConnect(second, &b), SQL_SUCCESS);
  ASSERT_EQ(b, a);
  auto* shared = static_cast<BaseConnection*>(a);
  EXPECT_EQ(d.freeConnect(a), SQL_SUCCESS) << "the first application's handle goes";
  EXPECT_EQ(d.freeEnv(first), SQL_SUCCESS) << "the other environment holds the connection";
  EXPECT_EQ(shared->getEnv(), second);
  EXPECT_EQ(static_cast<BaseEnv*>(second)->getConnectionCount(), 1u);
  EXPECT_EQ(d.freeEnv(second), SQL_ERROR) << "it is the second environment's own now";
  EXPECT_EQ(d.disconnect(b), SQL_SUCCESS);
  EXPECT_EQ(d.freeConnect(b), SQL_SUCCESS);
  EXPECT_EQ(d.freeEnv(second), SQL_SUCCESS);
  EXPECT_EQ(mdsGetTaskInitCount(), 0);
}

// The share freed first: the environment that took it goes as any other,
// and the connection stays with the environment it was built on.
TEST(EntryLayer, EnvironmentThatTookAShareGoesFirst) {
  Driver d(KV_TEST_DRIVER);
  SQLHENV first, second;
  ASSERT_EQ(d.allocEnv(&first), SQL_SUCCESS);
  ASSERT_EQ(d.allocEnv(&second), SQL_SUCCESS);
  SQLHDBC a, b;
  ASSERT_EQ(d.allocConnect(first, &a), SQL_SUCCESS);
  ASSERT_EQ(d.connect(a, sharedSource), SQL_SUCCESS);
  ASSERT_EQ(d.allocConnect(second, &b), SQL_SUCCESS);
  EXPECT_EQ(d.freeConnect(b), SQL_SUCCESS);
  EXPECT_EQ(d.freeEnv(second), SQL_SUCCESS);
  EXPECT_EQ(static_cast<BaseConnection*>(a)->getEnv(), first);
  EXPECT_EQ(d.freeEnv(first), SQL_ERROR) << "the first still has its connection";
  EXPECT_EQ(d.disconnect(a), SQL_SUCCESS);
  EXPECT_EQ(d.freeConnect(a), SQL_SUCCESS);
  EXPECT_EQ(d.freeEnv(first), SQL_SUCCESS);
  EXPECT_EQ(mdsGetTaskInitCount(), 0);
}

TEST(EntryLayer, BusyEnvironmentAllocatesNothing) {
  Driver d(KV_TEST_DRIVER);
  SQLHENV env;
  ASSERT_EQ(d.allocEnv(&env), SQL_SUCCESS);
  auto* base = static_cast<BaseEnv*>(env);
  ASSERT_EQ(base->threadCheck(), 0);  // a call of this thread is inside (a re-entry)
  SQLHDBC dbc = reinterpret_cast<SQLHDBC>(0x5678);
  EXPECT_EQ(d.allocConnect(env, &dbc), SQL_HANDLE_BUSY);
  EXPECT_EQ(dbc, reinterpret_cast<SQLHDBC>(0x5678)) << "the handle is left unchanged";
  EXPECT_EQ(base->getConnectionCount(), 0u);
  base->threadDone();
  ASSERT_EQ(d.allocConnect(env, &dbc), SQL_SUCCESS);
  d.freeConnect(dbc);
  d.freeEnv(env);
}

TEST(EntryLayer, SharingNeedsAllThreeConditions) {
  Driver d(KV_TEST_DRIVER);
  SQLHENV env;
  ASSERT_EQ(d.allocEnv(&env), SQL_SUCCESS);
  for (const char* source : {"DRIVER=KvTest;WA=4", "DRIVER=KvTest;OC=1", "DRIVER=KvTest;WA=4;OC=1;WL=1"}) {
    SQLHDBC dbc;
    ASSERT_EQ(d.allocConnect(env, &dbc), SQL_SUCCESS);
    EXPECT_TRUE(SQL_SUCCEEDED(d.connect(dbc, source)));
    EXPECT_EQ(mdsGetZizTaskData(zizTaskSharedConnection), nullptr) << source;
    d.disconnect(dbc);
    d.freeConnect(dbc);
  }
  d.freeEnv(env);
}

TEST(EntryLayer, AnotherDriverNeverReceivesTheSharedConnection) {
  Driver one(KV_TEST_DRIVER), two(KV_TEST_DRIVER2);
  SQLHENV env1, env2;
  ASSERT_EQ(one.allocEnv(&env1), SQL_SUCCESS);
  ASSERT_EQ(two.allocEnv(&env2), SQL_SUCCESS);
  SQLHDBC shared, other;
  ASSERT_EQ(one.allocConnect(env1, &shared), SQL_SUCCESS);
  ASSERT_EQ(one.connect(shared, sharedSource), SQL_SUCCESS);
  ASSERT_EQ(two.allocConnect(env2, &other), SQL_SUCCESS);
  EXPECT_NE(other, shared);
  two.freeConnect(other);
  one.disconnect(shared);
  one.freeConnect(shared);
  one.freeEnv(env1);
  two.freeEnv(env2);
}

TEST(EntryLayer, SqlErrorTakesTheFirstHandleGiven) {
  Driver d(KV_TEST_DRIVER);
  SQLHENV env;
  SQLHDBC dbc;
  SQLHSTMT stmt;
  ASSERT_EQ(d.allocEnv(&env), SQL_SUCCESS);
  ASSERT_EQ(d.allocConnect(env, &dbc), SQL_SUCCESS);
  ASSERT_EQ(d.connect(dbc, "DRIVER=KvTest;FOO=1;BAR=2"), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(d.firstState(env, dbc, nullptr), "01S00");
  EXPECT_EQ(d.firstState(env, nullptr, nullptr), "00000") << "the environment's list is empty";
  ASSERT_EQ(d.allocStmt(dbc, &stmt), SQL_SUCCESS);
  EXPECT_EQ(d.firstState(env, dbc, stmt), "00000") << "the statement's list is empty, the connection's ignored";
  EXPECT_EQ(d.freeStmt(stmt, SQL_DROP), SQL_SUCCESS);
  d.disconnect(dbc);
  d.freeConnect(dbc);
  d.freeEnv(env);
}

// A cancel with nothing running closes the statement with 01S05. The
// exported call answers plain success (unixODBC would look for the warning
// through SQLGetDiagField, which no ODBC 2 driver has); the warning is still
// there for SQLError.
TEST(EntryLayer, CancelAnswersSuccessAndKeepsItsWarning) {
  Driver d(KV_TEST_DRIVER);
  ASSERT_NE(d.library, nullptr) << dlerror();
  auto cancel = reinterpret_cast<SQLRETURN (*)(SQLHSTMT)>(dlsym(d.library, "SQLCancel"));
  ASSERT_NE(cancel, nullptr);
  SQLHENV env = nullptr;
  SQLHDBC dbc = nullptr;
  SQLHSTMT stmt = nullptr;
  ASSERT_EQ(d.allocEnv(&env), SQL_SUCCESS);
  ASSERT_EQ(d.allocConnect(env, &dbc), SQL_SUCCESS);
  ASSERT_EQ(d.connect(dbc, "DRIVER=KvTest"), SQL_SUCCESS);
  ASSERT_EQ(d.allocStmt(dbc, &stmt), SQL_SUCCESS);
  EXPECT_EQ(cancel(stmt), SQL_SUCCESS);
  EXPECT_EQ(d.firstState(env, dbc, stmt), "01S05");
  EXPECT_EQ(d.freeStmt(stmt, SQL_DROP), SQL_SUCCESS);
  d.disconnect(dbc);
  d.freeConnect(dbc);
  d.freeEnv(env);
}

// The dialog the runner was last asked to show.
struct ShownDialog {
  const void* module = nullptr;
  uint16_t templateId = 0;
  KvWindow* owner = nullptr;
  int calls = 0;
} shown;

intptr_t recordingRunner(const void* module, uint16_t templateId, KvWindow* owner, KvDialogProc proc,
                         intptr_t param) {
  shown.module = module;
  shown.templateId = templateId;
  shown.owner = owner;
  ++shown.calls;
  return proc(nullptr, 0, 0, param);
}

TEST(EntryLayer, SetupDialogRunsModallyOverItsParent) {
  Driver d(KV_TEST_DRIVER);
  using ConfigDsn = int (*)(void*, unsigned short, const char*, const char*);
  auto configDsn = reinterpret_cast<ConfigDsn>(dlsym(d.library, "ConfigDSN"));
  ASSERT_NE(configDsn, nullptr);
  KvWindow* frame = kvCreateWindow(kvWindowFrame, nullptr, 0, kvU("application"), nullptr);
  KvWindow* other = kvCreateWindow(kvWindowFrame, nullptr, 0, kvU("other"), nullptr);
  const char attributes[] = "DSN=Shown\0";

  // No runner: the dialog cannot be shown and setup fails.
  EXPECT_EQ(configDsn(frame, ODBC_ADD_DSN, "KvTest", attributes), 0);

  kvSetDialogRunner(recordingRunner);
  kvSetActiveWindow(other);
  EXPECT_EQ(configDsn(frame, ODBC_ADD_DSN, "KvTest", attributes), 1);
  EXPECT_EQ(shown.owner, frame) << "the parent owns the dialog";
  EXPECT_EQ(shown.templateId, 100);
  EXPECT_NE(shown.module, nullptr);
  EXPECT_EQ(kvGetActiveWindow(), other) << "the active window keeps the activation";
  EXPECT_EQ(shown.calls, 1);
  kvSetDialogRunner(nullptr);
  kvDestroyWindow(frame);
  kvDestroyWindow(other);
}

TEST(EntryLayer, FirewallStopsExceptionsAtTheExportedFunction) {
  Driver d(KV_TEST_DRIVER);
  SQLHENV env;
  SQLHDBC dbc;
  ASSERT_EQ(d.allocEnv(&env), SQL_SUCCESS);
  ASSERT_EQ(d.allocConnect(env, &dbc), SQL_SUCCESS);
  struct Case {
    const char* text;
    const char* state;
  } cases[] = {
      {"DRIVER=KvTest;TL=1", "S1001"},
      {"DRIVER=KvTest;TL=2", "S1000"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(d.connect(dbc, c.text), SQL_ERROR) << c.text;
    EXPECT_EQ(KvErrorKeeper::getErrorList(), nullptr) << "no list stays current after the call";
    EXPECT_EQ(d.firstState(env, dbc, nullptr), c.state) << c.text;
    EXPECT_EQ(d.firstState(env, dbc, nullptr), "00000") << "one error was posted";
  }
  EXPECT_EQ(d.connect(dbc, "DRIVER=KvTest"), SQL_SUCCESS) << "the connection is not left busy";
  d.disconnect(dbc);
  d.freeConnect(dbc);
  d.freeEnv(env);
}

TEST(EntryLayer, NullHandlesAreRefused) {
  Driver d(KV_TEST_DRIVER);
  EXPECT_EQ(d.allocConnect(nullptr, nullptr), SQL_INVALID_HANDLE);
  EXPECT_EQ(d.freeConnect(nullptr), SQL_SUCCESS);
  EXPECT_EQ(d.disconnect(nullptr), SQL_INVALID_HANDLE);
  EXPECT_EQ(d.error(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr), SQL_INVALID_HANDLE);
}

}  // namespace
