// Column values of .DBF records: the record's text turned into the
// engine's values (getFieldData) and back (checkValue, updateColumn), for
// the field types C, D, F, L, N; the memo-type fields B, G, M and P hold a
// block number of the memo file, whose values memo/dbf_memo_values.cpp
// reads and writes. The record holds the file's bytes: character text is
// converted from and to the OEM character set here, value by value, so
// that a field no statement assigns is written back as it was read.
#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "drivers/dbase/connection/dbf_connection.h"
#include "drivers/dbase/records/dbf_file_desc.h"
#include "drivers/dbase/values/dbf_field_text.h"
#include "flat/connection/flat_values.h"
#include "util/charsets/charset.h"
#include "util/charsets/charset_oem.h"
#include "util/resource.h"
#include "util/util_message_ids.h"

#include <charconv>
#include <cstring>

namespace {

// A double of this value stands for a blank date.
const double blankDate = 1e100;

KvStatus fieldTooLong() {
  addOdbcError(stateRightTruncation);
  return kvFailure;
}

KvStatus badNumberText(const unsigned char* text, uint32_t length) {
  KvString shown;
  if (shown.initialize(text, length) != kvSuccess) return kvFailure;
  kvAddUtilityError(kvMsgInvalidCharacter) << shown.getStr();
  return kvFailure;
}

// Memo-type values go to the memo file through updateLargeColumn, never
// through a field's text.
KvStatus memoNotText() {
  addOdbcError(stateNotCapable);
  return kvFailure;
}

bool isTextType(uint32_t type) { return type == flatItChar || type == flatItBinary || type == flatItDecimalText; }

// Year, month and day of a value for a date field; false when it is none.
bool valueToDate(const unsigned char* bytes, uint32_t length, uint32_t type, int32_t* year, int32_t* month,
                 int32_t* day) {
  if (type == flatItDate || type == flatItTimestamp) {
    if (length < 6) return false;
    int16_t y;
    uint16_t m, d;
    std::memcpy(&y, bytes, 2);
    std::memcpy(&m, bytes + 2, 2);
    std::memcpy(&d, bytes + 4, 2);
    *year = y;
    *month = m;
    *day = d;
    return true;
  }
  if (type == flatItChar) {
    // "YYYY-MM-DD" (a time may follow) or "YYYYMMDD".
    unsigned char digits[8];
    uint32_t count = 0;
    for (uint32_t i = 0; i < length && count < 8; ++i) {
      if (bytes[i] >= '0' && bytes[i] <= '9') digits[count++] = bytes[i];
      else if (!(bytes[i] == '-' && (count == 4 || count == 6))) return false;
    }
    return count == 8 && dbfReadDate(digits, 8, year, month, day) == dbfTextValue;
  }
  double number = 0;
  if (!flatInternalToDouble(bytes, length, type, &number) || number < -1e9 || number > 1e9) return false;
  dbfJulianToDate(int32_t(number), year, month, day);
  return true;
}

}  // namespace

KvStatus DbfFileDesc::getFieldData(uint16_t column, void* buffer, int32_t* length, uint16_t bufferSize,
                                   uint8_t* kind) {
  DbfSharedField* field = table()->getField(column);
  if (!field) {
    addOdbcError(stateColumnNumber);
    return kvFailure;
  }
  const unsigned char* text = recordBuffer_ + field->getOffset();
  uint32_t width = field->getLength();
  auto* out = static_cast<unsigned char*>(buffer);
  *length = 0;
  *kind = flatValueNull;
  switch (field->getType()) {
    case 'D': {
      int32_t year = 0, month = 0, day = 0;
      DbfTextResult read = dbfReadDate(text, width, &year, &month, &day);
      if (read == dbfTextBlank) return kvSuccess;
      if (read == dbfTextBad) {
        addOdbcError(stateDatetimeOverflow);
        return kvFailure;
      }
      if (bufferSize < 8) return fieldTooLong();
      double value = flatJulianDay(year, month, day);
      std::memcpy(out, &value, 8);
      *length = 8;
      *kind = flatValueDate;
      return kvSuccess;
    }
    case 'F':
    case 'N': {
      double value = 0;
      DbfTextResult read = dbfReadFieldNumber(text, uint16_t(width), field->getDecimals(), &value);
      if (read == dbfTextBlank) return kvSuccess;
      if (read == dbfTextBad) return badNumberText(text, width);
      if (read == dbfTextOutOfRange) {
        addOdbcError(stateNumericRange);
        return kvFailure;
      }
      if (bufferSize < 8) return fieldTooLong();
      std::memcpy(out, &value, 8);
      *length = 8;
      *kind = flatValueDouble;
      return kvSuccess;
    }
    case 'L': {
      int value = 0;
      if (dbfReadLogical(text[0], DbfConnection::getLogicalLetters(), &value) == dbfTextBlank) return kvSuccess;
      if (bufferSize < 1) return fieldTooLong();
      out[0] = uint8_t(value);
      *length = 1;
      *kind = flatValueLogical;
      return kvSuccess;
    }
    case 'M':
      return getMemoText(column, out, bufferSize, length, kind);
    case 'B':
    case 'G':
    case 'P':
      // Binary memo values are read in pieces through getLargeColumn.
      return kvSuccess;
    default:
      // Character text as it stands, trailing blanks kept; the buffer the
      // caller gives is honoured whatever the field's width.
      if (width + 1 > bufferSize) return fieldTooLong();
      if (isOem()) kvOemToAnsi(out, text, width);
      else std::memcpy(out, text, width);
      out[width] = 0;
      *length = int32_t(width + 1);
      *kind = flatValueText;
      return kvSuccess;
  }
}

