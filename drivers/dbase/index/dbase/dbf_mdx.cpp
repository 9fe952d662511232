// .MDX tags (tag header, FOR text, header updates, ziz-tag locks, the
// allocation lock) and the file's header and tag directory; see dbf_mdx.h.
#include "drivers/dbase/index/dbase/dbf_mdx.h"

#include "base/handles/base_error_list.h"
#include "drivers/dbase/connection/dbf_connection.h"
#include "drivers/dbase/dbase_message_ids.h"
#include "drivers/dbase/index/dbf_index_locks.h"
#include "drivers/dbase/records/dbf_file_desc.h"
#include "drivers/dbase/table/dbf_shared_desc.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "util/byte_order.h"
#include "util/charsets/charset_oem.h"
#include "util/containers/str_functions.h"
#include "util/os/bos.h"

#include <cstring>

namespace {

enum : uint32_t {
  fileHeaderBytes = 48,
  storedNameAt = 4,
  storedNameChars = 15,
  blocksPerPageAt = 20,
  pageSizeAt = 22,
  productionAt = 24,
  slotCountAt = 25,
  slotBytesAt = 26,
  tagCountAt = 28,
  eofAt = 32,
  changeDateAt = 44,
  directoryAt = 512,
  entryBytes = 32,
  directoryEntries = 48,  // the head and 47 tags
  firstFreeBlock = 4,     // behind the header and the directory
  newPageSize = 1024,
  maxPageSize = 32768,

  // Directory entry.
  entryBlockAt = 0,
  entryNameAt = 4,
  entryKeyFormAt = 15,
  entryLeftAt = 16,
  entryRightAt = 17,
  entryParentAt = 18,
  entryMarkAt = 19,
  entryTypeAt = 20,

  // Tag header.
  tagHeaderBytes = 256,
  tagRootAt = 0,
  tagBlocksAt = 4,
  tagFlagsAt = 8,
  tagTypeAt = 9,
  tagKeyLengthAt = 12,
  tagMaxKeysAt = 14,
  tagDateKeyAt = 16,
  tagEntrySizeAt = 18,
  tagCounterAt = 20,
  tagKeyTextAt = 24,
  tagForFlagAt = 245,
  tagForTextAt = 762,
  tagHeaderSpan = tagForTextAt + dbfMdxForTextBytes,  // bytes a new tag header fills

  // Locks.
  kvTagRegion = 0x1C0,               // K+V: bytes of the tag header's block
  kvVirtualTagRegion = 0x70000000,   // K+VVirtual: 64 bytes a tag from here
  kvAllocationByte = 0x1FF,
  allocationByte = 0x6FFFFFFD,
};

const uint8_t tagFlagBits = DbfIndexDesc::indexDescending | DbfIndexDesc::indexUniqueProperty;

KvStatus refuse(const DbfIndexFile* file) { return file->fail(msgDbfBadNdx3); }

// Order of a sought name (NUL-terminated, at most 10 characters) and a
// stored one (11 bytes, NUL-terminated within them or not), bytes unsigned.
int compareNames(const unsigned char* sought, const unsigned char* stored) {
  for (uint32_t i = 0; i <= dbfMdxTagNameChars; ++i) {
    if (sought[i] != stored[i]) return sought[i] < stored[i] ? -1 : 1;
    if (!sought[i]) return 0;
  }
  return 0;
}

// A tag name as stored: at most 10 characters, ANSI to OEM when asked.
void storedNameOf(const unsigned char* name, bool ansi, unsigned char* out) {
  size_t length = std::strlen(kvC(name));
  if (length > dbfMdxTagNameChars) length = dbfMdxTagNameChars;
  if (ansi) kvAnsiToOem(out, name, uint32_t(length));
  else std::memcpy(out, name, length);
  out[length] = 0;
}

// The directory in memory: the head and every tag's entry.
struct Directory {
  unsigned char bytes[directoryEntries * entryBytes];
  uint16_t tags = 0;
  unsigned char* entry(uint32_t e) { return bytes + e * entryBytes; }
};

KvStatus readDirectory(DbfIndexFile* file, uint16_t tags, Directory* directory) {
  std::memset(directory->bytes, 0, sizeof(directory->bytes));
  directory->tags = tags;
  uint32_t length = (tags + 1u) * entryBytes, got = 0;
  if (file->read(directoryAt, directory->bytes, length, &got) != kvSuccess) return kvFailure;
  if (got < length) return refuse(file);
  // Every link must name an entry in use.
  for (uint32_t e = 0; e <= tags; ++e) {
    const unsigned char* entry = directory->entry(e);
    if (entry[entryLeftAt] > tags || entry[entryRightAt] > tags || entry[entryParentAt] > tags) return refuse(file);
  }
  return kvSuccess;
}

KvStatus writeDirectory(DbfIndexFile* file, Directory* directory, uint32_t entries) {
  return file->write(directoryAt, directory->bytes, entries * entryBytes);
}

// The entry of a name (0 when absent); a walk longer than the entries is a
// loop in the tree.
KvStatus findInDirectory(DbfIndexFile* file, Directory* directory, const unsigned char* name, uint16_t* found) {
  *found = 0;
  uint32_t e = directory->entry(0)[entryRightAt];
  for (uint32_t steps = 0; e; ++steps) {
    if (steps >= directoryEntries) return refuse(file);
    const unsigned char* entry = directory->entry(e);
    int order = compareNames(name, entry + entryNameAt);
    if (order == 0) {
      *found = uint16_t(e);
      return kvSuccess;
    }
    e = entry[order < 0 ? entryLeftAt : entryRightAt];
  }
  return kvSuccess;
}

// Reads the 48 header bytes and the tag count.
KvStatus readFileHeader(DbfIndexFile* file, unsigned char* header) {
  uint32_t got = 0;
  if (file->read(0, header, fileHeaderBytes, &got) != kvSuccess) return kvFailure;
  if (got < fileHeaderBytes || header[tagCountAt] >= directoryEntries) return refuse(file);
  return kvSuccess;
}

bool validPageSize(uint32_t bytes) { return bytes && bytes % dbfIndexPageUnit == 0 && bytes <= maxPageSize; }

bool hasMdxExtension(const unsigned char* path) {
  size_t length = std::strlen(kvC(path));
  return length >= 4 && path[length - 4] == '.' && strEqualCi(path + length - 3, kvU("MDX"));
}

}  // namespace

