// The utility library's string table: its messages and labels, by id.
// The texts are the library's own and are reproduced exactly, including
// their spelling. Markers: %s<k> text parameter, %n<k> number parameter.
#include "util/resource.h"

namespace {

const KvMessage utilMessages[] = {
    {1500, "Not enough memory for data transfer - message truncated."},
    {1501, "Cannot create file '%s1'."},
    {1502, "Cannot delete file: '%s1'."},
    {1503, "Not enough memory for this command."},
    {1504, "Cannot set current working directory to '%s1'."},
    {1506, "Insufficient disk space."},
    {1507, "Invalid file handle."},
    {1508, "Access to file denied '%s1'."},
    {1509, "File not found '%s1'."},
    {1510, "Path not found '%s1'."},
    {1511, "You must run SHARE when locking is enabled or you must set Locking=NONE in your ODBC.INI file."},
    {1512, "Whole or part of the region has already been locked."},
    {1513, "Unable to unlock record."},
    {1514, "Lock failed!  OS file locking resources have been exceeded."},
    {1515, "Unable to load help file."},
    {1516, "Not a DOS disk"},
    {1517, "Invalid Parameter"},
    {1518, "File read locks not supported"},
    {1519, "Not owner of resource access has been denied."},
    {1520, "File currently exist."},
    {1521, "File dead lock has been detected."},
    {1522, "No file lock resource exist."},
    {1523, "Unable to load DLL %s1 because of %s2."},
    {1524, "File name is too long: '%s1'."},
    {1525, "Semaphore Pool Allocation Information"},
    {1526, "Ziz Semaphore Allocation Information"},
    {1527, "Semaphore Request Type"},
    {1528, "Semaphore Allocated Type"},
    {1529, "Real System Semaphore"},
    {1530, "Spin Lock Semaphore"},
    {1531, "Semaphore OS Limit"},
    {1532, "Semaphore Spin Count"},
    {1533, "Semaphore Thread yield time"},
    {1534, "Semaphore Set ID"},
    {1535, "Semaphores ziz set"},
    {1536, "Semaphore Number"},
    {1537, "Semaphore Allocation error"},
    {1538, "Ziz Semaphore Deallocation Information"},
    {2700, "Token too big: %s1"},
    {2701, "Number too large: %s1"},
    {2702, "Number contains an invalid character: %s1"},
    {2703, "Unmatched quote character: %s1"},
    {2704, "Error parsing connect string at offset %n1. "},
    {2705, "Error parsing %s2 at offset %n1."},
    {2706, " Attribute '%s1' specified more than once."},
    {2707, " Attribute specified twice using keywords '%s1' and '%s2'."},
    {2708, "Invalid hexidecimal character found during conversion."},
    {2709, "Quicksort stack overflow"},
    {2710, "Too many sort keys."},
    {2716, "Cannot handle strings larger than 65500 bytes."},
    {2717, "Initialization file is not open."},
    {2719, "Could not create trace window."},
    {2720, "Error parsing first line of query file: %s1"},
    {2721, "Could not get needed access to '%s1'."},
    {2722, "Can not increase internal array size past 16000."},
    {30040, "Cannot open file '%s1'."},
    {30041, "Error on input or output to a file."},
    {30042, "Cannot rename '%s1' to '%s2'."},
    {30043, "Not enough memory for this command."},
    {30045, "The maximum number of files are already open."},
    {30047, "Reserved file name cannot be opened '%s1'."},
    {30048, "Insufficient memory to start K+V."},
    {30049, "File system is Read Only."},
    {30050, "%s Additional Information %s."},
    {30190, "Out of memory."},
};

}  // namespace

KV_DEFINE_RESOURCE_FUNCTIONS(utilMessages)

KvError& kvAddUtilityError(unsigned short id) { return addResourceError(id); }

short kvLoadUtilityString(unsigned char* buffer, unsigned short id, uint32_t size) {
  return loadResourceString(buffer, id, size);
}
