// The byte-range locks of the index files that other programs share,
// beside the table locks of drivers/dbase/locks. Two shapes recur:
//
// - One lock byte a file (0x6FFFFFFE under the dBASE, CLIPPER and FOX
//   schemes): a writer or a first reader takes it, waiting while another
//   process holds it. This handle's holders (read locks of any plan, write
//   locks of any tag) share one lock of the byte, counted in the index
//   file: the system lock is taken by the first and let go by the last.
// - A region of 64 bytes (K+V and K+VVirtual): the first 63 are reader
//   slots, the last the writer's gate. A reader waits while the gate is
//   locked by another handle (where Windows made its read of that byte
//   wait), then locks the first free slot. A writer tries all 64 at once;
//   when readers are in, it locks the gate first (new readers stop there)
//   and then waits for the slots. When this handle holds slots of its own
//   (another plan's read lock) the writer locks the other bytes one by
//   one: asking for a range that overlaps this handle's own lock would be
//   refused for ever.
//
// Waits are 20 ms, 80 ms, then 320 ms between attempts, without limit, as
// for the table's header lock.
#pragma once

#include "util/kv_types.h"

class DbfIndexFile;

enum : uint32_t {
  dbfIndexLockByte = 0x6FFFFFFE,  // dBASE, CLIPPER, FOX: the file's lock byte
  dbfIndexSlotCount = 63,         // reader slots of a 64-byte region
  dbfIndexRegionBytes = 64,
};

// Locks a region, waiting while another handle holds it.
KvStatus dbfIndexLockWaiting(int file, uint32_t offset, uint32_t length);
// Unlocks a region; a failure is cleared from the error list.
void dbfIndexUnlock(int file, uint32_t offset, uint32_t length);
// Waits while another handle holds any byte of the region.
KvStatus dbfIndexWaitUnlocked(int file, uint32_t offset, uint32_t length);

// The file's lock byte: taken by the first holder of this handle (waiting),
// let go by the last.
// offset: the byte of the file's format (the compact FoxPro files lock
// 0x3FFFFFFE); a file uses one lock byte only.
KvStatus dbfIndexHoldLockByte(DbfIndexFile* file, uint32_t offset = dbfIndexLockByte);
void dbfIndexReleaseLockByte(DbfIndexFile* file, uint32_t offset = dbfIndexLockByte);

// A writer's lock of the 64-byte region at base; ownSlots are the slot
// bytes this handle holds as reader (bit i: base + i). lockedBytes
// receives the bytes locked one by one (0 when the region was locked in
// one piece or as gate and slots, which oneRegion tells apart).
KvStatus dbfIndexLockRegionForWrite(int file, uint32_t base, uint64_t ownSlots, bool* oneRegion, uint64_t* lockedBytes);
void dbfIndexUnlockRegionForWrite(int file, uint32_t base, bool oneRegion, uint64_t lockedBytes);
// A reader's slot in the region at base: waits at the gate, then the first
// free slot; slot receives its offset. All 63 taken: 1512.
KvStatus dbfIndexLockSlot(int file, uint32_t base, uint32_t* slot);
