// The base of the dBASE driver's indexes: geometry and key form, the kept
// pages and the paths through them, the key order, the duplicate rule of
// sorted keys and the bulk build over the record sort; see dbf_index_desc.h.
#include "drivers/dbase/index/dbf_index_desc.h"

#include "base/handles/base_error_list.h"
#include "drivers/dbase/dbase_message_ids.h"
#include "drivers/dbase/records/dbf_file_desc.h"
#include "drivers/dbase/table/dbf_shared_desc.h"
#include "flat/connection/flat_rid.h"
#include "flat/expr/flat_date_keys.h"
#include "util/byte_order.h"
#include "util/files/sort.h"
#include "util/os/bos.h"

#include <cstring>

namespace {

// Levels the free list keeps with their pages: enough for the upper levels
// of any tree the driver meets and the leaves last used.
enum : uint32_t { keptLevels = 64 };


// The base name of a path: its last component without the extension.
void baseNameOf(const unsigned char* path, unsigned char* name, uint32_t size) {
  const unsigned char* start = path;
  for (const unsigned char* p = path; *p; ++p)
    if (*p == '/' || *p == '\\') start = p + 1;
  uint32_t length = uint32_t(std::strlen(kvC(start)));
  for (uint32_t i = length; i > 0; --i)
    if (start[i - 1] == '.') {
      length = i - 1;
      break;
    }
  if (length >= size) length = size - 1;
  std::memcpy(name, start, length);
  name[length] = 0;
}

}  // namespace

DbfKeyField::~DbfKeyField() = default;

TreeInfo::~TreeInfo() { ramFree(page); }

DbfKeySource::~DbfKeySource() = default;

DbfIndexCursor::~DbfIndexCursor() {
  if (!index_) return;
  if (readLocked) index_->unlockForRead(this);
  index_->releasePath(this);
}

uint32_t DbfIndexCursor::record() const {
  if (fixedRecord) return fixedRecord;
  return reader_ ? reader_->currentRecord() : 0;
}

bool DbfIndexCursor::hasNoRecord() const {
  return !reader_ || !reader_->getRid() || reader_->getRid()->getState() == ridNoRecord;
}

// ---------------------------------------------------------------- the descriptor

DbfIndexDesc::DbfIndexDesc(DbfSharedDesc* table) : table_(table) { oem_ = table && table->isOem(); }

DbfIndexDesc::~DbfIndexDesc() {
  while (TreeInfo* level = freeLevels_) {
    freeLevels_ = level->parent;
    delete level;
  }
}

KvStatus DbfIndexDesc::initialize(DbfIndexFile* file) {
  file_ = file;
  tagNumber_ = 0;
  stateFlags_ = stateOneRegion;
  descending_ = 0;
  unsigned char name[bosNameBytes];
  baseNameOf(file->getPath() ? file->getPath() : kvU(""), name, sizeof(name));
  if (FlatIndexDesc::initialize(name, 1) != kvSuccess) return kvFailure;
  if (file->isIntlSort()) flags |= indexIntlSort;
  return kvSuccess;
}

FlatKeyField* DbfIndexDesc::allocKeyField() { return new DbfKeyField; }

void DbfIndexDesc::setKeyForm(unsigned char type, uint16_t length, uint16_t entrySize, uint16_t maxKeys) {
  keyType_ = type;
  keyLength_ = length;
  entrySize_ = entrySize;
  maxKeys_ = maxKeys;
  switch (type) {
    case 'D': case 'F': keyCompare_ = dbfCompareDoubleKeys; break;
    case 'N': keyCompare_ = length == dbfBcdKeyBytes ? dbfCompareBcdKeys : dbfCompareDoubleKeys; break;
    default: keyCompare_ = nullptr; break;
  }
}

int DbfIndexDesc::compareKeys(const uint8_t* a, const uint8_t* b) const {
  if (keyCompare_) return keyCompare_(a, b);
  return dbfCompareTextKeys(a, b, keyLength_, (flags & indexIntlSort) != 0);
}

