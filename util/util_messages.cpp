// The utility library's string table: its messages and labels, by id.
// The texts are the library's own and are reproduced exactly, including
// their spelling. Markers: %s<k> text parameter, %n<k> number parameter.
#include "util/resource.h"
#include "util/util_message_ids.h"

namespace {

constexpr KvMessage utilMessages[] = {
    {kvMsgTransferTruncated, "Not enough memory for data transfer - message truncated."},
    {kvMsgCannotCreateFile, "Cannot create file '%s1'."},
    {kvMsgCannotDeleteFile, "Cannot delete file: '%s1'."},
    {kvMsgNoMemoryForCommand, "Not enough memory for this command."},
    {kvMsgCannotSetDirectory, "Cannot set current working directory to '%s1'."},
    {kvMsgDiskFull, "Insufficient disk space."},
    {kvMsgInvalidHandle, "Invalid file handle."},
    {kvMsgAccessDenied, "Access to file denied '%s1'."},
    {kvMsgFileNotFound, "File not found '%s1'."},
    {kvMsgPathNotFound, "Path not found '%s1'."},
    {kvMsgNoShare, "You must run SHARE when locking is enabled or you must set Locking=NONE in your ODBC.INI file."},
    {kvMsgRegionLocked, "Whole or part of the region has already been locked."},
    {kvMsgCannotUnlock, "Unable to unlock record."},
    {kvMsgLockResources, "Lock failed!  OS file locking resources have been exceeded."},
    {kvMsgNoHelpFile, "Unable to load help file."},
    {kvMsgNotDosDisk, "Not a DOS disk"},
    {kvMsgInvalidParameter, "Invalid Parameter"},
    {kvMsgNoReadLocks, "File read locks not supported"},
    {kvMsgNotOwner, "Not owner of resource access has been denied."},
    {kvMsgFileExists, "File currently exist."},
    {kvMsgDeadlock, "File dead lock has been detected."},
    {kvMsgNoLockResource, "No file lock resource exist."},
    {kvMsgCannotLoadLibrary, "Unable to load DLL %s1 because of %s2."},
    {kvMsgFileNameTooLong, "File name is too long: '%s1'."},
    {kvStrSemaphorePoolInfo, "Semaphore Pool Allocation Information"},
    {kvStrSemaphoreInfo, "Ziz Semaphore Allocation Information"},
    {kvStrSemaphoreRequestType, "Semaphore Request Type"},
    {kvStrSemaphoreAllocatedType, "Semaphore Allocated Type"},
    {kvStrRealSemaphore, "Real System Semaphore"},
    {kvStrSpinLockSemaphore, "Spin Lock Semaphore"},
    {kvStrSemaphoreOsLimit, "Semaphore OS Limit"},
    {kvStrSemaphoreSpinCount, "Semaphore Spin Count"},
    {kvStrSemaphoreYieldTime, "Semaphore Thread yield time"},
    {kvStrSemaphoreSetId, "Semaphore Set ID"},
    {kvStrSemaphoreZizSet, "Semaphores ziz set"},
    {kvStrSemaphoreNumber, "Semaphore Number"},
    {kvMsgSemaphoreAllocation, "Semaphore Allocation error"},
    {kvStrSemaphoreFreeInfo, "Ziz Semaphore Deallocation Information"},
    {kvMsgTokenTooBig, "Token too big: %s1"},
    {kvMsgNumberTooLarge, "Number too large: %s1"},
    {kvMsgInvalidCharacter, "Number contains an invalid character: %s1"},
    {kvMsgUnmatchedQuote, "Unmatched quote character: %s1"},
    {kvMsgConnectStringParse, "Error parsing connect string at offset %n1. "},
    {kvMsgNamedParse, "Error parsing %s2 at offset %n1."},
    {kvMsgAttributeRepeated, " Attribute '%s1' specified more than once."},
    {kvMsgAttributeTwice, " Attribute specified twice using keywords '%s1' and '%s2'."},
    {kvMsgInvalidHex, "Invalid hexidecimal character found during conversion."},
    {kvMsgSortStackOverflow, "Quicksort stack overflow"},
    {kvMsgTooManySortKeys, "Too many sort keys."},
    {kvMsgStringTooLarge, "Cannot handle strings larger than 65500 bytes."},
    {kvMsgIniNotOpen, "Initialization file is not open."},
    {kvMsgNoTraceWindow, "Could not create trace window."},
    {kvMsgQueryFileFirstLine, "Error parsing first line of query file: %s1"},
    {kvMsgNoNeededAccess, "Could not get needed access to '%s1'."},
    {kvMsgArrayTooLarge, "Can not increase internal array size past 16000."},
    {kvMsgCannotOpenFile, "Cannot open file '%s1'."},
    {kvMsgFileInputOutput, "Error on input or output to a file."},
    {kvMsgCannotRename, "Cannot rename '%s1' to '%s2'."},
    {kvMsgNoMemoryForCommand2, "Not enough memory for this command."},
    {kvMsgTooManyOpenFiles, "The maximum number of files are already open."},
    {kvMsgReservedFileName, "Reserved file name cannot be opened '%s1'."},
    {kvMsgNoMemoryToStart, "Insufficient memory to start K+V."},
    {kvMsgReadOnlyFileSystem, "File system is Read Only."},
    {kvMsgAdditionalInfo, "%s Additional Information %s."},
    {kvMsgOutOfMemory, "Out of memory."},
};

}  // namespace

KV_DEFINE_RESOURCE_FUNCTIONS(utilMessages)

KvError& kvAddUtilityError(unsigned short id) { return addResourceError(id); }

short kvLoadUtilityString(unsigned char* buffer, unsigned short id, uint32_t size) {
  return loadResourceString(buffer, id, size);
}
