// Hashed set, associations and dictionaries; see kv_dictionary.h.
//
// Look-ups in a KvDictionary go through the set with a probe association
// made on the stack for the key: the set then compares associations only,
// elements and keys alike, and hashes the key as the stored association
// would hash it.
#include "util/containers/kv_dictionary.h"

#include <cstring>

#include "util/containers/kv_string.h"
#include "util/resource.h"
#include "util/containers/str_functions.h"
#include "util/util_message_ids.h"

namespace {

enum : uint32_t { kvSetMaxTableSize = 0xFFFF };

uint32_t foldKey(uintptr_t key) {
  uint64_t wide = key;
  return static_cast<uint32_t>(wide ^ (wide >> 32));
}

uint32_t lengthOf(const KvSubString* key) { return key ? key->getLength() : 0; }

int subStringsEqual(const KvSubString* a, const KvSubString* b) {
  uint32_t length = lengthOf(a);
  if (length != lengthOf(b)) return 0;
  return length == 0 || std::memcmp(a->getText(), b->getText(), length) == 0;
}

int subStringsEqualCi(const KvSubString* a, const KvSubString* b) {
  uint32_t length = lengthOf(a);
  if (length != lengthOf(b)) return 0;
  return length == 0 || strEqualCi(a->getText(), length, b->getText(), length);
}

}  // namespace

// ---------------------------------------------------------------------------
// Associations

KvAssociation::~KvAssociation() = default;
int KvAssociation::isEqual(uintptr_t) const { return 0; }
int KvAssociation::isEqual(const KvSubString*) const { return 0; }
int KvAssociation::isEqual(const KvAssociation*) const { return 0; }
int KvAssociation::isEqualCi(const KvSubString*) const { return 0; }
int KvAssociation::isEqualCi(const KvAssociation*) const { return 0; }
uintptr_t KvAssociation::getIntKey() const { return 0; }
uintptr_t KvAssociation::getIntData() const { return 0; }
KvSubString* KvAssociation::getSubKey() const { return nullptr; }
KvObject* KvAssociation::getPtrData() const { return nullptr; }
void KvAssociation::setPtrData(KvObject*) {}
void KvAssociation::setIntData(uintptr_t) {}
uint32_t KvAssociation::hash() const { return 0; }
void KvAssociation::deleteKeyAndData() {}

KvIntIntKey::~KvIntIntKey() = default;
uint32_t KvIntIntKey::hash() const { return foldKey(key_); }

KvIntPtrKey::~KvIntPtrKey() = default;
uint32_t KvIntPtrKey::hash() const { return foldKey(key_); }

void KvIntPtrKey::deleteKeyAndData() {
  delete getPtrData();
  data_ = 0;
}

KvSubPtrKey::~KvSubPtrKey() = default;

int KvSubPtrKey::isEqual(const KvSubString* key) const { return subStringsEqual(getSubKey(), key); }

int KvSubPtrKey::isEqualCi(const KvSubString* key) const { return subStringsEqualCi(getSubKey(), key); }

uint32_t KvSubPtrKey::hash() const {
  const KvSubString* key = getSubKey();
  return key ? key->hash() : 0;
}

void KvSubPtrKey::deleteKeyAndData() {
  delete getSubKey();
  delete getPtrData();
  key_ = 0;
  data_ = 0;
}

// ---------------------------------------------------------------------------
// KvSet

KvSet::~KvSet() = default;

KvStatus KvSet::initialize(uint16_t expected) {
  return rebuild(expected > count_ ? expected : count_);
}

void KvSet::reset() {
  kvIgnoreStatus(buckets_.setInitialSize(0));  // emptying needs no memory
  tableSize_ = 0;
  count_ = 0;
  fill_ = defaultFill;
  growth_ = defaultGrowth;
  highestCount_ = 0;
}

uint16_t KvSet::probe(const void* key, uint32_t hash) const {
  uint16_t bucket = startBucket(hash);
  // The table always keeps an empty bucket, so the walk ends within one
  // round; the bound only guards that invariant.
  for (uint32_t steps = 0; steps < tableSize_; ++steps) {
    const void* element = buckets_.getAt(bucket);
    if (!element || areEqual(element, key)) return bucket;
    bucket = bucket ? static_cast<uint16_t>(bucket - 1) : static_cast<uint16_t>(tableSize_ - 1);
  }
  return tableSize_;
}

uint16_t KvSet::findBucket(const void* key) const {
  if (tableSize_ == 0) return 0;
  return probe(key, doHash(key));
}

