// The dBASE B-tree of .NDX files and .MDX tags: search, in-order walk,
// insert with the split rule, delete with page abandonment, bulk build and
// the consistency check; see dbf_btree.h.
//
// Every walk is bounded: a path is at most dbfIndexMaxDepth deep and never
// meets a page twice (pushPage), and a walk from leaf to leaf enters no
// more leaves than the file has pages (enterLeaf), so that a file whose
// child pointers form a cycle or a web ends with "Not a valid index file"
// instead of a walk without end.
#include "drivers/dbase/index/dbase/dbf_btree.h"

#include "base/handles/base_error_list.h"
#include "drivers/dbase/dbase_message_ids.h"
#include "drivers/dbase/table/dbf_shared_desc.h"
#include "util/byte_order.h"

#include <cstring>

namespace {

enum : uint32_t { mdxLinkOffset = 4 };

}  // namespace

DbfBtreeDesc::DbfBtreeDesc(DbfSharedDesc* table) : DbfIndexDesc(table) {}

DbfBtreeDesc::~DbfBtreeDesc() { dropBuild(); }

// Byte layouts of kinds 0, 1 and 2.
const DbfBtreeDesc::Layout DbfBtreeDesc::layouts_[3] = {
    {2, 2, 2, 4},  // dBASE II: u16 child, u16 record, key
    {4, 4, 4, 8},  // dBASE III: u32 child, u32 record, key
    {8, 4, 0, 4},  // MDX: u32 pointer, key
};

const DbfBtreeDesc::Layout& DbfBtreeDesc::layout() const {
  uint32_t kind = file_ ? file_->getKind() : dbfIndexNdx3;
  return layouts_[kind <= dbfIndexMdx ? kind : dbfIndexNdx3];
}

// ---------------------------------------------------------------- page layout

uint16_t DbfBtreeDesc::keyCount(const uint8_t* page) const {
  return layout().pointerBytes == 2 ? page[0] : kvGetU16LE(page);
}

uint16_t DbfBtreeDesc::getPageKeyCount(const uint8_t* page) const { return keyCount(page); }

void DbfBtreeDesc::setKeyCount(uint8_t* page, uint16_t count) const {
  if (layout().pointerBytes == 2) page[0] = uint8_t(count);
  else kvPutU32LE(page, count);
}

uint32_t DbfBtreeDesc::pointerOf(const uint8_t* page, uint32_t i) const {
  const uint8_t* entry = entryAt(page, i);
  return layout().pointerBytes == 2 ? kvGetU16LE(entry) : kvGetU32LE(entry);
}

void DbfBtreeDesc::setPointer(uint8_t* page, uint32_t i, uint32_t value) const {
  uint8_t* entry = entryAt(page, i);
  if (layout().pointerBytes == 2) kvPutU16LE(entry, uint16_t(value));
  else kvPutU32LE(entry, value);
}

uint32_t DbfBtreeDesc::recordOf(const uint8_t* page, uint32_t i) const {
  const Layout& form = layout();
  if (!form.recordAt) return pointerOf(page, i);
  const uint8_t* entry = entryAt(page, i) + form.recordAt;
  return form.pointerBytes == 2 ? kvGetU16LE(entry) : kvGetU32LE(entry);
}

bool DbfBtreeDesc::isLeaf(const uint8_t* page) const {
  if (layout().recordAt) return pointerOf(page, 0) == 0;
  return pointerOf(page, keyCount(page)) == 0;
}

void DbfBtreeDesc::setLeafEntry(uint8_t* page, uint32_t i, const uint8_t* key, uint32_t record) const {
  const Layout& form = layout();
  uint8_t* entry = entryAt(page, i);
  if (form.recordAt) {
    setPointer(page, i, 0);
    if (form.pointerBytes == 2) kvPutU16LE(entry + form.recordAt, uint16_t(record));
    else kvPutU32LE(entry + form.recordAt, record);
  } else {
    setPointer(page, i, record);
  }
  std::memcpy(entry + form.key, key, keyLength_);
}

void DbfBtreeDesc::setInteriorEntry(uint8_t* page, uint32_t i, const uint8_t* key, uint32_t child) const {
  const Layout& form = layout();
  uint8_t* entry = entryAt(page, i);
  setPointer(page, i, child);
  if (form.recordAt) {
    if (form.pointerBytes == 2) kvPutU16LE(entry + form.recordAt, 0);
    else kvPutU32LE(entry + form.recordAt, 0);
  }
  std::memcpy(entry + form.key, key, keyLength_);
}

