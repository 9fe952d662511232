// The scalar functions of function escapes: the lookup table in its stored
// order (by group, with LTRIM after LOCATE) and the two lookups of
// base_escape.h.
#include "base/statement/base_escape.h"

#include "util/containers/str_functions.h"

#include <cstring>

namespace {

struct EscapeFunction {
  const char* name;
  EscapeFunctionType type;
};

constexpr EscapeFunction escapeFunctions[] = {
    {"ASCII", fnAscii},         {"CHAR", fnChar},
    {"CONCAT", fnConcat},       {"DIFFERENCE", fnDifference},
    {"INSERT", fnInsert},       {"LCASE", fnLcase},
    {"LEFT", fnLeft},           {"LENGTH", fnLength},
    {"LOCATE", fnLocate},       {"LTRIM", fnLtrim},
    {"REPEAT", fnRepeat},       {"REPLACE", fnReplace},
    {"RIGHT", fnRight},         {"RTRIM", fnRtrim},
    {"SOUNDEX", fnSoundex},     {"SPACE", fnSpace},
    {"SUBSTRING", fnSubstring}, {"UCASE", fnUcase},
    {"ABS", fnAbs},             {"ACOS", fnAcos},
    {"ASIN", fnAsin},           {"ATAN", fnAtan},
    {"ATAN2", fnAtan2},         {"CEILING", fnCeiling},
    {"COS", fnCos},             {"COT", fnCot},
    {"DEGREES", fnDegrees},     {"EXP", fnExp},
    {"FLOOR", fnFloor},         {"LOG", fnLog},
    {"LOG10", fnLog10},         {"MOD", fnMod},
    {"PI", fnPi},               {"POWER", fnPower},
    {"RADIANS", fnRadians},     {"RAND", fnRand},
    {"ROUND", fnRound},         {"SIGN", fnSign},
    {"SIN", fnSin},             {"SQRT", fnSqrt},
    {"TAN", fnTan},             {"TRUNCATE", fnTruncate},
    {"CURDATE", fnCurdate},     {"CURTIME", fnCurtime},
    {"DAYNAME", fnDayname},     {"DAYOFMONTH", fnDayofmonth},
    {"DAYOFWEEK", fnDayofweek}, {"DAYOFYEAR", fnDayofyear},
    {"HOUR", fnHour},           {"MINUTE", fnMinute},
    {"MONTH", fnMonth},         {"MONTHNAME", fnMonthname},
    {"NOW", fnNow},             {"QUARTER", fnQuarter},
    {"SECOND", fnSecond},       {"TIMESTAMPADD", fnTimestampadd},
    {"TIMESTAMPDIFF", fnTimestampdiff}, {"WEEK", fnWeek},
    {"YEAR", fnYear},           {"USER", fnUser},
    {"DATABASE", fnDatabase},   {"IFNULL", fnIfnull},
    {"CONVERT", fnConvert},
};
static_assert(sizeof(escapeFunctions) / sizeof(escapeFunctions[0]) == 63, "63 scalar functions");

// Every number from 1 to 63 is named exactly once.
constexpr bool namesEveryNumberOnce() {
  for (int number = 1; number <= 63; ++number) {
    int seen = 0;
    for (const EscapeFunction& f : escapeFunctions) seen += f.type == number;
    if (seen != 1) return false;
  }
  return true;
}
static_assert(namesEveryNumberOnce(), "the function numbers are 1 to 63, each once");

}  // namespace

EscapeFunctionType escapeFunctionLookup(const unsigned char* name, uint32_t length) {
  if (!name) return fnNone;
  for (const EscapeFunction& f : escapeFunctions) {
    if (strEqualCi(kvU(f.name), uint32_t(std::strlen(f.name)), name, length)) return f.type;
  }
  return fnNone;
}

const char* escapeFunctionName(int functionType) {
  for (const EscapeFunction& f : escapeFunctions) {
    if (f.type == functionType) return f.name;
  }
  return nullptr;
}
