// Names of the utility library's string ids that other deliverables raise
// or test for; the texts stand in util_messages.cpp. The numbers are part
// of the interface: SQLError reports a utility message's id as its native
// code, so an id never changes meaning.
#pragma once

#include <cstdint>

enum KvUtilMessage : uint16_t {
  kvMsgInvalidHandle = 1507,     // "Invalid file handle."
  kvMsgAccessDenied = 1508,      // "Access to file denied '%s1'."
  kvMsgNoShare = 1511,           // "You must run SHARE when locking is enabled ..."
  kvMsgRegionLocked = 1512,      // "Whole or part of the region has already been locked."
  kvMsgLockResources = 1514,     // "Lock failed!  OS file locking resources have been exceeded."
  kvMsgInvalidCharacter = 2702,  // "Number contains an invalid character: %s1"
};
