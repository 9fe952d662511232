// Names of the utility library's string ids that other deliverables raise
// or test for; the texts stand in util_messages.cpp. The numbers are part
// of the interface: SQLError reports a utility message's id as its native
// code, so an id never changes meaning.
#pragma once

#include <cstdint>

enum KvUtilMessage : uint16_t {
  kvMsgInvalidCharacter = 2702,  // "Number contains an invalid character: %s1"
};
