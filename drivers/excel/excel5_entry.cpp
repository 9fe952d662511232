// The Excel 5 driver's builders for the entry layer, its setup keys and its
// setup dialog: SQLAllocEnv builds a plain BaseEnv with the driver's number
// (the compound files are read by the platform layer, which needs no
// start-up), SQLAllocConnect an XlsConnection, SQLAllocStmt an
// XlsStatement. ConfigDSN writes the six keys of a data source, through
// the setup dialog when the installer gives a window.
//
// Setup dialog 100: 401 data source name, 402 description, 300 the
// workbook, 301 file open cache, 304 cache size, 302 rows to scan, 303
// international sort (check box), OK, Cancel and Help.
#include "drivers/excel/excel5/xls_connection.h"
#include "entry/entry.h"
#include "entry/entry_setup.h"
#include "drivers/excel/excel5_message_ids.h"
#include "platform/headless/headless_desktop.h"
#include "util/os/bos.h"
#include "util/os/win_util.h"

#include <cstring>

#include <odbcinst.h>

namespace {

const OdbcDriverNumber excel5DriverNumber = 1;

enum : uint16_t {
  setupDialogId = 100,
  controlDatabase = 300,
  controlFileOpenCache = 301,
  controlScanRows = 302,
  controlIntlSort = 303,
  controlCacheSize = 304,
  controlHelp = 9,
  helpContext = 505,
  noId = 0xFFFF,
};

// The data source's keys. The workbook's path has no length limit of its own.
const SetupInfo setupRows[] = {
    {"Description", setupControlDescription, setupEdit, nullptr, nullptr, 80},
    {"Database", controlDatabase, setupEdit, nullptr, nullptr, 0},
    {"ScanRows", controlScanRows, setupEdit, nullptr, "25", 8},
    {"FileOpenCache", controlFileOpenCache, setupEdit, nullptr, "0", 5},
    {"CacheSize", controlCacheSize, setupEdit, nullptr, "256", 5},
    {"IntlSort", controlIntlSort, setupCheckBox, "1", "0", 0},
};

const KvDialogItem setupItems[] = {
    {kvWindowStatic, setupControlNameCompanion, "Data &Source Name:"},
    {kvWindowEdit, setupControlName, nullptr},
    {kvWindowStatic, noId, "D&escription:"},
    {kvWindowEdit, setupControlDescription, nullptr},
    {kvWindowStatic, noId, "&Database Workbook:"},
    {kvWindowEdit, controlDatabase, nullptr},
    {kvWindowStatic, noId, "Optional Settings"},
    {kvWindowStatic, noId, "&File Open Cache:"},
    {kvWindowEdit, controlFileOpenCache, nullptr},
    {kvWindowStatic, noId, "&Cache Size:"},
    {kvWindowEdit, controlCacheSize, nullptr},
    {kvWindowStatic, noId, "&Rows to Scan:"},
    {kvWindowEdit, controlScanRows, nullptr},
    {kvWindowCheckBox, controlIntlSort, "&International Sort"},
    {kvWindowButton, kvIdOkButton, "OK"},
    {kvWindowButton, kvIdCancelButton, "Cancel"},
    {kvWindowButton, controlHelp, "&Help"},
};

const KvDialogTemplate dialogTemplates[] = {
    {setupDialogId, "ODBC Excel 5 Driver Setup", setupItems, sizeof(setupItems) / sizeof(setupItems[0])},
};

// OK is enabled only while the data source has a name.
void nameChanged(KvWindow* dialog) {
  kvEnableWindow(kvGetDlgItem(dialog, kvIdOkButton), kvGetWindowTextLength(kvGetDlgItem(dialog, setupControlName)));
}

intptr_t setupDialogProc(KvWindow* dialog, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (message == kvWmInitDialog) {
    auto* info = reinterpret_cast<DSNInfoStruct*>(lParam);
    if (kvSetWinPointer(dialog, info) != kvSuccess || BaseInitSetupDialog(dialog, info) != kvSuccess)
      return kvEndDialog(dialog, -1) == kvSuccess;
    nameChanged(dialog);
    return 1;
  }
  if (message != kvWmCommand) return 0;
  const uint16_t control = uint16_t(wParam & 0xFFFF);
  const uint16_t notification = uint16_t(wParam >> 16);
  auto* info = static_cast<DSNInfoStruct*>(kvGetWinPointer(dialog));
  if (!info) return 0;
  switch (control) {
    case kvIdOkButton:
      // A failed write keeps the dialog open, with the installer error set.
      if (BaseWriteValuesToIni(dialog, info) != kvSuccess) return 1;
      return kvEndDialog(dialog, kvIdOkButton) == kvSuccess;
    case kvIdCancelButton:
      return kvEndDialog(dialog, kvIdCancelButton) == kvSuccess;
    case controlHelp: {
      // The help file is the module's name with "HLP" for its last three
      // characters; there is no viewer, so nothing shows.
      unsigned char help[bosNameBytes] = {0};
      if (bosGetModuleName(reinterpret_cast<const void*>(&xlsLoadString), help) != kvSuccess)
        KvErrorKeeper::clearLastError();
      size_t length = std::strlen(kvC(help));
      if (length >= 3) std::memcpy(help + length - 3, "HLP", 3);
      kvWinHelp(dialog, help, kvHelpContext, helpContext);
      return 1;
    }
    case setupControlName:
      if (notification == kvEnChange) nameChanged(dialog);
      return 1;
    default:
      return 0;
  }
}

}  // namespace

BaseEnv* entryMakeEnv() { return entryBuild<BaseEnv>(excel5DriverNumber); }
BaseConnection* entryMakeConnection(BaseEnv* env) { return entryBuild<XlsConnection>(env); }
BaseStatement* entryMakeStatement(BaseConnection* connection) {
  return entryBuild<XlsStatement>(static_cast<FlatConnection*>(connection));
}

const KvDialogTemplate* entryDialogTemplates(uint16_t* count) {
  *count = sizeof(dialogTemplates) / sizeof(dialogTemplates[0]);
  return dialogTemplates;
}

extern "C" __attribute__((visibility("default"))) BOOL INSTAPI ConfigDSN(HWND hwnd, WORD fRequest, LPCSTR lpszDriver,
                                                                        LPCSTR lpszAttributes) {
  return entryConfigDsn(hwnd, fRequest, lpszDriver, lpszAttributes, setupRows,
                        sizeof(setupRows) / sizeof(setupRows[0]), setupDialogId, setupDialogProc);
}