KvStatus DbfIndexDesc::makeKey(const uint8_t* value, uint32_t length, uint8_t* key) {
  switch (keyType_) {
    case 'C':
      dbfMakeTextKey(value, length, keyLength_, oem_, key);
      return kvSuccess;
    case 'D':
    case 'F':
      std::memset(key, 0, dbfDoubleKeyBytes);
      std::memcpy(key, value, length < dbfDoubleKeyBytes ? length : uint32_t(dbfDoubleKeyBytes));
      return kvSuccess;
    case 'N': {
      double number = 0;
      if (length >= sizeof(number)) std::memcpy(&number, value, sizeof(number));
      if (keyLength_ == dbfBcdKeyBytes) dbfMakeBcdKey(number, key);
      else std::memcpy(key, &number, sizeof(number));
      return kvSuccess;
    }
    default:
      return kvSuccess;
  }
}

KvStatus DbfIndexDesc::appendSortedKey(DbfIndexCursor* cursor, const uint8_t* value, uint32_t length) {
  uint8_t key[dbfIndexMaxKeyBytes];
  if (makeKey(value, length, key) != kvSuccess) return kvFailure;
  bool live = true;
  if (isUniqueConstraint() && isRecordLive(cursor->reader(), cursor->record(), &live) != kvSuccess) return kvFailure;
  return appendBuiltKey(cursor, key, live);
}

KvStatus DbfIndexDesc::writeHeader() { return file_ ? file_->invalid() : kvFailure; }

KvStatus DbfIndexDesc::lockForWrite(DbfIndexCursor*) { return kvSuccess; }
void DbfIndexDesc::unlockIndexFile() {}
KvStatus DbfIndexDesc::lockForRead(DbfIndexCursor*) { return kvSuccess; }
void DbfIndexDesc::unlockForRead(DbfIndexCursor* cursor) { cursor->readLocked = false; }
KvStatus DbfIndexDesc::verifyPage(uint32_t, uint32_t, DbfVerifyState*) { return kvSuccess; }

KvStatus DbfIndexDesc::getKeyText(unsigned char* text, uint32_t size) {
  if (size) text[0] = 0;
  return kvSuccess;
}

KvStatus DbfIndexDesc::checkPage(const TreeInfo*) { return kvSuccess; }

KvStatus DbfIndexDesc::isRecordLive(DbfFileDesc* reader, uint32_t n, bool* live) {
  *live = true;
  DbfSharedDesc* table = reader ? reader->table() : nullptr;
  if (!table || n == 0) return kvSuccess;
  auto* record = static_cast<unsigned char*>(ramAlloc(table->getRecordLength()));
  if (!record) return kvFailure;
  uint32_t got = 0;
  KvStatus status = table->readRecordBytes(n, record, &got, 0);
  if (status == kvSuccess && got > 0) *live = record[0] != dbfDeletedMark;
  ramFree(record);
  return status;
}

KvStatus DbfIndexDesc::checkSortedDuplicate(const uint8_t* previous, const uint8_t* key, bool previousLive, bool live,
                                            bool* skip) {
  *skip = false;
  if (std::memcmp(previous, key, keyLength_) != 0) {
    stateFlags_ &= ~uint32_t(stateLiveSeen);
    return kvSuccess;
  }
  if (isUniqueConstraint()) {
    if (previousLive) stateFlags_ |= stateLiveSeen;
    if ((stateFlags_ & stateLiveSeen) && live) {
      addOdbcError(stateIntegrity, msgDbfKeyViolation);
      return kvFailure;
    }
    // A live record skipped under the unique property still counts for
    // the records that follow it.
    if (live) stateFlags_ |= stateLiveSeen;
  }
  if (isUniqueProperty()) *skip = true;
  return kvSuccess;
}

// ---------------------------------------------------------------- kept pages and paths

