// SQLTables and SQLColumns of the file engine: FlatTableDesc lists table
// files (and, for drivers that have them, views, system tables, aliases and
// synonyms) by qualifier and owner; FlatColumnDesc opens every matching
// table and lists its columns in table order. See flat_catalog.h.
#include "base/catalog/base_catalog_columns.h"
#include "base/catalog/base_catalog_families.h"
#include "base/catalog/base_catalog_tables.h"
#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "flat/connection/flat_connection.h"
#include "flat/connection/flat_file_desc.h"
#include "flat/connection/flat_shared_desc.h"
#include "flat/exec/flat_catalog.h"
#include "flat/sql/flat_select_field.h"
#include "util/memory/ram.h"
#include "util/containers/str_functions.h"

#include <cstring>

namespace {

int sign(int value) { return value < 0 ? -1 : value > 0 ? 1 : 0; }

// Two names in the international collation; names it holds equal (such as
// "emp" and "EMP", two files on Linux) are kept apart by their bytes, so
// that the rows of two tables never interleave.
int compareNames(const unsigned char* a, const unsigned char* b) {
  const int order = strCompareIntl(a, b);
  return order ? sign(order) : sign(std::strcmp(kvC(a), kvC(b)));
}

// A present name sorts before an absent one.
int comparePresence(bool aAbsent, bool bAbsent) { return aAbsent == bAbsent ? 0 : aAbsent ? 1 : -1; }

// ---------------------------------------------------------------- SQLTables rows

class FlatTableRow : public KvObject {
 public:
  enum : uint16_t { noQualifier = 0x1, noOwner = 0x2 };
  int16_t compare(const KvObject* other) const override;

  unsigned char texts[tablesRemarks][flatCatalogTextBytes] = {};  // by TablesColumn - 1
  uint16_t flags = 0;
  unsigned char* text(uint16_t column) { return texts[column - 1]; }
  const unsigned char* text(uint16_t column) const { return texts[column - 1]; }
};

int16_t FlatTableRow::compare(const KvObject* other) const {
  const FlatTableRow& that = *static_cast<const FlatTableRow*>(other);
  int order = compareNames(text(tablesType), that.text(tablesType));
  if (!order) order = comparePresence(flags & noQualifier, that.flags & noQualifier);
  if (!order) order = compareNames(text(tablesQualifier), that.text(tablesQualifier));
  if (!order) order = comparePresence(flags & noOwner, that.flags & noOwner);
  if (!order) order = compareNames(text(tablesOwner), that.text(tablesOwner));
  if (!order) order = compareNames(text(tablesName), that.text(tablesName));
  return int16_t(order);
}

// ---------------------------------------------------------------- SQLColumns rows

class FlatColumnRow : public KvObject {
 public:
  // Null flags.
  enum : uint16_t {
    noQualifier = 0x1,
    noOwner = 0x2,
    noPrecision = 0x4,
    noLength = 0x8,
    noScale = 0x10,
    noRadix = 0x20,
    noRemarks = 0x40,
  };
  int16_t compare(const KvObject* other) const override;

  unsigned char qualifier[flatCatalogTextBytes] = {};
  unsigned char owner[flatCatalogTextBytes] = {};
  unsigned char table[flatCatalogTextBytes] = {};
  unsigned char column[flatCatalogTextBytes] = {};
  unsigned char typeName[flatCatalogTextBytes] = {};
  int16_t dataType = 0;
  int32_t precision = 0;
  int32_t length = 0;
  int16_t scale = 0;
  int16_t radix = 0;
  int16_t nullable = SQL_NULLABLE;
  uint16_t position = 0;  // in its table, from 0
  uint16_t flags = noRemarks;
};

int16_t FlatColumnRow::compare(const KvObject* other) const {
  const FlatColumnRow& that = *static_cast<const FlatColumnRow*>(other);
  int order = comparePresence(flags & noQualifier, that.flags & noQualifier);
  if (!order) order = comparePresence(flags & noOwner, that.flags & noOwner);
  if (!order) order = compareNames(qualifier, that.qualifier);
  if (!order) order = compareNames(owner, that.owner);
  if (!order) order = compareNames(table, that.table);
  if (!order) order = position < that.position ? -1 : position > that.position ? 1 : 0;
  return int16_t(order);
}

}  // namespace

// ---------------------------------------------------------------- FlatTableDesc

FlatTableDesc::FlatTableDesc(FlatStatement* statement)
    : FlatCatalogDesc(statement, catalogTables, enumQualifiers | enumOwners | enumTables) {}

