// Shared tables of the dBASE driver: open and header check, fields, the
// record count, record bytes through the block cache, and the date of last
// update; see dbf_shared_desc.h.
#include "drivers/dbase/table/dbf_shared_desc.h"

#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "flat/connection/flat_file_desc.h"
#include "flat/connection/flat_rid.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "util/files/block_cache.h"
#include "util/os/bos.h"
#include "util/byte_order.h"
#include "util/charsets/charset_oem.h"
#include "util/memory/ram.h"

#include <cstring>

namespace {

KvStatus badFormat(const unsigned char* path, DbfHeaderFault fault) {
  if (fault == dbfHeaderEncrypted) addFlatError(stateGeneral, msgEncryptedTable);
  else addFlatError(stateGeneral, msgInvalidFileFormat) << path;
  return kvFailure;
}

// The file's size; 0xFFFFFFFF when it cannot be told (or is 4 GiB or more).
uint32_t fileSize(int handle) { return bosFileSeek(handle, 0, 2); }

}  // namespace

// ---------------------------------------------------------------- DbfSharedField

DbfSharedField::DbfSharedField(DbfConnection* connection, const DbfFieldInfo& info)
    : connection_(connection), type_(info.type), length_(info.length), decimals_(info.decimals),
      offset_(info.offset) {
  std::memcpy(storedName_, info.name, sizeof(storedName_));
}

DbfSharedField::~DbfSharedField() = default;

KvStatus DbfSharedField::describe(const DbfDialect& dialect, bool oem) {
  unsigned char name[dbfMaxNameChars + 1];
  std::memcpy(name, storedName_, sizeof(name));
  if (oem) kvOemToAnsi(name, name);
  const BaseTypeRow& row = dialect.typeTable[dbfRowOfLetter(dialect, type_)];
  rowSqlType_ = row.dataType;
  if (setName(name) != kvSuccess || setTypeName(kvU(row.typeName)) != kvSuccess) return kvFailure;
  setSqlType(row.dataType);
  switch (type_) {
    case 'C':
      setPrecision(length_);
      break;
    case 'F':
    case 'N':
      setPrecision(decimals_ ? uint32_t(length_ - 1) : length_);
      setScale(int16_t(decimals_));
      break;
    default:
      setPrecision(row.precision);
      break;
  }
  return kvSuccess;
}

int16_t DbfSharedField::getFlatFieldType() {
  switch (type_) {
    case 'B': case 'D': case 'G': case 'L': case 'M': case 'P':
      return rowSqlType_;
    case 'F': case 'N':
      return SQL_DOUBLE;
    default:
      return SQL_VARCHAR;
  }
}

uint16_t DbfSharedField::getAttributes() { return type_ == 'C' || type_ == 'M' ? 8 : 0; }

int16_t DbfSharedField::isSearchable() {
  if (type_ == 'B' || type_ == 'G' || type_ == 'P') return SQL_UNSEARCHABLE;
  return type_ == 'C' ? SQL_SEARCHABLE : SQL_ALL_EXCEPT_LIKE;
}

int16_t DbfSharedField::isUpdatable() { return 1; }

// ---------------------------------------------------------------- DbfSharedDesc

