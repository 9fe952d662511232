// ODBC escape clauses: the kinds of clause, the scalar functions a function
// escape may name, the outer-join forms a driver can ask for, and the
// contract between the framework's escape pass and a driver.
//
// The pass (BaseConnection::expandEscapeClauses) finds every clause of a
// statement outside quotes, in the brace form "{kw ...}" or the long form
// "--(*vendor(Microsoft),product(ODBC) kw ...*)--", checks it and calls the
// connection's expandNativeEscape once for it:
//
//   before the call  the clause's opener, vendor prefix and keyword have been
//                    replaced by one blank; the replace string's unread rest
//                    starts at the argument (for FN the function name, for
//                    D, T, TS and B a literal without its single quotes) and
//                    the argument is argumentLength bytes long; behind it
//                    the rest of the clause and of the statement follow;
//   the driver       reads the argument (skip, keep, copyEscapeArgument,
//                    processOuterJoinEscape) and writes native text
//                    (addBytes); it never reads or changes anything behind
//                    the clause's closer;
//   after the call   whatever is left of the clause, closer included, is
//                    deleted. A failure leaves its reason in the current
//                    error list (37000 with 6022 or 6006 for a clause the
//                    data source cannot express) and fails the pass.
//
// Literal clauses (D, T, TS, B, L) are not read again; the text written for
// FN, OJ, ESCAPE and CALL is, so that clauses and "?" markers inside
// function arguments, join conditions and call arguments are handled too.
#pragma once

#include "base/base_types.h"

enum EscapeType : int {
  escapeTime = 0,        // {t 'hh:mm:ss'}
  escapeDate = 1,        // {d 'yyyy-mm-dd'}
  escapeTimestamp = 2,   // {ts 'yyyy-mm-dd hh:mm:ss[.f...]'}
  escapeFunction = 3,    // {fn name(arguments)}
  escapeOuterJoin = 4,   // {oj t1 LEFT OUTER JOIN t2 ON condition}
  escapeLike = 5,        // {escape 'c'}
  escapeCall = 6,        // {call procedure(arguments)}
  escapeCallReturn = 7,  // {? = call procedure(arguments)}
  escapeBinary = 8,      // {b 'hex'}
  escapeBit = 9,         // {l value}
};

// The scalar functions, numbered by group: string 1-18, numeric 19-42, date
// and time 43-59, system 60-62, conversion 63. LTRIM is 8 although the
// lookup table lists it after LOCATE.
enum EscapeFunctionType : int {
  fnNone = 0,  // not a function escape
  fnAscii = 1, fnChar, fnConcat, fnDifference, fnInsert, fnLcase, fnLeft, fnLtrim, fnLength, fnLocate,
  fnRepeat, fnReplace, fnRight, fnRtrim, fnSoundex, fnSpace, fnSubstring, fnUcase,
  fnAbs = 19, fnAcos, fnAsin, fnAtan, fnAtan2, fnCeiling, fnCos, fnCot, fnDegrees, fnExp, fnFloor, fnLog,
  fnLog10, fnMod, fnPi, fnPower, fnRadians, fnRand, fnRound, fnSign, fnSin, fnSqrt, fnTan, fnTruncate,
  fnCurdate = 43, fnCurtime, fnDayname, fnDayofmonth, fnDayofweek, fnDayofyear, fnHour, fnMinute, fnMonth,
  fnMonthname, fnNow, fnQuarter, fnSecond, fnTimestampadd, fnTimestampdiff, fnWeek, fnYear,
  fnUser = 60, fnDatabase, fnIfnull,
  fnConvert = 63,
};

// How processOuterJoinEscape writes an outer join.
enum BaseOuterJoinTypes : int {
  outerJoinPlusEachTerm = 0,  // " (+)" after every term of the condition
  outerJoinStarEquals = 1,    // "*=" for every "=" outside parentheses
  outerJoinCommaOuter = 2,    // "t1 , OUTER t2", the condition as it is
  outerJoinPlusOnce = 3,      // " (+)" after the first term only
};

// Flags of copyEscapeArgument.
enum : uint16_t {
  copyOpenBefore = 0x1,        // "(" before the argument
  copyParens = 0x2,            // "(" before and ")" after it
  copyCloseAfter = 0x4,        // ")" after it
  copyEndCheck = 0x8,          // afterwards the rest must be one "(...)" group, which goes
  copyCommaBefore = 0x10,      // "," before it
  copyPunctuationOnly = 0x20,  // write the punctuation but not the argument
  copyKeepSource = 0x40,       // leave the argument in the source (else it is deleted)
};

// The function table, case-blind: the function type of a name, fnNone when
// the name is no ODBC scalar function; and the upper-case name of a type,
// null for a number outside 1-63.
KV_BASE_API EscapeFunctionType escapeFunctionLookup(const unsigned char* name, uint32_t length);
KV_BASE_API const char* escapeFunctionName(int functionType);
