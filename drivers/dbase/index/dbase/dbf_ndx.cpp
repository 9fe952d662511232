// .NDX headers, their update, new headers and the index locks; see
// dbf_ndx.h.
#include "drivers/dbase/index/dbase/dbf_ndx.h"

#include "base/handles/base_error_list.h"
#include "drivers/dbase/connection/dbf_connection.h"
#include "drivers/dbase/dbase_message_ids.h"
#include "drivers/dbase/index/dbf_index_locks.h"
#include "drivers/dbase/table/dbf_shared_desc.h"
#include "util/byte_order.h"
#include "util/charsets/charset_oem.h"

#include <cstring>

namespace {

// What differs between the two headers.
struct NdxForm {
  uint32_t headerBytes;  // bytes the reader takes
  uint8_t rootAt;
  uint8_t eofAt;
  bool wide;             // u32 root and end of file (else u16)
  uint8_t keyTextAt;
  uint8_t pageHeader;    // bytes before entry 0 of a page
  uint8_t pointerBytes;  // of the pointer behind a page's keys
  uint16_t message;      // the refusal of a bad header
};
const NdxForm ndx2Form = {232, 2, 4, false, 10, 2, 2, msgDbfBadNdx2};
const NdxForm ndx3Form = {248, 0, 4, true, 24, 4, 4, msgDbfBadNdx3};

enum : uint32_t {
  keyTextBytes = 220,
  newHeaderBytes = 512,
  kvRegionBase = 0x180,            // K+V: the header page's bytes
  kvVirtualRegionBase = 0x6FFFFFFF,
  ndx3FormMarker = 2,
};

const NdxForm& formOf(uint32_t kind) { return kind == dbfIndexNdx2 ? ndx2Form : ndx3Form; }

// Whether n keys of entry bytes, the page header and the pointer behind
// the keys fit a 512-byte page, and a page holds at least two keys.
bool pageFits(const NdxForm& form, uint32_t maxKeys, uint32_t entrySize) {
  return maxKeys >= 2 && form.pageHeader + maxKeys * entrySize + form.pointerBytes <= dbfIndexPageUnit;
}

KvStatus writeHeaderBytes(DbfIndexFile* file, const unsigned char* header, const unsigned char* keyText,
                          uint32_t keyTextAt, uint32_t limit) {
  unsigned char bytes[newHeaderBytes];
  std::memcpy(bytes, header, sizeof(bytes));
  size_t length = keyText ? std::strlen(kvC(keyText)) : 0;
  if (length > limit) return file->invalid();
  if (length) std::memcpy(bytes + keyTextAt, keyText, length);
  file->setEofPage(1);
  return file->write(0, bytes, sizeof(bytes));
}

}  // namespace

DbfNdxDesc::DbfNdxDesc(DbfSharedDesc* table) : DbfBtreeDesc(table) {}
DbfNdxDesc::~DbfNdxDesc() = default;

KvStatus DbfNdxDesc::refuse() const { return file_->fail(formOf(file_->getKind()).message); }

KvStatus DbfNdxDesc::takeRootAndEof(uint32_t root, uint32_t eof) {
  if (eof == 0 || eof >= dbfIndexMaxEofPage || root >= dbfIndexMaxRootPage || (root && root >= eof)) return refuse();
  root_ = root;
  file_->setEofPage(eof);
  return kvSuccess;
}

KvStatus DbfNdxDesc::writeHeader() {
  if (file_->getEofPage() == eofAtStart_ && root_ == rootAtStart_) return kvSuccess;
  const NdxForm& form = formOf(file_->getKind());
  unsigned char bytes[8];
  uint32_t length = form.wide ? 8 : 4;
  if (form.wide) {
    kvPutU32LE(bytes, root_);
    kvPutU32LE(bytes + 4, file_->getEofPage());
  } else {
    kvPutU16LE(bytes, uint16_t(root_));
    kvPutU16LE(bytes + 2, uint16_t(file_->getEofPage()));
  }
  if (file_->write(form.rootAt, bytes, length) != kvSuccess) return kvFailure;
  eofAtStart_ = file_->getEofPage();
  rootAtStart_ = root_;
  return kvSuccess;
}

KvStatus DbfNdxDesc::rereadHeader(bool eof) {
  const NdxForm& form = formOf(file_->getKind());
  unsigned char bytes[8];
  uint32_t got = 0;
  if (file_->read(0, bytes, sizeof(bytes), &got) != kvSuccess) return kvFailure;
  if (got < sizeof(bytes)) return refuse();
  uint32_t root = form.wide ? kvGetU32LE(bytes + form.rootAt) : kvGetU16LE(bytes + form.rootAt);
  uint32_t end = form.wide ? kvGetU32LE(bytes + form.eofAt) : kvGetU16LE(bytes + form.eofAt);
  if (takeRootAndEof(root, eof ? end : file_->getEofPage() > end ? file_->getEofPage() : end) != kvSuccess)
    return kvFailure;
  markStale();
  return kvSuccess;
}