// ---------------------------------------------------------------- the tag

DbfMdxDesc::DbfMdxDesc(DbfSharedDesc* table) : DbfBtreeDesc(table) {}

DbfMdxDesc::~DbfMdxDesc() { ramFree(forText_); }

KvStatus DbfMdxDesc::readTag(DbfIndexFile* file, uint16_t tag, unsigned char* keyText, uint32_t keySize,
                             unsigned char* forText, uint32_t forSize) {
  if (keySize) keyText[0] = 0;
  if (forSize) forText[0] = 0;
  if (initialize(file) != kvSuccess) return kvFailure;
  if (tag >= file->getTagCount()) return refuse(file);
  unsigned char entry[entryBytes];
  uint32_t got = 0;
  if (file->read(directoryAt + (tag + 1u) * entryBytes, entry, entryBytes, &got) != kvSuccess) return kvFailure;
  if (got < entryBytes) return refuse(file);
  uint32_t block = kvGetU32LE(entry + entryBlockAt);
  if (block < firstFreeBlock || block >= file->getEofPage()) return refuse(file);

  unsigned char header[tagHeaderBytes + 1];
  if (file->read(uint64_t(block) * dbfIndexPageUnit, header, tagHeaderBytes, &got) != kvSuccess) return kvFailure;
  if (got < tagHeaderBytes) return refuse(file);
  header[tagHeaderBytes] = 0;
  unsigned char type = header[tagTypeAt];
  uint32_t keyLength = kvGetU16LE(header + tagKeyLengthAt), maxKeys = kvGetU16LE(header + tagMaxKeysAt);
  uint32_t entrySize = kvGetU16LE(header + tagEntrySizeAt), root = kvGetU32LE(header + tagRootAt);
  bool typeFits = (type == 'C' && keyLength >= 1 && keyLength <= dbfIndexMaxKeyLength(dbfIndexMdx)) ||
                  (type == 'N' && keyLength == dbfBcdKeyBytes) || (type == 'D' && keyLength == dbfDoubleKeyBytes);
  if (!typeFits || entrySize < keyLength + 4 || maxKeys < 2 || 8 + maxKeys * entrySize + 4 > file->getPageSize() ||
      root >= dbfIndexMaxRootPage || (root && root >= file->getEofPage()))
    return refuse(file);

  tagNumber_ = tag;
  tagHeaderOffset_ = block * dbfIndexPageUnit;
  root_ = root;
  setKeyForm(type, uint16_t(keyLength), uint16_t(entrySize), uint16_t(maxKeys));
  // Only the descending and unique bits are the file's to give: the other
  // index flags are this process's own state.
  indexFlags_ = uint8_t(header[tagFlagsAt] & tagFlagBits);
  descending_ = (header[tagFlagsAt] & indexDescending) ? 1 : 0;
  changeCounter_ = header[tagCounterAt];

  unsigned char tagName[dbfMdxTagNameChars + 1];
  std::memcpy(tagName, entry + entryNameAt, dbfMdxTagNameChars);
  tagName[dbfMdxTagNameChars] = 0;
  unsigned char* copy = ramAllocStr(tagName);
  if (!copy) return kvFailure;
  ramFree(name);
  name = copy;

  if (keySize) {
    header[tagKeyTextAt + dbfMdxKeyTextBytes] = 0;
    std::strncpy(kvC(keyText), kvC(header + tagKeyTextAt), keySize - 1);
    keyText[keySize - 1] = 0;
  }
  if (forSize && header[tagForFlagAt]) {
    unsigned char text[dbfMdxForTextBytes];
    if (file->read(tagHeaderOffset_ + tagForTextAt, text, sizeof(text), &got) != kvSuccess) return kvFailure;
    if (got < sizeof(text)) return refuse(file);
    text[sizeof(text) - 1] = 0;
    std::strncpy(kvC(forText), kvC(text), forSize - 1);
    forText[forSize - 1] = 0;
  }
  return kvSuccess;
}

