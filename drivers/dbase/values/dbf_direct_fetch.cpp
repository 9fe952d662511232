// The direct column fetch of the dBASE query (DbfSqlDesc::
// getTableColumnAsCType): a plain column of the current record goes from
// its field text straight to the framework's conversion into the
// application's C type, without the engine's value forms in between. A
// number field's text goes out as text, so an application sees the digits
// the file holds, and never more of them than the field's declaration
// allows.
#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "base/handles/base_out_string.h"
#include "drivers/dbase/connection/dbf_connection.h"
#include "drivers/dbase/dbase_message_ids.h"
#include "drivers/dbase/records/dbf_file_desc.h"
#include "drivers/dbase/statement/dbf_statement.h"
#include "drivers/dbase/values/dbf_field_text.h"
#include "flat/exec/flat_statement.h"
#include "util/charsets/charset.h"
#include "util/charsets/charset_oem.h"
#include "util/memory/ram.h"

#include <cstring>

namespace {

KvStatus deliverNull(BaseOutString* out) {
  out->setLength(SQL_NULL_DATA);
  return kvSuccess;
}

// Blank text: blanks only, a double-byte character counting as none.
bool isAllBlank(const unsigned char* text, uint32_t length) {
  for (uint32_t i = 0; i < length; i += kvCharBytes(text + i, text + length))
    if (text[i] != ' ') return false;
  return true;
}

}  // namespace

KvStatus DbfSqlDesc::getTableColumnAsCType(uint16_t column, void* out, int16_t cType) {
  auto* output = static_cast<BaseOutString*>(out);
  FlatFileDesc* table = nullptr;
  uint16_t tableColumn = 0;
  if (resolveItem(column, &table, &tableColumn) != kvSuccess) return kvFailure;
  auto* reader = static_cast<DbfFileDesc*>(table);
  DbfSharedField* field = reader->table() ? reader->table()->getField(tableColumn) : nullptr;
  if (!field || !reader->getRecordBuffer()) {
    addOdbcError(stateColumnNumber);
    return kvFailure;
  }
  const unsigned char* text = reader->getRecordBuffer() + field->getOffset();
  const uint32_t width = field->getLength();
  switch (field->getType()) {
    case 'D': {
      int32_t year = 0, month = 0, day = 0;
      DbfTextResult read = dbfReadDate(text, width, &year, &month, &day);
      if (read == dbfTextBlank) return deliverNull(output);
      if (read == dbfTextBad) {
        addOdbcError(stateDatetimeOverflow);
        return kvFailure;
      }
      // As the digits give them; the conversion refuses a date that is none.
      const uint16_t parts[3] = {uint16_t(year), uint16_t(month), uint16_t(day)};
      return statement_->convertInternalToC(column, cType, output, parts, sizeof(parts), itDate);
    }
    case 'L': {
      int value = 0;
      if (dbfReadLogical(text[0], DbfConnection::getLogicalLetters(), &value) == dbfTextBlank)
        return deliverNull(output);
      const uint16_t truth = uint16_t(value);
      return statement_->convertInternalToC(column, cType, output, &truth, sizeof(truth), itUShort);
    }
    case 'F':
    case 'N': {
      unsigned char digits[dbfMaxNumberWidth];
      uint32_t length = 0;
      switch (dbfDirectNumberText(text, width, field->getDecimals(), digits, &length)) {
        case dbfTextBlank:
          return deliverNull(output);
        case dbfTextBad:
          addOdbcError(stateGeneral, msgDbfBadDecimalFormat);
          return kvFailure;
        case dbfTextOutOfRange:
          addOdbcError(stateNumericRange);
          return kvFailure;
        default:
          return statement_->convertInternalToC(column, cType, output, digits, int32_t(length), itChar);
      }
    }
    case 'C': {
      if (isAllBlank(text, width)) return deliverNull(output);
      if (!reader->isOem()) return statement_->convertInternalToC(column, cType, output, text, int32_t(width), itChar);
      auto* converted = static_cast<unsigned char*>(ramAlloc(width + 1));
      if (!converted) return kvFailure;
      kvOemToAnsi(converted, text, width);
      KvStatus status = statement_->convertInternalToC(column, cType, output, converted, int32_t(width), itChar);
      ramFree(converted);
      return status;
    }
    default:
      // Memo-type fields are long values, which the engine reads in pieces.
      return FlatSqlDesc::getTableColumnAsCType(column, out, cType);
  }
}
