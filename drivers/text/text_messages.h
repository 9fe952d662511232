// The text driver's strings by id (text_message_ids.h).
#pragma once

#include "util/resource.h"

// Copies the string into buffer (size bytes, cut and terminated); returns
// its length, 0 for an id the driver has no string for.
short txtLoadString(uint16_t id, unsigned char* buffer, uint32_t size);
// The string itself ("" for an unknown id).
const char* txtString(uint16_t id);
