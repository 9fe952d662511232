// Opening an Excel 5 workbook and reading its records (xls_book_desc.h).
#include "drivers/excel/biff/xls_book_desc.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "base/handles/base_error_list.h"
#include "base/handles/base_message_ids.h"
#include "drivers/excel/excel5_message_ids.h"
#include "util/byte_order.h"
#include "util/os/bos.h"

namespace {

constexpr uint32_t kRecordDataBytes = XlsCellBuffer::recordBytes - 4;

// Whether fetchRecord copies a type's data: the records the globals scan, a
// sheet scan and a row read look into.
bool keepsData(uint16_t type) {
  switch (type) {
    case biffBof:
    case biffName:
    case biffFormat:
    case biff1904:
    case biffFilePass:
    case biffXf:
    case biffBoundSheet:
    case biffMulRk:
      return true;
    default:
      return biffIsCellRecord(type);
  }
}

KvStatus readFailure(int32_t result) {
  addOdbcError(stateGeneral, msgXlsReadStream) << uint32_t(uint32_t(result) & 0xFFFF);
  return kvFailure;
}

}  // namespace

KvStatus xlsNotExcel() {
  addOdbcError(stateGeneral, msgXlsNotExcel);
  return kvFailure;
}

// ---------------------------------------------------------------- XlsCellBuffer

KvStatus XlsCellBuffer::fill(uint32_t offset) {
  OleStream& stream = book_->stream();
  loaded_ = false;
  int32_t result = stream.seek(offset, kvOleSeekSet, nullptr);
  uint32_t got = 0;
  if (result == kvOleOk) result = stream.read(window_, windowBytes, &got);
  if (result != kvOleOk) return readFailure(result);
  loaded_ = true;
  windowStart_ = offset;
  windowBytesRead_ = got;
  return kvSuccess;
}

KvStatus XlsCellBuffer::fetchRecord(uint32_t offset, Record* record) {
  // The header and the whole record must lie in the stream: a record cut by
  // the end is no record, and the end without EOF is a damaged stream.
  if (uint64_t(offset) + 4 > book_->streamSize()) return xlsNotExcel();
  bool inWindow = loaded_ && offset >= windowStart_ && uint64_t(offset - windowStart_) + 4 <= windowBytesRead_;
  if (inWindow) {
    uint16_t length = kvGetU16LE(window_ + (offset - windowStart_) + 2);
    inWindow = uint64_t(offset - windowStart_) + 4 + length <= windowBytesRead_;
  }
  if (!inWindow && fill(offset) != kvSuccess) return kvFailure;
  const unsigned char* at = window_ + (offset - windowStart_);
  if (uint64_t(offset - windowStart_) + 4 > windowBytesRead_) return xlsNotExcel();
  record->type = kvGetU16LE(at);
  record->length = kvGetU16LE(at + 2);
  if (uint64_t(offset) + 4 + record->length > book_->streamSize()) return xlsNotExcel();
  record->copied = keepsData(record->type) ? uint16_t(std::min<uint32_t>(record->length, kRecordDataBytes)) : 0;
  if (uint64_t(offset - windowStart_) + 4 + record->copied > windowBytesRead_) return xlsNotExcel();
  std::memcpy(record->data, at + 4, record->copied);
  return kvSuccess;
}

// ---------------------------------------------------------------- XlsBookDesc

