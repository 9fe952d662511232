// Where the byte-range locks of a table lie, for each LockCompatibility
// scheme. The bytes are agreed between programs of one family, mostly far
// beyond the end of the file, so that they see each other's locks; every
// offset here must stay exactly as those programs compute it.
//
// H = header length, R = record length, n = record number (from 1). All
// arithmetic is unsigned 32-bit (the "-1 - size" and "OR 0x40000000" forms
// wrap the way the other programs' do), widened only by the OS layer.
//
// | lock           | dBASE, K+VVirtual      | K+V                    | CLIPPER         | FOX                  | FOX, production index  |
// |----------------|------------------------|------------------------|-----------------|----------------------|------------------------|
// | record n       | 0x6FFFFFFE - n         | H + R(n-1)             | 1000000000 + n  | (H + Rn) | 0x40000000 | 0x7FFFFFFE - n         |
// | record, update | none                   | H + R(n-1) + 1, R - 1  | none            | none                 | none                   |
// | table header   | 0x6FFFFFFF             | 0, 12 bytes            | 1000000000      | H + 0x40000000       | 0x7FFFFFFE             |
// | memo header    | 0x6FFFFFFE             | 0, 12 bytes            | 1000000000      | 0x40000000           | 0x40000000             |
// | whole file     | 0x6FFFFFFF - m, m      | 0, 0xFFFFFFFF          | 1000000001, 1e9 | 0x40000001, 0x3FFFFFFE | 0x7FFFFFFE - m, m    |
//
// Single-byte locks unless a length is given; m = (0x6FFFFFFE - (H + 1)) /
// (R + 1) for dBASE and (0x7FFFFFFE - (H + 1)) / (R + 1) for FOX with a
// production index. The memo header lock lies on the memo file, the others
// on the table. The K+V record lock is the record's deletion byte and its
// update lock the rest of the record: a K+V reader that meets that lock
// waits (see dbfWaitForRecordWriter).
#pragma once

#include <cstdint>

// A region to lock; length 0 means the scheme takes no lock there.
struct DbfLockRegion {
  uint32_t offset;
  uint32_t length;
};

// What the offsets depend on: the scheme (DbfLockScheme) and the table's
// geometry as its header gives it now.
struct DbfLockGeometry {
  uint32_t scheme;
  uint32_t headerLength;
  uint32_t recordLength;
  uint32_t productionIndex;  // nonzero: the table has a production index
};

DbfLockRegion dbfRecordLockRegion(const DbfLockGeometry& table, uint32_t recordNumber);
DbfLockRegion dbfUpdateLockRegion(const DbfLockGeometry& table, uint32_t recordNumber);
DbfLockRegion dbfHeaderLockRegion(const DbfLockGeometry& table);
DbfLockRegion dbfMemoHeaderLockRegion(const DbfLockGeometry& table);
DbfLockRegion dbfFileLockRegion(const DbfLockGeometry& table);
