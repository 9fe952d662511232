// Errors of the file SQL engine: its own messages (3800-4099) posted to the
// calling thread's current error list with a SQLSTATE index of the
// framework's table. The engine loads its texts itself, so an engine error
// reads the same whichever list is current.
#pragma once

#include "flat/flat_types.h"
#include "util/error_list.h"

// The engine's text of a message id into buffer; returns its length, 0 when
// absent (buffer empty).
KV_FLAT_API short flatLoadString(uint16_t id, unsigned char* buffer, uint32_t size);
KV_FLAT_API KvError& addFlatError(uint16_t stateIndex, uint16_t msgId);
KV_FLAT_API KvError& addFlatWarning(uint16_t stateIndex, uint16_t msgId);
// An engine message with SQLSTATE 37000 (syntax error or access violation).
KV_FLAT_API KvError& addFlatSyntaxError(uint16_t msgId);
// 4013 naming the cursor name (length bytes, not terminated); always
// kvFailure, for the caller to return.
KV_FLAT_API KvStatus flatCursorNotFound(const unsigned char* name, uint16_t length);
