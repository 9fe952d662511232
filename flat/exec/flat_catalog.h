// The engine's answers to the catalog functions SQLTables, SQLColumns,
// SQLSpecialColumns and SQLStatistics for a database that is a directory of
// table files.
//
// The framework checks a call's arguments into its catalog result set and
// calls the statement's executeXxx operation; the statement makes one of
// the descriptors below its head descriptor, lets it read the arguments
// (setParameters) and produce every row at once (getResultSet), and then
// serves the rows through its own fetchRow and getData, from which the
// framework copies them (base/base_catalog_*.h). The descriptor goes with
// the statement's return to the allocated state.
//
// Names: the qualifier is the directory that holds the tables (given, or
// the connection's database directory); the file drivers have no owners;
// the tables are the files of the driver's extension in that directory,
// found through the connection's enumeration (FlatConnection::getTable),
// and their columns and indexes come from opening each table through the
// driver's reader. Every text of a row holds at most 128 bytes (the width
// of the ODBC catalog columns); longer names are cut there.
#pragma once

#include "base/catalog/base_catalog_info.h"
#include "flat/sql/flat_descriptor.h"
#include "util/error_list.h"

#include <functional>
#include <string>
#include <vector>

class BaseOutString;

// A text column of a catalog row: 128 bytes and the terminator.
enum : uint32_t { flatCatalogTextBytes = 129 };
// A driver's enumeration of names is cut off here, so that one that never
// ends cannot hang a call: more names than a catalog result holds rows.
enum : uint32_t { flatCatalogMaxNames = 0x10000 };

// Fills a catalog text (flatCatalogTextBytes) from text, cut at 128 bytes
// without splitting a double-byte character; null gives "".
KV_FLAT_API void flatCatalogText(unsigned char* field, const unsigned char* text);

// LENGTH of a column as SQLColumns reports it: the bytes of its value in
// the default C type (base/results/base_column_metrics.h); for DECIMAL and NUMERIC
// the digits, a byte for the point when the scale is not 0 and one for the
// sign when isSigned. A type outside ODBC's gives its precision.
KV_FLAT_API int32_t flatCatalogLength(int16_t sqlType, uint32_t precision, int16_t scale, bool isSigned);
// Whether SQLColumns reports a SCALE (and SQLSpecialColumns a SCALE) for
// the type, and whether it reports a RADIX.
KV_FLAT_API bool flatCatalogHasScale(int16_t sqlType);
KV_FLAT_API bool flatCatalogHasRadix(int16_t sqlType);

// The base of the four descriptors: the call's qualifier, owner and table
// arguments, the rows (sorted by their compare), the table opened last, and
// the walks over qualifiers, owners and tables that the subclasses share.
class KV_FLAT_API FlatCatalogDesc : public FlatDescriptor {
 public:
  // Which names the descriptor enumerates; a clear bit means the argument
  // is used as given.
  enum : uint16_t { enumQualifiers = 0x1, enumOwners = 0x2, enumTables = 0x4 };

  FlatCatalogDesc(FlatStatement* statement, BaseCatalogKind kind, uint16_t enumerate);
  // Deletes the rows, the opened table and the argument copies.
  ~FlatCatalogDesc() override;

  // ---- virtual operations, in slot order after FlatDescriptor's
  // Opens table in qualifier (the directory; null: the database directory)
  // through the driver's reader, replacing the table opened before; the
  // owner is not used.
  virtual KvStatus openTable(const unsigned char* qualifier, const unsigned char* owner, const unsigned char* table);
  // Reads the arguments (and options) of the framework's result set; a
  // qualifier or owner the connection cannot use is S1C00.
  virtual KvStatus setParameters(BaseCatalogInfo* info);
  // Makes every row of the result.
  virtual KvStatus getResultSet();
  // Column (1-based) of row (0-based) into out as cType: NULL for a flagged
  // value or an empty text.
  virtual KvStatus getColumnData(uint16_t row, uint16_t column, int16_t cType, BaseOutString* out);

