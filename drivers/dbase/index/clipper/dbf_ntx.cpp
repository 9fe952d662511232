// Clipper .NTX files: header, keys, the B-tree of items in 1024-byte
// pages, the free list and the lock byte; see dbf_ntx.h.
#include "drivers/dbase/index/clipper/dbf_ntx.h"

#include "base/handles/base_error_list.h"
#include "drivers/dbase/dbase_message_ids.h"
#include "drivers/dbase/index/dbf_index_locks.h"
#include "drivers/dbase/table/dbf_shared_desc.h"
#include "flat/expr/flat_date_keys.h"
#include "util/byte_order.h"
#include "util/charsets/charset_oem.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace {

enum : uint32_t {
  signatureAt = 0,
  versionAt = 2,
  rootAt = 4,
  freeAt = 8,
  itemSizeAt = 12,
  keySizeAt = 14,
  decimalsAt = 16,
  maxItemsAt = 18,
  halfPageAt = 20,
  keyTextAt = 22,
  uniqueAt = 278,
  descendingAt = 280,
  forTextAt = 282,
  maxKeySize = 250,
};

const char descendPrefix[] = "DESCEND(";

// Copies a text of at most limit bytes, NUL-terminated.
void copyText(unsigned char* out, uint32_t size, const unsigned char* from, uint32_t limit) {
  if (size == 0) return;
  uint32_t length = 0;
  while (length < limit && from[length]) ++length;
  if (length >= size) length = size - 1;
  std::memcpy(out, from, length);
  out[length] = 0;
}

bool identifierByte(unsigned char c) { return std::isalnum(c) || c == '_'; }

}  // namespace

DbfNtxDesc::DbfNtxDesc(DbfSharedDesc* table) : DbfIndexDesc(table) {}

DbfNtxDesc::~DbfNtxDesc() { ramFree(forText_); }

KvStatus DbfNtxDesc::invalid() const { return file_->fail(msgDbfBadNtx); }

bool DbfNtxDesc::validPageOffset(uint32_t offset) const {
  return offset >= ntxPageBytes && offset % dbfIndexPageUnit == 0 && offset / dbfIndexPageUnit < dbfIndexMaxEofPage;
}

// ---------------------------------------------------------------- header

void DbfNtxDesc::stripTableAlias(const unsigned char* tableName, const unsigned char* text, unsigned char* out,
                                 uint32_t size) {
  if (size == 0) return;
  size_t nameLength = tableName ? std::strlen(kvC(tableName)) : 0;
  uint32_t o = 0;
  for (size_t i = 0; text[i] && o + 1 < size;) {
    bool tokenStart = i == 0 || !identifierByte(text[i - 1]);
    if (nameLength && tokenStart && strncasecmp(kvC(text + i), kvC(tableName), nameLength) == 0 &&
        text[i + nameLength] == '-' && text[i + nameLength + 1] == '>') {
      i += nameLength + 2;
      continue;
    }
    out[o++] = text[i++];
  }
  out[o] = 0;
}

KvStatus DbfNtxDesc::readHeader(DbfIndexFile* file, unsigned char keyType, unsigned char* keyText, uint32_t size) {
  if (size) keyText[0] = 0;
  if (initialize(file) != kvSuccess) return kvFailure;
  file->setKind(dbfIndexNtx);
  file->setPageSize(ntxPageBytes);
  uint8_t header[ntxPageBytes] = {0};
  uint32_t got = 0;
  if (file->read(0, header, ntxHeaderBytes, &got) != kvSuccess) return kvFailure;
  if (got < ntxHeaderBytes) return invalid();
  signature_ = kvGetU16LE(header + signatureAt);
  version_ = kvGetU16LE(header + versionAt);
  uint32_t root = kvGetU32LE(header + rootAt);
  freeList_ = kvGetU32LE(header + freeAt);
  uint32_t itemSize = kvGetU16LE(header + itemSizeAt), keySize = kvGetU16LE(header + keySizeAt);
  decimals_ = kvGetU16LE(header + decimalsAt);
  uint32_t maxItems = kvGetU16LE(header + maxItemsAt);
  halfPage_ = kvGetU16LE(header + halfPageAt);
  // The table, the items and one more child must fit a page; a page holds
  // two items at least, and the half page is at most half of them.
  if (keySize == 0 || keySize > maxKeySize || itemSize != keySize + 8 || maxItems < 2 ||
      2 + 2 * (maxItems + 1) + (maxItems + 1) * itemSize > ntxPageBytes || halfPage_ == 0 ||
      halfPage_ > maxItems / 2 || !validPageOffset(root) || (freeList_ && !validPageOffset(freeList_)) ||
      (keyType != 'C' && keyType != 'N' && keyType != 'D' && keyType != 'F'))
    return invalid();
  root_ = root / dbfIndexPageUnit;
  setKeyForm(keyType, uint16_t(keySize), uint16_t(itemSize), uint16_t(maxItems));
  // Keys are text for every type: bytes compare, numbers and dates
  // without the locale's collation.
  keyCompare_ = nullptr;
  if (keyType != 'C') flags &= ~uint32_t(indexIntlSort);
  indexFlags_ = kvGetU16LE(header + uniqueAt) ? indexUniqueProperty : 0;
  nextPage_ = 0;

  unsigned char raw[ntxTextBytes + 1] = {0};
  copyText(raw, sizeof(raw), header + keyTextAt, ntxTextBytes - 1);
  const unsigned char* key = raw;
  size_t length = std::strlen(kvC(raw));
  if (signature_ & ntxExtended) {
    descending_ = kvGetU16LE(header + descendingAt) ? 1 : 0;
  } else if (length > sizeof(descendPrefix) && strncasecmp(kvC(raw), descendPrefix, sizeof(descendPrefix) - 1) == 0 &&
             raw[length - 1] == ')') {
    descending_ = 1;
    raw[length - 1] = 0;
    key = raw + sizeof(descendPrefix) - 1;
  }
  const unsigned char* tableName = table_ ? table_->getBaseName() : nullptr;
  if (size) stripTableAlias(tableName, key, keyText, size);
  return kvSuccess;
}