KvStatus FlatTableDesc::setParameters(BaseCatalogInfo* info) {
  if (!info || info->getKind() != catalogTables) {
    addOdbcError(stateGeneral);
    return kvFailure;
  }
  auto* tables = static_cast<BaseTablesInfo*>(info);
  mode_ = tables->getMode();
  const uint32_t mask = tables->getTypeMask();
  // SQLColumns' own search, and a driver's every-type bit, let every type
  // through.
  typeMask_ = (mask & (typeFromColumns | typeEveryType)) ? uint16_t(0x1F) : uint16_t(mask & 0x1F);
  if (setQualifier(tables->getArgument(catalogArgQualifier)) != kvSuccess ||
      setOwner(tables->getArgument(catalogArgOwner)) != kvSuccess ||
      setTable(tables->getArgument(catalogArgTable)) != kvSuccess ||
      setTablePattern(tables->getPattern(catalogArgTable)) != kvSuccess)
    return kvFailure;
  return kvSuccess;
}

const unsigned char* FlatTableDesc::getTypeName(uint16_t type) {
  static const char* const names[] = {"TABLE", "VIEW", "SYSTEM TABLE", "ALIAS", "SYNONYM"};
  return kvU(type < 5 ? names[type] : "");
}

KvStatus FlatTableDesc::getTypeMatch(uint16_t type, const unsigned char* qualifier, const unsigned char* owner,
                                     const NameVisit& visit) {
  if (type == 0) return walkTables(qualifier, owner, visit);
  typedef KvStatus (FlatConnection::*Lister)(unsigned char**, const unsigned char*, const unsigned char*, uint16_t);
  static const struct {
    uint32_t listed;
    Lister list;
  } kinds[] = {{flatViewsListed, &FlatConnection::getView},
               {flatSystemTablesListed, &FlatConnection::getSystemTable},
               {flatAliasesListed, &FlatConnection::getAlias},
               {flatSynonymsListed, &FlatConnection::getSynonym}};
  if (type > 4 || !(connection()->getEngineFlags() & kinds[type - 1].listed)) return kvSuccess;
  std::vector<std::string> names;
  FlatConnection* link = connection();
  for (uint32_t n = 0; n < flatCatalogMaxNames; ++n) {
    unsigned char* name = nullptr;
    if ((link->*kinds[type - 1].list)(&name, qualifier, tablePattern_, n == 0 ? 1 : 0) != kvSuccess) return kvFailure;
    if (!name) break;
    if (nameMatches(name, tablePattern_, 0)) names.emplace_back(kvC(name));
    ramFree(name);
  }
  for (const std::string& name : names)
    if (visit(kvU(name.c_str())) != kvSuccess) return kvFailure;
  return kvSuccess;
}

KvStatus FlatTableDesc::getResultSet() {
  // One row per name; what the row does not name stays NULL.
  auto addName = [this](const unsigned char* qualifier, const unsigned char* owner, const unsigned char* name,
                        const unsigned char* type) {
    auto* row = new FlatTableRow;
    if (row) {
      if (!qualifier) row->flags |= FlatTableRow::noQualifier;
      if (!owner) row->flags |= FlatTableRow::noOwner;
      flatCatalogText(row->text(tablesQualifier), qualifier);
      flatCatalogText(row->text(tablesOwner), owner);
      flatCatalogText(row->text(tablesName), name);
      flatCatalogText(row->text(tablesType), type);
    }
    return addRow(row);
  };
  KvStatus status = kvSuccess;
  switch (mode_) {
    case tablesListQualifiers:
      // A walk that yields no qualifier (a null) makes no row.
      status = walkQualifiers([&](const unsigned char* qualifier) {
        return qualifier ? addName(qualifier, nullptr, nullptr, nullptr) : kvSuccess;
      });
      break;
    case tablesListOwners:
      status = walkOwners(nullptr, [&](const unsigned char* owner) {
        return owner ? addName(nullptr, owner, nullptr, nullptr) : kvSuccess;
      });
      break;
    case tablesSearch:
      for (uint16_t type = 0; type < 5 && status == kvSuccess; ++type) {
        if (!(typeMask_ & (1u << type))) continue;
        const unsigned char* typeName = getTypeName(type);
        status = walkQualifiers([&](const unsigned char* qualifier) {
          return walkOwners(qualifier, [&](const unsigned char* owner) {
            return getTypeMatch(type, qualifier, owner, [&](const unsigned char* name) {
              return addName(qualifier, owner, name, typeName);
            });
          });
        });
      }
      break;
    default:
      addOdbcError(stateGeneral);
      return kvFailure;
  }
  if (status != kvSuccess) return kvFailure;
  return sortRows();
}

KvStatus FlatTableDesc::getColumnData(uint16_t row, uint16_t column, int16_t cType, BaseOutString* out) {
  const auto* values = static_cast<const FlatTableRow*>(getRow(row));
  const unsigned char* text = nullptr;
  if (values && column >= tablesQualifier && column <= tablesRemarks) {
    text = values->text(column);
    if ((column == tablesQualifier && (values->flags & FlatTableRow::noQualifier)) ||
        (column == tablesOwner && (values->flags & FlatTableRow::noOwner)))
      text = nullptr;
  }
  return putText(column, cType, out, text);
}

// ---------------------------------------------------------------- FlatColumnDesc

FlatColumnDesc::FlatColumnDesc(FlatStatement* statement)
    : FlatCatalogDesc(statement, catalogColumns, enumOwners | enumTables) {}