  BaseCatalogKind getCatalogKind() const { return kind_; }
  uint16_t getRowCount() const { return rows_.getCount(); }
  const KvObject* getRow(uint16_t row) const { return row < rows_.getCount() ? rows_[row] : nullptr; }
  FlatFileDesc* getOpenedTable() const { return opened_; }
  const unsigned char* getQualifier() const { return qualifier_; }
  const unsigned char* getOwner() const { return owner_; }
  const unsigned char* getTableName() const { return table_; }

  // ---- argument setters: each replaces the previous copy (null and ""
  // clear it). A non-empty qualifier needs flatQualifiersUsable, a
  // non-empty owner flatOwnersUsable (else S1C00). The table pattern is the
  // framework's pattern copy of a table-name argument (null: every table).
  KvStatus setQualifier(const unsigned char* qualifier);
  KvStatus setOwner(const unsigned char* owner);
  KvStatus setTable(const unsigned char* table);
  KvStatus setTablePattern(const unsigned char* pattern);

  // ---- walks. Each calls visit with every name it yields, in order, and
  // stops at visit's first failure; the text is null where a name is absent
  // (no qualifier, no owner).
  typedef std::function<KvStatus(const unsigned char* name)> NameVisit;
  // Qualifiers: the given one (a directory, never matched as a pattern);
  // else, with enumQualifiers and a connection that lists qualifiers, the
  // connection's; else the database directory when qualifiers are usable,
  // null otherwise.
  KvStatus walkQualifiers(const NameVisit& visit);
  // Owners of qualifier: with enumOwners and a connection that lists owners,
  // those matching the owner argument; without enumOwners the given owner
  // once; else a given owner is S1C00 and the walk gives null once.
  KvStatus walkOwners(const unsigned char* qualifier, const NameVisit& visit);
  // Tables of qualifier: with enumTables and a connection that lists
  // tables, the table files matching the table pattern (case ignored when
  // the connection's table-name patterns ignore it), all listed before the
  // first visit; without enumTables the given name.
  KvStatus walkTables(const unsigned char* qualifier, const unsigned char* owner, const NameVisit& visit);
  // Finds the table argument among the table files of the qualifier (or of
  // the database directory), case ignored where table-name patterns ignore
  // it, and opens it; *found 0 (nothing opened) when there is no such table.
  KvStatus openNamedTable(uint16_t* found);

 protected:
  // Appends a row (the array takes it; a failure deletes it).
  KvStatus addRow(KvObject* row);
  KvStatus sortRows() { return rows_.resort(); }
  // Whether name matches pattern as catalog names do: "%", "_" and the
  // data source's search-pattern escape; case ignored when ignoreCase. No
  // pattern matches every name.
  bool nameMatches(const unsigned char* name, const unsigned char* pattern, bool ignoreCase) const;
  unsigned char patternEscape() const;
  // Whether table names compare without regard to case on this connection.
  bool tableNamesIgnoreCase() const;
  FlatConnection* connection() const;
  // The names of the connection's table files in qualifier that match
  // pattern, in the enumeration's order.
  KvStatus listTables(const unsigned char* qualifier, const unsigned char* pattern, bool ignoreCase,
                      std::vector<std::string>* names);
  // A value of the current row into out: data null, or an empty text, is
  // NULL; else the statement's convertInternalToC.
  KvStatus putValue(uint16_t column, int16_t cType, BaseOutString* out, const void* data, int32_t length,
                    InternalType type);
  KvStatus putText(uint16_t column, int16_t cType, BaseOutString* out, const unsigned char* text);
  // A 16-bit or 32-bit number, NULL unless present.
  KvStatus putShort(uint16_t column, int16_t cType, BaseOutString* out, bool present, int16_t value);
  KvStatus putLong(uint16_t column, int16_t cType, BaseOutString* out, bool present, int32_t value);

  BaseCatalogKind kind_;
  uint16_t enumerate_;
  unsigned char* qualifier_ = nullptr;
  unsigned char* owner_ = nullptr;
  unsigned char* table_ = nullptr;
  unsigned char* tablePattern_ = nullptr;
  FlatFileDesc* opened_ = nullptr;
  KvSortedArray rows_;
};