KvStatus DbfMdxDesc::readTagText(uint32_t offset, uint32_t bytes, unsigned char* text, uint32_t size) {
  unsigned char stored[dbfMdxForTextBytes + 1] = {0};
  uint32_t got = 0;
  if (file_->read(offset, stored, bytes, &got) != kvSuccess) return kvFailure;
  if (got < bytes) return file_->invalid();
  stored[bytes] = 0;
  uint32_t length = uint32_t(std::strlen(kvC(stored)));
  if (length >= size) length = size - 1;
  if (oem_) kvOemToAnsi(text, stored, length);
  else std::memcpy(text, stored, length);
  text[length] = 0;
  return kvSuccess;
}

KvStatus DbfMdxDesc::getKeyText(unsigned char* text, uint32_t size) {
  if (size == 0) return kvSuccess;
  text[0] = 0;
  return readTagText(tagHeaderOffset_ + tagKeyTextAt, dbfMdxKeyTextBytes, text, size);
}

KvStatus DbfMdxDesc::getFilterCondition(uint8_t** text, FlatFileDesc*) {
  *text = nullptr;
  unsigned char flag = 0;
  uint32_t got = 0;
  if (file_->read(tagHeaderOffset_ + tagForFlagAt, &flag, 1, &got) != kvSuccess) return kvFailure;
  if (got < 1) return file_->invalid();
  if (!flag) return kvSuccess;
  if (!forText_ && !(forText_ = static_cast<unsigned char*>(ramAlloc(dbfMdxForTextBytes)))) return kvFailure;
  if (readTagText(tagHeaderOffset_ + tagForTextAt, dbfMdxForTextBytes - 1, forText_, dbfMdxForTextBytes) !=
      kvSuccess)
    return kvFailure;
  *text = forText_;
  return kvSuccess;
}

KvStatus DbfMdxDesc::writeHeader() {
  unsigned char header[tagHeaderBytes];
  uint32_t got = 0;
  if (file_->read(tagHeaderOffset_, header, sizeof(header), &got) != kvSuccess) return kvFailure;
  if (got < sizeof(header)) return file_->invalid();
  uint32_t eof = file_->getEofPage();
  bool grew = eof != eofAtStart_;
  if (grew) kvPutU32LE(header + tagBlocksAt, kvGetU32LE(header + tagBlocksAt) + (eof - eofAtStart_));
  kvPutU32LE(header + tagRootAt, root_);
  header[tagCounterAt] = ++changeCounter_;
  if (file_->write(tagHeaderOffset_, header, sizeof(header)) != kvSuccess) return kvFailure;
  if (grew) {
    unsigned char end[4];
    kvPutU32LE(end, eof);
    if (file_->write(eofAt, end, sizeof(end)) != kvSuccess) return kvFailure;
    eofAtStart_ = eof;
  }
  rootAtStart_ = root_;
  return kvSuccess;
}

