// Growable arrays of object pointers or 32-bit values.
//
// Entries are kept in pointer-sized slots, so an array of object pointers
// never cuts a pointer. Counts and indexes are 16-bit and growth stops at
// 16000 entries (error 2722 past it). Indexes outside 0..count are not
// checked; callers keep to the bounds.
#pragma once

#include "util/memory/kv_object.h"

enum : uint16_t { kvArrayMaxEntries = 16000 };

class KV_UTIL_API KvArray : public KvObject {
 public:
  enum : uint32_t {
    flagOwnsObjects = 0x1,   // deletes its objects when destroyed
    flagAllSlotsUsed = 0x2,  // bulk deletion walks the capacity, not the count
  };

  KvArray() = default;
  ~KvArray() override;

  // Storage of n null entries (capacity n, count 0). Old storage is freed;
  // its entries are not deleted.
  KvStatus setInitialSize(uint16_t n);
  KvStatus addAtIndex(KvObject* object, uint16_t index);
  KvStatus add(KvObject* object) { return addAtIndex(object, count_); }
  // Removes the slot; the object is not deleted.
  void removeAtIndex(uint16_t index);
  // Deletes the object (when not null), then removes the slot.
  void deleteAtIndex(uint16_t index);
  // Deletes the contents as the class does, sets every slot null, count 0.
  virtual void deleteContents();
  // New capacity = capacity + by, or twice it when by is 0 (16 when empty);
  // see kv_array.cpp for the 16000 rule. Without keepContents every entry
  // is null afterwards and the count 0.
  KvStatus increaseSize(uint16_t by, unsigned keepContents, unsigned clamp);
  // Capacity and count become n.
  KvStatus shrink(uint16_t n);
  // Exchanges storage, capacity and count with other (flags and growth step
  // stay): a table can be rebuilt beside the live one and then put in place.
  void swapStorage(KvArray* other);
  int doesExist(const KvObject* object) const;

  KvObject* getAt(uint16_t index) const { return reinterpret_cast<KvObject*>(storage_[index]); }
  void setAt(uint16_t index, KvObject* object) { storage_[index] = reinterpret_cast<uintptr_t>(object); }
  KvObject* operator[](uint16_t index) const { return getAt(index); }
  uint16_t getCount() const { return count_; }
  uint16_t getCapacity() const { return capacity_; }
  // Used by callers that fill slots directly (setAt) up to a count they set.
  void setCount(uint16_t count) { count_ = count; }
  uint16_t getGrowthStep() const { return growthStep_; }
  // 0 doubles the capacity at each growth.
  void setGrowthStep(uint16_t step) { growthStep_ = step; }
  uint32_t getFlags() const { return flags_; }
  void setFlags(uint32_t flags) { flags_ = flags; }
  void setOwnsObjects(bool owns) {
    flags_ = owns ? (flags_ | flagOwnsObjects) : (flags_ & ~flagOwnsObjects);
  }

 protected:
  // Deletes one entry as the class's bulk deletion does.
  virtual void deleteEntry(uintptr_t entry);
  KvStatus addSlotAtIndex(uintptr_t entry, uint16_t index);
  uint16_t slotsToWalk() const { return (flags_ & flagAllSlotsUsed) ? capacity_ : count_; }

  uintptr_t* storage_ = nullptr;
  uint16_t capacity_ = 0;
  uint16_t count_ = 0;
  uint16_t growthStep_ = 16;
  uint32_t flags_ = 0;
};

// Untyped blocks of ramAlloc; bulk deletion frees them with ramFree.
class KV_UTIL_API KvArrayPVoid : public KvArray {
 public:
  ~KvArrayPVoid() override;
  KvStatus addAtIndex(void* block, uint16_t index) {
    return addSlotAtIndex(reinterpret_cast<uintptr_t>(block), index);
  }
  KvStatus add(void* block) { return addAtIndex(block, count_); }
  void* getAt(uint16_t index) const { return reinterpret_cast<void*>(storage_[index]); }
  void setAt(uint16_t index, void* block) { storage_[index] = reinterpret_cast<uintptr_t>(block); }
  void* operator[](uint16_t index) const { return getAt(index); }
  int doesExist(const void* block) const;

 protected:
  void deleteEntry(uintptr_t entry) override;
};

// Unsigned 32-bit values; never owned.
class KV_UTIL_API KvArrayU32 : public KvArray {
 public:
  ~KvArrayU32() override;
  KvStatus addAtIndex(uint32_t value, uint16_t index) { return addSlotAtIndex(value, index); }
  KvStatus add(uint32_t value) { return addAtIndex(value, count_); }
  uint32_t getAt(uint16_t index) const { return static_cast<uint32_t>(storage_[index]); }
  void setAt(uint16_t index, uint32_t value) { storage_[index] = value; }
  uint32_t operator[](uint16_t index) const { return getAt(index); }
  int doesExist(uint32_t value) const;

 protected:
  void deleteEntry(uintptr_t) override {}
};

// Signed 32-bit values; never owned.
class KV_UTIL_API KvArrayS32 : public KvArray {
 public:
  ~KvArrayS32() override;
  KvStatus addAtIndex(int32_t value, uint16_t index) {
    return addSlotAtIndex(static_cast<uintptr_t>(static_cast<uint32_t>(value)), index);
  }
  KvStatus add(int32_t value) { return addAtIndex(value, count_); }
  int32_t getAt(uint16_t index) const { return static_cast<int32_t>(static_cast<uint32_t>(storage_[index])); }
  void setAt(uint16_t index, int32_t value) { storage_[index] = static_cast<uint32_t>(value); }
  int32_t operator[](uint16_t index) const { return getAt(index); }
  int doesExist(int32_t value) const;

 protected:
  void deleteEntry(uintptr_t) override {}
};

// Object pointers kept in the order of the objects' own compare. While a
// mode bit is set, add() appends; resort() restores the order. Equal entries
// keep their insertion order.
class KV_UTIL_API KvSortedArray : public KvArray {
 public:
  enum : uint32_t { modeUnsorted = 0x1, modeAppend = 0x2 };
  ~KvSortedArray() override;
  KvStatus add(KvObject* object);
  // Binary search of the sorted contents: nonzero with the index of the
  // first equal entry, or 0 with the insertion index.
  int findIndexOf(const KvObject* object, uint16_t* index) const;
  // Linear search: nonzero with the first equal entry, or 0 with the count.
  int seqFindIndexOf(const KvObject* object, uint16_t* index) const;
  // From a found index, the last index of the run of entries equal to object.
  void findIndexOfLastKey(const KvObject* object, uint16_t* index) const;
  // Clears modeUnsorted and sorts stably by compare.
  KvStatus resort();
  // An entry equal to the one kept before it is deleted (or only removed).
  void deleteDuplicates();
  void removeDuplicates();
  uint32_t getSortFlags() const { return sortFlags_; }
  void setSortFlags(uint32_t flags) { sortFlags_ = flags; }

 private:
  KV_LOCAL void dropDuplicates(bool deleteThem);

  uint32_t sortFlags_ = 0;
};

// Unsigned values in ascending order; equal values keep their insertion order.
class KV_UTIL_API KvSortedArrayU32 : public KvArrayU32 {
 public:
  ~KvSortedArrayU32() override;
  KvStatus add(uint32_t value);
  // Nonzero with the index of the first equal value, or 0 with the
  // insertion index.
  int findIndexOf(uint32_t value, uint16_t* index) const;
  void findIndexOfLastKey(uint32_t value, uint16_t* index) const;
};
