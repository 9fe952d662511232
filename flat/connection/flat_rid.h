// Record identifiers: how the engine names one record of a table so that it
// can come back to it (keysets, the change log, index scans, positioned
// updates). FlatNumericRid is a 32-bit record number, for tables whose
// shared key length is 0; FlatKeyRid is a key of fixed length, for the
// others. FlatFileDesc::allocRid chooses between them.
//
// Every identifier has a state besides its value, and an image: the bytes
// the engine stores in keysets and logs.
//
// States (whose events the statement, the keyset and the drivers decide;
// the identifier only stores and encodes them):
//   0     a record
//   1, 4, 8, 16   codes set by keysets and drivers
//   32    a row that the change log holds as inserted by this transaction
//         (a delete of it is logged as kind 5, not 2)
//   0x40  no record (the state after construction and reset)
//
// Numeric image: the 4 bytes of the stored number (machine order), which
// encodes the state too:
//   state  number stored              image decodes to it when
//   0x40   0                          number is 0
//   1      0xFFFFFFFE                 number is 0xFFFFFFFE
//   4      0xFFFFFFFC                 number is 0xFFFFFFFC
//   8      0xFFFFFFFB                 number is 0xFFFFFFFB
//   16     number + bit 0x08000000    bit 0x08000000 is set
//   32     number + bit 0x04000000    bit 0x04000000 is set (none above)
//   0      the record number          none of the above
// Decoding tests -2, -4, 0, -5, bit 0x08000000, bit 0x04000000, in that
// order. The record number proper is the number masked with 0xF3FFFFFF, so
// record numbers must stay below 0x04000000 (flatMaxRecordNumber); tables
// that would need more are refused when opened.
//
// Key image: key length + 1 bytes: a state byte, then the key. The key
// identifier also keeps a held state, which can carry more than one of the
// bits 16 and 32 while the image's state byte holds the last code set.
#pragma once

#include "flat/flat_types.h"
#include "util/memory/kv_object.h"

enum : uint32_t {
  flatRidBit16 = 0x08000000,
  flatRidBit32 = 0x04000000,
  flatRidNumberMask = 0xF3FFFFFF,
  flatMaxRecordNumber = 0x03FFFFFF,
};

enum FlatRidState : uint8_t {
  ridRecord = 0,
  ridState1 = 1,
  ridState4 = 4,
  ridState8 = 8,
  ridState16 = 16,
  ridPendingInsert = 32,
  ridNoRecord = 0x40,
};

class KV_FLAT_API FlatRid : public KvObject {
 public:
  FlatRid() = default;
  ~FlatRid() override;

  // ---- virtual operations, in slot order after the destructor and compare.
  // The base answers 0 or null and does nothing.
  // Whether both name the same record.
  virtual uint16_t isEqual(FlatRid* other);
  // Whether this identifier's value equals the value bytes (4 bytes of a
  // number, or key length bytes of a key).
  virtual uint16_t isEqual(const void* value);
  // Sets a state code (see the table above for what each does).
  virtual void set(uint8_t code);
  // Sets a record from its value (number or key); state 0.
  virtual void set(const void* value);
  // Back to no record (state 0x40).
  virtual void reset();
  // Copies length bytes of image into the image at offset.
  virtual void fullSet(const void* image, uint16_t offset, uint16_t length);
  // Copies a whole image (state included).
  virtual void fullSet(const void* image);
  // The image bytes.
  virtual void* fullGet();
  virtual void fullGet(void* out, uint16_t offset, uint16_t length);
  virtual void fullGet(void* out);
  // The value: the stored number unmasked, or the key bytes.
  virtual void* get();
  // The value proper: the number masked with 0xF3FFFFFF, or the key bytes.
  virtual void get(void* out);

  uint8_t getState() const { return state_; }

 protected:
  uint8_t state_ = ridNoRecord;
};

class KV_FLAT_API FlatNumericRid : public FlatRid {
 public:
  FlatNumericRid() = default;
  ~FlatNumericRid() override;

  uint16_t isEqual(FlatRid* other) override;
  uint16_t isEqual(const void* value) override;
  void set(uint8_t code) override;
  void set(const void* value) override;
  void reset() override;
  void fullSet(const void* image, uint16_t offset, uint16_t length) override;
  void fullSet(const void* image) override;
  void* fullGet() override;
  void fullGet(void* out, uint16_t offset, uint16_t length) override;
  void fullGet(void* out) override;
  void* get() override;
  void get(void* out) override;

  // The stored number (state bits included) and the record number proper.
  uint32_t getNumber() const { return number_; }
  uint32_t getRecordNumber() const { return number_ & flatRidNumberMask; }
  // Sets record number n (state 0).
  void setRecordNumber(uint32_t n) { set(&n); }
  // The state an image number stands for.
  static uint8_t decodeState(uint32_t number);

 private:
  uint32_t number_ = 0;
};

class KV_FLAT_API FlatKeyRid : public FlatRid {
 public:
  FlatKeyRid() = default;
  // Frees the image buffer.
  ~FlatKeyRid() override;

  // Sets the key length and makes the image buffer (both states 0x40); out
  // of memory fails.
  KvStatus initialize(uint16_t keyLength);

  uint16_t isEqual(FlatRid* other) override;
  uint16_t isEqual(const void* value) override;
  void set(uint8_t code) override;
  void set(const void* value) override;
  void reset() override;
  void fullSet(const void* image, uint16_t offset, uint16_t length) override;
  void fullSet(const void* image) override;
  void* fullGet() override;
  void fullGet(void* out, uint16_t offset, uint16_t length) override;
  void fullGet(void* out) override;
  void* get() override;
  void get(void* out) override;

  uint16_t getKeyLength() const { return keyLength_; }
  uint8_t getImageState() const { return image_ ? image_[0] : uint8_t(ridNoRecord); }

 private:
  unsigned char* image_ = nullptr;  // state byte, then the key
  uint16_t keyLength_ = 0;
};
