// SQLGetInfo: the default answer table, the lookup through a driver's chain
// of tables and the fixed rules between related info types.
#include "base/base_info.h"

#include "base/base_connection.h"
#include "base/base_messages.h"
#include "base/base_out_string.h"
#include "util/ram.h"

#include <cstring>

namespace {

const char yes[] = "Y";
const char no[] = "N";
const char empty[] = "";

// Sorted by info type. Rows 0-114 are ODBC's; 1012-1027 are the framework's
// private types, which drivers override in their own tables.
constexpr BaseInfoRow defaultRows[] = {
    KV_INFO_U16(0, 0),        // SQL_ACTIVE_CONNECTIONS
    KV_INFO_U16(1, 0),        // SQL_ACTIVE_STATEMENTS
    KV_INFO_STRING(7, strDriverVersion), // SQL_DRIVER_VER
    KV_INFO_MASK(8, 0x1),     // SQL_FETCH_DIRECTION
    KV_INFO_U16(9, 1),        // SQL_ODBC_API_CONFORMANCE
    KV_INFO_TEXT(11, no),     // SQL_ROW_UPDATES
    KV_INFO_U16(12, 1),       // SQL_ODBC_SAG_CLI_CONFORMANCE
    KV_INFO_TEXT(13, empty),  // SQL_SERVER_NAME
    KV_INFO_TEXT(14, "\\"),   // SQL_SEARCH_PATTERN_ESCAPE
    KV_INFO_U16(15, 0),       // SQL_ODBC_SQL_CONFORMANCE
    KV_INFO_STRING(17, strDriverName),// SQL_DBMS_NAME
    KV_INFO_TEXT(19, no),     // SQL_ACCESSIBLE_TABLES
    KV_INFO_TEXT(20, no),     // SQL_ACCESSIBLE_PROCEDURES
    KV_INFO_TEXT(21, yes),    // SQL_PROCEDURES
    KV_INFO_U16(22, 1),       // SQL_CONCAT_NULL_BEHAVIOR
    KV_INFO_U16(23, 2),       // SQL_CURSOR_COMMIT_BEHAVIOR
    KV_INFO_U16(24, 2),       // SQL_CURSOR_ROLLBACK_BEHAVIOR
    KV_INFO_TEXT(25, no),     // SQL_DATA_SOURCE_READ_ONLY
    KV_INFO_TEXT(27, no),     // SQL_EXPRESSIONS_IN_ORDERBY
    KV_INFO_U16(28, 1),       // SQL_IDENTIFIER_CASE
    KV_INFO_TEXT(29, " "),    // SQL_IDENTIFIER_QUOTE_CHAR
    KV_INFO_U16(31, 18),      // SQL_MAX_CURSOR_NAME_LEN
    KV_INFO_U16(32, 0),       // SQL_MAX_OWNER_NAME_LEN
    KV_INFO_U16(33, 0),       // SQL_MAX_PROCEDURE_NAME_LEN
    KV_INFO_U16(34, 0),       // SQL_MAX_QUALIFIER_NAME_LEN
    KV_INFO_TEXT(36, no),     // SQL_MULT_RESULT_SETS
    KV_INFO_TEXT(37, yes),    // SQL_MULTIPLE_ACTIVE_TXN
    KV_INFO_TEXT(38, yes),    // SQL_OUTER_JOINS
    KV_INFO_STRING(39, strOwnerTerm),// SQL_OWNER_TERM
    KV_INFO_STRING(40, strProcedureTerm),// SQL_PROCEDURE_TERM
    KV_INFO_TEXT(41, "."),    // SQL_QUALIFIER_NAME_SEPARATOR
    KV_INFO_STRING(42, strQualifierTerm),// SQL_QUALIFIER_TERM
    KV_INFO_MASK(43, 0x1),    // SQL_SCROLL_CONCURRENCY
    KV_INFO_MASK(44, 0x1),    // SQL_SCROLL_OPTIONS
    KV_INFO_STRING(45, strTableTerm),// SQL_TABLE_TERM
    KV_INFO_U16(46, 1),       // SQL_TXN_CAPABLE
    KV_INFO_MASK(48, 0),      // SQL_CONVERT_FUNCTIONS
    KV_INFO_MASK(53, 0), KV_INFO_MASK(54, 0), KV_INFO_MASK(55, 0), KV_INFO_MASK(56, 0),
    KV_INFO_MASK(57, 0), KV_INFO_MASK(58, 0), KV_INFO_MASK(59, 0), KV_INFO_MASK(60, 0),
    KV_INFO_MASK(61, 0), KV_INFO_MASK(62, 0), KV_INFO_MASK(63, 0), KV_INFO_MASK(64, 0),
    KV_INFO_MASK(65, 0), KV_INFO_MASK(66, 0), KV_INFO_MASK(67, 0), KV_INFO_MASK(68, 0),
    KV_INFO_MASK(69, 0), KV_INFO_MASK(70, 0), KV_INFO_MASK(71, 0),  // SQL_CONVERT_*
    KV_INFO_TEXT(73, no),     // SQL_ODBC_SQL_OPT_IEF
    KV_INFO_U16(74, 2),       // SQL_CORRELATION_NAME
    KV_INFO_U16(75, 1),       // SQL_NON_NULLABLE_COLUMNS
    KV_INFO_TEXT(77, "02.01"),// SQL_DRIVER_ODBC_VER
    KV_INFO_MASK(78, 0),      // SQL_LOCK_TYPES
    KV_INFO_MASK(79, 0),      // SQL_POS_OPERATIONS
    KV_INFO_MASK(80, 0x7),    // SQL_POSITIONED_STATEMENTS
    KV_INFO_MASK(81, 0xB),    // SQL_GETDATA_EXTENSIONS
    KV_INFO_MASK(82, 0),      // SQL_BOOKMARK_PERSISTENCE
    KV_INFO_MASK(83, 0),      // SQL_STATIC_SENSITIVITY
    KV_INFO_U16(84, 0),       // SQL_FILE_USAGE
    KV_INFO_U16(85, 1),       // SQL_NULL_COLLATION
    KV_INFO_MASK(86, 0x1),    // SQL_ALTER_TABLE
    KV_INFO_TEXT(87, no),     // SQL_COLUMN_ALIAS
    KV_INFO_U16(88, 2),       // SQL_GROUP_BY
    KV_INFO_TEXT(89, empty),  // SQL_KEYWORDS
    KV_INFO_TEXT(90, yes),    // SQL_ORDER_BY_COLUMNS_IN_SELECT
    KV_INFO_MASK(91, 0x1F),   // SQL_OWNER_USAGE
    KV_INFO_MASK(92, 0x1),    // SQL_QUALIFIER_USAGE
    KV_INFO_U16(93, 3),       // SQL_QUOTED_IDENTIFIER_CASE
    KV_INFO_TEXT(94, empty),  // SQL_SPECIAL_CHARACTERS
    KV_INFO_MASK(95, 0x1F),   // SQL_SUBQUERIES
    KV_INFO_MASK(96, 0x3),    // SQL_UNION
    KV_INFO_U16(97, 0), KV_INFO_U16(98, 0), KV_INFO_U16(99, 0), KV_INFO_U16(100, 0),
    KV_INFO_U16(101, 0),      // SQL_MAX_COLUMNS_IN_*
    KV_INFO_U32(102, 0),      // SQL_MAX_INDEX_SIZE
    KV_INFO_TEXT(103, no),    // SQL_MAX_ROW_SIZE_INCLUDES_LONG
    KV_INFO_U32(104, 0),      // SQL_MAX_ROW_SIZE
    KV_INFO_U32(105, 0),      // SQL_MAX_STATEMENT_LEN
    KV_INFO_U16(106, 0),      // SQL_MAX_TABLES_IN_SELECT
    KV_INFO_U32(108, 0),      // SQL_MAX_CHAR_LITERAL_LEN
    KV_INFO_MASK(109, 0),     // SQL_TIMEDATE_ADD_INTERVALS
    KV_INFO_MASK(110, 0),     // SQL_TIMEDATE_DIFF_INTERVALS
    KV_INFO_TEXT(111, yes),   // SQL_NEED_LONG_DATA_LEN
    KV_INFO_U32(112, 0),      // SQL_MAX_BINARY_LITERAL_LEN
    KV_INFO_TEXT(113, no),    // SQL_LIKE_ESCAPE_CLAUSE
    KV_INFO_U16(114, 1),      // SQL_QUALIFIER_LOCATION
    KV_INFO_TEXT(1012, empty), KV_INFO_TEXT(1013, empty), KV_INFO_TEXT(1014, empty),
    KV_INFO_TEXT(1015, empty), KV_INFO_TEXT(1016, "_0123456789"), KV_INFO_TEXT(1018, empty),
    KV_INFO_TEXT(1019, "_0123456789"), KV_INFO_U16(1020, 0), KV_INFO_U16(1021, 65535),
    KV_INFO_U16(1022, 0), KV_INFO_TEXT(1023, "FOR UPDATE OF"), KV_INFO_U16(1024, 1),
    KV_INFO_MASK(1025, 0), KV_INFO_U16(1026, 0), KV_INFO_TEXT(1027, empty),
};

static_assert(baseInfoRowsSorted(defaultRows), "the default rows must be sorted by info type");

const BaseInfoTable defaultTable = {sizeof(defaultRows) / sizeof(defaultRows[0]), nullptr, defaultRows};

// Searches one table: rows are read while their type is smaller.
const BaseInfoRow* findRow(const BaseInfoTable* table, uint16_t type) {
  for (uint32_t i = 0; i < table->rowCount && table->rows[i].type <= type; ++i)
    if (table->rows[i].type == type) return &table->rows[i];
  return nullptr;
}

void answer(void** value, BaseInfoValType* kind, uintptr_t v, BaseInfoValType k) {
  *value = reinterpret_cast<void*>(v);
  *kind = k;
}

}  // namespace

