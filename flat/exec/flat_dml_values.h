// The values INSERT and UPDATE write: each value item of the rewritten
// query evaluated into the storage form of its target column, and the
// column store through which every such value reaches the driver or the
// change log.
//
// Evaluation of a value item for a target column:
//   plain column            that column of the current record; its kind
//                           gives the internal type (numbers and dates:
//                           double; logical: bit; text: character)
//   lone parameter marker   the parameter's converted value (a long value
//                           may stay in the long-value store, by offset)
//   long or binary target   NULL, or a lone text literal (hexadecimal
//                           text for binary columns, two digits a byte, at
//                           most twice the column's width; bad digits
//                           22005); anything else 3849
//   anything else           the program's result: BIT from a logical or a
//                           number, numbers and times as doubles, dates and
//                           timestamps as their structures (the blank date
//                           NULL), text as characters
// A result of no bytes is NULL.
#pragma once

#include "flat/flat_types.h"

class FlatSelectField;

// One evaluated value. A NULL has no bytes and length 0.
class KV_FLAT_API FlatDmlValue {
 public:
  enum : uint32_t { noLongOffset = 0xFFFFFFFF };
  FlatDmlValue() = default;
  ~FlatDmlValue();
  FlatDmlValue(const FlatDmlValue&) = delete;
  FlatDmlValue& operator=(const FlatDmlValue&) = delete;

  // Forgets the value (NULL again).
  void clear();
  // Takes a copy of length bytes.
  KvStatus set(const void* bytes, uint32_t length, uint32_t internalType);

  const unsigned char* getBytes() const { return bytes_; }
  uint32_t getLength() const { return length_; }
  uint32_t getInternalType() const { return internalType_; }
  // The value's place in the connection's long-value store, or noLongOffset.
  uint32_t getLongOffset() const { return longOffset_; }
  void setLongOffset(uint32_t offset) { longOffset_ = offset; }
  bool isNull() const { return bytes_ == nullptr && longOffset_ == noLongOffset; }

 private:
  unsigned char* bytes_ = nullptr;  // ramAlloc, owned
  uint32_t length_ = 0;
  uint32_t internalType_ = flatItChar;
  uint32_t longOffset_ = noLongOffset;
};

// Evaluates value for the column of target (a plain column item) on the
// query's current row.
KV_FLAT_API KvStatus flatDmlEvaluate(FlatStatement* statement, FlatSqlDesc* query, const FlatSelectField* target,
                                     const FlatSelectField* value, FlatDmlValue* out);

// Stores value into column of the table's record (writing directly) or
// into the change-log entry begun for it: the driver checks the value
// first (checkValue), so that a bad value fails the statement instead of
// the commit. A table on its blank outer-join row takes only NULL (else
// 4011) and writes nothing.
KV_FLAT_API KvStatus flatDmlStore(FlatFileDesc* table, uint16_t column, const FlatDmlValue& value);
