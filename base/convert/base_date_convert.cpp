// BaseConvertDateTime; see base_date_convert.h.
#include "base/convert/base_date_convert.h"

#include "base/convert/base_date.h"
#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "base/convert/base_num_convert.h"
#include "util/os/bos.h"
#include "util/charsets/charset.h"

#include <cstdio>
#include <cstring>

namespace {

KvStatus fail(uint16_t state) {
  addOdbcError(state);
  return kvFailure;
}

bool isDateForm(InternalType type) { return type == itDate || type == itTime || type == itTimestamp; }

// Every source, read into a timestamp; which parts it gave is kept.
struct Moment {
  TIMESTAMP_STRUCT stamp;
  bool hasDate = false;
  bool hasTime = false;
};

void today(TIMESTAMP_STRUCT* stamp) {
  os_time now;
  bosLocalDate(&now);
  stamp->year = SQLSMALLINT(now.year);
  stamp->month = now.month;
  stamp->day = now.day;
}

KvStatus readText(const unsigned char* text, int32_t length, InternalType dstType, Moment* moment) {
  if (length < 0) return fail(stateStringLength);
  const unsigned char* end = text + length;
  while (text < end && kvCharIsSpace(*text)) ++text;
  while (end > text && kvCharIsSpace(end[-1])) --end;
  const uint32_t chars = uint32_t(end - text);
  TIMESTAMP_STRUCT& stamp = moment->stamp;
  if (chars == 10 && dstType != itTime) {
    DATE_STRUCT date;
    if (BaseStrToDate(text, chars, &date) != kvSuccess) return kvFailure;
    stamp.year = date.year;
    stamp.month = date.month;
    stamp.day = date.day;
    moment->hasDate = true;
    return kvSuccess;
  }
  if (chars == 8 && dstType != itDate) {
    TIME_STRUCT time;
    if (BaseStrToTime(text, chars, &time) != kvSuccess) return kvFailure;
    stamp.hour = time.hour;
    stamp.minute = time.minute;
    stamp.second = time.second;
    moment->hasTime = true;
    return kvSuccess;
  }
  if (BaseStrToTimestamp(text, int32_t(chars), &stamp) != kvSuccess) return kvFailure;
  moment->hasDate = moment->hasTime = true;
  return kvSuccess;
}

KvStatus readSource(InternalType srcType, const void* src, int32_t srcLength, InternalType dstType, Moment* moment) {
  std::memset(&moment->stamp, 0, sizeof(moment->stamp));
  switch (srcType) {
    case itChar:
      return readText(static_cast<const unsigned char*>(src), srcLength, dstType, moment);
    case itDate: {
      DATE_STRUCT date;
      std::memcpy(&date, src, sizeof(date));
      if (BaseValidateDate(date.year, date.month, date.day) != kvSuccess) return kvFailure;
      moment->stamp.year = date.year;
      moment->stamp.month = date.month;
      moment->stamp.day = date.day;
      moment->hasDate = true;
      return kvSuccess;
    }
    case itTime: {
      TIME_STRUCT time;
      std::memcpy(&time, src, sizeof(time));
      if (BaseValidateTime(time.hour, time.minute, time.second) != kvSuccess) return kvFailure;
      moment->stamp.hour = time.hour;
      moment->stamp.minute = time.minute;
      moment->stamp.second = time.second;
      moment->hasTime = true;
      return kvSuccess;
    }
    case itTimestamp:
      std::memcpy(&moment->stamp, src, sizeof(moment->stamp));
      if (BaseValidateTimestamp(moment->stamp) != kvSuccess) return kvFailure;
      moment->hasDate = moment->hasTime = true;
      return kvSuccess;
    default:
      return fail(stateRestrictedType);
  }
}

// The text of a moment as the source type shows it; its length, or 0 when
// the room is below the form's minimum (22003 posted).
KvStatus writeText(InternalType srcType, const TIMESTAMP_STRUCT& stamp, unsigned char* dst, uint32_t room,
                   int16_t scale, uint32_t* length, bool* truncated) {
  char text[64];
  uint32_t minimum;
  uint32_t full;
  switch (srcType) {
    case itDate:
      minimum = full = 10;
      std::snprintf(text, sizeof(text), "%.4i-%.2i-%.2i", int(stamp.year), int(stamp.month), int(stamp.day));
      break;
    case itTime:
      minimum = full = 8;
      std::snprintf(text, sizeof(text), "%.2i:%.2i:%.2i", int(stamp.hour), int(stamp.minute), int(stamp.second));
      break;
    default: {
      minimum = 19;
      const int digits = scale > 9 ? 9 : scale;
      full = digits > 0 ? 20 + uint32_t(digits) : 19;
      const int minute = scale <= -4 ? 0 : stamp.minute;
      const int second = scale < -1 ? 0 : stamp.second;
      std::snprintf(text, sizeof(text), "%.4i-%.2i-%.2i %.2i:%.2i:%.2i.%.9u", int(stamp.year), int(stamp.month),
                    int(stamp.day), int(stamp.hour), minute, second, unsigned(stamp.fraction));
      break;
    }
  }
  if (room < minimum) return fail(stateNumericRange);
  uint32_t copy = full;
  if (room < full) {
    copy = room;
    *truncated = true;
  }
  std::memcpy(dst, text, copy);
  *length = full;
  return kvSuccess;
}

}  // namespace

