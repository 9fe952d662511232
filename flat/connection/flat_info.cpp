// The engine's SQLGetInfo table. Text answers are pointers in pointer-sized
// fields. Limits are those the engine really enforces on Linux: a
// qualifier is a path of up to PATH_MAX - 1 bytes, "/" separates its
// components, and the table-name limit depends on the driver's extension
// (asked of the connection).
#include "flat/connection/flat_info.h"

#include "util/os/bos.h"

namespace {

const char searchEscape[] = "~";
const char yes[] = "Y";
const char no[] = "N";
const char quote[] = "`";
const char separator[] = "/";
const char specialCharacters[] = "~@#$%^&*_-+=\\}{;:?/><,.![]";

// Sorted by info type (the lookup stops at the first greater type).
constexpr BaseInfoRow flatRows[] = {
    KV_INFO_MASK(SQL_FETCH_DIRECTION, 0x3F),                  // 8
    KV_INFO_TEXT(SQL_SEARCH_PATTERN_ESCAPE, searchEscape),    // 14
    KV_INFO_TEXT(SQL_ACCESSIBLE_TABLES, yes),                 // 19
    KV_INFO_MASK(SQL_DEFAULT_TXN_ISOLATION, 2),               // 26
    KV_INFO_TEXT(SQL_EXPRESSIONS_IN_ORDERBY, yes),            // 27
    KV_INFO_TEXT(SQL_IDENTIFIER_QUOTE_CHAR, quote),           // 29
    KV_INFO_U16(SQL_MAX_COLUMN_NAME_LEN, 128),                // 30: the engine keeps 128 bytes of a name
    KV_INFO_U16(SQL_MAX_QUALIFIER_NAME_LEN, bosPathBytes - 1), // 34
    KV_INFO_ASKED(SQL_MAX_TABLE_NAME_LEN),                    // 35
    KV_INFO_TEXT(SQL_QUALIFIER_NAME_SEPARATOR, separator),    // 41
    KV_INFO_MASK(SQL_SCROLL_OPTIONS, 3),                      // 44
    KV_INFO_MASK(SQL_NUMERIC_FUNCTIONS, 0x500A00),            // 49
    KV_INFO_MASK(SQL_STRING_FUNCTIONS, 0x45E5D),              // 50
    KV_INFO_MASK(SQL_SYSTEM_FUNCTIONS, 4),                    // 51
    KV_INFO_MASK(SQL_TIMEDATE_FUNCTIONS, 0x126),              // 52
    KV_INFO_MASK(SQL_TXN_ISOLATION_OPTION, 2),                // 72
    KV_INFO_U16(SQL_NON_NULLABLE_COLUMNS, 0),                 // 75
    KV_INFO_MASK(SQL_GETDATA_EXTENSIONS, 15),                 // 81
    KV_INFO_MASK(SQL_STATIC_SENSITIVITY, 4),                  // 83
    KV_INFO_U16(SQL_FILE_USAGE, 1),                           // 84
    KV_INFO_U16(SQL_NULL_COLLATION, 2),                       // 85
    KV_INFO_MASK(SQL_ALTER_TABLE, 0),                         // 86
    KV_INFO_TEXT(SQL_ORDER_BY_COLUMNS_IN_SELECT, no),         // 90
    KV_INFO_MASK(SQL_OWNER_USAGE, 0),                         // 91
    KV_INFO_MASK(SQL_QUALIFIER_USAGE, 13),                    // 92
    KV_INFO_TEXT(SQL_SPECIAL_CHARACTERS, specialCharacters),  // 94
    KV_INFO_U16(SQL_MAX_TABLES_IN_SELECT, 0),                 // 106
};

static_assert(baseInfoRowsSorted(flatRows), "the engine's rows must be sorted by info type");

const BaseInfoTable flatTable = {sizeof(flatRows) / sizeof(flatRows[0]), nullptr, flatRows};

}  // namespace

const BaseInfoTable& flatInfoTable() { return flatTable; }