KvStatus DbfNtxDesc::writeNewHeader(DbfIndexFile* file, uint16_t keySize, uint16_t decimals, bool unique,
                                    bool descending, const unsigned char* keyText, const unsigned char* forText) {
  if (keySize == 0 || keySize > maxKeySize) return file->fail(msgDbfBadNtx);
  size_t keyBytes = keyText ? std::strlen(kvC(keyText)) : 0, forBytes = forText ? std::strlen(kvC(forText)) : 0;
  if (keyBytes >= ntxTextBytes || forBytes >= ntxTextBytes) return file->fail(msgDbfBadNtx);
  uint8_t bytes[2 * ntxPageBytes] = {0};
  uint32_t itemSize = keySize + 8u;
  uint32_t maxItems = (ntxPageBytes - 4) / (itemSize + 2) - 1;
  bool extended = descending || forBytes;
  kvPutU16LE(bytes + signatureAt, uint16_t(ntxNewSignature | (extended ? ntxExtended : 0)));
  kvPutU32LE(bytes + rootAt, ntxPageBytes);
  kvPutU16LE(bytes + itemSizeAt, uint16_t(itemSize));
  kvPutU16LE(bytes + keySizeAt, keySize);
  kvPutU16LE(bytes + decimalsAt, decimals);
  kvPutU16LE(bytes + maxItemsAt, uint16_t(maxItems));
  kvPutU16LE(bytes + halfPageAt, uint16_t(maxItems / 2));
  if (keyBytes) std::memcpy(bytes + keyTextAt, keyText, keyBytes);
  kvPutU16LE(bytes + uniqueAt, unique ? 1 : 0);
  if (extended) {
    kvPutU16LE(bytes + descendingAt, descending ? 1 : 0);
    if (forBytes) std::memcpy(bytes + forTextAt, forText, forBytes);
  }
  uint8_t* root = bytes + ntxPageBytes;
  for (uint32_t i = 0; i <= maxItems; ++i) kvPutU16LE(root + 2 + 2 * i, uint16_t(2 * maxItems + 4 + i * itemSize));
  file->setKind(dbfIndexNtx);
  return file->write(0, bytes, sizeof(bytes));
}

KvStatus DbfNtxDesc::getKeyText(unsigned char* text, uint32_t size) {
  if (size) text[0] = 0;
  uint8_t bytes[ntxTextBytes] = {0};
  uint32_t got = 0;
  if (file_->read(keyTextAt, bytes, sizeof(bytes), &got) != kvSuccess) return kvFailure;
  if (got < sizeof(bytes)) return invalid();
  unsigned char raw[ntxTextBytes] = {0};
  copyText(raw, sizeof(raw), bytes, ntxTextBytes - 1);
  if (size == 0) return kvSuccess;
  uint32_t length = uint32_t(std::strlen(kvC(raw)));
  if (length >= size) length = size - 1;
  if (oem_) kvOemToAnsi(text, raw, length);
  else std::memcpy(text, raw, length);
  text[length] = 0;
  return kvSuccess;
}

KvStatus DbfNtxDesc::getFilterCondition(uint8_t** text, FlatFileDesc*) {
  *text = nullptr;
  if (!(signature_ & ntxExtended)) return kvSuccess;
  uint8_t bytes[ntxTextBytes] = {0};
  uint32_t got = 0;
  if (file_->read(forTextAt, bytes, sizeof(bytes), &got) != kvSuccess) return kvFailure;
  if (got < sizeof(bytes)) return invalid();
  unsigned char raw[ntxTextBytes] = {0}, ansi[ntxTextBytes] = {0};
  copyText(raw, sizeof(raw), bytes, ntxTextBytes - 1);
  if (!raw[0]) return kvSuccess;
  uint32_t length = uint32_t(std::strlen(kvC(raw)));
  if (oem_) kvOemToAnsi(ansi, raw, length);
  else std::memcpy(ansi, raw, length);
  if (!forText_ && !(forText_ = static_cast<unsigned char*>(ramAlloc(ntxTextBytes)))) return kvFailure;
  stripTableAlias(table_ ? table_->getBaseName() : nullptr, ansi, forText_, ntxTextBytes);
  *text = forText_;
  return kvSuccess;
}

