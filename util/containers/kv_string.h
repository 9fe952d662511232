// Text types of the library.
//
// KvSubString is a view (length and pointer) into text owned elsewhere;
// KvString owns a growable, always-terminated buffer or borrows a fixed one;
// KvReplaceString rewrites a KvString in place while it is being read;
// KvParamString is a message text whose numbered markers are filled in order.
//
// Text is bytes of the ANSI code page, single- or double-byte: every routine
// that walks characters steps over a DBCS lead byte and its trail byte
// together. Lengths are bytes. A KvString never grows past 65536 bytes
// (error 2716).
#pragma once

#include "util/memory/kv_object.h"

class KvArray;
class KvString;

enum : uint32_t { kvStringMaxBytes = 65536 };

class KV_UTIL_API KvSubString : public KvObject {
 public:
  KvSubString() = default;
  KvSubString(const unsigned char* text, uint32_t length) : length_(length), text_(text) {}
  ~KvSubString() override;
  // strCompareCi of the two texts.
  int16_t compare(const KvObject* other) const override;

  uint32_t getLength() const { return length_; }
  const unsigned char* getText() const { return text_; }
  void setLength(uint32_t length) { length_ = length; }
  void set(const unsigned char* text, uint32_t length) {
    text_ = text;
    length_ = length;
  }

  // Offset of the first occurrence at or after from; the length when absent.
  uint32_t findChar(char c, uint32_t from) const;
  uint32_t findSubString(const unsigned char* text, uint32_t from) const;
  // Sum of the first five bytes, upper-cased.
  uint32_t hash() const;
  uint32_t countChar(char c) const;
  uint16_t indexInSet(const unsigned char** words, uint16_t n) const;
  uint16_t indexInSetCi(const unsigned char** words, uint16_t n) const;
  void rightBlankTrim();
  KvStatus copyQuotedStr(KvString* out) const;
  unsigned char* getCopyUnquoted(unsigned char* buffer) const;
  unsigned char* getCopyQuoted(unsigned char* buffer, uint32_t size) const;
  KvStatus getLines(KvArray* lines);

 protected:
  uint32_t length_ = 0;
  const unsigned char* text_ = nullptr;
};

class KV_UTIL_API KvString : public KvSubString {
 public:
  KvString() = default;
  ~KvString() override;

  KvStatus initialize(const unsigned char* text);
  KvStatus initialize(const unsigned char* text, uint32_t length);
  KvStatus initialize(uint32_t n);
  void initializeWithBuffer(unsigned char* buffer, uint32_t capacity, uint32_t length);
  void unInitialize();
  KvStatus resize(uint32_t bytes);
  // Room for n more bytes plus the terminator.
  KvStatus makeRoom(uint32_t n);

  KvStatus concat(char c);
  KvStatus concat(const unsigned char* text);
  KvStatus concat(const unsigned char* text, uint32_t length);
  KvStatus concat(uint32_t number);
  KvStatus concat(int32_t number);
  KvStatus changeBytes(uint32_t pos, uint32_t oldLength, const unsigned char* text, uint32_t newLength);
  KvStatus replaceSubString(const unsigned char* oldText, uint32_t oldLength,
                            const unsigned char* newText, uint32_t newLength);
  KvStatus replaceSubString(const unsigned char* oldText, const unsigned char* newText);
  KvStatus replaceSubString(const KvSubString* part, const unsigned char* text, uint16_t length);
  KvStatus addQuotes(char quote);
  KvStatus removeQuotes();
  KvStatus addQuotedBytes(const KvSubString* text, char quote);
  KvStatus forceEol(int n);
  KvStatus insertLineBreaks(uint32_t width, char q1, char q2, char q3);
  KvStatus removeLineBreaks(char q1, char q2, char q3);

  // The buffer (writable); null before the first allocation.
  unsigned char* getBuffer() const { return const_cast<unsigned char*>(text_); }
  // The text, never null: "" when there is no buffer.
  const unsigned char* getStr() const { return text_ ? text_ : reinterpret_cast<const unsigned char*>(""); }
  uint32_t getCapacity() const { return capacity_; }
  int isOwned() const { return owned_ != 0; }

 protected:
  uint32_t capacity_ = 0;
  uint32_t owned_ = 1;
};

class KV_UTIL_API KvReplaceString : public KvSubString {
 public:
  explicit KvReplaceString(KvString* target);
  ~KvReplaceString() override;
  KvStatus addBytes(const unsigned char* bytes, uint32_t n);
  KvStatus addQuotedBytes(const unsigned char* bytes, uint32_t n, char quote);
  // Moves the start of the unread rest on by n bytes (n at most its length).
  void skip(uint32_t n);
  // Passes the next n unread bytes (at most the rest) into the produced text
  // unchanged; while no gap has opened this moves no byte.
  void keep(uint32_t n);
  uint32_t getWriteOffset() const { return writeOffset_; }
  uint32_t getReadOffset() const { return readOffset_; }

 private:
  KvString* target_;
  uint32_t writeOffset_ = 0;
  uint32_t readOffset_ = 0;
};

// A message whose markers are filled in order: parameter k (counted from 1
// over all setParam calls since initialize) fills "%s<k>" when it is a text
// and "%n<k>" when it is a number; from k = 10 on the marker is "%sx<k>" or
// "%nx<k>". Once a step fails, later fills are skipped.
class KV_UTIL_API KvParamString : public KvString {
 public:
  KvParamString() = default;
  ~KvParamString() override;

  KvStatus initialize(const unsigned char* text);
  KvStatus initialize(const unsigned char* text, uint32_t length);
  KvStatus initialize(uint32_t capacity);
  KvStatus setParam(const unsigned char* text);
  KvStatus setQuotedParam(const unsigned char* text, char quote);
  KvStatus setParam(uint32_t number);
  KvStatus setParam(int32_t number);
  KvStatus setParam(const KvSubString& text);

  KvParamString& operator<<(const unsigned char* text);
  KvParamString& operator<<(uint32_t number);
  KvParamString& operator<<(int32_t number);
  KvParamString& operator<<(const KvSubString& text);

  // Restart numbering (used after appending a further text with markers).
  void restartParams() { paramCount_ = 0; }
  int hasFailed() const { return (flags_ & 1) != 0; }

 private:
  uint16_t paramCount_ = 0;
  uint16_t flags_ = 0;
};
