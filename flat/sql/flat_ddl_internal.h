// Readers shared by the CREATE and DROP parsers of the engine and of the
// drivers whose own CREATE grammar reads names and numbers the same way
// (flat_ddl_names.cpp).
#pragma once

#include "flat/sql/flat_ddl.h"
#include "flat/sql/flat_sql_token.h"
#include "util/os/bos.h"

// Words of these statements: upper-cased, any length.
enum : uint16_t { flatScanDdlWord = kvButModeWords | kvButAllocLong };

// A table name (name mode: case kept), back-quotes removed, into a buffer
// of size bytes (a longer name is 4099); *found is 0 when no name stands at *position.
KV_FLAT_API KvStatus flatDdlReadTableName(FlatStatement* statement, const unsigned char** position, unsigned char* name,
                              uint32_t size, bool* found);
// A column or index identifier: one word, back-quotes removed, into a
// buffer of flatDdlNameBytes; *found is 0
// when the next token is no name (end of text or punctuation), and then
// *position is left before it.
KV_FLAT_API KvStatus flatDdlReadIdentifier(FlatStatement* statement, const unsigned char** position, unsigned char* name,
                               bool* found);
// Whether the next word is word (upper case); consumed only when it is.
KV_FLAT_API KvStatus flatDdlTakeWord(const unsigned char** position, const char* word, bool* taken);
// A whole number: read wide, so that nothing past 16 bits wraps; *found is 0
// (position unchanged) when no number stands there.
KV_FLAT_API KvStatus flatDdlReadNumber(const unsigned char** position, uint64_t* value, bool* found);
// The checks of a table file against the connection: its full path into
// path (bosPathBytes); whether a statement of the connection holds it open
// and whether it exists.
KV_FLAT_API KvStatus flatDdlTableState(FlatStatement* statement, const unsigned char* name, unsigned char* path,
                           uint16_t* open, bool* exists);
// A limit the connection reports through SQLGetInfo (SQL_MAX_COLUMNS_IN_...);
// 0, no limit, when the driver does not say.
KV_FLAT_API uint32_t flatDdlLimit(FlatStatement* statement, uint16_t infoType);