FlatColumnDesc::~FlatColumnDesc() { ramFree(columnPattern_); }

KvStatus FlatColumnDesc::setColumnPattern(const unsigned char* pattern) {
  unsigned char* copy = pattern ? ramAllocStr(pattern) : nullptr;
  if (pattern && !copy) {
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  ramFree(columnPattern_);
  columnPattern_ = copy;
  return kvSuccess;
}

KvStatus FlatColumnDesc::setParameters(BaseCatalogInfo* info) {
  if (!info || info->getKind() != catalogColumns) {
    addOdbcError(stateGeneral);
    return kvFailure;
  }
  auto* columns = static_cast<BaseColumnsInfo*>(info);
  if (setQualifier(columns->getArgument(catalogArgQualifier)) != kvSuccess ||
      setOwner(columns->getArgument(catalogArgOwner)) != kvSuccess ||
      setTable(columns->getArgument(catalogArgTable)) != kvSuccess ||
      setTablePattern(columns->getPattern(catalogArgTable)) != kvSuccess ||
      setColumnPattern(columns->getPattern(catalogArgColumn)) != kvSuccess)
    return kvFailure;
  return kvSuccess;
}

KvStatus FlatColumnDesc::addTableColumns(const unsigned char* qualifier, const unsigned char* owner,
                                         const unsigned char* table) {
  FlatSharedDesc* shared = opened_ ? opened_->getShared() : nullptr;
  if (!shared) {
    addOdbcError(stateGeneral);
    return kvFailure;
  }
  for (uint16_t i = 0; i < shared->getColumnCount(); ++i) {
    FlatSharedField* field = shared->getColumn(i);
    if (!field || !nameMatches(field->getName(), columnPattern_, 1)) continue;
    auto* row = new FlatColumnRow;
    if (row) {
      if (!qualifier) row->flags |= FlatColumnRow::noQualifier;
      if (!owner) row->flags |= FlatColumnRow::noOwner;
      flatCatalogText(row->qualifier, qualifier);
      flatCatalogText(row->owner, owner);
      flatCatalogText(row->table, table);
      flatCatalogText(row->column, field->getName());
      flatCatalogText(row->typeName, field->getTypeName());
      const int16_t type = field->getSqlType();
      const uint32_t precision = field->getPrecision();
      const bool isSigned = !(field->getAttributes() & FlatSelectField::attributeUnsigned);
      row->dataType = type;
      row->precision = precision > 0x7FFFFFFF ? 0x7FFFFFFF : int32_t(precision);
      row->length = flatCatalogLength(type, precision, field->getScale(), isSigned);
      row->scale = field->getScale();
      if (!flatCatalogHasScale(type)) row->flags |= FlatColumnRow::noScale;
      row->radix = 10;
      if (!flatCatalogHasRadix(type)) row->flags |= FlatColumnRow::noRadix;
      row->position = i;
    }
    if (addRow(row) != kvSuccess) return kvFailure;
  }
  return kvSuccess;
}

KvStatus FlatColumnDesc::getResultSet() {
  const KvStatus status = walkQualifiers([&](const unsigned char* qualifier) {
    return walkOwners(qualifier, [&](const unsigned char* owner) {
      return walkTables(qualifier, owner, [&](const unsigned char* table) {
        if (!table) return kvSuccess;
        if (openTable(qualifier, owner, table) != kvSuccess) return kvFailure;
        return addTableColumns(qualifier, owner, table);
      });
    });
  });
  // The last table need not stay open with the rows.
  delete opened_;
  opened_ = nullptr;
  if (status != kvSuccess) return kvFailure;
  return sortRows();
}

KvStatus FlatColumnDesc::getColumnData(uint16_t row, uint16_t column, int16_t cType, BaseOutString* out) {
  const auto* values = static_cast<const FlatColumnRow*>(getRow(row));
  if (!values) return putText(column, cType, out, nullptr);
  const uint16_t nulls = values->flags;
  switch (column) {
    case 1: return putText(column, cType, out, (nulls & FlatColumnRow::noQualifier) ? nullptr : values->qualifier);
    case 2: return putText(column, cType, out, (nulls & FlatColumnRow::noOwner) ? nullptr : values->owner);
    case 3: return putText(column, cType, out, values->table);
    case 4: return putText(column, cType, out, values->column);
    case 5: return putShort(column, cType, out, 1, values->dataType);
    case 6: return putText(column, cType, out, values->typeName);
    case 7: return putLong(column, cType, out, !(nulls & FlatColumnRow::noPrecision), values->precision);
    case 8: return putLong(column, cType, out, !(nulls & FlatColumnRow::noLength), values->length);
    case 9: return putShort(column, cType, out, !(nulls & FlatColumnRow::noScale), values->scale);
    case 10: return putShort(column, cType, out, !(nulls & FlatColumnRow::noRadix), values->radix);
    case 11: return putShort(column, cType, out, 1, values->nullable);
    default: return putText(column, cType, out, nullptr);  // REMARKS and beyond
  }
}
