// Type information: the SQLGetTypeInfo rows of a driver, gathered, sorted
// and read with ODBC's NULL rules; see base_type_info.h.
#include "base/catalog/base_type_info.h"

#include "base/connection/base_connection.h"
#include "base/handles/base_messages.h"
#include "base/handles/base_out_string.h"
#include "base/statement/base_statement.h"
#include "util/memory/ram.h"
#include "util/containers/str_functions.h"

#include <cstring>
#include <initializer_list>

namespace {

const BaseTypeInfoColumnDesc typeInfoColumns[typeInfoColumnCount] = {
    {"TYPE_NAME", SQL_VARCHAR, SQL_NO_NULLS, 128},
    {"DATA_TYPE", SQL_SMALLINT, SQL_NO_NULLS, 0},
    {"PRECISION", SQL_INTEGER, SQL_NULLABLE, 0},
    {"LITERAL_PREFIX", SQL_VARCHAR, SQL_NULLABLE, 128},
    {"LITERAL_SUFFIX", SQL_VARCHAR, SQL_NULLABLE, 128},
    {"CREATE_PARAMS", SQL_VARCHAR, SQL_NULLABLE, 128},
    {"NULLABLE", SQL_SMALLINT, SQL_NO_NULLS, 0},
    {"CASE_SENSITIVE", SQL_SMALLINT, SQL_NO_NULLS, 0},
    {"SEARCHABLE", SQL_SMALLINT, SQL_NO_NULLS, 0},
    {"UNSIGNED_ATTRIBUTE", SQL_SMALLINT, SQL_NULLABLE, 0},
    {"MONEY", SQL_SMALLINT, SQL_NO_NULLS, 0},
    {"AUTO_INCREMENT", SQL_SMALLINT, SQL_NULLABLE, 0},
    {"LOCAL_TYPE_NAME", SQL_VARCHAR, SQL_NULLABLE, 128},
    {"MINIMUM_SCALE", SQL_SMALLINT, SQL_NULLABLE, 0},
    {"MAXIMUM_SCALE", SQL_SMALLINT, SQL_NULLABLE, 0},
};

// Internal types of the values (the numbers of the framework's InternalType).
enum : uint16_t { valueCharacter = 1, valueSigned16 = 5, valueSigned32 = 7 };

// The ODBC 2 SQL types, which SQLGetTypeInfo may be asked for.
bool isOdbc2SqlType(int16_t type) {
  return (type >= SQL_BIT && type <= SQL_LONGVARCHAR) || (type >= SQL_CHAR && type <= SQL_VARCHAR);
}

// What decides UNSIGNED_ATTRIBUTE and AUTO_INCREMENT (NULL for other types).
bool isNumericType(int16_t type) {
  switch (type) {
    case SQL_NUMERIC: case SQL_DECIMAL: case SQL_TINYINT: case SQL_SMALLINT: case SQL_INTEGER:
    case SQL_BIGINT: case SQL_REAL: case SQL_FLOAT: case SQL_DOUBLE:
      return true;
    default:
      return false;
  }
}

// MINIMUM_SCALE and MAXIMUM_SCALE: 0 for the integer types, the row's own
// for the types that have a scale, NULL for all others.
enum ScaleRule { scaleNull, scaleZero, scaleStored };
ScaleRule scaleRule(int16_t type) {
  switch (type) {
    case SQL_BIT: case SQL_TINYINT: case SQL_BIGINT: case SQL_INTEGER: case SQL_SMALLINT:
      return scaleZero;
    case SQL_NUMERIC: case SQL_DECIMAL: case SQL_TIMESTAMP:
      return scaleStored;
    default:
      return scaleNull;
  }
}

const int16_t zeroScale = 0;

void setText(BaseTypeInfoValue* value, const unsigned char* text) {
  *value = {valueCharacter, text, text ? uint32_t(std::strlen(kvC(text))) : 0};
}

void setSmall(BaseTypeInfoValue* value, const int16_t* number) { *value = {valueSigned16, number, 2}; }

// Bytes of a driver's string at a time; longer texts are cut.
const uint32_t textBytes = 256;

}  // namespace

