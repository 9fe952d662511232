// Opening a defined name as a table, the scan that names and types its
// columns, and the rows read from its sheet (xls_table.h).
#include "drivers/excel/excel5/xls_table.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include <sql.h>
#include <sqlext.h>

#include "base/convert/base_date.h"
#include "base/handles/base_error_list.h"
#include "base/handles/base_message_ids.h"
#include "drivers/excel/excel5/xls_connection.h"
#include "drivers/excel/excel5_message_ids.h"
#include "flat/connection/flat_rid.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "util/byte_order.h"

namespace {

// A STRING record carries no cell position: it holds the text result of the
// FORMULA record before it. Keeps the last formula's position and gives it to
// the STRING that follows; false for a STRING with no formula before it.
struct XlsFormulaPlace {
  uint16_t row = 0;
  uint16_t column = 0;
  bool seen = false;
  bool place(uint16_t type, BiffCell* cell) {
    if (type == biffFormula) {
      row = cell->row;
      column = cell->column;
      seen = true;
    } else if (type == biffString) {
      if (!seen) return false;
      cell->row = row;
      cell->column = column;
    }
    return true;
  }
};

// Day numbers of the two date systems' day 0: 1899-12-30 and 1903-12-31 in
// the framework's count (a serial number plus the base is a day number).
constexpr double kDayBase1900 = 2415019;
constexpr double kDayBase1904 = 2416481;
constexpr uint32_t kMaxColumnNameChars = 32;
constexpr uint32_t kMaxScanRows = 65535;

// Widths of the types when a column is shown as it is, and when FieldGuessing
// is off and it becomes CHAR.
uint16_t typeWidth(XlsType type) {
  static const uint16_t widths[] = {1, 15, 10, 8, 19, 255, 255};
  return widths[type];
}
uint16_t charWidthOf(XlsType type) {
  switch (type) {
    case xlsLogical: return 4;
    case xlsNumber: return 12;
    case xlsDate:
    case xlsTime:
    case xlsTimestamp: return 22;
    default: return 255;
  }
}

const char* typeName(XlsType type) {
  static const char* names[] = {"LOGICAL", "NUMBER", "DATE", "TIME", "TIMESTAMP", "CHAR", "CHAR"};
  return names[type];
}

// A number cell guessed into a column.
void guessNumber(XlsSharedField* field, XlsType formatClass) {
  switch (field->type) {
    case xlsUnknown:
    case xlsLogical:
      field->type = formatClass;
      break;
    case xlsDate:
    case xlsTime:
      if (formatClass == xlsTimestamp) field->type = xlsTimestamp;
      break;
    case xlsChar:
      field->width = std::max<uint16_t>(field->width, 12);
      break;
    default:
      break;
  }
}

void guessText(XlsSharedField* field) {
  field->type = xlsChar;
  field->width = 255;
}

void guessBoolean(XlsSharedField* field) {
  if (field->type == xlsUnknown) field->type = xlsLogical;
}

bool inColumns(const XlsNameDesc& area, uint16_t column) {
  return column >= area.firstColumn && column <= area.lastColumn;
}

// Splits "path\name" at its last "\".
bool splitFullName(const std::string& fullName, std::string* path, std::string* name) {
  size_t cut = fullName.rfind('\\');
  if (cut == std::string::npos) return false;
  *path = fullName.substr(0, cut);
  *name = fullName.substr(cut + 1);
  return true;
}

}  // namespace

std::string xlsNumberText(double number) {
  if (!std::isfinite(number)) return std::string();
  char text[400];
  int length = std::snprintf(text, sizeof text, "%.2f", number);
  if (length <= 0 || size_t(length) >= sizeof text) return std::string();
  std::string out(text, size_t(length));
  size_t digits = size_t(std::count_if(out.begin(), out.end(), [](char c) { return c >= '0' && c <= '9'; }));
  if (digits > 126) return std::string();
  // No zero before the point: 0.5 is ".50", -0.05 "-.05".
  size_t zero = out[0] == '-' ? 1 : 0;
  if (out.compare(zero, 2, "0.") == 0) out.erase(zero, 1);
  if (out == "-.00") out = ".00";
  return out;
}

