// The one place where narrow text crosses between the application and the
// framework. The application's text is in the code set of its LC_CTYPE
// locale (util/charsets/charset_app.h); the framework's and the engine's is
// ANSI (Windows-1252). Everything an ODBC call passes as narrow text comes
// in through baseTextFromApp (BaseInString::convertFromApp, catalog
// arguments, SQL_C_CHAR parameters) and goes out through baseTextToApp
// (BaseOutString's text values, SQLError's message).
//
// A character that cannot cross is refused with 22005 and a message that
// names it; nothing is stored or written in its place.
#pragma once

#include "base/base_types.h"
#include "util/charsets/charset_app.h"

// The application's text (length bytes) as ANSI at out, which holds length
// bytes and may be text itself; *outLength receives the ANSI bytes. Posts
// 22005 (6080 or 6082) and fails at a character that cannot come in.
KV_BASE_API KvStatus baseTextFromApp(const unsigned char* text, uint32_t length, unsigned char* out,
                                     uint32_t* outLength);

// ANSI text (length bytes) out to the application: whole characters that fit
// in room bytes at out, *written their bytes, *consumed (optional) the ANSI
// bytes they came from, *total the bytes of the whole text. Posts 22005
// (6083) and fails when the application's code set lacks a character.
KV_BASE_API KvStatus baseTextToApp(const unsigned char* ansi, uint32_t length, unsigned char* out, uint32_t room,
                                   uint32_t* written, uint32_t* consumed, uint64_t* total);

// Whether the application's code set takes ANSI bytes as they stand (the C
// locale): text then crosses without conversion.
KV_BASE_API bool baseAppTextIsAnsi();

// The most bytes one character takes in the application's code set (1
// under the C locale, 3 under UTF-8): what a buffer for a value of a given
// number of characters must allow.
KV_BASE_API uint32_t baseAppCharBytes();

// Bytes at the start of a piece of the application's text that end on a
// character boundary (the rest waits for the next piece).
KV_BASE_API uint32_t baseAppWholeCharBytes(const unsigned char* text, uint32_t length);

// A diagnostic message (ANSI, length bytes) out to the application into
// room bytes at out, plus a terminator: whole characters only, and a
// character the application's code set lacks written as "<U+20AC>", since
// handing out a diagnostic must not fail. Returns the bytes written; *cut
// tells whether the message did not fit.
KV_BASE_API uint32_t baseMessageToApp(const unsigned char* ansi, uint32_t length, unsigned char* out, uint32_t room,
                                      bool* cut);
