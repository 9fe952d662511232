// buttoken: a tokenizer of zero-terminated text for code that works on
// plain buffers. It copies the next token of the text at *source into a
// caller's buffer of kvButtokenBufferBytes bytes and moves *source behind
// it; an empty buffer means the end. It is apart from KvScanner (scanner.h),
// which reads counted text without copying.
//
// flags: the mode in bits 0-11 (KvButMode), and the bits below.
//   kvButKeepCase keeps the case of words and runs (else they are
//     upper-cased; quoted texts always keep their case);
//   kvButAllocLong moves a token longer than kvButtokenMaxBytes into a
//     ramAlloc block (see buttokenBlock);
//   kvButCutLong drops the bytes of a token beyond that limit.
// Without either of the last two, a longer token is error 2700 "Token too
// big: %s1". A quoted text, brace group or back-quoted part left open is
// error 2703 "Unmatched quote character: %s1". After a failure *source still
// moves behind the bad token.
#pragma once

#include "util/kv_types.h"

// What a word of the mode is made of. Every mode also reads quoted texts,
// numbers, brace groups, operators and "?" parameter markers; an unknown
// mode reads as kvButModeWords.
enum KvButMode : uint16_t {
  kvButModeWords = 0,        // letters, digits, "_"
  kvButModeRuns = 1,         // up to a character at or below the blank or one of ",/()|";
                             // back quotes enclose parts in which those are kept
  kvButModeIdentifiers = 2,  // words that may hold "#" and "$"; "\-", "\+", "\*" and
                             // "\/" put that character into the identifier
  kvButModeDottedNames = 3,  // letters, digits, "_" and single dots
  kvButModeColonNames = 4,   // words that may hold ":" and "."
  kvButModeIdentifiers6 = 6, // read as kvButModeIdentifiers
};

enum : uint16_t {
  kvButModeMask = 0x0FFF,
  kvButKeepCase = 0x2000,
  kvButAllocLong = 0x4000,
  kvButCutLong = 0x8000,
};
enum : uint32_t {
  kvButtokenMaxBytes = 79,
  kvButtokenBufferBytes = kvButtokenMaxBytes + 1,
};
KV_UTIL_API KvStatus buttoken(unsigned char* buffer, const unsigned char** source, unsigned short flags);

// With kvButAllocLong, a long token is handed over as buffer[0] = its first
// byte, buffer[1] = 0, and the block's address in the next pointer-sized
// bytes; the block holds the whole token, zero-terminated, and the caller
// frees it with ramFree. This returns that block, or null for a token held
// in the buffer itself (buttoken clears the address for tokens shorter than
// two bytes, so the two forms cannot be confused).
KV_UTIL_API unsigned char* buttokenBlock(const unsigned char* buffer);