void DbfBtreeDesc::insertEntry(uint8_t* page, uint16_t n, int32_t p, bool leaf, const uint8_t* key,
                               uint32_t value) const {
  // Entries p .. n (the last the pointer behind the keys) move up whole;
  // the level's buffer has room for the entry that passes the page's end.
  std::memmove(entryAt(page, uint32_t(p) + 1), entryAt(page, uint32_t(p)), size_t(n - p + 1) * entrySize_);
  if (leaf) {
    setLeafEntry(page, uint32_t(p), key, value);
    setPointer(page, n + 1u, 0);
  } else {
    setInteriorEntry(page, uint32_t(p), key, value);
  }
  setKeyCount(page, uint16_t(n + 1));
}

void DbfBtreeDesc::removeEntry(uint8_t* page, uint16_t n, int32_t p) const {
  std::memmove(entryAt(page, uint32_t(p)), entryAt(page, uint32_t(p) + 1), size_t(n - p) * entrySize_);
  setKeyCount(page, uint16_t(n - 1));
}

int32_t DbfBtreeDesc::lowerBound(const uint8_t* page, uint16_t n, const uint8_t* key) const {
  int32_t low = 0, high = n;
  while (low < high) {
    int32_t middle = (low + high) / 2;
    if (treeCompare(keyOf(page, uint32_t(middle)), key) < 0) low = middle + 1;
    else high = middle;
  }
  return low;
}

KvStatus DbfBtreeDesc::checkPage(const TreeInfo* level) {
  if (keyCount(level->page) > maxKeys_) return file_->invalid();
  return kvSuccess;
}

// ---------------------------------------------------------------- walks

KvStatus DbfBtreeDesc::enterLeaf(DbfIndexCursor* cursor) {
  // A tree has fewer leaves than its file has pages; the file's size is
  // asked only once a walk passes the end the header gave.
  if (++cursor->leavesEntered <= file_->getEofPage()) return kvSuccess;
  uint64_t bytes = 0;
  if (file_->size(&bytes) != kvSuccess) return kvFailure;
  if (cursor->leavesEntered > bytes / dbfIndexPageUnit + 1) return file_->invalid();
  return kvSuccess;
}

