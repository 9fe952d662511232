// The test file driver's builders for the entry layer and its data-source
// setup: libkvflattest.so is built for the tests only and never installed.
#include "drivers/flattest/flattest_connection.h"
#include "entry/entry.h"
#include "util/profile.h"

#include <odbcinst.h>

#include <cstring>
#include <strings.h>

namespace {

class FlatTestEnv : public BaseEnv {
 public:
  explicit FlatTestEnv(OdbcDriverNumber number) : BaseEnv(number) {}
};

}  // namespace

BaseEnv* entryMakeEnv() { return entryBuild<FlatTestEnv>(OdbcDriverNumber(98)); }
BaseConnection* entryMakeConnection(BaseEnv* env) { return entryBuild<FlatTestConnection>(env); }
BaseStatement* entryMakeStatement(BaseConnection* connection) {
  return entryBuild<FlatTestStatement>(static_cast<FlatConnection*>(connection));
}

// Without a window the attributes ("key=value" items, each ended by a zero
// byte, the list by one more) go to the data source's section;
// ODBC_REMOVE_DSN removes the section. There is no setup dialog.
extern "C" __attribute__((visibility("default"))) BOOL INSTAPI ConfigDSN(HWND, WORD fRequest, LPCSTR lpszDriver,
                                                                        LPCSTR lpszAttributes) {
  const unsigned char* ini = entryProfileName;
  const char* dsn = nullptr;
  for (const char* item = lpszAttributes; item && *item; item += std::strlen(item) + 1)
    if (strncasecmp(item, "DSN=", 4) == 0) dsn = item + 4;
  if (!dsn || !*dsn) return 0;
  if (fRequest == ODBC_REMOVE_DSN) return ntWriteProfileString(kvU(dsn), nullptr, nullptr, ini) == kvSuccess;
  if (fRequest != ODBC_ADD_DSN && fRequest != ODBC_CONFIG_DSN) return 0;
  if (lpszDriver && ntWriteProfileString(kvU(dsn), kvU("Driver"), kvU(lpszDriver), ini) != kvSuccess) return 0;
  for (const char* item = lpszAttributes; *item; item += std::strlen(item) + 1) {
    const char* equals = std::strchr(item, '=');
    if (!equals || strncasecmp(item, "DSN=", 4) == 0) continue;
    std::string key(item, size_t(equals - item));
    if (key.empty()) continue;
    if (ntWriteProfileString(kvU(dsn), kvU(key.c_str()), kvU(equals + 1), ini) != kvSuccess) return 0;
  }
  return 1;
}
