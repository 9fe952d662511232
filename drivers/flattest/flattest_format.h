// The test file driver's table format: deliberately simple, so that tests
// can write and inspect it byte by byte. One file "<table>.ftt" a table:
//
//   offset  size  content (integers little-endian)
//   0       8     magic "KVFTTBL1"
//   8       4     header bytes H = 24 + 48 * column count
//   12      4     record slots (deleted ones included)
//   16      4     record width W = 1 + the sum of the column sizes
//   20      2     column count C (1..255)
//   22      2     0
//   24      48*C  columns:
//                   0   32  name, NUL-padded (at most 31 bytes)
//                   32  1   type: 'C' text of width bytes (blank-padded),
//                           'I' 32-bit integer, 'D' double, 'B' binary of
//                           width bytes, 'L' long text of at most width bytes,
//                           'T' date (a double: day number and fraction),
//                           'Y' logical (one byte, 0 or 1)
//                   33  1   0x1 indexed, 0x2 unique (implies indexed), 0x4
//                           the index runs in descending order (implies indexed)
//                   34  2   width (C, B, L); 4 for I, 8 for D
//                   36  12  0
//   H + (n - 1) * W   record n (1-based): byte 0 ' ' live or '*' deleted;
//                   then each column in order: a null byte (1 null, 0 a
//                   value) and its value (L: a u32 length, then width bytes)
//
// Record locks are byte-range locks at flatTestLockBase + record number
// (beyond any file), the header lock at flatTestLockBase, the index lock at
// flatTestLockBase + flatTestIndexLockSlot and the lock an update takes on
// the record it rewrites (kind 2) at flatTestLockBase +
// flatTestUpdateLockSlot + record number.
#pragma once

#include "util/kv_types.h"

#include <string>
#include <vector>

enum : uint32_t {
  flatTestHeaderBytes = 24,
  flatTestColumnBytes = 48,
  flatTestNameBytes = 32,
  flatTestMaxColumns = 255,
  flatTestMaxWidth = 65000,
  flatTestLockBase = 0x40000000,
  flatTestIndexLockSlot = 0x10000000,
  flatTestUpdateLockSlot = 0x20000000,
  // Tries for a header, index or update lock that another connection
  // holds, a few milliseconds apart (about a minute in all).
  flatTestLockAttempts = 6000,
};

enum : uint8_t { flatTestIndexed = 0x1, flatTestUnique = 0x2, flatTestDescending = 0x4 };

struct FlatTestColumn {
  std::string name;
  char type = 'C';
  uint16_t width = 0;
  uint8_t flags = 0;
  uint32_t offset = 0;  // of its null byte within the record
  // Bytes the column takes in a record, its null byte included.
  uint32_t size() const { return 1 + width + (type == 'L' ? 4 : 0); }
};

struct FlatTestLayout {
  std::vector<FlatTestColumn> columns;
  uint32_t headerBytes = 0;
  uint32_t recordWidth = 0;
  uint32_t recordCount = 0;
};

// Checks a layout read from a header (or given by a test) and fills in the
// offsets and sizes; a false answer names the fault in reason.
bool flatTestCheckLayout(FlatTestLayout* layout, std::string* reason);
// Parses a header (the first bytes of a file, at least its H bytes).
bool flatTestParseHeader(const unsigned char* bytes, uint32_t length, FlatTestLayout* layout, std::string* reason);
// The header bytes of a layout.
std::vector<unsigned char> flatTestHeader(const FlatTestLayout& layout);
// Creates (or replaces) a table file with no records; KvStatus with the OS
// layer's message on failure.
KvStatus flatTestCreateTable(const unsigned char* path, const std::vector<FlatTestColumn>& columns);