KvStatus DbfSharedDesc::open(DbfConnection* connection, FlatFileDesc* reader, const unsigned char* path,
                             bool exclusive, bool oem, DbfSharedDesc** out) {
  *out = nullptr;
  unsigned char name[bosPathBytes];
  size_t pathLength = std::strlen(kvC(path));
  if (pathLength >= sizeof(name)) {
    addFlatError(stateGeneral, msgInvalidFileFormat) << path;
    return kvFailure;
  }
  std::memcpy(name, path, pathLength + 1);

  // Read-write unless the connection is read-only; a file that cannot be
  // written opens read-only. An exclusive open never falls back: PACK and
  // CREATE INDEX must not go on with a table others may still write.
  bool readOnly = (connection->getEngineFlags() & flatReadOnly) != 0;
  uint32_t mode = (readOnly ? 0 : uint32_t(bosOpenReadWrite)) | (exclusive ? uint32_t(bosOpenExclusive) : 0);
  int handle = 0;
  KvStatus status = bosFileOpen(name, mode, &handle);
  if (status != kvSuccess && !readOnly && !exclusive && bosexist(path)) {
    KvErrorKeeper::clearLastError();
    readOnly = true;
    status = bosFileOpen(name, 0, &handle);
  }
  if (status != kvSuccess) {
    // A missing file is a missing table; a name that two files answer to
    // (t.dbf and T.DBF) keeps the file layer's message, which names both.
    if (!bosexist(path) && dbfFilesMatching(path, nullptr) == 0) {
      KvErrorKeeper::clearLastError();
      addOdbcError(stateTableNotFound);
    }
    return kvFailure;
  }
  // From here on messages name the file as it is on disk.
  bosDiskName(name, name);

  // The header: its fixed part, then all of it, checked against itself and
  // the file's size before anything of it is used.
  unsigned char prefix[dbfPrefixBytes];
  uint32_t got = 0;
  DbfHeaderInfo header;
  DbfHeaderFault fault = dbfHeaderInvalid;
  status = bosFileRead(handle, 0, prefix, sizeof(prefix), &got);
  unsigned char* bytes = nullptr;
  if (status == kvSuccess) {
    uint32_t needed = dbfHeaderBytesNeeded(prefix, got);
    bytes = static_cast<unsigned char*>(ramAlloc(needed));
    if (!bytes) status = kvFailure;
    else status = bosFileRead(handle, 0, bytes, needed, &got);
  }
  if (status == kvSuccess) {
    uint32_t size = fileSize(handle);
    if (size == 0xFFFFFFFF) KvErrorKeeper::clearLastError();
    fault = dbfParseHeader(bytes, got, size, &header, nullptr);
    if (fault != dbfHeaderValid) status = badFormat(name, fault);
  }
  ramFree(bytes);
  if (status == kvSuccess && header.recordCount > flatMaxRecordNumber) {
    addFlatError(stateGeneral, msgRecordNumberLimit) << name << uint32_t(flatMaxRecordNumber);
    status = kvFailure;
  }
  if (status != kvSuccess) {
    (void)(bosFileClose(handle));
    return kvFailure;
  }

  uint32_t flags = tableValid | (readOnly ? uint32_t(tableReadOnly) : 0) | (exclusive ? uint32_t(tableExclusive) : 0) |
                   (oem ? uint32_t(tableOem) : 0);
  auto* shared = new DbfSharedDesc(connection, reader, handle, header, flags);
  if (!shared) {
    (void)(bosFileClose(handle));
    KvErrorKeeper::addMemoryError();
    return kvFailure;
  }
  if (shared->addFields(header) != kvSuccess || shared->setIdentifiers(name) != kvSuccess ||
      shared->refreshRecordCount() != kvSuccess) {
    // The table goes again at once: no half-made table stays in the list.
    reader->setShared(nullptr);
    connection->removeSharedDesc(shared, 1, 1);
    return kvFailure;
  }
  *out = shared;
  return kvSuccess;
}

DbfSharedDesc::DbfSharedDesc(DbfConnection* connection, FlatFileDesc* reader, int handle,
                             const DbfHeaderInfo& header, uint32_t flags)
    : FlatSharedDesc(connection, reader), connection_(connection), dataHandle_(handle), tableFlags_(flags),
      headerLength_(header.headerLength), recordLength_(header.recordLength), version_(header.version),
      productionIndex_(header.productionIndex) {
  if (header.hasMemoFields) layout_ |= layoutMemoFields;
  if (!header.dbase2) layout_ |= layoutDbase3;
  setRecordCount(header.recordCount);
  addFlags(flagCacheable);
}

