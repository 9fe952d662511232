// Record identifiers: the numeric state encoding, masking, equality, and the
// key identifier's held and image states.
#include "flat/connection/flat_rid.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

uint32_t imageOf(FlatNumericRid& rid) {
  uint32_t image = 0;
  rid.fullGet(&image);
  return image;
}

TEST(FlatNumericRid, SetCodesGiveTheirImagesAndStates) {
  struct Case {
    uint32_t record;
    uint8_t code;
    uint32_t image;
    uint8_t state;
    uint32_t proper;  // get(void*)
  };
  const Case cases[] = {
      {5, ridState16, 0x08000005, ridState16, 5},
      {5, ridPendingInsert, 0x04000005, ridPendingInsert, 5},
      {5, ridState1, 0xFFFFFFFE, ridState1, 0xF3FFFFFE},
      {5, ridState4, 0xFFFFFFFC, ridState4, 0xF3FFFFFC},
      {5, ridState8, 0xFFFFFFFB, ridState8, 0xF3FFFFFB},
      {5, ridNoRecord, 0, ridNoRecord, 0},
      {7, 2, 7, 2, 7},  // any other code: state set, number kept
  };
  for (const Case& c : cases) {
    FlatNumericRid rid;
    rid.setRecordNumber(c.record);
    EXPECT_EQ(rid.getState(), ridRecord);
    rid.set(c.code);
    EXPECT_EQ(imageOf(rid), c.image) << int(c.code);
    EXPECT_EQ(rid.getState(), c.state) << int(c.code);
    uint32_t proper = 0;
    rid.get(&proper);
    EXPECT_EQ(proper, c.proper) << int(c.code);
    EXPECT_EQ(*static_cast<uint32_t*>(rid.get()), c.image) << "get() is unmasked";
  }
}

TEST(FlatNumericRid, ImagesDecodeInOrder) {
  const struct {
    uint32_t image;
    uint8_t state;
  } cases[] = {
      {0xFFFFFFFE, ridState1},  {0xFFFFFFFC, ridState4},  {0, ridNoRecord},
      {0xFFFFFFFB, ridState8},  {0x08000005, ridState16}, {0x0C000005, ridState16},
      {0x04000001, ridPendingInsert}, {0x03FFFFFF, ridRecord}, {1, ridRecord},
  };
  for (const auto& c : cases) {
    FlatNumericRid rid;
    rid.fullSet(&c.image);
    EXPECT_EQ(rid.getState(), c.state) << std::hex << c.image;
    EXPECT_EQ(FlatNumericRid::decodeState(c.image), c.state);
  }
}

TEST(FlatNumericRid, PartialImageCopiesStayInsideTheNumber) {
  FlatNumericRid rid;
  const unsigned char bytes[8] = {0x05, 0x00, 0x00, 0x08, 0xAA, 0xAA, 0xAA, 0xAA};
  rid.fullSet(bytes, 0, 8);  // cut to 4 bytes
  EXPECT_EQ(rid.getNumber(), 0x08000005u);
  EXPECT_EQ(rid.getState(), ridState16);
  rid.fullSet(bytes + 4, 3, 1);  // the high byte only
  EXPECT_EQ(rid.getNumber(), 0xAA000005u);
  unsigned char out[4] = {0, 0, 0, 0};
  rid.fullGet(out, 2, 10);
  EXPECT_EQ(out[0], 0x00);
  EXPECT_EQ(out[1], 0xAA);
  rid.reset();
  EXPECT_EQ(rid.getNumber(), 0u);
  EXPECT_EQ(rid.getState(), ridNoRecord);
}

TEST(FlatNumericRid, EqualityMasksTheStateBitsOfBothSides) {
  FlatNumericRid plain, marked, other;
  plain.setRecordNumber(9);
  marked.setRecordNumber(9);
  marked.set(uint8_t(ridPendingInsert));
  other.setRecordNumber(10);
  EXPECT_TRUE(plain.isEqual(&marked));
  EXPECT_TRUE(marked.isEqual(&plain));
  EXPECT_FALSE(plain.isEqual(&other));
  uint32_t value = 0x08000009;
  EXPECT_TRUE(plain.isEqual(static_cast<const void*>(&value)));
  value = 10;
  EXPECT_FALSE(plain.isEqual(static_cast<const void*>(&value)));
}

TEST(FlatKeyRid, StatesAndImage) {
  FlatKeyRid rid;
  ASSERT_EQ(rid.initialize(3), kvSuccess);
  EXPECT_EQ(rid.getState(), ridNoRecord);
  EXPECT_EQ(rid.getImageState(), ridNoRecord);
  rid.set(static_cast<const void*>("abc"));
  EXPECT_EQ(rid.getState(), ridRecord);
  rid.set(uint8_t(ridState16));
  EXPECT_EQ(rid.getState(), ridState16);
  EXPECT_EQ(rid.getImageState(), ridState16);
  rid.set(uint8_t(ridPendingInsert));  // the held state gains the bit
  EXPECT_EQ(rid.getState(), ridState16 | ridPendingInsert);
  EXPECT_EQ(rid.getImageState(), ridPendingInsert);
  rid.set(uint8_t(2));  // other codes: image only
  EXPECT_EQ(rid.getState(), ridState16 | ridPendingInsert);
  EXPECT_EQ(rid.getImageState(), 2);
  rid.set(uint8_t(ridState4));
  EXPECT_EQ(rid.getState(), ridState4);

  unsigned char image[4];
  rid.fullGet(image);
  EXPECT_EQ(image[0], ridState4);
  EXPECT_EQ(std::memcmp(image + 1, "abc", 3), 0);
  unsigned char key[3];
  rid.get(key);
  EXPECT_EQ(std::memcmp(key, "abc", 3), 0);

  const unsigned char newImage[4] = {ridRecord, 'x', 'y', 'z'};
  rid.fullSet(newImage);
  EXPECT_EQ(rid.getState(), ridRecord);
  EXPECT_TRUE(rid.isEqual(static_cast<const void*>("xyz")));
  rid.fullSet(newImage + 1, 3, 9);  // cut to the image
  EXPECT_TRUE(rid.isEqual(static_cast<const void*>("xyx")));
}

TEST(FlatKeyRid, NoRecordEqualsNothingNotEvenItself) {
  FlatKeyRid a, b;
  ASSERT_EQ(a.initialize(2), kvSuccess);
  ASSERT_EQ(b.initialize(2), kvSuccess);
  EXPECT_FALSE(a.isEqual(&a));
  EXPECT_FALSE(a.isEqual(&b));
  a.set(static_cast<const void*>("k1"));
  b.set(static_cast<const void*>("k1"));
  EXPECT_TRUE(a.isEqual(&b));
  EXPECT_TRUE(a.isEqual(&a));
  a.reset();
  EXPECT_FALSE(a.isEqual(&b));
  EXPECT_TRUE(b.isEqual(static_cast<const void*>("k1")));
}

TEST(FlatKeyRid, UninitialisedIdentifierIsInert) {
  FlatKeyRid rid;
  rid.set(static_cast<const void*>("abc"));
  rid.set(uint8_t(ridRecord));
  EXPECT_EQ(rid.get(), nullptr);
  EXPECT_EQ(rid.fullGet(), nullptr);
  EXPECT_FALSE(rid.isEqual(&rid));
}

}  // namespace
