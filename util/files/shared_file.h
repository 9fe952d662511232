// KvSharedFile: a file-like view, with its own offsets 0, 1, 2 ..., made of
// 4096-byte pieces taken from a KvTmpFile that many views share (the
// statements and open tables of one connection each own a view over the
// connection's store). View offset v lies in piece v / 4096 at position
// v % 4096; pieces are taken from the store as writes reach them and given
// back by truncate.
//
// A view has no lock of its own: each of its reads and writes is a series
// of store operations, each under the store's lock. One view belongs to one
// owner at a time.
#pragma once

#include "util/files/tmp_file.h"

class KV_UTIL_API KvSharedFile : public KvObject {
 public:
  enum : uint32_t { sharedPieceBytes = 4096 };

  // store is not owned and must outlive the view.
  explicit KvSharedFile(KvTmpFile* store) : store_(store) {}
  // Gives every piece back to the store.
  ~KvSharedFile() override;

  // Writes length bytes at view offset, taking a new piece whenever the
  // write reaches the piece after the last one held. The write must begin
  // in a held piece or in the piece right after the last one (1517
  // "Invalid Parameter" otherwise: a view has no holes).
  KvStatus write(uint32_t offset, const void* data, uint32_t length);
  // Reads length bytes at view offset; the bytes must lie in held pieces
  // (1517 otherwise).
  KvStatus read(uint32_t offset, void* data, uint32_t length);
  // Gives every piece back with tmpFreeSpace and holds none.
  void truncate();

  uint32_t getPieceCount() const { return pieceCount_; }
  // Store offset of a held piece.
  uint32_t getPiece(uint32_t index) const { return pieces_[index]; }
  KvTmpFile* getStore() const { return store_; }

 private:
  KV_LOCAL KvStatus addPiece();

  KvTmpFile* store_;
  // Store offsets of the pieces, in view order. A plain growable block
  // rather than a KvArrayU32, whose 16000-entry limit would cap a view at
  // 64 MB.
  uint32_t* pieces_ = nullptr;
  uint32_t pieceCount_ = 0;
  uint32_t pieceCapacity_ = 0;
};
