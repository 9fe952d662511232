// The framework's use of the ODBC installer library; see base_installer.h.
#include "base/setup/base_installer.h"

#include <odbcinst.h>

#include <cstdio>
#include <cstring>

namespace {

// The ODBC.INI name as the installer knows it: its current configuration
// mode says which odbc.ini it means.
const char odbcIni[] = "ODBC.INI";

struct SetupFailureText {
  BaseSetupFailure failure;
  DWORD code;
  const char* text;
};

// In the order of BaseSetupFailure.
constexpr SetupFailureText failureTexts[] = {
    {setupBadRequest, ODBC_ERROR_INVALID_REQUEST_TYPE,
     "Invalid setup request %s: a driver adds (1), configures (2) or removes (3) a data source."},
    {setupBadDriver, ODBC_ERROR_INVALID_NAME, "Invalid driver description '%s'."},
    {setupNoName, ODBC_ERROR_INVALID_DSN, "No data source name: the attributes need DSN=name."},
    {setupBadName, ODBC_ERROR_INVALID_DSN, "Invalid data source name '%s'."},
    {setupBadAttributes, ODBC_ERROR_INVALID_KEYWORD_VALUE,
     "Invalid attribute '%s': each attribute is key=value, and a key is given once."},
    {setupAttributesTooLong, ODBC_ERROR_INVALID_KEYWORD_VALUE, "The attribute list does not end within 2048 bytes."},
    {setupBadValue, ODBC_ERROR_INVALID_KEYWORD_VALUE, "The value of %s holds a line break."},
    {setupWriteFailed, ODBC_ERROR_CREATE_DSN_FAILED, "The data source '%s' could not be written."},
    {setupRemoveFailed, ODBC_ERROR_REMOVE_DSN_FAILED, "The data source '%s' could not be removed."},
    {setupNoMemory, ODBC_ERROR_OUT_OF_MEM, "Out of memory."},
    {setupDialogFailed, ODBC_ERROR_REQUEST_FAILED, "The setup dialog of the data source '%s' could not be shown."},
};

constexpr bool failureTextsInOrder() {
  for (size_t i = 0; i < sizeof(failureTexts) / sizeof(failureTexts[0]); ++i)
    if (failureTexts[i].failure != i) return false;
  return true;
}
static_assert(failureTextsInOrder(), "failureTexts follows BaseSetupFailure");

KvStatus fromBool(BOOL result) { return result ? kvSuccess : kvFailure; }

}  // namespace

void basePostSetupError(BaseSetupFailure failure, const unsigned char* subject) {
  if (failure >= sizeof(failureTexts) / sizeof(failureTexts[0])) failure = setupBadRequest;
  char text[512];
  std::snprintf(text, sizeof(text), failureTexts[failure].text, subject ? kvC(subject) : "");
  SQLPostInstallerError(failureTexts[failure].code, text);
}

int baseHasLineBreak(const unsigned char* text) {
  return text && (std::strchr(kvC(text), '\r') || std::strchr(kvC(text), '\n'));
}

int baseIsValidDsnName(const unsigned char* name) {
  if (!name || !*name || std::strpbrk(kvC(name), "[]=\r\n")) return 0;
  return SQLValidDSN(kvC(name)) ? 1 : 0;
}

KvStatus baseWriteDsn(const unsigned char* name, const unsigned char* driver) {
  return fromBool(SQLWriteDSNToIni(kvC(name), kvC(driver)));
}

KvStatus baseRemoveDsn(const unsigned char* name) { return fromBool(SQLRemoveDSNFromIni(kvC(name))); }

KvStatus baseWriteDsnValue(const unsigned char* name, const unsigned char* key, const unsigned char* value) {
  return fromBool(SQLWritePrivateProfileString(kvC(name), kvC(key), kvC(value), odbcIni));
}

uint32_t baseReadDsnValue(const unsigned char* name, const unsigned char* key, const unsigned char* defaultValue,
                          unsigned char* buffer, uint32_t size) {
  if (size == 0) return 0;
  buffer[0] = 0;
  const int length = SQLGetPrivateProfileString(kvC(name), kvC(key), kvC(defaultValue), kvC(buffer), int(size),
                                                odbcIni);
  buffer[size - 1] = 0;
  return length > 0 ? uint32_t(std::strlen(kvC(buffer))) : 0;
}
