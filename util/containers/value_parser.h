// Connection-string parser.
//
// KvValueParser reads a list of the form key=value, separator, key=value ...
// (a connection string with ";", or another attribute list with another
// separator) into an ordered dictionary of attributes whose keys compare
// without regard to case:
//
//   list  := [ attr { sep attr } [ sep ] ]
//   attr  := word "=" value
//   value := everything up to the next separator outside quotes (', ", `),
//            white space around it left out; may be empty
//
// A key given twice is an error, except "Driver", whose first value is kept.
// A value keeps its raw text, quotes included. Parsed keys are copies;
// parsed values are views into the text, which must outlive the parser.
// The parser records which parsed attributes were read, so that the caller
// can list the ones nobody understood, and rebuilds the text in the order of
// first appearance after attributes were changed or added.
//
// Errors: 2704 "Error parsing connect string at offset %n1. " (2705 with the
// list's name when one was given) with the byte offset where parsing
// stopped; 2706 (a repeated key) and 2707 (long and short keyword both
// given) are appended to that error. A value that holds a NUL byte, or that
// the text ends inside a quoted part, stops parsing there; for the latter the
// text of 2703 names the quote character.
#pragma once

#include "util/containers/kv_dictionary.h"
#include "util/containers/scanner.h"

class KV_UTIL_API KvValueParser : public KvObject {
 public:
  // name: what is parsed, for messages; null for a connection string.
  KvValueParser(const KvSubString* text, char separator, const unsigned char* name);
  ~KvValueParser() override;

  // Parses the whole text. On failure the attributes read before the error
  // stay available.
  KvStatus initialize();

  // The value (raw text, trailing blanks cut) or null; marks the attribute
  // as read.
  const KvSubString* getAttributeValue(const KvSubString* key);
  const KvSubString* getAttributeValue(const unsigned char* key);
  // The value under key1, else under key2 (null when neither); giving both
  // is error 2704/2705 with 2707 appended, and 1.
  KvStatus getAttributeValue(const unsigned char* key1, const unsigned char* key2,
                             const KvSubString*& value);
  // Nonzero when the attribute is present; does not mark it.
  int isAttributeValue(const unsigned char* key) const;
  uint16_t getAttributeCount() const { return attributes_.getCount(); }
  // The key at an index (null past the end).
  const KvSubString* getAttributeKey(uint16_t index) const;

  // Parsed attributes never read. getUnusedAttribute returns the key of the
  // next one at or after the unread cursor and moves the cursor past it, or
  // null when none is left.
  uint16_t getUnusedCount() const;
  const KvSubString* getUnusedAttribute();

  // Sets key to value: replaces the value of key, else of synonym (which
  // keeps its own key and place), else appends key. A value that holds a
  // quote or the separator, or begins or ends with white space, is stored in
  // single quotes, inner single quotes doubled.
  KvStatus addAttribute(const unsigned char* key, const unsigned char* value, const unsigned char* synonym);
  // Deletes the attribute with its key and value when present.
  void removeAttribute(const unsigned char* key);
  // key=value in stored order, separated by the separator, into out.
  KvStatus buildString(KvString& out) const;

 private:
  class KeyIndex;
  KV_LOCAL KvStatus parse(KeyIndex* keys, const unsigned char* text, uint32_t textLength);
  KV_LOCAL uint16_t indexOf(const unsigned char* key) const;
  KV_LOCAL const KvSubString* useValueAt(uint16_t index);
  KV_LOCAL KvStatus parseError();
  KV_LOCAL KvStatus parseErrorWith(uint16_t textId, const unsigned char* param1, const unsigned char* param2);
  KV_LOCAL KvStatus parseErrorWith(uint16_t textId, const KvSubString& param1);

  char separator_;
  unsigned char* name_ = nullptr;  // own copy
  KvScanner scanner_;
  KvSeqDictionary attributes_;     // KvSubPtrKey: KvString key -> KvSubString value
  KvToken token_;
  unsigned char* useFlags_ = nullptr;  // bit i set when parsed attribute i was read
  uint16_t flagCount_ = 0;             // attributes that have a use flag
  uint16_t unreadCursor_ = 0;
};
