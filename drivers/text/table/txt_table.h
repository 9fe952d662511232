// The text driver's half of the engine's table contract. TxtSharedField is
// one column; TxtSharedDesc one open text file of a connection (its
// definition, file number and where the data starts); TxtFileDesc one
// statement's reader over it (its row reader and position, the row being
// inserted).
//
// Rows are named by 8-byte keys holding the byte offset of the row's first
// character (big-endian, so that key order is file order); the table has
// no record count. Rows are read and appended, never changed in place.
#pragma once

#include "drivers/text/records/txt_row_reader.h"
#include "drivers/text/records/txt_row_writer.h"
#include "drivers/text/schema/txt_ini.h"
#include "flat/connection/flat_file_desc.h"
#include "flat/connection/flat_shared_desc.h"

#include <string>
#include <vector>

class TxtConnection;

enum : uint32_t {
  txtRowKeyBytes = 8,
  // The byte locked while a row is appended, beyond any text file's data.
  txtAppendLockOffset = 0x7FFFFFFF,
};

class TxtSharedField : public FlatSharedField {
 public:
  explicit TxtSharedField(const TxtColumnDef& def) : def_(def) {}
  ~TxtSharedField() override;
  int16_t getFlatFieldType() override;
  uint16_t getAttributes() override;
  int16_t isSearchable() override;
  int16_t isUpdatable() override;
  const TxtColumnDef& def() const { return def_; }

 private:
  TxtColumnDef def_;
};

class TxtSharedDesc : public FlatSharedDesc {
 public:
  TxtSharedDesc(FlatConnection* connection, FlatFileDesc* reader);
  ~TxtSharedDesc() override;

  // Opens the file of a definition in directory (read-write, else
  // read-only) and builds the columns. A missing file fails with S0002.
  KvStatus open(const std::string& directory, const std::string& tableName, const TxtTableDef& def);

  int getFile() const { return file_; }
  bool isReadOnly() const { return readOnly_; }
  bool isUsable() const { return usable_; }
  const TxtTableDef& getDef() const { return def_; }
  const std::vector<TxtColumnSpan>& getSpans() const { return spans_; }
  const std::string& getDirectory() const { return directory_; }
  const std::string& getTableName() const { return tableName_; }
  uint64_t getDataStart() const { return dataStart_; }
  void setDataStart(uint64_t offset) { dataStart_ = offset; }

 private:
  int file_ = 0;
  bool readOnly_ = false;
  bool usable_ = false;
  TxtTableDef def_;
  std::vector<TxtColumnSpan> spans_;
  std::string directory_;
  std::string tableName_;
  uint64_t dataStart_ = 0;
};

// Reads a table's file through bosFileRead.
class TxtFileSource : public TxtByteSource {
 public:
  void setFile(int file) { file_ = file; }
  KvStatus read(uint64_t offset, unsigned char* buffer, uint32_t length, uint32_t* got) override;

 private:
  int file_ = 0;
};

class TxtFileDesc : public FlatFileDesc {
 public:
  TxtFileDesc();
  ~TxtFileDesc() override;

  // Path: the directory, "/", and a table name KVTXT.INI defines or a file
  // name (TxtConnection::resolveTableName).
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
  KvStatus writeRecord(uint16_t mode) override;
  KvStatus initializeForInsert() override;
  KvStatus checkValue(uint16_t column, const void* value, uint32_t length, uint32_t internalType) override;

  // A writer for the engine's commit, on a table already open.
  KvStatus attachForCommit(TxtSharedDesc* shared);

 private:
  TxtSharedDesc* table() const { return static_cast<TxtSharedDesc*>(shared_); }
  KvStatus attach();
  void setRowKey(uint64_t offset);
  // The row offset a key names; false for none (a provisional key).
  bool rowOfKey(FlatRid* rid, uint64_t* offset) const;
  // The text a value takes in a column's file form.
  KvStatus formatValue(uint16_t column, const void* value, uint32_t length, uint32_t internalType,
                       std::string* out);
  KvStatus appendRow(const std::string& row, uint64_t* rowOffset);

  TxtFileSource source_;
  TxtRowReader reader_;
  uint64_t position_ = 0;
  bool started_ = false;
  // The current row is the insert buffer (a new row, or a pending insert
  // the engine loaded into it), not the row the reader read.
  bool insertRow_ = false;
  std::vector<TxtOutValue> insert_;
  std::vector<double> limits_;
};

// Splits "dir/name" (either separator) into its directory and name.
void txtSplitTablePath(const std::string& path, std::string* directory, std::string* name);