KvStatus XlsBookDesc::openWorkbook(const unsigned char* path) {
  unsigned char fullPath[bosPathBytes];
  uint32_t length = kvTextLength(path);
  if (length >= sizeof fullPath) {
    addOdbcError(stateGeneral, msgXlsNoWorkbook) << path;
    return kvFailure;
  }
  std::memcpy(fullPath, path, length + 1);
  if (bosfpath(fullPath) != kvSuccess) return kvFailure;
  try {
    path_ = kvC(fullPath);
  } catch (const std::bad_alloc&) {
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  std::unique_ptr<OleStorage> storage;
  int32_t result = OleStorage::open(fullPath, STGM_READ | STGM_SHARE_DENY_WRITE, &storage);
  if (result != kvOleOk) {
    if (result == STG_E_FILENOTFOUND || result == STG_E_PATHNOTFOUND)
      addOdbcError(stateGeneral, msgXlsNoWorkbook) << path;
    else
      addOdbcError(stateGeneral, msgXlsOpenWorkbook) << uint32_t(uint32_t(result) & 0xFFFF) << path;
    return kvFailure;
  }
  storage_ = std::move(storage);
  return openStream();
}

KvStatus XlsBookDesc::openStorage(std::unique_ptr<OleStorage> storage, const unsigned char* path) {
  try {
    path_ = kvC(path);
  } catch (const std::bad_alloc&) {
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  storage_ = std::move(storage);
  return openStream();
}

KvStatus XlsBookDesc::openStream() {
  int32_t result = storage_->openStream("Book", STGM_READ | STGM_SHARE_EXCLUSIVE, &stream_);
  if (result != kvOleOk) {
    addOdbcError(stateGeneral, msgXlsOpenStream) << "Book" << uint32_t(uint32_t(result) & 0xFFFF);
    return kvFailure;
  }
  return scanGlobals();
}

KvStatus XlsBookDesc::scanGlobals() {
  // The reader lives on the heap: its window and record are 3.6 KB.
  std::unique_ptr<XlsCellBuffer> reader(new (std::nothrow) XlsCellBuffer(this));
  std::unique_ptr<XlsCellBuffer::Record> record(new (std::nothrow) XlsCellBuffer::Record);
  if (!reader || !record) {
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  try {
    uint32_t offset = 0;
    uint32_t depth = 0;  // nested BOF..EOF substreams are skipped whole
    // Each record moves the offset on by at least 4 bytes, and fetchRecord
    // fails past the stream's end: the loop ends.
    for (bool first = true;; first = false) {
      if (reader->fetchRecord(offset, record.get()) != kvSuccess) return kvFailure;
      const unsigned char* data = record->data;
      uint32_t bytes = record->copied;
      if (first && record->type != biffBof) return xlsNotExcel();
      if (record->type == biffBof) {
        if (bytes < 2 || kvGetU16LE(data) != biff5Version) return xlsNotExcel();
        ++depth;
      } else if (record->type == biffEof) {
        if (--depth == 0) return kvSuccess;
      } else if (depth == 1) {
        switch (record->type) {
          case biffName:
            if (addName(*record) != kvSuccess) return kvFailure;
            break;
          case biff1904:
            if (bytes >= 2 && kvGetU16LE(data) == 1) date1904_ = true;
            break;
          case biffFilePass:
            addOdbcError(stateGeneral, msgXlsPassword);
            return kvFailure;
          case biffBoundSheet:
            if (bytes < 4) return xlsNotExcel();
            sheetOffsets_.push_back(kvGetU32LE(data));
            break;
          case biffXf:
            if (bytes < 4) return xlsNotExcel();
            xfFormats_.push_back(kvGetU16LE(data + 2));
            break;
          case biffFormat: {
            if (bytes < 3 || 3u + data[2] > bytes) return xlsNotExcel();
            uint16_t index = kvGetU16LE(data);
            if (index >= formatClasses_.size()) formatClasses_.resize(size_t(index) + 1, xlsNumber);
            formatClasses_[index] = biffFormatTextClass(data + 3, data[2]);
            break;
          }
          default:
            break;
        }
      }
      offset += 4 + record->length;
    }
  } catch (const std::bad_alloc&) {
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
}

KvStatus XlsBookDesc::addName(const XlsCellBuffer::Record& record) {
  const unsigned char* data = record.data;
  uint32_t bytes = record.copied;
  if (bytes < 14) return xlsNotExcel();
  uint16_t flags = kvGetU16LE(data);
  uint32_t nameChars = data[3];
  uint32_t formulaBytes = kvGetU16LE(data + 4);
  if (14 + nameChars + formulaBytes > bytes) return xlsNotExcel();
  const unsigned char* text = data + 14;
  const unsigned char* formula = text + nameChars;
  bool builtin = (flags & 0x0020) != 0;
  if (!(flags == 0 || (builtin && nameChars >= 1 && text[0] == 4))) return kvSuccess;
  if (kvGetU16LE(data + 6) != 0) return kvSuccess;  // local to one sheet
  if (formulaBytes < 21 || formula[0] != 0x3B) return kvSuccess;
  const unsigned char* area = formula + 1;
  uint16_t firstSheet = kvGetU16LE(area + 10), lastSheet = kvGetU16LE(area + 12);
  uint16_t firstRow = kvGetU16LE(area + 14), lastRow = kvGetU16LE(area + 16);
  if (firstSheet != lastSheet) return kvSuccess;
  if (firstRow >= 0x4000 || lastRow >= 0x4000) return kvSuccess;
  XlsNameDesc name;
  name.sheet = firstSheet;
  name.firstRow = firstRow;
  name.lastRow = lastRow;
  name.firstColumn = area[18];
  name.lastColumn = area[19];
  // An area whose first row or column lies after its last is no area.
  if (name.firstRow > name.lastRow || name.firstColumn > name.lastColumn) return xlsNotExcel();
  name.name = builtin ? std::string("Database") : std::string(reinterpret_cast<const char*>(text), nameChars);
  names_.push_back(std::move(name));
  return kvSuccess;
}

const XlsNameDesc* XlsBookDesc::findName(const std::string& text) const {
  for (const XlsNameDesc& name : names_)
    if (name.name == text) return &name;
  return nullptr;
}

KvStatus XlsBookDesc::sheetOffset(const XlsNameDesc& name, uint32_t* offset) const {
  if (name.sheet >= sheetOffsets_.size()) return xlsNotExcel();
  *offset = sheetOffsets_[name.sheet];
  return kvSuccess;
}

XlsType XlsBookDesc::formatClass(uint16_t xf) const {
  if (xf >= xfFormats_.size()) return xlsNumber;
  uint16_t format = xfFormats_[xf];
  if (format < 50) return biffBuiltinFormatClass(format);
  return format < formatClasses_.size() ? formatClasses_[format] : xlsNumber;
}