DbfSharedDesc::~DbfSharedDesc() {
  if ((tableFlags_ & tableChanged) && !isReadOnly()) {
    // The date the user sees on this machine, as the other programs that
    // write these files stamp it: the local date, not UTC's.
    os_time now;
    bosLocalDate(&now);
    unsigned char date[3];
    dbfDateBytes(isDbase2(), now.year, now.month, now.day, date);
    // A failed date write loses nothing the table holds; its message stays
    // in whatever list is current.
    (void)(
        bvmFileWrite(connection_->getBlockCache(), dataHandle_, dbfDateOffset(isDbase2()), date, sizeof(date)));
  }
  (void)(bvmFileClose(connection_->getBlockCache(), dataHandle_));
  memo_.close();
}

KvStatus DbfSharedDesc::addFields(const DbfHeaderInfo& header) {
  const DbfDialect& dialect = connection_->getDialect();
  for (const DbfFieldInfo& info : header.fields) {
    auto* field = new DbfSharedField(connection_, info);
    if (!field) {
      KvErrorKeeper::addMemoryError();
      return kvFailure;
    }
    if (field->describe(dialect, isOem()) != kvSuccess) {
      delete field;
      return kvFailure;
    }
    if (addColumn(field) != kvSuccess) return kvFailure;
  }
  return kvSuccess;
}

KvStatus DbfSharedDesc::refreshRecordCount() {
  uint32_t count = 0;
  if (connection_->getLockScheme() == dbfLockClipper) {
    // Clipper keeps no reliable count in the header: the records the file
    // holds. A file shorter than its header is damaged, not empty: an
    // append would land far beyond its end.
    uint32_t size = fileSize(dataHandle_);
    if (size == 0xFFFFFFFF) return kvFailure;
    if (size < headerLength_) {
      addFlatError(stateGeneral, msgInvalidFileFormat) << getName();
      return kvFailure;
    }
    count = (size - headerLength_) / recordLength_;
  } else {
    bool dbase2 = isDbase2();
    unsigned char bytes[4] = {0};
    uint32_t got = 0;
    if (bosFileRead(dataHandle_, dbfCountOffset(dbase2), bytes, dbfCountBytes(dbase2), &got) != kvSuccess)
      return kvFailure;
    if (got != dbfCountBytes(dbase2)) {
      addFlatError(stateGeneral, msgInvalidFileFormat) << getName();
      return kvFailure;
    }
    count = dbase2 ? kvGetU16LE(bytes) : kvGetU32LE(bytes);
    // A count beyond the records the file holds (a writer stopped between
    // its count and its record, a copy cut short) stands for the whole
    // records there are: a scan ends after the last of them, and an append
    // writes right behind it, never a gap of records nobody inserted. The
    // file's size is asked only when the count goes beyond the records
    // known to be there.
    if (count > wholeRecords_) {
      int64_t size = 0;
      if (bosFileSize(dataHandle_, &size) != kvSuccess) return kvFailure;
      if (size < int64_t(headerLength_)) {
        addFlatError(stateGeneral, msgInvalidFileFormat) << getName();
        return kvFailure;
      }
      uint64_t whole = uint64_t(size - headerLength_) / recordLength_;
      wholeRecords_ = whole < 0xFFFFFFFFu ? uint32_t(whole) : 0xFFFFFFFFu;
      if (count > wholeRecords_) count = wholeRecords_;
    }
  }
  if (count > flatMaxRecordNumber) {
    addFlatError(stateGeneral, msgRecordNumberLimit) << getName() << uint32_t(flatMaxRecordNumber);
    return kvFailure;
  }
  setRecordCount(count);
  return kvSuccess;
}

KvStatus DbfSharedDesc::setRecordCnt() {
  if (isReadOnly()) return refuseReadOnly();
  bool dbase2 = isDbase2();
  unsigned char bytes[4];
  uint32_t count = getRecordCount();
  if (dbase2) {
    if (count > 0xFFFF) {
      addFlatError(stateGeneral, msgRecordNumberLimit) << getName() << uint32_t(0xFFFF);
      return kvFailure;
    }
    kvPutU16LE(bytes, uint16_t(count));
  } else {
    kvPutU32LE(bytes, count);
  }
  if (bvmFileWrite(connection_->getBlockCache(), dataHandle_, dbfCountOffset(dbase2), bytes, dbfCountBytes(dbase2)) !=
      kvSuccess)
    return kvFailure;
  markChanged();
  return kvSuccess;
}