TreeInfo* DbfIndexDesc::takeLevel() {
  TreeInfo* level = nullptr;
  if (freeCount_ >= keptLevels) {
    // The level released longest ago: the tail of the list.
    TreeInfo** link = &freeLevels_;
    while ((*link)->parent) link = &(*link)->parent;
    level = *link;
    *link = nullptr;
    --freeCount_;
  } else {
    level = newLevel();
    if (!level) return nullptr;
  }
  std::memset(level->page, 0, getBufferBytes());
  level->pageNo = 0;
  level->parent = nullptr;
  level->position = 0;
  level->generation = generation_;
  return level;
}

TreeInfo* DbfIndexDesc::newLevel() {
  auto* level = new TreeInfo;
  if (!level) return nullptr;
  level->page = static_cast<unsigned char*>(ramAlloc(getBufferBytes()));
  if (!level->page) {
    delete level;
    return nullptr;
  }
  return level;
}

void DbfIndexDesc::freeLevel(TreeInfo* level) {
  level->parent = freeLevels_;
  freeLevels_ = level;
  if (++freeCount_ <= keptLevels) return;
  TreeInfo** link = &freeLevels_;
  while ((*link)->parent) link = &(*link)->parent;
  delete *link;
  *link = nullptr;
  --freeCount_;
}

KvStatus DbfIndexDesc::pushPage(DbfIndexCursor* cursor, uint32_t pageNo, TreeInfo** out) {
  *out = nullptr;
  if (pageNo == 0 || cursor->depth >= dbfIndexMaxDepth) return file_->invalid();
  for (const TreeInfo* level = cursor->top; level; level = level->parent)
    if (level->pageNo == pageNo) return file_->invalid();

  // A kept level that holds the page as it is now; else a level to read it
  // into.
  TreeInfo* level = nullptr;
  for (TreeInfo** link = &freeLevels_; *link; link = &(*link)->parent) {
    if ((*link)->pageNo == pageNo && (*link)->generation == generation_) {
      level = *link;
      *link = level->parent;
      --freeCount_;
      break;
    }
  }
  if (!level) {
    level = takeLevel();
    if (!level) return kvFailure;
    ++pagesRead_;
    if (file_->readPage(pageNo, level->page, getPageSize()) != kvSuccess) {
      freeLevel(level);
      return kvFailure;
    }
    level->pageNo = pageNo;
    level->generation = generation_;
    if (checkPage(level) != kvSuccess) {
      level->pageNo = 0;
      freeLevel(level);
      return kvFailure;
    }
  }
  level->position = 0;
  level->parent = cursor->top;
  cursor->top = level;
  ++cursor->depth;
  *out = level;
  return kvSuccess;
}

void DbfIndexDesc::popLevel(DbfIndexCursor* cursor) {
  TreeInfo* level = cursor->top;
  if (!level) return;
  cursor->top = level->parent;
  --cursor->depth;
  freeLevel(level);
}

void DbfIndexDesc::releasePath(DbfIndexCursor* cursor) {
  while (cursor->top) popLevel(cursor);
  cursor->depth = 0;
}

KvStatus DbfIndexDesc::writeLevel(TreeInfo* level) {
  for (TreeInfo* kept = freeLevels_; kept; kept = kept->parent)
    if (kept != level && kept->pageNo == level->pageNo) kept->pageNo = 0;
  if (file_->writePage(level->pageNo, level->page, getPageSize()) != kvSuccess) {
    level->pageNo = 0;
    return kvFailure;
  }
  level->generation = generation_;
  return kvSuccess;
}

// ---------------------------------------------------------------- bulk build and check

