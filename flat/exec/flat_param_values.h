// The parameter markers of a prepared statement as the engine sees them.
//
// For each marker (numbered from 0 in order of appearance) the engine keeps
// the SQL type that the statement's use of it gives (the expression
// compiler writes it; the bind step checks the application's type against
// it) and the value the application bound, converted once to the engine's
// internal form (the bind step writes it; the evaluator reads it):
//
//   bound SQL type                     internal form of the value
//   -7, -6, -5, 4, 5, 6, 7, 8          double (flatItDouble)
//   2, 3                               decimal text (flatItDecimalText)
//   9, 10, 11                          date, time, timestamp structures
//   1, 12, -2, -3                      the bytes (flatItChar, flatItBinary)
//   -1, -4                             the bytes, or an offset in the
//                                      connection's long-value store where a
//                                      4-byte length and the bytes stand
//
// A value of length 0 without a long-value offset is NULL.
#pragma once

#include "flat/flat_types.h"

struct FlatParamValue {
  int16_t markerType = 0;  // from the statement's use; 0 while unknown
  int16_t boundType = 0;   // SQL type the application bound; 0: no value yet
  uint32_t internalType = 0;
  unsigned char* value = nullptr;  // owned
  uint32_t length = 0;
  int32_t longOffset = -1;  // in the long-value store, or -1
};

class KV_FLAT_API FlatParamValues {
 public:
  FlatParamValues() = default;
  ~FlatParamValues();
  FlatParamValues(const FlatParamValues&) = delete;
  FlatParamValues& operator=(const FlatParamValues&) = delete;

  // Forgets every marker (a new prepare).
  void clear();
  // Frees the values; the markers and their types stay.
  void releaseValues();
  uint16_t getCount() const { return count_; }
  // The marker's entry, made (with every lower one) on first use; null
  // when memory is exhausted.
  FlatParamValue* at(uint16_t marker);
  // The marker's entry, or null when the statement has no such marker yet.
  const FlatParamValue* find(uint16_t marker) const { return marker < count_ ? &entries_[marker] : nullptr; }
  KvStatus setMarkerType(uint16_t marker, int16_t sqlType);
  // A value of length bytes in the internal form (null value: NULL).
  KvStatus setValue(uint16_t marker, int16_t boundType, uint32_t internalType, const void* value, uint32_t length);
  // The same with a ramAlloc block of the value, which the entry takes over
  // on success (on failure the caller still owns it).
  KvStatus adoptValue(uint16_t marker, int16_t boundType, uint32_t internalType, unsigned char* value,
                      uint32_t length);
  // A long value that stands in the connection's long-value store.
  KvStatus setLongValue(uint16_t marker, int16_t boundType, int32_t offset);

 private:
  FlatParamValue* entries_ = nullptr;
  uint16_t count_ = 0;
  uint16_t capacity_ = 0;
};
