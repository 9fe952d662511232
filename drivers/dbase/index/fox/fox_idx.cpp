// The FoxPro B-tree and the standard .IDX file: header, nodes, walks,
// changes, the consistency check and the locks; see fox_idx.h.
#include "drivers/dbase/index/fox/fox_idx.h"

#include "base/handles/base_error_list.h"
#include "drivers/dbase/connection/dbf_connection.h"
#include "drivers/dbase/dbase_message_ids.h"
#include "drivers/dbase/index/dbf_index_locks.h"
#include "drivers/dbase/locks/dbf_locks.h"
#include "drivers/dbase/table/dbf_shared_desc.h"
#include "flat/expr/flat_date_keys.h"
#include "util/byte_order.h"
#include "util/charsets/charset_oem.h"
#include "util/error_list.h"
#include "util/os/bos.h"

#include <algorithm>
#include <cstring>

namespace {

enum : uint32_t {
  headerRootAt = 0,
  headerFreeAt = 4,
  headerEndAt = 8,
  headerKeyLengthAt = 12,
  headerOptionsAt = 14,
  headerFieldBytes = 16,
  keyTextAt = 16,
  forTextAt = 236,
};

int foxCompareComparableKeys(const uint8_t* a, const uint8_t* b) {
  int result = std::memcmp(a, b, dbfDoubleKeyBytes);
  return result < 0 ? -1 : result > 0 ? 1 : 0;
}

// Copies a NUL-terminated text of at most limit bytes, converted from OEM
// when oem is set.
void copyText(unsigned char* text, uint32_t size, const unsigned char* from, uint32_t limit, bool oem) {
  if (size == 0) return;
  uint32_t length = 0;
  while (length < limit && from[length]) ++length;
  if (length >= size) length = size - 1;
  if (oem) kvOemToAnsi(text, from, length);
  else std::memcpy(text, from, length);
  text[length] = 0;
}

}  // namespace

FoxIdxDesc::FoxIdxDesc(DbfSharedDesc* table) : DbfIndexDesc(table) {}

FoxIdxDesc::~FoxIdxDesc() { ramFree(forText_); }

// ---------------------------------------------------------------- header

KvStatus FoxIdxDesc::readHeader(DbfIndexFile* file, unsigned char keyType, unsigned char* keyText, uint32_t size) {
  if (size) keyText[0] = 0;
  if (initialize(file) != kvSuccess) return kvFailure;
  file->setKind(dbfIndexIdx);
  file->setPageSize(foxNodeBytes);
  unsigned char header[foxIdxHeaderBytes] = {0};
  uint32_t got = 0;
  if (file->read(0, header, foxIdxHeaderBytes, &got) != kvSuccess) return kvFailure;
  if (got < foxIdxHeaderMinimum) return file->invalid();
  uint32_t keyLength = kvGetU16LE(header + headerKeyLengthAt);
  uint8_t options = header[headerOptionsAt];
  bool numeric = keyType != 'C';
  if ((options & foxOptionCompact) || keyLength == 0 || keyLength > dbfIndexMaxKeyLength(dbfIndexIdx) ||
      (numeric && keyLength != dbfDoubleKeyBytes) ||
      (keyType != 'C' && keyType != 'N' && keyType != 'D' && keyType != 'F'))
    return file->invalid();
  uint32_t root = kvGetU32LE(header + headerRootAt), freeList = kvGetU32LE(header + headerFreeAt);
  uint32_t end = kvGetU32LE(header + headerEndAt);
  if (end % foxNodeBytes || end < foxNodeBytes || end / foxNodeBytes >= dbfIndexMaxEofPage) return file->invalid();
  file->setEofPage(end / foxNodeBytes);
  if ((root && !validNodeOffset(root)) || (freeList != foxNoNode && freeList && !validNodeOffset(freeList)))
    return file->invalid();
  root_ = root / foxNodeBytes;
  freeListHead_ = freeList ? freeList : foxNoNode;
  uint16_t entrySize = uint16_t(keyLength + 4);
  setKeyForm(keyType, uint16_t(keyLength), entrySize, uint16_t(foxNodeRoomBytes / entrySize));
  if (numeric) keyCompare_ = foxCompareComparableKeys;
  indexFlags_ = (options & foxOptionUnique) ? indexUniqueProperty : 0;
  copyText(keyText, size, header + keyTextAt, foxExpressionBytes - 1, false);
  return kvSuccess;
}

KvStatus FoxIdxDesc::writeNewHeader(DbfIndexFile* file, uint16_t keyLength, uint8_t options,
                                    const unsigned char* keyText, const unsigned char* forText) {
  if (keyLength == 0 || keyLength > dbfIndexMaxKeyLength(dbfIndexIdx)) return file->invalid();
  unsigned char header[foxIdxHeaderBytes] = {0};
  kvPutU32LE(header + headerRootAt, 0);
  kvPutU32LE(header + headerFreeAt, foxNoNode);
  kvPutU32LE(header + headerEndAt, foxNodeBytes);
  kvPutU16LE(header + headerKeyLengthAt, keyLength);
  header[headerOptionsAt] = uint8_t(options & (foxOptionUnique | foxOptionFor));
  size_t keyBytes = keyText ? std::strlen(kvC(keyText)) : 0;
  size_t forBytes = forText ? std::strlen(kvC(forText)) : 0;
  if (keyBytes >= foxExpressionBytes || forBytes >= foxExpressionBytes) return file->invalid();
  if (keyBytes) std::memcpy(header + keyTextAt, keyText, keyBytes);
  if (forBytes) std::memcpy(header + forTextAt, forText, forBytes);
  file->setKind(dbfIndexIdx);
  file->setEofPage(1);
  return file->write(0, header, sizeof(header));
}

KvStatus FoxIdxDesc::getKeyText(unsigned char* text, uint32_t size) {
  if (size) text[0] = 0;
  unsigned char bytes[foxExpressionBytes] = {0};
  uint32_t got = 0;
  if (file_->read(keyTextAt, bytes, sizeof(bytes), &got) != kvSuccess) return kvFailure;
  if (got < sizeof(bytes)) return file_->invalid();
  copyText(text, size, bytes, foxExpressionBytes - 1, oem_);
  return kvSuccess;
}