KvStatus KvSet::add(void* element, void** replaced) {
  *replaced = nullptr;
  uint32_t hash = doHash(element);
  if (tableSize_ > 0) {
    uint16_t bucket = probe(element, hash);
    if (bucket < tableSize_ && buckets_.getAt(bucket)) {
      // An equal element: the new one takes its place and the count stays.
      *replaced = buckets_.getAt(bucket);
      buckets_.setAt(bucket, element);
      return kvSuccess;
    }
  }
  // Grow before storing, so that a failed growth adds nothing.
  uint32_t limit = uint32_t{tableSize_} * fill_ / 100;
  if (uint32_t{count_} + 1 > limit) {
    if (tableSize_ >= kvSetMaxTableSize) {
      addResourceError(kvMsgArrayTooLarge);
      return kvFailure;
    }
    if (rebuild(limit + limit * growth_ / 100 + 1) != kvSuccess) return kvFailure;
  }
  uint16_t bucket = probe(element, hash);
  if (bucket >= tableSize_) {  // no empty bucket: cannot happen while fill < 100
    addResourceError(kvMsgArrayTooLarge);
    return kvFailure;
  }
  buckets_.setAt(bucket, element);
  ++count_;
  if (count_ > highestCount_) highestCount_ = count_;
  return kvSuccess;
}

KvStatus KvSet::rebuild(uint32_t expected) {
  uint32_t size = expected * 100 / fill_ + 1;
  if (size > kvSetMaxTableSize) size = kvSetMaxTableSize;
  // The new table is built beside the old one, which stays intact when the
  // allocation fails.
  KvArrayPVoid fresh;
  if (fresh.setInitialSize(static_cast<uint16_t>(size)) != kvSuccess) return kvFailure;
  buckets_.swapStorage(&fresh);
  uint16_t oldSize = tableSize_;
  tableSize_ = static_cast<uint16_t>(size);
  // Elements of a set are distinct, so each needs only an empty bucket.
  for (uint16_t oldBucket = 0; oldBucket < oldSize; ++oldBucket) {
    void* element = fresh.getAt(oldBucket);
    if (!element) continue;
    uint16_t bucket = startBucket(doHash(element));
    while (buckets_.getAt(bucket)) {
      bucket = bucket ? static_cast<uint16_t>(bucket - 1) : static_cast<uint16_t>(tableSize_ - 1);
    }
    buckets_.setAt(bucket, element);
  }
  return kvSuccess;  // fresh now holds the old storage and frees it
}

// ---------------------------------------------------------------------------
// KvDictionary

KvDictionary::~KvDictionary() { deleteAssociations(false); }

uint32_t KvDictionary::doHash(const void* element) const {
  return static_cast<const KvAssociation*>(element)->hash();
}

int KvDictionary::areEqual(const void* element, const void* key) const {
  const KvAssociation* stored = static_cast<const KvAssociation*>(element);
  const KvAssociation* wanted = static_cast<const KvAssociation*>(key);
  return (flags_ & flagIgnoreCase) ? stored->isEqualCi(wanted) : stored->isEqual(wanted);
}

KvStatus KvDictionary::addAssociation(KvAssociation* association) {
  if (!association) return kvFailure;  // the memory error is in the list
  void* replaced = nullptr;
  if (add(association, &replaced) != kvSuccess) {
    delete association;
    return kvFailure;
  }
  delete static_cast<KvAssociation*>(replaced);
  return kvSuccess;
}

KvStatus KvDictionary::addAssoc(uintptr_t key, uintptr_t data) {
  return addAssociation(new KvIntIntKey(key, data));
}

KvStatus KvDictionary::addAssoc(uintptr_t key, KvObject* data) {
  return addAssociation(new KvIntPtrKey(key, data));
}

KvStatus KvDictionary::addAssoc(KvSubString* key, KvObject* data) {
  return addAssociation(new KvSubPtrKey(key, data));
}

KvAssociation* KvDictionary::find(const KvAssociation* probe) const {
  return getAssocAt(findBucket(probe));
}

uint16_t KvDictionary::getIndexForKey(uintptr_t key) const {
  KvIntIntKey probe(key, 0);
  return findBucket(&probe);
}

uint16_t KvDictionary::getIndexForKey(const KvSubString* key) const {
  KvSubPtrKey probe(const_cast<KvSubString*>(key), nullptr);
  return findBucket(&probe);
}

uintptr_t KvDictionary::getIntForKey(uintptr_t key) const {
  KvIntIntKey probe(key, 0);
  const KvAssociation* found = find(&probe);
  return found ? found->getIntData() : 0;
}

uintptr_t KvDictionary::getIntForKey(const KvSubString* key) const {
  KvSubPtrKey probe(const_cast<KvSubString*>(key), nullptr);
  const KvAssociation* found = find(&probe);
  return found ? found->getIntData() : 0;
}

