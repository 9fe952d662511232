// The test file driver's builders for the entry layer and its data-source
// setup: libkvflattest.so is built for the tests only and never installed.
// It has no dialogs: ConfigDSN without a window writes the data source's
// keys; with one it fails, as a driver whose setup dialog cannot be shown.
#include "drivers/flattest/flattest_connection.h"
#include "entry/entry.h"
#include "entry/entry_setup.h"

#include <odbcinst.h>

namespace {

class FlatTestEnv : public BaseEnv {
 public:
  explicit FlatTestEnv(OdbcDriverNumber number) : BaseEnv(number) {}
};

// The engine's connection keys, kept in the data source's section.
const SetupInfo setupRows[] = {
    {"Description", setupControlDescription, setupEdit, nullptr, nullptr, 80},
    {"Database", 0, setupNoControl, nullptr, nullptr, 0},
    {"ValidateDB", 0, setupNoControl, nullptr, "0", 0},
    {"FileOpenCache", 0, setupNoControl, nullptr, "0", 0},
};

intptr_t noDialog(KvWindow*, uint32_t, uintptr_t, intptr_t) { return 0; }

}  // namespace

BaseEnv* entryMakeEnv() { return entryBuild<FlatTestEnv>(OdbcDriverNumber(98)); }
BaseConnection* entryMakeConnection(BaseEnv* env) { return entryBuild<FlatTestConnection>(env); }
BaseStatement* entryMakeStatement(BaseConnection* connection) {
  return entryBuild<FlatTestStatement>(static_cast<FlatConnection*>(connection));
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
