// SQLGetInfo: the default answer table, the lookup through a driver's chain
// of tables and the fixed rules between related info types.
#include "base/connection/base_info.h"

#include "base/connection/base_connection.h"
#include "base/handles/base_messages.h"
#include "base/handles/base_out_string.h"
#include "util/memory/ram.h"

#include <cstring>

namespace {

const char yes[] = "Y";
const char no[] = "N";
const char empty[] = "";

// Sorted by info type. The ODBC rows come first; 1012-1027 are the
// framework's private types, which drivers override in their own tables.
constexpr BaseInfoRow defaultRows[] = {
    KV_INFO_U16(SQL_ACTIVE_CONNECTIONS, 0),
    KV_INFO_U16(SQL_ACTIVE_STATEMENTS, 0),
    KV_INFO_STRING(SQL_DRIVER_VER, strDriverVersion),
    KV_INFO_MASK(SQL_FETCH_DIRECTION, SQL_FD_FETCH_NEXT),
    KV_INFO_U16(SQL_ODBC_API_CONFORMANCE, SQL_OAC_LEVEL1),
    KV_INFO_TEXT(SQL_ROW_UPDATES, no),
    KV_INFO_U16(SQL_ODBC_SAG_CLI_CONFORMANCE, SQL_OSCC_COMPLIANT),
    KV_INFO_TEXT(SQL_SERVER_NAME, empty),
    KV_INFO_TEXT(SQL_SEARCH_PATTERN_ESCAPE, "\\"),
    KV_INFO_U16(SQL_ODBC_SQL_CONFORMANCE, SQL_OSC_MINIMUM),
    KV_INFO_STRING(SQL_DBMS_NAME, strDriverName),
    KV_INFO_TEXT(SQL_ACCESSIBLE_TABLES, no),
    KV_INFO_TEXT(SQL_ACCESSIBLE_PROCEDURES, no),
    KV_INFO_TEXT(SQL_PROCEDURES, yes),
    KV_INFO_U16(SQL_CONCAT_NULL_BEHAVIOR, SQL_CB_NON_NULL),
    KV_INFO_U16(SQL_CURSOR_COMMIT_BEHAVIOR, SQL_CB_PRESERVE),
    KV_INFO_U16(SQL_CURSOR_ROLLBACK_BEHAVIOR, SQL_CB_PRESERVE),
    KV_INFO_TEXT(SQL_DATA_SOURCE_READ_ONLY, no),
    KV_INFO_TEXT(SQL_EXPRESSIONS_IN_ORDERBY, no),
    KV_INFO_U16(SQL_IDENTIFIER_CASE, SQL_IC_UPPER),
    KV_INFO_TEXT(SQL_IDENTIFIER_QUOTE_CHAR, " "),
    KV_INFO_U16(SQL_MAX_CURSOR_NAME_LEN, 18),
    KV_INFO_U16(SQL_MAX_OWNER_NAME_LEN, 0),
    KV_INFO_U16(SQL_MAX_PROCEDURE_NAME_LEN, 0),
    KV_INFO_U16(SQL_MAX_QUALIFIER_NAME_LEN, 0),
    KV_INFO_TEXT(SQL_MULT_RESULT_SETS, no),
    KV_INFO_TEXT(SQL_MULTIPLE_ACTIVE_TXN, yes),
    KV_INFO_TEXT(SQL_OUTER_JOINS, yes),
    KV_INFO_STRING(SQL_OWNER_TERM, strOwnerTerm),
    KV_INFO_STRING(SQL_PROCEDURE_TERM, strProcedureTerm),
    KV_INFO_TEXT(SQL_QUALIFIER_NAME_SEPARATOR, "."),
    KV_INFO_STRING(SQL_QUALIFIER_TERM, strQualifierTerm),
    KV_INFO_MASK(SQL_SCROLL_CONCURRENCY, SQL_SCCO_READ_ONLY),
    KV_INFO_MASK(SQL_SCROLL_OPTIONS, SQL_SO_FORWARD_ONLY),
    KV_INFO_STRING(SQL_TABLE_TERM, strTableTerm),
    KV_INFO_U16(SQL_TXN_CAPABLE, SQL_TC_DML),
    KV_INFO_MASK(SQL_CONVERT_FUNCTIONS, 0),
    KV_INFO_MASK(SQL_CONVERT_BIGINT, 0),
    KV_INFO_MASK(SQL_CONVERT_BINARY, 0),
    KV_INFO_MASK(SQL_CONVERT_BIT, 0),
    KV_INFO_MASK(SQL_CONVERT_CHAR, 0),
    KV_INFO_MASK(SQL_CONVERT_DATE, 0),
    KV_INFO_MASK(SQL_CONVERT_DECIMAL, 0),
    KV_INFO_MASK(SQL_CONVERT_DOUBLE, 0),
    KV_INFO_MASK(SQL_CONVERT_FLOAT, 0),
    KV_INFO_MASK(SQL_CONVERT_INTEGER, 0),
    KV_INFO_MASK(SQL_CONVERT_LONGVARCHAR, 0),
    KV_INFO_MASK(SQL_CONVERT_NUMERIC, 0),
    KV_INFO_MASK(SQL_CONVERT_REAL, 0),
    KV_INFO_MASK(SQL_CONVERT_SMALLINT, 0),
    KV_INFO_MASK(SQL_CONVERT_TIME, 0),
    KV_INFO_MASK(SQL_CONVERT_TIMESTAMP, 0),
    KV_INFO_MASK(SQL_CONVERT_TINYINT, 0),
    KV_INFO_MASK(SQL_CONVERT_VARBINARY, 0),
    KV_INFO_MASK(SQL_CONVERT_VARCHAR, 0),
    KV_INFO_MASK(SQL_CONVERT_LONGVARBINARY, 0),
    KV_INFO_TEXT(SQL_ODBC_SQL_OPT_IEF, no),
    KV_INFO_U16(SQL_CORRELATION_NAME, SQL_CN_ANY),
    KV_INFO_U16(SQL_NON_NULLABLE_COLUMNS, SQL_NNC_NON_NULL),
    KV_INFO_TEXT(SQL_DRIVER_ODBC_VER, "02.01"),
    KV_INFO_MASK(SQL_LOCK_TYPES, 0),
    KV_INFO_MASK(SQL_POS_OPERATIONS, 0),
    KV_INFO_MASK(SQL_POSITIONED_STATEMENTS,
                 SQL_PS_POSITIONED_DELETE | SQL_PS_POSITIONED_UPDATE | SQL_PS_SELECT_FOR_UPDATE),
    KV_INFO_MASK(SQL_GETDATA_EXTENSIONS, SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER | SQL_GD_BOUND),
    KV_INFO_MASK(SQL_BOOKMARK_PERSISTENCE, 0),
    KV_INFO_MASK(SQL_STATIC_SENSITIVITY, 0),
    KV_INFO_U16(SQL_FILE_USAGE, SQL_FILE_NOT_SUPPORTED),
    KV_INFO_U16(SQL_NULL_COLLATION, SQL_NC_LOW),
    KV_INFO_MASK(SQL_ALTER_TABLE, SQL_AT_ADD_COLUMN),
    KV_INFO_TEXT(SQL_COLUMN_ALIAS, no),
    KV_INFO_U16(SQL_GROUP_BY, SQL_GB_GROUP_BY_CONTAINS_SELECT),
    KV_INFO_TEXT(SQL_KEYWORDS, empty),
    KV_INFO_TEXT(SQL_ORDER_BY_COLUMNS_IN_SELECT, yes),
    KV_INFO_MASK(SQL_OWNER_USAGE, SQL_OU_DML_STATEMENTS | SQL_OU_PROCEDURE_INVOCATION | SQL_OU_TABLE_DEFINITION |
                                      SQL_OU_INDEX_DEFINITION | SQL_OU_PRIVILEGE_DEFINITION),
    KV_INFO_MASK(SQL_QUALIFIER_USAGE, SQL_QU_DML_STATEMENTS),
    KV_INFO_U16(SQL_QUOTED_IDENTIFIER_CASE, SQL_IC_SENSITIVE),
    KV_INFO_TEXT(SQL_SPECIAL_CHARACTERS, empty),
    KV_INFO_MASK(SQL_SUBQUERIES, SQL_SQ_COMPARISON | SQL_SQ_EXISTS | SQL_SQ_IN | SQL_SQ_QUANTIFIED |
                                     SQL_SQ_CORRELATED_SUBQUERIES),
    KV_INFO_MASK(SQL_UNION, SQL_U_UNION | SQL_U_UNION_ALL),
    KV_INFO_U16(SQL_MAX_COLUMNS_IN_GROUP_BY, 0),
    KV_INFO_U16(SQL_MAX_COLUMNS_IN_INDEX, 0),
    KV_INFO_U16(SQL_MAX_COLUMNS_IN_ORDER_BY, 0),
    KV_INFO_U16(SQL_MAX_COLUMNS_IN_SELECT, 0),
    KV_INFO_U16(SQL_MAX_COLUMNS_IN_TABLE, 0),
    KV_INFO_U32(SQL_MAX_INDEX_SIZE, 0),
    KV_INFO_TEXT(SQL_MAX_ROW_SIZE_INCLUDES_LONG, no),
    KV_INFO_U32(SQL_MAX_ROW_SIZE, 0),
    KV_INFO_U32(SQL_MAX_STATEMENT_LEN, 0),
    KV_INFO_U16(SQL_MAX_TABLES_IN_SELECT, 0),
    KV_INFO_U32(SQL_MAX_CHAR_LITERAL_LEN, 0),
    KV_INFO_MASK(SQL_TIMEDATE_ADD_INTERVALS, 0),
    KV_INFO_MASK(SQL_TIMEDATE_DIFF_INTERVALS, 0),
    KV_INFO_TEXT(SQL_NEED_LONG_DATA_LEN, yes),
    KV_INFO_U32(SQL_MAX_BINARY_LITERAL_LEN, 0),
    KV_INFO_TEXT(SQL_LIKE_ESCAPE_CLAUSE, no),
    KV_INFO_U16(SQL_QUALIFIER_LOCATION, SQL_QL_START),
    // The framework's private types.
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
    return call.exit(out.setStrValue(name) == kvSuccess ? SQL_SUCCESS : SQL_ERROR);
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
  KvStatus written = kvSuccess;
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
      written = out.setStrValue(static_cast<const unsigned char*>(value));
      break;
  }
  if (owned) ramFree(value);
  return call.exit(written == kvSuccess ? SQL_SUCCESS : SQL_ERROR);
}
