// Types shared by the driver framework and the drivers: ODBC's own types
// from the installed headers, the framework's export mark and small enums.
#pragma once

#include "util/kv_types.h"

#include <sql.h>
#include <sqlext.h>

#define KV_BASE_API KV_API

// The framework's return code for a handle that is already inside a call.
enum : SQLRETURN { SQL_HANDLE_BUSY = 9999 };

// Kept by the environment for its driver; the values are the drivers' own.
typedef uint32_t OdbcDriverNumber;

class BaseEnv;
class BaseConnection;
class BaseStatement;
class BaseErrorList;