uint32_t xlsSecondsOfDay(double number) {
  double fraction = number - std::floor(number);
  double seconds = std::floor(fraction * 86400.0 + 0.5);
  return uint32_t(std::fmod(seconds, 86400.0));
}

// ---------------------------------------------------------------- columns

int16_t xlsSqlType(XlsType type) {
  static const int16_t types[] = {SQL_BIT, SQL_DOUBLE, SQL_DATE, SQL_TIME, SQL_TIMESTAMP, SQL_VARCHAR, SQL_VARCHAR};
  return types[type];
}

int16_t XlsSharedField::getFlatFieldType() { return xlsSqlType(type); }
uint16_t XlsSharedField::getAttributes() { return type == xlsChar ? 8 : 0; }
int16_t XlsSharedField::isSearchable() { return type == xlsChar ? SQL_SEARCHABLE : SQL_ALL_EXCEPT_LIKE; }
int16_t XlsSharedField::isUpdatable() { return 0; }

XlsSharedDesc::~XlsSharedDesc() {
  if (book) static_cast<XlsConnection*>(getConnection())->releaseWorkbook(book);
}

// ---------------------------------------------------------------- opening

XlsFileDesc::~XlsFileDesc() = default;

XlsConnection* XlsFileDesc::connection() const { return static_cast<XlsConnection*>(shared_->getConnection()); }

