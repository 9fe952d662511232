// The framework's profile; see base_profile.h.
#include "base/setup/base_profile.h"

#include "util/profiles/profile.h"

const unsigned char* baseProfileName = reinterpret_cast<const unsigned char*>("ODBC.INI");

uint32_t baseGetProfileString(const unsigned char* section, const unsigned char* key,
                              const unsigned char* defaultValue, unsigned char* buffer, uint32_t size) {
  return ntGetProfileString(section, key, defaultValue, buffer, size, baseProfileName);
}