const BaseTypeInfoColumnDesc* baseTypeInfoColumns() { return typeInfoColumns; }

KvStatus baseTypeInfoRequest(int16_t asked, int16_t* sqlType) {
  if (asked >= SQL_TYPE_DATE && asked <= SQL_TYPE_TIMESTAMP) asked = int16_t(asked - SQL_TYPE_DATE + SQL_DATE);
  if (asked != SQL_ALL_TYPES && !isOdbc2SqlType(asked)) {
    addOdbcError(stateSqlType);
    return kvFailure;
  }
  *sqlType = asked;
  return kvSuccess;
}

// ---------------------------------------------------------------------------
// GetTypeRowInfo

GetTypeRowInfo::~GetTypeRowInfo() {
  for (unsigned char* text : {typeName, literalPrefix, literalSuffix, createParams, localTypeName}) ramFree(text);
}

int16_t GetTypeRowInfo::compare(const KvObject* other) const {
  const GetTypeRowInfo* that = static_cast<const GetTypeRowInfo*>(other);
  if (dataType != that->dataType) return dataType < that->dataType ? -1 : 1;
  if (!typeName || !that->typeName) return int16_t((typeName != nullptr) - (that->typeName != nullptr));
  return int16_t(strCompareIntl(typeName, that->typeName));
}

KvStatus GetTypeRowInfo::setText(unsigned char** field, const unsigned char* text, uint32_t length) {
  ramFree(*field);
  *field = nullptr;
  if (!text) return kvSuccess;
  *field = ramAllocStr(text, length);
  return *field ? kvSuccess : kvFailure;
}

// ---------------------------------------------------------------------------
// BaseGetTypesInfo

BaseGetTypesInfo::BaseGetTypesInfo(int16_t sqlType, BaseStatement* statement)
    : BaseCatalogInfo(statement, catalogTypeInfo), sqlType_(sqlType) {}

BaseGetTypesInfo::~BaseGetTypesInfo() = default;

KvStatus BaseGetTypesInfo::addTypeRow(GetTypeRowInfo* row) {
  if (sqlType_ != SQL_ALL_TYPES && row->dataType != sqlType_) {
    delete row;
    return kvSuccess;
  }
  return addRow(row);
}

KvStatus BaseGetTypesInfo::collectFromTable(BaseConnection* connection) {
  const BaseTypeRow* table = connection->getTypeTable();
  for (uint16_t i = 0; i < connection->getTypeCount(); ++i) {
    const BaseTypeRow& source = table[i];
    if (sqlType_ != SQL_ALL_TYPES && source.dataType != sqlType_) continue;
    GetTypeRowInfo* row = new GetTypeRowInfo;
    if (!row) return kvFailure;
    // The driver's string of an id; id 0 stands for NULL.
    auto driverText = [connection, row](unsigned char** field, uint16_t id) -> KvStatus {
      if (id == 0) return kvSuccess;
      unsigned char text[textBytes];
      text[0] = 0;
      const short length = connection->getDriverResourceStr(id, text, sizeof(text));
      return row->setText(field, text, length > 0 ? uint32_t(length) : 0);
    };
    auto staticText = [row](unsigned char** field, const char* text) -> KvStatus {
      return row->setText(field, kvU(text), text ? uint32_t(std::strlen(text)) : 0);
    };
    row->dataType = source.dataType;
    row->precision = int32_t(source.precision > 0x7FFFFFFF ? 0x7FFFFFFF : source.precision);
    row->nullable = source.nullable;
    row->searchable = source.searchable;
    row->caseSensitive = (source.flags & typeCaseSensitive) ? 1 : 0;
    row->unsignedAttribute = (source.flags & typeUnsigned) ? 1 : 0;
    row->money = (source.flags & typeMoney) ? 1 : 0;
    row->autoIncrement = (source.flags & typeAutoIncrement) ? 1 : 0;
    row->minimumScale = source.minimumScale;
    row->maximumScale = source.maximumScale;
    if (staticText(&row->typeName, source.typeName) != kvSuccess ||
        staticText(&row->literalPrefix, source.literalPrefix) != kvSuccess ||
        staticText(&row->literalSuffix, source.literalSuffix) != kvSuccess ||
        driverText(&row->createParams, source.createParamsId) != kvSuccess ||
        driverText(&row->localTypeName, source.localNameId) != kvSuccess) {
      delete row;
      return kvFailure;
    }
    if (addTypeRow(row) != kvSuccess) return kvFailure;
  }
  return kvSuccess;
}

