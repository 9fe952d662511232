// Internal forms to the application's C types: result columns and output
// parameters. See base_convert.h.
//
// By C type:
//   SQL_C_CHAR     binary as hexadecimal text; text copied (a date, time or
//                  timestamp column's text needs the buffer its full form
//                  needs); numbers and dates formatted, approximate SQL types
//                  at most 13 (REAL) or 22 (FLOAT, DOUBLE) characters long
//   SQL_C_WCHAR    the SQL_C_CHAR text as UTF-16LE: the buffer's room is
//                  counted in 2-byte characters, lengths in bytes
//   numeric types  one BaseConvertNum into the buffer
//   date types     text read as the column's own date type first, then
//                  converted
//   SQL_C_BINARY   text and binary columns (and types the driver handles)
//                  copied raw; every other type as its fixed binary image
#include "base/convert/base_convert.h"

#include "base/connection/base_connection.h"
#include "base/convert/base_date_convert.h"
#include "base/handles/base_error_list.h"
#include "base/handles/base_message_ids.h"
#include "base/handles/base_messages.h"
#include "base/convert/base_num_convert.h"
#include "base/handles/base_out_string.h"
#include "base/convert/base_type_table.h"
#include "util/charsets/charset_unicode.h"
#include "util/memory/ram.h"
#include "util/containers/text_convert.h"

#include <algorithm>

namespace {

// Longest text a number or a date is formatted into when a later piece of
// it is asked for (a plain number never comes near it).
enum : uint32_t { formattedTextMax = 1024 };

struct ToC {
  uint16_t column;
  const BaseValueDesc& desc;
  const BaseSqlTypeInfo* sql;  // null for a driver's own SQL type
  BaseOutString* out;
  const unsigned char* data;
  uint32_t length;
  InternalType type;
  uint32_t offset;
  BaseConnection* connection;
  bool huge;

