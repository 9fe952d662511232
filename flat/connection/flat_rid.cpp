// Record identifiers: the numeric and key forms and their state encodings;
// see flat_rid.h.
#include "flat/connection/flat_rid.h"

#include "util/memory/ram.h"

#include <cstring>

namespace {

// The bytes [offset, offset + length) of a buffer of size bytes, cut to fit,
// so that a caller's wrong length never writes outside the identifier.
uint16_t fitLength(uint16_t offset, uint16_t length, uint32_t size) {
  if (offset >= size) return 0;
  return uint16_t(length > size - offset ? size - offset : length);
}

// Numbers that stand for states other than a record, and the state each
// decodes to, in the order decoding tests them.
struct NumericCode {
  uint32_t number;
  uint8_t state;
};
const NumericCode numericCodes[] = {
    {0xFFFFFFFE, ridState1},
    {0xFFFFFFFC, ridState4},
    {0, ridNoRecord},
    {0xFFFFFFFB, ridState8},
};

}  // namespace

// ---------------------------------------------------------------- FlatRid

FlatRid::~FlatRid() = default;
uint16_t FlatRid::isEqual(FlatRid*) { return 0; }
uint16_t FlatRid::isEqual(const void*) { return 0; }
void FlatRid::set(uint8_t) {}
void FlatRid::set(const void*) {}
void FlatRid::reset() {}
void FlatRid::fullSet(const void*, uint16_t, uint16_t) {}
void FlatRid::fullSet(const void*) {}
void* FlatRid::fullGet() { return nullptr; }
void FlatRid::fullGet(void*, uint16_t, uint16_t) {}
void FlatRid::fullGet(void*) {}
void* FlatRid::get() { return nullptr; }
void FlatRid::get(void*) {}

// ---------------------------------------------------------------- FlatNumericRid

FlatNumericRid::~FlatNumericRid() = default;

uint8_t FlatNumericRid::decodeState(uint32_t number) {
  for (const NumericCode& code : numericCodes)
    if (number == code.number) return code.state;
  if (number & flatRidBit16) return ridState16;
  if (number & flatRidBit32) return ridPendingInsert;
  return ridRecord;
}

// Both sides are masked, so that an identifier marked 16 or 32 still equals
// the plain identifier of its record.
uint16_t FlatNumericRid::isEqual(FlatRid* other) {
  if (!other) return 0;
  uint32_t theirs = 0;
  other->get(&theirs);
  return (theirs & flatRidNumberMask) == (number_ & flatRidNumberMask);
}

uint16_t FlatNumericRid::isEqual(const void* value) {
  if (!value) return 0;
  uint32_t theirs;
  std::memcpy(&theirs, value, sizeof(theirs));
  return (theirs & flatRidNumberMask) == (number_ & flatRidNumberMask);
}

void FlatNumericRid::set(uint8_t code) {
  switch (code) {
    case ridState1: number_ = 0xFFFFFFFE; break;
    case ridState4: number_ = 0xFFFFFFFC; break;
    case ridState8: number_ = 0xFFFFFFFB; break;
    case ridState16: number_ |= flatRidBit16; break;
    case ridPendingInsert: number_ |= flatRidBit32; break;
    case ridNoRecord: number_ = 0; break;
    default: break;  // the number is kept
  }
  state_ = code;
}

void FlatNumericRid::set(const void* value) {
  std::memcpy(&number_, value, sizeof(number_));
  state_ = ridRecord;
}

void FlatNumericRid::reset() {
  number_ = 0;
  state_ = ridNoRecord;
}

void FlatNumericRid::fullSet(const void* image, uint16_t offset, uint16_t length) {
  length = fitLength(offset, length, sizeof(number_));
  std::memcpy(reinterpret_cast<unsigned char*>(&number_) + offset, image, length);
  state_ = decodeState(number_);
}

void FlatNumericRid::fullSet(const void* image) {
  std::memcpy(&number_, image, sizeof(number_));
  state_ = decodeState(number_);
}

void* FlatNumericRid::fullGet() { return &number_; }

void FlatNumericRid::fullGet(void* out, uint16_t offset, uint16_t length) {
  length = fitLength(offset, length, sizeof(number_));
  std::memcpy(out, reinterpret_cast<const unsigned char*>(&number_) + offset, length);
}

void FlatNumericRid::fullGet(void* out) { std::memcpy(out, &number_, sizeof(number_)); }

void* FlatNumericRid::get() { return &number_; }

void FlatNumericRid::get(void* out) {
  uint32_t proper = number_ & flatRidNumberMask;
  std::memcpy(out, &proper, sizeof(proper));
}

// ---------------------------------------------------------------- FlatKeyRid

FlatKeyRid::~FlatKeyRid() { ramFree(image_); }

KvStatus FlatKeyRid::initialize(uint16_t keyLength) {
  auto* image = static_cast<unsigned char*>(ramAllocZ(uint32_t(keyLength) + 1));
  if (!image) return kvFailure;
  ramFree(image_);
  image_ = image;
  keyLength_ = keyLength;
  image_[0] = ridNoRecord;
  state_ = ridNoRecord;
  return kvSuccess;
}

// An identifier of no record equals nothing, not even itself.
uint16_t FlatKeyRid::isEqual(FlatRid* other) {
  if (!image_ || image_[0] == ridNoRecord || !other) return 0;
  return other->isEqual(static_cast<const void*>(image_ + 1));
}

uint16_t FlatKeyRid::isEqual(const void* value) {
  if (!image_ || image_[0] == ridNoRecord || !value) return 0;
  return std::memcmp(image_ + 1, value, keyLength_) == 0;
}

void FlatKeyRid::set(uint8_t code) {
  if (!image_) return;
  switch (code) {
    case ridRecord:
    case ridState1:
    case ridState4:
    case ridState8:
    case ridNoRecord:
      state_ = code;
      break;
    case ridState16:
    case ridPendingInsert:
      state_ |= code;
      break;
    default:
      break;  // the held state is kept
  }
  image_[0] = code;
}

void FlatKeyRid::set(const void* value) {
  if (!image_) return;
  std::memcpy(image_ + 1, value, keyLength_);
  image_[0] = ridRecord;
  state_ = ridRecord;
}

void FlatKeyRid::reset() {
  state_ = ridNoRecord;
  if (image_) image_[0] = ridNoRecord;
}

void FlatKeyRid::fullSet(const void* image, uint16_t offset, uint16_t length) {
  if (!image_) return;
  length = fitLength(offset, length, uint32_t(keyLength_) + 1);
  std::memcpy(image_ + offset, image, length);
  state_ = *static_cast<const unsigned char*>(image);
}

void FlatKeyRid::fullSet(const void* image) {
  if (!image_) return;
  std::memcpy(image_, image, uint32_t(keyLength_) + 1);
  state_ = image_[0];
}

void* FlatKeyRid::fullGet() { return image_; }

void FlatKeyRid::fullGet(void* out, uint16_t offset, uint16_t length) {
  if (!image_) return;
  length = fitLength(offset, length, uint32_t(keyLength_) + 1);
  std::memcpy(out, image_ + offset, length);
}

void FlatKeyRid::fullGet(void* out) {
  if (image_) std::memcpy(out, image_, uint32_t(keyLength_) + 1);
}

void* FlatKeyRid::get() { return image_ ? image_ + 1 : nullptr; }

void FlatKeyRid::get(void* out) {
  if (image_) std::memcpy(out, image_ + 1, keyLength_);
}
