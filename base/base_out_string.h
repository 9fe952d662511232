// BaseInString and BaseOutString: the wrappers through which the framework
// reads the application's input strings and writes its output buffers.
//
// An output buffer has a size in bytes and up to two length pointers (a
// 16-bit one for the SQLSMALLINT lengths of ODBC, an SQLLEN one for the
// 64-bit lengths). The full length is always reported; a value that does not
// fit is cut, terminated when it is text, and posts 01004 (Data truncated).
#pragma once

#include "base/base_types.h"
#include "util/kv_string.h"

class KV_BASE_API BaseInString : public KvString {
 public:
  // A view over the caller's text; a length of SQL_NTS is resolved with
  // strlen, and a null text reads as empty.
  BaseInString(const unsigned char* text, int32_t length);
  BaseInString();
  ~BaseInString() override;
  // Takes a copy of the caller's text, so that it outlives the call.
  KvStatus makeCopy();
  int isCallersText() const { return callerText_ != nullptr && text_ == callerText_; }
  // Whether the caller passed no text at all (a null pointer).
  int isNull() const { return wasNull_; }
  // Whether the caller gave a negative length other than SQL_NTS (S1090).
  int hasInvalidLength() const { return invalidLength_; }

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
  // fits, terminated when terminate is 1; posts 01004 when cut.
  void setValue(const void* data, uint32_t length, unsigned terminate);
  void setStrValue(const unsigned char* text);
  void setStrValue(const KvSubString& text);
  void setBufValue(const void* data, uint32_t length) { setValue(data, length, 0); }
  void setValueHuge(const void* data, uint32_t length, unsigned terminate) {
    setValue(data, length, terminate);
  }
  // Writes only the length (for NULL values: -1).
  void setLength(int64_t length);
  // True when the last setValue cut the value.
  int wasTruncated() const { return truncated_; }

  void* getBuffer() const { return buffer_; }
  uint32_t getSize() const { return size_; }

 private:
  void* buffer_;
  uint32_t size_;
  SQLSMALLINT* length16_ = nullptr;
  SQLLEN* length64_ = nullptr;
  SQLINTEGER* length32_ = nullptr;
  int truncated_ = 0;
};
