// The text driver's tables; see txt_table.h.
#include "drivers/text/table/txt_table.h"

#include "base/convert/base_date.h"
#include "base/handles/base_error_list.h"
#include "drivers/text/connection/txt_connection.h"
#include "drivers/text/text_message_ids.h"
#include "flat/connection/flat_connection.h"
#include "flat/connection/flat_rid.h"
#include "flat/connection/flat_values.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "util/charsets/charset_oem.h"
#include "util/os/bos.h"
#include "util/util_message_ids.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace {

enum : uint32_t {
  // Waits for the append lock another handle holds, as the dBASE driver's
  // locks wait: 20, 80, then 320 ms at a time, about ten seconds in all.
  appendLockAttempts = 34,
};

uint16_t lockWaitMs(uint32_t attempt) { return attempt <= 1 ? 20 : attempt == 2 ? 80 : 320; }

bool isTextType(uint32_t type) { return type == flatItChar || type == flatItBinary; }

// A number written as text: blanks, a sign, digits with one point, an
// exponent; nothing else. Locale-free.
bool parseNumber(const std::string& text, double* out) {
  size_t begin = 0, end = text.size();
  while (begin < end && text[begin] == ' ') ++begin;
  while (end > begin && text[end - 1] == ' ') --end;
  if (begin == end) return false;
  const char* first = text.data() + begin;
  if (*first == '+') ++first;
  auto result = std::from_chars(first, text.data() + end, *out);
  return result.ec == std::errc() && result.ptr == text.data() + end && std::isfinite(*out);
}

// Year, month and day of a value stored into a DATE column.
bool valueToDate(const unsigned char* bytes, uint32_t length, uint32_t type, int16_t* year, uint16_t* month,
                 uint16_t* day) {
  if (type == flatItDate || type == flatItTimestamp) {
    if (length < 6) return false;
    std::memcpy(year, bytes, 2);
    std::memcpy(month, bytes + 2, 2);
    std::memcpy(day, bytes + 4, 2);
    return BaseValidateDate(*year, *month, *day) == kvSuccess;
  }
  if (type == flatItChar) {
    DATE_STRUCT date{};
    if (BaseStrToDate(bytes, length, &date) != kvSuccess) return false;
    *year = date.year;
    *month = date.month;
    *day = date.day;
    return BaseValidateDate(*year, *month, *day) == kvSuccess;
  }
  double number = 0;
  if (!flatInternalToDouble(bytes, length, type, &number)) return false;
  if (number < baseFirstDayNumber || number > baseLastDayNumber + 1.0) return false;
  BaseJulianToDate(int32_t(number), year, month, day);
  return BaseValidateDate(*year, *month, *day) == kvSuccess;
}

}  // namespace

void txtSplitTablePath(const std::string& path, std::string* directory, std::string* name) {
  const size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) {
    directory->clear();
    *name = path;
    return;
  }
  *directory = path.substr(0, slash);
  *name = path.substr(slash + 1);
}

// ---------------------------------------------------------------- TxtSharedField

TxtSharedField::~TxtSharedField() = default;
int16_t TxtSharedField::getFlatFieldType() {
  return def_.type == 'V' ? SQL_VARCHAR : def_.type == 'N' ? SQL_DOUBLE : SQL_DATE;
}
uint16_t TxtSharedField::getAttributes() { return def_.type == 'V' ? 8 : 0; }
int16_t TxtSharedField::isSearchable() { return def_.type == 'V' ? SQL_SEARCHABLE : SQL_ALL_EXCEPT_LIKE; }
int16_t TxtSharedField::isUpdatable() { return 0; }

// ---------------------------------------------------------------- TxtSharedDesc

TxtSharedDesc::TxtSharedDesc(FlatConnection* connection, FlatFileDesc* reader) : FlatSharedDesc(connection, reader) {
  setKeyLength(txtRowKeyBytes);
  addFlags(flagProvisionalKeys);
}

TxtSharedDesc::~TxtSharedDesc() {
  if (file_) kvIgnoreStatus(bosFileClose(file_));  // nothing is buffered: every write went out checked
}

