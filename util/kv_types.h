// Basic types and conventions shared by every deliverable.
//
// Widths: the system was designed where "long" meant 32 bits. Here every
// such quantity is int32_t/uint32_t; pointers are always kept whole.
// Text is bytes of the ANSI code page (Windows-1252) passed as unsigned char.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Marks the C++ API a library exports; everything else is hidden.
#define KV_API __attribute__((visibility("default")))
#define KV_UTIL_API KV_API
// A member of an exported class that only its own library calls (a private
// helper, or a protected one its library's subclasses use): kept out of the
// exported symbols, so that other libraries cannot come to depend on it.
#define KV_LOCAL __attribute__((visibility("hidden")))

// Status of every internal operation: 0 success, 1 failure. The reason of a
// failure stands in the calling thread's current error list; "not found" is
// an out-parameter, never a failure. A status is never ignored: discarding
// one warns, and a bare number does not convert to it.
enum [[nodiscard]] KvStatus : int { kvSuccess = 0, kvFailure = 1 };

// Says that a status is deliberately not acted on: a clean-up step after an
// earlier failure, whose own error only adds to the list, or a step whose
// failure the caller tolerates by design. Each use says why in a comment.
inline void kvIgnoreStatus(KvStatus) {}

// Literal text as the library's byte type.
inline const unsigned char* kvU(const char* text) {
  return reinterpret_cast<const unsigned char*>(text);
}
inline unsigned char* kvU(char* text) { return reinterpret_cast<unsigned char*>(text); }
inline const char* kvC(const unsigned char* text) { return reinterpret_cast<const char*>(text); }
inline char* kvC(unsigned char* text) { return reinterpret_cast<char*>(text); }

// Length in bytes of a zero-terminated text; 0 for null.
inline uint32_t kvTextLength(const unsigned char* text) {
  return text ? static_cast<uint32_t>(std::strlen(kvC(text))) : 0;
}