KvStatus DbfNtxDesc::writeHeader() {
  uint8_t bytes[12];
  uint32_t got = 0;
  if (file_->read(0, bytes, sizeof(bytes), &got) != kvSuccess) return kvFailure;
  if (got < sizeof(bytes)) return invalid();
  version_ = uint16_t(kvGetU16LE(bytes + versionAt) + 1);
  kvPutU16LE(bytes + versionAt, version_);
  kvPutU32LE(bytes + rootAt, root_ * dbfIndexPageUnit);
  kvPutU32LE(bytes + freeAt, freeList_);
  return file_->write(0, bytes, sizeof(bytes));
}

KvStatus DbfNtxDesc::refreshHeader() {
  uint8_t bytes[12];
  uint32_t got = 0;
  if (file_->read(0, bytes, sizeof(bytes), &got) != kvSuccess) return kvFailure;
  if (got < sizeof(bytes)) return invalid();
  uint32_t root = kvGetU32LE(bytes + rootAt), freeList = kvGetU32LE(bytes + freeAt);
  if (!validPageOffset(root) || (freeList && !validPageOffset(freeList))) return invalid();
  root_ = root / dbfIndexPageUnit;
  freeList_ = freeList;
  nextPage_ = 0;
  uint16_t version = kvGetU16LE(bytes + versionAt);
  if (version != version_) {
    version_ = version;
    markStale();
  }
  return kvSuccess;
}

// ---------------------------------------------------------------- keys

KvStatus DbfNtxDesc::makeKey(const uint8_t* value, uint32_t length, uint8_t* key) {
  uint16_t size = keyLength_;
  if (keyType_ == 'C') {
    dbfMakeTextKey(value, length, size, oem_, key);
    if (descending_)
      for (uint16_t i = 0; i < size; ++i) key[i] = uint8_t(256 - key[i]);
    return kvSuccess;
  }
  if (keyType_ != 'N' && keyType_ != 'F' && keyType_ != 'D') return kvSuccess;
  double number = 0;
  if (length >= sizeof(number)) std::memcpy(&number, value, sizeof(number));
  char text[512];
  if (keyType_ == 'D') {
    bool empty = !(number < 1e99);
    if (!descending_) {
      if (empty || size < 8) {
        std::memset(key, ' ', size);
        return kvSuccess;
      }
      unsigned short year = 0, month = 0, day = 0;
      JulianToYrMoDy(number, &year, &month, &day);
      std::snprintf(text, sizeof(text), "%04u%02u%02u", unsigned(year % 10000), unsigned(month % 100),
                    unsigned(day % 100));
      std::memset(key, ' ', size);
      std::memcpy(key, text, 8);
      return kvSuccess;
    }
    double shown = empty ? double(ntxDescendingDateBase) : double(ntxDescendingDateBase) - std::floor(number);
    std::snprintf(text, sizeof(text), "%*.0f", int(size), shown);
  } else {
    if (!std::isfinite(number)) number = 0;
    std::snprintf(text, sizeof(text), "%*.*f", int(size), int(decimals_ < 20 ? decimals_ : 20), number);
  }
  if (std::strlen(text) > size) {
    // Too wide for the key, as a .DBF numeric field shows it.
    std::memset(key, '*', size);
    return kvSuccess;
  }
  for (uint16_t i = 0; i < size; ++i) key[i] = uint8_t(text[i] == ' ' ? '0' : text[i]);
  bool negative = keyType_ != 'D' && number < 0;
  if (negative != (descending_ != 0) && keyType_ != 'D')
    for (uint16_t i = 0; i < size; ++i) key[i] = uint8_t(0x5C - key[i]);
  return kvSuccess;
}

bool DbfNtxDesc::rangeFollowsValues(double low, double high) const {
  if (keyType_ != 'N' && keyType_ != 'F') return true;
  return low >= 0 && high >= 0;
}

// ---------------------------------------------------------------- pages

uint16_t DbfNtxDesc::getPageKeyCount(const uint8_t* page) const { return count(page); }

const uint8_t* DbfNtxDesc::itemAt(const uint8_t* page, uint32_t i) const { return page + kvGetU16LE(page + 2 + 2 * i); }
uint8_t* DbfNtxDesc::itemAt(uint8_t* page, uint32_t i) const { return page + kvGetU16LE(page + 2 + 2 * i); }
uint32_t DbfNtxDesc::childOf(const uint8_t* page, uint32_t i) const { return kvGetU32LE(itemAt(page, i)); }
uint32_t DbfNtxDesc::recordOf(const uint8_t* page, uint32_t i) const { return kvGetU32LE(itemAt(page, i) + 4); }

void DbfNtxDesc::freshPage(uint8_t* page) const {
  std::memset(page, 0, ntxPageBytes);
  for (uint32_t i = 0; i <= maxKeys_; ++i) kvPutU16LE(page + 2 + 2 * i, uint16_t(2 * maxKeys_ + 4 + i * entrySize_));
}