KvStatus TxtSharedDesc::open(const std::string& directory, const std::string& tableName, const TxtTableDef& def) {
  directory_ = directory;
  tableName_ = tableName;
  def_ = def;
  unsigned char path[bosPathBytes];
  if (bosJoinPath(path, kvU(directory.c_str()), kvU(def.file.c_str())) != kvSuccess) return kvFailure;
  if (bosFileOpen(path, bosOpenReadWrite, &file_) != kvSuccess) {
    KvErrorKeeper::clearLastError();
    if (bosFileOpen(path, 0, &file_) != kvSuccess) {
      file_ = 0;
      const uint16_t number = KvErrorKeeper::getLastErrorNumber();
      if (number == kvMsgCannotOpenFile || number == kvMsgFileNotFound || number == kvMsgPathNotFound)
        resetLastErrorSqlState(stateTableNotFound);
      return kvFailure;
    }
    readOnly_ = true;
  }
  if (setIdentifiers(path) != kvSuccess || setQualifier(kvU(directory.c_str())) != kvSuccess) return kvFailure;
  for (const TxtColumnDef& column : def.columns) {
    auto* field = new TxtSharedField(column);
    if (!field) {
      KvErrorKeeper::addMemoryError();
      return kvFailure;
    }
    static const char* const typeNames[] = {"VARCHAR", "NUMERIC", "DATE"};
    const int which = column.type == 'V' ? 0 : column.type == 'N' ? 1 : 2;
    field->setSqlType(column.type == 'V' ? SQL_VARCHAR : column.type == 'N' ? SQL_NUMERIC : SQL_DATE);
    field->setPrecision(column.type == 'D' ? 10 : column.precision);
    field->setScale(column.type == 'N' ? column.scale : 0);
    if (field->setName(kvU(column.name.c_str())) != kvSuccess || field->setTypeName(kvU(typeNames[which])) != kvSuccess ||
        addColumn(field) != kvSuccess) {
      delete field;
      return kvFailure;
    }
    spans_.push_back(TxtColumnSpan{column.offset, column.length});
  }
  usable_ = true;
  return kvSuccess;
}

// ---------------------------------------------------------------- TxtFileSource

KvStatus TxtFileSource::read(uint64_t offset, unsigned char* buffer, uint32_t length, uint32_t* got) {
  return bosFileRead(file_, int64_t(offset), buffer, length, got);
}

// ---------------------------------------------------------------- TxtFileDesc

TxtFileDesc::TxtFileDesc() : reader_(&source_) {}
TxtFileDesc::~TxtFileDesc() = default;

KvStatus TxtFileDesc::attach() {
  TxtSharedDesc* shared = table();
  source_.setFile(shared->getFile());
  reader_.configure(shared->getDef().tableType, shared->getDef().delimiter, shared->getSpans());
  insert_.assign(shared->getSpans().size(), TxtOutValue());
  // The magnitude each numeric column's precision and scale leave room for.
  limits_.clear();
  for (const TxtColumnDef& c : shared->getDef().columns) limits_.push_back(std::pow(10.0, int(c.precision) - c.scale));
  started_ = false;
  return makeRid();
}

KvStatus TxtFileDesc::attachForCommit(TxtSharedDesc* shared) {
  shared_ = shared;
  return attach();
}

