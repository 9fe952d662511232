// Type information: the rows of SQLGetTypeInfo.
//
// A driver lists its data types either as a static table on its connection
// (BaseConnection::setTypeTable, rows of BaseTypeRow) or produces them as an
// ordinary result of its statement's getTypeInfo, read with fetchRow and
// getData (columns 1-15 in the order below). BaseGetTypesInfo gathers the
// rows of the type asked for into GetTypeRowInfo objects and sorts them by
// DATA_TYPE, then TYPE_NAME in the international collation; the value
// getter applies ODBC's NULL rules.
//
// Result columns:
//   1 TYPE_NAME           VARCHAR   not null   9 SEARCHABLE          SMALLINT not null
//   2 DATA_TYPE           SMALLINT  not null  10 UNSIGNED_ATTRIBUTE  SMALLINT
//   3 PRECISION           INTEGER             11 MONEY               SMALLINT not null
//   4 LITERAL_PREFIX      VARCHAR             12 AUTO_INCREMENT      SMALLINT
//   5 LITERAL_SUFFIX      VARCHAR             13 LOCAL_TYPE_NAME     VARCHAR
//   6 CREATE_PARAMS       VARCHAR             14 MINIMUM_SCALE       SMALLINT
//   7 NULLABLE            SMALLINT  not null  15 MAXIMUM_SCALE       SMALLINT
//   8 CASE_SENSITIVE      SMALLINT  not null
#pragma once

#include "base/catalog/base_catalog_info.h"
#include "base/base_types.h"
#include "util/containers/kv_array.h"

// Bits of BaseTypeRow::flags.
enum : uint16_t {
  typeUnsigned = 0x1,       // UNSIGNED_ATTRIBUTE
  typeMoney = 0x2,          // MONEY
  typeAutoIncrement = 0x4,  // AUTO_INCREMENT
  typeCaseSensitive = 0x8,  // CASE_SENSITIVE
};

// One row of a driver's type table. Texts are the driver's static data;
// string ids are the driver's strings (getDriverResourceStr), 0 for NULL.
struct BaseTypeRow {
  const char* typeName;       // TYPE_NAME
  uint16_t localNameId;       // LOCAL_TYPE_NAME
  int16_t dataType;           // DATA_TYPE, an ODBC SQL type
  uint32_t precision;         // PRECISION; 0 is NULL
  const char* literalPrefix;  // null is NULL
  const char* literalSuffix;  // null is NULL
  uint16_t createParamsId;    // CREATE_PARAMS
  int16_t nullable;           // NULLABLE
  int16_t searchable;         // SEARCHABLE
  uint16_t flags;             // typeUnsigned ...
  int16_t minimumScale;
  int16_t maximumScale;
};

enum BaseTypeInfoColumn : uint16_t {
  typeInfoTypeName = 1,
  typeInfoDataType,
  typeInfoPrecision,
  typeInfoLiteralPrefix,
  typeInfoLiteralSuffix,
  typeInfoCreateParams,
  typeInfoNullable,
  typeInfoCaseSensitive,
  typeInfoSearchable,
  typeInfoUnsigned,
  typeInfoMoney,
  typeInfoAutoIncrement,
  typeInfoLocalTypeName,
  typeInfoMinimumScale,
  typeInfoMaximumScale,
  typeInfoColumnCount = typeInfoMaximumScale,
};

// Description of one result column (the shape of every catalog result).
using BaseTypeInfoColumnDesc = CatalogColumnDesc;
// The 15 columns, column n at index n - 1.
KV_BASE_API const BaseTypeInfoColumnDesc* baseTypeInfoColumns();

// One result row; owns its texts (null is NULL).
class KV_BASE_API GetTypeRowInfo : public KvObject {
 public:
  GetTypeRowInfo() = default;
  ~GetTypeRowInfo() override;
  // DATA_TYPE ascending, then TYPE_NAME in the international collation.
  int16_t compare(const KvObject* other) const override;
  // Takes its own copy of text (null stays null).
  KvStatus setText(unsigned char** field, const unsigned char* text, uint32_t length);

  unsigned char* typeName = nullptr;
  int16_t dataType = 0;
  int32_t precision = 0;
  unsigned char* literalPrefix = nullptr;
  unsigned char* literalSuffix = nullptr;
  unsigned char* createParams = nullptr;
  int16_t nullable = 0;
  int16_t caseSensitive = 0;
  int16_t searchable = 0;
  int16_t unsignedAttribute = 0;
  int16_t money = 0;
  int16_t autoIncrement = 0;
  unsigned char* localTypeName = nullptr;
  int16_t minimumScale = 0;
  int16_t maximumScale = 0;
};

// A column value of a row as the conversion to C types takes it: the
// internal type (1 character, 5 signed 16-bit, 7 signed 32-bit), the bytes
// and their length. data is null for NULL.
struct BaseTypeInfoValue {
  uint16_t internalType;
  const void* data;
  uint32_t length;
};

// The SQL type that SQLGetTypeInfo is asked for, as the rows are selected:
// 0 (every type) and the ODBC 2 types stand; the ODBC 3 date, time and
// timestamp codes 91-93 (which the Driver Manager passes on unchanged from
// ODBC 3 applications) are 9-11. Anything else posts S1004 and fails.
KV_BASE_API KvStatus baseTypeInfoRequest(int16_t asked, int16_t* sqlType);

// The rows of one SQLGetTypeInfo call: the statement's catalog result set
// of kind catalogTypeInfo once collected (statement may be null while it
// only collects from a table).
class KV_BASE_API BaseGetTypesInfo : public BaseCatalogInfo {
 public:
  explicit BaseGetTypesInfo(int16_t sqlType, BaseStatement* statement = nullptr);
  ~BaseGetTypesInfo() override;

  // From the connection's type table: every row of the type asked for (of
  // every type for 0), its string ids turned into the driver's texts.
  KvStatus collectFromTable(BaseConnection* connection);
  // From the driver: its getTypeInfo, then every row of its result read
  // with fetchRow and getData (rows of other types dropped), and its result
  // closed (setToAllocatedState). When the driver leaves an asynchronous
  // operation running, *pending becomes 1 and the call is to be repeated.
  KvStatus collectFromDriver(BaseStatement* statement, uint16_t* pending);
  // The table when the connection has one, else the driver; then sorted.
  KvStatus collect(BaseStatement* statement, uint16_t* pending);
  KvStatus sort() { return sortRows(); }
  // Column (1-15) of the current row with the NULL rules of getValue, as
  // cType through the statement's conversion.
  KvStatus getColumnValue(uint16_t column, int16_t cType, BaseOutString* out) override;

  int16_t getSqlType() const { return sqlType_; }
  const GetTypeRowInfo* getRow(uint16_t index) const { return static_cast<const GetTypeRowInfo*>(rows_[index]); }
  // Column n (1-15) of a row with ODBC's NULL rules; any other column is NULL.
  static void getValue(const GetTypeRowInfo& row, uint16_t column, BaseTypeInfoValue* value);

 private:
  KvStatus addTypeRow(GetTypeRowInfo* row);
  KvStatus readDriverRow(BaseStatement* statement, GetTypeRowInfo* row);

  int16_t sqlType_;
};
