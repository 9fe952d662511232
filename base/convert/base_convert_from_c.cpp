// The application's C types to internal forms: input parameters. See
// base_convert.h.
//
// A value goes three steps:
//   1. The application's bytes become an internal source form: text (wide
//      text narrowed to ANSI, narrow text converted from the application's
//      code set), a number or a checked date, time or
//      timestamp; SQL_C_BINARY is taken as the fixed binary image of the SQL
//      type unless the driver handles binary itself.
//   2. The SQL type decides the pivot: text and binary SQL types take the
//      value as it is (text as text, binary as hexadecimal text and back),
//      date types go through their date form (a quoted literal is unquoted
//      first), numeric types through their number form (NUMERIC and DECIMAL
//      through decimal text with the parameter's precision and scale), so
//      that the value is checked and cut as the SQL type would hold it.
//   3. The pivot becomes the target form the driver asked for, in a buffer
//      whose size is honoured: text is cut with 01004, fixed forms that do
//      not fit fail with 22003.
#include "base/convert/base_convert.h"

#include "base/connection/base_connection.h"
#include "base/convert/base_date.h"
#include "base/convert/base_date_convert.h"
#include "base/handles/base_app_text.h"
#include "base/handles/base_error_list.h"
#include "base/handles/base_message_ids.h"
#include "base/handles/base_messages.h"
#include "base/convert/base_num_convert.h"
#include "base/convert/base_type_table.h"
#include "util/charsets/charset_unicode.h"
#include "util/memory/ram.h"
#include "util/containers/text_convert.h"

#include <algorithm>
#include <cstring>

namespace {

// Most characters a converted value is given as text: numbers and dates
// never need more; float and double pivots are shown as REAL and DOUBLE
// columns are.
enum : uint32_t { textRoom = 256, floatTextRoom = 13, doubleTextRoom = 22 };
// A pivot in decimal text: the header and at most 79 digits.
enum : uint32_t { decimalPivotBytes = baseDecimalHeaderBytes + 80 };

KvStatus fail(uint16_t state) {
  addOdbcError(state);
  return kvFailure;
}

KvStatus numericOverflow() {
  addOdbcError(stateNumericRange, msgNumericOverflow);
  return kvFailure;
}

bool isDateForm(int16_t form) { return form == itDate || form == itTime || form == itTimestamp; }
bool isRealForm(int16_t form) { return form == itFloat || form == itDouble; }

// A scratch block of the sub-allocator, freed with the scope.
class Scratch {
 public:
  ~Scratch() { ramFree(block_); }
  unsigned char* take(uint32_t size) {
    block_ = static_cast<unsigned char*>(ramAlloc(size ? size : 1));
    return block_;
  }

