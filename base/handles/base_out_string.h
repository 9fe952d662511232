// BaseInString and BaseOutString: the wrappers through which the framework
// reads the application's input strings and writes its output buffers.
//
// Input: a (pointer, length) pair of an ODBC call. SQL_NTS (-3) means a
// zero-terminated text; any other negative length is invalid (S1090 for the
// calls that take it), and a null pointer reads as an empty text.
//
// Output: an application buffer with a size in bytes and one length pointer,
// of the width the ODBC prototype gives it: SQLSMALLINT (the lengths of
// SQLGetInfo, SQLGetCursorName, SQLDescribeCol...), SQLINTEGER (SQLNativeSql)
// or SQLLEN (indicators of SQLBindCol, SQLGetData, SQLBindParameter). A length
// is always written at the full width of its pointer, so SQL_NULL_DATA (-1)
// reads as -1 through an SQLLEN. The full length of the value is reported
// even when the value is cut; a cut value is terminated when it is text and
// posts 01004 (Data truncated), which turns the call's SQL_SUCCESS into
// SQL_SUCCESS_WITH_INFO at its exit.
//
// Text crosses in the application's code set (base_app_text.h): an input
// string becomes ANSI with convertFromApp, and a text value written to an
// output buffer (setValue with a terminator, setStrValue) goes out converted,
// cut between characters, its full length counted in the application's
// bytes. A wrapper over the framework's own scratch buffer (keepAnsi) takes
// the ANSI bytes as they are.
#pragma once

#include "base/base_types.h"
#include "util/containers/kv_string.h"

class KV_BASE_API BaseInString : public KvString {
 public:
  // A view over the caller's text; a length of SQL_NTS is resolved with
  // strlen, and a null text reads as empty.
  BaseInString(const unsigned char* text, int32_t length);
  BaseInString();
  ~BaseInString() override;
  // Takes a copy of the caller's text, so that it outlives the call.
  KvStatus makeCopy();
  // The caller's text, in the application's code set, becomes an own ANSI
  // copy; posts 22005 and fails at a character that cannot come in. Every
  // string an ODBC call passes goes through this once.
  KvStatus convertFromApp();
  int isCallersText() const { return callerText_ != nullptr && text_ == callerText_; }
  // Whether the caller passed no text at all (a null pointer).
  int isNull() const { return wasNull_; }
  // Whether the caller gave a negative length other than SQL_NTS.
  int hasInvalidLength() const { return invalidLength_; }
  // Posts S1090 (Invalid string or buffer length) and fails when the length
  // was negative and not SQL_NTS.
  KvStatus checkLength() const;

 protected:
  void borrow(const unsigned char* text, uint32_t length);

  const unsigned char* callerText_ = nullptr;
  int wasNull_ = 0;
  int invalidLength_ = 0;
};

class KV_BASE_API BaseOutString {
 public:
  BaseOutString(void* buffer, int32_t size, SQLSMALLINT* length16);
  BaseOutString(void* buffer, SQLLEN size, SQLLEN* length64);
  BaseOutString(void* buffer, int32_t size, SQLINTEGER* length32);

  // Writes length (the full length) through the length pointers; copies what
  // fits, terminated when terminate is 1; posts 01004 when cut. A terminated
  // value is text and goes out in the application's code set (unless
  // keepAnsi): the length is then its length there, and the call fails
  // (22005) when that code set cannot hold one of its characters.
  KvStatus setValue(const void* data, uint32_t length, unsigned terminate);
  KvStatus setStrValue(const unsigned char* text);
  KvStatus setStrValue(const KvSubString& text);
  void setBufValue(const void* data, uint32_t length) { kvIgnoreStatus(setValue(data, length, 0)); }
  // The wrapper is over the framework's own buffer: text stays ANSI.
  void keepAnsi() { keepAnsi_ = 1; }
  // The ANSI bytes of the source that the last text value copied to the
  // buffer (what a later piece of SQLGetData starts after), and whether the
  // last value was text converted for the application.
  uint32_t getConsumed() const { return consumed_; }
  int wasAppText() const { return appText_; }
  // Writes only the length (for NULL values: -1).
  void setLength(int64_t length);
  // The length last written through setLength or setValue (0 before any).
  int64_t getLength() const { return length_; }
  // Lowers the buffer size to size (never raises it): a value is then cut
  // where size says.
  void limitSize(uint32_t size) {
    if (size < size_) size_ = size;
  }
  // True when the last setValue cut the value.
  int wasTruncated() const { return truncated_; }
  // Whether the caller gave a negative buffer size (read as 0).
  int hasInvalidSize() const { return invalidSize_; }
  // Posts S1090 and fails when the buffer is given and its size is negative.
  KvStatus checkSize() const;

  // Arrays of bound values: moves the buffer and the length pointer to the
  // entry of row (counted from 0) and back. Row-wise binding (bindType, the
  // size of one row in bytes, not 0) moves both by row * bindType bytes;
  // column-wise binding (bindType 0) moves the buffer by row * the buffer
  // size and the length pointer by row entries of its own width (8 bytes for
  // an SQLLEN array).
  void advance(SQLULEN bindType, SQLULEN row);
  void retreat(SQLULEN bindType, SQLULEN row);

  void* getBuffer() const { return buffer_; }
  uint32_t getSize() const { return size_; }

 private:
  // Moves every pointer by the signed multiple direction of one step.
  void move(SQLULEN bindType, SQLULEN row, int direction);

  void* buffer_;
  uint32_t size_;
  SQLSMALLINT* length16_ = nullptr;
  SQLLEN* length64_ = nullptr;
  SQLINTEGER* length32_ = nullptr;
  KvStatus setAppText(const unsigned char* text, uint32_t length);

  int truncated_ = 0;
  int invalidSize_ = 0;
  int keepAnsi_ = 0;
  int appText_ = 0;
  uint32_t consumed_ = 0;
  int64_t length_ = 0;
};
