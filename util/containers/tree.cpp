// KvTree, KvTreeIterator and KvPTree: a B-tree whose nodes live in a
// KvTmpFile. See tree.h for the node layout and the rules of deletion marks
// and position trees.
#include "util/containers/tree.h"

#include "util/resource.h"
#include "util/util_message_ids.h"

#include <cstring>

namespace {

// No tree of a 4 GiB store is deeper than this (a node holds at least two
// keys); a longer path means the store does not hold a tree.
enum : uint16_t { maxDepth = 64 };

inline uint16_t getU16(const unsigned char* p) {
  uint16_t v;
  memcpy(&v, p, sizeof v);
  return v;
}
inline void putU16(unsigned char* p, uint16_t v) { memcpy(p, &v, sizeof v); }
inline uint32_t getU32(const unsigned char* p) {
  uint32_t v;
  memcpy(&v, p, sizeof v);
  return v;
}
inline void putU32(unsigned char* p, uint32_t v) { memcpy(p, &v, sizeof v); }

// Node header fields.
inline uint16_t linkCount(const unsigned char* node) { return getU16(node); }
inline uint32_t keyCountOf(const unsigned char* node) {
  uint16_t links = getU16(node);
  return links ? links - 1u : 0u;
}
void putHeader(unsigned char* node, uint16_t links, uint32_t self) {
  putU16(node, links);
  putU16(node + 2, 0);
  putU32(node + 4, self);
}

KvStatus tooDeep() {
  addResourceError(kvMsgFileInputOutput);
  return kvFailure;
}

}  // namespace

int16_t treeU32Compare(const void* a, const void* b, uint32_t) {
  uint32_t x = getU32(static_cast<const unsigned char*>(a));
  uint32_t y = getU32(static_cast<const unsigned char*>(b));
  if (x < y) return -1;
  return x > y ? 1 : 0;
}

// ---------------------------------------------------------------- iterator

KvTreeIterator::KvTreeIterator() = default;
KvTreeIterator::~KvTreeIterator() = default;

KvStatus KvTreeIterator::initialize(KvTree* tree) {
  tree_ = tree;
  clear();
  if (nodes_.getCapacity() < 32 && nodes_.setInitialSize(32) != kvSuccess) return kvFailure;
  if (indexes_.getCapacity() < 32 && indexes_.setInitialSize(32) != kvSuccess) return kvFailure;
  return kvSuccess;
}

void KvTreeIterator::clear() {
  nodes_.setCount(0);
  indexes_.setCount(0);
  positionSum_ = 0;
  flags_ = 0;
}

KvStatus KvTreeIterator::push(uint32_t node, uint32_t index) {
  if (nodes_.getCount() >= maxDepth) return tooDeep();
  if (nodes_.add(node) != kvSuccess) return kvFailure;
  if (indexes_.add(index) != kvSuccess) {
    nodes_.setCount(nodes_.getCount() - 1);
    return kvFailure;
  }
  return kvSuccess;
}

// ---------------------------------------------------------------- tree

KvTree::KvTree(uint16_t keyLength, uint16_t dataLength, KvTreeCompare compare,
               uint32_t deletionMarks)
    : keyLength_(keyLength),
      dataLength_(dataLength),
      compare_(compare),
      flags_(deletionMarks ? uint32_t(flagDeletionMarks) : 0u),
      markBytes_(deletionMarks ? 1 : 0),
      store_(treeStoreCache) {
  uint32_t entry = uint32_t(keyLength) + dataLength + 4 + markBytes_;
  entry = (entry + 1) & ~1u;
  entry = (entry + 3) & ~3u;
  // Two keys a node at least, or a split would leave a node without one.
  if (entry <= treeNodeRoom / 2) {
    uint32_t links = treeNodeRoom / entry + 1;
    maxLinks_ = static_cast<uint16_t>(links < treeMaxLinks ? links : treeMaxLinks);
    entrySize_ = static_cast<uint16_t>(entry);
    nodeSize_ = static_cast<uint16_t>((maxLinks_ - 1) * entry + 12);
  }
  // Only reserves the iterator's stack, which grows on demand anyway.
  kvIgnoreStatus(iterator_.initialize(this));
  store_.getContiguousSpace(1);
}