 private:
  unsigned char* block_ = nullptr;
};

// The value in an internal form, before the SQL type has its say.
struct Source {
  InternalType form = itChar;
  const unsigned char* bytes = nullptr;
  uint32_t length = 0;
  unsigned char local[16];
};

struct Target {
  InternalType form;
  unsigned char* out;
  int32_t* outLength;
  uint32_t outSize;
  int16_t scale;
  uint32_t precision;  // of a packed decimal or decimal text target
};

// Bytes the application gave for a text or binary value (SQL_NTS only for
// text).
KvStatus resolveLength(const void* data, SQLLEN length, bool text, bool wide, uint32_t* bytes) {
  if (length == SQL_NTS && data && text) {
    if (wide) {
      const unsigned char* text = static_cast<const unsigned char*>(data);
      SQLLEN units = 0;
      while (units < INT32_MAX / 2 && (text[2 * units] | text[2 * units + 1]) != 0) ++units;
      length = units * 2;
    } else {
      length = SQLLEN(std::strlen(static_cast<const char*>(data)));
    }
  }
  if (length < 0 || length > INT32_MAX) return fail(stateStringLength);
  if (!data && length > 0) return fail(stateArgumentValue);
  *bytes = uint32_t(length);
  return kvSuccess;
}

// UTF-16LE to the system's ANSI text; a character ANSI lacks is an error.
KvStatus narrowWideText(const unsigned char* utf16, uint32_t bytes, Scratch* scratch, Source* source) {
  if (bytes % 2) {
    addOdbcError(stateStringLength, msgOddWideLength) << bytes;
    return kvFailure;
  }
  const uint32_t units = bytes / 2;
  unsigned char* ansi = scratch->take(units);
  if (!ansi) return kvFailure;
  const uint32_t converted = kvUtf16leToAnsi(ansi, utf16, units);
  if (converted != units) {
    unsigned char code[8];
    hexify(code, uint32_t(utf16[2 * converted] | (utf16[2 * converted + 1] << 8)), 4);
    addOdbcError(stateAssignment, msgNoAnsiCharacter) << code;
    return kvFailure;
  }
  source->form = itChar;
  source->bytes = ansi;
  source->length = units;
  return kvSuccess;
}

// SQL_C_BINARY as the fixed image of the SQL type.
KvStatus readBinaryImage(const BaseValueDesc& desc, const BaseSqlTypeInfo& sql, InternalType target,
                         const unsigned char* bytes, uint32_t length, Source* source) {
  const bool cuttable = baseIsTextOrBinarySql(sql);
  uint32_t expected;
  if (cuttable) expected = desc.precision;
  else if (sql.imageBytes) expected = sql.imageBytes;
  else if (sql.odbc2Type == SQL_BIGINT) expected = basePackedBytes(desc.isUnsigned ? 20 : 19);
  else expected = basePackedBytes(desc.precision);
  if (length > expected) {
    if (!cuttable) {
      addOdbcError(stateNumericRange, msgBinaryParamBytes) << expected << length;
      return kvFailure;
    }
    addOdbcWarning(stateTruncated);
    length = expected;
  } else if (length < expected && !cuttable && target != itDecimal) {
    addOdbcError(stateNumericRange, msgBinaryParamBytes) << expected << length;
    return kvFailure;
  }
  source->form = InternalType(desc.isUnsigned ? sql.unsignedParamImage : sql.paramImage);
  source->bytes = bytes;
  source->length = length;
  return kvSuccess;
}

// A fixed-size C type: a number in its internal form, a date checked.
KvStatus readFixed(const BaseCTypeInfo& cType, const BaseValueDesc& desc, const void* data, Source* source) {
  if (!data) return fail(stateArgumentValue);
  source->form = InternalType(desc.isUnsigned ? cType.unsignedForm : cType.form);
  source->length = cType.size;
  std::memcpy(source->local, data, cType.size);
  source->bytes = source->local;
  if (cType.native64) {
    uint64_t value;
    std::memcpy(&value, data, 8);
    basePut64(source->local, value);
  }
  switch (source->form) {
    case itDate: {
      DATE_STRUCT date;
      std::memcpy(&date, data, sizeof(date));
      return BaseValidateDate(date.year, date.month, date.day);
    }
    case itTime: {
      TIME_STRUCT time;
      std::memcpy(&time, data, sizeof(time));
      return BaseValidateTime(time.hour, time.minute, time.second);
    }
    case itTimestamp: {
      TIMESTAMP_STRUCT stamp;
      std::memcpy(&stamp, data, sizeof(stamp));
      return BaseValidateTimestamp(stamp);
    }
    default:
      return kvSuccess;
  }
}

// Text or bytes into a character or binary target, cut to its room.
void copyOut(const unsigned char* bytes, uint32_t length, const Target& target) {
  const bool terminate = target.form == itChar && !target.outLength;
  const uint32_t room = (terminate && target.outSize) ? target.outSize - 1 : target.outSize;
  const uint32_t copy = std::min(length, room);
  if (copy) std::memmove(target.out, bytes, copy);
  if (copy < length) addOdbcWarning(stateTruncated);
  if (terminate && target.outSize) target.out[copy] = 0;
  if (target.outLength) *target.outLength = int32_t(copy);
}

// One conversion step into the target, its buffer checked first. textCap is
// the most characters a character target is given.
KvStatus convertInto(InternalType form, const unsigned char* bytes, uint32_t length, const Target& target,
                     uint32_t textCap) {
  uint32_t size = 0;
  const bool terminate = target.form == itChar && !target.outLength;
  switch (target.form) {
    case itChar:
      size = std::min(textCap, (terminate && target.outSize) ? target.outSize - 1 : target.outSize);
      break;
    case itPacked:
      if (target.outSize < basePackedBytes(target.precision)) return numericOverflow();
      size = target.precision;
      break;
    case itDecimal:
      if (target.outSize < baseDecimalTextBytes(target.precision)) return numericOverflow();
      size = target.precision;
      break;
    default:
      if (target.outSize < baseInternalSize(target.form)) return numericOverflow();
      break;
  }
  uint32_t written = 0;
  const KvStatus status =
      (isDateForm(form) || isDateForm(target.form))
          ? BaseConvertDateTime(form, bytes, int32_t(length), target.form, target.out, &written, size, target.scale,
                                baseNumWarn)
          : BaseConvertNum(form, bytes, int32_t(length), target.form, target.out, &written, size, target.scale,
                           baseNumWarn);
  if (status != kvSuccess) return kvFailure;
  if (target.form == itChar) written = std::min(written, size);
  if (terminate && written < target.outSize) target.out[written] = 0;
  if (target.outLength) *target.outLength = int32_t(written);
  return kvSuccess;
}

// CHAR, VARCHAR, LONGVARCHAR and the binary SQL types: the value as it is.
KvStatus convertPlain(const Source& source, const Target& target) {
  const bool textTarget = target.form == itChar, binaryTarget = target.form == itBinary;
  if ((textTarget || binaryTarget) && (source.form == itChar || source.form == itBinary)) {
    if (source.form == target.form) {
      copyOut(source.bytes, source.length, target);
      return kvSuccess;
    }
    if (source.form == itBinary) {
      // Bytes into text: two hexadecimal digits a byte, as many bytes as fit.
      const uint32_t room = (!target.outLength && target.outSize) ? target.outSize - 1 : target.outSize;
      const uint32_t fit = std::min(source.length, room / 2);
      if (fit) hexify(target.out, source.bytes, fit);
      if (fit < source.length) addOdbcWarning(stateTruncated);
      if (!target.outLength && target.outSize) target.out[2 * fit] = 0;
      if (target.outLength) *target.outLength = int32_t(2 * fit);
      return kvSuccess;
    }
    // Hexadecimal text into bytes; a bad digit is an error in assignment.
    const uint32_t digits = std::min(source.length, target.outSize > UINT32_MAX / 2 ? UINT32_MAX : target.outSize * 2);
    if (digits < source.length) addOdbcWarning(stateTruncated);
    if (digits && dehexifyHuge(target.out, source.bytes, digits) != kvSuccess) {
      resetLastErrorSqlState(stateAssignment);
      return kvFailure;
    }
    if (target.outLength) *target.outLength = int32_t((digits + 1) / 2);
    return kvSuccess;
  }
  const uint32_t cap = source.form == itFloat ? floatTextRoom : source.form == itDouble ? doubleTextRoom : textRoom;
  return convertInto(source.form, source.bytes, source.length, target, cap);
}

// DATE, TIME, TIMESTAMP: through the SQL type's own date form.
KvStatus convertDate(const Source& source, const BaseSqlTypeInfo& sql, const Target& target) {
  const InternalType pivot = InternalType(sql.pivot);
  const unsigned char* bytes = source.bytes;
  uint32_t length = source.length;
  if (source.form == itChar) {
    // A quoted literal ('1995-07-04' or {d '1995-07-04'}) is read from
    // between its first two quotes.
    const unsigned char* quote = static_cast<const unsigned char*>(std::memchr(bytes, '\'', length));
    if (quote) {
      const unsigned char* start = quote + 1;
      const unsigned char* end = bytes + length;
      const unsigned char* close = static_cast<const unsigned char*>(std::memchr(start, '\'', size_t(end - start)));
      bytes = start;
      length = uint32_t((close ? close : end) - start);
      if (pivot == itDate && length >= 11) length = 10;
      if (pivot == itTime && length >= 19) {
        bytes += 11;
        length = 8;
      }
    }
  }
  unsigned char pivotValue[16];
  uint32_t pivotLength = 0;
  if (BaseConvertDateTime(source.form, bytes, int32_t(length), pivot, pivotValue, &pivotLength, 0, target.scale,
                          baseNumWarn) != kvSuccess) {
    return kvFailure;
  }
  return convertInto(pivot, pivotValue, pivotLength, target, textRoom);
}

// The numeric SQL types: through the SQL type's number form.
KvStatus convertNumeric(const Source& source, const BaseValueDesc& desc, const BaseSqlTypeInfo& sql,
                        Target target) {
  const InternalType pivot = InternalType(desc.isUnsigned ? sql.unsignedPivot : sql.pivot);
  const uint32_t cap = pivot == itFloat ? floatTextRoom : pivot == itDouble ? doubleTextRoom : textRoom;
  if (target.form == itDecimal && target.outSize >= baseDecimalHeaderBytes) {
    BaseDecimalHeader header{0, 0, isRealForm(pivot) ? uint32_t(decimalApproximate) : 0u};
    basePutDecimalHeader(target.out, header);
  }
  if (source.form == pivot || pivot == target.form) {
    return convertInto(source.form, source.bytes, source.length, target, cap);
  }
  unsigned char pivotValue[decimalPivotBytes];
  const Target pivotTarget{pivot, pivotValue, nullptr, sizeof(pivotValue), desc.scale,
                           std::min<uint32_t>(desc.precision, 79)};
  if (pivot == itDecimal) {
    BaseDecimalHeader header{0, 0, isRealForm(source.form) ? uint32_t(decimalApproximate) : 0u};
    basePutDecimalHeader(pivotValue, header);
  }
  int32_t pivotLength = 0;
  Target step = pivotTarget;
  step.outLength = &pivotLength;
  if (convertInto(source.form, source.bytes, source.length, step, textRoom) != kvSuccess) return kvFailure;
  return convertInto(pivot, pivotValue, uint32_t(pivotLength), target, cap);
}

}  // namespace

