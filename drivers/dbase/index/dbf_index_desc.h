// DbfIndexDesc: the base of every index of the dBASE driver, one object a
// single-index file (.NDX, .NTX, .IDX) or a tag (.MDX, .CDX), on the
// engine's FlatIndexDesc. It holds what every format shares: the index's
// geometry from its header (root, entry size, keys a page, key type and
// length), its flags, its key form and order, the pages it keeps read
// (TreeInfo levels), and the bulk build over the record sort. Each format
// derives from it and fills in the format operations (the virtual
// operations after FlatIndexDesc's), which the driver's own code calls:
// key upkeep on writes, index builds, VERIFY INDEX and the optimizer.
//
// A table reader walks an index through a DbfIndexCursor: its path of
// TreeInfo levels from the root to the current entry, each level a page
// buffer, its page number and the position in it. Levels a path lets go
// return to the index's free list with their buffers, so that the next
// search that needs the same page (the root, mostly) does not read it
// again. When a lock shows that another process changed the index, every
// page the index keeps is marked stale (markStale) and read again on its
// next use.
//
// Every page read is checked before it is used (the format's checkPage):
// a key count beyond the page's room, a page number of 0, a path deeper
// than dbfIndexMaxDepth or one that meets a page twice is "Not a valid
// index file" (1238); a page the file does not hold whole is "Error reading
// index file" (1201). Nothing is written while a damaged page is found.
#pragma once

#include "drivers/dbase/index/dbf_index_file.h"
#include "drivers/dbase/index/dbf_index_keys.h"
#include "flat/query/flat_index_desc.h"

class DbfFileDesc;
class DbfIndexDesc;
class DbfSharedDesc;

// One key column of a dBASE index.
class DbfKeyField : public FlatKeyField {
 public:
  DbfKeyField() = default;
  ~DbfKeyField() override;
};

// One level of a path: a page buffer, the page it holds (0: none) and the
// position in it. The buffer has room for one entry more than a page, so
// that an entry moved behind a page's last one never runs past it; only
// the page's own bytes are written.
class TreeInfo : public KvObject {
 public:
  TreeInfo() = default;
  ~TreeInfo() override;
  uint32_t pageNo = 0;
  // Toward the root in a path; the next free level in the free list.
  TreeInfo* parent = nullptr;
  int32_t position = 0;
  unsigned char* page = nullptr;  // owned
  uint32_t generation = 0;        // the index's generation when the page was read
};

// A reader's place in one index: its path, and the read lock it holds.
// The destructor gives the path back to the index.
class DbfIndexCursor {
 public:
  DbfIndexCursor(DbfIndexDesc* index, DbfFileDesc* reader) : index_(index), reader_(reader) {}
  ~DbfIndexCursor();
  DbfIndexCursor(const DbfIndexCursor&) = delete;
  DbfIndexCursor& operator=(const DbfIndexCursor&) = delete;

  DbfIndexDesc* index() const { return index_; }
  DbfFileDesc* reader() const { return reader_; }
  // The record the reader stands on (its identifier's number), 0 for none;
  // fixedRecord instead when it is set.
  uint32_t record() const;
  // Whether the reader's identifier names no record (state 0x40).
  bool hasNoRecord() const;

  TreeInfo* top = nullptr;  // the current level; its parents lead to the root
  uint32_t depth = 0;
  // Leaf pages entered since the walk last started at the root: a walk
  // that enters more leaves than the file has pages goes round in circles.
  uint32_t leavesEntered = 0;
  // A read lock this cursor holds: readLocked, and under K+V the slot byte
  // taken (0: the index's own write lock covers it).
  bool readLocked = false;
  uint32_t readSlot = 0;
  // A record given directly rather than by the reader (the entries of a
  // tag directory, whose records are the tags' header offsets); 0: none.
  uint32_t fixedRecord = 0;

 private:
  DbfIndexDesc* index_;
  DbfFileDesc* reader_;
};

// Where a bulk build takes each record's key from: the KEY expression
// evaluated for the reader's current record, in the form makeKey takes (a
// text, or an 8-byte double). include false leaves the record out (its FOR
// condition does not hold). value has room for dbfKeyValueBytes (the
// evaluator's longest text result).
enum : uint32_t { dbfKeyValueBytes = 1024 };
class DbfKeySource {
 public:
  virtual ~DbfKeySource();
  virtual KvStatus recordValue(DbfFileDesc* reader, uint8_t* value, uint32_t* length, bool* include) = 0;
};

// What VERIFY INDEX carries through a walk of the tree.
struct DbfVerifyState {
  uint32_t keyCount = 0;
  uint32_t leafDepth = 0xFFFF;   // the depth of the first leaf; every leaf must be as deep
  unsigned char* visited = nullptr;  // a bit a page: no page may be met twice
  uint32_t visitedPages = 0;
  bool haveLastKey = false;
  uint32_t lastRecord = 0;
  uint8_t lastKey[dbfIndexMaxKeyBytes] = {0};
};

