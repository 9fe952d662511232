// DbfMemoStage: the memo values a record write will bring, held aside
// until the record itself is written. A statement stores its values column
// by column and may still fail after a memo column (a number out of range
// in a later column, a write the table refuses); since the memo file is
// only written together with the record (DbfMemoFile::writeStaged), such a
// statement leaves the memo file as it was.
//
// Each memo column has at most one staged value. Its bytes wait in a spool
// on the connection's scratch store (memory first, a temporary file when
// large), the values one after the other in the order they came; a value
// arrives whole or in pieces, each piece following the last.
#pragma once

#include "util/kv_types.h"

class KvSharedFile;
class KvTmpFile;

class DbfMemoStage {
 public:
  DbfMemoStage() = default;
  ~DbfMemoStage();
  DbfMemoStage(const DbfMemoStage&) = delete;
  DbfMemoStage& operator=(const DbfMemoStage&) = delete;

  // Stages a piece of a value of column (of a table of columnCount
  // columns), its spool on store: offset 0 starts the value (one staged
  // before for the column goes), a later piece must follow the last piece
  // of the value staged last (S1000 otherwise).
  KvStatus add(KvTmpFile* store, uint16_t columnCount, uint16_t column, const unsigned char* data, uint32_t length,
               uint32_t offset);
  // The column's value is not to be written after all.
  void drop(uint16_t column);
  // No value is to be written (the record buffer was read or reset, or the
  // record was written); the spool's space goes back to the store.
  void clear();

  bool isEmpty() const { return staged_ == 0; }
  uint16_t getColumnCount() const { return columnCount_; }
  // The length of column's staged value; false when it has none.
  bool get(uint16_t column, uint32_t* length) const;
  // Bytes of column's staged value from a value offset.
  KvStatus read(uint16_t column, uint32_t from, unsigned char* buffer, uint32_t length);

 private:
  struct Entry {
    bool staged;
    uint32_t start;   // spool offset of the value's first byte
    uint32_t length;
  };

  KvSharedFile* spool_ = nullptr;
  Entry* entries_ = nullptr;  // one per column, ramAllocZ'd
  uint16_t columnCount_ = 0;
  uint16_t staged_ = 0;       // entries with a value
  uint32_t end_ = 0;          // spool bytes in use
  int32_t last_ = -1;         // the column whose value ends the spool
};