KvStatus FoxIdxDesc::getFilterCondition(uint8_t** text, FlatFileDesc*) {
  *text = nullptr;
  unsigned char header[foxIdxHeaderMinimum] = {0};
  uint32_t got = 0;
  if (file_->read(0, header, sizeof(header), &got) != kvSuccess) return kvFailure;
  if (got < sizeof(header)) return file_->invalid();
  if (!(header[headerOptionsAt] & foxOptionFor)) return kvSuccess;
  if (!forText_ && !(forText_ = static_cast<unsigned char*>(ramAlloc(foxExpressionBytes)))) return kvFailure;
  copyText(forText_, foxExpressionBytes, header + forTextAt, foxExpressionBytes - 1, oem_);
  *text = forText_;
  return kvSuccess;
}

KvStatus FoxIdxDesc::readHeaderFields(uint32_t* root, uint32_t* freeList, uint32_t* end, uint8_t* options) {
  unsigned char bytes[headerFieldBytes];
  uint32_t got = 0;
  if (file_->read(0, bytes, sizeof(bytes), &got) != kvSuccess) return kvFailure;
  if (got < sizeof(bytes)) return file_->invalid();
  *root = kvGetU32LE(bytes + headerRootAt);
  *freeList = kvGetU32LE(bytes + headerFreeAt);
  *end = kvGetU32LE(bytes + headerEndAt);
  *options = bytes[headerOptionsAt];
  if (*end % foxNodeBytes || *end < foxNodeBytes || *end / foxNodeBytes >= dbfIndexMaxEofPage) return file_->invalid();
  return kvSuccess;
}

KvStatus FoxIdxDesc::writeHeader() {
  if (!(foxFlags_ & foxHeaderDue)) return kvSuccess;
  unsigned char bytes[headerFieldBytes];
  uint32_t got = 0;
  if (file_->read(0, bytes, sizeof(bytes), &got) != kvSuccess) return kvFailure;
  if (got < sizeof(bytes)) return file_->invalid();
  kvPutU32LE(bytes + headerRootAt, root_ * foxNodeBytes);
  kvPutU32LE(bytes + headerFreeAt, freeListHead_);
  kvPutU32LE(bytes + headerEndAt, getEndOffset());
  if (file_->write(0, bytes, sizeof(bytes)) != kvSuccess) return kvFailure;
  foxFlags_ &= ~uint32_t(foxHeaderDue);
  return kvSuccess;
}

KvStatus FoxIdxDesc::makeKey(const uint8_t* value, uint32_t length, uint8_t* key) {
  if (keyType_ == 'C') return DbfIndexDesc::makeKey(value, length, key);
  if (keyType_ != 'N' && keyType_ != 'D' && keyType_ != 'F') return kvSuccess;
  std::memset(key, 0, dbfDoubleKeyBytes);
  std::memcpy(key, value, length < dbfDoubleKeyBytes ? length : uint32_t(dbfDoubleKeyBytes));
  MakeMemComparable(key);
  return kvSuccess;
}

uint16_t FoxIdxDesc::getPageKeyCount(const uint8_t* page) const { return kvGetU16LE(page + 2); }

// ---------------------------------------------------------------- nodes

uint16_t FoxIdxDesc::attributes(const TreeInfo* level) { return kvGetU16LE(level->page); }
void FoxIdxDesc::setAttributes(TreeInfo* level, uint16_t value) { kvPutU16LE(level->page, value); }
uint16_t FoxIdxDesc::nodeCount(const TreeInfo* level) { return kvGetU16LE(level->page + 2); }
void FoxIdxDesc::setNodeCount(TreeInfo* level, uint16_t count) { kvPutU16LE(level->page + 2, count); }
uint32_t FoxIdxDesc::leftSibling(const TreeInfo* level) { return kvGetU32LE(level->page + 4); }
uint32_t FoxIdxDesc::rightSibling(const TreeInfo* level) { return kvGetU32LE(level->page + 8); }
void FoxIdxDesc::setLeftSibling(TreeInfo* level, uint32_t offset) { kvPutU32LE(level->page + 4, offset); }
void FoxIdxDesc::setRightSibling(TreeInfo* level, uint32_t offset) { kvPutU32LE(level->page + 8, offset); }

bool FoxIdxDesc::validNodeOffset(uint32_t offset) const {
  return offset && offset != foxNoNode && offset % foxNodeBytes == 0 && offset / foxNodeBytes < dbfIndexMaxEofPage;
}

KvStatus FoxIdxDesc::checkPage(const TreeInfo* level) {
  uint16_t attr = attributes(level);
  if (attr > (foxAttrRoot | foxAttrLeaf) || nodeCount(level) > maxKeys_) return file_->invalid();
  return kvSuccess;
}

const uint8_t* FoxIdxDesc::entryKey(TreeInfo* level, uint32_t i) { return entryAt(level, i); }

uint32_t FoxIdxDesc::entryRecordNumber(TreeInfo* level, uint32_t i) {
  if (nodeIsLeaf(level) || interiorRecords()) return kvGetU32BE(entryAt(level, i) + keyLength_);
  return 0;
}

uint32_t FoxIdxDesc::entryChild(TreeInfo* level, uint32_t i) {
  return kvGetU32BE(entryAt(level, i) + keyLength_ + (interiorRecords() ? 4 : 0));
}

void FoxIdxDesc::setEntryChild(TreeInfo* level, uint32_t i, uint32_t child) {
  kvPutU32BE(entryAt(level, i) + keyLength_ + (interiorRecords() ? 4 : 0), child);
}

void FoxIdxDesc::setEntryMaximum(TreeInfo* level, uint32_t i, const uint8_t* key, uint32_t record) {
  uint8_t* entry = entryAt(level, i);
  std::memmove(entry, key, keyLength_);
  if (interiorRecords()) kvPutU32BE(entry + keyLength_, record);
}

bool FoxIdxDesc::hasRoom(TreeInfo* level, uint32_t, const uint8_t*, uint32_t) { return nodeCount(level) < maxKeys_; }

KvStatus FoxIdxDesc::insertEntry(TreeInfo* level, uint32_t i, const uint8_t* key, uint32_t record, uint32_t child) {
  uint16_t n = nodeCount(level);
  if (n >= maxKeys_ || i > n) return file_->invalid();
  uint8_t* at = entryAt(level, i);
  std::memmove(at + entrySize_, at, size_t(n - i) * entrySize_);
  std::memmove(at, key, keyLength_);
  if (nodeIsLeaf(level)) {
    kvPutU32BE(at + keyLength_, record);
  } else {
    if (interiorRecords()) kvPutU32BE(at + keyLength_, record);
    setEntryChild(level, i, child);
  }
  setNodeCount(level, uint16_t(n + 1));
  return kvSuccess;
}