KvStatus TxtFileDesc::openDataFile(FlatConnection* connection, const unsigned char* name) {
  auto* txt = static_cast<TxtConnection*>(connection);
  std::string directory, tableName;
  txtSplitTablePath(kvC(name), &directory, &tableName);
  TxtIni ini;
  std::string section;
  if (ini.open(kvU(directory.c_str())) != kvSuccess || ini.findTable(kvU(tableName.c_str()), &section) != kvSuccess)
    return kvFailure;
  if (section.empty()) {
    // No definition: the file must exist (S0002 naming it), and the table
    // needs one before it can be read.
    unsigned char path[bosPathBytes];
    if (bosJoinPath(path, kvU(directory.c_str()), kvU(tableName.c_str())) != kvSuccess) return kvFailure;
    if (!bosexist(path)) {
      addOdbcError(stateTableNotFound, msgTxtTableNotExist) << kvU(tableName.c_str());
      return kvFailure;
    }
    return txt->undefinedTable(kvU(tableName.c_str()));
  }
  for (FlatSharedDesc* s = connection->getSharedTables(); s; s = s->getNext()) {
    auto* open = static_cast<TxtSharedDesc*>(s);
    if (!open->isUsable() || strcasecmp(open->getDirectory().c_str(), directory.c_str()) != 0 ||
        strcasecmp(open->getTableName().c_str(), section.c_str()) != 0)
      continue;
    if (open->getUserMask() == FlatSharedDesc::allUsers) {
      addFlatError(stateGeneral, msgSharedOpenLimit) << kvU(section.c_str());
      return kvFailure;
    }
    shared_ = open;
    return attach();
  }
  TxtTableDef def;
  if (ini.readTable(section, &def) != kvSuccess) return kvFailure;
  if (def.columns.empty()) {
    addOdbcError(stateGeneral, msgTxtNoDefinition);
    return kvFailure;
  }
  auto* shared = new TxtSharedDesc(connection, this);
  if (!shared) {
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  if (shared->open(directory, section, def) != kvSuccess) return kvFailure;
  if (attach() != kvSuccess) return kvFailure;
  if (def.firstLineNames) {
    uint64_t start = 0;
    if (reader_.skipFirstLine(&start) != kvSuccess) return kvFailure;
    shared->setDataStart(start);
  }
  return kvSuccess;
}

KvStatus TxtFileDesc::getMaxRecords(uint32_t* out) {
  // Rows are lines: their count is not known without reading them all.
  if (out) *out = 0xFFFFFFFFu;
  return kvSuccess;
}

void TxtFileDesc::setRowKey(uint64_t offset) {
  unsigned char key[txtRowKeyBytes];
  for (uint32_t i = 0; i < txtRowKeyBytes; ++i) key[i] = uint8_t(offset >> (56 - 8 * i));
  rid_->set(key);
}

bool TxtFileDesc::rowOfKey(FlatRid* rid, uint64_t* offset) const {
  if (!rid || rid->getState() == ridNoRecord) return false;
  const auto* key = static_cast<const unsigned char*>(rid->get());
  if (!key || key[0] == 0xFF) return false;
  uint64_t value = 0;
  for (uint32_t i = 0; i < txtRowKeyBytes; ++i) value = value << 8 | key[i];
  *offset = value;
  return true;
}

KvStatus TxtFileDesc::resetToFirstRecord() {
  started_ = false;
  // Other programs may have appended since: the scan reads the file anew.
  reader_.invalidate();
  return kvSuccess;
}

KvStatus TxtFileDesc::readNextRec(uint16_t* found) {
  *found = 0;
  if (!started_) {
    position_ = table()->getDataStart();
    reader_.invalidate();
    started_ = true;
  }
  int got = 0;
  insertRow_ = false;
  if (reader_.readRow(position_, &got) != kvSuccess) return kvFailure;
  if (!got) return kvSuccess;
  setRowKey(reader_.rowOffset());
  position_ = reader_.nextOffset();
  *found = 1;
  return kvSuccess;
}

KvStatus TxtFileDesc::readRecord(GetRecRetType* out) {
  uint64_t offset = 0;
  if (!rowOfKey(rid_, &offset)) {
    *out = getRecPastEnd;
    return kvSuccess;
  }
  int got = 0;
  insertRow_ = false;
  if (reader_.readRow(offset, &got) != kvSuccess) return kvFailure;
  *out = !got ? getRecPastEnd : reader_.rowOffset() == offset ? getRecFound : getRecGone;
  return kvSuccess;
}

KvStatus TxtFileDesc::getFieldData(uint16_t column, void* buffer, int32_t* length, uint16_t bufferSize,
                                   uint8_t* kind) {
  if (column >= reader_.columnCount()) {
    addOdbcError(stateColumnNumber);
    return kvFailure;
  }
  // The row being inserted (or a pending insert of the transaction) is
  // the insert buffer, in the file's form.
  const std::string& text = insertRow_ ? insert_[column].text : reader_.value(column);
  const bool cut = !insertRow_ && reader_.isCut(column);
  const TxtColumnDef& def = table()->getDef().columns[column];
  if (text.empty()) {
    *kind = flatValueNull;
    *length = 0;
    return kvSuccess;
  }
  switch (def.type) {
    case 'D': {
      int16_t year = 0;
      uint16_t month = 0, day = 0;
      if (txtParseDate(kvU(text.data()), uint32_t(text.size()), def.mask, &year, &month, &day) != kvSuccess) {
        KvErrorKeeper::clearLastError();
        addOdbcError(stateSyntax, msgTxtBadDate) << kvU(text.c_str());
        return kvFailure;
      }
      const double number = double(BaseDateToJulian(year, month, day));
      if (bufferSize < sizeof(number)) break;
      std::memcpy(buffer, &number, sizeof(number));
      *length = sizeof(number);
      *kind = flatValueDate;
      return kvSuccess;
    }
    case 'N': {
      double number = 0;
      if (!parseNumber(text, &number)) {
        addOdbcError(stateAssignment);
        return kvFailure;
      }
      if (std::fabs(number) >= limits_[column]) {
        addOdbcError(stateNumericRange);
        return kvFailure;
      }
      if (bufferSize < sizeof(number)) break;
      std::memcpy(buffer, &number, sizeof(number));
      *length = sizeof(number);
      *kind = flatValueDouble;
      return kvSuccess;
    }
    default: {
      if (text.size() + 1 > bufferSize) break;
      auto* out = static_cast<unsigned char*>(buffer);
      if (table()->getDef().oem) kvOemToAnsi(out, kvU(text.data()), uint32_t(text.size()));
      else std::memcpy(out, text.data(), text.size());
      out[text.size()] = 0;
      *length = int32_t(text.size() + 1);
      *kind = flatValueText;
      // The file held more than the column keeps.
      if (cut) addOdbcWarning(stateTruncated);
      return kvSuccess;
    }
  }
  addOdbcError(stateRightTruncation);
  return kvFailure;
}

KvStatus TxtFileDesc::getRecordID(void* out) {
  rid_->fullGet(out);
  return kvSuccess;
}

KvStatus TxtFileDesc::setRecordID() { return kvSuccess; }

KvStatus TxtFileDesc::setRecordPosition() {
  GetRecRetType state = getRecFound;
  if (readRecord(&state) != kvSuccess) return kvFailure;
  if (state != getRecFound) {
    addFlatError(stateGeneral, msgRecordLockGone);
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus TxtFileDesc::formatValue(uint16_t column, const void* value, uint32_t length, uint32_t internalType,
                                  std::string* out) {
  out->clear();
  if (column >= table()->getDef().columns.size()) {
    addOdbcError(stateColumnNumber);
    return kvFailure;
  }
  if (!value) return kvSuccess;
  const TxtColumnDef& def = table()->getDef().columns[column];
  const auto* bytes = static_cast<const unsigned char*>(value);
  switch (def.type) {
    case 'D': {
      int16_t year = 0;
      uint16_t month = 0, day = 0;
      if (!valueToDate(bytes, length, internalType, &year, &month, &day)) {
        addOdbcError(stateDatetimeOverflow);
        return kvFailure;
      }
      std::vector<unsigned char> text(def.length + 1);
      if (txtWriteDate(def.mask, year, month, day, text.data(), uint32_t(text.size())) != kvSuccess) return kvFailure;
      *out = kvC(text.data());
      return kvSuccess;
    }
    case 'N': {
      double number = 0;
      bool ok = false;
      if (isTextType(internalType)) {
        std::string text(reinterpret_cast<const char*>(bytes), length);
        if (text.find_first_not_of(' ') == std::string::npos) return kvSuccess;
        ok = parseNumber(text, &number);
      } else if (internalType != flatItDate && internalType != flatItTime && internalType != flatItTimestamp) {
        ok = flatInternalToDouble(bytes, length, internalType, &number) != 0 && std::isfinite(number);
      }
      if (!ok) {
        addOdbcError(stateAssignment);
        return kvFailure;
      }
      // Written with the column's scale (rounded to it); a value whose
      // integer digits the precision cannot hold is refused.
      char text[64];
      std::snprintf(text, sizeof(text), "%.*f", int(def.scale), number);
      std::string digits = text;
      size_t integer = digits.find('.') == std::string::npos ? digits.size() : digits.find('.');
      if (digits[0] == '-') --integer;
      if (std::fabs(number) >= std::pow(10.0, int(def.precision) - def.scale) ||
          integer + size_t(def.scale) > def.precision + 1 || digits.size() > def.length) {
        addOdbcError(stateNumericRange);
        return kvFailure;
      }
      *out = digits;
      return kvSuccess;
    }
    default: {
      std::string text;
      if (isTextType(internalType)) {
        text.assign(reinterpret_cast<const char*>(bytes), length);
      } else {
        double number = 0;
        if (internalType == flatItDate || internalType == flatItTime || internalType == flatItTimestamp ||
            !flatInternalToDouble(bytes, length, internalType, &number)) {
          addOdbcError(stateAssignment);
          return kvFailure;
        }
        char digits[64];
        std::snprintf(digits, sizeof(digits), "%.15g", number);
        text = digits;
      }
      while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
        text.pop_back();
      // A value longer than its column would come back cut: refused, and
      // nothing is written.
      const uint32_t room = def.precision && def.precision < def.length ? def.precision : def.length;
      if (text.size() > room) {
        addOdbcError(stateRightTruncation);
        return kvFailure;
      }
      if (text.find('\0') != std::string::npos) {
        addOdbcError(stateAssignment);
        return kvFailure;
      }
      if (table()->getDef().oem && !text.empty()) kvAnsiToOem(kvU(&text[0]), kvU(&text[0]), uint32_t(text.size()));
      *out = text;
      return kvSuccess;
    }
  }
}

KvStatus TxtFileDesc::checkValue(uint16_t column, const void* value, uint32_t length, uint32_t internalType) {
  std::string ignored;
  return formatValue(column, value, length, internalType, &ignored);
}

KvStatus TxtFileDesc::updateColumn(uint16_t column, const void* value, uint32_t length, uint32_t internalType) {
  std::string text;
  if (formatValue(column, value, length, internalType, &text) != kvSuccess) return kvFailure;
  insert_[column].type = table()->getDef().columns[column].type;
  insert_[column].text = text;
  return kvSuccess;
}

KvStatus TxtFileDesc::initializeForInsert() {
  insertRow_ = true;
  const TxtTableDef& def = table()->getDef();
  for (size_t i = 0; i < insert_.size(); ++i) {
    insert_[i].type = def.columns[i].type;
    insert_[i].text.clear();
  }
  return kvSuccess;
}

KvStatus TxtFileDesc::appendRow(const std::string& row, uint64_t* rowOffset) {
  const int file = table()->getFile();
  int64_t size = 0;
  if (bosFileSize(file, &size) != kvSuccess) return kvFailure;
  // A ^Z at the end is where the data ends: the row replaces it. A last
  // line without its line end gets one first, or the row would join it.
  uint64_t at = uint64_t(size);
  unsigned char tail[64];
  while (at > 0) {
    const uint32_t want = uint32_t(at < sizeof(tail) ? at : sizeof(tail));
    uint32_t got = 0;
    if (bosFileRead(file, int64_t(at - want), tail, want, &got) != kvSuccess) return kvFailure;
    uint32_t i = got;
    while (i > 0 && tail[i - 1] == txtEndOfFileMark) --i;
    at -= got - i;
    if (i > 0 || got == 0) break;
  }
  std::string bytes;
  if (at > 0) {
    unsigned char last = 0;
    uint32_t got = 0;
    if (bosFileRead(file, int64_t(at - 1), &last, 1, &got) != kvSuccess) return kvFailure;
    if (got == 1 && last != '\n') bytes = "\r\n";
  }
  bytes += row;
  if (bosFileWrite(file, int64_t(at), bytes.data(), uint32_t(bytes.size())) != kvSuccess) return kvFailure;
  // The ^Z written over may have been followed by more of them.
  if (at + bytes.size() < uint64_t(size)) {
    std::string blanks(size_t(uint64_t(size) - at - bytes.size()), '\n');
    if (bosFileWrite(file, int64_t(at + bytes.size()), blanks.data(), uint32_t(blanks.size())) != kvSuccess)
      return kvFailure;
  }
  *rowOffset = at + bytes.size() - row.size();
  return kvSuccess;
}

KvStatus TxtFileDesc::writeRecord(uint16_t mode) {
  if (mode != flatWriteAppend) {
    addOdbcError(stateNotCapable);
    return kvFailure;
  }
  if (table()->isReadOnly()) {
    addFlatError(stateGeneral, msgTableReadOnly);
    return kvFailure;
  }
  std::string row;
  txtFormatRow(table()->getDef().tableType, table()->getDef().delimiter, table()->getSpans(), insert_, &row);
  const int file = table()->getFile();
  bool locked = false;
  for (uint32_t attempt = 1;; ++attempt) {
    if (bosRegionLock(file, 0, txtAppendLockOffset, 1) == kvSuccess) {
      locked = true;
      break;
    }
    const uint16_t number = KvErrorKeeper::getLastErrorNumber();
    KvErrorKeeper::clearLastError();
    // Where the system keeps no locks the row is written without one.
    if (number == kvMsgNoShare) break;
    if (attempt >= appendLockAttempts || bosRegionHeldInProcess(file, txtAppendLockOffset, 1)) {
      addFlatError(stateGeneral, msgRecordLocked);
      return kvFailure;
    }
    bossleep(lockWaitMs(attempt));
  }
  uint64_t offset = 0;
  KvStatus status = appendRow(row, &offset);
  if (locked && bosRegionLock(file, 1, txtAppendLockOffset, 1) != kvSuccess) KvErrorKeeper::clearLastError();
  reader_.invalidate();
  if (status != kvSuccess) return kvFailure;
  setRowKey(offset);
  return kvSuccess;
}