// Makes a catalog descriptor of the statement; null (with the memory
// error) when out of memory.
template <class T>
T* flatNewCatalogDesc(FlatStatement* statement) {
  T* descriptor = new T(statement);
  if (!descriptor) KvErrorKeeper::addMemoryError();
  return descriptor;
}
// SQLTables.
class KV_FLAT_API FlatTableDesc : public FlatCatalogDesc {
 public:
  // Bits of the type mask: the five types the engine can list.
  enum : uint16_t { maskTable = 0x1, maskView = 0x2, maskSystemTable = 0x4, maskAlias = 0x8, maskSynonym = 0x10 };
  explicit FlatTableDesc(FlatStatement* statement);

  KvStatus setParameters(BaseCatalogInfo* info) override;
  KvStatus getResultSet() override;
  KvStatus getColumnData(uint16_t row, uint16_t column, int16_t cType, BaseOutString* out) override;
  // TABLE_TYPE of a type number (0 TABLE ... 4 SYNONYM; others "").
  virtual const unsigned char* getTypeName(uint16_t type);
  // Every name of type in qualifier and owner: visit for each.
  virtual KvStatus getTypeMatch(uint16_t type, const unsigned char* qualifier, const unsigned char* owner,
                                const NameVisit& visit);

  uint32_t getMode() const { return mode_; }
  void setMode(uint32_t mode) { mode_ = mode; }
  uint16_t getTypeMask() const { return typeMask_; }
  void setTypeMask(uint16_t mask) { typeMask_ = mask; }

 private:
  uint32_t mode_ = 0;      // BaseTablesMode
  uint16_t typeMask_ = 0;  // mask* bits
};

// SQLColumns.
class KV_FLAT_API FlatColumnDesc : public FlatCatalogDesc {
 public:
  explicit FlatColumnDesc(FlatStatement* statement);
  ~FlatColumnDesc() override;

  KvStatus setParameters(BaseCatalogInfo* info) override;
  KvStatus getResultSet() override;
  KvStatus getColumnData(uint16_t row, uint16_t column, int16_t cType, BaseOutString* out) override;
  // The column-name pattern (null: every column).
  KvStatus setColumnPattern(const unsigned char* pattern);
  // The rows of the table opened last, for qualifier, owner and name.
  KvStatus addTableColumns(const unsigned char* qualifier, const unsigned char* owner, const unsigned char* table);

 private:
  unsigned char* columnPattern_ = nullptr;
};

// SQLSpecialColumns.
class KV_FLAT_API FlatSpecialDesc : public FlatCatalogDesc {
 public:
  explicit FlatSpecialDesc(FlatStatement* statement);

  KvStatus setParameters(BaseCatalogInfo* info) override;
  KvStatus getResultSet() override;
  KvStatus getColumnData(uint16_t row, uint16_t column, int16_t cType, BaseOutString* out) override;
  // The better of best and candidate as the row identifier under the call's
  // scope and nullable option (either may be null).
  FlatIndexDesc* pickBest(FlatIndexDesc* best, FlatIndexDesc* candidate);
  void setOptions(uint16_t columnType, uint16_t scope, uint16_t nullable) {
    colType_ = columnType;
    scope_ = scope;
    nullable_ = nullable;
  }

 private:
  KvStatus addBestRowId();
  KvStatus addRowVersion();

  uint16_t colType_ = 0;   // SQL_BEST_ROWID or SQL_ROWVER
  uint16_t scope_ = 0;     // SQL_SCOPE_CURROW ...
  uint16_t nullable_ = 0;  // SQL_NO_NULLS or SQL_NULLABLE
};

// SQLStatistics.
class KV_FLAT_API FlatStatisticsDesc : public FlatCatalogDesc {
 public:
  explicit FlatStatisticsDesc(FlatStatement* statement);

  KvStatus setParameters(BaseCatalogInfo* info) override;
  KvStatus getResultSet() override;
  KvStatus getColumnData(uint16_t row, uint16_t column, int16_t cType, BaseOutString* out) override;
  void setUnique(uint16_t unique) { unique_ = unique; }

 private:
  KvStatus addRows();

  uint16_t unique_ = 0;  // SQL_INDEX_UNIQUE or SQL_INDEX_ALL
};