KvStatus FoxIdxDesc::removeEntry(TreeInfo* level, uint32_t i) {
  uint16_t n = nodeCount(level);
  if (i >= n) return file_->invalid();
  uint8_t* at = entryAt(level, i);
  std::memmove(at, at + entrySize_, size_t(n - 1 - i) * entrySize_);
  std::memset(entryAt(level, n - 1u), 0, entrySize_);
  setNodeCount(level, uint16_t(n - 1));
  return kvSuccess;
}

KvStatus FoxIdxDesc::moveEntriesRight(TreeInfo* destination, TreeInfo* source, uint32_t n) {
  uint16_t count = nodeCount(source);
  if (n > count) return file_->invalid();
  std::memcpy(entryAt(destination, 0), entryAt(source, n), size_t(count - n) * entrySize_);
  std::memset(entryAt(source, n), 0, size_t(count - n) * entrySize_);
  setNodeCount(destination, uint16_t(count - n));
  setNodeCount(source, uint16_t(n));
  return kvSuccess;
}

uint32_t FoxIdxDesc::splitPoint(TreeInfo* level, uint32_t, const uint8_t*, uint32_t) { return nodeCount(level) / 2u; }

void FoxIdxDesc::clearNode(TreeInfo* level, bool leaf) {
  std::memset(level->page, 0, foxNodeBytes);
  setAttributes(level, leaf ? foxAttrLeaf : 0);
  setLeftSibling(level, foxNoNode);
  setRightSibling(level, foxNoNode);
}

KvStatus FoxIdxDesc::newNode(TreeInfo* level, bool leaf) {
  uint32_t offset = 0;
  if (freeListHead_ != foxNoNode) {
    // The head of the free list: its first 4 bytes name the next one.
    offset = freeListHead_;
    unsigned char link[4];
    uint32_t got = 0;
    if (!validNodeOffset(offset) || offset >= getEndOffset()) return file_->invalid();
    if (file_->read(offset, link, sizeof(link), &got) != kvSuccess) return kvFailure;
    if (got < sizeof(link)) return file_->fail(msgDbfIndexRead);
    uint32_t next = kvGetU32LE(link);
    if (next != foxNoNode && (!validNodeOffset(next) || next == offset)) return file_->invalid();
    freeListHead_ = next;
  } else {
    offset = getEndOffset();
    if (file_->getEofPage() + 1 >= dbfIndexMaxEofPage) return file_->invalid();
    file_->setEofPage(file_->getEofPage() + 1);
  }
  foxFlags_ |= foxHeaderDue;
  level->pageNo = offset / foxNodeBytes;
  level->position = 0;
  clearNode(level, leaf);
  return kvSuccess;
}

KvStatus FoxIdxDesc::freeNode(TreeInfo* level) {
  std::memset(level->page, 0, foxNodeBytes);
  kvPutU32LE(level->page, freeListHead_);
  if (writeLevel(level) != kvSuccess) return kvFailure;
  freeListHead_ = offsetOf(level);
  foxFlags_ |= foxHeaderDue;
  return kvSuccess;
}

void FoxIdxDesc::noteAppendedKey(TreeInfo*, const uint8_t*) {}

int FoxIdxDesc::entryOrder(TreeInfo* level, uint32_t i, const uint8_t* key, uint32_t record) {
  int result = treeCompare(entryKey(level, i), key);
  if (result != 0 || record == 0 || (!nodeIsLeaf(level) && !interiorRecords())) return result;
  uint32_t own = entryRecordNumber(level, i);
  result = own < record ? -1 : own > record ? 1 : 0;
  return descending_ ? -result : result;
}

uint32_t FoxIdxDesc::searchNode(TreeInfo* level, const uint8_t* key, uint32_t record) {
  uint32_t low = 0, high = nodeCount(level);
  while (low < high) {
    uint32_t middle = (low + high) / 2;
    if (entryOrder(level, middle, key, record) < 0) low = middle + 1;
    else high = middle;
  }
  return low;
}

// ---------------------------------------------------------------- reading nodes

KvStatus FoxIdxDesc::pushNode(DbfIndexCursor* cursor, uint32_t offset, TreeInfo** level) {
  *level = nullptr;
  if (!validNodeOffset(offset)) return file_->invalid();
  return pushPage(cursor, offset / foxNodeBytes, level);
}

KvStatus FoxIdxDesc::readSideNode(uint32_t offset, TreeInfo** out) {
  *out = nullptr;
  if (!validNodeOffset(offset)) return file_->invalid();
  TreeInfo* level = takeLevel();
  if (!level) return kvFailure;
  level->generation = 0;  // never taken for a kept page
  if (file_->readPage(offset / foxNodeBytes, level->page, foxNodeBytes) != kvSuccess) {
    freeLevel(level);
    return kvFailure;
  }
  level->pageNo = offset / foxNodeBytes;
  if (checkPage(level) != kvSuccess) {
    level->pageNo = 0;
    freeLevel(level);
    return kvFailure;
  }
  *out = level;
  return kvSuccess;
}