KvStatus DbfMdxDesc::pagesAbandoned(uint32_t pages) {
  unsigned char blocks[4];
  uint32_t got = 0;
  if (file_->read(tagHeaderOffset_ + tagBlocksAt, blocks, sizeof(blocks), &got) != kvSuccess) return kvFailure;
  if (got < sizeof(blocks)) return file_->invalid();
  uint32_t used = kvGetU32LE(blocks), freed = pages * (getPageSize() / dbfIndexPageUnit);
  kvPutU32LE(blocks, used > freed ? used - freed : 0);
  return file_->write(tagHeaderOffset_ + tagBlocksAt, blocks, sizeof(blocks));
}

// ---------------------------------------------------------------- locks

uint32_t DbfMdxDesc::slotRegion() const {
  switch (table_->getDbfConnection()->getLockScheme()) {
    case dbfLockKv: return tagHeaderOffset_ + kvTagRegion;
    case dbfLockKvVirtual: return (tagNumber_ + 1u) * dbfIndexRegionBytes + kvVirtualTagRegion;
    default: return 0;
  }
}

bool DbfMdxDesc::fileLocking(DbfIndexCursor* cursor) const {
  return slotRegion() && cursor && cursor->reader() && cursor->reader()->getLockLevel() == dbfLockFile;
}

KvStatus DbfMdxDesc::rereadAfterLock(bool eof) {
  unsigned char bytes[tagCounterAt + 1];
  uint32_t got = 0;
  if (eof) {
    unsigned char end[4];
    if (file_->read(eofAt, end, sizeof(end), &got) != kvSuccess) return kvFailure;
    uint32_t block = got == sizeof(end) ? kvGetU32LE(end) : 0;
    if (block < firstFreeBlock || block >= dbfIndexMaxEofPage) return refuse(file_);
    file_->setEofPage(block);
  }
  if (file_->read(tagHeaderOffset_, bytes, sizeof(bytes), &got) != kvSuccess) return kvFailure;
  if (got < sizeof(bytes)) return refuse(file_);
  uint32_t root = kvGetU32LE(bytes + tagRootAt);
  if (root >= dbfIndexMaxRootPage || (root && root >= file_->getEofPage())) return refuse(file_);
  root_ = root;
  if (bytes[tagCounterAt] != changeCounter_) {
    changeCounter_ = bytes[tagCounterAt];
    markStale();
  }
  return kvSuccess;
}