const BaseInfoTable& baseDefaultInfoTable() { return defaultTable; }

KvStatus BaseConnection::getInfo(uint16_t type, void** value, BaseInfoValType* kind, unsigned* owned) {
  unsigned ownedHere = 0;
  if (owned) *owned = 0;
  switch (type) {
    case SQL_DATA_SOURCE_NAME:
      answer(value, kind, reinterpret_cast<uintptr_t>(dsn_ ? dsn_ : kvU(empty)), infoText);
      return kvSuccess;
    case SQL_QUALIFIER_NAME_SEPARATOR:
    case SQL_QUALIFIER_TERM:
    case SQL_QUALIFIER_USAGE:
    case SQL_QUALIFIER_LOCATION:
      if (getInfoNumber(SQL_MAX_QUALIFIER_NAME_LEN) == 0) {
        if (type == SQL_QUALIFIER_USAGE) answer(value, kind, 0, infoMask);
        else if (type == SQL_QUALIFIER_LOCATION) answer(value, kind, 0, infoU16);
        else answer(value, kind, reinterpret_cast<uintptr_t>(empty), infoText);
        return kvSuccess;
      }
      break;
    case SQL_PROCEDURES:
    case SQL_PROCEDURE_TERM:
    case SQL_ACCESSIBLE_PROCEDURES:
      if (getInfoNumber(SQL_MAX_PROCEDURE_NAME_LEN) == 0) {
        answer(value, kind, reinterpret_cast<uintptr_t>(type == SQL_PROCEDURE_TERM ? empty : no), infoText);
        return kvSuccess;
      }
      break;
    case SQL_OWNER_TERM:
    case SQL_OWNER_USAGE:
      if (getInfoNumber(SQL_MAX_OWNER_NAME_LEN) == 0) {
        if (type == SQL_OWNER_USAGE) answer(value, kind, 0, infoMask);
        else answer(value, kind, reinterpret_cast<uintptr_t>(empty), infoText);
        return kvSuccess;
      }
      break;
    case SQL_QUOTED_IDENTIFIER_CASE: {
      void* quote = nullptr;
      BaseInfoValType quoteKind = infoNotFound;
      unsigned quoteOwned = 0;
      if (getInfo(SQL_IDENTIFIER_QUOTE_CHAR, &quote, &quoteKind, &quoteOwned) == kvSuccess) {
        bool blank = quoteKind == infoText && quote && static_cast<unsigned char*>(quote)[0] == ' ';
        if (quoteOwned) ramFree(quote);
        if (blank) {
          answer(value, kind, 0, infoU16);
          return kvSuccess;
        }
      } else {
        KvErrorKeeper::clearLastError();
      }
      break;
    }
    default:
      break;
  }

  const BaseInfoRow* row = nullptr;
  for (const BaseInfoTable* table = infoChain_; table && !row; table = table->next) row = findRow(table, type);
  if (!row) row = findRow(&defaultTable, type);
  BaseInfoValType rowKind = row ? row->kind : infoNotFound;
  uintptr_t rowValue = row ? row->value() : 0;

  switch (rowKind) {
    case infoTextList: {
      KvString joined;
      for (auto* item = reinterpret_cast<const unsigned char* const*>(rowValue); item && *item; ++item)
        if (joined.concat(*item) != kvSuccess) return kvFailure;
      unsigned char* text = ramAllocStr(joined.getStr());
      if (!text) return kvFailure;
      answer(value, kind, reinterpret_cast<uintptr_t>(text), infoText);
      ownedHere = 1;
      break;
    }
    case infoAsked:
      if (getAskedForInfo(type, value, kind) != kvSuccess) return kvFailure;
      if (*kind == infoText) ownedHere = 1;
      break;
    case infoNotFound:
      if (type == SQL_DATABASE_NAME) {
        answer(value, kind, reinterpret_cast<uintptr_t>(databaseName_ ? databaseName_ : kvU(empty)), infoText);
      } else if (type == SQL_USER_NAME) {
        answer(value, kind, reinterpret_cast<uintptr_t>(userId_ ? userId_ : kvU(empty)), infoText);
      } else if (type == SQL_MAX_USER_NAME_LEN) {  // a 16-bit number, as ODBC defines it
        answer(value, kind, 0, infoU16);
      } else {
        addOdbcError(stateNotCapable);
        return kvFailure;
      }
      break;
    case infoDriverString: {
      unsigned char buffer[512];
      buffer[0] = 0;
      getDriverResourceStr(uint16_t(rowValue), buffer, sizeof(buffer));
      unsigned char* text = ramAllocStr(buffer);
      if (!text) return kvFailure;
      answer(value, kind, reinterpret_cast<uintptr_t>(text), infoText);
      ownedHere = 1;
      break;
    }
    default:
      answer(value, kind, rowValue, rowKind);
      if (type == SQL_MAX_QUALIFIER_NAME_LEN && (workArounds_ & waHideQualifiers)) {
        answer(value, kind, 0, infoU16);
      } else if (type == SQL_ACTIVE_CONNECTIONS && rowValue == 0 && (workArounds_ & waActiveConnections)) {
        answer(value, kind, 1, rowKind);
      }
      break;
  }
  if (owned) *owned = ownedHere;
  else if (ownedHere) ramFree(*value);  // a caller that cannot own it gets no text
  return kvSuccess;
}

