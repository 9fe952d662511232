// Views of 4096-byte pieces over a shared scratch store.
#include "util/files/shared_file.h"

#include "tests/util/test_support.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Every test runs with a keep-all error list current.
using SharedFileTest = ErrorCapturingTest;

std::vector<unsigned char> bytesFor(uint32_t length, unsigned seed) {
  std::vector<unsigned char> bytes(length);
  for (uint32_t i = 0; i < length; ++i) bytes[i] = static_cast<unsigned char>(seed + i * 3 + (i >> 8));
  return bytes;
}

TEST_F(SharedFileTest, WriteTakesPiecesAndTruncateGivesThemBack) {
  KvTmpFile store;
  KvSharedFile view(&store);
  auto data = bytesFor(5000, 1);
  ASSERT_EQ(view.write(0, data.data(), 5000), kvSuccess);
  EXPECT_EQ(view.getPieceCount(), 2u);
  EXPECT_EQ(store.getEndOffset(), 1u + 2 * 4096);
  std::vector<unsigned char> back(5000);
  ASSERT_EQ(view.read(0, back.data(), 5000), kvSuccess);
  EXPECT_EQ(back, data);
  view.truncate();
  EXPECT_EQ(view.getPieceCount(), 0u);
  EXPECT_EQ(store.getEndOffset(), 1u) << "both pieces back, the end moves back";
  EXPECT_EQ(store.getFreeRunCount(), 0);
}

TEST_F(SharedFileTest, ViewsOverOneStoreInterleaveAndReusePieces) {
  KvTmpFile store;
  auto* a = new KvSharedFile(&store);
  KvSharedFile b(&store);
  KvSharedFile c(&store);
  // Pieces alternate between the views as they grow.
  for (uint32_t i = 0; i < 6; ++i) {
    auto bytesA = bytesFor(4096, 10 + i), bytesB = bytesFor(4096, 100 + i);
    ASSERT_EQ(a->write(i * 4096, bytesA.data(), 4096), kvSuccess);
    ASSERT_EQ(b.write(i * 4096, bytesB.data(), 4096), kvSuccess);
  }
  delete a;  // its six pieces become free runs between b's
  EXPECT_EQ(store.getFreeRunCount(), 6);  // none touches another or the end
  auto bytesC = bytesFor(3 * 4096 + 10, 200);
  ASSERT_EQ(c.write(0, bytesC.data(), uint32_t(bytesC.size())), kvSuccess);
  EXPECT_EQ(c.getPiece(0), 1u) << "the first free run is reused";
  for (uint32_t i = 0; i < 6; ++i) {
    std::vector<unsigned char> back(4096);
    ASSERT_EQ(b.read(i * 4096, back.data(), 4096), kvSuccess);
    EXPECT_EQ(back, bytesFor(4096, 100 + i)) << i;
  }
  std::vector<unsigned char> back(bytesC.size());
  ASSERT_EQ(c.read(0, back.data(), uint32_t(back.size())), kvSuccess);
  EXPECT_EQ(back, bytesC);
}

TEST_F(SharedFileTest, HolesAndReadsPastThePiecesAreRefused) {
  KvTmpFile store;
  KvSharedFile view(&store);
  unsigned char bytes[100] = {0};
  EXPECT_EQ(view.read(0, bytes, 1), kvFailure);
  EXPECT_EQ(view.write(4096, bytes, 10), kvFailure);  // the first piece is not held
  ASSERT_EQ(view.write(0, bytes, 100), kvSuccess);
  EXPECT_EQ(view.write(8192, bytes, 10), kvFailure);
  EXPECT_EQ(view.read(4090, bytes, 10), kvFailure);
  EXPECT_EQ(view.read(4000, bytes, 96), kvSuccess);  // inside the held piece
  EXPECT_EQ(view.write(4096, bytes, 10), kvSuccess);  // the piece right after
  EXPECT_EQ(errors(), (std::vector<uint16_t>{1517, 1517, 1517, 1517}));
  EXPECT_EQ(view.getPieceCount(), 2u);
}

// More pieces than a 16000-entry array holds: a view may exceed 64 MB.
// Only a few bytes of each piece are written, so the spill files stay
// small.
TEST_F(SharedFileTest, AViewGrowsPastSixteenThousandPieces) {
  KvTmpFile store;
  KvSharedFile view(&store);
  const uint32_t pieces = 16500;
  for (uint32_t i = 0; i < pieces; ++i)
    ASSERT_EQ(view.write(i * 4096, &i, sizeof i), kvSuccess) << i;
  EXPECT_EQ(view.getPieceCount(), pieces);
  for (uint32_t i = 0; i < pieces; i += 97) {
    uint32_t back = 0;
    ASSERT_EQ(view.read(i * 4096, &back, sizeof back), kvSuccess);
    EXPECT_EQ(back, i);
  }
  view.truncate();
  EXPECT_EQ(store.getEndOffset(), 1u);
}

}  // namespace
