// Names of the utility library's string ids: its messages (1500-1538,
// 2700-2722, 30040-30190) and labels. The texts stand beside them in
// util_messages.cpp. The numbers are part of the interface: SQLError
// reports a utility message's id as its native code, so an id never
// changes meaning.
#pragma once

#include <cstdint>

enum KvUtilMessage : uint16_t {
  kvMsgTransferTruncated = 1500,   // "Not enough memory for data transfer - message truncated."
  kvMsgCannotCreateFile = 1501,    // "Cannot create file '%s1'."
  kvMsgCannotDeleteFile = 1502,    // "Cannot delete file: '%s1'."
  kvMsgNoMemoryForCommand = 1503,  // "Not enough memory for this command."
  kvMsgCannotSetDirectory = 1504,  // "Cannot set current working directory to '%s1'."
  kvMsgDiskFull = 1506,            // "Insufficient disk space."
  kvMsgInvalidHandle = 1507,       // "Invalid file handle."
  kvMsgAccessDenied = 1508,        // "Access to file denied '%s1'."
  kvMsgFileNotFound = 1509,        // "File not found '%s1'."
  kvMsgPathNotFound = 1510,        // "Path not found '%s1'."
  kvMsgNoShare = 1511,             // "You must run SHARE when locking is enabled ..."
  kvMsgRegionLocked = 1512,        // "Whole or part of the region has already been locked."
  kvMsgCannotUnlock = 1513,        // "Unable to unlock record."
  kvMsgLockResources = 1514,       // "Lock failed!  OS file locking resources have been exceeded."
  kvMsgNoHelpFile = 1515,          // "Unable to load help file."
  kvMsgNotDosDisk = 1516,          // "Not a DOS disk"
  kvMsgInvalidParameter = 1517,    // "Invalid Parameter"
  kvMsgNoReadLocks = 1518,         // "File read locks not supported"
  kvMsgNotOwner = 1519,            // "Not owner of resource access has been denied."
  kvMsgFileExists = 1520,          // "File currently exist."
  kvMsgDeadlock = 1521,            // "File dead lock has been detected."
  kvMsgNoLockResource = 1522,      // "No file lock resource exist."
  kvMsgCannotLoadLibrary = 1523,   // "Unable to load DLL %s1 because of %s2."
  kvMsgFileNameTooLong = 1524,     // "File name is too long: '%s1'."

  // Labels of the semaphore information boxes.
  kvStrSemaphorePoolInfo = 1525,     // "Semaphore Pool Allocation Information"
  kvStrSemaphoreInfo = 1526,         // "Ziz Semaphore Allocation Information"
  kvStrSemaphoreRequestType = 1527,  // "Semaphore Request Type"
  kvStrSemaphoreAllocatedType = 1528,  // "Semaphore Allocated Type"
  kvStrRealSemaphore = 1529,         // "Real System Semaphore"
  kvStrSpinLockSemaphore = 1530,     // "Spin Lock Semaphore"
  kvStrSemaphoreOsLimit = 1531,      // "Semaphore OS Limit"
  kvStrSemaphoreSpinCount = 1532,    // "Semaphore Spin Count"
  kvStrSemaphoreYieldTime = 1533,    // "Semaphore Thread yield time"
  kvStrSemaphoreSetId = 1534,        // "Semaphore Set ID"
  kvStrSemaphoreZizSet = 1535,       // "Semaphores ziz set"
  kvStrSemaphoreNumber = 1536,       // "Semaphore Number"
  kvMsgSemaphoreAllocation = 1537,   // "Semaphore Allocation error"
  kvStrSemaphoreFreeInfo = 1538,     // "Ziz Semaphore Deallocation Information"

  kvMsgTokenTooBig = 2700,           // "Token too big: %s1"
  kvMsgNumberTooLarge = 2701,        // "Number too large: %s1"
  kvMsgInvalidCharacter = 2702,      // "Number contains an invalid character: %s1"
  kvMsgUnmatchedQuote = 2703,        // "Unmatched quote character: %s1"
  kvMsgConnectStringParse = 2704,    // "Error parsing connect string at offset %n1. "
  kvMsgNamedParse = 2705,            // "Error parsing %s2 at offset %n1."
  kvMsgAttributeRepeated = 2706,     // " Attribute '%s1' specified more than once."
  kvMsgAttributeTwice = 2707,        // " Attribute specified twice using keywords '%s1' and '%s2'."
  kvMsgInvalidHex = 2708,            // "Invalid hexidecimal character found during conversion."
  kvMsgSortStackOverflow = 2709,     // "Quicksort stack overflow"
  kvMsgTooManySortKeys = 2710,       // "Too many sort keys."
  kvMsgStringTooLarge = 2716,        // "Cannot handle strings larger than 65500 bytes."
  kvMsgIniNotOpen = 2717,            // "Initialization file is not open."
  kvMsgNoTraceWindow = 2719,         // "Could not create trace window."
  kvMsgQueryFileFirstLine = 2720,    // "Error parsing first line of query file: %s1"
  kvMsgNoNeededAccess = 2721,        // "Could not get needed access to '%s1'."
  kvMsgArrayTooLarge = 2722,         // "Can not increase internal array size past 16000."

  kvMsgCannotOpenFile = 30040,       // "Cannot open file '%s1'."
  kvMsgFileInputOutput = 30041,      // "Error on input or output to a file."
  kvMsgCannotRename = 30042,         // "Cannot rename '%s1' to '%s2'."
  kvMsgNoMemoryForCommand2 = 30043,  // "Not enough memory for this command."
  kvMsgTooManyOpenFiles = 30045,     // "The maximum number of files are already open."
  kvMsgReservedFileName = 30047,     // "Reserved file name cannot be opened '%s1'."
  kvMsgNoMemoryToStart = 30048,      // "Insufficient memory to start K+V."
  kvMsgReadOnlyFileSystem = 30049,   // "File system is Read Only."
  kvMsgAdditionalInfo = 30050,       // "%s Additional Information %s."
  kvMsgOutOfMemory = 30190,          // "Out of memory."

  // The accelerator markers of dialog texts. The table has no such string,
  // so it reads as empty and the dialog helpers mark no accelerators.
  kvStrAcceleratorMarkers = 21800,
};
