// The byte-complement routine (see encrypt.h for the modes).
#include "util/files/encrypt.h"

namespace {

// Bytes that mode 2 keeps: the line ends and their complements, a set that
// the complement maps onto itself, so that the mode is its own inverse.
bool keptInLineMode(unsigned char byte) {
  return byte == '\r' || byte == '\n' || byte == static_cast<unsigned char>(~'\r') ||
         byte == static_cast<unsigned char>(~'\n');
}

}  // namespace

void encrypt(unsigned char* data, uint32_t n, uint16_t mode, const unsigned char*) {
  if (mode == kvEncryptComplement) {
    for (uint32_t i = 0; i < n; i++) data[i] = static_cast<unsigned char>(~data[i]);
  } else if (mode == kvEncryptKeepLines) {
    for (uint32_t i = 0; i < n; i++) {
      if (!keptInLineMode(data[i])) data[i] = static_cast<unsigned char>(~data[i]);
    }
  }
}

void decrypt(unsigned char* data, uint32_t n, uint16_t mode, const unsigned char* key) {
  encrypt(data, n, mode, key);
}
