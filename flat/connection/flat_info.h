// The file SQL engine's SQLGetInfo answers, linked second in every file
// driver connection's information-table chain (behind the driver's own
// table, ahead of the framework's defaults).
#pragma once

#include "base/connection/base_info.h"
#include "flat/flat_types.h"

KV_FLAT_API const BaseInfoTable& flatInfoTable();
