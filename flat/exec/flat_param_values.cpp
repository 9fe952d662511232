// The parameter markers of a prepared statement; see flat_param_values.h.
#include "flat/exec/flat_param_values.h"

#include "util/memory/ram.h"

#include <cstring>
#include <new>

FlatParamValues::~FlatParamValues() {
  clear();
  ramFree(entries_);
}

void FlatParamValues::clear() {
  releaseValues();
  count_ = 0;
}

void FlatParamValues::releaseValues() {
  for (uint16_t i = 0; i < count_; ++i) {
    ramFree(entries_[i].value);
    entries_[i].value = nullptr;
    entries_[i].length = 0;
    entries_[i].longOffset = -1;
    entries_[i].boundType = 0;
  }
}

FlatParamValue* FlatParamValues::at(uint16_t marker) {
  if (marker == 0xFFFF) return nullptr;
  if (marker >= capacity_) {
    uint32_t capacity = capacity_ ? capacity_ : 8;
    while (capacity <= marker) capacity *= 2;
    if (capacity > 0xFFFF) capacity = 0xFFFF;
    void* block = entries_;
    if (ramResize(&block, capacity * uint32_t(sizeof(FlatParamValue))) != kvSuccess) return nullptr;
    entries_ = static_cast<FlatParamValue*>(block);
    capacity_ = uint16_t(capacity);
  }
  while (count_ <= marker) new (&entries_[count_++]) FlatParamValue();
  return &entries_[marker];
}

KvStatus FlatParamValues::setMarkerType(uint16_t marker, int16_t sqlType) {
  FlatParamValue* entry = at(marker);
  if (!entry) return kvFailure;
  entry->markerType = sqlType;
  return kvSuccess;
}

KvStatus FlatParamValues::setValue(uint16_t marker, int16_t boundType, uint32_t internalType, const void* value,
                                   uint32_t length) {
  FlatParamValue* entry = at(marker);
  if (!entry) return kvFailure;
  unsigned char* copy = nullptr;
  if (value && length) {
    copy = static_cast<unsigned char*>(ramAlloc(length));
    if (!copy) return kvFailure;
    std::memcpy(copy, value, length);
  }
  ramFree(entry->value);
  entry->value = copy;
  entry->length = copy ? length : 0;
  entry->boundType = boundType;
  entry->internalType = internalType;
  entry->longOffset = -1;
  return kvSuccess;
}

KvStatus FlatParamValues::adoptValue(uint16_t marker, int16_t boundType, uint32_t internalType, unsigned char* value,
                                     uint32_t length) {
  FlatParamValue* entry = at(marker);
  if (!entry) return kvFailure;
  ramFree(entry->value);
  entry->value = length ? value : nullptr;
  if (!length) ramFree(value);
  entry->length = length;
  entry->boundType = boundType;
  entry->internalType = internalType;
  entry->longOffset = -1;
  return kvSuccess;
}

KvStatus FlatParamValues::setLongValue(uint16_t marker, int16_t boundType, int32_t offset) {
  FlatParamValue* entry = at(marker);
  if (!entry) return kvFailure;
  ramFree(entry->value);
  entry->value = nullptr;
  entry->length = 0;
  entry->boundType = boundType;
  entry->internalType = flatItChar;
  entry->longOffset = offset;
  return kvSuccess;
}