uint32_t BaseConnection::getInfoNumber(uint16_t type, KvStatus* status) {
  void* value = nullptr;
  BaseInfoValType kind = infoNotFound;
  unsigned owned = 0;
  KvStatus result = getInfo(type, &value, &kind, &owned);
  if (status) *status = result;
  if (result != kvSuccess) return 0;
  if (kind == infoText) {
    if (owned) ramFree(value);
    return 0;
  }
  return uint32_t(reinterpret_cast<uintptr_t>(value));
}

SQLRETURN BaseConnection::SQLGetInfo(SQLUSMALLINT fInfoType, SQLPOINTER rgbInfoValue, SQLSMALLINT cbInfoValueMax,
                                     SQLSMALLINT* pcbInfoValue) {
  BaseCall call(this, SQL_API_SQLGETINFO);
  if (!call.isOpen()) return call.getResult();
  BaseOutString out(rgbInfoValue, int32_t(cbInfoValueMax), pcbInfoValue);
  if (fInfoType == SQL_DRIVER_NAME) {
    unsigned char name[256];
    name[0] = 0;
    getDllName(name, sizeof(name));
    out.setStrValue(name);
    return call.exit(SQL_SUCCESS);
  }
  void* value = nullptr;
  BaseInfoValType kind = infoNotFound;
  unsigned owned = 0;
  uint16_t type = fInfoType == infoPrivateKeywords ? uint16_t(SQL_KEYWORDS) : uint16_t(fInfoType);
  if (getInfo(type, &value, &kind, &owned) != kvSuccess) return call.exit(SQL_ERROR);
  uint32_t number = uint32_t(reinterpret_cast<uintptr_t>(value));
  uint32_t low = workArounds_ & 0xFFFF;
  if ((low & waKeepPrepared) && (type == SQL_CURSOR_COMMIT_BEHAVIOR || type == SQL_CURSOR_ROLLBACK_BEHAVIOR) &&
      number == SQL_CB_DELETE)
    number = SQL_CB_CLOSE;
  if ((low & (waShareConnection | waActiveConnections)) && type == SQL_ACTIVE_CONNECTIONS && number == 1)
    number = 0;
  // Numbers are written whole whatever the buffer length says, as ODBC
  // defines for them.
  switch (kind) {
    case infoU16: {
      uint16_t v = uint16_t(number);
      if (rgbInfoValue) std::memcpy(rgbInfoValue, &v, sizeof(v));
      if (pcbInfoValue) *pcbInfoValue = sizeof(v);
      break;
    }
    case infoMask:
    case infoU32:
      if (rgbInfoValue) std::memcpy(rgbInfoValue, &number, sizeof(number));
      if (pcbInfoValue) *pcbInfoValue = sizeof(number);
      break;
    default:
      out.setStrValue(static_cast<const unsigned char*>(value));
      break;
  }
  if (owned) ramFree(value);
  return call.exit(SQL_SUCCESS);
}
