// Growable arrays of pointer-sized slots; see kv_array.h.
//
// Invariants kept by every operation here:
// - slots from count to capacity are null unless a caller filled them with
//   setAt (bulk deletion with flagAllSlotsUsed walks them, so a slot that an
//   operation vacates is cleared, never left holding a stale entry);
// - the capacity grows only through increaseSize, which enforces the 16000
//   rule: past 16000 entries a growth fails with error 2722 unless the caller
//   asked to clamp and the capacity is still below 16000, in which case the
//   new capacity is exactly 16000;
// - a failed operation leaves the array as it was.
#include "util/containers/kv_array.h"

#include <algorithm>
#include <cstring>

#include "util/resource.h"
#include "util/files/sort.h"
#include "util/util_message_ids.h"

namespace {

// Capacity given to an empty array that is asked to double.
enum : uint16_t { kvArrayFirstDoubling = 16 };

// Byte size of n slots; n is at most 65535, so this fits 32 bits.
inline uint32_t slotBytes(uint32_t n) { return n * static_cast<uint32_t>(sizeof(uintptr_t)); }

}  // namespace

// ---------------------------------------------------------------------------
// KvArray

KvArray::~KvArray() {
  if (flags_ & flagOwnsObjects) deleteContents();
  ramFree(storage_);
}

void KvArray::deleteEntry(uintptr_t entry) { delete reinterpret_cast<KvObject*>(entry); }

KvStatus KvArray::setInitialSize(uint16_t n) {
  uintptr_t* fresh = nullptr;
  if (n > 0) {
    fresh = static_cast<uintptr_t*>(ramAllocZ(slotBytes(n)));
    if (!fresh) return kvFailure;
  }
  ramFree(storage_);
  storage_ = fresh;
  capacity_ = n;
  count_ = 0;
  return kvSuccess;
}

KvStatus KvArray::addAtIndex(KvObject* object, uint16_t index) {
  return addSlotAtIndex(reinterpret_cast<uintptr_t>(object), index);
}

KvStatus KvArray::addSlotAtIndex(uintptr_t entry, uint16_t index) {
  if (count_ >= capacity_ && increaseSize(growthStep_, 1, 1) != kvSuccess) return kvFailure;
  if (index < count_) {
    std::memmove(storage_ + index + 1, storage_ + index, slotBytes(count_ - index));
  }
  storage_[index] = entry;
  ++count_;
  return kvSuccess;
}

void KvArray::removeAtIndex(uint16_t index) {
  if (index + 1 < count_) {
    std::memmove(storage_ + index, storage_ + index + 1, slotBytes(count_ - index - 1));
  }
  --count_;
  storage_[count_] = 0;
}

void KvArray::deleteAtIndex(uint16_t index) {
  uintptr_t entry = storage_[index];
  // The slot goes first, so that a destructor that looks at the array never
  // sees the entry it is deleting.
  removeAtIndex(index);
  if (entry) deleteEntry(entry);
}

void KvArray::deleteContents() {
  uint16_t walk = slotsToWalk();
  for (uint16_t i = 0; i < walk; ++i) {
    uintptr_t entry = storage_[i];
    storage_[i] = 0;
    if (entry) deleteEntry(entry);
  }
  count_ = 0;
}

KvStatus KvArray::increaseSize(uint16_t by, unsigned keepContents, unsigned clamp) {
  uint32_t newCapacity;
  if (by != 0) {
    newCapacity = uint32_t{capacity_} + by;
  } else {
    newCapacity = capacity_ ? uint32_t{capacity_} * 2 : uint32_t{kvArrayFirstDoubling};
  }
  if (newCapacity > kvArrayMaxEntries) {
    if (!clamp || capacity_ >= kvArrayMaxEntries) {
      addResourceError(kvMsgArrayTooLarge);
      return kvFailure;
    }
    newCapacity = kvArrayMaxEntries;
  }

  if (keepContents && storage_) {
    if (ramResize(&storage_, slotBytes(newCapacity)) != kvSuccess) return kvFailure;
    std::memset(storage_ + capacity_, 0, slotBytes(newCapacity - capacity_));
  } else {
    // The new storage is made before the old one goes, so that a failed
    // allocation leaves the array as it was.
    uintptr_t* fresh = static_cast<uintptr_t*>(ramAllocZ(slotBytes(newCapacity)));
    if (!fresh) return kvFailure;
    ramFree(storage_);
    storage_ = fresh;
    if (!keepContents) count_ = 0;
  }
  capacity_ = static_cast<uint16_t>(newCapacity);
  return kvSuccess;
}

