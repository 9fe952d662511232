// KvSharedFile: a view of 4096-byte pieces over a shared KvTmpFile.
#include "util/files/shared_file.h"

#include "util/resource.h"
#include "util/util_message_ids.h"

KvSharedFile::~KvSharedFile() { truncate(); }

KvStatus KvSharedFile::addPiece() {
  if (pieceCount_ == pieceCapacity_) {
    uint32_t capacity = pieceCapacity_ ? pieceCapacity_ * 2 : 16;
    if (!pieces_) {
      pieces_ = static_cast<uint32_t*>(ramAlloc(capacity * sizeof(uint32_t)));
      if (!pieces_) return kvFailure;
    } else if (ramResize(&pieces_, capacity * sizeof(uint32_t)) != kvSuccess) {
      return kvFailure;
    }
    pieceCapacity_ = capacity;
  }
  uint32_t piece = 0;
  if (store_->tmpFindSpace(sharedPieceBytes, &piece) != kvSuccess) return kvFailure;
  pieces_[pieceCount_++] = piece;
  return kvSuccess;
}

KvStatus KvSharedFile::write(uint32_t offset, const void* data, uint32_t length) {
  if (length == 0) return kvSuccess;
  if (offset / sharedPieceBytes > pieceCount_ || uint64_t(offset) + length > 0xFFFFFFFFu) {
    addResourceError(kvMsgInvalidParameter);
    return kvFailure;
  }
  const unsigned char* from = static_cast<const unsigned char*>(data);
  while (length > 0) {
    uint32_t index = offset / sharedPieceBytes;
    uint32_t position = offset % sharedPieceBytes;
    uint32_t part = sharedPieceBytes - position < length ? sharedPieceBytes - position : length;
    if (index == pieceCount_ && addPiece() != kvSuccess) return kvFailure;
    if (store_->tmpWrite(pieces_[index] + position, from, part) != kvSuccess) return kvFailure;
    from += part;
    offset += part;
    length -= part;
  }
  return kvSuccess;
}

KvStatus KvSharedFile::read(uint32_t offset, void* data, uint32_t length) {
  if (length == 0) return kvSuccess;
  if (uint64_t(offset) + length > uint64_t(pieceCount_) * sharedPieceBytes) {
    addResourceError(kvMsgInvalidParameter);
    return kvFailure;
  }
  unsigned char* to = static_cast<unsigned char*>(data);
  while (length > 0) {
    uint32_t index = offset / sharedPieceBytes;
    uint32_t position = offset % sharedPieceBytes;
    uint32_t part = sharedPieceBytes - position < length ? sharedPieceBytes - position : length;
    if (store_->tmpRead(pieces_[index] + position, to, part) != kvSuccess) return kvFailure;
    to += part;
    offset += part;
    length -= part;
  }
  return kvSuccess;
}

void KvSharedFile::truncate() {
  for (uint32_t i = 0; i < pieceCount_; ++i) store_->tmpFreeSpace(pieces_[i], sharedPieceBytes);
  ramFree(pieces_);
  pieces_ = nullptr;
  pieceCount_ = 0;
  pieceCapacity_ = 0;
}