// One row of the driver's result: texts as SQL_C_CHAR, numbers as
// SQL_C_SLONG, SQL_NULL_DATA leaving the field NULL (or 0).
KvStatus BaseGetTypesInfo::readDriverRow(BaseStatement* statement, GetTypeRowInfo* row) {
  for (uint16_t column = 1; column <= typeInfoColumnCount; ++column) {
    const BaseTypeInfoColumnDesc& desc = typeInfoColumns[column - 1];
    SQLLEN length = 0;
    if (desc.sqlType == SQL_VARCHAR) {
      unsigned char text[textBytes];
      BaseOutString out(text, SQLLEN(sizeof(text)), &length);
      out.keepAnsi();
      if (statement->getData(column, SQL_C_CHAR, &out) != kvSuccess) return kvFailure;
      if (length == SQL_NULL_DATA) continue;
      uint32_t bytes = length < 0 ? 0 : uint32_t(length);
      if (bytes > sizeof(text) - 1) bytes = sizeof(text) - 1;
      unsigned char** field = column == typeInfoTypeName        ? &row->typeName
                              : column == typeInfoLiteralPrefix ? &row->literalPrefix
                              : column == typeInfoLiteralSuffix ? &row->literalSuffix
                              : column == typeInfoCreateParams  ? &row->createParams
                                                                : &row->localTypeName;
      if (row->setText(field, text, bytes) != kvSuccess) return kvFailure;
      continue;
    }
    int32_t number = 0;
    BaseOutString out(&number, SQLLEN(sizeof(number)), &length);
    if (statement->getData(column, SQL_C_SLONG, &out) != kvSuccess) return kvFailure;
    if (length == SQL_NULL_DATA) continue;
    const int16_t small = int16_t(number);
    switch (column) {
      case typeInfoDataType: row->dataType = small; break;
      case typeInfoPrecision: row->precision = number; break;
      case typeInfoNullable: row->nullable = small; break;
      case typeInfoCaseSensitive: row->caseSensitive = small; break;
      case typeInfoSearchable: row->searchable = small; break;
      case typeInfoUnsigned: row->unsignedAttribute = small; break;
      case typeInfoMoney: row->money = small; break;
      case typeInfoAutoIncrement: row->autoIncrement = small; break;
      case typeInfoMinimumScale: row->minimumScale = small; break;
      case typeInfoMaximumScale: row->maximumScale = small; break;
      default: break;
    }
  }
  return kvSuccess;
}

KvStatus BaseGetTypesInfo::collectFromDriver(BaseStatement* statement, uint16_t* pending) {
  *pending = 0;
  if (statement->getTypeInfo(sqlType_) != kvSuccess) return kvFailure;
  if (statement->getFlags() & BaseStatement::flagAsync) {
    *pending = 1;
    return kvSuccess;
  }
  // A driver that never reports the end is stopped where the rows could no
  // longer be kept anyway.
  for (uint32_t fetched = 0;; ++fetched) {
    if (fetched == kvArrayMaxEntries) {
      addOdbcError(stateGeneral);
      return kvFailure;
    }
    uint16_t endOfData = 0;
    if (statement->fetchRow(&endOfData) != kvSuccess) return kvFailure;
    if (endOfData) break;
    GetTypeRowInfo* row = new GetTypeRowInfo;
    if (!row) return kvFailure;
    if (readDriverRow(statement, row) != kvSuccess) {
      delete row;
      return kvFailure;
    }
    if (addTypeRow(row) != kvSuccess) return kvFailure;
  }
  return statement->setToAllocatedState(0);
}

KvStatus BaseGetTypesInfo::collect(BaseStatement* statement, uint16_t* pending) {
  *pending = 0;
  BaseConnection* connection = statement->getConnection();
  const KvStatus status =
      connection->getTypeTable() ? collectFromTable(connection) : collectFromDriver(statement, pending);
  if (status != kvSuccess || *pending) return status;
  return sort();
}

