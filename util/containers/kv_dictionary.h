// Hashed set and dictionaries.
//
// KvSet is an open-addressing hash table of element pointers: an element
// starts at bucket (hash * 0x9E3779B9) mod table size, computed with 32-bit
// unsigned multiplication, and probes towards lower buckets, wrapping from
// bucket 0 to the last. The table is kept at most 75% full (fill) and grows
// by 25% (growth) past that, so at least one bucket is always empty and
// every probe ends.
//
// KvDictionary keeps associations in a KvSet; KvSeqDictionary keeps them in
// an array in insertion order and searches linearly. An association pairs a
// key (an integer or a KvSubString*) with data (an integer or a KvObject*);
// both are pointer-sized, so an integer may carry a pointer whole.
//
// Ownership: a dictionary owns its associations, never by itself their keys
// and data. Its destructor deletes the associations only; a caller that
// hands keys and data over to the dictionary disposes of them with
// deleteKeyAndData(). One dictionary holds one kind of key.
#pragma once

#include "util/containers/kv_array.h"

class KvSubString;

// Base of the three association classes; every operation answers 0 and does
// nothing here.
class KV_UTIL_API KvAssociation : public KvObject {
 public:
  KvAssociation() = default;
  ~KvAssociation() override;

  virtual int isEqual(uintptr_t key) const;
  virtual int isEqual(const KvSubString* key) const;
  // Asks other whether it equals this association's key.
  virtual int isEqual(const KvAssociation* other) const;
  virtual int isEqualCi(const KvSubString* key) const;
  virtual int isEqualCi(const KvAssociation* other) const;
  virtual uintptr_t getIntKey() const;
  virtual uintptr_t getIntData() const;
  virtual KvSubString* getSubKey() const;
  virtual KvObject* getPtrData() const;
  virtual void setPtrData(KvObject* data);
  virtual void setIntData(uintptr_t data);
  virtual uint32_t hash() const;
  virtual void deleteKeyAndData();

 protected:
  KvAssociation(uintptr_t key, uintptr_t data) : key_(key), data_(data) {}

  uintptr_t key_ = 0;
  uintptr_t data_ = 0;
};

// Integer key, integer data. The hash is the key (folded to 32 bits).
class KV_UTIL_API KvIntIntKey : public KvAssociation {
 public:
  KvIntIntKey(uintptr_t key, uintptr_t data) : KvAssociation(key, data) {}
  ~KvIntIntKey() override;
  using KvAssociation::isEqual;
  using KvAssociation::isEqualCi;
  int isEqual(uintptr_t key) const override { return key_ == key; }
  int isEqual(const KvAssociation* other) const override { return other->isEqual(key_); }
  // Case does not apply to numbers.
  int isEqualCi(const KvAssociation* other) const override { return other->isEqual(key_); }
  uintptr_t getIntKey() const override { return key_; }
  uintptr_t getIntData() const override { return data_; }
  void setIntData(uintptr_t data) override { data_ = data; }
  uint32_t hash() const override;
};

// Integer key, object data; deleteKeyAndData deletes the data object.
class KV_UTIL_API KvIntPtrKey : public KvAssociation {
 public:
  KvIntPtrKey(uintptr_t key, KvObject* data) : KvAssociation(key, reinterpret_cast<uintptr_t>(data)) {}
  ~KvIntPtrKey() override;
  using KvAssociation::isEqual;
  using KvAssociation::isEqualCi;
  int isEqual(uintptr_t key) const override { return key_ == key; }
  int isEqual(const KvAssociation* other) const override { return other->isEqual(key_); }
  int isEqualCi(const KvAssociation* other) const override { return other->isEqual(key_); }
  uintptr_t getIntKey() const override { return key_; }
  KvObject* getPtrData() const override { return reinterpret_cast<KvObject*>(data_); }
  void setPtrData(KvObject* data) override { data_ = reinterpret_cast<uintptr_t>(data); }
  uint32_t hash() const override;
  void deleteKeyAndData() override;
};

