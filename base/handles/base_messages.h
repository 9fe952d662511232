// The framework's string table and SQLSTATE table (see base_messages.cpp),
// read by id; the ids have names in base_message_ids.h.
#pragma once

#include "base/handles/base_message_ids.h"
#include "base/base_types.h"
#include "util/resource.h"

// The SQLSTATE text of a table index (S1000 for an index out of range).
KV_BASE_API const unsigned char* baseSqlStateText(uint16_t stateIndex);
// A string of the framework's table; returns its length (0 when absent).
KV_BASE_API short baseLoadString(unsigned char* buffer, uint16_t id, uint32_t size);