KvStatus DbfFileDesc::encodeValue(uint16_t column, const void* value, uint32_t length, uint32_t internalType,
                                  unsigned char* out, int* keepField) {
  DbfSharedField* field = table()->getField(column);
  *keepField = 0;
  if (!field) {
    addOdbcError(stateColumnNumber);
    return kvFailure;
  }
  uint32_t width = field->getLength();
  const auto* bytes = static_cast<const unsigned char*>(value);
  std::memset(out, ' ', width);
  if (!value || length == 0) return kvSuccess;
  switch (field->getType()) {
    case 'B':
    case 'G':
    case 'M':
    case 'P':
      return memoNotText();
    case 'D': {
      double number = 0;
      if (internalType == flatItDouble && length >= 8) {
        std::memcpy(&number, bytes, 8);
        if (number == blankDate) {
          // A blank date written back leaves the field as it was.
          *keepField = 1;
          return kvSuccess;
        }
      }
      int32_t year = 0, month = 0, day = 0;
      if (!valueToDate(bytes, length, internalType, &year, &month, &day) || width < 8 ||
          !dbfFormatDate(year, month, day, out)) {
        addOdbcError(stateDatetimeOverflow);
        return kvFailure;
      }
      return kvSuccess;
    }
    case 'F':
    case 'N': {
      DbfNumberFit fit = dbfNumberBad;
      if (isTextType(internalType)) {
        fit = dbfFormatNumberText(bytes, length, uint16_t(width), field->getDecimals(), ' ', out);
      } else {
        double number = 0;
        if (flatInternalToDouble(bytes, length, internalType, &number))
          fit = dbfFormatDouble(number, uint16_t(width), field->getDecimals(), ' ', out);
      }
      if (fit == dbfNumberTooLarge) {
        addOdbcError(stateNumericRange);
        return kvFailure;
      }
      if (fit != dbfNumberFits) {
        addOdbcError(stateAssignment);
        return kvFailure;
      }
      return kvSuccess;
    }
    case 'L': {
      const unsigned char* letters = DbfConnection::getLogicalLetters();
      double number = 0;
      int truth = -1;
      if (flatInternalToDouble(bytes, length, internalType, &number)) {
        truth = int(int64_t(number) & 3);
      } else if (internalType == flatItChar) {
        for (int i = 0; i < 4; ++i)
          if (kvToUpper(bytes[0]) == letters[i]) truth = i;
      }
      if (truth < 0) {
        addOdbcError(stateAssignment);
        return kvFailure;
      }
      out[0] = letters[truth];
      return kvSuccess;
    }
    default: {
      // Text goes into the field in the table's character set.
      if (isTextType(internalType)) {
        if (isOem()) kvAnsiToOem(out, bytes, length < width ? length : width);
        else std::memcpy(out, bytes, length < width ? length : width);
        return kvSuccess;
      }
      // A number stored into a character field: its shortest text.
      double number = 0;
      char text[64];
      if (internalType == flatItDate || internalType == flatItTime || internalType == flatItTimestamp ||
          !flatInternalToDouble(bytes, length, internalType, &number)) {
        addOdbcError(stateAssignment);
        return kvFailure;
      }
      auto result = std::to_chars(text, text + sizeof(text), number);
      uint32_t count = uint32_t(result.ptr - text);
      std::memcpy(out, text, count < width ? count : width);
      return kvSuccess;
    }
  }
}

KvStatus DbfFileDesc::checkValue(uint16_t column, const void* value, uint32_t length, uint32_t internalType) {
  DbfSharedField* field = table()->getField(column);
  if (field && (field->getType() == 'C' || field->isMemoType())) return kvSuccess;
  int keep = 0;
  return encodeValue(column, value, length, internalType, writeBuffer_ + (field ? field->getOffset() : 0), &keep);
}

KvStatus DbfFileDesc::updateColumn(uint16_t column, const void* value, uint32_t length, uint32_t internalType) {
  DbfSharedField* field = table()->getField(column);
  if (!field) {
    addOdbcError(stateColumnNumber);
    return kvFailure;
  }
  if (field->isMemoType()) return updateLargeColumn(column, value, length, 0);
  // The new text is made beside the record (the write buffer is free
  // between writes) and copied in only when it is whole.
  unsigned char* scratch = writeBuffer_ + field->getOffset();
  int keep = 0;
  if (encodeValue(column, value, length, internalType, scratch, &keep) != kvSuccess) return kvFailure;
  if (!keep) std::memcpy(recordBuffer_ + field->getOffset(), scratch, field->getLength());
  return kvSuccess;
}