KvStatus KvArray::shrink(uint16_t n) {
  if (n == 0) {
    ramFree(storage_);
    storage_ = nullptr;
  } else if (!storage_) {
    uintptr_t* fresh = static_cast<uintptr_t*>(ramAllocZ(slotBytes(n)));
    if (!fresh) return kvFailure;
    storage_ = fresh;
  } else {
    if (ramResize(&storage_, slotBytes(n)) != kvSuccess) return kvFailure;
    if (n > capacity_) std::memset(storage_ + capacity_, 0, slotBytes(n - capacity_));
  }
  capacity_ = n;
  count_ = n;
  return kvSuccess;
}

void KvArray::swapStorage(KvArray* other) {
  std::swap(storage_, other->storage_);
  std::swap(capacity_, other->capacity_);
  std::swap(count_, other->count_);
}

int KvArray::doesExist(const KvObject* object) const {
  uintptr_t wanted = reinterpret_cast<uintptr_t>(object);
  for (uint16_t i = 0; i < count_; ++i) {
    if (storage_[i] == wanted) return 1;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Typed variants. Each destructor does its own bulk deletion: by the time the
// base destructor runs, the entries would be deleted as KvObject pointers.

KvArrayPVoid::~KvArrayPVoid() {
  if (flags_ & flagOwnsObjects) deleteContents();
  flags_ &= ~flagOwnsObjects;
}

void KvArrayPVoid::deleteEntry(uintptr_t entry) { ramFree(reinterpret_cast<void*>(entry)); }

int KvArrayPVoid::doesExist(const void* block) const {
  return KvArray::doesExist(static_cast<const KvObject*>(block));
}

KvArrayU32::~KvArrayU32() { flags_ &= ~flagOwnsObjects; }

int KvArrayU32::doesExist(uint32_t value) const {
  for (uint16_t i = 0; i < count_; ++i) {
    if (storage_[i] == value) return 1;
  }
  return 0;
}

KvArrayS32::~KvArrayS32() { flags_ &= ~flagOwnsObjects; }

int KvArrayS32::doesExist(int32_t value) const {
  uintptr_t wanted = static_cast<uint32_t>(value);
  for (uint16_t i = 0; i < count_; ++i) {
    if (storage_[i] == wanted) return 1;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// KvSortedArray. The order is that of object->compare(entry); a run of equal
// entries stays in insertion order.

namespace {

// First index whose entry does not sort before object.
uint16_t lowerBound(const uintptr_t* storage, uint16_t count, const KvObject* object) {
  uint16_t low = 0, high = count;
  while (low < high) {
    uint16_t mid = static_cast<uint16_t>(low + (high - low) / 2);
    if (object->compare(reinterpret_cast<const KvObject*>(storage[mid])) > 0) {
      low = static_cast<uint16_t>(mid + 1);
    } else {
      high = mid;
    }
  }
  return low;
}

// First index whose entry sorts after object.
uint16_t upperBound(const uintptr_t* storage, uint16_t count, const KvObject* object) {
  uint16_t low = 0, high = count;
  while (low < high) {
    uint16_t mid = static_cast<uint16_t>(low + (high - low) / 2);
    if (object->compare(reinterpret_cast<const KvObject*>(storage[mid])) >= 0) {
      low = static_cast<uint16_t>(mid + 1);
    } else {
      high = mid;
    }
  }
  return low;
}

// Stable sort of object pointers by their compare, through the record sort:
// records of one pointer whose key is the object's compare. Fails only for
// want of memory for the sort's index, leaving the order as it was.
KvStatus stableSortObjects(uintptr_t* storage, uint16_t count) {
  if (count < 2) return kvSuccess;
  KvSort sort(sizeof(uintptr_t));
  if (sort.addKey(sortKeyObject, 0, sizeof(uintptr_t)) != kvSuccess) return kvFailure;
  if (sort.setBuf(count, storage) != kvSuccess) return kvFailure;
  return sort.sortBuf();
}

}  // namespace

KvSortedArray::~KvSortedArray() = default;

KvStatus KvSortedArray::add(KvObject* object) {
  if (count_ == 0 || (sortFlags_ & (modeUnsorted | modeAppend))) {
    return addSlotAtIndex(reinterpret_cast<uintptr_t>(object), count_);
  }
  return addSlotAtIndex(reinterpret_cast<uintptr_t>(object), upperBound(storage_, count_, object));
}

int KvSortedArray::findIndexOf(const KvObject* object, uint16_t* index) const {
  uint16_t at = lowerBound(storage_, count_, object);
  *index = at;
  return at < count_ && object->compare(reinterpret_cast<const KvObject*>(storage_[at])) == 0;
}

int KvSortedArray::seqFindIndexOf(const KvObject* object, uint16_t* index) const {
  for (uint16_t i = 0; i < count_; ++i) {
    if (object->compare(reinterpret_cast<const KvObject*>(storage_[i])) == 0) {
      *index = i;
      return 1;
    }
  }
  *index = count_;
  return 0;
}

void KvSortedArray::findIndexOfLastKey(const KvObject* object, uint16_t* index) const {
  // Bisection over the rest: a run of equal keys can be long.
  uint16_t from = *index;
  if (from >= count_) return;
  uint16_t end = static_cast<uint16_t>(from + upperBound(storage_ + from, static_cast<uint16_t>(count_ - from), object));
  if (end > from + 1) *index = static_cast<uint16_t>(end - 1);
}

KvStatus KvSortedArray::resort() {
  sortFlags_ &= ~uint32_t{modeUnsorted};
  return stableSortObjects(storage_, count_);
}

void KvSortedArray::dropDuplicates(bool deleteThem) {
  if (count_ < 2) return;
  // One compacting pass: an entry equal to the last one kept is dropped, so
  // the result is that of removing duplicates one by one, without the
  // quadratic shifting.
  uint16_t kept = 1;
  for (uint16_t i = 1; i < count_; ++i) {
    uintptr_t entry = storage_[i];
    uintptr_t last = storage_[kept - 1];
    if (reinterpret_cast<const KvObject*>(entry)->compare(reinterpret_cast<const KvObject*>(last)) == 0) {
      // The same object twice is one object: it is never deleted while the
      // kept entry still names it.
      if (deleteThem && entry && entry != last) deleteEntry(entry);
    } else {
      storage_[kept++] = entry;
    }
  }
  std::memset(storage_ + kept, 0, slotBytes(count_ - kept));
  count_ = kept;
}

void KvSortedArray::deleteDuplicates() { dropDuplicates(true); }

void KvSortedArray::removeDuplicates() { dropDuplicates(false); }

// ---------------------------------------------------------------------------
// KvSortedArrayU32: ascending unsigned values; equal values in insertion order.

namespace {

uint16_t lowerBoundU32(const uintptr_t* storage, uint16_t count, uint32_t value) {
  return static_cast<uint16_t>(std::lower_bound(storage, storage + count, uintptr_t{value}) - storage);
}

uint16_t upperBoundU32(const uintptr_t* storage, uint16_t count, uint32_t value) {
  return static_cast<uint16_t>(std::upper_bound(storage, storage + count, uintptr_t{value}) - storage);
}

}  // namespace

KvSortedArrayU32::~KvSortedArrayU32() = default;

KvStatus KvSortedArrayU32::add(uint32_t value) {
  return addSlotAtIndex(value, upperBoundU32(storage_, count_, value));
}

int KvSortedArrayU32::findIndexOf(uint32_t value, uint16_t* index) const {
  uint16_t at = lowerBoundU32(storage_, count_, value);
  *index = at;
  return at < count_ && storage_[at] == value;
}

void KvSortedArrayU32::findIndexOfLastKey(uint32_t value, uint16_t* index) const {
  uint16_t from = *index;
  if (from >= count_) return;
  uint16_t end = static_cast<uint16_t>(from + upperBoundU32(storage_ + from, static_cast<uint16_t>(count_ - from), value));
  if (end > from + 1) *index = static_cast<uint16_t>(end - 1);
}
