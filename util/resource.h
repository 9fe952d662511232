// String tables. Every deliverable carries its own table of numbered texts
// (messages, labels) and its own copies of the functions that read it, so
// that a message id always means the text of the deliverable that raised it.
// A deliverable binds them with KV_DEFINE_RESOURCE_FUNCTIONS in one of its
// source files, over a constexpr table (checked sorted at compile time);
// the functions are hidden and never cross a library boundary.
#pragma once

#include "util/error_list.h"

struct KvMessage {
  uint16_t id;
  const char* text;
};

// Whether a table is sorted by strictly ascending id, as the binary search
// of kvLoadStringFromTable needs. Tables are constexpr so that every
// deliverable checks its own at compile time.
template <size_t N>
constexpr bool kvMessagesSorted(const KvMessage (&table)[N]) {
  for (size_t i = 1; i < N; ++i)
    if (table[i - 1].id >= table[i].id) return false;
  return true;
}

// Copies text id of a table sorted by id into buffer (size bytes, cut and
// terminated); returns the length, or 0 with an empty buffer when absent.
KV_UTIL_API short kvLoadStringFromTable(const KvMessage* table, size_t count, unsigned char* buffer,
                                        unsigned short id, uint32_t size);
// A new error of text id, type error, state index 0, added to the current list.
KV_UTIL_API KvError& kvAddErrorFromTable(const KvMessage* table, size_t count, unsigned short id);
KV_UTIL_API KvError& kvAppendTextFromTable(const KvMessage* table, size_t count, unsigned short id);

// The deliverable's own copies.
short loadResourceString(unsigned char* buffer, unsigned short id, uint32_t size = 512);
KvError& addResourceError(unsigned short id);
KvError& appendResourceTextToLastError(unsigned short id);

#define KV_DEFINE_RESOURCE_FUNCTIONS(table)                                                  \
  static_assert(kvMessagesSorted(table), #table " must be sorted by ascending id");        \
  short loadResourceString(unsigned char* buffer, unsigned short id, uint32_t size) {        \
    return kvLoadStringFromTable(table, sizeof(table) / sizeof(table[0]), buffer, id, size); \
  }                                                                                          \
  KvError& addResourceError(unsigned short id) {                                             \
    return kvAddErrorFromTable(table, sizeof(table) / sizeof(table[0]), id);                 \
  }                                                                                          \
  KvError& appendResourceTextToLastError(unsigned short id) {                                \
    return kvAppendTextFromTable(table, sizeof(table) / sizeof(table[0]), id);               \
  }

// One string resource, loaded at construction; texts longer than 255 bytes
// are cut.
class ResourceString {
 public:
  explicit ResourceString(unsigned short id) {
    text_[0] = 0;
    loadResourceString(text_, id, sizeof(text_));
  }
  operator const unsigned char*() const { return text_; }
  const unsigned char* get() const { return text_; }

 private:
  unsigned char text_[256];
};

// The utility library's own table, for other deliverables and tests that
// must raise or read one of its messages.
KV_UTIL_API KvError& kvAddUtilityError(unsigned short id);
KV_UTIL_API short kvLoadUtilityString(unsigned char* buffer, unsigned short id, uint32_t size);
