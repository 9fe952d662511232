// The text driver's string table: its messages, its name in the message
// prefix, the terms, labels and type names the framework asks for, and the
// month and weekday names of the date masks.
#include "drivers/text/text_messages.h"

#include "drivers/text/text_message_ids.h"

namespace {

constexpr KvMessage textStrings[] = {
    {msgTxtTableNotExist, "Table %s1 does not exist."},
    {msgTxtIniNoName, "Missing field name field in KVTXT.INI file."},
    {msgTxtIniNoOffset, "Missing offset field in KVTXT.INI file."},
    {msgTxtIniNoLength, "Missing length field in KVTXT.INI file."},
    {msgTxtIniNoPrecision, "Missing precision field in KVTXT.INI file."},
    {msgTxtIniNoScale, "Missing scale field in KVTXT.INI file."},
    {msgTxtIniBadType, "Unknown data type in KVTXT.INI file %s1."},
    {msgTxtNoDefinition, "File name missing in INI file."},
    {msgTxtTableNameLong, "Table name is longer than 32 characters."},
    {msgTxtTableExists, "Table already exists."},
    {msgTxtColumnTwice, "Column %s1 is defined more than once."},
    {msgTxtColumnNameLong, "Column name %s1 is longer than 32 characters."},
    {msgTxtMaskMonthAbbr, "Month abbreviation mask must be either mmm, Mmm, or MMM."},
    {msgTxtMaskMonthName, "Month name mask must be either mmmm, Mmmm, or MMMM."},
    {msgTxtMaskDayAbbr, "Day abbreviation mask must be either ddd, Ddd, or DDD."},
    {msgTxtMaskDayName, "Day name mask must be either dddd, Dddd, or DDDD."},
    {msgTxtMaskNoQuote, "Can not find the ending quote in the date mask."},
    {msgTxtMaskInvalid, "Invalid date mask."},
    {msgTxtMaskTooSmall, "The Column in the file is to small for the entire date string."},
    {msgTxtMaskNoMatch, "Data can not be converted using the given mask."},
    {msgTxtIniNoMask, "No mask in INI file."},
    {msgTxtNoCreateIndex, "Driver cannot create indexes."},
    {msgTxtNoDropIndex, "Driver cannot drop indexes."},
    {msgTxtBadDate, "Invalid date value %s1."},
    {msgTxtIniBadValue, "Invalid %s1 value '%s2' in KVTXT.INI file for table %s3."},
    {msgTxtBadDelimiter, "Invalid delimiter character: %s1"},
    {msgTxtMaskYearRange, "The year %n1 cannot be written by a two-digit year mask."},
    {strTxtDriverName, "Text"},
    {strTxtOwnerTerm, "owner"},
    {strTxtQualifierTerm, "Directory"},
    {strTxtProcedureTerm, "procedure"},
    {strTxtTableTerm, "File"},
    {strTxtDriverVersion, "02.00.0000"},
    {strTxtParamLength, "length"},
    {strTxtParamMaxLength, "max length"},
    {strTxtParamPrecision, "precision"},
    {strTxtParamPrecisionScale, "precision,scale"},
    {strTxtWarning, "Warning"},
    {strTxtMonthAbbreviations, "JANFEBMARAPRMAYJUNJULAUGSEPOCTNOVDEC"},
    {strTxtTypeVarchar, "VARCHAR"},
    {strTxtTypeDate, "DATE"},
    {strTxtTypeNumeric, "NUMERIC"},
    {strTxtMonthFirst, "JANUARY"},
    {strTxtMonthFirst + 1, "FEBRUARY"},
    {strTxtMonthFirst + 2, "MARCH"},
    {strTxtMonthFirst + 3, "APRIL"},
    {strTxtMonthFirst + 4, "MAY"},
    {strTxtMonthFirst + 5, "JUNE"},
    {strTxtMonthFirst + 6, "JULY"},
    {strTxtMonthFirst + 7, "AUGUST"},
    {strTxtMonthFirst + 8, "SEPTEMBER"},
    {strTxtMonthFirst + 9, "OCTOBER"},
    {strTxtMonthFirst + 10, "NOVEMBER"},
    {strTxtMonthFirst + 11, "DECEMBER"},
    {strTxtDayFirst, "SUNDAY"},
    {strTxtDayFirst + 1, "MONDAY"},
    {strTxtDayFirst + 2, "TUESDAY"},
    {strTxtDayFirst + 3, "WEDNESDAY"},
    {strTxtDayFirst + 4, "THURSDAY"},
    {strTxtDayFirst + 5, "FRIDAY"},
    {strTxtDayFirst + 6, "SATURDAY"},
    {strTxtDayAbbreviations, "SUNMONTUEWEDTHUFRISAT"},
};
static_assert(kvMessagesSorted(textStrings), "the string table is searched by halves: keep it sorted by id");

}  // namespace

short txtLoadString(uint16_t id, unsigned char* buffer, uint32_t size) {
  return kvLoadStringFromTable(textStrings, sizeof(textStrings) / sizeof(textStrings[0]), buffer, id, size);
}

const char* txtString(uint16_t id) {
  for (const KvMessage& m : textStrings)
    if (m.id == id) return m.text;
  return "";
}