void DbfNtxDesc::readItems(const uint8_t* page, Items* out) const {
  uint16_t n = count(page);
  out->items.resize(n);
  for (uint32_t i = 0; i < n; ++i) {
    out->items[i].child = childOf(page, i);
    out->items[i].record = recordOf(page, i);
    std::memcpy(out->items[i].key, keyOf(page, i), keyLength_);
  }
  out->last = childOf(page, n);
}

void DbfNtxDesc::writeItems(uint8_t* page, const Items& items) const {
  freshPage(page);
  uint32_t n = uint32_t(items.items.size());
  kvPutU16LE(page, uint16_t(n));
  for (uint32_t i = 0; i < n; ++i) {
    uint8_t* item = itemAt(page, i);
    kvPutU32LE(item, items.items[i].child);
    kvPutU32LE(item + 4, items.items[i].record);
    std::memcpy(item + 8, items.items[i].key, keyLength_);
  }
  kvPutU32LE(itemAt(page, n), items.last);
}

KvStatus DbfNtxDesc::checkPage(const TreeInfo* level) {
  const uint8_t* page = level->page;
  uint32_t n = count(page);
  if (n > maxKeys_) return invalid();
  // Every offset of the table: behind the table, the whole item within the
  // page, no two items overlapping (a write would run into another).
  uint16_t offsets[ntxPageBytes / 2];
  uint32_t tableEnd = 2 + 2 * (maxKeys_ + 1u);
  for (uint32_t i = 0; i <= maxKeys_; ++i) {
    offsets[i] = kvGetU16LE(page + 2 + 2 * i);
    if (offsets[i] < tableEnd || offsets[i] + uint32_t(entrySize_) > ntxPageBytes) return invalid();
  }
  std::sort(offsets, offsets + maxKeys_ + 1);
  for (uint32_t i = 1; i <= maxKeys_; ++i)
    if (uint32_t(offsets[i]) < offsets[i - 1] + uint32_t(entrySize_)) return invalid();
  // A leaf has no children, an interior page a valid one at every position.
  bool leaf = childOf(page, 0) == 0;
  for (uint32_t i = 0; i <= n; ++i) {
    uint32_t child = childOf(page, i);
    if (leaf ? child != 0 : !validPageOffset(child)) return invalid();
  }
  return kvSuccess;
}

KvStatus DbfNtxDesc::pushChild(DbfIndexCursor* cursor, uint32_t offset, TreeInfo** level) {
  *level = nullptr;
  if (!validPageOffset(offset)) return invalid();
  return pushPage(cursor, offset / dbfIndexPageUnit, level);
}

KvStatus DbfNtxDesc::readSide(uint32_t offset, TreeInfo** out) {
  *out = nullptr;
  if (!validPageOffset(offset)) return invalid();
  TreeInfo* level = takeLevel();
  if (!level) return kvFailure;
  if (file_->readPage(offset / dbfIndexPageUnit, level->page, ntxPageBytes) != kvSuccess) {
    freeLevel(level);
    return kvFailure;
  }
  level->pageNo = offset / dbfIndexPageUnit;
  level->generation = 0;
  if (checkPage(level) != kvSuccess) {
    level->pageNo = 0;
    freeLevel(level);
    return kvFailure;
  }
  *out = level;
  return kvSuccess;
}

// ---------------------------------------------------------------- walks

KvStatus DbfNtxDesc::descendLeftmost(DbfIndexCursor* cursor, uint32_t offset) {
  TreeInfo* level = nullptr;
  for (;;) {
    if (pushChild(cursor, offset, &level) != kvSuccess) return kvFailure;
    level->position = 0;
    if (childOf(level->page, 0) == 0) return kvSuccess;
    offset = childOf(level->page, 0);
  }
}

KvStatus DbfNtxDesc::advance(DbfIndexCursor* cursor, bool* more) {
  *more = false;
  TreeInfo* level = cursor->top;
  if (!level) return kvSuccess;
  uint32_t i = uint32_t(level->position);
  if (childOf(level->page, 0) != 0) {
    // After an interior item: the first item of the subtree behind it.
    level->position = int32_t(i + 1);
    if (descendLeftmost(cursor, childOf(level->page, i + 1)) != kvSuccess) return kvFailure;
  } else {
    level->position = int32_t(i + 1);
  }
  // Climb past the pages whose items are all behind.
  while (cursor->top && uint32_t(cursor->top->position) >= count(cursor->top->page)) popLevel(cursor);
  *more = cursor->top != nullptr;
  return kvSuccess;
}

KvStatus DbfNtxDesc::seekFirst(DbfIndexCursor* cursor, const uint8_t* key) {
  releasePath(cursor);
  uint32_t offset = root_ * dbfIndexPageUnit;
  TreeInfo* level = nullptr;
  for (;;) {
    if (pushChild(cursor, offset, &level) != kvSuccess) return kvFailure;
    const uint8_t* page = level->page;
    uint32_t low = 0, high = count(page);
    while (low < high) {
      uint32_t middle = (low + high) / 2;
      if (compareKeys(keyOf(page, middle), key) < 0) low = middle + 1;
      else high = middle;
    }
    level->position = int32_t(low);
    if (childOf(page, 0) == 0) break;
    offset = childOf(page, low);
  }
  while (cursor->top && uint32_t(cursor->top->position) >= count(cursor->top->page)) popLevel(cursor);
  return kvSuccess;
}

