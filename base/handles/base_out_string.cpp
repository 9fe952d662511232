// Input and output string wrappers; see base_out_string.h.
#include "base/handles/base_out_string.h"

#include "base/handles/base_app_text.h"
#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"

#include <cstring>

BaseInString::BaseInString() { initializeWithBuffer(nullptr, 0, 0); }

BaseInString::BaseInString(const unsigned char* text, int32_t length) {
  if (!text) {
    wasNull_ = 1;
    initializeWithBuffer(nullptr, 0, 0);
    return;
  }
  uint32_t bytes = 0;
  if (length == SQL_NTS) bytes = uint32_t(std::strlen(reinterpret_cast<const char*>(text)));
  else if (length > 0) bytes = uint32_t(length);
  else if (length < 0) invalidLength_ = 1;
  callerText_ = text;
  borrow(text, bytes);
}

// The caller's text is borrowed and not necessarily terminated: it is read
// by its length, and no room is claimed to write into it.
void BaseInString::borrow(const unsigned char* text, uint32_t length) {
  initializeWithBuffer(nullptr, 0, 0);
  text_ = text;
  length_ = length;
  capacity_ = 0;
  owned_ = 0;
}

BaseInString::~BaseInString() {
  // The caller's buffer is not ours to free.
  if (isCallersText()) initializeWithBuffer(nullptr, 0, 0);
}

KvStatus BaseInString::makeCopy() {
  if (!isCallersText()) return kvSuccess;
  const unsigned char* text = text_;
  uint32_t length = length_;
  initializeWithBuffer(nullptr, 0, 0);
  owned_ = 1;
  if (initialize(text ? text : kvU(""), length) != kvSuccess) {
    borrow(text, length);
    return kvFailure;
  }
  return kvSuccess;
}

KvStatus BaseInString::convertFromApp() {
  if (KvAppCharset::current().isAnsi() || length_ == 0) return kvSuccess;
  if (makeCopy() != kvSuccess) return kvFailure;
  // An own copy: the ANSI text is never longer, so it converts in place.
  unsigned char* text = const_cast<unsigned char*>(text_);
  uint32_t converted = 0;
  if (baseTextFromApp(text, length_, text, &converted) != kvSuccess) return kvFailure;
  length_ = converted;
  text[converted] = 0;
  return kvSuccess;
}

KvStatus BaseInString::checkLength() const {
  if (!invalidLength_) return kvSuccess;
  addOdbcError(stateStringLength);
  return kvFailure;
}

BaseOutString::BaseOutString(void* buffer, int32_t size, SQLSMALLINT* length16)
    : buffer_(buffer), size_(size > 0 ? uint32_t(size) : 0), length16_(length16), invalidSize_(size < 0) {}

// A buffer of 2 GB or more is taken as 2 GB less one byte: no single value
// the framework writes comes near it.
BaseOutString::BaseOutString(void* buffer, SQLLEN size, SQLLEN* length64)
    : buffer_(buffer), size_(size > 0 ? (size > 0x7FFFFFFF ? 0x7FFFFFFFu : uint32_t(size)) : 0),
      length64_(length64), invalidSize_(size < 0) {}

BaseOutString::BaseOutString(void* buffer, int32_t size, SQLINTEGER* length32)
    : buffer_(buffer), size_(size > 0 ? uint32_t(size) : 0), length32_(length32), invalidSize_(size < 0) {}

KvStatus BaseOutString::checkSize() const {
  if (!buffer_ || !invalidSize_) return kvSuccess;
  addOdbcError(stateStringLength);
  return kvFailure;
}

void BaseOutString::move(SQLULEN bindType, SQLULEN row, int direction) {
  const intptr_t sign = direction;
  auto shift = [sign](auto* pointer, uintptr_t bytes) {
    using Pointer = decltype(pointer);
    if (!pointer) return pointer;
    return reinterpret_cast<Pointer>(reinterpret_cast<uintptr_t>(pointer) + uintptr_t(sign * intptr_t(bytes)));
  };
  if (bindType != 0) {
    const uintptr_t bytes = uintptr_t(row * bindType);
    buffer_ = shift(static_cast<unsigned char*>(buffer_), bytes);
    length16_ = shift(length16_, bytes);
    length32_ = shift(length32_, bytes);
    length64_ = shift(length64_, bytes);
    return;
  }
  buffer_ = shift(static_cast<unsigned char*>(buffer_), uintptr_t(row * size_));
  length16_ = shift(length16_, uintptr_t(row * sizeof(*length16_)));
  length32_ = shift(length32_, uintptr_t(row * sizeof(*length32_)));
  length64_ = shift(length64_, uintptr_t(row * sizeof(*length64_)));
}

void BaseOutString::advance(SQLULEN bindType, SQLULEN row) { move(bindType, row, 1); }

void BaseOutString::retreat(SQLULEN bindType, SQLULEN row) { move(bindType, row, -1); }

void BaseOutString::setLength(int64_t length) {
  length_ = length;
  if (length16_) *length16_ = SQLSMALLINT(length > 0x7FFF ? 0x7FFF : length);
  if (length32_) *length32_ = SQLINTEGER(length > 0x7FFFFFFF ? 0x7FFFFFFF : length);
  if (length64_) *length64_ = SQLLEN(length);
}

KvStatus BaseOutString::setValue(const void* data, uint32_t length, unsigned terminate) {
  truncated_ = 0;
  appText_ = 0;
  consumed_ = 0;
  if (terminate && !keepAnsi_) return setAppText(static_cast<const unsigned char*>(data), length);
  setLength(length);
  if (!buffer_) return kvSuccess;
  uint32_t copy = length;
  if (uint64_t(length) + terminate > size_) {
    addOdbcWarning(stateTruncated);
    truncated_ = 1;
    copy = size_ > terminate ? size_ - terminate : 0;
  }
  if (copy && data) std::memmove(buffer_, data, copy);
  if (terminate && size_ > 0) static_cast<unsigned char*>(buffer_)[copy] = 0;
  consumed_ = copy;
  return kvSuccess;
}

KvStatus BaseOutString::setAppText(const unsigned char* text, uint32_t length) {
  if (!text) text = kvU("");
  auto* buffer = static_cast<unsigned char*>(buffer_);
  const uint32_t room = buffer && size_ > 0 ? size_ - 1 : 0;
  uint32_t written = 0;
  uint32_t consumed = 0;
  uint64_t total = 0;
  if (baseTextToApp(text, length, buffer, room, &written, &consumed, &total) != kvSuccess) return kvFailure;
  setLength(int64_t(total));
  appText_ = 1;
  consumed_ = consumed;
  if (!buffer) return kvSuccess;
  if (size_ > 0) buffer[written] = 0;
  if (total + 1 > size_) {
    addOdbcWarning(stateTruncated);
    truncated_ = 1;
  }
  return kvSuccess;
}

KvStatus BaseOutString::setStrValue(const unsigned char* text) {
  if (!text) text = kvU("");
  return setValue(text, uint32_t(std::strlen(reinterpret_cast<const char*>(text))), 1);
}

KvStatus BaseOutString::setStrValue(const KvSubString& text) {
  return setValue(text.getText() ? text.getText() : kvU(""), text.getLength(), 1);
}
