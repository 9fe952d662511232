// The process's count of users of the SQL Server client library
// (DB-Library), kept in ziz-task slot 1 so that every driver deliverable in
// the process shares it: the first user initialises the library, the last
// one ends it.
#pragma once

#include "util/kv_types.h"

// Under the ziz-task lock. A nonzero increment adds one user and returns the
// count before (0: the caller is the first user). 0 takes one user off and
// returns the count after (0: the last user has gone); a count already at 0
// stays at 0, so an unmatched end cannot make the next start skip the
// library's initialisation.
KV_UTIL_API uint32_t countDBLibInits(uint16_t increment);
