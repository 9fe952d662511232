// The dBASE driver's builders for the entry layer and its data-source
// setup: SQLAllocEnv builds a plain BaseEnv with the driver's number,
// SQLAllocConnect a DbfConnection, SQLAllocStmt a DbfStatement. ConfigDSN
// without a window writes the data source's keys; the setup dialog comes
// with the driver's dialogs.
#include "drivers/dbase/connection/dbf_connection.h"
#include "drivers/dbase/statement/dbf_statement.h"
#include "entry/entry.h"
#include "entry/entry_setup.h"

#include <odbcinst.h>

namespace {

// The driver's number that its environments keep.
const OdbcDriverNumber dbaseDriverNumber = 1;

// The keys of a dBASE data source: the engine's and the driver's.
const SetupInfo setupRows[] = {
    {"Description", setupControlDescription, setupEdit, nullptr, nullptr, 80},
    {"Database", 0, setupNoControl, nullptr, nullptr, 0},
    {"CreateType", 0, setupNoControl, nullptr, "DBASE5", 0},
    {"LockCompatibility", 0, setupNoControl, nullptr, "dBASE", 0},
    {"Locking", 0, setupNoControl, nullptr, "RECORD", 0},
    {"Charset", 0, setupNoControl, nullptr, nullptr, 0},
    {"Compatibility", 0, setupNoControl, nullptr, nullptr, 0},
    {"FileOpenCache", 0, setupNoControl, nullptr, "0", 0},
};

intptr_t noDialog(KvWindow*, uint32_t, uintptr_t, intptr_t) { return 0; }

}  // namespace

BaseEnv* entryMakeEnv() { return entryBuild<BaseEnv>(dbaseDriverNumber); }
BaseConnection* entryMakeConnection(BaseEnv* env) { return entryBuild<DbfConnection>(env); }
BaseStatement* entryMakeStatement(BaseConnection* connection) {
  return entryBuild<DbfStatement>(static_cast<FlatConnection*>(connection));
}

const KvDialogTemplate* entryDialogTemplates(uint16_t* count) {
  *count = 0;
  return nullptr;
}

extern "C" __attribute__((visibility("default"))) BOOL INSTAPI ConfigDSN(HWND hwnd, WORD fRequest, LPCSTR lpszDriver,
                                                                        LPCSTR lpszAttributes) {
  return entryConfigDsn(hwnd, fRequest, lpszDriver, lpszAttributes, setupRows,
                        sizeof(setupRows) / sizeof(setupRows[0]), 0, noDialog);
}