  uint32_t remaining() const { return offset < length ? length - offset : 0; }
  const unsigned char* fromOffset() const { return data + std::min(offset, length); }
  unsigned char* buffer() const { return static_cast<unsigned char*>(out->getBuffer()); }
  // A missing buffer has no room at all.
  uint32_t size() const { return out->getBuffer() ? out->getSize() : 0; }
};

KvStatus numericOverflow() {
  addOdbcError(stateNumericRange, msgNumericOverflow);
  return kvFailure;
}

bool isDateForm(int16_t type) { return type == itDate || type == itTime || type == itTimestamp; }

// Buffer a date, time or timestamp needs as SQL_C_CHAR, terminator included.
uint32_t dateTextBytes(InternalType type) { return type == itDate ? 11 : type == itTime ? 9 : 20; }

// A number or a date as text into room bytes; *length as the conversion
// reports it.
KvStatus formatValue(const ToC& c, unsigned char* dst, uint32_t room, uint32_t* length) {
  if (isDateForm(c.type)) {
    return BaseConvertDateTime(c.type, c.data, int32_t(c.length), itChar, dst, length, room, c.desc.scale, 0);
  }
  if (c.type != itChar && c.type < itDecimal) {
    return BaseConvertNum(c.type, c.data, int32_t(c.length), itChar, dst, length, room, c.desc.scale, baseNumWarn);
  }
  // Decimal text, float, double, and text of a numeric column: approximate
  // SQL types are shown in at most their clamp, exact numeric ones exactly.
  // A number in a column of another type keeps its own kind (a double
  // stays approximate), so that a large one takes exponent notation
  // rather than failing for want of room.
  const uint32_t clamp = c.sql ? c.sql->textClamp : 0;
  const bool exactColumn = c.sql && c.sql->typeClass == classNumeric && !clamp;
  const uint16_t flags = exactColumn ? baseNumExact : 0;
  if (BaseConvertNum(c.type, c.data, int32_t(c.length), itChar, dst, length, clamp && clamp < room ? clamp : room,
                     c.desc.scale, flags) != kvSuccess) {
    return kvFailure;
  }
  if (clamp && *length > clamp) *length = clamp;
  return kvSuccess;
}

KvStatus toHexText(const ToC& c) {
  const uint32_t size = c.size();
  const uint32_t room = size ? size - 1 : 0;
  const uint32_t bytes = c.remaining();
  const uint32_t fit = std::min(bytes, room / 2);
  if (fit) hexifyHuge(c.buffer(), c.fromOffset(), fit);
  if (size) c.buffer()[2 * fit] = 0;
  c.out->setLength(int64_t(bytes) * 2);
  if (fit < bytes) {
    if (c.huge) addOdbcWarning(stateTruncated, msgColumnTruncated) << uint32_t(c.column);
    else addOdbcWarning(stateTruncated, msgDataTruncated);
  }
  return kvSuccess;
}

KvStatus toChar(const ToC& c) {
  if (c.type == itBinary) return toHexText(c);
  const bool numericColumn = c.sql && c.sql->typeClass == classNumeric;
  if (c.huge || (c.type == itChar && !numericColumn)) {
    if (!c.huge && c.type == itChar && c.sql && c.sql->textBytes && c.size() < c.sql->textBytes) {
      return numericOverflow();
    }
    return c.out->setValue(c.fromOffset(), c.remaining(), 1);
  }
  if (isDateForm(c.type) && c.size() < dateTextBytes(c.type)) return numericOverflow();

  const uint32_t size = c.size();
  const uint32_t room = size ? size - 1 : 0;
  if (c.offset > 0) {
    // A later piece: the rest of the whole text, as a text column's would be.
    unsigned char text[formattedTextMax];
    uint32_t length = 0;
    if (formatValue(c, text, sizeof(text), &length) != kvSuccess) return kvFailure;
    length = std::min<uint32_t>(length, sizeof(text));
    const uint32_t start = std::min(c.offset, length);
    return c.out->setValue(text + start, length - start, 1);
  }
  uint32_t length = 0;
  if (formatValue(c, c.buffer(), room, &length) != kvSuccess) return kvFailure;
  c.out->setLength(length);
  if (size) c.buffer()[std::min(length, room)] = 0;
  if (length > room) addOdbcWarning(stateTruncated, msgDataTruncated);
  return kvSuccess;
}

// SQL_C_WCHAR: the SQL_C_CHAR text in a scratch buffer of the same room in
// characters, then widened. The scratch buffer is bounded by what the value
// can need, not by the application's buffer, which may be large.
KvStatus toWideChar(const ToC& c) {
  const uint32_t size = c.size();
  const uint32_t room = size >= 2 ? (size - 2) / 2 : 0;
  uint32_t bound = c.remaining();
  if (c.type == itBinary) bound = bound > UINT32_MAX / 2 ? UINT32_MAX - 1 : bound * 2;
  bound = std::max<uint32_t>(bound, formattedTextMax);
  const uint32_t scratchSize = size >= 2 ? std::min(room, bound) + 1 : 0;
  unsigned char* scratch = static_cast<unsigned char*>(ramAlloc(scratchSize ? scratchSize : 1));
  if (!scratch) return kvFailure;

  SQLLEN chars = 0;
  BaseOutString narrow(scratch, SQLLEN(scratchSize), &chars);
  narrow.keepAnsi();
  ToC inner = c;
  inner.out = &narrow;
  const KvStatus status = toChar(inner);
  if (status == kvSuccess) {
    if (size >= 2) {
      const uint32_t written = uint32_t(std::min<SQLLEN>(chars, SQLLEN(scratchSize - 1)));
      kvAnsiToUtf16le(c.buffer(), scratch, written);
      c.buffer()[2 * written] = 0;
      c.buffer()[2 * written + 1] = 0;
    }
    c.out->setLength(int64_t(chars) * 2);
  }
  ramFree(scratch);
  return status;
}

KvStatus toNumber(const ToC& c, const BaseCTypeInfo& cType) {
  const InternalType form = InternalType(c.desc.isUnsigned ? cType.unsignedForm : cType.form);
  if (!c.buffer()) {
    c.out->setLength(cType.size);
    return kvSuccess;
  }
  uint32_t length = 0;
  if (cType.native64) {
    unsigned char internal[8];
    if (BaseConvertNum(c.type, c.data, int32_t(c.length), form, internal, &length, c.desc.precision, c.desc.scale,
                       baseNumWarn) != kvSuccess) {
      return kvFailure;
    }
    const uint64_t value = baseGet64(internal);
    std::memcpy(c.buffer(), &value, 8);
  } else if (BaseConvertNum(c.type, c.data, int32_t(c.length), form, c.buffer(), &length, c.desc.precision,
                            c.desc.scale, baseNumWarn) != kvSuccess) {
    return kvFailure;
  }
  c.out->setLength(length);
  return kvSuccess;
}

KvStatus toDate(const ToC& c, const BaseCTypeInfo& cType) {
  const InternalType target = InternalType(cType.form);
  if (!c.buffer()) {
    c.out->setLength(cType.size);
    return kvSuccess;
  }
  uint32_t length = 0;
  if (c.type == itChar && c.sql && isDateForm(c.sql->pivot) && c.sql->pivot != target) {
    // The text is read as what the column is, then converted.
    unsigned char pivot[16];
    const InternalType pivotForm = InternalType(c.sql->pivot);
    if (BaseConvertDateTime(itChar, c.data, int32_t(c.length), pivotForm, pivot, &length, 0, 0, baseNumWarn) !=
            kvSuccess ||
        BaseConvertDateTime(pivotForm, pivot, int32_t(length), target, c.buffer(), &length, 0, c.desc.scale,
                            baseNumWarn) != kvSuccess) {
      return kvFailure;
    }
  } else if (BaseConvertDateTime(c.type, c.data, int32_t(c.length), target, c.buffer(), &length, 0, c.desc.scale,
                                 baseNumWarn) != kvSuccess) {
    return kvFailure;
  }
  c.out->setLength(length);
  return kvSuccess;
}

KvStatus toBinary(const ToC& c) {
  const bool handled = c.connection && c.connection->isBinaryCTypeHandled(c.desc.sqlType);
  if (handled || !c.sql || baseIsTextOrBinarySql(*c.sql)) {
    // Text and binary columns are cut to the buffer like any text; a value
    // the driver itself gave in binary form is whole or not at all.
    const bool cuttable = !c.sql || baseIsTextOrBinarySql(*c.sql);
    if (!cuttable && c.remaining() > c.size()) return numericOverflow();
    return c.out->setValue(c.fromOffset(), c.remaining(), 0);
  }
  const InternalType image = InternalType(c.desc.isUnsigned ? c.sql->unsignedColumnImage : c.sql->columnImage);
  const uint32_t imageBytes = c.sql->imageBytes ? c.sql->imageBytes : basePackedBytes(c.desc.precision);
  if (c.size() < imageBytes) return numericOverflow();
  uint32_t length = 0;
  if (BaseConvertDateTime(c.type, c.data, int32_t(c.length), image, c.buffer(), &length, c.desc.precision,
                          c.desc.scale, baseNumWarn) != kvSuccess) {
    return kvFailure;
  }
  c.out->setLength(imageBytes);
  return kvSuccess;
}

KvStatus convertToC(uint16_t column, const BaseValueDesc& desc, int16_t cType, BaseOutString* out, const void* data,
                    int32_t length, InternalType type, uint32_t offset, BaseConnection* connection, bool huge) {
  if (cType == SQL_C_DEFAULT) cType = BaseDefaultCType(desc.sqlType);
  const BaseCTypeInfo* cInfo = baseFindCType(cType);
  if (!cInfo) {
    addOdbcError(stateProgramType);
    return kvFailure;
  }
  // The driver's value: a known form, and at least the bytes a fixed-size
  // form has, so that nothing is read past it.
  if (length < 0 || type < 0 || type >= itCount || (!data && length > 0) ||
      uint32_t(length) < baseInternalSize(type)) {
    addOdbcError(stateGeneral);
    return kvFailure;
  }
  const ToC c{column, desc, baseFindSqlType(desc.sqlType), out, static_cast<const unsigned char*>(data),
              uint32_t(length), type, offset, connection, huge};
  if (huge && cType == SQL_C_BINARY) {
    return out->setValue(c.fromOffset(), c.remaining(), 0);
  }
  if (cInfo->typeClass == classChar) return cInfo->wide ? toWideChar(c) : toChar(c);
  if (cInfo->typeClass == classBinary) return toBinary(c);
  if (cInfo->typeClass == classNumeric) return toNumber(c, *cInfo);
  return toDate(c, *cInfo);
}

}  // namespace

