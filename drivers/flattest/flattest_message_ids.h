// Named ids of the test file driver's own messages (1200-1499); the texts
// are in flattest_connection.cpp, beside the strings every driver carries
// (base/handles/base_message_ids.h).
#pragma once

#include <cstdint>

enum FlatTestMessageId : uint16_t {
  msgFlatTestBadFile = 1200,  // "The file %s1 is not a table of the test driver: %s2."
  msgFlatTestNoIndex = 1201,  // "The table has no index on column %s1."
};
