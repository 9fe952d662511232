// The framework's use of the ODBC installer library (unixODBC's
// libodbcinst, the library SQLConfigDataSource runs in): reading, writing
// and removing data sources in ODBC.INI under the installer's current
// configuration mode (user or system data sources), checking names before
// anything is written, and posting installer errors (SQLInstallerError) for
// a setup request that fails.
#pragma once

#include "base/base_types.h"

// Why a setup request failed. Each has the installer error code and the text
// it posts (base_installer.cpp); the subject fills the text's "%s".
enum BaseSetupFailure : uint16_t {
  setupBadRequest,         // subject: the request number
  setupBadDriver,          // subject: the driver description
  setupNoName,             // no DSN in the attributes
  setupBadName,            // subject: the data source name
  setupBadAttributes,      // subject: the attribute at fault
  setupAttributesTooLong,  // no end within DSNInfoStruct::attributesMaxBytes
  setupBadValue,           // subject: the key whose value is refused
  setupWriteFailed,        // subject: the data source name
  setupRemoveFailed,       // subject: the data source name
  setupNoMemory,
  setupDialogFailed,       // subject: the data source name
};

// Posts the installer error of failure.
KV_BASE_API void basePostSetupError(BaseSetupFailure failure, const unsigned char* subject);

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