KvObject* KvDictionary::getPtrForKey(uintptr_t key) const {
  KvIntIntKey probe(key, 0);
  const KvAssociation* found = find(&probe);
  return found ? found->getPtrData() : nullptr;
}

KvObject* KvDictionary::getPtrForKey(const KvSubString* key) const {
  KvSubPtrKey probe(const_cast<KvSubString*>(key), nullptr);
  const KvAssociation* found = find(&probe);
  return found ? found->getPtrData() : nullptr;
}

int KvDictionary::doesExist(uintptr_t key) const {
  KvIntIntKey probe(key, 0);
  return find(&probe) != nullptr;
}

int KvDictionary::doesExist(const KvSubString* key) const {
  KvSubPtrKey probe(const_cast<KvSubString*>(key), nullptr);
  return find(&probe) != nullptr;
}

void KvDictionary::deleteAssociations(bool withKeyAndData) {
  for (uint16_t bucket = getTableSize(); bucket-- > 0;) {
    KvAssociation* association = getAssocAt(bucket);
    if (!association) continue;
    clearBucket(bucket);
    if (withKeyAndData) association->deleteKeyAndData();
    delete association;
  }
}

void KvDictionary::deleteKeyAndData() { deleteAssociations(true); }

void KvDictionary::reset() {
  deleteAssociations(false);
  KvSet::reset();
}

// ---------------------------------------------------------------------------
// KvSeqDictionary

KvSeqDictionary::~KvSeqDictionary() {
  while (count_ > 0) {
    --count_;
    KvObject* association = getAt(count_);
    setAt(count_, nullptr);
    delete association;
  }
}

KvStatus KvSeqDictionary::append(KvAssociation* association) {
  if (!association) return kvFailure;  // the memory error is in the list
  if (add(association) != kvSuccess) {
    delete association;
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus KvSeqDictionary::addAssoc(uintptr_t key, uintptr_t data) {
  return append(new KvIntIntKey(key, data));
}

KvStatus KvSeqDictionary::addAssoc(uintptr_t key, KvObject* data) {
  return append(new KvIntPtrKey(key, data));
}

KvStatus KvSeqDictionary::addAssoc(KvSubString* key, KvObject* data) {
  return append(new KvSubPtrKey(key, data));
}

uint16_t KvSeqDictionary::getIndexForKey(uintptr_t key) const {
  for (uint16_t i = 0; i < count_; ++i) {
    if (getAssocAtIndex(i)->isEqual(key)) return i;
  }
  return count_;
}

uint16_t KvSeqDictionary::getIndexForKey(const KvSubString* key) const {
  for (uint16_t i = 0; i < count_; ++i) {
    const KvAssociation* association = getAssocAtIndex(i);
    if (ignoreCase_ ? association->isEqualCi(key) : association->isEqual(key)) return i;
  }
  return count_;
}

uintptr_t KvSeqDictionary::getIntForKey(uintptr_t key) const {
  uint16_t index = getIndexForKey(key);
  return index < count_ ? getIntDataAtIndex(index) : 0;
}

uintptr_t KvSeqDictionary::getIntForKey(const KvSubString* key) const {
  uint16_t index = getIndexForKey(key);
  return index < count_ ? getIntDataAtIndex(index) : 0;
}

KvObject* KvSeqDictionary::getPtrForKey(uintptr_t key) const {
  uint16_t index = getIndexForKey(key);
  return index < count_ ? getPtrDataAtIndex(index) : nullptr;
}

KvObject* KvSeqDictionary::getPtrForKey(const KvSubString* key) const {
  uint16_t index = getIndexForKey(key);
  return index < count_ ? getPtrDataAtIndex(index) : nullptr;
}

int KvSeqDictionary::changeData(uintptr_t key, uintptr_t data) {
  uint16_t index = getIndexForKey(key);
  if (index >= count_) return 0;
  getAssocAtIndex(index)->setIntData(data);
  return 1;
}

int KvSeqDictionary::changeData(uintptr_t key, KvObject* data) {
  uint16_t index = getIndexForKey(key);
  if (index >= count_) return 0;
  getAssocAtIndex(index)->setPtrData(data);
  return 1;
}

int KvSeqDictionary::changeData(const KvSubString* key, KvObject* data) {
  uint16_t index = getIndexForKey(key);
  if (index >= count_) return 0;
  getAssocAtIndex(index)->setPtrData(data);
  return 1;
}

void KvSeqDictionary::deleteKeyAndDataAtIndex(uint16_t index) {
  KvAssociation* association = getAssocAtIndex(index);
  removeAtIndex(index);
  if (!association) return;
  association->deleteKeyAndData();
  delete association;
}

void KvSeqDictionary::deleteKeyAndData() {
  while (count_ > 0) deleteKeyAndDataAtIndex(static_cast<uint16_t>(count_ - 1));
}