const uint8_t* DbfNtxDesc::keyAtCursor(DbfIndexCursor* cursor) {
  TreeInfo* level = cursor->top;
  if (!level || level->position < 0 || uint32_t(level->position) >= count(level->page)) return nullptr;
  return keyOf(level->page, uint32_t(level->position));
}

KvStatus DbfNtxDesc::nextKey(DbfIndexCursor* cursor, uint32_t* record) {
  *record = 0;
  bool more = false;
  if (!cursor->top) {
    if (descendLeftmost(cursor, root_ * dbfIndexPageUnit) != kvSuccess) {
      releasePath(cursor);
      return kvFailure;
    }
    while (cursor->top && uint32_t(cursor->top->position) >= count(cursor->top->page)) popLevel(cursor);
    more = cursor->top != nullptr;
  } else if (advance(cursor, &more) != kvSuccess) {
    releasePath(cursor);
    return kvFailure;
  }
  if (!more) return kvSuccess;
  *record = recordOf(cursor->top->page, uint32_t(cursor->top->position));
  if (*record == 0) {
    releasePath(cursor);
    return invalid();
  }
  return kvSuccess;
}

KvStatus DbfNtxDesc::compareCurrentKey(DbfIndexCursor* cursor, const uint8_t* key, int* result) {
  const uint8_t* current = keyAtCursor(cursor);
  *result = current ? compareKeys(current, key) : 1;
  return kvSuccess;
}

KvStatus DbfNtxDesc::searchKey(DbfIndexCursor* cursor, const uint8_t* key, uint32_t* record, bool exact) {
  *record = 0;
  if (seekFirst(cursor, key) != kvSuccess) {
    releasePath(cursor);
    return kvFailure;
  }
  const uint8_t* current = keyAtCursor(cursor);
  if (current && (!exact || compareKeys(current, key) == 0))
    *record = recordOf(cursor->top->page, uint32_t(cursor->top->position));
  return kvSuccess;
}

KvStatus DbfNtxDesc::findItem(DbfIndexCursor* cursor, const uint8_t* key, uint32_t record, bool* found,
                              bool* keyFound) {
  *found = *keyFound = false;
  if (seekFirst(cursor, key) != kvSuccess) return kvFailure;
  // Equal keys run on in key order through leaves and interior pages;
  // their number is bounded by the file's items.
  for (uint32_t steps = 0; steps < dbfIndexMaxEofPage; ++steps) {
    const uint8_t* current = keyAtCursor(cursor);
    if (!current || compareKeys(current, key) != 0) return kvSuccess;
    *keyFound = true;
    if (recordOf(cursor->top->page, uint32_t(cursor->top->position)) == record) {
      *found = true;
      return kvSuccess;
    }
    bool more = false;
    if (advance(cursor, &more) != kvSuccess) return kvFailure;
    if (!more) return kvSuccess;
  }
  return invalid();
}

// ---------------------------------------------------------------- changes

KvStatus DbfNtxDesc::allocatePage(uint32_t* offset) {
  if (freeList_) {
    uint8_t link[4];
    uint32_t got = 0;
    if (file_->read(freeList_, link, sizeof(link), &got) != kvSuccess) return kvFailure;
    if (got < sizeof(link)) return file_->fail(msgDbfIndexRead);
    uint32_t next = kvGetU32LE(link);
    if (next % dbfIndexPageUnit || (next && !validPageOffset(next)) || next == freeList_) return invalid();
    *offset = freeList_;
    freeList_ = next;
    return kvSuccess;
  }
  if (nextPage_ == 0) {
    // The end of the file, rounded up to a page; the root stays where it is.
    uint64_t bytes = 0;
    if (file_->size(&bytes) != kvSuccess) return kvFailure;
    bytes = (bytes + ntxPageBytes - 1) / ntxPageBytes * ntxPageBytes;
    if (bytes < 2 * ntxPageBytes) bytes = 2 * ntxPageBytes;
    if (bytes / dbfIndexPageUnit >= dbfIndexMaxEofPage) return invalid();
    nextPage_ = uint32_t(bytes);
  }
  if (nextPage_ / dbfIndexPageUnit + 2 >= dbfIndexMaxEofPage) return invalid();
  *offset = nextPage_;
  nextPage_ += ntxPageBytes;
  return kvSuccess;
}

KvStatus DbfNtxDesc::releasePage(TreeInfo* level) {
  std::memset(level->page, 0, ntxPageBytes);
  kvPutU32LE(level->page, freeList_);
  if (writeLevel(level) != kvSuccess) return kvFailure;
  freeList_ = level->pageNo * dbfIndexPageUnit;
  return kvSuccess;
}

