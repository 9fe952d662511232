// Named ids of the test file driver's own strings (its messages 1200-1499
// and its name); the texts are in flattest_connection.cpp.
#pragma once

#include <cstdint>

enum FlatTestMessageId : uint16_t {
  msgFlatTestBadFile = 1200,  // "The file %s1 is not a table of the test driver: %s2."
  msgFlatTestNoIndex = 1201,  // "The table has no index on column %s1."
  msgFlatTestName = 20101,    // the driver's name in messages
};