uint32_t DbfNdxDesc::slotRegion() const {
  switch (table_->getDbfConnection()->getLockScheme()) {
    case dbfLockKv: return kvRegionBase;
    case dbfLockKvVirtual: return kvVirtualRegionBase;
    default: return 0;
  }
}

KvStatus DbfNdxDesc::lockForWrite(DbfIndexCursor*) {
  if (indexFlags_ & indexWriteLocked) return kvSuccess;
  uint32_t region = slotRegion();
  if (region) {
    bool oneRegion = false;
    if (dbfIndexLockRegionForWrite(file_->getHandle(), region, ownSlots_, &oneRegion, &writeBytes_) != kvSuccess)
      return kvFailure;
    if (oneRegion) stateFlags_ |= stateOneRegion;
    else stateFlags_ &= ~uint32_t(stateOneRegion);
    file_->lockOffset = region;
    file_->lockLength = dbfIndexRegionBytes;
  } else {
    if (dbfIndexHoldLockByte(file_) != kvSuccess) return kvFailure;
    file_->lockOffset = dbfIndexLockByte;
    file_->lockLength = 1;
  }
  indexFlags_ |= indexWriteLocked;
  if (rereadHeader(true) != kvSuccess) {
    unlockIndexFile();
    return kvFailure;
  }
  return kvSuccess;
}

void DbfNdxDesc::unlockIndexFile() {
  if (!(indexFlags_ & indexWriteLocked)) return;
  uint32_t region = slotRegion();
  if (region) {
    dbfIndexUnlockRegionForWrite(file_->getHandle(), region, (stateFlags_ & stateOneRegion) != 0, writeBytes_);
    writeBytes_ = 0;
    stateFlags_ |= stateOneRegion;
  } else {
    dbfIndexReleaseLockByte(file_);
  }
  file_->lockOffset = 0;
  file_->lockLength = 0;
  indexFlags_ &= ~uint8_t(indexWriteLocked);
}

KvStatus DbfNdxDesc::lockForRead(DbfIndexCursor* cursor) {
  if (cursor->readLocked) return kvSuccess;
  uint32_t region = slotRegion();
  bool taken = false;
  if (region) {
    // Under this handle's own write lock a reader needs no slot.
    if (!(indexFlags_ & indexWriteLocked)) {
      if (dbfIndexLockSlot(file_->getHandle(), region, &cursor->readSlot) != kvSuccess) return kvFailure;
      ownSlots_ |= uint64_t(1) << (cursor->readSlot - region);
      taken = true;
    }
  } else {
    taken = file_->lockByteHolders == 0;
    if (dbfIndexHoldLockByte(file_) != kvSuccess) return kvFailure;
    ++file_->readLockCount;
  }
  cursor->readLocked = true;
  if (taken && rereadHeader(false) != kvSuccess) {
    unlockForRead(cursor);
    return kvFailure;
  }
  return kvSuccess;
}

void DbfNdxDesc::unlockForRead(DbfIndexCursor* cursor) {
  if (!cursor->readLocked) return;
  uint32_t region = slotRegion();
  if (region) {
    if (cursor->readSlot) {
      dbfIndexUnlock(file_->getHandle(), cursor->readSlot, 1);
      ownSlots_ &= ~(uint64_t(1) << (cursor->readSlot - region));
    }
  } else {
    if (file_->readLockCount) --file_->readLockCount;
    dbfIndexReleaseLockByte(file_);
  }
  cursor->readSlot = 0;
  cursor->readLocked = false;
}

KvStatus DbfNdxDesc::getKeyText(unsigned char* text, uint32_t size) {
  if (size == 0) return kvSuccess;
  text[0] = 0;
  const NdxForm& form = formOf(file_->getKind());
  unsigned char bytes[keyTextBytes + 1] = {0};
  uint32_t got = 0;
  if (file_->read(form.keyTextAt, bytes, keyTextBytes, &got) != kvSuccess) return kvFailure;
  if (got < keyTextBytes) return file_->invalid();
  uint32_t length = uint32_t(std::strlen(kvC(bytes)));
  if (length >= size) length = size - 1;
  if (oem_) kvOemToAnsi(text, bytes, length);
  else std::memcpy(text, bytes, length);
  text[length] = 0;
  return kvSuccess;
}

// ---------------------------------------------------------------- dBASE II

DbfNdx2Desc::DbfNdx2Desc(DbfSharedDesc* table) : DbfNdxDesc(table) {}
DbfNdx2Desc::~DbfNdx2Desc() = default;

