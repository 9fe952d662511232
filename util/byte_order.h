// Integers in stored byte layouts: explicit little- and big-endian reads and
// writes at a byte address, whatever the machine's own order. Every on-disk
// (or logged) integer goes through these; no struct is ever laid over
// stored bytes.
#pragma once

#include <cstdint>

inline uint16_t kvGetU16LE(const void* at) {
  const auto* p = static_cast<const unsigned char*>(at);
  return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t kvGetU32LE(const void* at) {
  const auto* p = static_cast<const unsigned char*>(at);
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void kvPutU16LE(void* at, uint16_t value) {
  auto* p = static_cast<unsigned char*>(at);
  p[0] = uint8_t(value);
  p[1] = uint8_t(value >> 8);
}
inline void kvPutU32LE(void* at, uint32_t value) {
  auto* p = static_cast<unsigned char*>(at);
  p[0] = uint8_t(value);
  p[1] = uint8_t(value >> 8);
  p[2] = uint8_t(value >> 16);
  p[3] = uint8_t(value >> 24);
}
inline uint16_t kvGetU16BE(const void* at) {
  const auto* p = static_cast<const unsigned char*>(at);
  return uint16_t((p[0] << 8) | p[1]);
}
inline void kvPutU16BE(void* at, uint16_t value) {
  auto* p = static_cast<unsigned char*>(at);
  p[0] = uint8_t(value >> 8);
  p[1] = uint8_t(value);
}
inline uint32_t kvGetU32BE(const void* at) {
  const auto* p = static_cast<const unsigned char*>(at);
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline void kvPutU32BE(void* at, uint32_t value) {
  auto* p = static_cast<unsigned char*>(at);
  p[0] = uint8_t(value >> 24);
  p[1] = uint8_t(value >> 16);
  p[2] = uint8_t(value >> 8);
  p[3] = uint8_t(value);
}
inline uint64_t kvGetU64LE(const void* at) {
  const auto* p = static_cast<const unsigned char*>(at);
  return uint64_t(kvGetU32LE(p)) | (uint64_t(kvGetU32LE(p + 4)) << 32);
}
inline void kvPutU64LE(void* at, uint64_t value) {
  auto* p = static_cast<unsigned char*>(at);
  kvPutU32LE(p, uint32_t(value));
  kvPutU32LE(p + 4, uint32_t(value >> 32));
}
inline uint64_t kvGetU64BE(const void* at) {
  const auto* p = static_cast<const unsigned char*>(at);
  return (uint64_t(kvGetU32BE(p)) << 32) | uint64_t(kvGetU32BE(p + 4));
}
inline void kvPutU64BE(void* at, uint64_t value) {
  auto* p = static_cast<unsigned char*>(at);
  kvPutU32BE(p, uint32_t(value >> 32));
  kvPutU32BE(p + 4, uint32_t(value));
}