KvStatus FoxIdxDesc::readInto(DbfIndexCursor* cursor, TreeInfo* level, uint32_t offset) {
  if (!validNodeOffset(offset)) return file_->invalid();
  uint32_t pageNo = offset / foxNodeBytes;
  for (const TreeInfo* other = cursor->top; other; other = other->parent)
    if (other != level && other->pageNo == pageNo) return file_->invalid();
  level->generation = 0;
  level->pageNo = 0;
  if (file_->readPage(pageNo, level->page, foxNodeBytes) != kvSuccess) return kvFailure;
  level->pageNo = pageNo;
  level->position = 0;
  if (checkPage(level) != kvSuccess) {
    level->pageNo = 0;
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus FoxIdxDesc::enterLeaf(DbfIndexCursor* cursor) {
  // A chain of siblings has fewer nodes than the file: a walk that enters
  // more goes round in circles.
  if (++cursor->leavesEntered <= file_->getEofPage()) return kvSuccess;
  uint64_t bytes = 0;
  if (file_->size(&bytes) != kvSuccess) return kvFailure;
  if (cursor->leavesEntered > bytes / foxNodeBytes + 1) return file_->invalid();
  return kvSuccess;
}

KvStatus FoxIdxDesc::stepRight(DbfIndexCursor* cursor, TreeInfo* level) {
  uint32_t right = rightSibling(level);
  if (right == foxNoNode) return file_->invalid();
  if (TreeInfo* parent = level->parent) {
    if (uint32_t(parent->position) + 1 < nodeCount(parent)) ++parent->position;
    else if (stepRight(cursor, parent) != kvSuccess) return kvFailure;
    if (entryChild(parent, uint32_t(parent->position)) != right) return file_->invalid();
  }
  if (enterLeaf(cursor) != kvSuccess) return kvFailure;
  bool leaf = nodeIsLeaf(level);
  if (readInto(cursor, level, right) != kvSuccess) return kvFailure;
  if (nodeIsLeaf(level) != leaf || nodeCount(level) == 0) return file_->invalid();
  return kvSuccess;
}

// ---------------------------------------------------------------- walks

KvStatus FoxIdxDesc::descend(DbfIndexCursor* cursor, const uint8_t* key, uint32_t record, bool* exact) {
  *exact = false;
  releasePath(cursor);
  cursor->leavesEntered = 0;
  uint32_t offset = root_ * foxNodeBytes;
  TreeInfo* level = nullptr;
  for (;;) {
    if (pushNode(cursor, offset, &level) != kvSuccess) return kvFailure;
    uint32_t n = nodeCount(level);
    uint32_t i = searchNode(level, key, record);
    if (nodeIsLeaf(level)) {
      level->position = int32_t(i);
      break;
    }
    if (n == 0) return file_->invalid();
    // Above every key: the last child, whose keys are the greatest.
    if (i == n) i = n - 1;
    level->position = int32_t(i);
    offset = entryChild(level, i);
  }
  // The entries of one key may run on into the next leaves (standard
  // interior entries hold no record to tell where (key, record) goes).
  while (uint32_t(level->position) == nodeCount(level) && rightSibling(level) != foxNoNode) {
    if (stepRight(cursor, level) != kvSuccess) return kvFailure;
    level->position = int32_t(searchNode(level, key, record));
  }
  uint32_t i = uint32_t(level->position);
  *exact = record && i < nodeCount(level) && entryOrder(level, i, key, record) == 0;
  return kvSuccess;
}

KvStatus FoxIdxDesc::searchKey(DbfIndexCursor* cursor, const uint8_t* key, uint32_t* record, bool exact) {
  *record = 0;
  bool found = false;
  if (descend(cursor, key, 0, &found) != kvSuccess) {
    releasePath(cursor);
    return kvFailure;
  }
  TreeInfo* leaf = cursor->top;
  uint32_t i = uint32_t(leaf->position);
  if (i >= nodeCount(leaf)) return kvSuccess;
  if (!exact || treeCompare(entryKey(leaf, i), key) == 0) *record = entryRecordNumber(leaf, i);
  return kvSuccess;
}

KvStatus FoxIdxDesc::nextKey(DbfIndexCursor* cursor, uint32_t* record) {
  *record = 0;
  TreeInfo* level = cursor->top;
  if (!level) {
    cursor->leavesEntered = 0;
    uint32_t offset = root_ * foxNodeBytes;
    for (;;) {
      if (pushNode(cursor, offset, &level) != kvSuccess) {
        releasePath(cursor);
        return kvFailure;
      }
      level->position = 0;
      if (nodeIsLeaf(level)) break;
      if (nodeCount(level) == 0) {
        releasePath(cursor);
        return file_->invalid();
      }
      offset = entryChild(level, 0);
    }
  } else {
    ++level->position;
  }
  while (uint32_t(level->position) >= nodeCount(level)) {
    uint32_t right = rightSibling(level);
    if (right == foxNoNode) {
      releasePath(cursor);
      return kvSuccess;
    }
    // The walk follows the leaves' chain; the levels above are left as
    // they were.
    if (enterLeaf(cursor) != kvSuccess || readInto(cursor, level, right) != kvSuccess) {
      releasePath(cursor);
      return kvFailure;
    }
    if (!nodeIsLeaf(level)) {
      releasePath(cursor);
      return file_->invalid();
    }
  }
  *record = entryRecordNumber(level, uint32_t(level->position));
  if (*record == 0) {
    releasePath(cursor);
    return file_->invalid();
  }
  return kvSuccess;
}

const uint8_t* FoxIdxDesc::keyAtCursor(DbfIndexCursor* cursor) {
  TreeInfo* level = cursor->top;
  if (!level || level->position < 0 || uint32_t(level->position) >= nodeCount(level)) return nullptr;
  return entryKey(level, uint32_t(level->position));
}

KvStatus FoxIdxDesc::compareCurrentKey(DbfIndexCursor* cursor, const uint8_t* key, int* result) {
  const uint8_t* current = keyAtCursor(cursor);
  *result = current ? treeCompare(current, key) : 1;
  return kvSuccess;
}

// ---------------------------------------------------------------- changes

KvStatus FoxIdxDesc::insertKey(DbfIndexCursor* cursor, const uint8_t* key) {
  building_ = false;
  uint32_t record = cursor->record();
  bool exact = false;
  KvStatus status = kvSuccess;
  if (isUniqueProperty()) {
    status = descend(cursor, key, 0, &exact);
    TreeInfo* leaf = cursor->top;
    if (status == kvSuccess && uint32_t(leaf->position) < nodeCount(leaf) &&
        treeCompare(entryKey(leaf, uint32_t(leaf->position)), key) == 0) {
      releasePath(cursor);
      return kvSuccess;
    }
  }
  if (status == kvSuccess) status = descend(cursor, key, record, &exact);
  if (status == kvSuccess && exact) status = file_->invalid();
  if (status == kvSuccess) status = insertAt(cursor, cursor->top, uint32_t(cursor->top->position), key, record, 0);
  if (status == kvSuccess) status = writeHeader();
  releasePath(cursor);
  if (status != kvSuccess) markStale();
  return status;
}

KvStatus FoxIdxDesc::deleteKey(DbfIndexCursor* cursor, const uint8_t* key) {
  building_ = false;
  bool exact = false;
  KvStatus status = descend(cursor, key, cursor->record(), &exact);
  if (status == kvSuccess && !exact) {
    releasePath(cursor);
    if (isUniqueProperty()) return kvSuccess;
    addOdbcError(stateGeneral, msgDbfKeyNotFound);
    return kvFailure;
  }
  if (status == kvSuccess) status = removeAt(cursor, cursor->top, uint32_t(cursor->top->position));
  if (status == kvSuccess) status = writeHeader();
  releasePath(cursor);
  if (status != kvSuccess) markStale();
  return status;
}

KvStatus FoxIdxDesc::propagateMaximum(TreeInfo* level) {
  // The node's greatest entry changed: each ancestor whose entry for it is
  // its own last entry passes the change further up.
  uint8_t key[dbfIndexMaxKeyBytes];
  uint16_t n = nodeCount(level);
  if (n == 0) return kvSuccess;
  std::memcpy(key, entryKey(level, n - 1u), keyLength_);
  uint32_t record = entryRecordNumber(level, n - 1u);
  for (TreeInfo* parent = level->parent; parent; parent = parent->parent) {
    uint32_t p = uint32_t(parent->position);
    if (p >= nodeCount(parent)) return file_->invalid();
    setEntryMaximum(parent, p, key, record);
    if (writeNode(parent) != kvSuccess) return kvFailure;
    if (p + 1 != nodeCount(parent)) break;
  }
  return kvSuccess;
}

KvStatus FoxIdxDesc::ensureParent(DbfIndexCursor* cursor, TreeInfo* level, TreeInfo** parent) {
  if (level->parent) {
    *parent = level->parent;
    return kvSuccess;
  }
  // The root grows: a new interior root above it with one entry for it.
  TreeInfo* root = takeLevel();
  if (!root) return kvFailure;
  if (newNode(root, false) != kvSuccess) {
    freeLevel(root);
    return kvFailure;
  }
  setAttributes(root, foxAttrRoot);
  setAttributes(level, uint16_t(attributes(level) & ~foxAttrRoot));
  uint16_t n = nodeCount(level);
  if (n == 0 || insertEntry(root, 0, entryKey(level, n - 1u), entryRecordNumber(level, n - 1u), offsetOf(level)) !=
                    kvSuccess) {
    freeLevel(root);
    return file_->invalid();
  }
  root->position = 0;
  level->parent = root;
  ++cursor->depth;
  root_ = root->pageNo;
  foxFlags_ |= foxHeaderDue;
  *parent = root;
  return writeLevel(root);
}

KvStatus FoxIdxDesc::setLeftOf(uint32_t offset, uint32_t left) {
  if (offset == foxNoNode) return kvSuccess;
  TreeInfo* side = nullptr;
  if (readSideNode(offset, &side) != kvSuccess) return kvFailure;
  setLeftSibling(side, left);
  KvStatus status = writeLevel(side);
  freeLevel(side);
  return status;
}

KvStatus FoxIdxDesc::insertAt(DbfIndexCursor* cursor, TreeInfo* level, uint32_t i, const uint8_t* keyIn,
                              uint32_t record, uint32_t child) {
  uint8_t key[dbfIndexMaxKeyBytes];
  std::memcpy(key, keyIn, keyLength_);
  for (uint32_t steps = 0; steps <= dbfIndexMaxDepth; ++steps) {
    uint16_t n = nodeCount(level);
    if (i > n) return file_->invalid();
    if (hasRoom(level, i, key, record)) {
      if (insertEntry(level, i, key, record, child) != kvSuccess || writeNode(level) != kvSuccess) return kvFailure;
      level->position = int32_t(i);
      return i == n ? propagateMaximum(level) : kvSuccess;
    }
    if (n == 0 || lockForUpdate() != kvSuccess) return n == 0 ? file_->invalid() : kvFailure;
    TreeInfo* parent = nullptr;
    if (ensureParent(cursor, level, &parent) != kvSuccess) return kvFailure;
    TreeInfo* fresh = takeLevel();
    if (!fresh) return kvFailure;
    KvStatus status = newNode(fresh, nodeIsLeaf(level));
    uint32_t right = rightSibling(level);
    if (status == kvSuccess) {
      setAttributes(fresh, uint16_t(attributes(level) & ~foxAttrRoot));
      setLeftSibling(fresh, offsetOf(level));
      setRightSibling(fresh, right);
      setRightSibling(level, offsetOf(fresh));
    }
    if (status == kvSuccess && i == n) {
      // A full node's new greatest entry starts a new right sibling, which
      // takes the node's place on the path.
      if (insertEntry(fresh, 0, key, record, child) != kvSuccess || writeLevel(fresh) != kvSuccess ||
          writeLevel(level) != kvSuccess || setLeftOf(right, offsetOf(fresh)) != kvSuccess) {
        freeLevel(fresh);
        return kvFailure;
      }
      fresh->parent = level->parent;
      fresh->position = 0;
      TreeInfo** link = &cursor->top;
      while (*link && *link != level) link = &(*link)->parent;
      if (!*link) {
        freeLevel(fresh);
        return file_->invalid();
      }
      *link = fresh;
      level->parent = nullptr;
      freeLevel(level);
      child = offsetOf(fresh);
      level = parent;
      i = uint32_t(parent->position) + 1;
      continue;
    }
    if (status == kvSuccess) {
      // Split: the new right node takes the upper entries; the parent's
      // entry for the node (whose greatest key went right) leads to it,
      // and the node's new greatest key goes in before that entry.
      uint32_t h = splitPoint(level, i, key, record);
      if (h < i) {
        status = moveEntriesRight(fresh, level, h + 1);
        if (status == kvSuccess) status = insertEntry(fresh, i - (h + 1), key, record, child);
      } else {
        status = moveEntriesRight(fresh, level, h);
        if (status == kvSuccess) status = insertEntry(level, i, key, record, child);
      }
      if (status == kvSuccess && (nodeCount(level) == 0 || nodeCount(fresh) == 0)) status = file_->invalid();
    }
    if (status == kvSuccess && (writeLevel(fresh) != kvSuccess || writeLevel(level) != kvSuccess ||
                                setLeftOf(right, offsetOf(fresh)) != kvSuccess))
      status = kvFailure;
    if (status != kvSuccess) {
      freeLevel(fresh);
      return status;
    }
    uint32_t p = uint32_t(parent->position);
    setEntryChild(parent, p, offsetOf(fresh));
    freeLevel(fresh);
    uint16_t kept = nodeCount(level);
    std::memcpy(key, entryKey(level, kept - 1u), keyLength_);
    record = entryRecordNumber(level, kept - 1u);
    child = offsetOf(level);
    level = parent;
    i = p;
  }
  return file_->invalid();
}

KvStatus FoxIdxDesc::unlinkNode(TreeInfo* level) {
  uint32_t left = leftSibling(level), right = rightSibling(level);
  if (left != foxNoNode) {
    TreeInfo* side = nullptr;
    if (readSideNode(left, &side) != kvSuccess) return kvFailure;
    setRightSibling(side, right);
    KvStatus status = writeLevel(side);
    freeLevel(side);
    if (status != kvSuccess) return kvFailure;
  }
  return setLeftOf(right, left);
}

KvStatus FoxIdxDesc::removeAt(DbfIndexCursor*, TreeInfo* level, uint32_t i) {
  for (uint32_t steps = 0; steps <= dbfIndexMaxDepth; ++steps) {
    uint16_t n = nodeCount(level);
    if (i >= n) return file_->invalid();
    TreeInfo* parent = level->parent;
    if (!parent && !nodeIsLeaf(level) && n == 1) {
      // The root's only child went: the root stays where the header points
      // and becomes an empty root leaf.
      clearNode(level, true);
      setAttributes(level, foxAttrRoot | foxAttrLeaf);
      foxFlags_ |= foxHeaderDue;
      return writeLevel(level);
    }
    if (parent && n < 2) {
      // The node's last entry goes: the node goes.
      if (lockForUpdate() != kvSuccess) return kvFailure;
      foxFlags_ |= foxHeaderDue;
      if (unlinkNode(level) != kvSuccess) return kvFailure;
      if (!parent->parent && nodeCount(parent) == 2) {
        // A root of two children keeps one: that child becomes the root.
        uint32_t survivor = entryChild(parent, parent->position == 0 ? 1 : 0);
        TreeInfo* side = nullptr;
        if (readSideNode(survivor, &side) != kvSuccess) return kvFailure;
        setAttributes(side, uint16_t(attributes(side) | foxAttrRoot));
        KvStatus status = writeLevel(side);
        freeLevel(side);
        if (status != kvSuccess || freeNode(level) != kvSuccess || freeNode(parent) != kvSuccess) return kvFailure;
        root_ = survivor / foxNodeBytes;
        return kvSuccess;
      }
      if (freeNode(level) != kvSuccess) return kvFailure;
      level = parent;
      i = uint32_t(parent->position);
      continue;
    }
    bool last = i + 1 == n;
    if (removeEntry(level, i) != kvSuccess || writeLevel(level) != kvSuccess) return kvFailure;
    if (last && parent) {
      if (lockForUpdate() != kvSuccess) return kvFailure;
      return propagateMaximum(level);
    }
    return kvSuccess;
  }
  return file_->invalid();
}

// ---------------------------------------------------------------- bulk build

KvStatus FoxIdxDesc::startNewTree(DbfIndexCursor* cursor) {
  releasePath(cursor);
  TreeInfo* level = takeLevel();
  if (!level) return kvFailure;
  if (newNode(level, true) != kvSuccess) {
    freeLevel(level);
    return kvFailure;
  }
  setAttributes(level, foxAttrRoot | foxAttrLeaf);
  root_ = level->pageNo;
  level->parent = cursor->top;
  cursor->top = level;
  ++cursor->depth;
  stateFlags_ &= ~uint32_t(stateLiveSeen);
  lastLive_ = false;
  building_ = true;
  return writeLevel(level);
}

KvStatus FoxIdxDesc::flushPath(DbfIndexCursor* cursor) {
  for (TreeInfo* level = cursor->top; level; level = level->parent)
    if (writeLevel(level) != kvSuccess) return kvFailure;
  return kvSuccess;
}

KvStatus FoxIdxDesc::descendRightEdge(DbfIndexCursor* cursor) {
  releasePath(cursor);
  uint32_t offset = root_ * foxNodeBytes;
  TreeInfo* level = nullptr;
  for (;;) {
    if (pushNode(cursor, offset, &level) != kvSuccess) return kvFailure;
    uint16_t n = nodeCount(level);
    level->position = int32_t(n);
    if (nodeIsLeaf(level)) return kvSuccess;
    if (n == 0) return file_->invalid();
    level->position = int32_t(n - 1);
    offset = entryChild(level, n - 1u);
  }
}

KvStatus FoxIdxDesc::appendBuiltKey(DbfIndexCursor* cursor, const uint8_t* key, bool live) {
  TreeInfo* leaf = cursor->top;
  if (!leaf && descendRightEdge(cursor) != kvSuccess) return kvFailure;
  leaf = cursor->top;
  uint16_t n = nodeCount(leaf);
  uint32_t record = cursor->record();
  if (n > 0 && (isUniqueProperty() || isUniqueConstraint())) {
    bool skip = false;
    KvStatus status = checkSortedDuplicate(entryKey(leaf, n - 1u), key, lastLive_, live, &skip);
    lastLive_ = live;
    if (status != kvSuccess) return kvFailure;
    if (skip) return kvSuccess;
  } else {
    lastLive_ = live;
  }
  foxFlags_ |= foxHeaderDue;
  if (n > 0 && entryOrder(leaf, n - 1u, key, record) >= 0) {
    // Not above the greatest entry (the sort's order of equal keys may
    // differ from the index's): an insert, then back to the right edge.
    if (flushPath(cursor) != kvSuccess || insertKey(cursor, key) != kvSuccess) return kvFailure;
    building_ = true;
    return descendRightEdge(cursor);
  }
  noteAppendedKey(leaf, key);
  return insertAt(cursor, leaf, n, key, record, 0);
}

KvStatus FoxIdxDesc::finishBuild(DbfIndexCursor* cursor) {
  KvStatus status = building_ ? flushPath(cursor) : kvSuccess;
  building_ = false;
  releasePath(cursor);
  if (status != kvSuccess) return kvFailure;
  foxFlags_ |= foxHeaderDue;
  return writeHeader();
}

// ---------------------------------------------------------------- check

KvStatus FoxIdxDesc::verifyPage(uint32_t pageNo, uint32_t depth, DbfVerifyState* state) {
  for (uint32_t& last : verifyLast_) last = foxNoNode;
  bool empty = false;
  KvStatus status = verifyNode(pageNo * foxNodeBytes, depth, state, nullptr, 0, &empty);
  // The last node of every level has no right sibling.
  for (uint32_t d = 0; status == kvSuccess && d <= dbfIndexMaxDepth; ++d) {
    if (verifyLast_[d] == foxNoNode) continue;
    TreeInfo* side = nullptr;
    if ((status = readSideNode(verifyLast_[d], &side)) != kvSuccess) break;
    if (rightSibling(side) != foxNoNode) status = file_->invalid();
    freeLevel(side);
  }
  return status;
}

KvStatus FoxIdxDesc::verifyNode(uint32_t offset, uint32_t depth, DbfVerifyState* state, const uint8_t* maximum,
                                uint32_t maximumRecord, bool* empty) {
  *empty = false;
  if (depth > dbfIndexMaxDepth || !validNodeOffset(offset) || offset / foxNodeBytes >= state->visitedPages)
    return file_->invalid();
  uint32_t pageNo = offset / foxNodeBytes;
  unsigned char& seen = state->visited[pageNo / 8];
  if (seen & (1u << (pageNo % 8))) return file_->invalid();
  seen = uint8_t(seen | (1u << (pageNo % 8)));
  TreeInfo* level = nullptr;
  if (readSideNode(offset, &level) != kvSuccess) return kvFailure;
  KvStatus status = kvSuccess;
  uint16_t n = nodeCount(level);
  bool leaf = nodeIsLeaf(level);
  bool root = (attributes(level) & foxAttrRoot) != 0;
  if (root != (depth == 1)) status = file_->invalid();
  // Siblings name the neighbours on the level, left to right.
  uint32_t& last = verifyLast_[depth];
  if (status == kvSuccess && leftSibling(level) != last) status = file_->invalid();
  if (status == kvSuccess && last != foxNoNode) {
    TreeInfo* side = nullptr;
    if ((status = readSideNode(last, &side)) == kvSuccess) {
      if (rightSibling(side) != offset) status = file_->invalid();
      freeLevel(side);
    }
  }
  last = offset;
  if (status == kvSuccess && n == 0 && !(root && leaf)) status = file_->invalid();
  if (status == kvSuccess && n == 0) *empty = true;
  for (uint32_t i = 0; status == kvSuccess && i < n; ++i) {
    const uint8_t* key = entryKey(level, i);
    uint32_t record = entryRecordNumber(level, i);
    if ((leaf || interiorRecords()) && record == 0) status = file_->invalid();
    else if (leaf) {
      // Strictly rising (key, record) over the whole tree.
      if (state->haveLastKey) {
        int order = treeCompare(state->lastKey, key);
        if (order == 0) order = descending_ ? (state->lastRecord < record ? 1 : state->lastRecord > record ? -1 : 0)
                                            : (state->lastRecord < record ? -1 : state->lastRecord > record ? 1 : 0);
        if (order >= 0) status = file_->invalid();
      }
      std::memcpy(state->lastKey, key, keyLength_);
      state->lastRecord = record;
      state->haveLastKey = true;
    } else {
      uint8_t own[dbfIndexMaxKeyBytes];
      std::memcpy(own, key, keyLength_);
      bool childEmpty = false;
      status = verifyNode(entryChild(level, i), depth + 1, state, own, record, &childEmpty);
      if (status == kvSuccess && childEmpty) status = file_->invalid();
    }
  }
  if (status == kvSuccess && leaf) {
    state->keyCount += n;
    if (state->leafDepth == 0xFFFF) state->leafDepth = depth;
    else if (state->leafDepth != depth) status = file_->invalid();
  }
  if (status == kvSuccess && maximum && n > 0) {
    // The parent's key is this node's greatest.
    if (treeCompare(entryKey(level, n - 1u), maximum) != 0) status = file_->invalid();
    else if (interiorRecords() && entryRecordNumber(level, n - 1u) != maximumRecord) status = file_->invalid();
  }
  freeLevel(level);
  return status;
}

// ---------------------------------------------------------------- locks

uint16_t FoxIdxDesc::lockingLevel() const {
  DbfConnection* connection = table_ ? table_->getDbfConnection() : nullptr;
  return connection ? connection->getLockingLevel() : uint16_t(dbfLockRecord);
}

KvStatus FoxIdxDesc::lockForWrite(DbfIndexCursor*) {
  if (indexFlags_ & indexWriteLocked) return kvSuccess;
  int handle = file_->getHandle();
  fileRegion_ = lockingLevel() == dbfLockFile;
  uint32_t length = fileRegion_ ? uint32_t(foxFileRegionBytes) : 1u;
  if (dbfIndexLockWaiting(handle, foxWriterByte, length) != kvSuccess) return kvFailure;
  file_->lockOffset = foxWriterByte;
  file_->lockLength = length;
  indexFlags_ |= indexWriteLocked;
  uint32_t root = 0, freeList = 0, end = 0;
  uint8_t options = 0;
  if (readHeaderFields(&root, &freeList, &end, &options) != kvSuccess ||
      (root && !validNodeOffset(root)) || (freeList != foxNoNode && freeList && !validNodeOffset(freeList))) {
    if (KvErrorKeeper::getLastErrorNumber() == 0) (void)file_->invalid();
    unlockIndexFile();
    return kvFailure;
  }
  root_ = root / foxNodeBytes;
  freeListHead_ = freeList ? freeList : foxNoNode;
  file_->setEofPage(end / foxNodeBytes);
  markStale();
  return kvSuccess;
}

KvStatus FoxIdxDesc::lockForUpdate() {
  // Standard files under Locking RECORD only, once a write lock.
  if (!(indexFlags_ & indexWriteLocked) || (foxFlags_ & foxUpdateLocked) || file_->getKind() != dbfIndexIdx ||
      lockingLevel() != dbfLockRecord)
    return kvSuccess;
  int handle = file_->getHandle();
  // This descriptor's own reader slots are left out: a handle asking for a
  // range that overlaps its own lock is refused.
  uint32_t from = foxReaderFirstSlot;
  const uint32_t end = foxReaderFirstSlot + foxReaderRegionBytes;
  uint32_t slots[foxOwnSlotLimit];
  uint32_t count = ownSlotCount_;
  std::memcpy(slots, ownSlots_, sizeof(uint32_t) * count);
  std::sort(slots, slots + count);
  bool waiting = false;
  uint32_t lockedUpTo = from;
  KvStatus status = kvSuccess;
  for (uint32_t k = 0; k <= count && status == kvSuccess; ++k) {
    uint32_t stop = k < count ? slots[k] : end;
    if (stop > from) {
      if (bosRegionLock(handle, 0, from, stop - from) != kvSuccess) {
        if (KvErrorKeeper::getLastErrorNumber() != kvMsgRegionLocked) {
          status = kvFailure;
          break;
        }
        KvErrorKeeper::clearLastError();
        if (!waiting) {
          // Readers are in: new ones wait while this writer waits.
          unsigned char options = 0;
          uint32_t got = 0;
          if (file_->read(headerOptionsAt, &options, 1, &got) == kvSuccess && got == 1) {
            options = uint8_t(options | foxOptionWriterWaiting);
            if (file_->write(headerOptionsAt, &options, 1) == kvSuccess) foxFlags_ |= foxSetWaiting;
          }
          waiting = true;
        }
        status = dbfIndexLockWaiting(handle, from, stop - from);
        if (status != kvSuccess) break;
      }
      lockedUpTo = stop;
    }
    from = stop + 1;
  }
  if (status != kvSuccess) {
    // Give back the pieces taken so far.
    uint32_t start = foxReaderFirstSlot;
    for (uint32_t k = 0; k <= count && start < lockedUpTo; ++k) {
      uint32_t stop = k < count ? slots[k] : end;
      if (stop > lockedUpTo) stop = lockedUpTo;
      if (stop > start) dbfIndexUnlock(handle, start, stop - start);
      start = stop + 1;
    }
    return kvFailure;
  }
  updateSlots_ = count;
  std::memcpy(updateSlotList_, slots, sizeof(uint32_t) * count);
  foxFlags_ |= foxUpdateLocked;
  return kvSuccess;
}

void FoxIdxDesc::unlockIndexFile() {
  if (!(indexFlags_ & indexWriteLocked)) return;
  int handle = file_->getHandle();
  if (foxFlags_ & foxUpdateLocked) {
    uint32_t start = foxReaderFirstSlot;
    const uint32_t end = foxReaderFirstSlot + foxReaderRegionBytes;
    for (uint32_t k = 0; k <= updateSlots_; ++k) {
      uint32_t stop = k < updateSlots_ ? updateSlotList_[k] : end;
      if (stop > start) dbfIndexUnlock(handle, start, stop - start);
      start = stop + 1;
    }
    updateSlots_ = 0;
    foxFlags_ &= ~uint32_t(foxUpdateLocked);
  }
  if (foxFlags_ & foxSetWaiting) {
    unsigned char options = 0;
    uint32_t got = 0;
    if (file_->read(headerOptionsAt, &options, 1, &got) == kvSuccess && got == 1) {
      options = uint8_t(options & ~foxOptionWriterWaiting);
      if (file_->write(headerOptionsAt, &options, 1) != kvSuccess) KvErrorKeeper::clearLastError();
    } else {
      KvErrorKeeper::clearLastError();
    }
    foxFlags_ &= ~uint32_t(foxSetWaiting);
  }
  dbfIndexUnlock(handle, foxWriterByte, fileRegion_ ? uint32_t(foxFileRegionBytes) : 1u);
  file_->lockOffset = 0;
  file_->lockLength = 0;
  indexFlags_ &= ~uint8_t(indexWriteLocked);
}

KvStatus FoxIdxDesc::takeReaderSlot(uint32_t* slot) {
  int handle = file_->getHandle();
  for (uint32_t group = foxReaderFirstSlot, attempt = 1; group + foxReaderGroup <= foxReaderLastSlot;
       group += foxReaderGroup, ++attempt) {
    if (dbfLockFirstFreeByte(handle, group, foxReaderGroup, slot) == kvSuccess) return kvSuccess;
    if (KvErrorKeeper::getLastErrorNumber() != kvMsgRegionLocked)
      return kvFailure;
    KvErrorKeeper::clearLastError();
    bossleep(dbfLockWaitMs(attempt));
  }
  return file_->invalid();
}

KvStatus FoxIdxDesc::lockForRead(DbfIndexCursor* cursor) {
  if (cursor->readLocked) return kvSuccess;
  if (indexFlags_ & indexWriteLocked) {
    // This descriptor's own write lock covers its readers.
    cursor->readLocked = true;
    cursor->readSlot = 0;
    return kvSuccess;
  }
  if (ownSlotCount_ >= foxOwnSlotLimit) return file_->invalid();
  int handle = file_->getHandle();
  uint32_t root = 0, freeList = 0, end = 0;
  uint8_t options = 0;
  for (uint32_t attempt = 1;; ++attempt) {
    if (readHeaderFields(&root, &freeList, &end, &options) != kvSuccess) return kvFailure;
    if (!(options & foxOptionWriterWaiting)) break;
    // A waiting writer's flag counts only while its lock is really held:
    // a writer that died leaves the flag but not the lock.
    int held = 0;
    if (bosRegionTest(handle, foxWriterByte, 1, &held) != kvSuccess) return kvFailure;
    if (!held) break;
    bossleep(dbfLockWaitMs(attempt));
  }
  uint32_t slot = 0;
  if (takeReaderSlot(&slot) != kvSuccess) return kvFailure;
  ownSlots_[ownSlotCount_++] = slot;
  cursor->readSlot = slot;
  cursor->readLocked = true;
  if (readHeaderFields(&root, &freeList, &end, &options) != kvSuccess || (root && !validNodeOffset(root))) {
    if (KvErrorKeeper::getLastErrorNumber() == 0) (void)file_->invalid();
    unlockForRead(cursor);
    return kvFailure;
  }
  root_ = root / foxNodeBytes;
  freeListHead_ = freeList ? freeList : foxNoNode;
  file_->setEofPage(end / foxNodeBytes);
  markStale();
  return kvSuccess;
}

void FoxIdxDesc::unlockForRead(DbfIndexCursor* cursor) {
  if (!cursor->readLocked) return;
  if (cursor->readSlot) {
    dbfIndexUnlock(file_->getHandle(), cursor->readSlot, 1);
    for (uint32_t k = 0; k < ownSlotCount_; ++k)
      if (ownSlots_[k] == cursor->readSlot) {
        ownSlots_[k] = ownSlots_[--ownSlotCount_];
        break;
      }
  }
  cursor->readSlot = 0;
  cursor->readLocked = false;
}