KvStatus XlsFileDesc::makeReader() {
  reader_.reset(new (std::nothrow) XlsCellBuffer(table()->book));
  record_.reset(new (std::nothrow) XlsCellBuffer::Record);
  if (!reader_ || !record_) {
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  try {
    values_.assign(table()->getColumnCount(), Value());
  } catch (const std::bad_alloc&) {
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  nextRow_ = 0;
  atEnd_ = false;
  return makeRid();
}

KvStatus XlsFileDesc::openDataFile(FlatConnection* flatConnection, const unsigned char* name) {
  auto* xls = static_cast<XlsConnection*>(flatConnection);
  std::string fullName;
  try {
    fullName = kvC(name);
  } catch (const std::bad_alloc&) {
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  // A table of the same name and column mode is shared.
  for (FlatSharedDesc* s = xls->getSharedTables(); s; s = s->getNext()) {
    auto* candidate = static_cast<XlsSharedDesc*>(s);
    if (!candidate->valid || candidate->fullName != fullName) continue;
    bool same;
    if (!declared_.empty()) {
      same = candidate->mode == XlsSharedDesc::modeDeclared && declared_.size() >= candidate->getColumnCount();
      for (uint16_t c = 0; same && c < candidate->getColumnCount(); ++c) {
        const XlsSharedField* f = candidate->field(c);
        same = f->type == declared_[c].type && (f->type != xlsChar || f->width == declared_[c].width);
      }
      same = same && declared_.size() == candidate->getColumnCount();
    } else {
      same = candidate->mode == (xls->fieldGuessing() ? XlsSharedDesc::modeGuessed : XlsSharedDesc::modeAllChar);
    }
    if (!same) continue;
    if (candidate->getUserMask() == FlatSharedDesc::allUsers) {
      addFlatError(stateGeneral, msgSharedOpenLimit) << name;
      return kvFailure;
    }
    shared_ = candidate;
    return makeReader();
  }
  if (buildShared(xls, fullName) != kvSuccess) return kvFailure;
  return makeReader();
}

KvStatus XlsFileDesc::buildShared(XlsConnection* xls, const std::string& fullName) {
  std::string path, tableName;
  if (!splitFullName(fullName, &path, &tableName)) {
    addOdbcError(stateTableNotFound, msgXlsTableNotFound) << kvU(fullName.c_str()) << kvU("");
    return kvFailure;
  }
  auto* shared = new XlsSharedDesc(xls, this);
  if (!shared) {
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  // The table is linked to the connection now; a failure below leaves it
  // invalid, never reused, and the engine deletes it with this reader.
  try {
    shared->fullName = fullName;
  } catch (const std::bad_alloc&) {
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  if (xls->acquireWorkbook(kvU(path.c_str()), &shared->book) != kvSuccess) return kvFailure;
  const XlsNameDesc* area = shared->book->findName(tableName);
  if (!area) {
    addOdbcError(stateTableNotFound, msgXlsTableNotFound) << kvU(tableName.c_str()) << kvU(shared->book->path().c_str());
    return kvFailure;
  }
  shared->area = *area;
  if (shared->setIdentifiers(kvU(tableName.c_str())) != kvSuccess ||
      shared->setQualifier(kvU(shared->book->path().c_str())) != kvSuccess)
    return kvFailure;
  shared->mode = !declared_.empty() ? XlsSharedDesc::modeDeclared
                 : xls->fieldGuessing() ? XlsSharedDesc::modeGuessed
                                        : XlsSharedDesc::modeAllChar;
  if (shared->book->streamSize() > flatMaxRecordNumber) return xlsNotExcel();
  uint16_t columns = uint16_t(area->lastColumn - area->firstColumn + 1);
  for (uint16_t c = 0; c < columns; ++c) {
    auto* field = new XlsSharedField();
    if (!field) {
      KvErrorKeeper::addMemoryError();
      return kvFailure;
    }
    char generated[16];
    std::snprintf(generated, sizeof generated, "FIELD%u", unsigned(c + 1));
    if (field->setName(kvU(generated)) != kvSuccess || shared->addColumn(field) != kvSuccess) {
      delete field;
      return kvFailure;
    }
  }
  if (scan(shared) != kvSuccess) return kvFailure;

  // Declared types, then the final types and widths.
  for (uint16_t c = 0; c < columns && c < declared_.size(); ++c) {
    shared->field(c)->type = declared_[c].type;
    shared->field(c)->width = declared_[c].width;
  }
  for (uint16_t c = 0; c < columns; ++c) {
    XlsSharedField* field = shared->field(c);
    if (field->type == xlsUnknown) {
      field->type = xlsChar;
      field->width = 255;
    } else if (shared->mode == XlsSharedDesc::modeAllChar) {
      field->width = charWidthOf(field->type);
      field->type = xlsChar;
    } else if (field->type != xlsChar) {
      field->width = typeWidth(field->type);
    }
    field->setSqlType(xlsSqlType(field->type));
    field->setPrecision(field->width);
    if (field->setTypeName(kvU(typeName(field->type))) != kvSuccess) return kvFailure;
  }
  shared->valid = true;
  return kvSuccess;
}

// Reads the sheet from its BOF: the header row names the columns, and the
// first rows (ScanRows of them, 0 all) guess their types unless the
// statement declared them. Records come in row order, so the scan stops at
// the first cell beyond the rows it looks at.
KvStatus XlsFileDesc::scan(XlsSharedDesc* shared) {
  const XlsNameDesc& area = shared->area;
  XlsBookDesc* book = shared->book;
  XlsCellBuffer reader(book);
  auto record = std::make_unique<XlsCellBuffer::Record>();
  uint32_t offset = 0;
  if (book->sheetOffset(area, &offset) != kvSuccess) return kvFailure;
  XlsConnection* xls = static_cast<XlsConnection*>(shared->getConnection());
  uint32_t rowLimit = std::min<uint32_t>(xls->scanRows(), kMaxScanRows);
  bool declared = shared->mode == XlsSharedDesc::modeDeclared;
  bool dataSet = false;
  XlsFormulaPlace formula;
  uint32_t depth = 0;
  auto setFirstData = [&](uint32_t at) {
    if (!dataSet) shared->firstDataOffset = at;
    dataSet = true;
  };
  // Each record moves the offset on, and fetchRecord fails past the end.
  for (;;) {
    if (reader.fetchRecord(offset, record.get()) != kvSuccess) return kvFailure;
    uint32_t here = offset;
    offset += 4 + record->length;
    uint16_t type = record->type;
    if (type == biffBof) {
      if (depth == 0 && (record->copied < 2 || kvGetU16LE(record->data) != biff5Version)) return xlsNotExcel();
      ++depth;
      continue;
    }
    if (type == biffEof) {
      if (--depth == 0) {
        setFirstData(here);
        return kvSuccess;
      }
      continue;
    }
    if (depth != 1) continue;  // an embedded chart's records
    if (type == biffMulRk) {
      uint16_t row, firstColumn;
      uint32_t entries;
      if (!biffMulRkShape(record->data, record->copied, &row, &firstColumn, &entries)) return xlsNotExcel();
      if (rowLimit && row > uint32_t(area.firstRow) + rowLimit) {
        setFirstData(here);
        return kvSuccess;
      }
      if (row <= area.firstRow || row > area.lastRow) continue;
      bool any = false;
      for (uint32_t i = 0; i < entries; ++i) any = any || inColumns(area, uint16_t(firstColumn + i));
      if (!any) continue;
      setFirstData(here);
      if (declared) return kvSuccess;
      for (uint32_t i = 0; i < entries; ++i) {
        uint16_t column = uint16_t(firstColumn + i);
        if (!inColumns(area, column)) continue;
        uint16_t xf;
        double number;
        biffMulRkEntry(record->data, i, &xf, &number);
        guessNumber(shared->field(uint16_t(column - area.firstColumn)), book->formatClass(xf));
      }
      continue;
    }
    if (!biffIsCellRecord(type)) continue;
    BiffCell cell;
    if (!biffDecodeCell(type, record->data, record->copied, &cell)) return xlsNotExcel();
    if (!formula.place(type, &cell)) continue;
    if (rowLimit && cell.row > uint32_t(area.firstRow) + rowLimit) {
      setFirstData(here);
      return kvSuccess;
    }
    if (!inColumns(area, cell.column)) continue;
    XlsSharedField* field = shared->field(uint16_t(cell.column - area.firstColumn));
    if (cell.row == area.firstRow) {
      if (type == biffLabel) {
        std::string name(reinterpret_cast<const char*>(cell.text),
                         std::min<uint32_t>(cell.textLength, kMaxColumnNameChars));
        if (field->setName(kvU(name.c_str())) != kvSuccess) return kvFailure;
      }
      continue;
    }
    if (cell.row < area.firstRow || cell.row > area.lastRow) continue;
    setFirstData(here);
    if (declared) return kvSuccess;
    if (cell.isNumber) {
      guessNumber(field, book->formatClass(cell.xf));
    } else if (type == biffLabel || type == biffString) {
      guessText(field);
    } else if (cell.isBoolean || cell.isError) {
      guessBoolean(field);
    }
  }
}

// ---------------------------------------------------------------- rows

KvStatus XlsFileDesc::readRow(uint32_t start, uint32_t* next, bool* found) {
  *found = false;
  for (Value& v : values_) {
    v.null = true;
    v.text.clear();
  }
  const XlsNameDesc& area = table()->area;
  XlsBookDesc* book = table()->book;
  uint32_t offset = start;
  uint32_t depth = 0;
  uint16_t currentRow = 0;
  XlsFormulaPlace formula;
  // A record of a row beyond the area, or of a row after the one taken,
  // ends the row; records come in row order.
  auto endsRow = [&](uint16_t row) { return row > area.lastRow || (*found && row > currentRow); };
  for (;;) {
    if (reader_->fetchRecord(offset, record_.get()) != kvSuccess) return kvFailure;
    uint32_t here = offset;
    offset += 4 + record_->length;
    uint16_t type = record_->type;
    if (type == biffBof) {
      ++depth;
      continue;
    }
    if (type == biffEof) {
      if (depth == 0) {
        *next = here;
        return kvSuccess;
      }
      --depth;
      continue;
    }
    if (depth != 0) continue;  // an embedded chart's records
    if (type == biffMulRk) {
      uint16_t row, firstColumn;
      uint32_t entries;
      if (!biffMulRkShape(record_->data, record_->copied, &row, &firstColumn, &entries)) return xlsNotExcel();
      if (endsRow(row)) {
        *next = here;
        return kvSuccess;
      }
      if (row <= area.firstRow) continue;
      for (uint32_t i = 0; i < entries; ++i) {
        uint16_t column = uint16_t(firstColumn + i);
        if (!inColumns(area, column)) continue;
        uint16_t xf;
        double number;
        biffMulRkEntry(record_->data, i, &xf, &number);
        setNumber(uint16_t(column - area.firstColumn), number, book->formatClass(xf));
        *found = true;
        currentRow = row;
      }
      continue;
    }
    if (!biffIsCellRecord(type)) continue;
    BiffCell cell;
    if (!biffDecodeCell(type, record_->data, record_->copied, &cell)) return xlsNotExcel();
    if (!formula.place(type, &cell)) continue;
    if (endsRow(cell.row)) {
      *next = here;
      return kvSuccess;
    }
    if (cell.row <= area.firstRow || !inColumns(area, cell.column)) continue;
    uint16_t column = uint16_t(cell.column - area.firstColumn);
    if (cell.isNumber) {
      setNumber(column, cell.number, book->formatClass(cell.xf));
    } else if (type == biffLabel || type == biffString) {
      setText(column, cell.text, cell.textLength);
    } else if (cell.isBoolean) {
      setBoolean(column, cell.boolean);
    } else {
      // An error value, or a formula whose text its STRING brings.
      values_[column].null = true;
    }
    *found = true;
    currentRow = cell.row;
  }
}

void XlsFileDesc::setNumber(uint16_t column, double number, XlsType formatClass) {
  const XlsSharedField* field = table()->field(column);
  Value& v = values_[column];
  double dayBase = table()->book->is1904() ? kDayBase1904 : kDayBase1900;
  v.null = false;
  switch (field->type) {
    case xlsLogical:
      v.logical = number != 0;
      break;
    case xlsNumber:
      v.number = number;
      break;
    case xlsDate:
    case xlsTimestamp:
      v.number = number + dayBase;
      break;
    case xlsTime:
      v.number = xlsSecondsOfDay(number) / 86400.0;
      break;
    default: {
      std::string text;
      if (formatClass == xlsNumber) {
        text = xlsNumberText(number);
        if (text.empty()) {
          v.null = true;
          return;
        }
      } else {
        double day = number + dayBase;
        int16_t year = 0;
        uint16_t month = 0, dayOfMonth = 0;
        if (!(day >= baseFirstDayNumber && day < baseLastDayNumber + 1)) {
          v.null = true;  // no date of the calendar
          return;
        }
        BaseJulianToDate(int32_t(std::floor(day)), &year, &month, &dayOfMonth);
        uint32_t seconds = xlsSecondsOfDay(number);
        char buffer[48];
        std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02u %02u:%02u:%02u", year, month, dayOfMonth,
                      seconds / 3600, seconds / 60 % 60, seconds % 60);
        text = buffer;
      }
      if (text.size() > field->width) text.resize(field->width);
      v.text = text;
      break;
    }
  }
}

void XlsFileDesc::setText(uint16_t column, const unsigned char* text, uint16_t length) {
  const XlsSharedField* field = table()->field(column);
  Value& v = values_[column];
  if (field->type == xlsLogical) {
    v.null = false;
    v.logical = length != 0;
  } else if (field->type == xlsChar) {
    v.null = false;
    v.text.assign(reinterpret_cast<const char*>(text), std::min<uint32_t>(length, field->width));
  } else {
    v.null = true;
  }
}

void XlsFileDesc::setBoolean(uint16_t column, uint8_t value) {
  const XlsSharedField* field = table()->field(column);
  Value& v = values_[column];
  v.null = false;
  if (field->type == xlsLogical) {
    v.logical = value != 0;
  } else if (field->type == xlsNumber) {
    v.number = value;
  } else if (field->type == xlsChar) {
    v.text = value ? "T" : "F";
  } else {
    v.null = true;
  }
}

KvStatus XlsFileDesc::getMaxRecords(uint32_t*) { return kvSuccess; }

KvStatus XlsFileDesc::resetToFirstRecord() {
  nextRow_ = 0;
  atEnd_ = false;
  return kvSuccess;
}

KvStatus XlsFileDesc::readNextRec(uint16_t* found) {
  *found = 0;
  auto* rid = static_cast<FlatNumericRid*>(rid_);
  if (atEnd_) return kvSuccess;
  uint32_t start = nextRow_ ? nextRow_ : table()->firstDataOffset;
  uint32_t next = 0;
  bool any = false;
  if (readRow(start, &next, &any) != kvSuccess) {
    rid->reset();
    atEnd_ = true;
    return kvFailure;
  }
  if (!any) {
    rid->reset();
    atEnd_ = true;
    return kvSuccess;
  }
  rid->setRecordNumber(start);
  nextRow_ = next;
  *found = 1;
  return kvSuccess;
}

KvStatus XlsFileDesc::readRecord(GetRecRetType* out) {
  auto* rid = static_cast<FlatNumericRid*>(rid_);
  uint32_t start = rid->getRecordNumber();
  *out = getRecPastEnd;
  if (start == 0) return kvSuccess;
  uint32_t next = 0;
  bool any = false;
  if (readRow(start, &next, &any) != kvSuccess) {
    rid->reset();
    atEnd_ = true;
    return kvFailure;
  }
  *out = any ? getRecFound : getRecPastEnd;
  return kvSuccess;
}

KvStatus XlsFileDesc::getRecordID(void* out) {
  rid_->fullGet(out);
  return kvSuccess;
}

KvStatus XlsFileDesc::setRecordID() { return kvSuccess; }

void XlsFileDesc::resetToAllocatedState() { declared_.clear(); }

KvStatus XlsFileDesc::getFieldData(uint16_t column, void* buffer, int32_t* length, uint16_t bufferSize,
                                   uint8_t* kind) {
  if (column >= values_.size()) {
    addOdbcError(stateColumnNumber);
    return kvFailure;
  }
  const Value& v = values_[column];
  *length = 0;
  *kind = flatValueNull;
  if (v.null) return kvSuccess;
  auto* out = static_cast<unsigned char*>(buffer);
  switch (table()->field(column)->type) {
    case xlsLogical:
      if (bufferSize < 1) break;
      out[0] = v.logical;
      *length = 1;
      *kind = flatValueLogical;
      return kvSuccess;
    case xlsNumber:
    case xlsDate:
    case xlsTime:
    case xlsTimestamp:
      if (bufferSize < 8) break;
      std::memcpy(out, &v.number, 8);
      *length = 8;
      *kind = table()->field(column)->type == xlsNumber ? flatValueDouble : flatValueDate;
      return kvSuccess;
    default:
      if (bufferSize < v.text.size() + 1) break;
      std::memcpy(out, v.text.c_str(), v.text.size() + 1);
      *length = int32_t(v.text.size() + 1);
      *kind = flatValueText;
      return kvSuccess;
  }
  addOdbcError(stateGeneral);
  return kvFailure;
}
