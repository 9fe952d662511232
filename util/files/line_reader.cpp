// The file line reader (see line_reader.h).
//
// Buffer while lines are handed out:
//   [0, rest_)        bytes already handed out
//   [rest_, filled_)  the unread rest, file offsets bufferOffset_ + rest_ on
//   buffer_[filled_]  a terminator
// A line is searched in the unread rest; when the rest holds no line end it
// is moved to the front and the buffer filled behind it from the file, once
// per call. After that fill a full buffer without a line end gives a piece,
// a buffer that is not full means the file has ended.
#include "util/files/line_reader.h"

#include <cstring>

#include "util/os/bos.h"
#include "util/files/encrypt.h"
#include "util/resource.h"
#include "util/containers/str_functions.h"
#include "util/util_message_ids.h"

namespace {

}  // namespace

KvFileByLine::~KvFileByLine() {
  if (closeFile() != kvSuccess) clearState();
}

void KvFileByLine::clearState() {
  ramFree(name_);
  ramFree(buffer_);
  work_.unInitialize();
  file_ = 0;
  name_ = nullptr;
  buffer_ = nullptr;
  size_ = filled_ = rest_ = 0;
  bufferOffset_ = lineOffset_ = 0;
  ungetOffset_ = -1;
  keepLineEnds_ = 1;
  lineComplete_ = atEnd_ = 0;
  decodeMode_ = 0;
}

KvStatus KvFileByLine::openFile(const unsigned char* name, uint32_t bufferSize) {
  if (closeFile() != kvSuccess) return kvFailure;
  if (!name || bufferSize < kvLineMinBufferBytes || bufferSize > kvLineMaxBufferBytes) {
    addResourceError(kvMsgInvalidParameter);
    return kvFailure;
  }
  unsigned char* copy = ramAllocStr(name);
  if (!copy) return kvFailure;
  auto* buffer = static_cast<unsigned char*>(ramAlloc(bufferSize + 1));
  int file = 0;
  if (!buffer || bosFileOpen(copy, 0, &file) != kvSuccess) {
    ramFree(buffer);
    ramFree(copy);
    return kvFailure;
  }
  buffer[0] = 0;
  file_ = file;
  name_ = copy;
  buffer_ = buffer;
  size_ = bufferSize;
  return kvSuccess;
}

KvStatus KvFileByLine::closeFile() {
  if (file_ && bosFileClose(file_) != kvSuccess) return kvFailure;
  file_ = 0;
  clearState();
  return kvSuccess;
}

int KvFileByLine::findLineEnd(uint32_t from, uint32_t* carriageReturn) const {
  for (uint32_t at = from; at + 1 < filled_; ++at) {
    const void* found = std::memchr(buffer_ + at, '\r', filled_ - 1 - at);
    if (!found) return 0;
    at = static_cast<uint32_t>(static_cast<const unsigned char*>(found) - buffer_);
    if (buffer_[at + 1] == '\n') {
      *carriageReturn = at;
      return 1;
    }
  }
  return 0;
}

KvStatus KvFileByLine::refill() {
  if (rest_ > 0) {
    std::memmove(buffer_, buffer_ + rest_, filled_ - rest_);
    bufferOffset_ += rest_;
    filled_ -= rest_;
    rest_ = 0;
  }
  if (filled_ < size_) {
    uint32_t got = 0;
    if (bosFileRead(file_, bufferOffset_ + filled_, buffer_ + filled_, size_ - filled_, &got) != kvSuccess) {
      buffer_[filled_] = 0;
      return kvFailure;
    }
    filled_ += got;
  }
  buffer_[filled_] = 0;
  return kvSuccess;
}

KvStatus KvFileByLine::getNextLine(KvSubString& line) {
  line.set(kvU(""), 0);
  atEnd_ = 0;
  if (!file_) {
    addResourceError(kvMsgInvalidHandle);
    return kvFailure;
  }
  if (ungetOffset_ >= 0) {
    const int64_t at = ungetOffset_;
    ungetOffset_ = -1;
    if (at >= bufferOffset_ && at <= bufferOffset_ + filled_) {
      rest_ = static_cast<uint32_t>(at - bufferOffset_);
    } else {
      // The buffer moved on past the line (a fill that failed after moving
      // the rest): read it again from the line's offset, as an empty buffer
      // whose rest starts there, filled below.
      bufferOffset_ = at;
      filled_ = rest_ = 0;
    }
  }

  uint32_t carriageReturn = 0;
  int found = findLineEnd(rest_, &carriageReturn);
  if (!found) {
    if (refill() != kvSuccess) return kvFailure;
    found = findLineEnd(rest_, &carriageReturn);
  }
  const uint32_t start = rest_;
  uint32_t length;
  if (found) {
    length = carriageReturn - start + (keepLineEnds_ ? 2 : 0);
    rest_ = carriageReturn + 2;
    lineComplete_ = 1;
  } else if (filled_ == size_) {
    // refill left the rest at the front of a full buffer.
    length = filled_ - start - kvLineHoldBack;
    rest_ = start + length;
    lineComplete_ = 0;
  } else {
    length = filled_ - start;
    rest_ = filled_;
    lineComplete_ = 1;
    atEnd_ = length == 0;
  }
  lineOffset_ = bufferOffset_ + start;

  if (decodeMode_ == 0 || length == 0) {
    line.set(buffer_ + start, length);
    return kvSuccess;
  }
  if (work_.initialize(buffer_ + start, length) != kvSuccess) return kvFailure;
  decrypt(work_.getBuffer(), length, decodeMode_, nullptr);
  line.set(work_.getText(), length);
  return kvSuccess;
}

KvStatus KvFileByLine::getNextNonBlankLine(KvSubString& line) {
  for (;;) {
    if (getNextLine(line) != kvSuccess) return kvFailure;
    if (atEnd_ || strRightTrim(line.getText(), line.getLength()) > 0) return kvSuccess;
  }
}

void KvFileByLine::ungetLine() {
  ungetOffset_ = lineOffset_;
  atEnd_ = 0;
}
