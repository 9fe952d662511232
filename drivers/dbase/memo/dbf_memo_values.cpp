// The reader's memo-type values: memo text for the evaluator, values read
// in pieces (getLargeColumn), and values stored in pieces
// (updateLargeColumn) that wait in the reader's stage until writeRecord
// writes them with the record, through the table's memo file
// (dbf_memo_file.h).
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
  // The evaluator's piece needs no total: the text is not read ahead.
  DbfMemoRead request = memoRequest(field, column, 0);
  request.wantTotal = false;
  DbfMemoPiece piece;
  if (table()->memo().read(table(), &memo_, request, buffer, size, &piece) != kvSuccess) return kvFailure;
  if (piece.isNull) return kvSuccess;
  buffer[piece.got] = 0;
  *length = int32_t(piece.got + 1);
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
  DbfMemoPiece piece;
  if (table()->memo().read(table(), &memo_, memoRequest(field, column, offset), static_cast<unsigned char*>(buffer),
                           size, &piece) != kvSuccess)
    return kvFailure;
  *got = piece.got;
  *total = piece.total;
  return kvSuccess;
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
    memoStage_.drop(column);
    std::memset(text, ' ', field->getLength());
    return kvSuccess;
  }
  // The value waits beside the record and reaches the memo file when the
  // record is written (writeRecord), so that a statement failing before
  // that leaves the memo file untouched. What would refuse it then is
  // checked now.
  uint32_t staged = 0;
  if (offset != 0) (void)memoStage_.get(column, &staged);
  if (table()->memo().checkPiece(table(), field->getType(), static_cast<const unsigned char*>(value), length,
                                 uint64_t(staged) + length) != kvSuccess) {
    memoStage_.drop(column);
    return kvFailure;
  }
  return memoStage_.add(table()->getDbfConnection()->getScratchStore(), table()->getColumnCount(), column,
                        static_cast<const unsigned char*>(value), length, offset);
}

KvStatus DbfFileDesc::writeStagedMemos() {
  if (memoStage_.isEmpty()) return kvSuccess;
  DbfMemoWriteOptions options;
  options.oem = isOem();
  options.lockHeader = lockLevel_ != dbfLockNone;
  options.inTransaction = connection_ && (connection_->getFlags() & BaseConnection::flagTransaction);
  KvStatus status = table()->memo().writeStaged(table(), &memoStage_, recordBuffer_, options);
  memoStage_.clear();
  return status;
}

DbfMemoRead DbfFileDesc::memoRequest(const DbfSharedField* field, uint16_t column, uint32_t offset) const {
  DbfMemoRead request;
  request.record = currentRecord();
  request.column = column;
  request.type = field->getType();
  request.text = recordBuffer_ + field->getOffset();
  request.width = field->getLength();
  request.oem = isOem();
  request.offset = offset;
  return request;
}
