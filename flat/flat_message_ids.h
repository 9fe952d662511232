// Named ids of the file SQL engine's messages (3800-4099); their texts are
// in flat_messages.cpp. Code names a message by these names, never by its
// number. Add a name here when code starts to raise a message.
#pragma once

#include <cstdint>

enum : uint16_t { flatFirstMessage = 3800, flatLastMessage = 4099 };

enum FlatMessageId : uint16_t {
  msgUnknownStatement = 3800,      // "Unknown SQL statement"
  msgFileNotExist = 3813,          // "The filename does not exist: %s1"
  msgRecordLockGone = 3959,        // "The record to be locked has been deleted or changed."
  msgRecordLocked = 3961,          // "The record is locked by another user."
  msgTableExists = 4010,           // "File already exists: %s1"
  msgBadExtension = 4017,          // "Invalid file name extension: %s1"
  msgTableNotExist = 4036,         // "Table does not exist: %s1"
  msgDuplicateKey = 4042,          // "Row with this primary key already exists in table."
  msgSharedOpenLimit = 4044,       // "The 32 shared open limit has been exceeded for table: %s1"
  // Messages of this engine beyond the inherited table: limits the old
  // design left unchecked.
  msgTooManyTables = 4096,         // "A statement may use at most %n1 tables."
  msgRecordNumberLimit = 4097,     // "The table %s1 has too many records for record numbers (at most %n2)."
};