class DbfIndexDesc : public FlatIndexDesc {
 public:
  // The index flags (a byte of the header's meaning).
  enum : uint8_t {
    indexWriteLocked = 0x01,
    indexDescending = 0x08,      // as an .MDX tag header says
    indexUniqueProperty = 0x40,  // dBASE UNIQUE: only the first record of a key is indexed
    indexReadOnly = 0x80,        // read but never changed
  };
  // State flags.
  enum : uint32_t {
    stateLiveSeen = 0x01,   // a build has seen a live record with the current key
    stateOneRegion = 0x02,  // the last write lock was taken as one region
    stateKeyRemoved = 0x08, // the record's key was removed and must be added again
  };
  // The driver's bits of the engine's index flags (beside indexUnique, the
  // unique constraint).
  enum : uint32_t {
    indexIntlSort = 0x100,   // character keys compare by the international collation
    indexDisabled = 0x200,   // not maintained
  };

  explicit DbfIndexDesc(DbfSharedDesc* table);
  // Frees the levels of the free list.
  ~DbfIndexDesc() override;

  // Attaches the index to its file: the name becomes the file's base name,
  // the international sort is the file's, the order ascending; one key
  // field. Out of memory fails.
  KvStatus initialize(DbfIndexFile* file);
  FlatKeyField* allocKeyField() override;

  // ---- format operations, in slot order after FlatIndexDesc's
  // 17. The next entry in key order from the cursor's place (the first
  // when the cursor has no path): its record, 0 at the end (the path is
  // then let go).
  virtual KvStatus nextKey(DbfIndexCursor* cursor, uint32_t* record) = 0;
  // 18. The key at the cursor's place against key, in the index's order;
  // nonzero when the place holds no key.
  virtual KvStatus compareCurrentKey(DbfIndexCursor* cursor, const uint8_t* key, int* result) = 0;
  // 19. Descends from the root to the first entry of key: record is its
  // record, 0 when no entry has the key. Unless exact, the place then
  // moves over the duplicates that sort before the reader's record, where
  // an insert or a delete of that record belongs.
  virtual KvStatus searchKey(DbfIndexCursor* cursor, const uint8_t* key, uint32_t* record, bool exact) = 0;
  // 20. One key of a bulk build, in sorted order, for the reader's record:
  // a value as makeKey takes it.
  virtual KvStatus appendSortedKey(DbfIndexCursor* cursor, const uint8_t* value, uint32_t length);
  // 21. Writes the root and the end of the file to the header when pages
  // were added; the base has no header and fails.
  virtual KvStatus writeHeader();
  // 22. The key of a value (see dbf_index_keys.h); types it does not know
  // build nothing.
  virtual KvStatus makeKey(const uint8_t* value, uint32_t length, uint8_t* key);
  // 23-24. Adds or removes the reader's record under key.
  virtual KvStatus insertKey(DbfIndexCursor* cursor, const uint8_t* key) = 0;
  virtual KvStatus deleteKey(DbfIndexCursor* cursor, const uint8_t* key) = 0;
  // 25. The key count of a page.
  virtual uint16_t getPageKeyCount(const uint8_t* page) const = 0;
  // 26-28. The index's locks between processes; the base takes none.
  virtual KvStatus lockForWrite(DbfIndexCursor* cursor);
  virtual void unlockIndexFile();
  virtual KvStatus lockForRead(DbfIndexCursor* cursor);
  // 29. Prepares an empty tree for a bulk build.
  virtual KvStatus startNewTree(DbfIndexCursor* cursor) = 0;
  // 30. Checks the tree from the root (VERIFY INDEX): the key count in
  // state; a fault is 1238. The base succeeds at once.
  virtual KvStatus verifyPage(uint32_t page, uint32_t depth, DbfVerifyState* state);
  // 31. The KEY expression's text from the header (ANSI); empty in the base.
  virtual KvStatus getKeyText(unsigned char* text, uint32_t size);
  // Beyond the slots: lets go of the read lock the cursor holds.
  virtual void unlockForRead(DbfIndexCursor* cursor);
  // A key already made, in sorted order (buildIndex); live: the record is
  // not marked deleted.
  virtual KvStatus appendBuiltKey(DbfIndexCursor* cursor, const uint8_t* key, bool live) = 0;
  // Ends a bulk build: writes what is still held and the header.
  virtual KvStatus finishBuild(DbfIndexCursor* cursor) = 0;