void BaseGetTypesInfo::getValue(const GetTypeRowInfo& row, uint16_t column, BaseTypeInfoValue* value) {
  const bool numeric = isNumericType(row.dataType);
  const ScaleRule scale = scaleRule(row.dataType);
  *value = {valueCharacter, nullptr, 0};
  switch (column) {
    case typeInfoTypeName: setText(value, row.typeName); break;
    case typeInfoDataType: setSmall(value, &row.dataType); break;
    case typeInfoPrecision:
      if (row.precision != 0) *value = {valueSigned32, &row.precision, 4};
      break;
    case typeInfoLiteralPrefix: setText(value, row.literalPrefix); break;
    case typeInfoLiteralSuffix: setText(value, row.literalSuffix); break;
    case typeInfoCreateParams: setText(value, row.createParams); break;
    case typeInfoNullable: setSmall(value, &row.nullable); break;
    case typeInfoCaseSensitive: setSmall(value, &row.caseSensitive); break;
    case typeInfoSearchable: setSmall(value, &row.searchable); break;
    case typeInfoUnsigned:
      if (numeric) setSmall(value, &row.unsignedAttribute);
      break;
    case typeInfoMoney: setSmall(value, &row.money); break;
    case typeInfoAutoIncrement:
      if (numeric) setSmall(value, &row.autoIncrement);
      break;
    case typeInfoLocalTypeName: setText(value, row.localTypeName); break;
    case typeInfoMinimumScale:
    case typeInfoMaximumScale:
      if (scale == scaleZero) setSmall(value, &zeroScale);
      if (scale == scaleStored)
        setSmall(value, column == typeInfoMinimumScale ? &row.minimumScale : &row.maximumScale);
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------------------
// SQLGetTypeInfo

// A catalog result of kind catalogTypeInfo: the rows are gathered and
// sorted here, then fetched like any result. A driver that produces its rows
// asynchronously leaves SQL_STILL_EXECUTING, and the repeated call carries
// on with the same result set.
SQLRETURN BaseStatement::SQLGetTypeInfo(SQLSMALLINT fSqlType) {
  BaseCall call(this, SQL_API_SQLGETTYPEINFO);
  if (!call.isOpen()) return call.getResult();
  const bool continuing =
      (flags_ & flagAsync) && catalogInfo_ && catalogInfo_->getKind() == catalogTypeInfo;
  if (!continuing) {
    int16_t sqlType = 0;
    if (baseTypeInfoRequest(fSqlType, &sqlType) != kvSuccess) return call.exit(SQL_ERROR);
    if (startCatalogCall() != kvSuccess) return call.exit(SQL_ERROR);
    BaseGetTypesInfo* info = new BaseGetTypesInfo(sqlType, this);
    if (!info) return call.exit(SQL_ERROR);
    setCatalogInfo(info);
  }
  BaseGetTypesInfo* info = static_cast<BaseGetTypesInfo*>(catalogInfo_);
  uint16_t pending = 0;
  if (info->collect(this, &pending) != kvSuccess) {
    abandonStatement();
    return call.exit(SQL_ERROR);
  }
  if (pending) return call.exit(SQL_STILL_EXECUTING);
  // The driver's own result, if it made one, is closed; the columns are the
  // fifteen of type information.
  kind_ = stmtKindCatalog;
  if (setCatalogColumns(typeInfoColumnCount, baseTypeInfoColumns()) != kvSuccess) {
    abandonStatement();
    return call.exit(SQL_ERROR);
  }
  resetCursorPosition();
  cursorState_ = cursorOpen;
  return call.exit(SQL_SUCCESS);
}

KvStatus BaseGetTypesInfo::getColumnValue(uint16_t column, int16_t cType, BaseOutString* out) {
  const KvObject* current = getCurrentRow();
  BaseTypeInfoValue value = {valueCharacter, nullptr, 0};
  if (current && column >= 1 && column <= typeInfoColumnCount) {
    getValue(*static_cast<const GetTypeRowInfo*>(current), column, &value);
  }
  return putValue(column, cType, out, value.data, value.length, InternalType(value.internalType));
}