KvStatus DbfBtreeDesc::searchKey(DbfIndexCursor* cursor, const uint8_t* key, uint32_t* record, bool exact) {
  *record = 0;
  releasePath(cursor);
  cursor->leavesEntered = 0;
  uint32_t pageNo = root_;
  TreeInfo* level = nullptr;
  for (;;) {
    if (pushPage(cursor, pageNo, &level) != kvSuccess) {
      releasePath(cursor);
      return kvFailure;
    }
    uint16_t n = keyCount(level->page);
    level->position = lowerBound(level->page, n, key);
    if (isLeaf(level->page)) break;
    pageNo = pointerOf(level->page, uint32_t(level->position));
    if (pageNo == 0) {
      releasePath(cursor);
      return file_->invalid();
    }
  }
  if (enterLeaf(cursor) != kvSuccess) {
    releasePath(cursor);
    return kvFailure;
  }
  uint16_t n = keyCount(level->page);
  if (level->position < n && treeCompare(keyOf(level->page, uint32_t(level->position)), key) == 0)
    *record = recordOf(level->page, uint32_t(level->position));
  if (exact || cursor->hasNoRecord() || isUniqueProperty()) return kvSuccess;
  if (skipEarlierDuplicates(cursor, key) != kvSuccess) {
    releasePath(cursor);
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus DbfBtreeDesc::skipEarlierDuplicates(DbfIndexCursor* cursor, const uint8_t* key) {
  uint32_t mine = cursor->record();
  for (;;) {
    TreeInfo* leaf = cursor->top;
    uint16_t n = keyCount(leaf->page);
    if (leaf->position < n) {
      uint32_t p = uint32_t(leaf->position);
      if (treeCompare(keyOf(leaf->page, p), key) != 0) return kvSuccess;
      uint32_t record = recordOf(leaf->page, p);
      if (descending_ ? record <= mine : record >= mine) return kvSuccess;
      ++leaf->position;
      continue;
    }
    bool moved = false;
    if (stepToNextLeaf(cursor, &moved) != kvSuccess) return kvFailure;
    if (!moved) return kvSuccess;
  }
}

KvStatus DbfBtreeDesc::stepToNextLeaf(DbfIndexCursor* cursor, bool* moved) {
  *moved = false;
  TreeInfo* level = cursor->top->parent;
  while (level && level->position >= keyCount(level->page)) level = level->parent;
  if (!level) return kvSuccess;  // the last leaf: the path stays where it is
  while (cursor->top != level) popLevel(cursor);
  ++level->position;
  uint32_t pageNo = pointerOf(level->page, uint32_t(level->position));
  for (;;) {
    if (pageNo == 0) return file_->invalid();
    if (pushPage(cursor, pageNo, &level) != kvSuccess) return kvFailure;
    if (isLeaf(level->page)) break;
    pageNo = pointerOf(level->page, 0);
  }
  *moved = true;
  return enterLeaf(cursor);
}

KvStatus DbfBtreeDesc::nextKey(DbfIndexCursor* cursor, uint32_t* record) {
  *record = 0;
  TreeInfo* level = nullptr;
  if (!cursor->top) {
    cursor->leavesEntered = 0;
    if (pushPage(cursor, root_, &level) != kvSuccess) return kvFailure;
    level->position = -1;
    if (isLeaf(level->page) && enterLeaf(cursor) != kvSuccess) {
      releasePath(cursor);
      return kvFailure;
    }
  }
  // Each turn descends a level or climbs one; descents stop at the depth
  // bound and leaf entries at enterLeaf's, so the loop ends.
  for (;;) {
    level = cursor->top;
    uint16_t n = keyCount(level->page);
    ++level->position;
    if (isLeaf(level->page)) {
      if (level->position < n) {
        *record = recordOf(level->page, uint32_t(level->position));
        return kvSuccess;
      }
    } else if (level->position <= n) {
      uint32_t child = pointerOf(level->page, uint32_t(level->position));
      KvStatus status = child ? pushPage(cursor, child, &level) : file_->invalid();
      if (status == kvSuccess) {
        level->position = -1;
        if (isLeaf(level->page)) status = enterLeaf(cursor);
      }
      if (status != kvSuccess) {
        releasePath(cursor);
        return kvFailure;
      }
      continue;
    }
    popLevel(cursor);
    if (!cursor->top) return kvSuccess;
  }
}

KvStatus DbfBtreeDesc::compareCurrentKey(DbfIndexCursor* cursor, const uint8_t* key, int* result) {
  *result = 1;
  TreeInfo* level = cursor->top;
  if (!level || level->position < 0 || level->position >= keyCount(level->page)) return kvSuccess;
  *result = treeCompare(keyOf(level->page, uint32_t(level->position)), key);
  return kvSuccess;
}

// ---------------------------------------------------------------- insert

KvStatus DbfBtreeDesc::insertKey(DbfIndexCursor* cursor, const uint8_t* key) {
  uint32_t record = cursor->record();
  if (record == 0 || (layout().pointerBytes == 2 && record > 0xFFFF)) return file_->invalid();
  uint32_t found = 0;
  if (searchKey(cursor, key, &found, false) != kvSuccess) return kvFailure;
  if (isUniqueProperty() && found) {
    releasePath(cursor);
    return kvSuccess;
  }
  eofAtStart_ = file_->getEofPage();
  rootAtStart_ = root_;
  KvStatus status = insertIntoPath(cursor, key, record);
  endAllocation();
  if (status == kvSuccess) status = writeHeader();
  releasePath(cursor);
  if (status != kvSuccess) markStale();
  return status;
}

KvStatus DbfBtreeDesc::followNewHighest(TreeInfo* from, const uint8_t* key) {
  for (TreeInfo* level = from; level; level = level->parent) {
    if (level->position < keyCount(level->page)) {
      std::memcpy(keyOf(level->page, uint32_t(level->position)), key, keyLength_);
      return writeLevel(level);
    }
  }
  return kvSuccess;
}

KvStatus DbfBtreeDesc::insertIntoPath(DbfIndexCursor* cursor, const uint8_t* key, uint32_t record) {
  uint8_t entryKey[dbfIndexMaxKeyBytes];
  std::memcpy(entryKey, key, keyLength_);
  uint32_t value = record;  // the record on the leaf level, a child page above
  bool leaf = true;
  // One turn a level, from the leaf up; a split sends one entry up, a root
  // split adds one level, so the turns end with the path.
  for (TreeInfo* level = cursor->top; level; leaf = false) {
    uint16_t n = keyCount(level->page);
    if (level->position < 0 || level->position > n) return file_->invalid();
    if (n < maxKeys_) {
      insertEntry(level->page, n, level->position, leaf, entryKey, value);
      if (writeLevel(level) != kvSuccess) return kvFailure;
      if (leaf && level->position == n) return followNewHighest(level->parent, entryKey);
      return kvSuccess;
    }
    if (splitPage(cursor, level, leaf, entryKey, &value) != kvSuccess) return kvFailure;
    if (!level->parent) {
      // The root split: a new root above it, holding only a pointer to the
      // old root, takes the separator.
      uint32_t rootPage = 0;
      if (allocatePage(cursor, &rootPage) != kvSuccess) return kvFailure;
      TreeInfo* root = takeLevel();
      if (!root) return kvFailure;
      root->pageNo = rootPage;
      setKeyCount(root->page, 0);
      setPointer(root->page, 0, root_);
      root->position = 0;
      level->parent = root;
      ++cursor->depth;
      root_ = rootPage;
    }
    level = level->parent;
  }
  return kvSuccess;
}

KvStatus DbfBtreeDesc::splitPage(DbfIndexCursor* cursor, TreeInfo* level, bool leaf, uint8_t* key, uint32_t* value) {
  uint8_t* page = level->page;
  uint16_t n = keyCount(page);
  int32_t p = level->position;
  uint16_t h = uint16_t((n + (leaf ? 0 : 1) + (n < 2 * p ? 1 : 0)) / 2);
  uint32_t newPage = 0;
  if (allocatePage(cursor, &newPage) != kvSuccess) return kvFailure;
  TreeInfo* lower = takeLevel();
  if (!lower) return kvFailure;
  lower->pageNo = newPage;

  // The lower part: the page's header bytes and entries 0 .. h - 1; on an
  // interior level entry h - 1 becomes its pointer behind the keys.
  std::memcpy(lower->page, page, layout().header + size_t(h) * entrySize_);
  uint16_t lowerKeys = leaf ? h : uint16_t(h - 1);
  setKeyCount(lower->page, lowerKeys);
  if (leaf) setPointer(lower->page, h, 0);
  // The upper part: entries h .. n (the pointer behind the keys with them)
  // move to the front of the old page.
  std::memmove(entryAt(page, 0), entryAt(page, h), size_t(n - h + 1) * entrySize_);
  uint16_t upperKeys = uint16_t(n - h);
  setKeyCount(page, upperKeys);
  if (leaf) setPointer(page, upperKeys, 0);

  // Position p of the full page is position p - h of the upper part on
  // every level: the upper part starts with entry h.
  bool toLower = p < h || (!leaf && p == h);
  bool atUpperEnd = false;
  if (!toLower) {
    int32_t at = p - h;
    atUpperEnd = leaf && at == upperKeys;
    insertEntry(page, upperKeys, at, leaf, key, *value);
  } else if (!leaf && p == h) {
    // Between the lower part's last child and the upper part's first: the
    // entry becomes the lower part's pointer behind its keys.
    setInteriorEntry(lower->page, h, key, *value);
    setKeyCount(lower->page, h);
  } else {
    insertEntry(lower->page, lowerKeys, p, leaf, key, *value);
  }

  KvStatus status = writeLevel(lower);
  if (status == kvSuccess) status = writeLevel(level);
  if (status == kvSuccess && atUpperEnd) status = followNewHighest(level->parent, key);
  // The separator: the lower part's highest key (on an interior level the
  // key of its pointer behind the keys).
  if (status == kvSuccess) {
    uint16_t keys = keyCount(lower->page);
    std::memcpy(key, keyOf(lower->page, leaf ? keys - 1u : keys), keyLength_);
    *value = newPage;
  }
  freeLevel(lower);
  return status;
}

KvStatus DbfBtreeDesc::allocatePage(DbfIndexCursor*, uint32_t* page) {
  uint32_t step = getPageSize() / dbfIndexPageUnit;
  uint32_t eof = file_->getEofPage();
  if (eof == 0 || eof >= dbfIndexMaxEofPage - step) return file_->invalid();
  *page = eof;
  file_->setEofPage(eof + step);
  if (table_) table_->markIndexWritten();
  return kvSuccess;
}

void DbfBtreeDesc::endAllocation() {}

KvStatus DbfBtreeDesc::pagesAbandoned(uint32_t) { return kvSuccess; }

// ---------------------------------------------------------------- delete

KvStatus DbfBtreeDesc::deleteKey(DbfIndexCursor* cursor, const uint8_t* key) {
  uint32_t record = cursor->record();
  uint32_t found = 0;
  if (searchKey(cursor, key, &found, false) != kvSuccess) return kvFailure;
  TreeInfo* leaf = cursor->top;
  uint16_t n = keyCount(leaf->page);
  int32_t p = leaf->position;
  bool match = p < n && treeCompare(keyOf(leaf->page, uint32_t(p)), key) == 0 && recordOf(leaf->page, uint32_t(p)) == record;
  if (!match) {
    releasePath(cursor);
    if (isUniqueProperty()) return kvSuccess;
    addOdbcError(stateGeneral, msgDbfKeyNotFound);
    return kvFailure;
  }
  uint32_t abandoned = 0;
  eofAtStart_ = file_->getEofPage();
  rootAtStart_ = root_;
  KvStatus status = removeFromPath(cursor, &abandoned);
  if (status == kvSuccess && abandoned) status = pagesAbandoned(abandoned);
  // The header too: a format that counts its changes there (.MDX) tells
  // other processes that the pages they keep are stale.
  if (status == kvSuccess) status = writeHeader();
  releasePath(cursor);
  if (status != kvSuccess) markStale();
  return status;
}

KvStatus DbfBtreeDesc::removeFromPath(DbfIndexCursor* cursor, uint32_t* abandoned) {
  TreeInfo* level = cursor->top;
  uint8_t* page = level->page;
  uint16_t n = keyCount(page);
  int32_t p = level->position;
  if (n > 1 || !level->parent) {
    removeEntry(page, n, p);
    setPointer(page, n - 1u, 0);
    if (writeLevel(level) != kvSuccess) return kvFailure;
    if (p == n - 1 && n > 1) return followNewHighest(level->parent, keyOf(page, n - 2u));
    return kvSuccess;
  }
  // The leaf goes with its last entry, and so does an interior page of
  // another program's that has no key and loses its only child: the parent
  // loses its entry instead.
  do {
    ++*abandoned;
    level = level->parent;
  } while (level->parent && keyCount(level->page) == 0);
  return removeChild(level, abandoned);
}

KvStatus DbfBtreeDesc::readSibling(uint32_t pageNo, TreeInfo** out) {
  *out = nullptr;
  if (pageNo == 0) return file_->invalid();
  TreeInfo* level = takeLevel();
  if (!level) return kvFailure;
  if (file_->readPage(pageNo, level->page, getPageSize()) != kvSuccess) {
    freeLevel(level);
    return kvFailure;
  }
  level->pageNo = pageNo;
  // A sibling of an interior page is an interior page: leaves all stand at
  // one depth.
  if (checkPage(level) != kvSuccess || isLeaf(level->page)) {
    level->pageNo = 0;
    freeLevel(level);
    return file_->invalid();
  }
  *out = level;
  return kvSuccess;
}

KvStatus DbfBtreeDesc::removeChild(TreeInfo* level, uint32_t* abandoned) {
  // An interior page keeps a key at least (two children): one left with a
  // single child takes it into a sibling that has room (merge: the page is
  // abandoned and its parent loses an entry in turn), or takes a child
  // from a full sibling (borrow: the chain ends). The root alone may come
  // down to one child; then that child becomes the root. Every sibling is
  // read before anything is written.
  TreeInfo* siblings[dbfIndexMaxDepth] = {};
  uint32_t steps = 0;
  KvStatus status = kvSuccess;
  for (TreeInfo* at = level; at->parent && keyCount(at->page) == 1; at = at->parent) {
    TreeInfo* parent = at->parent;
    int32_t gp = parent->position;
    if (keyCount(parent->page) == 0) {
      status = file_->invalid();
      break;
    }
    if ((status = readSibling(pointerOf(parent->page, uint32_t(gp > 0 ? gp - 1 : gp + 1)), &siblings[steps])) !=
        kvSuccess)
      break;
    if (keyCount(siblings[steps++]->page) >= maxKeys_) break;
  }

  TreeInfo* at = level;
  for (uint32_t i = 0; status == kvSuccess; ++i) {
    uint8_t* page = at->page;
    uint16_t n = keyCount(page);
    int32_t p = at->position;
    bool lastChildGone = p == n;
    if (i == steps) {
      if (n == 0) {
        // The root of another program, with no key, lost its only child.
        setPointer(page, 0, 0);
        status = writeLevel(at);
      } else if (n == 1 && !at->parent) {
        // The root keeps one child: that child is the root now.
        root_ = pointerOf(page, lastChildGone ? 0u : 1u);
        ++*abandoned;
      } else {
        if (lastChildGone) setKeyCount(page, uint16_t(n - 1));
        else removeEntry(page, n, p);
        status = writeLevel(at);
        if (status == kvSuccess && lastChildGone) status = followNewHighest(at->parent, keyOf(page, n - 1u));
      }
      break;
    }
    // The page has one key: the child that stays and the highest key under
    // it (when the last child went, the key of the first; else the page's
    // own, which its parent holds unless the page is the parent's last
    // child, where no key of it is needed).
    TreeInfo* sibling = siblings[i];
    TreeInfo* parent = at->parent;
    int32_t gp = parent->position;
    uint16_t parentKeys = keyCount(parent->page);
    uint32_t child = pointerOf(page, lastChildGone ? 0u : 1u);
    uint8_t highest[dbfIndexMaxKeyBytes];
    bool highestKnown = true;
    if (lastChildGone) std::memcpy(highest, keyOf(page, 0), keyLength_);
    else if (gp < parentKeys) std::memcpy(highest, keyOf(parent->page, uint32_t(gp)), keyLength_);
    else highestKnown = false;
    uint16_t siblingKeys = keyCount(sibling->page);
    bool merge = siblingKeys < maxKeys_;

    if (gp > 0 && merge) {
      // Into the left sibling: its last child gets its key (the parent's
      // separator), and the child that stays becomes its last child.
      setInteriorEntry(sibling->page, siblingKeys, keyOf(parent->page, uint32_t(gp - 1)),
                       pointerOf(sibling->page, siblingKeys));
      setInteriorEntry(sibling->page, siblingKeys + 1u, highestKnown ? highest : keyOf(sibling->page, siblingKeys),
                       child);
      setKeyCount(sibling->page, uint16_t(siblingKeys + 1));
      if ((status = writeLevel(sibling)) != kvSuccess) break;
      ++*abandoned;
      // The parent's entry for this page now leads to the sibling, whose
      // own entry goes; the highest key under it is this page's.
      setPointer(parent->page, uint32_t(gp), sibling->pageNo);
      if (lastChildGone) {
        if (gp < parentKeys) std::memcpy(keyOf(parent->page, uint32_t(gp)), highest, keyLength_);
        else if ((status = followNewHighest(parent->parent, highest)) != kvSuccess) break;
      }
      parent->position = gp - 1;
    } else if (gp > 0) {
      // Borrow the left sibling's last child.
      uint8_t separator[dbfIndexMaxKeyBytes], siblingHighest[dbfIndexMaxKeyBytes];
      std::memcpy(separator, keyOf(parent->page, uint32_t(gp - 1)), keyLength_);
      std::memcpy(siblingHighest, keyOf(sibling->page, siblingKeys - 1u), keyLength_);
      uint32_t moved = pointerOf(sibling->page, siblingKeys);
      setKeyCount(sibling->page, uint16_t(siblingKeys - 1));
      setInteriorEntry(page, 0, separator, moved);
      setInteriorEntry(page, 1, highestKnown ? highest : keyOf(page, 1), child);
      setKeyCount(page, 1);
      std::memcpy(keyOf(parent->page, uint32_t(gp - 1)), siblingHighest, keyLength_);
      if ((status = writeLevel(sibling)) == kvSuccess && (status = writeLevel(at)) == kvSuccess)
        status = writeLevel(parent);
      if (status == kvSuccess && lastChildGone) status = followNewHighest(parent, highest);
      break;
    } else if (merge) {
      // Into the right sibling, as its first child.
      insertEntry(sibling->page, siblingKeys, 0, false, highest, child);
      if ((status = writeLevel(sibling)) != kvSuccess) break;
      ++*abandoned;
      parent->position = 0;
    } else {
      // Borrow the right sibling's first child.
      uint8_t first[dbfIndexMaxKeyBytes];
      std::memcpy(first, keyOf(sibling->page, 0), keyLength_);
      uint32_t moved = pointerOf(sibling->page, 0);
      removeEntry(sibling->page, siblingKeys, 0);
      setInteriorEntry(page, 0, highest, child);
      setInteriorEntry(page, 1, first, moved);
      setKeyCount(page, 1);
      std::memcpy(keyOf(parent->page, 0), first, keyLength_);
      if ((status = writeLevel(sibling)) == kvSuccess && (status = writeLevel(at)) == kvSuccess)
        status = writeLevel(parent);
      break;
    }
    at = parent;
  }
  for (uint32_t i = 0; i < steps; ++i) freeLevel(siblings[i]);
  return status;
}

// ---------------------------------------------------------------- bulk build

void DbfBtreeDesc::dropBuild() {
  for (uint32_t i = 0; i < buildDepth_; ++i) {
    if (build_[i]) freeLevel(build_[i]);
    build_[i] = nullptr;
  }
  buildDepth_ = 0;
}

KvStatus DbfBtreeDesc::startNewTree(DbfIndexCursor* cursor) {
  dropBuild();
  releasePath(cursor);
  build_[0] = takeLevel();
  if (!build_[0]) return kvFailure;
  buildEntries_[0] = 0;
  buildDepth_ = 1;
  previousLeaf_ = 0;
  haveLastKey_ = false;
  stateFlags_ &= ~uint32_t(stateLiveSeen);
  eofAtStart_ = file_->getEofPage();
  rootAtStart_ = root_;
  return kvSuccess;
}

KvStatus DbfBtreeDesc::closeBuildPage(DbfIndexCursor* cursor, uint32_t levelIndex, bool top, uint32_t* pageNo) {
  TreeInfo* level = build_[levelIndex];
  uint16_t entries = buildEntries_[levelIndex];
  bool leaf = levelIndex == 0;
  if (allocatePage(cursor, &level->pageNo) != kvSuccess) return kvFailure;
  *pageNo = level->pageNo;
  uint8_t highest[dbfIndexMaxKeyBytes];
  if (leaf) {
    setKeyCount(level->page, entries);
    setPointer(level->page, entries, 0);
    if (file_->getKind() == dbfIndexMdx) kvPutU32LE(level->page + mdxLinkOffset, previousLeaf_);
    previousLeaf_ = level->pageNo;
    if (entries) std::memcpy(highest, keyOf(level->page, entries - 1u), keyLength_);
  } else {
    // The last child becomes the pointer behind the keys; its key, the
    // highest under the page, goes up.
    setKeyCount(level->page, uint16_t(entries - 1));
    std::memcpy(highest, keyOf(level->page, entries - 1u), keyLength_);
  }
  if (writeLevel(level) != kvSuccess) return kvFailure;
  std::memset(level->page, 0, getBufferBytes());
  level->pageNo = 0;
  buildEntries_[levelIndex] = 0;
  if (top) return kvSuccess;
  return pushBuildEntry(cursor, levelIndex + 1, highest, *pageNo);
}

KvStatus DbfBtreeDesc::pushBuildEntry(DbfIndexCursor* cursor, uint32_t levelIndex, const uint8_t* key, uint32_t child) {
  if (levelIndex == buildDepth_) {
    if (buildDepth_ >= dbfIndexMaxDepth) return file_->invalid();
    build_[levelIndex] = takeLevel();
    if (!build_[levelIndex]) return kvFailure;
    buildEntries_[levelIndex] = 0;
    ++buildDepth_;
  }
  // An interior page holds maxKeys keys and the child behind them. One
  // more child closes it without its last child, which goes on into the
  // next page with the new one: so no page but the top ends with a single
  // child, which would be a page without keys.
  TreeInfo* level = build_[levelIndex];
  if (buildEntries_[levelIndex] == maxKeys_ + 1u) {
    uint8_t carriedKey[dbfIndexMaxKeyBytes];
    std::memcpy(carriedKey, keyOf(level->page, maxKeys_), keyLength_);
    uint32_t carriedChild = pointerOf(level->page, maxKeys_);
    buildEntries_[levelIndex] = maxKeys_;
    uint32_t written = 0;
    if (closeBuildPage(cursor, levelIndex, false, &written) != kvSuccess) return kvFailure;
    setInteriorEntry(level->page, buildEntries_[levelIndex]++, carriedKey, carriedChild);
  }
  setInteriorEntry(level->page, buildEntries_[levelIndex]++, key, child);
  return kvSuccess;
}

KvStatus DbfBtreeDesc::appendBuiltKey(DbfIndexCursor* cursor, const uint8_t* key, bool live) {
  if (buildDepth_ == 0) return file_->invalid();
  if (haveLastKey_) {
    bool skip = false;
    if (checkSortedDuplicate(lastKey_, key, lastLive_, live, &skip) != kvSuccess) return kvFailure;
    if (skip) return kvSuccess;
  }
  if (buildEntries_[0] == maxKeys_) {
    uint32_t written = 0;
    if (closeBuildPage(cursor, 0, false, &written) != kvSuccess) return kvFailure;
  }
  setLeafEntry(build_[0]->page, buildEntries_[0]++, key, cursor->record());
  std::memcpy(lastKey_, key, keyLength_);
  haveLastKey_ = true;
  lastLive_ = live;
  return kvSuccess;
}

KvStatus DbfBtreeDesc::finishBuild(DbfIndexCursor* cursor) {
  if (buildDepth_ == 0) return file_->invalid();
  KvStatus status = kvSuccess;
  // Every level's page is written from the leaf up, each sending its
  // highest key to the level above; the top page is the root, except a top
  // interior page with one child, whose child is the root.
  for (uint32_t i = 0; status == kvSuccess && i < buildDepth_; ++i) {
    bool top = i + 1 == buildDepth_;
    if (top && i > 0 && buildEntries_[i] == 1) {
      root_ = pointerOf(build_[i]->page, 0);
      break;
    }
    uint32_t written = 0;
    status = closeBuildPage(cursor, i, top, &written);
    if (top) root_ = written;
  }
  endAllocation();
  dropBuild();
  if (status == kvSuccess) status = writeHeader();
  return status;
}

// ---------------------------------------------------------------- check

KvStatus DbfBtreeDesc::verifyPage(uint32_t pageNo, uint32_t depth, DbfVerifyState* state) {
  if (depth > dbfIndexMaxDepth || pageNo == 0 || pageNo >= state->visitedPages) return file_->invalid();
  unsigned char& seen = state->visited[pageNo / 8];
  if (seen & (1u << (pageNo % 8))) return file_->invalid();
  seen = uint8_t(seen | (1u << (pageNo % 8)));
  auto* page = static_cast<uint8_t*>(ramAllocZ(getBufferBytes()));
  if (!page) return kvFailure;
  uint32_t got = 0;
  KvStatus status = file_->read(uint64_t(pageNo) * dbfIndexPageUnit, page, getPageSize(), &got);
  if (status == kvSuccess && got != getPageSize()) status = file_->invalid();
  uint16_t n = status == kvSuccess ? keyCount(page) : 0;
  if (status == kvSuccess && n > maxKeys_) status = file_->invalid();
  bool leaf = status == kvSuccess && isLeaf(page);
  for (uint32_t i = 1; status == kvSuccess && i < n; ++i) {
    int order = treeCompare(keyOf(page, i - 1), keyOf(page, i));
    if (order > 0) status = file_->invalid();
    else if (leaf && order == 0 && (descending_ ? recordOf(page, i - 1) <= recordOf(page, i)
                                                : recordOf(page, i - 1) >= recordOf(page, i)))
      status = file_->invalid();
  }
  if (status == kvSuccess && leaf) {
    state->keyCount += n;
    if (state->leafDepth == 0xFFFF) state->leafDepth = depth;
    else if (state->leafDepth != depth) status = file_->invalid();
    if (status == kvSuccess && n) {
      if (state->haveLastKey && treeCompare(state->lastKey, keyOf(page, 0)) > 0) status = file_->invalid();
      std::memcpy(state->lastKey, keyOf(page, n - 1u), keyLength_);
      state->haveLastKey = true;
    }
  }
  for (uint32_t i = 0; status == kvSuccess && !leaf && i <= n; ++i) {
    uint32_t child = pointerOf(page, i);
    status = child ? verifyPage(child, depth + 1, state) : file_->invalid();
  }
  ramFree(page);
  return status;
}
