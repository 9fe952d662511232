// The test file driver's half of the table contract: FlatTestSharedField is
// one column; FlatTestSharedDesc is one open table file of a connection
// (its descriptor, layout, the record locks the connection holds, and the
// in-memory indexes built at open); FlatTestFileDesc is one statement's
// reader over it (current record and its buffer, the index it walks).
#pragma once

#include "drivers/flattest/flattest_format.h"
#include "flat/connection/flat_file_desc.h"
#include "flat/connection/flat_shared_desc.h"

#include <map>
#include <set>
#include <string>
#include <vector>

// A column: its engine type is its SQL type; long columns cannot be
// searched.
class FlatTestSharedField : public FlatSharedField {
 public:
  ~FlatTestSharedField() override;
  int16_t getFlatFieldType() override;
  int16_t isSearchable() override;
  int16_t isUpdatable() override;
};

class FlatTestSharedDesc : public FlatSharedDesc {
 public:
  FlatTestSharedDesc(FlatConnection* connection, FlatFileDesc* reader, int file, const FlatTestLayout& layout);
  // Releases every lock the connection holds on the file and closes it.
  ~FlatTestSharedDesc() override;

  KvStatus setRecordCnt() override;
  KvStatus updateDir() override;

  int getFile() const { return file_; }
  const FlatTestLayout& getLayout() const { return layout_; }
  uint64_t recordOffset(uint32_t record) const {
    return layout_.headerBytes + uint64_t(record - 1) * layout_.recordWidth;
  }
  // Reads the record count from the file (other connections may append).
  KvStatus refreshRecordCount();
  KvStatus readRecordBytes(uint32_t record, unsigned char* buffer);

  // ---- locks, by lock offset (the record number, or 0 for the header)
  KvStatus lock(uint32_t slot);
  void unlock(uint32_t slot);
  int holds(uint32_t slot) const { return held_.count(slot) != 0; }
  void unlockAll();
  // Releases the record locks (kind 1) and the header lock; the index and
  // update locks stay with their own unlocks.
  void unlockRecords();

  // ---- indexes: for each indexed column, its keys and their records
  typedef std::multimap<std::string, uint32_t> Index;
  Index* getIndex(uint16_t column);
  // The sortable key of a column in a record buffer ("" for null).
  std::string keyOf(const unsigned char* record, uint16_t column) const;
  KvStatus buildIndexes();
  // Builds the indexes again when the file holds another number of records
  // than when they were built (another connection or process appended).
  // An update in place by another process is not seen: the indexes are
  // this connection's, kept by its own writes.
  KvStatus refreshIndexes();

 private:
  int file_;
  FlatTestLayout layout_;
  std::set<uint32_t> held_;
  std::map<uint16_t, Index> indexes_;
  uint32_t indexedRecords_ = 0;  // the record count the indexes were built for
};

std::string flatTestSortableDouble(double value);

class FlatTestFileDesc : public FlatFileDesc {
 public:
  FlatTestFileDesc() = default;
  ~FlatTestFileDesc() override;

  KvStatus openDataFile(FlatConnection* connection, const unsigned char* name) override;
  KvStatus getMaxRecords(uint32_t* out) override;
  KvStatus readNextRec(uint16_t* found) override;
  KvStatus readRecord(GetRecRetType* out) override;
  KvStatus getFieldData(uint16_t column, void* buffer, int32_t* length, uint16_t bufferSize,
                        uint8_t* kind) override;
  KvStatus getRecordID(void* out) override;
  KvStatus setRecordID() override;
  KvStatus setRecordPosition() override;
  KvStatus resetToFirstRecord() override;
  KvStatus updateColumn(uint16_t column, const void* value, uint32_t length, uint32_t internalType) override;
  KvStatus updateLargeColumn(uint16_t column, const void* value, uint32_t length, uint32_t offset) override;
  KvStatus writeRecord(uint16_t mode) override;
  KvStatus initializeForInsert() override;
  KvStatus deleteRecord() override;
  KvStatus useIndex(const unsigned char* name) override;
  KvStatus lockRecord(uint16_t mode) override;
  KvStatus unlockRecord(uint16_t mode, FlatRid* rid) override;
  KvStatus lockHeaders() override;
  KvStatus lockIndex() override;
  void unlockIndex() override;
  void unlockHeaders(uint16_t mode) override;
  KvStatus deleteKeyFromIndex(uint16_t column, uint16_t* removed) override;
  KvStatus addKeyToIndex(uint16_t column) override;
  KvStatus addKeyToIndex() override;
  KvStatus closeIndex(const unsigned char* name) override;
  KvStatus getLargeColumn(uint16_t column, void* buffer, uint32_t size, uint32_t offset, uint32_t* got,
                          uint32_t* total) override;
  KvStatus checkKeyViolation() override;
  KvStatus checkKeyViolation2() override;
  KvStatus checkValue(uint16_t column, const void* value, uint32_t length, uint32_t internalType) override;

  // The optimizer's side (flattest_plan.cpp): each indexed column is an
  // index of one key named after the column; evaluateOptDesc takes the
  // cursor's evaluated range, which the next resetToFirstRecord walks.
  KvStatus initializeIndexes(FlatStatement* statement) override;
  KvStatus evaluateOptDesc(uint16_t* mode) override;

  uint32_t getCurrent() const { return current_; }
  // Scans started on this reader (resetToFirstRecord calls), so tests can
  // tell how often a table was read.
  uint32_t getScanCount() const { return scans_; }
  const std::vector<unsigned char>& getBuffer() const { return buffer_; }

 private:
  FlatTestSharedDesc* table() const { return static_cast<FlatTestSharedDesc*>(shared_); }
  // The record an identifier names (0: none): its number, or with offset
  // keys the record at its byte offset.
  uint32_t recordOf(FlatRid* rid) const;
  uint32_t ridNumber() const;
  void setRidRecord(uint32_t n);
  // Encodes a value of an internal type into column of the buffer.
  KvStatus encode(uint16_t column, const void* value, uint32_t length, uint32_t internalType,
                  unsigned char* record);
  KvStatus checkUnique(const unsigned char* record, uint32_t self);

  std::vector<unsigned char> buffer_;
  uint32_t current_ = 0;  // the current record number; 0 before the first
  uint32_t scans_ = 0;
  // Set by useIndex: the records in key order that readNextRec walks.
  int indexColumn_ = -1;
  std::vector<uint32_t> order_;
  size_t orderPosition_ = 0;
  // The range of the optimizer's plan, in the index's key form.
  KvStatus planOrder();
  int planned_ = 0;
  int planColumn_ = -1;  // -1: the ROWID range
  int planEmpty_ = 0;
  int planDescending_ = 0;
  int planHasLow_ = 0, planHasHigh_ = 0, planLowInclusive_ = 0, planHighInclusive_ = 0;
  std::string planLow_, planHigh_;
};