KvStatus DbfNdx2Desc::readHeader(DbfIndexFile* file, unsigned char* keyText, uint32_t size) {
  if (size) keyText[0] = 0;
  if (initialize(file) != kvSuccess) return kvFailure;
  file->setKind(dbfIndexNdx2);
  file->setPageSize(dbfIndexPageUnit);
  unsigned char header[ndx2Form.headerBytes + 1];
  uint32_t got = 0;
  if (file->read(0, header, ndx2Form.headerBytes, &got) != kvSuccess) return kvFailure;
  if (got < ndx2Form.headerBytes) return refuse();
  header[ndx2Form.headerBytes] = 0;
  uint32_t lengthPlus2 = header[6], entrySize = header[7], maxKeys = header[8];
  if (lengthPlus2 < 3 || lengthPlus2 - 2 > dbfIndexMaxKeyLength(dbfIndexNdx2) || entrySize != lengthPlus2 + 2 ||
      !pageFits(ndx2Form, maxKeys, entrySize))
    return refuse();
  if (takeRootAndEof(kvGetU16LE(header + 2), kvGetU16LE(header + 4)) != kvSuccess) return kvFailure;
  setKeyForm(header[9] == 0 ? 'C' : 'F', uint16_t(lengthPlus2 - 2), uint16_t(entrySize), uint16_t(maxKeys));
  indexFlags_ = 0;
  header[ndx2Form.keyTextAt + keyTextBytes] = 0;
  if (size) {
    std::strncpy(kvC(keyText), kvC(header + ndx2Form.keyTextAt), size - 1);
    keyText[size - 1] = 0;
  }
  return kvSuccess;
}

KvStatus DbfNdx2Desc::writeNewHeader(DbfIndexFile* file, unsigned char type, uint16_t keyLength,
                                     const unsigned char* keyText) {
  if (keyLength == 0 || keyLength > dbfIndexMaxKeyLength(dbfIndexNdx2)) return file->fail(msgDbfBadNdx2);
  unsigned char header[newHeaderBytes] = {0};
  uint32_t entrySize = keyLength + 4u;
  kvPutU16LE(header + 4, 1);
  header[6] = uint8_t(keyLength + 2);
  header[7] = uint8_t(entrySize);
  header[8] = uint8_t(509 / entrySize);
  header[9] = type == 'C' ? 0 : 1;
  file->setKind(dbfIndexNdx2);
  return writeHeaderBytes(file, header, keyText, ndx2Form.keyTextAt, 99);
}

// ---------------------------------------------------------------- dBASE III

DbfNdx3Desc::DbfNdx3Desc(DbfSharedDesc* table) : DbfNdxDesc(table) {}
DbfNdx3Desc::~DbfNdx3Desc() = default;

KvStatus DbfNdx3Desc::readHeader(DbfIndexFile* file, unsigned char* keyText, uint32_t size) {
  if (size) keyText[0] = 0;
  if (initialize(file) != kvSuccess) return kvFailure;
  file->setKind(dbfIndexNdx3);
  file->setPageSize(dbfIndexPageUnit);
  unsigned char header[ndx3Form.headerBytes + 1];
  uint32_t got = 0;
  if (file->read(0, header, ndx3Form.headerBytes, &got) != kvSuccess) return kvFailure;
  if (got < ndx3Form.headerBytes) return refuse();
  header[ndx3Form.headerBytes] = 0;
  uint32_t keyLength = kvGetU16LE(header + 12), maxKeys = kvGetU16LE(header + 14);
  uint32_t entrySize = kvGetU16LE(header + 18);
  if (keyLength == 0 || keyLength > dbfIndexMaxKeyLength(dbfIndexNdx3) || entrySize < keyLength + 8 ||
      entrySize - keyLength > 11 || !pageFits(ndx3Form, maxKeys, entrySize))
    return refuse();
  if (takeRootAndEof(kvGetU32LE(header), kvGetU32LE(header + 4)) != kvSuccess) return kvFailure;
  setKeyForm(kvGetU16LE(header + 16) == 0 ? 'C' : 'F', uint16_t(keyLength), uint16_t(entrySize), uint16_t(maxKeys));
  bool unique = kvGetU16LE(header + 20) == ndx3FormMarker ? (header[8] & indexUniqueProperty) != 0 : header[23] != 0;
  indexFlags_ = unique ? indexUniqueProperty : 0;
  header[ndx3Form.keyTextAt + keyTextBytes] = 0;
  if (size) {
    std::strncpy(kvC(keyText), kvC(header + ndx3Form.keyTextAt), size - 1);
    keyText[size - 1] = 0;
  }
  return kvSuccess;
}

KvStatus DbfNdx3Desc::writeNewHeader(DbfIndexFile* file, unsigned char type, uint16_t keyLength, bool unique,
                                     const unsigned char* keyText) {
  if (keyLength == 0 || keyLength > dbfIndexMaxKeyLength(dbfIndexNdx3)) return file->fail(msgDbfBadNdx3);
  unsigned char header[newHeaderBytes] = {0};
  uint32_t entrySize = (keyLength + 11u) & ~3u;
  kvPutU32LE(header + 4, 1);
  kvPutU16LE(header + 12, keyLength);
  kvPutU16LE(header + 14, uint16_t(504 / entrySize));
  kvPutU16LE(header + 16, type == 'C' ? 0 : 1);
  kvPutU16LE(header + 18, uint16_t(entrySize));
  header[23] = unique ? 1 : 0;
  file->setKind(dbfIndexNdx3);
  return writeHeaderBytes(file, header, keyText, ndx3Form.keyTextAt, keyTextBytes);
}
