// The dBASE driver's string table: its messages, its name in the message
// prefix, the terms and labels the framework's SQLGetInfo and type rows
// ask for, the logical letters and the names of the dialects.
#include "drivers/dbase/dbase_message_ids.h"

#include "util/resource.h"

namespace {

constexpr KvMessage dbaseStrings[] = {
    {msgDbfIndexRead, "Error reading index file: %s1"},
    {msgDbfDropNoTable, "Cannot drop table %s1.  Table does not exist."},
    {msgDbfMemoOtherTable, "Memo file for table %s1 is marked as belonging to a different table."},
    {msgDbfMemoCorrupt, "Corrupt memo file, read error"},
    {msgDbfDbase2Types, "dBASE II files cannot contain DATE, MEMO, or FLOAT fields."},
    {msgDbfDbase3Float, "dBASE III files cannot contain FLOAT fields."},
    {msgDbfBadNdx2, "Not a valid dBASE II index file: %s1"},
    {msgDbfBadNdx3, "Not a valid dBASE III index file: %s1"},
    {msgDbfMdxOtherTable, "MDX file was created for database: %s1"},
    {msgDbfKeyNotFound, "Record being deleted not found in index file"},
    {msgDbfUseUnopenedIndex, "Attempt to use an index that hasn't been opened: %s1"},
    {msgDbfDbase2Fields, "The limit is 32 fields in dBASE II files"},
    {msgDbfBadIndexName, "Invalid dBASE index file name: %s1"},
    {msgDbfCharWidth, "Character width must be between 1 and %n1: %s2"},
    {msgDbfNumericWidth, "A numeric column's width must be between 1 and 20 (19 if column has a decimal): %s1"},
    {msgDbfNumericDecimals, "A numeric column's decimal must be less than its width: %s1"},
    {msgDbfCannotOpenExclusive, "Cannot open table exclusively: %s1"},
    {msgDbfKeyViolation, "Attempted index operation has resulted in a key violation."},
    {msgDbfBadIndex, "Not a valid index file: %s1"},
    {msgDbfBadDecimalFormat, "Unsupported decimal format."},
    {msgDbfBadNtx, "Not a valid Clipper index file: %s1"},
    {msgDbfTagNotFound, "Tag name not found in index file."},
    {msgDbfIndexFileFull, "The %s1 file is full (%n2 tags maximum)."},
    {strDbfDriverName, "dBASE"},
    {strDbfOwnerTerm, "owner"},
    {strDbfQualifierTerm, "Directory"},
    {strDbfProcedureTerm, "procedure"},
    {strDbfTableTerm, "Table"},
    {strDbfDriverVersion, "02.00.0000"},
    {strDbfParamLength, "length"},
    {strDbfParamPrecisionScale, "precision,scale"},
    {strDbfLogicalLetters, "FTNY"},
    {strDbfTypeChar, "Char"},
    {strDbfTypeDate, "Date"},
    {strDbfTypeNumeric, "Numeric"},
    {strDbfTypeMemo, "Memo"},
    {strDbfTypeLogical, "Logical"},
    {strDbfTypeFloat, "Float"},
    {strDbfTypeGeneral, "General"},
    {strDbfTypePicture, "Picture"},
    {strDbfTypeBinary, "Binary"},
    {strDbfNameFoxPro, "FoxPro"},
    {strDbfNameFoxBase, "FoxBASE"},
    {strDbfNameClipper, "Clipper"},
    {strDbfNameDbase2, "dBASE II"},
    {strDbfNameDbase3, "dBASE III"},
    {strDbfNameDbase4, "dBASE IV"},
    {strDbfNameDbase5, "dBASE V"},
};

constexpr bool sortedById() {
  for (size_t i = 1; i < sizeof(dbaseStrings) / sizeof(dbaseStrings[0]); ++i)
    if (dbaseStrings[i - 1].id >= dbaseStrings[i].id) return false;
  return true;
}
static_assert(sortedById(), "the string table is searched by halves: keep it sorted by id");

}  // namespace

short dbfLoadString(uint16_t id, unsigned char* buffer, uint32_t size) {
  return kvLoadStringFromTable(dbaseStrings, sizeof(dbaseStrings) / sizeof(dbaseStrings[0]), buffer, id, size);
}