// Substring key, object data. Keys are equal by their bytes (exactly, or
// ignoring case); a null key stands for the empty text. deleteKeyAndData
// deletes the key object and the data object.
class KV_UTIL_API KvSubPtrKey : public KvAssociation {
 public:
  KvSubPtrKey(KvSubString* key, KvObject* data)
      : KvAssociation(reinterpret_cast<uintptr_t>(key), reinterpret_cast<uintptr_t>(data)) {}
  ~KvSubPtrKey() override;
  using KvAssociation::isEqual;
  using KvAssociation::isEqualCi;
  int isEqual(const KvSubString* key) const override;
  int isEqual(const KvAssociation* other) const override { return other->isEqual(getSubKey()); }
  int isEqualCi(const KvSubString* key) const override;
  int isEqualCi(const KvAssociation* other) const override { return other->isEqualCi(getSubKey()); }
  KvSubString* getSubKey() const override { return reinterpret_cast<KvSubString*>(key_); }
  KvObject* getPtrData() const override { return reinterpret_cast<KvObject*>(data_); }
  void setPtrData(KvObject* data) override { data_ = reinterpret_cast<uintptr_t>(data); }
  // KvSubString::hash: the upper-cased sum of the first five bytes, so
  // keys equal without regard to case share a bucket chain.
  uint32_t hash() const override;
  void deleteKeyAndData() override;
};

// Abstract hashed set of element pointers.
class KV_UTIL_API KvSet : public KvObject {
 public:
  enum : uint16_t { defaultFill = 75, defaultGrowth = 25 };

  KvSet() = default;
  ~KvSet() override;

  virtual uint32_t doHash(const void* element) const = 0;
  // Nonzero when element equals key; doHash(key) must then equal
  // doHash(element).
  virtual int areEqual(const void* element, const void* key) const = 0;

  // Table for expected elements: expected * 100 / fill + 1 buckets. Elements
  // already held are kept, and the table is never made too small for them.
  KvStatus initialize(uint16_t expected);
  // Frees the buckets (not the elements) and restores the defaults.
  void reset();
  // Adds element. When the set holds an equal element, the new one takes its
  // bucket, the count stays, and the old one is returned in replaced for the
  // caller to dispose of; otherwise replaced is null. A set that was never
  // initialised makes a table of its own. On failure nothing is added.
  KvStatus add(void* element, void** replaced);
  // Bucket of the element equal to key, or the empty bucket where the search
  // stopped; the table size when there is no table.
  uint16_t findBucket(const void* key) const;
  // The element in a bucket (null when empty or past the table).
  void* getElementAt(uint16_t bucket) const {
    return bucket < tableSize_ ? buckets_.getAt(bucket) : nullptr;
  }

  uint16_t getTableSize() const { return tableSize_; }
  uint16_t getCount() const { return count_; }
  uint16_t getFill() const { return fill_; }
  uint16_t getGrowth() const { return growth_; }
  uint16_t getHighestCount() const { return highestCount_; }

 protected:
  uint16_t startBucket(uint32_t hash) const {
    return static_cast<uint16_t>(static_cast<uint32_t>(hash * 0x9E3779B9u) % tableSize_);
  }
  // Empties bucket (which holds an element) by the caller's wish; the count
  // drops. Used by bulk deletion, which empties the whole table.
  void clearBucket(uint16_t bucket) {
    buckets_.setAt(bucket, nullptr);
    --count_;
  }

 private:
  KV_LOCAL KvStatus rebuild(uint32_t expected);
  KV_LOCAL uint16_t probe(const void* key, uint32_t hash) const;

  KvArrayPVoid buckets_;  // tableSize_ slots, each null or an element; not owning
  uint16_t tableSize_ = 0;
  uint16_t count_ = 0;
  uint16_t fill_ = defaultFill;
  uint16_t growth_ = defaultGrowth;
  uint16_t highestCount_ = 0;
};

// Associations hashed by key. All keys of one dictionary are integers, or
// all are substrings.
class KV_UTIL_API KvDictionary : public KvSet {
 public:
  enum : uint32_t { flagIgnoreCase = 0x1 };  // substring keys compared ignoring case

  KvDictionary() = default;
  // Deletes the associations, not their keys and data.
  ~KvDictionary() override;

  uint32_t doHash(const void* element) const override;
  int areEqual(const void* element, const void* key) const override;

