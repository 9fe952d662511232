// The framework's use of the ODBC installer library (unixODBC's
// libodbcinst, the library SQLConfigDataSource runs in): reading, writing
// and removing data sources in ODBC.INI under the installer's current
// configuration mode (user or system data sources), checking names before
// anything is written, and posting installer errors (SQLInstallerError) for
// a setup request that fails (basePostSetupError, declared in base_setup.h
// for the drivers too).
#pragma once

#include "base/setup/base_setup.h"

// Nonzero when text holds a carriage return or line feed, which would end
// its line in odbc.ini and start another.
int baseHasLineBreak(const unsigned char* text);
// Nonzero when name may name a data source: not empty, none of "[", "]",
// "=" and line breaks (which would change the structure of odbc.ini), and
// accepted by the installer's SQLValidDSN.
int baseIsValidDsnName(const unsigned char* name);

// The installer's data-source calls, in the framework's types.
KvStatus baseWriteDsn(const unsigned char* name, const unsigned char* driver);
KvStatus baseRemoveDsn(const unsigned char* name);
KvStatus baseWriteDsnValue(const unsigned char* name, const unsigned char* key, const unsigned char* value);
// The value of key in the section of name into buffer (size bytes, cut and
// terminated), or defaultValue; returns its length.
uint32_t baseReadDsnValue(const unsigned char* name, const unsigned char* key, const unsigned char* defaultValue,
                          unsigned char* buffer, uint32_t size);
