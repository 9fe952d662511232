// butxpand: a byte buffer that a writer fills through a cursor and that
// grows in 512-byte steps as the writer asks for room.
//
// The size is 16-bit, so the block never passes 65535 bytes: a growth that
// would pass it fails with 2716 instead of letting the size wrap around.
#pragma once

#include "util/kv_types.h"

// Makes room for need bytes at *cursor. With *start null: allocates
// (need rounded down to a multiple of 512) + 512 bytes and points start and
// cursor at them. Otherwise, when fewer than need bytes remain between the
// cursor and the end, grows the block by that many bytes; the block may move
// and the cursor keeps its distance from the start. The block is the
// caller's, to be freed with ramFree. On failure (no memory; 2716 past 65535
// bytes; 1517 for a cursor outside the block) nothing changes.
KV_UTIL_API KvStatus butxpand(unsigned char** start, unsigned char** cursor, uint16_t* size,
                              uint16_t need);