KvStatus BaseConvertDateTime(InternalType srcType, const void* src, int32_t srcLength, InternalType dstType,
                             void* dst, uint32_t* dstLength, uint32_t dstSize, int16_t scale, uint16_t flags) {
  const bool srcIsText = srcType == itChar;
  const bool dstIsText = dstType == itChar;
  if (!(srcIsText || isDateForm(srcType)) || !(dstIsText || isDateForm(dstType))) {
    const bool numberInvolved = (srcType > itBinary && srcType < itCount && !srcIsText && !isDateForm(srcType)) ||
                                (dstType > itBinary && dstType < itCount && !dstIsText && !isDateForm(dstType));
    if (numberInvolved) return BaseConvertNum(srcType, src, srcLength, dstType, dst, dstLength, dstSize, scale, flags);
    return fail(stateRestrictedType);
  }
  if (srcIsText && dstIsText) return fail(stateRestrictedType);

  Moment moment;
  if (readSource(srcType, src, srcLength, dstType, &moment) != kvSuccess) return kvFailure;
  TIMESTAMP_STRUCT& stamp = moment.stamp;
  bool truncated = false;
  uint32_t length = 0;

  switch (dstType) {
    case itChar:
      if (writeText(srcType, stamp, static_cast<unsigned char*>(dst), dstSize, scale, &length, &truncated) !=
          kvSuccess) {
        return kvFailure;
      }
      if (truncated && flags) length = dstSize;
      break;
    case itDate: {
      if (!moment.hasDate) return fail(stateRestrictedType);
      if (moment.hasTime) truncated = true;
      DATE_STRUCT date;
      date.year = stamp.year;
      date.month = stamp.month;
      date.day = stamp.day;
      std::memcpy(dst, &date, sizeof(date));
      length = sizeof(date);
      break;
    }
    case itTime: {
      if (!moment.hasTime) return fail(stateRestrictedType);
      if (moment.hasDate) truncated = true;
      TIME_STRUCT time;
      time.hour = stamp.hour;
      time.minute = stamp.minute;
      time.second = stamp.second;
      std::memcpy(dst, &time, sizeof(time));
      length = sizeof(time);
      break;
    }
    default:
      if (!moment.hasDate) today(&stamp);
      std::memcpy(dst, &stamp, sizeof(stamp));
      length = sizeof(stamp);
      break;
  }
  if (dstLength) *dstLength = length;
  if (truncated && flags) addOdbcWarning(stateTruncated);
  return kvSuccess;
}