KvStatus DbfNtxDesc::insertItem(DbfIndexCursor* cursor, const uint8_t* key, uint32_t record) {
  // Down to the leaf: behind the equal keys, so that they keep the order
  // they came in.
  releasePath(cursor);
  uint32_t offset = root_ * dbfIndexPageUnit;
  TreeInfo* level = nullptr;
  for (;;) {
    if (pushChild(cursor, offset, &level) != kvSuccess) return kvFailure;
    const uint8_t* page = level->page;
    uint32_t low = 0, high = count(page);
    while (low < high) {
      uint32_t middle = (low + high) / 2;
      if (compareKeys(keyOf(page, middle), key) <= 0) low = middle + 1;
      else high = middle;
    }
    level->position = int32_t(low);
    if (childOf(page, 0) == 0) break;
    offset = childOf(page, low);
  }
  Item item;
  item.child = 0;
  item.record = record;
  std::memcpy(item.key, key, keyLength_);
  uint32_t right = 0;  // the page behind the item going in (a split's upper part)
  for (TreeInfo* at = cursor->top;; at = at->parent) {
    Items items;
    readItems(at->page, &items);
    uint32_t p = uint32_t(at->position);
    if (p > items.items.size()) return invalid();
    // Item at p with right behind it: the item at p keeps its subtree (the
    // lower part), the one after it takes right.
    uint32_t leftChild = p < items.items.size() ? items.items[p].child : items.last;
    item.child = leftChild;
    if (p < items.items.size()) items.items[p].child = right;
    else items.last = right;
    items.items.insert(items.items.begin() + p, item);
    if (items.items.size() <= maxKeys_) {
      writeItems(at->page, items);
      return writeLevel(at);
    }
    // Split at the half page: the lower items stay, the median goes up,
    // the upper items go to a new page.
    uint32_t h = halfPage_;
    Items upper;
    upper.items.assign(items.items.begin() + h + 1, items.items.end());
    upper.last = items.last;
    Item median = items.items[h];
    items.last = median.child;
    items.items.resize(h);
    uint32_t newPage = 0;
    if (allocatePage(&newPage) != kvSuccess) return kvFailure;
    TreeInfo* fresh = takeLevel();
    if (!fresh) return kvFailure;
    fresh->pageNo = newPage / dbfIndexPageUnit;
    writeItems(fresh->page, upper);
    KvStatus status = writeLevel(fresh);
    freeLevel(fresh);
    writeItems(at->page, items);
    if (status != kvSuccess || writeLevel(at) != kvSuccess) return kvFailure;
    item = median;
    right = newPage;
    if (!at->parent) {
      // The root splits: a new root above the two halves.
      uint32_t rootPage = 0;
      if (allocatePage(&rootPage) != kvSuccess) return kvFailure;
      TreeInfo* root = takeLevel();
      if (!root) return kvFailure;
      root->pageNo = rootPage / dbfIndexPageUnit;
      Items top;
      item.child = at->pageNo * dbfIndexPageUnit;
      top.items.push_back(item);
      top.last = right;
      writeItems(root->page, top);
      status = writeLevel(root);
      freeLevel(root);
      if (status != kvSuccess) return kvFailure;
      root_ = rootPage / dbfIndexPageUnit;
      return kvSuccess;
    }
  }
}

