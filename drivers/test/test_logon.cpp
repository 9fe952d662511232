// The logon prompt of the test driver's connections: SQLDriverConnect with
// SQL_DRIVER_PROMPT and a window asks for the user id and password in the
// logon dialog (101), run modally through the entry layer like every
// driver's logon dialog, so that tests drive a prompting connect through
// the Driver Manager with a dialog script.
#include "drivers/test/test_dialogs.h"

#include "util/os/win_util.h"

namespace {

// What the dialog was given and what the user confirmed.
struct LogonRequest {
  const unsigned char* userId;
  unsigned char* newUserId;
  unsigned char* newPassword;
  int confirmed;
};

// The user id and password as the user left them; fails for want of memory.
KvStatus readLogon(KvWindow* dialog, LogonRequest* request) {
  unsigned char text[256];
  kvGetDlgItemText(dialog, testLogonUserId, text, sizeof(text));
  request->newUserId = ramAllocStr(text);
  kvGetDlgItemText(dialog, testLogonPassword, text, sizeof(text));
  request->newPassword = ramAllocStr(text);
  return request->newUserId && request->newPassword ? kvSuccess : kvFailure;
}

intptr_t logonProc(KvWindow* dialog, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (message == kvWmInitDialog) {
    auto* request = reinterpret_cast<LogonRequest*>(lParam);
    // A dialog that cannot be filled is not shown.
    if (kvSetWinPointer(dialog, request) != kvSuccess ||
        kvSetDlgItemText(dialog, testLogonUserId, request->userId) != kvSuccess)
      return kvEndDialog(dialog, -1) == kvSuccess;
    return 1;
  }
  if (message != kvWmCommand) return 0;
  auto* request = static_cast<LogonRequest*>(kvGetWinPointer(dialog));
  const uint16_t control = uint16_t(wParam & 0xFFFF);
  if (!request || (control != kvIdOkButton && control != kvIdCancelButton)) return 0;
  if (control == kvIdOkButton) request->confirmed = readLogon(dialog, request) == kvSuccess ? 1 : -1;
  return kvEndDialog(dialog, control) == kvSuccess;
}

}  // namespace

KvStatus testLogonPrompt(KvWindow* parent, const unsigned char* userId, unsigned char** newUserId,
                         unsigned char** newPassword, int* shown) {
  LogonRequest request{userId ? userId : kvU(""), nullptr, nullptr, 0};
  *newUserId = nullptr;
  *newPassword = nullptr;
  *shown = 0;
  if (entryModalDialog(parent, testLogonDialogId, logonProc, reinterpret_cast<intptr_t>(&request)) != 0) {
    // Without a dialog the connection goes on as one that prompts nothing;
    // the runner's "could not be shown" is no error of the connect.
    if (KvErrorKeeper::getLastErrorNumber() == 9999) KvErrorKeeper::clearLastError();
    return kvSuccess;
  }
  if (request.confirmed != 1) {
    ramFree(request.newUserId);
    ramFree(request.newPassword);
    if (request.confirmed < 0) return kvFailure;
    *shown = 2;
    return kvSuccess;
  }
  *newUserId = request.newUserId;
  *newPassword = request.newPassword;
  *shown = 1;
  return kvSuccess;
}
