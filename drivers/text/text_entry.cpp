// The text driver's builders for the entry layer and its data-source
// setup: SQLAllocEnv builds a plain BaseEnv with the driver's number,
// SQLAllocConnect a TxtConnection, SQLAllocStmt a TxtStatement. ConfigDSN
// without a window writes the data source's keys.
#include "drivers/text/connection/txt_connection.h"
#include "entry/entry.h"
#include "entry/entry_setup.h"

#include <odbcinst.h>

namespace {

const OdbcDriverNumber textDriverNumber = 2;

const SetupInfo setupRows[] = {
    {"Description", setupControlDescription, setupEdit, nullptr, nullptr, 80},
    {"Database", 0, setupNoControl, nullptr, nullptr, 0},
    {"ScanRows", 0, setupNoControl, nullptr, "25", 0},
    {"TableType", 0, setupNoControl, nullptr, "Comma", 0},
    {"Delimiter", 0, setupNoControl, nullptr, nullptr, 0},
    {"UndefinedTable", 0, setupNoControl, nullptr, "GUESS", 0},
    {"ExtraExtensions", 0, setupNoControl, nullptr, nullptr, 0},
    {"FileOpenCache", 0, setupNoControl, nullptr, "0", 0},
    {"FirstLineNames", 0, setupNoControl, nullptr, "0", 0},
    {"Charset", 0, setupNoControl, nullptr, "ANSI", 0},
};

intptr_t noDialog(KvWindow*, uint32_t, uintptr_t, intptr_t) { return 0; }

}  // namespace

BaseEnv* entryMakeEnv() { return entryBuild<BaseEnv>(textDriverNumber); }
BaseConnection* entryMakeConnection(BaseEnv* env) { return entryBuild<TxtConnection>(env); }
BaseStatement* entryMakeStatement(BaseConnection* connection) {
  return entryBuild<TxtStatement>(static_cast<FlatConnection*>(connection));
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