  // A key the dictionary holds already is replaced: the new association
  // takes the old one's place and the old association is deleted, its key
  // and data left to the caller. Failure adds nothing.
  KvStatus addAssoc(uintptr_t key, uintptr_t data);
  KvStatus addAssoc(uintptr_t key, KvObject* data);
  KvStatus addAssoc(KvSubString* key, KvObject* data);

  uint16_t getIndexForKey(uintptr_t key) const;
  uint16_t getIndexForKey(const KvSubString* key) const;
  // The data, or 0 / null when the key is absent.
  uintptr_t getIntForKey(uintptr_t key) const;
  uintptr_t getIntForKey(const KvSubString* key) const;
  KvObject* getPtrForKey(uintptr_t key) const;
  KvObject* getPtrForKey(const KvSubString* key) const;
  int doesExist(uintptr_t key) const;
  int doesExist(const KvSubString* key) const;
  // The association in a bucket, or null.
  KvAssociation* getAssocAt(uint16_t bucket) const {
    return static_cast<KvAssociation*>(getElementAt(bucket));
  }

  // Every association's key and data, then the association, from the last
  // bucket to the first; the count becomes 0.
  void deleteKeyAndData();
  // Deletes the associations (not keys and data), then resets the set.
  void reset();

  uint32_t getFlags() const { return flags_; }
  void setFlags(uint32_t flags) { flags_ = flags; }

 private:
  KV_LOCAL KvStatus addAssociation(KvAssociation* association);
  KV_LOCAL KvAssociation* find(const KvAssociation* probe) const;
  KV_LOCAL void deleteAssociations(bool withKeyAndData);

  uint32_t flags_ = 0;
};

// Associations in insertion order, searched from the first. Keys are not
// checked for duplicates: a look-up finds the first association added.
class KV_UTIL_API KvSeqDictionary : public KvArray {
 public:
  KvSeqDictionary() = default;
  // Deletes the associations from the last to the first, not their keys and
  // data.
  ~KvSeqDictionary() override;

  KvStatus addAssoc(uintptr_t key, uintptr_t data);
  KvStatus addAssoc(uintptr_t key, KvObject* data);
  KvStatus addAssoc(KvSubString* key, KvObject* data);

  // The index of the first association with the key; the count when absent.
  uint16_t getIndexForKey(uintptr_t key) const;
  uint16_t getIndexForKey(const KvSubString* key) const;
  int doesExist(uintptr_t key) const { return getIndexForKey(key) < count_; }
  int doesExist(const KvSubString* key) const { return getIndexForKey(key) < count_; }
  uintptr_t getIntForKey(uintptr_t key) const;
  uintptr_t getIntForKey(const KvSubString* key) const;
  KvObject* getPtrForKey(uintptr_t key) const;
  KvObject* getPtrForKey(const KvSubString* key) const;
  // Replaces the data of the key's association (the old data is not
  // deleted); nonzero when the key was found, 0 and nothing changed when not.
  int changeData(uintptr_t key, uintptr_t data);
  int changeData(uintptr_t key, KvObject* data);
  int changeData(const KvSubString* key, KvObject* data);

  KvAssociation* getAssocAtIndex(uint16_t index) const { return static_cast<KvAssociation*>(getAt(index)); }
  KvObject* getPtrDataAtIndex(uint16_t index) const { return getAssocAtIndex(index)->getPtrData(); }
  uintptr_t getIntDataAtIndex(uint16_t index) const { return getAssocAtIndex(index)->getIntData(); }
  KvSubString* getSubKeyAtIndex(uint16_t index) const { return getAssocAtIndex(index)->getSubKey(); }
  uintptr_t getIntKeyAtIndex(uint16_t index) const { return getAssocAtIndex(index)->getIntKey(); }

  // The association's key and data, then the association; the slot goes.
  void deleteKeyAndDataAtIndex(uint16_t index);
  // All of them, from the last to the first; the count becomes 0.
  void deleteKeyAndData();

  uint32_t getIgnoreCase() const { return ignoreCase_; }
  void setIgnoreCase(uint32_t ignoreCase) { ignoreCase_ = ignoreCase; }

 private:
  KV_LOCAL KvStatus append(KvAssociation* association);

  uint32_t ignoreCase_ = 0;  // nonzero: substring keys compared ignoring case
};
