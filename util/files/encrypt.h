// The byte-complement routine that keeps saved texts (query files) from
// being read at a glance. It is no protection against anyone who tries.
//
// Modes:
//   1  every byte becomes its bitwise complement;
//   2  the same, except that carriage return (13) and line feed (10) are
//      kept, so that the line structure of a text survives; their
//      complements 0xF2 and 0xF5 (ò and õ in ANSI) are kept too, so that no
//      other byte becomes a line end and every byte survives a round trip;
//   other modes leave the data as it is.
// Each mode is its own inverse: decrypt is the same operation as encrypt.
// A file scrambled in mode 2 by earlier versions, which complemented 0xF2
// and 0xF5 into line ends, never holds those two bytes, so it reads back
// exactly as before.
#pragma once

#include "util/kv_types.h"

enum : uint16_t { kvEncryptComplement = 1, kvEncryptKeepLines = 2 };

// key is not used.
KV_UTIL_API void encrypt(unsigned char* data, uint32_t n, uint16_t mode, const unsigned char* key);
KV_UTIL_API void decrypt(unsigned char* data, uint32_t n, uint16_t mode, const unsigned char* key);
