// SQLGetInfo answer tables. A connection holds the head of its driver's
// chain of tables; the framework's default table is searched after the
// chain. Rows are sorted by ascending info type.
#pragma once

#include "base/base_types.h"

enum BaseInfoValType : uint32_t {
  infoU16 = 0,           // 16-bit integer
  infoMask = 1,          // 32-bit bit mask
  infoU32 = 2,           // 32-bit integer
  infoText = 3,          // text
  infoDriverString = 4,  // id of a driver string (getDriverResourceStr)
  infoAsked = 5,         // asked of the driver (getAskedForInfo)
  infoNotFound = 6,      // lookup result only
  infoTextList = 7,      // null-terminated list of texts to be joined
};

// A row keeps numbers and pointers apart so that tables stay constant
// expressions (checked sorted at compile time with baseInfoRowsSorted).
struct BaseInfoRow {
  uint16_t type;
  uintptr_t number;     // number, mask or driver string id
  const void* pointer;  // text or null-terminated list of texts
  BaseInfoValType kind;

  uintptr_t value() const { return pointer ? reinterpret_cast<uintptr_t>(pointer) : number; }
};

struct BaseInfoTable {
  uint32_t rowCount;
  const BaseInfoTable* next;
  const BaseInfoRow* rows;
};

// Private info types answered through getInfo for the framework's own use.
enum : uint16_t {
  infoPrivateKeywords = 1011,  // answered as SQL_KEYWORDS
  infoPrivateFirst = 1011,
  infoPrivateLast = 1027,
};

// The framework's default table (111 rows and the private types).
KV_BASE_API const BaseInfoTable& baseDefaultInfoTable();

// Whether rows are sorted by strictly ascending info type, as the lookup
// needs: it stops at the first row whose type is larger.
template <size_t N>
constexpr bool baseInfoRowsSorted(const BaseInfoRow (&rows)[N]) {
  for (size_t i = 1; i < N; ++i)
    if (rows[i - 1].type >= rows[i].type) return false;
  return true;
}

// Helpers to write rows.
#define KV_INFO_U16(type, v) {uint16_t(type), uintptr_t(v), nullptr, infoU16}
#define KV_INFO_MASK(type, v) {uint16_t(type), uintptr_t(v), nullptr, infoMask}
#define KV_INFO_U32(type, v) {uint16_t(type), uintptr_t(v), nullptr, infoU32}
#define KV_INFO_TEXT(type, v) {uint16_t(type), 0, static_cast<const void*>(v), infoText}
#define KV_INFO_TEXT_LIST(type, list) {uint16_t(type), 0, static_cast<const void*>(list), infoTextList}
#define KV_INFO_STRING(type, id) {uint16_t(type), uintptr_t(id), nullptr, infoDriverString}
#define KV_INFO_ASKED(type) {uint16_t(type), 0, nullptr, infoAsked}
