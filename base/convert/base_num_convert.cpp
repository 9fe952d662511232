// BaseConvertNum; see base_num_convert.h.
//
// A source is decoded into one of three kinds: a whole number that fits 64
// bits signed (every 8-, 16- and 32-bit form, a date's day number, a time's
// seconds), a double (floats, doubles, timestamps with a time of day), or
// the decimal digit form (text, packed decimal, decimal text, 64-bit
// integers). Each kind is then written into the target form; integers and
// doubles reach the decimal digit form only for targets that need digits.
#include "base/convert/base_num_convert.h"

#include "base/convert/base_date.h"
#include "base/convert/base_decimal.h"
#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"

#include <cmath>
#include <cstring>

namespace {

enum ValueKind { kindInteger, kindReal, kindDecimal };

struct NumValue {
  ValueKind kind = kindInteger;
  int64_t whole = 0;
  double real = 0;
  bool fromFloat = false;
  float single = 0;  // the float itself, copied unchanged to a float target
  BaseDecimal decimal;
};

// Writes of one conversion: bytes written and whether digits were cut.
struct Outcome {
  uint32_t length = 0;
  bool truncated = false;
};

const double maxFloat = 3.4028234663852886e+38;
const double secondsToDays = 1.1574074074074073e-05;
const double billionthsToDays = 1.1574074074074074e-14;

KvStatus fail(uint16_t state) {
  addOdbcError(state);
  return kvFailure;
}

// Range of each integer form, indexed by InternalType 2 to 8.
struct IntegerForm {
  int64_t min, max;
};
const IntegerForm integerForms[] = {
    {0, 1},                  // bit
    {-128, 127},             // signed 8-bit
    {0, 255},                // unsigned 8-bit
    {-32768, 32767},         // signed 16-bit
    {0, 65535},              // unsigned 16-bit
    {INT32_MIN, INT32_MAX},  // signed 32-bit
    {0, UINT32_MAX},         // unsigned 32-bit
};

bool isIntegerForm(InternalType type) { return type >= itBit && type <= itULong; }
// Targets a double reaches by its whole part: the integer forms, a date as
// its day number and a time as its seconds.
bool takesWholePart(InternalType type) { return isIntegerForm(type) || type == itDate || type == itTime; }
bool isUnsignedClass(InternalType type) {
  return type == itBit || type == itUTinyInt || type == itUShort || type == itULong || type == itTime;
}

void putDate(void* dst, int32_t dayNumber) {
  DATE_STRUCT date;
  BaseJulianToDate(dayNumber, &date.year, &date.month, &date.day);
  std::memcpy(dst, &date, sizeof(date));
}

// The integer ways: a whole number into a form that is not made of digits.
KvStatus storeInteger(int64_t value, InternalType dstType, void* dst, Outcome* outcome) {
  outcome->length = baseInternalSize(dstType);
  if (isIntegerForm(dstType)) {
    const IntegerForm& form = integerForms[dstType - itBit];
    if (value < form.min || value > form.max) return fail(stateNumericRange);
    switch (dstType) {
      case itBit:
      case itUTinyInt: {
        const uint8_t byte = uint8_t(value);
        std::memcpy(dst, &byte, 1);
        break;
      }
      case itSTinyInt: {
        const int8_t byte = int8_t(value);
        std::memcpy(dst, &byte, 1);
        break;
      }
      case itSShort: {
        const int16_t word = int16_t(value);
        std::memcpy(dst, &word, 2);
        break;
      }
      case itUShort: {
        const uint16_t word = uint16_t(value);
        std::memcpy(dst, &word, 2);
        break;
      }
      case itSLong: {
        const int32_t word = int32_t(value);
        std::memcpy(dst, &word, 4);
        break;
      }
      default: {
        const uint32_t word = uint32_t(value);
        std::memcpy(dst, &word, 4);
        break;
      }
    }
    return kvSuccess;
  }
  switch (dstType) {
    case itFloat: {
      const float single = float(value);
      std::memcpy(dst, &single, 4);
      return kvSuccess;
    }
    case itDouble: {
      const double real = double(value);
      std::memcpy(dst, &real, 8);
      return kvSuccess;
    }
    case itDate:
      if (value < baseFirstDayNumber || value > baseLastDayNumber) return fail(stateDatetimeOverflow);
      putDate(dst, int32_t(value));
      return kvSuccess;
    case itTime: {
      if (value < 0 || value > 86399) return fail(stateNumericRange);
      TIME_STRUCT time;
      time.hour = uint16_t(value / 3600);
      time.minute = uint16_t(value / 60 % 60);
      time.second = uint16_t(value % 60);
      std::memcpy(dst, &time, sizeof(time));
      return kvSuccess;
    }
    case itTimestamp: {
      if (value < baseFirstDayNumber || value > baseLastDayNumber) return fail(stateDatetimeOverflow);
      TIMESTAMP_STRUCT stamp;
      std::memset(&stamp, 0, sizeof(stamp));
      BaseJulianToDate(int32_t(value), &stamp.year, &stamp.month, &stamp.day);
      std::memcpy(dst, &stamp, sizeof(stamp));
      return kvSuccess;
    }
    default:
      return fail(stateRestrictedType);
  }
}

// A day-number double as a timestamp. A double holds a day number of today
// to about 40 microseconds, so the time of day is rounded to the nearest
// millisecond rather than cut, which would turn 10:00:01 into
// 10:00:00.999960.
KvStatus storeTimestamp(double value, void* dst, Outcome* outcome) {
  if (!std::isfinite(value)) return fail(stateNumericRange);
  double day = std::floor(value);
  if (day < baseFirstDayNumber || day > baseLastDayNumber) return fail(stateDatetimeOverflow);
  int64_t milliseconds = std::llround((value - day) * 86400000.0);
  if (milliseconds >= 86400000) {
    milliseconds -= 86400000;
    day += 1;
    if (day > baseLastDayNumber) return fail(stateDatetimeOverflow);
  }
  TIMESTAMP_STRUCT stamp;
  BaseJulianToDate(int32_t(day), &stamp.year, &stamp.month, &stamp.day);
  const int64_t seconds = milliseconds / 1000;
  stamp.hour = uint16_t(seconds / 3600);
  stamp.minute = uint16_t(seconds / 60 % 60);
  stamp.second = uint16_t(seconds % 60);
  stamp.fraction = uint32_t(milliseconds % 1000) * 1000000u;
  std::memcpy(dst, &stamp, sizeof(stamp));
  outcome->length = sizeof(stamp);
  return kvSuccess;
}

KvStatus storeDecimal(BaseDecimal& value, InternalType dstType, void* dst, uint32_t dstSize, int16_t scale,
                      uint16_t flags, Outcome* outcome);

// A double into the target form.
KvStatus storeReal(double value, bool fromFloat, float single, InternalType dstType, void* dst, uint32_t dstSize,
                   int16_t scale, uint16_t flags, Outcome* outcome) {
  switch (dstType) {
    case itFloat: {
      if (!fromFloat) {
        if (std::isinf(value) || std::fabs(value) > maxFloat) return fail(stateNumericRange);
        single = float(value);
      }
      std::memcpy(dst, &single, 4);
      outcome->length = 4;
      return kvSuccess;
    }
    case itDouble:
      std::memcpy(dst, &value, 8);
      outcome->length = 8;
      return kvSuccess;
    case itTimestamp:
      return storeTimestamp(value, dst, outcome);
    default:
      break;
  }
  if (takesWholePart(dstType)) {
    // NaN and infinity have no whole part; no cast may see them.
    if (!std::isfinite(value)) return fail(stateNumericRange);
    const double whole = std::trunc(value);
    if (whole != value) outcome->truncated = true;
    if (isUnsignedClass(dstType)) {
      if ((dstType == itBit && value < 0) || whole < 0 || whole > 4294967295.0) return fail(stateNumericRange);
    } else if (whole < -2147483648.0 || whole > 2147483647.0) {
      return fail(stateNumericRange);
    }
    return storeInteger(int64_t(whole), dstType, dst, outcome);
  }
  // Digits for the rest: 15 significant ones for a double, 7 for a float,
  // one more of each for a target of precision 38.
  int digits = fromFloat ? 7 : 15;
  if (dstSize == 38) ++digits;
  BaseDecimal decimal;
  if (baseDecimalFromDouble(fromFloat ? double(single) : value, digits, &decimal) != kvSuccess) return kvFailure;
  return storeDecimal(decimal, dstType, dst, dstSize, scale, flags, outcome);
}

KvStatus storeDecimal(BaseDecimal& value, InternalType dstType, void* dst, uint32_t dstSize, int16_t scale,
                      uint16_t flags, Outcome* outcome) {
  if (dstType == itChar) {
    if (flags & baseNumExact) value.approximate = false;
    uint32_t written = 0, needed = 0;
    if (baseDecimalToText(value, static_cast<unsigned char*>(dst), dstSize, scale, &written, &needed,
                          &outcome->truncated) != kvSuccess) {
      return kvFailure;
    }
    outcome->length = (outcome->truncated && !(flags & baseNumWarnBits)) ? needed : written;
    return kvSuccess;
  }
  if (takesWholePart(dstType)) {
    uint64_t magnitude = 0;
    if (baseDecimalToInteger(value, 10, UINT32_MAX, &magnitude, &outcome->truncated) != kvSuccess) return kvFailure;
    if (value.negative && magnitude > 2147483648u) return fail(stateNumericRange);
    return storeInteger(value.negative ? -int64_t(magnitude) : int64_t(magnitude), dstType, dst, outcome);
  }
  switch (dstType) {
    case itSBigInt:
    case itUBigInt: {
      uint64_t magnitude = 0;
      if (baseDecimalToInteger(value, 20, UINT64_MAX, &magnitude, &outcome->truncated) != kvSuccess) {
        return kvFailure;
      }
      const bool negative = value.negative && magnitude != 0;
      if (dstType == itSBigInt) {
        if (!negative && magnitude > uint64_t(INT64_MAX)) return fail(stateNumericRange);
        if (negative && magnitude > uint64_t(INT64_MAX) + 1) return fail(stateNumericRange);
      } else if (negative) {
        return fail(stateNumericRange);
      }
      basePut64(dst, negative ? ~magnitude + 1 : magnitude);
      outcome->length = 8;
      return kvSuccess;
    }
    case itPacked:
      if (baseDecimalToPacked(value, dstSize, scale, static_cast<unsigned char*>(dst), &outcome->truncated) !=
          kvSuccess) {
        return kvFailure;
      }
      outcome->length = basePackedBytes(dstSize);
      return kvSuccess;
    case itDecimal:
      return baseDecimalToDecimalText(value, dstSize, scale, static_cast<unsigned char*>(dst), &outcome->length,
                                      &outcome->truncated);
    case itFloat:
    case itDouble:
    case itTimestamp: {
      if (baseDecimalIsWhole(value) && value.point < 10) {
        uint64_t magnitude = 0;
        bool cut = false;
        if (baseDecimalToInteger(value, 10, UINT32_MAX, &magnitude, &cut) != kvSuccess) return kvFailure;
        return storeInteger(value.negative ? -int64_t(magnitude) : int64_t(magnitude), dstType, dst, outcome);
      }
      double real = 0;
      if (baseDecimalToDouble(value, &real) != kvSuccess) return kvFailure;
      return storeReal(real, false, 0, dstType, dst, dstSize, scale, flags, outcome);
    }
    default:
      return fail(stateRestrictedType);
  }
}

// The source as one of the three kinds.
KvStatus decode(InternalType srcType, const void* src, int32_t srcLength, int16_t scale, NumValue* value) {
  const unsigned char* bytes = static_cast<const unsigned char*>(src);
  switch (srcType) {
    case itChar:
      if (srcLength < 0) return fail(stateStringLength);
      value->kind = kindDecimal;
      return baseDecimalFromText(bytes, uint32_t(srcLength), &value->decimal);
    case itBit:
      if (bytes[0] > 1) return fail(stateAssignment);
      value->whole = bytes[0];
      return kvSuccess;
    case itSTinyInt:
      value->whole = int8_t(bytes[0]);
      return kvSuccess;
    case itUTinyInt:
      value->whole = bytes[0];
      return kvSuccess;
    case itSShort: {
      int16_t word;
      std::memcpy(&word, bytes, 2);
      value->whole = word;
      return kvSuccess;
    }
    case itUShort: {
      uint16_t word;
      std::memcpy(&word, bytes, 2);
      value->whole = word;
      return kvSuccess;
    }
    case itSLong: {
      int32_t word;
      std::memcpy(&word, bytes, 4);
      value->whole = word;
      return kvSuccess;
    }
    case itULong: {
      uint32_t word;
      std::memcpy(&word, bytes, 4);
      value->whole = word;
      return kvSuccess;
    }
    case itSBigInt:
    case itUBigInt: {
      const uint64_t raw = baseGet64(bytes);
      const bool negative = srcType == itSBigInt && (raw >> 63) != 0;
      value->kind = kindDecimal;
      baseDecimalFromInteger(negative ? ~raw + 1 : raw, negative, &value->decimal);
      return kvSuccess;
    }
    case itPacked:
      if (srcLength < 0) return fail(stateStringLength);
      value->kind = kindDecimal;
      return baseDecimalFromPacked(bytes, uint32_t(srcLength), scale, &value->decimal);
    case itDecimal:
      if (srcLength < 0) return fail(stateStringLength);
      value->kind = kindDecimal;
      return baseDecimalFromDecimalText(bytes, uint32_t(srcLength), &value->decimal);
    case itFloat:
      std::memcpy(&value->single, bytes, 4);
      value->kind = kindReal;
      value->real = value->single;
      value->fromFloat = true;
      return kvSuccess;
    case itDouble:
      std::memcpy(&value->real, bytes, 8);
      value->kind = kindReal;
      return kvSuccess;
    case itDate: {
      DATE_STRUCT date;
      std::memcpy(&date, bytes, sizeof(date));
      if (BaseValidateDate(date.year, date.month, date.day) != kvSuccess) return kvFailure;
      value->whole = BaseDateToJulian(date.year, date.month, date.day);
      return kvSuccess;
    }
    case itTime: {
      TIME_STRUCT time;
      std::memcpy(&time, bytes, sizeof(time));
      if (BaseValidateTime(time.hour, time.minute, time.second) != kvSuccess) return kvFailure;
      value->whole = int64_t(time.hour) * 3600 + time.minute * 60 + time.second;
      return kvSuccess;
    }
    case itTimestamp: {
      TIMESTAMP_STRUCT stamp;
      std::memcpy(&stamp, bytes, sizeof(stamp));
      if (BaseValidateTimestamp(stamp) != kvSuccess) return kvFailure;
      value->whole = BaseDateToJulian(stamp.year, stamp.month, stamp.day);
      const int64_t seconds = int64_t(stamp.hour) * 3600 + stamp.minute * 60 + stamp.second;
      if (seconds != 0 || stamp.fraction != 0) {
        value->kind = kindReal;
        value->real = double(value->whole) + double(seconds) * secondsToDays + double(stamp.fraction) * billionthsToDays;
      }
      return kvSuccess;
    }
    default:
      return fail(stateRestrictedType);
  }
}

}  // namespace