KvStatus DbfIndexDesc::buildIndex(DbfIndexCursor* cursor, DbfKeySource* source) {
  DbfFileDesc* reader = cursor->reader();
  if (!reader || !reader->getRid() || !file_) return file_ ? file_->invalid() : kvFailure;
  // Sort records: the key as it sorts (a text key as made; a number as its
  // byte-comparable double), the record number high byte first, and
  // whether the record is live. Equal keys sort by record number, in the
  // index's direction.
  bool text = keyType_ == 'C';
  uint16_t sortBytes = text ? keyLength_ : uint16_t(dbfDoubleKeyBytes);
  uint16_t direction = isDescending() ? uint16_t(sortKeyDescending) : uint16_t(0);
  auto* sort = new KvSort(uint16_t(sortBytes + 5));
  if (!sort) return kvFailure;
  KvStatus status = sort->addKey(uint16_t(direction | (text && (flags & indexIntlSort) ? sortKeyIntl : 0)), 0, sortBytes);
  if (status == kvSuccess) status = sort->addKey(direction, sortBytes, 4);
  if (status == kvSuccess) status = startNewTree(cursor);
  if (status == kvSuccess) status = reader->resetToFirstRecord();

  auto* value = static_cast<uint8_t*>(ramAlloc(dbfKeyValueBytes));
  if (!value) status = kvFailure;
  while (status == kvSuccess) {
    uint16_t found = 0;
    if ((status = reader->readNextRec(&found)) != kvSuccess || !found) break;
    uint32_t length = 0;
    bool include = true;
    if ((status = source->recordValue(reader, value, &length, &include)) != kvSuccess) break;
    if (!include) continue;
    if (length > dbfKeyValueBytes) {
      status = file_->invalid();
      break;
    }
    void* slot = nullptr;
    if ((status = sort->nextSlot(&slot)) != kvSuccess) break;
    auto* bytes = static_cast<uint8_t*>(slot);
    if (text) {
      status = makeKey(value, length, bytes);
    } else {
      std::memset(bytes, 0, dbfDoubleKeyBytes);
      std::memcpy(bytes, value, length < dbfDoubleKeyBytes ? length : uint32_t(dbfDoubleKeyBytes));
      MakeMemComparable(bytes);
    }
    kvPutU32BE(bytes + sortBytes, cursor->record());
    bytes[sortBytes + 4] = reader->getRecordBuffer()[0] != dbfDeletedMark;
  }
  ramFree(value);

  auto* rid = static_cast<FlatNumericRid*>(reader->getRid());
  uint8_t key[dbfIndexMaxKeyBytes];
  while (status == kvSuccess) {
    void* record = nullptr;
    if ((status = sort->getSorted(&record)) != kvSuccess || !record) break;
    auto* bytes = static_cast<uint8_t*>(record);
    rid->setRecordNumber(kvGetU32BE(bytes + sortBytes));
    if (text) {
      std::memcpy(key, bytes, keyLength_);
    } else {
      uint8_t number[dbfDoubleKeyBytes];
      std::memcpy(number, bytes, sizeof(number));
      UndoMemComparable(number);
      if ((status = makeKey(number, sizeof(number), key)) != kvSuccess) break;
    }
    status = appendBuiltKey(cursor, key, bytes[sortBytes + 4] != 0);
  }
  delete sort;
  if (status == kvSuccess) status = finishBuild(cursor);
  if (status != kvSuccess) {
    releasePath(cursor);
    markStale();
  }
  return status;
}

KvStatus DbfIndexDesc::verifyTree(uint32_t* keyCount) {
  *keyCount = 0;
  uint64_t bytes = 0;
  if (file_->size(&bytes) != kvSuccess) return kvFailure;
  uint64_t pages = bytes / dbfIndexPageUnit + 1;
  if (pages > dbfIndexMaxEofPage) return file_->invalid();
  DbfVerifyState state;
  state.visitedPages = uint32_t(pages);
  state.visited = static_cast<unsigned char*>(ramAllocZ(uint32_t((pages + 7) / 8)));
  if (!state.visited) return kvFailure;
  KvStatus status = verifyPage(root_, 1, &state);
  ramFree(state.visited);
  if (status == kvSuccess) *keyCount = state.keyCount;
  return status;
}
