// The reader's memo-type values: memo text for the evaluator, values read
// in pieces (getLargeColumn) and written in pieces (updateLargeColumn),
// through the table's memo file (dbf_memo_file.h).
#include "base/connection/base_connection.h"
#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "drivers/dbase/connection/dbf_connection.h"
#include "drivers/dbase/records/dbf_file_desc.h"
#include "flat/connection/flat_values.h"

#include <cstring>

KvStatus DbfFileDesc::getMemoText(uint16_t column, unsigned char* buffer, uint16_t bufferSize, int32_t* length,
                                  uint8_t* kind) {
  *length = 0;
  *kind = flatValueNull;
  DbfSharedField* field = table()->getField(column);
  if (!field || bufferSize == 0) {
    addOdbcError(stateColumnNumber);
    return kvFailure;
  }
  uint32_t size = bufferSize - 1u < dbfMemoTextPiece ? bufferSize - 1u : uint32_t(dbfMemoTextPiece);
  uint32_t got = 0, total = 0;
  bool isNull = false;
  if (table()->memo().read(table(), &memo_, currentRecord(), column, field->getType(),
                           recordBuffer_ + field->getOffset(), field->getLength(), isOem(), 0, buffer, size, &got,
                           &total, &isNull) != kvSuccess)
    return kvFailure;
  if (isNull) return kvSuccess;
  buffer[got] = 0;
  *length = int32_t(got + 1);
  *kind = flatValueText;
  return kvSuccess;
}

KvStatus DbfFileDesc::getLargeColumn(uint16_t column, void* buffer, uint32_t size, uint32_t offset, uint32_t* got,
                                     uint32_t* total) {
  *got = 0;
  *total = 0;
  DbfSharedField* field = table()->getField(column);
  if (!field) {
    addOdbcError(stateColumnNumber);
    return kvFailure;
  }
  if (currentRecord() == 0 || !field->isMemoType()) return kvSuccess;
  bool isNull = false;
  return table()->memo().read(table(), &memo_, currentRecord(), column, field->getType(),
                              recordBuffer_ + field->getOffset(), field->getLength(), isOem(), offset,
                              static_cast<unsigned char*>(buffer), size, got, total, &isNull);
}

KvStatus DbfFileDesc::updateLargeColumn(uint16_t column, const void* value, uint32_t length, uint32_t offset) {
  DbfSharedField* field = table()->getField(column);
  if (!field) {
    addOdbcError(stateColumnNumber);
    return kvFailure;
  }
  if (!field->isMemoType()) {
    if (offset == 0) return updateColumn(column, value, length, flatItChar);
    addOdbcError(stateColumnNumber);
    return kvFailure;
  }
  unsigned char* text = recordBuffer_ + field->getOffset();
  if (offset == 0 && (!value || length == 0)) {
    // No value: the field goes blank and its old value stays unused.
    memo_.writing = false;
    std::memset(text, ' ', field->getLength());
    return kvSuccess;
  }
  bool inTransaction = connection_ && (connection_->getFlags() & BaseConnection::flagTransaction);
  return table()->memo().write(table(), &memo_, column, field->getType(), text, field->getLength(), isOem(),
                               lockLevel_ != dbfLockNone, inTransaction, static_cast<const unsigned char*>(value),
                               length, offset);
}