KvStatus BaseConvertToC(uint16_t column, const BaseValueDesc& desc, int16_t cType, BaseOutString* out,
                        const void* data, int32_t length, InternalType type, uint32_t offset,
                        BaseConnection* connection) {
  return convertToC(column, desc, cType, out, data, length, type, offset, connection, false);
}

KvStatus BaseConvertToCHuge(uint16_t column, const BaseValueDesc& desc, int16_t cType, BaseOutString* out,
                            const void* data, int32_t length, InternalType type, uint32_t offset,
                            BaseConnection* connection) {
  const BaseCTypeInfo* cInfo = baseFindCType(cType);
  const bool cutHere = cInfo && (cInfo->typeClass == classChar || cInfo->typeClass == classBinary);
  return convertToC(column, desc, cType, out, data, length, type, offset, connection, cutHere);
}

uint32_t BaseGetDataPieceBytes(int16_t cType, int16_t sqlType, uint32_t bufferSize) {
  const BaseCTypeInfo* cInfo = baseFindCType(cType);
  if (!cInfo || cInfo->size || cInfo->typeClass == classDefault) return 0;
  if (cInfo->typeClass == classBinary) return bufferSize;
  const uint32_t room = cInfo->wide ? (bufferSize >= 2 ? (bufferSize - 2) / 2 : 0) : (bufferSize ? bufferSize - 1 : 0);
  const BaseSqlTypeInfo* sql = baseFindSqlType(sqlType);
  return (sql && sql->typeClass == classBinary) ? room / 2 : room;
}
