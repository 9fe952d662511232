// Names of the test driver's own string ids; the texts stand in its table
// in test_driver.cpp. Messages lie in the drivers' range 1200-1499; the
// strings the framework asks every driver for are named in
// base/handles/base_message_ids.h.
#pragma once

#include <cstdint>

enum TestMessage : uint16_t {
  testMsgGeneral = 1200,       // "Test driver message."
  testMsgLogonRefused = 1201,  // "The test data source refused the logon of '%s1'."
  testMsgLogonWarning = 1202,  // "The test data source accepted the logon with a warning."
  testMsgCannotRun = 1203,     // "The test data source cannot run '%s1'."
};

// Local type names and create parameters of the type table (test_dialect.cpp).
enum TestString : uint16_t {
  testStrVaryingText = 20110,
  testStrText = 20111,
  testStrLongText = 20112,
  testStrInteger = 20113,
  testStrSmallInteger = 20114,
  testStrDecimal = 20115,
  testStrDouble = 20116,
  testStrBit = 20117,
  testStrDate = 20118,
  testStrTime = 20119,
  testStrTimestamp = 20120,
  testStrBlob = 20121,
  testStrMaxLength = 20130,
  testStrPrecisionScale = 20131,
};