KvStatus DbfNtxDesc::rebalance(DbfIndexCursor*, TreeInfo* level) {
  for (uint32_t steps = 0; level && steps <= dbfIndexMaxDepth; ++steps) {
    TreeInfo* parent = level->parent;
    uint32_t n = count(level->page);
    if (!parent) {
      // A root without items and with a child: the child's page moves into
      // the root's place.
      if (n == 0 && childOf(level->page, 0) != 0) {
        TreeInfo* child = nullptr;
        if (readSide(childOf(level->page, 0), &child) != kvSuccess) return kvFailure;
        std::memcpy(level->page, child->page, ntxPageBytes);
        KvStatus status = writeLevel(level);
        if (status == kvSuccess) status = releasePage(child);
        freeLevel(child);
        return status;
      }
      return kvSuccess;
    }
    if (n >= halfPage_) return kvSuccess;
    Items parentItems, own, sibling;
    readItems(parent->page, &parentItems);
    readItems(level->page, &own);
    uint32_t p = uint32_t(parent->position);
    if (p > parentItems.items.size() || parentItems.items.empty()) return invalid();
    bool right = p < parentItems.items.size();
    uint32_t separatorAt = right ? p : p - 1;
    uint32_t siblingOffset = right ? (p + 1 < parentItems.items.size() ? parentItems.items[p + 1].child
                                                                        : parentItems.last)
                                   : parentItems.items[p - 1].child;
    TreeInfo* side = nullptr;
    if (readSide(siblingOffset, &side) != kvSuccess) return kvFailure;
    readItems(side->page, &sibling);
    // The items of both pages in order with the separator between them.
    Items* lower = right ? &own : &sibling;
    Items* upper = right ? &sibling : &own;
    TreeInfo* lowerLevel = right ? level : side;
    TreeInfo* upperLevel = right ? side : level;
    Item separator = parentItems.items[separatorAt];
    separator.child = lower->last;
    std::vector<Item> all(lower->items);
    all.push_back(separator);
    all.insert(all.end(), upper->items.begin(), upper->items.end());
    uint32_t lowerOffset = lowerLevel->pageNo * dbfIndexPageUnit;
    KvStatus status = kvSuccess;
    uint32_t m = (uint32_t(sibling.items.size()) + 1 > halfPage_) ? (uint32_t(sibling.items.size()) - halfPage_ + 1) / 2 : 0;
    if (m == 0) {
      // Merge: one page holds them all; the upper page is freed and the
      // parent loses the separator.
      Items merged;
      merged.items = all;
      merged.last = upper->last;
      writeItems(lowerLevel->page, merged);
      parentItems.items.erase(parentItems.items.begin() + separatorAt);
      if (separatorAt < parentItems.items.size()) parentItems.items[separatorAt].child = lowerOffset;
      else parentItems.last = lowerOffset;
      writeItems(parent->page, parentItems);
      status = writeLevel(lowerLevel);
      if (status == kvSuccess) status = releasePage(upperLevel);
      if (status == kvSuccess) status = writeLevel(parent);
      freeLevel(side);
      if (status != kvSuccess) return kvFailure;
      parent->position = int32_t(separatorAt);
      level = parent;
      continue;
    }
    // Borrow: m items move through the parent.
    uint32_t lowerCount = right ? uint32_t(own.items.size()) + m : uint32_t(sibling.items.size()) - m;
    Items newLower, newUpper;
    newLower.items.assign(all.begin(), all.begin() + lowerCount);
    newLower.last = all[lowerCount].child;
    newUpper.items.assign(all.begin() + lowerCount + 1, all.end());
    newUpper.last = upper->last;
    Item newSeparator = all[lowerCount];
    newSeparator.child = lowerOffset;
    parentItems.items[separatorAt] = newSeparator;
    writeItems(lowerLevel->page, newLower);
    writeItems(upperLevel->page, newUpper);
    writeItems(parent->page, parentItems);
    status = writeLevel(lowerLevel);
    if (status == kvSuccess) status = writeLevel(upperLevel);
    if (status == kvSuccess) status = writeLevel(parent);
    freeLevel(side);
    return status;
  }
  return kvSuccess;
}

KvStatus DbfNtxDesc::insertKey(DbfIndexCursor* cursor, const uint8_t* key) {
  uint32_t record = cursor->record();
  bool found = false, keyFound = false;
  KvStatus status = findItem(cursor, key, record, &found, &keyFound);
  if (status == kvSuccess && found) status = invalid();
  if (status == kvSuccess && keyFound && isUniqueProperty()) {
    releasePath(cursor);
    return kvSuccess;
  }
  if (status == kvSuccess) status = insertItem(cursor, key, record);
  if (status == kvSuccess) status = writeHeader();
  releasePath(cursor);
  if (status != kvSuccess) markStale();
  return status;
}

KvStatus DbfNtxDesc::deleteKey(DbfIndexCursor* cursor, const uint8_t* key) {
  bool found = false, keyFound = false;
  KvStatus status = findItem(cursor, key, cursor->record(), &found, &keyFound);
  if (status == kvSuccess && !found) {
    releasePath(cursor);
    if (isUniqueProperty()) return kvSuccess;
    addOdbcError(stateGeneral, msgDbfKeyNotFound);
    return kvFailure;
  }
  TreeInfo* level = cursor->top;
  if (status == kvSuccess && childOf(level->page, 0) != 0) {
    // An interior item takes the last item of its left subtree's rightmost
    // leaf, which goes from there.
    TreeInfo* interior = level;
    uint32_t i = uint32_t(interior->position);
    uint32_t offset = childOf(interior->page, i);
    TreeInfo* at = nullptr;
    for (;;) {
      if ((status = pushChild(cursor, offset, &at)) != kvSuccess) break;
      uint32_t n = count(at->page);
      at->position = int32_t(n);
      if (childOf(at->page, 0) == 0) {
        if (n == 0) status = invalid();
        else at->position = int32_t(n - 1);
        break;
      }
      offset = childOf(at->page, n);
    }
    if (status == kvSuccess) {
      uint8_t* target = itemAt(interior->page, i);
      const uint8_t* source = itemAt(at->page, uint32_t(at->position));
      std::memcpy(target + 4, source + 4, 4u + keyLength_);
      status = writeLevel(interior);
      level = at;
    }
  }
  if (status == kvSuccess) {
    Items items;
    readItems(level->page, &items);
    items.items.erase(items.items.begin() + level->position);
    writeItems(level->page, items);
    status = writeLevel(level);
  }
  if (status == kvSuccess) status = rebalance(cursor, level);
  if (status == kvSuccess) status = writeHeader();
  releasePath(cursor);
  if (status != kvSuccess) markStale();
  return status;
}

// ---------------------------------------------------------------- build and check

KvStatus DbfNtxDesc::startNewTree(DbfIndexCursor* cursor) {
  releasePath(cursor);
  TreeInfo* level = takeLevel();
  if (!level) return kvFailure;
  level->pageNo = ntxPageBytes / dbfIndexPageUnit;
  freshPage(level->page);
  KvStatus status = writeLevel(level);
  freeLevel(level);
  root_ = ntxPageBytes / dbfIndexPageUnit;
  freeList_ = 0;
  nextPage_ = 2 * ntxPageBytes;
  lastLive_ = false;
  stateFlags_ &= ~uint32_t(stateLiveSeen);
  if (status == kvSuccess) status = writeHeader();
  return status;
}

