// The evaluator's operators: arithmetic, unary minus, NOT, the text and
// byte concatenations, comparisons with their NULL, undecidable and
// outer-join rules, IS NULL, AND and OR, BETWEEN, IN lists and IIF. See
// flat_evaluator.h for the rules.
#include "flat/expr/flat_eval_internal.h"

#include "flat/connection/flat_connection.h"
#include "flat/exec/flat_statement.h"
#include "flat/expr/flat_date_keys.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "util/containers/str_functions.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

namespace flateval {

namespace {

uint32_t withoutTrailingBlanks(const uint8_t* text, uint32_t length) {
  while (length > 0 && text[length - 1] == ' ') --length;
  return length;
}

int sign(double a, double b) { return floatCompare(&a, &b); }

// A comparison's answer for an order of its operands.
bool answers(uint8_t opcode, int order) {
  switch (opcode) {
    case opGreater: return order > 0;
    case opGreaterEqual: return order >= 0;
    case opLess: return order < 0;
    case opLessEqual: return order <= 0;
    case opEqual: return order == 0;
    default: return order != 0;  // opNotEqual
  }
}

}  // namespace

int Machine::compareText(const uint8_t* a, uint32_t aLength, const uint8_t* b, uint32_t bLength) const {
  if (nullAware_) {
    aLength = withoutTrailingBlanks(a, aLength);
    bLength = withoutTrailingBlanks(b, bLength);
  } else if (aLength > bLength) {
    aLength = bLength;  // a text that begins with b equals b
  }
  return intlSort_ ? strCompareIntl(a, aLength, b, bLength) : strCompare(a, aLength, b, bLength);
}

int Machine::compareValues(const Entry& a, const Entry& b, bool* ok) const {
  *ok = true;
  if (isNumeric(a.kind) && isNumeric(b.kind)) return sign(number(a), number(b));
  if (isText(a.kind) && isText(b.kind)) return compareText(bytes(a), a.length, bytes(b), b.length);
  if (a.kind == flatEvalLogical || b.kind == flatEvalLogical) {
    // A logical against a number is the number 1 or 0 (a BIT parameter
    // TRUE in ID = ? matches the ID 1 only, not every nonzero ID).
    auto value = [this](const Entry& e, bool* valid) {
      if (e.kind == flatEvalLogical) return bytes(e)[0] != 0 ? 1.0 : 0.0;
      if (e.kind == flatEvalNumber) return number(e);
      *valid = false;
      return 0.0;
    };
    const double left = value(a, ok), right = value(b, ok);
    return *ok ? sign(left, right) : 0;
  }
  *ok = false;
  return 0;
}

KvStatus Machine::arithmetic(uint8_t opcode) {
  if (need(2) != kvSuccess) return kvFailure;
  KvStatus status = kvSuccess;
  if (propagateMissing(2, &status)) return status;
  const Entry a = at(1), b = at(0);
  if (!isNumeric(a.kind) || !isNumeric(b.kind)) return kindError(opcode);
  const bool aDate = a.kind == flatEvalDate, bDate = b.kind == flatEvalDate;
  const double x = number(a), y = number(b);
  const uint8_t kind = aDate != bDate ? uint8_t(flatEvalDate) : uint8_t(flatEvalNumber);
  if ((aDate && x == flatBlankDate) || (bDate && y == flatBlankDate))
    return aDate && bDate ? replaceDouble(2, flatEvalNumber, 0) : replaceDouble(2, flatEvalDate, flatBlankDate);
  double r = 0;
  switch (opcode) {
    case opMod:
      if (y == 0) return replaceMark(2, flatEvalNull);
      r = std::fmod(x, y);
      break;
    case opPower: r = std::pow(x, y); break;
    case opAdd: r = x + y; break;
    case opSubtract: r = x - y; break;
    case opMultiply: r = x * y; break;
    default:
      if (y == 0) return replaceMark(2, flatEvalNull);
      r = x / y;
      break;
  }
  return replaceDouble(2, kind, r);
}

KvStatus Machine::negate() {
  if (need(1) != kvSuccess) return kvFailure;
  const Entry x = at(0);
  if (hasNoValue(x.kind)) return kvSuccess;
  if (!isNumeric(x.kind)) return kindError(opNegate);
  return replaceDouble(1, flatEvalNumber, -number(x));
}

KvStatus Machine::logicalNot() {
  if (need(1) != kvSuccess) return kvFailure;
  const Entry x = at(0);
  if (hasNoValue(x.kind)) return kvSuccess;
  if (x.kind != flatEvalLogical) return kindError(opNot);
  return replaceLogical(1, !bytes(x)[0]);
}

// 15 appends the right text to the left; 16 first moves the left text's
// trailing blanks behind the right text; 68 joins the bytes of any two
// values. A NULL contributes nothing; the result keeps the left's kind.
KvStatus Machine::concatenate(uint8_t opcode) {
  if (need(2) != kvSuccess) return kvFailure;
  const Entry a = at(1), b = at(0);
  if (a.kind == flatEvalUndecidable || b.kind == flatEvalUndecidable) return replaceMark(2, flatEvalUndecidable);
  if (isNullish(a.kind)) return replaceMark(2, a.kind);
  if (isNullish(b.kind)) return replace(2, a.kind, bytes(a), a.length);
  if (opcode != opBytes && (!isText(a.kind) || !isText(b.kind))) return kindError(opcode);
  const uint32_t total = a.length + b.length;
  if (total > flatMaxTextResult) return evalFailure(msgStringTooLong);
  uint8_t* base = scratch_ + a.offset;
  uint32_t kept = a.length;
  if (opcode == opConcatBlanks) kept = withoutTrailingBlanks(base, a.length);
  // The right value lies behind the left one (and its NUL), so moving it
  // down never overwrites bytes still to be moved.
  std::memmove(base + kept, scratch_ + b.offset, b.length);
  std::memset(base + kept + b.length, ' ', a.length - kept);
  return replace(2, opcode == opBytes ? uint8_t(flatEvalText) : a.kind, base, total);
}

KvStatus Machine::compare(uint8_t opcode) {
  if (need(2) != kvSuccess) return kvFailure;
  const Entry a = at(1), b = at(0);
  const uint8_t pending = pendingOuter_;
  pendingOuter_ = 0;
  if (a.kind == flatEvalUndecidable || b.kind == flatEvalUndecidable) {
    if (pending) matched_ = 0;
    return replaceMark(2, flatEvalUndecidable);
  }
  if (isNullish(a.kind) || isNullish(b.kind)) {
    // A NULL key never matches under an outer-join comparison: the outer
    // row gets the blank row, as with SQL's LEFT OUTER JOIN.
    if (pending) {
      matched_ = 0;
      return replaceLogical(2, 0);
    }
    // Two NULLs behave as equal values; a NULL against a value is FALSE.
    const bool bothNull = isNullish(a.kind) && isNullish(b.kind);
    return replaceLogical(2, bothNull && (opcode == opLike || answers(opcode, 0)));
  }
  int truth = 0;
  if (opcode == opLike) {
    if (!isText(a.kind) || !isText(b.kind)) return kindError(opcode);
    truth = strLike(bytes(a), a.length, bytes(b), b.length, '%', '_', '\\', 1) != 0;
  } else {
    bool ok = true;
    const int order = compareValues(a, b, &ok);
    if (!ok) return kindError(opcode);
    truth = answers(opcode, order);
  }
  if (pending && !truth) matched_ = 0;
  return replaceLogical(2, truth);
}

// "*=" (23) and "=*" (24): when the optional side stands on its blank
// outer-join row, the comparison is skipped and TRUE stands for it;
// otherwise the comparison is made under the prefix.
KvStatus Machine::outerPrefix(uint8_t opcode, const uint8_t** next) {
  if (need(2) != kvSuccess) return kvFailure;
  const Entry& optional = opcode == opOuterLeft ? at(0) : at(1);
  if (optional.kind == flatEvalOuterBlank) {
    *next = getNextOp(*next);
    return replaceLogical(2, 1);
  }
  pendingOuter_ = opcode;
  return kvSuccess;
}

KvStatus Machine::isNull() {
  if (need(1) != kvSuccess) return kvFailure;
  const Entry x = at(0);
  if (x.kind == flatEvalUndecidable) return kvSuccess;
  if (isNullish(x.kind)) return replaceLogical(1, 1);
  if (!isText(x.kind)) return replaceLogical(1, 0);
  uint32_t length = x.length;
  if (statement_ && (statement_->getFlatConnection()->getEngineFlags() & flatBlankIsNull))
    length = withoutTrailingBlanks(bytes(x), length);
  return replaceLogical(1, length == 0);
}

KvStatus Machine::andOr(uint8_t opcode) {
  if (need(2) != kvSuccess) return kvFailure;
  const Entry a = at(1), b = at(0);
  for (const Entry* e : {&a, &b})
    if (!hasNoValue(e->kind) && e->kind != flatEvalLogical) return kindError(opcode);
  // The deciding value: FALSE for AND, TRUE for OR.
  const bool decides = opcode == opOr;
  auto is = [this](const Entry& e, bool value) { return e.kind == flatEvalLogical && (bytes(e)[0] != 0) == value; };
  if (is(a, decides) || is(b, decides)) return replaceLogical(2, decides);
  if (a.kind == flatEvalUndecidable || b.kind == flatEvalUndecidable) return replaceMark(2, flatEvalUndecidable);
  if (isNullish(a.kind) || isNullish(b.kind)) return replaceMark(2, flatEvalNull);
  return replaceLogical(2, !decides);
}

KvStatus Machine::between() {
  if (need(3) != kvSuccess) return kvFailure;
  const Entry value = at(2), low = at(1), high = at(0);
  if (value.kind == flatEvalUndecidable || low.kind == flatEvalUndecidable || high.kind == flatEvalUndecidable)
    return replaceMark(3, flatEvalUndecidable);
  if (isNullish(value.kind) || isNullish(low.kind) || isNullish(high.kind)) return replaceLogical(3, 0);
  bool ok = true;
  const bool belowLow = compareValues(value, low, &ok) < 0;
  const bool aboveHigh = ok && compareValues(value, high, &ok) > 0;
  if (!ok) return kindError(opBetween);
  return replaceLogical(3, !belowLow && !aboveHigh);
}

// IN: the tested value stands count values below the top; each list value
// is compared with it as the left operand.
KvStatus Machine::inList(uint16_t count) {
  if (count >= depth_) return evalFailure(msgExpressionLimit);
  const Entry tested = at(count);
  const uint16_t all = uint16_t(count + 1);
  if (tested.kind == flatEvalUndecidable) return replaceMark(all, flatEvalUndecidable);
  if (isNullish(tested.kind)) return replaceLogical(all, 0);
  bool undecided = false;
  for (uint16_t i = count; i-- > 0;) {
    const Entry& item = at(i);
    if (item.kind == flatEvalUndecidable) {
      undecided = true;
      continue;
    }
    if (isNullish(item.kind)) continue;
    bool ok = true;
    if (compareValues(item, tested, &ok) == 0 && ok) return replaceLogical(all, 1);
    if (!ok) return kindError(opIn);
  }
  return undecided ? replaceMark(all, flatEvalUndecidable) : replaceLogical(all, 0);
}

KvStatus Machine::iif() {
  if (need(3) != kvSuccess) return kvFailure;
  const Entry condition = at(2);
  if (hasNoValue(condition.kind))
    return replaceMark(3, condition.kind == flatEvalUndecidable ? flatEvalUndecidable : flatEvalNull);
  if (condition.kind != flatEvalLogical) return kindError(opIif);
  const Entry chosen = bytes(condition)[0] ? at(1) : at(0);
  if (hasNoValue(chosen.kind)) return replaceMark(3, chosen.kind);
  return replace(3, chosen.kind, bytes(chosen), chosen.length);
}

}  // namespace flateval
