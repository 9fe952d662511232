// Multi-user locking of dBASE tables: the locks a table takes through the
// OS layer's region locks (open-file-description locks: they belong to one
// open of the file, so two connections exclude each other even in one
// process, and closing another descriptor drops nothing). Where the locks
// lie is dbf_lock_offsets.h; what a connection holds, dbf_lock_table.h.
// The record, header and index lock operations of the table contract are
// DbfFileDesc's (dbf_record_locks.cpp); this header holds what the memo
// writer, the record reader and the index formats call.
//
// Waits: header and memo-header locks that another program holds are
// asked for again after 20 ms, 80 ms, then every 320 ms, without limit;
// a record lock that another program holds is refused at once with "The
// record is locked by another user." (3961). A wait that a whole-file lock
// of another connection of this process stands in is refused at once with
// 3961: that lock lasts beyond the call that took it and cannot be let go
// while this thread waits.
#pragma once

#include "drivers/dbase/locks/dbf_lock_offsets.h"
#include "util/kv_types.h"

class DbfSharedDesc;

// The geometry the table's lock offsets follow now.
DbfLockGeometry dbfLockGeometryOf(const DbfSharedDesc* table);

// The milliseconds to wait before attempt number attempt (from 1) of a
// lock that waits without limit: 20, 80, then 320.
uint16_t dbfLockWaitMs(uint32_t attempt);

// Takes the memo file's header lock, waiting while another program holds
// it; nothing to do for a table without memo-type fields or when this
// connection holds it already. Opens the memo file.
KvStatus dbfLockMemoHeader(DbfSharedDesc* table);
// Releases it; errors are cleared.
void dbfUnlockMemoHeader(DbfSharedDesc* table);

// Under K+V a writer holds the rest of a record (its update lock) while it
// rewrites it; Windows refused reads of those bytes, so readers waited.
// Linux locks do not stop reads, so a reader asks first and waits while
// another handle holds that range, so that it never sees half a record.
// Other schemes lock bytes beyond the data and need no wait.
KvStatus dbfWaitForRecordWriter(DbfSharedDesc* table, uint32_t recordNumber);

// Region locks for the index formats. dbfLockRegion locks a region once,
// or with repeat again and again while another handle holds it (no wait
// between attempts); taken says whether it was locked. Other failures
// fail.
KvStatus dbfLockRegion(int file, uint32_t offset, uint32_t length, bool repeat, bool* taken);
// Locks the first free byte of count bytes from start, trying each in
// turn; taken receives its offset. Fails with 1507, 1511 or 1514 at once,
// with 1512 after count refusals, and with 1512 and the error number for
// any other failure.
KvStatus dbfLockFirstFreeByte(int file, uint32_t start, uint32_t count, uint32_t* taken);
