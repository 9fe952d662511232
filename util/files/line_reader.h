// KvFileByLine: reads a text file line by line through one buffer of a size
// the caller chooses, handing out each line as a view into that buffer (or
// into a decoded copy), with one line of push-back.
//
// Lines end with a carriage-return/line-feed pair; a line feed or carriage
// return alone is an ordinary byte of its line, so a file with LF-only line
// ends reads as one long line handed out in pieces. A line longer than the
// buffer is handed out in pieces marked incomplete: each piece is the
// buffer's contents less its last kvLineHoldBack bytes (so a line end that
// straddles two fills is never split), and the next call goes on with the
// rest. The last line of a file that does not end with a line end is handed
// out as it is; the call after it gives an empty line and sets the end flag.
//
// File offsets are 64-bit; the reader reads at explicit offsets only, so
// another user of the same file number (KvQueryFile reads sections directly)
// does not disturb it.
#pragma once

#include "util/containers/kv_string.h"

enum : uint32_t {
  kvLineHoldBack = 4,
  // The smallest buffer: a piece of an over-long line must hold at least one
  // byte besides the bytes held back, or the reader would never move on.
  kvLineMinBufferBytes = kvLineHoldBack + 1,
  // The largest: the buffer is allocated with one more byte for a
  // terminator, and that count must not wrap.
  kvLineMaxBufferBytes = 0x7FFFFFFF,
};

class KV_UTIL_API KvFileByLine : public KvObject {
 public:
  KvFileByLine() = default;
  // Closes an open file.
  ~KvFileByLine() override;

  // Clears the state (closing a file still open), opens the file read-only
  // (bosFileOpen flags 0), keeps a copy of the name and allocates a buffer of
  // bufferSize + 1 bytes. Line ends are kept and decoding is off afterwards.
  // A bufferSize outside kvLineMinBufferBytes..kvLineMaxBufferBytes is
  // refused with 1517 "Invalid Parameter".
  KvStatus openFile(const unsigned char* name, uint32_t bufferSize);
  // Closes the file and frees the name and the buffer. A failing close
  // returns 1 and keeps everything as it was. Nothing open: success.
  KvStatus closeFile();

  // The next line (see the top of this file). With line ends kept the view
  // includes the carriage-return/line-feed pair. The view stays valid until
  // the next call. Fails (1507 when no file is open, else the OS layer's
  // read message or the memory error of a decoded copy) with an empty view.
  KvStatus getNextLine(KvSubString& line);
  // getNextLine until a line holds something besides white space, or the end
  // of the file (success with the end flag set and an empty view).
  KvStatus getNextNonBlankLine(KvSubString& line);
  // The next getNextLine hands out the last line again, read again from its
  // file offset when the buffer no longer holds it.
  void ungetLine();

  // Whether a line includes its line end (1 after opening).
  void setKeepLineEnds(int keep) { keepLineEnds_ = keep != 0; }
  // Each line handed out from now on is decoded with decrypt in this mode
  // (util/files/encrypt.h); 0 hands lines out as they are. Decoding works on a
  // copy, so the buffer always holds the file's own bytes.
  void setDecodeMode(uint16_t mode) { decodeMode_ = mode; }
  uint16_t getDecodeMode() const { return decodeMode_; }

  // The last call reached the end of the file (its line is empty).
  int isAtEnd() const { return atEnd_; }
  // The last line was whole: it ended with a line end or at the end of the
  // file. 0 for a piece of an over-long line.
  int isLineComplete() const { return lineComplete_; }
  // File offset of the first byte of the last line handed out. The line
  // occupies as many bytes in the file as the view holds when line ends are
  // kept (decoding keeps every byte in its place).
  int64_t getLineOffset() const { return lineOffset_; }
  // The open file number (0 when closed) and the name it was opened by.
  int getFile() const { return file_; }
  const unsigned char* getFileName() const { return name_; }

 private:
  KV_LOCAL void clearState();
  // Moves the unread rest to the front and fills the buffer behind it.
  KV_LOCAL KvStatus refill();
  // Offset of the carriage return of the first line end at or after from,
  // or 0 when the buffer holds none (the pair must lie wholly inside).
  KV_LOCAL int findLineEnd(uint32_t from, uint32_t* carriageReturn) const;

  int file_ = 0;
  unsigned char* name_ = nullptr;
  unsigned char* buffer_ = nullptr;  // size_ + 1 bytes
  uint32_t size_ = 0;
  uint32_t filled_ = 0;           // bytes of the file in the buffer
  uint32_t rest_ = 0;             // offset of the unread rest; filled_ when used up
  int64_t bufferOffset_ = 0;      // file offset of buffer_[0]
  int64_t lineOffset_ = 0;        // file offset of the line handed out last
  int64_t ungetOffset_ = -1;      // where the next line is read from; -1 none
  int keepLineEnds_ = 1;
  int lineComplete_ = 0;
  int atEnd_ = 0;
  KvString work_;                 // the decoded copy of the last line
  uint16_t decodeMode_ = 0;
};