KvStatus DbfNtxDesc::appendBuiltKey(DbfIndexCursor* cursor, const uint8_t* key, bool live) {
  if ((isUniqueProperty() || isUniqueConstraint()) && haveLast_) {
    bool skip = false;
    KvStatus status = checkSortedDuplicate(lastKey_, key, lastLive_, live, &skip);
    lastLive_ = live;
    std::memcpy(lastKey_, key, keyLength_);
    if (status != kvSuccess) return kvFailure;
    if (skip) return kvSuccess;
  } else {
    lastLive_ = live;
    std::memcpy(lastKey_, key, keyLength_);
    haveLast_ = true;
  }
  KvStatus status = insertItem(cursor, key, cursor->record());
  releasePath(cursor);
  return status;
}

KvStatus DbfNtxDesc::finishBuild(DbfIndexCursor* cursor) {
  releasePath(cursor);
  haveLast_ = false;
  return writeHeader();
}

KvStatus DbfNtxDesc::verifyPage(uint32_t pageNo, uint32_t depth, DbfVerifyState* state) {
  return verifyNode(pageNo * dbfIndexPageUnit, depth, state);
}

KvStatus DbfNtxDesc::verifyNode(uint32_t offset, uint32_t depth, DbfVerifyState* state) {
  if (depth > dbfIndexMaxDepth || !validPageOffset(offset)) return file_->invalid();
  uint32_t pageNo = offset / dbfIndexPageUnit;
  if (pageNo + 1 >= state->visitedPages) return file_->invalid();
  for (uint32_t half = 0; half < 2; ++half) {
    unsigned char& seen = state->visited[(pageNo + half) / 8];
    if (seen & (1u << ((pageNo + half) % 8))) return file_->invalid();
    seen = uint8_t(seen | (1u << ((pageNo + half) % 8)));
  }
  TreeInfo* level = nullptr;
  if (readSide(offset, &level) != kvSuccess) return kvFailure;
  KvStatus status = kvSuccess;
  uint32_t n = count(level->page);
  bool leaf = childOf(level->page, 0) == 0;
  if (depth > 1 && n < halfPage_) status = file_->invalid();
  if (status == kvSuccess && depth > 1 && n == 0) status = file_->invalid();
  state->keyCount += n;
  if (status == kvSuccess && leaf) {
    if (state->leafDepth == 0xFFFF) state->leafDepth = depth;
    else if (state->leafDepth != depth) status = file_->invalid();
  }
  for (uint32_t i = 0; status == kvSuccess && i <= n; ++i) {
    if (!leaf) status = verifyNode(childOf(level->page, i), depth + 1, state);
    if (status != kvSuccess || i == n) break;
    const uint8_t* key = keyOf(level->page, i);
    if (recordOf(level->page, i) == 0) status = file_->invalid();
    else if (state->haveLastKey && compareKeys(state->lastKey, key) > 0) status = file_->invalid();
    std::memcpy(state->lastKey, key, keyLength_);
    state->haveLastKey = true;
  }
  freeLevel(level);
  return status;
}

// ---------------------------------------------------------------- locks

KvStatus DbfNtxDesc::lockForWrite(DbfIndexCursor*) {
  if (indexFlags_ & indexWriteLocked) return kvSuccess;
  if (dbfIndexHoldLockByte(file_, lockByte()) != kvSuccess) return kvFailure;
  file_->lockOffset = lockByte();
  file_->lockLength = 1;
  indexFlags_ |= indexWriteLocked;
  if (refreshHeader() != kvSuccess) {
    unlockIndexFile();
    return kvFailure;
  }
  return kvSuccess;
}

void DbfNtxDesc::unlockIndexFile() {
  if (!(indexFlags_ & indexWriteLocked)) return;
  dbfIndexReleaseLockByte(file_, lockByte());
  file_->lockOffset = 0;
  file_->lockLength = 0;
  indexFlags_ &= ~uint8_t(indexWriteLocked);
}

KvStatus DbfNtxDesc::lockForRead(DbfIndexCursor* cursor) {
  if (cursor->readLocked) return kvSuccess;
  bool first = file_->readLockCount == 0;
  if (dbfIndexHoldLockByte(file_, lockByte()) != kvSuccess) return kvFailure;
  ++file_->readLockCount;
  cursor->readLocked = true;
  cursor->readSlot = lockByte();
  if (first && refreshHeader() != kvSuccess) {
    unlockForRead(cursor);
    return kvFailure;
  }
  return kvSuccess;
}

void DbfNtxDesc::unlockForRead(DbfIndexCursor* cursor) {
  if (!cursor->readLocked) return;
  if (file_->readLockCount) --file_->readLockCount;
  dbfIndexReleaseLockByte(file_, lockByte());
  cursor->readSlot = 0;
  cursor->readLocked = false;
}