  // ---- shared operations
  // The keys' order (not negated for descending indexes).
  int compareKeys(const uint8_t* a, const uint8_t* b) const;
  // Fills the index from the reader's records (the records its flags
  // deliver), keys from source, through the record sort; duplicates and
  // the unique rules as appendSortedKey. On failure the cursor's path is
  // let go.
  KvStatus buildIndex(DbfIndexCursor* cursor, DbfKeySource* source);
  // The duplicate rule of sorted keys: keys that differ clear
  // stateLiveSeen; an equal key under the unique constraint fails with
  // 1236 (23000) once a live record of the run was seen and another live
  // one comes; under the unique property skip is set.
  KvStatus checkSortedDuplicate(const uint8_t* previous, const uint8_t* key, bool previousLive, bool live,
                                bool* skip);
  // Checks the whole tree from the root: keyCount receives the keys.
  KvStatus verifyTree(uint32_t* keyCount);

  // Reads page pageNo onto the cursor's path (from the free list when a
  // level holds it fresh), checked; position 0.
  KvStatus pushPage(DbfIndexCursor* cursor, uint32_t pageNo, TreeInfo** level);
  // Gives the cursor's top level back to the free list.
  void popLevel(DbfIndexCursor* cursor);
  // Gives the whole path back.
  void releasePath(DbfIndexCursor* cursor);
  // A level not on any path, its buffer zeroed, holding no page; null out
  // of memory. Callers give it back with freeLevel.
  TreeInfo* takeLevel();
  void freeLevel(TreeInfo* level);
  // A new level with a buffer of getBufferBytes(); formats whose levels
  // keep more than a page (decoded compact leaves) make a larger kind.
  virtual TreeInfo* newLevel();
  // Writes a level's page and forgets other copies of that page.
  KvStatus writeLevel(TreeInfo* level);
  // Every page read before is read again on its next use.
  void markStale() { ++generation_; }

  // ---- what the header gave
  DbfIndexFile* getFile() const { return file_; }
  DbfSharedDesc* getTable() const { return table_; }
  uint32_t getRoot() const { return root_; }
  void setRoot(uint32_t page) { root_ = page; }
  uint16_t getEntrySize() const { return entrySize_; }
  uint16_t getMaxKeys() const { return maxKeys_; }
  unsigned char getKeyType() const { return keyType_; }
  uint16_t getKeyLength() const { return keyLength_; }
  uint8_t getIndexFlags() const { return indexFlags_; }
  void setIndexFlags(uint8_t flags) { indexFlags_ = flags; }
  bool isDescending() const { return descending_ != 0; }
  bool isUniqueProperty() const { return (indexFlags_ & indexUniqueProperty) != 0; }
  bool isUniqueConstraint() const { return (flags & indexUnique) != 0; }
  uint32_t getStateFlags() const { return stateFlags_; }
  uint16_t getTagNumber() const { return tagNumber_; }
  uint32_t getPageSize() const { return file_ ? file_->getPageSize() : uint32_t(dbfIndexPageUnit); }
  // Bytes of a level's buffer: a page and one entry more.
  uint32_t getBufferBytes() const { return getPageSize() + entrySize_; }
  // Pages read from the file (not from kept levels), for benchmarks.
  uint64_t getPagesRead() const { return pagesRead_; }

 protected:
  // Checks a page just read (key count and the like); a fault is 1238.
  virtual KvStatus checkPage(const TreeInfo* level);
  // Sets the key type and length, the order that goes with them, and the
  // entry geometry (after the header was checked).
  void setKeyForm(unsigned char type, uint16_t length, uint16_t entrySize, uint16_t maxKeys);
  // Whether record n of the reader's table is live (not marked deleted).
  KvStatus isRecordLive(DbfFileDesc* reader, uint32_t n, bool* live);

  DbfSharedDesc* table_;
  DbfIndexFile* file_ = nullptr;
  uint16_t tagNumber_ = 0;
  uint32_t tagHeaderOffset_ = 0;
  uint32_t root_ = 0;
  uint16_t entrySize_ = 0;
  uint16_t maxKeys_ = 0;
  unsigned char keyType_ = 'C';
  uint8_t indexFlags_ = 0;
  uint32_t eofAtStart_ = 0;   // the file's end when the current change began
  uint32_t rootAtStart_ = 0;  // the root then
  uint16_t keyLength_ = 0;
  uint32_t descending_ = 0;
  DbfKeyCompare keyCompare_ = nullptr;  // null: text keys
  uint32_t stateFlags_ = stateOneRegion;
  bool oem_ = false;  // text keys are in the OEM character set

 private:
  TreeInfo* freeLevels_ = nullptr;  // the page cache: levels no path holds
  uint32_t freeCount_ = 0;
  uint32_t generation_ = 1;
  uint64_t pagesRead_ = 0;
};