KvStatus DbfSharedDesc::updateDir() {
  if (!(connection_->getEngineFlags() & flatUltraSafeCommit)) return kvSuccess;
  bosflush();
  if (tableFlags_ & tableWritten) {
    if (bosupdir(dataHandle_) != kvSuccess) KvErrorKeeper::clearLastError();
    if (memo_.getHandle() && bosupdir(memo_.getHandle()) != kvSuccess) KvErrorKeeper::clearLastError();
    tableFlags_ &= ~uint32_t(tableWritten);
  }
  layout_ &= ~uint32_t(layoutIndexWritten);
  return kvSuccess;
}

KvStatus DbfSharedDesc::readRecordBytes(uint32_t n, unsigned char* buffer, uint32_t* got, int hint) {
  *got = 0;
  return bvmFileRead(connection_->getBlockCache(), dataHandle_, int64_t(recordOffset(n)), buffer, recordLength_, got,
                     hint);
}

KvStatus DbfSharedDesc::writeRecordBytes(uint32_t n, const unsigned char* data, uint32_t length) {
  if (isReadOnly()) return refuseReadOnly();
  if (n == 0) {
    addOdbcError(stateGeneral);
    return kvFailure;
  }
  if (bvmFileWrite(connection_->getBlockCache(), dataHandle_, int64_t(recordOffset(n)), data, length) != kvSuccess)
    return kvFailure;
  markChanged();
  lastWritten_ = n;
  if (length >= recordLength_ && n > wholeRecords_) wholeRecords_ = n;
  return kvSuccess;
}

KvStatus DbfSharedDesc::reserveRecords(uint32_t first, uint32_t count) {
  if (first == 0 || count == 0) return kvSuccess;
  const uint64_t end = recordOffset(first) + uint64_t(recordLength_) * count + 1;
  if (end <= reservedEnd_) return kvSuccess;
  if (bosFileReserve(dataHandle_, int64_t(end)) != kvSuccess) return kvFailure;
  reservedEnd_ = end;
  return kvSuccess;
}

KvStatus DbfSharedDesc::reserveSpace(uint32_t appendedRecords, uint32_t longValues, uint64_t longBytes) {
  if (isReadOnly()) return kvSuccess;
  if (reserveRecords(getRecordCount() + 1, appendedRecords) != kvSuccess) return kvFailure;
  if (longValues && (layout_ & layoutMemoFields)) return memo_.reserve(this, longValues, longBytes);
  return kvSuccess;
}

KvStatus DbfSharedDesc::appendRecordBytes(uint32_t n, const unsigned char* data, uint32_t length) {
  int64_t sizeBefore = 0;
  if (bosFileSize(dataHandle_, &sizeBefore) != kvSuccess) return kvFailure;
  if (writeRecordBytes(n, data, length) == kvSuccess) return kvSuccess;
  // The write's own failure is the error reported; should the cut back
  // fail as well, its message follows it.
  const int64_t start = int64_t(recordOffset(n));
  reservedEnd_ = 0;
  if (bosFileTruncate(dataHandle_, sizeBefore < start ? sizeBefore : start) != kvSuccess) return kvFailure;
  if (bvmFlush(connection_->getBlockCache(), dataHandle_) != kvSuccess) return kvFailure;
  if (sizeBefore > start) {
    const unsigned char mark = dbfEndOfFile;
    if (bosFileWrite(dataHandle_, start, &mark, 1) != kvSuccess) return kvFailure;
  }
  return kvFailure;
}

KvStatus DbfSharedDesc::refuseReadOnly() {
  addFlatError(stateGeneral, msgTableReadOnly);
  return kvFailure;
}
