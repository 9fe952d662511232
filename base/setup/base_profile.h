// The framework's profile: data sources are looked up in "ODBC.INI", which
// the utility library maps onto unixODBC's data-source files.
#pragma once

#include "base/base_types.h"

KV_BASE_API extern const unsigned char* baseProfileName;

// Reads key of a data source's section into buffer (size bytes, cut and
// terminated); returns the length. A missing value gives defaultValue.
KV_BASE_API uint32_t baseGetProfileString(const unsigned char* section, const unsigned char* key,
                                          const unsigned char* defaultValue, unsigned char* buffer,
                                          uint32_t size);