KvStatus BaseConvertFromC(uint16_t parameter, const BaseValueDesc& desc, int16_t cType, const void* data,
                          SQLLEN length, InternalType target, void* out, int32_t* outLength, uint32_t outSize,
                          BaseConnection* connection) {
  if (cType == SQL_C_DEFAULT) cType = BaseDefaultCType(desc.sqlType);
  if (BaseCheckParamConversion(parameter, cType, desc.sqlType) != kvSuccess) return kvFailure;
  if (target < 0 || target >= itCount || (!out && outSize)) return fail(stateGeneral);
  const BaseCTypeInfo& c = *baseFindCType(cType);
  const BaseSqlTypeInfo& sql = *baseFindSqlType(desc.sqlType);
  const unsigned char* bytes = static_cast<const unsigned char*>(data);

  Scratch scratch;
  Source source;
  if (c.size == 0) {
    uint32_t given = 0;
    if (resolveLength(data, length, c.typeClass == classChar, c.wide, &given) != kvSuccess) return kvFailure;
    if (!bytes) bytes = reinterpret_cast<const unsigned char*>("");
    if (c.wide) {
      if (narrowWideText(bytes, given, &scratch, &source) != kvSuccess) return kvFailure;
    } else if (c.typeClass == classBinary) {
      if (connection && connection->isBinaryCTypeHandled(desc.sqlType)) {
        // The driver takes the bytes as they are, whole.
        if (given > outSize) return fail(stateRightTruncation);
        if (given) std::memcpy(out, bytes, given);
        if (outLength) *outLength = int32_t(given);
        return kvSuccess;
      }
      if (readBinaryImage(desc, sql, target, bytes, given, &source) != kvSuccess) return kvFailure;
    } else {
      // The application's text, in its code set, as ANSI.
      unsigned char* ansi = scratch.take(given);
      if (!ansi || baseTextFromApp(bytes, given, ansi, &source.length) != kvSuccess) return kvFailure;
      source.form = itChar;
      source.bytes = ansi;
    }
  } else if (readFixed(c, desc, data, &source) != kvSuccess) {
    return kvFailure;
  }

  const uint32_t targetPrecision = sql.odbc2Type == SQL_BIGINT ? (desc.isUnsigned ? 20 : 19) : desc.precision;
  const Target into{target, static_cast<unsigned char*>(out), outLength, outSize, desc.scale, targetPrecision};
  if (baseIsTextOrBinarySql(sql)) return convertPlain(source, into);
  if (sql.typeClass == classNumeric) return convertNumeric(source, desc, sql, into);
  return convertDate(source, sql, into);
}