KvTree::~KvTree() { ramFree(work_); }

KvStatus KvTree::checkUsable() {
  if (maxLinks_ >= 3) return kvSuccess;
  addResourceError(kvMsgInvalidParameter);
  return kvFailure;
}

KvStatus KvTree::makeWorkBuffers() {
  if (work_) return kvSuccess;
  uint32_t bytes = 2u * entrySize_ + treeHeaderBytes + uint32_t(maxLinks_) * entrySize_ + 4;
  work_ = static_cast<unsigned char*>(ramAllocZ(bytes));
  return work_ ? kvSuccess : kvFailure;
}

int16_t KvTree::compareKeys(const void* a, const void* b) const {
  if (compare_) return compare_(a, b, keyLength_);
  int c = memcmp(a, b, keyLength_);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

void KvTree::noteDepth(uint16_t depth) {
  lastSearchDepth_ = depth;
  if (depth > deepestSearch_) deepestSearch_ = depth;
}

KvStatus KvTree::treeSearch(const void* key, uint32_t* found) {
  KvTreeIterator* it = &iterator_;
  it->clear();
  *found = 0;
  base_ = 0;
  const uint32_t markAt = 4u + keyLength_ + dataLength_;
  uint16_t depth = 0;
  for (uint32_t node = root_; node;) {
    unsigned char* p;
    if (store_.tmpPointer(node, reinterpret_cast<void**>(&p), nullptr, 0) != kvSuccess)
      return kvFailure;
    uint32_t keys = keyCountOf(p);
    // Lower bound: the first key not less than the sought one.
    uint32_t lo = 0, hi = keys;
    int equal = 0;
    while (lo < hi) {
      uint32_t mid = (lo + hi) / 2;
      int16_t c = compareKeys(key, entryAt(p, mid) + 4);
      if (c > 0) {
        lo = mid + 1;
      } else {
        hi = mid;
        equal = c == 0;
      }
    }
    uint32_t child = getU32(entryAt(p, lo));
    // A marked equal key does not match: live equal keys lie to its left.
    int match = lo < keys && equal && !(markBytes_ && entryAt(p, lo)[markAt]);
    ++depth;
    if (it->push(node, lo) != kvSuccess) return kvFailure;
    if (match) {
      it->flags_ = KvTreeIterator::flagOnKey;
      *found = 1;
      break;
    }
    node = child;
  }
  noteDepth(depth);
  return kvSuccess;
}

KvStatus KvTree::makeRoot(const unsigned char* image, uint32_t link0, uint32_t link1) {
  uint32_t node = store_.getContiguousSpace(nodeSize_);
  if (!node) return kvFailure;
  unsigned char* buffer = work_ + 2u * entrySize_;
  putHeader(buffer, 2, node);
  memcpy(entryAt(buffer, 0), image, entrySize_);
  putU32(entryAt(buffer, 0), link0);
  putU32(entryAt(buffer, 1), link1);
  if (store_.tmpWrite(node, buffer, treeHeaderBytes + entrySize_ + 4u) != kvSuccess)
    return kvFailure;
  root_ = node;
  ++nodesMade_;
  return kvSuccess;
}

KvStatus KvTree::insertAtSearch(const void* key, const void* data) {
  unsigned char* image = work_;
  if (!root_) base_ = 0;
  memset(image, 0, entrySize_);
  if (isPositionTree()) putU32(image + 4, getU32(static_cast<const unsigned char*>(key)) - base_);
  else memcpy(image + 4, key, keyLength_);
  if (data) memcpy(image + 4 + keyLength_, data, dataLength_);

  if (!root_) {
    if (makeRoot(image, 0, 0) != kvSuccess) return kvFailure;
    ++keyCount_;
    return kvSuccess;
  }
  KvTreeIterator* it = &iterator_;
  uint16_t level = it->getDepth() - 1;
  uint32_t index = it->topIndex();
  if (markBytes_) {
    unsigned char* p;
    if (store_.tmpPointer(it->topNode(), reinterpret_cast<void**>(&p), nullptr, 1) != kvSuccess)
      return kvFailure;
    unsigned char* entry = entryAt(p, index);
    if (index < keyCountOf(p) && entry[4 + keyLength_ + dataLength_]) {
      memcpy(entry + 4, image + 4, entrySize_ - 4u);
      ++keyCount_;
      return kvSuccess;
    }
  }
  if (insertEntry(level, static_cast<uint16_t>(index), image, 0) != kvSuccess) return kvFailure;
  ++keyCount_;
  return kvSuccess;
}

KvStatus KvTree::insertEntry(uint16_t level, uint16_t index, const unsigned char* image,
                             uint32_t rightLink) {
  KvTreeIterator* it = &iterator_;
  unsigned char* images[2] = {work_, work_ + entrySize_};
  for (;;) {
    uint32_t node = it->nodes_.getAt(level);
    unsigned char* p;
    if (store_.tmpPointer(node, reinterpret_cast<void**>(&p), nullptr, 1) != kvSuccess)
      return kvFailure;
    uint16_t links = linkCount(p);
    if (links < maxLinks_) {
      // Entries index .. links-2 and the rightmost link move one place
      // right; a whole entry never lands in the link-only last slot.
      memmove(entryAt(p, index + 1u), entryAt(p, index),
              size_t(links - 1u - index) * entrySize_ + 4);
      memcpy(entryAt(p, index) + 4, image + 4, entrySize_ - 4u);
      putU32(entryAt(p, index + 1u), rightLink);
      putU16(p, links + 1);
      return kvSuccess;
    }
    unsigned char* up = image == images[0] ? images[1] : images[0];
    uint32_t newNode = 0;
    if (split(level, index, image, rightLink, up, &newNode) != kvSuccess) return kvFailure;
    if (level == 0) return makeRoot(up, node, newNode);
    --level;
    index = static_cast<uint16_t>(it->indexes_.getAt(level));
    image = up;
    rightLink = newNode;
  }
}

// The node's M - 1 keys and the new one make M keys (M + 1 links) in the
// work node; key M / 2 moves up, the keys before it stay in the node and
// the keys after it go to the new right node. This is the same division
// whether the new key lands before, at or after the middle.
KvStatus KvTree::split(uint16_t level, uint16_t index, const unsigned char* image,
                       uint32_t rightLink, unsigned char* up, uint32_t* newNode) {
  KvTreeIterator* it = &iterator_;
  const uint32_t links = maxLinks_;
  const uint32_t node = it->nodes_.getAt(level);
  unsigned char* work = work_ + 2u * entrySize_;
  {
    unsigned char* p;
    if (store_.tmpPointer(node, reinterpret_cast<void**>(&p), nullptr, 0) != kvSuccess)
      return kvFailure;
    memcpy(entryAt(work, 0), entryAt(p, 0), size_t(index) * entrySize_);
    memcpy(entryAt(work, index), image, entrySize_);
    putU32(entryAt(work, index), getU32(entryAt(p, index)));
    memcpy(entryAt(work, index + 1u), entryAt(p, index), size_t(links - 1 - index) * entrySize_ + 4);
    putU32(entryAt(work, index + 1u), rightLink);
  }
  const uint32_t half = links / 2;
  const uint32_t rightKeys = links - 1 - half;
  memcpy(up, entryAt(work, half), entrySize_);
  uint32_t upKey = isPositionTree() ? getU32(up + 4) : 0;

  uint32_t right = store_.getContiguousSpace(nodeSize_);
  if (!right) return kvFailure;
  if (isPositionTree()) {
    // The right node's base is the key that moves up.
    for (uint32_t i = half + 1; i < links; ++i) {
      unsigned char* key = entryAt(work, i) + 4;
      putU32(key, getU32(key) - upKey);
    }
  }
  unsigned char header[treeHeaderBytes];
  putHeader(header, static_cast<uint16_t>(rightKeys + 1), right);
  if (store_.tmpWrite(right, header, treeHeaderBytes) != kvSuccess ||
      store_.tmpWrite(right + treeHeaderBytes, entryAt(work, half + 1),
                      rightKeys * entrySize_ + 4) != kvSuccess)
    return kvFailure;
  putHeader(work, static_cast<uint16_t>(half + 1), node);
  if (store_.tmpWrite(node, work, treeHeaderBytes + half * entrySize_ + 4) != kvSuccess)
    return kvFailure;
  ++nodesMade_;
  *newNode = right;

  if (isPositionTree() && level > 0) {
    // The key moving up is kept relative to the parent's base.
    uint32_t link = it->indexes_.getAt(level - 1);
    if (link > 0) {
      unsigned char* parent;
      if (store_.tmpPointer(it->nodes_.getAt(level - 1), reinterpret_cast<void**>(&parent),
                            nullptr, 0) != kvSuccess)
        return kvFailure;
      putU32(up + 4, upKey + getU32(entryAt(parent, link - 1) + 4));
    }
  }
  return kvSuccess;
}

KvStatus KvTree::doDecKeys(uint32_t node, uint32_t amount) {
  for (uint16_t depth = 0; node; ++depth) {
    if (depth >= maxDepth) return tooDeep();
    unsigned char* p;
    if (store_.tmpPointer(node, reinterpret_cast<void**>(&p), nullptr, 1) != kvSuccess)
      return kvFailure;
    uint32_t keys = keyCountOf(p);
    for (uint32_t i = 0; i < keys; ++i) {
      unsigned char* key = entryAt(p, i) + 4;
      putU32(key, getU32(key) - amount);
    }
    putU16(p + 2, 0);
    node = getU32(entryAt(p, 0));
  }
  return kvSuccess;
}

KvStatus KvTree::deleteFound() {
  KvTreeIterator* it = &iterator_;
  uint32_t index = it->topIndex();
  unsigned char* p;
  if (store_.tmpPointer(it->topNode(), reinterpret_cast<void**>(&p), nullptr, 1) != kvSuccess)
    return kvFailure;
  unsigned char* entry = entryAt(p, index);
  entry[4 + keyLength_ + dataLength_] = 1;
  --keyCount_;
  uint16_t links = linkCount(p);
  if (getU32(entry) == 0 && links >= 3) {
    // A leaf that keeps other keys: the entry goes, and the iterator stays
    // at the gap where it was.
    memmove(entry, entryAt(p, index + 1), size_t(links - 2u - index) * entrySize_ + 4);
    putU16(p, links - 1);
    it->flags_ &= ~KvTreeIterator::flagOnKey;
  }
  return kvSuccess;
}

KvStatus KvTree::add(const void* key, const void* data, uint32_t* found) {
  if (found) *found = 0;
  if (checkUsable() != kvSuccess || makeWorkBuffers() != kvSuccess) return kvFailure;
  KvStatus status = kvSuccess;
  uint32_t exists = 0;
  if (root_) status = treeSearch(key, &exists);
  if (status == kvSuccess) {
    if (exists) {
      if (found) *found = 1;
    } else {
      status = insertAtSearch(key, data);
    }
  }
  iterator_.clear();
  return status;
}

KvStatus KvTree::deleteKey(const void* key, uint32_t* found) {
  if (found) *found = 0;
  if (!markBytes_) {
    addResourceError(kvMsgInvalidParameter);
    return kvFailure;
  }
  uint32_t exists = 0;
  if (treeSearch(key, &exists) != kvSuccess) return kvFailure;
  if (!exists) return kvSuccess;
  if (found) *found = 1;
  return deleteFound();
}

KvStatus KvTree::getData(const void* key, void* data, uint32_t* found) {
  uint32_t exists = 0;
  if (found) *found = 0;
  if (treeSearch(key, &exists) != kvSuccess) return kvFailure;
  if (!exists) return kvSuccess;
  if (found) *found = 1;
  if (!data || !dataLength_) return kvSuccess;
  unsigned char* p;
  if (store_.tmpPointer(iterator_.topNode(), reinterpret_cast<void**>(&p), nullptr, 0) != kvSuccess)
    return kvFailure;
  memcpy(data, entryAt(p, iterator_.topIndex()) + 4 + keyLength_, dataLength_);
  return kvSuccess;
}

KvStatus KvTree::doesExist(const void* key, uint32_t* found) {
  uint32_t exists = 0;
  KvStatus status = treeSearch(key, &exists);
  if (found) *found = exists;
  return status;
}

KvStatus KvTree::changeData(const void* key, const void* data) {
  uint32_t exists = 0;
  if (treeSearch(key, &exists) != kvSuccess) return kvFailure;
  if (!exists || !dataLength_) return kvSuccess;
  unsigned char* p;
  if (store_.tmpPointer(iterator_.topNode(), reinterpret_cast<void**>(&p), nullptr, 1) != kvSuccess)
    return kvFailure;
  memcpy(entryAt(p, iterator_.topIndex()) + 4 + keyLength_, data, dataLength_);
  return kvSuccess;
}

KvStatus KvTree::changeKey(const void* oldKey, const void* newKey) {
  if (!markBytes_) {
    addResourceError(kvMsgInvalidParameter);
    return kvFailure;
  }
  if (checkUsable() != kvSuccess || makeWorkBuffers() != kvSuccess) return kvFailure;
  uint32_t exists = 0;
  if (treeSearch(oldKey, &exists) != kvSuccess) return kvFailure;
  if (!exists) return kvSuccess;
  // The data rides in the second entry image: add builds its entry in the
  // first and uses the second only once that is built.
  unsigned char* data = work_ + entrySize_ + 4 + keyLength_;
  {
    unsigned char* p;
    if (store_.tmpPointer(iterator_.topNode(), reinterpret_cast<void**>(&p), nullptr, 0) !=
        kvSuccess)
      return kvFailure;
    memcpy(data, entryAt(p, iterator_.topIndex()) + 4 + keyLength_, dataLength_);
  }
  if (deleteFound() != kvSuccess) return kvFailure;
  return add(newKey, data, nullptr);
}

void KvTree::reset() {
  store_.tmpTruncate();
  store_.getContiguousSpace(1);
  root_ = 0;
  base_ = 0;
  keyCount_ = 0;
  nodesMade_ = 0;
  deepestSearch_ = 0;
  lastSearchDepth_ = 0;
  iterator_.clear();
}

// ---------------------------------------------------------------- walking
//
// The iterator's path holds, for every node but the top one, the link it
// descended. At the top, with flagOnKey the index is the key it is on;
// without, it is the gap after the subtree of link index and before key
// index. Before the first key is the root with index beforeFirst; after the
// last is the gap at the root's end.

KvTreeIterator* KvTree::pick(KvTreeIterator* iterator) {
  if (!iterator) return &iterator_;
  if (iterator->tree_ == this) return iterator;
  addResourceError(kvMsgInvalidParameter);
  return nullptr;
}

// Pushes the path from node down to its first (or last) leaf, ending at the
// gap before that leaf's first key (or after its last one).
KvStatus KvTree::descend(KvTreeIterator* it, uint32_t node, int toLast) {
  for (;;) {
    unsigned char* p;
    if (store_.tmpPointer(node, reinterpret_cast<void**>(&p), nullptr, 0) != kvSuccess)
      return kvFailure;
    uint32_t keys = keyCountOf(p);
    uint32_t index = toLast ? keys : 0;
    uint32_t child = getU32(entryAt(p, index));
    uint32_t passed = index > 0 && isPositionTree() ? getU32(entryAt(p, index - 1) + 4) : 0;
    if (it->push(node, index) != kvSuccess) return kvFailure;
    if (!child) break;
    it->positionSum_ += passed;
    node = child;
  }
  it->flags_ &= ~KvTreeIterator::flagOnKey;
  return kvSuccess;
}

KvStatus KvTree::setBeforeFirst(KvTreeIterator* it) {
  it->clear();
  return root_ ? it->push(root_, KvTreeIterator::beforeFirst) : kvSuccess;
}

KvStatus KvTree::setAfterLast(KvTreeIterator* it) {
  it->clear();
  if (!root_) return kvSuccess;
  unsigned char* p;
  if (store_.tmpPointer(root_, reinterpret_cast<void**>(&p), nullptr, 0) != kvSuccess) return kvFailure;
  return it->push(root_, keyCountOf(p));
}

// Leaves the top node: forward, to the gap after the subtree just left;
// backward, to the key before that subtree. Found 0 at either end of the
// tree, with the iterator after the last or before the first key.
KvStatus KvTree::climb(KvTreeIterator* it, int forward, uint32_t* found) {
  for (;;) {
    it->pop();
    if (it->getDepth() == 0) {
      *found = 0;
      return forward ? setAfterLast(it) : setBeforeFirst(it);
    }
    unsigned char* p;
    if (store_.tmpPointer(it->topNode(), reinterpret_cast<void**>(&p), nullptr, 0) != kvSuccess)
      return kvFailure;
    uint32_t link = it->topIndex();
    if (isPositionTree() && link > 0) it->positionSum_ -= getU32(entryAt(p, link - 1) + 4);
    if (forward && link < keyCountOf(p)) {
      it->flags_ |= KvTreeIterator::flagOnKey;
      *found = 1;
      return kvSuccess;
    }
    if (!forward && link > 0) {
      it->setTopIndex(link - 1);
      it->flags_ |= KvTreeIterator::flagOnKey;
      *found = 1;
      return kvSuccess;
    }
  }
}

// Moves to the next entry in key order (marked or not).
KvStatus KvTree::stepNext(KvTreeIterator* it, uint32_t* found) {
  for (uint32_t round = 0;; ++round) {
    if (round > 2u * maxDepth) return tooDeep();
    unsigned char* p;
    if (store_.tmpPointer(it->topNode(), reinterpret_cast<void**>(&p), nullptr, 0) != kvSuccess)
      return kvFailure;
    uint32_t index = it->topIndex();
    uint32_t keys = keyCountOf(p);
    if (it->flags_ & KvTreeIterator::flagOnKey) {
      // From a key: the subtree after it, else the gap after it.
      uint32_t child = getU32(entryAt(p, index + 1));
      uint32_t passed = isPositionTree() ? getU32(entryAt(p, index) + 4) : 0;
      it->setTopIndex(index + 1);
      it->flags_ &= ~KvTreeIterator::flagOnKey;
      if (child) {
        it->positionSum_ += passed;
        if (descend(it, child, 0) != kvSuccess) return kvFailure;
      }
      continue;
    }
    if (index < keys) {
      it->flags_ |= KvTreeIterator::flagOnKey;
      *found = 1;
      return kvSuccess;
    }
    return climb(it, 1, found);
  }
}

// Moves to the previous entry in key order (marked or not).
KvStatus KvTree::stepPrevious(KvTreeIterator* it, uint32_t* found) {
  for (uint32_t round = 0;; ++round) {
    if (round > 2u * maxDepth) return tooDeep();
    unsigned char* p;
    if (store_.tmpPointer(it->topNode(), reinterpret_cast<void**>(&p), nullptr, 0) != kvSuccess)
      return kvFailure;
    uint32_t index = it->topIndex();
    // On key i or at the gap before it, the subtree of link i comes first.
    uint32_t child = getU32(entryAt(p, index));
    uint32_t passed = index > 0 && isPositionTree() ? getU32(entryAt(p, index - 1) + 4) : 0;
    it->flags_ &= ~KvTreeIterator::flagOnKey;
    if (child) {
      it->positionSum_ += passed;
      if (descend(it, child, 1) != kvSuccess) return kvFailure;
      continue;
    }
    if (index > 0) {
      it->setTopIndex(index - 1);
      it->flags_ |= KvTreeIterator::flagOnKey;
      *found = 1;
      return kvSuccess;
    }
    return climb(it, 0, found);
  }
}

KvStatus KvTree::deliver(KvTreeIterator* it, int forward, void* key, void* data, uint32_t* found) {
  uint32_t onKey = *found;
  while (onKey) {
    unsigned char* p;
    if (store_.tmpPointer(it->topNode(), reinterpret_cast<void**>(&p), nullptr, 0) != kvSuccess)
      return kvFailure;
    const unsigned char* entry = entryAt(p, it->topIndex());
    if (markBytes_ && entry[4 + keyLength_ + dataLength_]) {
      KvStatus status = forward ? stepNext(it, &onKey) : stepPrevious(it, &onKey);
      if (status != kvSuccess) return kvFailure;
      continue;
    }
    if (key) {
      if (isPositionTree()) putU32(static_cast<unsigned char*>(key), it->positionSum_ + getU32(entry + 4));
      else memcpy(key, entry + 4, keyLength_);
    }
    if (data) memcpy(data, entry + 4 + keyLength_, dataLength_);
    break;
  }
  *found = onKey;
  return kvSuccess;
}

// The first entry (last 0) or the last one (last 1), from a fresh walk.
KvStatus KvTree::getEnd(int last, void* key, void* data, uint32_t* found, KvTreeIterator* iterator) {
  uint32_t onKey = 0;
  if (found) *found = 0;
  KvTreeIterator* it = pick(iterator);
  if (!it) return kvFailure;
  it->clear();
  if (!root_) return kvSuccess;
  if (descend(it, root_, last) != kvSuccess ||
      (last ? stepPrevious(it, &onKey) : stepNext(it, &onKey)) != kvSuccess ||
      deliver(it, last ? 0 : 1, key, data, &onKey) != kvSuccess)
    return kvFailure;
  if (found) *found = onKey;
  return kvSuccess;
}

KvStatus KvTree::getFirst(void* key, void* data, uint32_t* found, KvTreeIterator* iterator) {
  return getEnd(0, key, data, found, iterator);
}

KvStatus KvTree::getLast(void* key, void* data, uint32_t* found, KvTreeIterator* iterator) {
  return getEnd(1, key, data, found, iterator);
}

KvStatus KvTree::getNext(void* key, void* data, uint32_t* found, KvTreeIterator* iterator) {
  uint32_t onKey = 0;
  if (found) *found = 0;
  KvTreeIterator* it = pick(iterator);
  if (!it) return kvFailure;
  if (it->getDepth() == 0 || it->topIndex() == KvTreeIterator::beforeFirst)
    return getFirst(key, data, found, it);
  if (stepNext(it, &onKey) != kvSuccess || deliver(it, 1, key, data, &onKey) != kvSuccess)
    return kvFailure;
  if (found) *found = onKey;
  return kvSuccess;
}

KvStatus KvTree::getPrevious(void* key, void* data, uint32_t* found, KvTreeIterator* iterator) {
  uint32_t onKey = 0;
  if (found) *found = 0;
  KvTreeIterator* it = pick(iterator);
  if (!it) return kvFailure;
  if (it->getDepth() == 0) return getLast(key, data, found, it);
  if (it->topIndex() == KvTreeIterator::beforeFirst) return kvSuccess;
  if (stepPrevious(it, &onKey) != kvSuccess || deliver(it, 0, key, data, &onKey) != kvSuccess)
    return kvFailure;
  if (found) *found = onKey;
  return kvSuccess;
}

// ---------------------------------------------------------------- position tree

KvPTree::KvPTree(uint16_t dataLength) : KvTree(4, dataLength, treeU32Compare, 1) {
  flags_ |= flagPositionTree;
}

KvPTree::~KvPTree() = default;

// Position keys are relative to their node's base. A marked key k stands
// for the gap just before position k: it sorts after every position below k
// and before position k itself. In insert mode the keys at or after the
// sought position grow by one on the whole path (and an equal position does
// not match); in delete mode the keys after it drop by one, and when the
// match is in an inner node, so does the subtree right of it, whose keys
// are relative to the matched (now marked) key.
KvStatus KvPTree::treeSearch(const void* key, uint32_t* found) {
  KvTreeIterator* it = &iterator_;
  it->clear();
  *found = 0;
  base_ = 0;
  const uint32_t sought = getU32(static_cast<const unsigned char*>(key));
  const uint32_t markAt = 8u + dataLength_;
  const uint16_t changing = (insertMode_ || deleteMode_) ? 1 : 0;
  uint32_t base = 0;
  uint16_t depth = 0;
  for (uint32_t node = root_; node;) {
    unsigned char* p;
    if (store_.tmpPointer(node, reinterpret_cast<void**>(&p), nullptr, changing) != kvSuccess)
      return kvFailure;
    uint32_t keys = keyCountOf(p);
    uint32_t relative = sought - base;
    uint32_t lo = 0, hi = keys;
    while (lo < hi) {
      uint32_t mid = (lo + hi) / 2;
      const unsigned char* entry = entryAt(p, mid);
      uint32_t k = getU32(entry + 4);
      int after = entry[markAt] ? relative >= k : relative > k;
      if (after) lo = mid + 1;
      else hi = mid;
    }
    unsigned char* entry = entryAt(p, lo);
    int match = !insertMode_ && lo < keys && !entry[markAt] && getU32(entry + 4) == relative;
    uint32_t from = keys;
    int32_t change = 0;
    if (insertMode_) {
      from = lo;
      change = 1;
    } else if (deleteMode_) {
      from = match ? lo + 1 : lo;
      change = -1;
    }
    for (uint32_t i = from; i < keys; ++i) {
      unsigned char* k = entryAt(p, i) + 4;
      putU32(k, getU32(k) + uint32_t(change));
    }
    uint32_t child = getU32(entry);
    uint32_t rightOfMatch = match && lo < keys ? getU32(entryAt(p, lo + 1)) : 0;
    uint32_t passed = lo > 0 ? getU32(entryAt(p, lo - 1) + 4) : 0;
    ++depth;
    if (it->push(node, lo) != kvSuccess) return kvFailure;
    it->positionSum_ = base;
    base_ = base;
    if (match) {
      it->flags_ = KvTreeIterator::flagOnKey;
      *found = 1;
      if (deleteMode_ && rightOfMatch && doDecKeys(rightOfMatch, 1) != kvSuccess) return kvFailure;
      break;
    }
    if (!child) break;
    base += passed;
    node = child;
  }
  noteDepth(depth);
  return kvSuccess;
}

KvStatus KvPTree::getHighestPosition(uint32_t* highest, uint32_t* any) {
  *highest = 0;
  *any = 0;
  uint32_t base = 0;
  uint32_t node = root_;
  for (uint16_t depth = 0; node; ++depth) {
    if (depth >= maxDepth) return tooDeep();
    unsigned char* p;
    if (store_.tmpPointer(node, reinterpret_cast<void**>(&p), nullptr, 0) != kvSuccess)
      return kvFailure;
    uint32_t keys = keyCountOf(p);
    if (keys == 0) break;
    uint32_t last = getU32(entryAt(p, keys - 1) + 4);
    node = getU32(entryAt(p, keys));
    if (!node) {
      *highest = base + last;
      *any = 1;
    }
    base += last;
  }
  return kvSuccess;
}

// Whether every entry can move up by one past position.
KvStatus KvPTree::shiftUp(uint32_t position) {
  uint32_t highest = 0, any = 0;
  if (getHighestPosition(&highest, &any) != kvSuccess) return kvFailure;
  if (any && highest == 0xFFFFFFFFu && position <= highest) {
    addResourceError(kvMsgInvalidParameter);
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus KvPTree::addAtPos(uint32_t position, const void* data) {
  if (checkUsable() != kvSuccess || makeWorkBuffers() != kvSuccess) return kvFailure;
  KvStatus status = kvSuccess;
  if (root_) {
    status = shiftUp(position);
    if (status == kvSuccess) {
      uint32_t found = 0;
      insertMode_ = 1;
      status = treeSearch(&position, &found);
      insertMode_ = 0;
    }
  }
  if (status == kvSuccess) status = insertAtSearch(&position, data);
  iterator_.clear();
  return status;
}

KvStatus KvPTree::addHoleAtPos(uint32_t position) {
  if (!root_) return kvSuccess;
  if (shiftUp(position) != kvSuccess) return kvFailure;
  uint32_t found = 0;
  insertMode_ = 1;
  KvStatus status = treeSearch(&position, &found);
  insertMode_ = 0;
  iterator_.clear();
  return status;
}

KvStatus KvPTree::deleteKeyAtPos(uint32_t position, uint32_t* found) {
  if (found) *found = 0;
  uint32_t exists = 0;
  deleteMode_ = 1;
  KvStatus status = treeSearch(&position, &exists);
  deleteMode_ = 0;
  if (status == kvSuccess && exists) {
    if (found) *found = 1;
    status = deleteFound();
  }
  iterator_.clear();
  return status;
}