KvStatus BaseConvertNum(InternalType srcType, const void* src, int32_t srcLength, InternalType dstType, void* dst,
                        uint32_t* dstLength, uint32_t dstSize, int16_t scale, uint16_t flags) {
  if (dstType <= itBinary || dstType >= itCount) return fail(stateRestrictedType);
  NumValue value;
  if (decode(srcType, src, srcLength, scale, &value) != kvSuccess) return kvFailure;

  Outcome outcome;
  KvStatus status = kvFailure;
  switch (value.kind) {
    case kindInteger:
      if (dstType == itChar || dstType == itSBigInt || dstType == itUBigInt || dstType == itPacked ||
          dstType == itDecimal) {
        BaseDecimal decimal;
        const bool negative = value.whole < 0;
        baseDecimalFromInteger(negative ? uint64_t(0) - uint64_t(value.whole) : uint64_t(value.whole), negative,
                               &decimal);
        status = storeDecimal(decimal, dstType, dst, dstSize, scale, flags, &outcome);
      } else {
        status = storeInteger(value.whole, dstType, dst, &outcome);
      }
      break;
    case kindReal:
      status = storeReal(value.real, value.fromFloat, value.single, dstType, dst, dstSize, scale, flags, &outcome);
      break;
    case kindDecimal:
      status = storeDecimal(value.decimal, dstType, dst, dstSize, scale, flags, &outcome);
      break;
  }
  if (status != kvSuccess) return kvFailure;
  if (dstLength) *dstLength = outcome.length;
  if (outcome.truncated && (flags & baseNumWarnBits)) addOdbcWarning(stateTruncated);
  return kvSuccess;
}