KvStatus DbfMdxDesc::lockForWrite(DbfIndexCursor* cursor) {
  if (indexFlags_ & indexWriteLocked) return kvSuccess;
  int handle = file_->getHandle();
  if (fileLocking(cursor)) {
    if (file_->fileLockHolders == 0) {
      uint32_t offset = 0, length = 0xFFFFFFFF;
      if (table_->getDbfConnection()->getLockScheme() == dbfLockKvVirtual) {
        uint64_t size = 0;
        if (file_->size(&size) != kvSuccess) return kvFailure;
        offset = size > 0xFFFFFFFE ? 0xFFFFFFFE : uint32_t(size);
        length = 0xFFFFFFFF - offset;
      }
      // Over this handle's own reader slots the lock can never be had:
      // asked once, it fails at once instead of waiting for ever.
      KvStatus status = file_->readSlotHolders ? bosRegionLock(handle, 0, offset, length)
                                               : dbfIndexLockWaiting(handle, offset, length);
      if (status != kvSuccess) {
        file_->fileLockLength = 0;
        return kvFailure;
      }
      file_->fileLockOffset = offset;
      file_->fileLockLength = length;
    }
    ++file_->fileLockHolders;
    wholeFileHeld_ = true;
    file_->lockOffset = file_->fileLockOffset;
    file_->lockLength = file_->fileLockLength;
  } else if (uint32_t region = slotRegion()) {
    bool oneRegion = false;
    if (dbfIndexLockRegionForWrite(handle, region, ownSlots_, &oneRegion, &writeBytes_) != kvSuccess) return kvFailure;
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
  if (rereadAfterLock(true) != kvSuccess) {
    unlockIndexFile();
    return kvFailure;
  }
  return kvSuccess;
}

void DbfMdxDesc::unlockIndexFile() {
  if (!(indexFlags_ & indexWriteLocked)) return;
  if (wholeFileHeld_) {
    if (file_->fileLockHolders && --file_->fileLockHolders == 0) {
      dbfIndexUnlock(file_->getHandle(), file_->fileLockOffset, file_->fileLockLength);
      file_->fileLockLength = 0;
    }
    wholeFileHeld_ = false;
  } else if (uint32_t region = slotRegion()) {
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

KvStatus DbfMdxDesc::lockForRead(DbfIndexCursor* cursor) {
  if (cursor->readLocked) return kvSuccess;
  bool taken = false;
  if (uint32_t region = slotRegion()) {
    // Under this handle's own write lock of the tag, or its whole-file
    // lock, a reader needs no slot.
    bool covered = (indexFlags_ & indexWriteLocked) ||
                   (file_->fileLockLength && region >= file_->fileLockOffset &&
                    uint64_t(region) + dbfIndexRegionBytes <= uint64_t(file_->fileLockOffset) + file_->fileLockLength);
    if (!covered) {
      if (dbfIndexLockSlot(file_->getHandle(), region, &cursor->readSlot) != kvSuccess) return kvFailure;
      ownSlots_ |= uint64_t(1) << (cursor->readSlot - region);
      ++file_->readSlotHolders;
      taken = true;
    }
  } else {
    taken = file_->lockByteHolders == 0;
    if (dbfIndexHoldLockByte(file_) != kvSuccess) return kvFailure;
    ++file_->readLockCount;
  }
  cursor->readLocked = true;
  if (taken && rereadAfterLock(false) != kvSuccess) {
    unlockForRead(cursor);
    return kvFailure;
  }
  return kvSuccess;
}

void DbfMdxDesc::unlockForRead(DbfIndexCursor* cursor) {
  if (!cursor->readLocked) return;
  if (uint32_t region = slotRegion()) {
    if (cursor->readSlot) {
      dbfIndexUnlock(file_->getHandle(), cursor->readSlot, 1);
      ownSlots_ &= ~(uint64_t(1) << (cursor->readSlot - region));
      if (file_->readSlotHolders) --file_->readSlotHolders;
    }
  } else {
    if (file_->readLockCount) --file_->readLockCount;
    dbfIndexReleaseLockByte(file_);
  }
  cursor->readSlot = 0;
  cursor->readLocked = false;
}

KvStatus DbfMdxDesc::allocatePage(DbfIndexCursor* cursor, uint32_t* page) {
  if (!allocationHeld_ && cursor && cursor->reader() && cursor->reader()->getLockLevel() != dbfLockNone) {
    uint32_t byte = table_->getDbfConnection()->getLockScheme() == dbfLockKv ? kvAllocationByte : allocationByte;
    // Inside this handle's own whole-file lock the byte is held already;
    // locking it again would be refused, and its unlock would cut a hole
    // into the larger lock.
    bool covered = file_->fileLockLength && byte >= file_->fileLockOffset &&
                   uint64_t(byte) < uint64_t(file_->fileLockOffset) + file_->fileLockLength;
    if (!covered) {
      if (dbfIndexLockWaiting(file_->getHandle(), byte, 1) != kvSuccess) return kvFailure;
      allocationByte_ = byte;
    }
    allocationHeld_ = true;
    // Another process may have taken blocks since the end was read: they
    // are not this tag's.
    unsigned char end[4];
    uint32_t got = 0;
    if (file_->read(eofAt, end, sizeof(end), &got) != kvSuccess) return kvFailure;
    uint32_t block = got == sizeof(end) ? kvGetU32LE(end) : 0;
    if (block < firstFreeBlock || block >= dbfIndexMaxEofPage) return refuse(file_);
    if (block > file_->getEofPage()) {
      eofAtStart_ += block - file_->getEofPage();
      file_->setEofPage(block);
    }
  }
  return DbfBtreeDesc::allocatePage(cursor, page);
}

void DbfMdxDesc::endAllocation() {
  if (allocationByte_) dbfIndexUnlock(file_->getHandle(), allocationByte_, 1);
  allocationByte_ = 0;
  allocationHeld_ = false;
}

// ---------------------------------------------------------------- the file

KvStatus DbfMdxFile::readHeader(DbfIndexFile* file, const unsigned char* tableName, bool oem) {
  file->setKind(dbfIndexMdx);
  unsigned char header[fileHeaderBytes];
  if (readFileHeader(file, header) != kvSuccess) return kvFailure;
  uint32_t pageSize = kvGetU16LE(header + pageSizeAt), eof = kvGetU32LE(header + eofAt);
  if (!validPageSize(pageSize) || eof < firstFreeBlock || eof >= dbfIndexMaxEofPage) return refuse(file);
  file->setPageSize(uint16_t(pageSize));
  file->setTagCount(header[tagCountAt]);
  file->setEofPage(eof);

  unsigned char stored[storedNameChars + 1];
  std::memcpy(stored, header + storedNameAt, storedNameChars);
  stored[storedNameChars] = 0;
  if (oem) kvOemToAnsi(stored, stored, uint32_t(std::strlen(kvC(stored))));
  if (stored[0] && tableName) {
    unsigned char own[storedNameChars + 1];
    size_t length = std::strlen(kvC(tableName));
    if (length > storedNameChars) length = storedNameChars;
    std::memcpy(own, tableName, length);
    own[length] = 0;
    if (!strEqualCi(stored, own)) addOdbcWarning(stateWarning, msgDbfMdxOtherTable) << stored;
  }
  return kvSuccess;
}

KvStatus DbfMdxFile::findTag(DbfIndexFile* file, const unsigned char* name, uint16_t* entry) {
  *entry = 0;
  Directory directory;
  if (readDirectory(file, file->getTagCount(), &directory) != kvSuccess) return kvFailure;
  return findInDirectory(file, &directory, name, entry);
}

KvStatus DbfMdxFile::listTags(const unsigned char* path, bool ansi, unsigned char names[][dbfMdxTagNameChars + 1],
                              uint16_t* count) {
  *count = 0;
  if (!hasMdxExtension(path)) return kvSuccess;
  DbfIndexFile file(nullptr, nullptr);
  if (file.setPath(path) != kvSuccess || file.open(true) != kvSuccess) return kvFailure;
  unsigned char header[fileHeaderBytes];
  Directory directory;
  if (readFileHeader(&file, header) != kvSuccess ||
      readDirectory(&file, header[tagCountAt], &directory) != kvSuccess)
    return kvFailure;
  for (uint16_t e = 1; e <= directory.tags; ++e) {
    unsigned char* name = names[e - 1];
    std::memcpy(name, directory.entry(e) + entryNameAt, dbfMdxTagNameChars);
    name[dbfMdxTagNameChars] = 0;
    if (ansi) kvOemToAnsi(name, name, uint32_t(std::strlen(kvC(name))));
  }
  *count = directory.tags;
  return kvSuccess;
}

KvStatus DbfMdxFile::checkNewTagName(const unsigned char* path, const unsigned char* name, bool ansi) {
  if (!bosexist(path)) return kvSuccess;
  DbfIndexFile file(nullptr, nullptr);
  if (file.setPath(path) != kvSuccess || file.open(true) != kvSuccess) return kvFailure;
  unsigned char header[fileHeaderBytes];
  if (readFileHeader(&file, header) != kvSuccess) return kvFailure;
  file.setTagCount(header[tagCountAt]);
  unsigned char stored[dbfMdxTagNameChars + 1];
  storedNameOf(name, ansi, stored);
  uint16_t entry = 0;
  if (findTag(&file, stored, &entry) != kvSuccess) return kvFailure;
  if (entry) {
    addFlatError(stateIndexExists, msgIndexExists) << name;
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus DbfMdxFile::removeTag(DbfIndexFile* file, const unsigned char* name, bool ansi, uint16_t* left) {
  *left = 0;
  unsigned char header[fileHeaderBytes];
  if (readFileHeader(file, header) != kvSuccess) return kvFailure;
  Directory directory;
  uint16_t tags = header[tagCountAt];
  if (readDirectory(file, tags, &directory) != kvSuccess) return kvFailure;
  unsigned char stored[dbfMdxTagNameChars + 1];
  storedNameOf(name, ansi, stored);
  uint16_t d = 0;
  if (findInDirectory(file, &directory, stored, &d) != kvSuccess) return kvFailure;
  if (!d) {
    addNativeResourceError(stateGeneral, msgDbfTagNotFound);
    return kvFailure;
  }

  // D leaves the name tree: its right subtree takes its place (else its
  // left); with both, the left subtree hangs from the leftmost entry of
  // the right one.
  unsigned char* gone = directory.entry(d);
  uint8_t leftChild = gone[entryLeftAt], rightChild = gone[entryRightAt], parent = gone[entryParentAt];
  uint8_t replacement = rightChild ? rightChild : leftChild;
  if (rightChild && leftChild) {
    uint8_t leftmost = rightChild;
    for (uint32_t steps = 0; directory.entry(leftmost)[entryLeftAt]; ++steps) {
      if (steps >= directoryEntries) return refuse(file);
      leftmost = directory.entry(leftmost)[entryLeftAt];
    }
    directory.entry(leftmost)[entryLeftAt] = leftChild;
    directory.entry(leftChild)[entryParentAt] = leftmost;
  }
  if (replacement) directory.entry(replacement)[entryParentAt] = parent;
  unsigned char* above = directory.entry(parent);
  if (parent == 0) above[entryRightAt] = replacement;
  else if (above[entryLeftAt] == d) above[entryLeftAt] = replacement;
  else above[entryRightAt] = replacement;

  // The last entry moves into D's place, so that the tags stay contiguous;
  // whatever named it now names D's number.
  if (d != tags) {
    std::memcpy(gone, directory.entry(tags), entryBytes);
    uint8_t movedParent = gone[entryParentAt];
    unsigned char* movedAbove = directory.entry(movedParent);
    if (movedParent == 0) movedAbove[entryRightAt] = uint8_t(d);
    else if (movedAbove[entryLeftAt] == tags) movedAbove[entryLeftAt] = uint8_t(d);
    else movedAbove[entryRightAt] = uint8_t(d);
    if (gone[entryLeftAt]) directory.entry(gone[entryLeftAt])[entryParentAt] = uint8_t(d);
    if (gone[entryRightAt]) directory.entry(gone[entryRightAt])[entryParentAt] = uint8_t(d);
  }
  std::memset(directory.entry(tags), 0, entryBytes);
  if (writeDirectory(file, &directory, tags + 1u) != kvSuccess) return kvFailure;
  header[tagCountAt] = uint8_t(tags - 1);
  if (file->write(tagCountAt, header + tagCountAt, 1) != kvSuccess) return kvFailure;
  file->setTagCount(uint16_t(tags - 1));
  *left = uint16_t(tags - 1);
  return kvSuccess;
}

KvStatus DbfMdxFile::createFile(DbfIndexFile* file, const unsigned char* tableName, bool production) {
  unsigned char bytes[firstFreeBlock * dbfIndexPageUnit] = {0};
  os_time now;
  bosLocalDate(&now);
  const unsigned char date[3] = {uint8_t(now.year - 1900), uint8_t(now.month), uint8_t(now.day)};
  bytes[0] = 2;
  std::memcpy(bytes + 1, date, sizeof(date));
  std::memcpy(bytes + changeDateAt, date, sizeof(date));
  size_t length = tableName ? std::strlen(kvC(tableName)) : 0;
  std::memcpy(bytes + storedNameAt, tableName, length > storedNameChars ? size_t(storedNameChars) : length);
  kvPutU16LE(bytes + blocksPerPageAt, newPageSize / dbfIndexPageUnit);
  kvPutU16LE(bytes + pageSizeAt, newPageSize);
  bytes[productionAt] = production ? 1 : 0;
  bytes[slotCountAt] = directoryEntries;
  bytes[slotBytesAt] = entryBytes;
  kvPutU32LE(bytes + eofAt, firstFreeBlock);
  if (file->write(0, bytes, sizeof(bytes)) != kvSuccess) return kvFailure;
  file->setKind(dbfIndexMdx);
  file->setPageSize(newPageSize);
  file->setTagCount(0);
  file->setEofPage(firstFreeBlock);
  return kvSuccess;
}

KvStatus DbfMdxFile::addTag(DbfIndexFile* file, const unsigned char* name, unsigned char type, uint16_t keyLength,
                            uint8_t flags, const unsigned char* keyText, const unsigned char* forText,
                            uint16_t* tag) {
  *tag = 0;
  unsigned char header[fileHeaderBytes];
  if (readFileHeader(file, header) != kvSuccess) return kvFailure;
  uint16_t tags = header[tagCountAt];
  if (tags >= dbfMdxMaxTags) {
    addNativeResourceError(stateGeneral, msgDbfIndexFileFull) << "MDX" << uint32_t(dbfMdxMaxTags);
    return kvFailure;
  }
  uint32_t pageSize = kvGetU16LE(header + pageSizeAt), eof = kvGetU32LE(header + eofAt);
  size_t nameLength = name ? std::strlen(kvC(name)) : 0;
  size_t keyTextLength = keyText ? std::strlen(kvC(keyText)) : 0;
  size_t forLength = forText ? std::strlen(kvC(forText)) : 0;
  bool typeFits = (type == 'C' && keyLength >= 1 && keyLength <= dbfIndexMaxKeyLength(dbfIndexMdx)) ||
                  (type == 'N' && keyLength == dbfBcdKeyBytes) || (type == 'D' && keyLength == dbfDoubleKeyBytes);
  if (!validPageSize(pageSize) || eof < firstFreeBlock || eof >= dbfIndexMaxEofPage || !typeFits ||
      nameLength == 0 || nameLength > dbfMdxTagNameChars || keyTextLength > dbfMdxKeyTextBytes ||
      forLength >= dbfMdxForTextBytes)
    return refuse(file);
  Directory directory;
  if (readDirectory(file, tags, &directory) != kvSuccess) return kvFailure;
  uint16_t existing = 0;
  if (findInDirectory(file, &directory, name, &existing) != kvSuccess) return kvFailure;
  if (existing) {
    addFlatError(stateIndexExists, msgIndexExists) << name;
    return kvFailure;
  }

  // The tag header fills whole pages at the end of the file.
  uint32_t span = pageSize < tagHeaderSpan ? (tagHeaderSpan + pageSize - 1) / pageSize * pageSize : pageSize;
  uint32_t block = eof;
  uint32_t entrySize = (keyLength + 7u) & ~3u;
  auto* tagHeader = static_cast<unsigned char*>(ramAllocZ(span));
  if (!tagHeader) return kvFailure;
  tagHeader[tagFlagsAt] = uint8_t(flags & (tagFlagBits | plainColumns));
  tagHeader[tagTypeAt] = type;
  kvPutU16LE(tagHeader + tagKeyLengthAt, keyLength);
  kvPutU16LE(tagHeader + tagMaxKeysAt, uint16_t((pageSize - 12) / entrySize));
  tagHeader[tagDateKeyAt] = type == 'D' ? 1 : 0;
  kvPutU16LE(tagHeader + tagEntrySizeAt, uint16_t(entrySize));
  if (keyTextLength) std::memcpy(tagHeader + tagKeyTextAt, keyText, keyTextLength);
  if (forLength) {
    tagHeader[tagForFlagAt] = 1;
    std::memcpy(tagHeader + tagForTextAt, forText, forLength);
  }
  KvStatus status = file->write(uint64_t(block) * dbfIndexPageUnit, tagHeader, span);
  ramFree(tagHeader);
  if (status != kvSuccess) return kvFailure;

  // The entry, linked into the name tree.
  uint16_t e = uint16_t(tags + 1);
  unsigned char* entry = directory.entry(e);
  std::memset(entry, 0, entryBytes);
  kvPutU32LE(entry + entryBlockAt, block);
  std::memcpy(entry + entryNameAt, name, nameLength);
  entry[entryKeyFormAt] = (flags & plainColumns) ? 0x10 : 0;
  entry[entryMarkAt] = 2;
  entry[entryTypeAt] = type;
  uint8_t at = directory.entry(0)[entryRightAt];
  if (!at) {
    directory.entry(0)[entryRightAt] = uint8_t(e);
  } else {
    for (uint32_t steps = 0;; ++steps) {
      if (steps >= directoryEntries) return refuse(file);
      unsigned char* node = directory.entry(at);
      uint32_t side = compareNames(name, node + entryNameAt) < 0 ? entryLeftAt : entryRightAt;
      if (!node[side]) {
        node[side] = uint8_t(e);
        entry[entryParentAt] = at;
        break;
      }
      at = node[side];
    }
  }
  if (writeDirectory(file, &directory, e + 1u) != kvSuccess) return kvFailure;
  eof += span / dbfIndexPageUnit;
  header[tagCountAt] = uint8_t(e);
  kvPutU32LE(header + eofAt, eof);
  if (file->write(tagCountAt, header + tagCountAt, 1) != kvSuccess ||
      file->write(eofAt, header + eofAt, 4) != kvSuccess)
    return kvFailure;
  file->setTagCount(e);
  file->setEofPage(eof);
  file->setPageSize(uint16_t(pageSize));
  *tag = uint16_t(e - 1);
  return kvSuccess;
}
